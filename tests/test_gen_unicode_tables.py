#!/usr/bin/env python3
"""Checks tools/gen_unicode_tables.py: the committed src/unicode_tables.cpp is
what it writes from the shared source files, and it stops with a message, and
writes nothing, on source files that are damaged.

Usage: test_gen_unicode_tables.py SHARED_DIR  (the folder with text/ and afm/);
exits 77 (skipped) when that folder is absent.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
GENERATOR = os.path.join(ROOT, "tools", "gen_unicode_tables.py")
SHARED = None


def run_generator(text_dir, afm_dir):
    return subprocess.run([sys.executable, GENERATOR, text_dir, afm_dir],
                          capture_output=True, text=True, check=False)


def replace_once(text, old, new):
    assert text.count(old) == 1, "fixture edit %r does not match once" % old
    return text.replace(old, new)


# (file, edit, words the message must hold). Each edit damages one copy of the sources.
DAMAGE = [
    ("text/glyphlist.txt", lambda t: replace_once(t, "\nAacute;00C1\n", "\nAacute;00c1\n"),
     "upper-case hex"),
    ("text/glyphlist.txt", lambda t: t + "A;0041\n", "'A' listed twice"),
    ("text/glyphlist.txt", lambda t: replace_once(t, "\nAacute;00C1\n", "\nAacute;D800\n"),
     "surrogate"),
    ("text/glyphlist.txt", lambda t: replace_once(t, "\nAacute;00C1\n", "\nAacute 00C1\n"),
     "expected 'name;HHHH'"),
    ("text/glyphlist.txt", lambda t: t.replace("Apache License", "Some License"),
     "Apache License"),
    ("text/latin-encodings.tsv", lambda t: t + "Aacute\t65\t-\t-\t-\n",
     "std code 65 is both 'A' and 'Aacute'"),
    ("text/latin-encodings.tsv", lambda t: t + "Aacute\t-\t-\t193\n", "5 tab-separated"),
    ("text/latin-encodings.tsv", lambda t: t + "Aacute\t256\t-\t-\t-\n", "0 to 255"),
    ("text/latin-encodings.tsv", lambda t: t + "Nosuchglyph\t-\t-\t-\t-\n",
     "not in the Adobe Glyph List"),
    ("text/latin-encodings.tsv", lambda t: replace_once(t, "Euro\t-\t-\t128\t160", "Euro\t-\t-\t129\t160"),
     "differs from tools/gen_font_widths.py at codes [128, 129]"),
    ("afm/Helvetica.afm", lambda t: t.replace("StartCharMetrics 315", "StartCharMetrics 316"),
     "StartCharMetrics says 316"),
    ("afm/Symbol.afm", lambda t: replace_once(t, "C 97 ; WX 631 ;", "C 97 ; WY 631 ;"),
     "without C, WX and N"),
    ("afm/Courier.afm", None, "cannot read"),
    ("text/CaseFolding.txt", lambda t: replace_once(t, "0041; C; 0061;", "0041; X; 0061;"),
     "unknown status"),
    ("text/CaseFolding.txt", lambda t: replace_once(t, "0041; C; 0061;", "0041; C; 0061 0061;"),
     "one code point"),
    ("text/CaseFolding.txt", lambda t: replace_once(t, "0041; C; 0061;", "0041; C; 0062;"),
     "does not fold 'A' to 'a'"),
]


class Generator(unittest.TestCase):
    def test_committed_tables_are_current(self):
        result = run_generator(os.path.join(SHARED, "text"), os.path.join(SHARED, "afm"))
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(os.path.join(ROOT, "src", "unicode_tables.cpp"), encoding="utf-8") as f:
            committed = f.read()
        self.assertTrue(result.stdout == committed,
                        "src/unicode_tables.cpp is not what the generator writes: run it again")

    def test_damaged_sources_stop_it_with_a_message(self):
        for relative, edit, words in DAMAGE:
            with self.subTest(file=relative, expect=words), tempfile.TemporaryDirectory() as tmp:
                # Plain copies: the shared files are read-only.
                for folder in ("text", "afm"):
                    os.mkdir(os.path.join(tmp, folder))
                    for name in os.listdir(os.path.join(SHARED, folder)):
                        shutil.copyfile(os.path.join(SHARED, folder, name),
                                        os.path.join(tmp, folder, name))
                path = os.path.join(tmp, relative)
                if edit is None:
                    os.remove(path)
                else:
                    with open(path, encoding="utf-8", newline="") as f:
                        text = f.read()
                    with open(path, "w", encoding="utf-8", newline="") as f:
                        f.write(edit(text))
                result = run_generator(os.path.join(tmp, "text"), os.path.join(tmp, "afm"))
                self.assertNotEqual(result.returncode, 0)
                self.assertEqual(result.stdout, "")
                self.assertIn("gen_unicode_tables: ", result.stderr)
                self.assertIn(words, result.stderr)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: test_gen_unicode_tables.py SHARED_DIR")
    SHARED = sys.argv.pop(1)
    if not os.path.isdir(os.path.join(SHARED, "text")):
        print("skipped: no source files in %s" % SHARED)
        sys.exit(77)
    unittest.main(verbosity=1)
