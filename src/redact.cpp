// Content redaction: deciding what to blank in one content stream, and
// rewriting it with those glyphs replaced by codes that draw nothing while
// everything else keeps its place.
#include "redact.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "lexer.h"
#include "unicode.h"

bool region_on_page(const Region &region, int page) {
    // Compared in double: a NaN or huge page never converts to an int here.
    return std::trunc(static_cast<double>(region.page)) == static_cast<double>(page);
}

bool StreamDecision::any_blank() const {
    return std::find(blank.begin(), blank.end(), true) != blank.end() ||
           std::find(blank_strings.begin(), blank_strings.end(), 1) != blank_strings.end() ||
           !props_objects.empty();
}

namespace {

// ---- Geometry of glyphs -----------------------------------------------------------

// The vertical extent of a glyph box in text space: descent to ascent.
void glyph_extent(const ShowOp &op, double *y0, double *y1) {
    const double descent = op.font != nullptr ? op.font->descent : -0.25;
    const double ascent = op.font != nullptr ? op.font->ascent : 0.9;
    const double a = op.rise + descent * op.size, b = op.rise + ascent * op.size;
    *y0 = std::fmin(a, b);
    *y1 = std::fmax(a, b);
}

// The box of glyph `glyph` of `op` in the space that `m` maps its text space to.
Quad glyph_quad(const ContentTrace &trace, const ShowOp &op, int32_t glyph, const Matrix &m) {
    const TraceGlyph &g = trace.glyphs[static_cast<size_t>(glyph)];
    const double a = g.tx, b = static_cast<double>(g.tx) + trace_glyph_adv(trace, op, glyph, g.code);
    const double x0 = std::fmin(a, b), x1 = std::fmax(a, b);
    double y0, y1;
    glyph_extent(op, &y0, &y1);
    return quad_of(m, x0, y0, x1, y1);
}

// The length of one unit of text space along x and along y, in user space.
void unit_lengths(const Matrix &m, double *ux, double *uy) {
    *ux = std::hypot(m.a, m.b);
    *uy = std::hypot(m.c, m.d);
}

// The box over the `count` glyphs of one line: their boxes joined in the
// text space of the first, widened by one unit of user space on every side.
Quad line_box(const ContentTrace &trace, const int32_t *glyphs, size_t count) {
    const ShowOp &op = trace.ops[static_cast<size_t>(trace_glyph_op(trace, glyphs[0]))];
    Matrix inverse;
    double ux = 0, uy = 0;
    unit_lengths(op.text_to_user, &ux, &uy);
    const bool usable = mat_invert(op.text_to_user, &inverse) && ux > 1e-9 && uy > 1e-9;
    Box box;
    for (size_t i = 0; i < count; ++i) {
        const int32_t k = glyphs[i];
        const ShowOp &glyph_op = trace.ops[static_cast<size_t>(trace_glyph_op(trace, k))];
        const Quad q = glyph_quad(trace, glyph_op, k, glyph_op.text_to_user);
        if (usable) {
            for (const Point &p : q.p) box_add(box, mat_apply(inverse, p.x, p.y));
        } else {
            box_union(box, quad_bounds(q));
        }
    }
    if (!usable) {
        return quad_of(Matrix{}, box.x0 - 1, box.y0 - 1, std::fmax(box.x1 + 1, box.x0),
                       std::fmax(box.y1 + 1, box.y0));
    }
    const double mx = 1 / ux, my = 1 / uy;
    return quad_of(op.text_to_user, box.x0 - mx, box.y0 - my, box.x1 + mx, box.y1 + my);
}

// ---- Text mode -------------------------------------------------------------------

std::u32string dict_string_text(const unsigned char *content, const DictString &s) {
    Token t;
    t.kind = content[s.start] == '(' ? Tok::kString : Tok::kHexString;
    t.start = s.start;
    t.end = s.end;
    const std::string bytes = pdfobj_string_bytes(content, t);
    std::u32string out;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE &&
        static_cast<unsigned char>(bytes[1]) == 0xFF) {
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            out += static_cast<char32_t>((static_cast<unsigned char>(bytes[i]) << 8) |
                                         static_cast<unsigned char>(bytes[i + 1]));
        return out;
    }
    for (const char c : bytes) {
        const char32_t u = pdfdoc_to_unicode(static_cast<unsigned char>(c));
        out += u != 0 ? u : kUnknownChar;
    }
    return out;
}

// The occurrences in a property-list string that is text of its own (/Alt,
// /E), not the /ActualText of a span, which stands in for its glyphs.
void find_in_dict_string(const unsigned char *content, const DictString &s, const SearchSet &set,
                         std::vector<TextMatch> &found) {
    found.clear();
    if (s.actual_text && s.span >= 0) return;
    find_in_string(dict_string_text(content, s), set, found);
}

