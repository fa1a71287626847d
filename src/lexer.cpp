// The PDF tokenizer (PDF reference 7.2: lexical conventions).
#include "lexer.h"

#include <algorithm>
#include <cstring>

#include "syntax.h"

namespace {

// Byte classes of the PDF syntax (PDF reference 7.2.2), looked up per byte.
enum : uint8_t { kRegular = 1, kWhite = 2 };

struct ByteClasses {
    uint8_t of[256] = {};
    constexpr ByteClasses() {
        for (int c = 0; c < 256; ++c) {
            const auto b = static_cast<unsigned char>(c);
            if (b == 0 || b == 9 || b == 10 || b == 12 || b == 13 || b == 32)
                of[c] = kWhite;
            else if (b != '(' && b != ')' && b != '/' && b != '<' && b != '>' && b != '[' && b != ']' &&
                     b != '{' && b != '}' && b != '%')
                of[c] = kRegular;
        }
    }
};
constexpr ByteClasses kClasses;

int32_t skip_white(const unsigned char *bytes, int32_t end, int32_t pos) {
    while (pos < end && kClasses.of[bytes[pos]] == kWhite) ++pos;
    return pos;
}

}  // namespace

bool lex_is_regular(unsigned char c) { return kClasses.of[c] == kRegular; }

int32_t lex_literal_end(const unsigned char *bytes, int32_t end, int32_t pos, bool *open) {
    int64_t depth = 1;
    for (int32_t i = pos + 1; i < end; ++i) {
        const unsigned char c = bytes[i];
        if (c == '\\') {
            ++i;  // the escaped byte never opens or closes
        } else if (c == '(') {
            ++depth;
        } else if (c == ')' && --depth == 0) {
            *open = false;
            return i + 1;
        }
    }
    *open = true;
    return end;
}

namespace {

// The end of a hex string whose '<' is at `pos`; under kDigitsOnly, -1 when a
// byte other than a hex digit or a blank comes before its '>'.
int32_t hex_end(const unsigned char *bytes, int32_t end, int32_t pos, HexRule rule, bool *open) {
    for (int32_t i = pos + 1; i < end; ++i) {
        const unsigned char c = bytes[i];
        if (c == '>') {
            *open = false;
            return i + 1;
        }
        if (rule == HexRule::kDigitsOnly && hex_digit_value(c) < 0 && !is_pdf_ws(c)) return -1;
    }
    *open = true;
    return rule == HexRule::kDigitsOnly ? -1 : end;
}

int32_t regular_run_end(const unsigned char *bytes, int32_t end, int32_t pos) {
    while (pos < end && kClasses.of[bytes[pos]] == kRegular) ++pos;
    return pos;
}

}  // namespace

Token lex_next(const unsigned char *bytes, int32_t end, int32_t pos, HexRule hex) {
    pos = skip_white(bytes, end, pos);
    Token t;
    t.start = pos;
    if (pos >= end) {
        t.end = end;
        return t;
    }
    const unsigned char c = bytes[pos];
    switch (c) {
        case '%': {
            int32_t e = pos + 1;
            while (e < end && bytes[e] != '\n' && bytes[e] != '\r') ++e;
            t.kind = Tok::kComment;
            t.end = e;
            return t;
        }
        case '(':
            t.kind = Tok::kString;
            t.end = lex_literal_end(bytes, end, pos, &t.open);
            return t;
        case '<':
            if (pos + 1 < end && bytes[pos + 1] == '<') {
                t.kind = Tok::kDictOpen;
                t.end = pos + 2;
                return t;
            }
            t.end = hex_end(bytes, end, pos, hex, &t.open);
            if (t.end < 0) {
                t.kind = Tok::kBad;
                t.end = pos + 1;
                t.open = false;
            } else {
                t.kind = Tok::kHexString;
            }
            return t;
        case '>':
            if (pos + 1 < end && bytes[pos + 1] == '>') {
                t.kind = Tok::kDictClose;
                t.end = pos + 2;
            } else {
                t.kind = Tok::kBad;
                t.end = pos + 1;
            }
            return t;
        case '[':
            t.kind = Tok::kArrayOpen;
            t.end = pos + 1;
            return t;
        case ']':
            t.kind = Tok::kArrayClose;
            t.end = pos + 1;
            return t;
        case '/':
            t.kind = Tok::kName;
            t.end = regular_run_end(bytes, end, pos + 1);
            return t;
        case '{':
        case '}':
            t.kind = c == '{' ? Tok::kProcOpen : Tok::kProcClose;
            t.end = pos + 1;
            return t;
        case ')':
            t.kind = Tok::kBad;
            t.end = pos + 1;
            return t;
        default:
            break;
    }
    t.end = regular_run_end(bytes, end, pos);
    const bool numeric = c == '+' || c == '-' || c == '.' || is_digit(c);
    t.kind = numeric ? Tok::kNumber : Tok::kKeyword;
    return t;
}

