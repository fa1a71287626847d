// The inflate decoder against zlib: zlib's own streams must decode to their
// input, hand-built corner cases must get the same verdict from both, and so
// must every stream the tests carry and random damage done to valid streams.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "inflate.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct Decoded {
    int rc;
    uint64_t produced;
    Bytes out;
};

// Decodes into a heap buffer of exactly `cap` bytes, so that AddressSanitizer
// catches any write past the capacity.
Decoded run_inflate(const Bytes &src, uint64_t cap) {
    Decoded d{0, 0xdead, Bytes(cap)};
    d.rc = inflate_decompress(src.data(), src.size(), d.out.data(), cap, &d.produced);
    d.out.resize(d.rc == 0 ? d.produced : 0);
    return d;
}

Bytes zlib_compress(const Bytes &data, int level, int strategy, int window_bits = 15) {
    z_stream zs{};
    EXPECT_EQ(deflateInit2(&zs, level, Z_DEFLATED, window_bits, 8, strategy), Z_OK);
    Bytes out(deflateBound(&zs, data.size()));
    zs.next_in = const_cast<Bytef *>(data.data());
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

// One stream with a stored, a fixed and a dynamic block in turn, the later
// ones referring back into the earlier ones.
Bytes zlib_mixed(const Bytes &data) {
    z_stream zs{};
    EXPECT_EQ(deflateInit(&zs, 0), Z_OK);
    Bytes out(deflateBound(&zs, data.size()) + 64);
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    const size_t third = data.size() / 3;
    const struct {
        int level, strategy;
        size_t from, to;
    } parts[] = {{0, Z_DEFAULT_STRATEGY, 0, third},
                 {6, Z_FIXED, third, 2 * third},
                 {9, Z_DEFAULT_STRATEGY, 2 * third, data.size()}};
    for (const auto &part : parts) {
        EXPECT_EQ(deflateParams(&zs, part.level, part.strategy), Z_OK);
        zs.next_in = const_cast<Bytef *>(data.data() + part.from);
        zs.avail_in = static_cast<uInt>(part.to - part.from);
        EXPECT_EQ(deflate(&zs, Z_NO_FLUSH), Z_OK);
    }
    EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

// zlib's verdict on the DEFLATE data behind a two-byte header: Z_STREAM_END
// with the output in *out, or the error zlib stopped with.
int zlib_raw_inflate(const Bytes &stream, Bytes *out) {
    z_stream zs{};
    EXPECT_EQ(inflateInit2(&zs, -15), Z_OK);
    out->assign(1 << 16, 0);
    zs.next_in = const_cast<Bytef *>(stream.data() + 2);
    zs.avail_in = static_cast<uInt>(stream.size() - 2);
    zs.next_out = out->data();
    zs.avail_out = static_cast<uInt>(out->size());
    const int rc = inflate(&zs, Z_FINISH);
    out->resize(zs.total_out);
    inflateEnd(&zs);
    return rc;
}

Bytes random_bytes(size_t n) {
    std::mt19937 rng(12345);
    Bytes b(n);
    for (auto &c : b) c = static_cast<unsigned char>(rng());
    return b;
}

// Words drawn at random: compressible, with matches at all distances.
Bytes text_bytes(size_t n) {
    static const char *const words[] = {"the",    "redaction",   "of",   "page",    "content",
                                        "stream", "glyph",       "font", "box",     "and",
                                        "object", "/Filter",     "BT",   "ET",      "Tj",
                                        "12.5",   "0 0 612 792", "\n",   "(Hello)", "inflate"};
    std::mt19937 rng(777);
    std::string s;
    while (s.size() < n) {
        s += words[rng() % (sizeof words / sizeof *words)];
        s += ' ';
    }
    return Bytes(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n));
}

Bytes bytes_of(const std::string &s) {
    return Bytes(s.begin(), s.end());
}

// Writes a DEFLATE bit stream behind the zlib header 78 01.
struct BitWriter {
    Bytes bytes{0x78, 0x01};
    int used = 8;  // bits taken in the last byte

    void put_bit(unsigned bit) {
        if (used == 8) {
            bytes.push_back(0);
            used = 0;
        }
        bytes.back() = static_cast<unsigned char>(bytes.back() | (bit << used));
        ++used;
    }
    // Header fields and extra bits: least significant bit first.
    void put(uint32_t value, int n) {
        for (int i = 0; i < n; ++i) put_bit((value >> i) & 1);
    }
    // Huffman codes: most significant bit first.
    void put_code(uint32_t code, int n) {
        for (int i = n - 1; i >= 0; --i) put_bit((code >> i) & 1);
    }
    // A literal/length symbol in the fixed code: 0-143 are 00110000 + s (8 bits),
    // 144-255 110010000 + (s - 144) (9 bits), 256-279 s - 256 (7 bits),
    // 280-287 11000000 + (s - 280) (8 bits).
    void put_fixed(int s) {
        if (s < 144)
            put_code(0x30 + s, 8);
        else if (s < 256)
            put_code(0x190 + s - 144, 9);
        else if (s < 280)
            put_code(s - 256, 7);
        else
            put_code(0xc0 + s - 280, 8);
    }
};

// Code lengths for `n` symbols, zero except for the listed ones.
std::vector<int> lengths(int n, std::initializer_list<std::pair<int, int>> coded) {
    std::vector<int> l(n, 0);
    for (auto [symbol, len] : coded) l[symbol] = len;
    return l;
}

// The canonical code of each symbol (RFC 1951 3.2.2).
std::vector<uint32_t> canonical(const std::vector<int> &len) {
    int count[16] = {};
    for (int l : len) count[l]++;
    count[0] = 0;
    uint32_t next[16] = {};
    uint32_t code = 0;
    for (int bits = 1; bits < 16; ++bits) next[bits] = code = (code + count[bits - 1]) << 1;
    std::vector<uint32_t> codes(len.size());
    for (size_t s = 0; s < len.size(); ++s)
        if (len[s] != 0) codes[s] = next[len[s]]++;
    return codes;
}

// A final dynamic block header for the given literal/length and distance code
// lengths. They are sent with a code-length code giving symbols 0-15 four bits
// each (16 codes of 4 bits: complete, and the code for a length v is v itself),
// so no run-length symbols are needed.
void put_dynamic_header(BitWriter &w, const std::vector<int> &lit, const std::vector<int> &dist) {
    static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    w.put(1, 1);                                        // BFINAL
    w.put(2, 2);                                        // BTYPE 2: dynamic
    w.put(static_cast<uint32_t>(lit.size() - 257), 5);  // HLIT
    w.put(static_cast<uint32_t>(dist.size() - 1), 5);   // HDIST
    w.put(19 - 4, 4);                                   // HCLEN: all 19 lengths follow
    for (int s : order) w.put(s < 16 ? 4 : 0, 3);
    for (int l : lit) w.put_code(l, 4);
    for (int l : dist) w.put_code(l, 4);
}

// A dynamic block with the given codes that sends `lit_syms`, where each
// length symbol (above 256) is followed by the distance code of `dist_sym`
// with no extra bits (lengths 257-264, distances 0-3).
Bytes dynamic_block(const std::vector<int> &lit, const std::vector<int> &dist,
                    const std::vector<int> &lit_syms, int dist_sym = 0) {
    BitWriter w;
    put_dynamic_header(w, lit, dist);
    const auto lc = canonical(lit), dc = canonical(dist);
    for (int s : lit_syms) {
        w.put_code(lc[s], lit[s]);
        if (s > 256) {
            if (dist[dist_sym] != 0)
                w.put_code(dc[dist_sym], dist[dist_sym]);
            else
                w.put_code(1, 1);  // no such code: any bit
        }
    }
    return w.bytes;
}

// A final fixed block with the literal 'a', then the length symbol `len_sym`
// (no extra bits) and distance symbol `dist_sym` (5 bits, no extra bits), then
// end-of-block.
Bytes fixed_copy_block(int len_sym, int dist_sym) {
    BitWriter w;
    w.put(1, 1);  // BFINAL
    w.put(1, 2);  // BTYPE 1: fixed
    w.put_fixed('a');
    w.put_fixed(len_sym);
    w.put_code(dist_sym, 5);
    w.put_fixed(256);
    return w.bytes;
}

// One step of a code-length sequence: a code-length symbol and the value of
// its extra bits (16: 2 bits, 17: 3 bits, 18: 7 bits, others none).
struct ClStep {
    int symbol, extra;
};

// A final dynamic block with HLIT `hlit` and HDIST `hdist` whose code-length
// code gives the code-length symbols in `cl` their lengths (HCLEN reaches the
// last of them in storage order), then the code-length sequence `steps`, then
// the bit 0: end-of-block when the literal/length code is just 256 with one bit.
Bytes lengths_block(int hlit, int hdist, std::initializer_list<std::pair<int, int>> cl,
                    std::initializer_list<ClStep> steps) {
    static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    const std::vector<int> cl_len = lengths(19, cl);
    int ncode = 4;
    for (int i = 0; i < 19; ++i)
        if (cl_len[order[i]] != 0 && i + 1 > ncode) ncode = i + 1;
    BitWriter w;
    w.put(1, 1);          // BFINAL
    w.put(2, 2);          // BTYPE 2: dynamic
    w.put(hlit, 5);       // HLIT: hlit + 257 literal/length codes
    w.put(hdist, 5);      // HDIST: hdist + 1 distance codes
    w.put(ncode - 4, 4);  // HCLEN
    for (int i = 0; i < ncode; ++i) w.put(cl_len[order[i]], 3);
    const auto codes = canonical(cl_len);
    for (const ClStep &step : steps) {
        w.put_code(codes[step.symbol], cl_len[step.symbol]);
        const int extra_bits[19] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};
        w.put(step.extra, extra_bits[step.symbol]);
    }
    w.put(0, 1);
    return w.bytes;
}

