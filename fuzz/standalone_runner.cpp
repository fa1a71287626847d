// Runs a fuzz target without libFuzzer: each argument is a file, or a folder
// whose files are run. With "--mutate N SEED" each input is also run N times
// with random byte flips, insertions and deletions, which finds the plain
// crashes in a sanitizer build.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

std::vector<uint8_t> read_file(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void run(const std::vector<uint8_t> &input, long mutations, std::mt19937 &rng) {
    LLVMFuzzerTestOneInput(input.data(), input.size());
    for (long i = 0; i < mutations; ++i) {
        std::vector<uint8_t> m = input;
        const int edits = 1 + static_cast<int>(rng() % 8);
        for (int e = 0; e < edits; ++e) {
            const size_t at = m.empty() ? 0 : rng() % m.size();
            switch (rng() % 3) {
                case 0:
                    if (!m.empty()) m[at] = static_cast<uint8_t>(rng());
                    break;
                case 1: m.insert(m.begin() + static_cast<long>(at), static_cast<uint8_t>(rng())); break;
                default:
                    if (!m.empty()) m.erase(m.begin() + static_cast<long>(at));
                    break;
            }
        }
        LLVMFuzzerTestOneInput(m.data(), m.size());
    }
}

}  // namespace

int main(int argc, char **argv) {
    long mutations = 0;
    std::mt19937 rng(1);
    int runs = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--mutate") == 0 && i + 2 < argc) {
            mutations = std::atol(argv[i + 1]);
            rng.seed(static_cast<unsigned>(std::atol(argv[i + 2])));
            i += 2;
            continue;
        }
        const std::filesystem::path path(argv[i]);
        if (std::filesystem::is_directory(path)) {
            for (const auto &entry : std::filesystem::directory_iterator(path)) {
                if (!entry.is_regular_file()) continue;
                run(read_file(entry.path()), mutations, rng);
                ++runs;
            }
        } else {
            run(read_file(path), mutations, rng);
            ++runs;
        }
    }
    std::printf("ran %d inputs\n", runs);
    return runs > 0 ? 0 : 1;
}
