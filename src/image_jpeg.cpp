// JPEG images: the 8x8 blocks under the quads are replaced in the DCT domain
// by TurboJPEG's lossless transform with a coefficient filter; every other
// block keeps its quantised coefficients, so the image is never decoded to
// pixels and compressed again.
//
// The markers are read here first (ITU-T T.81 annex B): the frame header gives
// the components and their sampling, the quantisation tables the DC step of
// each component, an Adobe APP14 marker the colour transform. The data handed
// to TurboJPEG is rebuilt without APPn and COM segments, which may carry a
// thumbnail or text of the whole unredacted image, and with an Adobe marker
// that states the colour transform this image was read with.
#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "image.h"

namespace {

constexpr uint64_t kMaxSamples = uint64_t{1} << 31;  // width x height x components


struct JpegComponent {
    int h, v;   // sampling factors, 1..4
    int table;  // quantisation table slot, 0..3
};

// What the markers say.
struct JpegInfo {
    int frame = -1;  // the SOFn marker code
    int precision = 0, width = 0, height = 0, count = 0;
    JpegComponent comp[4] = {};
    int dc_step[4] = {0, 0, 0, 0};  // DC quantiser of each table slot, 0 while undefined
    int adobe_transform = -1;       // from an Adobe APP14 marker
    int scans = 0;
    // Byte ranges of the input kept for TurboJPEG, in order.
    std::vector<std::pair<size_t, size_t>> kept;
};

uint32_t be16(const uint8_t *p) {
    return uint32_t(p[0]) << 8 | p[1];
}

bool is_rst(uint8_t m) {
    return m >= 0xd0 && m <= 0xd7;
}

// The end of the entropy-coded data that starts at `pos`: the first marker
// other than a restart (0xFF 0x00 is a stuffed data byte, 0xFF 0xFF fill).
size_t entropy_end(const uint8_t *d, size_t len, size_t pos) {
    for (; pos + 1 < len; ++pos) {
        if (d[pos] != 0xff) continue;
        const uint8_t next = d[pos + 1];
        if (next != 0 && next != 0xff && !is_rst(next)) return pos;
    }
    return len;
}

ImageStatus read_frame(const uint8_t *seg, size_t n, int marker, JpegInfo &info,
                       std::string *reason) {
    if (info.frame >= 0)
        return image_fail(reason, ImageStatus::kDamaged, "the JPEG has two frames");
    // Lossless (SOF3, SOF11) and hierarchical (SOF5-7, SOF13-15) frames hold
    // no DCT blocks to edit.
    if (marker == 0xc3 || (marker >= 0xc5 && marker <= 0xc7) || marker == 0xcb || marker >= 0xcd)
        return image_fail(
            reason, ImageStatus::kDamaged,
            "the JPEG is lossless or hierarchical (marker 0x%02X), which has no blocks "
            "to edit",
            marker);
    if (n < 6)
        return image_fail(reason, ImageStatus::kDamaged, "the JPEG frame header is cut short");
    info.frame = marker;
    info.precision = seg[0];
    info.height = static_cast<int>(be16(seg + 1));
    info.width = static_cast<int>(be16(seg + 3));
    info.count = seg[5];
    if (info.count < 1 || info.count > 4 || n < 6 + 3 * size_t(info.count))
        return image_fail(reason, ImageStatus::kDamaged, "the JPEG frame has %d colour components",
                          info.count);
    for (int c = 0; c < info.count; ++c) {
        const uint8_t *p = seg + 6 + 3 * c;
        info.comp[c] = {p[1] >> 4, p[1] & 15, p[2]};
        if (info.comp[c].h < 1 || info.comp[c].h > 4 || info.comp[c].v < 1 || info.comp[c].v > 4 ||
            info.comp[c].table > 3)
            return image_fail(reason, ImageStatus::kDamaged,
                              "a JPEG component has sampling %dx%d or table %d", info.comp[c].h,
                              info.comp[c].v, info.comp[c].table);
    }
    return ImageStatus::kChanged;
}

ImageStatus read_tables(const uint8_t *seg, size_t n, JpegInfo &info, std::string *reason) {
    size_t p = 0;
    while (p < n) {
        const int precision = seg[p] >> 4, slot = seg[p] & 15;
        const size_t size = precision == 0 ? 64 : 128;
        if (precision > 1 || slot > 3 || p + 1 + size > n)
            return image_fail(reason, ImageStatus::kDamaged,
                              "a JPEG quantisation table is malformed");
        // The first value, in zigzag order, is the DC step.
        info.dc_step[slot] = precision == 0 ? seg[p + 1] : static_cast<int>(be16(seg + p + 1));
        p += 1 + size;
    }
    return ImageStatus::kChanged;
}

// Walks the markers of `d`, filling `info`.
ImageStatus read_markers(const uint8_t *d, size_t len, JpegInfo &info, std::string *reason) {
    if (len < 4 || d[0] != 0xff || d[1] != 0xd8)
        return image_fail(reason, ImageStatus::kDamaged, "the data is not a JPEG (no SOI marker)");
    size_t pos = 2;
    for (;;) {
        // Bytes between segments are skipped, then any fill bytes.
        while (pos < len && d[pos] != 0xff) ++pos;
        while (pos < len && d[pos] == 0xff) ++pos;
        if (pos >= len) break;  // no EOI: what was read stands
        const uint8_t marker = d[pos++];
        if (marker == 0xd9) break;  // EOI
        // Markers without a segment (SOI, RSTn, TEM) and stray bytes are dropped.
        if (marker == 0 || marker == 0x01 || marker == 0xd8 || is_rst(marker)) continue;
        if (pos + 2 > len || be16(d + pos) < 2 || pos + be16(d + pos) > len)
            return image_fail(reason, ImageStatus::kDamaged,
                              "a JPEG marker segment (0x%02X) is cut short", marker);
        const size_t start = pos - 2, end = pos + be16(d + pos);
        const uint8_t *seg = d + pos + 2;
        const size_t n = end - pos - 2;
        pos = end;
        ImageStatus status = ImageStatus::kChanged;
        if ((marker >= 0xe0 && marker <= 0xef) || marker == 0xfe) {
            // APPn and COM are left out; only the Adobe transform is kept.
            if (marker == 0xee && n >= 12 && std::memcmp(seg, "Adobe", 5) == 0)
                info.adobe_transform = seg[11];
            continue;
        }
        if (marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 &&
            marker != 0xcc) {
            status = read_frame(seg, n, marker, info, reason);
        } else if (marker == 0xdb) {
            status = read_tables(seg, n, info, reason);
        } else if (marker == 0xda) {  // a scan: its header, then its coded data
            if (info.frame < 0)
                return image_fail(reason, ImageStatus::kDamaged,
                                  "a JPEG scan comes before the frame");
            ++info.scans;
            pos = entropy_end(d, len, pos);
            info.kept.push_back({start, pos});
            continue;
        }
        if (status != ImageStatus::kChanged) return status;
        info.kept.push_back({start, end});
    }
    if (info.frame < 0 || info.scans == 0)
        return image_fail(reason, ImageStatus::kDamaged, "the JPEG has no %s",
                          info.frame < 0 ? "frame" : "scan");
    if (info.precision != 8)
        return image_fail(reason, ImageStatus::kDamaged, "the JPEG has %d-bit samples, not 8",
                          info.precision);
    if (info.width < 1 || info.height < 1)
        return image_fail(reason, ImageStatus::kDamaged, "the JPEG frame is %d x %d", info.width,
                          info.height);
    for (int c = 0; c < info.count; ++c)
        if (info.dc_step[info.comp[c].table] < 1)
            return image_fail(reason, ImageStatus::kDamaged, "the JPEG lacks quantisation table %d",
                              info.comp[c].table);
    return ImageStatus::kChanged;
}

// The colour transform the image is read with: an Adobe marker decides;
// without one, /ColorTransform, which defaults to 1 for three components and
// to 0 otherwise. Returns the Adobe transform code to write (0 none, 1 YCbCr,
// 2 YCCK).
int transform_code(const JpegInfo &info, int color_transform) {
    bool transformed;
    if (info.adobe_transform >= 0)
        transformed = info.adobe_transform != 0;
    else if (color_transform >= 0)
        transformed = color_transform != 0;
    else
        transformed = info.count == 3;
    if (!transformed) return 0;
    return info.count == 4 ? 2 : 1;
}

// The component levels (0..255, before the level shift) of sample values
// `s`, after the colour transform (JFIF YCbCr; YCCK inverts C, M, Y first).
void transformed_levels(const std::vector<uint32_t> &s, int count, int code, double *level) {
    for (int c = 0; c < count; ++c) level[c] = s[c];
    if (code == 0 || count < 3) return;
    double r = s[0], g = s[1], b = s[2];
    if (code == 2) r = 255 - r, g = 255 - g, b = 255 - b;
    level[0] = 0.299 * r + 0.587 * g + 0.114 * b;
    level[1] = -0.168735892 * r - 0.331264108 * g + 0.5 * b + 128;
    level[2] = 0.5 * r - 0.418687589 * g - 0.081312411 * b + 128;
}

// The quantised DC coefficient of a flat block at `level`. A flat block's DC
// is 8 x (level - 128) (T.81 A.3.3). Levels at 0 or 255 round outwards, so
// that the decoder's clamp gives them exactly.
short flat_dc(double level, int step) {
    const double exact = (level - 128) * 8 / step;
    double q = std::round(exact);
    if (level >= 255) q = std::ceil(exact);
    if (level <= 0) q = std::floor(exact);
    return static_cast<short>(std::clamp(q, -1024.0, 1023.0));
}

// What the coefficient filter needs, passed through tjtransform::data.
struct BlockFill {
    const ImageCover *cover;  // one per component, in blocks
    short dc[4];
    int count;
};

// Called by TurboJPEG for each strip of blocks of each component: every
// covered block becomes DC only.
int fill_blocks(short *coeffs, tjregion array, tjregion, int component, int, tjtransform *t) {
    const BlockFill &job = *static_cast<const BlockFill *>(t->data);
    if (component < 0 || component >= job.count || array.w < 8 || array.h < 8) return -1;
    const std::vector<ImageCover::Span> &spans = job.cover[component].spans;
    const int32_t across = array.w / 8, first_col = array.x / 8;
    for (int32_t j = 0; j < array.h / 8; ++j) {
        const int32_t row = array.y / 8 + j;
        auto it = std::lower_bound(spans.begin(), spans.end(), row,
                                   [](const ImageCover::Span &s, int32_t r) { return s.row < r; });
        for (; it != spans.end() && it->row == row; ++it) {
            const int32_t begin = std::max(it->begin, first_col);
            const int32_t end = std::min(it->end, first_col + across);
            for (int32_t col = begin; col < end; ++col) {
                short *block = coeffs + (int64_t(j) * across + (col - first_col)) * 64;
                block[0] = job.dc[component];
                std::fill(block + 1, block + 64, short{0});
            }
        }
    }
    return 0;
}

struct TjHandle {
    tjhandle h = nullptr;
    ~TjHandle() {
        if (h != nullptr) tjDestroy(h);
    }
};

struct TjBuffer {
    unsigned char *p = nullptr;
    ~TjBuffer() { tjFree(p); }
};

}  // namespace

