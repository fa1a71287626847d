// Dictionary access helpers: questions about an object's dictionary, answered
// textually over its dictionary text, and editable copies of that text.
#include <cstring>

#include "document.h"

// The dictionary text of `entry` over the file bytes [0, size): the "<<"
// that opens its value through the matching ">>", within a member's own text
// or the file bytes up to the "stream" keyword, the "endobj" or the end of the
// file. Absent when the value is no dictionary or does not close there.
DictRange dict_range_in(const unsigned char *bytes, int32_t size, const ObjEntry &entry) {
    DictRange range;
    const unsigned char *b = nullptr;
    int32_t start = 0, end = 0;
    if (entry.compressed) {
        if (entry.text == nullptr || entry.text_len <= 0) return range;
        b = entry.text;
        end = entry.text_len;
        start = skip_pdf_ws(b, end, 0);
    } else {
        if (bytes == nullptr || entry.dict_pos < 0 || entry.dict_pos >= size) return range;
        b = bytes;
        start = entry.dict_pos;
        end = size;
        if (entry.dict_end > 0)
            end = entry.dict_end;
        else if (entry.endobj_pos > 0)
            end = entry.endobj_pos;
        if (end > size) end = size;
        if (entry.dict_close < 0) return range;
        // The loader found the close already, with the same rule.
        if (entry.dict_close > 0 && entry.dict_close <= end) {
            range.bytes = b;
            range.start = start;
            range.end = entry.dict_close;
            return range;
        }
    }
    if (static_cast<int64_t>(start) + 1 >= end || b[start] != '<' || b[start + 1] != '<')
        return range;
    const int32_t close = rd_dict_close(b, end, start, end);
    if (close < 0) return range;
    range.bytes = b;
    range.start = start;
    range.end = close + 2;
    return range;
}

namespace {

// Offset just past the /name token whose slash is at `slash`.
int64_t after_token(int32_t slash, const char *name) {
    return static_cast<int64_t>(slash) + 1 + static_cast<int64_t>(std::strlen(name));
}

// Skips PDF whitespace from a 64-bit offset that may lie at or past `end`.
int32_t skip_ws_from(const unsigned char *bytes, int32_t end, int64_t pos) {
    if (pos >= end) return end;
    return skip_pdf_ws(bytes, end, static_cast<int32_t>(pos));
}

// First offset at or after `pos` that holds a space character or a delimiter,
// or `end`: where a name that starts at `pos` stops.
int32_t name_end(const unsigned char *bytes, int32_t end, int32_t pos) {
    while (pos < end && !is_space_char(bytes[pos]) && !is_delimiter(bytes[pos])) ++pos;
    return pos;
}

DictText alloc_text(uint64_t size) {
    return DictText(static_cast<char *>(std::malloc(size)));
}

}  // namespace

const ObjEntry *doc_find_obj(const Doc &doc, int32_t num) {
    if (!doc.obj_index.empty()) {
        if (num < 0 || static_cast<size_t>(num) >= doc.obj_index.size()) return nullptr;
        const int32_t at = doc.obj_index[static_cast<size_t>(num)];
        return at < 0 ? nullptr : &doc.objs[static_cast<size_t>(at)];
    }
    for (const ObjEntry &entry : doc.objs)
        if (entry.num == num) return &entry;
    return nullptr;
}

int32_t output_gen(const Doc &doc, int32_t num) {
    const ObjEntry *entry = doc_find_obj(doc, num);
    if (entry == nullptr || entry->gen < 1 || entry->gen > 65534) return 0;
    return entry->gen;
}

DictRange obj_dict_range(const Doc &doc, const ObjEntry &entry) {
    // Never trust size beyond the bytes actually held.
    int32_t size = doc.size;
    if (size < 0) size = 0;
    if (static_cast<uint64_t>(size) > doc.data.size()) size = static_cast<int32_t>(doc.data.size());
    return dict_range_in(doc.data.empty() ? nullptr : doc.data.data(), size, entry);
}

