// End to end through the public C interface: files made by real PDF tools are
// counted and redacted, and every output is examined with independent tools
// (qpdf, pdftotext, pdfinfo, pdffonts, pdfimages, pdfdetach). A test whose
// tool is missing is skipped with the tool's name.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "inkveil.h"
#include "pdf_builder.h"

namespace {

using pdftest::PdfBuilder;
using pdftest::TempFile;
using pdftest::file_exists;
using pdftest::free_path;
using pdftest::read_file;

std::string fixture(const std::string &name) {
    return std::string(INKVEIL_FIXTURES) + "/" + name;
}

const std::string kLetter = fixture("../../samples/letter.pdf");



struct Tool {
    int status = -1;  // exit status, -1 when the command did not exit normally
    std::string out;  // standard output and error together
};

Tool run(const std::string &command) {
    TempFile capture("");
    const int rc = std::system((command + " >'" + capture.path + "' 2>&1").c_str());
    Tool r;
    r.status = rc != -1 && WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    r.out = read_file(capture.path);
    return r;
}

std::string q(const std::string &path) {
    return "'" + path + "'";
}

const char *first_missing_tool(std::initializer_list<const char *> tools) {
    for (const char *tool : tools)
        if (std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) != 0)
            return tool;
    return nullptr;
}

#define REQUIRE_TOOLS(...)                                            \
    do {                                                              \
        if (const char *missing_ = first_missing_tool({__VA_ARGS__})) \
            GTEST_SKIP() << missing_ << " not installed";             \
    } while (0)

