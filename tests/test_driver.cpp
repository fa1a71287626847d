// The redaction driver and match counting: loading and region checks in
// their order, the page and form passes, which old content streams leave the
// output, the numbering of the new content streams, and counting.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "api.h"
#include "document.h"
#include "driver.h"
#include "inkveil.h"
#include "pdf_builder.h"

namespace {

using pdftest::PdfBuilder;
using pdftest::TempFile;
using pdftest::read_file;

// One redaction call on `bytes`; the output, when written, is loaded again.
struct Redaction {
    TempFile input;
    std::string output_path;
    int rc = 0;
    std::string error;
    std::string output;  // the output file's bytes
    Doc doc;             // the output, loaded

    Redaction(const std::string &bytes, const char *search, const std::vector<Region> &regions = {})
        : input(bytes), output_path(input.path + ".out.pdf") {
        rc = apply_redaction(input.c_str(), output_path.c_str(), search,
                             regions.empty() ? nullptr : regions.data(),
                             static_cast<int>(regions.size()), 0, 0, 0);
        error = g_err;
        if (std::filesystem::exists(output_path)) {
            output = read_file(output_path);
            doc_load(output_path.c_str(), doc);
        }
    }
    ~Redaction() {
        std::remove(output_path.c_str());
        doc_free(doc);
    }

    bool has(int32_t num) const { return doc_find_obj(doc, num) != nullptr; }

    // The dictionary text of object `num` in the output.
    std::string dict(int32_t num) const {
        const ObjEntry *e = doc_find_obj(doc, num);
        if (e == nullptr) return "";
        DictText text = obj_dict_text(doc, *e);
        return text ? text.get() : "";
    }

    // The content of page object `page` in the output: the stream its
    // /Contents names.
    std::string page_content(int32_t page) const {
        const std::string d = dict(page);
        const size_t at = d.find("/Contents ");
        return at == std::string::npos ? "" : data(std::atoi(d.c_str() + at + 10));
    }

