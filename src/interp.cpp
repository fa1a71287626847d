// The content interpreter (PDF reference 8.4, 9.3, 9.4): tokens from the
// lexer, an operand stack, and a switch over the operators that place text,
// images and forms.
#include "interp.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "lexer.h"
#include "syntax.h"
#include "unicode.h"

namespace {

// The operand stack keeps this many operands; one more empties it.
constexpr size_t kMaxOperands = 64;
constexpr size_t kMaxChosenFonts = 16;

struct TextState {
    const Font *font = nullptr;
    double size = 10;  // a show before any Tf reads at 10 units
    double char_spacing = 0, word_spacing = 0, hscale = 1, leading = 0, rise = 0;
    int render_mode = 0;
};

struct GState {
    Matrix ctm;
    TextState text;
};

// One operand: a token, or an array or dictionary built from several.
struct Operand {
    double num = 0;
    int32_t start = 0, end = 0;
    // An array: its elements in Interp::elements; a dictionary: its
    // DictStrings. Long arrays hold many operands: 32 bytes each.
    int32_t first = 0, count = 0;
    Tok kind = Tok::kEnd;  // kArrayOpen for an array, kDictOpen for a dictionary
};

// An array or dictionary being read.
struct Open {
    Tok kind;
    int32_t start;
    size_t first;  // its first element in Interp::pending
    bool in_dict;  // it is, or lies inside, a dictionary
};

struct Interp {
    const ContentContext &ctx;
    const unsigned char *b;
    int32_t len;
    ContentTrace &trace;

    GState gs;
    std::vector<GState> saved;
    int64_t unsaved_depth = 0;  // q beyond kMaxSavedStates
    Matrix tm, tlm;

    std::vector<Operand> stack;
    std::vector<Operand> elements;  // elements of finished arrays
    std::vector<Operand> pending;   // elements of arrays and dictionaries being read
    std::vector<Open> open;

    std::vector<int32_t> span_stack;  // open marked-content spans (-1: no property list)
    int32_t last_show = -1;           // the last show op, while the pen stays where it left it
    bool inline_dict = false;         // between BI and ID
    int32_t bi_start = 0, bi_dict_start = 0;

