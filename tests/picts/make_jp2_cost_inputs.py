#!/usr/bin/python3
"""JPEG 2000 codestreams whose packet headers are written here bit by bit.

    make_jp2_cost_inputs.py tests/data fuzz/corpus
        the inputs that asked OpenJPEG for work their size does not show,
        alone and in the containers that hand them on, into
        tests/data/<format>/malformed/ (the payload into hdoc/payload/),
        and the fuzz entries' seeds into fuzz/corpus/<entry>/
    make_jp2_cost_inputs.py shapes OUTDIR
        codestreams of known packet headers (index.txt: name and the coding
        passes they give all their code-blocks together, up to 88 a block)
    make_jp2_cost_inputs.py encoded OUTDIR
        codestreams opj_compress writes of a 160 x 120 picture in every
        shape of tile, progression, precinct and coding style it takes
        (index.txt: name and 0)

Work that has no bytes behind it:
- packets: OpenJPEG walks every packet of every layer of every precinct,
  and marks each in an array of (layers + 1) x components x resolutions x
  the largest precinct count, however few bytes the tile holds: past the
  data every packet reads as empty;
- code-blocks: a packet that is not empty visits every code-block of its
  precinct, one that includes none of them too;
- positions: the position-driven progressions step over the reference grid
  at the finest precinct step of any component and resolution, trying every
  component and resolution at each step;
- coding passes: each pass a packet header declares for a code-block is
  run over the whole block, whether its data holds a byte for it or not.

The headers follow the standard's tier-2 coding (B.10): bit stuffing after
0xFF, tag trees for inclusion and zero bit-planes, the codewords of the
number of passes, Lblock and one length for each codeword segment (a pass
each when every pass is terminated; 10, then 2 and 1 in turn in the bypass
mode; all of them otherwise).
"""
import os
import random
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_factory_images as claims  # noqa: E402  containers around a codestream


# ---------------------------------------------------------------------------
# Packet headers (tier 2): bits, tag trees, the codewords of passes and
# lengths.

class Bits:
    """Packet header bits, most significant first; a byte after 0xFF holds
    seven (its top bit is the stuffed zero)."""

    def __init__(self):
        self.out = bytearray()
        self.byte = 0
        self.room = 8
        self.pending = 0

    def put(self, bit):
        self.room -= 1
        self.pending += 1
        self.byte |= (bit & 1) << self.room
        if self.room == 0:
            self._emit()

    def _emit(self):
        self.out.append(self.byte)
        self.room = 7 if self.byte == 0xFF else 8
        self.byte = 0
        self.pending = 0

    def put_value(self, v, n):
        for i in range(n - 1, -1, -1):
            self.put(v >> i)

    def finish(self):
        """Pads the header to a byte; one that ends in 0xFF is followed by
        the byte of its stuffed bit."""
        if self.pending:
            self._emit()
        elif self.out and self.out[-1] == 0xFF:
            self.out.append(0)
        return bytes(self.out)


class TagTree:
    """A tag tree over w x h leaves (B.10.2)."""

    def __init__(self, w, h, values):
        self.levels = []
        while True:
            self.levels.append((w, h))
            if w * h <= 1:
                break
            w, h = (w + 1) // 2, (h + 1) // 2
        self.value = [list(values)]
        for li in range(1, len(self.levels)):
            cw, ch = self.levels[li - 1]
            pw, ph = self.levels[li]
            child = self.value[li - 1]
            self.value.append([min(child[(2 * y + dy) * cw + 2 * x + dx]
                                   for dy in (0, 1) for dx in (0, 1) if 2 * y + dy < ch and 2 * x + dx < cw)
                               for y in range(ph) for x in range(pw)])
        self.low = [[0] * len(v) for v in self.value]
        self.known = [[False] * len(v) for v in self.value]

    def encode(self, bits, leaf, threshold):
        x, y = leaf % self.levels[0][0], leaf // self.levels[0][0]
        path = []
        for li, (w, h) in enumerate(self.levels):
            path.append((li, y * w + x))
            x, y = x // 2, y // 2
        low = 0
        for li, i in reversed(path):
            if low > self.low[li][i]:
                self.low[li][i] = low
            else:
                low = self.low[li][i]
            while low < threshold:
                if low >= self.value[li][i]:
                    if not self.known[li][i]:
                        bits.put(1)
                        self.known[li][i] = True
                    break
                bits.put(0)
                low += 1
            self.low[li][i] = low


