// The PDF tokenizer: token kinds and ranges under both hex-string rules,
// numbers, integers and name text, and walks over arbitrary bytes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "lexer.h"

namespace {

const unsigned char *bytes_of(const std::string &s) {
    return reinterpret_cast<const unsigned char *>(s.data());
}

struct Expected {
    Tok kind;
    std::string text;
    bool open = false;
};

// Every token of `text`, comments included, as (kind, bytes, open).
std::vector<Expected> tokens_of(const std::string &text, HexRule rule) {
    std::vector<Expected> out;
    const auto end = static_cast<int32_t>(text.size());
    for (int32_t pos = 0;;) {
        const Token t = lex_next(bytes_of(text), end, pos, rule);
        if (t.kind == Tok::kEnd) {
            EXPECT_EQ(t.start, end);
            EXPECT_EQ(t.end, end);
            return out;
        }
        out.push_back({t.kind, text.substr(t.start, t.end - t.start), t.open});
        pos = t.end;
    }
}

bool operator==(const Expected &a, const Expected &b) {
    return a.kind == b.kind && a.text == b.text && a.open == b.open;
}

std::ostream &operator<<(std::ostream &os, const Expected &e) {
    return os << static_cast<int>(e.kind) << " '" << e.text << "'" << (e.open ? " open" : "");
}

TEST(Lexer, TokenKindsAndRanges) {
    const HexRule kClose = HexRule::kToClose, kDigits = HexRule::kDigitsOnly;
    const struct {
        const char *what;
        std::string text;
        HexRule rule;
        std::vector<Expected> tokens;
    } cases[] = {
        {"numbers", "12 -3.5 .5 +7 1.5.2 8#40 -", kClose,
         {{Tok::kNumber, "12"}, {Tok::kNumber, "-3.5"}, {Tok::kNumber, ".5"}, {Tok::kNumber, "+7"},
          {Tok::kNumber, "1.5.2"}, {Tok::kNumber, "8#40"}, {Tok::kNumber, "-"}}},
        {"keywords", "Tj T* ' \" true \x80\xff", kClose,
         {{Tok::kKeyword, "Tj"}, {Tok::kKeyword, "T*"}, {Tok::kKeyword, "'"},
          {Tok::kKeyword, "\""}, {Tok::kKeyword, "true"}, {Tok::kKeyword, "\x80\xff"}}},
        {"names end at delimiters", "/Name/A#20B /  a/b/{", kClose,
         {{Tok::kName, "/Name"}, {Tok::kName, "/A#20B"}, {Tok::kName, "/"}, {Tok::kKeyword, "a"},
          {Tok::kName, "/b"}, {Tok::kName, "/"}, {Tok::kProcOpen, "{"}}},
        {"literal strings nest and escape", "(a(b)c\\)) x(y)(open (", kClose,
         {{Tok::kString, "(a(b)c\\))"}, {Tok::kKeyword, "x"}, {Tok::kString, "(y)"},
          {Tok::kString, "(open (", true}}},
        {"a backslash at the end escapes nothing", "(a\\", kClose, {{Tok::kString, "(a\\", true}}},
        {"hex strings to their close", "<0041><00 4> <x> <0041", kClose,
         {{Tok::kHexString, "<0041>"}, {Tok::kHexString, "<00 4>"}, {Tok::kHexString, "<x>"},
          {Tok::kHexString, "<0041", true}}},
        {"hex strings of digits only", "<0041><00\n4> <x> <0041", kDigits,
         {{Tok::kHexString, "<0041>"}, {Tok::kHexString, "<00\n4>"}, {Tok::kBad, "<"},
          {Tok::kKeyword, "x"}, {Tok::kBad, ">"}, {Tok::kBad, "<"}, {Tok::kNumber, "0041"}}},
        {"a broken hex string leaves the next one whole", "<00 <0042>", kDigits,
         {{Tok::kBad, "<"}, {Tok::kNumber, "00"}, {Tok::kHexString, "<0042>"}}},
        {"dictionaries, arrays, braces", "<<>>[]{}<</A[{}]>>", kClose,
         {{Tok::kDictOpen, "<<"}, {Tok::kDictClose, ">>"}, {Tok::kArrayOpen, "["},
          {Tok::kArrayClose, "]"}, {Tok::kProcOpen, "{"}, {Tok::kProcClose, "}"},
          {Tok::kDictOpen, "<<"}, {Tok::kName, "/A"}, {Tok::kArrayOpen, "["},
          {Tok::kProcOpen, "{"}, {Tok::kProcClose, "}"}, {Tok::kArrayClose, "]"},
          {Tok::kDictClose, ">>"}}},
        {"stray closers are bad bytes", ") > >>>", kClose,
         {{Tok::kBad, ")"}, {Tok::kBad, ">"}, {Tok::kDictClose, ">>"}, {Tok::kBad, ">"}}},
        {"comments run to the line end", "%a (b\r1%\n%", kClose,
         {{Tok::kComment, "%a (b"}, {Tok::kNumber, "1"}, {Tok::kComment, "%"},
          {Tok::kComment, "%"}}},
        {"white space only", std::string("\0\t\n\f\r ", 6), kClose, {}},
        {"NUL separates", std::string("a\0b", 3), kClose,
         {{Tok::kKeyword, "a"}, {Tok::kKeyword, "b"}}},
    };
    for (const auto &c : cases) EXPECT_EQ(tokens_of(c.text, c.rule), c.tokens) << c.what;
}

TEST(Lexer, CodeSkipsCommentsOnly) {
    const std::string text = "% one\n%two\r\n  Tj % three";
    const auto end = static_cast<int32_t>(text.size());
    const Token t = lex_next_code(bytes_of(text), end, 0);
    EXPECT_TRUE(lex_is(bytes_of(text), t, "Tj"));
    EXPECT_FALSE(lex_is(bytes_of(text), t, "T"));
    EXPECT_EQ(lex_next_code(bytes_of(text), end, t.end).kind, Tok::kEnd);
}

TEST(Lexer, NumbersIntegersAndNames) {
    const struct {
        std::string text;
        double number;
        bool integer;
        int64_t value;
    } numbers[] = {
        {"12", 12, true, 12},
        {"-7", -7, true, -7},
        {"+0041", 41, true, 41},
        {"99999999999999999999", 1e20, true, int64_t{1} << 53},  // held to 2^53
        {"-99999999999999999999", -1e20, true, -(int64_t{1} << 53)},
        {"-3.5", -3.5, false, 0},
        {"-.25", -0.25, false, 0},
        {"5.", 5, false, 0},
        {"1.5.2", 1.5, false, 0},
        {"8#40", 8, false, 0},
        {"1e5", 1, false, 0},
        {"-", 0, false, 0},
        {"+", 0, false, 0},
        {".", 0, false, 0},
    };
    for (const auto &c : numbers) {
        const Token t = lex_next(bytes_of(c.text), static_cast<int32_t>(c.text.size()), 0);
        ASSERT_EQ(t.kind, Tok::kNumber) << c.text;
        EXPECT_NEAR(lex_number(bytes_of(c.text), t), c.number, 1e-9 * std::fabs(c.number)) << c.text;
        int64_t value = -1;
        EXPECT_EQ(lex_integer(bytes_of(c.text), t, &value), c.integer) << c.text;
        if (c.integer) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
    // Only number tokens are integers.
    const std::string word = "(12) 12x";
    const Token str = lex_next(bytes_of(word), 8, 0);
    int64_t value = 0;
    EXPECT_FALSE(lex_integer(bytes_of(word), str, &value));
    EXPECT_FALSE(lex_integer(bytes_of(word), lex_next(bytes_of(word), 8, str.end), &value));

    const struct {
        std::string token, text;
    } names[] = {
        {"/Name", "Name"},
        {"/A#20B#2f", "A B/"},
        {"/#41#4", "A#4"},  // a '#' without two hex digits is itself
        {"/a#zz#", "a#zz#"},
        {"/", ""},
        {"/#00", std::string(1, '\0')},
    };
    for (const auto &c : names) {
        const Token t = lex_next(bytes_of(c.token), static_cast<int32_t>(c.token.size()), 0);
        ASSERT_EQ(t.kind, Tok::kName) << c.token;
        ASSERT_EQ(t.end, static_cast<int32_t>(c.token.size())) << c.token;
        EXPECT_EQ(lex_name_text(bytes_of(c.token), t.start, t.end), c.text) << c.token;
    }
}

// Any bytes: every token lies inside the data, starts where the previous one
// ended or after white space, and covers at least one byte.
TEST(Lexer, ArbitraryBytesAlwaysMoveForward) {
    std::mt19937 rng(11);
    const std::string alphabet =
        std::string("<>()[]{}/%\\#+-.0123456789aFx \n\r\t") + '\0' + "\x80\xff";
    for (int round = 0; round < 400; ++round) {
        std::string text(rng() % 64, ' ');
        for (char &c : text) c = alphabet[rng() % alphabet.size()];
        const auto end = static_cast<int32_t>(text.size());
        for (const HexRule rule : {HexRule::kToClose, HexRule::kDigitsOnly}) {
            int32_t pos = 0;
            for (;;) {
                const Token t = lex_next(bytes_of(text), end, pos, rule);
                ASSERT_GE(t.start, pos);
                ASSERT_LE(t.end, end);
                if (t.kind == Tok::kEnd) break;
                ASSERT_GT(t.end, t.start) << text;
                pos = t.end;
            }
        }
    }
}

}  // namespace
