#!/usr/bin/env python3
"""Generates the code-page tables of src/base from sources on this machine.

    python3 tools/gen/codepages.py [--out src/base]

writes
    cp_sbcs.cpp        the 256-unit tables of the single-byte pages
    cp_932.cpp ...     the base and row tables of the double-byte pages
    cp_950.cpp         (932, 936, 949, 950)
    cp_cjk94.cpp       JIS X 0208, JIS X 0212, GB 2312, CNS 11643 planes 1 and 2
    cp_precompose.cpp  the precomposition table

Sources:
  - Python's codecs for the single-byte pages, and glibc iconv (IBM870) for
    EBCDIC 870, which Python lacks;
  - glibc iconv (CP932, CP936, CP949, CP950) for the double-byte pages: it
    gives Big5's user-defined block C6A1-C6FE the private-use units Windows
    gives it (U+F6B1-U+F70E), where Python's cp950 has kana;
  - glibc iconv (EUC-JP, EUC-CN, EUC-TW) for the 94 x 94 character sets;
  - unicodedata.ucd_3_2_0 for the canonical pair decompositions.

The tables follow the pages as Windows defines them; where Windows and the
published charts differ, the rows are overridden below and each override says
what it is.
"""

import argparse
import codecs
import ctypes
import os
import sys
import unicodedata

COMMAND = "python3 tools/gen/codepages.py --out src/base"

# ---------------------------------------------------------------------------
# glibc iconv through ctypes (generation time only).

_libc = ctypes.CDLL(None, use_errno=True)
_libc.iconv_open.restype = ctypes.c_void_p
_libc.iconv_open.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
_libc.iconv.restype = ctypes.c_size_t
_libc.iconv.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_char_p), ctypes.POINTER(ctypes.c_size_t),
                        ctypes.POINTER(ctypes.c_char_p), ctypes.POINTER(ctypes.c_size_t)]
_libc.iconv_close.argtypes = [ctypes.c_void_p]


class Iconv:
    def __init__(self, encoding):
        self.cd = _libc.iconv_open(b"UTF-32LE", encoding.encode())
        if self.cd in (None, ctypes.c_void_p(-1).value, 2**64 - 1):
            sys.exit("iconv cannot convert from " + encoding)

    def decode(self, data):
        """The code points of data, or None when iconv rejects any of it."""
        _libc.iconv(self.cd, None, None, None, None)  # back to the initial state
        inbuf = ctypes.create_string_buffer(data, len(data))
        outbuf = ctypes.create_string_buffer(64)
        ip = ctypes.c_char_p(ctypes.addressof(inbuf))
        op = ctypes.c_char_p(ctypes.addressof(outbuf))
        il = ctypes.c_size_t(len(data))
        ol = ctypes.c_size_t(64)
        r = _libc.iconv(self.cd, ctypes.byref(ip), ctypes.byref(il), ctypes.byref(op), ctypes.byref(ol))
        if r == ctypes.c_size_t(-1).value or il.value:
            return None
        raw = outbuf.raw[:64 - ol.value]
        return [int.from_bytes(raw[i:i + 4], "little") for i in range(0, len(raw), 4)]


# ---------------------------------------------------------------------------
# Single-byte pages.

SBCS = [
    (37, "cp037"), (437, "cp437"), (500, "cp500"), (737, "cp737"), (850, "cp850"), (852, "cp852"),
    (855, "cp855"), (857, "cp857"), (858, "cp858"), (862, "cp862"), (866, "cp866"), (870, "iconv:IBM870"),
    (1250, "cp1250"), (1251, "cp1251"), (1252, "cp1252"), (1254, "cp1254"), (1255, "cp1255"),
    (10007, "mac_cyrillic"), (10029, "mac_latin2"), (20866, "koi8_r"), (21866, "koi8_u"),
    (28592, "iso8859_2"), (28593, "iso8859_3"), (28595, "iso8859_5"), (28596, "iso8859_6"),
    (28597, "iso8859_7"), (28598, "iso8859_8"), (28599, "iso8859_9"), (28605, "iso8859_15"),
]

# The IBM PC glyphs that Windows' 437 gives the control bytes.
CP437_GLYPHS = [
    0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022, 0x25D8, 0x25CB, 0x25D9, 0x2642, 0x2640,
    0x266A, 0x266B, 0x263C, 0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7, 0x25AC, 0x21A8, 0x2191,
    0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC,
]

# Bytes a page leaves undefined: '?' in 1250, 1251, 1255; the byte's own value
# in 1252 and 1254; private-use units handed out in byte order, page after page,
# from U+F79C for the ISO 8859 pages and from U+F8BB for 857.
UNDEFINED_AS_QUESTION = {1250, 1251, 1255}
UNDEFINED_AS_SELF = {1252, 1254}
UNDEFINED_AS_PUA = [(28593, 0xF79C), (28596, None), (28597, None), (28598, None), (857, 0xF8BB)]

