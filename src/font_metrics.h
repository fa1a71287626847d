// The standard 14 fonts' advance widths by one-byte code, and the rule that
// picks a table from a font's name when nothing better is known.
#ifndef INKVEIL_FONT_METRICS_H
#define INKVEIL_FONT_METRICS_H

#include <cstdint>

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

// The table of standard font `index` in the order Times-Roman, Times-Italic,
// Times-Bold, Times-BoldItalic, Helvetica, Helvetica-Oblique, Helvetica-Bold,
// Helvetica-BoldOblique, the four Courier faces in the same order, Symbol,
// ZapfDingbats; nullptr outside 0..13.
const uint16_t *std14_width_table(int index);

#endif
