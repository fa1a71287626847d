#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "unicode.h"

namespace {

// Code points as "U+0041 U+00E9" so that a failure shows what differs.
std::string show(const std::u32string &text) {
    std::string out;
    for (char32_t cp : text) {
        char buf[16];
        snprintf(buf, sizeof buf, "%sU+%04X", out.empty() ? "" : " ", static_cast<unsigned>(cp));
        out += buf;
    }
    return out;
}

struct GlyphCase {
    const char *name;
    std::u32string_view expected;  // empty: the name has no meaning
};

TEST(UnicodeGlyphNames, ResolvesNamesAsReadersDo) {
    const GlyphCase cases[] = {
        // The glyph list, including names that look like other forms.
        {"A", U"A"},
        {"a", U"a"},
        {"space", U" "},
        {"fi", U"\xFB01"},  // the list has the ligature itself, not "f" "i"
        {"ff", U"\xFB00"},
        {"Euro", U"\x20AC"},
        {"quotesingle", U"'"},
        {"u", U"u"},
        {"uni", U""},
        {"dalethatafpatah", U"\x05D3\x05B2"},  // a name for two code points
        {"afii10017", U"\x0410"},
        // uniXXXX, one or more groups.
        {"uni0041", U"A"},
        {"uni00E9", U"\xE9"},
        {"uni00660066", U"ff"},
        {"uniFB01", U"\xFB01"},
        {"uni12", U""},
        {"uni12345", U""},
        {"uniD800", U""},
        {"uni0041DFFF", U""},  // one surrogate group spoils the name
        {"uni00e9", U""},      // lower-case digits
        {"uniXYZW", U""},
        // uXXXX to uXXXXXX.
        {"u0041", U"A"},
        {"u1F600", U"\x1F600"},
        {"u10FFFF", U"\x10FFFF"},
        {"u110000", U""},
        {"uD800", U""},
        {"u123", U""},
        {"u1234567", U""},
        {"u1f600", U""},
        // Suffixes.
        {"a.sc", U"a"},
        {"one.oldstyle", U"1"},
        {"uni0041.alt.2", U"A"},
        {".notdef", U""},
        {".", U""},
        {"g123.sc", U""},
        // Ligatures.
        {"f_f_i", U"ffi"},
        {"f_i.liga", U"fi"},
        {"uni0041_u1F600_fi", U"A\x1F600\xFB01"},
        {"f_g123", U""},
        {"f__i", U""},
        {"_f", U""},
        {"f_", U""},
        {"_", U""},
        // Names that carry no meaning.
        {"", U""},
        {"g123", U""},
        {"cid45", U""},
        {"glyph12", U""},
        {"a1", U""},  // ZapfDingbats names are not in the glyph list
        {"A ", U""},
        {"Aacute\xFF", U""},
    };
    for (const GlyphCase &c : cases) {
        std::u32string out = U"<";
        const bool known = glyph_name_to_unicode(c.name, out);
        EXPECT_EQ(known, !c.expected.empty()) << c.name;
        // Appends after what is there; a name without meaning appends nothing.
        EXPECT_EQ(show(out), show(U"<" + std::u32string(c.expected))) << c.name;
    }
}

TEST(UnicodeGlyphNames, EveryNameOfTheLatinAndSymbolEncodingsResolves) {
    const BaseEncoding encodings[] = {BaseEncoding::kStandard, BaseEncoding::kWinAnsi,
                                      BaseEncoding::kMacRoman, BaseEncoding::kPdfDoc,
                                      BaseEncoding::kSymbol};
    for (BaseEncoding enc : encodings) {
        for (unsigned code = 0; code < 256; ++code) {
            const char *name = encoding_glyph_name(enc, code);
            if (name == nullptr) continue;
            std::u32string out;
            EXPECT_TRUE(glyph_name_to_unicode(name, out))
                << name << " at " << code << " in encoding " << static_cast<int>(enc);
        }
    }
}

struct EncodingCase {
    BaseEncoding enc;
    unsigned code;
    const char *name;  // nullptr: unassigned
};

TEST(UnicodeEncodings, GlyphNamesAtCodes) {
    using E = BaseEncoding;
    const EncodingCase cases[] = {
        {E::kStandard, 0x41, "A"},          {E::kStandard, 0x27, "quoteright"},
        {E::kStandard, 0x60, "quoteleft"},  {E::kStandard, 0xAE, "fi"},
        {E::kStandard, 0xE8, "Lslash"},     {E::kStandard, 0x7F, nullptr},
        {E::kStandard, 0xA0, nullptr},      {E::kStandard, 0x00, nullptr},
        {E::kWinAnsi, 0x20, "space"},       {E::kWinAnsi, 0x27, "quotesingle"},
        {E::kWinAnsi, 0x80, "Euro"},        {E::kWinAnsi, 0x95, "bullet"},
        {E::kWinAnsi, 0xA0, "space"},       {E::kWinAnsi, 0xAD, "hyphen"},
        {E::kWinAnsi, 0xFF, "ydieresis"},   {E::kWinAnsi, 127, nullptr},
        {E::kWinAnsi, 129, nullptr},        {E::kWinAnsi, 141, nullptr},
        {E::kWinAnsi, 143, nullptr},        {E::kWinAnsi, 144, nullptr},
        {E::kWinAnsi, 157, nullptr},        {E::kMacRoman, 0x80, "Adieresis"},
        {E::kMacRoman, 0xCA, "space"},      {E::kMacRoman, 0xD2, "quotedblleft"},
        {E::kMacRoman, 0xDB, "currency"},   {E::kMacRoman, 0xDE, "fi"},
        {E::kMacRoman, 0xF0, nullptr},      {E::kPdfDoc, 0x18, "breve"},
        {E::kPdfDoc, 0x80, "bullet"},       {E::kPdfDoc, 0x93, "fi"},
        {E::kPdfDoc, 0xA0, "Euro"},         {E::kPdfDoc, 0x0A, nullptr},
        {E::kPdfDoc, 0x7F, nullptr},        {E::kPdfDoc, 0xAD, nullptr},
        {E::kSymbol, 0x20, "space"},        {E::kSymbol, 0x61, "alpha"},
        {E::kSymbol, 0x6D, "mu"},           {E::kSymbol, 0xA0, "Euro"},
        {E::kSymbol, 0xF0, nullptr},        {E::kZapfDingbats, 0x20, "space"},
        {E::kZapfDingbats, 0x21, "a1"},     {E::kZapfDingbats, 0xFE, "a191"},
        {E::kZapfDingbats, 0xFF, nullptr},  {E::kWinAnsi, 256, nullptr},
        {E::kSymbol, 0xFFFFFFFFu, nullptr},
    };
    for (const EncodingCase &c : cases) {
        const char *name = encoding_glyph_name(c.enc, c.code);
        EXPECT_STREQ(name, c.name) << "encoding " << static_cast<int>(c.enc) << " code " << c.code;
    }
}

TEST(UnicodeEncodings, EveryTextFontGlyphOfTheBaseEncodingsHasAWidth) {
    // A simple font without /Widths is measured by the name its encoding gives a code.
    const BaseEncoding text_encodings[] = {BaseEncoding::kStandard, BaseEncoding::kWinAnsi,
                                           BaseEncoding::kMacRoman};
    for (int font = 0; font < 12; ++font) {
        for (BaseEncoding enc : text_encodings) {
            for (unsigned code = 0; code < 256; ++code) {
                const char *name = encoding_glyph_name(enc, code);
                if (name != nullptr) {
                    EXPECT_GT(std14_glyph_width(font, name), 0) << font << " " << name;
                }
            }
        }
    }
    for (unsigned code = 0; code < 256; ++code) {
        if (const char *name = encoding_glyph_name(BaseEncoding::kSymbol, code)) {
            EXPECT_GT(std14_glyph_width(12, name), 0) << name;
        }
        if (const char *name = encoding_glyph_name(BaseEncoding::kZapfDingbats, code)) {
            EXPECT_GT(std14_glyph_width(13, name), 0) << name;
        }
    }
}

TEST(UnicodeEncodings, SingleByteTextEncodings) {
    struct ByteCase {
        unsigned char code;
        char32_t pdfdoc;
        char32_t cp1252;
    };
    const ByteCase cases[] = {
        {0x00, 0, 0},           {0x01, 0, 0x01},    {0x09, 0x09, 0x09},     {0x0A, 0x0A, 0x0A},
        {0x0D, 0x0D, 0x0D},     {0x17, 0, 0x17},    {0x18, 0x02D8, 0x18},   {0x1F, 0x02DC, 0x1F},
        {0x20, 0x20, 0x20},     {0x41, 0x41, 0x41}, {0x7F, 0, 0x7F},        {0x80, 0x2022, 0x20AC},
        {0x81, 0x2020, 0},      {0x8D, 0x201C, 0},  {0x8F, 0x2018, 0},      {0x90, 0x2019, 0},
        {0x93, 0xFB01, 0x201C}, {0x9D, 0x0161, 0},  {0x9E, 0x017E, 0x017E}, {0x9F, 0, 0x0178},
        {0xA0, 0x20AC, 0xA0},   {0xAD, 0, 0xAD},    {0xE9, 0xE9, 0xE9},     {0xFF, 0xFF, 0xFF},
    };
    for (const ByteCase &c : cases) {
        EXPECT_EQ(pdfdoc_to_unicode(c.code), c.pdfdoc) << int{c.code};
        EXPECT_EQ(cp1252_to_unicode(c.code), c.cp1252) << int{c.code};
    }
}

TEST(UnicodeUtf8, DecodesValidInput) {
    struct Utf8Case {
        std::string_view bytes;
        std::u32string_view expected;
    };
    using namespace std::string_view_literals;
    const Utf8Case cases[] = {
        {""sv, U""},
        {"abc"sv, U"abc"},
        {"a\0b"sv, std::u32string_view(U"a\0b", 3)},
        {"\x7F"sv, U"\x7F"},
        {"\xC2\x80"sv, U"\x80"},
        {"\xC3\xA9t\xC3\xA9"sv, U"\xE9t\xE9"},
        {"\xDF\xBF"sv, U"\x7FF"},
        {"\xE0\xA0\x80"sv, U"\x800"},
        {"\xE2\x82\xAC"sv, U"\x20AC"},
        {"\xED\x9F\xBF"sv, U"\xD7FF"},
        {"\xEE\x80\x80"sv, U"\xE000"},
        {"\xEF\xBF\xBF"sv, U"\xFFFF"},
        {"\xF0\x90\x80\x80"sv, U"\x10000"},
        {"\xF0\x9F\x98\x80!"sv, U"\x1F600!"},
        {"\xF4\x8F\xBF\xBF"sv, U"\x10FFFF"},
    };
    for (const Utf8Case &c : cases) {
        std::u32string out = U"old content";
        ASSERT_TRUE(utf8_decode(c.bytes, out)) << show(std::u32string(c.expected));
        EXPECT_EQ(show(out), show(std::u32string(c.expected)));
    }
}

TEST(UnicodeUtf8, RefusesInvalidInput) {
    using namespace std::string_view_literals;
    const std::string_view cases[] = {
        "\x80"sv,                      // continuation byte without a lead
        "a\xBF"sv,                     //
        "\xC0\x80"sv,                  // overlong NUL
        "\xC1\xBF"sv,                  // overlong U+007F
        "\xE0\x9F\xBF"sv,              // overlong U+07FF
        "\xF0\x8F\xBF\xBF"sv,          // overlong U+FFFF
        "\xED\xA0\x80"sv,              // U+D800
        "\xED\xBF\xBF"sv,              // U+DFFF
        "\xED\xA0\xBD\xED\xB8\x80"sv,  // a surrogate pair written as two characters
        "\xF4\x90\x80\x80"sv,          // U+110000
        "\xF5\x80\x80\x80"sv,          // lead bytes F5..FF never occur
        "\xFF"sv,                      //
        "\xC3"sv,                      // truncated at the end
        "\xE2\x82"sv,                  //
        "\xF0\x9F\x98"sv,              //
        "\xC3"
        "b"sv,                     // truncated by an ASCII byte
        "\xE2\x28\xA1"sv,          //
        "\xF0\x9F\x98\xC3\xA9"sv,  // truncated by a new lead byte
        "ok\xE2\x82\xAC\xE2"sv,    // valid, then truncated
    };
    for (std::string_view bytes : cases) {
        std::u32string out;
        EXPECT_FALSE(utf8_decode(bytes, out)) << testing::PrintToString(std::string(bytes));
    }
}

TEST(UnicodeUtf8, EveryScalarValueRoundTrips) {
    std::string bytes;
    for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
        if (cp == 0xD800) cp = 0xE000;
        utf8_append(cp, bytes);
    }
    std::u32string decoded;
    ASSERT_TRUE(utf8_decode(bytes, decoded));
    ASSERT_EQ(decoded.size(), 0x110000u - 0x800u);
    char32_t expected = 0;
    size_t mismatches = 0;
    for (char32_t cp : decoded) {
        if (expected == 0xD800) expected = 0xE000;
        mismatches += cp != expected;
        ++expected;
    }
    EXPECT_EQ(mismatches, 0u);
}

