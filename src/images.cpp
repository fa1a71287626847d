// Images of a document under redaction boxes (PDF reference 8.9): their
// parameters, where boxes meet them, and their redacted copies.
#include "images.h"

#include <cmath>

#include "api.h"

namespace {

// The value of `key`, or of its inline-image abbreviation.
const PdfObj *entry(const PdfObj &dict, const char *key, const char *abbreviation,
                    bool inline_image) {
    const PdfObj *v = pdfobj_get(dict, key);
    if (v == nullptr && inline_image && abbreviation != nullptr) v = pdfobj_get(dict, abbreviation);
    return v;
}

bool whole_number(const PdfObj *v, double lo, double hi, int32_t *out) {
    if (v == nullptr || v->kind != ObjKind::kNumber || !std::isfinite(v->num)) return false;
    if (v->num != std::floor(v->num) || v->num < lo || v->num > hi) return false;
    *out = static_cast<int32_t>(v->num);
    return true;
}

constexpr int kMaxSpaceDepth = 8;  // colour spaces that name other colour spaces

// Reads a colour space (a name or an array, references followed) into the
// image's colour family and component count. False with *reason set.
bool read_space(const Doc &doc, PdfObj cs, const PdfObj &resources, bool inline_image,
                ImageDesc::Space *space, int *components, std::string *reason, int depth,
                ImageDesc *indexed_into) {
    cs = doc_resolve(doc, cs);
    if (depth > kMaxSpaceDepth) {
        *reason = "its colour space nests too deeply";
        return false;
    }
    if (cs.kind == ObjKind::kName) {
        const std::string &n = cs.str;
        if (n == "DeviceGray" || (inline_image && n == "G") || n == "CalGray") {
            *space = ImageDesc::Space::kGray;
            *components = 1;
            return true;
        }
        if (n == "DeviceRGB" || (inline_image && n == "RGB") || n == "CalRGB") {
            *space = ImageDesc::Space::kRGB;
            *components = 3;
            return true;
        }
        if (n == "DeviceCMYK" || (inline_image && n == "CMYK")) {
            *space = ImageDesc::Space::kCMYK;
            *components = 4;
            return true;
        }
        // A colour space named in the resources.
        const PdfObj spaces = doc_get(doc, resources, "ColorSpace");
        const PdfObj *named = pdfobj_get(spaces, n);
        if (named == nullptr) {
            *reason = "its colour space /" + n + " is not defined";
            return false;
        }
        return read_space(doc, *named, resources, inline_image, space, components, reason,
                          depth + 1, indexed_into);
    }
    if (cs.kind != ObjKind::kArray || cs.items.empty() || cs.items[0].kind != ObjKind::kName) {
        *reason = "its colour space cannot be read";
        return false;
    }
    const std::string &family = cs.items[0].str;
    if (family == "ICCBased" && cs.items.size() >= 2) {
        const PdfObj stream = doc_resolve(doc, cs.items[1]);
        int32_t n = 0;
        if (!whole_number(pdfobj_get(stream, "N"), 1, 32, &n)) {
            *reason = "its ICC-based colour space has no valid /N";
            return false;
        }
        *components = n;
        *space = n == 1   ? ImageDesc::Space::kGray
                 : n == 3 ? ImageDesc::Space::kRGB
                 : n == 4 ? ImageDesc::Space::kCMYK
                          : ImageDesc::Space::kOther;
        return true;
    }
    if (family == "CalGray" || family == "CalRGB" || family == "Lab") {
        *components = family == "CalGray" ? 1 : 3;
        *space = family == "CalGray"  ? ImageDesc::Space::kGray
                 : family == "CalRGB" ? ImageDesc::Space::kRGB
                                      : ImageDesc::Space::kOther;
        return true;
    }
    if (family == "Separation") {
        *space = ImageDesc::Space::kOther;
        *components = 1;
        return true;
    }
    if (family == "DeviceN" && cs.items.size() >= 2) {
        const PdfObj names = doc_resolve(doc, cs.items[1]);
        if (names.kind != ObjKind::kArray || names.items.empty() || names.items.size() > 32) {
            *reason = "its DeviceN colour space cannot be read";
            return false;
        }
        *space = ImageDesc::Space::kOther;
        *components = static_cast<int>(names.items.size());
        return true;
    }
    if ((family == "Indexed" || (inline_image && family == "I")) && cs.items.size() >= 4 &&
        indexed_into != nullptr) {
        ImageDesc::Space base = ImageDesc::Space::kGray;
        int base_components = 0;
        if (!read_space(doc, cs.items[1], resources, inline_image, &base, &base_components, reason,
                        depth + 1, nullptr))
            return false;
        int32_t hival = 0;
        if (!whole_number(&cs.items[2], 0, 255, &hival)) {
            *reason = "its indexed colour space has no valid hival";
            return false;
        }
        std::string lookup;
        const PdfObj &table = cs.items[3];
        if (table.kind == ObjKind::kString) {
            lookup = table.str;
        } else if (table.kind == ObjKind::kRef) {
            bool missing = false;
            if (!doc_stream_data(doc, static_cast<int32_t>(table.num), "an indexed colour table",
                                 lookup, &missing)) {
                *reason = "its indexed colour table cannot be read";
                return false;
            }
        }
        const size_t need = static_cast<size_t>(hival + 1) * static_cast<size_t>(base_components);
        if (lookup.size() < need) {
            *reason = "its indexed colour table is shorter than its hival";
            return false;
        }
        indexed_into->base_space = base;
        indexed_into->base_components = base_components;
        indexed_into->palette.assign(lookup.begin(),
                                     lookup.begin() + static_cast<std::ptrdiff_t>(need));
        *space = ImageDesc::Space::kIndexed;
        *components = 1;
        return true;
    }
    *reason = "its colour space /" + family + " cannot be redacted";
    return false;
}

void read_parms(const PdfObj *parms, ImageDesc::Parms &p) {
    if (parms == nullptr || parms->kind != ObjKind::kDict) return;
    int32_t v = 0;
    if (whole_number(pdfobj_get(*parms, "Predictor"), 0, 1000, &v)) p.predictor = v;
    if (whole_number(pdfobj_get(*parms, "Colors"), 1, 64, &v)) p.colors = v;
    if (whole_number(pdfobj_get(*parms, "BitsPerComponent"), 1, 64, &v)) p.bpc = v;
    if (whole_number(pdfobj_get(*parms, "Columns"), 1, 1 << 30, &v)) p.columns = v;
    if (whole_number(pdfobj_get(*parms, "ColorTransform"), 0, 1, &v)) p.color_transform = v;
}

}  // namespace

