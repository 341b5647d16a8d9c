// StringResource: one string of the filter's string table, loaded by its
// identifier into a buffer of the size every LoadString caller uses. The
// profile keys the setup, escape and profile code read are held this way.
#pragma once

#include <kxfpx/filter.h>

#include "filter/filter_codes.h"

namespace kxfpx::filter {

struct StringResource {
    explicit StringResource(int16_t id) { LoadString(hInst, id, text, sizeof text); }
    char text[kStringBufferSize] = {};
};

} // namespace kxfpx::filter
