// Text as readers extract it: the glyphs of one content stream turned into
// Unicode text in content order, with the word and line breaks a reader
// prints, and the search text found in it without regard to case.
#ifndef INKVEIL_TEXTMATCH_H
#define INKVEIL_TEXTMATCH_H

#include <cstdint>
#include <string>
#include <vector>

#include "interp.h"

// A break between words or lines, in both the text and the pattern.
inline constexpr char32_t kSeparator = 0x110000;
// A glyph without Unicode text: matches nothing.
inline constexpr char32_t kUnknownChar = 0xFFFD;

// The search text made ready for matching: decoded (UTF-8, or Windows-1252
// when it is not valid UTF-8), case folded, ligatures spelled out, and each
// run of white space one separator.
struct SearchPattern {
    std::u32string chars;
};

// False when nothing searchable remains (an empty text).
bool search_pattern_make(const char *text, SearchPattern &out);

// The number of characters the pattern has, separators included.
inline size_t search_pattern_length(const SearchPattern &p) { return p.chars.size(); }

// Who a character of the text stands for.
struct CharOwner {
    int32_t glyph;  // the glyph, or -1
    int32_t span;   // the marked-content span whose /ActualText it comes from, or -1
};

struct StreamText {
    std::u32string chars;          // folded; separators as kSeparator
    std::vector<CharOwner> owners;  // one per character
    std::vector<uint8_t> line_break;  // per character: a separator that starts a new line
    int64_t unreadable_glyphs = 0;  // glyphs of fonts whose codes cannot be read
    const Font *unreadable_font = nullptr;  // the first such font
};

// Builds the text of a trace.
void stream_text_build(const ContentTrace &trace, StreamText &out);

// One occurrence: characters [first, end) of the text.
struct TextMatch {
    int32_t first, end;
};

// The occurrences of the pattern in the text, left to right, never
// overlapping. A hyphen at a line's end followed by the line break may stand
// inside an occurrence ("Okon-" / "kwo" is found as "Okonkwo").
void find_matches(const StreamText &text, const SearchPattern &pattern,
                  std::vector<TextMatch> &out);

// The occurrences of the pattern in a text string of its own (an /Alt or /E
// value): its characters [first, end).
void find_in_string(const std::u32string &text, const SearchPattern &pattern,
                    std::vector<TextMatch> &out);

// Folds a string the way text is compared: case folded, ligatures spelled
// out, white space as separators.
std::u32string fold_text(const std::u32string &text);

#endif
