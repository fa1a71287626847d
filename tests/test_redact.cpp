// Content redaction: which glyphs go, how their bytes are rewritten so that
// everything else keeps its place, and the boxes painted over them.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "content_fixture.h"
#include "redact.h"

namespace {

using pdftest::extracted_text;
using pdftest::object;
using pdftest::PageFixture;
using pdftest::painted_boxes;
using pdftest::stream_object;

struct Redacted {
    std::string out;  // the content after redaction (the input when unchanged)
    int painted = 0;
    int matches = 0;
};

// One stream with no resources: fonts fall back to the standard tables
// their names select, else 0.5 em.
Redacted redact(const std::string &content, const char *search, std::vector<Region> regions = {},
                int page = 1, int red = 0, int green = 0, int blue = 0) {
    static Doc empty;
    FontCache fonts;
    const PdfObj none;
    const ContentContext ctx{empty, fonts, none};
    SearchSet set;
    const bool searching = search != nullptr && search_set_add(set, search);
    search_set_build(set);
    RedactJob job;
    job.search = searching ? &set : nullptr;
    job.regions = regions.empty() ? nullptr : regions.data();
    job.region_count = static_cast<int>(regions.size());
    job.red = red;
    job.green = green;
    job.blue = blue;
    Placement placement;
    placement.page = page;
    Redacted r;
    Buf out;
    redact_content(ctx, reinterpret_cast<const unsigned char *>(content.data()),
                   static_cast<int32_t>(content.size()), job, placement, out, &r.painted, &r.matches);
    if (out.data) r.out.assign(reinterpret_cast<const char *>(out.data.get()), out.len);
    return r;
}

double origin_x(const ContentTrace &t, size_t glyph) {
    EXPECT_LT(glyph, t.glyphs.size());
    return glyph < t.glyphs.size() ? trace_glyph_origin(t, static_cast<int32_t>(glyph)).x : 0;
}

std::string block(const std::string &boxes, const char *colour = "0.0000 0.0000 0.0000") {
    return std::string("\nq\n") + colour + " rg\n" + boxes + "Q\n";
}

// The content as rewritten when a block is painted: wrapped in q ... Q.
std::string wrapped(const std::string &content, const std::string &boxes, const std::string &closers = "",
                    int restores = 1) {
    std::string q;
    for (int i = 0; i < restores; ++i) q += "\nQ";
    return "q\n" + content + closers + q + block(boxes);
}

TEST(RedactContent, WorkedExampleWithoutAFont) {
    auto r = redact("BT /F1 12 Tf 100 700 Td (Secret) Tj ET", "secret");
    EXPECT_EQ(r.out, wrapped("BT /F1 12 Tf 100 700 Td (      ) Tj ET", "99.00 696.00 38.00 15.80 re f\n"));
    EXPECT_EQ(r.matches, 1);
    EXPECT_EQ(r.painted, 1);
}

TEST(RedactContent, FontNameSelectsTheStandardTableWhenTheResourceIsMissing) {
    // S e c r e t in Helvetica-Bold: 667 556 556 389 556 333 = 3.057 em.
    auto r = redact("BT /Helvetica-Bold 12 Tf 100 700 Td (Secret) Tj ET", "SECRET");
    EXPECT_EQ(painted_boxes(r.out), std::vector<std::string>{"99.00 696.00 38.68 15.80"}) << r.out;
}

TEST(RedactContent, NothingFoundLeavesTheContentAlone) {
    auto r = redact("BT /F1 12 Tf (public) Tj ET", "secret");
    EXPECT_EQ(r.out, "BT /F1 12 Tf (public) Tj ET");
    EXPECT_EQ(r.painted, 0);
    EXPECT_EQ(r.matches, 0);
}

TEST(RedactContent, RegionsOnThisPageArePaintedAfterMatches) {
    auto r = redact("", nullptr, {{1, 10, 20, 30, 40}, {2.9f, 1, 1, 1, 1}, {1.9f, 5, 6, 7, 8}});
    EXPECT_EQ(r.out, block("10.00 20.00 30.00 40.00 re f\n5.00 6.00 7.00 8.00 re f\n"));
    EXPECT_EQ(redact("", nullptr, {{2.9f, 1, 1, 1, 1}}, 2).painted, 1);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(redact("", nullptr, {{nan, 1, 1, 1, 1}, {3e9f, 1, 1, 1, 1}}).painted, 0);
    auto both = redact("BT 100 700 Td (x) Tj ET", "x", {{1, 0, 0, 10, 10}});
    EXPECT_EQ(painted_boxes(both.out),
              (std::vector<std::string>{"99.00 696.50 7.00 13.50", "0.00 0.00 10.00 10.00"}));
}

TEST(RedactContent, FillColourIsClampedToTheUnitRange) {
    EXPECT_NE(redact("", nullptr, {{1, 0, 0, 1, 1}}, 1, 255, 0, 0).out.find("1.0000 0.0000 0.0000 rg"),
              std::string::npos);
    EXPECT_NE(redact("", nullptr, {{1, 0, 0, 1, 1}}, 1, 300, -5, 128).out.find("1.0000 0.0000 0.5020 rg"),
              std::string::npos);
}

TEST(RedactContent, RegionHitsByOriginOrHalfTheBox) {
    // Glyphs at 100, 105, 110, 115 (size 10, 0.5 em each).
    // Origins within the region widened by 1 sideways and 2 vertically.
    EXPECT_EQ(redact("BT 100 700 Td (abcd) Tj ET", nullptr, {{1, 105, 695, 5, 10}}).out,
              wrapped("BT 100 700 Td (a  d) Tj ET", "105.00 695.00 5.00 10.00 re f\n"));
    // No origin lies in the region, but it covers 6 of the 11.5 units of the
    // height of b's box (697.5 to 709): half or more of the box is enough.
    auto half = redact("BT 100 700 Td (abcd) Tj ET", nullptr, {{1, 105, 703, 5, 12}});
    EXPECT_NE(half.out.find("(a cd) Tj"), std::string::npos) << half.out;
    // A region on another page neither blanks nor paints.
    EXPECT_EQ(redact("BT 100 700 Td (abcd) Tj ET", nullptr, {{2, 105, 695, 5, 10}}).painted, 0);
}

TEST(RedactContent, InlineImageDataIsNeverText) {
    const std::string image = "BI /W 4 /H 1 /BPC 8 /CS /G ID \x01(%secret\xff EI\n";
    auto r = redact(image + "BT (secret) Tj ET", "secret");
    EXPECT_EQ(r.matches, 1);
    EXPECT_NE(r.out.find(image + "BT (      ) Tj ET"), std::string::npos);
    struct Case {
        const char *content;
        int matches;
    };
    const Case cases[] = {
        {"BI ID (secret) Tj", 1},                        // no EI: read as content
        {"BI ID \x01 EI BI ID \x02 EI (secret) Tj", 1},  // two images in a row
        {"BI ID xEI (secret) Tj BI ID y EI", 1},         // the first EI ends the image
        {"ID (secret) Tj EI", 1},                        // ID without BI is no image
    };
    for (const Case &c : cases) EXPECT_EQ(redact(c.content, "secret").matches, c.matches) << c.content;
}

TEST(RedactContent, ThePaintedBlockIsReadAsOperatorsWhateverTheEndState) {
    // The region covers the glyph at the origin only.
    struct Case {
        const char *content;
        const char *after;    // the content after redaction
        const char *closers;  // what closes it before the block
        int restores;         // Q operators before the block
    };
    const Case cases[] = {
        {"BT (abc) Tj ET", "BT ( bc) Tj ET", "", 1},
        {"BT (abc) Tj", "BT ( bc) Tj", "\nET", 1},
        {"q q 2 0 0 2 0 0 cm BT (abc) Tj ET", "q q 2 0 0 2 0 0 cm BT ( bc) Tj ET", "", 3},
        // A stray Q would end the wrap; inside an array it ends the array.
        {"Q BT (abc) Tj ET", "q Q BT ( bc) Tj ET", "", 1},
        {"BT [(x) Q(y)] TJ (abc) Tj ET", "BT [(x) q Q(y)] TJ ( bc) Tj ET", "", 1},
        {"BT (a) Tj (ab(c", "BT ( ) Tj (ab(c", "\n))\nET", 1},
        {"<41", "<41", "\n>", 1},
        {"/P <</MCID 0 /Alt (x", "/P <</MCID 0 /Alt (x", "\n)>>", 1},
        {"BT (a) Tj % a comment", "BT ( ) Tj % a comment", "\nET", 1},
        // A blanked parenthesis leaves the one that balanced it escaped.
        {"BT ((ab)) Tj ET", "BT [( ab\\))] TJ ET", "", 1},
        // An image without EI is closed after its ID: what follows stays
        // content, as it was read.
        {"BI /W 1 ID \x01", "BI /W 1 ID\nEI\n \x01", "", 1},
        {"BT BI ID(abc) Tj", "BT BI ID\nEI\n( bc) Tj", "\nET", 1},
    };
    for (const Case &c : cases) {
        auto r = redact(c.content, nullptr, {{1, 0, 0, 1, 1}});
        EXPECT_EQ(r.out, wrapped(c.after, "0.00 0.00 1.00 1.00 re f\n", c.closers, c.restores))
            << c.content;
    }
}

TEST(RedactContent, UnclosedArraysAndDictionariesHideNothing) {
    // An operator inside an array or dictionary that never closed breaks it
    // open: what it held is shown as if it had not been opened.
    EXPECT_EQ(redact("[(a) Tj (secret) Tj", "secret").matches, 1);
    EXPECT_EQ(redact("<< /A (x) (secret) Tj", "secret").matches, 1);
    // A comment inside a property list or an array hides no "(".
    EXPECT_EQ(redact("/P <</MCID 0 % (\n>> BDC BT (secret) Tj ET EMC", "secret").matches, 1);
    EXPECT_EQ(redact("BT [(a) % (\n] TJ (secret) Tj ET", "secret").matches, 1);
}

TEST(RedactContent, StringsOnlyCountWhereTheyAreShown) {
    // A string that no show operator takes is drawn by no reader.
    EXPECT_EQ(redact("(secret) foo", "secret").matches, 0);
    EXPECT_EQ(redact("BT (secret) (public) Tj ET", "secret").matches, 0);
    // Balanced parentheses are bytes of the string.
    auto r = redact("BT (a(secret)b) Tj ET", "(secret)");
    EXPECT_EQ(r.matches, 1);
    EXPECT_NE(r.out.find("(a        b) Tj"), std::string::npos) << r.out;
}

TEST(RedactContent, MatchesCrossShowOperatorsButNotWordBreaks) {
    EXPECT_EQ(redact("BT [(Hel) -20 (lo)] TJ ET", "hello").matches, 1);
    EXPECT_EQ(redact("BT (Hel) Tj (lo) Tj ET", "hello").matches, 1);
    // A gap of more than about 0.12 em is a word break: a space in the search
    // text matches it, a letter does not.
    EXPECT_EQ(redact("BT [(Hel) -300 (lo)] TJ ET", "hello").matches, 0);
    EXPECT_EQ(redact("BT [(Hel) -300 (lo)] TJ ET", "hel lo").matches, 1);
    EXPECT_EQ(redact("BT (HeLLo) Tj 20 0 Td (hello) Tj ET", "hello").matches, 2);
}

TEST(RedactContent, BoxNumbersStayFinite) {
    const std::string huge(400, '9');
    auto r = redact("BT /F1 " + huge + " Tf (x) Tj ET", "x");
    EXPECT_EQ(r.matches, 1);
    EXPECT_EQ(r.out.find("inf"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("nan"), std::string::npos) << r.out;
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(redact("", nullptr, {{1, -inf, 0, inf, 5}}).out,
              block("-1000000000.00 0.00 1000000000.00 5.00 re f\n"));
}

TEST(RedactContent, AlternateTextGoesWithItsGlyphs) {
    // Region mode: the span whose glyph was redacted loses its alternate
    // text; the other span keeps it.
    auto r = redact(
        "/Span <</ActualText (Top secret) /Alt <FEFF0041> /E (x)>> BDC (ab) Tj EMC "
        "/Span <</ActualText (kept)>> BDC 100 0 Td (cd) Tj EMC",
        nullptr, {{1, 0, -5, 3, 10}});
    EXPECT_NE(r.out.find("/Span <</ActualText (          ) /Alt <20202020> /E ( )>> BDC ( b) Tj EMC "
                         "/Span <</ActualText (kept)>> BDC 100 0 Td (cd) Tj EMC"),
              std::string::npos)
        << r.out;
    // Text mode: /ActualText stands for its glyphs in the text, so a match
    // in it takes the glyphs (and paints their box); /Alt is text of its own.
    auto t = redact("/Span <</ActualText (my SECRET) /Alt <FEFF0053006500630072006500740021>>> "
                    "BDC <0102> Tj EMC",
                    "secret");
    EXPECT_EQ(t.matches, 2);
    EXPECT_NE(t.out.find("/Span <</ActualText (         ) /Alt <20202020202020202020202020202020>>> "
                         "BDC <2020> Tj EMC"),
              std::string::npos)
        << t.out;
    EXPECT_EQ(painted_boxes(t.out).size(), 1u);
}

// ---- Fonts from the resources ----------------------------------------------------

const char *const kTimes = "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman >>";

TEST(RedactFonts, ARegionOverAWordOfAResourceFontTakesTheWholeWord) {
    // "Christopher Marlowe wrote" in Times-Roman named /F3, placed with a cm
    // as ReportLab does: the region covers "Marlowe" and no more.
    PageFixture page("q 1 0 0 1 78 647.9 cm BT /F3 12 Tf 1 0 0 1 0 50 Tm (Christopher Marlowe wrote) Tj ET Q",
                     "/Font << /F3 10 0 R >>", {object(10, kTimes)});
    ASSERT_TRUE(page.loaded);
    // "Christopher " is 4.972 em = 59.664 at 12; "Marlowe" 3.610 em = 43.32.
    const Region region{1, 78 + 59.664f, 695, 42.3f, 12};
    RedactJob job;
    job.regions = &region;
    job.region_count = 1;
    auto r = page.redact(job);
    ASSERT_EQ(r.rc, 1);
    EXPECT_EQ(extracted_text(page, r.pages[0]), "christopher wrote");
    EXPECT_NE(r.pages[0].find("[(Christopher        ) -1860 ( wrote)] TJ"), std::string::npos)
        << r.pages[0];
}

// The page redacted in text mode for "secret".
auto redact_secret(PageFixture &page) {
    SearchSet set;
    search_set_add(set, "secret");
    search_set_build(set);
    RedactJob job;
    job.search = &set;
    return page.redact(job);
}

TEST(RedactFonts, TheWordsAfterABlankedRunKeepTheirPlace) {
    // Spaces are narrower than letters: the blanked run is followed by a TJ
    // number that moves the pen to where the letters ended.
    // secret: 389 444 444 333 444 278 = 2332; six spaces 1500: 832 to move.
    struct Case {
        const char *content;
        const char *rewritten;
        std::vector<size_t> kept;  // glyphs that must not move
    };
    const Case cases[] = {
        {"BT /F3 10 Tf 100 700 Td (my secret word) Tj (!) Tj ET", "[(my       ) -832 ( word)] TJ (!) Tj",
         {10, 14}},
        // A show after ET with no BT goes on from where the text object left
        // the pen.
        {"BT /F3 10 Tf 100 700 Td (my secret) Tj ET (word) Tj", "[(my       ) -832 ] TJ ET (word) Tj",
         {9, 12}},
        // The quote operators become T* and TJ, kept apart from a token
        // that touched their string.
        {"BT /F3 10 Tf 12 TL 100 700 Td (x) Tj 0 0(my secret word)\" ET",
         "0 Tw 0 Tc T* [(my       ) -832 ( word)]TJ", {0, 11, 14}},
        {"BT /F3 10 Tf 12 TL 100 700 Td (x) Tj(my secret word)' ET", "Tj T* [(my       ) -832 ( word)]TJ",
         {0, 11, 14}},
        // An operand of " that is not a number is ignored; the operator set
        // after it keeps apart from the number that touched it.
        {"BT /F3 10 Tf 12 TL 100 700 Td (x) Tj (z)4(my secret word)\" ET",
         "(z) Tw 4 Tc T* [(my       ) -832.0001 ( word)]TJ", {0, 11, 14}},
    };
    for (const Case &c : cases) {
        PageFixture page(c.content, "/Font << /F3 10 0 R >>", {object(10, kTimes)});
        ASSERT_TRUE(page.loaded);
        auto r = redact_secret(page);
        ASSERT_EQ(r.rc, 1);
        EXPECT_NE(r.pages[0].find(c.rewritten), std::string::npos) << r.pages[0];
        FontCache fonts;
        const ContentTrace before = page.trace(fonts);
        const PdfObj resources = page_resources(page.doc, 3);
        const ContentContext ctx{page.doc, fonts, resources};
        ContentTrace after;
        interpret_content(ctx, reinterpret_cast<const unsigned char *>(r.pages[0].data()),
                          static_cast<int32_t>(r.pages[0].size()), Matrix{}, after);
        ASSERT_EQ(after.glyphs.size(), before.glyphs.size());
        for (size_t k : c.kept) EXPECT_NEAR(origin_x(before, k), origin_x(after, k), 1e-3) << c.content << " " << k;
    }
}

TEST(RedactFonts, ANumberAfterABlankedStringStaysANumberOfItsOwn) {
    // pdfTeX writes TJ numbers right after strings: "(secret)-375(word)".
    PageFixture page("BT /F3 10 Tf 100 700 Td [(secret)-375(word)] TJ ET", "/Font << /F3 10 0 R >>",
                     {object(10, kTimes)});
    ASSERT_TRUE(page.loaded);
    auto r = redact_secret(page);
    ASSERT_EQ(r.rc, 1);
    EXPECT_NE(r.pages[0].find("[(      ) -832 -375(word)] TJ"), std::string::npos) << r.pages[0];
}

}  // namespace
