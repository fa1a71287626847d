// CMaps: the PostScript-like text that maps character codes to Unicode
// (a font's /ToUnicode stream) or to CIDs (an embedded /Encoding CMap of a
// Type0 font). Everything here works on bytes alone, with no document in
// sight; the text is read with the PDF tokenizer (lexer.h).
//
// Input is untrusted: parsing never reads out of bounds, runs in time
// O(n log n) in the input size and keeps at most a small multiple of it.
#ifndef INKVEIL_CMAP_H
#define INKVEIL_CMAP_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct CMapCodespace {
    uint8_t len;    // 1..4 bytes
    uint8_t lo[4];  // byte-wise bounds: byte i of a code lies in lo[i]..hi[i]
    uint8_t hi[4];
};

// A run of codes lo..hi mapped to Unicode: code c maps to the destination
// dest_pool[dest_off, dest_off + dest_len) with its last code point increased
// by c - first. A single code and each code of an array-form range is a run
// of its own with lo == hi == first; the codes of an incrementing range keep
// the range's first code even when a later definition splits the run.
struct CMapBfRun {
    uint32_t lo, hi, first;
    uint32_t dest_off, dest_len;
};
// A run of codes lo..hi mapped to CIDs: code c maps to cid + (c - first).
struct CMapCidRun {
    uint32_t lo, hi, first, cid;
};

struct CMap {
    std::vector<CMapCodespace> codespace;  // in file order
    std::string usecmap;                   // the name given to usecmap, without slash; empty if none
    int wmode = 0;
    bool wmode_given = false;  // whether the text set /WMode
    // Sorted by lo, never overlapping: "later definitions win" is already applied.
    std::vector<CMapBfRun> bf;
    std::vector<CMapCidRun> cid;
    std::u32string dest_pool;  // the destinations of `bf`
};

// At most this many codespace ranges are kept (later ones are ignored), which
// bounds the work of cmap_code_length; real CMaps have a handful.
constexpr size_t kCMapMaxCodespaces = 256;
// At most this many code points are kept of one destination; the rest is cut.
constexpr size_t kCMapMaxDestLength = 32;

// Parses CMap text leniently; returns false only when nothing at all could be
// read (no codespace range, mapping, usecmap or /WMode), and for text of
// 2 GiB or more, which is refused unread. `out` is replaced.
//
// Read: begincodespacerange, beginbfchar, beginbfrange (both forms),
// begincidchar, begincidrange, `/Name usecmap` and `/WMode n`; everything
// else, % comments included, is skipped. Block counts are not trusted: a
// block ends at its end keyword, at any other begin.../end... keyword, or at
// the end of the input. Tokens that fit nowhere in an entry are stepped over.
// A hex string holds hex digits and white space only: a '<' followed by
// anything else before its '>' is a broken string, which drops the entry it
// stands in, and the entries after it are read on their own.
//
// Codes are 1 to 4 bytes (hex or literal strings) and are stored as numbers;
// an entry with an empty or longer code is dropped. Later definitions of a
// code replace earlier ones. Ranges are stored as ranges; a range with
// lo > hi is dropped; a range that spans more than 65536 codes is cut to its
// first 65536; a range whose bytes other than the last differ is read as the
// numeric range lo..hi. An array-form range maps one code per array element
// and leaves codes past the array's end unmapped.
//
// Destinations are UTF-16BE. Surrogate pairs join; an unpaired surrogate is
// dropped and the rest of the destination kept; of an odd-length destination
// the last lone byte is dropped, except that a destination of exactly one byte
// is read as that byte's code point (producers that write <41> mean "A").
// A destination with nothing left, and a name destination such as /space,
// define nothing: the code stays as it was. Destinations longer than
// kCMapMaxDestLength code points are cut.
//
// A codespace range takes the length of its high bound (`<00> <FFFF>` is a
// two-byte range from 0000); a range whose low bound does not fit that length
// or is above the high bound in some byte is dropped.
bool cmap_parse(const unsigned char *bytes, size_t len, CMap &out);

// Merges `parent` (the CMap that `child.usecmap` names) under `child`: child
// mappings win. The parent's codespace ranges that the child lacks are added
// after the child's; the child keeps its /WMode when it set one; child.usecmap
// becomes parent.usecmap, so that a chain is resolved by merging its members
// one after the other (the caller bounds the depth).
void cmap_merge_parent(CMap &child, const CMap &parent);

// The length in bytes (1..4) of the code that starts at `p`, with `avail`
// bytes available (>= 1; 0 is answered with 1). It is the shortest n <= avail
// whose n-byte codespace ranges contain the next n bytes. When none does (an
// invalid code), the bytes are consumed as one code of the shortest length
// n <= avail that has a range whose first byte matches p[0] (a partial
// match), else of the shortest codespace length that fits in avail, else 1.
// Never 0, never more than avail (when avail >= 1).
int cmap_code_length(const CMap &cmap, const unsigned char *p, size_t avail);

// Whether the n bytes at `p` are one valid code: an n-byte codespace range
// holds them and the bytes that follow them can never join them into another
// code (no shorter range holds a prefix of them).
bool cmap_code_is_valid(const CMap &cmap, const unsigned char *p, int n);

// Unicode of `code` through the bf mappings: appends its code points to `out`
// and returns true, or returns false (leaving `out` alone) when the code is
// not mapped or its incremented destination leaves the Unicode range. The
// code is compared as a number (a one-byte font whose ToUnicode writes <0041>
// still finds code 0x41). O(log n).
bool cmap_to_unicode(const CMap &cmap, uint32_t code, std::u32string &out);

// CID of `code` through the cid mappings; false when unmapped. O(log n).
bool cmap_to_cid(const CMap &cmap, uint32_t code, uint32_t *cid);

// A code whose bf destination is exactly the single code point `cp` (e.g.
// U+0020), the lowest such code; false when none. Linear in the number of
// stored runs, never in the number of codes they cover.
bool cmap_code_for_unicode(const CMap &cmap, char32_t cp, uint32_t *code);

// Whether any bf mapping exists (a ToUnicode CMap that mapped nothing is
// treated as absent).
bool cmap_has_unicode(const CMap &cmap);

#endif
