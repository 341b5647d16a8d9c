// The host's status procedure as the output stages reach it: through the
// setup's HostRecord. A setup without a record or without a procedure has
// no status procedure, and every report to it answers 0.
#pragma once

#include <kxfpx/output.h>

namespace kxfpx::output {

// The host record when it carries a status procedure, else null.
inline const HostRecord *host_with_status(const FilterSetup *setup)
{
    if (!setup || !setup->hostRecord || !setup->hostRecord->statusProc)
        return nullptr;
    return setup->hostRecord;
}

// One call of the status procedure through CallGetSet_Status; 0 without one.
inline int32_t send_status(const FilterSetup *setup, int32_t kind, int32_t code, int32_t value1,
                           int32_t value2, int32_t style, MessageArgs *args)
{
    const HostRecord *host = host_with_status(setup);
    if (!host)
        return 0;
    return CallGetSet_Status(host->statusProc, host->userValue, kind, code, value1, value2, style,
                             args);
}

} // namespace kxfpx::output
