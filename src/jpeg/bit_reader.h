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

    void build(const HuffmanTable &table);
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
        if (n == 0)
            return 0;
        if (nbits_ < n)
            fill();
        const uint32_t v = uint32_t(acc_ >> (64 - n));
        acc_ <<= n;
        nbits_ -= n;
        return v;
    }
    // One symbol, as GetNextCode: 0, kNoSymbol (symbol unchanged) or
    // KX_BAD_DATA (no code up to 16 bits; 16 bits consumed).
    int32_t decode(const HuffmanLookup &table, uint16_t *symbol)
    {
        if (nbits_ < 16)
            fill();
        const uint16_t e = table.fast[acc_ >> (64 - HuffmanLookup::kBits)];
        if (e) {
            const int len = (e >> 8) & 0x0F;
            acc_ <<= len;
            nbits_ -= len;
            if (e & HuffmanLookup::kNoSymbolFlag)
                return kNoSymbol;
            *symbol = uint8_t(e);
            return 0;
        }
        return decode_long(table, symbol);
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

    void fill();
    bool fetch(uint8_t &byte);
    void refill();
    int32_t decode_long(const HuffmanLookup &table, uint16_t *symbol);
    int64_t literal_position() const;

    QorFile data_;
    uint64_t acc_ = 0;      // bits, first bit in bit 63
    int nbits_ = 0;         // valid bits in acc_
    int zeroUnits_ = 0;     // zero bytes still to deliver after a marker
    uint32_t units_ = 0;    // bytes appended to acc_ so far
    uint8_t ring_[8] = {};  // stream bytes taken by each of the last 8 appended bytes
    bool ended_ = false;    // a read returned nothing: the data has ended
    bool finished_ = false;
    int64_t startAbs_ = 0;  // the stream position at construction
    int64_t physical_ = 0;  // bytes read from the stream so far (relative to start)
    int64_t bufBase_ = 0;   // relative position of buf_[0]
    int32_t pos_ = 0, len_ = 0;
    uint8_t buf_[kKeep + kChunk];
};

} // namespace kxfpx::jpeg
