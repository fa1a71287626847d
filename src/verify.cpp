// Residual-text verification: the finished output is searched for the search
// text, ASCII case folded, and every occurrence that a reader could see fails
// the call. Occurrences in names, comment lines, data that cannot be read as
// text, and the literal-string values of a few naming keys are tolerated.
#include "verify.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <new>

#include "api.h"
#include "textmatch.h"

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

// What the tolerance tests read before a position m, kept up to date as the
// search moves forward one byte at a time. Each test then costs a constant
// time, instead of a walk back that could reach the start of the output for
// every one of many occurrences.
struct Before {
    int32_t name_run = 0;     // first byte of the run of name characters that ends at m
    int32_t line_start = 0;   // first byte of m's line
    int32_t line_lead = -1;   // first byte of that line that is no space or tab; -1 not yet read
    int32_t backslashes = 0;  // backslashes right before m
    int64_t open = 0;         // literal strings open at m: each "(" not yet closed by a ")"
    // The innermost open strings up to a depth of kMaxOpen: where each "("
    // stands and whether a listed key names it (-1 not yet read). Deeper
    // strings are counted only; a match inside one is not tolerated.
    struct Open {
        int32_t pos;
        int key;
    };
    std::vector<Open> opens;
};

constexpr int64_t kMaxOpen = 4096;

// Takes byte p into the state, once every test at p has been made.
void step(Before &st, const unsigned char *b, int32_t p) {
    const unsigned char c = b[p];
    if (!is_name_char(c)) st.name_run = p + 1;
    if (c == '\n' || c == '\r') {
        st.line_start = p + 1;
        st.line_lead = -1;
    }
    // A parenthesis after an odd number of backslashes is part of a string.
    if ((c == '(' || c == ')') && st.backslashes % 2 == 0) {
        if (c == '(') {
            if (st.open < kMaxOpen) st.opens.push_back({p, -1});
            ++st.open;
        } else if (st.open > 0) {
            if (st.open <= kMaxOpen) st.opens.pop_back();
            --st.open;
        }
    }
    st.backslashes = c == '\\' ? st.backslashes + 1 : 0;
}

// Part of a /Name: a slash before the run of name characters that ends at m.
bool in_name(const Before &st, const unsigned char *b) {
    return st.name_run > 0 && b[st.name_run - 1] == '/';
}

// On a line that starts, after spaces and tabs, with "%".
bool in_comment_line(Before &st, const unsigned char *b, int32_t len, int32_t m) {
    if (st.line_lead < 0) {
        int32_t k = st.line_start;
        while (k < len && (b[k] == ' ' || b[k] == '\t')) ++k;
        st.line_lead = k;
    }
    return b[std::min(st.line_lead, m)] == '%';
}

// Whether the literal string opened at `open` is the value of one of `keys`:
// the key right before it, blanks between allowed.
bool names_listed_key(const unsigned char *b, int32_t open) {
    int32_t k = open - 1;
    while (k >= 0 && (b[k] == '\t' || b[k] == '\n' || b[k] == '\r' || b[k] == ' ')) --k;
    if (k < 0) return false;
    // No listed key is longer than five letters: a longer run is none of them.
    constexpr int32_t kLongestKey = 5;
    int32_t slash = k;
    while (slash >= 0 && b[slash] != '/') {
        if (is_space_char(b[slash]) || k - slash >= kLongestKey) return false;
        --slash;
    }
    if (slash < 0) return false;
    const size_t key_len = static_cast<size_t>(k - slash);
    for (const char *const *key = keys; *key != nullptr; ++key)
        if (std::strlen(*key) == key_len && std::memcmp(b + slash + 1, *key, key_len) == 0)
            return true;
    return false;
}

// Inside a literal string that is the value of one of the `keys`.
bool in_key_string(Before &st, const unsigned char *b) {
    if (st.open == 0 || st.open > kMaxOpen) return false;
    Before::Open &innermost = st.opens.back();
    if (innermost.pos <= 0) return false;
    if (innermost.key < 0) innermost.key = names_listed_key(b, innermost.pos) ? 1 : 0;
    return innermost.key == 1;
}

