// The CMap parser. CMap syntax follows ISO 32000-1 9.7.5 and 9.10.3; the
// block keywords are those of Adobe's CMap file format. Mappings are
// collected in file order, then resolved once into sorted, non-overlapping
// runs in which later definitions win.
#include "cmap.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>

#include "lexer.h"
#include "pdfobj.h"
#include "syntax.h"

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
    int32_t end = 0;
    int32_t pos = 0;
    std::vector<CMapBfRun> bf;  // in definition order
    std::vector<CMapCidRun> cid;
    std::u32string pool;
    std::string scratch;
};

// The token at or after `at`, comments skipped. A '<' is a hex string only
// when hex digits and blanks lead to its '>', so that a string left open does
// not swallow the entries after it.
Token next_token(const CMapParser &ps, int32_t at) {
    return lex_next_code(ps.bytes, ps.end, at, HexRule::kDigitsOnly);
}

bool is_string(const Token &t) { return t.kind == Tok::kString || t.kind == Tok::kHexString; }

// Decodes a string token into ps.scratch; false for any other token.
bool string_bytes(CMapParser &ps, const Token &token) {
    if (!is_string(token)) return false;
    ps.scratch = pdfobj_string_bytes(ps.bytes, token);
    return true;
}

// The number that a 1- to 4-byte string token stands for.
bool read_code(CMapParser &ps, const Token &token, uint32_t *code) {
    if (!string_bytes(ps, token)) return false;
    if (ps.scratch.empty() || ps.scratch.size() > 4) return false;
    uint32_t v = 0;
    for (char c : ps.scratch) v = v << 8 | static_cast<unsigned char>(c);
    *code = v;
    return true;
}

