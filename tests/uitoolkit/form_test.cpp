// Forms and panels: the frame drawn around the client panel for each set of
// theme pictures and drawing flags, the client panel's place, the keys a
// form answers itself, and where a panel puts its caption.
#include "recordingcanvas.h"
#include "testwindow.h"
#include "uitoolkit/form.h"
#include "uitoolkit/themevalues.h"

#include <gtest/gtest.h>

#include <memory>

using qortest::cRecordingCanvas;
using qortest::cTestWindowTarget;

namespace {

// Top margin 20 (10..40), sides 4, bottom margin 12 (8..30); colour i is
// 100 + i.
class cTestTheme : public cThemeValues {
public:
    unsigned int color(int i) override { return 100 + i; }
    bool dimension(int i, int& v, int& lo, int& hi) override {
        static const int t[3][3] = {{20, 10, 40}, {4, 4, 4}, {12, 8, 30}};
        if (i < 0 || i > 2) return false;
        v = t[i][0];
        lo = t[i][1];
        hi = t[i][2];
        return true;
    }
    cPicture* picture(int i) override { return withPictures ? pics[i].get() : nullptr; }
    bool withPictures = false;
    std::unique_ptr<cPicture> pics[8];
};

class ThemeGuard {
public:
    explicit ThemeGuard(cThemeValues* t) : mOld(setThemeValues(t)) {}
    ~ThemeGuard() { setThemeValues(mOld); }

private:
    cThemeValues* mOld;
};


class cTestForm : public cCustomForm {
public:
    bool onAfterConstruct() override {
        ++afterConstruct;
        return afterAnswer;
    }
    bool onFormCancel() override {
        ++cancels;
        return answer;
    }
    bool onFormAccept() override {
        ++accepts;
        return answer;
    }
    int afterConstruct = 0, cancels = 0, accepts = 0;
    bool answer = true, afterAnswer = true;
};

class cKeyProbe : public cChildElement {
public:
    bool wantTabStop() override { return true; }
    void onKey(int k, bool, bool, bool) override { keys.push_back(k); }
    std::vector<int> keys;
};

sRect rectOf(cChildElement* e) {
    sRect r;
    e->childRect(&r);
    return r;
}

}  // namespace

TEST(Forms, FrameIsDrawnFromThePicturesAndGapColours) {
    cTestTheme theme;
    ThemeGuard guard(&theme);
    const int sizes[8][2] = {{6, 18}, {1, 16}, {6, 18}, {3, 1}, {3, 1}, {6, 10}, {1, 9}, {6, 10}};
    for (int i = 0; i < 8; ++i) {
        theme.pics[i].reset(new cPicture());
        ASSERT_TRUE(theme.pics[i]->create(0xFF000000u + i, sizes[i][0], sizes[i][1]));
    }
    struct sCase {
        bool pictures;
        unsigned int flags;
        const char* want;
    };
    const sCase cases[] = {
        {true, 0,
         "bitmap 0,0,6,18\nbitmap 94,0,6,18\nbitmap 6,0,88,16\nrect 6,16,88,4 #101\n"
         "bitmap 0,70,6,10\nbitmap 0,18,3,52\nrect 3,18,1,52 #103\nbitmap 94,70,6,10\n"
         "bitmap 97,18,3,52\nrect 96,18,1,52 #103\nbitmap 6,71,88,9\nrect 6,68,88,3 #102\n"},
        {false, 0, "rect 0,0,100,20 #101\nrect 0,20,4,48 #103\nrect 96,20,4,48 #103\nrect 0,68,100,12 #102\n"},
        {false, cCustomForm::cdNoTop, "rect 0,20,4,48 #103\nrect 96,20,4,48 #103\nrect 0,68,100,12 #102\n"},
        {false, cCustomForm::cdNoRightAndBottom, "rect 0,0,100,20 #101\nrect 0,20,4,48 #103\n"},
        {true, cCustomForm::cdNoLeftAndCorners,
         "bitmap 0,0,6,18\nbitmap 94,0,6,18\nbitmap 6,0,88,16\nrect 6,16,88,4 #101\n"
         "bitmap 97,18,3,50\nrect 96,18,1,50 #103\nbitmap 0,71,100,9\nrect 0,68,100,3 #102\n"},
        // With no top band the columns start at the top margin.
        {true, cCustomForm::cdNoTop,
         "bitmap 0,70,6,10\nbitmap 0,20,3,50\nrect 3,20,1,50 #103\nbitmap 94,70,6,10\n"
         "bitmap 97,20,3,50\nrect 96,20,1,50 #103\nbitmap 6,71,88,9\nrect 6,68,88,3 #102\n"},
    };
    for (const sCase& c : cases) {
        theme.withPictures = c.pictures;
        cTestWindowTarget win;
        cTestForm form;
        win.bind(&form, 100, 80);
        form.setCustomDraw(c.flags, true);
        cRecordingCanvas canvas(100, 80);
        form.drawSkin(&canvas, 0, 0);
        EXPECT_EQ(qortest::dumpCalls(canvas.calls), c.want) << "flags " << c.flags << " pictures " << c.pictures;
    }
    // A transparent child gets the frame behind it, shifted.
    theme.withPictures = false;
    cTestWindowTarget win;
    cTestForm form;
    win.bind(&form, 100, 80);
    cRecordingCanvas canvas(10, 10);
    sRect behind{90, 60, 10, 10};
    EXPECT_TRUE(form.onBackgroundRequest(&canvas, &behind));
    EXPECT_EQ(qortest::dumpCalls(canvas.calls),
              "rect -90,-60,100,20 #101\nrect -90,-40,4,48 #103\nrect 6,-40,4,48 #103\nrect -90,8,100,12 #102\n");
}

