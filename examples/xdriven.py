#!/usr/bin/python3
"""The gallery and formdemo driven through the X server, as a user drives them.

    xdriven.py GALLERY FORMDEMO SAMPLE WORKDIR [--wm TWMRC] [--only TEXT] [--timeout S]

A private Xvfb (and, with --wm, twm on it under the configuration TWMRC).
Every case starts a fresh gallery (`gallery --serve`, on a fresh copy of the
sample folder SAMPLE under WORKDIR) or formdemo, moves the pointer, clicks
and types through the X test extension, and reads back after every step
what the X server says (the input focus, the windows mapped, their
properties) and what the gallery reports of itself: on each line "state"
written to its stdin it answers a line of JSON with its windows (with their
X windows), where their controls are in them and the texts they hold.
Every wait is for a condition, with a generous limit that only guards
against one that never comes; the close request is ordered before a report
by a _NET_WM_PING sent after it (the gallery answers the ping once it has
read the request).

The desktop's clipboard is held by another program, xclip: a large text
(handed over in pieces) is pasted, and xclip must go on serving it whole;
what the gallery copies is read back by xclip in every form it offers.

Over every wait the input focus is sampled: it must never be on a popup or
a hint (an override-redirect window of the program).  What each case checks
is in its docstring; the run prints "ok CASE" or "FAILED CASE: what was
seen" per case and fails when any case failed.  --only runs the cases whose
name holds TEXT; --timeout changes the limit of every wait (60 s).
"""
import ctypes
import json
import os
import queue
import shutil
import signal
import subprocess
import sys
import threading
import time

from Xlib import X, XK, Xatom, display, error
from Xlib.ext import xtest
from Xlib.protocol import event

from xvfbshot import start_window_manager

TIMEOUT = 60  # seconds; only guards against a condition that never comes
PR_SET_PDEATHSIG = 1
MAIN_TITLE = "Qor toolkit gallery"
# The gallery's dialog buttons (examples/gallery.cpp).
BT_MESSAGE, BT_OPEN, BT_SAVE, BT_FOLDER = 1, 2, 3, 4


class Failed(Exception):
    pass


class XServer:
    """A private Xvfb, 1024 x 768."""

    def __init__(self):
        r, w = os.pipe()
        # The server goes with this script, however it ends (the programs on
        # it go with the server).
        libc = ctypes.CDLL(None)
        self.proc = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-nolisten", "tcp", "-screen", "0",
                                      "1024x768x24"], pass_fds=[w], stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL,
                                     preexec_fn=lambda: libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL))
        os.close(w)
        number = b""
        while not number.endswith(b"\n"):
            c = os.read(r, 1)
            if not c:
                break
            number += c
        os.close(r)
        if not number.strip():
            self.proc.kill()
            raise RuntimeError("Xvfb did not start")
        self.name = ":" + number.decode().strip()

    def stop(self):
        self.proc.terminate()
        self.proc.wait()


