#!/usr/bin/python3
"""Writes the test inputs of the icon decoders and their reference pixels.

    make_icon_images.py ico OUTDIR   icons and cursors made by icotool from
        PNGs that Pillow writes (1-, 4-, 8-, 24- and 32-bit bitmap entries
        with AND masks, PNG entries); the reference of each page is Pillow's
        decode of a one-entry icon that icotool made from the same PNG.
    make_icon_images.py icns OUTDIR  icon families made by png2icns (RLE
        24-bit elements with 8-bit masks, JPEG 2000 elements) and by Pillow
        (PNG elements); the reference of each page is Pillow's decode of
        that element.  Families of 1-, 4- and 8-bit elements, which neither
        tool writes, are packed here with struct; their reference applies
        the classic Macintosh palettes (built below from their rules: a
        6x6x6 cube and ramps) and masks in plain Python.

Each page's reference NAME.ref holds width and height as two little-endian
u32, then the pixels from the top row down as 16-bit R, G, B, A big-endian
(v * 257).  OUTDIR/index.txt lists "FILE PAGE REF" a line.
"""
import io
import os
import random
import struct
import subprocess
import sys
import tempfile

from PIL import Image, IcnsImagePlugin


def write_ref(path, im):
    rgba = im.convert("RGBA")
    w, h = rgba.size
    with open(path, "wb") as f:
        f.write(struct.pack("<II", w, h))
        data = [v * 257 for v in rgba.tobytes()]
        f.write(struct.pack(">%dH" % len(data), *data))


def picture(rng, w, h, colours=None, alpha=True):
    """Gradients and noise; `colours` limits the palette (for 1-, 4- and
    8-bit entries); alpha holds fully clear, half and opaque areas."""
    palette = None
    if colours:
        palette = [(rng.randrange(256), rng.randrange(256), rng.randrange(256)) for _ in range(colours)]
    data = []
    for y in range(h):
        for x in range(w):
            if palette:
                r, g, b = palette[(x * 7 + y * 3 + rng.randrange(3)) % len(palette)]
            else:
                r = x * 255 // max(1, w - 1)
                g = y * 255 // max(1, h - 1)
                b = rng.randrange(256)
            a = 255
            if alpha:
                a = 0 if (x + y) % 5 == 0 else (255 if (x * y) % 3 else rng.choice([0, 255]))
            data.append((r, g, b, a))
    im = Image.new("RGBA", (w, h))
    im.putdata(data)
    return im


def icotool(out, inputs, cursor=False):
    """inputs: list of (png path, bit depth or 'png')."""
    cmd = ["icotool", "-c", "-o", out]
    if cursor:
        cmd += ["--cursor", "-X", "3", "-Y", "5"]
    for path, depth in inputs:
        if depth == "png":
            cmd += ["-r", path]
        else:
            cmd += ["-b", str(depth), path]
    subprocess.run(cmd, check=True)


def make_ico(out):
    rng = random.Random(1107)
    tmp = tempfile.mkdtemp()
    index = []
    families = [
        # icotool keeps one palette entry for the transparent pixels.
        ("ico_depths", False, [((16, 16), 1, 1), ((32, 32), 4, 15), ((24, 24), 8, 200), ((20, 12), 24, None),
                               ((48, 48), 32, None)]),
        ("ico_png", False, [((16, 16), 32, None), ((64, 64), "png", None), ((32, 32), 8, 100)]),
        ("ico_big", False, [((16, 16), 32, None), ((32, 32), 32, None), ((48, 48), 32, None),
                            ((256, 256), "png", None)]),
        ("cur_hotspot", True, [((32, 32), 32, None), ((16, 16), 4, 9)]),
    ]
    for name, cursor, entries in families:
        inputs = []
        for page, ((w, h), depth, colours) in enumerate(entries):
            png = os.path.join(tmp, "%s_%d.png" % (name, page))
            picture(rng, w, h, colours).save(png)
            inputs.append((png, depth))
            single = os.path.join(tmp, "%s_%d.ico" % (name, page))
            icotool(single, [(png, depth)], cursor)
            with open(single, "rb") as f:
                data = bytearray(f.read())
            # Pillow's cursor reader drops the AND mask; its icon reader
            # applies it, and the entries of both are alike.
            data[2] = 1
            im = Image.open(io.BytesIO(bytes(data)))
            im.load()
            write_ref(os.path.join(out, "%s_%d.ref" % (name, page)), im)
            index.append("%s.%s %d %s_%d.ref" % (name, "cur" if cursor else "ico", page, name, page))
        icotool(os.path.join(out, "%s.%s" % (name, "cur" if cursor else "ico")), inputs, cursor)
    finish(out, index)


# ---------------------------------------------------------------------------

def element(kind, data):
    return kind + struct.pack(">I", len(data) + 8) + data


def family(elements):
    body = b"".join(elements)
    return b"icns" + struct.pack(">I", len(body) + 8) + body


def palette4():
    # The classic Macintosh 16-colour table.
    return [0xFFFFFF, 0xFCF305, 0xFF6402, 0xDD0806, 0xF20884, 0x4600A5, 0x0000D4, 0x02ABEA,
            0x1FB714, 0x006411, 0x562C05, 0x90713A, 0xC0C0C0, 0x808080, 0x404040, 0x000000]


