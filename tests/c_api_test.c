/* Includes only the public header and calls every export from C, so that the
 * header keeps compiling and linking as C99 against the shared library. */
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

int main(void) {
    Region regions[2] = {{1.0f, 10.0f, 10.0f, 5.0f, 5.0f}, {2.0f, 0.0f, 0.0f, 1.0f, 1.0f}};

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
    inkveil_cleanup();
    expect_error("after cleanup", "");

    if (failures == 0) printf("c_api_test: all checks passed\n");
    return failures == 0 ? 0 : 1;
}
