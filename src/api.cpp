// Library interface: the exported functions, their argument checks and the
// last-error text.
#include "api.h"

#include <cstdarg>
#include <cstdio>
#include <exception>
#include <new>

#include "driver.h"
#include "inkveil.h"

char g_err[kErrorCapacity];

void set_error(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(g_err, sizeof g_err, format, args);
    va_end(args);
}

void clear_error() { g_err[0] = '\0'; }

namespace {

// Runs the body of an exported function so that no C++ exception ever leaves
// the library: any exception becomes the failure result with a message.
template <typename Body>
int trap_errors(const char *function, int failure, Body &&body) noexcept {
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
                                const Region *regions, int region_count, int red, int green,
                                int blue) {
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

}  // extern "C"
