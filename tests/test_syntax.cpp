// Byte buffer and PDF scanning primitives.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "syntax.h"

namespace {

const unsigned char *bytes(const std::string &s) {
    return reinterpret_cast<const unsigned char *>(s.data());
}
int32_t size(const std::string &s) { return static_cast<int32_t>(s.size()); }

}  // namespace

TEST(SyntaxBuf, GrowsFrom64KiBByDoubling) {
    struct Case {
        uint64_t extra;
        uint64_t cap;
    };
    for (const Case c : {Case{0, 65536}, Case{65535, 65536}, Case{65536, 131072},
                         Case{100000, 131072}, Case{300000, 524288}}) {
        Buf buf;
        buf_reserve(buf, c.extra);
        ASSERT_TRUE(buf.data);
        EXPECT_EQ(buf.cap, c.cap) << c.extra;
        EXPECT_EQ(buf.len, 0u);
    }
}

TEST(SyntaxBuf, AppendsKeepTheTextTerminated) {
    Buf buf;
    buf_str(buf, "abc");
    buf_append(buf, "\0de", 3);
    ASSERT_TRUE(buf.data);
    EXPECT_EQ(buf.len, 6u);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buf.data.get()), 7), std::string("abc\0de\0", 7));
    // A request that cannot be met empties the buffer instead of wrapping,
    // and the buffer stays empty: an append after it would otherwise start a
    // new buffer without what came before.
    buf_reserve(buf, UINT64_MAX - 2);
    EXPECT_FALSE(buf.data);
    EXPECT_EQ(buf.len, 0u);
    EXPECT_EQ(buf.cap, 0u);
    buf_str(buf, "fgh");
    EXPECT_FALSE(buf.data);
    EXPECT_EQ(buf.len, 0u);
}

TEST(SyntaxScan, FindName) {
    struct Case {
        std::string text;
        const char *name;
        int32_t start, end;  // end -1: the whole text
        int32_t expected;
    };
    const Case cases[] = {
        {"<</Type/Page>>", "Type", 0, -1, 2},
        {"<</Type/Pages>>", "Page", 0, -1, -1},   // the token must end
        {"/SubType /X", "Type", 0, -1, -1},       // the slash must come right before
        {"/Page(", "Page", 0, -1, 0},             // a delimiter ends the token
        {"x/Page", "Page", 0, -1, 1},             // the end of the range ends it
        {"/Pagex /Page", "Page", -5, -1, 7},      // start below 0 is 0
        {"/Page", "Page", 0, 99, 0},              // end beyond size is size
        {"/Page", "Page", 0, 4, -1},              // the token must fit the range
        {"/Type /Pages", "Pages", 0, -1, 6},      // values count too
    };
    for (const Case &c : cases) {
        const int32_t end = c.end < 0 ? size(c.text) : c.end;
        EXPECT_EQ(find_name(bytes(c.text), size(c.text), c.start, end, c.name), c.expected)
            << c.text;
    }
}

