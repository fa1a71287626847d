// Page content assembly.
#include "content.h"

int get_page_content(const Doc &, const ObjEntry &, Buf &, std::vector<int32_t> &content_objs,
                     int, int32_t *) {
    content_objs.clear();
    return 0;
}

int obj_resources(const Doc &, const ObjEntry &, int32_t *res_obj, const unsigned char **text,
                  int32_t *, int32_t *) {
    *res_obj = 0;
    *text = nullptr;
    return 0;
}
