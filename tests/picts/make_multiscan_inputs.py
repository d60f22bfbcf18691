#!/usr/bin/python3
"""Writes sequential JPEGs of many scans, alone and in the containers that
hand JPEG data to libjpeg, into tests/data/<format>/malformed/ (and the
fuzz entries' seeds into fuzz/corpus/<entry>/ when a second folder is
given):
    /usr/bin/python3 tests/picts/make_multiscan_inputs.py tests/data fuzz/corpus

A sequential frame whose first scan leaves a component out is read by
libjpeg in its multi-scan mode: every scan walks every block of the whole
picture, data or not, and the picture is held whole as coefficients.  The
markers are written here by hand; each scan is its header alone, so the
decoder fills every block of it in.
"""
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_factory_images as claims  # noqa: E402  TIFF and DICOM builders

top = sys.argv[1]
seeds = sys.argv[2] if len(sys.argv) > 2 else None


segment, tables = claims.jpeg_segment, claims.jpeg_tables


def scan(component, data=b''):
    return segment(0xDA, bytes([1, component, 0x00, 0, 63, 0])) + data


def multiscan(w, h, scans, components=3, pad=0, data=b''):
    """A baseline frame of w x h, components sampled 1 x 1, whose first scan
    carries component 1 only, followed by scans - 1 more of component 1,
    each with `data` (none: the decoder fills the scan in); a comment of pad
    bytes first when asked."""
    sof = segment(0xC0, struct.pack('>BHHB', 8, h, w, components) +
                  b''.join(bytes([c + 1, 0x11, 0]) for c in range(components)))
    out = b'\xff\xd8' + tables() + sof
    if pad:
        out += segment(0xFE, bytes(pad))
    out += b''.join(scan(1, data) for _ in range(scans))
    return out + b'\xff\xd9'


put = claims.kept_writer(top, seeds, 'multiscan-')


def small_jpeg():
    """An 8 x 8 grey baseline picture of one scan, all blocks flat."""
    sof = segment(0xC0, struct.pack('>BHHB', 8, 8, 8, 1) + bytes([1, 0x11, 0]))
    # One block: DC category 0 and end of block, "00", padded with ones.
    return b'\xff\xd8' + tables() + sof + scan(1, b'\x3f') + b'\xff\xd9'


def exif_with_thumbnail(thumb):
    """A JPEG whose APP1 Exif block has no IFD0 entries and an IFD1 that
    points at the thumbnail."""
    ifd0 = struct.pack('<HI', 0, 8 + 6)
    ifd1 = struct.pack('<H', 2) + struct.pack('<HHII', 0x0201, 4, 1, 8 + 6 + 30) + \
        struct.pack('<HHII', 0x0202, 4, 1, len(thumb)) + struct.pack('<I', 0)
    tiff = b'II*\x00' + struct.pack('<I', 8) + ifd0 + ifd1 + thumb
    app1 = segment(0xE1, b'Exif\x00\x00' + tiff)
    j = small_jpeg()
    return j[:2] + app1 + j[2:]


def dicom(frame, w, h):
    """A data set of one 8-bit RGB frame of w x h in JPEG baseline."""
    return claims.dicom_file(claims.JPEG_BASELINE, w, h, claims.encapsulated(frame), rgb=True)


def jpeg_tiff(strips, w, rows, strip_data):
    """An RGB TIFF of JPEG strips (compression 7), each strip its own
    stream."""
    n = len(strips)
    arrays_at = 8 + 2 + 12 * 10 + 4
    data_at = arrays_at + 8 * n + 6
    offsets, at = [], data_at
    for s in strips:
        offsets.append(at)
        at += len(s)
    entries = [(256, 4, 1, w), (257, 4, 1, rows * n), (258, 3, 3, arrays_at + 8 * n), (259, 3, 1, 7),
               (262, 3, 1, 2), (273, 4, n, arrays_at), (277, 3, 1, 3), (278, 4, 1, rows),
               (279, 4, n, arrays_at + 4 * n), (284, 3, 1, 1)]
    return claims.tiff_le(entries, struct.pack('<%dI' % n, *offsets) + struct.pack('<%dI' % n, *map(len, strips)) +
                          struct.pack('<3H', 8, 8, 8) + b''.join(strips))


# 1,000 scans of 3816 x 3816 in 10 KB: 14.5 billion samples filled in.
put('jpeg', 'slow-sequential-1000-scans-3816x3816.jpg', multiscan(3816, 3816, 1000), 'Jpeg')
# Two scans of 5300 x 5300: the coefficients alone are 168 MB; padded so
# that the bytes may describe the picture itself.
put('jpeg', 'huge-sequential-2-scans-5300x5300.jpg', multiscan(5300, 5300, 2, pad=23900))
# Small whole ones the fuzz entries start from: 64 x 64, 4 scans of 64
# blocks, two bits each.
whole = bytes(16)
put('jpeg', 'sequential-4-scans-64x64.jpg', multiscan(64, 64, 4, data=whole), 'Jpeg', '')
# The first as the EXIF thumbnail of an 8 x 8 picture.
put('jpeg', 'slow-sequential-thumbnail-1000-scans-3816x3816.jpg',
    exif_with_thumbnail(multiscan(3816, 3816, 1000)), 'JpegExif')
put('jpeg', 'sequential-thumbnail-4-scans-64x64.jpg', exif_with_thumbnail(multiscan(64, 64, 4, data=whole)), 'JpegExif',
    'exif')
# In DICOM, JPEG baseline transfer syntax.
put('dicom', 'slow-sequential-1000-scans-3816x3816.dcm', dicom(multiscan(3816, 3816, 1000), 3816, 3816), 'Dicom')
put('dicom', 'sequential-4-scans-64x64.dcm', dicom(multiscan(64, 64, 4, data=whole), 64, 64), 'Dicom', '')
# 50 JPEG strips of 2048 x 256, 99 scans each: under libtiff's 100 scans a
# strip, 2.6 billion samples together.
put('tiff', 'slow-50-sequential-strips-of-99-scans-2048x12800.tif',
    jpeg_tiff([multiscan(2048, 256, 99)] * 50, 2048, 256, None))
put('tiff', 'sequential-strips-of-4-scans-64x128.tif', jpeg_tiff([multiscan(64, 64, 4, data=whole)] * 2, 64, 64, None),
    'Tiff', '')
# Two strips of 64 x 64 of one interleaved scan: the first's data runs out
# (libjpeg fills it in behind a warning), the second is whole (two bits a
# block, all zero).
def one_scan(w, h, data):
    sof = segment(0xC0, struct.pack('>BHHB', 8, h, w, 3) + b''.join(bytes([c + 1, 0x11, 0]) for c in range(3)))
    sos = segment(0xDA, bytes([3, 1, 0, 2, 0, 3, 0, 0, 63, 0]))
    return b'\xff\xd8' + tables() + sof + sos + data + b'\xff\xd9'


put('tiff', 'first-of-two-strips-cut-64x128.tif',
    jpeg_tiff([one_scan(64, 64, b''), one_scan(64, 64, bytes(48))], 64, 64, None))


# A document drawing the 1,000-scan picture cropped to a 64 x 64 box, alone
# and as the welcome document of a payload (a few hundred bytes packed).
doc = claims.hdoc_drawing(multiscan(3816, 3816, 1000))
put('hdoc', 'slow-picture-of-1000-scans-3816x3816-cropped.doc', doc)
put('hdoc', 'slow-picture-of-1000-scans-3816x3816-cropped.data', claims.payload_of(doc), sub='payload')
