// Annotation appearances and /Annots arrays: the scanners that list the
// annotations of a page and the appearance streams they show.
//
// The VisitMap marks every dictionary walked, so a call does the same work
// however often an annotation, an /Annots array or an appearance dictionary
// is referenced.
#include "forms.h"

#include <algorithm>

#include "content.h"

namespace {

// The roles in which the VisitMap records an object.
constexpr uint16_t kAnnotation = 32;       // an annotation whose appearances were followed
constexpr uint16_t kAnnotsArray = 64;      // walked as an /Annots array
constexpr uint16_t kAppearanceDict = 128;  // walked as an /AP dictionary
constexpr uint16_t kStateDict = 256;       // walked as a dictionary of appearance states

// Records `role` for object `num`: true the first time, false when it was
// recorded before or the number lies outside the map.
bool first_time(VisitMap *visit, int32_t num, uint16_t role) {
    if (visit == nullptr) return true;
    if (num <= 0 || static_cast<size_t>(num) >= visit->size()) return false;
    uint16_t &bits = (*visit)[static_cast<size_t>(num)];
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
        if (array_obj > 0 && !first_time(visit, array_obj, kAnnotsArray)) continue;
        append_refs(bytes, end, from, out);
    }
}

// Appends every stream that a dictionary of appearance states names.
void append_state_streams(const DictRange &states, std::vector<int32_t> &out) {
    int32_t pos = dict_range_entries(states);
    DictEntry e;
    while (pos >= 0 && dict_next_entry(states.bytes, states.end, &pos, &e)) {
        int32_t at = skip_pdf_ws(states.bytes, states.end, e.key_end);
        const int32_t num = ref_at(states.bytes, states.end, &at);
        if (num > 0) out.push_back(num);
    }
}

// Appends what one /N, /R or /D value at `value` names: a stream, or the
// streams of a dictionary of appearance states, inline or an object.
void append_appearance(const Doc &doc, VisitMap &visit, const DictRange &ap, int32_t value,
                       std::vector<int32_t> &out) {
    if (ap.bytes[value] == '<') {
        append_state_streams(DictRange{ap.bytes, value, ap.end}, out);
        return;
    }
    const int32_t num = ref_at(ap.bytes, ap.end, &value);
    const ObjEntry *target = num > 0 ? doc_find_obj(doc, num) : nullptr;
    if (target == nullptr) return;
    if (target->has_stream)
        out.push_back(num);
    else if (first_time(&visit, num, kStateDict))
        append_state_streams(obj_dict_range(doc, *target), out);
}

// Appends the appearance streams of annotation `annot`: /N, /R and /D of every
// /AP entry, inline or an object of its own, in their order.
void append_annotation(const Doc &doc, VisitMap &visit, int32_t annot, std::vector<int32_t> &out) {
    if (!first_time(&visit, annot, kAnnotation)) return;
    const ObjEntry *entry = doc_find_obj(doc, annot);
    if (entry == nullptr) return;
    const DictRange r = obj_dict_range(doc, *entry);
    int32_t cursor = 0, p = 0;
    while ((p = dict_next_value(r, "AP", &cursor)) >= 0) {
        DictRange ap{r.bytes, p, r.end};
        if (is_digit(r.bytes[p])) {
            int32_t at = p;
            const int32_t num = ref_at(r.bytes, r.end, &at);
            const ObjEntry *obj = num > 0 ? doc_find_obj(doc, num) : nullptr;
            if (obj == nullptr || obj->has_stream || !first_time(&visit, num, kAppearanceDict))
                continue;
            ap = obj_dict_range(doc, *obj);
        }
        int32_t pos = dict_range_entries(ap);
        DictEntry e;
        while (pos >= 0 && dict_next_entry(ap.bytes, ap.end, &pos, &e)) {
            if (!dict_entry_is(ap.bytes, e, "N") && !dict_entry_is(ap.bytes, e, "R") &&
                !dict_entry_is(ap.bytes, e, "D"))
                continue;
            const int32_t value = skip_pdf_ws(ap.bytes, ap.end, e.key_end);
            if (value < ap.end) append_appearance(doc, visit, ap, value, out);
        }
    }
}

}  // namespace

int32_t collect_refs_in_array(const Doc &doc, const ObjEntry &obj, std::vector<int32_t> &out) {
    const size_t before = out.size();
    append_annot_refs(doc, obj, nullptr, out);
    return static_cast<int32_t>(out.size() - before);
}

void collect_page_appearances(const Doc &doc, const ObjEntry &page_obj, VisitMap &visit_map,
                              std::vector<int32_t> &out) {
    std::vector<int32_t> annots;
    append_annot_refs(doc, page_obj, &visit_map, annots);
    for (const int32_t annot : annots) append_annotation(doc, visit_map, annot, out);
}
