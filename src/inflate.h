// The library's own DEFLATE decoder (RFC 1951) for zlib-wrapped data (RFC 1950).
#ifndef INKVEIL_INFLATE_H
#define INKVEIL_INFLATE_H

#include <cstdint>

// Decodes `source_len` bytes of zlib-wrapped DEFLATE data into `dest`, which
// holds at most `dest_cap` bytes (at most 2^30) and is never grown. Returns 0
// and sets *produced to the number of bytes written, or -1 with *produced 0
// on any failure (bad header, data cut short, corrupt data, output too large).
// Allocates nothing; safe to call from several threads at once.
int inflate_decompress(const unsigned char *source, uint64_t source_len, unsigned char *dest,
                       uint64_t dest_cap, uint64_t *produced);

#endif
