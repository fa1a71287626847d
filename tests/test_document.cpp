// Document loading: the object table found by scanning, stream extents,
// trailer facts, object streams, duplicate resolution, the page tree walk, the
// failure messages, hostile input, and files made by real PDF tools.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "api.h"
#include "document.h"
#include "pdf_builder.h"

namespace {

using pdftest::PdfBuilder;
using pdftest::TempFile;

// A load of some bytes, with the file kept so that messages can name it.
struct Loaded {
    TempFile file;
    Doc doc;
    int rc = -1;
    std::string error;

    explicit Loaded(const std::string &bytes) : file(bytes) {
        rc = doc_load(file.c_str(), doc);
        error = g_err;
    }
};

std::string with_path(const char *format, const std::string &path) {
    char text[1024];
    std::snprintf(text, sizeof text, format, path.c_str());
    return text;
}

std::vector<int32_t> page_nums(const Doc &doc) {
    std::vector<int32_t> out;
    for (const PageRef &p : doc.pages) out.push_back(p.num);
    return out;
}

std::vector<int32_t> table_nums(const Doc &doc) {
    std::vector<int32_t> out;
    for (const ObjEntry &e : doc.objs) out.push_back(e.num);
    return out;
}

std::string member_text(const ObjEntry &e) {
    return std::string(reinterpret_cast<const char *>(e.text), static_cast<size_t>(e.text_len));
}

int32_t at(const std::string &bytes, const std::string &needle, size_t from = 0) {
    const size_t p = bytes.find(needle, from);
    EXPECT_NE(p, std::string::npos) << needle;
    return static_cast<int32_t>(p);
}

void expect_empty(const Doc &doc) {
    EXPECT_TRUE(doc.data.empty());
    EXPECT_EQ(doc.size, 0);
    EXPECT_TRUE(doc.objs.empty());
    EXPECT_TRUE(doc.pages.empty());
    EXPECT_TRUE(doc.objstm_bufs.empty());
}

// ---- Failures and their messages ------------------------------------------------

TEST(DocumentLoad, FailureMessagesAreExact) {
    struct Case {
        const char *name;
        std::string bytes;
        const char *format;  // %s is the path
    };
    // 300 bytes whose only object is numbered 900.
    std::string big_number = "900 0 obj\n<< /Type /Catalog >>\nendobj\n";
    big_number += "%" + std::string(300 - big_number.size() - 2, 'x') + "\n";
    const Case cases[] = {
        {"empty", "", "empty input file: %s"},
        {"no header", "%PDF-1.4\nonly text, 12 0 R and endobj here\n",
         "no PDF objects found in %s"},
        {"headers that do not parse", "%PDF\n0 0 obj << >> endobj 12 0obj << >> endobj\n",
         "no PDF objects found in %s"},
        {"number above size", big_number, "object number 900 out of range for a 300-byte file"},
        {"classic trailer /Encrypt",
         PdfBuilder().pages(1).xref_table("/Root 1 0 R /Encrypt 9 0 R").bytes(),
         "encrypted PDFs are not supported: %s"},
        {"xref stream /Encrypt",
         PdfBuilder()
             .pages(1)
             .xref_stream(9, "/Root 1 0 R /Encrypt << /Filter /Standard >>")
             .bytes(),
         "encrypted PDFs are not supported: %s"},
        {"trailer not reached from startxref",
         PdfBuilder().pages(1).raw("trailer\n<< /Size 4 /Encrypt 7 0 R >>\n").bytes(),
         "encrypted PDFs are not supported: %s"},
    };
    ASSERT_EQ(big_number.size(), 300u);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Loaded l(c.bytes);
        EXPECT_EQ(l.rc, -1);
        EXPECT_EQ(l.error, with_path(c.format, l.file.path));
        expect_empty(l.doc);
    }
}

TEST(DocumentLoad, PathFailures) {
    Doc doc;
    EXPECT_EQ(doc_load(nullptr, doc), -1);
    EXPECT_STREQ(g_err, "NULL path argument");

    const std::string missing = std::string(INKVEIL_FIXTURES) + "/no-such-file.pdf";
    EXPECT_EQ(doc_load(missing.c_str(), doc), -1);
    EXPECT_EQ(std::string(g_err), "cannot open " + missing + ": " + std::strerror(ENOENT));
    expect_empty(doc);

    // What is not a regular file is refused before it is opened: a FIFO
    // with no writer would block the open for ever.
    const std::string fifo = std::filesystem::temp_directory_path() /
                             ("inkveil-fifo-" + std::to_string(getpid()));
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string &path : {std::string(INKVEIL_FIXTURES), fifo, std::string("/dev/null")}) {
        EXPECT_EQ(doc_load(path.c_str(), doc), -1);
        EXPECT_EQ(std::string(g_err), with_path("not a regular file: %s", path));
        expect_empty(doc);
    }
    std::remove(fifo.c_str());

    // A file of 2^31 bytes or more cannot be held with 32-bit offsets. A
    // sparse file shows it without writing 2 GiB.
    TempFile big("%PDF-1.4\n");
    for (const uint64_t size : {uint64_t{1} << 31, uint64_t{5} << 30}) {
        std::filesystem::resize_file(big.path, size);
        EXPECT_EQ(doc_load(big.c_str(), doc), -1);
        EXPECT_EQ(std::string(g_err),
                  with_path("the input file is 2 GiB or more, which this engine cannot read: %s",
                            big.path));
        expect_empty(doc);
    }
}

TEST(DocumentLoad, FreeIsHarmlessAfterFailureAndTwice) {
    Loaded bad("%PDF-1.4\nnothing\n");
    ASSERT_EQ(bad.rc, -1);
    doc_free(bad.doc);
    doc_free(bad.doc);
    expect_empty(bad.doc);

    Loaded good(PdfBuilder().pages(2).xref_table("/Root 1 0 R").bytes());
    ASSERT_EQ(good.rc, 0) << good.error;
    EXPECT_EQ(good.doc.pages.size(), 2u);
    // Loading into a loaded Doc replaces it; a failed load leaves it empty.
    EXPECT_EQ(doc_load(bad.file.c_str(), good.doc), -1);
    expect_empty(good.doc);
    EXPECT_EQ(good.doc.root, -1);
    doc_free(good.doc);
    doc_free(good.doc);
    expect_empty(good.doc);
}

