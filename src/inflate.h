// The library's own DEFLATE decoder (RFC 1951) for zlib-wrapped data (RFC 1950).
#ifndef INKVEIL_INFLATE_H
#define INKVEIL_INFLATE_H

#include <cstdint>

// Decodes `source_len` bytes of zlib-wrapped DEFLATE data into `dest`, which
// holds at most `dest_cap` bytes and is never grown. Of the zlib wrapper only
// the method (8) and the preset-dictionary bit (must be clear) are checked;
// the Adler-32 trailer and anything after the final block are ignored.
// Returns:
//    0  success; *produced is the number of bytes written;
//   -2  the data decoded correctly so far but the output does not fit: the
//       destination was full when a literal, a copy or a stored block needed
//       room. The destination then holds the first `dest_cap` bytes of the
//       output, which is all a reader of a known size needs. A larger
//       destination may succeed;
//   -1  any other failure: a capacity above 2^30 (refused before the input is
//       read), a bad header, data cut short, or corrupt data.
// On every failure *produced is 0; after -1 the contents of `dest` are
// undefined.
// Allocates nothing and keeps no state between calls; safe to call from
// several threads at once.
int inflate_decompress(const unsigned char *source, uint64_t source_len, unsigned char *dest,
                       uint64_t dest_cap, uint64_t *produced);

#endif
