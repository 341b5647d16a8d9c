// A recording output library: the export rows and table of the real one, but
// every call is only recorded as a line, and results and errors come from
// the test's injections.
#include "recorder.h"

#include <kxfpx/output.h>

#include <map>
#include <string>

namespace {

struct State {
    std::string calls;
    std::map<int32_t, int64_t> results;
    std::map<int32_t, std::pair<int16_t, int16_t>> failures;
    bool pending = false, count_stays_zero = false;
    int16_t code = 0, second = 0;
    void *shared_lib = nullptr;
};

State &state()
{
    static State s;
    return s;
}

// The context's first word points at the record where the loader stores the lib.
struct Context {
    void **record = &shared_lib;
    void *shared_lib = nullptr;
} g_context;

const std::map<int32_t, const char *> kNames = {
    {KX_GDSF_BEGIN_PICTURE, "BeginPicture"}, {KX_GDSF_BEGIN_PICTURE_BODY, "BeginPictureBody"},
    {KX_GDSF_END_PICTURE, "EndPicture"}, {KX_GDSF_BEGIN_REGION, "BeginRegion"},
    {KX_GDSF_END_REGION, "EndRegion"}, {KX_GDSF_SET_OUTPUT_PARAMETER_A, "SetOutputParameterA"},
    {KX_GDSF_SET_OUTPUT_PARAMETER_B, "SetOutputParameterB"},
    {KX_GDSF_SET_OUTPUT_PARAMETER_C, "SetOutputParameterC"}, {KX_GDSF_SET_SCALING, "SetScaling"},
    {KX_GDSF_SET_PICTURE_EXTENT, "SetPictureExtent"}, {KX_GDSF_SET_BACKGROUND, "SetBackground"},
    {KX_GDSF_SET_BODY_RECTANGLE, "SetBodyRectangle"},
    {KX_GDSF_SET_REGION_INDICATOR, "SetRegionIndicator"}, {KX_GDSF_POLYGON, "Polygon"},
    {KX_GDSF_IMAGE_ROWS, "ImageRows"}, {KX_GDSF_BEGIN_IMAGE, "BeginImage"},
    {KX_GDSF_END_IMAGE, "EndImage"}, {KX_GDSF_SET_COLOURS, "SetColours"},
    {KX_GDSF_QUERY_ERROR, "QueryError"}, {KX_GDSF_CLEAR_ERROR, "ClearError"},
    {KX_GDSF_OPEN_WORKSTATION, "OpenWorkstation"}, {KX_GDSF_ACTIVATE_OUTPUT, "ActivateOutput"},
    {KX_GDSF_DEACTIVATE_OUTPUT, "DeactivateOutput"},
    {KX_GDSF_CLOSE_WORKSTATION, "CloseWorkstation"}, {KX_GDSF_SHUTDOWN, "Shutdown"},
    {KX_GDSF_SET_DEVICE_VIEWPORT, "SetDeviceViewport"},
    {KX_GDSF_SET_DEVICE_STRINGS, "SetDeviceStrings"}};

// One word per argument; arrays (but colour tables) show their first element, rectangles all 64
// bits of each slot, reals their bit pattern.
std::string word(int32_t v) { return std::to_string(v); }
std::string word(uint16_t v) { return std::to_string(v); }
std::string word(uint64_t v)
{
    char hex[24];
    snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(v));
    return hex;
}
std::string word(const std::string &s) { return s; }
std::string word(const char *s) { return s ? std::string("\"") + s + "\"" : "null"; }
std::string word(HostRecord *h) { return h ? "host" : "null"; }
std::string word(const int32_t *size) { return word(size[0]) + "x" + word(size[1]); }
std::string word(const uint8_t *rows) { return rows ? std::to_string(rows[0]) : "null"; }
std::string word(const CoordPoint *p)
{
    return p ? word(int32_t(p->x)) + "," + word(int32_t(p->y)) : "null";
}
std::string word(const CoordRect *r)
{
    return std::to_string(r->x1) + " " + std::to_string(r->y1) + " " + std::to_string(r->x2) +
           " " + std::to_string(r->y2);
}
std::string word(const ColourRec *c)
{
    return c ? word(c->red) + "," + word(c->green) + "," + word(c->blue) : "null";
}

template <int32_t Slot, typename... A>
int64_t record(void *, A... args)
{
    State &s = state();
    s.calls += kNames.at(Slot);
    ((s.calls += " " + word(args)), ...);
    s.calls += "\n";
    if (Slot == KX_GDSF_CLEAR_ERROR)
        s.pending = false;
    auto failure = s.failures.find(Slot);
    if (failure != s.failures.end()) {
        s.pending = true;
        s.code = failure->second.first;
        s.second = failure->second.second;
        s.failures.erase(failure);
    }
    auto result = s.results.find(Slot);
    return result == s.results.end() ? 0 : result->second;
}

int64_t query_error(void *c, int32_t wanted, int32_t *count, int16_t *codes)
{
    State &s = state();
    if (s.pending) {
        codes[0] = s.code;
        codes[1] = s.second;
        if (!s.count_stays_zero)
            *count = 1;
        s.pending = false;
    }
    return record<KX_GDSF_QUERY_ERROR>(c, wanted);
}

