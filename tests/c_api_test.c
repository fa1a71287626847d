/* Includes only the public header and calls every export from C, so that the
 * header keeps compiling and linking as C99 against the shared library, and
 * redacts the shipped sample letter through it, one call at a time and as a
 * job. The sample's path is the
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

/* A job over the letter: two search texts and a rectangle, the account of
 * what it removed, then the refusals every function can meet. Run under
 * valgrind too, it shows that no path leaks. */
static void job_sample(const char *letter) {
    const char *out = "c_api_test_job.pdf";
    inkveil_rect line = {1.0f, 60.0f, 678.0f, 300.0f, 14.0f};
    inkveil_rect off_page = {5.0f, 0.0f, 0.0f, 1.0f, 1.0f};
    double bounds[4];
    int page = 0, cause = 0, k;
    char term[32];
    inkveil_job *job = inkveil_job_new();

    expect(job != NULL, "job new");
    if (job == NULL) return;
    expect(inkveil_job_set_input(job, letter) == 1, "job input");
    expect(inkveil_job_set_output(job, out) == 1, "job output");
    expect(inkveil_job_add_text(job, "secret") == 0, "job first text");
    expect(inkveil_job_add_text(job, "absent words") == 1, "job second text");
    expect(inkveil_job_add_regions(job, &line, 1) == 0, "job region");
    expect(inkveil_job_set_color(job, 0, 0, 255) == 1, "job colour");
    expect(inkveil_job_term_count(job) == 2, "job term count");
    expect(inkveil_job_run(job) == 1, "job run");
    expect_error("job run", "");
    expect_pdf14("job run", out);
    expect(inkveil_job_matches(job, 0) == 2 && inkveil_job_matches(job, 1) == 0, "job matches");
    expect(inkveil_job_box_count(job) == 3, "job box count");
    expect(inkveil_job_box(job, 0, &page, bounds, &cause) == 1 && page == 1 &&
               bounds[0] < bounds[2] && bounds[1] < bounds[3],
           "job box");
    expect(strcmp(inkveil_job_error(job), "") == 0, "job error text");
    remove(out);

    /* Refusals: each with its message, and the job's own copy of it. */
    expect(inkveil_job_matches(job, 2) == -1, "job matches out of range");
    expect_error("job matches out of range", "term index 2 is out of range (the job has 2 search texts)");
    expect(inkveil_job_box(job, 3, NULL, NULL, NULL) == 0, "job box out of range");
    expect_error("job box out of range", "box index 3 is out of range (the job painted 3 boxes)");
    expect(inkveil_job_add_regions(job, &off_page, 1) == 1, "job second region");
    expect(inkveil_job_run(job) == 0, "job run with a bad region");
    expect_error("job run with a bad region", "page 5 in regions[1] is out of range (document has 1 pages)");
    expect(inkveil_job_box_count(job) == -1, "job without results");
    expect_error("job without results", "the job has no results: it has not run successfully");
    expect(inkveil_job_add_text(job, "") == -1, "job empty text");
    expect_error("job empty text", "search_text cannot be empty");
    expect(inkveil_job_run(job) == 0, "job run after a refused text");
    expect(strcmp(inkveil_job_error(job), "search_text cannot be empty") == 0, "job error after refusal");
    inkveil_job_free(job);

    /* A dry run over many search texts, a failed verification, a missing
     * file and a NULL handle. */
    job = inkveil_job_new();
    inkveil_job_set_input(job, letter);
    for (k = 0; k < 2000; ++k) {
        snprintf(term, sizeof term, "name %d", k * 7919);
        inkveil_job_add_text(job, term);
    }
    inkveil_job_add_text(job, "SECRET");
    expect(inkveil_job_run(job) == 1 && inkveil_job_matches(job, 2000) == 2, "job dry run");
    inkveil_job_set_output(job, out);
    inkveil_job_add_text(job, "obj");
    expect(inkveil_job_run(job) == 0, "job refused output");
    expect_error("job refused output", "redaction incomplete: the search text still appears in the "
                                       "output file \xE2\x80\x94 no output written");
    inkveil_job_set_input(job, "c_api_test_missing.pdf");
    expect(inkveil_job_run(job) == 0, "job missing input");
    expect_error("job missing input",
                 "cannot open c_api_test_missing.pdf: No such file or directory");
    inkveil_job_free(job);
    expect(inkveil_job_run(NULL) == 0, "job NULL");
    expect_error("job NULL", "NULL job handle");
    inkveil_job_free(NULL);
}

int main(int argc, char **argv) {
    Region regions[2] = {{1.0f, 10.0f, 10.0f, 5.0f, 5.0f}, {2.0f, 0.0f, 0.0f, 1.0f, 1.0f}};
    char letter[4096];

    if (sizeof(Region) != 20 || sizeof(inkveil_rect) != 20) {
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
    job_sample(letter);

    if (inkveil_count_matches(NULL, "x") != -1) ++failures; /* leaves a message to clear */
    inkveil_cleanup();
    expect_error("after cleanup", "");

    if (failures == 0) printf("c_api_test: all checks passed\n");
    return failures == 0 ? 0 : 1;
}
