// The residual-text verification: which occurrences of the search text are
// tolerated, the label that names a surviving one, and the check over an
// output built by the writer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "api.h"
#include "document.h"
#include "pdf_builder.h"
#include "verify.h"
#include "writer.h"

namespace {

using pdftest::PdfBuilder;
using pdftest::TempFile;

// An output file around the given objects, laid out as the writer lays it.
std::string output_with(const std::string &objects) {
    return std::string("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n") + objects +
           "xref\n0 1\n0000000000 65535 f \ntrailer\n<< /Size 1 /Root 1 0 R "
           ">>\nstartxref\n9\n%%EOF\n";
}

std::string message(const std::string &label) {
    return "redaction incomplete: the search text still appears in " + label +
           " — no output written";
}

// "" when the output passes, else the label of the failure.
std::string verdict(const std::string &out, const char *search,
                    const std::vector<UnscannedRange> &unscanned = {}) {
    clear_error();
    const int rc = verify_output(reinterpret_cast<const unsigned char *>(out.data()),
                                 static_cast<int32_t>(out.size()), search, unscanned);
    if (rc == 1) {
        EXPECT_STREQ(g_err, "");
        return "";
    }
    const std::string error = g_err;
    const std::string head = message("");
    const std::string prefix = head.substr(0, head.find(" — "));
    EXPECT_EQ(error.compare(0, prefix.size(), prefix), 0) << error;
    const std::string label = error.substr(prefix.size());
    EXPECT_EQ(message(label.substr(0, label.find(" — "))), error);
    return label.substr(0, label.find(" — "));
}

TEST(VerifyOutput, ToleratedAndSurvivingOccurrences) {
    struct Case {
        const char *name;
        std::string objects;
        const char *search;
        const char *label;  // "" passes; nullptr fails with any label
    };
    const std::string js =
        "3 0 obj\n<< /Length 19 >>\nstream\napp.alert('Secret')\nendstream\nendobj\n";
    const Case cases[] = {
        {"names", "1 0 obj\n<< /BaseFont /Helvetica-Bold /F /Helvetica >>\nendobj\n", "helvetica",
         ""},
        {"comment line", "1 0 obj\n<< >>\nendobj\n \t% Secret note\n", "secret", ""},
        {"the header", "1 0 obj\n<< >>\nendobj\n", "%pdf", ""},
        {"/T value", "1 0 obj\n<< /T (a Secret) >>\nendobj\n", "Secret", ""},
        {"/T value without a space", "1 0 obj\n<< /T(a Secret) >>\nendobj\n", "Secret", ""},
        {"/Title value, nested parentheses", "1 0 obj\n<< /Title (x (y) Secret) >>\nendobj\n",
         "Secret", ""},
        {"/T value after an escaped parenthesis", "1 0 obj\n<< /T (a \\) Secret) >>\nendobj\n",
         "Secret", ""},
        {"/T value after an escaped opening", "1 0 obj\n<< /V (x) /T (a \\( Secret) >>\nendobj\n",
         "Secret", ""},
        // Two backslashes escape each other: the string ends before the text.
        {"after an escaped backslash", "1 0 obj\n<< /V (x) /T (a \\\\) Secret) >>\nendobj\n",
         "Secret", nullptr},
        {"/V value of a field", "1 0 obj\n<< /FT /Tx /T (name) /V (Secret) >>\nendobj\n", "Secret",
         "a form field dictionary"},
        {"/V value of a widget", "1 0 obj\n<< /Subtype /Widget /V (Secret) >>\nendobj\n", "Secret",
         "a form field dictionary"},
        {"/T value nested deeper than strings are followed",
         "1 0 obj\n<< /T (" + std::string(5000, '(') + "Secret" + std::string(5001, ')') +
             " >>\nendobj\n",
         "Secret", nullptr},
        {"/TX is not /T", "1 0 obj\n<< /TX (Secret) >>\nendobj\n", "Secret", nullptr},
        {"text outside any string", "1 0 obj\n<< /T (x) >> Secret\nendobj\n", "Secret", nullptr},
        {"unfiltered stream", js, "secret", "an undecoded stream"},
        {"image stream",
         "5 0 obj\n<< /Subtype /Image /Length 6 >>\nstream\nSecret\nendstream\nendobj\n", "Secret",
         "an image stream"},
        {"form stream",
         "5 0 obj\n<< /Subtype /Form /Length 6 >>\nstream\nSecret\nendstream\nendobj\n", "Secret",
         "a Form XObject stream"},
        {"metadata stream",
         "5 0 obj\n<< /Type /Metadata /Length 6 >>\nstream\nSecret\nendstream\nendobj\n", "Secret",
         "the XMP metadata stream"},
        {"array object", "4 0 obj\n[(Secret)]\nendobj\n", "Secret", "object 4"},
        // The label names the object that holds the match, never the
        // dictionary or stream of an object after it.
        {"array object before a field",
         "4 0 obj\n[(Secret)]\nendobj\n5 0 obj\n<< /FT /Tx >>\nendobj\n", "Secret", "object 4"},
        {"dictionary before a stream",
         "2 0 obj\n<< /Type /Page /Annots [<< /Contents (Secret) >>] >>\nendobj\n" + js, "Secret",
         "object 2"},
        {"dictionary before an image",
         "2 0 obj\n<< /A (Secret) >>\nendobj\n"
         "5 0 obj\n<< /Subtype /Image /Length 1 >>\nstream\nx\nendstream\nendobj\n",
         "Secret", "object 2"},
        {"field dictionary naming /FT after the value",
         "1 0 obj\n<< /V (Secret) /FT /Tx >>\nendobj\n", "Secret", "a form field dictionary"},
        {"keyword obj", "1 0 obj\n<< >>\nendobj\n", "obj", "the output file"},
        {"keyword stream", js, "stream", nullptr},
        {"keyword trailer", "1 0 obj\n<< >>\nendobj\n", "TRAILER", nullptr},
        {"letters folded", "3 0 obj\n<< /Length 14 >>\nstream\n(SECRET) Tj ET\nendstream\nendobj\n",
         "secret", "an undecoded stream"},
        {"bytes above 127 differ", "1 0 obj\n[(caf\xC9)]\nendobj\n", "caf\xE9", ""},
        {"bytes above 127 equal", "1 0 obj\n[(CAF\xE9)]\nendobj\n", "caf\xE9", "object 1"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string label = verdict(output_with(c.objects), c.search);
        if (c.label == nullptr)
            EXPECT_NE(label, "");
        else
            EXPECT_EQ(label, c.label);
    }
}

TEST(VerifyOutput, UnscannedRangesAreSkipped) {
    const std::string out =
        output_with("3 0 obj\n<< /Length 19 >>\nstream\napp.alert('Secret')\nendstream\nendobj\n");
    const int32_t data = static_cast<int32_t>(out.find("app.alert"));
    // Only the first byte of a match is tested against the ranges.
    EXPECT_EQ(verdict(out, "Secret", {{0, 5}, {data, 19}}), "");
    EXPECT_EQ(verdict(out, "Secret", {{data, 12}}), "");
    EXPECT_EQ(verdict(out, "Secret", {{data, 11}}), "an undecoded stream");
    EXPECT_EQ(verdict(out, "Secret", {{data + 11, 8}, {0, 5}}), "");  // out of order
}

// The writer's ranges over a real output: a stream with a /Filter is copied
// unchanged and not read; the same text unfiltered is found, also beside
// bytes above 127.
TEST(VerifyOutput, OverABuiltOutput) {
    struct Case {
        const char *entries;
        const char *data;
        const char *label;
    };
    const Case cases[] = {
        {"/Filter /LZWDecode", "app.alert('secret')", ""},
        {"", "app.alert('secret')", "an undecoded stream"},
        {"", "app.alert('caf\xC3\xA9 secret')", "an undecoded stream"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.data);
        PdfBuilder pdf;
        pdf.obj(1, "<< /Type /Catalog /Pages 2 0 R /Names << /JS 3 0 R >> /T (Secret) >>")
            .obj(2, "<< /Type /Pages /Kids [] /Count 0 /Helvetica-Secret 1 >>")
            .stream(3, c.entries, c.data);
        TempFile file(pdf.bytes());
        Doc doc;
        ASSERT_EQ(doc_load(file.c_str(), doc), 0) << g_err;
        OutputPlan plan;
        plan.last_num = doc.max_obj_num;
        Doc written;
        std::vector<UnscannedRange> unscanned;
        ASSERT_EQ(build_output(doc, plan, written, unscanned), 1) << g_err;
        const std::string bytes(written.data.begin(), written.data.end());
        EXPECT_NE(bytes.find(c.data), std::string::npos);
        EXPECT_EQ(verdict(bytes, "SECRET", unscanned), c.label);
        doc_free(doc);
    }
}

// What the one-term check says of each term in turn, stopping at the first
// refusal: the verdict and message the scan over all terms must give.
std::pair<int, std::string> term_by_term(const std::string &out, const std::vector<std::string> &terms,
                                         const std::vector<UnscannedRange> &unscanned) {
    const auto *b = reinterpret_cast<const unsigned char *>(out.data());
    for (const std::string &term : terms) {
        clear_error();
        if (verify_output(b, static_cast<int32_t>(out.size()), term.c_str(), unscanned) == 0)
            return {0, g_err};
    }
    return {1, ""};
}

std::pair<int, std::string> all_at_once(const std::string &out, const std::vector<std::string> &terms,
                                        const std::vector<UnscannedRange> &unscanned) {
    clear_error();
    const int rc = verify_output_terms(reinterpret_cast<const unsigned char *>(out.data()),
                                       static_cast<int32_t>(out.size()), terms, unscanned);
    return {rc, g_err};
}

TEST(VerifyOutputTerms, TheFirstRefusedTermInTheCallersOrderNamesThePlace) {
    const std::string out = output_with(
        "1 0 obj\n<< /T (Secret) /Helvetica 1 >>\nendobj\n"
        "4 0 obj\n[(Helvetica) (secret)]\nendobj\n"
        "5 0 obj\n<< /Subtype /Image /Length 9 >>\nstream\nHelvetica\nendstream\nendobj\n");
    struct Case {
        std::vector<std::string> terms;
        const char *label;  // "" passes
    };
    const Case cases[] = {
        {{}, ""},
        {{"", "absent"}, ""},
        {{"secret", "helvetica"}, "object 4"},  // the name and the /T value are tolerated
        // The image comes after object 4, but the first term decides.
        {{"etica\nend", "helvetica"}, "an image stream"},
        {{"absent", "ETICA\nEND", "secret"}, "an image stream"},
        {{"Secret", "secret", "SECRET"}, "object 4"},
        {{std::string(out.size() + 1, 'x'), "secret"}, "object 4"},  // longer than the output
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.terms));
        const auto [rc, message_text] = all_at_once(out, c.terms, {});
        EXPECT_EQ(rc, c.label[0] == '\0' ? 1 : 0);
        EXPECT_EQ(message_text, c.label[0] == '\0' ? "" : message(c.label));
        EXPECT_EQ(term_by_term(out, c.terms, {}), std::make_pair(rc, message_text));
    }
}

