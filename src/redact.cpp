// Content redaction: decoding text strings into positioned glyphs, blanking the
// glyphs to redact in place, and the one-pass rewriting of a content stream
// with its painted boxes.
//
// Positions are text-space translations plus advances scaled by the font
// size; no graphics state, font resource or matrix is read. A redacted glyph
// keeps its place and its bytes become a space, so the content keeps its length.
#include "redact.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

void add_glyph(GlyphList &list, unsigned char code, int32_t start, int32_t end, bool hex,
               double *x, double y, double font_size, const uint16_t *widths) {
    Glyph glyph;
    glyph.code = code;
    glyph.src_start = start;
    glyph.src_end = end;
    glyph.is_hex = hex ? 1 : 0;
    glyph.x = *x;
    glyph.y = y;
    glyph.advance = glyph_width(widths, code) * font_size;
    *x += glyph.advance;
    if (list.capacity() == 0) list.reserve(64);
    list.push_back(glyph);
}

bool is_number_start(unsigned char c) { return c == '+' || c == '-' || c == '.' || is_digit(c); }

}  // namespace

int32_t parse_literal_glyphs(const unsigned char *content, int32_t len, int32_t pos, double *x,
                             double y, double font_size, const uint16_t *widths, GlyphList &list) {
    if (pos + 1 >= len) return pos + 1;
    int32_t depth = 1;
    int32_t i = pos + 1;
    while (i < len) {
        const unsigned char c = content[i];
        if (c == '(') {
            ++depth;
            ++i;
            continue;
        }
        if (c == ')') {
            if (--depth == 0) return i + 1;
            ++i;
            continue;
        }
        if (c != '\\') {
            add_glyph(list, c, i, i + 1, false, x, y, font_size, widths);
            ++i;
            continue;
        }
        // An escape (PDF reference 7.3.4.2): the glyph covers the whole escape.
        if (i + 1 >= len) return i;
        const int32_t start = i;
        const unsigned char e = content[i + 1];
        unsigned int code = e;
        i += 2;
        switch (e) {
            case 'n': code = 10; break;
            case 'r': code = 13; break;
            case 't': code = 9; break;
            case 'b': code = 8; break;
            case 'f': code = 12; break;
            case '\n': continue;  // line continuation
            case '\r':
                if (i < len && content[i] == '\n') ++i;
                continue;
            default:
                if (e >= '0' && e <= '7') {
                    code = e - '0';
                    for (int digits = 1; digits < 3 && i < len && content[i] >= '0' &&
                                         content[i] <= '7';
                         ++digits, ++i)
                        code = code * 8 + (content[i] - '0');
                    code &= 0xFF;
                }
                break;
        }
        if (code == 0) continue;  // an escaped NUL shows nothing
        add_glyph(list, static_cast<unsigned char>(code), start, i, false, x, y, font_size,
                  widths);
    }
    return len;
}

int32_t parse_hex_glyphs(const unsigned char *content, int32_t len, int32_t pos, double *x,
                         double y, double font_size, const uint16_t *widths, GlyphList &list) {
    int pending = -1;
    int32_t pending_pos = 0;
    for (int32_t i = pos + 1; i < len; ++i) {
        const unsigned char c = content[i];
        if (c == '>') {
            if (pending >= 0)
                add_glyph(list, static_cast<unsigned char>(pending * 16), pending_pos, i, true, x,
                          y, font_size, widths);
            return i + 1;
        }
        const int v = hex_digit_value(c);
        if (v < 0) continue;  // white space and junk between digits are ignored
        if (pending < 0) {
            pending = v;
            pending_pos = i;
        } else {
            add_glyph(list, static_cast<unsigned char>(pending * 16 + v), pending_pos, i + 1, true,
                      x, y, font_size, widths);
            pending = -1;
        }
    }
    if (pending >= 0)
        add_glyph(list, static_cast<unsigned char>(pending * 16), pending_pos, len, true, x, y,
                  font_size, widths);
    return len;
}

void redact_glyph(unsigned char *content, const Glyph &glyph) {
    if (!glyph.is_hex) {
        std::memset(content + glyph.src_start, ' ', static_cast<size_t>(glyph.src_end - glyph.src_start));
        return;
    }
    // The glyph's first digit becomes '2' and its second '0' (code 0x20, a
    // space). Bytes between the two digits stay as they are, so no new digit
    // pair can appear; a lone final digit already reads as "20".
    content[glyph.src_start] = '2';
    const int32_t last = glyph.src_end - 1;
    if (last > glyph.src_start && hex_digit_value(content[last]) >= 0) content[last] = '0';
}

