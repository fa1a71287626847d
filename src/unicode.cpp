// Lookups over the generated Unicode tables: glyph names, base encodings,
// single-byte text encodings, UTF-8, simple case folding and standard-font
// widths by glyph name.
#include "unicode.h"

#include <algorithm>
#include <cstddef>

#include "unicode_tables.h"

namespace {

constexpr char32_t kMaxScalar = 0x10FFFF;
constexpr char32_t kReplacement = 0xFFFD;

bool is_surrogate(char32_t cp) {
    return cp >= 0xD800 && cp <= 0xDFFF;
}
bool is_scalar(char32_t cp) {
    return cp <= kMaxScalar && !is_surrogate(cp);
}

// The value of an upper-case hex digit, or -1. Glyph names spell their code
// points in upper case only, so "uni00e9" is no code point.
int upper_hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The value of `digits` as upper-case hex, or -1 when a character is not one.
// Callers pass at most six digits, so the value fits.
int32_t parse_upper_hex(std::string_view digits) {
    int32_t value = 0;
    for (char c : digits) {
        const int digit = upper_hex_value(c);
        if (digit < 0) return -1;
        value = value * 16 + digit;
    }
    return value;
}

// "uni" followed by one or more groups of four digits, each a BMP code point
// outside the surrogates.
bool resolve_uni_form(std::string_view component, std::u32string &out) {
    const std::string_view digits = component.substr(3);
    if (digits.empty() || digits.size() % 4 != 0) return false;
    const size_t mark = out.size();
    for (size_t i = 0; i < digits.size(); i += 4) {
        const int32_t cp = parse_upper_hex(digits.substr(i, 4));
        if (cp < 0 || is_surrogate(static_cast<char32_t>(cp))) {
            out.resize(mark);
            return false;
        }
        out.push_back(static_cast<char32_t>(cp));
    }
    return true;
}

// "u" followed by four to six digits that make a scalar value.
bool resolve_u_form(std::string_view component, std::u32string &out) {
    const std::string_view digits = component.substr(1);
    if (digits.size() < 4 || digits.size() > 6) return false;
    const int32_t cp = parse_upper_hex(digits);
    if (cp < 0 || !is_scalar(static_cast<char32_t>(cp))) return false;
    out.push_back(static_cast<char32_t>(cp));
    return true;
}

// Resolves one ligature component; appends nothing when it has no meaning.
bool resolve_component(std::string_view component, std::u32string &out) {
    if (component.empty()) return false;
    const auto entry =
        std::ranges::lower_bound(unicode_glyph_list, component, {}, &UnicodeGlyphName::name);
    if (entry != unicode_glyph_list.end() && entry->name == component) {
        out.append(entry->code_points);
        return true;
    }
    if (component.starts_with("uni") && resolve_uni_form(component, out)) return true;
    if (component.starts_with('u')) return resolve_u_form(component, out);
    return false;
}

// A style suffix after a font family name, and the face it selects.
struct StyleSuffix {
    std::string_view suffix;
    bool bold;
    bool italic;
};
constexpr StyleSuffix kStyleSuffixes[] = {
    {",Bold", true, false},    {",Italic", false, true},     {",BoldItalic", true, true},
    {"-Bold", true, false},    {"-Italic", false, true},     {"-BoldItalic", true, true},
    {"-BoldMT", true, false},  {"-ItalicMT", false, true},   {"-BoldItalicMT", true, true},
    {"-Oblique", false, true}, {"-BoldOblique", true, true},
};

// A family name and the index of its regular face; `styled` families have the
// four faces regular, italic, bold, bold italic at consecutive indices.
struct FontFamily {
    std::string_view name;
    int regular;
    bool styled;
};
constexpr int kTimes = 0, kHelvetica = 4, kCourier = 8, kSymbol = 12, kZapfDingbats = 13;
// The standard names and the names that common producers write for the same
// metrics: Arial is metric-compatible with Helvetica, Times New Roman with Times
// and Courier New with Courier.
constexpr FontFamily kFontFamilies[] = {
    {"Times-Roman", kTimes, true},       {"Times", kTimes, true},
    {"TimesNewRoman", kTimes, true},     {"TimesNewRomanPS", kTimes, true},
    {"TimesNewRomanPSMT", kTimes, true}, {"Helvetica", kHelvetica, true},
    {"Arial", kHelvetica, true},         {"ArialMT", kHelvetica, true},
    {"Courier", kCourier, true},         {"CourierNew", kCourier, true},
    {"CourierNewPS", kCourier, true},    {"CourierNewPSMT", kCourier, true},
    {"Symbol", kSymbol, false},          {"ZapfDingbats", kZapfDingbats, false},
};

const FontFamily *find_family(std::string_view name) {
    for (const FontFamily &family : kFontFamilies) {
        if (family.name == name) return &family;
    }
    return nullptr;
}

// A subset font's name starts with six upper-case letters and '+'.
std::string_view strip_subset_prefix(std::string_view name) {
    if (name.size() < 7 || name[6] != '+') return name;
    for (size_t i = 0; i < 6; ++i) {
        if (name[i] < 'A' || name[i] > 'Z') return name;
    }
    return name.substr(7);
}

}  // namespace

