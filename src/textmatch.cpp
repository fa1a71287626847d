// Text as readers extract it, and the search for the search text in it.
#include "textmatch.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "unicode.h"

namespace {

// A gap between two glyphs of a line wider than the high mark is a word
// break to every reader, one narrower than the low mark to none; readers
// place their cut between (pdftotext's output on real files matches 0.12 em,
// MuPDF's about 0.14), so a gap there is a soft break. A jump back or a
// baseline move of more than half an em is a new line.
constexpr double kWordGapLow = 0.10;
constexpr double kWordGapHigh = 0.15;
constexpr double kLineJump = 0.5;

// What stands between two glyphs, weakest first: a run of breaks and white
// space is one break, the strongest of them.
enum class Break { kNone, kSoft, kWord, kLine };

char32_t break_char(Break b) {
    return b == Break::kLine ? kLineSeparator : b == Break::kWord ? kSeparator : kSoftSeparator;
}
Break break_of_char(char32_t c) {
    return c == kLineSeparator ? Break::kLine : c == kSeparator ? Break::kWord : Break::kSoft;
}

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

// A soft hyphen shows only where a line breaks: inside a line (an
// /ActualText of U+00AD around a glyph that draws nothing) the word goes on.
constexpr char32_t kSoftHyphen = 0xAD;

bool is_hyphen(char32_t c) { return c == '-' || c == kSoftHyphen || c == 0x2010 || c == 0x2011; }

// The letters a ligature character stands for (U+FB00 to U+FB06), or nullptr.
const char32_t *ligature_letters(char32_t c) {
    static const char32_t *const kLetters[] = {U"ff", U"fi", U"fl", U"ffi", U"ffl", U"st", U"st"};
    if (c >= 0xFB00 && c <= 0xFB06) return kLetters[c - 0xFB00];
    return nullptr;
}

// Appends the folded form of one character, with its owner.
struct Builder {
    StreamText &out;
    bool owners = true;  // whether the owners of the characters are kept

    void own(CharOwner owner) {
        if (owners) owner_list_push(out.owners, owner);
    }

