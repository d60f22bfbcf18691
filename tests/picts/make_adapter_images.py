#!/usr/bin/python3
"""Writes the test inputs of the JPEG, JPEG 2000, TIFF, DICOM and JBIG2
decoders and their reference pixels, each made and decoded by a tool other
than the decoder under test.

    make_adapter_images.py jpeg OUTDIR   JPEG files written by Pillow
        (baseline at three subsamplings, progressive, optimised, grey, odd
        sizes); the reference is Pillow's own decode of the same file.  One
        Adobe CMYK file, whose reference comes from ImageMagick (Pillow's
        CMYK to RGB conversion is not the multiplicative one).
    make_adapter_images.py pillow-refs OUTDIR NAME.jpg...   NAME.ref for
        files a test wrote itself (forms Pillow cannot write, such as
        restart markers): Pillow's decode of each.
    make_adapter_images.py jp2 OUTDIR    JP2 and J2K files written losslessly
        by opj_compress (several resolutions, tiles, progression orders,
        grey, RGBA, 12- and 16-bit grey); the reference is the source picture.
    make_adapter_images.py tiff OUTDIR   TIFF files written by Pillow and
        re-packed by tiffcp (strips and tiles, none/LZW/deflate/PackBits,
        predictors, BigTIFF, grey, RGB, RGBA, palette, bilevel G3/G4,
        16-bit); the reference is the source picture, but for one
        JPEG-compressed file whose reference is Pillow's decode.  Old-style
        JPEG (compression 6), which no tool writes: Pillow's JPEG wrapped by
        hand, its header at JPEGInterchangeFormat; the reference is Pillow's
        decode of that JPEG (grey), or tiff2rgba's decode of the TIFF
        (YCbCr, which libtiff turns into RGB its own way).
    make_adapter_images.py dicom OUTDIR  DICOM files written by gdcmimg and
        gdcmconv (8-, 12- and 16-bit grey, RGB, implicit VR, files without
        the preamble, lossless JPEG 2000 by gdcmconv -K); the reference is
        the source picture.  Baseline JPEG
        ones (gdcmconv -J -Y), whose reference is Pillow's decode of the JPEG
        data in them; lossless JPEG ones (dicom_refused_*.dcm, not in the
        index), which the decoder refuses.
    make_adapter_images.py jbig2 OUTDIR  JBIG2 files holding one generic
        region, its MMR data taken from a Group 4 TIFF strip written by
        Pillow; the reference is the jbig2dec command's decode.

Each NAME.EXT gets NAME.ref: width and height as two little-endian u32, then
the pixels from the top row down as 16-bit R, G, B, A big-endian (8-bit
sources give v * 257).  OUTDIR/index.txt lists "NAME.EXT BITS" a line, BITS
the decoder's expected output depth (8 or 16).
"""
import io
import os
import random
import struct
import subprocess
import sys
import tempfile

from PIL import Image, ImageDraw

from make_formats import finish, write_ref  # the .ref layout and index.txt of every suite
import make_factory_images  # noqa: E402  the TIFF writer of the files that claim more than they hold


def ref_from_image(im, ref):
    """An 8-bit Pillow image (any mode Pillow converts to RGBA)."""
    rgba = im.convert("RGBA")
    w, h = rgba.size
    write_ref(ref, w, h, [v * 257 for v in rgba.tobytes()])