// Outputs made of the pieces the tolerance rules look at (names, comments,
// strings of listed keys, escapes, object headers, streams), searched for
// terms made of the same pieces: the one scan and the term-by-term checks
// agree on every verdict and message, with and without unscanned ranges.
TEST(VerifyOutputTerms, AgreesWithTheOneTermCheckOnGeneratedOutputs) {
    std::mt19937 rng(20240611);
    const std::vector<std::string> pieces = {
        "a", "b", "A", "B", "ab", " ", "\n", "\r", "\t", "(", ")", "\\", "/", "/T ", "/Title",
        "/TU(", "%", " obj", "1 0 obj\n", "endobj\n", "<<", ">>", "stream\n", "/Subtype /Image ",
        "/FT ", "\xE9", "\xC9"};
    const std::vector<std::string> term_pieces = {"a", "b", "A", "ab", "ba", " ", "(", ")", "/",
                                                  "\n", "%", "\xE9", "obj"};
    const auto pick = [&](const std::vector<std::string> &from) {
        return from[std::uniform_int_distribution<size_t>(0, from.size() - 1)(rng)];
    };
    int refused = 0;
    for (int round = 0; round < 400; ++round) {
        std::string out;
        const int length = std::uniform_int_distribution<int>(1, 120)(rng);
        for (int k = 0; k < length; ++k) out += pick(pieces);
        std::vector<std::string> terms(std::uniform_int_distribution<size_t>(1, 12)(rng));
        for (std::string &term : terms) {
            const int parts = std::uniform_int_distribution<int>(0, 4)(rng);
            for (int k = 0; k < parts; ++k) term += pick(term_pieces);
        }
        std::vector<UnscannedRange> unscanned;
        const int ranges = std::uniform_int_distribution<int>(0, 3)(rng);
        for (int k = 0; k < ranges; ++k) {
            const int32_t size = static_cast<int32_t>(out.size());
            const int32_t start = std::uniform_int_distribution<int32_t>(0, size - 1)(rng);
            unscanned.push_back({start, std::uniform_int_distribution<int32_t>(0, size - start)(rng)});
        }
        SCOPED_TRACE(testing::PrintToString(out) + " " + testing::PrintToString(terms));
        const auto expected = term_by_term(out, terms, unscanned);
        EXPECT_EQ(all_at_once(out, terms, unscanned), expected);
        refused += expected.first == 0;
    }
    // Both verdicts are well represented.
    EXPECT_GT(refused, 80);
    EXPECT_LT(refused, 320);
}

