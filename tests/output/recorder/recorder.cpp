// A recording output library for the output tests: its export rows and
// function table are those of the real output library, but every call is
// only recorded, and statuses and errors come from the test's injections.
#include "recorder.h"

#include <kxfpx/output.h>

#include <map>
#include <string>

namespace {

struct Record {
    void *shared_lib = nullptr;
};

struct Context {
    Record *record;
    Record storage;
    Context() : record(&storage) {}
};

struct State {
    std::string calls;
    std::map<int32_t, int64_t> results;
    std::map<int32_t, std::pair<int16_t, int16_t>> failures;
    bool pending = false;
    int16_t code = 0, second = 0;
    bool count_stays_zero = false;
    void *shared_lib = nullptr;
    int64_t open_argument = -1;
};

State &state()
{
    static State s;
    return s;
}

std::string low(int64_t slot) { return std::to_string(static_cast<int32_t>(slot)); }
std::string text(const char *s) { return s ? std::string("\"") + s + "\"" : "null"; }
std::string rect(const CoordRect *r)
{
    if (!r)
        return "null";
    return std::to_string(r->x1) + " " + std::to_string(r->y1) + " " + std::to_string(r->x2) +
           " " + std::to_string(r->y2);
}
std::string point(const CoordPoint *p) { return p ? low(p->x) + "," + low(p->y) : "null"; }

int64_t done(int32_t slot, const std::string &line)
{
    State &s = state();
    s.calls += line + "\n";
    auto failure = s.failures.find(slot);
    if (failure != s.failures.end()) {
        s.pending = true;
        s.code = failure->second.first;
        s.second = failure->second.second;
        s.failures.erase(failure);
    }
    auto result = s.results.find(slot);
    return result == s.results.end() ? 0 : result->second;
}

#define NO_ARG(name, slot)                                                                     \
    int64_t name(void *) { return done(slot, #name); }
NO_ARG(BeginPictureBody, KX_GDSF_BEGIN_PICTURE_BODY)
NO_ARG(EndPicture, KX_GDSF_END_PICTURE)
NO_ARG(EndRegion, KX_GDSF_END_REGION)
NO_ARG(EndImage, KX_GDSF_END_IMAGE)
NO_ARG(DeactivateOutput, KX_GDSF_DEACTIVATE_OUTPUT)
NO_ARG(CloseWorkstation, KX_GDSF_CLOSE_WORKSTATION)
NO_ARG(Shutdown, KX_GDSF_SHUTDOWN)
#undef NO_ARG

int64_t ClearError(void *)
{
    state().pending = false;
    return done(KX_GDSF_CLEAR_ERROR, "ClearError");
}
int64_t BeginPicture(void *, const char *n)
{
    return done(KX_GDSF_BEGIN_PICTURE, "BeginPicture " + text(n));
}
int64_t ActivateOutput(void *, const char *n)
{
    return done(KX_GDSF_ACTIVATE_OUTPUT, "ActivateOutput " + text(n));
}
int64_t BeginRegion(void *, int32_t v)
{
    return done(KX_GDSF_BEGIN_REGION, "BeginRegion " + std::to_string(v));
}
int64_t SetOutputParameterA(void *, int32_t v)
{
    return done(KX_GDSF_SET_OUTPUT_PARAMETER_A, "SetOutputParameterA " + std::to_string(v));
}
int64_t SetOutputParameterB(void *, int32_t v)
{
    return done(KX_GDSF_SET_OUTPUT_PARAMETER_B, "SetOutputParameterB " + std::to_string(v));
}
int64_t SetOutputParameterC(void *, int32_t v)
{
    return done(KX_GDSF_SET_OUTPUT_PARAMETER_C, "SetOutputParameterC " + std::to_string(v));
}
int64_t SetRegionIndicator(void *, int32_t a, int32_t b)
{
    return done(KX_GDSF_SET_REGION_INDICATOR,
                "SetRegionIndicator " + std::to_string(a) + " " + std::to_string(b));
}
int64_t SetScaling(void *, int32_t mode, uint64_t bits)
{
    char hex[24];
    snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(bits));
    return done(KX_GDSF_SET_SCALING, "SetScaling " + std::to_string(mode) + " " + hex);
}
// Rectangles are recorded with all 64 bits of each slot.
int64_t SetPictureExtent(void *, const CoordRect *r)
{
    return done(KX_GDSF_SET_PICTURE_EXTENT, "SetPictureExtent " + rect(r));
}
int64_t SetBodyRectangle(void *, const CoordRect *r)
{
    return done(KX_GDSF_SET_BODY_RECTANGLE, "SetBodyRectangle " + rect(r));
}
int64_t SetDeviceViewport(void *, const CoordRect *r)
{
    return done(KX_GDSF_SET_DEVICE_VIEWPORT, "SetDeviceViewport " + rect(r));
}
int64_t SetBackground(void *, const ColourRec *c)
{
    return done(KX_GDSF_SET_BACKGROUND, "SetBackground " + std::to_string(c->red) + "," +
                                            std::to_string(c->green) + "," +
                                            std::to_string(c->blue));
}
int64_t Polygon(void *, int32_t count, const CoordPoint *p)
{
    std::string line = "Polygon " + std::to_string(count);
    for (int32_t k = 0; k < count; ++k)
        line += " " + point(&p[k]);
    return done(KX_GDSF_POLYGON, line);
}
int64_t BeginImage(void *, const CoordPoint *p0, const CoordPoint *p1, const CoordPoint *p2,
                   const int32_t *size, int32_t format, int32_t a, int32_t b, int32_t c,
                   int32_t d)
{
    return done(KX_GDSF_BEGIN_IMAGE, "BeginImage " + point(p0) + " " + point(p1) + " " +
                                         point(p2) + " " + std::to_string(size[0]) + "x" +
                                         std::to_string(size[1]) + " " +
                                         std::to_string(format) + " " + std::to_string(a) +
                                         " " + std::to_string(b) + " " + std::to_string(c) +
                                         " " + std::to_string(d));
}
int64_t ImageRows(void *, const CoordPoint *p0, const CoordPoint *p1, const CoordPoint *p2,
                  const int32_t *size, int32_t format, int32_t a, const uint8_t *rows)
{
    return done(KX_GDSF_IMAGE_ROWS, "ImageRows " + point(p0) + " " + point(p1) + " " +
                                        point(p2) + " " + std::to_string(size[0]) + "x" +
                                        std::to_string(size[1]) + " " + std::to_string(format) +
                                        " " + std::to_string(a) + " " +
                                        std::to_string(rows ? rows[0] : -1));
}
int64_t SetColours(void *, uint16_t first, int32_t count, const ColourRec *c)
{
    std::string line = "SetColours " + std::to_string(first) + " " + std::to_string(count);
    for (int32_t k = 0; k < count && k < 3; ++k)
        line += " " + std::to_string(c[k].red) + "," + std::to_string(c[k].green) + "," +
                std::to_string(c[k].blue);
    return done(KX_GDSF_SET_COLOURS, line);
}
int64_t QueryError(void *, int32_t wanted, int32_t *count, int16_t *codes)
{
    State &s = state();
    if (s.pending) {
        codes[0] = s.code;
        codes[1] = s.second;
        if (!s.count_stays_zero)
            *count = 1;
        s.pending = false;
    }
    return done(KX_GDSF_QUERY_ERROR, "QueryError " + std::to_string(wanted));
}
int64_t OpenWorkstation(void *, const char *out, const char *dev, int32_t flags, uint64_t value,
                        HostRecord *host)
{
    char hex[24];
    snprintf(hex, sizeof hex, "%llx", static_cast<unsigned long long>(value));
    return done(KX_GDSF_OPEN_WORKSTATION, "OpenWorkstation " + text(out) + " " + text(dev) +
                                              " " + std::to_string(flags) + " " + hex + " " +
                                              (host ? "host" : "null"));
}
int64_t SetDeviceStrings(void *, const char *a, const char *b, const char *c)
{
    return done(KX_GDSF_SET_DEVICE_STRINGS,
                "SetDeviceStrings " + text(a) + " " + text(b) + " " + text(c));
}

GdsfTable make_table()
{
    GdsfTable t = {};
#define SLOT(slot, type, fn) t.slots[slot] = reinterpret_cast<GdsfProc>(static_cast<type>(fn))
    SLOT(KX_GDSF_BEGIN_PICTURE, GdsfNameProc, BeginPicture);
    SLOT(KX_GDSF_BEGIN_PICTURE_BODY, GdsfNoArgProc, BeginPictureBody);
    SLOT(KX_GDSF_END_PICTURE, GdsfNoArgProc, EndPicture);
    SLOT(KX_GDSF_BEGIN_REGION, GdsfIntProc, BeginRegion);
    SLOT(KX_GDSF_END_REGION, GdsfNoArgProc, EndRegion);
    SLOT(KX_GDSF_SET_OUTPUT_PARAMETER_A, GdsfIntProc, SetOutputParameterA);
    SLOT(KX_GDSF_SET_OUTPUT_PARAMETER_B, GdsfIntProc, SetOutputParameterB);
    SLOT(KX_GDSF_SET_OUTPUT_PARAMETER_C, GdsfIntProc, SetOutputParameterC);
    SLOT(KX_GDSF_SET_SCALING, GdsfScalingProc, SetScaling);
    SLOT(KX_GDSF_SET_PICTURE_EXTENT, GdsfRectProc, SetPictureExtent);
    SLOT(KX_GDSF_SET_BODY_RECTANGLE, GdsfRectProc, SetBodyRectangle);
    SLOT(KX_GDSF_SET_DEVICE_VIEWPORT, GdsfRectProc, SetDeviceViewport);
    SLOT(KX_GDSF_SET_BACKGROUND, GdsfColourProc, SetBackground);
    SLOT(KX_GDSF_SET_REGION_INDICATOR, GdsfIntPairProc, SetRegionIndicator);
    SLOT(KX_GDSF_POLYGON, GdsfPolygonProc, Polygon);
    SLOT(KX_GDSF_BEGIN_IMAGE, GdsfBeginImageProc, BeginImage);
    SLOT(KX_GDSF_IMAGE_ROWS, GdsfImageRowsProc, ImageRows);
    SLOT(KX_GDSF_END_IMAGE, GdsfNoArgProc, EndImage);
    SLOT(KX_GDSF_SET_COLOURS, GdsfSetColoursProc, SetColours);
    SLOT(KX_GDSF_QUERY_ERROR, GdsfQueryErrorProc, QueryError);
    SLOT(KX_GDSF_CLEAR_ERROR, GdsfNoArgProc, ClearError);
    SLOT(KX_GDSF_OPEN_WORKSTATION, GdsfOpenWorkstationProc, OpenWorkstation);
    SLOT(KX_GDSF_ACTIVATE_OUTPUT, GdsfNameProc, ActivateOutput);
    SLOT(KX_GDSF_DEACTIVATE_OUTPUT, GdsfNoArgProc, DeactivateOutput);
    SLOT(KX_GDSF_CLOSE_WORKSTATION, GdsfNoArgProc, CloseWorkstation);
    SLOT(KX_GDSF_SHUTDOWN, GdsfNoArgProc, Shutdown);
    SLOT(KX_GDSF_SET_DEVICE_STRINGS, GdsfDeviceStringsProc, SetDeviceStrings);
#undef SLOT
    return t;
}

Context g_context;

void *open_output(int64_t argument)
{
    state().open_argument = argument;
    state().calls += "C_OpenOutput " + std::to_string(argument) + "\n";
    return &g_context;
}

GdsfTable *get_table(void *)
{
    static GdsfTable table = make_table();
    state().calls += "C_GetOutputTable\n";
    return &table;
}

int32_t unload_output(SharedLib *)
{
    state().shared_lib = g_context.storage.shared_lib;
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
    g_context.storage.shared_lib = nullptr;
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
    return state().shared_lib ? state().shared_lib : g_context.storage.shared_lib;
}
RECORDER_API int64_t recorder_open_argument(void) { return state().open_argument; }
}
