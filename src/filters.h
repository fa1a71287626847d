// Stream decoding: the /Filter chain of a stream object.
#ifndef INKVEIL_FILTERS_H
#define INKVEIL_FILTERS_H

#include <cstdint>

#include "document.h"
#include "syntax.h"

// The filters named by one /Filter entry: up to 8 names of at most 39 bytes.
struct FilterList {
    char names[8][40];
    int32_t count;
};

// Appends the name at *pos (after PDF whitespace) to `list` and moves *pos
// past it. Returns 0, or -1 with *pos unchanged when no name can be taken.
int parse_one_filter(const unsigned char *text, int32_t *pos, int32_t end, FilterList &list);

// How one filter step ended.
enum class FilterStep { ok, out_of_memory, bad_data };

// ASCIIHexDecode: pairs of hexadecimal digits, white space ignored, ">" ends
// the data; an odd final digit is completed with 0. `out` receives a malloc'd
// block of at most in_len / 2 + 2 bytes, *out_len of them used.
FilterStep decode_ascii_hex(const unsigned char *in, uint64_t in_len,
                            std::unique_ptr<unsigned char[], FreeDeleter> &out, uint64_t &out_len);

// ASCII85Decode: groups of five base-85 digits ("!" to "u") give four bytes,
// "z" stands for four zero bytes between groups, "~" ends the data. Group
// values are taken modulo 2^32. `out` as for decode_ascii_hex, at most
// in_len * 5 / 4 + 64 bytes.
FilterStep decode_ascii85(const unsigned char *in, uint64_t in_len,
                          std::unique_ptr<unsigned char[], FreeDeleter> &out, uint64_t &out_len);

// Inflates zlib data into a malloc'd block of `first_cap` bytes, doubled (up
// to `limit`, at most 1 GiB) and decoded again while the output does not fit.
// Returns 0 with `out` holding *produced bytes, -1 when the data is corrupt
// or needs more than `limit` bytes, -2 when memory runs out.
int inflate_growing(const unsigned char *source, uint64_t source_len, uint64_t first_cap,
                    uint64_t limit, std::unique_ptr<unsigned char[], FreeDeleter> &out,
                    uint64_t *produced);

// Decodes the stream of `entry`. Returns:
// - nullptr with *failed 0 when the entry is not a stream or is empty;
// - a pointer into `file` when the stream has no /Filter;
// - a pointer into `scratch` (appended there, NUL-terminated) otherwise;
// - nullptr with *failed 1 and g_err set when it cannot be decoded; `label`
//   names the stream in the message.
// *decoded_len receives the length.
const unsigned char *decode_stream_obj(const ObjEntry &entry, const unsigned char *file,
                                       int32_t file_len, Buf &scratch, int32_t *decoded_len,
                                       const char *label, int32_t *failed);

#endif
