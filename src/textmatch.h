// Text as readers extract it: the glyphs of one content stream turned into
// Unicode text in content order, with the word and line breaks a reader
// prints, and the search text found in it without regard to case.
#ifndef INKVEIL_TEXTMATCH_H
#define INKVEIL_TEXTMATCH_H

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "interp.h"

// A break between words, in both the text and the pattern.
inline constexpr char32_t kSeparator = 0x110000;
// A break that starts a new line: in a stream's text only, where it matches
// as a separator (patterns hold kSeparator alone).
inline constexpr char32_t kLineSeparator = 0x110001;
// A break readers differ on (some print a space, some the words joined): a
// space glyph that takes about no room, or a gap near their cuts. The search
// takes it both ways. In a stream's text only.
inline constexpr char32_t kSoftSeparator = 0x110002;
inline bool is_separator(char32_t c) { return c == kSeparator || c == kLineSeparator || c == kSoftSeparator; }
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

// The search texts of one call, found together in one pass over a text (an
// Aho-Corasick automaton over their characters).
struct SearchSet {
    std::vector<SearchPattern> patterns;  // the terms, in the caller's order
    struct Node {
        int32_t fail = 0;     // the longest proper suffix that is a node
        int32_t out = -1;     // first entry of `outs` for the terms ending here, or -1
        int32_t report = -1;  // the nearest node on the fail chain with terms, or -1
        int32_t depth = 0;
    };
    struct Out {
        int32_t term, next;
    };
    std::vector<Node> nodes;
    std::vector<Out> outs;
    std::unordered_map<uint64_t, int32_t> edges;  // (node << 32 | character) -> child
    // Moves on the first 256 code points (every byte, for automata over
    // bytes) and the separator, the characters of nearly every text:
    // kDenseColumns per node (empty for large automata, which use the edges
    // and fail links).
    std::vector<int32_t> dense;
};
inline constexpr size_t kDenseColumns = 257;

// Adds a search text; false (nothing added) when nothing searchable remains.
bool search_set_add(SearchSet &set, const char *text);
// Adds a term as it is given: its characters compared exactly, the caller
// having folded them (the byte scan of an output adds bytes).
void search_set_add_chars(SearchSet &set, std::u32string chars);
// Builds the automaton once every term is added; every term has at least
// one character.
void search_set_build(SearchSet &set);
// The node after `node` on character `c`. Terms end at the nodes from which
// `out` (and the chain of `report` links) lists them, `depth` characters long.
// Inline: it runs for every character searched, and nearly every one takes
// the table.
int32_t search_set_next_slow(const SearchSet &set, int32_t node, char32_t c);
inline int32_t search_set_next(const SearchSet &set, int32_t node, char32_t c) {
    if (!set.dense.empty()) {
        if (c < 256) return set.dense[static_cast<size_t>(node) * kDenseColumns + c];
        if (is_separator(c)) return set.dense[static_cast<size_t>(node) * kDenseColumns + 256];
    }
    return search_set_next_slow(set, node, c);
}
// The fewest letters (characters other than separators) of any term.
int64_t search_set_fewest_letters(const SearchSet &set);

// Who a character of the text stands for, in one number: glyph g (g >= 0),
// nothing (-1), or the marked-content span s whose /ActualText it comes
// from (-2 - s).
using CharOwner = int32_t;
inline constexpr CharOwner kNoOwner = -1;
inline CharOwner span_owner(int32_t span) { return -2 - span; }
inline int32_t owner_glyph(CharOwner o) { return o >= 0 ? o : -1; }
inline int32_t owner_span(CharOwner o) { return o <= -2 ? -2 - o : -1; }

// The owners of a text's characters, packed in about a byte each: most
// characters belong to the glyph of the character before them or to the
// next glyph, and only the other owners are written out.
inline constexpr int32_t kOwnerBlock = 64;
struct OwnerList {
    enum Step : uint8_t { kNone, kSame, kNext, kOther };
    struct Mark {
        int32_t last_glyph, others;  // the reading state at a block's first character
    };
    std::vector<uint8_t> steps;     // per character
    std::vector<CharOwner> others;  // the owners of kOther steps, in order
    std::vector<Mark> marks;        // per kOwnerBlock characters
    int32_t last_glyph = -1;        // the last glyph pushed
};

// Appends the owner of the next character (inline: it runs once per
// character of every stream).
inline void owner_list_push(OwnerList &list, CharOwner owner) {
    static_assert((kOwnerBlock & (kOwnerBlock - 1)) == 0 && OwnerList::kNext == OwnerList::kSame + 1);
    if ((list.steps.size() & (kOwnerBlock - 1)) == 0)
        list.marks.push_back({list.last_glyph, static_cast<int32_t>(list.others.size())});
    const int64_t ahead = static_cast<int64_t>(owner) - list.last_glyph;
    if (owner >= 0 && (ahead == 0 || ahead == 1)) {  // the same glyph, or the next
        list.steps.push_back(static_cast<uint8_t>(OwnerList::kSame + ahead));
        list.last_glyph = owner;
        return;
    }
    if (owner == kNoOwner) {
        list.steps.push_back(OwnerList::kNone);
        return;
    }
    list.others.push_back(owner);
    if (owner >= 0) list.last_glyph = owner;
    list.steps.push_back(OwnerList::kOther);
}

// Reads owners back: in order, or near the last one read, a step at a time.
struct OwnerReader {
    const OwnerList *list = nullptr;
    int32_t next = 0;  // the next character to read
    int32_t last_glyph = -1, others = 0;
    CharOwner owner = kNoOwner;  // the owner of character next - 1
};
CharOwner owner_at(OwnerReader &reader, int32_t c);

struct StreamText {
    std::u32string chars;  // folded; breaks as kSeparator and kLineSeparator
    OwnerList owners;      // one per character
    int64_t unreadable_glyphs = 0;  // glyphs of fonts whose codes cannot be read
    const Font *unreadable_font = nullptr;  // the first such font
};

// Builds the text of a trace; without owners (their list stays empty) for a
// caller that only counts.
void stream_text_build(const ContentTrace &trace, StreamText &out, bool with_owners = true);

// One occurrence of term `term`: characters [first, end) of the text.
struct TextMatch {
    int32_t first, end;
    int32_t term;
};

// The occurrences of every term in the text, sorted by their start; the
// occurrences of one term never overlap one another (the leftmost wins).
// A hyphen at a line's end followed by the line break may stand inside an
// occurrence ("Okon-" / "kwo" is found as "Okonkwo").
void find_matches(const StreamText &text, const SearchSet &set, std::vector<TextMatch> &out);

// The occurrences in a text string of its own (an /Alt or /E value).
void find_in_string(const std::u32string &text, const SearchSet &set, std::vector<TextMatch> &out);

// Folds a string the way text is compared: case folded, ligatures spelled
// out, white space as separators.
std::u32string fold_text(const std::u32string &text);

#endif
