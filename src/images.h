// Images of a document under redaction boxes: an image's parameters read
// from its dictionary (an Image XObject, or an inline image's abbreviated
// one), and its copy with the covered pixels set to the box colour.
#ifndef INKVEIL_IMAGES_H
#define INKVEIL_IMAGES_H

#include <cstdint>
#include <string>
#include <vector>

#include "document.h"
#include "geometry.h"
#include "image.h"
#include "pdfobj.h"

// Reads the parameters of an image from its dictionary; `resources` names
// colour spaces the dictionary refers to by name. Inline image dictionaries
// may use the abbreviated keys and names (/W, /BPC, /CS /G, /F /Fl, ...).
// False with *reason set when the dictionary cannot describe an image.
bool image_desc_read(const Doc &doc, const PdfObj &dict, const PdfObj &resources, bool inline_image,
                     ImageDesc &desc, std::string *reason);

// The boxes (quads in page space) that meet the image drawn by `placement`
// (its unit square to page space), in the image's unit square. Empty when
// none does, or when the placement cannot be inverted (the image is a line).
std::vector<ImageQuad> image_quads(const Matrix &placement, const std::vector<Quad> &boxes);

// True when a quad reaches further into the image than half a pixel from
// its edges: a box that only touches an image does not make the library
// refuse an encoding it cannot rewrite.
bool image_quads_reach_inside(const std::vector<ImageQuad> &quads, int32_t width, int32_t height);

// A redacted copy of an image: the data and the dictionary entries that
// change.
struct ImageCopy {
    std::vector<uint8_t> data;
    std::vector<std::string> filters;  // of the new data
};

// Redacts the pixels of image data under `quads`. Returns 1 with the copy,
// 0 when no pixel is covered, or -1 with g_err set ("the image (object N)
// under a redaction box uses /JBIG2Decode, which this engine cannot redact —
// nothing written", or why the data cannot be redacted); `label` names the
// image in those messages.
int image_copy_make(const ImageDesc &desc, const uint8_t *data, size_t len,
                    const std::vector<ImageQuad> &quads, ImageFill fill, const uint8_t rgb[3],
                    const char *label, ImageCopy &copy);

#endif