bool region_on_page(const Region &region, int page) {
    // Compared in double: a NaN or huge page never converts to an int here.
    return std::trunc(static_cast<double>(region.page)) == static_cast<double>(page);
}

int process_glyphs(unsigned char *content, GlyphList &list, const char *search,
                   int32_t search_len, double font_size, BoxList &boxes, const Region *regions,
                   int region_count, int page, int *match_counter) {
    int blanked = 0;
    const size_t count = list.size();
    const size_t n = search_len > 0 ? static_cast<size_t>(search_len) : 0;
    if (search != nullptr && n > 0 && count >= n) {
        size_t i = 0;
        while (i + n <= count) {
            size_t k = 0;
            while (k < n && ascii_lower(list[i + k].code) ==
                                ascii_lower(static_cast<unsigned char>(search[k])))
                ++k;
            if (k < n) {
                ++i;
                continue;
            }
            for (k = 0; k < n; ++k) redact_glyph(content, list[i + k]);
            blanked += static_cast<int>(n);
            const Glyph &first = list[i];
            const Glyph &last = list[i + n - 1];
            double w = (last.x + last.advance - first.x) + 2;
            if (w < 1) w = 1;
            double h = 1.15 * font_size + 2;
            if (h < 1) h = 1;
            boxes.push_back({static_cast<float>(first.x - 1),
                             static_cast<float>(first.y - 0.25 * font_size - 1),
                             static_cast<float>(w), static_cast<float>(h)});
            if (match_counter != nullptr) ++*match_counter;
            i += n;  // matches never overlap
        }
    }
    if (regions != nullptr && region_count > 0) {
        for (const Glyph &glyph : list) {
            for (int r = 0; r < region_count; ++r) {
                const Region &region = regions[r];
                if (!region_on_page(region, page)) continue;
                // The rectangle widened by 1 unit sideways and 2 vertically.
                const float x_lo = region.x - 1.0f;
                const float x_hi = (region.x + region.width) + 1.0f;
                const float y_lo = region.y - 2.0f;
                const float y_hi = (region.y + region.height) + 2.0f;
                if (glyph.x >= x_lo && glyph.x <= x_hi && glyph.y >= y_lo && glyph.y <= y_hi) {
                    redact_glyph(content, glyph);
                    ++blanked;
                    break;
                }
            }
        }
    }
    return blanked;
}

