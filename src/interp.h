// The content interpreter: one content stream read the way viewers draw it,
// with an operand stack and the graphics and text state of the PDF reference
// (8.4 graphics state, 9.3 text state, 9.4 text objects), into a trace: every
// text-showing operation with its glyphs, where each glyph's source bytes lie
// and where it stands, every XObject and inline image drawn with the CTM in
// force, the marked-content spans, and what is still open at the end.
//
// The interpreter only reads: the redaction decides from the trace what to
// blank and rewrites the content.
#ifndef INKVEIL_INTERP_H
#define INKVEIL_INTERP_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "document.h"
#include "font.h"
#include "geometry.h"
#include "lexer.h"
#include "pdfobj.h"

enum class ShowKind : uint8_t { kTj, kTJ, kQuote, kDoubleQuote };

// One text-showing operation (a long stream holds many: the small fields
// stand together).
struct ShowOp {
    ShowKind kind = ShowKind::kTj;
    // A later show operation starts where this one leaves the pen, so its
    // total advance must not change.
    bool pen_continues = false;
    int32_t op_start = 0, op_end = 0;    // the operator token
    int32_t arg_start = 0, arg_end = 0;  // its string, or its array from '[' to past ']'
    int32_t aw_end = -1, ac_end = -1;    // ": just past its two number operands
    int32_t render_mode = 0;             // Tr: 3 and 7 draw nothing (an OCR text layer)
    int32_t first_glyph = 0, glyph_count = 0;
    const Font *font = nullptr;
    double size = 0;          // Tfs
    double char_spacing = 0;  // Tc
    double word_spacing = 0;  // Tw
    double hscale = 1;        // Th (Tz / 100)
    double rise = 0;          // Ts
    // Text space (where the op's first glyph stands at x = 0 on the baseline,
    // before the rise) to the stream's user space: Tm x CTM at the op.
    Matrix text_to_user;
};

// One glyph: a character code of a shown string. Its operation is the one
// whose glyph range holds it (trace_glyph_op), and its advance is computed
// again from its code when asked (trace_glyph_adv). Where its bytes stand in
// the content is found again, for the few glyphs that are rewritten, by
// decoding their operation's strings once more (StringReader).
struct TraceGlyph {
    uint32_t code;
    float tx;  // origin along the op's baseline, in its text space
};

// Coordinates and advances beyond this are clamped: no real page comes near,
// and the products of several matrices stay finite. Not a number reads as 0.
inline constexpr double kCoordinateLimit = 1e9;
inline double clamp_coordinate(double v) {
    if (v >= -kCoordinateLimit && v <= kCoordinateLimit) return v;  // nearly always
    if (!std::isfinite(v)) return 0;
    return v < 0 ? -kCoordinateLimit : kCoordinateLimit;
}

// The advance of one glyph of `op` along its baseline, in its text space:
// (w0 * Tfs + Tc + Tw) * Th, with Tw for a single-byte code 32 only. `bytes`
// is the length the font gives the code (at least 1). Inline: it runs for
// every glyph when it is shown, and again when its text is read.
inline double glyph_advance(const ShowOp &op, uint32_t code, int bytes) {
    const double w0 = font_width(*op.font, code);
    const double tw = (bytes == 1 && code == 32) ? op.word_spacing : 0;
    return clamp_coordinate((w0 * op.size + op.char_spacing + tw) * op.hscale);
}

// An XObject drawn by Do.
struct XObjectUse {
    int32_t name_start = 0, name_end = 0;  // the name operand token
    int32_t num = 0;                       // the object the resources name (0: none)
    Matrix ctm;                            // the CTM at the Do
};

// An inline image: BI dict ID data EI.
struct InlineImage {
    int32_t bi_start = 0;
    int32_t dict_start = 0, dict_end = 0;  // the key/value tokens between BI and ID
    int32_t data_start = 0, data_end = 0;  // the data (after the blank that follows ID)
    int32_t end = 0;                       // just past EI
    Matrix ctm;
};

// A marked-content span (BMC/BDC ... EMC) with a property list.
struct MarkedSpan {
    int32_t first_glyph = 0, end_glyph = 0;  // glyphs shown inside it
    int32_t dict_start = -1, dict_end = -1;  // an inline property list "<< ... >>"
    int32_t props_obj = 0;                   // a named property list's object
    bool has_actual_text = false;
    std::u32string actual_text;  // /ActualText, decoded
};

// A string inside an inline dictionary operand (a property list).
struct DictString {
    int32_t start, end;  // the string token
    int32_t span;        // the span whose property list holds it, or -1
    bool actual_text;    // the value of /ActualText
};

// The glyphs of a trace, its bulk, in blocks of kBlock: a long trace grows
// without copying itself (which would hold the old array beside a new one
// twice its size), and adding a glyph is a store and a compare.
struct GlyphList {
    static constexpr size_t kBlockBits = 9;
    static constexpr size_t kBlock = size_t{1} << kBlockBits;
    std::vector<std::unique_ptr<TraceGlyph[]>> blocks;
    size_t count = 0;
    TraceGlyph *tail = nullptr, *tail_end = nullptr;  // the free part of the last block

