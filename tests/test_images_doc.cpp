// Images under redaction boxes, end to end: which image and mask pixels a
// redaction call fills, where the image is drawn (scaled, moved, rotated,
// inline, in a form, on two pages), and the encodings it refuses.
#include <gtest/gtest.h>
#include <turbojpeg.h>
#include <zlib.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "api.h"
#include "document.h"
#include "driver.h"
#include "pdf_builder.h"
#include "pdfobj.h"
#include "walk.h"

namespace {

using pdftest::PdfBuilder;
using pdftest::TempFile;
using pdftest::zlib_compress;

// A gray image of w x h whose pixel (x, y) (y = 0 the top row) is 10 + (x + 3y) % 200.
std::string gray_pixels(int w, int h) {
    std::string p(static_cast<size_t>(w * h), '\0');
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) p[static_cast<size_t>(y * w + x)] = static_cast<char>(10 + (x + 3 * y) % 200);
    return p;
}

// The rows with a PNG "Up" filter byte in front of each, as predictor 12 writes them.
std::string png_up(const std::string &pixels, int row_bytes) {
    std::string out;
    const size_t rows = pixels.size() / static_cast<size_t>(row_bytes);
    for (size_t r = 0; r < rows; ++r) {
        out += '\x02';
        for (int i = 0; i < row_bytes; ++i) {
            const unsigned char above = r == 0 ? 0 : static_cast<unsigned char>(pixels[(r - 1) * row_bytes + i]);
            out += static_cast<char>(static_cast<unsigned char>(pixels[r * row_bytes + i]) - above);
        }
    }
    return out;
}

std::string inflate_all(const std::string &data) {
    std::string out(1 << 22, '\0');
    uLongf len = out.size();
    EXPECT_EQ(uncompress(reinterpret_cast<Bytef *>(out.data()), &len,
                         reinterpret_cast<const Bytef *>(data.data()), data.size()),
              Z_OK);
    out.resize(len);
    return out;
}

// One redaction call, and its output loaded.
struct RedactedFile {
    TempFile input;
    std::string output_path;
    int rc = 0;
    std::string error;
    Doc doc;

    RedactedFile(const std::string &bytes, const char *search, const std::vector<Region> &regions, int red = 0,
        int green = 0, int blue = 0)
        : input(bytes), output_path(input.path + ".out.pdf") {
        rc = apply_redaction(input.c_str(), output_path.c_str(), search,
                             regions.empty() ? nullptr : regions.data(), static_cast<int>(regions.size()),
                             red, green, blue);
        error = g_err;
        if (rc == 1) doc_load(output_path.c_str(), doc);
    }
    ~RedactedFile() {
        std::remove(output_path.c_str());
        doc_free(doc);
    }

    // The object that name `name` in the XObject resources of page `page` (1-based) stands for.
    int32_t xobject(int page, const std::string &name) const {
        const PdfObj res = page_resources(doc, doc.pages.at(static_cast<size_t>(page - 1)).num);
        const PdfObj xobjects = doc_get(doc, res, "XObject");
        const PdfObj *ref = pdfobj_get(xobjects, name);
        return ref != nullptr && ref->kind == ObjKind::kRef ? static_cast<int32_t>(ref->num) : 0;
    }
    // The decoded data of stream `num` (Flate or none).
    std::string data(int32_t num) const {
        std::string out;
        bool missing = false;
        doc_stream_data(doc, num, "test", out, &missing);
        return out;
    }
    std::string raw(int32_t num) const {
        const ObjEntry *e = doc_find_obj(doc, num);
        return e == nullptr ? "" : std::string(doc.data.begin() + e->data_start, doc.data.begin() + e->data_end);
    }
    // The object that the first renamed Do of page `page` draws, or 0.
    int32_t copy_drawn(int page) const {
        const std::string c = content(page);
        const size_t at = c.find("/IvX");
        if (at == std::string::npos) return 0;
        size_t end = at + 1;
        while (end < c.size() && (std::isalnum(static_cast<unsigned char>(c[end])) || c[end] == '_')) ++end;
        return xobject(page, c.substr(at + 1, end - at - 1));
    }
    std::string content(int page) const {
        std::string out;
        bool missing = false;
        const PdfObj p = doc_object(doc, doc.pages.at(static_cast<size_t>(page - 1)).num);
        const PdfObj *c = pdfobj_get(p, "Contents");
        doc_stream_data(doc, c != nullptr ? static_cast<int32_t>(c->num) : 0, "test", out, &missing);
        return out;
    }
};

