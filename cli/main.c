/* inkveil command-line program: reads the command line into a Request and
 * hands it to the runner. Uses only the public C interface. */
#define _POSIX_C_SOURCE 200809L

#include <ctype.h>
#include <errno.h>
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
/* The most worker threads -j takes. */
#define MAX_JOBS 256
/* Pages are stored as 32-bit floats: integers up to 2^24 are exact. */
#define MAX_PAGE 16777216L

static const char program_help[] =
    "inkveil " VERSION_TEXT ": redacts PDF files.\n"
    "\n"
    "usage: inkveil text [OPTIONS] INPUT OUTPUT TEXT\n"
    "       inkveil text [OPTIONS] --out-dir DIR INPUT... TEXT\n"
    "       inkveil text [OPTIONS] (--term TEXT | --terms-file FILE)... INPUT OUTPUT [TEXT]\n"
    "       inkveil region [OPTIONS] INPUT OUTPUT --rect PAGE:X,Y,W,H [--rect ...]\n"
    "       inkveil region [OPTIONS] --out-dir DIR --rect PAGE:X,Y,W,H [--rect ...] INPUT...\n"
    "       inkveil find [OPTIONS] INPUT... TEXT\n"
    "       inkveil count [OPTIONS] INPUT... TEXT\n"
    "       inkveil --help | --version\n"
    "\n"
    "commands:\n"
    "  text     blank every occurrence of the search texts and paint a box over each\n"
    "  region   blank the text inside rectangles and paint a box over each\n"
    "  find     show where each search text would be redacted, writing nothing\n"
    "  count    count the occurrences of TEXT, writing nothing\n"
    "\n"
    "options:\n"
    "  --term TEXT          a search text (text, find; repeatable)\n"
    "  --terms-file FILE    search texts, one per line, UTF-8 (text, find)\n"
    "  --report FILE        write a JSON account of what was removed (text, region)\n"
    "  --color R,G,B        colour of the painted boxes (text, region; default 0,0,0)\n"
    "  --out-dir DIR        write each INPUT to DIR under its own name (text, region)\n"
    "  --rect PAGE:X,Y,W,H  a rectangle to redact (region; repeatable)\n"
    "  -j, --jobs N         work on N files at once, on N threads (default 1)\n"
    "  --json               print one JSON object per file on stdout\n"
    "  -h, --help           show this help, or a command's help after the command\n"
    "  --version            show the version\n"
    "\n"
    "TEXT is the last argument; with --term or --terms-file it may be left out,\n"
    "and after --out-dir or in find every argument is then an INPUT. Each file\n"
    "is read once, whatever the number of search texts. Every redaction also\n"
    "removes hidden information: document info, metadata, embedded files,\n"
    "bookmarks, comments and other non-widget annotations, and form field values.\n"
    "Errors are printed on stderr as FILE: MESSAGE.\n"
    "Exit status: 0 when every file succeeded, 1 when any file failed, 2 for a\n"
    "command line that cannot be run. 'inkveil COMMAND --help' tells more.\n";

static const char text_usage[] =
    "usage: inkveil text [OPTIONS] INPUT OUTPUT TEXT\n"
    "       inkveil text [OPTIONS] --out-dir DIR INPUT... TEXT\n"
    "       inkveil text [OPTIONS] (--term TEXT | --terms-file FILE)... INPUT OUTPUT [TEXT]\n"
    "       inkveil text [OPTIONS] (--term TEXT | --terms-file FILE)... --out-dir DIR INPUT...\n";

