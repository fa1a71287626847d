// Form XObject and appearance redaction: the forms a page's resources name,
// the appearance streams of its annotations, and the forms nested in them,
// each redacted at most once per call.
//
// The walk keeps its own list of forms still to examine instead of
// recursing, so nesting of any depth costs no stack, and the VisitMap marks
// every dictionary it has walked, so a call does the same work however often
// an object is referenced.
#include "forms.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "api.h"
#include "content.h"
#include "filters.h"
#include "redact.h"

namespace {

constexpr int kMaxResourceHops = 64;  // the page and 63 ancestors

// The roles in which the VisitMap records an object.
constexpr uint16_t kExamined = 1;           // a stream examined as a form or appearance
constexpr uint16_t kNotAForm = 2;           // a stream without /Subtype /Form met in resources
constexpr uint16_t kResourcesLookedUp = 4;  // a page or page-tree node whose resources were walked
constexpr uint16_t kResourceDict = 8;       // walked as a resource dictionary
constexpr uint16_t kXObjectDict = 16;       // walked as an /XObject dictionary
constexpr uint16_t kAnnotation = 32;        // an annotation whose appearances were followed
constexpr uint16_t kAnnotsArray = 64;       // walked as an /Annots array
constexpr uint16_t kAppearanceDict = 128;   // walked as an /AP dictionary
constexpr uint16_t kStateDict = 256;        // walked as a dictionary of appearance states

// A form still to examine; `appearance` when an annotation's /AP named it,
// where /Subtype /Form is often left out, so only an image is passed over.
struct PendingForm {
    int32_t num;
    bool appearance;
};

// The walk of one page: the arguments that stay the same for all its forms,
// and the forms still to examine, taken from the back.
struct FormPass {
    const Doc &doc;
    VisitMap &visit_map;
    FormMap &form_map;
    const char *search;
    const Region *regions;
    int region_count;
    int page;
    int red, green, blue;
    FormTally &tally;
    std::vector<PendingForm> pending;
};

// Records `role` for object `num`: true the first time, false when it was
// recorded before or the number lies outside the map.
bool first_time(VisitMap &visit, int32_t num, uint16_t role) {
    if (num <= 0 || static_cast<size_t>(num) >= visit.size()) return false;
    uint16_t &bits = visit[static_cast<size_t>(num)];
    if ((bits & role) != 0) return false;
    bits = static_cast<uint16_t>(bits | role);
    return true;
}

// Appends every reference from `pos` up to `end` (or an unmatched "]").
void append_refs(const unsigned char *bytes, int32_t end, int32_t pos, std::vector<int32_t> &out) {
    for (int32_t num = next_array_ref(bytes, end, &pos); num > 0;
         num = next_array_ref(bytes, end, &pos))
        out.push_back(num);
}

// Appends the references of every /XObject entry of resource dictionary
// `res`. With `visit`, an /XObject dictionary object walked before in this
// call is passed over: the forms it names have all been reached.
void append_xobject_refs(const Doc &doc, const DictRange &res, VisitMap *visit,
                         std::vector<int32_t> &out) {
    int32_t cursor = 0, p = 0;
    while ((p = dict_next_value(res, "XObject", &cursor)) >= 0) {
        DictRange dict{res.bytes, p, res.end};
        if (is_digit(res.bytes[p])) {  // a dictionary object of its own
            int32_t at = p;
            const int32_t num = parse_int_at(res.bytes, res.end, &at);
            if (num <= 0 || (visit != nullptr && !first_time(*visit, num, kXObjectDict))) continue;
            const ObjEntry *entry = doc_find_obj(doc, num);
            if (entry == nullptr) continue;
            dict = obj_dict_range(doc, *entry);
        }
        const int32_t from = dict_range_entries(dict);
        if (from < 0) continue;
        const int32_t close = rd_dict_close(dict.bytes, dict.end, from - 2, dict.end);
        if (close >= 0) append_refs(dict.bytes, close, from, out);
    }
}

// The array that the value at `value` of `r` stands for: an inline "[", or a
// reference to an array object, whose number goes to *array_obj (0 for an
// inline array). Returns the offset just past its "[" in *bytes (scanned up
// to *end), or -1.
int32_t array_value(const Doc &doc, const DictRange &r, int32_t value, const unsigned char **bytes,
                    int32_t *end, int32_t *array_obj) {
    *array_obj = 0;
    if (r.bytes[value] == '[') {
        *bytes = r.bytes;
        *end = r.end;
        return value + 1;
    }
    const int32_t num = ref_at(r.bytes, r.end, &value);
    const ObjEntry *array = num > 0 ? doc_find_obj(doc, num) : nullptr;
    if (array == nullptr) return -1;
    *array_obj = num;
    return obj_array_start(doc, *array, bytes, end);
}

// Appends the annotations that every /Annots entry of `obj` names. With
// `visit`, an /Annots array object walked before in this call is passed over.
void append_annot_refs(const Doc &doc, const ObjEntry &obj, VisitMap *visit,
                       std::vector<int32_t> &out) {
    const DictRange r = obj_dict_range(doc, obj);
    int32_t cursor = 0, p = 0;
    while ((p = dict_next_value(r, "Annots", &cursor)) >= 0) {
        const unsigned char *bytes = nullptr;
        int32_t end = 0, array_obj = 0;
        const int32_t from = array_value(doc, r, p, &bytes, &end, &array_obj);
        if (from < 0) continue;
        if (visit != nullptr && array_obj > 0 && !first_time(*visit, array_obj, kAnnotsArray))
            continue;
        append_refs(bytes, end, from, out);
    }
}

// Queues the forms of every /Resources entry of `holder` (a page, a page-tree
// node or a form), in their order. Returns whether it has any.
bool push_resource_forms(FormPass &fp, const ObjEntry &holder) {
    bool found = false;
    std::vector<int32_t> refs;
    int32_t cursor = 0, res_obj = 0, text_end = 0, dict_pos = 0;
    const unsigned char *text = nullptr;
    while (obj_resources(fp.doc, holder, &res_obj, &text, &text_end, &dict_pos, &cursor)) {
        found = true;
        DictRange res{text, dict_pos, text_end};
        if (res_obj > 0) {
            if (!first_time(fp.visit_map, res_obj, kResourceDict)) continue;
            const ObjEntry *entry = doc_find_obj(fp.doc, res_obj);
            if (entry == nullptr) continue;
            res = obj_dict_range(fp.doc, *entry);
        }
        append_xobject_refs(fp.doc, res, &fp.visit_map, refs);
    }
    for (auto it = refs.rbegin(); it != refs.rend(); ++it) fp.pending.push_back({*it, false});
    return found;
}

// Queues every stream that a dictionary of appearance states names.
void push_state_streams(FormPass &fp, const DictRange &states) {
    int32_t pos = dict_range_entries(states);
    DictEntry e;
    while (pos >= 0 && dict_next_entry(states.bytes, states.end, &pos, &e)) {
        int32_t at = skip_pdf_ws(states.bytes, states.end, e.key_end);
        const int32_t num = ref_at(states.bytes, states.end, &at);
        if (num > 0) fp.pending.push_back({num, true});
    }
}

// Queues what one /N, /R or /D value at `value` names: a stream, or the
// streams of a dictionary of appearance states, inline or an object.
void push_appearance(FormPass &fp, const DictRange &ap, int32_t value) {
    if (ap.bytes[value] == '<') {
        push_state_streams(fp, DictRange{ap.bytes, value, ap.end});
        return;
    }
    const int32_t num = ref_at(ap.bytes, ap.end, &value);
    const ObjEntry *target = num > 0 ? doc_find_obj(fp.doc, num) : nullptr;
    if (target == nullptr) return;
    if (target->has_stream)
        fp.pending.push_back({num, true});
    else if (first_time(fp.visit_map, num, kStateDict))
        push_state_streams(fp, obj_dict_range(fp.doc, *target));
}

// Queues the appearance streams of annotation `annot`: /N, /R and /D of every
// /AP entry, inline or an object of its own, in their order.
void push_annotation(FormPass &fp, int32_t annot) {
    if (!first_time(fp.visit_map, annot, kAnnotation)) return;
    const ObjEntry *entry = doc_find_obj(fp.doc, annot);
    if (entry == nullptr) return;
    const size_t first = fp.pending.size();
    const DictRange r = obj_dict_range(fp.doc, *entry);
    int32_t cursor = 0, p = 0;
    while ((p = dict_next_value(r, "AP", &cursor)) >= 0) {
        DictRange ap{r.bytes, p, r.end};
        if (is_digit(r.bytes[p])) {
            int32_t at = p;
            const int32_t num = ref_at(r.bytes, r.end, &at);
            const ObjEntry *obj = num > 0 ? doc_find_obj(fp.doc, num) : nullptr;
            if (obj == nullptr || obj->has_stream ||
                !first_time(fp.visit_map, num, kAppearanceDict))
                continue;
            ap = obj_dict_range(fp.doc, *obj);
        }
        int32_t pos = dict_range_entries(ap);
        DictEntry e;
        while (pos >= 0 && dict_next_entry(ap.bytes, ap.end, &pos, &e)) {
            if (!dict_entry_is(ap.bytes, e, "N") && !dict_entry_is(ap.bytes, e, "R") &&
                !dict_entry_is(ap.bytes, e, "D"))
                continue;
            const int32_t value = skip_pdf_ws(ap.bytes, ap.end, e.key_end);
            if (value < ap.end) push_appearance(fp, ap, value);
        }
    }
    std::reverse(fp.pending.begin() + static_cast<std::ptrdiff_t>(first), fp.pending.end());
}

// Decodes and redacts the content of form `entry`, keeping the result in the
// FormMap when a box was painted.
int redact_form_content(FormPass &fp, const ObjEntry &entry) {
    char label[96];
    std::snprintf(label, sizeof label, "the Form XObject stream (object %ld)",
                  static_cast<long>(entry.num));
    Buf scratch;
    int32_t len = 0, failed = 0;
    const unsigned char *decoded = decode_stream_obj(
        entry, fp.doc.data.data(), doc_file_len(fp.doc), scratch, &len, label, &failed);
    if (failed) return -1;
    if (decoded == nullptr || len <= 0) return 1;
    // Unfiltered data points into the loaded file, which stays as read: the
    // glyphs are blanked in a copy.
    if (scratch.len == 0) buf_append(scratch, decoded, static_cast<uint64_t>(len));
    if (!scratch.data) {
        set_error("out of memory decoding %s", label);
        return -1;
    }
    Buf content;
    int painted = 0, matches = 0;
    redact_page_content(scratch.data.get() + (scratch.len - static_cast<uint64_t>(len)), len,
                        content, fp.search, fp.regions, fp.region_count, fp.page, fp.red, fp.green,
                        fp.blue, &painted, &matches);
    const int64_t total = static_cast<int64_t>(fp.tally.matches) + matches;
    fp.tally.matches = total > INT32_MAX ? INT32_MAX : static_cast<int32_t>(total);
    if (!painted) return 1;
    // The rewritten content holds the whole form: a shorter one means memory
    // ran out, and the writer would then keep too little, or the unredacted
    // stream.
    if (!content.data || content.len < static_cast<uint64_t>(len)) {
        set_error("out of memory decoding %s", label);
        return -1;
    }
    fp.tally.changed = 1;
    buf_shrink_to_fit(content);
    fp.form_map[static_cast<size_t>(entry.num)] = std::move(content);
    return 1;
}

// Examines one queued form: redacts it and queues the forms its resources
// name, unless it was examined before or is no form.
int examine_form(FormPass &fp, PendingForm form) {
    const Doc &doc = fp.doc;
    if (form.num <= 0 || form.num > doc.max_obj_num) return 1;
    const auto index = static_cast<size_t>(form.num);
    if (index >= fp.visit_map.size() || index >= fp.form_map.size()) return 1;
    uint16_t &bits = fp.visit_map[index];
    if ((bits & kExamined) != 0 || (!form.appearance && (bits & kNotAForm) != 0)) return 1;
    const ObjEntry *entry = doc_find_obj(doc, form.num);
    if (entry == nullptr || !entry->has_stream || entry->dict_pos < 0) return 1;
    if (obj_name_is(doc, *entry, "Subtype", "Form") == 0) {
        // An image is never redacted; another stream only as an appearance,
        // so an /AP that names it later still reaches it.
        if (obj_name_is(doc, *entry, "Subtype", "Image") != 0) {
            bits = static_cast<uint16_t>(bits | kExamined);
            return 1;
        }
        if (!form.appearance) {
            bits = static_cast<uint16_t>(bits | kNotAForm);
            return 1;
        }
    }
    bits = static_cast<uint16_t>(bits | kExamined);
    if (redact_form_content(fp, *entry) < 0) return -1;
    push_resource_forms(fp, *entry);
    return 1;
}

// Examines the queued forms, and the forms nested in them, in depth-first
// order. Returns -1 as soon as a stream cannot be decoded.
int examine_pending(FormPass &fp) {
    while (!fp.pending.empty()) {
        const PendingForm next = fp.pending.back();
        fp.pending.pop_back();
        if (examine_form(fp, next) < 0) return -1;
    }
    return 1;
}

}  // namespace

