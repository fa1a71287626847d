// Redaction driver: one redaction call from the paths to the written file,
// and the match count that runs its page and form passes alone.
#include "driver.h"

#include <cmath>
#include <new>
#include <vector>

#include "api.h"
#include "content.h"
#include "document.h"
#include "forms.h"
#include "redact.h"
#include "sanitize.h"
#include "verify.h"
#include "writer.h"

bool region_is_finite(const Region &region) {
    return std::isfinite(region.page) && std::isfinite(region.x) && std::isfinite(region.y) &&
           std::isfinite(region.width) && std::isfinite(region.height);
}

bool validate_regions(const Region *regions, int32_t region_count, int32_t page_count) {
    for (int32_t k = 0; k < region_count; ++k) {
        const Region &region = regions[k];
        if (!region_is_finite(region)) {
            set_error(kNonFiniteRegionMessage, static_cast<long>(k));
            return false;
        }
        // Compared as a float first: a page far outside the int range must not
        // be converted before it is known to be in range.
        const double page = std::trunc(static_cast<double>(region.page));
        if (page < 1 || page > page_count) {
            const int shown = page < INT32_MIN ? INT32_MIN
                              : page > INT32_MAX ? INT32_MAX
                                                 : static_cast<int>(page);
            set_error("page %d in regions[%ld] is out of range (document has %ld pages)", shown,
                      static_cast<long>(k), static_cast<long>(page_count));
            return false;
        }
        if (0 >= region.width || 0 >= region.height) {
            set_error("region %ld has invalid non-positive dimensions: %.2fx%.2f",
                      static_cast<long>(k), static_cast<double>(region.width),
                      static_cast<double>(region.height));
            return false;
        }
    }
    return true;
}

namespace {

// Releases the document on every way out of a call.
struct DocGuard {
    Doc doc;
    DocGuard() = default;
    DocGuard(const DocGuard &) = delete;
    DocGuard &operator=(const DocGuard &) = delete;
    ~DocGuard() { doc_free(doc); }
};

// What the call applies to every page and form.
struct RedactionArgs {
    const char *search;
    const Region *regions;
    int region_count;
    int red, green, blue;
};

// Loads the document and checks that it has pages. Returns false with g_err set.
bool load_with_pages(const char *input_path, Doc &doc) {
    if (doc_load(input_path, doc) != 0) return false;
    if (doc.pages.empty()) {
        set_error("PDF has no pages: %s", input_path);
        return false;
    }
    return true;
}

// Decodes page `index` and rewrites its content into `out`. Returns -1 when a
// content stream cannot be decoded or rewritten (g_err set), else whether a
// box was painted.
int redact_page(const Doc &doc, size_t index, const RedactionArgs &args, Buf &out,
                std::vector<int32_t> &content_objs, int *matches) {
    content_objs.clear();
    Buf content;
    const int page_num = static_cast<int>(index) + 1;
    const ObjEntry *page = doc_find_obj(doc, doc.pages[index].num);
    if (page != nullptr) {
        int32_t failed = 0;
        if (get_page_content(doc, *page, content, content_objs, page_num, &failed) < 0) return -1;
    }
    int painted = 0;
    // A page without content still goes through, so that a region on it is
    // painted. get_page_content keeps the joined content within 32-bit lengths.
    redact_page_content(content.data.get(), static_cast<int32_t>(content.len), out, args.search,
                        args.regions, args.region_count, page_num, args.red, args.green,
                        args.blue, &painted, matches);
    if (!painted) return 0;
    // The rewritten content holds the whole page: a shorter one means memory
    // ran out, and writing it would lose the rest of the page.
    if (!out.data || out.len < content.len) {
        set_error("out of memory rewriting the page %d content stream", page_num);
        return -1;
    }
    return 1;
}

// The form pass: the forms and annotation appearances that each page reaches,
// each examined once. Adds the matches found to *matches (optional).
int redact_all_forms(const Doc &doc, const RedactionArgs &args, VisitMap &visit_map,
                     FormMap &form_map, int64_t *matches) {
    for (size_t i = 0; i < doc.pages.size(); ++i) {
        const ObjEntry *page = doc_find_obj(doc, doc.pages[i].num);
        if (page == nullptr) continue;
        FormTally tally;
        if (redact_page_forms(doc, *page, static_cast<int>(i) + 1, visit_map, form_map,
                              args.search, args.regions, args.region_count, args.red,
                              args.green, args.blue, tally) < 0)
            return -1;
        if (matches != nullptr) *matches += tally.matches;
    }
    return 1;
}

// Leaves out the old content streams of the changed pages, except those that
// a page which did not change still shows.
void drop_old_content(const Doc &doc, const std::vector<std::vector<int32_t>> &content_objs,
                      const std::vector<int32_t> &page_changed, DropMap &drop) {
    const size_t slots = static_cast<size_t>(doc.max_obj_num) + 1;
    std::vector<unsigned char> still_shown(slots, 0);
    for (size_t i = 0; i < content_objs.size(); ++i)
        if (!page_changed[i])
            for (int32_t c : content_objs[i])
                if (c > 0 && static_cast<size_t>(c) < slots) still_shown[c] = 1;
    for (size_t i = 0; i < content_objs.size(); ++i)
        if (page_changed[i])
            for (int32_t c : content_objs[i])
                if (c > 0 && static_cast<size_t>(c) < slots && !still_shown[c]) drop[c] = 1;
}

}  // namespace

