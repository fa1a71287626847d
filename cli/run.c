/* Runs the files of a request, one after another or on worker threads, and
 * reports each result in input order: on stdout, as JSON lines, and in the
 * report file. Each file is one library job, so it is read once: the counts
 * and boxes come from the job's account. */
#define _POSIX_C_SOURCE 200809L

#include <errno.h>
#include <math.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <openssl/evp.h>

#include "cli.h"

/* A box the job painted. */
typedef struct {
    int page;
    double bounds[4]; /* x0, y0, x1, y1 in the page's default user space */
    int cause;        /* a term's index, or -1 - a region's index */
} Box;

/* The outcome of one file. */
typedef struct {
    int ok;
    long long count;          /* matches found (text, count, find), -1 when not known */
    char error[1024];         /* the library's last-error text, or the program's own */
    long long *term_matches;  /* per term (text, find), when the job ran */
    Box *boxes;               /* kept for find and for the report */
    int box_count;
    char sha256[65];          /* the output's SHA-256 in hex, for the report; "" when none */
} Result;

static void set_failure(Result *r, const char *message) {
    r->ok = 0;
    snprintf(r->error, sizeof r->error, "%s", message);
}

static void free_result(Result *r) {
    free(r->term_matches);
    free(r->boxes);
    r->term_matches = NULL;
    r->boxes = NULL;
    r->box_count = 0;
}

/* Refuses an output that is the input itself: a refused text redaction removes
 * the file at the output path, which would then be the input. */
static int same_file(const char *a, const char *b) {
    struct stat sa, sb;
    return stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

/* The SHA-256 of the file at `path` as 64 hex digits into `hex`. Returns 1, or
 * 0 with the reason in `error`. */
static int sha256_file(const char *path, char hex[65], char *error, size_t error_size) {
    unsigned char buffer[65536];
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digest_len = 0;
    size_t n;
    int ok = 0;
    FILE *f = fopen(path, "rb");
    if (f == NULL) {
        snprintf(error, error_size, "cannot read %s for its SHA-256: %s", path, strerror(errno));
        return 0;
    }
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    if (ctx != NULL && EVP_DigestInit_ex(ctx, EVP_sha256(), NULL) == 1) {
        ok = 1;
        while (ok && (n = fread(buffer, 1, sizeof buffer, f)) > 0)
            ok = EVP_DigestUpdate(ctx, buffer, n) == 1;
        ok = ok && !ferror(f) && EVP_DigestFinal_ex(ctx, digest, &digest_len) == 1 &&
             digest_len == 32;
    }
    if (!ok) snprintf(error, error_size, "cannot compute the SHA-256 of %s", path);
    EVP_MD_CTX_free(ctx);
    fclose(f);
    for (unsigned int k = 0; ok && k < digest_len; ++k)
        snprintf(hex + 2 * k, 3, "%02x", digest[k]);
    return ok;
}

/* Copies what the job found into the result. Returns 0 when memory runs out. */
static int take_account(const Request *rq, inkveil_job *job, Result *r) {
    r->count = 0;
    if (rq->term_count > 0) {
        r->term_matches = calloc((size_t)rq->term_count, sizeof *r->term_matches);
        if (r->term_matches == NULL) return 0;
        for (int t = 0; t < rq->term_count; ++t) {
            r->term_matches[t] = inkveil_job_matches(job, t);
            r->count += r->term_matches[t];
        }
    }
    if (rq->command == CMD_FIND || rq->report_path != NULL) {
        const int n = inkveil_job_box_count(job);
        if (n > 0) {
            r->boxes = calloc((size_t)n, sizeof *r->boxes);
            if (r->boxes == NULL) return 0;
            for (int k = 0; k < n; ++k)
                inkveil_job_box(job, k, &r->boxes[k].page, r->boxes[k].bounds, &r->boxes[k].cause);
            r->box_count = n;
        }
    }
    return 1;
}

static void run_one(const Request *rq, int i, Result *r) {
    const char *input = rq->inputs[i];
    const char *output = rq->outputs != NULL ? rq->outputs[i] : NULL;
    memset(r, 0, sizeof *r);
    r->ok = 1;
    r->count = -1;
    if (output != NULL && same_file(input, output)) {
        set_failure(r, "the output is the input file; choose another output path");
        return;
    }
    if (rq->command == CMD_COUNT) {
        const int n = inkveil_count_matches(input, rq->terms[0]);
        r->count = n;
        if (n < 0) set_failure(r, inkveil_last_error());
        return;
    }
    /* text, region and find: one job; find is a dry run. */
    inkveil_job *job = inkveil_job_new();
    int ok = job != NULL && inkveil_job_set_input(job, input) &&
             inkveil_job_set_output(job, rq->command == CMD_FIND ? NULL : output) &&
             inkveil_job_set_color(job, rq->rgb[0], rq->rgb[1], rq->rgb[2]);
    for (int t = 0; ok && t < rq->term_count; ++t) ok = inkveil_job_add_text(job, rq->terms[t]) == t;
    if (ok && rq->region_count > 0) ok = inkveil_job_add_regions(job, rq->regions, rq->region_count) == 0;
    if (ok) ok = inkveil_job_run(job);
    if (!ok) {
        set_failure(r, inkveil_last_error());
    } else if (!take_account(rq, job, r)) {
        set_failure(r, "out of memory");
    } else if (rq->report_path != NULL && rq->command != CMD_FIND &&
               !sha256_file(output, r->sha256, r->error, sizeof r->error)) {
        r->ok = 0;
    }
    inkveil_job_free(job);
}

/* ---- JSON ---- */

int utf8_sequence(const unsigned char *s) {
    unsigned char c = s[0];
    if (c < 0x80) return 1;
    int n;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF)
        n = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F; /* no surrogates */
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else
        return 0;
    if (s[1] < lo || s[1] > hi) return 0;
    for (int k = 2; k < n; ++k)
        if (s[k] < 0x80 || s[k] > 0xBF) return 0;
    return n;
}