class XClient:
    """The test's own connection: the X test extension for the pointer and
    the keyboard, and the reader of what the server says."""

    def __init__(self, name):
        self.d = display.Display(name)
        self.root = self.d.screen().root
        self.root.change_attributes(event_mask=X.SubstructureNotifyMask)
        self.atom = lambda n: self.d.intern_atom(n)
        self.popups = set()  # override-redirect windows of the program under test
        self.focus_on_popup = None
        self.pid = 0
        self.pings = 0

    # -- input ------------------------------------------------------------
    def move(self, x, y):
        xtest.fake_input(self.d, X.MotionNotify, x=int(x), y=int(y))
        self.d.sync()

    def click(self, x, y, button=1):
        self.move(x, y)
        xtest.fake_input(self.d, X.ButtonPress, button)
        xtest.fake_input(self.d, X.ButtonRelease, button)
        self.d.sync()

    def key(self, name, shift=False):
        code = self.d.keysym_to_keycode(XK.string_to_keysym(name))
        shift_code = self.d.keysym_to_keycode(XK.XK_Shift_L)
        if shift:
            xtest.fake_input(self.d, X.KeyPress, shift_code)
        xtest.fake_input(self.d, X.KeyPress, code)
        xtest.fake_input(self.d, X.KeyRelease, code)
        if shift:
            xtest.fake_input(self.d, X.KeyRelease, shift_code)
        self.d.sync()

    def type(self, text):
        names = {".": "period", " ": "space", "/": "slash", "-": "minus", "_": "underscore"}
        for c in text:
            if c.isalpha():
                self.key(c.lower(), shift=c.isupper())
            elif c.isdigit():
                self.key(c)
            else:
                self.key(names[c], shift=c == "_")

    # -- what the server says ---------------------------------------------
    def focus(self):
        f = self.d.get_input_focus().focus
        return f if isinstance(f, int) else f.id

    def window(self, wid):
        return self.d.create_resource_object("window", wid)

    def viewable(self, wid):
        try:
            return self.window(wid).get_attributes().map_state == X.IsViewable
        except error.BadWindow:
            return False

    def title(self, wid):
        p = self.window(wid).get_full_property(self.atom("_NET_WM_NAME"), self.atom("UTF8_STRING"))
        return p.value.decode() if p else None

    def transient_for(self, wid):
        p = self.window(wid).get_full_property(Xatom.WM_TRANSIENT_FOR, Xatom.WINDOW)
        return p.value[0] if p else None

    def atoms(self, wid, name):
        p = self.window(wid).get_full_property(self.atom(name), Xatom.ATOM)
        return list(p.value) if p else []

    def clipboard_owner(self):
        o = self.d.get_selection_owner(self.atom("CLIPBOARD"))
        return o if isinstance(o, int) else o.id

    def stacking(self):
        """The top-level windows, bottom first."""
        return [w.id for w in self.root.query_tree().children]

    def key_combo(self, name, *mods):
        """A key pressed with modifier keys held (keysym names)."""
        codes = [self.d.keysym_to_keycode(XK.string_to_keysym(m)) for m in mods]
        code = self.d.keysym_to_keycode(XK.string_to_keysym(name))
        if not code:
            raise Failed(f"the keyboard has no {name} key")
        for c in codes:
            xtest.fake_input(self.d, X.KeyPress, c)
        xtest.fake_input(self.d, X.KeyPress, code)
        xtest.fake_input(self.d, X.KeyRelease, code)
        for c in reversed(codes):
            xtest.fake_input(self.d, X.KeyRelease, c)
        self.d.sync()

    def min_size(self, wid):
        hints = self.window(wid).get_wm_normal_hints()
        return (hints.min_width, hints.min_height) if hints and hints.flags & 16 else (0, 0)

    def geometry(self, wid):
        g = self.window(wid).get_geometry()
        return g.width, g.height

    def frame(self, wid):
        """The top-level window holding wid (its manager's frame, or wid)."""
        w = self.window(wid)
        while True:
            parent = w.query_tree().parent
            if parent.id == self.root.id:
                return w.id
            w = parent

    def mapped_popups(self):
        """The program's override-redirect windows that are mapped now."""
        found = []
        for w in self.root.query_tree().children:
            try:
                a = w.get_attributes()
                if not a.override_redirect or a.map_state != X.IsViewable:
                    continue
                pid = w.get_full_property(self.atom("_NET_WM_PID"), Xatom.CARDINAL)
                if pid and pid.value[0] == self.pid:
                    found.append(w.id)
                    self.popups.add(w.id)
            except error.BadWindow:
                pass
        return found

    def sample_focus(self):
        """The focus now; a popup or hint holding it is remembered."""
        self.mapped_popups()
        f = self.focus()
        if f in self.popups and self.focus_on_popup is None:
            self.focus_on_popup = f
        return f

    # -- messages a window manager sends ----------------------------------
    def _protocol(self, wid, what, stamp):
        e = event.ClientMessage(window=self.window(wid), client_type=self.atom("WM_PROTOCOLS"),
                                data=(32, [self.atom(what), stamp, wid, 0, 0]))
        self.window(wid).send_event(e)
        self.d.sync()

    def close_request(self, wid):
        """What a manager sends when the window's close button is used."""
        self._protocol(wid, "WM_DELETE_WINDOW", X.CurrentTime)

    def ping(self, wid):
        """Sends a _NET_WM_PING to wid; answers a test of whether its
        program has answered it (on the root window), which it does once it
        has read every request sent to it before."""
        self.pings += 1
        mine = self.pings
        self._protocol(wid, "_NET_WM_PING", mine)
        answered = [False]

        def test():
            while self.d.pending_events():
                e = self.d.next_event()
                if e.type == X.ClientMessage and e.data[1][0] == self.atom("_NET_WM_PING") and e.data[1][1] == mine:
                    answered[0] = True
            return answered[0]

        return test


class Program:
    """gallery --serve (or formdemo) on the server, with its reports."""

    def __init__(self, argv, x, env):
        self.proc = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env)
        x.pid = self.proc.pid
        x.popups = set()
        x.focus_on_popup = None
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            self.lines.put(line)
        self.lines.put(None)

    def state(self):
        if self.proc.poll() is not None:
            raise Failed(f"the program ended (exit code {self.proc.returncode})")
        try:
            self.proc.stdin.write(b"state\n")
            self.proc.stdin.flush()
            line = self.lines.get(timeout=TIMEOUT)
        except queue.Empty:
            raise Failed("the program does not answer") from None
        except BrokenPipeError:
            line = None
        if line is None:
            self.proc.wait()
            raise Failed(f"the program ended (exit code {self.proc.returncode})")
        return State(json.loads(line))

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait()


