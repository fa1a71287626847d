// Text as readers extract it, and the search for the search text in it.
#include "textmatch.h"

#include <cmath>
#include <cstring>

#include "unicode.h"

namespace {

// A gap wider than this many em between two glyphs of a line is a word break
// (readers use 0.1 to 0.15 em; this is what pdftotext's output on real files
// matches). A jump back or a baseline move of more than half an em is a new line.
constexpr double kWordGap = 0.12;
constexpr double kLineJump = 0.5;

bool is_white(char32_t c) {
    return c == 0x20 || (c >= 0x09 && c <= 0x0D) || c == 0xA0 || c == 0x85 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000 || c == 0x1680;
}

// Characters that show nothing and stand between letters without breaking a
// word: zero-width spaces and joiners, the byte order mark.
bool is_invisible(char32_t c) {
    return c == 0x200B || c == 0x200C || c == 0x200D || c == 0x2060 || c == 0xFEFF;
}

bool is_hyphen(char32_t c) { return c == '-' || c == 0xAD || c == 0x2010 || c == 0x2011; }

// The letters a ligature character stands for (U+FB00 to U+FB06), or nullptr.
const char32_t *ligature_letters(char32_t c) {
    static const char32_t *const kLetters[] = {U"ff", U"fi", U"fl", U"ffi", U"ffl", U"st", U"st"};
    if (c >= 0xFB00 && c <= 0xFB06) return kLetters[c - 0xFB00];
    return nullptr;
}

// Appends the folded form of one character, with its owner.
struct Builder {
    StreamText &out;
    bool pending_line = false;

    void separator(CharOwner owner, bool line) {
        if (!out.chars.empty() && out.chars.back() == kSeparator) {
            if (line) out.line_break.back() = 1;
            return;
        }
        if (out.chars.empty()) return;  // nothing to separate yet
        out.chars.push_back(kSeparator);
        out.owners.push_back(owner);
        out.line_break.push_back(line ? 1 : 0);
    }
    void put(char32_t c, CharOwner owner) {
        if (is_white(c)) {
            separator(owner, c == '\n' || c == '\r' || c == 0x2028 || c == 0x2029);
            return;
        }
        if (is_invisible(c)) return;
        if (c < 0x20 || (c >= 0x7F && c < 0xA0)) c = kUnknownChar;  // control codes
        if (const char32_t *letters = ligature_letters(c)) {
            for (; *letters != 0; ++letters) put(*letters, owner);
            return;
        }
        out.chars.push_back(unicode_fold(c));
        out.owners.push_back(owner);
        out.line_break.push_back(0);
    }
};

// How glyph `h` stands after glyph `g`: 0 same word, 1 word break, 2 new line.
int break_between(const ContentTrace &trace, const TraceGlyph &g, const TraceGlyph &h) {
    const ShowOp &og = trace.ops[static_cast<size_t>(g.op)];
    const double size = std::fabs(og.size) * og.hscale;
    const double em = std::fabs(og.size) > 0 ? std::fabs(og.size) : 1.0;
    double dx = 0, dy = 0;
    const double end = static_cast<double>(g.tx) + g.adv;
    if (g.op == h.op) {
        dx = h.tx - end;
    } else {
        const ShowOp &oh = trace.ops[static_cast<size_t>(h.op)];
        const Point p = mat_apply(oh.text_to_user, h.tx, oh.rise);
        Matrix inverse;
        if (!mat_invert(og.text_to_user, &inverse)) return 1;
        const Point q = mat_apply(inverse, p.x, p.y);
        dx = q.x - end;
        dy = q.y - og.rise;
    }
    (void)size;
    if (std::fabs(dy) > kLineJump * em || dx < -kLineJump * em) return 2;
    if (dx > kWordGap * em) return 1;
    return 0;
}

// KMP over the text, leftmost and never overlapping; `skip` marks characters
// that the walk passes over (they belong to the occurrence around them).
void kmp(const std::u32string &text, const std::vector<uint8_t> *skip, const std::u32string &pat,
         std::vector<TextMatch> &out) {
    const size_t m = pat.size();
    if (m == 0) return;
    std::vector<size_t> fail(m, 0);
    for (size_t i = 1, k = 0; i < m; ++i) {
        while (k > 0 && pat[i] != pat[k]) k = fail[k - 1];
        if (pat[i] == pat[k]) ++k;
        fail[i] = k;
    }
    size_t k = 0;
    int64_t start = -1;  // text index of the pattern's first character, when k > 0
    std::vector<size_t> starts(m, 0);  // text index of each matched pattern character
    for (size_t i = 0; i < text.size(); ++i) {
        if (skip != nullptr && (*skip)[i]) continue;
        const char32_t c = text[i];
        while (k > 0 && c != pat[k]) k = fail[k - 1];
        if (c == pat[k]) {
            starts[k] = i;
            ++k;
        }
        if (k == m) {
            start = static_cast<int64_t>(starts[0]);
            out.push_back({static_cast<int32_t>(start), static_cast<int32_t>(i + 1)});
            k = 0;
        }
    }
}

}  // namespace

