// DEFLATE decoder (RFC 1951) for zlib-wrapped streams (RFC 1950).
//
// Huffman codes are decoded by table lookup: the next bits of the stream index
// a first-level table (up to 10 bits for literals and lengths, 8 for
// distances) whose entry is either the decoded symbol or a link to a subtable
// for the longer codes that begin with those bits. Bits come from a 64-bit
// buffer, refilled eight bytes at a time while at least eight input bytes
// remain and one byte at a time after that, so nothing past the input is ever
// read. While at least eight input bytes remain, one loop decodes with a
// single bounds check per turn; near the end a second loop checks every step.
// Both keep the results of a bit-at-a-time decoder: the same output, and the
// same verdict at the same point of a short or bad stream.
//
// The tables of the fixed codes are built at compile time; a dynamic block's
// tables live on the stack. Nothing is allocated.
#include "inflate.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>

namespace {

constexpr int kFail = -1;  // bad header, truncated or corrupt data
constexpr int kFull = -2;  // valid so far, but the output does not fit

constexpr uint64_t kMaxCapacity = uint64_t{1} << 30;

constexpr int kMaxBits = 15;         // longest Huffman code (RFC 1951 3.2.1)
constexpr int kMaxLitCodes = 286;    // literal/length codes a dynamic block may define
constexpr int kMaxDistCodes = 30;    // distance codes a dynamic block may define
constexpr int kFixedLitCodes = 288;  // the fixed code also assigns 286 and 287
constexpr int kFixedDistCodes = 32;  // and 30 and 31 among the distances
constexpr int kCodeLengthCodes = 19;

// First-level table sizes, in index bits. A code no longer than this is
// decoded with one lookup; longer ones take a second lookup in a subtable.
constexpr uint32_t kLitRootBits = 10;
constexpr uint32_t kDistRootBits = 8;
constexpr uint32_t kCodeLengthRootBits = 7;  // code-length codes have at most 7 bits

// Room for a first-level table of `root` bits and every subtable that a code
// of `symbols` symbols can need. The tables are built only for complete codes
// (or codes too small for subtables). In a complete code the codes that share
// a first-level prefix form a full binary tree, so a subtable of 2^k entries
// holds at least k + 1 codes; 2^k / (k + 1) grows with k and k is at most
// 15 - root, so the subtables need at most symbols * 2^(15-root) / (16-root)
// entries in all.
constexpr uint32_t table_room(uint32_t root, uint32_t symbols) {
    const uint32_t k = kMaxBits - root;
    return (1u << root) + (symbols * (1u << k) + k) / (k + 1);
}
constexpr uint32_t kLitTableRoom = table_room(kLitRootBits, kFixedLitCodes);      // 2560
constexpr uint32_t kDistTableRoom = table_room(kDistRootBits, kFixedDistCodes);  // 768
constexpr uint32_t kCodeLengthTableRoom = 1u << kCodeLengthRootBits;

// A table entry, 32 bits:
//   bits 0-7    bits to consume: the code's length plus the extra bits that
//               follow it; in a link, the subtable's index bits
//   bits 8-11   the code's length alone
//   bits 12-15  kind: one of the flags below, or none for a length, a distance
//               or a code-length symbol
//   bits 16-31  the value: a literal byte, a base length or distance, a
//               code-length symbol, or where a linked subtable starts
constexpr uint32_t kLiteral = 1u << 12;
constexpr uint32_t kEndOfBlock = 1u << 13;
constexpr uint32_t kLink = 1u << 14;
constexpr uint32_t kInvalid = 1u << 15;  // no such code, or a symbol the format reserves

constexpr uint32_t entry_bits(uint32_t e) {
    return e & 0xff;
}
constexpr uint32_t entry_code_length(uint32_t e) {
    return (e >> 8) & 0xf;
}

// Base lengths and extra bits of length symbols 257-285 (RFC 1951 3.2.5).
constexpr uint16_t lens[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                               31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t lext[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                              2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};

// Base distances and extra bits of distance symbols 0-29 (RFC 1951 3.2.5).
constexpr uint16_t dists[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t dext[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                              6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// Order in which the code-length code lengths are stored (RFC 1951 3.2.7).
constexpr uint8_t order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// What each symbol decodes to, before the code length is added: bits 0-7
// hold only the extra bits here.
struct SymbolEntries {
    uint32_t lit[kFixedLitCodes];
    uint32_t dist[kFixedDistCodes];
    uint32_t code_length[kCodeLengthCodes];
};

constexpr SymbolEntries make_symbol_entries() {
    SymbolEntries s{};
    for (uint32_t i = 0; i < 256; ++i) s.lit[i] = kLiteral | i << 16;
    s.lit[256] = kEndOfBlock;
    for (uint32_t i = 0; i < 29; ++i) s.lit[257 + i] = uint32_t{lens[i]} << 16 | lext[i];
    s.lit[286] = s.lit[287] = kInvalid;  // in the fixed code only; never valid
    for (uint32_t i = 0; i < 30; ++i) s.dist[i] = uint32_t{dists[i]} << 16 | dext[i];
    s.dist[30] = s.dist[31] = kInvalid;
    for (uint32_t i = 0; i < kCodeLengthCodes; ++i) s.code_length[i] = i << 16;
    return s;
}
constexpr SymbolEntries kSymbols = make_symbol_entries();

// Bytes with their bits in reverse order.
constexpr struct ReversedBytes {
    uint8_t of[256];
    constexpr ReversedBytes() : of{} {
        for (int i = 0; i < 256; ++i)
            for (int bit = 0; bit < 8; ++bit)
                if (i & (1 << bit)) of[i] = static_cast<uint8_t>(of[i] | (0x80 >> bit));
    }
} kReversed;

// The low `n` bits of `code` (n at most 15) in reverse order. Huffman codes
// are packed starting with their most significant bit (RFC 1951 3.1.1) while
// the bit buffer holds the next bit lowest, so tables are indexed by reversed
// codes.
constexpr uint32_t reverse_bits(uint32_t code, uint32_t n) {
    const uint32_t r = uint32_t{kReversed.of[code & 0xff]} << 8 | kReversed.of[(code >> 8) & 0xff];
    return r >> (16 - n);
}

enum class CodeShape {
    complete,  // every bit pattern starts a code, or there are no codes at all
    single,    // a single code of one bit: half the patterns match nothing
    unusable,  // over-subscribed, or incomplete in any other way
};

// Builds the decoding table of the canonical Huffman code (RFC 1951 3.2.2)
// with the code lengths of symbols 0 to n-1 (0: no code), in at most `room`
// entries with a first level of at most `max_root` bits; *root_bits receives
// the first level's size, which shrinks to the longest code. Codes of one
// length are consecutive integers, and the codes of length n+1 start at twice
// the code after the last code of length n, so the lengths alone say which
// code each symbol has. An unusable code gets no table.
constexpr CodeShape build_table(uint32_t *table, uint32_t room, uint32_t *root_bits,
                                uint32_t max_root, const uint8_t *length, int n,
                                const uint32_t *symbol_entry) {
    // Codes of each length, counted in four interleaved tallies: one tally
    // would make each increment wait for the one before, as runs of equal
    // lengths are the rule.
    uint16_t tally[4][kMaxBits + 1] = {};
    int symbol = 0;
    for (; symbol + 4 <= n; symbol += 4)
        for (int lane = 0; lane < 4; ++lane) ++tally[lane][length[symbol + lane]];
    for (; symbol < n; ++symbol) ++tally[0][length[symbol]];
    uint16_t count[kMaxBits + 1] = {};
    for (int len = 0; len <= kMaxBits; ++len)
        count[len] = static_cast<uint16_t>(tally[0][len] + tally[1][len] + tally[2][len] + tally[3][len]);

    int left = 1;  // codes of the current length still free
    uint32_t max_length = 0;
    for (int len = 1; len <= kMaxBits; ++len) {
        left = 2 * left - count[len];
        if (left < 0) return CodeShape::unusable;
        if (count[len] != 0) max_length = static_cast<uint32_t>(len);
    }
    CodeShape shape = CodeShape::complete;
    if (left > 0 && count[0] != n) {
        // Incomplete: allowed (by the caller) only as one code of one bit.
        if (max_length != 1) return CodeShape::unusable;
        shape = CodeShape::single;
    }

    const uint32_t root = max_length == 0 ? 1 : max_length < max_root ? max_length : max_root;
    *root_bits = root;

    // Symbols by code length, then by value: the order of their codes.
    uint16_t start[kMaxBits + 2] = {};
    for (int len = 1; len <= kMaxBits; ++len)
        start[len + 1] = static_cast<uint16_t>(start[len] + count[len]);
    uint16_t sorted[kFixedLitCodes];  // only the first count[1..15] entries are used
    for (symbol = 0; symbol < n; ++symbol)
        if (length[symbol] != 0) sorted[start[length[symbol]]++] = static_cast<uint16_t>(symbol);

    uint16_t remaining[kMaxBits + 1] = {};  // codes of each length not yet placed
    for (int len = 0; len <= kMaxBits; ++len) remaining[len] = count[len];

    // The first level grows with the code length: it has 2^len entries while
    // the codes of length `len` go in, one entry each, and doubles (a copy
    // onto its upper half) before the next length, so that in the end every
    // entry whose low bits are a code holds that code. Patterns that no code
    // starts (in an incomplete code) keep kInvalid.
    table[0] = table[1] = kInvalid;
    uint32_t code = 0;        // the current code, most significant bit first
    uint32_t next = 0;        // position in `sorted`
    uint32_t free_at = 1u << root;  // where the next subtable goes
    uint32_t prefix = ~0u;    // first-level index of the current subtable
    uint32_t sub_start = 0;
    uint32_t sub_bits = 0;
    for (uint32_t len = 1; len <= max_length; ++len, code <<= 1) {
        if (len > 1 && len <= root) std::copy_n(table, 1u << (len - 1), table + (1u << (len - 1)));
        for (uint32_t k = 0; k < count[len]; ++k, ++code) {
            const uint32_t entry = symbol_entry[sorted[next++]] + len + (len << 8);
            if (len <= root) {
                table[reverse_bits(code, len)] = entry;
            } else {
                const uint32_t first = reverse_bits(code >> (len - root), root);
                if (first != prefix) {
                    // A new subtable, deep enough for the longest code that
                    // begins with these bits. Codes go in ascending order,
                    // so the ones still to place fill this subtree first.
                    sub_bits = len - root;
                    int slots = 1 << sub_bits;
                    for (;;) {
                        slots -= remaining[root + sub_bits];
                        if (slots <= 0 || root + sub_bits == max_length) break;
                        ++sub_bits;
                        slots <<= 1;
                    }
                    if (free_at + (1u << sub_bits) > room) return CodeShape::unusable;
                    prefix = first;
                    sub_start = free_at;
                    free_at += 1u << sub_bits;
                    table[first] = kLink | sub_start << 16 | sub_bits;
                }
                const uint32_t low = len - root;
                for (uint32_t i = reverse_bits(code, low); i < (1u << sub_bits); i += 1u << low)
                    table[sub_start + i] = entry;
            }
            --remaining[len];
        }
    }
    return shape;
}

// The fixed codes of RFC 1951 3.2.6, built at compile time. Literal/length
// symbols 0-143 have 8-bit codes, 144-255 9 bits, 256-279 7 bits and 280-287
// 8 bits; the 32 distance symbols have 5-bit codes. Symbols 286, 287, 30 and
// 31 decode to kInvalid.
struct FixedTables {
    uint32_t lit_root;
    uint32_t dist_root;
    uint32_t lit[1u << 9];
    uint32_t dist[1u << 5];
};

constexpr FixedTables make_fixed_tables() {
    FixedTables t{};
    uint8_t length[kFixedLitCodes] = {};
    int n = 0;
    for (; n < 144; ++n) length[n] = 8;
    for (; n < 256; ++n) length[n] = 9;
    for (; n < 280; ++n) length[n] = 7;
    for (; n < kFixedLitCodes; ++n) length[n] = 8;
    build_table(t.lit, 1u << 9, &t.lit_root, kLitRootBits, length, kFixedLitCodes, kSymbols.lit);
    for (n = 0; n < kFixedDistCodes; ++n) length[n] = 5;
    build_table(t.dist, 1u << 5, &t.dist_root, kDistRootBits, length, kFixedDistCodes,
                kSymbols.dist);
    return t;
}
constexpr FixedTables kFixed = make_fixed_tables();
static_assert(kFixed.lit_root == 9 && kFixed.dist_root == 5);

struct Decoder {
    const unsigned char *in;      // next byte not yet in the bit buffer
    const unsigned char *in_end;  // end of the deflate data
    unsigned char *out_begin;     // destination: the whole output is the window
    unsigned char *out;           // next byte to write
    unsigned char *out_end;       // end of the capacity

    // Stream bits, the next one lowest (RFC 1951 3.1.1). `bitcnt` of them are
    // loaded; the bits above those are zero or the stream bits that follow,
    // so loading a byte again over them changes nothing.
    uint64_t bitbuf;
    uint32_t bitcnt;
};

inline uint64_t load_le64(const unsigned char *p) {
    uint64_t v = 0;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&v, p, 8);
    } else {
        for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
    }
    return v;
}

// Loads whole bytes until at least 56 bits are held, or the input is used up.
// With eight bytes left it takes one word: `in` moves by the bytes that fit,
// and the rest of the word lands above `bitcnt`, where it is the next bits.
inline void refill(Decoder &d) {
    if (d.in_end - d.in >= 8) {
        d.bitbuf |= load_le64(d.in) << d.bitcnt;
        d.in += (63 - d.bitcnt) >> 3;
        d.bitcnt |= 56;
        return;
    }
    while (d.bitcnt < 56 && d.in != d.in_end) {
        d.bitbuf |= uint64_t{*d.in++} << d.bitcnt;
        d.bitcnt += 8;
    }
}

inline void drop_bits(Decoder &d, uint32_t n) {
    d.bitbuf >>= n;
    d.bitcnt -= n;
}

// Returns the next `n` bits (at most 16), or kFail when the input runs out.
// Header fields and extra bits are packed least significant bit first.
inline int take_bits(Decoder &d, uint32_t n) {
    if (d.bitcnt < n) {
        refill(d);
        if (d.bitcnt < n) return kFail;
    }
    const int v = static_cast<int>(d.bitbuf & ((uint32_t{1} << n) - 1));
    drop_bits(d, n);
    return v;
}

// The entry for the code at the bottom of `bitbuf`. It may use bits beyond
// those loaded; the caller compares the entry's length with what it holds.
inline uint32_t lookup(uint64_t bitbuf, const uint32_t *table, uint32_t root) {
    uint32_t e = table[bitbuf & ((uint32_t{1} << root) - 1)];
    if (e & kLink) e = table[(e >> 16) + ((bitbuf >> root) & ((uint32_t{1} << entry_bits(e)) - 1))];
    return e;
}

// The entry's value plus the extra bits that follow its code (RFC 1951 3.2.5).
inline uint32_t value_with_extra(uint64_t bitbuf, uint32_t e) {
    const uint64_t both = bitbuf & ((uint64_t{1} << entry_bits(e)) - 1);
    return (e >> 16) + static_cast<uint32_t>(both >> entry_code_length(e));
}

inline void copy8(unsigned char *to, const unsigned char *from) {
    uint64_t v;
    std::memcpy(&v, from, 8);
    std::memcpy(to, &v, 8);
}

inline void copy4(unsigned char *to, const unsigned char *from) {
    uint32_t v;
    std::memcpy(&v, from, 4);
    std::memcpy(to, &v, 4);
}

// Smallest multiple of each distance below 8 that is at least 8.
constexpr uint8_t kWidePeriod[8] = {0, 8, 8, 9, 8, 10, 12, 14};

// Copies `len` bytes (3 to 258) from `dist` bytes back, writing exactly those
// bytes. The source may overlap what is being written: then the copy repeats
// the last `dist` bytes, as the format requires (RFC 1951 3.2.3).
inline void copy_match(unsigned char *to, uint32_t dist, uint32_t len) {
    const unsigned char *from = to - dist;
    if (dist >= 8) {
        // Each word read lies wholly before the word written, so every byte
        // read is final. The last word may overlap the one before it.
        if (len >= 8) {
            uint32_t i = 0;
            if (dist >= 16) {
                for (; i + 16 <= len; i += 16) {
                    copy8(to + i, from + i);
                    copy8(to + i + 8, from + i + 8);
                }
            }
            for (; i + 8 <= len; i += 8) copy8(to + i, from + i);
            if (i < len) copy8(to + len - 8, from + len - 8);
        } else if (len >= 4) {
            copy4(to, from);
            copy4(to + len - 4, from + len - 4);
        } else {
            to[0] = from[0];
            to[1] = from[1];
            to[2] = from[2];
        }
        return;
    }
    if (dist == 1) {
        std::memset(to, *from, len);
        return;
    }
    // A short period: once `period - dist` bytes are written, the bytes
    // `period` back repeat the pattern and lie at least a word behind.
    const uint32_t period = kWidePeriod[dist];
    uint32_t i = 0;
    for (; i < period - dist && i < len; ++i) to[i] = from[i];
    for (; i + 8 <= len; i += 8) copy8(to + i, to + i - period);
    for (; i < len; ++i) to[i] = to[i - dist];
}

// Decodes the literals and length/distance pairs of one Huffman block up to
// and including its end-of-block symbol (RFC 1951 3.2.5), checking every step:
// for the last bytes of the input or the output. Returns 0 at the end of the
// block, kFull when a literal or a copy does not fit, kFail on bad data.
// A copy that does not fit still fills the destination, byte by byte (the
// source may overlap what is written), so that a full destination holds a
// prefix of the output: all that a reader of a known size needs.
int fill_to_end(unsigned char *&out, unsigned char *out_end, uint32_t distance) {
    const unsigned char *from = out - distance;
    while (out < out_end) *out++ = *from++;
    return kFull;
}

int codes_checked(Decoder &d, const uint32_t *lit, uint32_t lit_root, const uint32_t *dist,
                  uint32_t dist_root) {
    for (;;) {
        refill(d);
        uint32_t e = lookup(d.bitbuf, lit, lit_root);
        if ((e & kInvalid) || entry_bits(e) > d.bitcnt) return kFail;
        const uint32_t value = value_with_extra(d.bitbuf, e);  // a literal or a length
        drop_bits(d, entry_bits(e));
        if (e & kLiteral) {
            if (d.out == d.out_end) return kFull;
            *d.out++ = static_cast<unsigned char>(value);
            continue;
        }
        if (e & kEndOfBlock) return 0;
        const uint32_t len = value;

        refill(d);
        e = lookup(d.bitbuf, dist, dist_root);
        if ((e & kInvalid) || entry_bits(e) > d.bitcnt) return kFail;
        const uint32_t distance = value_with_extra(d.bitbuf, e);
        drop_bits(d, entry_bits(e));
        if (distance > d.out - d.out_begin) return kFail;  // reaches before the first byte
        if (len > d.out_end - d.out) return fill_to_end(d.out, d.out_end, distance);
        copy_match(d.out, distance, len);
        d.out += len;
    }
}

// The same as codes_checked(), with fewer checks: each turn starts with at
// least 8 input bytes, for a word load, and room for three literals. A word
// load leaves at least 56 bits, enough for three literals (15 bits each) or a
// length and a distance with their extra bits (15 + 5 + 15 + 13); a copy
// after a literal takes a second word when there is one. Every bit decoded
// here is a loaded input bit, so the verdicts are those of codes_checked().
// Returns 1 when it stops near the end of the input or the output with the
// block unfinished.
int codes_fast(Decoder &d, const uint32_t *lit, uint32_t lit_root, const uint32_t *dist,
               uint32_t dist_root) {
    const unsigned char *in = d.in;
    unsigned char *out = d.out;
    uint64_t bitbuf = d.bitbuf;
    uint32_t bitcnt = d.bitcnt;
    int rc = 1;

    while (d.in_end - in >= 8 && d.out_end - out >= 3) {
        bitbuf |= load_le64(in) << bitcnt;
        in += (63 - bitcnt) >> 3;
        bitcnt |= 56;

        uint32_t e = lookup(bitbuf, lit, lit_root);
        if (e & kLiteral) {
            bitbuf >>= entry_bits(e);
            bitcnt -= entry_bits(e);
            *out++ = static_cast<unsigned char>(e >> 16);
            e = lookup(bitbuf, lit, lit_root);  // at least 41 bits left
            if (e & kLiteral) {
                bitbuf >>= entry_bits(e);
                bitcnt -= entry_bits(e);
                *out++ = static_cast<unsigned char>(e >> 16);
                e = lookup(bitbuf, lit, lit_root);  // at least 26 bits left
                if (e & kLiteral) {
                    bitbuf >>= entry_bits(e);
                    bitcnt -= entry_bits(e);
                    *out++ = static_cast<unsigned char>(e >> 16);
                    continue;
                }
            }
            // `e` was looked up with 26 or more bits held, so it stands; a
            // copy needs up to 48 bits.
            if (d.in_end - in < 8) break;
            bitbuf |= load_le64(in) << bitcnt;
            in += (63 - bitcnt) >> 3;
            bitcnt |= 56;
        }
        if (e & (kEndOfBlock | kInvalid)) {
            if (e & kInvalid) {
                rc = kFail;
            } else {
                bitbuf >>= entry_bits(e);
                bitcnt -= entry_bits(e);
                rc = 0;
            }
            break;
        }
        const uint32_t len = value_with_extra(bitbuf, e);
        bitbuf >>= entry_bits(e);
        bitcnt -= entry_bits(e);

        e = lookup(bitbuf, dist, dist_root);
        if (e & kInvalid) {
            rc = kFail;
            break;
        }
        const uint32_t distance = value_with_extra(bitbuf, e);
        bitbuf >>= entry_bits(e);
        bitcnt -= entry_bits(e);
        if (distance > out - d.out_begin) {
            rc = kFail;
            break;
        }
        if (len > d.out_end - out) {
            rc = fill_to_end(out, d.out_end, distance);
            break;
        }
        copy_match(out, distance, len);
        out += len;
    }
    d.in = in;
    d.out = out;
    d.bitbuf = bitbuf;
    d.bitcnt = bitcnt;
    return rc;
}

int codes(Decoder &d, const uint32_t *lit, uint32_t lit_root, const uint32_t *dist,
          uint32_t dist_root) {
    const int rc = codes_fast(d, lit, lit_root, dist, dist_root);
    if (rc != 1) return rc;
    return codes_checked(d, lit, lit_root, dist, dist_root);
}

// Stored block (RFC 1951 3.2.4): the rest of the current byte is skipped, then
// LEN and NLEN (16 bits each, little-endian, NLEN = ~LEN) and LEN raw bytes.
int stored(Decoder &d) {
    // Whole bytes still in the bit buffer go back to the input.
    d.in -= (d.bitcnt >> 3);
    d.bitbuf = 0;
    d.bitcnt = 0;
    if (d.in_end - d.in < 4) return kFail;
    const unsigned char *p = d.in;
    const uint32_t len = p[0] | (uint32_t{p[1]} << 8);
    const uint32_t nlen = p[2] | (uint32_t{p[3]} << 8);
    if (len != (~nlen & 0xffff)) return kFail;
    d.in += 4;
    if (static_cast<uint64_t>(d.in_end - d.in) < len) return kFail;
    if (len > static_cast<uint64_t>(d.out_end - d.out)) {
        const auto room = static_cast<size_t>(d.out_end - d.out);
        if (room > 0) std::memcpy(d.out, d.in, room);
        d.out = d.out_end;
        return kFull;
    }
    if (len > 0) std::memcpy(d.out, d.in, len);
    d.in += len;
    d.out += len;
    return 0;
}

// Dynamic block (RFC 1951 3.2.7): the block describes its own two codes by
// their code lengths, which are themselves Huffman coded with a code-length
// code and run-length coded with symbols 16, 17 and 18.
int dynamic(Decoder &d) {
    uint8_t lengths[kMaxLitCodes + kMaxDistCodes];
    uint32_t lit_table[kLitTableRoom];
    uint32_t dist_table[kDistTableRoom];
    uint32_t lit_root = 0;
    uint32_t dist_root = 0;

    const int hlit = take_bits(d, 5);
    const int hdist = take_bits(d, 5);
    const int hclen = take_bits(d, 4);
    if (hlit < 0 || hdist < 0 || hclen < 0) return kFail;
    const int nlen = hlit + 257;
    const int ndist = hdist + 1;
    const int ncode = hclen + 4;
    if (nlen > kMaxLitCodes || ndist > kMaxDistCodes) return kFail;

    // Code-length code: 3-bit lengths in `order`, the rest 0; it must be
    // complete (or empty, which then fails on the first symbol).
    {
        uint8_t cl_lengths[kCodeLengthCodes] = {};
        for (int index = 0; index < ncode; ++index) {
            const int len = take_bits(d, 3);
            if (len < 0) return kFail;
            cl_lengths[order[index]] = static_cast<uint8_t>(len);
        }
        uint32_t cl_table[kCodeLengthTableRoom];
        uint32_t cl_root = 0;
        if (build_table(cl_table, kCodeLengthTableRoom, &cl_root, kCodeLengthRootBits, cl_lengths,
                        kCodeLengthCodes, kSymbols.code_length) != CodeShape::complete)
            return kFail;

        // Literal/length then distance code lengths, as one sequence.
        int index = 0;
        while (index < nlen + ndist) {
            refill(d);
            const uint32_t e = lookup(d.bitbuf, cl_table, cl_root);
            if ((e & kInvalid) || entry_bits(e) > d.bitcnt) return kFail;
            drop_bits(d, entry_bits(e));
            const int symbol = static_cast<int>(e >> 16);
            if (symbol < 16) {  // a length of 0 to 15
                lengths[index++] = static_cast<uint8_t>(symbol);
                continue;
            }
            uint8_t len = 0;  // the length to repeat
            int repeat = 0;
            if (symbol == 16) {  // previous length, 3-6 times
                if (index == 0) return kFail;
                len = lengths[index - 1];
                repeat = take_bits(d, 2);
                if (repeat < 0) return kFail;
                repeat += 3;
            } else if (symbol == 17) {  // zero, 3-10 times
                repeat = take_bits(d, 3);
                if (repeat < 0) return kFail;
                repeat += 3;
            } else {  // 18: zero, 11-138 times
                repeat = take_bits(d, 7);
                if (repeat < 0) return kFail;
                repeat += 11;
            }
            if (index + repeat > nlen + ndist) return kFail;
            while (repeat-- > 0) lengths[index++] = len;
        }
    }

    if (lengths[256] == 0) return kFail;  // no way to end the block

    // Both codes must be complete, or a single code of one bit (a block with
    // one distance, RFC 1951 3.2.7); a distance code may also be empty.
    if (build_table(lit_table, kLitTableRoom, &lit_root, kLitRootBits, lengths, nlen,
                    kSymbols.lit) == CodeShape::unusable)
        return kFail;
    if (build_table(dist_table, kDistTableRoom, &dist_root, kDistRootBits, lengths + nlen, ndist,
                    kSymbols.dist) == CodeShape::unusable)
        return kFail;
    return codes(d, lit_table, lit_root, dist_table, dist_root);
}

}  // namespace

int inflate_decompress(const unsigned char *source, uint64_t source_len, unsigned char *dest,
                       uint64_t dest_cap, uint64_t *produced) {
    if (produced == nullptr) return kFail;
    *produced = 0;
    if (dest_cap > kMaxCapacity) return kFail;
    if (dest == nullptr && dest_cap > 0) return kFail;
    if (source == nullptr || source_len < 2) return kFail;

    // zlib header (RFC 1950 2.2): CMF then FLG. Only the method (8, deflate)
    // and the preset-dictionary bit matter here; the check bits, window size
    // and level are not examined. The Adler-32 trailer (RFC 1950 2.2) is
    // neither read nor computed: callers get the bytes the blocks describe,
    // and a damaged stream is caught only by the checks of RFC 1951 itself.
    if ((source[0] & 0x0f) != 8) return kFail;
    if ((source[1] & 0x20) != 0) return kFail;

    Decoder d{};
    d.in = source + 2;
    d.in_end = source + source_len;
    d.out_begin = dest;
    d.out = dest;
    d.out_end = dest + dest_cap;

    // Blocks (RFC 1951 3.2.3): BFINAL (1 bit), BTYPE (2 bits), block data.
    int last = 0;
    do {
        last = take_bits(d, 1);
        const int type = take_bits(d, 2);
        if (last < 0 || type < 0) return kFail;
        int err = kFail;  // type 3 is reserved
        if (type == 0) err = stored(d);
        if (type == 1) err = codes(d, kFixed.lit, kFixed.lit_root, kFixed.dist, kFixed.dist_root);
        if (type == 2) err = dynamic(d);
        if (err != 0) return err;
    } while (last == 0);

    *produced = static_cast<uint64_t>(d.out - dest);
    return 0;
}
