#!/usr/bin/python3
"""Writes small hostile inputs into tests/data/<format>/malformed/.

Each is a few bytes that once cost a stack overflow, minutes or gigabytes:
    /usr/bin/python3 tests/picts/make_hostile_inputs.py tests/data
"""
import io
import os
import struct
import sys
import zlib

from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_factory_images as claims  # noqa: E402  the builders of files that claim more than they hold

top = sys.argv[1]


def put(folder, name, data):
    d = os.path.join(top, folder, 'malformed')
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), 'wb') as f:
        f.write(data)
    print(folder, name, len(data))


# Camera raw: one IFD of n SubIFDs entries of count 1 (the probe kept 4).
def subifds(n):
    ifd = struct.pack('<H', n) + b''.join(struct.pack('<HHII', 0x014A, 4, 1, 8) for _ in range(n))
    return b'II*\x00' + struct.pack('<I', 8) + ifd + struct.pack('<I', 0)


put('raw', 'stack-overflow-five-subifds-entries.tif', subifds(5))
put('raw', 'stack-overflow-200-subifds-entries.tif', subifds(200))

# Camera raw: a CR3 whose second box has a 64-bit length of zero, so that
# LibRaw's box walk never moves on (found by the raw fuzz entry; 90 bytes).
cr3_ftyp = struct.pack('>I', 24) + b'ftypcrx ' + struct.pack('>I', 1) + b'crx isom'
put('raw', 'hang-cr3-box-of-64-bit-length-zero.cr3',
    cr3_ftyp + struct.pack('>I', 1) + b'<\x00\x00\x00' + struct.pack('>Q', 0) + bytes(50))


# JBIG2: a page, then an immediate text region declaring 2^32 - 1 instances
# in 16 bytes of data.
def seg(number, kind, page, data):
    return struct.pack('>IBBBI', number, kind, 0, page, len(data)) + data


page = struct.pack('>IIIIBH', 64, 64, 0, 0, 0, 0)
region = struct.pack('>IIIIB', 64, 64, 0, 0, 0) + struct.pack('>HI', 0, 0xFFFFFFFF) + bytes(16)
jb2 = bytes([0x97, 0x4A, 0x42, 0x32, 0x0D, 0x0A, 0x1A, 0x0A, 0x01]) + struct.pack('>I', 1)
jb2 += seg(0, 48, 1, page) + seg(1, 6, 1, region)
put('jbig2', 'slow-text-region-of-2-32-instances.jb2', jb2)


# PNG: 16384 x 16384 at 16 bits (and at 8 bits) with a dozen bytes of data.
def chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data) & 0xFFFFFFFF)


def png(depth, colour):
    ihdr = struct.pack('>IIBBBBB', 16384, 16384, depth, colour, 0, 0, 0)
    idat = zlib.compress(bytes(64), 9)[:12].ljust(12, b'\0')
    return b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', ihdr) + chunk(b'IDAT', idat) + chunk(b'IEND', b'')


put('png', 'huge-16bit-claim-in-69-bytes.png', png(16, 0))
put('png', 'huge-8bit-claim-in-69-bytes.png', png(8, 0))


# TIFF: 16384 x 16384 grey, one strip of 64 bytes, at 16 and at 8 bits.
def tiff(bits):
    data = bytes(64)
    entries = [(256, 4, 1, 16384), (257, 4, 1, 16384), (258, 3, 1, bits), (259, 3, 1, 1), (262, 3, 1, 1),
               (273, 4, 1, 122), (277, 3, 1, 1), (278, 4, 1, 16384), (279, 4, 1, len(data))]
    ifd = struct.pack('<H', len(entries)) + b''.join(struct.pack('<HHII', *e) for e in entries) + struct.pack('<I', 0)
    return b'II*\x00' + struct.pack('<I', 8) + ifd + data


put('tiff', 'huge-16bit-claim-in-186-bytes.tif', tiff(16))
put('tiff', 'huge-8bit-claim-in-186-bytes.tif', tiff(8))

# JPEG: a progressive 231 x 16 picture whose frame header then claims
# 65299 rows, padded with a comment to 491 bytes.
buf = io.BytesIO()
Image.new('L', (231, 16), 128).save(buf, 'JPEG', progressive=True, quality=50)
j = bytearray(buf.getvalue())
sof = j.find(b'\xff\xc2')
struct.pack_into('>H', j, sof + 5, 65299)
pad = 491 - len(j) - 4
if pad >= 0:
    j[2:2] = b'\xff\xfe' + struct.pack('>H', pad + 2) + bytes(pad)
put('jpeg', 'slow-progressive-231x65299-in-491-bytes.jpg', bytes(j))


# ---------------------------------------------------------------------------
# Few bytes, large areas: pictures whose coding describes a blank area almost
# for free, and data that runs out while the library goes on.

