#!/usr/bin/env python3
"""Generates src/unicode_tables.cpp, the data behind src/unicode.cpp.

Usage: python3 tools/gen_unicode_tables.py ../shared/text ../shared/afm > src/unicode_tables.cpp

TEXT_DIR holds glyphlist.txt (the Adobe Glyph List), latin-encodings.tsv (the
Latin character set with its codes in StandardEncoding, MacRomanEncoding,
WinAnsiEncoding and PDFDocEncoding) and CaseFolding.txt (Unicode's case
folding). AFM_DIR holds the 14 core AFM files. The generator reads them
strictly, checks the result against Python's own codecs and Unicode data and
against the WinAnsiEncoding of gen_font_widths.py, and stops with a message
naming the file and line at the first thing it does not expect.
"""

import os
import re
import sys
import textwrap
import unicodedata

COMMAND = ("python3 tools/gen_unicode_tables.py ../shared/text ../shared/afm"
           " > src/unicode_tables.cpp")

# The 14 fonts in the order of std14_font_index (and of the width tables in src/redact.h).
STD14 = ["Times-Roman", "Times-Italic", "Times-Bold", "Times-BoldItalic",
         "Helvetica", "Helvetica-Oblique", "Helvetica-Bold", "Helvetica-BoldOblique",
         "Courier", "Courier-Oblique", "Courier-Bold", "Courier-BoldOblique",
         "Symbol", "ZapfDingbats"]

# The encodings in the order of enum BaseEncoding; the Latin ones name their column
# of latin-encodings.tsv, the other two their AFM file.
LATIN_COLUMNS = ["std", "mac", "win", "pdf"]
ENCODINGS = [("StandardEncoding", "std"), ("WinAnsiEncoding", "win"),
             ("MacRomanEncoding", "mac"), ("PDFDocEncoding", "pdf"),
             ("Symbol built-in encoding", "Symbol"),
             ("ZapfDingbats built-in encoding", "ZapfDingbats")]

# Codes that the notes of the Latin character set table assign besides its rows:
# the space also at 202 in MacRomanEncoding and at 160 in WinAnsiEncoding, the
# hyphen also at 173 in WinAnsiEncoding. These settle the code whatever a row of
# the file says (the file has rows that put 'nbspace' at MacRoman 202 and WinAnsi
# 160, and 'space' at WinAnsi 173); anywhere else a code claimed twice is an error.
NOTED_CODES = {"mac": {202: "space"}, "win": {160: "space", 173: "hyphen"}}

# PDFDocEncoding also defines these control characters as themselves (they are
# not glyphs, so the Latin character set has no rows for them).
PDFDOC_CONTROLS = [0x09, 0x0A, 0x0D]
# Outside these ranges a defined PDFDocEncoding byte is its Latin-1 code point.
PDFDOC_OWN_RANGES = [(0x18, 0x1F), (0x80, 0xA0)]

# Where PDF's MacRomanEncoding names a different character than Python's mac_roman
# codec (the later Mac OS Roman): the Euro replaced the currency sign at 219, and
# the reference's space at 202 is a no-break space there.
MAC_ROMAN_DIFFERS = {202, 219}

GLYPH_NAME = re.compile(r"[A-Za-z0-9]+\Z")
AFM_GLYPH_NAME = re.compile(r"[A-Za-z0-9._]+\Z")
HEX4 = re.compile(r"[0-9A-F]{4}\Z")
MAX_WIDTH = 32767  # widths are stored as int16_t


def fail(message):
    sys.exit("gen_unicode_tables: " + message)


def read_lines(path, encoding="ascii"):
    try:
        with open(path, encoding=encoding, newline="") as f:
            text = f.read()
    except OSError as e:
        fail("cannot read %s: %s" % (path, e.strerror))
    except UnicodeDecodeError as e:
        fail("%s: not %s text (byte %d)" % (path, encoding, e.start))
    return text.replace("\r\n", "\n").split("\n")


def is_scalar(cp):
    return 0 <= cp <= 0x10FFFF and not 0xD800 <= cp <= 0xDFFF


# ---- Adobe Glyph List ---------------------------------------------------------

