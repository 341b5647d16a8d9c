// On-disk layout of a version-3 Compound File with 512-byte sectors: every
// offset, size, sentinel and class value that the reader and the writer use,
// and the memory images that the record format strings give the header and
// a directory entry.
#pragma once

#include <kxfpx/storage.h>

#include <cstddef>
#include <cstdint>

// The header signature and the class ids the writer gives the root and every
// storage, as byte lists; the library exports them as SIGNATURE,
// ROOT_CLASSID and STORAGE_CLASSID (cfb_open.cpp).
#define KX_CFB_SIGNATURE_BYTES 0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1
#define KX_CFB_ROOT_CLASSID_BYTES \
    0x70, 0xAE, 0x7B, 0xEA, 0x3B, 0xFB, 0xCD, 0x11, 0xA9, 0x03, 0x00, 0xAA, 0x00, 0x51, 0x0E, 0xA3
#define KX_CFB_STORAGE_CLASSID_BYTES \
    0x01, 0x08, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46

namespace kxfpx::io {

// Sectors and mini sectors.
constexpr uint32_t kSectorSize = 512;
constexpr uint16_t kSectorShift = 9;
constexpr uint32_t kMiniSectorSize = 64;
constexpr uint16_t kMiniSectorShift = 6;
constexpr uint32_t kMiniStreamCutoff = 4096;            // smaller streams live in the mini stream
constexpr uint32_t kMiniPerSector = kSectorSize / kMiniSectorSize; // 8
constexpr uint32_t kEntriesPerSector = kSectorSize / 4; // 128 table entries a sector
constexpr uint32_t kHeaderDifatEntries = 109;           // DIFAT entries in the header sector
constexpr uint32_t kDifatEntriesPerSector = 127;        // then one next-DIFAT-sector word
constexpr uint32_t kHeaderDifatOffset = 76;             // where the header's DIFAT entries start

// Sector numbers with a meaning of their own.
constexpr uint32_t kFreeSect = 0xFFFFFFFFu;
constexpr uint32_t kEndOfChain = 0xFFFFFFFEu;
constexpr uint32_t kFatSect = 0xFFFFFFFDu;
constexpr uint32_t kDifatSect = 0xFFFFFFFCu;
constexpr uint32_t kNoEntry = 0xFFFFFFFFu;              // no sibling, no child; no sector yet

// Header fields as checked and written.
constexpr uint16_t kMinorVersion = 0x003E;
constexpr uint16_t kMajorVersion = 3;
constexpr uint16_t kByteOrderMark = 0xFFFE;
constexpr uint32_t kHeaderImageSize = 76;
constexpr const char kHeaderFormat[] = "8c16c5s10c8l";

// Directory entries.
constexpr uint32_t kEntrySize = 128;                    // in the file
constexpr uint32_t kEntriesPerDirSector = kSectorSize / kEntrySize; // 4
constexpr const char kEntryReadFormat[] = "64C1S2C3L16C1L2D2L2C";    // 126 bytes
constexpr const char kEntryWriteFormat[] = "64C1S2C3L16C1L2D2L2C2C"; // all 128 bytes
constexpr uint32_t kNameField = 64;                     // bytes of UTF-16LE
constexpr uint16_t kMaxNameLength = 64;                 // name length field, terminator included
constexpr uint32_t kMaxNameChars = 31;                  // what fits once widened
constexpr uint32_t kMaxLookupDepth = 256;

constexpr uint8_t kTypeUnused = 0;
constexpr uint8_t kTypeStorage = 1;
constexpr uint8_t kTypeStream = 2;
constexpr uint8_t kTypeRoot = 5;
constexpr uint8_t kColourRed = 0;
constexpr uint8_t kColourBlack = 1;
constexpr uint8_t kFreeSectorByte = 0xFF;             // every byte of a free (0xFFFFFFFF) table entry
constexpr uint8_t kStorageTailMark = 0x92;              // last two bytes of storage entries

constexpr const char kRootName[] = "Root Entry";

// Record buffers and staging.
constexpr uint32_t kStagingSize = 4096;                 // a stream being written, staged
constexpr uint32_t kHolderSize = 8;                     // a block holding one pointer

// The header as "8c16c5s10c8l" lays it out in memory (the same 76 bytes as
// in the file).
struct HeaderImage {
    uint8_t signature[8];
    uint8_t clsid[16];
    uint16_t minorVersion;
    uint16_t majorVersion;
    uint16_t byteOrder;
    uint16_t sectorShift;
    uint16_t miniSectorShift;
    uint8_t reserved[10];       // reserved and Number of Directory Sectors
    uint32_t numFatSectors;
    uint32_t firstDirSector;
    uint32_t transactionSignature;
    uint32_t miniStreamCutoff;
    uint32_t firstMiniFatSector;
    uint32_t numMiniFatSectors;
    uint32_t firstDifatSector;
    uint32_t numDifatSectors;
};
static_assert(sizeof(HeaderImage) == kHeaderImageSize, "header image is 76 bytes");
static_assert(offsetof(HeaderImage, byteOrder) == 28, "Byte Order at 28");
static_assert(offsetof(HeaderImage, numFatSectors) == 44, "Number of FAT Sectors at 44");
static_assert(offsetof(HeaderImage, numDifatSectors) == 72, "Number of DIFAT Sectors at 72");

// A directory entry as "64C1S2C3L16C1L2D2L2C2C" lays it out in memory: 136
// bytes, with 4 padding bytes before the times and 4 at the end.
struct alignas(8) EntryImage {
    uint8_t name[kNameField];   // UTF-16LE in the file; narrow while the writer builds
    uint16_t nameLength;        // bytes, terminator included
    uint8_t type;
    uint8_t colour;
    uint32_t left;
    uint32_t right;
    uint32_t child;
    uint8_t clsid[16];
    uint32_t stateBits;
    uint8_t pad0[4];
    uint8_t times[16];          // creation and modification, kept as bytes
    uint32_t startSector;
    uint32_t size;
    uint8_t tail[4];            // the last 2 (reader) or 4 (writer) bytes of the entry
    uint8_t pad1[4];
};
static_assert(sizeof(EntryImage) == 136, "directory entry image is 136 bytes");
static_assert(offsetof(EntryImage, nameLength) == 64, "name length at 64");
static_assert(offsetof(EntryImage, left) == 68, "left sibling at 68");
static_assert(offsetof(EntryImage, clsid) == 80, "CLSID at 80");
static_assert(offsetof(EntryImage, times) == 104, "times at 104 (8-aligned)");
static_assert(offsetof(EntryImage, startSector) == 120, "starting sector at 120");
static_assert(offsetof(EntryImage, tail) == 128, "entry tail at 128");

} // namespace kxfpx::io
