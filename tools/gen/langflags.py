#!/usr/bin/env python3
"""Draws the language flags and writes src/uitoolkit/langflags.cpp.

    python3 tools/gen/langflags.py src/uitoolkit/langflags.cpp
    python3 tools/gen/langflags.py --sheet flags.png      # contact sheet

Needs python3-cairo.  Eleven flags by language id (English: the Union flag,
Russian, German, Japanese, Korean, French, Ukrainian, Spanish, Chinese
simplified: the PRC flag, Chinese traditional: the ROC flag, Turkish) at
16x11, 18x14, 27x22 and 30x20 pixels.  Each is drawn from its geometry at the
target size, then framed by a one-pixel line of 25 % black so that white
fields stay visible on white.  Pixels are opaque u32 0xAARRGGBB, bottom row
first.
"""
import math
import sys

import cairo

SIZES = [(16, 11), (18, 14), (27, 22), (30, 20)]

RED = (0.80, 0.07, 0.15)
WHITE = (1, 1, 1)
BLUE = (0.0, 0.22, 0.66)


def rgb(ctx, c):
    ctx.set_source_rgb(*c)


def bands(ctx, w, h, colours, vertical=False, weights=None):
    weights = weights or [1] * len(colours)
    total = float(sum(weights))
    at = 0.0
    side = w if vertical else h
    for c, k in zip(colours, weights):
        # Band edges on whole pixels, so small flags keep crisp stripes.
        a, b = round(at * side / total), round((at + k) * side / total)
        rgb(ctx, c)
        if vertical:
            ctx.rectangle(a, 0, b - a, h)
        else:
            ctx.rectangle(0, a, w, b - a)
        ctx.fill()
        at += k


def star(ctx, cx, cy, r, angle=-math.pi / 2):
    for i in range(10):
        rr = r if i % 2 == 0 else r * 0.382
        a = angle + i * math.pi / 5
        x, y = cx + rr * math.cos(a), cy + rr * math.sin(a)
        ctx.line_to(x, y) if i else ctx.move_to(x, y)
    ctx.close_path()
    ctx.fill()


def union(ctx, w, h):
    rgb(ctx, (0.0, 0.14, 0.49))
    ctx.paint()
    t = h / 5.0
    ctx.set_line_width(t)
    rgb(ctx, WHITE)
    ctx.move_to(0, 0); ctx.line_to(w, h); ctx.move_to(w, 0); ctx.line_to(0, h); ctx.stroke()
    ctx.set_line_width(t / 2.5)
    rgb(ctx, RED)
    ctx.move_to(0, 0); ctx.line_to(w, h); ctx.move_to(w, 0); ctx.line_to(0, h); ctx.stroke()
    rgb(ctx, WHITE)
    ctx.rectangle(0, h / 2 - t * 0.8, w, t * 1.6); ctx.rectangle(w / 2 - t * 0.8, 0, t * 1.6, h); ctx.fill()
    rgb(ctx, RED)
    ctx.rectangle(0, h / 2 - t * 0.45, w, t * 0.9); ctx.rectangle(w / 2 - t * 0.45, 0, t * 0.9, h); ctx.fill()


def japan(ctx, w, h):
    rgb(ctx, WHITE); ctx.paint()
    rgb(ctx, (0.74, 0.0, 0.18))
    ctx.arc(w / 2, h / 2, h * 0.3, 0, 2 * math.pi); ctx.fill()


def korea(ctx, w, h):
    rgb(ctx, WHITE); ctx.paint()
    cx, cy, r = w / 2, h / 2, h * 0.25
    rgb(ctx, (0.80, 0.05, 0.18))
    ctx.arc(cx, cy, r, math.pi, 2 * math.pi); ctx.fill()
    rgb(ctx, (0.0, 0.20, 0.53))
    ctx.arc(cx, cy, r, 0, math.pi); ctx.fill()
    rgb(ctx, (0.80, 0.05, 0.18))
    ctx.arc(cx - r / 2, cy, r / 2, 0, 2 * math.pi); ctx.fill()
    rgb(ctx, (0.0, 0.20, 0.53))
    ctx.arc(cx + r / 2, cy, r / 2, 0, 2 * math.pi); ctx.fill()
    # The four trigrams as short black bars on the diagonals.
    rgb(ctx, (0, 0, 0))
    ctx.set_line_width(max(1.0, h * 0.1))
    for sx, sy in ((-1, -1), (1, 1), (1, -1), (-1, 1)):
        ax, ay = cx + sx * w * 0.30, cy + sy * h * 0.30
        dx, dy = h * 0.09, -sx * sy * h * 0.09
        ctx.move_to(ax - dx, ay - dy); ctx.line_to(ax + dx, ay + dy)
    ctx.stroke()


def china(ctx, w, h):
    rgb(ctx, (0.93, 0.11, 0.14)); ctx.paint()
    rgb(ctx, (1.0, 0.87, 0.0))
    u = h / 20.0
    star(ctx, 5 * u, 5 * u, 3.4 * u)
    for x, y in ((10, 2), (12, 4), (12, 7), (10, 9)):
        star(ctx, x * u, y * u, 1.1 * u)


