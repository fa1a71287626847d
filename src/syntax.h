// PDF syntax: the growable byte buffer and the scanning primitives that every
// part of the library uses to read raw PDF bytes.
//
// Scanners work on a byte range given as a pointer plus an exclusive end
// offset; the bytes need not be NUL-terminated and may hold NUL. They never
// allocate and never report: not found is -1 and the caller decides.
// Offsets are 32-bit signed, so files stay below 2 GiB.
#ifndef INKVEIL_SYNTAX_H
#define INKVEIL_SYNTAX_H

#include <cstdint>
#include <cstdlib>
#include <memory>

struct FreeDeleter {
    void operator()(void *p) const noexcept { std::free(p); }
};

// A growable byte buffer: 64 KiB on first use, then doubling, always with one
// spare byte so that the content can be NUL-terminated. A default-constructed
// Buf is empty; it releases its block when it goes away.
struct Buf {
    std::unique_ptr<unsigned char[], FreeDeleter> data;
    uint64_t len = 0;
    uint64_t cap = 0;
    bool failed = false;  // memory ran out: the buffer stays empty
};

// Makes room for `extra` more bytes plus a terminating NUL. When memory runs
// out the buffer becomes empty (data null, len and cap 0) and stays empty, so
// that later appends cannot start it again without what it held: callers
// test data.
void buf_reserve(Buf &buf, uint64_t extra);
// Appends a NUL-terminated text and keeps the buffer NUL-terminated.
void buf_str(Buf &buf, const char *text);
// Appends `count` bytes and keeps the buffer NUL-terminated.
void buf_append(Buf &buf, const void *bytes, uint64_t count);

// Byte classes.
// PDF whitespace: NUL, HT, LF, FF, CR, SP.
inline bool is_pdf_ws(unsigned char c) {
    return c == 0 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32;
}
// Line blanks: HT, LF, CR, SP.
inline bool is_line_blank(unsigned char c) { return c == 9 || c == 10 || c == 13 || c == 32; }
// Space characters (the C locale's white space): HT, LF, VT, FF, CR, SP.
inline bool is_space_char(unsigned char c) { return c == 32 || (c >= 9 && c <= 13); }
// Delimiters: ( ) / < > [ ]  (not braces or %).
inline bool is_delimiter(unsigned char c) {
    return c == '(' || c == ')' || c == '/' || c == '<' || c == '>' || c == '[' || c == ']';
}
inline bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }
inline bool is_alpha(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
inline bool is_alnum(unsigned char c) { return is_digit(c) || is_alpha(c); }
// The value of a hexadecimal digit, or -1.
inline int hex_digit_value(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
inline unsigned char ascii_lower(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}

// First offset at or after `pos` (below `end`) that is not PDF whitespace.
int32_t skip_pdf_ws(const unsigned char *bytes, int32_t end, int32_t pos);

// Offset of the '/' of the first /name token in [start, end) (the token must
// end there: space character, delimiter or the end), or -1.
int32_t find_name(const unsigned char *bytes, int32_t size, int32_t start, int32_t end,
                  const char *name);
// 1 when `keyword` stands at `pos` as a whole word (no alphanumeric neighbour).
int kw_at(const unsigned char *bytes, int32_t pos, int32_t size, const char *keyword);
// First offset at or after `start` where kw_at holds, or -1.
int32_t find_kw(const unsigned char *bytes, int32_t size, int32_t start, const char *keyword);

// Offset just past the ')' that closes the literal string whose '(' is at
// `pos`, or -1 when the range ends first. Backslash escapes and nested
// parentheses are honoured.
int32_t literal_string_end(const unsigned char *bytes, int32_t end, int32_t pos);
// The same, but `end` when the string is not closed.
int32_t skip_literal_string(const unsigned char *bytes, int32_t end, int32_t pos);
// Offset of the first '>' of the ">>" that closes the dictionary whose "<<" is
// at `pos`, or -1. Literal and hex strings inside are skipped whole.
int32_t rd_dict_close(const unsigned char *bytes, int32_t size, int32_t pos, int32_t limit);
// Offset of the LF or CR that ends the comment running through `pos`, or
// `end` when the range ends first.
int32_t comment_end(const unsigned char *bytes, int32_t end, int32_t pos);
// Offset of the "stream" keyword that follows the dictionary whose "<<" is at
// `pos` (after PDF whitespace), or -1.
int32_t dict_stream_kw(const unsigned char *bytes, int32_t size, int32_t pos);
// Offset just past the PDF value that starts at or after `pos`, or -1.
int32_t skip_pdf_value(const unsigned char *bytes, int32_t end, int32_t pos);

// Writes `v` with `decimals` digits after the point, as printf's "%.*f"
// does in the C locale, whatever locale the host has set (a decimal comma
// would break the numbers of a content stream), and NUL-terminates it.
// Returns its length; `out` holds kFixedSize bytes, room for any double.
inline constexpr size_t kFixedSize = 352;
int format_fixed(double v, int decimals, char *out);

// Reads a decimal integer after PDF whitespace. On success moves *pos just past
// the digits and returns the value (saturated to the 32-bit range); on failure
// returns -1 and leaves *pos as it was.
int32_t parse_int_at(const unsigned char *bytes, int32_t end, int32_t *pos);
// Reads a PDF real (digits, optional point and fraction, no exponent) after PDF
// whitespace. On failure returns 0.0 and leaves *pos as it was.
double parse_double_at(const unsigned char *bytes, int32_t end, int32_t *pos);

#endif
