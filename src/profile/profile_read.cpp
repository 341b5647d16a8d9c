// Reading profiles: GetPrivateProfileString finds one key of a section or
// lists a section's keys, GetPrivateProfileInt reads a decimal or 0x
// hexadecimal number, and the "QOR.INI" forms. Reads never fail: a missing
// file or key yields the default.
#include "profile/profile_impl.h"

#include <kxfpx/strings.h>

#include <cstdlib>
#include <cstring>
#include <new>

namespace kxfpx::profile {
namespace {

// GetPrivateProfileInt reads the value into a buffer of this size; a longer
// value is taken from its first 32 characters.
constexpr int32_t kIntTextSize = 32;
constexpr int kHexBase = 16;
constexpr int kDecimalBase = 10;

// Zeroes the caller's buffer and copies the first min(length, size)
// characters of `text`. The count is the length, or the size when the text
// is as long as the buffer or longer (it then has no terminator). A null
// buffer receives nothing but the count is the same.
int32_t store_text(char *buffer, int32_t size, const char *text, std::size_t length)
{
    const std::size_t room = size > 0 ? static_cast<std::size_t>(size) : 0;
    if (buffer && room > 0) {
        std::memset(buffer, 0, room);
        std::memcpy(buffer, text, length < room ? length : room);
    }
    return length < room ? static_cast<int32_t>(length) : static_cast<int32_t>(room);
}

// The key list of an enumeration: each key followed by a NUL, the list
// ended by a further NUL; the count is the sum of the key lengths.
class KeyList {
public:
    KeyList(char *buffer, int32_t size)
        : buffer_(buffer), size_(size > 0 ? static_cast<std::size_t>(size) : 0)
    {
    }

    // Appends a key; false once the buffer is full (the key was cut).
    bool add(const char *key, std::size_t length, int32_t &count)
    {
        if (!started_) {
            // The first key replaces the default that the buffer held.
            started_ = true;
            count = 0;
            if (buffer_)
                std::memset(buffer_, 0, size_);
        }
        if (used_ + 1 + length < size_) {
            if (buffer_)
                std::memcpy(buffer_ + used_, key, length);   // NULs are there already
            used_ += length + 1;
            count += static_cast<int32_t>(length);
            return true;
        }
        // The first key that does not fit: as much of it as there is room
        // for, then the last two bytes of the buffer made NUL.
        if (buffer_ && size_ > 0) {
            const std::size_t room = size_ - used_;
            std::memcpy(buffer_ + used_, key, length < room ? length : room);
            buffer_[size_ - 1] = '\0';
            if (size_ >= 2)
                buffer_[size_ - 2] = '\0';
        }
        count = size_ > 0 ? static_cast<int32_t>(size_ - 1) : 0;
        return false;
    }

private:
    char *buffer_;
    std::size_t size_;
    std::size_t used_ = 0;
    bool started_ = false;
};

// Scans the profile for `section`; with a key returns its value, without
// one lists the keys. `count` enters holding the default's count.
int32_t scan_profile(QorFile file, const char *section, const char *key, char *buffer,
                     int32_t size, int32_t count)
{
    const std::string wanted = cleaned(section, kCleanHeader);
    KeyList list(buffer, size);
    bool in_section = false;
    RawLine line;
    while (read_line(file, line)) {
        if (!in_section) {
            // Any line whose cleaned text is the section's name starts the
            // section, with or without brackets; comments never do.
            const std::string name = cleaned(line.text, kCleanHeader);
            in_section = !name.empty() && stricmp(name.c_str(), wanted.c_str()) == 0;
            continue;
        }
        if (starts_header(line.text)) {
            // The next header ends the section and is not itself examined;
            // later sections of the same name are still looked for.
            in_section = false;
            continue;
        }
        std::string text = cleaned(line.text, kCleanKeyLine);
        if (text.empty())
            continue;
        // The key is everything before the first equals sign, untrimmed. A
        // line without one is a key with an empty value.
        char *entry = text.data();
        char *value = std::strchr(entry, kAssign);
        if (value)
            *value++ = '\0';
        else
            value = entry + text.size();
        if (key) {
            if (stricmp(entry, key) != 0)
                continue;
            TrimIniChar(value, kQuote);
            return store_text(buffer, size, value, std::strlen(value));
        }
        if (!list.add(entry, std::strlen(entry), count))
            break;   // the buffer is full: nothing more can be listed
    }
    return count;
}

} // namespace
} // namespace kxfpx::profile

using namespace kxfpx::profile;

extern "C" {

KX_API int32_t GetPrivateProfileString(const char *section, const char *key,
                                       const char *defaultValue, char *buffer, int32_t size,
                                       const char *fileName)
{
    if (!section || !*section || !defaultValue)
        return 0;
    // A default longer than the buffer is cut like a value.
    const int32_t count = store_text(buffer, size, defaultValue, std::strlen(defaultValue));
    try {
        std::string opened;
        IniFile file(open_ini(fileName, kOpenRead, opened));
        if (!file)
            return count;
        return scan_profile(file.get(), section, key, buffer, size, count);
    } catch (const std::bad_alloc &) {
        // Out of memory for a line: the default (or what was found so far).
        return count;
    }
}

KX_API int32_t GetPrivateProfileInt(const char *section, const char *key, int32_t defaultValue,
                                    const char *fileName)
{
    // Without a key there is no number to read (a key list is not one).
    if (!key)
        return defaultValue;
    // A value of 32 characters or longer is read from its first 32, by the
    // same rules as a shorter one (a choice made here); the byte beyond the
    // 32 read keeps the text terminated.
    char text[kIntTextSize + 1] = {};
    if (GetPrivateProfileString(section, key, "", text, kIntTextSize, fileName) == 0)
        return defaultValue;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        // Hexadecimal digits up to the first other character, as an unsigned
        // 32-bit number: beyond eight digits the last eight count.
        uint32_t number = 0;
        for (const char *p = text + 2; *p; ++p) {
            int digit;
            if (*p >= '0' && *p <= '9')
                digit = *p - '0';
            else if (*p >= 'a' && *p <= 'f')
                digit = *p - 'a' + 10;
            else if (*p >= 'A' && *p <= 'F')
                digit = *p - 'A' + 10;
            else
                break;
            number = number * kHexBase + static_cast<uint32_t>(digit);
        }
        return static_cast<int32_t>(number);
    }
    // Leading decimal digits converted with strtol, of whose result the low
    // 32 bits are returned (4294967296 gives 0, 2147483648 gives INT32_MIN;
    // a number beyond strtol's range gives LONG_MAX's low bits). A sign or a
    // space first gives 0.
    if (text[0] < '0' || text[0] > '9')
        return 0;
    const long number = std::strtol(text, nullptr, kDecimalBase);
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long>(number)));
}

KX_API int32_t GetProfileString(const char *section, const char *key, const char *defaultValue,
                                char *buffer, int32_t size)
{
    return GetPrivateProfileString(section, key, defaultValue, buffer, size, kDefaultProfile);
}

KX_API int32_t GetProfileInt(const char *section, const char *key, int32_t defaultValue)
{
    return GetPrivateProfileInt(section, key, defaultValue, kDefaultProfile);
}

} // extern "C"
