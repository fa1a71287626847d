// Form XObject and appearance redaction: the forms a page's resources name,
// the appearance streams of its annotations, and the forms nested in them,
// each redacted at most once per call.
#include "forms.h"

#include <cstdio>
#include <utility>

#include "api.h"
#include "content.h"
#include "filters.h"
#include "redact.h"

namespace {

constexpr int kMaxFormDepth = 16;     // forms nested deeper are left alone
constexpr int kMaxResourceHops = 64;  // the page and 63 ancestors

// The arguments that stay the same for every form of one page.
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
};

// One top-level entry of a dictionary: the key (without its slash) and the
// offset where its value starts.
struct DictEntry {
    const unsigned char *key = nullptr;
    int32_t key_len = 0;
    int32_t value = 0;
};

// Reads the next top-level entry of the dictionary whose inside runs from
// *pos to `close` (its closing ">>"), moving *pos past the value. Values are
// stepped over whole, so keys of nested dictionaries are never returned.
bool next_dict_entry(const unsigned char *bytes, int32_t close, int32_t *pos, DictEntry &out) {
    int32_t p = *pos;
    for (;;) {
        p = skip_pdf_ws(bytes, close, p);
        if (p >= close) return false;
        if (bytes[p] == '/') break;
        const int32_t next = skip_pdf_value(bytes, close, p);  // a stray token
        if (next < 0) return false;
        p = next > p ? next : p + 1;
    }
    int32_t key_end = p + 1;
    while (key_end < close && !is_space_char(bytes[key_end]) && !is_delimiter(bytes[key_end]))
        ++key_end;
    const int32_t value_end = skip_pdf_value(bytes, close, key_end);
    if (value_end < 0) return false;
    out.key = bytes + p + 1;
    out.key_len = key_end - (p + 1);
    out.value = skip_pdf_ws(bytes, close, key_end);
    *pos = value_end;
    return true;
}

// The inside of the dictionary whose "<<" is at `open`: *from just past the
// "<<", the result its closing ">>" (or -1).
int32_t dict_inside(const unsigned char *bytes, int32_t end, int32_t open, int32_t *from) {
    if (open < 0 || static_cast<int64_t>(open) + 1 >= end || bytes[open] != '<' ||
        bytes[open + 1] != '<')
        return -1;
    *from = open + 2;
    return rd_dict_close(bytes, end, open, end);
}

// Appends every reference from `pos` up to `end` (or an unmatched "]").
int32_t append_refs(const unsigned char *bytes, int32_t end, int32_t pos,
                    std::vector<int32_t> &out) {
    int32_t added = 0;
    for (int32_t num = next_array_ref(bytes, end, &pos); num > 0;
         num = next_array_ref(bytes, end, &pos)) {
        out.push_back(num);
        ++added;
    }
    return added;
}

int redact_form(const FormPass &fp, int32_t objnum, int depth, bool appearance);

// Redacts every form of a resource dictionary at `depth`.
int redact_resource_forms(const FormPass &fp, int32_t res_obj, const unsigned char *text,
                          int32_t text_end, int32_t dict_pos, int depth) {
    std::vector<int32_t> forms;
    collect_xobjects(fp.doc, res_obj, text, text_end, dict_pos, forms);
    for (int32_t num : forms)
        if (redact_form(fp, num, depth, false) < 0) return -1;
    return 1;
}

// Decodes and redacts the content of form `entry`, keeping the result in the
// FormMap when a box was painted. The decoded copy is released before the
// nested forms are visited.
int redact_form_content(const FormPass &fp, const ObjEntry &entry) {
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
    // An empty entry would let the writer keep the unredacted stream.
    if (!content.data) {
        set_error("out of memory decoding %s", label);
        return -1;
    }
    fp.tally.changed = 1;
    fp.form_map[static_cast<size_t>(entry.num)] = std::move(content);
    return 1;
}