static const char text_help[] =
    "\n"
    "Blanks every occurrence of the search texts in the page contents, in the forms\n"
    "they draw and in annotation appearances, paints a box over each, removes hidden\n"
    "information and writes the result. Letters are compared without regard to\n"
    "case. No output is written when a search text would still appear in it.\n"
    "Every search text is redacted in the same pass: each file is read once.\n"
    "TEXT is the last argument; put -- before it when it starts with '-'. With\n"
    "--term or --terms-file it may be left out; after --out-dir every argument is\n"
    "then an INPUT. The search texts are numbered from 0 in this order: TEXT, the\n"
    "--term options, the lines of the terms file.\n"
    "\n"
    "options:\n"
    "  --term TEXT         a search text; give it once per text\n"
    "  --terms-file FILE   search texts, one per line, UTF-8; blank lines and lines\n"
    "                      that start with # are left out, spaces around a text\n"
    "                      are dropped\n"
    "  --report FILE       write to FILE a JSON array with one account per INPUT:\n"
    "                      {\"file\", \"ok\", \"output\", \"sha256\" (of the output),\n"
    "                      \"terms\": [{\"text\", \"matches\"}], \"regions\",\n"
    "                      \"boxes\": [{\"page\", \"rect\": [x0, y0, x1, y1], \"term\"}],\n"
    "                      \"error\"}\n"
    "  --color R,G,B       colour of the painted boxes, each 0..255 (default 0,0,0, black)\n"
    "  --out-dir DIR       write each INPUT to DIR under its own file name; DIR is\n"
    "                      created when missing\n"
    "  -j, --jobs N        work on N files at once, on N threads (default 1)\n"
    "  --json              print one JSON object per file on stdout:\n"
    "                      {\"file\", \"ok\", \"output\", \"count\", \"error\"}\n"
    "  -h, --help          show this help\n"
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
    "  --report FILE        write to FILE a JSON array with one account per INPUT:\n"
    "                       {\"file\", \"ok\", \"output\", \"sha256\", \"regions\",\n"
    "                       \"boxes\": [{\"page\", \"rect\", \"region\"}], \"error\"}\n"
    "  -j, --jobs N         work on N files at once, on N threads (default 1)\n"
    "  --json               print one JSON object per file on stdout:\n"
    "                       {\"file\", \"ok\", \"output\", \"error\"}\n"
    "  -h, --help           show this help\n";

static const char count_usage[] = "usage: inkveil count [OPTIONS] INPUT... TEXT\n";

static const char find_usage[] =
    "usage: inkveil find [OPTIONS] INPUT... TEXT\n"
    "       inkveil find [OPTIONS] (--term TEXT | --terms-file FILE)... INPUT...\n";

static const char find_help[] =
    "\n"
    "Shows where 'inkveil text' would paint a box over each search text, without\n"
    "writing anything: one line per box, FILE: page N [x0 y0 x1 y1] \"TEXT\", in the\n"
    "page's default user space (1/72 inch on most pages), or FILE: no match. It\n"
    "runs the whole redaction in memory, so a file 'inkveil text' would refuse\n"
    "fails here with the same message. Each file is read once.\n"
    "TEXT is the last argument; put -- before it when it starts with '-'. With\n"
    "--term or --terms-file it is left out and every argument is an INPUT.\n"
    "\n"
    "options:\n"
    "  --term TEXT         a search text; give it once per text\n"
    "  --terms-file FILE   search texts, one per line, UTF-8; blank lines and lines\n"
    "                      that start with # are left out\n"
    "  -j, --jobs N        work on N files at once, on N threads (default 1)\n"
    "  --json              print one JSON object per file on stdout: {\"file\", \"ok\",\n"
    "                      \"count\", \"terms\": [{\"text\", \"matches\"}], \"boxes\":\n"
    "                      [{\"page\", \"rect\": [x0, y0, x1, y1], \"term\"}], \"error\"}\n"
    "  -h, --help          show this help\n";

static const char count_help[] =
    "\n"
    "Counts the occurrences of TEXT that 'inkveil text' would redact, in the page\n"
    "contents, the forms they draw and annotation appearances; writes nothing.\n"
    "Text found only in hidden information (document info, bookmarks, form field\n"
    "values) is not counted. Prints the count, or FILE: COUNT for several files.\n"
    "TEXT is always the last argument; put -- before it when it starts with '-'.\n"
    "\n"
    "options:\n"
    "  -j, --jobs N   work on N files at once, on N threads (default 1)\n"
    "  --json         print one JSON object per file on stdout:\n"
    "                 {\"file\", \"ok\", \"count\", \"error\"}\n"
    "  -h, --help     show this help\n";