struct StreamCase {
    const char *what;
    Bytes stream;
    int rc;
    std::string out;  // when rc is 0
};

std::vector<StreamCase> hand_built_cases() {
    std::vector<StreamCase> cases;
    // Stored blocks. 01: BFINAL 1, BTYPE 0, five bits of padding; then LEN, NLEN.
    cases.push_back({"empty stored block", {0x78, 0x01, 0x01, 0x00, 0x00, 0xff, 0xff}, 0, ""});
    cases.push_back({"stored block", {0x78, 0x01, 0x01, 0x01, 0x00, 0xfe, 0xff, 'A'}, 0, "A"});
    cases.push_back({"NLEN not ~LEN", {0x78, 0x01, 0x01, 0x01, 0x00, 0xff, 0xff, 'A'}, -1, ""});
    // 07: BFINAL 1, BTYPE 3 (reserved).
    cases.push_back({"block type 3", {0x78, 0x01, 0x07, 0x00}, -1, ""});

    // Fixed blocks: 'a' then a copy of length 3.
    cases.push_back({"distance 1 after 1 byte", fixed_copy_block(257, 0), 0, "aaaa"});
    cases.push_back({"distance 2 after 1 byte", fixed_copy_block(257, 1), -1, ""});
    cases.push_back({"length symbol 286", fixed_copy_block(286, 0), -1, ""});
    cases.push_back({"length symbol 287", fixed_copy_block(287, 0), -1, ""});
    cases.push_back({"distance symbol 30", fixed_copy_block(257, 30), -1, ""});
    cases.push_back({"distance symbol 31", fixed_copy_block(257, 31), -1, ""});

    // Dynamic blocks built with put_dynamic_header. Literal/length code:
    // 'a' 1 bit, end-of-block and length 3 two bits each (1/2 + 2/4: complete).
    const auto lit = lengths(257 + 1, {{'a', 1}, {256, 2}, {257, 2}});
    cases.push_back({"single distance code of length 1",
                     dynamic_block(lit, lengths(1, {{0, 1}}), {'a', 257, 256}), 0, "aaaa"});
    cases.push_back({"the unused code beside a single one-bit distance code",
                     dynamic_block(lit, lengths(2, {{1, 1}}), {'a', 257, 256}, 0), -1, ""});
    cases.push_back(
        {"no distance codes at all",
         dynamic_block(lengths(257, {{'a', 1}, {256, 1}}), lengths(1, {}), {'a', 'a', 256}), 0,
         "aa"});
    cases.push_back({"distance code over-subscribed",
                     dynamic_block(lit, lengths(3, {{0, 1}, {1, 1}, {2, 1}}), {'a', 256}), -1, ""});
    cases.push_back({"distance code incomplete: one code of length 2",
                     dynamic_block(lit, lengths(1, {{0, 2}}), {'a', 257, 256}), -1, ""});
    cases.push_back({"literal code over-subscribed: three codes of length 1",
                     dynamic_block(lengths(257, {{'a', 1}, {'b', 1}, {256, 1}}),
                                   lengths(1, {{0, 1}}), {'a', 256}),
                     -1, ""});
    cases.push_back({"literal code incomplete: three codes of length 2",
                     dynamic_block(lengths(257, {{'a', 2}, {'b', 2}, {256, 2}}),
                                   lengths(1, {{0, 1}}), {'a', 256}),
                     -1, ""});
    cases.push_back(
        {"no code for end-of-block",
         dynamic_block(lengths(257, {{'a', 1}, {'b', 1}}), lengths(1, {{0, 1}}), {'a', 'b'}), -1,
         ""});

    // Code-length sequences. The code-length code is 18 -> 0, 1 -> 10, 16 -> 11
    // (lengths 1, 2, 2: complete). Each stream is valid but for its fault:
    // the literal/length code is 256 alone with one bit, the distance code
    // symbol 0 alone with one bit or empty.
    const std::initializer_list<std::pair<int, int>> cl = {{18, 1}, {1, 2}, {16, 2}};
    const ClStep zeros138{18, 127}, zeros118{18, 107};  // 256 zeros: literals 0-255
    const ClStep one{1, 0};
    cases.push_back({"code lengths sent with repeats",
                     lengths_block(0, 0, cl, {zeros138, zeros118, one, one}), 0, ""});
    cases.push_back({"286 literal/length codes",
                     lengths_block(29, 0, cl, {zeros138, zeros118, one, {18, 18}, one}), 0, ""});
    cases.push_back({"30 distance codes",
                     lengths_block(0, 29, cl, {zeros138, zeros118, one, one, {18, 18}}), 0, ""});
    cases.push_back({"287 literal/length codes",
                     lengths_block(30, 0, cl, {zeros138, zeros118, one, {18, 19}, one}), -1, ""});
    cases.push_back({"31 distance codes",
                     lengths_block(0, 30, cl, {zeros138, zeros118, one, one, {18, 19}}), -1, ""});
    cases.push_back({"repeat with no previous length",
                     lengths_block(0, 0, cl, {{16, 0}, zeros138, {18, 104}, one, one}), -1, ""});
    cases.push_back({"repeat of a length past the last one",  // 257-259 of 0-257
                     lengths_block(0, 0, cl, {zeros138, zeros118, one, {16, 0}}), -1, ""});
    cases.push_back({"repeat of zeros past the last one",  // 257-267 of 0-257
                     lengths_block(0, 0, cl, {zeros138, zeros118, one, {18, 0}}), -1, ""});
    cases.push_back({"code-length code incomplete",  // 18 -> 0, 1 -> 10, 11 unused
                     lengths_block(0, 0, {{18, 1}, {1, 2}}, {zeros138, zeros118, one, one}), -1,
                     ""});
    cases.push_back({"code-length code over-subscribed",  // three codes of one bit
                     lengths_block(0, 0, {{18, 1}, {1, 1}, {16, 1}}, {zeros138, zeros118}), -1,
                     ""});
    return cases;
}

