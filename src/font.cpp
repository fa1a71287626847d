// Fonts read from font dictionaries (PDF reference 9.5 to 9.10): code
// lengths, widths, and codes to Unicode in the order readers use (9.10.2):
// ToUnicode first, then for simple fonts the encoding's glyph names, then the
// embedded font program's own encoding.
#include "font.h"

#include <algorithm>
#include <cmath>

#include "fontfile.h"
#include "font_metrics.h"
#include "unicode.h"

namespace {

constexpr int kMaxUseCMapDepth = 8;  // CMaps that name a parent with usecmap

// ---- Reading the dictionary --------------------------------------------------------

std::string stream_bytes(const Doc &doc, const PdfObj *value) {
    if (value == nullptr || value->kind != ObjKind::kRef) return {};
    std::string data;
    bool missing = false;
    doc_stream_data(doc, static_cast<int32_t>(value->num), "a font stream", data, &missing);
    return data;
}

// A CMap stream, with the parents its usecmap names when they are streams too.
bool read_cmap_stream(const Doc &doc, const PdfObj *value, CMap &out) {
    const std::string data = stream_bytes(doc, value);
    if (data.empty()) return false;
    if (!cmap_parse(reinterpret_cast<const unsigned char *>(data.data()), data.size(), out))
        return false;
    // A /UseCMap entry of the stream's dictionary names a parent stream.
    PdfObj dict = doc_resolve(doc, *value);
    for (int depth = 0; depth < kMaxUseCMapDepth; ++depth) {
        const PdfObj *use = pdfobj_get(dict, "UseCMap");
        if (use == nullptr || use->kind != ObjKind::kRef) break;
        CMap parent;
        const std::string pdata = stream_bytes(doc, use);
        if (pdata.empty() ||
            !cmap_parse(reinterpret_cast<const unsigned char *>(pdata.data()), pdata.size(), parent))
            break;
        cmap_merge_parent(out, parent);
        dict = doc_resolve(doc, *use);
    }
    return true;
}

// The identity CMap: two-byte codes, CID = code.
CMap identity_cmap() {
    CMap c;
    c.codespace.push_back({2, {0, 0, 0, 0}, {0xFF, 0xFF, 0, 0}});
    c.cid.push_back({0, 0xFFFF, 0, 0});
    return c;
}

bool is_identity_name(const std::string &name) { return name == "Identity-H" || name == "Identity-V"; }

// Predefined CMaps whose codes are UCS-2 or UTF-16 code units: their codes
// are the text itself.
bool is_unicode_cmap_name(const std::string &name) {
    return name.find("UCS2") != std::string::npos || name.find("UTF16") != std::string::npos;
}

void read_descriptor(const Doc &doc, const PdfObj &font_dict, Font &f, double scale,
                     PdfObj *descriptor_out) {
    PdfObj fd = doc_get(doc, font_dict, "FontDescriptor");
    const double ascent = pdfobj_number(pdfobj_get(fd, "Ascent"), 0) * scale;
    const double descent = pdfobj_number(pdfobj_get(fd, "Descent"), 0) * scale;
    // Both zero or missing (or nonsense): the usual proportions of a text face.
    if ((ascent != 0 || descent != 0) && ascent > descent && ascent - descent < 10) {
        f.ascent = ascent;
        f.descent = descent;
    }
    if (descriptor_out != nullptr) *descriptor_out = std::move(fd);
}

// ---- Simple fonts ----------------------------------------------------------------

struct SimpleNames {
    std::string names[256];
    bool named[256] = {};
};

void set_base_encoding(SimpleNames &sn, BaseEncoding enc) {
    for (unsigned c = 0; c < 256; ++c) {
        const char *name = encoding_glyph_name(enc, c);
        sn.names[c] = name != nullptr ? name : "";
        sn.named[c] = name != nullptr;
    }
}

bool base_encoding_named(const std::string &name, BaseEncoding *out) {
    if (name == "WinAnsiEncoding") *out = BaseEncoding::kWinAnsi;
    else if (name == "MacRomanEncoding") *out = BaseEncoding::kMacRoman;
    else if (name == "StandardEncoding") *out = BaseEncoding::kStandard;
    else if (name == "PDFDocEncoding") *out = BaseEncoding::kPdfDoc;
    else return false;
    return true;
}

// The font program's own encoding, when the font says nothing else: a
// Type 1 program's /Encoding, a TrueType program's cmap (codes to glyphs,
// glyphs back to Unicode). Fills `text` for the codes it can read.
bool program_encoding(const Doc &doc, const PdfObj &descriptor, SimpleNames &sn,
                      std::u32string text[256], bool have_text[256]) {
    const std::string type1 = stream_bytes(doc, pdfobj_get(descriptor, "FontFile"));
    if (!type1.empty()) {
        bool standard = false;
        if (type1_builtin_encoding(reinterpret_cast<const unsigned char *>(type1.data()), type1.size(),
                                   sn.names, &standard)) {
            if (standard) {
                set_base_encoding(sn, BaseEncoding::kStandard);
            } else {
                for (int c = 0; c < 256; ++c) sn.named[c] = !sn.names[c].empty();
            }
            return true;
        }
    }
    const std::string tt = stream_bytes(doc, pdfobj_get(descriptor, "FontFile2"));
    if (tt.empty()) return false;
    TrueTypeCmap cmap;
    if (!truetype_read_cmap(reinterpret_cast<const unsigned char *>(tt.data()), tt.size(), cmap))
        return false;
    const auto gid_uni = truetype_gid_to_unicode(cmap);
    auto lookup = [](const std::vector<std::pair<uint32_t, uint32_t>> &v, uint32_t key, uint32_t *out) {
        auto it = std::lower_bound(v.begin(), v.end(), std::make_pair(key, uint32_t{0}));
        if (it == v.end() || it->first != key) return false;
        *out = it->second;
        return true;
    };
    bool any = false;
    for (uint32_t c = 0; c < 256; ++c) {
        uint32_t gid = 0, uni = 0;
        if (!lookup(cmap.symbol_to_gid, 0xF000 + c, &gid) && !lookup(cmap.symbol_to_gid, c, &gid) &&
            !lookup(cmap.mac_to_gid, c, &gid) && !lookup(cmap.unicode_to_gid, c, &gid))
            continue;
        if (!lookup(gid_uni, gid, &uni)) continue;
        text[c] = std::u32string(1, static_cast<char32_t>(uni));
        have_text[c] = true;
        any = true;
    }
    return any;
}

void apply_differences(const PdfObj *diffs, SimpleNames &sn) {
    if (diffs == nullptr || diffs->kind != ObjKind::kArray) return;
    int64_t code = -1;
    for (const PdfObj &item : diffs->items) {
        if (item.kind == ObjKind::kNumber) {
            // Codes past 255 name nothing; the cap keeps the conversion defined.
            code = item.num >= 0 && item.num < 65536 ? static_cast<int64_t>(item.num) : -1;
        } else if (item.kind == ObjKind::kName && code >= 0) {
            if (code < 256) {
                sn.names[code] = item.str;
                sn.named[code] = true;
            }
            ++code;
        }  // junk is skipped
    }
}

void load_simple(const Doc &doc, const PdfObj &dict, Font &f, bool type3) {
    const std::string base = pdfobj_get(dict, "BaseFont") != nullptr ? pdfobj_get(dict, "BaseFont")->str : "";
    const int std14 = std14_font_index(base);
    double scale = 0.001;  // glyph space to text space
    if (type3) {
        f.kind = FontKind::kType3;
        const PdfObj *fm = pdfobj_get(dict, "FontMatrix");
        if (fm != nullptr && fm->kind == ObjKind::kArray && fm->items.size() == 6) {
            const double a = pdfobj_number(&fm->items[0], 0.001);
            const double d = pdfobj_number(&fm->items[3], 0.001);
            if (a != 0 && std::fabs(a) < 1e3) scale = a;
            if (d != 0 && std::fabs(d) < 1e3) {
                // Type 3 glyph boxes follow the font's own vertical scale.
                f.ascent = 0.9;
                f.descent = -0.25;
            }
        }
    }
    PdfObj descriptor;
    read_descriptor(doc, dict, f, type3 ? scale : 0.001, &descriptor);

    // The encoding: glyph names per code.
    SimpleNames sn;
    std::u32string program_text[256];
    bool have_program_text[256] = {};
    const PdfObj encoding = doc_get(doc, dict, "Encoding");
    BaseEncoding base_enc = BaseEncoding::kStandard;
    const bool symbolic_std = std14 == 12 || std14 == 13;
    bool based = false;
    if (encoding.kind == ObjKind::kName && base_encoding_named(encoding.str, &base_enc)) {
        set_base_encoding(sn, base_enc);
        based = true;
    } else if (encoding.kind == ObjKind::kDict) {
        const PdfObj *be = pdfobj_get(encoding, "BaseEncoding");
        if (be != nullptr && be->kind == ObjKind::kName && base_encoding_named(be->str, &base_enc)) {
            set_base_encoding(sn, base_enc);
            based = true;
        }
    }
    if (!based) {
        // The font's built-in encoding.
        if (symbolic_std) {
            set_base_encoding(sn, std14 == 12 ? BaseEncoding::kSymbol : BaseEncoding::kZapfDingbats);
        } else if (!type3 && program_encoding(doc, descriptor, sn, program_text, have_program_text)) {
            // read from the program
        } else {
            const PdfObj *subtype = pdfobj_get(dict, "Subtype");
            const bool truetype = pdfobj_is_name(subtype, "TrueType");
            set_base_encoding(sn, truetype ? BaseEncoding::kWinAnsi : BaseEncoding::kStandard);
        }
    }
    if (encoding.kind == ObjKind::kDict) apply_differences(pdfobj_get(encoding, "Differences"), sn);

    // Widths.
    const PdfObj widths = doc_get(doc, dict, "Widths");
    const double first = pdfobj_number(pdfobj_get(dict, "FirstChar"), 0);
    const double missing = pdfobj_number(pdfobj_get(descriptor, "MissingWidth"), 0) * scale;
    const uint16_t *table = std14_width_table(std14);
    const bool have_widths = widths.kind == ObjKind::kArray && !widths.items.empty();
    for (int c = 0; c < 256; ++c) {
        double w = 0;
        if (have_widths) {
            const double k = c - first;
            if (k >= 0 && k < static_cast<double>(widths.items.size()))
                w = pdfobj_number(&widths.items[static_cast<size_t>(k)], missing / scale) * scale;
            else
                w = missing;
        } else if (table != nullptr) {
            // A standard font without /Widths: the built-in widths, by the
            // glyph the encoding names at this code.
            const char *win = encoding_glyph_name(symbolic_std ? (std14 == 12 ? BaseEncoding::kSymbol
                                                                              : BaseEncoding::kZapfDingbats)
                                                               : BaseEncoding::kWinAnsi,
                                                  static_cast<unsigned>(c));
            const int afm = sn.named[c] ? std14_glyph_width(std14, sn.names[c]) : -1;
            if (win != nullptr && sn.named[c] && sn.names[c] == win && table[c] > 0)
                w = table[c] / 1000.0;
            else if (afm >= 0)
                w = afm / 1000.0;
            else
                w = glyph_width(table, static_cast<unsigned char>(c));
        } else {
            // Nothing known: the standard table the name suggests, else 0.5 em.
            w = glyph_width(select_width_table(base.c_str()), static_cast<unsigned char>(c));
        }
        f.simple_widths[static_cast<size_t>(c)] = static_cast<float>(std::isfinite(w) ? w : 0);
    }

    // Text per code: the glyph names, or the program's own mapping.
    f.simple_text.clear();
    std::u32string text;
    for (int c = 0; c < 256; ++c) {
        f.simple_text_at[static_cast<size_t>(c)] = static_cast<uint32_t>(f.simple_text.size());
        text.clear();
        if (have_program_text[c]) {
            f.simple_text += program_text[c];
        } else if (sn.named[c] && glyph_name_to_unicode(sn.names[c], text)) {
            f.simple_text += text;
        }
    }
    f.simple_text_at[256] = static_cast<uint32_t>(f.simple_text.size());
    // ToUnicode comes first: where it maps a code, its text takes the place of
    // the encoding's, so that a code's text is one look-up.
    if (f.has_to_unicode) {
        std::u32string merged;
        std::array<uint32_t, 257> at{};
        for (uint32_t c = 0; c < 256; ++c) {
            at[c] = static_cast<uint32_t>(merged.size());
            if (!cmap_to_unicode(f.to_unicode, c, merged))
                merged.append(f.simple_text, f.simple_text_at[c], f.simple_text_at[c + 1] - f.simple_text_at[c]);
        }
        at[256] = static_cast<uint32_t>(merged.size());
        f.simple_text = std::move(merged);
        f.simple_text_at = at;
    }

    // The blank code: the font's own space, else a code it has no glyph for.
    f.blank_bytes = 1;
    std::u32string t;
    auto is_space = [&](uint32_t c) {
        t.clear();
        return font_text(f, c, t) && t == U" ";
    };
    if (is_space(32)) {
        f.blank_code = 32;
        return;
    }
    uint32_t code = 0;
    if (f.has_to_unicode && cmap_code_for_unicode(f.to_unicode, U' ', &code) && code < 256) {
        f.blank_code = code;
        return;
    }
    for (uint32_t c = 0; c < 256; ++c)
        if (is_space(c)) {
            f.blank_code = c;
            return;
        }
    const double last = first + (have_widths ? static_cast<double>(widths.items.size()) - 1 : 255);
    for (uint32_t c = 0; c < 256; ++c) {
        t.clear();
        if ((c < first || c > last) && !font_text(f, c, t)) {
            f.blank_code = c;
            return;
        }
    }
    f.blank_code = 32;
}

// ---- Type0 fonts -----------------------------------------------------------------

// Writes `code` as n big-endian bytes.
void code_bytes_of(uint32_t code, int n, unsigned char *b) {
    for (int k = 0; k < n; ++k) b[k] = static_cast<unsigned char>(code >> (8 * (n - 1 - k)));
}

// With an embedded CMap, the blank code must be a valid code of the
// codespace, or the decoder would join it with the bytes after it and the
// glyphs after a blanked one would change. The chosen code is kept when it is
// valid; else the first valid code that maps to no text and no CID (it draws
// the font's empty glyph), else the first code of the first range.
void choose_codespace_blank(Font &f) {
    unsigned char b[4];
    for (int n = 1; n <= 4; ++n) {
        if (n < 4 && f.blank_code >= (1u << (8 * n))) continue;
        code_bytes_of(f.blank_code, n, b);
        if (cmap_code_is_valid(f.encoding, b, n)) {
            f.blank_bytes = n;
            return;
        }
    }
    bool found_any = false;
    for (const CMapCodespace &range : f.encoding.codespace) {
        const int n = range.len;
        if (n < 1 || n > 4) continue;
        uint32_t lo = 0;
        for (int k = 0; k < n; ++k) lo = (lo << 8) | range.lo[k];
        // A few codes from the low bound up along the last byte.
        for (uint32_t last = range.lo[n - 1]; last <= range.hi[n - 1] && last < range.lo[n - 1] + 256u; ++last) {
            const uint32_t code = (lo & ~0xFFu) | last;
            code_bytes_of(code, n, b);
            if (!cmap_code_is_valid(f.encoding, b, n)) continue;
            std::u32string text;
            uint32_t cid = 0;
            const bool silent = !cmap_to_unicode(f.to_unicode, code, text) &&
                                !cmap_to_cid(f.encoding, code, &cid);
            if (silent || !found_any) {
                f.blank_code = code;
                f.blank_bytes = n;
                found_any = true;
            }
            if (silent) return;
        }
    }
}

void read_cid_widths(const PdfObj &w, Font &f) {
    if (w.kind != ObjKind::kArray) return;
    const std::vector<PdfObj> &items = w.items;
    for (size_t i = 0; i < items.size();) {
        if (items[i].kind != ObjKind::kNumber) {
            ++i;
            continue;
        }
        const double c = items[i].num;
        if (i + 1 < items.size() && items[i + 1].kind == ObjKind::kArray) {
            // c [w1 w2 ...]: consecutive CIDs from c.
            const std::vector<PdfObj> &ws = items[i + 1].items;
            if (c >= 0 && c < 4294967295.0)
                for (size_t k = 0; k < ws.size() && c + static_cast<double>(k) <= 4294967295.0; ++k)
                    f.cid_widths.push_back({static_cast<uint32_t>(c + k), static_cast<uint32_t>(c + k),
                                            static_cast<float>(pdfobj_number(&ws[k], 1000) / 1000)});
            i += 2;
        } else if (i + 2 < items.size() && items[i + 1].kind == ObjKind::kNumber &&
                   items[i + 2].kind == ObjKind::kNumber) {
            // c_first c_last w: one width for the range.
            const double hi = items[i + 1].num;
            if (c >= 0 && hi >= c && hi < 4294967296.0)
                f.cid_widths.push_back({static_cast<uint32_t>(c), static_cast<uint32_t>(hi),
                                        static_cast<float>(pdfobj_number(&items[i + 2], 1000) / 1000)});
            i += 3;
        } else {
            ++i;  // a wrong shape: skip what cannot be read
        }
    }
    // Later entries win where ranges overlap: keep them sorted, the later first.
    std::stable_sort(f.cid_widths.begin(), f.cid_widths.end(),
                     [](const CidWidths &a, const CidWidths &b) { return a.lo < b.lo; });
}

void load_type0(const Doc &doc, const PdfObj &dict, Font &f) {
    f.kind = FontKind::kType0;
    f.code_bytes = 2;
    // The codes: Identity (two bytes, CID = code), a predefined CMap whose
    // codes are UCS-2 or UTF-16 (the codes are the text), or an embedded CMap.
    bool identity = false, embedded = false;
    const PdfObj *enc = pdfobj_get(dict, "Encoding");
    if (enc != nullptr && enc->kind == ObjKind::kName) {
        identity = is_identity_name(enc->str);
        f.codes_are_unicode = is_unicode_cmap_name(enc->str);
        f.vertical = enc->str.size() > 2 && enc->str.compare(enc->str.size() - 2, 2, "-V") == 0;
    } else if (enc != nullptr && enc->kind == ObjKind::kRef && read_cmap_stream(doc, enc, f.encoding)) {
        embedded = true;
        if (is_identity_name(f.encoding.usecmap)) cmap_merge_parent(f.encoding, identity_cmap());
        f.code_bytes = f.encoding.codespace.empty() ? 2 : 0;
        f.vertical = f.encoding.wmode == 1;
    }

    PdfObj cid_font;
    const PdfObj descendants = doc_get(doc, dict, "DescendantFonts");
    if (descendants.kind == ObjKind::kArray && !descendants.items.empty())
        cid_font = doc_resolve(doc, descendants.items[0]);
    f.default_width = static_cast<float>(pdfobj_number(pdfobj_get(cid_font, "DW"), 1000) / 1000);
    read_cid_widths(doc_get(doc, cid_font, "W"), f);
    PdfObj descriptor;
    read_descriptor(doc, cid_font, f, 0.001, &descriptor);


    // Without ToUnicode (read by the caller), a TrueType CIDFont whose CIDs
    // are its glyphs is read through its program's cmap, reversed, as
    // readers do.
    uint32_t glyph_count = 0;
    if (!f.has_to_unicode && !f.codes_are_unicode && (identity || embedded) &&
        pdfobj_is_name(pdfobj_get(cid_font, "Subtype"), "CIDFontType2")) {
        const PdfObj *gidmap = pdfobj_get(cid_font, "CIDToGIDMap");
        const std::string tt = stream_bytes(doc, pdfobj_get(descriptor, "FontFile2"));
        TrueTypeCmap cmap;
        if ((gidmap == nullptr || pdfobj_is_name(gidmap, "Identity")) && !tt.empty() &&
            truetype_read_cmap(reinterpret_cast<const unsigned char *>(tt.data()), tt.size(), cmap)) {
            f.gid_unicode = truetype_gid_to_unicode(cmap);
            glyph_count = cmap.num_glyphs;
        }
    }
    f.unreadable = !f.has_to_unicode && !f.codes_are_unicode && f.gid_unicode.empty();

    // The blank code: the font's own space, else a glyph past its last (or
    // glyph 0, which shows nothing in the fonts readers draw it with).
    f.blank_bytes = 2;
    uint32_t code = 0;
    f.blank_code = 0;
    if (f.has_to_unicode && cmap_code_for_unicode(f.to_unicode, U' ', &code)) {
        f.blank_code = code;
    } else if (f.codes_are_unicode) {
        f.blank_code = 32;
    } else {
        auto space = std::find_if(f.gid_unicode.begin(), f.gid_unicode.end(),
                                  [](const std::pair<uint32_t, uint32_t> &p) { return p.second == U' '; });
        if (space != f.gid_unicode.end())
            f.blank_code = space->first;
        else if (glyph_count > 0 && glyph_count < 0xFFFF)
            f.blank_code = glyph_count;
    }
    if (f.code_bytes == 0) choose_codespace_blank(f);
}

}  // namespace

