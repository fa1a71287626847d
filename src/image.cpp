// Image pixel redaction for unfiltered and Flate images, and what every image
// shares: the filter chain, the cells under the quads and the fill colour.
#include "image.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "filters.h"
#include "geometry.h"
#include "inflate.h"
#include "syntax.h"

namespace {

using Block = std::unique_ptr<unsigned char[], FreeDeleter>;

constexpr uint64_t kMaxDecoded = uint64_t{1} << 31;  // the largest image taken, in bytes
constexpr uint64_t kMaxInflate = uint64_t{1} << 30;  // what the inflate decoder can produce
// Deflate cannot expand data by more than 1032 to 1 (a 258-byte copy in one
// bit per symbol and distance), so data needing more is short before it is read.
constexpr uint64_t kMaxDeflateRatio = 1032;
// Slivers thinner than this, in cells, meet no cell: rounding in the caller's
// transformation must not reach a neighbouring row or column.
constexpr double kCellEpsilon = 1e-9;


// ---- Geometry: which cells a quad meets ----


// A convex polygon: a quad clipped by up to six lines gains at most one
// corner per line.
struct Polygon {
    Point p[12];
    int n = 0;
};

double cross(const Point &o, const Point &a, const Point &b) {
    return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

// The convex hull of four points (Andrew's monotone chain), counter-clockwise.
// A quad whose corners come crossed or out of order still covers its hull.
Polygon convex_hull(Point pts[4]) {
    std::sort(pts, pts + 4, [](const Point &a, const Point &b) {
        return a.x < b.x || (a.x == b.x && a.y < b.y);
    });
    Point hull[8];
    int k = 0;
    for (int i = 0; i < 4; ++i) {  // lower chain
        while (k >= 2 && cross(hull[k - 2], hull[k - 1], pts[i]) <= 0) --k;
        hull[k++] = pts[i];
    }
    for (int i = 2, lower = k + 1; i >= 0; --i) {  // upper chain
        while (k >= lower && cross(hull[k - 2], hull[k - 1], pts[i]) <= 0) --k;
        hull[k++] = pts[i];
    }
    Polygon out;
    out.n = k > 1 ? k - 1 : k;  // the last point repeats the first
    for (int i = 0; i < out.n; ++i) out.p[i] = hull[i];
    return out;
}

// Keeps the part of `in` with coordinate `axis` (0: x, 1: y) at least `bound`
// (`above`) or at most `bound` (Sutherland-Hodgman, one edge).
Polygon clip(const Polygon &in, int axis, double bound, bool above) {
    auto coord = [axis](const Point &p) { return axis == 0 ? p.x : p.y; };
    auto inside = [&](const Point &p) { return above ? coord(p) >= bound : coord(p) <= bound; };
    Polygon out;
    for (int i = 0; i < in.n; ++i) {
        const Point &a = in.p[i];
        const Point &b = in.p[(i + 1) % in.n];
        const bool a_in = inside(a), b_in = inside(b);
        if (a_in) out.p[out.n++] = a;
        if (a_in != b_in) {
            const double t = (bound - coord(a)) / (coord(b) - coord(a));
            Point cut{a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)};
            if (axis == 0)
                cut.x = bound;
            else
                cut.y = bound;
            out.p[out.n++] = cut;
        }
    }
    return out;
}

double area(const Polygon &poly) {
    double twice = 0;
    for (int i = 0; i < poly.n; ++i) {
        const Point &a = poly.p[i];
        const Point &b = poly.p[(i + 1) % poly.n];
        twice += a.x * b.y - b.x * a.y;
    }
    return std::fabs(twice) / 2;
}

// The quad in cell units (x right, y down from the top-left corner), clipped
// to the image's `grid_w` x `grid_h` cells. Corners that are not finite
// numbers give an empty polygon.
Polygon quad_in_cells(const ImageQuad &quad, double grid_w, double grid_h) {
    Point pts[4];
    for (int i = 0; i < 4; ++i) {
        if (!std::isfinite(quad.u[i]) || !std::isfinite(quad.v[i])) return Polygon{};
        pts[i] = {quad.u[i] * grid_w, (1 - quad.v[i]) * grid_h};
        if (!std::isfinite(pts[i].x) || !std::isfinite(pts[i].y)) return Polygon{};
    }
    Polygon poly = convex_hull(pts);
    poly = clip(poly, 0, 0, true);
    poly = clip(poly, 0, grid_w, false);
    poly = clip(poly, 1, 0, true);
    return clip(poly, 1, grid_h, false);
}

// True when a quad meets the open unit square with some area.
bool meets_unit_square(const std::vector<ImageQuad> &quads) {
    for (const ImageQuad &q : quads)
        if (area(quad_in_cells(q, 1, 1)) > 0) return true;
    return false;
}

// ---- Filters ----

enum class FilterKind { kFlate, kHex, kA85, kDct, kRefused };

struct FilterName {
    const char *name, *abbreviation;
    FilterKind kind;
};

// Every standard filter with its abbreviation (used in inline images).
constexpr FilterName kFilterNames[] = {
    {"FlateDecode", "Fl", FilterKind::kFlate},
    {"ASCIIHexDecode", "AHx", FilterKind::kHex},
    {"ASCII85Decode", "A85", FilterKind::kA85},
    {"DCTDecode", "DCT", FilterKind::kDct},
    {"LZWDecode", "LZW", FilterKind::kRefused},
    {"RunLengthDecode", "RL", FilterKind::kRefused},
    {"CCITTFaxDecode", "CCF", FilterKind::kRefused},
    {"JBIG2Decode", nullptr, FilterKind::kRefused},
    {"JPXDecode", nullptr, FilterKind::kRefused},
};

// The kind of filter `name`, and its full name in *full.
FilterKind filter_kind(const std::string &name, const char **full) {
    for (const FilterName &f : kFilterNames) {
        if (name == f.name || (f.abbreviation != nullptr && name == f.abbreviation)) {
            *full = f.name;
            return f.kind;
        }
    }
    *full = name.c_str();
    return FilterKind::kRefused;
}

// The bytes of one predictor row, or 0 when the parameters cannot describe one.
uint64_t predictor_row_bytes(const ImageDesc::Parms &p) {
    if (p.colors < 1 || p.colors > 32 || p.columns < 1) return 0;
    if (p.bpc != 1 && p.bpc != 2 && p.bpc != 4 && p.bpc != 8 && p.bpc != 16) return 0;
    return (uint64_t(p.columns) * uint64_t(p.colors) * uint64_t(p.bpc) + 7) / 8;
}

bool is_png_predictor(int predictor) {
    return predictor >= 10 && predictor <= 15;
}

// Checks the predictor of a Flate stage; *row_bytes gets its row length.
bool predictor_usable(const ImageDesc::Parms &p, uint64_t *row_bytes, std::string *reason) {
    *row_bytes = 0;
    if (p.predictor == 1) return true;
    if (p.predictor != 2 && !is_png_predictor(p.predictor)) {
        image_fail(reason, ImageStatus::kDamaged, "predictor %d cannot be applied", p.predictor);
        return false;
    }
    *row_bytes = predictor_row_bytes(p);
    if (*row_bytes == 0 || *row_bytes > kMaxDecoded) {
        image_fail(
            reason, ImageStatus::kDamaged,
            "predictor %d cannot be applied to /Colors %d, /BitsPerComponent %d, /Columns %d",
            p.predictor, p.colors, p.bpc, p.columns);
        return false;
    }
    return true;
}

// Reads and writes samples of 1, 2, 4, 8 or 16 bits, most significant first.
uint32_t get_sample(const unsigned char *row, uint64_t index, int bpc) {
    if (bpc == 8) return row[index];
    if (bpc == 16) return uint32_t(row[2 * index]) << 8 | row[2 * index + 1];
    const uint64_t bit = index * uint64_t(bpc);
    const int shift = 8 - bpc - int(bit & 7);
    return (row[bit >> 3] >> shift) & ((1u << bpc) - 1);
}

void put_sample(unsigned char *row, uint64_t index, int bpc, uint32_t value) {
    if (bpc == 8) {
        row[index] = static_cast<unsigned char>(value);
    } else if (bpc == 16) {
        row[2 * index] = static_cast<unsigned char>(value >> 8);
        row[2 * index + 1] = static_cast<unsigned char>(value);
    } else {
        const uint64_t bit = index * uint64_t(bpc);
        const int shift = 8 - bpc - int(bit & 7);
        const unsigned mask = ((1u << bpc) - 1) << shift;
        unsigned char &b = row[bit >> 3];
        b = static_cast<unsigned char>((b & ~mask) | ((value << shift) & mask));
    }
}

// PNG row filters (RFC 2083 6.6): each row starts with its filter type.
int paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return a;
    return pb <= pc ? b : c;
}

