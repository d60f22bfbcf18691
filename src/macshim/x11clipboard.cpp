#include "macshim/x11clipboard.h"

#include <poll.h>

#include <SDL2/SDL.h>
#include <SDL2/SDL_syswm.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "base/buffers.h"
#include "base/textenc.h"
// Last: Xlib's macros (None, Bool, Status, ...) would clash with names above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include "macshim/x11quiet.h"

namespace {

// How long an owner may take to answer a request or to hand over the next
// piece before we give up on it.  Only a broken owner takes this long.
constexpr int kAnswerMs = 3000;
// Largest piece of text we put on a reader's window in one request; larger
// text goes in pieces of this size.
constexpr size_t kPieceBytes = 256 * 1024;

struct sAtoms {
    Atom clipboard, targets, utf8, text, plain, plainUtf8, incr, timestamp, property;
};

// A reader taking our text in pieces: the next piece goes when it deleted
// the last one.
struct sTransfer {
    Window requestor;
    Atom property;
    Atom type;
    std::string data;
    size_t sent;
};

struct sClip {
    Display* dpy = nullptr;
    Window win = 0;
    sAtoms a{};
    bool owning = false;
    Time ownedSince = CurrentTime;
    std::string owned;  // UTF-8
    std::vector<sTransfer> transfers;
};

sClip& clip() {
    static sClip c;
    return c;
}

Display* displayOf(void* sdlWindow) {
    if (!sdlWindow) return nullptr;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(static_cast<SDL_Window*>(sdlWindow), &info) || info.subsystem != SDL_SYSWM_X11)
        return nullptr;
    return info.info.x11.display;
}

int eventWatch(void* data, SDL_Event* ev);

// Our hidden window on SDL's connection, made at first use (and again when
// SDL opened another connection since).  Never mapped: it only owns the
// clipboard and receives the text we ask for.
sClip* ready(void* sdlWindow) {
    Display* dpy = displayOf(sdlWindow);
    if (!dpy) return nullptr;
    sClip& c = clip();
    if (c.dpy != dpy) {
        c = sClip{};
        c.dpy = dpy;
        c.win = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), -10, -10, 1, 1, 0, 0, 0);
        XSelectInput(dpy, c.win, PropertyChangeMask);
        const char* names[] = {"CLIPBOARD", "TARGETS", "UTF8_STRING", "TEXT", "text/plain",
                               "text/plain;charset=utf-8", "INCR", "TIMESTAMP", "QOR_CLIPBOARD"};
        Atom atoms[9];
        XInternAtoms(dpy, const_cast<char**>(names), 9, False, atoms);
        c.a = sAtoms{atoms[0], atoms[1], atoms[2], atoms[3], atoms[4], atoms[5], atoms[6], atoms[7], atoms[8]};
        // Requests for the text we own arrive among the window system's
        // events, which SDL reads: it hands each over as a window-manager
        // event first, before it drops those of windows it does not know.
        // A watch sees each as SDL queues it (a filter would do too, but
        // setting one discards every event queued at the time).  SDL
        // forgets both when it shuts down, which a new connection follows.
        SDL_DelEventWatch(&eventWatch, nullptr);
        SDL_AddEventWatch(&eventWatch, nullptr);
        SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
    }
    return &c;
}

// -- reading ------------------------------------------------------------

struct sMatch {
    Window win;
    int type;
    Atom property;
};

Bool matches(Display*, XEvent* e, XPointer arg) {
    const sMatch* m = reinterpret_cast<const sMatch*>(arg);
    if (e->type != m->type || e->xany.window != m->win) return False;
    if (m->type == PropertyNotify)
        return e->xproperty.atom == m->property && e->xproperty.state == PropertyNewValue ? True : False;
    return True;
}

// Waits up to ms for an event of our window that m describes.
bool waitEvent(Display* dpy, const sMatch& m, XEvent& out, int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (XCheckIfEvent(dpy, &out, &matches, reinterpret_cast<XPointer>(const_cast<sMatch*>(&m)))) return true;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) return false;
        pollfd p{ConnectionNumber(dpy), POLLIN, 0};
        poll(&p, 1, int(std::min<long long>(left, 100)));
    }
}

// Drops what is queued for our window from an earlier transfer.
void dropStale(const sClip& c) {
    XEvent e;
    while (XCheckTypedWindowEvent(c.dpy, c.win, PropertyNotify, &e)) {
    }
    while (XCheckTypedWindowEvent(c.dpy, c.win, SelectionNotify, &e)) {
    }
}

enum eConverted { kNoAnswer = -1, kRefused = 0, kConverted = 1 };

