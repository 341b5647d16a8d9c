/* Writing the finished canvas as a PNG file with libpng. */
#ifndef ZO_PNG_WRITE_H
#define ZO_PNG_WRITE_H

#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The zlib level that leaves libpng's own default in place. */
#define ZO_PNG_LEVEL_DEFAULT (-1)
#define ZO_PNG_LEVEL_MIN 0
#define ZO_PNG_LEVEL_MAX 9

/* Writes width x height RGB pixels (rows of 3 * width bytes) to the stream,
 * as 8-bit grey (the red component of each pixel) when grey is non-zero,
 * else as 8-bit RGB, compressed at zlib level 0..9 or ZO_PNG_LEVEL_DEFAULT.
 * Returns 0 on success, -1 on any failure. */
int zo_write_png(FILE *stream, uint32_t width, uint32_t height, const uint8_t *rgb, int grey,
                 int level);

#ifdef __cplusplus
}
#endif

#endif
