// libzo_unx2.so: the output library. fltLoadPointers hands out the rows
// "C_OpenOutput", "C_GetOutputTable" and "UnLoadOutput"; the table's slots
// draw into a Picture, log every call when KXFPX_OUTPUT_LOG is set, and
// write the finished picture as a PNG to the output name of OpenWorkstation.
// With KXFPX_OUTPUT_DISCARD set (to anything but "" or "0") the library is a
// sink for benchmarks: it takes no canvas, drops every band of rows and
// writes no picture. KXFPX_OUTPUT_PNG_LEVEL (one digit, 0..9) sets the zlib
// level of the PNG; unset or anything else keeps libpng's default.
#include "call_log.h"
#include "picture.h"
#include "png_write.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace zo {

namespace {

// The object the context's first word points to; the filter stores in its
// first word the SharedLib the library was loaded as.
struct LibraryRecord {
    void *shared_lib = nullptr;
};

struct Context {
    LibraryRecord *record; // first word, by contract with the loader
    LibraryRecord record_storage;
    Context *next = nullptr;

    std::string output_name;
    FILE *output = nullptr;      // opened for appending: see open_workstation
    bool existed = false;        // the output file was there before the open
    bool written = false;        // a PNG went to the output file
    bool picture_open = false;   // begun and not yet ended
    Picture picture;

    int16_t error = 0, second = 0; // the first error not yet queried
    bool error_pending = false;
    bool discard;                  // a sink: rows are dropped, nothing is drawn

    Context() : record(&record_storage), discard(discard_selected()) {}
    static bool discard_selected()
    {
        const char *v = std::getenv("KXFPX_OUTPUT_DISCARD");
        return v && *v && std::strcmp(v, "0") != 0;
    }
    void raise(int32_t code, int32_t second_code = 0)
    {
        if (code == KX_GDSF_ERR_NONE || error_pending)
            return;
        error = static_cast<int16_t>(code);
        second = static_cast<int16_t>(second_code);
        error_pending = true;
    }
};

// Every live context, so that UnLoadOutput can free those a host never
// shut down. The only global state of the library.
std::mutex g_contexts_lock;
Context *g_contexts = nullptr;

void register_context(Context *ctx)
{
    std::lock_guard<std::mutex> lock(g_contexts_lock);
    ctx->next = g_contexts;
    g_contexts = ctx;
}

void unregister_context(Context *ctx)
{
    std::lock_guard<std::mutex> lock(g_contexts_lock);
    for (Context **link = &g_contexts; *link; link = &(*link)->next)
        if (*link == ctx) {
            *link = ctx->next;
            return;
        }
}

Context *context_of(void *context) { return static_cast<Context *>(context); }

// A status that says there is no device behind a null context.
constexpr int64_t kNoContextStatus = KX_GDSF_ERR_DEVICE_FIRST;

// The zlib level a host asked for through the environment. A host sets the
// variable before it imports; anything but a single digit is ignored rather
// than refused, so a stray value never fails an import.
int png_level()
{
    const char *v = std::getenv("KXFPX_OUTPUT_PNG_LEVEL");
    if (v && v[0] >= '0' && v[0] <= '9' && v[1] == '\0')
        return v[0] - '0';
    return ZO_PNG_LEVEL_DEFAULT;
}

// Writes the picture into the output file (from its start). 0 or an error.
int32_t write_picture(Context *ctx)
{
    if (!ctx->output || !ctx->picture.has_canvas())
        return KX_GDSF_ERR_NONE;
    // Appending writes go to the end of the file, which is its start once
    // it is truncated. A pipe or a device is written as it is.
    struct stat info;
    const int fd = fileno(ctx->output);
    const bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (std::fflush(ctx->output) != 0 || (regular && ftruncate(fd, 0) != 0) ||
        zo_write_png(ctx->output, static_cast<uint32_t>(ctx->picture.width()),
                     static_cast<uint32_t>(ctx->picture.height()), ctx->picture.pixels(),
                     ctx->picture.is_grey(), png_level()) != 0)
        return KX_GDSF_ERR_FILE;
    ctx->written = true;
    return KX_GDSF_ERR_NONE;
}

// Closes the output file. One that this run created and never wrote a
// picture into is removed, so that a failed run leaves no empty file behind;
// one that was there before keeps its old contents.
void close_output(Context *ctx)
{
    if (!ctx->output)
        return;
    std::fclose(ctx->output);
    ctx->output = nullptr;
    if (!ctx->written && !ctx->existed)
        unlink(ctx->output_name.c_str());
}

void destroy_context(Context *ctx)
{
    close_output(ctx);
    delete ctx;
}

// Runs a slot body; memory exhaustion inside it becomes output error 300
// instead of an exception crossing into the caller.
template <typename Body>
int64_t guarded(Context *ctx, Body body)
{
    try {
        return body();
    } catch (const std::bad_alloc &) {
        if (ctx)
            ctx->raise(KX_GDSF_ERR_MEMORY);
        return 0;
    }
}

// A checksum of the pixel bytes of a band (row padding left out).
uint32_t rows_checksum(const int32_t *size, int32_t format, const uint8_t *rows)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    if (!rows || check_image(size, format) != KX_GDSF_ERR_NONE)
        return static_cast<uint32_t>(crc);
    const int64_t stride = row_stride(size[0], format), bytes = row_bytes(size[0], format);
    for (int64_t j = 0; j < size[1]; ++j)
        crc = crc32(crc, rows + j * stride, static_cast<uInt>(bytes));
    return static_cast<uint32_t>(crc);
}

