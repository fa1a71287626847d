#!/usr/bin/env python3
"""Checks that the example PDFs are what examples/README.md says: made by
make_examples.py, valid, and holding the stated number of matches.

INKVEIL_CLI names the inkveil program (CTest sets it).
"""
import json
import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
CLI = os.path.abspath(os.environ.get("INKVEIL_CLI", "inkveil"))
sys.dont_write_bytecode = True  # leave no cache in the source tree
sys.path.insert(0, HERE)
import make_examples  # noqa: E402

# The matches of "jane example" that examples/README.md promises.
MATCHES = {"letter.pdf": 3, "form.pdf": 2, "xobject.pdf": 2}


class Examples(unittest.TestCase):
    def test_files_come_from_the_generator_and_are_valid(self):
        self.assertEqual(set(make_examples.EXAMPLES), set(MATCHES))
        with tempfile.TemporaryDirectory() as fresh:
            make_examples.main(fresh)
            for name in MATCHES:
                with open(os.path.join(HERE, name), "rb") as a, open(os.path.join(fresh, name), "rb") as b:
                    self.assertEqual(a.read(), b.read(), name + " differs from make_examples.py's")
                check = subprocess.run(["qpdf", "--check", os.path.join(HERE, name)], capture_output=True)
                self.assertEqual(check.returncode, 0, check.stdout + check.stderr)

    def test_match_counts(self):
        paths = [os.path.join(HERE, name) for name in MATCHES]
        result = subprocess.run([CLI, "count", "--json", *paths, "jane example"], capture_output=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        counts = {os.path.basename(o["file"]): o["count"] for o in map(json.loads, result.stdout.splitlines())}
        self.assertEqual(counts, MATCHES)


if __name__ == "__main__":
    unittest.main()
