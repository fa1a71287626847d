#!/usr/bin/env python3
"""Writes the small sample PDF shipped in samples/ (one page of Helvetica text).

Usage: python3 tools/make_sample_pdf.py samples/letter.pdf
"""
import os
import sys

# The file layout (objects, cross-reference table, trailer) is the examples' own.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples"))
import make_examples  # noqa: E402

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
    with open(path, "wb") as f:
        f.write(make_examples.pdf(OBJECTS, info=6))


if __name__ == "__main__":
    main(sys.argv[1])
