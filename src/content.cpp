// Page content assembly: a page's /Contents decoded and joined, and the
// /Resources entry of a dictionary.
#include "content.h"

#include <cstdio>
#include <cstring>

#include "api.h"
#include "filters.h"

namespace {

// Skips PDF whitespace from a 64-bit offset that may lie at or past `end`.
int32_t skip_ws_from(const unsigned char *bytes, int32_t end, int64_t pos) {
    if (pos >= end) return end;
    return skip_pdf_ws(bytes, end, static_cast<int32_t>(pos));
}

// Decodes stream `entry` and appends its bytes to `out`, then `separator`
// when one is given. Returns -1 when the stream cannot be decoded.
int append_stream(const Doc &doc, const ObjEntry &entry, Buf &scratch, Buf &out,
                  const char *separator, const char *label, int32_t *failed) {
    int32_t len = 0;
    const unsigned char *bytes =
        decode_stream_obj(entry, doc.data.data(), doc_file_len(doc), scratch, &len, label, failed);
    if (*failed) return -1;
    if (bytes == nullptr || len <= 0) return 0;
    buf_append(out, bytes, static_cast<uint64_t>(len));
    if (separator != nullptr) buf_str(out, separator);
    if (!out.data) {  // a page with part of its content missing must not be rewritten
        set_error("out of memory decoding %s", label);
        *failed = 1;
        return -1;
    }
    // Each stream is copied on at once, so the scratch never has to hold more
    // than one of them.
    scratch.len = 0;
    return 0;
}

// Decodes every stream that the array elements from `pos` name, each one
// followed by "\n", and records their numbers.
int append_array(const Doc &doc, const unsigned char *bytes, int32_t end, int32_t pos, Buf &scratch,
                 Buf &out, std::vector<int32_t> &content_objs, const char *label, int32_t *failed) {
    for (int32_t num = next_array_ref(bytes, end, &pos); num > 0;
         num = next_array_ref(bytes, end, &pos)) {
        content_objs.push_back(num);
        const ObjEntry *entry = doc_find_obj(doc, num);
        if (entry != nullptr && append_stream(doc, *entry, scratch, out, "\n", label, failed) < 0)
            return -1;
    }
    return 0;
}

}  // namespace

int32_t doc_file_len(const Doc &doc) {
    if (doc.size < 0) return 0;
    if (static_cast<uint64_t>(doc.size) > doc.data.size())
        return static_cast<int32_t>(doc.data.size());
    return doc.size;
}

int32_t obj_array_start(const Doc &doc, const ObjEntry &entry, const unsigned char **bytes,
                        int32_t *end) {
    *bytes = nullptr;
    *end = 0;
    const unsigned char *b = nullptr;
    int32_t start = 0, stop = 0;
    if (entry.compressed) {
        if (entry.text == nullptr || entry.text_len <= 0) return -1;
        b = entry.text;
        stop = entry.text_len;
    } else {
        // A dictionary or a stream is no array; otherwise the value follows
        // the "obj" keyword of the header.
        if (entry.dict_pos >= 0 || entry.has_stream) return -1;
        const int32_t size = doc_file_len(doc);
        b = doc.data.data();
        stop = entry.endobj_pos > 0 && entry.endobj_pos <= size ? entry.endobj_pos : size;
        const int32_t kw = find_kw(b, stop, entry.obj_start, "obj");
        if (kw < 0) return -1;
        start = kw + 3;
    }
    const int32_t p = skip_pdf_ws(b, stop, start);
    if (p >= stop || b[p] != '[') return -1;
    *bytes = b;
    *end = stop;
    return p + 1;
}

int32_t ref_at(const unsigned char *bytes, int32_t end, int32_t *pos) {
    int32_t p = *pos;
    if (p < 0 || p >= end || !is_digit(bytes[p])) return 0;
    const int32_t num = parse_int_at(bytes, end, &p);
    p = skip_pdf_ws(bytes, end, p);
    if (p < end && is_digit(bytes[p])) {
        (void)parse_int_at(bytes, end, &p);
        p = skip_pdf_ws(bytes, end, p);
    }
    if (num <= 0 || p >= end || bytes[p] != 'R') return 0;
    *pos = p + 1;
    return num;
}

