// BitReader and HuffmanLookup: block reads into a 64-bit bit buffer and the
// 9-bit lookahead decoding that reproduce NextBit / GetNextCode exactly (see
// bit_reader.h). Each byte appended to the bit buffer remembers how many
// stream bytes it took (1, 2 for 0xFF 0x00 or a marker, 0 for the zeros
// after a marker or after the end of the data), which gives the bit-serial
// reader's stream position at any moment.
#include "jpeg/bit_reader.h"

#include "jpeg/jpeg_format.h"

#include <kxfpx/codes.h>

#include <cstring>

namespace kxfpx::jpeg {

uint32_t huffman_symbol_count(const HuffmanTable &table)
{
    uint32_t n = 0;
    for (uint8_t b : table.bits)
        n += b;
    return n < kHuffmanMaxSymbols ? n : kHuffmanMaxSymbols;
}

// For each 9-bit pattern p the bit-serial search stops at the smallest l with
// (p >> (9 - l)) <= maxCode[l], i.e. p < (maxCode[l] + 1) << (9 - l): the
// patterns of each length form one range above those of the shorter ones.
void HuffmanLookup::build_uncached(const HuffmanTable &table, bool withAc)
{
    std::memcpy(maxCode, table.maxCode, sizeof maxCode);
    std::memcpy(minCode, table.minCode, sizeof minCode);
    std::memcpy(valPtr, table.valPtr, sizeof valPtr);
    values = table.values;
    count = huffman_symbol_count(table);
    uint32_t frontier = 0;
    for (int l = 1; l <= kBits; ++l) {
        const int32_t m = maxCode[l - 1];
        if (m < 0)
            continue;
        const uint32_t limit = uint32_t(m) + 1 >= (1u << l) ? (1u << kBits)
                                                              : (uint32_t(m) + 1) << (kBits - l);
        // Both ends are multiples of 2^(9 - l): one entry per code of length l.
        const uint32_t span = 1u << (kBits - l);
        for (uint32_t p = frontier; p < limit; p += span) {
            const uint32_t code = p >> (kBits - l);
            const uint16_t index = uint16_t(code + valPtr[l - 1] - minCode[l - 1]);
            const uint16_t e = uint16_t(l << 8) | (index < count ? values[index] : kNoSymbolFlag);
            for (uint32_t i = 0; i < span; ++i)
                fast[p + i] = e;
        }
        if (limit > frontier)
            frontier = limit;
    }
    for (uint32_t p = frontier; p < (1u << kBits); ++p)
        fast[p] = 0;

    // AC entries whose code and value bits fit in the 9 looked at: run and
    // extended value at once. Walked code by code: the 9 - l bits after a
    // code of length l start with its S value bits.
    if (!withAc)
        return;
    std::memset(acEntry, 0, sizeof acEntry);
    for (uint32_t p = 0; p < frontier;) {
        const uint16_t e = fast[p];
        const uint32_t len = (e >> 8) & 0x0F, span = 1u << (kBits - len);
        const uint32_t rs = uint8_t(e), size = rs & 15;
        if (!(e & kNoSymbolFlag) && size != 0 && len + size <= uint32_t(kBits)) {
            const uint32_t rest = 1u << (kBits - len - size);  // patterns per value
            for (uint32_t v = 0; v < (1u << size); ++v) {
                const int32_t x = int32_t(v);
                const int16_t value = int16_t(x < (1 << (size - 1)) ? x + 1 - (1 << size) : x);
                const uint16_t entry = uint16_t((len + size) << 8 | rs);
                for (uint32_t i = 0; i < rest; ++i) {
                    acEntry[p + v * rest + i] = entry;
                    acValue[p + v * rest + i] = value;
                }
            }
        }
        p += span;
    }
}

namespace {

// The lookups this thread built last, each with what it was built from: the
// tables of a file's set are the same for every tile, so most builds become
// a compare and a copy.
struct CachedLookup {
    bool valid = false;
    bool withAc = false;
    uint8_t bits[kHuffmanCodeLengths];
    uint16_t minCode[kHuffmanCodeLengths];
    int32_t maxCode[kHuffmanCodeLengths];
    uint16_t valPtr[kHuffmanCodeLengths];
    uint8_t values[kHuffmanMaxSymbols];
    HuffmanLookup lookup;

