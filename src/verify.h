// Residual-text verification: the finished output searched for the search
// text before anything is written.
#ifndef INKVEIL_VERIFY_H
#define INKVEIL_VERIFY_H

#include <cstdint>
#include <string>
#include <vector>

#include "writer.h"

// Returns 1 when no readable occurrence of `search` (ASCII case folded)
// survives in the output, else 0 with g_err naming where it was found.
int verify_output(const unsigned char *bytes, int32_t len, const char *search,
                  const std::vector<UnscannedRange> &unscanned);

// The same check for every term at once, in one scan of the output (an
// automaton over the ASCII-folded bytes). The verdict and the message are
// those of verify_output for the first term, in the order given, that it
// would refuse; 1 when it refuses none.
int verify_output_terms(const unsigned char *bytes, int32_t len,
                        const std::vector<std::string> &terms,
                        const std::vector<UnscannedRange> &unscanned);

#endif