TEST(DocumentLoad, EncryptOnlyInsideATrailerDictionaryCounts) {
    // Not reachable from "startxref": only the dictionary after "trailer" is
    // looked at, not what follows its ">>".
    Loaded after_dict(PdfBuilder().pages(1).raw("trailer\n<< /Size 4 >>\n/Encrypt\n").bytes());
    EXPECT_EQ(after_dict.rc, 0) << after_dict.error;

    // An unclosed trailer dictionary is read 4096 bytes from the keyword; a
    // name cut by that edge still counts.
    PdfBuilder b;
    b.pages(1);
    std::string tail = "trailer\n<< /Size 4 ";
    tail += std::string(4096 - tail.size() - 8, ' ') + "/Encrypt" + "X\n";
    Loaded at_edge(b.raw(tail).bytes());
    EXPECT_EQ(at_edge.rc, -1);
    EXPECT_EQ(at_edge.error, with_path("encrypted PDFs are not supported: %s", at_edge.file.path));

    tail.insert(8, " ");  // one byte further: outside the window
    PdfBuilder c;
    c.pages(1);
    Loaded outside(c.raw(tail).bytes());
    EXPECT_EQ(outside.rc, 0) << outside.error;
}

// ---- Header scan ---------------------------------------------------------------------

TEST(DocumentHeaderScan, WhichHeadersAreObjects) {
    struct Case {
        const char *text;
        bool recorded;  // object 12 is in the table
    };
    const Case cases[] = {
        {"12 0 obj\n<< /A 1 >>\nendobj", true},
        {"12  0  obj << /A 1 >> endobj", true},
        {"x12 0 obj << /A 1 >> endobj", true},
        {"5 0 obj 1 endobj 12 0 obj << /A 1 >> endobj", true},
        {"5 0 obj 1 endobj12 0 obj 7 endobj", true},
        {"12 0 obj\r\n(text)\r\nendobj", true},
        {"12 0 obj << /A 1 >>", true},  // no "endobj": ends at its ">>"
        {"12 0obj << /A 1 >> endobj", false},
        {"12/0 obj << /A 1 >> endobj", false},
        {"0 0 obj << /A 1 >> endobj", false},
        {"12\f0\fobj << /A 1 >> endobj", false},
        {"12 0 obj", false},                       // nothing after the header
        {"12 0 obj 42", false},                    // no "endobj"
        {"12 0 obj << /A 1", false},               // neither "endobj" nor ">>"
        {"4294967308 0 obj << >> endobj", false},  // would wrap to 12 in 32 bits
        {"8388620 0 obj << >> endobj", false},     // 2^23 and above are dropped
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        // A first object keeps the table from being empty; the row ends the file.
        Loaded l(std::string("%PDF-1.4\n2 0 obj\n<< /Type /Catalog >>\nendobj\n") + c.text);
        ASSERT_EQ(l.rc, 0) << l.error;
        EXPECT_EQ(doc_find_obj(l.doc, 12) != nullptr, c.recorded);
    }
}

TEST(DocumentHeaderScan, RecordedPositions) {
    const std::string bytes =
        "%PDF-1.4\n"
        "1 0 obj\n<< /A (>>) >>\n2 0 obj\n<< /B 2 >>\nendobj\n"  // 1 has no "endobj"
        "3 1 obj\n[ 1 2 ]\nendobj\n"
        "4 0 obj\n<AB>\nendobj\n";
    Loaded l(bytes);
    ASSERT_EQ(l.rc, 0) << l.error;
    ASSERT_EQ(table_nums(l.doc), (std::vector<int32_t>{1, 2, 3, 4}));
    const ObjEntry &o1 = l.doc.objs[0];
    EXPECT_EQ(o1.obj_start, at(bytes, "1 0 obj"));
    EXPECT_EQ(o1.dict_pos, at(bytes, "<< /A"));
    EXPECT_EQ(o1.endobj_pos, at(bytes, ">>\n2 0") + 2);  // just past its own ">>"
    EXPECT_EQ(o1.obj_end, o1.endobj_pos + 6);
    EXPECT_EQ(o1.has_stream, 0);
    EXPECT_EQ(o1.dict_end, -1);
    EXPECT_EQ(o1.data_start, -1);
    const ObjEntry &o2 = l.doc.objs[1];
    EXPECT_EQ(o2.endobj_pos, at(bytes, "endobj"));
    const ObjEntry &o3 = l.doc.objs[2];
    EXPECT_EQ(o3.gen, 1);
    EXPECT_EQ(o3.dict_pos, -1);
    EXPECT_EQ(o3.endobj_pos, at(bytes, "endobj", o3.obj_start));
    const ObjEntry &o4 = l.doc.objs[3];
    EXPECT_EQ(o4.dict_pos, at(bytes, "<AB>"));  // a hex string still starts with '<'
    EXPECT_EQ(o4.endobj_pos, at(bytes, "endobj", o4.obj_start));
    EXPECT_EQ(l.doc.max_obj_num, 4);
}

