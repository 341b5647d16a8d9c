/* --info: width, height and bits per pixel of each file through
 * GetFileInfo, as one line per file or, with --json, as one JSON array. */
#include "host.h"

#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <kxfpx/codes.h>

/* A JSON string. Bytes from 0x80 up are passed through: file names are
 * UTF-8 in practice, and a byte-exact name is more use than an escaped one. */
static void json_string(const char *text)
{
    putchar('"');
    for (const unsigned char *p = (const unsigned char *)text; *p; p++) {
        if (*p == '"' || *p == '\\')
            printf("\\%c", *p);
        else if (*p < 0x20)
            printf("\\u%04x", *p);
        else
            putchar(*p);
    }
    putchar('"');
}

Outcome print_info(const Filter *filter, const Settings *settings, int count, char **files)
{
    Outcome outcome = OUTCOME_DONE;
    if (settings->json)
        printf("[");
    for (int i = 0; i < count; i++) {
        FileInfo info;
        memset(&info, 0, sizeof info);
        info.size = (int32_t)sizeof info;
        /* GetFileInfo answers 14 for every failure; a file that cannot be
         * opened at all is told apart here. */
        int32_t rc = access(files[i], R_OK) == 0
                         ? filter->getFileInfo(files[i], &info, NULL, NULL)
                         : KX_CANNOT_OPEN;
        if (rc != KX_OK) {
            report_code(files[i], rc, NULL);
            outcome = OUTCOME_FAILED;
        }
        if (settings->json) {
            printf(i ? ",\n {\"file\": " : "\n {\"file\": ");
            json_string(files[i]);
            if (rc == KX_OK)
                printf(", \"width\": %d, \"height\": %d, \"bits_per_pixel\": %d}", (int)info.width,
                       (int)info.height, (int)info.bitsPerPixel);
            else
                printf(", \"error\": \"%s\", \"code\": %d}", code_text(rc), (int)rc);
        } else if (rc == KX_OK) {
            printf("%s: %d x %d, %d bits per pixel\n", files[i], (int)info.width,
                   (int)info.height, (int)info.bitsPerPixel);
        }
        if (signals_pending())
            return OUTCOME_CANCELLED;
    }
    if (settings->json)
        printf(count ? "\n]\n" : "]\n");
    return outcome;
}
