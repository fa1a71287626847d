// Form XObjects and annotation appearances: the scanners that list the
// XObjects of resources, the annotations of a page and their appearance streams.
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
// content of each form or appearance stream rewritten in place in this call,
// empty for every other object.
using FormMap = std::vector<Buf>;

// Appends to `out` the objects referenced by the /Annots arrays of `obj` (its
// own entries, each copy of a repeated key), each a direct array or a
// reference to an array object. Returns how many were added.
int32_t collect_refs_in_array(const Doc &doc, const ObjEntry &obj, std::vector<int32_t> &out);

// Appends the appearance streams of the annotations of page `page_obj`: /N,
// /R and /D of each /AP, inline or an object, with their appearance states,
// in their order. The VisitMap marks what was walked, so that annotations,
// arrays and appearance dictionaries shared by pages are walked once per call.
void collect_page_appearances(const Doc &doc, const ObjEntry &page_obj, VisitMap &visit_map,
                              std::vector<int32_t> &out);

#endif
