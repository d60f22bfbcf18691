// The toolkit-neutral face of one native window: it owns the window, turns
// each numbered native event into a call of one virtual handler, and owns the
// window's cross-thread queue.  Any thread may ask the window to deliver an
// action, repaint an area or report a focus change; the UI thread delivers
// them in order before it handles the window's next event.
#pragma once

#include "base/lists.h"
#include "base/sync.h"

class cNSWindow {
public:
    class cActionItem : public cListItem {
    public:
        virtual int typeOf() = 0;
    };
    class cSentActionItem : public cActionItem {
    public:
        explicit cSentActionItem(void* e) : element(e) {}
        int typeOf() override { return 1; }
        void* element;
    };
    class cPostActionItem : public cActionItem {
    public:
        explicit cPostActionItem(void* e) : element(e) {}
        int typeOf() override { return 2; }
        void* element;
    };
    class cRepaintAction : public cActionItem {
    public:
        cRepaintAction(int x_, int y_, int w_, int h_) : x(x_), y(y_), w(w_), h(h_) {}
        int typeOf() override { return 3; }
        int x, y, w, h;
    };
    class cFocusAction : public cActionItem {
    public:
        int typeOf() override { return 4; }
    };
    class cFocusLostAction : public cActionItem {
    public:
        int typeOf() override { return 5; }
    };

    // Told about a sent action that will never be delivered (its window
    // went away with it queued), so that its sender stops waiting.
    typedef void (*tCancelProc)(void* element, void* param);

    cNSWindow();
    virtual ~cNSWindow();
    cNSWindow(const cNSWindow&) = delete;
    cNSWindow& operator=(const cNSWindow&) = delete;

    virtual void onInit() {}
    virtual bool onClose() { return true; }
    virtual void onSize(int, int) {}
    virtual void onMouseButton(int, int, int, bool, bool, bool, bool, bool) {}
    virtual void onMouseMove(int, int, int, bool, bool, bool, bool) {}
    virtual void onMouseWheel(int, int, int, int, int, bool, bool, bool, bool) {}
    virtual void onKey(int, bool, bool, bool, bool, bool) {}
    virtual void onChar(unsigned short, bool, bool) {}
    virtual void onAction(void*) {}
    virtual void onPostAction(void*) {}
    virtual void onPaint(void*, int, int, int, int) {}
    virtual void onFocus() {}
    virtual void onFocusLost() {}
    // The application is asked to quit while this window runs modally:
    // true lets its modal loop end (with 0 unless the handler stored a
    // result).  A window that may be closed may quit.
    virtual bool onQuit() { return onClose(); }

    static void init();
    static void msgloop();
    static bool desktopSize(int& w, int& h);
    static bool blockSleep(char* reason);
    static bool unblockSleep();
    static bool recommendMainWindowSize(int& x, int& y, int& w, int& h);

    bool create_wnd(const char* caption, int w, int h, bool resizable, int x = -1, int y = -1);
    bool create_popup(int x, int y, int w, int h);
    void close();
    int modal(cNSWindow* parent);
    bool show();
    bool captureMouse();
    void cancelCaptureMouse();
    void endModal(int result);
    bool minimize();
    bool maximize();
    bool move(int x, int y, int w, int h);
    bool setPointer(int type);
    bool setMinSize(int w, int h);
    bool setMaxSize(int w, int h);
    bool getPosSize(int& x, int& y, int& w, int& h);
    void* cgctx();
    bool clientArea(int& w, int& h);
    bool focus();
    bool setCaption(const char* utf8);

    // Any thread.
    bool notifyAction(void* element);
    bool notifyPostAction(void* element);
    bool requestRepaint(int x, int y, int w, int h);
    bool asyncOnFocus();
    bool asyncOnFocusLost();

    void addAction(cActionItem* item);
    cActionItem* fetchRemoveAction();

    static int wndCallbackProc(int code, void* record, void* param);
    int wndProc(int code, void* record);

    void setCancelProc(tCancelProc proc, void* param) {
        cancelProc_ = proc;
        cancelParam_ = param;
    }
    // The native window (a cNSWndWrapper), null while none exists.  Read
    // on the UI thread.
    void* handle() const { return handle_; }

private:
    // Appends the item and posts the wake-up in one hold of the lock, so
    // that the window cannot be released between the two.
    bool queueAndWake(cActionItem* item);
    void drain();

    void* handle_ = nullptr;
    cList queue_;
    cCriticalSection lock_;
    tCancelProc cancelProc_ = nullptr;
    void* cancelParam_ = nullptr;
};

// The key code the toolkit sees for a native virtual key code below 130;
// 0 for keys without one.
int nsTranslateKey(int macKey);
