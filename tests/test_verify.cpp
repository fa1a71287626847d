// The residual-text verification: which occurrences of the search text are
// tolerated, the label that names a surviving one, and the check over an
// output built by the writer.
#include <gtest/gtest.h>

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
        Buf out;
        std::vector<UnscannedRange> unscanned;
        ASSERT_EQ(build_output(doc, plan, out, unscanned), 1) << g_err;
        const std::string bytes(reinterpret_cast<const char *>(out.data.get()), out.len);
        EXPECT_NE(bytes.find(c.data), std::string::npos);
        EXPECT_EQ(verdict(bytes, "SECRET", unscanned), c.label);
        doc_free(doc);
    }
}

}  // namespace
