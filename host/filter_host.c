/* Loading the filter as a host application does (dlopen of the file beside
 * this program, fltLoadPointers, entries found by name in the export rows)
 * and making the run's setup from a private profile written for it. */
#define _GNU_SOURCE
#include "host.h"

#include <dlfcn.h>
#include <errno.h>
#include <libgen.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <kxfpx/codes.h>
#include <kxfpx/setup.h>

#define FILTER_FILE "libkx_fpx2.so"

/* The mode section of the private profile, named to CreateSetup. */
#define PROFILE_MODE "fpxconv"
#define PROFILE_PATTERN "fpxconv-XXXXXX.ini"
#define PROFILE_SUFFIX_LENGTH 4 /* ".ini" after the X's */

static void *find_entry(const SharedLib *lib, const char *name)
{
    for (int i = 0; i < lib->rowCount; i++)
        if (lib->rows[i].name && strcmp(lib->rows[i].name, name) == 0)
            return lib->rows[i].entry;
    return NULL;
}

/* The filter is looked for beside this program, as in the build folder,
 * then in the installed library folder (FPXCONV_LIBDIR_FROM_BIN, relative
 * to the program's own folder). */
static int filter_path(char *out, size_t size)
{
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return -1;
    self[n] = 0;
    const char *dir = dirname(self);
    if ((size_t)snprintf(out, size, "%s/%s", dir, FILTER_FILE) >= size)
        return -1;
#ifdef FPXCONV_LIBDIR_FROM_BIN
    if (access(out, F_OK) != 0 &&
        (size_t)snprintf(out, size, "%s/%s/%s", dir, FPXCONV_LIBDIR_FROM_BIN, FILTER_FILE) >= size)
        return -1;
#endif
    /* The folder's real name, without "bin/../lib", for messages. */
    char *real = realpath(out, NULL);
    if (real && strlen(real) < size)
        strcpy(out, real);
    free(real);
    return 0;
}

/* Loads the filter and resolves its entries through the export rows. Like
 * the family's loader, writes the path into the "szDLLName" buffer, from
 * which the filter names its profile. Returns 0 or prints why not. */
int filter_load(Filter *filter)
{
    memset(filter, 0, sizeof *filter);
    if (filter_path(filter->path, sizeof filter->path) != 0) {
        fprintf(stderr, FPXCONV_NAME ": cannot find where this program is\n");
        return -1;
    }
    void *handle = dlopen(filter->path, RTLD_LAZY);
    if (!handle) {
        fprintf(stderr, FPXCONV_NAME ": cannot load %s: %s\n", filter->path, dlerror());
        return -1;
    }
    FltLoadPointersProc load = (FltLoadPointersProc)dlsym(handle, "fltLoadPointers");
    if (!load) {
        fprintf(stderr, FPXCONV_NAME ": %s has no fltLoadPointers\n", filter->path);
        dlclose(handle);
        return -1;
    }
    filter->lib.dlHandle = handle;
    load(&filter->lib);

    /* A path too long for the buffer is left out rather than cut. */
    char *dllName = find_entry(&filter->lib, "szDLLName");
    size_t pathLength = strlen(filter->path);
    if (dllName && pathLength < KX_PATH_SIZE)
        memcpy(dllName, filter->path, pathLength + 1);
    filter->importFile = (ImportFileProc)find_entry(&filter->lib, "ImportFile");
    filter->createSetup = (CreateSetupProc)find_entry(&filter->lib, "CreateSetup");
    filter->destroySetup = (DestroySetupProc)find_entry(&filter->lib, "DestroySetup");
    filter->escapeSetup = (EscapeSetupProc)find_entry(&filter->lib, "EscapeSetup");
    filter->version = (VersionProc)find_entry(&filter->lib, "QORGetFilterVersion");
    filter->getFileInfo = (GetFileInfoProc)find_entry(&filter->lib, "GetFileInfo");
    if (!filter->importFile || !filter->createSetup || !filter->destroySetup ||
        !filter->escapeSetup || !filter->getFileInfo) {
        fprintf(stderr, FPXCONV_NAME ": %s lacks an entry this program needs\n", filter->path);
        dlclose(handle);
        filter->lib.dlHandle = NULL;
        return -1;
    }
    return 0;
}

