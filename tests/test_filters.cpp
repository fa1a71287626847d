// The /Filter chain: reading the /Filter entry and the three decoders.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "api.h"
#include "filters.h"

namespace {

constexpr const char *kLabel = "the page 3 content stream";

// One stream object "1 0 obj\n<dict>\nstream\n<data>\nendstream\nendobj\n"
// with the positions the loader records for it.
struct StreamObj {
    std::string file;
    ObjEntry entry;
};

StreamObj stream_obj(std::string_view dict, std::string_view data) {
    StreamObj s;
    s.file = "1 0 obj\n";
    s.entry.num = 1;
    s.entry.obj_start = 0;
    s.entry.dict_pos = static_cast<int32_t>(s.file.size());
    s.file += dict;
    s.file += "\n";
    s.entry.dict_end = static_cast<int32_t>(s.file.size());
    s.file += "stream\n";
    s.entry.data_start = static_cast<int32_t>(s.file.size());
    s.file += data;
    s.entry.data_end = static_cast<int32_t>(s.file.size());
    s.entry.stream_len = s.entry.data_end - s.entry.data_start;
    s.entry.has_stream = 1;
    s.file += "\nendstream\n";
    s.entry.endobj_pos = static_cast<int32_t>(s.file.size());
    s.file += "endobj\n";
    s.entry.obj_end = static_cast<int32_t>(s.file.size());
    return s;
}

struct Result {
    const unsigned char *ptr = nullptr;
    int32_t len = -1;
    int32_t failed = -1;
    std::string bytes;  // what ptr/len show
};

Result decode(const StreamObj &s, Buf &scratch) {
    Result r;
    clear_error();
    const auto *file = reinterpret_cast<const unsigned char *>(s.file.data());
    r.ptr = decode_stream_obj(s.entry, file, static_cast<int32_t>(s.file.size()), scratch, &r.len,
                              kLabel, &r.failed);
    if (r.ptr != nullptr) r.bytes.assign(reinterpret_cast<const char *>(r.ptr), r.len);
    return r;
}

Result decode(std::string_view dict, std::string_view data) {
    Buf scratch;
    return decode(stream_obj(dict, data), scratch);
}

std::string zlib_compress(std::string_view plain) {
    uLongf len = compressBound(plain.size());
    std::string out(len, '\0');
    EXPECT_EQ(compress2(reinterpret_cast<Bytef *>(out.data()), &len,
                        reinterpret_cast<const Bytef *>(plain.data()), plain.size(), 9),
              Z_OK);
    out.resize(len);
    return out;
}

std::string hex_encode(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string message(const char *tail) {
    return std::string(kLabel) + tail;
}

const std::string kMalformed =
    message(" has a malformed /Filter entry — the text was not redacted");
const std::string kFlateFailed =
    message(" could not be decompressed (/FlateDecode) — the text was not redacted");
const std::string kHexInvalid =
    message(" is not valid ASCIIHex data (/ASCIIHexDecode) — the text was not redacted");
const std::string kA85Invalid =
    message(" is not valid ASCII85 data (/ASCII85Decode) — the text was not redacted");

std::string unsupported(const std::string &name) {
    return std::string(kLabel) + " uses /" + name +
           ", which this engine cannot decode — the text was not redacted";
}

void expect_failure(const Result &r, const std::string &expected_message) {
    EXPECT_EQ(r.ptr, nullptr);
    EXPECT_EQ(r.failed, 1);
    EXPECT_EQ(r.len, 0);
    EXPECT_EQ(std::string(g_err), expected_message);
}

TEST(FiltersRaw, NoFilterGivesThePointerIntoTheFile) {
    for (const char *dict : {"<</Length 11>>", "<</Length 11 /DecodeParms <</Predictor 12>>>>",
                             "<</Length 11 /Filters /AHx>>"}) {
        SCOPED_TRACE(dict);
        const StreamObj s = stream_obj(dict, "BT (x) Tj\nET");
        Buf scratch;
        const Result r = decode(s, scratch);
        EXPECT_EQ(r.ptr,
                  reinterpret_cast<const unsigned char *>(s.file.data()) + s.entry.data_start);
        EXPECT_EQ(r.bytes, "BT (x) Tj\nET");
        EXPECT_EQ(r.failed, 0);
        EXPECT_EQ(scratch.data, nullptr);
        EXPECT_EQ(scratch.len, 0u);
    }
    // An object whose value does not start with "<" has no dictionary at all,
    // so even a /Filter in the data is not read.
    StreamObj s = stream_obj("<</Filter /AHx>>", "zz");
    s.entry.dict_pos = -1;
    Buf scratch;
    const Result r = decode(s, scratch);
    EXPECT_EQ(r.bytes, "zz");
    EXPECT_EQ(scratch.data, nullptr);
}

TEST(FiltersRaw, NoStreamDataIsNoFailure) {
    struct Case {
        const char *what;
        int32_t has_stream;
        int32_t data_start;  // relative to the real start
        int32_t data_end;    // relative to the real end; 1000 means far past the file
    };
    const Case cases[] = {
        {"not a stream", 0, 0, 0},         {"empty", 1, 0, -4},
        {"negative length", 1, 0, -5},     {"start before the file", 1, -1000, 0},
        {"end past the file", 1, 0, 1000},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        StreamObj s = stream_obj("<</Filter /Bogus>>", "data");
        s.entry.has_stream = c.has_stream;
        s.entry.data_start += c.data_start;
        s.entry.data_end += c.data_end;
        Buf scratch;
        set_error("untouched");
        int32_t len = -1, failed = -1;
        const auto *file = reinterpret_cast<const unsigned char *>(s.file.data());
        EXPECT_EQ(decode_stream_obj(s.entry, file, static_cast<int32_t>(s.file.size()), scratch,
                                    &len, kLabel, &failed),
                  nullptr);
        EXPECT_EQ(len, 0);
        EXPECT_EQ(failed, 0);
        EXPECT_STREQ(g_err, "untouched");
        EXPECT_EQ(scratch.data, nullptr);
    }
}

TEST(FiltersChain, HexThenFlateAppendsBehindEarlierContent) {
    const std::string plain = "BT /F1 12 Tf 72 700 Td (Hello, world) Tj ET\n";
    const StreamObj s = stream_obj("<</Length 99 /Filter [ /AHx\n/FlateDecode ]>>",
                                   hex_encode(zlib_compress(plain)) + ">");
    Buf scratch;
    buf_str(scratch, "earlier");
    const Result r = decode(s, scratch);
    ASSERT_EQ(r.failed, 0) << g_err;
    EXPECT_EQ(r.bytes, plain);
    EXPECT_EQ(r.ptr, scratch.data.get() + 7);
    EXPECT_EQ(scratch.len, 7 + plain.size());
    EXPECT_EQ(scratch.data[scratch.len], '\0');
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(scratch.data.get()), 7), "earlier");
}

