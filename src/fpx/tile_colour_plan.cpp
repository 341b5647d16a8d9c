// The colour flags of one ReadTiles call: which conversions run on which
// tiles, found once from the channel colours before the first tile; the
// tables and twist they need; and the strip's colour steps in their order
// (twist, PhotoYCC conversion, reordering, contrast).
#include "fpx/fpx_format.h"
#include "fpx/tile_render.h"

namespace kxfpx::fpx {

namespace {

constexpr uint16_t kChannelRed = 0, kChannelGreen = 1, kChannelBlue = 2;
// Bits of the codes of channels 1 and 2 that mark RGB in stored order.
constexpr uint16_t kGreenInPlace = 0x0001, kBlueInPlace = 0x0002;

int32_t space_of(const ChannelColour &c) { return c.colourSpace & kColourSpaceNumberBits; }

// The channel an uncompressed tile with an extra channel drops: the one coded
// 0x7FFE, or the last one of the ch + 1 read when none is. This holds for
// every colour space (the opacity channel is not looked for in monochrome and
// PhotoYCC images otherwise, and the colour channels would be dropped).
int32_t dropped_channel(const SubimageInfo &info, int32_t channels)
{
    const int32_t read = channels + 1;
    for (int32_t k = 0; k < read && k < info.channelCount && k < kMaxChannels; ++k)
        if (info.channelColour[k].channelCode == kChannelOpacity)
            return k;
    return channels;
}

// Position of the first channel (of L) whose code names `colour`, 0 if none.
int32_t colour_position(const SubimageInfo &info, uint16_t colour)
{
    const int32_t L = info.channelCount == 3 ? 3 : 4;
    for (int32_t k = 0; k < L; ++k)
        if ((info.channelColour[k].channelCode & kChannelCodeBits) == colour)
            return k;
    return 0;
}

// A position is lowered by one only when a channel before it was dropped from
// the samples (so an image without opacity keeps its positions as found). A
// position that still falls outside the three samples (it named the dropped
// channel itself) reads channel 0 instead of the next pixel.
int32_t sample_position(int32_t position, const ColourPlan &plan)
{
    if (plan.extraChannel && position > plan.dropIndex)
        --position;
    return position < 3 ? position : 0;
}

} // namespace

void plan_colour(const SubimageInfo &info, const TileGeometry &g, ColourPlan &plan)
{
    plan = ColourPlan{};
    const ChannelColour *cc = info.channelColour;
    plan.space = space_of(cc[0]);
    plan.monochrome = (cc[0].colourSpace & kColourSpaceBits) == kColourSpaceMono;
    plan.rgb = (cc[0].colourSpace & kColourSpaceBits) == kColourSpaceRgb;
    plan.invert = (cc[0].channelCode & kChannelInvertBit) != 0;
    plan.twist = !twist_is_identity(info.colourTwist);
    plan.contrast = info.contrast != 1.0f;
    switch (plan.space) {
    case kColourSpaceNone:
        plan.draw = false;
        break;
    case kColourSpaceMono:
        plan.extraChannel = info.channelCount != 1;
        break;
    case kColourSpacePhotoYcc:
        plan.draw = space_of(cc[1]) == kColourSpacePhotoYcc && space_of(cc[2]) == kColourSpacePhotoYcc;
        plan.photoYccStrip = info.channelCount == 3;
        plan.extraChannel = info.channelCount != 3;
        plan.jpegExtraFlag = plan.extraChannel ? 1 : 0;
        // Four-channel raw tiles get the JPEG decoder's opacity arithmetic,
        // so that raw and JPEG tiles of one image look alike.
        plan.opacityYcc = plan.extraChannel;
        break;
    case kColourSpaceRgb:
        plan.draw = space_of(cc[1]) == kColourSpaceRgb && space_of(cc[2]) == kColourSpaceRgb;
        plan.extraChannel = info.channelCount != 3;
        plan.reorder = !((cc[1].channelCode & kGreenInPlace) && (cc[2].channelCode & kBlueInPlace));
        break;
    default:
        break;  // 4-63: the samples go out as decoded
    }
    // The opacity index is found whenever there is an extra channel, whether
    // or not reordering is on: an image stored R, G, B, opacity keeps its red.
    if (plan.extraChannel)
        plan.dropIndex = dropped_channel(info, g.channels);
    if (plan.reorder) {
        plan.iR = sample_position(colour_position(info, kChannelRed), plan);
        plan.iG = sample_position(colour_position(info, kChannelGreen), plan);
        plan.iB = sample_position(colour_position(info, kChannelBlue), plan);
    }
}

int32_t prepare_colour(TileRender &r)
{
    if (r.plan.space == kColourSpacePhotoYcc) {
        if (!r.colourTables.ensure(kColourSlots))
            return KX_NO_MEMORY;
        FillPhotoYccTables(r.colourTables.slots());
    }
    SubimageInfo &info = *r.info;
    const int32_t space4 = info.channelColour[0].colourSpace & kColourSpaceBits;
    if (r.plan.twist &&
        (space4 == kColourSpaceRgb || (space4 == kColourSpacePhotoYcc && info.channelCount != 3))) {
        PrepareColourTwist(info.colourTwist);
        r.plan.twist = !twist_is_identity(info.colourTwist);
    }
    return KX_OK;
}

int32_t prepare_ycbcr(TileRender &r)
{
    if (!r.plan.ycbcrReady) {
        if (!r.colourTables.ensure(kYCbCrSlots))
            return KX_NO_MEMORY;
        FillYCbCrTables(r.colourTables.slots());
        r.plan.ycbcrReady = true;
    }
    r.plan.invert = (r.info->channelColour[0].channelCode & kChannelInvertBit) != 0;
    r.plan.reorder = false;  // for the rest of the image
    return KX_OK;
}

void colour_steps(TileRender &r, int32_t count, int32_t rows, int32_t pad, uint8_t *samples)
{
    const ColourPlan &plan = r.plan;
    const int32_t ch = r.g.channels;
    if (plan.twist)
        ColourTwist(count, rows, pad, samples, ch, r.info->colourTwist);
    if (plan.photoYccStrip) {
        int16_t **t = r.colourTables.slots();
        PhotoYccToRgb(count, rows, pad, samples, t[kCrR], t[kCbB], t[kCrG], t[kCbG], t[kYscale]);
    }
    if (plan.reorder)
        ReorderChannels(count, rows, pad, samples, plan.iR, plan.iG, plan.iB);
    if (plan.contrast)
        ApplyContrast(count, rows, pad, samples, ch, r.contrastTable.data());
}

} // namespace kxfpx::fpx
