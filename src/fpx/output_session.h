// The output side of one import: loading the output library, opening the
// device and beginning the picture, and ending whatever was begun (the
// picture when asked, the device, the library) on every path.
#pragma once

#include <kxfpx/output.h>
#include <kxfpx/setup.h>

#include <cstdint>

namespace kxfpx::fpx {

class OutputSession {
public:
    explicit OutputSession(FilterSetup &setup) : setup_(setup) {}
    // A session that was not ended closes the device (when open) and the
    // library without ending the picture.
    ~OutputSession() { (void)end(); }
    OutputSession(const OutputSession &) = delete;
    OutputSession &operator=(const OutputSession &) = delete;

    // OpenGDSF, SetDeviceStrings, OpenDevice, BeginPic "PICTURE 1", the
    // black background and the three output parameters: 0, 27 when the
    // library cannot be loaded, or the code of OpenDevice or BeginPic.
    [[nodiscard]] int32_t start();

    // From now on a failure ends the picture with EndPic before the device
    // closes, as the normal end does.
    void end_picture_on_exit() { endPicture_ = true; }

    // EndPic (when asked), CloseDevice, CloseGDSF; returns CloseDevice's
    // code (0 when no device was open). Does nothing a second time.
    int32_t end();

private:
    FilterSetup &setup_;
    bool deviceOpen_ = false;
    bool endPicture_ = false;
};

} // namespace kxfpx::fpx
