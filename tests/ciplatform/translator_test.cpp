// qor-test-labels: tsan
// Element trees in native windows on the headless desktop: injected input
// reaches the root with the toolkit's codes, the root paints through the
// platform canvas into the window's backing store, modal windows end with
// the result their root stores, popups open, worker threads wake the UI
// thread, a window that goes away releases senders still waiting, and the
// clipboard carries UTF-16 text and raw bytes.
#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "../nslib/nstestutil.h"
#include "ciplatform/ctfont.h"
#include "ciplatform/translator.h"
#include "macshim/pasteboard.h"
#include "uitoolkit/element.h"

namespace {

class TranslatorTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { startHeadless(); }
    Watchdog dog{30};
};

std::string fmt(const char* f, long a = 0, long b = 0, long c = 0, long d = 0, long e = 0) {
    char buf[160];
    snprintf(buf, sizeof buf, f, a, b, c, d, e);
    return buf;
}

// A root that records what the window hands it and paints one colour.
struct RecRoot : cChildElement {
    std::vector<std::string> log;
    unsigned fill = 0x0000FF;  // 0x00BBGGRR
    bool* deleted = nullptr;
    std::thread::id actionThread;
    int actions = 0;

    ~RecRoot() override {
        if (deleted) *deleted = true;
    }
    void processMouseBtn(int x, int y, int b, bool down, bool m1, bool m2) override {
        log.push_back(fmt("btn %ld %ld %ld %ld %ld", x, y, b, down, m1 * 10 + m2));
    }
    void processFocus(int x, int y, int b, bool m1, bool m2) override {
        log.push_back(fmt("focus %ld %ld %ld %ld", x, y, b, m1 * 10 + m2));
    }
    void processMouseMove(int x, int y) override { log.push_back(fmt("move %ld %ld", x, y)); }
    bool processMouseWheel(int x, int y, bool up, bool horizontal, int amount) override {
        log.push_back(fmt("wheel %ld %ld %ld %ld %ld", x, y, up, horizontal, amount));
        return true;
    }
    bool processKey(int key, bool shift, bool ctrl, bool alt) override {
        log.push_back(fmt("key %lx %ld %ld %ld", key, shift, ctrl, alt));
        return true;
    }
    bool processChar(unsigned short ch, bool a, bool b, bool c) override {
        log.push_back(fmt("char %lx %ld %ld %ld", ch, a, b, c));
        return true;
    }
    void onPaint(cCanvas* c) override {
        sRect r{0, 0, c->width(), c->height()};
        c->drawRect(&r, fill, fill);
    }
    bool onAction(cChildElement*, cChildAction*) override {
        actionThread = std::this_thread::get_id();
        ++actions;
        return true;
    }
    bool has(const std::string& s) const {
        for (auto& l : log)
            if (l == s) return true;
        return false;
    }
};

MSWindow* nativeOf(cWindowHolder* h) { return static_cast<MSWindow*>(h->target()->_rt_rawhandle()); }

// Opens a shown window on a recording root.
cWindowHolder* openWindow(cNSWMaker& maker, RecRoot* root, int w = 120, int h = 80) {
    char title[] = "Test";
    cWindowHolder* holder = maker.asyncwnd(title, w, h, root, nullptr, false, 30, 40);
    if (holder) static_cast<cNSWHolder*>(holder)->translator().show();
    return holder;
}

