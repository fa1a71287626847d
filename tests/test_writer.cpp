// The output writer: layout, generations, cross-reference table and trailer;
// which objects the output keeps; the body of each kind of object; stream
// lengths and the ranges the verification skips; the size limit; a check by
// an independent PDF tool; and writing and removing the output file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "api.h"
#include "document.h"
#include "pdf_builder.h"
#include "writer.h"

namespace {

namespace fs = std::filesystem;
using pdftest::PdfBuilder;
using pdftest::TempFile;
using pdftest::read_file;

constexpr char kFree[] = "0000000000 00000 f \n";

// A document loaded from fixture bytes with the driver's tables beside it,
// filled by hand before the output is built.
struct Fixture {
    TempFile file;
    Doc doc;
    DropMap drop;
    ReplacementTexts replacements;
    FormMap forms;
    std::vector<int32_t> changed, new_content;
    std::vector<Buf> content;
    OutputPlan plan;

    explicit Fixture(const std::string &bytes) : file(bytes) {
        EXPECT_EQ(doc_load(file.c_str(), doc), 0) << g_err;
        const size_t slots = static_cast<size_t>(doc.max_obj_num) + 64;
        drop.assign(slots, 0);
        replacements.resize(slots);
        forms.resize(slots);
        changed.assign(doc.pages.size(), 0);
        new_content.assign(doc.pages.size(), 0);
        content.resize(doc.pages.size());
        plan.drop = &drop;
        plan.replacements = &replacements;
        plan.forms = &forms;
        plan.page_changed = &changed;
        plan.new_content = &new_content;
        plan.page_content = &content;
    }
    ~Fixture() { doc_free(doc); }

    void change_page(size_t index, const std::string &text) {
        changed[index] = 1;
        buf_str(content[index], text.c_str());
    }
    void replace(int32_t num, const char *text) { replacements[num] = DictText(strdup(text)); }
    void set_form(int32_t num, const std::string &data) { buf_str(forms[num], data.c_str()); }
    ObjEntry &entry(int32_t num) {
        for (ObjEntry &e : doc.objs)
            if (e.num == num) return e;
        throw std::runtime_error("no object " + std::to_string(num));
    }
};

// One built output and what can be read back from it.
struct Output {
    int rc = 0;
    std::string error;
    std::string bytes;
    std::vector<UnscannedRange> unscanned;
    std::vector<std::string> xref;  // the 20-byte entries for 0..N

    // Numbers the new content streams after the highest input number, in page
    // order, as the driver does, then builds.
    explicit Output(Fixture &f) {
        f.plan.last_num = f.doc.max_obj_num;
        for (size_t i = 0; i < f.changed.size(); ++i)
            if (f.changed[i]) f.new_content[i] = ++f.plan.last_num;
        Doc written;
        rc = build_output(f.doc, f.plan, written, unscanned);
        error = g_err;
        bytes.assign(written.data.begin(), written.data.end());
        if (rc == 1) read_xref();
    }

    // Reads the table that startxref names, checking its layout and the trailer.
    void read_xref() {
        const size_t sx = bytes.rfind("startxref\n");
        ASSERT_NE(sx, std::string::npos);
        const size_t at = std::stoul(bytes.substr(sx + 10));
        ASSERT_EQ(bytes.compare(at, 7, "xref\n0 "), 0);
        size_t p = at + 7;
        const size_t count = std::stoul(bytes.substr(p));
        p = bytes.find('\n', p) + 1;
        for (size_t k = 0; k < count; ++k, p += 20) xref.push_back(bytes.substr(p, 20));
        ASSERT_EQ(xref[0], "0000000000 65535 f \n");
        EXPECT_EQ(bytes.compare(p, 8, "trailer\n"), 0);
        for (size_t k = 1; k < xref.size(); ++k) {
            if (is_free(static_cast<int32_t>(k))) continue;
            const std::string header =
                std::to_string(k) + " " + std::to_string(gen(static_cast<int32_t>(k))) + " obj\n";
            EXPECT_EQ(bytes.compare(offset(static_cast<int32_t>(k)), header.size(), header), 0)
                << "entry " << k;
        }
    }

