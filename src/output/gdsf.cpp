// Loading the output library libzo_unx2.so through its export rows, and the
// typed calls into its function table. OpenGDSF binds the library, its output
// context and its table into a GdsfHandle; CloseGDSF shuts it down.
#include "output/gdsf.h"

#include <kxfpx/memory.h>
#include <kxfpx/sharedlib.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr int16_t kLibraryNameSize = KX_PATH_SIZE;
constexpr uint64_t kOpenOutputArgument = 0;

// Calls one slot of the table with the context first; a missing handle,
// table or slot answers 0 without calling anything.
template <typename Proc, typename... Args>
int64_t call_slot(GdsfHandle *gdsf, int slot, Args... args)
{
    if (!gdsf || !gdsf->table)
        return 0;
    Proc proc = reinterpret_cast<Proc>(gdsf->table->slots[slot]);
    return proc ? proc(gdsf->context, args...) : 0;
}

} // namespace

extern "C" {

KX_API GdsfHandle *OpenGDSF(SharedLib *lib)
{
    bool loaded_here = false;
    if (!lib) {
        char name[kLibraryNameSize] = {};
        std::strcpy(name, KX_GDSF_LIBRARY_NAME);
        if (!FindFilter(name, kLibraryNameSize)) {
            std::fprintf(stderr, "error: unable to find filter: %s\n", KX_GDSF_LIBRARY_NAME);
            return nullptr;
        }
        lib = UnxLoadSharedLib(name);
        if (!lib)
            return nullptr;
        loaded_here = true;
    }
    auto *handle = static_cast<GdsfHandle *>(memalloc(sizeof(GdsfHandle)));
    if (!handle) {
        // Without a handle nobody could unload the library: undo the load.
        if (loaded_here)
            UnxFreeSharedLib(lib);
        return nullptr;
    }
    handle->lib = lib;
    auto open_output = reinterpret_cast<GdsfOpenOutputProc>(UnxGetProcAddr(lib, KX_GDSF_OPEN_ENTRY));
    if (open_output) {
        handle->context = open_output(kOpenOutputArgument);
        // The context's first word points to the library's own record, whose
        // first word learns the SharedLib it was loaded as.
        if (handle->context) {
            void **record = *static_cast<void ***>(handle->context);
            if (record)
                *record = lib;
        }
    }
    auto get_table = reinterpret_cast<GdsfGetTableProc>(UnxGetProcAddr(lib, KX_GDSF_TABLE_ENTRY));
    if (get_table)
        handle->table = get_table(handle->context);
    return handle;
}

// A null handle has nothing to shut down: 0.
KX_API int32_t CloseGDSF(GdsfHandle *handle)
{
    if (!handle)
        return 0;
    const auto result = static_cast<int32_t>(kxfpx::output::Shutdown(handle));
    if (handle->lib)
        UnxFreeSharedLib(handle->lib);
    void *block = handle;
    if_free(&block);
    return result;
}

} // extern "C"

