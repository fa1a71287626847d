// Benchmarks of the hot paths, each verifying what it timed: the inflate
// decoder beside zlib as a control, the content redaction engine, and image
// pixel redaction.
#include <benchmark/benchmark.h>
#include <turbojpeg.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../tests/pdf_builder.h"
#include "document.h"
#include "driver.h"
#include "image.h"
#include "inflate.h"
#include "inkveil.h"
#include "redact.h"

namespace {

// Content-stream-like text, 4 MiB.
std::string sample_text() {
    std::string text;
    for (int i = 0; text.size() < (4u << 20); ++i)
        text += "BT /F1 12 Tf 72 " + std::to_string(700 - i % 600) +
                " Td (Line " + std::to_string(i) + " of the quarterly statement) Tj ET\n";
    return text;
}

std::vector<unsigned char> compressed(const std::string &text) {
    uLongf size = compressBound(text.size());
    std::vector<unsigned char> out(size);
    compress2(out.data(), &size, reinterpret_cast<const Bytef *>(text.data()), text.size(), 6);
    out.resize(size);
    return out;
}

void BM_InflateOurs(benchmark::State &state) {
    const std::string text = sample_text();
    const std::vector<unsigned char> packed = compressed(text);
    std::vector<unsigned char> out(text.size());
    for (auto _ : state) {
        uint64_t produced = 0;
        if (inflate_decompress(packed.data(), packed.size(), out.data(), out.size(), &produced) != 0 ||
            produced != text.size() || std::memcmp(out.data(), text.data(), text.size()) != 0) {
            state.SkipWithError("round trip failed");
            return;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_InflateOurs)->Unit(benchmark::kMillisecond);

void BM_InflateZlib(benchmark::State &state) {
    const std::string text = sample_text();
    const std::vector<unsigned char> packed = compressed(text);
    std::vector<unsigned char> out(text.size());
    for (auto _ : state) {
        uLongf produced = out.size();
        if (uncompress(out.data(), &produced, packed.data(), packed.size()) != Z_OK ||
            produced != text.size() || std::memcmp(out.data(), text.data(), text.size()) != 0) {
            state.SkipWithError("round trip failed");
            return;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_InflateZlib)->Unit(benchmark::kMillisecond);

// One 4 MiB content stream in text mode (arg 0) or region mode (arg 1).
void BM_RedactContent(benchmark::State &state) {
    const std::string text = sample_text();
    const Region region = {1, 0, 300, 612, 100};
    const bool regions = state.range(0) == 1;
    SearchSet search;
    search_set_add(search, "quarterly");
    search_set_build(search);
    RedactJob job;
    job.search = regions ? nullptr : &search;
    job.regions = regions ? &region : nullptr;
    job.region_count = regions ? 1 : 0;
    Doc doc;
    FontCache fonts;
    const PdfObj no_resources;
    const ContentContext ctx{doc, fonts, no_resources};
    int expected = -1;
    for (auto _ : state) {
        state.PauseTiming();
        std::string content = text;
        Buf out;
        state.ResumeTiming();
        int painted = 0, matches = 0;
        redact_content(ctx, reinterpret_cast<unsigned char *>(content.data()),
                       static_cast<int32_t>(content.size()), job, Placement{}, out, &painted,
                       &matches);
        if (!out.data || out.len <= text.size() || painted != 1 ||
            (expected >= 0 && matches != expected)) {
            state.SkipWithError("redaction result changed");
            return;
        }
        expected = matches;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_RedactContent)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A whole file: `pages` pages, each with a compressed content stream of about
// 3 KB of text (the search word once per page) and a compressed form that
// each page draws (the word once more in every tenth form).
std::string sample_file(int pages) {
    pdftest::PdfBuilder pdf;
    std::string kids;
    for (int i = 0; i < pages; ++i) kids += std::to_string(3 + 3 * i) + " 0 R ";
    pdf.obj(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .obj(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
    for (int i = 0; i < pages; ++i) {
        const int page = 3 + 3 * i;
        std::string content = "BT /F1 10 Tf 12 TL 72 760 Td\n";
        for (int line = 0; line < 60; ++line)
            content += line == 30 ? "(the quarterly figures are final) '\n"
                                  : "(an ordinary line of body text here) '\n";
        content += "ET /Fm0 Do\n";
        const std::string form = i % 10 == 0 ? "BT /F1 8 Tf 72 40 Td (quarterly) Tj ET"
                                             : "BT /F1 8 Tf 72 40 Td (page footer) Tj ET";
        pdf.obj(page, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents " +
                          std::to_string(page + 1) + " 0 R /Resources << /Font << /F1 << "
                          "/Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >> /XObject << "
                          "/Fm0 " + std::to_string(page + 2) + " 0 R >> >> >>")
            .stream(page + 1, "", content, true)
            .stream(page + 2, "/Type /XObject /Subtype /Form /BBox [0 0 612 792]", form, true);
    }
    pdf.xref_table("/Root 1 0 R");
    return pdf.bytes();
}

// A 500-page file from the file to the written output: text mode (arg 0),
// region mode (arg 1), and counting (arg 2).
void BM_RedactFile(benchmark::State &state) {
    constexpr int kPages = 500;
    const std::string bytes = sample_file(kPages);
    const pdftest::TempFile input(bytes);
    const std::string output = input.path + ".out.pdf";
    const Region region = {1, 0, 300, 612, 100};
    for (auto _ : state) {
        int ok = 0;
        switch (state.range(0)) {
        case 0: ok = apply_redaction(input.c_str(), output.c_str(), "quarterly", nullptr, 0, 0, 0, 0); break;
        case 1: ok = apply_redaction(input.c_str(), output.c_str(), nullptr, &region, 1, 0, 0, 0); break;
        default: ok = count_matches(input.c_str(), "quarterly") == kPages + kPages / 10; break;
        }
        if (!ok) {
            state.SkipWithError("the redaction failed or its result changed");
            return;
        }
    }
    std::remove(output.c_str());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_RedactFile)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// The same file redacted in one job for one search text, or for twenty: the
// one, two more that the file holds and seventeen names and numbers that it
// does not. Twenty terms cost little more than one.
void BM_RedactTerms(benchmark::State &state) {
    constexpr int kPages = 500;
    const std::string bytes = sample_file(kPages);
    const pdftest::TempFile input(bytes);
    const std::string output = input.path + ".out.pdf";
    const char *const terms[] = {
        "quarterly", "figures", "footer", "Jane Example", "John Q. Public", "Erika Mustermann",
        "4929 1234 5678 9012", "078-05-1120", "Flat 3, 14 Harbour Road", "jane@example.com",
        "+44 20 7946 0958", "Max Mustermann", "Juan Perez", "Ola Nordmann", "Mario Rossi",
        "AB123456C", "DE89 3704 0044 0532 0130 00", "Kari Nordmann", "Tommy Atkins", "Fred Nurk"};
    const int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        inkveil_job *job = inkveil_job_new();
        inkveil_job_set_input(job, input.c_str());
        inkveil_job_set_output(job, output.c_str());
        for (int t = 0; t < count; ++t) inkveil_job_add_text(job, terms[t]);
        const bool ok = inkveil_job_run(job) == 1 &&
                        inkveil_job_matches(job, 0) == kPages + kPages / 10 &&
                        (count == 1 || inkveil_job_matches(job, 1) == kPages);
        inkveil_job_free(job);
        if (!ok) {
            state.SkipWithError("the redaction failed or its result changed");
            return;
        }
    }
    std::remove(output.c_str());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_RedactTerms)->Arg(1)->Arg(20)->Unit(benchmark::kMillisecond);

// A scanned letter page at 300 dpi: 2,500 x 3,300 RGB pixels, paper with
// some grain and lines of dark "text".
constexpr int kScanWidth = 2500, kScanHeight = 3300;

std::vector<unsigned char> scanned_page() {
    std::vector<unsigned char> pixels(size_t(kScanWidth) * kScanHeight * 3);
    uint32_t noise = 12345;
    for (int y = 0; y < kScanHeight; ++y) {
        const bool text_line = y > 300 && y < 3000 && (y / 25) % 2 == 0;
        for (int x = 0; x < kScanWidth; ++x) {
            noise = noise * 1103515245u + 12345u;
            const bool ink = text_line && x > 250 && x < 2250 && ((noise >> 16) % 5 < 2);
            const unsigned char v = static_cast<unsigned char>(ink ? 30 + (noise >> 27) : 235 + (noise >> 28));
            for (int c = 0; c < 3; ++c) pixels[(size_t(y) * kScanWidth + x) * 3 + c] = v;
        }
    }
    return pixels;
}

// One box over a name near the top of the page.
const std::vector<ImageQuad> kScanBox = {{{0.1, 0.4, 0.4, 0.1}, {0.80, 0.80, 0.82, 0.82}}};
const uint8_t kBlack[3] = {0, 0, 0};

// The page as a 4:2:0 JPEG of quality 80 (arg 0) or as Flate data (arg 1).
void BM_RedactImage(benchmark::State &state) {
    const std::vector<unsigned char> pixels = scanned_page();
    const bool jpeg = state.range(0) == 0;
    std::vector<unsigned char> data;
    ImageSpec spec;
    spec.width = kScanWidth;
    spec.height = kScanHeight;
    spec.components = 3;
    spec.space = ImageSpec::Space::kRGB;
    if (jpeg) {
        tjhandle handle = tjInitCompress();
        unsigned char *out = nullptr;
        unsigned long size = 0;
        tjCompress2(handle, pixels.data(), kScanWidth, 0, kScanHeight, TJPF_RGB, &out, &size,
                    TJSAMP_420, 80, 0);
        data.assign(out, out + size);
        tjFree(out);
        tjDestroy(handle);
        spec.filters = {"DCTDecode"};
    } else {
        uLongf size = compressBound(pixels.size());
        data.resize(size);
        compress2(data.data(), &size, pixels.data(), pixels.size(), 6);
        data.resize(size);
        spec.filters = {"FlateDecode"};
        spec.parms.resize(1);
    }
    ImageEdit edit;
    for (auto _ : state) {
        if (image_redact(spec, data.data(), data.size(), kScanBox, ImageFill::kColour, kBlack, edit,
                         nullptr) != ImageStatus::kChanged) {
            state.SkipWithError("the image was not rewritten");
            return;
        }
    }
    // The last result: black under the box, the page elsewhere.
    std::vector<unsigned char> decoded(pixels.size());
    bool ok = false;
    if (jpeg) {
        tjhandle handle = tjInitDecompress();
        ok = tjDecompress2(handle, edit.data.data(), edit.data.size(), decoded.data(), kScanWidth,
                           0, kScanHeight, TJPF_RGB, 0) == 0;
        tjDestroy(handle);
    } else {
        uLongf size = decoded.size();
        ok = uncompress(decoded.data(), &size, edit.data.data(), edit.data.size()) == Z_OK &&
             size == decoded.size() &&
             std::memcmp(decoded.data() + 3000 * kScanWidth * 3, pixels.data() + 3000 * kScanWidth * 3,
                         size_t(kScanWidth) * 3) == 0;
    }
    const size_t under_box = (size_t(620) * kScanWidth + 600) * 3;
    if (!ok || decoded[under_box] > 4 || decoded[under_box + 1] > 4 || decoded[under_box + 2] > 4)
        state.SkipWithError("the rewritten image is wrong");
    state.counters["input_bytes"] = static_cast<double>(data.size());
    state.counters["output_bytes"] = static_cast<double>(edit.data.size());
}
BENCHMARK(BM_RedactImage)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
