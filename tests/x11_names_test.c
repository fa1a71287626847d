/* A host that includes X11's headers first, where Region is taken, and then
 * this library's with INKVEIL_NO_SHORT_NAMES: both compile together, and the
 * record is used under its own name. Without the X11 headers, a stand-in
 * declares Region exactly as <X11/Xutil.h> does. */
#include <stdio.h>
#include <string.h>

#ifdef INKVEIL_TEST_WITH_X11
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#else
typedef struct _XRegion *Region;
#endif

#define INKVEIL_NO_SHORT_NAMES
#include "inkveil.h"

int main(void) {
    Region x11_region = NULL; /* X11's own: a pointer */
    inkveil_rect rect = {0.0f, 0.0f, 0.0f, 1.0f, 1.0f};
    int failures = 0;

    if (sizeof(inkveil_rect) != 20 || sizeof x11_region != sizeof(void *)) ++failures;
    if (inkveil_regions("in.pdf", "out.pdf", &rect, 0, 0, 0, 0) != 0 ||
        strcmp(inkveil_last_error(), "region_count must be > 0 (got 0)") != 0)
        ++failures;
    if (failures == 0) printf("x11_names_test: all checks passed\n");
    return failures == 0 ? 0 : 1;
}
