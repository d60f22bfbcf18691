#!/usr/bin/python3
"""Writes the camera raw test inputs and their references.

    make_raw_images.py dng OUTDIR   small DNG files (a TIFF with the DNG
        tags around an uncompressed 16-bit colour-filter-array strip, packed
        here with struct); each is developed by LibRaw's own command-line
        tool dcraw_emu, once with its default rendering at 16 bits (-6) and
        once linear (-4), and the PPM it writes is the reference.  Among
        them the first one's sensor again in lossless JPEG (compression 7:
        one strip, and tiles), which shares its references, and linear DNGs
        in lossy JPEG (compression 34892: baseline tiles; and, not listed,
        a progressive strip).

Each NAME.dng gets NAME.gamma.ref and NAME.linear.ref: width and height as
two little-endian u32, then the pixels from the top row down as 16-bit R,
G, B, A big-endian.  OUTDIR/index.txt lists "NAME.dng" a line.

    make_raw_images.py probes OUTDIR   headers of every raw format, each
        as small as its check allows (magic bytes, or a TIFF whose IFD 0
        names the maker or carries the DNG or TIFF/EP tags), and headers of
        no raw format; OUTDIR/index.txt lists "FILE FORMAT" a line, FORMAT
        the one format whose probe must accept it ("none" for none).

    make_raw_images.py walk OUTDIR   a small DNG and variants of its TIFF
        structure for the walk that comes before LibRaw (see make_walk).

    make_raw_images.py crashes OUTDIR   the two inputs of
        tests/data/raw/malformed named crash-cfa-pattern-* (see make_crashes).
"""
import io
import os
import random
import shutil
import struct
import subprocess
import sys


def ifd_entry(tag, kind, values, order="<"):
    """(tag, type, count, payload bytes) for an IFD of the byte order
    ("<" little-endian, ">" big-endian)."""
    fmt = {1: "B", 2: "s", 3: "H", 4: "I", 5: "II", 10: "ii"}[kind]
    if kind == 2:
        payload = values.encode() + b"\0"
        return (tag, kind, len(payload), payload)
    if kind in (5, 10):
        flat = [v for pair in values for v in pair]
        return (tag, kind, len(values), struct.pack("%s%d%s" % (order, len(flat), fmt[0]), *flat))
    return (tag, kind, len(values), struct.pack("%s%d%s" % (order, len(values), fmt), *values))


def write_tiff(path, entries, strip, head=b"II*\0"):
    """One IFD at offset 8; payloads longer than 4 bytes and the strip
    follow it.  StripOffsets (273) is filled in here.  A head starting
    "MM" makes a big-endian file (the entries made with order ">")."""
    order = ">" if head[:2] == b"MM" else "<"
    entries = sorted(entries, key=lambda e: e[0])
    ifd_size = 2 + 12 * len(entries) + 4
    extra_at = 8 + ifd_size
    extra = b""
    placed = []
    for tag, kind, count, payload in entries:
        if len(payload) > 4:
            placed.append((tag, kind, count, None, extra_at + len(extra)))
            extra += payload + (b"\0" if len(payload) % 2 else b"")
        else:
            placed.append((tag, kind, count, payload.ljust(4, b"\0"), None))
    strip_at = extra_at + len(extra)
    out = bytearray(head + struct.pack(order + "I", 8) + struct.pack(order + "H", len(entries)))
    for tag, kind, count, inline, at in placed:
        if tag == 273:
            inline = struct.pack(order + "I", strip_at)
        out += struct.pack(order + "HHI", tag, kind, count)
        out += inline if inline is not None else struct.pack(order + "I", at)
    out += struct.pack(order + "I", 0) + extra + strip
    if path:
        with open(path, "wb") as f:
            f.write(out)
    return bytes(out)


def write_tiff_chain(path, ifds, strips):
    """IFDs one after another from offset 8, each followed by its long
    payloads, then the strips.  In IFD i, StripOffsets (273) points at
    strips[i] and SubIFDs (330) at IFD i + 1."""
    ifds = [sorted(e, key=lambda x: x[0]) for e in ifds]
    starts = []
    pos = 8
    for entries in ifds:
        starts.append(pos)
        pos += 2 + 12 * len(entries) + 4
        for tag, kind, count, payload in entries:
            if len(payload) > 4:
                pos += len(payload) + len(payload) % 2
    strip_at = []
    for strip in strips:
        strip_at.append(pos)
        pos += len(strip)
    out = bytearray(b"II*\0" + struct.pack("<I", 8))
    for i, entries in enumerate(ifds):
        extra_at = starts[i] + 2 + 12 * len(entries) + 4
        extra = b""
        out += struct.pack("<H", len(entries))
        for tag, kind, count, payload in entries:
            if tag == 273:
                payload = struct.pack("<I", strip_at[i])
            elif tag == 330:
                payload = struct.pack("<I", starts[i + 1])
            out += struct.pack("<HHI", tag, kind, count)
            if len(payload) > 4:
                out += struct.pack("<I", extra_at + len(extra))
                extra += payload + (b"\0" if len(payload) % 2 else b"")
            else:
                out += payload.ljust(4, b"\0")
        out += struct.pack("<I", 0) + extra
    for strip in strips:
        out += strip
    with open(path, "wb") as f:
        f.write(bytes(out))


