#!/usr/bin/python3
"""Drives the toolkit gallery on an X display and keeps its screenshots.

Run inside an X server (xvfb-run):  gallery_xvfb.py GALLERY OFFSCREEN.png OUTDIR

1. gallery --drive OUTDIR --hold under SDL's x11 driver: the gallery's own
   script injects clicks, keys and typing through the message box, the file
   chooser (open and save), the folder chooser and a progress form, and saves
   each window as OUTDIR/gallery-*.png; then it keeps its window up;
2. ImageMagick's `import -window root` grabs the X screen meanwhile
   (OUTDIR/gallery-xvfb-screen.png): the server's framebuffer, so it proves
   the window was mapped and its pixels reached X;
3. checks: every dialog's picture exists at the size the dialog asks for and
   is not blank; the untouched window equals the offscreen driver's
   rendering (OFFSCREEN.png); the typing shows in the last picture; the last
   picture is found on the X screen.

Tolerance: 2 levels per channel, as for formdemo: both drivers run the same
software canvas, and X copies its pixels without conversion.  The one
exception is the last pixel of a line, which the canvas blends half with
what lies under it: a window that X asked to repaint has those few pixels
blended once more.  So at most LINE_ENDS pixels may differ by up to
LINE_END_LEVELS; a missing control, a shifted glyph or a wrong colour is
far beyond both.
"""
import os
import sys

from xvfbshot import differing, find_window, remove_stale, rgb, run_and_grab

LINE_ENDS = 16
LINE_END_LEVELS = 24
STEP_TIMEOUT = 60

# Picture, size (None: any), the least number of colours it must show.
PICTURES = [
    ("gallery-main.png", (800, 560), 64),
    ("gallery-message.png", None, 8),
    ("gallery-open.png", (500, 350), 32),
    ("gallery-save.png", (500, 350), 32),
    ("gallery-folder.png", (350, 450), 32),
    ("gallery-progress.png", (600, 106), 8),
    ("gallery-final.png", (800, 560), 64),
]


def main():
    gallery, offscreen_png, outdir = sys.argv[1:4]
    os.makedirs(outdir, exist_ok=True)
    screen_png = os.path.join(outdir, "gallery-xvfb-screen.png")
    remove_stale([screen_png] + [os.path.join(outdir, p[0]) for p in PICTURES])
    failed = run_and_grab([gallery, "--drive", outdir], screen_png, STEP_TIMEOUT)
    if failed:
        print(failed)
        return 1

    shots = {}
    for name, size, colours in PICTURES:
        path = os.path.join(outdir, name)
        if not os.path.exists(path):
            print(f"{name} was not saved")
            return 1
        img = rgb(path)
        if size and img.size != size:
            print(f"{name} is {img.size}, not {size}")
            return 1
        seen = len(set(img.getdata()))
        if seen < colours:
            print(f"{name} shows {seen} colours: blank?")
            return 1
        shots[name] = img
    ref = rgb(offscreen_png)
    bad, worst = differing(shots["gallery-main.png"], ref)
    if bad > LINE_ENDS or worst > LINE_END_LEVELS:
        print(f"the untouched x11 window differs from the offscreen rendering in {bad} pixels, by up to {worst}")
        return 1
    # "Ada" typed into the name field (at 90..310 x 8..30 of the client area,
    # below the form's top band): the field's pixels changed.
    main_img, final = shots["gallery-main.png"], shots["gallery-final.png"]
    field = (100, 40, 300, 60)
    if main_img.crop(field).tobytes() == final.crop(field).tobytes():
        print("the typed name does not show")
        return 1
    # The window's top rows are a flat frame colour that matches too often:
    # a row through its middle finds it.
    at = find_window(rgb(screen_png), final, final.height // 2)
    if at is None:
        print("the gallery is not on the X screen")
        return 1
    print(f"gallery found on the X screen at {at}; {len(PICTURES)} pictures in {outdir}")
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
