#!/usr/bin/python3
"""Checks that formdemo really shows its form on an X display.

Run inside an X server (xvfb-run):  formdemo_xvfb.py FORMDEMO OFFSCREEN.png OUTDIR

1. formdemo --png under SDL's x11 driver, held on screen ("--hold");
2. ImageMagick's `import -window root` grabs the whole X screen while the
   window is up: this reads the server's framebuffer, not formdemo's own
   buffer (which is what --png saves on every driver), so it proves the
   window was mapped and its pixels reached X;
3. the window's PNG and the window's region of the screen are both compared
   with the offscreen driver's rendering, pixel by pixel.

Tolerance: no channel of any pixel may differ by more than 2 levels (of
255), and no pixel may exceed that. Both drivers run the same software
canvas into the same 32-bit buffer, and X copies it to a 24-bit screen
without scaling or colour conversion, so the pixels should be identical;
the 2 levels only absorb a visual that rounds a channel, while a missing
panel, a shifted glyph or a wrong colour is far beyond them.
"""
import os
import subprocess
import sys

from PIL import Image

CHANNEL_TOLERANCE = 2
STEP_TIMEOUT = 30


def close(p, q):
    return max(abs(p[0] - q[0]), abs(p[1] - q[1]), abs(p[2] - q[2])) <= CHANNEL_TOLERANCE


def differing(a, b, ox=0, oy=0):
    """Pixels of `a` that differ from `b` at offset (ox, oy) beyond the tolerance."""
    pa, pb = a.load(), b.load()
    return sum(1 for y in range(a.height) for x in range(a.width) if not close(pa[x, y], pb[x + ox, y + oy]))


def matches_at(ref, screen, ox, oy):
    """Whether all of `ref` appears in `screen` at (ox, oy); stops at the first mismatch."""
    pr, ps = ref.load(), screen.load()
    return all(close(pr[x, y], ps[x + ox, y + oy]) for y in range(ref.height) for x in range(ref.width))


def find_window(screen, ref):
    """The top-left of the place where all of `ref` appears in `screen`, or None."""
    ps, pr = screen.load(), ref.load()
    # Candidates: places where the window's top row matches; its corner is a
    # flat background colour, so the row weeds out most of them cheaply.
    top = [pr[x, 0] for x in range(ref.width)]
    for y in range(screen.height - ref.height + 1):
        for x in range(screen.width - ref.width + 1):
            if all(close(ps[x + i, y], top[i]) for i in range(ref.width)) and matches_at(ref, screen, x, y):
                return x, y
    return None


def main():
    formdemo, offscreen_png, outdir = sys.argv[1:4]
    os.makedirs(outdir, exist_ok=True)
    window_png = os.path.join(outdir, "formdemo-xvfb.png")
    screen_png = os.path.join(outdir, "formdemo-xvfb-screen.png")
    for stale in (window_png, screen_png):
        if os.path.exists(stale):
            os.remove(stale)

    env = dict(os.environ, SDL_VIDEODRIVER="x11")
    demo = subprocess.Popen([formdemo, "--png", window_png, "--hold"], env=env,
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        line = demo.stdout.readline().strip()
        if line != "shown":
            print(f"formdemo did not show its window (said {line!r})")
            return 1
        subprocess.run(["import", "-window", "root", screen_png], check=True, timeout=STEP_TIMEOUT)
    finally:
        demo.stdin.close()
        try:
            rc = demo.wait(timeout=STEP_TIMEOUT)
        except subprocess.TimeoutExpired:
            demo.kill()
            demo.wait()
            rc = "timeout"
    if rc != 0:
        print(f"formdemo under x11 ended with {rc}")
        return 1

    ref = Image.open(offscreen_png).convert("RGB")
    win = Image.open(window_png).convert("RGB")
    screen = Image.open(screen_png).convert("RGB")
    print(f"offscreen {ref.size}, x11 window {win.size}, screen {screen.size}")
    # A blank rendering would prove nothing: the form has a picture ramp.
    if len(set(ref.getdata())) < 64:
        print("the offscreen rendering is nearly flat")
        return 1
    # The panels are painted in the colours formdemo names (canvas colours
    # are 0x00BBGGRR): green "OK", blue "Cancel", inside their borders.
    for name, at, want in (("OK", (133, 153), (0x2E, 0x7D, 0x32)), ("Cancel", (227, 153), (0x15, 0x30, 0xC0))):
        if not close(ref.getpixel(at), want):
            print(f"the {name} panel is {ref.getpixel(at)}, not {want}")
            return 1
    if win.size != ref.size:
        print("the x11 window's size differs from the offscreen rendering")
        return 1
    bad = differing(win, ref)
    if bad:
        print(f"x11 window buffer: {bad} pixels differ by more than {CHANNEL_TOLERANCE}")
        return 1
    at = find_window(screen, ref)
    if at is None:
        print("the form is not on the X screen")
        return 1
    print(f"form found on the X screen at {at}; every pixel within {CHANNEL_TOLERANCE}")
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