TEST(SyntaxScan, Keywords) {
    struct Case {
        std::string text;
        int32_t pos;
        int expected;
    };
    const Case cases[] = {
        {"1 0 obj<<", 4, 1}, {"1 0 obj", 4, 1},  {"endobj", 3, 0},
        {"objx", 0, 0},      {"2obj", 1, 0},     {"obj", -1, 0},
        {"ob", 0, 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(kw_at(bytes(c.text), c.pos, size(c.text), "obj"), c.expected) << c.text;
    const std::string text = "startxref endobj xref";
    EXPECT_EQ(find_kw(bytes(text), size(text), 0, "xref"), 17);
    EXPECT_EQ(find_kw(bytes(text), size(text), -3, "startxref"), 0);
    EXPECT_EQ(find_kw(bytes(text), size(text), 1, "startxref"), -1);
}

TEST(SyntaxScan, DictionaryClose) {
    struct Case {
        std::string text;
        int32_t expected;
    };
    const Case cases[] = {
        {"<< /A (a >> b) /B <</C 1>> >>", 27},
        // A hex string is skipped whole: its '>' never pairs with the dictionary's.
        {"<</A <AB>>>", 9},
        {"<</Contents <FEFF0041>>>", 22},
        {"<</A (unclosed >>", -1},
        {"<</A <AB", -1},
        {"<</A 1", -1},
    };
    for (const Case &c : cases)
        EXPECT_EQ(rd_dict_close(bytes(c.text), size(c.text), 0, 1000), c.expected) << c.text;
    const std::string text = "<</A 1>> x";
    EXPECT_EQ(rd_dict_close(bytes(text), size(text), 0, 7), -1);  // limit cuts the scan
}

TEST(SyntaxScan, DictStreamKeyword) {
    struct Case {
        std::string text;
        int32_t expected;
    };
    const Case cases[] = {
        {"<</A (>>)>>\r\nstream\r\n", 13},
        {"<</A <FEFF>>>stream\n", 13},
        {"<</A 1>>\nendobj", -1},
        {"<</A 1>>\nstreamx", -1},
        {"x<</A 1>>stream", -1},  // not at "<<"
        {"<</A 1", -1},
    };
    for (const Case &c : cases)
        EXPECT_EQ(dict_stream_kw(bytes(c.text), size(c.text), 0), c.expected) << c.text;
}

TEST(SyntaxScan, SkipValue) {
    struct Case {
        std::string text;
        int32_t expected;
    };
    const Case cases[] = {
        {"5 0 R/Next", 5},        {"5 0 RG", 1},          {"12 0R ", 5},
        {"(a\\)b)c", 6},          {"(open", 5},           {"[1 2", -1},
        {"[1 [2] (]) 3] x", 13},  {"[(open 1]", -1},      {")", 0},
        {"  /Name/Next", 7},      {"<</A <AB>>> x", 11},  {"<41 42> x", 7},
        {"<41", -1},              {"true]", 4},           {"   ", -1},
        {"+5 x", 2},              {"7 0 R", 5},           {"7 0", 1},
    };
    for (const Case &c : cases)
        EXPECT_EQ(skip_pdf_value(bytes(c.text), size(c.text), 0), c.expected) << c.text;
}

TEST(SyntaxScan, Integers) {
    struct Case {
        std::string text;
        int32_t value;
        int32_t pos_after;  // -1: unchanged (failure)
    };
    const Case cases[] = {
        {"  -42 0 R", -42, 5},
        {"+7", 7, 2},
        {"-", -1, -1},
        {"abc", -1, -1},
        {" \n ", -1, -1},
        {"12.5", 12, 2},
        {"99999999999999999999", INT32_MAX, 20},  // saturates instead of wrapping
        {"-99999999999999999999", -INT32_MAX, 21},
    };
    for (const Case &c : cases) {
        int32_t pos = 0;
        EXPECT_EQ(parse_int_at(bytes(c.text), size(c.text), &pos), c.value) << c.text;
        EXPECT_EQ(pos, c.pos_after < 0 ? 0 : c.pos_after) << c.text;
    }
}

TEST(SyntaxScan, Reals) {
    struct Case {
        std::string text;
        double value;
        int32_t pos_after;  // -1: unchanged (failure)
    };
    const Case cases[] = {
        {".25", 0.25, 3}, {"-.", 0.0, -1}, {"7.", 7.0, 2}, {"-.5", -0.5, 3},
        {"1e5", 1.0, 1},  {" 12.5x", 12.5, 5}, {"+", 0.0, -1},
    };
    for (const Case &c : cases) {
        int32_t pos = 0;
        EXPECT_DOUBLE_EQ(parse_double_at(bytes(c.text), size(c.text), &pos), c.value) << c.text;
        EXPECT_EQ(pos, c.pos_after < 0 ? 0 : c.pos_after) << c.text;
    }
    const std::string minus_zero = "-0";
    int32_t pos = 0;
    EXPECT_TRUE(std::signbit(parse_double_at(bytes(minus_zero), 2, &pos)));
}
