// Content redaction: glyph decoding, matching, region hits and the rewritten
// content stream with its painted block.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "redact.h"

namespace {

struct Redacted {
    std::string out;      // what redact_page_content appended
    std::string content;  // the content after in-place editing
    int painted = 0;
    int matches = 0;
};

Redacted redact(std::string content, const char *search, std::vector<Region> regions = {},
                int page = 1, int red = 0, int green = 0, int blue = 0) {
    Redacted r;
    Buf out;
    redact_page_content(reinterpret_cast<unsigned char *>(content.data()),
                        static_cast<int32_t>(content.size()), out, search,
                        regions.empty() ? nullptr : regions.data(),
                        static_cast<int>(regions.size()), page, red, green, blue, &r.painted,
                        &r.matches);
    if (out.data) r.out.assign(reinterpret_cast<const char *>(out.data.get()), out.len);
    r.content = content;
    return r;
}

std::string block(const std::string &boxes, const char *colour = "0.0000 0.0000 0.0000") {
    return std::string("\nq\n") + colour + " rg\n" + boxes + "Q\n";
}

std::vector<Glyph> literal_glyphs(const std::string &s, double size = 10,
                                  const uint16_t *widths = nullptr) {
    GlyphList list;
    double x = 0;
    parse_literal_glyphs(reinterpret_cast<const unsigned char *>(s.data()),
                         static_cast<int32_t>(s.size()), 0, &x, 0, size, widths, list);
    return list;
}

std::string codes(const std::vector<Glyph> &list) {
    std::string s;
    for (const Glyph &g : list) s += static_cast<char>(g.code);
    return s;
}

}  // namespace

TEST(RedactLiteral, EscapesAndNesting) {
    struct Case {
        const char *source;
        std::string codes;
    };
    const Case cases[] = {
        {"(a(b)c)", "abc"},  // unescaped parentheses are not glyphs
        {"(A\\)B)", "A)B"},
        {"(\\n\\r\\t\\b\\f)", "\n\r\t\b\f"},
        {"(\\101\\501\\0061)", "AA\0061"},  // three octal digits at most, low 8 bits
        {"(a\\\nb\\\r\nc)", "abc"},           // line continuations
        {"(\\000\\0x)", "x"},                 // escaped NUL shows nothing
        {"(\\q)", "q"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(codes(literal_glyphs(c.source)), c.codes) << c.source;
    }
    // A raw NUL inside the string is a glyph like any other.
    EXPECT_EQ(codes(literal_glyphs(std::string("(a\0b)", 5))), std::string("a\0b", 3));
}

TEST(RedactLiteral, SourceRangesEndsAndAdvance) {
    const std::string s = "(A\\)\\101)";
    auto list = literal_glyphs(s);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[1].src_start, 2);
    EXPECT_EQ(list[1].src_end, 4);
    EXPECT_EQ(list[2].src_start, 4);
    EXPECT_EQ(list[2].src_end, 8);
    EXPECT_DOUBLE_EQ(list[2].x, 10.0);  // no table: 0.5 em at size 10

    GlyphList none;
    double x = 0;
    const auto *bytes = reinterpret_cast<const unsigned char *>("(abc");
    EXPECT_EQ(parse_literal_glyphs(bytes, 4, 0, &x, 0, 10, nullptr, none), 4);  // unclosed
    EXPECT_EQ(none.size(), 3u);
    EXPECT_EQ(parse_literal_glyphs(bytes, 1, 0, &x, 0, 10, nullptr, none), 1);  // lone "("
    const auto *trailing = reinterpret_cast<const unsigned char *>("(ab\\");
    EXPECT_EQ(parse_literal_glyphs(trailing, 4, 0, &x, 0, 10, nullptr, none), 3);
}

