#!/usr/bin/env python3
"""Tests of the inkveil command-line program, run as a user would run it.

INKVEIL_CLI names the program to test (CTest sets it).
"""
import hashlib
import json
import os
import pty
import re
import shutil
import subprocess
import tempfile
import unittest

CLI = os.environ.get("INKVEIL_CLI", "inkveil")
if os.sep in CLI:
    CLI = os.path.abspath(CLI)
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SAMPLE = os.path.join(ROOT, "samples", "letter.pdf")
EXAMPLES = [os.path.join(ROOT, "examples", n) for n in ("letter.pdf", "form.pdf", "xobject.pdf")]

# Every option of each command. The help must describe each, the program must
# accept each, and must refuse the options of the other commands.
OPTIONS = {
    "text": ["--term", "--terms-file", "--report", "--color", "--out-dir", "-j", "--jobs",
             "--json", "-h", "--help"],
    "region": ["--rect", "--report", "--color", "--out-dir", "-j", "--jobs", "--json", "-h",
               "--help"],
    "find": ["--term", "--terms-file", "-j", "--jobs", "--json", "-h", "--help"],
    "count": ["-j", "--jobs", "--json", "-h", "--help"],
}
OPTION_VALUES = {"--color": "1,2,3", "--out-dir": "out", "-j": "2", "--jobs": "2",
                 "--rect": "1:0,0,10,10", "--term": "x", "--terms-file": "terms.txt",
                 "--report": "report.json"}


def mentions(help_text, option):
    """Whether the help shows `option` as an option token."""
    return re.search(rb"(^|[\s,])" + re.escape(option.encode()) + rb"[\s,=]", help_text) is not None


def run(*args, **kwargs):
    return subprocess.run([CLI, *args], capture_output=True, **kwargs)


def pdf_text(path):
    return subprocess.run(["pdftotext", path, "-"], capture_output=True, check=True).stdout


class TempDirTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="inkveil-cli-")
        self.addCleanup(shutil.rmtree, self.dir)

    def path(self, name):
        return os.path.join(self.dir, name)