TEST(InflateRoundTrip, EveryLevelAndStrategyDecodesToTheInput) {
    struct Setting {
        int level, strategy;
    };
    std::vector<Setting> settings;
    for (int level = 0; level <= 9; ++level) settings.push_back({level, Z_DEFAULT_STRATEGY});
    for (int strategy : {Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED})
        settings.push_back({6, strategy});

    for (size_t size : {0, 1, 2, 100, 4000, 70000, 1 << 20}) {
        for (const Bytes &data : {random_bytes(size), text_bytes(size)}) {
            for (const Setting &s : settings) {
                SCOPED_TRACE("size " + std::to_string(size) + " level " + std::to_string(s.level) +
                             " strategy " + std::to_string(s.strategy));
                const Decoded d = run_inflate(zlib_compress(data, s.level, s.strategy), size);
                ASSERT_EQ(d.rc, 0);
                ASSERT_EQ(d.produced, size);
                ASSERT_TRUE(d.out == data);
            }
        }
    }
}

TEST(InflateRoundTrip, StoredFixedAndDynamicBlocksInOneStream) {
    for (size_t size : {300, 200000}) {
        const Bytes data = text_bytes(size);
        const Decoded d = run_inflate(zlib_mixed(data), size);
        ASSERT_EQ(d.rc, 0);
        ASSERT_TRUE(d.out == data);
    }
}