namespace {

// The state of one content stream walk: only the text position.
struct TextCursor {
    double cur_x = 0;
    double line_x = 0;
    double cur_y = 0;
    double leading = 0;
    double font_size = 10.0;
    const uint16_t *widths = nullptr;
    double operands[32] = {};
    int operand_count = 0;
};

// A marked-content span (BMC or BDC ... EMC) and the inline property list
// that opened it, if any.
struct MarkedSpan {
    int32_t dict_start;
    int32_t dict_end;  // -1 when the span has no inline property list
};

// Blanks every glyph of the string (literal or hex) that starts at `pos`.
void blank_whole_string(unsigned char *content, int32_t len, int32_t pos, GlyphList &scratch) {
    scratch.clear();
    double x = 0;
    if (content[pos] == '(')
        parse_literal_glyphs(content, len, pos, &x, 0, 0, nullptr, scratch);
    else
        parse_hex_glyphs(content, len, pos, &x, 0, 0, nullptr, scratch);
    for (const Glyph &glyph : scratch) redact_glyph(content, glyph);
}

// Blanks the occurrences of the search text in one decoded string, read as
// bytes and, when it starts with the UTF-16BE byte order mark, as UTF-16BE
// code units. Returns the number of glyphs blanked.
int blank_string_matches(unsigned char *content, const GlyphList &list, const char *search,
                         size_t n) {
    int blanked = 0;
    const size_t count = list.size();
    auto same = [&](unsigned char code, size_t k) {
        return ascii_lower(code) == ascii_lower(static_cast<unsigned char>(search[k]));
    };
    for (size_t i = 0; i + n <= count;) {
        size_t k = 0;
        while (k < n && same(list[i + k].code, k)) ++k;
        if (k < n) {
            ++i;
            continue;
        }
        for (k = 0; k < n; ++k) redact_glyph(content, list[i + k]);
        blanked += static_cast<int>(n);
        i += n;
    }
    if (count >= 2 && list[0].code == 0xFE && list[1].code == 0xFF) {
        for (size_t i = 2; i + 2 * n <= count;) {
            size_t k = 0;
            while (k < n && list[i + 2 * k].code == 0 && same(list[i + 2 * k + 1].code, k)) ++k;
            if (k < n) {
                i += 2;
                continue;
            }
            for (k = 0; k < 2 * n; ++k) redact_glyph(content, list[i + k]);
            blanked += static_cast<int>(2 * n);
            i += 2 * n;
        }
    }
    return blanked;
}

// In text mode, the strings of an inline dictionary (a marked-content
// property list with /ActualText, /Alt or /E) are text that readers extract:
// blank the occurrences of the search text in them too. Returns the number of
// glyphs blanked.
int blank_dict_strings(unsigned char *content, int32_t start, int32_t end, const char *search,
                       size_t n, GlyphList &scratch) {
    int blanked = 0;
    int32_t i = start;
    while (i < end) {
        const unsigned char c = content[i];
        if (c == '<' && i + 1 < end && content[i + 1] == '<') {
            i += 2;
            continue;
        }
        if (c != '(' && c != '<') {
            ++i;
            continue;
        }
        scratch.clear();
        double x = 0;
        const int32_t after = c == '('
                                  ? parse_literal_glyphs(content, end, i, &x, 0, 0, nullptr, scratch)
                                  : parse_hex_glyphs(content, end, i, &x, 0, 0, nullptr, scratch);
        blanked += blank_string_matches(content, scratch, search, n);
        i = after > i ? after : i + 1;
    }
    return blanked;
}

// Blanks whole the /ActualText, /Alt and /E strings of the property list in
// [start, end): they describe glyphs that were just redacted.
bool blank_alternate_text(unsigned char *content, int32_t start, int32_t end,
                          GlyphList &scratch) {
    static const char *const kKeys[] = {"ActualText", "Alt", "E"};
    bool changed = false;
    for (const char *key : kKeys) {
        const int32_t key_len = static_cast<int32_t>(std::strlen(key));
        for (int32_t at = find_name(content, end, start, end, key); at >= 0;
             at = find_name(content, end, at + 1, end, key)) {
            const int32_t v = skip_pdf_ws(content, end, at + 1 + key_len);
            if (v >= end) continue;
            if (content[v] == '(' || (content[v] == '<' && !(v + 1 < end && content[v + 1] == '<'))) {
                blank_whole_string(content, end, v, scratch);
                changed = true;
            }
        }
    }
    return changed;
}

// The text that closes the strings, hex strings, inline dictionaries and
// arrays opened from `start` on and still open at the end of the content, so
// that the painted block that follows is read as operators. It starts with a
// newline, which also ends a trailing comment and turns a dangling backslash
// into a line continuation.
std::string closing_text(const unsigned char *content, int32_t len, int32_t start) {
    struct Open {
        char kind;  // '(' literal string, '<' hex string, 'd' dictionary, '[' array
        int64_t depth;
    };
    std::vector<Open> open;
    for (int32_t i = start; i < len;) {
        const unsigned char c = content[i];
        if (!open.empty() && open.back().kind == '(') {
            if (c == '\\') {
                i += 2;
                continue;
            }
            if (c == '(') ++open.back().depth;
            if (c == ')' && --open.back().depth == 0) open.pop_back();
        } else if (!open.empty() && open.back().kind == '<') {
            if (c == '>') open.pop_back();
        } else if (c == '%') {
            i = comment_end(content, len, i);
            continue;
        } else if (c == '(') {
            open.push_back({'(', 1});
        } else if (c == '<') {
            if (i + 1 < len && content[i + 1] == '<') {
                open.push_back({'d', 0});
                ++i;
            } else {
                open.push_back({'<', 0});
            }
        } else if (c == '>' && i + 1 < len && content[i + 1] == '>' && !open.empty() &&
                   open.back().kind == 'd') {
            open.pop_back();
            ++i;
        } else if (c == '[') {
            open.push_back({'[', 0});
        } else if (c == ']' && !open.empty() && open.back().kind == '[') {
            open.pop_back();
        }
        ++i;
    }
    if (open.empty()) return {};
    std::string text = "\n";
    for (auto it = open.rbegin(); it != open.rend(); ++it) {
        switch (it->kind) {
            case '(': text.append(static_cast<size_t>(it->depth), ')'); break;
            case '<': text += '>'; break;
            case 'd': text += ">>"; break;
            default: text += ']'; break;
        }
    }
    return text;
}

// Offset just past the "EI" that ends the inline image whose data follows
// the ID operator ending at `data_start`, or -1. The first "EI" followed by
// white space or the end is taken, whatever precedes it: ending the image
// too early can only make more bytes read as text, never fewer.
int32_t inline_image_end(const unsigned char *content, int32_t len, int32_t data_start) {
    auto is_white = [](unsigned char c) { return is_pdf_ws(c) || is_space_char(c); };
    for (int64_t m = static_cast<int64_t>(data_start) + 1; m + 1 < len; ++m) {
        const void *hit = std::memchr(content + m, 'E', static_cast<size_t>(len - 1 - m));
        if (hit == nullptr) return -1;
        m = static_cast<const unsigned char *>(hit) - content;
        if (content[m + 1] == 'I' && (m + 2 == len || is_white(content[m + 2])))
            return static_cast<int32_t>(m + 2);
    }
    return -1;
}

// A box coordinate as printed: finite, and within a range any page can use.
double printable(double v) {
    constexpr double kLimit = 1e9;
    if (std::isnan(v)) return 0;
    return v < -kLimit ? -kLimit : v > kLimit ? kLimit : v;
}

void append_box(Buf &out, const RedactBox &box) {
    double x = box.x, y = box.y, w = box.w, h = box.h;
    // Clamp the edges, not the sizes, so that a huge box still covers what it
    // covered within the printable range.
    const double x0 = printable(x), y0 = printable(y);
    const double x1 = printable(x + w), y1 = printable(y + h);
    if (x0 != x || y0 != y || x1 != x + w || y1 != y + h) {
        x = x0;
        y = y0;
        w = x1 - x0;
        h = y1 - y0;
    }
    char line[128];
    std::snprintf(line, sizeof line, "%.2f %.2f %.2f %.2f re f\n", x, y, w, h);
    buf_str(out, line);
}

float colour_component(int value) {
    const float c = static_cast<float>(value) / 255.0f;
    return c < 0.0f ? 0.0f : c > 1.0f ? 1.0f : c;
}

}  // namespace