def put_passes(bits, n):
    """The codeword of n new passes (Table B.4)."""
    if n == 1:
        bits.put(0)
    elif n == 2:
        bits.put_value(0b10, 2)
    elif n <= 5:
        bits.put_value(0b11, 2)
        bits.put_value(n - 3, 2)
    elif n <= 36:
        bits.put_value(0b1111, 4)
        bits.put_value(n - 6, 5)
    else:
        bits.put_value(0b111111111, 9)
        bits.put_value(n - 37, 7)


def floor_log2(n):
    return n.bit_length() - 1


TERMALL, BYPASS = 0x04, 0x01


class Block:
    """A code-block across the packets of its precinct: what each layer
    gives it ((passes, [segment lengths]), none: (0, [])), its zero
    bit-planes, Lblock and the codeword segment it is in."""

    def __init__(self, style, zero_planes=0):
        self.style = style
        self.layers = []
        self.zero = zero_planes
        self.lblock = 3
        self.seg_room = 0      # passes left in the open codeword segment
        self.seg_size = 0      # the passes it takes

    def first(self):
        for i, (p, _) in enumerate(self.layers):
            if p:
                return i
        return len(self.layers)

    def _next_segment(self):
        if self.style & TERMALL:
            size = 1
        elif self.style & BYPASS:
            size = 10 if self.seg_size == 0 else 2 if self.seg_size in (1, 10) else 1
        else:
            size = 109
        self.seg_size = self.seg_room = size

    def give(self, passes, rng):
        """Adds a layer of `passes` passes, with lengths of 0 to 3 bytes for
        each codeword segment it touches."""
        lengths = []
        left = passes
        while left:
            if self.seg_room == 0:
                self._next_segment()
            take = min(self.seg_room, left)
            lengths.append((take, rng.randrange(4)))
            self.seg_room -= take
            left -= take
        self.layers.append((passes, lengths))

    def passes(self):
        return sum(p for p, _ in self.layers)


def packet(layer, bands, eph=False):
    """One packet of one precinct: its header and its body.  `bands` is a
    list of [w, h, [Block]] (code-blocks in raster order); each band's tag
    trees are kept on its list (made at the first packet)."""
    bits = Bits()
    body = bytearray()
    if not any(b.layers[layer][0] for band in bands for b in band[2]):
        bits.put(0)
    else:
        bits.put(1)
        for band in bands:
            w, h, blocks = band[:3]
            if len(band) == 3:
                band.append(TagTree(w, h, [b.first() for b in blocks]))
                band.append(TagTree(w, h, [b.zero for b in blocks]))
            incl, zero = band[3], band[4]
            for i, b in enumerate(blocks):
                passes, lengths = b.layers[layer]
                first = b.first()
                if first < layer:
                    bits.put(1 if passes else 0)
                else:
                    incl.encode(bits, i, layer + 1)
                if not passes:
                    continue
                if first == layer:
                    zero.encode(bits, i, 999)
                put_passes(bits, passes)
                need = max(max(1, n.bit_length()) - floor_log2(take) for take, n in lengths)
                grow = max(0, need - b.lblock)
                for _ in range(grow):
                    bits.put(1)
                bits.put(0)
                b.lblock += grow
                for take, n in lengths:
                    bits.put_value(n, b.lblock + floor_log2(take))
                    body += bytes(n)
    head = bits.finish()
    if eph:
        head += b'\xff\x92'
    return head, bytes(body)


# ---------------------------------------------------------------------------
# Markers.

def marker(code, body=b''):
    return struct.pack('>HH', code, len(body) + 2) + body


def siz(w, h, tile_w, tile_h, comps):
    """comps: [(bits, xr, yr)]."""
    return marker(0xFF51, struct.pack('>HIIIIIIIIH', 0, w, h, 0, 0, tile_w, tile_h, 0, 0, len(comps)) +
                  b''.join(struct.pack('>BBB', bits - 1, xr, yr) for bits, xr, yr in comps))


