// Image pixel redaction: images are built here (zlib for Flate data,
// TurboJPEG for JPEG data), redacted, and decoded again to compare every
// sample or every 8x8 block with what it must be.
#include <gtest/gtest.h>
#include <turbojpeg.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "image.h"
#include "pdf_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Space = ImageDesc::Space;

// ---- Fixtures ----

Bytes zlib_pack(const Bytes &data) {
    uLongf len = compressBound(static_cast<uLong>(data.size()));
    Bytes out(len);
    EXPECT_EQ(compress2(out.data(), &len, data.data(), static_cast<uLong>(data.size()), 9), Z_OK);
    out.resize(len);
    return out;
}

// zlib's own inflate, as a control for what the library wrote.
Bytes zlib_unpack(const Bytes &data, size_t size) {
    Bytes out(size + 1);
    uLongf len = static_cast<uLongf>(out.size());
    EXPECT_EQ(uncompress(out.data(), &len, data.data(), static_cast<uLong>(data.size())), Z_OK);
    out.resize(len);
    return out;
}

Bytes hex_encode(const Bytes &data) {
    Bytes out;
    const char *digits = "0123456789abcdef";
    for (size_t i = 0; i < data.size(); ++i) {
        out.push_back(static_cast<uint8_t>(digits[data[i] >> 4]));
        out.push_back(static_cast<uint8_t>(digits[data[i] & 15]));
        if (i % 16 == 15) out.push_back('\n');
    }
    out.push_back('>');
    return out;
}

Bytes a85_encode(const Bytes &data) {
    Bytes out;
    for (size_t i = 0; i < data.size(); i += 4) {
        const size_t n = std::min<size_t>(4, data.size() - i);
        uint32_t value = 0;
        for (size_t k = 0; k < 4; ++k) value = value << 8 | (k < n ? data[i + k] : 0);
        if (n == 4 && value == 0) {
            out.push_back('z');
            continue;
        }
        char group[5];
        for (int k = 4; k >= 0; --k, value /= 85) group[k] = static_cast<char>('!' + value % 85);
        out.insert(out.end(), group, group + n + 1);
    }
    out.push_back('~');
    out.push_back('>');
    return out;
}

uint32_t get_sample(const Bytes &data, size_t at, uint64_t index, int bpc) {
    const uint8_t *row = data.data() + at;
    if (bpc == 8) return row[index];
    if (bpc == 16) return uint32_t(row[2 * index]) << 8 | row[2 * index + 1];
    const uint64_t bit = index * bpc;
    return (row[bit / 8] >> (8 - bpc - bit % 8)) & ((1u << bpc) - 1);
}

void put_sample(Bytes &data, size_t at, uint64_t index, int bpc, uint32_t value) {
    uint8_t *row = data.data() + at;
    if (bpc == 8) {
        row[index] = static_cast<uint8_t>(value);
    } else if (bpc == 16) {
        row[2 * index] = static_cast<uint8_t>(value >> 8);
        row[2 * index + 1] = static_cast<uint8_t>(value);
    } else {
        const uint64_t bit = index * bpc;
        const int shift = static_cast<int>(8 - bpc - bit % 8);
        row[bit / 8] =
            static_cast<uint8_t>((row[bit / 8] & ~(((1u << bpc) - 1) << shift)) | (value << shift));
    }
}

// PNG prediction with row filter (r % 5) on row r, so that every filter type
// appears in an image of five rows or more.
Bytes png_predict(const Bytes &raw, size_t row_bytes, size_t bpp) {
    Bytes out;
    const size_t rows = raw.size() / row_bytes;
    for (size_t r = 0; r < rows; ++r) {
        const int type = static_cast<int>(r % 5);
        out.push_back(static_cast<uint8_t>(type));
        for (size_t i = 0; i < row_bytes; ++i) {
            const int x = raw[r * row_bytes + i];
            const int a = i >= bpp ? raw[r * row_bytes + i - bpp] : 0;
            const int b = r > 0 ? raw[(r - 1) * row_bytes + i] : 0;
            const int c = r > 0 && i >= bpp ? raw[(r - 1) * row_bytes + i - bpp] : 0;
            const int p = a + b - c;
            const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
            const int paeth = pa <= pb && pa <= pc ? a : (pb <= pc ? b : c);
            const int predicted[5] = {0, a, b, (a + b) / 2, paeth};
            out.push_back(static_cast<uint8_t>(x - predicted[type]));
        }
    }
    return out;
}

// TIFF predictor 2: each sample minus the same component of the pixel to its left.
Bytes tiff_predict(const Bytes &raw, size_t row_bytes, int width, int comps, int bpc) {
    Bytes out = raw;
    const uint32_t mask = bpc == 16 ? 0xffff : (1u << bpc) - 1;
    for (size_t at = 0; at < raw.size(); at += row_bytes)
        for (uint64_t k = comps; k < uint64_t(width) * comps; ++k)
            put_sample(out, at, k, bpc,
                       (get_sample(raw, at, k, bpc) - get_sample(raw, at, k - comps, bpc)) & mask);
    return out;
}

