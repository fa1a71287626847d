// Library interface: the exported functions, their argument checks, the
// last-error text and the jobs.
#include "api.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "driver.h"
#include "inkveil.h"

thread_local char g_err[kErrorCapacity];

void set_error(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(g_err, sizeof g_err, format, args);
    va_end(args);
}

void clear_error() { g_err[0] = '\0'; }

namespace {

// strerror_r comes in two forms: the POSIX one returns 0 and fills the
// buffer, the GNU one returns the text, which may or may not be the buffer.
[[maybe_unused]] const char *strerror_result(int result, const char *buffer) {
    return result == 0 ? buffer : "unknown error";
}
[[maybe_unused]] const char *strerror_result(const char *result, const char *) { return result; }

}  // namespace

SystemErrorText system_error_text(int err) {
    SystemErrorText out{};
    char buffer[sizeof out.text] = {};
    std::snprintf(out.text, sizeof out.text, "%s",
                  strerror_result(strerror_r(err, buffer, sizeof buffer), buffer));
    return out;
}

namespace {

// Runs the body of an exported function so that no C++ exception ever leaves
// the library: any exception becomes the failure result with a message.
template <typename Result, typename Body>
Result trap_errors(const char *function, Result failure, Body &&body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc &) {
        set_error("out of memory in %s", function);
    } catch (const std::exception &e) {
        set_error("internal error in %s: %s", function, e.what());
    } catch (...) {
        set_error("internal error in %s", function);
    }
    return failure;
}

}  // namespace

// What a job holds: copies of everything its host gave it, and the account
// of its last successful run.
struct inkveil_job {
    std::string input, output;
    bool has_input = false, has_output = false;
    std::vector<std::string> terms;
    std::vector<Region> regions;
    int red = 0, green = 0, blue = 0;
    bool refused = false;        // an add or setter failed: every run fails
    std::string refused_message;  // with this message
    std::string error;    // the message of the last refused add or failed run
    bool has_results = false;
    JobReport report;
};

namespace {

constexpr const char *kNullJob = "NULL job handle";
constexpr const char *kNoResults = "the job has no results: it has not run successfully";

// After a failed add or setter: the job remembers it, so that it never runs
// without what its host meant to give it, or with an old path.
void mark_refused(inkveil_job *job) {
    if (job == nullptr) return;
    const bool first = !job->refused;
    job->refused = true;
    try {
        if (first) job->refused_message = g_err;
        job->error = g_err;
    } catch (...) {
        // The run then fails with a message of its own.
    }
}

// A job whose results may be read; false with g_err set otherwise.
bool job_with_results(const inkveil_job *job) {
    if (job == nullptr) {
        set_error("%s", kNullJob);
        return false;
    }
    if (!job->has_results) {
        set_error("%s", kNoResults);
        return false;
    }
    return true;
}

// Changing a job discards the results of its last run, which no longer
// describe it.
inkveil_job *changed(inkveil_job *job) {
    if (job == nullptr) {
        set_error("%s", kNullJob);
        return nullptr;
    }
    job->has_results = false;
    job->report = JobReport{};
    return job;
}

}  // namespace