TEST(RedactHex, DecodingAndBlankingNeverCreatesAGlyph) {
    struct Case {
        const char *source;
        std::string codes;
        int blank;              // index of the glyph to blank
        const char *after;      // the string after blanking it
    };
    const Case cases[] = {
        {"<48656C6C6F>", "Hello", 1, "<48206C6C6F>"},
        {"<4 1>", "A", 0, "<2 0>"},     // the blank between the digits stays
        {"<7>", "p", 0, "<2>"},         // a lone final digit reads as 0x20
        {"<4x1 42>", "AB", 0, "<2x0 42>"},  // junk between digits belongs to the glyph
        {"<41 4", "A@", 1, "<41 2"},    // unclosed: pending digit at the end
    };
    for (const Case &c : cases) {
        std::string s = c.source;
        GlyphList list;
        double x = 0;
        parse_hex_glyphs(reinterpret_cast<const unsigned char *>(s.data()),
                         static_cast<int32_t>(s.size()), 0, &x, 0, 10, nullptr, list);
        EXPECT_EQ(codes(list), c.codes) << c.source;
        redact_glyph(reinterpret_cast<unsigned char *>(s.data()), list[c.blank]);
        EXPECT_EQ(s, c.after) << c.source;
        // Decoding again yields a space where the glyph was and nothing new.
        GlyphList again;
        parse_hex_glyphs(reinterpret_cast<const unsigned char *>(s.data()),
                         static_cast<int32_t>(s.size()), 0, &x, 0, 10, nullptr, again);
        std::string expected = c.codes;
        expected[c.blank] = ' ';
        EXPECT_EQ(codes(again), expected) << c.source;
    }
}

TEST(RedactMatch, BoxGeometryWithHelvetica) {
    std::string content = "(abc)";
    GlyphList list;
    double x = 100;
    parse_literal_glyphs(reinterpret_cast<const unsigned char *>(content.data()), 5, 0, &x, 700,
                         10, helvetica_widths, list);
    BoxList boxes;
    int counter = 0;
    EXPECT_EQ(process_glyphs(reinterpret_cast<unsigned char *>(content.data()), list, "ABC", 3,
                             10, boxes, nullptr, 0, 1, &counter),
              3);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_FLOAT_EQ(boxes[0].x, 99.0f);
    EXPECT_FLOAT_EQ(boxes[0].y, 696.5f);
    EXPECT_FLOAT_EQ(boxes[0].w, 18.12f);
    EXPECT_FLOAT_EQ(boxes[0].h, 13.5f);
    EXPECT_EQ(counter, 1);
    EXPECT_EQ(content, "(   )");
}

TEST(RedactMatch, RegionBoundsAreWidenedAndInclusive) {
    const Region region = {1, 100, 700, 50, 10};
    struct Case {
        double x, y;
        bool inside;
    };
    const Case cases[] = {
        {99.0, 705, true},   {98.99, 705, false}, {151.0, 705, true}, {151.01, 705, false},
        {120, 698.0, true},  {120, 697.99, false}, {120, 712.0, true}, {120, 712.01, false},
    };
    for (const Case &c : cases) {
        std::string content = "(a)";
        GlyphList list = {Glyph{'a', 1, 2, 0, c.x, c.y, 5}};
        BoxList boxes;
        process_glyphs(reinterpret_cast<unsigned char *>(content.data()), list, nullptr, 0, 10,
                       boxes, &region, 1, 1, nullptr);
        EXPECT_EQ(content == "( )", c.inside) << c.x << "," << c.y;
        EXPECT_TRUE(boxes.empty());  // regions are painted by the caller
    }
}

TEST(RedactContent, WorkedExampleWithoutWidthTable) {
    auto r = redact("BT /F1 12 Tf 100 700 Td (Secret) Tj ET", "secret");
    EXPECT_EQ(r.out, "BT /F1 12 Tf 100 700 Td (      ) Tj ET" +
                         block("99.00 696.00 38.00 15.80 re f\n"));
    EXPECT_EQ(r.matches, 1);
    EXPECT_EQ(r.painted, 1);
    EXPECT_EQ(r.content.size(), 38u);
}

TEST(RedactContent, FontNameSelectsTheWidthTable) {
    // S e c r e t in Helvetica-Bold: 667 556 556 389 556 333 = 3.057 em.
    auto r = redact("BT /Helvetica-Bold 12 Tf 100 700 Td (Secret) Tj ET", "SECRET");
    EXPECT_NE(r.out.find("99.00 696.00 38.68 15.80 re f\n"), std::string::npos) << r.out;
}

TEST(RedactContent, NothingToPaintLeavesContentAndFlagAlone) {
    auto r = redact("BT /F1 12 Tf (public) Tj ET", "secret");
    EXPECT_EQ(r.out, "BT /F1 12 Tf (public) Tj ET");
    EXPECT_EQ(r.painted, 0);
    EXPECT_EQ(r.matches, 0);
    EXPECT_EQ(redact("(x)", "").painted, 0);  // an empty search text matches nothing
}

