// A small builder of PDF files for tests, so that a fixture states its point
// in a few lines:
//
//   PdfBuilder pdf;
//   pdf.pages(2)                                   // catalog 1, page tree 2, pages 3 and 4
//      .stream(5, "", "BT /F1 12 Tf (Hi) Tj ET")
//      .xref_table("/Root 1 0 R");
//   TempFile file = pdf.file();                    // file.path, removed when it goes away
//
// Objects are written in the order they are added. xref_table() and
// xref_stream() end a section with its cross-reference data and trailer; what
// is added after them forms an incremental update whose cross-reference data
// points back with /Prev. object_stream() packs objects into a compressed
// object stream and lists them as compressed entries of an xref stream.
// raw() appends bytes verbatim for fixtures that must be malformed.
#ifndef INKVEIL_TESTS_PDF_BUILDER_H
#define INKVEIL_TESTS_PDF_BUILDER_H

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace pdftest {

// zlib-wrapped DEFLATE data, as /FlateDecode expects it.
inline std::string zlib_compress(const std::string &data, int level = Z_BEST_COMPRESSION) {
    uLongf len = compressBound(static_cast<uLong>(data.size()));
    std::string out(len, '\0');
    if (compress2(reinterpret_cast<Bytef *>(out.data()), &len,
                  reinterpret_cast<const Bytef *>(data.data()), static_cast<uLong>(data.size()),
                  level) != Z_OK)
        throw std::runtime_error("zlib compress2 failed");
    out.resize(len);
    return out;
}

// The bytes of the file at `path` (empty when it cannot be read).
inline std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A file in the temporary directory holding the given bytes, removed when the
// TempFile goes away.
struct TempFile {
    std::string path;

    explicit TempFile(const std::string &bytes) {
        const char *dir = std::getenv("TMPDIR");
        std::string templ =
            std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/inkveil_test_XXXXXX";
        const int fd = mkstemp(templ.data());
        if (fd < 0) throw std::runtime_error("mkstemp failed");
        path = templ;
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
            if (n <= 0) {
                close(fd);
                throw std::runtime_error("write to temp file failed");
            }
            done += static_cast<size_t>(n);
        }
        close(fd);
    }
    ~TempFile() {
        if (!path.empty()) std::remove(path.c_str());
    }
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    TempFile(TempFile &&other) noexcept : path(std::move(other.path)) { other.path.clear(); }
    TempFile &operator=(TempFile &&other) noexcept {
        if (this != &other) {
            if (!path.empty()) std::remove(path.c_str());
            path = std::move(other.path);
            other.path.clear();
        }
        return *this;
    }
    const char *c_str() const { return path.c_str(); }
};