// Undoes the predictor of `p` on the `len` bytes at `buf`, in place: PNG rows
// lose their filter byte, so the result (*out_len bytes) starts at `buf` too.
// A last row cut short is undone as far as it goes.
bool unpredict(const ImageDesc::Parms &p, uint64_t row_bytes, unsigned char *buf, uint64_t len,
               uint64_t *out_len, std::string *reason) {
    *out_len = len;
    if (p.predictor == 1) return true;
    if (p.predictor == 2) {
        // TIFF predictor 2: each sample is stored as the difference from the
        // same component of the pixel to its left, modulo 2^bpc.
        const uint64_t samples_per_row = uint64_t(p.columns) * uint64_t(p.colors);
        const uint32_t mask = p.bpc == 16 ? 0xffff : (1u << p.bpc) - 1;
        for (uint64_t start = 0; start < len; start += row_bytes) {
            unsigned char *row = buf + start;
            const uint64_t bits = std::min(row_bytes, len - start) * 8;
            const uint64_t samples = std::min(samples_per_row, bits / uint64_t(p.bpc));
            for (uint64_t k = uint64_t(p.colors); k < samples; ++k)
                put_sample(
                    row, k, p.bpc,
                    (get_sample(row, k, p.bpc) + get_sample(row, k - p.colors, p.bpc)) & mask);
        }
        return true;
    }
    // PNG: row r comes from bytes r * (row_bytes + 1) + 1 onwards and goes to
    // r * row_bytes; the output never overtakes the bytes still to be read.
    const uint64_t bpp = std::max<uint64_t>(1, (uint64_t(p.colors) * uint64_t(p.bpc) + 7) / 8);
    uint64_t in = 0, out = 0;
    while (in < len) {
        const int type = buf[in];
        const uint64_t n = std::min(row_bytes, len - in - 1);
        const unsigned char *src = buf + in + 1;
        unsigned char *row = buf + out;
        const unsigned char *up = out >= row_bytes ? row - row_bytes : nullptr;
        if (type > 4) {
            image_fail(reason, ImageStatus::kDamaged, "a PNG predictor row has the unknown type %d",
                       type);
            return false;
        }
        for (uint64_t i = 0; i < n; ++i) {
            const int a = i >= bpp ? row[i - bpp] : 0;
            const int b = up != nullptr ? up[i] : 0;
            const int c = (up != nullptr && i >= bpp) ? up[i - bpp] : 0;
            int value = src[i];
            if (type == 1) value += a;
            if (type == 2) value += b;
            if (type == 3) value += (a + b) / 2;
            if (type == 4) value += paeth(a, b, c);
            row[i] = static_cast<unsigned char>(value);
        }
        in += n + 1;
        out += n;
    }
    *out_len = out;
    return true;
}

