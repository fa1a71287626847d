// The document walk: the forms each page draws (placed by the CTM at their Do
// and their /Matrix), nested at any depth, and the appearance streams of the
// page's annotations; each form rewritten once for its text, and copied for
// the showings that a region covers.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "api.h"
#include "content.h"
#include "forms.h"
#include "pdf_builder.h"
#include "walk.h"

namespace {

using pdftest::PdfBuilder;

constexpr const char *kSecret = "BT /F1 12 Tf 100 700 Td (Secret) Tj ET";
constexpr const char *kForm = "/Type /XObject /Subtype /Form /BBox [0 0 612 792]";

// A catalog, a page tree with `pages_entries`, and pages 3, 4, ... with the
// given extra entries.
PdfBuilder pages(const std::vector<std::string> &page_entries, const std::string &pages_entries = "") {
    std::string kids;
    for (size_t i = 0; i < page_entries.size(); ++i) kids += std::to_string(3 + i) + " 0 R ";
    PdfBuilder pdf;
    pdf.obj(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .obj(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(page_entries.size()) +
                    " " + pages_entries + " >>");
    for (size_t i = 0; i < page_entries.size(); ++i)
        pdf.obj(static_cast<int>(3 + i),
                "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] " + page_entries[i] + " >>");
    return pdf;
}

// One walk over a document.
struct WalkRun {
    Doc doc;
    WalkResult result;
    int rc = 0;
    std::string error;

    WalkRun(const PdfBuilder &pdf, const char *search, const std::vector<Region> &regions = {}) {
        const pdftest::TempFile file = pdf.file();
        EXPECT_EQ(doc_load(file.c_str(), doc), 0) << g_err;
        SearchSet set;
        RedactJob job;
        if (search != nullptr && search_set_add(set, search)) job.search = &set;
        search_set_build(set);
        job.regions = regions.empty() ? nullptr : regions.data();
        job.region_count = static_cast<int>(regions.size());
        clear_error();
        rc = walk_document(doc, job, WalkMode::kRedact, doc.max_obj_num, result);
        error = g_err;
    }
    ~WalkRun() { doc_free(doc); }

    std::string form(int num) const {
        const Buf &b = result.forms[static_cast<size_t>(num)];
        return b.data ? std::string(reinterpret_cast<const char *>(b.data.get()), b.len) : "";
    }
    bool painted(int num) const { return !form(num).empty(); }
    std::string page(size_t index) const {
        const Buf &b = result.page_content[index];
        return b.data ? std::string(reinterpret_cast<const char *>(b.data.get()), b.len) : "";
    }
    bool file_has(const std::string &text) const {
        return std::string(doc.data.begin(), doc.data.end()).find(text) != std::string::npos;
    }
};

std::vector<int32_t> annots_of(const Doc &doc, int32_t num) {
    std::vector<int32_t> out = {-1};
    const ObjEntry *entry = doc_find_obj(doc, num);
    EXPECT_NE(entry, nullptr);
    if (entry == nullptr) return out;
    const int32_t added = collect_refs_in_array(doc, *entry, out);
    EXPECT_EQ(added, static_cast<int32_t>(out.size()) - 1);
    out.erase(out.begin());
    return out;
}

TEST(WalkCollect, AnnotationReferences) {
    std::string many;
    std::vector<int32_t> many_nums;
    for (int n = 1; n <= 300; ++n) {
        many += std::to_string(n) + " 0 R ";
        many_nums.push_back(n);
    }
    struct Case {
        std::string entries;  // the page's entries
        std::vector<int32_t> expected;
    };
    const Case cases[] = {
        {"/Annots [4 0 R 5 0 R]", {4, 5}},
        {"/Annots 20 0 R", {4, 5}},
        {"/Annots 21 0 R", {4, 6}},
        {"/Annots [4 0 R 0 0 R 6 0 R]", {4, 6}},
        {"/Annots [" + many + "]", many_nums},
        {"/Annots 22 0 R", many_nums},
        // References inside an inline dictionary are not annotations.
        {"/Annots [<< /Subtype /Link /P 3 0 R >> 7 0 R]", {7}},
        // Only the page's own /Annots entries count, every copy included.
        {"/PieceInfo << /X << /Annots [8 0 R] >> >> /Annots [7 0 R]", {7}},
        {"/Annots [7 0 R] /Annots 20 0 R", {7, 4, 5}},
        {"/Annots []", {}},
        {"/Annots 23 0 R", {}},
        {"/Annots 99 0 R", {}},
        {"", {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.entries);
        PdfBuilder pdf = pages({c.entries});
        pdf.obj(20, "[4 0 R 5 0 R]")
            .obj(22, "[" + many + "]")
            .obj(23, "<< /Annots [4 0 R] >>")
            .object_stream(30, {{21, "[4 0 R 6 0 R]"}})
            .xref_stream(31, "/Root 1 0 R");
        const pdftest::TempFile file = pdf.file();
        Doc doc;
        ASSERT_EQ(doc_load(file.c_str(), doc), 0) << g_err;
        EXPECT_EQ(annots_of(doc, 3), c.expected);
        doc_free(doc);
    }
}

TEST(WalkForms, FormsOfThePageResources) {
    PdfBuilder pdf = pages({"/Resources << /XObject << /Fm0 10 0 R /Fm1 11 0 R /Fm2 12 0 R "
                            "/Im0 13 0 R >> >> /Contents 5 0 R"});
    pdf.stream(5, "", "/Fm0 Do /Fm1 Do /Fm2 Do /Im0 Do")
        .stream(10, kForm, kSecret)
        .stream(11, kForm, "BT /F1 12 Tf 100 700 Td (a secret) Tj ET", true)
        .stream(12, kForm, "BT (nothing here) Tj ET")
        .stream(13, "/Type /XObject /Subtype /Image /Width 1 /Height 1", kSecret)
        .xref_table("/Root 1 0 R");
    WalkRun run(pdf, "secret");
    ASSERT_EQ(run.rc, 1) << run.error;
    EXPECT_EQ(run.form(10), "q\nBT /F1 12 Tf 100 700 Td (      ) Tj ET\nQ\nq\n0.0000 0.0000 0.0000 rg\n"
                            "99.00 696.00 38.00 15.80 re f\nQ\n");
    EXPECT_NE(run.form(11).find("(a       )"), std::string::npos);
    EXPECT_FALSE(run.painted(12));
    EXPECT_FALSE(run.painted(13));  // an image is no form
    EXPECT_EQ(run.result.matches, 2);
    EXPECT_FALSE(run.result.page_changed[0]);  // the page's own content is unchanged
    // The loaded file is never written to.
    EXPECT_TRUE(run.file_has("Td (Secret) Tj"));
}

TEST(WalkForms, FormsTheResourcesNameButNothingDraws) {
    // Fm0 is named by the page and Fm1 only by Fm0's resources; nothing
    // draws either, but both are in the file, and their text goes too.
    PdfBuilder pdf = pages({"/Resources << /XObject << /Fm0 10 0 R >> >> /Contents 5 0 R"});
    pdf.stream(5, "", "BT (nothing here) Tj ET")
        .stream(10, std::string(kForm) + " /Resources << /XObject << /Fm1 11 0 R >> >>", kSecret, true)
        .stream(11, kForm, "BT /F1 12 Tf 100 700 Td (a secret) Tj ET", true)
        .xref_table("/Root 1 0 R");
    WalkRun run(pdf, "secret");
    ASSERT_EQ(run.rc, 1) << run.error;
    EXPECT_NE(run.form(10).find("(      )"), std::string::npos) << run.form(10);
    EXPECT_NE(run.form(11).find("(a       )"), std::string::npos) << run.form(11);
    EXPECT_EQ(run.result.matches, 2);
    // A region has no place on a form that is not drawn.
    WalkRun region(pdf, nullptr, {{1, 0, 0, 612, 792}});
    ASSERT_EQ(region.rc, 1) << region.error;
    EXPECT_FALSE(region.painted(10));
    EXPECT_FALSE(region.painted(11));
}

TEST(WalkForms, NestingOfAnyDepthAndCycles) {
    // Forms 10..2010 each draw the next: every one is redacted, however deep.
    // 3000 and 3001 draw each other and themselves.
    constexpr int kLast = 2010;
    PdfBuilder pdf = pages({"/Resources << /XObject << /A 10 0 R /B 3000 0 R >> >> /Contents 5 0 R"});
    pdf.stream(5, "", "/A Do /B Do");
    for (int n = 10; n <= kLast; ++n)
        pdf.stream(n, std::string(kForm) + " /Resources << /XObject << /Next " + std::to_string(n + 1) +
                          " 0 R >> >>",
                   std::string(kSecret) + " /Next Do");
    pdf.stream(3000, std::string(kForm) + " /Resources << /XObject << /X 3001 0 R /Y 3000 0 R >> >>",
               std::string(kSecret) + " /X Do /Y Do")
        .stream(3001, std::string(kForm) + " /Resources 3002 0 R", std::string(kSecret) + " /X Do /Y Do")
        .obj(3002, "<< /XObject << /X 3000 0 R /Y 3001 0 R >> >>")
        .xref_table("/Root 1 0 R");
    WalkRun run(pdf, "secret");
    ASSERT_EQ(run.rc, 1) << run.error;
    int painted = 0;
    for (int n = 10; n <= kLast; ++n) painted += run.painted(n) ? 1 : 0;
    EXPECT_EQ(painted, kLast - 9);
    EXPECT_TRUE(run.painted(3000));
    EXPECT_TRUE(run.painted(3001));
    EXPECT_EQ(run.result.matches, kLast - 9 + 2);
}

TEST(WalkForms, SharedResourcesAndFormsAreReadOnceAndMissNothing) {
    // Pages 1 and 2 inherit resources whose /XObject is an object; their
    // /Annots array and /AP dictionary are shared; page 3 reaches the same
    // appearance besides a form of its own.
    PdfBuilder pdf = pages({"/Annots 61 0 R /Contents 7 0 R", "/Annots 61 0 R /Contents 7 0 R",
                            "/Resources << /XObject << /Fm1 11 0 R >> >> /Annots [71 0 R] /Contents 8 0 R"},
                           "/Resources 60 0 R");
    pdf.obj(60, "<< /XObject 62 0 R >>")
        .obj(61, "[70 0 R]")
        .obj(62, "<< /Fm0 10 0 R >>")
        .obj(70, "<< /Subtype /Widget /AP 90 0 R >>")
        .obj(71, "<< /Subtype /Widget /AP 90 0 R >>")
        .obj(90, "<< /N 80 0 R >>")
        .stream(7, "", "/Fm0 Do")
        .stream(8, "", "/Fm1 Do")
        .stream(10, kForm, kSecret)
        .stream(11, kForm, kSecret)
        .stream(80, kForm, kSecret)
        .xref_table("/Root 1 0 R");
    WalkRun run(pdf, "secret");
    ASSERT_EQ(run.rc, 1) << run.error;
    for (int n : {10, 11, 80}) EXPECT_TRUE(run.painted(n)) << n;
    EXPECT_EQ(run.result.matches, 3);
}

TEST(WalkForms, AnnotationAppearances) {
    PdfBuilder pdf = pages({"/Resources << /XObject << /Q 96 0 R >> >> /Contents 5 0 R "
                            "/Annots [70 0 R 0 0 R 71 0 R 72 0 R 73 0 R 74 0 R 75 0 R 76 0 R]"});
    const std::string no_subtype = "/BBox [0 0 100 100]";
    pdf.stream(5, "", "/Q Do")
        // /N as a reference.
        .obj(70, "<< /Type /Annot /Subtype /Widget /AP << /N 80 0 R >> >>")
        .stream(80, kForm, kSecret)
        // /AP as a reference to a dictionary object; /R and /D followed too,
        // streams without /Subtype included.
        .obj(71, "<< /Type /Annot /Subtype /Widget /AP 90 0 R >>")
        .obj(90, "<< /N 81 0 R /R 82 0 R /D 83 0 R >>")
        .stream(81, no_subtype, kSecret)
        .stream(82, no_subtype, kSecret, true)
        .stream(83, kForm, kSecret)
        // Appearance-state dictionaries, inline and as an object.
        .obj(72, "<< /Subtype /Widget /AP << /N << /On 84 0 R /Off 85 0 R >> /D 91 0 R >> >>")
        .obj(91, "<< /On 86 0 R >>")
        .stream(84, no_subtype, kSecret)
        .stream(85, no_subtype, kSecret)
        .stream(86, no_subtype, kSecret)
        // An image, and a key that is neither /N, /R nor /D.
        .obj(73, "<< /Subtype /Widget /AP << /N 87 0 R /X 88 0 R >> >>")
        .stream(87, "/Subtype /Image /Width 1 /Height 1", kSecret)
        .stream(88, kForm, kSecret)
        // Annotation 74 reaches, through its appearance's resources, a form
        // whose own /Subtype must then be /Form.
        .obj(74, "<< /Subtype /Widget /AP << /N 89 0 R >> >>")
        .stream(89, no_subtype + " /Resources << /XObject << /A 92 0 R /B 93 0 R >> >>", "/A Do /B Do")
        .stream(92, no_subtype, kSecret)
        .stream(93, kForm, kSecret)
        // Only the annotation's own /AP counts, not one inside a string.
        .obj(75, "<< /Subtype /Widget /A << /S /JavaScript /JS (x /AP 94 0 R) >> /AP << /N 95 0 R >> >>")
        .stream(94, kForm, kSecret)
        .stream(95, no_subtype, kSecret)
        // A stream without /Subtype that the page draws first is still
        // redacted as an appearance.
        .obj(76, "<< /Subtype /Widget /AP << /N 96 0 R >> >>")
        .stream(96, no_subtype, kSecret)
        .xref_table("/Root 1 0 R");
    WalkRun run(pdf, "secret");
    ASSERT_EQ(run.rc, 1) << run.error;
    for (int n : {80, 81, 82, 83, 84, 85, 86, 93, 95, 96}) EXPECT_TRUE(run.painted(n)) << n;
    for (int n : {87, 88, 89, 92, 94}) EXPECT_FALSE(run.painted(n)) << n;
    EXPECT_EQ(run.result.matches, 10);
}

TEST(WalkForms, TheAccountPlacesBoxesOfFormsAndAppearancesOnThePage) {
    // A form drawn twice, at 1:1 and moved; a widget whose appearance is
    // fitted to its /Rect (its /BBox is 50 wide, the /Rect 100: twice as wide).
    PdfBuilder pdf = pages({"/Resources << /XObject << /Fm0 10 0 R >> >> /Contents 7 0 R /Annots [70 0 R]"});
    pdf.stream(7, "", "/Fm0 Do q 1 0 0 1 0 -100 cm /Fm0 Do Q")
        .stream(10, kForm, kSecret)
        .obj(70, "<< /Subtype /Widget /Rect [300 300 400 320] /AP << /N 80 0 R >> >>")
        .stream(80, "/BBox [0 0 50 20]", "BT /F1 10 Tf 1 5 Td (Secret) Tj ET")
        .xref_table("/Root 1 0 R");
    WalkRun run(pdf, "secret");
    ASSERT_EQ(run.rc, 1) << run.error;
    ASSERT_EQ(run.result.boxes.size(), 3u);
    auto near = [](const Box &b, double x0, double y0) { return std::abs(b.x0 - x0) < 0.01 && std::abs(b.y0 - y0) < 0.01; };
    EXPECT_TRUE(near(run.result.boxes[0].box, 99, 696));  // the form at 1:1 (a 0.5 em font at 12)
    EXPECT_TRUE(near(run.result.boxes[1].box, 99, 596));  // moved down by 100
    EXPECT_TRUE(near(run.result.boxes[2].box, 300, 300 + (5 - 2.5 - 1)));  // (0, 1.5) in the appearance, x doubled
    for (const PaintedBox &b : run.result.boxes) EXPECT_EQ(b.cause, 0);
}

TEST(WalkForms, AFormThatCannotBeDecodedStopsTheWalk) {
    PdfBuilder nested = pages({"/Resources << /XObject << /A 10 0 R >> >> /Contents 5 0 R"});
    nested.stream(5, "", "/A Do")
        .stream(10, std::string(kForm) + " /Resources << /XObject << /B 11 0 R >> >>", "/B Do")
        .stream(11, std::string(kForm) + " /Filter /FlateDecode", "not zlib data")
        .xref_table("/Root 1 0 R");
    PdfBuilder annot = pages({"/Annots [70 0 R]"});
    annot.obj(70, "<< /Subtype /Widget /AP << /N 11 0 R >> >>")
        .stream(11, "/Filter /LZWDecode", "abc")
        .xref_table("/Root 1 0 R");
    const std::pair<const PdfBuilder &, const char *> cases[] = {
        {nested, "the Form XObject stream (object 11) could not be decompressed (/FlateDecode) — the "
                 "text was not redacted"},
        {annot, "the Form XObject stream (object 11) uses /LZWDecode, which this engine cannot decode "
                "— the text was not redacted"},
    };
    for (const auto &[pdf, message] : cases) {
        WalkRun run(pdf, "secret");
        EXPECT_EQ(run.rc, -1);
        EXPECT_EQ(run.error, message);
    }
}

TEST(WalkForms, RegionsReachFormsThroughTheirMatrixAndTheCtm) {
    // The form's text stands at (100, 700) in its own space. Drawn at 1:1,
    // scaled by its /Matrix and moved by a cm, it lands in different places.
    struct Case {
        const char *matrix;   // the form's /Matrix entry
        const char *content;  // how the page draws it
        Region region;        // over "Secret" where it lands
    };
    const Case cases[] = {
        {"", "/Fm0 Do", {1, 99, 695, 40, 15}},
        {"/Matrix [0.5 0 0 0.5 0 0]", "/Fm0 Do", {1, 49.5f, 347, 20, 8}},
        {"", "q 1 0 0 1 -50 -300 cm /Fm0 Do Q", {1, 49, 395, 40, 15}},
        {"/Matrix [0.5 0 0 0.5 10 10]", "q 2 0 0 2 0 0 cm /Fm0 Do Q", {1, 119, 715, 40, 15}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.content);
        PdfBuilder pdf = pages({"/Resources << /XObject << /Fm0 10 0 R >> >> /Contents 5 0 R"});
        pdf.stream(5, "", c.content)
            .stream(10, std::string(kForm) + " " + c.matrix, kSecret)
            .xref_table("/Root 1 0 R");
        WalkRun run(pdf, nullptr, {c.region});
        ASSERT_EQ(run.rc, 1) << run.error;
        ASSERT_EQ(run.result.new_streams.size(), 1u);
        const NewStream &copy = run.result.new_streams[0];
        const std::string data(reinterpret_cast<const char *>(copy.data.data.get()), copy.data.len);
        EXPECT_NE(data.find("(      ) Tj"), std::string::npos) << data;
        EXPECT_NE(run.page(0).find("/IvX" + std::to_string(copy.num) + " Do"), std::string::npos) << run.page(0);
        // The original, with the text the region covers, is drawn no more:
        // it is written as its copy, for whatever still names it.
        EXPECT_EQ(run.result.replaced_originals, (std::vector<std::pair<int32_t, int32_t>>{{10, copy.num}}));
        // A region elsewhere leaves the form alone.
        WalkRun miss(pdf, nullptr, {{1, 400, 100, 10, 10}});
        EXPECT_TRUE(miss.result.new_streams.empty());
    }
}

TEST(WalkForms, AFormDrawnTwiceIsCopiedOnlyWhereARegionCoversIt) {
    PdfBuilder pdf = pages({"/Resources << /XObject << /Fm0 10 0 R >> >> /Contents 5 0 R"});
    pdf.stream(5, "", "/Fm0 Do q 1 0 0 1 0 -400 cm /Fm0 Do Q")
        .stream(10, kForm, kSecret)
        .xref_table("/Root 1 0 R");
    WalkRun run(pdf, nullptr, {{1, 99, 295, 40, 15}});  // over the second showing
    ASSERT_EQ(run.rc, 1) << run.error;
    ASSERT_EQ(run.result.new_streams.size(), 1u);
    EXPECT_NE(run.page(0).find("/Fm0 Do q 1 0 0 1 0 -400 cm /IvX"), std::string::npos) << run.page(0);
    EXPECT_NE(run.result.page_resources[0].find("/Fm0 10 0 R"), std::string::npos);
}

}  // namespace