class HelpAndUsage(TempDirTest):
    def test_help_describes_every_option(self):
        main = run("--help")
        self.assertEqual(main.returncode, 0)
        for command, options in OPTIONS.items():
            self.assertIn(command.encode(), main.stdout)
            for option in options:
                self.assertTrue(mentions(main.stdout, option), "inkveil --help: " + option)
            helped = run(command, "--help")
            self.assertEqual(helped.returncode, 0, command)
            self.assertTrue(helped.stdout.startswith(b"usage: inkveil " + command.encode()))
            for option in options:
                self.assertTrue(mentions(helped.stdout, option), command + " --help: " + option)
        self.assertTrue(mentions(main.stdout, "--version"))

    def test_options_are_those_the_help_lists(self):
        every = set(o for options in OPTIONS.values() for o in options) - {"-h", "--help"}
        for command, options in OPTIONS.items():
            for option in every:
                args = [command, option] + ([OPTION_VALUES[option]] if option in OPTION_VALUES else [])
                # Too few arguments follow, so an accepted option ends in
                # "missing arguments", a refused one in its own complaint.
                result = run(*args, cwd=self.dir)
                self.assertEqual(result.returncode, 2, args)
                accepted = b"missing arguments" in result.stderr
                self.assertEqual(accepted, option in options, (args, result.stderr))

    def test_bad_command_lines_exit_2_with_a_usage_line(self):
        letter, out = SAMPLE, self.path("out.pdf")
        latin1 = self.path("latin1.txt")
        with open(latin1, "wb") as f:
            f.write("Jane\nJos\u00e9 Pe\u00f1a\n".encode("latin-1"))
        comments = self.path("comments.txt")
        with open(comments, "w") as f:
            f.write("# nothing but comments\n\n   \n")
        with_nul = self.path("nul.txt")
        with open(with_nul, "wb") as f:
            f.write(b"Jane\0Doe\n")
        cases = [
            ["text", "--term", "", letter, out],
            ["text", "--terms-file", latin1, letter, out],
            ["text", "--terms-file", with_nul, letter, out],
            ["text", "--terms-file", comments, letter, out],
            ["text", "--terms-file", self.path("missing.txt"), letter, out],
            ["text", "--terms-file", comments, "--terms-file", comments, letter, out],
            ["text", "--term", "a", letter, out, "x", "y"],
            ["text", "--report", "", letter, out, "x"],
            ["find", letter],
            ["find", "--color", "0,0,0", letter, "x"],
            ["find", "--report", "r.json", letter, "x"],
            ["count", "--term", "x", letter],
            [],
            ["redact", letter],
            ["--bogus"],
            ["text", "--bogus", letter, out, "x"],
            ["text", letter, out],
            ["text", letter, out, "x", "y"],
            ["text", letter, out, ""],
            ["text", "--color", "1,2", letter, out, "x"],
            ["text", "--color", "1,2,256", letter, out, "x"],
            ["text", "--color", "1,2,3,4", letter, out, "x"],
            ["text", "--color", letter, out, "x"],
            ["text", "--json=yes", letter, out, "x"],
            ["text", "-j", "0", letter, out, "x"],
            ["text", "-jx", letter, out, "x"],
            ["text", "--out-dir", self.dir, letter, os.path.join(ROOT, "samples", "..", "samples", "letter.pdf"), "x"],
            ["region", letter, out],
            ["region", letter, out, "--rect", "1:1,2,3"],
            ["region", letter, out, "--rect", "x:1,2,3,4"],
            ["region", letter, out, "--rect", "1:nan,2,3,4"],
            ["region", letter, out, "--rect", "1:1,2,3,4x"],
            ["region", "--rect", "1:1,2,3,4", letter],
            ["count", letter],
            ["count", "--out-dir", self.dir, letter, "x"],
            ["count", "--color", "0,0,0", letter, "x"],
        ]
        for args in cases:
            result = run(*args)
            self.assertEqual(result.returncode, 2, args)
            self.assertEqual(result.stdout, b"", args)
            self.assertTrue(result.stderr.startswith(b"inkveil: "), (args, result.stderr))
            self.assertIn(b"\nusage: inkveil ", result.stderr, args)
        self.assertFalse(os.path.exists(out))
        self.assertEqual(run("text", "--terms-file", latin1, letter, out).stderr.splitlines()[0],
                         b"inkveil: the terms file %s is not UTF-8 text (line 2)" % latin1.encode())


