#!/usr/bin/python3
"""Writes JPEGs whose EXIF thumbnail is a JPEG whose EXIF thumbnail is a
JPEG..., alone and in the containers that hand JPEG data on, into
tests/data/<format>/malformed/ (and the fuzz entries' seeds into
fuzz/corpus/<entry>/ when a second folder is given):
    /usr/bin/python3 tests/picts/make_thumbnail_inputs.py tests/data fuzz/corpus

Every level is a grey baseline frame of 2048 x 2048 whose scan is its header
alone: libjpeg meets the end marker at once and fills every block in (a
warning, not an error), so each level is a whole picture of four million
pixels in some 200 bytes.  A level's APP1 "Exif" block holds the next level
as the thumbnail of IFD 1 (JPEGInterchangeFormat and its length).
"""
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_factory_images as claims  # noqa: E402  TIFF and DICOM builders

top = sys.argv[1]
seeds = sys.argv[2] if len(sys.argv) > 2 else None

SIDE = 2048


segment, tables = claims.jpeg_segment, claims.jpeg_tables


def exif(thumb):
    """The TIFF structure of an APP1 Exif block: IFD 0 without entries, IFD 1
    pointing at the thumbnail placed right after it."""
    ifd0 = struct.pack('<HI', 0, 8 + 6)
    ifd1 = struct.pack('<H', 2) + struct.pack('<HHII', 0x0201, 4, 1, 8 + 6 + 30) + \
        struct.pack('<HHII', 0x0202, 4, 1, len(thumb)) + struct.pack('<I', 0)
    return b'II*\x00' + struct.pack('<I', 8) + ifd0 + ifd1 + thumb


def level(thumb=None, data=b''):
    """A grey frame of 2048 x 2048, its thumbnail (a JPEG) in its EXIF block
    when given, its scan `data` after the scan header (none: filled in)."""
    sof = segment(0xC0, struct.pack('>BHHB', 8, SIDE, SIDE, 1) + bytes([1, 0x11, 0]))
    sos = segment(0xDA, bytes([1, 1, 0x00, 0, 63, 0]))
    app1 = segment(0xE1, b'Exif\x00\x00' + exif(thumb)) if thumb else b''
    return b'\xff\xd8' + app1 + tables() + sof + sos + data + b'\xff\xd9'


def nested(levels, data=b''):
    """`levels` frames, each the thumbnail of the one before; the outermost
    one's scan `data`."""
    out = level()
    for _ in range(levels - 2):
        out = level(out)
    return level(out, data)


# A whole scan of 2048 x 2048: two bits a block (category 0, end of block),
# all zero.
WHOLE = bytes(SIDE * SIDE // 64 * 2 // 8)


put = claims.kept_writer(top, seeds, 'nested-')


def exif_of(jpeg):
    """The TIFF structure of a JPEG's first APP1 block, as the EXIF fuzz
    entry takes its input."""
    at = jpeg.index(b'\xff\xe1')
    length = struct.unpack('>H', jpeg[at + 2:at + 4])[0]
    return jpeg[at + 10:at + 2 + length]


def dicom(frame, w, h):
    """A data set of one 8-bit grey frame of w x h in JPEG baseline."""
    return claims.dicom_file(claims.JPEG_BASELINE, w, h, claims.encapsulated(frame))


def jpeg_tiff(jpeg, compression, w, h):
    """A grey TIFF of one strip that is the whole JPEG: new-style (7), or
    old-style (6) with JPEGInterchangeFormat pointing at it too."""
    entries = [(256, 4, 1, w), (257, 4, 1, h), (258, 3, 1, 8), (259, 3, 1, compression), (262, 3, 1, 1),
               (273, 4, 1, 0), (277, 3, 1, 1), (278, 4, 1, h), (279, 4, 1, len(jpeg))]
    if compression == 6:
        at = 8 + 2 + 12 * (len(entries) + 2) + 4
        entries += [(513, 4, 1, at), (514, 4, 1, len(jpeg))]
    return claims.tiff_le(entries, jpeg)


# 50 levels in 10 KB held 826 MB; 300 levels in 60 KB (as much as one APP1
# segment holds) 4.9 GB and 10.6 s, into a 64 x 64 box as well.
fifty, deepest = nested(50), nested(300)
put('jpeg', 'huge-thumbnails-nested-50-deep-2048x2048.jpg', fifty, 'Jpeg')
put('jpeg', 'huge-thumbnails-nested-300-deep-2048x2048.jpg', deepest)
# Two levels in a few hundred bytes: each alone is a picture its bytes may
# describe, the two together are not.
put('jpeg', 'huge-thumbnail-2048x2048-of-a-2048x2048-picture.jpg', nested(2))
# The EXIF entry's input is the TIFF structure of the block: its thumbnail
# nests 299 levels deep.
put('jpeg/exif', 'huge-thumbnails-nested-300-deep-2048x2048', exif_of(deepest), 'JpegExif')
# The other door that hands JPEG data to the JPEG decoder: a DICOM frame.
put('dicom', 'huge-jpeg-frame-of-nested-thumbnails-300-deep-2048x2048.dcm', dicom(deepest, SIDE, SIDE), 'Dicom')
# libtiff decodes JPEG strips, new- and old-style, with libjpeg itself and
# reads no thumbnail of theirs: a whole strip of 2048 x 2048 (16 KB of scan)
# is one picture, however deep its EXIF block nests.
whole = nested(300, WHOLE)
put('tiff', 'jpeg-strip-of-nested-thumbnails-300-deep-2048x2048.tif', jpeg_tiff(whole, 7, SIDE, SIDE))
put('tiff', 'old-jpeg-strip-of-nested-thumbnails-300-deep-2048x2048.tif', jpeg_tiff(whole, 6, SIDE, SIDE))
