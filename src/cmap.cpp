// The PostScript token reader and the CMap parser. CMap syntax follows
// ISO 32000-1 9.7.5 and 9.10.3; the block keywords are those of Adobe's CMap
// file format. Mappings are collected in file order, then resolved once into
// sorted, non-overlapping runs in which later definitions win.
#include "cmap.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>

#include "syntax.h"

// ---------------------------------------------------------------------------
// Tokens.

namespace {

bool is_ps_delimiter(unsigned char c) {
    return c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' ||
           c == '}' || c == '/' || c == '%';
}

bool is_ps_regular(unsigned char c) { return !is_pdf_ws(c) && !is_ps_delimiter(c); }

// Offset just past the run of regular bytes that starts at `p`.
size_t regular_run_end(const unsigned char *bytes, size_t len, size_t p) {
    while (p < len && is_ps_regular(bytes[p])) ++p;
    return p;
}

bool parse_integer(const unsigned char *bytes, size_t start, size_t end, int64_t *value) {
    size_t p = start;
    bool negative = false;
    if (p < end && (bytes[p] == '+' || bytes[p] == '-')) negative = bytes[p++] == '-';
    if (p == end) return false;
    // Saturates far below the int64 range; no code or CID comes near it.
    constexpr int64_t kCap = int64_t{1} << 53;
    int64_t v = 0;
    for (; p < end; ++p) {
        if (!is_digit(bytes[p])) return false;
        v = std::min(kCap, v * 10 + (bytes[p] - '0'));
    }
    *value = negative ? -v : v;
    return true;
}

}  // namespace

PsToken ps_next_token(const unsigned char *bytes, size_t len, size_t *pos) {
    size_t p = *pos;
    while (p < len) {
        if (is_pdf_ws(bytes[p])) {
            ++p;
        } else if (bytes[p] == '%') {
            while (p < len && bytes[p] != '\n' && bytes[p] != '\r') ++p;
        } else {
            break;
        }
    }
    PsToken t;
    t.start = p;
    if (p >= len) {
        t.start = t.end = len;
        *pos = len;
        return t;
    }
    const unsigned char c = bytes[p];
    t.end = p + 1;
    switch (c) {
        case '[': t.kind = PsTokenKind::ArrayOpen; break;
        case ']': t.kind = PsTokenKind::ArrayClose; break;
        case '{': t.kind = PsTokenKind::ProcOpen; break;
        case '}': t.kind = PsTokenKind::ProcClose; break;
        case ')': t.kind = PsTokenKind::Bad; break;
        case '>':
            if (p + 1 < len && bytes[p + 1] == '>') {
                t.kind = PsTokenKind::DictClose;
                t.end = p + 2;
            } else {
                t.kind = PsTokenKind::Bad;
            }
            break;
        case '<': {
            if (p + 1 < len && bytes[p + 1] == '<') {
                t.kind = PsTokenKind::DictOpen;
                t.end = p + 2;
                break;
            }
            // A hex string holds hex digits and white space only; anything
            // else ends it as a bad token there, so that a missing '>' does
            // not swallow the entries that follow.
            size_t q = p + 1;
            while (q < len && (hex_digit_value(bytes[q]) >= 0 || is_pdf_ws(bytes[q]))) ++q;
            if (q < len && bytes[q] == '>') {
                t.kind = PsTokenKind::HexString;
                t.end = q + 1;
            } else {
                t.kind = PsTokenKind::Bad;
                t.end = q;
            }
            break;
        }
        case '(': {
            size_t q = p + 1;
            int depth = 1;
            while (q < len && depth > 0) {
                if (bytes[q] == '\\') {
                    q += 2;
                    continue;
                }
                if (bytes[q] == '(') ++depth;
                if (bytes[q] == ')') --depth;
                ++q;
            }
            t.kind = PsTokenKind::LiteralString;
            t.end = std::min(q, len);
            break;
        }
        case '/':
            t.kind = PsTokenKind::Name;
            t.end = regular_run_end(bytes, len, p + 1);
            break;
        default:
            t.end = regular_run_end(bytes, len, p);
            t.kind = parse_integer(bytes, p, t.end, &t.number) ? PsTokenKind::Integer
                                                               : PsTokenKind::Keyword;
            break;
    }
    *pos = t.end;
    return t;
}

bool ps_token_is(const unsigned char *bytes, const PsToken &token, const char *word) {
    const size_t n = std::strlen(word);
    return token.kind == PsTokenKind::Keyword && token.end - token.start == n &&
           std::memcmp(bytes + token.start, word, n) == 0;
}

