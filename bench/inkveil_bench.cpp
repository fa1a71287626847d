// Benchmarks of the hot paths, each verifying what it timed: the inflate
// decoder on real streams beside zlib and beside the decoder it replaced, the
// content redaction engine, the CMap parser, and image pixel redaction.
#include <benchmark/benchmark.h>
#include <turbojpeg.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../tests/pdf_builder.h"
#include "cmap.h"
#include "document.h"
#include "driver.h"
#include "image.h"
#include "inflate.h"
#include "inkveil.h"
#include "redact.h"

// The inflate decoder as it was before the table-driven one (one bit per
// loop turn), kept here only to show both side by side in one run.
namespace bitwise {

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

        if (len > s.outcap - s.outcnt) return kFull;
        // Byte by byte: the source may overlap the bytes being written.
        unsigned char *to = s.out + s.outcnt;
        const unsigned char *from = to - dist;
        for (uint32_t i = 0; i < len; ++i) to[i] = from[i];
        s.outcnt += len;
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
    if (len > s.outcap - s.outcnt) return kFull;
    if (len > 0) std::memcpy(s.out + s.outcnt, s.in + s.incnt, len);
    s.incnt += len;
    s.outcnt += len;
    return 0;
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

// The decoder before the table-driven rewrite, unchanged but for its name.
int inflate_bitwise(const unsigned char *source, uint64_t source_len, unsigned char *dest,
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

}  // namespace bitwise

namespace {

// Content-stream-like text, 4 MiB.
std::string sample_text() {
    std::string text;
    for (int i = 0; text.size() < (4u << 20); ++i)
        text += "BT /F1 12 Tf 72 " + std::to_string(700 - i % 600) +
                " Td (Line " + std::to_string(i) + " of the quarterly statement) Tj ET\n";
    return text;
}

using Bytes = std::vector<unsigned char>;

// zlib's raw inflate (windowBits -15: no header, no Adler-32) of the deflate
// data behind a stream's two-byte zlib header, into exactly `out`. The state is
// made once and reset per stream, which spares zlib its set-up cost.
struct ZlibRaw {
    z_stream zs{};
    ZlibRaw() { inflateInit2(&zs, -15); }
    ~ZlibRaw() { inflateEnd(&zs); }
    ZlibRaw(const ZlibRaw &) = delete;
    ZlibRaw &operator=(const ZlibRaw &) = delete;

