#!/usr/bin/env python3
"""Generates src/font_widths.cpp, the advance-width tables of the standard 14 fonts.

Usage: python3 tools/gen_font_widths.py ../shared/afm > src/font_widths.cpp

The argument is the folder that holds the 14 core AFM files (with their licence
file MustRead.html). The text fonts are laid out in WinAnsiEncoding, Symbol and
ZapfDingbats in their built-in encodings (the `C code` of each AFM entry). The
widths redaction relies on differ from the AFM data in a few places; those are
the explicit corrections below, applied after the AFM widths. The generator
stops with a message when a table breaks the expected zero-entry layout.
"""

import os
import sys

# WinAnsiEncoding (PDF reference, appendix D): glyph name per code, None where
# the code is unassigned. Code 128 is the Euro.
WIN_ANSI = [None] * 32 + """
    space exclam quotedbl numbersign dollar percent ampersand quotesingle
    parenleft parenright asterisk plus comma hyphen period slash
    zero one two three four five six seven eight nine colon semicolon less equal greater question
    at A B C D E F G H I J K L M N O P Q R S T U V W X Y Z
    bracketleft backslash bracketright asciicircum underscore
    grave a b c d e f g h i j k l m n o p q r s t u v w x y z
    braceleft bar braceright asciitilde -
    Euro - quotesinglbase florin quotedblbase ellipsis dagger daggerdbl
    circumflex perthousand Scaron guilsinglleft OE - Zcaron -
    - quoteleft quoteright quotedblleft quotedblright bullet endash emdash
    tilde trademark scaron guilsinglright oe - zcaron Ydieresis
    space exclamdown cent sterling currency yen brokenbar section
    dieresis copyright ordfeminine guillemotleft logicalnot hyphen registered macron
    degree plusminus twosuperior threesuperior acute mu paragraph periodcentered
    cedilla onesuperior ordmasculine guillemotright onequarter onehalf threequarters questiondown
    Agrave Aacute Acircumflex Atilde Adieresis Aring AE Ccedilla
    Egrave Eacute Ecircumflex Edieresis Igrave Iacute Icircumflex Idieresis
    Eth Ntilde Ograve Oacute Ocircumflex Otilde Odieresis multiply
    Oslash Ugrave Uacute Ucircumflex Udieresis Yacute Thorn germandbls
    agrave aacute acircumflex atilde adieresis aring ae ccedilla
    egrave eacute ecircumflex edieresis igrave iacute icircumflex idieresis
    eth ntilde ograve oacute ocircumflex otilde odieresis divide
    oslash ugrave uacute ucircumflex udieresis yacute thorn ydieresis
""".split()
WIN_ANSI = [None if name == "-" else name for name in WIN_ANSI]
assert len(WIN_ANSI) == 256

TIMES = ["times_roman_widths", "times_italic_widths", "times_bold_widths",
         "times_bolditalic_widths"]
HELVETICA = ["helvetica_widths", "helvetica_oblique_widths", "helvetica_bold_widths",
             "helvetica_boldoblique_widths"]
COURIER = ["courier_widths", "courier_oblique_widths", "courier_bold_widths",
           "courier_boldoblique_widths"]

# (table, AFM file, laid out in WinAnsiEncoding?) in the output's order.
FONTS = [
    ("times_roman_widths", "Times-Roman", True),
    ("times_italic_widths", "Times-Italic", True),
    ("times_bold_widths", "Times-Bold", True),
    ("times_bolditalic_widths", "Times-BoldItalic", True),
    ("helvetica_widths", "Helvetica", True),
    ("helvetica_oblique_widths", "Helvetica-Oblique", True),
    ("helvetica_bold_widths", "Helvetica-Bold", True),
    ("helvetica_boldoblique_widths", "Helvetica-BoldOblique", True),
    ("courier_widths", "Courier", True),
    ("courier_oblique_widths", "Courier-Oblique", True),
    ("courier_bold_widths", "Courier-Bold", True),
    ("courier_boldoblique_widths", "Courier-BoldOblique", True),
    ("symbol_widths", "Symbol", False),
    ("zapfdingbats_widths", "ZapfDingbats", False),
]

# Codes at which each table has no glyph; every other entry must be positive.
# 160 is empty in the text fonts although WinAnsiEncoding puts a space there.
TEXT_ZEROS = set(range(32)) | {127, 129, 141, 143, 144, 157, 160}
ZEROS = {table: TEXT_ZEROS for table in TIMES + HELVETICA + COURIER}
ZEROS["symbol_widths"] = set(range(32)) | set(range(127, 160)) | {240, 255}
ZEROS["zapfdingbats_widths"] = set(range(32)) | set(range(127, 161)) | {240, 255}

