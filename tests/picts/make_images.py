#!/usr/bin/python3
"""Writes the picture decoders' test inputs and their reference pixels.

    make_images.py png OUTDIR    PNG files of every colour type, depth,
                                 interlace and tRNS form, written by the small
                                 encoder below (random filters, IDAT split at
                                 random); the reference pixels come from
                                 ImageMagick.
    make_images.py bmp OUTDIR    BMP and DIB files of every depth and
                                 compression, written by Pillow, ImageMagick
                                 or by hand; the reference pixels come from
                                 Pillow.

Each NAME.png / NAME.bmp / NAME.dib gets NAME.ref: width and height as two
little-endian u32, then the pixels from the top row down as 16-bit R, G, B, A
big-endian (8-bit oracles give v * 257).  A list of the files is written to
OUTDIR/index.txt, one "name kind" a line (kind: 8 or 16, the decoder's output).
"""
import os
import random
import struct
import subprocess
import sys
import zlib

from make_formats import MAGICK, finish, magick_reference, pillow_reference, write


def chunk(kind, data):
    c = struct.pack(">I", len(data)) + kind + data
    return c + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]
CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}


def pack_line(pixels, depth):
    """pixels: list of sample tuples -> bytes."""
    if depth == 16:
        return b"".join(struct.pack(">%dH" % len(p), *p) for p in pixels)
    if depth == 8:
        return bytes(v for p in pixels for v in p)
    bits, n, out = 0, 0, bytearray()
    for p in pixels:
        for v in p:
            bits = (bits << depth) | v
            n += depth
            if n == 8:
                out.append(bits)
                bits, n = 0, 0
    if n:
        out.append(bits << (8 - n))
    return bytes(out)


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def filter_line(line, prior, bpp, ftype):
    out = bytearray([ftype])
    for i, x in enumerate(line):
        a = line[i - bpp] if i >= bpp else 0
        b = prior[i]
        c = prior[i - bpp] if i >= bpp else 0
        pred = [0, a, b, (a + b) >> 1, paeth(a, b, c)][ftype]
        out.append((x - pred) & 255)
    return bytes(out)


