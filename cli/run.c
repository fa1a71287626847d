/* Runs the files of a request, in this process or in worker processes, and
 * reports each result in input order. The library keeps one last-error text
 * per process, so a process is the unit of parallel work. */
#define _POSIX_C_SOURCE 200809L

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cli.h"

/* The outcome of one file; a worker sends it to the parent as raw bytes. */
typedef struct {
    int ok;
    int count;        /* matches found (text, count), -1 when not known */
    char error[1024]; /* the library's last-error text, or the program's own */
} Result;

static void set_failure(Result *r, const char *message) {
    r->ok = 0;
    snprintf(r->error, sizeof r->error, "%s", message);
}

/* Refuses an output that is the input itself: a refused text redaction removes
 * the file at the output path, which would then be the input. */
static int same_file(const char *a, const char *b) {
    struct stat sa, sb;
    return stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

static void run_job(const Request *rq, int i, Result *r) {
    const char *input = rq->inputs[i];
    r->ok = 1;
    r->count = -1;
    r->error[0] = '\0';
    if (rq->outputs != NULL && same_file(input, rq->outputs[i])) {
        set_failure(r, "the output is the input file; choose another output path");
        return;
    }
    if (rq->command != CMD_REGION) {
        r->count = inkveil_count_matches(input, rq->text);
        if (r->count < 0) {
            set_failure(r, inkveil_last_error());
            return;
        }
    }
    int done = 1;
    if (rq->command == CMD_TEXT)
        done = inkveil_text(input, rq->outputs[i], rq->text, rq->rgb[0], rq->rgb[1], rq->rgb[2]);
    else if (rq->command == CMD_REGION)
        done = inkveil_regions(input, rq->outputs[i], rq->regions, rq->region_count, rq->rgb[0],
                               rq->rgb[1], rq->rgb[2]);
    if (!done) set_failure(r, inkveil_last_error());
}

/* ---- JSON ---- */

/* Length of the valid UTF-8 sequence at s (1..4), or 0 when it is not one. */
static int utf8_sequence(const unsigned char *s) {
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
            fprintf(stdout, ",\"count\":%d", r->count);
        else
            fputs(",\"count\":null", stdout);
    }
    fputs(",\"error\":", stdout);
    if (r->ok)
        fputs("null", stdout);
    else
        json_string(stdout, r->error);
    fputs("}\n", stdout);
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

static void print_result(const Request *rq, int i, const Result *r) {
    if (!r->ok) fprintf(stderr, "%s: %s\n", rq->inputs[i], r->error);
    if (rq->json) {
        print_json(rq, i, r);
    } else if (r->ok) {
        if (rq->command == CMD_COUNT) {
            if (rq->input_count == 1)
                printf("%d\n", r->count);
            else
                printf("%s: %d\n", rq->inputs[i], r->count);
        } else if (rq->command == CMD_TEXT) {
            printf("%s -> %s: %d %s of \"%s\" redacted\n", rq->inputs[i], rq->outputs[i],
                   r->count, r->count == 1 ? "match" : "matches", rq->text);
        } else {
            printf("%s -> %s: %d %s redacted\n", rq->inputs[i], rq->outputs[i],
                   rq->region_count, rq->region_count == 1 ? "region" : "regions");
        }
    }
    fflush(stdout);
    fflush(stderr);
}

/* Takes in the result of input i and prints every result that is now next in
 * input order. */
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
        print_result(rep->rq, rep->next_report, &rep->results[rep->next_report]);
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
    else
        fprintf(stderr, "inkveil: %d files: %d counted, %d failed; %lld matches in all\n",
                rq->input_count, ok, rep->failed, rep->matches);
}

/* ---- Workers ---- */

typedef struct {
    pid_t pid; /* 0 when the slot is free */
    int fd;    /* read end of the pipe the worker writes its Result to */
    int index; /* the input it works on */
} Worker;

