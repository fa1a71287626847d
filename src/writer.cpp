// Output writer: the redacted file built whole in memory (a fixed header, the
// objects the document still uses as plain indirect objects, the new content
// streams, one classic cross-reference table and a trailer), then written
// through a temporary file that replaces the output only once it is complete.
#include "writer.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <new>
#include <string>
#include <system_error>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

#include "api.h"
#include "content.h"
#include "lexer.h"

namespace {

// "%PDF-1.4", then a comment of four bytes above 127 that marks the file as
// binary for transfer programs.
constexpr char kHeader[] = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
constexpr uint64_t kHeaderLen = sizeof kHeader - 1;  // 15 bytes
// Copied stream data looks binary when a byte of its head, or of its tail on
// longer data, is a control character other than white space. Bytes above
// 127 are text: UTF-8 and the single-byte encodings.
constexpr int32_t kBinaryHead = 4096;
constexpr int32_t kBinaryTail = 512;
// Temporary names tried beside the output before giving up.
constexpr int kTempTries = 64;
// The longest body read as a /Length integer; the header line before it is
// allowed 16 bytes more.
constexpr int32_t kIntegerBody = 64;
constexpr const char *kOutOfMemory = "out of memory building the output file";
constexpr const char *kTooLarge =
    "the output file would exceed 2 GiB, which this engine cannot write";
constexpr unsigned char kNullBody[] = "null";

// ---- Tokens -------------------------------------------------------------------
//
// Just enough of the tokens to find "n g R" references and "n g obj" headers:
// comments count as white space, strings and names are stepped over whole, so
// that nothing inside them is taken for a token. A "<" is a hex string only
// when hex digits and blanks lead to its ">"; any other "<" stands alone, so
// that the references after it in a damaged dictionary, which the loader
// still reads, are found.

enum TokenKind { kTokEnd, kTokInt, kTokR, kTokObj, kTokOther };

struct RefToken {
    TokenKind kind;
    int32_t start;
    int32_t value;  // kTokInt: the number, saturated
};

RefToken next_token(const unsigned char *b, int32_t end, int32_t *pos) {
    const Token t = lex_next_code(b, end, *pos, HexRule::kDigitsOnly);
    *pos = t.end;
    if (t.kind == Tok::kEnd) return {kTokEnd, end, 0};
    int64_t value = 0;
    if (t.kind == Tok::kNumber && is_digit(b[t.start]) && lex_integer(b, t, &value))
        return {kTokInt, t.start, static_cast<int32_t>(std::min<int64_t>(value, INT32_MAX))};
    if (lex_is(b, t, "R")) return {kTokR, t.start, 0};
    if (lex_is(b, t, "obj")) return {kTokObj, t.start, 0};
    return {kTokOther, t.start, 0};
}

// Appends the object number of every "n g R" in [start, end) to `refs`.
void collect_refs(const unsigned char *b, int32_t start, int32_t end, std::vector<int32_t> &refs) {
    RefToken older{kTokOther, 0, 0}, prev{kTokOther, 0, 0};
    for (int32_t pos = start;;) {
        const RefToken t = next_token(b, end, &pos);
        if (t.kind == kTokEnd) return;
        if (t.kind == kTokR && prev.kind == kTokInt && older.kind == kTokInt)
            refs.push_back(older.value);
        older = prev;
        prev = t;
    }
}

// Where the first "n g obj" header in [start, end) begins, or -1.
int32_t header_in(const unsigned char *b, int32_t start, int32_t end) {
    RefToken older{kTokOther, 0, 0}, prev{kTokOther, 0, 0};
    for (int32_t pos = start;;) {
        const RefToken t = next_token(b, end, &pos);
        if (t.kind == kTokEnd) return -1;
        if (t.kind == kTokObj && prev.kind == kTokInt && older.kind == kTokInt) return older.start;
        older = prev;
        prev = t;
    }
}

// ---- Dictionary texts ---------------------------------------------------------

// The entry's dictionary text, or "<< >>" when it has none; empty only when
// memory runs out.
DictText dict_or_empty(const Doc &doc, const ObjEntry &e) {
    DictText text;
    if (e.dict_pos >= 0) text = obj_dict_text(doc, e);
    return text ? std::move(text) : copy_text("<< >>");
}

// Inserts `insert` before the final ">>". False when the text could not grow.
bool insert_entry(DictText &text, const char *insert) {
    const char *old = text.get();
    text = dict_append_before_close(std::move(text), insert);
    return text.get() != old;
}

// ---- The writer's state ---------------------------------------------------------

struct Writer {
    const Doc &doc;
    const OutputPlan &plan;
    std::vector<unsigned char> &out;
    std::vector<UnscannedRange> &unscanned;
    const unsigned char *file;        // the input bytes
    int32_t size;                     // how many of them
    int32_t last;                     // N, the highest object number of the output
    // Per page index: the number its new content stream is written under, or
    // 0. Numbers after the input's highest that some written reference names
    // are skipped, so that a dangling reference never finds a new stream.
    std::vector<int32_t> content_num;
    std::vector<int32_t> named_above;  // numbers above the input's highest that bodies name
    std::vector<int32_t> first;       // number -> index of its first table entry, or -1
    std::vector<int32_t> page_of;     // number -> first changed page index it is, or -1
    std::vector<int32_t> node;        // number -> its index in doc.page_nodes, or -1
    std::vector<unsigned char> keep;  // number -> written to the output
    std::vector<int32_t> offsets;     // number -> output offset of its header line, or -1
    std::vector<int32_t> gens;        // number -> generation written
};

bool dropped(const Writer &w, int32_t n) {
    const DropMap *drop = w.plan.drop;
    return drop != nullptr && n <= w.doc.max_obj_num && static_cast<size_t>(n) < drop->size() &&
           (*drop)[static_cast<size_t>(n)] != 0;
}

const char *replacement(const Writer &w, int32_t n) {
    const ReplacementTexts *texts = w.plan.replacements;
    if (texts == nullptr || static_cast<size_t>(n) >= texts->size()) return nullptr;
    return (*texts)[static_cast<size_t>(n)].get();
}

const Buf *rewritten_form(const Writer &w, int32_t n) {
    const FormMap *forms = w.plan.forms;
    if (forms == nullptr || n > w.doc.max_obj_num || static_cast<size_t>(n) >= forms->size())
        return nullptr;
    const Buf &form = (*forms)[static_cast<size_t>(n)];
    return form.data ? &form : nullptr;
}

// The new stream numbered n, or nullptr.
const NewStream *new_stream(const Writer &w, int32_t n) {
    const std::vector<NewStream> *streams = w.plan.new_streams;
    if (streams == nullptr || streams->empty() || n <= w.doc.max_obj_num) return nullptr;
    // They are numbered one after another.
    const int64_t at = static_cast<int64_t>(n) - streams->front().num;
    if (at < 0 || at >= static_cast<int64_t>(streams->size())) return nullptr;
    const NewStream &s = (*streams)[static_cast<size_t>(at)];
    return s.num == n ? &s : nullptr;
}

// The new stream that input object n is written as, or nullptr.
const NewStream *alias_of(const Writer &w, int32_t n) {
    const std::vector<int32_t> *aliases = w.plan.aliases;
    if (aliases == nullptr || n <= 0 || static_cast<size_t>(n) >= aliases->size()) return nullptr;
    const int32_t to = (*aliases)[static_cast<size_t>(n)];
    return to > 0 ? new_stream(w, to) : nullptr;
}

// An input object that may be written: in the table and not left out.
bool writable(const Writer &w, int32_t n) {
    return n >= 1 && n <= w.doc.max_obj_num && w.first[static_cast<size_t>(n)] >= 0 &&
           !dropped(w, n);
}

// The table entry written for object n, which must be writable.
const ObjEntry &entry_of(const Writer &w, int32_t n) {
    return w.doc.objs[static_cast<size_t>(w.first[static_cast<size_t>(n)])];
}

// The new content stream of page index i, when its number is one of the new ones.
int32_t new_content_of(const Writer &w, int32_t i) {
    if (i < 0 || static_cast<size_t>(i) >= w.content_num.size()) return 0;
    return w.content_num[static_cast<size_t>(i)];
}

// Numbers the new content streams: each page the plan gives a new number
// gets, in page order, the next number after the input's highest that no
// written body names. N grows by the numbers skipped.
bool number_new_content(Writer &w) {
    const std::vector<int32_t> *nums = w.plan.new_content;
    std::vector<int32_t> &named = w.named_above;
    // The copies of forms and images hold their own numbers.
    if (w.plan.new_streams != nullptr)
        for (const NewStream &s : *w.plan.new_streams) named.push_back(s.num);
    std::sort(named.begin(), named.end());
    named.erase(std::unique(named.begin(), named.end()), named.end());
    int64_t next = int64_t{w.doc.max_obj_num} + 1;
    size_t skip = 0;
    int64_t last = w.doc.max_obj_num;
    const size_t count = nums == nullptr ? 0 : nums->size();
    w.content_num.assign(count, 0);
    for (size_t i = 0; i < count; ++i) {
        const int32_t c = (*nums)[i];
        if (c <= w.doc.max_obj_num || c > w.plan.last_num) continue;
        while (skip < named.size() && named[skip] < next) ++skip;
        while (skip < named.size() && named[skip] == next) {
            ++next;
            ++skip;
        }
        if (next > INT32_MAX - 16) {
            set_error("%s", kTooLarge);
            return false;
        }
        w.content_num[i] = static_cast<int32_t>(next);
        last = next++;
    }
    w.last = static_cast<int32_t>(std::max<int64_t>(last, w.last));
    const size_t slots = static_cast<size_t>(w.last) + 1;
    w.keep.resize(slots, 0);
    w.offsets.resize(slots, -1);
    w.gens.resize(slots, 0);
    return true;
}

// The bytes of a plain object's body in the file. A dictionary is copied
// through its closing ">>", as the loader reads it: bytes after it are no
// part of the object. Any other value runs to its "endobj", but never past the
// next object header, so that an object whose "endobj" is missing does not
// swallow the object after it. False when there is no body to copy.
bool plain_body(const Writer &w, const ObjEntry &e, int32_t *from, int32_t *to) {
    if (const DictRange r = dict_range_in(w.file, w.size, e); r.bytes != nullptr) {
        *from = r.start;
        *to = r.end;
        return true;
    }
    int32_t start = e.dict_pos;
    if (start < 0) {
        const int32_t kw = find_kw(w.file, w.size, e.obj_start, "obj");
        if (kw < 0) return false;
        start =
            skip_pdf_ws(w.file, w.size, static_cast<int32_t>(std::min<int64_t>(kw + 3, w.size)));
    }
    int32_t end = e.endobj_pos > 0 ? std::min(e.endobj_pos, w.size) : w.size;
    if (start >= end) return false;
    const int32_t next = header_in(w.file, start, end);
    if (next >= 0) end = next;
    if (start >= end) return false;
    *from = start;
    *to = end;
    return true;
}

// The bytes of stream data a copied stream keeps: 0 when no end was found.
int32_t stream_data_len(const Writer &w, const ObjEntry &e) {
    if (e.data_start < 0 || e.data_end < e.data_start || e.data_end > w.size) return 0;
    return e.data_end - e.data_start;
}

// The integer that object n holds as its whole body in the output, or -1.
int64_t object_integer(const Writer &w, int32_t n) {
    if (!writable(w, n) || w.page_of[static_cast<size_t>(n)] >= 0) return -1;
    const ObjEntry &e = entry_of(w, n);
    const unsigned char *b = w.file;
    int32_t from = 0, to = 0;
    // A longer body is no plain integer worth keeping: many streams may name
    // one object, and each look stays short.
    if (const char *text = replacement(w, n)) {
        b = reinterpret_cast<const unsigned char *>(text);
        to = static_cast<int32_t>(strnlen(text, kIntegerBody + 1));
    } else if (e.compressed) {
        if (e.text == nullptr) return -1;
        b = e.text;
        to = e.text_len;
    } else {
        const int64_t extent = (e.endobj_pos > 0 ? e.endobj_pos : w.size) - int64_t{e.obj_start};
        if (e.has_stream || extent > kIntegerBody + 16 || !plain_body(w, e, &from, &to)) return -1;
    }
    if (to - from > kIntegerBody) return -1;
    int32_t p = skip_pdf_ws(b, to, from);
    if (p >= to || !is_digit(b[p])) return -1;
    const int32_t value = parse_int_at(b, to, &p);
    return skip_pdf_ws(b, to, p) == to ? value : -1;
}

// True when the dictionary's /Length gives the `len` bytes of data written:
// directly, or through an object that holds exactly that integer. A repeated
// /Length must give it in every copy, since readers differ in the one they take.
bool states_length(const Writer &w, const char *dict, int32_t len) {
    const auto *b = reinterpret_cast<const unsigned char *>(dict);
    const int32_t end = static_cast<int32_t>(std::min<size_t>(std::strlen(dict), INT32_MAX));
    int32_t pos = dict_entries_start(b, end);
    bool stated = false;
    DictEntry e;
    while (pos >= 0 && dict_next_entry(b, end, &pos, &e)) {
        if (!dict_entry_is(b, e, "Length")) continue;
        int32_t p = skip_pdf_ws(b, e.value_end, e.key_end);
        const int32_t to = e.value_end;
        if (p >= to || !is_digit(b[p])) return false;
        const int32_t value = parse_int_at(b, to, &p);
        p = skip_pdf_ws(b, to, p);
        if (p == to) {
            if (value != len) return false;
        } else {
            int32_t at = skip_pdf_ws(b, to, e.key_end);
            if (ref_at(b, to, &at) != value || at != to || object_integer(w, value) != len)
                return false;
        }
        stated = true;
    }
    return stated;
}

// ---- Bodies -----------------------------------------------------------------------

enum BodyKind {
    kBodyText,    // the body, then "endobj"
    kBodyForm,    // a rewritten form: dictionary, then its new content
    kBodyStream,  // a copied stream: dictionary, then its data from the file
};

// What one object is written as: the text before "stream" or "endobj".
struct Body {
    BodyKind kind = kBodyText;
    DictText owned;                        // a text built for the output
    const unsigned char *bytes = nullptr;  // the text written
    int32_t len = 0;
};

bool fail(const char *message) {
    set_error("%s", message);
    return false;
}

bool set_text(Body &body, const unsigned char *bytes, size_t len) {
    if (len > static_cast<size_t>(INT32_MAX)) return fail(kTooLarge);
    body.bytes = bytes;
    body.len = static_cast<int32_t>(len);
    return true;
}

bool set_owned(Body &body, DictText text) {
    body.owned = std::move(text);
    const char *t = body.owned.get();
    return set_text(body, reinterpret_cast<const unsigned char *>(t), std::strlen(t));
}

// The body of table entry `index`, by the first case that applies. False
// (g_err set) when memory runs out or the body alone is too large.
bool make_body_as_read(const Writer &w, size_t index, Body &body) {
    const ObjEntry &e = w.doc.objs[index];
    const int32_t n = e.num;
    const char *repl = replacement(w, n);
    const int32_t page = w.page_of[static_cast<size_t>(n)];
    char insert[64];
    if (page >= 0) {  // a changed page shows its new content stream
        DictText text = repl != nullptr ? copy_text(repl) : obj_dict_text(w.doc, e);
        if (!text) text = copy_text("<< /Type /Page >>");  // still a page to readers
        if (!text) return fail(kOutOfMemory);
        // The thumbnail and private data still picture the old content.
        for (const char *key : {"Contents", "Thumb", "PieceInfo"})
            strip_dict_entries(text.get(), key);
        std::snprintf(insert, sizeof insert, " /Contents %ld 0 R",
                      static_cast<long>(new_content_of(w, page)));
        if (!insert_entry(text, insert)) return fail(kOutOfMemory);
        return set_owned(body, std::move(text));
    }
    if (repl != nullptr)
        return set_text(body, reinterpret_cast<const unsigned char *>(repl), std::strlen(repl));
    if (e.compressed) {
        if (e.text == nullptr || e.text_len <= 0) return set_text(body, kNullBody, 4);
        if (const DictRange r = obj_dict_range(w.doc, e); r.bytes != nullptr)
            return set_text(body, r.bytes + r.start, static_cast<size_t>(r.end - r.start));
        return set_text(body, e.text, static_cast<size_t>(e.text_len));
    }
    if (!e.has_stream) {
        int32_t from = 0, to = 0;
        if (!plain_body(w, e, &from, &to)) return set_text(body, kNullBody, 4);
        return set_text(body, w.file + from, static_cast<size_t>(to - from));
    }
    DictText dict = dict_or_empty(w.doc, e);
    if (!dict) return fail(kOutOfMemory);
    if (const Buf *form = rewritten_form(w, n)) {  // new content, written unencoded
        body.kind = kBodyForm;
        strip_dict_entries(dict.get(), "Length");
        strip_dict_entries(dict.get(), "Filter");
        std::snprintf(insert, sizeof insert, " /Length %llu",
                      static_cast<unsigned long long>(form->len));
        if (!insert_entry(dict, insert)) return fail(kOutOfMemory);
        return set_owned(body, std::move(dict));
    }
    body.kind = kBodyStream;
    const int32_t len = stream_data_len(w, e);
    if (!states_length(w, dict.get(), len)) {
        strip_dict_entries(dict.get(), "Length");
        std::snprintf(insert, sizeof insert, " /Length %ld", static_cast<long>(len));
        if (!insert_entry(dict, insert)) return fail(kOutOfMemory);
    }
    return set_owned(body, std::move(dict));
}

// The references of the first top-level /key entry of a dictionary text
// whose value is an array (a single reference when `array` is false).
std::vector<int32_t> strict_refs(const char *text, const char *key, bool array) {
    const auto *b = reinterpret_cast<const unsigned char *>(text);
    const int32_t end = static_cast<int32_t>(std::min<size_t>(std::strlen(text), INT32_MAX));
    std::vector<int32_t> refs;
    int32_t pos = dict_entries_start(b, end);
    DictEntry e;
    while (pos >= 0 && dict_next_entry(b, end, &pos, &e)) {
        if (!dict_entry_is(b, e, key)) continue;
        const int32_t v = skip_pdf_ws(b, e.value_end, e.key_end);
        if (array != (v < e.value_end && b[v] == '[')) continue;
        collect_refs(b, v, e.value_end, refs);
        // Anything but references between the brackets (a brace, a stray
        // byte) makes a strict reader drop the whole value.
        for (int32_t pos = array ? v + 1 : v;;) {
            const RefToken t = next_token(b, e.value_end, &pos);
            if (t.kind == kTokEnd || (array && b[t.start] == ']')) break;
            if (t.kind != kTokInt && t.kind != kTokR) {
                refs.assign(1, -1);
                break;
            }
        }
        break;
    }
    return refs;
}

// The catalog's /Pages and the /Kids of every page tree node, written as the
// loader took them when a strict reader would read them otherwise (a damaged
// reference, stray bytes in an array, a missing kid, a node met twice or a
// loop): every reader of the output then finds the pages the loader found.
bool write_tree_as_read(const Writer &w, const ObjEntry &e, Body &body) {
    const Doc &doc = w.doc;
    const int32_t n = e.num;
    const bool is_root = n == doc.root && doc.pages_root > 0;
    const int32_t node = w.node[static_cast<size_t>(n)];
    const bool is_node = node >= 0;
    if (!is_root && !is_node) return true;
    const char *repl = replacement(w, n);
    DictText text = repl != nullptr ? copy_text(repl) : obj_dict_text(doc, e);
    if (!text) return true;  // no dictionary: nothing the loader read either
    std::string insert;
    if (is_root && strict_refs(text.get(), "Pages", false) != std::vector<int32_t>{doc.pages_root}) {
        strip_dict_entries(text.get(), "Pages");
        insert += " /Pages " + std::to_string(doc.pages_root) + ' ' +
                  std::to_string(output_gen(doc, doc.pages_root)) + " R";
    }
    if (is_node) {
        const std::vector<int32_t> &kids = doc.page_nodes[static_cast<size_t>(node)].kids;
        if (strict_refs(text.get(), "Kids", true) != kids) {
            strip_dict_entries(text.get(), "Kids");
            insert += " /Kids [";
            for (const int32_t k : kids) {
                insert += ' ';
                insert += std::to_string(k);
                insert += ' ';
                insert += std::to_string(output_gen(doc, k));
                insert += " R";
            }
            insert += " ]";
        }
    }
    if (insert.empty()) return true;
    if (!insert_entry(text, insert.c_str())) return fail(kOutOfMemory);
    body = Body{};
    return set_owned(body, std::move(text));
}

bool make_body(const Writer &w, size_t index, Body &body) {
    if (!make_body_as_read(w, index, body)) return false;
    const ObjEntry &e = w.doc.objs[index];
    if (body.kind != kBodyText || w.page_of[static_cast<size_t>(e.num)] >= 0) return true;
    return write_tree_as_read(w, e, body);
}

// ---- What is written ----------------------------------------------------------------

int32_t root_num(const Doc &doc) {
    return doc.root >= 1 ? doc.root : 1;
}

// Keeps object n, when it may be written, and queues it to be read.
// False when it was kept already or cannot be written.
bool keep_object(Writer &w, int32_t n, std::vector<int32_t> &pending) {
    if (n < 1 || n > w.last || w.keep[static_cast<size_t>(n)]) return false;
    if (!writable(w, n) && new_stream(w, n) == nullptr) return false;
    w.keep[static_cast<size_t>(n)] = 1;
    pending.push_back(n);
    return true;
}

// Marks in `keep` the objects the output holds: those reachable from the
// catalog and the page tree through the references of the texts that are
// written (every writable object when there is no catalog), and the new
// content streams of the changed pages among them. The page tree is a start
// of its own, as the loader found it: the catalog's /Pages, every page of the
// page list and the /Parent nodes above it, read as leniently as the loader
// reads them, so that a damaged reference never costs a page.
bool choose_objects(Writer &w) {
    const Doc &doc = w.doc;
    const int32_t root = root_num(doc);
    std::vector<int32_t> pending, refs;
    if (!writable(w, root)) {
        for (int32_t n = 1; n <= doc.max_obj_num; ++n)
            if (writable(w, n)) {
                w.keep[static_cast<size_t>(n)] = 1;
                pending.push_back(n);
            }
        // Only the references are wanted: what they name is kept already.
        for (const int32_t n : pending) {
            Body body;
            if (!make_body(w, static_cast<size_t>(w.first[static_cast<size_t>(n)]), body))
                return false;
            refs.clear();
            collect_refs(body.bytes, 0, body.len, refs);
            for (const int32_t r : refs)
                if (r > doc.max_obj_num) w.named_above.push_back(r);
        }
    } else {
        keep_object(w, root, pending);
        keep_object(w, obj_ref_value(doc, entry_of(w, root), "Pages"), pending);
        // Each node is kept once, so the /Parent walks together stay linear.
        for (const PageRef &page : doc.pages)
            for (int32_t n = page.num; keep_object(w, n, pending);)
                n = obj_ref_value(doc, entry_of(w, n), "Parent");
        // Every body read here is written: bodies that overlap in the input
        // cannot make this walk cost more than the largest output.
        uint64_t total = 0;
        while (!pending.empty()) {
            const int32_t n = pending.back();
            pending.pop_back();
            const NewStream *s = new_stream(w, n);
            if (s == nullptr) s = alias_of(w, n);
            if (s != nullptr) {
                refs.clear();
                collect_refs(reinterpret_cast<const unsigned char *>(s->dict.data()), 0,
                             static_cast<int32_t>(s->dict.size()), refs);
                for (const int32_t r : refs) keep_object(w, r, pending);
                continue;
            }
            Body body;
            if (!make_body(w, static_cast<size_t>(w.first[static_cast<size_t>(n)]), body))
                return false;
            total += static_cast<uint64_t>(body.len);
            if (total > static_cast<uint64_t>(std::max<int64_t>(w.plan.max_size, 0)))
                return fail(kTooLarge);
            refs.clear();
            collect_refs(body.bytes, 0, body.len, refs);
            for (const int32_t r : refs) {
                if (r > doc.max_obj_num) w.named_above.push_back(r);
                keep_object(w, r, pending);
            }
        }
    }
    if (!number_new_content(w)) return false;
    for (int32_t n = 1; n <= w.doc.max_obj_num; ++n) {
        if (!w.keep[static_cast<size_t>(n)]) continue;
        const int32_t c = new_content_of(w, w.page_of[static_cast<size_t>(n)]);
        if (c > 0) w.keep[static_cast<size_t>(c)] = 1;
    }
    return true;
}

// Appends to the output, failing when memory runs out or the output would
// reach the size limit.
bool put(Writer &w, const void *bytes, uint64_t count) {
    const uint64_t limit = w.plan.max_size > 0 ? static_cast<uint64_t>(w.plan.max_size) : 0;
    if (count > limit || w.out.size() > limit - count) return fail(kTooLarge);
    const auto *from = static_cast<const unsigned char *>(bytes);
    w.out.insert(w.out.end(), from, from + count);  // out of memory throws, caught by build_output
    return true;
}

bool put_str(Writer &w, const char *text) {
    return put(w, text, std::strlen(text));
}

__attribute__((format(printf, 2, 3))) bool put_fmt(Writer &w, const char *format, ...) {
    char text[128];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return n >= 0 && put(w, text, std::min<uint64_t>(static_cast<uint64_t>(n), sizeof text - 1));
}

// A control character other than the white space of text (HT, LF, VT, FF, CR).
bool is_control(unsigned char c) {
    return c < 9 || (c > 13 && c < 32) || c == 127;
}

// Stream data that the verification cannot read as text: an image, data
// that a filter encodes, or bytes that do not look like text. Only the
// entries of the dictionary written count, so that a /Filter or /Image
// inside a nested dictionary or a string never hides readable data.
bool unscannable(const Writer &w, const char *dict, const ObjEntry &e, int32_t len) {
    const auto *b = reinterpret_cast<const unsigned char *>(dict);
    const int32_t end = static_cast<int32_t>(std::min<size_t>(std::strlen(dict), INT32_MAX));
    int32_t pos = dict_entries_start(b, end);
    DictEntry entry;
    while (pos >= 0 && dict_next_entry(b, end, &pos, &entry)) {
        int32_t v = skip_pdf_ws(b, entry.value_end, entry.key_end);
        if (dict_entry_is(b, entry, "Subtype") && entry.value_end - v == 6 &&
            std::memcmp(b + v, "/Image", 6) == 0)
            return true;
        if (dict_entry_is(b, entry, "Filter")) {
            if (v < entry.value_end && b[v] == '[') v = skip_pdf_ws(b, entry.value_end, v + 1);
            if (v < entry.value_end && b[v] == '/') return true;  // a filter is named
        }
    }
    const unsigned char *data = w.file + e.data_start;
    for (int32_t i = 0; i < std::min(len, kBinaryHead); ++i)
        if (is_control(data[i])) return true;
    if (len > kBinaryHead)
        for (int32_t i = len - kBinaryTail; i < len; ++i)
            if (is_control(data[i])) return true;
    return false;
}

bool write_stream_as(Writer &w, int32_t n, const NewStream &s);

bool write_object(Writer &w, size_t index) {
    const ObjEntry &e = w.doc.objs[index];
    const int32_t n = e.num;
    if (const NewStream *s = alias_of(w, n)) return write_stream_as(w, n, *s);
    Body body;
    if (!make_body(w, index, body)) return false;
    const int32_t gen = (e.gen >= 1 && e.gen <= 65534) ? e.gen : 0;
    w.offsets[static_cast<size_t>(n)] = static_cast<int32_t>(w.out.size());
    w.gens[static_cast<size_t>(n)] = gen;
    if (!put_fmt(w, "%ld %ld obj\n", static_cast<long>(n), static_cast<long>(gen))) return false;
    if (!put(w, body.bytes, static_cast<uint64_t>(body.len))) return false;
    if (body.kind == kBodyText) return put_str(w, "\nendobj\n");
    if (!put_str(w, "\nstream\n")) return false;
    if (body.kind == kBodyForm) {
        const Buf &form = *rewritten_form(w, n);
        if (!put(w, form.data.get(), form.len)) return false;
    } else {
        const int32_t len = stream_data_len(w, e);
        if (len > 0) {
            if (unscannable(w, body.owned.get(), e, len))
                w.unscanned.push_back({static_cast<int32_t>(w.out.size()), len});
            if (!put(w, w.file + e.data_start, static_cast<uint64_t>(len))) return false;
        }
    }
    return put_str(w, "\nendstream\nendobj\n");
}

// Writes new stream `s` as object n (its own number, or that of the input
// object it replaces).
bool write_stream_as(Writer &w, int32_t n, const NewStream &s) {
    DictText dict = copy_text(s.dict.c_str());
    char insert[64];
    std::snprintf(insert, sizeof insert, " /Length %llu", static_cast<unsigned long long>(s.data.len));
    if (!dict || !insert_entry(dict, insert)) return fail(kOutOfMemory);
    w.offsets[static_cast<size_t>(n)] = static_cast<int32_t>(w.out.size());
    w.gens[static_cast<size_t>(n)] = 0;
    return put_fmt(w, "%ld 0 obj\n", static_cast<long>(n)) && put_str(w, dict.get()) &&
           put_str(w, "\nstream\n") && put(w, s.data.data.get(), s.data.len) &&
           put_str(w, "\nendstream\nendobj\n");
}

bool write_new_streams(Writer &w) {
    if (w.plan.new_streams == nullptr) return true;
    for (const NewStream &s : *w.plan.new_streams) {
        if (s.num <= w.doc.max_obj_num || s.num > w.last || !w.keep[static_cast<size_t>(s.num)] ||
            w.offsets[static_cast<size_t>(s.num)] >= 0)
            continue;
        if (!write_stream_as(w, s.num, s)) return false;
    }
    return true;
}

bool write_new_content(Writer &w) {
    const std::vector<int32_t> *changed = w.plan.page_changed;
    const std::vector<Buf> *contents = w.plan.page_content;
    if (changed == nullptr) return true;
    for (size_t i = 0; i < changed->size(); ++i) {
        if (!(*changed)[i]) continue;
        const int32_t c = new_content_of(w, static_cast<int32_t>(i));
        if (c == 0 || !w.keep[static_cast<size_t>(c)] || w.offsets[static_cast<size_t>(c)] >= 0)
            continue;
        static const Buf kNoContent;
        const Buf &content =
            (contents != nullptr && i < contents->size()) ? (*contents)[i] : kNoContent;
        w.offsets[static_cast<size_t>(c)] = static_cast<int32_t>(w.out.size());
        w.gens[static_cast<size_t>(c)] = 0;
        if (!put_fmt(w, "%ld 0 obj\n<< /Length %llu >>\nstream\n", static_cast<long>(c),
                     static_cast<unsigned long long>(content.len)) ||
            !put(w, content.data.get(), content.len) || !put_str(w, "\nendstream\nendobj\n"))
            return false;
    }
    return true;
}

// The cross-reference table for 0..N, free entries unchained, and the trailer.
bool write_xref_and_trailer(Writer &w) {
    const int32_t xref = static_cast<int32_t>(w.out.size());
    if (!put_fmt(w, "xref\n0 %ld\n0000000000 65535 f \n", static_cast<long>(w.last) + 1))
        return false;
    for (int32_t k = 1; k <= w.last; ++k) {
        const int32_t offset = w.offsets[static_cast<size_t>(k)];
        const bool ok = offset >= 0 ? put_fmt(w, "%010ld %05ld n \n", static_cast<long>(offset),
                                              static_cast<long>(w.gens[static_cast<size_t>(k)]))
                                    : put_str(w, "0000000000 00000 f \n");
        if (!ok) return false;
    }
    const int32_t root = root_num(w.doc);
    const int32_t root_gen = root <= w.last ? w.gens[static_cast<size_t>(root)] : 0;
    return put_fmt(w, "trailer\n<< /Size %ld /Root %ld %ld R >>\nstartxref\n%ld\n",
                   static_cast<long>(w.last) + 1, static_cast<long>(root),
                   static_cast<long>(root_gen), static_cast<long>(xref)) &&
           put_str(w, "%%EOF\n");
}

// About how large the output will be: the input, the new content and the
// new streams, and a table entry and header per object. The output is read
// back from the very bytes written, so room made at once spares copies of a
// growing buffer; space reserved and never written is never touched.
uint64_t expected_size(const Doc &doc, const OutputPlan &plan, size_t slots) {
    uint64_t total = doc.data.size() + 64 * static_cast<uint64_t>(slots) + 4096;
    if (plan.page_content != nullptr)
        for (const Buf &b : *plan.page_content) total += b.len;
    if (plan.forms != nullptr)
        for (const Buf &b : *plan.forms) total += b.len;
    if (plan.new_streams != nullptr)
        for (const NewStream &s : *plan.new_streams) total += s.dict.size() + s.data.len;
    return total;
}

int build(const Doc &doc, const OutputPlan &plan, std::vector<unsigned char> &out,
          std::vector<UnscannedRange> &unscanned) {
    const int32_t last = std::max(plan.last_num, doc.max_obj_num);
    const size_t slots = static_cast<size_t>(last) + 1;
    Writer w{doc,
             plan,
             out,
             unscanned,
             doc.data.data(),
             static_cast<int32_t>(std::min<size_t>(std::max(doc.size, 0), doc.data.size())),
             last,
             {},
             {},
             {},
             {},
             {},
             {},
             {},
             {}};
    try {
        w.offsets.assign(slots, -1);
    } catch (const std::bad_alloc &) {
        set_error("out of memory allocating offsets");
        return 0;
    }
    try {
        w.gens.assign(slots, 0);
    } catch (const std::bad_alloc &) {
        set_error("out of memory allocating gens");
        return 0;
    }
    w.first.assign(slots, -1);
    w.page_of.assign(slots, -1);
    w.node.assign(slots, -1);
    for (size_t i = 0; i < doc.page_nodes.size(); ++i) {
        const int32_t n = doc.page_nodes[i].num;
        if (n >= 1 && n <= doc.max_obj_num) w.node[static_cast<size_t>(n)] = static_cast<int32_t>(i);
    }
    w.keep.assign(slots, 0);
    if (plan.max_size > 0) {
        try {
            out.reserve(std::min(expected_size(doc, plan, slots), static_cast<uint64_t>(plan.max_size)));
        } catch (const std::bad_alloc &) {
            // Only a head start: the output grows as it is written.
        }
    }
    for (size_t i = 0; i < doc.objs.size(); ++i) {
        const ObjEntry &e = doc.objs[i];
        if (e.num < 1 || e.num > doc.max_obj_num || w.first[static_cast<size_t>(e.num)] >= 0)
            continue;
        // Object streams and cross-reference streams are never written: their
        // members become plain objects and the table is made anew, while
        // their compressed data would keep what sanitising removed.
        if (e.has_stream &&
            (obj_name_is(doc, e, "Type", "ObjStm") || obj_name_is(doc, e, "Type", "XRef")))
            continue;
        w.first[static_cast<size_t>(e.num)] = static_cast<int32_t>(i);
    }
    if (plan.page_changed != nullptr) {
        const size_t pages = std::min(plan.page_changed->size(), doc.pages.size());
        for (size_t i = 0; i < pages; ++i) {
            const int32_t n = doc.pages[i].num;
            if ((*plan.page_changed)[i] && n >= 1 && n <= doc.max_obj_num &&
                w.page_of[static_cast<size_t>(n)] < 0)
                w.page_of[static_cast<size_t>(n)] = static_cast<int32_t>(i);
        }
    }
    if (!choose_objects(w) || !put(w, kHeader, kHeaderLen)) return 0;
    for (size_t i = 0; i < doc.objs.size(); ++i) {
        const int32_t n = doc.objs[i].num;
        if (n < 1 || n > doc.max_obj_num ||
            w.first[static_cast<size_t>(n)] != static_cast<int32_t>(i) ||
            !w.keep[static_cast<size_t>(n)])
            continue;
        if (!write_object(w, i)) return 0;
    }
    if (!write_new_streams(w) || !write_new_content(w) || !write_xref_and_trailer(w)) return 0;
    return 1;
}

// Every page the loader found, in the output's page tree, in the same order:
// the output is read back as the loader reads any file. A page lost between
// the two is a failure of its own, never a shorter file.
bool keeps_every_page(const Doc &doc, std::vector<unsigned char> bytes, Doc &written) {
    const bool loaded = doc_load_bytes(std::move(bytes), "the output file", written) == 0;
    const std::vector<PageRef> empty;
    const std::vector<PageRef> &pages = loaded ? written.pages : empty;
    const size_t common = std::min(pages.size(), doc.pages.size());
    for (size_t i = 0; i < common; ++i) {
        if (pages[i].num == doc.pages[i].num) continue;
        set_error("the output file would not keep page %ld (object %ld) — no output written",
                  static_cast<long>(i) + 1, static_cast<long>(doc.pages[i].num));
        return false;
    }
    if (pages.size() == doc.pages.size()) return true;
    set_error("the output file would hold %ld of the document's %ld pages — no output written",
              static_cast<long>(pages.size()), static_cast<long>(doc.pages.size()));
    return false;
}

}  // namespace