int apply_redaction(const char *input_path, const char *output_path, const char *search_text,
                    const Region *regions, int region_count, int red, int green, int blue) {
    if (input_path == nullptr || output_path == nullptr) {
        set_error("NULL path argument");
        return 0;
    }
    if (search_text != nullptr && search_text[0] == '\0') {
        set_error("search_text cannot be empty");
        return 0;
    }
    DocGuard guard;
    Doc &doc = guard.doc;
    if (!load_with_pages(input_path, doc)) return 0;
    const bool has_regions = regions != nullptr && region_count != 0;
    if (has_regions && !validate_regions(regions, region_count,
                                         static_cast<int32_t>(doc.pages.size())))
        return 0;
    if (!has_regions) {
        regions = nullptr;
        region_count = 0;
    }
    const RedactionArgs args{search_text, regions, region_count, red, green, blue};

    // Per-object tables, max_obj_num + 64 slots each.
    const int32_t table_size = doc.max_obj_num + 64;
    DropMap drop;
    ReplacementTexts replacements;
    FormMap form_map;
    VisitMap visit_map;
    try {
        drop.assign(static_cast<size_t>(table_size), 0);
        replacements.resize(static_cast<size_t>(table_size));
        form_map.resize(static_cast<size_t>(table_size));
        visit_map.assign(static_cast<size_t>(table_size), 0);
    } catch (const std::bad_alloc &) {
        set_error("out of memory allocating drop map");
        return 0;
    }

    // Page pass. Rewritten content is kept only for the pages that changed.
    const size_t page_count = doc.pages.size();
    std::vector<Buf> page_content(page_count);
    std::vector<int32_t> page_changed(page_count, 0);
    std::vector<std::vector<int32_t>> content_objs(page_count);
    for (size_t i = 0; i < page_count; ++i) {
        const int painted = redact_page(doc, i, args, page_content[i], content_objs[i], nullptr);
        if (painted < 0) return 0;
        if (painted) {
            page_changed[i] = 1;
            buf_shrink_to_fit(page_content[i]);
        } else {
            page_content[i] = Buf{};
        }
    }
    drop_old_content(doc, content_objs, page_changed, drop);

    if (search_text != nullptr || has_regions) {
        if (redact_all_forms(doc, args, visit_map, form_map, nullptr) < 0) return 0;
    }

    sanitize_hidden_info(doc, drop, replacements, table_size);
    if (has_regions) hide_covered_widgets(doc, regions, region_count, drop, replacements, table_size);

    // The new content streams take the numbers after the input's highest, in
    // page order.
    std::vector<int32_t> new_content(page_count, 0);
    int32_t last_num = doc.max_obj_num;
    for (size_t i = 0; i < page_count; ++i)
        if (page_changed[i]) new_content[i] = ++last_num;

    OutputPlan plan;
    plan.drop = &drop;
    plan.replacements = &replacements;
    plan.forms = &form_map;
    plan.page_changed = &page_changed;
    plan.new_content = &new_content;
    plan.page_content = &page_content;
    plan.last_num = last_num;
    Buf out;
    std::vector<UnscannedRange> unscanned;
    if (!build_output(doc, plan, out, unscanned)) return 0;

    if (search_text != nullptr &&
        !verify_output(out.data.get(), static_cast<int32_t>(out.len), search_text, unscanned)) {
        remove_output_file(output_path, input_path);
        return 0;
    }
    if (!write_output_file(output_path, out.data.get(), static_cast<int64_t>(out.len))) return 0;
    clear_error();
    return 1;
}

int count_matches(const char *input_path, const char *search_text) {
    DocGuard guard;
    Doc &doc = guard.doc;
    if (!load_with_pages(input_path, doc)) return -1;
    const RedactionArgs args{search_text, nullptr, 0, 0, 0, 0};

    int64_t total = 0;
    std::vector<int32_t> content_objs;
    for (size_t i = 0; i < doc.pages.size(); ++i) {
        Buf scratch;  // the rewritten content is not needed
        int matches = 0;
        if (redact_page(doc, i, args, scratch, content_objs, &matches) < 0) return -1;
        total += matches;
    }

    VisitMap visit_map;
    FormMap form_map;
    const size_t table_size = static_cast<size_t>(doc.max_obj_num) + 64;
    try {
        visit_map.assign(table_size, 0);
        form_map.resize(table_size);
    } catch (const std::bad_alloc &) {
        set_error("out of memory allocating form map");
        return -1;
    }
    if (redact_all_forms(doc, args, visit_map, form_map, &total) < 0) return -1;
    clear_error();
    return total > INT32_MAX ? INT32_MAX : static_cast<int>(total);
}
