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
#include "walk.h"
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

// Loads the document and checks that it has pages. Returns false with g_err set.
bool load_with_pages(const char *input_path, Doc &doc) {
    if (doc_load(input_path, doc) != 0) return false;
    if (doc.pages.empty()) {
        set_error("PDF has no pages: %s", input_path);
        return false;
    }
    return true;
}

// The search text ready for matching. False with g_err set when nothing
// searchable is left of it.
bool make_search(const char *search_text, SearchSet &search) {
    if (!search_set_add(search, search_text)) {
        set_error("search_text cannot be empty");
        return false;
    }
    search_set_build(search);
    return true;
}

// Pages whose Do operators now name copies of forms get a dictionary with
// those names in their /Resources.
bool set_page_resources(const Doc &doc, const WalkResult &walk, ReplacementTexts &replacements) {
    for (size_t i = 0; i < walk.page_resources.size(); ++i) {
        const std::string &resources = walk.page_resources[i];
        if (resources.empty()) continue;
        const int32_t num = doc.pages[i].num;
        const ObjEntry *entry = doc_find_obj(doc, num);
        if (entry == nullptr || static_cast<size_t>(num) >= replacements.size()) continue;
        DictText text = replacements[static_cast<size_t>(num)]
                            ? copy_text(replacements[static_cast<size_t>(num)].get())
                            : obj_dict_text(doc, *entry);
        if (!text) text = copy_text("<< /Type /Page >>");
        if (!text) return false;
        strip_dict_entries(text.get(), "Resources");
        const std::string insert = " /Resources " + resources;
        const char *old = text.get();
        text = dict_append_before_close(std::move(text), insert.c_str());
        if (text.get() == old) return false;
        replacements[static_cast<size_t>(num)] = std::move(text);
    }
    return true;
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

// The finished output, as the writer read it back, checked as a reader
// would read it: what the redaction rewrote is decoded and searched with the
// same matcher that redacted it. False with g_err naming where a search text
// survives.
bool verify_as_read(const Doc &output, const RedactJob &job, const WalkResult &walk,
                    const std::vector<int32_t> &new_content) {
    return verify_rewritten(output, job, walk, new_content) > 0;
}

}  // namespace

