// Copies into the fixed-size character fields of the host-facing records
// and the family's name buffers. copy_text cuts a longer text so that it
// always ends inside its field and never spills into the next one;
// copy_whole refuses it, for names that a cut would turn into other names.
#pragma once

#include <cstddef>
#include <cstring>

namespace kxfpx::port {

// Copies `text` (null counts as empty) into `field`, cut to the field's size
// minus its terminator.
inline void copy_text(char *field, std::size_t size, const char *text)
{
    if (size == 0)
        return;
    const std::size_t length = text ? ::strnlen(text, size - 1) : 0;
    std::memmove(field, text ? text : "", length);
    field[length] = '\0';
}

// Copies `text` with its terminator when it fits `size` bytes; false, and
// the field left as it was, when it does not.
inline bool copy_whole(char *field, std::size_t size, const char *text)
{
    const std::size_t length = ::strnlen(text, size);
    if (length >= size)
        return false;
    std::memcpy(field, text, length + 1);
    return true;
}

template <std::size_t N> inline void copy_field(char (&field)[N], const char *text)
{
    copy_text(field, N, text);
}

} // namespace kxfpx::port
