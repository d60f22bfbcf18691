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