namespace kxfpx::output {

int64_t BeginPicture(GdsfHandle *g, const char *name)
{
    return call_slot<GdsfNameProc>(g, KX_GDSF_BEGIN_PICTURE, name);
}
int64_t BeginPictureBody(GdsfHandle *g)
{
    return call_slot<GdsfNoArgProc>(g, KX_GDSF_BEGIN_PICTURE_BODY);
}
int64_t EndPicture(GdsfHandle *g) { return call_slot<GdsfNoArgProc>(g, KX_GDSF_END_PICTURE); }
int64_t BeginRegion(GdsfHandle *g, int32_t index)
{
    return call_slot<GdsfIntProc>(g, KX_GDSF_BEGIN_REGION, index);
}
int64_t EndRegion(GdsfHandle *g) { return call_slot<GdsfNoArgProc>(g, KX_GDSF_END_REGION); }
int64_t SetOutputParameterA(GdsfHandle *g, int32_t value)
{
    return call_slot<GdsfIntProc>(g, KX_GDSF_SET_OUTPUT_PARAMETER_A, value);
}
int64_t SetOutputParameterB(GdsfHandle *g, int32_t value)
{
    return call_slot<GdsfIntProc>(g, KX_GDSF_SET_OUTPUT_PARAMETER_B, value);
}
int64_t SetOutputParameterC(GdsfHandle *g, int32_t value)
{
    return call_slot<GdsfIntProc>(g, KX_GDSF_SET_OUTPUT_PARAMETER_C, value);
}
int64_t SetScaling(GdsfHandle *g, int32_t mode, uint64_t realBits)
{
    return call_slot<GdsfScalingProc>(g, KX_GDSF_SET_SCALING, mode, realBits);
}
int64_t SetPictureExtent(GdsfHandle *g, const CoordRect *rect)
{
    return call_slot<GdsfRectProc>(g, KX_GDSF_SET_PICTURE_EXTENT, rect);
}
int64_t SetBodyRectangle(GdsfHandle *g, const CoordRect *rect)
{
    return call_slot<GdsfRectProc>(g, KX_GDSF_SET_BODY_RECTANGLE, rect);
}
int64_t SetDeviceViewport(GdsfHandle *g, const CoordRect *rect)
{
    return call_slot<GdsfRectProc>(g, KX_GDSF_SET_DEVICE_VIEWPORT, rect);
}
int64_t SetBackground(GdsfHandle *g, const ColourRec *colour)
{
    return call_slot<GdsfColourProc>(g, KX_GDSF_SET_BACKGROUND, colour);
}
int64_t SetRegionIndicator(GdsfHandle *g, int32_t index, int32_t indicator)
{
    return call_slot<GdsfIntPairProc>(g, KX_GDSF_SET_REGION_INDICATOR, index, indicator);
}
int64_t Polygon(GdsfHandle *g, int32_t count, const CoordPoint *points)
{
    return call_slot<GdsfPolygonProc>(g, KX_GDSF_POLYGON, count, points);
}
int64_t BeginImage(GdsfHandle *g, const CoordPoint points[3], const int32_t size[2],
                   int32_t format, int32_t arg1, int32_t arg2, int32_t arg3, int32_t arg4)
{
    return call_slot<GdsfBeginImageProc>(g, KX_GDSF_BEGIN_IMAGE, &points[0], &points[1],
                                         &points[2], size, format, arg1, arg2, arg3, arg4);
}
int64_t ImageRows(GdsfHandle *g, const CoordPoint points[3], const int32_t size[2],
                  int32_t format, int32_t arg1, const uint8_t *rows)
{
    return call_slot<GdsfImageRowsProc>(g, KX_GDSF_IMAGE_ROWS, &points[0], &points[1],
                                        &points[2], size, format, arg1, rows);
}
int64_t EndImage(GdsfHandle *g) { return call_slot<GdsfNoArgProc>(g, KX_GDSF_END_IMAGE); }
int64_t SetColours(GdsfHandle *g, uint16_t first, int32_t count, const ColourRec *colours)
{
    return call_slot<GdsfSetColoursProc>(g, KX_GDSF_SET_COLOURS, first, count, colours);
}
int64_t QueryError(GdsfHandle *g, int32_t wanted, int32_t *count, int16_t *codes)
{
    return call_slot<GdsfQueryErrorProc>(g, KX_GDSF_QUERY_ERROR, wanted, count, codes);
}
int64_t ClearError(GdsfHandle *g) { return call_slot<GdsfNoArgProc>(g, KX_GDSF_CLEAR_ERROR); }
int64_t OpenWorkstation(GdsfHandle *g, const char *outputName, const char *deviceName,
                        int32_t flags, uint64_t hostValue, HostRecord *host)
{
    return call_slot<GdsfOpenWorkstationProc>(g, KX_GDSF_OPEN_WORKSTATION, outputName,
                                              deviceName, flags, hostValue, host);
}
int64_t ActivateOutput(GdsfHandle *g, const char *outputName)
{
    return call_slot<GdsfNameProc>(g, KX_GDSF_ACTIVATE_OUTPUT, outputName);
}
int64_t DeactivateOutput(GdsfHandle *g)
{
    return call_slot<GdsfNoArgProc>(g, KX_GDSF_DEACTIVATE_OUTPUT);
}
int64_t CloseWorkstation(GdsfHandle *g)
{
    return call_slot<GdsfNoArgProc>(g, KX_GDSF_CLOSE_WORKSTATION);
}
int64_t Shutdown(GdsfHandle *g) { return call_slot<GdsfNoArgProc>(g, KX_GDSF_SHUTDOWN); }
int64_t SetDeviceStrings(GdsfHandle *g, const char *string1, const char *string2,
                         const char *string3)
{
    return call_slot<GdsfDeviceStringsProc>(g, KX_GDSF_SET_DEVICE_STRINGS, string1, string2,
                                            string3);
}

} // namespace kxfpx::output
