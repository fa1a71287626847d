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

#endif