int build_output(const Doc &doc, const OutputPlan &plan, Doc &written,
                 std::vector<UnscannedRange> &unscanned) {
    doc_free(written);
    unscanned.clear();
    int ok = 0;
    try {
        std::vector<unsigned char> out;
        ok = build(doc, plan, out, unscanned) && keeps_every_page(doc, std::move(out), written);
    } catch (const std::bad_alloc &) {
        set_error("%s", kOutOfMemory);
        ok = 0;
    }
    if (!ok) {
        doc_free(written);
        unscanned.clear();
    }
    return ok;
}

namespace {

// A redacted file is as sensitive as the one it replaces: the new file takes
// the mode of the file at the output path, and its owner and group where the
// process may give them. A new output keeps the default mode.
void keep_file_attributes(const char *output_path, int fd) {
    struct stat st;
    if (stat(output_path, &st) != 0 || !S_ISREG(st.st_mode)) return;
    // The owner first: changing it may clear the set-id bits that the mode sets.
    if (fchown(fd, st.st_uid, st.st_gid) != 0 && fchown(fd, static_cast<uid_t>(-1), st.st_gid) != 0) {
        // Not permitted: the file stays the process's own.
    }
    (void)fchmod(fd, st.st_mode & 07777);
}

}  // namespace

int write_output_file(const char *output_path, const unsigned char *bytes, int64_t len) {
    if (output_path == nullptr || (bytes == nullptr && len > 0) || len < 0) {
        set_error("NULL path argument");
        return 0;
    }
    try {
        // A file of our own beside the output, renamed over it once complete:
        // a failure never leaves a half-written output, and an output path
        // naming the input replaces the input only after the whole write.
        std::string temp;
        std::FILE *f = nullptr;
        int err = EEXIST;
        for (int n = 0; n < kTempTries && f == nullptr && err == EEXIST; ++n) {
            temp = std::string(output_path) + ".inkveil-tmp-" + std::to_string(n);
            errno = 0;
            f = std::fopen(temp.c_str(), "wbx");
            if (f == nullptr) err = errno;
        }
        if (f == nullptr) {
            set_error("cannot open output file %s for writing: %s", output_path,
                      system_error_text(err).text);
            return 0;
        }
        keep_file_attributes(output_path, fileno(f));
        bool ok = len == 0 ||
                  std::fwrite(bytes, 1, static_cast<size_t>(len), f) == static_cast<size_t>(len);
        ok = std::fflush(f) == 0 && ok;
        ok = std::fclose(f) == 0 && ok;
        if (!ok) {
            std::remove(temp.c_str());
            set_error("write error on %s", output_path);
            return 0;
        }
        if (std::rename(temp.c_str(), output_path) != 0) {
            err = errno;
            std::remove(temp.c_str());
            set_error("cannot open output file %s for writing: %s", output_path,
                      system_error_text(err).text);
            return 0;
        }
    } catch (const std::bad_alloc &) {
        set_error("%s", kOutOfMemory);
        return 0;
    }
    clear_error();
    return 1;
}

void remove_output_file(const char *output_path, const char *input_path) {
    if (output_path == nullptr) return;
    try {
        std::error_code ec;
        const std::filesystem::path out(output_path);
        if (input_path != nullptr && std::filesystem::equivalent(out, input_path, ec)) return;
        // Only a file goes: an empty directory at the path is not ours to remove.
        if (std::filesystem::is_directory(out, ec)) return;
        std::remove(output_path);
    } catch (...) {
        // Nothing to report: removing is a courtesy to the host.
    }
}
