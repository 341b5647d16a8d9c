// On-disk constants of FlashPix files: stream and storage names, property
// identifiers and types, class identifiers, the 28-byte stream header,
// tile-table codes and colour codes. The import reads by these names and
// fpxwrite writes by them; the values follow real files.
#pragma once

#include <array>
#include <cstdint>

namespace kxfpx::fpx {

using Guid = std::array<uint8_t, 16>;

// --- names -----------------------------------------------------------------
inline constexpr const char *kRootName = "Root Entry";
inline constexpr const char *kSummaryName = "\005SummaryInformation";
inline constexpr const char *kCompObjName = "\001CompObj";
inline constexpr const char *kGlobalInfoName = "\005Global Info";
inline constexpr const char *kDataObjectFormat = "\005Data Object %06d";
inline constexpr const char *kTransformFormat = "\005Transform %06d";
inline constexpr const char *kStoreFormat = "Data Object Store %06d";
inline constexpr const char *kImageContentsName = "\005Image Contents";
inline constexpr const char *kIccProfileName = "ICC Profile 0001";
inline constexpr const char *kResolutionFormat = "Resolution %04d";
inline constexpr const char *kSubimageHeaderName = "Subimage 0000 Header";
inline constexpr const char *kSubimageDataName = "Subimage 0000 Data";

// The highest data-object index of a file whose Global Info names none;
// fpxwrite's default data object and transform.
inline constexpr int32_t kDataObjectIndex = 1;
inline constexpr int32_t kTransformIndex = 1;

// --- property-set streams ----------------------------------------------------
inline constexpr uint16_t kPropByteOrder = 0xFFFE;
inline constexpr uint16_t kPropFormatVersion = 0;
inline constexpr uint32_t kPropOsVersion = 3;       // as real files carry it
inline constexpr uint32_t kPropHeaderSize = 28;     // byte order .. section count
inline constexpr uint32_t kPropSectionEntrySize = 20; // FMTID + offset
inline constexpr uint32_t kPropSectionHeaderSize = 8; // size + count
inline constexpr uint32_t kPropPairSize = 8;          // id + offset

// Variant types.
inline constexpr uint32_t kVtI2 = 0x0002;
inline constexpr uint32_t kVtI4 = 0x0003;
inline constexpr uint32_t kVtR4 = 0x0004;
inline constexpr uint32_t kVtLpstr = 0x001E;
inline constexpr uint32_t kVtUi1 = 0x0011;
inline constexpr uint32_t kVtUi4 = 0x0013;
inline constexpr uint32_t kVtFiletime = 0x0040;
inline constexpr uint32_t kVtBlob = 0x0041;
inline constexpr uint32_t kVtClsid = 0x0048;
inline constexpr uint32_t kVtVector = 0x1000;

// Code pages: the FlashPix sets are Unicode, the summary set ANSI Latin 1.
inline constexpr uint32_t kPidCodePage = 0x00000001;
inline constexpr int16_t kCodePageUnicode = 1200;
inline constexpr int16_t kCodePageLatin1 = 1252;

// Summary information.
inline constexpr uint32_t kPidTitle = 0x00000002;
inline constexpr uint32_t kPidCreateTime = 0x0000000C;
inline constexpr uint32_t kPidLastSaveTime = 0x0000000D;
inline constexpr uint32_t kPidPageCount = 0x0000000E;
inline constexpr uint32_t kPidWordCount = 0x0000000F;
inline constexpr uint32_t kPidCharCount = 0x00000010;
inline constexpr uint32_t kPidAppName = 0x00000012;

// Global Info.
inline constexpr uint32_t kPidVisibleOutputs = 0x00010100;
inline constexpr uint32_t kPidMaxDataObjectIndex = 0x00010101;
inline constexpr uint32_t kPidTransformIndex = 0x00010102;
inline constexpr uint32_t kPidMaxOperationIndex = 0x00010103;

// Data Object.
inline constexpr uint32_t kPidDataObjectClass = 0x00010000;
inline constexpr uint32_t kPidDataObjectFlag = 0x00010100;  // read as a short
inline constexpr uint32_t kPidDataObjectUsers = 0x00010101;
inline constexpr uint32_t kPidDataObjectLinks = 0x00010102;
inline constexpr uint32_t kPidDataObjectHeight = 0x10000000;
inline constexpr uint32_t kPidDataObjectWidth = 0x10000001;
// The flag real files carry: the low 16 bits (1) mark the object.
inline constexpr uint32_t kDataObjectFlagValue = 0x00010001;

// Transform.
inline constexpr uint32_t kPidAspectRatio = 0x10000000;
inline constexpr uint32_t kPidRegionOfInterest = 0x10000001;
inline constexpr uint32_t kPidFiltering = 0x10000002;
inline constexpr uint32_t kPidAffineMatrix = 0x10000003;
inline constexpr uint32_t kPidColourTwist = 0x10000004;
inline constexpr uint32_t kPidContrast = 0x10000005;

// Image Contents.
inline constexpr uint32_t kPidResolutionCount = 0x01000000;
inline constexpr uint32_t kPidFullWidth = 0x01000002;
inline constexpr uint32_t kPidFullHeight = 0x01000003;
inline constexpr uint32_t kPidDisplayHeight = 0x01000004;
inline constexpr uint32_t kPidDisplayWidth = 0x01000005;
inline constexpr uint32_t kPidDisplayUnit = 0x01000006;
inline constexpr uint32_t kPidMaxJpegTableIndex = 0x03000002;
// Per resolution rr: (rr << 16) | base; per table set kk: (kk << 16) | base.
inline constexpr uint32_t kPidResWidthBase = 0x02000000;
inline constexpr uint32_t kPidResHeightBase = 0x02000001;
inline constexpr uint32_t kPidResColourBase = 0x02000002;
inline constexpr uint32_t kPidResNumericalBase = 0x02000003;
inline constexpr uint32_t kPidResDecimationBase = 0x02000004;
inline constexpr uint32_t kPidJpegTablesBase = 0x03000001;
inline constexpr uint32_t kMaxJpegTableSets = 255;

// Display size of the full image in inches for its height (1 mm), the width
// following the aspect ratio; unit 0 means inches. Real files carry these.
inline constexpr float kDisplayHeightInches = 0.0393700787f;
inline constexpr uint32_t kDisplayUnitInches = 0;
// Decimation method: 0 for the full resolution, 4 for reduced ones.
inline constexpr int32_t kDecimationFull = 0;
inline constexpr int32_t kDecimationReduced = 4;

// --- class identifiers ------------------------------------------------------
// The FlashPix family differs only in the first 32-bit field.
constexpr Guid flashpix_guid(uint32_t data1)
{
    return Guid{uint8_t(data1), uint8_t(data1 >> 8), uint8_t(data1 >> 16), uint8_t(data1 >> 24),
                0x54, 0xC1, 0xCE, 0x11, 0x85, 0x53, 0x00, 0xAA, 0x00, 0xA1, 0xF9, 0x5B};
}
inline constexpr Guid kFmtidSummary = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                       0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};
inline constexpr Guid kFmtidGlobalInfo = flashpix_guid(0x56616F00);
inline constexpr Guid kFmtidDataObject = flashpix_guid(0x56616080);
inline constexpr Guid kFmtidImageContents = flashpix_guid(0x56616400);
// No real file here carries a transform; the set gets its own identifier in
// the family's range.
inline constexpr Guid kFmtidTransform = flashpix_guid(0x56616A00);
inline constexpr Guid kClsidImageView = flashpix_guid(0x56616700);
inline constexpr Guid kClsidImageObject = flashpix_guid(0x56616000);
inline constexpr Guid kClsidResolution = flashpix_guid(0x56616100);
inline constexpr Guid kClsidIccProfile = flashpix_guid(0x56616600);
inline constexpr Guid kClsidSubimageHeader = flashpix_guid(0x00010000);
inline constexpr Guid kClsidSubimageData = flashpix_guid(0x00010100);

