// Placeholder: the generated width tables go here.
#include "redact.h"
const WidthTable times_roman_widths = {};
const WidthTable times_italic_widths = {};
const WidthTable times_bold_widths = {};
const WidthTable times_bolditalic_widths = {};
const WidthTable helvetica_widths = {};
const WidthTable helvetica_oblique_widths = {};
const WidthTable helvetica_bold_widths = {};
const WidthTable helvetica_boldoblique_widths = {};
const WidthTable courier_widths = {};
const WidthTable courier_oblique_widths = {};
const WidthTable courier_bold_widths = {};
const WidthTable courier_boldoblique_widths = {};
const WidthTable symbol_widths = {};
const WidthTable zapfdingbats_widths = {};
