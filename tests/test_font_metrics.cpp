#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "font_metrics.h"

namespace {

struct NamedTable {
    const char *name;
    const uint16_t *widths;
};

const NamedTable kTimes[] = {{"times_roman", times_roman_widths},
                             {"times_italic", times_italic_widths},
                             {"times_bold", times_bold_widths},
                             {"times_bolditalic", times_bolditalic_widths}};
const NamedTable kHelvetica[] = {{"helvetica", helvetica_widths},
                                 {"helvetica_oblique", helvetica_oblique_widths},
                                 {"helvetica_bold", helvetica_bold_widths},
                                 {"helvetica_boldoblique", helvetica_boldoblique_widths}};
const NamedTable kCourier[] = {{"courier", courier_widths},
                               {"courier_oblique", courier_oblique_widths},
                               {"courier_bold", courier_bold_widths},
                               {"courier_boldoblique", courier_boldoblique_widths}};

bool text_font_zero(int code) {
    return code < 32 || code == 127 || code == 129 || code == 141 || code == 143 || code == 144 ||
           code == 157 || code == 160;
}
bool symbol_zero(int code) {
    return code < 32 || (code >= 127 && code <= 159) || code == 240 || code == 255;
}
bool dingbats_zero(int code) {
    return code < 32 || (code >= 127 && code <= 160) || code == 240 || code == 255;
}

// Every table has no glyph exactly at its expected codes and a positive width
// everywhere else, never above 1055 (entries are also read as int16_t).
TEST(FontMetricsTables, ZeroEntriesExactlyWhereExpected) {
    struct Case {
        NamedTable table;
        bool (*is_zero)(int);
    };
    std::vector<Case> cases;
    for (const auto *family : {kTimes, kHelvetica, kCourier}) {
        for (int i = 0; i < 4; ++i) cases.push_back({family[i], text_font_zero});
    }
    cases.push_back({{"symbol", symbol_widths}, symbol_zero});
    cases.push_back({{"zapfdingbats", zapfdingbats_widths}, dingbats_zero});
    for (const Case &c : cases) {
        for (int code = 0; code < 256; ++code) {
            SCOPED_TRACE(std::string(c.table.name) + " code " + std::to_string(code));
            if (c.is_zero(code)) {
                EXPECT_EQ(c.table.widths[code], 0);
            } else {
                EXPECT_GT(c.table.widths[code], 0);
                EXPECT_LE(c.table.widths[code], 1055);
            }
        }
    }
}

TEST(FontMetricsTables, CourierFacesIdenticalAt600) {
    for (const NamedTable &t : kCourier) {
        SCOPED_TRACE(t.name);
        EXPECT_EQ(std::memcmp(t.widths, courier_widths, sizeof(WidthTable)), 0);
    }
    for (int code = 0; code < 256; ++code) {
        if (!text_font_zero(code)) {
            EXPECT_EQ(courier_widths[code], 600) << "code " << code;
        }
    }
}

// Runs of listed widths starting at `first`.
struct ListedRun {
    NamedTable table;
    int first;
    std::vector<uint16_t> widths;
};

// clang-format off
const ListedRun kRuns[] = {
    {{"helvetica", helvetica_widths}, 32, {
         278, 278, 355, 556, 556, 889, 667, 191, 333, 333, 389, 584, 278, 333, 278, 278,  // 32
         556, 556, 556, 556, 556, 556, 556, 556, 556, 556, 278, 278, 584, 584, 584, 556,  // 48
        1015, 667, 667, 722, 722, 667, 611, 778, 722, 278, 500, 667, 556, 833, 722, 778,  // 64
         667, 778, 722, 667, 611, 722, 667, 944, 667, 667, 611, 278, 278, 278, 469, 556,  // 80
         333, 556, 556, 500, 556, 556, 278, 556, 556, 222, 222, 500, 222, 833, 556, 556,  // 96
         556, 556, 333, 500, 278, 556, 500, 722, 500, 500, 500, 334, 260, 334, 584,   0,  // 112
         556,   0, 222, 556, 333,1000, 556, 556, 333,1000, 667, 333,1000,   0, 611,   0,  // 128
           0, 222, 221, 333, 333, 350, 556,1000, 333,1000, 500, 333, 944,   0, 500, 667,  // 144
           0, 333, 556, 556, 556, 556, 260, 556, 333, 737, 370, 556, 584, 584, 737, 333,  // 160
         606, 584, 351, 351, 333, 556, 537, 278, 333, 351, 365, 556, 869, 869, 869, 611,  // 176
         667, 667, 667, 667, 667, 667,1000, 722, 667, 667, 667, 667, 278, 278, 278, 278,  // 192
         722, 722, 778, 778, 778, 778, 778, 584, 778, 722, 722, 722, 722, 666, 666, 611,  // 208
         556, 556, 556, 556, 556, 556, 889, 500, 556, 556, 556, 556, 278, 278, 278, 278,  // 224
         556, 556, 556, 556, 556, 556, 556, 584, 611, 556, 556, 556, 556, 500, 555, 500,  // 240
    }},
    {{"times_roman", times_roman_widths}, 128, {
         500,   0, 333, 500, 444,1000, 500, 500, 333,1000, 556, 333, 889,   0, 611,   0,  // 128
           0, 333, 333, 444, 444, 350, 500,1000, 333, 980, 389, 333, 722,   0, 444, 722,  // 144
           0, 333, 500, 500, 500, 500, 200, 500, 333, 760, 276, 500, 564, 564, 760, 333,  // 160
         400, 564, 300, 300, 333, 500, 453, 250, 333, 300, 310, 500, 750, 750, 750, 444,  // 176
    }},
    {{"symbol", symbol_widths}, 32,
     {250, 333, 713, 500, 549, 833, 778, 439, 333, 333, 500, 549, 250, 549, 250, 278}},
    {{"symbol", symbol_widths}, 160,
     {762, 620, 247, 549, 167, 713, 500, 753, 753, 753, 753, 1042, 987, 603, 987, 603}},
    {{"zapfdingbats", zapfdingbats_widths}, 32,
     {278, 974, 961, 974, 980, 719, 789, 790, 791, 690, 960, 939, 549, 855, 911, 933}},
    {{"zapfdingbats", zapfdingbats_widths}, 160,
     {0, 732, 544, 544, 910, 667, 760, 760, 776, 595, 694, 626, 788, 788, 788, 788}},
};
// clang-format on

TEST(FontMetricsTables, ListedRunsHoldExactly) {
    for (const ListedRun &run : kRuns) {
        for (size_t i = 0; i < run.widths.size(); ++i) {
            const int code = run.first + static_cast<int>(i);
            EXPECT_EQ(run.table.widths[code], run.widths[i]) << run.table.name << " code " << code;
        }
    }
}

// The soft hyphen, degree sign and Euro, which differ from the plain AFM data
// or from their neighbours.
TEST(FontMetricsTables, SoftHyphenDegreeAndEuro) {
    struct Case {
        NamedTable table;
        uint16_t at173, at176, at128;
    };
    const Case cases[] = {
        {kTimes[0], 564, 400, 500},     {kTimes[1], 675, 400, 500},
        {kTimes[2], 570, 400, 500},     {kTimes[3], 606, 400, 500},
        {kHelvetica[0], 584, 606, 556}, {kHelvetica[1], 584, 606, 556},
        {kHelvetica[2], 584, 606, 556}, {kHelvetica[3], 584, 606, 556},
        {kCourier[0], 600, 600, 600},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.table.name);
        EXPECT_EQ(c.table.widths[173], c.at173);
        EXPECT_EQ(c.table.widths[176], c.at176);
        EXPECT_EQ(c.table.widths[128], c.at128);
        if (c.table.widths != courier_widths) {
            EXPECT_EQ(c.table.widths[45], 333);
        }
    }
}