/* Writes a JSON string. Bytes that are not UTF-8 (file names may hold any
 * byte, and a cut error text may end inside a character) become U+FFFD. */
static void json_string(FILE *out, const char *text) {
    const unsigned char *s = (const unsigned char *)text;
    fputc('"', out);
    while (*s != '\0') {
        int n = utf8_sequence(s);
        if (n == 0) {
            fputs("\\ufffd", out);
            ++s;
        } else if (n > 1) {
            fwrite(s, 1, (size_t)n, out);
            s += n;
        } else {
            unsigned char c = *s++;
            if (c == '"' || c == '\\')
                fprintf(out, "\\%c", c);
            else if (c == '\n')
                fputs("\\n", out);
            else if (c == '\t')
                fputs("\\t", out);
            else if (c == '\r')
                fputs("\\r", out);
            else if (c < 0x20)
                fprintf(out, "\\u%04x", c);
            else
                fputc(c, out);
        }
    }
    fputc('"', out);
}

/* A coordinate: three decimals, or null for what is not a number. */
static void json_number(FILE *out, double v) {
    if (isfinite(v))
        fprintf(out, "%.3f", v);
    else
        fputs("null", out);
}

/* "terms":[{"text":..., "matches":N}, ...] */
static void json_terms(FILE *out, const Request *rq, const Result *r) {
    fputs("\"terms\":[", out);
    for (int t = 0; t < rq->term_count; ++t) {
        fputs(t > 0 ? ",{\"text\":" : "{\"text\":", out);
        json_string(out, rq->terms[t]);
        if (r->ok && r->term_matches != NULL)
            fprintf(out, ",\"matches\":%lld}", r->term_matches[t]);
        else
            fputs(",\"matches\":null}", out);
    }
    fputc(']', out);
}

