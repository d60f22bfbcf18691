#include "testwindow.h"

#include "recordingcanvas.h"
#include "uitoolkit/messageform.h"

#include <chrono>
#include <cstring>

namespace qortest {

void cTestWindowTarget::bind(cChildElement* r, int w, int h, int x, int y) {
    root = r;
    winX = x;
    winY = y;
    r->setWinTarget(this, x, y, w, h);
    r->processConstruct();
}

bool cTestWindowTarget::_rt_changepos(int x, int y, int w, int h) {
    winX = x;
    winY = y;
    if (root) root->processSizeChanges(w, h, false);
    return true;
}

int cTestPopupHolder::disposed = 0;
int cTestPopupHolder::alive = 0;

cTestPopupHolder::cTestPopupHolder(cChildElement* root, int x, int y, int w, int h)
    : window(new cTestWindowTarget()) {
    ++alive;
    window->bind(root, w, h, x, y);
}

cTestPopupHolder::~cTestPopupHolder() {
    --alive;
    delete window;
}

cWindowRequestTarget* cTestPopupHolder::target() { return window; }

void cTestPopupHolder::dispose(bool) {
    ++disposed;
    delete this;
}

cWindowHolder* cTestWindowTarget::_rt_popup(int x, int y, int w, int h, cChildElement* r, bool focus) {
    if (refusePopups || !r) return nullptr;
    popups.push_back({x, y, w, h, r, focus});
    return new cTestPopupHolder(r, x, y, w, h);
}

int cTestWindowTarget::_rt_modal_popup(int x, int y, int w, int h, cChildElement* r) {
    if (!r) return -1;
    modalPopups.push_back({x, y, w, h, r, true});
    int result = -1;
    {
        cTestWindowTarget window;
        window.desktopW = desktopW;
        window.desktopH = desktopH;
        window.bind(r, w, h, x, y);
        window.drain();
        if (onModalPopup) onModalPopup(r, window);
        if (!window.modalResults.empty()) result = window.modalResults.back();
        delete r;
    }
    return result;
}

void cTestWindowTarget::_rt_repaint(sArea* area) {
    // Repaint requests come from any thread, like a real window's.
    std::lock_guard<std::mutex> lock(mMutex);
    if (area) repaints.push_back(*area);
    else ++wholeRepaints;
}

bool cTestWindowTarget::_rt_send_action(void* e) {
    std::lock_guard<std::mutex> lock(mMutex);
    if (!acceptWakeups) return false;
    mWakes.push_back({false, e});
    ++mWakeCount;
    mCond.notify_all();
    return true;
}

bool cTestWindowTarget::_rt_receive_action(void* e) {
    std::lock_guard<std::mutex> lock(mMutex);
    if (!acceptWakeups) return false;
    mWakes.push_back({true, e});
    ++mWakeCount;
    mCond.notify_all();
    return true;
}

int cTestWindowTarget::drain() {
    int n = 0;
    for (;;) {
        sWake w;
        {
            std::lock_guard<std::mutex> lock(mMutex);
            if (mWakes.empty()) return n;
            w = mWakes.front();
            mWakes.pop_front();
        }
        if (root) {
            auto* e = static_cast<cChildElement*>(w.element);
            if (w.post) root->processPostFirst(e);
            else root->processActionFirst(e);
        }
        ++n;
    }
}

bool cTestWindowTarget::waitForWakeups(int n, int ms) {
    std::unique_lock<std::mutex> lock(mMutex);
    return mCond.wait_for(lock, std::chrono::milliseconds(ms), [&] { return mWakeCount >= n; });
}

int cTestWindowTarget::wakeups() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mWakeCount;
}

bool cTestWindowTarget::_rt_capturepointer(bool c) {
    captures.push_back(c);
    return grantCapture;
}

bool cTestWindowTarget::_rt_setpointer(int p) {
    pointers.push_back(p);
    return p >= 0 && p <= 9;
}

bool cTestWindowTarget::_rt_copy_text(void* t, long long len) {
    if (!t || len < 1) return false;
    // The length counts the terminating NUL, which must be there.
    const char* s = static_cast<const char*>(t);
    if (s[len - 1] != 0) return false;
    copied.emplace_back(s, static_cast<size_t>(len - 1));
    clipboard = copied.back();
    hasClipboard = true;
    return true;
}