    void separator(CharOwner owner, Break kind) {
        if (!out.chars.empty() && is_separator(out.chars.back())) {
            if (kind > break_of_char(out.chars.back())) out.chars.back() = break_char(kind);
            return;
        }
        if (out.chars.empty()) return;  // nothing to separate yet
        out.chars.push_back(break_char(kind));
        own(owner);
    }
    void put(char32_t c, CharOwner owner) {
        if (c > 0x20 && c < 0x7F) {  // printable ASCII, most of all text
            out.chars.push_back(c >= 'A' && c <= 'Z' ? c + 32 : c);
            own(owner);
            return;
        }
        put_other(c, owner);
    }
    void put_other(char32_t c, CharOwner owner) {
        if (is_white(c)) {
            separator(owner, c == '\n' || c == '\r' || c == 0x2028 || c == 0x2029 ? Break::kLine : Break::kWord);
            return;
        }
        if (is_invisible(c)) return;
        if (c < 0x20 || (c >= 0x7F && c < 0xA0)) c = kUnknownChar;  // control codes
        if (const char32_t *letters = ligature_letters(c)) {
            for (; *letters != 0; ++letters) put(*letters, owner);
            return;
        }
        out.chars.push_back(unicode_fold(c));
        own(owner);
    }
};

// The break a gap makes: `dx` along the baseline from where the pen stands
// after the glyph before, `dy` across it, `spacing` the character and word
// spacing in that pen move. Readers measure the gap from where the glyph's
// drawn width ends, some from the pen: groff sets a sentence's end with
// character spacing and starts the next word's rest where the letter's
// width ends ("(.O) Tj 15.97 0 Td (ptions) Tj" under 6.25 Tc reads "Options"),
// and sets word gaps with character spacing alone ("3.73 Tc (sd) Tj" reads
// "s d"). Where the two measures, or the readers' cuts, disagree, the break
// is soft: the search takes it both ways.
inline Break break_of_gap(double dx, double dy, double spacing, double em) {
    const double drawn = dx + spacing;
    if (std::fabs(dy) > kLineJump * em || std::max(dx, drawn) < -kLineJump * em) return Break::kLine;
    if (std::min(dx, drawn) > kWordGapHigh * em) return Break::kWord;
    if (std::max(dx, drawn) <= kWordGapLow * em) return Break::kNone;
    return Break::kSoft;
}

// The break between glyph `g` of op `og` and glyph `h` of another op `oh`,
// measured in `og`'s text space.
Break break_across_ops(const ShowOp &og, double end, double spacing, const ShowOp &oh, const TraceGlyph &h) {
    const double em = std::fabs(og.size) > 0 ? std::fabs(og.size) : 1.0;
    const Point p = mat_apply(oh.text_to_user, h.tx, oh.rise);
    Matrix inverse;
    if (!mat_invert(og.text_to_user, &inverse)) return Break::kWord;
    const Point q = mat_apply(inverse, p.x, p.y);
    return break_of_gap(q.x - end, q.y - og.rise, spacing, em);
}

// How glyph `h` of op `oh` stands after glyph `g` of op `og`, whose advance
// is `g_adv`, of which `g_spacing` is character and word spacing.
inline Break break_between(const ShowOp &og, const TraceGlyph &g, float g_adv, double g_spacing, const ShowOp &oh,
                         const TraceGlyph &h) {
    const double end = static_cast<double>(g.tx) + g_adv;
    if (&og != &oh) return break_across_ops(og, end, g_spacing, oh, h);
    const double em = std::fabs(og.size) > 0 ? std::fabs(og.size) : 1.0;
    return break_of_gap(h.tx - end, 0, g_spacing, em);
}

// The automaton's next node from `node` on `c`, through the fail links.
int32_t next_node(const SearchSet &set, int32_t node, char32_t c) {
    for (;;) {
        auto it = set.edges.find((static_cast<uint64_t>(node) << 32) | c);
        if (it != set.edges.end()) return it->second;
        if (node == 0) return 0;
        node = set.nodes[static_cast<size_t>(node)].fail;
    }
}

// The length of the longest term, in characters.
size_t longest_term(const SearchSet &set) {
    size_t longest = 1;
    for (const SearchPattern &p : set.patterns) longest = std::max(longest, p.chars.size());
    return longest;
}

// A stretch [first, second) of a text.
using TextWindow = std::pair<size_t, size_t>;

// Runs the automaton over each window of the text and reports every term's
// occurrences, leftmost first and never overlapping within a term. With
// `skips` (characters in order that the walk passes over: they belong to the
// occurrence around them), only occurrences that take one in are reported;
// the others are the plain reading's.
void run_automaton(const std::u32string &text, const std::vector<TextWindow> &windows,
                   const std::vector<int32_t> *skips, const SearchSet &set, std::vector<TextMatch> &out) {
    if (set.nodes.empty() || windows.empty()) return;
    std::vector<int32_t> last_end(set.patterns.size(), -1);
    // The text indices of the last characters not passed over, as many as
    // the longest term has: where an occurrence that ends here starts.
    const size_t longest = longest_term(set);
    size_t ring_size = 1;
    while (ring_size < longest) ring_size *= 2;
    std::vector<int32_t> taken(ring_size);
    const size_t mask = ring_size - 1;
    auto skip_at = [skips](int32_t at) {
        return static_cast<size_t>(std::lower_bound(skips->begin(), skips->end(), at) - skips->begin());
    };
    for (const auto &[from, to] : windows) {
        size_t count = 0;
        int32_t node = 0;
        size_t next_skip = skips != nullptr ? skip_at(static_cast<int32_t>(from)) : 0;
        for (size_t i = from; i < to; ++i) {
            if (skips != nullptr && next_skip < skips->size() && static_cast<size_t>((*skips)[next_skip]) == i) {
                ++next_skip;
                continue;
            }
            node = search_set_next(set, node, text[i]);
            if (node == 0) {  // most characters: the root ends no term, and none later starts here
                ++count;
                continue;
            }
            taken[count++ & mask] = static_cast<int32_t>(i);
            const SearchSet::Node &here = set.nodes[static_cast<size_t>(node)];
            for (int32_t at = here.out >= 0 ? node : here.report; at >= 0;
                 at = set.nodes[static_cast<size_t>(at)].report) {
                const int32_t depth = set.nodes[static_cast<size_t>(at)].depth;
                const int32_t first = taken[(count - static_cast<size_t>(depth)) & mask];
                const auto end = static_cast<int32_t>(i + 1);
                if (skips != nullptr) {
                    const size_t k = skip_at(first);
                    if (k == skips->size() || (*skips)[k] >= end) continue;  // a plain occurrence
                }
                for (int32_t o = set.nodes[static_cast<size_t>(at)].out; o >= 0;
                     o = set.outs[static_cast<size_t>(o)].next) {
                    const int32_t term = set.outs[static_cast<size_t>(o)].term;
                    if (first < last_end[static_cast<size_t>(term)]) continue;
                    last_end[static_cast<size_t>(term)] = end;
                    out.push_back({first, end, term});
                }
            }
        }
    }
}

// The stretches of a text of `n` characters that a reading passing over
// `skips` must read: around each passed-over character, as many characters
// not passed over on either side as the longest term of `set` has, since an
// occurrence that takes it in holds no more. Linear in the skips.
std::vector<TextWindow> skip_windows(const std::vector<int32_t> &skips, size_t n, const SearchSet &set) {
    const size_t longest = longest_term(set);
    std::vector<TextWindow> windows;
    size_t end = 0;    // the last window's end
    size_t after = 0;  // the first skip at or past `end`
    for (size_t k = 0; k < skips.size(); ++k) {
        const auto at = static_cast<size_t>(skips[k]);
        size_t need = longest;
        if (windows.empty() || at >= end) {
            // No skip lies between the last window and this one: the
            // characters before it are plain.
            const size_t first = at >= longest ? at - longest : 0;
            if (windows.empty() || first > end) windows.emplace_back(first, 0);
            end = at + 1;
            after = k + 1;
        } else {
            // Inside the last window: what lies after it up to the end counts.
            const size_t plain = (end - at - 1) - (after - k - 1);
            if (plain >= longest) continue;
            need = longest - plain;
        }
        while (need > 0 && end < n) {
            const size_t next = after < skips.size() ? static_cast<size_t>(skips[after]) : n;
            if (next - end >= need) {
                end += need;
                need = 0;
            } else {
                need -= next - end;
                end = next + 1;
                ++after;
            }
        }
        windows.back().second = std::min(end, n);
    }
    return windows;
}

bool by_start(const TextMatch &a, const TextMatch &b) {
    return a.first != b.first ? a.first < b.first : a.term < b.term;
}

}  // namespace