def cod(layers, levels=0, cb=(6, 6), precincts=None, order=0, style=0, scod=0):
    """precincts: one (ppx, ppy) per resolution, or None for the largest."""
    body = struct.pack('>BBHB', scod | (1 if precincts else 0), order, layers, 0)
    body += struct.pack('>BBBBB', levels, cb[0] - 2, cb[1] - 2, style, 1)
    if precincts:
        body += bytes(ppx | ppy << 4 for ppx, ppy in precincts)
    return marker(0xFF52, body)


def coc(comp, levels, cb, precincts):
    body = struct.pack('>BB', comp, 1) + struct.pack('>BBBBB', levels, cb[0] - 2, cb[1] - 2, 0, 1)
    return marker(0xFF53, body + bytes(ppx | ppy << 4 for ppx, ppy in precincts))


def qcd(levels, exponent, guard=1):
    """No quantisation: one exponent for every band."""
    return marker(0xFF5C, bytes([guard << 5]) + bytes([exponent << 3]) * (3 * levels + 1))


def comment(n):
    """A comment of n bytes or more in as few segments as it takes."""
    out = b''
    while len(out) < n:
        out += marker(0xFF64, b'\x00\x01' + bytes(min(65531, max(0, n - len(out) - 6))))
    return out


def tile_part(index, data, headers=b'', part=0, parts=1):
    sot = struct.pack('>HHHIBB', 0xFF90, 10, index, 14 + len(headers) + len(data), part, parts)
    return sot + headers + b'\xff\x93' + data


def codestream(main, tiles):
    return b'\xff\x4f' + main + b''.join(tile_part(i, t) for i, t in enumerate(tiles)) + b'\xff\xd9'


# ---------------------------------------------------------------------------
# Codestreams of known packet headers: one resolution (no decomposition),
# so that a component's precincts and code-blocks are those of one band.