std::unique_ptr<Font> font_load(const Doc &doc, const PdfObj &dict, std::string_view resource_name) {
    if (dict.kind != ObjKind::kDict) return font_fallback(resource_name);
    auto f = std::make_unique<Font>();
    const PdfObj *base = pdfobj_get(dict, "BaseFont");
    f->name = base != nullptr && base->kind == ObjKind::kName ? base->str : std::string(resource_name);
    const PdfObj *to_unicode = pdfobj_get(dict, "ToUnicode");
    if (to_unicode != nullptr && to_unicode->kind == ObjKind::kRef &&
        read_cmap_stream(doc, to_unicode, f->to_unicode))
        f->has_to_unicode = cmap_has_unicode(f->to_unicode);
    const PdfObj *subtype = pdfobj_get(dict, "Subtype");
    if (pdfobj_is_name(subtype, "Type0"))
        load_type0(doc, dict, *f);
    else
        load_simple(doc, dict, *f, pdfobj_is_name(subtype, "Type3"));
    return f;
}

std::unique_ptr<Font> font_fallback(std::string_view resource_name) {
    auto f = std::make_unique<Font>();
    f->name = std::string(resource_name);
    const std::string name(resource_name);
    const uint16_t *table = select_width_table(name.c_str());
    std::u32string text;
    for (int c = 0; c < 256; ++c) {
        f->simple_widths[static_cast<size_t>(c)] =
            static_cast<float>(glyph_width(table, static_cast<unsigned char>(c)));
        f->simple_text_at[static_cast<size_t>(c)] = static_cast<uint32_t>(f->simple_text.size());
        const char *glyph = encoding_glyph_name(BaseEncoding::kWinAnsi, static_cast<unsigned>(c));
        text.clear();
        if (glyph != nullptr && glyph_name_to_unicode(glyph, text)) f->simple_text += text;
    }
    f->simple_text_at[256] = static_cast<uint32_t>(f->simple_text.size());
    return f;
}

