// Documents made of a page, its fonts and its forms, loaded for tests of the
// content interpreter, the fonts and the redaction of content streams.
//
//   PageFixture page("BT /F1 12 Tf 100 700 Td (Secret) Tj ET", "/Font << /F1 10 0 R >>",
//                    {{10, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"}});
//   ContentTrace trace = page.trace();          // the page content interpreted
//   std::string out = page.redact(job).content; // the page content after a redaction
#ifndef INKVEIL_TESTS_CONTENT_FIXTURE_H
#define INKVEIL_TESTS_CONTENT_FIXTURE_H

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "document.h"
#include "interp.h"
#include "pdf_builder.h"
#include "redact.h"
#include "textmatch.h"
#include "walk.h"

namespace pdftest {

// An object of the fixture: a plain value, or a stream (entries, data,
// Flate-compressed or not).
struct FixtureObject {
    int num;
    std::string value;  // the value, or a stream's dictionary entries
    std::string data;   // a stream's data
    bool stream = false;
    bool compress = false;
};

inline FixtureObject object(int num, std::string value) { return {num, std::move(value), "", false, false}; }
inline FixtureObject stream_object(int num, std::string entries, std::string data, bool compress = false) {
    return {num, std::move(entries), std::move(data), true, compress};
}

// A ToUnicode CMap holding `body` (bfchar and bfrange blocks).
inline std::string to_unicode_cmap(const std::string &body) {
    return "/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n"
           "/CMapName /Test-UCS def /CMapType 2 def\n"
           "1 begincodespacerange <0000> <FFFF> endcodespacerange\n" +
           body + "\nendcmap CMapName currentdict /CMap defineresource pop end end\n";
}

// A document of `pages` pages (objects 3, 4, ...) that all show content
// stream 100 (or each its own: contents[i]) with resources `resources`.
struct PageFixture {
    TempFile file;
    Doc doc;
    bool loaded = false;

    PageFixture(const std::string &content, const std::string &resources,
                const std::vector<FixtureObject> &objects, const std::vector<std::string> &more_pages = {})
        : file(build(content, resources, objects, more_pages)) {
        loaded = doc_load(file.path.c_str(), doc) == 0;
    }
    ~PageFixture() { doc_free(doc); }
    PageFixture(const PageFixture &) = delete;
    PageFixture &operator=(const PageFixture &) = delete;

    static std::string build(const std::string &content, const std::string &resources,
                             const std::vector<FixtureObject> &objects,
                             const std::vector<std::string> &more_pages) {
        PdfBuilder pdf;
        std::string kids;
        const int count = 1 + static_cast<int>(more_pages.size());
        for (int i = 0; i < count; ++i) kids += std::to_string(3 + i) + " 0 R ";
        pdf.obj(1, "<< /Type /Catalog /Pages 2 0 R >>")
            .obj(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(count) + " >>");
        for (int i = 0; i < count; ++i)
            pdf.obj(3 + i, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << " +
                               resources + " >> /Contents " + std::to_string(100 + i) + " 0 R >>");
        pdf.stream(100, "", content);
        for (size_t i = 0; i < more_pages.size(); ++i) pdf.stream(101 + static_cast<int>(i), "", more_pages[i]);
        for (const FixtureObject &o : objects) {
            if (o.stream)
                pdf.stream(o.num, o.value, o.data, o.compress);
            else
                pdf.obj(o.num, o.value);
        }
        pdf.xref_table("/Root 1 0 R");
        return pdf.bytes();
    }

    // Page 1's content interpreted with its resources.
    ContentTrace trace(FontCache &fonts, std::string *content_out = nullptr) const {
        const PdfObj resources = page_resources(doc, 3);
        PdfObj stream = doc_object(doc, 100);
        std::string content;
        bool missing = false;
        doc_stream_data(doc, 100, "test content", content, &missing);
        if (content_out != nullptr) *content_out = content;
        ContentTrace t;
        const ContentContext ctx{doc, fonts, resources};
        interpret_content(ctx, reinterpret_cast<const unsigned char *>(content.data()),
                          static_cast<int32_t>(content.size()), Matrix{}, t);
        return t;
    }

    struct Result {
        int rc = 0;
        std::vector<std::string> pages;  // each page's content after the walk
        WalkResult walk;
    };

    // The walk of a redaction (nothing written): each page's content after it.
    Result redact(const RedactJob &job, WalkMode mode = WalkMode::kRedact) const {
        Result r;
        r.rc = walk_document(doc, job, mode, doc.max_obj_num, r.walk);
        for (size_t i = 0; i < doc.pages.size() && r.rc > 0; ++i) {
            if (r.walk.page_changed[i]) {
                const Buf &b = r.walk.page_content[i];
                r.pages.emplace_back(reinterpret_cast<const char *>(b.data.get()), b.len);
            } else {
                std::string content;
                bool missing = false;
                doc_stream_data(doc, 100 + static_cast<int32_t>(i), "test content", content, &missing);
                r.pages.push_back(content);
            }
        }
        return r;
    }
};

// The text a reader extracts from `content` with the resources of page 1 of
// `fixture`: folded, each break a space.
inline std::string extracted_text(const PageFixture &fixture, const std::string &content) {
    FontCache fonts;
    const PdfObj resources = page_resources(fixture.doc, 3);
    const ContentContext ctx{fixture.doc, fonts, resources};
    ContentTrace t;
    interpret_content(ctx, reinterpret_cast<const unsigned char *>(content.data()),
                      static_cast<int32_t>(content.size()), Matrix{}, t);
    StreamText text;
    stream_text_build(t, text);
    std::string out;
    for (const char32_t c : text.chars) {
        if (c == kSeparator)
            out += ' ';
        else if (c < 0x80)
            out += static_cast<char>(c);
        else
            out += '?';
    }
    return out;
}

// The boxes of the painted block at the end of `content`, each "x y w h".
inline std::vector<std::string> painted_boxes(const std::string &content) {
    std::vector<std::string> boxes;
    const size_t block = content.rfind(" rg\n");
    if (block == std::string::npos) return boxes;
    size_t pos = block + 4;
    for (;;) {
        const size_t end = content.find(" re f\n", pos);
        if (end == std::string::npos) break;
        boxes.push_back(content.substr(pos, end - pos));
        pos = end + 6;
    }
    return boxes;
}

}  // namespace pdftest

#endif