void blank_span(const ContentTrace &trace, int32_t s, StreamDecision &d) {
    const MarkedSpan &span = trace.spans[static_cast<size_t>(s)];
    for (int32_t g = span.first_glyph; g < span.end_glyph; ++g) d.blank[static_cast<size_t>(g)] = 1;
    for (size_t k = 0; k < trace.dict_strings.size(); ++k)
        if (trace.dict_strings[k].span == s) d.blank_strings[k] = 1;
    if (span.props_obj > 0) d.props_objects.push_back(span.props_obj);
}

// True when a glyph of the match (`owners`, its characters' owners) is
// drawn in an invisible render mode.
bool is_invisible_text(const ContentTrace &trace, const std::vector<CharOwner> &owners) {
    for (const CharOwner o : owners) {
        const int32_t g = owner_glyph(o);
        if (g < 0) continue;
        const int mode = trace.ops[static_cast<size_t>(trace_glyph_op(trace, g))].render_mode;
        if (mode == 3 || mode == 7) return true;
    }
    return false;
}

void count_match(StreamDecision &d, int32_t term, int32_t n = 1) {
    d.matches += n;
    if (static_cast<size_t>(term) < d.term_matches.size()) d.term_matches[static_cast<size_t>(term)] += n;
}

// The glyphs each match covers, line by line, kept while the text is let go:
// one list for all matches, a line break between the lines of a match.
inline constexpr int32_t kLineBreak = -1;
struct MatchGlyphs {
    std::vector<int32_t> glyphs;  // glyph indices and kLineBreak
    struct Match {
        int32_t term;
        int32_t end;  // its glyphs are those from the previous match's end to here
    };
    std::vector<Match> matches;
};

// Blanks the glyphs of every match and lists the glyphs its boxes cover.
void blank_matches(const ContentTrace &trace, const StreamText &text, const std::vector<TextMatch> &matches,
                   StreamDecision &d, MatchGlyphs &out) {
    OwnerReader owners{&text.owners};
    std::vector<CharOwner> mine;  // the owners of the characters [first, end) of a match
    std::vector<int32_t> &glyphs = out.glyphs;
    const int32_t length = static_cast<int32_t>(text.chars.size());
    // About a glyph per character, and a break per line.
    int64_t chars = 0;
    for (const TextMatch &m : matches) chars += m.end - m.first;
    out.matches.reserve(matches.size());
    glyphs.reserve(static_cast<size_t>(chars) + matches.size());
    for (const TextMatch &m : matches) {
        count_match(d, m.term);
        mine.clear();
        for (int32_t c = m.first; c < m.end; ++c) mine.push_back(owner_at(owners, c));
        for (const CharOwner o : mine) {
            if (owner_glyph(o) >= 0) d.blank[static_cast<size_t>(owner_glyph(o))] = 1;
            if (owner_span(o) >= 0) blank_span(trace, owner_span(o), d);
        }
        // Invisible text (an OCR layer) only approximates where the letters
        // of the page image stand, word by word: its box covers whole words.
        int32_t first = m.first, end = m.end;
        if (is_invisible_text(trace, mine)) {
            while (first > 0 && !is_separator(text.chars[static_cast<size_t>(first - 1)])) --first;
            while (end < length && !is_separator(text.chars[static_cast<size_t>(end)])) ++end;
            // OCR writers size each word with the space glyph after it.
            const int32_t last = owner_glyph(owner_at(owners, end - 1));
            while (end < length && last >= 0 && owner_glyph(owner_at(owners, end)) >= 0 &&
                   trace_glyph_op(trace, owner_at(owners, end)) == trace_glyph_op(trace, last))
                ++end;
            mine.clear();
            for (int32_t c = first; c < end; ++c) mine.push_back(owner_at(owners, c));
        }
        size_t line_start = glyphs.size();
        for (int32_t c = first; c < end; ++c) {
            const CharOwner o = mine[static_cast<size_t>(c - first)];
            if (text.chars[static_cast<size_t>(c)] == kLineSeparator && glyphs.size() > line_start) {
                glyphs.push_back(kLineBreak);
                line_start = glyphs.size();
            }
            if (owner_glyph(o) >= 0) {
                if (glyphs.size() == line_start || glyphs.back() != o) glyphs.push_back(o);
            } else if (owner_span(o) >= 0) {
                const MarkedSpan &span = trace.spans[static_cast<size_t>(owner_span(o))];
                for (int32_t g = span.first_glyph; g < span.end_glyph; ++g)
                    if (glyphs.size() == line_start || glyphs.back() < g) glyphs.push_back(g);
            }
        }
        out.matches.push_back({m.term, static_cast<int32_t>(glyphs.size())});
    }
}

// A box over each line of each match.
void paint_matches(const ContentTrace &trace, const MatchGlyphs &lines, StreamDecision &d) {
    d.boxes.reserve(d.boxes.size() + lines.matches.size());  // a box per match, more for one broken over lines
    const int32_t *glyphs = lines.glyphs.data();
    int32_t from = 0;
    for (const MatchGlyphs::Match &m : lines.matches) {
        for (int32_t k = from; k < m.end;) {
            int32_t stop = k;
            while (stop < m.end && glyphs[stop] != kLineBreak) ++stop;
            if (stop > k) d.boxes.push_back({line_box(trace, glyphs + k, static_cast<size_t>(stop - k)), m.term});
            k = stop + 1;
        }
        from = m.end;
    }
}