def ref_from_grey16(values, w, h, bits, ref):
    """Grey samples of `bits` bits widened to 16 bits by v * 65535 / max,
    rounded: the decoders' rule for samples of fewer than 16 bits."""
    top = (1 << bits) - 1
    out = []
    for v in values:
        g = (v * 65535 + top // 2) // top
        out += [g, g, g, 65535]
    write_ref(ref, w, h, out)


def text_page(rng, w, h, lines):
    """A white bilevel page with `lines` lines of black words (bars of 40 to
    300 pixels) inside margins of a tenth of each side."""
    page = Image.new("1", (w, h), 1)
    draw = ImageDraw.Draw(page)
    left, right, pitch = w // 10, w - w // 10, (h - 2 * (h // 10)) // lines
    for line in range(lines):
        y, x = h // 10 + line * pitch, left
        while x < right:
            width = rng.randrange(40, 300)
            draw.rectangle([x, y, min(x + width, right), y + pitch // 2], fill=0)
            x += width + rng.randrange(20, 45)
    return page


def picture(rng, mode, w, h):
    """A picture with smooth gradients and some noise, so that every codec
    has both flat areas and detail to work on."""
    bands = {"L": 1, "RGB": 3, "RGBA": 4, "LA": 2}[mode]
    data = bytearray()
    for y in range(h):
        for x in range(w):
            for c in range(bands):
                v = (x * 255 // max(1, w - 1) * (c + 1) + y * 255 // max(1, h - 1) * (bands - c)) // (bands + 1)
                if rng.random() < 0.15:
                    v = rng.randrange(256)
                data.append(v & 255)
    return Image.frombytes(mode, (w, h), bytes(data))


# ---------------------------------------------------------------------------

def make_jpeg(out):
    rng = random.Random(801)
    index = []
    forms = [
        ("base444", "RGB", (48, 32), dict(quality=90, subsampling=0)),
        ("base422", "RGB", (37, 23), dict(quality=85, subsampling=1)),
        ("base420", "RGB", (61, 45), dict(quality=75, subsampling=2)),
        ("optimised", "RGB", (40, 40), dict(quality=80, optimize=True)),
        ("progressive", "RGB", (53, 29), dict(quality=88, progressive=True)),
        ("progressive420", "RGB", (128, 96), dict(quality=60, progressive=True, subsampling=2)),
        ("grey", "L", (33, 17), dict(quality=92)),
        ("greyprog", "L", (19, 31), dict(quality=70, progressive=True)),
        ("tiny", "RGB", (1, 1), dict(quality=95)),
        ("tall", "RGB", (3, 70), dict(quality=90)),
    ]
    for name, mode, (w, h), kw in forms:
        path = os.path.join(out, "jpeg_%s.jpg" % name)
        picture(rng, mode, w, h).save(path, "JPEG", **kw)
        im = Image.open(path)
        im.load()
        ref_from_image(im, os.path.join(out, "jpeg_%s.ref" % name))
        index.append("jpeg_%s.jpg 8" % name)
    make_jpeg_exif(rng, out)
    path = os.path.join(out, "jpeg_cmyk.jpg")
    picture(rng, "RGB", 30, 20).convert("CMYK").save(path, "JPEG", quality=95)
    px = subprocess.check_output(["convert", path, "-depth", "8", "rgba:-"])
    write_ref(os.path.join(out, "jpeg_cmyk.ref"), 30, 20, [v * 257 for v in px])
    index.append("jpeg_cmyk.jpg 8")
    finish(out, index)


def exif_block(thumb):
    """A big-endian EXIF TIFF structure: IFD0 (camera, resolution,
    orientation, time), the Exif IFD, the GPS IFD and IFD1 with a JPEG
    thumbnail, laid out by hand."""
    def ifd(entries, start, next_offset):
        # entries: (tag, type, count, payload bytes); payloads over 4 bytes
        # go after the directory.
        body = struct.pack(">H", len(entries))
        extra = b""
        data_at = start + 2 + 12 * len(entries) + 4
        for tag, typ, count, payload in entries:
            if len(payload) <= 4:
                body += struct.pack(">HHI", tag, typ, count) + payload.ljust(4, b"\0")
            else:
                body += struct.pack(">HHII", tag, typ, count, data_at + len(extra))
                extra += payload + (b"\0" if len(payload) % 2 else b"")
        return body + struct.pack(">I", next_offset) + extra

    def ascii(t):
        b = t.encode() + b"\0"
        return (2, len(b), b)

    def rational(*pairs):
        return (5, len(pairs), b"".join(struct.pack(">II", n, d) for n, d in pairs))

    def short(v):
        return (3, 1, struct.pack(">H", v))

    def long_(v):
        return (4, 1, struct.pack(">I", v))

    def entries(items):
        return [(tag,) + value for tag, value in items]

    # Sizes are fixed by the entry counts, so offsets are worked out in two
    # passes: first with zero offsets to learn the lengths.
    def build(exif_at, gps_at, ifd1_at, thumb_at):
        ifd0 = ifd(entries([(0x010F, ascii("Qor Camera Works")), (0x0110, ascii("Model 7")),
                            (0x0112, short(6)), (0x011A, rational((300, 1))), (0x011B, rational((144, 2))),
                            (0x0128, short(2)), (0x0132, ascii("2024:02:29 13:45:59")),
                            (0x8769, long_(exif_at)), (0x8825, long_(gps_at))]), 8, ifd1_at)
        exif = ifd(entries([(0x829A, rational((1, 250))), (0x829D, rational((28, 10))), (0x8827, short(400)),
                            (0x9003, ascii("2023:12:31 23:59:58")), (0xA002, long_(4000)),
                            (0xA003, long_(3000))]), exif_at, 0)
        gps = ifd(entries([(1, ascii("S")), (2, rational((33, 1), (51, 1), (2160, 100))), (3, ascii("W")),
                           (4, rational((151, 1), (12, 1), (3000, 100))), (5, (1, 1, b"\1")),
                           (6, rational((125, 10)))]), gps_at, 0)
        ifd1 = ifd(entries([(0x0103, short(6)), (0x0201, long_(thumb_at)), (0x0202, long_(len(thumb)))]),
                   ifd1_at, 0)
        return ifd0, exif, gps, ifd1

    a, b, c, d = build(0, 0, 0, 0)
    exif_at = 8 + len(a)
    gps_at = exif_at + len(b)
    ifd1_at = gps_at + len(c)
    thumb_at = ifd1_at + len(d)
    a, b, c, d = build(exif_at, gps_at, ifd1_at, thumb_at)
    return b"MM\0\x2a" + struct.pack(">I", 8) + a + b + c + d + thumb


def make_jpeg_exif(rng, out):
    """jpeg_exif.jpg with its EXIF values as Pillow reads them back in
    jpeg_exif.props ("id value" lines, the decoder's property ids) and its
    thumbnail's pixels, as Pillow decodes them, in jpeg_exif_thumb.ref."""
    buf = io.BytesIO()
    picture(rng, "RGB", 16, 12).save(buf, "JPEG", quality=80)
    thumb = buf.getvalue()
    path = os.path.join(out, "jpeg_exif.jpg")
    picture(rng, "RGB", 40, 30).save(path, "JPEG", quality=90, exif=b"Exif\0\0" + exif_block(thumb))
    im = Image.open(path)
    im.load()
    ref_from_image(im, os.path.join(out, "jpeg_exif.ref"))
    ex = im.getexif()
    sub = ex.get_ifd(0x8769)
    gps = ex.get_ifd(0x8825)

    def deg(v):
        return float(v[0]) + float(v[1]) / 60 + float(v[2]) / 3600

    props = [
        (3, ex[0x010F]), (4, ex[0x0110]), (8, float(ex[0x011A])), (9, float(ex[0x011B])), (10, ex[0x0128]),
        (2, ex[0x0132]), (5, float(sub[0x829A])), (6, float(sub[0x829D])), (7, sub[0x8827]), (1, sub[0x9003]),
        (18, sub[0xA002]), (19, sub[0xA003]),
        (15, deg(gps[2]) * (-1 if gps[1] == "S" else 1)), (16, deg(gps[4]) * (-1 if gps[3] == "W" else 1)),
        (17, float(gps[6]) * (-1 if gps[5] in (1, b"\1") else 1)),
    ]
    with open(os.path.join(out, "jpeg_exif.props"), "w") as f:
        for key, value in props:
            f.write("%d %s\n" % (key, value))
        f.write("orientation %d\n" % ex[0x0112])
    th = Image.open(io.BytesIO(thumb))
    th.load()
    ref_from_image(th, os.path.join(out, "jpeg_exif_thumb.ref"))


# ---------------------------------------------------------------------------

def old_jpeg_tiff(jpeg, w, h, strip_from_scan, subsampling=None, tagged=True):
    """An old-style JPEG TIFF (compression 6) of one strip around a JPEG
    file: grey for one component, YCbCr for three (with YCbCrSubsampling
    when given, unless not tagged: libtiff then assumes 2 x 2 until the
    data says otherwise).  JPEGInterchangeFormat points at the JPEG.  Both forms
    writers used: the strip is the whole JPEG and so is the interchange
    format's length, or the strip is the data after the scan header and
    the interchange format's length ends before it."""
    spp = 3 if subsampling else 1
    tagged = bool(subsampling) and tagged
    entries = 12 if tagged else 11
    at = 8 + 2 + 12 * entries + 4
    bits = struct.pack("<3H", 8, 8, 8) if subsampling else b""
    jpeg_at = at + len(bits)
    sos = jpeg.index(b"\xff\xda")
    scan = sos + 2 + struct.unpack(">H", jpeg[sos + 2:sos + 4])[0]
    strip_at = jpeg_at + (scan if strip_from_scan else 0)
    tags = [(256, 4, 1, w), (257, 4, 1, h), (258, 3, spp, at if subsampling else 8), (259, 3, 1, 6),
            (262, 3, 1, 6 if subsampling else 1), (273, 4, 1, strip_at), (277, 3, 1, spp), (278, 4, 1, h),
            (279, 4, 1, len(jpeg) + jpeg_at - strip_at), (513, 4, 1, jpeg_at),
            (514, 4, 1, scan if strip_from_scan else len(jpeg))]
    if tagged:
        tags.append((530, 3, 2, subsampling[0] | subsampling[1] << 16))
    out = bytearray(b"II*\0" + struct.pack("<IH", 8, len(tags)))
    for tag, kind, count, value in tags:
        out += struct.pack("<HHII", tag, kind, count, value)
    return bytes(out) + struct.pack("<I", 0) + bits + jpeg


def write_pnm(path, w, h, bands, maxval, samples):
    magic = b"P5" if bands == 1 else b"P6"
    with open(path, "wb") as f:
        f.write(b"%s\n%d %d\n%d\n" % (magic, w, h, maxval))
        if maxval > 255:
            f.write(struct.pack(">%dH" % len(samples), *samples))
        else:
            f.write(bytes(samples))


def make_jp2(out):
    rng = random.Random(802)
    index = []
    tmp = tempfile.mkdtemp()
    forms = [
        ("rgb", "RGB", (40, 30), [], 8),
        ("rgb_res1", "RGB", (17, 9), ["-n", "1"], 8),
        ("rgb_tiles", "RGB", (70, 50), ["-t", "32,32", "-n", "3"], 8),
        ("rgb_rpcl", "RGB", (33, 44), ["-p", "RPCL", "-SOP", "-EPH"], 8),
        ("rgb_nomct", "RGB", (24, 24), ["-mct", "0"], 8),
        ("grey", "L", (31, 19), [], 8),
        ("rgba", "RGBA", (20, 14), [], 8),
        ("grey12", "L", (21, 13), [], 12),
        ("grey16", "L", (16, 11), [], 16),
        # Fitted into 24 x 16, this one is decoded at a reduced resolution:
        # its reference for that is ImageMagick's box average of the source.
        ("fit", "RGB", (640, 480), ["-n", "6"], 8),
    ]
    for name, mode, (w, h), args, bits in forms:
        if mode == "RGBA":
            src = os.path.join(tmp, name + ".png")
            im = picture(rng, mode, w, h)
            im.save(src)
        elif bits == 8:
            im = picture(rng, mode, w, h)
            src = os.path.join(tmp, name + (".pgm" if mode == "L" else ".ppm"))
            write_pnm(src, w, h, len(mode), 255, list(im.tobytes()))
        else:
            top = (1 << bits) - 1
            values = [(x * top // max(1, w - 1) + y * 37) % (top + 1) if rng.random() > 0.2 else rng.randrange(top + 1)
                      for y in range(h) for x in range(w)]
            src = os.path.join(tmp, name + ".pgm")
            write_pnm(src, w, h, 1, top, values)
        for ext in ("jp2", "j2k"):
            path = os.path.join(out, "%s_%s.%s" % (ext, name, ext))
            if "-n" not in args:
                # Each resolution level halves the picture; keep the smallest
                # one at least a pixel wide.
                args = args + ["-n", str(min(6, min(w, h).bit_length()))]
            subprocess.run(["opj_compress", "-i", src, "-o", path] + args, check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            ref = os.path.join(out, "%s_%s.ref" % (ext, name))
            if name == "fit":
                scaled = os.path.join(tmp, "fit_scaled.png")
                subprocess.run(["convert", src, "-scale", "21x16!", scaled], check=True)
                ref_from_image(Image.open(scaled), os.path.join(out, "%s_%s.scaled.ref" % (ext, name)))
            if bits == 8:
                ref_from_image(im, ref)
                index.append("%s_%s.%s 8" % (ext, name, ext))
            else:
                ref_from_grey16(values, w, h, bits, ref)
                index.append("%s_%s.%s 16" % (ext, name, ext))
    finish(out, index)


# ---------------------------------------------------------------------------

def make_tiff(out):
    rng = random.Random(803)
    index = []
    tmp = tempfile.mkdtemp()
    sources = {}
    for mode, size in (("RGB", (45, 33)), ("RGBA", (30, 21)), ("L", (41, 27))):
        sources[mode] = picture(rng, mode, *size)
    pal = picture(rng, "RGB", 35, 20).quantize(colors=16)
    sources["P"] = pal
    bw = picture(rng, "L", 70, 33).point(lambda v: 255 if v > 127 else 0).convert("1")
    sources["1"] = bw
    w16, h16 = 23, 17
    grey16 = [rng.randrange(65536) for _ in range(w16 * h16)]

    def pillow_tiff(mode, compression):
        path = os.path.join(tmp, "%s_%s.tif" % (mode, compression))
        sources[mode].save(path, "TIFF", compression=compression)
        return path

    def add(name, path, mode, tiffcp_args=None, bits=8):
        final = os.path.join(out, "tiff_%s.tif" % name)
        if tiffcp_args is None:
            with open(path, "rb") as s, open(final, "wb") as d:
                d.write(s.read())
        else:
            subprocess.run(["tiffcp"] + tiffcp_args + [path, final], check=True)
        ref = os.path.join(out, "tiff_%s.ref" % name)
        if mode == "grey16":
            write_ref(ref, w16, h16, [c for v in grey16 for c in (v, v, v, 65535)])
        else:
            ref_from_image(sources[mode], ref)
        index.append("tiff_%s.tif %d" % (name, bits))

    for mode in ("RGB", "RGBA", "L", "P"):
        raw = pillow_tiff(mode, "raw")
        add("%s_raw" % mode, raw, mode)
        add("%s_lzw" % mode, pillow_tiff(mode, "tiff_lzw"), mode)
        add("%s_deflate" % mode, pillow_tiff(mode, "tiff_adobe_deflate"), mode)
        add("%s_packbits" % mode, pillow_tiff(mode, "packbits"), mode)
        add("%s_strips3" % mode, raw, mode, ["-c", "lzw:2", "-r", "3"])
        add("%s_tiles" % mode, raw, mode, ["-c", "zip", "-t", "-w", "16", "-l", "16"])
        add("%s_bigtiff" % mode, raw, mode, ["-8", "-c", "lzw", "-t", "-w", "32", "-l", "16"])
    add("RGB_separate", pillow_tiff("RGB", "raw"), "RGB", ["-p", "separate", "-c", "zip"])
    # Lossy JPEG-in-TIFF (YCbCr): the reference is Pillow's decode of it.
    jpeg_tiff = pillow_tiff("RGB", "jpeg")
    final = os.path.join(out, "tiff_RGB_jpeg.tif")
    with open(jpeg_tiff, "rb") as src_file, open(final, "wb") as d:
        d.write(src_file.read())
    decoded = Image.open(final)
    decoded.load()
    ref_from_image(decoded, os.path.join(out, "tiff_RGB_jpeg.ref"))
    index.append("tiff_RGB_jpeg.tif 8")
    add("bw_g4", pillow_tiff("1", "group4"), "1")
    add("bw_g3", pillow_tiff("1", "group3"), "1")
    add("bw_packbits_tiles", pillow_tiff("1", "raw"), "1", ["-c", "packbits", "-t", "-w", "32", "-l", "16"])
    # Orientations 2 to 8, the samples stored as they are: the reference is
    # the source turned as the tag says, by Pillow's exif_transpose (its
    # TIFF reader turns some orientations itself, so the file is not read
    # back).
    from PIL import ImageOps
    for orientation in range(2, 9):
        for mode in ("RGB", "P"):
            name = "%s_orient%d" % (mode, orientation)
            final = os.path.join(out, "tiff_%s.tif" % name)
            sources[mode].save(final, "TIFF", compression="tiff_lzw", tiffinfo={274: orientation})
            tagged = sources[mode].convert("RGB")
            exif = Image.Exif()
            exif[274] = orientation
            tagged.info["exif"] = exif.tobytes()
            seen = ImageOps.exif_transpose(tagged)
            ref_from_image(seen, os.path.join(out, "tiff_%s.ref" % name))
            index.append("tiff_%s.tif 8" % name)
    src16 = os.path.join(tmp, "grey16.tif")
    Image.frombytes("I;16", (w16, h16), struct.pack("<%dH" % len(grey16), *grey16)).save(src16, "TIFF")
    add("grey16_raw", src16, "grey16", None, 16)
    add("grey16_tiles", src16, "grey16", ["-c", "zip:2", "-t", "-w", "16", "-l", "16"], 16)
    add("grey16_bigtiff", src16, "grey16", ["-8", "-c", "lzw"], 16)

    # JPEG strips of 16 rows over 20: the last strip coded at the full strip
    # height, as some writers make it; the reference is Pillow's decode of
    # each strip's JPEG, the rows past the picture dropped.
    jim = picture(rng, "L", 16, 20)
    strips = []
    for top in (0, 16):
        part = Image.new("L", (16, 16), 0)
        part.paste(jim.crop((0, top, 16, min(top + 16, 20))), (0, 0))
        buf = io.BytesIO()
        part.save(buf, "JPEG", quality=90)
        strips.append(buf.getvalue())
    rows = Image.new("L", (16, 20))
    rows.paste(Image.open(io.BytesIO(strips[0])).convert("L"), (0, 0))
    rows.paste(Image.open(io.BytesIO(strips[1])).convert("L").crop((0, 0, 16, 4)), (0, 16))
    arrays = 8 + 2 + 12 * 9 + 4
    data = arrays + 16
    with open(os.path.join(out, "tiff_L_jpeg_full_last_strip.tif"), "wb") as f:
        f.write(make_factory_images.tiff_le(
            [(256, 4, 1, 16), (257, 4, 1, 20), (258, 3, 1, 8), (259, 3, 1, 7), (262, 3, 1, 1),
             (273, 4, 2, arrays), (277, 3, 1, 1), (278, 4, 1, 16), (279, 4, 2, arrays + 8)],
            struct.pack("<IIII", data, data + len(strips[0]), len(strips[0]), len(strips[1])) + strips[0] + strips[1]))
    ref_from_image(rows, os.path.join(out, "tiff_L_jpeg_full_last_strip.ref"))
    index.append("tiff_L_jpeg_full_last_strip.tif 8")

    # Old-style JPEG: grey, whose samples are libjpeg's own (Pillow's decode
    # of the JPEG), and YCbCr 4:4:4 and 4:2:0, which libtiff upsamples and
    # turns into RGB its own way (tiff2rgba's decode of the TIFF).
    # The last one's data is 4:4:4 without the tag saying so, which
    # libtiff notes in a warning and follows.
    for name, mode, w, h, sub, from_scan, tagged in (
            ("L", "L", 64, 64, None, True, True), ("YCbCr444", "RGB", 64, 48, (1, 1), False, True),
            ("YCbCr420", "RGB", 48, 64, (2, 2), True, True), ("YCbCr444_untagged", "RGB", 40, 24, (1, 1), True, False)):
        buf = io.BytesIO()
        picture(rng, mode, w, h).save(buf, "JPEG", quality=90, subsampling=2 if sub == (2, 2) else 0)
        final = os.path.join(out, "tiff_ojpeg_%s.tif" % name)
        with open(final, "wb") as f:
            f.write(old_jpeg_tiff(buf.getvalue(), w, h, from_scan, sub, tagged))
        ref = os.path.join(out, "tiff_ojpeg_%s.ref" % name)
        if sub:
            rgba = os.path.join(tmp, "ojpeg_rgba.tif")
            subprocess.run(["tiff2rgba", final, rgba], check=True, capture_output=True)
            ref_from_image(Image.open(rgba), ref)
        else:
            ref_from_image(Image.open(buf), ref)
        index.append("tiff_ojpeg_%s.tif 8" % name)
    # ... and one of 256 x 256 grey cut halfway through its scan, beside the
    # same whole (not in the index: the first must fail, the second decode).
    buf = io.BytesIO()
    picture(rng, "L", 256, 256).save(buf, "JPEG", quality=90)
    whole = buf.getvalue()
    for name, jpeg in (("tiff_ojpeg_cut_in_its_scan.tif", whole[:(len(whole) + whole.find(b"\xff\xda")) // 2]),
                       ("tiff_ojpeg_whole_scan.tif", whole)):
        with open(os.path.join(out, name), "wb") as f:
            f.write(old_jpeg_tiff(jpeg, 256, 256, True))

    # A JPEG strip of 256 x 256 grey cut halfway through its scan (not in
    # the index: libjpeg fills in the rest behind a warning, the decode must
    # fail).
    buf = io.BytesIO()
    picture(rng, "L", 256, 256).save(buf, "JPEG", quality=90)
    whole = buf.getvalue()
    sos = whole.find(b"\xff\xda")
    for name, strip in (("tiff_jpeg_cut_in_its_scan.tif", whole[:sos + (len(whole) - sos) // 2]),
                        ("tiff_jpeg_whole_scan.tif", whole)):
        with open(os.path.join(out, name), "wb") as f:
            f.write(make_factory_images.tiff_le(
                [(256, 4, 1, 256), (257, 4, 1, 256), (258, 3, 1, 8), (259, 3, 1, 7), (262, 3, 1, 1), (273, 4, 1, 0),
                 (277, 3, 1, 1), (278, 4, 1, 256), (279, 4, 1, len(strip))], strip))

    # Fax pages of 4000 x 5000 (not in the index: the tests compare them with
    # the picture drawn here, a P4 bitmap): lines of words, and blank.
    page = text_page(rng, 4000, 5000, 60)
    from PIL import TiffImagePlugin
    TiffImagePlugin.STRIP_SIZE = max(TiffImagePlugin.STRIP_SIZE, 500 * 5000)
    page.save(os.path.join(out, "tiff_fax_page.tif"), "TIFF", compression="group4")
    with open(os.path.join(out, "tiff_fax_page.pbm"), "wb") as f:
        # Pillow's bilevel bytes hold 1 for white, P4 for black.
        f.write(b"P4\n4000 5000\n" + bytes(v ^ 0xFF for v in page.tobytes()))
    Image.new("1", (4000, 5000), 1).save(os.path.join(out, "tiff_fax_blank.tif"), "TIFF", compression="group4")
    finish(out, index)


# ---------------------------------------------------------------------------

def make_dicom(out):
    rng = random.Random(804)
    index = []
    tmp = tempfile.mkdtemp()

    def gdcm(args):
        subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def add(name, path, ref_writer, bits, legacy=False):
        final = os.path.join(out, "dicom_%s.%s" % (name, "dcm" if not legacy else "acr"))
        with open(path, "rb") as s:
            data = s.read()
        if legacy:
            # The same data set without the 128-byte preamble and "DICM".
            assert data[128:132] == b"DICM"
            data = data[132:]
        with open(final, "wb") as d:
            d.write(data)
        ref_writer(os.path.join(out, "dicom_%s.ref" % name))
        index.append("%s %d" % (os.path.basename(final), bits))

    def embedded_jpeg(path):
        """Pillow's decode of the JPEG data in a file of one fragment."""
        with open(path, "rb") as f:
            data = f.read()
        start = data.index(b"\xff\xd8\xff")
        end = data.rindex(b"\xff\xd9") + 2
        im = Image.open(io.BytesIO(data[start:end]))
        im.load()
        return im

    grey = picture(rng, "L", 37, 23)
    src = os.path.join(tmp, "grey.pgm")
    write_pnm(src, 37, 23, 1, 255, list(grey.tobytes()))
    dcm = os.path.join(tmp, "grey.dcm")
    gdcm(["gdcmimg", "-i", src, "-o", dcm])
    add("grey8", dcm, lambda r: ref_from_image(grey, r), 8)
    add("grey8", dcm, lambda r: ref_from_image(grey, r), 8, legacy=True)
    conv = os.path.join(tmp, "grey8_implicit.dcm")
    gdcm(["gdcmconv", "--implicit", dcm, conv])
    add("grey8_implicit", conv, lambda r: ref_from_image(grey, r), 8)

    rgb = picture(rng, "RGB", 29, 18)
    src = os.path.join(tmp, "rgb.ppm")
    write_pnm(src, 29, 18, 3, 255, list(rgb.tobytes()))
    rgbdcm = os.path.join(tmp, "rgb.dcm")
    gdcm(["gdcmimg", "-i", src, "-o", rgbdcm])
    add("rgb8", rgbdcm, lambda r: ref_from_image(rgb, r), 8)

    for name, source in (("grey8_jpeg", dcm), ("rgb8_jpeg", rgbdcm)):
        conv = os.path.join(tmp, name + ".dcm")
        gdcm(["gdcmconv", "-J", "-Y", source, conv])
        add(name, conv, lambda r, c=conv: ref_from_image(embedded_jpeg(c), r), 8)
        add(name, conv, lambda r, c=conv: ref_from_image(embedded_jpeg(c), r), 8, legacy=True)

    for name, source, image in (("grey8_j2k", dcm, grey), ("rgb8_j2k", rgbdcm, rgb)):
        conv = os.path.join(tmp, name + ".dcm")
        gdcm(["gdcmconv", "-K", source, conv])
        add(name, conv, lambda r, i=image: ref_from_image(i, r), 8)

    for bits, (w, h) in ((16, (19, 14)), (12, (25, 11))):
        top = (1 << bits) - 1
        values = [rng.randrange(top + 1) for _ in range(w * h)]
        src = os.path.join(tmp, "grey%d.pgm" % bits)
        write_pnm(src, w, h, 1, 65535, values)
        dcm16 = os.path.join(tmp, "grey%d.dcm" % bits)
        gdcm(["gdcmimg", "-i", src, "-o", dcm16] + ([] if bits == 16 else ["--pf", "16,12,11"]))
        name = "grey%d" % bits
        add(name, dcm16, lambda r, v=values, w=w, h=h, b=bits: ref_from_grey16(v, w, h, b, r), 16)
        conv = os.path.join(tmp, name + "_j2k.dcm")
        gdcm(["gdcmconv", "-K", dcm16, conv])
        add(name + "_j2k", conv, lambda r, v=values, w=w, h=h, b=bits: ref_from_grey16(v, w, h, b, r), 16)
        gdcm(["gdcmconv", "--jpeg", dcm16, os.path.join(out, "dicom_refused_%s_jpegll.dcm" % name)])
    gdcm(["gdcmconv", "--jpeg", dcm, os.path.join(out, "dicom_refused_grey8_jpegll.dcm")])
    finish(out, index)


# ---------------------------------------------------------------------------

def g4_strip(im):
    """The Group 4 (T.6) data of a bilevel picture: Pillow writes it through
    libtiff as one strip, read back from the TIFF's StripOffsets."""
    buf = io.BytesIO()
    # One strip, however tall the picture.
    from PIL import TiffImagePlugin
    TiffImagePlugin.STRIP_SIZE = max(TiffImagePlugin.STRIP_SIZE, (im.size[0] + 7) // 8 * im.size[1])
    im.save(buf, "TIFF", compression="group4")
    t = Image.open(io.BytesIO(buf.getvalue()))
    offsets = t.tag_v2[273]
    counts = t.tag_v2[279]
    assert len(offsets) == 1
    return buf.getvalue()[offsets[0]:offsets[0] + counts[0]]


def jbig2_segment(number, kind, page, data):
    # Segment header: number, flags (type; one-byte page association),
    # referred-to segments (none), page association, data length.
    return struct.pack(">IBBBI", number, kind, 0, page, len(data)) + data


def jbig2_file(w, h, mmr_data):
    out = b"\x97JB2\r\n\x1a\n" + bytes([0x01]) + struct.pack(">I", 1)
    page_info = struct.pack(">IIIIBH", w, h, 0, 0, 0, 0)
    out += jbig2_segment(0, 48, 1, page_info)
    region = struct.pack(">IIIIB", w, h, 0, 0, 0) + bytes([0x01]) + mmr_data
    out += jbig2_segment(1, 38, 1, region)
    out += jbig2_segment(2, 49, 1, b"")
    out += jbig2_segment(3, 51, 0, b"")
    return out


def read_pbm(path):
    with open(path, "rb") as f:
        data = f.read()
    parts = data.split(None, 3)
    assert parts[0] == b"P4"
    w, h = int(parts[1]), int(parts[2])
    stride = (w + 7) // 8
    bits = data[len(data) - stride * h:]
    return w, h, stride, bits


def make_jbig2(out):
    rng = random.Random(805)
    index = []
    tmp = tempfile.mkdtemp()
    for name, (w, h) in (("small", (13, 7)), ("text", (120, 40)), ("wide", (257, 3))):
        im = Image.new("1", (w, h), 1)
        px = im.load()
        for _ in range(w * h // 6):
            x, y = rng.randrange(w), rng.randrange(h)
            for dx in range(rng.randrange(1, 5)):
                if x + dx < w:
                    px[x + dx, y] = 0
        # The runs are the same whatever colour the TIFF's photometric gives
        # them; JBIG2 reads them as MMR data (first run white, 1 = black).
        data = g4_strip(im)
        path = os.path.join(out, "jbig2_%s.jb2" % name)
        with open(path, "wb") as f:
            f.write(jbig2_file(w, h, data))
        pbm = os.path.join(tmp, name + ".pbm")
        subprocess.run(["jbig2dec", "-t", "pbm", "-o", pbm, path], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        pw, ph, stride, bits = read_pbm(pbm)
        rgba = []
        for y in range(ph):
            for x in range(pw):
                black = bits[y * stride + x // 8] >> (7 - x % 8) & 1
                v = 0 if black else 65535
                rgba += [v, v, v, 65535]
        write_ref(os.path.join(out, "jbig2_%s.ref" % name), pw, ph, rgba)
        index.append("jbig2_%s.jb2 8" % name)
    # Pages of a size that the bilevel rule weighs (not in the index: the
    # tests compare them with jbig2dec's output themselves): a letter page
    # at 300 dpi with lines of words, and a blank one at 600 dpi.
    page = text_page(rng, 2550, 3300, 40)
    with open(os.path.join(out, "jbig2_letter_page.jb2"), "wb") as f:
        f.write(jbig2_file(2550, 3300, g4_strip(page)))
    with open(os.path.join(out, "jbig2_blank_page_600dpi.jb2"), "wb") as f:
        f.write(jbig2_file(5100, 6600, g4_strip(Image.new("1", (5100, 6600), 1))))
    finish(out, index)


def make_pillow_refs(out, names):
    for name in names:
        im = Image.open(os.path.join(out, name))
        im.load()
        ref_from_image(im, os.path.join(out, os.path.splitext(name)[0] + ".ref"))


if __name__ == "__main__":
    kind, outdir = sys.argv[1], sys.argv[2]
    if kind == "pillow-refs":
        make_pillow_refs(outdir, sys.argv[3:])
        sys.exit(0)
    os.makedirs(outdir, exist_ok=True)
    {"jpeg": make_jpeg, "jp2": make_jp2, "tiff": make_tiff, "dicom": make_dicom, "jbig2": make_jbig2}[kind](outdir)
