#!/usr/bin/env python3
# Hostile compiled documents kept under tests/data/hdoc/malformed (run from
# the source root): nesting that would exhaust the stack of an unbounded
# recursive reader, and a language block that inflates to 100 MiB.
import struct, zlib
d = 'tests/data/hdoc/malformed/'
def doc(block):
    return b'QORHDOCF' + struct.pack('<BI', 0, len(block)) + block + b'\xff' + b'\0' * 12
box = struct.pack('<BIBHHHHHH', 2, 0xFFFFFFFF, 0, 0, 0, 0, 0, 0xFFFF, 0xFFFF) + struct.pack('<IHB', 0xFFFFFFFF, 0xFFFF, 0)
open(d + 'deep-nesting-200000', 'wb').write(doc(zlib.compress(box * 200000 + b'\xff' * 200001, 9)))
open(d + 'inflates-to-100MiB', 'wb').write(doc(zlib.compress(b'\xff' + b'\0' * (100 << 20), 9)))
