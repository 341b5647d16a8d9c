// ImportFile: the entry a host calls to import one file. It locks the setup
// named by the interpret structure, binds the host's records to it, records
// the device, output and input names and runs the import driver.
#include <kxfpx/codes.h>
#include <kxfpx/filter.h>
#include <kxfpx/output.h>

#include "filter/filter_codes.h"
#include "fpx/subimage.h"
#include "port/field_copy.h"
#include "port/global_lock.h"

extern "C" {

KX_API int32_t ImportFile(uint64_t unused, const char *deviceName, const char *outputName,
                          const char *importPath, InterpretStructure *interp)
{
    (void)unused;
    // Without an interpret structure or a setup there is nothing to import
    // into; the host hears the same code as for an input it cannot open.
    if (!interp)
        return KX_CANNOT_OPEN;
    kxfpx::port::LockedHandle lock(interp->setup);
    FilterSetup *setup = lock.as<FilterSetup>();
    if (!setup)
        return KX_CANNOT_OPEN;

    SetInterpretStructure(setup, interp);
    setup->progressFirst = kxfpx::filter::kProgressFirst;
    setup->progressLast = kxfpx::filter::kProgressLast;
    kxfpx::port::copy_field(setup->deviceName, deviceName);
    kxfpx::port::copy_field(setup->outputName, outputName);
    kxfpx::port::copy_field(setup->importPath, importPath);

    return kxfpx::fpx::kxfpx(setup);
}

} // extern "C"