bool ps_string_bytes(const unsigned char *bytes, const PsToken &token, std::string &out) {
    out.clear();
    if (token.kind == PsTokenKind::HexString) {
        int high = -1;
        for (size_t p = token.start + 1; p + 1 < token.end; ++p) {
            const int v = hex_digit_value(bytes[p]);
            if (v < 0) continue;
            if (high < 0) {
                high = v;
            } else {
                out.push_back(static_cast<char>(high << 4 | v));
                high = -1;
            }
        }
        if (high >= 0) out.push_back(static_cast<char>(high << 4));
        return true;
    }
    if (token.kind != PsTokenKind::LiteralString) return false;
    // Escapes of PDF and PostScript literal strings: \n \r \t \b \f \( \) \\,
    // one to three octal digits, and a backslash before an end of line that
    // joins the lines.
    int depth = 1;
    for (size_t p = token.start + 1; p < token.end; ++p) {
        const unsigned char c = bytes[p];
        if (c == '(') {
            ++depth;
        } else if (c == ')') {
            if (--depth == 0) break;
        } else if (c == '\\' && p + 1 < token.end) {
            const unsigned char e = bytes[++p];
            switch (e) {
                case 'n': out.push_back('\n'); break;
                case 'r': out.push_back('\r'); break;
                case 't': out.push_back('\t'); break;
                case 'b': out.push_back('\b'); break;
                case 'f': out.push_back('\f'); break;
                case '\r':
                    if (p + 1 < token.end && bytes[p + 1] == '\n') ++p;
                    break;
                case '\n': break;
                default:
                    if (e >= '0' && e <= '7') {
                        int v = e - '0';
                        for (int k = 0; k < 2 && p + 1 < token.end && bytes[p + 1] >= '0' &&
                                        bytes[p + 1] <= '7';
                             ++k)
                            v = v * 8 + (bytes[++p] - '0');
                        out.push_back(static_cast<char>(v & 0xFF));
                    } else {
                        out.push_back(static_cast<char>(e));
                    }
                    break;
            }
            continue;
        }
        out.push_back(static_cast<char>(c));
    }
    return true;
}

std::string ps_name_text(const unsigned char *bytes, const PsToken &token) {
    std::string name;
    if (token.kind != PsTokenKind::Name) return name;
    for (size_t p = token.start + 1; p < token.end; ++p) {
        if (bytes[p] == '#' && p + 2 < token.end && hex_digit_value(bytes[p + 1]) >= 0 &&
            hex_digit_value(bytes[p + 2]) >= 0) {
            name.push_back(
                static_cast<char>(hex_digit_value(bytes[p + 1]) << 4 | hex_digit_value(bytes[p + 2])));
            p += 2;
        } else {
            name.push_back(static_cast<char>(bytes[p]));
        }
    }
    return name;
}

// ---------------------------------------------------------------------------
// Resolving definitions into runs.