# No entry may exceed this: the lookup reads entries as signed 16-bit values.
MAX_WIDTH = 1055

# Helvetica in full, codes 32-255.
HELVETICA_32_255 = [int(v) for v in """
    278 278 355 556 556 889 667 191 333 333 389 584 278 333 278 278
    556 556 556 556 556 556 556 556 556 556 278 278 584 584 584 556
    1015 667 667 722 722 667 611 778 722 278 500 667 556 833 722 778
    667 778 722 667 611 722 667 944 667 667 611 278 278 278 469 556
    333 556 556 500 556 556 278 556 556 222 222 500 222 833 556 556
    556 556 333 500 278 556 500 722 500 500 500 334 260 334 584 0
    556 0 222 556 333 1000 556 556 333 1000 667 333 1000 0 611 0
    0 222 221 333 333 350 556 1000 333 1000 500 333 944 0 500 667
    0 333 556 556 556 556 260 556 333 737 370 556 584 584 737 333
    606 584 351 351 333 556 537 278 333 351 365 556 869 869 869 611
    667 667 667 667 667 667 1000 722 667 667 667 667 278 278 278 278
    722 722 778 778 778 778 778 584 778 722 722 722 722 666 666 611
    556 556 556 556 556 556 889 500 556 556 556 556 278 278 278 278
    556 556 556 556 556 556 556 584 611 556 556 556 556 500 555 500
""".split()]
assert len(HELVETICA_32_255) == 224

# Times-Roman, codes 128-191.
TIMES_ROMAN_128_191 = [int(v) for v in """
    500 0 333 500 444 1000 500 500 333 1000 556 333 889 0 611 0
    0 333 333 444 444 350 500 1000 333 980 389 333 722 0 444 722
    0 333 500 500 500 500 200 500 333 760 276 500 564 564 760 333
    400 564 300 300 333 500 453 250 333 300 310 500 750 750 750 444
""".split()]
assert len(TIMES_ROMAN_128_191) == 64

SYMBOL_32_47 = [250, 333, 713, 500, 549, 833, 778, 439, 333, 333, 500, 549, 250, 549, 250, 278]
SYMBOL_160_175 = [762, 620, 247, 549, 167, 713, 500, 753, 753, 753, 753, 1042, 987, 603, 987, 603]
DINGBATS_32_47 = [278, 974, 961, 974, 980, 719, 789, 790, 791, 690, 960, 939, 549, 855, 911, 933]
DINGBATS_160_175 = [0, 732, 544, 544, 910, 667, 760, 760, 776, 595, 694, 626, 788, 788, 788, 788]

# Helvetica-BoldOblique equals Helvetica-Bold except at these codes.
BOLDOBLIQUE_OWN = {178: 444, 179: 444, 185: 444, 188: 1055, 189: 1055, 190: 1055}


def fail(message):
    sys.exit("gen_font_widths: " + message)


def corrections():
    """Returns {table: {code: width}}, the widths that override the AFM data."""
    fix = {table: {} for table, _, _ in FONTS}
    # Euro, the soft hyphen (wider than the hyphen at 45) and the degree sign.
    for table in TIMES:
        fix[table].update({128: 500, 176: 400})
    for table in HELVETICA:
        fix[table].update({128: 556, 173: 584, 176: 606})
    fix["times_roman_widths"][173] = 564
    fix["times_italic_widths"][173] = 675
    fix["times_bold_widths"][173] = 570
    fix["times_bolditalic_widths"][173] = 606
    fix["times_roman_widths"].update(enumerate(TIMES_ROMAN_128_191, 128))

    fix["helvetica_widths"].update(enumerate(HELVETICA_32_255, 32))
    fix["helvetica_oblique_widths"].update(enumerate(HELVETICA_32_255, 32))
    fix["helvetica_oblique_widths"].update(
        {146: 222, 178: 390, 179: 390, 185: 390, 188: 947, 189: 947, 190: 947,
         221: 667, 222: 667, 254: 556})
    fix["helvetica_bold_widths"].update(
        {176: 606, 178: 351, 179: 351, 185: 351, 188: 869, 189: 869, 190: 869})
    fix["helvetica_boldoblique_widths"].update(BOLDOBLIQUE_OWN)

    fix["symbol_widths"].update(enumerate(SYMBOL_32_47, 32))
    fix["symbol_widths"].update(enumerate(SYMBOL_160_175, 160))
    fix["zapfdingbats_widths"].update(enumerate(DINGBATS_32_47, 32))
    fix["zapfdingbats_widths"].update(enumerate(DINGBATS_160_175, 160))
    return fix


