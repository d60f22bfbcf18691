// Popup menus run as modal popups in the test window: the script stands for
// the user.  The entry picked, Escape and clicks outside, where the popup
// opens near the desktop's edges, and which entry has the focus at first.
#include "recordingcanvas.h"
#include "testwindow.h"
#include "uitoolkit/popupmenu.h"
#include "uitoolkit/theme.h"

#include <gtest/gtest.h>

using qortest::cRecordingCanvas;
using qortest::cTestWindowTarget;

namespace {

struct sFixture {
    sFixture() {
        qortest::cFixedFont::install();
        static const bool themed = cCITheme::setTheme(gCI_Flat_Theme);
        (void)themed;
        win.bind(&root, 300, 200);
        root.attach(&owner, 10, 10, 50, 20);
        add(1, "Open");
        add(2, "Save as");
        add(-5, "Neg");
        add(3, nullptr);  // neither text nor picture: left out
    }
    void add(int id, const char* text) { entries.insert(id)->text = text; }
    cTestWindowTarget win;
    cChildElement root;
    cChildElement owner;
    tActiveElementItems entries;
};

void click(cChildElement* r, cTestWindowTarget& w, int x, int y) {
    r->processMouseBtn(x, y, 1, true, false, false);
    r->processMouseBtn(x, y, 1, false, false, false);
    w.drain();
}

}  // namespace

TEST(PopupMenu, PickEscapeAndOutside) {
    // Rows of 20 (13 + 7) in id order: -5 at y 1, 1 at 21, 2 at 41.
    struct sCase {
        const char* name;
        char action;  // c click at (10, y), e Escape, o click outside
        int y;
        int result;
    };
    const sCase cases[] = {
        {"first row", 'c', 5, -5}, {"second row", 'c', 25, 1}, {"third row", 'c', 55, 2},
        {"escape", 'e', 0, -1},    {"outside", 'o', 0, -1},
    };
    for (const sCase& c : cases) {
        sFixture f;
        f.win.onModalPopup = [&](cChildElement* r, cTestWindowTarget& w) {
            auto* p = dynamic_cast<cPopupMaster*>(r);
            ASSERT_NE(p, nullptr);
            ASSERT_EQ(p->buttonCount(), 3u);
            EXPECT_STREQ(p->button(2)->text(), "Save as");
            cRecordingCanvas canvas(200, 200);
            r->processPaint(&canvas);  // takes the pointer, as on screen
            if (c.action == 'c') click(r, w, 10, c.y);
            if (c.action == 'e') r->processKey(0x11B, false, false, false);
            if (c.action == 'o') click(r, w, 120, 150);
            EXPECT_FALSE(w.captures.empty() || w.captures.back()) << c.name;
            // The popup ended itself, once, with the result.
            EXPECT_EQ(w.modalResults, std::vector<int>{c.result}) << c.name;
        };
        EXPECT_EQ(cPopupMaster::simplePopup(&f.owner, f.entries, 100, 100, nullptr), c.result) << c.name;
        ASSERT_EQ(f.win.modalPopups.size(), 1u);
        // Widest entry "Save as": 5 + 42 + 5, plus 2; three rows of 20, plus 2.
        EXPECT_EQ(f.win.modalPopups[0].w, 54);
        EXPECT_EQ(f.win.modalPopups[0].h, 62);
    }
}