def dng_with_thumbnail(path, rng, w, h, tw, th):
    """IFD 0 an RGB thumbnail of tw x th, its sub-IFD the raw data."""
    raw = dng_entries(w, h, 2 * w * h)
    tags = {e[0]: e for e in raw}
    thumb_pixels = bytes(rng.randrange(256) for _ in range(tw * th * 3))
    ifd0 = [ifd_entry(254, 4, [1]), ifd_entry(256, 4, [tw]), ifd_entry(257, 4, [th]),
            ifd_entry(258, 3, [8, 8, 8]), ifd_entry(259, 3, [1]), ifd_entry(262, 3, [2]),
            ifd_entry(273, 4, [0]), ifd_entry(277, 3, [3]), ifd_entry(278, 4, [th]),
            ifd_entry(279, 4, [len(thumb_pixels)]), ifd_entry(284, 3, [1]), ifd_entry(330, 4, [0])]
    ifd0 += [tags[t] for t in (271, 272, 274, 50706, 50708, 50721, 50728, 50778)]
    ifd1 = [e for e in raw if e[0] not in (271, 272, 274, 50706, 50708, 50721, 50728, 50778)]
    write_tiff_chain(path, [ifd0, ifd1], [thumb_pixels, sensor(rng, w, h, 4095)])


def dng_entries(w, h, strip_bytes, make="Qortest", white=4095, pattern=(0, 1, 1, 2), order="<"):
    return [ifd_entry(*e[:3], order=order) for e in dng_entry_values(w, h, strip_bytes, make, white, pattern)]


def dng_entry_values(w, h, strip_bytes, make, white, pattern):
    return [
        (254, 4, [0]),
        (256, 4, [w]),
        (257, 4, [h]),
        (258, 3, [16]),
        (259, 3, [1]),
        (262, 3, [32803]),
        (271, 2, make),
        (272, 2, "Synthetic"),
        (273, 4, [0]),
        (274, 3, [1]),
        (277, 3, [1]),
        (278, 4, [h]),
        (279, 4, [strip_bytes]),
        (284, 3, [1]),
        (33421, 3, [2, 2]),
        (33422, 1, list(pattern)),
        (50706, 1, [1, 4, 0, 0]),
        (50708, 2, make + " Synthetic"),
        (50717, 4, [white]),
        (50721, 10, [(1, 1), (0, 1), (0, 1), (0, 1), (1, 1), (0, 1), (0, 1), (0, 1), (1, 1)]),
        (50728, 5, [(1, 2), (1, 1), (2, 3)]),
        (50778, 3, [21]),
    ]


