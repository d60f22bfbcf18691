#!/usr/bin/python3
"""Writes the mixed corpus of the format factory: one small file of every
format the library reads, each made by an outside tool, and a picture for
the fitting test with ImageMagick's box-averaged reduction as reference.

    make_factory_images.py corpus OUTDIR
        OUTDIR/index.txt lists "FILE TYPE WIDTH HEIGHT" a line: TYPE the
        picture type id of the decoder that must take the file, WIDTH x
        HEIGHT what its probe reports.  Files of no format have TYPE 0.
    make_factory_images.py fit OUTDIR
        fit.png, fit.bmp and fit.tif (one picture of 400 x 300) and
        fit.ref: ImageMagick's `-scale 100x75` of it, as width and height
        (two little-endian u32) and the pixels from the top row down as
        16-bit R, G, B, A big-endian.
    make_factory_images.py claims OUTDIR
        one file of at most 512 bytes for every format the factory knows,
        each declaring a picture of 16384 x 16384 that its few bytes of data
        cannot fill; OUTDIR/index.txt lists "FILE TYPE" a line, TYPE the
        picture type id of the decoder the file is meant for.
"""
import hashlib
import io
import math
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

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
    im.save(os.path.join(out, "fit.bmp"))
    im.save(os.path.join(out, "fit.tif"), compression="tiff_adobe_deflate")
    scaled = os.path.join(out, "fit_ref.png")
    subprocess.run(["convert", path, "-scale", "100x75!", scaled], check=True)
    ref = Image.open(scaled).convert("RGBA")
    data = [v * 257 for v in ref.tobytes()]
    with open(os.path.join(out, "fit.ref"), "wb") as f:
        f.write(struct.pack("<II", *ref.size))
        f.write(struct.pack(">%dH" % len(data), *data))


# ---------------------------------------------------------------------------
# Builders of small files that declare more than their bytes hold: the
# claims below, and the hostile inputs (make_hostile_inputs.py).

def tiff_le(entries, tail):
    """A little-endian TIFF of one IFD at 8 of (tag, type, count, value)
    entries, `tail` after it; a StripOffsets (273) of one value points at
    the tail."""
    at = 8 + 2 + 12 * len(entries) + 4
    out = bytearray(b"II*\0" + struct.pack("<IH", 8, len(entries)))
    for tag, kind, count, value in entries:
        out += struct.pack("<HHII", tag, kind, count, at if tag == 273 and count == 1 else value)
    return bytes(out) + struct.pack("<I", 0) + tail


def j2k_blank(w, h, comps=1, levels=0):
    """A JPEG 2000 codestream of one tile whose packets are all empty (a byte
    each): 8-bit components, reversible, code-blocks of 64."""
    siz = struct.pack(">HIIIIIIIIH", 0, w, h, 0, 0, w, h, 0, 0, comps) + bytes([7, 1, 1]) * comps
    cod = struct.pack(">BBHBBBBBB", 0, 0, 1, 0, levels, 4, 4, 0, 1)
    qcd = bytes([0x40]) + bytes([8 << 3]) * (3 * levels + 1)
    packets = bytes(comps * (levels + 1))

    def marker(code, body):
        return struct.pack(">HH", code, len(body) + 2) + body
    return (b"\xff\x4f" + marker(0xFF51, siz) + marker(0xFF52, cod) + marker(0xFF5C, qcd) +
            marker(0xFF90, struct.pack(">HIBB", 0, 14 + len(packets), 0, 1)) + b"\xff\x93" + packets + b"\xff\xd9")


def box(kind, body):
    return struct.pack(">I", 8 + len(body)) + kind + body


def jp2_file(codestream, w, h, comps=1):
    """The codestream in a JP2 file: signature, file type, header, and the
    codestream box."""
    ihdr = box(b"ihdr", struct.pack(">IIHBBBB", h, w, comps, 7, 7, 0, 0))
    colr = box(b"colr", struct.pack(">BBBI", 1, 0, 0, 17 if comps < 3 else 16))
    return (struct.pack(">I", 12) + b"jP  \r\n\x87\n" + box(b"ftyp", b"jp2 " + struct.pack(">I", 0) + b"jp2 ") +
            box(b"jp2h", ihdr + colr) + box(b"jp2c", codestream))


def icns_element(kind, data):
    """An icon family of one element."""
    return b"icns" + struct.pack(">I", 16 + len(data)) + kind + struct.pack(">I", 8 + len(data)) + data


