// Benchmarks of the hot paths, each verifying what it timed: the inflate
// decoder beside zlib as a control, and the content redaction engine.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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

}  // namespace

BENCHMARK_MAIN();
