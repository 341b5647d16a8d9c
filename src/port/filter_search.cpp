// Finding a library file of the family: first beside this library (its own
// path comes from dladdr), then in each directory of the search list built
// from LD_LIBRARY_PATH, PATH and the current directory, in that order.
#include <kxfpx/sharedlib.h>

#include "port/field_copy.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr const char kLibraryPathVar[] = "LD_LIBRARY_PATH";
constexpr const char kProgramPathVar[] = "PATH";
constexpr const char kDefaultLibraryPath[] = "/usr/lib";  // LD_LIBRARY_PATH unset
constexpr const char kDefaultProgramPath[] = "/bin";      // PATH unset
constexpr const char kSearchListFormat[] = "%s:%s:.";
constexpr char kListSeparator = ':';
constexpr size_t kOwnPathMax = 1024;  // characters of this library's path that are used
constexpr const char kCurrentDirPrefix[] = "./";
constexpr size_t kCurrentDirPrefixLength = 2;

// The search list as TokenizePath hands it out: "%s:%s:." with every colon
// replaced by a NUL, in a block of exactly the formatted length plus its
// NUL. `size` (that block length) tells a walker where the last token ends.
struct SearchList {
    char *text = nullptr;
    size_t size = 0;
};

SearchList make_search_list()
{
    const char *libraries = std::getenv(kLibraryPathVar);
    const char *programs = std::getenv(kProgramPathVar);
    if (!libraries)
        libraries = kDefaultLibraryPath;
    if (!programs)
        programs = kDefaultProgramPath;

    // Two colons, the "." and the NUL; environment strings are far from
    // SIZE_MAX, so the sum cannot wrap.
    const size_t size = std::strlen(libraries) + std::strlen(programs) + 4;
    auto *text = static_cast<char *>(std::malloc(size));
    if (!text)
        return {};
    std::snprintf(text, size, kSearchListFormat, libraries, programs);
    std::replace(text, text + size, kListSeparator, '\0');
    return {text, size};
}

// Copies a found path into the caller's buffer of `size` bytes, cut so that
// it always ends with a NUL inside the buffer (the "./" step reads it as a
// string). Callers of the family give 260 bytes, room for any path they
// load.
void copy_back(char *buffer, int16_t size, const std::string &path)
{
    if (size > 0)
        kxfpx::port::copy_text(buffer, static_cast<size_t>(size), path.c_str());
}

bool can_open(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

// A code address inside this library, for dladdr. A hidden function cannot
// be interposed by a same-named symbol of the host, so dladdr always names
// the object that holds this code.
__attribute__((noinline)) void own_code_anchor() {}

// Step 1: the name beside this library, or, when dladdr cannot say where
// this library is, the name as it stands (relative to the current
// directory). Copies the path into the buffer when found beside.
bool found_beside_or_plain(char *name, int16_t size)
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&own_code_anchor), &info) == 0 || !info.dli_fname)
        return can_open(name);

    std::string path(info.dli_fname, strnlen(info.dli_fname, kOwnPathMax));
    const size_t slash = path.rfind('/');
    path.erase(slash == std::string::npos ? 0 : slash + 1);  // keep the directory and its '/'
    path += name;
    if (!can_open(path))
        return false;
    copy_back(name, size, path);
    return true;
}

// Step 2: a relative result gets "./" in front when the buffer has room for
// the two characters and the NUL; the dynamic loader then takes it as a
// path instead of searching for it.
void prefix_current_dir(char *buffer, int16_t size)
{
    if (size <= 0 || buffer[0] == '/')
        return;
    const size_t capacity = static_cast<size_t>(size);
    const size_t length = strnlen(buffer, capacity);
    if (length == capacity || length + kCurrentDirPrefixLength + 1 > capacity)
        return;
    std::memmove(buffer + kCurrentDirPrefixLength, buffer, length + 1);
    std::memcpy(buffer, kCurrentDirPrefix, kCurrentDirPrefixLength);
}

// Step 3: each directory of the search list, in order. An empty entry
// (as in "a::b" or an empty PATH) is skipped: "%s/%s" would turn it into
// the root directory, which nobody means by an empty entry, and the current
// directory is tried at the end of the list anyway.
bool found_on_search_list(char *name, int16_t size)
{
    const SearchList list = make_search_list();
    if (!list.text)
        return false;
    bool found = false;
    const char *end = list.text + list.size;
    for (char *dir = list.text; dir < end; dir = NextPathToken(dir)) {
        if (*dir == '\0')
            continue;
        std::string path = dir;
        path += '/';
        path += name;
        if (can_open(path)) {
            copy_back(name, size, path);
            found = true;
            break;
        }
    }
    FreePathMem(list.text);
    return found;
}

} // namespace

extern "C" {

KX_API char *TokenizePath(void)
{
    return make_search_list().text;
}

KX_API void FreePathMem(char *list)
{
    std::free(list);
}

KX_API char *NextPathToken(char *text)
{
    return text ? text + std::strlen(text) + 1 : nullptr;
}

KX_API int32_t FindFilter(char *name, int16_t size)
{
    // A name that has no NUL inside its own buffer is refused rather than
    // read past the buffer's end.
    if (!name || (size > 0 && strnlen(name, static_cast<size_t>(size)) == static_cast<size_t>(size)))
        return 0;
    if (found_beside_or_plain(name, size)) {
        prefix_current_dir(name, size);
        return 1;
    }
    return found_on_search_list(name, size) ? 1 : 0;
}

} // extern "C"