    const Font *fallback = nullptr;
    PdfObj fonts, xobjects, properties;  // the resource sub-dictionaries, resolved once
    // The fonts Tf has chosen, by the bytes of their name token: a stream
    // names its few fonts again and again. Only the first few are kept, so
    // that a stream naming many stays linear.
    std::vector<std::pair<std::string, const Font *>> chosen_fonts;
    std::vector<unsigned char> string_bytes;  // scratch: the bytes of each shown string
};

const Font *default_font(Interp &in) {
    if (in.fallback == nullptr) in.fallback = font_cache_get(in.ctx.fonts, in.ctx.doc, nullptr, "");
    return in.fallback;
}

// ---- Operands ---------------------------------------------------------------

void push_operand(Interp &in, const Operand &op) {
    if (in.stack.size() >= kMaxOperands) in.stack.clear();
    in.stack.push_back(op);
}

Operand token_operand(const Interp &in, const Token &t) {
    Operand op;
    op.kind = t.kind;
    op.start = t.start;
    op.end = t.end;
    if (t.kind == Tok::kNumber) op.num = clamp_coordinate(lex_number(in.b, t));
    return op;
}

// A value read: onto the innermost open array or dictionary, else the stack.
void add_value(Interp &in, const Operand &op) {
    if (in.open.empty())
        push_operand(in, op);
    else
        in.pending.push_back(op);
}

std::string name_of(const Interp &in, const Operand &op) {
    return lex_name_text(in.b, op.start, op.end);
}

// Closes the innermost open array or dictionary into one operand.
void close_composite(Interp &in, int32_t end) {
    const Open o = in.open.back();
    in.open.pop_back();
    Operand op;
    op.kind = o.kind;
    op.start = o.start;
    op.end = end;
    if (o.kind == Tok::kArrayOpen) {
        op.first = static_cast<int32_t>(in.elements.size());
        op.count = static_cast<int32_t>(in.pending.size() - o.first);
        if (in.elements.empty() && o.first == 0)
            in.elements.swap(in.pending);  // a long array is not held twice
        else
            in.elements.insert(in.elements.end(), in.pending.begin() + static_cast<std::ptrdiff_t>(o.first),
                               in.pending.end());
    } else if (o.in_dict && (in.open.empty() || !in.open.back().in_dict)) {
        // The outermost dictionary: its strings (values at any depth) are
        // text that readers may show in place of the glyphs it marks.
        op.first = static_cast<int32_t>(in.trace.dict_strings.size());
        bool after_actual_text = false;
        for (size_t k = o.first; k < in.pending.size(); ++k) {
            const Operand &e = in.pending[k];
            if (e.kind == Tok::kString || e.kind == Tok::kHexString)
                in.trace.dict_strings.push_back({e.start, e.end, -1, after_actual_text});
            after_actual_text = e.kind == Tok::kName && name_of(in, e) == "ActualText";
        }
        op.count = static_cast<int32_t>(in.trace.dict_strings.size()) - op.first;
    }
    in.pending.resize(o.first);
    add_value(in, op);
}

// An operator inside an array or dictionary that never closed before it: the
// composite is broken open, and what it held becomes operands as if it had
// not been opened, so that nothing shown after an unclosed "[" or "<<"
// escapes the walk.
void break_composites(Interp &in) {
    if (in.open.empty()) return;
    std::vector<Operand> flat(in.pending.begin(), in.pending.end());
    in.pending.clear();
    in.open.clear();
    for (const Operand &op : flat) push_operand(in, op);
}

// The last `n` operands (or fewer), oldest first.
const Operand *last_operands(const Interp &in, size_t n, size_t *have) {
    *have = std::min(n, in.stack.size());
    return in.stack.data() + (in.stack.size() - *have);
}

// The last `n` operands as numbers when they all are; false otherwise.
bool numbers(const Interp &in, size_t n, double *out) {
    if (in.stack.size() < n) return false;
    const Operand *ops = in.stack.data() + (in.stack.size() - n);
    for (size_t i = 0; i < n; ++i) {
        if (ops[i].kind != Tok::kNumber) return false;
        out[i] = ops[i].num;
    }
    return true;
}

double last_number(const Interp &in, double fallback) {
    return !in.stack.empty() && in.stack.back().kind == Tok::kNumber ? in.stack.back().num : fallback;
}

// ---- Resources ------------------------------------------------------------------

PdfObj resource_dict(const Interp &in, const char *key) {
    return doc_get(in.ctx.doc, in.ctx.resources, key);
}

// ---- Text -----------------------------------------------------------------------

void set_text_matrix(Interp &in, const Matrix &m) {
    in.tm = in.tlm = m;
    in.last_show = -1;
}

void move_line(Interp &in, double tx, double ty) {
    set_text_matrix(in, mat_mul(Matrix{1, 0, 0, 1, clamp_coordinate(tx), clamp_coordinate(ty)}, in.tlm));
}

struct ShowRun {
    Interp &in;
    ShowOp op;
    double tx = 0;
};

void show_string(ShowRun &run, const Operand &s) {
    Interp &in = run.in;
    std::vector<unsigned char> &bytes = in.string_bytes;
    Token t;
    t.kind = s.kind;
    t.start = s.start;
    t.end = s.end;
    bytes.clear();
    StringReader reader;
    string_reader_start(reader, in.b, t);
    string_reader_all(reader, bytes);
    GlyphList &glyphs = in.trace.glyphs;
    const Font &font = *run.op.font;
    if (font.kind != FontKind::kType0) {  // one byte per code, the code the byte itself
        for (const unsigned char code : bytes) {
            const double adv = glyph_advance(run.op, code, 1);
            glyphs.push_back({code, static_cast<float>(run.tx)});
            run.tx = clamp_coordinate(run.tx + adv);
        }
        return;
    }
    size_t i = 0;
    while (i < bytes.size()) {
        uint32_t code = 0;
        int n = font_next_code(font, bytes.data() + i, bytes.size() - i, &code);
        if (n < 1) n = 1;
        const size_t last = std::min(i + static_cast<size_t>(n), bytes.size()) - 1;
        const double adv = glyph_advance(run.op, code, n);
        if (code == 32 && n != 1) in.trace.multibyte_spaces.push_back(static_cast<int32_t>(glyphs.size()));
        glyphs.push_back({code, static_cast<float>(run.tx)});
        run.tx = clamp_coordinate(run.tx + adv);
        i = last + 1;
    }
}

// Shows the string or array operand `arg` with the current text state.
void show(Interp &in, ShowKind kind, const Operand &arg, int32_t op_start, int32_t op_end) {
    const TextState &ts = in.gs.text;
    ShowRun run{in, {}, 0};
    ShowOp &op = run.op;
    op.kind = kind;
    op.op_start = op_start;
    op.op_end = op_end;
    op.arg_start = arg.start;
    op.arg_end = arg.end;
    op.font = ts.font != nullptr ? ts.font : default_font(in);
    op.size = ts.size;
    op.char_spacing = ts.char_spacing;
    op.word_spacing = ts.word_spacing;
    op.hscale = ts.hscale;
    op.rise = ts.rise;
    op.render_mode = ts.render_mode;
    op.text_to_user = mat_mul(in.tm, in.gs.ctm);
    op.first_glyph = static_cast<int32_t>(in.trace.glyphs.size());
    if (arg.kind == Tok::kArrayOpen) {
        for (int32_t k = 0; k < arg.count; ++k) {
            const Operand &e = in.elements[static_cast<size_t>(arg.first + k)];
            if (e.kind == Tok::kString || e.kind == Tok::kHexString)
                show_string(run, e);
            else if (e.kind == Tok::kNumber)
                run.tx = clamp_coordinate(run.tx - e.num / 1000 * op.size * op.hscale);
        }
    } else {
        show_string(run, arg);
    }
    op.glyph_count = static_cast<int32_t>(in.trace.glyphs.size()) - op.first_glyph;
    // A show that starts where the previous one left the pen depends on its advance.
    if (in.last_show >= 0 && kind != ShowKind::kQuote && kind != ShowKind::kDoubleQuote)
        in.trace.ops[static_cast<size_t>(in.last_show)].pen_continues = true;
    in.tm = mat_mul(Matrix{1, 0, 0, 1, run.tx, 0}, in.tm);
    in.last_show = static_cast<int32_t>(in.trace.ops.size());
    in.trace.ops.push_back(op);
}

bool is_string(const Operand &op) { return op.kind == Tok::kString || op.kind == Tok::kHexString; }

// ---- Operators --------------------------------------------------------------

void op_font(Interp &in) {
    size_t have = 0;
    const Operand *ops = last_operands(in, 2, &have);
    if (have == 2 && ops[0].kind == Tok::kName) {
        const std::string_view token(reinterpret_cast<const char *>(in.b) + ops[0].start,
                                     static_cast<size_t>(ops[0].end - ops[0].start));
        const auto known = std::find_if(in.chosen_fonts.begin(), in.chosen_fonts.end(),
                                        [token](const auto &f) { return f.first == token; });
        if (known != in.chosen_fonts.end()) {
            in.gs.text.font = known->second;
        } else {
            const std::string name = name_of(in, ops[0]);
            if (in.fonts.kind == ObjKind::kNull) in.fonts = resource_dict(in, "Font");
            in.gs.text.font = font_cache_get(in.ctx.fonts, in.ctx.doc, pdfobj_get(in.fonts, name), name);
            if (in.chosen_fonts.size() < kMaxChosenFonts) in.chosen_fonts.emplace_back(token, in.gs.text.font);
        }
    }
    if (have >= 1 && ops[have - 1].kind == Tok::kNumber) in.gs.text.size = ops[have - 1].num;
}

void op_save(Interp &in) {
    if (in.saved.size() < static_cast<size_t>(kMaxSavedStates))
        in.saved.push_back(in.gs);
    else
        ++in.unsaved_depth;
}

void op_restore(Interp &in, const Token &t) {
    if (in.unsaved_depth > 0) {
        --in.unsaved_depth;
    } else if (!in.saved.empty()) {
        in.gs = in.saved.back();
        in.saved.pop_back();
    } else {
        in.trace.stray_restores.push_back(t.start);
    }
}

void op_concat(Interp &in) {
    double v[6];
    if (!numbers(in, 6, v)) return;
    const Matrix m{v[0], v[1], v[2], v[3], v[4], v[5]};
    const Matrix ctm = mat_mul(m, in.gs.ctm);
    if (mat_is_finite(ctm)) in.gs.ctm = ctm;
}

void op_do(Interp &in) {
    if (in.stack.empty() || in.stack.back().kind != Tok::kName) return;
    const Operand &name = in.stack.back();
    if (in.xobjects.kind == ObjKind::kNull) in.xobjects = resource_dict(in, "XObject");
    XObjectUse use;
    use.name_start = name.start;
    use.name_end = name.end;
    const PdfObj *ref = pdfobj_get(in.xobjects, name_of(in, name));
    if (ref != nullptr && ref->kind == ObjKind::kRef) use.num = static_cast<int32_t>(ref->num);
    use.ctm = in.gs.ctm;
    in.trace.xobjects.push_back(use);
}

// Decodes a PDF text string: UTF-16BE after its byte order mark, else
// PDFDocEncoding.
std::u32string text_string(const std::string &s) {
    std::u32string out;
    if (s.size() >= 2 && static_cast<unsigned char>(s[0]) == 0xFE &&
        static_cast<unsigned char>(s[1]) == 0xFF) {
        for (size_t i = 2; i + 1 < s.size(); i += 2) {
            char32_t u = (static_cast<unsigned char>(s[i]) << 8) | static_cast<unsigned char>(s[i + 1]);
            if (u >= 0xD800 && u < 0xDC00 && i + 3 < s.size()) {
                const char32_t lo =
                    (static_cast<unsigned char>(s[i + 2]) << 8) | static_cast<unsigned char>(s[i + 3]);
                if (lo >= 0xDC00 && lo < 0xE000) {
                    u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
                    i += 2;
                }
            }
            out += u;
        }
        return out;
    }
    for (const char c : s) {
        const char32_t u = pdfdoc_to_unicode(static_cast<unsigned char>(c));
        if (u != 0) out += u;
    }
    return out;
}

void op_begin_span(Interp &in, bool with_props) {
    MarkedSpan span;
    span.first_glyph = static_cast<int32_t>(in.trace.glyphs.size());
    const int32_t index = static_cast<int32_t>(in.trace.spans.size());
    if (with_props && !in.stack.empty()) {
        const Operand &props = in.stack.back();
        if (props.kind == Tok::kDictOpen) {
            span.dict_start = props.start;
            span.dict_end = props.end;
            for (int32_t k = 0; k < props.count; ++k) {
                DictString &ds = in.trace.dict_strings[static_cast<size_t>(props.first + k)];
                ds.span = index;
                if (ds.actual_text && !span.has_actual_text) {
                    Token t;
                    t.kind = in.b[ds.start] == '(' ? Tok::kString : Tok::kHexString;
                    t.start = ds.start;
                    t.end = ds.end;
                    span.has_actual_text = true;
                    span.actual_text = text_string(pdfobj_string_bytes(in.b, t));
                }
            }
        } else if (props.kind == Tok::kName) {
            if (in.properties.kind == ObjKind::kNull) in.properties = resource_dict(in, "Properties");
            const PdfObj *ref = pdfobj_get(in.properties, name_of(in, props));
            if (ref != nullptr && ref->kind == ObjKind::kRef) {
                span.props_obj = static_cast<int32_t>(ref->num);
                const PdfObj dict = doc_resolve(in.ctx.doc, *ref);
                const PdfObj *actual = pdfobj_get(dict, "ActualText");
                if (actual != nullptr && actual->kind == ObjKind::kString) {
                    span.has_actual_text = true;
                    span.actual_text = text_string(actual->str);
                }
            }
        }
    }
    span.end_glyph = span.first_glyph;
    in.trace.spans.push_back(std::move(span));
    in.span_stack.push_back(index);
}

void op_end_span(Interp &in) {
    if (in.span_stack.empty()) return;
    MarkedSpan &span = in.trace.spans[static_cast<size_t>(in.span_stack.back())];
    span.end_glyph = static_cast<int32_t>(in.trace.glyphs.size());
    in.span_stack.pop_back();
}

// ID: the data runs to the first EI after it. Returns where the walk goes on.
int32_t op_image_data(Interp &in, const Token &id) {
    InlineImage image;
    image.bi_start = in.bi_start;
    image.dict_start = in.bi_dict_start;
    image.dict_end = id.start;
    image.data_start = id.end < in.len ? id.end + 1 : in.len;  // one blank follows ID
    image.ctm = in.gs.ctm;
    // Once an image has found no EI, none follows a later ID either: the
    // data is not searched again, so that many open images stay linear.
    const int32_t end =
        in.trace.open_images.empty() ? lex_inline_image_end(in.b, in.len, id.end) : -1;
    if (end < 0) {
        // Without an end the rest is read as content: whatever it shows is
        // still found.
        in.trace.open_images.push_back(id.end);
        return id.end;
    }
    image.end = end;
    image.data_end = end - 2;
    while (image.data_end > image.data_start && is_pdf_ws(in.b[image.data_end - 1])) --image.data_end;
    in.trace.images.push_back(image);
    return end;
}

// Runs keyword token `t`.
void run_operator(Interp &in, const Token &t) {
    const unsigned char *w = in.b + t.start;
    const int32_t n = t.end - t.start;
    auto is = [&](const char *word) { return lex_is(in.b, t, word); };
    TextState &ts = in.gs.text;
    if (n == 1) {
        switch (w[0]) {
            case 'q': op_save(in); break;
            case 'Q': op_restore(in, t); break;
            case '\'':
                if (!in.stack.empty() && is_string(in.stack.back())) {
                    move_line(in, 0, -ts.leading);
                    show(in, ShowKind::kQuote, in.stack.back(), t.start, t.end);
                }
                break;
            case '"': {
                size_t have = 0;
                const Operand *ops = last_operands(in, 3, &have);
                if (have == 3 && is_string(ops[2])) {
                    if (ops[0].kind == Tok::kNumber) ts.word_spacing = ops[0].num;
                    if (ops[1].kind == Tok::kNumber) ts.char_spacing = ops[1].num;
                    move_line(in, 0, -ts.leading);
                    show(in, ShowKind::kDoubleQuote, ops[2], t.start, t.end);
                    ShowOp &op = in.trace.ops.back();
                    op.aw_end = ops[0].end;
                    op.ac_end = ops[1].end;
                }
                break;
            }
            default: break;
        }
    } else if (n == 2 && w[0] == 'T') {
        double v[6];
        switch (w[1]) {
            case 'c': ts.char_spacing = last_number(in, ts.char_spacing); break;
            case 'w': ts.word_spacing = last_number(in, ts.word_spacing); break;
            case 'z': ts.hscale = last_number(in, ts.hscale * 100) / 100; break;
            case 'L': ts.leading = last_number(in, ts.leading); break;
            case 's': ts.rise = last_number(in, ts.rise); break;
            case 'r': {
                const double mode = last_number(in, ts.render_mode);
                if (mode >= 0 && mode <= 7) ts.render_mode = static_cast<int>(mode);
                break;
            }
            case 'f': op_font(in); break;
            case 'd':
            case 'D':
                if (numbers(in, 2, v)) {
                    if (w[1] == 'D') ts.leading = -v[1];
                    move_line(in, v[0], v[1]);
                }
                break;
            case 'm':
                if (numbers(in, 6, v)) {
                    const Matrix m{v[0], v[1], v[2], v[3], v[4], v[5]};
                    if (mat_is_finite(m)) set_text_matrix(in, m);
                }
                break;
            case '*': move_line(in, 0, -ts.leading); break;
            case 'j':
                if (!in.stack.empty() && is_string(in.stack.back()))
                    show(in, ShowKind::kTj, in.stack.back(), t.start, t.end);
                break;
            case 'J':
                if (!in.stack.empty() && in.stack.back().kind == Tok::kArrayOpen)
                    show(in, ShowKind::kTJ, in.stack.back(), t.start, t.end);
                break;
            default: break;
        }
    } else if (is("cm")) {
        op_concat(in);
    } else if (is("BT")) {
        set_text_matrix(in, Matrix{});
        in.trace.in_text = true;
    } else if (is("ET")) {
        // The text matrix outlives ET: a show before the next BT goes on from
        // the pen, so the last show's advance still counts.
        in.trace.in_text = false;
    } else if (is("Do")) {
        op_do(in);
    } else if (is("BMC")) {
        op_begin_span(in, false);
    } else if (is("BDC")) {
        op_begin_span(in, true);
    } else if (is("EMC")) {
        op_end_span(in);
    } else if (is("BI")) {
        in.inline_dict = true;
        in.bi_start = t.start;
        in.bi_dict_start = t.end;
    }
    in.stack.clear();
    // No operand is left to name an array's elements (an operator runs only
    // once every array and dictionary is closed or broken open).
    if (in.open.empty()) in.elements.clear();
}

// The text that closes what is open at the end: strings, hex strings,
// arrays and dictionaries. It starts with a newline, which also ends a
// trailing comment and turns a dangling backslash into a line continuation.
void make_closers(Interp &in, const Token &last_string) {
    std::string text;
    if (last_string.open) {
        if (last_string.kind == Tok::kHexString) {
            text += '>';
        } else {
            int64_t depth = 0;
            for (int32_t i = last_string.start; i < in.len; ++i) {
                const unsigned char c = in.b[i];
                if (c == '\\')
                    ++i;
                else if (c == '(')
                    ++depth;
                else if (c == ')')
                    --depth;
            }
            text.append(static_cast<size_t>(std::max<int64_t>(depth, 1)), ')');
        }
    }
    for (auto it = in.open.rbegin(); it != in.open.rend(); ++it)
        text += it->kind == Tok::kArrayOpen ? "]" : ">>";
    if (!text.empty()) in.trace.closers = "\n" + text;
}

}  // namespace

