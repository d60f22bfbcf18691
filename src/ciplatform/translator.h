// The window layer on the native window object: cNSWTranslator binds one
// native window to the root element of a toolkit window and answers the
// root's requests; cNSWHolder keeps a popup, modal or modeless window (and
// its translator) alive; cNSWMaker makes windows, offscreen canvases and
// runs the main loop.  Everything here runs on the UI thread except
// _rt_send_action and _rt_receive_action, which any thread may call.
#pragma once

#include "nslib/nswindow.h"
#include "uitoolkit/window.h"

// Native units per toolkit unit; nothing installs one, so the factor is 1.
class cWindowRequestTargetScale {
public:
    virtual ~cWindowRequestTargetScale() = default;
    virtual double factor() = 0;
};

class cNSWTranslator : public cNSWindow, public cWindowRequestTarget {
public:
    explicit cNSWTranslator(cChildElement* root = nullptr, cCiomLang* lang = nullptr,
                            cWindowRequestTargetScale* scale = nullptr);
    // Closes the window and deletes the root element.
    ~cNSWTranslator() override;

    cChildElement* root() const { return mRoot; }
    // Hands the root back to the caller (dispose with keepRoot).
    cChildElement* releaseRoot();
    void setRoot(cChildElement* root) { mRoot = root; }
    void setLangMan(cCiomLang* lang) { mLang = lang; }
    void setScaleObject(cWindowRequestTargetScale* s) { mScale = s; }
    cWindowRequestTargetScale* scaleObject() const { return mScale; }
    int modalResult() const { return mModalResult; }

    // Toolkit units to native ones and back.
    int toNative(int v);
    int fromNative(int v);

    // cNSWindow handlers.
    void onInit() override;
    bool onClose() override;
    void onSize(int w, int h) override;
    void onMouseButton(int x, int y, int button, bool down, bool option, bool control, bool shift,
                       bool command) override;
    void onMouseMove(int x, int y, int buttons, bool option, bool control, bool shift, bool command) override;
    void onMouseWheel(int x, int y, int dx, int dy, int dz, bool option, bool control, bool shift,
                      bool command) override;
    void onKey(int key, bool down, bool option, bool control, bool shift, bool command) override;
    void onChar(unsigned short ch, bool shift, bool option) override;
    void onAction(void* element) override;
    void onPostAction(void* element) override;
    void onPaint(void* context, int x, int y, int w, int h) override;
    void onFocus() override;
    void onFocusLost() override;
    bool onQuit() override;

    // Requests of the root element.
    void _rt_destroy() override;
    void _rt_modalresult(int r) override;
    void _rt_minimize() override;
    void _rt_maximize() override;
    bool _rt_changepos(int x, int y, int w, int h) override;
    void* _rt_rawhandle() override;
    void _rt_repaint(sArea* a) override;
    bool _rt_send_action(void* e) override;
    bool _rt_receive_action(void* e) override;
    bool _rt_capturepointer(bool on) override;
    bool _rt_setpointer(int type) override;
    bool _rt_setminsize(int w, int h) override;
    bool _rt_setmaxsize(int w, int h) override;
    bool _rt_winpossize(int& x, int& y, int& w, int& h) override;
    bool _rt_desktopsize(int& w, int& h) override;
    bool _rt_blocksleep(char* reason) override;
    bool _rt_unblocksleep() override;
    bool _rt_setcaption(char* text) override;
    bool _rt_copy_text(void* text, long long n) override;
    bool _rt_request_copied_text(_typebuf<unsigned char>& out) override;
    bool _rt_request_has_copied(bool) override;
    bool _rt_copy_raw(void* data, long long n) override;
    bool _rt_request_copied_raw(_typebuf<unsigned char>& out) override;
    cFontObject* _rt_createfont(int i, int size, char* face, bool bold, bool underline, bool italic) override;
    cCiomLangData* _rt_getnamedlangsection(char* name) override;
    bool _rt_textbox(cFontObject* font, char* text, sSize& size) override;
    cWindowHolder* _rt_popup(int x, int y, int w, int h, cChildElement* root, bool focus) override;
    int _rt_modal(char* title, int w, int h, cChildElement* root, bool resizable) override;
    int _rt_modal_popup(int x, int y, int w, int h, cChildElement* root) override;
    bool _rt_focus() override;

private:
    // Offers the root the cancel Escape gives, then the close: whether the
    // window may go (a close request, a request to quit).
    bool cancelThenClose();
    int runModal(char* title, int x, int y, int w, int h, cChildElement* root, bool resizable, bool popup);

    cWindowRequestTargetScale* mScale = nullptr;
    cChildElement* mRoot = nullptr;
    int mPointer = 0;
    cCiomLang* mLang = nullptr;
    int mModalResult = 0;
};

class cNSWHolder : public cWindowHolder {
public:
    cNSWHolder(cChildElement* root, cCiomLang* lang, cWindowRequestTargetScale* scale)
        : mTranslator(root, lang, scale) {}
    // Closes the window, then the translator deletes its root element.
    ~cNSWHolder() override;
    int typeOf() override { return 5; }
    void destroy() override { mTranslator.close(); }
    cWindowRequestTarget* target() override { return &mTranslator; }
    void dispose(bool keepRoot) override;
    cNSWTranslator& translator() { return mTranslator; }

private:
    cNSWTranslator mTranslator;
};

class cNSWMaker : public cWindowMaker {
public:
    cNSWMaker() = default;
    ~cNSWMaker() override;
    bool create(void* instance, void* iconData, unsigned int iconDim) override;
    cCanvas* offscreen(int w, int h) override;
    int modal(char* title, int w, int h, cChildElement* root, cWindowRequestTarget* owner,
              bool resizable) override;
    cWindowHolder* asyncwnd(char* title, int w, int h, cChildElement* root, cWindowRequestTarget* owner,
                            bool resizable, int x, int y) override;
    void destroy(cWindowHolder* holder) override;
    int msgloop() override;
    bool recommendMainWindowSize(sRect& r) override;
    bool desktopSize(sSize& s) override;

    void setLangStore(cCiomLang* lang) { mLang = lang; }

private:
    cWindowRequestTargetScale* mScale = nullptr;
};

// Installs cNSWMaker as the platform's maker of window makers.
void installNSWMaker();
