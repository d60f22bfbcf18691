#include "nslib/nswindow.h"

#include <cstdint>

#include "nslib/nswnd.h"

namespace {

// Native virtual key codes to the toolkit's keys: printable keys as their
// upper-case character, others as X11 keysyms less 0xFE00.  Every function
// key the native keyboard has is here (F8 to F13 and F16 to F20 too): a key
// missing from the table would reach the controls as 0, and Shift+F10, the
// keyboard's context-menu request, never.
const uint16_t gMacToLinuxKKCNVTable[130] = {
    'A', 'S', 'D', 'F', 'H', 'G', 'Z', 'X', 'C', 'V',                         // 0-9
    '`', 'B', 'Q', 'W', 'E', 'R', 'Y', 'T', '1', '2',                         // 10-19
    '3', '4', '6', '5', '=', '9', '7', '-', '8', 0,                           // 20-29
    ']', 'O', 'U', '[', 'I', 'P', 0x18D, 'L', 'J', '\'',                      // 30-39
    'K', ';', '\\', ',', '/', 'N', 'M', '.', 0x109, 0x20,                     // 40-49
    '<', 0x108, 0, 0x11B, 0, 0, 0, 0, 0, 0,                                   // 50-59
    0, 0, 0, 0, 0x1CE, 0x19F, 0, 0x1AA, 0, 0x1AB,                             // 60-69
    0, 0x17F, 0, 0, 0, 0x1AF, 0x18D, 0, 0x1AD, 0x1CF,                         // 70-79
    0x1D0, 0, 0x19E, 0x19C, 0x199, 0x19B, 0x196, 0x19D, 0x198, 0x195,         // 80-89
    0x1D1, 0x197, 0x19A, 0, 0, 0, 0x1C2, 0x1C3, 0x1C4, 0x1C0,                 // 90-99
    0x1C5, 0x1C6, 0, 0x1C8, 0, 0x1CA, 0x1CD, 0x114, 0, 0x1C7,                 // 100-109
    0x167, 0x1C9, 0, 0x113, 0x163, 0x150, 0x155, 0x1FF, 0x1C1, 0x157,         // 110-119
    0x1BF, 0x156, 0x1BE, 0x151, 0x153, 0x154, 0x152, 0, 0, 0,                 // 120-129
};

constexpr int kKeyTableSize = 130;

}  // namespace

int nsTranslateKey(int macKey) {
    if (macKey < 0 || macKey >= kKeyTableSize) return 0;
    return gMacToLinuxKKCNVTable[macKey];
}

cNSWindow::cNSWindow() = default;

cNSWindow::~cNSWindow() {
    close();
    // Whatever is still queued is never delivered; a sent action's sender
    // learns that it was cancelled instead of waiting for ever.
    cList left;
    {
        cSafeCriticalSectionAccess g(&lock_);
        queue_.moveTo(left);
    }
    for (cListItem* it = left.head; it; it = it->next) {
        auto* a = static_cast<cActionItem*>(it);
        if (!cancelProc_) break;
        // The toolkit's waiting senders ride both kinds of wake-up.
        if (a->typeOf() == 1) cancelProc_(static_cast<cSentActionItem*>(a)->element, cancelParam_);
        if (a->typeOf() == 2) cancelProc_(static_cast<cPostActionItem*>(a)->element, cancelParam_);
    }
}

void cNSWindow::init() { nswnd_init(); }
void cNSWindow::msgloop() { nswnd_msgloop(); }
bool cNSWindow::desktopSize(int& w, int& h) { return nswnd_desktop_size(w, h); }
bool cNSWindow::blockSleep(char* reason) { return nswg_block_sleep(reason); }
bool cNSWindow::unblockSleep() { return nswg_unblock_sleep(); }
bool cNSWindow::recommendMainWindowSize(int& x, int& y, int& w, int& h) { return nswnd_main_optimal(x, y, w, h); }

bool cNSWindow::create_wnd(const char* caption, int w, int h, bool resizable, int x, int y) {
    close();
    void* n = nswnd_create_wnd(&cNSWindow::wndCallbackProc, this, caption, w, h, resizable, x, y);
    if (!n) return false;
    {
        cSafeCriticalSectionAccess g(&lock_);
        handle_ = n;
    }
    onInit();
    return true;
}

bool cNSWindow::create_popup(int x, int y, int w, int h) {
    close();
    void* n = nswnd_create_popup(&cNSWindow::wndCallbackProc, this, x, y, w, h);
    if (!n) return false;
    {
        cSafeCriticalSectionAccess g(&lock_);
        handle_ = n;
    }
    onInit();
    return true;
}

void cNSWindow::close() {
    void* h;
    {
        // Worker threads read the handle under this lock to post wake-ups:
        // it is cleared here before the window is released.
        cSafeCriticalSectionAccess g(&lock_);
        h = handle_;
        handle_ = nullptr;
    }
    if (!h) return;
    nswnd_cancel_capture(h);
    nswnd_destroy(h);
}

int cNSWindow::modal(cNSWindow* parent) {
    if (!handle_) return 0;
    return nswnd_modal(handle_, parent ? parent->handle_ : nullptr);
}

bool cNSWindow::show() { return handle_ ? nswnd_show_floating(handle_) : false; }
bool cNSWindow::captureMouse() { return nswnd_capture_mouse(handle_); }
void cNSWindow::cancelCaptureMouse() { nswnd_cancel_capture(handle_); }
void cNSWindow::endModal(int result) { nswnd_modal_result(handle_, result); }
bool cNSWindow::minimize() { return nswnd_minimize(handle_); }

bool cNSWindow::maximize() {
    if (!nswnd_maximize(handle_)) return false;
    requestRepaint(0, 0, 0, 0);
    return true;
}