void decide_text(const unsigned char *content, const ContentTrace &trace, const SearchSet &set,
                 StreamDecision &d) {
    MatchGlyphs lines;
    {
        StreamText text;
        stream_text_build(trace, text);
        d.unreadable_glyphs = static_cast<int32_t>(std::min<int64_t>(text.unreadable_glyphs, INT32_MAX));
        d.unreadable_font = text.unreadable_font;
        std::vector<TextMatch> matches;
        find_matches(text, set, matches);
        blank_matches(trace, text, matches, d, lines);
    }
    // The text is gone: the boxes take its room.
    paint_matches(trace, lines, d);
    // An occurrence in a property list's own text blanks the string.
    std::vector<TextMatch> found;
    for (size_t k = 0; k < trace.dict_strings.size(); ++k) {
        find_in_dict_string(content, trace.dict_strings[k], set, found);
        if (found.empty()) continue;
        d.blank_strings[k] = 1;
        for (const TextMatch &m : found) count_match(d, m.term);
    }
}

// ---- Region mode -----------------------------------------------------------------

bool origin_in_region(const Point &p, const Region &r) {
    // The rectangle widened by 1 unit sideways and 2 vertically, its bounds
    // computed in single precision.
    const float x_lo = r.x - 1.0f, x_hi = (r.x + r.width) + 1.0f;
    const float y_lo = r.y - 2.0f, y_hi = (r.y + r.height) + 2.0f;
    return p.x >= x_lo && p.x <= x_hi && p.y >= y_lo && p.y <= y_hi;
}

// A box coordinate as printed: finite, and within a range any page can use.
double printable(double v) {
    constexpr double kLimit = 1e9;
    if (std::isnan(v)) return 0;
    return v < -kLimit ? -kLimit : v > kLimit ? kLimit : v;
}

// The region's box, its edges (not its sizes) clamped, so that a huge region
// still covers what it covered within the printable range.
Box region_box(const Region &r) {
    const double x0 = r.x, y0 = r.y;
    return {printable(x0), printable(y0), printable(x0 + static_cast<double>(r.width)),
            printable(y0 + static_cast<double>(r.height))};
}

void decide_regions(const ContentTrace &trace, const RedactJob &job, const Placement &pl,
                    StreamDecision &d) {
    std::vector<const Region *> mine;
    for (int r = 0; r < job.region_count; ++r)
        if (region_on_page(job.regions[r], pl.page)) mine.push_back(&job.regions[r]);
    auto cause_of = [&](const Region *r) { return -1 - static_cast<int32_t>(r - job.regions); };
    if (mine.empty()) return;
    std::vector<Matrix> to_page(trace.ops.size());
    for (size_t k = 0; k < trace.ops.size(); ++k)
        to_page[k] = mat_mul(trace.ops[k].text_to_user, pl.to_page);
    size_t op_index = 0;
    for (size_t i = 0; i < trace.glyphs.size(); ++i) {
        const TraceGlyph &g = trace.glyphs[i];
        trace_op_follow(trace, op_index, static_cast<int32_t>(i));
        const ShowOp &op = trace.ops[op_index];
        const Matrix &m = to_page[op_index];
        const Point origin = mat_apply(m, g.tx, op.rise);
        const Quad q = glyph_quad(trace, op, static_cast<int32_t>(i), m);
        const double area = quad_area(q);
        for (const Region *r : mine) {
            if (origin_in_region(origin, *r) ||
                (area > 0 && quad_area_in_box(q, region_box(*r)) >= 0.5 * area)) {
                d.blank[i] = 1;
                break;
            }
        }
    }
    if (!pl.paint_regions) return;
    Matrix from_page;
    const bool invertible = mat_invert(pl.to_page, &from_page);
    for (const Region *r : mine) {
        const Box b = region_box(*r);
        d.boxes.push_back({invertible ? quad_of(from_page, b.x0, b.y0, b.x1, b.y1)
                                      : quad_of(Matrix{}, b.x0, b.y0, b.x1, b.y1),
                           cause_of(r)});
    }
}