// A quad from a rectangle in pixels (x right, y down from the top-left corner).
ImageQuad pixel_rect(int width, int height, double x0, double y0, double x1, double y1) {
    const double u0 = x0 / width, u1 = x1 / width;
    const double v0 = 1 - y0 / height, v1 = 1 - y1 / height;
    return ImageQuad{{u0, u1, u1, u0}, {v0, v0, v1, v1}};
}

// A rectangle meets cell [i, i + 1) when their open interiors overlap.
bool meets(double lo, double hi, double cell_lo, double cell_hi) {
    return cell_lo < hi && cell_hi > lo;
}

struct Result {
    ImageStatus status;
    ImageEdit edit;
    std::string reason;
};

Result redact(const ImageDesc &desc, const Bytes &data, const std::vector<ImageQuad> &quads,
              ImageFill fill = ImageFill::kColour, std::array<uint8_t, 3> rgb = {255, 0, 0}) {
    Result r;
    r.status =
        image_redact(desc, data.data(), data.size(), quads, fill, rgb.data(), r.edit, &r.reason);
    return r;
}

const ImageQuad kWholeImage = {{-0.5, 1.5, 1.5, -0.5}, {-0.5, -0.5, 1.5, 1.5}};

// ---- Unfiltered and Flate images ----

struct Layout {
    const char *what;
    Space space;
    int comps, bpc, predictor;
    std::vector<std::string> filters;
    std::vector<double> decode;
    std::vector<uint32_t> fill;  // the samples a red box gives
};

TEST(ImageRaw, CoveredPixelsTakeTheFillAndTheOthersKeepTheirSamples) {
    const Layout layouts[] = {
        {"gray 8, PNG predictor 10", Space::kGray, 1, 8, 10, {"FlateDecode"}, {}, {76}},
        {"gray 8, PNG predictor 15", Space::kGray, 1, 8, 15, {"FlateDecode"}, {}, {76}},
        {"RGB 8, PNG predictor 12", Space::kRGB, 3, 8, 12, {"FlateDecode"}, {}, {255, 0, 0}},
        {"RGB 16, PNG predictor 14", Space::kRGB, 3, 16, 14, {"FlateDecode"}, {}, {65535, 0, 0}},
        {"gray 1, PNG predictor 11", Space::kGray, 1, 1, 11, {"FlateDecode"}, {}, {0}},
        {"gray 8, TIFF predictor", Space::kGray, 1, 8, 2, {"FlateDecode"}, {}, {76}},
        {"RGB 4, TIFF predictor", Space::kRGB, 3, 4, 2, {"FlateDecode"}, {}, {15, 0, 0}},
        {"RGB 16, TIFF predictor", Space::kRGB, 3, 16, 2, {"FlateDecode"}, {}, {65535, 0, 0}},
        {"gray 1", Space::kGray, 1, 1, 1, {"FlateDecode"}, {}, {0}},
        {"gray 2", Space::kGray, 1, 2, 1, {"FlateDecode"}, {}, {1}},
        {"gray 4", Space::kGray, 1, 4, 1, {"FlateDecode"}, {}, {4}},
        {"gray 16", Space::kGray, 1, 16, 1, {"FlateDecode"}, {}, {19595}},
        {"RGB 2", Space::kRGB, 3, 2, 1, {"FlateDecode"}, {}, {3, 0, 0}},
        {"CMYK 8", Space::kCMYK, 4, 8, 1, {"FlateDecode"}, {}, {0, 255, 255, 0}},
        {"gray 8, /Decode [1 0]", Space::kGray, 1, 8, 1, {"FlateDecode"}, {1, 0}, {179}},
        {"CMYK 8, /Decode inverted",
         Space::kCMYK,
         4,
         8,
         1,
         {"FlateDecode"},
         {1, 0, 1, 0, 1, 0, 1, 0},
         {255, 0, 0, 255}},
        {"ICC-based, 3 components", Space::kOther, 3, 8, 1, {"FlateDecode"}, {}, {255, 0, 0}},
        {"2 colorants: ink as dark as the box",
         Space::kOther,
         2,
         8,
         1,
         {"FlateDecode"},
         {},
         {179, 179}},
        {"unfiltered", Space::kRGB, 3, 8, 1, {}, {}, {255, 0, 0}},
        {"ASCIIHex in front of Flate",
         Space::kGray,
         1,
         8,
         12,
         {"ASCIIHexDecode", "FlateDecode"},
         {},
         {76}},
        {"ASCII85 in front of Flate", Space::kRGB, 3, 8, 1, {"A85", "Fl"}, {}, {255, 0, 0}},
        {"ASCII85 alone", Space::kGray, 1, 4, 1, {"ASCII85Decode"}, {}, {4}},
    };
    const int width = 13, height = 9;  // rows end in part of a byte at 1, 2 and 4 bits
    const double x0 = 2.5, x1 = 9.0, y0 = 1.0, y1 = 6.3;
    std::mt19937 rng(7);
    for (const Layout &l : layouts) {
        SCOPED_TRACE(l.what);
        const size_t row_bytes = (size_t(width) * l.comps * l.bpc + 7) / 8;
        Bytes pixels(row_bytes * height);
        for (uint8_t &b : pixels) b = static_cast<uint8_t>(rng());

        ImageDesc desc;
        desc.width = width;
        desc.height = height;
        desc.bpc = l.bpc;
        desc.components = l.comps;
        desc.space = l.space;
        desc.decode = l.decode;
        desc.filters = l.filters;
        desc.parms.resize(l.filters.size());
        Bytes data = pixels;
        if (l.predictor >= 10) data = png_predict(pixels, row_bytes, (l.comps * l.bpc + 7) / 8);
        if (l.predictor == 2) data = tiff_predict(pixels, row_bytes, width, l.comps, l.bpc);
        // Encode from the last filter to the first.
        for (size_t k = l.filters.size(); k-- > 0;) {
            const std::string &f = l.filters[k];
            if (f == "FlateDecode" || f == "Fl") {
                data = zlib_pack(data);
                desc.parms[k] = {l.predictor, l.comps, l.bpc, width};
            } else if (f == "ASCIIHexDecode") {
                data = hex_encode(data);
            } else {
                data = a85_encode(data);
            }
        }

        const Result r = redact(desc, data, {pixel_rect(width, height, x0, y0, x1, y1)});
        ASSERT_EQ(r.status, ImageStatus::kChanged) << r.reason;
        EXPECT_EQ(r.edit.filters, std::vector<std::string>{"FlateDecode"});
        EXPECT_TRUE(r.edit.decode_parms_dropped);
        Bytes expected = pixels;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                if (meets(x0, x1, x, x + 1) && meets(y0, y1, y, y + 1))
                    for (int c = 0; c < l.comps; ++c)
                        put_sample(expected, y * row_bytes, uint64_t(x) * l.comps + c, l.bpc,
                                   l.fill[c]);
        EXPECT_EQ(zlib_unpack(r.edit.data, expected.size()), expected);
    }
}

