// The document viewer with a scripted document: what it renders and copies
// to the screen, where links are hit, which targets a click opens, and how
// keys scroll.
#include "cihlpdoc/sidocviewer.h"
#include "recordingcanvas.h"
#include "testwindow.h"
#include "uitoolkit/theme.h"

#include <gtest/gtest.h>

#include <string>

using qortest::cRecordingCanvas;
using qortest::cTestWindowTarget;

namespace {

// A document of a fixed size that draws its links at fixed places.
class cFakeDoc : public cSiDocBox {
public:
    struct sLink {
        std::string ref;
        int x, y, w, h;
    };
    cFakeDoc(int w, int h, std::vector<sLink> links) : mW(w), mH(h), mLinkDefs(std::move(links)) {}
    bool wantsSize(cCanvas*, sSiDocDrawProps const& props, sSize& size) override {
        ++measures;
        widthLimit = props.widthLimit;
        size.w = mW;
        size.h = mH;
        return true;
    }
    bool draw(cCanvas*, sSiDocDrawProps const& props, sSize& size) override {
        ++draws;
        for (auto& l : mLinkDefs) props.sink->setActive(&l.ref[0], l.x, l.y, l.w, l.h);
        size.w = mW;
        size.h = mH;
        return true;
    }
    int measures = 0, draws = 0, widthLimit = 0;

private:
    int mW, mH;
    std::vector<sLink> mLinkDefs;
};

std::vector<std::string> gOpened;
bool recordOpen(const char* t) {
    gOpened.emplace_back(t);
    return true;
}

struct sFixture {
    sFixture() {
        qortest::cFixedFont::install();
        cCITheme::setTheme(gCI_Flat_Theme);
        win.bind(&root, 400, 300);
        root.attach(&viewer, 0, 0, 200, 100);
        gOpened.clear();
        old = cSiDocViewer::setOpener(recordOpen);
    }
    ~sFixture() { cSiDocViewer::setOpener(old); }
    void paint(cRecordingCanvas& c) { viewer.onPaintArea(&c); }
    void click(int dx, int dy, int ux, int uy) {
        root.processMouseBtn(dx, dy, 1, true, false, false);
        root.processMouseBtn(ux, uy, 1, false, false, false);
    }
    cTestWindowTarget win;
    cChildElement root;
    cSiDocViewer viewer;
    cSiDocViewer::tOpener old;
};

std::vector<qortest::sDrawCall> only(const std::vector<qortest::sDrawCall>& calls, const std::string& op) {
    std::vector<qortest::sDrawCall> out;
    for (auto& c : calls)
        if (c.op == op) out.push_back(c);
    return out;
}

}  // namespace

TEST(SiDocViewer, RendersOnceAndPaintsFromTheRender) {
    sFixture f;
    {
        cRecordingCanvas c(200, 100);
        f.paint(c);
        auto rects = only(c.calls, "rect");
        ASSERT_EQ(rects.size(), 1u);  // no document: the background only
        EXPECT_EQ(rects[0].fill, 0xFFFFFFu);
    }
    cFakeDoc doc(150, 60, {});
    EXPECT_EQ(f.viewer.refSiDoc(&doc, 0x123456), 1);
    cRecordingCanvas c(200, 100);
    f.paint(c);
    auto off = only(c.calls, "offscreen");
    ASSERT_EQ(off.size(), 1u);
    EXPECT_EQ(off[0].w, f.viewer.width());
    EXPECT_EQ(off[0].h, 60);
    EXPECT_EQ(doc.widthLimit, f.viewer.width());
    ASSERT_EQ(only(c.calls, "blit").size(), 1u);
    // The render's background, then the canvas below the document's 60 rows.
    auto rects = only(c.calls, "rect");
    ASSERT_GE(rects.size(), 2u);
    EXPECT_EQ(rects[0].fill, 0x123456u);
    EXPECT_EQ(rects[1].y, 60);
    EXPECT_EQ(rects[1].h, 40);
    EXPECT_EQ(rects[1].fill, 0x123456u);

    // Painting again copies the render without laying the document out.
    cRecordingCanvas again(200, 100);
    f.paint(again);
    EXPECT_EQ(doc.draws, 1);
    EXPECT_TRUE(only(again.calls, "offscreen").empty());
    // The same document with another colour keeps the render.
    EXPECT_EQ(f.viewer.refSiDoc(&doc, 0xABCDEF), 0);
    EXPECT_EQ(f.viewer.background(), 0xABCDEFu);
    EXPECT_NE(f.viewer.render(), nullptr);
    // A width change drops it.
    f.root.attach(&f.viewer, 0, 0, 180, 100);
    f.viewer.move(0, 0, 180, 100);
    EXPECT_EQ(f.viewer.render(), nullptr);
}

TEST(SiDocViewer, DocumentMeasuringZeroLeavesNothingFromBefore) {
    sFixture f;
    cFakeDoc tall(150, 500, {{"http://a.example/", 10, 10, 30, 10}});
    f.viewer.refSiDoc(&tall, 0xFFFFFF);
    cRecordingCanvas c(200, 100);
    f.paint(c);
    EXPECT_EQ(f.viewer.linkCount(), 1u);
    EXPECT_EQ(f.viewer.minVisualHeight(), 500);
    for (auto dims : {std::make_pair(0, 40), std::make_pair(150, 0)}) {
        cFakeDoc empty(dims.first, dims.second, {});
        f.viewer.refSiDoc(&empty, 0xFFFFFF);
        EXPECT_EQ(f.viewer.linkCount(), 0u);  // gone with the old render
        cRecordingCanvas c2(200, 100);
        f.paint(c2);
        EXPECT_TRUE(only(c2.calls, "offscreen").empty());
        EXPECT_EQ(f.viewer.render(), nullptr);
        EXPECT_EQ(f.viewer.minVisualHeight(), 0);
        EXPECT_EQ(empty.draws, 0);
        f.viewer.refSiDoc(&tall, 0xFFFFFF);
        f.paint(c2);
    }
}