int font_next_code(const Font &font, const unsigned char *bytes, size_t avail, uint32_t *code) {
    int n = 1;
    if (font.kind == FontKind::kType0)
        n = font.code_bytes == 0 ? cmap_code_length(font.encoding, bytes, avail) : font.code_bytes;
    if (n < 1) n = 1;
    if (static_cast<size_t>(n) > avail) n = static_cast<int>(avail);
    uint32_t c = 0;
    for (int k = 0; k < n; ++k) c = (c << 8) | bytes[k];
    *code = c;
    return n;
}

double font_cid_width(const Font &font, uint32_t code) {
    uint32_t cid = code;
    if (font.code_bytes == 0 && !cmap_to_cid(font.encoding, code, &cid)) cid = 0;
    const auto &w = font.cid_widths;
    // The last range that starts at or before the CID and holds it.
    auto it = std::upper_bound(w.begin(), w.end(), cid,
                               [](uint32_t c, const CidWidths &r) { return c < r.lo; });
    for (int look = 0; it != w.begin() && look < 4; ++look) {
        --it;
        if (cid >= it->lo && cid <= it->hi) return it->width;
    }
    return font.default_width;
}

bool font_text(const Font &font, uint32_t code, std::u32string &out) {
    if (font.kind != FontKind::kType0 && code < 256) {
        const uint32_t from = font.simple_text_at[code], to = font.simple_text_at[code + 1];
        if (from == to) return false;
        out.append(font.simple_text, from, to - from);
        return true;
    }
    if (font.has_to_unicode && cmap_to_unicode(font.to_unicode, code, out)) return true;
    if (font.kind != FontKind::kType0) return false;
    if (!font.gid_unicode.empty()) {
        uint32_t cid = code;
        if (font.code_bytes == 0 && !cmap_to_cid(font.encoding, code, &cid)) return false;
        auto it = std::lower_bound(font.gid_unicode.begin(), font.gid_unicode.end(),
                                   std::make_pair(cid, uint32_t{0}));
        if (it == font.gid_unicode.end() || it->first != cid) return false;
        out += static_cast<char32_t>(it->second);
        return true;
    }
    if (font.codes_are_unicode && code != 0 && (code < 0xD800 || code > 0xDFFF)) {
        out += static_cast<char32_t>(code);
        return true;
    }
    return false;
}

const Font *font_cache_get(FontCache &cache, const Doc &doc, const PdfObj *value,
                           std::string_view resource_name) {
    if (value != nullptr && value->kind == ObjKind::kRef) {
        const auto num = static_cast<int32_t>(value->num);
        auto it = cache.by_object.find(num);
        if (it == cache.by_object.end())
            it = cache.by_object.emplace(num, font_load(doc, doc_resolve(doc, *value), resource_name)).first;
        return it->second.get();
    }
    if (value != nullptr && value->kind == ObjKind::kDict) {
        // A font written inline is known by its text.
        std::string key;
        pdfobj_write(*value, key);
        auto it = cache.inline_fonts.find(key);
        if (it == cache.inline_fonts.end())
            it = cache.inline_fonts.emplace(key, font_load(doc, *value, resource_name)).first;
        return it->second.get();
    }
    const std::string key(resource_name);
    auto it = cache.fallbacks.find(key);
    if (it == cache.fallbacks.end()) it = cache.fallbacks.emplace(key, font_fallback(resource_name)).first;
    return it->second.get();
}