// The whole property (deleted once read); false when it does not exist.
bool takeProperty(const sClip& c, Atom& type, std::string& bytes) {
    bytes.clear();
    type = None;
    long offset = 0;
    for (;;) {
        Atom t = None;
        int format = 0;
        unsigned long n = 0, after = 0;
        unsigned char* data = nullptr;
        // The length counts 32-bit units; delete takes effect with the last part.
        if (XGetWindowProperty(c.dpy, c.win, c.a.property, offset, 1L << 20, True, AnyPropertyType, &t, &format, &n,
                               &after, &data) != Success)
            return false;
        if (t == None) {
            if (data) XFree(data);
            return offset > 0;
        }
        type = t;
        const size_t unit = format == 32 ? sizeof(long) : size_t(format / 8);
        if (data && n) bytes.append(reinterpret_cast<char*>(data), n * unit);
        if (data) XFree(data);
        if (!after) return true;
        offset += long(format == 32 ? n : n * unit / 4);
    }
}

// The selection converted to target, whole.
eConverted convert(const sClip& c, Atom target, Atom& type, std::string& out) {
    out.clear();
    type = None;
    dropStale(c);
    XDeleteProperty(c.dpy, c.win, c.a.property);
    XConvertSelection(c.dpy, c.a.clipboard, target, c.a.property, c.win, CurrentTime);
    XFlush(c.dpy);
    XEvent ev;
    if (!waitEvent(c.dpy, sMatch{c.win, SelectionNotify, 0}, ev, kAnswerMs)) return kNoAnswer;
    if (ev.xselection.property == None) return kRefused;
    if (!takeProperty(c, type, out)) return kRefused;
    if (type != c.a.incr) return kConverted;
    // In pieces: deleting the INCR property (done above) asks for the first
    // one; each piece deleted asks for the next; an empty piece ends it.
    // Every new value makes us read what is there now: the report of the
    // INCR property itself, or of a piece read already, finds nothing.
    out.clear();
    type = None;
    for (;;) {
        if (!waitEvent(c.dpy, sMatch{c.win, PropertyNotify, c.a.property}, ev, kAnswerMs)) return kNoAnswer;
        Atom pieceType = None;
        std::string piece;
        if (!takeProperty(c, pieceType, piece)) continue;
        if (piece.empty()) return kConverted;
        type = pieceType;
        out += piece;
    }
}

// -- serving ------------------------------------------------------------

std::vector<Atom> offered(const sClip& c) {
    return {c.a.targets, c.a.timestamp, c.a.utf8, XA_STRING, c.a.text, c.a.plainUtf8, c.a.plain};
}

void sendPiece(sClip& c, sTransfer& t) {
    const size_t n = std::min(kPieceBytes, t.data.size() - t.sent);
    XChangeProperty(c.dpy, t.requestor, t.property, t.type, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(t.data.data() + t.sent), int(n));
    t.sent += n;
}

void answer(sClip& c, const XSelectionRequestEvent& req) {
    XSelectionEvent reply{};
    reply.type = SelectionNotify;
    reply.display = c.dpy;
    reply.requestor = req.requestor;
    reply.selection = req.selection;
    reply.target = req.target;
    reply.time = req.time;
    reply.property = None;
    // Obsolete readers name no property: the target's name is used.
    const Atom prop = req.property != None ? req.property : req.target;
    msx11::cQuietErrors quiet(c.dpy);
    if (req.selection == c.a.clipboard && c.owning && req.owner == c.win) {
        std::string data;
        Atom type = None;
        if (req.target == c.a.targets) {
            std::vector<Atom> t = offered(c);
            XChangeProperty(c.dpy, req.requestor, prop, XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<unsigned char*>(t.data()), int(t.size()));
            reply.property = prop;
        } else if (req.target == c.a.timestamp) {
            long stamp = long(c.ownedSince);
            XChangeProperty(c.dpy, req.requestor, prop, XA_INTEGER, 32, PropModeReplace,
                            reinterpret_cast<unsigned char*>(&stamp), 1);
            reply.property = prop;
        } else if (req.target == XA_STRING) {
            data = msx11::latin1Of(c.owned);
            type = XA_STRING;
        } else if (req.target == c.a.utf8 || req.target == c.a.text) {
            data = c.owned;
            type = c.a.utf8;
        } else if (req.target == c.a.plainUtf8 || req.target == c.a.plain) {
            data = c.owned;
            type = req.target;
        }
        if (type != None) {
            reply.property = prop;
            if (data.size() <= kPieceBytes) {
                XChangeProperty(c.dpy, req.requestor, prop, type, 8, PropModeReplace,
                                reinterpret_cast<const unsigned char*>(data.data()), int(data.size()));
            } else {
                // Too large for one request: the size goes first, the text
                // in pieces as the reader deletes each.
                XSelectInput(c.dpy, req.requestor, PropertyChangeMask);
                long size = long(data.size());
                XChangeProperty(c.dpy, req.requestor, prop, c.a.incr, 32, PropModeReplace,
                                reinterpret_cast<unsigned char*>(&size), 1);
                c.transfers.push_back(sTransfer{req.requestor, prop, type, std::move(data), 0});
            }
        }
    }
    XSendEvent(c.dpy, req.requestor, False, NoEventMask, reinterpret_cast<XEvent*>(&reply));
}