class Redaction(TempDirTest):
    def test_count_and_text_on_the_sample(self):
        counted = run("count", SAMPLE, "secret")
        self.assertEqual((counted.returncode, counted.stdout), (0, b"2\n"), counted.stderr)
        out = self.path("letter.pdf")
        done = run("text", "--color", "255,0,0", SAMPLE, out, "secret")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stdout.decode(), '%s -> %s: 2 matches of "secret" redacted\n' % (SAMPLE, out))
        self.assertEqual(done.stderr, b"")
        text = pdf_text(out).lower()
        self.assertNotIn(b"secret", text)
        self.assertIn(b"quarterly statement", text)

    def test_region(self):
        out = self.path("letter.pdf")
        # The line "Customer: Jane Example" starts at 72,684 in 12-point Helvetica.
        done = run("region", SAMPLE, out, "--rect", "1:70,680,300,14", "--rect=1:0,0,1,1")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertTrue(done.stdout.endswith(b": 2 regions redacted\n"), done.stdout)
        text = pdf_text(out)
        self.assertNotIn(b"Jane", text)
        self.assertIn(b"Quarterly statement", text)

    def test_failures_name_the_file_and_exit_1(self):
        missing = self.path("missing.pdf")
        out = self.path("out.pdf")
        cases = [
            (["count", missing, "x"], "%s: cannot open %s: No such file or directory\n" % (missing, missing)),
            (["text", missing, out, "x"], "%s: cannot open %s: No such file or directory\n" % (missing, missing)),
            (["region", SAMPLE, out, "--rect", "5:0,0,1,1"],
             "%s: page 5 in regions[0] is out of range (document has 1 pages)\n" % SAMPLE),
            # Text the output file itself holds: the redaction is refused.
            (["text", SAMPLE, out, "obj"],
             "%s: redaction incomplete: the search text still appears in the output file "
             "\u2014 no output written\n" % SAMPLE),
        ]
        for args, message in cases:
            result = run(*args)
            self.assertEqual(result.returncode, 1, args)
            self.assertEqual(result.stderr.decode(), message)
            self.assertEqual(result.stdout, b"")
            self.assertFalse(os.path.exists(out), args)

    def test_a_replaced_output_keeps_its_mode_and_a_new_one_the_default(self):
        old_mask = os.umask(0o022)
        self.addCleanup(os.umask, old_mask)
        kept = self.path("kept.pdf")
        with open(kept, "wb") as f:
            f.write(b"an older output")
        os.chmod(kept, 0o600)
        fresh = self.path("fresh.pdf")
        for out in (kept, fresh):
            done = run("text", SAMPLE, out, "secret")
            self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(os.stat(kept).st_mode & 0o7777, 0o600)
        self.assertEqual(os.stat(fresh).st_mode & 0o7777, 0o644)

    def test_a_fifo_is_refused_without_blocking(self):
        fifo = self.path("pipe.pdf")
        os.mkfifo(fifo)
        result = run("count", fifo, "x", timeout=60)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr.decode(), "%s: not a regular file: %s\n" % (fifo, fifo))

    def test_output_that_is_the_input_is_refused(self):
        copy = self.path("letter.pdf")
        shutil.copy(SAMPLE, copy)
        for args in (["text", copy, copy, "obj"], ["text", "--out-dir", self.dir, copy, "obj"]):
            result = run(*args)
            self.assertEqual(result.returncode, 1)
            self.assertIn(b"the output is the input file", result.stderr)
            with open(copy, "rb") as f, open(SAMPLE, "rb") as g:
                self.assertEqual(f.read(), g.read())


