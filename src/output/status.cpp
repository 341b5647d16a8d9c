// Error and message reporting: output-library errors mapped into the host's
// code space, and reports, messages, questions and progress sent to the
// host's status procedure, with the cancel question after a progress answer.
#include "output/gdsf.h"
#include "output/status_call.h"

#include <kxfpx/codes.h>

#include <cstdint>

using namespace kxfpx::output;

namespace {

// Output error codes by range (compared unsigned, so negative codes land in
// the last row): each row covers the codes up to and including `last`.
struct CodeRange {
    uint32_t last;
    int32_t host;
};
constexpr CodeRange kOutputCodes[] = {
    {KX_GDSF_ERR_NONE, KX_OK},
    {KX_GDSF_ERR_STATE - 1, KX_OUTPUT_ERROR},
    {KX_GDSF_ERR_STATE, KX_OUTPUT_STATE},
    {KX_GDSF_ERR_DEVICE_LAST, KX_NO_DEVICE},
    {KX_GDSF_ERR_NOT_AN_ERROR - 1, KX_OUTPUT_ERROR},
    {KX_GDSF_ERR_NOT_AN_ERROR, KX_OK},
    {KX_GDSF_ERR_DEVICE_IO_FIRST - 1, KX_OUTPUT_ERROR},
    {KX_GDSF_ERR_DEVICE_IO_LAST, KX_OUTPUT_DEVICE},
    {KX_GDSF_ERR_LIMIT - 1, KX_OUTPUT_ERROR},
    {KX_GDSF_ERR_LIMIT, KX_OUTPUT_LIMIT},
    {KX_GDSF_ERR_MEMORY - 1, KX_OUTPUT_ERROR},
    {KX_GDSF_ERR_MEMORY, KX_NO_MEMORY},
    {KX_GDSF_ERR_PARAMETER, KX_OUTPUT_PARAMETER},
    {KX_GDSF_ERR_FILE, KX_MISSING_STRUCTURE}, // 9 instead with second code 269
    {KX_GDSF_ERR_UNSUPPORTED, KX_OUTPUT_UNSUPPORTED},
    {KX_GDSF_ERR_RESOURCE_LAST, KX_OUTPUT_RESOURCE},
    {KX_GDSF_ERR_CANCELLED - 1, KX_OUTPUT_ERROR},
    {KX_GDSF_ERR_CANCELLED, KX_CANCELLED},
    {UINT32_MAX, KX_OUTPUT_ERROR},
};

// Style sent with a report: how the host should present the code.
int32_t style_of(int32_t code)
{
    switch (code) {
    case KX_OUTPUT_WRITE_FAILED:
    case 56:
    case 60:
    case 4867:
        return 1;
    case 57:
    case 59:
    case 527:
    case 775:
    case 784:
        return 2;
    default:
        return 0;
    }
}

int32_t report(FilterSetup *setup, int32_t kind, int32_t code, uint64_t a1, uint64_t a2,
               uint64_t a3, uint64_t a4, uint64_t a5, uint64_t a6, uint64_t a7, uint64_t a8,
               uint64_t a9, uint64_t a10)
{
    MessageArgs args = {{a1, a2, a3, a4, a5, a6, a7, a8, a9, a10}};
    return err_hand(setup, code, kind, &args);
}

} // namespace

extern "C" {

KX_API int32_t maperror(int32_t code, int32_t secondCode)
{
    const auto value = static_cast<uint32_t>(code);
    if (value == KX_GDSF_ERR_FILE)
        return secondCode == KX_GDSF_FILE_CANNOT_WRITE ? KX_OUTPUT_WRITE_FAILED
                                                       : KX_MISSING_STRUCTURE;
    for (const CodeRange &range : kOutputCodes)
        if (value <= range.last)
            return range.host;
    return KX_OUTPUT_ERROR; // not reached: the last row covers every value
}

// codes receives the pair the library reported; a null pointer is allowed.
KX_API int32_t cgierror(FilterSetup *setup, int16_t *codes)
{
    int16_t scratch[2] = {0, 0};
    if (!codes)
        codes = scratch;
    int32_t count = 0;
    QueryError(setup ? setup->gdsf : nullptr, 1, &count, codes);
    if (count == 0)
        return KX_OK;
    return maperror(codes[0], codes[1]);
}

KX_API void set_err(FilterSetup *setup, int32_t code)
{
    if (setup)
        setup->errorCode = code;
}

KX_API int32_t CallGetSet_Status(StatusProc proc, uint64_t userValue, int32_t kind, int32_t code,
                                 int32_t value1, int32_t value2, int32_t style,
                                 MessageArgs *args)
{
    if (!proc)
        return 0;
    const int32_t answer = proc(userValue, kind, code, value1, value2, style, args);
    if (answer == 0)
        return 0;
    if (kind == KX_STATUS_PROGRESS && code == 0) {
        // A non-zero answer to a progress report asks for a stop: confirm it.
        MessageArgs none = {};
        return proc(userValue, KX_STATUS_QUESTION, KX_CANCELLED, 0, 0, 0, &none);
    }
    return answer;
}

KX_API int32_t err_hand(FilterSetup *setup, int32_t code, int32_t kind, MessageArgs *args)
{
    if (!kxfpx::output::host_with_status(setup))
        return 0;
    const int32_t answer = kxfpx::output::send_status(setup, kind, code, 0, 0, style_of(code), args);
    return answer ? KX_CANCELLED : 0;
}

KX_API int32_t message(FilterSetup *setup, int32_t code, uint64_t a1, uint64_t a2, uint64_t a3,
                       uint64_t a4, uint64_t a5, uint64_t a6, uint64_t a7, uint64_t a8,
                       uint64_t a9, uint64_t a10)
{
    return report(setup, KX_STATUS_MESSAGE, code, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10);
}

KX_API int32_t ask_yesno(FilterSetup *setup, int32_t code, uint64_t a1, uint64_t a2, uint64_t a3,
                         uint64_t a4, uint64_t a5, uint64_t a6, uint64_t a7, uint64_t a8,
                         uint64_t a9, uint64_t a10)
{
    return report(setup, KX_STATUS_QUESTION, code, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10);
}

KX_API int32_t qorgen_error(FilterSetup *setup, int32_t code, uint64_t a1, uint64_t a2,
                            uint64_t a3, uint64_t a4, uint64_t a5, uint64_t a6, uint64_t a7,
                            uint64_t a8, uint64_t a9, uint64_t a10)
{
    return report(setup, KX_STATUS_ERROR, code, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10);
}

} // extern "C"
