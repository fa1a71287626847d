// Fuzz target: text through fonts. The input becomes a one-page PDF whose
// page (or a Form XObject it draws twice) shows the fuzzed content with font
// /F1, one of four kinds chosen by the low bits of the first byte (its other
// bits are the Flags below):
//
//   0  a simple Type 1 font with /Widths and /Encoding /Differences
//   1  a TrueType subset with /Widths and a ToUnicode CMap
//   2  a Type0 font, /Identity-H or -V or an embedded CMap, with /W and ToUnicode
//   3  a Type 3 font with /FontMatrix, /Widths and /Differences
//
// The rest of the input is split at 0xFF bytes into the content stream, the
// CMap text (ToUnicode, and the embedded /Encoding of a Type0 font) and the
// /Differences, /Widths or /W array text.
//
// The document is walked in text mode (counting counts what redacting
// removes; only redacting fails on an image it cannot rewrite), in region
// mode, and through whole jobs. What must hold:
//   - a rewritten stream, read back with the same resources, shows as many
//     glyphs as the original, each with its own code or its font's blank
//     code, and those that still draw stand where they stood (blanking
//     keeps the layout), unless the stream shows text at font size 0 with
//     word spacing, where no TJ number can move the pen;
//   - in region mode, no glyph whose origin lies inside the region keeps a
//     code that draws something;
//   - a job that fails says why; one that succeeds writes an output that
//     loads with the input's page count and in which the search texts are no
//     longer found.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "api.h"
#include "document.h"
#include "driver.h"
#include "pdfobj.h"
#include "textmatch.h"
#include "walk.h"

