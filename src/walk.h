// The document walk: every page's content, the Form XObjects it draws (at
// any depth, each placed by the CTM at its Do and its /Matrix) and the
// appearance streams of its annotations, interpreted and redacted.
//
// Text decisions do not depend on where a stream is drawn, so a form with
// search matches is rewritten once, in place. Regions do: a form that a
// region covers is rewritten for that showing into a copy of its own, and the
// stream that draws it names the copy, so that the pages and forms that draw
// it uncovered keep the original.
#ifndef INKVEIL_WALK_H
#define INKVEIL_WALK_H

#include <cstdint>
#include <string>
#include <vector>

#include "document.h"
#include "forms.h"
#include "redact.h"
#include "sanitize.h"
#include "writer.h"

enum class WalkMode {
    kRedact,  // decide and rewrite
    kCount,   // decide and count, rewrite nothing
};

// A box painted on a page, in the page's default user space.
struct PaintedBox {
    Box box;            // its bounds
    int32_t page = 0;   // 1-based
    int32_t cause = 0;  // a term's index, or -1 - a region's index
};

struct WalkResult {
    std::vector<Buf> page_content;                    // per page: the new content, when changed
    std::vector<std::vector<int32_t>> content_objs;   // per page: its old content streams
    std::vector<int32_t> page_changed;                // per page: 1 when rewritten
    std::vector<std::string> page_resources;          // per page: new /Resources text, or empty
    FormMap forms;                 // forms and appearances rewritten in place, by object number
    std::vector<NewStream> new_streams;  // copies of forms, numbered from first_new_num on
    int32_t first_new_num = 0;
    std::vector<int32_t> props_objects;  // property lists whose alternate text must go
    int64_t matches = 0;                 // occurrences of every term
    std::vector<int64_t> term_matches;   // per term
    std::vector<PaintedBox> boxes;       // every box painted, page by page
    // Forms rewritten in place, and the copies of forms: their object
    // numbers and the resources their content was read with.
    std::vector<std::pair<int32_t, PdfObj>> rewritten;
    // Forms and images that every showing now draws as a copy, with their
    // first copy: the originals hold what the boxes cover, so each is
    // written with its copy's dictionary and data instead, and whatever else
    // names it (shared resources, a mask, a pattern) names that.
    std::vector<std::pair<int32_t, int32_t>> replaced_originals;
};

// Walks every page of `doc` for `job`. Numbers for new objects start after
// `last_num`. Returns 1, or -1 with g_err set: a stream cannot be decoded or
// rewritten, or a page shows text the library cannot read (text mode).
int walk_document(const Doc &doc, const RedactJob &job, WalkMode mode, int32_t last_num,
                  WalkResult &result);

// Reads back what a redaction rewrote, in the finished output `out`, through
// the same decoder and matcher: the new content of each changed page
// (`new_content`: its object per page index, 0 for unchanged pages) and every
// form rewritten in place or copied. Streams copied unchanged were read by
// the redaction itself. Returns 1, or -1 with g_err naming where the search
// text still appears.
int verify_rewritten(const Doc &out, const RedactJob &job, const WalkResult &walk,
                     const std::vector<int32_t> &new_content);

// The dictionary text of property list `num` with its /ActualText, /Alt and
// /E strings blanked (their bytes become spaces); empty when it cannot be read.
std::string blanked_property_list(const Doc &doc, int32_t num);

// The resources a page uses: its own /Resources, or the nearest ancestor's
// in the page tree. Null when none has any.
PdfObj page_resources(const Doc &doc, int32_t page_num);

#endif
