// Page content assembly: the streams a page's /Contents names, decoded and
// joined, with the objects they came from; and locating /Resources.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "api.h"
#include "content.h"
#include "pdf_builder.h"

namespace {

using pdftest::PdfBuilder;

Doc load(const PdfBuilder &pdf) {
    Doc doc;
    const pdftest::TempFile file = pdf.file();
    EXPECT_EQ(doc_load(file.c_str(), doc), 0) << g_err;
    return doc;
}

// A catalog, a page tree and page 3 with the given extra entries.
PdfBuilder one_page(const std::string &page_entries) {
    PdfBuilder pdf;
    pdf.obj(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
        .obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] " + page_entries + " >>");
    return pdf;
}

struct Content {
    int rc = -2;
    int32_t failed = -1;
    std::string bytes;
    std::vector<int32_t> objs;
};

Content page_content(const Doc &doc, int page_num = 1, int64_t max_len = INT32_MAX) {
    Content c;
    Buf out;
    clear_error();
    const ObjEntry *page = doc_find_obj(doc, 3);
    EXPECT_NE(page, nullptr);
    if (page == nullptr) return c;
    c.objs = {-7};  // must be replaced
    c.rc = get_page_content(doc, *page, out, c.objs, page_num, &c.failed, max_len);
    if (out.data) c.bytes.assign(reinterpret_cast<const char *>(out.data.get()), out.len);
    return c;
}

TEST(ContentAssembly, StreamsNamedByContents) {
    struct Case {
        const char *entries;  // the page's entries
        const char *bytes;
        std::vector<int32_t> objs;
    };
    const Case cases[] = {
        {"/Contents 4 0 R", "AAA", {4}},
        {"/Contents [4 0 R 5 0 R]", "AAA\nBBB\n", {4, 5}},
        {"/Contents [5 0 R]", "BBB\n", {5}},
        // A reference to an array object, in the file or in an object stream.
        {"/Contents 12 0 R", "AAA\nBBB\n", {12, 4, 5}},
        {"/Contents 13 0 R", "BBB\nAAA\n", {13, 5, 4}},
        // Missing, non-stream and empty objects add nothing, not even "\n";
        // only streams are recorded, so that no other object leaves the output.
        {"/Contents [4 0 R 99 0 R 6 0 R 7 0 R 5 0 R]", "AAA\nBBB\n", {4, 7, 5}},
        // Values inside nested arrays or strings are not references.
        {"/Contents [4 0 R [5 0 R] (5 0 R)]", "AAA\n", {4}},
        // Only the page's own entry counts: not the /Contents of an inline
        // annotation, nor one inside a string.
        {"/Annots [<< /Subtype /Text /Contents (a note) >>] /Contents 4 0 R", "AAA", {4}},
        {"/Annots [<< /Contents 5 0 R >>] /Note (/Contents 5 0 R) /Contents 4 0 R", "AAA", {4}},
        // Every copy of a repeated key is drawn by some reader: all are taken.
        {"/Contents 4 0 R /Contents 5 0 R", "AAA\nBBB", {4, 5}},
        {"/Contents null /Contents [5 0 R]", "BBB\n", {5}},
        {"/Contents []", "", {}},
        {"/Contents 6 0 R", "", {}},
        {"/Contents 99 0 R", "", {}},
        {"/Contents null", "", {}},
        {"", "", {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.entries);
        PdfBuilder pdf = one_page(c.entries);
        pdf.stream(4, "", "AAA")
            .stream(5, "", "BBB", true)
            .obj(6, "<< /Foo 1 >>")
            .stream(7, "", "")
            .obj(12, "[4 0 R\n5 0 R]")
            .object_stream(20, {{13, "[ 5 0 R 4 0 R ]"}})
            .xref_stream(21, "/Root 1 0 R");
        const Doc doc = load(pdf);
        const Content got = page_content(doc);
        EXPECT_EQ(got.bytes, c.bytes);
        EXPECT_EQ(got.objs, c.objs);
        EXPECT_EQ(got.rc, got.bytes.empty() ? 0 : 1);
        EXPECT_EQ(got.failed, 0);
    }
}

TEST(ContentAssembly, EveryStreamOfALongArrayIsRecorded) {
    std::string refs, expected;
    std::vector<int32_t> nums;
    for (int n = 10; n < 80; ++n) {
        refs += std::to_string(n) + " 0 R ";
        expected += "s" + std::to_string(n) + "\n";
        nums.push_back(n);
    }
    PdfBuilder pdf = one_page("/Contents 9 0 R");
    pdf.obj(9, "[" + refs + "]");
    for (int n = 10; n < 80; ++n) pdf.stream(n, "", "s" + std::to_string(n), n % 2 == 0);
    pdf.xref_table("/Root 1 0 R");
    const Doc doc = load(pdf);
    const Content got = page_content(doc);
    EXPECT_EQ(got.rc, 1);
    EXPECT_EQ(got.bytes, expected);
    nums.insert(nums.begin(), 9);
    EXPECT_EQ(got.objs, nums);
}

TEST(ContentAssembly, ContentPastItsLimitFails) {
    // Lengths are 32-bit downstream: joined content that would pass 2^31
    // bytes (a stream named again and again can get there) must fail, not be
    // cut short. The limit is lowered here to show it.
    PdfBuilder pdf = one_page("/Contents [4 0 R 4 0 R 4 0 R]");
    pdf.stream(4, "", "AAA", true).xref_table("/Root 1 0 R");
    const Doc doc = load(pdf);
    EXPECT_EQ(page_content(doc, 1, 12).bytes, "AAA\nAAA\nAAA\n");
    const Content got = page_content(doc, 2, 11);
    EXPECT_EQ(got.rc, -1);
    EXPECT_EQ(got.failed, 1);
    EXPECT_EQ(std::string(g_err), "out of memory decoding the page 2 content stream");
}

TEST(ContentAssembly, UndecodableStreamFailsNamingThePage) {
    const std::string expected =
        "the page 1 content stream uses /LZWDecode, which this engine cannot decode — the text "
        "was not redacted";
    for (const char *contents : {"5 0 R", "[4 0 R 5 0 R]", "12 0 R"}) {
        SCOPED_TRACE(contents);
        PdfBuilder pdf = one_page(std::string("/Contents ") + contents);
        pdf.stream(4, "", "AAA")
            .stream(5, "/Filter /LZWDecode", "xyz")
            .obj(12, "[4 0 R 5 0 R]")
            .xref_table("/Root 1 0 R");
        const Doc doc = load(pdf);
        const Content got = page_content(doc);
        EXPECT_EQ(got.rc, -1);
        EXPECT_EQ(got.failed, 1);
        EXPECT_EQ(std::string(g_err), expected);
    }
    // A corrupt compressed stream is named the same way.
    PdfBuilder pdf = one_page("/Contents 4 0 R");
    pdf.stream(4, "/Filter /FlateDecode", "not zlib").xref_table("/Root 1 0 R");
    const Doc doc = load(pdf);
    EXPECT_EQ(page_content(doc, 7).rc, -1);
    EXPECT_EQ(std::string(g_err),
              "the page 7 content stream could not be decompressed (/FlateDecode) — the text was "
              "not redacted");
}

TEST(ContentResources, InlineIndirectAndOtherValues) {
    struct Case {
        const char *entries;
        int rc;
        int32_t res_obj;
        const char *inline_start;  // what the text shows at the dictionary position
    };
    const Case cases[] = {
        {"/Resources 12 0 R", 1, 12, nullptr},
        {"/Resources\n<< /XObject << /Fm0 7 0 R >> >>", 1, 0, "<< /XObject"},
        {"/Resources null", 0, 0, nullptr},
        // The dictionary's own entry, not one nested before it; of a repeated
        // key the first usable copy.
        {"/PieceInfo << /A << /Resources 12 0 R >> >> /Resources 13 0 R", 1, 13, nullptr},
        {"/Resources null /Resources << /Font << >> >>", 1, 0, "<< /Font"},
        {"/Resources 0 0 R", 0, 0, nullptr},
        {"/Resources [1 2]", 0, 0, nullptr},
        {"/ResourcesX 12 0 R", 0, 0, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.entries);
        PdfBuilder pdf = one_page(c.entries);
        pdf.xref_table("/Root 1 0 R");
        const Doc doc = load(pdf);
        const ObjEntry *page = doc_find_obj(doc, 3);
        ASSERT_NE(page, nullptr);
        int32_t res_obj = 5, text_end = -1, dict_pos = -1;
        const unsigned char *text = doc.data.data();
        EXPECT_EQ(obj_resources(doc, *page, &res_obj, &text, &text_end, &dict_pos), c.rc);
        EXPECT_EQ(res_obj, c.res_obj);
        if (c.inline_start == nullptr) {
            EXPECT_EQ(text, nullptr);
            continue;
        }
        ASSERT_EQ(text, doc.data.data());
        ASSERT_LT(dict_pos, text_end);
        ASSERT_LE(text_end, doc.size);
        EXPECT_EQ(std::string(reinterpret_cast<const char *>(text) + dict_pos,
                              std::char_traits<char>::length(c.inline_start)),
                  c.inline_start);
    }
}

TEST(ContentResources, MemberOfAnObjectStreamUsesItsOwnText) {
    PdfBuilder pdf = one_page("");
    pdf.object_stream(20, {{30, "<< /Type /XObject /Resources << /Font << >> >> >>"}})
        .xref_stream(21, "/Root 1 0 R");
    const Doc doc = load(pdf);
    const ObjEntry *member = doc_find_obj(doc, 30);
    ASSERT_NE(member, nullptr);
    ASSERT_TRUE(member->compressed);
    int32_t res_obj = 0, text_end = 0, dict_pos = 0;
    const unsigned char *text = nullptr;
    ASSERT_EQ(obj_resources(doc, *member, &res_obj, &text, &text_end, &dict_pos), 1);
    EXPECT_EQ(text, member->text);
    EXPECT_EQ(text_end, obj_dict_range(doc, *member).end);  // the member's dictionary
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(text) + dict_pos, 11), "<< /Font <<");
}

}  // namespace