class ManyTerms(TempDirTest):
    def terms_file(self, text):
        path = self.path("terms.txt")
        with open(path, "wb") as f:
            f.write(text.encode("utf-8"))
        return path

    def test_terms_from_every_source_in_one_pass_with_a_report(self):
        # TEXT first, then --term, then the file's lines: a byte order mark,
        # comments, blank lines, spaces around a term and CRLF line ends.
        terms = self.terms_file("\ufeff# names\r\n\r\n   Quarterly \r\n\t#4242 is a comment\nnowhere\n")
        out, report = self.path("out.pdf"), self.path("report.json")
        done = run("text", "--term", "secret", "--terms-file", terms, "--report", report,
                   SAMPLE, out, "Jane")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stdout.decode(),
                         "%s -> %s: 4 matches of 4 search texts redacted\n" % (SAMPLE, out))
        text = pdf_text(out).lower()
        for word in (b"jane", b"secret", b"quarterly"):
            self.assertNotIn(word, text)
        self.assertIn(b"4242", text)
        with open(report) as f:
            accounts = json.load(f)
        with open(out, "rb") as f:
            digest = hashlib.sha256(f.read()).hexdigest()
        self.assertEqual(len(accounts), 1)
        account = accounts[0]
        self.assertEqual({k: account[k] for k in ("file", "ok", "output", "sha256", "regions", "error")},
                         {"file": SAMPLE, "ok": True, "output": out, "sha256": digest, "regions": [],
                          "error": None})
        self.assertEqual(account["terms"], [{"text": "Jane", "matches": 1}, {"text": "secret", "matches": 2},
                                            {"text": "Quarterly", "matches": 1},
                                            {"text": "nowhere", "matches": 0}])
        per_term = [0] * 4
        for box in account["boxes"]:
            self.assertEqual(box["page"], 1)
            x0, y0, x1, y1 = box["rect"]
            self.assertTrue(0 < x0 < x1 < 612 and 0 < y0 < y1 < 792, box)
            per_term[box["term"]] += 1
        self.assertEqual(per_term, [1, 2, 1, 0])

    def test_region_report_names_the_rectangles(self):
        out, report = self.path("out.pdf"), self.path("report.json")
        done = run("region", "--report", report, SAMPLE, out, "--rect", "1:70,680,300,14")
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(report) as f:
            [account] = json.load(f)
        self.assertEqual(account["regions"], [{"page": 1, "rect": [70, 680, 370, 694]}])
        self.assertEqual(account["boxes"], [{"page": 1, "rect": [70, 680, 370, 694], "region": 0}])
        self.assertEqual(account["terms"], [])

    def test_report_in_input_order_on_threads_with_failures(self):
        missing = self.path("missing.pdf")
        out_dir, report = self.path("out"), self.path("report.json")
        terms = self.terms_file("Jane Example\nSECRET\n")
        sample = self.path("sample.pdf")
        shutil.copy(SAMPLE, sample)
        inputs = EXAMPLES[:2] + [missing] + EXAMPLES[2:] + [sample]
        result = run("text", "-j", "3", "--out-dir", out_dir, "--terms-file", terms, "--report", report,
                     *inputs)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertEqual(result.stderr.decode().splitlines()[-1],
                         "inkveil: 5 files: 4 redacted, 1 failed; 10 matches redacted")
        with open(report) as f:
            accounts = json.load(f)
        self.assertEqual([a["file"] for a in accounts], inputs)
        self.assertEqual([a["ok"] for a in accounts], [True, True, False, True, True])
        self.assertEqual(accounts[2]["error"], "cannot open %s: No such file or directory" % missing)
        self.assertIsNone(accounts[2]["sha256"])
        self.assertEqual(accounts[2]["terms"], [{"text": "Jane Example", "matches": None},
                                                {"text": "SECRET", "matches": None}])
        for account in accounts[:2] + accounts[3:]:
            with open(account["output"], "rb") as f:
                self.assertEqual(account["sha256"], hashlib.sha256(f.read()).hexdigest())
        self.assertEqual([a["terms"][1]["matches"] for a in accounts if a["ok"]], [0, 0, 0, 2])

    def test_find_shows_the_boxes_and_writes_nothing(self):
        found = run("find", SAMPLE, "secret", cwd=self.dir)
        self.assertEqual(found.returncode, 0, found.stderr)
        lines = found.stdout.decode().splitlines()
        self.assertEqual(len(lines), 2)
        for line in lines:
            self.assertRegex(line, r'^%s: page 1 \[[0-9.]+ [0-9.]+ [0-9.]+ [0-9.]+\] "secret"$'
                             % re.escape(SAMPLE))
        self.assertEqual(run("find", SAMPLE, "absent").stdout.decode(), "%s: no match\n" % SAMPLE)
        result = run("find", "--json", "--term", "secret", "--term", "absent", SAMPLE, EXAMPLES[0])
        self.assertEqual(result.returncode, 0, result.stderr)
        objects = [json.loads(line) for line in result.stdout.splitlines()]
        self.assertEqual([o["file"] for o in objects], [SAMPLE, EXAMPLES[0]])
        self.assertEqual(objects[0]["terms"], [{"text": "secret", "matches": 2},
                                               {"text": "absent", "matches": 0}])
        self.assertEqual(objects[0]["count"], 2)
        self.assertEqual(sorted(b["term"] for b in objects[0]["boxes"]), [0, 0])
        self.assertEqual(objects[1]["count"], 0)
        self.assertEqual(os.listdir(self.dir), [])
        # A search text the output's syntax holds fails, as 'text' would.
        refused = run("find", SAMPLE, "obj")
        self.assertEqual(refused.returncode, 1)
        self.assertIn(b"redaction incomplete", refused.stderr)


