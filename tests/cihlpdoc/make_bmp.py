#!/usr/bin/env python3
# Writes a 24-bit BMP of the given size whose pixel (x, y), y from the top, is
# (r, g, b) = (x * 40, y * 50, 200); usage: make_bmp.py PATH W H
import struct, sys
path, w, h = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
stride = (w * 3 + 3) & ~3
rows = b''
for y in range(h - 1, -1, -1):  # bottom row first
    row = b''.join(bytes((200, (y * 50) & 255, (x * 40) & 255)) for x in range(w))
    rows += row + b'\0' * (stride - len(row))
head = struct.pack('<2sIHHI', b'BM', 14 + 40 + len(rows), 0, 0, 54)
info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
open(path, 'wb').write(head + info + rows)
