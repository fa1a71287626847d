// Fuzz target: the inflate decoder on arbitrary input, with a capacity taken
// from the first input byte so that the output limit is exercised too.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "inflate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const uint64_t cap = uint64_t{data[0]} * 1024 + 7;
    std::vector<unsigned char> out(cap);
    uint64_t produced = 12345;
    const int rc = inflate_decompress(data + 1, size - 1, out.data(), cap, &produced);
    if (rc == 0 ? produced > cap : produced != 0) std::abort();
    return 0;
}
