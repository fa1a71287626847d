// Output writer: the complete redacted file built in memory, and its writing.
#ifndef INKVEIL_WRITER_H
#define INKVEIL_WRITER_H

#include <cstdint>
#include <string>
#include <vector>

#include "document.h"
#include "forms.h"
#include "sanitize.h"
#include "syntax.h"

// Output bytes that hold stream data copied unchanged which cannot be read
// as text (images, filtered or binary data): the verification skips them.
struct UnscannedRange {
    int32_t start;
    int32_t len;
};

// A stream object the output gains (a form rewritten for some of its
// showings), numbered above the input's objects.
struct NewStream {
    int32_t num = 0;
    std::string dict;  // its dictionary text, without /Length
    Buf data;          // its content, unencoded
};

// What the redaction call decided, read by the writer.
struct OutputPlan {
    const DropMap *drop = nullptr;                   // objects left out
    const ReplacementTexts *replacements = nullptr;  // rewritten dictionaries
    const FormMap *forms = nullptr;                  // rewritten form contents
    const std::vector<int32_t> *page_changed = nullptr;  // per page index: 1 when painted
    const std::vector<int32_t> *new_content = nullptr;   // per page index: new content object
    const std::vector<Buf> *page_content = nullptr;      // per page index: rewritten content
    const std::vector<NewStream> *new_streams = nullptr;  // written when something names them
    // Per input object number: the new stream whose dictionary and data it
    // is written with instead of its own (0: none).
    const std::vector<int32_t> *aliases = nullptr;
    int32_t last_num = 0;  // highest object number of the output
    // The largest output accepted, in bytes: offsets are 32-bit. Tests lower it
    // to reach the size failure without building a 2 GiB file.
    int64_t max_size = INT32_MAX;
};

// Builds the whole output file and records its unscanned ranges. The output
// is read back to check that it keeps every page; that reading, which holds
// the output's bytes (written.data), is handed over for further checks.
// Returns 1, or 0 with g_err set and `written` empty (nothing is written to
// disk either way).
int build_output(const Doc &doc, const OutputPlan &plan, Doc &written,
                 std::vector<UnscannedRange> &unscanned);

// Writes `len` bytes to `output_path` through a temporary file beside it
// that is renamed into place once complete. Returns 1, or 0 with g_err set;
// a failure leaves whatever was at `output_path` untouched.
int write_output_file(const char *output_path, const unsigned char *bytes, int64_t len);

// Removes the file at `output_path`, unless it is the file `input_path` names.
void remove_output_file(const char *output_path, const char *input_path);

#endif
