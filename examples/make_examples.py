#!/usr/bin/env python3
"""Writes the example PDFs of this folder: letter.pdf, form.pdf and xobject.pdf.

Usage: python3 examples/make_examples.py examples

The files are small, uncompressed and byte-for-byte reproducible, so that they
can be read in a text editor next to the redacted output. Every font resource
is named after the standard font it uses (/Helvetica, /Times-Roman), because
inkveil takes glyph widths from the font names written in the content.
"""
import os
import sys

FONT = b"<< /Type /Font /Subtype /Type1 /BaseFont /%s /Encoding /WinAnsiEncoding >>"


def stream(dictionary, data):
    """An object body holding a stream; /Length is filled in."""
    return b"<< %s /Length %d >>\nstream\n" % (dictionary, len(data)) + data + b"\nendstream"


def pdf(objects, info=None):
    """A complete PDF file: objects numbered from 1, the catalog first."""
    out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for number, body in enumerate(objects, start=1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % number + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    for offset in offsets:
        out += b"%010d 00000 n \n" % offset
    trailer = b"/Size %d /Root 1 0 R" % (len(objects) + 1)
    if info is not None:
        trailer += b" /Info %d 0 R" % info
    out += b"trailer\n<< %s >>\nstartxref\n%d\n%%%%EOF\n" % (trailer, xref)
    return bytes(out)


def letter():
    """A one-page letter that names its addressee three times, once in capitals
    split over two strings of a TJ array, and in the document information."""
    content = b"""BT
/Helvetica-Bold 16 Tf 72 720 Td (Northwind Clinic) Tj
/Helvetica 11 Tf 0 -30 Td (12 March 2025) Tj
0 -30 Td (Dear Jane Example,) Tj
0 -22 Td (your results from the visit on 3 March are ready. As agreed, one copy) Tj
0 -15 Td (is kept in the file of Jane Example and nowhere else.) Tj
0 -22 Td [(Reference: JANE) -200 ( EXAMPLE / 2025-0311)] TJ
0 -30 Td (Kind regards,) Tj
0 -15 Td (Dr. Rivera) Tj
ET"""
    return pdf([
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] "
        b"/Resources << /Font << /Helvetica 5 0 R /Helvetica-Bold 6 0 R >> >> /Contents 4 0 R >>",
        stream(b"", content),
        FONT % b"Helvetica",
        FONT % b"Helvetica-Bold",
        b"<< /Title (Letter to Jane Example) /Author (Northwind Clinic) >>",
    ], info=7)


def form():
    """A page with two filled form fields (their values and appearances), a
    sticky note and a bookmark outline, all of which name the applicant."""
    page = b"""BT
/Helvetica 14 Tf 72 740 Td (Application form) Tj
/Helvetica 10 Tf 0 -40 Td (Name:) Tj
0 -30 Td (Date of birth:) Tj
0 -60 Td (Signed by the applicant, Jane Example.) Tj
ET"""
    name_appearance = b"/Tx BMC q BT /Helvetica 10 Tf 2 7 Td (Jane Example) Tj ET Q EMC"
    date_appearance = b"/Tx BMC q BT /Helvetica 10 Tf 2 7 Td (1980-04-02) Tj ET Q EMC"
    appearance = b"/Type /XObject /Subtype /Form /BBox [0 0 200 22] /Resources << /Font << /Helvetica 4 0 R >> >>"
    return pdf([
        b"<< /Type /Catalog /Pages 2 0 R /AcroForm 9 0 R /Outlines 12 0 R /PageMode /UseOutlines >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] "
        b"/Resources << /Font << /Helvetica 4 0 R >> >> /Contents 5 0 R /Annots [6 0 R 7 0 R 8 0 R] >>",
        FONT % b"Helvetica",
        stream(b"", page),
        b"<< /Type /Annot /Subtype /Widget /FT /Tx /T (name) /V (Jane Example) /F 4 "
        b"/Rect [160 690 360 712] /P 3 0 R /DA (/Helvetica 10 Tf 0 g) /AP << /N 10 0 R >> >>",
        b"<< /Type /Annot /Subtype /Widget /FT /Tx /T (birth) /V (1980-04-02) /F 4 "
        b"/Rect [160 660 360 682] /P 3 0 R /DA (/Helvetica 10 Tf 0 g) /AP << /N 11 0 R >> >>",
        b"<< /Type /Annot /Subtype /Text /Rect [400 700 420 720] /Open false "
        b"/Contents (Call Jane Example about the missing page.) >>",
        b"<< /Fields [6 0 R 7 0 R] /DR << /Font << /Helvetica 4 0 R >> >> /DA (/Helvetica 10 Tf 0 g) >>",
        stream(appearance, name_appearance),
        stream(appearance, date_appearance),
        b"<< /Type /Outlines /First 13 0 R /Last 14 0 R /Count 2 >>",
        b"<< /Title (Application of Jane Example) /Parent 12 0 R /Next 14 0 R /Dest [3 0 R /XYZ 0 792 0] >>",
        b"<< /Title (Date of birth) /Parent 12 0 R /Prev 13 0 R /Dest [3 0 R /XYZ 0 680 0] >>",
    ])


def xobject():
    """Two pages that share a letterhead drawn by one Form XObject; the second
    page also shows a small image."""
    letterhead = b"BT /Times-Roman 9 Tf 0 4 Td (Jane Example, 4 Harbour Lane, Portsmouth) Tj ET"
    page1 = b"""q 1 0 0 1 72 750 cm /Letterhead Do Q
BT /Helvetica 11 Tf 72 700 Td (Statement for Jane Example, page 1 of 2.) Tj ET"""
    page2 = b"""q 1 0 0 1 72 750 cm /Letterhead Do Q
BT /Helvetica 11 Tf 72 700 Td (Page 2 of 2: the photo on file.) Tj ET
q 96 0 0 96 72 580 cm /Photo Do Q"""
    # An 8x8 grey ramp: the image stays in the file, a region over it only covers it.
    photo = bytes((x * 32 + y * 4) % 256 for y in range(8) for x in range(8))
    resources = (b"/Resources << /Font << /Helvetica 6 0 R >> "
                 b"/XObject << /Letterhead 5 0 R /Photo 10 0 R >> >>")
    return pdf([
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] " + resources + b" /Contents 8 0 R >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] " + resources + b" /Contents 9 0 R >>",
        stream(b"/Type /XObject /Subtype /Form /BBox [0 0 400 20] "
               b"/Resources << /Font << /Times-Roman 7 0 R >> >>", letterhead),
        FONT % b"Helvetica",
        FONT % b"Times-Roman",
        stream(b"", page1),
        stream(b"", page2),
        stream(b"/Type /XObject /Subtype /Image /Width 8 /Height 8 /ColorSpace /DeviceGray "
               b"/BitsPerComponent 8", photo),
    ])


EXAMPLES = {"letter.pdf": letter, "form.pdf": form, "xobject.pdf": xobject}


def main(folder):
    for name, make in EXAMPLES.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(make())


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: make_examples.py FOLDER")
    main(sys.argv[1])
