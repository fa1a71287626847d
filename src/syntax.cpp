// PDF syntax: byte buffer and scanning primitives.
#include "syntax.h"

#include <charconv>
#include <cstring>

namespace {

void buf_fail(Buf &buf) {
    buf.data.reset();
    buf.len = buf.cap = 0;
    buf.failed = true;
}

}  // namespace

void buf_reserve(Buf &buf, uint64_t extra) {
    constexpr uint64_t kFirstCapacity = 65536;
    constexpr uint64_t kLargest = uint64_t{1} << 62;  // doubling stays exact below this
    if (buf.failed) return;
    if (!buf.data) {
        buf.data.reset(static_cast<unsigned char *>(std::malloc(kFirstCapacity)));
        buf.len = 0;
        buf.cap = buf.data ? kFirstCapacity : 0;
        if (!buf.data) {
            buf_fail(buf);
            return;
        }
    }
    if (extra >= kLargest || buf.len >= kLargest - extra) {
        buf_fail(buf);
        return;
    }
    const uint64_t need = buf.len + extra + 1;
    if (buf.cap >= need) return;
    uint64_t cap = buf.cap;
    while (cap < need) cap *= 2;
    void *grown = std::realloc(buf.data.get(), cap);
    if (grown == nullptr) {
        buf_fail(buf);
        return;
    }
    (void)buf.data.release();
    buf.data.reset(static_cast<unsigned char *>(grown));
    buf.cap = cap;
}

void buf_append(Buf &buf, const void *bytes, uint64_t count) {
    buf_reserve(buf, count);
    if (!buf.data) return;
    if (count > 0) std::memcpy(buf.data.get() + buf.len, bytes, count);
    buf.len += count;
    buf.data[buf.len] = '\0';
}

void buf_str(Buf &buf, const char *text) { buf_append(buf, text, std::strlen(text)); }

int32_t skip_pdf_ws(const unsigned char *bytes, int32_t end, int32_t pos) {
    while (pos < end && is_pdf_ws(bytes[pos])) ++pos;
    return pos;
}

int32_t find_name(const unsigned char *bytes, int32_t size, int32_t start, int32_t end,
                  const char *name) {
    if (start < 0) start = 0;
    if (end > size) end = size;
    const int64_t n = static_cast<int64_t>(std::strlen(name));
    for (int64_t p = start; p + 1 + n <= end; ++p) {
        if (bytes[p] != '/') continue;
        if (std::memcmp(bytes + p + 1, name, static_cast<size_t>(n)) != 0) continue;
        const int64_t after = p + 1 + n;
        if (after == end || is_space_char(bytes[after]) || is_delimiter(bytes[after]))
            return static_cast<int32_t>(p);
    }
    return -1;
}

int kw_at(const unsigned char *bytes, int32_t pos, int32_t size, const char *keyword) {
    const int64_t n = static_cast<int64_t>(std::strlen(keyword));
    if (pos < 0 || pos + n > size) return 0;
    if (std::memcmp(bytes + pos, keyword, static_cast<size_t>(n)) != 0) return 0;
    if (pos > 0 && is_alnum(bytes[pos - 1])) return 0;
    if (pos + n == size) return 1;
    return is_alnum(bytes[pos + n]) ? 0 : 1;
}

int32_t find_kw(const unsigned char *bytes, int32_t size, int32_t start, const char *keyword) {
    if (start < 0) start = 0;
    const int64_t n = static_cast<int64_t>(std::strlen(keyword));
    if (n == 0) return -1;
    int64_t p = start;
    while (p + n <= size) {
        const void *hit = std::memchr(bytes + p, keyword[0], static_cast<size_t>(size - n + 1 - p));
        if (hit == nullptr) return -1;
        p = static_cast<const unsigned char *>(hit) - bytes;
        if (kw_at(bytes, static_cast<int32_t>(p), size, keyword)) return static_cast<int32_t>(p);
        ++p;
    }
    return -1;
}