def palette8():
    # The classic Macintosh 256-colour table: the 6x6x6 cube without its
    # last (black) entry, red slowest; then red, green, blue and grey ramps
    # without the levels of the cube; black last.
    cube = [0xFF, 0xCC, 0x99, 0x66, 0x33, 0x00]
    ramp = [0xEE, 0xDD, 0xBB, 0xAA, 0x88, 0x77, 0x55, 0x44, 0x22, 0x11]
    pal = [(r << 16) | (g << 8) | b for r in cube for g in cube for b in cube][:215]
    pal += [v << 16 for v in ramp] + [v << 8 for v in ramp] + ramp + [(v << 16) | (v << 8) | v for v in ramp]
    pal.append(0)
    assert len(pal) == 256
    return pal


def bits_image(rng, w, h, bits):
    """Packed indices, most significant bits first, and the index list."""
    n = w * h
    idx = [rng.randrange(1 << bits) for _ in range(n)]
    out = bytearray()
    acc = 0
    filled = 0
    for v in idx:
        acc = (acc << bits) | v
        filled += bits
        if filled == 8:
            out.append(acc)
            acc = filled = 0
    return bytes(out), idx


def bitmap_ref(path, w, h, idx, bits, alpha):
    if bits == 1:
        # A set bit is black, as on the Macintosh screen.
        colours = [0xFFFFFF if v == 0 else 0x000000 for v in idx]
    elif bits == 4:
        colours = [palette4()[v] for v in idx]
    else:
        colours = [palette8()[v] for v in idx]
    im = Image.new("RGBA", (w, h))
    im.putdata([((c >> 16) & 255, (c >> 8) & 255, c & 255, a) for c, a in zip(colours, alpha)])
    write_ref(path, im)


def make_icns(out):
    rng = random.Random(1108)
    tmp = tempfile.mkdtemp()
    index = []

    # png2icns: RLE-packed 24-bit elements with their masks, and JPEG 2000
    # for the 256 and 512 pixel ones.
    sizes = [16, 32, 48, 128, 256]
    pngs = []
    for s in sizes:
        path = os.path.join(tmp, "t%d.png" % s)
        picture(rng, s, s, None, alpha=True).save(path)
        pngs.append(path)
    name = "icns_tool"
    subprocess.run(["png2icns", os.path.join(out, name + ".icns")] + pngs, check=True, stdout=subprocess.DEVNULL)
    icns = IcnsImagePlugin.IcnsFile(open(os.path.join(out, name + ".icns"), "rb"))
    for page, s in enumerate(sizes):
        im = icns.getimage((s, s, 1))
        write_ref(os.path.join(out, "%s_%d.ref" % (name, page)), im)
        index.append("%s.icns %d %s_%d.ref" % (name, page, name, page))

    # PNG elements (ic07 and up) holding PNGs that Pillow writes.
    name = "icns_png"
    elements = []
    pngs = []
    for kind, s in ((b"icp4", 16), (b"ic11", 32), (b"ic07", 128), (b"icp5", 24)):
        buf = io.BytesIO()
        picture(rng, s, s, None, alpha=True).save(buf, "PNG")
        elements.append(element(kind, buf.getvalue()))
        pngs.append(buf.getvalue())
    with open(os.path.join(out, name + ".icns"), "wb") as f:
        f.write(family(elements))
    for page, data in enumerate(pngs):
        im = Image.open(io.BytesIO(data))
        im.load()
        write_ref(os.path.join(out, "%s_%d.ref" % (name, page)), im)
        index.append("%s.icns %d %s_%d.ref" % (name, page, name, page))

    # Classic bitmaps: ICN# (image + its own mask), ics4 + s8mk, icl8
    # without a mask, ich4 + ich#, ich8 + h8mk, ICON.
    name = "icns_classic"
    elements = []
    refs = []
    img, idx = bits_image(rng, 32, 32, 1)
    maskbytes, mask = bits_image(rng, 32, 32, 1)
    elements.append(element(b"ICN#", img + maskbytes))
    refs.append((32, 32, idx, 1, [255 if m else 0 for m in mask]))
    img, idx = bits_image(rng, 16, 16, 4)
    m8 = bytes(rng.randrange(256) for _ in range(256))
    elements += [element(b"ics4", img), element(b"s8mk", m8)]
    refs.append((16, 16, idx, 4, list(m8)))
    img, idx = bits_image(rng, 32, 32, 8)
    elements.append(element(b"icl8", img))
    refs.append((32, 32, idx, 8, [255] * 1024))
    img, idx = bits_image(rng, 48, 48, 4)
    hmask_img, _ = bits_image(rng, 48, 48, 1)
    hmask, hm = bits_image(rng, 48, 48, 1)
    elements += [element(b"ich4", img), element(b"ich#", hmask_img + hmask)]
    refs.append((48, 48, idx, 4, [255 if m else 0 for m in hm]))
    img, idx = bits_image(rng, 48, 48, 8)
    h8 = bytes(rng.randrange(256) for _ in range(2304))
    elements += [element(b"ich8", img), element(b"h8mk", h8)]
    refs.append((48, 48, idx, 8, list(h8)))
    img, idx = bits_image(rng, 32, 32, 1)
    elements.append(element(b"ICON", img))
    refs.append((32, 32, idx, 1, [255] * 1024))
    with open(os.path.join(out, name + ".icns"), "wb") as f:
        f.write(family(elements))
    for page, (w, h, idx, bits, alpha) in enumerate(refs):
        bitmap_ref(os.path.join(out, "%s_%d.ref" % (name, page)), w, h, idx, bits, alpha)
        index.append("%s.icns %d %s_%d.ref" % (name, page, name, page))
    finish(out, index)


def finish(out, index):
    with open(os.path.join(out, "index.txt"), "w") as f:
        f.write("\n".join(index) + "\n")


if __name__ == "__main__":
    kind, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    {"ico": make_ico, "icns": make_icns}[kind](out)