// A one-page document drawing `image` (object 10, dictionary `entries`) with `content`.
std::string image_pdf(const std::string &content, const std::string &entries, const std::string &data,
                      const std::string &more_resources = "", int pages = 1) {
    PdfBuilder pdf;
    std::string kids;
    for (int i = 0; i < pages; ++i) kids += std::to_string(3 + i) + " 0 R ";
    pdf.obj(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .obj(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
    for (int i = 0; i < pages; ++i)
        pdf.obj(3 + i, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /XObject << /Im0 "
                       "10 0 R " + more_resources + " >> >> /Contents 9 0 R >>");
    pdf.stream(9, "", content).stream(10, "/Type /XObject /Subtype /Image " + entries, data);
    return pdf.bytes();
}

// Pixel (x, y) is covered by the box [x0, x1) x [y0, y1) of rows counted from the top.
bool inside(int x, int y, int x0, int y0, int x1, int y1) { return x >= x0 && x < x1 && y >= y0 && y < y1; }

TEST(ImagesInDocuments, AGrayFlateImageWithAPredictorLosesTheCoveredPixelsOnly) {
    const int w = 40, h = 30;
    const std::string pixels = gray_pixels(w, h);
    // Drawn 1 unit per pixel with its lower-left corner at (100, 500): pixel
    // row r spans y 529 - r .. 530 - r.
    const std::string pdf = image_pdf("q 40 0 0 30 100 500 cm /Im0 Do Q",
                                      "/Width 40 /Height 30 /ColorSpace /DeviceGray /BitsPerComponent 8 "
                                      "/Filter /FlateDecode /DecodeParms << /Predictor 12 /Columns 40 >>",
                                      zlib_compress(png_up(pixels, w)));
    // The region covers x 110..120, y 510..520: columns 10..19, rows 10..19.
    RedactedFile run(pdf, nullptr, {{1, 110, 510, 10, 10}});
    ASSERT_EQ(run.rc, 1) << run.error;
    const int32_t copy = run.copy_drawn(1);
    ASSERT_GT(copy, 10) << run.content(1);
    // The original, with the covered pixels, is not drawn any more: its
    // name leaves the page's resources and nothing else names it.
    EXPECT_EQ(run.xobject(1, "Im0"), 0);
    EXPECT_EQ(doc_find_obj(run.doc, 10), nullptr);
    const std::string out = run.data(copy);
    ASSERT_EQ(out.size(), pixels.size());
    int filled = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = static_cast<size_t>(y * w + x);
            if (inside(x, y, 10, 10, 20, 20)) {
                EXPECT_EQ(out[i], 0) << x << "," << y;
                ++filled;
            } else {
                EXPECT_EQ(out[i], pixels[i]) << x << "," << y;
            }
        }
    EXPECT_EQ(filled, 100);
}

TEST(ImagesInDocuments, AnRgbImageAndItsSoftMaskUnderARotatedPlacement) {
    const int w = 20, h = 20;
    std::string rgb(static_cast<size_t>(w * h * 3), '\x80');
    const std::string mask(static_cast<size_t>(w * h), '\x00');  // fully transparent
    PdfBuilder pdf;
    pdf.obj(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
        .obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /XObject << /Im0 10 0 R "
                ">> >> /Contents 9 0 R >>")
        // Rotated by 90 degrees: the image's unit square maps to x 100..120, y 100..120.
        .stream(9, "", "q 0 20 -20 0 120 100 cm /Im0 Do Q")
        .stream(10, "/Type /XObject /Subtype /Image /Width 20 /Height 20 /ColorSpace /DeviceRGB "
                    "/BitsPerComponent 8 /SMask 11 0 R",
                rgb, true)
        .stream(11, "/Type /XObject /Subtype /Image /Width 20 /Height 20 /ColorSpace /DeviceGray "
                    "/BitsPerComponent 8",
                mask, true)
        .xref_table("/Root 1 0 R");
    // The region covers the page's lower half of the image: y 100..110.
    RedactedFile run(pdf.bytes(), nullptr, {{1, 100, 100, 20, 10}}, 255, 0, 0);
    ASSERT_EQ(run.rc, 1) << run.error;
    const int32_t copy = run.copy_drawn(1);
    ASSERT_GT(copy, 11) << run.content(1);
    const PdfObj dict = doc_object(run.doc, copy);
    const PdfObj *smask = pdfobj_get(dict, "SMask");
    ASSERT_NE(smask, nullptr);
    ASSERT_NE(smask->num, 11);  // the mask is a copy too
    const std::string out = run.data(copy), m = run.data(static_cast<int32_t>(smask->num));
    // Rotated 90 degrees counter-clockwise: page y 100..110 is the image's
    // columns 0..9 (u from 0 to 0.5 runs along page y).
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = static_cast<size_t>(y * w + x);
            const bool covered = x < 10;
            EXPECT_EQ(static_cast<unsigned char>(out[3 * i]), covered ? 255 : 0x80) << x << "," << y;
            EXPECT_EQ(static_cast<unsigned char>(out[3 * i + 1]), covered ? 0 : 0x80) << x << "," << y;
            EXPECT_EQ(static_cast<unsigned char>(m[i]), covered ? 255 : 0) << x << "," << y;
        }
}

