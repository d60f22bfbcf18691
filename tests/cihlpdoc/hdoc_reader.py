#!/usr/bin/env python3
# An independent reader of compiled documents ("QORHDOCF"), written from the
# byte layout alone with struct and zlib.  Usage:
#   hdoc_reader.py DOC EXPECTED.json [FOLDER]
# Walks every block, checks each zlib stream is complete and is exactly what
# zlib makes of its content at level 5, and compares the records and tables
# with the expected description; image entries are compared byte for byte with
# the files named in the description (relative to FOLDER).  Prints the actual
# description and exits 1 on any difference.
import json, struct, sys, zlib

def fail(msg):
    print(msg)
    sys.exit(1)

def header(b, p):
    bg, br, ml, mr, mt, mb, w, h = struct.unpack_from('<IBHHHHHH', b, p + 1)
    s = ''
    if bg != 0xFFFFFFFF: s += '|bg=%08x' % bg
    if br: s += '|br=%d' % br
    if ml or mr or mt or mb: s += '|m=%d,%d,%d,%d' % (ml, mr, mt, mb)
    if w != 0xFFFF: s += '|w=%d' % w
    if h != 0xFFFF: s += '|h=%d' % h
    return s

def records(b, p):
    out = []
    while True:
        t = b[p]
        if t == 0xFF:
            return out, p + 1
        hs = header(b, p)
        if t in (0, 3):
            colour, font, n = struct.unpack_from('<IHH', b, p + 18)
            q = p + 26
            tag = 'T'
            extra = ''
            if t == 3:
                sid, = struct.unpack_from('<H', b, q)
                q += 2
                tag = 'L'
                extra = '|s=%d' % sid
            text = b[q:q + n].decode('utf-8')
            if len(b[q:q + n]) != n: fail('text past the end')
            out.append('%s|%s|c=%08x|f=%d%s%s' % (tag, text, colour, font, extra, hs))
            p = q + n
        elif t == 2:
            colour, font, align = struct.unpack_from('<IHB', b, p + 18)
            kids, p = records(b, p + 25)
            out.append(['C|c=%08x|f=%d|a=%d%s' % (colour, font, align, hs), kids])
        elif t in (1, 4):
            img, = struct.unpack_from('<H', b, p + 18)
            if t == 4:
                sid, = struct.unpack_from('<H', b, p + 20)
                out.append('PL|i=%d|s=%d%s' % (img, sid, hs))
                p += 22
            else:
                out.append('P|i=%d%s' % (img, hs))
                p += 20
        else:
            fail('bad record type %d' % t)

def block(b, p):
    n, = struct.unpack_from('<I', b, p)
    z = b[p + 4:p + 4 + n]
    if len(z) != n: fail('block past the end')
    return z, p + 4 + n

def inflate_exact(z):
    d = zlib.decompressobj()
    plain = d.decompress(z)
    if not d.eof or d.unused_data: fail('zlib stream not complete')
    if zlib.compress(plain, 5) != z: fail('zlib stream is not the level-5 stream of its content')
    return plain

doc = open(sys.argv[1], 'rb').read()
exp = json.load(open(sys.argv[2]))
folder = sys.argv[3] if len(sys.argv) > 3 else '.'
if doc[:8] != b'QORHDOCF': fail('magic')
p = 8
langs = {}
last = -1
while doc[p] != 0xFF:
    lid = doc[p]
    if lid <= last: fail('language ids not ascending')
    last = lid
    z, p = block(doc, p + 1)
    if not z: fail('empty language block')
    plain = inflate_exact(z)
    recs, end = records(plain, 0)
    if end != len(plain): fail('bytes after the root end')
    langs[str(lid)] = recs
p += 1
z, p = block(doc, p)
fonts = []
if z:
    t = inflate_exact(z)
    if len(t) % 8: fail('font table size')
    for i in range(0, len(t), 8):
        face, w, h, style, zero = struct.unpack_from('<HHHBB', t, i)
        if zero: fail('font entry byte 7')
        fonts.append([face, w, h, style])
z, p = block(doc, p)
strings = []
if z:
    t = inflate_exact(z)
    q = 0
    while q < len(t):
        n, = struct.unpack_from('<H', t, q)
        strings.append(t[q + 2:q + 2 + n].decode('utf-8'))
        q += 2 + n
z, p = block(doc, p)
images = []
q = 0
while q < len(z):
    n, = struct.unpack_from('<I', z, q)
    images.append(z[q + 4:q + 4 + n])
    q += 4 + n
if p != len(doc): fail('bytes after the image table')
actual = {'langs': langs, 'fonts': fonts, 'strings': strings}
want = {k: exp[k] for k in ('langs', 'fonts', 'strings')}
if actual != want:
    fail('records differ:\n' + json.dumps(actual, indent=1))
files = [open(folder + '/' + f, 'rb').read() for f in exp.get('images', [])]
if files != images: fail('image table differs: %d entries' % len(images))
print('ok')