int64_t set_colours(void *c, uint16_t first, int32_t count, const ColourRec *colours)
{
    std::string list = word(count);
    for (int32_t k = 0; k < count; ++k)
        list += " " + word(&colours[k]);
    return record<KX_GDSF_SET_COLOURS>(c, first, list);
}

template <int32_t Slot, typename... A>
GdsfProc slot(int64_t (*)(void *, A...))
{
    return reinterpret_cast<GdsfProc>(&record<Slot, A...>);
}

GdsfTable *get_table(void *)
{
    static GdsfTable t = [] {
        GdsfTable t = {};
#define SLOT(s, type) t.slots[s] = slot<s>(static_cast<type>(nullptr))
        SLOT(KX_GDSF_BEGIN_PICTURE, GdsfNameProc);
        SLOT(KX_GDSF_BEGIN_PICTURE_BODY, GdsfNoArgProc);
        SLOT(KX_GDSF_END_PICTURE, GdsfNoArgProc);
        SLOT(KX_GDSF_BEGIN_REGION, GdsfIntProc);
        SLOT(KX_GDSF_END_REGION, GdsfNoArgProc);
        SLOT(KX_GDSF_SET_OUTPUT_PARAMETER_A, GdsfIntProc);
        SLOT(KX_GDSF_SET_OUTPUT_PARAMETER_B, GdsfIntProc);
        SLOT(KX_GDSF_SET_OUTPUT_PARAMETER_C, GdsfIntProc);
        SLOT(KX_GDSF_SET_SCALING, GdsfScalingProc);
        SLOT(KX_GDSF_SET_PICTURE_EXTENT, GdsfRectProc);
        SLOT(KX_GDSF_SET_BODY_RECTANGLE, GdsfRectProc);
        SLOT(KX_GDSF_SET_DEVICE_VIEWPORT, GdsfRectProc);
        SLOT(KX_GDSF_SET_BACKGROUND, GdsfColourProc);
        SLOT(KX_GDSF_SET_REGION_INDICATOR, GdsfIntPairProc);
        SLOT(KX_GDSF_POLYGON, GdsfPolygonProc);
        SLOT(KX_GDSF_BEGIN_IMAGE, GdsfBeginImageProc);
        SLOT(KX_GDSF_IMAGE_ROWS, GdsfImageRowsProc);
        SLOT(KX_GDSF_END_IMAGE, GdsfNoArgProc);
        SLOT(KX_GDSF_CLEAR_ERROR, GdsfNoArgProc);
        SLOT(KX_GDSF_OPEN_WORKSTATION, GdsfOpenWorkstationProc);
        SLOT(KX_GDSF_ACTIVATE_OUTPUT, GdsfNameProc);
        SLOT(KX_GDSF_DEACTIVATE_OUTPUT, GdsfNoArgProc);
        SLOT(KX_GDSF_CLOSE_WORKSTATION, GdsfNoArgProc);
        SLOT(KX_GDSF_SHUTDOWN, GdsfNoArgProc);
        SLOT(KX_GDSF_SET_DEVICE_STRINGS, GdsfDeviceStringsProc);
#undef SLOT
        t.slots[KX_GDSF_QUERY_ERROR] = reinterpret_cast<GdsfProc>(&query_error);
        t.slots[KX_GDSF_SET_COLOURS] = reinterpret_cast<GdsfProc>(&set_colours);
        return t;
    }();
    state().calls += "C_GetOutputTable\n";
    return &t;
}

void *open_output(int64_t argument)
{
    state().calls += "C_OpenOutput " + std::to_string(argument) + "\n";
    return &g_context;
}

int32_t unload_output(SharedLib *)
{
    state().shared_lib = g_context.shared_lib;
    state().calls += "UnLoadOutput\n";
    return 0;
}

FilterExportRow g_rows[] = {
    {KX_GDSF_OPEN_ENTRY, 1, reinterpret_cast<void *>(open_output)},
    {KX_GDSF_TABLE_ENTRY, 2, reinterpret_cast<void *>(get_table)},
    {KX_GDSF_UNLOAD_ENTRY, 3, reinterpret_cast<void *>(unload_output)},
};

} // namespace

extern "C" {

RECORDER_API void fltLoadPointers(SharedLib *lib)
{
    if (lib) {
        lib->rowCount = 3;
        lib->rows = g_rows;
    }
}

RECORDER_API void recorder_reset(void)
{
    state() = State();
    g_context.shared_lib = nullptr;
}
RECORDER_API const char *recorder_calls(void) { return state().calls.c_str(); }
RECORDER_API void recorder_set_result(int32_t slot, int64_t value) { state().results[slot] = value; }
RECORDER_API void recorder_fail_after(int32_t slot, int16_t code, int16_t second)
{
    state().failures[slot] = {code, second};
}
RECORDER_API void recorder_query_leaves_count(int32_t on) { state().count_stays_zero = on != 0; }
RECORDER_API void *recorder_shared_lib(void)
{
    return state().shared_lib ? state().shared_lib : g_context.shared_lib;
}
}
