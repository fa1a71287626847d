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
 * A job (inkveil_job_new) does many at once: any number of search texts and
 * rectangles redacted in one pass over the file, or found without writing
 * anything, and then tells what it removed: the matches of each search text
 * and every box it painted.
 *
 * Failures are reported by the return value plus one message that
 * inkveil_last_error() returns. Nothing is printed or logged.
 *
 * Threads: the library starts no threads and takes no locks, and no call
 * shares anything with another: each works on its own copy of its file and
 * the last-error text is kept per thread. A host may call any function from
 * any number of threads at once, as long as no two threads use the same job
 * at the same time and no two calls write the same output path.
 * inkveil_last_error() gives the message of the calling thread's own last
 * call.
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
 * x, y, width and height are in the page's default user space (1/72 inch, the
 * coordinates of the page's content before any transformation it applies);
 * width and height must be greater than 0. Every field must be a finite number.
 *
 * `Region` is the same record under its short name. A host whose other
 * headers take that name (X11's <X11/Xutil.h> does) defines
 * INKVEIL_NO_SHORT_NAMES before including this header and writes inkveil_rect.
 */
typedef struct inkveil_rect {
    float page;
    float x;
    float y;
    float width;
    float height;
} inkveil_rect;

#ifndef INKVEIL_NO_SHORT_NAMES
typedef inkveil_rect Region;
#endif

/* Clears the last-error text. Always returns 1. Optional. */
INKVEIL_API int inkveil_init(void);

/* Clears the last-error text. Optional; calls may follow it. */
INKVEIL_API void inkveil_cleanup(void);

/*
 * The text of the calling thread's most recent failure, or the empty text
 * when its last redaction, count or job run succeeded. Never NULL. The
 * pointer is the thread's own buffer: its text stays valid until the thread's
 * next call into the library, or until the thread ends.
 */
INKVEIL_API const char *inkveil_last_error(void);

/*
 * Redacts one rectangle on one page of `input_path` and writes the result to
 * `output_path`. Text glyphs whose origin lies in the rectangle, or half of
 * whose box it covers, are blanked (in forms drawn there too), the pixels of
 * images under it take the box colour, and a box of the colour (red, green,
 * blue: 0..255, clamped) is painted over it; hidden information (document info, metadata, embedded files, outlines,
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
                                const inkveil_rect *regions, int region_count,
                                int red, int green, int blue);

/*
 * Redacts every occurrence of `search_text` (UTF-8, or Windows-1252 when it is
 * not valid UTF-8; compared without regard to case, as readers extract the
 * text, across show operators and line breaks) on the pages, in the forms
 * they draw and in annotation appearances, paints a box over each, fills the
 * pixels of images under those boxes, removes hidden information, and writes
 * the output only if the search text no longer appears in it. A page whose
 * text cannot be read (fonts without a way to Unicode) fails the call. Returns 1 or 0
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

/*
 * Jobs.
 *
 * A job is an opaque handle that holds what to do with one input file: any
 * number of search texts and rectangles, the fill colour and the output path.
 * Running it reads the input once, redacts every search text and rectangle in
 * one pass over the pages and the forms they draw or name, removes hidden
 * information, checks the finished output once against every search text,
 * and writes it; with no output path it does all of that but the write (a
 * dry run, which tells what a redaction would remove). Afterwards the job
 * tells how many occurrences of each search text were removed and where
 * every box was painted.
 *
 *     inkveil_job *job = inkveil_job_new();
 *     inkveil_job_set_input(job, "letter.pdf");
 *     inkveil_job_set_output(job, "letter-redacted.pdf");
 *     inkveil_job_add_text(job, "Jane Example");
 *     inkveil_job_add_text(job, "4929 1234 5678");
 *     if (!inkveil_job_run(job))
 *         fprintf(stderr, "%s\n", inkveil_last_error());
 *     else
 *         printf("%lld\n", inkveil_job_matches(job, 0));
 *     inkveil_job_free(job);
 *
 * The job copies every text, path and rectangle it is given; nothing the host
 * passes is kept after the call. Every function reports its failures as the
 * others do: the result says so and inkveil_last_error() tells why; the job
 * keeps a copy of the message of a refused add or a failed run
 * (inkveil_job_error). Successful setters and getters leave the last-error
 * text as it was. The failures and their messages are those of inkveil_text
 * and inkveil_regions, plus: "NULL job handle", "the job has no search text
 * and no region", "term index %d is out of range (the job has %d search
 * texts)", "box index %d is out of range (the job painted %d boxes)" and "the
 * job has no results: it has not run successfully".
 *
 * A job is used by one thread at a time; different jobs may run at once on
 * different threads. Using a job after inkveil_job_free is the host's fault
 * and cannot be detected: it may crash.
 */
typedef struct inkveil_job inkveil_job;

/*
 * A new, empty job: no input, no output (a dry run), no search text, no
 * rectangle, black boxes. Returns NULL only when memory runs out, with the
 * reason in inkveil_last_error(). Release it with inkveil_job_free.
 */
INKVEIL_API inkveil_job *inkveil_job_new(void);

/* Releases the job and everything it holds. NULL is allowed and does nothing. */
INKVEIL_API void inkveil_job_free(inkveil_job *job);

/*
 * The file to read. The path is copied. Returns 1, or 0 for a NULL job or
 * when memory runs out (and then every later run fails). A NULL path unsets
 * it: the run then fails with "NULL path argument".
 */
INKVEIL_API int inkveil_job_set_input(inkveil_job *job, const char *input_path);

/*
 * The file to write, copied; NULL (the default) makes the run a dry run that
 * writes nothing. Returns 1, or 0 for a NULL job or when memory runs out (and
 * then every later run fails).
 */
INKVEIL_API int inkveil_job_set_output(inkveil_job *job, const char *output_path);

/*
 * Adds a search text: UTF-8, or single bytes in the fonts' own encoding when
 * it is not valid UTF-8; letters compared without regard to case, as in
 * inkveil_text. The text is copied. Returns the search text's index (0 for
 * the first, then 1, 2, ...): the index that inkveil_job_matches takes and
 * that inkveil_job_box reports. Returns -1 for a NULL job, for a NULL or
 * empty text ("search_text cannot be empty") and when memory runs out. A
 * text refused here makes every later inkveil_job_run of this job fail with
 * the same message, so that a job never runs without a search text its host
 * meant to give; the same holds for the other adds and setters.
 * A text with nothing searchable in it (only invisible characters) is
 * refused by inkveil_job_run with the same message.
 */
INKVEIL_API int inkveil_job_add_text(inkveil_job *job, const char *search_text);

/*
 * Adds `region_count` rectangles, copied. Returns the index of the first one
 * (rectangles are numbered from 0 in the order added, across calls), or -1
 * for a NULL job, a NULL `regions` with a count above 0 ("NULL regions
 * pointer with count > 0"), a count of 0 or less ("region_count must be > 0
 * (got %d)") and when memory runs out; as with inkveil_job_add_text, a
 * refusal makes every later run fail with the same message. The rectangles
 * are checked against the document when the job runs, with the messages of
 * inkveil_regions ("page 3 in regions[2] is out of range (document has 2
 * pages)", ...), each named by its index in the job.
 */
INKVEIL_API int inkveil_job_add_regions(inkveil_job *job, const inkveil_rect *regions,
                                        int region_count);

/*
 * The colour of the painted boxes: red, green, blue in 0..255, clamped.
 * Black by default. Returns 1, or 0 for a NULL job.
 */
INKVEIL_API int inkveil_job_set_color(inkveil_job *job, int red, int green, int blue);

/*
 * Runs the job: at least one search text or rectangle, and an input path, are
 * needed. Returns 1 when it succeeded (the output is written, unless the job
 * is a dry run) and clears the last-error text; 0 on failure with the reason
 * in inkveil_last_error(), no results, and what inkveil_text leaves on disk
 * on failure (when the output would still show a search text, no file is left
 * at the output path). A job may be changed and run again; a change discards
 * the results of the last run, and each run replaces them.
 */
INKVEIL_API int inkveil_job_run(inkveil_job *job);

/*
 * The number of search texts added, or -1 for a NULL job. Known before the
 * job runs.
 */
INKVEIL_API int inkveil_job_term_count(const inkveil_job *job);

/*
 * After a successful run: the number of occurrences of search text `term`
 * (its index from inkveil_job_add_text) that the run removed, from the page
 * contents, the forms they draw or name and annotation appearances. -1 for a
 * NULL job, an index out of range, or a job without results, with the reason in
 * inkveil_last_error().
 */
INKVEIL_API long long inkveil_job_matches(const inkveil_job *job, int term);

/*
 * After a successful run: the number of boxes it painted, or -1 (as
 * inkveil_job_matches). Each occurrence of a search text is painted as one
 * box or more (one per line it spans); each rectangle as one box on its page.
 */
INKVEIL_API int inkveil_job_box_count(const inkveil_job *job);

/*
 * Box `index` (0 .. inkveil_job_box_count - 1), page by page: its 1-based
 * page, its bounds in the page's default user space (x0, y0, x1, y1 in
 * `bounds`: left, bottom, right, top; 1/72 inch to the unit on most pages),
 * and its cause: the index of the search text it covers (0 or more), or -1 -
 * the index of the rectangle (-1 for the first rectangle, -2 for the second,
 * ...). Any of the three out-pointers may be NULL. Returns 1, or 0 for a NULL
 * job, an index out of range or a job without results, with the reason in
 * inkveil_last_error().
 */
INKVEIL_API int inkveil_job_box(const inkveil_job *job, int index, int *page, double bounds[4],
                                int *cause);

/*
 * The message of the job's last refused add or failed run, kept with the job
 * whatever calls follow on the thread; the empty text when there is none, or
 * when its last run succeeded. Never NULL; "NULL job handle" for NULL. The
 * text stays valid until the job is next changed or run, or released.
 */
INKVEIL_API const char *inkveil_job_error(const inkveil_job *job);

#ifdef __cplusplus
} /* extern "C" */
static_assert(sizeof(inkveil_rect) == 20, "inkveil_rect must be five packed 32-bit floats");
#endif

#endif /* INKVEIL_H */
