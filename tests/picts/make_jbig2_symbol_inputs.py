#!/usr/bin/python3
"""Writes JBIG2 files whose symbol dictionaries and text regions refine
their symbols, into tests/data/jbig2/malformed/ (and the fuzz entry's seeds
into fuzz/corpus/Jbig2/ when a second folder is given):
    /usr/bin/python3 tests/picts/make_jbig2_symbol_inputs.py tests/data fuzz/corpus

Symbols are made of arithmetic-coded integers, and a refined symbol's size
is one of them: a dictionary of one new symbol, refined from a symbol of
one pixel, may say the new one is of millions of pixels in a few bytes.
jbig2dec decodes such a refinement pixel by pixel, reading ones once the
data has ended.  The decisions up to the refinement are coded here with
the arithmetic coder of the format (its MQ coder, integer and symbol ID
procedures); the refinement's own pixels are left to the data's end.
"""
import os
import struct
import sys

top = sys.argv[1]
seeds = sys.argv[2] if len(sys.argv) > 2 else None

# The coder's probability states: Qe, the next state after a more and after
# a less probable symbol, and whether a less probable one swaps the sense.
QE = [(0x5601, 1, 1, 1), (0x3401, 2, 6, 0), (0x1801, 3, 9, 0), (0x0AC1, 4, 12, 0), (0x0521, 5, 29, 0),
      (0x0221, 38, 33, 0), (0x5601, 7, 6, 1), (0x5401, 8, 14, 0), (0x4801, 9, 14, 0), (0x3801, 10, 14, 0),
      (0x3001, 11, 17, 0), (0x2401, 12, 18, 0), (0x1C01, 13, 20, 0), (0x1601, 29, 21, 0), (0x5601, 15, 14, 1),
      (0x5401, 16, 14, 0), (0x5101, 17, 15, 0), (0x4801, 18, 16, 0), (0x3801, 19, 17, 0), (0x3401, 20, 18, 0),
      (0x3001, 21, 19, 0), (0x2801, 22, 19, 0), (0x2401, 23, 20, 0), (0x2201, 24, 21, 0), (0x1C01, 25, 22, 0),
      (0x1801, 26, 23, 0), (0x1601, 27, 24, 0), (0x1401, 28, 25, 0), (0x1201, 29, 26, 0), (0x1101, 30, 27, 0),
      (0x0AC1, 31, 28, 0), (0x09C1, 32, 29, 0), (0x08A1, 33, 30, 0), (0x0521, 34, 31, 0), (0x0441, 35, 32, 0),
      (0x02A1, 36, 33, 0), (0x0221, 37, 34, 0), (0x0141, 38, 35, 0), (0x0111, 39, 36, 0), (0x0085, 40, 37, 0),
      (0x0049, 41, 38, 0), (0x0025, 42, 39, 0), (0x0015, 43, 40, 0), (0x0009, 44, 41, 0), (0x0005, 45, 42, 0),
      (0x0001, 45, 43, 0), (0x5601, 46, 46, 0)]


class Coder:
    """The MQ encoder: contexts are [state, more probable symbol] lists kept
    by the caller."""

    def __init__(self):
        self.a, self.c, self.ct = 0x8000, 0, 12
        self.out = [0]  # the byte before the first is a placeholder

    def _byteout(self):
        if self.out[-1] == 0xFF:
            self.out.append(self.c >> 20)
            self.c &= 0xFFFFF
            self.ct = 7
        elif self.c < 0x8000000:
            self.out.append(self.c >> 19)
            self.c &= 0x7FFFF
            self.ct = 8
        else:
            self.out[-1] += 1
            if self.out[-1] == 0xFF:
                self.c &= 0x7FFFFFF
                self.out.append(self.c >> 20)
                self.c &= 0xFFFFF
                self.ct = 7
            else:
                # The carry went into the byte before: bit 27 is gone.
                self.out.append(self.c >> 19 & 0xFF)
                self.c &= 0x7FFFF
                self.ct = 8

    def _renorm(self):
        while True:
            self.a <<= 1
            self.c <<= 1
            self.ct -= 1
            if self.ct == 0:
                self._byteout()
            if self.a & 0x8000:
                break

    def bit(self, cx, d):
        qe, nmps, nlps, switch = QE[cx[0]]
        self.a -= qe
        if d == cx[1]:
            if self.a & 0x8000:
                self.c += qe
                return
            if self.a < qe:
                self.a = qe
            else:
                self.c += qe
            cx[0] = nmps
        else:
            if self.a < qe:
                self.c += qe
            else:
                self.a = qe
            if switch:
                cx[1] = 1 - cx[1]
            cx[0] = nlps
        self._renorm()

    def run(self, cxs, rounds):
        """`rounds` rounds of each context's more probable symbol, the
        contexts taken in turn: one by one until every context has reached
        the last state, then all the rest at once.  At the last state (Qe
        of 1) each such decision takes 1 from A and adds 1 to C, whichever
        the context, and the one that takes A below 0x8000 renormalises."""
        while rounds and any(cx[0] != 45 for cx in cxs):
            for cx in cxs:
                self.bit(cx, cx[1])
            rounds -= 1
        n = rounds * len(cxs)
        while n:
            step = min(n, self.a - 0x7FFF)
            self.a -= step
            self.c += step
            n -= step
            if self.a < 0x8000:
                self._renorm()

    def flush(self):
        """The data, ended as the format ends it: with the marker 0xFF 0xAC,
        past which the decoder reads ones.  (Without it jbig2dec reads a
        zero byte first, and the last decision may come out wrong.)"""
        temp = self.c + self.a
        self.c |= 0xFFFF
        if self.c >= temp:
            self.c -= 0x8000
        self.c <<= self.ct
        self._byteout()
        self.c <<= self.ct
        self._byteout()
        data = bytes(self.out[1:])
        return data + (b'\xac' if data.endswith(b'\xff') else b'\xff\xac')