Token lex_next_code(const unsigned char *bytes, int32_t end, int32_t pos, HexRule hex) {
    Token t = lex_next(bytes, end, pos, hex);
    while (t.kind == Tok::kComment) t = lex_next(bytes, end, t.end, hex);
    return t;
}

double lex_number(const unsigned char *bytes, const Token &token) {
    // The token holds no blank, so the scanner reads exactly its prefix.
    int32_t pos = token.start;
    return parse_double_at(bytes, token.end, &pos);
}

bool lex_integer(const unsigned char *bytes, const Token &token, int64_t *value) {
    if (token.kind != Tok::kNumber) return false;
    int32_t p = token.start;
    const bool negative = p < token.end && bytes[p] == '-';
    if (p < token.end && (bytes[p] == '+' || bytes[p] == '-')) ++p;
    if (p == token.end) return false;
    constexpr int64_t kCap = int64_t{1} << 53;
    int64_t v = 0;
    for (; p < token.end; ++p) {
        if (!is_digit(bytes[p])) return false;
        v = std::min(kCap, v * 10 + (bytes[p] - '0'));
    }
    *value = negative ? -v : v;
    return true;
}

std::string lex_name_text(const unsigned char *bytes, int32_t start, int32_t end) {
    // #xx stands for the byte xx; a '#' without two hex digits is itself.
    std::string s;
    for (int32_t i = start + 1; i < end; ++i) {
        if (bytes[i] == '#' && i + 2 < end && hex_digit_value(bytes[i + 1]) >= 0 &&
            hex_digit_value(bytes[i + 2]) >= 0) {
            s += static_cast<char>(hex_digit_value(bytes[i + 1]) * 16 + hex_digit_value(bytes[i + 2]));
            i += 2;
        } else {
            s += static_cast<char>(bytes[i]);
        }
    }
    return s;
}

bool lex_is(const unsigned char *bytes, const Token &token, const char *word) {
    const size_t n = std::strlen(word);
    return token.kind == Tok::kKeyword && static_cast<size_t>(token.end - token.start) == n &&
           std::memcmp(bytes + token.start, word, n) == 0;
}

int32_t lex_inline_image_end(const unsigned char *bytes, int32_t end, int32_t data_start) {
    auto is_white = [](unsigned char c) { return is_pdf_ws(c) || is_space_char(c); };
    for (int64_t m = static_cast<int64_t>(data_start) + 1; m + 1 < end; ++m) {
        const void *hit = std::memchr(bytes + m, 'E', static_cast<size_t>(end - 1 - m));
        if (hit == nullptr) return -1;
        m = static_cast<const unsigned char *>(hit) - bytes;
        if (bytes[m + 1] == 'I' && (m + 2 == end || is_white(bytes[m + 2])))
            return static_cast<int32_t>(m + 2);
    }
    return -1;
}