TEST(RedactContent, RegionsOnThisPageArePaintedAfterMatches) {
    auto r = redact("", nullptr, {{1, 10, 20, 30, 40}, {2.9f, 1, 1, 1, 1}, {1.9f, 5, 6, 7, 8}});
    EXPECT_EQ(r.out, block("10.00 20.00 30.00 40.00 re f\n5.00 6.00 7.00 8.00 re f\n"));
    EXPECT_EQ(redact("", nullptr, {{2.9f, 1, 1, 1, 1}}, 2).painted, 1);
    // A NaN or enormous page belongs to no page.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(redact("", nullptr, {{nan, 1, 1, 1, 1}, {3e9f, 1, 1, 1, 1}}).painted, 0);
}

TEST(RedactContent, FillColourIsClampedToTheUnitRange) {
    EXPECT_NE(redact("", nullptr, {{1, 0, 0, 1, 1}}, 1, 255, 0, 0).out.find("1.0000 0.0000 0.0000 rg"),
              std::string::npos);
    EXPECT_NE(redact("", nullptr, {{1, 0, 0, 1, 1}}, 1, 300, -5, 128).out.find("1.0000 0.0000 0.5020 rg"),
              std::string::npos);
}

TEST(RedactContent, TextPositionOperators) {
    struct Case {
        const char *content;
        const char *box;  // the box of the match "x" (0.5 em wide)
    };
    const Case cases[] = {
        {"BT 0 Tf (x) Tj", "-1.00 -3.50 7.00 13.50"},       // Tf 0 means size 10
        {"BT 0.05 Tf (x) Tj", "-1.00 -3.50 7.00 13.50"},
        {"BT Tf (x) Tj", "-1.00 -3.50 7.00 13.50"},
        {"BT 20 Tf 5 6 Td 1 2 Td (x) Tj", "5.00 2.00 12.00 25.00"},
        {"BT 0 -14 TD T* (x) Tj", "-1.00 -31.50 7.00 13.50"},  // TD sets the leading
        {"BT 16 TL 3 4 Td T* (x) Tj", "2.00 -15.50 7.00 13.50"},
        // The quote operators show their string at the start of the next line.
        {"BT 16 TL 3 4 Td (ab) Tj (x) '", "2.00 -15.50 7.00 13.50"},
        {"BT 16 TL 3 4 Td (ab) Tj 1 2 <78>\"", "2.00 -15.50 7.00 13.50"},
        {"BT 1 0 0 1 50 60 Tm (x) Tj", "49.00 56.50 7.00 13.50"},
        {"BT 1 0 0 1 50 Tm (x) Tj", "-1.00 -3.50 7.00 13.50"},  // Tm needs six operands
        {"BT (ab) Tj (x) Tj", "9.00 -3.50 7.00 13.50"},          // strings advance the cursor
        {"BT [(a) -500 (x)] TJ", "9.00 -3.50 7.00 13.50"},       // -500 moves 5 right
        {"BT [3 2] 0 d (x) Tj", "-1.05 -3.50 7.00 13.50"},       // a dash array moves too
        // A 33rd number empties the operand stack, so Tm sees nothing.
        {"BT 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 23 24 25 26 27 28 29 30 "
         "31 32 33 Tm (x) Tj",
         "-1.00 -3.50 7.00 13.50"},
    };
    for (const Case &c : cases) {
        auto r = redact(c.content, "x");
        EXPECT_NE(r.out.find(std::string("\n") + c.box + " re f\n"), std::string::npos)
            << c.content << "\n" << r.out;
    }
}

TEST(RedactContent, MatchesSpanStringsOfOneArrayOnly) {
    auto joined = redact("BT [(Hel) -20 (lo)] TJ ET", "hello");
    EXPECT_EQ(joined.matches, 1);
    EXPECT_EQ(joined.content, "BT [(   ) -20 (  )] TJ ET");
    auto separate = redact("BT (Hel) Tj (lo) Tj ET", "hello");
    EXPECT_EQ(separate.matches, 0);
    EXPECT_EQ(redact("BT (HeLLo) Tj (hello) Tj ET", "hello").matches, 2);
}

