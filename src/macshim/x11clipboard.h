// The desktop's clipboard (the CLIPBOARD selection) under SDL's X11 driver,
// through Xlib on SDL's own connection with a hidden window of our own.
// SDL's clipboard cannot take text that the owner hands over in pieces (the
// INCR transfer every owner uses for large text, about a megabyte and up):
// it gives nothing, leaves the owner waiting for ever, and after its time
// limit takes the clipboard itself with empty text.  Here the text of any
// size is read whole and the owner is left serving it, the clipboard is
// only ever taken by a copy, and the text we own is offered as UTF8_STRING,
// STRING (Latin-1), TEXT and text/plain, in pieces to a reader when large.
//
// Every call takes one of our SDL windows (any: they share the connection)
// and answers kNotX11 or false when it is not on an X server, so the caller
// falls back to SDL's clipboard.  UI thread only.
#pragma once

#include <cstddef>
#include <string>

namespace msx11 {

enum eClipRead { kNotX11 = -1, kNoText = 0, kText = 1 };

// The clipboard's text as UTF-8 (STRING text converted from Latin-1).
// kNoText when nobody owns the clipboard, the owner refused or stopped
// answering; the text we own ourselves comes back without a round trip.
eClipRead readClipboard(void* sdlWindow, std::string& utf8);

// Takes the clipboard with this UTF-8 text (a copy or cut); false when not
// on X11 or when the server gave the clipboard to nobody.
bool takeClipboard(void* sdlWindow, const std::string& utf8);

// Whether our hidden window owns the clipboard now.
bool ownsClipboard(void* sdlWindow);

// The UTF-8 text as ISO 8859-1 (the STRING type): characters beyond it
// become '?'.
std::string latin1Of(const std::string& utf8);
// ISO 8859-1 bytes as UTF-8.
std::string utf8OfLatin1(const std::string& latin1);

}  // namespace msx11
