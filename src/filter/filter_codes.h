// Numbers of the filter's host interface kept in one place: export ordinals,
// string-table identifiers, escape codes and the setup defaults.
#pragma once

#include <cstdint>

namespace kxfpx::filter {

// Ordinals of the eight export rows, in row order.
constexpr int64_t kOrdinalImportFile = 1001;
constexpr int64_t kOrdinalCreateSetup = 1002;
constexpr int64_t kOrdinalDestroySetup = 1003;
constexpr int64_t kOrdinalEditSetup = 1004;
constexpr int64_t kOrdinalEscapeSetup = 1005;
constexpr int64_t kOrdinalGetFilterVersion = 1006;
constexpr int64_t kOrdinalGetFileInfo = 1007;
constexpr int64_t kOrdinalDllName = 1008;

// String-table identifiers the filter reads.
constexpr int16_t kStrModeKey = 1;           // "~Mode"
constexpr int16_t kStrDriverKey = 4;         // "Driver"
constexpr int16_t kStrColourSourceKey = 5;   // "ColorTableSource"
constexpr int16_t kStrFontStem = 7;          // "Font"
constexpr int16_t kStrColourStem = 8;        // "Color"
constexpr int16_t kStrFile = 9;              // "FILE"
constexpr int16_t kStrNotDefined = -1;       // 0xFFFF, "Not Defined"
// The resolution option's key. The table has no row 5081, so the key text
// is always "Not Defined".
constexpr int16_t kStrResolutionKey = 5081;

// Every caller of LoadString passes a buffer of this size.
constexpr int32_t kStringBufferSize = 144;

// Escapes handled by xEscapeSetup, and those it sends to EscapeSetup to
// fill and hand back a scratch options block.
constexpr int32_t kEscHostReadProc = 81;
constexpr int32_t kEscOptionByte = 82;
constexpr int32_t kEscResolution = 84;
constexpr int32_t kEscGetOptions = 43;
constexpr int32_t kEscSetOptions = 42;
constexpr int32_t kEscPointerSize = 8;   // size of the data that 81 and 82 accept

// Setup defaults.
constexpr int32_t kOptionsSize = 56;          // GetOptionsSize
constexpr int16_t kDefaultResolution = 2;     // highest stored resolution
constexpr const char *kDefaultDriverSuffix = ".0";
constexpr const char *kDefaultFileSpec = "*.*";
constexpr const char *kResolutionWrittenValue = "0";
constexpr int32_t kProgressFirst = 0;
constexpr int32_t kProgressLast = 100;

} // namespace kxfpx::filter