/* "boxes":[{"page":P,"rect":[x0,y0,x1,y1],"term":T or "region":R}, ...] */
static void json_boxes(FILE *out, const Result *r) {
    fputs("\"boxes\":[", out);
    for (int k = 0; k < r->box_count; ++k) {
        const Box *b = &r->boxes[k];
        fprintf(out, "%s{\"page\":%d,\"rect\":[", k > 0 ? "," : "", b->page);
        for (int c = 0; c < 4; ++c) {
            if (c > 0) fputc(',', out);
            json_number(out, b->bounds[c]);
        }
        if (b->cause >= 0)
            fprintf(out, "],\"term\":%d}", b->cause);
        else
            fprintf(out, "],\"region\":%d}", -1 - b->cause);
    }
    fputc(']', out);
}

static void json_error(FILE *out, const Result *r) {
    fputs("\"error\":", out);
    if (r->ok)
        fputs("null", out);
    else
        json_string(out, r->error);
}

static void print_json(const Request *rq, int i, const Result *r) {
    fputs("{\"file\":", stdout);
    json_string(stdout, rq->inputs[i]);
    fprintf(stdout, ",\"ok\":%s", r->ok ? "true" : "false");
    if (rq->outputs != NULL) {
        fputs(",\"output\":", stdout);
        json_string(stdout, rq->outputs[i]);
    }
    if (rq->command != CMD_REGION) {
        if (r->count >= 0)
            fprintf(stdout, ",\"count\":%lld", r->count);
        else
            fputs(",\"count\":null", stdout);
    }
    if (rq->command == CMD_FIND) {
        fputc(',', stdout);
        json_terms(stdout, rq, r);
        fputc(',', stdout);
        json_boxes(stdout, r);
    }
    fputc(',', stdout);
    json_error(stdout, r);
    fputs("}\n", stdout);
}

/* One input's account in the report file. */
static void report_entry(FILE *out, const Request *rq, int i, const Result *r) {
    fputs(i > 0 ? ",\n{\"file\":" : "{\"file\":", out);
    json_string(out, rq->inputs[i]);
    fprintf(out, ",\"ok\":%s,\"output\":", r->ok ? "true" : "false");
    json_string(out, rq->outputs[i]);
    fputs(",\"sha256\":", out);
    if (r->ok)
        fprintf(out, "\"%s\"", r->sha256);
    else
        fputs("null", out);
    fputc(',', out);
    json_terms(out, rq, r);
    fputs(",\"regions\":[", out);
    for (int k = 0; k < rq->region_count; ++k) {
        const Region *g = &rq->regions[k];
        fprintf(out, "%s{\"page\":%d,\"rect\":[", k > 0 ? "," : "", (int)g->page);
        json_number(out, g->x);
        fputc(',', out);
        json_number(out, g->y);
        fputc(',', out);
        json_number(out, (double)g->x + g->width);
        fputc(',', out);
        json_number(out, (double)g->y + g->height);
        fputs("]}", out);
    }
    fputs("],", out);
    json_boxes(out, r);
    fputc(',', out);
    json_error(out, r);
    fputc('}', out);
}

/* ---- Reporting ---- */

typedef struct {
    const Request *rq;
    Result *results;
    char *finished;   /* per input: its result is in */
    int next_report;  /* results before this index have been printed */
    int done, failed;
    long long matches;
    int progress;     /* a progress line is kept on stderr */
    FILE *report;     /* the report file, or NULL */
} Report;

static void clear_progress(const Report *rep) {
    if (rep->progress) fputs("\r\033[K", stderr);
}

static void draw_progress(const Report *rep) {
    if (!rep->progress) return;
    fprintf(stderr, "\r\033[Kinkveil: %d/%d files done", rep->done, rep->rq->input_count);
    if (rep->failed > 0) fprintf(stderr, ", %d failed", rep->failed);
    fflush(stderr);
}