TEST(Forms, ClientPanelConstructionAndMargins) {
    cTestTheme theme;
    ThemeGuard guard(&theme);
    cTestWindowTarget win;
    cTestForm form;
    form.afterAnswer = false;
    win.bind(&form, 100, 80);
    sRect r = rectOf(form.clientArea());
    EXPECT_EQ(r.x, 4);
    EXPECT_EQ(r.y, 20);
    EXPECT_EQ(r.w, 92);
    EXPECT_EQ(r.h, 48);
    EXPECT_EQ(form.clientArea()->bgColor(), 100u);
    EXPECT_EQ(form.defaultBackgroundColor(), 100u);
    EXPECT_EQ(form.afterConstruct, 0);
    win.drain();
    EXPECT_EQ(form.afterConstruct, 1);
    struct sCase {
        bool top;
        int m;
        int wantY, wantH;
    };
    const sCase cases[] = {
        {true, 5, 10, 58}, {true, 50, 40, 28}, {true, 25, 25, 43}, {false, 1, 25, 47}, {false, 99, 25, 25},
    };
    for (const sCase& c : cases) {
        EXPECT_TRUE(c.top ? form.setTopMargin(c.m) : form.setBottomMargin(c.m));
        r = rectOf(form.clientArea());
        EXPECT_EQ(r.y, c.wantY) << c.m;
        EXPECT_EQ(r.h, c.wantH) << c.m;
    }
    // The frame follows a resize of the window.
    form.processSizeChanges(200, 100, false);
    r = rectOf(form.clientArea());
    EXPECT_EQ(r.w, 192);
    EXPECT_EQ(r.h, 45);
}

TEST(Forms, EscapeAndKeypadEnterReachTheFormFirst) {
    struct sCase {
        int key;
        bool shift, ctrl;
        bool answer;
        int cancels, accepts;
        bool controlSeesIt;
    };
    const sCase cases[] = {
        {cCustomForm::kKeyEscape, false, false, true, 1, 0, false},
        {cCustomForm::kKeyEscape, false, false, false, 1, 0, true},
        {cCustomForm::kKeyEscape, true, false, true, 0, 0, true},
        {cCustomForm::kKeyPadEnter, false, false, true, 0, 1, false},
        {cCustomForm::kKeyPadEnter, false, true, true, 0, 0, true},
        {0x10D, false, false, true, 0, 0, true},  // the main Enter key is the control's
    };
    for (const sCase& c : cases) {
        cTestWindowTarget win;
        cTestForm form;
        cKeyProbe control;
        win.bind(&form, 100, 80);
        form.clientArea()->attach(&control, 0, 0, 10, 10);
        form.answer = c.answer;
        ASSERT_TRUE(form.processKey(0x109, false, false, false));  // Tab to the control
        ASSERT_EQ(form.getFocused(), &control);
        EXPECT_TRUE(form.processKey(c.key, c.shift, c.ctrl, false));
        EXPECT_EQ(form.cancels, c.cancels) << std::hex << c.key;
        EXPECT_EQ(form.accepts, c.accepts) << std::hex << c.key;
        EXPECT_EQ(control.keys.size(), c.controlSeesIt ? 1u : 0u) << std::hex << c.key;
        form.clientArea()->dettach(&control);
    }
}

TEST(Panels, CaptionIsPlacedByAlignmentAndMargins) {
    cTestTheme theme;
    ThemeGuard guard(&theme);
    struct sCase {
        int xa, ya, xm, ym;
        unsigned int border;
        const char* want;
    };
    // "abcd" in the fixed 10-pixel font is 20 x 10.
    const sCase cases[] = {
        {2, 2, 0, 0, cPanelChild::kNoBorder, "rect 0,0,100,50 #100\ntext 40,20,20,10 abcd\n"},
        {1, 0, 5, 3, cPanelChild::kNoBorder, "rect 0,0,100,50 #100\ntext 75,3,20,10 abcd\n"},
        {0, 1, 3, 2, 0x123456, "rect 0,0,100,50 #100!\ntext 3,38,20,10 abcd\n"},
        {2, 2, 4, 4, cPanelChild::kNoBorder, "rect 0,0,100,50 #100\ntext 44,24,20,10 abcd\n"},
        {7, 9, 5, 5, cPanelChild::kNoBorder, "rect 0,0,100,50 #100\ntext 0,0,20,10 abcd\n"},
    };
    for (const sCase& c : cases) {
        cTestWindowTarget win;
        cChildElement root;
        cPanelChild panel;
        win.bind(&root, 200, 200);
        root.attach(&panel, 0, 0, 100, 50);
        panel.setText("abcd", -1, false);
        panel.setXAlign(static_cast<cPanelChild::eXAlign>(c.xa), true);
        panel.setYAlign(static_cast<cPanelChild::eYAlign>(c.ya), true);
        panel.setXMargin(c.xm, true);
        panel.setYMargin(c.ym, true);
        panel.setBorderColor(c.border);
        cRecordingCanvas canvas(100, 50);
        panel.processPaint(&canvas);
        EXPECT_EQ(qortest::dumpCalls(canvas.calls), c.want);
        root.dettach(&panel);
    }
}