class Contexts(dict):
    def __missing__(self, key):
        self[key] = [0, 0]
        return self[key]


OOB = None


def integer(coder, cx, v):
    """The integer procedure (IAx): a sign, a prefix saying the range, the
    offset in it; OOB is the negative zero."""
    if v is OOB:
        s, v = 1, 0
    else:
        s, v = (1, -v) if v < 0 else (0, v)
    for prefix, bits, low in (([0], 2, 0), ([1, 0], 4, 4), ([1, 1, 0], 6, 20), ([1, 1, 1, 0], 8, 84),
                              ([1, 1, 1, 1, 0], 12, 340), ([1, 1, 1, 1, 1], 32, 4436)):
        if v < low + (1 << bits):
            break
    prev = 1
    for d in [s] + prefix:
        coder.bit(cx[prev], d)
        prev = prev << 1 | d
    for i in range(bits - 1, -1, -1):
        d = (v - low) >> i & 1
        coder.bit(cx[prev], d)
        prev = (prev << 1 & 511) | (prev & 256) | d


def symbol_id(coder, cx, v, length):
    prev = 1
    for i in range(length - 1, -1, -1):
        d = v >> i & 1
        coder.bit(cx[prev], d)
        prev = prev << 1 | d


def segment(number, kind, data, refers=(), page=1):
    return (struct.pack('>IB', number, kind) + bytes([len(refers) << 5]) + bytes(refers) + bytes([page]) +
            struct.pack('>I', len(data)) + data)


def page_info(w, h):
    return struct.pack('>IIIIBH', w, h, 0, 0, 0, 0)


def file(*segments):
    return bytes([0x97, 0x4A, 0x42, 0x32, 0x0D, 0x0A, 0x1A, 0x0A, 0x01]) + struct.pack('>I', 1) + b''.join(segments)


# Symbol dictionary flags: arithmetic coding, generic template 0 (its four
# adaptive pixels at their usual places), refinement template 1 (no
# adaptive pixels of its own).
GENERIC_AT = bytes([3, 0xFF, 0xFD, 0xFF, 2, 0xFE, 0xFE, 0xFE])
REFAGG, REFINE_TEMPLATE_1 = 0x0002, 0x1000


def one_pixel_dictionary():
    """One symbol of one black pixel, exported: a height class of 1, a width
    of 1, the pixel (all its context outside the symbol: context 0), the end
    of the class, then the export runs (none left out, one exported)."""
    c, ia = Coder(), {name: Contexts() for name in ('dh', 'dw', 'ex')}
    generic = Contexts()
    integer(c, ia['dh'], 1)
    integer(c, ia['dw'], 1)
    c.bit(generic[0], 1)
    integer(c, ia['dw'], OOB)
    integer(c, ia['ex'], 0)
    integer(c, ia['ex'], 1)
    return struct.pack('>H', 0) + GENERIC_AT + struct.pack('>II', 1, 1) + c.flush()


