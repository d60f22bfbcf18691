// What SDL's X11 driver leaves to the desktop stand-in: the keyboard focus
// and the hints a window manager reads.  SDL gives every window the
// server's input focus when it shows it without a manager it recognises
// (no manager at all, or one without the extended hints, such as twm), and
// marks every window transient for the root window when the server knows no
// Motif hints.  A popup (a list, a menu, a hint) must never take the
// keyboard from the window it belongs to, and a titled window must be a
// normal top-level window that a manager decorates.
//
// Every call takes an SDL window and does nothing (answering false) when
// that window is not on an X server, so the offscreen driver runs unchanged.
// UI thread only: the calls use SDL's own connection to the server.
#pragma once

#include <vector>

namespace msx11 {

// Called once after the window was made.  A titled window loses a
// transient-for-the-root mark; a popup is told never to take the keyboard
// (its input hint is false).
void settle(void* sdlWindow, bool popup);

// Marks a titled window as the modal dialog of another: transient for it
// and in the modal state (_NET_WM_STATE_MODAL, typed as a dialog), so that a
// window manager keeps it above the window it blocks.
void markModal(void* sdlWindow, void* parentSdlWindow);

// Maps a popup and raises it without touching the keyboard focus (shown),
// or unmaps it; false when not on X11 (the caller goes through SDL).
bool mapPopup(void* sdlWindow, bool shown);

// Whether no other client holds the keyboard: the server's input focus is
// nobody (none, the pointer's root, the root window) or one of `ours`.
bool focusIsOursOrNobody(void* anySdlWindow, const std::vector<void*>& ours);

// The window's X window, 0 when it is not on an X server.
unsigned long xWindow(void* sdlWindow);

// Whether the server's input focus is on the window itself.
bool hasFocus(void* sdlWindow);

// Gives the window the server's input focus when it is viewable.
void giveFocus(void* sdlWindow);

// Waits until the server has something for SDL's connection (the one the
// window uses), `wakeFd` becomes readable, or ms milliseconds passed (ms < 0:
// no limit).  1 when something came, 0 on the time limit, -1 when the window
// is not on X11 (the caller waits through SDL).
int wait(void* sdlWindow, int wakeFd, int ms);

}  // namespace msx11
