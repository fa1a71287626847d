// Font name matching and glyph width lookup over the standard 14 width tables
// (the tables themselves are generated into font_widths.cpp).
#include <cstdint>

#include "font_metrics.h"

namespace {

// ASCII-only case folding, whatever the locale.
unsigned char fold(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

struct FontRow {
    const char *fragment;
    const uint16_t *widths;
};

// Checked in this order; the first fragment found anywhere in the name wins, so
// the longer face names come before the family names they contain.
// "Times" on its own catches names such as TimesNewRomanPSMT.
const FontRow font_rows[] = {
    {"Courier-BoldOblique", courier_boldoblique_widths},
    {"Courier-Oblique", courier_oblique_widths},
    {"Courier-Bold", courier_bold_widths},
    {"Courier", courier_widths},
    {"Helvetica-BoldOblique", helvetica_boldoblique_widths},
    {"Helvetica-Oblique", helvetica_oblique_widths},
    {"Helvetica-Bold", helvetica_bold_widths},
    {"Helvetica", helvetica_widths},
    {"Symbol", symbol_widths},
    {"Times-BoldItalic", times_bolditalic_widths},
    {"Times-Bold", times_bold_widths},
    {"Times-Italic", times_italic_widths},
    {"Times-Roman", times_roman_widths},
    {"Times", times_roman_widths},
    {"ZapfDingbats", zapfdingbats_widths},
};

}  // namespace

// Tries each start position in turn; an empty haystack has none, so it never
// matches, not even an empty needle.
const char *qw_strcasestr(const char *haystack, const char *needle) {
    for (const char *start = haystack; *start != '\0'; ++start) {
        const unsigned char *h = reinterpret_cast<const unsigned char *>(start);
        const unsigned char *n = reinterpret_cast<const unsigned char *>(needle);
        while (*n != '\0' && fold(*h) == fold(*n)) {
            ++h;
            ++n;
        }
        if (*n == '\0') return start;
    }
    return nullptr;
}

const uint16_t *select_width_table(const char *name) {
    for (const FontRow &row : font_rows) {
        if (qw_strcasestr(name, row.fragment) != nullptr) return row.widths;
    }
    return nullptr;
}

double glyph_width(const uint16_t *widths, unsigned char code) {
    if (widths == nullptr) return 0.5;
    // Entries are at most 1055, so they read the same as signed 16-bit values.
    const int16_t entry = static_cast<int16_t>(widths[code]);
    return entry > 0 ? entry / 1000.0 : 0.5;
}

const uint16_t *std14_width_table(int index) {
    static const uint16_t *const kTables[] = {
        times_roman_widths,       times_italic_widths,      times_bold_widths,
        times_bolditalic_widths,  helvetica_widths,         helvetica_oblique_widths,
        helvetica_bold_widths,    helvetica_boldoblique_widths, courier_widths,
        courier_oblique_widths,   courier_bold_widths,      courier_boldoblique_widths,
        symbol_widths,            zapfdingbats_widths};
    return index >= 0 && index < 14 ? kTables[index] : nullptr;
}
