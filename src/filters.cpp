// Stream decoding: reads a stream dictionary's /Filter entry and applies the
// named filters in order (FlateDecode, ASCIIHexDecode, ASCII85Decode).
// /DecodeParms is never read, so predicted data keeps its predictor bytes.
#include "filters.h"

#include <cstring>

#include "api.h"
#include "inflate.h"

namespace {

using Block = std::unique_ptr<unsigned char[], FreeDeleter>;

// Failure messages; the first %s is the caller's label for the stream.
constexpr const char *kMalformed = "%s has a malformed /Filter entry — the text was not redacted";
constexpr const char *kOutOfMemory = "out of memory decoding %s";
constexpr const char *kFlateFailed =
    "%s could not be decompressed (/FlateDecode) — the text was not redacted";
constexpr const char *kHexInvalid =
    "%s is not valid ASCIIHex data (/ASCIIHexDecode) — the text was not redacted";
constexpr const char *kA85Invalid =
    "%s is not valid ASCII85 data (/ASCII85Decode) — the text was not redacted";
constexpr const char *kUnsupported =
    "%s uses /%s, which this engine cannot decode — the text was not redacted";

constexpr uint64_t kMaxInflated = uint64_t{1} << 30;  // FlateDecode output cap: 1 GiB

// FlateDecode: a first guess of 20 times the input, grown while it is too small.
FilterStep decode_flate(const unsigned char *in, uint64_t in_len, Block &out, uint64_t &out_len) {
    uint64_t cap = 20 * in_len + 4096;  // in_len is far below 2^40: no wrap
    if (cap > kMaxInflated) cap = kMaxInflated;
    const int rc = inflate_growing(in, in_len, cap, kMaxInflated, out, &out_len);
    if (rc == -2) return FilterStep::out_of_memory;
    return rc == 0 ? FilterStep::ok : FilterStep::bad_data;
}

const unsigned char *malformed_filter(const char *label, int32_t *failed) {
    set_error(kMalformed, label);
    *failed = 1;
    return nullptr;
}

// Writes the `count` most significant bytes of `value` if they fit.
bool put_be(unsigned char *out, uint64_t cap, uint64_t &n, uint32_t value, int count) {
    if (cap - n < static_cast<uint64_t>(count)) return false;
    for (int k = 0; k < count; ++k) out[n++] = static_cast<unsigned char>(value >> (24 - 8 * k));
    return true;
}

}  // namespace

FilterStep decode_ascii_hex(const unsigned char *in, uint64_t in_len, Block &out,
                            uint64_t &out_len) {
    const uint64_t cap = in_len / 2 + 2;
    out.reset(static_cast<unsigned char *>(std::malloc(cap)));
    if (!out) return FilterStep::out_of_memory;
    uint64_t n = 0;
    int pending = -1;
    for (uint64_t i = 0; i < in_len; ++i) {
        const unsigned char c = in[i];
        const int digit = hex_digit_value(c);
        if (digit >= 0) {
            if (pending < 0) {
                pending = digit;
            } else {
                out[n++] = static_cast<unsigned char>((pending << 4) | digit);
                pending = -1;
            }
        } else if (c == '>') {
            break;
        } else if (!is_pdf_ws(c)) {
            return FilterStep::bad_data;
        }
    }
    if (pending >= 0) out[n++] = static_cast<unsigned char>(pending << 4);
    out_len = n;
    return FilterStep::ok;
}

FilterStep decode_ascii85(const unsigned char *in, uint64_t in_len, Block &out, uint64_t &out_len) {
    const uint64_t cap = in_len + in_len / 4 + 64;
    out.reset(static_cast<unsigned char *>(std::malloc(cap)));
    if (!out) return FilterStep::out_of_memory;
    unsigned char *o = out.get();
    uint64_t n = 0;
    uint32_t value = 0;
    int digits = 0;
    for (uint64_t i = 0; i < in_len; ++i) {
        const unsigned char c = in[i];
        if (c >= '!' && c <= 'u') {
            value = value * 85u + static_cast<uint32_t>(c - '!');
            if (++digits == 5) {
                if (!put_be(o, cap, n, value, 4)) return FilterStep::bad_data;
                value = 0;
                digits = 0;
            }
        } else if (c == 'z') {
            if (digits != 0 || !put_be(o, cap, n, 0, 4)) return FilterStep::bad_data;
        } else if (c == '~') {
            break;
        } else if (!is_pdf_ws(c)) {
            return FilterStep::bad_data;
        }
    }
    if (digits == 1) return FilterStep::bad_data;
    if (digits > 1) {
        // A short final group is padded with the highest digit, "u".
        for (int k = digits; k < 5; ++k) value = value * 85u + 84u;
        if (!put_be(o, cap, n, value, digits - 1)) return FilterStep::bad_data;
    }
    out_len = n;
    return FilterStep::ok;
}

int inflate_growing(const unsigned char *source, uint64_t source_len, uint64_t first_cap,
                    uint64_t limit, Block &out, uint64_t *produced) {
    if (limit > kMaxInflated) limit = kMaxInflated;
    uint64_t cap = first_cap < limit ? first_cap : limit;
    *produced = 0;
    for (;;) {
        out.reset();  // one block at a time, even while growing
        out.reset(static_cast<unsigned char *>(std::malloc(cap > 0 ? cap : 1)));
        if (!out) return -2;
        const int rc = inflate_decompress(source, source_len, out.get(), cap, produced);
        if (rc == 0 && *produced <= cap) return 0;
        *produced = 0;
        if (rc != -2 || cap >= limit) {
            out.reset();
            return -1;
        }
        cap = cap > limit / 2 ? limit : cap * 2;
    }
}

