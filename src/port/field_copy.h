// Copies into the fixed-size character fields of the host-facing records.
// Callers are expected to respect the field sizes; a longer text is cut so
// that it always ends inside its field and never spills into the next one.
#pragma once

#include <cstddef>
#include <cstring>

namespace kxfpx {

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

template <std::size_t N> inline void copy_field(char (&field)[N], const char *text)
{
    copy_text(field, N, text);
}

} // namespace kxfpx
