// DEFLATE decoder (RFC 1951) for zlib-wrapped streams (RFC 1950).
//
// Canonical Huffman codes are decoded one bit at a time from the number of
// codes of each length; no lookup tables are built beyond those counts and the
// symbols in code order. Everything lives on the stack or in constant tables.
#include "inflate.h"

#include <cstring>

namespace {

constexpr int kFail = -1;  // bad header, truncated or corrupt data
constexpr int kFull = -2;  // valid so far, but the output does not fit

constexpr uint64_t kMaxCapacity = uint64_t{1} << 30;

constexpr int kMaxBits = 15;         // longest Huffman code (RFC 1951 3.2.1)
constexpr int kMaxLitCodes = 286;    // literal/length codes a dynamic block may define
constexpr int kMaxDistCodes = 30;    // distance codes a dynamic block may define
constexpr int kFixedLitCodes = 288;  // the fixed code also assigns 286 and 287

struct DecoderState {
    unsigned char *out;  // destination
    uint32_t outcap;     // its capacity (at most 2^30)
    uint32_t outcnt;     // bytes written so far

    const unsigned char *in;  // deflate data, past the two zlib header bytes
    uint64_t inlen;           // its length
    uint64_t incnt;           // bytes consumed

    uint32_t bitbuf;  // bits not yet used, least significant first
    int bitcnt;       // how many; below 8 between calls to bits() and decode()
};

// One canonical Huffman code (RFC 1951 3.2.2). Codes of one length are
// consecutive integers, and the codes of length n+1 start at twice the
// code after the last code of length n, so the counts alone say which
// code belongs to which position in `symbol`.
struct HuffmanCode {
    uint16_t count[kMaxBits + 1];     // codes of each length; count[0]: symbols with none
    uint16_t symbol[kFixedLitCodes];  // symbols by code length, then by value
};

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

// Returns the next `need` bits (at most 13) of the stream, or kFail when the
// input runs out. Bits are packed into bytes least significant first
// (RFC 1951 3.1.1); whole bytes are added above the bits already held.
int bits(DecoderState &s, int need) {
    uint32_t val = s.bitbuf;
    while (s.bitcnt < need) {
        if (s.incnt == s.inlen) return kFail;
        val |= uint32_t{s.in[s.incnt++]} << s.bitcnt;
        s.bitcnt += 8;
    }
    s.bitbuf = val >> need;
    s.bitcnt -= need;
    return static_cast<int>(val & ((uint32_t{1} << need) - 1));
}

// Decodes one symbol with `h`, or returns kFail when the input runs out or no
// code matches within 15 bits. Huffman codes are packed starting with their
// most significant bit, so the code grows by one bit at the bottom per step;
// at each length it is compared with the range of codes of that length.
int decode(DecoderState &s, const HuffmanCode &h) {
    uint32_t bitbuf = s.bitbuf;
    int left = s.bitcnt;
    int code = 0;   // bits read so far
    int first = 0;  // first code of the current length
    int index = 0;  // position in h.symbol of that first code
    for (int len = 1; len <= kMaxBits; ++len) {
        if (left == 0) {
            if (s.incnt == s.inlen) return kFail;
            bitbuf = s.in[s.incnt++];
            left = 8;
        }
        code |= static_cast<int>(bitbuf & 1);
        bitbuf >>= 1;
        --left;
        const int count = h.count[len];
        if (code - count < first) {  // code < first + count: a code of this length
            s.bitbuf = bitbuf;
            s.bitcnt = left;
            return h.symbol[index + (code - first)];
        }
        index += count;
        first = (first + count) << 1;
        code <<= 1;
    }
    return kFail;
}

// Builds `h` from the code lengths of symbols 0 to n-1 (0 = no code).
// Returns 0 for a complete code (or one with no codes at all), a positive
// number of unused codes for an incomplete one, and a negative number when
// the lengths ask for more codes than exist (over-subscribed).
constexpr int construct(HuffmanCode &h, const uint16_t *length, int n) {
    for (int len = 0; len <= kMaxBits; ++len) h.count[len] = 0;
    for (int symbol = 0; symbol < n; ++symbol) ++h.count[length[symbol]];
    if (h.count[0] == n) return 0;

    int left = 1;  // codes of the current length still free
    for (int len = 1; len <= kMaxBits; ++len) {
        left <<= 1;
        left -= h.count[len];
        if (left < 0) return left;
    }

    uint16_t offs[kMaxBits + 1] = {};  // where each length starts in h.symbol
    for (int len = 1; len < kMaxBits; ++len)
        offs[len + 1] = static_cast<uint16_t>(offs[len] + h.count[len]);
    for (int symbol = 0; symbol < n; ++symbol)
        if (length[symbol] != 0) h.symbol[offs[length[symbol]]++] = static_cast<uint16_t>(symbol);
    return left;
}

// Accepts a code built by construct(): complete, or incomplete only when it is
// a single code of length 1 (a block with one distance, RFC 1951 3.2.7).
bool usable(int left, const HuffmanCode &h, int n) {
    return left == 0 || (left > 0 && n == h.count[0] + h.count[1]);
}

// Decodes the literals and length/distance pairs of one Huffman block up to
// and including its end-of-block symbol (RFC 1951 3.2.5). The whole output
// written so far serves as the window.
int codes(DecoderState &s, const HuffmanCode &lencode, const HuffmanCode &distcode) {
    for (;;) {
        int symbol = decode(s, lencode);
        if (symbol < 0) return kFail;
        if (symbol < 256) {  // literal byte
            if (s.outcnt == s.outcap) return kFull;
            s.out[s.outcnt++] = static_cast<unsigned char>(symbol);
            continue;
        }
        if (symbol == 256) return 0;  // end of block

        symbol -= 257;
        if (symbol >= 29) return kFail;  // 286 and 287 exist only in the fixed code
        const int len_extra = bits(s, lext[symbol]);
        if (len_extra < 0) return kFail;
        const uint32_t len = lens[symbol] + static_cast<uint32_t>(len_extra);

        symbol = decode(s, distcode);
        if (symbol < 0) return kFail;
        const int dist_extra = bits(s, dext[symbol]);
        if (dist_extra < 0) return kFail;
        const uint32_t dist = dists[symbol] + static_cast<uint32_t>(dist_extra);
        if (dist > s.outcnt) return kFail;  // reaches before the first byte

        // A copy that does not fit still fills the destination, so that a
        // full destination holds a prefix of the output.
        const uint32_t room = s.outcap - s.outcnt;
        const uint32_t take = len < room ? len : room;
        // Byte by byte: the source may overlap the bytes being written.
        unsigned char *to = s.out + s.outcnt;
        const unsigned char *from = to - dist;
        for (uint32_t i = 0; i < take; ++i) to[i] = from[i];
        s.outcnt += take;
        if (take < len) return kFull;
    }
}

// Stored block (RFC 1951 3.2.4): the rest of the current byte is skipped, then
// LEN and NLEN (16 bits each, little-endian, NLEN = ~LEN) and LEN raw bytes.
int stored(DecoderState &s) {
    s.bitbuf = 0;
    s.bitcnt = 0;
    if (s.inlen - s.incnt < 4) return kFail;
    const unsigned char *p = s.in + s.incnt;
    const uint32_t len = p[0] | (uint32_t{p[1]} << 8);
    const uint32_t nlen = p[2] | (uint32_t{p[3]} << 8);
    if (len != (~nlen & 0xffff)) return kFail;
    s.incnt += 4;
    if (s.inlen - s.incnt < len) return kFail;
    const uint32_t room = s.outcap - s.outcnt;
    const uint32_t take = len < room ? len : room;
    if (take > 0) std::memcpy(s.out + s.outcnt, s.in + s.incnt, take);
    s.incnt += take;
    s.outcnt += take;
    return take < len ? kFull : 0;
}

// The fixed codes of RFC 1951 3.2.6, built at compile time. Literal/length
// symbols 0-143 have 8-bit codes, 144-255 9 bits, 256-279 7 bits and 280-287
// 8 bits; the 30 distance symbols have 5-bit codes.
constexpr HuffmanCode fixed_code(bool literals) {
    uint16_t length[kFixedLitCodes] = {};
    int n = 0;
    if (literals) {
        for (; n < 144; ++n) length[n] = 8;
        for (; n < 256; ++n) length[n] = 9;
        for (; n < 280; ++n) length[n] = 7;
        for (; n < kFixedLitCodes; ++n) length[n] = 8;
    } else {
        for (; n < kMaxDistCodes; ++n) length[n] = 5;
    }
    HuffmanCode h{};
    construct(h, length, n);
    return h;
}

int fixed(DecoderState &s) {
    static constexpr HuffmanCode lencode = fixed_code(true);
    static constexpr HuffmanCode distcode = fixed_code(false);
    return codes(s, lencode, distcode);
}

// Dynamic block (RFC 1951 3.2.7): the block describes its own two codes by
// their code lengths, which are themselves Huffman coded with a code-length
// code and run-length coded with symbols 16, 17 and 18.
int dynamic(DecoderState &s) {
    uint16_t lengths[kMaxLitCodes + kMaxDistCodes];
    HuffmanCode lencode;
    HuffmanCode distcode;

    const int hlit = bits(s, 5);
    const int hdist = bits(s, 5);
    const int hclen = bits(s, 4);
    if (hlit < 0 || hdist < 0 || hclen < 0) return kFail;
    const int nlen = hlit + 257;
    const int ndist = hdist + 1;
    const int ncode = hclen + 4;
    if (nlen > kMaxLitCodes || ndist > kMaxDistCodes) return kFail;

    // Code-length code: 3-bit lengths in `order`, the rest 0; it must be complete.
    int index = 0;
    for (; index < ncode; ++index) {
        const int len = bits(s, 3);
        if (len < 0) return kFail;
        lengths[order[index]] = static_cast<uint16_t>(len);
    }
    for (; index < 19; ++index) lengths[order[index]] = 0;
    if (construct(lencode, lengths, 19) != 0) return kFail;

    // Literal/length then distance code lengths, as one sequence.
    index = 0;
    while (index < nlen + ndist) {
        int symbol = decode(s, lencode);
        if (symbol < 0) return kFail;
        if (symbol < 16) {  // a length of 0 to 15
            lengths[index++] = static_cast<uint16_t>(symbol);
            continue;
        }
        uint16_t len = 0;  // the length to repeat
        int repeat = 0;
        if (symbol == 16) {  // previous length, 3-6 times
            if (index == 0) return kFail;
            len = lengths[index - 1];
            repeat = bits(s, 2);
            if (repeat < 0) return kFail;
            repeat += 3;
        } else if (symbol == 17) {  // zero, 3-10 times
            repeat = bits(s, 3);
            if (repeat < 0) return kFail;
            repeat += 3;
        } else {  // 18: zero, 11-138 times
            repeat = bits(s, 7);
            if (repeat < 0) return kFail;
            repeat += 11;
        }
        if (index + repeat > nlen + ndist) return kFail;
        while (repeat-- > 0) lengths[index++] = len;
    }

    if (lengths[256] == 0) return kFail;  // no way to end the block

    if (!usable(construct(lencode, lengths, nlen), lencode, nlen)) return kFail;
    if (!usable(construct(distcode, lengths + nlen, ndist), distcode, ndist)) return kFail;
    return codes(s, lencode, distcode);
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
    // and level are not examined. The Adler-32 trailer is never read.
    if ((source[0] & 0x0f) != 8) return kFail;
    if ((source[1] & 0x20) != 0) return kFail;

    DecoderState s{};
    s.out = dest;
    s.outcap = static_cast<uint32_t>(dest_cap);
    s.in = source + 2;
    s.inlen = source_len - 2;

    // Blocks (RFC 1951 3.2.3): BFINAL (1 bit), BTYPE (2 bits), block data.
    int last = 0;
    do {
        last = bits(s, 1);
        const int type = bits(s, 2);
        if (last < 0 || type < 0) return kFail;
        int err = kFail;  // type 3 is reserved
        if (type == 0) err = stored(s);
        if (type == 1) err = fixed(s);
        if (type == 2) err = dynamic(s);
        if (err != 0) return err;
    } while (last == 0);

    *produced = s.outcnt;
    return 0;
}
