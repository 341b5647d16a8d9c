// The JPEG table records shared by the tile decoder and the import driver:
// a table set of twelve movable blocks (Huffman DC 0-3, AC 0-3, quantizers
// 0-3), the block layouts of a Huffman and a quantization table, and the two
// segment readers that fill a set from DHT and DQT data.
#pragma once

#include <kxfpx/qorfile.h>
#include <kxfpx/records.h>

#include <cstdint>

namespace kxfpx::jpeg {

inline constexpr int kHuffmanSlots = 8;     // DC 0-3, then AC 0-3: slot = 4 * Tc + Th
inline constexpr int kQuantSlot0 = 8;       // quantizers: slot = 8 + Tq
inline constexpr int kQuantSlots = 4;
inline constexpr int kTableSlots = kHuffmanSlots + kQuantSlots;

// One set of tables: the handles are stored unlocked, null when empty.
struct JpegTableSet {
    HGLOBAL slots[kTableSlots];
};
static_assert(sizeof(JpegTableSet) == 96, "a table set is twelve 8-byte handles");

// The fixed part of a Huffman table block; HUFFVAL (n symbols) follows it.
struct HuffmanTable {
    uint8_t classAndId;       // Tc in bits 4-7, Th in bits 0-3
    uint8_t bits[16];         // BITS: codes of length 1..16
    uint16_t minCode[16];     // first code of each length
    int32_t maxCode[16];      // last code of each length, -1 when none
    uint16_t valPtr[16];      // index in values of the first symbol of each length
    uint8_t codeSizes[256];   // code length by symbol value
    uint16_t codes[256];      // code by symbol value
    uint8_t values[256];      // HUFFVAL, in order of increasing code length
};

// A quantization table block: 8-bit entries are widened to 16 bits.
struct QuantTable {
    uint8_t id;               // Tq
    uint8_t precision;        // Pq: 0 for 8-bit entries
    uint16_t q[64];           // zig-zag order, as in the stream
};

// Read one DHT / DQT segment whose marker word has been read: 0, 21 or 27.
[[nodiscard]] int32_t ReadHuffman(QorFile data, JpegTableSet *tables);
[[nodiscard]] int32_t ReadQuantization(QorFile data, HGLOBAL *quantSlots);

} // namespace kxfpx::jpeg