std::string lower(std::string s) {
    for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Non-overlapping occurrences of `needle`, ASCII case ignored.
int count_ci(const std::string &hay, const std::string &needle) {
    const std::string h = lower(hay), n = lower(needle);
    int count = 0;
    for (size_t p = h.find(n); p != std::string::npos; p = h.find(n, p + n.size())) ++count;
    return count;
}

bool contains(const std::string &hay, const std::string &needle) {
    return hay.find(needle) != std::string::npos;
}

std::string pdftotext(const std::string &path) {
    const Tool r = run("pdftotext " + q(path) + " -");
    EXPECT_EQ(r.status, 0) << r.out;
    return r.out;
}

int page_count(const std::string &path) {
    const Tool r = run("pdfinfo " + q(path));
    const size_t at = r.out.find("\nPages:");
    return at == std::string::npos ? -1 : std::atoi(r.out.c_str() + at + 7);
}

// The rows of a table that `tool` prints for `path` under a heading and a
// rule, each row cut to its first `columns` fields.
std::vector<std::string> table_rows(const std::string &tool, const std::string &path, int columns) {
    const Tool r = run(tool + " " + q(path));
    EXPECT_EQ(r.status, 0) << r.out;
    std::vector<std::string> rows;
    std::istringstream lines(r.out);
    std::string line;
    for (int n = 0; std::getline(lines, line); ++n) {
        if (n < 2 || line.empty()) continue;
        std::istringstream fields(line);
        std::string field, row;
        for (int k = 0; k < columns && fields >> field; ++k) row += field + " ";
        rows.push_back(row);
    }
    return rows;
}

// Page, index, type, width, height, colour, components, bits and encoding of
// each image: all but the object number, size and ratio.
std::vector<std::string> image_rows(const std::string &path) {
    return table_rows("pdfimages -list", path, 9);
}

std::vector<std::string> font_names(const std::string &path) {
    std::vector<std::string> names = table_rows("pdffonts", path, 1);
    std::sort(names.begin(), names.end());
    return names;
}

// What every output must be: a PDF 1.4 file that qpdf finds sound, with the
// input's pages, fonts and images, and without the document information.
void expect_sound_output(const std::string &input, const std::string &output) {
    const std::string bytes = read_file(output);
    EXPECT_EQ(bytes.compare(0, 8, "%PDF-1.4"), 0);
    const Tool check = run("qpdf --check " + q(output));
    EXPECT_EQ(check.status, 0) << check.out;
    EXPECT_FALSE(contains(lower(check.out), "warning")) << check.out;
    EXPECT_TRUE(contains(check.out, "No syntax or stream encoding errors found")) << check.out;
    EXPECT_EQ(page_count(output), page_count(input));
    EXPECT_EQ(font_names(output), font_names(input));
    EXPECT_EQ(image_rows(output), image_rows(input));
    const std::string info = "\n" + run("pdfinfo " + q(output)).out;
    for (const char *key : {"Title:", "Author:", "Creator:", "Producer:"})
        EXPECT_FALSE(contains(info, std::string("\n") + key)) << info;
}

// The whole output uncompressed by qpdf, objects that nothing refers to
// included, so that any text left anywhere in it is plain.
std::string qdf_text(const std::string &path) {
    TempFile qdf("");
    const Tool r = run("qpdf --qdf --object-streams=disable --preserve-unreferenced " + q(path) +
                       " " + q(qdf.path));
    EXPECT_EQ(r.status, 0) << r.out;
    return read_file(qdf.path);
}

// ---------------------------------------------------------------- counting

TEST(E2eCount, AFormDrawnOnTwoPagesCountsOnce) {
    const std::string file = fixture("form-xobject.pdf");
    EXPECT_EQ(inkveil_count_matches(nullptr, "x"), -1);  // leaves a message behind
    EXPECT_EQ(inkveil_count_matches(file.c_str(), "search word"), 3);
    EXPECT_STREQ(inkveil_last_error(), "");
    EXPECT_EQ(inkveil_count_matches(file.c_str(), "SEARCH WORD"), 3);
}

TEST(E2eCount, TextOutsideThePagesAndFormsIsNotCounted) {
    const struct {
        const char *search;
        int count;
    } cases[] = {
        {"Info title marker", 0},
        {"Bookmark beta marker", 0},
        {"Bookmark alpha child marker", 0},
        {"Xmp title marker", 0},
        {"Attached body marker", 0},
        {"Comment text marker", 0},
        {"Field default marker", 0},
        {"link-target-marker", 0},
        {"Field value marker", 1},  // shown by the widget's appearance
        {"Page two carries", 1},
    };
    for (const char *name : {"hidden-info.pdf", "hidden-info-objstm.pdf"}) {
        const std::string file = fixture(name);
        for (const auto &c : cases) {
            SCOPED_TRACE(std::string(name) + ": " + c.search);
            EXPECT_EQ(inkveil_count_matches(file.c_str(), c.search), c.count)
                << inkveil_last_error();
        }
    }
}

TEST(E2eCount, RealFilesCountWhatPdftotextShows) {
    REQUIRE_TOOLS("pdftotext");
    const struct {
        const char *file;
        std::vector<const char *> words;
    } cases[] = {
        {"ps2pdf-report.pdf", {"plover", "the", "report", "page"}},
        {"ps2pdf.pdf", {"page", "postscript"}},
        {"contents-array.pdf", {"stream", "ocelot"}},
        {"../../samples/letter.pdf", {"secret", "statement"}},
    };
    for (const auto &c : cases) {
        const std::string file = fixture(c.file);
        const std::string text = pdftotext(file);
        for (const char *word : c.words) {
            SCOPED_TRACE(std::string(c.file) + ": " + word);
            ASSERT_GT(count_ci(text, word), 0);
            EXPECT_EQ(inkveil_count_matches(file.c_str(), word), count_ci(text, word))
                << inkveil_last_error();
        }
    }
}

TEST(E2eCount, NullPathIsReportedBeforeAnEmptySearch) {
    EXPECT_EQ(inkveil_count_matches(nullptr, ""), -1);
    EXPECT_STREQ(inkveil_last_error(), "NULL path argument");
}

// ------------------------------------------------------------ redaction

// One redaction call, the input's bytes compared before and after.
struct Redacted {
    TempFile output = free_path();
    int rc = 0;
    std::string error;
};

Redacted redact_text(const std::string &input, const char *search) {
    const std::string before = read_file(input);
    Redacted r;
    r.rc = inkveil_text(input.c_str(), r.output.c_str(), search, 0, 0, 0);
    r.error = inkveil_last_error();
    EXPECT_EQ(read_file(input), before) << "the input file changed";
    return r;
}

Redacted redact_regions(const std::string &input, const std::vector<Region> &regions) {
    const std::string before = read_file(input);
    Redacted r;
    r.rc = inkveil_regions(input.c_str(), r.output.c_str(), regions.data(),
                           static_cast<int>(regions.size()), 0, 0, 0);
    r.error = inkveil_last_error();
    EXPECT_EQ(read_file(input), before) << "the input file changed";
    return r;
}

// A written, sound output whose text has lost every `gone` text (ASCII case
// ignored) and kept every `kept` text.
void expect_redacted(const std::string &input, const Redacted &r,
                     const std::vector<const char *> &gone, const std::vector<const char *> &kept) {
    ASSERT_EQ(r.rc, 1) << r.error;
    EXPECT_EQ(r.error, "");
    expect_sound_output(input, r.output.path);
    const std::string text = pdftotext(r.output.path);
    for (const char *word : gone) EXPECT_EQ(count_ci(text, word), 0) << word << "\n" << text;
    for (const char *word : kept) EXPECT_TRUE(contains(text, word)) << word << "\n" << text;
}

TEST(E2eText, TheWordLeavesRealFilesAndTheRestStays) {
    REQUIRE_TOOLS("qpdf", "pdftotext", "pdfinfo", "pdffonts", "pdfimages");
    const struct {
        const char *file;
        const char *search;
        std::vector<const char *> kept;  // other text of the same pages
    } cases[] = {
        {"ps2pdf-report.pdf",
         "plover",
         {"Ghostscript field report", "The password is", "and it opens the gate.",
          "Nobody should write", "on a sticky note.", "harmless weather notes"}},
        {"ps2pdf.pdf", "second", {"First page from PostScript", "page from PostScript"}},
        {"form-xobject.pdf",
         "search word",
         {"Find the", "here.", "Another", "sits on this line.", "The form repeats the",
          "Page three draws the form."}},
        {"contents-array.pdf", "ocelot", {"The first stream says hello.", "The second stream"}},
        {"hidden-info-objstm.pdf",
         "field value marker",
         {"Page one shows an account form.", "Page two carries a reviewer note."}},
        {"../../samples/letter.pdf",
         "secret",
         {"Quarterly statement", "Jane Example", "Account number: 4242", "1234", "The word",
          "appears once more in this line."}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        const std::string input = fixture(c.file);
        const Redacted r = redact_text(input, c.search);
        expect_redacted(input, r, {c.search}, c.kept);
        EXPECT_EQ(inkveil_count_matches(r.output.c_str(), c.search), 0) << inkveil_last_error();
    }
}

TEST(E2eRegion, TextUnderTheRectanglesLeavesRealFilesAndTheRestStays) {
    REQUIRE_TOOLS("qpdf", "pdftotext", "pdfinfo", "pdffonts", "pdfimages");
    const struct {
        const char *file;
        std::vector<Region> regions;
        std::vector<const char *> gone, kept;
    } cases[] = {
        // The first line, placed with Tm; the second rectangle lies over the
        // image, which stays in the file under its box.
        {"ps2pdf-report.pdf",
         {{1, 60, 712, 450, 26}, {1, 395, 555, 75, 75}},
         {"Ghostscript", "field report"},
         {"The password is plover and it opens the gate.",
          "Nobody should write Plover on a sticky note.", "harmless weather notes"}},
        // The second line, which Ghostscript places with the quote operator.
        {"ps2pdf-report.pdf",
         {{1, 60, 684, 480, 14}},
         {"password", "opens the gate"},
         {"Ghostscript field report", "Nobody should write Plover on a sticky note."}},
        {"ps2pdf.pdf", {{2, 60, 690, 500, 40}}, {"Second page"}, {"First page from PostScript"}},
        {"../../samples/letter.pdf",
         {{1, 60, 678, 300, 14}},
         {"Customer", "Jane Example"},
         {"Quarterly statement", "Account number: 4242", "appears once more"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.file) + ", " + c.gone.front());
        const std::string input = fixture(c.file);
        expect_redacted(input, redact_regions(input, c.regions), c.gone, c.kept);
    }
}

TEST(E2eHidden, ARegionOnPageOneStripsEveryHiddenPlace) {
    REQUIRE_TOOLS("qpdf", "pdftotext", "pdfinfo", "pdffonts", "pdfimages", "pdfdetach");
    // Found only outside the page content, or (the field value) in the
    // appearance of a widget on page 1, which the rectangle covers.
    const char *markers[] = {
        "Info title marker",    "Info author marker",          "Bookmark alpha marker",
        "Bookmark beta marker", "Bookmark alpha child marker", "Bookmark beta child marker",
        "Xmp title marker",     "Attached body marker",        "link-target-marker",
        "Comment text marker",  "Field value marker",          "Field default marker",
    };
    const char *gone_keys[] = {"/Subtype /Link",
                               "/Subtype /Text",
                               "/Subtype /Popup",
                               "/Outlines",
                               "/Metadata",
                               "/Type /EmbeddedFile",
                               "/Type /Filespec",
                               "/EmbeddedFiles",
                               "/PageMode",
                               "/DV",
                               "/V ("};
    for (const char *name : {"hidden-info.pdf", "hidden-info-objstm.pdf"}) {
        SCOPED_TRACE(name);
        const std::string input = fixture(name);
        const Redacted r = redact_regions(input, {{1, 0, 0, 612, 792}});
        ASSERT_EQ(r.rc, 1) << r.error;
        const std::string out = r.output.path;
        expect_sound_output(input, out);  // no /Info among the rest
        const Tool detach = run("pdfdetach -list " + q(out));
        EXPECT_TRUE(contains(detach.out, "0 embedded files")) << detach.out;
        const Tool attachments = run("qpdf --list-attachments " + q(out));
        EXPECT_FALSE(contains(attachments.out, "notes.txt")) << attachments.out;

        const std::string qdf = qdf_text(out);
        ASSERT_FALSE(qdf.empty());
        for (const char *marker : markers) EXPECT_FALSE(contains(qdf, marker)) << marker;
        for (const char *key : gone_keys) EXPECT_FALSE(contains(qdf, key)) << key;
        // The field itself stays, with its name, in the form.
        EXPECT_TRUE(contains(qdf, "/Subtype /Widget"));
        EXPECT_TRUE(contains(qdf, "/T (account)"));
        EXPECT_TRUE(contains(qdf, "/AcroForm"));

        const std::string text = pdftotext(out);
        EXPECT_FALSE(contains(text, "Page one")) << text;
        EXPECT_TRUE(contains(text, "Page two carries a reviewer note.")) << text;
    }
}

// ---------------------------------------------------------- verification

TEST(E2eVerify, TextLeftInAStreamNoPageShowsWritesNothing) {
    // A private catalog entry keeps the stream in the output.
    PdfBuilder pdf;
    pdf.obj(1, "<< /Type /Catalog /Pages 2 0 R /PrivateNote 6 0 R >>")
        .obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
        .obj(3,
             "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << "
             "/F1 4 0 R >> >> /Contents 5 0 R >>")
        .obj(4, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>")
        .stream(5, "", "BT /F1 12 Tf 72 720 Td (The launch code is ready.) Tj ET")
        .stream(6, "", "app.alert('launch code');")
        .xref_table("/Root 1 0 R");
    const TempFile input = pdf.file();
    EXPECT_EQ(inkveil_count_matches(input.c_str(), "launch code"), 1);  // the page only
    for (const bool existed : {false, true}) {
        SCOPED_TRACE(existed ? "a file was there before" : "no file before");
        const std::string before = read_file(input.path);
        TempFile output("an older output");
        if (!existed) std::remove(output.c_str());
        EXPECT_EQ(inkveil_text(input.c_str(), output.c_str(), "LAUNCH CODE", 0, 0, 0), 0);
        EXPECT_STREQ(inkveil_last_error(),
                     "redaction incomplete: the search text still appears in an undecoded "
                     "stream \xE2\x80\x94 no output written");
        EXPECT_FALSE(file_exists(output.path));
        EXPECT_EQ(read_file(input.path), before);
    }
}

// GUI toolkits set the host's locale. One with a decimal comma must not
// change a byte of the output: the numbers in PDF content take a point.
TEST(E2eLocale, ADecimalCommaLocaleWritesTheSameFile) {
    REQUIRE_TOOLS("localedef");
    const std::string locales = std::filesystem::temp_directory_path() /
                                ("inkveil-locales-" + std::to_string(::getpid()));
    std::filesystem::create_directories(locales);
    const Tool made = run("localedef -i de_DE -f UTF-8 " + q(locales + "/de_DE.UTF-8"));
    // localedef warns about some locale sources yet writes the locale.
    ::setenv("LOCPATH", locales.c_str(), 1);
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) {
        std::filesystem::remove_all(locales);
        GTEST_SKIP() << "no de_DE locale to build: " << made.out;
    }
    std::setlocale(LC_NUMERIC, "C");
    const std::string input = fixture("producers/cairo_flip.pdf");
    const inkveil_rect region = {1, 72, 300, 200.5f, 100.25f};
    TempFile c_text(""), c_region(""), comma_text(""), comma_region("");
    ASSERT_EQ(inkveil_text(input.c_str(), c_text.c_str(), "Logistics", 10, 20, 30), 1) << inkveil_last_error();
    ASSERT_EQ(inkveil_regions(input.c_str(), c_region.c_str(), &region, 1, 10, 20, 30), 1)
        << inkveil_last_error();
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    const int text_rc = inkveil_text(input.c_str(), comma_text.c_str(), "Logistics", 10, 20, 30);
    const int region_rc = inkveil_regions(input.c_str(), comma_region.c_str(), &region, 1, 10, 20, 30);
    std::setlocale(LC_NUMERIC, "C");
    ::unsetenv("LOCPATH");
    std::filesystem::remove_all(locales);
    ASSERT_EQ(text_rc, 1);
    ASSERT_EQ(region_rc, 1);
    // Compared whole, but not printed whole: the files are binary.
    EXPECT_TRUE(read_file(comma_text.path) == read_file(c_text.path));
    EXPECT_TRUE(read_file(comma_region.path) == read_file(c_region.path));
}

}  // namespace
