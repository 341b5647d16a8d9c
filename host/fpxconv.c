/* fpxconv: the command-line host. Reads its command line, loads the filter
 * (filter_host.c) and converts each FlashPix file to PNG (convert.c) or
 * prints its file information (info.c). Exit status: 0 every file done,
 * 1 some failed, 2 bad usage; a cancelled run ends by its signal. */
#define _GNU_SOURCE
#include "host.h"

#include <getopt.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <kxfpx/setup.h>

#ifndef KXFPX_VERSION
#define KXFPX_VERSION "unknown"
#endif

/* Read by the output library when it writes the PNG. */
#define PNG_LEVEL_VARIABLE "KXFPX_OUTPUT_PNG_LEVEL"
/* Fast by default: at level 1 a large picture is written in a fraction of
 * the time level 6 takes, for a file not much larger. */
#define DEFAULT_PNG_LEVEL 1
#define MAX_THREADS 64 /* the filter uses at most 64 */

static const char kUsage[] =
    "usage: fpxconv [options] IN.fpx [OUT.png]\n"
    "       fpxconv [options] -o DIR IN.fpx...\n"
    "       fpxconv --info [--json] FILE.fpx...\n"
    "\n"
    "Converts FlashPix files to PNG (OUT.png defaults to IN with .png).\n"
    "\n"
    "  -o, --output-dir DIR      write DIR/NAME.png for each input\n"
    "  -f, --force               overwrite existing output files\n"
    "      --resolution WHICH    low, middle or high (default high)\n"
    "      --threads N           decoding threads, up to 64 (default 0: one per CPU)\n"
    "      --png-level N         PNG compression 0 (none) to 9 (smallest); default 1\n"
    "      --info                print width, height and bits per pixel\n"
    "      --json                with --info: print a JSON array\n"
    "  -q, --quiet               print errors only\n"
    "  -v, --verbose             say more (filter, settings)\n"
    "  -h, --help                print this help\n"
    "  -V, --version             print the versions of fpxconv and of the filter\n"
    "\n"
    "Exit status: 0 all files done, 1 some failed, 2 bad usage;\n"
    "Ctrl-C cancels and leaves no partial output.\n";

enum { OPT_RESOLUTION = 256, OPT_THREADS, OPT_PNG_LEVEL, OPT_INFO, OPT_JSON };

static int bad_usage(const char *what, const char *value)
{
    if (value)
        fprintf(stderr, FPXCONV_NAME ": %s: %s\n", what, value);
    else
        fprintf(stderr, FPXCONV_NAME ": %s\n", what);
    fprintf(stderr, "Try 'fpxconv --help' for more information.\n");
    return EXIT_BAD_USAGE;
}

/* A whole decimal number within [low, high], or -1. */
static int parse_count(const char *text, int low, int high)
{
    char *end;
    long value = strtol(text, &end, 10);
    return *text && !*end && value >= low && value <= high ? (int)value : -1;
}

static int parse_resolution(const char *text)
{
    static const char *const names[] = {"low", "middle", "high"};
    static const int16_t values[] = {KX_RESOLUTION_LOWEST, KX_RESOLUTION_MIDDLE,
                                     KX_RESOLUTION_HIGHEST};
    for (size_t i = 0; i < sizeof names / sizeof names[0]; i++)
        if (strcasecmp(text, names[i]) == 0)
            return values[i];
    return -1;
}

static int ends_with_fpx(const char *name)
{
    size_t n = strlen(name);
    return n >= 4 && strcasecmp(name + n - 4, ".fpx") == 0;
}

/* Parses the options; returns the index of the first file argument, or -1
 * after printing a usage error, or 0 when the run is already done (help). */
static int parse_options(int argc, char **argv, Settings *s, int *version)
{
    static const struct option options[] = {
        {"output-dir", required_argument, NULL, 'o'},
        {"force", no_argument, NULL, 'f'},
        {"resolution", required_argument, NULL, OPT_RESOLUTION},
        {"threads", required_argument, NULL, OPT_THREADS},
        {"png-level", required_argument, NULL, OPT_PNG_LEVEL},
        {"info", no_argument, NULL, OPT_INFO},
        {"json", no_argument, NULL, OPT_JSON},
        {"quiet", no_argument, NULL, 'q'},
        {"verbose", no_argument, NULL, 'v'},
        {"help", no_argument, NULL, 'h'},
        {"version", no_argument, NULL, 'V'},
        {NULL, 0, NULL, 0}};
    opterr = 0;
    int c, value;
    while ((c = getopt_long(argc, argv, ":o:fqvhV", options, NULL)) != -1) {
        switch (c) {
        case 'o': s->outputDir = optarg; break;
        case 'f': s->force = 1; break;
        case 'q': s->quiet = 1; break;
        case 'v': s->verbose = 1; break;
        case 'V': *version = 1; break;
        case OPT_INFO: s->info = 1; break;
        case OPT_JSON: s->json = 1; break;
        case 'h': fputs(kUsage, stdout); return 0;
        case OPT_RESOLUTION:
            if ((value = parse_resolution(optarg)) < 0)
                return bad_usage("--resolution takes low, middle or high, not", optarg), -1;
            s->resolution = (int16_t)value;
            break;
        case OPT_THREADS:
            if ((s->threads = parse_count(optarg, 0, MAX_THREADS)) < 0)
                return bad_usage("--threads takes a number from 0 to 64, not", optarg), -1;
            break;
        case OPT_PNG_LEVEL:
            if ((s->pngLevel = parse_count(optarg, 0, 9)) < 0)
                return bad_usage("--png-level takes a number from 0 to 9, not", optarg), -1;
            break;
        case ':': return bad_usage("missing value after", argv[optind - 1]), -1;
        default: return bad_usage("unknown option", argv[optind - 1]), -1;
        }
    }
    return optind;
}