std::string checksum_word(uint32_t crc)
{
    char text[16];
    std::snprintf(text, sizeof text, "crc=%08x", crc);
    return text;
}

// ---- the slots ------------------------------------------------------------

int64_t begin_picture(void *c, const char *name)
{
    CallLog("BeginPicture").str(name);
    Context *ctx = context_of(c);
    if (!ctx)
        return 0;
    ctx->picture.begin();
    ctx->picture_open = true;
    return 0;
}

int64_t begin_picture_body(void *c)
{
    CallLog("BeginPictureBody");
    Context *ctx = context_of(c);
    if (ctx && !ctx->discard)
        ctx->raise(ctx->picture.ensure_canvas());
    return 0;
}

int64_t end_picture(void *c)
{
    CallLog("EndPicture");
    Context *ctx = context_of(c);
    if (!ctx || !ctx->picture_open)
        return 0;
    ctx->picture_open = false;
    if (write_picture(ctx) != KX_GDSF_ERR_NONE)
        ctx->raise(KX_GDSF_ERR_FILE, KX_GDSF_FILE_CANNOT_WRITE);
    return 0;
}

int64_t begin_region(void *c, int32_t index)
{
    CallLog("BeginRegion").num(index);
    Context *ctx = context_of(c);
    return guarded(ctx, [&]() -> int64_t {
        if (ctx)
            ctx->picture.begin_region(index);
        return 0;
    });
}

int64_t end_region(void *c)
{
    CallLog("EndRegion");
    if (Context *ctx = context_of(c))
        ctx->picture.end_region();
    return 0;
}

int64_t set_output_parameter_a(void *, int32_t value)
{
    CallLog("SetOutputParameterA").num(value);
    return 0;
}

int64_t set_output_parameter_b(void *, int32_t value)
{
    CallLog("SetOutputParameterB").num(value);
    return 0;
}

int64_t set_output_parameter_c(void *, int32_t value)
{
    CallLog("SetOutputParameterC").num(value);
    return 0;
}

int64_t set_scaling(void *, int32_t mode, uint64_t bits)
{
    CallLog log("SetScaling");
    if (log.on()) {
        double value;
        static_assert(sizeof value == sizeof bits, "a real is 8 bytes");
        std::memcpy(&value, &bits, sizeof value);
        log.num(mode).hex(bits).real(value);
    }
    return 0;
}

int64_t set_picture_extent(void *c, const CoordRect *rect)
{
    CallLog("SetPictureExtent").rect(rect);
    Context *ctx = context_of(c);
    if (ctx)
        ctx->raise(rect ? ctx->picture.set_extent(*rect) : KX_GDSF_ERR_PARAMETER);
    return 0;
}

int64_t set_body_rectangle(void *, const CoordRect *rect)
{
    CallLog("SetBodyRectangle").rect(rect);
    return 0;
}