std::u32string fold_text(const std::u32string &text) {
    StreamText t;
    Builder b{t};
    for (const char32_t c : text) b.put(c, kNoOwner);
    for (char32_t &c : t.chars)
        if (c == kLineSeparator) c = kSeparator;
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

int32_t search_set_next_slow(const SearchSet &set, int32_t node, char32_t c) {
    return next_node(set, node, is_separator(c) ? kSeparator : c);
}

void search_set_add_chars(SearchSet &set, std::u32string chars) {
    SearchPattern p;
    p.chars = std::move(chars);
    set.patterns.push_back(std::move(p));
}

bool search_set_add(SearchSet &set, const char *text) {
    SearchPattern p;
    if (!search_pattern_make(text, p)) return false;
    set.patterns.push_back(std::move(p));
    return true;
}

void search_set_build(SearchSet &set) {
    set.nodes.assign(1, SearchSet::Node{});
    set.outs.clear();
    set.edges.clear();
    size_t letters = 0;
    for (const SearchPattern &p : set.patterns) letters += p.chars.size();
    set.edges.reserve(letters);
    set.nodes.reserve(letters + 1);
    for (size_t t = 0; t < set.patterns.size(); ++t) {
        int32_t node = 0;
        for (const char32_t c : set.patterns[t].chars) {
            const uint64_t key = (static_cast<uint64_t>(node) << 32) | c;
            auto it = set.edges.find(key);
            if (it == set.edges.end()) {
                SearchSet::Node n;
                n.depth = set.nodes[static_cast<size_t>(node)].depth + 1;
                set.nodes.push_back(n);
                it = set.edges.emplace(key, static_cast<int32_t>(set.nodes.size() - 1)).first;
            }
            node = it->second;
        }
        set.outs.push_back({static_cast<int32_t>(t), set.nodes[static_cast<size_t>(node)].out});
        set.nodes[static_cast<size_t>(node)].out = static_cast<int32_t>(set.outs.size() - 1);
    }
    // Fail links breadth first: the children of each node, in order of depth,
    // side by side in one array (first_child[node] .. first_child[node + 1]).
    std::vector<int32_t> first_child(set.nodes.size() + 1, 0);
    for (const auto &entry : set.edges) ++first_child[static_cast<size_t>(entry.first >> 32) + 1];
    for (size_t n = 1; n < first_child.size(); ++n) first_child[n] += first_child[n - 1];
    std::vector<std::pair<char32_t, int32_t>> children(set.edges.size());
    {
        std::vector<int32_t> filled(first_child.begin(), first_child.end() - 1);
        for (const auto &[key, child] : set.edges)
            children[static_cast<size_t>(filled[static_cast<size_t>(key >> 32)]++)] = {
                static_cast<char32_t>(key & 0xFFFFFFFFu), child};
    }
    const auto children_of = [&](int32_t node) {
        return std::pair(children.begin() + first_child[static_cast<size_t>(node)],
                         children.begin() + first_child[static_cast<size_t>(node) + 1]);
    };
    std::vector<int32_t> queue;
    queue.reserve(set.nodes.size());
    for (auto [kid, last] = children_of(0); kid != last; ++kid) queue.push_back(kid->second);
    for (size_t q = 0; q < queue.size(); ++q) {
        const int32_t node = queue[q];
        for (auto [kid, last] = children_of(node); kid != last; ++kid) {
            const auto [c, child] = *kid;
            int32_t f = set.nodes[static_cast<size_t>(node)].fail;
            for (;;) {
                auto it = set.edges.find((static_cast<uint64_t>(f) << 32) | c);
                if (it != set.edges.end() && it->second != child) {
                    f = it->second;
                    break;
                }
                if (f == 0) {
                    f = 0;
                    break;
                }
                f = set.nodes[static_cast<size_t>(f)].fail;
            }
            SearchSet::Node &n = set.nodes[static_cast<size_t>(child)];
            n.fail = f;
            const SearchSet::Node &fn = set.nodes[static_cast<size_t>(f)];
            n.report = fn.out >= 0 ? f : fn.report;
            queue.push_back(child);
        }
    }
    // For automata of a usual size, the moves on the common characters come
    // from a table: a hash look-up per character would dominate the search.
    set.dense.clear();
    constexpr size_t kMaxDenseNodes = 8192;
    if (set.nodes.size() > kMaxDenseNodes) return;
    set.dense.assign(set.nodes.size() * kDenseColumns, 0);
    for (size_t node = 0; node < set.nodes.size(); ++node)
        for (size_t col = 0; col < kDenseColumns; ++col) {
            const char32_t c = col < 256 ? static_cast<char32_t>(col) : kSeparator;
            set.dense[node * kDenseColumns + col] = next_node(set, static_cast<int32_t>(node), c);
        }
}

int64_t search_set_fewest_letters(const SearchSet &set) {
    int64_t fewest = -1;
    for (const SearchPattern &p : set.patterns) {
        int64_t letters = 0;
        for (const char32_t c : p.chars) letters += c != kSeparator;
        if (fewest < 0 || letters < fewest) fewest = letters;
    }
    return fewest < 0 ? 0 : fewest;
}

CharOwner owner_at(OwnerReader &r, int32_t c) {
    const OwnerList &list = *r.list;
    if (c < r.next - 1 || c >= r.next + kOwnerBlock) {
        const OwnerList::Mark &mark = list.marks[static_cast<size_t>(c / kOwnerBlock)];
        r.next = c / kOwnerBlock * kOwnerBlock;
        r.last_glyph = mark.last_glyph;
        r.others = mark.others;
    }
    for (; r.next <= c; ++r.next) {
        switch (list.steps[static_cast<size_t>(r.next)]) {
            case OwnerList::kNone: r.owner = kNoOwner; break;
            case OwnerList::kSame: r.owner = r.last_glyph; break;
            case OwnerList::kNext: r.owner = ++r.last_glyph; break;
            default:
                r.owner = list.others[static_cast<size_t>(r.others++)];
                if (r.owner >= 0) r.last_glyph = r.owner;
        }
    }
    return r.owner;
}

namespace {

// Puts the text of glyph `i` of `op`: its span's /ActualText where it opens
// one, else what its font says the code reads.
void put_glyph_text(Builder &b, const ContentTrace &trace, const ShowOp &op, int32_t i, const TraceGlyph &g,
                    const std::vector<int32_t> &actual, std::u32string &scratch) {
    const int32_t s = actual.empty() ? -1 : actual[static_cast<size_t>(i)];
    if (s >= 0) {
        const MarkedSpan &span = trace.spans[static_cast<size_t>(s)];
        if (i == span.first_glyph || (i > 0 && actual[static_cast<size_t>(i - 1)] != s))
            for (const char32_t c : span.actual_text) b.put(c, span_owner(s));
        return;
    }
    const Font *font = op.font;
    const CharOwner owner = i;
    if (font != nullptr && font->kind != FontKind::kType0 && g.code < 256) {
        // A simple font's text per code, read in place.
        const uint32_t from = font->simple_text_at[g.code], to = font->simple_text_at[g.code + 1];
        if (from == to) b.put(kUnknownChar, owner);
        for (uint32_t k = from; k < to; ++k) b.put(font->simple_text[k], owner);
        return;
    }
    if (font != nullptr && font->unreadable) {
        ++b.out.unreadable_glyphs;
        if (b.out.unreadable_font == nullptr) b.out.unreadable_font = font;
        b.put(kUnknownChar, owner);
        return;
    }
    scratch.clear();
    if (font == nullptr || !font_text(*font, g.code, scratch)) {
        b.put(kUnknownChar, owner);
        return;
    }
    for (const char32_t c : scratch) b.put(c, owner);
}

}  // namespace

void stream_text_build(const ContentTrace &trace, StreamText &out, bool with_owners) {
    out = StreamText{};
    Builder b{out, with_owners};
    const size_t n = trace.glyphs.size();
    out.chars.reserve(n + n / 8 + 16);
    if (with_owners) {
        out.owners.steps.reserve(n + n / 8 + 16);
        out.owners.marks.reserve((n + n / 8) / kOwnerBlock + 16);
    }
    // The outermost span with /ActualText that each glyph lies in: its text
    // stands for all its glyphs. Kept only when there is such a span.
    std::vector<int32_t> actual;
    for (size_t s = 0; s < trace.spans.size(); ++s) {
        const MarkedSpan &span = trace.spans[s];
        if (!span.has_actual_text) continue;
        if (actual.empty()) actual.assign(n, -1);
        for (int32_t g = span.first_glyph; g < span.end_glyph && g < static_cast<int32_t>(n); ++g)
            if (actual[static_cast<size_t>(g)] < 0) actual[static_cast<size_t>(g)] = static_cast<int32_t>(s);
    }
    std::u32string scratch;
    const TraceGlyph *prev = nullptr;
    const ShowOp *prev_op = nullptr;
    float prev_adv = 0;
    double prev_spacing = 0;
    // The last glyph that put more than white space, and the separator that
    // the white glyphs since then put (or -1).
    const TraceGlyph *ink = nullptr;
    const ShowOp *ink_op = nullptr;
    float ink_adv = 0;
    double ink_spacing = 0;
    int64_t white_separator = -1;
    // Operations hold consecutive glyph ranges in order, together all glyphs.
    for (const ShowOp &op : trace.ops) {
        const auto first = static_cast<size_t>(op.first_glyph);
        const size_t end = std::min(n, first + static_cast<size_t>(op.glyph_count));
        for (size_t i = first; i < end; ++i) {
            const TraceGlyph &g = trace.glyphs[i];
            if (prev != nullptr) {
                const Break brk = break_between(*prev_op, *prev, prev_adv, prev_spacing, op, g);
                if (brk != Break::kNone) b.separator(kNoOwner, brk);
            }
            const size_t before = out.chars.size();
            put_glyph_text(b, trace, op, static_cast<int32_t>(i), g, actual, scratch);
            const auto at = static_cast<int32_t>(i);
            prev = &g;
            prev_op = &op;
            prev_adv = trace_glyph_adv(trace, op, at, g.code);
            prev_spacing = trace_glyph_spacing(trace, op, at, g.code);
            const bool white = out.chars.size() == before ||
                               (out.chars.size() == before + 1 && is_separator(out.chars.back()));
            if (white) {
                if (ink != nullptr && !out.chars.empty() && is_separator(out.chars.back()))
                    white_separator = static_cast<int64_t>(out.chars.size()) - 1;
                continue;
            }
            // Readers that place words by where their letters stand see no
            // space where a space glyph takes (about) no room: such a separator
            // is soft.
            if (white_separator >= 0 && out.chars[static_cast<size_t>(white_separator)] == kSeparator &&
                break_between(*ink_op, *ink, ink_adv, ink_spacing, op, g) <= Break::kSoft)
                out.chars[static_cast<size_t>(white_separator)] = kSoftSeparator;
            white_separator = -1;
            ink = &g;
            ink_op = &op;
            ink_adv = prev_adv;
            ink_spacing = prev_spacing;
        }
    }
    // Spans with /ActualText around no glyph at all still carry text.
    for (size_t s = 0; s < trace.spans.size(); ++s) {
        const MarkedSpan &span = trace.spans[s];
        if (!span.has_actual_text || span.end_glyph > span.first_glyph) continue;
        b.separator(kNoOwner, Break::kWord);
        for (const char32_t c : span.actual_text) b.put(c, span_owner(static_cast<int32_t>(s)));
    }
}

void find_matches(const StreamText &text, const SearchSet &set, std::vector<TextMatch> &out) {
    out.clear();
    const std::u32string &chars = text.chars;
    run_automaton(chars, {{0, chars.size()}}, nullptr, set, out);
    // Read once more with the text joined: a word broken over two lines by a
    // hyphen (the hyphen and the line break are passed over), words a soft
    // break parts, soft hyphens inside a line. Only the stretches around
    // them need reading, and only the occurrences that take one in are new.
    std::vector<int32_t> skips;
    for (size_t i = 0; i < chars.size(); ++i) {
        // Most characters are neither a hyphen nor a soft break.
        if (chars[i] < kSoftHyphen && chars[i] != '-') continue;
        if (i + 1 < chars.size() && is_hyphen(chars[i]) && chars[i + 1] == kLineSeparator) {
            skips.push_back(static_cast<int32_t>(i));
            skips.push_back(static_cast<int32_t>(i + 1));
            ++i;
        } else if (chars[i] == kSoftSeparator || chars[i] == kSoftHyphen) {
            skips.push_back(static_cast<int32_t>(i));
        }
    }
    if (!skips.empty()) run_automaton(chars, skip_windows(skips, chars.size(), set), &skips, set, out);
    std::sort(out.begin(), out.end(), by_start);
}

void find_in_string(const std::u32string &text, const SearchSet &set, std::vector<TextMatch> &out) {
    out.clear();
    const std::u32string folded = fold_text(text);
    run_automaton(folded, {{0, folded.size()}}, nullptr, set, out);
}
