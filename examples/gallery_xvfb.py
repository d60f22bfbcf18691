#!/usr/bin/python3
"""Drives the toolkit gallery on an X display and keeps its screenshots.

Run inside an X server (xvfb-run):

    gallery_xvfb.py GALLERY OFFSCREEN.png OUTDIR [--wm TWMRC]

1. With --wm, twm starts first with the configuration TWMRC, and the run
   waits until it manages windows;
2. the sample scenario's folder is copied to a fresh folder under OUTDIR
   (deep enough that the file chooser's path bar has to list some of its
   folders in a drop-down), since the script makes a folder in it;
3. gallery --drive OUTDIR --hold under SDL's x11 driver: the gallery's own
   script injects pointer moves, clicks, wheel turns, keys and typing (SDL
   events into the queue) through every control, drop-down list and menu of
   the window and of the message box, the file chooser (open and save), the
   folder chooser and a progress form; it checks what each did into
   OUTDIR/gallery-checks.txt and saves each window as OUTDIR/gallery-*.png;
   then it keeps its window up;
4. ImageMagick's `import -window root` grabs the X screen meanwhile
   (OUTDIR/gallery-xvfb-screen.png): the server's framebuffer, so it proves
   the window was mapped and its pixels reached X;
5. checks: the gallery checked exactly CHECKS, each "ok"; every dialog's
   picture exists at the size the dialog asks for and is not blank; the
   untouched window equals the offscreen driver's rendering (OFFSCREEN.png);
   the typing shows in the last picture; the last picture is found on the X
   screen; HOME (fresh for the test) holds nothing after the picture run
   and the driven one, and the sample copy no "Gallery folder".

Tolerance: 2 levels per channel, as for formdemo: both drivers run the same
software canvas, and X copies its pixels without conversion.  The one
exception is the last pixel of a line, which the canvas blends half with
what lies under it at every paint: from the blank store, after the two
paints of the offscreen run it holds three quarters of its colour, and
every further paint (an exposure, a focus change, a repaint request widened
to the whole window) brings it closer to the whole colour, so however often
the X window was painted it lies within a quarter of the full range
(LINE_END_LEVELS) of the offscreen pixel.  At most LINE_ENDS pixels may
differ so; a missing control, a shifted glyph or a wrong colour is far
beyond both.
"""
import os
import shutil
import sys

from xvfbshot import close, differing, find_window, remove_stale, rgb, run_and_grab, start_window_manager

LINE_ENDS = 16
LINE_END_LEVELS = 64
STEP_TIMEOUT = 60
WM_TIMEOUT = 20

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


def popup(kind, opens, end, *results):
    """The checks of one popup: where it opened, that it stayed open and
    followed the pointer, how it ended, and what that did."""
    return [f"{kind} opens {opens}", f"{kind} stays open and follows the pointer", f"{kind} {end}", *results]


PICKED = "picked with a click"

# What the driven gallery has to check, in its order.  The screen is
# 1024 x 768: the main window's bottom combo box has no room for its list
# below it, every other list has.
CHECKS = [
    "picture gallery-main.png",
    # The main window: typing, the check box, the combo box's list (picked,
    # and closed by a click elsewhere), the list and the tree with the wheel
    # and the pointer, the list's menu (picked, and closed by Escape), the
    # property sheet's choices and its edit, the list that opens upwards.
    "the name field takes typing",
    "the password field takes typing",
    "the check box toggles with a click",
    *popup("colour list", "below its box", PICKED, "colour list: the pick shows", "colour list: the pick is selected"),
    *popup("colour list (again)", "below its box", "closed by a click outside",
           "colour list: a click outside picks nothing", "colour list: the click outside goes no further"),
    "the list scrolls with the wheel",
    *popup("list menu", "at the pointer", PICKED, "list menu: the pick acts on the row under the pointer"),
    *popup("list menu (again)", "at the pointer", "closed by Escape", "list menu: Escape picks nothing"),
    "the tree scrolls with the wheel",
    "a tree item is selected with a click",
    "a tree branch collapses with a click",
    *popup("property sheet choices", "below its box", PICKED, "property sheet choices: the pick shows",
           "property sheet choices: the pick is the property's"),
    "the property sheet's edit takes typing",
    *popup("jump list", "above its box", PICKED, "jump list: the pick shows", "jump list: the list jumps to the pick"),
    # The message box, closed by its button.
    "picture gallery-message.png",
    "message box: its button closes it",
    # The file chooser for opening: its filter box, the file-name field, the
    # path bar's list of the folders that do not fit, its history list and
    # its field, and its list's menu, which opens a file.
    "picture gallery-open.png",
    *popup("filter box", "below its box", PICKED, "filter box: the pick shows",
           "filter box: the list shows what the filter lets through"),
    "the file-name field takes typing: a folder's name goes there",
    *popup("path bar folders", "below its box", PICKED, "path bar folders: the pick goes there"),
    *popup("path bar history", "below its box", PICKED, "path bar history: the pick goes there"),
    "the path bar's field takes typing",
    *popup("path bar history (again)", "below its box", PICKED, "path bar history: a folder visited before"),
    *popup("file list menu", "at the pointer", PICKED, "file list menu: Open returns the file's path"),
    # The file chooser for saving: a typed name comes back.
    "picture gallery-save.png",
    "save dialog: the typed name is returned in the folder shown",
    # The folder chooser: its tree's menu makes a folder, named in a form of
    # its own; a typed path chooses it.
    "picture gallery-folder.png",
    *popup("folder tree menu", "at the pointer", PICKED,
           "folder tree menu: the new folder is made under the folder shown"),
    "folder dialog: the typed path is chosen",
    "picture gallery-progress.png",
    "progress form: the job counts to its end",
    "picture gallery-final.png",
]