TEST(FiltersChain, PredictorBytesArePassedOn) {
    // Two rows of four bytes, each behind its PNG "Up" tag byte (2).
    const std::string predicted(
        "\x02"
        "abcd"
        "\x02"
        "\x01\x01\x01\x01",
        10);
    const Result r = decode("<</Filter /FlateDecode /DecodeParms <</Predictor 12 /Columns 4>>>>",
                            zlib_compress(predicted));
    ASSERT_EQ(r.failed, 0) << g_err;
    EXPECT_EQ(r.bytes, predicted);
}

TEST(FiltersChain, EightNamesAreAcceptedNineAreNot) {
    std::string data = "Hi";
    for (int i = 0; i < 8; ++i) data = hex_encode(data);
    const std::string eight = "<</Filter [/AHx/AHx/AHx/AHx/AHx/AHx/AHx/AHx]>>";
    Result r = decode(eight, data);
    ASSERT_EQ(r.failed, 0) << g_err;
    EXPECT_EQ(r.bytes, "Hi");
    expect_failure(decode("<</Filter [/AHx/AHx/AHx/AHx/AHx/AHx/AHx/AHx /AHx]>>", hex_encode(data)),
                   kMalformed);
}

TEST(FiltersChain, FlateGrowsPastTwentyTimesTheInput) {
    // 200 000 equal bytes compress far below 1/20 of their size.
    const std::string plain(200000, 'q');
    const std::string packed = zlib_compress(plain);
    ASSERT_LT(packed.size() * 20 + 4096, plain.size());
    Result r = decode("<</Filter /FlateDecode>>", packed);
    ASSERT_EQ(r.failed, 0) << g_err;
    EXPECT_EQ(r.bytes, plain);

    // Growth stops at the limit: output beyond it is a failure.
    std::unique_ptr<unsigned char[], FreeDeleter> out;
    uint64_t produced = 7;
    const auto *src = reinterpret_cast<const unsigned char *>(packed.data());
    EXPECT_EQ(inflate_growing(src, packed.size(), 100, 199999, out, &produced), -1);
    EXPECT_EQ(produced, 0u);
    ASSERT_EQ(inflate_growing(src, packed.size(), 100, 200000, out, &produced), 0);
    EXPECT_EQ(produced, 200000u);
}