TEST(ImageRaw, DataBeyondTheDeclaredSizeIsLeftOut) {
    ImageDesc desc;
    desc.width = 4;
    desc.height = 2;
    desc.filters = {"FlateDecode"};
    desc.parms.resize(1);
    const Bytes pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    const Result r = redact(desc, zlib_pack(pixels), {pixel_rect(4, 2, 0, 0, 1, 1)});
    ASSERT_EQ(r.status, ImageStatus::kChanged) << r.reason;
    EXPECT_EQ(zlib_unpack(r.edit.data, 8), (Bytes{76, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(ImageRaw, IndexedImagesTakeTheNearestPaletteEntry) {
    const struct {
        const char *what;
        int base_components, bpc;
        Bytes palette;
        std::vector<double> decode;
        std::array<uint8_t, 3> fill;
        uint32_t sample;
    } cases[] = {
        {"RGB base", 3, 8, {0, 0, 0, 250, 250, 250, 200, 10, 20, 10, 200, 20}, {}, {255, 0, 0}, 2},
        {"RGB base, a white box",
         3,
         2,
         {0, 0, 0, 250, 250, 250, 200, 10, 20},
         {},
         {255, 255, 255},
         1},
        {"gray base", 1, 4, {0, 128, 255}, {}, {120, 130, 140}, 1},
        // CMYK (0, 255, 255, 0) is red once converted to RGB.
        {"CMYK base", 4, 8, {0, 0, 0, 255, 0, 255, 255, 0, 0, 0, 0, 0}, {}, {255, 0, 0}, 1},
        // /Decode [3 0]: sample s is entry 3 - s.
        {"reversed /Decode",
         3,
         2,
         {0, 0, 0, 9, 9, 9, 255, 0, 0, 90, 90, 90},
         {3, 0},
         {255, 0, 0},
         1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ImageDesc desc;
        desc.width = 6;
        desc.height = 2;
        desc.bpc = c.bpc;
        desc.space = Space::kIndexed;
        desc.base_components = c.base_components;
        desc.base_space = c.base_components == 1
                              ? Space::kGray
                              : (c.base_components == 3 ? Space::kRGB : Space::kCMYK);
        desc.palette = c.palette;
        desc.decode = c.decode;
        const size_t row_bytes = (6 * size_t(c.bpc) + 7) / 8;
        const Bytes pixels(row_bytes * 2, 0);
        const Result r = redact(desc, pixels, {kWholeImage}, ImageFill::kColour, c.fill);
        ASSERT_EQ(r.status, ImageStatus::kChanged) << r.reason;
        const Bytes out = zlib_unpack(r.edit.data, pixels.size());
        for (int x = 0; x < 6; ++x) EXPECT_EQ(get_sample(out, row_bytes, x, c.bpc), c.sample);
    }
}

TEST(ImageRaw, MasksBecomeOpaque) {
    const struct {
        const char *what;
        bool stencil;
        int bpc;
        std::vector<double> decode;
        ImageFill fill;
        uint32_t sample;
    } cases[] = {
        {"stencil: 0 paints", true, 1, {}, ImageFill::kOpaque, 0},
        {"stencil, /Decode [1 0]: 1 paints", true, 1, {1, 0}, ImageFill::kOpaque, 1},
        {"stencil under a colour fill paints too", true, 1, {}, ImageFill::kColour, 0},
        {"soft mask", false, 8, {}, ImageFill::kOpaque, 255},
        {"soft mask, /Decode [1 0]", false, 8, {1, 0}, ImageFill::kOpaque, 0},
        {"soft mask of 16 bits", false, 16, {}, ImageFill::kOpaque, 65535},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ImageDesc desc;
        desc.width = 10;
        desc.height = 3;
        desc.bpc = c.bpc;
        desc.image_mask = c.stencil;
        desc.decode = c.decode;
        const size_t row_bytes = (10 * size_t(c.bpc) + 7) / 8;
        Bytes pixels(row_bytes * 3);
        for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 37 + 11);
        const Result r = redact(desc, pixels, {pixel_rect(10, 3, 0, 0, 4, 3)}, c.fill);
        ASSERT_EQ(r.status, ImageStatus::kChanged) << r.reason;
        const Bytes out = zlib_unpack(r.edit.data, pixels.size());
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 10; ++x)
                EXPECT_EQ(get_sample(out, y * row_bytes, x, c.bpc),
                          x < 4 ? c.sample : get_sample(pixels, y * row_bytes, x, c.bpc))
                    << x << "," << y;
    }
}

// An RGB image whose /Mask stream hides all of it over a blue page; once the
// left half of the mask is made opaque, pdftoppm shows the image there.
TEST(ImageMask, AMaskMadeOpaqueShowsTheImageInARendering) {
    const int w = 16, h = 8;
    ImageDesc desc;
    desc.width = w;
    desc.height = h;
    desc.bpc = 1;
    desc.image_mask = true;
    const Bytes hidden(size_t(w / 8) * h, 0xff);  // 1 everywhere: nothing painted
    const Result r = redact(desc, hidden, {pixel_rect(w, h, 0, 0, w / 2, h)}, ImageFill::kOpaque);
    ASSERT_EQ(r.status, ImageStatus::kChanged) << r.reason;

    std::string image;
    for (int i = 0; i < w * h; ++i) image += std::string("\xff\x00\x00", 3);
    const std::string content = "0 0 1 rg 0 0 16 8 re f q 16 0 0 8 0 0 cm /Im Do Q";
    pdftest::PdfBuilder pdf;
    pdf.obj(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
        .obj(3,
             "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 16 8] /Contents 4 0 R "
             "/Resources << /XObject << /Im 5 0 R >> >> >>")
        .stream(4, "", content)
        .stream(5,
                "/Type /XObject /Subtype /Image /Width 16 /Height 8 /ColorSpace /DeviceRGB "
                "/BitsPerComponent 8 /Mask 6 0 R",
                image)
        .stream(6,
                "/Type /XObject /Subtype /Image /Width 16 /Height 8 /ImageMask true "
                "/Filter /FlateDecode",
                std::string(r.edit.data.begin(), r.edit.data.end()))
        .xref_table("/Root 1 0 R");
    pdftest::TempFile file = pdf.file();
    const std::string ppm = file.path + ".ppm";
    const std::string command =
        "pdftoppm -r 72 -singlefile " + file.path + " " + file.path + " 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::ifstream in(ppm, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    std::remove(ppm.c_str());
    ASSERT_GE(bytes.size(), size_t(w * h * 3));
    const std::string pixels = bytes.substr(bytes.size() - size_t(w) * h * 3);
    auto rgb = [&](int x, int y) {
        const size_t at = (size_t(y) * w + x) * 3;
        return std::vector<int>{uint8_t(pixels[at]), uint8_t(pixels[at + 1]),
                                uint8_t(pixels[at + 2])};
    };
    EXPECT_EQ(rgb(3, 4), (std::vector<int>{255, 0, 0}));   // the image shows
    EXPECT_EQ(rgb(12, 4), (std::vector<int>{0, 0, 255}));  // still masked: the page
}

// ---- Which pixels a quad meets ----

TEST(ImageCover, RotatedQuadsChangeOnlyTheCellsTheyMeet) {
    // Two overlapping diamonds (squares turned by 45 degrees): a cell meets
    // one when its nearest point to the centre is closer than the radius in
    // the L1 distance.
    const int w = 20, h = 16;
    const struct { double cx, cy, r; } diamonds[] = {{7.3, 8.6, 4.45}, {10.1, 7.2, 3.3}};
    std::vector<ImageQuad> quads;
    for (const auto &d : diamonds) {
        const double xs[4] = {d.cx - d.r, d.cx, d.cx + d.r, d.cx};
        const double ys[4] = {d.cy, d.cy - d.r, d.cy, d.cy + d.r};
        ImageQuad q;
        for (int i = 0; i < 4; ++i) {
            q.u[i] = xs[i] / w;
            q.v[i] = 1 - ys[i] / h;
        }
        quads.push_back(q);
    }
    ImageDesc desc;
    desc.width = w;
    desc.height = h;
    const Bytes pixels(size_t(w) * h, 200);
    const Result r = redact(desc, pixels, quads, ImageFill::kColour, {0, 0, 0});
    ASSERT_EQ(r.status, ImageStatus::kChanged) << r.reason;
    const Bytes out = zlib_unpack(r.edit.data, pixels.size());
    int changed = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            bool met = false;
            for (const auto &d : diamonds) {
                const double dx = std::max({0.0, x - d.cx, d.cx - (x + 1)});
                const double dy = std::max({0.0, y - d.cy, d.cy - (y + 1)});
                met = met || dx + dy < d.r;
            }
            EXPECT_EQ(out[size_t(y) * w + x], met ? 0 : 200) << x << "," << y;
            changed += met;
        }
    }
    EXPECT_GT(changed, 40);
}

TEST(ImageCover, QuadsThatMeetNoPixelLeaveTheImageUntouched) {
    const double nan = std::nan("");
    const struct {
        const char *what;
        ImageQuad quad;
    } cases[] = {
        {"beside the image", {{1.2, 1.5, 1.5, 1.2}, {0, 0, 1, 1}}},
        {"touching the right edge", {{1.0, 1.5, 1.5, 1.0}, {0.2, 0.2, 0.8, 0.8}}},
        {"touching a corner", {{1.0, 2.0, 2.0, 1.0}, {1.0, 1.0, 2.0, 2.0}}},
        {"flat: a line across the image", {{0, 1, 1, 0}, {0.5, 0.5, 0.5, 0.5}}},
        {"a corner that is not a number", {{0, 1, 1, nan}, {0, 0, 1, 1}}},
    };
    ImageDesc good;
    good.width = 8;
    good.height = 8;
    ImageDesc refused = good;
    refused.filters = {"JBIG2Decode"};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        // Untouched whatever the image: one a box does not reach is never refused.
        for (const ImageDesc &desc : {good, refused}) {
            const Result r = redact(desc, Bytes(64, 1), {c.quad});
            EXPECT_EQ(r.status, ImageStatus::kUntouched) << r.reason;
            EXPECT_TRUE(r.edit.data.empty());
        }
    }
    EXPECT_EQ(redact(refused, Bytes(64, 1), {}).status, ImageStatus::kUntouched);
}

// ---- Refused and damaged images ----

TEST(ImageRefused, FiltersThatCannotBeRewrittenAreNamed) {
    const struct {
        std::vector<std::string> filters;
        const char *name;
    } cases[] = {
        {{"JBIG2Decode"}, "JBIG2Decode"},
        {{"CCITTFaxDecode"}, "CCITTFaxDecode"},
        {{"CCF"}, "CCITTFaxDecode"},
        {{"JPXDecode"}, "JPXDecode"},
        {{"LZWDecode"}, "LZWDecode"},
        {{"ASCII85Decode", "LZW"}, "LZWDecode"},
        {{"RunLengthDecode"}, "RunLengthDecode"},
        {{"RL"}, "RunLengthDecode"},
        {{"Crypt"}, "Crypt"},
        {{"FlateDecode", "NoSuchDecode"}, "NoSuchDecode"},
    };
    for (const auto &c : cases) {
        ImageDesc desc;
        desc.width = 4;
        desc.height = 4;
        desc.filters = c.filters;
        desc.parms.resize(c.filters.size());
        const Result r = redact(desc, Bytes(16, 0), {kWholeImage});
        EXPECT_EQ(r.status, ImageStatus::kUnsupported) << c.name;
        EXPECT_EQ(r.reason, c.name);
        EXPECT_TRUE(r.edit.data.empty());
    }
}

// A DCTDecode image of `w` x `h` pixels.
ImageDesc jpeg_desc(int w, int h, int components, Space space) {
    ImageDesc desc;
    desc.width = w;
    desc.height = h;
    desc.components = components;
    desc.space = space;
    desc.filters = {"DCTDecode"};
    return desc;
}

Bytes make_jpeg(int w, int h, int pixel_format, int subsamp, int quality, int flags = 0);

TEST(ImageDamaged, EachFaultIsReported) {
    ImageDesc gray;
    gray.width = 16;
    gray.height = 16;
    ImageDesc flate = gray;
    flate.filters = {"FlateDecode"};
    flate.parms.resize(1);
    const Bytes pixels(256, 90);
    ImageDesc dct = gray;
    dct.filters = {"DCTDecode"};
    const Bytes jpeg = make_jpeg(16, 16, TJPF_GRAY, TJSAMP_GRAY, 90);

    struct Case {
        const char *what;
        ImageDesc desc;
        Bytes data;
        const char *says;  // a word of the reason
    };
    std::vector<Case> cases;
    cases.push_back({"unfiltered data one byte short", gray, Bytes(255, 0), "shorter"});
    cases.push_back({"Flate data one byte short", flate, zlib_pack(Bytes(255, 0)), "shorter"});
    const Bytes packed = zlib_pack(pixels);
    cases.push_back({"Flate data cut in the middle", flate,
                     Bytes(packed.begin(), packed.begin() + 5), "Flate"});
    cases.push_back({"not Flate data", flate, Bytes(40, 'x'), "Flate"});
    cases.push_back({"bad ASCIIHex",
                     [&] {
                         ImageDesc s = gray;
                         s.filters = {"AHx"};
                         return s;
                     }(),
                     Bytes{'0', '1', 'x'}, "ASCIIHex"});
    for (int bpc : {0, 3, 12, 32}) {
        ImageDesc s = gray;
        s.bpc = bpc;
        cases.push_back({"bpc not in the list", s, pixels, "BitsPerComponent"});
    }
    {
        ImageDesc s = gray;
        s.decode = {0, 1, 0, 1};
        cases.push_back({"/Decode of the wrong length", s, pixels, "/Decode"});
        s.decode = {0, std::nan("")};
        cases.push_back({"/Decode not a number", s, pixels, "/Decode"});
    }
    {
        ImageDesc s = flate;
        s.width = 60000;
        s.height = 60000;
        s.components = 1;
        cases.push_back({"2^31 bytes and more", s, zlib_pack(pixels), "2^31"});
        s.width = 40000;
        s.height = 40000;  // 1.6 GB that 100 bytes of Flate data cannot hold
        cases.push_back({"far more than the data can hold", s, zlib_pack(pixels), "shorter"});
        s.width = s.height = 0;
        cases.push_back({"no pixels", s, zlib_pack(pixels), "size"});
    }
    {
        ImageDesc s = flate;
        s.parms[0].predictor = 3;
        cases.push_back({"an unknown predictor", s, zlib_pack(pixels), "predictor"});
        s.parms[0] = {12, 1, 8, 0};
        cases.push_back({"a predictor of no columns", s, zlib_pack(pixels), "predictor"});
        s.parms[0] = {12, 1, 8, 16};
        Bytes rows;
        for (int r = 0; r < 16; ++r) {
            rows.push_back(r == 9 ? 7 : 0);
            rows.insert(rows.end(), 16, 1);
        }
        cases.push_back({"a PNG row of an unknown type", s, zlib_pack(rows), "PNG"});
    }
    {
        ImageDesc s = gray;
        s.space = Space::kRGB;
        cases.push_back({"components that do not fit the space", s, Bytes(768, 0), "components"});
        s = gray;
        s.image_mask = true;
        cases.push_back({"a stencil of 8 bits", s, pixels, "stencil"});
        s = gray;
        s.space = Space::kIndexed;
        s.base_components = 3;
        cases.push_back({"an empty palette", s, pixels, "palette"});
    }
    cases.push_back({"JPEG: not JPEG data", dct, Bytes(100, 7), "JPEG"});
    cases.push_back({"JPEG: cut in its scan", dct, Bytes(jpeg.begin(), jpeg.end() - 60), "JPEG"});
    cases.push_back(
        {"JPEG: cut in its headers", dct, Bytes(jpeg.begin(), jpeg.begin() + 30), "JPEG"});
    {
        Bytes broken = jpeg;
        for (size_t i = broken.size() - 40; i < broken.size() - 2; ++i) broken[i] = 0xff;
        cases.push_back({"JPEG: garbage in the scan", dct, broken, "JPEG"});
        ImageDesc rgb = dct;
        rgb.space = Space::kRGB;
        rgb.components = 3;
        cases.push_back({"JPEG: gray data for an RGB space", rgb, jpeg, "components"});
        ImageDesc after = dct;
        after.filters = {"DCTDecode", "FlateDecode"};
        cases.push_back({"JPEG followed by a filter", after, jpeg, "DCTDecode"});
        // Arithmetic coding spends less than a bit on a flat block, but a
        // few hundred bytes do not hold 40000 x 40000 pixels.
        Bytes huge = jpeg;
        for (size_t i = 0; i + 9 < huge.size(); ++i) {
            if (huge[i] == 0xff && huge[i + 1] == 0xc0) {
                huge[i + 1] = 0xc9;
                huge[i + 5] = huge[i + 7] = 40000 >> 8;
                huge[i + 6] = huge[i + 8] = 40000 & 0xff;
                break;
            }
        }
        cases.push_back({"JPEG: arithmetic coding of more blocks than its bytes hold", dct, huge, "too short"});
    }

    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const Result r = redact(c.desc, c.data, {kWholeImage});
        EXPECT_EQ(r.status, ImageStatus::kDamaged);
        EXPECT_NE(r.reason.find(c.says), std::string::npos) << r.reason;
        EXPECT_TRUE(r.edit.data.empty());
    }
}