namespace {

// Turns runs given in definition order (later ones win) into sorted,
// non-overlapping runs. The runs are visited from the last; `covered` holds
// the code intervals already claimed, merged as they grow, so each run is
// cut into the gaps it finds there. Every visited interval is either emitted
// as a gap or merged away, which keeps the whole O(n log n).
template <class Run>
std::vector<Run> resolve_runs(const std::vector<Run> &defined) {
    std::map<uint32_t, uint32_t> covered;  // lo -> hi
    std::vector<Run> out;
    for (size_t i = defined.size(); i-- > 0;) {
        const Run &run = defined[i];
        auto it = covered.upper_bound(run.lo);
        if (it != covered.begin() && std::prev(it)->second >= run.lo) --it;
        uint64_t next = run.lo;  // the first code of `run` not yet placed
        uint32_t merged_lo = run.lo, merged_hi = run.hi;
        while (it != covered.end() && it->first <= run.hi) {
            if (it->first > next) {
                Run piece = run;
                piece.lo = static_cast<uint32_t>(next);
                piece.hi = it->first - 1;
                out.push_back(piece);
            }
            next = std::max<uint64_t>(next, uint64_t{it->second} + 1);
            merged_lo = std::min(merged_lo, it->first);
            merged_hi = std::max(merged_hi, it->second);
            it = covered.erase(it);
        }
        if (next <= run.hi) {
            Run piece = run;
            piece.lo = static_cast<uint32_t>(next);
            out.push_back(piece);
        }
        covered.emplace(merged_lo, merged_hi);
    }
    std::sort(out.begin(), out.end(), [](const Run &a, const Run &b) { return a.lo < b.lo; });
    return out;
}

bool is_surrogate(uint64_t cp) { return cp >= 0xD800 && cp <= 0xDFFF; }

// ---------------------------------------------------------------------------
// The parser.

struct CMapParser {
    const unsigned char *bytes = nullptr;
    size_t len = 0;
    size_t pos = 0;
    std::vector<CMapBfRun> bf;  // in definition order
    std::vector<CMapCidRun> cid;
    std::u32string pool;
    std::string scratch;
};

// The number that a 1- to 4-byte string token stands for.
bool read_code(CMapParser &ps, const PsToken &token, uint32_t *code) {
    if (!ps_string_bytes(ps.bytes, token, ps.scratch)) return false;
    if (ps.scratch.empty() || ps.scratch.size() > 4) return false;
    uint32_t v = 0;
    for (char c : ps.scratch) v = v << 8 | static_cast<unsigned char>(c);
    *code = v;
    return true;
}

// Decodes a UTF-16BE destination into the pool; false (and the pool as it
// was) when nothing valid is left.
bool add_destination(CMapParser &ps, const PsToken &token, uint32_t *off, uint32_t *count) {
    if (!ps_string_bytes(ps.bytes, token, ps.scratch)) return false;
    // Offsets into the pool are 32-bit.
    if (ps.pool.size() > UINT32_MAX - kCMapMaxDestLength) return false;
    const size_t start = ps.pool.size();
    const std::string &b = ps.scratch;
    if (b.size() == 1) {
        ps.pool.push_back(static_cast<unsigned char>(b[0]));
    } else {
        const size_t units = b.size() / 2;
        for (size_t i = 0; i < units && ps.pool.size() - start < kCMapMaxDestLength; ++i) {
            const auto unit = [&b](size_t k) {
                return static_cast<char32_t>(static_cast<unsigned char>(b[2 * k]) << 8 |
                                             static_cast<unsigned char>(b[2 * k + 1]));
            };
            const char32_t u = unit(i);
            if (u >= 0xD800 && u <= 0xDBFF) {
                if (i + 1 < units && unit(i + 1) >= 0xDC00 && unit(i + 1) <= 0xDFFF) {
                    ps.pool.push_back(0x10000 + ((u - 0xD800) << 10) + (unit(i + 1) - 0xDC00));
                    ++i;
                }
            } else if (!is_surrogate(u)) {
                ps.pool.push_back(u);
            }
        }
    }
    if (ps.pool.size() == start) return false;
    *off = static_cast<uint32_t>(start);
    *count = static_cast<uint32_t>(ps.pool.size() - start);
    return true;
}

// Cuts a range to at most 65536 codes; false when lo > hi.
bool clamp_range(uint32_t lo, uint32_t *hi) {
    if (lo > *hi) return false;
    if (*hi - lo > 0xFFFF) *hi = lo + 0xFFFF;
    return true;
}

// Whether a keyword ends the current block: its own end keyword, or any other
// begin.../end... keyword when the block was left open.
bool ends_block(const unsigned char *bytes, const PsToken &t) {
    if (t.kind == PsTokenKind::End) return true;
    if (t.kind != PsTokenKind::Keyword) return false;
    const size_t n = t.end - t.start;
    return (n >= 3 && std::memcmp(bytes + t.start, "end", 3) == 0) ||
           (n >= 5 && std::memcmp(bytes + t.start, "begin", 5) == 0);
}

constexpr unsigned bit(PsTokenKind kind) { return 1u << static_cast<unsigned>(kind); }
constexpr unsigned kStrings = bit(PsTokenKind::HexString) | bit(PsTokenKind::LiteralString);

bool is_string(const PsToken &t) { return (bit(t.kind) & kStrings) != 0; }

// The next token of a kind in `accept`, a Bad token, or End at a token that
// ends the block (left unread). Tokens of other kinds are junk between or
// inside entries and are stepped over. A Bad token (a broken string) drops
// the entry in progress, so that the entry's remaining strings are not paired
// with the next entry's.
PsToken next_entry_token(CMapParser &ps, unsigned accept) {
    for (;;) {
        const size_t at = ps.pos;
        PsToken t = ps_next_token(ps.bytes, ps.len, &ps.pos);
        if (ends_block(ps.bytes, t)) {
            ps.pos = at;
            t.kind = PsTokenKind::End;
            return t;
        }
        if (t.kind == PsTokenKind::Bad || (bit(t.kind) & accept) != 0) return t;
    }
}

void parse_codespace_block(CMapParser &ps, CMap &out) {
    std::string lo_bytes;
    for (;;) {
        const PsToken lo = next_entry_token(ps, kStrings);
        if (lo.kind == PsTokenKind::End) return;
        if (lo.kind == PsTokenKind::Bad) continue;
        const PsToken hi = next_entry_token(ps, kStrings);
        if (hi.kind == PsTokenKind::End) return;
        if (hi.kind == PsTokenKind::Bad) continue;
        ps_string_bytes(ps.bytes, lo, lo_bytes);
        ps_string_bytes(ps.bytes, hi, ps.scratch);
        const size_t n = ps.scratch.size();
        if (n < 1 || n > 4 || lo_bytes.empty() || lo_bytes.size() > 4) continue;
        uint32_t lo_value = 0;
        for (char c : lo_bytes) lo_value = lo_value << 8 | static_cast<unsigned char>(c);
        if (n < 4 && (lo_value >> (8 * n)) != 0) continue;
        CMapCodespace range{static_cast<uint8_t>(n), {}, {}};
        bool valid = true;
        for (size_t i = 0; i < n; ++i) {
            range.lo[i] = static_cast<uint8_t>(lo_value >> (8 * (n - 1 - i)));
            range.hi[i] = static_cast<unsigned char>(ps.scratch[i]);
            valid = valid && range.lo[i] <= range.hi[i];
        }
        if (!valid || out.codespace.size() >= kCMapMaxCodespaces) continue;
        const bool known = std::any_of(out.codespace.begin(), out.codespace.end(),
                                       [&range](const CMapCodespace &r) {
                                           return std::memcmp(&r, &range, sizeof r) == 0;
                                       });
        if (!known) out.codespace.push_back(range);
    }
}

void parse_bfchar_block(CMapParser &ps) {
    for (;;) {
        const PsToken src = next_entry_token(ps, kStrings);
        if (src.kind == PsTokenKind::End) return;
        if (src.kind == PsTokenKind::Bad) continue;
        // A name destination (/space) maps to nothing.
        const PsToken dst = next_entry_token(ps, kStrings | bit(PsTokenKind::Name));
        if (dst.kind == PsTokenKind::End) return;
        uint32_t code = 0, off = 0, count = 0;
        if (is_string(dst) && read_code(ps, src, &code) && add_destination(ps, dst, &off, &count))
            ps.bf.push_back({code, code, code, off, count});
    }
}

void parse_bfrange_block(CMapParser &ps) {
    for (;;) {
        const PsToken lo_token = next_entry_token(ps, kStrings);
        if (lo_token.kind == PsTokenKind::End) return;
        if (lo_token.kind == PsTokenKind::Bad) continue;
        const PsToken hi_token = next_entry_token(ps, kStrings);
        if (hi_token.kind == PsTokenKind::End) return;
        if (hi_token.kind == PsTokenKind::Bad) continue;
        const PsToken dst =
            next_entry_token(ps, kStrings | bit(PsTokenKind::Name) | bit(PsTokenKind::ArrayOpen));
        if (dst.kind == PsTokenKind::End) return;
        uint32_t lo = 0, hi = 0;
        const bool range_ok =
            read_code(ps, lo_token, &lo) && read_code(ps, hi_token, &hi) && clamp_range(lo, &hi);
        if (dst.kind == PsTokenKind::ArrayOpen) {
            // One destination per code, in order; elements past the range are
            // read and ignored, codes past the array stay unmapped.
            uint64_t code = lo;
            for (;;) {
                const PsToken element = next_entry_token(
                    ps, kStrings | bit(PsTokenKind::Name) | bit(PsTokenKind::ArrayClose));
                if (element.kind == PsTokenKind::End) return;
                if (element.kind == PsTokenKind::ArrayClose) break;
                // A broken element still takes its code's place.
                uint32_t off = 0, count = 0;
                if (range_ok && code <= hi && is_string(element) &&
                    add_destination(ps, element, &off, &count)) {
                    const auto c = static_cast<uint32_t>(code);
                    ps.bf.push_back({c, c, c, off, count});
                }
                ++code;
            }
            continue;
        }
        uint32_t off = 0, count = 0;
        if (range_ok && is_string(dst) && add_destination(ps, dst, &off, &count))
            ps.bf.push_back({lo, hi, lo, off, count});
    }
}

// begincidchar (`<code> cid`) and begincidrange (`<lo> <hi> cid`).
void parse_cid_block(CMapParser &ps, bool ranges) {
    for (;;) {
        const PsToken lo_token = next_entry_token(ps, kStrings);
        if (lo_token.kind == PsTokenKind::End) return;
        if (lo_token.kind == PsTokenKind::Bad) continue;
        PsToken hi_token = lo_token;
        if (ranges) {
            hi_token = next_entry_token(ps, kStrings);
            if (hi_token.kind == PsTokenKind::End) return;
            if (hi_token.kind == PsTokenKind::Bad) continue;
        }
        const PsToken value = next_entry_token(ps, kStrings | bit(PsTokenKind::Integer));
        if (value.kind == PsTokenKind::End) return;
        if (value.kind == PsTokenKind::Bad) continue;
        if (value.kind != PsTokenKind::Integer) {
            // The CID is missing: the string starts the next entry.
            ps.pos = value.start;
            continue;
        }
        uint32_t lo = 0, hi = 0;
        if (value.number < 0 || value.number > UINT32_MAX) continue;
        if (read_code(ps, lo_token, &lo) && read_code(ps, hi_token, &hi) && clamp_range(lo, &hi))
            ps.cid.push_back({lo, hi, lo, static_cast<uint32_t>(value.number)});
    }
}

// Finishes a block at its end keyword; an unclosed block leaves the keyword
// that ended it for the main loop.
void close_block(CMapParser &ps, const char *end_keyword) {
    size_t at = ps.pos;
    const PsToken t = ps_next_token(ps.bytes, ps.len, &at);
    if (ps_token_is(ps.bytes, t, end_keyword)) ps.pos = at;
}

}  // namespace

