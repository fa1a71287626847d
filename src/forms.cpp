// Form XObject and appearance redaction.
#include "forms.h"

int32_t collect_xobjects(const Doc &, int32_t, const unsigned char *, int32_t, int32_t,
                         std::vector<int32_t> &) {
    return 0;
}

int32_t collect_refs_in_array(const Doc &, const ObjEntry &, std::vector<int32_t> &) { return 0; }

int redact_form_obj(const Doc &, int32_t, int, VisitMap &, FormMap &, const char *,
                    const Region *, int, int, int, int, int, FormTally &) {
    return 1;
}

int redact_page_forms(const Doc &, const ObjEntry &, int, VisitMap &, FormMap &, const char *,
                      const Region *, int, int, int, int, FormTally &) {
    return 1;
}
