// Readers of embedded font programs: a Type 1 font's cleartext /Encoding
// (as the Adobe Type 1 Font Format lays it out) and a TrueType/OpenType 'cmap' table
// (the OpenType font file format's 'cmap' table: formats 0, 4, 6 and 12).
#include "fontfile.h"

#include <algorithm>
#include <cstdint>

#include "lexer.h"

// ---------------------------------------------------------------------------
// Type 1.

namespace {

// The cleartext part of a Type 1 program, as far as it is read.
struct Type1Text {
    const unsigned char *bytes;
    int32_t end;
};

// The token at or after `at`, comments skipped; a broken hex string is a bad
// byte, as in CMaps.
Token next_token(const Type1Text &text, int32_t at) {
    return lex_next_code(text.bytes, text.end, at, HexRule::kDigitsOnly);
}

bool is_name(const Type1Text &text, const Token &t, const char *name) {
    return t.kind == Tok::kName && lex_name_text(text.bytes, t.start, t.end) == name;
}

void set_glyph_name(std::string names[256], int64_t code, std::string name) {
    if (code < 0 || code > 255) return;
    names[code] = name == ".notdef" ? std::string() : std::move(name);
}

// The "dup <code> /<name> put" lines that fill an encoding array, up to the
// "def" that stores it. Other tokens (the loop that fills the array with
// .notdef, "readonly") are stepped over.
void read_encoding_puts(const Type1Text &text, int32_t pos, std::string names[256]) {
    const unsigned char *bytes = text.bytes;
    // The last three tokens before the current one.
    Token back[3];
    for (;;) {
        const Token t = next_token(text, pos);
        pos = t.end;
        if (t.kind == Tok::kEnd || lex_is(bytes, t, "def") || lex_is(bytes, t, "eexec")) return;
        int64_t code = 0;
        if (lex_is(bytes, t, "put") && lex_is(bytes, back[0], "dup") &&
            lex_integer(bytes, back[1], &code) && back[2].kind == Tok::kName)
            set_glyph_name(names, code, lex_name_text(bytes, back[2].start, back[2].end));
        back[0] = back[1];
        back[1] = back[2];
        back[2] = t;
    }
}

// An encoding written out as an array of names, one per code from 0.
void read_encoding_array(const Type1Text &text, int32_t pos, std::string names[256]) {
    int64_t code = 0;
    for (;;) {
        const Token t = next_token(text, pos);
        pos = t.end;
        if (t.kind == Tok::kEnd || t.kind == Tok::kArrayClose || code > 255 ||
            lex_is(text.bytes, t, "eexec"))
            return;
        if (t.kind == Tok::kName)
            set_glyph_name(names, code++, lex_name_text(text.bytes, t.start, t.end));
    }
}

}  // namespace

bool type1_builtin_encoding(const unsigned char *bytes, size_t len, std::string names[256],
                            bool *standard) {
    for (int i = 0; i < 256; ++i) names[i].clear();
    *standard = false;
    // Token offsets are 32-bit, so at most the first 2 GiB are read; the
    // cleartext part comes first and is a few kilobytes.
    const Type1Text text{bytes, static_cast<int32_t>(std::min<size_t>(len, INT32_MAX))};
    // A PFB file opens with its cleartext segment's header: 0x80 0x01 and a
    // four-byte length whose bytes may be '(' or '%', so it is skipped rather
    // than read as tokens. The cleartext part ends at "eexec", before the
    // next segment's header.
    int32_t pos = text.end >= 6 && bytes[0] == 0x80 && bytes[1] == 0x01 ? 6 : 0;
    for (;;) {
        const Token t = next_token(text, pos);
        pos = t.end;
        if (t.kind == Tok::kEnd || lex_is(bytes, t, "eexec")) return false;
        if (!is_name(text, t, "Encoding")) continue;
        const Token value = next_token(text, pos);
        if (lex_is(bytes, value, "StandardEncoding")) {
            *standard = true;
            return true;
        }
        int64_t size = 0;
        if (lex_integer(bytes, value, &size))
            read_encoding_puts(text, value.end, names);
        else if (value.kind == Tok::kArrayOpen)
            read_encoding_array(text, value.end, names);
        else
            continue;
        for (int i = 0; i < 256; ++i)
            if (!names[i].empty()) return true;
        return false;
    }
}

// ---------------------------------------------------------------------------
// TrueType and OpenType.

