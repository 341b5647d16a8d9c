/* PNG output of the canvas. Kept in C because libpng reports errors with
 * longjmp, which must not cross C++ frames. */
#include "png_write.h"

#include <png.h>
#include <stdlib.h>

/* Levels up to this one use a single row filter. */
#define ZO_PNG_LEVEL_FAST 2

static void png_fail(png_structp png, png_const_charp text)
{
    (void)text;
    png_longjmp(png, 1);
}

static void png_quiet(png_structp png, png_const_charp text)
{
    (void)png;
    (void)text;
}

int zo_write_png(FILE *stream, uint32_t width, uint32_t height, const uint8_t *rgb, int grey,
                 int level)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, NULL, png_fail, png_quiet);
    if (!png)
        return -1;
    png_infop info = png_create_info_struct(png);
    uint8_t *volatile row = grey ? malloc(width) : NULL;
    if (!info || (grey && !row)) {
        free(row);
        png_destroy_write_struct(&png, info ? &info : NULL);
        return -1;
    }
    if (setjmp(png_jmpbuf(png))) {
        free(row);
        png_destroy_write_struct(&png, &info);
        return -1;
    }
    /* The picture size is limited by the library itself, not by libpng's
     * default of a million pixels per side. */
    png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
    png_init_io(png, stream);
    if (level >= ZO_PNG_LEVEL_MIN && level <= ZO_PNG_LEVEL_MAX) {
        png_set_compression_level(png, level);
        /* libpng tries five row filters per row and keeps the best; at the
         * fast levels that trial costs as much as the compression, so one
         * filter is used: none for stored data, else "up", which suits
         * photographs about as well as the trial does. */
        if (level <= ZO_PNG_LEVEL_FAST)
            png_set_filter(png, PNG_FILTER_TYPE_BASE,
                           level == ZO_PNG_LEVEL_MIN ? PNG_FILTER_NONE : PNG_FILTER_UP);
    }
    png_set_IHDR(png, info, width, height, 8, grey ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t *source = rgb + (size_t)y * width * 3;
        if (grey) {
            for (uint32_t x = 0; x < width; ++x)
                row[x] = source[3 * x];
            png_write_row(png, row);
        } else {
            png_write_row(png, source);
        }
    }
    png_write_end(png, info);
    free(row);
    png_destroy_write_struct(&png, &info);
    return fflush(stream) == 0 && !ferror(stream) ? 0 : -1;
}