TEST(PopupMenu, PlacementNearTheDesktopEdgesAndFirstFocus) {
    struct sCase {
        int deskW, deskH, x, y;
        int wantX, wantY, wantH;  // the window's height, 2 more than the list's
        bool scrolls;
    };
    const sCase cases[] = {
        {1920, 1080, 100, 100, 100, 100, 62, false},
        {1920, 1080, 1900, 100, 1866, 100, 62, false},
        {1920, 1080, 100, 1050, 100, 990, 62, false},   // more room above: opens upwards
        {1920, 50, 100, 10, 100, 10, 42, true},         // more room below: cut to it, scrolls
        {1920, 70, 100, 40, 100, 0, 42, true},          // upwards, cut to the room above
    };
    for (const sCase& c : cases) {
        sFixture f;
        f.win.desktopW = c.deskW;
        f.win.desktopH = c.deskH;
        cPopupMaster::sPopupConfig cfg;
        cfg.selected = 1;
        bool scrolled = false;
        cChildElement* focused = nullptr;
        cChildElement* wanted = nullptr;
        f.win.onModalPopup = [&](cChildElement* r, cTestWindowTarget& w) {
            auto* p = dynamic_cast<cPopupMaster*>(r);
            w.drain();
            scrolled = p->vbar()->visible_child();
            focused = r->getFocused();
            wanted = p->button(1);
            EXPECT_TRUE(w.modalResults.empty());
        };
        EXPECT_EQ(cPopupMaster::simplePopup(&f.owner, f.entries, c.x, c.y, &cfg), -1);
        ASSERT_EQ(f.win.modalPopups.size(), 1u);
        const auto& p = f.win.modalPopups[0];
        EXPECT_EQ(p.x, c.wantX) << c.x << "," << c.y;
        EXPECT_EQ(p.y, c.wantY) << c.x << "," << c.y;
        EXPECT_EQ(p.h, c.wantH) << c.x << "," << c.y;
        EXPECT_EQ(scrolled, c.scrolls) << c.x << "," << c.y;
        EXPECT_EQ(focused, wanted) << c.x << "," << c.y;
    }
    sFixture f;
    tActiveElementItems none;
    EXPECT_EQ(cPopupMaster::simplePopup(&f.owner, none, 0, 0, nullptr), -1);
    EXPECT_TRUE(f.win.modalPopups.empty());
}

TEST(PopupMenu, LongFormsHandEverySettingToThePopup) {
    // simplePopup with every setting spelt out, and runPopUp with the size
    // given: the minimum width, the focused entry, the colours of the list
    // and of its captions, and the border (unset: the theme's) all arrive.
    struct sSeen {
        int focusedIndex = -1;
        std::vector<unsigned int> textColours, fills;
    };
    auto look = [](cChildElement* r, cTestWindowTarget& w, sSeen& seen) {
        auto* p = dynamic_cast<cPopupMaster*>(r);
        ASSERT_NE(p, nullptr);
        w.drain();
        for (std::size_t i = 0; i < p->buttonCount(); ++i)
            if (r->getFocused() == p->button(i)) seen.focusedIndex = static_cast<int>(i);
        cRecordingCanvas canvas(300, 200);
        r->processPaint(&canvas);
        for (const auto& c : canvas.calls) {
            if (c.op == "text") seen.textColours.push_back(c.color);
            if (c.op == "rect") seen.fills.push_back(c.fill);
        }
        r->processKey(0x11B, false, false, false);
    };
    {
        sFixture f;
        sSeen seen;
        f.win.onModalPopup = [&](cChildElement* r, cTestWindowTarget& w) { look(r, w, seen); };
        EXPECT_EQ(cPopupMaster::simplePopup(&f.owner, f.entries, 100, 100, 140, nullptr, 2, 0x102030, 0x405060,
                                            cPopupMaster::kUnset, nullptr),
                  -1);
        ASSERT_EQ(f.win.modalPopups.size(), 1u);
        EXPECT_EQ(f.win.modalPopups[0].w, 140);  // raised from 54
        EXPECT_EQ(f.win.modalPopups[0].h, 62);
        EXPECT_EQ(seen.focusedIndex, 2);         // id 2 is the third entry (-5, 1, 2)
        EXPECT_EQ(seen.textColours, std::vector<unsigned int>(3, 0x405060u));
        ASSERT_FALSE(seen.fills.empty());
        EXPECT_EQ(seen.fills[0], 0x102030u);
    }
    {
        sFixture f;
        sSeen seen;
        f.win.onModalPopup = [&](cChildElement* r, cTestWindowTarget& w) { look(r, w, seen); };
        EXPECT_EQ(cPopupMaster::runPopUp(&f.owner, f.entries, nullptr, 30, 40, 90, 60, -5, 0x0000FF, 0x00FF00,
                                         0xFF0000, nullptr),
                  -1);
        ASSERT_EQ(f.win.modalPopups.size(), 1u);
        EXPECT_EQ(f.win.modalPopups[0].x, 30);
        EXPECT_EQ(f.win.modalPopups[0].y, 40);
        EXPECT_EQ(f.win.modalPopups[0].w, 90);
        EXPECT_EQ(f.win.modalPopups[0].h, 62);
        EXPECT_EQ(seen.focusedIndex, 0);
        EXPECT_EQ(seen.textColours, std::vector<unsigned int>(3, 0x00FF00u));
    }
}