void string_reader_start(StringReader &r, const unsigned char *content, const Token &s) {
    r.b = content;
    r.hex = s.kind == Tok::kHexString;
    r.pos = s.start + 1;
    r.stop = r.hex && s.end > s.start && content[s.end - 1] == '>' ? s.end - 1 : s.end;
    r.depth = 1;
}

bool string_reader_next(StringReader &r, unsigned char *byte, int32_t *from, int32_t *to) {
    const unsigned char *b = r.b;
    if (r.hex) {
        int pending = -1;
        int32_t at = 0;
        for (; r.pos < r.stop; ++r.pos) {
            const int v = hex_digit_value(b[r.pos]);
            if (v < 0) continue;  // blanks and junk between digits are ignored
            if (pending < 0) {
                pending = v;
                at = r.pos;
                continue;
            }
            *byte = static_cast<unsigned char>(pending * 16 + v);
            *from = at;
            *to = ++r.pos;
            return true;
        }
        if (pending < 0) return false;
        *byte = static_cast<unsigned char>(pending * 16);  // a lone last digit reads as if followed by 0
        *from = at;
        *to = r.stop;
        return true;
    }
    // A literal string (PDF reference 7.3.4.2); the closing ')' is not part of it.
    while (r.pos < r.stop) {
        const int32_t i = r.pos;
        const unsigned char c = b[i];
        // Balanced parentheses need no backslash: they are bytes of the string.
        if (c == '(') ++r.depth;
        if ((c == ')' && --r.depth == 0) || (c == '\\' && i + 1 >= r.stop)) break;
        if (c != '\\') {
            r.pos = i + 1;
            *byte = c;
            *from = i;
            *to = r.pos;
            return true;
        }
        const unsigned char e = b[i + 1];
        unsigned code = e;
        r.pos = i + 2;
        switch (e) {
            case 'n': code = 10; break;
            case 'r': code = 13; break;
            case 't': code = 9; break;
            case 'b': code = 8; break;
            case 'f': code = 12; break;
            case '\n': continue;  // a line continuation
            case '\r':
                if (r.pos < r.stop && b[r.pos] == '\n') ++r.pos;
                continue;
            default:
                if (e >= '0' && e <= '7') {
                    code = e - '0';
                    for (int k = 1; k < 3 && r.pos < r.stop && b[r.pos] >= '0' && b[r.pos] <= '7'; ++k, ++r.pos)
                        code = code * 8 + (b[r.pos] - '0');
                    code &= 0xFF;
                }
                break;
        }
        *byte = static_cast<unsigned char>(code);
        *from = i;
        *to = r.pos;
        return true;
    }
    r.pos = r.stop;
    return false;
}

