// The document walk: pages, the forms they draw and their annotations'
// appearances, interpreted once each (forms once per showing that a region
// covers) and redacted.
//
// Forms nest to any depth: the walk keeps its own stack of streams being
// read instead of recursing, and a form already on that stack (one that
// draws itself) is not entered again.
#include "walk.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <unordered_map>

#include "api.h"
#include "content.h"
#include "filters.h"

namespace {

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
    StreamDecision text;        // what the search text decides: the same for every showing
    bool done_in_place = false;  // rewritten in place (or found unchanged)
    bool active = false;         // on the walk's stack
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
    std::vector<int32_t> outs;  // per XObject use: the object its Do names afterwards
};

struct Walker {
    const Doc &doc;
    const RedactJob &job;
    WalkMode mode;
    WalkResult &res;
    RedactJob text_job;    // the search text alone
    RedactJob region_job;  // the regions alone
    bool regional = false;
    FontCache fonts;
    std::unordered_map<int32_t, FormEntry> forms;
    std::map<std::string, int32_t> variants;  // a form's rewritten showing -> its copy
    int32_t next_num = 0;
    int page = 0;                     // 1-based number of the page being walked
    bool regions_on_page = false;
    int64_t unreadable = 0;           // glyphs of unreadable fonts on this page
    const Font *unreadable_font = nullptr;
    VisitMap visit;
    PdfObj default_resources;          // the AcroForm's /DR, for appearances without resources
    bool have_default_resources = false;
};

constexpr const char *kLimitFailure = "out of memory rewriting %s";

void form_label(int32_t num, char *label, size_t size) {
    std::snprintf(label, size, "the Form XObject stream (object %ld)", static_cast<long>(num));
}

bool any_region_on(const RedactJob &job, int page) {
    for (int r = 0; r < job.region_count; ++r)
        if (region_on_page(job.regions[r], page)) return true;
    return false;
}

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
    for (int k = 0; k < 6; ++k) {
        v[k] = pdfobj_number(&m->items[static_cast<size_t>(k)], k == 0 || k == 3 ? 1 : 0);
    }
    const Matrix out{v[0], v[1], v[2], v[3], v[4], v[5]};
    return mat_is_finite(out) ? out : Matrix{};
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
    const unsigned char *bytes = f.content.data ? f.content.data.get() + (f.content.len - static_cast<uint64_t>(f.len)) : nullptr;
    const ContentContext ctx{w.doc, w.fonts, f.resources};
    interpret_content(ctx, bytes, f.len, Matrix{}, f.trace);
    return 1;
}

const unsigned char *form_bytes(const FormEntry &f) {
    if (!f.content.data || f.len <= 0) return nullptr;
    return f.content.data.get() + (f.content.len - static_cast<uint64_t>(f.len));
}

// Adds what a stream's decision found to the counts of the call and the page.
// In verify mode an occurrence fails the walk. Returns -1 with g_err set then.
int note_decision(Walker &w, const StreamDecision &d, const char *label) {
    w.res.matches += d.matches;
    for (size_t t = 0; t < d.term_matches.size() && t < w.res.term_matches.size(); ++t)
        w.res.term_matches[t] += d.term_matches[t];
    w.unreadable += d.unreadable_glyphs;
    if (w.unreadable_font == nullptr) w.unreadable_font = d.unreadable_font;
    if (w.mode == WalkMode::kVerify && d.matches > 0) {
        set_error("redaction incomplete: the search text still appears in %s — no output written",
                  label);
        return -1;
    }
    return 1;
}

bool changed(const StreamDecision &d) { return !d.boxes.empty() || d.any_blank(); }

void keep_props(Walker &w, const StreamDecision &d) {
    w.res.props_objects.insert(w.res.props_objects.end(), d.props_objects.begin(), d.props_objects.end());
}

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
            if (resources.kind != ObjKind::kDict) resources.kind = ObjKind::kDict;
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
    if (any) pdfobj_set(resources, "XObject", xobjects);
    return any;
}