// Decodes a UTF-16BE destination into the pool; false (and the pool as it
// was) when nothing valid is left.
bool add_destination(CMapParser &ps, const Token &token, uint32_t *off, uint32_t *count) {
    if (!string_bytes(ps, token)) return false;
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
bool ends_block(const unsigned char *bytes, const Token &t) {
    if (t.kind == Tok::kEnd) return true;
    if (t.kind != Tok::kKeyword) return false;
    const int32_t n = t.end - t.start;
    return (n >= 3 && std::memcmp(bytes + t.start, "end", 3) == 0) ||
           (n >= 5 && std::memcmp(bytes + t.start, "begin", 5) == 0);
}

constexpr unsigned bit(Tok kind) { return 1u << static_cast<unsigned>(kind); }
constexpr unsigned kStrings = bit(Tok::kString) | bit(Tok::kHexString);

// The next token of a kind in `accept`, a bad token, or kEnd at a token that
// ends the block (left unread). A number is accepted only when it is an
// integer. Tokens of other kinds are junk between or inside entries and are
// stepped over. A bad token (a broken string) drops the entry in progress, so
// that the entry's remaining strings are not paired with the next entry's.
Token next_entry_token(CMapParser &ps, unsigned accept) {
    for (;;) {
        Token t = next_token(ps, ps.pos);
        if (ends_block(ps.bytes, t)) {
            t.kind = Tok::kEnd;
            return t;
        }
        ps.pos = t.end;
        if (t.kind == Tok::kBad) return t;
        if ((bit(t.kind) & accept) == 0) continue;
        int64_t value = 0;
        if (t.kind == Tok::kNumber && !lex_integer(ps.bytes, t, &value)) continue;
        return t;
    }
}

void parse_codespace_block(CMapParser &ps, CMap &out) {
    std::string lo_bytes;
    for (;;) {
        const Token lo = next_entry_token(ps, kStrings);
        if (lo.kind == Tok::kEnd) return;
        if (lo.kind == Tok::kBad) continue;
        const Token hi = next_entry_token(ps, kStrings);
        if (hi.kind == Tok::kEnd) return;
        if (hi.kind == Tok::kBad) continue;
        lo_bytes = pdfobj_string_bytes(ps.bytes, lo);
        string_bytes(ps, hi);
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
        const Token src = next_entry_token(ps, kStrings);
        if (src.kind == Tok::kEnd) return;
        if (src.kind == Tok::kBad) continue;
        // A name destination (/space) maps to nothing.
        const Token dst = next_entry_token(ps, kStrings | bit(Tok::kName));
        if (dst.kind == Tok::kEnd) return;
        uint32_t code = 0, off = 0, count = 0;
        if (is_string(dst) && read_code(ps, src, &code) && add_destination(ps, dst, &off, &count))
            ps.bf.push_back({code, code, code, off, count});
    }
}

void parse_bfrange_block(CMapParser &ps) {
    for (;;) {
        const Token lo_token = next_entry_token(ps, kStrings);
        if (lo_token.kind == Tok::kEnd) return;
        if (lo_token.kind == Tok::kBad) continue;
        const Token hi_token = next_entry_token(ps, kStrings);
        if (hi_token.kind == Tok::kEnd) return;
        if (hi_token.kind == Tok::kBad) continue;
        const Token dst = next_entry_token(ps, kStrings | bit(Tok::kName) | bit(Tok::kArrayOpen));
        if (dst.kind == Tok::kEnd) return;
        uint32_t lo = 0, hi = 0;
        const bool range_ok =
            read_code(ps, lo_token, &lo) && read_code(ps, hi_token, &hi) && clamp_range(lo, &hi);
        if (dst.kind == Tok::kArrayOpen) {
            // One destination per code, in order; elements past the range are
            // read and ignored, codes past the array stay unmapped.
            uint64_t code = lo;
            for (;;) {
                const Token element =
                    next_entry_token(ps, kStrings | bit(Tok::kName) | bit(Tok::kArrayClose));
                if (element.kind == Tok::kEnd) return;
                if (element.kind == Tok::kArrayClose) break;
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
        const Token lo_token = next_entry_token(ps, kStrings);
        if (lo_token.kind == Tok::kEnd) return;
        if (lo_token.kind == Tok::kBad) continue;
        Token hi_token = lo_token;
        if (ranges) {
            hi_token = next_entry_token(ps, kStrings);
            if (hi_token.kind == Tok::kEnd) return;
            if (hi_token.kind == Tok::kBad) continue;
        }
        const Token value = next_entry_token(ps, kStrings | bit(Tok::kNumber));
        if (value.kind == Tok::kEnd) return;
        if (value.kind == Tok::kBad) continue;
        int64_t cid = 0;
        if (!lex_integer(ps.bytes, value, &cid)) {
            // The CID is missing: the string starts the next entry.
            ps.pos = value.start;
            continue;
        }
        uint32_t lo = 0, hi = 0;
        if (cid < 0 || cid > UINT32_MAX) continue;
        if (read_code(ps, lo_token, &lo) && read_code(ps, hi_token, &hi) && clamp_range(lo, &hi))
            ps.cid.push_back({lo, hi, lo, static_cast<uint32_t>(cid)});
    }
}

// Finishes a block at its end keyword; an unclosed block leaves the keyword
// that ended it for the main loop.
void close_block(CMapParser &ps, const char *end_keyword) {
    const Token t = next_token(ps, ps.pos);
    if (lex_is(ps.bytes, t, end_keyword)) ps.pos = t.end;
}

}  // namespace

bool cmap_parse(const unsigned char *bytes, size_t len, CMap &out) {
    out = CMap{};
    // Token offsets are 32-bit; a CMap is a few kilobytes.
    if (len > static_cast<size_t>(INT32_MAX)) return false;
    CMapParser ps;
    ps.bytes = bytes;
    ps.end = static_cast<int32_t>(len);
    // The names just before `usecmap`: `/Parent usecmap`, or
    // `/Parent /CMap findresource usecmap`.
    std::string last_name, name_before;
    for (;;) {
        const Token t = next_token(ps, ps.pos);
        if (t.kind == Tok::kEnd) break;
        ps.pos = t.end;
        if (t.kind == Tok::kName) {
            name_before = std::move(last_name);
            last_name = lex_name_text(bytes, t.start, t.end);
            if (last_name == "WMode") {
                int64_t wmode = 0;
                const Token value = next_token(ps, ps.pos);
                if (lex_integer(bytes, value, &wmode)) {
                    out.wmode = wmode == 1 ? 1 : 0;
                    out.wmode_given = true;
                    ps.pos = value.end;
                }
            }
            continue;
        }
        if (t.kind != Tok::kKeyword) {
            last_name.clear();
            name_before.clear();
            continue;
        }
        if (lex_is(bytes, t, "begincodespacerange")) {
            parse_codespace_block(ps, out);
            close_block(ps, "endcodespacerange");
        } else if (lex_is(bytes, t, "beginbfchar")) {
            parse_bfchar_block(ps);
            close_block(ps, "endbfchar");
        } else if (lex_is(bytes, t, "beginbfrange")) {
            parse_bfrange_block(ps);
            close_block(ps, "endbfrange");
        } else if (lex_is(bytes, t, "begincidchar")) {
            parse_cid_block(ps, false);
            close_block(ps, "endcidchar");
        } else if (lex_is(bytes, t, "begincidrange")) {
            parse_cid_block(ps, true);
            close_block(ps, "endcidrange");
        } else if (lex_is(bytes, t, "usecmap")) {
            const std::string &parent = last_name == "CMap" ? name_before : last_name;
            if (!parent.empty()) out.usecmap = parent;
        }
        if (!lex_is(bytes, t, "findresource")) {
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

bool cmap_code_is_valid(const CMap &cmap, const unsigned char *p, int n) {
    if (n < 1 || n > 4 || cmap_code_length(cmap, p, static_cast<size_t>(n)) != n) return false;
    for (const CMapCodespace &range : cmap.codespace) {
        if (range.len != n) continue;
        int i = 0;
        while (i < n && p[i] >= range.lo[i] && p[i] <= range.hi[i]) ++i;
        if (i == n) return true;
    }
    return false;
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
