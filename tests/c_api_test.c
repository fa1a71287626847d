/* Includes only the public header and calls every export from C, so that the
 * header keeps compiling and linking as C99 against the shared library, and
 * redacts the shipped sample letter through it. The sample's path is the
 * first argument, or found from this source file's place in the tree. */
#include <stdio.h>
#include <string.h>

#include "inkveil.h"

static int failures = 0;

static void expect_error(const char *what, const char *expected) {
    const char *got = inkveil_last_error();
    if (got == NULL || strcmp(got, expected) != 0) {
        fprintf(stderr, "%s: expected \"%s\", got \"%s\"\n", what, expected, got ? got : "(null)");
        ++failures;
    }
}

static void expect(int ok, const char *what) {
    if (!ok) {
        fprintf(stderr, "%s failed: \"%s\"\n", what, inkveil_last_error());
        ++failures;
    }
}

/* Fails unless `path` exists and starts with the header the library writes. */
static void expect_pdf14(const char *what, const char *path) {
    char head[8];
    FILE *f = fopen(path, "rb");
    if (f == NULL) {
        fprintf(stderr, "%s: no output at %s\n", what, path);
        ++failures;
        return;
    }
    if (fread(head, 1, sizeof head, f) != sizeof head || memcmp(head, "%PDF-1.4", 8) != 0) {
        fprintf(stderr, "%s: output does not start with %%PDF-1.4\n", what);
        ++failures;
    }
    fclose(f);
}

static void redact_sample(const char *letter) {
    /* The line "Customer: Jane Example", 12 points at x 72, y 684. */
    Region line = {1.0f, 60.0f, 678.0f, 300.0f, 14.0f};
    const char *text_out = "c_api_test_text.pdf";
    const char *regions_out = "c_api_test_regions.pdf";

    /* "SECRET" in the account line and "secret" in the last line. */
    expect(inkveil_count_matches(letter, "secret") == 2, "count letter");
    expect_error("count letter", "");
    expect(inkveil_text(letter, text_out, "secret", 0, 0, 0) == 1, "text letter");
    expect_error("text letter", "");
    expect_pdf14("text letter", text_out);
    expect(inkveil_count_matches(text_out, "secret") == 0, "count text output");
    expect(inkveil_regions(letter, regions_out, &line, 1, 255, 255, 255) == 1, "regions letter");
    expect_error("regions letter", "");
    expect_pdf14("regions letter", regions_out);
    remove(text_out);
    remove(regions_out);
}

int main(int argc, char **argv) {
    Region regions[2] = {{1.0f, 10.0f, 10.0f, 5.0f, 5.0f}, {2.0f, 0.0f, 0.0f, 1.0f, 1.0f}};
    char letter[4096];

    if (sizeof(Region) != 20) {
        fprintf(stderr, "Region is %u bytes\n", (unsigned)sizeof(Region));
        ++failures;
    }
    if (inkveil_init() != 1) ++failures;
    expect_error("after init", "");
    if (inkveil_region("in.pdf", "out.pdf", 0, 0.0f, 0.0f, 1.0f, 1.0f, 0, 0, 0) != 0) ++failures;
    expect_error("region page 0", "page number must be >= 1 (got 0)");
    if (inkveil_regions("in.pdf", "out.pdf", NULL, 2, 0, 0, 0) != 0) ++failures;
    expect_error("regions NULL", "NULL regions pointer with count > 0");
    if (inkveil_regions(NULL, "out.pdf", regions, 2, 0, 0, 0) != 0) ++failures;
    expect_error("regions NULL path", "NULL path argument");
    if (inkveil_text("in.pdf", "out.pdf", "", 0, 0, 0) != 0) ++failures;
    expect_error("text empty", "search_text cannot be empty");
    if (inkveil_count_matches(NULL, "x") != -1) ++failures;
    expect_error("count NULL path", "NULL path argument");

    if (argc > 1) {
        snprintf(letter, sizeof letter, "%s", argv[1]);
    } else {
        /* This file is tests/c_api_test.c; the sample is samples/letter.pdf. */
        const char *slash = strrchr(__FILE__, '/');
        const int dir_len = slash != NULL ? (int)(slash - __FILE__) : 1;
        snprintf(letter, sizeof letter, "%.*s/../samples/letter.pdf", dir_len,
                 slash != NULL ? __FILE__ : ".");
    }
    redact_sample(letter);

    if (inkveil_count_matches(NULL, "x") != -1) ++failures; /* leaves a message to clear */
    inkveil_cleanup();
    expect_error("after cleanup", "");

    if (failures == 0) printf("c_api_test: all checks passed\n");
    return failures == 0 ? 0 : 1;
}
