// Fuzz target: the input as a CMap, with code lengths and look-ups over its
// own bytes, and as a Type 1 and a TrueType font program.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "cmap.h"
#include "fontfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > (1u << 20)) return 0;
    CMap cmap;
    cmap_parse(data, size, cmap);
    std::u32string text;
    for (size_t pos = 0; pos < size && pos < 4096;) {
        const int n = cmap_code_length(cmap, data + pos, size - pos);
        if (n < 1 || static_cast<size_t>(n) > size - pos) std::abort();
        uint32_t code = 0, cid = 0;
        for (int i = 0; i < n; ++i) code = code << 8 | data[pos + i];
        cmap_to_unicode(cmap, code, text);
        cmap_to_cid(cmap, code, &cid);
        pos += static_cast<size_t>(n);
    }
    uint32_t space = 0;
    if (cmap_code_for_unicode(cmap, U' ', &space)) {
        std::u32string got;
        if (!cmap_to_unicode(cmap, space, got) || got != U" ") std::abort();
    }
    CMap child = cmap;
    cmap_merge_parent(child, cmap);

    std::string names[256];
    bool standard = false;
    type1_builtin_encoding(data, size, names, &standard);

    TrueTypeCmap font;
    if (truetype_read_cmap(data, size, font)) {
        for (const auto *pairs : {&font.unicode_to_gid, &font.symbol_to_gid, &font.mac_to_gid})
            for (size_t i = 0; i < pairs->size(); ++i)
                if ((*pairs)[i].second == 0 || (i > 0 && (*pairs)[i - 1].first >= (*pairs)[i].first))
                    std::abort();
        truetype_gid_to_unicode(font);
    }
    return 0;
}