int64_t set_device_viewport(void *, const CoordRect *rect)
{
    CallLog("SetDeviceViewport").rect(rect);
    return 0;
}

int64_t set_background(void *c, const ColourRec *colour)
{
    CallLog("SetBackground").colour(colour);
    Context *ctx = context_of(c);
    if (ctx) {
        if (colour)
            ctx->picture.set_background(*colour);
        else
            ctx->raise(KX_GDSF_ERR_PARAMETER);
    }
    return 0;
}

int64_t set_region_indicator(void *c, int32_t index, int32_t indicator)
{
    CallLog("SetRegionIndicator").num(index).num(indicator);
    if (Context *ctx = context_of(c))
        ctx->picture.set_region_indicator(index, indicator);
    return 0;
}

int64_t polygon(void *c, int32_t count, const CoordPoint *points)
{
    Context *ctx = context_of(c);
    return guarded(ctx, [&]() -> int64_t {
        CallLog log("Polygon");
        log.num(count);
        if (log.on() && points && count > 0 && count <= kMaxPolygonPoints)
            for (int32_t k = 0; k < count; ++k)
                log.point(&points[k]);
        if (ctx)
            ctx->raise(ctx->picture.add_polygon(count, points));
        return 0;
    });
}

int64_t begin_image(void *c, const CoordPoint *p0, const CoordPoint *p1, const CoordPoint *p2,
                    const int32_t *size, int32_t format, int32_t a1, int32_t a2, int32_t a3,
                    int32_t a4)
{
    CallLog("BeginImage").point(p0).point(p1).point(p2).size(size).num(format).num(a1).num(a2)
        .num(a3).num(a4);
    Context *ctx = context_of(c);
    if (!ctx)
        return 0;
    return guarded(ctx, [&]() -> int64_t {
        int32_t e = check_image(size, format);
        if (e == KX_GDSF_ERR_NONE && (!p0 || !p1 || !p2))
            e = KX_GDSF_ERR_PARAMETER;
        if (e == KX_GDSF_ERR_NONE) {
            ctx->picture.note_format(format);
            if (!ctx->discard)
                e = ctx->picture.cover_image(*p0, *p1, *p2);
        }
        ctx->raise(e);
        return 0;
    });
}

int64_t image_rows(void *c, const CoordPoint *p0, const CoordPoint *p1, const CoordPoint *p2,
                   const int32_t *size, int32_t format, int32_t a1, const uint8_t *rows)
{
    Context *ctx = context_of(c);
    return guarded(ctx, [&]() -> int64_t {
        CallLog log("ImageRows");
        if (log.on())
            log.point(p0).point(p1).point(p2).size(size).num(format).num(a1).word(
                checksum_word(rows_checksum(size, format, rows)));
        if (!ctx || ctx->discard)
            return 0;
        int32_t e = check_image(size, format);
        if (e == KX_GDSF_ERR_NONE && (!p0 || !p1 || !p2))
            e = KX_GDSF_ERR_PARAMETER;
        if (e == KX_GDSF_ERR_NONE)
            e = ctx->picture.draw_rows(*p0, *p1, *p2, size[0], size[1], format, rows);
        ctx->raise(e);
        return 0;
    });
}

int64_t end_image(void *)
{
    CallLog("EndImage");
    return 0;
}

int64_t set_colours(void *c, uint16_t first, int32_t count, const ColourRec *colours)
{
    Context *ctx = context_of(c);
    return guarded(ctx, [&]() -> int64_t {
        CallLog log("SetColours");
        log.num(first).num(count);
        const bool valid = count >= 0 && (count == 0 || colours);
        if (log.on() && valid)
            for (int32_t k = 0; k < count; ++k)
                log.colour(&colours[k]);
        if (!ctx)
            return 0;
        if (valid)
            ctx->picture.set_colours(first, count, colours);
        else
            ctx->raise(KX_GDSF_ERR_PARAMETER);
        return 0;
    });
}

