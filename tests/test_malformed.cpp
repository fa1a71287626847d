// Malformed input through the public interface: every fixture truncated,
// with bytes flipped and with its cross-reference data damaged, and small
// hostile files (dangling and self-referencing objects, absurd counts and
// lengths, deep nesting, huge object numbers). Whatever the input, each call
// returns its documented result; a failure leaves a message and no file; a
// success writes a file that qpdf reads with the input's page count.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "document.h"
#include "inkveil.h"
#include "pdf_builder.h"

namespace {

using pdftest::PdfBuilder;
using pdftest::TempFile;
using pdftest::file_exists;
using pdftest::read_file;


// Every PDF the tests carry: the fixtures, the sample and the examples.
std::vector<std::string> all_fixtures() {
    std::vector<std::string> files;
    const std::filesystem::path root = std::filesystem::path(INKVEIL_FIXTURES);
    for (const auto &dir : {root, root / "../../samples", root / "../../examples"})
        for (const auto &entry : std::filesystem::directory_iterator(dir))
            if (entry.path().extension() == ".pdf") files.push_back(read_file(entry.path()));
    return files;
}

const std::vector<std::string> &fixtures() {
    static const std::vector<std::string> files = all_fixtures();
    return files;
}

bool have_qpdf() {
    static const bool found = std::system("qpdf --version >/dev/null 2>&1") == 0;
    return found;
}

// The exit status of qpdf --check: 0 when the file is sound, 3 when qpdf
// read it with warnings, 2 for errors.
int qpdf_check(const std::string &path) {
    const int rc = std::system(("qpdf --check '" + path + "' >/dev/null 2>&1").c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

// The page objects that qpdf finds in a file, in order.
std::vector<long> qpdf_page_objects(const std::string &path) {
    TempFile out("");
    (void)std::system(("qpdf --show-pages '" + path + "' >'" + out.path + "' 2>/dev/null").c_str());
    std::vector<long> objects;
    std::istringstream lines(read_file(out.path));
    for (std::string line; std::getline(lines, line);) {
        long page = 0, num = 0;
        if (std::sscanf(line.c_str(), "page %ld: %ld", &page, &num) == 2) objects.push_back(num);
    }
    return objects;
}

// The page objects of a file as the loader finds them.
std::vector<long> our_page_objects(const std::string &path, bool *loaded) {
    Doc doc;
    std::vector<long> objects;
    *loaded = doc_load(path.c_str(), doc) == 0;
    for (const PageRef &page : doc.pages) objects.push_back(page.num);
    doc_free(doc);
    return objects;
}

// qpdf reads the output with every page the loader found in the input, in
// order. qpdf may find more: it takes any leaf of the page tree for a page,
// and a /Kids reference to an object no file holds for an empty one.
void expect_qpdf_reads_pages(const std::string &input, const std::string &output,
                             const std::vector<long> &pages) {
    // Errors (a stream that does not decode) only where the input had them.
    const int status = qpdf_check(output);
    if (status != 0 && status != 3) {
        EXPECT_EQ(qpdf_check(input), status);
    }
    const std::vector<long> found = qpdf_page_objects(output);
    size_t next = 0;
    for (const long num : found)
        if (next < pages.size() && num == pages[next]) ++next;
    // A page listed twice is copied by qpdf under a new number: it counts.
    const size_t repeated = pages.size() - std::set<long>(pages.begin(), pages.end()).size();
    EXPECT_TRUE(next == pages.size() || (found.size() >= pages.size() && next + repeated >= pages.size()))
        << "qpdf finds " << found.size() << " pages, " << next << " of the loader's " << pages.size();
}

// One input through a text redaction, a region redaction and a count.
void check_input(const std::string &bytes, const std::string &what) {
    SCOPED_TRACE(what);
    const TempFile input(bytes);
    bool loaded = false;
    const std::vector<long> pages = our_page_objects(input.path, &loaded);
    TempFile output("");
    std::remove(output.c_str());
    const Region region{1, 0, 0, 612, 792};
    for (int call = 0; call < 2; ++call) {
        const int rc = call == 0
                           ? inkveil_text(input.c_str(), output.c_str(), "the", 0, 0, 0)
                           : inkveil_regions(input.c_str(), output.c_str(), &region, 1, 0, 0, 0);
        const std::string error = inkveil_last_error();
        ASSERT_TRUE(rc == 0 || rc == 1) << rc;
        if (rc == 0) {
            EXPECT_FALSE(error.empty());
            EXPECT_FALSE(file_exists(output.path)) << error;
            continue;
        }
        EXPECT_TRUE(error.empty()) << error;
        ASSERT_TRUE(file_exists(output.path));
        EXPECT_TRUE(loaded && !pages.empty());
        SCOPED_TRACE(call == 0 ? "text" : "region");
        if (have_qpdf()) expect_qpdf_reads_pages(input.path, output.path, pages);
        std::remove(output.c_str());
    }
    const int count = inkveil_count_matches(input.c_str(), "e");
    EXPECT_GE(count, -1);
    if (count < 0) {
        EXPECT_NE(std::string(inkveil_last_error()), "");
    }
    EXPECT_EQ(read_file(input.path), bytes);  // the input is never touched
}

TEST(Malformed, Truncations) {
    for (size_t f = 0; f < fixtures().size(); ++f) {
        const std::string &file = fixtures()[f];
        constexpr size_t kCuts = 14;
        for (size_t k = 1; k <= kCuts; ++k) {
            const size_t at = file.size() * k / (kCuts + 1);
            check_input(file.substr(0, at), "fixture " + std::to_string(f) + " cut at " +
                                                std::to_string(at));
        }
        // Just before the end-of-file marker and inside the last line.
        check_input(file.substr(0, file.size() - 7), "fixture " + std::to_string(f) + " tail");
    }
}

TEST(Malformed, FlippedBytes) {
    std::mt19937 rng(12);
    for (size_t f = 0; f < fixtures().size(); ++f) {
        for (int variant = 0; variant < 12; ++variant) {
            std::string file = fixtures()[f];
            const int flips = 1 + variant % 6;
            for (int i = 0; i < flips; ++i) file[rng() % file.size()] ^= static_cast<char>(1 + rng() % 255);
            check_input(file, "fixture " + std::to_string(f) + " flipped, variant " +
                                  std::to_string(variant));
        }
    }
}

// Removes [from, to) of `s` when both are found.
std::string cut_between(const std::string &s, const std::string &from, const std::string &to) {
    const size_t a = s.rfind(from);
    if (a == std::string::npos) return s;
    const size_t b = s.find(to, a);
    return s.substr(0, a) + (b == std::string::npos ? "" : s.substr(b));
}

TEST(Malformed, CrossReferenceDataDamaged) {
    for (size_t f = 0; f < fixtures().size(); ++f) {
        const std::string &file = fixtures()[f];
        const std::string name = "fixture " + std::to_string(f);
        check_input(cut_between(file, "xref", "trailer"), name + " without its xref table");
        check_input(cut_between(file, "startxref", "%%EOF"), name + " without startxref");
        std::string moved = file;
        if (const size_t at = moved.rfind("startxref\n"); at != std::string::npos)
            moved.insert(at + 10, "17");
        check_input(moved, name + " with startxref pointing elsewhere");
        std::string xrefstm = file;
        for (size_t at = xrefstm.find("/XRef"); at != std::string::npos;
             at = xrefstm.find("/XRef", at + 1))
            xrefstm.replace(at, 5, "/Xref");
        check_input(xrefstm, name + " with its xref streams unnamed");
    }
}

// Catalog 1, node 2 and page 3 drawing content 4 with font 5; `page` and
// `extra` add to the page dictionary and to the file.
std::string hostile(const std::string &page, const std::string &extra,
                    const std::string &pages_node = "<< /Type /Pages /Kids [3 0 R] /Count 1 >>") {
    PdfBuilder pdf;
    pdf.obj(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .obj(2, pages_node)
        .obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 "
                "5 0 R >> /XObject << /X1 6 0 R >> >> " + page + " >>")
        .obj(5, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    pdf.raw(extra);
    pdf.xref_table("/Root 1 0 R");
    return pdf.bytes();
}

const std::string kContent = "BT /F1 12 Tf 72 700 Td (the plan) Tj ET /X1 Do";

std::string stream_obj(int num, const std::string &dict, const std::string &data) {
    return std::to_string(num) + " 0 obj\n<< " + dict + " >>\nstream\n" + data +
           "\nendstream\nendobj\n";
}

TEST(Malformed, DanglingAndSelfReferencingObjects) {
    const std::string content = stream_obj(4, "/Length 46", kContent);
    const struct {
        const char *what;
        std::string page, extra, node;
    } cases[] = {
        {"missing content", "/Contents 99 0 R", "", ""},
        {"missing form", "/Contents 4 0 R", content, ""},
        {"content array naming itself", "/Contents 7 0 R", content + "7 0 obj\n[4 0 R 7 0 R]\nendobj\n", ""},
        {"form drawing itself", "/Contents 4 0 R",
         content + stream_obj(6, "/Type /XObject /Subtype /Form /BBox [0 0 9 9] /Resources << "
                                 "/XObject << /X1 6 0 R >> >> /Length 6", "/X1 Do"), ""},
        {"length naming itself", "/Contents 4 0 R", stream_obj(4, "/Length 4 0 R", kContent), ""},
        {"length naming a missing object", "/Contents 4 0 R", stream_obj(4, "/Length 98 0 R", kContent), ""},
        {"kids naming missing objects", "/Contents 4 0 R", content,
         "<< /Type /Pages /Kids [97 0 R 3 0 R 96 0 R] /Count 3 >>"},
        {"kids naming the node itself", "/Contents 4 0 R", content,
         "<< /Type /Pages /Kids [2 0 R 3 0 R 2 0 R] /Count 1 >>"},
        {"parent loop", "/Contents 4 0 R /Parent 3 0 R", content, ""},
        {"resources naming themselves", "/Contents 4 0 R /Resources 8 0 R",
         content + "8 0 obj\n<< /Font 8 0 R /XObject 8 0 R >>\nendobj\n", ""},
    };
    for (const auto &c : cases)
        check_input(c.node.empty() ? hostile(c.page, c.extra) : hostile(c.page, c.extra, c.node),
                    c.what);
}

TEST(Malformed, AbsurdLengthsCountsAndWidths) {
    const std::vector<std::pair<std::string, std::string>> lengths = {
        {"negative", "-1"}, {"zero", "0"}, {"past the end", "99999"},
        {"beyond 2^31", "2147483648"}, {"beyond 2^63", "99999999999999999999999"},
        {"not a number", "/Foo"}};
    for (const auto &l : lengths)
        check_input(hostile("/Contents 4 0 R", stream_obj(4, "/Length " + l.second, kContent)),
                    "/Length " + l.first);
    const std::string content = stream_obj(4, "/Length 46", kContent);
    for (const char *count : {"-1", "0", "2147483647", "99999999999"})
        check_input(hostile("/Contents 4 0 R", content,
                            std::string("<< /Type /Pages /Kids [3 0 R] /Count ") + count + " >>"),
                    std::string("/Count ") + count);
    // Object streams with absurd /N and /First, and cross-reference streams
    // with absurd /W.
    const std::string member_text = "9 0 << /Type /Font >>";
    for (const char *nf : {"/N -1 /First 4", "/N 99999999 /First 4", "/N 1 /First -5",
                           "/N 1 /First 2147483647", "/N 1 /First 99999999999", "/N 2 /First 0"}) {
        const std::string packed = pdftest::zlib_compress(member_text);
        check_input(hostile("/Contents 4 0 R",
                            content + stream_obj(10, std::string("/Type /ObjStm ") + nf +
                                                          " /Filter /FlateDecode /Length " +
                                                          std::to_string(packed.size()),
                                                 packed)),
                    nf);
    }
    for (const char *w : {"[1 2 1]", "[0 0 0]", "[-1 2 1]", "[1 99999 1]", "[2147483647 1 1]",
                          "[1 2]", "[]"}) {
        const std::string data(60, '\x01');
        check_input(hostile("/Contents 4 0 R",
                            content + stream_obj(11, std::string("/Type /XRef /Size 12 /Root 1 0 R /W ") +
                                                          w + " /Length 60",
                                                 data)),
                    std::string("/W ") + w);
    }
}

TEST(Malformed, DeepNesting) {
    const std::string content = stream_obj(4, "/Length 46", kContent);
    constexpr int kDeep = 50000;
    check_input(hostile("/Contents 4 0 R /Deep " + std::string(kDeep, '['), content),
                "arrays never closed");
    check_input(hostile("/Contents 4 0 R /Deep " + std::string(kDeep, '[') + std::string(kDeep, ']'),
                        content),
                "arrays closed");
    std::string dicts;
    for (int i = 0; i < kDeep; ++i) dicts += "<</A ";
    check_input(hostile("/Contents 4 0 R /Deep " + dicts, content), "dictionaries never closed");
    for (int i = 0; i < kDeep; ++i) dicts += ">>";
    check_input(hostile("/Contents 4 0 R /Deep " + dicts, content), "dictionaries closed");

    // A page tree 20000 nodes deep, and a chain of 2000 forms each drawing
    // the next.
    PdfBuilder tree;
    constexpr int kTree = 20000;
    pdftest::page_chain(tree, kTree);
    tree.obj(3, "<< /Type /Page /Parent " + std::to_string(99 + kTree) +
                    " 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>")
        .raw(content)
        .xref_table("/Root 1 0 R");
    check_input(tree.bytes(), "page tree 20000 levels deep");

    constexpr int kForms = 2000;
    std::string forms = stream_obj(4, "/Length 6", "/X1 Do");
    for (int i = 0; i < kForms; ++i) {
        const int num = 1000 + i;
        forms += stream_obj(num, "/Type /XObject /Subtype /Form /BBox [0 0 9 9] /Resources << "
                                 "/XObject << /X1 " + std::to_string(num + 1) + " 0 R >> >> /Length 24",
                            "BT (the form) Tj ET /X1 Do");
    }
    PdfBuilder chain;
    chain.obj(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
        .obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /XObject << "
                "/X1 1000 0 R >> >> /Contents 4 0 R >>")
        .raw(forms)
        .xref_table("/Root 1 0 R");
    check_input(chain.bytes(), "2000 nested forms");
}

TEST(Malformed, HugeObjectNumbers) {
    const std::string content = stream_obj(4, "/Length 46", kContent);
    for (const char *num : {"8388607", "8388608", "2147483647", "2147483648", "99999999999999"}) {
        const std::string extra = content + num + " 0 obj\n<< /Type /Font >>\nendobj\n";
        check_input(hostile("/Contents 4 0 R", extra), std::string("object ") + num);
        check_input(hostile(std::string("/Contents ") + num + " 0 R", extra),
                    std::string("content object ") + num);
    }
}

}  // namespace
