#!/usr/bin/env python3
"""Draws the pictures of the toolkit's two themes and writes
src/uitoolkit/themepics.cpp.

    python3 tools/gen/themepics.py src/uitoolkit/themepics.cpp
    python3 tools/gen/themepics.py --sheet /tmp/theme.png   # contact sheet

Needs python3-cairo.  Each of the 157 slots is drawn at its exact size for
the default theme (bevelled: gradients, light top-left and dark bottom-right
edges, outlined shapes) and for the flat theme (solid fills, hairline
borders, one blue accent).  Slots that the flat theme keeps as a plain
colour or leaves absent carry no pixels.  Every picture is stored as a
packed UI image: i32 width, i32 height, then a zlib stream of u32
0xAARRGGBB pixels (straight alpha), bottom row first.  The sheet shows every
slot of both themes enlarged on a checkerboard, with its index, name and
size, followed by the language flags of tools/gen/langflags.py.
"""
import math
import os
import struct
import sys
import zlib

import cairo

# ---- the slots ---------------------------------------------------------------
# (default name, default size, flat name, flat size, flat kind, flat colour)
# flat kind: "pic" a drawn picture, "colour" size and colour without pixels,
# "absent" 0 x 0.

SLOTS = []


def slot(name, dsize, fsize=None, fname=None, kind="pic", colour=0):
    SLOTS.append((name, dsize, fname or name, fsize or dsize, kind, colour))


slot("cform_left_up", (5, 30), (1, 1), kind="colour")
slot("cform_up", (1, 30), (1, 1), kind="colour")
slot("cform_right_up", (5, 30), (1, 1), kind="colour")
slot("cform_left", (5, 1), (1, 1), kind="colour")
slot("cform_right", (5, 1), (1, 1), kind="colour")
slot("cform_left_down", (8, 40), (1, 1), kind="colour")
slot("cform_down", (1, 40), (1, 1), kind="colour")
slot("cform_right_down", (8, 40), (1, 1), kind="colour")
slot("bmk_close_passive", (8, 8), (10, 10))
slot("bmk_close_active", (8, 8), (10, 10))
slot("bmk_act_left", (3, 24), (1, 1), kind="colour", colour=0xADAEAD)
slot("bmk_act_right", (3, 24), (1, 1), kind="colour", colour=0xADAEAD)
slot("bmk_fill_act", (1, 18), (1, 1))
slot("bmk_fill_pass", (1, 18), (1, 1))
slot("tabv_fill_bottom", (1, 3), (1, 3), kind="colour", colour=0xFFFFFF)
slot("tabv_list_act", (11, 17), (12, 14))
slot("tabv_list_pass", (11, 17), (12, 14))
for side in ("left", "right"):
    for st in ("act", "pass", "dsb"):
        slot("tabv_%s_%s" % (side, st), (12, 14))
for st in ("default", "active", "hovered", "action", "disabled"):
    slot("button_bg_" + st, (1, 20), (1, 1))
slot("dropdown_button", (7, 7))
slot("dropdown_right_button", (7, 7))
for st in ("default", "active", "disabled"):
    slot("check_unchecked_" + st, (10, 10), (12, 12))
    slot("check_checked_" + st, (10, 10), (12, 12))
for st in ("default", "active", "disabled"):
    slot("radio_unchecked_" + st, (11, 11))
    slot("radio_checked_" + st, (11, 11))
for n in ("icoComp", "icoDisk", "icoDiskOff", "icoDiskImg", "icoDiskRAID", "icoDiskNet",
          "icoFolder", "icoFolderUnch", "icoFolderPch", "icoFolderCh",
          "icoUFolder", "icoUFolderUnch", "icoUFolderPch", "icoUFolderCh",
          "icoSFolder", "icoSFolderUnch", "icoSFolderPch", "icoSFolderCh",
          "icoFile", "icoUFile", "icoSFile", "icoOther", "icoFsObjBad", "icoLink"):
    slot(n, (18, 18))
slot("ctl_expand", (8, 9), (6, 6), fname="ctl_prop_expand")
slot("ctl_collapse", (8, 9), (6, 6), fname="ctl_prop_collapse")
slot("ctl_expand", (8, 9), (9, 9))
slot("ctl_collapse", (8, 9), (9, 9))
slot("ctl_tree_throu_link", (8, 9))
slot("ctl_tree_term_link", (8, 9))
slot("ctl_dropdown", (5, 10))
for n in ("icstateInfo", "icstateQuestion", "icstateWarning", "icstateError"):
    slot(n, (27, 27))
slot("icoOk", (20, 16), (16, 16))
slot("icoCancel", (20, 16), (16, 16))
slot("icoGo", (14, 14), (16, 16))
for n in ("icoOpen", "icoSave", "icoHome", "icoPlaces"):
    slot(n, (20, 16), (16, 16))
slot("icoNewObj", (20, 16), (16, 16), fname="icoNewFld")
slot("icoOk", (20, 16), (16, 16), fname="icoDetails")
slot("scroll_corner", (14, 14), (16, 16), kind="colour", colour=0xFFFFFF)
# The scroll bars: the horizontal pieces, then the vertical ones.
for p, across in (("sb_", False), ("vsb_", True)):
    def sz(w, h, swap=across):
        return (h, w) if swap else (w, h)
    slot(p + "nc", sz(4, 14), (0, 0), kind="absent")
    for n in ("area", "slider"):
        for st in ("", "_hov", "_pr"):
            slot(p + n + st, sz(1, 14), sz(1, 2))
    for n in ("sl_top", "sl_bot"):
        for st in ("", "_hov", "_pr"):
            slot(p + n + st, sz(2, 14), (0, 0), kind="absent")
    for n in ("btu", "btd"):
        for st in ("", "_hov", "_pr"):
            slot(p + n + st, sz(10, 14), (15, 15))
    for n in ("btb", "btb_hov", "btb_pr", "bts"):
        slot(p + n, sz(1, 14), (1, 2))
    for n in ("btus", "btds"):
        for st in ("", "_hov", "_pr"):
            slot(p + n + st, sz(6, 14), sz(6, 15))
slot("navi_sep_normal", (6, 6))
slot("navi_sep_active", (6, 6))
for n in ("gen_green", "gen_grey", "gen_yellow", "gen_red"):
    slot(n, (10, 10), (8, 8))
for n in ("stdbutton_edit", "stdbutton_up", "stdbutton_down", "stdbutton_remove",
          "raidctl_add", "raidctl_add_dph"):
    slot(n, (14, 14))
assert len(SLOTS) == 157, len(SLOTS)

# ---- colours -----------------------------------------------------------------


def hexrgb(v):
    return ((v >> 16) & 255) / 255.0, ((v >> 8) & 255) / 255.0, (v & 255) / 255.0


def mix(a, b, t):
    return tuple(x * (1 - t) + y * t for x, y in zip(a, b))


WHITE = (1, 1, 1)
BLACK = (0, 0, 0)


class Look:
    """The palette and the manner of one theme."""

    def __init__(self, flat):
        self.flat = flat
        if flat:
            self.face = WHITE
            self.face2 = hexrgb(0xF3F3F3)
            self.line = hexrgb(0xADAEAD)
            self.dark = hexrgb(0x6C6C6C)
            self.accent = hexrgb(0x3C809D)
            self.accent2 = hexrgb(0x5EA4CD)
            self.select = hexrgb(0xDAE2EC)
            self.text = hexrgb(0x303030)
            self.disabled = hexrgb(0xC8C8C8)
        else:
            self.face = hexrgb(0xDFE5F3)
            self.face2 = hexrgb(0xC6D5F1)
            self.line = hexrgb(0x8C98B8)
            self.dark = hexrgb(0x5A6482)
            self.accent = hexrgb(0x3399FF)
            self.accent2 = hexrgb(0x7CBCFF)
            self.select = hexrgb(0xC6D5F1)
            self.text = hexrgb(0x404040)
            self.disabled = hexrgb(0xB4B8C4)


def src(ctx, c, a=1.0):
    ctx.set_source_rgba(c[0], c[1], c[2], a)


