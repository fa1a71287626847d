#!/usr/bin/env python3
"""Writes the seed corpus of fuzz/image_fuzzer.cpp into fuzz/corpus/image.

Each seed is the fuzzer's 12-byte header (colour space and bits per component,
filter chain, width - 1, height - 1 with the opaque-fill bit, one quad as four
corners of two bytes) followed by the image data. JPEG seeds are made with
cjpeg (libjpeg-turbo-progs). Run from the repository root:

    python3 tools/make_image_corpus.py
"""
import base64
import os
import subprocess
import tempfile
import zlib

OUT = os.path.join("fuzz", "corpus", "image")
BPC_INDEX = {1: 0, 2: 1, 4: 2, 8: 3, 16: 4}
# The fuzzer's filter chains, by index.
NONE, FLATE, HEX_FLATE, A85, DCT, A85_DCT, PNG_FLATE, TIFF_FLATE, FLATE_DCT = range(9)
# A quad over the middle of the image: u and v from 0.25 to 0.75 (byte / 200 - 0.1).
MIDDLE = bytes([70, 70, 170, 70, 170, 170, 70, 170])


def header(space, bpc, chain, width, height, opaque=False):
    return bytes([space | BPC_INDEX[bpc] << 3, chain, width - 1,
                  (height - 1) | (0x80 if opaque else 0)]) + MIDDLE


def pattern(n):
    return bytes((i * 37 + i // 7) & 255 for i in range(n))


def png_rows(raw, row_bytes):
    """PNG prediction with the row filter types 0 and 2 (none, up) in turn."""
    out = bytearray()
    for r in range(len(raw) // row_bytes):
        row = raw[r * row_bytes:(r + 1) * row_bytes]
        if r % 2 == 0:
            out += b"\x00" + row
        else:
            up = raw[(r - 1) * row_bytes:r * row_bytes]
            out += b"\x02" + bytes((a - b) & 255 for a, b in zip(row, up))
    return bytes(out)


def jpeg(width, height, components, *options):
    """A JPEG of a gradient, made by cjpeg from a PGM or PPM file."""
    magic = b"P5" if components == 1 else b"P6"
    pixels = bytes((x * 7 + y * 5 + c * 60) & 255
                   for y in range(height) for x in range(width) for c in range(components))
    with tempfile.NamedTemporaryFile(suffix=".pnm") as f:
        f.write(b"%s %d %d 255\n" % (magic, width, height) + pixels)
        f.flush()
        return subprocess.run(["cjpeg", "-quality", "80", *options, f.name],
                              check=True, capture_output=True).stdout


def main():
    os.makedirs(OUT, exist_ok=True)
    seeds = {
        "gray8_flate": header(0, 8, FLATE, 16, 12) + zlib.compress(pattern(16 * 12)),
        "rgb4_unfiltered": header(1, 4, NONE, 9, 5) + pattern(14 * 5),
        "gray8_png_predictor": header(0, 8, PNG_FLATE, 16, 8)
        + zlib.compress(png_rows(pattern(16 * 8), 16)),
        "rgb16_tiff_predictor": header(1, 16, TIFF_FLATE, 6, 4) + zlib.compress(pattern(36 * 4)),
        "indexed2_hex_flate": header(3, 2, HEX_FLATE, 10, 6)
        + zlib.compress(pattern(3 * 6)).hex().encode() + b">",
        "stencil_a85_opaque": header(5, 1, A85, 16, 4, opaque=True)
        + base64.a85encode(pattern(8)) + b"~>",
        "gray_jpeg": header(0, 8, DCT, 24, 16) + jpeg(24, 16, 1),
        "rgb_jpeg_420": header(1, 8, DCT, 32, 24) + jpeg(32, 24, 3, "-sample", "2x2"),
        "rgb_jpeg_progressive": header(1, 8, DCT, 24, 24)
        + jpeg(24, 24, 3, "-progressive", "-sample", "1x1"),
        "gray_jpeg_a85": header(0, 8, A85_DCT, 16, 16) + base64.a85encode(jpeg(16, 16, 1)) + b"~>",
        "gray_jpeg_flate": header(0, 8, FLATE_DCT, 16, 16) + zlib.compress(jpeg(16, 16, 1)),
    }
    for name, data in seeds.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
