// Typed calls into the output library's function table. Each takes the open
// GdsfHandle (the setup's gdsf), passes the output context first and the
// arguments exactly as the slot defines them; a missing handle, table or slot
// makes the call do nothing and answer 0.
#pragma once

#include <kxfpx/output.h>

namespace kxfpx::output {

int64_t BeginPicture(GdsfHandle *gdsf, const char *name);
int64_t BeginPictureBody(GdsfHandle *gdsf);
int64_t EndPicture(GdsfHandle *gdsf);
int64_t BeginRegion(GdsfHandle *gdsf, int32_t index);
int64_t EndRegion(GdsfHandle *gdsf);
int64_t SetOutputParameterA(GdsfHandle *gdsf, int32_t value);
int64_t SetOutputParameterB(GdsfHandle *gdsf, int32_t value);
int64_t SetOutputParameterC(GdsfHandle *gdsf, int32_t value);
// The real goes as the bit pattern of a double in an integer argument.
int64_t SetScaling(GdsfHandle *gdsf, int32_t mode, uint64_t realBits);
int64_t SetPictureExtent(GdsfHandle *gdsf, const CoordRect *rect);
int64_t SetBodyRectangle(GdsfHandle *gdsf, const CoordRect *rect);
int64_t SetDeviceViewport(GdsfHandle *gdsf, const CoordRect *rect);
int64_t SetBackground(GdsfHandle *gdsf, const ColourRec *colour);
int64_t SetRegionIndicator(GdsfHandle *gdsf, int32_t index, int32_t indicator);
int64_t Polygon(GdsfHandle *gdsf, int32_t count, const CoordPoint *points);
// points: the three corner points (first row start, opposite corner, first
// row end), passed as three pointers; size: {columns, rows}.
int64_t BeginImage(GdsfHandle *gdsf, const CoordPoint points[3], const int32_t size[2],
                   int32_t format, int32_t arg1, int32_t arg2, int32_t arg3, int32_t arg4);
int64_t ImageRows(GdsfHandle *gdsf, const CoordPoint points[3], const int32_t size[2],
                  int32_t format, int32_t arg1, const uint8_t *rows);
int64_t EndImage(GdsfHandle *gdsf);
int64_t SetColours(GdsfHandle *gdsf, uint16_t first, int32_t count, const ColourRec *colours);
int64_t QueryError(GdsfHandle *gdsf, int32_t wanted, int32_t *count, int16_t *codes);
int64_t ClearError(GdsfHandle *gdsf);
int64_t OpenWorkstation(GdsfHandle *gdsf, const char *outputName, const char *deviceName,
                        int32_t flags, uint64_t hostValue, HostRecord *host);
int64_t ActivateOutput(GdsfHandle *gdsf, const char *outputName);
int64_t DeactivateOutput(GdsfHandle *gdsf);
int64_t CloseWorkstation(GdsfHandle *gdsf);
int64_t Shutdown(GdsfHandle *gdsf);
int64_t SetDeviceStrings(GdsfHandle *gdsf, const char *string1, const char *string2,
                         const char *string3);

} // namespace kxfpx::output