def shape(w, h, comps=((1, 1),), layers=1, cb=4, pp=None, tile=None, style=0, sop=False, eph=False,
          packing=None, parts=1, order=0, seed=1, rate=0.7, most=12):
    """A codestream of w x h (tiles of `tile`), components subsampled by
    comps' (xr, yr), `layers` layers in LRCP (order 0) or RLCP (1), code-blocks
    of 2^cb, precincts of 2^pp (None: one), code-block style `style`, SOP
    and EPH markers, its packet headers in the tile-parts' PPT segments or
    the main header's PPM (`packing`), each tile in `parts` tile-parts.
    Each code-block is in a layer with probability `rate`, with 1 to `most`
    passes.  Returns the codestream and the passes of all its code-blocks,
    each block's counted up to the 88 the library runs at most (3 x 30
    bit-planes - 2; it refuses more planes)."""
    rng = random.Random(seed)
    tw, th = tile or (w, h)
    scod = (2 if sop else 0) | (4 if eph else 0)
    main = siz(w, h, tw, th, [(8, xr, yr) for xr, yr in comps])
    main += cod(layers, 0, (cb, cb), [(pp, pp)] if pp is not None else None, order, style, scod)
    main += qcd(0, 12, 2)
    total = 0
    tiles = []   # per tile: [(header, body)] in order
    for ty in range((h + th - 1) // th):
        for tx in range((w + tw - 1) // tw):
            x0, y0, x1, y1 = tx * tw, ty * th, min((tx + 1) * tw, w), min((ty + 1) * th, h)
            precincts = []  # per component: [bands of each precinct]
            for xr, yr in comps:
                cx0, cy0, cx1, cy1 = -(-x0 // xr), -(-y0 // yr), -(-x1 // xr), -(-y1 // yr)
                p = 15 if pp is None else pp
                px0, py0 = (cx0 >> p) << p, (cy0 >> p) << p
                pw = 0 if cx0 == cx1 else (-(-cx1 >> p) - (cx0 >> p))
                ph = 0 if cy0 == cy1 else (-(-cy1 >> p) - (cy0 >> p))
                c = min(cb, p)
                mine = []
                for j in range(ph):
                    for i in range(pw):
                        ax0, ay0 = max(px0 + (i << p), cx0), max(py0 + (j << p), cy0)
                        ax1, ay1 = min(px0 + ((i + 1) << p), cx1), min(py0 + ((j + 1) << p), cy1)
                        bw = -(-ax1 >> c) - (ax0 >> c)
                        bh = -(-ay1 >> c) - (ay0 >> c)
                        blocks = [Block(style, rng.randrange(3)) for _ in range(bw * bh)]
                        for b in blocks:
                            for _ in range(layers):
                                b.give(rng.randrange(1, most + 1) if rng.random() < rate else 0, rng)
                            total += min(b.passes(), 88)
                        mine.append([[bw, bh, blocks]])
                precincts.append(mine)
            packets = []
            for layer in range(layers):
                for ci, mine in enumerate(precincts):
                    for bands in mine:
                        packets.append(packet(layer, bands, eph))
            tiles.append(packets)
    # The tile-parts: each tile's packets cut into `parts` runs.
    ppm = bytearray()
    out = b''
    count = 0
    for ti, packets in enumerate(tiles):
        cut = [len(packets) * k // parts for k in range(parts + 1)]
        z = 0  # the tile's PPT segments are numbered across its tile-parts
        for k in range(parts):
            heads, data = b'', b''
            for head, body in packets[cut[k]:cut[k + 1]]:
                if sop:
                    data += struct.pack('>HHH', 0xFF91, 4, count & 0xFFFF)
                count += 1
                if packing:
                    heads += head
                    data += body
                else:
                    data += head + body
            headers = b''
            if packing == 'ppt':
                for at in range(0, max(1, len(heads)), 60000):
                    headers += marker(0xFF61, bytes([z]) + heads[at:at + 60000])
                    z += 1
            elif packing == 'ppm':
                ppm += struct.pack('>I', len(heads)) + heads
            out += tile_part(ti, data, headers, k, parts)
    if packing == 'ppm':
        main += b''.join(marker(0xFF60, bytes([z]) + bytes(ppm[at:at + 60000]))
                         for z, at in enumerate(range(0, max(1, len(ppm)), 60000)))
    return b'\xff\x4f' + main + out + b'\xff\xd9', total


# ---------------------------------------------------------------------------
# The costly shapes.

def many_layers(layers, side=64, data=8):
    """One tile of side x side, one component, no decomposition, precincts of
    1 x 1 (so code-blocks of 1 x 1): side^2 packets a layer, the first
    `data` of them one empty byte each, the rest past the data."""
    main = siz(side, side, side, side, [(8, 1, 1)]) + cod(layers, 0, (6, 6), [(0, 0)]) + qcd(0, 9)
    return codestream(main, [bytes(data)])


def many_passes(blocks_x, blocks_y, passes, cb=6, exponent=29, guard=1, size=0):
    """One tile of blocks_x x blocks_y code-blocks of 2^cb, one component, no
    decomposition, one layer, one precinct: every block declares `passes`
    passes over one data byte.  The band's bit-planes (guard + exponent - 1)
    allow them: OpenJPEG runs 3 x planes - 2 at most.  A comment in the main
    header pads the codestream to about `size` bytes."""
    side = 1 << cb
    w, h = blocks_x * side, blocks_y * side
    main = siz(w, h, w, h, [(8, 1, 1)]) + cod(1, 0, (cb, cb)) + qcd(0, exponent, guard)
    blocks = []
    for _ in range(blocks_x * blocks_y):
        b = Block(0)
        b.layers.append((passes, [(passes, 1)]))
        blocks.append(b)
    head, body = packet(0, [[blocks_x, blocks_y, blocks]])
    pad = size - len(main) - len(head) - len(body) - 18
    return codestream(main + (comment(pad) if pad > 0 else b''), [head + body])


def empty_visits(layers, side=1024, pad=4096):
    """One precinct of side x side in code-blocks of 4 x 4, in `layers`
    layers whose packets are one byte each: not empty, the first code-block
    not yet included, and no other bit (the inclusion tree's root answers
    for the rest).  Each packet visits all the code-blocks."""
    main = siz(side, side, side, side, [(8, 1, 1)]) + cod(layers, 0, (2, 2)) + qcd(0, 9) + comment(pad)
    return codestream(main, [b'\x80' * layers])


def crossed_positions(side=11000, levels=8, order=2):
    """Two components, one subsampled 255 times down and one 255 times
    across, each with precincts of 2 samples at the full resolution along
    its other axis: the finest steps are 2 on both axes, so a
    position-driven order steps over a quarter of the grid for each of
    them at each of the resolutions, while each has few precincts."""
    pa = [(15, 15)] * levels + [(1, 15)]
    pb = [(15, 15)] * levels + [(15, 1)]
    main = siz(side, side, side, side, [(8, 1, 255), (8, 255, 1)])
    main += cod(1, levels, (6, 6), [(15, 15)] * (levels + 1), order)
    main += coc(0, levels, (6, 6), pa) + coc(1, levels, (6, 6), pb) + qcd(levels, 9)
    return codestream(main, [bytes(16)])


# ---------------------------------------------------------------------------
# Writers.

# name: (shape's arguments); each a different way of laying packet headers
# out, its passes counted by the generator.
SHAPES = {
    'one-block': dict(w=16, h=16, rate=1.0),
    'layers-of-blocks': dict(w=64, h=48, layers=5, cb=3, rate=0.5),
    'precincts': dict(w=70, h=50, layers=3, cb=3, pp=4),
    'precincts-rlcp': dict(w=70, h=50, layers=3, cb=3, pp=4, order=1),
    'components': dict(w=45, h=37, comps=((1, 1), (2, 1), (3, 2)), layers=2, cb=2, pp=3),
    'tiles': dict(w=100, h=60, tile=(32, 24), layers=2, cb=3),
    'tile-parts': dict(w=64, h=64, tile=(32, 32), layers=4, cb=3, parts=3),
    'sop-eph': dict(w=40, h=40, layers=3, cb=3, sop=True, eph=True),
    'terminated': dict(w=48, h=32, layers=3, cb=3, style=TERMALL, most=30),
    'bypass': dict(w=48, h=32, layers=4, cb=3, style=BYPASS, most=30),
    'long-segments': dict(w=32, h=32, layers=6, cb=4, most=40),
    'ppt': dict(w=64, h=48, tile=(32, 24), layers=3, cb=3, packing='ppt', parts=2),
    'ppm': dict(w=64, h=48, tile=(32, 24), layers=3, cb=3, packing='ppm', parts=2, eph=True),
    'many-blocks': dict(w=256, h=256, layers=2, cb=2, rate=0.9, most=6),
}


def write_shapes(out):
    os.makedirs(out, exist_ok=True)
    index = []
    for seed, (name, args) in enumerate(sorted(SHAPES.items())):
        data, passes = shape(seed=seed + 1, **args)
        with open(os.path.join(out, name + '.j2k'), 'wb') as f:
            f.write(data)
        index.append('%s.j2k %d' % (name, passes))
    with open(os.path.join(out, 'index.txt'), 'w') as f:
        f.write('\n'.join(index) + '\n')


# name: opj_compress's options.
ENCODED = {
    'lossless': [],
    'layers-20': ['-r', ','.join(str(r) for r in (200, 100, 50, 40, 30, 20, 15, 10, 8, 6, 5, 4, 3, 2.5, 2, 1.8, 1.6,
                                                     1.4, 1.2, 1))],
    'precincts': ['-r', '40,20,10', '-c', '[16,16],[16,16],[8,8]', '-n', '4'],
    'rlcp': ['-p', 'RLCP', '-r', '20,10,5'],
    'rpcl': ['-p', 'RPCL', '-c', '[32,32],[16,16]', '-r', '30,10'],
    'pcrl': ['-p', 'PCRL', '-c', '[32,32],[16,16]', '-r', '30,10'],
    'cprl': ['-p', 'CPRL', '-c', '[32,32],[16,16]', '-r', '30,10'],
    'tiles-offsets': ['-d', '13,7', '-T', '5,3', '-t', '48,40', '-p', 'RPCL', '-c', '[16,16],[8,8]', '-n', '3',
                      '-r', '30,10,3', '-SOP', '-EPH', '-M', '5'],
    'tile-parts': ['-t', '64,64', '-TP', 'L', '-r', '10,5,2'],
    'tile-parts-c': ['-t', '64,64', '-TP', 'C', '-p', 'CPRL', '-r', '10,5'],
    'poc': ['-POC', 'T0=0,0,2,2,3,RLCP/T0=0,0,4,6,3,CPRL', '-r', '40,20,10,5', '-c', '[32,32]'],
    'subsampled': ['-s', '2,2', '-p', 'PCRL', '-c', '[32,32],[16,16]', '-r', '20,10'],
    'code-blocks-4x64': ['-b', '4,64', '-r', '30,10'],
    'modes': ['-M', '63', '-r', '30,10'],
    'irreversible': ['-I', '-r', '50,20'],
}


def picture(w, h, seed):
    """A picture of smooth areas, edges and noise, as P6 bytes."""
    rng = random.Random(seed)
    px = bytearray()
    for y in range(h):
        for x in range(w):
            edge = 60 if (x // 20 + y // 15) % 2 else 0
            px += bytes(((x * 255 // w + edge + rng.randrange(9)) & 255, (y * 255 // h + rng.randrange(5)) & 255,
                         ((x ^ y) * 3 + edge) & 255))
    return b'P6\n%d %d\n255\n' % (w, h) + bytes(px)


def write_encoded(out):
    os.makedirs(out, exist_ok=True)
    tmp = tempfile.mkdtemp()
    src = os.path.join(tmp, 'src.ppm')
    with open(src, 'wb') as f:
        f.write(picture(160, 120, 73))
    index = []
    for name, args in sorted(ENCODED.items()):
        path = os.path.join(out, name + '.j2k')
        subprocess.run(['opj_compress', '-i', src, '-o', path] + args, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        index.append('%s.j2k 0' % name)
    with open(os.path.join(out, 'index.txt'), 'w') as f:
        f.write('\n'.join(index) + '\n')


def write_kept(top, seeds):
    put = claims.kept_writer(top, seeds, 'jp2cost-')

    # 65,535 layers of 4,096 precincts: 268 million packets.
    layers = many_layers(65535)
    put('jp2', 'slow-65535-layers-of-4096-precincts-in-%d-bytes.j2k' % len(layers), layers, 'Jp2')
    ic10 = claims.icns_element(b'ic10', layers)
    put('icns', 'slow-ic10-of-65535-layers-in-%d-bytes.icns' % len(ic10), ic10, 'Icns')
    doc = claims.hdoc_drawing(layers)
    put('hdoc', 'slow-picture-of-65535-layers.doc', doc, 'HdocLoader')
    put('hdoc', 'slow-picture-of-65535-layers.data', claims.payload_of(doc), sub='payload')
    # 4,900 code-blocks of 64 x 64 (4480 x 4480), each given 88 passes over
    # a byte; padded to the bytes its samples may ask.
    passes = many_passes(70, 70, 88, size=37 * 1024)
    put('jp2', 'slow-4900-code-blocks-of-88-passes-in-%d-bytes.j2k' % len(passes), passes, 'Jp2')
    # 998 packets, each visiting 65,536 code-blocks (past 998 layers
    # OpenJPEG's tag trees answer differently).
    visits = empty_visits(998)
    put('jp2', 'slow-998-packets-visiting-65536-code-blocks-in-%d-bytes.j2k' % len(visits), visits, 'Jp2')
    # Resolution-position order over crossed precincts: 545 million steps
    # into a 64 x 64 thumbnail.
    crossed = crossed_positions()
    put('jp2', 'slow-rpcl-steps-over-11000x11000-in-%d-bytes.j2k' % len(crossed), crossed, 'Jp2')
    # Small whole ones the fuzz entries start from: 20 layers of 16
    # precincts; 16 code-blocks of 88 passes; packet headers in PPT
    # segments, and in the main header's PPM.
    if seeds:
        for name, data in (('layers-20-of-16-precincts.j2k', many_layers(20, 4, 64)),
                           ('code-blocks-16-of-88-passes.j2k', many_passes(4, 4, 88, cb=4)),
                           ('ppt.j2k', shape(seed=3, **SHAPES['ppt'])[0]),
                           ('ppm.j2k', shape(seed=4, **SHAPES['ppm'])[0])):
            s = os.path.join(seeds, 'Jp2')
            os.makedirs(s, exist_ok=True)
            with open(os.path.join(s, 'jp2cost-' + name), 'wb') as f:
                f.write(data)


def main():
    if sys.argv[1] == 'shapes':
        write_shapes(sys.argv[2])
    elif sys.argv[1] == 'encoded':
        write_encoded(sys.argv[2])
    else:
        write_kept(sys.argv[1], sys.argv[2] if len(sys.argv) > 2 else None)


if __name__ == '__main__':
    main()