// `unscanned`: m lies in a range the writer left unscanned.
bool tolerated(Before &st, const unsigned char *b, int32_t len, int32_t m, bool unscanned) {
    if (unscanned) return true;
    if (m == 0) return b[0] == '%';  // the header line
    return in_name(st, b) || in_comment_line(st, b, len, m) || in_key_string(st, b);
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

    // Its dictionary, unless its stream data or its end comes first.
    int64_t dict = -1;
    const int64_t dict_stop = std::min<int64_t>(len, static_cast<int64_t>(e) - 4 + kLabelWindow);
    for (int64_t p = e - 4; p < dict_stop; ++p) {
        if (bytes_at(b, len, p, "<<")) {
            dict = p;
            break;
        }
        if (bytes_at(b, len, p, "stream") || bytes_at(b, len, p, "endobj")) break;
    }
    if (dict < 0) return;
    // The dictionary ends at the stream keyword, or with the object: what
    // follows belongs to other objects and never names this one.
    int64_t end = m;
    bool stream = false;
    const int64_t end_stop = std::min<int64_t>(len, dict + kLabelWindow);
    for (int64_t p = dict; p < end_stop; ++p) {
        stream = bytes_at(b, len, p, "stream");
        if (stream || bytes_at(b, len, p, "endobj")) {
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
    for (const auto &kind : kinds) {
        if (end > dict && find_name(b, len, static_cast<int32_t>(dict), static_cast<int32_t>(end),
                                    kind.name) >= 0) {
            std::snprintf(label, kLabelSize, "%s", kind.label);
            return;
        }
    }
    if (stream)
        std::snprintf(label, kLabelSize, "%s", "an undecoded stream");
    else if (num < 1)
        std::snprintf(label, kLabelSize, "%s", "an object that was not redacted");
}

// Fails the check for the occurrence at m, naming where it is.
int refuse(const unsigned char *b, int32_t len, int32_t m) {
    char label[kLabelSize] = {};
    make_label(b, len, m, label);
    set_error("redaction incomplete: the search text still appears in %s — no output written",
              label);
    return 0;
}

// Whether a position lies in an unscanned range, asked for positions in
// increasing order: the ranges sorted by start, and the furthest end of
// those that start at or before the position. Overlapping or unsorted
// ranges give the same answers as in_unscanned.
struct UnscannedCursor {
    std::vector<UnscannedRange> ranges;
    size_t next = 0;
    int64_t reach = 0;

    bool inside(int32_t m) {
        while (next < ranges.size() && ranges[next].start <= m) {
            reach = std::max(reach, static_cast<int64_t>(ranges[next].start) + ranges[next].len);
            ++next;
        }
        return m < reach;
    }
};

// The ranges in order of start, those that touch or overlap joined, empty
// ones left out: they cover the same bytes.
std::vector<UnscannedRange> merged_ranges(std::vector<UnscannedRange> ranges) {
    std::sort(ranges.begin(), ranges.end(),
              [](const UnscannedRange &a, const UnscannedRange &b) { return a.start < b.start; });
    std::vector<UnscannedRange> merged;
    merged.reserve(ranges.size());
    for (const UnscannedRange &r : ranges) {
        if (r.len <= 0) continue;
        const int64_t end = int64_t{r.start} + r.len;
        if (!merged.empty() && r.start <= int64_t{merged.back().start} + merged.back().len) {
            UnscannedRange &last = merged.back();
            last.len = static_cast<int32_t>(std::max<int64_t>(int64_t{last.start} + last.len, end) - last.start);
        } else {
            merged.push_back(r);
        }
    }
    return merged;
}

// Whether an occurrence of a term of `automaton` (`longest` bytes at most)
// starts outside `ranges` (sorted, apart from one another). The automaton
// alone reads the bytes: in a range it reads only as far as an occurrence
// that starts before the range can reach, and starts afresh where the range
// ends. Most outputs hold no such occurrence, and then the full reading,
// which follows names, comment lines and strings at every byte, is not
// needed: it tolerates every occurrence that starts in a range.
// `starts` tells the bytes that begin a term.
bool occurs_outside(const unsigned char *bytes, int32_t len, const SearchSet &automaton, int32_t longest,
                    const std::array<bool, 256> &starts, const std::vector<UnscannedRange> &ranges) {
    int32_t node = 0;
    int64_t e = 0;
    const auto read_to = [&](int64_t stop) {
        for (; e < stop; ++e) {
            if (node == 0) {  // at the root only a byte that begins a term moves on
                while (e < stop && !starts[bytes[e]]) ++e;
                if (e == stop) break;
            }
            node = search_set_next(automaton, node, ascii_lower(bytes[e]));
            if (node == 0) continue;  // the root ends no term
            const SearchSet::Node &here = automaton.nodes[static_cast<size_t>(node)];
            for (int32_t at = here.out >= 0 ? node : here.report; at >= 0;
                 at = automaton.nodes[static_cast<size_t>(at)].report) {
                const int64_t m = e - automaton.nodes[static_cast<size_t>(at)].depth + 1;
                if (!in_unscanned(ranges, true, static_cast<int32_t>(m))) return true;
            }
        }
        return false;
    };
    for (const UnscannedRange &r : ranges) {
        if (read_to(std::min<int64_t>(len, int64_t{r.start} + longest - 1))) return true;
        const int64_t end = std::min<int64_t>(len, int64_t{r.start} + r.len);
        if (e < end) {
            e = end;
            node = 0;
        }
    }
    return read_to(len);
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
    Before before;
    try {
        before.opens.reserve(static_cast<size_t>(kMaxOpen));  // never grows after this
    } catch (const std::bad_alloc &) {
        set_error("out of memory checking the output file");
        return 0;
    }
    for (int32_t m = 0; m <= len - n; step(before, bytes, m), ++m) {
        if (ascii_lower(bytes[m]) != lead || !matches_at(bytes, m, s, n)) continue;
        if (tolerated(before, bytes, len, m, in_unscanned(unscanned, sorted, m))) continue;
        return refuse(bytes, len, m);
    }
    return 1;
}

int verify_output_terms(const unsigned char *bytes, int32_t len,
                        const std::vector<std::string> &terms,
                        const std::vector<UnscannedRange> &unscanned) {
    if (bytes == nullptr || len <= 0 || terms.empty()) return 1;
    // The terms that fit in the output, as one automaton over their bytes,
    // ASCII letters folded; `original` gives each one's place among the terms.
    SearchSet automaton;
    std::vector<int32_t> original;
    int32_t longest = 0;
    UnscannedCursor cursor;
    Before before;
    std::vector<unsigned char> tolerated_at;
    std::vector<int32_t> first(terms.size(), -1);
    std::array<bool, 256> starts{};  // the bytes that begin a term, either case
    try {
        for (size_t t = 0; t < terms.size(); ++t) {
            const std::string &term = terms[t];
            if (term.empty() || term.size() > static_cast<size_t>(len)) continue;
            std::u32string chars(term.size(), 0);
            for (size_t k = 0; k < term.size(); ++k) chars[k] = ascii_lower(static_cast<unsigned char>(term[k]));
            // Both cases in ASCII only, as the search folds them: the host's
            // locale has no say (a Turkish one raises i to another letter).
            for (int c = 0; c < 256; ++c)
                if (ascii_lower(static_cast<unsigned char>(c)) == chars[0]) starts[static_cast<size_t>(c)] = true;
            search_set_add_chars(automaton, std::move(chars));
            original.push_back(static_cast<int32_t>(t));
            longest = std::max(longest, static_cast<int32_t>(term.size()));
        }
        if (longest == 0) return 1;
        search_set_build(automaton);
        cursor.ranges = merged_ranges(unscanned);
        before.opens.reserve(static_cast<size_t>(kMaxOpen));  // never grows after this
        // The verdicts of the last `longest` positions, enough for the start of
        // any occurrence that ends at the current byte.
        size_t ring = 1;
        while (ring < static_cast<size_t>(longest)) ring <<= 1;
        tolerated_at.assign(ring, 0);
    } catch (const std::bad_alloc &) {
        set_error("out of memory checking the output file");
        return 0;
    }
    if (!occurs_outside(bytes, len, automaton, longest, starts, cursor.ranges)) return 1;
    const size_t mask = tolerated_at.size() - 1;
    // The lowest term refused so far; nothing can come before term 0.
    int32_t best = -1;
    int32_t node = 0;
    for (int32_t e = 0; e < len && best != 0; ++e) {
        // Each test reads the bytes before its position, as verify_output does;
        // only a byte that begins some term can begin an occurrence.
        tolerated_at[static_cast<size_t>(e) & mask] =
            starts[bytes[e]] && tolerated(before, bytes, len, e, cursor.inside(e)) ? 1 : 0;
        step(before, bytes, e);
        node = search_set_next(automaton, node, ascii_lower(bytes[e]));
        const SearchSet::Node &here = automaton.nodes[static_cast<size_t>(node)];
        for (int32_t at = here.out >= 0 ? node : here.report; at >= 0;
             at = automaton.nodes[static_cast<size_t>(at)].report) {
            const SearchSet::Node &found = automaton.nodes[static_cast<size_t>(at)];
            const int32_t m = e - found.depth + 1;
            if (tolerated_at[static_cast<size_t>(m) & mask]) continue;
            for (int32_t o = found.out; o >= 0; o = automaton.outs[static_cast<size_t>(o)].next) {
                const int32_t t = original[static_cast<size_t>(automaton.outs[static_cast<size_t>(o)].term)];
                if (first[static_cast<size_t>(t)] >= 0) continue;
                first[static_cast<size_t>(t)] = m;
                if (best < 0 || t < best) best = t;
            }
        }
    }
    if (best < 0) return 1;
    return refuse(bytes, len, first[static_cast<size_t>(best)]);
}
