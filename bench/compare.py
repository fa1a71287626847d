#!/usr/bin/env python3
"""Side-by-side figures for inkveil against qpdf and PyMuPDF, in one run.

    python3 bench/compare.py [BUILD_DIR] [--runs N] [--no-hostile] [--before BUILD_DIR]

BUILD_DIR is a release build holding the `inkveil` program and the
`inkveil_bench` target (default build/release). For the real-producer files
the tests carry, large real files made here from the system's manual pages
(groff through Ghostscript, the same pages through cairo, both joined, and the
groff manual three times over with its fonts shared, where groff, gs, pdftocairo
and qpdf are installed), the generated 1,000 / 2,000 /
4,000-page files and three hostile shapes (one 100 MiB content stream, a 2 MB
string, 100,000 matches in one string), it prints the CPU time (median, min and
max of N runs, each in a process of its own, user + system) and the peak
resident memory of `inkveil text`, `inkveil region` and `inkveil count`, of
`qpdf in out`, of PyMuPDF's search, redact and save where its Python module
loads and runs, and of the same work in MuPDF's own scripting (`mutool run`,
the library under PyMuPDF) where mutool is installed. Then the ratios the
targets speak of, the scaling from 2,000 to 4,000 pages, the cost per page
beyond the first copy of the groff manual against MuPDF's, and the inflate
throughput against zlib's inflate() without checksum (from inkveil_bench).
With --before, an earlier build's text, region and count take turns with this
build's, run for run, and print beneath them with the ratios after/before.
"""
import argparse
import glob
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
REGION = "1:72,300,300,100"
TIME = "/usr/bin/time"  # GNU time (Debian package `time`)

PYMUPDF_SCRIPT = r"""
import sys, time
import fitz
mode, src, dst, term = sys.argv[1:5]
start = time.process_time()
doc = fitz.open(src)
found = 0
for page in doc:
    rects = page.search_for(term)
    found += len(rects)
    if mode == "text":
        for r in rects:
            page.add_redact_annot(r, fill=(0, 0, 0))
        page.apply_redactions()
if mode == "text":
    doc.save(dst, garbage=1, deflate=True)
print(time.process_time() - start, found)
"""


# The same search, redaction and save in MuPDF's JavaScript, run by `mutool run`.
MUTOOL_SCRIPT = r"""
var src = scriptArgs[0], dst = scriptArgs[1], term = scriptArgs[2];
var doc = new Document(src);
var found = 0;
for (var i = 0; i < doc.countPages(); i++) {
  var page = doc.loadPage(i);
  var hits = page.search(term);
  found += hits.length;
  if (hits.length == 0) continue;
  for (var k = 0; k < hits.length; k++) {
    var annot = page.createAnnotation("Redact");
    annot.setQuadPoints(hits[k]);
    annot.update();
  }
  page.applyRedactions(true, 2);
}
doc.save(dst, "garbage=1,compress");
print(found);
"""

# Manual pages joined into one large real file: groff's PostScript through
# Ghostscript's PDF writer, as distributions print their manuals.
MANUAL_PAGES = ["bash", "git-config", "curl", "gpg", "java", "tmux", "x86_64-linux-gnu-ld.bfd"]


def real_large_files(tmp):
    """Large files from real producers, made here where the tools are
    installed: [(path, search text)] and a note on what is missing."""
    tools = ["groff", "gs", "pdftocairo", "qpdf"]
    missing = [t for t in tools if shutil.which(t) is None]
    pages = [p for p in (os.path.join("/usr/share/man/man1", f"{n}.1.gz") for n in MANUAL_PAGES)
             if os.path.exists(p)]
    if missing or len(pages) < 3:
        return [], f"real large files not made (missing: {', '.join(missing) or 'manual pages'})"
    ps = []
    for i, page in enumerate(pages):
        path = os.path.join(tmp, f"man{i}.ps")
        with open(page, "rb") as f:
            source = zlib.decompress(f.read(), 16 + zlib.MAX_WBITS)
        with open(path, "wb") as out:
            subprocess.run(["groff", "-man", "-Tps"], input=source, stdout=out, stderr=subprocess.DEVNULL,
                           check=True)
        ps.append(path)
    groff = os.path.join(tmp, "groff_gs_manual.pdf")
    subprocess.run(["gs", "-q", "-dBATCH", "-dNOPAUSE", "-dSAFER", "-sDEVICE=pdfwrite", f"-sOutputFile={groff}"]
                   + ps, check=True)
    cairo = os.path.join(tmp, "cairo_manual.pdf")
    subprocess.run(["pdftocairo", "-pdf", groff, cairo], check=True)
    joined = os.path.join(tmp, "joined_manuals.pdf")
    subprocess.run(["qpdf", "--empty", "--pages", groff, cairo, groff, "--", joined], check=True)
    # The same pages again and again over the same fonts: what a reader
    # spends once per font weighs less here, what it spends per page more.
    tripled = os.path.join(tmp, "tripled_groff_manual.pdf")
    subprocess.run(["qpdf", "--empty", "--pages", groff, groff, groff, "--", tripled], check=True)
    return [(groff, "option"), (cairo, "option"), (joined, "option"), (tripled, "option")], ""


