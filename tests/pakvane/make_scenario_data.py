#!/usr/bin/env python3
# Writes the payload fuzz seeds (fuzz/corpus/BinScenario/, beside the
# sample payload copied there from examples/pkgmake's output) and the
# hand-made hostile inputs of tests/data/scenario/malformed/.  Run from the
# top folder:
#   python3 tests/pakvane/make_scenario_data.py
# or, for a payload of N install records of one item (a few bytes each
# once packed, the shape a checker must hold within its tables' size):
#   python3 tests/pakvane/make_scenario_data.py --one-item N OUT
# Inputs found by the fuzzers are copied into the malformed folder by
# tools/fuzz and are not made here.
import hashlib, os, struct, sys, zlib

def pack(body, size=None):
    z = zlib.compress(body, 9)
    return (b'QORSOPKG' + struct.pack('<BII', 1, len(body) if size is None else size, len(z))
            + hashlib.sha256(body).digest() + z)

def write(folder, name, data):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(data)

v1 = struct.pack('<4i', 1, 2, 0, 0) + b'\0\0' * 4

def one_item(n):
    """n file entries, all of item 0, each to its own place below the
    installation folder, and the one item: the bytes "x", stored."""
    entries = bytearray(b'\x04')
    for i in range(n):
        sub = b'share/doc/one-item/entries/e%07d.txt' % i
        entries += (b'\x01' + struct.pack('<II', 0, 0x03080808) + b'\x03\x00pgm'
                    + struct.pack('<H', len(sub)) + sub + b'\xff')
    entries += b'\x00'
    table = b'\x0d' + struct.pack('<II', 0, 1) + hashlib.sha256(b'x').digest() + b'x' + bytes(8)
    return pack(b'\x01' + v1 + bytes(entries) + table + b'\x00')

if len(sys.argv) == 4 and sys.argv[1] == '--one-item':
    with open(sys.argv[3], 'wb') as f:
        f.write(one_item(int(sys.argv[2])))
    sys.exit(0)
seeds = 'fuzz/corpus/BinScenario'
write(seeds, 'strings.data', pack(b'\x01' + v1 + b'\x06\x01\x01\x00a\x01\x00b\x00\x07\x00\x01\x01\x00c\x01\x00d\x00\xff\x00'))
write(seeds, 'lists.data', pack(b'\x01' + v1 + b'\x04\x01' + struct.pack('<II', 0, 0x03070505) + b'\0\0\x01\x00a\x00\xff\x00'
      + b'\x08\x01\x01\x00n\x02\x00\x34\x12\x00\x0c\x01\x03\x00old\xff\xff\x00'
      + b'\x0d' + struct.pack('<II', 0, 1) + hashlib.sha256(b'x').digest() + b'x' + bytes(8) + b'\x00'))

bad = 'tests/data/scenario/malformed'
# A header claiming a 4 GiB body for 8 packed bytes: refused before allocating.
write(bad, 'huge_body_claim.data', b'QORSOPKG' + struct.pack('<BII', 1, 0xFFFFFFFF, 8) + bytes(32)
      + zlib.compress(b'\0' * 10)[:8])
# A packed size beyond the end of the input.
write(bad, 'packed_past_end.data', b'QORSOPKG' + struct.pack('<BII', 1, 100, 0x7FFFFFFF) + bytes(32) + b'x\x9c')
# A file entry naming an item the table does not have.
write(bad, 'dangling_item.data', pack(b'\x01' + v1 + b'\x04\x01' + struct.pack('<II', 3, 0x03080808)
      + b'\0\0\x01\x00a\xff\x00\x00'))
# A "pgm" string in a language table would redirect the installation folder.
write(bad, 'pgm_string.data', pack(b'\x01' + v1 + b'\x07\x00\x01\x03\x00pgm\x01\x00/\x00\xff\x00'))
# 20,000 install records of one item: the check holds them within a small
# multiple of their table (see --one-item above for larger ones).
write('tests/data/scenario', 'one_item_20000_entries.data', one_item(20000))
# A text scenario whose Install folder links back into itself is made by the
# test itself (a link cannot be kept in the tree portably).
