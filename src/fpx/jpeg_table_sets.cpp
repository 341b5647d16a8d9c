// Loading the JPEG table sets of the Image Contents property set: each set
// kk is a run of marker segments (SOI, DHT, DQT, EOI) read big-endian and
// handed to the table readers; and releasing every table handle at the end.
#include "fpx/jpeg_table_sets.h"

#include "fpx/fpx_format.h"
#include "fpx/property_values.h"
#include "fpx/subimage.h"

#include "jpeg/jpeg_format.h"

#include <kxfpx/codes.h>
#include <kxfpx/memory.h>

#include <vector>

namespace kxfpx::fpx {

namespace {
} // namespace

JpegTableSets::~JpegTableSets()
{
    jpeg::JpegTableSet *all = sets();
    for (int32_t s = 0; all && s < count_; ++s) {
        for (HGLOBAL &slot : all[s].slots) {
            if (slot) {
                GlobalUnlock(slot);
                GlobalFree(slot);
                slot = nullptr;
            }
        }
    }
}

int32_t JpegTableSets::load(QorFile contents, uint32_t maxTablePos)
{
    uint32_t highest = 0;
    if (maxTablePos != 0) {
        int32_t value = 0;
        (void)read_long_at(contents, maxTablePos, value);
        highest = static_cast<uint32_t>(value);
        if (highest > kMaxJpegTableSets)
            return KX_BAD_DATA;
    }
    uint32_t bytes;
    if (!block_size(uint64_t{highest} + 1, sizeof(jpeg::JpegTableSet), bytes) ||
        !array_.allocate(bytes))
        return KX_NO_MEMORY;
    count_ = static_cast<int32_t>(highest) + 1;
    if (highest == 0)
        return KX_OK;

    // All table properties in one walk of the property list.
    std::vector<uint32_t> ids(highest), pos(highest);
    for (uint32_t kk = 1; kk <= highest; ++kk)
        ids[kk - 1] = (kk << 16) | kPidJpegTablesBase;
    FindProperties(contents, static_cast<int32_t>(highest), ids.data(), pos.data());
    for (uint32_t kk = 1; kk <= highest; ++kk) {
        if (pos[kk - 1] == 0)
            continue;
        const int32_t code = read_set(contents, pos[kk - 1], sets()[kk]);
        (void)qorSetDataFormat(contents, QOR_LITTLE_ENDIAN, QOR_IEEE_FLOATS);
        if (code != KX_OK)
            return code;
    }
    return KX_OK;
}

int32_t JpegTableSets::read_set(QorFile contents, uint32_t position, jpeg::JpegTableSet &set)
{
    // A position past what a stream can address holds no marker data; it is
    // refused like a short read rather than read from wherever the stream is.
    if (!seek_to(contents, position + kValueCountSize))
        return KX_BAD_DATA;
    (void)qorSetDataFormat(contents, QOR_BIG_ENDIAN, QOR_IEEE_FLOATS);
    // Every turn reads a marker word or a segment, so the loop ends at the
    // end of the stream at the latest.
    for (;;) {
        uint16_t marker;
        if (qorReadShort(contents, &marker, 1) != 1)
            return KX_BAD_DATA;
        switch (marker) {
        case jpeg::kMarkerEOI:
            return KX_OK;
        case jpeg::kMarkerSOI:
            break;
        case jpeg::kMarkerDHT:
            (void)jpeg::ReadHuffman(contents, &set);
            break;
        case jpeg::kMarkerDQT:
            (void)jpeg::ReadQuantization(contents, &set.slots[jpeg::kQuantSlot0]);
            break;
        default:
            return KX_BAD_DATA;
        }
    }
}

} // namespace kxfpx::fpx