bool image_desc_read(const Doc &doc, const PdfObj &dict, const PdfObj &resources, bool inline_image,
                     ImageDesc &desc, std::string *reason) {
    desc = ImageDesc{};
    const bool il = inline_image;
    if (!whole_number(entry(dict, "Width", "W", il), 1, INT32_MAX, &desc.width) ||
        !whole_number(entry(dict, "Height", "H", il), 1, INT32_MAX, &desc.height)) {
        *reason = "its /Width or /Height is not a positive whole number";
        return false;
    }
    const PdfObj *mask = entry(dict, "ImageMask", "IM", il);
    desc.image_mask = mask != nullptr && mask->kind == ObjKind::kBool && mask->num != 0;
    int32_t bpc = desc.image_mask ? 1 : 8;
    const PdfObj *bpc_value = entry(dict, "BitsPerComponent", "BPC", il);
    if (bpc_value != nullptr && !whole_number(bpc_value, 1, 64, &bpc)) {
        *reason = "its /BitsPerComponent is not a whole number";
        return false;
    }
    desc.bpc = bpc;
    // Filters first: a JPEG 2000 image may have no colour space, and is
    // refused for its filter, not for that.
    const PdfObj filter = doc_resolve(
        doc, entry(dict, "Filter", "F", il) ? *entry(dict, "Filter", "F", il) : PdfObj{});
    const PdfObj parms = doc_resolve(doc, entry(dict, "DecodeParms", "DP", il)
                                              ? *entry(dict, "DecodeParms", "DP", il)
                                              : PdfObj{});
    if (filter.kind == ObjKind::kName) {
        desc.filters.push_back(filter.str);
        desc.parms.emplace_back();
        read_parms(parms.kind == ObjKind::kArray && !parms.items.empty() ? &parms.items[0] : &parms,
                   desc.parms.back());
    } else if (filter.kind == ObjKind::kArray) {
        for (size_t k = 0; k < filter.items.size(); ++k) {
            const PdfObj f = doc_resolve(doc, filter.items[k]);
            if (f.kind != ObjKind::kName) continue;
            desc.filters.push_back(f.str);
            desc.parms.emplace_back();
            if (parms.kind == ObjKind::kArray && k < parms.items.size()) {
                const PdfObj p = doc_resolve(doc, parms.items[k]);
                read_parms(&p, desc.parms.back());
            }
        }
    }
    if (desc.image_mask) {
        desc.components = 1;
        desc.space = ImageDesc::Space::kGray;
    } else {
        const PdfObj *cs = entry(dict, "ColorSpace", "CS", il);
        bool jpx = false;
        for (const std::string &f : desc.filters) jpx = jpx || f == "JPXDecode";
        if (cs == nullptr) {
            if (!jpx) {
                *reason = "it has no /ColorSpace";
                return false;
            }
        } else if (!read_space(doc, *cs, resources, il, &desc.space, &desc.components, reason, 0,
                               &desc)) {
            return false;
        }
    }
    const PdfObj decode = doc_resolve(
        doc, entry(dict, "Decode", "D", il) ? *entry(dict, "Decode", "D", il) : PdfObj{});
    if (decode.kind == ObjKind::kArray)
        for (const PdfObj &v : decode.items) desc.decode.push_back(pdfobj_number(&v, 0));
    return true;
}