static const char *plural(long long n, const char *one, const char *many) {
    return n == 1 ? one : many;
}

static void print_found(const Request *rq, int i, const Result *r) {
    int shown = 0;
    for (int k = 0; k < r->box_count; ++k) {
        const Box *b = &r->boxes[k];
        if (b->cause < 0 || b->cause >= rq->term_count) continue;
        printf("%s: page %d [%.2f %.2f %.2f %.2f] \"%s\"\n", rq->inputs[i], b->page, b->bounds[0],
               b->bounds[1], b->bounds[2], b->bounds[3], rq->terms[b->cause]);
        ++shown;
    }
    if (shown == 0) printf("%s: no match\n", rq->inputs[i]);
}

static void print_result(const Request *rq, int i, const Result *r) {
    if (!r->ok) fprintf(stderr, "%s: %s\n", rq->inputs[i], r->error);
    if (rq->json) {
        print_json(rq, i, r);
    } else if (r->ok) {
        if (rq->command == CMD_COUNT) {
            if (rq->input_count == 1)
                printf("%lld\n", r->count);
            else
                printf("%s: %lld\n", rq->inputs[i], r->count);
        } else if (rq->command == CMD_FIND) {
            print_found(rq, i, r);
        } else if (rq->command == CMD_TEXT && rq->term_count == 1) {
            printf("%s -> %s: %lld %s of \"%s\" redacted\n", rq->inputs[i], rq->outputs[i],
                   r->count, plural(r->count, "match", "matches"), rq->terms[0]);
        } else if (rq->command == CMD_TEXT) {
            printf("%s -> %s: %lld %s of %d search texts redacted\n", rq->inputs[i],
                   rq->outputs[i], r->count, plural(r->count, "match", "matches"), rq->term_count);
        } else {
            printf("%s -> %s: %d %s redacted\n", rq->inputs[i], rq->outputs[i],
                   rq->region_count, plural(rq->region_count, "region", "regions"));
        }
    }
    fflush(stdout);
    fflush(stderr);
}

/* Takes in the result of input i and prints every result that is now next in
 * input order, releasing what each held. */
static void finish(Report *rep, int i) {
    const Result *r = &rep->results[i];
    rep->finished[i] = 1;
    ++rep->done;
    if (r->ok) {
        if (r->count > 0) rep->matches += r->count;
    } else {
        ++rep->failed;
    }
    clear_progress(rep);
    while (rep->next_report < rep->rq->input_count && rep->finished[rep->next_report]) {
        Result *next = &rep->results[rep->next_report];
        print_result(rep->rq, rep->next_report, next);
        if (rep->report != NULL) report_entry(rep->report, rep->rq, rep->next_report, next);
        free_result(next);
        ++rep->next_report;
    }
    draw_progress(rep);
}

static void print_summary(const Report *rep) {
    const Request *rq = rep->rq;
    const int ok = rep->done - rep->failed;
    if (rq->command == CMD_TEXT)
        fprintf(stderr, "inkveil: %d files: %d redacted, %d failed; %lld matches redacted\n",
                rq->input_count, ok, rep->failed, rep->matches);
    else if (rq->command == CMD_REGION)
        fprintf(stderr, "inkveil: %d files: %d redacted, %d failed\n", rq->input_count, ok,
                rep->failed);
    else if (rq->command == CMD_FIND)
        fprintf(stderr, "inkveil: %d files: %d searched, %d failed; %lld matches found\n",
                rq->input_count, ok, rep->failed, rep->matches);
    else
        fprintf(stderr, "inkveil: %d files: %d counted, %d failed; %lld matches in all\n",
                rq->input_count, ok, rep->failed, rep->matches);
}

/* ---- Worker threads ---- */

/* The library keeps no state between calls and its last-error text per
 * thread, so each worker runs whole files on its own; results are printed
 * in input order under the lock. */