int32_t next_array_ref(const unsigned char *bytes, int32_t end, int32_t *pos) {
    int32_t p = *pos;
    while (p < end) {
        const unsigned char c = bytes[p];
        if (c == ']') break;
        if (c == '(' || c == '<' || c == '[') {
            const int32_t next = skip_pdf_value(bytes, end, p);
            if (next < 0) break;  // never closed: nothing more to read
            p = next;
            continue;
        }
        if (c == '/') {  // a name: its digits are no reference
            ++p;
            while (p < end && !is_space_char(bytes[p]) && !is_delimiter(bytes[p])) ++p;
            continue;
        }
        if (!is_digit(c)) {
            ++p;
            continue;
        }
        int32_t q = p;
        const int32_t num = ref_at(bytes, end, &q);
        if (num > 0) {
            *pos = q;
            return num;
        }
        (void)parse_int_at(bytes, end, &p);  // a plain number: go on right after it
    }
    *pos = p;
    return 0;
}

int get_page_content(const Doc &doc, const ObjEntry &page, Buf &out,
                     std::vector<int32_t> &content_objs, int page_num, int32_t *failed) {
    content_objs.clear();
    *failed = 0;
    char label[64];
    std::snprintf(label, sizeof label, "the page %d content stream", page_num);
    const DictRange r = obj_dict_range(doc, page);
    if (r.bytes == nullptr) return 0;
    const int32_t key = find_name(r.bytes, r.end, r.start, r.end, "Contents");
    if (key < 0) return 0;
    int32_t p = skip_ws_from(r.bytes, r.end, static_cast<int64_t>(key) + 9);
    if (p >= r.end) return 0;

    Buf scratch;
    if (r.bytes[p] == '[') {
        if (append_array(doc, r.bytes, r.end, p + 1, scratch, out, content_objs, label, failed) < 0)
            return -1;
    } else if (is_digit(r.bytes[p])) {
        const int32_t num = parse_int_at(r.bytes, r.end, &p);
        if (num <= 0) return 0;
        content_objs.push_back(num);
        const ObjEntry *entry = doc_find_obj(doc, num);
        if (entry == nullptr) return 0;
        const unsigned char *array = nullptr;
        int32_t array_end = 0;
        const int32_t open = obj_array_start(doc, *entry, &array, &array_end);
        if (open >= 0) {
            // A reference to an array object: its streams as for a direct array.
            if (append_array(doc, array, array_end, open, scratch, out, content_objs, label,
                             failed) < 0)
                return -1;
        } else if (append_stream(doc, *entry, scratch, out, nullptr, label, failed) < 0) {
            return -1;
        }
    }
    return out.data && out.len > 0 ? 1 : 0;
}

int obj_resources(const Doc &doc, const ObjEntry &entry, int32_t *res_obj,
                  const unsigned char **text, int32_t *text_end, int32_t *dict_pos) {
    *res_obj = 0;
    *text = nullptr;
    const DictRange r = obj_dict_range(doc, entry);
    if (r.bytes == nullptr) return 0;
    const int32_t key = find_name(r.bytes, r.end, r.start, r.end, "Resources");
    if (key < 0) return 0;
    int32_t p = skip_ws_from(r.bytes, r.end, static_cast<int64_t>(key) + 10);
    if (p >= r.end) return 0;
    if (r.bytes[p] == '<' && static_cast<int64_t>(p) + 1 < r.end && r.bytes[p + 1] == '<') {
        *text = r.bytes;
        *text_end = r.end;
        *dict_pos = p;
        return 1;
    }
    if (!is_digit(r.bytes[p])) return 0;
    const int32_t num = parse_int_at(r.bytes, r.end, &p);
    if (num <= 0) return 0;
    *res_obj = num;
    return 1;
}
