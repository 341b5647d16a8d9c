/* fpxconv: the command-line host. It loads libkx_fpx2.so the way a host
 * imaging application does (dlopen of the file beside this program,
 * fltLoadPointers, entries found by name in the export rows) and never links
 * the filter.
 *
 *   fpxconv                          filter version, export rows, setup check
 *   fpxconv input.fpx output.png     import input.fpx into output.png
 *   fpxconv --info file.fpx...       width, height and bits per pixel of each
 *
 * The picture is written to a temporary file beside the output and renamed
 * into place only when the import succeeds, so a failed conversion leaves no
 * partial PNG (and an existing output file as it was).
 */
#include <dlfcn.h>
#include <errno.h>
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
typedef int32_t (*GetFileInfoProc)(const char *, FileInfo *, HGLOBAL, HostIoProc);

/* The filter as loaded: the dlopen handle and its export rows. */
typedef struct Filter {
    SharedLib lib;
    ImportFileProc importFile;
    CreateSetupProc createSetup;
    DestroySetupProc destroySetup;
    VersionProc version;
    GetFileInfoProc getFileInfo;
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
    filter->getFileInfo = (GetFileInfoProc)find_entry(&filter->lib, "GetFileInfo");
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
    case KX_CANNOT_OPEN: return "the file cannot be opened";
    case KX_OUTPUT_WRITE_FAILED: return "the output file cannot be written";
    case KX_NO_DEVICE: return "no output device";
    case KX_OUTPUT_DEVICE: return "the output device failed";
    case KX_MISSING_STRUCTURE:
        return "a part of the FlashPix file is missing or unreadable (storage, stream, tile)";
    case KX_OUTPUT_UNSUPPORTED: return "the output library does not support the request";
    case KX_OUTPUT_RESOURCE: return "the output library ran out of a resource";
    case KX_BAD_DATA: return "a value in the file is out of range or unsupported";
    case KX_OUTPUT_PARAMETER: return "the picture is empty or its size is out of range";
    case KX_OUTPUT_LIMIT: return "an output device limit was exceeded";
    case KX_OUTPUT_ERROR: return "the output library reported an error";
    case KX_NO_MEMORY: return "out of memory (or the output library is missing)";
    case KX_CANCELLED: return "cancelled";
    case KX_OUTPUT_STATE: return "the output library was called out of order";
    case KX_NOT_FLASHPIX: return "not a FlashPix file";
    case KX_INFO_FIELD:
    case KX_INFO_VALUE: return "the file information holds an impossible value";
    default: return "unknown error";
    }
}

/* The host's status procedure: the codes it reports are kept (the user
 * value points at the slot) and worded once at the end; progress is accepted
 * silently and nothing is ever cancelled. */
static int32_t status_proc(uint64_t user, int32_t kind, int32_t code, int32_t value1,
                           int32_t value2, int32_t style, MessageArgs *args)
{
    (void)value1;
    (void)value2;
    (void)style;
    (void)args;
    int32_t *reported = (int32_t *)(uintptr_t)user;
    if (kind == KX_STATUS_ERROR && reported && *reported == KX_OK)
        *reported = code;
    else if (kind == KX_STATUS_MESSAGE)
        fprintf(stderr, "fpxconv: filter message %d\n", (int)code);
    return 0;
}

/* A temporary name beside the output, made (empty) by mkstemp. */
static int temp_beside(const char *output, char *name, size_t size)
{
    if ((size_t)snprintf(name, size, "%s.partXXXXXX", output) >= size)
        return -1;
    int fd = mkstemp(name);
    if (fd < 0)
        return -1;
    close(fd);
    return 0;
}

static int run_import(const Filter *filter, HGLOBAL setup, const char *input, const char *output)
{
    char temp[PATH_MAX + 16];
    if (temp_beside(output, temp, sizeof temp) != 0) {
        fprintf(stderr, "fpxconv: cannot convert %s: cannot create a file beside %s: %s\n", input,
                output, strerror(errno));
        return 1;
    }
    int32_t reported = KX_OK;
    HostRecord host;
    InterpretStructure interp;
    memset(&host, 0, sizeof host);
    memset(&interp, 0, sizeof interp);
    host.statusProc = status_proc;
    host.userValue = (uint64_t)(uintptr_t)&reported;
    interp.setup = setup;
    interp.hostRecord = &host;

    int32_t rc = filter->importFile(0, OUTPUT_DEVICE, temp, input, &interp);
    if (rc == KX_OK && rename(temp, output) != 0) {
        fprintf(stderr, "fpxconv: cannot convert %s: cannot write %s: %s\n", input, output,
                strerror(errno));
        unlink(temp);
        return 1;
    }
    if (rc != KX_OK) {
        unlink(temp);
        fprintf(stderr, "fpxconv: cannot convert %s: %s (code %d)\n", input, code_text(rc),
                (int)rc);
        return 1;
    }
    printf("%s -> %s\n", input, output);
    return 0;
}

/* One line per file: its size and depth, or why they cannot be read. */
static int print_info(const Filter *filter, int count, char **files)
{
    if (!filter->getFileInfo) {
        fprintf(stderr, "fpxconv: the filter has no GetFileInfo entry\n");
        return 1;
    }
    int failed = 0;
    for (int i = 0; i < count; i++) {
        FileInfo info;
        memset(&info, 0, sizeof info);
        info.size = (int32_t)sizeof info;
        int32_t rc = filter->getFileInfo(files[i], &info, NULL, NULL);
        if (rc == KX_OK) {
            printf("%s: %d x %d, %d bits per pixel\n", files[i], (int)info.width,
                   (int)info.height, (int)info.bitsPerPixel);
        } else {
            fprintf(stderr, "fpxconv: %s: no file information: %s (code %d)\n", files[i],
                    code_text(rc), (int)rc);
            failed = 1;
        }
    }
    return failed;
}

static int usage(void)
{
    fprintf(stderr, "usage: fpxconv [input.fpx output.png | --info file.fpx...]\n");
    return 2;
}

int main(int argc, char **argv)
{
    const int info = argc >= 2 && strcmp(argv[1], "--info") == 0;
    if (info ? argc < 3 : argc != 1 && argc != 3)
        return usage();

    char path[PATH_MAX + sizeof FILTER_FILE + 1];
    filter_path(argv[0], path, sizeof path);
    Filter filter;
    if (load_filter(path, &filter) != 0)
        return 2;
    if (info) {
        int rc = print_info(&filter, argc - 2, argv + 2);
        dlclose(filter.lib.dlHandle);
        return rc;
    }
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
