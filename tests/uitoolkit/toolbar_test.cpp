// Tool bars: where each layout behaviour puts the buttons and which go into
// the overflow list, the ids the clicks report (also through the overflow
// popup), and buttons removed while they hold the hover and the focus.
#include "recordingcanvas.h"
#include "testwindow.h"
#include "uitoolkit/theme.h"
#include "uitoolkit/toolbar.h"

#include <gtest/gtest.h>

using qortest::cTestWindowTarget;

namespace {

class cIdRoot : public cChildElement {
public:
    bool onAction(cChildElement*, cChildAction* a) override {
        if (auto* t = dynamic_cast<cToolBarChild::cTbButtonAction*>(a)) ids.push_back(t->id);
        else if (a->code() == 7) ++empty;
        return true;
    }
    std::vector<int> ids;
    int empty = 0;
};

struct sFixture {
    explicit sFixture(int w) {
        qortest::cFixedFont::install();
        static const bool themed = cCITheme::setTheme(gCI_Flat_Theme);
        (void)themed;
        win.bind(&root, 400, 100);
        root.attach(&tb, 0, 0, w, 24);
    }
    // Where each id sits: x, or -1 when hidden.
    std::string places() {
        std::string out;
        for (int id = 1; id <= 4; ++id) {
            cButtonChild* b = tb.findButton(id);
            if (!b) continue;
            sRect r;
            tb.childRect(b, &r);
            out += std::to_string(id) + ":" + (b->visible_child() ? std::to_string(r.x) + "+" + std::to_string(r.w) : "-") + " ";
        }
        sRect m;
        tb.childRect(tb.moreButton(), &m);
        out += tb.moreButton()->visible_child() ? "more:" + std::to_string(m.x) : "nomore";
        return out;
    }
    std::string overflow() {
        std::string out;
        const tActiveElementItems& o = tb.overflowItems();
        for (auto* n = o.first(); n; n = o.next(n)) out += std::to_string(n->key) + " ";
        return out;
    }
    cTestWindowTarget win;
    cIdRoot root;
    cToolBarChild tb;
};

}  // namespace

// Widths in the standard font (6 pixels a character): "A" 16, "BB" 22,
// "CCC" 28, "DDDD" 34; the more button 16; a separator 12.
TEST(ToolBar, LayoutsByBehaviour) {
    struct sCase {
        const char* name;
        int width;
        cToolBarChild::eSmallerSizeBehavior behavior;
        bool separator2;
        int hidden;  // an id marked hidden, or 0
        const char* places;
        const char* overflow;
    };
    const sCase cases[] = {
        {"all fit", 200, cToolBarChild::ssbOverflowAtEnd, false, 0, "1:0+16 2:16+22 3:38+28 4:66+34 nomore", ""},
        {"keep all, cut", 60, cToolBarChild::ssbKeepAll, false, 0, "1:0+16 2:16+22 3:38+28 4:66+34 nomore", ""},
        {"hidden one", 200, cToolBarChild::ssbKeepAll, false, 2, "1:0+16 2:- 3:16+28 4:44+34 nomore", ""},
        {"overflow at end", 60, cToolBarChild::ssbOverflowAtEnd, false, 0, "1:0+16 2:16+22 3:- 4:- more:38", "3 4 "},
        {"overflow at end, hidden not listed", 60, cToolBarChild::ssbOverflowAtEnd, false, 3,
         "1:0+16 2:16+22 3:- 4:- more:38", "4 "},
        {"overflow from 2", 70, cToolBarChild::ssbOverflowFrom, false, 0, "1:0+16 2:- 3:- 4:32+34 more:16", "2 3 "},
        {"separator hidden, not listed", 70, cToolBarChild::ssbOverflowFrom, true, 0,
         "1:0+16 2:- 3:- 4:32+34 more:16", "3 "},
    };
    for (const sCase& c : cases) {
        sFixture f(300);
        f.tb.setSmallerSizeBehavior(c.behavior);
        f.tb.setHideFrom(2);
        f.tb.setButton(1, "A", -1);
        if (c.separator2) f.tb.setSeparator(2);
        else f.tb.setButton(2, "BB", -1);
        f.tb.setButton(3, "CCC", -1);
        f.tb.setButton(4, "DDDD", -1);
        if (c.hidden) f.tb.setVisible(c.hidden, false);
        // Laid out wide first, then narrowed: nothing may stay where the
        // wide layout put it.
        f.tb.move(0, 0, c.width, 24);
        f.tb.rebuildToolbar();
        EXPECT_EQ(f.places(), c.places) << c.name;
        EXPECT_EQ(f.overflow(), c.overflow) << c.name;
        if (c.separator2) {
            EXPECT_FALSE(f.tb.isEnabled(2));
            EXPECT_EQ(f.tb.findButton(2)->text(), nullptr);
        }
    }
}