def taiwan(ctx, w, h):
    rgb(ctx, (0.99, 0.0, 0.0)); ctx.paint()
    rgb(ctx, (0.0, 0.0, 0.58))
    ctx.rectangle(0, 0, w / 2, h / 2); ctx.fill()
    cx, cy, r = w / 4, h / 4, h * 0.17
    rgb(ctx, WHITE)
    for i in range(12):
        a = i * math.pi / 6
        ctx.move_to(cx + r * 1.4 * math.cos(a), cy + r * 1.4 * math.sin(a))
        ctx.line_to(cx + r * 0.7 * math.cos(a + 0.26), cy + r * 0.7 * math.sin(a + 0.26))
        ctx.line_to(cx + r * 0.7 * math.cos(a - 0.26), cy + r * 0.7 * math.sin(a - 0.26))
        ctx.close_path()
    ctx.fill()
    ctx.arc(cx, cy, r * 0.8, 0, 2 * math.pi); ctx.fill()


def turkey(ctx, w, h):
    rgb(ctx, (0.89, 0.04, 0.09)); ctx.paint()
    rgb(ctx, WHITE)
    cx, cy = w * 0.36, h / 2
    ctx.arc(cx, cy, h * 0.25, 0, 2 * math.pi); ctx.fill()
    rgb(ctx, (0.89, 0.04, 0.09))
    ctx.arc(cx + h * 0.0625, cy, h * 0.2, 0, 2 * math.pi); ctx.fill()
    rgb(ctx, WHITE)
    star(ctx, cx + h * 0.36, cy, h * 0.125, math.pi)


def simple(colours, vertical=False, weights=None):
    return lambda ctx, w, h: bands(ctx, w, h, colours, vertical, weights)


FLAGS = [
    union,                                                                   # 0 ENG
    simple([WHITE, (0.0, 0.22, 0.65), (0.84, 0.17, 0.12)]),                   # 1 RUS
    simple([(0, 0, 0), (0.87, 0.0, 0.0), (1.0, 0.81, 0.0)]),                 # 2 DEU
    japan,                                                                   # 3 JPN
    korea,                                                                   # 4 KOR
    simple([(0.0, 0.14, 0.58), WHITE, (0.93, 0.16, 0.22)], vertical=True),   # 5 FRA
    simple([(0.0, 0.36, 0.73), (1.0, 0.84, 0.0)]),                           # 6 UKR
    simple([(0.67, 0.08, 0.11), (0.98, 0.74, 0.0), (0.67, 0.08, 0.11)], weights=[1, 2, 1]),  # 7 ESP
    china,                                                                   # 8 CHN
    taiwan,                                                                  # 9 TWN
    turkey,                                                                  # 10 TUR
]
NAMES = ["ENG", "RUS", "DEU", "JPN", "KOR", "FRA", "UKR", "ESP", "CHN", "TWN", "TUR"]


def render(index, w, h):
    surface = cairo.ImageSurface(cairo.FORMAT_ARGB32, w, h)
    ctx = cairo.Context(surface)
    FLAGS[index](ctx, w, h)
    ctx.set_source_rgba(0, 0, 0, 0.25)
    ctx.set_line_width(1)
    ctx.rectangle(0.5, 0.5, w - 1, h - 1)
    ctx.stroke()
    surface.flush()
    data = surface.get_data()
    stride = surface.get_stride()
    rows = []
    for y in range(h):
        row = []
        for x in range(w):
            b, g, r, a = data[y * stride + 4 * x: y * stride + 4 * x + 4]
            row.append(0xFF000000 | (r << 16) | (g << 8) | b)
        rows.append(row)
    return rows  # top row first


def sheet(path):
    scale, pad = 6, 8
    width = sum(w for w, _ in SIZES) * scale + pad * (len(SIZES) + 1)
    height = (max(h for _, h in SIZES) * scale + pad) * len(FLAGS) + pad
    surface = cairo.ImageSurface(cairo.FORMAT_RGB24, width, height)
    ctx = cairo.Context(surface)
    ctx.set_source_rgb(1, 1, 1)
    ctx.paint()
    for i in range(len(FLAGS)):
        x = pad
        y = pad + i * (max(h for _, h in SIZES) * scale + pad)
        for w, h in SIZES:
            for yy, row in enumerate(render(i, w, h)):
                for xx, p in enumerate(row):
                    ctx.set_source_rgb(((p >> 16) & 255) / 255.0, ((p >> 8) & 255) / 255.0, (p & 255) / 255.0)
                    ctx.rectangle(x + xx * scale, y + yy * scale, scale, scale)
                    ctx.fill()
            x += w * scale + pad
    surface.write_to_png(path)


def main():
    if sys.argv[1] == "--sheet":
        sheet(sys.argv[2])
        return
    out = ["// Generated by tools/gen/langflags.py (python3-cairo); do not edit:",
           "//     python3 tools/gen/langflags.py src/uitoolkit/langflags.cpp",
           "// The language flags by id, u32 0xAARRGGBB, bottom row first.",
           '#include "uitoolkit/langids.h"', "", "namespace {"]
    for w, h in SIZES:
        for i in range(len(FLAGS)):
            rows = render(i, w, h)[::-1]
            pixels = [p for row in rows for p in row]
            out.append("// %s %dx%d" % (NAMES[i], w, h))
            out.append("const unsigned int k%dx%d_%d[%d] = {" % (w, h, i, w * h))
            for k in range(0, len(pixels), 8):
                out.append("    " + ", ".join("0x%08x" % p for p in pixels[k:k + 8]) + ",")
            out.append("};")
    out.append("}  // namespace")
    out.append("")
    for w, h in SIZES:
        out.append("const unsigned int* const icColorDataLangs%dx%d[11] = {" % (w, h))
        out.append("    " + ", ".join("k%dx%d_%d" % (w, h, i) for i in range(11)) + ",")
        out.append("};")
    with open(sys.argv[1], "w") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
