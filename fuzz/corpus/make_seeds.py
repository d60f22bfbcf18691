#!/usr/bin/env python3
"""Writes the seeds of the entries that take their input unpacked or in
pieces, from the other entries' seeds and a few hand-made inputs (run from
anywhere; writes into fuzz/corpus/):

  BinScenario/body-*   the inflated bodies of the BinScenario payloads
  PayloadStream/       the BinScenario payloads and bodies, and payloads
                       whose items are deflated
  LangBlob/body-*      the sections of the LangBlob blobs (inflated, after
                       "CIOMLANG")
  HdocLoader/parts-*   the HdocLoader documents' tables and records,
                       inflated and joined by "QPRT"
  HiveStore/           the Hive seeds, one and several to a folder
  LangFiles/           the LangBlob blobs, one and several to a folder
  WinExeRes/           WinExe/rsrc-section.bin from offsets 0 and 16 and
                       from its first type's name directory
  JpegExif/            the EXIF block of Jpeg/jpeg_exif.jpg, and EXIF
                       blocks whose second directory holds an 8x8 JPEG
                       thumbnail (both byte orders)
  HdlIndex/            index files and sources
  HttpRequest/         requests with headers, parts and addresses
  ConfigValues/        stored numbers and values
  BlockDeflate/        text, runs of bytes and a mix, in pieces of a few
                       KiB, and inputs stretched to 320 KB: text in pieces
                       of 160 KiB, and noise in pieces of 96 KiB
  JoinDeflate/         zlib's raw streams of text and noise at levels 0, 1
                       and 9 and with sync flushes, and text and noise
                       to deflate in two pieces
"""
import hashlib
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def read(*p):
    with open(os.path.join(HERE, *p), "rb") as f:
        return f.read()


def write(entry, name, data):
    d = os.path.join(HERE, entry)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def seeds(entry):
    d = os.path.join(HERE, entry)
    return sorted(n for n in os.listdir(d) if not n.startswith(("body-", "parts-")))


# The 8x8 grey JPEG of FuzzJpegExif.cpp, whole.
TINY_JPEG = bytes.fromhex(
    "ffd8ffdb004300100b0c0e0c0a100e0d0e1211101318281a181616183123251d283a333d3c3933383740485c4e40"
    "4457453738506d51575f626768673e4d71797064785c656763ffc0000b080008000801011100ffc400140001000000"
    "00000000000000000000000000ffc40014100100000000000000000000000000000000ffda0008010100003f003fffd9")


def exif_with_thumbnail(big):
    e = ">" if big else "<"
    head = (b"MM" if big else b"II") + struct.pack(e + "HI", 42, 8)
    # IFD0 at 8: orientation, ISO (in the EXIF IFD), pointer to the EXIF IFD
    ifd0_n = 3
    ifd0_size = 2 + 12 * ifd0_n + 4
    exif_at = 8 + ifd0_size
    exif_n = 1
    exif_size = 2 + 12 * exif_n + 4
    ifd1_at = exif_at + exif_size
    ifd1_n = 2
    ifd1_size = 2 + 12 * ifd1_n + 4
    thumb_at = ifd1_at + ifd1_size

    def entry(tag, typ, count, value):
        if typ == 3 and count == 1:
            return struct.pack(e + "HHI", tag, typ, count) + struct.pack(e + "HH", value, 0)
        return struct.pack(e + "HHII", tag, typ, count, value)

    ifd0 = struct.pack(e + "H", ifd0_n) + entry(0x0112, 3, 1, 6) + entry(0x0128, 3, 1, 2) + \
        entry(0x8769, 4, 1, exif_at) + struct.pack(e + "I", ifd1_at)
    exif = struct.pack(e + "H", exif_n) + entry(0x8827, 3, 1, 400) + struct.pack(e + "I", 0)
    ifd1 = struct.pack(e + "H", ifd1_n) + entry(0x0201, 4, 1, thumb_at) + \
        entry(0x0202, 4, 1, len(TINY_JPEG)) + struct.pack(e + "I", 0)
    return head + ifd0 + exif + ifd1 + TINY_JPEG


