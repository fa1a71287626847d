// Embedded font programs: TrueType 'cmap' tables built here byte by byte, the
// fonts of the sample files, and Type 1 cleartext encodings.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "cmap.h"
#include "fontfile.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Pairs = std::vector<std::pair<uint32_t, uint32_t>>;

void put16(Bytes &b, uint32_t v) {
    b.push_back(static_cast<unsigned char>(v >> 8));
    b.push_back(static_cast<unsigned char>(v));
}
void put32(Bytes &b, uint32_t v) {
    put16(b, v >> 16);
    put16(b, v & 0xFFFF);
}

// An sfnt file: the table directory, then each table padded to 4 bytes.
Bytes sfnt(const std::vector<std::pair<std::string, Bytes>> &tables, uint32_t version = 0x00010000) {
    Bytes out;
    put32(out, version);
    put16(out, static_cast<uint32_t>(tables.size()));
    put16(out, 0);
    put16(out, 0);
    put16(out, 0);
    uint32_t offset = 12 + 16 * static_cast<uint32_t>(tables.size());
    for (const auto &[tag, data] : tables) {
        out.insert(out.end(), tag.begin(), tag.end());
        put32(out, 0);  // checksum, not read
        put32(out, offset);
        put32(out, static_cast<uint32_t>(data.size()));
        offset += (static_cast<uint32_t>(data.size()) + 3) & ~3u;
    }
    for (const auto &table : tables) {
        out.insert(out.end(), table.second.begin(), table.second.end());
        while (out.size() % 4 != 0) out.push_back(0);
    }
    return out;
}

Bytes maxp(uint32_t num_glyphs) {
    Bytes b;
    put32(b, 0x00005000);
    put16(b, num_glyphs);
    return b;
}

struct Subtable {
    uint16_t platform, encoding;
    Bytes data;
};

// A 'cmap' table; a subtable with no data gets an offset past the table's end.
Bytes cmap_table(const std::vector<Subtable> &subtables) {
    Bytes b;
    put16(b, 0);
    put16(b, static_cast<uint32_t>(subtables.size()));
    uint32_t offset = 4 + 8 * static_cast<uint32_t>(subtables.size());
    for (const Subtable &s : subtables) {
        put16(b, s.platform);
        put16(b, s.encoding);
        put32(b, s.data.empty() ? 0x7FFFFFF0u : offset);
        offset += static_cast<uint32_t>(s.data.size());
    }
    for (const Subtable &s : subtables) b.insert(b.end(), s.data.begin(), s.data.end());
    return b;
}

Bytes format0(const std::vector<std::pair<int, int>> &map) {
    Bytes b;
    put16(b, 0);
    put16(b, 262);
    put16(b, 0);
    Bytes glyphs(256, 0);
    for (const auto &[code, gid] : map) glyphs[code] = static_cast<unsigned char>(gid);
    b.insert(b.end(), glyphs.begin(), glyphs.end());
    return b;
}

// A format-4 segment: either gid = code + delta, or glyph ids from the array
// (to which delta is added).
struct Segment {
    uint16_t start, end;
    int delta;
    std::vector<uint16_t> glyphs;
};

Bytes format4(std::vector<Segment> segments) {
    segments.push_back({0xFFFF, 0xFFFF, 1, {}});
    const auto count = static_cast<uint32_t>(segments.size());
    Bytes arrays[4], glyph_array;
    for (uint32_t k = 0; k < count; ++k) {
        const Segment &s = segments[k];
        put16(arrays[0], s.end);
        put16(arrays[1], s.start);
        put16(arrays[2], static_cast<uint16_t>(s.delta));
        // From this idRangeOffset entry to the segment's first glyph id.
        put16(arrays[3], s.glyphs.empty()
                             ? 0
                             : 2 * (count - k) + static_cast<uint32_t>(glyph_array.size()));
        for (uint16_t g : s.glyphs) put16(glyph_array, g);
    }
    Bytes b;
    put16(b, 4);
    put16(b, 16 + 8 * count + static_cast<uint32_t>(glyph_array.size()));
    put16(b, 0);
    put16(b, 2 * count);
    put16(b, 0);
    put16(b, 0);
    put16(b, 0);
    b.insert(b.end(), arrays[0].begin(), arrays[0].end());
    put16(b, 0);  // reservedPad
    for (int i = 1; i < 4; ++i) b.insert(b.end(), arrays[i].begin(), arrays[i].end());
    b.insert(b.end(), glyph_array.begin(), glyph_array.end());
    return b;
}

