// Benchmarks of the hot paths, each verifying what it timed: the inflate
// decoder beside zlib as a control, and the content redaction engine.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../tests/pdf_builder.h"
#include "driver.h"
#include "inflate.h"
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
    int expected = -1;
    for (auto _ : state) {
        state.PauseTiming();
        std::string content = text;
        Buf out;
        state.ResumeTiming();
        int painted = 0, matches = 0;
        redact_page_content(reinterpret_cast<unsigned char *>(content.data()),
                            static_cast<int32_t>(content.size()), out, regions ? nullptr : "quarterly",
                            regions ? &region : nullptr, regions ? 1 : 0, 1, 0, 0, 0, &painted, &matches);
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

}  // namespace

BENCHMARK_MAIN();