def app1_exif(jpeg):
    i = 2
    while i + 4 <= len(jpeg) and jpeg[i] == 0xFF:
        marker, length = jpeg[i + 1], struct.unpack(">H", jpeg[i + 2:i + 4])[0]
        if marker == 0xE1 and jpeg[i + 4:i + 10] == b"Exif\0\0":
            return jpeg[i + 10:i + 2 + length]
        if marker == 0xDA:
            break
        i += 2 + length
    return None


def block_deflate_seeds():
    """FuzzBlockDeflate.cpp's input: a mode byte (odd: stretched), the piece
    size less 256 (u16; stretched: less 32 KiB, over 4), the history (a
    byte: 0 all of it, 1 none, else 257 bytes each), for a stretched input
    its length less 64 KiB over 4 (u16), then the data."""
    words = b"the package installs registers updates removes software for its user version folder".split()
    text, x = bytearray(), 12345
    while len(text) < 16000:
        x = (x * 6364136223846793005 + 1442695040888963407) % 2 ** 64
        text += words[(x >> 33) % len(words)] + (b"\n" if (x >> 20) % 9 == 0 else b" ")
    text = bytes(text[:16000])
    runs = b"".join(bytes([k % 251]) * (k % 37 + 1) for k in range(140))[:2524]
    noise = hashlib.sha256(b"noise").digest() * 8
    mixed = b"".join(text[k * 1000:(k + 1) * 1000] + noise[:500] for k in range(8))
    write("BlockDeflate", "text", b"\x00" + struct.pack("<HB", 4000, 0) + text)
    write("BlockDeflate", "runs", b"\x00" + struct.pack("<HB", 300, 2) + runs)
    write("BlockDeflate", "mixed", b"\x00" + struct.pack("<HB", 1744, 9) + mixed)
    # 160 KiB pieces of 320 KB: the window slides inside each.
    write("BlockDeflate", "stretched-text", b"\x01" + struct.pack("<HBH", (160 - 32) * 256, 0, 0xFFFF) + text)
    # One byte of data: nearly all noise, in pieces of 96 KiB stored as a
    # block of 65,535 bytes and one of the rest.
    write("BlockDeflate", "stretched-noise", b"\x01" + struct.pack("<HBH", (96 - 32) * 256, 0, 0xFFFF) + b"q")


def join_deflate_seeds():
    """FuzzJoinDeflate.cpp's input: a mode byte (even: a raw deflate
    stream follows; odd: the level, then the cut (u16) and the data)."""
    words = b"the package installs registers updates removes software for its user version folder".split()
    text, x = bytearray(), 777
    while len(text) < 30000:
        x = (x * 6364136223846793005 + 1442695040888963407) % 2 ** 64
        text += words[(x >> 33) % len(words)] + (b"\n" if (x >> 20) % 9 == 0 else b" ")
    text = bytes(text[:30000])
    noise = b"".join(hashlib.sha256(b"%d" % k).digest() for k in range(300))
    for level in (0, 1, 9):
        c = zlib.compressobj(level, zlib.DEFLATED, -15)
        write("JoinDeflate", "stream-%d" % level, b"\x00" + c.compress(text + noise) + c.flush())
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    synced = c.compress(text[:10000]) + c.flush(zlib.Z_SYNC_FLUSH) + c.compress(noise) + c.flush()
    write("JoinDeflate", "stream-synced", b"\x00" + synced)
    write("JoinDeflate", "joined-text", b"\x0b" + struct.pack("<H", 12000) + text)
    write("JoinDeflate", "joined-mixed", b"\x19" + struct.pack("<H", 20000) + text[:20000] + noise)


