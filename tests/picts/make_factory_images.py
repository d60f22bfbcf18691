#!/usr/bin/python3
"""Writes the mixed corpus of the format factory: one small file of every
format the library reads, each made by an outside tool, and a picture for
the fitting test with ImageMagick's box-averaged reduction as reference.

    make_factory_images.py corpus OUTDIR
        OUTDIR/index.txt lists "FILE TYPE WIDTH HEIGHT" a line: TYPE the
        picture type id of the decoder that must take the file, WIDTH x
        HEIGHT what its probe reports.  Files of no format have TYPE 0.
    make_factory_images.py fit OUTDIR
        fit.png (400 x 300) and fit.ref: ImageMagick's `-scale 100x75` of
        it, as width and height (two little-endian u32) and the pixels from
        the top row down as 16-bit R, G, B, A big-endian.
"""
import io
import math
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile

from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_raw_images  # noqa: E402


def picture(rng, w, h, mode="RGB"):
    im = Image.new("RGB", (w, h))
    im.putdata([((x * 255) // max(1, w - 1), (y * 255) // max(1, h - 1), rng.randrange(256))
                for y in range(h) for x in range(w)])
    return im.convert(mode)


def make_corpus(out):
    rng = random.Random(2103)
    tmp = tempfile.mkdtemp()
    index = []

    def add(name, type_id, w, h):
        index.append("%s %d %d %d" % (name, type_id, w, h))

    def pil(name, fmt, type_id, w, h, mode="RGB", **kw):
        picture(rng, w, h, mode).save(os.path.join(out, name), fmt, **kw)
        add(name, type_id, w, h)

    pil("a.jpg", "JPEG", 1, 23, 17)
    pil("a.png", "PNG", 3, 21, 13)
    pil("a.gif", "GIF", 11, 19, 11, "P")
    pil("a.bmp", "BMP", 6, 17, 9)
    pil("a.dib", "DIB", 5, 15, 7)
    pil("a.jp2", "JPEG2000", 8, 20, 12)
    pil("a.j2k", "JPEG2000", 9, 18, 10)
    pil("a.tga", "TGA", 29, 14, 9)
    pil("a.tif", "TIFF", 2, 22, 15)
    pil("a.ppm", "PPM", 30, 13, 8)
    pil("a.pcx", "PCX", 31, 12, 7)

    # An icon (largest entry 32 x 32) and an icon family (largest 48 x 48).
    pngs = []
    for s in (16, 32):
        p = os.path.join(tmp, "i%d.png" % s)
        picture(rng, s, s, "RGBA").save(p)
        pngs.append(p)
    subprocess.run(["icotool", "-c", "-o", os.path.join(out, "a.ico")] + pngs, check=True)
    add("a.ico", 7, 32, 32)
    p48 = os.path.join(tmp, "i48.png")
    picture(rng, 48, 48, "RGBA").save(p48)
    subprocess.run(["png2icns", os.path.join(out, "a.icns"), pngs[0], p48], check=True,
                   stdout=subprocess.DEVNULL)
    add("a.icns", 12, 48, 48)

    # XPM by ImageMagick.
    src = os.path.join(tmp, "x.png")
    picture(rng, 11, 6).quantize(8).convert("RGB").save(src)
    subprocess.run(["convert", src, os.path.join(out, "a.xpm")], check=True)
    add("a.xpm", 34, 11, 6)

    # A DNG: the raw writer of the raw tests.
    strip = make_raw_images.sensor(rng, 32, 24, 4095)
    make_raw_images.write_tiff(os.path.join(out, "a.dng"),
                               make_raw_images.dng_entries(32, 24, len(strip)), strip)
    add("a.dng", 15, 32, 24)

    # DICOM with and without its preamble, and JBIG2: the adapters'
    # generator writes them.
    adapters = os.path.join(tmp, "adapters")
    for kind in ("dicom", "jbig2"):
        subprocess.run([sys.executable, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                     "make_adapter_images.py"), kind, adapters],
                       check=True, stdout=subprocess.DEVNULL)
        with open(os.path.join(adapters, "index.txt")) as f:
            names = [line.split()[0] for line in f if line.strip()]
        for name in names:
            ref = os.path.join(adapters, name.rsplit(".", 1)[0] + ".ref")
            with open(ref, "rb") as f:
                w, h = struct.unpack("<II", f.read(8))
            if kind == "jbig2":
                type_id = 36
            else:
                with open(os.path.join(adapters, name), "rb") as f:
                    head = f.read(132)
                type_id = 32 if head[128:132] == b"DICM" else 33
            if type_id in [int(line.split()[1]) for line in index]:
                continue
            shutil.copy(os.path.join(adapters, name), os.path.join(out, name))
            add(name, type_id, w, h)

    # Streams of no format: text, zeros, noise, and the first bytes of
    # formats cut before their probes can decide.
    with open(os.path.join(out, "text.txt"), "w") as f:
        f.write("This is not a picture.\n" * 40)
    add("text.txt", 0, 0, 0)
    with open(os.path.join(out, "zeros.bin"), "wb") as f:
        f.write(bytes(4096))
    add("zeros.bin", 0, 0, 0)
    with open(os.path.join(out, "noise.bin"), "wb") as f:
        f.write(bytes(rng.randrange(256) for _ in range(4096)))
    add("noise.bin", 0, 0, 0)
    with open(os.path.join(out, "png_cut.bin"), "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n\0\0")
    add("png_cut.bin", 0, 0, 0)

    with open(os.path.join(out, "index.txt"), "w") as f:
        f.write("\n".join(index) + "\n")


def make_fit(out):
    rng = random.Random(2104)
    w, h = 400, 300
    im = Image.new("RGB", (w, h))
    # Smooth gradients and waves with some noise: the library's bins and
    # ImageMagick's boxes start half a bin apart, which only hard edges
    # would show.
    im.putdata([((x * 255) // w, (y * 255) // h,
                 (128 + int(100 * math.sin(x / 17.0) * math.cos(y / 23.0)) + rng.randrange(-8, 9)) & 255)
                for y in range(h) for x in range(w)])
    path = os.path.join(out, "fit.png")
    im.save(path)
    tga = os.path.join(out, "fit.bmp")
    im.save(tga)
    scaled = os.path.join(out, "fit_ref.png")
    subprocess.run(["convert", path, "-scale", "100x75!", scaled], check=True)
    ref = Image.open(scaled).convert("RGBA")
    data = [v * 257 for v in ref.tobytes()]
    with open(os.path.join(out, "fit.ref"), "wb") as f:
        f.write(struct.pack("<II", *ref.size))
        f.write(struct.pack(">%dH" % len(data), *data))


if __name__ == "__main__":
    kind, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    {"corpus": make_corpus, "fit": make_fit}[kind](out)
