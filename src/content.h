// Page content: a page's content streams decoded and joined into one buffer,
// and the /Resources entry of a page or form dictionary.
#ifndef INKVEIL_CONTENT_H
#define INKVEIL_CONTENT_H

#include <cstdint>
#include <vector>

#include "document.h"
#include "syntax.h"

// Decodes every content stream that the page's /Contents names (one stream, a
// direct array of streams, or a reference to an array object) and joins the
// decoded bytes in `out` (NUL-terminated; array elements each end with "\n").
// `content_objs` receives the object numbers of all those streams, and of the
// array object when there is one: the objects the page no longer needs once
// its content has been rewritten. `page_num` (1-based) names the stream in a
// decoding message.
// Returns 1 when `out` holds bytes, 0 when it is empty, and -1 with g_err set
// and *failed = 1 when a stream cannot be decoded.
int get_page_content(const Doc &doc, const ObjEntry &page, Buf &out,
                     std::vector<int32_t> &content_objs, int page_num, int32_t *failed);

// Locates the /Resources of a page or form dictionary. Returns 1 with
// *res_obj = N for "/Resources N g R"; 1 with *text, *text_end and *dict_pos
// describing an inline "<< ... >>" (the text is the file or a member's own
// text, valid while the Doc lives); 0 otherwise. *res_obj and *text are
// always reset first.
int obj_resources(const Doc &doc, const ObjEntry &entry, int32_t *res_obj,
                  const unsigned char **text, int32_t *text_end, int32_t *dict_pos);

// The length of the Doc's file bytes (its size, never beyond the bytes held),
// as stream decoding takes it.
int32_t doc_file_len(const Doc &doc);

// The array that object `entry` holds as its whole value (an object of its
// own, "n g obj [ ... ] endobj", or an object-stream member). Returns the
// offset just past its "[" in *bytes (scanned up to *end), or -1 when the
// object's value is not an array.
int32_t obj_array_start(const Doc &doc, const ObjEntry &entry, const unsigned char **bytes,
                        int32_t *end);

// The object number of the indirect reference "n g R" (n > 0, the generation
// optional) that starts at *pos, moving *pos past the "R"; 0 with *pos
// unchanged when no reference stands there.
int32_t ref_at(const unsigned char *bytes, int32_t end, int32_t *pos);

// The next indirect reference "n g R" (n > 0) among the elements of an array
// from *pos: returns n and moves *pos past the "R", or returns 0 at the
// closing "]" or the end. Nested dictionaries, arrays and strings are stepped
// over whole, so the references inside them are not taken.
int32_t next_array_ref(const unsigned char *bytes, int32_t end, int32_t *pos);

#endif