bool glyph_name_to_unicode(std::string_view name, std::u32string &out) {
    const std::string_view base = name.substr(0, name.find('.'));
    if (base.empty()) return false;
    const size_t mark = out.size();
    size_t start = 0;
    while (true) {
        const size_t end = base.find('_', start);
        const std::string_view component = base.substr(
            start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (!resolve_component(component, out)) {
            out.resize(mark);
            return false;
        }
        if (end == std::string_view::npos) return true;
        start = end + 1;
    }
}

const char *encoding_glyph_name(BaseEncoding enc, unsigned code) {
    const auto row = static_cast<size_t>(enc);
    if (row >= std::size(unicode_encoding_names) || code > 255) return nullptr;
    return unicode_encoding_names[row][code];
}

char32_t pdfdoc_to_unicode(unsigned char code) {
    return unicode_pdfdoc_table[code];
}

char32_t cp1252_to_unicode(unsigned char code) {
    return unicode_cp1252_table[code];
}

// UTF-8 as RFC 3629 defines it: a lead byte gives the length, each continuation
// byte is 10xxxxxx, and the shortest form, the surrogates and values above
// U+10FFFF are enforced through the allowed range of the second byte.
bool utf8_decode(std::string_view bytes, std::u32string &out) {
    out.clear();
    out.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        }
        size_t length;
        char32_t cp;
        unsigned char second_lo = 0x80, second_hi = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            cp = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            cp = lead & 0x0F;
            if (lead == 0xE0) second_lo = 0xA0;  // overlong below U+0800
            if (lead == 0xED) second_hi = 0x9F;  // surrogates U+D800..U+DFFF
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            cp = lead & 0x07;
            if (lead == 0xF0) second_lo = 0x90;  // overlong below U+10000
            if (lead == 0xF4) second_hi = 0x8F;  // above U+10FFFF
        } else {
            return false;  // a continuation byte, an overlong lead C0/C1, or F5..FF
        }
        if (bytes.size() - i < length) return false;
        for (size_t k = 1; k < length; ++k) {
            const auto byte = static_cast<unsigned char>(bytes[i + k]);
            const unsigned char lo = k == 1 ? second_lo : 0x80;
            const unsigned char hi = k == 1 ? second_hi : 0xBF;
            if (byte < lo || byte > hi) return false;
            cp = (cp << 6) | (byte & 0x3F);
        }
        out.push_back(cp);
        i += length;
    }
    return true;
}

void utf8_append(char32_t cp, std::string &out) {
    if (!is_scalar(cp)) cp = kReplacement;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

char32_t unicode_fold(char32_t cp) {
    if (cp < 0x80) return (cp >= 'A' && cp <= 'Z') ? cp + ('a' - 'A') : cp;
    const auto pair = std::ranges::lower_bound(unicode_fold_pairs, cp, {}, &UnicodeFoldPair::from);
    return (pair != unicode_fold_pairs.end() && pair->from == cp) ? pair->to : cp;
}

int std14_font_index(std::string_view base_font) {
    const std::string_view name = strip_subset_prefix(base_font);
    if (const FontFamily *family = find_family(name)) return family->regular;
    for (const StyleSuffix &style : kStyleSuffixes) {
        if (!name.ends_with(style.suffix)) continue;
        const FontFamily *family = find_family(name.substr(0, name.size() - style.suffix.size()));
        if (family == nullptr) continue;
        if (!family->styled) return family->regular;
        return family->regular + (style.bold ? 2 : 0) + (style.italic ? 1 : 0);
    }
    return -1;
}

int std14_glyph_width(int font, std::string_view name) {
    if (font < 0 || font >= static_cast<int>(std::size(unicode_std14_metrics))) return -1;
    const UnicodeStd14Metrics &metrics = unicode_std14_metrics[font];
    const auto entry = std::ranges::lower_bound(metrics.names, name);
    if (entry == metrics.names.end() || *entry != name) return -1;
    return metrics.widths[static_cast<size_t>(entry - metrics.names.begin())];
}