TEST(UnicodeUtf8, AppendsTheShortestFormAndReplacesNonScalars) {
    const struct {
        char32_t cp;
        std::string_view bytes;
    } cases[] = {
        {0x41, "A"},
        {0x7FF, "\xDF\xBF"},
        {0x800, "\xE0\xA0\x80"},
        {0x10FFFF, "\xF4\x8F\xBF\xBF"},
        {0xD800, "\xEF\xBF\xBD"},
        {0xDFFF, "\xEF\xBF\xBD"},
        {0x110000, "\xEF\xBF\xBD"},
        {0xFFFFFFFF, "\xEF\xBF\xBD"},
    };
    for (const auto &c : cases) {
        std::string out = "x";
        utf8_append(c.cp, out);
        EXPECT_EQ(out, "x" + std::string(c.bytes)) << static_cast<unsigned>(c.cp);
    }
}

TEST(UnicodeFold, SimpleCaseFolding) {
    const struct {
        char32_t cp;
        char32_t folded;
    } cases[] = {
        {'A', 'a'},           {'Z', 'z'},           {'a', 'a'},     {'@', '@'},
        {'[', '['},           {'0', '0'},           {0xC9, 0xE9},   {0xD7, 0xD7},
        {0xDF, 0xDF},    // sharp s has only a full folding ("ss")
        {0x1E9E, 0xDF},  // capital sharp s folds to it (status S)
        {0x49, 'i'},     // not the Turkic dotless i
        {0x130, 0x130},  // capital I with dot: full and Turkic foldings only
        {0x3A3, 0x3C3},       {0x3C2, 0x3C3},       {0x3C3, 0x3C3},  // Greek sigmas
        {0x410, 0x430},       {0x401, 0x451},       {0x42F, 0x44F}, {0x44F, 0x44F},
        {0x212A, 'k'},                             // Kelvin sign
        {0xFB01, 0xFB01},                          // the fi ligature folds only in full
        {0x10400, 0x10428},   {0x1E921, 0x1E943},  // outside the BMP; the last mapping
        {0x10FFFF, 0x10FFFF}, {0x110000, 0x110000},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(unicode_fold(c.cp), c.folded) << std::hex << static_cast<unsigned>(c.cp);
    }
}

