// Hints: the popup's place and size for each text and mode, its colours and
// lines, and who owns what: the element deletes its hint master, the hint
// master disposes of its popup, each exactly once.
#include "recordingcanvas.h"
#include "testwindow.h"
#include "uitoolkit/hintmaster.h"
#include "uitoolkit/theme.h"

#include <gtest/gtest.h>

using qortest::cRecordingCanvas;
using qortest::cTestPopupHolder;
using qortest::cTestWindowTarget;

namespace {

struct sFixture {
    sFixture() {
        qortest::cFixedFont::install();
        cCITheme::setTheme(gCI_Flat_Theme);
        win.bind(&root, 300, 200, 100, 50);
        root.attach(&owner, 20, 30, 60, 20);
    }
    cTestWindowTarget win;
    cChildElement root;
    cChildElement owner;
};

}  // namespace

TEST(HintMaster, PlaceAndSizeOfThePopup) {
    // The standard font: 6 pixels a character, lines 13 high.
    struct sCase {
        const char* text;
        bool at;
        int mode;
        bool shown;
        int w, h;
        int dx, dy;  // from (60, 70) with a position, else from the owner's screen corner
    };
    const sCase cases[] = {
        {"abc", false, 0, true, 26, 17, 2, 22},
        {"ab\nabcdef", false, 0, true, 44, 30, 2, 22},
        {"ab\nabcdef", false, 1, true, 44, 30, 2, -32},
        {"abc", true, 0, true, 26, 17, 0, 0},
        {"abc\nde\nf", true, 1, true, 26, 43, 0, -45},
        {"", false, 0, false, 0, 0, 0, 0},
        {"\n", false, 0, false, 0, 0, 0, 0},
    };
    for (const sCase& c : cases) {
        sFixture f;
        sPoint abs;
        ASSERT_TRUE(f.owner.absPos(abs));
        cHintMaster* h = new cHintMaster();
        sPoint at{60, 70};
        EXPECT_EQ(h->show(&f.owner, c.text, c.at ? &at : nullptr, cHintMaster::kThemeColour,
                          cHintMaster::kThemeColour, c.mode),
                  c.shown)
            << c.text;
        ASSERT_EQ(f.win.popups.size(), c.shown ? 1u : 0u) << c.text;
        if (c.shown) {
            const auto& p = f.win.popups[0];
            const sPoint base = c.at ? at : abs;
            EXPECT_EQ(p.x, base.x + c.dx) << c.text;
            EXPECT_EQ(p.y, base.y + c.dy) << c.text;
            EXPECT_EQ(p.w, c.w) << c.text;
            EXPECT_EQ(p.h, c.h) << c.text;
            EXPECT_EQ(p.root, h);
            EXPECT_FALSE(p.focus);
        }
        delete h;
        EXPECT_EQ(cTestPopupHolder::alive, 0);
    }
}

TEST(HintMaster, ColoursAndLines) {
    sFixture f;
    cHintMaster h;
    ASSERT_TRUE(h.show(&f.owner, "one\ntwo", nullptr, cHintMaster::kThemeColour, cHintMaster::kThemeColour, 0));
    EXPECT_EQ(h.bgColor(), cCITheme::theme()->getColor(11));
    EXPECT_EQ(h.textColor(), cCITheme::theme()->getColor(13));
    cRecordingCanvas canvas(30, 30);
    h.onPaint(&canvas);
    ASSERT_EQ(canvas.calls.size(), 3u);
    EXPECT_EQ(canvas.calls[0].op, "rect");
    EXPECT_EQ(canvas.calls[0].w, 26);
    EXPECT_EQ(canvas.calls[0].h, 30);
    EXPECT_EQ(canvas.calls[0].fill, cCITheme::theme()->getColor(11));
    EXPECT_EQ(canvas.calls[0].border, cCITheme::theme()->getColor(12));
    EXPECT_EQ(qortest::dumpCalls({canvas.calls[1], canvas.calls[2]}), "text 4,2,18,13 one\ntext 4,15,18,13 two\n");
    EXPECT_EQ(canvas.calls[1].color, cCITheme::theme()->getColor(13));
    ASSERT_TRUE(h.show(&f.owner, "x", nullptr, 0x010203, 0x040506, 0));
    EXPECT_EQ(h.bgColor(), 0x010203u);
    EXPECT_EQ(h.textColor(), 0x040506u);
    // The second show replaced the first popup.
    EXPECT_EQ(cTestPopupHolder::alive, 1);
    EXPECT_TRUE(h.hide());
    EXPECT_EQ(cTestPopupHolder::alive, 0);

    _guardchar<char> out;
    const char* rest = cHintMaster::line("ab\ncd", out);
    EXPECT_STREQ(out.get(), "ab");
    ASSERT_NE(rest, nullptr);
    EXPECT_STREQ(rest, "cd");
    EXPECT_EQ(cHintMaster::line(rest, out), nullptr);
    EXPECT_STREQ(out.get(), "cd");
}

TEST(HintMaster, OneOwnerDeletesItAndThePopupGoesOnce) {
    installHintMaster();
    const int disposedBefore = cTestPopupHolder::disposed;
    {
        sFixture f;
        f.owner.setHint("Save the file", 0);
        // Pointer enters: a hint master shows in a popup of its own.
        f.root.processMouseMove(30, 40);
        ASSERT_NE(f.owner.shownHint(), nullptr);
        ASSERT_EQ(f.win.popups.size(), 1u);
        EXPECT_EQ(dynamic_cast<cShownHint*>(f.win.popups[0].root), f.owner.shownHint());
        EXPECT_EQ(cTestPopupHolder::alive, 1);
        // Pointer leaves: the element deletes the hint, the hint its popup.
        f.root.processMouseMove(250, 150);
        EXPECT_EQ(f.owner.shownHint(), nullptr);
        EXPECT_EQ(cTestPopupHolder::alive, 0);
        EXPECT_EQ(cTestPopupHolder::disposed, disposedBefore + 1);
        // Shown again, then the owner dies with it.
        f.root.processMouseMove(30, 40);
        EXPECT_EQ(cTestPopupHolder::alive, 1);
        cChildElement* gone = new cChildElement();
        f.root.attach(gone, 100, 100, 20, 20);
        gone->setHint("x", 1);
        f.root.processMouseMove(105, 105);
        EXPECT_EQ(cTestPopupHolder::alive, 1);  // the owner's hint went when the pointer left it
        ASSERT_EQ(f.win.popups.size(), 3u);
        delete gone;
        EXPECT_EQ(cTestPopupHolder::alive, 0);
        // An empty hint text shows nothing and keeps no hint master.
        cChildElement quiet;
        f.root.attach(&quiet, 200, 10, 20, 20);
        quiet.setHint("\n", 0);
        f.root.processMouseMove(205, 15);
        EXPECT_EQ(quiet.shownHint(), nullptr);
        f.root.dettach(&quiet);
    }
    EXPECT_EQ(cTestPopupHolder::alive, 0);
    EXPECT_EQ(cTestPopupHolder::disposed, disposedBefore + 3);
    __setHintMaker(nullptr);
}