struct Exception {
    int code;
    uint16_t width;
};

// `table` equals `base` except at the listed codes, which hold the listed widths.
void expect_equal_except(const NamedTable &table, const uint16_t *base,
                         const std::vector<Exception> &exceptions) {
    for (int code = 0; code < 256; ++code) {
        uint16_t expected = base[code];
        for (const Exception &e : exceptions) {
            if (e.code == code) expected = e.width;
        }
        EXPECT_EQ(table.widths[code], expected) << table.name << " code " << code;
    }
}

TEST(FontMetricsTables, HelveticaFacesFollowHelveticaAndHelveticaBold) {
    expect_equal_except(kHelvetica[1], helvetica_widths,
                        {{146, 222},
                         {178, 390},
                         {179, 390},
                         {185, 390},
                         {188, 947},
                         {189, 947},
                         {190, 947},
                         {221, 667},
                         {222, 667},
                         {254, 556}});
    expect_equal_except(
        kHelvetica[3], helvetica_bold_widths,
        {{178, 444}, {179, 444}, {185, 444}, {188, 1055}, {189, 1055}, {190, 1055}});
    const Exception bold[] = {{176, 606}, {178, 351}, {179, 351}, {185, 351},
                              {188, 869}, {189, 869}, {190, 869}};
    for (const Exception &e : bold) EXPECT_EQ(helvetica_bold_widths[e.code], e.width) << e.code;
}