    // The stream data of object `num` in the output (written uncompressed).
    std::string data(int32_t num) const {
        const ObjEntry *e = doc_find_obj(doc, num);
        if (e == nullptr || e->data_start < 0 || e->data_end < e->data_start) return "";
        return output.substr(static_cast<size_t>(e->data_start),
                             static_cast<size_t>(e->data_end - e->data_start));
    }
};

const char kSecret[] = "BT /F1 12 Tf 100 700 Td (the secret word) Tj ET";

TEST(Driver, LoadingComesBeforeRegionChecks) {
    const Region bad{3, 0, 0, 10, 10};
    EXPECT_EQ(apply_redaction("/nonexistent/in.pdf", "/tmp/out.pdf", nullptr, &bad, 1, 0, 0, 0), 0);
    EXPECT_NE(std::string(g_err).find("/nonexistent/in.pdf"), std::string::npos) << g_err;

    PdfBuilder pdf;
    pdf.pages(2).xref_table("/Root 1 0 R");
    Redaction run(pdf.bytes(), nullptr, {{3, 0, 0, 10, 10}});
    EXPECT_EQ(run.rc, 0);
    EXPECT_EQ(run.error, "page 3 in regions[0] is out of range (document has 2 pages)");
    EXPECT_TRUE(run.output.empty());

    PdfBuilder none;
    none.obj(1, "<< /Type /Catalog >>").xref_table("/Root 1 0 R");
    Redaction empty(none.bytes(), "secret");
    EXPECT_EQ(empty.error, "PDF has no pages: " + empty.input.path);
}

TEST(Driver, ChangedPageGetsOneNewStreamAndLosesAllOldOnes) {
    // 70 streams: every one leaves the output, not only the first 64.
    PdfBuilder pdf;
    std::string contents;
    pdf.obj(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    for (int i = 0; i < 70; ++i) contents += std::to_string(10 + i) + " 0 R ";
    pdf.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents [" + contents +
                   "] >>");
    for (int i = 0; i < 70; ++i)
        pdf.stream(10 + i, "", "BT /F1 12 Tf 100 " + std::to_string(100 + i) + " Td (line " +
                                   std::to_string(i) + " secret) Tj ET",
                   i % 2 == 1);
    pdf.xref_table("/Root 1 0 R");
    Redaction run(pdf.bytes(), "secret");
    ASSERT_EQ(run.rc, 1) << run.error;
    for (int i = 0; i < 70; ++i) EXPECT_FALSE(run.has(10 + i)) << "old stream " << 10 + i;
    EXPECT_NE(run.dict(3).find("/Contents 80 0 R"), std::string::npos) << run.dict(3);
    const std::string content = run.data(80);
    EXPECT_EQ(content.find("secret"), std::string::npos);
    EXPECT_NE(content.find("(line 69       )"), std::string::npos);
}

TEST(Driver, NewStreamsAreNumberedAfterTheHighestInPageOrder) {
    PdfBuilder pdf;
    pdf.obj(1, "<< /Type /Catalog /Pages 2 0 R /Extra 40 0 R >>")
        .obj(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 >>")
        .obj(3, "<< /Type /Page /Parent 2 0 R /Contents 6 0 R >>")
        .obj(4, "<< /Type /Page /Parent 2 0 R /Contents 7 0 R >>")
        .obj(5, "<< /Type /Page /Parent 2 0 R >>")
        .stream(6, "", kSecret)
        .stream(7, "", "BT /F1 12 Tf 100 700 Td (nothing here) Tj ET")
        .obj(40, "(kept)")
        .xref_table("/Root 1 0 R");
    // Pages 1 and 3 change (page 3 has no /Contents: its box alone is its
    // new content); page 2 keeps its stream.
    Redaction run(pdf.bytes(), nullptr, {{3, 50, 50, 20, 20}, {1, 90, 690, 200, 30}});
    ASSERT_EQ(run.rc, 1) << run.error;
    EXPECT_NE(run.dict(3).find("/Contents 41 0 R"), std::string::npos);
    EXPECT_NE(run.dict(4).find("/Contents 7 0 R"), std::string::npos);
    EXPECT_NE(run.dict(5).find("/Contents 42 0 R"), std::string::npos);
    EXPECT_FALSE(run.has(6));
    EXPECT_TRUE(run.has(7));
    EXPECT_TRUE(run.has(40));
    EXPECT_EQ(run.data(42), "\nq\n0.0000 0.0000 0.0000 rg\n50.00 50.00 20.00 20.00 re f\nQ\n");
    EXPECT_EQ(run.output.compare(0, 8, "%PDF-1.4"), 0);
}

TEST(Driver, ContentSharedWithAnUnchangedPageStays) {
    PdfBuilder pdf;
    pdf.obj(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .obj(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>")
        .obj(3, "<< /Type /Page /Parent 2 0 R /Contents 5 0 R >>")
        .obj(4, "<< /Type /Page /Parent 2 0 R /Contents 5 0 R >>")
        .stream(5, "", kSecret)
        .xref_table("/Root 1 0 R");
    Redaction run(pdf.bytes(), nullptr, {{1, 90, 690, 200, 30}});
    ASSERT_EQ(run.rc, 1) << run.error;
    EXPECT_NE(run.dict(3).find("/Contents 6 0 R"), std::string::npos);
    EXPECT_NE(run.dict(4).find("/Contents 5 0 R"), std::string::npos);
    EXPECT_NE(run.data(5).find("the secret word"), std::string::npos);
    EXPECT_EQ(run.data(6).find("secret"), std::string::npos);
}

TEST(Driver, OnlyContentStreamsLeaveWithTheOldContent) {
    // Page 1's /Contents also names page 2 (a damaged file): rewriting page 1
    // must not take page 2 out of the output.
    PdfBuilder pdf;
    pdf.obj(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .obj(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>")
        .obj(3, "<< /Type /Page /Parent 2 0 R /Contents [5 0 R 4 0 R] >>")
        .obj(4, "<< /Type /Page /Parent 2 0 R /Contents 6 0 R >>")
        .stream(5, "", kSecret)
        .stream(6, "", "BT /F1 12 Tf 100 700 Td (page two) Tj ET")
        .xref_table("/Root 1 0 R");
    Redaction run(pdf.bytes(), nullptr, {{1, 90, 690, 200, 30}});
    ASSERT_EQ(run.rc, 1) << run.error;
    EXPECT_FALSE(run.has(5));
    EXPECT_TRUE(run.has(4));
    EXPECT_EQ(run.doc.pages.size(), 2u);
}

TEST(Driver, ContentsThroughAnArrayObject) {
    PdfBuilder pdf;
    pdf.obj(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
        .obj(3, "<< /Type /Page /Parent 2 0 R /Contents 9 0 R >>")
        .obj(9, "[5 0 R 6 0 R]")
        .stream(5, "", "BT /F1 12 Tf 100 700 Td (first) Tj ET")
        .stream(6, "", kSecret, true)
        .xref_table("/Root 1 0 R");
    Redaction run(pdf.bytes(), "SECRET");
    ASSERT_EQ(run.rc, 1) << run.error;
    EXPECT_FALSE(run.has(5));
    EXPECT_FALSE(run.has(6));
    EXPECT_FALSE(run.has(9));
    EXPECT_NE(run.dict(3).find("/Contents 10 0 R"), std::string::npos);
    const std::string content = run.data(10);
    EXPECT_NE(content.find("(first)"), std::string::npos);
    EXPECT_NE(content.find("(the        word)"), std::string::npos);
}

TEST(Driver, ThePagesOwnContentsEntryIsRedacted) {
    // An inline annotation's /Contents comes first: the page's own entry is
    // the one drawn, and its compressed text must not survive.
    PdfBuilder pdf;
    pdf.obj(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
        .obj(3, "<< /Type /Page /Parent 2 0 R /Annots [<< /Subtype /Text /Contents (a note) >>] "
                "/Contents 5 0 R >>")
        .stream(5, "", kSecret, true)
        .xref_table("/Root 1 0 R");
    Redaction run(pdf.bytes(), "secret");
    ASSERT_EQ(run.rc, 1) << run.error;
    EXPECT_FALSE(run.has(5));
    EXPECT_NE(run.dict(3).find("/Contents 6 0 R"), std::string::npos) << run.dict(3);
    EXPECT_NE(run.data(6).find("(the        word)"), std::string::npos) << run.data(6);
}

TEST(Driver, AFormOnTwoPagesIsCopiedForThePageWhoseRegionCoversIt) {
    PdfBuilder pdf;
    pdf.obj(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .obj(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 /Resources << /XObject << /Fm0 "
                "7 0 R >> >> >>")
        .obj(3, "<< /Type /Page /Parent 2 0 R /Contents 5 0 R >>")
        .obj(4, "<< /Type /Page /Parent 2 0 R /Contents 6 0 R >>")
        .stream(5, "", "/Fm0 Do")
        .stream(6, "", "/Fm0 Do")
        .stream(7, "/Type /XObject /Subtype /Form /BBox [0 0 612 792]", kSecret, true)
        .xref_table("/Root 1 0 R");
    // The region on page 2 misses the text; the one on page 1 covers it.
    Redaction run(pdf.bytes(), nullptr, {{2, 300, 300, 10, 10}, {1, 123, 690, 35, 30}});
    ASSERT_EQ(run.rc, 1) << run.error;
    // Page 2 still draws the original, compressed as it was.
    EXPECT_NE(run.dict(7).find("/Filter"), std::string::npos);
    EXPECT_EQ(run.page_content(4),
              "q\n/Fm0 Do\nQ\nq\n0.0000 0.0000 0.0000 rg\n300.00 300.00 10.00 10.00 re f\nQ\n");
    // Page 1 draws a copy, object 8, with the glyphs under its region blanked;
    // its own region box is painted on the page, not in the form.
    EXPECT_NE(run.dict(3).find("/IvX8 8 0 R"), std::string::npos) << run.dict(3);
    EXPECT_NE(run.page_content(3).find("/IvX8 Do"), std::string::npos) << run.page_content(3);
    const std::string copy = run.data(8);
    EXPECT_EQ(copy.find("secret"), std::string::npos) << copy;
    EXPECT_NE(copy.find("(the        word) Tj"), std::string::npos) << copy;
    EXPECT_EQ(copy.find(" re f"), std::string::npos) << copy;
}

TEST(Driver, ANeverFoundTextStillSanitises) {
    PdfBuilder pdf;
    pdf.pages(1)
        .obj(9, "<< /Title (Quarterly) /Author (Someone) >>")
        .xref_table("/Root 1 0 R /Info 9 0 R");
    Redaction run(pdf.bytes(), "absent");
    ASSERT_EQ(run.rc, 1) << run.error;
    EXPECT_TRUE(g_err[0] == '\0');
    EXPECT_FALSE(run.has(9));
    EXPECT_EQ(run.output.find("Someone"), std::string::npos);
    EXPECT_TRUE(run.has(3));
}

TEST(Driver, AStreamThatCannotBeDecodedWritesNothing) {
    PdfBuilder pdf;
    pdf.obj(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .obj(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>")
        .obj(3, "<< /Type /Page /Parent 2 0 R /Contents 5 0 R >>")
        .obj(4, "<< /Type /Page /Parent 2 0 R /Contents 6 0 R >>")
        .stream(5, "", kSecret)
        .stream(6, "/Filter /LZWDecode", "whatever")
        .xref_table("/Root 1 0 R");
    const std::string message =
        "the page 2 content stream uses /LZWDecode, which this engine cannot decode — the text "
        "was not redacted";
    Redaction run(pdf.bytes(), "secret");
    EXPECT_EQ(run.rc, 0);
    EXPECT_EQ(run.error, message);
    EXPECT_TRUE(run.output.empty());

    TempFile file(pdf.bytes());
    EXPECT_EQ(count_matches(file.c_str(), "secret"), -1);
    EXPECT_EQ(std::string(g_err), message);
}

TEST(Driver, NamedPropertyListsLoseTheAlternateTextOfRedactedGlyphs) {
    PdfBuilder pdf;
    pdf.obj(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
        .obj(3, "<< /Type /Page /Parent 2 0 R /Contents 4 0 R /Resources << /Properties << "
                "/MC0 5 0 R /MC1 6 0 R >> >> >>")
        .stream(4, "", "/Span /MC0 BDC BT 100 700 Td <0102> Tj ET EMC /Span /MC1 BDC BT (kept) Tj ET EMC")
        .obj(5, "<< /ActualText (a Secret) /Alt (more) /Lang (en) >>")
        .obj(6, "<< /ActualText (other) >>")
        .xref_table("/Root 1 0 R");
    Redaction run(pdf.bytes(), "secret");
    ASSERT_EQ(run.rc, 1) << run.error;
    const std::string props = run.dict(5);
    EXPECT_EQ(props.find("Secret"), std::string::npos) << props;
    EXPECT_EQ(props.find("more"), std::string::npos) << props;
    EXPECT_NE(props.find("/Lang"), std::string::npos) << props;
    EXPECT_NE(run.dict(6).find("(other)"), std::string::npos);
}

TEST(Count, PagesAndFormsEachFormOnce) {
    PdfBuilder pdf;
    // The document information and a bookmark hold the text too: neither
    // counts.
    pdf.obj(1, "<< /Type /Catalog /Pages 2 0 R /Outlines 11 0 R >>")
        .obj(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 >>")
        .obj(3, "<< /Type /Page /Parent 2 0 R /Contents 6 0 R >>")
        .obj(4, "<< /Type /Page /Parent 2 0 R /Contents 7 0 R /Resources 9 0 R >>")
        .obj(5, "<< /Type /Page /Parent 2 0 R /Contents 7 0 R /Resources 9 0 R >>")
        .stream(6, "", "BT /F1 12 Tf (Secret) Tj ET BT [(sec) -20 (ret)] TJ ET")
        .stream(7, "", "/Fm0 Do")
        .stream(8, "/Subtype /Form", "BT (a secret) Tj ET", true)
        .obj(9, "<< /XObject << /Fm0 8 0 R >> >>")
        .obj(10, "<< /Title (secret) >>")
        .obj(11, "<< /Type /Outlines /First 12 0 R /Last 12 0 R /Count 1 >>")
        .obj(12, "<< /Title (the secret chapter) /Parent 11 0 R /Dest [3 0 R /Fit] >>")
        .xref_table("/Root 1 0 R /Info 10 0 R");
    TempFile file(pdf.bytes());
    std::snprintf(g_err, sizeof g_err, "an earlier failure");
    EXPECT_EQ(inkveil_count_matches(file.c_str(), "SECRET"), 3);
    EXPECT_STREQ(inkveil_last_error(), "");
    // Text that lives only in the document information is not counted.
    EXPECT_EQ(inkveil_count_matches(file.c_str(), "Title"), 0);
}

}  // namespace