void string_reader_all(StringReader &r, std::vector<unsigned char> &out) {
    unsigned char byte = 0;
    int32_t from = 0, to = 0;
    for (;;) {
        if (!r.hex) {
            // A run of bytes that are neither parentheses nor backslashes
            // reads as itself.
            int32_t end = r.pos;
            while (end < r.stop && r.b[end] != '(' && r.b[end] != ')' && r.b[end] != '\\') ++end;
            out.insert(out.end(), r.b + r.pos, r.b + end);
            r.pos = end;
        }
        if (!string_reader_next(r, &byte, &from, &to)) return;
        out.push_back(byte);
    }
}

void interpret_content(const ContentContext &ctx, const unsigned char *content, int32_t len,
                       const Matrix &ctm, ContentTrace &trace) {
    trace = ContentTrace{};
    Interp in{ctx, content, len, trace, {}, {}, 0, {}, {}, {}, {}, {}, {}, {}, -1,
              false, 0, 0, nullptr, {}, {}, {}, {}, {}};
    in.gs.ctm = mat_is_finite(ctm) ? ctm : Matrix{};
    Token open_string;  // a string the data ended inside
    int32_t pos = 0;
    while (pos < len) {
        const Token t = lex_next_code(content, len, pos);
        if (t.kind == Tok::kEnd) break;
        pos = t.end;
        if (t.open) open_string = t;
        if (in.inline_dict) {
            // Between BI and ID the tokens are the image's dictionary.
            if (lex_is(content, t, "ID")) {
                in.inline_dict = false;
                pos = op_image_data(in, t);
                in.stack.clear();
            } else if (t.kind == Tok::kKeyword && !lex_is(content, t, "true") &&
                       !lex_is(content, t, "false") && !lex_is(content, t, "null")) {
                in.inline_dict = false;  // no ID came: an operator again
                run_operator(in, t);
            }
            continue;
        }
        switch (t.kind) {
            case Tok::kNumber:
            case Tok::kName:
            case Tok::kString:
            case Tok::kHexString:
                add_value(in, token_operand(in, t));
                break;
            case Tok::kArrayOpen:
            case Tok::kDictOpen: {
                const bool in_dict =
                    t.kind == Tok::kDictOpen || (!in.open.empty() && in.open.back().in_dict);
                in.open.push_back({t.kind, t.start, in.pending.size(), in_dict});
                break;
            }
            case Tok::kArrayClose:
            case Tok::kDictClose: {
                const Tok want = t.kind == Tok::kArrayClose ? Tok::kArrayOpen : Tok::kDictOpen;
                if (!in.open.empty() && in.open.back().kind == want) close_composite(in, t.end);
                break;  // a stray closer is ignored
            }
            case Tok::kKeyword:
                if (!in.open.empty() &&
                    (lex_is(content, t, "true") || lex_is(content, t, "false") ||
                     lex_is(content, t, "null"))) {
                    add_value(in, token_operand(in, t));
                    break;
                }
                break_composites(in);
                run_operator(in, t);
                break;
            default:
                break;  // bad bytes are stepped over
        }
    }
    for (int32_t s : in.span_stack) {
        MarkedSpan &span = trace.spans[static_cast<size_t>(s)];
        span.end_glyph = static_cast<int32_t>(trace.glyphs.size());
    }
    trace.q_depth = static_cast<int32_t>(std::min<int64_t>(
        static_cast<int64_t>(in.saved.size()) + in.unsaved_depth, INT32_MAX));
    make_closers(in, open_string);
}

int32_t trace_glyph_op(const ContentTrace &trace, int32_t glyph) {
    // Operations hold consecutive glyph ranges in order; one that shows
    // nothing starts where the next starts, and comes before it.
    const auto after = std::upper_bound(trace.ops.begin(), trace.ops.end(), glyph,
                                        [](int32_t g, const ShowOp &op) { return g < op.first_glyph; });
    return static_cast<int32_t>(after - trace.ops.begin()) - 1;
}

Point trace_glyph_origin(const ContentTrace &trace, int32_t glyph) {
    const ShowOp &op = trace.ops[static_cast<size_t>(trace_glyph_op(trace, glyph))];
    return mat_apply(op.text_to_user, trace.glyphs[static_cast<size_t>(glyph)].tx, op.rise);
}