class State:
    def __init__(self, j):
        self.j = j
        self.windows = j["windows"]
        self.kinds = [w["kind"] for w in self.windows]

    def win(self, kind):
        for w in reversed(self.windows):
            if w["kind"] == kind:
                return w
        return None

    def summary(self):
        return "; ".join(f"{w['kind']}{' (key)' if w['key'] else ''} texts {w['texts']}" for w in self.windows)

    @property
    def main(self):
        return self.win("main")

    @property
    def top(self):
        return self.windows[-1] if self.windows else None

    def text(self, kind, name):
        w = self.win(kind)
        return w["texts"].get(name) if w else None


class Run:
    def __init__(self, args):
        self.gallery, self.formdemo, self.sample, self.work = args[:4]
        self.args = args
        self.wm = "--wm" in args
        self.x = None
        self.env = None
        self.prog = None
        self.problems = []  # what went wrong in the case running
        self.helpers = []  # other programs a case started (xclip)

    # -- waiting ------------------------------------------------------------
    def wait(self, what, cond):
        """Waits until cond() answers something true (and answers it),
        sampling the input focus meanwhile."""
        deadline = time.monotonic() + TIMEOUT
        last = None
        while True:
            self.x.sample_focus()
            try:
                got = cond()
            except (KeyError, TypeError, IndexError) as e:
                got, last = None, repr(e)
            if got:
                self.check_popup_focus()
                return got
            if time.monotonic() > deadline:
                raise Failed(f"{what} did not come about" + (f" ({last})" if last else ""))
            time.sleep(0.02)

    def barrier(self, wid):
        """Returns once the program has read every request sent to wid
        before (a close request, a key)."""
        answered = self.x.ping(wid)
        self.wait("the answer to a ping", lambda: self.prog.state() and answered())

    def soft(self, ok, what):
        """A check that does not stop the case: its failure is reported at
        the case's end with whatever else went wrong."""
        if not ok:
            self.problems.append(what)

    def check_popup_focus(self):
        if self.x.focus_on_popup is not None:
            raise Failed(f"a popup or hint (window {self.x.focus_on_popup:#x}) had the input focus")

    def state_when(self, what, pred):
        """The first report for which pred holds."""
        seen = []

        def cond():
            s = self.prog.state()
            seen[:] = [s]
            return s if pred(s) else None

        try:
            return self.wait(what, cond)
        except Failed as e:
            if seen and "did not come about" in str(e):
                raise Failed(f"{e}; last seen: {seen[0].summary()}") from None
            raise

    def at(self, s, kind, name):
        """The screen point at the middle of a control of the report s: the
        report places it in its window, the server places the window."""
        w = s.win(kind)
        x, y, width, height = w["rects"][name]
        g = self.x.root.translate_coords(self.x.window(w["x11"]), x + width // 2, y + height // 2)
        return g.x, g.y

    def focus_on(self, what, wid):
        seen = [None]

        def cond():
            seen[0] = self.x.sample_focus()
            return seen[0] == wid

        try:
            self.wait(f"the input focus on {what} ({wid:#x})", cond)
        except Failed as e:
            if "did not come about" not in str(e):
                raise
            names = {0: "None", 1: "PointerRoot"}
            raise Failed(f"{e}; it is on {names.get(seen[0], hex(seen[0] or 0))}") from None

    # -- the gallery ----------------------------------------------------------
    def start_gallery(self, case):
        sample = os.path.join(self.work, case.replace(" ", "-"), "sample")
        shutil.rmtree(os.path.dirname(sample), ignore_errors=True)
        shutil.copytree(self.sample, sample)
        self.sample_copy = sample
        self.x.move(1, 1)  # away from where the last case left it
        self.prog = Program([self.gallery, "--serve", "--sample", sample], self.x, self.env)
        s = self.state_when("the main window with the keyboard",
                            lambda s: s.main and s.main["key"] and s.main["x11"] and self.x.viewable(s.main["x11"]))
        self.main = s.main["x11"]
        self.focus_on("the main window", self.main)
        return s

    def typed_into_name(self, text):
        """Clicks the Name field, types text, and checks that it arrives."""
        s = self.prog.state()
        self.x.click(*self.at(s, "main", "name"))
        self.x.key("End")
        before = self.prog.state().text("main", "name")
        self.x.type(text)
        self.state_when(f'"{text}" typed into the Name field',
                        lambda s: s.text("main", "name") == before + text)
        self.focus_on("the main window", self.main)

    def open_dialog(self, button, kind):
        s = self.prog.state()
        self.x.click(*self.at(s, "main", f"button.{button}"))
        s = self.state_when(f"the {kind} dialog with the keyboard",
                            lambda s: s.top["kind"] == kind and s.top["key"] and self.x.viewable(s.top["x11"]))
        if kind == "file":
            s = self.state_when("the file chooser's folder listed", lambda s: s.text("file", "busy") == "0")
        dialog = s.top["x11"]
        self.focus_on(f"the {kind} dialog", dialog)
        owner = self.x.transient_for(dialog)
        self.soft(owner == self.main, f"the {kind} dialog is transient for {owner!r}, not for the main window")
        self.soft(self.x.title(self.main) == MAIN_TITLE,
                  f"with the {kind} dialog open the main window's title is {self.x.title(self.main)!r}")
        return s

    def no_dialog(self, what):
        return self.state_when(what, lambda s: s.kinds == ["main"] and s.main["key"])

    # -- cases ------------------------------------------------------------------
    def case_first_keys(self):
        """At start the main window has the input focus and its Name field
        the typing, without a click; under a window manager the main window
        is a normal decorated top-level window."""
        self.start_gallery("first keys")
        owner = self.x.transient_for(self.main)
        self.soft(owner is None, f"the main window is transient for {owner or 0:#x}")
        if self.wm:
            frame = self.x.frame(self.main)
            fw, fh = self.x.geometry(frame)
            mw, mh = self.x.geometry(self.main)
            self.soft(frame != self.main and fh > mh,
                      f"the window manager gave the main window no title bar ({fw}x{fh} around {mw}x{mh})")
        self.x.type("abc")
        self.state_when('"abc" in the Name field', lambda s: s.text("main", "name") == "abc")
        self.focus_on("the main window", self.main)

    def hint_case(self, control):
        self.start_gallery(f"hint {control}")
        s = self.prog.state()
        self.x.move(*self.at(s, "main", control))
        hint = self.wait("a hint", lambda: self.x.mapped_popups())[0]
        self.focus_on("the main window while the hint is up", self.main)
        away = self.at(s, "main", "status")
        self.x.move(*away)
        self.wait("the hint gone", lambda: not self.x.viewable(hint))
        self.focus_on("the main window", self.main)
        self.typed_into_name("hint")

    def case_hint_section_arrow(self):
        """The hint of the property sheet's section arrow never takes the
        keyboard; once it goes, the Name field takes typing."""
        self.hint_case("section1.arrow")

    def case_hint_action_button(self):
        """The same for the hint of the Target property's action button."""
        self.hint_case("target.action")

    def colour_list(self, end):
        self.start_gallery(f"colour list {end}")
        s = self.prog.state()
        self.x.click(*self.at(s, "main", "colour.arrow"))
        s = self.state_when("the colour list", lambda s: s.top["kind"] == "popup" and self.x.viewable(s.top["x11"]))
        self.focus_on("the main window while the list is up", self.main)
        if end == "pick":
            self.x.click(*self.at(s, "popup", "entry.0"))
        else:
            self.x.key("Escape")
        want = "Red" if end == "pick" else "Green"
        self.state_when(f"the list closed with {want} shown", lambda s: s.kinds == ["main"] and
                        s.text("main", "colour") == want)
        self.focus_on("the main window", self.main)
        self.typed_into_name("list")

    def case_popup_pick(self):
        """A drop-down list picked with the mouse never takes the keyboard;
        afterwards the Name field takes typing."""
        self.colour_list("pick")

    def case_popup_escape(self):
        """The same for a list closed by Escape, which picks nothing."""
        self.colour_list("escape")

    def dialog_case(self, button, kind, closer, status):
        self.start_gallery(f"dialog {button} {closer}")
        s = self.open_dialog(button, kind)
        dialog = s.top["x11"]
        if closer == "button":
            self.x.click(*self.at(s, kind, "button.2" if "button.2" in s.top["rects"] else "button.1"))
        elif closer == "escape":
            self.x.key("Escape")
        else:
            self.x.close_request(dialog)
        self.no_dialog(f"the {kind} dialog closed")
        self.focus_on("the main window", self.main)
        s = self.prog.state()
        self.soft(s.text("main", "status") == status,
                  f"the status line says {s.text('main', 'status')!r}, not {status!r}")
        self.typed_into_name("back")

    def case_overwrite_no(self):
        """The save dialog's question whether to replace a file, answered
        No: the save dialog has the keyboard again and its file-name field
        takes typing."""
        self.start_gallery("overwrite no")
        s = self.open_dialog(BT_SAVE, "file")
        save = s.top["x11"]
        self.x.click(*self.at(s, "file", "name"))
        self.x.type("scenario.txt")
        self.state_when("the typed name", lambda s: s.text("file", "name") == "scenario.txt")
        self.x.key("Return")
        s = self.state_when("the question", lambda s: s.top["kind"] == "message" and s.top["key"])
        self.focus_on("the question", s.top["x11"])
        self.x.click(*self.at(s, "message", "button.2"))
        self.state_when("the save dialog back", lambda s: s.top["kind"] == "file" and s.top["key"])
        self.focus_on("the save dialog", save)
        self.x.key("End")
        self.x.type("x")
        self.state_when("typing in the save dialog", lambda s: s.text("file", "name") == "scenario.txtx")
        self.x.key("Escape")
        self.no_dialog("the save dialog closed")
        self.focus_on("the main window", self.main)

    def case_filter_escape(self):
        """The file chooser's filter list closed by Escape leaves the
        chooser with the keyboard: its file-name field takes typing."""
        self.start_gallery("filter escape")
        s = self.open_dialog(BT_OPEN, "file")
        chooser = s.top["x11"]
        self.x.click(*self.at(s, "file", "filter.arrow"))
        self.state_when("the filter list", lambda s: s.top["kind"] == "popup")
        self.focus_on("the file chooser while the list is up", chooser)
        self.x.key("Escape")
        s = self.state_when("the filter list closed", lambda s: s.top["kind"] == "file" and s.top["key"])
        self.focus_on("the file chooser", chooser)
        self.x.click(*self.at(s, "file", "name"))
        self.x.type("abc")
        self.state_when("typing in the file chooser", lambda s: s.text("file", "name") == "abc")

    def new_folder_case(self, button, kind, top_button, name):
        self.start_gallery(f"new folder {kind}")
        s = self.open_dialog(button, kind)
        self.x.click(*self.at(s, kind, f"top.{top_button}"))
        s = self.state_when("the new-folder form", lambda s: s.top["kind"] == "newfolder" and s.top["key"])
        self.focus_on("the new-folder form", s.top["x11"])
        # Typed at once, without a click into its field.
        self.x.type(name)
        self.state_when("the name typed", lambda s: s.text("newfolder", "edit") == name)
        self.x.key("Return")
        self.state_when("the new-folder form closed", lambda s: s.top["kind"] == kind and s.top["key"])
        made = os.path.join(self.sample_copy, name)
        if not os.path.isdir(made):
            raise Failed(f"{made} was not made")
        self.x.key("Escape")
        self.no_dialog(f"the {kind} dialog closed")

    def case_new_folder_save(self):
        """The save dialog's "Enter new folder name" form opens with its
        field focused: a name typed at once makes the folder."""
        self.new_folder_case(BT_SAVE, "file", 3, "Fresh one")

    def case_new_folder_chooser(self):
        """The same in the folder chooser."""
        self.new_folder_case(BT_FOLDER, "folder", 1, "Fresh two")

    def case_escape_in_sheet(self):
        """Escape in the property sheet's Version value takes back what was
        typed there, and Escape in the Name field ends nothing: the gallery
        runs on with the keyboard."""
        self.start_gallery("escape in sheet")
        s = self.prog.state()
        self.x.click(*self.at(s, "main", "version"))
        self.x.key("End")
        self.x.type(".9")
        self.state_when("the typed version", lambda s: s.text("main", "version") == "1.4.2.9")
        self.x.key("Escape")
        self.barrier(self.main)
        self.state_when("the version taken back", lambda s: s.text("main", "version") == "1.4.2")
        self.focus_on("the main window", self.main)
        s = self.prog.state()
        self.x.click(*self.at(s, "main", "name"))
        self.x.type("esc")
        self.x.key("Escape")
        self.barrier(self.main)
        self.x.type("x")
        self.state_when("the Name field after Escape", lambda s: s.text("main", "name") == "escx")
        self.focus_on("the main window", self.main)

    def case_close_under_modal(self):
        """A close request on the main window while the file chooser is
        open is refused (the chooser stays in front with the keyboard) and
        never comes back later: cancelling the chooser leaves the gallery
        running; a close request then ends it with 0."""
        self.start_gallery("close under modal")
        s = self.open_dialog(BT_OPEN, "file")
        chooser = s.top["x11"]
        self.x.close_request(self.main)
        self.barrier(self.main)
        s = self.prog.state()
        if s.kinds != ["main", "file"] or not s.top["key"]:
            raise Failed(f"after the close request the windows are {s.kinds}")
        if not self.x.viewable(self.main):
            raise Failed("the main window went")
        self.focus_on("the file chooser", chooser)
        self.x.click(*self.at(s, "file", "button.2"))
        self.no_dialog("the file chooser cancelled")
        self.barrier(self.main)
        s = self.prog.state()
        if s.text("main", "status") != "No file was chosen.":
            raise Failed(f"the status line says {s.text('main', 'status')!r}")
        self.focus_on("the main window", self.main)
        self.typed_into_name("still")
        self.x.close_request(self.main)
        self.ended_with_0(self.prog)

    def ended_with_0(self, prog):
        self.wait("the program's end", lambda: prog.proc.poll() is not None)
        if prog.proc.returncode != 0:
            raise Failed(f"the program ended with {prog.proc.returncode}")

    def case_formdemo_closes(self):
        """formdemo, asked to close, ends with 0."""
        self.x.move(1, 1)
        self.prog = Program([self.formdemo], self.x, self.env)
        win = self.wait("formdemo's window", lambda: self.find_titled("Form demo"))
        self.focus_on("formdemo's window", win)
        self.x.close_request(win)
        self.ended_with_0(self.prog)

    def find_titled(self, title):
        for w in self.x.root.query_tree().children:
            for c in [w] + list(w.query_tree().children if self.wm else []):
                try:
                    if self.x.title(c.id) == title and self.x.viewable(c.id):
                        return c.id
                except error.BadWindow:
                    pass
        return None

    def case_minimum_size(self):
        """The main window made 500 x 330 grows back to a size at which no
        control covers another or leaves the window, and it says so in its
        size hints."""
        self.start_gallery("minimum size")
        self.x.window(self.main).configure(width=500, height=330)
        self.x.d.sync()
        self.barrier(self.main)
        min_w, min_h = self.x.min_size(self.main)

        def settled():
            s = self.prog.state()
            w, h = self.x.geometry(self.main)
            return s if (w, h) == tuple(s.j["size"]) and w >= min_w and h >= min_h and w > 500 else None

        s = self.wait("the window grown back", settled)
        if (min_w, min_h) == (0, 0):
            raise Failed("the main window has no minimum size")
        r = s.main["rects"]
        width, height = s.j["size"]
        names = ["name", "password", "colour", "remember", "list", "tree", "document", "sheet", "status",
                 "jump.label", "jump"] + [f"button.{i}" for i in range(1, 6)]
        for n in names:
            x, y, w, h = r[n]
            if x < 0 or y < 0 or x + w > width or y + h > height:
                raise Failed(f"{n} at {r[n]} leaves the window of {width}x{height}")
        for i, a in enumerate(names):
            for b in names[i + 1:]:
                if overlap(r[a], r[b]):
                    raise Failed(f"{a} at {r[a]} and {b} at {r[b]} overlap")

    # -- the clipboard, the stacking, the keys -----------------------------------
    def xclip_hold(self, data):
        """xclip holding data on the clipboard (until another program
        copies); answers its owner window."""
        path = os.path.join(self.work, "clipboard.txt")
        with open(path, "wb") as f:
            f.write(data)
        before = self.x.clipboard_owner()
        proc = subprocess.Popen(["xclip", "-selection", "clipboard", "-quiet", "-i", path], env=self.env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.helpers.append(proc)
        owner = self.wait("xclip holding the clipboard",
                          lambda: self.x.clipboard_owner() not in (0, before) and self.x.clipboard_owner())
        return proc, owner

    def xclip_read(self, target):
        """What another program reads from the clipboard as target."""
        try:
            r = subprocess.run(["xclip", "-selection", "clipboard", "-o", "-t", target], env=self.env,
                               capture_output=True, timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            raise Failed(f"reading the clipboard as {target} hangs") from None
        if r.returncode != 0:
            raise Failed(f"reading the clipboard as {target} fails: {r.stderr.decode(errors='replace').strip()}")
        return r.stdout

    def paste_into_name(self, replace=True):
        s = self.prog.state()
        self.x.click(*self.at(s, "main", "name"))
        if replace:
            self.x.key_combo("a", "Control_L")
        self.x.key_combo("v", "Control_L")

    def case_large_paste(self):
        """A 2 MB clipboard that xclip hands over in pieces, pasted into the
        Name field, fills the field with its first characters (line breaks
        and tabs as spaces, non-ASCII byte-exact); xclip still owns the
        clipboard afterwards and serves the whole text, also after a second
        paste."""
        self.start_gallery("large paste")
        text, i = [], 0
        while sum(map(len, text)) < 2 * 1024 * 1024:
            text.append(f"Grüße 日本 line {i:06d}\tcolumn two\n")
            i += 1
        text = "".join(text)
        data = text.encode()
        proc, owner = self.xclip_hold(data)
        flat = text.replace("\t", " ").replace("\n", " ")
        for attempt in ("first", "second"):
            # Emptied first, so that the text seen is the new paste's.
            s = self.prog.state()
            self.x.click(*self.at(s, "main", "name"))
            self.x.key_combo("a", "Control_L")
            self.x.key("BackSpace")
            self.state_when("the Name field empty", lambda s: s.text("main", "name") == "")
            self.paste_into_name(replace=False)

            def pasted(s):
                t = s.text("main", "name")
                return t and len(t) >= 100 and flat.startswith(t)

            self.state_when(f"the {attempt} paste's first characters in the Name field", pasted)
            self.focus_on("the main window", self.main)
            if proc.poll() is not None or self.x.clipboard_owner() != owner:
                raise Failed(f"after the {attempt} paste xclip no longer holds the clipboard "
                             f"(owner {self.x.clipboard_owner():#x}, not {owner:#x})")
            if self.xclip_read("UTF8_STRING") != data:
                raise Failed(f"after the {attempt} paste the clipboard no longer holds the whole text")

    def case_clipboard_both_ways(self):
        """Text pasted from xclip keeps its word breaks ("one\\ntwo\\tthree"
        becomes "one two three"); Ctrl+C on the field makes the gallery the
        clipboard's owner, and xclip reads its text back byte-exact as
        UTF8_STRING and as STRING (Latin-1), both offered in TARGETS."""
        self.start_gallery("clipboard both ways")
        proc, owner = self.xclip_hold("Grüße one\ntwo\tthree".encode())
        self.paste_into_name()
        want = "Grüße one two three"
        self.state_when("the pasted words in the Name field", lambda s: s.text("main", "name") == want)
        self.x.key_combo("a", "Control_L")
        self.x.key_combo("c", "Control_L")
        self.wait("the gallery owning the clipboard", lambda: self.x.clipboard_owner() not in (0, owner))
        self.wait("xclip gone with the clipboard", lambda: proc.poll() is not None)
        targets = self.xclip_read("TARGETS").decode().split()
        for t in ("UTF8_STRING", "STRING"):
            if t not in targets:
                raise Failed(f"the clipboard's targets {targets} lack {t}")
        got = self.xclip_read("UTF8_STRING")
        if got != want.encode():
            raise Failed(f"the clipboard read as UTF8_STRING holds {got!r}")
        got = self.xclip_read("STRING")
        if got != want.encode("latin-1"):
            raise Failed(f"the clipboard read as STRING holds {got!r}")

    def case_modal_in_front(self):
        """The message box is marked for the window manager as modal
        (_NET_WM_STATE_MODAL) and transient for the main window.  Once the
        main window is raised over it (as a manager does for a click on the
        main window's title bar), a click on the main window brings the
        message box to the front (the server's stacking order) with the
        input focus, and Escape there closes it."""
        self.start_gallery("modal in front")
        s = self.open_dialog(BT_MESSAGE, "message")
        dialog = s.top["x11"]
        if self.x.atom("_NET_WM_STATE_MODAL") not in self.x.atoms(dialog, "_NET_WM_STATE"):
            raise Failed("the message box is not in the modal state")
        if self.x.transient_for(dialog) != self.main:
            raise Failed("the message box is not transient for the main window")
        main_top, dialog_top = self.x.frame(self.main), self.x.frame(dialog)

        def above(a, b):
            order = self.x.stacking()
            return a in order and b in order and order.index(a) > order.index(b)

        self.x.window(self.main).configure(stack_mode=X.Above)
        self.x.d.sync()
        self.wait("the main window raised over the message box", lambda: above(main_top, dialog_top))
        self.x.click(*self.at(s, "main", "list"))
        self.wait("the message box in front of the main window", lambda: above(dialog_top, main_top))
        self.focus_on("the message box", dialog)
        self.state_when("the message box with the keyboard", lambda s: s.top["kind"] == "message" and s.top["key"])
        self.x.key("Escape")
        self.no_dialog("the message box closed")
        self.focus_on("the main window", self.main)

    def case_tab_stops(self):
        """Tab goes round every control once (the gallery reports the
        element with the focus after each): the Colour and Jump-to combo
        boxes are one stop each, the document viewer is one; Down on the
        Colour box picks the next colour and keeps the focus there."""
        s = self.start_gallery("tab stops")
        # Keys sent through the X test extension may arrive after a later
        # ping: each Tab is waited for by the focus moving to another element.
        state = {"id": s.main["focusid"]}

        def tab():
            self.x.key("Tab")
            s = self.state_when("the focus moved on by Tab", lambda s: s.main["focusid"] != state["id"])
            state["id"] = s.main["focusid"]
            return s.main["focus"]

        first = s.main["focusid"]
        seen = [s.main["focus"]]
        while len(seen) < 60:
            seen.append(tab())
            if state["id"] == first:
                break
        if state["id"] != first:
            raise Failed(f"Tab does not come round: {seen}")
        for name in ("colour", "jump", "document"):
            if seen.count(name) != 1:
                raise Failed(f"the {name} control is {seen.count(name)} Tab stops, not 1: {seen}")
        while tab() != "colour":
            pass
        self.x.key("Down")
        s = self.state_when("Blue picked by Down", lambda s: s.text("main", "colour") == "Blue")
        if s.main["focus"] != "colour":
            raise Failed(f"after Down the focus is on {s.main['focus']!r}")

    def case_context_keys(self):
        """Shift+F10 on the package list opens its context menu just as
        the Menu key does; Escape closes it and the list keeps the focus."""
        s = self.start_gallery("context keys")
        self.x.click(*self.at(s, "main", "list"))
        self.state_when("the list focused", lambda s: s.main["focus"] == "list")
        for keys in (("F10", "Shift_L"), ("Menu",)):
            self.x.key_combo(*keys)
            what = "+".join(reversed(keys))
            s = self.state_when(f"the context menu opened by {what}",
                                lambda s: s.top["kind"] == "popup" and len(s.top["rects"]) == 3)
            self.focus_on("the main window while the menu is up", self.main)
            self.x.key("Escape")
            self.state_when("the menu closed", lambda s: s.kinds == ["main"] and s.main["focus"] == "list")

    # -- running --------------------------------------------------------------
    def option(self, name):
        """The value given after the option name, or None."""
        return self.args[self.args.index(name) + 1] if name in self.args else None

    def cases(self):
        yield "first keys at start", self.case_first_keys
        yield "hint of the section arrow", self.case_hint_section_arrow
        yield "hint of an action button", self.case_hint_action_button
        yield "list picked with the mouse", self.case_popup_pick
        yield "list closed by Escape", self.case_popup_escape
        for button, kind, status in ((BT_MESSAGE, "message", "The message box was closed."),
                                     (BT_OPEN, "file", "No file was chosen."),
                                     (BT_SAVE, "file", "No file was chosen."),
                                     (BT_FOLDER, "folder", "No folder was chosen.")):
            what = {BT_MESSAGE: "message box", BT_OPEN: "open dialog", BT_SAVE: "save dialog",
                    BT_FOLDER: "folder chooser"}[button]
            for closer in ("button", "escape", "close request"):
                yield f"{what} closed by {closer}", \
                    lambda b=button, k=kind, c=closer, st=status: self.dialog_case(b, k, c, st)
        yield "overwrite question answered No", self.case_overwrite_no
        yield "filter list closed by Escape", self.case_filter_escape
        yield "new folder in the save dialog", self.case_new_folder_save
        yield "new folder in the folder chooser", self.case_new_folder_chooser
        yield "Escape in the property sheet and the Name field", self.case_escape_in_sheet
        yield "close request under a modal dialog", self.case_close_under_modal
        yield "formdemo closes", self.case_formdemo_closes
        yield "minimum size", self.case_minimum_size
        yield "large clipboard pasted", self.case_large_paste
        yield "clipboard both ways", self.case_clipboard_both_ways
        yield "modal dialog back in front", self.case_modal_in_front
        yield "one Tab stop per control", self.case_tab_stops
        yield "context menu by Shift+F10 and Menu", self.case_context_keys

    def main_run(self):
        server = XServer()
        wm = None
        failed = []
        try:
            self.env = dict(os.environ, DISPLAY=server.name, SDL_VIDEODRIVER="x11")
            home = os.path.join(self.work, "home")
            shutil.rmtree(home, ignore_errors=True)
            os.makedirs(home)
            self.env["HOME"] = home
            os.environ["DISPLAY"] = server.name
            if self.wm:
                wm = start_window_manager(self.option("--wm"), 20)
            self.x = XClient(server.name)
            only = self.option("--only") or ""
            if self.option("--timeout"):
                global TIMEOUT
                TIMEOUT = float(self.option("--timeout"))
            for name, case in self.cases():
                if only not in name:
                    continue
                self.problems = []
                try:
                    case()
                except Failed as e:
                    self.problems.append(str(e))
                finally:
                    if self.prog:
                        self.prog.stop()
                        self.prog = None
                    for h in self.helpers:
                        if h.poll() is None:
                            h.kill()
                        h.wait()
                    self.helpers = []
                if self.problems:
                    failed.append(name)
                    print(f"FAILED {name}: {'; '.join(self.problems)}", flush=True)
                else:
                    print(f"ok {name}", flush=True)
        finally:
            if wm:
                wm.terminate()
                wm.wait()
            server.stop()
        if failed:
            print(f"{len(failed)} case(s) failed: {', '.join(failed)}")
            return 1
        print("ok")
        return 0


def overlap(a, b):
    return a[0] < b[0] + b[2] and b[0] < a[0] + a[2] and a[1] < b[1] + b[3] and b[1] < a[1] + a[3]


if __name__ == "__main__":
    sys.exit(Run(sys.argv[1:]).main_run())
