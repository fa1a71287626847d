// Residual-text verification: the finished output searched for the search
// text before anything is written.
#ifndef INKVEIL_VERIFY_H
#define INKVEIL_VERIFY_H

#include <cstdint>
#include <vector>

#include "writer.h"

// Returns 1 when no readable occurrence of `search` (ASCII case folded)
// survives in the output, else 0 with g_err naming where it was found.
int verify_output(const unsigned char *bytes, int32_t len, const char *search,
                  const std::vector<UnscannedRange> &unscanned);

#endif