int32_t literal_string_end(const unsigned char *bytes, int32_t end, int32_t pos) {
    int64_t depth = 1;
    int64_t i = static_cast<int64_t>(pos) + 1;
    while (i < end) {
        const unsigned char c = bytes[i];
        if (c == '\\') {
            i += 2;
        } else if (c == '(') {
            ++depth;
            ++i;
        } else if (c == ')') {
            if (depth == 1) return static_cast<int32_t>(i + 1);
            --depth;
            ++i;
        } else {
            ++i;
        }
    }
    return -1;
}

namespace {

// Offset of the first '>' of the ">>" that brings the nesting depth of the
// dictionary starting at `pos` back to zero, scanning while pos + 1 < limit.
// Literal strings and hex strings are skipped whole, so that a '>' closing a
// hex string never pairs with the dictionary's own '>'.
int32_t dict_close(const unsigned char *bytes, int32_t pos, int32_t limit) {
    if (pos < 0) return -1;
    int64_t depth = 0;
    int64_t p = pos;
    while (p + 1 < limit) {
        const unsigned char c = bytes[p];
        if (c == '<') {
            if (bytes[p + 1] == '<') {
                ++depth;
                p += 2;
            } else {
                const void *gt = std::memchr(bytes + p + 1, '>', static_cast<size_t>(limit - p - 1));
                if (gt == nullptr) return -1;
                p = static_cast<const unsigned char *>(gt) - bytes + 1;
            }
        } else if (c == '>') {
            if (bytes[p + 1] == '>') {
                if (--depth == 0) return static_cast<int32_t>(p);
                p += 2;
            } else {
                ++p;
            }
        } else if (c == '(') {
            const int32_t after = literal_string_end(bytes, limit, static_cast<int32_t>(p));
            if (after < 0) return -1;
            p = after;
        } else {
            ++p;
        }
    }
    return -1;
}

}  // namespace

int32_t skip_literal_string(const unsigned char *bytes, int32_t end, int32_t pos) {
    const int32_t after = literal_string_end(bytes, end, pos);
    return after < 0 ? end : after;
}

int32_t rd_dict_close(const unsigned char *bytes, int32_t size, int32_t pos, int32_t limit) {
    if (limit > size) limit = size;
    return dict_close(bytes, pos, limit);
}

int32_t comment_end(const unsigned char *bytes, int32_t end, int32_t pos) {
    while (pos < end && bytes[pos] != '\n' && bytes[pos] != '\r') ++pos;
    return pos;
}

int32_t dict_stream_kw(const unsigned char *bytes, int32_t size, int32_t pos) {
    if (pos < 0 || static_cast<int64_t>(pos) + 1 >= size) return -1;
    if (bytes[pos] != '<' || bytes[pos + 1] != '<') return -1;
    const int32_t close = dict_close(bytes, pos, size);
    if (close < 0) return -1;
    const int32_t q = skip_pdf_ws(bytes, size, close + 2);
    return kw_at(bytes, q, size, "stream") ? q : -1;
}