// A span whose glyphs go takes its alternate text with it.
void decide_spans(const ContentTrace &trace, StreamDecision &d) {
    const bool any = std::any_of(trace.spans.begin(), trace.spans.end(), [](const MarkedSpan &span) {
        return span.dict_start >= 0 || span.props_obj != 0;
    });
    if (!any) return;
    std::vector<int32_t> before(trace.glyphs.size() + 1, 0);  // blanked glyphs before each index
    for (size_t i = 0; i < trace.glyphs.size(); ++i) before[i + 1] = before[i] + d.blank[i];
    for (size_t s = 0; s < trace.spans.size(); ++s) {
        const MarkedSpan &span = trace.spans[s];
        if (span.dict_start < 0 && span.props_obj == 0) continue;
        if (before[static_cast<size_t>(span.end_glyph)] == before[static_cast<size_t>(span.first_glyph)])
            continue;
        for (size_t k = 0; k < trace.dict_strings.size(); ++k)
            if (trace.dict_strings[k].span == static_cast<int32_t>(s)) d.blank_strings[k] = 1;
        if (span.props_obj > 0) d.props_objects.push_back(span.props_obj);
    }
    std::sort(d.props_objects.begin(), d.props_objects.end());
    d.props_objects.erase(std::unique(d.props_objects.begin(), d.props_objects.end()),
                          d.props_objects.end());
}

// ---- Rewriting ---------------------------------------------------------------------

// A blank code as a literal string writes it.
std::string literal_code(uint32_t code, int bytes) {
    std::string s;
    for (int k = bytes - 1; k >= 0; --k) {
        const unsigned char c = static_cast<unsigned char>(code >> (8 * k));
        if (c >= 0x20 && c < 0x7F && c != '(' && c != ')' && c != '\\') {
            s += static_cast<char>(c);
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\%03o", c);
            s += esc;
        }
    }
    return s;
}

std::string hex_code(uint32_t code, int bytes) {
    std::string s;
    for (int k = bytes - 1; k >= 0; --k) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned>((code >> (8 * k)) & 0xFF));
        s += hex;
    }
    return s;
}

// Source bytes copied into a string that is being split: parentheses that
// balanced each other in the whole string get a backslash, since a split
// may separate them.
void copy_escaped(const unsigned char *b, int32_t from, int32_t to, std::string &out) {
    for (int32_t i = from; i < to; ++i) {
        const unsigned char c = b[i];
        if (c == '\\' && i + 1 < to) {
            out += static_cast<char>(c);
            out += static_cast<char>(b[++i]);
        } else if (c == '(' || c == ')') {
            out += '\\';
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(c);
        }
    }
}

double blank_advance(const ShowOp &op) {
    const Font &font = *op.font;
    const double tw = (font.blank_bytes == 1 && font.blank_code == 32) ? op.word_spacing : 0;
    return (font_width(font, font.blank_code) * op.size + op.char_spacing + tw) * op.hscale;
}

// A number after glyph `glyph` of an op (counted from its first) that moves
// the pen by `distance`, so that the rest keeps its place.
struct PenMove {
    int32_t glyph;
    double distance;
};

// The glyphs of one op and where numbers must follow them.
struct OpPlan {
    const ShowOp *op;
    std::vector<PenMove> moves;  // in glyph order
    bool rebuild = false;
};

// The first move at or after glyph `k` of the op.
std::vector<PenMove>::const_iterator first_move(const OpPlan &plan, int32_t k) {
    return std::lower_bound(plan.moves.begin(), plan.moves.end(), k,
                            [](const PenMove &m, int32_t glyph) { return m.glyph < glyph; });
}

// The TJ number that moves the pen forward by `distance` in text space.
std::string compensation(const ShowOp &op, double distance) {
    const double scale = op.size * op.hscale;
    double n = scale != 0 ? -distance * 1000 / scale : 0;
    n = std::fmax(-1e9, std::fmin(1e9, n));
    return format_number(n);
}

// One glyph of a string token: where its bytes stand in the content, its
// code, and the length the font gives the code.
struct GlyphSource {
    int32_t start, end;
    uint32_t code;
    int code_len;
};

// The string tokens of `op`, in order.
std::vector<Token> op_strings(const unsigned char *b, int32_t len, const ShowOp &op) {
    std::vector<Token> strings;
    if (op.kind != ShowKind::kTJ) {
        strings.push_back(lex_next_code(b, len, op.arg_start));
        return strings;
    }
    for (int32_t p = op.arg_start + 1; p < op.arg_end;) {
        const Token t = lex_next_code(b, op.arg_end, p);
        if (t.kind == Tok::kEnd) break;
        if (t.kind == Tok::kString || t.kind == Tok::kHexString) strings.push_back(t);
        p = t.end;
    }
    return strings;
}

// The glyphs of one string token, one by one, with where their bytes stand:
// the string decoded once more with the op's font, as the interpreter did.
// Nothing is kept but the next bytes, as many as a code can take.
struct GlyphReader {
    StringReader bytes;
    const Font *font = nullptr;
    unsigned char window[4] = {};
    int32_t from[4] = {}, to[4] = {};
    int have = 0;
    bool more = true;
};

GlyphReader glyph_reader(const unsigned char *b, const Token &t, const Font &font) {
    GlyphReader r;
    string_reader_start(r.bytes, b, t);
    r.font = &font;
    return r;
}

