// Shared by the native window tests: a headless display, a watchdog that
// fails a hung test, an event pump and a window that records its handlers.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "macshim/appkit.h"
#include "nslib/nswindow.h"
#include "nslib/nswnd.h"

// Kills the test program (SIGALRM) when a test runs longer than it may.
struct Watchdog {
    explicit Watchdog(unsigned seconds) { alarm(seconds); }
    ~Watchdog() {
        alarm(0);
        mstest::setIdleHook(nullptr);
    }
};

inline void startHeadless() {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    cNSWindow::init();
}

// Dispatches events until pred holds; false when it did not within secs.
inline bool pumpUntil(const std::function<bool()>& pred, double secs = 5) {
    MSApplication* app = MSApplication::shared();
    double end = MSTimeNow() + secs;
    while (!pred()) {
        if (MSTimeNow() > end) return false;
        MSEvent e;
        if (app->nextEvent(MSEventMaskAny, 0.02, e, true)) app->sendEvent(e);
    }
    return true;
}

// Dispatches whatever is queued now.
inline void pumpIdle() {
    MSApplication* app = MSApplication::shared();
    MSEvent e;
    while (app->nextEvent(MSEventMaskAny, 0.05, e, true)) app->sendEvent(e);
}

struct RecWindow : cNSWindow {
    std::vector<std::string> log;
    bool allowClose = true;
    std::function<void(void*)> action;
    std::function<void(int, int, int, bool)> button;

    static std::string fmt(const char* f, long a = 0, long b = 0, long c = 0, long d = 0, long e = 0, long g = 0,
                           long h = 0, long i = 0, long j = 0) {
        char buf[200];
        snprintf(buf, sizeof buf, f, a, b, c, d, e, g, h, i, j);
        return buf;
    }
    bool onClose() override {
        log.push_back("close");
        return allowClose;
    }
    void onSize(int w, int h) override { log.push_back(fmt("size %ld %ld", w, h)); }
    void onMouseButton(int x, int y, int b, bool down, bool option, bool control, bool shift, bool command) override {
        log.push_back(fmt("button %ld %ld %ld %ld o%ld c%ld s%ld m%ld", x, y, b, down, option, control, shift, command));
        if (button) button(x, y, b, down);
    }
    void onMouseMove(int x, int y, int buttons, bool option, bool control, bool shift, bool command) override {
        log.push_back(fmt("move %ld %ld %ld o%ld c%ld s%ld m%ld", x, y, buttons, option, control, shift, command));
    }
    void onMouseWheel(int x, int y, int dx, int dy, int dz, bool option, bool control, bool shift,
                      bool command) override {
        log.push_back(fmt("wheel %ld %ld %ld %ld %ld o%ld c%ld s%ld m%ld", x, y, dx, dy, dz, option, control, shift,
                          command));
    }
    void onKey(int key, bool down, bool option, bool control, bool shift, bool command) override {
        log.push_back(fmt("key %lx %ld o%ld c%ld s%ld m%ld", key, down, option, control, shift, command));
    }
    void onChar(unsigned short ch, bool shift, bool option) override {
        log.push_back(fmt("char %lx s%ld o%ld", ch, shift, option));
    }
    void onAction(void* e) override {
        log.push_back(fmt("action %ld", long(reinterpret_cast<intptr_t>(e))));
        if (action) action(e);
    }
    void onPostAction(void* e) override { log.push_back(fmt("post %ld", long(reinterpret_cast<intptr_t>(e)))); }
    void onPaint(void*, int x, int y, int w, int h) override { log.push_back(fmt("paint %ld %ld %ld %ld", x, y, w, h)); }
    void onFocus() override { log.push_back("focus"); }
    void onFocusLost() override { log.push_back("focuslost"); }

    bool has(const std::string& s) const {
        for (auto& l : log)
            if (l == s) return true;
        return false;
    }
    MSWindow* native() const { return static_cast<MSWindow*>(handle()); }
};

inline void* tag(long n) { return reinterpret_cast<void*>(intptr_t(n)); }