    bool holds(const HuffmanTable &t, bool ac, uint32_t count) const
    {
        return valid && withAc == ac && std::memcmp(bits, t.bits, sizeof bits) == 0 &&
               std::memcmp(minCode, t.minCode, sizeof minCode) == 0 &&
               std::memcmp(maxCode, t.maxCode, sizeof maxCode) == 0 &&
               std::memcmp(valPtr, t.valPtr, sizeof valPtr) == 0 &&
               std::memcmp(values, t.values, count) == 0;
    }
};
constexpr int kCachedLookups = 8;
thread_local CachedLookup tCachedLookups[kCachedLookups];
thread_local int tNextCachedLookup = 0;

} // namespace

void HuffmanLookup::build(const HuffmanTable &table, bool withAc)
{
    const uint32_t n = huffman_symbol_count(table);
    for (const CachedLookup &c : tCachedLookups)
        if (c.holds(table, withAc, n)) {
            std::memcpy(fast, c.lookup.fast, sizeof fast);
            std::memcpy(maxCode, c.lookup.maxCode, sizeof maxCode);
            std::memcpy(minCode, c.lookup.minCode, sizeof minCode);
            std::memcpy(valPtr, c.lookup.valPtr, sizeof valPtr);
            count = c.lookup.count;
            if (withAc) {
                std::memcpy(acEntry, c.lookup.acEntry, sizeof acEntry);
                std::memcpy(acValue, c.lookup.acValue, sizeof acValue);
            }
            values = table.values;
            return;
        }
    build_uncached(table, withAc);
    CachedLookup &c = tCachedLookups[tNextCachedLookup];
    tNextCachedLookup = (tNextCachedLookup + 1) % kCachedLookups;
    c.valid = true;
    c.withAc = withAc;
    std::memcpy(c.bits, table.bits, sizeof c.bits);
    std::memcpy(c.minCode, table.minCode, sizeof c.minCode);
    std::memcpy(c.maxCode, table.maxCode, sizeof c.maxCode);
    std::memcpy(c.valPtr, table.valPtr, sizeof c.valPtr);
    std::memcpy(c.values, table.values, n);
    c.lookup = *this;
}

BitReader::BitReader(QorFile data) : data_(data)
{
    const int32_t at = qorSeek(data, 0, 1);
    startAbs_ = at > 0 ? at : 0;
}

int32_t BitReader::decode_long(BitState &s, const HuffmanLookup &table, uint16_t *symbol)
{
    const uint32_t p16 = uint32_t(s.acc >> 48);
    for (int l = HuffmanLookup::kBits + 1; l <= kHuffmanCodeLengths; ++l) {
        const uint32_t code = p16 >> (kHuffmanCodeLengths - l);
        // The bit-serial code is a signed 16-bit value: at length 16 a code
        // with its top bit set is negative.
        const int32_t signedCode = l == kHuffmanCodeLengths ? int32_t(int16_t(uint16_t(code)))
                                                            : int32_t(code);
        if (signedCode <= table.maxCode[l - 1]) {
            skip_unchecked(s, l);
            const uint16_t index = uint16_t(code + table.valPtr[l - 1] - table.minCode[l - 1]);
            if (index >= table.count)
                return kNoSymbol;
            *symbol = table.values[index];
            return 0;
        }
    }
    skip_unchecked(s, kHuffmanCodeLengths);
    return KX_BAD_DATA;
}

void BitReader::refill_buffer()
{
    if (ended_)
        return;
    const int32_t keep = len_ < kKeep ? len_ : kKeep;
    std::memmove(buf_, buf_ + len_ - keep, size_t(keep));
    bufBase_ += len_ - keep;
    pos_ -= len_ - keep;
    len_ = keep;
    // Up to the next 512-byte boundary of the stream, so that the last read
    // lies within one sector of a Compound File stream and the seek back at
    // the end stays inside it.
    const int32_t want = kChunk - int32_t((startAbs_ + physical_) % kChunk);
    const int32_t got = qorRead(data_, buf_ + len_, want);
    if (got <= 0) {
        // Once a read returns nothing the data has ended for this reader:
        // the bit-serial reader's later reads would fail alike.
        ended_ = true;
        return;
    }
    len_ += got;
    physical_ += got;
}

bool BitReader::fetch(uint8_t &byte)
{
    if (pos_ == len_) {
        refill_buffer();
        if (pos_ == len_)
            return false;
    }
    byte = buf_[pos_++];
    return true;
}

BitState BitReader::refill(BitState s)
{
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    while (s.n <= 56) {
        // Fast path: whole bytes without a 0xFF among the next eight.
        if (zeroUnits_ == 0 && pos_ + 8 <= len_) {
            uint64_t w;
            std::memcpy(&w, buf_ + pos_, 8);
            w = __builtin_bswap64(w);
            const uint64_t inv = ~w;
            if (((inv - kOnes) & ~inv & (kOnes << 7)) == 0) {
                const int k = (64 - s.n) >> 3;  // 1 to 8 bytes
                s.acc |= k == 8 ? w : (w >> (64 - 8 * k)) << (64 - s.n - 8 * k);
                s.n += 8 * k;
                pos_ += k;
                taken_ = (k == 8 ? 0 : taken_ << (8 * k)) | (kOnes >> (64 - 8 * k));
                continue;
            }
        }
        uint8_t unit = 0, taken = 0;
        if (zeroUnits_ > 0) {
            --zeroUnits_;
        } else if (fetch(unit)) {
            taken = 1;
            if (unit == kMarkerPrefix) {
                uint8_t next = kStuffedZero;
                if (fetch(next))
                    taken = 2;
                if (next != kStuffedZero)
                    zeroUnits_ = kMarkerZeroUnits;  // a marker: 0xFF's ones, then zeros
            }
        }
        s.acc |= uint64_t(unit) << (56 - s.n);
        s.n += 8;
        taken_ = (taken_ << 8) | taken;
    }
    return s;
}

int64_t BitReader::literal_position() const
{
    // Bytes of the bit buffer not started yet were not taken by the
    // bit-serial reader; a started byte was. Sum the bytes of taken_ that
    // belong to the untouched ones (each at most 2, so no carry).
    const int untouched = nbits_ / 8;
    const uint64_t mask = untouched == 8 ? ~0ull : (1ull << (8 * untouched)) - 1;
    const uint64_t untaken = ((taken_ & mask) * 0x0101010101010101ull) >> 56;
    return bufBase_ + pos_ - int64_t(untaken);
}

void BitReader::reset()
{
    const int64_t at = literal_position();
    pos_ = int32_t(at - bufBase_);
    acc_ = 0;
    nbits_ = 0;
    zeroUnits_ = 0;
}

bool BitReader::skip_to_marker()
{
    uint8_t byte = 0;
    for (;;) {
        if (!fetch(byte))
            return false;
        if (byte != kMarkerPrefix)
            continue;
        if (!fetch(byte))
            return false;
        if (byte != kStuffedZero)
            return true;
    }
}

void BitReader::finish()
{
    if (finished_)
        return;
    finished_ = true;
    const int64_t at = literal_position();
    if (at != physical_)
        qorSeek(data_, int32_t(at - physical_), 1);
}

} // namespace kxfpx::jpeg