def whole_refined_dictionary(w, h):
    """One new symbol of w x h refining the one-pixel symbol placed far
    outside it (RDX 2^20), all its pixels coded: white, so that every pixel
    sees only white around it, in its own bitmap and in the reference
    (context 0 of refinement template 1).  Then the end of the height
    class, and the new symbol exported (the run of the one before it not
    exported, then a run of one)."""
    c = Coder()
    ia = {name: Contexts() for name in ('dh', 'dw', 'ai', 'rdx', 'rdy', 'ex')}
    integer(c, ia['dh'], h)
    integer(c, ia['dw'], w)
    integer(c, ia['ai'], 1)
    symbol_id(c, Contexts(), 0, 1)
    integer(c, ia['rdx'], 1 << 20)
    integer(c, ia['rdy'], 0)
    c.run([Contexts()[0]], w * h)
    integer(c, ia['dw'], OOB)
    integer(c, ia['ex'], 1)
    integer(c, ia['ex'], 1)
    return struct.pack('>H', REFAGG | REFINE_TEMPLATE_1) + GENERIC_AT + struct.pack('>II', 1, 1) + c.flush()


def generic_dictionary(w, h):
    """One new symbol of w x h coded as a generic region, whose pixels are
    left to the data's end; nothing exported."""
    c, ia = Coder(), {name: Contexts() for name in ('dh', 'dw')}
    integer(c, ia['dh'], h)
    integer(c, ia['dw'], w)
    return struct.pack('>H', 0) + GENERIC_AT + struct.pack('>II', 0, 1) + c.flush()


def extension(number, size):
    """An extension segment of `size` bytes that no decoder needs (its type
    unknown, its necessary bit clear): bytes of the file that carry
    nothing."""
    return segment(number, 62, struct.pack('>I', 0x10000000) + bytes(size - 4))


def refined_dictionary(w, h):
    """One new symbol of w x h refining the one-pixel symbol (ID 0 of the
    two, a one-bit ID): a height class of h, a width of w, one instance in
    the aggregate, so a refinement of symbol 0 at (0, 0), whose pixels are
    left to the data's end; nothing exported."""
    c = Coder()
    ia = {name: Contexts() for name in ('dh', 'dw', 'ai', 'rdx', 'rdy')}
    integer(c, ia['dh'], h)
    integer(c, ia['dw'], w)
    integer(c, ia['ai'], 1)
    symbol_id(c, Contexts(), 0, 1)
    integer(c, ia['rdx'], 0)
    integer(c, ia['rdy'], 0)
    return struct.pack('>H', REFAGG | REFINE_TEMPLATE_1) + GENERIC_AT + struct.pack('>II', 0, 1) + c.flush()


def placements_dictionary(instances):
    """One new symbol of 64 x 64 made of `instances` placements of the
    one-pixel symbol, all coded: the first in a strip of its own at T 0 and
    S 0, each next one at S offset 0 in the same strip, none refined, every
    value 0.  Once the contexts have learned that, a placement costs the
    data some 2^-12 bits: millions of them fit in a kilobyte.  Then the end
    of the height class, and neither symbol exported."""
    c = Coder()
    ia = {name: Contexts() for name in ('dh', 'dw', 'ai', 'dt', 'fs', 'ds', 'ri', 'ex')}
    ids = Contexts()
    integer(c, ia['dh'], 64)
    integer(c, ia['dw'], 64)
    integer(c, ia['ai'], instances)
    integer(c, ia['dt'], 0)
    integer(c, ia['dt'], 0)
    integer(c, ia['fs'], 0)
    symbol_id(c, ids, 0, 1)
    integer(c, ia['ri'], 0)
    # Each next placement: S offset 0 (sign, prefix, two bits), ID 0, not
    # refined (sign, prefix, two bits): nine decisions, all 0.
    c.run([ia['ds'][1], ia['ds'][2], ia['ds'][4], ia['ds'][8], ids[1], ia['ri'][1], ia['ri'][2], ia['ri'][4],
           ia['ri'][8]], instances - 1)
    integer(c, ia['dw'], OOB)
    integer(c, ia['ex'], 2)
    return struct.pack('>H', REFAGG | REFINE_TEMPLATE_1) + GENERIC_AT + struct.pack('>II', 0, 1) + c.flush()