// The predicted bytes that give `wanted` bytes once undone.
uint64_t predicted_bytes(const ImageDesc::Parms &p, uint64_t row_bytes, uint64_t wanted) {
    if (!is_png_predictor(p.predictor)) return wanted;
    const uint64_t rows = wanted / row_bytes, rest = wanted % row_bytes;
    return rows * (row_bytes + 1) + (rest > 0 ? rest + 1 : 0);
}

// The data of an image as it passes through its filters.
struct Stage {
    const unsigned char *data;
    uint64_t len;
    Block held;  // owns `data` once a filter has run
};

// Inflates a Flate stage that feeds another filter: its size is unknown, so
// it grows up to `limit`; then undoes its predictor.
ImageStatus inflate_between(Stage &stage, const ImageDesc::Parms &parms, uint64_t limit,
                            std::string *reason) {
    uint64_t row_bytes = 0;
    if (!predictor_usable(parms, &row_bytes, reason)) return ImageStatus::kDamaged;
    Block out;
    uint64_t produced = 0;
    const uint64_t first = std::min(limit, 4 * stage.len + 4096);
    const int rc = inflate_growing(stage.data, stage.len, first, limit, out, &produced);
    if (rc == -2) return image_fail(reason, ImageStatus::kOutOfMemory, "out of memory");
    if (rc != 0)
        return image_fail(reason, ImageStatus::kDamaged,
                          "the /FlateDecode data is corrupt or decodes to more than %llu bytes",
                          static_cast<unsigned long long>(limit));
    if (!unpredict(parms, row_bytes, out.get(), produced, &produced, reason))
        return ImageStatus::kDamaged;
    stage.held = std::move(out);
    stage.data = stage.held.get();
    stage.len = produced;
    return ImageStatus::kChanged;
}

