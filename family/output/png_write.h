/* Writing the finished canvas as a PNG file with libpng. */
#ifndef ZO_PNG_WRITE_H
#define ZO_PNG_WRITE_H

#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Writes width x height RGB pixels (rows of 3 * width bytes) to the stream,
 * as 8-bit grey (the red component of each pixel) when grey is non-zero,
 * else as 8-bit RGB. Returns 0 on success, -1 on any failure. */
int zo_write_png(FILE *stream, uint32_t width, uint32_t height, const uint8_t *rgb, int grey);

#ifdef __cplusplus
}
#endif

#endif