def dicom_file(syntax, w, h, pixels, preamble=True, rgb=False):
    """A data set of one 8-bit frame of w x h, grey (or RGB, interleaved),
    explicit VR little endian, with the pixel data element given whole."""
    def element(group, number, vr, value):
        if len(value) % 2:
            value += b"\0" if vr in (b"UI", b"OB") else b" "
        return struct.pack("<HH", group, number) + vr + struct.pack("<H", len(value)) + value

    def us(group, number, v):
        return element(group, number, b"US", struct.pack("<H", v))
    meta = element(2, 0x10, b"UI", syntax)
    meta = struct.pack("<HH", 2, 0) + b"UL" + struct.pack("<HI", 4, len(meta)) + meta
    if rgb:
        data = us(0x28, 2, 3) + element(0x28, 4, b"CS", b"RGB") + us(0x28, 6, 0)
    else:
        data = us(0x28, 2, 1) + element(0x28, 4, b"CS", b"MONOCHROME2")
    data += (us(0x28, 0x10, h) + us(0x28, 0x11, w) +
             us(0x28, 0x100, 8) + us(0x28, 0x101, 8) + us(0x28, 0x102, 7) + us(0x28, 0x103, 0))
    return (bytes(128) + b"DICM" if preamble else b"") + meta + data + pixels


def encapsulated(frame):
    """Pixel data of one fragment after an empty offset table."""
    frame += b"\0" if len(frame) % 2 else b""
    return (struct.pack("<HH", 0x7FE0, 0x10) + b"OB" + struct.pack("<HI", 0, 0xFFFFFFFF) +
            struct.pack("<HHI", 0xFFFE, 0xE000, 0) + struct.pack("<HHI", 0xFFFE, 0xE000, len(frame)) + frame +
            struct.pack("<HHI", 0xFFFE, 0xE0DD, 0))


JPEG_BASELINE = b"1.2.840.10008.1.2.4.50"


def jpeg_segment(code, body):
    return struct.pack(">BBH", 0xFF, code, len(body) + 2) + body


def jpeg_tables():
    """One quantisation table of ones, a DC table of one code (category 0)
    and an AC table of one code (end of block): a block is two bits."""
    dqt = jpeg_segment(0xDB, bytes([0]) + bytes([1]) * 64)
    one = bytes([1]) + bytes(15)
    return (dqt + jpeg_segment(0xC4, bytes([0x00]) + one + bytes([0])) +
            jpeg_segment(0xC4, bytes([0x10]) + one + bytes([0])))


def hdoc_drawing(picture):
    """A compiled document of language 0 drawing image 0 in a 64 x 64 box."""
    record = struct.pack("<BIBHHHHHH", 1, 0xFFFFFFFF, 0, 0, 0, 0, 0, 64, 64) + struct.pack("<H", 0)
    block = zlib.compress(record + b"\xff", 9)
    table = struct.pack("<I", len(picture)) + picture
    return (b"QORHDOCF" + struct.pack("<BI", 0, len(block)) + block + b"\xff" + bytes(8) +
            struct.pack("<I", len(table)) + table)


def payload_of(welcome):
    """A binary scenario whose only section is the welcome document."""
    body = b"\x09" + struct.pack("<I", len(welcome)) + welcome + b"\x00"
    packed = zlib.compress(body, 9)
    return (b"QORSOPKG" + struct.pack("<BII", 1, len(body), len(packed)) + hashlib.sha256(body).digest() +
            packed)


def kept_writer(top, seeds, prefix):
    """put(folder, name, data, seed, sub, seed_data): writes data into
    top/folder/sub/name and, when a seed entry is named and a seeds folder
    given, seed_data (or data) into seeds/seed/<prefix>name."""
    def put(folder, name, data, seed=None, sub="malformed", seed_data=None):
        d = os.path.join(top, folder, sub) if sub else os.path.join(top, folder)
        os.makedirs(d, exist_ok=True)
        with open(os.path.join(d, name), "wb") as f:
            f.write(data)
        print(folder, name, len(data))
        if seeds and seed:
            s = os.path.join(seeds, seed)
            os.makedirs(s, exist_ok=True)
            with open(os.path.join(s, prefix + name), "wb") as f:
                f.write(seed_data if seed_data is not None else data)
    return put