namespace {

constexpr unsigned char kPartSeparator = 0xFF;
constexpr const char *kTerms[2] = {"secret", "pass word"};
constexpr Region kRegion{1, 0, 0, 300, 800};

enum Flags : unsigned {
    kKindMask = 3,
    kInForm = 4,         // the content is a form drawn twice by the page
    kVertical = 8,       // Type0: /Identity-V
    kCMapEncoding = 16,  // Type0: the CMap text is also the /Encoding stream
    kNoToUnicode = 32,
    kFlippedMatrix = 64,  // Type 3: a /FontMatrix that flips and skews
    kWrittenJob = 128,    // the job writes its output, with the region too
};

std::string widths_text(int first, int count, int base) {
    std::string out = "[";
    for (int i = 0; i < count; ++i) {
        out += ' ';
        out += std::to_string(base + ((first + i) * 37) % 500);
    }
    out += " ]";
    return out;
}

// The font dictionary (object 5) and, for Type0 and Type 3, its companion
// (object 7: the CIDFont, or a glyph procedure).
void font_objects(unsigned flags, const std::string &tail, std::string &font, std::string &extra) {
    const bool to_unicode = (flags & kNoToUnicode) == 0;
    const std::string tu = to_unicode ? " /ToUnicode 6 0 R" : "";
    switch (flags & kKindMask) {
        case 0:
            font = "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman /FirstChar 0 /LastChar 255"
                   " /Widths " + widths_text(0, 256, 250) +
                   " /Encoding << /Type /Encoding /BaseEncoding /WinAnsiEncoding /Differences [" +
                   tail + "] >>" + tu + " >>";
            break;
        case 1:
            font = "<< /Type /Font /Subtype /TrueType /BaseFont /ABCDEF+Serif /FirstChar 1 /LastChar 64"
                   " /Widths [" + tail + "]" + tu +
                   " /FontDescriptor << /Type /FontDescriptor /FontName /ABCDEF+Serif /Flags 4"
                   " /MissingWidth 333 /Ascent 891 /Descent -216 >> >>";
            break;
        case 2:
            font = std::string("<< /Type /Font /Subtype /Type0 /BaseFont /ABCDEF+Sans /Encoding ") +
                   ((flags & kCMapEncoding) ? "6 0 R" : (flags & kVertical) ? "/Identity-V" : "/Identity-H") +
                   " /DescendantFonts [7 0 R]" + tu + " >>";
            extra = "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /ABCDEF+Sans"
                    " /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >>"
                    " /CIDToGIDMap /Identity /DW 1000 /W [" + tail + "] >>";
            break;
        default:
            font = std::string("<< /Type /Font /Subtype /Type3 /FontBBox [0 0 750 750] /FontMatrix ") +
                   ((flags & kFlippedMatrix) ? "[0.002 0.001 0 -0.002 0 0]" : "[0.001 0 0 0.001 0 0]") +
                   " /CharProcs << /a 7 0 R >> /FirstChar 32 /LastChar 127 /Widths " +
                   widths_text(32, 96, 400) + " /Encoding << /Type /Encoding /Differences [" + tail +
                   "] >> /Resources << >>" + tu + " >>";
            extra = "<< /Length 22 >>\nstream\n500 0 d0 0 0 m 0 1 l\nendstream";
            break;
    }
}

std::string stream_object(const std::string &entries, std::string_view data) {
    return "<< " + entries + " /Length " + std::to_string(data.size()) + " >>\nstream\n" +
           std::string(data) + "\nendstream";
}

std::string build_pdf(unsigned flags, std::string_view content, std::string_view cmap,
                      const std::string &tail) {
    std::string font, extra;
    font_objects(flags, tail, font, extra);
    const bool in_form = (flags & kInForm) != 0;
    const std::string resources = "<< /Font << /F1 5 0 R /F2 << /Type /Font /Subtype /Type1"
                                  " /BaseFont /Helvetica >> >>" +
                                  std::string(in_form ? " /XObject << /X1 8 0 R >>" : "") + " >>";
    std::vector<std::string> objs(9);
    objs[1] = "<< /Type /Catalog /Pages 2 0 R >>";
    objs[2] = "<< /Type /Pages /Kids [3 0 R] /Count 1 >>";
    objs[3] = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources " + resources +
              " /Contents 4 0 R >>";
    objs[4] = in_form ? stream_object("", "q 0.5 0 0 0.5 20 30 cm /X1 Do Q /X1 Do")
                      : stream_object("", content);
    objs[5] = font;
    objs[6] = stream_object("/Type /CMap /CMapName /Fuzz /CIDSystemInfo << /Registry (Adobe)"
                            " /Ordering (UCS) /Supplement 0 >>",
                            cmap);
    objs[7] = extra.empty() ? "null" : extra;
    objs[8] = in_form ? stream_object("/Type /XObject /Subtype /Form /BBox [0 0 612 792]"
                                      " /Matrix [1 0 0 1 10 -10] /Resources " + resources,
                                      content)
                      : "null";
    std::string out = "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n";
    std::vector<size_t> offsets(objs.size(), 0);
    for (size_t i = 1; i < objs.size(); ++i) {
        offsets[i] = out.size();
        out += std::to_string(i) + " 0 obj\n" + objs[i] + "\nendobj\n";
    }
    const size_t xref = out.size();
    out += "xref\n0 " + std::to_string(objs.size()) + "\n0000000000 65535 f \n";
    for (size_t i = 1; i < objs.size(); ++i) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", offsets[i]);
        out += line;
    }
    out += "trailer\n<< /Size " + std::to_string(objs.size()) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    return out;
}

bool near(double a, double b) {
    if (!std::isfinite(a) || !std::isfinite(b) || std::fabs(a) > 1e6 || std::fabs(b) > 1e6)
        return true;  // beyond what a page shows, numbers are clamped and rounded
    return std::fabs(a - b) <= 0.02 + 1e-4 * std::fabs(a);
}

