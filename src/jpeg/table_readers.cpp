// The two table readers: ReadHuffman parses one DHT segment into Huffman
// table records (canonical codes of T.81 Annex C, decoding fields of Figure
// F.15), ReadQuantization one DQT segment into quantization table records.
// Both replace the slot of a JpegTableSet that each table names.
#include "jpeg/jpeg_tables.h"

#include "jpeg/handle_owner.h"
#include "jpeg/jpeg_format.h"

#include <kxfpx/codes.h>
#include <kxfpx/memory.h>

#include <cstddef>
#include <cstring>

namespace kxfpx::jpeg {

namespace {

// The record without its symbols; the n symbols are appended by a re-allocation.
constexpr uint32_t kHuffmanFixedBytes = offsetof(HuffmanTable, values);

// Replaces a slot's table: the old block goes, the new one is stored unlocked.
void store_slot(HGLOBAL &slot, HandleOwner &table)
{
    if (slot)
        GlobalFree(slot);
    slot = table.release();
}

// Canonical codes (T.81 Figure C.2) for `count` code lengths in `sizes`,
// which ends with a 0; codes are held in 16 bits.
void generate_codes(const uint8_t *sizes, uint16_t *codes)
{
    uint32_t k = 0;
    uint16_t code = 0;
    uint8_t si = sizes[0];
    if (si == 0)
        return;
    for (;;) {
        while (sizes[k] == si) {
            codes[k++] = code;
            code = uint16_t(code + 1);
        }
        if (sizes[k] == 0)
            return;
        do {
            code = uint16_t(code << 1);
            ++si;
        } while (sizes[k] != si);
    }
}

// Steps 4 to 6 of the table build: code lengths and codes by position, the
// decoding fields by length (T.81 Figure F.15), then both lists re-indexed
// by symbol value (Figure C.3).
void build_huffman(HuffmanTable &t, uint32_t n)
{
    uint8_t sizes[kHuffmanMaxSymbols + 1] = {};
    uint16_t codes[kHuffmanMaxSymbols + 1] = {};
    uint32_t k = 0;
    for (int l = 1; l <= kHuffmanCodeLengths; ++l)
        for (uint32_t i = 0; i < t.bits[l - 1]; ++i)
            sizes[k++] = uint8_t(l);
    sizes[k] = 0;
    generate_codes(sizes, codes);

    uint32_t j = 0;
    for (int l = 1; l <= kHuffmanCodeLengths; ++l) {
        const uint8_t count = t.bits[l - 1];
        if (count == 0) {
            t.maxCode[l - 1] = -1;
            continue;
        }
        t.valPtr[l - 1] = uint16_t(j);
        t.minCode[l - 1] = codes[j];
        j += count;
        t.maxCode[l - 1] = codes[j - 1];
    }

    std::memset(t.codeSizes, 0, sizeof t.codeSizes);
    std::memset(t.codes, 0, sizeof t.codes);
    for (uint32_t i = 0; i < n; ++i) {
        t.codeSizes[t.values[i]] = sizes[i];
        t.codes[t.values[i]] = codes[i];
    }
}

// The segment's 16-bit length, less its own two bytes, in 16 bits as the
// stream's arithmetic keeps it; false when it cannot be read.
bool read_segment_length(QorFile data, uint16_t &remaining)
{
    uint16_t length = 0;
    if (qorReadShort(data, &length, 1) != 1)
        return false;
    remaining = uint16_t(length - kLengthFieldBytes);
    return true;
}

} // namespace

int32_t ReadHuffman(QorFile data, JpegTableSet *tables)
{
    uint16_t remaining = 0;
    if (!read_segment_length(data, remaining))
        return KX_BAD_DATA;

    for (;;) {
        HandleOwner table(GlobalAlloc(KX_GHND, kHuffmanFixedBytes));
        LockedHandle lock;
        auto *t = static_cast<HuffmanTable *>(table.get() ? lock.lock(table.get()) : nullptr);
        if (!t)
            return KX_NO_MEMORY;

        if (qorReadChar(data, &t->classAndId, 1) != 1)
            return KX_BAD_DATA;
        // Tc must be 0 or 1 and Th 0 to 3.
        if (t->classAndId > kHuffmanClassIdLimit || (t->classAndId & kHuffmanBadIdBits))
            return KX_BAD_DATA;
        if (qorReadChar(data, t->bits, kHuffmanCodeLengths) != kHuffmanCodeLengths)
            return KX_BAD_DATA;
        uint16_t n = 0;
        for (uint8_t count : t->bits)
            n = uint16_t(n + count);
        // The record has room for 256 symbols: a table announcing more codes
        // is refused (21) before its symbols are read.
        if (n > kHuffmanMaxSymbols)
            return KX_BAD_DATA;

        lock.unlock();
        // GlobalReAlloc frees the old block whether or not it succeeds.
        HGLOBAL bigger = GlobalReAlloc(table.release(), kHuffmanFixedBytes + n, KX_GHND);
        table.reset(bigger);
        t = static_cast<HuffmanTable *>(bigger ? lock.lock(bigger) : nullptr);
        if (!t)
            return KX_NO_MEMORY;
        if (qorReadChar(data, t->values, n) != n)
            return KX_BAD_DATA;

        build_huffman(*t, n);
        const int slot = (t->classAndId >> kHuffmanClassShift) * kHuffmanSlotsPerClass +
                         (t->classAndId & kHuffmanIdMask);
        lock.unlock();
        store_slot(tables->slots[slot], table);

        // A length that does not come out at exactly zero (16-bit) goes on
        // reading tables from the bytes that follow.
        remaining = uint16_t(remaining - (kHuffmanSegmentFixed + n));
        if (remaining == 0)
            return KX_OK;
    }
}

int32_t ReadQuantization(QorFile data, HGLOBAL *quantSlots)
{
    uint16_t remaining = 0;
    if (!read_segment_length(data, remaining))
        return KX_BAD_DATA;

    for (;;) {
        uint8_t pqTq = 0;
        if (qorReadChar(data, &pqTq, 1) != 1)
            return KX_BAD_DATA;
        const uint8_t pq = uint8_t(pqTq >> kQuantPrecisionShift);
        const uint8_t tq = pqTq & kQuantIdMask;
        const uint16_t entryBytes = pq == 0 ? kQuantSegment8 - 1 : kQuantSegment16 - 1;
        if (uint16_t(remaining - 1) < entryBytes)
            return KX_BAD_DATA;
        remaining = uint16_t(remaining - (entryBytes + 1));
        if (tq > kQuantIdMax)
            return KX_BAD_DATA;

        HandleOwner table(GlobalAlloc(KX_GHND, sizeof(QuantTable)));
        LockedHandle lock;
        auto *q = static_cast<QuantTable *>(table.get() ? lock.lock(table.get()) : nullptr);
        if (!q)
            return KX_NO_MEMORY;
        if (pq == 0) {
            uint8_t bytes[kQuantEntries];
            if (qorReadChar(data, bytes, kQuantEntries) != kQuantEntries)
                return KX_BAD_DATA;
            for (int i = 0; i < kQuantEntries; ++i)
                q->q[i] = bytes[i];
        } else if (qorReadShort(data, q->q, kQuantEntries) != kQuantEntries) {
            return KX_BAD_DATA;
        }
        q->id = tq;
        q->precision = pq;
        lock.unlock();
        store_slot(quantSlots[tq], table);

        if (remaining == 0)
            return KX_OK;
    }
}

} // namespace kxfpx::jpeg
