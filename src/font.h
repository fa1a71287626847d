// Fonts read from a document's font dictionaries: how a string splits into
// character codes, each code's advance width, its Unicode text, and the code
// that draws nothing, used to blank a glyph. A font knows nothing of
// redaction; the redaction knows nothing of font dictionaries.
#ifndef INKVEIL_FONT_H
#define INKVEIL_FONT_H

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "cmap.h"
#include "document.h"
#include "pdfobj.h"

enum class FontKind : uint8_t { kSimple, kType3, kType0 };

// Widths of consecutive CIDs lo..hi, in 1/1000 em.
struct CidWidths {
    uint32_t lo, hi;
    float width;
};

struct Font {
    FontKind kind = FontKind::kSimple;
    std::string name;  // the /BaseFont, or the resource name: names the font in messages

    // Codes: one byte (simple fonts), two bytes (Identity CMaps), or the
    // codespace ranges of an embedded CMap.
    int code_bytes = 1;  // 1 or 2; 0 when `encoding` decides
    CMap encoding;       // an embedded /Encoding CMap of a Type0 font
    bool vertical = false;

    // Widths, in text space units per unit of font size (1/1000 em
    // already applied, or a Type 3 font's /FontMatrix).
    std::array<float, 256> simple_widths{};  // simple and Type 3 fonts
    std::vector<CidWidths> cid_widths;       // Type0 fonts, sorted by lo
    float default_width = 1.0f;              // Type0 /DW
    double ascent = 0.9, descent = -0.25;    // the glyph box, in em

    // Text: ToUnicode first; simple fonts then their encoding's glyph names
    // (per code, both read once into `simple_text`); Type0 TrueType fonts
    // without ToUnicode the reversed 'cmap' of their program (glyph -> code
    // point).
    CMap to_unicode;
    bool has_to_unicode = false;
    std::array<uint32_t, 257> simple_text_at{};  // code c: simple_text[at[c] .. at[c+1])
    std::u32string simple_text;
    std::vector<std::pair<uint32_t, uint32_t>> gid_unicode;  // sorted by glyph
    bool codes_are_unicode = false;  // a Type0 font whose CMap codes are UCS-2 / UTF-16
    bool unreadable = false;  // codes cannot be turned into text

    // The code that blanks a glyph: the font's own space when it has one,
    // else a code that has no glyph.
    uint32_t blank_code = 32;
    int blank_bytes = 1;
};

// Reads a font dictionary (simple, Type3 or Type0). Never fails: what cannot
// be read falls back to the standard-font tables the resource name selects.
std::unique_ptr<Font> font_load(const Doc &doc, const PdfObj &dict, std::string_view resource_name);

// A font for a Tf whose resource is missing or not a dictionary: the widths
// of the standard font whose name occurs in the resource name, else 0.5 em;
// codes read as standard text.
std::unique_ptr<Font> font_fallback(std::string_view resource_name);

// The length in bytes of the code that starts at bytes[0] (avail >= 1); the
// code itself in *code.
int font_next_code(const Font &font, const unsigned char *bytes, size_t avail, uint32_t *code);

// The horizontal advance of a code of a Type0 font, in em.
double font_cid_width(const Font &font, uint32_t code);

// The horizontal advance of `code`, in em (times the font size gives text
// space). Inline: it runs for every glyph, more than once.
inline double font_width(const Font &font, uint32_t code) {
    if (font.kind != FontKind::kType0) return code < 256 ? font.simple_widths[code] : 0;
    return font_cid_width(font, code);
}

// Appends the Unicode text of `code` to `out`; false (nothing appended) when
// the code has none.
bool font_text(const Font &font, uint32_t code, std::u32string &out);

// The fonts of one call, each dictionary read once.
struct FontCache {
    std::unordered_map<int32_t, std::unique_ptr<Font>> by_object;  // fonts that are objects
    std::unordered_map<std::string, std::unique_ptr<Font>> inline_fonts;  // by their text
    std::unordered_map<std::string, std::unique_ptr<Font>> fallbacks;  // by resource name
};

// The font that resource `value` (a reference or a dictionary, or null when
// the resource is missing) stands for, named `resource_name` in the content.
const Font *font_cache_get(FontCache &cache, const Doc &doc, const PdfObj *value,
                           std::string_view resource_name);

#endif