def read_glyph_list(path):
    """Returns ({name: (code points)}, notice lines, version line)."""
    lines = read_lines(path)
    names, rules, version = {}, [], None
    for number, line in enumerate(lines, 1):
        where = "%s line %d" % (path, number)
        if line.startswith("#"):
            if line.startswith("# ----"):
                rules.append(number - 1)
            elif line.startswith("# Table version:"):
                version = line[2:].strip()
            continue
        if not line.strip():
            continue
        fields = line.split(";")
        if len(fields) != 2:
            fail("%s: expected 'name;HHHH', got %r" % (where, line))
        name, values = fields
        if not GLYPH_NAME.match(name):
            fail("%s: bad glyph name %r" % (where, name))
        if name in names:
            fail("%s: %r listed twice" % (where, name))
        cps = values.split(" ")
        if not all(HEX4.match(v) for v in cps):
            fail("%s: code points must be four upper-case hex digits: %r" % (where, values))
        cps = tuple(int(v, 16) for v in cps)
        if not all(is_scalar(cp) for cp in cps):
            fail("%s: surrogate code point in %r" % (where, values))
        names[name] = cps
    if len(rules) < 2:
        fail("%s: no licence notice between '# ----' lines" % path)
    notice = [line[1:].strip() for line in lines[rules[0] + 1:rules[1]]]
    if not any("Apache License" in line for line in notice):
        fail("%s: the notice does not carry the Apache License" % path)
    if version is None:
        fail("%s: no '# Table version:' line" % path)
    return names, notice, version


# ---- Latin encodings ------------------------------------------------------------

def read_latin_encodings(path, agl):
    """Returns {column: {code: name}} for the four Latin encodings."""
    lines = read_lines(path)
    header = None
    tables = {column: {} for column in LATIN_COLUMNS}
    for number, line in enumerate(lines, 1):
        where = "%s line %d" % (path, number)
        if line.startswith("#") or not line.strip():
            continue
        fields = line.split("\t")
        if header is None:
            header = fields
            if header != ["name"] + LATIN_COLUMNS:
                fail("%s: expected the header %r, got %r"
                     % (where, "\t".join(["name"] + LATIN_COLUMNS), line))
            continue
        if len(fields) != 5:
            fail("%s: expected 5 tab-separated fields, got %d" % (where, len(fields)))
        name = fields[0]
        if name not in agl:
            fail("%s: glyph %r is not in the Adobe Glyph List" % (where, name))
        for column, value in zip(LATIN_COLUMNS, fields[1:]):
            if value == "-":
                continue
            if not value.isdigit() or int(value) > 255:
                fail("%s: %s code %r is not a number from 0 to 255" % (where, column, value))
            code = int(value)
            if code in NOTED_CODES.get(column, {}):
                continue
            other = tables[column].get(code)
            if other is not None and other != name:
                fail("%s: %s code %d is both %r and %r" % (where, column, code, other, name))
            tables[column][code] = name
    if header is None:
        fail("%s: no header line" % path)
    for column, noted in NOTED_CODES.items():
        tables[column].update(noted)
    return tables


# ---- AFM files ------------------------------------------------------------------

def read_afm(path, font):
    """Returns ([(code, width, name)], copyright notice) of one AFM file."""
    lines = read_lines(path)
    metrics, notice, font_name, expected = [], None, None, None
    in_metrics = False
    for number, line in enumerate(lines, 1):
        where = "%s line %d" % (path, number)
        if line.startswith("Comment Copyright") and notice is None:
            notice = line[len("Comment "):].strip()
        elif line.startswith("FontName "):
            font_name = line.split()[1] if len(line.split()) > 1 else ""
        elif line.startswith("StartCharMetrics"):
            parts = line.split()
            if len(parts) != 2 or not parts[1].isdigit():
                fail("%s: bad StartCharMetrics line" % where)
            expected, in_metrics = int(parts[1]), True
        elif line.startswith("EndCharMetrics"):
            in_metrics = False
        elif in_metrics and line.strip():
            fields = {}
            for item in line.split(";"):
                parts = item.split()
                if parts:
                    fields[parts[0]] = parts[1:]
            try:
                code = int(fields["C"][0])
                width = int(fields["WX"][0])
                name = fields["N"][0]
            except (KeyError, IndexError, ValueError):
                fail("%s: metrics line without C, WX and N: %r" % (where, line))
            if not -1 <= code <= 255:
                fail("%s: code %d out of range" % (where, code))
            if not 0 <= width <= MAX_WIDTH:
                fail("%s: width %d out of range" % (where, width))
            if not AFM_GLYPH_NAME.match(name):
                fail("%s: bad glyph name %r" % (where, name))
            metrics.append((code, width, name))
    if font_name != font:
        fail("%s: FontName is %r, expected %r" % (path, font_name, font))
    if expected is None or in_metrics:
        fail("%s: no complete StartCharMetrics ... EndCharMetrics block" % path)
    if len(metrics) != expected:
        fail("%s: StartCharMetrics says %d glyphs, found %d" % (path, expected, len(metrics)))
    names = [name for _, _, name in metrics]
    if len(set(names)) != len(names):
        fail("%s: a glyph name is listed twice" % path)
    codes = [code for code, _, _ in metrics if code >= 0]
    if len(set(codes)) != len(codes):
        fail("%s: a code is listed twice" % path)
    if notice is None:
        fail("%s: no 'Comment Copyright' line" % path)
    return metrics, notice


