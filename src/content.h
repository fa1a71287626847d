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
// its content has been rewritten. Anything else that /Contents names (a
// missing object, a dictionary, another page) is not recorded, so that
// rewriting the page never takes it out of the output. `page_num` (1-based) names the stream in a
// decoding message. Only the page dictionary's own entries count, and a
// repeated /Contents key adds its streams too (readers differ on which copy
// they draw). Joined content longer than `max_len` fails like memory running
// out: lengths are 32-bit from here on; tests lower it.
// Returns 1 when `out` holds bytes, 0 when it is empty, and -1 with g_err set
// and *failed = 1 when a stream cannot be decoded.
int get_page_content(const Doc &doc, const ObjEntry &page, Buf &out,
                     std::vector<int32_t> &content_objs, int page_num, int32_t *failed,
                     int64_t max_len = INT32_MAX);

// Locates the /Resources of a page or form dictionary (its own entries only).
// Returns 1 with *res_obj = N for "/Resources N g R"; 1 with *text, *text_end
// and *dict_pos describing an inline "<< ... >>" (the text is the file or a
// member's own text, valid while the Doc lives); 0 otherwise. *res_obj and
// *text are always reset first. With `cursor` (0 before the first call), each
// call gives the next usable /Resources entry of a dictionary that repeats
// the key.
int obj_resources(const Doc &doc, const ObjEntry &entry, int32_t *res_obj,
                  const unsigned char **text, int32_t *text_end, int32_t *dict_pos,
                  int32_t *cursor = nullptr);

// Where the entries of the dictionary of `range` begin (just past its "<<",
// which blanks may precede), or -1 when it does not open with "<<".
int32_t dict_range_entries(const DictRange &range);

// The value of the next top-level /key entry of the dictionary of `range`
// from *cursor (0 before the first call): its offset in range.bytes, blanks
// skipped, with *cursor moved past it; -1 when there is no further one. Keys
// of nested dictionaries and names inside strings are never taken.
int32_t dict_next_value(const DictRange &range, const char *key, int32_t *cursor);

// Gives back the unused room of a buffer that is kept for the rest of a call
// (its first block alone is 64 KiB, far more than most pages and forms
// need). Leaves the buffer as it is when that cannot be done.
void buf_shrink_to_fit(Buf &buf);

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