def encode_png(rng, w, h, ctype, depth, rows, interlace, plte=None, trns=None, extra=b""):
    ch = CHANNELS[ctype]
    bpp = max(1, (ch * depth + 7) // 8)
    raw = bytearray()
    passes = ADAM7 if interlace else [(0, 0, 1, 1)]
    for (fc, fr, cs, rs) in passes:
        cols = list(range(fc, w, cs))
        if not cols:
            continue
        prior = None
        for y in range(fr, h, rs):
            line = pack_line([rows[y][x] for x in cols], depth)
            if prior is None:
                prior = bytes(len(line))
            raw += filter_line(line, prior, bpp, rng.randrange(5))
            prior = line
    data = zlib.compress(bytes(raw), rng.choice([1, 6, 9]))
    out = b"\x89PNG\r\n\x1a\n"
    out += chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, depth, ctype, 0, 0, 1 if interlace else 0))
    out += chunk(b"tEXt", b"Comment\x00made by make_images.py")
    if plte is not None:
        out += chunk(b"PLTE", b"".join(bytes(c) for c in plte))
    if trns is not None:
        out += chunk(b"tRNS", trns)
    out += extra
    pos = 0
    while pos < len(data):
        n = rng.randint(1, max(1, len(data) // 3 + 1))
        out += chunk(b"IDAT", data[pos:pos + n])
        pos += n
    out += chunk(b"IEND", b"")
    return out


def make_png(out):
    rng = random.Random(2105)
    index = []

    def put(name, data, bits=8):
        path = os.path.join(out, name + ".png")
        write(path, data)
        magick_reference(path, os.path.join(out, name + ".ref"))
        index.append("%s %d" % (name, bits))
    sizes = [(1, 1), (3, 2), (10, 7), (33, 17), (5, 1), (1, 9)]
    forms = [(0, 1), (0, 2), (0, 4), (0, 8), (0, 16), (2, 8), (2, 16), (3, 1), (3, 2), (3, 4), (3, 8),
             (4, 8), (4, 16), (6, 8), (6, 16)]
    for ctype, depth in forms:
        for interlace in (False, True):
            for with_trns in (False, True):
                if with_trns and ctype in (4, 6):
                    continue
                w, h = sizes[rng.randrange(len(sizes))] if rng.random() < 0.5 else (rng.randint(1, 40), rng.randint(1, 40))
                ch = CHANNELS[ctype]
                top = (1 << depth) - 1
                plte = trns = None
                if ctype == 3:
                    n = rng.randint(1, top + 1)
                    plte = [(rng.randrange(256), rng.randrange(256), rng.randrange(256)) for _ in range(n)]
                    rows = [[(rng.randrange(n),) for _ in range(w)] for _ in range(h)]
                    if with_trns:
                        trns = bytes(rng.randrange(256) for _ in range(rng.randint(1, n)))
                else:
                    # Few distinct values, so that the colour key matches some pixels.
                    pool = [tuple(rng.randint(0, top) for _ in range(ch)) for _ in range(6)]
                    rows = [[rng.choice(pool) if rng.random() < 0.6 else tuple(rng.randint(0, top) for _ in range(ch))
                             for _ in range(w)] for _ in range(h)]
                    if with_trns:
                        key = pool[0]
                        trns = struct.pack(">%dH" % len(key), *key)
                name = "png_c%d_d%d_%s_%s" % (ctype, depth, "i" if interlace else "n", "t" if with_trns else "o")
                put(name, encode_png(rng, w, h, ctype, depth, rows, interlace, plte, trns), 16 if depth == 16 else 8)
    # Interlaced pictures so small that some Adam7 passes have no rows or no
    # columns.
    for w, h in ((1, 1), (1, 5), (5, 1), (2, 3), (3, 2), (4, 1), (1, 4), (2, 2)):
        rows = [[tuple(rng.randrange(256) for _ in range(4)) for _ in range(w)] for _ in range(h)]
        put("png_tiny_%dx%d_i" % (w, h), encode_png(rng, w, h, 6, 8, rows, True))
    # Pictures larger than the decoder's scanline buffer, interlaced or not.
    for w, h, interlace in ((421, 330, True), (97, 1500, False)):
        rows = [[(rng.randrange(256), (x * y) & 255, (x + y) & 255) for x in range(w)] for y in range(h)]
        put("png_big_%dx%d_%s" % (w, h, "i" if interlace else "n"), encode_png(rng, w, h, 2, 8, rows, interlace))
    # Larger pictures in the forms the benchmarks use, from Pillow's encoder.
    from PIL import Image
    img = Image.effect_mandelbrot((640, 480), (-2, -1.2, 1, 1.2), 80).convert("RGB")
    for mode, name in (("RGB", "pil_rgb"), ("RGBA", "pil_rgba"), ("P", "pil_pal"), ("L", "pil_grey")):
        im = img.convert(mode) if mode != "RGBA" else img.convert("RGBA")
        if mode == "RGBA":
            im.putalpha(img.convert("L"))
        path = os.path.join(out, name + ".png")
        im.save(path, optimize=(mode == "P"))
        magick_reference(path, os.path.join(out, name + ".ref"))
        index.append("%s 8" % name)
    finish(out, index)


# ---------------------------------------------------------------------------
# BMP

def rle8(rows, eol_early=False):
    """Rows of indices (bottom row first) -> RLE8 codes with runs and literals."""
    out = bytearray()
    for y, row in enumerate(rows):
        x = 0
        while x < len(row):
            run = 1
            while x + run < len(row) and row[x + run] == row[x] and run < 255:
                run += 1
            if run >= 3 or len(row) - x < 3:
                out += bytes([run, row[x]])
                x += run
            else:
                n = min(255, len(row) - x)
                lit = row[x:x + n]
                out += bytes([0, n]) + bytes(lit) + (b"\x00" if n % 2 else b"")
                x += n
        out += b"\x00\x00"
    out += b"\x00\x01"
    return bytes(out)


def rle4(rows):
    out = bytearray()
    for row in rows:
        x = 0
        while x < len(row):
            # A run of alternating pairs.
            run = 2 if x + 1 < len(row) else 1
            while x + run < len(row) and row[x + run] == row[x + run - 2] and run < 255:
                run += 1
            if run >= 4 or len(row) - x < 3:
                hi, lo = row[x], row[x + 1] if x + 1 < len(row) else 0
                out += bytes([run, hi << 4 | lo])
                x += run
            else:
                n = min(len(row) - x, 8)
                if n < 3:
                    n = len(row) - x
                lit = row[x:x + n]
                packed = bytearray()
                for i in range(0, n, 2):
                    packed.append(lit[i] << 4 | (lit[i + 1] if i + 1 < n else 0))
                if len(packed) % 2:
                    packed.append(0)
                out += bytes([0, n]) + bytes(packed)
                x += n
        out += b"\x00\x00"
    out += b"\x00\x01"
    return bytes(out)


def bmp_file(info, palette, bits):
    off = 14 + len(info) + len(palette)
    return b"BM" + struct.pack("<IHHI", off + len(bits), 0, 0, off) + info + palette + bits


def info_header(size, w, h, bpp, comp, image_size=0, used=0, masks=None):
    hdr = struct.pack("<IiiHHIIiiII", size, w, h, 1, bpp, comp, image_size, 2835, 2835, used, 0)
    if size > 40:
        m = list(masks or (0, 0, 0, 0)) + [0] * 4
        hdr += struct.pack("<4I", *m[:4])
        hdr += bytes(size - len(hdr))
    return hdr


def make_bmp(out):
    from PIL import Image
    rng = random.Random(2104)
    index = []

    def noise(mode, w, h, colours=None):
        im = Image.new("RGB", (w, h))
        im.putdata([(rng.randrange(256), rng.randrange(256), rng.randrange(256)) for _ in range(w * h)])
        if mode == "P":
            return im.quantize(colours or 256)
        return im.convert(mode)

    def save(name, data=None, im=None, ext="bmp", **kw):
        path = os.path.join(out, name + "." + ext)
        if im is not None:
            im.save(path, format="BMP", **kw)
        else:
            write(path, data)
        ref_from = path
        if im is not None and im.mode == "RGBA":
            # Pillow reads a 32-bit BI_RGB bitmap back without its alpha; the
            # reference is the picture it wrote.
            ref_from = path + ".png"
            im.save(ref_from)
        if ext == "dib":
            # Pillow reads a bare DIB through a BMP file header.
            with open(path, "rb") as f:
                dib = f.read()
            hsize = struct.unpack("<I", dib[:4])[0]
            bpp = struct.unpack("<H", dib[14:16])[0] if hsize >= 40 else struct.unpack("<H", dib[10:12])[0]
            used = struct.unpack("<I", dib[32:36])[0] if hsize >= 40 else 0
            comp = struct.unpack("<I", dib[16:20])[0] if hsize >= 40 else 0
            pal = (used or (1 << bpp)) * (4 if hsize >= 40 else 3) if bpp <= 8 else 0
            masks = 12 if comp == 3 and hsize == 40 else 0
            ref_from = path + ".bmp"
            write(ref_from, b"BM" + struct.pack("<IHHI", 14 + len(dib), 0, 0, 14 + hsize + pal + masks) + dib)
        pillow_reference(ref_from, os.path.join(out, name + ".ref"))
        index.append("%s.%s 8" % (name, ext))

    for w, h in ((1, 1), (7, 5), (31, 9), (64, 3)):
        tag = "%dx%d" % (w, h)
        save("bmp_1_" + tag, im=noise("1", w, h))
        save("bmp_8_" + tag, im=noise("P", w, h))
        save("bmp_24_" + tag, im=noise("RGB", w, h))
        save("bmp_32_" + tag, im=noise("RGBA", w, h))

    # 4-bit, RLE4 and RLE8, bit fields, V4/V5, top-down, core headers: by hand.
    for w, h in ((1, 1), (9, 6), (33, 4)):
        tag = "%dx%d" % (w, h)
        pal16 = [(rng.randrange(256), rng.randrange(256), rng.randrange(256)) for _ in range(16)]
        palbytes = b"".join(bytes([b, g, r, 0]) for r, g, b in pal16)
        idx = [[rng.choice([rng.randrange(16), 3, 3, 5]) for _ in range(w)] for _ in range(h)]
        stride = ((w * 4 + 31) // 32) * 4
        bits = b"".join(pack_line([(v,) for v in row], 4).ljust(stride, b"\0") for row in idx)
        save("bmp_4_" + tag, bmp_file(info_header(40, w, h, 4, 0, used=16), palbytes, bits))
        enc = rle4(idx)
        save("bmp_rle4_" + tag, bmp_file(info_header(40, w, h, 4, 2, len(enc), 16), palbytes, enc))
        pal256 = b"".join(bytes([rng.randrange(256), rng.randrange(256), rng.randrange(256), 0]) for _ in range(256))
        idx8 = [[rng.choice([rng.randrange(256), 7, 7, 7, 200]) for _ in range(w)] for _ in range(h)]
        enc8 = rle8(idx8)
        save("bmp_rle8_" + tag, bmp_file(info_header(40, w, h, 8, 1, len(enc8), 256), pal256, enc8))
        # Top-down 24-bit.
        stride24 = ((w * 24 + 31) // 32) * 4
        rows24 = [bytes(rng.randrange(256) for _ in range(3 * w)).ljust(stride24, b"\0") for _ in range(h)]
        save("bmp_24td_" + tag, bmp_file(info_header(40, w, -h, 24, 0), b"", b"".join(rows24)))
        # 16-bit 5-5-5 and bit fields 5-6-5 (with the masks after a 40-byte header).
        stride16 = ((w * 16 + 31) // 32) * 4
        rows16 = [b"".join(struct.pack("<H", rng.randrange(0x8000)) for _ in range(w)).ljust(stride16, b"\0")
                  for _ in range(h)]
        save("bmp_16_" + tag, bmp_file(info_header(40, w, h, 16, 0), b"", b"".join(rows16)))
        rows565 = [b"".join(struct.pack("<H", rng.randrange(0x10000)) for _ in range(w)).ljust(stride16, b"\0")
                   for _ in range(h)]
        save("bmp_565_" + tag, bmp_file(info_header(40, w, h, 16, 3), struct.pack("<3I", 0xF800, 0x07E0, 0x1F),
                                         b"".join(rows565)))
        # 32-bit V4 and V5 with alpha masks; BGRA and an unusual channel order.
        rows32 = b"".join(struct.pack("<I", rng.randrange(1 << 32)) for _ in range(w * h))
        save("bmp_v4_" + tag, bmp_file(info_header(108, w, h, 32, 3, masks=(0xFF0000, 0xFF00, 0xFF, 0xFF000000)),
                                        b"", rows32))
        save("bmp_v5_" + tag, bmp_file(info_header(124, w, h, 32, 3, masks=(0xFF, 0xFF00, 0xFF0000, 0xFF000000)),
                                        b"", rows32))
        # 32-bit whose fourth bytes are all zero: opaque.
        rows32x = b"".join(struct.pack("<I", rng.randrange(1 << 24)) for _ in range(w * h))
        save("bmp_32x_" + tag, bmp_file(info_header(40, w, h, 32, 0), b"", rows32x))
        # OS/2 core header, 8-bit with a 3-byte palette.
        pal3 = b"".join(bytes([rng.randrange(256), rng.randrange(256), rng.randrange(256)]) for _ in range(256))
        stride8 = ((w * 8 + 31) // 32) * 4
        rows8 = b"".join(bytes(rng.randrange(256) for _ in range(w)).ljust(stride8, b"\0") for _ in range(h))
        core = struct.pack("<IHHHH", 12, w, h, 1, 8)
        save("bmp_core8_" + tag, bmp_file(core, pal3, rows8))
        # Bare DIBs.
        save("dib_8_" + tag, info_header(40, w, h, 8, 0, used=256) + pal256 + rows8, ext="dib")
        save("dib_24_" + tag, info_header(40, w, h, 24, 0) + b"".join(rows24[::-1]), ext="dib")

    # ImageMagick's RLE8, which ends lines and the bitmap early.
    src = os.path.join(out, "im_src.png")
    noise("P", 37, 11, 12).convert("RGB").save(src)
    path = os.path.join(out, "bmp_im_rle8.bmp")
    subprocess.check_call([MAGICK, src, "-colors", "12", "-compress", "RLE", "BMP3:" + path])
    pillow_reference(path, os.path.join(out, "bmp_im_rle8.ref"))
    index.append("bmp_im_rle8.bmp 8")
    os.remove(src)
    finish(out, index)


if __name__ == "__main__":
    what, outdir = sys.argv[1], sys.argv[2]
    os.makedirs(outdir, exist_ok=True)
    {"png": make_png, "bmp": make_bmp}[what](outdir)