TEST(FiltersChain, FlateFailures) {
    expect_failure(decode("<</Filter /FlateDecode>>", "not zlib data"), kFlateFailed);
    // Cut short.
    expect_failure(decode("<</Filter /FlateDecode>>", zlib_compress("some text").substr(0, 5)),
                   kFlateFailed);
}

TEST(FiltersChain, FailuresLeaveTheScratchBufferAlone) {
    const StreamObj s = stream_obj("<</Filter [/AHx /A85]>>", hex_encode("5sz"));
    Buf scratch;
    buf_str(scratch, "kept");
    const unsigned char *before = scratch.data.get();
    expect_failure(decode(s, scratch), kA85Invalid);
    EXPECT_EQ(scratch.data.get(), before);
    EXPECT_EQ(scratch.len, 4u);
    EXPECT_STREQ(reinterpret_cast<const char *>(scratch.data.get()), "kept");
}

TEST(FiltersChain, ScratchThatCannotTakeTheResultIsOutOfMemory) {
    // A buffer whose length already sits at the growth limit cannot be
    // reserved into; it is left empty, as buf_reserve leaves it.
    const StreamObj s = stream_obj("<</Filter /AHx>>", "414243");
    Buf scratch;
    buf_reserve(scratch, 0);
    scratch.len = uint64_t{1} << 62;
    expect_failure(decode(s, scratch), std::string("out of memory decoding ") + kLabel);
    EXPECT_EQ(scratch.data, nullptr);
    EXPECT_EQ(scratch.len, 0u);
}

TEST(FiltersEntry, MalformedFilterValues) {
    const std::string forty(40, 'N');
    const char *dicts[] = {
        "<</Filter []>>",
        "<</Filter [ ]>>",
        "<</Filter null>>",
        "<</Filter 5 0 R>>",
        "<</Filter [/FlateDecode 5 0 R]>>",
        "<</Filter [/AHx [/A85]]>>",
        "<</Filter [/AHx /A85>>",  // the array runs to the end of the dictionary
        "<</Length 4 /Filter>>",   // so does the value
        "<</Filter />>",
        "<</Filter (AHx)>>",
    };
    for (const char *dict : dicts) {
        SCOPED_TRACE(dict);
        expect_failure(decode(dict, "4142"), kMalformed);
    }
    // A dictionary that never closes is none: no /Filter is read from it.
    const Result open = decode("<</Filter /AHx", "4142");
    EXPECT_EQ(open.failed, 0);
    EXPECT_EQ(open.len, 4);
    expect_failure(decode("<</Filter /" + forty + ">>", "4142"), kMalformed);
    expect_failure(decode("<</Filter [/AHx /" + forty + "]>>", "4142"), kMalformed);
}

TEST(FiltersEntry, UnsupportedNamesAreNamed) {
    const std::string thirty_nine(39, 'N');
    struct Case {
        std::string dict;
        std::string data;
        std::string name;
    };
    const Case cases[] = {
        {"<</Filter /Fl>>", "x", "Fl"},
        {"<</Filter /flatedecode>>", "x", "flatedecode"},
        {"<</Filter /ahx>>", "x", "ahx"},
        {"<</Filter /Flate#44ecode>>", "x", "Flate#44ecode"},  // escapes stay as written
        {"<</Filter /" + thirty_nine + ">>", "x", thirty_nine},
        // Only reached after the first step has decoded.
        {"<</Filter [/AHx /DCTDecode]>>", "4142", "DCTDecode"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.dict);
        expect_failure(decode(c.dict, c.data), unsupported(c.name));
    }
}

