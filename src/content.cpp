// Page content assembly: a page's /Contents decoded and joined, and the
// /Resources entry of a dictionary.
#include "content.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "api.h"
#include "filters.h"

namespace {

// One page's content being joined: where it goes, what names it in messages,
// and the scratch buffer that every stream is decoded into.
struct Joiner {
    const Doc &doc;
    Buf &out;
    std::vector<int32_t> &content_objs;
    const char *label;
    int32_t *failed;
    int64_t max_len;
    Buf scratch;
};

// Appends `count` bytes to the joined content. False with g_err set when the
// content would grow past its limit or memory runs out: a page with part of
// its content missing must not be rewritten.
bool join(Joiner &j, const void *bytes, uint64_t count) {
    if (j.max_len >= 0 && j.out.len + count <= static_cast<uint64_t>(j.max_len)) {
        buf_append(j.out, bytes, count);
        if (j.out.data) return true;
    }
    set_error("out of memory decoding %s", j.label);
    *j.failed = 1;
    return false;
}

// Decodes stream `entry` and appends its bytes, then "\n" when `separate`.
// Returns -1 when the stream cannot be decoded or joined.
int append_stream(Joiner &j, const ObjEntry &entry, bool separate) {
    int32_t len = 0;
    const unsigned char *bytes = decode_stream_obj(entry, j.doc.data.data(), doc_file_len(j.doc),
                                                   j.scratch, &len, j.label, j.failed);
    if (*j.failed) return -1;
    if (bytes == nullptr || len <= 0) return 0;
    // A page of one decoded stream takes the decoded block itself, uncopied.
    if (!separate && j.out.len == 0 && j.scratch.data && bytes == j.scratch.data.get() &&
        j.scratch.len == static_cast<uint64_t>(len) && static_cast<uint64_t>(len) <= static_cast<uint64_t>(j.max_len)) {
        std::swap(j.out, j.scratch);
        return 0;
    }
    if (!join(j, bytes, static_cast<uint64_t>(len)) || (separate && !join(j, "\n", 1))) return -1;
    // Each stream is copied on at once, so the scratch never has to hold more
    // than one of them.
    j.scratch.len = 0;
    return 0;
}

// Decodes every stream that the array elements from `pos` name, each one
// followed by "\n", and records their numbers.
int append_array(Joiner &j, const unsigned char *bytes, int32_t end, int32_t pos) {
    for (int32_t num = next_array_ref(bytes, end, &pos); num > 0;
         num = next_array_ref(bytes, end, &pos)) {
        const ObjEntry *entry = doc_find_obj(j.doc, num);
        if (entry == nullptr || !entry->has_stream) continue;
        j.content_objs.push_back(num);
        if (append_stream(j, *entry, true) < 0) return -1;
    }
    return 0;
}

// Appends what one /Contents value at `p` names: an array of streams, or a
// reference to a stream or to an array object.
int append_contents_value(Joiner &j, const DictRange &r, int32_t p) {
    if (r.bytes[p] == '[') return append_array(j, r.bytes, r.end, p + 1);
    if (!is_digit(r.bytes[p])) return 0;
    const int32_t num = parse_int_at(r.bytes, r.end, &p);
    const ObjEntry *entry = num > 0 ? doc_find_obj(j.doc, num) : nullptr;
    if (entry == nullptr) return 0;
    const unsigned char *array = nullptr;
    int32_t array_end = 0;
    const int32_t open = obj_array_start(j.doc, *entry, &array, &array_end);
    if (open < 0 && !entry->has_stream) return 0;
    j.content_objs.push_back(num);
    if (open >= 0) return append_array(j, array, array_end, open);
    return append_stream(j, *entry, false);
}

}  // namespace

void buf_shrink_to_fit(Buf &buf) {
    if (!buf.data || buf.cap <= buf.len + 1) return;
    void *smaller = std::realloc(buf.data.get(), buf.len + 1);
    if (smaller == nullptr) return;
    (void)buf.data.release();
    buf.data.reset(static_cast<unsigned char *>(smaller));
    buf.cap = buf.len + 1;
}

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
                     std::vector<int32_t> &content_objs, int page_num, int32_t *failed,
                     int64_t max_len) {
    content_objs.clear();
    *failed = 0;
    char label[64];
    std::snprintf(label, sizeof label, "the page %d content stream", page_num);
    Joiner j{doc, out, content_objs, label, failed, max_len, Buf{}};
    const DictRange r = obj_dict_range(doc, page);
    int32_t cursor = 0, p = 0;
    while ((p = dict_next_value(r, "Contents", &cursor)) >= 0) {
        // A repeated /Contents key starts on a line of its own.
        if (out.len > 0 && out.data[out.len - 1] != '\n' && !join(j, "\n", 1)) return -1;
        if (append_contents_value(j, r, p) < 0) return -1;
    }
    return out.data && out.len > 0 ? 1 : 0;
}

int obj_resources(const Doc &doc, const ObjEntry &entry, int32_t *res_obj,
                  const unsigned char **text, int32_t *text_end, int32_t *dict_pos,
                  int32_t *cursor) {
    *res_obj = 0;
    *text = nullptr;
    int32_t first = 0;
    if (cursor == nullptr) cursor = &first;
    const DictRange r = obj_dict_range(doc, entry);
    int32_t p = 0;
    while ((p = dict_next_value(r, "Resources", cursor)) >= 0) {
        if (r.bytes[p] == '<' && static_cast<int64_t>(p) + 1 < r.end && r.bytes[p + 1] == '<') {
            *text = r.bytes;
            *text_end = r.end;
            *dict_pos = p;
            return 1;
        }
        if (!is_digit(r.bytes[p])) continue;
        const int32_t num = parse_int_at(r.bytes, r.end, &p);
        if (num > 0) {
            *res_obj = num;
            return 1;
        }
    }
    return 0;
}

int32_t dict_range_entries(const DictRange &range) {
    if (range.bytes == nullptr || range.start < 0 || range.end <= range.start) return -1;
    const int32_t at = dict_entries_start(range.bytes + range.start, range.end - range.start);
    return at < 0 ? -1 : range.start + at;
}

int32_t dict_next_value(const DictRange &range, const char *key, int32_t *cursor) {
    if (*cursor <= 0) {
        const int32_t start = dict_range_entries(range);
        if (start < 0) return -1;
        *cursor = start;
    }
    DictEntry e;
    while (dict_next_entry(range.bytes, range.end, cursor, &e)) {
        if (!dict_entry_is(range.bytes, e, key)) continue;
        const int32_t value = skip_pdf_ws(range.bytes, range.end, e.key_end);
        if (value < range.end) return value;
    }
    return -1;
}