ImageStatus image_redact_jpeg(const ImageDesc &desc, const uint8_t *jpeg, size_t len,
                              int color_transform, const std::vector<ImageQuad> &quads,
                              ImageFill fill, const uint8_t fill_rgb[3], ImageEdit &out,
                              std::string *reason) {
    if (desc.image_mask)
        return image_fail(reason, ImageStatus::kDamaged, "a stencil mask cannot be JPEG data");
    JpegInfo info;
    ImageStatus status = read_markers(jpeg, len, info, reason);
    if (status != ImageStatus::kChanged) return status;
    if (!image_check_space(desc, reason)) return ImageStatus::kDamaged;
    if (desc.components != info.count)
        return image_fail(reason, ImageStatus::kDamaged,
                          "the components do not match: %d in the JPEG, %d in the colour space",
                          info.count, desc.components);
    if (uint64_t(info.width) * uint64_t(info.height) * uint64_t(info.count) > kMaxSamples)
        return image_fail(
            reason, ImageStatus::kDamaged,
            "the JPEG (%d x %d pixels of %d components) decodes to more than 2^31 bytes",
            info.width, info.height, info.count);

    // Each component's blocks, as cells over the image: a block of a component
    // sampled h of hmax times across spans 8 x hmax / h pixels.
    int hmax = 1, vmax = 1;
    for (int c = 0; c < info.count; ++c) {
        hmax = std::max(hmax, info.comp[c].h);
        vmax = std::max(vmax, info.comp[c].v);
    }
    ImageCover cover[4];
    uint64_t blocks = 0;
    bool any = false;
    for (int c = 0; c < info.count; ++c) {
        const JpegComponent &k = info.comp[c];
        const int64_t samples_across = (int64_t(info.width) * k.h + hmax - 1) / hmax;
        const int64_t samples_down = (int64_t(info.height) * k.v + vmax - 1) / vmax;
        const int32_t cols = static_cast<int32_t>((samples_across + 7) / 8);
        const int32_t rows = static_cast<int32_t>((samples_down + 7) / 8);
        blocks += uint64_t(cols) * uint64_t(rows);
        image_cover(quads, info.width, info.height, 8.0 * hmax / k.h, 8.0 * vmax / k.v, cols, rows,
                    cover[c]);
        any = any || !cover[c].empty();
    }
    // Huffman coding spends at least one bit on every block. Arithmetic
    // coding spends less on flat blocks, but a JPEG that claims more than 64
    // blocks per bit of data is taken for damaged rather than transformed,
    // which would cost time and memory out of all proportion to its bytes.
    const uint64_t blocks_per_byte = info.frame < 0xc8 ? 8 : 512;
    if (blocks > blocks_per_byte * uint64_t(len) + 64)
        return image_fail(reason, ImageStatus::kDamaged,
                          "the JPEG data (%zu bytes) is too short for %llu blocks", len,
                          static_cast<unsigned long long>(blocks));
    if (!any) return ImageStatus::kUntouched;

    std::vector<uint32_t> samples;
    if (!image_fill_samples(desc, info.count, 255, fill, fill_rgb, samples, reason))
        return ImageStatus::kDamaged;
    const int code = transform_code(info, color_transform);
    double level[4];
    transformed_levels(samples, info.count, code, level);
    BlockFill job{cover, {0, 0, 0, 0}, info.count};
    for (int c = 0; c < info.count; ++c)
        job.dc[c] = flat_dc(level[c], info.dc_step[info.comp[c].table]);

    // SOI, an Adobe marker stating the transform (three or four components),
    // the kept segments and scans, EOI.
    std::vector<uint8_t> rebuilt = {0xff, 0xd8};
    if (info.count >= 3) {
        const uint8_t adobe[] = {0xff, 0xee, 0,   14, 'A', 'd', 'o', 'b',
                                 'e',  0,    100, 0,  0,   0,   0,   static_cast<uint8_t>(code)};
        rebuilt.insert(rebuilt.end(), adobe, adobe + sizeof adobe);
    }
    for (const auto &[from, to] : info.kept) rebuilt.insert(rebuilt.end(), jpeg + from, jpeg + to);
    rebuilt.push_back(0xff);
    rebuilt.push_back(0xd9);

    TjHandle handle;
    handle.h = tjInitTransform();
    if (handle.h == nullptr) return image_fail(reason, ImageStatus::kOutOfMemory, "out of memory");
    tjtransform transform{};
    transform.op = TJXOP_NONE;
    // A progressive JPEG stays progressive.
    const bool progressive = info.frame == 0xc2 || info.frame == 0xca;
    transform.options = progressive ? TJXOPT_PROGRESSIVE : 0;
    transform.data = &job;
    transform.customFilter = fill_blocks;
    TjBuffer result;
    unsigned long result_len = 0;
    // A warning (data cut short, a bad Huffman code) stops the transform: the
    // blocks it would fill in are not the image's own.
    if (tjTransform(handle.h, rebuilt.data(), rebuilt.size(), 1, &result.p, &result_len, &transform,
                    TJFLAG_STOPONWARNING) != 0)
        return image_fail(reason, ImageStatus::kDamaged, "the JPEG data cannot be read (%s)",
                          tjGetErrorStr2(handle.h));
    out.data.assign(result.p, result.p + result_len);
    out.filters = {"DCTDecode"};
    out.decode_parms_dropped = true;
    return ImageStatus::kChanged;
}
