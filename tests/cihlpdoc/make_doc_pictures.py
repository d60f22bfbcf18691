#!/usr/bin/env python3
# Writes one 37 x 23 picture in several formats with Pillow, and beside each
# the RGB bytes Pillow decodes from that file (rows top first), into FOLDER:
#   make_doc_pictures.py FOLDER
# Files: pic.<ext> and pic.<ext>.rgb for each format written.
import os, sys
from PIL import Image

out = sys.argv[1]
w, h = 37, 23
im = Image.new('RGB', (w, h))
im.putdata([((x * 7 + y * 3) & 255, (y * 11) & 255, (x * y + 40) & 255) for y in range(h) for x in range(w)])
saves = {
    'png': lambda p: im.save(p, 'PNG'),
    'bmp': lambda p: im.save(p, 'BMP'),
    'gif': lambda p: im.convert('P', palette=Image.ADAPTIVE, colors=64).save(p, 'GIF'),
    'tif': lambda p: im.save(p, 'TIFF', compression='tiff_deflate'),
    'ppm': lambda p: im.save(p, 'PPM'),
    'tga': lambda p: im.save(p, 'TGA'),
    'pcx': lambda p: im.save(p, 'PCX'),
}
for ext, save in saves.items():
    path = os.path.join(out, 'pic.' + ext)
    save(path)
    with open(path + '.rgb', 'wb') as f:
        f.write(Image.open(path).convert('RGB').tobytes())
