// Content redaction: from the trace of one content stream, the glyphs to
// blank (those that spell the search text, and those a region covers) and
// the boxes to paint; then the content rewritten with those glyphs blanked in
// a way that keeps the font and the layout, and the boxes painted over it.
#ifndef INKVEIL_REDACT_H
#define INKVEIL_REDACT_H

#include <cstdint>
#include <string>
#include <vector>

#include "geometry.h"
#include "inkveil.h"
#include "interp.h"
#include "syntax.h"
#include "textmatch.h"

// True when the region's page, truncated toward zero, is `page`.
bool region_on_page(const Region &region, int page);

// What one call redacts, the same for every stream it reads.
struct RedactJob {
    const SearchSet *search = nullptr;       // text mode: the search texts (built)
    const Region *regions = nullptr;         // region mode: the rectangles of every page
    int region_count = 0;
    int red = 0, green = 0, blue = 0;        // the box colour, 0..255 (clamped)
};

// Where one content stream is drawn.
struct Placement {
    int page = 1;              // 1-based page number
    Matrix to_page;            // the stream's user space to the page's default user space
    bool paint_regions = true;  // the regions of the page are painted in this stream
};

// A box to paint, in the stream's user space: four corners, and what caused
// it: a term's index (0, 1, ...) or -1 - the index of a region.
struct PaintBox {
    Quad quad;
    int32_t cause = 0;
};

// What the redaction decided for one content stream.
struct StreamDecision {
    std::vector<bool> blank;             // per glyph of the trace (a bit each: traces grow long)
    std::vector<uint8_t> blank_strings;  // per DictString of the trace
    std::vector<PaintBox> boxes;         // match boxes, then regions
    std::vector<int32_t> props_objects;  // named property lists whose strings must go
    int32_t matches = 0;                 // occurrences of the search texts
    std::vector<int32_t> term_matches;   // per term
    int32_t unreadable_glyphs = 0;       // glyphs whose codes cannot be read
    const Font *unreadable_font = nullptr;
    bool any_blank() const;
};

// Decides for one stream: search matches (text mode, the same matcher as
// counting), glyphs under the regions of the placement's page, and the
// alternate text of spans whose glyphs go.
void decide_stream(const unsigned char *content, const ContentTrace &trace, const RedactJob &job,
                   const Placement &placement, StreamDecision &decision);

// The occurrences of the search texts in one stream, as decide_stream counts
// them, for a caller that only checks (the text is read without owners, and
// nothing is decided).
int64_t count_stream_matches(const unsigned char *content, const ContentTrace &trace, const SearchSet &set);

// A change to content bytes: [start, end) becomes `text`.
struct ContentEdit {
    int32_t start, end;
    std::string text;
};

// Writes the content with the decision applied, and the caller's own edits
// (renamed XObjects, rewritten inline images), to `out`: the blanked glyphs
// and strings, then, when there are boxes, the original wrapped in q ... Q so
// that the boxes are painted in the stream's own user space, whatever state
// the content leaves. It reads the trace's operations, never its glyphs, which
// the caller may let go once it has decided. Returns false when memory runs out.
bool rewrite_content(const unsigned char *content, int32_t len, const ContentTrace &trace,
                     const StreamDecision &decision, std::vector<ContentEdit> edits,
                     const RedactJob &job, Buf &out);

// One stream end to end, for callers that have no resources to give (tests,
// fuzzing): interpret, decide, rewrite. Sets *painted when the content
// changed; adds the matches to *matches (optional).
void redact_content(const ContentContext &ctx, const unsigned char *content, int32_t len,
                    const RedactJob &job, const Placement &placement, Buf &out, int *painted,
                    int *matches);

// The number as a content stream writes it: at most four decimals, no
// trailing zeros, no exponent.
std::string format_number(double v);

#endif