def vgrad(ctx, y0, y1, top, bottom):
    g = cairo.LinearGradient(0, y0, 0, y1)
    g.add_color_stop_rgb(0, *top)
    g.add_color_stop_rgb(1, *bottom)
    ctx.set_source(g)


def rgrad(ctx, cx, cy, r, inner, outer):
    g = cairo.RadialGradient(cx - r * 0.35, cy - r * 0.4, r * 0.1, cx, cy, r)
    g.add_color_stop_rgb(0, *inner)
    g.add_color_stop_rgb(1, *outer)
    ctx.set_source(g)


def rrect(ctx, x, y, w, h, r):
    r = min(r, w / 2.0, h / 2.0)
    ctx.new_sub_path()
    ctx.arc(x + w - r, y + r, r, -math.pi / 2, 0)
    ctx.arc(x + w - r, y + h - r, r, 0, math.pi / 2)
    ctx.arc(x + r, y + h - r, r, math.pi / 2, math.pi)
    ctx.arc(x + r, y + r, r, math.pi, 1.5 * math.pi)
    ctx.close_path()


def tri(ctx, cx, cy, size, direction):
    """A filled arrow head pointing left, right, up or down."""
    s = size / 2.0
    pts = {"down": [(-s, -s / 2), (s, -s / 2), (0, s / 2)],
           "up": [(-s, s / 2), (s, s / 2), (0, -s / 2)],
           "right": [(-s / 2, -s), (-s / 2, s), (s / 2, 0)],
           "left": [(s / 2, -s), (s / 2, s), (-s / 2, 0)]}[direction]
    ctx.move_to(cx + pts[0][0], cy + pts[0][1])
    for x, y in pts[1:]:
        ctx.line_to(cx + x, cy + y)
    ctx.close_path()
    ctx.fill()


def pix_arrow(ctx, bw, bh, direction, n, dx=0, dy=0):
    """A crisp arrow head of n pixel steps, centred in a bw x bh box: each
    step one pixel longer at both ends; a two-pixel tip where the box's
    cross size is even, so the arrow sits exactly in the middle."""
    horizontal = direction in ("left", "right")
    main, cross = (bw, bh) if horizontal else (bh, bw)
    tip = 2 if cross % 2 == 0 else 1
    start = (main - n) // 2
    for k in range(n):
        length = tip + 2 * k
        c0 = (cross - length) // 2
        m = start + k if direction in ("left", "up") else start + n - 1 - k
        if horizontal:
            ctx.rectangle(m + dx, c0 + dy, 1, length)
        else:
            ctx.rectangle(c0 + dx, m + dy, length, 1)
    ctx.fill()


def chevron(ctx, cx, cy, s, direction, width):
    ctx.set_line_width(width)
    ctx.set_line_cap(cairo.LINE_CAP_ROUND)
    ctx.set_line_join(cairo.LINE_JOIN_ROUND)
    d = {"right": [(-s / 2, -s), (s / 2, 0), (-s / 2, s)], "down": [(-s, -s / 2), (0, s / 2), (s, -s / 2)]}[direction]
    ctx.move_to(cx + d[0][0], cy + d[0][1])
    for x, y in d[1:]:
        ctx.line_to(cx + x, cy + y)
    ctx.stroke()


def bevel(ctx, look, x, y, w, h, top, bottom, sunken=False):
    """A bevelled box on whole pixels: gradient face, light top-left and dark
    bottom-right edges inside a dark outline."""
    vgrad(ctx, y, y + h, top, bottom)
    ctx.rectangle(x, y, w, h)
    ctx.fill()
    hi, lo = (mix(look.line, BLACK, 0.1), WHITE) if sunken else (WHITE, look.line)
    src(ctx, hi, 0.9)
    ctx.rectangle(x + 1, y + 1, w - 2, 1)
    ctx.rectangle(x + 1, y + 1, 1, h - 2)
    ctx.fill()
    src(ctx, lo, 0.9)
    ctx.rectangle(x + 1, y + h - 2, w - 2, 1)
    ctx.rectangle(x + w - 2, y + 1, 1, h - 2)
    ctx.fill()
    src(ctx, look.dark)
    ctx.set_line_width(1)
    ctx.rectangle(x + 0.5, y + 0.5, w - 1, h - 1)
    ctx.stroke()


# ---- the pieces ----------------------------------------------------------------


def form_piece(ctx, look, name, w, h):
    """The custom form's frame (default theme only): a title band, side
    columns and a bottom band around the client area."""
    light, deep = mix(look.face, WHITE, 0.55), look.face2
    vgrad(ctx, 0, h, light, deep) if "down" not in name else vgrad(ctx, 0, h, deep, light)
    ctx.paint()
    src(ctx, look.dark)
    if name.endswith("left_up") or name.endswith("left_down") or name == "cform_left":
        ctx.rectangle(0, 0, 1, h)
        ctx.fill()
        src(ctx, WHITE, 0.8)
        ctx.rectangle(1, 0, 1, h)
        ctx.fill()
    if name.endswith("right_up") or name.endswith("right_down") or name == "cform_right":
        ctx.rectangle(w - 1, 0, 1, h)
        ctx.fill()
        src(ctx, look.line, 0.8)
        ctx.rectangle(w - 2, 0, 1, h)
        ctx.fill()
    src(ctx, look.dark)
    if name.endswith("_up"):
        ctx.rectangle(0, 0, w, 1)
        ctx.fill()
        src(ctx, WHITE, 0.8)
        ctx.rectangle(1 if "left" in name else 0, 1, w - (1 if "left" in name or "right" in name else 0), 1)
        ctx.fill()
    if name.endswith("_down"):
        ctx.rectangle(0, h - 1, w, 1)
        ctx.fill()
        src(ctx, look.line, 0.8)
        ctx.rectangle(0, h - 2, w, 1)
        ctx.fill()


def close_mark(ctx, look, w, h, active):
    if active:
        if look.flat:
            src(ctx, hexrgb(0xD9534F))
            ctx.arc(w / 2, h / 2, w / 2, 0, 2 * math.pi)
            ctx.fill()
            src(ctx, WHITE)
        else:
            src(ctx, hexrgb(0xC0392B))
    else:
        src(ctx, look.dark if not look.flat else look.line)
    m = 2.5 if look.flat else 1.5
    ctx.set_line_width(1.5 if look.flat else 1.6)
    ctx.set_line_cap(cairo.LINE_CAP_ROUND)
    ctx.move_to(m, m); ctx.line_to(w - m, h - m)
    ctx.move_to(w - m, m); ctx.line_to(m, h - m)
    ctx.stroke()


def tab_piece(ctx, look, name, w, h):
    if name == "bmk_fill_act":
        vgrad(ctx, 0, h, WHITE, mix(look.face, WHITE, 0.5)) if not look.flat else src(ctx, WHITE)
        ctx.paint()
    elif name == "bmk_fill_pass":
        vgrad(ctx, 0, h, mix(look.face, WHITE, 0.3), look.face2) if not look.flat else src(ctx, look.face2)
        ctx.paint()
    elif name in ("bmk_act_left", "bmk_act_right"):
        # The rounded sides of the active tab.
        # three columns: the outline with a cut corner, a highlight, the face
        left = name.endswith("left")
        col = (lambda i: i) if left else (lambda i: w - 1 - i)
        vgrad(ctx, 0, h, WHITE, mix(look.face, WHITE, 0.5))
        ctx.rectangle(col(1), 2, 1, h - 2)
        ctx.rectangle(col(2), 1, 1, h - 1)
        ctx.fill()
        src(ctx, look.dark)
        ctx.rectangle(col(0), 2, 1, h - 2)
        ctx.rectangle(col(1), 1, 1, 1)
        ctx.rectangle(col(2), 0, 1, 1)
        ctx.fill()
        if left:
            src(ctx, WHITE)
            ctx.rectangle(col(1), 2, 1, h - 2)
            ctx.fill()
    elif name == "tabv_fill_bottom":
        src(ctx, look.dark)
        ctx.rectangle(0, 0, w, 1)
        ctx.fill()
        src(ctx, WHITE)
        ctx.rectangle(0, 1, w, 1)
        ctx.fill()
        src(ctx, look.face)
        ctx.rectangle(0, 2, w, 1)
        ctx.fill()