// The text decision of form `f`, made once per call.
int form_text_decision(Walker &w, int32_t num, FormEntry &f) {
    if (f.text_decided) return 1;
    f.text_decided = true;
    const Placement anywhere{w.page, Matrix{}, false};
    decide_stream(form_bytes(f), f.trace, w.text_job, anywhere, f.text);
    char label[96];
    form_label(num, label, sizeof label);
    return note_decision(w, f.text, label);
}

// A finished form frame: its content rewritten as this showing needs.
// Returns the object number the showing names, or -1 with g_err set.
int32_t finish_form(Walker &w, Frame &fr) {
    FormEntry &f = w.forms[fr.form];
    f.active = false;
    const unsigned char *bytes = form_bytes(f);
    char label[96];
    form_label(fr.form, label, sizeof label);
    if (fr.in_place) {
        f.done_in_place = true;
        if (w.mode == WalkMode::kRedact && changed(f.text)) {
            keep_props(w, f.text);
            Buf out;
            if (!rewrite_content(bytes, f.len, f.trace, f.text, {}, w.job, out) || !out.data) {
                set_error(kLimitFailure, label);
                return -1;
            }
            buf_shrink_to_fit(out);
            w.res.forms[static_cast<size_t>(fr.form)] = std::move(out);
        }
        if (!w.regional) {  // never read again in this call
            f.trace = ContentTrace{};
            f.content = Buf{};
        }
        return fr.form;
    }
    // A showing under the regions of its page.
    StreamDecision d = f.text;
    StreamDecision region;
    decide_stream(bytes, f.trace, w.region_job, Placement{w.page, fr.to_page, false}, region);
    for (size_t k = 0; k < d.blank.size(); ++k) d.blank[k] |= region.blank[k];
    for (size_t k = 0; k < d.blank_strings.size(); ++k) d.blank_strings[k] |= region.blank_strings[k];
    d.props_objects.insert(d.props_objects.end(), region.props_objects.begin(), region.props_objects.end());
    bool renamed = false;
    for (size_t k = 0; k < fr.outs.size(); ++k)
        renamed = renamed || (fr.outs[k] != 0 && fr.outs[k] != fr.trace->xobjects[k].num);
    if (!changed(d) && !renamed) return fr.form;
    if (w.mode != WalkMode::kRedact) return fr.form;
    // The same rewriting for another showing shares its copy.
    std::string key = std::to_string(fr.form) + ":";
    key.append(d.blank.begin(), d.blank.end());
    key += ':';
    key.append(d.blank_strings.begin(), d.blank_strings.end());
    for (const int32_t o : fr.outs) key += ":" + std::to_string(o);
    auto it = w.variants.find(key);
    if (it != w.variants.end()) return it->second;
    keep_props(w, d);
    NewStream copy;
    copy.num = ++w.next_num;
    std::vector<ContentEdit> edits;
    PdfObj resources = f.resources;
    renames(w, fr, edits, resources);
    if (!rewrite_content(bytes, f.len, f.trace, d, std::move(edits), w.job, copy.data) ||
        (!copy.data.data && f.len > 0)) {
        set_error(kLimitFailure, label);
        return -1;
    }
    buf_shrink_to_fit(copy.data);
    PdfObj dict = f.dict;
    for (const char *key_name : {"Length", "Filter", "DecodeParms"}) pdfobj_set(dict, key_name, PdfObj{});
    pdfobj_set(dict, "Resources", resources);
    pdfobj_write(dict, copy.dict);
    w.variants.emplace(key, copy.num);
    w.res.new_streams.push_back(std::move(copy));
    return w.res.new_streams.back().num;
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
            if (use.num <= 0) continue;
            FormEntry *f = nullptr;
            const PdfObj no_resources;
            if (load_form(w, use.num, false, fr.resources != nullptr ? *fr.resources : no_resources,
                          &f) < 0)
                return -1;
            if (f->state != FormEntry::kForm || f->active) continue;
            const bool in_place = fr.in_place || !w.regions_on_page;
            if (in_place && f->done_in_place) continue;  // the Do keeps its name
            if (form_text_decision(w, use.num, *f) < 0) return -1;
            f->active = true;
            Frame child;
            child.form = use.num;
            child.in_place = in_place;
            child.to_page = mat_mul(mat_mul(f->matrix, use.ctm), fr.to_page);
            child.content = form_bytes(*f);
            child.len = f->len;
            child.trace = &f->trace;
            child.resources = &f->resources;
            child.outs.assign(f->trace.xobjects.size(), 0);
            stack.push_back(std::move(child));  // `fr` is not used after this
            continue;
        }
        if (stack.empty()) return 1;
        Frame done = std::move(stack.back());
        stack.pop_back();
        const int32_t out = finish_form(w, done);
        if (out < 0) return -1;
        Frame &parent = stack.empty() ? root : stack.back();
        parent.outs[parent.next - 1] = out;
    }
}

