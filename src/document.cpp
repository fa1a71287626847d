// Document loading: the file is read whole, the trailer facts are taken from
// the cross-reference data, the object table is built by scanning the bytes
// for object headers, object streams are expanded, duplicate definitions are
// resolved and the page tree is walked into the page list.
//
// Hostile input must not make loading quadratic. Every keyword and name token
// the loader looks for is found once, in one pass over the file, and each
// "first X at or after p" becomes a binary search in that index. Closing a
// dictionary is a plain forward scan while the total scanned stays within a
// few times the file size; past that budget the closing positions of every
// offset are computed once, from the end of the file backwards, and looked up.
#include "document.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <new>
#include <queue>
#include <utility>

#include <sys/stat.h>

#include "api.h"
#include "filters.h"

namespace {

constexpr int32_t kMaxObjNum = 8388608;           // 2^23: higher numbers are dropped
constexpr int kMaxXrefSections = 32;              // /Prev links followed
constexpr int64_t kTrailerWindow = 4096;          // bytes read past "trailer" for /Encrypt
constexpr int32_t kMaxObjStmCount = 99999;        // largest /N of an object stream
constexpr uint64_t kInflateLimit = 1073741824;    // the decoder's 1 GiB output limit
constexpr int64_t kMinKids = 1024;                // kid-list capacity of any node
constexpr uint64_t kCloseBudgetSlack = 1u << 20;  // plain closing scans allowed beyond 4 x size

// ---- Keyword and name index ------------------------------------------------

enum IndexedName { kRoot, kInfo, kEncrypt, kLength, kObjStm, kN, kFirst, kCatalog, kNameCount };
constexpr const char *kIndexedNames[kNameCount] = {"Root",   "Info", "Encrypt", "Length",
                                                   "ObjStm", "N",    "First",   "Catalog"};

// Offsets, in increasing order, of every whole-word keyword and every /Name
// token (ending at a space, a delimiter or the end of the file) that loading
// needs. A name searched over a range also matches when it ends exactly at the
// range's end, whatever follows; the ranges looked up here end at a keyword
// (which no letter may touch), just past a ">>", or at the end of the file,
// so the first indexed token in a range is the one a search would find. The
// one range that can end anywhere, a trailer's 4096-byte window, is checked
// at its edge on its own.
struct KeyIndex {
    std::vector<int32_t> obj, endobj, endstream, trailer, startxref;
    std::vector<int32_t> names[kNameCount];
};

// True when the /name token starts at `p` (as find_name would report it over
// the whole file).
bool name_token_at(const unsigned char *b, int32_t size, int32_t p, IndexedName which) {
    const char *name = kIndexedNames[which];
    const int64_t end = std::min<int64_t>(size, p + static_cast<int64_t>(std::strlen(name)) + 2);
    return find_name(b, size, p, static_cast<int32_t>(end), name) == p;
}

void index_name(KeyIndex &idx, const unsigned char *b, int32_t size, int32_t p) {
    if (static_cast<int64_t>(p) + 1 >= size) return;
    IndexedName which;
    switch (b[p + 1]) {
        case 'R':
            which = kRoot;
            break;
        case 'I':
            which = kInfo;
            break;
        case 'E':
            which = kEncrypt;
            break;
        case 'L':
            which = kLength;
            break;
        case 'O':
            which = kObjStm;
            break;
        case 'N':
            which = kN;
            break;
        case 'F':
            which = kFirst;
            break;
        case 'C':
            which = kCatalog;
            break;
        default:
            return;
    }
    if (name_token_at(b, size, p, which)) idx.names[which].push_back(p);
}

// The first byte `c` at or after `from`, or -1: memchr steps over the long
// runs of stream data that hold no keyword.
int32_t next_byte(const unsigned char *b, int32_t size, int32_t from, unsigned char c) {
    if (from >= size) return -1;
    const void *at = std::memchr(b + from, c, static_cast<size_t>(size - from));
    return at == nullptr ? -1 : static_cast<int32_t>(static_cast<const unsigned char *>(at) - b);
}

// Each list is filled in one pass over the places of a letter of its
// keyword, or of the names' leading byte, so every list is in file order.
// The letter is one that text seldom holds: text and content streams hold
// the first letters of the keywords everywhere.
KeyIndex build_key_index(const unsigned char *b, int32_t size) {
    KeyIndex idx;
    const struct {
        const char *word;
        int32_t letter;  // the letter memchr looks for
        std::vector<int32_t> *list;
    } keywords[] = {{"obj", 2, &idx.obj},
                    {"endobj", 5, &idx.endobj},
                    {"endstream", 8, &idx.endstream},
                    {"trailer", 4, &idx.trailer},
                    {"startxref", 5, &idx.startxref}};
    for (const auto &k : keywords) {
        const auto c = static_cast<unsigned char>(k.word[k.letter]);
        for (int32_t p = next_byte(b, size, k.letter, c); p >= 0; p = next_byte(b, size, p + 1, c))
            if (kw_at(b, p - k.letter, size, k.word)) k.list->push_back(p - k.letter);
    }
    for (int32_t p = next_byte(b, size, 0, '/'); p >= 0; p = next_byte(b, size, p + 1, '/'))
        index_name(idx, b, size, p);
    return idx;
}

// The first indexed offset at or after `pos`, or -1.
int32_t first_at(const std::vector<int32_t> &list, int64_t pos) {
    const auto it =
        std::lower_bound(list.begin(), list.end(), pos, [](int32_t a, int64_t b) { return a < b; });
    return it == list.end() ? -1 : *it;
}

// The first indexed offset in [start, end), or -1.
int32_t first_in(const std::vector<int32_t> &list, int64_t start, int64_t end) {
    const int32_t p = first_at(list, start);
    return (p >= 0 && p < end) ? p : -1;
}

// ---- Small helpers ------------------------------------------------------------

// Decimal value of the digits in [start, end), saturated so that absurd runs
// never wrap around (such numbers are dropped later anyway).
int32_t digits_value(const unsigned char *b, int64_t start, int64_t end) {
    int64_t v = 0;
    for (int64_t i = start; i < end; ++i) {
        v = v * 10 + (b[i] - '0');
        if (v > INT32_MAX) v = INT32_MAX;
    }
    return static_cast<int32_t>(v);
}

int32_t clamp32(int64_t v) {
    return v > INT32_MAX ? INT32_MAX : static_cast<int32_t>(v);
}

// skip_pdf_ws from a 64-bit offset that may lie at or past `end`.
int32_t skip_ws64(const unsigned char *b, int32_t end, int64_t pos) {
    return pos >= end ? end : skip_pdf_ws(b, end, static_cast<int32_t>(pos));
}

// ---- Closing a dictionary ---------------------------------------------------
//
// rd_dict_close from offset x is a walk whose path depends only on x: "<<"
// opens a level, ">>" closes one, strings are stepped over whole. Walks from
// different offsets that meet go on together, so the answer for every offset
// follows from the answers for later offsets:
//   up[p]   the ">>" that closes the level the walk is in at p;
//   rise[p] the "<<" that first lifts the walk at p one level above p's;
//   str[p]  just past the ")" that closes the literal string being read at p;
// each -1 when the file, or an unterminated string, ends the walk first.
// rd_dict_close(x) is then up[rise[x] + 2]; a nearer limit can only turn that
// answer into -1, since the walk up to the answer is the same.
struct Closer {
    const unsigned char *b = nullptr;
    int32_t size = 0;
    uint64_t work = 0;    // bytes scanned by plain closing scans
    uint64_t budget = 0;  // plain scanning allowed before the tables are built
    bool tried = false;   // tables attempted (they are built at most once)
    std::vector<int32_t> up, rise;
};

Closer make_closer(const unsigned char *b, int32_t size) {
    Closer c;
    c.b = b;
    c.size = size;
    c.budget = 4 * static_cast<uint64_t>(size) + kCloseBudgetSlack;
    return c;
}

void build_close_tables(Closer &c) {
    const unsigned char *b = c.b;
    const int64_t n = c.size;
    const size_t len = static_cast<size_t>(n) + 3;  // room for p + 2 past the last byte
    std::vector<int32_t> str(len, -1), up(len, -1), rise(len, -1);
    for (int64_t p = n - 1; p >= 0; --p) {
        switch (b[p]) {
            case '\\':
                str[p] = str[p + 2];
                break;  // an escape skips the next byte
            case '(': {
                const int32_t inner = str[p + 1];
                str[p] = inner < 0 ? -1 : str[inner];
                break;
            }
            case ')':
                str[p] = static_cast<int32_t>(p + 1);
                break;
            default:
                str[p] = str[p + 1];
                break;
        }
    }
    int64_t next_gt = -1;  // the first '>' after p
    for (int64_t p = n - 1; p >= 0; --p) {
        const unsigned char ch = b[p];
        if (p + 1 < n) {
            int64_t go = -1;  // where the walk goes on at the same level
            bool dead = false;
            if (ch == '<' && b[p + 1] == '<') {
                rise[p] = static_cast<int32_t>(p);
                const int32_t close = up[p + 2];
                up[p] = close < 0 ? -1 : up[close + 2];
            } else if (ch == '>' && b[p + 1] == '>') {
                up[p] = static_cast<int32_t>(p);
                const int32_t r = rise[p + 2];
                rise[p] = r < 0 ? -1 : rise[r + 2];
            } else if (ch == '<') {  // hex string, up to the next '>'
                if (next_gt < 0)
                    dead = true;
                else
                    go = next_gt + 1;
            } else if (ch == '(') {
                const int32_t after = str[p + 1];
                if (after < 0)
                    dead = true;
                else
                    go = after;
            } else {
                go = p + 1;
            }
            if (dead) {
                up[p] = rise[p] = -1;
            } else if (go >= 0) {
                up[p] = up[go];
                rise[p] = rise[go];
            }
        }
        if (ch == '>') next_gt = p;
    }
    c.up = std::move(up);
    c.rise = std::move(rise);
}

// rd_dict_close(bytes, size, x, limit), linear in total over any number of
// calls.
int32_t close_within(Closer &c, int32_t x, int64_t limit) {
    if (limit > c.size) limit = c.size;
    if (x < 0) return -1;
    if (!c.up.empty()) {
        if (static_cast<int64_t>(x) + 1 >= limit) return -1;
        const int32_t r = c.rise[x];
        if (r < 0) return -1;
        const int32_t close = c.up[r + 2];
        return (close >= 0 && static_cast<int64_t>(close) + 1 < limit) ? close : -1;
    }
    const int32_t close = rd_dict_close(c.b, c.size, x, static_cast<int32_t>(limit));
    const int64_t scanned = close >= 0 ? static_cast<int64_t>(close) + 2 - x : limit - x;
    if (scanned > 0) c.work += static_cast<uint64_t>(scanned);
    if (c.work > c.budget && !c.tried) {
        c.tried = true;
        try {
            build_close_tables(c);
        } catch (const std::bad_alloc &) {
            c.up.clear();  // no room for the tables: go on with plain scans
            c.rise.clear();
        }
    }
    return close;
}

void release_close_tables(Closer &c) {
    c.up = std::vector<int32_t>();
    c.rise = std::vector<int32_t>();
    c.work = 0;
    c.tried = false;
}

// ---- Cross-reference and trailer facts ----------------------------------------

// A /Root or /Info token and the integer after it.
struct NameValue {
    int32_t pos;
    int32_t value;
};

// Every token of `list` followed by a non-negative integer, with that integer.
// Reading to the end of the file gives the same integers as reading to a
// trailer's end, since that end is a "startxref" keyword, which no digit may
// touch.
std::vector<NameValue> name_values(const unsigned char *b, int32_t size,
                                   const std::vector<int32_t> &list, const char *name) {
    std::vector<NameValue> out;
    const int64_t skip = 1 + static_cast<int64_t>(std::strlen(name));
    for (int32_t p : list) {
        int32_t pos = skip_ws64(b, size, p + skip);
        const int32_t v = parse_int_at(b, size, &pos);
        if (v >= 0) out.push_back({p, v});
    }
    return out;
}

// The value of the first token of `values` in [start, end), or -1.
int32_t first_value_in(const std::vector<NameValue> &values, int64_t start, int64_t end) {
    const auto it = std::lower_bound(values.begin(), values.end(), start,
                                     [](const NameValue &a, int64_t s) { return a.pos < s; });
    return (it != values.end() && it->pos < end) ? it->value : -1;
}

// The classic trailers of the section whose "xref" keyword is at `xref`: each
// later trailer that names a /Root or /Info replaces the values of earlier
// ones. A trailer's range runs to the next "startxref".
void read_classic_trailers(Doc &doc, const KeyIndex &idx, int32_t xref) {
    const unsigned char *b = doc.data.data();
    const int32_t size = doc.size;
    const std::vector<NameValue> roots = name_values(b, size, idx.names[kRoot], "Root");
    const std::vector<NameValue> infos = name_values(b, size, idx.names[kInfo], "Info");
    const auto first = std::lower_bound(idx.trailer.begin(), idx.trailer.end(), xref + 4);
    for (auto it = first; it != idx.trailer.end(); ++it) {
        const int32_t q = skip_ws64(b, size, static_cast<int64_t>(*it) + 7);
        if (q >= size) continue;
        int32_t end = first_at(idx.startxref, q);
        if (end < 0) end = size;
        if (q >= end || b[q] != '<') continue;
        const int32_t root = first_value_in(roots, q, end);
        if (root >= 0) doc.trailer_root = root;
        const int32_t info = first_value_in(infos, q, end);
        if (info >= 0) doc.trailer_info = info;
        if (first_in(idx.names[kEncrypt], q, end) >= 0) doc.encrypted = 1;
    }
}

// Reads the integer after the first /name token in [start, end); -1 when
// there is no token or no integer.
int32_t int_after_name(const unsigned char *b, int32_t start, int32_t end, const char *name,
                       bool *found) {
    const int32_t slash = find_name(b, end, start, end, name);
    *found = slash >= 0;
    if (slash < 0) return -1;
    int32_t pos = skip_ws64(b, end, slash + 1 + static_cast<int64_t>(std::strlen(name)));
    return parse_int_at(b, end, &pos);
}

// First pass: follows "startxref" to the newest cross-reference section for
// /Root, /Info and /Encrypt. Nothing here fails: bad data ends the pass.
void read_trailer_facts(Doc &doc, const KeyIndex &idx) {
    if (idx.startxref.empty()) return;
    const unsigned char *b = doc.data.data();
    const int32_t size = doc.size;
    int32_t pos = idx.startxref.back() + 9;
    const int32_t start = parse_int_at(b, size, &pos);
    if (start < 0) return;
    doc.startxref = start;
    int64_t o = start;
    for (int visit = 0; visit < kMaxXrefSections; ++visit) {
        if (o < 0 || o >= size) return;
        int32_t q = skip_pdf_ws(b, size, static_cast<int32_t>(o));
        if (q >= size) return;
        if (kw_at(b, q, size, "xref")) {
            read_classic_trailers(doc, idx, q);  // no /Prev from a classic section
            return;
        }
        if (!is_digit(b[q])) return;
        // A cross-reference stream: "num gen obj <<...>> stream".
        while (q < size && is_digit(b[q])) ++q;
        q = skip_pdf_ws(b, size, q);
        if (q < size && is_digit(b[q])) {
            while (q < size && is_digit(b[q])) ++q;
            q = skip_pdf_ws(b, size, q);
        }
        if (!kw_at(b, q, size, "obj")) return;
        q = skip_ws64(b, size, static_cast<int64_t>(q) + 3);
        int32_t end = size;
        if (q < size && b[q] == '<') {
            const int32_t s = dict_stream_kw(b, size, q);
            if (s >= 0) end = s;
        }
        bool has_prev = false, has_root = false;
        const int32_t prev = int_after_name(b, q, end, "Prev", &has_prev);
        const int32_t root = int_after_name(b, q, end, "Root", &has_root);
        if (has_root && doc.trailer_root < 0 && root >= 0) doc.trailer_root = root;
        if (find_name(b, end, q, end, "Encrypt") >= 0) doc.encrypted = 1;
        if (!has_prev || prev < 0 || prev >= size) return;
        o = prev;
    }
}

// Second pass: /Encrypt in any trailer dictionary of the file, reachable from
// "startxref" or not, looked for up to 4096 bytes past each "trailer".
bool trailers_name_encrypt(const Doc &doc, const KeyIndex &idx, Closer &closer) {
    const unsigned char *b = doc.data.data();
    const int32_t size = doc.size;
    const std::vector<int32_t> &tokens = idx.names[kEncrypt];
    for (int32_t t : idx.trailer) {
        const int64_t from = static_cast<int64_t>(t) + 7;
        const int64_t window = std::min<int64_t>(static_cast<int64_t>(t) + kTrailerWindow, size);
        const int32_t q = skip_ws64(b, static_cast<int32_t>(window), from);
        const int32_t close = close_within(closer, q, window);
        const int64_t end = close >= 0 ? close : window;
        const int32_t p = first_at(tokens, from);
        if (p >= 0 && p + 8 <= end) return true;
        // A token cut by the window's edge counts whatever follows it.
        if (close < 0 && end < size && end - 8 >= from &&
            find_name(b, size, static_cast<int32_t>(end - 8), static_cast<int32_t>(end),
                      "Encrypt") >= 0)
            return true;
    }
    return false;
}

// ---- Header scan ------------------------------------------------------------------

// Where stream data begins after the "stream" keyword at `s`: after the end of
// line (CR, LF or CR LF, spaces and tabs allowed before it), else one byte
// after the keyword.
int32_t stream_data_start(const unsigned char *b, int32_t size, int32_t s) {
    int64_t p = static_cast<int64_t>(s) + 6;
    if (p >= size) return static_cast<int32_t>(p);
    while (p < size && (b[p] == ' ' || b[p] == '\t')) ++p;
    if (p < size && b[p] == '\n') return static_cast<int32_t>(p + 1);
    if (p < size && b[p] == '\r') {
        if (p + 1 < size && b[p + 1] == '\n') return static_cast<int32_t>(p + 2);
        return static_cast<int32_t>(p + 1);
    }
    return s + 7;
}

// What follows a dictionary's closing ">>": the "stream" keyword (or -1) and
// where its data begins.
struct AfterClose {
    int32_t stream_kw;
    int32_t data_start;
};

struct HeaderScan {
    const unsigned char *b;
    int32_t size;
    const KeyIndex &idx;
    Closer &closer;
    // Several headers can share one closing ">>" (a header written inside
    // another's dictionary string); what follows it is read once.
    std::map<int32_t, AfterClose> after_close;
};

AfterClose after_close_of(HeaderScan &hs, int32_t close) {
    const auto it = hs.after_close.find(close);
    if (it != hs.after_close.end()) return it->second;
    AfterClose a{-1, -1};
    const int32_t q = skip_ws64(hs.b, hs.size, static_cast<int64_t>(close) + 2);
    if (kw_at(hs.b, q, hs.size, "stream")) {
        a.stream_kw = q;
        a.data_start = stream_data_start(hs.b, hs.size, q);
    }
    hs.after_close.emplace(close, a);
    return a;
}

// The object number and generation of a "num gen obj" header.
struct Header {
    int32_t num;
    int32_t gen;
    int64_t start;  // the first digit of the number
};

// Reads the header whose "obj" keyword is at `p`, walking back over line
// blanks, the generation's digits, line blanks and the number's digits.
// False when no header with a positive number stands there.
bool read_header(const unsigned char *b, int32_t p, Header *h) {
    if (p == 0) return false;
    int64_t i = static_cast<int64_t>(p) - 1;
    while (i >= 0 && is_line_blank(b[i])) --i;
    if (i < 0 || !is_digit(b[i])) return false;
    const int64_t gen_end = i + 1;
    while (i >= 0 && is_digit(b[i])) --i;
    if (i < 0 || !is_line_blank(b[i])) return false;
    const int64_t gen_start = i + 1;
    while (i >= 0 && is_line_blank(b[i])) --i;
    if (i < 0 || !is_digit(b[i])) return false;
    const int64_t num_end = i + 1;
    while (i >= 0 && is_digit(b[i])) --i;
    h->start = i + 1;
    h->num = digits_value(b, h->start, num_end);
    h->gen = digits_value(b, gen_start, gen_end);
    return h->num > 0;
}

// Where the first object header after `from` and before `to` starts, or -1.
int64_t next_header_in(const HeaderScan &hs, int64_t from, int64_t to) {
    for (int32_t k = first_in(hs.idx.obj, from, to); k >= 0;
         k = first_in(hs.idx.obj, static_cast<int64_t>(k) + 1, to)) {
        Header h;
        if (read_header(hs.b, k, &h) && h.start > from) return h.start;
    }
    return -1;
}

// Fills the entry for the value that starts at `q` (just past "obj" and its
// white space). Returns false when no entry is to be added.
bool read_object_value(HeaderScan &hs, int32_t p, int32_t q, ObjEntry &e) {
    const unsigned char *b = hs.b;
    const int32_t size = hs.size;
    if (b[q] != '<') {
        const int32_t endobj = first_at(hs.idx.endobj, static_cast<int64_t>(p) + 3);
        if (endobj < 0) return false;
        e.endobj_pos = endobj;
        e.obj_end = clamp32(static_cast<int64_t>(endobj) + 6);
        return true;
    }
    e.dict_pos = q;
    const bool is_dict = static_cast<int64_t>(q) + 1 < size && b[q + 1] == '<';
    int32_t close = -1;  // the unbounded close of a "<<" dictionary
    if (is_dict) {
        close = close_within(hs.closer, q, size);
        if (close >= 0) {
            const AfterClose a = after_close_of(hs, close);
            if (a.stream_kw >= 0) {
                e.dict_end = a.stream_kw;
                e.dict_close = close + 2;
                e.has_stream = 1;
                e.data_start = a.data_start;  // the end is settled by the stream extents
                return true;
            }
        }
    }
    int32_t endobj = first_at(hs.idx.endobj, q);
    // A dictionary that closes beyond the first "endobj", with no object
    // header in between, holds that word inside one of its strings: the
    // object ends at the first "endobj" after its ">>".
    if (is_dict && endobj >= 0 && close > endobj && next_header_in(hs, q, close) < 0)
        endobj = first_at(hs.idx.endobj, static_cast<int64_t>(close) + 2);
    if (endobj < 0) {
        const int32_t c = is_dict ? close : close_within(hs.closer, q, size);
        if (c < 0) return false;
        e.endobj_pos = c + 2;
    } else {
        int32_t c;
        if (is_dict)
            c = (close >= 0 && static_cast<int64_t>(close) + 1 < endobj) ? close : -1;
        else
            c = close_within(hs.closer, q, endobj);
        e.endobj_pos = endobj;
        // "endobj" missing, and the next object's header stands between the
        // ">>" and the "endobj" that was found: the object ends at its ">>".
        if (c >= 0 && first_in(hs.idx.obj, static_cast<int64_t>(c) + 2, endobj) >= 0)
            e.endobj_pos = c + 2;
        // A dictionary that never closes ends where the next object begins,
        // not at a distant "endobj" behind it: otherwise every such object's
        // dictionary text would span all the objects after it.
        if (c < 0 && is_dict) {
            const int64_t next = next_header_in(hs, q, endobj);
            if (next >= 0) e.endobj_pos = static_cast<int32_t>(next);
        }
    }
    e.obj_end = clamp32(static_cast<int64_t>(e.endobj_pos) + 6);
    // The dictionary is what lies between "<<" and its ">>" inside the object;
    // one that does not close there is no dictionary, for every reader.
    e.dict_close = -1;
    if (is_dict) {
        const int32_t c = close_within(hs.closer, q, e.endobj_pos > 0 ? e.endobj_pos : size);
        if (c >= 0) e.dict_close = c + 2;
    }
    return true;
}

// Records every "num gen obj" header of the file, in file order.
void scan_headers(Doc &doc, const KeyIndex &idx, Closer &closer) {
    HeaderScan hs{doc.data.data(), doc.size, idx, closer, {}};
    const unsigned char *b = hs.b;
    const int32_t size = hs.size;
    for (int32_t p : idx.obj) {
        Header h;
        if (!read_header(b, p, &h)) continue;
        ObjEntry e;
        e.num = h.num;
        e.gen = h.gen;
        e.obj_start = static_cast<int32_t>(h.start);
        const int32_t q = skip_ws64(b, size, static_cast<int64_t>(p) + 3);
        if (q >= size) continue;
        if (read_object_value(hs, p, q, e)) doc.objs.push_back(e);
    }
}

// ---- Stream extents ----------------------------------------------------------------

// The value after a /Length token. Read to the end of the file: a dictionary
// ends at its "stream" keyword, which no digit, 'R' or name may touch, so the
// result is the same as reading to that keyword.
struct LengthValue {
    bool read = false;    // computed yet
    bool number = false;  // a digit follows the token
    bool ref = false;     // "v gen R"
    int32_t v = -1;
};

LengthValue read_length_value(const unsigned char *b, int32_t size, int32_t slash) {
    LengthValue lv;
    lv.read = true;
    int32_t q = skip_ws64(b, size, static_cast<int64_t>(slash) + 7);
    if (q >= size || !is_digit(b[q])) return lv;
    lv.number = true;
    lv.v = parse_int_at(b, size, &q);
    q = skip_pdf_ws(b, size, q);
    if (q < size && is_digit(b[q])) {
        parse_int_at(b, size, &q);
        q = skip_pdf_ws(b, size, q);
        lv.ref = q < size && b[q] == 'R';
    }
    return lv;
}

// The integer value of a direct object: "num gen obj value".
int32_t read_object_int(const unsigned char *b, int32_t size, int32_t obj_start) {
    int32_t q = obj_start;
    parse_int_at(b, size, &q);
    q = skip_pdf_ws(b, size, q);
    if (q < size && is_digit(b[q])) {
        parse_int_at(b, size, &q);
        q = skip_pdf_ws(b, size, q);
    }
    if (kw_at(b, q, size, "obj")) q = skip_ws64(b, size, static_cast<int64_t>(q) + 3);
    return parse_int_at(b, size, &q);
}

// Skips PDF white space, remembering the runs already crossed so that no byte
// is crossed twice however many lengths end inside one run.
struct WsRuns {
    std::map<int32_t, int32_t> runs;  // start -> first byte that is not white space
};

int32_t skip_ws_remembered(WsRuns &w, const unsigned char *b, int32_t size, int32_t pos) {
    if (pos >= size) return pos;
    auto next = w.runs.upper_bound(pos);
    if (next != w.runs.begin()) {
        const auto before = std::prev(next);
        if (pos <= before->second) return before->second;
    }
    const int32_t limit = next == w.runs.end() ? size : next->first;
    int32_t p = pos;
    while (p < limit && is_pdf_ws(b[p])) ++p;
    if (p == limit && next != w.runs.end()) {
        p = next->second;
        w.runs.erase(next);
    }
    w.runs.emplace(pos, p);
    return p;
}

// Finds, for an indirect /Length, the first entry with a number that is not
// known to lie inside stream data.
struct NumLookup {
    std::vector<int32_t> order;   // table indices sorted by number, then index
    std::vector<int32_t> cursor;  // per group start: first entry not yet excluded
};

NumLookup make_num_lookup(const std::vector<ObjEntry> &objs) {
    NumLookup nl;
    nl.order.resize(objs.size());
    for (size_t i = 0; i < objs.size(); ++i) nl.order[i] = static_cast<int32_t>(i);
    std::stable_sort(nl.order.begin(), nl.order.end(),
                     [&](int32_t a, int32_t c) { return objs[a].num < objs[c].num; });
    nl.cursor.resize(objs.size());
    for (size_t i = 0; i < objs.size(); ++i) nl.cursor[i] = static_cast<int32_t>(i);
    return nl;
}

// The first entry numbered `num` that is not known to lie inside stream
// data, as a position in `nl.order`; -1 when there is none.
int32_t first_candidate(NumLookup &nl, const std::vector<ObjEntry> &objs,
                        const std::vector<char> &excluded, int32_t num) {
    const auto it = std::lower_bound(nl.order.begin(), nl.order.end(), num,
                                     [&](int32_t a, int32_t n) { return objs[a].num < n; });
    if (it == nl.order.end() || objs[*it].num != num) return -1;
    int32_t &cur = nl.cursor[it - nl.order.begin()];
    const int32_t count = static_cast<int32_t>(nl.order.size());
    while (cur < count && objs[nl.order[cur]].num == num && excluded[nl.order[cur]]) ++cur;
    if (cur >= count || objs[nl.order[cur]].num != num) return -1;
    return cur;
}

struct Extents {
    const unsigned char *b;
    int32_t size;
    const KeyIndex &idx;
    std::vector<LengthValue> length_values;  // per /Length token
    std::vector<int64_t> object_ints;        // per entry: read_object_int, or unknown
    NumLookup lookup;
    WsRuns ws;
};

constexpr int64_t kUnknown = INT64_MIN;
// Definitions of one number tried for an indirect /Length: enough for a file
// that embeds another PDF, bounded so that hostile files stay linear.
constexpr int kLengthCandidates = 8;

// True when `v` bytes of data from `e.data_start` are followed by "endstream"
// (after optional white space); sets the stream's extent then.
bool trust_length(Extents &x, ObjEntry &e, int64_t v) {
    if (v < 0 || v > static_cast<int64_t>(x.size) - e.data_start) return false;
    const int32_t end = static_cast<int32_t>(e.data_start + v);
    const int32_t t = skip_ws_remembered(x.ws, x.b, x.size, end);
    if (!kw_at(x.b, t, x.size, "endstream")) return false;
    e.data_end = end;
    e.stream_len = static_cast<int32_t>(v);
    e.endobj_pos = first_at(x.idx.endobj, end);
    e.obj_end = e.endobj_pos >= 0 ? e.endobj_pos + 6 : t + 9;
    return true;
}

// Settles where the data of stream entry `i` ends. A /Length is trusted when
// "endstream" follows the data it delimits; otherwise the data runs to the
// first "endstream". An indirect /Length takes the first definition of its
// object that gives a trusted length and does not lie inside the very data it
// would delimit (a file embedding another PDF uncompressed holds objects of
// the same numbers). Returns true for a trusted /Length.
bool settle_stream(Extents &x, std::vector<ObjEntry> &objs, const std::vector<char> &excluded,
                   size_t i) {
    ObjEntry &e = objs[i];
    const std::vector<int32_t> &tokens = x.idx.names[kLength];
    const auto it = std::lower_bound(tokens.begin(), tokens.end(), e.dict_pos);
    if (it != tokens.end() && static_cast<int64_t>(*it) + 7 <= e.dict_end) {
        LengthValue &lv = x.length_values[it - tokens.begin()];
        if (!lv.read) lv = read_length_value(x.b, x.size, *it);
        if (lv.number && !lv.ref && trust_length(x, e, lv.v)) return true;
        if (lv.number && lv.ref) {
            int32_t at = first_candidate(x.lookup, objs, excluded, lv.v);
            for (int tried = 0; at >= 0 && at < static_cast<int32_t>(x.lookup.order.size()) &&
                                tried < kLengthCandidates;
                 ++at) {
                const int32_t target = x.lookup.order[at];
                const ObjEntry &t = objs[target];
                if (t.num != lv.v) break;
                ++tried;
                if (excluded[target] || t.has_stream) continue;
                int64_t &value = x.object_ints[target];
                if (value == kUnknown) value = read_object_int(x.b, x.size, t.obj_start);
                if (value < 0) continue;
                if (t.obj_start >= e.data_start && t.obj_start - e.data_start < value) continue;
                if (trust_length(x, e, value)) return true;
            }
        }
    }
    const int32_t t = first_at(x.idx.endstream, e.data_start);
    if (t < 0) return false;  // no end at all: the four fields stay -1
    e.data_end = t;
    e.stream_len = t - e.data_start;  // the end of line before "endstream" counts as data
    e.endobj_pos = first_at(x.idx.endobj, static_cast<int64_t>(t) + 9);
    e.obj_end = e.endobj_pos >= 0 ? e.endobj_pos + 6 : t + 9;
    return false;
}

// Fixes the extent of every stream, in file order, and removes the headers
// that lie inside the data of a stream whose /Length is trusted: those are
// stream content, not objects.
void settle_streams(Doc &doc, const KeyIndex &idx) {
    std::vector<ObjEntry> &objs = doc.objs;
    Extents x{doc.data.data(), doc.size, idx, {}, {}, {}, {}};
    x.length_values.resize(idx.names[kLength].size());
    x.object_ints.assign(objs.size(), kUnknown);
    x.lookup = make_num_lookup(objs);
    std::vector<char> excluded(objs.size(), 0);
    using Span = std::pair<int32_t, int32_t>;  // trusted stream data [start, end)
    std::priority_queue<Span, std::vector<Span>, std::greater<Span>> pending;
    int32_t covered_to = -1;  // end of the trusted data reached so far
    bool any_excluded = false;
    for (size_t i = 0; i < objs.size(); ++i) {
        const int32_t at = objs[i].obj_start;
        while (!pending.empty() && pending.top().first <= at) {
            covered_to = std::max(covered_to, pending.top().second);
            pending.pop();
        }
        if (at < covered_to) {
            excluded[i] = 1;
            any_excluded = true;
            continue;
        }
        if (!objs[i].has_stream) continue;
        if (settle_stream(x, objs, excluded, i) && objs[i].data_end > objs[i].data_start)
            pending.emplace(objs[i].data_start, objs[i].data_end);
    }
    if (!any_excluded) return;
    size_t kept = 0;
    for (size_t i = 0; i < objs.size(); ++i)
        if (!excluded[i]) objs[kept++] = objs[i];
    objs.resize(kept);
}

// ---- Object streams ------------------------------------------------------------------

struct Container {
    size_t index;   // in the table
    int32_t n;      // /N
    int32_t first;  // /First
};

// The integer after the first /name token of the stream dictionary [start, end).
int32_t dict_int(const Doc &doc, const KeyIndex &idx, IndexedName which, int32_t start, int32_t end,
                 bool *found) {
    const int32_t slash = first_in(idx.names[which], start, end);
    *found = slash >= 0;
    if (slash < 0) return -1;
    int32_t pos = skip_ws64(doc.data.data(), end,
                            slash + 1 + static_cast<int64_t>(std::strlen(kIndexedNames[which])));
    return parse_int_at(doc.data.data(), end, &pos);
}

// Inflates one object stream and appends its members. `rank` receives the
// container's file position for each member appended.
void expand_one(Doc &doc, const Container &c, std::vector<int32_t> &rank, uint64_t &retained) {
    const ObjEntry container = doc.objs[c.index];
    const uint64_t packed = static_cast<uint64_t>(container.data_end - container.data_start);
    const uint64_t cap = std::min<uint64_t>(20 * packed + 4096, kInflateLimit);
    // Beyond the first guess, buffers grow only while all the expanded object
    // streams together stay within the decoder's limit.
    const uint64_t limit = std::max(cap, retained < kInflateLimit ? kInflateLimit - retained : 0);
    std::unique_ptr<unsigned char[], FreeDeleter> buf;
    uint64_t produced = 0;
    if (inflate_growing(doc.data.data() + container.data_start, packed, cap, limit, buf,
                        &produced) != 0)
        return;  // undecodable, too large, or out of memory
    // Give back what the guess left unused.
    if (void *fit = std::realloc(buf.get(), produced > 0 ? produced : 1); fit != nullptr) {
        (void)buf.release();
        buf.reset(static_cast<unsigned char *>(fit));
    }
    const unsigned char *data = buf.get();
    const int32_t len = static_cast<int32_t>(produced);

    // The header: n pairs of object number and offset (relative to /First).
    // A failed read yields -1 and does not move on, so every later read fails
    // too: they are not made again.
    std::vector<int32_t> nums(static_cast<size_t>(c.n), -1), offsets(static_cast<size_t>(c.n), -1);
    int32_t pos = 0;
    bool header_ended = false;
    auto read_next = [&]() -> int32_t {
        if (header_ended) return -1;
        const int32_t before = pos;
        const int32_t v = parse_int_at(data, len, &pos);
        if (pos == before) header_ended = true;
        return v;
    };
    for (int32_t i = 0; i < c.n && !header_ended; ++i) {
        nums[i] = read_next();
        offsets[i] = read_next();
    }
    bool used = false;
    for (int32_t i = 0; i < c.n; ++i) {
        const int64_t start = static_cast<int64_t>(c.first) + offsets[i];
        int64_t end = i + 1 < c.n ? static_cast<int64_t>(c.first) + offsets[i + 1] : len;
        if (start < 0 || start > len || end < start) continue;
        if (end > len) end = len;  // an offset past the data: the member ends with it
        if (nums[i] <= 0) continue;
        ObjEntry m;
        m.num = nums[i];
        m.gen = 0;
        m.dict_pos = m.dict_end = -1;
        m.data_start = m.data_end = m.endobj_pos = m.obj_end = m.obj_start = m.stream_len = 0;
        m.has_stream = 0;
        m.compressed = 1;
        m.text = data + start;
        m.text_len = static_cast<int32_t>(end - start);
        doc.objs.push_back(m);
        rank.push_back(container.obj_start);
        used = true;
    }
    if (used) {
        doc.objstm_bufs.push_back(std::move(buf));
        retained += produced;
    }
}

// Expands every object stream of the table once. Marks the containers (every
// stream naming /ObjStm, expanded or not) in `is_container`, and gives every
// entry its file position in `rank`: a member stands where its container does.
void expand_object_streams(Doc &doc, const KeyIndex &idx, std::vector<char> &is_container,
                           std::vector<int32_t> &rank) {
    const size_t direct = doc.objs.size();
    is_container.assign(direct, 0);
    rank.resize(direct);
    std::vector<Container> found;
    for (size_t i = 0; i < direct; ++i) {
        const ObjEntry &e = doc.objs[i];
        rank[i] = e.obj_start;
        if (!e.has_stream || e.dict_pos < 0) continue;
        const int32_t end = e.dict_end > 0 ? e.dict_end : doc.size;
        if (first_in(idx.names[kObjStm], e.dict_pos, end) < 0) continue;
        is_container[i] = 1;
        if (e.data_end - e.data_start <= 0) continue;
        bool has_n = false, has_first = false;
        const int32_t n = dict_int(doc, idx, kN, e.dict_pos, end, &has_n);
        const int32_t first = dict_int(doc, idx, kFirst, e.dict_pos, end, &has_first);
        if (!has_first) continue;
        if (n < 1 || n > kMaxObjStmCount || first <= 0) continue;
        found.push_back({i, n, first});
    }
    // Headers that share one "stream" keyword (the later ones written inside
    // the first one's dictionary) share its data: the stream is expanded once,
    // for the first of them, so that no file can make it decoded again and
    // again.
    std::vector<std::pair<int32_t, size_t>> by_data(found.size());
    for (size_t k = 0; k < found.size(); ++k) by_data[k] = {doc.objs[found[k].index].data_start, k};
    std::sort(by_data.begin(), by_data.end());
    std::vector<char> shared(found.size(), 0);
    for (size_t k = 1; k < by_data.size(); ++k)
        if (by_data[k].first == by_data[k - 1].first) shared[by_data[k].second] = 1;
    uint64_t retained = 0;
    for (size_t k = 0; k < found.size(); ++k)
        if (!shared[k]) expand_one(doc, found[k], rank, retained);
}

// ---- Duplicate resolution -------------------------------------------------------------

// Keeps one definition per object number: the one standing last in the file,
// a member standing where its object stream does, and among members of one
// stream the last in its header. Containers and numbers of 2^23 and above go.
// Survivors keep their table order. Fails when a number exceeds the file size.
bool resolve_duplicates(Doc &doc, const std::vector<char> &is_container,
                        const std::vector<int32_t> &rank) {
    std::vector<ObjEntry> &objs = doc.objs;
    const auto container = [&](size_t i) { return i < is_container.size() && is_container[i]; };
    int32_t top = 0;
    for (size_t i = 0; i < objs.size(); ++i)
        if (!container(i) && objs[i].num >= 0 && objs[i].num < kMaxObjNum)
            top = std::max(top, objs[i].num);
    // Every number counted in `top` keeps one survivor, so `top` is the
    // highest number of the final table.
    if (top > doc.size) {
        set_error("object number %ld out of range for a %ld-byte file", static_cast<long>(top),
                  static_cast<long>(doc.size));
        return false;
    }
    std::vector<int32_t> best(static_cast<size_t>(top) + 1, -1);
    for (size_t i = 0; i < objs.size(); ++i) {
        const int32_t num = objs[i].num;
        if (container(i) || num < 0 || num > top) continue;
        const int32_t cur = best[num];
        if (cur < 0 || rank[i] >= rank[cur]) best[num] = static_cast<int32_t>(i);
    }
    size_t kept = 0;
    int32_t max_num = 0;
    for (size_t i = 0; i < objs.size(); ++i) {
        const int32_t num = objs[i].num;
        if (container(i) || num < 0 || num > top || best[num] != static_cast<int32_t>(i)) continue;
        max_num = std::max(max_num, num);
        objs[kept++] = objs[i];
    }
    objs.resize(kept);
    doc.max_obj_num = max_num;
    // Numbers are unique from here on: index them once for every later look-up.
    doc.obj_index.assign(static_cast<size_t>(max_num) + 1, -1);
    for (size_t i = 0; i < objs.size(); ++i)
        if (objs[i].num >= 0) doc.obj_index[static_cast<size_t>(objs[i].num)] = static_cast<int32_t>(i);
    return true;
}

// ---- Catalog and page tree ----------------------------------------------------------

// True when the entry's dictionary text holds the name Catalog.
bool names_catalog(const Doc &doc, const KeyIndex &idx, const ObjEntry &e) {
    if (e.compressed) return obj_has_key(doc, e, "Catalog") != 0;
    const DictRange r = obj_dict_range(doc, e);
    if (r.bytes == nullptr) return false;
    const int32_t p = first_in(idx.names[kCatalog], r.start, r.end);
    return p >= 0 && static_cast<int64_t>(p) + 8 <= r.end;
}

struct PageWalk {
    Doc &doc;
    std::vector<unsigned char> visited;  // nodes already entered
    std::vector<signed char> type;       // obj_type per object number; -1 before the first look
};

const ObjEntry *walk_find(const PageWalk &w, int32_t num) { return doc_find_obj(w.doc, num); }

// The kids named by the first /Kids array of a node's dictionary text, at
// most `cap` of them.
std::vector<int32_t> read_kids(const DictRange &r, int64_t cap) {
    std::vector<int32_t> kids;
    const unsigned char *b = r.bytes;
    const int32_t end = r.end;
    for (int32_t slash = find_name(b, end, r.start, end, "Kids"); slash >= 0;
         slash = find_name(b, end, slash + 1, end, "Kids")) {
        int32_t q = skip_ws64(b, end, static_cast<int64_t>(slash) + 5);
        if (q >= end || b[q] != '[') continue;
        q = skip_pdf_ws(b, end, q + 1);
        while (q < end && b[q] != ']') {
            if (is_digit(b[q])) {
                const int32_t kid = parse_int_at(b, end, &q);
                if (kid > 0 && static_cast<int64_t>(kids.size()) < cap) kids.push_back(kid);
                q = skip_pdf_ws(b, end, q);
                if (q < end && is_digit(b[q])) {
                    parse_int_at(b, end, &q);
                    q = skip_pdf_ws(b, end, q);
                    if (q < end && b[q] == 'R') ++q;
                }
            } else {
                ++q;
            }
            q = skip_pdf_ws(b, end, q);
        }
        break;  // only the first /Kids that holds an array counts
    }
    return kids;
}

// A node's kids are read from its dictionary, with room for at most (its
// length / 4) + 1024 of them.
std::vector<int32_t> node_kids(const Doc &doc, const ObjEntry &e) {
    int64_t cap = kMinKids;
    if (e.compressed) {
        cap = e.text_len / 4 + kMinKids;
    } else {
        const int64_t len = static_cast<int64_t>(e.endobj_pos) - e.obj_start;
        if (len > 0) cap = len / 4 + kMinKids;
    }
    const DictRange r = obj_dict_range(doc, e);
    if (r.bytes == nullptr) return {};
    return read_kids(r, cap);
}

// True when the dictionary range has /key among its own entries.
bool has_top_level_key(const DictRange &r, const char *key) {
    const unsigned char *text = r.bytes + r.start;
    const int32_t end = r.end - r.start;
    int32_t pos = dict_entries_start(text, end);
    DictEntry e;
    while (pos >= 0 && dict_next_entry(text, end, &pos, &e))
        if (dict_entry_is(text, e, key)) return true;
    return false;
}

// What a kid of the page tree is: 1 a page (/Type /Page, or a dictionary
// with neither /Type nor /Kids, which readers show as a page too), 2 a node
// (/Type /Pages, or any other dictionary with /Kids), 0 neither (no
// dictionary, or a leaf of another type).
int tree_kind(const Doc &doc, const ObjEntry &e) {
    const int type = obj_type(doc.data.data(), doc.size, e);
    if (type != 0) return type;
    const DictRange r = obj_dict_range(doc, e);
    if (r.bytes == nullptr) return 0;
    if (has_top_level_key(r, "Kids")) return 2;
    return has_top_level_key(r, "Type") ? 0 : 1;
}

// Depth-first walk of the page tree from object `root`: every page reached
// is appended to the page list, in document order; every node's /Kids are
// followed, each node once. The walk keeps its own stack, so a tree of any
// depth is walked whole; the visited nodes bound it.
void walk_pages(PageWalk &w, int32_t root) {
    struct Level {
        std::vector<int32_t> kids;
        size_t next = 0;
        size_t node = SIZE_MAX;  // index in page_nodes of the node they come from
    };
    std::vector<Level> stack;
    stack.push_back(Level{{root}, 0, SIZE_MAX});
    while (!stack.empty()) {
        Level &top = stack.back();
        if (top.next == top.kids.size()) {
            stack.pop_back();
            continue;
        }
        const int32_t num = top.kids[top.next++];
        const size_t parent = top.node;
        const ObjEntry *e = walk_find(w, num);
        if (e == nullptr) continue;
        // A node or page listed many times is classified once.
        signed char &type = w.type[static_cast<size_t>(num)];
        if (type < 0) type = static_cast<signed char>(tree_kind(w.doc, *e));
        if (type == 0) continue;  // nothing a reader takes for a page or a node
        // The root of the tree is a node, or a page that says so: an untyped
        // leaf is a page only as a kid.
        if (parent == SIZE_MAX && type == 1 && obj_type(w.doc.data.data(), w.doc.size, *e) != 1)
            continue;
        if (type != 1) {
            if (w.visited[static_cast<size_t>(num)]) continue;
            w.visited[static_cast<size_t>(num)] = 1;
        }
        if (parent != SIZE_MAX) w.doc.page_nodes[parent].kids.push_back(num);
        if (type == 1) {
            w.doc.pages.push_back(PageRef{num});
            continue;
        }
        w.doc.page_nodes.push_back(PageNode{num, {}});
        std::vector<int32_t> kids = node_kids(w.doc, *e);
        // `top` is stale once the stack grows.
        if (!kids.empty()) stack.push_back(Level{std::move(kids), 0, w.doc.page_nodes.size() - 1});
    }
}

// ---- Loading -------------------------------------------------------------------------

// Reads the whole file into doc.data. Fails with the message set.
bool read_file(const char *path, Doc &doc) {
    // Only a regular file is read: a FIFO or a device would block the open
    // or the read, and a directory has no bytes to give.
    struct stat st;
    if (stat(path, &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            set_error("not a regular file: %s", path);
            return false;
        }
        if (st.st_size > INT32_MAX) {
            set_error("the input file is 2 GiB or more, which this engine cannot read: %s", path);
            return false;
        }
    }
    std::FILE *f = std::fopen(path, "rb");
    if (f == nullptr) {
        set_error("cannot open %s: %s", path, system_error_text(errno).text);
        return false;
    }
    long size = -1;
    if (std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
    if (size <= 0 || std::fseek(f, 0, SEEK_SET) != 0) {
        std::fclose(f);
        set_error("empty input file: %s", path);
        return false;
    }
    if (size > INT32_MAX) {  // offsets are 32-bit: larger files cannot be held
        std::fclose(f);
        set_error("the input file is 2 GiB or more, which this engine cannot read: %s", path);
        return false;
    }
    bool ok = true;
    try {
        doc.data.resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc &) {
        ok = false;
    }
    if (ok)
        ok = std::fread(doc.data.data(), 1, static_cast<size_t>(size), f) ==
             static_cast<size_t>(size);
    std::fclose(f);
    if (!ok) {
        set_error("read error on %s", path);
        return false;
    }
    doc.size = static_cast<int32_t>(size);
    return true;
}

// Loads the file bytes that doc.data holds; `path` names them in messages.
int load_held(const char *path, Doc &doc) {
    const KeyIndex idx = build_key_index(doc.data.data(), doc.size);
    read_trailer_facts(doc, idx);

    Closer closer = make_closer(doc.data.data(), doc.size);
    scan_headers(doc, idx, closer);
    release_close_tables(closer);
    settle_streams(doc, idx);

    std::vector<char> is_container;
    std::vector<int32_t> rank;
    expand_object_streams(doc, idx, is_container, rank);
    if (!resolve_duplicates(doc, is_container, rank)) return -1;
    if (doc.objs.empty()) {
        set_error("no PDF objects found in %s", path);
        return -1;
    }
    if (doc.encrypted || trailers_name_encrypt(doc, idx, closer)) {
        doc.encrypted = 1;
        set_error("encrypted PDFs are not supported: %s", path);
        return -1;
    }

    // The catalog: the trailer's /Root when that object exists, else the first
    // object that names /Catalog.
    doc.root = doc.trailer_root;
    if (doc.root < 0 || doc_find_obj(doc, doc.root) == nullptr) {
        for (const ObjEntry &e : doc.objs) {
            if (names_catalog(doc, idx, e)) {
                doc.root = e.num;
                break;
            }
        }
    }
    doc.info = (doc.trailer_info >= 0 && doc_find_obj(doc, doc.trailer_info) != nullptr)
                   ? doc.trailer_info
                   : -1;

    const ObjEntry *catalog = doc_find_obj(doc, doc.root);
    if (catalog == nullptr) return 0;
    const DictRange r = obj_dict_range(doc, *catalog);
    if (r.bytes == nullptr) return 0;
    const int32_t slash = find_name(r.bytes, r.end, r.start, r.end, "Pages");
    if (slash < 0) return 0;
    int32_t pos = skip_ws64(r.bytes, r.end, static_cast<int64_t>(slash) + 6);
    const int32_t pages = parse_int_at(r.bytes, r.end, &pos);
    if (pages <= 0) return 0;

    const size_t slots = static_cast<size_t>(doc.max_obj_num) + 1;
    PageWalk w{doc, std::vector<unsigned char>(slots, 0), std::vector<signed char>(slots, -1)};
    doc.pages_root = pages;
    walk_pages(w, pages);
    return 0;
}

int load(const char *path, Doc &doc) {
    if (path == nullptr) {
        set_error("NULL path argument");
        return -1;
    }
    if (!read_file(path, doc)) return -1;
    return load_held(path, doc);
}

}  // namespace

int doc_load(const char *path, Doc &doc) {
    doc_free(doc);
    try {
        if (load(path, doc) == 0) return 0;
    } catch (...) {
        doc_free(doc);  // nothing stays allocated, whatever went wrong
        throw;
    }
    doc_free(doc);
    return -1;
}

int doc_load_bytes(std::vector<unsigned char> bytes, const char *name, Doc &doc) {
    doc_free(doc);
    if (bytes.empty() || bytes.size() > static_cast<size_t>(INT32_MAX)) {
        set_error("empty input file: %s", name);
        return -1;
    }
    doc.data = std::move(bytes);
    doc.size = static_cast<int32_t>(doc.data.size());
    try {
        if (load_held(name, doc) == 0) return 0;
    } catch (...) {
        doc_free(doc);  // nothing stays allocated, whatever went wrong
        throw;
    }
    doc_free(doc);
    return -1;
}

void doc_free(Doc &doc) {
    doc = Doc{};
}
