/* inkveil command-line program: reads the command line into a Request and
 * hands it to the runner. Uses only the public C interface. */
#define _POSIX_C_SOURCE 200809L

#include <ctype.h>
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "cli.h"
#include "inkveil.h"

#define STR_(x) #x
#define STR(x) STR_(x)
#define VERSION_TEXT                                                                      \
    STR(INKVEIL_VERSION_MAJOR) "." STR(INKVEIL_VERSION_MINOR) "." STR(INKVEIL_VERSION_PATCH)

/* Exit status for a command line that cannot be run. */
#define EXIT_USAGE 2
/* The most worker processes -j takes. */
#define MAX_JOBS 256
/* Pages are stored as 32-bit floats: integers up to 2^24 are exact. */
#define MAX_PAGE 16777216L

static const char program_help[] =
    "inkveil " VERSION_TEXT ": redacts PDF files.\n"
    "\n"
    "usage: inkveil text [OPTIONS] INPUT OUTPUT TEXT\n"
    "       inkveil text [OPTIONS] --out-dir DIR INPUT... TEXT\n"
    "       inkveil region [OPTIONS] INPUT OUTPUT --rect PAGE:X,Y,W,H [--rect ...]\n"
    "       inkveil region [OPTIONS] --out-dir DIR --rect PAGE:X,Y,W,H [--rect ...] INPUT...\n"
    "       inkveil count [OPTIONS] INPUT... TEXT\n"
    "       inkveil --help | --version\n"
    "\n"
    "commands:\n"
    "  text     blank every occurrence of TEXT and paint a box over each\n"
    "  region   blank the text inside rectangles and paint a box over each\n"
    "  count    count the occurrences of TEXT, writing nothing\n"
    "\n"
    "options:\n"
    "  --color R,G,B        colour of the painted boxes (text, region; default 0,0,0)\n"
    "  --out-dir DIR        write each INPUT to DIR under its own name (text, region)\n"
    "  --rect PAGE:X,Y,W,H  a rectangle to redact (region; repeatable)\n"
    "  -j, --jobs N         work on N files at once, one process each (default 1)\n"
    "  --json               print one JSON object per file on stdout\n"
    "  -h, --help           show this help, or a command's help after the command\n"
    "  --version            show the version\n"
    "\n"
    "TEXT is always the last argument. Every redaction also removes hidden\n"
    "information: document info, metadata, embedded files, bookmarks, comments\n"
    "and other non-widget annotations, and form field values.\n"
    "Errors are printed on stderr as FILE: MESSAGE.\n"
    "Exit status: 0 when every file succeeded, 1 when any file failed, 2 for a\n"
    "command line that cannot be run. 'inkveil COMMAND --help' tells more.\n";

static const char text_usage[] =
    "usage: inkveil text [OPTIONS] INPUT OUTPUT TEXT\n"
    "       inkveil text [OPTIONS] --out-dir DIR INPUT... TEXT\n";

static const char text_help[] =
    "\n"
    "Blanks every occurrence of TEXT in the page contents, in the forms they draw\n"
    "and in annotation appearances, paints a box over each, removes hidden\n"
    "information and writes the result. ASCII letters are compared without regard\n"
    "to case. No output is written when TEXT would still appear in it.\n"
    "TEXT is always the last argument; put -- before it when it starts with '-'.\n"
    "\n"
    "options:\n"
    "  --color R,G,B   colour of the painted boxes, each 0..255 (default 0,0,0, black)\n"
    "  --out-dir DIR   write each INPUT to DIR under its own file name; DIR is\n"
    "                  created when missing\n"
    "  -j, --jobs N    work on N files at once, one process each (default 1)\n"
    "  --json          print one JSON object per file on stdout:\n"
    "                  {\"file\", \"ok\", \"output\", \"count\", \"error\"}\n"
    "  -h, --help      show this help\n"
    "\n"
    "For each file it prints INPUT -> OUTPUT and the number of matches redacted.\n";

static const char region_usage[] =
    "usage: inkveil region [OPTIONS] INPUT OUTPUT --rect PAGE:X,Y,W,H [--rect ...]\n"
    "       inkveil region [OPTIONS] --out-dir DIR --rect PAGE:X,Y,W,H [--rect ...] INPUT...\n";

static const char region_help[] =
    "\n"
    "Blanks the text glyphs whose origin lies inside the rectangles, paints a box\n"
    "over each rectangle, removes hidden information and writes the result. Images\n"
    "under a rectangle are covered, not removed.\n"
    "\n"
    "options:\n"
    "  --rect PAGE:X,Y,W,H  a rectangle to redact: PAGE counts from 1; X,Y is the\n"
    "                       lower left corner and W,H the size, in the units of the\n"
    "                       page's content (1/72 inch on most pages); give it once\n"
    "                       per rectangle, at least once\n"
    "  --color R,G,B        colour of the painted boxes, each 0..255 (default 0,0,0)\n"
    "  --out-dir DIR        write each INPUT to DIR under its own file name; DIR is\n"
    "                       created when missing\n"
    "  -j, --jobs N         work on N files at once, one process each (default 1)\n"
    "  --json               print one JSON object per file on stdout:\n"
    "                       {\"file\", \"ok\", \"output\", \"error\"}\n"
    "  -h, --help           show this help\n";