# Rows where Windows differs from the charts Python follows; None: undefined.
OVERRIDES = {
    28597: {0xA1: 0x02BD, 0xA2: 0x02BC, 0xA4: None, 0xA5: None, 0xAA: None},
    28598: {0xAF: 0x203E, 0xFD: None, 0xFE: None},
    21866: {0xAE: 0x045E, 0xBE: 0x040E},
    10007: {0xA2: 0x00A2, 0xB6: 0x2202, 0xFF: 0x00A4},
}


def decode_byte(source, b, ibm):
    if source.startswith("iconv:"):
        r = ibm.decode(bytes([b]))
        return r[0] if r and len(r) == 1 and r[0] <= 0xFFFF else None
    try:
        s = bytes([b]).decode(source)
    except UnicodeDecodeError:
        return None
    return ord(s) if len(s) == 1 and ord(s) <= 0xFFFF else None


def single_byte_tables():
    tables = {}
    for cp, source in SBCS:
        ibm = Iconv(source[6:]) if source.startswith("iconv:") else None
        table = [decode_byte(source, b, ibm) for b in range(256)]
        for b, u in OVERRIDES.get(cp, {}).items():
            table[b] = u
        if cp == 437:
            for b in range(1, 0x20):
                table[b] = CP437_GLYPHS[b - 1]
            table[0x7F] = 0x2302
        tables[cp] = table
    pua = None
    for cp, start in UNDEFINED_AS_PUA:
        if start is not None:
            pua = start
        for b in range(256):
            if tables[cp][b] is None:
                tables[cp][b] = pua
                pua += 1
    for cp, table in tables.items():
        for b in range(256):
            if table[b] is None:
                if cp in UNDEFINED_AS_QUESTION:
                    table[b] = 0x3F
                elif cp in UNDEFINED_AS_SELF:
                    table[b] = b
                else:
                    sys.exit("page %d leaves byte 0x%02X undefined" % (cp, b))
    if pua is None or tables[28598][0xFF] != 0xF7FB or tables[857][0xF2] != 0xF8BD:
        sys.exit("private-use ranges do not come out as U+F79C-U+F7FB and U+F8BB-U+F8BD")
    return tables


# ---------------------------------------------------------------------------
# Double-byte pages.

DBCS = {
    932: ("CP932", [(0x81, 0x84), (0x87, 0x9F), (0xE0, 0xEA), (0xED, 0xEE), (0xFA, 0xFC)]),
    936: ("CP936", [(0x81, 0xFE)]),
    949: ("CP949", [(0x81, 0xC8), (0xCA, 0xFD)]),
    950: ("CP950", [(0xA1, 0xC6), (0xC9, 0xF9)]),
}


def dbcs_base(cp):
    base = list(range(0x80)) + [0xFFFF] * 0x80
    if cp == 932:
        for b in range(0xA1, 0xE0):
            base[b] = 0xFF61 + (b - 0xA1)
    elif cp == 936:
        base[0x80] = 0x20AC
    return base


def dbcs_rows(cp):
    encoding, ranges = DBCS[cp]
    conv = Iconv(encoding)
    rows = {}
    for lo, hi in ranges:
        for lead in range(lo, hi + 1):
            row = []
            for trail in range(0x40, 0x100):
                r = conv.decode(bytes([lead, trail]))
                row.append(r[0] if r and len(r) == 1 and r[0] <= 0xFFFF else 0x3F)
            rows[lead] = row
    return rows


# ---------------------------------------------------------------------------
# 94 x 94 sets: one row of 94 units per first byte 0x21-0x7E, 0 where unmapped.

CJK94 = [
    ("jisx0208", "EUC-JP", b""),
    ("jisx0212", "EUC-JP", b"\x8f"),
    ("gb2312", "EUC-CN", b""),
    ("cns11643_1", "EUC-TW", b""),
    ("cns11643_2", "EUC-TW", b"\x8e\xa2"),
]


def cjk94_rows(encoding, prefix):
    conv = Iconv(encoding)
    rows = {}
    for c1 in range(0x21, 0x7F):
        row = []
        for c2 in range(0x21, 0x7F):
            r = conv.decode(prefix + bytes([c1 | 0x80, c2 | 0x80]))
            row.append(r[0] if r and len(r) == 1 and 0 < r[0] <= 0xFFFF else 0)
        if any(row):
            rows[c1] = row
    return rows


# ---------------------------------------------------------------------------
# Precomposition: every BMP character whose canonical decomposition is exactly
# one base unit and one combining unit (Unicode 3.2, the version the file
# systems that deliver decomposed names follow).

