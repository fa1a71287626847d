/* The inkveil command-line program: what a command line asks for, and the
 * runner that carries it out over the public C interface. */
#ifndef INKVEIL_CLI_H
#define INKVEIL_CLI_H

#include "inkveil.h"

typedef enum { CMD_TEXT, CMD_REGION, CMD_COUNT, CMD_FIND } Command;

/* One parsed command line. The strings point into argv or into the text of
 * the terms file; `outputs`, `regions`, `terms` and `terms_text` are owned by
 * the parser. */
typedef struct {
    Command command;
    const char **terms;     /* text, count and find: the search texts, in order */
    int term_count;
    char *terms_text;       /* the terms file's bytes, which `terms` may point into */
    const char *terms_file; /* --terms-file */
    const char *report_path; /* --report: the JSON account of every input */
    Region *regions;        /* region: the rectangles, applied to every input */
    int region_count;
    int rgb[3];             /* fill colour, 0..255 each */
    const char *out_dir;    /* NULL when one INPUT OUTPUT pair was given */
    char **inputs;
    char **outputs;         /* one per input; NULL for count and find */
    int input_count;
    int jobs;               /* worker threads, 1 = work in this thread */
    int json;               /* one JSON object per file on stdout */
} Request;

/* Runs every file of the request and reports it. Returns the exit status:
 * 0 when every file succeeded, 1 otherwise. */
int run_request(const Request *request);

/* Length of the valid UTF-8 sequence at s (1..4), or 0 when it is not one. */
int utf8_sequence(const unsigned char *s);

#endif /* INKVEIL_CLI_H */
