// Image pixel redaction: the pixels of one image that lie under redaction
// boxes are set to the box colour, in the image's own encoded data. Works on
// an image's parameters and bytes alone; placing the image on the page (the
// CTM, boxes in page space) is the caller's job.
#ifndef INKVEIL_IMAGE_H
#define INKVEIL_IMAGE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What an image's dictionary says, already resolved by the caller (names
// without their slash).
struct ImageDesc {
    int32_t width = 0, height = 0;
    int bpc = 8;         // /BitsPerComponent: 1, 2, 4, 8, 16 (stencil masks: 1)
    int components = 1;  // colour components per pixel (1 for /Indexed and masks)
    // kOther is any space known only by its component count: ICC-based spaces
    // of 1, 3 or 4 components are filled as gray, RGB and CMYK; any other
    // count is taken as colorant amounts (Separation, DeviceN).
    enum class Space { kGray, kRGB, kCMYK, kIndexed, kOther } space = Space::kGray;
    int base_components = 0;           // /Indexed: components of the base space (1, 3 or 4)
    Space base_space = Space::kGray;   // /Indexed: family of the base space
    std::vector<uint8_t> palette;      // /Indexed: (hival + 1) * base_components bytes
    bool image_mask = false;           // /ImageMask true (a stencil: bpc 1, no colour space)
    std::vector<double> decode;        // /Decode, empty for the default
    std::vector<std::string> filters;  // /Filter in order, e.g. {"ASCII85Decode", "FlateDecode"}
    struct Parms {
        int predictor = 1, colors = 1, bpc = 8, columns = 1;
        int color_transform = -1;  // /ColorTransform of a DCTDecode filter; -1 when absent
    };
    // /DecodeParms per filter (same length as filters, defaults where absent).
    std::vector<Parms> parms;
};

// A convex quadrilateral in the image's unit square: (0,0) is the lower-left
// corner of the image as drawn, (1,1) the upper-right; the first row of the
// data is the TOP row (v = 1 .. 1 - 1/height). The corners may come in either
// order; four corners that are not convex are taken by their convex hull. A
// quad with a corner that is not a finite number meets nothing.
struct ImageQuad {
    double u[4], v[4];
};

// The box colour; or, for a soft mask / stencil mask, fully opaque.
enum class ImageFill { kColour, kOpaque };

struct ImageEdit {
    std::vector<uint8_t> data;  // the new stream data
    // The filters of the new data: {"FlateDecode"} or {"DCTDecode"}.
    std::vector<std::string> filters;
    // The new data needs no /DecodeParms (no predictor; a JPEG states its own
    // colour transform): the caller removes the entry.
    bool decode_parms_dropped = true;
};

enum class ImageStatus { kChanged, kUntouched, kUnsupported, kDamaged, kOutOfMemory };

// Sets every pixel whose area meets one of `quads` (a pixel is a cell of the
// unit square; meeting means the open interiors intersect) to the fill, and
// writes the image anew in `out`. Returns:
// - kUntouched when no quad meets the image (then `out` is empty). This is
//   decided before anything else, so an image no box reaches is never refused;
// - kUnsupported with *reason set to the filter's full name (e.g.
//   "JBIG2Decode") for JBIG2Decode, CCITTFaxDecode, JPXDecode, LZWDecode,
//   RunLengthDecode or an unknown filter;
// - kDamaged with *reason describing it: data shorter than the declared size,
//   a JPEG that cannot be read, a bpc not in the list, a /Decode of the wrong
//   length, more than 2^31 bytes decoded, a predictor that cannot be applied;
// - kOutOfMemory when an allocation fails;
// - kChanged otherwise.
// Flate and unfiltered images come back as {"FlateDecode"} data with no
// predictor; their pixels outside the quads keep their exact sample values.
// JPEG images come back as {"DCTDecode"}: each 8x8 block of each component
// that meets a quad becomes flat at the fill, every other block keeps its
// coefficients (the image is never decoded to pixels). /ColorTransform is
// written into the new JPEG as an Adobe marker, so /DecodeParms may go. Its
// APPn and COM segments, which can hold a thumbnail of the whole image or text
// about it, are left out. A JPEG that reads only with a warning (data cut
// short, a bad code), and lossless, hierarchical or 12-bit JPEGs, are kDamaged.
// Data beyond the declared size is ignored; Flate data that must decode to
// more than 1 GiB (the inflate decoder's limit) is kDamaged.
// The fill in the image's space: gray by luma weights (0.299, 0.587, 0.114),
// CMYK as c = 1 - r - k, m = 1 - g - k, y = 1 - b - k with
// k = min(1 - r, 1 - g, 1 - b), /Indexed the palette entry nearest in RGB,
// each through the inverse of /Decode. kOpaque sets a stencil (/ImageMask)
// to the value that paints and any other image to the value that decodes to
// 1.0 (opaque, for a soft mask); a stencil under a kColour fill paints too.
// `fill_rgb` is 0..255 each (null: black). `reason` may be null. Memory: the decoded image,
// the encoded data and the new data. Never throws.
ImageStatus image_redact(const ImageDesc &desc, const uint8_t *data, size_t len,
                         const std::vector<ImageQuad> &quads, ImageFill fill,
                         const uint8_t fill_rgb[3], ImageEdit &out, std::string *reason);

// ---- Shared by image.cpp and image_jpeg.cpp ----

// Sets *reason (when asked for) from a printf format and returns `status`.
ImageStatus image_fail(std::string *reason, ImageStatus status, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

// The cells of a grid laid over the image that the quads meet: in row `row`,
// the columns [begin, end). Sorted by row, then column; spans never overlap.
struct ImageCover {
    struct Span {
        int32_t row, begin, end;
    };
    std::vector<Span> spans;
    bool empty() const { return spans.empty(); }
};

// Lays a grid of `cols` x `rows` cells, each `cell_w` x `cell_h` pixels, from
// the top-left corner of an image of `width` x `height` pixels, and records
// the cells whose area within the image meets a quad. Cost: the rows each quad
// spans, plus the spans.
void image_cover(const std::vector<ImageQuad> &quads, double width, double height, double cell_w,
                 double cell_h, int32_t cols, int32_t rows, ImageCover &cover);

// Checks that the component count fits the colour space and that a stencil
// mask has 1 component of 1 bit; sets *reason otherwise.
bool image_check_space(const ImageDesc &desc, std::string *reason);

// The sample value of each of `components` components that gives the fill,
// for samples of 0..maxval. Fails with *reason set for a /Decode of the wrong
// length or a bad palette.
bool image_fill_samples(const ImageDesc &desc, int components, uint32_t maxval, ImageFill fill,
                        const uint8_t fill_rgb[3], std::vector<uint32_t> &samples,
                        std::string *reason);

// The JPEG half of image_redact: `jpeg` is the data once the filters in front
// of DCTDecode are undone; `color_transform` is the DCTDecode /ColorTransform
// (-1 when absent).
ImageStatus image_redact_jpeg(const ImageDesc &desc, const uint8_t *jpeg, size_t len,
                              int color_transform, const std::vector<ImageQuad> &quads,
                              ImageFill fill, const uint8_t fill_rgb[3], ImageEdit &out,
                              std::string *reason);

#endif
