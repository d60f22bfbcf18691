#!/usr/bin/env python3
"""Makes the damaged language blobs under malformed/ and the fuzz seeds
under fuzz/corpus/LangBlob/ (run from anywhere).  Fuzzer finds are added to
malformed/ beside these as they come."""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SEEDS = os.path.join(HERE, "..", "..", "..", "fuzz", "corpus", "LangBlob")


def section(name, texts):
    field = name.encode() + b"\0" * (-len(name.encode()) % 4)
    enc = [None if t is None else t.encode() for t in texts]
    body = struct.pack("<H", len(enc)) + b"".join(struct.pack("<H", 0xFFFF if t is None else len(t)) for t in enc)
    body += b"".join(t for t in enc if t is not None)
    return struct.pack("<I", len(field)) + field + struct.pack("<I", len(body)) + body


def blob(sections, name=b"English", body_extra=b"", r_delta=0):
    body = b"CIOMLANG" + b"".join(sections) + body_extra
    return (b"CIOMLAFICIOMBASEENG" + bytes([len(name)]) + name + struct.pack("<I", len(body) + r_delta) +
            zlib.compress(body, 5))


def main():
    good = blob([section("ciom::messages", ["Ok", "Yes", None, "", "Ошибка"]),
                 section("abcd", ["x"])])
    os.makedirs(SEEDS, exist_ok=True)
    open(os.path.join(SEEDS, "two-sections"), "wb").write(good)
    open(os.path.join(SEEDS, "empty-body"), "wb").write(blob([]))
    open(os.path.join(SEEDS, "names"), "wb").write(
        blob([section("lnames", ["English", "Русский", "日本"])], b"Langnames"))

    bad = {
        # The header ends inside the u32 body size: two of its four bytes.
        "header-cut-in-size": good[:20 + 7 + 2],
        "header-cut-in-name": good[:20 + 3],
        "name-length-past-end": good[:19] + b"\xff" + good[20:40],
        "size-zero": good[:27] + struct.pack("<I", 0) + good[31:],
        "size-over-limit": good[:27] + struct.pack("<I", 0x400001) + good[31:],
        "size-above-stream": blob([section("a", ["b"])], r_delta=5),
        "size-below-stream": blob([section("a", ["b"])], r_delta=-1),
        "stream-cut": good[:-6],
        "body-magic": good[:27] + struct.pack("<I", 20) + zlib.compress(b"CIOMLANX" + b"\0" * 12, 5),
        "name-field-past-body": blob([], body_extra=struct.pack("<I", 1000) + b"abcd"),
        "section-body-past-body": blob([], body_extra=struct.pack("<I", 4) + b"abcd" + struct.pack("<I", 99) + b"\1\0"),
        "no-entries": blob([], body_extra=struct.pack("<I", 4) + b"abcd" + struct.pack("<I", 4) + b"\0\0\0\0"),
        "lengths-past-section": blob([], body_extra=struct.pack("<I", 4) + b"abcd" + struct.pack("<I", 4) + b"\3\0\1\0"),
        "text-past-section": blob([], body_extra=struct.pack("<I", 4) + b"abcd" + struct.pack("<I", 6) + b"\1\0\5\0ab"),
        "trailing-half-section": blob([section("a", ["b"])], body_extra=b"\4\0"),
    }
    out = os.path.join(HERE, "malformed")
    os.makedirs(out, exist_ok=True)
    for name, data in bad.items():
        open(os.path.join(out, name), "wb").write(data)


if __name__ == "__main__":
    main()
