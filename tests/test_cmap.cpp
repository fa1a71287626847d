// The CMap parser: bf and cid mappings, codespace ranges and code lengths,
// usecmap merging, and damaged input read as far as it can be.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "cmap.h"

namespace {

CMap parse(const std::string &text) {
    CMap cmap;
    EXPECT_TRUE(cmap_parse(reinterpret_cast<const unsigned char *>(text.data()), text.size(), cmap))
        << text;
    return cmap;
}

std::optional<std::u32string> unicode_of(const CMap &cmap, uint32_t code) {
    std::u32string out;
    if (!cmap_to_unicode(cmap, code, out)) {
        EXPECT_TRUE(out.empty());
        return std::nullopt;
    }
    return out;
}

std::optional<uint32_t> cid_of(const CMap &cmap, uint32_t code) {
    uint32_t cid = 0;
    if (!cmap_to_cid(cmap, code, &cid)) return std::nullopt;
    return cid;
}

std::optional<uint32_t> code_for(const CMap &cmap, char32_t cp) {
    uint32_t code = 0;
    if (!cmap_code_for_unicode(cmap, cp, &code)) return std::nullopt;
    return code;
}

std::string read_fixture(const std::string &name) {
    std::ifstream in(std::string(INKVEIL_FIXTURES) + "/fonts/" + name, std::ios::binary);
    EXPECT_TRUE(in.good()) << name;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

const std::optional<std::u32string> kUnmapped;

TEST(CMapBf, BothRangeFormsCharsSurrogatesAndLigatures) {
    const CMap cmap = parse(R"(/CIDInit /ProcSet findresource begin
12 dict begin
begincmap
/CMapName /Test-UCS def
1 begincodespacerange <0000> <FFFF> endcodespacerange
4 beginbfchar
<0003> <0020>
<0010> <00660069>
<0011> <D835DC00>
<0012> /space
endbfchar
4 beginbfrange
<0020> <0029> <0041>
<00FE> <0101> <0061>
<0030> <0033> [<0078> <00660066> <D83DDE00>]
<0040> <0042> <D835DC00>
endbfrange
endcmap
CMapName currentdict /CMap defineresource pop
end end
)");
    const struct {
        uint32_t code;
        std::optional<std::u32string> unicode;
    } cases[] = {
        {0x03, U" "},
        {0x10, U"fi"},           // a ligature maps to its letters
        {0x11, U"\U0001D400"},   // a surrogate pair joins
        {0x12, kUnmapped},       // a name destination maps to nothing
        {0x20, U"A"},            // incrementing range
        {0x29, U"J"},
        {0x2A, kUnmapped},
        {0xFE, U"a"},            // a range across a byte boundary is numeric
        {0x101, U"d"},
        {0x30, U"x"},            // array form, one destination per code
        {0x31, U"ff"},
        {0x32, U"\U0001F600"},
        {0x33, kUnmapped},       // past the array's end
        {0x42, U"\U0001D402"},   // an incremented pair stays one code point
        {0x41, U"\U0001D401"},
        {0x00, kUnmapped},
        {0xFFFFFFFF, kUnmapped},
    };
    for (const auto &c : cases) EXPECT_EQ(unicode_of(cmap, c.code), c.unicode) << std::hex << c.code;
    EXPECT_TRUE(cmap_has_unicode(cmap));
    EXPECT_EQ(cmap.wmode, 0);
    EXPECT_TRUE(cmap.usecmap.empty());

    EXPECT_EQ(code_for(cmap, U' '), 0x03u);
    EXPECT_EQ(code_for(cmap, U'C'), 0x22u);
    EXPECT_EQ(code_for(cmap, U'b'), 0xFFu);
    EXPECT_EQ(code_for(cmap, U'x'), 0x30u);
    EXPECT_EQ(code_for(cmap, U'f'), std::nullopt);  // only inside "fi" and "ff"
    EXPECT_EQ(code_for(cmap, U'K'), std::nullopt);
}

TEST(CMapBf, OneByteFontFindsTwoByteWrittenCodes) {
    const CMap cmap = parse("beginbfchar <0041> <0058> <42> <0059> endbfchar");
    EXPECT_EQ(unicode_of(cmap, 0x41), U"X");
    EXPECT_EQ(unicode_of(cmap, 0x42), U"Y");
}

TEST(CMapBf, LaterDefinitionsWinOverOverlappingRangesInAnyOrder) {
    const CMap cmap = parse(R"(
beginbfchar <0015> <007A> endbfchar
beginbfrange
<0010> <001F> <0041>
<0005> <0014> <0061>
<0050> <0040> <0041>
endbfrange
beginbfchar <0018> <0030> endbfchar
)");
    const struct {
        uint32_t code;
        std::optional<std::u32string> unicode;
    } cases[] = {
        {0x05, U"a"}, {0x10, U"l"}, {0x14, U"p"},  // the second range covers the first's start
        {0x15, U"F"},                               // the first range keeps its own numbering...
        {0x17, U"H"}, {0x18, U"0"}, {0x19, U"J"},   // ...around a later single code
        {0x1F, U"P"}, {0x20, kUnmapped},
        {0x45, kUnmapped},                          // lo > hi: skipped
    };
    for (const auto &c : cases) EXPECT_EQ(unicode_of(cmap, c.code), c.unicode) << std::hex << c.code;
    // The reverse search sees the ranges as they stand after the overrides.
    EXPECT_EQ(code_for(cmap, U'A'), std::nullopt);
    EXPECT_EQ(code_for(cmap, U'F'), 0x15u);
    EXPECT_EQ(code_for(cmap, U'z'), std::nullopt);
}

// Random definitions over a small code space against a plain array that
// applies them one after the other.
TEST(CMapBf, ResolvedRunsMatchDefinitionsAppliedInOrder) {
    std::mt19937 rng(7);
    for (int round = 0; round < 40; ++round) {
        std::vector<std::optional<char32_t>> model(300);
        std::string text = "beginbfrange\n";
        char line[64];
        for (int i = 0; i < 60; ++i) {
            const auto lo = static_cast<unsigned>(rng() % 300);
            const unsigned hi = std::min(299u, lo + static_cast<unsigned>(rng() % 40));
            const auto dest = static_cast<unsigned>(0x100 + rng() % 0x1000);
            std::snprintf(line, sizeof line, "<%04X> <%04X> <%04X>\n", lo, hi, dest);
            text += line;
            for (unsigned c = lo; c <= hi; ++c) model[c] = dest + (c - lo);
        }
        text += "endbfrange";
        const CMap cmap = parse(text);
        for (uint32_t c = 0; c < 300; ++c) {
            const auto got = unicode_of(cmap, c);
            if (model[c])
                EXPECT_EQ(got, std::u32string(1, *model[c])) << round << " " << c;
            else
                EXPECT_EQ(got, kUnmapped) << round << " " << c;
        }
        for (size_t i = 1; i < cmap.bf.size(); ++i) EXPECT_GT(cmap.bf[i].lo, cmap.bf[i - 1].hi);
    }
}

TEST(CMapBf, LongRangesStayRangesAndAreCut) {
    const CMap full = parse("beginbfrange <0000> <FFFF> <0000> endbfrange");
    EXPECT_EQ(full.bf.size(), 1u);
    EXPECT_EQ(unicode_of(full, 0x4E2D), U"\u4E2D");

    // A span of 0x20000 codes keeps its first 65536.
    const CMap cut = parse("beginbfrange <010000> <02FFFF> <4E00> endbfrange");
    EXPECT_EQ(unicode_of(cut, 0x10000), U"\u4E00");
    EXPECT_EQ(unicode_of(cut, 0x1FFFF), U"\U00014DFF");
    EXPECT_EQ(unicode_of(cut, 0x20000), kUnmapped);

    // Incrementing past the last code point, or into the surrogates, maps nothing.
    const CMap edge = parse("beginbfrange <00> <FF> <D7F0> <0100> <01FF> <DBFFDFF0> endbfrange");
    EXPECT_EQ(unicode_of(edge, 0x0F), U"\uD7FF");
    EXPECT_EQ(unicode_of(edge, 0x10), kUnmapped);
    EXPECT_EQ(unicode_of(edge, 0x10F), U"\U0010FFFF");
    EXPECT_EQ(unicode_of(edge, 0x110), kUnmapped);
}

TEST(CMapBf, DamagedDestinationsKeepWhatIsValid) {
    const struct {
        const char *dest;
        std::optional<std::u32string> unicode;
    } cases[] = {
        {"<004142>", U"A"},             // odd length: the lone last byte is dropped
        {"<41>", U"A"},                 // a one-byte destination is that byte's code point
        {"<0041D800>", U"A"},           // unpaired high surrogate at the end
        {"<D8000041>", U"A"},           // ... before a plain unit
        {"<DC000041D83D>", U"A"},       // unpaired low surrogate, then a high one
        {"<D800>", kUnmapped},          // nothing valid left
        {"<>", kUnmapped},
        {"<00 4>", U"@"},               // white space inside hex; an odd last digit is followed by 0
        {"(\\000A)", U"A"},             // a literal string
        {"/A", kUnmapped},
    };
    for (const auto &c : cases) {
        const std::string text = std::string("beginbfchar <01> ") + c.dest + " endbfchar";
        CMap cmap;
        EXPECT_EQ(cmap_parse(reinterpret_cast<const unsigned char *>(text.data()), text.size(), cmap),
                  c.unicode.has_value());
        EXPECT_EQ(unicode_of(cmap, 1), c.unicode) << c.dest;
    }
    // An invalid later definition leaves the earlier one in place.
    const CMap kept = parse("beginbfchar <01> <0041> <01> <D800> <01> /B endbfchar");
    EXPECT_EQ(unicode_of(kept, 1), U"A");

    // Destinations longer than the cap are cut to it.
    std::string many = "beginbfchar <01> <";
    for (int i = 0; i < 40; ++i) many += "0061";
    const CMap cut = parse(many + "> endbfchar");
    EXPECT_EQ(unicode_of(cut, 1), std::u32string(kCMapMaxDestLength, U'a'));
}

TEST(CMapCodespace, RangesOfMixedLengths) {
    const CMap cmap = parse(R"(
3 begincodespacerange
<00> <80>
<8140> <9FFC>
<81308130> <8439FE39>
endcodespacerange
)");
    ASSERT_EQ(cmap.codespace.size(), 3u);
    EXPECT_EQ(cmap.codespace[1].len, 2);
    EXPECT_EQ(cmap.codespace[1].lo[0], 0x81);
    EXPECT_EQ(cmap.codespace[1].hi[1], 0xFC);
    EXPECT_FALSE(cmap_has_unicode(cmap));

    const struct {
        std::vector<unsigned char> bytes;
        int length;
    } cases[] = {
        {{0x41, 0x81}, 1},
        {{0x80}, 1},
        {{0x81, 0x40}, 2},
        {{0x9F, 0xFC, 0x00}, 2},
        {{0x81, 0x30, 0x81, 0x30}, 4},  // four bytes where two do not match
        {{0x84, 0x39, 0xFE, 0x39}, 4},
        {{0x81, 0x20}, 2},              // first byte of a 2-byte range only: consumed as 2
        {{0x81, 0x30, 0x20}, 2},        // a 4-byte range does not fit: the 2-byte partial match
        {{0xA0, 0x41}, 1},              // no range's first byte: the shortest length
        {{0x81}, 1},                    // the 2-byte range does not fit
    };
    for (const auto &c : cases)
        EXPECT_EQ(cmap_code_length(cmap, c.bytes.data(), c.bytes.size()), c.length)
            << std::hex << int(c.bytes[0]) << " of " << c.bytes.size();

    // Byte-wise: 0x8200 lies between 8140 and 9FFC as a number, not byte-wise
    // (00 is below 40), so it is only a partial match.
    const CMap two = parse("begincodespacerange <8140> <9FFC> <A0A0> <A0A0> endcodespacerange");
    const unsigned char between[] = {0x82, 0x00, 0xA0, 0xA0, 0xFF};
    EXPECT_EQ(cmap_code_length(two, between, 5), 2);
    EXPECT_EQ(cmap_code_length(two, between + 4, 1), 1);  // nothing fits: 1
    EXPECT_EQ(cmap_code_length(two, between + 2, 3), 2);

    const CMap none;
    EXPECT_EQ(cmap_code_length(none, between, 5), 1);
    EXPECT_EQ(cmap_code_length(none, between, 0), 1);
}

TEST(CMapCodespace, BoundsThatCannotFormARangeAreDropped) {
    const CMap cmap = parse(R"(begincodespacerange
<00> <FFFF>
<FF> <00>
<0000000000> <FFFFFFFFFF>
<0100> <FF>
<8140> <9F3F>
<00> <FFFF>
endcodespacerange)");
    // Only the first survives: a two-byte range from 0000 (the high bound's
    // length), then lo > hi, five bytes, a low bound too long, a second byte
    // above its bound, and a duplicate.
    ASSERT_EQ(cmap.codespace.size(), 1u);
    EXPECT_EQ(cmap.codespace[0].len, 2);
    EXPECT_EQ(cmap.codespace[0].lo[0], 0);
    EXPECT_EQ(cmap.codespace[0].hi[0], 0xFF);
}

TEST(CMapCid, CharsAndRangesLaterWins) {
    const CMap cmap = parse(R"(/CMapName /Test-H def
/WMode 1 def
begincodespacerange <00> <80> <8140> <9FFC> endcodespacerange
2 begincidrange
<00> <80> 100
<8140> <817E> 633
endcidrange
begincidchar <20> 1 <8150> 5 endcidchar
begincidrange <010000> <02FFFF> 7 endcidrange
)");
    EXPECT_EQ(cmap.wmode, 1);
    EXPECT_EQ(cid_of(cmap, 0x00), 100u);
    EXPECT_EQ(cid_of(cmap, 0x20), 1u);
    EXPECT_EQ(cid_of(cmap, 0x21), 133u);
    EXPECT_EQ(cid_of(cmap, 0x8141), 634u);
    EXPECT_EQ(cid_of(cmap, 0x8150), 5u);
    EXPECT_EQ(cid_of(cmap, 0x8151), 650u);
    EXPECT_EQ(cid_of(cmap, 0x817F), std::nullopt);
    EXPECT_EQ(cid_of(cmap, 0x1FFFF), 7u + 0xFFFF);
    EXPECT_EQ(cid_of(cmap, 0x20000), std::nullopt);  // cut at 65536 codes
    EXPECT_FALSE(cmap_has_unicode(cmap));
    EXPECT_EQ(unicode_of(cmap, 0x20), kUnmapped);
}

TEST(CMapUsecmap, ChildWinsOverItsParent) {
    const CMap parent = parse(R"(/CMapName /Parent-H def /WMode 1 def
/Grandparent usecmap
begincodespacerange <0000> <FFFF> endcodespacerange
begincidrange <0000> <00FF> 0 endcidrange
beginbfrange <0000> <00FF> <0000> endbfrange)");
    EXPECT_EQ(parent.usecmap, "Grandparent");

    CMap child = parse(R"(/CMapName /Child-H def
/Parent /CMap findresource usecmap
begincodespacerange <00> <7F> endcodespacerange
begincidchar <0041> 900 endcidchar
beginbfchar <0041> <0058> endbfchar)");
    EXPECT_EQ(child.usecmap, "Parent");
    EXPECT_EQ(parse("/Parent usecmap").usecmap, "Parent");

    cmap_merge_parent(child, parent);
    EXPECT_EQ(cid_of(child, 0x41), 900u);
    EXPECT_EQ(cid_of(child, 0x42), 0x42u);
    EXPECT_EQ(unicode_of(child, 0x41), U"X");
    EXPECT_EQ(unicode_of(child, 0x42), U"B");
    EXPECT_EQ(child.wmode, 1);  // the child set none
    EXPECT_EQ(child.usecmap, "Grandparent");
    ASSERT_EQ(child.codespace.size(), 2u);
    EXPECT_EQ(child.codespace[0].len, 1);
    EXPECT_EQ(child.codespace[1].len, 2);

    // A CMap that names itself.
    CMap self = parse("/Self usecmap beginbfchar <01> <0041> endbfchar");
    cmap_merge_parent(self, self);
    EXPECT_EQ(unicode_of(self, 1), U"A");
    EXPECT_EQ(self.usecmap, "Self");
}

TEST(CMapBadInput, JunkMissingEndsAndLongCodesSkipOnlyTheirEntry) {
    const CMap cmap = parse(R"(
beginbfchar
<01> <0041> def 12 << /X 1 >> { pop }
<02> 3.5 <0042>
<0102030405> <0043>
<03> <0044
<04> <0045>
<05> <0047> (x) <0048>
beginbfrange
<10> <12> [<0061> <0062 <0063>]
<20> <21> <0070>
endbfrange
endcmap)");
    const struct {
        uint32_t code;
        std::optional<std::u32string> unicode;
    } cases[] = {
        {0x01, U"A"}, {0x02, U"B"},       // junk inside and between entries
        {0x03, kUnmapped},                // its destination is not closed
        {0x04, U"E"},                     // ...and the next entry is read on its own
        {0x05, U"G"},
        {0x78, U"H"},                     // a literal string is a code too
        {0x10, U"a"}, {0x11, kUnmapped},  // a broken array element keeps its place
        {0x12, U"c"},
        {0x20, U"p"}, {0x21, U"q"},       // a block left open ends at the next begin
    };
    for (const auto &c : cases) EXPECT_EQ(unicode_of(cmap, c.code), c.unicode) << std::hex << c.code;
}

// Comments hide what they hold; a CID is an integer, and any other number is
// junk that the entry steps over.
TEST(CMapBadInput, CommentsAndNumbersOtherThanIntegers) {
    const CMap cmap = parse(R"(%!PS-Adobe-3.0 Resource-CMap
/WMode 1.0 def
begincidchar
<20> % <21> 9
1
<22> 1.5 <23> 7
<24> 8#40
<25> -4
<26> 4294967296 <27> 4294967295 <28> +12
endcidchar)");
    EXPECT_FALSE(cmap.wmode_given);
    const struct {
        uint32_t code;
        std::optional<uint32_t> cid;
    } cases[] = {
        {0x20, 1u}, {0x21, std::nullopt},  // inside the comment
        {0x22, std::nullopt}, {0x23, 7u},  // 1.5 is junk: <23> starts the next entry
        {0x24, std::nullopt},              // 8#40 too, and <25> -4 is negative
        {0x25, std::nullopt}, {0x26, std::nullopt}, {0x27, 4294967295u}, {0x28, 12u},
    };
    for (const auto &c : cases) EXPECT_EQ(cid_of(cmap, c.code), c.cid) << std::hex << c.code;
}

// Token offsets are 32-bit: text of 2 GiB or more is refused without a read
// past its first bytes.
TEST(CMapBadInput, TwoGigabytesOrMoreIsRefused) {
    const size_t size = (size_t{1} << 31) + 4096;
    void *map = mmap(nullptr, size, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (map == MAP_FAILED) GTEST_SKIP() << "no room for a 2 GiB mapping";
    const std::string text = "beginbfchar <01> <0041> endbfchar";
    std::memcpy(map, text.data(), text.size());
    CMap cmap;
    cmap.usecmap = "stale";
    EXPECT_FALSE(cmap_parse(static_cast<const unsigned char *>(map), size, cmap));
    EXPECT_TRUE(cmap.usecmap.empty());
    EXPECT_TRUE(cmap_parse(static_cast<const unsigned char *>(map), text.size(), cmap));
    munmap(map, size);
}

// Every prefix of a CMap reads without fault, and whatever a prefix maps it
// maps as the whole CMap does.
TEST(CMapBadInput, TruncatedAnywhereKeepsTheEntriesBeforeTheCut) {
    const std::string text = R"(/CIDInit /ProcSet findresource begin
begincmap
1 begincodespacerange <00> <FF> endcodespacerange
3 beginbfchar <01> <0041> <02> <00660069> <03> <D83DDE00> endbfchar
2 beginbfrange <10> <14> <0061> <20> <22> [<0031> <0032> <0033>] endbfrange
endcmap end
)";
    const CMap whole = parse(text);
    size_t mapped_before = 0;
    for (size_t cut = 0; cut <= text.size(); ++cut) {
        CMap prefix;
        cmap_parse(reinterpret_cast<const unsigned char *>(text.data()), cut, prefix);
        size_t mapped = 0;
        for (uint32_t code = 0; code < 0x30; ++code) {
            const auto got = unicode_of(prefix, code);
            if (!got) continue;
            ++mapped;
            EXPECT_EQ(got, unicode_of(whole, code)) << "cut " << cut << " code " << code;
        }
        EXPECT_GE(mapped, mapped_before) << cut;
        mapped_before = mapped;
    }
    EXPECT_EQ(mapped_before, 3u + 5u + 3u);
}

TEST(CMapBadInput, NothingReadableIsFalse) {
    const std::vector<std::string> texts = {
        "", "%!PS\n% only a comment", "begincmap endcmap", "beginbfchar", "<0041> <0042> junk",
        "beginbfchar <01> /space endbfchar", std::string("\x00\xff\x80<<>>]})", 10)};
    for (const std::string &text : texts) {
        CMap cmap;
        cmap.usecmap = "stale";
        EXPECT_FALSE(cmap_parse(reinterpret_cast<const unsigned char *>(text.data()), text.size(), cmap))
            << text;
        EXPECT_TRUE(cmap.usecmap.empty());
        EXPECT_FALSE(cmap_has_unicode(cmap));
    }
}

// Many ranges over one another: each new one covers all earlier ones, and only
// the last counts. Quadratic resolution would not finish in the test's time.
TEST(CMapBadInput, ManyOverlappingRangesResolveToTheLast) {
    std::string text = "beginbfrange\n";
    char line[64];
    const unsigned count = 100000, middle = 40000;
    for (unsigned i = 0; i < count; ++i) {
        std::snprintf(line, sizeof line, "<%04X> <%04X> <%04X>\n", middle - i / 4, middle + i / 4,
                      0x4E00 + i % 7);
        text += line;
    }
    const CMap cmap = parse(text + "endbfrange");
    const unsigned last_lo = middle - (count - 1) / 4;
    ASSERT_EQ(cmap.bf.size(), 1u);
    EXPECT_EQ(cmap.bf[0].lo, last_lo);
    EXPECT_EQ(unicode_of(cmap, middle), std::u32string(1, 0x4E00 + (count - 1) % 7 + (middle - last_lo)));
}

TEST(CMapSamples, ProducerToUnicodeMaps) {
    // LibreOffice: a one-byte subset renumbered from 1, where code 0x0A is the space.
    const std::string libreoffice = read_fixture("libreoffice-liberationmono-tounicode.cmap");
    const CMap lo = parse(libreoffice);
    EXPECT_EQ(lo.bf.size(), 53u);
    EXPECT_EQ(code_for(lo, U' '), 0x0Au);
    EXPECT_EQ(unicode_of(lo, 0x1A), U"G");
    EXPECT_EQ(unicode_of(lo, 0x36), kUnmapped);
    const unsigned char byte = 0x1A;
    EXPECT_EQ(cmap_code_length(lo, &byte, 1), 1);

    // Chromium: two-byte glyph ids, ranges and ligatures.
    const std::string chromium = read_fixture("chromium-dejavuserif-tounicode.cmap");
    const CMap chr = parse(chromium);
    EXPECT_EQ(code_for(chr, U' '), 0x0003u);
    EXPECT_EQ(unicode_of(chr, 0x0CF2), U"\uFB00");
    EXPECT_EQ(unicode_of(chr, 0x0CF3), U"\uFB01");
    EXPECT_EQ(unicode_of(chr, 0x0048), U"e");
    EXPECT_EQ(code_for(chr, U'e'), 0x0048u);
    const unsigned char two[] = {0x00, 0x48};
    EXPECT_EQ(cmap_code_length(chr, two, 2), 2);
}

}  // namespace