bool glyph_reader_next(GlyphReader &r, GlyphSource *g) {
    while (r.more && r.have < 4) {
        r.more = string_reader_next(r.bytes, &r.window[r.have], &r.from[r.have], &r.to[r.have]);
        r.have += r.more;
    }
    if (r.have == 0) return false;
    uint32_t code = 0;
    const int code_len = std::max(font_next_code(*r.font, r.window, static_cast<size_t>(r.have), &code), 1);
    const int n = std::min(code_len, r.have);
    *g = {r.from[0], r.to[n - 1], code, code_len};
    r.have -= n;
    std::memmove(r.window, r.window + n, static_cast<size_t>(r.have));
    std::memmove(r.from, r.from + n, static_cast<size_t>(r.have) * sizeof r.from[0]);
    std::memmove(r.to, r.to + n, static_cast<size_t>(r.have) * sizeof r.to[0]);
    return true;
}

// The number of glyphs a string token holds.
int32_t glyphs_in(const unsigned char *b, const Token &t, const Font &font) {
    GlyphReader r = glyph_reader(b, t, font);
    GlyphSource g;
    int32_t n = 0;
    while (glyph_reader_next(r, &g)) ++n;
    return n;
}

// Where the op's blanked runs need a number after them: blanks are as wide
// as the blank code, so a run whose glyphs were wider or narrower moves the
// pen by the difference. The advances are those the interpreter gave the
// glyphs, computed again from their codes as their strings are read.
OpPlan plan_op(const unsigned char *b, const ShowOp &op, const std::vector<Token> &strings,
               const StreamDecision &d) {
    OpPlan plan{&op, {}, false};
    const double blank_adv = blank_advance(op);
    const double tolerance = 1e-6 * std::fmax(1.0, std::fabs(op.size * op.hscale));
    double delta = 0;
    int32_t k = 0;
    for (const Token &t : strings) {
        GlyphReader reader = glyph_reader(b, t, *op.font);
        GlyphSource g;
        for (; k < op.glyph_count && glyph_reader_next(reader, &g); ++k) {
            const size_t gi = static_cast<size_t>(op.first_glyph + k);
            if (!d.blank[gi]) continue;
            delta += static_cast<float>(glyph_advance(op, g.code, g.code_len)) - blank_adv;
            const bool run_ends = k + 1 == op.glyph_count || !d.blank[gi + 1];
            if (!run_ends) continue;
            const bool later = k + 1 < op.glyph_count || op.pen_continues;
            if (later && std::fabs(delta) > tolerance) {
                plan.moves.push_back({k, delta});
                plan.rebuild = true;
            }
            delta = 0;
        }
    }
    return plan;
}

// The hex digits of source bytes copied into a hex string that is being
// split: whatever else the string held (readers skip it) could read as a
// token of its own, "<<" for one, once the string is cut before it.
void copy_hex(const unsigned char *b, int32_t from, int32_t to, std::string &out) {
    for (int32_t i = from; i < to; ++i)
        if (hex_digit_value(b[i]) >= 0) out += static_cast<char>(b[i]);
}

// Appends a string token of op `plan` rewritten to `out`: blanked glyphs as
// blank codes, and the string split with a number wherever the plan moves
// the pen. Its glyphs are those of the op from `first` on.
void rebuild_string(const unsigned char *b, const Token &tok, const StreamDecision &d, const OpPlan &plan,
                    int32_t first, std::string &out) {
    const ShowOp &op = *plan.op;
    const Font &font = *op.font;
    const bool hex = tok.kind == Tok::kHexString;
    const size_t begin = out.size();
    out += hex ? '<' : '(';
    auto move = first_move(plan, first - op.first_glyph);
    int32_t pos = tok.start + 1;
    const int32_t close = tok.open ? tok.end : tok.end - 1;
    GlyphReader reader = glyph_reader(b, tok, font);
    GlyphSource g;
    for (int32_t gi = first; glyph_reader_next(reader, &g); ++gi) {
        if (hex) {
            copy_hex(b, pos, g.start, out);
        } else {
            copy_escaped(b, pos, g.start, out);
        }
        if (d.blank[static_cast<size_t>(gi)]) {
            out += hex ? hex_code(font.blank_code, font.blank_bytes)
                       : literal_code(font.blank_code, font.blank_bytes);
        } else if (hex) {
            copy_hex(b, g.start, g.end, out);
        } else {
            copy_escaped(b, g.start, g.end, out);
        }
        pos = g.end;
        if (move != plan.moves.end() && move->glyph == gi - op.first_glyph) {
            out += hex ? "> " : ") ";
            out += compensation(op, move->distance);
            out += hex ? " <" : " (";
            ++move;
        }
    }
    // A string that would end empty after a last number is left out; the
    // blank after the number stays, so that what follows reads apart from it.
    const char reopen = hex ? '<' : '(';
    if (pos == close && out.size() - begin >= 2 && out.back() == reopen && out[out.size() - 2] == ' ') {
        out.pop_back();
        return;
    }
    if (hex)
        copy_hex(b, pos, close, out);
    else
        copy_escaped(b, pos, close, out);
    out += hex ? '>' : ')';
}