DictText obj_dict_text(const Doc &doc, const ObjEntry &entry) {
    const DictRange r = obj_dict_range(doc, entry);
    if (r.bytes == nullptr) return nullptr;
    const int32_t stop = r.end;  // just past the closing ">>"
    const uint64_t length = static_cast<uint64_t>(stop - r.start);
    DictText text = alloc_text(4 * length + 8);
    if (!text) return nullptr;
    // A NUL byte becomes the octal escape \000 so that the copy stays one
    // NUL-terminated text.
    char *out = text.get();
    for (int32_t i = r.start; i < stop; ++i) {
        const unsigned char c = r.bytes[i];
        if (c == 0) {
            std::memcpy(out, "\\000", 4);
            out += 4;
        } else {
            *out++ = static_cast<char>(c);
        }
    }
    *out = '\0';
    return text;
}

DictText dict_append_before_close(DictText text, const char *insert) {
    if (!text || insert == nullptr) return text;
    const char *old = text.get();
    const size_t length = std::strlen(old);
    if (length < 2) return text;
    // The final ">>", past any trailing line blanks; the second byte is the
    // earliest place it can end.
    size_t last = length - 1;
    while (last >= 1 && is_line_blank(static_cast<unsigned char>(old[last]))) --last;
    if (last < 1 || old[last] != '>' || old[last - 1] != '>') return text;
    const size_t keep = last - 1;  // bytes before the final ">>"
    const size_t insert_len = std::strlen(insert);
    DictText grown = alloc_text(static_cast<uint64_t>(length) + insert_len + 8);
    if (!grown) return text;
    char *out = grown.get();
    std::memcpy(out, old, keep);
    std::memcpy(out + keep, insert, insert_len);
    std::memcpy(out + keep + insert_len, " >>", 4);  // with its NUL
    return grown;
}

int obj_has_key(const Doc &doc, const ObjEntry &entry, const char *key) {
    const DictRange r = obj_dict_range(doc, entry);
    if (r.bytes == nullptr) return 0;
    return find_name(r.bytes, r.end, r.start, r.end, key) >= 0 ? 1 : 0;
}

int obj_type(const unsigned char *bytes, int32_t size, const ObjEntry &entry) {
    const DictRange r = dict_range_in(bytes, size, entry);
    if (r.bytes == nullptr) return 0;
    const unsigned char *b = r.bytes;
    const int64_t end = r.end;
    for (int32_t slash = find_name(b, r.end, r.start, r.end, "Type"); slash >= 0;
         slash = find_name(b, r.end, slash + 1, r.end, "Type")) {
        const int64_t p = skip_ws_from(b, r.end, after_token(slash, "Type"));
        if (p + 4 >= end || b[p] != '/' || std::memcmp(b + p + 1, "Page", 4) != 0) continue;
        if (p + 5 >= end || !is_alnum(b[p + 5])) return 1;
        if (b[p + 5] == 's' && (p + 6 >= end || !is_alnum(b[p + 6]))) return 2;
    }
    return 0;
}

int obj_name_is(const Doc &doc, const ObjEntry &entry, const char *key, const char *value) {
    const DictRange r = obj_dict_range(doc, entry);
    if (r.bytes == nullptr) return 0;
    const size_t value_len = std::strlen(value);
    for (int32_t slash = find_name(r.bytes, r.end, r.start, r.end, key); slash >= 0;
         slash = find_name(r.bytes, r.end, slash + 1, r.end, key)) {
        const int32_t p = skip_ws_from(r.bytes, r.end, after_token(slash, key));
        if (p >= r.end || r.bytes[p] != '/') continue;
        const int32_t stop = name_end(r.bytes, r.end, p + 1);
        if (static_cast<size_t>(stop - (p + 1)) == value_len &&
            std::memcmp(r.bytes + p + 1, value, value_len) == 0)
            return 1;
    }
    return 0;
}

int32_t obj_ref_value(const Doc &doc, const ObjEntry &entry, const char *key) {
    const DictRange r = obj_dict_range(doc, entry);
    if (r.bytes == nullptr) return 0;
    for (int32_t slash = find_name(r.bytes, r.end, r.start, r.end, key); slash >= 0;
         slash = find_name(r.bytes, r.end, slash + 1, r.end, key)) {
        // find_name guarantees the token fits, so this stays within the range.
        int32_t p = static_cast<int32_t>(after_token(slash, key));
        const int32_t value = parse_int_at(r.bytes, r.end, &p);
        if (value > 0) return value;
    }
    return 0;
}