enum { OPT_HELP, OPT_COLOR, OPT_OUT_DIR, OPT_RECT, OPT_JOBS, OPT_JSON, OPT_TERM,
       OPT_TERMS_FILE, OPT_REPORT };

#define FOR_TEXT (1u << CMD_TEXT)
#define FOR_REGION (1u << CMD_REGION)
#define FOR_COUNT (1u << CMD_COUNT)
#define FOR_FIND (1u << CMD_FIND)
#define FOR_ALL (FOR_TEXT | FOR_REGION | FOR_COUNT | FOR_FIND)

typedef struct {
    const char *name;  /* long name, without "--" */
    char short_name;   /* 0 when none */
    int takes_value;
    unsigned commands; /* FOR_* bits */
} OptionDef;

/* Indexed by the OPT_* values. */
static const OptionDef option_defs[] = {
    {"help", 'h', 0, FOR_ALL},
    {"color", 0, 1, FOR_TEXT | FOR_REGION},
    {"out-dir", 0, 1, FOR_TEXT | FOR_REGION},
    {"rect", 0, 1, FOR_REGION},
    {"jobs", 'j', 1, FOR_ALL},
    {"json", 0, 0, FOR_ALL},
    {"term", 0, 1, FOR_TEXT | FOR_FIND},
    {"terms-file", 0, 1, FOR_TEXT | FOR_FIND},
    {"report", 0, 1, FOR_TEXT | FOR_REGION},
};
#define OPTION_COUNT ((int)(sizeof option_defs / sizeof option_defs[0]))

/* Indexed by the Command values. */
static const char *const command_names[] = {"text", "region", "count", "find"};
static const char *const command_usages[] = {text_usage, region_usage, count_usage, find_usage};
static const char *const command_helps[] = {text_help, region_help, count_help, find_help};
#define COMMAND_COUNT ((int)(sizeof command_names / sizeof command_names[0]))

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
        fputs("usage: inkveil text|region|find|count [OPTIONS] ARGUMENTS\n"
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
    free(rq->terms);
    free(rq->terms_text);
}

/* Adds a search text. Returns 0 when memory runs out. */
static int add_term(Request *rq, const char *term) {
    const char **grown = realloc(rq->terms, ((size_t)rq->term_count + 1) * sizeof *grown);
    if (grown == NULL) return 0;
    rq->terms = grown;
    rq->terms[rq->term_count++] = term;
    return 1;
}

/* Reads the terms file: one search text per line, UTF-8, blank lines and
 * lines whose first character that is no space is '#' left out, spaces and
 * tabs around each text dropped. Returns 0 to go on, or the exit status. */