def precompositions():
    db = unicodedata.ucd_3_2_0
    rows = {}
    for c in range(0x10000):
        d = db.decomposition(chr(c))
        if not d or d.startswith("<"):
            continue
        parts = [int(x, 16) for x in d.split()]
        if len(parts) != 2 or max(parts) > 0xFFFF:
            continue
        key = (parts[0] << 16) | parts[1]
        if key in rows:
            sys.exit("two characters decompose to %08X" % key)
        rows[key] = c
    if len(rows) != 989:
        sys.exit("expected 989 precompositions, found %d" % len(rows))
    return sorted(rows.items())


# ---------------------------------------------------------------------------
# Output.

def header(what, source):
    return ("// Generated by tools/gen/codepages.py; do not edit.\n"
            "// Command: %s\n"
            "// %s, from %s.\n" % (COMMAND, what, source))


def units(values, per_line=12, indent="    "):
    lines = []
    for i in range(0, len(values), per_line):
        lines.append(indent + ", ".join("0x%04X" % v for v in values[i:i + per_line]) + ",")
    return "\n".join(lines)


def write(out_dir, name, text):
    path = os.path.join(out_dir, name)
    with open(path, "w", encoding="ascii", newline="\n") as f:
        f.write(text)


def gen_sbcs(out_dir):
    tables = single_byte_tables()
    parts = [header("Single-byte code pages, one unit per byte",
                    "Python %d.%d codecs and glibc iconv (870)" % sys.version_info[:2]),
             '#include "base/textenc.h"\n']
    parts.append("// ISO 8859-1: every byte is the unit of its own value.\n"
                 "const unsigned short __symtab_dft[256] = {\n%s\n};\n" % units(list(range(256))))
    for cp, source in SBCS:
        parts.append("// %d (%s)\nconst unsigned short __symtab_%d[256] = {\n%s\n};\n"
                     % (cp, source.replace("iconv:", "glibc "), cp, units(tables[cp])))
    write(out_dir, "cp_sbcs.cpp", "\n".join(parts))


def gen_dbcs(out_dir, cp):
    codec = DBCS[cp][0]
    rows = dbcs_rows(cp)
    parts = [header("Double-byte code page %d: row tables for the trail bytes 0x40-0xFF" % cp,
                    "glibc iconv %s" % codec),
             '#include "base/dbcs.h"\n']
    if cp != 949:
        parts.append("const unsigned short __symtab_JIS%d_base[256] = {\n%s\n};\n" % (cp, units(dbcs_base(cp))))
    for lead, row in rows.items():
        parts.append("const unsigned short __symtab_JIS%d_%02X[%d] = {\n%s\n};" % (cp, lead, len(row), units(row)))
    ext = []
    for lead in range(256):
        ext.append("__symtab_JIS%d_%02X" % (cp, lead) if lead in rows else "nullptr")
    lines = []
    for i in range(0, 256, 4):
        lines.append("    " + ", ".join(ext[i:i + 4]) + ",")
    parts.append("\nconst unsigned short* const __symtab_JIS%d_exts[256] = {\n%s\n};\n" % (cp, "\n".join(lines)))
    write(out_dir, "cp_%d.cpp" % cp, "\n".join(parts))


def gen_cjk94(out_dir):
    parts = [header("94 x 94 character sets, rows 0x21-0x7E of units for 0x21-0x7E (0: not mapped)",
                    "glibc iconv (EUC-JP, EUC-CN, EUC-TW)"),
             '#include "base/dbcs.h"\n']
    for name, encoding, prefix in CJK94:
        rows = cjk94_rows(encoding, prefix)
        for c1, row in rows.items():
            parts.append("static const unsigned short %s_%02X[94] = {\n%s\n};" % (name, c1, units(row)))
        refs = ["%s_%02X" % (name, c1) if c1 in rows else "nullptr" for c1 in range(0x21, 0x7F)]
        lines = ["    " + ", ".join(refs[i:i + 4]) + "," for i in range(0, 94, 4)]
        parts.append("\nconst unsigned short* const __cjk94_%s[94] = {\n%s\n};\n" % (name, "\n".join(lines)))
    write(out_dir, "cp_cjk94.cpp", "\n".join(parts))


def gen_precompose(out_dir):
    rows = precompositions()
    parts = [header("Precomposition table: base << 16 | combining mark -> composed unit",
                    "Python unicodedata.ucd_3_2_0"),
             '#include "base/textenc.h"\n',
             "const sPrecomposition precompositions[__precompositions_count + 1] = {"]
    for key, c in rows:
        parts.append("    {0x%08X, 0x%04X, 0}," % (key, c))
    parts.append("    {0, 0, 0},\n};\n")
    write(out_dir, "cp_precompose.cpp", "\n".join(parts))


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--out", default="src/base")
    args = ap.parse_args()
    gen_sbcs(args.out)
    for cp in DBCS:
        gen_dbcs(args.out, cp)
    gen_cjk94(args.out)
    gen_precompose(args.out)


if __name__ == "__main__":
    main()
