#!/usr/bin/python3
"""Writes camera raw files whose JPEG streams or thumbnails ask LibRaw for
far more than their bytes into tests/data/raw/malformed/ (and, when a second
folder is given, them and small whole files of the same shapes into the raw
fuzz entry's seeds, fuzz/corpus/Raw/):
    /usr/bin/python3 tests/picts/make_raw_hostile_inputs.py tests/data fuzz/corpus

LibRaw decodes a lossless JPEG for every row and sample its frame header
declares; a Huffman table of no codes (a DHT whose sixteen counts are all
zero) decodes every difference in no bits, so the decoder reads nothing
and never stops early.  The sensor stays at 64 x 64, which every earlier
check looked at.
"""
import os
import random
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_raw_images as m  # noqa: E402  the TIFF, DNG and JPEG writers

top = sys.argv[1]
seeds = sys.argv[2] if len(sys.argv) > 2 else None


def put(name, data, seed=True):
    d = os.path.join(top, 'raw', 'malformed')
    os.makedirs(d, exist_ok=True)
    name = name % len(data) if '%d' in name else name
    with open(os.path.join(d, name), 'wb') as f:
        f.write(data)
    print('raw', name, len(data))
    if seeds and seed:
        seed_file(name, data)


def seed_file(name, data):
    s = os.path.join(seeds, 'Raw')
    os.makedirs(s, exist_ok=True)
    with open(os.path.join(s, name), 'wb') as f:
        f.write(data)


NO_CODES = bytes([0x00]) + bytes(16)  # Huffman table 0, DC class, no codes


def empty_ljpeg(wide, high, clrs, bits=16):
    """A lossless JPEG frame of high rows of wide samples of clrs components,
    table 0 without codes, a scan and no data."""
    return m.ljpeg_frame(wide, high, clrs, [NO_CODES], bits) + b'\xff\xd9'


# DNG, compression 7, one strip: 16384 x 16384 x 4 samples (8.8 s), and the
# most the frame header can say, 65535 x 65535 x 6 (221 s).
put('slow-lossless-jpeg-strip-16384x16384x4-in-%d-bytes.dng', m.dng_of_jpegs(64, 64, [empty_ljpeg(16384, 16384, 4)]))
put('slow-lossless-jpeg-strip-65535x65535x6-in-%d-bytes.dng', m.dng_of_jpegs(64, 64, [empty_ljpeg(65535, 65535, 6)]))
# Tiles of 16 x 16 (and 8 x 8) whose TileOffsets all point at one stream of
# 4096 x 4096: LibRaw decodes it once for every tile.
put('slow-16-lossless-jpeg-tiles-of-4096x4096-in-%d-bytes.dng',
    m.dng_of_jpegs(64, 64, [empty_ljpeg(4096, 4096, 1)], tile=(16, 16), offsets=[0] * 16))
put('slow-64-lossless-jpeg-tiles-of-4096x4096-in-%d-bytes.dng',
    m.dng_of_jpegs(64, 64, [empty_ljpeg(4096, 4096, 1)], tile=(8, 8), offsets=[0] * 64))

# Tiles of one column 65,535 rows long over a sensor of 4096 x 32, all
# pointing at one stream of as many samples: each stream fits its tile, and
# LibRaw decodes 268 million samples for 4,096 tiles that overhang the
# sensor.
put('slow-4096-lossless-jpeg-tiles-of-1x65535-over-4096x32-in-%d-bytes.dng',
    m.dng_of_jpegs(4096, 32, [empty_ljpeg(1, 65535, 1)], tile=(1, 65535), offsets=[0] * 4096))
# LibRaw's reader of lossless JPEG markers keeps one buffer for all segments,
# each marker and length read into its first four bytes: a frame segment of
# four bytes (16 bits, 4096 rows, the width's high byte) takes the rest of
# its fields from what an APP0 segment left there (the width's low byte, six
# components, a sampling byte of one).  And it reads up to 1,025 segments
# before the scan.
stale = (b'\xff\xd8' + m.jpeg_segment(0xC4, NO_CODES) + m.jpeg_segment(0xE0, bytes([0, 0, 0, 0, 0xFF, 6, 1, 0x11])) +
         m.jpeg_segment(0xC3, bytes([16, 0x10, 0x00, 0xFF])) + m.jpeg_segment(0xDA, bytes([1, 1, 0, 1, 0, 0])) +
         b'\xff\xd9')
put('slow-lossless-jpeg-frame-segment-of-4-bytes-4096x65535x6-in-%d-bytes.dng', m.dng_of_jpegs(64, 64, [stale]))
frame = empty_ljpeg(16384, 16384, 4)
late = frame[:2] + m.jpeg_segment(0xFE, b'') * 1000 + frame[2:]
put('slow-lossless-jpeg-frame-after-1000-segments-16384x16384x4-in-%d-bytes.dng', m.dng_of_jpegs(64, 64, [late]))

# DNG, compression 34892: libjpeg reads a frame whose first scan leaves
# components out whole before a row comes out, holding it as coefficients:
# 16384 x 16384 in two scans (520 MB), and 3816 x 3816 in 1,000 (1 s).
put('huge-lossy-jpeg-strip-2-scans-16384x16384-in-%d-bytes.dng', m.lossy_dng(64, 64, [m.dct_scans(16384, 16384, 2)]))
put('slow-lossy-jpeg-strip-1000-scans-3816x3816-in-%d-bytes.dng', m.lossy_dng(64, 64, [m.dct_scans(3816, 3816, 1000)]))