TEST(RedactContent, RegionHitsBlankGlyphsByOrigin) {
    // Glyphs at 100, 105, 110, 115 (size 10, 0.5 em each); region covers 104..111.
    auto r = redact("BT 100 700 Td (abcd) Tj ET", nullptr, {{1, 105, 695, 5, 10}});
    EXPECT_EQ(r.content, "BT 100 700 Td (a  d) Tj ET");
    EXPECT_EQ(r.painted, 1);
    EXPECT_EQ(r.matches, 0);
    // A region on another page neither blanks nor paints.
    auto other = redact("BT 100 700 Td (abcd) Tj ET", nullptr, {{2, 105, 695, 5, 10}});
    EXPECT_EQ(other.content, "BT 100 700 Td (abcd) Tj ET");
    EXPECT_EQ(other.painted, 0);
}

TEST(RedactContent, InlineImageDataIsNeverText) {
    // The image data holds "(", "%" and the search text: none of it is read.
    const std::string image = "BI /W 4 /H 1 /BPC 8 /CS /G ID \x01(%secret\xff EI\n";
    auto r = redact(image + "BT (secret) Tj ET", "secret");
    EXPECT_EQ(r.matches, 1);
    EXPECT_EQ(r.content, image + "BT (      ) Tj ET");
    struct Case {
        const char *content;
        int matches;
    };
    const Case cases[] = {
        {"BI ID (secret) Tj", 1},                              // no EI: read as content
        {"BI ID \x01 EI BI ID \x02 EI (secret) Tj", 1},        // two images in a row
        {"BI ID xEI (secret) Tj BI ID y EI", 1},               // the first EI ends the image
        {"ID (secret) Tj EI", 1},                              // ID without BI is no image
        {"xxxxxxxxxxxxxxxBI ID (secret) Tj EI", 1},            // BI cut from a longer word
        {"BI /W 1 xxxxxxxxxxxxxxxID (secret) Tj EI", 1},       // ID cut from a longer word
    };
    for (const Case &c : cases) EXPECT_EQ(redact(c.content, "secret").matches, c.matches) << c.content;
}

TEST(RedactContent, PaintedBlockTakesEffectWhateverTheEndState) {
    // The region covers the glyph at the origin only. Closers start with a
    // newline: it ends a trailing comment and makes a dangling backslash a
    // line continuation.
    struct Case {
        const char *content;
        const char *output_content;  // the content after redaction
        const char *closers;
    };
    const Case cases[] = {
        {"BT (abc) Tj ET", "BT ( bc) Tj ET", ""},
        {"BT (abc) Tj", "BT ( bc) Tj", "\nET"},
        {"BT (ab(c", "BT ( b(c", "\n))\nET"},
        {"(ab\\", "( b\\", "\n)"},
        {"<41", "<20", "\n>"},
        {"[(a) (b", "[( ) (b", "\n)]"},
        // An unclosed inline dictionary is stepped into: its strings are read.
        {"/P <</MCID 0 /Alt (x", "/P <</MCID 0 /Alt ( ", "\n)>>"},
        {"/P <</A <</B <41", "/P <</A <</B <20", "\n>>>>>"},
        {"/P <</MCID 0 % note", "/P <</MCID 0 % note", "\n>>"},
        {"[(a) % note (", "[( ) % note (", "\n]"},
        {"BT (a) Tj % a comment", "BT ( ) Tj % a comment", "\nET"},
        {"BI /W 1 ID \x01", "BI /W 1 ID \x01", "\nEI"},
    };
    for (const Case &c : cases) {
        auto r = redact(c.content, nullptr, {{1, 0, 0, 1, 1}});
        EXPECT_EQ(r.content, c.output_content) << c.content;
        EXPECT_EQ(r.out, r.content + c.closers + block("0.00 0.00 1.00 1.00 re f\n"))
            << c.content;
    }
}

TEST(RedactContent, CommentsNeverHideText) {
    struct Case {
        const char *content;
        const char *after;
    };
    const Case cases[] = {
        // A "(" in a comment inside a property list or an array is no string.
        {"/P <</MCID 0 % (\n>> BDC BT (x) Tj ET EMC", "/P <</MCID 0 % (\n>> BDC BT ( ) Tj ET EMC"},
        {"BT [(a) % (\n] TJ 0 -20 Td (x) Tj ET", "BT [( ) % (\n] TJ 0 -20 Td ( ) Tj ET"},
    };
    for (const Case &c : cases) {
        // The region covers the glyphs at x = 0 on the lines at y = 0 and -20.
        auto r = redact(c.content, nullptr, {{1, 0, -25, 1, 30}});
        EXPECT_EQ(r.content, c.after) << c.content;
    }
}

