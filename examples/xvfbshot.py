"""What the Xvfb checks of the example programs share.

A program is run under SDL's x11 driver with "--hold": it prints "shown"
once its window is up and keeps it so until its standard input closes.
Meanwhile ImageMagick's `import -window root` grabs the whole X screen: the
server's framebuffer, not the program's own buffer, so the grab proves the
window was mapped and its pixels reached X.  Pictures are compared channel
by channel within CHANNEL_TOLERANCE levels (of 255): both drivers run the
same software canvas and X copies its pixels without scaling or colour
conversion, so the tolerance only absorbs a visual that rounds a channel.
"""
import ctypes
import os
import select
import subprocess
import time

from PIL import Image

CHANNEL_TOLERANCE = 2


def close(p, q):
    return max(abs(p[0] - q[0]), abs(p[1] - q[1]), abs(p[2] - q[2])) <= CHANNEL_TOLERANCE


def differing(a, b):
    """The pixels of `a` beyond the tolerance from `b`, and the largest channel difference among them."""
    pa, pb = a.load(), b.load()
    worst, count = 0, 0
    for y in range(a.height):
        for x in range(a.width):
            p, q = pa[x, y], pb[x, y]
            if not close(p, q):
                count += 1
                worst = max(worst, max(abs(p[i] - q[i]) for i in range(3)))
    return count, worst


def find_window(screen, ref, row=0):
    """The top-left of the place where all of `ref` appears in `screen`, or None.

    Candidates are the places where row `row` of `ref` matches: a row that
    is not one flat colour weeds out most of them cheaply."""
    ps, pr = screen.load(), ref.load()
    probe = [pr[x, row] for x in range(ref.width)]
    for y in range(screen.height - ref.height + 1):
        for x in range(screen.width - ref.width + 1):
            if not all(close(ps[x + i, y + row], probe[i]) for i in range(ref.width)):
                continue
            if all(close(pr[i, j], ps[x + i, y + j]) for j in range(ref.height) for i in range(ref.width)):
                return x, y
    return None


def remove_stale(paths):
    for path in paths:
        if os.path.exists(path):
            os.remove(path)


def run_and_grab(command, screen_png, timeout):
    """Runs `command` held on the x11 driver and grabs the X screen into
    `screen_png` while its window is up.  None when all went well, else
    what went wrong."""
    env = dict(os.environ, SDL_VIDEODRIVER="x11")
    run = subprocess.Popen(command + ["--hold"], env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    name = os.path.basename(command[0])
    try:
        line = run.stdout.readline().strip()
        if line != "shown":
            return f"{name} did not show its window (said {line!r})"
        subprocess.run(["import", "-window", "root", screen_png], check=True, timeout=timeout)
    finally:
        run.stdin.close()
        try:
            rc = run.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            run.kill()
            run.wait()
            rc = "timeout"
    if rc != 0:
        return f"{name} under x11 ended with {rc}"
    return None


def rgb(path):
    return Image.open(path).convert("RGB")


# Xlib through ctypes, for the little a window manager's start needs.
_STRUCTURE_NOTIFY_MASK = 1 << 17
_REPARENT_NOTIFY = 21


def _xlib():
    x = ctypes.CDLL("libX11.so.6")
    x.XOpenDisplay.restype = ctypes.c_void_p
    x.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x.XDefaultRootWindow.restype = ctypes.c_ulong
    x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x.XCreateSimpleWindow.restype = ctypes.c_ulong
    x.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                                      ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_ulong]
    for name, args in (("XSelectInput", [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]),
                       ("XMapWindow", [ctypes.c_void_p, ctypes.c_ulong]),
                       ("XDestroyWindow", [ctypes.c_void_p, ctypes.c_ulong]),
                       ("XFlush", [ctypes.c_void_p]), ("XPending", [ctypes.c_void_p]),
                       ("XConnectionNumber", [ctypes.c_void_p]), ("XCloseDisplay", [ctypes.c_void_p]),
                       ("XNextEvent", [ctypes.c_void_p, ctypes.c_void_p])):
        getattr(x, name).argtypes = args
    return x


def start_window_manager(twmrc, timeout):
    """Starts twm with the configuration twmrc on $DISPLAY and waits until
    it manages windows: until a window of ours is put into one of its
    frames (reparented).  Answers the process, to be terminated by the
    caller; raises RuntimeError when twm does not come up."""
    wm = subprocess.Popen(["twm", "-f", twmrc], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    x = _xlib()
    dpy = x.XOpenDisplay(None)
    if not dpy:
        wm.terminate()
        raise RuntimeError("no X display")
    try:
        probe = x.XCreateSimpleWindow(dpy, x.XDefaultRootWindow(dpy), 0, 0, 10, 10, 0, 0, 0)
        x.XSelectInput(dpy, probe, _STRUCTURE_NOTIFY_MASK)
        x.XMapWindow(dpy, probe)
        x.XFlush(dpy)
        event = (ctypes.c_long * 24)()
        # The deadline only guards against a manager that never comes.
        deadline = time.monotonic() + timeout
        while True:
            if wm.poll() is not None:
                raise RuntimeError(f"twm ended with {wm.returncode}")
            if time.monotonic() > deadline:
                raise RuntimeError("twm did not manage a window")
            if not x.XPending(dpy):
                select.select([x.XConnectionNumber(dpy)], [], [], 0.1)
                continue
            x.XNextEvent(dpy, event)
            # XReparentEvent: type, serial, send_event, display, event, window, ...
            if (event[0] & 0xFFFFFFFF) == _REPARENT_NOTIFY and event[5] == probe:
                break
        x.XDestroyWindow(dpy, probe)
        x.XFlush(dpy)
    except BaseException:
        wm.terminate()
        wm.wait()
        raise
    finally:
        x.XCloseDisplay(dpy)
    return wm