int32_t collect_xobjects(const Doc &doc, int32_t res_obj, const unsigned char *text,
                         int32_t text_end, int32_t dict_pos, std::vector<int32_t> &out) {
    // The resource dictionary: an object of its own, or inline in `text`.
    DictRange res{text, dict_pos, text_end};
    if (res_obj > 0) {
        const ObjEntry *entry = doc_find_obj(doc, res_obj);
        if (entry == nullptr) return 0;
        res = obj_dict_range(doc, *entry);
    }
    const size_t before = out.size();
    append_xobject_refs(doc, res, nullptr, out);
    return static_cast<int32_t>(out.size() - before);
}

int32_t collect_refs_in_array(const Doc &doc, const ObjEntry &obj, std::vector<int32_t> &out) {
    const size_t before = out.size();
    append_annot_refs(doc, obj, nullptr, out);
    return static_cast<int32_t>(out.size() - before);
}

int redact_form_obj(const Doc &doc, int32_t objnum, VisitMap &visit_map, FormMap &form_map,
                    const char *search, const Region *regions, int region_count, int page, int red,
                    int green, int blue, FormTally &tally) {
    FormPass fp{doc,  visit_map, form_map, search, regions, region_count,
                page, red,       green,    blue,   tally,   {}};
    fp.pending.push_back({objnum, false});
    return examine_pending(fp);
}