// --- CompObj stream ---------------------------------------------------------
inline constexpr uint32_t kCompObjReserved = 0xFFFE0001;
inline constexpr uint32_t kCompObjVersion = 0x00000A03;
inline constexpr uint32_t kCompObjNoFormat = 0xFFFFFFFF;
inline constexpr uint32_t kCompObjUnicodeMarker = 0x71B239F4;
inline constexpr const char *kCompObjUserType = "FlashPix Image";

// --- subimage streams -------------------------------------------------------
// Both subimage streams start with the 28-byte header real files carry:
// byte order, version, OS version, class identifier, count 1.
inline constexpr uint32_t kStreamHeaderSize = 28;
inline constexpr uint32_t kStreamHeaderCount = 1;
// The subimage header proper: nine 32-bit values after the stream header.
inline constexpr uint32_t kSubimageHeaderLength = 36;
inline constexpr uint32_t kTileEntrySize = 16;
inline constexpr uint32_t kTileSize = 64;
// Tile offsets count from byte 28 of the data stream, and real files leave
// 28 bytes before every tile: tile k starts at offset 28 + the bytes of the
// tiles and gaps before it, its data at that offset + 28.
inline constexpr uint32_t kTileGap = 28;

// Tile-table codes.
inline constexpr uint32_t kTileRaw = 0;
inline constexpr uint32_t kTileSingleColour = 1;
inline constexpr uint32_t kTileJpeg = 2;
inline constexpr uint32_t kTileInvalid = 0xFFFFFFFF;
inline constexpr uint8_t kInterleaveChannels = 0;
inline constexpr uint8_t kColourConversionOn = 1;

// --- channel and colour-space codes -----------------------------------------
inline constexpr uint16_t kSpaceMonochrome = 0x8001;  // uncalibrated monochrome
inline constexpr uint16_t kSpacePhotoYcc = 0x0002;    // calibrated PhotoYCC
inline constexpr uint16_t kSpaceRgb = 0x8003;         // uncalibrated RGB
inline constexpr uint16_t kChannelOpacity = 0x7FFE;
// The colour space of a channel as the reader tests it: bits 0-3 (bits 0-5
// for the tile renderer's space number) of the colour-space word; the
// channel within its space in bits 0-11 of the code.
inline constexpr uint16_t kColourSpaceBits = 0x000F;
inline constexpr uint16_t kColourSpaceNumberBits = 0x003F;
inline constexpr uint16_t kColourSpaceNone = 0;
inline constexpr uint16_t kColourSpaceMono = 1;
inline constexpr uint16_t kColourSpacePhotoYcc = 2;
inline constexpr uint16_t kColourSpaceRgb = 3;
inline constexpr uint16_t kChannelCodeBits = 0x0FFF;
inline constexpr uint16_t kChannelInvertBit = 0x8000;
inline constexpr uint32_t kColourCount = 1;

} // namespace kxfpx::fpx