TEST_F(TranslatorTest, InputReachesTheRootWithToolkitCodes) {
    cNSWMaker maker;
    ASSERT_TRUE(maker.create(nullptr, nullptr, 0));
    auto* root = new RecRoot;
    cWindowHolder* holder = openWindow(maker, root);
    ASSERT_NE(holder, nullptr);
    EXPECT_EQ(holder->typeOf(), 5);
    MSWindow* n = nativeOf(holder);
    ASSERT_NE(n, nullptr);
    pumpIdle();
    root->log.clear();

    // Modifiers are read when the event is dispatched: a press and its
    // release go together, then the queue is emptied.
    mstest::injectMouseButton(n, 1, true, 11, 12, KMOD_LSHIFT);
    mstest::injectMouseButton(n, 1, false, 11, 12, KMOD_LSHIFT);
    pumpIdle();
    mstest::injectMouseButton(n, 2, true, 13, 14, KMOD_LCTRL);
    mstest::injectMouseButton(n, 2, false, 13, 14, KMOD_LCTRL);
    pumpIdle();
    mstest::injectMouseMove(n, 20, 21, 1, KMOD_LSHIFT);
    mstest::injectWheel(n, 0, -3);
    mstest::injectWheel(n, 0, 2);
    mstest::injectKey(n, SDL_SCANCODE_TAB, true, KMOD_LSHIFT);
    mstest::injectKey(n, SDL_SCANCODE_TAB, false, KMOD_LSHIFT);
    mstest::injectKey(n, SDL_SCANCODE_C, true, KMOD_LCTRL);
    mstest::injectKey(n, SDL_SCANCODE_RETURN, true, 0, "\r");
    mstest::injectKey(n, SDL_SCANCODE_BACKSPACE, true, 0, "\x7f");
    mstest::injectKey(n, SDL_SCANCODE_E, true, 0, "\xC3\xA9");
    pumpIdle();

    std::vector<std::string> want = {
        "btn 11 12 1 1 1",    "focus 11 12 1 1",  // a press of button 1 also focuses
        "btn 11 12 1 0 1",    "btn 13 14 2 1 10",  // no focus for a release or button 2
        "move 20 21",
    };
    for (auto& w : want) EXPECT_TRUE(root->has(w)) << w << " in " << ::testing::PrintToString(root->log);
    EXPECT_FALSE(root->has("focus 11 12 1 0"));
    EXPECT_FALSE(root->has("focus 13 14 2 10"));
    // Towards the user: up = false, amount = -dy; away: up = true.
    bool down3 = false, up2 = false;
    for (auto& l : root->log) {
        int x, y, up, hz, amount;
        if (sscanf(l.c_str(), "wheel %d %d %d %d %d", &x, &y, &up, &hz, &amount) == 5) {
            if (!up && amount == 3) down3 = true;
            if (up && amount == 2) up2 = true;
        }
    }
    EXPECT_TRUE(down3);
    EXPECT_TRUE(up2);
    EXPECT_TRUE(root->has("key 109 1 0 0"));  // Shift+Tab
    EXPECT_TRUE(root->has("key 43 0 1 0"));   // Command+C
    int tabs = 0;
    for (auto& l : root->log) tabs += l.rfind("key 109", 0) == 0;
    EXPECT_EQ(tabs, 1);  // releases are not passed on
    EXPECT_TRUE(root->has("char e9 0 0 0"));
    for (auto& l : root->log) {
        EXPECT_NE(l, "char d 0 0 0");
        EXPECT_NE(l, "char 7f 0 0 0");
    }
    maker.destroy(nullptr);
    holder->dispose(false);
}

TEST_F(TranslatorTest, RootPaintsIntoTheBackingStore) {
    cNSWMaker maker;
    ASSERT_TRUE(maker.create(nullptr, nullptr, 0));
    auto* root = new RecRoot;
    root->fill = 0x3020C0;  // red C0, green 20, blue 30
    cWindowHolder* holder = openWindow(maker, root, 64, 48);
    ASSERT_NE(holder, nullptr);
    MSWindow* n = nativeOf(holder);
    holder->target()->_rt_repaint(nullptr);
    pumpIdle();
    n->display();
    MSBitmapContext* b = n->backingStore();
    ASSERT_NE(b->pixels, nullptr);
    ASSERT_GE(b->width, 64);
    ASSERT_GE(b->height, 48);
    uint32_t want = 0xFFC02030u;
    EXPECT_EQ(b->pixels[5 * b->stride + 5], want);
    EXPECT_EQ(b->pixels[40 * b->stride + 60], want);

    // A repaint of the all-zero area repaints the whole window.
    root->fill = 0x00FF00;
    sArea zero;
    holder->target()->_rt_repaint(&zero);
    pumpIdle();
    n->display();
    EXPECT_EQ(b->pixels[1 * b->stride + 1], 0xFF00FF00u);
    EXPECT_EQ(b->pixels[46 * b->stride + 62], 0xFF00FF00u);
    holder->dispose(false);
}