// Inflates the last Flate stage of a raw image into exactly the bytes that
// give `wanted` decoded bytes; data beyond them is not decoded.
ImageStatus inflate_last(Stage &stage, const ImageDesc::Parms &parms, uint64_t wanted,
                         std::string *reason) {
    uint64_t row_bytes = 0;
    if (!predictor_usable(parms, &row_bytes, reason)) return ImageStatus::kDamaged;
    const uint64_t need = predicted_bytes(parms, row_bytes, wanted);
    if (need / kMaxDeflateRatio > stage.len + 1)
        return image_fail(
            reason, ImageStatus::kDamaged,
            "the data is shorter than the declared size: %llu compressed bytes cannot "
            "hold %llu",
            static_cast<unsigned long long>(stage.len), static_cast<unsigned long long>(need));
    if (need > kMaxInflate)
        return image_fail(
            reason, ImageStatus::kDamaged,
            "the image decodes to %llu bytes, above the 1 GiB that can be decompressed",
            static_cast<unsigned long long>(need));
    Block out(static_cast<unsigned char *>(std::malloc(need > 0 ? need : 1)));
    if (!out) return image_fail(reason, ImageStatus::kOutOfMemory, "out of memory");
    uint64_t produced = 0;
    const int rc = inflate_decompress(stage.data, stage.len, out.get(), need, &produced);
    if (rc == -2) produced = need;  // full: the rest of the data is not needed
    if (rc == -1)
        return image_fail(reason, ImageStatus::kDamaged, "the /FlateDecode data is corrupt");
    if (produced < need)
        return image_fail(reason, ImageStatus::kDamaged,
                          "the data is shorter than the declared size (%llu of %llu bytes)",
                          static_cast<unsigned long long>(produced),
                          static_cast<unsigned long long>(need));
    if (!unpredict(parms, row_bytes, out.get(), need, &produced, reason))
        return ImageStatus::kDamaged;
    stage.held = std::move(out);
    stage.data = stage.held.get();
    stage.len = produced;
    return ImageStatus::kChanged;
}

ImageStatus ascii_stage(Stage &stage, FilterKind kind, std::string *reason) {
    Block out;
    uint64_t produced = 0;
    const FilterStep step = kind == FilterKind::kHex
                                ? decode_ascii_hex(stage.data, stage.len, out, produced)
                                : decode_ascii85(stage.data, stage.len, out, produced);
    if (step == FilterStep::out_of_memory)
        return image_fail(reason, ImageStatus::kOutOfMemory, "out of memory");
    if (step == FilterStep::bad_data)
        return image_fail(reason, ImageStatus::kDamaged, "the data is not valid %s",
                          kind == FilterKind::kHex ? "/ASCIIHexDecode" : "/ASCII85Decode");
    stage.held = std::move(out);
    stage.data = stage.held.get();
    stage.len = produced;
    return ImageStatus::kChanged;
}

// ---- Fill colour ----

// The fill, r, g, b in 0..1, as the components of a device family chosen by
// the component count: 1 gray, 3 RGB, 4 CMYK, any other count colorant
// amounts (ink), as dark as the fill's luma is dark.
void device_fill(int components, double r, double g, double b, double *values) {
    const double luma = 0.299 * r + 0.587 * g + 0.114 * b;
    if (components == 1) {
        values[0] = luma;
    } else if (components == 3) {
        values[0] = r, values[1] = g, values[2] = b;
    } else if (components == 4) {
        const double k = std::min({1 - r, 1 - g, 1 - b});
        values[0] = 1 - r - k, values[1] = 1 - g - k, values[2] = 1 - b - k, values[3] = k;
    } else {
        for (int c = 0; c < components; ++c) values[c] = 1 - luma;
    }
}