namespace {

using CodeGid = std::pair<uint32_t, uint32_t>;

// Every read goes through has(): `n` bytes at `off` lie inside the data.
struct FontData {
    const unsigned char *bytes;
    size_t len;
    bool has(uint64_t off, uint64_t n) const { return off <= len && n <= len - off; }
    uint16_t u16(uint64_t off) const {
        return static_cast<uint16_t>(bytes[off] << 8 | bytes[off + 1]);
    }
    uint32_t u32(uint64_t off) const {
        return uint32_t{bytes[off]} << 24 | uint32_t{bytes[off + 1]} << 16 |
               uint32_t{bytes[off + 2]} << 8 | bytes[off + 3];
    }
};

constexpr uint32_t tag(const char (&t)[5]) {
    return uint32_t{static_cast<unsigned char>(t[0])} << 24 |
           uint32_t{static_cast<unsigned char>(t[1])} << 16 |
           uint32_t{static_cast<unsigned char>(t[2])} << 8 | static_cast<unsigned char>(t[3]);
}

// What a subtable may produce: codes up to max_code, glyphs 1..glyph_end-1.
struct Limits {
    uint32_t max_code;
    uint32_t glyph_end;
};

void add_entry(std::vector<CodeGid> &out, const Limits &limits, uint32_t code, uint32_t gid) {
    if (gid != 0 && gid < limits.glyph_end && code <= limits.max_code) out.emplace_back(code, gid);
}

// Format 0: 256 one-byte glyph ids.
void read_format0(const FontData &f, uint64_t off, const Limits &limits, std::vector<CodeGid> &out) {
    for (uint32_t c = 0; c < 256 && f.has(off + 6 + c, 1); ++c) add_entry(out, limits, c, f.bytes[off + 6 + c]);
}

// Format 4: segments of 16-bit codes, each with a delta and either no glyph
// array (gid = code + delta) or an offset into one.
void read_format4(const FontData &f, uint64_t off, const Limits &limits, std::vector<CodeGid> &out) {
    if (!f.has(off, 14)) return;
    const uint32_t seg_x2 = f.u16(off + 6) & ~1u;
    const uint64_t ends = off + 14, starts = off + 16 + seg_x2, deltas = starts + seg_x2,
                   range_offsets = deltas + seg_x2;
    struct Segment {
        uint32_t start, end;
        uint16_t delta, range_offset;
        uint64_t range_offset_at;
    };
    std::vector<Segment> segments;
    for (uint32_t k = 0; k < seg_x2 / 2 && f.has(range_offsets + 2 * k, 2); ++k) {
        const Segment s{f.u16(starts + 2 * k), f.u16(ends + 2 * k), f.u16(deltas + 2 * k),
                        f.u16(range_offsets + 2 * k), range_offsets + 2 * k};
        if (s.start <= s.end) segments.push_back(s);
    }
    // Segments should come sorted and apart; overlapping ones are cut to the
    // codes that no earlier segment covers, which also bounds the work.
    std::stable_sort(segments.begin(), segments.end(),
                     [](const Segment &a, const Segment &b) { return a.start < b.start; });
    uint32_t next = 0;  // the first code not yet covered
    for (const Segment &s : segments) {
        for (uint32_t c = std::max(s.start, next); c <= s.end && c < 0xFFFF; ++c) {
            uint32_t gid = 0;
            if (s.range_offset == 0) {
                gid = (c + s.delta) & 0xFFFF;
            } else {
                const uint64_t at = s.range_offset_at + s.range_offset + 2 * uint64_t{c - s.start};
                if (!f.has(at, 2)) continue;
                gid = f.u16(at);
                if (gid != 0) gid = (gid + s.delta) & 0xFFFF;
            }
            add_entry(out, limits, c, gid);
        }
        next = std::max(next, s.end + 1);
    }
}

// Format 6: one run of 16-bit codes from firstCode.
void read_format6(const FontData &f, uint64_t off, const Limits &limits, std::vector<CodeGid> &out) {
    if (!f.has(off, 10)) return;
    const uint32_t first = f.u16(off + 6), count = f.u16(off + 8);
    for (uint32_t i = 0; i < count && first + i <= 0xFFFF && f.has(off + 10 + 2 * i, 2); ++i)
        add_entry(out, limits, first + i, f.u16(off + 10 + 2 * i));
}

// Format 12: groups of 32-bit codes mapped to consecutive glyphs.
void read_format12(const FontData &f, uint64_t off, const Limits &limits, std::vector<CodeGid> &out) {
    if (!f.has(off, 16)) return;
    // The claimed group count is cut at the data.
    const uint64_t claimed = f.u32(off + 12);
    const uint64_t groups_at = off + 16;
    const uint64_t count = std::min(claimed, (f.len - groups_at) / 12);
    struct Group {
        uint32_t start, end, gid;
    };
    std::vector<Group> groups;
    groups.reserve(count);
    for (uint64_t k = 0; k < count; ++k) {
        const uint64_t at = groups_at + 12 * k;
        Group g{f.u32(at), std::min(f.u32(at + 4), limits.max_code), f.u32(at + 8)};
        if (g.start <= g.end) groups.push_back(g);
    }
    std::stable_sort(groups.begin(), groups.end(),
                     [](const Group &a, const Group &b) { return a.start < b.start; });
    uint64_t next = 0;  // the first code not yet covered
    for (const Group &g : groups) {
        const uint64_t from = std::max<uint64_t>(g.start, next);
        next = std::max<uint64_t>(next, uint64_t{g.end} + 1);
        if (g.gid >= limits.glyph_end) continue;
        // The codes whose glyph stays below the glyph count.
        const uint64_t last = std::min<uint64_t>(g.end, uint64_t{g.start} + (limits.glyph_end - 1 - g.gid));
        for (uint64_t c = from; c <= last; ++c)
            add_entry(out, limits, static_cast<uint32_t>(c), static_cast<uint32_t>(g.gid + (c - g.start)));
    }
}

void read_subtable(const FontData &f, uint64_t off, const Limits &limits, std::vector<CodeGid> &out) {
    if (!f.has(off, 2)) return;
    switch (f.u16(off)) {
        case 0: read_format0(f, off, limits, out); break;
        case 4: read_format4(f, off, limits, out); break;
        case 6: read_format6(f, off, limits, out); break;
        case 12: read_format12(f, off, limits, out); break;
        default: break;
    }
}

struct Candidate {
    int rank;  // lower is tried first
    uint64_t off;
};

// Fills `out` from the first candidate that yields an entry. At most a few
// distinct subtables are tried, so that a table with thousands of records
// pointing into one large subtable stays linear.
void read_best(const FontData &f, std::vector<Candidate> candidates, const Limits &limits,
               std::vector<CodeGid> &out) {
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate &a, const Candidate &b) { return a.rank < b.rank; });
    constexpr size_t kMaxTries = 4;
    std::vector<uint64_t> tried;
    for (const Candidate &c : candidates) {
        if (tried.size() >= kMaxTries) break;
        if (std::find(tried.begin(), tried.end(), c.off) != tried.end()) continue;
        tried.push_back(c.off);
        read_subtable(f, c.off, limits, out);
        if (!out.empty()) return;
    }
}

}  // namespace

