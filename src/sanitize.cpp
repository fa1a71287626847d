// Hidden information sanitising: the document information, XMP metadata,
// embedded files, the name dictionary, non-widget annotations, the outline,
// XFA and form field values are taken out of every output, and widgets that a
// painted box covers lose their appearance.
#include "sanitize.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "content.h"
#include "forms.h"
#include "redact.h"

namespace {

// Levels of /Parent followed to find an inherited /FT.
constexpr int kMaxParentDepth = 64;

// The usable size of both tables: a number is in range when 0 < n < size.
// A table shorter than the size the caller states is never read past its end.
int32_t usable_size(int32_t table_size, size_t drop_size, size_t replacement_size) {
    if (table_size <= 0) return 0;
    const size_t least = std::min({drop_size, replacement_size, static_cast<size_t>(table_size)});
    return static_cast<int32_t>(least);
}

bool in_range(int32_t num, int32_t size) {
    return num > 0 && num < size;
}

// What one sanitising call works on.
struct Run {
    const Doc &doc;
    DropMap &drop;
    ReplacementTexts &replacements;
    int32_t size;                      // numbers in range: 0 < n < size
    std::vector<unsigned char> pages;  // 1 for each in-range number of the page list
};

Run make_run(const Doc &doc, DropMap &drop, ReplacementTexts &replacements, int32_t table_size) {
    Run run{doc, drop, replacements, usable_size(table_size, drop.size(), replacements.size()), {}};
    run.pages.assign(static_cast<size_t>(run.size), 0);
    for (const PageRef &page : doc.pages)
        if (in_range(page.num, run.size)) run.pages[page.num] = 1;
    return run;
}

// The catalog and the page tree: the output cannot do without them, whatever
// an /Info, outline or value reference says.
bool is_structural(const Run &run, const ObjEntry &entry) {
    const Doc &doc = run.doc;
    return entry.num == doc.root || (in_range(entry.num, run.size) && run.pages[entry.num]) ||
           obj_type(doc.data.data(), doc.size, entry) != 0 || obj_has_key(doc, entry, "Kids") ||
           obj_name_is(doc, entry, "Type", "Catalog");
}

// Marks an object that a reference inside a removed place names, unless it is
// missing or structural.
void mark_named(Run &run, int32_t num) {
    if (!in_range(num, run.size) || run.drop[num]) return;
    const ObjEntry *entry = doc_find_obj(run.doc, num);
    if (entry != nullptr && !is_structural(run, *entry)) run.drop[num] = 1;
}

// Appends the objects that the value [start, end) names: a reference, with
// the elements of the array object it names, or the references of a direct
// array.
void value_refs(const Doc &doc, const unsigned char *bytes, int32_t start, int32_t end,
                std::vector<int32_t> &out) {
    if (start >= end) return;
    if (bytes[start] == '[') {
        int32_t pos = start + 1;
        for (int32_t n = next_array_ref(bytes, end, &pos); n > 0;
             n = next_array_ref(bytes, end, &pos))
            out.push_back(n);
        return;
    }
    int32_t at = start;
    const int32_t num = ref_at(bytes, end, &at);
    if (num <= 0) return;
    out.push_back(num);
    const ObjEntry *entry = doc_find_obj(doc, num);
    const unsigned char *array = nullptr;
    int32_t array_end = 0;
    if (entry == nullptr) return;
    int32_t pos = obj_array_start(doc, *entry, &array, &array_end);
    if (pos < 0) return;
    for (int32_t n = next_array_ref(array, array_end, &pos); n > 0;
         n = next_array_ref(array, array_end, &pos))
        out.push_back(n);
}

// Removes every top-level /key entry of `text` (a repeated key too). When
// `refs` is given, the objects that the removed values name are appended to
// it. Returns true when something was removed.
bool strip_all(char *text, const char *key, const Doc *doc, std::vector<int32_t> *refs) {
    if (refs != nullptr && doc != nullptr) {
        const auto *b = reinterpret_cast<const unsigned char *>(text);
        const int32_t end = static_cast<int32_t>(std::min<size_t>(std::strlen(text), INT32_MAX));
        int32_t pos = dict_entries_start(b, end);
        DictEntry e;
        while (pos >= 0 && dict_next_entry(b, end, &pos, &e))
            if (dict_entry_is(b, e, key))
                value_refs(*doc, b, skip_pdf_ws(b, end, e.key_end), e.value_end, *refs);
    }
    return strip_dict_entries(text, key);
}

// Takes an object's working text: the replacement an earlier step made, else
// a fresh copy of its dictionary. Empty when there is neither.
struct Working {
    DictText text;
    bool replaced = false;  // it came from the replacement table
};

Working take_working_text(const Doc &doc, ReplacementTexts &replacements, const ObjEntry &entry) {
    Working work;
    DictText &current = replacements[entry.num];
    work.replaced = static_cast<bool>(current);
    work.text = work.replaced ? std::move(current) : obj_dict_text(doc, entry);
    return work;
}

// Stores a working text back. A fresh copy that was not edited is dropped, so
// that the object is written as it is.
void put_working_text(ReplacementTexts &replacements, int32_t num, Working &work, bool edited) {
    if (work.replaced || edited) replacements[num] = std::move(work.text);
}

// /Info, unless it names the catalog or the page tree.
void drop_info(Run &run) {
    const int32_t info = run.doc.info;
    if (!in_range(info, run.size) || info == run.doc.root) return;
    const ObjEntry *entry = doc_find_obj(run.doc, info);
    if (entry != nullptr && !is_structural(run, *entry)) run.drop[info] = 1;
}

// XMP metadata streams, embedded files and file specifications.
void drop_typed_objects(Run &run) {
    const Doc &doc = run.doc;
    for (const ObjEntry &entry : doc.objs) {
        if (!in_range(entry.num, run.size) || entry.num == doc.root) continue;
        if (obj_name_is(doc, entry, "Type", "Metadata") ||
            obj_name_is(doc, entry, "Type", "EmbeddedFile") ||
            obj_name_is(doc, entry, "Type", "Filespec"))
            run.drop[entry.num] = 1;
    }
}

// The name dictionary and its embedded-file tree.
void drop_names(Run &run, const ObjEntry &catalog) {
    const int32_t names = obj_ref_value(run.doc, catalog, "Names");
    if (names == 0 || names >= run.size) return;
    const ObjEntry *entry = doc_find_obj(run.doc, names);
    if (entry != nullptr) {
        const int32_t files = obj_ref_value(run.doc, *entry, "EmbeddedFiles");
        if (files != 0 && files < run.size) run.drop[files] = 1;
    }
    run.drop[names] = 1;
}

// Every annotation of every page that is not a widget.
void drop_annotations(Run &run, std::vector<int32_t> &refs) {
    const Doc &doc = run.doc;
    for (const PageRef &page : doc.pages) {
        const ObjEntry *page_obj = doc_find_obj(doc, page.num);
        if (page_obj == nullptr) continue;
        refs.clear();
        collect_refs_in_array(doc, *page_obj, refs);
        for (const int32_t annot : refs) {
            if (!in_range(annot, run.size)) continue;
            const ObjEntry *entry = doc_find_obj(doc, annot);
            if (entry != nullptr && !obj_name_is(doc, *entry, "Subtype", "Widget"))
                run.drop[annot] = 1;
        }
    }
}

// The whole outline: the outline dictionary and every item, the children of
// every item included. Each object is marked once and pushes at most two
// more, so the walk ends, on cycles too, within twice the table size; a
// reference to the catalog or a page is not followed.
void drop_outline(Run &run, const ObjEntry &catalog) {
    std::vector<int32_t> todo{obj_ref_value(run.doc, catalog, "Outlines")};
    while (!todo.empty()) {
        const int32_t item = todo.back();
        todo.pop_back();
        if (!in_range(item, run.size) || run.drop[item]) continue;
        const ObjEntry *entry = doc_find_obj(run.doc, item);
        if (entry == nullptr || is_structural(run, *entry)) continue;
        run.drop[item] = 1;
        todo.push_back(obj_ref_value(run.doc, *entry, "Next"));
        todo.push_back(obj_ref_value(run.doc, *entry, "First"));
    }
}

// The /XFA entry of the AcroForm dictionary, which the catalog holds inline
// (edited in `catalog_text`) or names; the XFA streams go too.
void drop_xfa(Run &run, char *catalog_text) {
    int32_t start = -1, end = -1;  // the /AcroForm value
    if (!dict_find_entry(catalog_text, "AcroForm", &start, &end)) return;
    std::vector<int32_t> refs;
    if (catalog_text[start] == '<') {
        // Edit a copy of the nested dictionary and put it back in place: it
        // can only have become shorter.
        std::string form(catalog_text + start, static_cast<size_t>(end - start));
        if (!strip_all(form.data(), "XFA", &run.doc, &refs)) return;
        const size_t form_len = std::strlen(form.c_str());
        const size_t total = std::strlen(catalog_text);
        std::memcpy(catalog_text + start, form.c_str(), form_len);
        std::memmove(catalog_text + start + form_len, catalog_text + end,
                     total - static_cast<size_t>(end) + 1);
    } else {
        int32_t at = start;
        const int32_t form_num =
            ref_at(reinterpret_cast<const unsigned char *>(catalog_text), end, &at);
        if (!in_range(form_num, run.size) || run.drop[form_num]) return;
        const ObjEntry *entry = doc_find_obj(run.doc, form_num);
        if (entry == nullptr) return;
        Working work = take_working_text(run.doc, run.replacements, *entry);
        if (!work.text) return;
        const bool edited = strip_all(work.text.get(), "XFA", &run.doc, &refs);
        put_working_text(run.replacements, form_num, work, edited);
    }
    for (const int32_t num : refs) mark_named(run, num);
}

// The catalog without /Metadata, /Outlines, /PageMode, /Names and XFA.
void rewrite_catalog(Run &run, const ObjEntry &catalog) {
    DictText text = obj_dict_text(run.doc, catalog);
    if (!text) return;
    static const char *const kRemoved[] = {"Metadata", "Outlines", "PageMode", "Names"};
    for (const char *key : kRemoved) strip_all(text.get(), key, nullptr, nullptr);
    drop_xfa(run, text.get());
    run.replacements[catalog.num] = std::move(text);
}

// Pages: /Annots rebuilt with the kept annotations, /Metadata removed.
void rewrite_pages(Run &run, std::vector<int32_t> &refs) {
    const Doc &doc = run.doc;
    for (const PageRef &page : doc.pages) {
        const ObjEntry *entry = doc_find_obj(doc, page.num);
        if (entry == nullptr || !in_range(page.num, run.size)) continue;
        refs.clear();
        collect_refs_in_array(doc, *entry, refs);
        if (refs.empty() && !obj_has_key(doc, *entry, "Metadata")) continue;
        Working work = take_working_text(run.doc, run.replacements, *entry);
        if (!work.text) continue;
        bool edited = strip_all(work.text.get(), "Metadata", nullptr, nullptr);
        if (!refs.empty()) {
            // Kept: what is in range and not left out; a reference to a
            // missing object stays as it was.
            std::string annots = " /Annots [";
            for (const int32_t annot : refs) {
                if (!in_range(annot, run.size) || run.drop[annot]) continue;
                annots += " " + std::to_string(annot) + " " +
                          std::to_string(output_gen(doc, annot)) + " R";
            }
            annots += " ]";
            strip_all(work.text.get(), "Annots", nullptr, nullptr);
            work.text = dict_append_before_close(std::move(work.text), annots.c_str());
            edited = true;
        }
        put_working_text(run.replacements, page.num, work, edited);
    }
}

// A form field: /FT on the dictionary or on one of its /Parent ancestors, or
// a widget annotation.
bool is_form_field(const Doc &doc, const ObjEntry &entry) {
    if (obj_name_is(doc, entry, "Subtype", "Widget")) return true;
    const ObjEntry *node = &entry;
    for (int depth = 0; node != nullptr && depth <= kMaxParentDepth; ++depth) {
        if (obj_has_key(doc, *node, "FT")) return true;
        const int32_t parent = obj_ref_value(doc, *node, "Parent");
        node = parent > 0 ? doc_find_obj(doc, parent) : nullptr;
    }
    return false;
}

// Form fields lose /V, /DV and /RV; the objects an indirect value names are
// left out too.
void clear_field_values(Run &run) {
    static const char *const kValueKeys[] = {"V", "DV", "RV"};
    const Doc &doc = run.doc;
    std::vector<int32_t> refs;
    for (const ObjEntry &entry : doc.objs) {
        const int32_t num = entry.num;
        if (!in_range(num, run.size) || run.drop[num]) continue;
        if (!obj_has_key(doc, entry, "V") && !obj_has_key(doc, entry, "DV") &&
            !obj_has_key(doc, entry, "RV"))
            continue;
        if (!is_form_field(doc, entry)) continue;
        Working work = take_working_text(run.doc, run.replacements, entry);
        if (!work.text) continue;
        refs.clear();
        bool edited = false;
        for (const char *key : kValueKeys)
            edited = strip_all(work.text.get(), key, &doc, &refs) || edited;
        put_working_text(run.replacements, num, work, edited);
        for (const int32_t value : refs)
            if (value != num) mark_named(run, value);
    }
}

// The corners of an annotation's /Rect, normalised.
struct Box {
    double x_lo = 0, y_lo = 0, x_hi = 0, y_hi = 0;
};

bool annot_rect(const Doc &doc, const ObjEntry &entry, Box &box) {
    const DictRange r = obj_dict_range(doc, entry);
    if (r.bytes == nullptr) return false;
    const int32_t slash = find_name(r.bytes, r.end, r.start, r.end, "Rect");
    if (slash < 0) return false;
    int32_t pos = skip_pdf_ws(r.bytes, r.end, slash + 5);  // past "/Rect"
    if (pos >= r.end || r.bytes[pos] != '[') return false;
    ++pos;
    double v[4];
    for (double &value : v) {
        const int32_t before = pos;
        value = parse_double_at(r.bytes, r.end, &pos);
        if (pos == before) return false;
    }
    box.x_lo = std::min(v[0], v[2]);
    box.x_hi = std::max(v[0], v[2]);
    box.y_lo = std::min(v[1], v[3]);
    box.y_hi = std::max(v[1], v[3]);
    return true;
}

bool has_region_on(const Region *regions, int region_count, int page) {
    for (int k = 0; k < region_count; ++k)
        if (region_on_page(regions[k], page)) return true;
    return false;
}

// True when the box meets a region of page `page`; touching counts.
bool meets_region(const Box &box, const Region *regions, int region_count, int page) {
    for (int k = 0; k < region_count; ++k) {
        const Region &region = regions[k];
        if (!region_on_page(region, page)) continue;
        const double x1 = region.x;
        const double x2 = x1 + static_cast<double>(region.width);
        const double y1 = region.y;
        const double y2 = y1 + static_cast<double>(region.height);
        if (box.x_lo <= std::max(x1, x2) && std::min(x1, x2) <= box.x_hi &&
            box.y_lo <= std::max(y1, y2) && std::min(y1, y2) <= box.y_hi)
            return true;
    }
    return false;
}

}  // namespace