TEST(RedactContent, HexStringsAndMixedArrays) {
    auto r = redact("BT <536563726574> Tj [(Se) 50 <6372> (et)] TJ ET", "secret");
    EXPECT_EQ(r.matches, 2);
    EXPECT_EQ(r.content, "BT <202020202020> Tj [(  ) 50 <2020> (  )] TJ ET");
}

TEST(RedactContent, MatchBoxesComeBeforeRegionBoxes) {
    auto r = redact("BT 100 700 Td (x) Tj ET", "x", {{1, 0, 0, 10, 10}});
    EXPECT_EQ(r.out, r.content + block("99.00 696.50 7.00 13.50 re f\n0.00 0.00 10.00 10.00 re f\n"));
}

TEST(RedactContent, BoxNumbersStayFinite) {
    // A font size of 400 digits overflows to infinity.
    const std::string huge(400, '9');
    auto r = redact("BT /F1 " + huge + " Tf (x) Tj ET", "x");
    EXPECT_EQ(r.matches, 1);
    EXPECT_EQ(r.out.find("inf"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("nan"), std::string::npos) << r.out;
    const float inf = std::numeric_limits<float>::infinity();
    auto boxed = redact("", nullptr, {{1, -inf, 0, inf, 5}});
    EXPECT_EQ(boxed.out, block("-1000000000.00 0.00 1000000000.00 5.00 re f\n"));
}

TEST(RedactContent, InlineDictionariesAreSkippedWhole) {
    // A hex string at the end of the dictionary must not close it early.
    auto r = redact("/Span <</Contents <FEFF0041>>> BDC (A) Tj EMC", nullptr,
                    {{1, 0, -5, 10, 10}});
    EXPECT_EQ(r.content, "/Span <</Contents <FEFF0041>>> BDC ( ) Tj EMC");
}

TEST(RedactContent, AlternateTextOfRedactedSpansIsBlanked) {
    // Region mode: the span whose glyph was redacted loses its alternate text;
    // the other span keeps it.
    auto r = redact(
        "/Span <</ActualText (Top secret) /Alt <FEFF0041> /E (x)>> BDC (ab) Tj EMC "
        "/Span <</ActualText (kept)>> BDC 100 0 Td (cd) Tj EMC",
        nullptr, {{1, 0, -5, 3, 10}});
    EXPECT_EQ(r.content,
              "/Span <</ActualText (          ) /Alt <20202020> /E ( )>> BDC ( b) Tj EMC "
              "/Span <</ActualText (kept)>> BDC 100 0 Td (cd) Tj EMC");
    // Text mode: the search text inside a property list is blanked even when
    // the glyphs do not spell it; that alone marks the stream changed.
    auto t = redact("/Span <</ActualText (my SECRET) /Alt <FEFF0053006500630072006500740021>>> "
                    "BDC <0102> Tj EMC",
                    "secret");
    std::string spaces;
    for (int i = 0; i < 12; ++i) spaces += "20";
    EXPECT_EQ(t.content, "/Span <</ActualText (my       ) /Alt <FEFF" + spaces +
                             "0021>>> BDC <0102> Tj EMC");
    EXPECT_EQ(t.painted, 1);
    EXPECT_EQ(t.matches, 0);
    EXPECT_EQ(t.out, t.content);  // no box was painted
    // Nested spans: a redacted glyph blanks every span that holds it; a span
    // opened after the hit is blanked only by a hit of its own.
    auto nested = redact("/A <</Alt (outer)>> BDC /B <</Alt (inner)>> BDC (a) Tj EMC "
                         "/C <</Alt (later)>> BDC 50 0 Td (b) Tj EMC EMC",
                         nullptr, {{1, 0, -5, 3, 10}});
    EXPECT_EQ(nested.content, "/A <</Alt (     )>> BDC /B <</Alt (     )>> BDC ( ) Tj EMC "
                              "/C <</Alt (later)>> BDC 50 0 Td (b) Tj EMC EMC");
    // In region mode a property list is never searched.
    EXPECT_EQ(redact("/P <</Alt (x)>> BDC EMC", nullptr, {{2, 0, 0, 1, 1}}).painted, 0);
}
