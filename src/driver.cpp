// Redaction driver.
#include "driver.h"

#include <cmath>

#include "api.h"

bool region_is_finite(const Region &region) {
    return std::isfinite(region.page) && std::isfinite(region.x) && std::isfinite(region.y) &&
           std::isfinite(region.width) && std::isfinite(region.height);
}

bool validate_regions(const Region *regions, int32_t region_count, int32_t page_count) {
    for (int32_t k = 0; k < region_count; ++k) {
        const Region &region = regions[k];
        if (!region_is_finite(region)) {
            set_error(kNonFiniteRegionMessage, static_cast<long>(k));
            return false;
        }
        // Compared as a float first: a page far outside the int range must not
        // be converted before it is known to be in range.
        const double page = std::trunc(static_cast<double>(region.page));
        if (page < 1 || page > page_count) {
            const int shown = page < INT32_MIN ? INT32_MIN
                              : page > INT32_MAX ? INT32_MAX
                                                 : static_cast<int>(page);
            set_error("page %d in regions[%ld] is out of range (document has %ld pages)", shown,
                      static_cast<long>(k), static_cast<long>(page_count));
            return false;
        }
        if (0 >= region.width || 0 >= region.height) {
            set_error("region %ld has invalid non-positive dimensions: %.2fx%.2f",
                      static_cast<long>(k), static_cast<double>(region.width),
                      static_cast<double>(region.height));
            return false;
        }
    }
    return true;
}

int apply_redaction(const char *input_path, const char *output_path, const char *search_text,
                    const Region *regions, int region_count, int red, int green, int blue) {
    (void)regions;
    (void)region_count;
    (void)red;
    (void)green;
    (void)blue;
    if (input_path == nullptr || output_path == nullptr) {
        set_error("NULL path argument");
        return 0;
    }
    if (search_text != nullptr && search_text[0] == '\0') {
        set_error("search_text cannot be empty");
        return 0;
    }
    set_error("redaction is not available in this build yet: the document driver is still to come");
    return 0;
}