std::vector<ImageQuad> image_quads(const Matrix &placement, const std::vector<Quad> &boxes) {
    std::vector<ImageQuad> out;
    Matrix inverse;
    if (!mat_invert(placement, &inverse)) return out;
    const Box unit{0, 0, 1, 1};
    for (const Quad &q : boxes) {
        Quad in;
        for (int k = 0; k < 4; ++k) in.p[k] = mat_apply(inverse, q.p[k].x, q.p[k].y);
        if (!quad_meets_box(in, unit)) continue;
        ImageQuad iq;
        for (int k = 0; k < 4; ++k) {
            iq.u[k] = in.p[k].x;
            iq.v[k] = in.p[k].y;
        }
        out.push_back(iq);
    }
    return out;
}

bool image_quads_reach_inside(const std::vector<ImageQuad> &quads, int32_t width, int32_t height) {
    const double mu = width > 0 ? 0.5 / width : 0, mv = height > 0 ? 0.5 / height : 0;
    const Box inner{mu, mv, 1 - mu, 1 - mv};
    for (const ImageQuad &iq : quads) {
        Quad q;
        for (int k = 0; k < 4; ++k) q.p[k] = {iq.u[k], iq.v[k]};
        if (quad_meets_box(q, inner)) return true;
    }
    return false;
}

int image_copy_make(const ImageDesc &desc, const uint8_t *data, size_t len,
                    const std::vector<ImageQuad> &quads, ImageFill fill, const uint8_t rgb[3],
                    const char *label, ImageCopy &copy) {
    ImageEdit edit;
    std::string reason;
    const ImageStatus status = image_redact(desc, data, len, quads, fill, rgb, edit, &reason);
    switch (status) {
        case ImageStatus::kChanged:
            copy.data = std::move(edit.data);
            copy.filters = std::move(edit.filters);
            return 1;
        case ImageStatus::kUntouched:
            return 0;
        case ImageStatus::kUnsupported:
            if (!image_quads_reach_inside(quads, desc.width, desc.height)) return 0;
            set_error(
                "%s under a redaction box uses /%s, which this engine cannot redact — nothing "
                "written",
                label, reason.c_str());
            return -1;
        case ImageStatus::kDamaged:
            set_error("%s under a redaction box cannot be redacted: %s — nothing written", label,
                      reason.c_str());
            return -1;
        case ImageStatus::kOutOfMemory:
            break;
    }
    set_error("out of memory redacting %s", label);
    return -1;
}
