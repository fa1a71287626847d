// Text as readers see it: codes decoded per font (ToUnicode, encodings and
// glyph names, embedded programs), matched across show operators, word and
// line breaks, and blanked with a code that keeps the font and the layout.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "api.h"
#include "content_fixture.h"
#include "textmatch.h"

namespace {

using pdftest::extracted_text;
using pdftest::FixtureObject;
using pdftest::object;
using pdftest::PageFixture;
using pdftest::stream_object;
using pdftest::to_unicode_cmap;

struct Search {
    int rc = 0;
    int64_t matches = 0;
    std::string content;  // page 1 after the redaction
    std::string text;     // what a reader extracts from it
    std::string error;
};

Search search(const PageFixture &page, const char *text, WalkMode mode = WalkMode::kRedact) {
    SearchSet set;
    search_set_add(set, text);
    search_set_build(set);
    RedactJob job;
    job.search = &set;
    auto r = page.redact(job, mode);
    Search s;
    s.rc = r.rc;
    s.error = g_err;
    s.matches = r.walk.matches;
    if (r.rc > 0) {
        s.content = r.pages[0];
        s.text = extracted_text(page, s.content);
    }
    return s;
}

// A /Widths array of `count` entries of `width`, but `other` at code `at`.
std::string widths(int count, int width, int at = -1, int other = 0) {
    std::string s = "[";
    for (int c = 0; c < count; ++c) s += std::to_string(c == at ? other : width) + " ";
    return s + "]";
}

// A TrueType subset renumbered from code 1, as LibreOffice writes it: code
// 32 is the letter n, and the space is code 3.
std::vector<FixtureObject> subset_font() {
    return {object(10, "<< /Type /Font /Subtype /TrueType /BaseFont /BAAAAA+LiberationSerif "
                       "/FirstChar 0 /LastChar 40 /Widths " +
                           widths(41, 500, 3, 250) + " /ToUnicode 11 0 R >>"),
            stream_object(11, "",
                          to_unicode_cmap("5 beginbfchar <03> <0020> <1C> <0053> <20> <006E> "
                                          "<21> <0065> <22> <0063> endbfchar\n"
                                          "1 beginbfrange <23> <25> <0072> endbfrange"),
                          true)};
}

TEST(TextFonts, ASubsetWhoseCode32IsALetter) {
    // <1C21 22 23 21 25> spells "Secret" through ToUnicode (23 is r, 25 is t);
    // code 32 is "n", so the blank is the font's own space, code 3.
    PageFixture page("BT /F1 10 Tf 100 700 Td <1C2122232125> Tj <03> Tj <2021> Tj ET", "/Font << /F1 10 0 R >>",
                     subset_font());
    ASSERT_TRUE(page.loaded);
    EXPECT_EQ(extracted_text(page, "BT /F1 10 Tf <1C2122232125032021> Tj ET"), "secret ne");
    auto s = search(page, "Secret");
    ASSERT_EQ(s.rc, 1) << s.error;
    EXPECT_EQ(s.matches, 1);
    // The space is narrower, and the next show starts where this one ends:
    // a TJ number keeps that place.
    EXPECT_NE(s.content.find("[<030303030303> -1500 ] TJ <03> Tj <2021> Tj"), std::string::npos)
        << s.content;
    EXPECT_EQ(s.text, "ne");
}

// A Type0 font with two-byte codes: CID = code, widths from /W, text from
// ToUnicode (a bfrange in both forms, a surrogate pair, a ligature).
std::vector<FixtureObject> type0_font(bool with_to_unicode = true) {
    std::vector<FixtureObject> objs = {
        object(10, std::string("<< /Type /Font /Subtype /Type0 /BaseFont /AAAAAA+DejaVuSerif /Encoding "
                               "/Identity-H /DescendantFonts [12 0 R]") +
                       (with_to_unicode ? " /ToUnicode 11 0 R" : "") + " >>"),
        object(12, "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /AAAAAA+DejaVuSerif /DW 1000 "
                   "/W [3 [300] 40 60 600 0x 100 [700 800]] /CIDToGIDMap /Identity >>"),
        stream_object(11, "",
                      to_unicode_cmap("3 beginbfchar <0003> <0020> <0028> <0041> <005C> <0042> endbfchar\n"
                                      "2 beginbfrange <0030> <0039> <0061> <0064> <0066> "
                                      "[<0066006C> <D835DC9C> <0078>] endbfrange")),
    };
    return objs;
}

TEST(TextFonts, IdentityHWithWidthsAndToUnicode) {
    PageFixture page("BT /F2 10 Tf 100 700 Td <0031003200300033> Tj ET", "/Font << /F2 10 0 R >>", type0_font());
    ASSERT_TRUE(page.loaded);
    // 0x30..0x39 read a..j; 0x64 is the ligature "fl", 0x65 a mathematical
    // script A (a surrogate pair), 0x66 x.
    EXPECT_EQ(extracted_text(page, "BT /F2 10 Tf <003100320030 00640065 0066> Tj ET"), "bcafl?x");
    // In a literal string the two-byte codes hold the bytes 0x28 "(" and
    // 0x5C "\\": escaped, they still read as A and B.
    EXPECT_EQ(extracted_text(page, "BT /F2 10 Tf (\\000\\(\\000\\\\) Tj ET"), "ab");
    auto s = search(page, "BCAD");
    ASSERT_EQ(s.rc, 1) << s.error;
    EXPECT_EQ(s.matches, 1);
    // Blanked with the font's space, <0003>: the widths differ (600 against
    // 300), but nothing follows in the operation, so nothing moves.
    EXPECT_NE(s.content.find("<0003000300030003> Tj"), std::string::npos) << s.content;
    // Word spacing applies to the one-byte code 32 only: <0020> is a two-byte code.
    FontCache fonts;
    PageFixture spaced("BT /F2 10 Tf 5 Tw <00200031> Tj /F1 10 Tf ( ) Tj ET",
                       "/Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> /F2 10 0 R >>",
                       type0_font());
    const ContentTrace t = spaced.trace(fonts);
    ASSERT_EQ(t.glyphs.size(), 3u);
    EXPECT_NEAR(t.glyphs[1].tx, 10.0, 1e-6);  // /DW 1000 at size 10, no Tw
    // The advances, computed again from the codes, agree: the one-byte space
    // of the simple font takes the word spacing (2.78 + 5).
    EXPECT_FLOAT_EQ(trace_glyph_adv(t, t.ops[0], 0, t.glyphs[0].code), 10.0f);
    EXPECT_FLOAT_EQ(trace_glyph_adv(t, t.ops[1], 2, t.glyphs[2].code), 7.78f);
}

TEST(TextFonts, EncodingDifferencesLigaturesAndToUnicodeFillingEachOther) {
    // pdfTeX writes ligatures as their own codes: /Differences [2 /fi ...].
    const std::vector<FixtureObject> fonts = {
        object(10, "<< /Type /Font /Subtype /Type1 /BaseFont /CMR10 /FirstChar 0 /LastChar 255 "
                   "/Widths " + widths(256, 500) + " /Encoding << /Type /Encoding /BaseEncoding /WinAnsiEncoding "
                   "/Differences [2 /fi /f_f_i /uni00E9 /uni0041030A 48 /g123] >> /ToUnicode 11 0 R >>"),
        stream_object(11, "", to_unicode_cmap("1 beginbfchar <78> <0079> endbfchar")),
    };
    PageFixture page("BT /F1 10 Tf (\\002le) Tj ET", "/Font << /F1 10 0 R >>", fonts);
    ASSERT_TRUE(page.loaded);
    // ToUnicode wins where it maps (x reads y); the encoding fills its gaps;
    // a name without meaning (g123 at code 48) reads as nothing searchable.
    EXPECT_EQ(extracted_text(page, "BT /F1 10 Tf (\\002\\003\\004\\005x0a) Tj ET"), "fiffi?a?y?a");
    auto s = search(page, "file");
    ASSERT_EQ(s.rc, 1) << s.error;
    EXPECT_EQ(s.matches, 1);
    EXPECT_EQ(s.text, "");
    // A match that touches a ligature takes it whole.
    EXPECT_EQ(search(page, "ile").matches, 1);
}

TEST(TextMatching, KerningSplitsAndWordBreaks) {
    PageFixture page("BT /F1 10 Tf 100 700 Td "
                     // groff: a kerning split by Td ("Marlo" is 24.44 wide in Times)
                     "(Marlo) Tj 24.2 0 Td (we Shipping) Tj "
                     // Ghostscript: character spacing around a split ("Ke" is 10.76)
                     "0 -20 Td -0.45 Tc (Ke) Tj 0 Tc 10.6 0 Td (ith) Tj "
                     // monospaced pdfTeX: a word space written as a TJ number
                     "/F2 10 Tf 0 -20 Td [(Font) -600 (style)] TJ /F1 10 Tf "
                     // Ghostscript from groff: a sentence's end set with character
                     // spacing; the word goes on where the O's width ends, 6.249 back
                     // from the pen ('.' 2.5 and 'O' 7.22 wide)
                     "0 -20 Td 6.249 Tc (.O) Tj 0 Tc 15.9691 0 Td (ptions, if) Tj "
                     // negative character spacing beside a TJ number that makes up for it
                     "0 -20 Td -1 Tc [(Pro) -130 (vided)] TJ "
                     // letter-spaced capitals
                     "0 -20 Td 3 Tc (NOTICE) Tj 0 Tc "
                     // Ghostscript from groff: a space glyph word spacing makes 0.05 wide
                     "0 -20 Td -0.2 Tc -2.25 Tw (hav e) Tj 0 Tc 0 Tw 20 0 Td (any) Tj "
                     // cairo: a space glyph that a TJ number takes back (0.05 left)
                     "0 -20 Td [(is)20( )245(sue)] TJ "
                     // Ghostscript from groff: a word gap made by character spacing alone
                     "0 -20 Td (Befehl) Tj 26.66 0 Td 3.73 Tc (sd) Tj 0 Tc 12.62 0 Td (er Shell) Tj "
                     // tracking of 0.12 em, a cut some readers make and some do not
                     "0 -20 Td [(L)-120(e)-120(t)-120(t)-120(e)-120(r)-600(s)-120(e)-120(t)] TJ "
                     // a soft hyphen inside a line: /ActualText around a space taken back
                     "0 -20 Td (Mr. Okon) Tj /Span << /ActualText <FEFF00AD> >> BDC 39.44 0 Td ( ) Tj EMC "
                     "0 0 Td (kwo signed.) Tj ET",
                     "/Font << /F1 10 0 R /F2 11 0 R >>",
                     {object(10, "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman >>"),
                      object(11, "<< /Type /Font /Subtype /Type1 /BaseFont /Courier >>")});
    ASSERT_TRUE(page.loaded);
    const struct {
        const char *term;
        int matches;
    } cases[] = {
        {"Marlowe", 1}, {"Keith", 1}, {"fonts", 0}, {"font style", 1},
        {"Options, if", 1}, {"provided", 1}, {"notice", 1}, {"issue", 1},
        // A space too narrow to part words, and breaks readers differ on,
        // are taken both ways.
        {"have any", 1}, {"hav e", 1}, {"Befehls der", 1}, {"befehlsder", 1},
        {"letter set", 1}, {"l e t t e r", 1}, {"Okonkwo signed", 1},
        // The lines still break where the text moves down a line.
        {"style .options", 1}, {"style.options", 0},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(search(page, c.term).matches, c.matches) << c.term;
        EXPECT_EQ(search(page, c.term, WalkMode::kCount).matches, c.matches) << c.term << ", counted";
    }
}

TEST(TextMatching, LineBreaksAndHyphens) {
    PageFixture page("BT /F1 10 Tf 100 700 Td (a letter to Jane) Tj 0 -12 Td (Example, who com-) Tj "
                     "0 -12 Td (pressed it.) Tj ET",
                     "/Font << /F1 10 0 R >>",
                     {object(10, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>")});
    ASSERT_TRUE(page.loaded);
    // White space in the search text matches a line break.
    auto s = search(page, "Jane  Example");
    EXPECT_EQ(s.matches, 1);
    // One box per line of the match.
    EXPECT_EQ(pdftest::painted_boxes(s.content).size(), 2u) << s.content;
    // A word hyphenated at a line end is found whole, and as written.
    EXPECT_EQ(search(page, "compressed").matches, 1);
    EXPECT_EQ(search(page, "com-").matches, 1);
    // Counting finds exactly what redaction takes.
    EXPECT_EQ(search(page, "compressed", WalkMode::kCount).matches, 1);
}

TEST(TextMatching, SearchTextsAreUtf8OrSingleBytes) {
    PageFixture page("BT /F1 10 Tf (Caf\\351 CAF\\311 na\\357ve) Tj ET", "/Font << /F1 10 0 R >>",
                     {object(10, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding "
                                 "/WinAnsiEncoding >>")});
    ASSERT_TRUE(page.loaded);
    EXPECT_EQ(search(page, "caf\xC3\xA9").matches, 2);  // UTF-8, any case
    EXPECT_EQ(search(page, "na\xEFve").matches, 1);     // not UTF-8: Windows-1252
}

TEST(TextFonts, CodesThatCannotBeReadRefuseTextModeOnly) {
    // Identity-H without ToUnicode and without a program to read: no reader
    // can tell what these glyphs say.
    PageFixture page("BT /F2 10 Tf 100 700 Td <0031003200300033> Tj ET", "/Font << /F2 10 0 R >>",
                     type0_font(false));
    ASSERT_TRUE(page.loaded);
    auto s = search(page, "abcd");
    EXPECT_EQ(s.rc, -1);
    EXPECT_EQ(s.error, "page 1 shows text in the font AAAAAA+DejaVuSerif, whose codes cannot be read "
                       "\xE2\x80\x94 the text was not redacted");
    // Fewer such glyphs than the search text has letters cannot hide it.
    EXPECT_EQ(search(page, "abcde").rc, 1);
    // Region mode blanks them by place, with the font's own codes.
    const Region region{1, 0, 0, 612, 792};
    RedactJob job;
    job.regions = &region;
    job.region_count = 1;
    auto r = page.redact(job);
    ASSERT_EQ(r.rc, 1);
    EXPECT_NE(r.pages[0].find("<0000000000000000> Tj"), std::string::npos) << r.pages[0];

    // Text is matched stream by stream: three such glyphs on the page and
    // three in a form drawn twice hide no four-letter word.
    auto objs = type0_font(false);
    objs.push_back(stream_object(20, "/Type /XObject /Subtype /Form /BBox [0 0 612 792] "
                                     "/Resources << /Font << /F2 10 0 R >> >>",
                                 "BT /F2 10 Tf 100 600 Td <003100320030> Tj ET"));
    PageFixture forms("BT /F2 10 Tf 100 700 Td <003100320030> Tj ET /X1 Do q 1 0 0 1 0 -50 cm /X1 Do Q",
                      "/Font << /F2 10 0 R >> /XObject << /X1 20 0 R >>", objs);
    ASSERT_TRUE(forms.loaded);
    EXPECT_EQ(search(forms, "abcd").rc, 1);
    EXPECT_EQ(search(forms, "abc").rc, -1);
}

// Owners are packed as steps from the glyph before; reading them back in
// any order (forward, back across blocks, far ahead) gives what was pushed.
TEST(TextMatching, CharacterOwnersReadBackInAnyOrder) {
    std::vector<CharOwner> pushed;
    for (int32_t g = 0; g < 300; ++g) {
        pushed.push_back(g);                               // the next glyph
        if (g % 7 == 0) pushed.push_back(g);               // a ligature: the same glyph again
        if (g % 5 == 0) pushed.push_back(kNoOwner);        // an added word break
        if (g % 11 == 0) pushed.push_back(span_owner(g));  // alternate text
        if (g % 13 == 0) g += 3;                           // glyphs with no text
    }
    pushed.push_back(2);  // a glyph owner going back
    pushed.push_back(3);
    OwnerList list;
    for (const CharOwner o : pushed) owner_list_push(list, o);
    ASSERT_EQ(list.steps.size(), pushed.size());
    EXPECT_LT(list.others.size(), pushed.size() / 4);
    const auto n = static_cast<int32_t>(pushed.size());
    std::vector<int32_t> order;
    for (int32_t c = 0; c < n; ++c) order.push_back(c);
    for (int32_t c = n - 1; c >= 0; c -= 3) order.push_back(c);
    for (int32_t c = 0; c < n; c += 97) order.push_back(n - 1 - c);
    OwnerReader reader{&list};
    for (const int32_t c : order) ASSERT_EQ(owner_at(reader, c), pushed[static_cast<size_t>(c)]) << "character " << c;
}

TEST(TextMatching, ManyTermsInOnePass) {
    PageFixture page("BT /F1 10 Tf (Jane Doe met jane doe and John) Tj ET", "/Font << /F1 10 0 R >>",
                     {object(10, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>")});
    ASSERT_TRUE(page.loaded);
    SearchSet set;
    for (const char *term : {"Jane Doe", "doe", "John", "jane", "absent", "DOE"}) search_set_add(set, term);
    search_set_build(set);
    RedactJob job;
    job.search = &set;
    auto r = page.redact(job);
    ASSERT_EQ(r.rc, 1);
    // Each term counts its own occurrences, overlapping other terms' or not;
    // a term given twice counts twice.
    EXPECT_EQ(r.walk.term_matches, (std::vector<int64_t>{2, 2, 1, 2, 0, 2}));
    EXPECT_EQ(r.walk.matches, 9);
    EXPECT_EQ(extracted_text(page, r.pages[0]), "met and ");
}

TEST(TextMatching, EveryOccurrenceInEitherReadingIsTaken) {
    // Random texts of a few letters, hyphens and the three kinds of breaks:
    // every occurrence of a term, in the text as it stands and in the text
    // read with its soft breaks and line-end hyphens passed over, must
    // overlap a reported match of that term; every match is an occurrence.
    const std::vector<std::string> terms = {"ab", "a b", "aba", "b-a", "abab", "ab ba"};
    SearchSet set;
    std::vector<std::u32string> patterns;
    for (const std::string &t : terms) {
        search_set_add(set, t.c_str());
        SearchPattern p;
        ASSERT_TRUE(search_pattern_make(t.c_str(), p));
        patterns.push_back(p.chars);
    }
    search_set_build(set);
    const char32_t alphabet[] = {'a', 'b', 'a', 'b', '-', kSeparator, kLineSeparator, kSoftSeparator};
    uint32_t seed = 12345;
    auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
    for (int round = 0; round < 400; ++round) {
        StreamText text;
        const size_t length = 1 + next() % (round < 300 ? 40 : 400);
        for (size_t i = 0; i < length; ++i) text.chars += alphabet[next() % std::size(alphabet)];
        std::vector<TextMatch> found;
        find_matches(text, set, found);
        const std::u32string &c = text.chars;
        // Both readings, each as the text indices it reads.
        std::vector<int32_t> plain(c.size()), joined;
        for (size_t i = 0; i < c.size(); ++i) {
            plain[i] = static_cast<int32_t>(i);
            const bool line_end_hyphen = (c[i] == '-' && i + 1 < c.size() && c[i + 1] == kLineSeparator) ||
                                         (c[i] == kLineSeparator && i > 0 && c[i - 1] == '-');
            if (c[i] != kSoftSeparator && !line_end_hyphen) joined.push_back(static_cast<int32_t>(i));
        }
        auto same = [](char32_t a, char32_t b) { return (is_separator(a) && b == kSeparator) || a == b; };
        for (const std::vector<int32_t> *reading : {&plain, &joined}) {
            for (size_t t = 0; t < patterns.size(); ++t) {
                const std::u32string &p = patterns[t];
                for (size_t at = 0; at + p.size() <= reading->size(); ++at) {
                    bool occurs = true;
                    for (size_t k = 0; k < p.size() && occurs; ++k)
                        occurs = same(c[static_cast<size_t>((*reading)[at + k])], p[k]);
                    if (!occurs) continue;
                    const int32_t first = (*reading)[at], end = (*reading)[at + p.size() - 1] + 1;
                    const bool taken = std::any_of(found.begin(), found.end(), [&](const TextMatch &m) {
                        return m.term == static_cast<int32_t>(t) && m.first < end && first < m.end;
                    });
                    ASSERT_TRUE(taken) << "round " << round << ": term " << t << " at " << first << "-" << end;
                }
            }
        }
        for (const TextMatch &m : found) {
            // The characters a reading takes from the match's range spell its term.
            const std::u32string &p = patterns[static_cast<size_t>(m.term)];
            bool spelled = false;
            for (const std::vector<int32_t> *reading : {&plain, &joined}) {
                const auto from = std::lower_bound(reading->begin(), reading->end(), m.first);
                const auto to = std::lower_bound(reading->begin(), reading->end(), m.end);
                if (static_cast<size_t>(to - from) != p.size() || *from != m.first || *(to - 1) != m.end - 1) continue;
                spelled = std::equal(from, to, p.begin(), [&](int32_t i, char32_t pc) {
                    return same(c[static_cast<size_t>(i)], pc);
                });
                if (spelled) break;
            }
            ASSERT_TRUE(spelled) << "round " << round << ": match " << m.first << "-" << m.end;
        }
        for (size_t i = 1; i < found.size(); ++i) ASSERT_LE(found[i - 1].first, found[i].first);
    }
}

TEST(TextVerification, ReadsRewrittenStreamsThroughTheirFonts) {
    // The form's text is compressed and two-byte: no byte scan sees it.
    std::vector<FixtureObject> objs = type0_font();
    objs.push_back(stream_object(20,
                                 "/Type /XObject /Subtype /Form /BBox [0 0 612 792] /Resources << /Font << "
                                 "/F2 10 0 R >> >>",
                                 "BT /F2 10 Tf 100 700 Td <0031003200300033> Tj ET", true));
    objs.push_back(stream_object(21, "/Type /XObject /Subtype /Form /BBox [0 0 612 792]",
                                 "BT /F2 10 Tf 100 700 Td <0031003200300033> Tj ET", true));
    PageFixture page("BT /F2 10 Tf <0031003200300033> Tj ET", "/Font << /F2 10 0 R >>", objs);
    ASSERT_TRUE(page.loaded);
    SearchSet set;
    search_set_add(set, "bcad");
    search_set_build(set);
    RedactJob job;
    job.search = &set;
    const std::string dash = " \xE2\x80\x94 no output written";
    // A form that claims to be rewritten, with its own resources.
    WalkResult walk;
    walk.rewritten.emplace_back(20, PdfObj{});
    EXPECT_EQ(verify_rewritten(page.doc, job, walk, {}), -1);
    EXPECT_EQ(std::string(g_err),
              "redaction incomplete: the search text still appears in the Form XObject stream (object 20)" + dash);
    // A form without resources is read with those it was redacted with.
    walk.rewritten.assign(1, {21, page_resources(page.doc, 3)});
    EXPECT_EQ(verify_rewritten(page.doc, job, walk, {}), -1);
    walk.rewritten.assign(1, {21, PdfObj{}});
    EXPECT_EQ(verify_rewritten(page.doc, job, walk, {}), 1);  // no font: other codes
    // A page's new content, with the page's resources.
    walk.rewritten.clear();
    EXPECT_EQ(verify_rewritten(page.doc, job, walk, {100}), -1);
    EXPECT_EQ(std::string(g_err),
              "redaction incomplete: the search text still appears in the page 1 content stream" + dash);
    EXPECT_EQ(verify_rewritten(page.doc, job, walk, {0}), 1);  // unchanged pages are not read again
}

}  // namespace
