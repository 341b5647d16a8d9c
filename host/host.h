/* fpxconv's shared pieces: the command-line settings, the filter as loaded
 * through its export rows, and the steps of a run (signals, wording of
 * codes, conversion, file information). */
#ifndef FPXCONV_HOST_H
#define FPXCONV_HOST_H

#include <stdint.h>

#include <kxfpx/records.h>

#define FPXCONV_NAME "fpxconv"

/* Exit statuses. A cancelled run ends by its signal instead (signals.c). */
enum { EXIT_ALL_DONE = 0, EXIT_SOME_FAILED = 1, EXIT_BAD_USAGE = 2 };

/* How one file ended. */
typedef enum Outcome { OUTCOME_DONE, OUTCOME_FAILED, OUTCOME_CANCELLED } Outcome;

typedef struct Settings {
    const char *outputDir; /* -o DIR: several inputs, outputs named after them */
    int force;             /* -f: replace an existing output */
    int16_t resolution;    /* the choice sent with escape 84 */
    int info, json;        /* --info, --json */
    int threads;           /* --threads: 0 is one per processor */
    int quiet, verbose;
    int pngLevel;          /* zlib level of the PNG, 0..9 */
} Settings;

typedef HGLOBAL (*CreateSetupProc)(uint64_t, const char *, const char *);
typedef int32_t (*DestroySetupProc)(HGLOBAL);
typedef int32_t (*EscapeSetupProc)(HGLOBAL, int32_t, int32_t, void *, void *, int32_t);
typedef int32_t (*ImportFileProc)(uint64_t, const char *, const char *, const char *,
                                  InterpretStructure *);
typedef uint32_t (*VersionProc)(void);
typedef int32_t (*GetFileInfoProc)(const char *, FileInfo *, HGLOBAL, HostIoProc);

/* The filter as loaded, and the setup of this run with its private
 * profile (an empty name when none was written). */
typedef struct Filter {
    char path[4096 + 32];
    SharedLib lib;
    ImportFileProc importFile;
    CreateSetupProc createSetup;
    DestroySetupProc destroySetup;
    EscapeSetupProc escapeSetup;
    VersionProc version;
    GetFileInfoProc getFileInfo;
    HGLOBAL setup;
    char profile[KX_PROFILE_NAME_SIZE];
} Filter;

/* filter_host.c */
int filter_load(Filter *filter);
void filter_unload(Filter *filter);
int filter_open_setup(Filter *filter, const Settings *settings);
void filter_close_setup(Filter *filter);
void filter_describe(const Filter *filter, int rows);

/* signals.c */
void signals_hold(void);
int signals_pending(void);
void signals_finish(int signal_number);

/* messages.c */
const char *code_text(int32_t code);
void report_code(const char *file, int32_t code, const char *output);

/* convert.c */
char *output_name_for(const Settings *settings, const char *input);
Outcome convert_file(const Filter *filter, const Settings *settings, const char *input,
                     const char *output);

/* info.c */
Outcome print_info(const Filter *filter, const Settings *settings, int count, char **files);

#endif
