#!/usr/bin/python3
"""Writes the GIF, TGA, PCX, PPM and XPM decoders' test inputs and the
reference pixels that independent decoders make of them.

    make_formats.py gif OUTDIR   GIF files from the small LZW encoder below
                                 (global and local colour tables, interlace,
                                 graphic controls, code sizes 2 to 8, a table
                                 kept full without a clear code), plus files
                                 written by Pillow and ImageMagick; every
                                 frame's reference comes from ImageMagick,
                                 which reads each frame at its own size
                                 without compositing.
    make_formats.py tga OUTDIR   every image type, plain and run-length, both
                                 row orders, 16/24/32-bit pixels and colour
                                 maps with a first entry; reference: Pillow.
    make_formats.py pcx OUTDIR   Pillow's PCX writer (palette, grey, RGB) and
                                 16-colour files by hand; reference: Pillow.
    make_formats.py ppm OUTDIR   P4, P5, P6 with maxval 1 to 65535, comments
                                 in the header; reference: netpbm's pamdepth
                                 scaling to 255 or 65535 (P4: Pillow).
    make_formats.py xpm OUTDIR   1 to 4 characters per pixel, #rgb in 2 and
                                 4 digits and None; reference: ImageMagick.

Each NAME.ext gets NAME.ref (GIF: NAME.N.ref per frame N): width and height
as two little-endian u32, then the pixels from the top row down as 16-bit R,
G, B, A big-endian (8-bit oracles give v * 257).  OUTDIR/index.txt lists
"file kind" a line: kind is 8 or 16 (the decoder's output), or for GIF the
number of frames.
"""
import io
import os
import random
import shutil
import struct
import subprocess
import sys

MAGICK = shutil.which("convert-im6.q16") or "/usr/bin/convert"


def write_ref(ref, w, h, rgba16):
    write(ref, struct.pack("<II", w, h) + struct.pack(">%dH" % len(rgba16), *rgba16))


def pillow_rgba(path):
    from PIL import Image
    im = Image.open(path)
    im.load()
    rgba = im.convert("RGBA")
    return rgba.size[0], rgba.size[1], list(rgba.tobytes())