def check_checks(path):
    """None when the gallery checked exactly CHECKS, each ok; else what is wrong."""
    if not os.path.exists(path):
        return "the gallery wrote no checks"
    with open(path, encoding="utf-8") as f:
        lines = [line.rstrip("\n") for line in f]
    failed = [line for line in lines if not line.startswith("ok ")]
    if failed:
        return "the gallery's checks failed:\n  " + "\n  ".join(failed)
    done = [line[3:] for line in lines]
    if done != CHECKS:
        missing = [c for c in CHECKS if c not in done]
        extra = [c for c in done if c not in CHECKS]
        return f"the gallery checked something else: missing {missing}, unexpected {extra}"
    return None


# The "Jump to:" label on the form, under the client area: x, y from the
# bottom (as the gallery anchors it), width and height.
JUMP_LABEL = (12, -32, 60, 22)


def label_off_band(img):
    """None when the columns the "Jump to:" label's text leaves free show the
    grey band under the client area, as it shows just left of the label; else
    the first pixel that does not."""
    x0, dy, w, h = JUMP_LABEL
    y0 = img.height + dy + 1
    px = img.load()
    for y in range(y0, y0 + h):
        band = px[x0 - 2, y]
        for x in [*range(x0, x0 + 3), *range(x0 + w - 3, x0 + w)]:
            if not close(px[x, y], band):
                return f"the Jump to: label paints {px[x, y]} at {x},{y} over the band's {band}"
    return None


def main():
    args = sys.argv[1:]
    twmrc = None
    if "--wm" in args:
        at = args.index("--wm")
        twmrc = args[at + 1]
        del args[at:at + 2]
    gallery, offscreen_png, outdir = args[:3]
    os.makedirs(outdir, exist_ok=True)
    screen_png = os.path.join(outdir, "gallery-xvfb-screen.png")
    checks = os.path.join(outdir, "gallery-checks.txt")
    remove_stale([screen_png, checks] + [os.path.join(outdir, p[0]) for p in PICTURES])
    work = os.path.join(outdir, "driven")
    shutil.rmtree(work, ignore_errors=True)
    sample = os.path.join(work, "a-folder-with-a-name-long-enough-for-the-path-bar", "sample")
    shutil.copytree(os.path.join(os.path.dirname(os.path.abspath(__file__)), "sample"), sample)

    wm = None
    try:
        if twmrc:
            try:
                wm = start_window_manager(twmrc, WM_TIMEOUT)
            except RuntimeError as e:
                print(e)
                return 1
        failed = run_and_grab([gallery, "--drive", outdir, "--sample", sample], screen_png, STEP_TIMEOUT)
    finally:
        if wm:
            wm.terminate()
            wm.wait()
    bad_checks = check_checks(checks)
    if bad_checks:
        print(bad_checks)
        return 1
    if failed:
        print(failed)
        return 1
    # The picture run before this script and the driven run keep nothing:
    # no settings folder in HOME, no folder left in the sample.
    home = os.environ.get("HOME", "")
    if home and os.listdir(home):
        print(f"the gallery left {sorted(os.listdir(home))} in HOME")
        return 1
    if os.path.exists(os.path.join(sample, "Gallery folder")):
        print("the driven run left its Gallery folder in the sample")
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
    off_band = label_off_band(ref)
    if off_band:
        print(off_band)
        return 1
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
    print(f"gallery found on the X screen at {at}; {len(CHECKS)} checks and {len(PICTURES)} pictures in {outdir}")
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
