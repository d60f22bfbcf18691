#!/usr/bin/python3
"""Writes the small hostile inputs of issue 24 into tests/data/<format>/malformed/.

Each is a few bytes that once cost a stack overflow, minutes or gigabytes:
    /usr/bin/python3 tests/picts/make_hostile_inputs.py tests/data
"""
import io
import os
import struct
import sys
import zlib

from PIL import Image

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
# each), so that the picture is laid out and decoded whole from a few bytes.
def j2k(w, h, comps, levels):
    siz = struct.pack('>HIIIIIIIIH', 0, w, h, 0, 0, w, h, 0, 0, comps) + bytes([7, 1, 1]) * comps
    cod = struct.pack('>BBHBBBBBB', 0, 0, 1, 0, levels, 4, 4, 0, 1)
    qcd = bytes([0x40]) + bytes([8 << 3]) * (3 * levels + 1)
    packets = bytes(comps * (levels + 1))

    def marker(code, body):
        return struct.pack('>HH', code, len(body) + 2) + body

    tile = struct.pack('>HIBB', 0, 12 + 2 + len(packets), 0, 1)
    return (b'\xff\x4f' + marker(0xFF51, siz) + marker(0xFF52, cod) + marker(0xFF5C, qcd) +
            marker(0xFF90, tile) + b'\xff\x93' + packets + b'\xff\xd9')


def box(kind, body):
    return struct.pack('>I', 8 + len(body)) + kind + body


def jp2(codestream, w, h, comps):
    ihdr = box(b'ihdr', struct.pack('>IIHBBBB', h, w, comps, 7, 7, 0, 0))
    colr = box(b'colr', struct.pack('>BBBI', 1, 0, 0, 17 if comps < 3 else 16))
    return (struct.pack('>I', 12) + b'jP  \r\n\x87\n' + box(b'ftyp', b'jp2 ' + struct.pack('>I', 0) + b'jp2 ') +
            box(b'jp2h', ihdr + colr) + box(b'jp2c', codestream))


def dicom_j2k(codestream, w, h):
    """A data set of one 8-bit grey frame of w x h in JPEG 2000, explicit VR
    little endian, the frame in one fragment."""
    def element(group, number, vr, value):
        if len(value) % 2:
            value += b'\0' if vr in (b'UI', b'OB') else b' '
        return struct.pack('<HH', group, number) + vr + struct.pack('<H', len(value)) + value

    def us(group, number, v):
        return element(group, number, b'US', struct.pack('<H', v))

    meta = element(2, 0x10, b'UI', b'1.2.840.10008.1.2.4.90')
    meta = struct.pack('<HH', 2, 0) + b'UL' + struct.pack('<HI', 4, len(meta)) + meta
    data = (us(0x28, 2, 1) + element(0x28, 4, b'CS', b'MONOCHROME2') + us(0x28, 0x10, h) + us(0x28, 0x11, w) +
            us(0x28, 0x100, 8) + us(0x28, 0x101, 8) + us(0x28, 0x102, 7) + us(0x28, 0x103, 0))
    frame = codestream + (b'\0' if len(codestream) % 2 else b'')
    pixels = (struct.pack('<HH', 0x7FE0, 0x10) + b'OB' + struct.pack('<HI', 0, 0xFFFFFFFF) +
              struct.pack('<HHI', 0xFFFE, 0xE000, 0) + struct.pack('<HHI', 0xFFFE, 0xE000, len(frame)) + frame +
              struct.pack('<HHI', 0xFFFE, 0xE0DD, 0))
    return bytes(128) + b'DICM' + meta + data + pixels


blank = j2k(16384, 16384, 1, 0)
put('jp2', 'huge-empty-packets-16384x16384-in-82-bytes.j2k', blank)
put('jp2', 'huge-empty-packets-16384x16384-in-167-bytes.jp2', jp2(blank, 16384, 16384, 1))
put('jp2', 'huge-64-components-of-2048x2048-in-334-bytes.j2k', j2k(2048, 2048, 64, 0))
put('dicom', 'huge-j2k-frame-16384x16384-in-%d-bytes.dcm' % len(dicom_j2k(blank, 16384, 16384)),
    dicom_j2k(blank, 16384, 16384))
ic10 = b'ic10' + struct.pack('>I', 8 + len(blank)) + blank
put('icns', 'huge-ic10-j2k-16384x16384-in-98-bytes.icns', b'icns' + struct.pack('>I', 8 + len(ic10)) + ic10)


# TIFF: one strip of a white 16384 x 16384 page in Group 4: every row is
# the row above it (a single V0 code, one bit), then the end-of-block code.
def tiff_le(entries, extra_at_end):
    """A little-endian TIFF of one IFD at 8; StripOffsets (273) is set to the
    data that follows the IFD."""
    data_at = 8 + 2 + 12 * len(entries) + 4
    out = bytearray(b'II*\x00' + struct.pack('<I', 8) + struct.pack('<H', len(entries)))
    for tag, kind, count, value in entries:
        out += struct.pack('<HHII', tag, kind, count, data_at if tag == 273 else value)
    return bytes(out + struct.pack('<I', 0) + extra_at_end)


g4 = bytes([0xFF]) * (16384 // 8) + bytes([0x00, 0x10, 0x01])
g4tif = tiff_le([(256, 4, 1, 16384), (257, 4, 1, 16384), (258, 3, 1, 1), (259, 3, 1, 4), (262, 3, 1, 0),
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
jtif = tiff_le([(256, 4, 1, 16384), (257, 4, 1, 16384), (258, 3, 1, 8), (259, 3, 1, 7), (262, 3, 1, 1),
                (273, 4, strips, 0), (277, 3, 1, 1), (278, 4, 1, 1024), (279, 4, strips, arrays_at + 4 * strips)],
               struct.pack('<%dI' % strips, *[jpeg_at] * strips) + struct.pack('<%dI' % strips, *[len(j)] * strips) + j)
# StripOffsets points at its own array, not at the data.
jtif = jtif[:8 + 2 + 12 * 5 + 8] + struct.pack('<I', arrays_at) + jtif[8 + 2 + 12 * 5 + 12:]
put('tiff', 'huge-jpeg-strips-cut-after-their-scan-header-in-%d-bytes.tif' % len(jtif), jtif)
