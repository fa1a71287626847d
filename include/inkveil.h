/*
 * inkveil — redacts PDF files.
 *
 * A host loads the library and calls one function per job: redact rectangles
 * on given pages (inkveil_region, inkveil_regions), redact every occurrence of
 * a search text (inkveil_text), or count those occurrences
 * (inkveil_count_matches). Each call reads the input file whole, works on its
 * own copy in memory and releases everything before it returns; the input file
 * is never written.
 *
 * Failures are reported by the return value plus one message that
 * inkveil_last_error() returns. Nothing is printed or logged.
 *
 * Threads: the library starts no threads and takes no locks. The last-error
 * text is one process-wide buffer, so a host that calls from several threads
 * must serialise all its calls, including its reading of inkveil_last_error().
 */
#ifndef INKVEIL_H
#define INKVEIL_H

/* The version, stated once; the build reads it from here. */
#define INKVEIL_VERSION_MAJOR 0
#define INKVEIL_VERSION_MINOR 1
#define INKVEIL_VERSION_PATCH 0

#if defined(_WIN32)
#  if defined(INKVEIL_BUILDING)
#    define INKVEIL_API __declspec(dllexport)
#  else
#    define INKVEIL_API __declspec(dllimport)
#  endif
#elif defined(INKVEIL_BUILDING)
#  define INKVEIL_API __attribute__((visibility("default")))
#else
#  define INKVEIL_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * One rectangle to redact: five consecutive 32-bit floats, 20 bytes, no
 * padding. `page` is 1-based and truncated toward zero (1.9 means page 1).
 * x, y, width and height are in the coordinates of the page's content stream;
 * width and height must be greater than 0. Every field must be a finite number.
 */
typedef struct Region {
    float page;
    float x;
    float y;
    float width;
    float height;
} Region;

/* Clears the last-error text. Always returns 1. Optional. */
INKVEIL_API int inkveil_init(void);

/* Clears the last-error text. Optional; calls may follow it. */
INKVEIL_API void inkveil_cleanup(void);

/*
 * The text of the most recent failure, or the empty text when the last
 * redaction or count succeeded. Never NULL. The pointer is the library's own
 * buffer: its text stays valid until the next call into the library.
 */
INKVEIL_API const char *inkveil_last_error(void);

/*
 * Redacts one rectangle on one page of `input_path` and writes the result to
 * `output_path`. Text glyphs whose origin lies in the rectangle are blanked
 * and a box of the colour (red, green, blue: 0..255, clamped) is painted over
 * it; hidden information (document info, metadata, embedded files, outlines,
 * non-widget annotations, form field values) is removed from the output.
 * Returns 1 when the output was written, 0 on failure with the reason in
 * inkveil_last_error(). The paths are borrowed for the call only.
 */
INKVEIL_API int inkveil_region(const char *input_path, const char *output_path,
                               int page, float x, float y, float width, float height,
                               int red, int green, int blue);

/*
 * As inkveil_region for `region_count` rectangles. `regions` is read only,
 * and only during the call. Returns 1 or 0 as inkveil_region.
 */
INKVEIL_API int inkveil_regions(const char *input_path, const char *output_path,
                                const Region *regions, int region_count,
                                int red, int green, int blue);

/*
 * Redacts every occurrence of `search_text` (ASCII letters compared without
 * regard to case) on the pages, in the forms they draw and in annotation
 * appearances, paints a box over each, removes hidden information, and writes
 * the output only if the search text no longer appears in it. Returns 1 or 0
 * as inkveil_region; on a refused output no file is left at `output_path`.
 */
INKVEIL_API int inkveil_text(const char *input_path, const char *output_path,
                             const char *search_text, int red, int green, int blue);

/*
 * Counts the occurrences of `search_text` that inkveil_text would redact in the
 * page contents, forms and annotation appearances of `input_path`, without
 * writing anything. Returns the count (0 or more), or -1 on failure with the
 * reason in inkveil_last_error(). Clears the last-error text on success.
 */
INKVEIL_API int inkveil_count_matches(const char *input_path, const char *search_text);

#ifdef __cplusplus
} /* extern "C" */
static_assert(sizeof(Region) == 20, "Region must be five packed 32-bit floats");
#endif

#endif /* INKVEIL_H */
