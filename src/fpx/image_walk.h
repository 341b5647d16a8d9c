// The property-set path that the import and the file-information query
// share: the data object that holds the image, the Image Contents facts
// (highest resolution, full size, JPEG table count), the resolution storage
// with its two fallbacks, and the chosen resolution's colour and size.
#pragma once

#include "fpx/subimage.h"

#include <kxfpx/qorfile.h>

#include <cstdint>

namespace kxfpx::fpx {

// The first data object, from `highest` down to 1, whose flag property is
// non-zero; 0 when none is.
[[nodiscard]] int32_t marked_data_object(QorFile root, int32_t highest);

// Formats a numbered stream or storage name ("\005Data Object %06d", ...).
struct NumberedName {
    NumberedName(const char *format, int32_t index);
    char text[64];
};

struct ContentsFacts {
    int32_t highest = 0;           // highest resolution index: count - 1
    int32_t width = 0, height = 0; // full size, or the 640 x 480 default
    uint32_t maxTablePos = 0;      // position of the highest JPEG table index, 0 when absent
};
ContentsFacts read_contents_facts(QorFile contents);

// Opens "Resolution %04d" with `index`; when it is missing, the number of
// halvings of max(width, height) still above 63, then that number plus one.
// `opened` receives the index of the storage that opened; null when none.
[[nodiscard]] QorFile open_resolution(QorFile store, int32_t index, int32_t width, int32_t height,
                                      int32_t &opened);

// The chosen resolution's colour property and size.
struct ResolutionFacts {
    bool hasColour = false;
    int32_t colourCount = 0;
    int32_t channelCount = 0;      // capped at 4
    bool hasSize = false;
    int32_t width = 0, height = 0;
};
// Reads the colour count, the channel count and (up to four) channel
// colours into `info`, and the resolution's own size when both of its
// properties are there.
ResolutionFacts read_resolution_facts(QorFile contents, int32_t resolution, SubimageInfo &info);

// Integer halving toward zero, `times` times.
int32_t halved(int32_t value, int32_t times);

} // namespace kxfpx::fpx
