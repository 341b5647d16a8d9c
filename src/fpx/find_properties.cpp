// FindProperties: where the values of wanted properties lie in the first
// section of a property-set stream, by walking the section's list of
// (identifier, offset) pairs; and the typed value reads built on it.
#include "fpx/property_values.h"
#include "fpx/subimage.h"

#include <climits>
#include <cstdio>

namespace kxfpx::fpx {

namespace {
// Offset of the first section's offset in a property-set stream: the
// 28-byte header and the section's format identifier come before it.
constexpr uint32_t kFirstSectionOffsetPos = 44;
// Within a section: its size, then the property count.
constexpr uint32_t kSectionCountPos = 4;
// A property's offset points at its type word; the value follows it.
constexpr uint32_t kTypeWordSize = 4;
constexpr int32_t kPairWords = 2;
} // namespace

bool seek_to(QorFile stream, uint32_t position)
{
    if (position > static_cast<uint32_t>(INT32_MAX))
        return false;
    return qorSeek(stream, static_cast<int32_t>(position), SEEK_SET) >= 0;
}

bool read_long_at(QorFile stream, uint32_t position, int32_t &value)
{
    int32_t v;
    if (!seek_to(stream, position) || qorReadLong(stream, &v, 1) != 1)
        return false;
    value = v;
    return true;
}

bool read_short_at(QorFile stream, uint32_t position, int16_t &value)
{
    int16_t v;
    if (!seek_to(stream, position) || qorReadShort(stream, &v, 1) != 1)
        return false;
    value = v;
    return true;
}

bool read_float_at(QorFile stream, uint32_t position, float &value)
{
    float v;
    if (!seek_to(stream, position) || qorReadFloat(stream, &v, 1) != 1)
        return false;
    value = v;
    return true;
}

void FindProperties(QorFile stream, int32_t count, const uint32_t ids[], uint32_t positions[])
{
    for (int32_t k = 0; k < count; ++k)
        positions[k] = 0;
    int32_t section = 0, properties = 0;
    if (!read_long_at(stream, kFirstSectionOffsetPos, section) ||
        !read_long_at(stream, static_cast<uint32_t>(section) + kSectionCountPos, properties))
        return;
    // The pairs follow the count. A pair that cannot be read whole ends the
    // list: the stream holds no more, and a hostile count cannot make the
    // walk go on past the stream's end.
    for (int32_t p = 0; p < properties; ++p) {
        uint32_t pair[kPairWords];
        if (qorReadLong(stream, pair, kPairWords) != kPairWords)
            return;
        for (int32_t k = 0; k < count; ++k) {
            if (ids[k] == pair[0]) {
                // Unsigned arithmetic: a hostile offset wraps to a position
                // that the value reads then refuse or find empty.
                positions[k] = static_cast<uint32_t>(section) + pair[1] + kTypeWordSize;
                break;
            }
        }
    }
}

} // namespace kxfpx::fpx
