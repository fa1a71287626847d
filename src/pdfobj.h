// PDF objects parsed into a small tree, for the places that need structured
// values (font dictionaries, their width arrays and encodings, resource and
// property dictionaries, image parameters), and their look-up in a Doc.
//
// The rest of the library reads dictionaries as text; this tree is built only
// for the objects that the content interpreter and the font layer read, each
// once per call.
#ifndef INKVEIL_PDFOBJ_H
#define INKVEIL_PDFOBJ_H

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "document.h"
#include "lexer.h"

enum class ObjKind : uint8_t { kNull, kBool, kNumber, kName, kString, kArray, kDict, kRef };

struct PdfObj {
    ObjKind kind = ObjKind::kNull;
    double num = 0;        // kNumber; kBool: 1 or 0; kRef: the object number
    int32_t gen = 0;       // kRef: the generation
    std::string str;       // kName: the name without its slash, #xx decoded; kString: the bytes
    std::vector<PdfObj> items;                    // kArray: the elements; kDict: the values
    std::vector<std::string> keys;                // kDict: the keys, parallel to items
    int32_t src_start = -1, src_end = -1;  // where the value stood in the bytes parsed
};

// Parses the value that starts at or after `pos` (comments skipped) and
// moves *pos past it. Arrays and dictionaries nest to `max_depth` levels;
// deeper values are stepped over and read as null. A dictionary or array the
// data ends inside keeps what was read. "n g R" is a reference. Returns false
// (null value, *pos unchanged) when no value starts there.
bool pdfobj_parse(const unsigned char *bytes, int32_t end, int32_t *pos, PdfObj &out,
                  int max_depth = 32);

// The value of `key` in a dictionary (the first copy), or nullptr.
const PdfObj *pdfobj_get(const PdfObj &dict, std::string_view key);

// Number and name tests that accept the wrong kinds as "no".
bool pdfobj_is_name(const PdfObj *obj, std::string_view name);
double pdfobj_number(const PdfObj *obj, double fallback);

// Decodes the bytes of a literal string token (escapes, line continuations)
// or a hex string token.
std::string pdfobj_string_bytes(const unsigned char *bytes, const Token &token);

// Appends the PDF text of a value: names with #xx escapes where needed,
// strings in hex, numbers without exponents.
void pdfobj_write(const PdfObj &obj, std::string &out);

// Sets `key` of a dictionary to `value` (replacing the first copy, dropping
// the others), or removes it when `value` is null.
void pdfobj_set(PdfObj &dict, std::string_view key, PdfObj value);

// ---- Objects of a document -------------------------------------------------

// The value of object `num` (the dictionary of a stream), parsed; null when
// the object is missing or unreadable.
PdfObj doc_object(const Doc &doc, int32_t num);

// `obj` itself, or the value of the object it refers to (references followed
// up to a few times, so that a loop of references ends).
PdfObj doc_resolve(const Doc &doc, const PdfObj &obj);

// The dictionary value of `key` in `dict`, following a reference; null when
// absent. *num receives the object number when the value was a reference.
PdfObj doc_get(const Doc &doc, const PdfObj &dict, std::string_view key, int32_t *num = nullptr);

// The decoded data of stream object `num`: true with the bytes in `out`;
// false with g_err set (the message names `label`) when a filter fails, and
// false with g_err untouched and *missing set when there is no such stream.
bool doc_stream_data(const Doc &doc, int32_t num, const char *label, std::string &out,
                     bool *missing);

#endif
