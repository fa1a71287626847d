// Hidden information sanitising.
#include "sanitize.h"

void sanitize_hidden_info(const Doc &, DropMap &, ReplacementTexts &, int32_t) {}

void hide_covered_widgets(const Doc &, const Region *, int, const DropMap &, ReplacementTexts &,
                          int32_t) {}
