// The loaded document: the file's bytes held whole, the object table found by
// scanning for object headers, the trailer facts and the page list; and the
// textual dictionary helpers that answer questions about an object.
#ifndef INKVEIL_DOCUMENT_H
#define INKVEIL_DOCUMENT_H

#include <cstdint>
#include <memory>
#include <vector>

#include "syntax.h"

// One object of the object table. Offsets are into Doc::data unless said
// otherwise; -1 means not found.
struct ObjEntry {
    int32_t num = 0;          // object number
    int32_t gen = 0;          // generation (0 for object-stream members)
    int32_t dict_pos = -1;    // the '<' that begins the value when it starts with '<'; -1 for members
    int32_t dict_end = -1;    // stream objects: the "stream" keyword
    // Just past the ">>" that closes the dictionary at dict_pos: set by the
    // loader for objects in the file; 0 when not looked for yet (it is then
    // found on demand), -1 when the value is no dictionary that closes.
    int32_t dict_close = 0;
    int32_t data_start = -1;  // stream objects: first byte of stream data (0 for members)
    // Stream objects: one past the last data byte, from /Length when "endstream"
    // follows it, else the first "endstream"; -1 when neither ends it (0 for members).
    int32_t data_end = -1;
    int32_t endobj_pos = -1;  // the "endobj" keyword, or just past ">>" when it is missing
    int32_t obj_end = -1;     // just past the object
    int32_t obj_start = 0;    // first digit of the object header (0 for members)
    int32_t stream_len = -1;  // stream objects: data_end - data_start, or -1
    int32_t has_stream = 0;   // 1 when the dictionary is followed by "stream"
    int32_t compressed = 0;   // 1 for a member of an object stream
    const unsigned char *text = nullptr;  // members: their text inside Doc::objstm_bufs
    int32_t text_len = 0;                 // members: length of text
};

// One page: the object number of a leaf page object.
struct PageRef {
    int32_t num = 0;
};

// A node of the page tree and the kids the walk took from it, in order.
struct PageNode {
    int32_t num = 0;
    std::vector<int32_t> kids;
};

struct Doc {
    std::vector<unsigned char> data;  // the whole input file
    int32_t size = 0;                 // file size in bytes (below 2^31)
    std::vector<ObjEntry> objs;       // the object table
    std::vector<PageRef> pages;       // the page list, in document order
    // Decompressed object streams; members' text points into them, and the
    // blocks never move while the Doc lives.
    std::vector<std::unique_ptr<unsigned char[], FreeDeleter>> objstm_bufs;
    int32_t startxref = -1;     // offset after the last "startxref"
    int32_t trailer_root = -1;  // /Root from the trailer data
    int32_t trailer_info = -1;  // /Info from a classic trailer
    int32_t encrypted = 0;      // 1 once /Encrypt has been seen
    int32_t root = -1;          // the catalog's object number
    int32_t info = -1;          // the document information object, when in the table
    int32_t max_obj_num = 0;    // largest object number in the table
    int32_t pages_root = 0;  // where the page tree walk started; 0 for none
    // The page tree nodes the walk entered, each once, with the kids it took
    // from each: objects of the table, less the nodes entered before.
    std::vector<PageNode> page_nodes;
    // Object number -> index in `objs` (-1 for none), max_obj_num + 1 entries;
    // built once the table is final. Empty for a Doc assembled by hand.
    std::vector<int32_t> obj_index;
};

// Loads the PDF at `path`. Returns 0, or -1 with g_err set and `doc` empty.
// The table holds every "num gen obj" header of the file except those inside
// the data of a stream whose /Length is trusted, plus the members of object
// streams; of several definitions of one number, the one standing last in the
// file survives (a member stands where its object stream does). A missing
// catalog or page tree is not a failure: `pages` is then empty.
int doc_load(const char *path, Doc &doc);
// Loads a PDF held in memory, taking `bytes` over; `name` stands for it in
// messages. Returns 0, or -1 with g_err set and `doc` empty.
int doc_load_bytes(std::vector<unsigned char> bytes, const char *name, Doc &doc);
// Releases everything the Doc holds and resets every field.
void doc_free(Doc &doc);
// The first entry with object number `num`, or nullptr.
const ObjEntry *doc_find_obj(const Doc &doc, int32_t num);