class ManyFiles(TempDirTest):
    def test_out_dir_with_workers_reports_in_input_order(self):
        missing = self.path("missing.pdf")
        out_dir = self.path("made/")  # created by the program
        inputs = EXAMPLES[:2] + [missing] + EXAMPLES[2:]
        result = run("text", "-j", "3", "--out-dir", out_dir, *inputs, "Jane Example")
        self.assertEqual(result.returncode, 1, result.stderr)
        lines = result.stdout.decode().splitlines()
        self.assertEqual([line.split(" -> ")[0] for line in lines], EXAMPLES)
        for name in ("letter.pdf", "form.pdf", "xobject.pdf"):
            self.assertNotIn(b"Jane", pdf_text(os.path.join(out_dir, name)))
        self.assertFalse(os.path.exists(os.path.join(out_dir, "missing.pdf")))
        self.assertEqual(result.stderr.decode().splitlines(), [
            "%s: cannot open %s: No such file or directory" % (missing, missing),
            "inkveil: 4 files: 3 redacted, 1 failed; 7 matches redacted",
        ])

    def test_json_objects_parse_and_escape_file_names(self):
        odd = os.path.join(os.fsencode(self.dir), b'say "hi"\\\n\ttab \xff.pdf')
        with open(odd, "wb") as f, open(SAMPLE, "rb") as g:
            f.write(g.read())
        missing = self.path("gone.pdf")
        for jobs in ("1", "2"):
            result = subprocess.run([CLI, "count", "--json", "-j", jobs, os.fsencode(SAMPLE), odd,
                                     os.fsencode(missing), b"secret"], capture_output=True)
            self.assertEqual(result.returncode, 1)
            objects = [json.loads(line) for line in result.stdout.decode("utf-8").splitlines()]
            odd_name = odd.decode("utf-8", "replace")
            self.assertEqual(objects, [
                {"file": SAMPLE, "ok": True, "count": 2, "error": None},
                {"file": odd_name, "ok": True, "count": 2, "error": None},
                {"file": missing, "ok": False, "count": None,
                 "error": "cannot open %s: No such file or directory" % missing},
            ])
        out = self.path("o.pdf")
        result = run("text", "--json", SAMPLE, out, "secret")
        self.assertEqual(json.loads(result.stdout),
                         {"file": SAMPLE, "ok": True, "output": out, "count": 2, "error": None})
        result = run("region", "--json", SAMPLE, out, "--rect", "2:0,0,1,1")
        self.assertEqual(json.loads(result.stdout), {
            "file": SAMPLE, "ok": False, "output": out,
            "error": "page 2 in regions[0] is out of range (document has 1 pages)"})

    def test_progress_only_on_a_terminal(self):
        args = [CLI, "count", "-j", "2", SAMPLE, SAMPLE, "secret"]
        piped = subprocess.run(args, capture_output=True)
        self.assertEqual(piped.returncode, 0)
        self.assertNotIn(b"\r", piped.stderr)
        self.assertEqual(piped.stderr, b"inkveil: 2 files: 2 counted, 0 failed; 4 matches in all\n")
        leader, follower = pty.openpty()
        try:
            shown = subprocess.run(args, stdout=subprocess.PIPE, stderr=follower)
            os.close(follower)
            follower = -1
            seen = b""
            while True:
                try:
                    chunk = os.read(leader, 4096)
                except OSError:  # the terminal is closed once drained
                    break
                if not chunk:
                    break
                seen += chunk
        finally:
            if follower >= 0:
                os.close(follower)
            os.close(leader)
        self.assertEqual(shown.returncode, 0)
        self.assertIn(b"\rinkveil: 2/2 files done", seen.replace(b"\x1b[K", b""))
        self.assertEqual(shown.stdout, ("%s: 2\n%s: 2\n" % (SAMPLE, SAMPLE)).encode())


if __name__ == "__main__":
    unittest.main()