TEST_F(TranslatorTest, ModalWindowEndsWithTheStoredResultAndDeletesItsRoot) {
    cNSWMaker maker;
    ASSERT_TRUE(maker.create(nullptr, nullptr, 0));
    bool deleted = false;
    auto* form = new RecRoot;
    form->deleted = &deleted;
    int step = 0;
    mstest::setIdleHook([&] {
        cWindowRequestTarget* t = form->winTarget();
        if (!t || deleted) return;
        if (step == 0) {
            t->_rt_modalresult(int(0x80000001u));  // keeps running
            step = 1;
        } else if (step == 1) {
            t->_rt_modalresult(42);
            step = 2;
        }
    });
    char title[] = "Form";
    int r = maker.modal(title, 100, 60, form, nullptr, false);
    mstest::setIdleHook(nullptr);
    EXPECT_EQ(step, 2);
    EXPECT_EQ(r, 42);
    EXPECT_TRUE(deleted);
    EXPECT_EQ(maker.modal(title, 10, 10, nullptr, nullptr, false), -1);

    // The close box ends the loop with 0.
    bool closedDeleted = false;
    auto* closed = new RecRoot;
    closed->deleted = &closedDeleted;
    bool asked = false;
    mstest::setIdleHook([&] {
        if (asked || closedDeleted || !closed->winTarget()) return;
        asked = true;
        mstest::injectCloseRequest(static_cast<MSWindow*>(closed->winTarget()->_rt_rawhandle()));
    });
    EXPECT_EQ(maker.modal(title, 100, 60, closed, nullptr, true), 0);
    mstest::setIdleHook(nullptr);
    EXPECT_TRUE(asked);
    EXPECT_TRUE(closedDeleted);

    // The close box cancels as Escape does: a root that ends itself on
    // Escape is offered the key first, and its window ends with its result.
    struct EscapeRoot : RecRoot {
        bool processKey(int key, bool shift, bool ctrl, bool alt) override {
            RecRoot::processKey(key, shift, ctrl, alt);
            if (key == 0x11B) end_modal(5);
            return true;
        }
    };
    auto* cancelled = new EscapeRoot;
    asked = false;
    mstest::setIdleHook([&] {
        if (asked || !cancelled->winTarget()) return;
        asked = true;
        mstest::injectCloseRequest(static_cast<MSWindow*>(cancelled->winTarget()->_rt_rawhandle()));
    });
    EXPECT_EQ(maker.modal(title, 100, 60, cancelled, nullptr, true), 5);
    mstest::setIdleHook(nullptr);
}

TEST_F(TranslatorTest, SheetOnAWindowAndPopup) {
    cNSWMaker maker;
    ASSERT_TRUE(maker.create(nullptr, nullptr, 0));
    auto* root = new RecRoot;
    cWindowHolder* holder = openWindow(maker, root);
    ASSERT_NE(holder, nullptr);
    bool deleted = false;
    auto* sheet = new RecRoot;
    sheet->deleted = &deleted;
    mstest::setIdleHook([&] {
        if (!deleted && sheet->winTarget()) sheet->winTarget()->_rt_modalresult(7);
    });
    char title[] = "Sheet";
    EXPECT_EQ(holder->target()->_rt_modal(title, 50, 40, sheet, false), 7);
    mstest::setIdleHook(nullptr);
    EXPECT_TRUE(deleted);
    EXPECT_TRUE(root->has("move -1 -1"));  // the pointer left the window underneath

    // A modal popup sits at the given place and ends like a modal window.
    bool mpDeleted = false;
    auto* mp = new RecRoot;
    mp->deleted = &mpDeleted;
    mstest::setIdleHook([&] {
        if (!mpDeleted && mp->winTarget()) mp->winTarget()->_rt_modalresult(3);
    });
    EXPECT_EQ(holder->target()->_rt_modal_popup(10, 20, 40, 30, mp), 3);
    mstest::setIdleHook(nullptr);
    EXPECT_TRUE(mpDeleted);
    EXPECT_EQ(holder->target()->_rt_modal_popup(10, 20, 40, 30, nullptr), -1);

    bool popDeleted = false;
    auto* pop = new RecRoot;
    pop->deleted = &popDeleted;
    cWindowHolder* ph = holder->target()->_rt_popup(5, 6, 30, 20, pop, false);
    ASSERT_NE(ph, nullptr);
    EXPECT_EQ(pop->winTarget(), ph->target());
    EXPECT_NE(ph->target()->_rt_rawhandle(), nullptr);
    ph->dispose(true);  // keeps the root
    EXPECT_FALSE(popDeleted);
    delete pop;
    EXPECT_EQ(holder->target()->_rt_popup(5, 6, 30, 20, nullptr, false), nullptr);
    holder->dispose(false);
}