# ---- Case folding ---------------------------------------------------------------

def read_case_folding(path):
    """Returns ({code point: simple folding}, notice lines, Unicode version)."""
    lines = read_lines(path, encoding="utf-8")
    match = re.match(r"# CaseFolding-(\d+)\.(\d+)\.(\d+)\.txt\Z", lines[0])
    if not match:
        fail("%s line 1: expected '# CaseFolding-X.Y.Z.txt'" % path)
    version = tuple(int(v) for v in match.groups())
    notice = []
    for line in lines[:5]:
        if line.startswith("#") and line.strip("# "):
            notice.append(line[1:].strip())
    folds, full = {}, set()
    for number, line in enumerate(lines, 1):
        where = "%s line %d" % (path, number)
        line = line.split("#", 1)[0].strip()
        if not line:
            continue
        fields = [f.strip() for f in line.split(";")]
        if len(fields) != 4 or fields[3] != "":
            fail("%s: expected '<code>; <status>; <mapping>; # <name>'" % where)
        code, status, mapping = fields[:3]
        if not re.match(r"[0-9A-F]{4,6}\Z", code) or not is_scalar(int(code, 16)):
            fail("%s: bad code point %r" % (where, code))
        if status not in ("C", "F", "S", "T"):
            fail("%s: unknown status %r" % (where, status))
        targets = mapping.split(" ")
        if not all(re.match(r"[0-9A-F]{4,6}\Z", t) and is_scalar(int(t, 16)) for t in targets):
            fail("%s: bad mapping %r" % (where, mapping))
        cp = int(code, 16)
        if status == "F":
            full.add(cp)
        if status not in ("C", "S"):
            continue
        if len(targets) != 1:
            fail("%s: a simple folding maps to one code point, got %r" % (where, mapping))
        if cp in folds:
            fail("%s: U+%04X has two simple foldings" % (where, cp))
        folds[cp] = int(targets[0], 16)
    if len(folds) < 1000:
        fail("%s: only %d simple foldings" % (path, len(folds)))
    return folds, full, notice, version


# ---- Derived tables and their checks ---------------------------------------------

def sibling_win_ansi():
    """The WinAnsiEncoding of gen_font_widths.py, which lays out the width tables."""
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    import gen_font_widths
    return gen_font_widths.WIN_ANSI


def encoding_tables(latin, afms):
    tables = []
    for _, source in ENCODINGS:
        if source in latin:
            table = [None] * 256
            for code, name in latin[source].items():
                table[code] = name
        else:
            table = [None] * 256
            for code, _, name in afms[source][0]:
                if code >= 0:
                    table[code] = name
        tables.append(table)
    return tables


def check_encodings(tables, agl):
    std, win, mac, pdf, symbol, _ = tables
    first = lambda name: agl[name][0]
    if win != sibling_win_ansi():
        diff = [c for c in range(256) if win[c] != sibling_win_ansi()[c]]
        fail("WinAnsiEncoding differs from tools/gen_font_widths.py at codes %s" % diff)
    for code in range(256):
        try:
            cp1252 = ord(bytes([code]).decode("cp1252"))
        except UnicodeDecodeError:
            cp1252 = None
        if win[code] is not None and code not in NOTED_CODES["win"]:
            if first(win[code]) != cp1252:
                fail("WinAnsiEncoding %d is %r, Windows-1252 has U+%04X"
                     % (code, win[code], cp1252 or 0))
        if mac[code] is not None and code not in MAC_ROMAN_DIFFERS:
            if first(mac[code]) != ord(bytes([code]).decode("mac_roman")):
                fail("MacRomanEncoding %d is %r, Mac OS Roman disagrees" % (code, mac[code]))
        if pdf[code] is not None and first(pdf[code]) != code:
            if not any(lo <= code <= hi for lo, hi in PDFDOC_OWN_RANGES):
                fail("PDFDocEncoding %d is %r, outside the ranges that differ from Latin-1"
                     % (code, pdf[code]))
    if sum(name is not None for name in std) != 149:
        fail("StandardEncoding has %d codes, expected 149"
             % sum(name is not None for name in std))
    for code, name in enumerate(symbol):
        if name is not None and name not in agl:
            fail("Symbol glyph %r (code %d) is not in the Adobe Glyph List" % (name, code))