TEST(FontMetricsSelect, PicksTheFirstMatchingFragment) {
    struct Case {
        const char *name;
        const uint16_t *expected;
    };
    const Case cases[] = {
        {"HELVETICA-BOLD", helvetica_bold_widths},
        {"ABCDEF+Helvetica-Bold", helvetica_bold_widths},
        {"Helvetica-BoldOblique", helvetica_boldoblique_widths},
        {"TimesNewRomanPSMT", times_roman_widths},
        {"Times-Roman", times_roman_widths},
        {"F1", nullptr},
        {"Arial", nullptr},
        {"", nullptr},
        {"Courier-BoldOblique", courier_boldoblique_widths},
        {"courier-oblique", courier_oblique_widths},
        {"Courier-Bold", courier_bold_widths},
        {"CourierNew", courier_widths},
        {"Helvetica-Oblique", helvetica_oblique_widths},
        {"Helvetica", helvetica_widths},
        {"Symbol", symbol_widths},
        {"Times-BoldItalic", times_bolditalic_widths},
        {"Times-Bold", times_bold_widths},
        {"Times-Italic", times_italic_widths},
        {"ZapfDingbats", zapfdingbats_widths},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(select_width_table(c.name), c.expected) << "name '" << c.name << "'";
    }
}

TEST(FontMetricsGlyphWidth, ReadsEntriesAndFallsBackToHalfEm) {
    struct Case {
        const uint16_t *widths;
        unsigned char code;
        double expected;
    };
    const Case cases[] = {
        {helvetica_widths, 65, 0.667},
        {helvetica_widths, 32, 0.278},
        {helvetica_widths, 160, 0.5},
        {helvetica_widths, 129, 0.5},
        {helvetica_widths, 0, 0.5},
        {helvetica_boldoblique_widths, 188, 1.055},
        {nullptr, 65, 0.5},
        {nullptr, 0, 0.5},
        {nullptr, 255, 0.5},
    };
    for (const Case &c : cases) {
        EXPECT_DOUBLE_EQ(glyph_width(c.widths, c.code), c.expected) << "code " << int(c.code);
    }
    EXPECT_DOUBLE_EQ(glyph_width(select_width_table("F1"), 'W'), 0.5);
}

TEST(FontMetricsStrcasestr, FindsFirstCaseFoldedOccurrence) {
    const char *hay = "xxHeLLo hello";
    EXPECT_EQ(qw_strcasestr(hay, "HELLO"), hay + 2);
    EXPECT_EQ(qw_strcasestr(hay, "o h"), hay + 6);
    const char *restart = "aaab";
    EXPECT_EQ(qw_strcasestr(restart, "AAB"), restart + 1);
    EXPECT_EQ(qw_strcasestr("abc", "abcd"), nullptr);
    EXPECT_EQ(qw_strcasestr("abc", "x"), nullptr);
    // Only A-Z fold: no match across other bytes that differ by 0x20.
    EXPECT_EQ(qw_strcasestr("\xC9", "\xE9"), nullptr);
    EXPECT_EQ(qw_strcasestr("[", "{"), nullptr);
}

TEST(FontMetricsStrcasestr, EmptyHaystackAndEmptyNeedle) {
    EXPECT_EQ(qw_strcasestr("", ""), nullptr);
    EXPECT_EQ(qw_strcasestr("", "a"), nullptr);
    const char *hay = "abc";
    EXPECT_EQ(qw_strcasestr(hay, ""), hay);
}

}  // namespace