inline bool file_exists(const std::string &path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

// A fresh temporary path with no file at it yet; whatever is written there is
// removed when it goes away.
inline TempFile free_path() {
    TempFile file("");
    std::remove(file.c_str());
    return file;
}

struct PdfBuilder {
    // One cross-reference entry of the current section.
    struct Entry {
        int num;
        int gen;
        long offset;    // direct objects: byte offset of the header
        int container;  // members: number of the object stream, else 0
        int index;      // members: position in that stream
    };

    std::string out;
    std::vector<Entry> section;  // objects added since the last cross-reference data
    long prev_xref = -1;         // offset of the previous section's cross-reference data
    int next_size = 1;           // highest object number so far + 1

    explicit PdfBuilder(std::string header = "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n")
        : out(std::move(header)) {}

    long offset() const { return static_cast<long>(out.size()); }
    std::string bytes() const { return out; }
    TempFile file() const { return TempFile(out); }

    // Appends bytes exactly as given.
    PdfBuilder &raw(const std::string &text) {
        out += text;
        return *this;
    }

    // "num gen obj\n<value>\nendobj\n", e.g. obj(1, "<< /Type /Catalog /Pages 2 0 R >>").
    PdfBuilder &obj(int num, const std::string &value, int gen = 0) {
        note_direct(num, gen);
        out += std::to_string(num) + " " + std::to_string(gen) + " obj\n" + value + "\nendobj\n";
        return *this;
    }

    // A stream object: "<< entries /Length n >>" (plus /Filter /FlateDecode when
    // compressed), then the data between "stream" and "endstream".
    PdfBuilder &stream(int num, const std::string &entries, const std::string &data,
                       bool compress = false) {
        const std::string body = compress ? zlib_compress(data) : data;
        std::string dict = "<<";
        if (!entries.empty()) dict += " " + entries;
        if (compress) dict += " /Filter /FlateDecode";
        dict += " /Length " + std::to_string(body.size()) + " >>";
        note_direct(num, 0);
        out +=
            std::to_string(num) + " 0 obj\n" + dict + "\nstream\n" + body + "\nendstream\nendobj\n";
        return *this;
    }

    // An object stream `num` holding the members (number, value text), zlib
    // compressed unless `compress` is false. `entries` adds dictionary entries.
    PdfBuilder &object_stream(int num, const std::vector<std::pair<int, std::string>> &members,
                              bool compress = true, const std::string &entries = "") {
        std::string head, body;
        for (const auto &m : members) {
            head += std::to_string(m.first) + " " + std::to_string(body.size()) + " ";
            body += m.second + "\n";
        }
        head += "\n";
        std::string dict = "/Type /ObjStm /N " + std::to_string(members.size()) + " /First " +
                           std::to_string(head.size());
        if (!entries.empty()) dict += " " + entries;
        stream(num, dict, head + body, compress);
        for (size_t i = 0; i < members.size(); ++i) {
            section.push_back({members[i].first, 0, 0, num, static_cast<int>(i)});
            next_size = std::max(next_size, members[i].first + 1);
        }
        return *this;
    }

    // A catalog (object 1), a page tree node (object 2) and `count` pages
    // numbered from 3, each with a letter-size /MediaBox.
    PdfBuilder &pages(int count) {
        obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
        std::string kids;
        for (int i = 0; i < count; ++i) kids += std::to_string(3 + i) + " 0 R ";
        obj(2, "<< /Type /Pages /Kids [ " + kids + "] /Count " + std::to_string(count) + " >>");
        for (int i = 0; i < count; ++i)
            obj(3 + i, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>");
        return *this;
    }

    // Ends the section with a classic cross-reference table and a trailer
    // holding /Size, /Prev when there is an earlier section, and `entries`
    // (e.g. "/Root 1 0 R /Info 9 0 R"). Members of object streams cannot be
    // listed in a classic table and are left out.
    PdfBuilder &xref_table(const std::string &entries) {
        std::vector<Entry> direct;
        for (const Entry &e : section)
            if (e.container == 0) direct.push_back(e);
        const long at = offset();
        out += "xref\n";
        if (prev_xref < 0) out += "0 1\n0000000000 65535 f \n";
        for (const auto &run : runs(direct)) {
            out += std::to_string(run.front().num) + " " + std::to_string(run.size()) + "\n";
            for (const Entry &e : run) {
                char line[32];
                std::snprintf(line, sizeof line, "%010ld %05d n \n", e.offset, e.gen);
                out += line;
            }
        }
        out += "trailer\n<< /Size " + std::to_string(next_size);
        if (prev_xref >= 0) out += " /Prev " + std::to_string(prev_xref);
        if (!entries.empty()) out += " " + entries;
        out += " >>\n";
        end_section(at);
        return *this;
    }

    // Ends the section with a cross-reference stream, object `num`, listing the
    // section's objects (members as compressed entries) and itself; `entries`
    // as for xref_table.
    PdfBuilder &xref_stream(int num, const std::string &entries) {
        const long at = offset();
        section.push_back({num, 0, at, 0, 0});
        next_size = std::max(next_size, num + 1);
        std::vector<Entry> listed = section;
        if (prev_xref < 0) listed.push_back({0, 65535, 0, 0, 0});
        std::string rows, index;
        for (const auto &run : runs(listed)) {
            index += std::to_string(run.front().num) + " " + std::to_string(run.size()) + " ";
            for (const Entry &e : run) {
                int type = 1;
                long field2 = e.offset;
                int field3 = e.gen;
                if (e.num == 0) {
                    type = 0;
                    field2 = 0;
                    field3 = 65535;
                } else if (e.container != 0) {
                    type = 2;
                    field2 = e.container;
                    field3 = e.index;
                }
                rows += static_cast<char>(type);
                for (int shift = 24; shift >= 0; shift -= 8)
                    rows += static_cast<char>((field2 >> shift) & 0xff);
                rows += static_cast<char>((field3 >> 8) & 0xff);
                rows += static_cast<char>(field3 & 0xff);
            }
        }
        std::string dict = "/Type /XRef /Size " + std::to_string(next_size) +
                           " /W [1 4 2] /Index [ " + index + "]";
        if (prev_xref >= 0) dict += " /Prev " + std::to_string(prev_xref);
        if (!entries.empty()) dict += " " + entries;
        section.pop_back();  // stream() lists it again
        stream(num, dict, rows, true);
        end_section(at);
        return *this;
    }

   private:
    void note_direct(int num, int gen) {
        section.push_back({num, gen, offset(), 0, 0});
        next_size = std::max(next_size, num + 1);
    }

    void end_section(long at) {
        out += "startxref\n" + std::to_string(at) + "\n%%EOF\n";
        prev_xref = at;
        section.clear();
    }

    // The entries sorted by number (the last definition of a number wins),
    // grouped into runs of consecutive numbers.
    static std::vector<std::vector<Entry>> runs(std::vector<Entry> entries) {
        std::stable_sort(entries.begin(), entries.end(),
                         [](const Entry &a, const Entry &b) { return a.num < b.num; });
        std::vector<Entry> unique;
        for (const Entry &e : entries) {
            if (!unique.empty() && unique.back().num == e.num)
                unique.back() = e;
            else
                unique.push_back(e);
        }
        std::vector<std::vector<Entry>> out;
        for (const Entry &e : unique) {
            if (out.empty() || out.back().back().num + 1 != e.num) out.emplace_back();
            out.back().push_back(e);
        }
        return out;
    }
};

// A catalog (object 1) whose page tree is a chain of `depth` /Pages nodes,
// numbered from 100 on, that ends at page 3, which the caller adds with
// /Parent (99 + depth).
inline void page_chain(PdfBuilder &pdf, int depth) {
    pdf.obj(1, "<< /Type /Catalog /Pages 100 0 R >>");
    for (int d = 0; d < depth; ++d)
        pdf.obj(100 + d, "<< /Type /Pages /Kids [" + std::to_string(d + 1 < depth ? 101 + d : 3) +
                             " 0 R] /Count 1 >>");
}

}  // namespace pdftest

#endif