bool truetype_read_cmap(const unsigned char *bytes, size_t len, TrueTypeCmap &out) {
    out = TrueTypeCmap{};
    const FontData f{bytes, len};
    uint64_t dir = 0;
    if (!f.has(0, 12)) return false;
    uint32_t version = f.u32(0);
    if (version == tag("ttcf")) {
        // A collection: the first font's table directory.
        if (!f.has(0, 16) || f.u32(8) == 0) return false;
        dir = f.u32(12);
        if (!f.has(dir, 12)) return false;
        version = f.u32(dir);
    }
    if (version != 0x00010000 && version != tag("true") && version != tag("OTTO") &&
        version != tag("typ1"))
        return false;

    uint64_t cmap_at = 0;
    bool has_cmap = false;
    const uint32_t num_tables = f.u16(dir + 4);
    for (uint32_t i = 0; i < num_tables && f.has(dir + 12 + 16 * uint64_t{i}, 16); ++i) {
        const uint64_t record = dir + 12 + 16 * uint64_t{i};
        const uint32_t table = f.u32(record), table_off = f.u32(record + 8);
        if (table == tag("maxp") && f.has(table_off, 6)) out.num_glyphs = f.u16(table_off + 4);
        if (table == tag("cmap") && !has_cmap && f.has(table_off, 4)) {
            cmap_at = table_off;
            has_cmap = true;
        }
    }
    if (!has_cmap) return false;

    std::vector<Candidate> unicode, symbol, mac;
    const uint32_t num_subtables = f.u16(cmap_at + 2);
    for (uint32_t i = 0; i < num_subtables && f.has(cmap_at + 4 + 8 * uint64_t{i}, 8); ++i) {
        const uint64_t record = cmap_at + 4 + 8 * uint64_t{i};
        const uint16_t platform = f.u16(record), encoding = f.u16(record + 2);
        const uint64_t off = cmap_at + f.u32(record + 4);
        if (platform == 3 && encoding == 10) unicode.push_back({0, off});
        else if (platform == 0 && (encoding == 4 || encoding == 6)) unicode.push_back({1, off});
        else if (platform == 3 && encoding == 1) unicode.push_back({2, off});
        else if (platform == 0 && encoding != 5) unicode.push_back({3, off});  // 5: variation sequences
        else if (platform == 3 && encoding == 0) symbol.push_back({0, off});
        else if (platform == 1 && encoding == 0) mac.push_back({0, off});
    }
    const uint32_t glyph_end = out.num_glyphs > 0 ? out.num_glyphs : 0x10000;
    read_best(f, unicode, {0x10FFFF, glyph_end}, out.unicode_to_gid);
    read_best(f, symbol, {0x10FFFF, glyph_end}, out.symbol_to_gid);
    read_best(f, mac, {0xFF, glyph_end}, out.mac_to_gid);
    return !out.unicode_to_gid.empty() || !out.symbol_to_gid.empty() || !out.mac_to_gid.empty();
}

std::vector<std::pair<uint32_t, uint32_t>> truetype_gid_to_unicode(const TrueTypeCmap &cmap) {
    std::vector<std::pair<uint32_t, uint32_t>> by_gid;
    by_gid.reserve(cmap.unicode_to_gid.size());
    for (const auto &[unicode, gid] : cmap.unicode_to_gid) by_gid.emplace_back(gid, unicode);
    std::sort(by_gid.begin(), by_gid.end());
    by_gid.erase(std::unique(by_gid.begin(), by_gid.end(),
                             [](const auto &a, const auto &b) { return a.first == b.first; }),
                 by_gid.end());
    return by_gid;
}