// In-place blanking of one glyph: its source bytes become the blank code.
// Glyphs whose sources follow one another make one edit.
void blank_in_place(const unsigned char *b, const GlyphSource &g, const Font &font, bool hex,
                    std::vector<ContentEdit> &edits) {
    auto add = [&edits, &g](std::string text) {
        if (!edits.empty() && edits.back().end == g.start) {
            edits.back().text += text;
            edits.back().end = g.end;
        } else {
            edits.push_back({g.start, g.end, std::move(text)});
        }
    };
    if (!hex) {
        add(literal_code(font.blank_code, font.blank_bytes));
        return;
    }
    const std::string digits = hex_code(font.blank_code, font.blank_bytes);
    // Digits go where the old digits stood, so blanks and junk between them stay.
    std::string text(reinterpret_cast<const char *>(b + g.start), static_cast<size_t>(g.end - g.start));
    size_t have = 0;
    for (const char c : text) have += hex_digit_value(static_cast<unsigned char>(c)) >= 0;
    if (have == digits.size()) {
        size_t k = 0;
        for (char &c : text)
            if (hex_digit_value(static_cast<unsigned char>(c)) >= 0) c = digits[k++];
    } else if (have + 1 == digits.size() && digits.back() == '0') {
        // A lone final digit reads as if followed by 0.
        size_t k = 0;
        for (char &c : text)
            if (hex_digit_value(static_cast<unsigned char>(c)) >= 0) c = digits[k++];
    } else {
        text = digits;
    }
    add(std::move(text));
}

// Whether the parentheses written bare in a literal string that glyphs keep
// stop balancing one another once the blanked glyphs are gone: blanked in
// place, the string would then close early or never.
// `counts` holds the number of glyphs of each string.
bool kept_parens_unbalanced(const unsigned char *b, const std::vector<Token> &strings,
                            const std::vector<int32_t> &counts, const Font &font, const StreamDecision &d,
                            int32_t first) {
    size_t gi = static_cast<size_t>(first);
    for (size_t k = 0; k < strings.size(); ++k) {
        const Token &t = strings[k];
        int64_t depth = 0;
        bool broken = false, blanked = false;
        if (t.kind != Tok::kString) {
            gi += static_cast<size_t>(counts[k]);
            continue;
        }
        GlyphReader reader = glyph_reader(b, t, font);
        GlyphSource g;
        for (; glyph_reader_next(reader, &g); ++gi) {
            if (d.blank[gi]) {
                blanked = true;
                continue;
            }
            for (int32_t i = g.start; i < g.end; ++i) {
                if (b[i] == '\\')
                    ++i;
                else if (b[i] == '(')
                    ++depth;
                else if (b[i] == ')' && --depth < 0)
                    broken = true;
            }
        }
        if (blanked && (broken || depth != 0)) return true;
    }
    return false;
}

void edit_op(const unsigned char *b, int32_t len, const StreamDecision &d, const ShowOp &op,
             std::vector<ContentEdit> &edits) {
    bool any = false;
    for (int32_t k = 0; k < op.glyph_count && !any; ++k) any = d.blank[static_cast<size_t>(op.first_glyph + k)];
    if (!any || op.font == nullptr) return;
    const Font &font = *op.font;
    const int32_t first = op.first_glyph;
    // The string tokens of the op, in order, and the glyphs each holds.
    const std::vector<Token> strings = op_strings(b, len, op);
    std::vector<int32_t> counts(strings.size());
    int64_t total = 0;
    for (size_t k = 0; k < strings.size(); ++k) total += counts[k] = glyphs_in(b, strings[k], font);
    if (total != op.glyph_count) return;  // never: the same decoding
    const OpPlan plan = plan_op(b, op, strings, d);
    int32_t gi = first;
    // A rebuilt string escapes every parenthesis it keeps.
    if (!plan.rebuild && !kept_parens_unbalanced(b, strings, counts, font, d, first)) {
        for (const Token &t : strings) {
            GlyphReader reader = glyph_reader(b, t, font);
            GlyphSource g;
            for (; glyph_reader_next(reader, &g); ++gi)
                if (d.blank[static_cast<size_t>(gi)]) blank_in_place(b, g, font, t.kind == Tok::kHexString, edits);
        }
        return;
    }
    // A single string becomes an array, and the operator TJ; the quote
    // operators first move to the next line (and " sets its spacing); the
    // blank before T* keeps it apart from a token that touched the string.
    std::string rebuilt = op.kind == ShowKind::kTJ ? "" : op.kind == ShowKind::kTj ? "[" : " T* [";
    for (size_t k = 0; k < strings.size(); ++k) {
        const Token &t = strings[k];
        const int32_t from = gi;
        gi += counts[k];
        const auto move = first_move(plan, from - first);
        bool touched = move != plan.moves.end() && move->glyph < gi - first;
        for (int32_t k = from; k < gi && !touched; ++k) touched = d.blank[static_cast<size_t>(k)];
        // About the string's own length, and a number with its string break
        // per move: a long string is not copied as it grows.
        const auto moves = static_cast<size_t>(first_move(plan, gi - first) - move);
        const size_t room = static_cast<size_t>(t.end - t.start) + 24 * moves + 8;
        if (op.kind == ShowKind::kTJ) {
            if (!touched) continue;
            std::string text;
            text.reserve(room);
            rebuild_string(b, t, d, plan, from, text);
            edits.push_back({t.start, t.end, std::move(text)});
        } else {
            rebuilt.reserve(rebuilt.size() + room);
            rebuild_string(b, t, d, plan, from, rebuilt);
        }
    }
    if (op.kind == ShowKind::kTJ) return;
    if (op.kind == ShowKind::kDoubleQuote) {
        // Each spacing operand gets its own operator, set apart from what
        // follows when that would join it ("(a)6" becoming "(a) Tw6").
        const auto set_after = [&](int32_t at, const char *name) {
            std::string text = name;
            if (at < len && lex_is_regular(b[at])) text += ' ';
            edits.push_back({at, at, std::move(text)});
        };
        set_after(op.aw_end, " Tw");
        set_after(op.ac_end, " Tc");
    }
    rebuilt += ']';
    edits.push_back({op.arg_start, op.arg_end, std::move(rebuilt)});
    edits.push_back({op.op_start, op.op_end, "TJ"});
}

