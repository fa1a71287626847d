#!/usr/bin/env python3
"""Tests of the Python binding. INKVEIL_LIBRARY names the shared library to
load (CTest sets it to the one just built)."""
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import threading
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True  # leave no cache in the source tree
sys.path.insert(0, HERE)
import inkveil  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(HERE))
SAMPLE = os.path.join(ROOT, "samples", "letter.pdf")


def pdf_text(path):
    # The tools are not ours: run them without a preloaded sanitizer runtime.
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    return subprocess.run(["pdftotext", str(path), "-"], capture_output=True, check=True,
                          env=env).stdout


class Binding(unittest.TestCase):
    def setUp(self):
        self.dir = pathlib.Path(tempfile.mkdtemp(prefix="inkveil-py-"))
        self.addCleanup(shutil.rmtree, self.dir)
        self.out = self.dir / "out.pdf"

    def assertFails(self, message, function, *args, **kwargs):
        with self.assertRaises(inkveil.InkveilError) as caught:
            function(*args, **kwargs)
        self.assertEqual(caught.exception.message, message)
        self.assertEqual(str(caught.exception), message)

    def test_errors_carry_the_last_error_text(self):
        missing = str(self.dir / "missing.pdf")
        cases = [
            ("search_text cannot be empty", inkveil.redact_text, SAMPLE, self.out, ""),
            ("search_text cannot be empty", inkveil.count_matches, SAMPLE, ""),
            ("region_count must be > 0 (got 0)", inkveil.redact_regions, SAMPLE, self.out, []),
            ("cannot open %s: No such file or directory" % missing, inkveil.count_matches, missing, "x"),
            ("page 2 in regions[1] is out of range (document has 1 pages)",
             inkveil.redact_regions, SAMPLE, self.out, [(1, 0, 0, 5, 5), (2, 0, 0, 5, 5)]),
            ("region 0 has invalid non-positive dimensions: 0.00x5.00",
             inkveil.redact_regions, SAMPLE, self.out, [(1, 0, 0, 0, 5)]),
            # Text the output file itself holds: the redaction is refused.
            ("redaction incomplete: the search text still appears in the output file "
             "\u2014 no output written", inkveil.redact_text, SAMPLE, self.out, "obj"),
        ]
        for message, function, *args in cases:
            self.assertFails(message, function, *args)
            self.assertFalse(self.out.exists(), message)

    def test_bad_arguments_are_refused_before_the_library(self):
        for function, args in [
            (inkveil.count_matches, (SAMPLE, "a\0b")),
            (inkveil.count_matches, (SAMPLE + "\0", "a")),
            (inkveil.redact_regions, (SAMPLE, self.out, [(1, 0, 0, 5)])),
            (inkveil.redact_text, (SAMPLE, self.out, "x", (0, 0))),
            (inkveil.count_matches, (SAMPLE, "\u4e00")),  # not in Windows-1252
        ]:
            with self.assertRaises(ValueError, msg=repr(args)):
                function(*args)

    def test_count_and_redact_text(self):
        self.assertEqual(inkveil.count_matches(SAMPLE, "secret"), 2)
        self.assertEqual(inkveil.count_matches(pathlib.Path(SAMPLE), b"SECRET"), 2)
        self.assertIsNone(inkveil.redact_text(SAMPLE, self.out, "Secret", color=(255, 0, 0)))
        text = pdf_text(self.out).lower()
        self.assertNotIn(b"secret", text)
        self.assertIn(b"quarterly statement", text)
        self.assertEqual(inkveil.count_matches(self.out, "secret"), 0)

    def test_redact_regions(self):
        # The line "Customer: Jane Example" starts at 72,684 in 12-point Helvetica.
        inkveil.redact_regions(os.fsencode(SAMPLE), str(self.out),
                               [(1, 70, 680, 300, 14), (1.0, 0.0, 0.0, 1.0, 1.0)],
                               color=(1000, -5, 128))
        text = pdf_text(self.out)
        self.assertNotIn(b"Jane", text)
        self.assertIn(b"Quarterly statement", text)

    def test_output_that_is_the_input_is_refused(self):
        copy = self.dir / "letter.pdf"
        shutil.copy(SAMPLE, copy)
        self.assertFails("the output is the input file; choose another output path",
                         inkveil.redact_text, copy, str(copy), "obj")
        self.assertEqual(copy.read_bytes(), pathlib.Path(SAMPLE).read_bytes())

    def test_threads_each_get_their_own_result(self):
        missing = [str(self.dir / ("missing-%d.pdf" % k)) for k in range(4)]
        problems = []

        def work(k):
            for _ in range(10):
                try:
                    inkveil.count_matches(missing[k], "x")
                    problems.append("no error for " + missing[k])
                except inkveil.InkveilError as e:
                    if missing[k] not in e.message:
                        problems.append(e.message)
                if inkveil.count_matches(SAMPLE, "secret") != 2:
                    problems.append("wrong count")

        threads = [threading.Thread(target=work, args=(k,)) for k in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(problems, [])

    def test_library_beside_the_module_is_found(self):
        shutil.copy(os.path.join(HERE, "inkveil.py"), self.dir)
        shutil.copy(inkveil.library_path(), self.dir / "libinkveil.so")
        env = {k: v for k, v in os.environ.items() if k != "INKVEIL_LIBRARY"}
        env["PYTHONDONTWRITEBYTECODE"] = "1"
        script = "import inkveil; print(inkveil.library_path()); print(inkveil.count_matches(%r, 'secret'))"
        result = subprocess.run([sys.executable, "-c", script % SAMPLE], cwd=self.dir, env=env,
                                capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, "%s\n2\n" % (self.dir / "libinkveil.so"))


if __name__ == "__main__":
    unittest.main()