bool cTestWindowTarget::_rt_request_copied_text(_typebuf<unsigned char>& out) {
    if (!hasClipboard) return false;
    out.set(static_cast<long long>(clipboard.size()));
    if (!clipboard.empty()) std::memcpy(out.data(), clipboard.data(), clipboard.size());
    return true;
}

bool cTestWindowTarget::_rt_setminsize(int w, int h) {
    minW = w;
    minH = h;
    return true;
}

bool cTestWindowTarget::_rt_setmaxsize(int w, int h) {
    maxW = w;
    maxH = h;
    return true;
}

bool cTestWindowTarget::_rt_winpossize(int& x, int& y, int& w, int& h) {
    x = winX;
    y = winY;
    w = root ? root->width() : 0;
    h = root ? root->height() : 0;
    return true;
}

bool cTestWindowTarget::_rt_desktopsize(int& w, int& h) {
    w = desktopW;
    h = desktopH;
    return true;
}

bool cTestWindowTarget::_rt_setcaption(char* c) {
    captions.emplace_back(c ? c : "");
    return true;
}

int cTestWindowTarget::_rt_modal(char* title, int w, int h, cChildElement* r, bool) {
    if (!r) return -1;
    modals.push_back({title ? title : "", w, h});
    if (!onModal) return modalAnswer;
    int result = modalAnswer;
    {
        cTestWindowTarget window;
        window.desktopW = desktopW;
        window.desktopH = desktopH;
        window.bind(r, w, h);
        window.drain();
        onModal(r, window);
        window.drain();
        if (!window.modalResults.empty()) result = window.modalResults.back();
        delete r;
    }
    return result;
}

int cTestWindowMaker::modal(char* title, int, int, cChildElement* root, cWindowRequestTarget*, bool) {
    if (!root) return -1;
    modalTitles.emplace_back(title ? title : "");
    return modalAnswer;
}

unsigned int cManualClock::now = 1000;

namespace {
unsigned int manualNow() { return cManualClock::now; }
}  // namespace

void cManualClock::install() {
    if (mInstalled) return;
    mOld = __setElementClock(manualNow);
    mInstalled = true;
}

void cManualClock::uninstall() {
    if (!mInstalled) return;
    __setElementClock(mOld);
    mInstalled = false;
}

namespace {
sPoint windowPoint(cTestWindowTarget& w, cChildElement* e, int dx, int dy) {
    sPoint p{0, 0};
    e->absPos(p);
    return {p.x - w.winX + dx, p.y - w.winY + dy};
}
}  // namespace

void clickAt(cTestWindowTarget& w, cChildElement* e, int dx, int dy, int button) {
    const sPoint p = windowPoint(w, e, dx, dy);
    w.root->processMouseMove(p.x, p.y);
    w.root->processMouseBtn(p.x, p.y, button, true, false, false);
    // The platform moves the focus after a press of the first button.
    if (button == 1) w.root->processFocus(p.x, p.y, 1, false, false);
    w.root->processMouseBtn(p.x, p.y, button, false, false, false);
    w.drain();
}

void dragAt(cTestWindowTarget& w, cChildElement* e, int dx, int dy, int toDx, int toDy) {
    const sPoint from = windowPoint(w, e, dx, dy), to = windowPoint(w, e, toDx, toDy);
    w.root->processMouseMove(from.x, from.y);
    w.root->processMouseBtn(from.x, from.y, 1, true, false, false);
    w.root->processFocus(from.x, from.y, 1, false, false);
    w.root->processMouseMove(to.x, to.y);
    w.root->processMouseBtn(to.x, to.y, 1, false, false, false);
    w.drain();
}

void doubleClickAt(cTestWindowTarget& w, cChildElement* e, int dx, int dy) {
    cManualClock::now += 1000;
    clickAt(w, e, dx, dy);
    cManualClock::now += 100;
    clickAt(w, e, dx, dy);
}

void pressKey(cTestWindowTarget& w, int key, bool shift, bool ctrl, bool alt) {
    w.root->processKey(key, shift, ctrl, alt);
    w.drain();
}

void typeText(cTestWindowTarget& w, const std::string& utf8Text) {
    for (char16_t u : utf16(utf8Text)) w.root->processChar(static_cast<unsigned short>(u), false, false, false);
    w.drain();
}

std::string messageText(cChildElement* root) {
    auto* m = dynamic_cast<cMessageForm*>(root);
    if (!m) return "<not a message>";
    std::string out;
    for (int i = 0; i < m->lineCount(); ++i) out += (i ? "\n" : "") + m->lineLabel(i)->textCopy();
    return out;
}

}  // namespace qortest
