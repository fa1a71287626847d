// Residual-text verification: the finished output is searched for the search
// text, ASCII case folded, and every occurrence that a reader could see fails
// the call. Occurrences in names, comment lines, data that cannot be read as
// text, and the literal-string values of a few naming keys are tolerated.
#include "verify.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "api.h"

namespace {

// Keys whose literal-string values may keep the text: field names, tooltips,
// messages, identifiers, notes and titles name things, they show no content.
constexpr const char *keys[] = {"T", "TU", "TM", "Msg", "ID", "Note", "Title", nullptr};
// How far the label looks for an object's dictionary and its stream keyword.
constexpr int64_t kLabelWindow = 65536;
constexpr size_t kLabelSize = 128;

bool is_name_char(unsigned char c) {
    return is_alnum(c) || c == '#' || c == '*' || c == '+' || c == '-' || c == '.' || c == '_';
}

bool matches_at(const unsigned char *b, int32_t m, const unsigned char *search, int32_t n) {
    for (int32_t i = 0; i < n; ++i)
        if (ascii_lower(b[m + i]) != ascii_lower(search[i])) return false;
    return true;
}

// True when m lies inside one of the ranges; `sorted` when they follow one
// another without overlapping.
bool in_unscanned(const std::vector<UnscannedRange> &ranges, bool sorted, int32_t m) {
    const auto inside = [m](const UnscannedRange &r) {
        return r.start <= m && m < static_cast<int64_t>(r.start) + r.len;
    };
    if (!sorted) return std::any_of(ranges.begin(), ranges.end(), inside);
    auto it = std::upper_bound(ranges.begin(), ranges.end(), m,
                               [](int32_t pos, const UnscannedRange &r) { return pos < r.start; });
    return it != ranges.begin() && inside(*std::prev(it));
}

// Part of a /Name: a slash before the run of name characters that ends at m.
bool in_name(const unsigned char *b, int32_t m) {
    int32_t i = m - 1;
    while (i >= 0 && is_name_char(b[i])) --i;
    return i >= 0 && b[i] == '/';
}

// On a line that starts, after spaces and tabs, with "%".
bool in_comment_line(const unsigned char *b, int32_t m) {
    int32_t k = m;
    while (k > 0 && b[k - 1] != '\n' && b[k - 1] != '\r') --k;
    while (k < m && (b[k] == ' ' || b[k] == '\t')) ++k;
    return b[k] == '%';
}

// A parenthesis after an odd number of backslashes is part of the string.
bool escaped(const unsigned char *b, int32_t i) {
    int32_t backslashes = 0;
    for (int32_t j = i - 1; j >= 0 && b[j] == '\\'; --j) ++backslashes;
    return backslashes % 2 == 1;
}

// Inside a literal string that is the value of one of the `keys`.
bool in_key_string(const unsigned char *b, int32_t m) {
    int64_t depth = 0;
    int32_t open = -1;
    for (int32_t i = m - 1; i >= 0 && open < 0; --i) {
        if ((b[i] != '(' && b[i] != ')') || escaped(b, i)) continue;
        if (b[i] == ')')
            ++depth;
        else if (depth > 0)
            --depth;
        else
            open = i;
    }
    if (open <= 0) return false;
    int32_t k = open - 1;
    while (k >= 0 && (b[k] == '\t' || b[k] == '\n' || b[k] == '\r' || b[k] == ' ')) --k;
    if (k < 0) return false;
    int32_t slash = k;
    while (slash >= 0 && b[slash] != '/') {
        if (is_space_char(b[slash])) return false;
        --slash;
    }
    if (slash < 0) return false;
    const size_t key_len = static_cast<size_t>(k - slash);
    for (const char *const *key = keys; *key != nullptr; ++key)
        if (std::strlen(*key) == key_len && std::memcmp(b + slash + 1, *key, key_len) == 0)
            return true;
    return false;
}

bool tolerated(const unsigned char *b, int32_t m, const std::vector<UnscannedRange> &ranges,
               bool sorted) {
    if (in_unscanned(ranges, sorted, m)) return true;
    if (m == 0) return b[0] == '%';  // the header line
    return in_name(b, m) || in_comment_line(b, m) || in_key_string(b, m);
}

bool bytes_at(const unsigned char *b, int64_t len, int64_t p, const char *word) {
    const size_t n = std::strlen(word);
    return p + static_cast<int64_t>(n) <= len && std::memcmp(b + p, word, n) == 0;
}

// Names the object around the match at m: its kind when its dictionary tells,
// else its number.
void make_label(const unsigned char *b, int32_t len, int32_t m, char *label) {
    const char *whole = "the output file";
    std::snprintf(label, kLabelSize, "%s", whole);
    if (m <= 4) return;
    // The nearest "obj" keyword wholly before m (the "obj" of "endobj" is
    // preceded by 'd', so it never counts).
    int32_t e = m;
    while (e >= 5 && !(bytes_at(b, len, e - 3, "obj") && is_space_char(b[e - 4]))) --e;
    if (e < 5) return;

    // Its object number: "num gen obj", the first of the two integers.
    int32_t num = -1;
    int32_t gen_end = e - 4;
    while (gen_end >= 0 && is_space_char(b[gen_end])) --gen_end;
    int32_t gen_start = gen_end;
    while (gen_start >= 0 && is_digit(b[gen_start])) --gen_start;
    int32_t num_end = gen_start;
    while (num_end >= 0 && is_space_char(b[num_end])) --num_end;
    int32_t num_start = num_end;
    while (num_start >= 0 && is_digit(b[num_start])) --num_start;
    if (gen_start < gen_end && num_end < gen_start && num_start < num_end) {
        int32_t pos = num_start + 1;
        num = parse_int_at(b, len, &pos);
    }
    if (num >= 1) std::snprintf(label, kLabelSize, "object %ld", static_cast<long>(num));

    // Its dictionary, unless a stream keyword comes first.
    int64_t dict = -1;
    const int64_t dict_stop = std::min<int64_t>(len, static_cast<int64_t>(e) - 4 + kLabelWindow);
    for (int64_t p = e - 4; p < dict_stop; ++p) {
        if (bytes_at(b, len, p, "<<")) {
            dict = p;
            break;
        }
        if (bytes_at(b, len, p, "stream")) break;
    }
    if (dict < 0) return;
    int64_t end = m;
    const int64_t end_stop = std::min<int64_t>(len, dict + kLabelWindow);
    for (int64_t p = dict; p < end_stop; ++p) {
        if (bytes_at(b, len, p, "stream")) {
            end = p;
            break;
        }
    }
    static const struct {
        const char *name;
        const char *label;
    } kinds[] = {{"Image", "an image stream"},
                 {"Form", "a Form XObject stream"},
                 {"Metadata", "the XMP metadata stream"},
                 {"Widget", "a form field dictionary"},
                 {"FT", "a form field dictionary"}};
    if (end > dict) {
        for (const auto &kind : kinds) {
            if (find_name(b, len, static_cast<int32_t>(dict), static_cast<int32_t>(end),
                          kind.name) >= 0) {
                std::snprintf(label, kLabelSize, "%s", kind.label);
                return;
            }
        }
        std::snprintf(label, kLabelSize, "%s", "an undecoded stream");
        return;
    }
    if (num < 1) std::snprintf(label, kLabelSize, "%s", "an object that was not redacted");
}

}  // namespace