def pdfdoc_table(pdf_names, agl):
    table = [0] * 256
    for code, name in enumerate(pdf_names):
        if name is not None:
            cps = agl[name]
            if len(cps) != 1:
                fail("PDFDocEncoding glyph %r stands for several code points" % name)
            table[code] = cps[0]
    for code in PDFDOC_CONTROLS:
        table[code] = code
    return table


def cp1252_table(win_names, agl):
    """Windows-1252: Latin-1 except 0x80-0x9F, which holds WinAnsiEncoding's glyphs."""
    table = list(range(256))
    for code in range(0x80, 0xA0):
        table[code] = agl[win_names[code]][0] if win_names[code] else 0
    for code in range(256):
        try:
            expected = ord(bytes([code]).decode("cp1252"))
        except UnicodeDecodeError:
            expected = 0
        if table[code] != expected:
            fail("Windows-1252 byte %d: derived U+%04X, Python's codec has U+%04X"
                 % (code, table[code], expected))
    return table


def check_case_folding(folds, full, version):
    for cp in range(ord("A"), ord("Z") + 1):
        if folds.get(cp) != cp + 32:
            fail("CaseFolding.txt does not fold %r to %r" % (chr(cp), chr(cp + 32)))
    # Python's Unicode data is a control as long as it is not newer than the file:
    # case folding of an assigned character never changes between versions.
    python_version = tuple(int(v) for v in unicodedata.unidata_version.split("."))
    if python_version > version:
        return
    for cp in range(0x110000):
        if cp in full or 0xD800 <= cp <= 0xDFFF or unicodedata.category(chr(cp)) == "Cn":
            continue
        folded = chr(cp).casefold()
        if folded != chr(folds.get(cp, cp)):
            fail("U+%04X folds to U+%04X here, Python folds it to %s"
                 % (cp, folds.get(cp, cp), " ".join("U+%04X" % ord(c) for c in folded)))


def check_glyph_list(agl):
    for name, cps in (("A", (0x41,)), ("fi", (0xFB01,)), ("Euro", (0x20AC,)), ("space", (0x20,))):
        if agl.get(name) != cps:
            fail("the Adobe Glyph List maps %r to %r" % (name, agl.get(name)))


# ---- Output -----------------------------------------------------------------------

def c_string(name):
    return '"%s"' % name


def u32_literal(cps):
    return 'U"%s"' % "".join("\\x%04X" % cp for cp in cps)


def rows(items, per_row, indent="    "):
    out = []
    for i in range(0, len(items), per_row):
        out.append(indent + " ".join(items[i:i + per_row]))
    return out


def comment(text):
    return ["// " + line for line in textwrap.wrap(text, 96)]


def identifier(font):
    return "k" + font.replace("-", "") + "Widths"