TEST(InflateRoundTrip, HandBuiltStreamsAgreeWithZlib) {
    for (const StreamCase &c : hand_built_cases()) {
        SCOPED_TRACE(c.what);
        const Decoded d = run_inflate(c.stream, 64);
        EXPECT_EQ(d.rc, c.rc);
        Bytes zout;
        const int zrc = zlib_raw_inflate(c.stream, &zout);
        if (c.rc == 0) {
            EXPECT_EQ(std::string(d.out.begin(), d.out.end()), c.out);
            EXPECT_EQ(zrc, Z_STREAM_END);
            EXPECT_TRUE(zout == d.out);
        } else {
            EXPECT_EQ(d.produced, 0u);
            EXPECT_EQ(zrc, Z_DATA_ERROR);
        }
    }
}

TEST(InflateFailure, EveryCutBeforeTheFinalBlockEndsFails) {
    const Bytes text = text_bytes(3000);
    const Bytes streams[] = {zlib_mixed(text), zlib_compress(text, 0, Z_DEFAULT_STRATEGY),
                             zlib_compress(text, 6, Z_FIXED), zlib_compress(text, 9, Z_RLE)};
    for (const Bytes &z : streams) {
        const size_t deflate_end = z.size() - 4;  // the Adler-32 trailer follows
        for (size_t cut = 0; cut <= z.size(); ++cut) {
            SCOPED_TRACE("cut at " + std::to_string(cut) + " of " + std::to_string(z.size()));
            const Decoded d = run_inflate(Bytes(z.begin(), z.begin() + cut), text.size());
            if (cut < deflate_end) {
                ASSERT_EQ(d.rc, -1);
                ASSERT_EQ(d.produced, 0u);
            } else {
                ASSERT_EQ(d.rc, 0);
                ASSERT_TRUE(d.out == text);
            }
        }
    }
}