// The appearance streams of a page's annotations: their text decisions, in
// place, once per call.
int walk_appearances(Walker &w, const ObjEntry &page_obj) {
    std::vector<int32_t> streams;
    collect_page_appearances(w.doc, page_obj, w.visit, streams);
    for (const int32_t num : streams) {
        FormEntry *f = nullptr;
        if (load_form(w, num, true, appearance_resources(w), &f) < 0) return -1;
        if (f->state != FormEntry::kForm || f->active || f->done_in_place) continue;
        if (form_text_decision(w, num, *f) < 0) return -1;
        f->active = true;
        Frame fr;
        fr.form = num;
        fr.in_place = true;
        fr.content = form_bytes(*f);
        fr.len = f->len;
        fr.trace = &f->trace;
        fr.resources = &f->resources;
        fr.outs.assign(f->trace.xobjects.size(), 0);
        if (walk_forms(w, fr) < 0 || finish_form(w, fr) < 0) return -1;
    }
    return 1;
}

// Text the library cannot read, on a page of a text-mode call: as many
// glyphs as the search text has characters could hide an occurrence.
int check_unreadable(Walker &w) {
    if (w.mode == WalkMode::kVerify || w.job.search == nullptr) return 1;
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
    char label[64];
    std::snprintf(label, sizeof label, "the page %d content stream", w.page);
    if (note_decision(w, d, label) < 0) return -1;

    Frame root;
    root.in_place = !w.regions_on_page;
    root.content = bytes;
    root.len = len;
    root.trace = &trace;
    root.resources = &resources;
    root.outs.assign(trace.xobjects.size(), 0);
    if (walk_forms(w, root) < 0) return -1;
    if (page != nullptr && walk_appearances(w, *page) < 0) return -1;
    if (check_unreadable(w) < 0) return -1;
    if (w.mode != WalkMode::kRedact) return 1;

    std::vector<ContentEdit> edits;
    PdfObj new_resources;
    const bool renamed = renames(w, root, edits, new_resources);
    if (!changed(d) && !renamed) return 1;
    keep_props(w, d);
    for (const PaintBox &b : d.boxes) w.res.boxes.push_back({w.page, quad_bounds(b.quad), b.cause});
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
    Walker w{doc, job, mode, result, job, job, false, {}, {}, {}, last_num, 0, false, 0,
             nullptr, VisitMap(slots, 0), {}, false};
    w.text_job.regions = nullptr;
    w.text_job.region_count = 0;
    w.region_job.search = nullptr;
    if (job.search != nullptr) result.term_matches.assign(job.search->patterns.size(), 0);
    w.regional = job.regions != nullptr && job.region_count > 0;
    for (size_t i = 0; i < pages; ++i)
        if (walk_page(w, i) < 0) return -1;
    std::vector<int32_t> &props = result.props_objects;
    std::sort(props.begin(), props.end());
    props.erase(std::unique(props.begin(), props.end()), props.end());
    return 1;
}