// `appearance`: the stream was reached through an annotation's /AP, where
// /Subtype /Form is often left out, so only an image is passed over.
int redact_form(const FormPass &fp, int32_t objnum, int depth, bool appearance) {
    const Doc &doc = fp.doc;
    if (objnum <= 0 || depth < 0 || depth > kMaxFormDepth || objnum > doc.max_obj_num) return 1;
    const auto index = static_cast<size_t>(objnum);
    if (index >= fp.visit_map.size() || index >= fp.form_map.size() || fp.visit_map[index])
        return 1;
    const ObjEntry *entry = doc_find_obj(doc, objnum);
    if (entry == nullptr || !entry->has_stream || entry->dict_pos < 0) return 1;
    fp.visit_map[index] = 1;
    if (appearance ? obj_name_is(doc, *entry, "Subtype", "Image") != 0
                   : obj_name_is(doc, *entry, "Subtype", "Form") == 0)
        return 1;

    if (redact_form_content(fp, *entry) < 0) return -1;

    int32_t res_obj = 0, text_end = 0, dict_pos = 0;
    const unsigned char *text = nullptr;
    if (!obj_resources(doc, *entry, &res_obj, &text, &text_end, &dict_pos)) return 1;
    return redact_resource_forms(fp, res_obj, text, text_end, dict_pos, depth + 1);
}

// Redacts every stream that the appearance-state dictionary [from, close)
// names.
int redact_state_dict(const FormPass &fp, const unsigned char *bytes, int32_t from, int32_t close) {
    DictEntry e;
    int32_t pos = from;
    while (next_dict_entry(bytes, close, &pos, e)) {
        int32_t at = e.value;
        const int32_t num = ref_at(bytes, close, &at);
        if (num > 0 && redact_form(fp, num, 0, true) < 0) return -1;
    }
    return 1;
}

// One value of /N, /R or /D: a stream, or a dictionary of appearance states
// (inline or an object of its own).
int redact_appearance(const FormPass &fp, const unsigned char *bytes, int32_t close,
                      int32_t value) {
    int32_t from = 0;
    if (value < close && bytes[value] == '<') {
        const int32_t inner = dict_inside(bytes, close, value, &from);
        return inner < 0 ? 1 : redact_state_dict(fp, bytes, from, inner);
    }
    const int32_t num = ref_at(bytes, close, &value);
    if (num <= 0) return 1;
    const ObjEntry *target = doc_find_obj(fp.doc, num);
    if (target == nullptr) return 1;
    if (target->has_stream) return redact_form(fp, num, 0, true);
    const DictRange r = obj_dict_range(fp.doc, *target);
    if (r.bytes == nullptr) return 1;
    const int32_t inner = dict_inside(r.bytes, r.end, skip_pdf_ws(r.bytes, r.end, r.start), &from);
    return inner < 0 ? 1 : redact_state_dict(fp, r.bytes, from, inner);
}

// The appearance streams of annotation `annot`: /N, /R and /D of its /AP.
int redact_annotation(const FormPass &fp, int32_t annot) {
    const ObjEntry *entry = doc_find_obj(fp.doc, annot);
    if (entry == nullptr) return 1;
    const DictRange r = obj_dict_range(fp.doc, *entry);
    if (r.bytes == nullptr) return 1;
    const int32_t key = find_name(r.bytes, r.end, r.start, r.end, "AP");
    if (key < 0) return 1;
    int32_t p = skip_pdf_ws(r.bytes, r.end, key + 3);  // find_name keeps "/AP" inside the range

    // /AP is an inline dictionary or a reference to a dictionary object.
    const unsigned char *bytes = r.bytes;
    int32_t end = r.end;
    if (p < end && is_digit(bytes[p])) {
        const int32_t num = ref_at(bytes, end, &p);
        const ObjEntry *ap = num > 0 ? doc_find_obj(fp.doc, num) : nullptr;
        if (ap == nullptr || ap->has_stream) return 1;
        const DictRange ar = obj_dict_range(fp.doc, *ap);
        if (ar.bytes == nullptr) return 1;
        bytes = ar.bytes;
        end = ar.end;
        p = skip_pdf_ws(bytes, end, ar.start);
    }
    int32_t from = 0;
    const int32_t close = dict_inside(bytes, end, p, &from);
    if (close < 0) return 1;
    DictEntry e;
    while (next_dict_entry(bytes, close, &from, e)) {
        if (e.key_len != 1 || (e.key[0] != 'N' && e.key[0] != 'R' && e.key[0] != 'D')) continue;
        if (redact_appearance(fp, bytes, close, e.value) < 0) return -1;
    }
    return 1;
}

}  // namespace