TEST(DocumentHeaderScan, UnclosedDictionaryEndsAtTheNextHeader) {
    // Neither dictionary closes before the one "endobj" at the end: each ends
    // where the next object begins, so no dictionary text spans another object.
    const std::string bytes =
        "%PDF-1.4\n"
        "1 0 obj\n<< /Type /Catalog /A (x\n"
        "2 0 obj\n<< /Kids [3 0 R] /B (\n"
        "3 0 obj\n<< /Type /Page >>\nendobj\n";
    Loaded l(bytes);
    ASSERT_EQ(l.rc, 0) << l.error;
    ASSERT_EQ(table_nums(l.doc), (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(l.doc.objs[0].endobj_pos, at(bytes, "2 0 obj"));
    EXPECT_EQ(l.doc.objs[1].endobj_pos, at(bytes, "3 0 obj"));
    EXPECT_EQ(obj_has_key(l.doc, l.doc.objs[0], "Kids"), 0);
    EXPECT_EQ(obj_type(l.doc.data.data(), l.doc.size, l.doc.objs[1]), 0);
    // The word "endobj" inside a string of a dictionary is no end either.
    const std::string worded =
        "%PDF-1.4\n1 0 obj\n<< /Type /Page /PieceInfo << /X (see endobj) >> /Contents 4 0 R >>\n"
        "endobj\n4 0 obj\n(x)\nendobj\n";
    Loaded w(worded);
    ASSERT_EQ(w.rc, 0) << w.error;
    const ObjEntry *page = doc_find_obj(w.doc, 1);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->endobj_pos, at(worded, "endobj\n4"));
    EXPECT_EQ(obj_ref_value(w.doc, *page, "Contents"), 4);
    EXPECT_TRUE(obj_dict_text(w.doc, *page));
    // A header written inside a string of a dictionary that does close is no
    // end: the object keeps its "endobj".
    const std::string quoted = "%PDF-1.4\n1 0 obj\n<< /A (2 0 obj) >>\nendobj\n";
    Loaded q(quoted);
    ASSERT_EQ(q.rc, 0) << q.error;
    EXPECT_EQ(doc_find_obj(q.doc, 1)->endobj_pos, at(quoted, "endobj"));
}

// ---- Stream extents ------------------------------------------------------------------

// One stream object 4, written as `head` + "stream" + `eol` + `data` + `tail`,
// followed by object 6; the load must find the data where `data_len` (or, when
// negative, the first "endstream") says, and keep object 6.
TEST(DocumentStreamExtents, LengthIsTrustedWhenEndstreamFollows) {
    struct Case {
        const char *name;
        std::string dict;
        std::string eol;
        std::string data;
        std::string tail;
        int data_len;  // -1: ends at the first "endstream"
    };
    const std::string data10 = "0123456789";
    const Case cases[] = {
        {"direct", "<< /Length 10 >>", "\n", data10, "\nendstream\nendobj\n", 10},
        {"CR LF", "<< /Length 10 >>", "\r\n", data10, "\r\nendstream\nendobj\n", 10},
        {"CR alone", "<< /Length 10 >>", "\r", data10, "\nendstream\nendobj\n", 10},
        {"blanks then LF", "<< /Length 10 >>", " \t\n", data10, "\nendstream\nendobj\n", 10},
        {"no end of line", "<< /Length 10 >>", " ", data10, "\nendstream\nendobj\n", 10},
        {"endstream right after", "<< /Length 10 >>", "\n", "012345678.", "endstream endobj\n", 10},
        {"data holding endstream", "<< /Length 18 >>", "\n", "abc endstream xyz.",
         "\nendstream\nendobj\n", 18},
        {"indirect", "<< /Length 5 0 R >>", "\n", data10,
         "\nendstream\nendobj\n5 0 obj 10 endobj\n", 10},
        {"indirect, no blank", "<< /Length 5 0 R>>", "\n", data10,
         "\nendstream\nendobj\n5 0 obj\n10\nendobj\n", 10},
        {"no Length", "<< /Filter /X >>", "\n", data10, "\nendstream\nendobj\n", -1},
        {"Length not a number", "<< /Length /Ten >>", "\n", data10, "\nendstream\nendobj\n", -1},
        {"Length past the file", "<< /Length 100000 >>", "\n", data10, "\nendstream\nendobj\n", -1},
        {"Length near 2^31", "<< /Length 2147483600 >>", "\n", data10, "\nendstream\nendobj\n", -1},
        {"Length too short", "<< /Length 4 >>", "\n", data10, "\nendstream\nendobj\n", -1},
        {"Length over the next object", "<< /Length 40 >>", "\n", data10, "\nendstream\nendobj\n",
         -1},
        {"indirect to a missing object", "<< /Length 8 0 R >>", "\n", data10,
         "\nendstream\nendobj\n", -1},
        {"indirect to a stream", "<< /Length 5 0 R >>", "\n", data10,
         "\nendstream\nendobj\n5 0 obj << /Length 1 >> stream\nx\nendstream endobj\n", -1},
        {"indirect to a negative", "<< /Length 5 0 R >>", "\n", data10,
         "\nendstream\nendobj\n5 0 obj -10 endobj\n", -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string head = "%PDF-1.4\n4 0 obj\n" + c.dict + "\n";
        const std::string bytes =
            head + "stream" + c.eol + c.data + c.tail + "6 0 obj\n<< /Type /Catalog >>\nendobj\n";
        Loaded l(bytes);
        ASSERT_EQ(l.rc, 0) << l.error;
        const ObjEntry *s = doc_find_obj(l.doc, 4);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->has_stream, 1);
        EXPECT_EQ(s->dict_end, static_cast<int32_t>(head.size()));
        const int32_t start = static_cast<int32_t>(head.size() + 6 + c.eol.size());
        EXPECT_EQ(s->data_start, start);
        const int32_t endstream = at(bytes, "endstream", static_cast<size_t>(start));
        const int32_t end = c.data_len >= 0 ? start + c.data_len : endstream;
        EXPECT_EQ(s->data_end, end);
        EXPECT_EQ(s->stream_len, end - start);
        EXPECT_EQ(s->endobj_pos, at(bytes, "endobj", static_cast<size_t>(end)));
        EXPECT_EQ(s->obj_end, s->endobj_pos + 6);
        ASSERT_NE(doc_find_obj(l.doc, 6), nullptr);
        EXPECT_EQ(l.doc.root, 6);
    }
}

TEST(DocumentStreamExtents, WithoutEndstreamOrEndobj) {
    // No "endstream" anywhere: the end fields stay unknown.
    const std::string open = "%PDF-1.4\n4 0 obj\n<< /Length 99 >>\nstream\nabc";
    Loaded l(open);
    ASSERT_EQ(l.rc, 0) << l.error;
    const ObjEntry *s = doc_find_obj(l.doc, 4);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->data_start, at(open, "abc"));
    EXPECT_EQ(s->data_end, -1);
    EXPECT_EQ(s->stream_len, -1);
    EXPECT_EQ(s->endobj_pos, -1);
    EXPECT_EQ(s->obj_end, -1);

    // A trusted /Length without any "endobj": the object ends after "endstream".
    const std::string trusted = "%PDF-1.4\n4 0 obj\n<< /Length 3 >>\nstream\nabc\nendstream\n";
    Loaded t(trusted);
    ASSERT_EQ(t.rc, 0) << t.error;
    s = doc_find_obj(t.doc, 4);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->data_end, at(trusted, "abc") + 3);
    EXPECT_EQ(s->endobj_pos, -1);
    EXPECT_EQ(s->obj_end, at(trusted, "endstream") + 9);
}