TEST_F(TranslatorTest, WorkerActionsRunOnTheUIThread) {
    cNSWMaker maker;
    ASSERT_TRUE(maker.create(nullptr, nullptr, 0));
    auto* root = new RecRoot;
    cWindowHolder* holder = openWindow(maker, root);
    ASSERT_NE(holder, nullptr);
    std::atomic<int> sentOk{0};
    std::thread worker([&] {
        for (int i = 0; i < 5; ++i) root->postAction(new cChildElement::cChildAction(9));
        for (int i = 0; i < 5; ++i)
            if (root->sendAction(new cChildElement::cSentChildAction(8))) ++sentOk;
    });
    EXPECT_TRUE(pumpUntil([&] { return sentOk.load() == 5; }, 10));
    worker.join();
    pumpIdle();
    EXPECT_EQ(root->actions, 10);
    EXPECT_EQ(root->actionThread, std::this_thread::get_id());
    holder->dispose(false);
}

TEST_F(TranslatorTest, SendersAreReleasedWhenTheWindowGoesAway) {
    cNSWMaker maker;
    ASSERT_TRUE(maker.create(nullptr, nullptr, 0));
    for (bool keepRoot : {true, false}) {
        auto* root = new RecRoot;
        cWindowHolder* holder = openWindow(maker, root);
        ASSERT_NE(holder, nullptr);
        pumpIdle();
        ASSERT_EQ(mstest::pendingPosted(), 0);
        std::atomic<int> state{0};
        std::thread worker([&] {
            state = 1;
            state = root->sendAction(new cChildElement::cSentChildAction(8)) ? 2 : 3;
        });
        // Let the wake-up be queued, but do not dispatch it.
        while (state.load() == 0) std::this_thread::yield();
        // The wake-up is posted once the action is queued.
        while (mstest::pendingPosted() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        holder->dispose(keepRoot);
        worker.join();
        EXPECT_EQ(state.load(), 3) << keepRoot;
        if (keepRoot) {
            EXPECT_EQ(root->actions, 0);
            delete root;
        }
    }
}

std::vector<uint8_t> clipFlavor(const char* flavor) {
    MSPasteboardRef b = nullptr;
    std::vector<uint8_t> out;
    if (MSPasteboardCreate(kMSPasteboardClipboard, &b) != msPasteboardNoErr) return out;
    MSPasteboardItemID id = 0;
    if (MSPasteboardGetItemIdentifier(b, 1, &id) == msPasteboardNoErr)
        MSPasteboardCopyItemFlavorData(b, id, flavor, out);
    MSPasteboardRelease(b);
    return out;
}

TEST_F(TranslatorTest, ClipboardCarriesUtf16TextWithoutTerminator) {
    cNSWTranslator t;
    // The toolkit's length counts the NUL.
    const char text[] = "h\xC3\xA9llo \xE2\x82\xAC \xF0\x9F\x98\x80";
    const std::u16string want = u"h\u00e9llo \u20ac \U0001F600";
    ASSERT_TRUE(t._rt_copy_text(const_cast<char*>(text), sizeof text));
    std::vector<uint8_t> raw = clipFlavor(kMSFlavorUTF16Text);
    ASSERT_EQ(raw.size(), want.size() * 2);
    EXPECT_EQ(std::memcmp(raw.data(), want.data(), raw.size()), 0);
    EXPECT_TRUE(t._rt_request_has_copied(false));

    _typebuf<unsigned char> back;
    ASSERT_TRUE(t._rt_request_copied_text(back));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(back.data()), size_t(back.count())), std::string(text));

    // Raw requests fall back to the text's bytes.
    ASSERT_TRUE(t._rt_request_copied_raw(back));
    ASSERT_EQ(size_t(back.count()), raw.size());
    EXPECT_EQ(std::memcmp(back.data(), raw.data(), raw.size()), 0);

    const unsigned char bytes[] = {0, 1, 2, 0xFF, 0};
    ASSERT_TRUE(t._rt_copy_raw(const_cast<unsigned char*>(bytes), sizeof bytes));
    ASSERT_TRUE(t._rt_request_copied_raw(back));
    ASSERT_EQ(back.count(), 5);
    EXPECT_EQ(std::memcmp(back.data(), bytes, 5), 0);
    EXPECT_FALSE(t._rt_request_has_copied(false));
    ASSERT_TRUE(t._rt_request_copied_text(back));
    EXPECT_EQ(back.count(), 0);

    // An empty text (just its NUL) empties the clipboard.
    ASSERT_TRUE(t._rt_copy_text(const_cast<char*>("x"), 2));
    ASSERT_TRUE(t._rt_copy_text(const_cast<char*>(""), 1));
    EXPECT_FALSE(t._rt_request_has_copied(false));
    EXPECT_TRUE(clipFlavor(kMSFlavorUTF16Text).empty());
}