TEST(ImagesInDocuments, IndexedAndInlineImages) {
    // An indexed image: black is palette entry 2.
    const std::string indexed = image_pdf("q 4 0 0 4 0 0 cm /Im0 Do Q",
                                          "/Width 4 /Height 4 /BitsPerComponent 8 /ColorSpace [/Indexed "
                                          "/DeviceRGB 2 <FFFFFF 808080 000000>]",
                                          std::string(16, '\x01'));
    RedactedFile a(indexed, nullptr, {{1, 0, 0, 2, 4}});
    ASSERT_EQ(a.rc, 1) << a.error;
    const std::string out = a.data(a.copy_drawn(1));
    ASSERT_EQ(out.size(), 16u);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(out[static_cast<size_t>(i)], i % 4 < 2 ? 2 : 1) << i;
    // An inline image: rewritten in the content, in hex, Flate inside.
    const std::string inline_pdf = image_pdf("q 4 0 0 4 0 0 cm BI /W 4 /H 4 /CS /G /BPC 8 ID " +
                                                 std::string(16, '\x77') + " EI Q",
                                             "/Width 1 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8",
                                             "x");
    RedactedFile b(inline_pdf, nullptr, {{1, 0, 0, 2, 4}});
    ASSERT_EQ(b.rc, 1) << b.error;
    const std::string content = b.content(1);
    const size_t id = content.find("/F [/AHx /Fl] ID\n");
    ASSERT_NE(id, std::string::npos) << content;
    const size_t end = content.find('>', id);
    std::string bytes;
    for (size_t i = id + 17; i + 1 < end; i += 2) {
        if (content[i] == '\n') --i;
        else bytes += static_cast<char>(std::stoi(content.substr(i, 2), nullptr, 16));
    }
    const std::string pixels = inflate_all(bytes);
    ASSERT_EQ(pixels.size(), 16u);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(static_cast<unsigned char>(pixels[static_cast<size_t>(i)]), i % 4 < 2 ? 0 : 0x77) << i;
}