// ---- JPEG images ----

// A JPEG with smooth gradients and some texture, so that its blocks have AC
// coefficients to lose.
Bytes make_jpeg(int w, int h, int pixel_format, int subsamp, int quality, int flags) {
    const int n = tjPixelSize[pixel_format];
    Bytes pixels(size_t(w) * h * n);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < n; ++c)
                pixels[(size_t(y) * w + x) * n + c] =
                    static_cast<uint8_t>((x * 5 + y * 3 + c * 70 + ((x * y + c) % 7) * 9) & 255);
    tjhandle handle = tjInitCompress();
    unsigned char *jpeg = nullptr;
    unsigned long size = 0;
    EXPECT_EQ(tjCompress2(handle, pixels.data(), w, 0, h, pixel_format, &jpeg, &size, subsamp,
                          quality, flags),
              0)
        << tjGetErrorStr2(handle);
    Bytes out(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(handle);
    return out;
}

// The component planes of a JPEG, each at its own sampling: every 8x8 block
// decodes on its own there, with no upsampling or colour conversion.
std::vector<Bytes> component_planes(const Bytes &jpeg, int *w, int *h, int *subsamp) {
    tjhandle handle = tjInitDecompress();
    int colorspace = 0;
    EXPECT_EQ(tjDecompressHeader3(handle, jpeg.data(), jpeg.size(), w, h, subsamp, &colorspace), 0);
    const int count = *subsamp == TJSAMP_GRAY ? 1 : 3;
    std::vector<Bytes> planes(count);
    unsigned char *ptrs[3] = {};
    for (int c = 0; c < count; ++c) {
        planes[c].resize(tjPlaneSizeYUV(c, *w, 0, *h, *subsamp));
        ptrs[c] = planes[c].data();
    }
    EXPECT_EQ(tjDecompressToYUVPlanes(handle, jpeg.data(), jpeg.size(), ptrs, *w, nullptr, *h, 0),
              0)
        << tjGetErrorStr2(handle);
    tjDestroy(handle);
    return planes;
}

