#!/usr/bin/env python3
# Writes documents and payloads that ask far more of the document loader than
# their size, into FOLDER:  make_doc_budget.py FOLDER
#   tiff16k.tif        16384 x 16384 grey pixels in 64 strips of 256 rows, all
#                      pointing at one deflate stream of 4 KiB
#   tiff16k_box.doc    a document drawing it in a 64 x 64 box
#   tiff16k.data       a payload whose welcome document is that one
#   tiff16k_x4.data    a payload whose welcome document holds four copies
#                      of it, each drawn in a box
#   br1m_x3.data       a payload of three documents (welcome, readme,
#                      licence) of a million line breaks each
#   br200k_x1.data     one document of 200,000 line breaks
#   br200k_x3.data     three of them
#   png4k.png          a 4096 x 4096 grey PNG of zeros
#   png4k_box.doc      a document drawing it in a 64 x 32 box
#   png4k_whole.doc    a document drawing it whole
# Documents and payloads are laid out from their byte formats with struct
# and zlib.
import hashlib, os, struct, sys, zlib

out = sys.argv[1]


def write(name, data):
    with open(os.path.join(out, name), 'wb') as f:
        f.write(data)


def tiff_overlapping_strips(side=16384, rows_per_strip=256):
    # One zlib stream that inflates to one strip of zero rows; every strip's
    # offset names it, so 64 strips cost its 4 KiB once.
    strip = zlib.compress(bytes(side * rows_per_strip), 9)
    strips = side // rows_per_strip
    entries = [
        (256, 4, 1, side),                 # ImageWidth
        (257, 4, 1, side),                 # ImageLength
        (258, 3, 1, 8),                    # BitsPerSample
        (259, 3, 1, 8),                    # Compression: deflate
        (262, 3, 1, 1),                    # Photometric: black is zero
        (273, 4, strips, None),            # StripOffsets
        (277, 3, 1, 1),                    # SamplesPerPixel
        (278, 4, 1, rows_per_strip),       # RowsPerStrip
        (279, 4, strips, None),            # StripByteCounts
    ]
    ifd_at = 8
    ifd_size = 2 + 12 * len(entries) + 4
    offsets_at = ifd_at + ifd_size
    counts_at = offsets_at + 4 * strips
    data_at = counts_at + 4 * strips
    ifd = struct.pack('<H', len(entries))
    for tag, kind, count, value in entries:
        if tag == 273:
            ifd += struct.pack('<HHII', tag, kind, count, offsets_at)
        elif tag == 279:
            ifd += struct.pack('<HHII', tag, kind, count, counts_at)
        elif kind == 3:
            ifd += struct.pack('<HHIHH', tag, kind, count, value, 0)
        else:
            ifd += struct.pack('<HHII', tag, kind, count, value)
    ifd += struct.pack('<I', 0)
    return (b'II*\0' + struct.pack('<I', ifd_at) + ifd + struct.pack('<%dI' % strips, *([data_at] * strips))
            + struct.pack('<%dI' % strips, *([len(strip)] * strips)) + strip)


def png_grey(side):
    def chunk(kind, body):
        return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))
    rows = bytes(side + 1) * side  # filter byte 0 and zero samples
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', side, side, 8, 0, 0, 0, 0))
            + chunk(b'IDAT', zlib.compress(rows, 9)) + chunk(b'IEND', b''))


# ---- compiled documents ----

def record_header(kind, br=0, w=0xFFFF, h=0xFFFF):
    return struct.pack('<BIBHHHHHH', kind, 0xFFFFFFFF, br, 0, 0, 0, 0, w, h)


def line_break():
    return record_header(0, br=1) + struct.pack('<IHH', 0xFFFFFFFF, 0xFFFF, 0)


def picture(image_id, w=0xFFFF, h=0xFFFF):
    return record_header(1, w=w, h=h) + struct.pack('<H', image_id)


def document(records, images=()):
    block = zlib.compress(records + b'\xff', 9)
    table = b''.join(struct.pack('<I', len(f)) + f for f in images)
    return (b'QORHDOCF' + struct.pack('<BI', 0, len(block)) + block + b'\xff' + bytes(8)
            + struct.pack('<I', len(table)) + table)


# ---- payloads ----

def payload(welcome=None, readme=None, licence=None):
    body = b''
    if welcome is not None:
        body += b'\x09' + struct.pack('<I', len(welcome)) + welcome
    if readme is not None:
        body += b'\x0a\x00' + struct.pack('<I', len(readme)) + readme
    if licence is not None:
        body += b'\x0b' + struct.pack('<I', len(licence)) + licence
    body += b'\x00'
    packed = zlib.compress(body, 9)
    return (b'QORSOPKG' + struct.pack('<BII', 1, len(body), len(packed)) + hashlib.sha256(body).digest()
            + packed)


tiff = tiff_overlapping_strips()
write('tiff16k.tif', tiff)
tiff_doc = document(picture(0, 64, 64), [tiff])
write('tiff16k_box.doc', tiff_doc)
write('tiff16k.data', payload(welcome=tiff_doc))
write('tiff16k_x4.data', payload(welcome=document(b''.join(picture(i, 64, 64) for i in range(4)), [tiff] * 4)))

br_million = document(line_break() * 1000000)
write('br1m_x3.data', payload(br_million, br_million, br_million))
br_200k = document(line_break() * 200000)
write('br200k_x1.data', payload(welcome=br_200k))
write('br200k_x3.data', payload(br_200k, br_200k, br_200k))

png = png_grey(4096)
write('png4k.png', png)
write('png4k_box.doc', document(picture(0, 64, 32), [png]))
write('png4k_whole.doc', document(picture(0), [png]))