    bool is_free(int32_t num) const { return xref.at(static_cast<size_t>(num)) == kFree; }
    size_t offset(int32_t num) const { return std::stoul(xref.at(static_cast<size_t>(num))); }
    int gen(int32_t num) const { return std::stoi(xref.at(static_cast<size_t>(num)).substr(11)); }
    // Object `num` as written, from its header line through "endobj\n".
    std::string object(int32_t num) const {
        if (is_free(num)) return "";
        const size_t start = offset(num);
        const size_t end = bytes.find("endobj\n", start);
        return bytes.substr(start, end + 7 - start);
    }
    std::string trailer() const { return bytes.substr(bytes.rfind("trailer\n")); }
};

// The output loaded again, for the facts a reader takes from it.
struct Reloaded {
    TempFile file;
    Doc doc;
    explicit Reloaded(const std::string &bytes) : file(bytes) {
        EXPECT_EQ(doc_load(file.c_str(), doc), 0) << g_err;
    }
    ~Reloaded() { doc_free(doc); }
    const ObjEntry &entry(int32_t num) const {
        const ObjEntry *e = doc_find_obj(doc, num);
        if (e == nullptr) throw std::runtime_error("no object " + std::to_string(num));
        return *e;
    }
    std::string dict(int32_t num) const {
        DictText text = obj_dict_text(doc, entry(num));
        return text ? text.get() : "";
    }
};

// ---- Layout -----------------------------------------------------------------------

TEST(WriterLayout, HeaderGenerationsXrefAndTrailer) {
    PdfBuilder pdf;  // declares version 1.7
    pdf.obj(1, "<< /Type /Catalog /Pages 2 0 R /A 4 3 R /B 5 0 R /C 7 0 R /D 9 0 R >>")
        .obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
        .obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>")
        .obj(4, "(generation three)", 3)
        .obj(5, "(generation 65535)", 65535)
        .obj(7, "(removed by sanitising)")
        .xref_table("/Root 1 0 R /Info 5 0 R");
    Fixture f(pdf.bytes());
    f.drop[7] = 1;
    Output out(f);
    ASSERT_EQ(out.rc, 1) << out.error;

    EXPECT_EQ(out.bytes.substr(0, 15), std::string("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n"));
    EXPECT_EQ(out.bytes.compare(15, 8, "1 0 obj\n"), 0);
    ASSERT_EQ(out.xref.size(), 8u);  // 0..7
    EXPECT_EQ(out.object(4), "4 3 obj\n(generation three)\n\nendobj\n");
    EXPECT_EQ(out.object(5), "5 0 obj\n(generation 65535)\n\nendobj\n");
    EXPECT_EQ(out.xref[4].substr(10), " 00003 n \n");
    EXPECT_EQ(out.xref[5].substr(10), " 00000 n \n");
    // 6 was never defined, 7 was removed.
    EXPECT_TRUE(out.is_free(6));
    EXPECT_TRUE(out.is_free(7));
    EXPECT_EQ(out.bytes.find("removed by sanitising"), std::string::npos);

    const size_t xref_at = out.bytes.rfind("xref\n0 8\n");
    EXPECT_EQ(out.trailer(), "trailer\n<< /Size 8 /Root 1 0 R >>\nstartxref\n" +
                                 std::to_string(xref_at) + "\n%%EOF\n");
}

TEST(WriterLayout, RootWithoutCatalog) {
    {
        SCOPED_TRACE("no catalog named: object 1 is the root, with its generation");
        Fixture f(PdfBuilder()
                      .obj(1, "<< /Kids [2 0 R] >>", 2)
                      .obj(2, "(kid)")
                      .obj(3, "(orphan)")
                      .bytes());
        ASSERT_EQ(f.doc.root, -1);
        Output out(f);
        ASSERT_EQ(out.rc, 1) << out.error;
        EXPECT_EQ(out.gen(1), 2);
        EXPECT_FALSE(out.is_free(2));
        EXPECT_TRUE(out.is_free(3));
        EXPECT_NE(out.trailer().find("<< /Size 4 /Root 1 2 R >>"), std::string::npos);
    }
    {
        SCOPED_TRACE("no object 1 either: every object not left out is written");
        Fixture f(PdfBuilder().obj(2, "(two)").obj(3, "(three)").obj(4, "(four)").bytes());
        f.drop[4] = 1;
        Output out(f);
        ASSERT_EQ(out.rc, 1) << out.error;
        EXPECT_TRUE(out.is_free(1));
        EXPECT_FALSE(out.is_free(2));
        EXPECT_FALSE(out.is_free(3));
        EXPECT_TRUE(out.is_free(4));
        EXPECT_NE(out.trailer().find("/Root 1 0 R"), std::string::npos);
    }
    {
        SCOPED_TRACE("object and cross-reference streams are never written");
        // Their compressed data still holds the member that was left out.
        Fixture f(PdfBuilder()
                      .obj(2, "(two)")
                      .object_stream(10, {{3, "(secret member)"}, {4, "(kept member)"}})
                      .xref_stream(11, "")
                      .bytes());
        f.drop[3] = 1;
        Output out(f);
        ASSERT_EQ(out.rc, 1) << out.error;
        EXPECT_TRUE(out.is_free(3));
        EXPECT_EQ(out.object(4), "4 0 obj\n(kept member)\n\nendobj\n");
        EXPECT_TRUE(out.is_free(10));
        EXPECT_TRUE(out.is_free(11));
        EXPECT_EQ(out.bytes.find("stream"), std::string::npos);
    }
}

// ---- What is kept ---------------------------------------------------------------------

TEST(WriterReach, OnlyObjectsInUseAreWritten) {
    PdfBuilder pdf;
    pdf.obj(1,
            "<< /Type /Catalog /Pages 2 0 R /M 13 0 R /S (10 0 R) % 11 0 R\n"
            "/H <3132> >>")
        .obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
        .obj(3, "<< /Type /Page /Parent 2 0 R /Annots [4 0 R 5 0 R] >>")
        .obj(4, "<< /Subtype /Text /Popup 6 0 R >>")  // an annotation sanitising removes
        .obj(5, "<< /Subtype /Widget /AP << /N 7 0 R >> >>")
        .obj(6, "<< /Subtype /Popup >>")
        .stream(7, "/Subtype /Form", "8 0 R is stream data, not a reference")
        .obj(8, "(named only in stream data)")
        .obj(9, "(orphan)")
        .obj(10, "(named only in a string)")
        .obj(11, "(named only in a comment)")
        .object_stream(16, {{13, "<< /Ref 14 0 R >>"}, {14, "(member)"}})
        .xref_stream(15, "/Root 1 0 R");
    Fixture f(pdf.bytes());
    f.drop[4] = 1;
    Output out(f);
    ASSERT_EQ(out.rc, 1) << out.error;
    for (int32_t n : {1, 2, 3, 5, 7, 13, 14}) EXPECT_FALSE(out.is_free(n)) << n;
    // The object stream 16 is gone with its container: the table ends at 15.
    ASSERT_EQ(out.xref.size(), 16u);
    for (int32_t n : {4, 6, 8, 9, 10, 11, 12, 15}) EXPECT_TRUE(out.is_free(n)) << n;
    // Members are written as plain objects with generation 0.
    EXPECT_EQ(out.object(14), "14 0 obj\n(member)\n\nendobj\n");
    EXPECT_EQ(out.gen(13), 0);
}

TEST(WriterReach, PageTreeAsTheLoaderReadsItIsWritten) {
    // "2 07R", "7 R", "4 R" and "7 0 RI" are no references to the writer,
    // but the loader reads the number after /Pages, every number of /Kids and
    // the number after /Parent: the tree and pages it found stay whole.
    PdfBuilder pdf;
    pdf.obj(1, "<< /Type /Catalog /Pages 2 07R >>")
        .obj(2, "<< /Type /Pages /Kids [7 R] /Count 2 >>")
        .obj(3, "<< /Type /Page /Parent 7 0 RI>>")
        .obj(4, "<< /Type /Page /Parent 7 0 R /Contents 5 0 R >>")
        .stream(5, "", "BT (page two) Tj ET")
        .obj(7, "<< /Type /Pages /Parent 2 0 R /Kids [3 0 R 4 R] /Count 2 >>");
    Fixture f(pdf.bytes());
    ASSERT_EQ(f.doc.pages.size(), 2u);
    Output out(f);
    ASSERT_EQ(out.rc, 1) << out.error;
    for (int32_t n : {1, 2, 3, 4, 5, 7}) EXPECT_FALSE(out.is_free(n)) << n;
    Reloaded back(out.bytes);
    EXPECT_EQ(back.doc.pages.size(), 2u);
}

TEST(WriterReach, AValueThatIsNoDictionaryIsNoPage) {
    // Page 4's value opens with "<x": no dictionary, so no page, for the
    // loader and in the output alike.
    PdfBuilder pdf;
    pdf.obj(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .obj(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 /H <3132 3> >>")
        .obj(3, "<< /Type /Page /Parent 2 0 R >>")
        .obj(4, "<x /Type /Page /Parent 2 0 R /Contents 5 0 R /Resources 6 0 R >>")
        .stream(5, "", "BT (old) Tj ET")
        .obj(6, "<< /Font << >> >>");
    Fixture f(pdf.bytes());
    ASSERT_EQ(f.doc.pages.size(), 1u);
    Output out(f);
    ASSERT_EQ(out.rc, 1) << out.error;
    Reloaded back(out.bytes);
    EXPECT_EQ(back.doc.pages.size(), 1u);
}

TEST(WriterReach, AnOutputWithoutEveryPageIsNeverBuilt) {
    // Whatever leaves a page out of the written page tree, the writer reads
    // its output back and refuses it, naming the first page it lost.
    PdfBuilder pdf;
    pdf.pages(3).xref_table("/Root 1 0 R");
    struct Case {
        const char *what;
        int32_t left_out;
        const char *replace_num;  // object whose dictionary is replaced, or null
        const char *replacement;
        const char *message;
    };
    const Case cases[] = {
        {"a page left out", 4, nullptr, nullptr,
         "the output file would not keep page 2 (object 4) \xE2\x80\x94 no output written"},
        {"the last page left out", 5, nullptr, nullptr,
         "the output file would hold 2 of the document's 3 pages \xE2\x80\x94 no output written"},
        {"a page that is no page any more", 0, "3", "<< /Type /Pagex /Parent 2 0 R >>",
         "the output file would not keep page 1 (object 3) \xE2\x80\x94 no output written"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f(pdf.bytes());
        ASSERT_EQ(f.doc.pages.size(), 3u);
        if (c.left_out > 0) f.drop[c.left_out] = 1;
        if (c.replace_num != nullptr) f.replace(std::atoi(c.replace_num), c.replacement);
        Output out(f);
        EXPECT_EQ(out.rc, 0);
        EXPECT_EQ(out.error, c.message);
        EXPECT_TRUE(out.bytes.empty());
    }
}

TEST(WriterReach, ThePageTreeIsWrittenAsTheLoaderReadIt) {
    // A catalog whose /Pages a strict reader cannot take, a node whose /Kids
    // holds stray bytes and names a missing object, and a node whose
    // rewritten dictionary lost its /Kids: each is written with the tree the
    // loader found, so that every reader of the output finds every page.
    PdfBuilder pdf;
    pdf.obj(1, "<< /Type /Catalog /Pages 2 0 Q >>")
        .obj(2, "<< /Type /Pages /Kids [3 0 R 4 0 R5 0 R 99 0 R 6 0 R] /Count 4 >>")
        .obj(3, "<< /Type /Page /Parent 2 0 R >>")
        .obj(4, "<< /Type /Page /Parent 2 0 R >>")
        .obj(5, "<< /Type /Page /Parent 2 0 R >>")
        .obj(6, "<< /Type /Pages /Parent 2 0 R /Kids [7 0 R] /Count 1 >>")
        .obj(7, "<< /Type /Page /Parent 6 0 R >>")
        .xref_table("/Root 1 0 R");
    Fixture f(pdf.bytes());
    ASSERT_EQ(f.doc.pages.size(), 4u);
    f.replace(6, "<< /Type /Pages /Parent 2 0 R /Count 1 >>");
    Output out(f);
    ASSERT_EQ(out.rc, 1) << out.error;
    // The stray "0 Q" stays where it was, as any stray token does.
    EXPECT_EQ(out.object(1), "1 0 obj\n<< /Type /Catalog 0 Q  /Pages 2 0 R >>\nendobj\n");
    EXPECT_EQ(out.object(2),
              "2 0 obj\n<< /Type /Pages /Count 4  /Kids [ 3 0 R 4 0 R 5 0 R 6 0 R ] >>\nendobj\n");
    EXPECT_EQ(out.object(6),
              "6 0 obj\n<< /Type /Pages /Parent 2 0 R /Count 1  /Kids [ 7 0 R ] >>\nendobj\n");
    // Trees that read the same either way are copied as they are.
    EXPECT_EQ(out.object(3), "3 0 obj\n<< /Type /Page /Parent 2 0 R >>\nendobj\n");
}

// ---- Bodies --------------------------------------------------------------------------------

TEST(WriterBodies, EachKindOfObject) {
    PdfBuilder pdf;
    pdf.obj(1, "<< /Type /Catalog /Pages 2 0 R /A [5 0 R 6 0 R 7 0 R 8 0 R] >>")
        .obj(2, "<< /Type /Pages /Kids [] /Count 0 >>")
        .raw("5 0 obj\n42\n")  // no "endobj": it must not swallow object 6
        .obj(6, "(six)")
        .obj(7, "(seven)")
        .obj(8, "<< /Old true >>");
    Fixture f(pdf.bytes());
    f.replace(8, "<< /Replaced true >>");
    f.entry(7).endobj_pos = f.entry(7).obj_start + 1;  // no body before its end
    // A later table entry with a number already written is not written again.
    ObjEntry again = f.entry(8);
    again.num = 6;
    f.doc.objs.push_back(again);

    Output out(f);
    ASSERT_EQ(out.rc, 1) << out.error;
    EXPECT_EQ(out.object(5), "5 0 obj\n42\n\nendobj\n");
    EXPECT_EQ(out.object(6), "6 0 obj\n(six)\n\nendobj\n");
    EXPECT_EQ(out.object(7), "7 0 obj\nnull\nendobj\n");
    EXPECT_EQ(out.object(8), "8 0 obj\n<< /Replaced true >>\nendobj\n");
    size_t headers = 0;
    for (size_t p = out.bytes.find("\n6 0 obj"); p != std::string::npos;
         p = out.bytes.find("\n6 0 obj", p + 1))
        ++headers;
    EXPECT_EQ(headers, 1u);
}

TEST(WriterBodies, ChangedPageShowsItsNewContent) {
    PdfBuilder pdf;
    pdf.obj(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .obj(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>")
        .obj(3,
             "<< /Type /Page /Parent 2 0 R /Contents 5 0 R /Thumb 6 0 R "
             "/PieceInfo << /App << /Private 7 0 R >> >> /Resources << /Font << /F1 8 0 R >> >> "
             "/Thumb 6 0 R >>")  // a key written twice goes whole
        .obj(4, "<< /Type /Page /Parent 2 0 R /Contents 9 0 R >>")
        .stream(5, "", "BT (old text) Tj ET")
        .stream(6, "", "thumbnail")
        .obj(7, "(private data)")
        .obj(8, "<< /Type /Font /BaseFont /Helvetica >>")
        .stream(9, "", "BT (page two) Tj ET");
    const std::string bytes = pdf.bytes();
    const std::string painted = "BT ( ) Tj ET\nq\n0 0 0 rg\n0 0 5 5 re f\nQ\n";
    for (const bool replaced : {false, true}) {
        SCOPED_TRACE(replaced ? "base text replaced by sanitising" : "base text from the file");
        Fixture f(bytes);
        f.drop[5] = 1;  // the driver leaves the old content out
        f.change_page(0, painted);
        if (replaced)
            f.replace(3,
                      "<< /Type /Page /Parent 2 0 R /Contents 5 0 R /Thumb 6 0 R /Note (new) >>");
        Output out(f);
        ASSERT_EQ(out.rc, 1) << out.error;
        ASSERT_EQ(out.xref.size(), 11u);  // the new content stream is 10
        EXPECT_EQ(out.object(10), "10 0 obj\n<< /Length " + std::to_string(painted.size()) +
                                      " >>\nstream\n" + painted + "\nendstream\nendobj\n");
        const std::string page = out.object(3);
        EXPECT_NE(page.find("/Contents 10 0 R >>\nendobj"), std::string::npos) << page;
        EXPECT_EQ(page.find("5 0 R"), std::string::npos) << page;
        EXPECT_EQ(page.find("/Thumb"), std::string::npos) << page;
        EXPECT_EQ(page.find("/PieceInfo"), std::string::npos) << page;
        EXPECT_EQ(page.find("/Note (new)") != std::string::npos, replaced) << page;
        for (int32_t n : {5, 6, 7}) EXPECT_TRUE(out.is_free(n)) << n;
        EXPECT_EQ(out.is_free(8), replaced);  // the replacement has no resources
        EXPECT_FALSE(out.is_free(9));
        EXPECT_EQ(out.object(4),
                  "4 0 obj\n<< /Type /Page /Parent 2 0 R /Contents 9 0 R >>\nendobj\n");
    }
}

// ---- Streams ----------------------------------------------------------------------------

TEST(WriterStreams, RedactedFormIsWrittenUnencoded) {
    PdfBuilder pdf;
    pdf.obj(1, "<< /Type /Catalog /Pages 2 0 R /F 3 0 R >>")
        .obj(2, "<< /Type /Pages /Kids [] /Count 0 >>")
        .stream(3, "/Type /XObject /Subtype /Form /BBox [0 0 10 10]", "BT (secret) Tj ET", true);
    Fixture f(pdf.bytes());
    f.set_form(3, "BT (      ) Tj ET");
    Output out(f);
    ASSERT_EQ(out.rc, 1) << out.error;
    EXPECT_NE(out.object(3).find(">>\nstream\nBT (      ) Tj ET\nendstream\nendobj\n"),
              std::string::npos);
    Reloaded back(out.bytes);
    EXPECT_EQ(back.entry(3).stream_len, 17);
    EXPECT_EQ(back.dict(3).find("/Filter"), std::string::npos) << back.dict(3);
    EXPECT_NE(back.dict(3).find("/BBox [0 0 10 10]"), std::string::npos);
    EXPECT_TRUE(out.unscanned.empty());
}

TEST(WriterStreams, LengthStatesTheDataWritten) {
    struct Case {
        const char *name;
        int32_t num;
        const char *dict;  // as written in the input
        const char *data;
        int32_t length;     // of the data written
        const char *after;  // the output dictionary, when the case names it
    };
    const Case cases[] = {
        {"direct and right", 10, "<< /Length 10 >>", "0123456789", 10, "<< /Length 10 >>"},
        // The extent comes from "endstream": the line end before it is data.
        {"direct and wrong", 11, "<< /Length 3 >>", "0123456789", 11, nullptr},
        {"indirect and right", 12, "<< /Length 20 0 R >>", "0123456789", 10,
         "<< /Length 20 0 R >>"},
        {"indirect and wrong", 13, "<< /Length 21 0 R >>", "0123456789", 11, nullptr},
        {"indirect to a removed object", 14, "<< /Length 22 0 R >>", "0123456789", 10, nullptr},
        {"absent", 15, "<< /Type /Foo >>", "0123456789", 11, nullptr},
        {"twice", 16, "<< /Length 10 /Length 10 >>", "0123456789", 10,
         "<< /Length 10 /Length 10 >>"},
        // Readers differ in the copy they take: one right copy is not enough.
        {"twice, the second wrong", 17, "<< /Length 10 /Length 99 >>", "0123456789", 10,
         "<<  /Length 10 >>"},
    };
    PdfBuilder pdf;
    std::string refs;
    for (const Case &c : cases) refs += std::to_string(c.num) + " 0 R ";
    pdf.obj(1, "<< /Type /Catalog /Pages 2 0 R /S [" + refs + "] >>")
        .obj(2, "<< /Type /Pages /Kids [] /Count 0 >>");
    for (const Case &c : cases)
        pdf.raw(std::to_string(c.num) + " 0 obj\n" + c.dict + "\nstream\n" + c.data +
                "\nendstream\nendobj\n");
    pdf.obj(20, "10").obj(21, "99").obj(22, "10");
    Fixture f(pdf.bytes());
    f.drop[22] = 1;
    Output out(f);
    ASSERT_EQ(out.rc, 1) << out.error;
    Reloaded back(out.bytes);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        // Reading the output again, /Length gives exactly the data written.
        EXPECT_EQ(back.entry(c.num).stream_len, c.length);
        if (c.after != nullptr)
            EXPECT_EQ(back.dict(c.num), c.after);
        else
            EXPECT_EQ(back.dict(c.num).find(" R"), std::string::npos) << back.dict(c.num);
    }
    EXPECT_FALSE(out.is_free(20));
    EXPECT_TRUE(out.is_free(21));  // no longer referenced
    EXPECT_TRUE(out.is_free(22));
}

TEST(WriterStreams, DataTheVerificationSkips) {
    const std::string text(5000, 'a');
    auto with = [&](size_t at, char c) {
        std::string s = text;
        s[at] = c;
        return s;
    };
    struct Case {
        const char *name;
        std::string entries;
        std::string data;
        bool unscanned;
    };
    const std::vector<Case> cases = {
        {"plain text", "", "BT (hello) Tj ET", false},
        {"image", "/Subtype /Image", "plain text data", true},
        {"filtered", "/Filter /ASCIIHexDecode", "68656c6c6f>", true},
        {"filter array", "/Filter [ /AHx ]", "68656c6c6f>", true},
        {"empty filter array", "/Filter []", "plain text data", false},
        // Only the stream's own entries count.
        {"/Image as a resource name", "/Resources << /XObject << /Image 9 0 R >> >>", "text",
         false},
        {"/Filter in a string", "/Note (/Filter /Image)", "text", false},
        {"byte 7 in the head", "", with(100, '\x07'), true},
        {"escape byte in the head", "", with(0, '\x1B'), true},
        {"UTF-8 text in the head", "", "app.alert('caf\xC3\xA9');", false},
        {"byte 7 in the tail", "", with(4800, '\x07'), true},
        {"byte 7 between head and tail", "", with(4400, '\x07'), false},
        {"byte above 126 in the tail", "", with(4800, '\xE9'), false},
        {"NUL in the tail", "", with(4999, '\0'), true},
        {"empty", "/Subtype /Image", "", false},
    };
    PdfBuilder pdf;
    std::string refs;
    for (size_t i = 0; i < cases.size(); ++i) refs += std::to_string(10 + i) + " 0 R ";
    pdf.obj(1, "<< /Type /Catalog /Pages 2 0 R /S [" + refs + "] >>")
        .obj(2, "<< /Type /Pages /Kids [] /Count 0 >>");
    for (size_t i = 0; i < cases.size(); ++i)
        pdf.stream(static_cast<int>(10 + i), cases[i].entries, cases[i].data);
    Fixture f(pdf.bytes());
    Output out(f);
    ASSERT_EQ(out.rc, 1) << out.error;
    size_t expected = 0;
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case &c = cases[i];
        SCOPED_TRACE(c.name);
        const size_t data_at =
            out.bytes.find("stream\n", out.offset(static_cast<int32_t>(10 + i))) + 7;
        EXPECT_EQ(out.bytes.compare(data_at, c.data.size(), c.data), 0);
        bool found = false;
        for (const UnscannedRange &r : out.unscanned)
            if (static_cast<size_t>(r.start) == data_at &&
                static_cast<size_t>(r.len) == c.data.size())
                found = true;
        EXPECT_EQ(found, c.unscanned);
        expected += c.unscanned ? 1 : 0;
    }
    EXPECT_EQ(out.unscanned.size(), expected);
}

// ---- Failures ---------------------------------------------------------------------------------

TEST(WriterLimits, OutputThatWouldBeTooLargeFails) {
    Fixture f(PdfBuilder().pages(1).stream(4, "", std::string(1000, 'x')).bytes());
    f.replace(1, "<< /Type /Catalog /Pages 2 0 R /Big 4 0 R >>");
    const size_t full = Output(f).bytes.size();
    ASSERT_GT(full, 1000u);
    f.plan.max_size = static_cast<int64_t>(full);
    EXPECT_EQ(Output(f).rc, 1);
    f.plan.max_size = static_cast<int64_t>(full) - 1;  // one byte short, at the very end
    Output out(f);
    EXPECT_EQ(out.rc, 0);
    EXPECT_EQ(out.error, "the output file would exceed 2 GiB, which this engine cannot write");
    EXPECT_TRUE(out.bytes.empty());
    EXPECT_TRUE(out.unscanned.empty());
}

// ---- An independent reader ----------------------------------------------------------------

TEST(WriterQpdf, CheckAcceptsTheOutput) {
    if (std::system("qpdf --version > /dev/null 2>&1") != 0)
        GTEST_SKIP()
            << "qpdf is not installed: the output was not checked by an independent reader";
    PdfBuilder pdf;
    pdf.obj(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .obj(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>")
        .obj(3,
             "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 5 0 R "
             "/Resources << /XObject << /X1 6 0 R >> >> /Annots [7 0 R] >>")
        .obj(4, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 8 0 R >>")
        .stream(5, "", "BT /F1 12 Tf (secret) Tj ET /X1 Do")
        .stream(6, "/Type /XObject /Subtype /Form /BBox [0 0 10 10]", "BT (secret) Tj ET", true)
        .obj(7, "<< /Type /Annot /Subtype /Text /Rect [0 0 1 1] /Contents (secret) >>")
        .raw("8 0 obj\n<< /Length 3 >>\nstream\nBT ET\nendstream\nendobj\n")
        .object_stream(10, {{11, "<< /Producer (x) >>"}})
        .xref_stream(12, "/Root 1 0 R /Info 11 0 R");
    Fixture f(pdf.bytes());
    f.drop[5] = 1;
    f.drop[7] = 1;
    f.replace(3,
              "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 5 0 R "
              "/Resources << /XObject << /X1 6 0 R >> >> >>");
    f.change_page(0, "BT /F1 12 Tf (      ) Tj ET /X1 Do\nq\n0 0 0 rg\n0 0 5 5 re f\nQ\n");
    f.set_form(6, "BT (      ) Tj ET");
    Output out(f);
    ASSERT_EQ(out.rc, 1) << out.error;
    TempFile file(out.bytes);
    const std::string command = "qpdf --check " + file.path + " > /dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << out.bytes;
}

// ---- Writing the file -------------------------------------------------------------------------

// A fresh directory, removed with its content when the test ends.
struct TempDir {
    fs::path path;
    TempDir() {
        std::string templ = (fs::temp_directory_path() / "inkveil_writer_XXXXXX").string();
        if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path = templ;
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string file(const std::string &name) const { return (path / name).string(); }
    // Names in the directory that hold the temporary-file marker.
    std::vector<std::string> temporaries() const {
        std::vector<std::string> out;
        for (const auto &e : fs::directory_iterator(path))
            if (e.path().filename().string().find(".inkveil-tmp-") != std::string::npos)
                out.push_back(e.path().filename().string());
        return out;
    }
};

void write_text(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}

int write_bytes(const std::string &path, const std::string &bytes) {
    return write_output_file(path.c_str(), reinterpret_cast<const unsigned char *>(bytes.data()),
                             static_cast<int64_t>(bytes.size()));
}

TEST(WriterFile, WritesAndReplacesThroughATemporaryFile) {
    TempDir dir;
    const std::string out = dir.file("out.pdf");
    ASSERT_EQ(write_bytes(out, std::string("new\0file", 8)), 1) << g_err;
    EXPECT_EQ(read_file(out), std::string("new\0file", 8));
    EXPECT_STREQ(g_err, "");

    // An existing output is replaced whole; a stale temporary file of
    // another run is stepped over and left alone.
    write_text(out + ".inkveil-tmp-0", "someone else's");
    ASSERT_EQ(write_bytes(out, "second"), 1) << g_err;
    EXPECT_EQ(read_file(out), "second");
    EXPECT_EQ(read_file(out + ".inkveil-tmp-0"), "someone else's");
    EXPECT_EQ(dir.temporaries().size(), 1u);
}

TEST(WriterFile, FailuresLeaveTheOutputPathUntouched) {
    TempDir dir;
    {
        SCOPED_TRACE("missing directory");
        const std::string out = dir.file("missing/out.pdf");
        EXPECT_EQ(write_bytes(out, "x"), 0);
        EXPECT_EQ(std::string(g_err),
                  "cannot open output file " + out + " for writing: No such file or directory");
        EXPECT_FALSE(fs::exists(dir.path / "missing"));
    }
    {
        SCOPED_TRACE("the output path is a directory");
        const std::string out = dir.file("folder");
        fs::create_directory(out);
        write_text(dir.file("folder/keep"), "kept");
        EXPECT_EQ(write_bytes(out, "x"), 0);
        EXPECT_EQ(std::string(g_err),
                  "cannot open output file " + out + " for writing: Is a directory");
        EXPECT_EQ(read_file(dir.file("folder/keep")), "kept");
        EXPECT_TRUE(dir.temporaries().empty());
    }
    {
        SCOPED_TRACE("the input itself, when no file can be made beside it");
        // A name so long that no temporary name can be made beside it.
        const std::string input = dir.file(std::string(250, 'n'));
        write_text(input, "%PDF-1.7 the input");
        EXPECT_EQ(write_bytes(input, "replacement"), 0);
        EXPECT_EQ(std::string(g_err),
                  "cannot open output file " + input + " for writing: File name too long");
        EXPECT_EQ(read_file(input), "%PDF-1.7 the input");
    }
    {
        SCOPED_TRACE("the input itself, written whole");
        const std::string input = dir.file("in.pdf");
        write_text(input, "%PDF-1.7 the input");
        EXPECT_EQ(write_bytes(input, "replacement"), 1) << g_err;
        EXPECT_EQ(read_file(input), "replacement");
    }
    EXPECT_TRUE(dir.temporaries().empty());
}

TEST(WriterFile, RemoveOutputSparesTheInput) {
    TempDir dir;
    const std::string input = dir.file("in.pdf");
    write_text(input, "input");
    // The same file under other names is never removed.
    remove_output_file(input.c_str(), input.c_str());
    const std::string other_name =
        (dir.path / "." / ".." / dir.path.filename() / "in.pdf").string();
    remove_output_file(other_name.c_str(), input.c_str());
    const std::string link = dir.file("link.pdf");
    fs::create_hard_link(input, link);
    remove_output_file(link.c_str(), input.c_str());
    EXPECT_EQ(read_file(input), "input");
    EXPECT_TRUE(fs::exists(link));

    const std::string out = dir.file("out.pdf");
    write_text(out, "old output");
    remove_output_file(out.c_str(), input.c_str());
    EXPECT_FALSE(fs::exists(out));
    // Nothing there, no paths, or a directory: nothing happens, nothing throws.
    remove_output_file(out.c_str(), input.c_str());
    remove_output_file(nullptr, nullptr);
    fs::create_directory(dir.file("folder"));
    remove_output_file(dir.file("folder").c_str(), input.c_str());
    EXPECT_TRUE(fs::is_directory(dir.file("folder")));
    EXPECT_EQ(read_file(input), "input");
}

}  // namespace