Bytes decode_pixels(const Bytes &jpeg, int pixel_format) {
    tjhandle handle = tjInitDecompress();
    int w = 0, h = 0, subsamp = 0, colorspace = 0;
    EXPECT_EQ(tjDecompressHeader3(handle, jpeg.data(), jpeg.size(), &w, &h, &subsamp, &colorspace),
              0);
    Bytes out(size_t(w) * h * tjPixelSize[pixel_format]);
    EXPECT_EQ(tjDecompress2(handle, jpeg.data(), jpeg.size(), out.data(), w, 0, h, pixel_format, 0),
              0)
        << tjGetErrorStr2(handle);
    tjDestroy(handle);
    return out;
}

bool contains(const Bytes &data, const std::string &text) {
    const Bytes bytes(text.begin(), text.end());
    return std::search(data.begin(), data.end(), bytes.begin(), bytes.end()) != data.end();
}

TEST(ImageJpeg, CoveredBlocksTurnFlatAndEveryOtherBlockStaysTheSame) {
    const struct {
        const char *what;
        int pixel_format, subsamp, flags;
        std::array<uint8_t, 3> fill;
    } cases[] = {
        {"gray", TJPF_GRAY, TJSAMP_GRAY, 0, {0, 0, 0}},
        {"4:4:4", TJPF_RGB, TJSAMP_444, 0, {200, 40, 90}},
        {"4:2:0", TJPF_RGB, TJSAMP_420, 0, {200, 40, 90}},
        {"4:2:0 progressive", TJPF_RGB, TJSAMP_420, TJFLAG_PROGRESSIVE, {20, 160, 240}},
        {"4:2:2, a white box", TJPF_RGB, TJSAMP_422, 0, {255, 255, 255}},
    };
    // Partial MCUs on the right and at the bottom; the box starts inside a
    // chroma block of 4:2:0 and ends inside a luma block.
    const int w = 75, h = 51;
    const double x0 = 20.0, x1 = 45.5, y0 = 9.0, y1 = 30.0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes jpeg = make_jpeg(w, h, c.pixel_format, c.subsamp, 85, c.flags);
        const ImageDesc desc = c.pixel_format == TJPF_GRAY ? jpeg_desc(w, h, 1, Space::kGray)
                                                            : jpeg_desc(w, h, 3, Space::kRGB);
        const Result r =
            redact(desc, jpeg, {pixel_rect(w, h, x0, y0, x1, y1)}, ImageFill::kColour, c.fill);
        ASSERT_EQ(r.status, ImageStatus::kChanged) << r.reason;
        EXPECT_EQ(r.edit.filters, std::vector<std::string>{"DCTDecode"});
        EXPECT_EQ(contains(r.edit.data, "\xff\xc2"), (c.flags & TJFLAG_PROGRESSIVE) != 0);

        int pw = 0, ph = 0, subsamp = 0;
        const std::vector<Bytes> before = component_planes(jpeg, &pw, &ph, &subsamp);
        const std::vector<Bytes> after = component_planes(r.edit.data, &pw, &ph, &subsamp);
        ASSERT_EQ(pw, w);
        ASSERT_EQ(ph, h);
        const double R = c.fill[0], G = c.fill[1], B = c.fill[2];
        const double levels[3] = {0.299 * R + 0.587 * G + 0.114 * B,
                                  -0.168736 * R - 0.331264 * G + 0.5 * B + 128,
                                  0.5 * R - 0.418688 * G - 0.081312 * B + 128};
        int flat_blocks = 0;
        for (size_t comp = 0; comp < before.size(); ++comp) {
            const int plane_w = tjPlaneWidth(int(comp), w, subsamp);
            const int plane_h = tjPlaneHeight(int(comp), h, subsamp);
            // Pixels per plane sample: 1, or 2 for subsampled chroma.
            const double sx = double(w) / plane_w, sy = double(h) / plane_h;
            const double scale_x = comp == 0 ? 1 : std::round(sx);
            const double scale_y = comp == 0 ? 1 : std::round(sy);
            for (int by = 0; by * 8 < plane_h; ++by) {
                for (int bx = 0; bx * 8 < plane_w; ++bx) {
                    const bool covered = meets(x0, x1, bx * 8 * scale_x, (bx + 1) * 8 * scale_x) &&
                                         meets(y0, y1, by * 8 * scale_y, (by + 1) * 8 * scale_y);
                    flat_blocks += covered;
                    for (int y = by * 8; y < std::min(plane_h, by * 8 + 8); ++y) {
                        for (int x = bx * 8; x < std::min(plane_w, bx * 8 + 8); ++x) {
                            const size_t at = size_t(y) * plane_w + x;
                            if (covered)
                                ASSERT_NEAR(after[comp][at], std::min(255.0, levels[comp]), 2)
                                    << "component " << comp << " block " << bx << "," << by;
                            else
                                ASSERT_EQ(after[comp][at], before[comp][at])
                                    << "component " << comp << " block " << bx << "," << by;
                        }
                    }
                }
            }
        }
        EXPECT_GT(flat_blocks, 6);
        // Seen as pixels, the middle of the box has the box colour.
        const Bytes rgb = decode_pixels(r.edit.data, TJPF_RGB);
        const size_t mid = (size_t(20) * w + 32) * 3;
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(rgb[mid + k], c.fill[k], 4) << k;
    }
}

