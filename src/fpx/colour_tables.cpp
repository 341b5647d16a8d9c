// Constant colour tables of the tile renderer (the YCC/RGB matrices, the
// grey palette) and the owner of the five YCC lookup slots.
#include "fpx/colour_steps.h"

#include <cstdlib>

namespace kxfpx::fpx {

const float YCCToRGB[16] = {
    1.0f, 0.0f,      1.402f,    -0.701f,
    1.0f, -0.34414f, -0.71414f, 0.52914f,
    1.0f, 1.772f,    0.0f,      -0.886f,
    0.0f, 0.0f,      0.0f,      1.0f,
};

const float RGBToYCC[16] = {
    0.299f,    0.587f,    0.114f,    0.0f,
    -0.16874f, -0.33126f, 0.5f,      0.5f,
    0.5f,      -0.41869f, -0.08131f, 0.5f,
    0.0f,      0.0f,      0.0f,      1.0f,
};

namespace {

constexpr std::array<uint8_t, kPaletteEntries * 3> make_mono_table()
{
    std::array<uint8_t, kPaletteEntries * 3> t{};
    for (int i = 0; i < kPaletteEntries; ++i)
        t[3 * i] = t[3 * i + 1] = t[3 * i + 2] = static_cast<uint8_t>(i);
    return t;
}

} // namespace

const std::array<uint8_t, kPaletteEntries * 3> FPXMonoTable = make_mono_table();

ColourTables::~ColourTables()
{
    for (int16_t *&slot : slots_) {
        std::free(slot);
        slot = nullptr;
    }
}

bool ColourTables::ensure(int count)
{
    for (int k = 0; k < count && k < kColourSlots; ++k) {
        if (slots_[k])
            continue;
        slots_[k] = static_cast<int16_t *>(std::calloc(kColourTableEntries, sizeof(int16_t)));
        if (!slots_[k])
            return false;
    }
    return true;
}

} // namespace kxfpx::fpx
