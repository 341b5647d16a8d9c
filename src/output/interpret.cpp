// SetInterpretStructure: binds the host's interpret structure to a setup at
// the start of an import, before the output library is opened: the host's
// record and value, the device strings and the FAT sector limit.
#include <kxfpx/output.h>

#include "port/field_copy.h"

extern "C" {

KX_API void SetInterpretStructure(FilterSetup *setup, InterpretStructure *interp)
{
    if (!setup || !interp)
        return;
    setup->gdsf = nullptr;
    setup->progressPercent = 0;
    setup->hostRecord = interp->hostRecord;
    setup->hostValue = interp->hostValue;
    setup->interpretStructure = interp;
    // A null pointer leaves its field as it was.
    if (interp->deviceString1)
        kxfpx::port::copy_field(setup->deviceString1, interp->deviceString1);
    if (interp->deviceString2)
        kxfpx::port::copy_field(setup->deviceString2, interp->deviceString2);
    if (interp->deviceString3)
        kxfpx::port::copy_field(setup->deviceString3, interp->deviceString3);
    setup->fatSectorLimit = static_cast<int32_t>(static_cast<uint32_t>(interp->fatSectorLimit));
}

} // extern "C"