TEST(ImageJpeg, ColourTransformsFollowTheAdobeMarkerOrColorTransform) {
    const int w = 40, h = 24;
    const double x0 = 8, x1 = 24, y0 = 8, y1 = 16;  // whole blocks at 4:4:4
    auto covered = [&](int x, int y) { return x >= x0 && x < x1 && y >= y0 && y < y1; };

    // CMYK: TurboJPEG writes it as YCCK with an Adobe marker (transform 2).
    // A red box is CMYK (0, 255, 255, 0).
    {
        const Bytes jpeg = make_jpeg(w, h, TJPF_CMYK, TJSAMP_444, 90);
        const ImageDesc desc = jpeg_desc(w, h, 4, Space::kCMYK);
        const Result r = redact(desc, jpeg, {pixel_rect(w, h, x0, y0, x1, y1)});
        ASSERT_EQ(r.status, ImageStatus::kChanged) << r.reason;
        const Bytes before = decode_pixels(jpeg, TJPF_CMYK);
        const Bytes after = decode_pixels(r.edit.data, TJPF_CMYK);
        const int fill[4] = {0, 255, 255, 0};
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int k = 0; k < 4; ++k) {
                    const size_t at = (size_t(y) * w + x) * 4 + k;
                    if (covered(x, y))
                        ASSERT_NEAR(after[at], fill[k], 3) << x << "," << y;
                    else
                        ASSERT_EQ(after[at], before[at]) << x << "," << y;
                }
    }

    // Three components read without a transform (/ColorTransform 0): the new
    // JPEG says so itself with an Adobe marker, and the fill goes in as RGB.
    {
        Bytes jpeg = make_jpeg(w, h, TJPF_RGB, TJSAMP_444, 90);
        ImageDesc desc = jpeg_desc(w, h, 3, Space::kRGB);
        desc.parms.resize(1);
        desc.parms[0].color_transform = 0;
        const Result r = redact(desc, jpeg, {pixel_rect(w, h, x0, y0, x1, y1)}, ImageFill::kColour,
                                {200, 40, 90});
        ASSERT_EQ(r.status, ImageStatus::kChanged) << r.reason;
        EXPECT_TRUE(contains(r.edit.data, std::string("Adobe\0\x64\0\0\0\0\0", 12)));
        int pw = 0, ph = 0, subsamp = 0;
        const std::vector<Bytes> planes = component_planes(jpeg, &pw, &ph, &subsamp);
        const Bytes after = decode_pixels(r.edit.data, TJPF_RGB);  // the components as stored
        const int fill[3] = {200, 40, 90};
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int k = 0; k < 3; ++k) {
                    const size_t at = size_t(y) * w + x;
                    if (covered(x, y))
                        ASSERT_NEAR(after[at * 3 + k], fill[k], 2);
                    else
                        ASSERT_EQ(after[at * 3 + k], planes[k][at]) << x << "," << y;
                }
    }
}