def make_claims(out):
    side = 16384
    index = []

    def add(name, type_id, data):
        assert len(data) <= 512, (name, len(data))
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
        index.append("%s %d" % (name, type_id))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    # JPEG: a small grey picture whose frame header is made to say 16384.
    buf = io.BytesIO()
    Image.new("L", (16, 16), 90).save(buf, "JPEG", quality=60, optimize=True)
    jpeg = bytearray(buf.getvalue())
    sof = jpeg.find(b"\xff\xc0")
    struct.pack_into(">HH", jpeg, sof + 5, side, side)
    add("claim.jpg", 1, bytes(jpeg))

    # PNG: grey, a few bytes of deflate data.
    idat = zlib.compress(bytes(64), 9)
    png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", side, side, 8, 0, 0, 0, 0)) +
           chunk(b"IDAT", idat) + chunk(b"IEND", b""))
    add("claim.png", 3, png)

    # GIF: screen and frame of 16384, LZW data of a clear code and the end.
    gif = (b"GIF89a" + struct.pack("<HHBBB", side, side, 0x80, 0, 0) + bytes([0, 0, 0, 255, 255, 255]) +
           b"," + struct.pack("<HHHHB", 0, 0, side, side, 0) + bytes([2, 1, 0x2C, 0]) + b";")
    add("claim.gif", 11, gif)

    # BMP and bare DIB: 24 bits uncompressed and 8 bits RLE ended at once.
    def info_header(bits, compression, data_len, colours):
        return struct.pack("<IiiHHIIiiII", 40, side, side, 1, bits, compression, data_len, 0, 0, colours, 0)
    rle = bytes([0, 1])
    palette = bytes([0, 0, 0, 0, 255, 255, 255, 0])
    dib = info_header(8, 1, len(rle), 2) + palette + rle
    add("claim.bmp", 6, b"BM" + struct.pack("<IHHI", 14 + len(dib), 0, 0, 14 + 40 + len(palette)) + dib)
    add("claim_rgb.bmp", 6, b"BM" + struct.pack("<IHHI", 14 + 40 + 64, 0, 0, 14 + 40) + info_header(24, 0, 0, 0) +
        bytes(64))
    add("claim.dib", 5, dib)

    # ICO: one entry holding the PNG above.
    add("claim.ico", 7, struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", 0, 0, 0, 0, 1, 32, len(png), 22) + png)

    # JPEG 2000: one tile of empty packets, bare and in a JP2 file, and in an
    # icon family.
    for levels in (0, 5):
        cs = j2k_blank(side, side, 1, levels)
        add("claim_%d.j2k" % levels, 9, cs)
        add("claim_%d.jp2" % levels, 8, jp2_file(cs, side, side))
        add("claim_%d.icns" % levels, 12, icns_element(b"ic10", cs))
    add("claim_png.icns", 12, icns_element(b"ic08", png))

    # TGA: run-length true colour, one run of 128 pixels.
    add("claim.tga", 29, struct.pack("<BBBHHBHHHHBB", 0, 0, 10, 0, 0, 0, 0, 0, side, side, 24, 0x20) +
        bytes([0xFF, 1, 2, 3]))

    # Camera raw: TIFF-based files with a 16384 x 16384 colour-filter-array
    # strip of 64 bytes under each maker's name, and the magic-byte formats
    # with their sizes where their headers have them.
    def raw_tiff(name, type_id, make, dng=False, head=b"II*\0"):
        entries = make_raw_images.dng_entries(side, side, 64, make=make)
        if not dng:
            entries = [e for e in entries if e[0] not in (50706, 50708, 50721, 50728, 50778)]
        path = os.path.join(out, name)
        make_raw_images.write_tiff(path, entries, bytes(64), head)
        with open(path, "rb") as f:
            data = f.read()
        os.remove(path)
        add(name, type_id, data)
    raw_tiff("claim.dng", 15, "Qortest", dng=True)
    raw_tiff("claim.nef", 4, "NIKON CORPORATION")
    raw_tiff("claim.pef", 24, "PENTAX Corporation")
    raw_tiff("claim.arw", 25, "SONY")
    raw_tiff("claim.srw", 23, "SAMSUNG")
    raw_tiff("claim.mos", 16, "Leaf")
    raw_tiff("claim.3fr", 18, "Hasselblad")
    raw_tiff("claim_ep.tif", 17, "Kodak")
    raw_tiff("claim.orf", 27, "OLYMPUS", head=b"IIRO")
    raw_tiff("claim.rw2", 21, "Panasonic", head=b"IIU\0")
    add("claim.mrw", 26, b"\0MRM" + struct.pack(">I", 28) + b"\0PRD" + struct.pack(">I", 20) + b"21810002" +
        struct.pack(">HHHHBBBBHH", side, side, side, side, 12, 12, 0x59, 0, 1, 0) + bytes(64))
    add("claim.x3f", 28, b"FOVb" + struct.pack("<I", 0x00020002) + bytes(16) + struct.pack("<III", 0, side, side) +
        bytes(64))
    add("claim.iiq", 22, b"IIII\0\0\0\0Raw " + struct.pack("<II", 16, 0) + bytes(64))
    add("claim.raf", 19, b"FUJIFILMCCD-RAW 0201FF383501" + bytes(64))
    add("claim.crw", 14, b"II\x1a\0\0\0HEAPCCDR" + bytes(64))
    add("claim.cr3", 40, b"\0\0\0\x18ftypcrx \0\0\0\x01crx isom" + bytes(64))
    # CR2: the TIFF from the raw writer behind Canon's marker.
    entries = make_raw_images.dng_entries(side, side, 64, make="Canon")
    entries = [e for e in entries if e[0] not in (50706, 50708, 50721, 50728, 50778)]
    path = os.path.join(out, "cr2.tmp")
    make_raw_images.write_tiff(path, entries, bytes(64))
    with open(path, "rb") as f:
        data = f.read()
    os.remove(path)
    add("claim.cr2", 10, make_raw_images.as_cr2(data))

    # TIFF: a Group 4 page whose 300 bytes of data cover 2400 rows, and grey
    # samples in one strip of 64 deflated bytes.
    g4 = bytes([0xFF]) * 300
    add("claim.tif", 2, tiff_le([(256, 4, 1, side), (257, 4, 1, side), (258, 3, 1, 1), (259, 3, 1, 4), (262, 3, 1, 0),
                                 (273, 4, 1, 0), (277, 3, 1, 1), (278, 4, 1, side), (279, 4, 1, len(g4))], g4))
    z = zlib.compress(bytes(4096), 9)
    add("claim_deflate.tif", 2, tiff_le([(256, 4, 1, side), (257, 4, 1, side), (258, 3, 1, 8), (259, 3, 1, 8),
                                         (262, 3, 1, 1), (273, 4, 1, 0), (277, 3, 1, 1), (278, 4, 1, side),
                                         (279, 4, 1, len(z))], z))

    add("claim.ppm", 30, b"P6\n%d %d\n255\n" % (side, side) + bytes(64))
    pcx = bytearray(128)
    struct.pack_into("<BBBBHHHHHH", pcx, 0, 10, 5, 1, 8, 0, 0, side - 1, side - 1, 72, 72)
    pcx[65] = 3
    struct.pack_into("<HH", pcx, 66, side, 1)
    add("claim.pcx", 31, bytes(pcx) + bytes([0xFF, 0]) * 8)

    # DICOM, with and without its preamble: one frame of JPEG 2000, and
    # native samples far fewer than the frame needs.
    frame = encapsulated(j2k_blank(side, side, 1, 5))
    add("claim_j2k.dcm", 32, dicom_file(b"1.2.840.10008.1.2.4.90", side, side, frame))
    add("claim_j2k.acr", 33, dicom_file(b"1.2.840.10008.1.2.4.90", side, side, frame, preamble=False))
    native = struct.pack("<HH", 0x7FE0, 0x10) + b"OB" + struct.pack("<HI", 0, 64) + bytes(64)
    add("claim.dcm", 32, dicom_file(b"1.2.840.10008.1.2.1", side, side, native))

    # JBIG2: a page and a generic region of 16384 x 16384 in a few bytes of
    # MMR data.
    def seg(number, kind, page, data):
        return struct.pack(">IBBBI", number, kind, 0, page, len(data)) + data
    jb2 = bytes([0x97, 0x4A, 0x42, 0x32, 0x0D, 0x0A, 0x1A, 0x0A, 0x01]) + struct.pack(">I", 1)
    jb2 += seg(0, 48, 1, struct.pack(">IIIIBH", side, side, 0, 0, 0, 0))
    jb2 += seg(1, 38, 1, struct.pack(">IIIIB", side, side, 0, 0, 0) + bytes([1]) + bytes([0xFF]) * 16)
    jb2 += seg(2, 49, 1, b"") + seg(3, 51, 0, b"")
    add("claim.jb2", 36, jb2)

    add("claim.xpm", 34, b'/* XPM */\nstatic char *claim[] = {\n"%d %d 1 1",\n"a c #000000",\n"aaaa"\n};\n' %
        (side, side))

    with open(os.path.join(out, "index.txt"), "w") as f:
        f.write("\n".join(index) + "\n")


if __name__ == "__main__":
    kind, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    {"corpus": make_corpus, "fit": make_fit, "claims": make_claims}[kind](out)