/* Checks the file arguments against the mode; returns 0 or a usage error. */
static int check_files(const Settings *s, int files, char **argv)
{
    if (s->json && !s->info)
        return bad_usage("--json goes with --info", NULL);
    if (files == 0)
        return bad_usage(s->info ? "no file to describe" : "no input file", NULL);
    if (s->info || s->outputDir)
        return 0;
    if (files > 2)
        return bad_usage("several inputs need -o DIR", NULL);
    /* "fpxconv a.fpx b.fpx" is two inputs more often than an output that
     * happens to be named .fpx. */
    if (files == 2 && ends_with_fpx(argv[1]))
        return bad_usage("the output name ends in .fpx; to convert several files use -o DIR",
                         argv[1]);
    return 0;
}

static Outcome convert_all(const Filter *filter, const Settings *s, int files, char **argv)
{
    Outcome worst = OUTCOME_DONE;
    const int named = s->outputDir || files == 1; /* else argv[1] is the output */
    for (int i = 0; i < (s->outputDir ? files : 1) && worst != OUTCOME_CANCELLED; i++) {
        char *made = named ? output_name_for(s, argv[i]) : NULL;
        if (named && !made) {
            fprintf(stderr, FPXCONV_NAME ": %s: out of memory\n", argv[i]);
            worst = OUTCOME_FAILED;
            continue;
        }
        Outcome one = convert_file(filter, s, argv[i], named ? made : argv[1]);
        free(made);
        if (one != OUTCOME_DONE)
            worst = one;
        if (signals_pending())
            worst = OUTCOME_CANCELLED;
    }
    return worst;
}

int main(int argc, char **argv)
{
    Settings settings = {NULL, 0, KX_RESOLUTION_HIGHEST, 0, 0, 0, 0, 0, DEFAULT_PNG_LEVEL};
    int version = 0;
    int first = parse_options(argc, argv, &settings, &version);
    if (first <= 0)
        return first == 0 ? EXIT_ALL_DONE : EXIT_BAD_USAGE;
    int files = argc - first;
    if (!version) {
        int usage = check_files(&settings, files, argv + first);
        if (usage != 0)
            return usage;
    }

    signals_hold();
    /* The run's settings come from the command line only (filter_host.c). */
    unsetenv("INIDIR");
    char level[2] = {(char)('0' + settings.pngLevel), '\0'};
    setenv(PNG_LEVEL_VARIABLE, level, 1);

    Filter filter;
    if (filter_load(&filter) != 0)
        return EXIT_SOME_FAILED;
    if (version) {
        printf("fpxconv %s\n", KXFPX_VERSION);
        filter_describe(&filter, settings.verbose);
        filter_unload(&filter);
        return EXIT_ALL_DONE;
    }

    Outcome outcome;
    if (settings.info) {
        outcome = print_info(&filter, &settings, files, argv + first);
    } else if (filter_open_setup(&filter, &settings) != 0) {
        outcome = OUTCOME_FAILED;
    } else {
        if (settings.verbose)
            fprintf(stderr,
                    FPXCONV_NAME ": filter %s; profile %s; resolution %d; threads %d; "
                                 "PNG level %d\n",
                    filter.path, filter.profile, settings.resolution, settings.threads,
                    settings.pngLevel);
        outcome = convert_all(&filter, &settings, files, argv + first);
        filter_close_setup(&filter);
    }
    filter_unload(&filter);
    fflush(stdout);
    /* A cancel code without a pending signal came from the output library
     * (its error 901): an ordinary failure. */
    const int stop = signals_pending();
    if (outcome == OUTCOME_CANCELLED && stop)
        signals_finish(stop);
    return outcome == OUTCOME_DONE ? EXIT_ALL_DONE : EXIT_SOME_FAILED;
}