typedef struct {
    Report *rep;
    pthread_mutex_t lock;
    int next; /* the next input to take */
} Pool;

static void *work(void *arg) {
    Pool *pool = arg;
    const Request *rq = pool->rep->rq;
    for (;;) {
        pthread_mutex_lock(&pool->lock);
        const int i = pool->next < rq->input_count ? pool->next++ : -1;
        pthread_mutex_unlock(&pool->lock);
        if (i < 0) return NULL;
        Result r;
        run_one(rq, i, &r);
        pthread_mutex_lock(&pool->lock);
        pool->rep->results[i] = r;
        finish(pool->rep, i);
        pthread_mutex_unlock(&pool->lock);
    }
}

static void run_parallel(const Request *rq, Report *rep) {
    const int wanted = rq->jobs < rq->input_count ? rq->jobs : rq->input_count;
    pthread_t *threads = calloc((size_t)wanted, sizeof *threads);
    Pool pool;
    int started = 0;
    pool.rep = rep;
    pool.next = 0;
    pthread_mutex_init(&pool.lock, NULL);
    for (int k = 0; threads != NULL && k < wanted; ++k) {
        if (pthread_create(&threads[k], NULL, work, &pool) != 0) break;
        ++started;
    }
    /* No thread to be had: this one does the work. */
    if (started == 0) work(&pool);
    for (int k = 0; k < started; ++k) pthread_join(threads[k], NULL);
    pthread_mutex_destroy(&pool.lock);
    free(threads);
}

/* ---- The run ---- */

static int make_out_dir(const char *dir) {
    struct stat st;
    if (stat(dir, &st) == 0) {
        if (S_ISDIR(st.st_mode)) return 1;
        fprintf(stderr, "inkveil: %s: not a directory\n", dir);
        return 0;
    }
    if (mkdir(dir, 0777) == 0 || errno == EEXIST) return 1;
    fprintf(stderr, "inkveil: cannot create %s: %s\n", dir, strerror(errno));
    return 0;
}

int run_request(const Request *rq) {
    if (rq->out_dir != NULL && !make_out_dir(rq->out_dir)) return 1;
    Report rep;
    memset(&rep, 0, sizeof rep);
    rep.rq = rq;
    if (rq->report_path != NULL) {
        rep.report = fopen(rq->report_path, "w");
        if (rep.report == NULL) {
            fprintf(stderr, "inkveil: cannot write the report %s: %s\n", rq->report_path,
                    strerror(errno));
            return 1;
        }
        fputs("[\n", rep.report);
    }
    rep.results = calloc((size_t)rq->input_count, sizeof *rep.results);
    rep.finished = calloc((size_t)rq->input_count, 1);
    if (rep.results == NULL || rep.finished == NULL) {
        free(rep.results);
        free(rep.finished);
        if (rep.report != NULL) fclose(rep.report);
        fprintf(stderr, "inkveil: out of memory\n");
        return 1;
    }
    rep.progress = rq->input_count > 1 && isatty(STDERR_FILENO);
    inkveil_init();
    if (rq->jobs > 1 && rq->input_count > 1) {
        run_parallel(rq, &rep);
    } else {
        for (int i = 0; i < rq->input_count; ++i) {
            run_one(rq, i, &rep.results[i]);
            finish(&rep, i);
        }
    }
    clear_progress(&rep);
    if (rq->input_count > 1) print_summary(&rep);
    inkveil_cleanup();
    int status = rep.failed > 0 || rep.done < rq->input_count ? 1 : 0;
    if (rep.report != NULL) {
        fputs("\n]\n", rep.report);
        if (ferror(rep.report) | (fclose(rep.report) != 0)) {
            fprintf(stderr, "inkveil: cannot write the report %s: %s\n", rq->report_path,
                    strerror(errno));
            status = 1;
        }
    }
    free(rep.results);
    free(rep.finished);
    return status;
}