TEST(FiltersEntry, ParseOneFilter) {
    struct Case {
        std::string text;
        int32_t start;
        int expected;
        int32_t pos_after;  // -1: unchanged
        std::string name;
    };
    const std::string forty(40, 'N'), thirty_nine(39, 'N');
    const Case cases[] = {
        {" \r\n/FlateDecode]", 0, 0, 15, "FlateDecode"},
        {"x/AHx/A85", 1, 0, 5, "AHx"},
        {std::string("/A\0B C", 6), 0, 0, 4, std::string("A\0B", 3)},  // NUL does not end it
        {"/" + thirty_nine, 0, 0, 40, thirty_nine},
        {"/" + forty, 0, -1, -1, ""},
        {"/ x", 0, -1, -1, ""},
        {"/", 0, -1, -1, ""},
        {"   ", 0, -1, -1, ""},
        {"[/AHx]", 0, -1, -1, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        FilterList list{};
        int32_t pos = c.start;
        const auto *text = reinterpret_cast<const unsigned char *>(c.text.data());
        EXPECT_EQ(parse_one_filter(text, &pos, static_cast<int32_t>(c.text.size()), list),
                  c.expected);
        EXPECT_EQ(pos, c.pos_after < 0 ? c.start : c.pos_after);
        EXPECT_EQ(list.count, c.expected == 0 ? 1 : 0);
        if (c.expected == 0) {
            EXPECT_EQ(std::string(list.names[0], c.name.size() + 1), c.name + '\0');
        }
    }
    // A full list takes no ninth name.
    FilterList list{};
    const auto *text = reinterpret_cast<const unsigned char *>("/A /B");
    for (int i = 0; i < 8; ++i) {
        int32_t pos = 0;
        ASSERT_EQ(parse_one_filter(text, &pos, 5, list), 0);
    }
    int32_t pos = 2;
    EXPECT_EQ(parse_one_filter(text, &pos, 5, list), -1);
    EXPECT_EQ(pos, 2);
    EXPECT_EQ(list.count, 8);
}

struct DecodeCase {
    std::string data;
    std::string expected;  // ignored when invalid
    bool invalid;
};

TEST(FiltersHex, Decodes) {
    const DecodeCase cases[] = {
        {"48 65 6c 6C 6f>", "Hello", false},
        {"414", "A@", false},
        {"41>zz G", "A", false},  // nothing after ">" is read
        {std::string("4\0\t1\n\r\f 42", 10), "AB", false},
        {">", "", false},
        {"4G", "", true},
        {"41\v42", "", true},  // vertical tab is no PDF white space
        {"<41>", "", true},
    };
    for (const char *name : {"ASCIIHexDecode", "AHx"}) {
        for (const DecodeCase &c : cases) {
            SCOPED_TRACE(std::string(name) + ": " + c.data);
            const Result r = decode(std::string("<</Filter /") + name + ">>", c.data);
            if (c.invalid) {
                expect_failure(r, kHexInvalid);
            } else {
                EXPECT_EQ(r.failed, 0) << g_err;
                EXPECT_NE(r.ptr, nullptr);
                EXPECT_EQ(r.bytes, c.expected);
            }
        }
    }
}

TEST(FiltersA85, Decodes) {
    const DecodeCase cases[] = {
        {"5sdq,~>", "ABCD", false},
        {"5s dq\n,", "ABCD", false},  // white space inside a group, no end marker
        {":ddb~>", "PDF", false},
        {"z", std::string(4, '\0'), false},
        {"5sdq,z:ddb", std::string("ABCD\0\0\0\0PDF", 11), false},
        {"5sdq,~xyz\x01", "ABCD", false},                      // nothing after "~" is read
        {"uuuuu", "\x08\x78\x0e\xc4", false},                  // a group above 2^32 - 1 wraps
        {std::string(23, 'z'), std::string(92, '\0'), false},  // 92 = 23 + 5 + 64 bytes
        {std::string(24, 'z'), "", true},                      // 96 > 24 + 6 + 64
        {std::string(200, 'z'), "", true},
        {"5sz", "", true},
        {"5~>", "", true},
        {"<~5sdq,~>", "", true},  // "<" is a digit, so "~" ends a one-digit group
        {"5sdq,v", "", true},
        {"5s\x01", "", true},
    };
    for (const char *name : {"ASCII85Decode", "A85"}) {
        for (const DecodeCase &c : cases) {
            SCOPED_TRACE(std::string(name) + ": " + c.data.substr(0, 12));
            const Result r = decode(std::string("<</Filter /") + name + ">>", c.data);
            if (c.invalid) {
                expect_failure(r, kA85Invalid);
            } else {
                EXPECT_EQ(r.failed, 0) << g_err;
                EXPECT_EQ(r.bytes, c.expected);
            }
        }
    }
}

}  // namespace