TEST(ImagesInDocuments, AnImageOnTwoPagesIsCopiedWhereABoxCoversItOnly) {
    const std::string pdf = image_pdf("q 10 0 0 10 0 0 cm /Im0 Do Q",
                                      "/Width 2 /Height 2 /ColorSpace /DeviceGray /BitsPerComponent 8", "\x11\x22\x33\x44",
                                      "", 2);
    RedactedFile run(pdf, nullptr, {{2, 0, 0, 5, 10}});
    ASSERT_EQ(run.rc, 1) << run.error;
    EXPECT_EQ(run.xobject(1, "Im0"), 10);
    EXPECT_EQ(run.raw(10), "\x11\x22\x33\x44");  // copied byte for byte
    EXPECT_NE(run.content(2).find("/IvX"), std::string::npos) << run.content(2);
    EXPECT_EQ(run.content(1).find("/IvX"), std::string::npos) << run.content(1);
}

TEST(ImagesInDocuments, AnOriginalThatNoPageDrawsAsItselfIsWrittenAsItsCopy) {
    // Both pages share resources that name the image; only page 1 draws it,
    // under a box. Its original would still be in the file through page 2's
    // resources, with the covered pixels; it is also page 2's soft mask of
    // another image, which must not lose it.
    PdfBuilder pdf;
    pdf.obj(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .obj(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>")
        .obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources 5 0 R /Contents 6 0 R >>")
        .obj(4, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /XObject << /Im1 11 0 R >> >> "
                "/Contents 7 0 R >>")
        .obj(5, "<< /XObject << /Im0 10 0 R >> >>")
        .stream(6, "", "q 10 0 0 10 0 0 cm /Im0 Do Q")
        .stream(7, "", "q 10 0 0 10 300 300 cm /Im1 Do Q")
        .stream(10, "/Type /XObject /Subtype /Image /Width 2 /Height 2 /ColorSpace /DeviceGray /BitsPerComponent 8",
                "\x11\x22\x33\x44")
        .stream(11, "/Type /XObject /Subtype /Image /Width 2 /Height 2 /ColorSpace /DeviceGray /BitsPerComponent 8 "
                    "/SMask 10 0 R",
                "\x55\x66\x77\x88")
        .xref_table("/Root 1 0 R");
    RedactedFile run(pdf.bytes(), nullptr, {{1, 0, 0, 5, 5}});
    ASSERT_EQ(run.rc, 1) << run.error;
    const int32_t copy = run.copy_drawn(1);
    EXPECT_GT(copy, 11);
    EXPECT_EQ(run.data(10), run.data(copy));
    EXPECT_EQ(run.data(10).size(), 4u);
    EXPECT_NE(run.data(10), "\x11\x22\x33\x44");
    EXPECT_EQ(run.raw(11), "\x55\x66\x77\x88");
    EXPECT_EQ(run.doc.pages.size(), 2u);
}

TEST(ImagesInDocuments, CoveredPixelsLeaveTheFileWhateverRouteNamesTheImage) {
    // Image 10 (100 bytes of 'Z', unfiltered) and form 11 that draws it,
    // with the word "hello" over it. Whatever else names them, the written
    // file must not hold the covered pixels as they were, and an image that
    // an uncovered showing still draws must stay.
    const std::string pixels(100, 'Z');
    const std::string image = "/Type /XObject /Subtype /Image /Width 10 /Height 10 /ColorSpace /DeviceGray "
                              "/BitsPerComponent 8";
    const std::string form = "/Type /XObject /Subtype /Form /BBox [0 0 612 792] /Resources << /XObject << /X 10 0 R "
                             ">> /Font << /F1 12 0 R >> >>";
    struct Case {
        const char *name;
        std::string page1, page2;        // resources and content of each page
        const char *search;              // or the region below
        Region region;
        bool original_stays;             // an uncovered showing draws the original
    };
    const Case cases[] = {
        // Page 1 names the form before page 2 draws it; the match is in it.
        {"named before drawn", "/Resources << /XObject << /F 11 0 R >> >> /Contents 5 0 R",
         "/Resources << /XObject << /F 11 0 R >> >> /Contents 6 0 R", "hello", {}, false},
        // The page names the form and the image and draws only the form.
        {"named beside its form", "/Resources << /XObject << /F 11 0 R /X 10 0 R >> >> /Contents 6 0 R",
         "/Resources << >> /Contents 5 0 R", nullptr, {1, 0, 0, 400, 400}, false},
        // A form without resources of its own draws the image again,
        // uncovered, through the page's.
        {"inherited resources", "/Resources << /XObject << /X 10 0 R /G 13 0 R >> >> /Contents 7 0 R",
         "/Resources << >> /Contents 5 0 R", nullptr, {1, 0, 0, 50, 50}, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PdfBuilder pdf;
        pdf.obj(1, "<< /Type /Catalog /Pages 2 0 R >>")
            .obj(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>")
            .obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] " + c.page1 + " >>")
            .obj(4, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] " + c.page2 + " >>")
            .stream(5, "", "0 0 1 1 re f")
            .stream(6, "", "/F Do")
            .stream(7, "", "q 100 0 0 100 0 0 cm /X Do Q /G Do")
            .stream(10, image, pixels)
            .stream(11, form, "q 100 0 0 100 0 0 cm /X Do Q BT /F1 12 Tf 10 10 Td (hello) Tj ET")
            .obj(12, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>")
            .stream(13, "/Type /XObject /Subtype /Form /BBox [0 0 612 792]", "q 100 0 0 100 250 250 cm /X Do Q")
            .xref_table("/Root 1 0 R");
        RedactedFile run(pdf.bytes(), c.search, c.search != nullptr ? std::vector<Region>{} : std::vector<Region>{c.region});
        ASSERT_EQ(run.rc, 1) << run.error;
        const std::string out(run.doc.data.begin(), run.doc.data.end());
        EXPECT_EQ(out.find(pixels) != std::string::npos, c.original_stays);
        if (c.original_stays) {
            EXPECT_NE(run.content(1).find("/IvX"), std::string::npos) << run.content(1);
        }
    }
}

TEST(ImagesInDocuments, EncodingsTheEngineCannotRewriteAreRefusedUnderABoxOnly) {
    const std::string pdf = image_pdf("q 100 0 0 100 0 0 cm /Im0 Do Q",
                                      "/Width 100 /Height 100 /ColorSpace /DeviceGray /BitsPerComponent 1 "
                                      "/Filter /JBIG2Decode",
                                      "not really jbig2");
    RedactedFile covered(pdf, nullptr, {{1, 10, 10, 20, 20}});
    EXPECT_EQ(covered.rc, 0);
    EXPECT_EQ(covered.error, "the image (object 10) under a redaction box uses /JBIG2Decode, which this "
                             "engine cannot redact \xE2\x80\x94 nothing written");
    EXPECT_FALSE(std::filesystem::exists(covered.output_path));
    // A box elsewhere, or one that only touches the image's edge within half
    // a pixel, leaves it as it was.
    for (const Region &r : {Region{1, 300, 300, 10, 10}, Region{1, 99.7f, 20, 30, 10}}) {
        RedactedFile away(pdf, nullptr, {r});
        ASSERT_EQ(away.rc, 1) << away.error;
        EXPECT_EQ(away.raw(10), "not really jbig2");
    }
}

TEST(ImagesInDocuments, CountingReadsTheTextOverAnImageItCouldNotRewrite) {
    // A JBIG2 scan with an invisible OCR layer: redacting the word fails on
    // the image under its box; counting writes nothing and counts it.
    const std::string pdf = image_pdf("q 100 0 0 100 0 0 cm /Im0 Do Q BT 3 Tr /F1 10 Tf 20 20 Td (Secret) Tj ET",
                                      "/Width 100 /Height 100 /ColorSpace /DeviceGray /BitsPerComponent 1 "
                                      "/Filter /JBIG2Decode",
                                      "not really jbig2");
    RedactedFile run(pdf, "secret", {});
    EXPECT_EQ(run.rc, 0);
    EXPECT_NE(run.error.find("/JBIG2Decode"), std::string::npos) << run.error;
    EXPECT_EQ(count_matches(run.input.c_str(), "secret"), 1) << g_err;
}

TEST(ImagesInDocuments, AScanWithAnInvisibleTextLayerLosesTheWordInBoth) {
    // A 200 x 100 gray JPEG drawn over 200 x 100 units, and an invisible
    // "Secret" over its pixels 40..76 wide, as OCR writes it.
    const int w = 200, h = 100;
    std::vector<unsigned char> pixels(static_cast<size_t>(w * h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) pixels[static_cast<size_t>(y * w + x)] = static_cast<unsigned char>((x * 7 + y * 3) % 256);
    tjhandle tj = tjInitCompress();
    unsigned char *jpeg = nullptr;
    unsigned long jpeg_size = 0;
    ASSERT_EQ(tjCompress2(tj, pixels.data(), w, 0, h, TJPF_GRAY, &jpeg, &jpeg_size, TJSAMP_GRAY, 90, 0), 0);
    const std::string jpeg_data(reinterpret_cast<char *>(jpeg), jpeg_size);
    tjFree(jpeg);
    tjDestroy(tj);
    PdfBuilder pdf;
    pdf.obj(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
        .obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /XObject << /Im0 10 0 R >> "
                "/Font << /F1 11 0 R >> >> /Contents 9 0 R >>")
        .stream(9, "", "q 200 0 0 100 0 0 cm /Im0 Do Q BT 3 Tr /F1 10 Tf 40 40 Td (Secret) Tj ET")
        .stream(10, "/Type /XObject /Subtype /Image /Width 200 /Height 100 /ColorSpace /DeviceGray "
                    "/BitsPerComponent 8 /Filter /DCTDecode",
                jpeg_data)
        .obj(11, "<< /Type /Font /Subtype /Type1 /BaseFont /Courier >>")
        .xref_table("/Root 1 0 R");
    RedactedFile run(pdf.bytes(), "secret", {});
    ASSERT_EQ(run.rc, 1) << run.error;
    const int32_t copy = run.copy_drawn(1);
    ASSERT_GT(copy, 11) << run.content(1);
    const std::string out = run.raw(copy);
    // Decoded, the blocks the word's box meets are flat black; every other
    // block decodes exactly as before.
    auto decode = [](const std::string &data) {
        std::vector<unsigned char> px(static_cast<size_t>(200 * 100));
        tjhandle d = tjInitDecompress();
        EXPECT_EQ(tjDecompress2(d, reinterpret_cast<const unsigned char *>(data.data()), data.size(), px.data(),
                                200, 0, 100, TJPF_GRAY, 0),
                  0);
        tjDestroy(d);
        return px;
    };
    const auto before = decode(jpeg_data), after = decode(out);
    // The box: x 39..77, y 36.5..50 in page space, so image rows 50..64 and
    // columns 39..77, widened to 8 x 8 blocks: rows 48..64, columns 32..80.
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = static_cast<size_t>(y * w + x);
            if (inside(x, y, 40, 50, 76, 63)) {
                EXPECT_LE(after[i], 2) << x << "," << y;
            } else if (!inside(x, y, 32, 48, 80, 64)) {
                EXPECT_EQ(after[i], before[i]) << x << "," << y;
            }
        }
    EXPECT_EQ(run.content(1).find("Secret"), std::string::npos);
}

}  // namespace
