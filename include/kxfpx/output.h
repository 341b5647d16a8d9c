/* The output library binding and the control of device and picture, with
 * error and message reporting to the host's status procedure. */
#ifndef KXFPX_OUTPUT_H
#define KXFPX_OUTPUT_H

#include "records.h"
#include "setup.h"

KX_BEGIN_DECLS

KX_API void SetInterpretStructure(FilterSetup *setup, InterpretStructure *interp);

KX_END_DECLS

#endif
