// OutputSession: the output start of an import (library, device strings,
// device, picture, background and parameters) and its end (picture, device,
// library), in the order the output library expects them.
#include "fpx/output_session.h"

#include "output/gdsf.h"

#include <kxfpx/codes.h>

using namespace kxfpx::output;

namespace kxfpx::fpx {

namespace {
constexpr const char *kPictureName = "PICTURE 1";
constexpr uint8_t kBlack[3] = {0, 0, 0};
constexpr int32_t kParameterA = 32;
constexpr int32_t kParameterB = 8;
constexpr int32_t kParameterC = 32;
} // namespace

int32_t OutputSession::start()
{
    setup_.gdsf = OpenGDSF(nullptr);
    if (!setup_.gdsf)
        return KX_NO_MEMORY;
    (void)SetDeviceStrings(setup_.gdsf, setup_.deviceString1, setup_.deviceString2,
                           setup_.deviceString3);
    const int32_t opened = OpenDevice(&setup_);
    if (opened != KX_OK)
        return opened;
    deviceOpen_ = true;
    // The background and parameters are set whatever BeginPic answered; its
    // failure is handled only after them.
    const int32_t begun = BeginPic(&setup_, kPictureName);
    (void)SetBackgroundColor(&setup_, kBlack);
    (void)SetOutputParameterA(setup_.gdsf, kParameterA);
    (void)SetOutputParameterB(setup_.gdsf, kParameterB);
    (void)SetOutputParameterC(setup_.gdsf, kParameterC);
    return begun;
}

int32_t OutputSession::end()
{
    if (!setup_.gdsf)
        return KX_OK;
    int32_t closed = KX_OK;
    if (deviceOpen_) {
        if (endPicture_)
            (void)EndPic(&setup_);
        closed = CloseDevice(&setup_);
        deviceOpen_ = false;
    }
    (void)CloseGDSF(setup_.gdsf);
    setup_.gdsf = nullptr;
    return closed;
}

} // namespace kxfpx::fpx
