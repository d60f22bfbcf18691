#!/usr/bin/env python3
# Makes the damaged packed UI images under malformed/ (run from anywhere).
# Fuzzer finds are added beside them as they come.
import os, struct, zlib
here = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'malformed')
px = bytes(range(256)) * 3  # 192 pixels
def put(name, data):
    open(os.path.join(here, name), 'wb').write(data)
put('too-short', struct.pack('<ii', 1, 1))
put('too-wide', struct.pack('<ii', 65537, 1) + zlib.compress(b'\0' * 65537 * 4))
put('too-high', struct.pack('<ii', 1, 65537) + zlib.compress(b'\0' * 65537 * 4))
put('header-only', struct.pack('<ii', 4, 3))
put('zero-width', struct.pack('<ii', 0, 4) + zlib.compress(px))
put('negative-height', struct.pack('<ii', 4, -4) + zlib.compress(px))
put('huge-area', struct.pack('<ii', 65536, 65536) + zlib.compress(px))
put('short-stream', struct.pack('<ii', 16, 16) + zlib.compress(px))
put('long-stream', struct.pack('<ii', 4, 4) + zlib.compress(px))
put('cut-stream', struct.pack('<ii', 16, 12) + zlib.compress(px)[:-9])
put('bad-checksum', struct.pack('<ii', 16, 12) + zlib.compress(px)[:-1] + b'\0')
put('not-zlib', struct.pack('<ii', 2, 2) + b'\x00' * 16)
