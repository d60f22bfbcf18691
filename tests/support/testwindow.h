// A window for the tests of element code: it records what the elements ask
// of it (repaints, capture, pointer shapes, captions, clipboard texts) and
// keeps the wake-ups of the action queues until the test drains them on its
// own thread, as a real window's event loop would.  Also a window maker that
// hands such windows out, and a millisecond clock the test sets by hand.
#pragma once

#include "uitoolkit/element.h"
#include "uitoolkit/window.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace qortest {

class cTestWindowTarget;

// A popup window handed out by cTestWindowTarget::_rt_popup: it binds its
// root to a window of its own and counts its disposals; dispose deletes it
// (never its root).
class cTestPopupHolder : public cWindowHolder {
public:
    cTestPopupHolder(cChildElement* root, int x, int y, int w, int h);
    ~cTestPopupHolder() override;
    cWindowRequestTarget* target() override;
    void dispose(bool) override;

    static int disposed;
    static int alive;
    cTestWindowTarget* window;
};

class cTestWindowTarget : public cWindowRequestTarget {
public:
    // Makes root the window's root (setWinTarget, processConstruct).
    void bind(cChildElement* root, int w, int h, int x = 0, int y = 0);

    void _rt_destroy() override { ++destroyed; }
    void _rt_modalresult(int r) override { modalResults.push_back(r); }
    bool _rt_changepos(int x, int y, int w, int h) override;
    void _rt_repaint(sArea* area) override;
    bool _rt_send_action(void* e) override;
    bool _rt_receive_action(void* e) override;
    bool _rt_capturepointer(bool c) override;
    bool _rt_setpointer(int p) override;
    bool _rt_copy_text(void* t, long long len) override;
    bool _rt_request_copied_text(_typebuf<unsigned char>& out) override;
    bool _rt_setminsize(int w, int h) override;
    bool _rt_setmaxsize(int w, int h) override;
    bool _rt_winpossize(int& x, int& y, int& w, int& h) override;
    bool _rt_desktopsize(int& w, int& h) override;
    bool _rt_setcaption(char* c) override;
    bool _rt_focus() override { ++focusRequests; return true; }
    // Measures with the font's own metrics (the fixed-metric test font).
    bool _rt_textbox(cFontObject* font, char* text, sSize& s) override {
        return font && text && font->getTextDim(nullptr, text, -1, s);
    }
    // Records the request.  With a script (onModal) the root is bound to a
    // window of its own, the script runs on it (standing for the user), the
    // call answers the last result given to end_modal (modalAnswer without
    // one) and the root is deleted, as a real modal run does.  Without a
    // script it answers modalAnswer and leaves the root alone.
    int _rt_modal(char* title, int w, int h, cChildElement* root, bool resizable) override;
    struct sModal {
        std::string title;
        int w, h;
    };
    std::vector<sModal> modals;
    std::function<void(cChildElement* root, cTestWindowTarget& window)> onModal;
    // Opens a cTestPopupHolder and records where; null when refusePopups.
    cWindowHolder* _rt_popup(int x, int y, int w, int h, cChildElement* root, bool focus) override;
    struct sPopup {
        int x, y, w, h;
        cChildElement* root;
        bool focus;
    };
    std::vector<sPopup> popups;
    bool refusePopups = false;
    // A modal popup binds its root to a window of its own, runs the test's
    // script on it (the script stands for the user), answers the last
    // result given to end_modal (-1 without one) and deletes the root.
    int _rt_modal_popup(int x, int y, int w, int h, cChildElement* root) override;
    std::vector<sPopup> modalPopups;
    std::function<void(cChildElement* root, cTestWindowTarget& window)> onModalPopup;
    int desktopW = 1920, desktopH = 1080;

    // Runs every recorded wake-up, in order, on the calling thread; returns
    // how many ran.  Wake-ups recorded meanwhile run too.
    int drain();
    // Waits (up to ms) until at least n wake-ups have been recorded in all.
    bool waitForWakeups(int n, int ms);
    int wakeups();

    cChildElement* root = nullptr;
    bool acceptWakeups = true;   // false: the window refuses to record
    bool grantCapture = true;
    int winX = 0, winY = 0;
    std::vector<sArea> repaints;
    int wholeRepaints = 0;       // requests with a null area
    std::vector<bool> captures;
    std::vector<int> pointers;
    std::vector<std::string> captions;
    std::vector<int> modalResults;
    std::vector<std::string> copied;  // the bytes handed to _rt_copy_text
    std::string clipboard;
    bool hasClipboard = false;
    int destroyed = 0;
    int focusRequests = 0;
    int minW = -2, minH = -2, maxW = -2, maxH = -2;
    int modalAnswer = 0;

private:
    struct sWake {
        bool post;
        void* element;
    };
    std::mutex mMutex;
    std::condition_variable mCond;
    std::deque<sWake> mWakes;
    int mWakeCount = 0;
};

class cTestWindowMaker : public cWindowMaker {
public:
    bool create(void*, void*, unsigned int) override { ++creates; return createResult; }
    int modal(char* title, int w, int h, cChildElement* root, cWindowRequestTarget* owner,
              bool resizable) override;
    cWindowHolder* asyncwnd(char*, int, int, cChildElement*, cWindowRequestTarget*, bool, int, int) override {
        return nullptr;
    }
    void destroy(cWindowHolder*) override {}
    int msgloop() override { return 0; }

    bool createResult = true;
    int creates = 0;
    std::vector<std::string> modalTitles;
    int modalAnswer = 0;
};

// Synthetic input for tables of events.  A click presses and releases a
// mouse button at (dx, dy) inside element e (which must sit in window w's
// tree) through the window's root, as the platform delivers it; a key goes
// to the root with its modifiers.  Both then drain the window's wake-ups.
// A double click moves the manual clock (which must be installed) on by a
// second, clicks, and clicks again 100 ms later.
void clickAt(cTestWindowTarget& w, cChildElement* e, int dx = 3, int dy = 3, int button = 1);
void doubleClickAt(cTestWindowTarget& w, cChildElement* e, int dx = 3, int dy = 3);
// Presses the first button at (dx, dy) inside e, moves to (toDx, toDy) in
// the same coordinates (outside e too) and releases there.
void dragAt(cTestWindowTarget& w, cChildElement* e, int dx, int dy, int toDx, int toDy);
void pressKey(cTestWindowTarget& w, int key, bool shift = false, bool ctrl = false, bool alt = false);
void typeText(cTestWindowTarget& w, const std::string& utf8);

// A millisecond clock for double clicks: install() makes the elements read
// `now`; uninstall() (or the destructor) restores the real clock.
class cManualClock {
public:
    cManualClock() { install(); }
    ~cManualClock() { uninstall(); }
    void install();
    void uninstall();
    static unsigned int now;

private:
    bool mInstalled = false;
    tElementClock mOld = nullptr;
};

// The lines of a message form, one a line ("<not a message>" for any
// other root).
std::string messageText(cChildElement* root);

}  // namespace qortest
