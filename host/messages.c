/* The host's wording of the filter's status codes: one readable line per
 * failed file, naming it, with the code's number at the end. */
#include "host.h"

#include <stdio.h>

#include <kxfpx/codes.h>

const char *code_text(int32_t code)
{
    switch (code) {
    case KX_OK: return "success";
    case KX_CANNOT_OPEN: return "cannot open the file";
    case KX_NOT_FLASHPIX: return "not a FlashPix file";
    case KX_MISSING_STRUCTURE: return "damaged or unsupported content";
    case KX_BAD_DATA: return "invalid values in the file";
    case KX_NO_MEMORY: return "out of memory (or libzo_unx2.so is missing)";
    case KX_OUTPUT_WRITE_FAILED: return "cannot write the output";
    case KX_CANCELLED: return "cancelled";
    case KX_NO_DEVICE: return "no output device";
    case KX_OUTPUT_DEVICE: return "the output device failed";
    case KX_OUTPUT_UNSUPPORTED: return "the output library does not support the request";
    case KX_OUTPUT_RESOURCE: return "the output library ran out of a resource";
    case KX_OUTPUT_PARAMETER: return "the picture is empty or too large";
    case KX_OUTPUT_LIMIT: return "an output device limit was exceeded";
    case KX_OUTPUT_ERROR: return "the output library reported an error";
    case KX_OUTPUT_STATE: return "the output library was called out of order";
    case KX_INFO_FIELD:
    case KX_INFO_VALUE: return "the file information holds an impossible value";
    default: return "failed";
    }
}

/* "fpxconv: FILE: TEXT (code N)"; the output is named when writing it
 * failed. */
void report_code(const char *file, int32_t code, const char *output)
{
    if (code == KX_OUTPUT_WRITE_FAILED && output)
        fprintf(stderr, FPXCONV_NAME ": %s: %s %s (code %d)\n", file, code_text(code), output,
                (int)code);
    else
        fprintf(stderr, FPXCONV_NAME ": %s: %s (code %d)\n", file, code_text(code), (int)code);
}
