/* One conversion: ImportFile draws the picture through the output library
 * into a temporary file beside the output, which is renamed into place only
 * when the import succeeds, so a failure or a cancel leaves no partial PNG
 * and an existing output as it was. The status procedure draws the
 * progress bar and answers the cancel question. */
#define _GNU_SOURCE
#include "host.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <kxfpx/codes.h>
#include <kxfpx/setup.h>

#define OUTPUT_DEVICE "png"
#define OUTPUT_EXTENSION ".png"
#define TEMP_SUFFIX ".partXXXXXX"
#define PROGRESS_WIDTH 30

/* What the status procedure knows of the running import. */
typedef struct ImportState {
    const char *input;
    int32_t reported; /* the first error code the filter reported */
    int bar;          /* draw a progress bar (standard error is a terminal) */
    int barShown;
    int lastPercent;
} ImportState;

static const char *base_name(const char *path)
{
    const char *slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

/* The input's name with its last extension replaced by ".png", in the
 * output folder when one is given, else beside the input. */
char *output_name_for(const Settings *settings, const char *input)
{
    const char *base = base_name(input);
    const char *dot = strrchr(base, '.');
    size_t stem = (size_t)((dot && dot != base ? dot : base + strlen(base)) - input);
    const char *dir = settings->outputDir;
    if (dir)
        stem -= (size_t)(base - input);
    size_t size = (dir ? strlen(dir) + 1 : 0) + stem + sizeof OUTPUT_EXTENSION;
    char *name = malloc(size);
    if (name)
        snprintf(name, size, "%s%s%.*s" OUTPUT_EXTENSION, dir ? dir : "", dir ? "/" : "",
                 (int)stem, dir ? base : input);
    return name;
}

static void clear_bar(ImportState *state)
{
    if (state->barShown)
        fputs("\r\033[K", stderr);
    state->barShown = 0;
}

static void draw_bar(ImportState *state, int percent)
{
    percent = percent < 0 ? 0 : percent > 100 ? 100 : percent;
    if (state->barShown && percent == state->lastPercent)
        return;
    static const char hashes[PROGRESS_WIDTH + 1] = "##############################";
    int filled = percent * PROGRESS_WIDTH / 100;
    fprintf(stderr, "\r%s [%.*s%*s] %3d%%", base_name(state->input), filled, hashes,
            PROGRESS_WIDTH - filled, "", percent);
    state->barShown = 1;
    state->lastPercent = percent;
}

/* The host's status procedure. A progress report (kind 0, code 0) is
 * answered with "cancel" while a stop signal is pending; the filter then
 * asks the cancel question (kind 2, code 61), which gets the same answer.
 * Other questions are answered no; the first error code is kept and worded
 * once, when the import returns. */
static int32_t status_proc(uint64_t user, int32_t kind, int32_t code, int32_t value1,
                           int32_t value2, int32_t style, MessageArgs *args)
{
    (void)value2;
    (void)style;
    (void)args;
    ImportState *state = (ImportState *)(uintptr_t)user;
    switch (kind) {
    case KX_STATUS_PROGRESS:
        if (code != KX_OK) /* the range announced when the device opens */
            return 0;
        if (state->bar)
            draw_bar(state, value1);
        return signals_pending() != 0;
    case KX_STATUS_QUESTION:
        return code == KX_CANCELLED && signals_pending() != 0;
    case KX_STATUS_ERROR:
        if (state->reported == KX_OK)
            state->reported = code;
        return 0;
    default:
        clear_bar(state);
        fprintf(stderr, FPXCONV_NAME ": %s: message %d from the filter\n", state->input, (int)code);
        return 0;
    }
}

/* Makes the temporary file beside the output (empty, by mkstemp). */
static int make_temp(const char *output, char **temp)
{
    size_t size = strlen(output) + sizeof TEMP_SUFFIX;
    *temp = malloc(size);
    if (!*temp)
        return -1;
    snprintf(*temp, size, "%s" TEMP_SUFFIX, output);
    int fd = mkstemp(*temp);
    if (fd < 0) {
        free(*temp);
        *temp = NULL;
        return -1;
    }
    /* mkstemp makes the file private (0600); the PNG gets the mode of the
     * file it replaces, or what the umask leaves of 0666, as any new file. */
    struct stat st;
    mode_t mode;
    if (stat(output, &st) == 0 && S_ISREG(st.st_mode)) {
        mode = st.st_mode & 07777;
    } else {
        mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    fchmod(fd, mode);
    return fd;
}

/* Puts the finished temporary file in place. Without -f an output that
 * appeared meanwhile is not replaced (RENAME_NOREPLACE); a file system that
 * cannot do that gets a check just before a plain rename. */
static int put_in_place(const char *temp, const char *output, int force)
{
    if (force)
        return rename(temp, output);
    if (renameat2(AT_FDCWD, temp, AT_FDCWD, output, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return -1;
    struct stat st;
    if (lstat(output, &st) == 0) {
        errno = EEXIST;
        return -1;
    }
    return rename(temp, output);
}

static int same_file(const char *a, const char *b)
{
    struct stat sa, sb;
    return stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

static Outcome fail_exists(const char *input, const char *output)
{
    fprintf(stderr, FPXCONV_NAME ": %s: %s exists (use -f to overwrite it)\n", input, output);
    return OUTCOME_FAILED;
}

Outcome convert_file(const Filter *filter, const Settings *settings, const char *input,
                     const char *output)
{
    struct stat st;
    if (strlen(input) >= KX_IMPORT_PATH_SIZE) {
        fprintf(stderr, FPXCONV_NAME ": %s: cannot open the file: the name is too long\n", input);
        return OUTCOME_FAILED;
    }
    if (same_file(input, output)) {
        fprintf(stderr, FPXCONV_NAME ": %s: the output %s is the input itself\n", input, output);
        return OUTCOME_FAILED;
    }
    if (!settings->force && lstat(output, &st) == 0)
        return fail_exists(input, output);

    char *temp = NULL;
    int fd = make_temp(output, &temp);
    if (fd < 0) {
        fprintf(stderr, FPXCONV_NAME ": %s: %s %s: %s\n", input,
                code_text(KX_OUTPUT_WRITE_FAILED), output, strerror(errno));
        return OUTCOME_FAILED;
    }
    /* The setup keeps the output name in a 144-byte field. A longer name is
     * handed over as the descriptor's /proc path, which opens the same file;
     * the descriptor stays open until the import ends. */
    char fdName[32];
    const char *drawTo = temp;
    if (strlen(temp) >= KX_OUTPUT_NAME_SIZE) {
        snprintf(fdName, sizeof fdName, "/proc/self/fd/%d", fd);
        drawTo = fdName;
    }

    ImportState state = {input, KX_OK, !settings->quiet && isatty(STDERR_FILENO), 0, -1};
    HostRecord host;
    InterpretStructure interp;
    memset(&host, 0, sizeof host);
    memset(&interp, 0, sizeof interp);
    host.statusProc = status_proc;
    host.userValue = (uint64_t)(uintptr_t)&state;
    interp.setup = filter->setup;
    interp.hostRecord = &host;

    int32_t rc = filter->importFile(0, OUTPUT_DEVICE, drawTo, input, &interp);
    close(fd);
    clear_bar(&state);
    /* A stop asked for after the last progress report still discards the
     * picture: the user asked for nothing to be left. */
    if (rc == KX_OK && signals_pending())
        rc = KX_CANCELLED;

    Outcome outcome = OUTCOME_DONE;
    if (rc != KX_OK) {
        report_code(input, rc, output);
        outcome = rc == KX_CANCELLED ? OUTCOME_CANCELLED : OUTCOME_FAILED;
    } else if (put_in_place(temp, output, settings->force) != 0) {
        if (errno == EEXIST)
            fail_exists(input, output);
        else
            fprintf(stderr, FPXCONV_NAME ": %s: %s %s: %s\n", input,
                    code_text(KX_OUTPUT_WRITE_FAILED), output, strerror(errno));
        outcome = OUTCOME_FAILED;
    } else if (!settings->quiet) {
        printf("%s -> %s\n", input, output);
    }
    if (outcome != OUTCOME_DONE)
        unlink(temp);
    free(temp);
    return outcome;
}