int verify_output(const unsigned char *bytes, int32_t len, const char *search,
                  const std::vector<UnscannedRange> &unscanned) {
    if (bytes == nullptr || len <= 0 || search == nullptr || search[0] == '\0') return 1;
    const size_t search_len = std::strlen(search);
    if (search_len > static_cast<size_t>(len)) return 1;
    const auto n = static_cast<int32_t>(search_len);
    const auto *s = reinterpret_cast<const unsigned char *>(search);
    // The writer records ranges in output order, apart from one another: then
    // each test is a binary search.
    const bool sorted =
        std::adjacent_find(unscanned.begin(), unscanned.end(),
                           [](const UnscannedRange &a, const UnscannedRange &b) {
                               return static_cast<int64_t>(a.start) + a.len > b.start;
                           }) == unscanned.end();
    const unsigned char lead = ascii_lower(s[0]);
    for (int32_t m = 0; m <= len - n; ++m) {
        if (ascii_lower(bytes[m]) != lead || !matches_at(bytes, m, s, n)) continue;
        if (tolerated(bytes, m, unscanned, sorted)) continue;
        char label[kLabelSize] = {};
        make_label(bytes, len, m, label);
        set_error("redaction incomplete: the search text still appears in %s — no output written",
                  label);
        return 0;
    }
    return 1;
}