def cfa_tiff(stream, make, model='Synthetic', bps=16):
    """A TIFF/EP of a 64 x 64 colour-filter array (RGGB) whose one strip,
    compression 7, is `stream`."""
    entries = [(254, 4, [0]), (256, 4, [64]), (257, 4, [64]), (258, 3, [bps]), (259, 3, [7]), (262, 3, [32803]),
               (271, 2, make), (272, 2, model), (277, 3, [1]), (33421, 3, [2, 2]), (33422, 1, [0, 1, 1, 2]),
               (37398, 1, [1, 0, 0, 0])]
    return m.tiff_of_streams(entries, 64, [stream])


def swapped(data):
    data = bytearray(data + (b'\0' if len(data) % 2 else b''))
    data[0::2], data[1::2] = data[1::2], data[0::2]
    return bytes(data)


# Kodak's DC120 keeps its picture as a JPEG with the bytes of each pair
# swapped; LibRaw checks the frame's size after libjpeg has read every scan
# (517 MB).
put('huge-kodak-dc120-jpeg-2-scans-16384x16384-in-%d-bytes.tif',
    cfa_tiff(swapped(m.dct_scans(16384, 16384, 2)), 'Kodak', 'DC120'))
# Canon's sRAW (15 bits a sample) with a frame one sample wide: LibRaw halves
# the width and divides by it (SIGFPE in canon_sraw_load_raw).
put('crash-canon-sraw-jpeg-one-sample-wide-in-%d-bytes.tif', cfa_tiff(empty_ljpeg(1, 64, 4, 15), 'Canon', bps=15))


def thumbnail_dng(compression, tw, th, data):
    """A DNG whose IFD 0 is an RGB thumbnail of tw x th, 8 bits a sample,
    with `data` as its strip (no Compression entry when compression is
    None), and whose sub-IFD is 40 x 30 of raw data."""
    raw = m.dng_entries(40, 30, 2 * 40 * 30)
    shared = (271, 272, 274, 50706, 50708, 50721, 50728, 50778)
    tags = {e[0]: e for e in raw}
    ifd0 = [m.ifd_entry(254, 4, [1]), m.ifd_entry(256, 4, [tw]), m.ifd_entry(257, 4, [th]),
            m.ifd_entry(258, 3, [8, 8, 8]), m.ifd_entry(262, 3, [2]), m.ifd_entry(273, 4, [0]),
            m.ifd_entry(277, 3, [3]), m.ifd_entry(278, 4, [th]), m.ifd_entry(279, 4, [len(data)]),
            m.ifd_entry(284, 3, [1]), m.ifd_entry(330, 4, [0])] + [tags[t] for t in shared]
    if compression is not None:
        ifd0.append(m.ifd_entry(259, 3, [compression]))
    ifd1 = [e for e in raw if e[0] not in shared]
    path = os.path.join(top, 'raw', 'thumbnail.tmp')
    m.write_tiff_chain(path, [ifd0, ifd1], [data, m.sensor(random.Random(31), 40, 30, 4095)])
    with open(path, 'rb') as f:
        out = f.read()
    os.remove(path)
    return out


# A thumbnail without a Compression entry is read by LibRaw's layer_thumb,
# which lays out three planes of the declared size (16384 x 16384: 771 MB
# from 1 KB) and reads the strip's byte count of each colour into them: a
# count past the planes' size runs over them (heap corruption).
put('huge-layer-thumbnail-16384x16384-in-%d-bytes.dng', thumbnail_dng(None, 16384, 16384, bytes(64)))
put('crash-layer-thumbnail-longer-than-its-planes-in-%d-bytes.dng', thumbnail_dng(None, 16, 8, bytes(range(256)) * 16))
# An uncompressed thumbnail shorter than its size is gathered by ppm_thumb
# from the strips of its table, into a buffer of their byte counts' 32-bit
# sum, each read without a check: 64, 100 and -84 make a buffer of 80 bytes
# that the third overruns by the rest of the file (heap corruption).
d = bytearray(thumbnail_dng(1, 16, 12, bytes(range(64))))
strip = struct.unpack_from('<I', d, m.entry_offset(d, 8, 273) + 8)[0]
arrays = len(d)
d += struct.pack('<3I', strip, strip, strip) + struct.pack('<3i', 64, 100, -84)
for tag, at in ((273, arrays), (279, arrays + 12)):
    struct.pack_into('<HII', d, m.entry_offset(d, 8, tag) + 2, 4, 3, at)
put('crash-thumbnail-strip-byte-counts-wrap-in-%d-bytes.dng', bytes(d + bytes(4096)))



# Whole files of the same shapes, for the fuzz entry to start from: a
# lossless DNG in one strip and in tiles (the edge ones padded), and a lossy
# one of 32 x 32 tiles.
if seeds:
    rng = random.Random(73)
    values = list(struct.unpack('<%dH' % (64 * 48), m.sensor(rng, 64, 48, 4095)))
    seed_file('lossless_strip.dng', m.lossless_dng(64, 48, values))
    seed_file('lossless_tiles.dng', m.lossless_dng(64, 48, values, tile=(48, 32)))
    seed_file('lossy_tiles.dng', m.lossy_dng(64, 48, [m.pillow_jpeg(32, 32, k) for k in range(4)], tile=(32, 32)))
