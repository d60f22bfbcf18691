#!/usr/bin/python3
"""Writes small inputs at the edge of each coding's allowance: valid (or
nearly valid) files of under 64 KB that declare pictures of up to 2^28
pixels, and the largest pictures a file just under 64 KB may still describe.

    make_allowance_inputs.py bombs OUTDIR
        OUTDIR/index.txt lists "FILE TYPE" a line, TYPE the picture type id
        of the decoder the file is meant for.  Every file is under 64 KB.
    make_allowance_inputs.py thumbnails OUTDIR
        the same index of pictures of 2400 x 1600 in every format whose
        decoder draws into a render target as the rows come, with the
        references of their 24 x 16 fits (see make_thumbnails).
    make_allowance_inputs.py largest PIXELS DATA_BYTES OUTDIR
        the same index of sound files of under 64 KB, each with at least
        DATA_BYTES of picture data (as the library counts them) and a
        picture of 8192 x (PIXELS / 8192); see make_largest for their
        pixels.

Nothing here is kept under tests/data: the files are made when the tests run.
"""
import os
import struct
import subprocess
import sys
import tempfile
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_factory_images as claims  # noqa: E402  tiff_le, icns_element
import make_formats as formats  # noqa: E402  pack_lsb, finish

from PIL import Image  # noqa: E402

