// Temporary file names: the host's file hook (global option 67 of the
// option library) is asked first; then the host's temporary directory
// (option 0x52A37 of its option set, read into a native memory block) is
// where the file is made; /tmp whenever the host's options are missing or fail.
#include <kxfpx/qorfile.h>
#include <kxfpx/sharedlib.h>

#include "port/family_libs.h"
#include "port/field_copy.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uint32_t kFileHookMode = 0;                     // the hook's mode argument
constexpr int32_t kTempDirOption = YT_OPTION_TEMP_DIR;    // 0x52A37
constexpr uint32_t kTempDirBlockSize = 264;
constexpr size_t kTempDirTextOffset = YT_TEMP_DIR_TEXT_OFFSET;  // 8
constexpr const char kFallbackTempDir[] = "/tmp";
// The callers' name buffers are the family's path size (260 bytes): the
// call has no size argument, so a name must fit in that many bytes.
constexpr size_t kNameBufferSize = KX_PATH_SIZE;

static_assert(kTempDirTextOffset < kTempDirBlockSize, "the directory text lies inside the block");

constexpr const char kNamePrefix[] = "file";       // the prefix tempnam gives without one
constexpr const char kUniqueSuffix[] = "XXXXXX";   // replaced by mkstemp
constexpr const char kTmpDirVariable[] = "TMPDIR";

using HeapName = std::unique_ptr<char[]>;

bool is_directory(const char *path)
{
    struct stat status;
    return path && *path && ::stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

// The directory tempnam would choose: $TMPDIR when it names a directory,
// else `dir` when it does, else /tmp; trailing slashes dropped.
std::string choose_directory(const char *dir)
{
    const char *tmpdir = std::getenv(kTmpDirVariable);
    std::string chosen = is_directory(tmpdir) ? tmpdir : is_directory(dir) ? dir : kFallbackTempDir;
    while (chosen.size() > 1 && chosen.back() == '/')
        chosen.pop_back();
    return chosen;
}

// A new file in the directory tempnam would choose for `dir`, and its name.
// The file is created here, exclusively and readable and writable by its
// owner only (mkstemp): handing out a bare name, as tempnam does, would let
// another local user create that name, or a link by it, before the caller
// opens it. Callers get what they relied on, a fresh name in that directory,
// and open a file that is already theirs. Null when none can be made.
HeapName temp_name_in(const char *dir)
{
    const std::string path = choose_directory(dir) + "/" + kNamePrefix + kUniqueSuffix;
    HeapName name(new (std::nothrow) char[path.size() + 1]);
    if (!name)
        return nullptr;
    std::memcpy(name.get(), path.c_str(), path.size() + 1);
    const int fd = ::mkstemp(name.get());
    if (fd < 0)
        return nullptr;
    ::close(fd);
    return name;
}

// Step 2. Returns false when the host's hook answered 0, which means "no
// temporary name". The hook is called as a file hook with mode 0: a zero
// answer follows that protocol and hands over a stream object in `object`;
// it is closed here, since nothing else would ever release it.
bool host_hook_allows(char *buffer)
{
    const HostFileHook hook = kxfpx::port::host_file_hook();
    if (!hook)
        return true;
    QorHostStream *object = nullptr;  // the zeroed 8-byte word
    if (hook(&object, buffer, kFileHookMode) != 0)
        return true;
    if (object && object->close)
        object->close(object);
    return false;
}

// Native memory block, unlocked and freed when the scope ends.
class LockedNativeBlock {
public:
    explicit LockedNativeBlock(uint32_t size) : handle_(NativeBlockAlloc(size))
    {
        if (handle_)
            data_ = static_cast<char *>(NativeBlockLock(handle_));
    }
    ~LockedNativeBlock()
    {
        if (data_)
            NativeBlockUnlock(handle_);
        if (handle_)
            NativeBlockFree(handle_);
    }
    LockedNativeBlock(const LockedNativeBlock &) = delete;
    LockedNativeBlock &operator=(const LockedNativeBlock &) = delete;

    char *data() const { return data_; }

private:
    void *handle_;
    char *data_ = nullptr;
};

// Steps 3 to 5. Sets `used` when the host's directory was read; the name is
// then the one made there (possibly none), with no fall-back to /tmp.
HeapName temp_name_from_host_dir(bool &used)
{
    used = false;
    void *set = HostGetGlobalOptionSet();
    if (!set)
        return nullptr;
    LockedNativeBlock block(kTempDirBlockSize);
    if (!block.data())
        return nullptr;
    // Zeroed first, so that a value shorter than 9 bytes reads as an empty
    // directory ($TMPDIR or /tmp is then used), and terminated at its last
    // byte, so that a value filling the block cannot run past it.
    std::memset(block.data(), 0, kTempDirBlockSize);
    uint32_t size = kTempDirBlockSize;
    if (HostGetOption(set, kTempDirOption, block.data(), &size) != 0)
        return nullptr;
    block.data()[kTempDirBlockSize - 1] = '\0';
    used = true;
    return temp_name_in(block.data() + kTempDirTextOffset);
}

} // namespace

extern "C" {

KX_API int32_t QORGetTempFileName(uint64_t, uint64_t, uint64_t, char *buffer)
{
    if (!buffer)
        return 0;
    buffer[0] = '\0';
    if (!host_hook_allows(buffer)) {
        buffer[0] = '\0';
        return 0;
    }

    bool used_host_dir = false;
    HeapName name = temp_name_from_host_dir(used_host_dir);
    if (!used_host_dir)
        name = temp_name_in(kFallbackTempDir);

    // No name, or one too long for the caller's 260-byte buffer (a cut name
    // would be a different file): 0, with the buffer left empty and the file
    // made for it removed.
    if (!name || !kxfpx::port::copy_whole(buffer, kNameBufferSize, name.get())) {
        if (name)
            ::unlink(name.get());
        buffer[0] = '\0';
        return 0;
    }
    return 1;
}

} // extern "C"
