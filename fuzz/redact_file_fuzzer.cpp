// Fuzz target: a PDF file through a whole text redaction, a region
// redaction and a count. A written output must load again with the input's
// pages, the same objects in the same order.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "document.h"
#include "driver.h"

namespace {

// The page objects of a file, in order; {-1} when it does not load.
std::vector<int32_t> pages_of(const char *path) {
    Doc doc;
    std::vector<int32_t> pages{-1};
    if (doc_load(path, doc) == 0) {
        pages.clear();
        for (const PageRef &page : doc.pages) pages.push_back(page.num);
    }
    doc_free(doc);
    return pages;
}

// A written output keeps every page of the input.
void check_output(const char *input, const std::string &output, int rc) {
    if (rc == 1 && pages_of(output.c_str()) != pages_of(input)) std::abort();
    std::remove(output.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > (4u << 20)) return 0;
    char path[] = "/tmp/inkveil-file-fuzz-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return 0;
    const bool written = write(fd, data, size) == static_cast<ssize_t>(size);
    close(fd);
    if (written) {
        const std::string output = std::string(path) + ".out.pdf";
        check_output(path, output,
                     apply_redaction(path, output.c_str(), "secret", nullptr, 0, 0, 0, 0));
        const Region region{1, 50, 600, 300, 150};
        check_output(path, output,
                     apply_redaction(path, output.c_str(), nullptr, &region, 1, 255, 0, 0));
        if (count_matches(path, "e") < -1) std::abort();
    }
    std::remove(path);
    return 0;
}
