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
import sys

from xvfbshot import CHANNEL_TOLERANCE, close, differing, find_window, remove_stale, rgb, run_and_grab

STEP_TIMEOUT = 30


def main():
    formdemo, offscreen_png, outdir = sys.argv[1:4]
    os.makedirs(outdir, exist_ok=True)
    window_png = os.path.join(outdir, "formdemo-xvfb.png")
    screen_png = os.path.join(outdir, "formdemo-xvfb-screen.png")
    remove_stale([window_png, screen_png])
    failed = run_and_grab([formdemo, "--png", window_png], screen_png, STEP_TIMEOUT)
    if failed:
        print(failed)
        return 1

    ref = rgb(offscreen_png)
    win = rgb(window_png)
    screen = rgb(screen_png)
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
    bad, _ = differing(win, ref)
    if bad:
        print(f"x11 window buffer: {bad} pixels differ by more than {CHANNEL_TOLERANCE}")
        return 1
    # The window's corner is a flat background colour: its top row finds it.
    at = find_window(screen, ref)
    if at is None:
        print("the form is not on the X screen")
        return 1
    print(f"form found on the X screen at {at}; every pixel within {CHANNEL_TOLERANCE}")
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
