// Hidden information sanitising: the document information, XMP metadata,
// embedded files, the name dictionary, non-widget annotations, the outline,
// XFA and form field values are taken out of every output, and widgets that a
// painted box covers lose their appearance.
#include "sanitize.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "content.h"
#include "forms.h"
#include "redact.h"

namespace {

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

// The length of a dictionary text as an offset; a text can never be longer.
int32_t text_len(const char *text) {
    return static_cast<int32_t>(std::min<size_t>(std::strlen(text), INT32_MAX));
}

// What one sanitising call works on.
struct Run {
    const Doc &doc;
    DropMap &drop;
    ReplacementTexts &replacements;
    int32_t size;  // numbers in range: 0 < n < size
    // Per in-range number: 1 for the pages of the page list; 1 for the nodes
    // under the AcroForm's /Fields; what is known of its /FT (FtState).
    std::vector<unsigned char> pages = {};
    std::vector<unsigned char> field_tree = {};
    std::vector<signed char> has_ft = {};
};

// What is known of an object's /FT, itself or inherited through /Parent.
enum FtState : signed char { kFtUnknown = -1, kFtNo = 0, kFtYes = 1, kFtOnWalk = 2 };

Run make_run(const Doc &doc, DropMap &drop, ReplacementTexts &replacements, int32_t table_size) {
    Run run{doc, drop, replacements, usable_size(table_size, drop.size(), replacements.size())};
    run.pages.assign(static_cast<size_t>(run.size), 0);
    run.field_tree.assign(static_cast<size_t>(run.size), 0);
    run.has_ft.assign(static_cast<size_t>(run.size), kFtUnknown);
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

// Where the values of every top-level /key entry of the dictionary text
// [0, end) stand, blanks before each skipped.
struct ValueRange {
    int32_t from;
    int32_t to;
};

std::vector<ValueRange> key_values(const unsigned char *text, int32_t end, const char *key) {
    std::vector<ValueRange> out;
    int32_t pos = dict_entries_start(text, end);
    DictEntry e;
    while (pos >= 0 && dict_next_entry(text, end, &pos, &e))
        if (dict_entry_is(text, e, key))
            out.push_back({skip_pdf_ws(text, end, e.key_end), e.value_end});
    return out;
}

// The same over an object's dictionary, as offsets from *text.
std::vector<ValueRange> obj_key_values(const Doc &doc, const ObjEntry &entry, const char *key,
                                       const unsigned char **text) {
    const DictRange r = obj_dict_range(doc, entry);
    *text = r.bytes == nullptr ? nullptr : r.bytes + r.start;
    if (r.bytes == nullptr) return {};
    return key_values(*text, r.end - r.start, key);
}

// Appends the references of the value [start, end): a reference, or the
// references among the elements of a direct array.
void direct_refs(const unsigned char *bytes, int32_t start, int32_t end,
                 std::vector<int32_t> &out) {
    if (start >= end) return;
    int32_t pos = start;
    if (bytes[start] != '[') {
        const int32_t num = ref_at(bytes, end, &pos);
        if (num > 0) out.push_back(num);
        return;
    }
    ++pos;
    for (int32_t n = next_array_ref(bytes, end, &pos); n > 0; n = next_array_ref(bytes, end, &pos))
        out.push_back(n);
}

// Appends the references of an array object's elements; nothing when the
// object holds no array.
void array_object_refs(const Doc &doc, const ObjEntry &entry, std::vector<int32_t> &out) {
    const unsigned char *array = nullptr;
    int32_t array_end = 0;
    int32_t pos = obj_array_start(doc, entry, &array, &array_end);
    if (pos < 0) return;
    for (int32_t n = next_array_ref(array, array_end, &pos); n > 0;
         n = next_array_ref(array, array_end, &pos))
        out.push_back(n);
}

// Appends the objects that a removed value [start, end) names: a reference,
// with the elements of the array object it names, or the references of a
// direct array. An array object already left out is not read again, so that
// many values naming one large array cost one reading of it.
void value_refs(const Run &run, const unsigned char *bytes, int32_t start, int32_t end,
                std::vector<int32_t> &out) {
    const size_t first = out.size();
    direct_refs(bytes, start, end, out);
    if (start >= end || bytes[start] == '[' || out.size() == first) return;
    const int32_t num = out.back();
    if (in_range(num, run.size) && run.drop[num]) return;
    if (const ObjEntry *entry = doc_find_obj(run.doc, num)) array_object_refs(run.doc, *entry, out);
}

// Removes every top-level /key entry of `text` (a repeated key too). When
// `refs` is given, the objects that the removed values name are appended to
// it. Returns true when something was removed.
bool strip_all(char *text, const char *key, const Run *run, std::vector<int32_t> *refs) {
    if (refs != nullptr && run != nullptr) {
        const auto *b = reinterpret_cast<const unsigned char *>(text);
        for (const ValueRange &v : key_values(b, text_len(text), key))
            value_refs(*run, b, v.from, v.to, *refs);
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

// XMP metadata streams, embedded files and /Filespec dictionaries.
void drop_typed_objects(Run &run) {
    const Doc &doc = run.doc;
    for (const ObjEntry &entry : doc.objs) {
        if (!in_range(entry.num, run.size) || entry.num == doc.root) continue;
        if (obj_name_is(doc, entry, "Type", "Metadata") ||
            obj_name_is(doc, entry, "Type", "EmbeddedFile") ||
            obj_name_is(doc, entry, "Type", "Filespec"))
            mark_named(run, entry.num);
    }
}

// The name dictionary and its embedded-file tree.
void drop_names(Run &run, const ObjEntry &catalog) {
    const int32_t names = obj_ref_value(run.doc, catalog, "Names");
    if (!in_range(names, run.size)) return;
    if (const ObjEntry *entry = doc_find_obj(run.doc, names))
        mark_named(run, obj_ref_value(run.doc, *entry, "EmbeddedFiles"));
    mark_named(run, names);
}

// The array object that the page's only top-level /Annots names, or 0 for a
// direct array, several /Annots entries or a value that is no array object.
int32_t annots_array_object(const Doc &doc, const ObjEntry &page) {
    const unsigned char *text = nullptr;
    const std::vector<ValueRange> values = obj_key_values(doc, page, "Annots", &text);
    if (values.size() != 1 || text[values[0].from] == '[') return 0;
    int32_t at = values[0].from;
    const int32_t num = ref_at(text, values[0].to, &at);
    const ObjEntry *entry = doc_find_obj(doc, num);
    const unsigned char *array = nullptr;
    int32_t array_end = 0;
    return entry != nullptr && obj_array_start(doc, *entry, &array, &array_end) >= 0 ? num : 0;
}

// Every annotation of every page that is not a widget. An array object that
// many pages share is read once.
void drop_annotations(Run &run, std::vector<int32_t> &refs) {
    const Doc &doc = run.doc;
    std::vector<unsigned char> read(static_cast<size_t>(run.size), 0);
    for (const PageRef &page : doc.pages) {
        const ObjEntry *page_obj = doc_find_obj(doc, page.num);
        if (page_obj == nullptr) continue;
        const int32_t array = annots_array_object(doc, *page_obj);
        if (in_range(array, run.size)) {
            if (read[array]) continue;
            read[array] = 1;
        }
        refs.clear();
        collect_refs_in_array(doc, *page_obj, refs);
        for (const int32_t annot : refs) {
            if (!in_range(annot, run.size)) continue;
            const ObjEntry *entry = doc_find_obj(doc, annot);
            if (entry != nullptr && !obj_name_is(doc, *entry, "Subtype", "Widget"))
                mark_named(run, annot);
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

// The /XFA entries of every AcroForm dictionary the catalog text holds inline
// (edited in place) or names; the XFA streams go too.
void drop_xfa(Run &run, char *catalog_text) {
    auto *b = reinterpret_cast<unsigned char *>(catalog_text);
    const std::vector<ValueRange> forms = key_values(b, text_len(catalog_text), "AcroForm");
    std::vector<int32_t> refs;
    // Last to first: an inline dictionary only shrinks, so the places of the
    // earlier ones stay where they were found.
    for (auto it = forms.rbegin(); it != forms.rend(); ++it) {
        const ValueRange v = *it;
        if (b[v.from] == '<') {
            std::string form(catalog_text + v.from, static_cast<size_t>(v.to - v.from));
            if (!strip_all(form.data(), "XFA", &run, &refs)) continue;
            const size_t form_len = std::strlen(form.c_str());
            const size_t total = std::strlen(catalog_text);
            std::memcpy(catalog_text + v.from, form.c_str(), form_len);
            std::memmove(catalog_text + v.from + form_len, catalog_text + v.to,
                         total - static_cast<size_t>(v.to) + 1);
            continue;
        }
        int32_t at = v.from;
        const int32_t form_num = ref_at(b, v.to, &at);
        if (!in_range(form_num, run.size) || run.drop[form_num]) continue;
        const ObjEntry *entry = doc_find_obj(run.doc, form_num);
        if (entry == nullptr) continue;
        Working work = take_working_text(run.doc, run.replacements, *entry);
        if (!work.text) continue;
        const bool edited = strip_all(work.text.get(), "XFA", &run, &refs);
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

// True when a top-level /Annots of the page holds anything but an empty
// array: references, or annotation dictionaries written inline, which the
// rebuilt array leaves out with the rest.
bool has_annots(const Doc &doc, const ObjEntry &page) {
    const unsigned char *text = nullptr;
    for (const ValueRange &v : obj_key_values(doc, page, "Annots", &text)) {
        if (text[v.from] != '[') return true;
        const int32_t inside = skip_pdf_ws(text, v.to, v.from + 1);
        if (inside >= v.to || text[inside] != ']') return true;
    }
    return false;
}

// The elements of a rebuilt /Annots array, " n g R" for each annotation
// kept: what is in range and not left out; a reference to a missing object
// stays as it was.
std::string kept_annots(const Run &run, const std::vector<int32_t> &refs) {
    std::string kept;
    for (const int32_t annot : refs) {
        if (!in_range(annot, run.size) || run.drop[annot]) continue;
        // Appended piece by piece: g++ 12 warns falsely about the temporaries
        // of a chained concatenation.
        kept += ' ';
        kept += std::to_string(annot);
        kept += ' ';
        kept += std::to_string(output_gen(run.doc, annot));
        kept += " R";
    }
    return kept;
}

// Pages: /Annots rebuilt with the kept annotations, /Metadata removed. An
// /Annots that names an array object has the array object rebuilt instead,
// once: pages sharing one array keep sharing it, and the output does not
// hold a copy of it per page.
void rewrite_pages(Run &run, std::vector<int32_t> &refs) {
    const Doc &doc = run.doc;
    std::vector<unsigned char> rebuilt(static_cast<size_t>(run.size), 0);
    for (const PageRef &page : doc.pages) {
        const ObjEntry *entry = doc_find_obj(doc, page.num);
        if (entry == nullptr || !in_range(page.num, run.size)) continue;
        refs.clear();
        bool rebuild = false;
        const int32_t array = annots_array_object(doc, *entry);
        if (in_range(array, run.size)) {
            if (!rebuilt[array]) {
                rebuilt[array] = 1;
                collect_refs_in_array(doc, *entry, refs);
                std::string array_text = "[";
                array_text += kept_annots(run, refs);
                array_text += " ]";
                if (DictText text = copy_text(array_text.c_str()))
                    run.replacements[array] = std::move(text);
            }
        } else {
            collect_refs_in_array(doc, *entry, refs);
            rebuild = !refs.empty() || has_annots(doc, *entry);
        }
        if (!rebuild && !obj_has_key(doc, *entry, "Metadata")) continue;
        Working work = take_working_text(run.doc, run.replacements, *entry);
        if (!work.text) continue;
        bool edited = strip_all(work.text.get(), "Metadata", nullptr, nullptr);
        if (rebuild) {
            const std::string annots = " /Annots [" + kept_annots(run, refs) + " ]";
            strip_all(work.text.get(), "Annots", nullptr, nullptr);
            work.text = dict_append_before_close(std::move(work.text), annots.c_str());
            edited = true;
        }
        put_working_text(run.replacements, page.num, work, edited);
    }
}

// Marks the nodes of the field tree: the AcroForm's /Fields and, below them,
// every /Kids, each object once. A value there is a field's value even when
// /FT stands only on the node's kids.
void mark_field_tree(Run &run, const ObjEntry &catalog) {
    const Doc &doc = run.doc;
    std::vector<int32_t> todo;
    const unsigned char *text = nullptr;
    for (const ValueRange &v : obj_key_values(doc, catalog, "AcroForm", &text)) {
        if (text[v.from] == '<') {
            const unsigned char *form = text + v.from;
            for (const ValueRange &f : key_values(form, v.to - v.from, "Fields"))
                direct_refs(form, f.from, f.to, todo);
            continue;
        }
        int32_t at = v.from;
        const ObjEntry *entry = doc_find_obj(doc, ref_at(text, v.to, &at));
        if (entry == nullptr) continue;
        const unsigned char *form = nullptr;
        for (const ValueRange &f : obj_key_values(doc, *entry, "Fields", &form))
            direct_refs(form, f.from, f.to, todo);
    }
    while (!todo.empty()) {
        const int32_t num = todo.back();
        todo.pop_back();
        if (!in_range(num, run.size) || run.field_tree[num]) continue;
        run.field_tree[num] = 1;
        const ObjEntry *entry = doc_find_obj(doc, num);
        if (entry == nullptr) continue;
        // A /Fields or /Kids reference to an array object: its elements.
        array_object_refs(doc, *entry, todo);
        const unsigned char *node = nullptr;
        for (const ValueRange &k : obj_key_values(doc, *entry, "Kids", &node))
            direct_refs(node, k.from, k.to, todo);
    }
}

// /FT on the dictionary or on one of its /Parent ancestors. Every object's
// answer is kept, so that chains sharing ancestors read each dictionary once;
// a /Parent loop without /FT answers no.
bool inherits_ft(Run &run, const ObjEntry &entry) {
    const Doc &doc = run.doc;
    std::vector<int32_t> walk;  // the in-range objects met, answered together at the end
    bool found = false;
    for (const ObjEntry *node = &entry; node != nullptr;) {
        const int32_t num = node->num;
        const bool known = in_range(num, run.size);
        if (known && run.has_ft[num] != kFtUnknown) {
            found = run.has_ft[num] == kFtYes;
            break;
        }
        if (obj_has_key(doc, *node, "FT")) {
            found = true;
            break;
        }
        // Out of range there is no place to remember it: the walk stops there.
        if (!known) break;
        run.has_ft[num] = kFtOnWalk;  // met again: a loop, answered no
        walk.push_back(num);
        const int32_t parent = obj_ref_value(doc, *node, "Parent");
        node = parent > 0 ? doc_find_obj(doc, parent) : nullptr;
    }
    for (const int32_t num : walk) run.has_ft[num] = found ? kFtYes : kFtNo;
    return found;
}

// A form field: a node of the field tree, a dictionary with /FT itself or
// through its /Parent chain, or a widget annotation.
bool is_form_field(Run &run, const ObjEntry &entry) {
    return (in_range(entry.num, run.size) && run.field_tree[entry.num]) ||
           obj_name_is(run.doc, entry, "Subtype", "Widget") || inherits_ft(run, entry);
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
        if (!is_form_field(run, entry)) continue;
        Working work = take_working_text(run.doc, run.replacements, entry);
        if (!work.text) continue;
        refs.clear();
        bool edited = false;
        for (const char *key : kValueKeys)
            edited = strip_all(work.text.get(), key, &run, &refs) || edited;
        put_working_text(run.replacements, num, work, edited);
        for (const int32_t value : refs)
            if (value != num) mark_named(run, value);
    }
}

// ---- Active content ---------------------------------------------------------------
//
// Actions that run a script, start a program, read or send data, or open
// another file carry text and file names out of sight of the page: an
// /OpenAction or /AA whose actions include one goes, and so does such an /A
// of a widget. Plain navigation inside the document stays. The actions an
// entry names are followed through every /Next (one action or an array,
// inline or by reference); each action object is read once, and whether it
// leads to an active action is settled over all of them together, so the
// work stays linear whatever the chains share.

// Action types removed. A /JS entry makes any action a script.
constexpr const char *kActiveActions[] = {"JavaScript", "Launch", "ImportData",
                                          "SubmitForm", "GoToR",  "GoToE"};

// How a value is read: an action (an array there is a destination), one
// action or an array of them (/Next), or a dictionary of trigger -> action
// (/AA).
enum ActionValue : unsigned char { kAction, kActionList, kTriggers };

struct ActionGraph {
    const Run &run;
    std::vector<unsigned char> seen;    // per object number: queued for reading
    std::vector<unsigned char> how;     // per object number: the ActionValue it was reached as
    std::vector<unsigned char> active;  // per object number: an active action itself
    std::vector<std::pair<int32_t, int32_t>> edges;  // (object, object its value names)
    std::vector<int32_t> queue;                      // objects to read
    std::vector<unsigned char> leads;  // per object number: reaches an active action
};

// True when the action dictionary text [0, len) is active itself.
bool action_is_active(const unsigned char *d, int32_t len) {
    if (!key_values(d, len, "JS").empty()) return true;
    for (const ValueRange &v : key_values(d, len, "S"))
        for (const char *type : kActiveActions) {
            const int32_t n = static_cast<int32_t>(std::strlen(type));
            if (v.to - v.from == n + 1 && d[v.from] == '/' &&
                std::memcmp(d + v.from + 1, type, static_cast<size_t>(n)) == 0)
                return true;
        }
    return false;
}

// Reads the value [from, to) of `text` as `how` says, without leaving the
// text: returns true when an action written there is active, appends the
// objects it names to `targets` and queues those not read yet.
bool read_actions(ActionGraph &g, const unsigned char *text, int32_t from, int32_t to,
                  ActionValue how, std::vector<int32_t> &targets) {
    struct Item {
        int32_t from, to;
        ActionValue how;
    };
    bool active = false;
    std::vector<Item> todo{{from, to, how}};
    while (!todo.empty()) {
        const Item item = todo.back();
        todo.pop_back();
        int32_t p = skip_pdf_ws(text, item.to, item.from);
        if (p >= item.to) continue;
        if (is_digit(text[p])) {
            const int32_t num = ref_at(text, item.to, &p);
            if (!in_range(num, g.run.size)) continue;
            targets.push_back(num);
            if (!g.seen[num]) {
                g.seen[num] = 1;
                g.how[num] = item.how == kTriggers ? kTriggers : kAction;
                g.queue.push_back(num);
            }
            continue;
        }
        if (text[p] == '[') {
            if (item.how != kActionList) continue;  // a destination, or nothing to run
            for (int32_t q = skip_pdf_ws(text, item.to, p + 1); q < item.to && text[q] != ']';
                 q = skip_pdf_ws(text, item.to, q)) {
                if (is_digit(text[q])) {
                    const int32_t at = q;
                    if (ref_at(text, item.to, &q) > 0) {
                        todo.push_back({at, q, kAction});
                        continue;
                    }
                }
                const int32_t next = skip_pdf_value(text, item.to, q);
                if (next <= q) break;
                if (text[q] == '<') todo.push_back({q, next, kAction});
                q = next;
            }
            continue;
        }
        if (text[p] != '<' || p + 1 >= item.to || text[p + 1] != '<') continue;
        const unsigned char *d = text + p;
        const int32_t len = item.to - p;
        if (item.how == kTriggers) {
            int32_t pos = dict_entries_start(d, len);
            DictEntry e;
            while (pos >= 0 && dict_next_entry(d, len, &pos, &e))
                todo.push_back({p + e.key_end, p + e.value_end, kAction});
            continue;
        }
        if (action_is_active(d, len)) active = true;
        for (const ValueRange &v : key_values(d, len, "Next"))
            todo.push_back({p + v.from, p + v.to, kActionList});
    }
    return active;
}

// Reads every queued object, then settles which objects lead to an active
// action: those that are active and, backwards along the edges, every
// object that names one of them.
void settle_actions(ActionGraph &g) {
    std::vector<int32_t> targets;
    while (!g.queue.empty()) {
        const int32_t num = g.queue.back();
        g.queue.pop_back();
        const ObjEntry *entry = doc_find_obj(g.run.doc, num);
        if (entry == nullptr) continue;
        const DictRange r = obj_dict_range(g.run.doc, *entry);
        if (r.bytes == nullptr) continue;
        targets.clear();
        g.active[num] = read_actions(g, r.bytes + r.start, 0, r.end - r.start,
                                     static_cast<ActionValue>(g.how[num]), targets);
        for (const int32_t t : targets) g.edges.emplace_back(num, t);
    }
    // Edges by target, so that each object's namers are found at once.
    std::sort(g.edges.begin(), g.edges.end(),
              [](const auto &a, const auto &b) { return a.second < b.second; });
    std::vector<int32_t> todo;
    for (int32_t n = 1; n < g.run.size; ++n)
        if (g.active[n]) {
            g.leads[n] = 1;
            todo.push_back(n);
        }
    while (!todo.empty()) {
        const int32_t n = todo.back();
        todo.pop_back();
        auto it = std::lower_bound(g.edges.begin(), g.edges.end(), n,
                                   [](const auto &e, int32_t v) { return e.second < v; });
        for (; it != g.edges.end() && it->second == n; ++it)
            if (!g.leads[it->first]) {
                g.leads[it->first] = 1;
                todo.push_back(it->first);
            }
    }
}

// One entry that may hold active content: /key of object `num`.
struct ActionEntry {
    int32_t num;
    const char *key;
    ActionValue how;
    bool active = false;               // an action written in the holder's text is active
    std::vector<int32_t> targets = {};  // the objects its value names
};

// The holders: the catalog's /OpenAction and /AA, every page's /AA, and the
// /AA and /A of every widget and form field that stays.
std::vector<ActionEntry> action_entries(Run &run, const ObjEntry *catalog) {
    const Doc &doc = run.doc;
    std::vector<ActionEntry> entries;
    if (catalog != nullptr && in_range(catalog->num, run.size)) {
        entries.push_back({catalog->num, "OpenAction", kAction});
        entries.push_back({catalog->num, "AA", kTriggers});
    }
    for (const PageRef &page : doc.pages)
        if (in_range(page.num, run.size)) entries.push_back({page.num, "AA", kTriggers});
    for (const ObjEntry &entry : doc.objs) {
        const int32_t num = entry.num;
        if (!in_range(num, run.size) || run.drop[num] || num == doc.root || run.pages[num]) continue;
        const bool aa = obj_has_key(doc, entry, "AA") != 0;
        const bool a = obj_has_key(doc, entry, "A") != 0;
        if ((!aa && !a) || !is_form_field(run, entry)) continue;
        if (aa) entries.push_back({num, "AA", kTriggers});
        if (a) entries.push_back({num, "A", kAction});
    }
    return entries;
}

// The text that object `num` is written with: its replacement, else its
// dictionary.
std::vector<ValueRange> written_values(const Run &run, int32_t num, const char *key,
                                       const unsigned char **text) {
    if (const char *repl = run.replacements[num].get()) {
        *text = reinterpret_cast<const unsigned char *>(repl);
        return key_values(*text, text_len(repl), key);
    }
    const ObjEntry *entry = doc_find_obj(run.doc, num);
    *text = nullptr;
    return entry == nullptr ? std::vector<ValueRange>{} : obj_key_values(run.doc, *entry, key, text);
}

// Removes every active /OpenAction, /AA and widget /A, and leaves out the
// active action objects they named.
void drop_active_content(Run &run, const ObjEntry *catalog) {
    ActionGraph g{run, {}, {}, {}, {}, {}, {}};
    g.seen.assign(static_cast<size_t>(run.size), 0);
    g.how.assign(static_cast<size_t>(run.size), kAction);
    g.active.assign(static_cast<size_t>(run.size), 0);
    g.leads.assign(static_cast<size_t>(run.size), 0);
    std::vector<ActionEntry> entries = action_entries(run, catalog);
    for (ActionEntry &e : entries) {
        const unsigned char *text = nullptr;
        for (const ValueRange &v : written_values(run, e.num, e.key, &text))
            e.active = read_actions(g, text, v.from, v.to, e.how, e.targets) || e.active;
    }
    settle_actions(g);
    for (const ActionEntry &e : entries) {
        bool remove = e.active;
        for (const int32_t t : e.targets) remove = remove || g.leads[t];
        if (!remove) continue;
        const ObjEntry *entry = doc_find_obj(run.doc, e.num);
        if (entry == nullptr) continue;
        Working work = take_working_text(run.doc, run.replacements, *entry);
        if (!work.text) continue;
        const bool edited = strip_all(work.text.get(), e.key, nullptr, nullptr);
        put_working_text(run.replacements, e.num, work, edited);
    }
    for (int32_t n = 1; n < run.size; ++n)
        if (g.active[n]) mark_named(run, n);
}

// The corners of an annotation's /Rect, normalised.
struct RectBox {
    double x_lo = 0, y_lo = 0, x_hi = 0, y_hi = 0;
};

bool annot_rect(const Doc &doc, const ObjEntry &entry, RectBox &box) {
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

// The regions of each page, by page index: the page tests of a region made once.
std::vector<std::vector<const Region *>> regions_by_page(const Region *regions, int region_count,
                                                         size_t page_count) {
    std::vector<std::vector<const Region *>> by_page(page_count);
    for (int k = 0; k < region_count; ++k) {
        const double page = std::trunc(static_cast<double>(regions[k].page));
        if (page >= 1 && page <= static_cast<double>(page_count) &&
            region_on_page(regions[k], static_cast<int>(page)))
            by_page[static_cast<size_t>(page) - 1].push_back(&regions[k]);
    }
    return by_page;
}

// True when the box meets one of the regions; touching counts.
bool meets_region(const RectBox &box, const std::vector<const Region *> &regions) {
    for (const Region *region : regions) {
        const double x1 = region->x;
        const double x2 = x1 + static_cast<double>(region->width);
        const double y1 = region->y;
        const double y2 = y1 + static_cast<double>(region->height);
        if (box.x_lo <= std::max(x1, x2) && std::min(x1, x2) <= box.x_hi &&
            box.y_lo <= std::max(y1, y2) && std::min(y1, y2) <= box.y_hi)
            return true;
    }
    return false;
}

}  // namespace

DictText copy_text(const char *text) {
    const size_t n = std::strlen(text) + 1;
    DictText copy(static_cast<char *>(std::malloc(n)));
    if (copy) std::memcpy(copy.get(), text, n);
    return copy;
}

void sanitize_hidden_info(const Doc &doc, DropMap &drop, ReplacementTexts &replacements,
                          int32_t table_size) {
    Run run = make_run(doc, drop, replacements, table_size);
    const ObjEntry *catalog = doc.root > 0 ? doc_find_obj(doc, doc.root) : nullptr;
    std::vector<int32_t> refs;  // the references of one /Annots array

    // The order matters: what an earlier step marks, the later ones treat as gone.
    mark_named(run, doc.info);  // unless it names the catalog or the page tree
    drop_typed_objects(run);
    if (catalog != nullptr) drop_names(run, *catalog);
    drop_annotations(run, refs);
    if (catalog != nullptr) drop_outline(run, *catalog);
    if (catalog != nullptr && in_range(catalog->num, run.size)) rewrite_catalog(run, *catalog);
    rewrite_pages(run, refs);
    if (catalog != nullptr) mark_field_tree(run, *catalog);
    clear_field_values(run);
    drop_active_content(run, catalog);
}

void hide_covered_widgets(const Doc &doc, const Region *regions, int region_count,
                          const DropMap &drop, ReplacementTexts &replacements, int32_t table_size) {
    if (regions == nullptr || region_count <= 0) return;
    const int32_t size = usable_size(table_size, drop.size(), replacements.size());
    const std::vector<std::vector<const Region *>> by_page =
        regions_by_page(regions, region_count, doc.pages.size());
    std::vector<int32_t> refs;
    for (size_t i = 0; i < doc.pages.size(); ++i) {
        if (by_page[i].empty()) continue;
        const ObjEntry *page_obj = doc_find_obj(doc, doc.pages[i].num);
        if (page_obj == nullptr) continue;
        refs.clear();
        collect_refs_in_array(doc, *page_obj, refs);
        for (const int32_t annot : refs) {
            if (!in_range(annot, size) || drop[annot]) continue;
            const ObjEntry *entry = doc_find_obj(doc, annot);
            RectBox box;
            if (entry == nullptr || !obj_name_is(doc, *entry, "Subtype", "Widget") ||
                !annot_rect(doc, *entry, box) || !meets_region(box, by_page[i]))
                continue;
            Working work = take_working_text(doc, replacements, *entry);
            if (!work.text) continue;
            bool edited = strip_all(work.text.get(), "AP", nullptr, nullptr);
            edited = strip_all(work.text.get(), "AS", nullptr, nullptr) || edited;
            put_working_text(replacements, annot, work, edited);
        }
    }
}