def emit(agl, agl_notice, agl_version, encodings, pdfdoc, cp1252, folds, fold_notice,
         fold_version, afms):
    out = ["// Generated by: " + COMMAND,
           "// Do not edit; change the generator and run it again.",
           "//",
           "// The data behind src/unicode.cpp, read from these files:",
           "// - text/glyphlist.txt, the Adobe Glyph List (%s), which carries this notice:" % agl_version]
    out += [("//     " + line).rstrip() for line in agl_notice]
    out += ["// - text/latin-encodings.tsv, the Latin character set with its codes in StandardEncoding,",
            "//   MacRomanEncoding, WinAnsiEncoding and PDFDocEncoding (PDF reference, Annex D.2).",
            "// - text/CaseFolding.txt (Unicode %d.%d.%d), which carries this notice:" % fold_version]
    out += ["//     " + line for line in fold_notice]
    out += ["// - afm/*.afm, the metrics of the 14 standard fonts, which carry these notices:"]
    notices = []
    for font in STD14:
        if afms[font][1] not in notices:
            notices.append(afms[font][1])
    out += ["//     " + notice for notice in notices]
    out += ["", '#include "unicode_tables.h"', ""]

    names = sorted(agl)
    out += ["// The Adobe Glyph List, sorted by name for binary search (%d names)." % len(names),
            "constexpr UnicodeGlyphName kGlyphList[] = {"]
    out += ["    {%s, %s}," % (c_string(name), u32_literal(agl[name])) for name in names]
    out += ["};",
            "constinit const std::span<const UnicodeGlyphName> unicode_glyph_list{kGlyphList};",
            ""]

    out += ["// Glyph names by code, nullptr where a code is unassigned, in the order of enum",
            "// BaseEncoding: the Latin encodings from text/latin-encodings.tsv (WinAnsiEncoding",
            "// also has the space at 160 and the hyphen at 173, MacRomanEncoding the space at 202),",
            "// Symbol and ZapfDingbats from the C codes of their AFM files.",
            "constinit const char *const unicode_encoding_names[%d][256] = {" % len(ENCODINGS)]
    for (title, _), table in zip(ENCODINGS, encodings):
        out.append("    {")
        out.append("        // " + title)
        for row in range(0, 256, 8):
            items = [c_string(n) + "," if n else "nullptr," for n in table[row:row + 8]]
            out.append("        /* %3d */ %s" % (row, " ".join(items)))
        out.append("    },")
    out += ["};", ""]

    for title, symbol, table in (
            ("PDFDocEncoding (the code points of its glyphs in the Adobe Glyph List, and the "
             "controls tab, line feed and carriage return)", "unicode_pdfdoc_table", pdfdoc),
            ("Windows-1252 (Latin-1, with WinAnsiEncoding's glyphs at 0x80-0x9F)",
             "unicode_cp1252_table", cp1252)):
        out += comment("The code point of each byte in %s; 0 where the byte is undefined." % title)
        out += ["constinit const char32_t %s[256] = {" % symbol]
        for row in range(0, 256, 8):
            out.append("    /* %3d */ %s" % (row, " ".join("0x%04X," % cp for cp in table[row:row + 8])))
        out += ["};", ""]

    pairs = sorted(folds.items())
    out += ["// Simple case folding (statuses C and S of text/CaseFolding.txt), sorted by code point",
            "// (%d mappings)." % len(pairs),
            "constexpr UnicodeFoldPair kFoldPairs[] = {"]
    out += rows(["{0x%04X, 0x%04X}," % pair for pair in pairs], 4)
    out += ["};",
            "constinit const std::span<const UnicodeFoldPair> unicode_fold_pairs{kFoldPairs};",
            ""]

    # Fonts with the same glyph names share one sorted name list.
    name_lists = {}
    for font in STD14:
        key = tuple(sorted(name for _, _, name in afms[font][0]))
        name_lists.setdefault(key, []).append(font)
    list_ids = {}
    for index, (key, fonts) in enumerate(name_lists.items()):
        list_id = "kGlyphNames%s" % ("Latin" if len(fonts) > 1 else fonts[0].replace("-", ""))
        for font in fonts:
            list_ids[font] = (list_id, key)
        out += comment("The glyph names of %s, sorted for binary search." % ", ".join(fonts))
        out += ["constexpr std::string_view %s[] = {" % list_id]
        out += rows([c_string(n) + "," for n in key], 6)
        out += ["};", ""]
    for font in STD14:
        list_id, key = list_ids[font]
        widths = {name: width for _, width, name in afms[font][0]}
        out += ["// %s: the WX width of each glyph of afm/%s.afm, in %s order." % (font, font, list_id),
                "constexpr int16_t %s[] = {" % identifier(font)]
        out += rows(["%d," % widths[name] for name in key], 16)
        out += ["};", ""]
    out += ["constinit const UnicodeStd14Metrics unicode_std14_metrics[14] = {"]
    for font in STD14:
        out.append("    {%s, %s},  // %s" % (list_ids[font][0], identifier(font), font))
    out += ["};"]
    return "\n".join(out) + "\n"


def main(argv):
    if len(argv) != 3:
        sys.exit("usage: gen_unicode_tables.py TEXT_DIR AFM_DIR > src/unicode_tables.cpp")
    text_dir, afm_dir = argv[1], argv[2]
    agl, agl_notice, agl_version = read_glyph_list(os.path.join(text_dir, "glyphlist.txt"))
    check_glyph_list(agl)
    latin = read_latin_encodings(os.path.join(text_dir, "latin-encodings.tsv"), agl)
    afms = {font: read_afm(os.path.join(afm_dir, font + ".afm"), font) for font in STD14}
    encodings = encoding_tables(latin, afms)
    check_encodings(encodings, agl)
    pdfdoc = pdfdoc_table(encodings[3], agl)
    cp1252 = cp1252_table(encodings[1], agl)
    folds, full, fold_notice, fold_version = read_case_folding(
        os.path.join(text_dir, "CaseFolding.txt"))
    check_case_folding(folds, full, fold_version)
    sys.stdout.write(emit(agl, agl_notice, agl_version, encodings, pdfdoc, cp1252, folds,
                          fold_notice, fold_version, afms))


if __name__ == "__main__":
    main(sys.argv)