// The reader deleted a piece (or the INCR announcement): the next one.
void pieceTaken(sClip& c, const XPropertyEvent& e) {
    if (e.state != PropertyDelete) return;
    for (size_t i = 0; i < c.transfers.size(); ++i) {
        sTransfer& t = c.transfers[i];
        if (t.requestor != e.window || t.property != e.atom) continue;
        msx11::cQuietErrors quiet(c.dpy);
        const bool finished = t.sent == t.data.size();
        sendPiece(c, t);  // the last one is empty
        if (finished) {
            XSelectInput(c.dpy, t.requestor, NoEventMask);
            c.transfers.erase(c.transfers.begin() + long(i));
        }
        return;
    }
}

void handle(const XEvent& e) {
    sClip& c = clip();
    if (!c.dpy) return;
    switch (e.type) {
    case SelectionRequest:
        if (e.xselectionrequest.owner == c.win) answer(c, e.xselectionrequest);
        break;
    case SelectionClear:
        if (e.xselectionclear.window == c.win && e.xselectionclear.selection == c.a.clipboard) {
            // Another program copied: what we held is no longer the clipboard.
            c.owning = false;
            c.owned.clear();
        }
        break;
    case PropertyNotify:
        if (!c.transfers.empty()) pieceTaken(c, e.xproperty);
        break;
    default:
        break;
    }
}

int eventWatch(void*, SDL_Event* ev) {
    if (ev->type == SDL_SYSWMEVENT) {
        const SDL_SysWMmsg* m = ev->syswm.msg;
        if (m && m->subsystem == SDL_SYSWM_X11) handle(m->msg.x11.event);
    }
    return 1;
}

}  // namespace

namespace msx11 {

eClipRead readClipboard(void* sdlWindow, std::string& utf8) {
    utf8.clear();
    sClip* c = ready(sdlWindow);
    if (!c) return kNotX11;
    const Window owner = XGetSelectionOwner(c->dpy, c->a.clipboard);
    if (owner == None) return kNoText;
    if (owner == c->win && c->owning) {
        utf8 = c->owned;
        return kText;
    }
    Atom type = None;
    std::string bytes;
    eConverted got = convert(*c, c->a.utf8, type, bytes);
    // Older owners know no UTF8_STRING: Latin-1 is what they all have.
    if (got == kRefused) got = convert(*c, XA_STRING, type, bytes);
    if (got != kConverted) return kNoText;
    utf8 = type == XA_STRING ? utf8OfLatin1(bytes) : bytes;
    return kText;
}

bool takeClipboard(void* sdlWindow, const std::string& utf8) {
    sClip* c = ready(sdlWindow);
    if (!c) return false;
    c->owned = utf8;
    c->transfers.clear();
    XSetSelectionOwner(c->dpy, c->a.clipboard, c->win, CurrentTime);
    c->owning = XGetSelectionOwner(c->dpy, c->a.clipboard) == c->win;
    if (!c->owning) c->owned.clear();
    return c->owning;
}

bool ownsClipboard(void* sdlWindow) {
    sClip* c = ready(sdlWindow);
    return c && c->owning && XGetSelectionOwner(c->dpy, c->a.clipboard) == c->win;
}

std::string latin1Of(const std::string& utf8) {
    _typebuf<unsigned short> w;
    _pc2w(utf8.data(), (long long)utf8.size(), w);
    std::string out;
    out.reserve(size_t(w.count()));
    for (long long i = 0; i < w.count(); ++i) {
        const unsigned short u = w[i];
        // A pair stands for one character, beyond Latin-1 like every other.
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < w.count() && w[i + 1] >= 0xDC00 && w[i + 1] <= 0xDFFF) ++i;
        out += u <= 0xFF ? char(u) : '?';
    }
    return out;
}

std::string utf8OfLatin1(const std::string& latin1) {
    std::string out;
    out.reserve(latin1.size());
    for (unsigned char b : latin1) {
        if (b < 0x80) {
            out += char(b);
        } else {
            out += char(0xC0 | (b >> 6));
            out += char(0x80 | (b & 0x3F));
        }
    }
    return out;
}

}  // namespace msx11
