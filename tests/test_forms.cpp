// Form XObjects and annotation appearances: collecting the references, and
// redacting each form a page reaches once, nested forms included.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "api.h"
#include "content.h"
#include "forms.h"
#include "pdf_builder.h"

namespace {

using pdftest::PdfBuilder;

constexpr const char *kSecret = "BT /F1 12 Tf 100 700 Td (Secret) Tj ET";
constexpr const char *kBlanked = "(      )";
constexpr const char *kMatchBox = "99.00 696.00 38.00 15.80 re f";
constexpr const char *kForm = "/Type /XObject /Subtype /Form /BBox [0 0 612 792]";

// A catalog, a page tree with `pages_entries`, and pages 3, 4, ... with the
// given extra entries.
PdfBuilder pages(const std::vector<std::string> &page_entries,
                 const std::string &pages_entries = "") {
    std::string kids;
    for (size_t i = 0; i < page_entries.size(); ++i) kids += std::to_string(3 + i) + " 0 R ";
    PdfBuilder pdf;
    pdf.obj(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .obj(2, "<< /Type /Pages /Kids [" + kids + "] /Count " +
                    std::to_string(page_entries.size()) + " " + pages_entries + " >>");
    for (size_t i = 0; i < page_entries.size(); ++i)
        pdf.obj(static_cast<int>(3 + i),
                "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] " + page_entries[i] + " >>");
    return pdf;
}

// One run over a document: its maps, and the result and tally of each page.
struct FormRun {
    Doc doc;
    VisitMap visit;
    FormMap forms;
    std::vector<int> rc;
    std::vector<FormTally> tally;

    explicit FormRun(const PdfBuilder &pdf) {
        const pdftest::TempFile file = pdf.file();
        EXPECT_EQ(doc_load(file.c_str(), doc), 0) << g_err;
        visit.assign(static_cast<size_t>(doc.max_obj_num) + 64, 0);
        forms.resize(static_cast<size_t>(doc.max_obj_num) + 64);
    }

    // Redacts the forms of page `page` (1-based, object 2 + page).
    void page(int page, const char *search, const Region *regions = nullptr, int region_count = 0) {
        clear_error();
        FormTally t;
        const ObjEntry *obj = doc_find_obj(doc, 2 + page);
        EXPECT_NE(obj, nullptr);
        if (obj == nullptr) return;
        rc.push_back(redact_page_forms(doc, *obj, page, visit, forms, search, regions, region_count,
                                       0, 0, 0, t));
        tally.push_back(t);
    }

    std::string form(int num) const {
        const Buf &b = forms[static_cast<size_t>(num)];
        return b.data ? std::string(reinterpret_cast<const char *>(b.data.get()), b.len) : "";
    }
    bool painted(int num) const { return !form(num).empty(); }
    bool visited(int num) const { return visit[static_cast<size_t>(num)] != 0; }
    bool file_has(const std::string &text) const {
        return std::string(doc.data.begin(), doc.data.end()).find(text) != std::string::npos;
    }
};

std::vector<int32_t> xobjects_of(const Doc &doc, int32_t num) {
    std::vector<int32_t> out = {-1};
    const ObjEntry *entry = doc_find_obj(doc, num);
    EXPECT_NE(entry, nullptr);
    if (entry == nullptr) return out;
    int32_t res_obj = 0, text_end = 0, dict_pos = 0;
    const unsigned char *text = nullptr;
    if (!obj_resources(doc, *entry, &res_obj, &text, &text_end, &dict_pos)) return out;
    const int32_t added = collect_xobjects(doc, res_obj, text, text_end, dict_pos, out);
    EXPECT_EQ(added, static_cast<int32_t>(out.size()) - 1);
    out.erase(out.begin());
    return out;
}

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

TEST(FormsCollect, XObjectReferences) {
    std::string many;
    std::vector<int32_t> many_nums;
    for (int n = 1; n <= 300; ++n) {
        many += "/X" + std::to_string(n) + " " + std::to_string(n) + " 0 R ";
        many_nums.push_back(n);
    }
    struct Case {
        std::string resources;  // the page's /Resources value
        std::vector<int32_t> expected;
    };
    const Case cases[] = {
        {"<< /XObject << /Im0 7 0 R /Fm0 9 0 R >> >>", {7, 9}},
        {"<< /XObject 12 0 R >>", {7, 9}},
        {"14 0 R", {7, 9}},
        {"13 0 R", many_nums},
        // Keys, nested values and things that are not references are skipped.
        {"<< /XObject << /Fm1 << /Fm2 5 0 R >> /Fm3 (6 0 R) /Fm4 8 /Fm5 0 0 R /Fm6 9 0 R >> >>",
         {9}},
        // Only the resource dictionary itself is searched.
        {"<< /Font << >> >> /XObject << /Fm0 7 0 R >>", {}},
        // Only the dictionary's own /XObject entries count, every copy of a
        // repeated key included.
        {"<< /Properties << /P << /XObject << /Fm9 5 0 R >> >> >> /XObject << /Fm0 9 0 R >> >>",
         {9}},
        {"<< /XObject << /Fm0 7 0 R >> /XObject 12 0 R >>", {7, 7, 9}},
        {"<< /XObject 99 0 R >>", {}},
        {"<< /XObject null >>", {}},
        {"<< >>", {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.resources);
        PdfBuilder pdf = pages({"/Resources " + c.resources});
        pdf.obj(12, "<< /Im0 7 0 R /Fm0 9 0 R >>")
            .obj(13, "<< /XObject << " + many + ">> >>")
            .obj(14, "<< /XObject 12 0 R >>")
            .xref_table("/Root 1 0 R");
        const FormRun run(pdf);
        EXPECT_EQ(xobjects_of(run.doc, 3), c.expected);
    }
}

TEST(FormsCollect, AnnotationReferences) {
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
        const FormRun run(pdf);
        EXPECT_EQ(annots_of(run.doc, 3), c.expected);
    }
}

TEST(FormsRedact, FormsOfThePageResources) {
    PdfBuilder pdf =
        pages({"/Resources << /XObject << /Fm0 10 0 R /Fm1 11 0 R /Fm2 12 0 R "
               "/Im0 13 0 R >> >>"});
    pdf.stream(10, kForm, kSecret)
        .stream(11, kForm, "BT /F1 12 Tf 100 700 Td (a secret) Tj ET", true)
        .stream(12, kForm, "BT (nothing here) Tj ET")
        .stream(13, "/Type /XObject /Subtype /Image /Width 1 /Height 1", kSecret)
        .xref_table("/Root 1 0 R");
    FormRun run(pdf);
    run.page(1, "secret");
    ASSERT_EQ(run.rc[0], 1) << g_err;
    EXPECT_EQ(run.form(10), std::string("BT /F1 12 Tf 100 700 Td ") + kBlanked +
                                " Tj ET\nq\n0.0000 0.0000 0.0000 rg\n" + kMatchBox + "\nQ\n");
    EXPECT_NE(run.form(11).find("(a       )"), std::string::npos);
    EXPECT_FALSE(run.painted(12));
    EXPECT_FALSE(run.painted(13));  // an image is no form
    for (int n : {10, 11, 12, 13}) EXPECT_TRUE(run.visited(n)) << n;
    EXPECT_EQ(run.tally[0].changed, 1);
    EXPECT_EQ(run.tally[0].matches, 2);
    // The loaded file is never written to.
    EXPECT_TRUE(run.file_has(std::string("Td (Secret) Tj")));
}

TEST(FormsRedact, NestingOfAnyDepthAndCycles) {
    // Forms 10..2010 each name the next: every one is redacted, however deep
    // (text in the last one would otherwise stay in the file). 3000 and 3001
    // name each other and themselves.
    constexpr int kLast = 2010;
    PdfBuilder pdf = pages({"/Resources << /XObject << /A 10 0 R /B 3000 0 R >> >>"});
    for (int n = 10; n <= kLast; ++n)
        pdf.stream(n,
                   std::string(kForm) + " /Resources << /XObject << /Next " +
                       std::to_string(n + 1) + " 0 R >> >>",
                   kSecret);
    pdf.stream(3000,
               std::string(kForm) + " /Resources << /XObject << /X 3001 0 R /Y 3000 0 R >> >>",
               kSecret)
        .stream(3001, std::string(kForm) + " /Resources 3002 0 R", kSecret)
        .obj(3002, "<< /XObject << /X 3000 0 R /Y 3001 0 R >> >>")
        .xref_table("/Root 1 0 R");
    FormRun run(pdf);
    run.page(1, "secret");
    ASSERT_EQ(run.rc[0], 1) << g_err;
    int painted = 0;
    for (int n = 10; n <= kLast; ++n) painted += run.painted(n) ? 1 : 0;
    EXPECT_EQ(painted, kLast - 9);
    EXPECT_TRUE(run.painted(3000));
    EXPECT_TRUE(run.painted(3001));
    EXPECT_EQ(run.tally[0].matches, kLast - 9 + 2);
}

TEST(FormsRedact, InheritedResourcesAndSharedForms) {
    // Neither page has resources of its own: both inherit those of the page
    // tree, an object whose /XObject is itself an object.
    PdfBuilder pdf = pages({"", ""}, "/Resources 60 0 R");
    pdf.obj(60, "<< /XObject 61 0 R >>")
        .obj(61, "<< /Fm0 10 0 R >>")
        .stream(10, kForm, kSecret)
        .xref_table("/Root 1 0 R");
    FormRun run(pdf);
    // A form reached from two pages is redacted for the first one only, with
    // that page's rectangles.
    const Region regions[] = {{1, 10, 20, 30, 40}, {2, 50, 60, 70, 80}};
    run.page(1, nullptr, regions, 2);
    run.page(2, nullptr, regions, 2);
    EXPECT_EQ(run.rc, (std::vector<int>{1, 1}));
    EXPECT_NE(run.form(10).find("10.00 20.00 30.00 40.00 re f"), std::string::npos);
    EXPECT_EQ(run.form(10).find("50.00"), std::string::npos);
    EXPECT_EQ(run.tally[0].changed, 1);
    EXPECT_EQ(run.tally[1].changed, 0);
}

TEST(FormsRedact, SharedDictionariesAreWalkedOnceAndMissNothing) {
    // Pages 1 and 2 share their resources, /XObject dictionary, /Annots array
    // and /AP dictionary; page 3 reaches the same /XObject dictionary and /AP
    // dictionary besides a form of its own.
    PdfBuilder pdf = pages({"/Resources 60 0 R /Annots 61 0 R", "/Resources 60 0 R /Annots 61 0 R",
                            "/Resources << /XObject << /Fm1 11 0 R >> >> /Resources << /XObject "
                            "62 0 R >> /Annots [71 0 R]"});
    pdf.obj(60, "<< /XObject 62 0 R >>")
        .obj(61, "[70 0 R]")
        .obj(62, "<< /Fm0 10 0 R >>")
        .obj(70, "<< /Subtype /Widget /AP 90 0 R >>")
        .obj(71, "<< /Subtype /Widget /AP 90 0 R >>")
        .obj(90, "<< /N 80 0 R >>")
        .stream(10, kForm, kSecret)
        .stream(11, kForm, kSecret)
        .stream(80, kForm, kSecret)
        .xref_table("/Root 1 0 R");
    FormRun run(pdf);
    for (int page = 1; page <= 3; ++page) run.page(page, "secret");
    EXPECT_EQ(run.rc, (std::vector<int>{1, 1, 1}));
    for (int n : {10, 11, 80}) EXPECT_TRUE(run.painted(n)) << n;
    EXPECT_EQ(run.tally[0].matches, 2);
    EXPECT_EQ(run.tally[1].matches, 0);
    EXPECT_EQ(run.tally[2].matches, 1);
}

TEST(FormsRedact, AnnotationAppearances) {
    PdfBuilder pdf = pages({"/Resources << /XObject << /Q 96 0 R >> >> "
                            "/Annots [70 0 R 0 0 R 71 0 R 72 0 R 73 0 R 74 0 R 75 0 R 76 0 R]"});
    const std::string no_subtype = "/BBox [0 0 100 100]";
    // /N as a reference.
    pdf.obj(70, "<< /Type /Annot /Subtype /Widget /AP << /N 80 0 R >> >>")
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
        .stream(89, no_subtype + " /Resources << /XObject << /A 92 0 R /B 93 0 R >> >>", "q Q")
        .stream(92, no_subtype, kSecret)
        .stream(93, kForm, kSecret)
        // Only the annotation's own /AP counts, not one inside a string.
        .obj(75, "<< /Subtype /Widget /A << /S /JavaScript /JS (x /AP 94 0 R) >> /AP << /N 95 0 R "
                 ">> >>")
        .stream(94, kForm, kSecret)
        .stream(95, no_subtype, kSecret)
        // A stream without /Subtype that the page's resources name first is
        // still redacted as an appearance.
        .obj(76, "<< /Subtype /Widget /AP << /N 96 0 R >> >>")
        .stream(96, no_subtype, kSecret)
        .xref_table("/Root 1 0 R");
    FormRun run(pdf);
    run.page(1, "secret");
    ASSERT_EQ(run.rc[0], 1) << g_err;
    for (int n : {80, 81, 82, 83, 84, 85, 86, 93, 95, 96}) EXPECT_TRUE(run.painted(n)) << n;
    for (int n : {87, 88, 89, 92, 94}) EXPECT_FALSE(run.painted(n)) << n;
    EXPECT_TRUE(run.visited(87));
    EXPECT_FALSE(run.visited(88));
    EXPECT_EQ(run.tally[0].matches, 10);
}

TEST(FormsRedact, UndecodableFormStopsTheRun) {
    // A form nested one level down, and an appearance stream.
    PdfBuilder nested = pages({"/Resources << /XObject << /A 10 0 R >> >>"});
    nested.stream(10, std::string(kForm) + " /Resources << /XObject << /B 11 0 R >> >>", kSecret)
        .stream(11, std::string(kForm) + " /Filter /FlateDecode", "not zlib data")
        .xref_table("/Root 1 0 R");
    PdfBuilder annot = pages({"/Annots [70 0 R]"});
    annot.obj(70, "<< /Subtype /Widget /AP << /N 11 0 R >> >>")
        .stream(11, "/Filter /LZWDecode", "abc")
        .xref_table("/Root 1 0 R");
    const std::pair<const PdfBuilder &, const char *> cases[] = {
        {nested,
         "the Form XObject stream (object 11) could not be decompressed (/FlateDecode) — the "
         "text was not redacted"},
        {annot,
         "the Form XObject stream (object 11) uses /LZWDecode, which this engine cannot decode "
         "— the text was not redacted"},
    };
    for (const auto &[pdf, message] : cases) {
        FormRun run(pdf);
        run.page(1, "secret");
        EXPECT_EQ(run.rc[0], -1);
        EXPECT_EQ(std::string(g_err), message);
    }
}

TEST(FormsRedact, FormObjectEntryPoint) {
    PdfBuilder pdf = pages({""});
    pdf.stream(10, kForm, kSecret).obj(11, "<< /Subtype /Form >>").xref_table("/Root 1 0 R");
    FormRun run(pdf);
    FormTally t;
    auto redact = [&](int32_t num) {
        return redact_form_obj(run.doc, num, run.visit, run.forms, "secret", nullptr, 0, 1, 0, 0,
                               0, t);
    };
    // Out of range, or not a stream: nothing happens.
    for (int32_t num : {0, -3, 11, 99, 1000000}) EXPECT_EQ(redact(num), 1) << num;
    EXPECT_EQ(redact(10), 1);
    EXPECT_TRUE(run.painted(10));
    EXPECT_EQ(t.matches, 1);
    // Examined once per run.
    EXPECT_EQ(redact(10), 1);
    EXPECT_EQ(t.matches, 1);
}

}  // namespace