TEST(ImageJpeg, MarkersThatCanHoldTheImageAreLeftOut) {
    const Bytes jpeg = make_jpeg(32, 32, TJPF_GRAY, TJSAMP_GRAY, 90);
    // After SOI: an Exif segment with a thumbnail and a comment.
    const char exif_bytes[] = "Exif\0\0THUMBNAIL-OF-THE-WHOLE-PAGE";
    const std::string exif(exif_bytes, sizeof exif_bytes - 1);
    const std::string comment = "scanned by someone, a secret note";
    Bytes marked(jpeg.begin(), jpeg.begin() + 2);
    for (const auto &[marker, text] :
         {std::pair<uint8_t, std::string>{0xe1, exif}, {0xfe, comment}}) {
        marked.push_back(0xff);
        marked.push_back(marker);
        marked.push_back(0);
        marked.push_back(static_cast<uint8_t>(text.size() + 2));
        marked.insert(marked.end(), text.begin(), text.end());
    }
    marked.insert(marked.end(), jpeg.begin() + 2, jpeg.end());
    ImageDesc desc;
    desc.width = 32;
    desc.height = 32;
    desc.filters = {"ASCIIHexDecode", "DCTDecode"};
    const Result r = redact(desc, hex_encode(marked), {pixel_rect(32, 32, 0, 0, 8, 8)});
    ASSERT_EQ(r.status, ImageStatus::kChanged) << r.reason;
    EXPECT_FALSE(contains(r.edit.data, "THUMBNAIL"));
    EXPECT_FALSE(contains(r.edit.data, "secret"));
    EXPECT_NEAR(decode_pixels(r.edit.data, TJPF_GRAY)[0], 76, 2);
}

}  // namespace