def sensor(rng, w, h, white, order="<"):
    values = []
    for y in range(h):
        for x in range(w):
            v = (x * white // max(1, w - 1) + y * white // max(1, h - 1)) // 2
            v = min(white, max(0, v + rng.randrange(-60, 61)))
            values.append(v)
    return struct.pack("%s%dH" % (order, len(values)), *values)


def jpeg_segment(code, body):
    return struct.pack(">BBH", 0xFF, code, len(body) + 2) + body


def ljpeg_frame(wide, high, clrs, dht, bits=16, psv=1):
    """The markers of a lossless JPEG (SOF3) up to its scan: SOI, the
    Huffman tables `dht` (the DHT segments' bodies), the frame of high rows
    of wide samples of clrs components, and a scan of all of them with
    predictor psv."""
    sof = struct.pack(">BHHB", bits, high, wide, clrs) + b"".join(bytes([c + 1, 0x11, 0]) for c in range(clrs))
    sos = bytes([clrs]) + b"".join(bytes([c + 1, 0x00]) for c in range(clrs)) + bytes([psv, 0, 0])
    return (b"\xff\xd8" + b"".join(jpeg_segment(0xC4, d) for d in dht) + jpeg_segment(0xC3, sof) +
            jpeg_segment(0xDA, sos))


# One Huffman table for every difference category (0 to 16), each a
# 5-bit code: the category's number.
LJPEG_TABLE = bytes([0x00]) + bytes([0, 0, 0, 0, 17] + [0] * 11) + bytes(range(17))


def ljpeg(samples, wide, high, clrs, bits=16):
    """A lossless JPEG of high rows of wide pixels of clrs interleaved
    samples (row by row), coded with predictor 1 (the sample to the left;
    the first of a row from the one above, the very first from half the
    range) and LJPEG_TABLE, as ITU T.81's process 14 codes it."""
    out, acc, n = bytearray(), 0, 0

    def put(value, length):
        nonlocal acc, n
        acc = acc << length | value & ((1 << length) - 1)
        n += length
        while n >= 8:
            byte = acc >> (n - 8) & 0xFF
            out.append(byte)
            if byte == 0xFF:
                out.append(0)
            n -= 8
        acc &= (1 << n) - 1

    for y in range(high):
        for x in range(wide):
            for c in range(clrs):
                at = (y * wide + x) * clrs + c
                if x:
                    pred = samples[at - clrs]
                elif y:
                    pred = samples[at - wide * clrs]
                else:
                    pred = 1 << (bits - 1)
                diff = (samples[at] - pred) % 65536
                if diff >= 32768:
                    diff -= 65536
                size = 16 if diff == 32768 else abs(diff).bit_length()
                put(size, 5)
                if 0 < size < 16:
                    put(diff if diff >= 0 else diff + (1 << size) - 1, size)
    if n:
        put((1 << (8 - n)) - 1, 8 - n)
    return ljpeg_frame(wide, high, clrs, [LJPEG_TABLE], bits) + bytes(out) + b"\xff\xd9"


def dct_scans(w, h, scans, components=3):
    """A baseline JPEG frame of w x h whose scans each carry component 1
    alone and no data: one quantisation table of ones, a DC and an AC
    table of one code each.  libjpeg reads such a frame whole, every scan
    over the whole picture, before a row comes out."""
    one = bytes([1]) + bytes(15)
    tables = (jpeg_segment(0xDB, bytes([0]) + bytes([1]) * 64) + jpeg_segment(0xC4, bytes([0x00]) + one + bytes([0])) +
              jpeg_segment(0xC4, bytes([0x10]) + one + bytes([0])))
    sof = jpeg_segment(0xC0, struct.pack(">BHHB", 8, h, w, components) +
                       b"".join(bytes([c + 1, 0x11, 0]) for c in range(components)))
    scan = jpeg_segment(0xDA, bytes([1, 1, 0x00, 0, 63, 0]))
    return b"\xff\xd8" + tables + sof + scan * scans + b"\xff\xd9"


def pillow_jpeg(w, h, seed, **options):
    """A JPEG of a w x h RGB picture of gradients, by Pillow (baseline
    unless options say otherwise)."""
    from PIL import Image
    picture = Image.new("RGB", (w, h))
    picture.putdata([((x * 4 + seed) % 256, y * 5 % 256, (x * y + seed) % 256) for y in range(h) for x in range(w)])
    out = io.BytesIO()
    picture.save(out, "JPEG", quality=90, **options)
    return out.getvalue()


def lossy_dng(w, h, jpegs, tile=None):
    """A linear DNG of w x h in RGB whose strip (or tiles of tile = (width,
    length)) are the lossy JPEG streams `jpegs` (compression 34892)."""
    entries = [(254, 4, [0]), (256, 4, [w]), (257, 4, [h]), (258, 3, [8, 8, 8]), (259, 3, [34892]),
               (262, 3, [34892]), (271, 2, "Qortest"), (272, 2, "Synthetic"), (274, 3, [1]), (277, 3, [3]),
               (284, 3, [1]), (50706, 1, [1, 4, 0, 0]), (50708, 2, "Qortest Synthetic"), (50717, 4, [255]),
               (50721, 10, [(1, 1), (0, 1), (0, 1), (0, 1), (1, 1), (0, 1), (0, 1), (0, 1), (1, 1)]),
               (50728, 5, [(1, 1), (1, 1), (1, 1)]), (50778, 3, [21])]
    return tiff_of_streams(entries, h, jpegs, tile)


def lossless_dng(w, h, values, tile=None, white=4095, pattern=(0, 1, 1, 2)):
    """A DNG of w x h (w even) whose colour-filter-array data (values, row
    by row) is lossless JPEG (compression 7) of two samples a pixel: one
    strip, or tiles of tile = (width, length) (edge tiles padded with their
    last column and row, as DNG writers pad them)."""
    tw, tl = tile if tile else (w, h)
    jpegs = []
    for ty in range(0, h, tl):
        for tx in range(0, w, tw):
            part = [values[min(ty + y, h - 1) * w + min(tx + x, w - 1)] for y in range(tl) for x in range(tw)]
            jpegs.append(ljpeg(part, tw // 2, tl, 2))
    return dng_of_jpegs(w, h, jpegs, tile, white, pattern)


def dng_of_jpegs(w, h, jpegs, tile=None, white=4095, pattern=(0, 1, 1, 2), offsets=None):
    """A DNG of w x h, compression 7, whose strip (or tiles of tile =
    (width, length)) are the JPEG streams `jpegs`, laid one after another
    at the end of the file; offsets (indexes into jpegs) chooses which
    stream each tile points at, one for each by default."""
    entries = [e for e in dng_entry_values(w, h, 0, "Qortest", white, pattern) if e[0] not in (273, 278, 279)]
    entries = [(t, k, [7] if t == 259 else v) for t, k, v in entries]
    return tiff_of_streams(entries, h, jpegs, tile, offsets)


def tiff_of_streams(entries, h, streams, tile=None, offsets=None):
    """A TIFF of one IFD, the (tag, type, values) entries and the data
    entries of `streams` laid one after another at its end: StripOffsets
    and friends for the first stream, or TileOffsets and friends (tile =
    (width, length)) pointing at streams[i] for every i of offsets (one
    for each by default)."""
    offsets = list(range(len(streams))) if offsets is None else offsets

    def layout(at):
        spots = []
        for j in streams:
            spots.append(at)
            at += len(j)
        pointers = [spots[i] for i in offsets]
        if tile:
            more = [(322, 4, [tile[0]]), (323, 4, [tile[1]]), (324, 4, pointers),
                    (325, 4, [len(streams[i]) for i in offsets])]
        else:
            more = [(273, 4, [0]), (278, 4, [h]), (279, 4, [len(streams[0])])]
        return [ifd_entry(*e) for e in entries + more]

    head = write_tiff(None, layout(0), b"")
    data = write_tiff(None, layout(len(head)), b"".join(streams))
    if not tile:
        # write_tiff points the strip at its end, where the stream lies.
        assert struct.unpack_from("<I", data, entry_offset(data, 8, 273) + 8)[0] == len(head)
    return data


def ppm_ref(ppm, ref, maxval=65535):
    with open(ppm, "rb") as f:
        data = f.read()
    # "P6\n<w> <h>\n<max>\n" then big-endian 16-bit samples.
    fields = []
    pos = 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        start = pos
        while not data[pos:pos + 1].isspace():
            pos += 1
        fields.append(data[start:pos])
    pos += 1
    magic, w, h, top = fields[0], int(fields[1]), int(fields[2]), int(fields[3])
    assert magic == b"P6" and top == maxval, (magic, top)
    if maxval == 65535:
        samples = struct.unpack(">%dH" % (w * h * 3), data[pos:pos + w * h * 6])
    else:
        samples = [v * 257 for v in data[pos:pos + w * h * 3]]
    out = []
    for i in range(w * h):
        out += [samples[3 * i], samples[3 * i + 1], samples[3 * i + 2], 65535]
    with open(ref, "wb") as f:
        f.write(struct.pack("<II", w, h))
        f.write(struct.pack(">%dH" % len(out), *out))


def develop(path, option, ref):
    work = path + option.replace("-", "_") + ".dng"
    shutil.copy(path, work)
    subprocess.run(["dcraw_emu", option, work], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    ppm_ref(work + ".ppm", ref)
    os.remove(work)
    os.remove(work + ".ppm")


def make_dng(out):
    rng = random.Random(909)
    index = []
    forms = [("rggb", 64, 48, (0, 1, 1, 2), 4095), ("gbrg", 37, 26, (1, 2, 0, 1), 65535)]
    for name, w, h, pattern, white in forms:
        strip = sensor(rng, w, h, white)
        path = os.path.join(out, "raw_%s.dng" % name)
        write_tiff(path, dng_entries(w, h, len(strip), white=white, pattern=pattern), strip)
        develop(path, "-6", os.path.join(out, "raw_%s.gamma.ref" % name))
        develop(path, "-4", os.path.join(out, "raw_%s.linear.ref" % name))
        index.append("raw_%s.dng" % name)
        if name == "rggb":
            # The same sensor in lossless JPEG: one strip, and tiles whose
            # edge ones overhang the sensor.  They must develop exactly as
            # the uncompressed file does, whose references they share.
            values = list(struct.unpack("<%dH" % (w * h), strip))
            for kind, tile in (("lj", None), ("ljtiles", (48, 32))):
                with open(os.path.join(out, "raw_%s_%s.dng" % (name, kind)), "wb") as f:
                    f.write(lossless_dng(w, h, values, tile, white, pattern))
                for ref in ("gamma", "linear"):
                    shutil.copy(os.path.join(out, "raw_%s.%s.ref" % (name, ref)),
                                os.path.join(out, "raw_%s_%s.%s.ref" % (name, kind, ref)))
                index.append("raw_%s_%s.dng" % (name, kind))
    # A lossy DNG (linear RGB in JPEG, compression 34892): baseline tiles of
    # 32 x 32 over 64 x 48, developed by dcraw_emu.  The same picture in one
    # progressive strip, which is not listed: it is refused.
    path = os.path.join(out, "raw_lossy.dng")
    with open(path, "wb") as f:
        f.write(lossy_dng(64, 48, [pillow_jpeg(32, 32, k) for k in range(4)], (32, 32)))
    develop(path, "-6", os.path.join(out, "raw_lossy.gamma.ref"))
    develop(path, "-4", os.path.join(out, "raw_lossy.linear.ref"))
    index.append("raw_lossy.dng")
    with open(os.path.join(out, "lossy_progressive.dng"), "wb") as f:
        f.write(lossy_dng(64, 48, [pillow_jpeg(64, 48, 7, progressive=True)]))
    # A DNG with an RGB thumbnail in IFD 0: its references are the
    # development as above and simple_dcraw's extracted thumbnail.
    path = os.path.join(out, "raw_thumb.dng")
    dng_with_thumbnail(path, rng, 40, 30, 16, 12)
    develop(path, "-6", os.path.join(out, "raw_thumb.gamma.ref"))
    develop(path, "-4", os.path.join(out, "raw_thumb.linear.ref"))
    work = os.path.join(out, "thumbwork.dng")
    shutil.copy(path, work)
    subprocess.run(["simple_dcraw", "-e", work], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    ppm_ref(work + ".thumb.ppm", os.path.join(out, "raw_thumb.thumb.ref"), 255)
    os.remove(work)
    os.remove(work + ".thumb.ppm")
    index.append("raw_thumb.dng")
    with open(os.path.join(out, "index.txt"), "w") as f:
        f.write("\n".join(index) + "\n")


def as_cr2(data):
    """A TIFF of write_tiff made a CR2: Canon's marker sits at 8, where the
    writer puts the IFD, so the IFD moves 8 bytes on, and the offsets inside
    it with it."""
    data = bytearray(b"II*\0\x10\0\0\0CR\x02\0\0\0\0\0") + data[8:]
    count = struct.unpack_from("<H", data, 16)[0]
    for i in range(count):
        at = 18 + 12 * i
        tag, kind, n = struct.unpack_from("<HHI", data, at)
        size = {1: 1, 2: 1, 3: 2, 4: 4, 5: 8, 10: 8}[kind] * n
        if size > 4 or tag == 273:
            struct.pack_into("<I", data, at + 8, struct.unpack_from("<I", data, at + 8)[0] + 8)
    return bytes(data)


def make_probes(out):
    index = []

    def put(name, data, fmt):
        with open(os.path.join(out, name), "wb") as f:
            f.write(data + bytes(64))
        index.append("%s %s" % (name, fmt))

    def tiff(name, fmt, make=None, extra=(), head=b"II*\0", photometric=2):
        o = ">" if head[:2] == b"MM" else "<"
        entries = [ifd_entry(256, 4, [8], o), ifd_entry(257, 4, [8], o), ifd_entry(262, 3, [photometric], o),
                   ifd_entry(273, 4, [0], o), ifd_entry(279, 4, [64], o)] + list(extra)
        if make:
            entries.append(ifd_entry(271, 2, make, o))
        path = os.path.join(out, name)
        write_tiff(path, entries, bytes(64), head)
        index.append("%s %s" % (name, fmt))

    put("mrw.bin", b"\0MRM\0\0\0\x20", "MRW")
    # The TIFF-shaped makers' formats are raw pictures only with a whole
    # structure LibRaw's parser may walk; their magic bytes alone are not.
    tiff("rw2.bin", "RWL", "Panasonic", head=b"IIU\0")
    tiff("orf.bin", "ORF", "OLYMPUS", head=b"IIRO")
    tiff("orf_rs.bin", "ORF", "OLYMPUS", head=b"IIRS")
    tiff("orf_mm.bin", "ORF", "OLYMPUS", head=b"MMOR")
    put("orf_header_only.bin", b"IIRO\x08\0\0\0", "none")
    put("x3f.bin", b"FOVb\0\0\x02\0" + bytes(20) + struct.pack("<II", 640, 480), "X3F")
    put("iiq.bin", b"IIII\0\0\0\0Raw \0\0\0\0", "IIQ")
    put("raf.bin", b"FUJIFILMCCD-RAW 0201FF383501", "RAF")
    put("crw.bin", b"II\x1a\0\0\0HEAPCCDR", "CRW")
    put("cr3.bin", b"\0\0\0\x18ftypcrx \0\0\0\x01crx isom", "CR3")
    tiff("cr2.tif", "CR2", "Canon")
    with open(os.path.join(out, "cr2.tif"), "rb") as f:
        data = f.read()
    with open(os.path.join(out, "cr2.tif"), "wb") as f:
        f.write(as_cr2(data))
    tiff("pef.tif", "PEF", "PENTAX Corporation")
    tiff("pef_ricoh.tif", "PEF", "RICOH IMAGING COMPANY, LTD.")
    tiff("arw.tif", "ARW", "SONY")
    tiff("srw.tif", "SRW", "SAMSUNG")
    tiff("mos.tif", "MOS", "Leaf")
    tiff("nef.tif", "NEF", "NIKON CORPORATION")
    tiff("3fr.tif", "3FR", "Hasselblad")
    tiff("dng.tif", "DNG", "NIKON", [ifd_entry(50706, 1, [1, 4, 0, 0])])
    tiff("tiffep.tif", "TIFF_EP", "Kodak", [ifd_entry(37398, 1, [1, 0, 0, 0])])
    tiff("tiffep_cfa.tif", "TIFF_EP", "Epson", photometric=32803)
    # Neither: a plain TIFF with a camera's make but no raw data is still a
    # raw family's file when the make has its own format (a NIKON TIFF is
    # read as NEF); without make or raw tags it is nobody's.
    tiff("plain.tif", "none", "Kodak")
    tiff("plain_nomake.tif", "none")
    put("png.bin", b"\x89PNG\r\n\x1a\n", "none")
    put("ftyp_heic.bin", b"\0\0\0\x18ftypheic", "none")
    put("short_fovb.bin", b"FOVa", "none")
    with open(os.path.join(out, "index.txt"), "w") as f:
        f.write("\n".join(index) + "\n")


def with_ifd0(data, extra, tail=b"", order="<"):
    """The one-IFD TIFF `data` with IFD 0 written anew at its end, after
    `tail`: its entries and the extra ones (tag, type, count, 4 value
    bytes), sorted.  Returns the file and where the new IFD 0 lies."""
    d = bytearray(data)
    at = struct.unpack_from(order + "I", d, 4)[0]
    n = struct.unpack_from(order + "H", d, at)[0]
    entries = [bytes(d[at + 2 + 12 * i:at + 14 + 12 * i]) for i in range(n)]
    entries += [struct.pack(order + "HHI", tag, kind, count) + value for tag, kind, count, value in extra]
    entries.sort(key=lambda e: struct.unpack_from(order + "H", e)[0])
    d += tail
    ifd = len(d)
    d += struct.pack(order + "H", len(entries)) + b"".join(entries) + struct.pack(order + "I", 0)
    struct.pack_into(order + "I", d, 4, ifd)
    return bytes(d), ifd


def small_ifd(entries, order="<", nxt=None):
    """A directory of (tag, type, count, 4 value bytes) entries; the next
    pointer only when nxt is given."""
    out = struct.pack(order + "H", len(entries))
    for tag, kind, count, value in entries:
        out += struct.pack(order + "HHI", tag, kind, count) + value
    return out + (struct.pack(order + "I", nxt) if nxt is not None else b"")


def entry_offset(d, ifd, tag, order="<"):
    n = struct.unpack_from(order + "H", d, ifd)[0]
    for i in range(n):
        if struct.unpack_from(order + "H", d, ifd + 2 + 12 * i)[0] == tag:
            return ifd + 2 + 12 * i
    raise KeyError(tag)


def make_walk(out):
    """TIFF structures for the walk that comes before LibRaw: a 16 x 12 DNG
    and variants of it, each with one structure added or one fault, and the
    verdict the walk must give.  OUTDIR/index.txt lists "FILE VERDICT
    HIDDEN...": VERDICT "walks" or "refused", HIDDEN the positions of the
    entries LibRaw is to pass over.  walk_plain.dng is developed by
    dcraw_emu (walk_plain.gamma.ref); every variant that walks holds the same
    sensor data."""
    rng = random.Random(57)
    w, h = 32, 24
    strip = sensor(rng, w, h, 4095)
    plain = write_tiff(None, dng_entries(w, h, len(strip)), strip)
    L = lambda v: struct.pack("<I", v)
    S = lambda v: struct.pack("<HH", v, 0)
    index = []

    def put(name, data, verdict, hidden=()):
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
        index.append(" ".join([name, verdict] + [str(x) for x in hidden]))

    put("walk_plain.dng", plain, "walks")
    develop(os.path.join(out, "walk_plain.dng"), "-6", os.path.join(out, "walk_plain.gamma.ref"))
    moved, ifd0 = with_ifd0(plain, [])
    put("walk_moved.dng", moved, "walks")
    # EXIF with an interoperability table, and GPS.
    at = len(plain)
    exif = small_ifd([(0x829A, 5, 1, L(at + 60)), (0xA005, 4, 1, L(at + 30))], nxt=0)
    interop = small_ifd([(0x0001, 2, 4, b"R98\0")], nxt=0)
    gps = small_ifd([(0x0000, 1, 4, bytes([2, 2, 0, 0]))], nxt=0)
    tail = exif.ljust(30, b"\0") + interop.ljust(30, b"\0") + struct.pack("<II", 1, 250) + gps
    d, _ = with_ifd0(plain, [(0x8769, 4, 1, L(at)), (0x8825, 4, 1, L(at + 68))], tail)
    put("walk_exif_gps_interop.dng", d, "walks")
    # A maker note of bytes no parser of ours reads, and Leaf's metadata
    # tag (which would make LibRaw call the camera a Leaf): both hidden.
    exif = small_ifd([(0x8827, 3, 1, S(100)), (0x927C, 7, 24, L(at + 32))], nxt=0)
    d, ifd = with_ifd0(plain, [(0x8769, 4, 1, L(at)), (0x8606, 7, 4, b"\xff" * 4)],
                       exif.ljust(32, b"\0") + b"\xff" * 24)
    put("walk_hidden.dng", d, "walks", sorted([at + 2 + 12, entry_offset(d, ifd, 0x8606)]))
    # Big-endian.
    be = write_tiff(None, dng_entries(w, h, len(strip), order=">"), sensor(random.Random(57), w, h, 4095, ">"),
                    head=b"MM\0*")
    put("walk_big_endian.dng", be, "walks")
    # A second IFD whose JPEG offset holds an EXIF block: its TIFF walked.
    embedded = small_ifd([(0x010F, 2, 4, b"Abc\0")], nxt=0)
    jpeg = b"\xff\xd8\xff\xe1\x00\x20Exif\0\0" + b"II*\0" + L(8) + embedded
    ifd1 = small_ifd([(0x0201, 4, 1, L(at)), (0x0202, 4, 1, L(len(jpeg)))], nxt=0)
    d, ifd = with_ifd0(plain, [], jpeg + ifd1)
    d = bytearray(d)
    struct.pack_into("<I", d, len(d) - 4, at + len(jpeg))
    put("walk_jpeg_exif.dng", bytes(d), "walks")
    struct.pack_into("<I", d, at + 12 + 4, 0x7FFF0000)
    put("walk_jpeg_exif_past_end.dng", bytes(d), "refused")
    # Faults.
    put("walk_ifd_cut.dng", moved[:-10], "refused")
    put("walk_next_pointer_cut.dng", moved[:-2], "refused")
    for name, kind in (("walk_type_zero.dng", 0), ("walk_type_fourteen.dng", 14)):
        d = bytearray(plain)
        struct.pack_into("<H", d, entry_offset(d, 8, 274) + 2, kind)
        put(name, bytes(d), "refused")
    for name, where in (("walk_value_past_end.dng", len(plain) - 8), ("walk_value_offset_wraps.dng", 0xFFFFFFF0)):
        d = bytearray(plain)
        struct.pack_into("<I", d, entry_offset(d, 8, 50721) + 8, where)
        put(name, bytes(d), "refused")
    put("walk_subifd_past_end.dng", with_ifd0(plain, [(0x014A, 4, 1, L(at + 1000))])[0], "refused")
    put("walk_subifds_none.dng", with_ifd0(plain, [(0x014A, 4, 0, L(0))])[0], "refused")
    put("walk_subifd_is_ifd0.dng", with_ifd0(plain, [(0x014A, 4, 1, L(at))])[0], "refused")
    d = bytearray(moved)
    struct.pack_into("<I", d, len(d) - 4, ifd0)
    put("walk_chain_loop.dng", bytes(d), "refused")
    exif = small_ifd([(0x8827, 3, 1, S(100))], nxt=0)
    put("walk_exif_short_pointer.dng", with_ifd0(plain, [(0x8769, 3, 1, S(at))], exif)[0], "refused")
    cut = struct.pack("<H", 5) + small_ifd([(0x8827, 3, 1, S(100))])[2:]
    d = with_ifd0(plain, [(0x8769, 4, 1, L(len(plain) + 12))], b"")[0] + b"\0" * 12 + cut
    put("walk_exif_cut.dng", d, "refused")
    put("walk_zero_entries.dng", with_ifd0(plain, [(0x014A, 4, 1, L(at))], small_ifd([], nxt=0))[0], "refused")
    # The caps: 64 tables in all, 512 entries a table.
    for subs, verdict in ((63, "walks"), (64, "refused")):
        one = small_ifd([(0x0100, 4, 1, L(1))], nxt=0)
        tail = b"".join(one for _ in range(subs)) + b"".join(L(at + k * len(one)) for k in range(subs))
        d = with_ifd0(plain, [(0x014A, 4, subs, L(at + subs * len(one)))], tail)[0]
        put("walk_%d_subifds.dng" % subs, d, verdict)
    n0 = struct.unpack_from("<H", plain, 8)[0]
    for total, verdict in ((512, "walks"), (513, "refused")):
        pad = [(0xE000 + k, 3, 1, S(0)) for k in range(total - n0)]
        put("walk_%d_entries.dng" % total, with_ifd0(plain, pad)[0], verdict)
    # LibRaw reads a file with "IIII" in its first 32 bytes as Phase One's.
    d = bytearray(moved)
    d[12:16] = b"IIII"
    put("walk_phase_one_head.dng", bytes(d), "refused")
    # Shorter than the 64 bytes LibRaw reads first.
    tiny = b"II*\0" + L(8) + small_ifd([(0x0100, 4, 1, L(1))], nxt=0)
    put("walk_tiny.tif", tiny.ljust(60, b"\0"), "refused")
    put("walk_small.tif", tiny.ljust(64, b"\0"), "walks")
    with open(os.path.join(out, "index.txt"), "w") as f:
        f.write("\n".join(index) + "\n")


def make_crashes(out):
    """The two DNGs kept in tests/data/raw/malformed that crashed LibRaw
    0.20 (SEGV in parse_tiff_ifd) through a probe that screened only the
    IFD chain and its sub-IFDs: a CFA pattern of 36 entries with 2 x 2
    repeat dimensions, which LibRaw takes for X-Trans data, in a table the
    screen never read: Fuji's table (tag 0xF000) of IFD 0, and the TIFF in
    the EXIF block of a lossless JPEG that IFD 1's JPEG offset points at."""
    L = lambda v: struct.pack("<I", v)
    pattern = bytes([0, 1, 2, 1, 0, 1] * 6)
    dng_version = (0xC612, 1, 4, bytes([1, 4, 0, 0]))
    # IFD 0 at 8 (2 entries, 30 bytes), the table at 38, its pattern after it.
    table = small_ifd([(0x828D, 3, 2, struct.pack("<HH", 2, 2)), (0x828E, 1, 36, L(38 + 30))], nxt=0) + pattern
    d = b"II*\0" + L(8) + small_ifd([dng_version, (0xF000, 4, 1, L(38))], nxt=0) + table
    with open(os.path.join(out, "crash-cfa-pattern-in-fuji-table.dng"), "wb") as f:
        f.write(d.ljust(128, b"\0"))
    # IFD 0 at 8, IFD 1 at 26, the JPEG at 44: SOI, APP1 with "Exif\0\0"
    # and the TIFF header (at 56, the embedded TIFF's base), a lossless
    # SOF3 and SOS (all LibRaw's JPEG header reader wants), then the
    # embedded IFD at base + 31 and its pattern.
    head = (b"II*\0" + L(31) + b"\xff\xc3\x00\x0b\x0c\x00\x10\x00\x10\x01\x01\x11\x00" +
            b"\xff\xda\x00\x08\x01\x01\x00\x01\x00\x00")
    inner = small_ifd([(0x828D, 3, 2, struct.pack("<HH", 2, 2)), (0x828E, 1, 36, L(31 + 30))], nxt=0) + pattern
    jpeg = b"\xff\xd8\xff\xe1\x00\x10Exif\0\0" + head + inner
    d = b"II*\0" + L(8) + small_ifd([dng_version], nxt=26) + small_ifd([(0x0201, 4, 1, L(44))], nxt=0) + jpeg
    with open(os.path.join(out, "crash-cfa-pattern-in-jpeg-exif-tiff.dng"), "wb") as f:
        f.write(d.ljust(160, b"\0"))


if __name__ == "__main__":
    kind, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    {"dng": make_dng, "probes": make_probes, "walk": make_walk, "crashes": make_crashes}[kind](out)
