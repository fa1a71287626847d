// Fuzz target: image pixel redaction. The first 12 bytes choose the image
// (colour space, bits per component, filters, size) and one quad; the rest is
// the encoded data. A rewritten Flate image must inflate to its declared size.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "image.h"
#include "inflate.h"

namespace {

constexpr size_t kHeader = 12;

ImageDesc desc_from(const uint8_t *h) {
    using Space = ImageDesc::Space;
    ImageDesc desc;
    static const int kBpc[8] = {1, 2, 4, 8, 16, 8, 8, 3};
    desc.bpc = kBpc[(h[0] >> 3) & 7];
    // The colour spaces: gray, RGB, CMYK, indexed, two colorants, a stencil,
    // gray with /Decode [1 0], three ICC-based components.
    static const struct {
        Space space;
        int components;
        bool stencil;
        std::vector<double> decode;
    } kSpaces[8] = {
        {Space::kGray, 1, false, {}},     {Space::kRGB, 3, false, {}},
        {Space::kCMYK, 4, false, {}},     {Space::kIndexed, 1, false, {}},
        {Space::kOther, 2, false, {}},    {Space::kGray, 1, true, {}},
        {Space::kGray, 1, false, {1, 0}}, {Space::kOther, 3, false, {0, 1, 0, 1, 0, 1}},
    };
    const auto &chosen = kSpaces[h[0] & 7];
    desc.space = chosen.space;
    desc.components = chosen.components;
    desc.image_mask = chosen.stencil;
    desc.decode = chosen.decode;
    if (desc.space == Space::kIndexed) {
        desc.base_components = 3;
        desc.base_space = Space::kRGB;
        desc.palette = {0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 128, 0};
    }
    static const std::vector<std::string> kChains[10] = {
        {},
        {"FlateDecode"},
        {"ASCIIHexDecode", "FlateDecode"},
        {"ASCII85Decode"},
        {"DCTDecode"},
        {"A85", "DCT"},
        {"FlateDecode"},
        {"FlateDecode"},
        {"FlateDecode", "DCTDecode"},
        {"LZWDecode"},
    };
    const int chain = h[1] % 10;
    desc.filters = kChains[chain];
    desc.parms.resize(desc.filters.size());
    if (chain == 6 || chain == 7) {
        desc.parms[0] = {chain == 6 ? 12 : 2, desc.components, desc.bpc, 0};
        desc.parms[0].columns = 1 + h[2] % 64;
    }
    if (chain == 4 && (h[1] & 0x80) != 0) desc.parms[0].color_transform = h[1] >> 6 & 1;
    desc.width = 1 + h[2] % 64;
    desc.height = 1 + h[3] % 64;
    return desc;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < kHeader) return 0;
    const ImageDesc desc = desc_from(data);
    ImageQuad quad;
    for (int i = 0; i < 4; ++i) {
        quad.u[i] = data[4 + 2 * i] / 200.0 - 0.1;
        quad.v[i] = data[5 + 2 * i] / 200.0 - 0.1;
    }
    const uint8_t rgb[3] = {data[0], data[1], data[4]};
    const ImageFill fill = (data[3] & 0x80) != 0 ? ImageFill::kOpaque : ImageFill::kColour;
    ImageEdit out;
    std::string reason;
    const ImageStatus status =
        image_redact(desc, data + kHeader, size - kHeader, {quad}, fill, rgb, out, &reason);
    if (status != ImageStatus::kChanged) {
        if (!out.data.empty()) std::abort();
        if (status != ImageStatus::kUntouched && reason.empty()) std::abort();
        return 0;
    }
    if (out.data.empty() || out.filters.size() != 1) std::abort();
    if (out.filters[0] == "FlateDecode") {
        const uint64_t row = (uint64_t(desc.width) * desc.components * desc.bpc + 7) / 8;
        const uint64_t expected = row * uint64_t(desc.height);
        std::vector<unsigned char> decoded(expected + 1);
        uint64_t produced = 0;
        if (inflate_decompress(out.data.data(), out.data.size(), decoded.data(), decoded.size(),
                               &produced) != 0 ||
            produced != expected)
            std::abort();
    }
    return 0;
}