std::u32string fold_text(const std::u32string &text) {
    StreamText t;
    Builder b{t};
    for (const char32_t c : text) b.put(c, {-1, -1});
    return t.chars;
}

bool search_pattern_make(const char *text, SearchPattern &out) {
    out.chars.clear();
    if (text == nullptr) return false;
    std::u32string decoded;
    const std::string_view bytes(text);
    if (!utf8_decode(bytes, decoded)) {
        decoded.clear();
        for (const char c : bytes) {
            const char32_t u = cp1252_to_unicode(static_cast<unsigned char>(c));
            decoded += u != 0 ? u : kUnknownChar;
        }
    }
    // Leading white space is a separator too: fold_text drops it, so add it back.
    const bool lead = !decoded.empty() && is_white(decoded.front());
    out.chars = fold_text(decoded);
    if (lead) out.chars.insert(out.chars.begin(), kSeparator);
    return !out.chars.empty();
}

void stream_text_build(const ContentTrace &trace, StreamText &out) {
    out = StreamText{};
    Builder b{out};
    const size_t n = trace.glyphs.size();
    // The outermost span with /ActualText that each glyph lies in: its text
    // stands for all its glyphs.
    std::vector<int32_t> actual(n, -1);
    std::vector<int32_t> span_at;  // spans with /ActualText and no glyphs, by position
    for (size_t s = 0; s < trace.spans.size(); ++s) {
        const MarkedSpan &span = trace.spans[s];
        if (!span.has_actual_text) continue;
        for (int32_t g = span.first_glyph; g < span.end_glyph && g < static_cast<int32_t>(n); ++g)
            if (actual[static_cast<size_t>(g)] < 0) actual[static_cast<size_t>(g)] = static_cast<int32_t>(s);
    }
    std::u32string scratch;
    const TraceGlyph *prev = nullptr;
    for (size_t i = 0; i < n; ++i) {
        const TraceGlyph &g = trace.glyphs[i];
        if (prev != nullptr) {
            const int brk = break_between(trace, *prev, g);
            if (brk > 0) b.separator({-1, -1}, brk == 2);
        }
        prev = &g;
        const int32_t s = actual[i];
        if (s >= 0) {
            const MarkedSpan &span = trace.spans[static_cast<size_t>(s)];
            if (static_cast<int32_t>(i) == span.first_glyph || (i > 0 && actual[i - 1] != s))
                for (const char32_t c : span.actual_text) b.put(c, {-1, s});
            continue;
        }
        const Font *font = trace.ops[static_cast<size_t>(g.op)].font;
        scratch.clear();
        if (font != nullptr && font->unreadable) {
            ++out.unreadable_glyphs;
            if (out.unreadable_font == nullptr) out.unreadable_font = font;
            b.put(kUnknownChar, {static_cast<int32_t>(i), -1});
            continue;
        }
        if (font == nullptr || !font_text(*font, g.code, scratch)) {
            b.put(kUnknownChar, {static_cast<int32_t>(i), -1});
            continue;
        }
        for (const char32_t c : scratch) b.put(c, {static_cast<int32_t>(i), -1});
    }
    // Spans with /ActualText around no glyph at all still carry text.
    for (size_t s = 0; s < trace.spans.size(); ++s) {
        const MarkedSpan &span = trace.spans[s];
        if (!span.has_actual_text || span.end_glyph > span.first_glyph) continue;
        b.separator({-1, -1}, false);
        for (const char32_t c : span.actual_text) b.put(c, {-1, static_cast<int32_t>(s)});
    }
    (void)span_at;
}

void find_matches(const StreamText &text, const SearchPattern &pattern,
                  std::vector<TextMatch> &out) {
    out.clear();
    kmp(text.chars, nullptr, pattern.chars, out);
    // A word broken over two lines by a hyphen: the hyphen and the line break
    // are passed over, unless an occurrence was found there already.
    std::vector<uint8_t> skip(text.chars.size(), 0);
    bool any = false;
    for (size_t i = 0; i + 1 < text.chars.size(); ++i) {
        if (is_hyphen(text.chars[i]) && text.chars[i + 1] == kSeparator && text.line_break[i + 1]) {
            skip[i] = skip[i + 1] = 1;
            any = true;
        }
    }
    if (!any) return;
    std::vector<TextMatch> joined;
    kmp(text.chars, &skip, pattern.chars, joined);
    std::vector<TextMatch> merged;
    size_t a = 0;
    for (const TextMatch &m : joined) {
        while (a < out.size() && out[a].end <= m.first) merged.push_back(out[a++]);
        bool overlaps = false;
        for (size_t k = a; k < out.size() && out[k].first < m.end; ++k)
            if (out[k].end > m.first) overlaps = true;
        if (!overlaps) merged.push_back(m);
    }
    while (a < out.size()) merged.push_back(out[a++]);
    out.swap(merged);
}

void find_in_string(const std::u32string &text, const SearchPattern &pattern,
                    std::vector<TextMatch> &out) {
    out.clear();
    kmp(fold_text(text), nullptr, pattern.chars, out);
}
