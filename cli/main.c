/* inkveil command-line tool: a thin wrapper over the public C interface. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "inkveil.h"

static void usage(FILE *to) {
    fprintf(to,
            "usage:\n"
            "  inkveil text INPUT OUTPUT SEARCH [R G B]\n"
            "      redact every occurrence of SEARCH (ASCII case ignored)\n"
            "  inkveil region INPUT OUTPUT PAGE X Y WIDTH HEIGHT [R G B]\n"
            "      redact one rectangle of page PAGE (1-based)\n"
            "  inkveil count INPUT SEARCH\n"
            "      count the occurrences of SEARCH without writing anything\n"
            "R G B is the fill colour of the painted boxes, 0..255 each (default black).\n");
}

/* Reads the optional colour at argv[at..at+2]. Returns 0 when malformed. */
static int read_colour(int argc, char **argv, int at, int rgb[3]) {
    rgb[0] = rgb[1] = rgb[2] = 0;
    if (argc == at) return 1;
    if (argc != at + 3) return 0;
    for (int i = 0; i < 3; ++i) {
        char *end = NULL;
        long v = strtol(argv[at + i], &end, 10);
        if (end == argv[at + i] || *end != '\0' || v < 0 || v > 255) return 0;
        rgb[i] = (int)v;
    }
    return 1;
}

static int read_float(const char *text, float *out) {
    char *end = NULL;
    *out = strtof(text, &end);
    return end != text && *end == '\0';
}

static int fail(void) {
    fprintf(stderr, "inkveil: %s\n", inkveil_last_error());
    return 1;
}

int main(int argc, char **argv) {
    int rgb[3];
    if (argc >= 2 && (strcmp(argv[1], "-h") == 0 || strcmp(argv[1], "--help") == 0)) {
        usage(stdout);
        return 0;
    }
    inkveil_init();
    if (argc >= 5 && strcmp(argv[1], "text") == 0 && read_colour(argc, argv, 5, rgb)) {
        if (!inkveil_text(argv[2], argv[3], argv[4], rgb[0], rgb[1], rgb[2])) return fail();
        printf("wrote %s\n", argv[3]);
        return 0;
    }
    if (argc >= 9 && strcmp(argv[1], "region") == 0 && read_colour(argc, argv, 9, rgb)) {
        float x, y, w, h;
        char *end = NULL;
        long page = strtol(argv[4], &end, 10);
        if (end == argv[4] || *end != '\0' || page < -1000000000L || page > 1000000000L ||
            !read_float(argv[5], &x) || !read_float(argv[6], &y) || !read_float(argv[7], &w) ||
            !read_float(argv[8], &h)) {
            usage(stderr);
            return 2;
        }
        if (!inkveil_region(argv[2], argv[3], (int)page, x, y, w, h, rgb[0], rgb[1], rgb[2]))
            return fail();
        printf("wrote %s\n", argv[3]);
        return 0;
    }
    if (argc == 4 && strcmp(argv[1], "count") == 0) {
        int n = inkveil_count_matches(argv[2], argv[3]);
        if (n < 0) return fail();
        printf("%d\n", n);
        return 0;
    }
    usage(stderr);
    return 2;
}
