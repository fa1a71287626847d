/* The inkveil command-line program: what a command line asks for, and the
 * runner that carries it out over the public C interface. */
#ifndef INKVEIL_CLI_H
#define INKVEIL_CLI_H

#include "inkveil.h"

typedef enum { CMD_TEXT, CMD_REGION, CMD_COUNT } Command;

/* One parsed command line. The strings point into argv; `outputs` and
 * `regions` are owned by the parser. */
typedef struct {
    Command command;
    const char *text;       /* text and count: the search text */
    Region *regions;        /* region: the rectangles, applied to every input */
    int region_count;
    int rgb[3];             /* fill colour, 0..255 each */
    const char *out_dir;    /* NULL when one INPUT OUTPUT pair was given */
    char **inputs;
    char **outputs;         /* one per input; NULL for count */
    int input_count;
    int jobs;               /* worker processes, 1 = work in this process */
    int json;               /* one JSON object per file on stdout */
} Request;

/* Runs every file of the request and reports it. Returns the exit status:
 * 0 when every file succeeded, 1 otherwise. */
int run_request(const Request *request);

#endif /* INKVEIL_CLI_H */