// A rewritten stream read back shows the same glyphs, blanked or kept, where
// they stood. In region mode, the glyphs whose origin lies in the region
// (page content only: forms are placed elsewhere) draw nothing.
void check_rewrite(const Doc &doc, const PdfObj &resources, const unsigned char *old_data,
                   size_t old_len, const Buf &rewritten, bool region_page) {
    if (!rewritten.data) return;
    FontCache fonts;
    const ContentContext ctx{doc, fonts, resources};
    ContentTrace before, after;
    interpret_content(ctx, old_data, static_cast<int32_t>(old_len), Matrix{}, before);
    interpret_content(ctx, rewritten.data.get(), static_cast<int32_t>(rewritten.len), Matrix{}, after);
    if (before.glyphs.size() != after.glyphs.size()) std::abort();
    // At font size 0 a TJ number cannot move the pen, so the word spacing
    // that a blank space gets where a letter had none stays: the glyphs,
    // which draw nothing at that size, and those after them may move.
    bool pen_may_move = false;
    for (const ShowOp &op : before.ops) pen_may_move = pen_may_move || (op.size == 0 && op.word_spacing != 0);
    for (size_t i = 0; i < after.glyphs.size(); ++i) {
        const TraceGlyph &g0 = before.glyphs[i], &g1 = after.glyphs[i];
        const Font *font = after.ops[static_cast<size_t>(trace_glyph_op(after, static_cast<int32_t>(i)))].font;
        if (g0.code != g1.code && !(font != nullptr && g1.code == font->blank_code)) std::abort();
        // Blanked glyphs may shift inside their run; a glyph that still draws
        // stands where it stood.
        if (font == nullptr || g1.code == font->blank_code || pen_may_move) continue;
        const auto glyph = static_cast<int32_t>(i);
        const Point p0 = trace_glyph_origin(before, glyph), p1 = trace_glyph_origin(after, glyph);
        if (!near(p0.x, p1.x) || !near(p0.y, p1.y)) std::abort();
        // A glyph that stood beyond the page (where the pen is clamped, so
        // that its place is not known to the unit) is not asked where it
        // lands.
        const bool on_page = std::fabs(p0.x) <= 1e6 && std::fabs(p0.y) <= 1e6;
        if (region_page && on_page && p1.x > kRegion.x + 1 && p1.x < kRegion.x + kRegion.width - 1 &&
            p1.y > kRegion.y + 1 && p1.y < kRegion.y + kRegion.height - 1)
            std::abort();
    }
}

std::string_view object_data(const Doc &doc, int32_t num) {
    const ObjEntry *entry = doc_find_obj(doc, num);
    if (entry == nullptr || entry->data_start < 0 || entry->data_end < entry->data_start) return {};
    return {reinterpret_cast<const char *>(doc.data.data()) + entry->data_start,
            static_cast<size_t>(entry->data_end - entry->data_start)};
}

// Checks every stream a walk rewrote against its original.
void check_walk(const Doc &doc, const WalkResult &walk, bool region_mode) {
    const int32_t page = doc.pages[0].num;
    if (!walk.page_changed.empty() && walk.page_changed[0] && walk.content_objs[0].size() == 1) {
        const std::string_view old = object_data(doc, walk.content_objs[0][0]);
        check_rewrite(doc, page_resources(doc, page),
                      reinterpret_cast<const unsigned char *>(old.data()), old.size(),
                      walk.page_content[0], region_mode);
    }
    for (const auto &[num, resources] : walk.rewritten) {
        const Buf *rewritten = nullptr;
        if (num >= 0 && static_cast<size_t>(num) < walk.forms.size() && walk.forms[static_cast<size_t>(num)].data)
            rewritten = &walk.forms[static_cast<size_t>(num)];
        for (const NewStream &s : walk.new_streams)
            if (s.num == num) rewritten = &s.data;
        if (rewritten == nullptr) continue;
        // Copies of the form are read against the form they copy: object 8.
        const std::string_view old = object_data(doc, 8);
        if (old.empty()) continue;
        check_rewrite(doc, resources, reinterpret_cast<const unsigned char *>(old.data()), old.size(),
                      *rewritten, false);
    }
}