extern "C" {

INKVEIL_API int inkveil_init(void) {
    clear_error();
    return 1;
}

INKVEIL_API void inkveil_cleanup(void) { clear_error(); }

INKVEIL_API const char *inkveil_last_error(void) { return g_err; }

INKVEIL_API int inkveil_region(const char *input_path, const char *output_path, int page,
                               float x, float y, float width, float height, int red, int green,
                               int blue) {
    return trap_errors("inkveil_region", 0, [&]() -> int {
        if (page < 1) {
            set_error("page number must be >= 1 (got %d)", page);
            return 0;
        }
        if (0 >= width || 0 >= height) {
            set_error("invalid region dimensions: width and height must be positive");
            return 0;
        }
        const Region region = {static_cast<float>(page), x, y, width, height};
        if (!region_is_finite(region)) {
            set_error(kNonFiniteRegionMessage, 0L);
            return 0;
        }
        return apply_redaction(input_path, output_path, nullptr, &region, 1, red, green, blue);
    });
}

INKVEIL_API int inkveil_regions(const char *input_path, const char *output_path,
                                const inkveil_rect *regions, int region_count, int red,
                                int green, int blue) {
    return trap_errors("inkveil_regions", 0, [&]() -> int {
        if (regions == nullptr && region_count > 0) {
            set_error("NULL regions pointer with count > 0");
            return 0;
        }
        if (region_count <= 0) {
            set_error("region_count must be > 0 (got %d)", region_count);
            return 0;
        }
        return apply_redaction(input_path, output_path, nullptr, regions, region_count, red,
                               green, blue);
    });
}

INKVEIL_API int inkveil_text(const char *input_path, const char *output_path,
                             const char *search_text, int red, int green, int blue) {
    return trap_errors("inkveil_text", 0, [&]() -> int {
        if (search_text == nullptr || search_text[0] == '\0') {
            set_error("search_text cannot be empty");
            return 0;
        }
        return apply_redaction(input_path, output_path, search_text, nullptr, 0, red, green,
                               blue);
    });
}

INKVEIL_API int inkveil_count_matches(const char *input_path, const char *search_text) {
    return trap_errors("inkveil_count_matches", -1, [&]() -> int {
        clear_error();
        if (input_path == nullptr) {
            set_error("NULL path argument");
            return -1;
        }
        if (search_text == nullptr || search_text[0] == '\0') {
            set_error("search_text cannot be empty");
            return -1;
        }
        return count_matches(input_path, search_text);
    });
}

INKVEIL_API inkveil_job *inkveil_job_new(void) {
    return trap_errors<inkveil_job *>("inkveil_job_new", nullptr,
                                      [] { return std::make_unique<inkveil_job>().release(); });
}

INKVEIL_API void inkveil_job_free(inkveil_job *job) {
    // Destroying strings and vectors cannot throw.
    std::unique_ptr<inkveil_job> owned(job);
}

INKVEIL_API int inkveil_job_set_input(inkveil_job *job, const char *input_path) {
    const int done = trap_errors("inkveil_job_set_input", 0, [&] {
        if (changed(job) == nullptr) return 0;
        job->input = input_path != nullptr ? input_path : "";
        job->has_input = input_path != nullptr;
        return 1;
    });
    if (!done) mark_refused(job);
    return done;
}

INKVEIL_API int inkveil_job_set_output(inkveil_job *job, const char *output_path) {
    const int done = trap_errors("inkveil_job_set_output", 0, [&] {
        if (changed(job) == nullptr) return 0;
        job->output = output_path != nullptr ? output_path : "";
        job->has_output = output_path != nullptr;
        return 1;
    });
    if (!done) mark_refused(job);
    return done;
}

INKVEIL_API int inkveil_job_add_text(inkveil_job *job, const char *search_text) {
    const int index = trap_errors("inkveil_job_add_text", -1, [&] {
        if (changed(job) == nullptr) return -1;
        if (search_text == nullptr || search_text[0] == '\0') {
            set_error("search_text cannot be empty");
            return -1;
        }
        if (job->terms.size() >= static_cast<size_t>(INT_MAX)) {
            set_error("the job holds too many search texts");
            return -1;
        }
        job->terms.emplace_back(search_text);
        return static_cast<int>(job->terms.size() - 1);
    });
    if (index < 0) mark_refused(job);
    return index;
}

INKVEIL_API int inkveil_job_add_regions(inkveil_job *job, const inkveil_rect *regions,
                                        int region_count) {
    const int first = trap_errors("inkveil_job_add_regions", -1, [&] {
        if (changed(job) == nullptr) return -1;
        if (regions == nullptr && region_count > 0) {
            set_error("NULL regions pointer with count > 0");
            return -1;
        }
        if (region_count <= 0) {
            set_error("region_count must be > 0 (got %d)", region_count);
            return -1;
        }
        if (job->regions.size() > static_cast<size_t>(INT_MAX - region_count)) {
            set_error("the job holds too many regions");
            return -1;
        }
        const int index = static_cast<int>(job->regions.size());
        job->regions.insert(job->regions.end(), regions, regions + region_count);
        return index;
    });
    if (first < 0) mark_refused(job);
    return first;
}

INKVEIL_API int inkveil_job_set_color(inkveil_job *job, int red, int green, int blue) {
    return trap_errors("inkveil_job_set_color", 0, [&] {
        if (changed(job) == nullptr) return 0;
        job->red = red;
        job->green = green;
        job->blue = blue;
        return 1;
    });
}

INKVEIL_API int inkveil_job_run(inkveil_job *job) {
    const int done = trap_errors("inkveil_job_run", 0, [&] {
        if (changed(job) == nullptr) return 0;
        if (job->refused) {
            set_error("%s", job->refused_message.empty()
                                ? "a search text, region or path given to the job was refused"
                                : job->refused_message.c_str());
            return 0;
        }
        if (job->terms.empty() && job->regions.empty()) {
            set_error("the job has no search text and no region");
            return 0;
        }
        JobParams params;
        params.input_path = job->has_input ? job->input.c_str() : nullptr;
        params.output_path = job->has_output ? job->output.c_str() : nullptr;
        params.terms = job->terms;
        params.regions = job->regions;
        params.red = job->red;
        params.green = job->green;
        params.blue = job->blue;
        if (!run_job(params, job->report)) return 0;
        job->has_results = true;
        return 1;
    });
    if (job != nullptr) {
        // Copying a message can run out of memory too; the job then keeps none.
        try {
            job->error = done ? "" : g_err;
        } catch (...) {
            job->error.clear();
        }
    }
    return done;
}

INKVEIL_API int inkveil_job_term_count(const inkveil_job *job) {
    if (job == nullptr) {
        set_error("%s", kNullJob);
        return -1;
    }
    return static_cast<int>(job->terms.size());
}

INKVEIL_API long long inkveil_job_matches(const inkveil_job *job, int term) {
    if (!job_with_results(job)) return -1;
    const std::vector<int64_t> &matches = job->report.term_matches;
    if (term < 0 || static_cast<size_t>(term) >= job->terms.size()) {
        set_error("term index %d is out of range (the job has %d search texts)", term,
                  static_cast<int>(job->terms.size()));
        return -1;
    }
    return static_cast<size_t>(term) < matches.size() ? matches[static_cast<size_t>(term)] : 0;
}

INKVEIL_API int inkveil_job_box_count(const inkveil_job *job) {
    if (!job_with_results(job)) return -1;
    const size_t count = job->report.boxes.size();
    return count > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(count);
}

INKVEIL_API int inkveil_job_box(const inkveil_job *job, int index, int *page, double bounds[4],
                                int *cause) {
    if (!job_with_results(job)) return 0;
    const std::vector<JobBox> &boxes = job->report.boxes;
    if (index < 0 || static_cast<size_t>(index) >= boxes.size()) {
        set_error("box index %d is out of range (the job painted %d boxes)", index,
                  inkveil_job_box_count(job));
        return 0;
    }
    const JobBox &box = boxes[static_cast<size_t>(index)];
    if (page != nullptr) *page = box.page;
    if (bounds != nullptr) {
        bounds[0] = box.x0;
        bounds[1] = box.y0;
        bounds[2] = box.x1;
        bounds[3] = box.y1;
    }
    if (cause != nullptr) *cause = box.cause;
    return 1;
}

INKVEIL_API const char *inkveil_job_error(const inkveil_job *job) {
    return job != nullptr ? job->error.c_str() : kNullJob;
}

}  // extern "C"