int run_job(const JobParams &params, JobReport &report) {
    report = JobReport{};
    if (params.input_path == nullptr) {
        set_error("NULL path argument");
        return 0;
    }
    SearchSet search;
    for (const std::string &term : params.terms) {
        if (term.empty() || !search_set_add(search, term.c_str())) {
            set_error("search_text cannot be empty");
            return 0;
        }
    }
    search_set_build(search);
    const char *input_path = params.input_path;
    const char *output_path = params.output_path;
    DocGuard guard;
    Doc &doc = guard.doc;
    if (!load_with_pages(input_path, doc)) return 0;
    const Region *regions = params.regions.empty() ? nullptr : params.regions.data();
    const int region_count = static_cast<int>(params.regions.size());
    const bool has_regions = regions != nullptr;
    if (has_regions && !validate_regions(regions, region_count, static_cast<int32_t>(doc.pages.size())))
        return 0;
    RedactJob job;
    job.search = search.patterns.empty() ? nullptr : &search;
    job.regions = regions;
    job.region_count = region_count;
    job.red = params.red;
    job.green = params.green;
    job.blue = params.blue;

    // Per-object tables, max_obj_num + 64 slots each.
    const int32_t table_size = doc.max_obj_num + 64;
    DropMap drop;
    ReplacementTexts replacements;
    try {
        drop.assign(static_cast<size_t>(table_size), 0);
        replacements.resize(static_cast<size_t>(table_size));
    } catch (const std::bad_alloc &) {
        set_error("out of memory allocating drop map");
        return 0;
    }

    WalkResult walk;
    if (walk_document(doc, job, WalkMode::kRedact, doc.max_obj_num, walk) < 0) return 0;
    drop_old_content(doc, walk.content_objs, walk.page_changed, drop);
    std::vector<int32_t> aliases(static_cast<size_t>(doc.max_obj_num) + 1, 0);
    for (const auto &[original, copy] : walk.replaced_originals)
        if (original > 0 && static_cast<size_t>(original) < aliases.size()) aliases[static_cast<size_t>(original)] = copy;
    if (!set_page_resources(doc, walk, replacements)) {
        set_error("out of memory building the output file");
        return 0;
    }

    // Named property lists whose glyphs went lose their alternate text.
    for (const int32_t num : walk.props_objects) {
        if (num <= 0 || num > doc.max_obj_num) continue;
        const std::string text = blanked_property_list(doc, num);
        if (!text.empty()) replacements[static_cast<size_t>(num)] = copy_text(text.c_str());
    }

    sanitize_hidden_info(doc, drop, replacements, table_size);
    if (has_regions) hide_covered_widgets(doc, regions, region_count, drop, replacements, table_size);

    // The copies of forms come first after the input's highest number, then
    // the new content streams, in page order.
    const size_t page_count = doc.pages.size();
    int32_t last_num = doc.max_obj_num + static_cast<int32_t>(walk.new_streams.size());
    std::vector<int32_t> new_content(page_count, 0);
    for (size_t i = 0; i < page_count; ++i)
        if (walk.page_changed[i]) new_content[i] = ++last_num;

    OutputPlan plan;
    plan.drop = &drop;
    plan.aliases = &aliases;
    plan.replacements = &replacements;
    plan.forms = &walk.forms;
    plan.page_changed = &walk.page_changed;
    plan.new_content = &new_content;
    plan.page_content = &walk.page_content;
    plan.new_streams = &walk.new_streams;
    plan.last_num = last_num;
    std::vector<UnscannedRange> unscanned;
    DocGuard readback;
    if (!build_output(doc, plan, readback.doc, unscanned)) return 0;
    // The read-back document holds the output's bytes: the checks and the
    // write use them, and what went into the output is let go.
    walk.page_content = std::vector<Buf>();
    walk.new_streams = std::vector<NewStream>();
    const std::vector<unsigned char> &written = readback.doc.data;

    bool clean = verify_output_terms(written.data(), static_cast<int32_t>(written.size()), params.terms,
                                     unscanned) != 0;
    if (clean && job.search != nullptr) clean = verify_as_read(readback.doc, job, walk, new_content);
    if (!clean) {
        if (output_path != nullptr) remove_output_file(output_path, input_path);
        return 0;
    }
    if (output_path != nullptr &&
        !write_output_file(output_path, written.data(), static_cast<int64_t>(written.size())))
        return 0;
    report.term_matches = walk.term_matches;
    for (const PaintedBox &b : walk.boxes)
        report.boxes.push_back({b.page, b.box.x0, b.box.y0, b.box.x1, b.box.y1, b.cause});
    clear_error();
    return 1;
}

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
    JobParams params;
    params.input_path = input_path;
    params.output_path = output_path;
    if (search_text != nullptr) params.terms.emplace_back(search_text);
    if (regions != nullptr && region_count > 0) params.regions.assign(regions, regions + region_count);
    params.red = red;
    params.green = green;
    params.blue = blue;
    JobReport report;
    return run_job(params, report);
}

int count_matches(const char *input_path, const char *search_text) {
    DocGuard guard;
    Doc &doc = guard.doc;
    if (!load_with_pages(input_path, doc)) return -1;
    SearchSet search;
    if (!make_search(search_text, search)) return -1;
    RedactJob job;
    job.search = &search;
    WalkResult walk;
    if (walk_document(doc, job, WalkMode::kCount, doc.max_obj_num, walk) < 0) return -1;
    clear_error();
    return walk.matches > INT32_MAX ? INT32_MAX : static_cast<int>(walk.matches);
}
