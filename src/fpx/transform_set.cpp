// The viewing transform of an import: the SubimageInfo defaults, the
// "\005Transform" property set (aspect ratio, region of interest, filtering,
// affine matrix, colour twist, contrast) and the filter kernel that the
// filtering value selects.
#include "fpx/fpx_format.h"
#include "fpx/image_walk.h"
#include "fpx/import_stages.h"
#include "fpx/owners.h"
#include "fpx/property_values.h"

#include <kxfpx/storage.h>

#include <algorithm>
#include <cmath>

namespace kxfpx::fpx {

namespace {

constexpr float kUnset = -1.0f;
constexpr int kMatrixSize = 16;
constexpr int kRegionRight = 2;
constexpr int kKernelCentre = (kKernelMax * kKernelMax) / 2;

// Zone of each kernel entry: 0 the centre, 1 its ring, 2 and 3 the outer
// rings. A filtering value of larger size reaches farther out.
constexpr float kZoneCodes[kKernelMax * kKernelMax] = {
    3, 3, 3, 3, 3, 3, 3,
    3, 2, 2, 2, 2, 2, 3,
    3, 2, 1, 1, 1, 2, 3,
    3, 2, 1, 0, 1, 2, 3,
    3, 2, 1, 1, 1, 2, 3,
    3, 2, 2, 2, 2, 2, 3,
    3, 3, 3, 3, 3, 3, 3,
};

// Filtering strengths: up to 5 a 3 x 3 kernel, up to 10 a 5 x 5 one, up to
// the cap of 25 the whole 7 x 7 kernel.
constexpr float kStrengthCap = 25.0f;
constexpr float kSmallLimit = 5.0f;
constexpr float kMediumLimit = 10.0f;
constexpr int32_t kSmallKernel = 3;
constexpr int32_t kMediumKernel = 5;
constexpr float kZone2Offset = 5.0f, kZone2Divisor = 20.0f;
constexpr float kZone3Offset = 10.0f, kZone3Divisor = 5.0f;
constexpr double kCentreBase = 25.0, kCentreDivisor = 5.0;
constexpr float kSharpenCentreBoost = 8.0f;

void set_identity(float (&m)[kMatrixSize])
{
    for (int k = 0; k < kMatrixSize; ++k)
        m[k] = (k % 5 == 0) ? 1.0f : 0.0f;
}

} // namespace

void set_subimage_defaults(SubimageInfo &info)
{
    info.aspectRatio = kUnset;
    info.regionOfInterest[0] = 0.0f;
    info.regionOfInterest[1] = 0.0f;
    info.regionOfInterest[2] = kUnset;
    info.regionOfInterest[3] = 1.0f;
    info.filteringValue = 0.0f;
    set_identity(info.affineMatrix);
    set_identity(info.colourTwist);
    info.contrast = 1.0f;
    std::copy(std::begin(kZoneCodes), std::end(kZoneCodes), info.kernel);
    info.kernelSum = 0.0f;
    info.kernelSize = kKernelMax;
}

void build_kernel(SubimageInfo &info)
{
    const float f = info.filteringValue;
    const float s = f < 0.0f ? 1.0f : -1.0f;
    float a = std::fabs(f);
    if (a > kStrengthCap)
        a = kStrengthCap;
    float sum = 0.0f;
    for (float &entry : info.kernel) {
        const float zone = entry;
        float value;
        if (zone == 2.0f)
            value = a > kSmallLimit ? s * (a + kZone2Offset) / kZone2Divisor : 0.0f;
        else if (zone == 3.0f)
            value = a > kMediumLimit ? s * (a - kZone3Offset) / kZone3Divisor : 0.0f;
        else
            value = s * zone;
        entry = value;
        sum += value;
    }
    info.kernelSize = a <= kSmallLimit ? kSmallKernel : (a <= kMediumLimit ? kMediumKernel : kKernelMax);
    float centre = static_cast<float>((kCentreBase - static_cast<double>(a)) / kCentreDivisor);
    if (s != 1.0f) {
        info.kernelSize = kSmallKernel;
        centre += kSharpenCentreBoost;
    }
    info.kernel[kKernelCentre] = centre;
    info.kernelSum = centre + sum;
}

void read_transform(QorFile root, int32_t index, SubimageInfo &info)
{
    StreamOwner stream(qorOpenStream(root, NumberedName(kTransformFormat, index).text));
    if (stream)
        read_transform_values(stream.get(), info);
}

void read_transform_values(QorFile t, SubimageInfo &info)
{
    enum { kRegion, kFiltering, kAffine, kTwist, kContrast, kAspect, kIds };
    const uint32_t ids[kIds] = {kPidRegionOfInterest, kPidFiltering, kPidAffineMatrix,
                                kPidColourTwist,      kPidContrast,  kPidAspectRatio};
    uint32_t pos[kIds];
    FindProperties(t, kIds, ids, pos);

    if (pos[kAspect] != 0)
        (void)read_float_at(t, pos[kAspect], info.aspectRatio);
    if (pos[kRegion] != 0) {
        if (seek_to(t, pos[kRegion] + kValueCountSize))
            (void)qorReadStruct(t, "4f", info.regionOfInterest, 1);
    } else {
        info.regionOfInterest[kRegionRight] = info.aspectRatio;
    }
    if (pos[kFiltering] != 0) {
        (void)read_float_at(t, pos[kFiltering], info.filteringValue);
        build_kernel(info);
    }
    if (pos[kAffine] != 0 && seek_to(t, pos[kAffine] + kValueCountSize))
        (void)qorReadStruct(t, "16f", info.affineMatrix, 1);
    if (pos[kTwist] != 0 && seek_to(t, pos[kTwist] + kValueCountSize))
        (void)qorReadStruct(t, "16f", info.colourTwist, 1);
    if (pos[kContrast] != 0)
        (void)read_float_at(t, pos[kContrast], info.contrast);
}

} // namespace kxfpx::fpx
