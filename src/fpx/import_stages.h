// The steps of kxfpx that fill and use the SubimageInfo before the tiles:
// the defaults, the viewing transform with its filter kernel, and the
// picture extent through the affine matrix.
#pragma once

#include "fpx/subimage.h"

#include <kxfpx/output.h>
#include <kxfpx/qorfile.h>

#include <cstdint>

namespace kxfpx::fpx {

// The defaults before the Transform set: aspect ratio and region -1, the
// identity matrices, contrast 1 and the zone codes of the 7 x 7 kernel.
void set_subimage_defaults(SubimageInfo &info);

// Reads "\005Transform %06d" with `index` from the root storage when it
// exists; a missing stream leaves the defaults.
void read_transform(QorFile root, int32_t index, SubimageInfo &info);
// The values of an open Transform property-set stream, as read_transform
// reads them.
void read_transform_values(QorFile stream, SubimageInfo &info);

// Turns the zone codes of the kernel into the weights for the filtering
// value (blur below 0, sharpen from 0 up), with their sum and the size.
void build_kernel(SubimageInfo &info);

// Completes the region and aspect ratio with width / height, scales the
// matrix's translations by the height and returns the picture's extent.
CoordRect picture_extent(SubimageInfo &info, int32_t width, int32_t height);

} // namespace kxfpx::fpx