    GlyphList() = default;
    GlyphList(GlyphList &&other) noexcept { *this = std::move(other); }
    GlyphList &operator=(GlyphList &&other) noexcept {
        if (this == &other) return *this;
        blocks = std::move(other.blocks);
        count = std::exchange(other.count, 0);
        tail = std::exchange(other.tail, nullptr);
        tail_end = std::exchange(other.tail_end, nullptr);
        other.blocks.clear();
        return *this;
    }
    size_t size() const { return count; }
    bool empty() const { return count == 0; }
    TraceGlyph &operator[](size_t i) { return blocks[i >> kBlockBits][i & (kBlock - 1)]; }
    const TraceGlyph &operator[](size_t i) const { return blocks[i >> kBlockBits][i & (kBlock - 1)]; }
    void push_back(const TraceGlyph &g) {
        if (tail == tail_end) grow();
        *tail++ = g;
        ++count;
    }
    void grow() {
        blocks.push_back(std::make_unique_for_overwrite<TraceGlyph[]>(kBlock));
        tail = blocks.back().get();
        tail_end = tail + kBlock;
    }
};

struct ContentTrace {
    std::vector<ShowOp> ops;
    GlyphList glyphs;
    std::vector<XObjectUse> xobjects;
    std::vector<InlineImage> images;
    std::vector<MarkedSpan> spans;
    std::vector<DictString> dict_strings;
    std::vector<int32_t> stray_restores;  // Q operators with no q to restore
    // Glyphs whose code 32 took more than one byte, in order: word spacing
    // does not apply to them.
    std::vector<int32_t> multibyte_spaces;
    // At the end of the content: what the appended text must close first.
    std::string closers;     // open strings, hex strings, dictionaries and arrays
    // Inline images whose EI never came: just past their ID. What follows
    // is read as content.
    std::vector<int32_t> open_images;
    bool in_text = false;     // BT without ET
    int32_t q_depth = 0;      // q without Q
};

// The index of the operation that shows glyph `glyph` of the trace.
int32_t trace_glyph_op(const ContentTrace &trace, int32_t glyph);

// Where glyph `glyph` stands, in the stream's user space: its origin on the
// baseline, raised by the rise.
Point trace_glyph_origin(const ContentTrace &trace, int32_t glyph);

// Whether glyph `glyph`, whose code is `code`, is a code 32 of more than one byte.
inline bool trace_glyph_multibyte_space(const ContentTrace &trace, int32_t glyph, uint32_t code) {
    return code == 32 && !trace.multibyte_spaces.empty() &&
           std::binary_search(trace.multibyte_spaces.begin(), trace.multibyte_spaces.end(), glyph);
}

// The advance of glyph `glyph` of `op`, whose code is `code`, along its
// baseline in its text space: glyph_advance in single precision, as the
// interpreter computed it.
inline float trace_glyph_adv(const ContentTrace &trace, const ShowOp &op, int32_t glyph, uint32_t code) {
    return static_cast<float>(glyph_advance(op, code, trace_glyph_multibyte_space(trace, glyph, code) ? 2 : 1));
}

// The part of that advance that character and word spacing make: (Tc + Tw) * Th,
// with Tw for a single-byte code 32 only.
inline double trace_glyph_spacing(const ContentTrace &trace, const ShowOp &op, int32_t glyph, uint32_t code) {
    if (op.char_spacing == 0 && op.word_spacing == 0) return 0;  // most text
    const bool word = code == 32 && !trace_glyph_multibyte_space(trace, glyph, code);
    return (op.char_spacing + (word ? op.word_spacing : 0)) * op.hscale;
}

// For walks over the glyphs in order: moves `op` on to the operation that
// shows glyph `glyph`.
inline void trace_op_follow(const ContentTrace &trace, size_t &op, int32_t glyph) {
    while (op + 1 < trace.ops.size() && trace.ops[op].first_glyph + trace.ops[op].glyph_count <= glyph) ++op;
}

// What the interpreter reads besides the content: the document, the fonts
// of the call, and the resource dictionary of the stream.
struct ContentContext {
    const Doc &doc;
    FontCache &fonts;
    const PdfObj &resources;  // a dictionary, or null
};

// Interprets `len` bytes of content, starting with `ctm` as the CTM.
void interpret_content(const ContentContext &ctx, const unsigned char *content, int32_t len,
                       const Matrix &ctm, ContentTrace &trace);

// Reads a literal or hex string token of content byte by byte, each byte
// with its source range [from, to): the backslash of an escape, the digits
// of a hex pair with what stands between them.
struct StringReader {
    const unsigned char *b = nullptr;
    bool hex = false;
    int32_t pos = 0, stop = 0;  // the next source byte, and where the string's bytes end
    int32_t depth = 1;          // open parentheses of a literal string
};
void string_reader_start(StringReader &reader, const unsigned char *content, const Token &token);
// False once the string has no more bytes.
bool string_reader_next(StringReader &reader, unsigned char *byte, int32_t *from, int32_t *to);
// Appends the bytes that are left, without their source ranges.
void string_reader_all(StringReader &reader, std::vector<unsigned char> &out);

// The nesting depth of q that the interpreter keeps states for; deeper q
// still count, but restore nothing.
inline constexpr int kMaxSavedStates = 256;

#endif