// A palette entry of `n` components (0..255) as r, g, b in 0..1.
void palette_rgb(const uint8_t *entry, int n, double *rgb) {
    if (n == 1) {
        rgb[0] = rgb[1] = rgb[2] = entry[0] / 255.0;
    } else if (n == 3) {
        for (int i = 0; i < 3; ++i) rgb[i] = entry[i] / 255.0;
    } else {  // CMYK, the naive way back
        for (int i = 0; i < 3; ++i) rgb[i] = 1 - std::min(1.0, (entry[i] + entry[3]) / 255.0);
    }
}

// The sample in 0..maxval whose decoded value (dmin + s * (dmax - dmin) /
// maxval) is nearest `value`.
uint32_t nearest_sample(double value, double dmin, double dmax, uint32_t maxval) {
    if (dmax == dmin) return 0;
    const double s = std::round((value - dmin) / (dmax - dmin) * maxval);
    if (!(s > 0)) return 0;
    return s >= maxval ? maxval : static_cast<uint32_t>(s);
}

// Sets the covered pixels of `pix` (rows of `row_bytes` bytes, no predictor)
// to `samples`, leaving every other bit as it was.
void paint_cover(unsigned char *pix, uint64_t row_bytes, int components, int bpc,
                 const std::vector<uint32_t> &samples, const ImageCover &cover) {
    // One pixel's bytes, when whole bytes make a pixel.
    unsigned char pixel[64];
    const int pixel_bits = components * bpc;
    const bool whole_bytes = pixel_bits % 8 == 0;
    if (whole_bytes)
        for (int c = 0; c < components; ++c) put_sample(pixel, uint64_t(c), bpc, samples[c]);
    const uint64_t pixel_bytes = uint64_t(pixel_bits) / 8;
    for (const ImageCover::Span &span : cover.spans) {
        unsigned char *row = pix + uint64_t(span.row) * row_bytes;
        for (int32_t x = span.begin; x < span.end; ++x) {
            if (whole_bytes) {
                std::memcpy(row + uint64_t(x) * pixel_bytes, pixel, pixel_bytes);
            } else {
                for (int c = 0; c < components; ++c)
                    put_sample(row, uint64_t(x) * uint64_t(components) + uint64_t(c), bpc,
                               samples[c]);
            }
        }
    }
}

// zlib-wrapped DEFLATE of `len` bytes (at most 2^31), grown as it goes.
ImageStatus deflate_into(const unsigned char *data, uint64_t len, std::vector<uint8_t> &out,
                         std::string *reason) {
    z_stream zs{};
    if (deflateInit(&zs, Z_DEFAULT_COMPRESSION) != Z_OK)
        return image_fail(reason, ImageStatus::kOutOfMemory, "out of memory");
    out.resize(len / 8 + 4096);
    zs.next_in = const_cast<Bytef *>(data);
    zs.avail_in = static_cast<uInt>(len);
    int rc = Z_OK;
    for (;;) {
        zs.next_out = out.data() + zs.total_out;
        zs.avail_out = static_cast<uInt>(out.size() - zs.total_out);
        rc = deflate(&zs, Z_FINISH);
        if (rc != Z_OK && rc != Z_BUF_ERROR) break;
        out.resize(out.size() * 2);
    }
    out.resize(zs.total_out);
    deflateEnd(&zs);
    if (rc != Z_STREAM_END) return image_fail(reason, ImageStatus::kOutOfMemory, "out of memory");
    return ImageStatus::kChanged;
}

