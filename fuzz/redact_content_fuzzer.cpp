// Fuzz target: one content stream through the redaction engine, in text mode
// and in region mode. The content must keep its length.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "redact.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > (1u << 20)) return 0;
    const Region regions[2] = {{1, 0, 0, 300, 800}, {1.5f, -50, 600, 100, 100}};
    for (int mode = 0; mode < 2; ++mode) {
        std::vector<unsigned char> content(data, data + size);
        Buf out;
        int painted = 0, matches = 0;
        redact_page_content(content.data(), static_cast<int32_t>(size), out,
                            mode == 0 ? "secret" : nullptr, mode == 1 ? regions : nullptr,
                            mode == 1 ? 2 : 0, 1, 10, 20, 30, &painted, &matches);
        if (out.data && out.len < size) std::abort();
    }
    return 0;
}