// The scan skips the inside of unscanned ranges: an occurrence that starts
// just before a range, one that starts in it and ends after it, and ranges
// shorter than a term, side by side or overlapping, get the verdict of the
// one-term checks, for every place of one range and of two.
TEST(VerifyOutputTerms, AgreesWhereverTheUnscannedRangesLie) {
    const std::string out = "xx secret y secretsecret z sec";
    const std::vector<std::string> terms = {"secret", "tse", "cr"};
    const auto size = static_cast<int32_t>(out.size());
    std::vector<std::vector<UnscannedRange>> layouts;
    for (int32_t start = 0; start < size; ++start)
        for (int32_t len = 0; start + len <= size; ++len) layouts.push_back({{start, len}});
    for (int32_t a = 0; a < size; a += 3)
        for (int32_t b = 0; b < size; b += 2) layouts.push_back({{a, 4}, {b, 3}});
    int refused = 0;
    for (const auto &ranges : layouts) {
        SCOPED_TRACE(testing::Message() << ranges[0].start << "+" << ranges[0].len
                                        << (ranges.size() > 1 ? " and more" : ""));
        const auto expected = term_by_term(out, terms, ranges);
        EXPECT_EQ(all_at_once(out, terms, ranges), expected);
        refused += expected.first == 0;
    }
    EXPECT_GT(refused, 0);
    EXPECT_LT(refused, static_cast<int>(layouts.size()));
}