TEST(SiDocViewer, LinksHitByInclusiveAreasAndOpenOnlyWebAndMail) {
    struct sCase {
        const char* ref;
        bool opened;
    };
    const sCase cases[] = {
        {"http://example.org/a", true},
        {"HTTPS://example.org/", true},
        {"mailto:someone@example.org", true},
        {"file:///etc/passwd", false},
        {"/usr/bin/xterm", false},
        {"http://x.org/ ; rm -rf ~", false},
        {"https://x.org/\nsecond", false},
        {"javascript:alert(1)", false},
        {"http://", false},
        {"", false},
    };
    for (const sCase& c : cases) {
        sFixture f;
        cFakeDoc doc(200, 60, {{c.ref, 20, 10, 30, 12}, {"http://other.example/", 100, 10, 30, 12}});
        f.viewer.refSiDoc(&doc, 0xFFFFFF);
        cRecordingCanvas canvas(200, 100);
        f.paint(canvas);
        // The link covers x 20..49, y 10..21: its last column and row hit.
        f.click(49, 21, 49, 21);
        f.click(20, 10, 20, 10);
        if (c.opened) {
            EXPECT_EQ(gOpened, (std::vector<std::string>{c.ref, c.ref})) << c.ref;
        } else {
            EXPECT_TRUE(gOpened.empty()) << c.ref;
        }
    }
    sFixture f;
    cFakeDoc doc(200, 60, {{"http://a.example/", 20, 10, 30, 12}, {"http://b.example/", 100, 10, 30, 12}});
    f.viewer.refSiDoc(&doc, 0xFFFFFF);
    cRecordingCanvas canvas(200, 100);
    f.paint(canvas);
    f.click(25, 15, 105, 15);  // press on one link, release on another
    f.click(50, 15, 50, 15);   // just right of the first link
    f.click(25, 22, 25, 22);   // just below it
    f.root.processMouseBtn(25, 15, 2, true, false, false);
    f.root.processMouseBtn(25, 15, 2, false, false, false);
    EXPECT_TRUE(gOpened.empty());
    f.click(105, 15, 106, 16);
    EXPECT_EQ(gOpened, std::vector<std::string>{"http://b.example/"});
    f.root.processMouseMove(25, 15);
    ASSERT_FALSE(f.win.pointers.empty());
    EXPECT_EQ(f.win.pointers.back(), 3);
    f.root.processMouseMove(60, 15);
    EXPECT_EQ(f.win.pointers.back(), 0);
}

TEST(SiDocViewer, KeysScrollOnlyWithAShownBar) {
    sFixture f;
    cFakeDoc shortDoc(150, 50, {});
    f.viewer.refSiDoc(&shortDoc, 0xFFFFFF);
    cRecordingCanvas c(200, 100);
    f.paint(c);
    f.viewer.onKey(0x157, false, false, false);
    EXPECT_EQ(f.viewer.shiftY(), 0);

    cFakeDoc longDoc(150, 1000, {{"http://a.example/", 10, 990, 20, 10}});
    f.viewer.refSiDoc(&longDoc, 0xFFFFFF);
    f.paint(c);
    ASSERT_TRUE(f.viewer.vbar()->visible());
    f.viewer.onKey(0x157, false, false, false);  // End
    f.win.drain();
    const int bottom = f.viewer.shiftY();
    EXPECT_GT(bottom, 800);
    EXPECT_EQ(static_cast<unsigned long long>(bottom), f.viewer.vbar()->maxval());
    // The link near the end is hit at its screen place once scrolled.
    f.click(15, 995 - bottom, 15, 995 - bottom);
    EXPECT_EQ(gOpened, std::vector<std::string>{"http://a.example/"});
    f.viewer.onKey(0x152, false, false, false);  // Up one step
    f.win.drain();
    EXPECT_LT(f.viewer.shiftY(), bottom);
    f.viewer.onKey(0x150, false, false, false);  // Home
    f.win.drain();
    EXPECT_EQ(f.viewer.shiftY(), 0);
    f.viewer.onKey(0x156, false, false, false);  // Page Down
    f.win.drain();
    EXPECT_GT(f.viewer.shiftY(), 0);
}

TEST(SiDocViewer, TabReachesTheViewerAndItsKeysScroll) {
    sFixture f;
    cFakeDoc longDoc(150, 1000, {});
    f.viewer.refSiDoc(&longDoc, 0xFFFFFF);
    cRecordingCanvas c(200, 100);
    f.paint(c);
    ASSERT_TRUE(f.root.processKey(0x109, false, false, false));
    ASSERT_EQ(f.root.getFocused(), &f.viewer);
    // The keys go to the viewer itself, not to its scroll bars.
    ASSERT_TRUE(f.root.processKey(0x157, false, false, false));  // End
    f.win.drain();
    EXPECT_GT(f.viewer.shiftY(), 800);
}
