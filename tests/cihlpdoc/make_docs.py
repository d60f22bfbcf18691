#!/usr/bin/env python3
# Writes compiled documents by hand from the byte layout, with struct and
# zlib, one file per case into FOLDER: make_docs.py FOLDER BMP
import struct, sys, zlib
d, bmp = sys.argv[1], open(sys.argv[2], 'rb').read()

def hdr(t, bg=0xFFFFFFFF, br=0, m=(0, 0, 0, 0), w=0xFFFF, h=0xFFFF):
    return struct.pack('<BIBHHHHHH', t, bg, br, m[0], m[1], m[2], m[3], w, h)
def text(s, colour=0xFFFFFFFF, font=0xFFFF, **k):
    b = s.encode()
    return hdr(0, **k) + struct.pack('<IHH', colour, font, len(b)) + b
def link(s, sid, colour=0xFFFFFFFF, font=0xFFFF, **k):
    b = s.encode()
    return hdr(3, **k) + struct.pack('<IHHH', colour, font, len(b), sid) + b
def box(kids, colour=0xFFFFFFFF, font=0xFFFF, align=0, **k):
    return hdr(2, **k) + struct.pack('<IHB', colour, font, align) + kids + b'\xff'
def pic(i, **k):
    return hdr(1, **k) + struct.pack('<H', i)
def piclink(i, sid, **k):
    return hdr(4, **k) + struct.pack('<HH', i, sid)
def z(b):
    return zlib.compress(b, 5)
def table(b, compress=True):
    if not b: return b'\0\0\0\0'
    body = z(b) if compress else b
    return struct.pack('<I', len(body)) + body
def doc(langs, fonts=b'', strings=b'', images=b'', raw_langs=None):
    out = b'QORHDOCF'
    for lid, body in (raw_langs or [(l, z(r)) for l, r in langs]):
        out += struct.pack('<BI', lid, len(body)) + body
    return out + b'\xff' + table(fonts) + table(strings) + table(images, False)
def font(face, w, h, style):
    return struct.pack('<HHHBB', face, w, h, style, 0)
def strs(*ss):
    return b''.join(struct.pack('<H', len(s.encode())) + s.encode() for s in ss)
def imgs(*files):
    return b''.join(struct.pack('<I', len(f)) + f for f in files)

def nest(n):
    r = b'deep'
    r = text('deep')
    for _ in range(n): r = box(r)
    return r + b'\xff'

cases = {
    'empty_root.ok': doc([(0, b'\xff')]),
    'extra_after_end.ok': doc([(0, text('a') + b'\xffjunk')]),
    'cut_record.bad': doc([(0, text('abc')[:20])]),
    'no_end_byte.bad': doc([(0, text('abc'))]),
    'dup_lang.bad': doc([(2, b'\xff'), (2, b'\xff')]),
    'font12.bad': doc([(0, b'\xff')], fonts=font(0, 5, 13, 0) + b'\0\0\0\0'),
    'no_lang.bad': doc([]),
    'bad_type.bad': doc([(0, b'\x05' + text('a')[1:] + b'\xff')]),
    'missing_string.bad': doc([(0, link('a', 3) + b'\xff')], strings=strs('x')),
    'missing_picture.bad': doc([(0, pic(1) + b'\xff')], images=imgs(bmp)),
    'picture_link_missing_string.bad': doc([(0, piclink(0, 2) + b'\xff')], images=imgs(bmp), strings=strs('x')),
    'picture_link_without_string.bad': doc([(0, piclink(0, 0xFFFF) + b'\xff')], images=imgs(bmp), strings=strs('x')),
    'zero_length_block.bad': doc(None, raw_langs=[(0, b'')]),
    'block_past_end.bad': doc(None, raw_langs=[(0, z(b'\xff'))])[:-14],
    'text_past_end.bad': doc([(0, text('abcdef')[:-3])]),
    'bad_picture.bad': doc([(0, b'\xff')], images=imgs(b'not a picture at all')),
    'short.bad': b'QORHDOCF\x00\x01',
    'bad_magic.bad': b'QORHDOCX' + doc([(0, b'\xff')])[8:],
    'empty_inflate.bad': doc(None, raw_langs=[(0, z(b''))]),
    'nest64.ok': doc([(0, nest(64))]),
    'nest65.bad': doc([(0, nest(65))]),
    # A language block that inflates past the budget of 64 MiB.
    'bomb.bad': doc(None, raw_langs=[(0, zlib.compress(b'\0' * ((64 << 20) + 1), 9))]),
    # A font table whose zlib stream lacks its checksum still yields its entries.
    'cut_font_stream.ok': b'QORHDOCF' + struct.pack('<BI', 0, len(z(b'\xff'))) + z(b'\xff') + b'\xff'
        + (lambda f: struct.pack('<I', len(f)) + f)(z(font(3, 8, 20, 5) + font(1, 6, 12, 2))[:-4]) + b'\0' * 8,
    'full.ok': doc([
        (1, text('one', colour=0x0000FF, font=1, bg=0x00FF00, br=1, m=(1, 2, 3, 4), w=50, h=20)
            + link('two', 1) + box(text('in') + piclink(1, 0, w=9), colour=0x123456, font=0, align=3, w=70)
            + pic(0) + b'\xff'),
        (7, text('esp') + b'\xff'),
    ], fonts=font(3, 8, 20, 5) + font(1, 6, 12, 2), strings=strs('first', 'second'),
       images=imgs(b'', bmp, bmp)),
    # Any format the picture factory knows may be embedded: a binary PPM of
    # 2 x 2 pixels (x * 100, y * 60, 7), top row first.
    'ppm_picture.ok': doc([(0, pic(0) + b'\xff')],
        images=imgs(b'P6\n2 2\n255\n' + bytes(v for y in range(2) for x in range(2) for v in (x * 100, y * 60, 7)))),
}
for name, data in cases.items():
    open(d + '/' + name, 'wb').write(data)