// Hands back the first pending error and forgets it.
int64_t query_error(void *c, int32_t wanted, int32_t *count, int16_t *codes)
{
    CallLog log("QueryError");
    log.num(wanted);
    Context *ctx = context_of(c);
    const bool give = ctx && ctx->error_pending && wanted >= 1 && count && codes;
    if (count)
        *count = give ? 1 : 0;
    if (give) {
        codes[0] = ctx->error;
        codes[1] = ctx->second;
        ctx->error_pending = false;
        log.word("->").num(1).word(std::to_string(codes[0]) + "," + std::to_string(codes[1]));
    } else {
        log.word("->").num(0);
    }
    return 0;
}

int64_t clear_error(void *c)
{
    CallLog("ClearError");
    if (Context *ctx = context_of(c))
        ctx->error_pending = false;
    return 0;
}

// An output file that cannot be created leaves error 302 with second code
// 269 pending (read back by the filter as host code 9); the status stays 0
// so that the pair, not just the first code, reaches the filter. An empty
// or null output name renders without writing a file. The file is opened
// for appending, which proves it writable without truncating it: an
// existing file is only replaced when a picture is written into it.
int64_t open_workstation(void *c, const char *output_name, const char *device_name,
                         int32_t flags, uint64_t host_value, HostRecord *host)
{
    CallLog("OpenWorkstation").str(output_name).str(device_name).num(flags).hex(host_value)
        .word(host ? "host" : "null");
    Context *ctx = context_of(c);
    if (!ctx)
        return kNoContextStatus;
    return guarded(ctx, [&]() -> int64_t {
        close_output(ctx);
        ctx->written = false;
        ctx->output_name = output_name ? output_name : "";
        if (!ctx->output_name.empty()) {
            ctx->existed = access(ctx->output_name.c_str(), F_OK) == 0;
            ctx->output = std::fopen(ctx->output_name.c_str(), "ab");
            if (!ctx->output)
                ctx->raise(KX_GDSF_ERR_FILE, KX_GDSF_FILE_CANNOT_WRITE);
        }
        return 0;
    });
}

int64_t activate_output(void *, const char *output_name)
{
    CallLog("ActivateOutput").str(output_name);
    return 0;
}

int64_t deactivate_output(void *)
{
    CallLog("DeactivateOutput");
    return 0;
}

// A picture still open is written before the file is closed; a failure to
// write it is the status.
int64_t close_workstation(void *c)
{
    CallLog("CloseWorkstation");
    Context *ctx = context_of(c);
    if (!ctx)
        return kNoContextStatus;
    int64_t status = 0;
    if (ctx->picture_open) {
        ctx->picture_open = false;
        status = write_picture(ctx);
    }
    close_output(ctx);
    return status;
}

int64_t shutdown_output(void *c)
{
    CallLog("Shutdown");
    if (Context *ctx = context_of(c)) {
        unregister_context(ctx);
        destroy_context(ctx);
    }
    return 0;
}

int64_t set_device_strings(void *, const char *s1, const char *s2, const char *s3)
{
    CallLog("SetDeviceStrings").str(s1).str(s2).str(s3);
    return 0;
}

template <typename Proc>
GdsfProc as_slot(Proc proc)
{
    return reinterpret_cast<GdsfProc>(proc);
}

