#!/usr/bin/env python3
# Writes the item-table fuzz seeds (fuzz/corpus/SoftPkg/) and the hand-made
# damaged tables of tests/data/softpkg/malformed/.  Run from the top folder:
#   python3 tests/pakvane/make_softpkg_data.py
# Inputs found by the fuzzer are copied into the malformed folder by hand and
# are not made here.
import hashlib, os, struct, zlib

sha = lambda b: hashlib.sha256(b).digest()
END = bytes(8)
EMPTY = struct.pack('<II', 0xFFFFFFFF, 0) + sha(b'')

def rec(unpacked, data, plain=None):
    return struct.pack('<II', unpacked, len(data)) + sha(data if plain is None else plain) + data

def write(folder, name, data):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(data)

text = b'qor package install readme\n' * 40
z = zlib.compress(text, 9)
seeds = 'fuzz/corpus/SoftPkg'
write(seeds, 'end_only', END)
write(seeds, 'stored', rec(0, b'hello, package') + END)
write(seeds, 'deflated', rec(len(text), z, text) + END)
write(seeds, 'mixed_with_empty', rec(0, b'abc') + EMPTY + rec(len(text), z, text) + END)

bad = 'tests/data/softpkg/malformed'
# Lengths that would make a trusting reader allocate gigabytes or wrap.
write(bad, 'length_ffffffff', struct.pack('<II', 0, 0xFFFFFFFF) + sha(b'') + b'x' + END)
write(bad, 'deflated_claims_4gib', rec(0xFFFFFFFE, z, text) + END)
# A zlib stream that inflates far past its unpacked size.
bomb = zlib.compress(bytes(1 << 20), 9)
write(bad, 'inflates_past_its_size', rec(100, bomb, bytes(100)) + END)
# An empty item followed by a record cut inside its digest.
write(bad, 'empty_then_cut', EMPTY + struct.pack('<II', 0, 4) + sha(b'')[:9])