int32_t skip_pdf_value(const unsigned char *bytes, int32_t end, int32_t pos) {
    if (pos < 0) return -1;
    pos = skip_pdf_ws(bytes, end, pos);
    if (pos >= end) return -1;
    const unsigned char c = bytes[pos];
    if (c == '<') {
        if (static_cast<int64_t>(pos) + 1 < end && bytes[pos + 1] == '<') {
            const int32_t close = dict_close(bytes, pos, end);
            return close < 0 ? -1 : close + 2;
        }
        const void *gt = std::memchr(bytes + pos + 1, '>', static_cast<size_t>(end - pos - 1));
        return gt == nullptr ? -1 : static_cast<int32_t>(static_cast<const unsigned char *>(gt) - bytes + 1);
    }
    if (c == '(') return skip_literal_string(bytes, end, pos);
    if (c == '/') {
        int32_t i = pos + 1;
        while (i < end && !is_space_char(bytes[i]) && !is_delimiter(bytes[i])) ++i;
        return i;
    }
    if (c == '[') {
        int64_t depth = 0;
        int32_t i = pos;
        while (i < end) {
            const unsigned char b = bytes[i];
            if (b == '[') {
                ++depth;
                ++i;
            } else if (b == ']') {
                ++i;
                if (--depth == 0) return i;
            } else if (b == '(') {
                i = literal_string_end(bytes, end, i);
                if (i < 0) return -1;
            } else {
                ++i;
            }
        }
        return -1;
    }
    // A bare token, or the first token of a number or an indirect reference.
    int32_t t = pos;
    while (t < end && !is_space_char(bytes[t]) && !is_delimiter(bytes[t])) ++t;
    if (!(c == '+' || c == '-' || is_digit(c))) return t;
    int32_t i = skip_pdf_ws(bytes, end, t);
    if (i >= end || !is_digit(bytes[i])) return t;
    while (i < end && is_digit(bytes[i])) ++i;
    i = skip_pdf_ws(bytes, end, i);
    if (i >= end || bytes[i] != 'R') return t;
    if (i + 1 == end) return i + 1;
    const unsigned char next = bytes[i + 1];
    if (is_space_char(next) || next == '/' || next == '<' || next == '>' || next == ']')
        return i + 1;
    return t;
}

namespace {

// Skips PDF whitespace and an optional sign at *pos. Returns the offset of the
// first byte after them, or -1 when the range ends there.
int32_t number_start(const unsigned char *bytes, int32_t end, int32_t pos, bool *negative) {
    if (pos < 0) return -1;
    int32_t p = skip_pdf_ws(bytes, end, pos);
    if (p >= end) return -1;
    *negative = false;
    if (bytes[p] == '-' || bytes[p] == '+') {
        *negative = bytes[p] == '-';
        if (++p >= end) return -1;
    }
    return p;
}

}  // namespace

int32_t parse_int_at(const unsigned char *bytes, int32_t end, int32_t *pos) {
    bool negative = false;
    int32_t p = number_start(bytes, end, *pos, &negative);
    if (p < 0 || !is_digit(bytes[p])) return -1;
    // Absurdly long digit runs saturate instead of wrapping around.
    int64_t value = 0;
    while (p < end && is_digit(bytes[p])) {
        value = value * 10 + (bytes[p] - '0');
        if (value > INT32_MAX) value = INT32_MAX;
        ++p;
    }
    *pos = p;
    return static_cast<int32_t>(negative ? -value : value);
}

double parse_double_at(const unsigned char *bytes, int32_t end, int32_t *pos) {
    bool negative = false;
    int32_t p = number_start(bytes, end, *pos, &negative);
    if (p < 0) return 0.0;
    bool any_digit = false;
    double value = 0.0;
    while (p < end && is_digit(bytes[p])) {
        value = value * 10.0 + (bytes[p] - '0');
        any_digit = true;
        ++p;
    }
    if (p < end && bytes[p] == '.') {
        ++p;
        double scale = 1.0;
        while (p < end && is_digit(bytes[p])) {
            scale *= 0.1;
            value += (bytes[p] - '0') * scale;
            any_digit = true;
            ++p;
        }
    }
    if (!any_digit) return 0.0;
    *pos = p;
    return negative ? -value : value;
}

int format_fixed(double v, int decimals, char *out) {
    const auto r = std::to_chars(out, out + kFixedSize - 1, v, std::chars_format::fixed, decimals);
    if (r.ec != std::errc()) {  // never for a finite double and a few decimals
        out[0] = '0';
        out[1] = '\0';
        return 1;
    }
    *r.ptr = '\0';
    return static_cast<int>(r.ptr - out);
}
