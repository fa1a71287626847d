#!/usr/bin/env python3
"""End to end on files from real producers (tests/fixtures/producers, and
Ghostscript's in tests/fixtures): what a reader extracts and sees afterwards.

Text mode: every occurrence of each term is gone from pdftotext's output, the
other words of the page stand where they stood, and qpdf --check passes.
Region mode: a rectangle over a word leaves no character extractable inside
it (pdftotext -x -y -W -H), and a rendering shows the box over all of it.

Needs the program (INKVEIL_CLI), qpdf and poppler-utils; standard library only.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unicodedata
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
PRODUCERS = os.path.join(HERE, "fixtures", "producers")
CLI = os.environ.get("INKVEIL_CLI", "inkveil")

SAMPLES = ["cairo_flip", "chromium", "groff", "libreoffice_writer", "pdflatex_cm", "tesseract_ocr"]
TERMS = ["Gabriel Okonkwo", "office", "file", "affidavit", "Toward", "Wallace", "4417-2209",
         "+31 20 555 0187", "g.okonkwo@example.org"]


def run(*args, check=True):
    return subprocess.run(args, check=check, capture_output=True, text=True)


def normalised(text):
    text = unicodedata.normalize("NFKC", text).lower()
    return " ".join(text.split())


def words(pdf):
    """The words pdftotext finds on page 1, with their boxes (top-left origin)."""
    out = run("pdftotext", "-f", "1", "-l", "1", "-bbox", pdf, "-").stdout
    found = []
    for m in re.finditer(r'<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>', out):
        found.append((m.group(5), float(m.group(1)), float(m.group(2)), float(m.group(3)), float(m.group(4))))
    height = float(re.search(r'<page width="[\d.]+" height="([\d.]+)"', out).group(1))
    return found, height


def pgm_pixels(path):
    with open(path, "rb") as f:
        data = f.read()
    m = re.match(rb"P5\s+(\d+)\s+(\d+)\s+(\d+)\s", data)
    w, h = int(m.group(1)), int(m.group(2))
    return w, h, data[m.end():]


class Producers(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="inkveil_producers_")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def sample(self, name):
        return os.path.join(PRODUCERS, name + ".pdf")

    def test_text_mode_removes_every_occurrence_and_moves_nothing_else(self):
        for name in SAMPLES:
            source = self.sample(name)
            before, _ = words(source)
            for term in TERMS:
                with self.subTest(sample=name, term=term):
                    out = os.path.join(self.tmp, name + ".pdf")
                    result = run(CLI, "text", source, out, term, check=False)
                    self.assertEqual(result.returncode, 0, result.stderr)
                    self.assertEqual(run("qpdf", "--check", out, check=False).returncode, 0)
                    text = normalised(run("pdftotext", out, "-").stdout)
                    self.assertNotIn(normalised(term), text)
                    # Words that do not touch the term keep their place.
                    after, _ = words(out)
                    kept = {w[0]: w for w in after}
                    for w in before:
                        if normalised(term) in normalised(w[0]) or normalised(w[0]) in normalised(term):
                            continue
                        if w[0] in kept and list(x[0] for x in before).count(w[0]) == 1:
                            self.assertAlmostEqual(kept[w[0]][1], w[1], delta=0.5, msg=w[0])

    def test_region_mode_leaves_nothing_readable_under_the_box(self):
        for name in SAMPLES:
            source = self.sample(name)
            before, height = words(source)
            target = [w for w in before if normalised(w[0]).startswith("okonkwo,")]
            if not target:
                target = [w for w in before if normalised(w[0]) == "okonkwo"]
            with self.subTest(sample=name):
                self.assertTrue(target, "no word Okonkwo found")
                _, x0, top, x1, bottom = target[0]
                # The region in the page's default user space (origin at the bottom).
                rect = "1:%.2f,%.2f,%.2f,%.2f" % (x0, height - bottom, x1 - x0, bottom - top)
                out = os.path.join(self.tmp, name + "-region.pdf")
                result = run(CLI, "region", source, out, "--rect", rect, check=False)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(run("qpdf", "--check", out, check=False).returncode, 0)
                inside = run("pdftotext", "-f", "1", "-l", "1", "-x", str(int(x0 + 1)), "-y", str(int(top + 1)),
                             "-W", str(int(x1 - x0 - 2)), "-H", str(int(bottom - top - 2)), out, "-").stdout
                self.assertFalse(re.search(r"\w", inside), "readable under the box: %r" % inside)
                # The rendering is black all over the rectangle (one pixel in from its edges).
                prefix = os.path.join(self.tmp, name + "-render")
                run("pdftoppm", "-f", "1", "-l", "1", "-r", "72", "-gray", "-x", str(int(x0 + 1)),
                    "-y", str(int(top + 1)), "-W", str(int(x1 - x0 - 2)), "-H", str(int(bottom - top - 2)),
                    out, prefix)
                rendered = [f for f in os.listdir(self.tmp) if f.startswith(name + "-render")]
                w, h, pixels = pgm_pixels(os.path.join(self.tmp, rendered[0]))
                self.assertGreater(w * h, 0)
                self.assertLessEqual(max(pixels), 8, "the box does not cover the rectangle")

    def test_ghostscript_files(self):
        source = os.path.join(HERE, "fixtures", "ps2pdf-report.pdf")
        out = os.path.join(self.tmp, "gs.pdf")
        result = run(CLI, "text", source, out, "plover", check=False)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(run("qpdf", "--check", out, check=False).returncode, 0)
        self.assertNotIn("plover", normalised(run("pdftotext", out, "-").stdout))


if __name__ == "__main__":
    unittest.main()
