// Fuzz target: a PDF file through the loader, then every object through the
// dictionary helpers and every stream through the filter chain.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "document.h"
#include "filters.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > (8u << 20)) return 0;
    char path[] = "/tmp/inkveil-load-fuzz-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return 0;
    const bool written = write(fd, data, size) == static_cast<ssize_t>(size);
    close(fd);
    Doc doc;
    if (written && doc_load(path, doc) == 0) {
        for (const ObjEntry &entry : doc.objs) {
            DictText text = obj_dict_text(doc, entry);
            if (text) {
                strip_dict_entry(text.get(), "Contents");
                text = dict_append_before_close(std::move(text), " /Contents 1 0 R");
            }
            obj_type(doc.data.data(), doc.size, entry);
            obj_name_is(doc, entry, "Subtype", "Form");
            obj_ref_value(doc, entry, "Parent");
            Buf scratch;
            int32_t len = 0, failed = 0;
            const unsigned char *decoded = decode_stream_obj(entry, doc.data.data(), doc.size,
                                                             scratch, &len, "the stream", &failed);
            if (decoded == nullptr && len != 0) std::abort();
        }
        for (const PageRef &page : doc.pages)
            if (doc_find_obj(doc, page.num) == nullptr) std::abort();
    }
    doc_free(doc);
    std::remove(path);
    return 0;
}
