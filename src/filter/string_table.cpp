// The string table and LoadString, the small stand-in for string resources:
// the profile keys and values the filter uses, found by 16-bit identifier.
// Identifiers missing from the table read as "Not Defined".
#include <kxfpx/filter.h>

#include <cstring>

namespace {

struct StringRow {
    int64_t id;          // a 16-bit identifier in a 64-bit slot
    const char *text;
};

const StringRow gStringTable[] = {
    {0, "~Defaults"},
    {1, "~Mode"},
    {2, "~Header"},
    {3, "~Default Mode"},
    {4, "Driver"},
    {5, "ColorTableSource"},
    {6, "DefaultFileSpec"},
    {7, "Font"},
    {8, "Color"},
    {9, "FILE"},
    {10, "PROFILE"},
    {0xFFFF, "Not Defined"},
};
constexpr size_t kStringRows = sizeof gStringTable / sizeof gStringTable[0];
static_assert(kStringRows == 12, "the string table has twelve rows");

const char *const kNotDefined = gStringTable[kStringRows - 1].text;

// Copies the text with its terminator when it is shorter than `maximum`,
// else its first `maximum` bytes, without a terminator. A null buffer or a
// maximum below 1 receives nothing.
void copy_resource(char *buffer, int32_t maximum, const char *text, size_t length)
{
    if (!buffer || maximum <= 0)
        return;
    const size_t room = static_cast<size_t>(maximum);
    if (length < room)
        std::memcpy(buffer, text, length + 1);
    else
        std::memcpy(buffer, text, room);
}

} // namespace

extern "C" {

KX_API int16_t LoadString(uint64_t module, int16_t id, char *buffer, int32_t maximum)
{
    (void)module;
    for (const StringRow &row : gStringTable) {
        // Compared as signed 16-bit values: 0xFFFF and -1 are the same row.
        if (static_cast<int16_t>(row.id) == id) {
            const size_t length = std::strlen(row.text);
            copy_resource(buffer, maximum, row.text, length);
            return static_cast<int16_t>(length);
        }
    }
    copy_resource(buffer, maximum, kNotDefined, std::strlen(kNotDefined));
    return 0;
}

} // extern "C"
