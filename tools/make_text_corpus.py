#!/usr/bin/env python3
"""Writes the seed corpus of fuzz/redact_text_fuzzer.cpp into fuzz/corpus/redact_text.

Each seed is the fuzzer's flags byte (font kind in the low two bits, then:
4 content in a form drawn twice, 8 /Identity-V, 16 the CMap text is also the
/Encoding, 32 no ToUnicode, 64 a flipped Type 3 /FontMatrix, 128 a written
job with the region) followed by the content stream, the CMap text and the
/Differences, /Widths or /W text, separated by 0xFF bytes. Run from the
repository root:

    python3 tools/make_text_corpus.py
"""
import os

SEP = b"\xff"
OUT = os.path.join("fuzz", "corpus", "redact_text")


def seed(name, flags, content, cmap=b'', tail=b''):
    with open(os.path.join(OUT, name), 'wb') as f:
        f.write(bytes([flags]) + content + SEP + cmap + SEP + tail)


def tounicode(body):
    return (b"/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n"
            b"/CMapName /Fuzz def /CMapType 2 def\n" + body +
            b"\nendcmap CMapName currentdict /CMap defineresource pop end end\n")


seed('simple_differences_ligature', 32,
     b"BT /F1 12 Tf 72 700 Td (A se\\002cret here) Tj 0 -14 Td [(pa) -20 (ss) -250 (word)] TJ ET\n"
     b"BT /F2 10 Tf 100 0 0 100 0 0 Tm 0.1 0 0 0.1 50 500 Tm 2 Tc 3 Tw (secret pass word) Tj ET",
     tail=b"2 /fi /fl 65 /uni0042 /c.sc /s_e")
seed('truetype_subset_tounicode', 1,
     b"BT /F1 11 Tf 1 0 0 1 72 700 Tm <010203040205> Tj ( \\001\\002\\(\\\\) Tj 0 -12 Td <06070808> Tj <0920> Tj <0A0B0C0D> Tj ET",
     tounicode(b"1 begincodespacerange <00> <FF> endcodespacerange\n"
               b"6 beginbfchar <01> <0073> <02> <0065> <03> <0063> <04> <0072> <05> <0074> <20> <006E> endbfchar\n"
               b"2 beginbfrange <06> <08> [<0070> <0061> <0073>] <0A> <0D> <0077> endbfrange\n"
               b"1 beginbfchar <09> <0020> endbfchar"),
     b"500 556 444 333 278 500 444 389 250 722 500 500 500 333 333 250")
seed('type0_identity_h_w', 2,
     b"BT /F1 12 Tf 72 700 Td <00110012001300140012001500030016> Tj [(\\000\\021) 120 (\\000\\022\\000\\()] TJ ET\n"
     b"BT /F1 1 Tf 12 0 0 12 72 600 Tm 0 Tw <0020> Tj T* <D83D> Tj ET",
     tounicode(b"1 begincodespacerange <0000> <FFFF> endcodespacerange\n"
               b"2 beginbfrange <0011> <0015> [<0073> <0065> <0063> <0072> <0074>] <0028> <0029> <0041> endbfrange\n"
               b"2 beginbfchar <0003> <0020> <0016> <D83DDE00> endbfchar"),
     b"17 [500 600 700] 20 25 450 3 3 250")
seed('type0_vertical_region', 2 | 8 | 128,
     b"q 1 0 0 1 50 50 cm BT /F1 10 Tf 20 700 Td <0011001200130014> Tj ET Q",
     tounicode(b"1 begincodespacerange <0000> <FFFF> endcodespacerange\n"
               b"1 beginbfrange <0011> <0014> <0070> endbfrange"),
     b"17 [1000 900 800 700]")
seed('type0_embedded_cmap', 2 | 16,
     b"BT /F1 12 Tf 72 700 Td <41428001A0A0> Tj (AB) Tj ET",
     tounicode(b"2 begincodespacerange <00> <7F> <8000> <FFFF> endcodespacerange\n"
               b"1 begincidrange <41> <5A> 65 endcidrange 1 begincidchar <8001> 300 endcidchar\n"
               b"1 beginbfrange <41> <5A> <0041> endbfrange 1 beginbfchar <8001> <00660069> endbfchar\n"
               b"/Fuzz usecmap"),
     b"65 90 600 300 [1000]")
seed('type3_flipped_matrix', 3 | 64 | 32,
     b"BT /F1 24 Tf 72 700 Td (secret) Tj 1 0 0 -1 72 400 Tm (s e c) ' 2 1 (ret) \" ET",
     tail=b"97 /a 99 /c 101 /e 112 /p 114 /r /s /t 32 /space 119 /w /x /y /z 111 /o 100 /d")
seed('form_drawn_twice_state', 4 | 0 | 128,
     b"q 2 0 0 2 0 0 cm BT /F1 6 Tf 150 Tz 2 Ts 14 TL 10 390 Td (sec) Tj T* (ret) Tj ET Q\n"
     b"/Span << /ActualText (secret) >> BDC BT /F2 12 Tf 50 300 Td (xxxxxx) Tj ET EMC\n"
     b"BI /W 2 /H 2 /BPC 8 /CS /G ID \x00\x10\x20\x30 EI\n"
     b"BT /F1 12 Tf 1 0 0 -1 0 792 cm 40 400 Td (pass) Tj 30 0 Td (word) Tj ET",
     tail=b"")
