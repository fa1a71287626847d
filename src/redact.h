// Content redaction: the standard-font width tables, decoding of text strings
// into positioned glyphs, and the one-pass rewriting of a content stream with
// its painted boxes.
#ifndef INKVEIL_REDACT_H
#define INKVEIL_REDACT_H

#include <cstdint>
#include <vector>

#include "inkveil.h"
#include "syntax.h"

// ---- Standard 14 font metrics -------------------------------------------
// Advance widths in 1/1000 em, indexed by one-byte character code; 0 means the
// font has no glyph at that code. The text fonts are in WinAnsiEncoding order,
// Symbol and ZapfDingbats in their built-in encodings.
using WidthTable = uint16_t[256];
extern const WidthTable times_roman_widths;
extern const WidthTable times_italic_widths;
extern const WidthTable times_bold_widths;
extern const WidthTable times_bolditalic_widths;
extern const WidthTable helvetica_widths;
extern const WidthTable helvetica_oblique_widths;
extern const WidthTable helvetica_bold_widths;
extern const WidthTable helvetica_boldoblique_widths;
extern const WidthTable courier_widths;
extern const WidthTable courier_oblique_widths;
extern const WidthTable courier_bold_widths;
extern const WidthTable courier_boldoblique_widths;
extern const WidthTable symbol_widths;
extern const WidthTable zapfdingbats_widths;

// First occurrence of `needle` in `haystack`, ASCII capitals folded to lower
// case; NULL when absent. An empty haystack never matches.
const char *qw_strcasestr(const char *haystack, const char *needle);
// The width table whose font name occurs in `name` (any case, anywhere), or
// nullptr when none does. `name` is a name token without its slash.
const uint16_t *select_width_table(const char *name);
// Advance width in em of `code` under `widths`; 0.5 without a table or for a
// code the font has no glyph for.
double glyph_width(const uint16_t *widths, unsigned char code);

// ---- Glyphs ---------------------------------------------------------------
struct Glyph {
    unsigned char code;  // character code after escape processing
    int32_t src_start;   // first source byte (backslash of an escape, first hex digit)
    int32_t src_end;     // just past the last source byte
    int32_t is_hex;      // 1 for a glyph of a hex string
    double x;            // origin on the line, before the advance
    double y;            // the line's y
    double advance;      // width times font size
};
using GlyphList = std::vector<Glyph>;

struct RedactBox {
    float x, y, w, h;  // lower-left corner, width, height
};
using BoxList = std::vector<RedactBox>;

// Decodes the literal string whose '(' is at `pos` into `list`, advancing *x.
// Returns the offset just past the closing ')', `len` when the string is not
// closed, or the offset of a backslash that is the content's last byte.
int32_t parse_literal_glyphs(const unsigned char *content, int32_t len, int32_t pos, double *x,
                             double y, double font_size, const uint16_t *widths, GlyphList &list);
// Decodes the hex string whose '<' is at `pos`. Returns the offset just past
// the closing '>', or `len` when there is none.
int32_t parse_hex_glyphs(const unsigned char *content, int32_t len, int32_t pos, double *x,
                         double y, double font_size, const uint16_t *widths, GlyphList &list);

// Overwrites one glyph's source bytes so that it shows a space: a literal
// glyph's bytes become spaces, a hex glyph's digits become "20" (a lone final
// digit becomes "2"). The content keeps its length.
void redact_glyph(unsigned char *content, const Glyph &glyph);

// True when the region's page, truncated toward zero, is `page`.
bool region_on_page(const Region &region, int page);

// Blanks, in one text-showing unit, the runs of glyphs that spell `search`
// (ASCII case folded), adding a box per run and counting it in *match_counter
// (optional), then the glyphs whose origin lies in a region of `page`.
// Returns the number of glyphs blanked.
int process_glyphs(unsigned char *content, GlyphList &list, const char *search,
                   int32_t search_len, double font_size, BoxList &boxes, const Region *regions,
                   int region_count, int page, int *match_counter);

// Redacts one decoded content stream in place and appends it to `out`,
// followed by the painted block when a box was drawn. Sets *painted to 1 when
// the content changed; adds the search matches to *match_counter (optional).
void redact_page_content(unsigned char *content, int32_t len, Buf &out, const char *search,
                         const Region *regions, int region_count, int page, int red, int green,
                         int blue, int *painted, int *match_counter);

#endif