bool cmap_parse(const unsigned char *bytes, size_t len, CMap &out) {
    out = CMap{};
    CMapParser ps;
    ps.bytes = bytes;
    ps.len = len;
    // The names just before `usecmap`: `/Parent usecmap`, or
    // `/Parent /CMap findresource usecmap`.
    std::string last_name, name_before;
    for (;;) {
        const PsToken t = ps_next_token(bytes, len, &ps.pos);
        if (t.kind == PsTokenKind::End) break;
        if (t.kind == PsTokenKind::Name) {
            name_before = std::move(last_name);
            last_name = ps_name_text(bytes, t);
            if (last_name == "WMode") {
                size_t at = ps.pos;
                const PsToken value = ps_next_token(bytes, len, &at);
                if (value.kind == PsTokenKind::Integer) {
                    out.wmode = value.number == 1 ? 1 : 0;
                    out.wmode_given = true;
                    ps.pos = at;
                }
            }
            continue;
        }
        if (t.kind != PsTokenKind::Keyword) {
            last_name.clear();
            name_before.clear();
            continue;
        }
        if (ps_token_is(bytes, t, "begincodespacerange")) {
            parse_codespace_block(ps, out);
            close_block(ps, "endcodespacerange");
        } else if (ps_token_is(bytes, t, "beginbfchar")) {
            parse_bfchar_block(ps);
            close_block(ps, "endbfchar");
        } else if (ps_token_is(bytes, t, "beginbfrange")) {
            parse_bfrange_block(ps);
            close_block(ps, "endbfrange");
        } else if (ps_token_is(bytes, t, "begincidchar")) {
            parse_cid_block(ps, false);
            close_block(ps, "endcidchar");
        } else if (ps_token_is(bytes, t, "begincidrange")) {
            parse_cid_block(ps, true);
            close_block(ps, "endcidrange");
        } else if (ps_token_is(bytes, t, "usecmap")) {
            const std::string &parent = last_name == "CMap" ? name_before : last_name;
            if (!parent.empty()) out.usecmap = parent;
        }
        if (!ps_token_is(bytes, t, "findresource")) {
            last_name.clear();
            name_before.clear();
        }
    }
    out.bf = resolve_runs(ps.bf);
    out.cid = resolve_runs(ps.cid);
    out.dest_pool = std::move(ps.pool);
    return !out.codespace.empty() || !out.bf.empty() || !out.cid.empty() || !out.usecmap.empty() ||
           out.wmode_given;
}