// The raw (unfiltered or Flate) half of image_redact.
ImageStatus redact_raw(const ImageDesc &desc, const uint8_t *data, size_t len,
                       const std::vector<ImageQuad> &quads, ImageFill fill,
                       const uint8_t fill_rgb[3], ImageEdit &out, std::string *reason) {
    const int bpc = desc.bpc;
    if (bpc != 1 && bpc != 2 && bpc != 4 && bpc != 8 && bpc != 16)
        return image_fail(reason, ImageStatus::kDamaged,
                          "/BitsPerComponent %d is not 1, 2, 4, 8 or 16", bpc);
    if (desc.width < 1 || desc.height < 1)
        return image_fail(reason, ImageStatus::kDamaged, "the image size %d x %d is not positive",
                          desc.width, desc.height);
    if (!image_check_space(desc, reason)) return ImageStatus::kDamaged;
    const uint64_t row_bytes =
        (uint64_t(desc.width) * uint64_t(desc.components) * uint64_t(bpc) + 7) / 8;
    if (row_bytes > kMaxDecoded || row_bytes * uint64_t(desc.height) > kMaxDecoded)
        return image_fail(
            reason, ImageStatus::kDamaged,
            "the image (%d x %d pixels of %d x %d bits) decodes to more than 2^31 bytes",
            desc.width, desc.height, desc.components, bpc);
    const uint64_t size = row_bytes * uint64_t(desc.height);

    std::vector<uint32_t> samples;
    if (!image_fill_samples(desc, desc.components, bpc == 16 ? 0xffff : (1u << bpc) - 1, fill,
                            fill_rgb, samples, reason))
        return ImageStatus::kDamaged;

    // Each filter in turn; the last Flate stage decodes only what the image needs.
    Stage stage{data, len, nullptr};
    const size_t count = desc.filters.size();
    for (size_t k = 0; k < count; ++k) {
        const char *full = nullptr;
        const FilterKind kind = filter_kind(desc.filters[k], &full);
        const ImageDesc::Parms parms = k < desc.parms.size() ? desc.parms[k] : ImageDesc::Parms{};
        ImageStatus step;
        if (kind == FilterKind::kFlate && k + 1 == count) {
            step = inflate_last(stage, parms, size, reason);
        } else if (kind == FilterKind::kFlate) {
            // What feeds another filter is text or data of about the image's
            // size; eight times that is more than any of them needs.
            step = inflate_between(stage, parms, std::min(kMaxInflate, 8 * size + 65536), reason);
        } else {
            step = ascii_stage(stage, kind, reason);
        }
        if (step != ImageStatus::kChanged) return step;
    }
    if (stage.len < size)
        return image_fail(reason, ImageStatus::kDamaged,
                          "the data is shorter than the declared size (%llu of %llu bytes)",
                          static_cast<unsigned long long>(stage.len),
                          static_cast<unsigned long long>(size));
    if (!stage.held) {  // unfiltered: the caller's bytes are not ours to change
        stage.held.reset(static_cast<unsigned char *>(std::malloc(size)));
        if (!stage.held) return image_fail(reason, ImageStatus::kOutOfMemory, "out of memory");
        std::memcpy(stage.held.get(), data, size);
    }

    ImageCover cover;
    image_cover(quads, desc.width, desc.height, 1, 1, desc.width, desc.height, cover);
    if (cover.empty()) return ImageStatus::kUntouched;
    paint_cover(stage.held.get(), row_bytes, desc.components, bpc, samples, cover);
    const ImageStatus packed = deflate_into(stage.held.get(), size, out.data, reason);
    if (packed != ImageStatus::kChanged) return packed;
    out.filters = {"FlateDecode"};
    out.decode_parms_dropped = true;
    return ImageStatus::kChanged;
}

// Runs the filters in front of DCTDecode, then the JPEG edit.
ImageStatus redact_dct(const ImageDesc &desc, const uint8_t *data, size_t len,
                       const std::vector<ImageQuad> &quads, ImageFill fill,
                       const uint8_t fill_rgb[3], ImageEdit &out, std::string *reason) {
    // A JPEG is smaller than its pixels; the declared pixels bound what a
    // Flate stage in front of it may produce.
    const uint64_t pixels = uint64_t(std::max(desc.width, 1)) * uint64_t(std::max(desc.height, 1)) *
                            uint64_t(std::clamp(desc.components, 1, 32));
    const uint64_t limit = std::min(kMaxInflate, 8 * std::min(pixels, kMaxDecoded) + 65536);
    Stage stage{data, len, nullptr};
    const size_t last = desc.filters.size() - 1;
    for (size_t k = 0; k < last; ++k) {
        const char *full = nullptr;
        const FilterKind kind = filter_kind(desc.filters[k], &full);
        const ImageDesc::Parms parms = k < desc.parms.size() ? desc.parms[k] : ImageDesc::Parms{};
        const ImageStatus step = kind == FilterKind::kFlate
                                     ? inflate_between(stage, parms, limit, reason)
                                     : ascii_stage(stage, kind, reason);
        if (step != ImageStatus::kChanged) return step;
    }
    const int transform = last < desc.parms.size() ? desc.parms[last].color_transform : -1;
    return image_redact_jpeg(desc, stage.data, stage.len, transform, quads, fill, fill_rgb, out,
                             reason);
}

}  // namespace

