// The document walk: pages, the forms they draw and their annotations'
// appearances, and the images under the boxes of each page.
//
// Each page is walked in two passes. The first gathers every box painted on
// the page, in page space: the regions, the search matches of the page's
// content, and those of the forms it draws, at each showing. The second
// rewrites: glyphs under regions (forms per showing), images whose pixels a
// box covers (copied per showing), and the Do operators that now name copies.
//
// Forms nest to any depth: both passes keep their own stack of streams being
// read instead of recursing, and a form already on that stack (one that
// draws itself) is not entered again.
#include "walk.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <unordered_map>

#include "api.h"
#include "content.h"
#include "filters.h"
#include "images.h"

namespace {

// Showings of forms walked in one call before the call gives up: forms that
// draw each other many times over would otherwise cost exponential time.
constexpr int64_t kMaxShowings = 1000000;
// Glyphs and boxes handled showing by showing, summed over the call: a form
// with many glyphs drawn many times would otherwise cost time in the product
// of the two, beyond any multiple of the file's size.
constexpr int64_t kMaxShowingWork = 32000000;

// A form as the walk reads it: decoded and interpreted once per call.
struct FormEntry {
    // kNoSubtype: a stream without /Subtype /Form (nor /Image), which only an
    // annotation's /AP makes a form.
    enum State { kUnread, kForm, kNotForm, kNoSubtype } state = kUnread;
    Buf content;
    int32_t len = 0;
    ContentTrace trace;
    PdfObj dict;
    PdfObj resources;
    Matrix matrix;
    bool text_decided = false;  // its text decision is made and counted
    StreamDecision text;        // what the search texts decide: the same for every showing
    bool done_in_place = false;  // rewritten in place (or found unchanged)
    bool active = false;         // on a walk's stack
    // Whether the form, or a form it draws, paints match boxes or draws
    // images (-1: not yet known).
    int8_t boxes_below = -1, images_below = -1;
};

// One stream being read: the page content or a form.
struct Frame {
    int32_t form = 0;          // 0 for the page content
    bool in_place = true;      // text decisions only, rewritten in place
    Matrix to_page;            // its user space to the page's default user space
    const unsigned char *content = nullptr;
    int32_t len = 0;
    const ContentTrace *trace = nullptr;
    const PdfObj *resources = nullptr;
    size_t next = 0;            // the next XObject use to look at
    std::vector<int32_t> outs;  // per XObject use: the object its Do names afterwards (0: as before)
    std::vector<ContentEdit> image_edits;  // rewritten inline images
    std::string image_key;                 // what they were rewritten for
};

// A form that resources name: read after the last page, with the resources
// it inherits (an index into Walker::named_parents) and the page that named
// it first.
struct NamedForm {
    int32_t num;
    size_t parent;
    int page;
};

struct Walker {
    const Doc &doc;
    const RedactJob &job;
    WalkMode mode;
    WalkResult &res;
    RedactJob text_job{};    // the search texts alone
    RedactJob region_job{};  // the regions alone
    bool regional = false;
    FontCache fonts{};
    std::unordered_map<int32_t, FormEntry> forms{};
    std::unordered_map<int32_t, int8_t> is_image{};  // XObjects: 1 an image, 0 not
    std::map<std::string, int32_t> variants{};       // a rewritten showing -> its copy
    int32_t next_num = 0;
    int64_t showings = 0;
    int64_t showing_work = 0;  // what the showings handled: see kMaxShowingWork
    int page = 0;  // 1-based number of the page being walked
    bool regions_on_page = false;
    std::vector<Quad> page_boxes{};  // every box painted on the page, in page space
    // The most glyphs of unreadable fonts in one stream of this page (the
    // page's content or a form): text is matched stream by stream, so an
    // occurrence never spans two of them.
    int64_t unreadable = 0;
    const Font *unreadable_font = nullptr;  // the font of that stream's first such glyph
    VisitMap visit{};
    // Per XObject, in a redaction: kDrawnAsItself when some stream still
    // draws the object itself, kCopied when some showing draws a copy.
    std::vector<uint8_t> draws{};
    std::unordered_map<int32_t, int32_t> first_copy{};  // an XObject -> its first copy
    // The forms that resources name, met page by page and read after the
    // last page (see walk_named_forms); what they draw is not drawn.
    std::vector<uint8_t> named_seen{};  // XObjects met in resources, once per call
    std::vector<int32_t> seen_xobject_dicts{};  // /XObject dictionaries read, by object number
    std::vector<NamedForm> named{};
    std::vector<PdfObj> named_parents{};  // the resources that named them
    bool undrawn_walk = false;
    PdfObj default_resources{};  // the AcroForm's /DR, for appearances without resources
    bool have_default_resources = false;
    uint8_t rgb[3] = {0, 0, 0};
};

constexpr const char *kRewriteFailure = "out of memory rewriting %s";
const PdfObj kNoResources;

void form_label(int32_t num, char *label, size_t size) {
    std::snprintf(label, size, "the Form XObject stream (object %ld)", static_cast<long>(num));
}

bool any_region_on(const RedactJob &job, int page) {
    for (int r = 0; r < job.region_count; ++r)
        if (region_on_page(job.regions[r], page)) return true;
    return false;
}

uint8_t colour_byte(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

const PdfObj &appearance_resources(Walker &w) {
    if (!w.have_default_resources) {
        w.have_default_resources = true;
        const PdfObj catalog = doc_object(w.doc, w.doc.root);
        const PdfObj acroform = doc_get(w.doc, catalog, "AcroForm");
        w.default_resources = doc_get(w.doc, acroform, "DR");
    }
    return w.default_resources;
}

Matrix form_matrix(const PdfObj &dict) {
    const PdfObj *m = pdfobj_get(dict, "Matrix");
    if (m == nullptr || m->kind != ObjKind::kArray || m->items.size() != 6) return Matrix{};
    double v[6];
    for (int k = 0; k < 6; ++k) v[k] = pdfobj_number(&m->items[static_cast<size_t>(k)], k == 0 || k == 3 ? 1 : 0);
    const Matrix out{v[0], v[1], v[2], v[3], v[4], v[5]};
    return mat_is_finite(out) ? out : Matrix{};
}

bool xobject_is_image(Walker &w, int32_t num) {
    auto it = w.is_image.find(num);
    if (it != w.is_image.end()) return it->second != 0;
    const ObjEntry *entry = doc_find_obj(w.doc, num);
    bool image = false;
    if (entry != nullptr && entry->has_stream) {
        const PdfObj dict = doc_object(w.doc, num);
        image = pdfobj_is_name(pdfobj_get(dict, "Subtype"), "Image");
    }
    w.is_image.emplace(num, image ? 1 : 0);
    return image;
}

const unsigned char *form_bytes(const FormEntry &f) {
    if (!f.content.data || f.len <= 0) return nullptr;
    return f.content.data.get() + (f.content.len - static_cast<uint64_t>(f.len));
}

// Reads form `num` once: a stream that is a Form XObject (or, as an
// appearance, any stream but an image). Returns -1 when it cannot be decoded.
int load_form(Walker &w, int32_t num, bool appearance, const PdfObj &parent_resources,
              FormEntry **out) {
    FormEntry &f = w.forms[num];
    *out = &f;
    if (f.state != FormEntry::kUnread && !(appearance && f.state == FormEntry::kNoSubtype)) return 1;
    f.state = FormEntry::kNotForm;
    const ObjEntry *entry = doc_find_obj(w.doc, num);
    if (entry == nullptr || !entry->has_stream || entry->dict_pos < 0) return 1;
    f.dict = doc_object(w.doc, num);
    const PdfObj *subtype = pdfobj_get(f.dict, "Subtype");
    if (pdfobj_is_name(subtype, "Image")) return 1;
    if (!appearance && !pdfobj_is_name(subtype, "Form")) {
        f.state = FormEntry::kNoSubtype;
        return 1;
    }
    char label[96];
    form_label(num, label, sizeof label);
    int32_t failed = 0;
    const unsigned char *decoded = decode_stream_obj(*entry, w.doc.data.data(), doc_file_len(w.doc),
                                                     f.content, &f.len, label, &failed);
    if (failed) return -1;
    if (decoded != nullptr && f.len > 0 && f.content.len == 0) {
        // Unfiltered data points into the loaded file, which stays as read.
        buf_append(f.content, decoded, static_cast<uint64_t>(f.len));
        if (!f.content.data) {
            set_error("out of memory decoding %s", label);
            return -1;
        }
    }
    if (decoded == nullptr) f.len = 0;
    f.resources = doc_get(w.doc, f.dict, "Resources");
    if (f.resources.kind != ObjKind::kDict) f.resources = parent_resources;
    f.matrix = form_matrix(f.dict);
    f.state = FormEntry::kForm;
    const ContentContext ctx{w.doc, w.fonts, f.resources};
    interpret_content(ctx, form_bytes(f), f.len, Matrix{}, f.trace);
    return 1;
}

// Adds what a stream's decision found to the counts of the call and the page.
void note_decision(Walker &w, const StreamDecision &d) {
    w.res.matches += d.matches;
    for (size_t t = 0; t < d.term_matches.size() && t < w.res.term_matches.size(); ++t)
        w.res.term_matches[t] += d.term_matches[t];
    if (d.unreadable_glyphs > w.unreadable) {
        w.unreadable = d.unreadable_glyphs;
        w.unreadable_font = d.unreadable_font;
    }
}

bool changed(const StreamDecision &d) { return !d.boxes.empty() || d.any_blank(); }

void keep_props(Walker &w, const StreamDecision &d) {
    w.res.props_objects.insert(w.res.props_objects.end(), d.props_objects.begin(), d.props_objects.end());
}

// One more showing of a form, which handles `work` glyphs or boxes.
int count_showing(Walker &w, size_t work) {
    w.showing_work += 1 + static_cast<int64_t>(std::min<size_t>(work, kMaxShowingWork));
    if (++w.showings > kMaxShowings) {
        set_error("page %d draws forms more than %ld times, which this engine cannot redact — nothing written",
                  w.page, static_cast<long>(kMaxShowings));
        return -1;
    }
    if (w.showing_work > kMaxShowingWork) {
        set_error("the forms drawn up to page %d hold more than %ld glyphs over all their showings, which this "
                  "engine cannot redact — nothing written",
                  w.page, static_cast<long>(kMaxShowingWork));
        return -1;
    }
    return 1;
}

// The text decision of form `f`, made once per call.
void form_text_decision(Walker &w, FormEntry &f) {
    if (f.text_decided) return;
    f.text_decided = true;
    const Placement anywhere{w.page, Matrix{}, false};
    decide_stream(form_bytes(f), f.trace, w.text_job, anywhere, f.text);
    note_decision(w, f.text);
}

// ---- Which forms matter ------------------------------------------------------------

// Works out, for form `num` and every form it draws, whether it or a form
// below it paints match boxes or draws images. Returns -1 with g_err set.
int form_flags(Walker &w, int32_t num, const PdfObj &parent_resources) {
    struct Step {
        int32_t num;
        size_t next;
    };
    FormEntry *f = nullptr;
    if (load_form(w, num, false, parent_resources, &f) < 0) return -1;
    if (f->state != FormEntry::kForm || f->boxes_below >= 0 || f->active) return 1;
    std::vector<Step> stack{{num, 0}};
    f->active = true;
    while (!stack.empty()) {
        Step &s = stack.back();
        FormEntry &cur = w.forms[s.num];
        if (s.next == 0) {
            form_text_decision(w, cur);
            cur.boxes_below = cur.text.boxes.empty() ? 0 : 1;
            cur.images_below = cur.trace.images.empty() ? 0 : 1;
        }
        const std::vector<XObjectUse> &uses = cur.trace.xobjects;
        if (s.next < uses.size()) {
            const int32_t child = uses[s.next++].num;
            if (child <= 0) continue;
            if (xobject_is_image(w, child)) {
                cur.images_below = 1;
                continue;
            }
            FormEntry *c = nullptr;
            if (load_form(w, child, false, cur.resources, &c) < 0) return -1;
            if (c->state != FormEntry::kForm || c->active) continue;
            if (c->boxes_below < 0) {
                c->active = true;
                stack.push_back({child, 0});
                continue;
            }
            if (c->boxes_below > 0) cur.boxes_below = 1;
            if (c->images_below > 0) cur.images_below = 1;
            continue;
        }
        cur.active = false;
        const int8_t boxes = cur.boxes_below, images = cur.images_below;
        stack.pop_back();
        if (!stack.empty()) {
            FormEntry &parent = w.forms[stack.back().num];
            if (boxes > 0) parent.boxes_below = 1;
            if (images > 0) parent.images_below = 1;
        }
    }
    return 1;
}

// ---- Pass 1: the boxes of a page ---------------------------------------------------

// Room for `n` more boxes. Many at once (more than are held) get exactly
// their room, so that the lists do not double past them.
void reserve_boxes(Walker &w, size_t n) {
    if (n > w.page_boxes.size() && n > w.page_boxes.capacity() - w.page_boxes.size())
        w.page_boxes.reserve(w.page_boxes.size() + n);
    if (n > w.res.boxes.size() && n > w.res.boxes.capacity() - w.res.boxes.size())
        w.res.boxes.reserve(w.res.boxes.size() + n);
}

void add_page_box(Walker &w, const Quad &q, int32_t cause) {
    w.page_boxes.push_back(q);
    w.res.boxes.push_back({quad_bounds(q), w.page, cause});
}

// Adds the match boxes of every form `trace` draws (at any depth, at every
// showing) to the page's boxes. Returns -1 with g_err set.
int collect_form_boxes(Walker &w, const ContentTrace &trace, const PdfObj &resources) {
    struct Step {
        const FormEntry *form;  // nullptr for the page content
        Matrix to_page;
        size_t next;
    };
    std::vector<Step> stack{{nullptr, Matrix{}, 0}};
    std::vector<int32_t> active;
    while (!stack.empty()) {
        Step &s = stack.back();
        const ContentTrace &t = s.form != nullptr ? s.form->trace : trace;
        const PdfObj &res = s.form != nullptr ? s.form->resources : resources;
        if (s.next >= t.xobjects.size()) {
            if (s.form != nullptr) active.pop_back();
            stack.pop_back();
            continue;
        }
        const XObjectUse &use = t.xobjects[s.next++];
        if (use.num <= 0 || xobject_is_image(w, use.num)) continue;
        if (std::find(active.begin(), active.end(), use.num) != active.end()) continue;
        if (form_flags(w, use.num, res) < 0) return -1;
        const FormEntry &f = w.forms[use.num];
        if (f.state != FormEntry::kForm || f.boxes_below <= 0) continue;
        if (count_showing(w, f.text.boxes.size()) < 0) return -1;
        const Matrix to_page = mat_mul(mat_mul(f.matrix, use.ctm), s.to_page);
        for (const PaintBox &b : f.text.boxes) {
            Quad q;
            for (int k = 0; k < 4; ++k) q.p[k] = mat_apply(to_page, b.quad.p[k].x, b.quad.p[k].y);
            add_page_box(w, q, b.cause);
        }
        active.push_back(use.num);
        stack.push_back({&f, to_page, 0});
    }
    return 1;
}

// ---- Pass 2: images ----------------------------------------------------------------

std::string quads_key(const std::vector<ImageQuad> &quads) {
    std::string key;
    char part[48];
    for (const ImageQuad &q : quads)
        for (int k = 0; k < 4; ++k) {
            std::snprintf(part, sizeof part, "%.6f,%.6f;", q.u[k], q.v[k]);
            key += part;
        }
    return key;
}

// A copy of image stream `num` (or its soft mask or stencil mask) with the
// pixels under `quads` filled: returns the copy's number, `num` itself when
// no pixel is covered, or -1 with g_err set.
int32_t image_object_copy(Walker &w, int32_t num, const std::vector<ImageQuad> &quads,
                          const PdfObj &resources, ImageFill fill) {
    std::string key = "image:" + std::to_string(num) + ":" + std::to_string(static_cast<int>(fill)) + ":" +
                      quads_key(quads);
    auto it = w.variants.find(key);
    if (it != w.variants.end()) return it->second;
    char label[96];
    std::snprintf(label, sizeof label, "the image (object %ld)", static_cast<long>(num));
    const ObjEntry *entry = doc_find_obj(w.doc, num);
    if (entry == nullptr || !entry->has_stream) return num;
    PdfObj dict = doc_object(w.doc, num);
    ImageDesc desc;
    std::string reason;
    if (!image_desc_read(w.doc, dict, resources, false, desc, &reason)) {
        set_error("%s under a redaction box cannot be redacted: %s — nothing written", label, reason.c_str());
        return -1;
    }
    const int32_t size = doc_file_len(w.doc);
    const int32_t start = entry->data_start, end = entry->data_end;
    const bool have_data = start >= 0 && end >= start && end <= size;
    ImageCopy copy;
    const int made = image_copy_make(desc, have_data ? w.doc.data.data() + start : nullptr,
                                     have_data ? static_cast<size_t>(end - start) : 0, quads, fill, w.rgb,
                                     label, copy);
    if (made < 0) return -1;
    if (made == 0) {
        w.variants.emplace(key, num);
        return num;
    }
    // The image's own masks are made opaque under the boxes too, so that no
    // shape shows through.
    if (fill == ImageFill::kColour) {
        for (const char *mask_key : {"SMask", "Mask"}) {
            const PdfObj *mask = pdfobj_get(dict, mask_key);
            if (mask == nullptr || mask->kind != ObjKind::kRef) continue;
            const auto mask_num = static_cast<int32_t>(mask->num);
            if (!xobject_is_image(w, mask_num)) continue;
            const int32_t mask_out = image_object_copy(w, mask_num, quads, resources, ImageFill::kOpaque);
            if (mask_out < 0) return -1;
            PdfObj ref = *mask;
            ref.num = mask_out;
            if (mask_out != mask_num) ref.gen = 0;
            pdfobj_set(dict, mask_key, ref);
        }
    }
    NewStream stream;
    stream.num = ++w.next_num;
    // The alternates of an image are other images of the same picture, with
    // what the boxes cover: the copy names none.
    for (const char *k : {"Length", "Filter", "DecodeParms", "Alternates", "OPI"}) pdfobj_set(dict, k, PdfObj{});
    PdfObj filters;
    filters.kind = ObjKind::kArray;
    for (const std::string &f : copy.filters) {
        PdfObj name;
        name.kind = ObjKind::kName;
        name.str = f;
        filters.items.push_back(name);
    }
    if (filters.items.size() == 1)
        pdfobj_set(dict, "Filter", filters.items[0]);
    else if (!filters.items.empty())
        pdfobj_set(dict, "Filter", filters);
    buf_append(stream.data, copy.data.data(), copy.data.size());
    if (!stream.data.data && !copy.data.empty()) {
        set_error("out of memory redacting %s", label);
        return -1;
    }
    pdfobj_write(dict, stream.dict);
    const int32_t out = stream.num;
    w.res.new_streams.push_back(std::move(stream));
    w.variants.emplace(key, out);
    return out;
}

// An inline image under the page's boxes, rewritten in place in its stream:
// an ContentEdit in *edit. Returns 1 with the edit, 0 when no box covers it,
// -1 with g_err set.
int inline_image_edit(Walker &w, const Frame &fr, const InlineImage &img, ContentEdit *edit,
                      std::string *key) {
    const std::vector<ImageQuad> quads = image_quads(mat_mul(img.ctm, fr.to_page), w.page_boxes);
    if (quads.empty()) return 0;
    char label[96];
    std::snprintf(label, sizeof label, "an inline image on page %d", w.page);
    // The dictionary: key and value pairs between BI and ID.
    PdfObj dict;
    dict.kind = ObjKind::kDict;
    for (int32_t p = img.dict_start; p < img.dict_end;) {
        PdfObj k, v;
        int32_t at = p;
        if (!pdfobj_parse(fr.content, img.dict_end, &at, k) || at <= p) break;
        p = at;
        if (k.kind != ObjKind::kName) continue;
        if (!pdfobj_parse(fr.content, img.dict_end, &at, v)) break;
        p = at;
        dict.keys.push_back(k.str);
        dict.items.push_back(std::move(v));
    }
    ImageDesc desc;
    std::string reason;
    const PdfObj &resources = fr.resources != nullptr ? *fr.resources : kNoResources;
    if (!image_desc_read(w.doc, dict, resources, true, desc, &reason)) {
        set_error("%s under a redaction box cannot be redacted: %s — nothing written", label, reason.c_str());
        return -1;
    }
    const int32_t data_end = img.end - 2;  // the data runs to the EI
    ImageCopy copy;
    const int made = image_copy_make(desc, fr.content + img.data_start,
                                     static_cast<size_t>(std::max(data_end - img.data_start, 0)), quads,
                                     ImageFill::kColour, w.rgb, label, copy);
    if (made <= 0) return made;
    // The new data in hex: no byte of it can read as EI.
    for (const char *k : {"Filter", "F", "DecodeParms", "DP", "Length", "L"}) pdfobj_set(dict, k, PdfObj{});
    std::string text = "BI";
    for (size_t i = 0; i < dict.keys.size(); ++i) {
        PdfObj name;
        name.kind = ObjKind::kName;
        name.str = dict.keys[i];
        text += ' ';
        pdfobj_write(name, text);
        text += ' ';
        pdfobj_write(dict.items[i], text);
    }
    text += " /F [/AHx";
    for (const std::string &f : copy.filters) text += f == "DCTDecode" ? " /DCT" : " /Fl";
    text += "] ID\n";
    static const char kDigits[] = "0123456789ABCDEF";
    for (size_t i = 0; i < copy.data.size(); ++i) {
        text += kDigits[copy.data[i] >> 4];
        text += kDigits[copy.data[i] & 15];
        if (i % 64 == 63) text += '\n';
    }
    text += ">\nEI";
    *edit = {img.bi_start, img.end, text};
    *key += std::to_string(img.bi_start) + ":" + quads_key(quads) + "|";
    return 1;
}

// The images of a frame under the page's boxes: XObject uses get the number
// of a copy in fr.outs, inline images an edit. Returns -1 with g_err set.
int frame_images(Walker &w, Frame &fr) {
    // Counting writes nothing, so it neither rewrites images nor fails on
    // one that a redaction could not rewrite.
    if (w.mode != WalkMode::kRedact || w.page_boxes.empty()) return 1;
    const PdfObj &resources = fr.resources != nullptr ? *fr.resources : kNoResources;
    for (size_t k = 0; k < fr.trace->xobjects.size(); ++k) {
        const XObjectUse &use = fr.trace->xobjects[k];
        if (use.num <= 0 || !xobject_is_image(w, use.num)) continue;
        const std::vector<ImageQuad> quads = image_quads(mat_mul(use.ctm, fr.to_page), w.page_boxes);
        if (quads.empty()) continue;
        const int32_t out = image_object_copy(w, use.num, quads, resources, ImageFill::kColour);
        if (out < 0) return -1;
        fr.outs[k] = out;
    }
    for (const InlineImage &img : fr.trace->images) {
        ContentEdit edit;
        const int made = inline_image_edit(w, fr, img, &edit, &fr.image_key);
        if (made < 0) return -1;
        if (made > 0) fr.image_edits.push_back(std::move(edit));
    }
    return 1;
}

// ---- Pass 2: rewriting -------------------------------------------------------------

// The name a renamed Do uses for object `num`: one the resources do not hold.
std::string fresh_name(const PdfObj &xobjects, int32_t num) {
    std::string name = "IvX" + std::to_string(num);
    while (pdfobj_get(xobjects, name) != nullptr) name += "_";
    return name;
}

// The edits that make a stream's Do operators name the objects of `outs`,
// and its resources with the new names added. False when nothing is renamed.
bool renames(Walker &w, const Frame &fr, std::vector<ContentEdit> &edits, PdfObj &resources) {
    bool any = false;
    PdfObj xobjects;
    std::map<int32_t, std::string> names;
    for (size_t k = 0; k < fr.outs.size(); ++k) {
        const XObjectUse &use = fr.trace->xobjects[k];
        const int32_t out = fr.outs[k];
        if (out == 0 || out == use.num) continue;
        if (!any) {
            resources = fr.resources != nullptr && fr.resources->kind == ObjKind::kDict ? *fr.resources : PdfObj{};
            resources.kind = ObjKind::kDict;
            xobjects = doc_get(w.doc, resources, "XObject");
            if (xobjects.kind != ObjKind::kDict) {
                xobjects = PdfObj{};
                xobjects.kind = ObjKind::kDict;
            }
            any = true;
        }
        auto it = names.find(out);
        if (it == names.end()) {
            const std::string name = fresh_name(xobjects, out);
            PdfObj ref;
            ref.kind = ObjKind::kRef;
            ref.num = out;
            pdfobj_set(xobjects, name, ref);
            it = names.emplace(out, name).first;
        }
        edits.push_back({use.name_start, use.name_end, "/" + it->second});
    }
    if (!any) return false;
    // A name whose every Do now draws a copy leaves these resources, so that
    // the original is not written for them alone, unless a form this stream
    // draws has no resources of its own and may draw the name through these.
    bool inherited = false;
    std::set<std::string> kept, replaced;
    for (size_t k = 0; k < fr.outs.size(); ++k) {
        const XObjectUse &use = fr.trace->xobjects[k];
        if (auto it = w.forms.find(use.num);
            it != w.forms.end() && it->second.state == FormEntry::kForm && pdfobj_get(it->second.dict, "Resources") == nullptr)
            inherited = true;
        if (use.name_end <= use.name_start) continue;
        std::string name = lex_name_text(fr.content, use.name_start, use.name_end);
        const bool copy = fr.outs[k] != 0 && fr.outs[k] != use.num;
        (copy ? replaced : kept).insert(std::move(name));
    }
    if (!inherited)
        for (const std::string &name : replaced)
            if (kept.count(name) == 0) pdfobj_set(xobjects, name, PdfObj{});
    pdfobj_set(resources, "XObject", xobjects);
    return true;
}

constexpr uint8_t kDrawnAsItself = 1, kCopied = 2;

void note_draw(Walker &w, int32_t num, uint8_t how) {
    if (w.mode == WalkMode::kRedact && !w.undrawn_walk && num > 0 && static_cast<size_t>(num) < w.draws.size())
        w.draws[static_cast<size_t>(num)] |= how;
}

// What a finished stream draws: each Do names the object itself or a copy.
void note_draws(Walker &w, const Frame &fr) {
    for (size_t k = 0; k < fr.outs.size() && k < fr.trace->xobjects.size(); ++k) {
        const XObjectUse &use = fr.trace->xobjects[k];
        const int32_t out = fr.outs[k];
        const bool itself = out == 0 || out == use.num;
        note_draw(w, use.num, itself ? kDrawnAsItself : kCopied);
        if (!itself && w.mode == WalkMode::kRedact && !w.undrawn_walk) w.first_copy.emplace(use.num, out);
    }
}

// Rewrites form `num` in place with its text decision, once per call.
int rewrite_in_place(Walker &w, int32_t num, FormEntry &f) {
    if (f.done_in_place) return 1;
    f.done_in_place = true;
    if (w.mode != WalkMode::kRedact || !changed(f.text)) return 1;
    keep_props(w, f.text);
    Buf out;
    if (!rewrite_content(form_bytes(f), f.len, f.trace, f.text, {}, w.job, out) || !out.data) {
        char label[96];
        form_label(num, label, sizeof label);
        set_error(kRewriteFailure, label);
        return -1;
    }
    buf_shrink_to_fit(out);
    w.res.forms[static_cast<size_t>(num)] = std::move(out);
    w.res.rewritten.emplace_back(num, f.resources);
    return 1;
}

// A finished form frame: its content rewritten as this showing needs.
// Returns the object number the showing names, or -1 with g_err set.
int32_t finish_form(Walker &w, Frame &fr) {
    FormEntry &f = w.forms[fr.form];
    f.active = false;
    if (fr.in_place) {
        if (rewrite_in_place(w, fr.form, f) < 0) return -1;
        if (!w.regional && f.images_below == 0) {  // never read again in this call
            f.trace = ContentTrace{};
            f.content = Buf{};
        }
        return fr.form;
    }
    if (frame_images(w, fr) < 0) return -1;
    // The text decision, and what the regions of this showing add.
    StreamDecision d = f.text;
    bool region_blanks = false;
    if (w.regions_on_page) {
        StreamDecision region;
        decide_stream(form_bytes(f), f.trace, w.region_job, Placement{w.page, fr.to_page, false}, region);
        region_blanks = region.any_blank();
        for (size_t k = 0; k < d.blank.size(); ++k)
            if (region.blank[k]) d.blank[k] = true;
        for (size_t k = 0; k < d.blank_strings.size(); ++k) d.blank_strings[k] |= region.blank_strings[k];
        d.props_objects.insert(d.props_objects.end(), region.props_objects.begin(), region.props_objects.end());
    }
    bool renamed = false;
    for (size_t k = 0; k < fr.outs.size(); ++k)
        renamed = renamed || (fr.outs[k] != 0 && fr.outs[k] != fr.trace->xobjects[k].num);
    if (!region_blanks && !renamed && fr.image_edits.empty()) {
        // The showing needs what every showing gets: the text decision.
        if (rewrite_in_place(w, fr.form, f) < 0) return -1;
        return fr.form;
    }
    if (w.mode != WalkMode::kRedact) return fr.form;
    // The same rewriting for another showing shares its copy.
    std::string key = std::to_string(fr.form) + ":";
    key.append(d.blank.begin(), d.blank.end());
    key += ':';
    key.append(d.blank_strings.begin(), d.blank_strings.end());
    for (const int32_t o : fr.outs) key += ":" + std::to_string(o);
    key += ":" + fr.image_key;
    auto it = w.variants.find(key);
    if (it != w.variants.end()) return it->second;
    keep_props(w, d);
    NewStream copy;
    copy.num = ++w.next_num;
    std::vector<ContentEdit> edits = std::move(fr.image_edits);
    PdfObj resources = f.resources;
    renames(w, fr, edits, resources);
    char label[96];
    form_label(fr.form, label, sizeof label);
    if (!rewrite_content(form_bytes(f), f.len, f.trace, d, std::move(edits), w.job, copy.data) ||
        (!copy.data.data && f.len > 0)) {
        set_error(kRewriteFailure, label);
        return -1;
    }
    buf_shrink_to_fit(copy.data);
    PdfObj dict = f.dict;
    for (const char *key_name : {"Length", "Filter", "DecodeParms"}) pdfobj_set(dict, key_name, PdfObj{});
    pdfobj_set(dict, "Resources", resources);
    pdfobj_write(dict, copy.dict);
    w.variants.emplace(key, copy.num);
    w.res.rewritten.emplace_back(copy.num, resources);
    w.res.new_streams.push_back(std::move(copy));
    return w.res.new_streams.back().num;
}

// Whether a showing of form `f` on this page must be read for itself.
bool per_showing(const Walker &w, const FormEntry &f) {
    return w.regions_on_page || (!w.page_boxes.empty() && f.images_below > 0);
}

// Walks the forms that `root` draws, depth first, and fills root.outs.
// Returns -1 with g_err set.
int walk_forms(Walker &w, Frame &root) {
    std::vector<Frame> stack;  // the forms being read, innermost last
    for (;;) {
        Frame &fr = stack.empty() ? root : stack.back();
        const std::vector<XObjectUse> &uses = fr.trace->xobjects;
        if (fr.next < uses.size()) {
            const XObjectUse &use = uses[fr.next++];
            if (use.num <= 0 || xobject_is_image(w, use.num)) continue;
            if (form_flags(w, use.num, fr.resources != nullptr ? *fr.resources : kNoResources) < 0) return -1;
            FormEntry &f = w.forms[use.num];
            if (f.state != FormEntry::kForm || f.active) continue;
            const bool in_place = fr.in_place || !per_showing(w, f);
            if (in_place && f.done_in_place) continue;  // the Do keeps its name
            if (!in_place && count_showing(w, f.trace.glyphs.size()) < 0) return -1;
            f.active = true;
            Frame child;
            child.form = use.num;
            child.in_place = in_place;
            child.to_page = mat_mul(mat_mul(f.matrix, use.ctm), fr.to_page);
            child.content = form_bytes(f);
            child.len = f.len;
            child.trace = &f.trace;
            child.resources = &f.resources;
            child.outs.assign(f.trace.xobjects.size(), 0);
            stack.push_back(std::move(child));  // `fr` is not used after this
            continue;
        }
        if (stack.empty()) return 1;
        Frame done = std::move(stack.back());
        stack.pop_back();
        const int32_t out = finish_form(w, done);
        if (out < 0) return -1;
        note_draws(w, done);
        Frame &parent = stack.empty() ? root : stack.back();
        parent.outs[parent.next - 1] = out;
    }
}

// A stream walked as itself, with the text decision, once per call: an
// annotation appearance, or a form that the resources name.
int walk_in_place(Walker &w, int32_t num, FormEntry &f) {
    if (f.state != FormEntry::kForm || f.active || f.done_in_place) return 1;
    form_text_decision(w, f);
    f.active = true;
    Frame fr;
    fr.form = num;
    fr.in_place = true;
    fr.content = form_bytes(f);
    fr.len = f.len;
    fr.trace = &f.trace;
    fr.resources = &f.resources;
    fr.outs.assign(f.trace.xobjects.size(), 0);
    if (walk_forms(w, fr) < 0 || finish_form(w, fr) < 0) return -1;
    note_draws(w, fr);
    return 1;
}

// The forms that `resources` name, noted for walk_named_forms. An indirect
// /XObject dictionary is read once per call, however many pages share it.
void name_forms(Walker &w, const PdfObj &resources) {
    const PdfObj *entry = pdfobj_get(resources, "XObject");
    if (entry == nullptr) return;
    if (entry->kind == ObjKind::kRef) {
        if (entry->num <= 0 || entry->num > w.doc.max_obj_num) return;
        const auto at = static_cast<size_t>(entry->num);
        if (at >= w.seen_xobject_dicts.size() || w.seen_xobject_dicts[at]) return;
        w.seen_xobject_dicts[at] = 1;
    }
    const PdfObj xobjects = doc_get(w.doc, resources, "XObject");
    if (xobjects.kind != ObjKind::kDict) return;
    bool parent_kept = false;
    for (const PdfObj &value : xobjects.items) {
        if (value.kind != ObjKind::kRef || value.num <= 0 || value.num > w.doc.max_obj_num) continue;
        const auto num = static_cast<size_t>(value.num);
        if (num >= w.named_seen.size() || w.named_seen[num]) continue;
        w.named_seen[num] = 1;
        if (!parent_kept) {
            w.named_parents.push_back(resources);
            parent_kept = true;
        }
        w.named.push_back({static_cast<int32_t>(value.num), w.named_parents.size() - 1, w.page});
    }
}

// The appearance streams of a page's annotations: their text decisions, in
// place, once per call.
int walk_appearances(Walker &w, const ObjEntry &page_obj) {
    std::vector<int32_t> streams;
    collect_page_appearances(w.doc, page_obj, w.visit, streams);
    for (const int32_t num : streams) {
        FormEntry *f = nullptr;
        if (load_form(w, num, true, appearance_resources(w), &f) < 0 || walk_in_place(w, num, *f) < 0)
            return -1;
        if (f->state == FormEntry::kForm) name_forms(w, f->resources);
    }
    // An appearance is drawn as itself wherever a Do draws a copy of it.
    for (const int32_t num : streams) note_draw(w, num, kDrawnAsItself);
    return 1;
}

int check_unreadable(Walker &w);

// The forms that the resources of the pages, their appearances and the
// forms they name name, to any depth, read after the last page: a form that
// no content draws is still in the file, and its text goes as the drawn text
// does. Those that a page drew are done already. What these forms draw is
// not drawn, so it keeps no original in the output (see note_draw).
int walk_named_forms(Walker &w) {
    w.undrawn_walk = true;
    w.regions_on_page = false;
    w.page_boxes.clear();
    for (size_t i = 0; i < w.named.size(); ++i) {
        const NamedForm item = w.named[i];  // the list grows below
        if (xobject_is_image(w, item.num)) continue;
        w.page = item.page;
        w.unreadable = 0;
        w.unreadable_font = nullptr;
        FormEntry *f = nullptr;
        // Read before name_forms below adds to named_parents.
        const PdfObj &parent = w.named_parents[item.parent];
        if (load_form(w, item.num, false, parent, &f) < 0 || walk_in_place(w, item.num, *f) < 0) return -1;
        if (check_unreadable(w) < 0) return -1;
        if (f->state != FormEntry::kForm) continue;
        // A form without resources of its own names what its parent named.
        if (pdfobj_get(f->dict, "Resources") != nullptr) name_forms(w, f->resources);
        // Nothing reads it again: the pages are done.
        f->trace = ContentTrace{};
        f->content = Buf{};
        f->resources = PdfObj{};
    }
    w.undrawn_walk = false;
    return 1;
}

// The rectangle of a PDF array of four numbers, normalised; false when it is none.
bool rect_of(const PdfObj *a, Box *out) {
    if (a == nullptr || a->kind != ObjKind::kArray || a->items.size() != 4) return false;
    double v[4];
    for (int k = 0; k < 4; ++k) {
        if (a->items[static_cast<size_t>(k)].kind != ObjKind::kNumber) return false;
        v[k] = a->items[static_cast<size_t>(k)].num;
    }
    *out = {std::fmin(v[0], v[2]), std::fmin(v[1], v[3]), std::fmax(v[0], v[2]), std::fmax(v[1], v[3])};
    return std::isfinite(out->x0) && std::isfinite(out->x1) && std::isfinite(out->y0) && std::isfinite(out->y1);
}

// The boxes painted in the appearances that the page's annotations show,
// placed on the page as readers place an appearance (PDF reference 12.5.5:
// its /BBox, transformed by its /Matrix, fitted to the annotation's /Rect),
// for the account of what was removed.
void account_appearance_boxes(Walker &w, int32_t page_num) {
    const PdfObj page = doc_object(w.doc, page_num);
    const PdfObj annots = doc_get(w.doc, page, "Annots");
    if (annots.kind != ObjKind::kArray) return;
    for (const PdfObj &ref : annots.items) {
        const PdfObj annot = doc_resolve(w.doc, ref);
        Box rect;
        if (!rect_of(pdfobj_get(annot, "Rect"), &rect)) continue;
        const PdfObj ap = doc_get(w.doc, annot, "AP");
        int32_t num = 0;
        const PdfObj normal = doc_get(w.doc, ap, "N", &num);
        if (normal.kind == ObjKind::kDict && num == 0) {  // appearance states: the one shown
            const PdfObj *state = pdfobj_get(annot, "AS");
            const PdfObj *chosen = state != nullptr && state->kind == ObjKind::kName ? pdfobj_get(normal, state->str)
                                                                                    : nullptr;
            num = chosen != nullptr && chosen->kind == ObjKind::kRef ? static_cast<int32_t>(chosen->num) : 0;
        }
        auto it = w.forms.find(num);
        if (num <= 0 || it == w.forms.end() || it->second.state != FormEntry::kForm || it->second.text.boxes.empty())
            continue;
        const FormEntry &f = it->second;
        Box bbox;
        if (!rect_of(pdfobj_get(f.dict, "BBox"), &bbox)) continue;
        const Box shown = quad_bounds(quad_of(f.matrix, bbox.x0, bbox.y0, bbox.x1, bbox.y1));
        const double sx = shown.x1 > shown.x0 ? (rect.x1 - rect.x0) / (shown.x1 - shown.x0) : 1;
        const double sy = shown.y1 > shown.y0 ? (rect.y1 - rect.y0) / (shown.y1 - shown.y0) : 1;
        const Matrix fit{sx, 0, 0, sy, rect.x0 - shown.x0 * sx, rect.y0 - shown.y0 * sy};
        const Matrix to_page = mat_mul(f.matrix, fit);
        for (const PaintBox &b : f.text.boxes) {
            Quad q;
            for (int k = 0; k < 4; ++k) q.p[k] = mat_apply(to_page, b.quad.p[k].x, b.quad.p[k].y);
            w.res.boxes.push_back({quad_bounds(q), w.page, b.cause});
        }
    }
}

// Text the library cannot read, on a page of a text-mode call: as many
// glyphs in one stream as a search text has letters could hide an
// occurrence. Counted per stream, a form drawn twice weighs the same before
// and after its showings are redacted as copies of their own.
int check_unreadable(Walker &w) {
    if (w.job.search == nullptr) return 1;
    const int64_t letters = search_set_fewest_letters(*w.job.search);
    if (w.unreadable == 0 || w.unreadable < letters) return 1;
    set_error("page %d shows text in the font %s, whose codes cannot be read — the text was not redacted",
              w.page, w.unreadable_font != nullptr ? w.unreadable_font->name.c_str() : "(unnamed)");
    return -1;
}

int walk_page(Walker &w, size_t index) {
    const Doc &doc = w.doc;
    w.page = static_cast<int>(index) + 1;
    w.regions_on_page = w.regional && any_region_on(w.job, w.page);
    w.unreadable = 0;
    w.unreadable_font = nullptr;
    w.page_boxes.clear();
    const ObjEntry *page = doc_find_obj(doc, doc.pages[index].num);
    Buf content;
    std::vector<int32_t> &content_objs = w.res.content_objs[index];
    if (page != nullptr) {
        int32_t failed = 0;
        if (get_page_content(doc, *page, content, content_objs, w.page, &failed) < 0) return -1;
    }
    const PdfObj resources = page_resources(doc, doc.pages[index].num);
    const ContentContext ctx{doc, w.fonts, resources};
    const auto len = static_cast<int32_t>(content.len);
    const unsigned char *bytes = content.data.get();
    ContentTrace trace;
    interpret_content(ctx, bytes, len, Matrix{}, trace);
    StreamDecision d;
    decide_stream(bytes, trace, w.job, Placement{w.page, Matrix{}, true}, d);
    note_decision(w, d);
    // Nothing after the decision reads the page's glyphs, the bulk of its
    // trace: they go before the boxes and the new content are made.
    trace.glyphs = GlyphList{};

    // Pass 1: every box the page paints, in page space.
    reserve_boxes(w, d.boxes.size());
    for (const PaintBox &b : d.boxes) add_page_box(w, b.quad, b.cause);
    if (collect_form_boxes(w, trace, resources) < 0) return -1;

    // Pass 2: forms (per showing where regions or images need it) and images.
    Frame root;
    root.in_place = !w.regions_on_page && w.page_boxes.empty();
    root.content = bytes;
    root.len = len;
    root.trace = &trace;
    root.resources = &resources;
    root.outs.assign(trace.xobjects.size(), 0);
    if (walk_forms(w, root) < 0) return -1;
    if (!root.in_place && frame_images(w, root) < 0) return -1;
    note_draws(w, root);
    name_forms(w, resources);
    if (page != nullptr && walk_appearances(w, *page) < 0) return -1;
    if (w.job.search != nullptr) account_appearance_boxes(w, doc.pages[index].num);
    if (check_unreadable(w) < 0) return -1;
    if (w.mode != WalkMode::kRedact) return 1;

    std::vector<ContentEdit> edits = std::move(root.image_edits);
    PdfObj new_resources;
    const bool renamed = renames(w, root, edits, new_resources);
    if (!changed(d) && !renamed && edits.empty()) return 1;
    keep_props(w, d);
    Buf &out = w.res.page_content[index];
    if (!rewrite_content(bytes, len, trace, d, std::move(edits), w.job, out) ||
        (!out.data && (len > 0 || !d.boxes.empty()))) {
        set_error("out of memory rewriting the page %d content stream", w.page);
        return -1;
    }
    buf_shrink_to_fit(out);
    w.res.page_changed[index] = 1;
    if (renamed) pdfobj_write(new_resources, w.res.page_resources[index]);
    return 1;
}

}  // namespace

namespace {

// Matches the search texts in one stream of `out`. Returns -1 with g_err
// set when one still appears.
int verify_stream(const Doc &out, const SearchSet &search, FontCache &fonts, int32_t num,
                  const PdfObj &resources, const char *label) {
    const ObjEntry *entry = num > 0 ? doc_find_obj(out, num) : nullptr;
    if (entry == nullptr || !entry->has_stream) return 1;
    // An unfiltered stream is read where it stands in the output.
    Buf scratch;
    int32_t len = 0, failed = 0;
    const unsigned char *bytes =
        decode_stream_obj(*entry, out.data.data(), doc_file_len(out), scratch, &len, label, &failed);
    if (failed) return -1;
    static const unsigned char kNothing = 0;
    if (bytes == nullptr || len < 0) {
        bytes = &kNothing;
        len = 0;
    }
    const ContentContext ctx{out, fonts, resources};
    ContentTrace trace;
    interpret_content(ctx, bytes, len, Matrix{}, trace);
    if (count_stream_matches(bytes, trace, search) == 0) return 1;
    set_error("redaction incomplete: the search text still appears in %s — no output written", label);
    return -1;
}

}  // namespace

int verify_rewritten(const Doc &out, const RedactJob &job, const WalkResult &walk,
                     const std::vector<int32_t> &new_content) {
    if (job.search == nullptr) return 1;
    FontCache fonts;
    char label[96];
    for (size_t i = 0; i < new_content.size() && i < out.pages.size(); ++i) {
        if (new_content[i] <= 0) continue;
        std::snprintf(label, sizeof label, "the page %d content stream", static_cast<int>(i) + 1);
        const PdfObj resources = page_resources(out, out.pages[i].num);
        if (verify_stream(out, *job.search, fonts, new_content[i], resources, label) < 0) return -1;
    }
    for (const auto &[num, used] : walk.rewritten) {
        form_label(num, label, sizeof label);
        const PdfObj own = doc_get(out, doc_object(out, num), "Resources");
        if (verify_stream(out, *job.search, fonts, num, own.kind == ObjKind::kDict ? own : used, label) < 0)
            return -1;
    }
    return 1;
}

std::string blanked_property_list(const Doc &doc, int32_t num) {
    PdfObj dict = doc_object(doc, num);
    if (dict.kind != ObjKind::kDict) return {};
    for (size_t i = 0; i < dict.keys.size(); ++i) {
        const std::string &key = dict.keys[i];
        PdfObj &value = dict.items[i];
        if ((key == "ActualText" || key == "Alt" || key == "E") && value.kind == ObjKind::kString)
            value.str.assign(value.str.size(), ' ');
    }
    std::string text;
    pdfobj_write(dict, text);
    return text;
}

PdfObj page_resources(const Doc &doc, int32_t page_num) {
    std::vector<int32_t> seen;
    for (int32_t num = page_num; num > 0;) {
        if (std::find(seen.begin(), seen.end(), num) != seen.end()) break;
        seen.push_back(num);
        const PdfObj node = doc_object(doc, num);
        if (node.kind != ObjKind::kDict) break;
        PdfObj res = doc_get(doc, node, "Resources");
        if (res.kind == ObjKind::kDict) return res;
        const PdfObj *parent = pdfobj_get(node, "Parent");
        num = parent != nullptr && parent->kind == ObjKind::kRef ? static_cast<int32_t>(parent->num) : 0;
    }
    return PdfObj{};
}

int walk_document(const Doc &doc, const RedactJob &job, WalkMode mode, int32_t last_num,
                  WalkResult &result) {
    const size_t pages = doc.pages.size();
    const size_t slots = static_cast<size_t>(doc.max_obj_num) + 64;
    result = WalkResult{};
    result.page_content.resize(pages);
    result.content_objs.resize(pages);
    result.page_changed.assign(pages, 0);
    result.page_resources.resize(pages);
    result.forms.resize(slots);
    result.first_new_num = last_num + 1;
    Walker w{doc, job, mode, result};
    w.text_job = job;
    w.region_job = job;
    w.text_job.regions = nullptr;
    w.text_job.region_count = 0;
    w.region_job.search = nullptr;
    w.regional = job.regions != nullptr && job.region_count > 0;
    w.next_num = last_num;
    w.visit.assign(slots, 0);
    if (mode == WalkMode::kRedact) w.draws.assign(slots, 0);
    w.named_seen.assign(slots, 0);
    w.seen_xobject_dicts.assign(slots, 0);
    w.rgb[0] = colour_byte(job.red);
    w.rgb[1] = colour_byte(job.green);
    w.rgb[2] = colour_byte(job.blue);
    if (job.search != nullptr) result.term_matches.assign(job.search->patterns.size(), 0);
    for (size_t i = 0; i < pages; ++i)
        if (walk_page(w, i) < 0) return -1;
    if (walk_named_forms(w) < 0) return -1;
    for (size_t n = 0; n < w.draws.size(); ++n)
        if (w.draws[n] == kCopied)
            result.replaced_originals.emplace_back(static_cast<int32_t>(n), w.first_copy[static_cast<int32_t>(n)]);
    std::vector<int32_t> &props = result.props_objects;
    std::sort(props.begin(), props.end());
    props.erase(std::unique(props.begin(), props.end()), props.end());
    return 1;
}