def magick_rgba16(path, frame=0):
    source = "%s[%d]" % (path, frame)
    w, h = (int(v) for v in subprocess.check_output([MAGICK, source, "-format", "%w %h", "info:"]).split())
    # ImageMagick keeps a bottom-up TGA's rows as stored and only tags them
    # BottomLeft: -auto-orient gives the picture as it is seen.
    raw = subprocess.check_output([MAGICK, source, "-auto-orient", "-depth", "16", "-endian", "MSB", "rgba:-"])
    return w, h, list(struct.unpack(">%dH" % (len(raw) // 2), raw))


def pillow_reference(path, ref, fix=None):
    w, h, px = pillow_rgba(path)
    if fix:
        px = fix(px)
    write_ref(ref, w, h, [v * 257 for v in px])


def magick_reference(path, ref, frame=0):
    write_ref(ref, *magick_rgba16(path, frame))


def write(path, data):
    with open(path, "wb" if isinstance(data, bytes) else "w") as f:
        f.write(data)


def finish(out, index):
    write(os.path.join(out, "index.txt"), "\n".join(index) + "\n")


# ---------------------------------------------------------------------------
# GIF

def pack_lsb(codes):
    """(code, width) pairs packed least significant bit first, as GIF's LZW
    codes are."""
    out, acc, nbits = bytearray(), 0, 0
    for code, width in codes:
        acc |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(acc & 255)
            acc >>= 8
            nbits -= 8
    if nbits:
        out.append(acc & 255)
    return bytes(out)


def lzw_encode(indices, min_size, defer_clear=False):
    """GIF LZW, codes least significant bit first."""
    clear, end = 1 << min_size, (1 << min_size) + 1
    codes = []
    width = min_size + 1

    def reset():
        return {bytes([i]): i for i in range(clear)}, end + 1

    table, nxt = reset()
    codes.append((clear, width))
    cur = b""
    for v in indices:
        ext = cur + bytes([v])
        if ext in table:
            cur = ext
            continue
        codes.append((table[cur], width))
        if nxt < 4096:
            table[ext] = nxt
            nxt += 1
            if nxt > (1 << width) and width < 12:
                width += 1
            # The decoder widens when its next free code reaches 2^width; it
            # learns of each entry one code later than the encoder.
        elif not defer_clear:
            codes.append((clear, width))
            table, nxt = reset()
            width = min_size + 1
        cur = bytes([v])
    if cur:
        codes.append((table[cur], width))
    codes.append((end, width))
    return pack_lsb(codes)


def sub_blocks(data, rng):
    out = bytearray()
    pos = 0
    while pos < len(data):
        n = min(255, len(data) - pos)
        if rng.random() < 0.3:
            n = rng.randint(1, n)
        out.append(n)
        out += data[pos:pos + n]
        pos += n
    out.append(0)
    return bytes(out)


def colour_table(colours, bits):
    t = b"".join(bytes(c) for c in colours)
    return t + bytes(3 * (1 << bits) - len(t))


def gif_frame(rng, w, h, ncol, table_bits, left=0, top=0, local=None, interlace=False, control=None,
              min_size=None, defer_clear=False):
    """One image block (with its graphic control when given)."""
    rows = [[rng.choice([rng.randrange(ncol), 0, 1]) for _ in range(w)] for _ in range(h)]
    order = list(range(h))
    if interlace:
        order = list(range(0, h, 8)) + list(range(4, h, 8)) + list(range(2, h, 4)) + list(range(1, h, 2))
    indices = [v for r in order for v in rows[r]]
    out = b""
    if control is not None:
        flags, delay, transparent = control
        out += b"\x21\xF9\x04" + struct.pack("<BHB", flags, delay, transparent) + b"\x00"
    flags = (0x40 if interlace else 0)
    if local is not None:
        flags |= 0x80 | (table_bits - 1)
    out += b"\x2C" + struct.pack("<HHHHB", left, top, w, h, flags)
    if local is not None:
        out += colour_table(local, table_bits)
    size = min_size if min_size else max(2, table_bits)
    out += bytes([size]) + sub_blocks(lzw_encode(indices, size, defer_clear), rng)
    return out


def gif_file(sw, sh, global_colours, global_bits, blocks, version=b"89a", extras=b""):
    flags = 0
    if global_colours is not None:
        flags = 0x80 | 0x70 | (global_bits - 1)
    out = b"GIF" + version + struct.pack("<HHBBB", sw, sh, flags, 0, 0)
    if global_colours is not None:
        out += colour_table(global_colours, global_bits)
    return out + extras + b"".join(blocks) + b"\x3B"


def make_gif(out):
    rng = random.Random(2106)
    index = []

    def palette(n):
        return [(rng.randrange(256), rng.randrange(256), rng.randrange(256)) for _ in range(n)]

    def save(name, data=None, frames=None):
        path = os.path.join(out, name + ".gif")
        if data is not None:
            write(path, data)
        n = frames
        if n is None:
            n = len(subprocess.check_output([MAGICK, path, "-format", "%p\n", "info:"]).split())
        for i in range(n):
            magick_reference(path, os.path.join(out, "%s.%d.ref" % (name, i)), i)
        index.append("%s.gif %d" % (name, n))

    comment = b"\x21\xFE\x05hello\x00"
    app = b"\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00"
    for bits in range(1, 9):
        g = palette(1 << bits)
        save("g_bits%d" % bits, gif_file(13, 7, g, bits, [gif_frame(rng, 13, 7, 1 << bits, bits)]), 1)
    # Interlaced heights that leave passes empty.
    for h in (1, 2, 3, 4, 5, 9, 17):
        g = palette(16)
        save("g_interlace_h%d" % h, gif_file(6, h, g, 4, [gif_frame(rng, 6, h, 16, 4, interlace=True)]), 1)
    # Multi-frame: global table, local tables, offsets, transparency on one
    # frame only, extensions between images, version 87a.
    g = palette(32)
    frames = [
        gif_frame(rng, 20, 10, 32, 5, control=(0x05, 10, 1)),
        gif_frame(rng, 8, 6, 16, 4, left=3, top=2, local=palette(16)),
        gif_frame(rng, 20, 10, 32, 5, interlace=True, control=(0x08, 5, 7)),
        gif_frame(rng, 5, 9, 64, 6, left=1, top=1, local=palette(64), interlace=True, control=(0x09, 0, 0)),
        gif_frame(rng, 20, 10, 32, 5),
    ]
    save("g_anim", gif_file(20, 10, g, 5, frames[:2] + [comment] + frames[2:], extras=app), 5)
    save("g_87a", gif_file(9, 4, palette(4), 2, [gif_frame(rng, 9, 4, 4, 2)], version=b"87a"), 1)
    # No global table: every frame carries its own.
    save("g_localonly", gif_file(7, 7, None, 0, [gif_frame(rng, 7, 7, 8, 3, local=palette(8)),
                                                 gif_frame(rng, 7, 7, 4, 2, local=palette(4))]), 2)
    # A large frame that fills the code table: with clear codes, and kept
    # full without one.
    g = palette(256)
    save("g_big", gif_file(160, 120, g, 8, [gif_frame(rng, 160, 120, 256, 8)]), 1)
    save("g_deferred", gif_file(160, 120, g, 8, [gif_frame(rng, 160, 120, 256, 8, defer_clear=True)]), 1)
    # Code size larger than the table needs.
    save("g_wide_codes", gif_file(11, 5, palette(4), 2, [gif_frame(rng, 11, 5, 4, 2, min_size=8)]), 1)

    # Pillow's and ImageMagick's own writers.
    from PIL import Image
    ims = []
    for k in range(3):
        im = Image.new("RGB", (23, 11))
        im.putdata([(rng.randrange(256), (x * 11 + k * 40) % 256, 128) for x in range(23 * 11)])
        ims.append(im.quantize(64))
    pil_path = os.path.join(out, "g_pillow.gif")
    ims[0].save(pil_path, save_all=True, append_images=ims[1:], duration=50, optimize=False)
    save("g_pillow", None, None)
    src = os.path.join(out, "src.png")
    im = Image.new("RGB", (31, 19))
    im.putdata([(rng.randrange(256), rng.randrange(256), rng.randrange(256)) for _ in range(31 * 19)])
    im.save(src)
    subprocess.check_call([MAGICK, src, "-colors", "40", "-interlace", "GIF", os.path.join(out, "g_magick.gif")])
    os.remove(src)
    save("g_magick", None, 1)
    finish(out, index)


# ---------------------------------------------------------------------------
# TGA

def tga_rle(pixels, bpp, rng):
    """Packets over the whole pixel stream, running across row ends."""
    out = bytearray()
    i = 0
    while i < len(pixels):
        run = 1
        while i + run < len(pixels) and pixels[i + run] == pixels[i] and run < 128:
            run += 1
        if run >= 2 and rng.random() < 0.9:
            out.append(0x80 | (run - 1))
            out += pixels[i]
            i += run
        else:
            n = 1
            while i + n < len(pixels) and n < 128 and (i + n + 1 >= len(pixels) or pixels[i + n] != pixels[i + n + 1]):
                n += 1
            out.append(n - 1)
            out += b"".join(pixels[i:i + n])
            i += n
    return bytes(out)


def make_tga(out):
    rng = random.Random(2109)
    index = []

    def save(name, data, five=False, magick=False):
        """five: the 5-bit components of 16-bit pixels or map entries
        follow the decoder's rule trunc(c * 8.2258), recovered from the
        oracle's widened value as round(v * 31 / 65535)."""
        path = os.path.join(out, name + ".tga")
        write(path, data)
        if magick:
            w, h, px = magick_rgba16(path)
        else:
            w, h, px8 = pillow_rgba(path)
            px = [v * 257 for v in px8]
        if five:
            px = [v if i % 4 == 3 else int(round(v * 31 / 65535) * 8.2258) * 257 for i, v in enumerate(px)]
        if data[16] == 32 and all(px[i] == 0 for i in range(3, len(px), 4)):
            # The format rule: 32-bit pixels whose alpha bytes are all 0
            # are opaque.
            px = [65535 if i % 4 == 3 else v for i, v in enumerate(px)]
        write_ref(os.path.join(out, name + ".ref"), w, h, px)
        index.append("%s.tga 8" % name)

    def header(idlen, maptype, itype, first, length, entry, w, h, depth, desc):
        return struct.pack("<BBBHHBHHHHBB", idlen, maptype, itype, first, length, entry, 0, 0, w, h, depth, desc)

    for (w, h) in ((1, 1), (7, 5), (33, 4)):
        tag = "%dx%d" % (w, h)
        for top in (False, True):
            desc = 0x20 if top else 0
            o = "t" if top else "b"
            for rle in (False, True):
                r = "rle" if rle else "raw"

                def body(pix, bpp):
                    return tga_rle(pix, bpp, rng) if rle else b"".join(pix)

                idf = b"made by make_formats" if w == 7 else b""
                # Grey.
                pix = [bytes([rng.choice([rng.randrange(256), 9, 9])]) for _ in range(w * h)]
                save("tga_grey_%s_%s_%s" % (r, o, tag),
                     header(len(idf), 0, 11 if rle else 3, 0, 0, 0, w, h, 8, desc) + idf + body(pix, 1), magick=rle)
                # True colour 16, 24, 32.
                pix = [struct.pack("<H", rng.choice([rng.randrange(0x10000), 0x7FFF, 0x1234])) for _ in range(w * h)]
                save("tga_16_%s_%s_%s" % (r, o, tag),
                     header(len(idf), 0, 10 if rle else 2, 0, 0, 0, w, h, 16, desc) + idf + body(pix, 2), five=True, magick=rle)
                pix = [bytes(rng.choice([[rng.randrange(256) for _ in range(3)], [1, 2, 3]])) for _ in range(w * h)]
                save("tga_24_%s_%s_%s" % (r, o, tag),
                     header(len(idf), 0, 10 if rle else 2, 0, 0, 0, w, h, 24, desc) + idf + body(pix, 3), magick=rle)
                pix = [bytes(rng.choice([[rng.randrange(256) for _ in range(4)], [1, 2, 3, 4]])) for _ in range(w * h)]
                save("tga_32_%s_%s_%s" % (r, o, tag),
                     header(len(idf), 0, 10 if rle else 2, 0, 0, 0, w, h, 32 | 0, desc | 8) + idf + body(pix, 4), magick=rle)
                pix = [bytes([rng.randrange(256) for _ in range(3)] + [0]) for _ in range(w * h)]
                save("tga_32x_%s_%s_%s" % (r, o, tag),
                     header(0, 0, 10 if rle else 2, 0, 0, 0, w, h, 32, desc) + body(pix, 4), magick=rle)
                # Colour-mapped, map entries of 16, 24 and 32 bits, with a
                # first entry other than 0.
                for entry in (16, 24, 32):
                    first = 5 if entry != 16 else 0
                    n = rng.choice([20, 200]) if entry != 16 else 256
                    if entry == 16:
                        cmap = b"".join(struct.pack("<H", rng.randrange(0x10000)) for _ in range(n))
                    else:
                        cmap = bytes(rng.randrange(256) for _ in range(n * entry // 8))
                    pix = [bytes([first + rng.choice([rng.randrange(n), 0, 0])]) for _ in range(w * h)]
                    save("tga_map%d_%s_%s_%s" % (entry, r, o, tag),
                         header(len(idf), 1, 9 if rle else 1, first, n, entry, w, h, 8, desc) + idf + cmap +
                         body(pix, 1), five=entry == 16, magick=rle or entry == 32)
    finish(out, index)


# ---------------------------------------------------------------------------
# PCX

def pcx_runs(values, rng):
    out = bytearray()
    i = 0
    while i < len(values):
        run = 1
        while i + run < len(values) and values[i + run] == values[i] and run < 63:
            run += 1
        v = values[i]
        if run > 1 or v >= 0xC0 or rng.random() < 0.2:
            out += bytes([0xC0 | run, v])
        else:
            out.append(v)
        i += run
    return bytes(out)


def make_pcx(out):
    from PIL import Image
    rng = random.Random(2110)
    index = []

    def save(name, im=None, data=None, fix=None):
        path = os.path.join(out, name + ".pcx")
        ref_from = path
        if im is not None:
            im.save(path, format="PCX")
        else:
            write(path, data)
            # Pillow looks for the 256-colour trailer 769 bytes before the
            # end and fails on shorter files: it reads a copy padded with
            # zeros (which hold no trailer), the image data unchanged.
            ref_from = path + ".padded"
            write(ref_from, data + bytes(769))
        pillow_reference(ref_from, os.path.join(out, name + ".ref"), fix)
        index.append("%s.pcx 8" % name)

    for (w, h) in ((1, 1), (8, 3), (17, 6), (64, 5)):
        tag = "%dx%d" % (w, h)
        im = Image.new("RGB", (w, h))
        im.putdata([rng.choice([(rng.randrange(256), rng.randrange(256), rng.randrange(256)), (200, 200, 1)])
                    for _ in range(w * h)])
        if w > 1:
            # Pillow's writer drops the last plane of a one-pixel line.
            save("pcx_rgb_" + tag, im.copy())
            save("pcx_p_" + tag, im.quantize(rng.choice([7, 256])))
            save("pcx_l_" + tag, im.convert("L"))
        # (Pillow decodes runs a line at a time, so none cross a line here.)
        # By hand: one plane of 16 colours from the header palette, no
        # trailer; lines padded beyond the width.
        pal16 = [(rng.randrange(256), rng.randrange(256), rng.randrange(256)) for _ in range(16)]
        bpl = w + (w % 2)  # even, as Pillow expects
        idx = [[rng.randrange(16) for _ in range(w)] + [0] * (bpl - w) for _ in range(h)]
        hdr = struct.pack("<BBBBHHHHHH", 10, 5, 1, 8, 0, 0, w - 1, h - 1, 72, 72)
        hdr += b"".join(bytes(c) for c in pal16) + b"\x00\x01" + struct.pack("<HH", bpl, 1)
        hdr += bytes(128 - len(hdr))
        data = hdr + b"".join(pcx_runs(row, rng) for row in idx)

        def via_palette(px, pal=pal16):
            # Pillow reads a one-plane file without the trailer as grey; its
            # grey values are the indices into the header palette.
            outp = []
            for i in range(0, len(px), 4):
                outp += list(pal[px[i]]) + [255]
            return outp
        save("pcx_hdrpal_" + tag, data=data, fix=via_palette)
    finish(out, index)


# ---------------------------------------------------------------------------
# PPM

def netpbm_scaled(path, maxval):
    """The file through pamdepth to maxval 255 or 65535: a P5/P6 stream."""
    target = "65535" if maxval >= 256 else "255"
    raw = subprocess.check_output(["pamdepth", target, path], stderr=subprocess.DEVNULL)
    # Header: magic, width, height, maxval, one blank.
    fields, pos = [], 2
    while len(fields) < 3:
        while raw[pos:pos + 1].isspace():
            pos += 1
        start = pos
        while raw[pos:pos + 1].isdigit():
            pos += 1
        fields.append(int(raw[start:pos]))
    w, h, m = fields
    body = raw[pos + 1:]
    ch = 3 if raw[:2] == b"P6" else 1
    if m > 255:
        samples = struct.unpack(">%dH" % (w * h * ch), body[:2 * w * h * ch])
    else:
        samples = body[:w * h * ch]
    rgba = []
    for i in range(w * h):
        s = samples[i * ch:(i + 1) * ch]
        r, g, b = (s[0], s[0], s[0]) if ch == 1 else s
        if m > 255:
            rgba += [r, g, b, 65535]
        else:
            rgba += [r * 257, g * 257, b * 257, 65535]
    return w, h, rgba


def make_ppm(out):
    rng = random.Random(2111)
    index = []

    def save(name, data, maxval):
        path = os.path.join(out, name + ".pnm")
        write(path, data)
        ref = os.path.join(out, name + ".ref")
        write_ref(ref, *netpbm_scaled(path, maxval))
        index.append("%s.pnm %d" % (name, 16 if maxval >= 256 else 8))

    def p4_header(w, h, style):
        return [b"P4\n%d %d\n" % (w, h), b"P4\n# c\n%d %d\n" % (w, h), b"P4 %d#c\n%d#c\n" % (w, h)][style]

    for (w, h) in ((1, 1), (9, 3), (16, 2), (31, 7)):
        tag = "%dx%d" % (w, h)
        for style in range(3):
            rows = b"".join(bytes(rng.randrange(256) for _ in range((w + 7) // 8)) for _ in range(h))
            save("p4_s%d_%s" % (style, tag), p4_header(w, h, style) + rows, 1)
            for maxval in (255, 1, 100, 1000, 65535):
                for form, ch in ((b"P5", 1), (b"P6", 3)):
                    n = w * h * ch
                    samples = [rng.choice([rng.randrange(maxval + 1), maxval, 0]) for _ in range(n)]
                    body = bytes(samples) if maxval < 256 else struct.pack(">%dH" % n, *samples)
                    name = "%s_m%d_s%d_%s" % (form.decode().lower(), maxval, style, tag)
                    save(name, make_header(form, w, h, maxval, style) + body, maxval)
    finish(out, index)


def make_header(form, w, h, maxval, style):
    if style == 0:
        return b"%s\n%d %d\n%d\n" % (form, w, h, maxval)
    if style == 1:
        return b"%s\n# a comment\n%d\t%d\r\n# another\n%d\n" % (form, w, h, maxval)
    return b"%s %d#comment after a number\n%d %d#ends the maxval too\n" % (form, w, h, maxval)


# ---------------------------------------------------------------------------
# XPM

CODE_CHARS = ".#abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789+@$%&*=-;:>,<"


def make_xpm(out):
    rng = random.Random(2112)
    index = []
    singles = sorted(set(CODE_CHARS))

    def text(w, h, cpp, codes, colours, rows):
        lines = ["/* XPM */", "static char *pict_%d[] = {" % cpp, "/* columns rows colors chars-per-pixel */",
                 '"%d %d %d %d",' % (w, h, len(codes), cpp)]
        for code, colour in zip(codes, colours):
            lines.append('"%s%sc%s%s",' % (code, colour[1], colour[1], colour[0]))
        lines.append("/* pixels */")
        for r, row in enumerate(rows):
            end = "," if r < h - 1 else ""
            cmt = " /* a comment between rows */" if r == 1 else ""
            lines.append('"%s"%s%s' % ("".join(codes[i] for i in row), end, cmt))
        lines.append("};")
        return "\n".join(lines) + "\n"

    for cpp in (1, 2, 3, 4):
        for (w, h, ncol) in ((1, 1, 1), (7, 4, 5), (20, 6, 40)):
            codes = set()
            while len(codes) < ncol:
                codes.add("".join(rng.choice(CODE_CHARS) for _ in range(cpp)))
            codes = sorted(codes)
            colours = []
            for i in range(ncol):
                form = i % 3
                if form == 0 or ncol == 1:
                    c = "#%02X%02x%02X" % (rng.randrange(256), rng.randrange(256), rng.randrange(256))
                elif form == 1:
                    c = "#%04x%04X%04x" % (rng.randrange(65536), rng.randrange(65536), rng.randrange(65536))
                else:
                    c = "None"
                colours.append((c, " "))  # ImageMagick reads no tabs here
            rows = [[rng.randrange(ncol) for _ in range(w)] for _ in range(h)]
            name = "xpm_c%d_%dx%d" % (cpp, w, h)
            path = os.path.join(out, name + ".xpm")
            write(path, text(w, h, cpp, codes, colours, rows))
            # ImageMagick reads at most three characters per pixel: four
            # take their reference from the same picture written with one.
            ref_from = path
            if cpp > 3:
                ref_from = os.path.join(out, name + ".twin.xpm")
                write(ref_from, text(w, h, 1, singles[:ncol], colours, rows))
            magick_reference(ref_from, os.path.join(out, name + ".ref"))
            index.append("%s.xpm 8" % name)
    finish(out, index)


if __name__ == "__main__":
    what, outdir = sys.argv[1], sys.argv[2]
    os.makedirs(outdir, exist_ok=True)
    {"gif": make_gif, "tga": make_tga, "pcx": make_pcx, "ppm": make_ppm, "xpm": make_xpm}[what](outdir)