bool image_check_space(const ImageDesc &desc, std::string *reason) {
    using Space = ImageDesc::Space;
    if (desc.image_mask) {
        if (desc.components == 1 && desc.bpc == 1) return true;
        image_fail(reason, ImageStatus::kDamaged,
                   "a stencil mask has 1 component of 1 bit, not %d of %d bits", desc.components,
                   desc.bpc);
        return false;
    }
    int expected = desc.components;
    if (desc.space == Space::kGray || desc.space == Space::kIndexed) expected = 1;
    if (desc.space == Space::kRGB) expected = 3;
    if (desc.space == Space::kCMYK) expected = 4;
    if (desc.components >= 1 && desc.components <= 32 && desc.components == expected) return true;
    image_fail(reason, ImageStatus::kDamaged, "the colour space does not have %d components",
               desc.components);
    return false;
}

void image_cover(const std::vector<ImageQuad> &quads, double width, double height, double cell_w,
                 double cell_h, int32_t cols, int32_t rows, ImageCover &cover) {
    cover.spans.clear();
    const double grid_w = width / cell_w, grid_h = height / cell_h;
    if (cols < 1 || rows < 1 || !(grid_w > 0) || !(grid_h > 0)) return;
    for (const ImageQuad &quad : quads) {
        const Polygon poly = quad_in_cells(quad, grid_w, grid_h);
        if (poly.n < 3 || area(poly) <= kCellEpsilon) continue;
        double top = poly.p[0].y, bottom = poly.p[0].y;
        for (int i = 1; i < poly.n; ++i) {
            top = std::min(top, poly.p[i].y);
            bottom = std::max(bottom, poly.p[i].y);
        }
        const int32_t first_row = static_cast<int32_t>(std::max(0.0, std::floor(top)));
        const int32_t end_row = static_cast<int32_t>(std::min(double(rows), std::ceil(bottom)));
        for (int32_t r = first_row; r < end_row; ++r) {
            // The quad's part within this row of cells; the cells it meets
            // are those its horizontal extent overlaps.
            const Polygon strip = clip(clip(poly, 1, r, true), 1, r + 1.0, false);
            if (strip.n < 3 || area(strip) <= kCellEpsilon) continue;
            double left = strip.p[0].x, right = strip.p[0].x;
            for (int i = 1; i < strip.n; ++i) {
                left = std::min(left, strip.p[i].x);
                right = std::max(right, strip.p[i].x);
            }
            const double begin = std::max(0.0, std::floor(left + kCellEpsilon));
            const double end = std::min(double(cols), std::ceil(right - kCellEpsilon));
            if (begin < end)
                cover.spans.push_back({r, static_cast<int32_t>(begin), static_cast<int32_t>(end)});
        }
    }
    // Spans of several quads in one row merge.
    std::sort(cover.spans.begin(), cover.spans.end(),
              [](const ImageCover::Span &a, const ImageCover::Span &b) {
                  return a.row < b.row || (a.row == b.row && a.begin < b.begin);
              });
    size_t kept = 0;
    for (const ImageCover::Span &s : cover.spans) {
        if (kept > 0 && cover.spans[kept - 1].row == s.row && cover.spans[kept - 1].end >= s.begin)
            cover.spans[kept - 1].end = std::max(cover.spans[kept - 1].end, s.end);
        else
            cover.spans[kept++] = s;
    }
    cover.spans.resize(kept);
}

