/* fpxconv: the command-line host. It loads libkx_fpx2.so the way a host
 * imaging application does (dlopen, fltLoadPointers, entries found by name
 * in the export rows) and never links the filter. */
#include <dlfcn.h>
#include <libgen.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <kxfpx/records.h>

typedef HGLOBAL (*CreateSetupProc)(uint64_t, const char *, const char *);
typedef int32_t (*DestroySetupProc)(HGLOBAL);
typedef uint32_t (*VersionProc)(void);

static void *find_entry(const SharedLib *lib, const char *name)
{
    for (int i = 0; i < lib->rowCount; i++)
        if (strcmp(lib->rows[i].name, name) == 0)
            return lib->rows[i].entry;
    return NULL;
}

/* The filter is looked for beside this program. */
static void filter_path(const char *argv0, char *out, size_t size)
{
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        self[n] = 0;
    } else {
        snprintf(self, sizeof self, "%s", argv0);
    }
    snprintf(out, size, "%s/libkx_fpx2.so", dirname(self));
}

int main(int argc, char **argv)
{
    (void)argc;
    char path[PATH_MAX + 32];
    filter_path(argv[0], path, sizeof path);

    void *handle = dlopen(path, RTLD_LAZY);
    if (!handle) {
        fprintf(stderr, "fpxconv: cannot load %s: %s\n", path, dlerror());
        return 2;
    }
    FltLoadPointersProc load = (FltLoadPointersProc)dlsym(handle, "fltLoadPointers");
    if (!load) {
        fprintf(stderr, "fpxconv: %s has no fltLoadPointers\n", path);
        dlclose(handle);
        return 2;
    }
    SharedLib lib;
    memset(&lib, 0, sizeof lib);
    lib.dlHandle = handle;
    load(&lib);

    VersionProc version = (VersionProc)find_entry(&lib, "QORGetFilterVersion");
    if (version)
        printf("filter version 0x%08X\n", version());
    for (int i = 0; i < lib.rowCount; i++)
        printf("row %d: %-20s %lld\n", i, lib.rows[i].name, (long long)lib.rows[i].ordinal);

    CreateSetupProc create = (CreateSetupProc)find_entry(&lib, "CreateSetup");
    DestroySetupProc destroy = (DestroySetupProc)find_entry(&lib, "DestroySetup");
    int rc = 0;
    if (create && destroy) {
        HGLOBAL setup = create(0, NULL, NULL);
        if (!setup) {
            fprintf(stderr, "fpxconv: CreateSetup failed\n");
            rc = 1;
        } else {
            rc = destroy(setup) == 0 ? 0 : 1;
        }
    }
    dlclose(handle);
    return rc;
}
