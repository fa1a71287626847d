// Redaction driver: one redaction call from the paths to the written file.
#ifndef INKVEIL_DRIVER_H
#define INKVEIL_DRIVER_H

#include <cstdint>
#include <string>
#include <vector>

#include "inkveil.h"

// The message for a region with a NaN or infinite field, filled with the
// region's index.
inline constexpr const char *kNonFiniteRegionMessage =
    "region %ld has a coordinate or dimension that is not a finite number";

// 1 when every field of the region is a finite number.
bool region_is_finite(const Region &region);

// Checks every region against a document of `page_count` pages: all fields
// finite, page (truncated toward zero) within 1..page_count, width and height
// positive. Reports the first bad region with set_error and returns false.
bool validate_regions(const Region *regions, int32_t region_count, int32_t page_count);

// One redaction job: any number of search texts and regions, one pass.
struct JobParams {
    const char *input_path = nullptr;
    const char *output_path = nullptr;  // nullptr: a dry run, nothing written
    std::vector<std::string> terms;     // search texts, UTF-8 (or single bytes)
    std::vector<Region> regions;        // rectangles, page by page
    int red = 0, green = 0, blue = 0;
};

// A box painted by a job, in the page's default user space.
struct JobBox {
    int32_t page = 0;        // 1-based
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    int32_t cause = 0;       // a term's index, or -1 - a region's index
};

// What a job did.
struct JobReport {
    std::vector<int64_t> term_matches;  // per term: the occurrences removed
    std::vector<JobBox> boxes;          // the boxes painted, page by page
};

// Runs a job: loads the input once, redacts every term and region in one
// page pass and one form pass, sanitises, verifies the output against every
// term, and writes it unless the job is a dry run. Returns 1, or 0 with g_err
// set (the messages of the redaction calls).
int run_job(const JobParams &params, JobReport &report);

// Runs one redaction call. Exactly one of `search_text` and `regions` is given.
// Returns 1 when the output file was written, 0 with g_err set otherwise.
int apply_redaction(const char *input_path, const char *output_path, const char *search_text,
                    const Region *regions, int region_count, int red, int green, int blue);

// Counts the occurrences of `search_text` (neither may be NULL or empty) that
// a text redaction would remove from the pages and the forms they reach.
// Returns the count, or -1 with g_err set.
int count_matches(const char *input_path, const char *search_text);

#endif