bool image_fill_samples(const ImageDesc &desc, int components, uint32_t maxval, ImageFill fill,
                        const uint8_t fill_rgb[3], std::vector<uint32_t> &samples,
                        std::string *reason) {
    using Space = ImageDesc::Space;
    const bool indexed = desc.space == Space::kIndexed && !desc.image_mask;
    if (!desc.decode.empty() && desc.decode.size() != size_t(2 * components)) {
        image_fail(reason, ImageStatus::kDamaged, "/Decode has %zu numbers where %d are needed",
                   desc.decode.size(), 2 * components);
        return false;
    }
    for (double d : desc.decode) {
        if (!std::isfinite(d)) {
            image_fail(reason, ImageStatus::kDamaged, "/Decode holds a number that is not finite");
            return false;
        }
    }
    // Decode ranges: [0 1] by default, [0 2^bpc-1] for indices.
    auto dmin = [&](int c) { return desc.decode.empty() ? 0.0 : desc.decode[2 * c]; };
    auto dmax = [&](int c) {
        return desc.decode.empty() ? (indexed ? double(maxval) : 1.0) : desc.decode[2 * c + 1];
    };
    samples.assign(size_t(components), 0);

    if (desc.image_mask) {  // a stencil paints where its sample decodes to 0
        samples[0] = nearest_sample(0, dmin(0), dmax(0), maxval);
        return true;
    }
    if (fill == ImageFill::kOpaque) {
        for (int c = 0; c < components; ++c)
            samples[c] = nearest_sample(1, dmin(c), dmax(c), maxval);
        return true;
    }
    const double r = fill_rgb[0] / 255.0, g = fill_rgb[1] / 255.0, b = fill_rgb[2] / 255.0;
    if (indexed) {
        const int n = desc.base_components;
        if ((n != 1 && n != 3 && n != 4) || desc.palette.size() < size_t(n)) {
            image_fail(reason, ImageStatus::kDamaged,
                       "the /Indexed palette (%zu bytes, %d components) has no entry",
                       desc.palette.size(), n);
            return false;
        }
        const double hival = double(desc.palette.size() / size_t(n) - 1);
        // Every sample maps to one entry through /Decode; the nearest wins.
        double best = INFINITY;
        const uint32_t last = std::min<uint32_t>(maxval, 65535);
        for (uint32_t s = 0; s <= last; ++s) {
            const double index = std::round(dmin(0) + s * (dmax(0) - dmin(0)) / maxval);
            const size_t entry = static_cast<size_t>(std::clamp(index, 0.0, hival));
            double rgb[3];
            palette_rgb(desc.palette.data() + entry * size_t(n), n, rgb);
            const double dist = (rgb[0] - r) * (rgb[0] - r) + (rgb[1] - g) * (rgb[1] - g) +
                                (rgb[2] - b) * (rgb[2] - b);
            if (dist < best) {
                best = dist;
                samples[0] = s;
            }
        }
        return true;
    }
    double values[32];
    device_fill(components, r, g, b, values);
    for (int c = 0; c < components; ++c)
        samples[c] = nearest_sample(values[c], dmin(c), dmax(c), maxval);
    return true;
}

ImageStatus image_redact(const ImageDesc &desc, const uint8_t *data, size_t len,
                         const std::vector<ImageQuad> &quads, ImageFill fill,
                         const uint8_t fill_rgb[3], ImageEdit &out, std::string *reason) {
    out = ImageEdit{};
    if (reason != nullptr) reason->clear();
    static const uint8_t kBlack[3] = {0, 0, 0};
    if (fill_rgb == nullptr) fill_rgb = kBlack;
    try {
        if (!meets_unit_square(quads)) return ImageStatus::kUntouched;
        if (data == nullptr) len = 0;
        static const uint8_t kNoData[1] = {0};
        if (len == 0) data = kNoData;

        // Refused filters first, wherever they stand; DCTDecode only last.
        bool dct = false;
        for (size_t k = 0; k < desc.filters.size(); ++k) {
            const char *full = nullptr;
            const FilterKind kind = filter_kind(desc.filters[k], &full);
            if (kind == FilterKind::kRefused)
                return image_fail(reason, ImageStatus::kUnsupported, "%s", full);
            if (kind == FilterKind::kDct) {
                if (k + 1 != desc.filters.size())
                    return image_fail(reason, ImageStatus::kDamaged,
                                      "/DCTDecode is followed by another filter");
                dct = true;
            }
        }
        ImageStatus status = dct ? redact_dct(desc, data, len, quads, fill, fill_rgb, out, reason)
                                 : redact_raw(desc, data, len, quads, fill, fill_rgb, out, reason);
        if (status != ImageStatus::kChanged) out = ImageEdit{};
        return status;
    } catch (const std::bad_alloc &) {
        out = ImageEdit{};
        return image_fail(reason, ImageStatus::kOutOfMemory, "out of memory");
    } catch (...) {
        out = ImageEdit{};
        return image_fail(reason, ImageStatus::kDamaged, "the image could not be rewritten");
    }
}

ImageStatus image_fail(std::string *reason, ImageStatus status, const char *format, ...) {
    if (reason != nullptr) {
        char text[256];
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
        *reason = text;
    }
    return status;
}
