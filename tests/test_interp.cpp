// The content interpreter: where glyphs stand under the graphics and text
// state, what it records of images, forms and marked content, and what it
// finds open at the end.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "content_fixture.h"
#include "interp.h"

namespace {

using pdftest::object;
using pdftest::PageFixture;

// Interprets content with no resources: every font falls back to the
// standard tables its name selects, else 0.5 em.
ContentTrace interpret(const std::string &content, FontCache &fonts) {
    static Doc empty;
    const PdfObj none;
    const ContentContext ctx{empty, fonts, none};
    ContentTrace t;
    interpret_content(ctx, reinterpret_cast<const unsigned char *>(content.data()),
                      static_cast<int32_t>(content.size()), Matrix{}, t);
    return t;
}

Point origin(const ContentTrace &t, size_t glyph) {
    EXPECT_LT(glyph, t.glyphs.size());
    return glyph < t.glyphs.size() ? trace_glyph_origin(t, static_cast<int32_t>(glyph)) : Point{};
}

TEST(Interp, GlyphOriginsFollowTheGraphicsAndTextState) {
    struct Case {
        const char *content;
        double x, y;  // origin of the last glyph
    };
    const Case cases[] = {
        {"BT 100 700 Td (x) Tj ET", 100, 700},
        // A cm before the text moves it (the way ReportLab and FOP place text).
        {"q 1 0 0 1 78 647.9 cm BT 1 0 0 1 0 50 Tm (x) Tj ET Q", 78, 697.9},
        // A flipped page and the size in the text matrix (cairo, WeasyPrint).
        {"1 0 0 -1 0 842 cm BT 12 0 0 -12 60 80 Tm /F1 1 Tf (ab) Tj ET", 66, 762},
        {"BT 50 Tz 10 Tf (ab) Tj ET", 2.5, 0},      // horizontal scaling
        {"BT 3 Ts (x) Tj ET", 0, 3},                // rise
        {"BT 10 Tf 2 Tc (ab) Tj ET", 7, 0},         // character spacing
        {"BT 10 Tf 3 Tw ( b) Tj ET", 8, 0},         // word spacing after a one-byte space
        {"BT 16 TL 3 4 Td T* (x) Tj ET", 3, -12},
        {"BT 0 -14 TD T* (x) Tj ET", 0, -28},       // TD sets the leading
        {"BT 16 TL 3 4 Td (ab) Tj (x) ' ET", 3, -12},  // ' moves to the next line
        {"BT 16 TL 3 4 Td 1 2 (ab) \" ET", 10, -12},   // " sets Tc (and Tw) first
        {"BT [(a) -500 (x)] TJ ET", 10, 0},         // TJ numbers move back the pen
        {"BT (ab) Tj (x) Tj ET", 10, 0},            // shows continue from the pen
        {"BT q 20 Tf Q (ab) Tj ET", 5, 0},          // Q restores the size
        {"BT /Helvetica 10 Tf /GS1 gs /Span <</MCID 1>> BDC (ab) Tj EMC ET", 5.56, 0},
        {"BT 1 0 0 1 50 Tm (x) Tj ET", 0, 0},       // Tm needs six numbers
        {"q 2 0 0 2 10 10 cm BT 5 5 Td (ab) Tj ET Q", 30, 20},
        {"Q Q Q BT 7 7 Td (x) Tj ET", 7, 7},        // a stray Q restores nothing
    };
    for (const Case &c : cases) {
        FontCache fonts;
        const ContentTrace t = interpret(c.content, fonts);
        ASSERT_FALSE(t.glyphs.empty()) << c.content;
        const Point p = origin(t, t.glyphs.size() - 1);
        EXPECT_NEAR(p.x, c.x, 1e-6) << c.content;
        EXPECT_NEAR(p.y, c.y, 1e-6) << c.content;
    }
}

TEST(Interp, FontsComeFromTheResourcesByTheTfOperandOnly) {
    // /F3 is Times-Roman (as ReportLab names it): M is 889/1000 em, not 0.5.
    PageFixture page("BT /F3 10 Tf /Im0 Do (Ma) Tj ET q /F9 10 Tf Q (b) Tj", "/Font << /F3 10 0 R >>",
                     {object(10, "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman >>")});
    ASSERT_TRUE(page.loaded);
    FontCache fonts;
    const ContentTrace t = page.trace(fonts);
    ASSERT_EQ(t.glyphs.size(), 3u);
    EXPECT_NEAR(origin(t, 1).x, 8.89, 1e-6);
    // The font chosen inside q ... Q is gone after it.
    EXPECT_EQ(t.ops[1].font, t.ops[0].font);
}

TEST(Interp, EachTfFindsTheFontItNamesAmongMany) {
    // Twenty fonts, chosen in turn twice over, then by names that share a
    // prefix or spell one with an escape: more fonts than the interpreter
    // keeps at hand.
    constexpr int kFonts = 20;
    std::string content = "BT";
    std::string resources = "/Font <<";
    std::vector<pdftest::FixtureObject> objects;
    for (int pass = 0; pass < 2; ++pass)
        for (int k = 0; k < kFonts; ++k) content += " /F" + std::to_string(k) + " 10 Tf (a) Tj";
    content += " /F1 10 Tf (a) Tj /F#31 10 Tf (a) Tj /F10 10 Tf (a) Tj ET";
    for (int k = 0; k < kFonts; ++k) {
        resources += " /F" + std::to_string(k) + " " + std::to_string(10 + k) + " 0 R";
        objects.push_back(object(10 + k, "<< /Type /Font /Subtype /Type1 /BaseFont /Font" + std::to_string(k) +
                                             " /FirstChar 97 /LastChar 97 /Widths [" +
                                             std::to_string(100 + k) + "] >>"));
    }
    PageFixture page(content, resources + " >>", objects);
    ASSERT_TRUE(page.loaded);
    FontCache fonts;
    const ContentTrace t = page.trace(fonts);
    ASSERT_EQ(t.ops.size(), static_cast<size_t>(2 * kFonts + 3));
    for (int k = 0; k < kFonts; ++k) {
        SCOPED_TRACE(k);
        EXPECT_NEAR(font_width(*t.ops[static_cast<size_t>(k)].font, 'a'), (100 + k) / 1000.0, 1e-6);
        EXPECT_EQ(t.ops[static_cast<size_t>(k + kFonts)].font, t.ops[static_cast<size_t>(k)].font);
    }
    EXPECT_EQ(t.ops[2 * kFonts].font, t.ops[1].font);
    EXPECT_EQ(t.ops[2 * kFonts + 1].font, t.ops[1].font);
    EXPECT_EQ(t.ops[2 * kFonts + 2].font, t.ops[10].font);
}

TEST(Interp, FontResourcesWithNumbersOutOfRangeFallBack) {
    // A reference to an object number no table can hold names no object;
    // /Differences codes far out of range name nothing.
    PageFixture page("BT /F1 10 Tf (M) Tj /F2 10 Tf (MA) Tj ET", "/Font << /F1 99999999999 0 R /F2 10 0 R >>",
                     {object(10, "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman"
                                 " /Encoding << /Differences [55240555524055555552 /A -3 /B] >> >>")});
    ASSERT_TRUE(page.loaded);
    FontCache fonts;
    const ContentTrace t = page.trace(fonts);
    ASSERT_EQ(t.glyphs.size(), 3u);
    EXPECT_NEAR(origin(t, 1).x, 5, 1e-6);     // 0.5 em: no font
    EXPECT_NEAR(origin(t, 2).x, 13.89, 1e-6);  // Times-Roman M, as its encoding has it
}

TEST(Interp, RecordsImagesFormsSpansAndStrayRestores) {
    FontCache fonts;
    const ContentTrace t = interpret(
        "q 2 0 0 3 5 6 cm /Fm0 Do Q BI /W 1 /H 1 ID \x01\x02 EI /P <</ActualText (fi)>> BDC (x) Tj EMC Q",
        fonts);
    ASSERT_EQ(t.xobjects.size(), 1u);
    EXPECT_EQ(t.xobjects[0].ctm.a, 2);
    EXPECT_EQ(t.xobjects[0].ctm.f, 6);
    ASSERT_EQ(t.images.size(), 1u);
    EXPECT_EQ(t.images[0].data_end - t.images[0].data_start, 2);
    ASSERT_EQ(t.spans.size(), 1u);
    EXPECT_TRUE(t.spans[0].has_actual_text);
    EXPECT_EQ(t.spans[0].actual_text, U"fi");
    EXPECT_EQ(t.spans[0].end_glyph - t.spans[0].first_glyph, 1);
    EXPECT_EQ(t.stray_restores.size(), 1u);
}

TEST(Interp, WhatIsOpenAtTheEnd) {
    struct Case {
        const char *content;
        const char *closers;
        bool in_text;
        size_t open_images;
        int q_depth;
    };
    const Case cases[] = {
        {"BT (abc) Tj ET", "", false, 0, 0},
        {"q q BT (abc) Tj", "", true, 0, 2},
        {"BT (ab(c", "\n))", true, 0, 0},
        {"(ab\\", "\n)", false, 0, 0},
        {"<41", "\n>", false, 0, 0},
        {"[(a) (b", "\n)]", false, 0, 0},
        {"/P <</MCID 0 /Alt (x", "\n)>>", false, 0, 0},
        {"/P <</A <</B <41", "\n>>>>>", false, 0, 0},
        {"BI /W 1 ID \x01", "", false, 1, 0},
        {"BI ID \x01 EI BI ID E\nBI ID E", "", false, 2, 0},
    };
    for (const Case &c : cases) {
        FontCache fonts;
        const ContentTrace t = interpret(c.content, fonts);
        EXPECT_EQ(t.closers, c.closers) << c.content;
        EXPECT_EQ(t.in_text, c.in_text) << c.content;
        EXPECT_EQ(t.open_images.size(), c.open_images) << c.content;
        EXPECT_EQ(t.q_depth, c.q_depth) << c.content;
    }
}

TEST(Interp, HostileStateStaysSane) {
    // Thousands of q, a huge and a singular matrix, a Tf naming nothing, a
    // font size of 400 digits: positions stay finite.
    std::string content;
    for (int i = 0; i < 3000; ++i) content += "q ";
    content += std::string(400, '9') + " 0 0 1 0 0 cm 0 0 0 0 0 0 cm BT /Nothing " +
               std::string(400, '9') + " Tf (ab) Tj ET";
    for (int i = 0; i < 3100; ++i) content += " Q";
    FontCache fonts;
    const ContentTrace t = interpret(content, fonts);
    ASSERT_EQ(t.glyphs.size(), 2u);
    EXPECT_TRUE(std::isfinite(origin(t, 1).x));
    EXPECT_EQ(t.q_depth, 0);
    EXPECT_EQ(t.stray_restores.size(), 100u);
}

}  // namespace