int32_t dict_entries_start(const unsigned char *text, int32_t end) {
    const int32_t p = skip_pdf_ws(text, end, 0);
    return (p + 1 < end && text[p] == '<' && text[p + 1] == '<') ? p + 2 : -1;
}

bool dict_next_entry(const unsigned char *text, int32_t end, int32_t *pos, DictEntry *entry) {
    // Each value is stepped over whole, so that keys of nested dictionaries
    // and names inside strings or arrays are never taken for entries.
    for (int32_t p = *pos;;) {
        p = skip_pdf_ws(text, end, p);
        if (p >= end || (text[p] == '>' && p + 1 < end && text[p + 1] == '>')) return false;
        if (text[p] == '%') {  // a comment runs to the end of its line
            p = comment_end(text, end, p);
            continue;
        }
        if (text[p] != '/') {  // a stray token where a key should stand
            const int32_t next = skip_pdf_value(text, end, p);
            if (next < 0) return false;
            p = next > p ? next : p + 1;
            continue;
        }
        const int32_t key_end = name_end(text, end, p + 1);
        const int32_t value_end = skip_pdf_value(text, end, key_end);
        if (value_end < 0) return false;  // no value, or one that is never closed
        *entry = {p, key_end, value_end};
        *pos = value_end > key_end ? value_end : key_end;
        return true;
    }
}

bool dict_entry_is(const unsigned char *text, const DictEntry &entry, const char *key) {
    const size_t len = std::strlen(key);
    return static_cast<size_t>(entry.key_end - entry.key - 1) == len &&
           std::memcmp(text + entry.key + 1, key, len) == 0;
}

namespace {

// The length of a NUL-terminated text as an offset, or -1 beyond 2^31.
int32_t text_end(const char *text) {
    const size_t total = std::strlen(text);
    return total > static_cast<size_t>(INT32_MAX) ? -1 : static_cast<int32_t>(total);
}

// Removes the top-level /key entries of `text`, the first only or all of
// them, in one pass. Returns true when something was removed.
bool strip_entries(char *text, const char *key, bool all) {
    if (text == nullptr || key == nullptr) return false;
    const int32_t end = text_end(text);
    if (end < 0) return false;
    auto *b = reinterpret_cast<unsigned char *>(text);
    int32_t pos = dict_entries_start(b, end);
    if (pos < 0) return false;
    int32_t kept = pos;  // the text before `kept` is final
    int32_t read = pos;  // the bytes from `read` on are still to be moved
    DictEntry e;
    while (dict_next_entry(b, end, &pos, &e)) {
        if (!dict_entry_is(b, e, key)) continue;
        int32_t from = e.key;
        if (from > read && (b[from - 1] == ' ' || b[from - 1] == '\t')) --from;
        std::memmove(b + kept, b + read, static_cast<size_t>(from - read));
        kept += from - read;
        read = e.value_end;
        if (!all) break;
    }
    if (read == kept) return false;
    std::memmove(b + kept, b + read, static_cast<size_t>(end - read) + 1);
    return true;
}

}  // namespace

bool dict_find_entry(const char *text, const char *key, int32_t *from, int32_t *to) {
    if (text == nullptr || key == nullptr) return false;
    const int32_t end = text_end(text);
    if (end < 0) return false;
    const auto *b = reinterpret_cast<const unsigned char *>(text);
    int32_t pos = dict_entries_start(b, end);
    if (pos < 0) return false;
    DictEntry e;
    while (dict_next_entry(b, end, &pos, &e)) {
        if (!dict_entry_is(b, e, key)) continue;
        *from = skip_pdf_ws(b, end, e.key_end);
        *to = e.value_end;
        return true;
    }
    return false;
}

bool strip_dict_entries(char *text, const char *key) { return strip_entries(text, key, true); }

void strip_dict_entry(char *text, const char *key) { strip_entries(text, key, false); }