// A blanked property-list string: every byte inside becomes a space.
std::string blanked_string(const unsigned char *b, const DictString &s) {
    if (b[s.start] == '(') {
        const int32_t inner = std::max<int32_t>(s.end - s.start - 2, 0);
        std::string text(static_cast<size_t>(inner) + 2, ' ');
        text.front() = '(';
        text.back() = ')';
        return text;
    }
    std::string text(reinterpret_cast<const char *>(b + s.start), static_cast<size_t>(s.end - s.start));
    int digit = 0;
    for (size_t i = 1; i < text.size(); ++i)
        if (hex_digit_value(static_cast<unsigned char>(text[i])) >= 0) text[i] = (digit++ % 2 == 0) ? '2' : '0';
    return text;
}

bool is_axis_aligned(const Quad &q) {
    const auto same = [](double a, double b) { return std::fabs(a - b) <= 1e-9 * std::fmax(1.0, std::fabs(a)); };
    return (same(q.p[0].y, q.p[1].y) && same(q.p[1].x, q.p[2].x) && same(q.p[2].y, q.p[3].y) &&
            same(q.p[3].x, q.p[0].x)) ||
           (same(q.p[0].x, q.p[1].x) && same(q.p[1].y, q.p[2].y) && same(q.p[2].x, q.p[3].x) &&
            same(q.p[3].y, q.p[0].y));
}

// Appends numbers with two decimals, each followed by its operator text.
void append_path(Buf &out, std::initializer_list<std::pair<double, const char *>> parts) {
    char number[kFixedSize];
    for (const auto &[v, after] : parts) {
        format_fixed(v, 2, number);
        buf_str(out, number);
        buf_str(out, after);
    }
}

void append_box(Buf &out, const PaintBox &box) {
    if (is_axis_aligned(box.quad)) {
        const Box b = quad_bounds(box.quad);
        // Clamp the edges, not the sizes, so that a huge box still covers what
        // it covered within the printable range.
        const double x0 = printable(b.x0), y0 = printable(b.y0);
        const double x1 = printable(b.x1), y1 = printable(b.y1);
        append_path(out, {{x0, " "}, {y0, " "}, {x1 - x0, " "}, {y1 - y0, " re f\n"}});
        return;
    }
    const Quad &q = box.quad;
    append_path(out, {{printable(q.p[0].x), " "}, {printable(q.p[0].y), " m "},
                      {printable(q.p[1].x), " "}, {printable(q.p[1].y), " l "},
                      {printable(q.p[2].x), " "}, {printable(q.p[2].y), " l "},
                      {printable(q.p[3].x), " "}, {printable(q.p[3].y), " l h f\n"}});
}

float colour_component(int value) {
    const float c = static_cast<float>(value) / 255.0f;
    return c < 0.0f ? 0.0f : c > 1.0f ? 1.0f : c;
}

}  // namespace

std::string format_number(double v) {
    if (!std::isfinite(v)) return std::string(1, '0');
    char text[kFixedSize];
    size_t n = static_cast<size_t>(format_fixed(v, 4, text));
    while (n > 0 && text[n - 1] == '0') --n;
    if (n > 0 && text[n - 1] == '.') --n;
    if (n == 0 || (n == 2 && text[0] == '-' && text[1] == '0')) return std::string(1, '0');
    return std::string(text, n);
}