def read_afm(path):
    """Returns ({code: width}, {name: width}, copyright) of one AFM file."""
    by_code, by_name, notice = {}, {}, None
    try:
        with open(path, encoding="latin-1") as f:
            lines = f.read().splitlines()
    except OSError as e:
        fail("cannot read %s: %s" % (path, e.strerror))
    in_metrics = False
    for line in lines:
        if line.startswith("Comment Copyright") and notice is None:
            notice = line[len("Comment "):].strip()
        elif line.startswith("StartCharMetrics"):
            in_metrics = True
        elif line.startswith("EndCharMetrics"):
            in_metrics = False
        elif in_metrics and line.startswith("C "):
            fields = {}
            for item in line.split(";"):
                parts = item.split()
                if len(parts) >= 2:
                    fields[parts[0]] = parts[1]
            try:
                code, width, name = int(fields["C"]), int(fields["WX"]), fields["N"]
            except (KeyError, ValueError):
                fail("%s: unreadable metrics line: %s" % (path, line))
            by_name[name] = width
            if 0 <= code <= 255:
                by_code[code] = width
    if not by_name:
        fail("%s: no character metrics" % path)
    return by_code, by_name, notice


def build_tables(afm_dir):
    tables, notices, fix = {}, [], corrections()
    for table, font, win_ansi in FONTS:
        by_code, by_name, notice = read_afm(os.path.join(afm_dir, font + ".afm"))
        if notice and notice not in notices:
            notices.append(notice)
        if win_ansi:
            widths = [by_name.get(name, 0) if name else 0 for name in WIN_ANSI]
        else:
            widths = [by_code.get(code, 0) for code in range(256)]
        for code in ZEROS[table]:
            widths[code] = 0
        for code, width in fix[table].items():
            widths[code] = width
        if table in COURIER:
            widths = [600 if w > 0 else 0 for w in widths]
        tables[table] = widths
    return tables, notices


def check_tables(tables):
    for table, widths in tables.items():
        for code, width in enumerate(widths):
            if code in ZEROS[table] and width != 0:
                fail("%s[%d] is %d, expected no glyph" % (table, code, width))
            if code not in ZEROS[table] and width <= 0:
                fail("%s[%d] has no glyph, expected a positive width" % (table, code))
            if width > MAX_WIDTH:
                fail("%s[%d] is %d, above %d" % (table, code, width, MAX_WIDTH))
    bold, boldoblique = tables["helvetica_bold_widths"], tables["helvetica_boldoblique_widths"]
    for code in range(256):
        if code not in BOLDOBLIQUE_OWN and bold[code] != boldoblique[code]:
            fail("helvetica_boldoblique_widths[%d] is %d, helvetica_bold_widths has %d"
                 % (code, boldoblique[code], bold[code]))


def emit(tables, notices):
    out = ["// Generated by: python3 tools/gen_font_widths.py ../shared/afm > src/font_widths.cpp",
           "// Do not edit; change the generator and run it again.",
           "//",
           "// Advance widths in 1/1000 em from the core 14 AFM files, with the corrections",
           "// listed in the generator. The AFM data carries these notices:"]
    out += ["//   " + notice for notice in notices]
    out += ["", '#include "font_metrics.h"']
    for table, font, win_ansi in FONTS:
        order = "WinAnsiEncoding" if win_ansi else "built-in encoding"
        out += ["", "// %s, %s." % (font, order), "const WidthTable %s = {" % table]
        widths = tables[table]
        for row in range(0, 256, 16):
            values = "".join("%4d," % w for w in widths[row:row + 16])
            out.append("    /* %3d */ %s" % (row, values))
        out.append("};")
    return "\n".join(out) + "\n"


def main(argv):
    if len(argv) != 2:
        sys.exit("usage: gen_font_widths.py AFM_DIR > src/font_widths.cpp")
    tables, notices = build_tables(argv[1])
    check_tables(tables)
    sys.stdout.write(emit(tables, notices))


if __name__ == "__main__":
    main(sys.argv)