int parse_one_filter(const unsigned char *text, int32_t *pos, int32_t end, FilterList &list) {
    const int32_t p = skip_pdf_ws(text, end, *pos);
    if (p >= end || text[p] != '/' || p + 1 >= end) return -1;
    // NUL is no terminator here: only space characters and delimiters end it.
    int32_t stop = p + 1;
    while (stop < end && !is_space_char(text[stop]) && !is_delimiter(text[stop])) ++stop;
    const int32_t len = stop - (p + 1);
    if (len < 1 || len > 39 || list.count < 0 || list.count >= 8) return -1;
    std::memcpy(list.names[list.count], text + p + 1, static_cast<size_t>(len));
    list.names[list.count][len] = '\0';
    ++list.count;
    *pos = stop;
    return 0;
}

const unsigned char *decode_stream_obj(const ObjEntry &entry, const unsigned char *file,
                                       int32_t file_len, Buf &scratch, int32_t *decoded_len,
                                       const char *label, int32_t *failed) {
    *decoded_len = 0;
    *failed = 0;
    if (!entry.has_stream || file == nullptr) return nullptr;
    // Stream data that is empty, or does not lie wholly inside the file, is
    // treated as no stream at all.
    const int64_t stream_len = static_cast<int64_t>(entry.data_end) - entry.data_start;
    if (stream_len < 1 || entry.data_start < 0 || entry.data_end > file_len) return nullptr;
    const unsigned char *raw = file + entry.data_start;
    if (entry.dict_pos < 0 || entry.dict_pos >= file_len) {
        *decoded_len = static_cast<int32_t>(stream_len);
        return raw;
    }

    const int32_t dict_stop = dict_range_in(file, file_len, entry).end;
    const int32_t key = find_name(file, file_len, entry.dict_pos, dict_stop, "Filter");
    if (key < 0) {
        *decoded_len = static_cast<int32_t>(stream_len);
        return raw;
    }

    // The value: one name, or an array of names.
    FilterList list{};
    int32_t p = skip_pdf_ws(file, dict_stop, key + 7);  // just past "/Filter"
    if (p >= dict_stop) return malformed_filter(label, failed);
    if (file[p] == '[') {
        // Names up to the "]"; the array must close inside the dictionary.
        ++p;
        for (;;) {
            p = skip_pdf_ws(file, dict_stop, p);
            if (p >= dict_stop) return malformed_filter(label, failed);
            if (file[p] == ']') break;
            if (parse_one_filter(file, &p, dict_stop, list) < 0)
                return malformed_filter(label, failed);
        }
        if (list.count == 0) return malformed_filter(label, failed);
    } else if (parse_one_filter(file, &p, dict_stop, list) < 0) {
        return malformed_filter(label, failed);
    }

    // Each step reads the previous step's output; that buffer is released as
    // soon as the next one is filled.
    const unsigned char *in = raw;
    uint64_t in_len = static_cast<uint64_t>(stream_len);
    Block held;
    for (int32_t k = 0; k < list.count; ++k) {
        const char *name = list.names[k];
        Block out;
        uint64_t out_len = 0;
        FilterStep step;
        const char *bad_data = nullptr;  // the message for data the step cannot decode
        if (std::strcmp(name, "FlateDecode") == 0) {
            step = decode_flate(in, in_len, out, out_len);
            bad_data = kFlateFailed;
        } else if (std::strcmp(name, "ASCIIHexDecode") == 0 || std::strcmp(name, "AHx") == 0) {
            step = decode_ascii_hex(in, in_len, out, out_len);
            bad_data = kHexInvalid;
        } else if (std::strcmp(name, "ASCII85Decode") == 0 || std::strcmp(name, "A85") == 0) {
            step = decode_ascii85(in, in_len, out, out_len);
            bad_data = kA85Invalid;
        } else {
            set_error(kUnsupported, label, name);
            *failed = 1;
            return nullptr;
        }
        if (step == FilterStep::bad_data) set_error(bad_data, label);
        if (step == FilterStep::out_of_memory) set_error(kOutOfMemory, label);
        if (step != FilterStep::ok) {
            *failed = 1;
            return nullptr;
        }
        held = std::move(out);
        in = held.get();
        in_len = out_len;
    }

    // Lengths are 32-bit from here on; a result that large cannot be handed on.
    if (in_len > static_cast<uint64_t>(INT32_MAX)) {
        set_error(kOutOfMemory, label);
        *failed = 1;
        return nullptr;
    }
    buf_reserve(scratch, in_len);
    if (!scratch.data) {
        set_error(kOutOfMemory, label);
        *failed = 1;
        return nullptr;
    }
    unsigned char *dest = scratch.data.get() + scratch.len;
    if (in_len > 0) std::memcpy(dest, in, in_len);
    scratch.len += in_len;
    scratch.data[scratch.len] = '\0';
    *decoded_len = static_cast<int32_t>(in_len);
    return dest;
}
