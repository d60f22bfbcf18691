// What the toolkit asks of the platform: cWindowRequestTarget is what the
// root element of one native window may ask of that window, cWindowMaker
// creates windows and runs the event loop, cWindowHolder is the handle of a
// window that lives beside the current modal loop.  The platform layer
// implements all three; tests use their own.
#pragma once

#include "base/buffers.h"
#include "base/lists.h"
#include "base/sync.h"
#include "uitoolkit/canvas.h"
#include "uitoolkit/geometry.h"

class cChildElement;
class cCiomLangData;
class cCiomLang;

class cWindowHolder;

class cWindowRequestTarget {
public:
    virtual void _rt_destroy() = 0;
    virtual void _rt_modalresult(int result) = 0;
    virtual void _rt_minimize() {}
    virtual void _rt_maximize() {}
    virtual bool _rt_changepos(int, int, int, int) { return false; }
    virtual void* _rt_rawhandle() { return nullptr; }
    // Root coordinates, right and bottom exclusive; null: the whole window.
    virtual void _rt_repaint(sArea* area) = 0;
    // Any thread: record the element and wake the UI thread, which then
    // calls the root's processActionFirst (processPostFirst) once.
    virtual bool _rt_send_action(void* element) = 0;
    virtual bool _rt_receive_action(void* element) = 0;
    virtual bool _rt_capturepointer(bool) { return false; }
    virtual bool _rt_setpointer(int) { return false; }
    // The length counts the terminating NUL.
    virtual bool _rt_copy_text(void*, long long) { return false; }
    virtual bool _rt_request_copied_text(_typebuf<unsigned char>&) { return false; }
    virtual bool _rt_copy_raw(void*, long long) { return false; }
    virtual bool _rt_request_copied_raw(_typebuf<unsigned char>&) { return false; }
    virtual bool _rt_request_has_copied(bool) { return false; }
    virtual bool _rt_setminsize(int, int) { return false; }
    virtual bool _rt_setmaxsize(int, int) { return false; }
    virtual bool _rt_winpossize(int&, int&, int&, int&) { return false; }
    virtual bool _rt_desktopsize(int&, int&) { return false; }
    virtual bool _rt_maxwinsize(int& w, int& h) { return _rt_desktopsize(w, h); }
    virtual int _rt_screen_dpi() { return 96; }
    virtual bool _rt_blocksleep(char*) { return false; }
    virtual bool _rt_unblocksleep() { return false; }
    virtual bool _rt_setcaption(char*) { return false; }
    virtual cFontObject* _rt_createfont(int width, int size, char* face, bool bold, bool underline, bool italic) {
        return cFontObject::get(width, size, face, bold, underline, italic);
    }
    virtual cCiomLangData* _rt_getnamedlangsection(char* name);
    virtual bool _rt_textbox(cFontObject*, char*, sSize&) { return false; }
    virtual cWindowHolder* _rt_popup(int, int, int, int, cChildElement*, bool) { return nullptr; }
    virtual int _rt_modal(char*, int, int, cChildElement*, bool) { return -1; }
    virtual int _rt_modal_popup(int, int, int, int, cChildElement*) { return -1; }
    virtual bool _rt_focus() { return false; }
    virtual ~cWindowRequestTarget() = default;
};

class cWindowHolder : public cListItem {
public:
    virtual int typeOf() { return 0; }
    virtual void destroy() {}
    virtual cWindowRequestTarget* target() = 0;
    virtual void dispose(bool) = 0;
};

class cWindowMaker {
public:
    cWindowMaker() = default;
    virtual ~cWindowMaker() = default;
    cWindowMaker(const cWindowMaker&) = delete;
    cWindowMaker& operator=(const cWindowMaker&) = delete;

    virtual bool create(void* instance, void* iconData, unsigned int iconDim) = 0;
    virtual cCanvas* offscreen(int, int) { return nullptr; }
    virtual int modal(char* title, int w, int h, cChildElement* root, cWindowRequestTarget* owner,
                      bool resizable) = 0;
    virtual cWindowHolder* asyncwnd(char* title, int w, int h, cChildElement* root,
                                    cWindowRequestTarget* owner, bool resizable, int x, int y) = 0;
    virtual void destroy(cWindowHolder* holder) = 0;
    virtual int msgloop() = 0;
    virtual bool recommendMainWindowSize(sRect&) { return false; }
    virtual bool desktopSize(sSize&) { return false; }

    cCiomLang* langStore() const { return mLang; }

    // The lock of every element's action queues.
    static cCriticalSection gActionSync;
    static void gaSyncAdd(cList& list, cListItem* item);
    // Empties `to`, hands it all of `from`'s items and leaves `from` empty.
    static void gaSyncMove(cList& from, cList& to);

    // Readies a maker (the platform's own when maker is null) by its create;
    // null when there is none or create fails.  A maker handed in stays its
    // caller's, also on failure; a platform maker that fails is deleted here.
    static cWindowMaker* newWindowMaker(void* instance, void* iconData, unsigned int iconDim,
                                        cWindowMaker* maker);
    // How many times newWindowMaker made the toolkit's language table.
    static int langTablesMade();

protected:
    cCiomLang* mLang = nullptr;
    cList mWindows;
};

// The platform's maker of window makers; null until installed.
typedef cWindowMaker* (*tNewPlatformWindowMaker)();
cWindowMaker* __newPlatformWindowMaker();
tNewPlatformWindowMaker __setNewPlatformWindowMaker(tNewPlatformWindowMaker maker);
