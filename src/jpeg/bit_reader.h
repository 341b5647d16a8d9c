// The fast reader of entropy-coded data, shared by the sequential and the
// progressive scans. BitReader reads the stream in blocks into a 64-bit bit
// buffer and decodes Huffman symbols through 9-bit lookahead tables, yet
// every bit, symbol, result and stream position is exactly that of the
// bit-serial NextBit / GetNextCode: a marker still yields the 0xFF byte's
// bits and then zeros (256 bits in all) before the bytes after the marker,
// data that ended yields zeros, and when the reader is finished the stream
// stands just after the last byte the bit-serial reader would have taken.
#pragma once

#include "jpeg/jpeg_tables.h"

#include <kxfpx/qorfile.h>

#include <cstdint>

namespace kxfpx::jpeg {

// GetNextCode's result for a code whose index lies beyond the table's
// symbols (the symbol is left unchanged); a code matching no length up to 16
// gives KX_BAD_DATA.
inline constexpr int32_t kNoSymbol = -23;

// The table's symbol count (sum of BITS), bounded by the record's room.
uint32_t huffman_symbol_count(const HuffmanTable &table);

// Decoding view of one HuffmanTable: a 9-bit lookahead table for codes of up
// to 9 bits, the length fields for the longer ones. Built per scan; the
// table record must stay locked while the view is used.
struct HuffmanLookup {
    static constexpr int kBits = 9;
    // Entry: 0 = code longer than 9 bits; else length in bits 8-11, and
    // either the symbol in bits 0-7 or kNoSymbolFlag.
    static constexpr uint16_t kNoSymbolFlag = 0x1000;
    uint16_t fast[1 << kBits];
    int32_t maxCode[16];
    uint16_t minCode[16];
    uint16_t valPtr[16];
    const uint8_t *values;
    uint32_t count;
    // For AC tables: when a code of symbol RS with size S > 0 and its S
    // value bits lie within the 9 bits, acEntry = (code + S bits) << 8 | RS
    // and acValue = the extended value; else acEntry = 0.
    uint16_t acEntry[1 << kBits];
    int16_t acValue[1 << kBits];

    // withAc: also fill acEntry / acValue (for tables used as AC tables).
    // A table with the codes of one this thread built lately reuses that
    // lookup (copied); `values` always points into `table`.
    void build(const HuffmanTable &table, bool withAc = false);

private:
    void build_uncached(const HuffmanTable &table, bool withAc);
};

// The bit buffer as a value, for inner loops that keep it in registers:
// take() it from the reader, work on it with the inline helpers below, put()
// it back before any other call on the reader.
struct BitState {
    uint64_t acc;  // bits, first bit in bit 63
    int n;         // valid bits in acc
};

class BitReader {
public:
    // Starts with an empty bit buffer (bitsLeft and bitBuffer 0) at the
    // stream's current position.
    explicit BitReader(QorFile data);
    ~BitReader() { finish(); }
    BitReader(const BitReader &) = delete;
    BitReader &operator=(const BitReader &) = delete;

    // n bits (0 to 16), first bit highest, as n NextBit calls from code 0
    // would give them (the value is unsigned here).
    uint32_t bits(int n)
    {
        BitState s = take();
        const uint32_t v = bits(s, n);
        put(s);
        return v;
    }
    // One symbol, as GetNextCode: 0, kNoSymbol (symbol unchanged) or
    // KX_BAD_DATA (no code up to 16 bits; 16 bits consumed).
    int32_t decode(const HuffmanLookup &table, uint16_t *symbol)
    {
        BitState s = take();
        const int32_t r = decode(s, table, symbol);
        put(s);
        return r;
    }

    // --- the same on a BitState held by the caller ---------------------------
    BitState take() const { return {acc_, nbits_}; }
    void put(BitState s)
    {
        acc_ = s.acc;
        nbits_ = s.n;
    }
    // At least `want` bits (up to 57) in s: afterwards bits and decodes of
    // that many bits in all need no further check.
    void ensure(BitState &s, int want)
    {
        if (s.n < want)
            s = refill(s);
    }
    static uint32_t peek_unchecked(BitState s, int n) { return uint32_t(s.acc >> (64 - n)); }
    static void skip_unchecked(BitState &s, int n)
    {
        s.acc <<= n;
        s.n -= n;
    }
    uint32_t bits(BitState &s, int n)
    {
        if (n == 0)
            return 0;
        ensure(s, n);
        const uint32_t v = peek_unchecked(s, n);
        skip_unchecked(s, n);
        return v;
    }
    int32_t decode(BitState &s, const HuffmanLookup &table, uint16_t *symbol)
    {
        ensure(s, 16);
        return decode_unchecked(s, table, symbol);
    }
    // Needs 16 bits in s.
    static int32_t decode_unchecked(BitState &s, const HuffmanLookup &table, uint16_t *symbol)
    {
        const uint16_t e = table.fast[peek_unchecked(s, HuffmanLookup::kBits)];
        if (e) {
            skip_unchecked(s, (e >> 8) & 0x0F);
            if (e & HuffmanLookup::kNoSymbolFlag)
                return kNoSymbol;
            *symbol = uint8_t(e);
            return 0;
        }
        return decode_long(s, table, symbol);
    }

    // bitsLeft = bitBuffer = 0: the rest of the current byte is dropped and
    // the next bit comes from the stream's next byte.
    void reset();
    // The restart search: bytes are read until 0xFF followed by a non-zero
    // byte. False when a read fails first.
    [[nodiscard]] bool skip_to_marker();
    // Puts the stream just after the last byte the bit-serial reader would
    // have taken. The reader is done then; later calls do nothing.
    void finish();

private:
    static constexpr int kKeep = 16;      // bytes kept on refill: 8 units of up to 2 bytes
    static constexpr int kChunk = 512;    // read up to the next 512-byte boundary
    static constexpr int kMarkerZeroUnits = 31;  // 248 zero bits after a marker's 0xFF

    BitState refill(BitState s);
    bool fetch(uint8_t &byte);
    void refill_buffer();
    static int32_t decode_long(BitState &s, const HuffmanLookup &table, uint16_t *symbol);
    int64_t literal_position() const;

    QorFile data_;
    uint64_t acc_ = 0;      // bits, first bit in bit 63
    int nbits_ = 0;         // valid bits in acc_
    int zeroUnits_ = 0;     // zero bytes still to deliver after a marker
    // Stream bytes taken by each of the last 8 bytes appended to acc_, one
    // per byte of this word, the newest lowest.
    uint64_t taken_ = 0;
    bool ended_ = false;    // a read returned nothing: the data has ended
    bool finished_ = false;
    int64_t startAbs_ = 0;  // the stream position at construction
    int64_t physical_ = 0;  // bytes read from the stream so far (relative to start)
    int64_t bufBase_ = 0;   // relative position of buf_[0]
    int32_t pos_ = 0, len_ = 0;
    uint8_t buf_[kKeep + kChunk];
};

} // namespace kxfpx::jpeg
