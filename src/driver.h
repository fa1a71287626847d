// Redaction driver: one redaction call from the paths to the written file.
#ifndef INKVEIL_DRIVER_H
#define INKVEIL_DRIVER_H

#include <cstdint>

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

// Runs one redaction call. Exactly one of `search_text` and `regions` is given.
// Returns 1 when the output file was written, 0 with g_err set otherwise.
int apply_redaction(const char *input_path, const char *output_path, const char *search_text,
                    const Region *regions, int region_count, int red, int green, int blue);

// Counts the occurrences of `search_text` (neither may be NULL or empty) that
// a text redaction would remove from the pages and the forms they reach.
// Returns the count, or -1 with g_err set.
int count_matches(const char *input_path, const char *search_text);

#endif