void filter_unload(Filter *filter)
{
    if (filter->lib.dlHandle)
        dlclose(filter->lib.dlHandle);
    filter->lib.dlHandle = NULL;
}

void filter_describe(const Filter *filter, int rows)
{
    printf("filter %s, version 0x%08X\n", filter->path,
           filter->version ? (unsigned)filter->version() : 0u);
    for (int i = 0; rows && i < filter->lib.rowCount; i++)
        printf("row %d: %-20s %lld\n", i, filter->lib.rows[i].name,
               (long long)filter->lib.rows[i].ordinal);
}

/* Writes the private profile: a mode section with the driver the setup
 * requires (a mode without "Driver" fails CreateSetup) and the thread count
 * the import reads from it. The file lives in $TMPDIR (or /tmp when that is
 * unset, relative or too long) because the setup keeps its name in a
 * 144-byte field. Returns 0 or prints why not. */
static int write_profile(Filter *filter, int threads)
{
    const char *dirs[] = {getenv("TMPDIR"), "/tmp"};
    int fd = -1;
    for (size_t i = 0; i < sizeof dirs / sizeof dirs[0] && fd < 0; i++) {
        if (!dirs[i] || dirs[i][0] != '/' ||
            (size_t)snprintf(filter->profile, sizeof filter->profile, "%s/%s", dirs[i],
                             PROFILE_PATTERN) >= sizeof filter->profile)
            continue;
        fd = mkstemps(filter->profile, PROFILE_SUFFIX_LENGTH);
    }
    if (fd < 0) {
        fprintf(stderr, FPXCONV_NAME ": cannot create a temporary profile: %s\n", strerror(errno));
        filter->profile[0] = '\0';
        return -1;
    }
    FILE *f = fdopen(fd, "w");
    int ok = f && fprintf(f,
                          "; fpxconv's settings for one run, removed when the run ends\n"
                          "[" PROFILE_MODE "]\n"
                          "Driver=KR_FPX.0\n"
                          "ColorTableSource=FILE\n"
                          "Threads=%d\n",
                          threads) > 0;
    ok = (f ? fclose(f) == 0 : close(fd) == 0) && ok;
    if (!ok) {
        fprintf(stderr, FPXCONV_NAME ": cannot write the temporary profile %s\n", filter->profile);
        unlink(filter->profile);
        filter->profile[0] = '\0';
        return -1;
    }
    return 0;
}

/* The run's settings reach the filter through its setup: the thread count
 * through the private profile (the setup record has no field for it), the
 * resolution through escape 84.
 * A user's own profile (libkx_fpx2.ini in $INIDIR or in the current
 * directory) is not used: fpxconv is configured by its command line alone,
 * so a stray profile in whatever directory it runs in cannot change a
 * conversion. main() also clears INIDIR, so the filter finds the private
 * profile by its full name and nothing else. */
int filter_open_setup(Filter *filter, const Settings *settings)
{
    if (write_profile(filter, settings->threads) != 0)
        return -1;
    filter->setup = filter->createSetup(0, filter->profile, PROFILE_MODE);
    if (!filter->setup) {
        fprintf(stderr, FPXCONV_NAME ": the filter refused its setup (CreateSetup failed)\n");
        filter_close_setup(filter);
        return -1;
    }
    /* Flag 0: the choice is kept in the setup, not written to the profile. */
    int16_t choice = settings->resolution;
    filter->escapeSetup(filter->setup, KX_ESCAPE_RESOLUTION, sizeof choice, &choice, NULL, 0);
    return 0;
}

void filter_close_setup(Filter *filter)
{
    if (filter->setup && filter->destroySetup(filter->setup) != KX_OK)
        fprintf(stderr, FPXCONV_NAME ": DestroySetup failed\n");
    filter->setup = NULL;
    if (filter->profile[0])
        unlink(filter->profile);
    filter->profile[0] = '\0';
}
