// Unicode data for reading text: glyph names, the base encodings of simple
// fonts, PDFDocEncoding and Windows-1252 bytes, UTF-8, simple case folding and
// the metrics of the standard 14 fonts by glyph name. Pure functions over
// constant tables (src/unicode_tables.cpp); nothing here knows PDF documents.
// Every lookup is a binary search or a direct index and allocates nothing
// except the output strings it is given.
#ifndef INKVEIL_UNICODE_H
#define INKVEIL_UNICODE_H

#include <cstdint>
#include <string>
#include <string_view>

// Appends to `out` the Unicode code points that a glyph name stands for, as PDF readers resolve
// names: the Adobe Glyph List first; then "uniXXXX" (one or more groups of exactly four upper-case
// hex digits, each a BMP code point, surrogates refused), "uXXXX" to "uXXXXXX" (4 to 6 upper-case
// hex digits, a valid scalar value); a suffix from the first '.' on is dropped first ("a.sc" ->
// "a"; ".notdef" has no meaning); '_' joins the components of a ligature ("f_f_i" -> "ffi"), each
// component resolved alone. Names like "g123", "cid45", "glyph12", ".notdef" carry no meaning.
// Returns false and appends nothing when the name (or any ligature component, an empty one
// included) has no meaning.
bool glyph_name_to_unicode(std::string_view name, std::u32string &out);

// The base encodings of simple fonts.
enum class BaseEncoding { kStandard, kWinAnsi, kMacRoman, kPdfDoc, kSymbol, kZapfDingbats };
// The glyph name that `enc` assigns to `code` (0..255), or nullptr when the code is unassigned (or
// above 255). Standard, MacRoman, WinAnsi and PDFDoc come from the Latin character set table
// (WinAnsi also maps "space" at 160 and "hyphen" at 173, MacRoman "space" at 202; "bullet" is not
// added at WinAnsi's unassigned codes 127, 129, 141, 143, 144, 157); Symbol's and ZapfDingbats's
// built-in encodings are the `C` codes of their AFM files. The string is static.
const char *encoding_glyph_name(BaseEncoding enc, unsigned code);

// The Unicode code point of a PDFDocEncoding byte (for text strings such as /ActualText), 0 when
// the code is undefined. Tab, line feed and carriage return are defined as themselves.
char32_t pdfdoc_to_unicode(unsigned char code);
// The Unicode code point of a Windows-1252 byte (callers that pass single-byte search texts), 0
// when the code is undefined in Windows-1252 (0x81, 0x8D, 0x8F, 0x90, 0x9D).
char32_t cp1252_to_unicode(unsigned char code);

// Decodes UTF-8 into `out` (replacing its content). False, with `out` unspecified, when the bytes
// are not valid UTF-8 (overlong forms, surrogates, code points above 0x10FFFF and truncated
// sequences are invalid). An empty input is valid and gives an empty `out`.
bool utf8_decode(std::string_view bytes, std::u32string &out);
// Appends the UTF-8 form of `cp` (a scalar value) to `out`; a value that is not a scalar value
// (a surrogate, or above 0x10FFFF) is written as U+FFFD.
void utf8_append(char32_t cp, std::string &out);

// Unicode simple case folding (CaseFolding.txt statuses C and S), which includes ASCII: folds a
// code point to the form used to compare without regard to case. Code points without a mapping fold
// to themselves (so U+00DF stays, and the Turkic mappings are not used).
char32_t unicode_fold(char32_t cp);

// The standard 14 fonts, in this order (the order of the existing width tables in src/redact.h):
// 0 Times-Roman, 1 Times-Italic, 2 Times-Bold, 3 Times-BoldItalic, 4 Helvetica, 5
// Helvetica-Oblique, 6 Helvetica-Bold, 7 Helvetica-BoldOblique, 8 Courier, 9 Courier-Oblique, 10
// Courier-Bold, 11 Courier-BoldOblique, 12 Symbol, 13 ZapfDingbats. The standard font that a
// /BaseFont name stands for, or -1: exact names; a subset prefix of six upper-case letters and '+'
// is ignored; common aliases (Arial/ArialMT -> Helvetica,
// TimesNewRoman/TimesNewRomanPS/TimesNewRomanPSMT -> Times-Roman, CourierNew/CourierNewPS/
// CourierNewPSMT -> Courier, Times -> Times-Roman), each family with the style suffixes ",Bold"
// ",Italic" ",BoldItalic" "-Bold" "-Italic" "-BoldItalic" "-BoldMT" "-ItalicMT" "-BoldItalicMT"
// "-Oblique" "-BoldOblique" (so "TimesNewRomanPS-BoldMT" is Times-Bold, "Helvetica,Bold" is
// Helvetica-Bold; Symbol and ZapfDingbats with a style are themselves). Matching is exact and
// case-sensitive on the resulting name, not a substring test (so "MyHelveticaClone" is -1).
int std14_font_index(std::string_view base_font);
// The AFM advance width (1/1000 em) of glyph `name` in standard font `font` (0..13), or -1 when the
// font has no such glyph (or `font` is out of range). From the AFM files' `WX` values, every glyph
// of each file (not only encoded ones).
int std14_glyph_width(int font, std::string_view name);

#endif  // INKVEIL_UNICODE_H
