// Hidden information: the places outside the page content where text
// survives, removed from every output.
#ifndef INKVEIL_SANITIZE_H
#define INKVEIL_SANITIZE_H

#include <cstdint>
#include <vector>

#include "document.h"
#include "inkveil.h"

// One byte per object number: 1 leaves the object out of the output.
using DropMap = std::vector<unsigned char>;
// One text per object number: the dictionary text that replaces the object's
// body in the output, or empty to write the object as it is.
using ReplacementTexts = std::vector<DictText>;

// A heap copy of `text`, as the replacement table holds its texts; empty when
// memory runs out.
DictText copy_text(const char *text);

// Marks the document information, XMP metadata, embedded files and /Filespec
// dictionaries, the name dictionary, non-widget annotations and the whole
// outline in `drop`, and stores rewritten dictionaries for the catalog, the
// pages whose /Annots changed and the form fields that lose their values.
// Both tables have `table_size` entries.
void sanitize_hidden_info(const Doc &doc, DropMap &drop, ReplacementTexts &replacements,
                          int32_t table_size);

// Widgets are drawn above the page: a kept widget whose /Rect meets a region
// of its page loses /AP and /AS, so that its appearance cannot show the
// field's text over the painted box.
void hide_covered_widgets(const Doc &doc, const Region *regions, int region_count,
                          const DropMap &drop, ReplacementTexts &replacements, int32_t table_size);

#endif