Bytes format6(uint16_t first, const std::vector<uint16_t> &gids) {
    Bytes b;
    put16(b, 6);
    put16(b, 10 + 2 * static_cast<uint32_t>(gids.size()));
    put16(b, 0);
    put16(b, first);
    put16(b, static_cast<uint32_t>(gids.size()));
    for (uint16_t g : gids) put16(b, g);
    return b;
}

struct Group {
    uint32_t start, end, gid;
};

Bytes format12(const std::vector<Group> &groups, uint32_t claimed_count) {
    Bytes b;
    put16(b, 12);
    put16(b, 0);
    put32(b, 16 + 12 * static_cast<uint32_t>(groups.size()));
    put32(b, 0);
    put32(b, claimed_count);
    for (const Group &g : groups) {
        put32(b, g.start);
        put32(b, g.end);
        put32(b, g.gid);
    }
    return b;
}
Bytes format12(const std::vector<Group> &groups) {
    return format12(groups, static_cast<uint32_t>(groups.size()));
}

TrueTypeCmap read(const Bytes &font, bool expected = true) {
    TrueTypeCmap cmap;
    EXPECT_EQ(truetype_read_cmap(font.data(), font.size(), cmap), expected);
    return cmap;
}

Bytes read_fixture(const std::string &name) {
    std::ifstream in(std::string(INKVEIL_FIXTURES) + "/fonts/" + name, std::ios::binary);
    EXPECT_TRUE(in.good()) << name;
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

TEST(TrueTypeCmap, EachKindFromItsSubtable) {
    const Bytes font = sfnt({
        {"cmap", cmap_table({
                     {3, 1, format4({{0x20, 0x22, -29, {}},
                                     {0x41, 0x43, 0, {10, 0, 12}},  // 0x42: glyph 0, left out
                                     {0x61, 0x61, 150 - 0x61, {}},
                                     {0x7A, 0x7A, 300 - 0x7A, {}}})},  // past maxp: left out
                     {1, 0, format0({{1, 1}, {2, 7}, {65, 0}})},
                     {3, 0, format4({{0xF020, 0xF021, 3 - 0xF020, {}}})},
                 })},
        {"maxp", maxp(200)},
    });
    const TrueTypeCmap cmap = read(font);
    EXPECT_EQ(cmap.num_glyphs, 200u);
    EXPECT_EQ(cmap.unicode_to_gid, (Pairs{{0x20, 3}, {0x21, 4}, {0x22, 5}, {0x41, 10}, {0x43, 12}, {0x61, 150}}));
    EXPECT_EQ(cmap.mac_to_gid, (Pairs{{1, 1}, {2, 7}}));
    EXPECT_EQ(cmap.symbol_to_gid, (Pairs{{0xF020, 3}, {0xF021, 4}}));
}

TEST(TrueTypeCmap, FullUnicodeSubtablePreferredAndBrokenOnesSkipped) {
    const Bytes bmp = format4({{0x41, 0x41, 5 - 0x41, {}}});
    const Bytes full = format12({{0x41, 0x42, 7}, {0x1F600, 0x1F600, 9}});
    EXPECT_EQ(read(sfnt({{"cmap", cmap_table({{3, 1, bmp}, {3, 10, full}})}})).unicode_to_gid,
              (Pairs{{0x41, 7}, {0x42, 8}, {0x1F600, 9}}));
    // The format-12 record points past the data, or at a format this reader
    // does not know (2): the next subtable is used.
    Bytes format2 = {0, 2, 0, 6, 0, 0};
    for (const Bytes &broken : {Bytes{}, format2})
        EXPECT_EQ(read(sfnt({{"cmap", cmap_table({{0, 3, bmp}, {3, 10, broken}})}})).unicode_to_gid,
                  (Pairs{{0x41, 5}}));
}

TEST(TrueTypeCmap, GlyphRangesAndClaimedSizesAreBoundedByTheData) {
    // Format 6: glyph 0 and glyphs past maxp are left out.
    EXPECT_EQ(read(sfnt({{"cmap", cmap_table({{1, 0, format6(0x30, {1, 2, 3, 0, 250})}})},
                         {"maxp", maxp(200)}}))
                  .mac_to_gid,
              (Pairs{{0x30, 1}, {0x31, 2}, {0x32, 3}}));

    // Format 12 claiming 2^32 - 1 groups holds two; of a group from glyph 0
    // over every code point only the codes of glyphs 1..4 are kept.
    EXPECT_EQ(read(sfnt({{"cmap", cmap_table({{3, 10, format12({{0, 0x10FFFF, 0}, {9, 5, 1}}, 0xFFFFFFFF)}})},
                         {"maxp", maxp(5)}}))
                  .unicode_to_gid,
              (Pairs{{1, 1}, {2, 2}, {3, 3}, {4, 4}}));

    // Unsorted, overlapping groups: each keeps the codes that no group with
    // a lower start covers.
    const TrueTypeCmap overlap =
        read(sfnt({{"cmap", cmap_table({{3, 10, format12({{0x100, 0x1FF, 1}, {0x50, 0x150, 2}})}})},
                   {"maxp", maxp(1000)}}));
    EXPECT_EQ(overlap.unicode_to_gid.size(), 0x1FFu - 0x50 + 1);
    EXPECT_EQ(overlap.unicode_to_gid.front(), std::make_pair(0x50u, 2u));
    EXPECT_EQ(overlap.unicode_to_gid[0x150 - 0x50], std::make_pair(0x150u, 2u + 0x100));
    EXPECT_EQ(overlap.unicode_to_gid[0x151 - 0x50], std::make_pair(0x151u, 1u + 0x51));
}

// Hostile tables whose naive reading is quadratic or huge: thousands of
// segments, groups and records over the same codes read as one.
TEST(TrueTypeCmap, RepeatedSegmentsGroupsAndRecordsAreReadOnce) {
    std::vector<Segment> segments(2000, Segment{0, 0xFFFE, 1, {}});
    EXPECT_EQ(read(sfnt({{"cmap", cmap_table({{3, 1, format4(segments)}})}})).unicode_to_gid.size(), 0xFFFFu);

    std::vector<Group> groups(10000, Group{0, 0x10FFFF, 1});
    const TrueTypeCmap wide = read(sfnt({{"cmap", cmap_table({{3, 10, format12(groups)}})}}));
    EXPECT_EQ(wide.unicode_to_gid.size(), 0xFFFFu);  // glyphs 1..65535 without maxp
    EXPECT_EQ(wide.unicode_to_gid.back(), std::make_pair(0xFFFEu, 0xFFFFu));

    // 4000 records naming one large subtable.
    std::vector<Group> many;
    for (uint32_t i = 0; i < 20000; ++i) many.push_back({0x10000 + 2 * i, 0x10000 + 2 * i, 1 + i % 100});
    Bytes table;
    put16(table, 0);
    put16(table, 4000);
    for (int i = 0; i < 4000; ++i) {
        put16(table, 3);
        put16(table, 10);
        put32(table, 4 + 8 * 4000);
    }
    const Bytes sub = format12(many);
    table.insert(table.end(), sub.begin(), sub.end());
    EXPECT_EQ(read(sfnt({{"cmap", table}})).unicode_to_gid.size(), 20000u);
}

TEST(TrueTypeCmap, NotAFontOrNoUsableCmap) {
    const Bytes good_cmap = cmap_table({{3, 1, format4({{0x41, 0x41, 1, {}}})}});
    Bytes cmap_past_end = sfnt({{"cmap", good_cmap}});
    cmap_past_end[12 + 8] = 0x7F;  // the table's offset
    const std::string pdf = "%PDF-1.7\n1 0 obj << >> endobj";
    const struct {
        const char *what;
        Bytes bytes;
        uint32_t num_glyphs;
    } cases[] = {
        {"empty", {}, 0},
        {"a PDF", Bytes(pdf.begin(), pdf.end()), 0},
        {"a header only", Bytes{0, 1, 0, 0, 0, 9}, 0},
        {"unknown version", sfnt({{"cmap", good_cmap}}, 0x00020000), 0},
        {"no cmap", sfnt({{"maxp", maxp(12)}}), 12},
        {"cmap past the end", cmap_past_end, 0},
        {"subtable past the end", sfnt({{"cmap", cmap_table({{3, 1, {}}})}}), 0},
        {"only a format this reader skips", sfnt({{"cmap", cmap_table({{3, 1, Bytes{0, 2, 0, 6, 0, 0}}})}}), 0},
        {"only variation sequences", sfnt({{"cmap", cmap_table({{0, 5, format6(0x41, {3})}})}}), 0},
        {"only glyph 0", sfnt({{"cmap", cmap_table({{3, 1, format6(0x41, {0, 0})}})}}), 0},
    };
    for (const auto &c : cases) {
        TrueTypeCmap cmap;
        cmap.unicode_to_gid = {{1, 1}};
        EXPECT_FALSE(truetype_read_cmap(c.bytes.data(), c.bytes.size(), cmap)) << c.what;
        EXPECT_TRUE(cmap.unicode_to_gid.empty()) << c.what;
        EXPECT_EQ(cmap.num_glyphs, c.num_glyphs) << c.what;
    }
    // OpenType with CFF outlines, and the first font of a collection.
    EXPECT_EQ(read(sfnt({{"cmap", good_cmap}}, 0x4F54544F)).unicode_to_gid, (Pairs{{0x41, 0x42}}));
    // A collection's table offsets count from the start of the file.
    Bytes collection = {'t', 't', 'c', 'f', 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 16};
    const Bytes inner = sfnt({{"cmap", good_cmap}});
    collection.insert(collection.end(), inner.begin(), inner.end());
    collection[16 + 12 + 11] += 16;  // the cmap record's offset, below 256
    EXPECT_EQ(read(collection).unicode_to_gid, (Pairs{{0x41, 0x42}}));
}

// A font cut short anywhere reads without fault, and whatever it still maps
// is what one of its subtables maps when read whole (a cut can take away the
// preferred subtable, and the next one is used).
TEST(TrueTypeCmap, TruncatedAnywhere) {
    const Subtable mac{1, 0, format6(0x20, {3, 4, 5})};
    const Subtable bmp{3, 1, format4({{0x41, 0x45, 0, {10, 11, 12, 13, 14}}, {0x61, 0x7A, 7, {}}})};
    const Subtable full{3, 10, format12({{0x1F600, 0x1F602, 200}})};
    const auto font_of = [](const std::vector<Subtable> &subtables) {
        return sfnt({{"maxp", maxp(300)}, {"cmap", cmap_table(subtables)}});
    };
    Pairs known = read(font_of({mac, bmp})).unicode_to_gid;
    const Pairs from_full = read(font_of({full})).unicode_to_gid;
    known.insert(known.end(), from_full.begin(), from_full.end());
    const Pairs known_mac = read(font_of({mac})).mac_to_gid;
    ASSERT_EQ(known.size(), 5u + 26 + 3);

    const Bytes font = font_of({mac, bmp, full});
    for (size_t cut = 0; cut < font.size(); ++cut) {
        TrueTypeCmap part;
        truetype_read_cmap(font.data(), cut, part);
        for (const auto &entry : part.unicode_to_gid)
            EXPECT_NE(std::find(known.begin(), known.end(), entry), known.end()) << cut;
        for (const auto &entry : part.mac_to_gid)
            EXPECT_NE(std::find(known_mac.begin(), known_mac.end(), entry), known_mac.end()) << cut;
    }
}

TEST(TrueTypeCmap, GidToLowestUnicode) {
    TrueTypeCmap cmap;
    cmap.unicode_to_gid = {{0x20, 3}, {0x41, 5}, {0x61, 5}, {0xA0, 3}, {0xC5, 9}, {0x212B, 9}};
    EXPECT_EQ(truetype_gid_to_unicode(cmap), (Pairs{{3, 0x20}, {5, 0x41}, {9, 0xC5}}));
    EXPECT_TRUE(truetype_gid_to_unicode(TrueTypeCmap{}).empty());
}

// Chromium embeds subsets that keep the original glyph ids, with an identity
// CIDToGIDMap: reversing the font's own cmap gives the same text as the
// ToUnicode map that Chromium wrote beside it, ligatures included.
TEST(TrueTypeCmapSamples, ChromiumSubsetAgreesWithItsToUnicode) {
    const Bytes font = read_fixture("chromium-dejavuserif-subset.ttf");
    const TrueTypeCmap cmap = read(font);
    EXPECT_GT(cmap.num_glyphs, 3000u);
    EXPECT_TRUE(cmap.mac_to_gid.empty());
    const auto by_gid = truetype_gid_to_unicode(cmap);

    const Bytes text = read_fixture("chromium-dejavuserif-tounicode.cmap");
    CMap to_unicode;
    ASSERT_TRUE(cmap_parse(text.data(), text.size(), to_unicode));
    size_t checked = 0;
    for (const CMapBfRun &run : to_unicode.bf) {
        for (uint32_t code = run.lo; code <= run.hi; ++code, ++checked) {
            std::u32string expected;
            ASSERT_TRUE(cmap_to_unicode(to_unicode, code, expected));
            auto it = std::lower_bound(by_gid.begin(), by_gid.end(), std::make_pair(code, 0u));
            ASSERT_NE(it, by_gid.end());
            EXPECT_EQ(it->first, code);
            EXPECT_EQ(std::u32string(1, it->second), expected) << std::hex << code;
        }
    }
    EXPECT_EQ(checked, 6u + 4 + 6 + 3 + 2 + 14 + 9 + 2);
}

TEST(TrueTypeCmapSamples, LibreOfficeSubsetHasAOneByteMacTable) {
    const TrueTypeCmap cmap = read(read_fixture("libreoffice-liberationmono-subset.ttf"));
    EXPECT_EQ(cmap.num_glyphs, 54u);
    EXPECT_TRUE(cmap.unicode_to_gid.empty());
    Pairs identity;
    for (uint32_t c = 1; c <= 53; ++c) identity.emplace_back(c, c);
    EXPECT_EQ(cmap.mac_to_gid, identity);
}

struct Type1Encoding {
    bool found;
    bool standard;
    std::vector<std::string> names;
};

Type1Encoding type1(const std::string &program) {
    std::string names[256];
    Type1Encoding e{};
    names[7] = "stale";
    e.found = type1_builtin_encoding(reinterpret_cast<const unsigned char *>(program.data()),
                                     program.size(), names, &e.standard);
    e.names.assign(names, names + 256);
    return e;
}

TEST(Type1Encoding, PdfTeXComputerModernFont) {
    const Bytes font = read_fixture("pdflatex-cmr10-subset.pfa");
    const Type1Encoding e = type1(std::string(font.begin(), font.end()));
    ASSERT_TRUE(e.found);
    EXPECT_FALSE(e.standard);
    EXPECT_EQ(e.names[12], "fi");
    EXPECT_EQ(e.names[14], "ffi");
    EXPECT_EQ(e.names[65], "A");
    EXPECT_EQ(e.names[0], "");
    EXPECT_EQ(e.names[32], "");
}

TEST(Type1Encoding, CleartextForms) {
    const std::string fill = "/Encoding 256 array 0 1 255 {1 index exch /.notdef put} for\n";
    const struct {
        const char *what;
        std::string program;
        bool found, standard;
        std::vector<std::pair<int, std::string>> names;
    } cases[] = {
        {"standard", "%!FontType1\n/FontName /X def /Encoding StandardEncoding def", true, true, {}},
        {"dup lines",
         fill + "dup 32 /space put dup 65 /A put dup 65 /Aring put dup 300 /B put dup -1 /C put\n"
                "dup 66 junk /B put dup 67 /C put dup 68 /.notdef put readonly def dup 69 /E put",
         true, false, {{32, "space"}, {65, "Aring"}, {66, ""}, {67, "C"}, {68, ""}, {69, ""}}},
        {"name array", "/Encoding [/a /b /.notdef /d#20e] def", true, false,
         {{0, "a"}, {1, "b"}, {2, ""}, {3, "d e"}}},
        {"PFB segment header", std::string("\x80\x01\x40\x00\x00\x00", 6) + fill +
                                   "dup 97 /a put readonly def currentfile eexec\n\x80\x02 dup 98 /b put",
         true, false, {{97, "a"}, {98, ""}}},
        // A length byte of 0x28 is '(': read as a token it would open a
        // string that swallows the whole cleartext.
        {"PFB header with '(' in its length",
         std::string("\x80\x01\x28\x05\x00\x00", 6) + fill + "dup 97 /a put readonly def", true,
         false, {{97, "a"}}},
        {"PFB header alone", std::string("\x80\x01\x28\x05\x00\x00", 6), false, false, {}},
        {"cut short", fill + "dup 10 /f_i put dup 11 /f", true, false, {{10, "f_i"}, {11, ""}}},
        {"after eexec", "/FontName /X def currentfile eexec /Encoding StandardEncoding def", false, false, {}},
        {"another named encoding", "/Encoding ISOLatin1Encoding def", false, false, {}},
        {"in a comment or string", "% /Encoding StandardEncoding def\n(/Encoding StandardEncoding)", false,
         false, {}},
        {"only .notdef", fill + "readonly def", false, false, {}},
        {"none", "", false, false, {}},
    };
    for (const auto &c : cases) {
        const Type1Encoding e = type1(c.program);
        EXPECT_EQ(e.found, c.found) << c.what;
        EXPECT_EQ(e.standard, c.standard) << c.what;
        EXPECT_EQ(e.names[7], "") << c.what;
        for (const auto &[code, name] : c.names) EXPECT_EQ(e.names[code], name) << c.what << " " << code;
    }
}

// Token offsets are 32-bit: a program of 2 GiB or more is read in its first
// 2 GiB, where the cleartext part lies.
TEST(Type1Encoding, TwoGigabytesOrMoreReadsTheCleartextAtTheStart) {
    const size_t size = (size_t{1} << 31) + 4096;
    void *map = mmap(nullptr, size, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (map == MAP_FAILED) GTEST_SKIP() << "no room for a 2 GiB mapping";
    const std::string text = "/Encoding StandardEncoding def";
    std::memcpy(map, text.data(), text.size());
    std::string names[256];
    bool standard = false;
    EXPECT_TRUE(type1_builtin_encoding(static_cast<const unsigned char *>(map), size, names, &standard));
    EXPECT_TRUE(standard);
    munmap(map, size);
}

}  // namespace