TEST(UnicodeFold, FoldingTwiceChangesNothing) {
    // Every letter with a case is in the first two planes. Plain comparisons: an
    // assertion per code point would dominate the run time.
    char32_t first_unstable = 0x110000;
    for (char32_t cp = 0; cp < 0x20000 && first_unstable > 0x10FFFF; ++cp) {
        const char32_t once = unicode_fold(cp);
        if (unicode_fold(once) != once) first_unstable = cp;
    }
    EXPECT_EQ(first_unstable, 0x110000u) << std::hex << static_cast<unsigned>(first_unstable);
}

TEST(UnicodeStd14, FontIndexByName) {
    const struct {
        const char *name;
        int index;
    } cases[] = {
        {"Times-Roman", 0},
        {"Times-Italic", 1},
        {"Times-Bold", 2},
        {"Times-BoldItalic", 3},
        {"Helvetica", 4},
        {"Helvetica-Oblique", 5},
        {"Helvetica-Bold", 6},
        {"Helvetica-BoldOblique", 7},
        {"Courier", 8},
        {"Courier-Oblique", 9},
        {"Courier-Bold", 10},
        {"Courier-BoldOblique", 11},
        {"Symbol", 12},
        {"ZapfDingbats", 13},
        // Subset prefixes.
        {"ABCDEF+Helvetica", 4},
        {"XYZABC+TimesNewRomanPS-ItalicMT", 1},
        {"ABCDE+Helvetica", -1},
        {"abcdef+Helvetica", -1},
        {"ABCDEF+", -1},
        {"ABCDEF+ABCDEF+Helvetica", -1},
        // Aliases with styles.
        {"Arial", 4},
        {"ArialMT", 4},
        {"Arial,Bold", 6},
        {"Arial,Italic", 5},
        {"Arial,BoldItalic", 7},
        {"Arial-BoldMT", 6},
        {"Arial-ItalicMT", 5},
        {"Arial-BoldItalicMT", 7},
        {"Helvetica,Bold", 6},
        {"Helvetica-Italic", 5},
        {"TimesNewRoman", 0},
        {"TimesNewRomanPSMT", 0},
        {"TimesNewRoman,Bold", 2},
        {"TimesNewRoman-BoldItalic", 3},
        {"TimesNewRomanPS-BoldMT", 2},
        {"TimesNewRomanPS-BoldItalicMT", 3},
        {"Times", 0},
        {"Times,Italic", 1},
        {"CourierNew", 8},
        {"CourierNewPSMT", 8},
        {"CourierNew,Bold", 10},
        {"CourierNewPS-BoldItalicMT", 11},
        {"Courier,BoldItalic", 11},
        {"Courier-Italic", 9},
        {"Symbol,Bold", 12},
        {"ZapfDingbats,Italic", 13},
        // Names that only contain or resemble a standard name.
        {"", -1},
        {"MyHelveticaClone", -1},
        {"Helvetica-Narrow", -1},
        {"HelveticaNeue", -1},
        {"helvetica", -1},
        {"Arial-Black", -1},
        {"ArialNarrow", -1},
        {"Helvetica Bold", -1},
        {"Helvetica,", -1},
        {"Arial,Bold,Bold", -1},
        {"Helvetica-Bold-Bold", -1},
        {"Times-New-Roman", -1},
        {"Symbol-Bold-Extra", -1},
    };
    for (const auto &c : cases) EXPECT_EQ(std14_font_index(c.name), c.index) << c.name;
}

TEST(UnicodeStd14, GlyphWidthsFromTheMetricsFiles) {
    const struct {
        int font;
        const char *name;
        int width;
    } cases[] = {
        {0, "space", 250},  {0, "A", 722},      {0, "fi", 556},      {0, "Euro", 500},
        {0, "Aacute", 722},  // a glyph without a code
        {4, "A", 667},      {4, "space", 278},  {4, "Lslash", 556},  {7, "fi", 611},
        {7, "Euro", 556},   {10, "A", 600},     {10, "Aacute", 600}, {12, "alpha", 631},
        {12, "Euro", 750},  {12, "apple", 790},  // apple has no code
        {13, "a1", 974},    {13, "space", 278}, {0, "alpha", -1},    {12, "A", -1},
        {13, "A", -1},      {0, "", -1},        {0, "A.sc", -1},     {0, "a ", -1},
        {-1, "A", -1},      {14, "A", -1},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(std14_glyph_width(c.font, c.name), c.width) << c.font << " " << c.name;
    }
}

}  // namespace