void cmap_merge_parent(CMap &child, const CMap &parent_in) {
    // A CMap that names itself merges with a copy of itself.
    CMap self_copy;
    const CMap *parent = &parent_in;
    if (parent == &child) {
        self_copy = parent_in;
        parent = &self_copy;
    }
    for (const CMapCodespace &range : parent->codespace) {
        if (child.codespace.size() >= kCMapMaxCodespaces) break;
        const bool known = std::any_of(child.codespace.begin(), child.codespace.end(),
                                       [&range](const CMapCodespace &r) {
                                           return std::memcmp(&r, &range, sizeof r) == 0;
                                       });
        if (!known) child.codespace.push_back(range);
    }

    // The parent's runs come first, so that the child's win.
    if (!parent->bf.empty() && parent->dest_pool.size() <= UINT32_MAX - child.dest_pool.size()) {
        const auto shift = static_cast<uint32_t>(child.dest_pool.size());
        std::vector<CMapBfRun> runs;
        runs.reserve(parent->bf.size() + child.bf.size());
        for (CMapBfRun run : parent->bf) {
            run.dest_off += shift;
            runs.push_back(run);
        }
        runs.insert(runs.end(), child.bf.begin(), child.bf.end());
        child.dest_pool += parent->dest_pool;
        child.bf = resolve_runs(runs);
    }
    if (!parent->cid.empty()) {
        std::vector<CMapCidRun> runs(parent->cid);
        runs.insert(runs.end(), child.cid.begin(), child.cid.end());
        child.cid = resolve_runs(runs);
    }
    if (!child.wmode_given) {
        child.wmode = parent->wmode;
        child.wmode_given = parent->wmode_given;
    }
    child.usecmap = parent->usecmap;
}