static const char count_usage[] = "usage: inkveil count [OPTIONS] INPUT... TEXT\n";

static const char count_help[] =
    "\n"
    "Counts the occurrences of TEXT that 'inkveil text' would redact, in the page\n"
    "contents, the forms they draw and annotation appearances; writes nothing.\n"
    "Text found only in hidden information (document info, bookmarks, form field\n"
    "values) is not counted. Prints the count, or FILE: COUNT for several files.\n"
    "TEXT is always the last argument; put -- before it when it starts with '-'.\n"
    "\n"
    "options:\n"
    "  -j, --jobs N   work on N files at once, one process each (default 1)\n"
    "  --json         print one JSON object per file on stdout:\n"
    "                 {\"file\", \"ok\", \"count\", \"error\"}\n"
    "  -h, --help     show this help\n";

enum { OPT_HELP, OPT_COLOR, OPT_OUT_DIR, OPT_RECT, OPT_JOBS, OPT_JSON };

#define FOR_TEXT (1u << CMD_TEXT)
#define FOR_REGION (1u << CMD_REGION)
#define FOR_COUNT (1u << CMD_COUNT)

typedef struct {
    const char *name;  /* long name, without "--" */
    char short_name;   /* 0 when none */
    int takes_value;
    unsigned commands; /* FOR_* bits */
} OptionSpec;

/* Indexed by the OPT_* values. */
static const OptionSpec option_specs[] = {
    {"help", 'h', 0, FOR_TEXT | FOR_REGION | FOR_COUNT},
    {"color", 0, 1, FOR_TEXT | FOR_REGION},
    {"out-dir", 0, 1, FOR_TEXT | FOR_REGION},
    {"rect", 0, 1, FOR_REGION},
    {"jobs", 'j', 1, FOR_TEXT | FOR_REGION | FOR_COUNT},
    {"json", 0, 0, FOR_TEXT | FOR_REGION | FOR_COUNT},
};
#define OPTION_COUNT ((int)(sizeof option_specs / sizeof option_specs[0]))

static const char *const command_names[] = {"text", "region", "count"};
static const char *const command_usages[] = {text_usage, region_usage, count_usage};
static const char *const command_helps[] = {text_help, region_help, count_help};

