// Temporary file names: the host's file hook (global option 67 of the
// option library) is asked first; then the host's temporary directory
// (option 0x52A37 of its option set, read into a native memory block) is
// given to tempnam; /tmp whenever the host's options are missing or fail.
#include <kxfpx/qorfile.h>
#include <kxfpx/sharedlib.h>

#include "port/family_libs.h"
#include "port/field_copy.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

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

struct FreeDeleter {
    void operator()(char *p) const { std::free(p); }
};
using HeapName = std::unique_ptr<char, FreeDeleter>;

// tempnam in `dir` with no prefix (tempnam itself prefers $TMPDIR when that
// names a directory, and uses "/tmp" when `dir` does not exist).
HeapName temp_name_in(const char *dir)
{
    return HeapName(tempnam(dir, nullptr));
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
    // directory (tempnam then picks its own), and terminated at its last
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
    // would be a different file): 0, with the buffer left empty.
    if (!name || !kxfpx::port::copy_whole(buffer, kNameBufferSize, name.get())) {
        buffer[0] = '\0';
        return 0;
    }
    return 1;
}

} // extern "C"