TEST(ToolBar, ClicksOverflowPickAndEmptyArea) {
    sFixture f(60);
    f.tb.setSmallerSizeBehavior(cToolBarChild::ssbOverflowAtEnd);
    f.tb.setButton(1, "A", -1);
    f.tb.setButton(2, "BB", -1);
    f.tb.setButton(3, "CCC", -1);
    f.tb.setButton(4, "DDDD", -1);
    f.root.processMouseBtn(20, 10, 1, true, false, false);
    f.root.processMouseBtn(20, 10, 1, false, false, false);
    f.win.drain();
    EXPECT_EQ(f.root.ids, std::vector<int>{2});
    // The more button opens the list under itself; the second entry is 4.
    f.win.onModalPopup = [&](cChildElement* r, cTestWindowTarget& w) {
        auto* p = dynamic_cast<cPopupMaster*>(r);
        ASSERT_NE(p, nullptr);
        ASSERT_EQ(p->buttonCount(), 2u);
        r->processMouseBtn(5, 24 + 5, 1, true, false, false);
        r->processMouseBtn(5, 24 + 5, 1, false, false, false);
        w.drain();
    };
    f.root.processMouseBtn(45, 10, 1, true, false, false);
    f.root.processMouseBtn(45, 10, 1, false, false, false);
    f.win.drain();
    ASSERT_EQ(f.win.modalPopups.size(), 1u);
    EXPECT_EQ(f.win.modalPopups[0].x, 38);
    EXPECT_EQ(f.win.modalPopups[0].y, 25);
    EXPECT_EQ(f.win.modalPopups[0].h, 48 + 2);
    EXPECT_EQ(f.win.modalPopups[0].w, static_cast<int>(34 * 1.1));
    EXPECT_EQ(f.root.ids, (std::vector<int>{2, 4}));
    // A press on the bar itself, beyond the buttons.
    f.tb.move(0, 0, 300, 24);
    f.root.processMouseBtn(250, 10, 1, true, false, false);
    f.win.drain();
    EXPECT_EQ(f.root.empty, 1);
}

TEST(ToolBar, RemovedButtonsLeaveNoPointersBehind) {
    sFixture f(200);
    f.tb.setButton(1, "A", -1);
    f.tb.setButton(2, "BB", -1);
    const int layouts = f.tb.layouts();
    f.tb.setButton(2, "BB", -1);
    EXPECT_EQ(f.tb.layouts(), layouts);  // nothing changed: no layout
    cButtonChild* b = f.tb.findButton(1);
    f.root.processMouseMove(5, 5);
    EXPECT_EQ(f.root.hoverElement(), b);
    f.root.processMouseBtn(5, 5, 1, true, false, false);  // pressed: captured
    b->focus();
    f.win.drain();
    EXPECT_EQ(f.root.getFocused(), b);
    f.tb.setButton(1, nullptr, -1);
    EXPECT_EQ(f.tb.findButton(1), nullptr);
    EXPECT_NE(f.root.hoverElement(), b);
    EXPECT_NE(f.tb.hoverElement(), b);
    EXPECT_EQ(f.root.getFocused(), nullptr);
    EXPECT_EQ(f.root.captureChild(), nullptr);
    // Later events must not reach the deleted button.
    f.root.processMouseMove(6, 6);
    f.root.processMouseBtn(6, 6, 1, false, false, false);
    f.root.processKey(0x20, false, false, false);
    f.win.drain();
    EXPECT_TRUE(f.root.ids.empty());
    f.tb.setMaxDDHeight(16);
    EXPECT_EQ(f.tb.maxDDHeight(), 200);
    EXPECT_FALSE(f.tb.removeButton(1));
}