def aggregate_dictionary(instances, refined=None):
    """One new symbol of 64 x 64 made of `instances` placements of the
    one-pixel symbol (a text region inside the dictionary); with
    refined=(w, h), the first placement is refined to w x h first, its
    pixels left to the data's end.  Only the first placement is coded; the
    rest are read from the data's end."""
    c = Coder()
    ia = {name: Contexts() for name in ('dh', 'dw', 'ai', 'dt', 'fs', 'ri', 'rdw', 'rdh', 'rdx', 'rdy')}
    integer(c, ia['dh'], 64)
    integer(c, ia['dw'], 64)
    integer(c, ia['ai'], instances)
    integer(c, ia['dt'], 0)   # the strip's T
    integer(c, ia['dt'], 0)   # the first strip's delta T
    integer(c, ia['fs'], 0)   # its first S
    symbol_id(c, Contexts(), 0, 1)
    if refined:
        integer(c, ia['ri'], 1)
        integer(c, ia['rdw'], refined[0] - 1)
        integer(c, ia['rdh'], refined[1] - 1)
        integer(c, ia['rdx'], 0)
        integer(c, ia['rdy'], 0)
    else:
        integer(c, ia['ri'], 0)
    return struct.pack('>H', REFAGG | REFINE_TEMPLATE_1) + GENERIC_AT + struct.pack('>II', 0, 1) + c.flush()


def refining_text_region(instances, refined):
    """An immediate text region of 64 x 64 with refinement placing the
    one-pixel symbol `instances` times, the first refined to w x h, its
    pixels left to the data's end; the rest are read from the data's end."""
    c = Coder()
    ia = {name: Contexts() for name in ('dt', 'fs', 'ri', 'rdw', 'rdh', 'rdx', 'rdy')}
    integer(c, ia['dt'], 0)
    integer(c, ia['dt'], 0)
    integer(c, ia['fs'], 0)
    symbol_id(c, Contexts(), 0, 0)
    integer(c, ia['ri'], 1)
    integer(c, ia['rdw'], refined[0] - 1)
    integer(c, ia['rdh'], refined[1] - 1)
    integer(c, ia['rdx'], 0)
    integer(c, ia['rdy'], 0)
    # Region: 64 x 64 at (0, 0), OR; flags: refinement, one strip, top
    # left, refinement template 1.
    info = struct.pack('>IIIIB', 64, 64, 0, 0, 0)
    return info + struct.pack('>H', 0x0002 | 0x8000) + struct.pack('>I', instances) + c.flush()


def put(name, data, seed=False, sub='malformed'):
    d = os.path.join(top, 'jbig2', sub)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), 'wb') as f:
        f.write(data)
    print('jbig2', name, len(data))
    if seeds and seed:
        s = os.path.join(seeds, 'Jbig2')
        os.makedirs(s, exist_ok=True)
        with open(os.path.join(s, 'symbols-' + name), 'wb') as f:
            f.write(data)


if __name__ == '__main__':
    page = segment(0, 48, page_info(64, 64))
    pixel = segment(1, 0, one_pixel_dictionary())
    put('slow-refined-symbol-of-8000x8000.jb2', file(page, pixel, segment(2, 0, refined_dictionary(8000, 8000), [1])),
        True)
    put('slow-refined-symbol-of-16000x12000-in-32-kb.jb2',
        file(page, pixel, extension(2, 32768), segment(3, 0, refined_dictionary(16000, 12000), [1])))
    put('slow-generic-symbol-of-8000x8000.jb2', file(page, segment(1, 0, generic_dictionary(8000, 8000))))
    # Whole: the page ends after the dictionary, a white page once the
    # placements are made.
    put('slow-aggregate-symbol-of-2-25-placements.jb2',
        file(page, pixel, segment(2, 0, placements_dictionary(1 << 25), [1]), segment(3, 49, b'')), True)
    put('slow-aggregate-symbol-refined-to-8000x8000.jb2',
        file(page, pixel, segment(2, 0, aggregate_dictionary(2, (8000, 8000)), [1])))
    put('slow-text-region-refined-to-8000x8000.jb2',
        file(page, pixel, segment(2, 6, refining_text_region(1, (8000, 8000)), [1])))
    # Whole files, a white page after a dictionary of one refined symbol,
    # all its pixels coded: 1024 x 1024 is well within what a file of some
    # 200 bytes may cost, 2100 x 2100 just past it (refinement's 32 units a
    # pixel against kJbig2FreeWork and 8192 a byte).
    end = segment(3, 49, b'')
    for side in (1024, 2100):
        put('refined-symbol-of-%dx%d.jb2' % (side, side),
            file(page, pixel, segment(2, 0, whole_refined_dictionary(side, side), [1]), end), side == 1024, '')