SMALL = 64 * 1024


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def png_file(w, h, depth, colour, idat, extra=b""):
    ihdr = struct.pack(">IIBBBBB", w, h, depth, colour, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", idat) + extra + chunk(b"IEND", b"")


def png_blank_1bit(w, h):
    """A valid 1-bit grey PNG of w x h, every row 0 (black)."""
    row = bytes(1 + (w + 7) // 8)
    z = zlib.compressobj(9)
    data = b"".join(z.compress(row) for _ in range(h)) + z.flush()
    return png_file(w, h, 1, 0, data)


def png_rows_in_ancillary(w, h, rows):
    """The first `rows` rows in IDAT, the rest of the deflate stream in an
    ancillary chunk after it: the stream's bytes are all there, but the
    picture's rows end after `rows`."""
    row = bytes(1 + (w + 7) // 8)
    z = zlib.compressobj(9)
    head = b"".join(z.compress(row) for _ in range(rows)) + z.flush(zlib.Z_SYNC_FLUSH)
    tail = b"".join(z.compress(row) for _ in range(h - rows)) + z.flush()
    return png_file(w, h, 1, 0, head, chunk(b"quRt", tail))


def bmp_with_png(png, w, h):
    dib = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 0, 5, len(png), 0, 0, 0, 0)
    return b"BM" + struct.pack("<IHHI", 14 + 40 + len(png), 0, 0, 14 + 40) + dib + png


def ico_with_png(png):
    return struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", 0, 0, 0, 0, 1, 32, len(png), 22) + png


def gif_file(w, h, min_code, data):
    """A GIF of one w x h image, a global table of 1 << min_code colours
    (black, white, then black) and `data` as its LZW bytes in sub-blocks."""
    colours = 1 << min_code
    table = bytes([0, 0, 0, 255, 255, 255]) + bytes(3 * (colours - 2))
    blocks = b"".join(bytes([len(data[i:i + 255])]) + data[i:i + 255] for i in range(0, len(data), 255))
    return (b"GIF89a" + struct.pack("<HHBBB", w, h, 0x80 | (min_code - 1), 0, 0) + table + b"," +
            struct.pack("<HHHHB", 0, 0, w, h, 0) + bytes([min_code]) + blocks + b"\0;")


def lzw_runs(min_code, count, lead=None):
    """A real GIF LZW stream of `count` codes (and the end code) that
    decodes to index 0 over and over (after one index `lead` when given),
    each code the longest string the table can hold: one index longer per
    code until the 12-bit codes run out, then the longest entry again and
    again.  Returns the bytes and the count of indices they decode to."""
    clear = 1 << min_code
    end, first = clear + 1, clear + 2
    width, entries, decoded = min_code + 1, 0, 0
    lengths = {}  # entry code -> its string's length
    codes = []
    previous = 0  # the previous code's length
    literals = [lead, 0] if lead is not None else [0]
    for k in range(count):
        if k < len(literals):
            code, n = literals[k], 1
        elif first + entries <= 4095:
            # The next free code: the previous string and its first index.
            code, n = first + entries, previous + 1
        else:
            code, n = 4095, lengths[4095]
        codes.append((code, width))
        decoded += n
        # The decoder's entry for every code after the first (the previous
        # string and this one's first index), and its rule for widening.
        if k > 0 and entries < 4094:
            lengths[first + entries] = previous + 1
            entries += 1
            if (first + entries) & (first + entries - 1) == 0 and width < 12:
                width += 1
        previous = n
    codes.append((end, width))
    return formats.pack_lsb(codes), decoded


def lzw_for(min_code, size, lead=None):
    """The longest such stream of at most `size` bytes."""
    lo, hi = 1, size * 8 // (min_code + 1) + 1
    while lo < hi:
        mid = (lo + hi + 1) // 2
        if len(lzw_runs(min_code, mid, lead)[0]) <= size:
            lo = mid
        else:
            hi = mid - 1
    return lzw_runs(min_code, lo, lead)


def tiff_overlapping_strips(side, rows_per_strip):
    """8-bit grey, deflate: every strip points at the same stream of one
    strip of zeros."""
    strips = (side + rows_per_strip - 1) // rows_per_strip
    data = zlib.compress(bytes(side * rows_per_strip), 9)
    entries = 10
    arrays_at = 8 + 2 + 12 * entries + 4
    data_at = arrays_at + 8 * strips
    return claims.tiff_le([(256, 4, 1, side), (257, 4, 1, side), (258, 3, 1, 8), (259, 3, 1, 8), (262, 3, 1, 1),
                           (273, 4, strips, arrays_at), (277, 3, 1, 1), (278, 4, 1, rows_per_strip),
                           (279, 4, strips, arrays_at + 4 * strips), (284, 3, 1, 1)],
                          struct.pack("<%dI" % strips, *[data_at] * strips) +
                          struct.pack("<%dI" % strips, *[len(data)] * strips) + data)


def g4_strip(out_dir, w, h, pattern):
    """The Group 4 data of a w x h page whose row r has the black runs
    pattern(r) ((start, end) pairs), coded by libtiff (tiffcp) from an
    uncompressed bilevel TIFF."""
    row_bytes = (w + 7) // 8
    rows = []
    for r in range(h):
        row = bytearray(row_bytes)
        for a, b in pattern(r):
            for x in range(a, b):
                row[x >> 3] |= 0x80 >> (x & 7)
        rows.append(bytes(row))
    plain = claims.tiff_le([(256, 4, 1, w), (257, 4, 1, h), (258, 3, 1, 1), (259, 3, 1, 1), (262, 3, 1, 0),
                            (273, 4, 1, 0), (277, 3, 1, 1), (278, 4, 1, h), (279, 4, 1, row_bytes * h)],
                           b"".join(rows))
    with tempfile.TemporaryDirectory(dir=out_dir) as tmp:
        src = os.path.join(tmp, "plain.tif")
        dst = os.path.join(tmp, "g4.tif")
        with open(src, "wb") as f:
            f.write(plain)
        subprocess.run(["tiffcp", "-c", "g4", "-r", str(h), src, dst], check=True)
        Image.MAX_IMAGE_PIXELS = None  # only the tags are read
        with Image.open(dst) as t:
            offsets, counts = t.tag_v2[273], t.tag_v2[279]
        assert len(offsets) == 1
        with open(dst, "rb") as f:
            return f.read()[offsets[0]:offsets[0] + counts[0]]


def g4_tiff(w, h, strip):
    """A min-is-white Group 4 TIFF of one strip."""
    return claims.tiff_le([(256, 4, 1, w), (257, 4, 1, h), (258, 3, 1, 1), (259, 3, 1, 4), (262, 3, 1, 0),
                           (273, 4, 1, 0), (277, 3, 1, 1), (278, 4, 1, h), (279, 4, 1, len(strip)), (293, 4, 1, 0)],
                          strip)


def small_files(out, index):
    """The writer of the index's files, each under 64 KB."""
    def add(name, type_id, data):
        assert len(data) < SMALL, (name, len(data))
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
        index.append("%s %d" % (name, type_id))
    return add


def make_bombs(out):
    index = []
    add = small_files(out, index)
    side = 16384
    # TIFF: 64 strips (32 at 8192) pointing at one deflate stream.
    add("tiff_overlapping_strips_16384.tif", 2, tiff_overlapping_strips(side, 256))
    add("tiff_overlapping_strips_8192.tif", 2, tiff_overlapping_strips(8192, 256))
    # PNG: 2^28 pixels at one bit each, whole and valid; the same with the
    # rows after the fourth in an ancillary chunk; inside a BMP, an icon
    # and an icon family.
    png = png_blank_1bit(side, side)
    add("png_1bit_16384.png", 3, png)
    add("png_rows_in_ancillary_chunk.png", 3, png_rows_in_ancillary(side, side, 4))
    add("png_in_bmp.bmp", 6, bmp_with_png(png, side, side))
    add("png_in_ico.ico", 7, ico_with_png(png))
    add("png_in_icns.icns", 12, claims.icns_element(b"ic10", png))
    # GIF: zero data bytes for 16384 x 16384; a real LZW stream of almost
    # 64 KB of the longest strings, and one of 11 KB drawn 354 pixels wide.
    add("gif_zero_data_16384.gif", 11, gif_file(side, side, 2, bytes(24829 - 24829 // 256)))
    data, decoded = lzw_for(2, 63 * 1024)
    add("gif_longest_strings_64k.gif", 11, gif_file(side, min(side, decoded // side), 2, data))
    data, decoded = lzw_for(2, 11 * 1024)
    add("gif_354_wide.gif", 11, gif_file(354, min(65535, decoded // 354), 2, data))
    # Group 4: 16384 x 16384, short black runs on alternate rows.
    add("tiff_g4_16384.tif", 2,
        g4_tiff(side, side, g4_strip(out, side, side, lambda r: [(0, 2)] if r % 2 == 0 else [(4, 6)])))
    formats.finish(out, index)


def make_largest(out, pixels, data_bytes):
    """Sound files of under 64 KB whose counted data is at least data_bytes
    and whose pictures have at most `pixels` pixels, as many as whole rows
    of 8192 allow: the largest pictures the library lets such files
    describe.  Their top-left pixel is white and every other pixel of the
    top row black (PNG, the PNG in a BMP, GIF); the Group 4 page has a black
    run at [0, 2) on every even row from the top."""
    index = []
    add = small_files(out, index)
    w = 8192
    h = pixels // w
    # PNG, 1-bit grey; an ancillary chunk after the data brings the bytes
    # from the first IDAT on up to data_bytes.
    row = bytes(1 + w // 8)
    z = zlib.compressobj(9)
    idat = z.compress(bytes([0, 0x80]) + bytes(w // 8 - 1)) + b"".join(z.compress(row) for _ in range(h - 1)) + z.flush()
    pad = max(0, data_bytes - (12 + len(idat)) - 12 - 12)
    png = png_file(w, h, 1, 0, idat, chunk(b"quRt", bytes(pad)))
    add("largest.png", 3, png)
    # The same PNG inside a BMP: decoded, it must not be held twice.
    add("largest_png.bmp", 6, bmp_with_png(png, w, h))
    # GIF: a literal white index, then the longest strings of index 0 (the
    # stream reaches further than the picture; the rest is cut).
    codes, decoded = lzw_for(2, data_bytes + 256, lead=1)
    assert decoded >= w * h
    add("largest.gif", 11, gif_file(w, h, 2, codes))
    # Group 4: padded up to data_bytes (the fax decoder stops at the last row).
    strip = g4_strip(out, w, h, lambda r: [(0, 2)] if r % 2 == 0 else [])
    add("largest_g4.tif", 2, g4_tiff(w, h, strip + bytes(max(0, data_bytes - len(strip)))))
    formats.finish(out, index)


def sink_reference(im, tw, th):
    """What the render target's sink makes of a picture fitted into tw x th
    at a scale below one half: every pixel added whole to the nearest bin
    (trunc(position x scale + 0.5), rows counted from the bottom), each
    bin's components averaged and rounded.  Returns the fitted picture as
    (width, height, RGBA rows from the top)."""
    import numpy
    w, h = im.size
    a = numpy.asarray(im.convert("RGBA"))
    s = min(tw / w, th / h)
    sw, sh = max(1, int(w * s + 0.5)), max(1, int(s * h + 0.5))
    eff = sw / w if h < w else sh / h
    bw, bh = min(max(1, int(w * eff + 0.5)), tw), min(max(1, int(h * eff + 0.5)), th)
    assert eff < 0.5 and bw == sw and bh == sh
    i = (numpy.arange(w, dtype=numpy.float64) * eff + 0.5).astype(numpy.int64)
    j = (numpy.arange(h, dtype=numpy.float64)[::-1] * eff + 0.5).astype(numpy.int64)  # top row first
    # The bins are runs of columns and of rows (past the last bin, the
    # columns on the right and the rows at the top): summed run by run.
    cols, top = int(numpy.count_nonzero(i < bw)), int(numpy.count_nonzero(j >= bh))
    assert (i[:cols] < bw).all() and (j[top:] < bh).all()
    i, j = i[:cols], j[top:]
    col_starts = numpy.r_[0, numpy.nonzero(numpy.diff(i))[0] + 1]
    row_starts = numpy.r_[0, numpy.nonzero(numpy.diff(j))[0] + 1]
    assert len(col_starts) == bw and len(row_starts) == bh
    sums = numpy.add.reduceat(numpy.add.reduceat(a[top:, :cols], col_starts, axis=1, dtype=numpy.int64), row_starts,
                              axis=0).astype(numpy.float64)
    count = numpy.outer(numpy.diff(numpy.r_[row_starts, len(j)]), numpy.diff(numpy.r_[col_starts, cols]))
    out = numpy.minimum(255, (sums * (1.0 / count.astype(numpy.float64))[:, :, numpy.newaxis] + 0.5).astype(numpy.int64))
    return bw, bh, out  # top row first: the bins of the highest rows come first


def write_ref(path, w, h, rgba_rows):
    with open(path, "wb") as f:
        f.write(struct.pack("<II", w, h))
        f.write(b"".join(struct.pack(">4H", *(int(v) * 257 for v in px)) for row in rgba_rows for px in row))


def make_thumbnails(out):
    """One picture of 2400 x 1600 in every format whose decoder draws its
    rows into a render target as they come, each with two references for
    its 24 x 16 fit: FILE.sink.ref, what the target's sink makes of the
    pixels Pillow decodes (sink_reference), and FILE.box.ref, Pillow's box
    average of them."""
    from PIL import Image
    w, h = 2400, 1600
    grad = Image.linear_gradient("L").resize((w, h))
    # Gentle slopes: the sink's bins start half a bin before Pillow's boxes.
    im = Image.merge("RGB", (grad.point(lambda v: 40 + v // 3),
                             grad.transpose(Image.Transpose.ROTATE_90).resize((w, h)).point(lambda v: 100 + v // 3),
                             Image.radial_gradient("L").resize((w, h)).point(lambda v: v // 2)))
    grey, palette = im.convert("L"), im.quantize(256)
    files = [("rgb.png", 3, im, {}), ("grey.png", 3, grey, {}), ("palette.gif", 11, palette, {}),
             ("rgb.bmp", 6, im, {}), ("palette.bmp", 6, palette, {}), ("rgb.tga", 29, im, {}),
             ("rle.tga", 29, im, {"compression": "tga_rle"}), ("rgb.pcx", 31, im, {}), ("rgb.ppm", 30, im, {}),
             ("grey.pgm", 30, grey, {}), ("rgb.tif", 2, im, {}),
             ("deflate.tif", 2, im, {"compression": "tiff_adobe_deflate"}), ("palette.tif", 2, palette, {}),
             ("dithered_g4.tif", 2, grey.convert("1"), {"compression": "group4"})]
    index = []
    from PIL import TiffImagePlugin
    strip = TiffImagePlugin.STRIP_SIZE
    for name, type_id, picture, options in files:
        path = os.path.join(out, name)
        # One strip for the deflate file: read a row at a time.
        TiffImagePlugin.STRIP_SIZE = w * h * 3 if name == "deflate.tif" else strip
        picture.save(path, **options)
        decoded = Image.open(path)
        decoded.load()
        write_ref(os.path.join(out, name + ".sink.ref"), *sink_reference(decoded, 24, 16))
        box = decoded.convert("RGBA").resize((24, 16), Image.BOX)
        write_ref(os.path.join(out, name + ".box.ref"), 24, 16,
                  [[box.getpixel((x, y)) for x in range(24)] for y in range(16)])
        index.append("%s %d" % (name, type_id))
    TiffImagePlugin.STRIP_SIZE = strip
    formats.finish(out, index)


if __name__ == "__main__":
    kind, out = sys.argv[1], sys.argv[-1]
    os.makedirs(out, exist_ok=True)
    if kind == "bombs":
        make_bombs(out)
    elif kind == "thumbnails":
        make_thumbnails(out)
    else:
        make_largest(out, int(sys.argv[2]), int(sys.argv[3]))
