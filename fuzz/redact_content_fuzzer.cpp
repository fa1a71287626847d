// Fuzz target: one content stream through the interpreter and the redaction,
// in text mode and in region mode, with no resources (every font falls back
// to the standard tables). A rewritten stream must be longer than nothing,
// and the count that checks a written stream must be the decision's.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "document.h"
#include "redact.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > (1u << 20)) return 0;
    const Region regions[2] = {{1, 0, 0, 300, 800}, {1.5f, -50, 600, 100, 100}};
    SearchSet search;
    search_set_add(search, "secret");
    search_set_add(search, "pass word");
    search_set_build(search);
    Doc doc;
    FontCache fonts;
    const PdfObj no_resources;
    const ContentContext ctx{doc, fonts, no_resources};
    for (int mode = 0; mode < 2; ++mode) {
        RedactJob job;
        job.search = mode == 0 ? &search : nullptr;
        job.regions = mode == 1 ? regions : nullptr;
        job.region_count = mode == 1 ? 2 : 0;
        Buf out;
        int painted = 0, matches = 0;
        redact_content(ctx, data, static_cast<int32_t>(size), job, Placement{}, out, &painted,
                       &matches);
        if (mode == 1 && !painted) std::abort();  // a region on the page is always painted
        if (mode == 0) {
            ContentTrace trace;
            interpret_content(ctx, data, static_cast<int32_t>(size), Matrix{}, trace);
            if (count_stream_matches(data, trace, search) != matches) std::abort();
        }
    }
    return 0;
}