int redact_page_forms(const Doc &doc, const ObjEntry &page_obj, int page, VisitMap &visit_map,
                      FormMap &form_map, const char *search, const Region *regions,
                      int region_count, int red, int green, int blue, FormTally &tally) {
    FormPass fp{doc,  visit_map, form_map, search, regions, region_count,
                page, red,       green,    blue,   tally,   {}};

    // The resources of the page, or else of the nearest node above it that
    // has any. A node met before in this call ends the climb: what it leads
    // to has been walked.
    const ObjEntry *node = &page_obj;
    for (int hop = 0; hop < kMaxResourceHops && node != nullptr; ++hop) {
        if (!first_time(visit_map, node->num, kResourcesLookedUp) || push_resource_forms(fp, *node))
            break;
        const DictRange r = obj_dict_range(doc, *node);
        int32_t cursor = 0;
        int32_t at = dict_next_value(r, "Parent", &cursor);
        const int32_t parent = at >= 0 ? parse_int_at(r.bytes, r.end, &at) : 0;
        node = parent > 0 ? doc_find_obj(doc, parent) : nullptr;
    }
    if (examine_pending(fp) < 0) return -1;

    std::vector<int32_t> annots;
    append_annot_refs(doc, page_obj, &visit_map, annots);
    for (int32_t annot : annots) {
        push_annotation(fp, annot);
        if (examine_pending(fp) < 0) return -1;
    }
    return 1;
}
