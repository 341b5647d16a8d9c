// Markers and on-disk constants of the JPEG streams the tile decoder reads
// (ITU-T T.81, Table B.1 and Annex B): marker words as read big-endian, the
// field limits of the DHT, DQT, SOF and SOS segments, and the byte values of
// entropy-coded data (0xFF, stuffing, marker prefix).
#pragma once

#include <cstdint>

namespace kxfpx::jpeg {

// --- marker words (0xFF followed by the marker code) ------------------------
inline constexpr uint16_t kMarkerSOF0 = 0xFFC0;     // baseline sequential, Huffman
inline constexpr uint16_t kMarkerSOF2 = 0xFFC2;     // progressive, Huffman
inline constexpr uint16_t kMarkerDHT = 0xFFC4;
inline constexpr uint16_t kMarkerDAC = 0xFFCC;      // arithmetic conditioning: no segment skip
inline constexpr uint16_t kMarkerSOI = 0xFFD8;
inline constexpr uint16_t kMarkerEOI = 0xFFD9;
inline constexpr uint16_t kMarkerSOS = 0xFFDA;
inline constexpr uint16_t kMarkerDQT = 0xFFDB;
inline constexpr uint16_t kMarkerDRI = 0xFFDD;
inline constexpr uint16_t kMarkerAPP0 = 0xFFE0;     // APP0 .. APP15
inline constexpr uint16_t kMarkerAPP15 = 0xFFEF;
inline constexpr uint16_t kMarkerCOM = 0xFFFE;
inline constexpr uint16_t kMarkerDispatchFirst = 0xFFC0;   // the dispatched range
inline constexpr uint16_t kMarkerDispatchLast = 0xFFDF;

// --- entropy-coded data --------------------------------------------------------
inline constexpr uint8_t kMarkerPrefix = 0xFF;      // starts a marker or a stuffed 0xFF
inline constexpr uint8_t kStuffedZero = 0x00;       // 0xFF 0x00: a data byte 0xFF

// --- segment fields ------------------------------------------------------------
inline constexpr uint16_t kLengthFieldBytes = 2;    // a segment length counts itself
inline constexpr int kHuffmanCodeLengths = 16;      // BITS: code lengths 1..16
inline constexpr uint8_t kHuffmanClassIdLimit = 31; // Tc/Th byte: above it is refused
inline constexpr uint8_t kHuffmanBadIdBits = 0x0C;  // Th bits 2-3: Th above 3
inline constexpr int kHuffmanClassShift = 4;        // Tc in bits 4-7
inline constexpr uint8_t kHuffmanIdMask = 0x0F;     // Th in bits 0-3
inline constexpr int kHuffmanSlotsPerClass = 4;
inline constexpr uint32_t kHuffmanMaxSymbols = 256; // room in a table record
inline constexpr int kQuantEntries = 64;
inline constexpr int kQuantPrecisionShift = 4;      // Pq in bits 4-7
inline constexpr uint8_t kQuantIdMask = 0x0F;       // Tq in bits 0-3
inline constexpr uint8_t kQuantIdMax = 3;
inline constexpr uint16_t kQuantSegment8 = 1 + 64;      // Pq/Tq byte + 64 bytes
inline constexpr uint16_t kQuantSegment16 = 1 + 128;    // Pq/Tq byte + 64 words
inline constexpr uint16_t kHuffmanSegmentFixed = 1 + 16; // Tc/Th byte + BITS
inline constexpr uint8_t kSamplingMin = 1;          // H and V of a frame component: 1..4
inline constexpr uint8_t kSamplingMax = 4;
inline constexpr int kSamplingHShift = 4;           // H in bits 4-7, V in bits 0-3
inline constexpr uint8_t kNibbleMask = 0x0F;
inline constexpr uint8_t kMaxScanComponents = 4;
inline constexpr uint8_t kTableIdMax = 3;           // Td, Ta of a scan component
inline constexpr uint8_t kSamplePrecision = 8;      // the only precision decoded
inline constexpr uint32_t kComponentBytesMask = 0x3FF;  // (3 * Nf) AND 0x3FF bytes

// --- restart interval --------------------------------------------------------
inline constexpr uint16_t kNoRestartInterval = 65535;   // used when DRI gave 0

// --- sampling bytes of a component that the sequential expansion admits --------
inline constexpr uint8_t kSampling11 = 0x11;
inline constexpr uint8_t kSampling21 = 0x21;
inline constexpr uint8_t kSampling22 = 0x22;

} // namespace kxfpx::jpeg
