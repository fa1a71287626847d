// Form XObjects and annotation appearances: finding the forms a page reaches
// and redacting each of them once per call.
#ifndef INKVEIL_FORMS_H
#define INKVEIL_FORMS_H

#include <cstdint>
#include <vector>

#include "document.h"
#include "inkveil.h"
#include "syntax.h"

// One entry per object number (max_obj_num + 64 entries): what the form walk
// of this call has already done with the object, one bit per role (examined
// as a form candidate, walked as resources, as an annotation, ...), so that
// nothing is walked twice however often it is referenced. 0 for untouched.
using VisitMap = std::vector<uint16_t>;
// One buffer per object number (max_obj_num + 64 entries): the rewritten
// content of each form painted in this call, empty for every other object.
using FormMap = std::vector<Buf>;

// The forms of one page: whether any was painted, and the matches found.
struct FormTally {
    int32_t changed = 0;
    int32_t matches = 0;
};

// Appends to `out` every object referenced ("n g R") in the /XObject entries
// of a resource dictionary (its own entries, each copy of a repeated key):
// object `res_obj` when it is positive, else the inline dictionary at
// `dict_pos` of `text` (up to `text_end`). Returns how many were added.
int32_t collect_xobjects(const Doc &doc, int32_t res_obj, const unsigned char *text,
                         int32_t text_end, int32_t dict_pos, std::vector<int32_t> &out);

// Appends to `out` the objects referenced by the /Annots arrays of `obj` (its
// own entries, each copy of a repeated key), each a direct array or a
// reference to an array object. Returns how many were added.
int32_t collect_refs_in_array(const Doc &doc, const ObjEntry &obj, std::vector<int32_t> &out);

// Redacts Form XObject `objnum` and the forms its resources name, at any
// depth, each unless it was examined before. Returns 1, or -1 with g_err set
// when a stream cannot be decoded.
int redact_form_obj(const Doc &doc, int32_t objnum, VisitMap &visit_map, FormMap &form_map,
                    const char *search, const Region *regions, int region_count, int page, int red,
                    int green, int blue, FormTally &tally);

// Redacts the forms that a page's resources (inherited ones included) name
// and the appearance streams of the page's annotations. Returns 1, or -1 with
// g_err set when a stream cannot be decoded.
int redact_page_forms(const Doc &doc, const ObjEntry &page_obj, int page, VisitMap &visit_map,
                      FormMap &form_map, const char *search, const Region *regions,
                      int region_count, int red, int green, int blue, FormTally &tally);

#endif