int cmap_code_length(const CMap &cmap, const unsigned char *p, size_t avail) {
    if (avail == 0) return 1;
    int full = 5, partial = 5, shortest = 5;
    for (const CMapCodespace &range : cmap.codespace) {
        const int n = range.len;
        if (n < 1 || n > 4 || static_cast<size_t>(n) > avail) continue;
        shortest = std::min(shortest, n);
        if (p[0] < range.lo[0] || p[0] > range.hi[0]) continue;
        partial = std::min(partial, n);
        int i = 1;
        while (i < n && p[i] >= range.lo[i] && p[i] <= range.hi[i]) ++i;
        if (i == n) full = std::min(full, n);
    }
    if (full <= 4) return full;
    if (partial <= 4) return partial;
    if (shortest <= 4) return shortest;
    return 1;
}

namespace {

// The run that holds `code`, or nullptr.
template <class Run>
const Run *find_run(const std::vector<Run> &runs, uint32_t code) {
    auto it = std::upper_bound(runs.begin(), runs.end(), code,
                               [](uint32_t c, const Run &run) { return c < run.lo; });
    if (it == runs.begin()) return nullptr;
    --it;
    return code <= it->hi ? &*it : nullptr;
}

}  // namespace

bool cmap_to_unicode(const CMap &cmap, uint32_t code, std::u32string &out) {
    const CMapBfRun *run = find_run(cmap.bf, code);
    if (run == nullptr || run->dest_len == 0 ||
        uint64_t{run->dest_off} + run->dest_len > cmap.dest_pool.size())
        return false;
    const char32_t *dest = cmap.dest_pool.data() + run->dest_off;
    const uint64_t last = uint64_t{dest[run->dest_len - 1]} + (code - run->first);
    if (last > 0x10FFFF || is_surrogate(last)) return false;
    out.append(dest, run->dest_len - 1);
    out.push_back(static_cast<char32_t>(last));
    return true;
}

bool cmap_to_cid(const CMap &cmap, uint32_t code, uint32_t *cid) {
    const CMapCidRun *run = find_run(cmap.cid, code);
    if (run == nullptr) return false;
    const uint64_t value = uint64_t{run->cid} + (code - run->first);
    if (value > UINT32_MAX) return false;
    *cid = static_cast<uint32_t>(value);
    return true;
}

bool cmap_code_for_unicode(const CMap &cmap, char32_t cp, uint32_t *code) {
    if (cp > 0x10FFFF || is_surrogate(cp)) return false;
    for (const CMapBfRun &run : cmap.bf) {
        if (run.dest_len != 1 || run.dest_off >= cmap.dest_pool.size()) continue;
        // Code c of the run maps to base + (c - first).
        const int64_t c = int64_t{cp} - cmap.dest_pool[run.dest_off] + run.first;
        if (c >= run.lo && c <= run.hi) {
            *code = static_cast<uint32_t>(c);
            return true;
        }
    }
    return false;
}

bool cmap_has_unicode(const CMap &cmap) { return !cmap.bf.empty(); }
