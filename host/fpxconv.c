/* fpxconv: the command-line host. It loads libkx_fpx2.so the way a host
 * imaging application does (dlopen of the file beside this program,
 * fltLoadPointers, entries found by name in the export rows) and never links
 * the filter.
 *
 *   fpxconv                          filter version, export rows, setup check
 *   fpxconv input.fpx output.png     import input.fpx into output.png
 */
#include <dlfcn.h>
#include <libgen.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <kxfpx/codes.h>
#include <kxfpx/records.h>

#define FILTER_FILE "libkx_fpx2.so"
#define OUTPUT_DEVICE "png"

typedef int32_t (*ImportFileProc)(uint64_t, const char *, const char *, const char *,
                                  InterpretStructure *);
typedef HGLOBAL (*CreateSetupProc)(uint64_t, const char *, const char *);
typedef int32_t (*DestroySetupProc)(HGLOBAL);
typedef uint32_t (*VersionProc)(void);

/* The filter as loaded: the dlopen handle and its export rows. */
typedef struct Filter {
    SharedLib lib;
    ImportFileProc importFile;
    CreateSetupProc createSetup;
    DestroySetupProc destroySetup;
    VersionProc version;
} Filter;

static void *find_entry(const SharedLib *lib, const char *name)
{
    for (int i = 0; i < lib->rowCount; i++)
        if (lib->rows[i].name && strcmp(lib->rows[i].name, name) == 0)
            return lib->rows[i].entry;
    return NULL;
}

/* The filter is looked for beside this program. */
static void filter_path(const char *argv0, char *out, size_t size)
{
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0)
        self[n] = 0;
    else
        snprintf(self, sizeof self, "%s", argv0);
    snprintf(out, size, "%s/%s", dirname(self), FILTER_FILE);
}

/* Loads the filter and resolves its entries through the export rows. Like
 * the family's loader, writes the path into the "szDLLName" buffer, from
 * which the filter names its profile. Returns 0 or prints why not. */
static int load_filter(const char *path, Filter *filter)
{
    memset(filter, 0, sizeof *filter);
    void *handle = dlopen(path, RTLD_LAZY);
    if (!handle) {
        fprintf(stderr, "fpxconv: cannot load %s: %s\n", path, dlerror());
        return -1;
    }
    FltLoadPointersProc load = (FltLoadPointersProc)dlsym(handle, "fltLoadPointers");
    if (!load) {
        fprintf(stderr, "fpxconv: %s has no fltLoadPointers\n", path);
        dlclose(handle);
        return -1;
    }
    filter->lib.dlHandle = handle;
    load(&filter->lib);

    /* A path too long for the buffer is left out rather than cut. */
    char *dllName = find_entry(&filter->lib, "szDLLName");
    size_t pathLength = strlen(path);
    if (dllName && pathLength < KX_PATH_SIZE)
        memcpy(dllName, path, pathLength + 1);
    filter->importFile = (ImportFileProc)find_entry(&filter->lib, "ImportFile");
    filter->createSetup = (CreateSetupProc)find_entry(&filter->lib, "CreateSetup");
    filter->destroySetup = (DestroySetupProc)find_entry(&filter->lib, "DestroySetup");
    filter->version = (VersionProc)find_entry(&filter->lib, "QORGetFilterVersion");
    if (!filter->importFile || !filter->createSetup || !filter->destroySetup) {
        fprintf(stderr, "fpxconv: %s lacks ImportFile, CreateSetup or DestroySetup\n", path);
        dlclose(handle);
        return -1;
    }
    return 0;
}

static void describe_filter(const Filter *filter)
{
    if (filter->version)
        printf("filter version 0x%08X\n", (unsigned)filter->version());
    for (int i = 0; i < filter->lib.rowCount; i++)
        printf("row %d: %-20s %lld\n", i, filter->lib.rows[i].name,
               (long long)filter->lib.rows[i].ordinal);
}

/* The host's wording of the codes it may hear. */
static const char *code_text(int32_t code)
{
    switch (code) {
    case KX_OK: return "success";
    case KX_CANNOT_OPEN: return "the input cannot be opened";
    case KX_NO_DEVICE: return "no output device";
    case KX_MISSING_STRUCTURE: return "a storage, stream or structure is missing or unreadable";
    case KX_BAD_DATA: return "a value in the file is out of range or unsupported";
    case KX_NO_MEMORY: return "out of memory, or the output library is missing";
    case KX_CANCELLED: return "cancelled";
    case KX_NOT_FLASHPIX: return "not a FlashPix file";
    default: return "output or filter error";
    }
}

/* The host's status procedure: errors and messages go to standard error;
 * progress is accepted silently and nothing is ever cancelled. */
static int32_t status_proc(uint64_t user, int32_t kind, int32_t code, int32_t value1,
                           int32_t value2, int32_t style, MessageArgs *args)
{
    (void)user;
    (void)value1;
    (void)value2;
    (void)style;
    (void)args;
    if (kind == KX_STATUS_ERROR)
        fprintf(stderr, "fpxconv: filter reports %d (%s)\n", (int)code, code_text(code));
    else if (kind == KX_STATUS_MESSAGE)
        fprintf(stderr, "fpxconv: filter message %d\n", (int)code);
    return 0;
}

static int run_import(const Filter *filter, HGLOBAL setup, const char *input, const char *output)
{
    HostRecord host;
    InterpretStructure interp;
    memset(&host, 0, sizeof host);
    memset(&interp, 0, sizeof interp);
    host.statusProc = status_proc;
    interp.setup = setup;
    interp.hostRecord = &host;

    int32_t rc = filter->importFile(0, OUTPUT_DEVICE, output, input, &interp);
    if (rc != KX_OK) {
        fprintf(stderr, "fpxconv: import of %s failed: %d (%s)\n", input, (int)rc, code_text(rc));
        return 1;
    }
    printf("%s -> %s\n", input, output);
    return 0;
}

static int usage(void)
{
    fprintf(stderr, "usage: fpxconv [input.fpx output.png]\n");
    return 2;
}

int main(int argc, char **argv)
{
    if (argc != 1 && argc != 3)
        return usage();

    char path[PATH_MAX + sizeof FILTER_FILE + 1];
    filter_path(argv[0], path, sizeof path);
    Filter filter;
    if (load_filter(path, &filter) != 0)
        return 2;
    if (argc == 1)
        describe_filter(&filter);

    int rc = 0;
    HGLOBAL setup = filter.createSetup(0, NULL, NULL);
    if (!setup) {
        fprintf(stderr, "fpxconv: CreateSetup failed\n");
        rc = 1;
    } else {
        if (argc == 3)
            rc = run_import(&filter, setup, argv[1], argv[2]);
        if (filter.destroySetup(setup) != KX_OK) {
            fprintf(stderr, "fpxconv: DestroySetup failed\n");
            rc = 1;
        }
    }
    dlclose(filter.lib.dlHandle);
    return rc;
}
