// The setup entries: xCreateSetup makes a FilterSetup in one zero-filled
// movable block and configures it from the filter's profile or from the
// defaults; xDestroySetup frees it. Also the version and options-size
// queries and the default settings shared with the profile code.
#include <kxfpx/codes.h>
#include <kxfpx/filter.h>
#include <kxfpx/memory.h>
#include <kxfpx/profile.h>
#include <kxfpx/strings.h>

#include <cstddef>
#include <cstring>

#include "filter/filter_codes.h"
#include "filter/string_resource.h"
#include "port/field_copy.h"
#include "port/global_lock.h"

namespace {

using namespace kxfpx::filter;

// Room for the whole record: its fixed part plus the options block.
static_assert(offsetof(FilterSetup, options) + kOptionsSize == sizeof(FilterSetup),
              "the setup block is the record followed by its options");

// Fills the setup from the profile found at setup.profileName. Returns false
// when the chosen mode section has no "Driver", which fails the setup.
bool load_found_profile(FilterSetup &setup, const char *modeName)
{
    if (modeName && *modeName) {
        kxfpx::port::copy_field(setup.modeName, modeName);
    } else {
        const StringResource key(kStrModeKey);
        GetPrivateProfileString(szIM_Filter, key.text, "", setup.modeName, sizeof setup.modeName,
                                setup.profileName);
        // A value as long as the buffer arrives without a terminator.
        setup.modeName[sizeof setup.modeName - 1] = '\0';
    }
    return xLoadProfile(&setup, 1, 1) != 0;
}

} // namespace

extern "C" {

KX_API HGLOBAL xCreateSetup(uint64_t module, const char *profileName, const char *modeName)
{
    hInst = module;
    strupr(szIM_Filter);

    HGLOBAL handle =
        GlobalAlloc(KX_GHND, offsetof(FilterSetup, options) + GetOptionsSize());
    if (!handle)
        return nullptr;
    bool keep = true;
    {
        kxfpx::port::LockedHandle lock(handle);
        FilterSetup &setup = *lock.as<FilterSetup>();
        setup.magic = KX_SETUP_MAGIC;
        // The profile is the host's when it names one. Otherwise the name
        // stays empty and GetProfileDirectory derives it from the library's
        // file name: no directory, no last extension, plus ".ini".
        if (profileName && *profileName)
            kxfpx::port::copy_field(setup.profileName, profileName);
        if (GetProfileDirectory(setup.profileName, import_szDLLName) != 0) {
            setup.profileName[0] = '\0';
            xUseDefaultSettings(&setup);
        } else {
            keep = load_found_profile(setup, modeName);
        }
    }
    if (!keep)
        return GlobalFree(handle);
    return handle;
}

KX_API int32_t xDestroySetup(HGLOBAL setup)
{
    if (!GlobalLock(setup))
        return KX_BAD_HANDLE;
    GlobalUnlock(setup);
    GlobalFree(setup);
    return KX_OK;
}

// There is no setup dialog.
KX_API int32_t xEditSetup(void) { return KX_OK; }

KX_API uint32_t QORGetFilterVersion(void) { return KX_FILTER_VERSION; }

KX_API int32_t GetOptionsSize(void) { return kOptionsSize; }

KX_API int32_t qorSetOptions(FilterSetup *setup)
{
    const StringResource key(kStrResolutionKey);
    setup->options.resolutionChoice = static_cast<int16_t>(
        GetPrivateProfileInt(setup->modeName, key.text, kDefaultResolution, setup->profileName));
    return 1;
}

KX_API int32_t xUseDefaultSettings(FilterSetup *setup)
{
    setup->modeName[0] = '\0';
    kxfpx::port::copy_field(setup->driverName, szIM_Filter);
    const size_t used = std::strlen(setup->driverName);
    kxfpx::port::copy_text(setup->driverName + used, sizeof setup->driverName - used,
                     kDefaultDriverSuffix);
    LoadString(hInst, kStrFile, setup->colourTableSource, sizeof setup->colourTableSource);
    if (setup->fileSpecBuffer)
        std::strcpy(setup->fileSpecBuffer, kDefaultFileSpec);
    setup->colourTableLength = 0;
    setup->options.resolutionChoice = kDefaultResolution;
    return qorSetOptions(setup);
}

} // extern "C"
