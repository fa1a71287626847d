// The constant tables behind src/unicode.cpp, defined in the generated file
// src/unicode_tables.cpp (tools/gen_unicode_tables.py writes it). All are
// constant-initialised: nothing runs before main and nothing is built lazily.
#ifndef INKVEIL_UNICODE_TABLES_H
#define INKVEIL_UNICODE_TABLES_H

#include <cstdint>
#include <span>
#include <string_view>

// One Adobe Glyph List entry: a name and the code points it stands for (one,
// or a short sequence such as a Hebrew letter with its point).
struct UnicodeGlyphName {
    std::string_view name;
    std::u32string_view code_points;
};
// Sorted by name in byte order.
extern const std::span<const UnicodeGlyphName> unicode_glyph_list;

// Glyph names by code, nullptr where unassigned; rows in the order of enum BaseEncoding.
extern const char *const unicode_encoding_names[6][256];

// Code point by byte, 0 where the byte is undefined.
extern const char32_t unicode_pdfdoc_table[256];
extern const char32_t unicode_cp1252_table[256];

// Simple case folding of every code point that has one, sorted by `from`.
struct UnicodeFoldPair {
    char32_t from;
    char32_t to;
};
extern const std::span<const UnicodeFoldPair> unicode_fold_pairs;

// One standard font's glyphs: `names` sorted in byte order, `widths[i]` the
// advance width of `names[i]` in 1/1000 em. The text fonts share one name list.
struct UnicodeStd14Metrics {
    std::span<const std::string_view> names;
    std::span<const int16_t> widths;
};
// In the order of std14_font_index.
extern const UnicodeStd14Metrics unicode_std14_metrics[14];

#endif  // INKVEIL_UNICODE_TABLES_H