TEST(InflateFailure, OutputOverTheCapacityIsReportedAsFullWithThePrefixInPlace) {
    const Bytes text = text_bytes(5000);
    const Bytes run(1000, 'x');
    const struct {
        const char *what;
        Bytes data, stream;
    } cases[] = {
        {"ends in a stored block", text, zlib_compress(text, 0, Z_DEFAULT_STRATEGY)},
        {"ends in a literal", text, zlib_compress(text, 6, Z_HUFFMAN_ONLY)},
        {"ends in a copy", run, zlib_compress(run, 6, Z_RLE)},
        {"mixed blocks", text, zlib_mixed(text)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(run_inflate(c.stream, c.data.size()).rc, 0);
        for (uint64_t cap : {c.data.size() - 1, c.data.size() / 2, size_t{1}, size_t{0}}) {
            // A reader that knows the size it needs uses the full destination.
            Bytes out(cap);
            uint64_t produced = 99;
            EXPECT_EQ(
                inflate_decompress(c.stream.data(), c.stream.size(), out.data(), cap, &produced),
                -2)
                << "capacity " << cap;
            EXPECT_EQ(produced, 0u);
            EXPECT_TRUE(std::equal(out.begin(), out.end(), c.data.begin())) << "capacity " << cap;
        }
    }
}

TEST(InflateFailure, CapacityAboveTwoToTheThirtyIsRefused) {
    const Bytes z = zlib_compress(bytes_of("hello, hello"), 6, Z_DEFAULT_STRATEGY);
    unsigned char out[16];
    uint64_t produced = 99;
    // The decoder writes only the bytes it produces, so a small buffer can
    // stand in for a large capacity.
    EXPECT_EQ(inflate_decompress(z.data(), z.size(), out, uint64_t{1} << 30, &produced), 0);
    EXPECT_EQ(produced, 12u);
    for (uint64_t cap : {(uint64_t{1} << 30) + 1, (uint64_t{1} << 32) + 100, UINT64_MAX}) {
        produced = 99;
        EXPECT_EQ(inflate_decompress(z.data(), z.size(), out, cap, &produced), -1) << cap;
        EXPECT_EQ(produced, 0u);
    }
}

TEST(InflateHeader, OnlyMethodAndPresetDictionaryBitAreChecked) {
    const Bytes hello = bytes_of("hello hello hello");
    const Bytes raw = zlib_compress(hello, 6, Z_DEFAULT_STRATEGY, -15);
    const struct {
        const char *what;
        unsigned char cmf, flg;
        int rc;
    } cases[] = {
        {"usual header", 0x78, 0x9c, 0},
        {"wrong check bits", 0x78, 0x00, 0},
        {"window size 15 (out of range)", 0xf8, 0x00, 0},
        {"method 0", 0x70, 0x00, -1},
        {"method 7", 0x77, 0x9c, -1},
        {"method 9", 0x79, 0x00, -1},
        {"method 15", 0x7f, 0x00, -1},
        {"preset dictionary", 0x78, 0xbb, -1},  // 0x78bb is a multiple of 31
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes z{c.cmf, c.flg};
        z.insert(z.end(), raw.begin(), raw.end());
        const Decoded d = run_inflate(z, hello.size());
        EXPECT_EQ(d.rc, c.rc);
        if (c.rc == 0) {
            EXPECT_TRUE(d.out == hello);
        }
    }
}

TEST(InflateHeader, MissingHeaderFails) {
    // The block type sits in bits 1-2 of a raw stream's first byte, so its low
    // four bits are never 8.
    const Bytes text = text_bytes(500);
    for (int level : {0, 1, 9}) {
        SCOPED_TRACE(level);
        EXPECT_EQ(run_inflate(zlib_compress(text, level, Z_DEFAULT_STRATEGY, -15), 500).rc, -1);
    }
    for (const Bytes &shortest : {Bytes{}, Bytes{0x78}, Bytes{0x78, 0x9c}})
        EXPECT_EQ(run_inflate(shortest, 16).rc, -1) << shortest.size();
}

TEST(InflateTrailer, AdlerChecksumAndTrailingBytesAreNotRead) {
    const Bytes text = text_bytes(2000);
    const Bytes z = zlib_compress(text, 6, Z_DEFAULT_STRATEGY);
    Bytes no_adler(z.begin(), z.end() - 4);
    Bytes bad_adler = no_adler;
    bad_adler.insert(bad_adler.end(), {0, 0, 0, 0});  // a wrong Adler-32
    Bytes garbage = z;
    for (unsigned char c : bytes_of("\xff garbage after the stream")) garbage.push_back(c);
    for (const Bytes &s : {no_adler, bad_adler, garbage}) {
        const Decoded d = run_inflate(s, text.size());
        EXPECT_EQ(d.rc, 0);
        EXPECT_TRUE(d.out == text);
    }
}

// Data whose Huffman codes reach 15 bits: byte i occurs fib(i) times
// (1, 1, 2, 3, 5, ...), in an order without repeats for the matcher to find.
Bytes long_code_bytes() {
    Bytes b;
    uint32_t f0 = 1, f1 = 1;
    for (int symbol = 0; symbol < 22; ++symbol) {
        b.insert(b.end(), f0, static_cast<unsigned char>('A' + symbol));
        const uint32_t next = f0 + f1;
        f0 = f1;
        f1 = next;
    }
    std::shuffle(b.begin(), b.end(), std::mt19937(99));
    return b;
}

// Runs of every short period, each long enough for copies of 258 bytes,
// between stretches of text: copies whose source overlaps their output.
Bytes short_period_bytes() {
    Bytes b = text_bytes(300);
    for (int period = 1; period <= 20; ++period) {
        for (int i = 0; i < 700; ++i) b.push_back(static_cast<unsigned char>('a' + (i % period) * 3 % 26));
        const Bytes t = text_bytes(37 * period);
        b.insert(b.end(), t.begin(), t.end());
    }
    return b;
}

TEST(InflateRoundTrip, LongCodesAndShortPeriodsNearAndFarFromTheEnd) {
    // With the exact size the last bytes are decoded step by step because the
    // output is nearly full; with room to spare, because the input is nearly
    // used up. The bytes past the output are never written.
    for (const Bytes &data : {long_code_bytes(), short_period_bytes()}) {
        for (int strategy : {Z_DEFAULT_STRATEGY, Z_HUFFMAN_ONLY, Z_FIXED, Z_RLE}) {
            const Bytes z = zlib_compress(data, 9, strategy);
            for (uint64_t spare : {0, 1, 7, 300}) {
                SCOPED_TRACE("strategy " + std::to_string(strategy) + " spare " +
                             std::to_string(spare));
                Bytes out(data.size() + spare, 0x5a);
                uint64_t produced = 0;
                ASSERT_EQ(inflate_decompress(z.data(), z.size(), out.data(), out.size(), &produced), 0);
                ASSERT_EQ(produced, data.size());
                ASSERT_TRUE(std::equal(data.begin(), data.end(), out.begin()));
                ASSERT_EQ(std::count(out.begin() + static_cast<std::ptrdiff_t>(data.size()), out.end(), 0x5a),
                          static_cast<std::ptrdiff_t>(spare));
            }
        }
    }
}

// What our decoder must answer for `stream` with capacity `cap`, found with
// zlib. The header goes through the decoder's own two checks (method 8, no
// preset dictionary): zlib's `uncompress` would also reject wrong check bits
// and window sizes, which the decoder ignores. The deflate data goes through
// zlib's raw inflate, which never reads the Adler-32 trailer, with one byte
// of room over `cap`: any byte written there means the decoder runs out of
// room first, and so answers -2, whatever the data holds further on. Only a
// stored block cut short differs: zlib copies what it has, while the decoder
// checks that the whole block is present before it looks at the room, so a
// stored block that neither fits nor is all there fails with -1.
struct Verdict {
    int rc;
    Bytes out;  // when rc is 0
};

Verdict zlib_verdict(const Bytes &stream, uint64_t cap) {
    if (stream.size() < 2 || (stream[0] & 0x0f) != 8 || (stream[1] & 0x20) != 0) return {-1, {}};
    z_stream zs{};
    EXPECT_EQ(inflateInit2(&zs, -15), Z_OK);
    Bytes out(cap + 1);
    zs.next_in = const_cast<Bytef *>(stream.data() + 2);
    zs.avail_in = static_cast<uInt>(stream.size() - 2);
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    const int rc = inflate(&zs, Z_FINISH);
    const long mark = inflateMark(&zs);
    const uInt unread = zs.avail_in;
    const uint64_t total = zs.total_out;
    inflateEnd(&zs);
    if (total > cap) {
        const bool in_stored_block = (mark >> 16) == -1 && (mark & 0xffff) != 0;
        return {in_stored_block && unread < static_cast<uLong>(mark & 0xffff) ? -1 : -2, {}};
    }
    if (rc != Z_STREAM_END) return {-1, {}};
    out.resize(total);
    return {0, out};
}

// The whole output zlib's raw inflate makes of the stream, or nothing when
// zlib fails or the output passes `limit`.
bool zlib_full_output(const Bytes &stream, Bytes *out, uint64_t limit = 64u << 20) {
    out->clear();
    if (stream.size() < 2) return false;
    z_stream zs{};
    EXPECT_EQ(inflateInit2(&zs, -15), Z_OK);
    zs.next_in = const_cast<Bytef *>(stream.data() + 2);
    zs.avail_in = static_cast<uInt>(stream.size() - 2);
    int rc = Z_OK;
    unsigned char chunk[1 << 16];
    while (rc == Z_OK && out->size() <= limit) {
        zs.next_out = chunk;
        zs.avail_out = sizeof chunk;
        rc = inflate(&zs, Z_NO_FLUSH);
        out->insert(out->end(), chunk, chunk + (sizeof chunk - zs.avail_out));
    }
    inflateEnd(&zs);
    return rc == Z_STREAM_END && out->size() <= limit;
}

// Our answer must be zlib's, output and all, with `produced` 0 on failure.
void expect_zlib_verdict(const Bytes &stream, uint64_t cap) {
    const Verdict want = zlib_verdict(stream, cap);
    const Decoded got = run_inflate(stream, cap);
    ASSERT_EQ(got.rc, want.rc) << "capacity " << cap;
    if (want.rc == 0) {
        ASSERT_EQ(got.produced, want.out.size());
        ASSERT_TRUE(got.out == want.out);
    } else {
        ASSERT_EQ(got.produced, 0u);
    }
}

// Checks one stream at the capacities that matter: the exact decoded size,
// one byte less and half, or a fixed one when zlib fails.
void expect_zlib_verdicts(const Bytes &stream) {
    Bytes full;
    if (zlib_full_output(stream, &full)) {
        for (uint64_t cap : {uint64_t{full.size()}, uint64_t{full.size()} - 1, uint64_t{full.size()} / 2})
            if (cap <= full.size()) expect_zlib_verdict(stream, cap);
    } else {
        expect_zlib_verdict(stream, 1 << 16);
    }
}

Bytes read_file(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// The data of every stream object in a PDF file: from the end of line after
// "stream" to "endstream" (an end of line before it is left in: the bytes
// after the final block are ignored).
std::vector<Bytes> pdf_streams(const Bytes &file) {
    std::vector<Bytes> streams;
    const std::string text(file.begin(), file.end());
    for (size_t at = text.find("stream"); at != std::string::npos; at = text.find("stream", at + 6)) {
        if (at >= 3 && text.compare(at - 3, 3, "end") == 0) continue;
        size_t start = at + 6;
        if (text.compare(start, 2, "\r\n") == 0)
            start += 2;
        else if (start < text.size() && text[start] == '\n')
            start += 1;
        else
            continue;
        const size_t end = text.find("endstream", start);
        if (end == std::string::npos) break;
        streams.emplace_back(file.begin() + static_cast<std::ptrdiff_t>(start),
                             file.begin() + static_cast<std::ptrdiff_t>(end));
    }
    return streams;
}

TEST(InflateAgainstZlib, EveryCorpusFileAndFixtureStream) {
    namespace fs = std::filesystem;
    int corpus_files = 0;
    for (const auto &dir : fs::directory_iterator(INKVEIL_FUZZ_CORPUS)) {
        for (const auto &entry : fs::directory_iterator(dir.path())) {
            SCOPED_TRACE(entry.path().string());
            const Bytes file = read_file(entry.path());
            ++corpus_files;
            // The file as a stream, and as the inflate fuzz target reads it:
            // a capacity byte, then the stream.
            expect_zlib_verdicts(file);
            if (!file.empty())
                expect_zlib_verdict(Bytes(file.begin() + 1, file.end()), uint64_t{file[0]} * 1024 + 7);
        }
    }
    EXPECT_GE(corpus_files, 20);

    int streams = 0, decoded = 0, checksummed = 0;
    for (const auto &entry : fs::directory_iterator(INKVEIL_FIXTURES)) {
        if (entry.path().extension() != ".pdf") continue;
        for (const Bytes &stream : pdf_streams(read_file(entry.path()))) {
            SCOPED_TRACE(entry.path().filename().string() + " stream " + std::to_string(streams));
            ++streams;
            expect_zlib_verdicts(stream);
            Bytes full;
            if (!zlib_full_output(stream, &full)) continue;
            ++decoded;
            // Where the stream carries a valid zlib header, zlib's checked
            // decoder, Adler-32 included, agrees on the bytes.
            if ((stream[0] * 256 + stream[1]) % 31 != 0 || (stream[0] >> 4) > 7) continue;
            Bytes checked(full.size() + 1);
            uLongf checked_len = checked.size();
            ASSERT_EQ(uncompress(checked.data(), &checked_len, stream.data(), stream.size()), Z_OK);
            checked.resize(checked_len);
            ASSERT_TRUE(checked == full);
            ++checksummed;
        }
    }
    // 61 of the fixtures' 86 streams are compressed, 22 of them in the
    // real-producer samples.
    EXPECT_GE(decoded, 61);
    EXPECT_EQ(checksummed, decoded);
}

TEST(InflateAgainstZlib, RandomBytesCutsAndBitFlips) {
    std::mt19937 rng(2024);
    std::vector<Bytes> valid = {
        zlib_compress(text_bytes(3000), 9, Z_DEFAULT_STRATEGY),
        zlib_compress(text_bytes(20000), 6, Z_FIXED),
        zlib_compress(random_bytes(2000), 6, Z_DEFAULT_STRATEGY),
        zlib_compress(long_code_bytes(), 9, Z_HUFFMAN_ONLY),
        zlib_compress(short_period_bytes(), 9, Z_RLE),
        zlib_mixed(text_bytes(5000)),
    };
    for (const StreamCase &c : hand_built_cases()) valid.push_back(c.stream);
    const auto below = [&](size_t n) { return n == 0 ? size_t{0} : rng() % n; };
    const auto capacity = [&](size_t hint) -> uint64_t {
        // Mostly ample room; else anything up to the size a valid stream had.
        return rng() % 4 != 0 ? uint64_t{1} << 18 : below(hint + 1);
    };

    for (int round = 0; round < 1500; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        // Random deflate data behind a valid header, and wholly random bytes.
        Bytes noise{0x78, 0x9c};
        for (size_t n = below(300); n > 0; --n) noise.push_back(static_cast<unsigned char>(rng()));
        expect_zlib_verdict(noise, capacity(1000));
        noise[0] = static_cast<unsigned char>(rng());
        noise[1] = static_cast<unsigned char>(rng());
        expect_zlib_verdict(noise, capacity(1000));

        const Bytes &base = valid[below(valid.size())];
        const Verdict whole = zlib_verdict(base, 1 << 18);
        // A cut anywhere.
        Bytes cut(base.begin(), base.begin() + static_cast<std::ptrdiff_t>(below(base.size() + 1)));
        expect_zlib_verdict(cut, capacity(whole.out.size()));
        // One to three flipped bits, anywhere past the header.
        Bytes flipped = base;
        for (size_t n = 1 + below(3); n > 0 && flipped.size() > 2; --n)
            flipped[2 + below(flipped.size() - 2)] ^= static_cast<unsigned char>(1u << below(8));
        expect_zlib_verdict(flipped, capacity(whole.out.size()));
    }
}

}  // namespace
