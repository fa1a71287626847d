#!/usr/bin/env python3
"""Tests of the Python binding. INKVEIL_LIBRARY names the shared library to
load (CTest sets it to the one just built)."""
import os
import pathlib
import re
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


def plain_env():
    # Tools that are not ours run without a preloaded sanitizer runtime.
    return {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}


def pdf_text(path):
    return subprocess.run(["pdftotext", str(path), "-"], capture_output=True, check=True,
                          env=plain_env()).stdout


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
            (inkveil.Redaction(SAMPLE).add_text, ("a\0b",)),
            (inkveil.Redaction(SAMPLE).add_region, (1, 0, 0, 5, "wide")),
            (inkveil.Redaction(SAMPLE).run, (SAMPLE + "\0",)),
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
        # A str is UTF-8: any character may be searched for.
        self.assertEqual(inkveil.count_matches(SAMPLE, "Jane Example \u4e00"), 0)
        self.assertEqual(inkveil.count_matches(SAMPLE, "jane example"), 1)

    def test_redaction_returns_the_account(self):
        account = (inkveil.Redaction(SAMPLE, color=(255, 0, 0))
                   .add_text("secret")
                   .add_texts([b"Jane Example", "absent"])
                   .add_region(1, 70, 720, 300, 14)
                   .run(self.out))
        self.assertEqual(account.output, str(self.out))
        self.assertEqual(account.terms, ["secret", b"Jane Example", "absent"])
        self.assertEqual(account.matches, [2, 1, 0])
        self.assertEqual(account.total, 3)
        self.assertEqual(sorted(((b.term, b.region) for b in account.boxes), key=str),
                         [(0, None), (0, None), (1, None), (None, 0)])
        for box in account.boxes:
            self.assertIsInstance(box, inkveil.Box)
            self.assertEqual(box.page, 1)
            self.assertLess(box.x0, box.x1)
            self.assertLess(box.y0, box.y1)
        region = [b for b in account.boxes if b.region == 0][0]
        self.assertEqual((region.x0, region.y0, region.x1, region.y1), (70, 720, 370, 734))
        text = pdf_text(self.out).lower()
        self.assertNotIn(b"secret", text)
        self.assertNotIn(b"jane", text)

        # A dry run finds the same and writes nothing.
        found = inkveil.Redaction(SAMPLE).add_texts(["secret", b"Jane Example", "absent"]).run()
        self.assertIsNone(found.output)
        self.assertEqual(found.matches, [2, 1, 0])
        self.assertEqual(os.listdir(self.dir), ["out.pdf"])

    def test_redaction_failures_carry_the_library_text(self):
        missing = self.dir / "missing.pdf"
        cases = [
            ("the job has no search text and no region", inkveil.Redaction(SAMPLE)),
            ("search_text cannot be empty", inkveil.Redaction(SAMPLE).add_text("x").add_text("")),
            ("page 2 in regions[1] is out of range (document has 1 pages)",
             inkveil.Redaction(SAMPLE).add_region(1, 0, 0, 5, 5).add_region(2, 0, 0, 5, 5)),
            ("cannot open %s: No such file or directory" % missing,
             inkveil.Redaction(missing).add_text("x")),
            ("redaction incomplete: the search text still appears in the output file "
             "\u2014 no output written", inkveil.Redaction(SAMPLE).add_text("obj")),
        ]
        for message, redaction in cases:
            for output in (self.out, None):
                self.assertFails(message, redaction.run, output)
                self.assertFalse(self.out.exists(), message)
        copy = self.dir / "letter.pdf"
        shutil.copy(SAMPLE, copy)
        self.assertFails("the output is the input file; choose another output path",
                         inkveil.Redaction(copy).add_text("obj").run, copy)
        self.assertEqual(copy.read_bytes(), pathlib.Path(SAMPLE).read_bytes())

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
                try:
                    inkveil.Redaction(SAMPLE).add_region(k + 2, 0, 0, 1, 1).run()
                    problems.append("no error for page %d" % (k + 2))
                except inkveil.InkveilError as e:
                    if e.message != "page %d in regions[0] is out of range (document has 1 pages)" % (k + 2):
                        problems.append(e.message)
                if inkveil.Redaction(SAMPLE).add_text("secret").run().matches != [2]:
                    problems.append("wrong account")

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

    def test_library_at_a_path_given_by_the_user(self):
        shutil.copy(os.path.join(HERE, "inkveil.py"), self.dir)
        env = {k: v for k, v in os.environ.items() if k != "INKVEIL_LIBRARY"}
        env["PYTHONDONTWRITEBYTECODE"] = "1"
        script = ("import inkveil; inkveil.load_library(%r); "
                  "print(inkveil.Redaction(%r).add_text('secret').run().matches)")
        result = subprocess.run([sys.executable, "-c", script % (inkveil.library_path(), SAMPLE)],
                                cwd=self.dir, env=env, capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, "[2]\n")

    def test_pip_installs_the_module(self):
        # Built from a copy, so that the build leaves nothing in the source
        # tree; without the network, with the interpreter's own setuptools.
        # This interpreter's pip when it can build wheels, else the system's
        # (.ci/run installs Debian's pip, setuptools and wheel).
        probe = "import setuptools, wheel, pip"
        builders = [p for p in (sys.executable, "/usr/bin/python3")
                    if subprocess.run([p, "-c", probe], env=plain_env(), capture_output=True).returncode == 0]
        self.assertTrue(builders, "no Python with pip, setuptools and wheel to install with")
        source, target = self.dir / "source", self.dir / "site"
        shutil.copytree(HERE, source, ignore=shutil.ignore_patterns("__pycache__", "build", "*.egg-info"))
        installed = subprocess.run(
            [builders[0], "-m", "pip", "install", "--quiet", "--root-user-action=ignore",
             "--no-build-isolation", "--no-deps", "--no-index", "--target", str(target), str(source)],
            env=plain_env(), capture_output=True, text=True)
        self.assertEqual(installed.returncode, 0, installed.stdout + installed.stderr)
        env = dict(os.environ, PYTHONPATH=str(target), PYTHONDONTWRITEBYTECODE="1")
        script = ("import inkveil; print(inkveil.__file__); print(inkveil.__version__); "
                  "print(inkveil.count_matches(%r, 'secret'))" % SAMPLE)
        result = subprocess.run([sys.executable, "-c", script], cwd=self.dir, env=env,
                                capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        where, version, count = result.stdout.splitlines()
        self.assertTrue(where.startswith(str(target)), where)
        self.assertEqual(count, "2")
        # The module's version is the library's, stated in the public header.
        with open(os.path.join(ROOT, "include", "inkveil.h")) as f:
            header = f.read()
        parts = [re.search(r"#define INKVEIL_VERSION_%s (\d+)" % p, header).group(1)
                 for p in ("MAJOR", "MINOR", "PATCH")]
        self.assertEqual(version, ".".join(parts))


if __name__ == "__main__":
    unittest.main()