def run_once(argv):
    """CPU seconds (user + system) and peak resident MiB of one process.

    The process runs under /usr/bin/time, which reports its peak: a child
    forked from this script would inherit the script's own high-water mark.
    The CPU time comes from wait4, in microseconds, for time and its child."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err, \
            tempfile.NamedTemporaryFile("r", suffix=".time") as figures:
        proc = subprocess.Popen([TIME, "-f", "%M", "-o", figures.name] + argv, stdout=out, stderr=err)
        _, status, usage = os.wait4(proc.pid, 0)
        proc.returncode = os.waitstatus_to_exitcode(status)
        out.seek(0)
        err.seek(0)
        if proc.returncode != 0:
            raise RuntimeError(f"{' '.join(argv[:3])}... failed: {err.read().decode('utf-8', 'replace').strip()[:300]}")
        peak_kib = figures.read().split()[-1]
        return usage.ru_utime + usage.ru_stime, int(peak_kib) / 1024.0, out.read().decode("utf-8", "replace")


def measure_or_none(argv, runs, inside=False):
    """measure(), or None where the tool fails on the file."""
    try:
        return measure(argv, runs, inside)
    except RuntimeError:
        return None


def measure(argv, runs, inside=False):
    """Median, min and max CPU ms and the largest peak MiB over `runs` runs.
    With `inside`, the process prints the CPU time of the work itself."""
    return measure_side_by_side([argv], runs, inside)[0]


def measure_side_by_side(argvs, runs, inside=False):
    """measure() for each command, their runs taking turns: a machine whose
    speed drifts over minutes moves every command's figures alike."""
    times, peaks = [[] for _ in argvs], [[] for _ in argvs]
    for _ in range(runs):
        for k, argv in enumerate(argvs):
            cpu, peak, out = run_once(argv)
            if inside:
                cpu = float(out.split()[0])
            times[k].append(cpu * 1000.0)
            peaks[k].append(peak)
    return [{"median": statistics.median(t), "min": min(t), "max": max(t), "peak": max(p)}
            for t, p in zip(times, peaks)]


def pymupdf_python():
    """A Python that imports PyMuPDF: this one, or Debian's, where python3-fitz
    installs the module (a pyenv or venv Python does not see it)."""
    why = "no Python here imports fitz"
    for python in dict.fromkeys([sys.executable, "/usr/bin/python3"]):
        try:
            subprocess.run([python, "-c", "import fitz; fitz.open()"], check=True,
                           capture_output=True, timeout=60)
            return python, ""
        except (subprocess.CalledProcessError, subprocess.TimeoutExpired, OSError) as e:
            reason = getattr(e, "stderr", b"") or b""
            last = reason.decode("utf-8", "replace").strip().splitlines()[-1:] or [str(e)]
            why = last[0][:120]
    return None, why


def write_pdf(path, content, compress=True):
    """A one-page PDF with Helvetica as /F1 and `content` as its page stream."""
    data = zlib.compress(content, 6) if compress else content
    filt = b" /Filter /FlateDecode" if compress else b""
    objs = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R"
        b" /Resources << /Font << /F1 5 0 R >> >> >>",
        b"<< /Length " + str(len(data)).encode() + filt + b" >>\nstream\n" + data + b"\nendstream",
        b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    ]
    out = bytearray(b"%PDF-1.7\n")
    offsets = []
    for i, body in enumerate(objs, 1):
        offsets.append(len(out))
        out += str(i).encode() + b" 0 obj\n" + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 " + str(len(objs) + 1).encode() + b"\n0000000000 65535 f \n"
    for off in offsets:
        out += b"%010d 00000 n \n" % off
    out += b"trailer\n<< /Size " + str(len(objs) + 1).encode() + b" /Root 1 0 R >>\nstartxref\n"
    out += str(xref).encode() + b"\n%%EOF\n"
    with open(path, "wb") as f:
        f.write(out)