/* A command line that cannot be run: says why, shows the usage, exit 2. */
static int usage_error(int command, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

static int usage_error(int command, const char *format, ...) {
    va_list args;
    va_start(args, format);
    fputs("inkveil: ", stderr);
    vfprintf(stderr, format, args);
    fputc('\n', stderr);
    va_end(args);
    if (command < 0) {
        fputs("usage: inkveil text|region|count [OPTIONS] ARGUMENTS\n"
              "Try 'inkveil --help' for more information.\n",
              stderr);
    } else {
        fputs(command_usages[command], stderr);
        fprintf(stderr, "Try 'inkveil %s --help' for more information.\n",
                command_names[command]);
    }
    return EXIT_USAGE;
}

static int parse_long(const char *text, long lo, long hi, long *out) {
    char *end = NULL;
    if (*text == '\0' || isspace((unsigned char)*text)) return 0;
    long v = strtol(text, &end, 10);
    if (*end != '\0' || v < lo || v > hi) return 0;
    *out = v;
    return 1;
}

/* Reads a finite float that ends at `stop` (',' or '\0'); returns the
 * position after it or NULL. */
static const char *parse_float(const char *text, char stop, float *out) {
    char *end = NULL;
    if (*text == '\0' || isspace((unsigned char)*text)) return NULL;
    float v = strtof(text, &end);
    if (end == text || *end != stop || !isfinite(v)) return NULL;
    *out = v;
    return *end == '\0' ? end : end + 1;
}

/* "R,G,B", each an integer 0..255. */
static int parse_color(const char *text, int rgb[3]) {
    char part[16];
    for (int k = 0; k < 3; ++k) {
        const char *stop = k < 2 ? strchr(text, ',') : text + strlen(text);
        long v;
        if (stop == NULL || stop - text >= (long)sizeof part) return 0;
        memcpy(part, text, (size_t)(stop - text));
        part[stop - text] = '\0';
        if (!parse_long(part, 0, 255, &v)) return 0;
        rgb[k] = (int)v;
        text = stop + 1;
    }
    return 1;
}

/* "PAGE:X,Y,W,H": an integer page, four finite numbers. The library checks
 * the page against the document and the size for being positive. */
static int parse_rect(const char *text, Region *out) {
    char page[24];
    const char *colon = strchr(text, ':');
    long p;
    if (colon == NULL || colon - text >= (long)sizeof page) return 0;
    memcpy(page, text, (size_t)(colon - text));
    page[colon - text] = '\0';
    if (!parse_long(page, -MAX_PAGE, MAX_PAGE, &p)) return 0;
    out->page = (float)p;
    const char *s = colon + 1;
    float *fields[4] = {&out->x, &out->y, &out->width, &out->height};
    for (int k = 0; k < 4; ++k) {
        s = parse_float(s, k < 3 ? ',' : '\0', fields[k]);
        if (s == NULL) return 0;
    }
    return 1;
}

static const char *base_name(const char *path) {
    const char *slash = strrchr(path, '/');
    return slash != NULL ? slash + 1 : path;
}

static int compare_base_names(const void *a, const void *b) {
    return strcmp(base_name(*(char *const *)a), base_name(*(char *const *)b));
}

/* The output paths for --out-dir: DIR/<input's file name>. Returns the exit
 * status of a usage error, or 0. */
static int make_outputs(Request *rq) {
    const size_t dir_len = strlen(rq->out_dir);
    const int slash = dir_len > 0 && rq->out_dir[dir_len - 1] != '/';
    char **sorted = malloc((size_t)rq->input_count * sizeof *sorted);
    rq->outputs = calloc((size_t)rq->input_count, sizeof *rq->outputs);
    if (sorted == NULL || rq->outputs == NULL) {
        free(sorted);
        fputs("inkveil: out of memory\n", stderr);
        return 1;
    }
    for (int i = 0; i < rq->input_count; ++i) {
        const char *name = base_name(rq->inputs[i]);
        if (*name == '\0' || strcmp(name, ".") == 0 || strcmp(name, "..") == 0) {
            free(sorted);
            return usage_error(rq->command, "'%s' is not a file name", rq->inputs[i]);
        }
        sorted[i] = rq->inputs[i];
    }
    /* Two inputs with the same file name would overwrite each other. */
    qsort(sorted, (size_t)rq->input_count, sizeof *sorted, compare_base_names);
    for (int i = 1; i < rq->input_count; ++i) {
        if (compare_base_names(&sorted[i - 1], &sorted[i]) == 0) {
            int status = usage_error(rq->command, "two inputs are named '%s': their outputs "
                                                  "would overwrite each other",
                                     base_name(sorted[i]));
            free(sorted);
            return status;
        }
    }
    free(sorted);
    for (int i = 0; i < rq->input_count; ++i) {
        const char *name = base_name(rq->inputs[i]);
        const size_t len = dir_len + (size_t)slash + strlen(name) + 1;
        rq->outputs[i] = malloc(len);
        if (rq->outputs[i] == NULL) {
            fputs("inkveil: out of memory\n", stderr);
            return 1;
        }
        snprintf(rq->outputs[i], len, "%s%s%s", rq->out_dir, slash ? "/" : "", name);
    }
    return 0;
}

static void free_request(Request *rq) {
    /* Without --out-dir the one output points into the inputs array. */
    if (rq->out_dir != NULL && rq->outputs != NULL) {
        for (int i = 0; i < rq->input_count; ++i) free(rq->outputs[i]);
        free(rq->outputs);
    }
    free(rq->regions);
    free(rq->inputs);
}

/* Finds the option named by argument `arg` ("--name", "--name=value", "-x",
 * "-xVALUE"). Sets *inline_value when the value is part of the argument. */
static int find_option(const char *arg, const char **inline_value) {
    *inline_value = NULL;
    if (arg[1] == '-') {
        const char *name = arg + 2;
        const char *eq = strchr(name, '=');
        const size_t len = eq != NULL ? (size_t)(eq - name) : strlen(name);
        for (int k = 0; k < OPTION_COUNT; ++k) {
            if (strlen(option_specs[k].name) == len &&
                strncmp(option_specs[k].name, name, len) == 0) {
                if (eq != NULL) *inline_value = eq + 1;
                return k;
            }
        }
        return -1;
    }
    for (int k = 0; k < OPTION_COUNT; ++k) {
        if (option_specs[k].short_name != 0 && option_specs[k].short_name == arg[1]) {
            if (arg[2] != '\0') *inline_value = arg + 2;
            return k;
        }
    }
    return -1;
}

/* Reads the arguments after the command into `rq`. Returns 0 to go on, or the
 * exit status to end with. */
static int parse_command(int argc, char **argv, Request *rq) {
    const int cmd = (int)rq->command;
    int positional = 0;
    int options_done = 0;
    /* A help request wins over any other problem on the line. */
    for (int i = 2; i < argc && strcmp(argv[i], "--") != 0; ++i) {
        if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "--help") == 0) {
            fputs(command_usages[cmd], stdout);
            fputs(command_helps[cmd], stdout);
            return -1;
        }
    }
    rq->inputs = malloc((size_t)argc * sizeof *rq->inputs);
    if (rq->inputs == NULL) {
        fputs("inkveil: out of memory\n", stderr);
        return 1;
    }
    for (int i = 2; i < argc; ++i) {
        const char *arg = argv[i];
        if (options_done || arg[0] != '-' || arg[1] == '\0') {
            rq->inputs[positional++] = argv[i];
            continue;
        }
        if (strcmp(arg, "--") == 0) {
            options_done = 1;
            continue;
        }
        const char *value = NULL;
        const int opt = find_option(arg, &value);
        if (opt < 0) return usage_error(cmd, "unknown option '%s'", arg);
        if (!(option_specs[opt].commands & (1u << cmd)))
            return usage_error(cmd, "option '%s' does not apply to 'inkveil %s'", arg,
                               command_names[cmd]);
        if (option_specs[opt].takes_value && value == NULL) {
            if (i + 1 >= argc) return usage_error(cmd, "option '%s' needs a value", arg);
            value = argv[++i];
        } else if (!option_specs[opt].takes_value && value != NULL) {
            return usage_error(cmd, "option '%s' takes no value", arg);
        }
        long n;
        switch (opt) {
        case OPT_COLOR:
            if (!parse_color(value, rq->rgb))
                return usage_error(cmd, "--color needs R,G,B, each 0..255 (got '%s')", value);
            break;
        case OPT_OUT_DIR:
            if (*value == '\0') return usage_error(cmd, "--out-dir needs a directory");
            rq->out_dir = value;
            break;
        case OPT_RECT: {
            Region *grown = realloc(rq->regions, ((size_t)rq->region_count + 1) * sizeof *grown);
            if (grown == NULL) {
                fputs("inkveil: out of memory\n", stderr);
                return 1;
            }
            rq->regions = grown;
            if (!parse_rect(value, &rq->regions[rq->region_count]))
                return usage_error(cmd, "--rect needs PAGE:X,Y,W,H (got '%s')", value);
            ++rq->region_count;
            break;
        }
        case OPT_JOBS:
            if (!parse_long(value, 1, MAX_JOBS, &n))
                return usage_error(cmd, "-j needs a number of processes from 1 to "
                                        STR(MAX_JOBS) " (got '%s')", value);
            rq->jobs = (int)n;
            break;
        case OPT_JSON:
            rq->json = 1;
            break;
        default:
            break;
        }
    }

    /* Sort the positional arguments into inputs, output and text. */
    const int has_text = rq->command != CMD_REGION;
    const int wanted = rq->command == CMD_COUNT ? 2 : rq->out_dir != NULL ? 1 + has_text
                                                                         : 2 + has_text;
    const int exact = rq->command != CMD_COUNT && rq->out_dir == NULL;
    if (positional < wanted || (exact && positional != wanted))
        return usage_error(cmd, "%s", positional < wanted ? "missing arguments"
                                                          : "too many arguments");
    if (has_text) {
        rq->text = rq->inputs[--positional];
        if (rq->text[0] == '\0') return usage_error(cmd, "TEXT cannot be empty");
    }
    if (rq->command == CMD_REGION && rq->region_count == 0)
        return usage_error(cmd, "at least one --rect PAGE:X,Y,W,H is needed");
    if (exact) {
        /* INPUT OUTPUT: the output is the last path. */
        rq->outputs = &rq->inputs[--positional];
    }
    rq->input_count = positional;
    if (rq->out_dir != NULL) return make_outputs(rq);
    return 0;
}

int main(int argc, char **argv) {
    if (argc < 2) return usage_error(-1, "no command given");
    if (strcmp(argv[1], "-h") == 0 || strcmp(argv[1], "--help") == 0 ||
        strcmp(argv[1], "help") == 0) {
        fputs(program_help, stdout);
        return 0;
    }
    if (strcmp(argv[1], "--version") == 0) {
        puts("inkveil " VERSION_TEXT);
        return 0;
    }
    Request rq;
    memset(&rq, 0, sizeof rq);
    rq.jobs = 1;
    int cmd = -1;
    for (int k = 0; k < 3; ++k)
        if (strcmp(argv[1], command_names[k]) == 0) cmd = k;
    if (cmd < 0)
        return usage_error(-1, argv[1][0] == '-' ? "unknown option '%s'" : "unknown command '%s'",
                           argv[1]);
    rq.command = (Command)cmd;
    int status = parse_command(argc, argv, &rq);
    if (status == 0) status = run_request(&rq);
    if (status < 0) status = 0; /* help was shown */
    free_request(&rq);
    return status;
}