def main():
    block_deflate_seeds()
    join_deflate_seeds()
    for n in seeds("BinScenario"):
        b = read("BinScenario", n)
        write("BinScenario", "body-" + n, zlib.decompress(b[49:]))
    for n in sorted(os.listdir(os.path.join(HERE, "BinScenario"))):
        write("PayloadStream", n, read("BinScenario", n))
    # A body with two items deflated, one stored and one empty, and the same
    # with an item's claim one byte too high.
    v1 = struct.pack("<4i", 1, 0, 0, 0) + b"\0\0" * 4
    items = [(b"deflated " * 40, True), (b"\x00" * 5000, True), (b"stored", False), (b"", False)]
    for name, claim in (("items-deflated", 0), ("items-overclaim", 1)):
        table = b""
        for plain, deflate in items:
            data = zlib.compress(plain, 9) if deflate else plain
            unpacked = len(plain) + claim if deflate else (0xFFFFFFFF if not plain else 0)
            table += struct.pack("<II", unpacked, len(data)) + hashlib.sha256(plain).digest() + data
        write("PayloadStream", "body-" + name, b"\x01" + v1 + b"\x0d" + table + bytes(8) + b"\x00")

    for n in seeds("LangBlob"):
        b = read("LangBlob", n)
        at = 20 + b[19]
        body = zlib.decompress(b[at + 4:])
        write("LangBlob", "body-" + n, body[8:])

    for n in seeds("HdocLoader"):
        b = read("HdocLoader", n)
        i, blocks = 8, {}
        try:
            while b[i] != 0xFF:
                length = struct.unpack("<I", b[i + 1:i + 5])[0]
                blocks[b[i]] = zlib.decompress(b[i + 5:i + 5 + length])
                i += 5 + length
            i += 1
            tables = []
            for k in range(3):
                length = struct.unpack("<I", b[i:i + 4])[0]
                raw = b[i + 4:i + 4 + length]
                tables.append(zlib.decompress(raw) if raw and k < 2 else raw)
                i += 4 + length
        except (IndexError, zlib.error, struct.error):
            continue  # a damaged seed: kept whole only
        langs = [blocks.get(k, b"") for k in range(max(blocks) + 1 if blocks else 0)]
        write("HdocLoader", "parts-" + n, b"QPRT".join(tables + langs))

    hives = [read("Hive", n) for n in seeds("Hive")]
    for k, h in enumerate(hives):
        write("HiveStore", "one-%d" % k, h)
    write("HiveStore", "all", b"".join(hives))
    write("HiveStore", "damaged-and-good", b"QORX" + hives[-1][4:] + b"".join(hives))
    # A hive with a list of four, then the 16 bytes that drive the changes:
    # the length and letters of a made name, then for each enumeration the
    # path listed (1: "h0/list") and one byte per callback (1 removes the
    # node listed, 2 the child listed, 3 discards, 4 opens again, 5 adds a
    # sibling, 6 stops, 7 sets a value through a handle found without
    # creating; "ops-open-again" reopens first, so that "h0" is clean).
    def node(value, children=()):
        out = struct.pack("<H", len(value)) + value
        for name, child in children:
            field = name + b"\0" * (-len(name) % 4)
            out += struct.pack("<BB", 1, len(field)) + field + child
        return out + b"\0"
    listed = b"QORC" + node(b"", [(b"list", node(b"", [(n, node(n * 3)) for n in (b"a", b"b", b"c", b"d")])),
                                   (b"other", node(b"1"))])
    for name, ops in (("ops-remove-listed", [0, 1, 1, 0, 1, 0, 0, 0]),
                      ("ops-discard", [0, 1, 1, 5, 3, 0, 0, 1, 2, 0, 0]),
                      ("ops-open-again", [3, 1, 0, 2, 1, 1, 4, 7, 0, 0, 0, 6])):
        write("HiveStore", name, listed + bytes(ops + [0] * (16 - len(ops))))

    blobs = [read("LangBlob", n) for n in seeds("LangBlob")]
    for k, b in enumerate(blobs):
        write("LangFiles", "one-%d" % k, b)
    write("LangFiles", "all", b"".join(blobs))
    write("LangFiles", "other-tag", blobs[0][:8] + b"CIOMLN  " + blobs[0][16:] + b"".join(blobs))

    rsrc = read("WinExe", "rsrc-section.bin")
    write("WinExeRes", "at-0", struct.pack("<I", 0) + rsrc)
    write("WinExeRes", "at-16", struct.pack("<I", 16) + rsrc)
    named, numbered = struct.unpack("<HH", rsrc[12:16])
    if named + numbered:
        sub = struct.unpack("<I", rsrc[20:24])[0] & 0x7FFFFFFF
        write("WinExeRes", "names", struct.pack("<I", sub) + rsrc)
        n2, m2 = struct.unpack("<HH", rsrc[sub + 12:sub + 16])
        if n2 + m2:
            lang = struct.unpack("<I", rsrc[sub + 20:sub + 24])[0] & 0x7FFFFFFF
            write("WinExeRes", "langs", struct.pack("<I", lang) + rsrc)

    exif = app1_exif(read("Jpeg", "jpeg_exif.jpg"))
    if exif:
        write("JpegExif", "jpeg_exif", exif)
    write("JpegExif", "thumbnail-ii", exif_with_thumbnail(False))
    write("JpegExif", "thumbnail-mm", exif_with_thumbnail(True))

    write("HdlIndex", "docs", b'ENG = "./a.hdl"\nDEU = "./b.hdl"\n\0')
    write("HdlIndex", "input", b'eng="./in.hdl"\nJPN = "a.hdl"\n\0<text f=std,12 a=c>Hi <b>you</b> '
                                b'<img src="./pic.png"><link ref="x">y</link></text><br><lt>')
    write("HdlIndex", "plain", b'RUS = "in.hdl"\n\0\xff\xfeH\0i\0 \0<\0b\0>\0!\0<\0/\0b\0>\0')
    write("HdlIndex", "bad", b'XYZ = "./a.hdl"\nENG "a"\n\0')

    def fields(*f):
        return b"\0".join(f)
    # Fields after the address: an operation (its first byte modulo 4: 0 set
    # or, with bit 0 of a second byte, remove a header; 1 add a part; 2
    # percent-encode; 3 parse an address), then its arguments.
    write("HttpRequest", "get", b"\x02" + struct.pack("<Q", 0x1234) +
          fields(b"http://example.com:8080/a/b?c=d#frag", b"\4", b"X-Name", b"value", b"\2", b"a b/c~\xff"))
    write("HttpRequest", "post", b"\x03" + struct.pack("<Q", 0xABCDEF) +
          fields(b"HTTP://host/up", b"\1", b"file", b"data\r\n--x", b"text/plain", b'filename="a.txt"',
                 b"\1", b"two", b"------qornethttp0----", b"", b"", b"\4", b"User-Agent", b"me"))
    write("HttpRequest", "remove", b"\x00" + struct.pack("<Q", 0) +
          fields(b"http://h", b"\4", b"Accept", b"*/*", b"\4\1", b"Accept", b"\3", b"http://other:1/x"))

    write("ConfigValues", "text-dec", b"\x01lang/current\0  -42 ")
    write("ConfigValues", "text-hex", b"\x01a/b/c\0\t0xFFFFFFFFFFFFFFFF\n")
    write("ConfigValues", "text-big", b"\x01x\0" + b"18446744073709551616")
    write("ConfigValues", "binary", b"\x00install/pkg\0\x01\x02\x03\x04\x05")
    write("ConfigValues", "binary-long", b"\x00a//b\0" + b"\x09" * 9)


if __name__ == "__main__":
    main()
