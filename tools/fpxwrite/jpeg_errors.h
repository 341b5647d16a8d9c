// libjpeg error handling for fpxwrite and its tests: errors jump back to a
// setjmp in the caller's frame with the formatted message; warnings and
// trace messages are not printed.
#pragma once

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace fpxw {

struct JpegErrorManager {
    jpeg_error_mgr pub;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

inline void jpeg_error_jump(j_common_ptr cinfo)
{
    auto *err = reinterpret_cast<JpegErrorManager *>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    longjmp(err->jump, 1);
}

inline void jpeg_no_output(j_common_ptr) {}

// Installs the manager; the caller then runs setjmp(manager.jump).
inline jpeg_error_mgr *install_jpeg_errors(JpegErrorManager &manager)
{
    jpeg_error_mgr *pub = jpeg_std_error(&manager.pub);
    manager.pub.error_exit = jpeg_error_jump;
    manager.pub.output_message = jpeg_no_output;
    manager.message[0] = '\0';
    return pub;
}

} // namespace fpxw