# JBIG2: immediate lossless refinement regions (type 42) refining the page
# itself, each with two bytes of arithmetic-coded data; the decoder ran
# through every declared pixel after the data had ended.
def refinement_file(page_w, page_h, regions):
    out = bytes([0x97, 0x4A, 0x42, 0x32, 0x0D, 0x0A, 0x1A, 0x0A, 0x01]) + struct.pack('>I', 1)
    out += seg(0, 48, 1, struct.pack('>IIIIBH', page_w, page_h, 0, 0, 0, 0))
    for n, (w, h, data) in enumerate(regions, 1):
        # Region information, then template 0 without typical prediction
        # and its two adaptive pixels at their nominal places.
        body = struct.pack('>IIIIB', w, h, 0, 0, 0) + bytes([0]) + bytes([0xFF, 0xFF, 0xFF, 0xFF]) + data
        out += seg(n, 42, 1, body)
    out += seg(len(regions) + 1, 49, 1, b'') + seg(len(regions) + 2, 51, 0, b'')
    return out


put('jbig2', 'slow-100-refinement-regions-of-2048x2048-in-3565-bytes.jb2',
    refinement_file(2048, 2048, [(2048, 2048, b'\0\0')] * 100))
put('jbig2', 'slow-10-refinement-regions-of-2048x2048-in-415-bytes.jb2',
    refinement_file(2048, 2048, [(2048, 2048, b'\0\0')] * 10))
put('jbig2', 'slow-refinement-region-of-8192x8534-in-8098-bytes.jb2',
    refinement_file(8192, 8192, [(8192, 8534, bytes(8000))]))


# JPEG 2000: a codestream of one tile whose packets are all empty (one byte
# each), so that the picture is laid out and decoded whole from a few bytes;
# in a JP2 file, a DICOM frame and an icon family.
blank = claims.j2k_blank(16384, 16384)
put('jp2', 'huge-empty-packets-16384x16384-in-82-bytes.j2k', blank)
put('jp2', 'huge-empty-packets-16384x16384-in-167-bytes.jp2', claims.jp2_file(blank, 16384, 16384))
put('jp2', 'huge-64-components-of-2048x2048-in-334-bytes.j2k', claims.j2k_blank(2048, 2048, 64))
frame = claims.dicom_file(b'1.2.840.10008.1.2.4.90', 16384, 16384, claims.encapsulated(blank))
put('dicom', 'huge-j2k-frame-16384x16384-in-%d-bytes.dcm' % len(frame), frame)
put('icns', 'huge-ic10-j2k-16384x16384-in-98-bytes.icns', claims.icns_element(b'ic10', blank))

# TIFF: one strip of a white 16384 x 16384 page in Group 4: every row is
# the row above it (a single V0 code, one bit), then the end-of-block code.
g4 = bytes([0xFF]) * (16384 // 8) + bytes([0x00, 0x10, 0x01])
g4tif = claims.tiff_le([(256, 4, 1, 16384), (257, 4, 1, 16384), (258, 3, 1, 1), (259, 3, 1, 4), (262, 3, 1, 0),
                        (273, 4, 1, 0), (277, 3, 1, 1), (278, 4, 1, 16384), (279, 4, 1, len(g4)), (293, 4, 1, 0)], g4)
put('tiff', 'huge-group4-page-16384x16384-in-%d-bytes.tif' % len(g4tif), g4tif)

# TIFF: 16384 x 16384 grey in 16 JPEG strips of 1024 rows, all the same
# data cut right after its scan header; libjpeg fills in each behind a
# warning.
buf = io.BytesIO()
Image.new('L', (16, 16), 120).save(buf, 'JPEG', quality=75, optimize=True)
j = bytearray(buf.getvalue())
sof = j.find(b'\xff\xc0')
struct.pack_into('>HH', j, sof + 5, 1024, 16384)
sos = j.find(b'\xff\xda')
j = bytes(j[:sos + 2 + struct.unpack('>H', j[sos + 2:sos + 4])[0]])
strips = 16
arrays_at = 8 + 2 + 12 * 9 + 4
jpeg_at = arrays_at + 8 * strips
jtif = claims.tiff_le([(256, 4, 1, 16384), (257, 4, 1, 16384), (258, 3, 1, 8), (259, 3, 1, 7), (262, 3, 1, 1),
                       (273, 4, strips, arrays_at), (277, 3, 1, 1), (278, 4, 1, 1024),
                       (279, 4, strips, arrays_at + 4 * strips)],
                      struct.pack('<%dI' % strips, *[jpeg_at] * strips) + struct.pack('<%dI' % strips, *[len(j)] * strips) +
                      j)
put('tiff', 'huge-jpeg-strips-cut-after-their-scan-header-in-%d-bytes.tif' % len(jtif), jtif)