TEST(DocumentStreamExtents, HeadersInsideStreamDataAreContent) {
    const std::string fake = "3 0 obj\n<< /Type /Fake >>\nendobj\n7 0 obj\n(only here)\nendobj\n";
    PdfBuilder b;
    b.pages(1);  // objects 1, 2 and the page 3
    b.stream(4, "", fake);
    b.obj(5, "<< /Kind /AfterTheStream >>");
    Loaded l(b.bytes());
    ASSERT_EQ(l.rc, 0) << l.error;
    EXPECT_EQ(table_nums(l.doc), (std::vector<int32_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(doc_find_obj(l.doc, 3)->obj_start, at(b.out, "3 0 obj"));  // the real page
    EXPECT_EQ(l.doc.pages.size(), 1u);

    // Without a /Length to trust, the data is not known and the headers in it
    // count as objects: the later object 3 replaces the page.
    std::string loose = b.out;
    loose.replace(loose.find("/Length"), 7, "/Lngth ");
    Loaded m(loose);
    ASSERT_EQ(m.rc, 0) << m.error;
    EXPECT_EQ(doc_find_obj(m.doc, 3)->obj_start, at(loose, "3 0 obj", loose.find("stream")));
    EXPECT_NE(doc_find_obj(m.doc, 7), nullptr);
    EXPECT_TRUE(m.doc.pages.empty());
}

TEST(DocumentStreamExtents, IndirectLengthSkipsHeadersInsideEarlierData) {
    // Object 5 "defined" inside the data of stream 4 is content; the /Length
    // of stream 6 comes from the real object 5 further on.
    const std::string bytes =
        "%PDF-1.4\n"
        "4 0 obj\n<< /Length 19 >>\nstream\n5 0 obj\n99\nendobj\n\nendstream\nendobj\n"
        "6 0 obj\n<< /Length 5 0 R >>\nstream\nabcd\nendstream\nendobj\n"
        "5 0 obj\n4\nendobj\n";
    Loaded l(bytes);
    ASSERT_EQ(l.rc, 0) << l.error;
    EXPECT_EQ(table_nums(l.doc), (std::vector<int32_t>{4, 6, 5}));
    const ObjEntry *s = doc_find_obj(l.doc, 6);
    EXPECT_EQ(s->stream_len, 4);
    EXPECT_EQ(s->data_end, at(bytes, "abcd") + 4);
}

// ---- Trailer facts ---------------------------------------------------------------------

TEST(DocumentTrailer, Facts) {
    struct Case {
        const char *name;
        std::string bytes;
        int32_t startxref;  // -2: any value
        int32_t trailer_root;
        int32_t trailer_info;
    };
    PdfBuilder base;
    base.pages(1).obj(7, "<< /Type /Catalog /Pages 2 0 R >>").obj(9, "<< /Title (t) >>");
    const std::string objs = base.bytes();

    PdfBuilder two_sections = base;
    two_sections.xref_table("/Root 1 0 R /Info 9 0 R").obj(8, "<< >>").xref_table("/Root 7 0 R");

    std::string two_trailers =
        objs +
        "xref\n0 1\n0000000000 65535 f \n"
        "trailer\n<< /Root 1 0 R >>\ntrailer\n<< /Root 7 0 R /Info 9 0 R >>\n"
        "startxref\n" +
        std::to_string(objs.size()) + "\n%%EOF\n";
    std::string unclosed = objs + "xref\ntrailer\n<< /Size 3 /Root 1 0 R\nstartxref\n" +
                           std::to_string(objs.size()) + "\n";
    std::string root_after_close = objs + "xref\ntrailer\n<< /Size 3 >> /Root 7 0 R\nstartxref\n" +
                                   std::to_string(objs.size()) + "\n";

    // Cross-reference streams whose /Prev point at each other.
    PdfBuilder loop = base;
    loop.xref_stream(10, "/Root 7 0 R");
    std::string looped = loop.bytes();
    loop.xref_stream(11, "/Root 1 0 R");  // /Prev -> 10
    const int32_t second_xref = static_cast<int32_t>(loop.prev_xref);
    looped = loop.bytes();
    // Make stream 10 point forward at stream 11 (same width, digits only).
    const std::string none = "/Root 7 0 R";
    const std::string fwd = "/Prev " + std::to_string(second_xref);
    looped.replace(static_cast<size_t>(at(looped, none)), none.size(),
                   fwd + std::string(none.size() - fwd.size(), ' '));

    PdfBuilder chain = base;
    chain.xref_stream(10, "/Root 7 0 R").obj(12, "<< >>").xref_stream(11, "/Root 1 0 R");

    const Case cases[] = {
        {"no startxref", objs, -1, -1, -1},
        {"incremental update: newest section", two_sections.bytes(), -2, 7, -1},
        {"two trailers in one section", two_trailers, static_cast<int32_t>(objs.size()), 7, 9},
        {"trailer without its >>", unclosed, -2, 1, -1},
        {"range runs to startxref", root_after_close, -2, 7, -1},
        {"startxref past the file", objs + "startxref\n99999\n", 99999, -1, -1},
        {"startxref at nothing", objs + "startxref\n0\n", 0, -1, -1},
        {"xref stream chain: newest /Root", chain.bytes(), -2, 1, -1},
        {"xref streams in a /Prev loop", looped, second_xref, 1, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Loaded l(c.bytes);
        ASSERT_EQ(l.rc, 0) << l.error;
        if (c.startxref != -2) {
            EXPECT_EQ(l.doc.startxref, c.startxref);
        }
        EXPECT_EQ(l.doc.trailer_root, c.trailer_root);
        EXPECT_EQ(l.doc.trailer_info, c.trailer_info);
    }
}

TEST(DocumentTrailer, CatalogAndInfoResolution) {
    struct Case {
        const char *name;
        std::string trailer;
        int32_t root;
        int32_t info;
        size_t pages;
    };
    const Case cases[] = {
        {"trailer root", "/Root 1 0 R /Info 9 0 R", 1, 9, 1},
        {"missing root: first /Catalog", "/Root 20 0 R", 1, -1, 1},
        {"no trailer root", "/Size 3", 1, -1, 1},
        {"root without /Pages", "/Root 9 0 R /Info 30 0 R", 9, -1, 0},
        {"/Pages not a positive number", "/Root 10 0 R", 10, -1, 0},
        {"/Pages names a page", "/Root 11 0 R", 11, -1, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PdfBuilder b;
        b.pages(1)
            .obj(9, "<< /Title (info) >>")
            .obj(10, "<< /Type /Catalog /Pages 0 >>")
            .obj(11, "<< /Type /Catalog /Pages 3 0 R >>")
            .xref_table(c.trailer);
        Loaded l(b.bytes());
        ASSERT_EQ(l.rc, 0) << l.error;
        EXPECT_EQ(l.doc.root, c.root);
        EXPECT_EQ(l.doc.info, c.info);
        EXPECT_EQ(l.doc.pages.size(), c.pages);
    }
}

// ---- Object streams -------------------------------------------------------------------

TEST(DocumentObjectStreams, MembersAreExpanded) {
    PdfBuilder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.object_stream(10, {{2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>"},
                         {3, "<< /Type /Page /Parent 2 0 R >>"},
                         {4, "<< /Type /Page /Parent 2 0 R >>"}});
    b.xref_stream(11, "/Root 1 0 R");
    Loaded l(b.bytes());
    ASSERT_EQ(l.rc, 0) << l.error;
    // The container goes; the xref stream stays as an ordinary object.
    EXPECT_EQ(table_nums(l.doc), (std::vector<int32_t>{1, 11, 2, 3, 4}));
    EXPECT_EQ(page_nums(l.doc), (std::vector<int32_t>{3, 4}));
    ASSERT_EQ(l.doc.objstm_bufs.size(), 1u);
    const ObjEntry *m = doc_find_obj(l.doc, 3);
    EXPECT_EQ(m->compressed, 1);
    EXPECT_EQ(member_text(*m), "<< /Type /Page /Parent 2 0 R >>\n");  // runs to the next member
    EXPECT_EQ(member_text(*doc_find_obj(l.doc, 4)), "<< /Type /Page /Parent 2 0 R >>\n");
    EXPECT_EQ(m->dict_pos, -1);
    EXPECT_EQ(m->dict_end, -1);
    EXPECT_EQ(m->gen, 0);
    EXPECT_EQ(m->obj_start, 0);
    EXPECT_EQ(m->data_start, 0);
    EXPECT_EQ(m->data_end, 0);
    EXPECT_EQ(m->endobj_pos, 0);
    EXPECT_EQ(m->stream_len, 0);
    EXPECT_EQ(l.doc.max_obj_num, 11);
}

// Object stream 10 written by hand: `dict` and the (uncompressed) `data`,
// compressed with zlib unless `raw_data` is set.
std::string with_object_stream(const std::string &dict, const std::string &data,
                               bool raw_data = false) {
    const std::string body = raw_data ? data : pdftest::zlib_compress(data);
    return "%PDF-1.5\n1 0 obj\n<< /Type /Catalog >>\nendobj\n10 0 obj\n<< " + dict +
           (raw_data ? "" : " /Filter /FlateDecode") + " /Length " + std::to_string(body.size()) +
           " >>\nstream\n" + body + "\nendstream\nendobj\n";
}

TEST(DocumentObjectStreams, HeaderCases) {
    struct Case {
        const char *name;
        std::string bytes;
        std::vector<std::pair<int32_t, std::string>> members;  // in table order
    };
    const std::string three = "5 0 6 6 7 11 (five)(six)(seven)";  // /First 13
    const Case cases[] = {
        {"three members",
         with_object_stream("/Type /ObjStm /N 3 /First 13", three),
         {{5, "(five)"}, {6, "(six)"}, {7, "(seven)"}}},
        {"/N 0", with_object_stream("/Type /ObjStm /N 0 /First 13", three), {}},
        {"/N 100000", with_object_stream("/Type /ObjStm /N 100000 /First 13", three), {}},
        {"no /First", with_object_stream("/Type /ObjStm /N 3", three), {}},
        {"/First 0", with_object_stream("/Type /ObjStm /N 3 /First 0", three), {}},
        {"not compressed", with_object_stream("/Type /ObjStm /N 3 /First 13", three, true), {}},
        {"/N beyond the pairs: failed reads give no member",
         with_object_stream("/Type /ObjStm /N 5 /First 13", three),
         {{5, "(five)"}, {6, "(six)"}}},
        {"numbers 0 and below are dropped",
         with_object_stream("/Type /ObjStm /N 3 /First 14", "0 0 -6 6 7 11 (five)(six)(seven)"),
         {{7, "(seven)"}}},
        {"an offset past the data ends with the data",
         with_object_stream("/Type /ObjStm /N 2 /First 13", "5 0 6 900    (five)(six)"),
         {{5, "(five)(six)"}}},
        {"decreasing offsets",
         with_object_stream("/Type /ObjStm /N 2 /First 9", "5 6 6 0  (five)(six)"),
         {{6, "(five)(six)"}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Loaded l(c.bytes);
        ASSERT_EQ(l.rc, 0) << l.error;
        std::vector<std::pair<int32_t, std::string>> members;
        for (const ObjEntry &e : l.doc.objs)
            if (e.compressed) members.emplace_back(e.num, member_text(e));
        EXPECT_EQ(members, c.members);
        EXPECT_EQ(doc_find_obj(l.doc, 10), nullptr);  // the container never stays
        EXPECT_EQ(l.doc.root, 1);
    }
}

TEST(DocumentObjectStreams, DataMuchLargerThanTheGuessStillExpands) {
    // 3 MB of blanks compress to a few kB: far beyond 20 x compressed + 4096.
    const std::string text = "<< /Big (" + std::string(3 << 20, ' ') + ") >>";
    const std::string data = "8 0 " + text;
    const std::string bytes = with_object_stream("/Type /ObjStm /N 1 /First 4", data);
    ASSERT_LT(bytes.size(), 20000u);
    Loaded l(bytes);
    ASSERT_EQ(l.rc, 0) << l.error;
    const ObjEntry *m = doc_find_obj(l.doc, 8);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->text_len, static_cast<int32_t>(text.size()));

    std::string corrupt = bytes;
    corrupt[static_cast<size_t>(at(corrupt, "stream\n")) + 7] = 0x7f;  // not a deflate method
    Loaded bad(corrupt);
    ASSERT_EQ(bad.rc, 0) << bad.error;
    EXPECT_EQ(doc_find_obj(bad.doc, 8), nullptr);
}

// ---- Duplicate definitions -------------------------------------------------------------

TEST(DocumentDuplicates, LastDefinitionInTheFileWins) {
    struct Case {
        const char *name;
        PdfBuilder pdf;
        std::vector<int32_t> table;  // numbers in table order
        std::string title;           // of object 4
    };
    std::vector<Case> cases;
    {
        PdfBuilder b;
        b.pages(1).obj(4, "<< /T (old) >>").obj(5, "<< >>").xref_table("/Root 1 0 R");
        b.obj(4, "<< /T (new) >>").xref_table("/Root 1 0 R");
        cases.push_back({"direct redefined by an update", b, {1, 2, 3, 5, 4}, "(new)"});
    }
    {
        PdfBuilder b;
        b.pages(1).obj(4, "<< /T (old) >>").xref_stream(20, "/Root 1 0 R");
        b.object_stream(21, {{4, "<< /T (new) >>"}}).xref_stream(22, "/Root 1 0 R");
        cases.push_back(
            {"direct rewritten into an object stream", b, {1, 2, 3, 20, 22, 4}, "(new)"});
    }
    {
        PdfBuilder b;
        b.pages(1).object_stream(21, {{4, "<< /T (old) >>"}}).xref_stream(20, "/Root 1 0 R");
        b.obj(4, "<< /T (new) >>").xref_stream(22, "/Root 1 0 R");
        cases.push_back({"member rewritten as a direct object", b, {1, 2, 3, 20, 4, 22}, "(new)"});
    }
    {
        PdfBuilder b;
        b.pages(1).object_stream(21, {{4, "<< /T (old) >>"}, {6, "1"}});
        b.object_stream(23, {{4, "<< /T (new) >>"}}).xref_stream(20, "/Root 1 0 R");
        cases.push_back({"two object streams", b, {1, 2, 3, 20, 6, 4}, "(new)"});
    }
    {
        PdfBuilder b;
        b.pages(1).object_stream(21, {{4, "<< /T (old) >>"}, {4, "<< /T (new) >>"}});
        b.xref_stream(20, "/Root 1 0 R");
        cases.push_back({"one stream listing a number twice", b, {1, 2, 3, 20, 4}, "(new)"});
    }
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Loaded l(c.pdf.bytes());
        ASSERT_EQ(l.rc, 0) << l.error;
        EXPECT_EQ(table_nums(l.doc), c.table);
        const ObjEntry *four = doc_find_obj(l.doc, 4);
        ASSERT_NE(four, nullptr);
        const DictRange r = obj_dict_range(l.doc, *four);
        ASSERT_NE(r.bytes, nullptr);
        const std::string text(reinterpret_cast<const char *>(r.bytes) + r.start,
                               static_cast<size_t>(r.end - r.start));
        EXPECT_NE(text.find(c.title), std::string::npos) << text;
        EXPECT_EQ(l.doc.pages.size(), 1u);
    }
}

TEST(DocumentDuplicates, SharedStreamHeadersExpandOnce) {
    // Headers written inside a string of another dictionary close with it and
    // share its stream: every such header is a container of the same data.
    std::string head;
    for (int i = 0; i < 200; ++i)
        head += std::to_string(100 + i) + " 0 obj <</Type/ObjStm/N " + std::to_string(1 + i % 7) +
            "/First 4 (";
    std::string closes(200, ')');
    const std::string packed = pdftest::zlib_compress("5 0 (five)");
    const std::string bytes = "%PDF-1.5\n1 0 obj\n<< /Type /Catalog >>\nendobj\n" + head + closes +
                              " /Filter/FlateDecode /Length " + std::to_string(packed.size()) +
                              " >>\nstream\n" + packed + "\nendstream\nendobj\n";
    Loaded l(bytes);
    ASSERT_EQ(l.rc, 0) << l.error;
    EXPECT_EQ(table_nums(l.doc), (std::vector<int32_t>{1, 5}));
    EXPECT_EQ(l.doc.objstm_bufs.size(), 1u);
}

// ---- Page tree ---------------------------------------------------------------------------

TEST(DocumentPages, Walk) {
    struct Case {
        const char *name;
        std::vector<std::pair<int, std::string>> objs;  // catalog 1 has /Pages 2 0 R
        std::vector<int32_t> pages;
    };
    const std::string page = "<< /Type /Page >>";
    const Case cases[] = {
        {"one level",
         {{2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] >>"}, {3, page}, {4, page}, {5, page}},
         {3, 4, 5}},
        {"nested, depth first",
         {{2, "<< /Type /Pages /Kids [6 0 R 3 0 R] >>"},
          {6, "<< /Type /Pages /Kids [4 0 R 5 0 R] >>"},
          {3, page},
          {4, page},
          {5, page}},
         {4, 5, 3}},
        {"node listing itself", {{2, "<< /Type /Pages /Kids [2 0 R 3 0 R] >>"}, {3, page}}, {3}},
        {"nodes listing each other",
         {{2, "<< /Type /Pages /Kids [6 0 R] >>"},
          {6, "<< /Type /Pages /Kids [2 0 R 3 0 R] >>"},
          {3, page}},
         {3}},
        {"page listed twice", {{2, "<< /Type /Pages /Kids [3 0 R 3 0 R] >>"}, {3, page}}, {3, 3}},
        {"/Pages names a page", {{2, page}}, {2}},
        {"a page with /Kids is a leaf",
         {{2, "<< /Type /Pages /Kids [3 0 R] >>"},
          {3, "<< /Type /Page /Kids [4 0 R] >>"},
          {4, page}},
         {3}},
        {"node without /Type", {{2, "<< /Kids [3 0 R] >>"}, {3, page}}, {3}},
        {"missing kid",
         {{2, "<< /Type /Pages /Kids [3 0 R 9 0 R 4 0 R] >>"}, {3, page}, {4, page}},
         {3, 4}},
        {"first /Kids not an array",
         {{2, "<< /Type /Pages /Kids 5 0 R /Kids [4 0 R] >>"}, {4, page}, {5, "[3 0 R]"}},
         {4}},
        {"stray bytes in the array",
         {{2, "<< /Type /Pages /Kids [/X 3 0 R (y) 4 0 R] >>"}, {3, page}, {4, page}},
         {3, 4}},
        {"bare numbers pair up",
         {{2, "<< /Type /Pages /Kids [3 4 5 6] >>"}, {3, page}, {4, page}, {5, page}},
         {3, 5}},
        {"/Type /PageLabel is no page",
         {{2, "<< /Type /Pages /Kids [3 0 R] >>"},
          {3, "<< /Type /PageLabel /Kids [4 0 R] >>"},
          {4, page}},
         {4}},
        // Readers show a leaf dictionary without /Type as a page: so it is one.
        {"leaf without /Type is a page",
         {{2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R 6 0 R] >>"},
          {3, "<< /Contents 7 0 R /Resources << /Font << /F1 << /Type /Font >> >> >> >>"},
          {4, "<< /Type /Font >>"},
          {5, "(no dictionary)"},
          {6, page}},
         {3, 6}},
        {"/Pages naming an untyped leaf", {{2, "<< /Title (not a page) >>"}}, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PdfBuilder b;
        b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
        for (const auto &o : c.objs) b.obj(o.first, o.second);
        b.xref_table("/Root 1 0 R");
        Loaded l(b.bytes());
        ASSERT_EQ(l.rc, 0) << l.error;
        EXPECT_EQ(page_nums(l.doc), c.pages);
    }
}

TEST(DocumentPages, TreesOfAnyDepthAreWalkedWhole) {
    // Node 100 + d sits at depth d and holds the next node, and in the
    // shallow tree page P + d too: every page is found, in order, however
    // deep; a chain of 100000 nodes needs no deeper recursion than a flat tree.
    for (const int depth : {70, 100000}) {
        SCOPED_TRACE(depth);
        const bool page_per_level = depth < 1000;
        const int first_page = 100 + depth + 10;
        PdfBuilder b;
        b.obj(1, "<< /Type /Catalog /Pages 100 0 R >>");
        for (int d = 0; d < depth; ++d) {
            const bool has_page = page_per_level || d + 1 == depth;
            const std::string page = has_page ? std::to_string(first_page + d) + " 0 R " : "";
            b.obj(100 + d, "<< /Type /Pages /Kids [" + page + std::to_string(101 + d) + " 0 R] >>");
            if (has_page) b.obj(first_page + d, "<< /Type /Page >>");
        }
        b.xref_table("/Root 1 0 R");
        Loaded l(b.bytes());
        ASSERT_EQ(l.rc, 0) << l.error;
        ASSERT_EQ(l.doc.pages.size(), page_per_level ? static_cast<size_t>(depth) : 1u);
        EXPECT_EQ(l.doc.pages.front().num, page_per_level ? first_page : first_page + depth - 1);
        EXPECT_EQ(l.doc.pages.back().num, first_page + depth - 1);
    }
}

// ---- Hostile input ------------------------------------------------------------------------

std::string repeated(const std::string &unit, size_t bytes) {
    std::string out;
    out.reserve(bytes + unit.size());
    while (out.size() < bytes) out += unit;
    return out;
}

// Megabytes of unterminated structures; every later header would rescan the
// rest of the file if the loader searched afresh each time. Not timed: the
// point is that these finish at all.
TEST(DocumentHostile, RepeatedUnterminatedStructuresLoadOrFailCleanly) {
    struct Case {
        const char *name;
        std::string bytes;
        int rc;
    };
    const size_t mb3 = 3u << 20;
    std::string numbered;  // distinct numbers, one "endobj" at the very end
    for (int i = 1; numbered.size() < mb3; ++i) numbered += std::to_string(i) + " 0 obj<<";
    numbered += "endobj";
    const Case cases[] = {
        {"dictionaries", repeated("1 0 obj<<", mb3), -1},
        {"strings in dictionaries", repeated("1 0 obj<<(", mb3), -1},
        {"hex strings", repeated("1 0 obj<", mb3), -1},
        {"escapes and strings", repeated("1 0 obj<<(\\", mb3), -1},
        {"closing brackets", repeated("1 0 obj<<>>>>", mb3) + "endobj", 0},
        {"streams without endstream", repeated("1 0 obj<</Length 5>>stream\n", mb3), 0},
        {"lengths over the file", repeated("1 0 obj<</Length 1>>stream\n \n", mb3) + "endstream",
         0},
        {"numbers without endobj", repeated("1 0 obj 7 ", mb3), -1},
        {"distinct objects, one endobj", numbered, 0},
        {"trailers", repeated("trailer<<", mb3), -1},
        {"trailers with sections",
         "1 0 obj 1 endobj startxref 30 " + repeated("xref trailer<</Root 1 0 R", mb3), 0},
        {"start of header runs", repeated("1 1 1 1 ", mb3) + "obj<<>>endobj", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Loaded l(c.bytes);
        EXPECT_EQ(l.rc, c.rc) << l.error;
        if (l.rc != 0) {
            EXPECT_EQ(l.error, with_path("no PDF objects found in %s", l.file.path));
        }
    }
}

// Compares two loads of the same objects, the second written `shift` bytes
// further into its file.
void expect_same_load(const Loaded &a, const Loaded &b, int32_t shift) {
    ASSERT_EQ(a.rc, b.rc) << a.error << " / " << b.error;
    if (a.rc != 0) {
        std::string expect = a.error, got = b.error;
        for (auto *s : {&expect, &got}) {
            for (const std::string *p : {&a.file.path, &b.file.path}) {
                const size_t at_path = s->find(*p);
                if (at_path != std::string::npos) s->replace(at_path, p->size(), "<path>");
            }
        }
        EXPECT_EQ(expect, got);
        return;
    }
    const auto moved = [shift](int32_t v) { return v >= 0 ? v + shift : v; };
    ASSERT_EQ(table_nums(a.doc), table_nums(b.doc));
    for (size_t i = 0; i < a.doc.objs.size(); ++i) {
        const ObjEntry &x = a.doc.objs[i], &y = b.doc.objs[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(x.compressed, y.compressed);
        if (x.compressed) {
            EXPECT_EQ(member_text(x), member_text(y));
            continue;
        }
        EXPECT_EQ(moved(x.obj_start), y.obj_start);
        EXPECT_EQ(moved(x.dict_pos), y.dict_pos);
        EXPECT_EQ(moved(x.dict_end), y.dict_end);
        EXPECT_EQ(moved(x.data_start), y.data_start);
        EXPECT_EQ(moved(x.data_end), y.data_end);
        EXPECT_EQ(moved(x.endobj_pos), y.endobj_pos);
        EXPECT_EQ(moved(x.obj_end), y.obj_end);
        EXPECT_EQ(x.stream_len, y.stream_len);
        EXPECT_EQ(x.has_stream, y.has_stream);
        EXPECT_EQ(x.gen, y.gen);
    }
    EXPECT_EQ(page_nums(a.doc), page_nums(b.doc));
    EXPECT_EQ(a.doc.root, b.doc.root);
    EXPECT_EQ(a.doc.info, b.doc.info);
    EXPECT_EQ(a.doc.max_obj_num, b.doc.max_obj_num);
}

// Thousands of nested dictionaries whose headers are numbered above 2^23: they
// cost the plain closing scans far more than their budget, so what follows is
// read through the precomputed closing tables, and must load exactly as it
// does on its own.
std::string expensive_prefix() {
    std::string p = "%PDF-1.4\n";
    for (int i = 0; i < 2000; ++i) p += "9999999 0 obj<<";
    p += std::string(4000, '>') + "\nX\n";
    return p;
}

TEST(DocumentHostile, ClosingTablesAgreeWithPlainScans) {
    const std::string prefix = expensive_prefix();
    const int32_t shift = static_cast<int32_t>(prefix.size());
    // Fragments chosen to exercise nesting, strings, escapes and hex strings
    // between object headers, streams and trailers.
    const char *const pieces[] = {"<<",
                                  ">>",
                                  "<<",
                                  ">>",
                                  "<",
                                  ">",
                                  "(",
                                  ")",
                                  "\\",
                                  " ",
                                  "\n",
                                  "\r\n",
                                  "1 0 obj",
                                  "2 0 obj",
                                  "3 0 obj",
                                  "4 0 obj",
                                  "endobj\n",
                                  "stream\n",
                                  "\nendstream",
                                  "/Length 4 ",
                                  "/Length 3 0 R",
                                  "/Type /Catalog",
                                  "/Pages 2 0 R",
                                  "/Kids [3 0 R 4 0 R]",
                                  "/Type /Page",
                                  "/Type /Pages",
                                  "abc",
                                  "trailer",
                                  "/Root 1 0 R",
                                  "<AB>",
                                  "(a\\)b)",
                                  "xref"};
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<size_t> pick(0, std::size(pieces) - 1);
    std::uniform_int_distribution<int> count(20, 400);
    for (int round = 0; round < 150; ++round) {
        std::string soup;
        const int n = count(rng);
        for (int i = 0; i < n; ++i) soup += pieces[pick(rng)];
        SCOPED_TRACE(soup);
        Loaded alone(soup);
        Loaded after(prefix + soup);
        expect_same_load(alone, after, shift);
    }

    // And a whole document made by the builder.
    PdfBuilder b;
    b.pages(3).stream(6, "", "BT (a<<b) Tj ET").obj(7, "<< /S (>>) /H <3E3E> >>");
    b.object_stream(8, {{9, "<< /Type /Font >>"}}).xref_stream(10, "/Root 1 0 R");
    std::string doc = b.bytes();
    doc.erase(0, doc.find("1 0 obj"));  // offsets into it would move with the prefix
    doc.erase(doc.find("startxref"));
    Loaded alone(doc);
    Loaded after(prefix + doc);
    ASSERT_EQ(alone.rc, 0) << alone.error;
    EXPECT_EQ(page_nums(alone.doc), (std::vector<int32_t>{3, 4, 5}));
    expect_same_load(alone, after, shift);
}

// ---- Files made by real tools ----------------------------------------------------------------

TEST(DocumentFixtures, RealToolOutputLoads) {
    struct Case {
        const char *file;
        size_t pages;
    };
    const Case cases[] = {
        {"base-handwritten.pdf", 3}, {"base.pdf", 3},
        {"objstm.pdf", 3},           {"qdf.pdf", 3},
        {"linearized.pdf", 3},       {"linearized-objstm.pdf", 3},
        {"ps2pdf.pdf", 2},
        // An uncompressed embedded PDF whose objects share numbers with the
        // outer file's, and whose stream has an indirect /Length.
        {"embedded-pdf-qdf.pdf", 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = std::string(INKVEIL_FIXTURES) + "/" + c.file;
        Doc doc;
        ASSERT_EQ(doc_load(path.c_str(), doc), 0) << g_err;
        EXPECT_EQ(doc.pages.size(), c.pages);
        const ObjEntry *catalog = doc_find_obj(doc, doc.root);
        ASSERT_NE(catalog, nullptr);
        EXPECT_EQ(obj_name_is(doc, *catalog, "Type", "Catalog"), 1);
        for (const PageRef &p : doc.pages) {
            const ObjEntry *page = doc_find_obj(doc, p.num);
            ASSERT_NE(page, nullptr);
            EXPECT_EQ(obj_type(doc.data.data(), doc.size, *page), 1);
        }
        doc_free(doc);
    }
}

TEST(DocumentFixtures, EncryptedFileIsRefused) {
    const std::string path = std::string(INKVEIL_FIXTURES) + "/encrypted.pdf";
    Doc doc;
    EXPECT_EQ(doc_load(path.c_str(), doc), -1);
    EXPECT_EQ(std::string(g_err), "encrypted PDFs are not supported: " + path);
    expect_empty(doc);
}

}  // namespace