static int read_terms_file(Request *rq) {
    const int cmd = (int)rq->command;
    const char *path = rq->terms_file;
    FILE *f = fopen(path, "rb");
    if (f == NULL)
        return usage_error(cmd, "cannot read the terms file %s: %s", path, strerror(errno));
    size_t len = 0, cap = 4096;
    char *text = malloc(cap);
    for (;;) {
        if (text == NULL) {
            fclose(f);
            fputs("inkveil: out of memory\n", stderr);
            return 1;
        }
        len += fread(text + len, 1, cap - len - 1, f);
        if (len < cap - 1) break;
        char *grown = realloc(text, cap * 2);
        if (grown == NULL) free(text);
        text = grown;
        cap *= 2;
    }
    const int failed = ferror(f);
    fclose(f);
    if (failed) {
        free(text);
        return usage_error(cmd, "cannot read the terms file %s", path);
    }
    text[len] = '\0';
    rq->terms_text = text;
    /* The whole file must be UTF-8 text: a file in another encoding would
     * search for other letters than those its author meant. */
    long line = 1;
    for (size_t k = 0; k < len;) {
        const int n = text[k] == '\0' ? 0 : utf8_sequence((const unsigned char *)text + k);
        if (n == 0)
            return usage_error(cmd, "the terms file %s is not UTF-8 text (line %ld)", path, line);
        if (text[k] == '\n') ++line;
        k += (size_t)n;
    }
    char *p = text;
    if (len >= 3 && memcmp(p, "\xEF\xBB\xBF", 3) == 0) p += 3; /* a byte order mark */
    const int before = rq->term_count;
    while (*p != '\0') {
        char *end = strchr(p, '\n');
        char *next = end != NULL ? end + 1 : p + strlen(p);
        if (end == NULL) end = next;
        while (end > p && (end[-1] == '\r' || end[-1] == ' ' || end[-1] == '\t')) --end;
        while (p < end && (*p == ' ' || *p == '\t')) ++p;
        *end = '\0';
        if (*p != '\0' && *p != '#' && !add_term(rq, p)) {
            fputs("inkveil: out of memory\n", stderr);
            return 1;
        }
        p = next;
    }
    if (rq->term_count == before)
        return usage_error(cmd, "the terms file %s holds no search text", path);
    return 0;
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
            if (strlen(option_defs[k].name) == len &&
                strncmp(option_defs[k].name, name, len) == 0) {
                if (eq != NULL) *inline_value = eq + 1;
                return k;
            }
        }
        return -1;
    }
    for (int k = 0; k < OPTION_COUNT; ++k) {
        if (option_defs[k].short_name != 0 && option_defs[k].short_name == arg[1]) {
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
        if (!(option_defs[opt].commands & (1u << cmd)))
            return usage_error(cmd, "option '%s' does not apply to 'inkveil %s'", arg,
                               command_names[cmd]);
        if (option_defs[opt].takes_value && value == NULL) {
            if (i + 1 >= argc) return usage_error(cmd, "option '%s' needs a value", arg);
            value = argv[++i];
        } else if (!option_defs[opt].takes_value && value != NULL) {
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
        case OPT_TERM:
            if (*value == '\0') return usage_error(cmd, "--term cannot be empty");
            if (!add_term(rq, value)) {
                fputs("inkveil: out of memory\n", stderr);
                return 1;
            }
            break;
        case OPT_TERMS_FILE:
            if (rq->terms_file != NULL) return usage_error(cmd, "--terms-file is given twice");
            rq->terms_file = value;
            break;
        case OPT_REPORT:
            if (*value == '\0') return usage_error(cmd, "--report needs a file name");
            rq->report_path = value;
            break;
        default:
            break;
        }
    }

    /* Sort the positional arguments into inputs, output and text. With
     * --term or --terms-file the text is optional where the count of
     * arguments tells (INPUT OUTPUT [TEXT]); elsewhere every argument is then
     * an INPUT, so that no file is ever taken for a search text. */
    const int given_terms = rq->term_count > 0 || rq->terms_file != NULL;
    const int many = rq->command == CMD_COUNT || rq->command == CMD_FIND || rq->out_dir != NULL;
    const int exact = !many;
    int has_text = rq->command != CMD_REGION;
    if (has_text && given_terms && (many || positional == 2)) has_text = 0;
    const int wanted = (many ? 1 : 2) + has_text;
    if (positional < wanted || (exact && positional > wanted))
        return usage_error(cmd, "%s", positional < wanted ? "missing arguments"
                                                          : "too many arguments");
    if (has_text) {
        const char *text = rq->inputs[--positional];
        if (text[0] == '\0') return usage_error(cmd, "TEXT cannot be empty");
        /* TEXT is the first search text. */
        if (!add_term(rq, text)) {
            fputs("inkveil: out of memory\n", stderr);
            return 1;
        }
        memmove(rq->terms + 1, rq->terms, (size_t)(rq->term_count - 1) * sizeof *rq->terms);
        rq->terms[0] = text;
    }
    if (rq->command == CMD_REGION && rq->region_count == 0)
        return usage_error(cmd, "at least one --rect PAGE:X,Y,W,H is needed");
    if (exact) {
        /* INPUT OUTPUT: the output is the last path. */
        rq->outputs = &rq->inputs[--positional];
    }
    rq->input_count = positional;
    if (rq->terms_file != NULL) {
        const int status = read_terms_file(rq);
        if (status != 0) return status;
    }
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
    for (int k = 0; k < COMMAND_COUNT; ++k)
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