def hostile_files(tmp):
    """The three hostile shapes, with the search text each holds."""
    files = []
    line = b"BT /F1 10 Tf 72 700 Td (an ordinary line of body text with the quarterly figures) Tj ET\n"
    big = line * ((100 << 20) // len(line) + 1)
    path = os.path.join(tmp, "hostile_100MiB_content.pdf")
    write_pdf(path, big)
    files.append((path, "quarterly"))
    path = os.path.join(tmp, "hostile_2MB_string.pdf")
    write_pdf(path, b"BT /F1 10 Tf 72 700 Td (" + b"quarterly figures " * (2_000_000 // 18) + b") Tj ET\n")
    files.append((path, "quarterly"))
    path = os.path.join(tmp, "hostile_100k_matches.pdf")
    write_pdf(path, b"BT /F1 10 Tf 72 700 Td (" + b"ab " * 100_000 + b") Tj ET\n")
    files.append((path, "ab"))
    return files


def page_count(path):
    try:
        out = subprocess.run(["qpdf", "--show-npages", path], capture_output=True, text=True, check=True)
        return int(out.stdout.strip())
    except (subprocess.CalledProcessError, OSError, ValueError):
        return 0


def fmt(m):
    """One figure: '-' where the tool was not run on the file, 'failed' where it failed."""
    if m == "not run":
        return f"{'-':>31}"
    if m is None:
        return f"{'failed':>31}"
    return f"{m['median']:9.1f} [{m['min']:.1f}-{m['max']:.1f}] {m['peak']:7.1f}"


def ratio(a, b):
    """a's median over b's, or '-' where either did not run."""
    if not isinstance(a, dict) or not isinstance(b, dict):
        return f"{'-':>9}"
    return f"{a['median'] / max(b['median'], 1e-9):9.2f}"


def marginal_figures(results):
    """What each further copy of the groff manual costs, per page: the
    tripled manual's time less the manual's, over the pages it adds. A
    reader's once-per-font work drops out, so this is the ratio that large
    files tend to."""
    one, three = results.get("groff_gs_manual.pdf"), results.get("tripled_groff_manual.pdf")
    if one is None or three is None:
        return
    pages = three["pages"] - one["pages"]
    if pages <= 0:
        return
    print("\nper page beyond the first copy of the groff manual (median CPU ms per page):")
    ours = (three["text"]["median"] - one["text"]["median"]) / pages
    print(f"  text    {ours:.3f}")
    for tool in ("mutool", "pymupdf"):
        a, b = three.get(tool), one.get(tool)
        if isinstance(a, dict) and isinstance(b, dict):
            theirs = (a["median"] - b["median"]) / pages
            print(f"  {tool:7} {theirs:.3f}  ({theirs / max(ours, 1e-9):.2f} times text)")


def inflate_figures(bench):
    out = subprocess.run([bench, "--benchmark_filter=BM_Inflate/(font|image|content)_(ours|zlib)",
                          "--benchmark_format=json", "--benchmark_min_time=0.5"],
                         capture_output=True, text=True, check=True)
    rates = {}
    for b in json.loads(out.stdout)["benchmarks"]:
        kind, engine = b["name"].split("/")[1].rsplit("_", 1)
        rates.setdefault(kind, {})[engine] = b["bytes_per_second"]
    print("\ninflate throughput (decoded MB/s): ours, zlib inflate() without checksum, ratio")
    for kind, r in rates.items():
        print(f"  {kind:8} {r['ours'] / 1e6:9.1f} {r['zlib'] / 1e6:9.1f} {r['ours'] / r['zlib']:6.2f}")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("build", nargs="?", default=os.path.join(ROOT, "build", "release"))
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--no-hostile", action="store_true", help="leave out the three hostile shapes")
    ap.add_argument("--before", metavar="BUILD_DIR",
                    help="an earlier build: its text, region and count run in turn with this build's")
    args = ap.parse_args()
    cli = os.path.join(args.build, "inkveil")
    bench = os.path.join(args.build, "inkveil_bench")
    before_cli = os.path.join(args.before, "inkveil") if args.before else None
    for tool in (cli, bench, TIME) + ((before_cli,) if before_cli else ()):
        if not os.access(tool, os.X_OK):
            sys.exit(f"{tool} is missing: see Benchmarks in the README")
    fitz_python, why = pymupdf_python()
    have_fitz = fitz_python is not None
    have_mutool = shutil.which("mutool") is not None

    with tempfile.TemporaryDirectory(prefix="inkveil-compare-") as tmp:
        subprocess.run([bench, "--write-generated", tmp], check=True)
        files = [(p, "Logistics") for p in sorted(glob.glob(os.path.join(ROOT, "tests/fixtures/producers/*.pdf")))]
        real, real_note = real_large_files(tmp)
        files += real
        files += [(os.path.join(tmp, f"producer_like_{n}.pdf"), "quarterly") for n in (1000, 2000, 4000)]
        hostile = [] if args.no_hostile else hostile_files(tmp)
        out = os.path.join(tmp, "out.pdf")
        script = os.path.join(tmp, "pymupdf_redact.py")
        with open(script, "w") as f:
            f.write(PYMUPDF_SCRIPT)
        js = os.path.join(tmp, "mupdf_redact.js")
        with open(js, "w") as f:
            f.write(MUTOOL_SCRIPT)

        print(f"CPU ms: median [min-max] of {args.runs} runs, then peak MiB; "
              f"PyMuPDF: {'CPU inside the script' if have_fitz else 'not measured (' + why + ')'}; "
              f"mutool: {'CPU of the process' if have_mutool else 'not installed'}")
        if real_note:
            print(real_note)
        head = f"{'file':28} {'pages':>5} {'MiB':>6}"
        cols = ["text", "region", "count", "qpdf"] + (["pymupdf"] if have_fitz else []) + \
            (["mutool"] if have_mutool else [])
        print(head + "".join(f" | {c:>31}" for c in cols) +
              " | text/qpdf pymupdf/text mutool/text mem-bound")
        results = {}
        for path, term in files + hostile:
            runs = args.runs if (path, term) not in hostile else 1
            name = os.path.basename(path)
            size = os.path.getsize(path)
            r, before = {}, {}
            for c, argv in (("text", ["text", path, out, term]),
                            ("region", ["region", path, out, "--rect", REGION]),
                            ("count", ["count", path, term])):
                if before_cli:
                    before[c], r[c] = measure_side_by_side([[before_cli] + argv, [cli] + argv], runs)
                else:
                    r[c] = measure([cli] + argv, runs)
            run_once([cli, "text", path, out, term])
            out_size = os.path.getsize(out)
            r["qpdf"] = measure(["qpdf", path, out], runs)
            # The hostile shapes are there for inkveil's memory bound: the
            # other tools take minutes on a million matches in one page.
            others = (path, term) not in hostile
            if have_fitz and others:
                r["pymupdf"] = measure_or_none([fitz_python, script, "text", path, out, term], runs, inside=True)
            if have_mutool and others:
                r["mutool"] = measure_or_none(["mutool", "run", js, path, out, term], runs)
            r["pages"] = page_count(path)
            results[name] = r
            bound = 2 * (size + out_size) / 2**20 + 32
            worst = max(r[c]["peak"] for c in ("text", "region", "count"))
            print(f"{name[:28]:28} {r['pages']:5d} {size / 2**20:6.1f}" +
                  "".join(f" | {fmt(r.get(c, 'not run'))}" for c in cols) +
                  f" | {ratio(r['text'], r['qpdf'])} {ratio(r.get('pymupdf'), r['text']):>12}"
                  f" {ratio(r.get('mutool'), r['text']):>11} {worst:.0f}/{bound:.0f} {'ok' if worst <= bound else 'OVER'}")
            if before:
                print(f"{'  before':28} {'':5} {'':6}" +
                      "".join(f" | {fmt(before[c])}" for c in ("text", "region", "count")) +
                      "  after/before:" + "".join(ratio(r[c], before[c]) for c in ("text", "region", "count")))

        print("\nscaling, 4,000 pages over 2,000 pages (median CPU):")
        a, b = results["producer_like_4000.pdf"], results["producer_like_2000.pdf"]
        for c in ("text", "region", "count"):
            print(f"  {c:7} {a[c]['median'] / b[c]['median']:.2f}")
        marginal_figures(results)
    inflate_figures(bench)


if __name__ == "__main__":
    main()