int32_t collect_xobjects(const Doc &doc, int32_t res_obj, const unsigned char *text,
                         int32_t text_end, int32_t dict_pos, std::vector<int32_t> &out) {
    // The resource dictionary: an object of its own, or inline in `text`.
    const unsigned char *bytes = text;
    int32_t start = dict_pos, end = text_end;
    if (res_obj > 0) {
        const ObjEntry *entry = doc_find_obj(doc, res_obj);
        if (entry == nullptr) return 0;
        const DictRange r = obj_dict_range(doc, *entry);
        bytes = r.bytes;
        start = r.start;
        end = r.end;
    }
    if (bytes == nullptr || start < 0 || start >= end) return 0;
    // Only the resource dictionary itself is searched, not what follows it.
    const int32_t res_close = rd_dict_close(bytes, end, start, end);
    const int32_t limit = res_close >= 0 ? res_close : end;
    const int32_t key = find_name(bytes, limit, start, limit, "XObject");
    if (key < 0) return 0;
    int32_t p = skip_pdf_ws(bytes, limit, key + 8);

    // /XObject may itself be a reference to a dictionary object.
    if (p < limit && is_digit(bytes[p])) {
        const int32_t num = parse_int_at(bytes, limit, &p);
        const ObjEntry *entry = num > 0 ? doc_find_obj(doc, num) : nullptr;
        if (entry == nullptr) return 0;
        const DictRange r = obj_dict_range(doc, *entry);
        if (r.bytes == nullptr) return 0;
        bytes = r.bytes;
        end = r.end;
        p = skip_pdf_ws(bytes, end, r.start);
    } else {
        end = limit;
    }
    int32_t from = 0;
    const int32_t close = dict_inside(bytes, end, p, &from);
    if (close < 0) return 0;
    return append_refs(bytes, close, from, out);
}

int32_t collect_refs_in_array(const Doc &doc, const ObjEntry &obj, std::vector<int32_t> &out) {
    const DictRange r = obj_dict_range(doc, obj);
    if (r.bytes == nullptr) return 0;
    const int32_t key = find_name(r.bytes, r.end, r.start, r.end, "Annots");
    if (key < 0) return 0;
    int32_t p = skip_pdf_ws(r.bytes, r.end, key + 7);
    if (p >= r.end) return 0;
    const unsigned char *bytes = r.bytes;
    int32_t end = r.end;
    if (bytes[p] == '[') {
        ++p;
    } else {
        // A reference to an array object.
        const int32_t num = ref_at(bytes, end, &p);
        const ObjEntry *array = num > 0 ? doc_find_obj(doc, num) : nullptr;
        if (array == nullptr) return 0;
        p = obj_array_start(doc, *array, &bytes, &end);
        if (p < 0) return 0;
    }
    return append_refs(bytes, end, p, out);
}

int redact_form_obj(const Doc &doc, int32_t objnum, int depth, VisitMap &visit_map,
                    FormMap &form_map, const char *search, const Region *regions, int region_count,
                    int page, int red, int green, int blue, FormTally &tally) {
    const FormPass fp{doc,  visit_map, form_map, search, regions, region_count,
                      page, red,       green,    blue,   tally};
    return redact_form(fp, objnum, depth, false);
}

int redact_page_forms(const Doc &doc, const ObjEntry &page_obj, int page, VisitMap &visit_map,
                      FormMap &form_map, const char *search, const Region *regions,
                      int region_count, int red, int green, int blue, FormTally &tally) {
    const FormPass fp{doc,  visit_map, form_map, search, regions, region_count,
                      page, red,       green,    blue,   tally};

    // The first /Resources up the /Parent chain.
    const ObjEntry *node = &page_obj;
    for (int hop = 0; hop < kMaxResourceHops && node != nullptr; ++hop) {
        int32_t res_obj = 0, text_end = 0, dict_pos = 0;
        const unsigned char *text = nullptr;
        if (obj_resources(doc, *node, &res_obj, &text, &text_end, &dict_pos)) {
            if (redact_resource_forms(fp, res_obj, text, text_end, dict_pos, 0) < 0) return -1;
            break;
        }
        const int32_t parent = obj_ref_value(doc, *node, "Parent");
        node = parent > 0 ? doc_find_obj(doc, parent) : nullptr;
    }

    std::vector<int32_t> annots;
    collect_refs_in_array(doc, page_obj, annots);
    for (int32_t annot : annots)
        if (redact_annotation(fp, annot) < 0) return -1;
    return 1;
}
