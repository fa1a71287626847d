#!/usr/bin/env python3
"""Writes the small sample PDF shipped in samples/ (one page of Helvetica text).

Usage: python3 tools/make_sample_pdf.py samples/letter.pdf
"""
import sys

CONTENT = b"""BT
/F1 18 Tf 72 720 Td (Quarterly statement) Tj
/F1 12 Tf 0 -36 Td (Customer: Jane Example) Tj
0 -18 Td (Account number: 4242 SECRET 1234) Tj
0 -18 Td [(Balance due: ) -250 (1,024.00)] TJ
0 -36 Td (The word secret appears once more in this line.) Tj
ET
"""

OBJECTS = [
    b"<< /Type /Catalog /Pages 2 0 R >>",
    b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
    b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] "
    b"/Resources << /Font << /F1 5 0 R >> >> /Contents 4 0 R >>",
    b"<< /Length %d >>\nstream\n" % len(CONTENT) + CONTENT + b"endstream",
    b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
    b"<< /Title (Quarterly statement) /Author (Sample) >>",
]


def main(path):
    out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for number, body in enumerate(OBJECTS, start=1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % number + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(OBJECTS) + 1)
    for offset in offsets:
        out += b"%010d 00000 n \n" % offset
    out += b"trailer\n<< /Size %d /Root 1 0 R /Info 6 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (
        len(OBJECTS) + 1, xref)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1])
