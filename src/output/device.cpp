// Picture and device control: opening and closing the output device, the
// picture and its body, background, colour table and viewport, and the
// progress report between tile rows through which the host may cancel.
#include "output/gdsf.h"
#include "output/status_call.h"

#include <kxfpx/codes.h>
#include <kxfpx/memory.h>

#include <cstdint>

using namespace kxfpx::output;

namespace {

constexpr int32_t kProgressRangeCode = -1;        // progress call announcing the range
constexpr uint64_t kRealOne = 0x3FF0000000000000; // the double 1.0
constexpr int64_t kLow16 = 0xFFFF;
constexpr int32_t kCloseWorkstationSecondCode = 2;

GdsfHandle *gdsf_of(FilterSetup *setup) { return setup ? setup->gdsf : nullptr; }

// Reports a non-zero host code to the host and hands it back.
int32_t reported(FilterSetup *setup, int32_t e)
{
    if (e != KX_OK)
        qorgen_error(setup, e);
    return e;
}

// Reads back the library's pending error; a non-zero host code is reported.
int32_t check_and_report(FilterSetup *setup) { return reported(setup, cgierror(setup, nullptr)); }

} // namespace

extern "C" {

// Without a setup or a loaded output library there is no device: 12, not
// reported, nothing called (as CloseDevice does).
KX_API int32_t OpenDevice(FilterSetup *setup)
{
    GdsfHandle *gdsf = gdsf_of(setup);
    if (!gdsf)
        return KX_NO_DEVICE;
    kxfpx::output::send_status(setup, KX_STATUS_PROGRESS, kProgressRangeCode, setup->progressFirst,
                       setup->progressLast, 0, nullptr);
    const auto status = static_cast<int16_t>(OpenWorkstation(
        gdsf, setup->outputName, setup->deviceName, 0, setup->hostValue, setup->hostRecord));
    if (status != 0)
        return reported(setup, maperror(status, 0));
    int32_t e = check_and_report(setup);
    if (e != KX_OK)
        return e;
    ActivateOutput(gdsf, setup->outputName);
    e = cgierror(setup, nullptr);
    if (e == KX_OK)
        return KX_OK;
    CloseWorkstation(gdsf);
    return reported(setup, e);
}

KX_API int32_t BeginPic(FilterSetup *setup, const char *name)
{
    BeginPicture(gdsf_of(setup), name);
    return check_and_report(setup);
}

KX_API int32_t BeginPicBody(FilterSetup *setup)
{
    BeginPictureBody(gdsf_of(setup));
    return check_and_report(setup);
}

KX_API int32_t EndPic(FilterSetup *setup)
{
    EndPicture(gdsf_of(setup));
    return KX_OK;
}

// A null colour pointer sends black.
KX_API int32_t SetBackgroundColor(FilterSetup *setup, const uint8_t *rgb)
{
    ColourRec colour = {0, 0, 0};
    if (rgb)
        colour = {rgb[0], rgb[1], rgb[2]};
    SetBackground(gdsf_of(setup), &colour);
    return KX_OK;
}

// A negative count or one whose buffer size overflows cannot be allocated:
// 27, reported. Null entries with a positive count send black entries.
KX_API int32_t SetColorTable(FilterSetup *setup, int16_t first, int32_t count,
                             const uint8_t *entries)
{
    uint32_t bytes = 0;
    ColourRec *colours = nullptr;
    if (count >= 0 && !__builtin_mul_overflow(static_cast<uint32_t>(count),
                                              static_cast<uint32_t>(sizeof(ColourRec)), &bytes))
        colours = static_cast<ColourRec *>(memalloc(bytes));
    if (!colours) {
        qorgen_error(setup, KX_NO_MEMORY);
        return KX_NO_MEMORY;
    }
    if (entries)
        for (int32_t i = 0; i < count; ++i)
            colours[i] = {entries[3 * i], entries[3 * i + 1], entries[3 * i + 2]};
    SetColours(gdsf_of(setup), static_cast<uint16_t>(first), count, colours);
    void *block = colours;
    if_free(&block);
    return KX_OK;
}

// Null slots send a zero rectangle.
KX_API int64_t SetViewport(FilterSetup *setup, int32_t mode, const CoordRect *slots,
                           int16_t scaleMode)
{
    CoordRect rect = {0, 0, 0, 0};
    if (slots) {
        if (mode == 0)
            rect = {slots->x1 & kLow16, slots->y1 & kLow16, slots->x2 & kLow16,
                    slots->y2 & kLow16};
        else
            rect = *slots;
    }
    GdsfHandle *gdsf = gdsf_of(setup);
    if (scaleMode != 1)
        SetScaling(gdsf, scaleMode, kRealOne);
    return SetDeviceViewport(gdsf, &rect);
}

KX_API int32_t CloseDevice(FilterSetup *setup)
{
    GdsfHandle *gdsf = gdsf_of(setup);
    if (!gdsf)
        return KX_NO_DEVICE;
    DeactivateOutput(gdsf);
    const int32_t e = cgierror(setup, nullptr);
    if (e != KX_OK && e != KX_CANCELLED)
        qorgen_error(setup, e);
    const auto status = static_cast<int16_t>(CloseWorkstation(gdsf));
    if (status != 0) {
        // Reported as mapped, even when the status maps to 0.
        const int32_t e2 = maperror(status, kCloseWorkstationSecondCode);
        qorgen_error(setup, e2);
        return e2;
    }
    return e;
}

KX_API int32_t esc_chk(FilterSetup *setup)
{
    if (!kxfpx::output::host_with_status(setup))
        return 0;
    // A non-zero answer already is the host's answer to the cancel question.
    if (kxfpx::output::send_status(setup, KX_STATUS_PROGRESS, 0, setup->progressPercent, 0, 0, nullptr) ==
        0)
        return 0;
    setup->errorCode = 0;
    return KX_CANCELLED;
}

KX_API int32_t chk_esc(FilterSetup *setup)
{
    if (esc_chk(setup) == KX_CANCELLED)
        return KX_CANCELLED;
    const int32_t e = cgierror(setup, nullptr);
    if (e != KX_OK)
        ClearError(gdsf_of(setup));
    return e;
}

} // extern "C"