GdsfTable make_table()
{
    GdsfTable t = {};
    t.slots[KX_GDSF_BEGIN_PICTURE] = as_slot<GdsfNameProc>(begin_picture);
    t.slots[KX_GDSF_BEGIN_PICTURE_BODY] = as_slot<GdsfNoArgProc>(begin_picture_body);
    t.slots[KX_GDSF_END_PICTURE] = as_slot<GdsfNoArgProc>(end_picture);
    t.slots[KX_GDSF_BEGIN_REGION] = as_slot<GdsfIntProc>(begin_region);
    t.slots[KX_GDSF_END_REGION] = as_slot<GdsfNoArgProc>(end_region);
    t.slots[KX_GDSF_SET_OUTPUT_PARAMETER_A] = as_slot<GdsfIntProc>(set_output_parameter_a);
    t.slots[KX_GDSF_SET_OUTPUT_PARAMETER_B] = as_slot<GdsfIntProc>(set_output_parameter_b);
    t.slots[KX_GDSF_SET_OUTPUT_PARAMETER_C] = as_slot<GdsfIntProc>(set_output_parameter_c);
    t.slots[KX_GDSF_SET_SCALING] = as_slot<GdsfScalingProc>(set_scaling);
    t.slots[KX_GDSF_SET_PICTURE_EXTENT] = as_slot<GdsfRectProc>(set_picture_extent);
    t.slots[KX_GDSF_SET_BODY_RECTANGLE] = as_slot<GdsfRectProc>(set_body_rectangle);
    t.slots[KX_GDSF_SET_DEVICE_VIEWPORT] = as_slot<GdsfRectProc>(set_device_viewport);
    t.slots[KX_GDSF_SET_BACKGROUND] = as_slot<GdsfColourProc>(set_background);
    t.slots[KX_GDSF_SET_REGION_INDICATOR] = as_slot<GdsfIntPairProc>(set_region_indicator);
    t.slots[KX_GDSF_POLYGON] = as_slot<GdsfPolygonProc>(polygon);
    t.slots[KX_GDSF_BEGIN_IMAGE] = as_slot<GdsfBeginImageProc>(begin_image);
    t.slots[KX_GDSF_IMAGE_ROWS] = as_slot<GdsfImageRowsProc>(image_rows);
    t.slots[KX_GDSF_END_IMAGE] = as_slot<GdsfNoArgProc>(end_image);
    t.slots[KX_GDSF_SET_COLOURS] = as_slot<GdsfSetColoursProc>(set_colours);
    t.slots[KX_GDSF_QUERY_ERROR] = as_slot<GdsfQueryErrorProc>(query_error);
    t.slots[KX_GDSF_CLEAR_ERROR] = as_slot<GdsfNoArgProc>(clear_error);
    t.slots[KX_GDSF_OPEN_WORKSTATION] = as_slot<GdsfOpenWorkstationProc>(open_workstation);
    t.slots[KX_GDSF_ACTIVATE_OUTPUT] = as_slot<GdsfNameProc>(activate_output);
    t.slots[KX_GDSF_DEACTIVATE_OUTPUT] = as_slot<GdsfNoArgProc>(deactivate_output);
    t.slots[KX_GDSF_CLOSE_WORKSTATION] = as_slot<GdsfNoArgProc>(close_workstation);
    t.slots[KX_GDSF_SHUTDOWN] = as_slot<GdsfNoArgProc>(shutdown_output);
    t.slots[KX_GDSF_SET_DEVICE_STRINGS] = as_slot<GdsfDeviceStringsProc>(set_device_strings);
    return t;
}

// ---- the export rows ------------------------------------------------------

// The argument is reserved (the filter passes 0).
void *open_output(int64_t reserved)
{
    CallLog("C_OpenOutput").num(reserved);
    Context *ctx = new (std::nothrow) Context();
    if (ctx)
        register_context(ctx);
    return ctx;
}

GdsfTable *get_output_table(void *)
{
    CallLog("C_GetOutputTable");
    static GdsfTable table = make_table();
    return &table;
}

// Frees the contexts opened through this SharedLib that were never shut
// down, and lets the loader close the library (answer 0).
int32_t unload_output(SharedLib *lib)
{
    CallLog("UnLoadOutput");
    std::lock_guard<std::mutex> lock(g_contexts_lock);
    for (Context **link = &g_contexts; *link;) {
        Context *ctx = *link;
        if (ctx->record_storage.shared_lib == lib) {
            *link = ctx->next;
            destroy_context(ctx);
        } else {
            link = &ctx->next;
        }
    }
    return 0;
}

FilterExportRow g_rows[] = {
    {KX_GDSF_OPEN_ENTRY, 1, reinterpret_cast<void *>(static_cast<GdsfOpenOutputProc>(open_output))},
    {KX_GDSF_TABLE_ENTRY, 2,
     reinterpret_cast<void *>(static_cast<GdsfGetTableProc>(get_output_table))},
    {KX_GDSF_UNLOAD_ENTRY, 3, reinterpret_cast<void *>(unload_output)},
};

} // namespace

} // namespace zo

extern "C" KX_API void fltLoadPointers(SharedLib *lib)
{
    if (!lib)
        return;
    lib->rowCount = static_cast<int16_t>(sizeof zo::g_rows / sizeof zo::g_rows[0]);
    lib->rows = zo::g_rows;
}