int64_t count_in(const Doc &doc, const SearchSet &search) {
    RedactJob job;
    job.search = &search;
    WalkResult walk;
    return walk_document(doc, job, WalkMode::kCount, doc.max_obj_num, walk) < 0 ? -1 : walk.matches;
}

// One job per input: a dry run with the terms, or a written run with the
// terms and the region.
void check_job(const std::string &input, const SearchSet &search, bool written, size_t pages) {
    JobParams params;
    params.input_path = input.c_str();
    params.terms = {kTerms[0], kTerms[1]};
    const std::string output = input + ".out.pdf";
    if (written) {
        params.output_path = output.c_str();
        params.regions = {kRegion};
    }
    JobReport report;
    clear_error();
    if (run_job(params, report) != 1) {
        if (g_err[0] == '\0') std::abort();  // a failure always says why
        if (written) std::remove(output.c_str());
        return;
    }
    if (!written) return;
    Doc out;
    if (doc_load(output.c_str(), out) != 0 || out.pages.size() != pages) std::abort();
    if (count_in(out, search) != 0) std::abort();
    doc_free(out);
    std::remove(output.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1 || size > (1u << 20)) return 0;
    const unsigned flags = data[0];
    std::string_view parts[3];
    {
        std::string_view rest(reinterpret_cast<const char *>(data) + 1, size - 1);
        for (int i = 0; i < 3; ++i) {
            const size_t cut = i < 2 ? rest.find(static_cast<char>(kPartSeparator)) : std::string_view::npos;
            parts[i] = rest.substr(0, cut);
            rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
        }
    }
    const std::string pdf = build_pdf(flags, parts[0], parts[1], std::string(parts[2]));

    Doc doc;
    if (doc_load_bytes(std::vector<unsigned char>(pdf.begin(), pdf.end()), "fuzz.pdf", doc) != 0) {
        // The fuzzed text may hold the word "trailer" with /Encrypt after
        // it, or an object header ("5555 0 obj") in a dictionary: the loader
        // refuses such a file as encrypted, or for an object number that no
        // file of its size can hold, as it is made to.
        const std::string_view why(g_err);
        if (why.starts_with("encrypted PDFs are not supported") || why.starts_with("object number ")) return 0;
        std::abort();
    }
    const size_t pages = doc.pages.size();
    SearchSet search;
    for (const char *term : kTerms) search_set_add(search, term);
    search_set_build(search);
    if (pages > 0) {
        RedactJob text_job;
        text_job.search = &search;
        WalkResult counted, redacted;
        const int count_rc = walk_document(doc, text_job, WalkMode::kCount, doc.max_obj_num, counted);
        const int redact_rc = walk_document(doc, text_job, WalkMode::kRedact, doc.max_obj_num, redacted);
        // Counting counts exactly what a redaction removes; only a redaction
        // fails on an image under a box that it cannot rewrite.
        if ((count_rc < 0 && redact_rc >= 0) || (redact_rc > 0 && counted.matches != redacted.matches))
            std::abort();
        if (redact_rc > 0) check_walk(doc, redacted, false);

        RedactJob region_job;
        region_job.regions = &kRegion;
        region_job.region_count = 1;
        WalkResult region_walk;
        if (walk_document(doc, region_job, WalkMode::kRedact, doc.max_obj_num, region_walk) > 0)
            check_walk(doc, region_walk, true);
    }
    doc_free(doc);

    if (pages == 0) return 0;
    char path[] = "/tmp/inkveil-text-fuzz-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return 0;
    const bool written = write(fd, pdf.data(), pdf.size()) == static_cast<ssize_t>(pdf.size());
    close(fd);
    if (written) check_job(path, search, (flags & kWrittenJob) != 0, pages);
    std::remove(path);
    return 0;
}
