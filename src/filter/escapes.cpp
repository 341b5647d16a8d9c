// Escapes: xEscapeSetup changes the options block at the end of a setup (the
// host I/O procedure, the option byte, the resolution choice). A record that
// this filter did not make works on a scratch options block, filled and
// handed back through EscapeSetup, the hook for escapes handled elsewhere.
#include <kxfpx/codes.h>
#include <kxfpx/filter.h>
#include <kxfpx/memory.h>
#include <kxfpx/profile.h>

#include <cstring>

#include "filter/filter_codes.h"
#include "filter/string_resource.h"
#include "port/global_lock.h"

namespace {

using namespace kxfpx::filter;

// Applies one escape to `options`; `setup` is the locked record, `own` tells
// whether `options` is the record's own block (the magic matched).
int32_t apply_escape(HGLOBAL handle, FilterSetup &setup, FilterOptions &options, bool own,
                     int32_t code, int32_t size, void *data, void *data2, int32_t flag)
{
    switch (code) {
    case kEscHostReadProc:
        // The pointer value itself is the procedure.
        if (size == kEscPointerSize)
            options.hostReadProc = reinterpret_cast<HostIoProc>(data);
        return KX_OK;
    case kEscOptionByte:
        // A null data pointer sets nothing rather than being read.
        if (size == kEscPointerSize && data)
            options.optionByte = *static_cast<const uint8_t *>(data);
        return KX_OK;
    case kEscResolution: {
        // The size is not checked; a null data pointer sets nothing. The
        // host's value need not be aligned, so it is copied byte-wise.
        if (data)
            std::memcpy(&options.resolutionChoice, data, sizeof options.resolutionChoice);
        if (flag != 0 && own) {
            // The profile always receives "0", whatever value was set.
            const StringResource key(kStrResolutionKey);
            WritePrivateProfileString(setup.modeName, key.text, kResolutionWrittenValue,
                                      setup.profileName);
        }
        return KX_OK;
    }
    default:
        return EscapeSetup(handle, code, size, data, data2, flag);
    }
}

} // namespace

extern "C" {

// The hook for escapes the filter does not handle itself: accepts all.
KX_API int32_t EscapeSetup(HGLOBAL setup, int32_t code, int32_t size, void *data, void *data2,
                           int32_t flag)
{
    (void)setup;
    (void)code;
    (void)size;
    (void)data;
    (void)data2;
    (void)flag;
    return KX_OK;
}

KX_API int32_t xEscapeSetup(HGLOBAL handle, int32_t code, int32_t size, void *data, void *data2,
                            int32_t flag)
{
    if (!handle)
        return KX_OK;
    kxfpx::port::LockedHandle lock(handle);
    FilterSetup *setup = lock.as<FilterSetup>();
    if (!setup)
        return KX_OK;
    if (setup->magic == KX_SETUP_MAGIC)
        return apply_escape(handle, *setup, setup->options, true, code, size, data, data2, flag);

    FilterOptions scratch{};
    EscapeSetup(handle, kEscGetOptions, kOptionsSize, nullptr, &scratch, 0);
    const int32_t result =
        apply_escape(handle, *setup, scratch, false, code, size, data, data2, flag);
    EscapeSetup(handle, kEscSetOptions, kOptionsSize, &scratch, nullptr, 0);
    return result;
}

} // extern "C"