// The generation the output gives object `num`: its first entry's generation
// when that lies in 1..65534, else 0 (also when there is no such object).
int32_t output_gen(const Doc &doc, int32_t num);

// ---- Dictionary text of an entry ------------------------------------------
// The byte range that every dictionary lookup searches, and that the writer
// copies: from the "<<" that opens the object's value through the ">>" that
// closes it, inside the object (a member's own text, or the file bytes up to
// the "stream" keyword, the "endobj" or the end of the file). Whatever follows
// the closing ">>" is no part of the dictionary. Absent when the value is not
// a dictionary or never closes.
struct DictRange {
    const unsigned char *bytes = nullptr;  // nullptr when there is no dictionary
    int32_t start = 0;
    int32_t end = 0;
};
DictRange obj_dict_range(const Doc &doc, const ObjEntry &entry);
// The same over the file bytes [0, size) of a document.
DictRange dict_range_in(const unsigned char *bytes, int32_t size, const ObjEntry &entry);

// A heap-allocated NUL-terminated dictionary text owned by its holder.
using DictText = std::unique_ptr<char[], FreeDeleter>;

// The dictionary from "<<" through its closing ">>", NUL bytes written as
// the escape \000; empty when the entry has none or it is not closed.
DictText obj_dict_text(const Doc &doc, const ObjEntry &entry);
// Inserts `insert` before the final ">>" of `text` (which must end with ">>",
// blanks aside) and returns the text to use from now on.
DictText dict_append_before_close(DictText text, const char *insert);
// 1 when the /key name token occurs in the entry's dictionary text.
int obj_has_key(const Doc &doc, const ObjEntry &entry, const char *key);
// 1 for /Type /Page, 2 for /Type /Pages, 0 otherwise.
int obj_type(const unsigned char *bytes, int32_t size, const ObjEntry &entry);
// 1 when some occurrence of /key is followed by exactly the name /value.
int obj_name_is(const Doc &doc, const ObjEntry &entry, const char *key, const char *value);
// The first positive integer after an occurrence of /key, else 0.
int32_t obj_ref_value(const Doc &doc, const ObjEntry &entry, const char *key);
// One top-level entry of a dictionary text: the slash of its key, the end of
// the key and the end of its value.
struct DictEntry {
    int32_t key;
    int32_t key_end;
    int32_t value_end;
};

// Where the entries of the dictionary text [0, end) begin (just past its
// "<<"), or -1 when it does not open with "<<".
int32_t dict_entries_start(const unsigned char *text, int32_t end);

// The next top-level entry at or after *pos, moving *pos past its value.
// Comments and stray tokens are stepped over. False at the closing ">>" or
// where the text can no longer be read.
bool dict_next_entry(const unsigned char *text, int32_t end, int32_t *pos, DictEntry *entry);

// True when the entry's key is exactly /key.
bool dict_entry_is(const unsigned char *text, const DictEntry &entry, const char *key);

// The value of the first top-level /key entry of a NUL-terminated dictionary
// text, as [*from, *to) (blanks before it skipped). False when there is none.
bool dict_find_entry(const char *text, const char *key, int32_t *from, int32_t *to);

// Removes, in one pass, every top-level /key entry, each with one space or
// tab before it. Returns true when something was removed.
bool strip_dict_entries(char *text, const char *key);

// Removes, in place, the first entry of the dictionary itself whose key is
// exactly /key, with its value and one space or tab before it. Only the top
// level is walked: keys of nested dictionaries and names inside strings or
// arrays are never touched. Blanks after the value stay.
void strip_dict_entry(char *text, const char *key);

#endif