    // True when the stream ends and fills `out` exactly, or with
    // `shrink` when it ends within `out`, which then keeps what was made.
    bool run(const Bytes &stream, Bytes &out, bool shrink = false) {
        inflateReset(&zs);
        zs.next_in = const_cast<Bytef *>(stream.data() + 2);
        zs.avail_in = static_cast<uInt>(stream.size() - 2);
        zs.next_out = out.data();
        zs.avail_out = static_cast<uInt>(out.size());
        if (inflate(&zs, Z_FINISH) != Z_STREAM_END) return false;
        if (shrink) out.resize(zs.total_out);
        return zs.total_out == out.size();
    }
};

enum class StreamKind { font, image, content, synthetic };

// One compressed stream and what it decodes to.
struct Sample {
    Bytes packed;
    Bytes plain;
};

Bytes read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// The Flate streams of a kind in the real-producer PDFs the tests carry:
// embedded font programs (a /Length1, /Length2 or /Length3 entry), images
// (/Subtype /Image) and page content (text or graphics operators, no /Type).
std::vector<Sample> real_streams(StreamKind kind) {
    static const char *const files[] = {"chromium.pdf", "libreoffice_writer.pdf", "pdflatex_cm.pdf",
                                        "tesseract_ocr.pdf", "ps2pdf-report.pdf"};
    std::vector<Sample> samples;
    ZlibRaw zlib;
    for (const char *name : files) {
        const Bytes file = read_file(std::string(INKVEIL_FIXTURES) + "/" + name);
        const std::string text(file.begin(), file.end());
        for (size_t at = text.find("stream"); at != std::string::npos;
             at = text.find("stream", at + 6)) {
            if (at >= 3 && text.compare(at - 3, 3, "end") == 0) continue;
            const size_t obj = text.rfind(" obj", at);
            if (obj == std::string::npos) continue;
            const std::string dict = text.substr(obj, at - obj);
            size_t start = at + 6;
            start += text.compare(start, 2, "\r\n") == 0 ? 2 : 1;
            const size_t end = text.find("endstream", start);
            if (end == std::string::npos || dict.find("/FlateDecode") == std::string::npos) continue;
            Sample s;
            s.packed.assign(file.begin() + static_cast<std::ptrdiff_t>(start),
                            file.begin() + static_cast<std::ptrdiff_t>(end));
            // Room grows until zlib finishes; streams it cannot decode are left out.
            for (size_t room = 16 * s.packed.size() + 64; room <= (64u << 20); room *= 2) {
                s.plain.resize(room);
                if (zlib.run(s.packed, s.plain, true)) break;
                s.plain.clear();
            }
            if (s.plain.empty()) continue;
            const std::string plain(s.plain.begin(), s.plain.end());
            const bool font = dict.find("/Length1") != std::string::npos ||
                              dict.find("/Length2") != std::string::npos ||
                              dict.find("/Length3") != std::string::npos;
            const bool image = dict.find("/Subtype /Image") != std::string::npos ||
                               dict.find("/Subtype/Image") != std::string::npos;
            const bool content = !font && !image && dict.find("/Type") == std::string::npos &&
                                 plain.find("begincmap") == std::string::npos &&
                                 (plain.find(" Tf") != std::string::npos ||
                                  plain.find(" cm") != std::string::npos);
            if ((kind == StreamKind::font && font) || (kind == StreamKind::image && image) ||
                (kind == StreamKind::content && content))
                samples.push_back(std::move(s));
        }
    }
    return samples;
}

std::vector<Sample> streams_of(StreamKind kind) {
    if (kind != StreamKind::synthetic) return real_streams(kind);
    const std::string text = sample_text();
    Sample s;
    s.plain.assign(text.begin(), text.end());
    uLongf size = compressBound(text.size());
    s.packed.resize(size);
    compress2(s.packed.data(), &size, s.plain.data(), s.plain.size(), 6);
    s.packed.resize(size);
    return {s};
}

enum class Engine { ours, before, zlib };

// Decodes every stream of a kind per iteration into buffers of exactly the
// decoded size; the outputs of the last iteration are compared afterwards.
void BM_Inflate(benchmark::State &state, StreamKind kind, Engine engine) {
    const std::vector<Sample> samples = streams_of(kind);
    if (samples.empty()) {
        state.SkipWithError("no streams of this kind in the fixtures");
        return;
    }
    std::vector<Bytes> outs;
    int64_t packed = 0, plain = 0;
    for (const Sample &s : samples) {
        outs.emplace_back(s.plain.size());
        packed += static_cast<int64_t>(s.packed.size());
        plain += static_cast<int64_t>(s.plain.size());
    }
    ZlibRaw zlib;
    bool ok = true;
    for (auto _ : state) {
        for (size_t i = 0; i < samples.size(); ++i) {
            const Bytes &in = samples[i].packed;
            Bytes &out = outs[i];
            uint64_t produced = 0;
            switch (engine) {
            case Engine::ours:
                ok &= inflate_decompress(in.data(), in.size(), out.data(), out.size(), &produced) == 0 &&
                      produced == out.size();
                break;
            case Engine::before:
                ok &= bitwise::inflate_bitwise(in.data(), in.size(), out.data(), out.size(), &produced) == 0 &&
                      produced == out.size();
                break;
            case Engine::zlib: ok &= zlib.run(in, out); break;
            }
        }
    }
    for (size_t i = 0; i < samples.size(); ++i) ok &= outs[i] == samples[i].plain;
    if (!ok) state.SkipWithError("a stream did not decode to zlib's output");
    state.SetBytesProcessed(state.iterations() * plain);
    state.counters["streams"] = static_cast<double>(samples.size());
    state.counters["ratio"] = static_cast<double>(plain) / static_cast<double>(packed);
}

// Throughput is of decoded bytes. Each kind runs with our decoder, the one
// it replaced and zlib, next to each other.
#define INKVEIL_INFLATE_BENCH(kind)                                                     \
    BENCHMARK_CAPTURE(BM_Inflate, kind##_ours, StreamKind::kind, Engine::ours)          \
        ->Unit(benchmark::kMicrosecond);                                                \
    BENCHMARK_CAPTURE(BM_Inflate, kind##_before, StreamKind::kind, Engine::before)      \
        ->Unit(benchmark::kMicrosecond);                                                \
    BENCHMARK_CAPTURE(BM_Inflate, kind##_zlib, StreamKind::kind, Engine::zlib)          \
        ->Unit(benchmark::kMicrosecond)
INKVEIL_INFLATE_BENCH(font);
INKVEIL_INFLATE_BENCH(image);
INKVEIL_INFLATE_BENCH(content);
INKVEIL_INFLATE_BENCH(synthetic);

// One 4 MiB content stream in text mode (arg 0) or region mode (arg 1).
void BM_RedactContent(benchmark::State &state) {
    const std::string text = sample_text();
    const Region region = {1, 0, 300, 612, 100};
    const bool regions = state.range(0) == 1;
    SearchSet search;
    search_set_add(search, "quarterly");
    search_set_build(search);
    RedactJob job;
    job.search = regions ? nullptr : &search;
    job.regions = regions ? &region : nullptr;
    job.region_count = regions ? 1 : 0;
    // No resources: every font falls back to the standard tables.
    Doc doc;
    FontCache fonts;
    const PdfObj no_resources;
    const ContentContext ctx{doc, fonts, no_resources};
    int expected = -1;
    for (auto _ : state) {
        state.PauseTiming();
        std::string content = text;
        Buf out;
        state.ResumeTiming();
        int painted = 0, matches = 0;
        redact_content(ctx, reinterpret_cast<unsigned char *>(content.data()),
                       static_cast<int32_t>(content.size()), job, Placement{}, out, &painted,
                       &matches);
        if (!out.data || out.len <= text.size() || painted != 1 ||
            (expected >= 0 && matches != expected)) {
            state.SkipWithError("redaction result changed");
            return;
        }
        expected = matches;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_RedactContent)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A ToUnicode CMap of about `size` bytes as producers write them (arg 0:
// blocks of bfchar and bfrange entries), or hostile text of the same size
// (arg 1: hex strings left open into the next, numbers, braces and comments
// inside blocks that never end). The second argument is the size in MiB, so
// that time per byte shows the parser linear.
std::string sample_cmap(bool hostile, size_t size, size_t *entries) {
    std::string text = "/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n"
                       "1 begincodespacerange <0000> <FFFF> endcodespacerange\n";
    char line[64];
    *entries = 0;
    for (uint32_t block = 0; text.size() < size; ++block) {
        if (hostile) {
            text += "beginbfchar <01> <00";
            for (int i = 0; i < 200; ++i) text += " 0";
            text += " <02 % a comment <0041>\n{ 1.5 } (a(b)\\)) <0003> <";
            continue;
        }
        text += "100 beginbfchar\n";
        for (uint32_t i = 0; i < 100; ++i, ++*entries) {
            const uint32_t code = (block * 200 + i) & 0xFFFF;
            std::snprintf(line, sizeof line, "<%04X> <%04X>\n", code, 0x4E00 + code % 0x5000);
            text += line;
        }
        text += "endbfchar\n100 beginbfrange\n";
        for (uint32_t i = 100; i < 200; ++i, ++*entries) {
            const uint32_t code = (block * 200 + i) & 0xFFFF;
            std::snprintf(line, sizeof line, "<%04X> <%04X> <%04X>\n", code, code, 0x4E00 + code % 0x5000);
            text += line;
        }
        text += "endbfrange\n";
    }
    return text + "endcmap end end\n";
}

void BM_CMapParse(benchmark::State &state) {
    size_t entries = 0;
    const bool hostile = state.range(0) == 1;
    const std::string text = sample_cmap(hostile, static_cast<size_t>(state.range(1)) << 20, &entries);
    const size_t expected_runs = hostile ? 0 : std::min<size_t>(entries, 0x10000);
    for (auto _ : state) {
        CMap cmap;
        cmap_parse(reinterpret_cast<const unsigned char *>(text.data()), text.size(), cmap);
        std::u32string one;
        if (cmap.bf.size() > expected_runs || (!hostile && !cmap_to_unicode(cmap, 0x0101, one)) ||
            (!hostile && one != U"\u4F01") || cmap.codespace.size() != 1) {
            state.SkipWithError("the parsed CMap changed");
            return;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_CMapParse)->Args({0, 1})->Args({0, 4})->Args({1, 1})->Args({1, 4})->Unit(benchmark::kMillisecond);

// A whole file: `pages` pages, each with a compressed content stream of about
// 3 KB of text (the search word once per page) and a compressed form that
// each page draws (the word once more in every tenth form).
std::string sample_file(int pages) {
    pdftest::PdfBuilder pdf;
    std::string kids;
    for (int i = 0; i < pages; ++i) kids += std::to_string(3 + 3 * i) + " 0 R ";
    pdf.obj(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .obj(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
    for (int i = 0; i < pages; ++i) {
        const int page = 3 + 3 * i;
        std::string content = "BT /F1 10 Tf 12 TL 72 760 Td\n";
        for (int line = 0; line < 60; ++line)
            content += line == 30 ? "(the quarterly figures are final) '\n"
                                  : "(an ordinary line of body text here) '\n";
        content += "ET /Fm0 Do\n";
        const std::string form = i % 10 == 0 ? "BT /F1 8 Tf 72 40 Td (quarterly) Tj ET"
                                             : "BT /F1 8 Tf 72 40 Td (page footer) Tj ET";
        pdf.obj(page, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents " +
                          std::to_string(page + 1) + " 0 R /Resources << /Font << /F1 << "
                          "/Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >> /XObject << "
                          "/Fm0 " + std::to_string(page + 2) + " 0 R >> >> >>")
            .stream(page + 1, "", content, true)
            .stream(page + 2, "/Type /XObject /Subtype /Form /BBox [0 0 612 792]", form, true);
    }
    pdf.xref_table("/Root 1 0 R");
    return pdf.bytes();
}

// A 500-page file from the file to the written output: text mode (arg 0),
// region mode (arg 1), and counting (arg 2).
void BM_RedactFile(benchmark::State &state) {
    constexpr int kPages = 500;
    const std::string bytes = sample_file(kPages);
    const pdftest::TempFile input(bytes);
    const std::string output = input.path + ".out.pdf";
    const Region region = {1, 0, 300, 612, 100};
    for (auto _ : state) {
        int ok = 0;
        switch (state.range(0)) {
        case 0: ok = apply_redaction(input.c_str(), output.c_str(), "quarterly", nullptr, 0, 0, 0, 0); break;
        case 1: ok = apply_redaction(input.c_str(), output.c_str(), nullptr, &region, 1, 0, 0, 0); break;
        default: ok = count_matches(input.c_str(), "quarterly") == kPages + kPages / 10; break;
        }
        if (!ok) {
            state.SkipWithError("the redaction failed or its result changed");
            return;
        }
    }
    std::remove(output.c_str());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_RedactFile)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// Pages as real producers write them: text placed by a cm and a text matrix
// that holds the size (`1 Tf`), TJ kerning, three fonts through the
// resources (Helvetica by a made-up name, a TrueType subset with /Widths and
// a ToUnicode map, an Identity-H Type0 font with /W and ToUnicode), shared by
// every page as producers share them.
std::string producer_like_file(int pages) {
    pdftest::PdfBuilder pdf;
    std::string kids;
    for (int i = 0; i < pages; ++i) kids += std::to_string(20 + 2 * i) + " 0 R ";
    std::string widths = "[";
    for (int c = 32; c < 127; ++c) widths += c == 32 ? "250 " : "500 ";
    widths += "]";
    const std::string cmap = "/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n"
                             "1 begincodespacerange <0000> <FFFF> endcodespacerange\n"
                             "1 beginbfrange <0020> <007E> <0020> endbfrange\n"
                             "endcmap CMapName currentdict /CMap defineresource pop end end\n";
    pdf.obj(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .obj(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>")
        .obj(3, "<< /Font << /F1 4 0 R /F2 5 0 R /F3 6 0 R >> >>")
        .obj(4, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>")
        .obj(5, "<< /Type /Font /Subtype /TrueType /BaseFont /ABCDEF+Serif /FirstChar 32 /LastChar 126 "
                "/Widths " + widths + " /ToUnicode 7 0 R >>")
        .obj(6, "<< /Type /Font /Subtype /Type0 /BaseFont /ABCDEF+Sans /Encoding /Identity-H "
                "/DescendantFonts [8 0 R] /ToUnicode 7 0 R >>")
        .stream(7, "", cmap, true)
        .obj(8, "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /ABCDEF+Sans /DW 600 /W [32 [250] 65 90 700] >>");
    for (int i = 0; i < pages; ++i) {
        const int page = 20 + 2 * i;
        std::string content = "q 1 0 0 1 72 60 cm BT\n";
        for (int line = 0; line < 50; ++line) {
            const int font = 1 + line % 3;
            char head[96];
            std::snprintf(head, sizeof head, "/F%d 1 Tf 10 0 0 10 0 %d Tm ", font, 680 - 13 * line);
            content += head;
            const std::string words = line == 25 ? "the quarterly figures are final" : "an ordinary line of body text";
            if (font == 3) {
                std::string hex = "<";
                char digits[8];
                for (const char c : words) {
                    std::snprintf(digits, sizeof digits, "%04X", static_cast<unsigned char>(c));
                    hex += digits;
                }
                content += "[" + hex + ">] TJ\n";
            } else {
                content += "[(" + words.substr(0, 6) + ") -20 (" + words.substr(6) + ")] TJ\n";
            }
        }
        content += "ET Q\n";
        pdf.obj(page, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents " +
                          std::to_string(page + 1) + " 0 R /Resources 3 0 R >>")
            .stream(page + 1, "", content, true);
    }
    pdf.xref_table("/Root 1 0 R");
    return pdf.bytes();
}

// Producer-like pages, 1,000, 2,000 and 4,000 of them, from the file to the
// written output: text mode (arg 0), region mode (1) and counting (2). The
// time grows with the pages, no faster.
void BM_RedactProducerLike(benchmark::State &state) {
    const int pages = static_cast<int>(state.range(1));
    const std::string bytes = producer_like_file(pages);
    const pdftest::TempFile input(bytes);
    const std::string output = input.path + ".out.pdf";
    const Region region = {1, 72, 300, 300, 100};
    for (auto _ : state) {
        int ok = 0;
        switch (state.range(0)) {
        case 0: ok = apply_redaction(input.c_str(), output.c_str(), "quarterly", nullptr, 0, 0, 0, 0); break;
        case 1: ok = apply_redaction(input.c_str(), output.c_str(), nullptr, &region, 1, 0, 0, 0); break;
        default: ok = count_matches(input.c_str(), "quarterly") == pages; break;
        }
        if (!ok) {
            state.SkipWithError("the redaction failed or its result changed");
            return;
        }
    }
    std::remove(output.c_str());
    state.counters["pages_per_second"] =
        benchmark::Counter(static_cast<double>(pages), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_RedactProducerLike)
    ->ArgsProduct({{0, 1, 2}, {1000, 2000, 4000}})
    ->Unit(benchmark::kMillisecond);

// The same file redacted in one job for one search text, or for twenty: the
// one, two more that the file holds and seventeen names and numbers that it
// does not. Twenty terms cost little more than one.
void BM_RedactTerms(benchmark::State &state) {
    constexpr int kPages = 500;
    const std::string bytes = sample_file(kPages);
    const pdftest::TempFile input(bytes);
    const std::string output = input.path + ".out.pdf";
    const char *const terms[] = {
        "quarterly", "figures", "footer", "Jane Example", "John Q. Public", "Erika Mustermann",
        "4929 1234 5678 9012", "078-05-1120", "Flat 3, 14 Harbour Road", "jane@example.com",
        "+44 20 7946 0958", "Max Mustermann", "Juan Perez", "Ola Nordmann", "Mario Rossi",
        "AB123456C", "DE89 3704 0044 0532 0130 00", "Kari Nordmann", "Tommy Atkins", "Fred Nurk"};
    const int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        inkveil_job *job = inkveil_job_new();
        inkveil_job_set_input(job, input.c_str());
        inkveil_job_set_output(job, output.c_str());
        for (int t = 0; t < count; ++t) inkveil_job_add_text(job, terms[t]);
        const bool ok = inkveil_job_run(job) == 1 &&
                        inkveil_job_matches(job, 0) == kPages + kPages / 10 &&
                        (count == 1 || inkveil_job_matches(job, 1) == kPages);
        inkveil_job_free(job);
        if (!ok) {
            state.SkipWithError("the redaction failed or its result changed");
            return;
        }
    }
    std::remove(output.c_str());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_RedactTerms)->Arg(1)->Arg(20)->Unit(benchmark::kMillisecond);

// A scanned letter page at 300 dpi: 2,500 x 3,300 RGB pixels, paper with
// some grain and lines of dark "text".
constexpr int kScanWidth = 2500, kScanHeight = 3300;

std::vector<unsigned char> scanned_page() {
    std::vector<unsigned char> pixels(size_t(kScanWidth) * kScanHeight * 3);
    uint32_t noise = 12345;
    for (int y = 0; y < kScanHeight; ++y) {
        const bool text_line = y > 300 && y < 3000 && (y / 25) % 2 == 0;
        for (int x = 0; x < kScanWidth; ++x) {
            noise = noise * 1103515245u + 12345u;
            const bool ink = text_line && x > 250 && x < 2250 && ((noise >> 16) % 5 < 2);
            const unsigned char v = static_cast<unsigned char>(ink ? 30 + (noise >> 27) : 235 + (noise >> 28));
            for (int c = 0; c < 3; ++c) pixels[(size_t(y) * kScanWidth + x) * 3 + c] = v;
        }
    }
    return pixels;
}

// One box over a name near the top of the page.
const std::vector<ImageQuad> kScanBox = {{{0.1, 0.4, 0.4, 0.1}, {0.80, 0.80, 0.82, 0.82}}};
const uint8_t kBlack[3] = {0, 0, 0};

// The page as a 4:2:0 JPEG of quality 80 (arg 0) or as Flate data (arg 1).
void BM_RedactImage(benchmark::State &state) {
    const std::vector<unsigned char> pixels = scanned_page();
    const bool jpeg = state.range(0) == 0;
    std::vector<unsigned char> data;
    ImageDesc desc;
    desc.width = kScanWidth;
    desc.height = kScanHeight;
    desc.components = 3;
    desc.space = ImageDesc::Space::kRGB;
    if (jpeg) {
        tjhandle handle = tjInitCompress();
        unsigned char *out = nullptr;
        unsigned long size = 0;
        tjCompress2(handle, pixels.data(), kScanWidth, 0, kScanHeight, TJPF_RGB, &out, &size,
                    TJSAMP_420, 80, 0);
        data.assign(out, out + size);
        tjFree(out);
        tjDestroy(handle);
        desc.filters = {"DCTDecode"};
    } else {
        uLongf size = compressBound(pixels.size());
        data.resize(size);
        compress2(data.data(), &size, pixels.data(), pixels.size(), 6);
        data.resize(size);
        desc.filters = {"FlateDecode"};
        desc.parms.resize(1);
    }
    ImageEdit edit;
    for (auto _ : state) {
        if (image_redact(desc, data.data(), data.size(), kScanBox, ImageFill::kColour, kBlack, edit,
                         nullptr) != ImageStatus::kChanged) {
            state.SkipWithError("the image was not rewritten");
            return;
        }
    }
    // The last result: black under the box, the page elsewhere.
    std::vector<unsigned char> decoded(pixels.size());
    bool ok = false;
    if (jpeg) {
        tjhandle handle = tjInitDecompress();
        ok = tjDecompress2(handle, edit.data.data(), edit.data.size(), decoded.data(), kScanWidth,
                           0, kScanHeight, TJPF_RGB, 0) == 0;
        tjDestroy(handle);
    } else {
        uLongf size = decoded.size();
        ok = uncompress(decoded.data(), &size, edit.data.data(), edit.data.size()) == Z_OK &&
             size == decoded.size() &&
             std::memcmp(decoded.data() + 3000 * kScanWidth * 3, pixels.data() + 3000 * kScanWidth * 3,
                         size_t(kScanWidth) * 3) == 0;
    }
    const size_t under_box = (size_t(620) * kScanWidth + 600) * 3;
    if (!ok || decoded[under_box] > 4 || decoded[under_box + 1] > 4 || decoded[under_box + 2] > 4)
        state.SkipWithError("the rewritten image is wrong");
    state.counters["input_bytes"] = static_cast<double>(data.size());
    state.counters["output_bytes"] = static_cast<double>(edit.data.size());
}
BENCHMARK(BM_RedactImage)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

// `inkveil_bench --write-generated DIR` writes the producer-like files of 1,000,
// 2,000 and 4,000 pages to DIR for the side-by-side comparison
// (bench/compare.py) and exits; any other arguments go to the benchmark.
int main(int argc, char **argv) {
    if (argc == 3 && std::strcmp(argv[1], "--write-generated") == 0) {
        for (const int pages : {1000, 2000, 4000}) {
            const std::string path = std::string(argv[2]) + "/producer_like_" + std::to_string(pages) + ".pdf";
            const std::string bytes = producer_like_file(pages);
            FILE *f = std::fopen(path.c_str(), "wb");
            if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() ||
                std::fclose(f) != 0) {
                std::fprintf(stderr, "cannot write %s\n", path.c_str());
                return 1;
            }
        }
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