def tab_button(ctx, look, name, w, h):
    """The tab view's list and scroll buttons."""
    state = name.rsplit("_", 1)[1]
    colour = {"act": look.accent if look.flat else look.text, "pass": look.dark if not look.flat else look.line,
              "dsb": look.disabled}[state]
    if not look.flat:
        top = WHITE if state != "dsb" else mix(look.face, WHITE, 0.5)
        bevel(ctx, look, 0, 0, w, h, top, look.face if state != "act" else look.face2)
    elif state == "act":
        src(ctx, look.select)
        rrect(ctx, 0, 0, w, h, 2)
        ctx.fill()
    src(ctx, colour)
    cx, cy = w / 2.0, h / 2.0
    if "list" in name:
        pix_arrow(ctx, w, h, "down", 3, 0, 2)
        ctx.rectangle((w - 5) // 2 if w % 2 else (w - 6) // 2, h // 2 - 3, 5 if w % 2 else 6, 1)
        ctx.fill()
    else:
        pix_arrow(ctx, w, h, "left" if "left" in name else "right", 3 if not look.flat else 4)


def button_bg(ctx, look, name, w, h):
    st = name[len("button_bg_"):]
    if look.flat:
        c = {"default": WHITE, "active": look.select, "hovered": hexrgb(0xEEF3F8),
             "action": look.accent2, "disabled": look.face2}[st]
        src(ctx, c)
        ctx.paint()
        return
    top, bottom = {"default": (WHITE, look.face), "active": (hexrgb(0xEAF3FF), look.accent2),
                   "hovered": (WHITE, mix(look.face, look.accent2, 0.35)),
                   "action": (look.accent2, mix(look.accent2, WHITE, 0.6)),
                   "disabled": (mix(look.face, WHITE, 0.6), mix(look.face, WHITE, 0.3))}[st]
    if st == "action":
        top, bottom = bottom, top
        top = mix(look.accent2, look.dark, 0.15)
    vgrad(ctx, 0, h, top, bottom)
    ctx.paint()
    src(ctx, WHITE, 0.7 if st != "action" else 0.0)
    ctx.rectangle(0, 0, w, 1)
    ctx.fill()


def dropdown(ctx, look, name, w, h):
    src(ctx, look.text if not look.flat else look.dark)
    pix_arrow(ctx, w, h, "right" if "right" in name else "down", 4)


def check_box(ctx, look, name, w, h):
    checked = "_checked_" in name
    st = name.rsplit("_", 1)[1]
    dis = st == "disabled"
    if look.flat:
        fill = look.accent if checked and not dis else (look.disabled if checked else (look.face2 if dis else WHITE))
        if checked and st == "active":
            fill = mix(look.accent, BLACK, 0.25)
        elif st == "active":
            fill = hexrgb(0xEEF5FA)
        border = {"default": look.line, "active": look.accent, "disabled": look.disabled}[st]
        src(ctx, fill)
        rrect(ctx, 0.5, 0.5, w - 1, h - 1, 2)
        ctx.fill_preserve()
        src(ctx, border if not checked else fill)
        ctx.set_line_width(1)
        ctx.stroke()
        mark = WHITE
    else:
        border = {"default": look.dark, "active": look.accent, "disabled": look.disabled}[st]
        vgrad(ctx, 0, h, mix(look.face, BLACK, 0.05) if not dis else look.face, WHITE)
        ctx.rectangle(0, 0, w, h)
        ctx.fill()
        src(ctx, border)
        ctx.set_line_width(1)
        ctx.rectangle(0.5, 0.5, w - 1, h - 1)
        ctx.stroke()
        mark = look.text if not dis else look.disabled
        if st == "active" and checked:
            mark = mix(look.accent, BLACK, 0.3)
    if checked:
        # a crisp two-pixel stroke: down three columns, then up to the corner
        src(ctx, mark)
        o = (w - 10) // 2
        cols = [(2, 4), (3, 5), (4, 6), (5, 5), (6, 4), (7, 3)]
        if w >= 12:
            cols = [(2, 5), (3, 6), (4, 7), (5, 6), (6, 5), (7, 4), (8, 3)]
            o = (w - 11) // 2
        for x, y in cols:
            ctx.rectangle(x + o, y, 1, 2)
        ctx.fill()


def radio(ctx, look, name, w, h):
    checked = "_checked_" in name
    st = name.rsplit("_", 1)[1]
    dis = st == "disabled"
    c, r = w / 2.0, w / 2.0 - 0.5
    if look.flat:
        border = {"default": look.line, "active": look.accent, "disabled": look.disabled}[st]
        if checked:
            border = look.accent if not dis else look.disabled
        src(ctx, look.face2 if dis else (hexrgb(0xEEF5FA) if st == "active" else WHITE))
        ctx.arc(c, c, r, 0, 2 * math.pi)
        ctx.fill_preserve()
        src(ctx, border)
        ctx.set_line_width(1)
        ctx.stroke()
        if checked:
            if st == "active":
                src(ctx, mix(look.accent, BLACK, 0.25))
            ctx.arc(c, c, r * 0.48, 0, 2 * math.pi)
            ctx.fill()
        return
    border = {"default": look.dark, "active": look.accent, "disabled": look.disabled}[st]
    vgrad(ctx, 0, h, mix(look.face, BLACK, 0.08) if not dis else look.face, WHITE)
    ctx.arc(c, c, r, 0, 2 * math.pi)
    ctx.fill_preserve()
    src(ctx, border)
    ctx.set_line_width(1)
    ctx.stroke()
    if checked:
        dot = look.text if not dis else look.disabled
        if st == "active":
            dot = mix(look.accent, BLACK, 0.3)
        rgrad(ctx, c, c, r * 0.5, mix(dot, WHITE, 0.5), dot)
        ctx.arc(c, c, r * 0.45, 0, 2 * math.pi)
        ctx.fill()


# -- file-system icons (18 x 18) --

def fill_shape(ctx, look, top, bottom, y0, y1, outline):
    """Fills the current path: a gradient with an outline in the default
    theme, one solid colour in the flat one."""
    if look.flat:
        src(ctx, bottom)
        ctx.fill()
        return
    vgrad(ctx, y0, y1, top, bottom)
    ctx.fill_preserve()
    src(ctx, outline)
    ctx.set_line_width(1)
    ctx.stroke()


def folder(ctx, look, x=0.5, y=2.5, w=17, h=13, open_=False):
    if look.flat:
        back, front, edge = hexrgb(0x4A8FBF), hexrgb(0x6FB0DD), None
    else:
        back, front, edge = hexrgb(0xE0A93A), hexrgb(0xF6CC62), hexrgb(0xA87414)
    # back with the tab
    ctx.move_to(x, y + 1)
    ctx.line_to(x + w * 0.38, y + 1)
    ctx.line_to(x + w * 0.48, y + 3)
    ctx.line_to(x + w, y + 3)
    ctx.line_to(x + w, y + h)
    ctx.line_to(x, y + h)
    ctx.close_path()
    fill_shape(ctx, look, mix(back, WHITE, 0.2), back, y, y + h, edge)
    if open_:
        ctx.move_to(x + 3, y + 6)
        ctx.line_to(x + w + 0.5, y + 6)
        ctx.line_to(x + w - 2.5, y + h)
        ctx.line_to(x, y + h)
        ctx.close_path()
    else:
        ctx.rectangle(x, y + 5, w, h - 5)
    fill_shape(ctx, look, mix(front, WHITE, 0.35), front, y + 5, y + h, edge)


def page(ctx, look, x=3.5, y=0.5, w=11, h=17, tint=None):
    fold = 4
    ctx.move_to(x, y)
    ctx.line_to(x + w - fold, y)
    ctx.line_to(x + w, y + fold)
    ctx.line_to(x + w, y + h)
    ctx.line_to(x, y + h)
    ctx.close_path()
    if look.flat:
        src(ctx, tint or hexrgb(0xF4F6F8))
        ctx.fill_preserve()
        src(ctx, hexrgb(0x9AA4B0))
        ctx.set_line_width(1)
        ctx.stroke()
    else:
        fill_shape(ctx, look, WHITE, tint or hexrgb(0xE6EAF2), y, y + h, hexrgb(0x707A90))
    ctx.move_to(x + w - fold, y)
    ctx.line_to(x + w - fold, y + fold)
    ctx.line_to(x + w, y + fold)
    src(ctx, hexrgb(0x9AA4B0) if look.flat else hexrgb(0x707A90))
    ctx.set_line_width(1)
    ctx.stroke()


def text_lines(ctx, look, x, y, w, n):
    src(ctx, hexrgb(0xB8C0CC) if look.flat else hexrgb(0x98A2B8))
    for i in range(n):
        ctx.rectangle(x, y + 2 * i, w - (2 if i % 2 else 0), 1)
    ctx.fill()


def drive(ctx, look, y=5.5, h=8, body=None, led=(0.2, 0.8, 0.3)):
    body = body or (hexrgb(0xB9C2CF) if look.flat else hexrgb(0xC8CEDA))
    rrect(ctx, 0.5, y, 17, h, 1.5)
    if look.flat:
        src(ctx, body)
        ctx.fill()
        src(ctx, mix(body, BLACK, 0.2))
        ctx.rectangle(1, y + h - 2.5, 16, 2)
        ctx.fill()
    else:
        vgrad(ctx, y, y + h, mix(body, WHITE, 0.6), mix(body, BLACK, 0.15))
        ctx.fill_preserve()
        src(ctx, hexrgb(0x5A6070))
        ctx.set_line_width(1)
        ctx.stroke()
    if led:
        src(ctx, led)
        ctx.rectangle(13, y + h - 4.5, 2, 2) if not look.flat else ctx.rectangle(13, y + h - 5, 2, 1.5)
        ctx.fill()


def monitor(ctx, look):
    rrect(ctx, 0.5, 1.5, 17, 12, 1)
    if look.flat:
        src(ctx, hexrgb(0x4A5560))
        ctx.fill()
        src(ctx, hexrgb(0x6FB0DD))
        ctx.rectangle(2, 3, 14, 9)
        ctx.fill()
        src(ctx, hexrgb(0x4A5560))
        ctx.rectangle(7, 13, 4, 2)
        ctx.rectangle(4, 15, 10, 2)
        ctx.fill()
    else:
        vgrad(ctx, 1, 14, hexrgb(0xD8DCE4), hexrgb(0x9AA0AC))
        ctx.fill_preserve()
        src(ctx, hexrgb(0x505868))
        ctx.set_line_width(1)
        ctx.stroke()
        vgrad(ctx, 3, 12, hexrgb(0x9FD0FF), hexrgb(0x2F6FC0))
        ctx.rectangle(2, 3, 14, 9)
        ctx.fill()
        src(ctx, hexrgb(0x707888))
        ctx.rectangle(7, 14, 4, 1)
        ctx.fill()
        vgrad(ctx, 15, 17, hexrgb(0xC8CEDA), hexrgb(0x808898))
        ctx.rectangle(3.5, 15.5, 11, 2)
        ctx.fill_preserve()
        src(ctx, hexrgb(0x505868))
        ctx.stroke()


def badge_user(ctx, look, cx=13.0, cy=12.5):
    col = hexrgb(0x2E7D4F) if look.flat else hexrgb(0x3A8A3A)
    if not look.flat:
        src(ctx, WHITE)
        ctx.arc(cx, cy - 2.5, 2.8, 0, 2 * math.pi)
        ctx.fill()
        ctx.arc(cx, cy + 4.5, 5, math.pi, 2 * math.pi)
        ctx.fill()
    src(ctx, col)
    ctx.arc(cx, cy - 2.5, 2, 0, 2 * math.pi)
    ctx.fill()
    ctx.arc(cx, cy + 4.5, 4, math.pi, 2 * math.pi)
    ctx.fill()


def badge_gear(ctx, look, cx=13.0, cy=12.5):
    col = hexrgb(0x59626E) if look.flat else hexrgb(0x4A5262)
    if not look.flat:
        src(ctx, WHITE)
        ctx.arc(cx, cy, 5.2, 0, 2 * math.pi)
        ctx.fill()
    src(ctx, col)
    for i in range(8):
        a = i * math.pi / 4
        ctx.save()
        ctx.translate(cx, cy)
        ctx.rotate(a)
        ctx.rectangle(-0.9, -4.6, 1.8, 2)
        ctx.restore()
    ctx.fill()
    ctx.arc(cx, cy, 3.3, 0, 2 * math.pi)
    ctx.fill()
    src(ctx, WHITE)
    ctx.arc(cx, cy, 1.3, 0, 2 * math.pi)
    ctx.fill()


def badge_check(ctx, look, state):
    """A small check box in the bottom-right corner: unchecked, partly
    checked or checked."""
    x, y, s = 10.5, 10.5, 7
    ctx.rectangle(x, y, s, s)
    src(ctx, WHITE)
    ctx.fill_preserve()
    src(ctx, look.dark if not look.flat else hexrgb(0x707A86))
    ctx.set_line_width(1)
    ctx.stroke()
    mark = look.accent if look.flat else hexrgb(0x2A6A2A)
    if state == "Pch":
        src(ctx, mark)
        ctx.rectangle(x + 1.5, y + 1.5, s - 3, s - 3)
        ctx.fill()
    elif state == "Ch":
        src(ctx, mark)
        ctx.set_line_width(1.5)
        ctx.set_line_cap(cairo.LINE_CAP_ROUND)
        ctx.move_to(x + 1.5, y + 3.5)
        ctx.line_to(x + 3, y + 5.2)
        ctx.line_to(x + 5.8, y + 1.5)
        ctx.stroke()


def fs_icon(ctx, look, name, w, h):
    n = name[3:]
    if n == "Comp":
        monitor(ctx, look)
    elif n.startswith("Disk"):
        if n == "DiskRAID":
            drive(ctx, look, y=1.5, h=7, led=None)
            drive(ctx, look, y=9.5, h=7)
            return
        off = n == "DiskOff"
        drive(ctx, look, y=5.5, h=8, led=(0.55, 0.55, 0.55) if off else (0.2, 0.8, 0.3),
              body=(hexrgb(0xDADDE2) if off else None))
        if n == "DiskOff":
            src(ctx, hexrgb(0x8A9098))
            tri(ctx, 9, 2.5, 6, "up")
            ctx.rectangle(6, 15.5, 6, 1.5)
            ctx.fill()
        elif n == "DiskImg":
            src(ctx, WHITE if not look.flat else hexrgb(0xE8ECF0))
            ctx.arc(6, 7.5, 5.5, 0, 2 * math.pi)
            ctx.fill_preserve()
            src(ctx, hexrgb(0x7A8290))
            ctx.set_line_width(1)
            ctx.stroke()
            src(ctx, hexrgb(0x7A8290))
            ctx.arc(6, 7.5, 1.5, 0, 2 * math.pi)
            ctx.fill()
        elif n == "DiskNet":
            src(ctx, hexrgb(0x2F7FC0) if not look.flat else look.accent)
            ctx.set_line_width(1)
            ctx.rectangle(8.5, 13.5, 1, 3)
            ctx.fill()
            ctx.rectangle(3, 16, 12, 1.5)
            ctx.fill()
    elif "Folder" in n:
        folder(ctx, look)
        if n.startswith("UFolder"):
            badge_user(ctx, look, 6.0, 11.5)
        elif n.startswith("SFolder"):
            badge_gear(ctx, look, 6.5, 11.5)
        for st in ("Unch", "Pch", "Ch"):
            if n.endswith(st):
                badge_check(ctx, look, st)
    elif n in ("File", "UFile", "SFile", "Other", "FsObjBad", "Link"):
        page(ctx, look)
        if n == "File":
            text_lines(ctx, look, 5.5, 7, 7, 5)
        elif n == "UFile":
            badge_user(ctx, look, 9.0, 10.5)
        elif n == "SFile":
            badge_gear(ctx, look, 9.0, 10.5)
        elif n == "Other":
            src(ctx, hexrgb(0x6A7486))
            ctx.select_font_face("DejaVu Sans", cairo.FONT_SLANT_NORMAL, cairo.FONT_WEIGHT_BOLD)
            ctx.set_font_size(10)
            xb, yb, tw, th, _, _ = ctx.text_extents("?")
            ctx.move_to(9 - tw / 2 - xb, 10.5 - th / 2 - yb)
            ctx.show_text("?")
        elif n == "FsObjBad":
            src(ctx, hexrgb(0xD03030))
            ctx.set_line_width(2)
            ctx.set_line_cap(cairo.LINE_CAP_ROUND)
            ctx.move_to(5.5, 6.5); ctx.line_to(12.5, 13.5)
            ctx.move_to(12.5, 6.5); ctx.line_to(5.5, 13.5)
            ctx.stroke()
        elif n == "Link":
            text_lines(ctx, look, 5.5, 3, 5, 2)
            src(ctx, WHITE)
            rrect(ctx, 0.5, 9.5, 8, 8, 1.5)
            ctx.fill_preserve()
            src(ctx, hexrgb(0x505868))
            ctx.set_line_width(1)
            ctx.stroke()
            src(ctx, hexrgb(0x2F7FC0) if not look.flat else look.accent)
            ctx.set_line_width(1.4)
            ctx.move_to(2.5, 16); ctx.curve_to(2.5, 13, 4, 12, 6.2, 12); ctx.stroke()
            tri(ctx, 6.3, 12, 4, "right")


def expander(ctx, look, name, w, h, prop):
    expand = "expand" in name
    if look.flat:
        src(ctx, look.dark)
        if prop:
            pix_arrow(ctx, w, h, "right" if expand else "down", 3)
        else:
            # a crisp two-pixel chevron: right when closed, down when open
            for r in range(1, h - 1):
                k = 2 + min(r - 1, h - 2 - r)
                ctx.rectangle(k, r, 2, 1) if expand else ctx.rectangle(r, k, 1, 2)
            ctx.fill()
        return
    # A bevelled plus or minus box on the 8 x 9 grid, centred on row 4.
    bevel(ctx, look, 0, 0, 8, 8, WHITE, look.face)
    src(ctx, look.text)
    ctx.rectangle(2, 3.5 - 0.5, 4, 1)
    if expand:
        ctx.rectangle(3.5 - 0.5, 2, 1, 4)
    ctx.fill()


def tree_link(ctx, look, name, w, h):
    src(ctx, look.line if not look.flat else hexrgb(0xC8C8C8))
    # dotted lines in the default theme, solid hairlines in the flat one
    step = 2 if not look.flat else 1
    x = 3
    end = h if "throu" in name else 5
    for y in range(0, end, step):
        ctx.rectangle(x, y, 1, 1)
    for xx in range(x + step, w, step):
        ctx.rectangle(xx, 4, 1, 1)
    ctx.fill()


def tool_dropdown(ctx, look, w, h):
    src(ctx, look.text if not look.flat else look.dark)
    # more items: a bar over a down arrow
    ctx.rectangle(0, 2, 5, 1)
    ctx.fill()
    tri(ctx, 2.5, 6.5, 5, "down")


def state_icon(ctx, look, name, w, h):
    kind = name[len("icstate"):]
    cx, cy, r = w / 2.0, h / 2.0, w / 2.0 - 1
    col = {"Info": hexrgb(0x2F7FD0), "Question": hexrgb(0x2F7FD0), "Warning": hexrgb(0xF2B01E),
           "Error": hexrgb(0xD93A3A)}[kind]
    if look.flat:
        col = {"Info": look.accent2, "Question": look.accent, "Warning": hexrgb(0xF0AD1E),
               "Error": hexrgb(0xE04848)}[kind]
    if kind == "Warning":
        ctx.move_to(cx, 1.5)
        ctx.line_to(w - 1, h - 2.5)
        ctx.line_to(1, h - 2.5)
        ctx.close_path()
        if look.flat:
            src(ctx, col)
            ctx.fill()
        else:
            vgrad(ctx, 0, h, mix(col, WHITE, 0.55), col)
            ctx.fill_preserve()
            src(ctx, mix(col, BLACK, 0.35))
            ctx.set_line_width(1)
            ctx.stroke()
        glyph, gy = "!", cy + 3
    else:
        ctx.arc(cx, cy, r, 0, 2 * math.pi)
        if look.flat:
            src(ctx, col)
            ctx.fill()
        else:
            rgrad(ctx, cx, cy, r, mix(col, WHITE, 0.6), col)
            ctx.fill_preserve()
            src(ctx, mix(col, BLACK, 0.35))
            ctx.set_line_width(1)
            ctx.stroke()
        glyph, gy = {"Info": "i", "Question": "?", "Error": None}[kind], cy
    if glyph:
        src(ctx, WHITE if kind != "Warning" else hexrgb(0x3A2A00))
        ctx.select_font_face("DejaVu Sans", cairo.FONT_SLANT_NORMAL, cairo.FONT_WEIGHT_BOLD)
        ctx.set_font_size(17 if kind != "Warning" else 14)
        xb, yb, tw, th, _, _ = ctx.text_extents(glyph)
        ctx.move_to(cx - tw / 2 - xb, gy - th / 2 - yb)
        ctx.show_text(glyph)
    else:
        src(ctx, WHITE)
        ctx.set_line_width(3)
        ctx.set_line_cap(cairo.LINE_CAP_ROUND)
        d = r * 0.42
        ctx.move_to(cx - d, cy - d); ctx.line_to(cx + d, cy + d)
        ctx.move_to(cx + d, cy - d); ctx.line_to(cx - d, cy + d)
        ctx.stroke()


def tool_icon(ctx, look, name, w, h):
    """The tool-bar and button icons: drawn in a 16 x 16 box, centred."""
    if (w, h) != (16, 16):
        if name == "icoGo":
            ctx.scale(w / 16.0, h / 16.0)
        else:
            ctx.translate((w - 16) / 2.0, (h - 16) / 2.0)
    green, red = (hexrgb(0x2E9E4A) if look.flat else hexrgb(0x2F9A2F)), hexrgb(0xD64040)
    lw = 2.2 if look.flat else 2.4
    if name == "icoOk":
        if not look.flat:
            src(ctx, mix(green, BLACK, 0.35))
            ctx.set_line_width(lw + 1.4)
            ctx.set_line_cap(cairo.LINE_CAP_ROUND)
            ctx.set_line_join(cairo.LINE_JOIN_ROUND)
            ctx.move_to(3, 8.5); ctx.line_to(6.5, 12); ctx.line_to(13, 4)
            ctx.stroke()
        src(ctx, green if look.flat else mix(green, WHITE, 0.2))
        ctx.set_line_width(lw)
        ctx.set_line_cap(cairo.LINE_CAP_ROUND)
        ctx.set_line_join(cairo.LINE_JOIN_ROUND)
        ctx.move_to(3, 8.5); ctx.line_to(6.5, 12); ctx.line_to(13, 4)
        ctx.stroke()
    elif name == "icoCancel":
        ctx.arc(8, 8, 7, 0, 2 * math.pi)
        if look.flat:
            src(ctx, red)
            ctx.fill()
        else:
            rgrad(ctx, 8, 8, 7, mix(red, WHITE, 0.55), red)
            ctx.fill_preserve()
            src(ctx, mix(red, BLACK, 0.35))
            ctx.set_line_width(1)
            ctx.stroke()
        src(ctx, WHITE)
        ctx.set_line_width(2)
        ctx.set_line_cap(cairo.LINE_CAP_ROUND)
        ctx.move_to(5.2, 5.2); ctx.line_to(10.8, 10.8)
        ctx.move_to(10.8, 5.2); ctx.line_to(5.2, 10.8)
        ctx.stroke()
    elif name == "icoGo":
        ctx.arc(8, 8, 7, 0, 2 * math.pi)
        if look.flat:
            src(ctx, green)
            ctx.fill()
        else:
            rgrad(ctx, 8, 8, 7, mix(green, WHITE, 0.55), green)
            ctx.fill_preserve()
            src(ctx, mix(green, BLACK, 0.35))
            ctx.set_line_width(1)
            ctx.stroke()
        src(ctx, WHITE)
        ctx.rectangle(4, 7, 5, 2)
        ctx.fill()
        tri(ctx, 10, 8, 7, "right")
    elif name == "icoOpen":
        folder(ctx, look, 0.5, 1.5, 15, 13, open_=True)
    elif name == "icoSave":
        body = hexrgb(0x3F6FB0) if not look.flat else look.accent
        rrect(ctx, 1.5, 1.5, 13, 13, 1.5)
        if look.flat:
            src(ctx, body)
            ctx.fill()
        else:
            vgrad(ctx, 1, 15, mix(body, WHITE, 0.4), body)
            ctx.fill_preserve()
            src(ctx, mix(body, BLACK, 0.4))
            ctx.set_line_width(1)
            ctx.stroke()
        src(ctx, WHITE)
        ctx.rectangle(4, 2, 8, 5)
        ctx.fill()
        src(ctx, hexrgb(0xDDE3EA))
        ctx.rectangle(4, 10, 8, 4)
        ctx.fill()
        src(ctx, body)
        ctx.rectangle(9, 3, 2, 3)
        ctx.fill()
    elif name == "icoHome":
        roof = hexrgb(0xC8503C) if not look.flat else hexrgb(0xD9604A)
        wall = hexrgb(0xF2E6D0) if not look.flat else hexrgb(0xEEF2F6)
        ctx.rectangle(3.5, 7.5, 9, 7)
        fill_shape(ctx, look, WHITE, wall, 7, 15, hexrgb(0x6A5A40))
        if look.flat:
            src(ctx, hexrgb(0x9AA4B0))
            ctx.set_line_width(1)
            ctx.rectangle(3.5, 7.5, 9, 7)
            ctx.stroke()
        ctx.move_to(0.5, 8.5); ctx.line_to(8, 1.5); ctx.line_to(15.5, 8.5); ctx.close_path()
        fill_shape(ctx, look, mix(roof, WHITE, 0.3), roof, 1, 9, mix(roof, BLACK, 0.4))
        src(ctx, hexrgb(0x7A5030) if not look.flat else look.accent)
        ctx.rectangle(7, 10, 2.5, 4.5)
        ctx.fill()
    elif name == "icoPlaces":
        col = hexrgb(0xF2C230) if not look.flat else hexrgb(0xF0B030)
        for i in range(10):
            rr = 7.2 if i % 2 == 0 else 3.0
            a = -math.pi / 2 + i * math.pi / 5
            (ctx.line_to if i else ctx.move_to)(8 + rr * math.cos(a), 8.6 + rr * math.sin(a))
        ctx.close_path()
        fill_shape(ctx, look, mix(col, WHITE, 0.5), col, 1, 15, mix(col, BLACK, 0.4))
    elif name == "icoNewObj":
        page(ctx, look, 2.5, 1.5, 10, 13)
        col = hexrgb(0xF2C230)
        src(ctx, col)
        for i in range(8):
            a = i * math.pi / 4
            rr = 3.5 if i % 2 == 0 else 1.5
            ctx.move_to(12.5, 11.5)
            ctx.line_to(12.5 + rr * math.cos(a), 11.5 + rr * math.sin(a))
        ctx.set_line_width(1.3)
        ctx.stroke()
    elif name == "icoNewFld":
        folder(ctx, look, 0.5, 1.5, 15, 13)
        src(ctx, WHITE)
        ctx.rectangle(7, 8, 6, 2)
        ctx.rectangle(9, 6, 2, 6)
        ctx.fill()
    elif name == "icoDetails":
        src(ctx, look.dark)
        for i in range(4):
            ctx.rectangle(1, 2 + 3.5 * i, 2, 2)
            ctx.rectangle(5, 2 + 3.5 * i, 10, 2)
        ctx.fill()


# -- scroll bars: drawn as the horizontal piece; the vertical ones are the
# same drawings turned over the diagonal --

def sb_piece(ctx, look, base, state, w, h):
    hov, pr = state == "_hov", state == "_pr"
    if look.flat:
        if base == "area":
            src(ctx, {"": hexrgb(0xF3F3F3), "_hov": hexrgb(0xEDEDED), "_pr": hexrgb(0xE4E4E4)}[state])
        elif base == "slider":
            src(ctx, {"": hexrgb(0xC2C2C2), "_hov": hexrgb(0xA8A8A8), "_pr": look.accent2}[state])
        elif base in ("btb", "btb_hov", "btb_pr"):
            src(ctx, {"btb": hexrgb(0xF3F3F3), "btb_hov": hexrgb(0xE0E0E0), "btb_pr": hexrgb(0xD0D0D0)}[base])
        elif base == "bts":
            src(ctx, hexrgb(0xE0E0E0))
        else:
            src(ctx, {"": hexrgb(0xF3F3F3), "_hov": hexrgb(0xE0E0E0), "_pr": hexrgb(0xD0D0D0)}[state])
            ctx.paint()
            src(ctx, {"": hexrgb(0x8A8A8A), "_hov": hexrgb(0x505050), "_pr": look.accent}[state])
            if base in ("btu", "btd"):
                pix_arrow(ctx, w, h, "left" if base == "btu" else "right", 4)
            else:
                pix_arrow(ctx, w, h, "left" if base == "btus" else "right", 3)
            return
        ctx.paint()
        return
    face_top, face_bot = WHITE, look.face
    if hov:
        face_top, face_bot = hexrgb(0xF4F9FF), mix(look.face, look.accent2, 0.35)
    if pr:
        face_top, face_bot = mix(look.accent2, look.dark, 0.1), mix(look.accent2, WHITE, 0.4)
    if base == "area":
        c = {"": look.face, "_hov": mix(look.face, WHITE, 0.35), "_pr": mix(look.face, look.dark, 0.25)}[state]
        vgrad(ctx, 0, h, mix(c, BLACK, 0.08), mix(c, WHITE, 0.3))
        ctx.paint()
    elif base == "nc":
        vgrad(ctx, 0, h, mix(look.face, BLACK, 0.08), mix(look.face, WHITE, 0.3))
        ctx.paint()
        src(ctx, look.line)
        ctx.rectangle(0, 0, 1, h)
        ctx.fill()
    elif base in ("slider", "sl_top", "sl_bot", "btb", "btb_hov", "btb_pr"):
        if base.startswith("btb"):
            hov, pr = base.endswith("hov"), base.endswith("pr")
            face_top, face_bot = ((hexrgb(0xF4F9FF), mix(look.face, look.accent2, 0.35)) if hov else
                                  (mix(look.accent2, look.dark, 0.1), mix(look.accent2, WHITE, 0.4)) if pr else
                                  (WHITE, look.face))
        vgrad(ctx, 0, h, face_top, face_bot)
        ctx.paint()
        src(ctx, look.dark)
        ctx.rectangle(0, 0, w, 1)
        ctx.rectangle(0, h - 1, w, 1)
        ctx.fill()
        src(ctx, WHITE, 0.9)
        ctx.rectangle(0, 1, w, 1)
        ctx.fill()
        src(ctx, look.line)
        ctx.rectangle(0, h - 2, w, 1)
        ctx.fill()
        if base == "sl_top":
            ctx.set_operator(cairo.OPERATOR_CLEAR)
            ctx.rectangle(0, 0, 1, 1)
            ctx.rectangle(0, h - 1, 1, 1)
            ctx.fill()
            ctx.set_operator(cairo.OPERATOR_OVER)
            src(ctx, look.dark)
            ctx.rectangle(0, 1, 1, h - 2)
            ctx.fill()
            src(ctx, WHITE, 0.9)
            ctx.rectangle(1, 2, 1, h - 4)
            ctx.fill()
        if base == "sl_bot":
            ctx.set_operator(cairo.OPERATOR_CLEAR)
            ctx.rectangle(w - 1, 0, 1, 1)
            ctx.rectangle(w - 1, h - 1, 1, 1)
            ctx.fill()
            ctx.set_operator(cairo.OPERATOR_OVER)
            src(ctx, look.dark)
            ctx.rectangle(w - 1, 1, 1, h - 2)
            ctx.fill()
            src(ctx, look.line)
            ctx.rectangle(w - 2, 2, 1, h - 4)
            ctx.fill()
    elif base == "bts":
        src(ctx, look.dark)
        ctx.paint()
    elif base in ("btu", "btd"):
        bevel(ctx, look, 0, 0, w, h, face_top, face_bot, sunken=pr)
        src(ctx, look.text if not pr else mix(look.accent, BLACK, 0.5))
        pix_arrow(ctx, w, h, "left" if base == "btu" else "right", 3, 1 if pr else 0, 1 if pr else 0)
    elif base in ("btus", "btds"):
        src(ctx, {"": look.text, "_hov": mix(look.accent, BLACK, 0.2), "_pr": mix(look.accent, BLACK, 0.45)}[state])
        pix_arrow(ctx, w, h, "left" if base == "btus" else "right", 3)


def scroll_piece(ctx, look, name, w, h):
    vertical = name.startswith("vsb_")
    rest = name[4:] if vertical else name[3:]
    state = ""
    for st in ("_hov", "_pr"):
        if rest.endswith(st) and not rest.startswith("btb"):
            rest, state = rest[:-len(st)], st
    if vertical:
        # Draw the horizontal piece at the turned size, then turn it over the
        # diagonal: left becomes top, so a left arrow becomes an up arrow.
        ctx.transform(cairo.Matrix(0, 1, 1, 0, 0, 0))
        w, h = h, w
    sb_piece(ctx, look, rest, state, w, h)


def scroll_corner(ctx, look, w, h):
    vgrad(ctx, 0, h, look.face, mix(look.face, WHITE, 0.4))
    ctx.paint()
    for i in range(3):
        for j in range(3 - i):
            x, y = w - 4 - 3 * i, h - 4 - 3 * j
            src(ctx, WHITE)
            ctx.rectangle(x + 1, y + 1, 1, 1)
            ctx.fill()
            src(ctx, look.line)
            ctx.rectangle(x, y, 1, 1)
            ctx.fill()


def navi_sep(ctx, look, name, w, h):
    src(ctx, (look.accent if "active" in name else look.dark))
    # a crisp two-pixel chevron pointing right
    for r in range(h):
        ctx.rectangle(1 + min(r, h - 1 - r), r, 2, 1)
    ctx.fill()


def status_dot(ctx, look, name, w, h):
    col = {"green": hexrgb(0x34B34A), "grey": hexrgb(0x9AA0A8), "yellow": hexrgb(0xF2C230),
           "red": hexrgb(0xE04040)}[name[4:]]
    c, r = w / 2.0, w / 2.0 - 0.5
    ctx.arc(c, c, r, 0, 2 * math.pi)
    if look.flat:
        src(ctx, col)
        ctx.fill()
        return
    rgrad(ctx, c, c, r, mix(col, WHITE, 0.7), col)
    ctx.fill_preserve()
    src(ctx, mix(col, BLACK, 0.4))
    ctx.set_line_width(1)
    ctx.stroke()


def std_button(ctx, look, name, w, h):
    if not look.flat:
        bevel(ctx, look, 0, 0, w, h, WHITE, look.face)
    else:
        src(ctx, look.line)
        ctx.set_line_width(1)
        rrect(ctx, 0.5, 0.5, w - 1, h - 1, 2)
        ctx.stroke()
    ink = look.text if not look.flat else look.dark
    c = w / 2.0
    if name == "stdbutton_edit":
        ctx.save()
        ctx.translate(c, c)
        ctx.rotate(-math.pi / 4)
        src(ctx, hexrgb(0xE8A030) if not look.flat else look.accent)
        ctx.rectangle(-1.5, -4.5, 3, 7)
        ctx.fill()
        src(ctx, ink)
        ctx.move_to(-1.5, 2.5); ctx.line_to(1.5, 2.5); ctx.line_to(0, 5); ctx.close_path()
        ctx.fill()
        ctx.restore()
    elif name in ("stdbutton_up", "stdbutton_down"):
        src(ctx, ink)
        pix_arrow(ctx, w, h, "up" if name.endswith("up") else "down", 4)
    elif name == "stdbutton_remove":
        src(ctx, hexrgb(0xD04040))
        ctx.rectangle(3, 6, 8, 2)
        ctx.fill()
    elif name.endswith("_dph"):
        # add a member disk: a small plus over a stack of two disks
        src(ctx, hexrgb(0x2E9E4A))
        ctx.rectangle(2, 4, 6, 2)
        ctx.rectangle(4, 2, 2, 6)
        ctx.fill()
        src(ctx, ink)
        ctx.rectangle(6, 8, 6, 2)
        ctx.rectangle(6, 11, 6, 1)
        ctx.fill()
        src(ctx, hexrgb(0x34B34A))
        ctx.rectangle(10, 8, 1, 1)
        ctx.fill()
    else:
        src(ctx, hexrgb(0x2E9E4A))
        ctx.rectangle(3, 6, 8, 2)
        ctx.rectangle(6, 3, 2, 8)
        ctx.fill()


def draw(ctx, look, name, w, h):
    if name.startswith("cform_"):
        form_piece(ctx, look, name, w, h)
    elif name.startswith("bmk_close"):
        close_mark(ctx, look, w, h, name.endswith("active"))
    elif name.startswith("bmk_") or name == "tabv_fill_bottom":
        tab_piece(ctx, look, name, w, h)
    elif name.startswith("tabv_"):
        tab_button(ctx, look, name, w, h)
    elif name.startswith("button_bg_"):
        button_bg(ctx, look, name, w, h)
    elif name.startswith("dropdown"):
        dropdown(ctx, look, name, w, h)
    elif name.startswith("check_"):
        check_box(ctx, look, name, w, h)
    elif name.startswith("radio_"):
        radio(ctx, look, name, w, h)
    elif name.startswith("ctl_prop_"):
        expander(ctx, look, name, w, h, True)
    elif name in ("ctl_expand", "ctl_collapse"):
        expander(ctx, look, name, w, h, False)
    elif name.startswith("ctl_tree"):
        tree_link(ctx, look, name, w, h)
    elif name == "ctl_dropdown":
        tool_dropdown(ctx, look, w, h)
    elif name.startswith("icstate"):
        state_icon(ctx, look, name, w, h)
    elif name in ("icoOk", "icoCancel", "icoGo", "icoOpen", "icoSave", "icoHome", "icoPlaces",
                  "icoNewObj", "icoNewFld", "icoDetails"):
        tool_icon(ctx, look, name, w, h)
    elif name.startswith("ico"):
        fs_icon(ctx, look, name, w, h)
    elif name == "scroll_corner":
        scroll_corner(ctx, look, w, h)
    elif name.startswith("sb_") or name.startswith("vsb_"):
        scroll_piece(ctx, look, name, w, h)
    elif name.startswith("navi_sep"):
        navi_sep(ctx, look, name, w, h)
    elif name.startswith("gen_"):
        status_dot(ctx, look, name, w, h)
    elif name.startswith("stdbutton_") or name.startswith("raidctl_"):
        std_button(ctx, look, name, w, h)
    else:
        raise ValueError(name)


def render(name, w, h, flat):
    """The slot's pixels at w x h: straight-alpha u32 0xAARRGGBB, top row
    first."""
    surface = cairo.ImageSurface(cairo.FORMAT_ARGB32, w, h)
    ctx = cairo.Context(surface)
    draw(ctx, Look(flat), name, w, h)
    surface.flush()
    data, stride = surface.get_data(), surface.get_stride()
    rows = []
    for y in range(h):
        row = []
        for x in range(w):
            b, g, r, a = data[y * stride + 4 * x: y * stride + 4 * x + 4]
            if a and a != 255:
                # cairo keeps colours multiplied by alpha; pictures do not.
                r, g, b = (min(255, (c * 255 + a // 2) // a) for c in (r, g, b))
            elif not a:
                r = g = b = 0
            row.append((a << 24) | (r << 16) | (g << 8) | b)
        rows.append(row)
    return rows


def entries(flat):
    """(name, w, h, colour, rows or None) for every slot of one theme."""
    out = []
    for dname, dsize, fname, fsize, kind, colour in SLOTS:
        if not flat:
            out.append((dname, dsize[0], dsize[1], 0, render(dname, dsize[0], dsize[1], False)))
        elif kind == "absent":
            out.append((fname, 0, 0, 0, None))
        elif kind == "colour":
            out.append((fname, fsize[0], fsize[1], colour, None))
        else:
            out.append((fname, fsize[0], fsize[1], 0, render(fname, fsize[0], fsize[1], True)))
    return out


def packed(w, h, rows):
    body = b"".join(struct.pack("<%dI" % w, *row) for row in reversed(rows))
    return struct.pack("<ii", w, h) + zlib.compress(body, 9)


# ---- the source file -------------------------------------------------------------


def write_source(path):
    out = ["// Generated by tools/gen/themepics.py (python3-cairo); do not edit:",
           "//     python3 tools/gen/themepics.py src/uitoolkit/themepics.cpp",
           "// The pictures of the default and the flat theme as packed UI images:",
           "// i32 width, i32 height, zlib stream of u32 0xAARRGGBB, bottom row first.",
           '#include "uitoolkit/theme.h"', "", "namespace {"]
    blobs = {}
    tables = []
    for flat in (False, True):
        table = []
        for i, (name, w, h, colour, rows) in enumerate(entries(flat)):
            if rows is None:
                table.append((name, w, h, colour, None))
                continue
            blob = packed(w, h, rows)
            if blob not in blobs:
                ident = "k%s%d" % ("Flat" if flat else "Dft", i)
                blobs[blob] = ident
                out.append("// %s %dx%d" % (name, w, h))
                out.append("const unsigned char %s[%d] = {" % (ident, len(blob)))
                for k in range(0, len(blob), 16):
                    out.append("    " + ", ".join("0x%02x" % b for b in blob[k:k + 16]) + ",")
                out.append("};")
            table.append((name, w, h, colour, blobs[blob]))
        tables.append(table)
    out.append("}  // namespace")
    for flat, table in zip((False, True), tables):
        out.append("")
        out.append("const sCIThemeImageDef __dft_CI_Images%s[cCITheme::kImages] = {" % ("_flat" if flat else ""))
        for i, (name, w, h, colour, ident) in enumerate(table):
            if ident:
                out.append("    {%d, %d, 0x%06X, nullptr, %s, sizeof %s},  // %d %s" % (w, h, colour, ident, ident, i, name))
            else:
                out.append("    {%d, %d, 0x%06X, nullptr, nullptr, 0},  // %d %s" % (w, h, colour, i, name))
        out.append("};")
    with open(path, "w") as f:
        f.write("\n".join(out) + "\n")


# ---- the contact sheet -----------------------------------------------------------


def picture_surface(rows, w, h):
    surface = cairo.ImageSurface(cairo.FORMAT_ARGB32, w, h)
    data, stride = surface.get_data(), surface.get_stride()
    for y, row in enumerate(rows):
        for x, p in enumerate(row):
            a = p >> 24
            r, g, b = ((p >> 16) & 255) * a // 255, ((p >> 8) & 255) * a // 255, (p & 255) * a // 255
            data[y * stride + 4 * x: y * stride + 4 * x + 4] = bytes((b, g, r, a))
    surface.mark_dirty()
    return surface


def checker(ctx, x, y, w, h, cell=4):
    ctx.save()
    ctx.rectangle(x, y, w, h)
    ctx.clip()
    for j in range(0, int(h) + cell, cell):
        for i in range(0, int(w) + cell, cell):
            g = 0.94 if (i // cell + j // cell) % 2 else 0.82
            ctx.set_source_rgb(g, g, g)
            ctx.rectangle(x + i, y + j, cell, cell)
            ctx.fill()
    ctx.restore()


def sheet(path):
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    import langflags

    scale, cw, ch, cols, pad = 3, 176, 150, 8, 10
    themes = [("default theme", entries(False)), ("flat theme", entries(True))]
    rows_per = (157 + cols - 1) // cols
    flag_h = 30 + len(langflags.FLAGS) * (20 * scale + 8)
    height = pad + sum(28 + rows_per * ch + pad for _ in themes) + flag_h
    width = pad * 2 + cols * cw
    surface = cairo.ImageSurface(cairo.FORMAT_RGB24, width, height)
    ctx = cairo.Context(surface)
    ctx.set_source_rgb(1, 1, 1)
    ctx.paint()
    ctx.select_font_face("DejaVu Sans", cairo.FONT_SLANT_NORMAL, cairo.FONT_WEIGHT_NORMAL)
    y0 = pad
    for title, items in themes:
        ctx.set_source_rgb(0, 0, 0)
        ctx.set_font_size(18)
        ctx.move_to(pad, y0 + 20)
        ctx.show_text(title)
        y0 += 28
        for i, (name, w, h, colour, rows) in enumerate(items):
            x, y = pad + (i % cols) * cw, y0 + (i // cols) * ch
            ctx.set_source_rgb(0.75, 0.75, 0.75)
            ctx.set_line_width(1)
            ctx.rectangle(x + 0.5, y + 0.5, cw - 4, ch - 4)
            ctx.stroke()
            ctx.set_source_rgb(0, 0, 0)
            ctx.set_font_size(10)
            ctx.move_to(x + 4, y + 12)
            ctx.show_text("%d %s" % (i, name))
            ctx.move_to(x + 4, y + 24)
            kind = "absent" if w == 0 else ("colour %06X" % colour if rows is None else "")
            ctx.show_text("%dx%d %s" % (w, h, kind))
            if rows is None:
                if w:
                    ctx.set_source_rgb(*hexrgb(colour))
                    ctx.rectangle(x + 6, y + 30, 24, 24)
                    ctx.fill_preserve()
                    ctx.set_source_rgb(0.5, 0.5, 0.5)
                    ctx.stroke()
                continue
            # enlarged with hard pixel edges, on a checkerboard for alpha;
            # very long thin pieces are tiled out to a visible strip
            tw, th = w, h
            if w == 1 and h > 1:
                tw = 8
            if h == 1 and w > 1:
                th = 8
            if w <= 2 and h <= 2:
                tw = th = 4
            s = max(1, min(8, (ch - 50) // max(tw, th), (cw - 50) // max(tw, th)))
            bx, by = x + 6, y + 30
            checker(ctx, bx, by, tw * s, th * s)
            pic = cairo.SurfacePattern(picture_surface(rows, w, h))
            pic.set_filter(cairo.FILTER_NEAREST)
            pic.set_extend(cairo.EXTEND_REPEAT)
            ctx.save()
            ctx.translate(bx, by)
            ctx.scale(s, s)
            ctx.set_source(pic)
            ctx.rectangle(0, 0, tw, th)
            ctx.fill()
            ctx.restore()
            # and at its real size beside it
            ctx.save()
            ctx.translate(x + cw - 14 - tw, y + ch - 14 - th)
            ctx.set_source(cairo.SurfacePattern(picture_surface(rows, w, h)))
            ctx.get_source().set_extend(cairo.EXTEND_REPEAT)
            ctx.rectangle(0, 0, tw, th)
            ctx.fill()
            ctx.restore()
        y0 += rows_per * ch + pad
    ctx.set_source_rgb(0, 0, 0)
    ctx.set_font_size(18)
    ctx.move_to(pad, y0 + 20)
    ctx.show_text("language flags (16x11, 18x14, 27x22, 30x20)")
    y0 += 30
    for i in range(len(langflags.FLAGS)):
        x = pad
        ctx.set_source_rgb(0, 0, 0)
        ctx.set_font_size(12)
        ctx.move_to(x, y0 + 14)
        ctx.show_text("%d %s" % (i, langflags.NAMES[i]))
        x += 60
        for w, h in langflags.SIZES:
            rows = langflags.render(i, w, h)
            pic = cairo.SurfacePattern(picture_surface(rows, w, h))
            pic.set_filter(cairo.FILTER_NEAREST)
            ctx.save()
            ctx.translate(x, y0)
            ctx.scale(scale, scale)
            ctx.set_source(pic)
            ctx.rectangle(0, 0, w, h)
            ctx.fill()
            ctx.restore()
            x += w * scale + 12
        y0 += 20 * scale + 8
    surface.write_to_png(path)


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--sheet":
        sheet(sys.argv[2])
    elif len(sys.argv) == 2:
        write_source(sys.argv[1])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