// Hosts set their own locale. In an 8-bit Turkish one the upper case of i
// is not I, and the output check must still find "INDIA" for "india".
TEST(VerifyOutputTerms, FoldsCaseAsTheSearchDoesWhateverTheLocale) {
    const std::filesystem::path locales =
        std::filesystem::temp_directory_path() / ("inkveil-locales-" + std::to_string(::getpid()));
    std::filesystem::create_directories(locales);
    const std::string make = "localedef -i tr_TR -f ISO-8859-9 '" + (locales / "tr_TR.ISO-8859-9").string() +
                             "' >/dev/null 2>&1";
    (void)std::system(make.c_str());  // it may warn about the locale sources and still write the locale
    ::setenv("LOCPATH", locales.c_str(), 1);
    const bool turkish = std::setlocale(LC_CTYPE, "tr_TR.ISO-8859-9") != nullptr;
    const std::string out = output_with("4 0 obj\n[(INDIA) (Iraq)]\nendobj\n");
    const auto india = all_at_once(out, {"india"}, {});
    const auto iraq = all_at_once(out, {"absent", "iraq"}, {});
    std::setlocale(LC_CTYPE, "C");
    ::unsetenv("LOCPATH");
    std::filesystem::remove_all(locales);
    if (!turkish) GTEST_SKIP() << "no tr_TR locale to build";
    EXPECT_EQ(india, std::make_pair(0, message("object 4")));
    EXPECT_EQ(iraq, std::make_pair(0, message("object 4")));
}

}  // namespace