TEST_F(TranslatorTest, PointerTypeIsSetOnceAndOffscreenCanvasesAreSized) {
    cNSWMaker maker;
    ASSERT_TRUE(maker.create(nullptr, nullptr, 0));
    // No window: setting a new pointer type fails, the stored one answers true.
    cNSWTranslator lone;
    EXPECT_TRUE(lone._rt_setpointer(0));
    int px = 0, py = 0, pw = 0, ph = 0;
    EXPECT_FALSE(lone._rt_winpossize(px, py, pw, ph));
    EXPECT_EQ(maker.offscreen(0, 5), nullptr);
    EXPECT_EQ(maker.offscreen(5, -1), nullptr);
    cCanvas* c = maker.offscreen(7, 3);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->width(), 7);
    EXPECT_EQ(c->height(), 3);
    delete c;
    sSize d;
    EXPECT_TRUE(maker.desktopSize(d));
    int w = 0, h = 0;
    cNSWindow::desktopSize(w, h);
    EXPECT_EQ(d.w, w);
    EXPECT_EQ(d.h, h);
    sRect r;
    EXPECT_TRUE(maker.recommendMainWindowSize(r));
    EXPECT_EQ(r.x, -1);
    EXPECT_GT(r.w, 0);
    EXPECT_LE(r.w, w);
}

TEST_F(TranslatorTest, PlatformMakerFontsAndTextBoxes) {
    installNSWMaker();
    cWindowMaker* maker = cWindowMaker::newWindowMaker(nullptr, nullptr, 0, nullptr);
    ASSERT_NE(dynamic_cast<cNSWMaker*>(maker), nullptr);
    ASSERT_NE(maker->langStore(), nullptr);
    installPlatformFonts();
    cNSWTranslator t(nullptr, maker->langStore());
    cNSWTranslator bare;
    char none[] = "no such section";
    EXPECT_EQ(t._rt_getnamedlangsection(none), nullptr);
    EXPECT_EQ(bare._rt_getnamedlangsection(none), nullptr);
    char face[] = "Tahoma";
    cFontObject* f = t._rt_createfont(5, 14, face, false, false, false);
    ASSERT_NE(f, nullptr);
    char one[] = "W", two[] = "WWWW";
    sSize a, b;
    ASSERT_TRUE(t._rt_textbox(f, one, a));
    ASSERT_TRUE(t._rt_textbox(f, two, b));
    EXPECT_GT(a.w, 0);
    EXPECT_GT(a.h, 0);
    EXPECT_GT(b.w, 3 * a.w);  // four glyphs are wider than three
    EXPECT_EQ(b.h, a.h);
    EXPECT_FALSE(t._rt_textbox(nullptr, one, a));
    EXPECT_FALSE(t._rt_textbox(f, nullptr, a));
    delete maker;
}

struct Scale : cWindowRequestTargetScale {
    double f;
    explicit Scale(double v) : f(v) {}
    double factor() override { return f; }
};

TEST_F(TranslatorTest, ScaledValuesRoundHalfUp) {
    for (double f : {1.0, 2.0, 1.5, 0.75}) {
        Scale s(f);
        cNSWTranslator t(nullptr, nullptr, &s);
        for (int v : {0, 1, 2, 3, 7, 100, 333}) {
            EXPECT_EQ(t.toNative(v), static_cast<int>(std::floor(v * f + 0.5))) << f << " " << v;
            EXPECT_EQ(t.fromNative(v), static_cast<int>(std::floor(v / f + 0.5))) << f << " " << v;
        }
    }
    // A window made at a scale reports its size back in toolkit units.
    Scale two(2.0);
    cNSWMaker maker;
    ASSERT_TRUE(maker.create(nullptr, nullptr, 0));
    cNSWHolder holder(new RecRoot, nullptr, &two);
    ASSERT_TRUE(holder.translator().create_wnd("Scaled", 2 * 60, 2 * 40, false, 10, 10));
    int x, y, w, h;
    ASSERT_TRUE(holder.target()->_rt_winpossize(x, y, w, h));
    int nx, ny, nw, nh;
    ASSERT_TRUE(holder.translator().getPosSize(nx, ny, nw, nh));
    EXPECT_EQ(w, (nw + 1) / 2);
    EXPECT_EQ(h, (nh + 1) / 2);
}

}  // namespace
