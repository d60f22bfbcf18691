// Picture elements: which zone a point falls in, the clicks and pointer
// shapes it gives, and the hints of hint zones shown and replaced.
#include "recordingcanvas.h"
#include "testwindow.h"
#include "uitoolkit/pictureelement.h"
#include "uitoolkit/theme.h"

#include <gtest/gtest.h>

using qortest::cRecordingCanvas;
using qortest::cTestPopupHolder;
using qortest::cTestWindowTarget;

namespace {

class cZoneRoot : public cChildElement {
public:
    bool onAction(cChildElement*, cChildAction* a) override {
        if (auto* z = dynamic_cast<cPictureElement::cActiveZoneAction*>(a)) ids.push_back(z->id);
        return true;
    }
    std::vector<int> ids;
};

struct sFixture {
    sFixture() {
        qortest::cFixedFont::install();
        static const bool themed = cCITheme::setTheme(gCI_Flat_Theme);
        (void)themed;
        win.bind(&root, 200, 100);
        root.attach(&pic, 10, 10, 100, 50);
        pic.setActive(5, 0, 0, 10, 10);    // x 0..9
        pic.setActive(2, 5, 5, 20, 20);    // overlaps zone 5; the smaller id wins
        pic.setActive(-3, 60, 0, 10, 10);  // a negative id is a zone too
    }
    cTestWindowTarget win;
    cZoneRoot root;
    cPictureElement pic;
};

}  // namespace

TEST(PictureElement, ZonesClicksAndPointer) {
    struct sCase {
        int x, y;       // element coordinates
        bool release;   // a press alone, or press and release
        int zone;       // -1: none (and no action)
        bool hand;
    };
    const sCase cases[] = {
        {0, 0, true, 5, true},    {9, 4, true, 5, true},    {10, 4, true, -1, false}, {7, 7, true, 2, true},
        {24, 24, true, 2, true},  {25, 24, true, -1, false}, {3, 3, false, 5, true},  {65, 5, true, -3, true},
    };
    for (const sCase& c : cases) {
        sFixture f;
        f.root.processMouseMove(10 + c.x, 10 + c.y);
        EXPECT_EQ(f.pic.pointer(), c.hand ? cChildElement::mptHand : cChildElement::mptArrow) << c.x << "," << c.y;
        f.root.processMouseBtn(10 + c.x, 10 + c.y, 1, true, false, false);
        if (c.release) f.root.processMouseBtn(10 + c.x, 10 + c.y, 1, false, false, false);
        f.win.drain();
        const bool notified = c.release && c.hand;
        ASSERT_EQ(f.root.ids.size(), notified ? 1u : 0u) << c.x << "," << c.y;
        if (notified) {
            EXPECT_EQ(f.root.ids[0], c.zone);
        }
    }
}

TEST(PictureElement, HintZonesShowReplaceAndKeepTheirHint) {
    sFixture f;
    f.pic.setHint(1, 0, 30, 40, 10, "left", 0);
    f.pic.setHint(2, 50, 30, 40, 10, "right", 1);
    sPoint abs;
    ASSERT_TRUE(f.pic.absPos(abs));
    f.root.processMouseMove(15, 45);  // zone 1
    ASSERT_NE(f.pic.shownZoneHint(), nullptr);
    cHintMaster* first = f.pic.shownZoneHint();
    ASSERT_EQ(f.win.popups.size(), 1u);
    EXPECT_EQ(f.win.popups[0].x, abs.x + 0 + 2);
    EXPECT_EQ(f.win.popups[0].y, abs.y + 39 + 2);
    f.root.processMouseMove(20, 46);  // still zone 1: the same hint
    EXPECT_EQ(f.pic.shownZoneHint(), first);
    EXPECT_EQ(f.win.popups.size(), 1u);
    f.root.processMouseMove(70, 45);  // zone 2, above: bottom 6 above the zone's top
    ASSERT_EQ(f.win.popups.size(), 2u);
    EXPECT_EQ(f.pic.currentHintZone(), 2);
    EXPECT_EQ(f.win.popups[1].x, abs.x + 50 + 2);
    EXPECT_EQ(f.win.popups[1].y, abs.y + 30 - 6 - 13);
    EXPECT_EQ(cTestPopupHolder::alive, 1);
    f.root.processMouseMove(70, 15);  // no hint zone
    EXPECT_EQ(f.pic.shownZoneHint(), nullptr);
    EXPECT_EQ(cTestPopupHolder::alive, 0);
    EXPECT_FALSE(f.pic.setHint(9, "none", 0));
    EXPECT_TRUE(f.pic.setHint(1, "changed", 0));
}

TEST(PictureElement, PicturesAndPainting) {
    sFixture f;
    const unsigned int px[4] = {0xFF000001u, 0xFF000002u, 0xFF000003u, 0xFF000004u};
    ASSERT_TRUE(f.pic.setPict(px, 2, 2));
    cRecordingCanvas canvas(100, 50);
    f.pic.onPaint(&canvas);
    ASSERT_EQ(canvas.calls.size(), 1u);
    EXPECT_EQ(qortest::dumpCalls(canvas.calls), "bitmap 0,0,2,2\n");
    // Stored bottom row first: the top row on screen is the source's last.
    EXPECT_EQ(canvas.calls[0].pixels, (std::vector<unsigned int>{px[2], px[3], px[0], px[1]}));
    f.pic.setTransparent(true);
    cRecordingCanvas alpha(100, 50);
    f.pic.onPaint(&alpha);
    EXPECT_EQ(qortest::dumpCalls(alpha.calls), "alpha 0,0,2,2\n");
    sRect behind{5, 6, 10, 10};
    cRecordingCanvas back(10, 10);
    EXPECT_TRUE(f.pic.onBackgroundRequest(&back, &behind));
    EXPECT_EQ(qortest::dumpCalls(back.calls), "bitmap -5,-6,2,2\n");
    cPicture empty;
    EXPECT_FALSE(f.pic.refPict(&empty));
    EXPECT_FALSE(f.pic.refPict(nullptr));
    EXPECT_FALSE(f.pic.setPict(static_cast<const unsigned int*>(nullptr), 2, 2));
    EXPECT_EQ(f.pic.pict(), nullptr);
    cRecordingCanvas none(10, 10);
    f.pic.onPaint(&none);
    EXPECT_TRUE(none.calls.empty());
    EXPECT_FALSE(f.pic.onBackgroundRequest(&none, &behind));
}
