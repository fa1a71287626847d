// Hidden information: what every output leaves out (objects marked in the
// drop map) and the dictionaries it rewrites (replacement texts), and the
// widgets that lose their appearance under a painted box.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "document.h"
#include "inkveil.h"
#include "pdf_builder.h"
#include "sanitize.h"

namespace {

using pdftest::PdfBuilder;

// A document loaded from `pdf` and its two tables, sized as the driver sizes
// them, filled by sanitize_hidden_info.
struct Sanitized {
    Doc doc;
    DropMap drop;
    ReplacementTexts texts;
    int32_t size = 0;

    explicit Sanitized(const PdfBuilder &pdf, bool run = true) {
        const pdftest::TempFile file = pdf.file();
        EXPECT_EQ(doc_load(file.c_str(), doc), 0);
        size = doc.max_obj_num + 64;
        drop.assign(static_cast<size_t>(size), 0);
        texts.resize(static_cast<size_t>(size));
        if (run) sanitize_hidden_info(doc, drop, texts, size);
    }

    std::vector<int32_t> dropped() const {
        std::vector<int32_t> out;
        for (int32_t n = 0; n < size; ++n)
            if (drop[n]) out.push_back(n);
        return out;
    }
    // The replacement text of `num`, or "-" when it is written as it is.
    std::string text(int32_t num) const { return texts[num] ? texts[num].get() : "-"; }
    std::vector<int32_t> replaced() const {
        std::vector<int32_t> out;
        for (int32_t n = 0; n < size; ++n)
            if (texts[n]) out.push_back(n);
        return out;
    }
};

// Catalog 1 with the given extra entries, page tree 2, pages 3.. with the
// given extra entries each.
PdfBuilder with_pages(const std::string &catalog_extra, const std::vector<std::string> &pages) {
    PdfBuilder pdf;
    pdf.obj(1, "<< /Type /Catalog /Pages 2 0 R " + catalog_extra + ">>");
    std::string kids;
    for (size_t i = 0; i < pages.size(); ++i) kids += std::to_string(3 + i) + " 0 R ";
    pdf.obj(2,
            "<< /Type /Pages /Kids [ " + kids + "] /Count " + std::to_string(pages.size()) + " >>");
    for (size_t i = 0; i < pages.size(); ++i)
        pdf.obj(static_cast<int>(3 + i), "<< /Type /Page /Parent 2 0 R " + pages[i] + ">>");
    return pdf;
}

TEST(SanitizeHiddenInfo, EveryKindOfHiddenPlaceGoes) {
    PdfBuilder pdf = with_pages("/Names 10 0 R /Outlines 12 0 R /AcroForm << /Fields [20 0 R] >> ",
                                {"/Annots [5 0 R] /Metadata 8 0 R ", "/Annots [6 0 R 20 0 R] "});
    pdf.obj(5, "<< /Type /Annot /Subtype /Link /Rect [0 0 10 10] /A << /URI (http://x) >> >>")
        .obj(6, "<< /Type /Annot /Subtype /Text /Rect [0 0 10 10] /Contents (secret note) >>")
        .obj(7, "<< /Title (secret title) /Author (someone) >>")
        .stream(8, "/Type /Metadata /Subtype /XML", "<x:xmpmeta>secret</x:xmpmeta>")
        .stream(9, "/Type /EmbeddedFile", "secret attachment")
        .obj(10, "<< /EmbeddedFiles 11 0 R >>")
        .obj(11, "<< /Names [(a.txt) 13 0 R] >>")
        .obj(12, "<< /Type /Outlines /First 14 0 R /Last 14 0 R /Count 1 >>")
        .obj(13, "<< /Type /Filespec /F (a.txt) /EF << /F 9 0 R >> >>")
        .obj(14, "<< /Title (secret heading) /Parent 12 0 R /Dest [3 0 R /Fit] >>")
        .obj(15, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>")
        .obj(20,
             "<< /Type /Annot /Subtype /Widget /FT /Tx /T (name) /V (secret) /DV (old) "
             "/Rect [0 0 10 10] /P 4 0 R >>")
        .xref_table("/Root 1 0 R /Info 7 0 R");
    const Sanitized s(pdf);
    EXPECT_EQ(s.dropped(), (std::vector<int32_t>{5, 6, 7, 8, 9, 10, 11, 12, 13, 14}));
    EXPECT_EQ(s.replaced(), (std::vector<int32_t>{1, 3, 4, 20}));
    EXPECT_EQ(s.text(1), "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [20 0 R] >> >>");
    EXPECT_EQ(s.text(3), "<< /Type /Page /Parent 2 0 R  /Annots [ ] >>");
    EXPECT_EQ(s.text(4), "<< /Type /Page /Parent 2 0 R  /Annots [ 20 0 R ] >>");
    EXPECT_EQ(s.text(20),
              "<< /Type /Annot /Subtype /Widget /FT /Tx /T (name) "
              "/Rect [0 0 10 10] /P 4 0 R >>");
}

TEST(SanitizeHiddenInfo, InfoNamingTheCatalogOrPageTreeIsKept) {
    for (const int info : {1, 2, 3}) {
        SCOPED_TRACE(info);
        PdfBuilder pdf = with_pages("", {""});
        pdf.xref_table("/Root 1 0 R /Info " + std::to_string(info) + " 0 R");
        const Sanitized s(pdf);
        EXPECT_TRUE(s.dropped().empty());
    }
}

TEST(SanitizeHiddenInfo, AnnotsKeepOnlyWidgets) {
    // Page 3: link, widget (generation 2), text and a reference to nothing;
    // page 4: only non-widgets; page 5: an empty array and /Metadata.
    PdfBuilder pdf = with_pages("", {"/Annots [10 0 R 11 2 R 12 0 R 30 0 R] ",
                                     "/Annots [13 0 R 14 0 R] ", "/Annots [] /Metadata 15 0 R "});
    pdf.obj(10, "<< /Subtype /Link /Rect [0 0 1 1] >>")
        .obj(11, "<< /Subtype /Widget /Rect [0 0 1 1] >>", 2)
        .obj(12, "<< /Subtype /Text /Rect [0 0 1 1] >>")
        .obj(13, "<< /Subtype /FreeText /Rect [0 0 1 1] >>")
        .obj(14, "<< /Subtype /Popup /Rect [0 0 1 1] >>")
        .stream(15, "/Type /Metadata /Subtype /XML", "<x/>")
        .xref_table("/Root 1 0 R");
    const Sanitized s(pdf);
    EXPECT_EQ(s.dropped(), (std::vector<int32_t>{10, 12, 13, 14, 15}));
    EXPECT_EQ(s.text(3), "<< /Type /Page /Parent 2 0 R  /Annots [ 11 2 R 30 0 R ] >>");
    EXPECT_EQ(s.text(4), "<< /Type /Page /Parent 2 0 R  /Annots [ ] >>");
    EXPECT_EQ(s.text(5), "<< /Type /Page /Parent 2 0 R /Annots [] >>");
}

TEST(SanitizeHiddenInfo, AnnotsArrayObjectAndRepeatedKeys) {
    // /Annots through an array object; a repeated /Annots and /Metadata go
    // whole, so no second array survives beside the rebuilt one.
    PdfBuilder pdf =
        with_pages("", {"/Annots 9 0 R /Metadata 8 0 R /Annots [10 0 R] /Metadata 8 0 R "});
    pdf.obj(8, "<< /Type /Metadata >>")
        .obj(9, "[10 0 R 11 0 R]")
        .obj(10, "<< /Subtype /Link >>")
        .obj(11, "<< /Subtype /Widget >>")
        .xref_table("/Root 1 0 R");
    const Sanitized s(pdf);
    EXPECT_EQ(s.text(3), "<< /Type /Page /Parent 2 0 R  /Annots [ 11 0 R ] >>");
}

TEST(SanitizeHiddenInfo, SharedAnnotsArrayObjectIsRebuiltOnce) {
    // Pages naming one array object keep naming it; the array loses the link
    // and its inline comment, and no page gets a copy of its own.
    PdfBuilder pdf = with_pages("", {"/Annots 9 0 R ", "/Annots 9 0 R /Metadata 8 0 R "});
    pdf.obj(8, "<< /Type /Metadata >>")
        .obj(9, "[10 0 R 11 0 R << /Subtype /Text /Contents (secret) >>]")
        .obj(10, "<< /Subtype /Link >>")
        .obj(11, "<< /Subtype /Widget >>")
        .xref_table("/Root 1 0 R");
    const Sanitized s(pdf);
    EXPECT_EQ(s.text(9), "[ 11 0 R ]");
    EXPECT_EQ(s.text(3), "-");
    EXPECT_EQ(s.text(4), "<< /Type /Page /Parent 2 0 R /Annots 9 0 R >>");
    EXPECT_EQ(s.dropped(), (std::vector<int32_t>{8, 10}));
}

TEST(SanitizeHiddenInfo, InlineAnnotationsGoWithTheRebuiltArray) {
    // Annotation dictionaries written inside /Annots have no object to leave
    // out: the array is rebuilt without them, beside a widget or alone.
    PdfBuilder pdf = with_pages(
        "", {"/Annots [<< /Subtype /Text /Contents (secret note) >>] ",
             "/Annots [ << /Subtype /FreeText /Contents (secret) >> 10 0 R ] ", "/Annots [ ] "});
    pdf.obj(10, "<< /Subtype /Widget >>").xref_table("/Root 1 0 R");
    const Sanitized s(pdf);
    EXPECT_EQ(s.text(3), "<< /Type /Page /Parent 2 0 R  /Annots [ ] >>");
    EXPECT_EQ(s.text(4), "<< /Type /Page /Parent 2 0 R  /Annots [ 10 0 R ] >>");
    EXPECT_EQ(s.text(5), "-");
}

TEST(SanitizeHiddenInfo, StructureIsNeverLeftOut) {
    // A name dictionary, an annotation or an /Info that names the page tree,
    // the catalog or a page, and a page whose dictionary holds a /Filespec
    // dictionary of its own: the pages stay.
    PdfBuilder pdf = with_pages("/Names 2 0 R ",
                                {"/Annots [3 0 R 1 0 R] ",
                                 "/AA << /O << /S /Launch /F << /Type /Filespec /F (x) >> >> >> "});
    pdf.xref_table("/Root 1 0 R /Info 4 0 R");
    const Sanitized s(pdf);
    EXPECT_TRUE(s.dropped().empty());
}

TEST(SanitizeHiddenInfo, CatalogLosesOnlyTheHiddenEntries) {
    PdfBuilder pdf = with_pages(
        "/PageMode /UseOutlines /Outlines 10 0 R /Names << /Dests 11 0 R >> "
        "/Metadata 12 0 R /AcroForm << /Fields [] >> /OpenAction [3 0 R /Fit] ",
        {""});
    pdf.obj(10, "<< /Type /Outlines >>")
        .obj(11, "<< /Names [(d) [3 0 R /Fit]] >>")
        .obj(12, "<< /Type /Metadata >>")
        .xref_table("/Root 1 0 R");
    const Sanitized s(pdf);
    EXPECT_EQ(
        s.text(1),
        "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [] >> /OpenAction [3 0 R /Fit] >>");
    // An inline name dictionary names no object of its own.
    EXPECT_EQ(s.dropped(), (std::vector<int32_t>{10, 12}));
}

TEST(SanitizeHiddenInfo, WholeOutlineTreeGoes) {
    // Top level 11, 12, 13; children under the first (14, 15) and the third
    // (16, 17); 18 a grandchild under 15.
    PdfBuilder pdf = with_pages("/Outlines 10 0 R ", {""});
    pdf.obj(10, "<< /Type /Outlines /First 11 0 R /Last 13 0 R >>")
        .obj(11, "<< /Title (a) /Parent 10 0 R /Next 12 0 R /First 14 0 R /Last 15 0 R >>")
        .obj(12, "<< /Title (b) /Parent 10 0 R /Prev 11 0 R /Next 13 0 R >>")
        .obj(13, "<< /Title (c) /Parent 10 0 R /Prev 12 0 R /First 16 0 R /Last 17 0 R >>")
        .obj(14, "<< /Title (a1) /Parent 11 0 R /Next 15 0 R >>")
        .obj(15, "<< /Title (a2) /Parent 11 0 R /Prev 14 0 R /First 18 0 R >>")
        .obj(16, "<< /Title (c1) /Parent 13 0 R /Next 17 0 R >>")
        .obj(17, "<< /Title (c2) /Parent 13 0 R /Prev 16 0 R >>")
        .obj(18, "<< /Title (a2x) /Parent 15 0 R >>")
        .obj(19, "<< /Title (not in the outline) >>")
        .xref_table("/Root 1 0 R");
    const Sanitized s(pdf);
    EXPECT_EQ(s.dropped(), (std::vector<int32_t>{10, 11, 12, 13, 14, 15, 16, 17, 18}));
}

TEST(SanitizeHiddenInfo, OutlineCyclesEndAndNeverReachThePageTree) {
    // 11 and 12 name each other and the outline dictionary; items that point
    // at the catalog, the page tree or a page leave those alone.
    PdfBuilder pdf = with_pages("/Outlines 10 0 R ", {""});
    pdf.obj(10, "<< /Type /Outlines /First 11 0 R >>")
        .obj(11, "<< /Next 12 0 R /First 10 0 R >>")
        .obj(12, "<< /Next 11 0 R /First 13 0 R >>")
        .obj(13, "<< /Next 1 0 R /First 14 0 R >>")
        .obj(14, "<< /Next 3 0 R /First 2 0 R >>")
        .xref_table("/Root 1 0 R");
    const Sanitized s(pdf);
    EXPECT_EQ(s.dropped(), (std::vector<int32_t>{10, 11, 12, 13, 14}));
}

TEST(SanitizeHiddenInfo, FormFieldValues) {
    PdfBuilder pdf = with_pages("/AcroForm << /Fields [20 0 R 22 0 R] >> ", {""});
    // 20: a field with /FT and a kid; 21: the kid, /FT only through /Parent;
    // 22: a widget with an indirect /V, a repeated /V, /DV and /RV;
    // 23: not a field; 24: a widget whose validate script (/V in /AA) goes;
    // 25: /FT two /Parent levels up, the chain ending in a loop.
    pdf.obj(20, "<< /FT /Tx /T (p) /Kids [21 0 R] /DV (default) >>")
        .obj(21, "<< /Parent 20 0 R /T (k) /V (secret) >>")
        .obj(22, "<< /Subtype /Widget /V 40 0 R /T (w) /V (again) /DV (d) /RV 41 0 R >>")
        .obj(23, "<< /Type /Foo /V (kept) >>")
        .obj(24, "<< /Subtype /Widget /AA << /V 42 0 R >> /T (a) /V 43 0 R >>")
        .obj(25, "<< /Parent 26 0 R /V (deep) >>")
        .obj(26, "<< /Parent 27 0 R >>")
        .obj(27, "<< /FT /Ch /Parent 26 0 R >>")
        .obj(28, "<< /Parent 29 0 R /V (orphan) >>")
        .obj(29, "<< /Parent 28 0 R >>")
        .obj(40, "(secret value)")
        .stream(41, "", "<body>secret rich text</body>")
        .obj(42, "<< /S /JavaScript /JS (check) >>")
        .obj(43, "(secret too)")
        .xref_table("/Root 1 0 R");
    const Sanitized s(pdf);
    EXPECT_EQ(s.text(20), "<< /FT /Tx /T (p) /Kids [21 0 R] >>");
    EXPECT_EQ(s.text(21), "<< /Parent 20 0 R /T (k) >>");
    EXPECT_EQ(s.text(22), "<< /Subtype /Widget /T (w) >>");
    EXPECT_EQ(s.text(25), "<< /Parent 26 0 R >>");
    EXPECT_EQ(s.text(23), "-");
    EXPECT_EQ(s.text(24), "<< /Subtype /Widget /T (a) >>");
    EXPECT_EQ(s.text(28), "-");  // the /Parent loop holds no /FT
    EXPECT_EQ(s.dropped(), (std::vector<int32_t>{40, 41, 42, 43}));
}

TEST(SanitizeHiddenInfo, FieldTreeNodesLoseTheirValues) {
    // /V may stand on a node above the fields that carry /FT: every node under
    // the AcroForm's /Fields (an array object here) through /Kids is a field.
    PdfBuilder pdf = with_pages("/AcroForm << /Fields 9 0 R >> ", {""});
    pdf.obj(9, "[10 0 R]")
        .obj(10, "<< /T (group) /V (secret) /Kids 11 0 R >>")
        .obj(11, "[12 0 R 13 0 R]")
        .obj(12, "<< /T (a) /Parent 10 0 R /FT /Tx >>")
        .obj(13, "<< /T (b) /Parent 10 0 R /Kids [14 0 R] /DV (secret too) >>")
        .obj(14, "<< /T (c) /Parent 13 0 R /Kids [13 0 R] /RV (and this) >>")  // a loop
        .obj(15, "<< /T (elsewhere) /V (kept) >>")
        .xref_table("/Root 1 0 R");
    const Sanitized s(pdf);
    EXPECT_EQ(s.text(10), "<< /T (group) /Kids 11 0 R >>");
    EXPECT_EQ(s.text(13), "<< /T (b) /Parent 10 0 R /Kids [14 0 R] >>");
    EXPECT_EQ(s.text(14), "<< /T (c) /Parent 13 0 R /Kids [13 0 R] >>");
    EXPECT_EQ(s.text(15), "-");
}

TEST(SanitizeHiddenInfo, FtInheritedFromFarUp) {
    // /FT 100 levels above the value, and many fields sharing one chain.
    PdfBuilder pdf = with_pages("", {""});
    pdf.obj(10, "<< /FT /Tx >>");
    for (int n = 11; n <= 110; ++n)
        pdf.obj(n, "<< /Parent " + std::to_string(n - 1) + " 0 R /V (v) >>");
    pdf.xref_table("/Root 1 0 R");
    const Sanitized s(pdf);
    for (int n = 11; n <= 110; ++n)
        EXPECT_EQ(s.text(n), "<< /Parent " + std::to_string(n - 1) + " 0 R >>") << n;
}

TEST(SanitizeHiddenInfo, ValueReferenceToThePageTreeIsNotFollowed) {
    PdfBuilder pdf = with_pages("", {""});
    pdf.obj(20, "<< /FT /Tx /V 3 0 R /DV 1 0 R /RV 20 0 R >>").xref_table("/Root 1 0 R");
    const Sanitized s(pdf);
    EXPECT_EQ(s.text(20), "<< /FT /Tx >>");
    EXPECT_TRUE(s.dropped().empty());
}

TEST(SanitizeHiddenInfo, XfaGoesInlineAndIndirect) {
    {
        SCOPED_TRACE("inline AcroForm");
        PdfBuilder pdf =
            with_pages("/AcroForm << /Fields [] /XFA 30 0 R /DA (/Helv 0 Tf) >> ", {""});
        pdf.stream(30, "", "<xdp:xdp>secret</xdp:xdp>").xref_table("/Root 1 0 R");
        const Sanitized s(pdf);
        EXPECT_EQ(s.text(1),
                  "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [] "
                  "/DA (/Helv 0 Tf) >> >>");
        EXPECT_EQ(s.dropped(), (std::vector<int32_t>{30}));
    }
    {
        SCOPED_TRACE("indirect AcroForm, XFA packets in an array");
        PdfBuilder pdf = with_pages("/AcroForm 9 0 R ", {""});
        pdf.obj(9,
                "<< /Fields [] /XFA [(template) 30 0 R (datasets) 31 0 R] /NeedAppearances true >>")
            .stream(30, "", "<template/>")
            .stream(31, "", "<xfa:datasets>secret</xfa:datasets>")
            .xref_table("/Root 1 0 R");
        const Sanitized s(pdf);
        EXPECT_EQ(s.text(1), "<< /Type /Catalog /Pages 2 0 R /AcroForm 9 0 R >>");
        EXPECT_EQ(s.text(9), "<< /Fields [] /NeedAppearances true >>");
        EXPECT_EQ(s.dropped(), (std::vector<int32_t>{30, 31}));
    }
    {
        SCOPED_TRACE("every copy of a repeated AcroForm");
        PdfBuilder pdf = with_pages(
            "/AcroForm << /XFA 30 0 R >> /AcroForm 9 0 R /AcroForm << /Fields [] /XFA 31 0 R >> ",
            {""});
        pdf.obj(9, "<< /XFA 32 0 R >>")
            .stream(30, "", "<a/>")
            .stream(31, "", "<b/>")
            .stream(32, "", "<c/>")
            .xref_table("/Root 1 0 R");
        const Sanitized s(pdf);
        EXPECT_EQ(s.text(1),
                  "<< /Type /Catalog /Pages 2 0 R /AcroForm << >> /AcroForm 9 0 R "
                  "/AcroForm << /Fields [] >> >>");
        EXPECT_EQ(s.text(9), "<< >>");
        EXPECT_EQ(s.dropped(), (std::vector<int32_t>{30, 31, 32}));
    }
    {
        SCOPED_TRACE("an AcroForm without XFA is written as it is");
        PdfBuilder pdf = with_pages("/AcroForm 9 0 R ", {""});
        pdf.obj(9, "<< /Fields [] /DR << /XFA 5 >> >>").xref_table("/Root 1 0 R");
        const Sanitized s(pdf);
        EXPECT_EQ(s.text(9), "-");
    }
}

TEST(SanitizeActiveContent, ActiveActionsGoAlongTheirNextChainsNavigationStays) {
    PdfBuilder pdf = with_pages(
        "/OpenAction 30 0 R /AA << /WC 32 0 R >> /AcroForm << /Fields [20 0 R 21 0 R 22 0 R] >> ",
        {"/AA << /O << /S /GoTo /D [3 0 R /Fit] /Next << /S /SubmitForm /F (http://x) >> >> >> ",
         "/AA 33 0 R ", "/AA << /C << /S /Rendition /JS (app.alert(1)) >> >> "});
    // 30 -> 31: navigation, then a program launched. 32: navigation only.
    // 33 -> 34 -> 35 -> 34: a loop of navigation and a web link.
    pdf.obj(20, "<< /Subtype /Widget /FT /Btn /T (a) /A << /S /JavaScript /JS (x) >> >>")
        .obj(21, "<< /Subtype /Widget /FT /Btn /T (b) /A << /S /GoTo /D [3 0 R /Fit] >> >>")
        .obj(22, "<< /Subtype /Widget /FT /Btn /T (c) /A << /S /ResetForm /Next [36 0 R "
                 "<< /S /GoToE /T << /R /C /N (x) >> >>] >> /AA << /K 36 0 R >> >>")
        .obj(30, "<< /S /GoTo /D [3 0 R /Fit] /Next [31 0 R] >>")
        .obj(31, "<< /S /Launch /F (secret-plan.exe) >>")
        .obj(32, "<< /S /GoTo /D [4 0 R /Fit] >>")
        .obj(33, "<< /C 34 0 R >>")
        .obj(34, "<< /S /GoTo /D [4 0 R /Fit] /Next 35 0 R >>")
        .obj(35, "<< /S /URI /URI (http://example.org) /Next 34 0 R >>")
        .obj(36, "<< /S /Named /N /NextPage >>")
        .xref_table("/Root 1 0 R");
    const Sanitized s(pdf);
    EXPECT_EQ(s.text(1),
              "<< /Type /Catalog /Pages 2 0 R /AA << /WC 32 0 R >> /AcroForm << /Fields [20 0 R "
              "21 0 R 22 0 R] >> >>");
    EXPECT_EQ(s.text(3), "<< /Type /Page /Parent 2 0 R >>");
    EXPECT_EQ(s.text(4), "-");
    EXPECT_EQ(s.text(5), "<< /Type /Page /Parent 2 0 R >>");
    EXPECT_EQ(s.text(20), "<< /Subtype /Widget /FT /Btn /T (a) >>");
    EXPECT_EQ(s.text(21), "-");
    EXPECT_EQ(s.text(22), "<< /Subtype /Widget /FT /Btn /T (c) /AA << /K 36 0 R >> >>");
    // The active action objects go; navigation they were chained to is left
    // to the writer, which keeps only what is still named.
    EXPECT_EQ(s.dropped(), (std::vector<int32_t>{31}));
}

TEST(SanitizeActiveContent, LongSharedChainsAreReadOnce) {
    // 3000 pages share one chain of 3000 actions whose last one is a script:
    // every page loses its /AA, in linear time.
    constexpr int kPages = 3000, kChain = 3000, kFirstAction = 10000;
    std::vector<std::string> pages(kPages, "/AA << /O " + std::to_string(kFirstAction) + " 0 R >> ");
    PdfBuilder pdf = with_pages("", pages);
    for (int i = 0; i < kChain; ++i) {
        const int num = kFirstAction + i;
        pdf.obj(num, i + 1 < kChain ? "<< /S /GoTo /D [3 0 R /Fit] /Next " +
                                          std::to_string(num + 1) + " 0 R >>"
                                    : std::string("<< /S /JavaScript /JS (x) >>"));
    }
    pdf.xref_table("/Root 1 0 R");
    const Sanitized s(pdf);
    for (int i = 0; i < kPages; i += 997)
        EXPECT_EQ(s.text(3 + i), "<< /Type /Page /Parent 2 0 R >>") << i;
    EXPECT_EQ(s.dropped(), (std::vector<int32_t>{kFirstAction + kChain - 1}));
}

TEST(SanitizeHiddenInfo, NoCatalogNoPagesNoCrash) {
    PdfBuilder pdf;
    pdf.obj(1, "<< /Title (t) >>")
        .obj(2, "<< /Subtype /Widget /V (v) >>")
        .xref_table("/Info 1 0 R");
    const Sanitized s(pdf);
    EXPECT_EQ(s.dropped(), (std::vector<int32_t>{1}));
    EXPECT_EQ(s.text(2), "<< /Subtype /Widget >>");
}

TEST(SanitizeCoveredWidgets, OnlyWidgetsUnderARegionOfTheirPageLoseTheirAppearance) {
    // Page 3 holds widgets 10 (under the region), 11 (elsewhere), 12 (corners
    // given backwards, touching the region's edge), 13 (a link, already left
    // out) and 15 (a value, rewritten before); page 4 holds 14, at the same
    // place as 10.
    const std::string ap = "/AP << /N 20 0 R >> /AS /On";
    PdfBuilder pdf =
        with_pages("", {"/Annots [10 0 R 11 0 R 12 0 R 13 0 R 15 0 R] ", "/Annots [14 0 R] "});
    pdf.obj(10, "<< /Subtype /Widget /Rect [100 100 200 120] " + ap + " >>")
        .obj(11, "<< /Subtype /Widget /Rect [400 400 500 420] " + ap + " >>")
        .obj(12, "<< /Subtype /Widget /Rect [300 260 250 250] " + ap + " >>")
        .obj(13, "<< /Subtype /Link /Rect [100 100 200 120] " + ap + " >>")
        .obj(14, "<< /Subtype /Widget /Rect [100 100 200 120] " + ap + " >>")
        .obj(15, "<< /Subtype /Widget /FT /Tx /V (secret) /Rect [150 100 160 120] " + ap + " >>")
        .stream(20, "/Subtype /Form /BBox [0 0 100 20]", "BT (secret) Tj ET")
        .xref_table("/Root 1 0 R");
    Sanitized s(pdf);
    // Page 1.7 is page 1; the region ends exactly where widget 12 begins.
    const Region regions[] = {{1.7f, 150, 110, 100, 140}, {2, 0, 0, 10, 10}};
    hide_covered_widgets(s.doc, regions, 2, s.drop, s.texts, s.size);
    EXPECT_EQ(s.text(10), "<< /Subtype /Widget /Rect [100 100 200 120] >>");
    EXPECT_EQ(s.text(11), "-");
    EXPECT_EQ(s.text(12), "<< /Subtype /Widget /Rect [300 260 250 250] >>");
    EXPECT_EQ(s.text(13), "-");
    EXPECT_EQ(s.text(14), "-");
    EXPECT_EQ(s.text(15), "<< /Subtype /Widget /FT /Tx /Rect [150 100 160 120] >>");
}

TEST(SanitizeCoveredWidgets, RegionEdgeCases) {
    // One widget at [100 100 200 200] against one region at a time.
    struct Case {
        Region region;
        bool hidden;
    };
    const Case cases[] = {
        {{1, 200, 200, 5, 5}, true},      // touching at a corner
        {{1, 201, 100, 5, 5}, false},     // just right of it
        {{1, 250, 150, -60, 10}, true},   // negative width reaching into it
        {{1, 150, 99, 10, -5}, false},    // negative height pointing away
        {{0.9f, 150, 150, 1, 1}, false},  // page 0.9 is page 0
        {{2, 150, 150, 1, 1}, false},     // another page
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.region.page << " " << c.region.x << " " << c.region.y
                                        << " " << c.region.width << " " << c.region.height);
        PdfBuilder pdf = with_pages("", {"/Annots [10 0 R] ", ""});
        pdf.obj(10, "<< /Subtype /Widget /Rect [100 100 200 200] /AS /Off >>")
            .xref_table("/Root 1 0 R");
        Sanitized s(pdf, false);
        hide_covered_widgets(s.doc, &c.region, 1, s.drop, s.texts, s.size);
        EXPECT_EQ(s.text(10), c.hidden ? "<< /Subtype /Widget /Rect [100 100 200 200] >>" : "-");
    }
}

}  // namespace
