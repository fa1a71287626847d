// Readers of embedded font programs: the built-in encoding of a Type 1 font
// and the 'cmap' table of a TrueType or OpenType font. They take the decoded
// stream bytes and return tables, with no document in sight.
//
// Input is untrusted: the readers never read out of bounds, run in time
// O(n log n) in the input size, and keep at most one entry per code (so a
// table that claims more than its data holds is cut at the data).
#ifndef INKVEIL_FONTFILE_H
#define INKVEIL_FONTFILE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The built-in encoding of a Type 1 font program (the /FontFile stream,
// decoded, as PFA text or PFB segments; only the cleartext part before
// "eexec" is read): either "/Encoding StandardEncoding def" (*standard =
// true, names all empty) or an array built by "dup <code> /<name> put" lines
// (or written out as "[/name ...]"). names[code] receives the glyph name (""
// for none and for .notdef). False when the program has no readable
// /Encoding: none at all, another named encoding, or an array that names no
// glyph. Of a program of 2 GiB or more, the first 2 GiB are read.
bool type1_builtin_encoding(const unsigned char *bytes, size_t len, std::string names[256],
                            bool *standard);

// The 'cmap' table of a TrueType or OpenType font program (the /FontFile2
// stream, or an OpenType /FontFile3), subtable formats 0, 4, 6 and 12. Fills,
// each sorted by its first member with one entry per code:
struct TrueTypeCmap {
    std::vector<std::pair<uint32_t, uint32_t>> unicode_to_gid;  // from (3,1), (3,10) or (0,*) subtables
    std::vector<std::pair<uint32_t, uint32_t>> symbol_to_gid;   // from a (3,0) subtable: codes as written (often 0xF020..0xF0FF)
    std::vector<std::pair<uint32_t, uint32_t>> mac_to_gid;      // from a (1,0) subtable: one-byte codes
    uint32_t num_glyphs = 0;                                     // from 'maxp', 0 when absent
};

// Reads the font's first table directory (the first font of a collection).
// Each list comes from one subtable: of those of its kind, the first that
// yields an entry, tried in the order (3,10), (0,4), (0,6), (3,1), other
// (0,*) for Unicode. Entries mapping to glyph 0, and to a glyph at or past
// num_glyphs when 'maxp' gives it, are left out. Subtables are bounded by the
// real size of the data: a format-12 table claiming 2^32 groups is cut there.
// Segments or groups that overlap an earlier one (by start code) keep only
// their codes that it does not cover. `out` is replaced. False when the data
// is no TrueType/OpenType font or has no usable cmap table (all three lists
// empty).
bool truetype_read_cmap(const unsigned char *bytes, size_t len, TrueTypeCmap &out);

// Reverses unicode_to_gid: gid -> the lowest Unicode code point mapped to it
// (a CIDFontType2 with an identity /CIDToGIDMap and no ToUnicode is read
// through this, as readers do). Sorted by gid.
std::vector<std::pair<uint32_t, uint32_t>> truetype_gid_to_unicode(const TrueTypeCmap &cmap);

#endif