void redact_page_content(unsigned char *content, int32_t len, Buf &out, const char *search,
                         const Region *regions, int region_count, int page, int red, int green,
                         int blue, int *painted, int *match_counter) {
    TextCursor tc;
    BoxList boxes;
    GlyphList glyphs;
    GlyphList scratch;
    std::vector<MarkedSpan> spans;
    size_t spans_blanked = 0;  // the open spans below this depth are already blanked
    const size_t search_len = search != nullptr ? std::strlen(search) : 0;
    const int32_t search_n = static_cast<int32_t>(search_len > INT32_MAX ? INT32_MAX : search_len);
    bool changed = false;      // content edited outside the glyphs that paint boxes
    bool in_text = false;      // between BT and ET
    int32_t open_tail = -1;    // start of the first construct that may run to the end
    int32_t last_dict = -1, last_dict_end = -1;  // the inline dictionary before the operator
    bool after_bi = false;     // the previous keyword was BI
    bool image_open = false;   // an inline image whose EI never comes
    int32_t no_ei_from = -1;   // no inline image end lies at or after this offset

    // Scans of inline dictionaries that never close each run to the end of the
    // content; past this budget later ones are stepped into unscanned, so that
    // hostile content stays linear.
    int64_t dict_scan_budget = 4 * static_cast<int64_t>(len) + (1 << 20);

    auto note_open = [&](int32_t start) {
        if (open_tail < 0 || start < open_tail) open_tail = start;
    };

    // Blanks glyphs of the current unit and the alternate text of every open
    // marked-content span that holds them.
    auto finish_unit = [&](double font_size) {
        const int hits = process_glyphs(content, glyphs, search, search_n, font_size, boxes,
                                        regions, region_count, page, match_counter);
        glyphs.clear();
        if (hits == 0) return;
        // Every open span holds the glyphs; each is blanked once.
        for (; spans_blanked < spans.size(); ++spans_blanked) {
            const MarkedSpan &span = spans[spans_blanked];
            if (span.dict_end >= 0 &&
                blank_alternate_text(content, span.dict_start, span.dict_end, scratch))
                changed = true;
        }
    };
    // Skips the inline dictionary at `p` and returns the offset past it; in
    // text mode its strings are searched. One that is never closed is
    // stepped into instead, so that nothing after it escapes the walk.
    auto inline_dict = [&](int32_t p) -> int32_t {
        const int32_t end = dict_scan_budget > 0 ? skip_content_dict(content, len, p) : -1;
        if (dict_scan_budget > 0 && search_len > 0 &&
            blank_dict_strings(content, p, end < 0 ? len : end, search, search_len, scratch) > 0)
            changed = true;
        if (end >= 0) return end;
        dict_scan_budget -= 2 * static_cast<int64_t>(len - p);
        note_open(p);
        return p + 2;
    };

    int32_t p = 0;
    while (p < len) {
        const unsigned char b = content[p];
        if (is_space_char(b) || b == 0 || b == ')' || b == '>' || b == ']' || b == '}') {
            ++p;
        } else if (b == '%') {
            p = comment_end(content, len, p);
            if (p >= len) break;
        } else if (b == '(' || (b == '<' && !(p + 1 < len && content[p + 1] == '<'))) {
            const double start_x = tc.cur_x;
            const int32_t end =
                b == '(' ? parse_literal_glyphs(content, len, p, &tc.cur_x, tc.cur_y, tc.font_size,
                                                tc.widths, glyphs)
                         : parse_hex_glyphs(content, len, p, &tc.cur_x, tc.cur_y, tc.font_size,
                                            tc.widths, glyphs);
            // A string shown by ' or " goes to the start of the next line
            // first: move its glyphs there before they are tested.
            int32_t next = end;
            while (next < len && is_space_char(content[next])) ++next;
            if (next < len && (content[next] == '\'' || content[next] == '"')) {
                const double dx = tc.line_x - start_x;
                for (Glyph &g : glyphs) {
                    g.x += dx;
                    g.y -= tc.leading;
                }
                tc.cur_x += dx;
                tc.cur_y -= tc.leading;
            }
            finish_unit(tc.font_size);
            if (end >= len - 1) note_open(p);
            p = end;
        } else if (b == '<') {
            const int32_t end = inline_dict(p);
            if (end > p + 2) {
                last_dict = p;
                last_dict_end = end;
            }
            p = end;
        } else if (b == '[') {
            // All strings of one array share one glyph list, so a match may
            // cross from one string into the next; numbers move the cursor.
            const int32_t start = p++;
            bool closed = false;
            while (p < len) {
                const unsigned char c = content[p];
                if (is_space_char(c)) {
                    ++p;
                } else if (c == '%') {
                    p = comment_end(content, len, p);
                } else if (c == ']') {
                    ++p;
                    closed = true;
                    break;
                } else if (c == '(') {
                    p = parse_literal_glyphs(content, len, p, &tc.cur_x, tc.cur_y, tc.font_size,
                                             tc.widths, glyphs);
                } else if (c == '<' && p + 1 < len && content[p + 1] == '<') {
                    p = inline_dict(p);
                } else if (c == '<') {
                    p = parse_hex_glyphs(content, len, p, &tc.cur_x, tc.cur_y, tc.font_size,
                                         tc.widths, glyphs);
                } else if (is_number_start(c)) {
                    int32_t q = p;
                    const double v = parse_double_at(content, len, &q);
                    tc.cur_x -= v / 1000 * tc.font_size;
                    p = q > p ? q : p + 1;
                } else {
                    ++p;
                }
            }
            finish_unit(tc.font_size);
            if (!closed) note_open(start);
        } else if (is_number_start(b)) {
            int32_t q = p;
            const double v = parse_double_at(content, len, &q);
            if (tc.operand_count < 32)
                tc.operands[tc.operand_count++] = v;
            else
                tc.operand_count = 0;
            p = q > p ? q : p + 1;
        } else if (b == '/') {
            char name[64];
            int32_t q = p + 1;
            while (q < len && q - (p + 1) < 63 && !is_space_char(content[q]) &&
                   !is_delimiter(content[q]))
                ++q;
            const size_t n = static_cast<size_t>(q - (p + 1));
            std::memcpy(name, content + p + 1, n);
            name[n] = '\0';
            tc.widths = select_width_table(name);
            p = q;
        } else if (b == '\'' || b == '"' || b == '*') {
            tc.operand_count = 0;
            ++p;
        } else if (is_alpha(b)) {
            int32_t q = p;
            while (q < len && q - p < 15 && is_alpha(content[q])) ++q;
            char kw[16];
            size_t n = static_cast<size_t>(q - p);
            std::memcpy(kw, content + p, n);
            if (n == 1 && kw[0] == 'T' && q < len && content[q] == '*') {
                kw[n++] = '*';
                ++q;
            }
            kw[n] = '\0';
            // A run of more than 15 letters is split; its pieces are not words.
            const bool whole_word = p == 0 || !is_alpha(content[p - 1]);
            const bool is_bi = whole_word && std::strcmp(kw, "BI") == 0;
            const int count = tc.operand_count;
            const double a = count >= 1 ? tc.operands[count - 1] : 0;
            const double bb = count >= 2 ? tc.operands[count - 2] : 0;
            if (std::strcmp(kw, "BT") == 0) {
                tc.cur_x = tc.line_x = tc.cur_y = tc.leading = 0;
                in_text = true;
            } else if (std::strcmp(kw, "ET") == 0) {
                in_text = false;
            } else if (std::strcmp(kw, "Tf") == 0) {
                tc.font_size = count >= 1 && a > 0.1 ? a : 10.0;
            } else if (std::strcmp(kw, "Td") == 0 || std::strcmp(kw, "TD") == 0) {
                tc.line_x += bb;
                tc.cur_x = tc.line_x;
                tc.cur_y += a;
                if (kw[1] == 'D') tc.leading = -a;
            } else if (std::strcmp(kw, "Tm") == 0) {
                if (count >= 6) {
                    tc.line_x = tc.cur_x = bb;
                    tc.cur_y = a;
                }
            } else if (std::strcmp(kw, "T*") == 0) {
                tc.cur_x = tc.line_x;
                tc.cur_y -= tc.leading;
            } else if (std::strcmp(kw, "TL") == 0) {
                tc.leading = a;
            } else if (std::strcmp(kw, "ID") == 0 && after_bi && whole_word) {
                // Inline image data is binary: never read it as text. Without
                // an end the bytes are read as content, and no later search
                // can succeed either.
                const int32_t end = no_ei_from >= 0 && q >= no_ei_from
                                        ? -1
                                        : inline_image_end(content, len, q);
                if (end >= 0) {
                    q = end;
                } else {
                    image_open = true;
                    no_ei_from = q;
                }
            } else if (std::strcmp(kw, "BDC") == 0) {
                spans.push_back({last_dict, last_dict >= 0 ? last_dict_end : -1});
            } else if (std::strcmp(kw, "BMC") == 0) {
                spans.push_back({-1, -1});
            } else if (std::strcmp(kw, "EMC") == 0) {
                if (!spans.empty()) spans.pop_back();
                if (spans_blanked > spans.size()) spans_blanked = spans.size();
            }
            tc.operand_count = 0;
            last_dict = last_dict_end = -1;
            after_bi = is_bi;
            p = q;
        } else {
            ++p;
        }
    }

    if (regions != nullptr) {
        for (int r = 0; r < region_count; ++r) {
            const Region &region = regions[r];
            if (region_on_page(region, page))
                boxes.push_back({region.x, region.y, region.width, region.height});
        }
    }
    if (len > 0) buf_append(out, content, static_cast<uint64_t>(len));
    if (boxes.empty()) {
        if (changed) *painted = 1;
        return;
    }
    // Whatever state the content ends in, the block must be read as operators.
    std::string closers = open_tail >= 0 ? closing_text(content, len, open_tail) : std::string();
    if (image_open) closers += "\nEI";
    if (in_text) closers += "\nET";
    buf_str(out, closers.c_str());
    buf_str(out, "\nq\n");
    char line[128];
    std::snprintf(line, sizeof line, "%.4f %.4f %.4f rg\n",
                  static_cast<double>(colour_component(red)),
                  static_cast<double>(colour_component(green)),
                  static_cast<double>(colour_component(blue)));
    buf_str(out, line);
    for (const RedactBox &box : boxes) append_box(out, box);
    buf_str(out, "Q\n");
    *painted = 1;
}