bool cNSWindow::move(int x, int y, int w, int h) {
    if (!nswnd_move(handle_, x, y, w, h)) return false;
    requestRepaint(0, 0, 0, 0);
    return true;
}

bool cNSWindow::setPointer(int type) { return nswnd_setpointer(handle_, type); }
bool cNSWindow::setMinSize(int w, int h) { return nswnd_setminsize(handle_, w, h); }
bool cNSWindow::setMaxSize(int w, int h) { return nswnd_setmaxsize(handle_, w, h); }
bool cNSWindow::getPosSize(int& x, int& y, int& w, int& h) { return nswnd_getpossize(handle_, x, y, w, h); }
void* cNSWindow::cgctx() { return nswnd_cgctx(handle_); }
bool cNSWindow::clientArea(int& w, int& h) { return nswnd_client_area(handle_, w, h); }
bool cNSWindow::focus() { return nswnd_focus(handle_); }
bool cNSWindow::setCaption(const char* utf8) { return nswnd_set_caption(handle_, utf8); }

bool cNSWindow::queueAndWake(cActionItem* item) {
    cSafeCriticalSectionAccess g(&lock_);
    queue_.add(item);
    return handle_ ? nswnd_notify_action(handle_) : false;
}

bool cNSWindow::notifyAction(void* element) { return queueAndWake(new cSentActionItem(element)); }
bool cNSWindow::notifyPostAction(void* element) { return queueAndWake(new cPostActionItem(element)); }
bool cNSWindow::asyncOnFocus() { return queueAndWake(new cFocusAction); }
bool cNSWindow::asyncOnFocusLost() { return queueAndWake(new cFocusLostAction); }

bool cNSWindow::requestRepaint(int x, int y, int w, int h) {
    // The scan and the append share one hold of the lock: two threads asking
    // at once still leave a single pending repaint.
    cSafeCriticalSectionAccess g(&lock_);
    for (cListItem* it = queue_.head; it; it = it->next) {
        auto* a = static_cast<cActionItem*>(it);
        if (a->typeOf() == 3) {
            auto* r = static_cast<cRepaintAction*>(a);
            r->x = r->y = r->w = r->h = 0;
            return true;
        }
    }
    queue_.add(new cRepaintAction(x, y, w, h));
    return handle_ ? nswnd_notify_action(handle_) : false;
}

void cNSWindow::addAction(cActionItem* item) {
    cSafeCriticalSectionAccess g(&lock_);
    queue_.add(item);
}

cNSWindow::cActionItem* cNSWindow::fetchRemoveAction() {
    cSafeCriticalSectionAccess g(&lock_);
    cListItem* h = queue_.head;
    if (!h) return nullptr;
    queue_.dettach(h);
    return static_cast<cActionItem*>(h);
}

void cNSWindow::drain() {
    while (cActionItem* a = fetchRemoveAction()) {
        switch (a->typeOf()) {
        case 1: onAction(static_cast<cSentActionItem*>(a)->element); break;
        case 2: onPostAction(static_cast<cPostActionItem*>(a)->element); break;
        case 3: {
            auto* r = static_cast<cRepaintAction*>(a);
            nswnd_invalidate_view(handle_, r->x, r->y, r->w, r->h);
            break;
        }
        case 4: onFocus(); break;
        case 5: onFocusLost(); break;
        default: break;
        }
        delete a;
    }
}

int cNSWindow::wndCallbackProc(int code, void* record, void* param) {
    return param ? static_cast<cNSWindow*>(param)->wndProc(code, record) : 0;
}

int cNSWindow::wndProc(int code, void* record) {
    // Queued requests go first, except while drawing: handlers (modal loops
    // among them) must not run inside a paint.
    if (code != kNSEvPaint) drain();
    switch (code) {
    case kNSEvClose:
        return onClose() ? 0 : 1;
    case kNSEvQuit:
        return onQuit() ? 0 : 1;
    case kNSEvMouseButton: {
        auto* r = static_cast<sNSMouseButtonRec*>(record);
        if (r) onMouseButton(r->x, r->y, r->button, r->down != 0, r->option, r->control, r->shift, r->command);
        break;
    }
    case kNSEvMouseMove: {
        auto* r = static_cast<sNSMouseMoveRec*>(record);
        if (r) onMouseMove(r->x, r->y, r->left ? 1 : r->right ? 2 : 0, r->option, r->control, r->shift, r->command);
        break;
    }
    case kNSEvWheel: {
        auto* r = static_cast<sNSWheelRec*>(record);
        if (r) onMouseWheel(r->x, r->y, r->dx, r->dy, r->dz, r->option, r->control, r->shift, r->command);
        break;
    }
    case kNSEvKey: {
        auto* r = static_cast<sNSKeyRec*>(record);
        // Only codes 0 to 129 index the table; others carry no key.
        if (r && r->key >= 0 && r->key < kKeyTableSize)
            onKey(gMacToLinuxKKCNVTable[r->key], r->down, r->option, r->control, r->shift, r->command);
        break;
    }
    case kNSEvChar: {
        auto* r = static_cast<sNSCharRec*>(record);
        if (r) onChar(r->ch, r->shift, r->option);
        break;
    }
    case kNSEvPaint: {
        auto* r = static_cast<sNSPaintRec*>(record);
        if (r) onPaint(r->context, r->x, r->y, r->w, r->h);
        break;
    }
    case kNSEvSize: {
        auto* r = static_cast<sNSSizeRec*>(record);
        if (r) onSize(r->w, r->h);
        break;
    }
    case kNSEvBecameKey:
        asyncOnFocus();
        break;
    case kNSEvResignedKey:
        asyncOnFocusLost();
        break;
    default:
        break;
    }
    return 0;
}