/* Starts a worker for input i. Returns 0 when no process could be started. */
static int start_worker(const Request *rq, int i, Worker *w) {
    int fds[2];
    if (pipe(fds) != 0) return 0;
    fflush(stdout);
    fflush(stderr);
    pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return 0;
    }
    if (pid == 0) {
        Result r;
        memset(&r, 0, sizeof r);
        close(fds[0]);
        run_job(rq, i, &r);
        /* A Result is smaller than a pipe's buffer: this write never waits for
         * the parent, which reads it after the worker has ended. */
        ssize_t written = write(fds[1], &r, sizeof r);
        _exit(written == (ssize_t)sizeof r ? 0 : 1);
    }
    close(fds[1]);
    w->pid = pid;
    w->fd = fds[0];
    w->index = i;
    return 1;
}

/* Reads the result of an ended worker; a worker that died leaves a failure. */
static void collect_worker(Worker *w, int status, Result *r) {
    size_t got = 0;
    while (got < sizeof *r) {
        ssize_t n = read(w->fd, (char *)r + got, sizeof *r - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += (size_t)n;
    }
    close(w->fd);
    w->pid = 0;
    if (got == sizeof *r) return;
    r->count = -1;
    if (WIFSIGNALED(status))
        snprintf(r->error, sizeof r->error, "the worker process was stopped by signal %d",
                 WTERMSIG(status));
    else
        snprintf(r->error, sizeof r->error, "the worker process ended without a result");
    r->ok = 0;
}

static void run_parallel(const Request *rq, Report *rep) {
    const int slots = rq->jobs < rq->input_count ? rq->jobs : rq->input_count;
    Worker *workers = calloc((size_t)slots, sizeof *workers);
    int next = 0, running = 0;
    if (workers == NULL) {
        while (next < rq->input_count) {
            run_job(rq, next, &rep->results[next]);
            finish(rep, next++);
        }
        return;
    }
    /* Waiting needs ended workers to stay until they are waited for. */
    signal(SIGCHLD, SIG_DFL);
    while (next < rq->input_count || running > 0) {
        for (int s = 0; s < slots && next < rq->input_count; ++s) {
            if (workers[s].pid != 0) continue;
            if (start_worker(rq, next, &workers[s])) {
                ++running;
            } else { /* no process to be had: do this one here */
                run_job(rq, next, &rep->results[next]);
                finish(rep, next);
            }
            ++next;
        }
        if (running == 0) continue;
        int status = 0;
        pid_t pid = waitpid(-1, &status, 0);
        if (pid < 0) {
            if (errno == EINTR) continue;
            /* No child left to wait for: take what the workers have sent. */
            for (int s = 0; s < slots; ++s) {
                if (workers[s].pid == 0) continue;
                const int i = workers[s].index;
                collect_worker(&workers[s], 0, &rep->results[i]);
                --running;
                finish(rep, i);
            }
            continue;
        }
        for (int s = 0; s < slots; ++s) {
            if (workers[s].pid != pid) continue;
            const int i = workers[s].index;
            collect_worker(&workers[s], status, &rep->results[i]);
            --running;
            finish(rep, i);
            break;
        }
    }
    free(workers);
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
    rep.results = calloc((size_t)rq->input_count, sizeof *rep.results);
    rep.finished = calloc((size_t)rq->input_count, 1);
    if (rep.results == NULL || rep.finished == NULL) {
        free(rep.results);
        free(rep.finished);
        fprintf(stderr, "inkveil: out of memory\n");
        return 1;
    }
    rep.progress = rq->input_count > 1 && isatty(STDERR_FILENO);
    inkveil_init();
    if (rq->jobs > 1 && rq->input_count > 1) {
        run_parallel(rq, &rep);
    } else {
        for (int i = 0; i < rq->input_count; ++i) {
            run_job(rq, i, &rep.results[i]);
            finish(&rep, i);
        }
    }
    clear_progress(&rep);
    if (rq->input_count > 1) print_summary(&rep);
    inkveil_cleanup();
    const int status = rep.failed > 0 || rep.done < rq->input_count ? 1 : 0;
    free(rep.results);
    free(rep.finished);
    return status;
}