void decide_stream(const unsigned char *content, const ContentTrace &trace, const RedactJob &job,
                   const Placement &placement, StreamDecision &decision) {
    decision = StreamDecision{};
    decision.blank.assign(trace.glyphs.size(), false);
    decision.blank_strings.assign(trace.dict_strings.size(), 0);
    if (job.search != nullptr && !job.search->patterns.empty()) {
        decision.term_matches.assign(job.search->patterns.size(), 0);
        decide_text(content, trace, *job.search, decision);
    }
    if (job.regions != nullptr && job.region_count > 0) decide_regions(trace, job, placement, decision);
    decide_spans(trace, decision);
}

int64_t count_stream_matches(const unsigned char *content, const ContentTrace &trace, const SearchSet &set) {
    if (set.patterns.empty()) return 0;
    StreamText text;
    stream_text_build(trace, text, false);
    std::vector<TextMatch> found;
    find_matches(text, set, found);
    auto count = static_cast<int64_t>(found.size());
    for (const DictString &s : trace.dict_strings) {
        find_in_dict_string(content, s, set, found);
        count += static_cast<int64_t>(found.size());
    }
    return count;
}

bool rewrite_content(const unsigned char *content, int32_t len, const ContentTrace &trace,
                     const StreamDecision &d, std::vector<ContentEdit> edits, const RedactJob &job,
                     Buf &out) {
    for (const ShowOp &op : trace.ops) edit_op(content, len, d, op, edits);
    for (size_t k = 0; k < trace.dict_strings.size(); ++k)
        if (d.blank_strings[k])
            edits.push_back({trace.dict_strings[k].start, trace.dict_strings[k].end,
                             blanked_string(content, trace.dict_strings[k])});
    const bool paint = !d.boxes.empty();
    // Empty content leaves no state for the boxes to escape.
    const bool wrap = paint && len > 0;
    // A Q with nothing to restore would end the wrapping q early; readers
    // ignore it. "q Q" restores what it saves, and stays an operator, which
    // ends an array or dictionary left open before it as the Q did.
    if (wrap)
        for (const int32_t q : trace.stray_restores) edits.push_back({q, q + 1, "q Q"});
    // An inline image without EI is closed right after its ID, so that what
    // follows stays content, as it was read, and the boxes are not image data.
    if (paint)
        for (const int32_t id_end : trace.open_images) edits.push_back({id_end, id_end, "\nEI\n"});
    const auto before = [](const ContentEdit &a, const ContentEdit &b) {
        return a.start < b.start || (a.start == b.start && a.end < b.end);
    };
    if (!std::is_sorted(edits.begin(), edits.end(), before)) std::stable_sort(edits.begin(), edits.end(), before);
    // Room for all of it at once: a long stream is not copied as it grows.
    uint64_t room = static_cast<uint64_t>(len) + 64;
    for (const ContentEdit &e : edits) room += e.text.size();
    if (paint) room += trace.closers.size() + 2 * static_cast<uint64_t>(std::max<int32_t>(trace.q_depth, 0)) +
                       d.boxes.size() * 96 + 64;
    buf_reserve(out, room);
    if (wrap) buf_str(out, "q\n");
    int32_t pos = 0;
    for (const ContentEdit &e : edits) {
        if (e.start < pos || e.end < e.start || e.end > len) continue;  // never overlaps
        buf_append(out, content + pos, static_cast<uint64_t>(e.start - pos));
        buf_append(out, e.text.data(), e.text.size());
        pos = e.end;
    }
    if (len > pos) buf_append(out, content + pos, static_cast<uint64_t>(len - pos));
    if (paint) {
        std::string tail = trace.closers;
        if (trace.in_text) tail += "\nET";
        if (wrap)
            for (int64_t k = 0; k <= trace.q_depth; ++k) tail += "\nQ";
        buf_str(out, tail.c_str());
        buf_str(out, "\nq\n");
        char number[kFixedSize];
        for (const int c : {job.red, job.green, job.blue}) {
            format_fixed(static_cast<double>(colour_component(c)), 4, number);
            buf_str(out, number);
            buf_str(out, " ");
        }
        buf_str(out, "rg\n");
        for (const PaintBox &box : d.boxes) append_box(out, box);
        buf_str(out, "Q\n");
    }
    return out.data != nullptr || (len == 0 && !paint);
}

void redact_content(const ContentContext &ctx, const unsigned char *content, int32_t len,
                    const RedactJob &job, const Placement &placement, Buf &out, int *painted,
                    int *matches) {
    ContentTrace trace;
    interpret_content(ctx, content, len, Matrix{}, trace);
    StreamDecision d;
    decide_stream(content, trace, job, placement, d);
    if (matches != nullptr) *matches += d.matches;
    const bool changed = !d.boxes.empty() || d.any_blank();
    if (!changed) {
        if (len > 0) buf_append(out, content, static_cast<uint64_t>(len));
        return;
    }
    rewrite_content(content, len, trace, d, {}, job, out);
    *painted = 1;
}