void sanitize_hidden_info(const Doc &doc, DropMap &drop, ReplacementTexts &replacements,
                          int32_t table_size) {
    Run run = make_run(doc, drop, replacements, table_size);
    const ObjEntry *catalog = doc.root > 0 ? doc_find_obj(doc, doc.root) : nullptr;
    std::vector<int32_t> refs;  // the references of one /Annots array

    // The order matters: what an earlier step marks, the later ones treat as gone.
    drop_info(run);
    drop_typed_objects(run);
    if (catalog != nullptr) drop_names(run, *catalog);
    drop_annotations(run, refs);
    if (catalog != nullptr) drop_outline(run, *catalog);
    if (catalog != nullptr && in_range(catalog->num, run.size)) rewrite_catalog(run, *catalog);
    rewrite_pages(run, refs);
    clear_field_values(run);
}

void hide_covered_widgets(const Doc &doc, const Region *regions, int region_count,
                          const DropMap &drop, ReplacementTexts &replacements, int32_t table_size) {
    if (regions == nullptr || region_count <= 0) return;
    const int32_t size = usable_size(table_size, drop.size(), replacements.size());
    std::vector<int32_t> refs;
    for (size_t i = 0; i < doc.pages.size() && i < static_cast<size_t>(INT32_MAX); ++i) {
        const int page = static_cast<int>(i) + 1;
        if (!has_region_on(regions, region_count, page)) continue;
        const ObjEntry *page_obj = doc_find_obj(doc, doc.pages[i].num);
        if (page_obj == nullptr) continue;
        refs.clear();
        collect_refs_in_array(doc, *page_obj, refs);
        for (const int32_t annot : refs) {
            if (!in_range(annot, size) || drop[annot]) continue;
            const ObjEntry *entry = doc_find_obj(doc, annot);
            Box box;
            if (entry == nullptr || !obj_name_is(doc, *entry, "Subtype", "Widget") ||
                !annot_rect(doc, *entry, box) || !meets_region(box, regions, region_count, page))
                continue;
            Working work = take_working_text(doc, replacements, *entry);
            if (!work.text) continue;
            bool edited = strip_all(work.text.get(), "AP", nullptr, nullptr);
            edited = strip_all(work.text.get(), "AS", nullptr, nullptr) || edited;
            put_working_text(replacements, annot, work, edited);
        }
    }
}
