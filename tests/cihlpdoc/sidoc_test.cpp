// Layout of the document model on the recording canvas with the fixed-metric
// font: a size-10 font advances 5 pixels a character and is 10 high, so a
// line is round(10 x 1.2) = 12 high and drawTextLimited centres the 10-pixel
// text 1 pixel down.  Every position below is worked out by hand from those
// metrics.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "base/memio.h"
#include "cihlpdoc/hdlparser.h"
#include "cihlpdoc/sidoc.h"
#include "cihlpdoc/sidocloader.h"
#include "recordingcanvas.h"
#include "testsupport.h"

namespace {

using qortest::cRecordingCanvas;
typedef std::tuple<std::string, int, int> Placed;

cSiDocText* word(const char* s, bool brk = false) {
    cSiDocText* t = new cSiDocText;
    if (s) t->setText(s);
    t->setBreak(brk);
    return t;
}

std::vector<Placed> texts(const cRecordingCanvas& c) {
    std::vector<Placed> out;
    for (const auto& call : c.calls)
        if (call.op == "text") out.emplace_back(call.text, call.x, call.y);
    return out;
}

bool hasRect(const cRecordingCanvas& c, int x, int y, int w, int h, unsigned fill) {
    for (const auto& call : c.calls)
        if (call.op == "rect" && call.x == x && call.y == y && call.w == w && call.h == h && call.fill == fill)
            return true;
    return false;
}

struct Sink : cSiDocActiveTarget {
    std::vector<std::tuple<std::string, int, int, int, int> > rects;
    void resetActive() override { rects.clear(); }
    void setActive(char* ref, int x, int y, int w, int h) override { rects.emplace_back(ref, x, y, w, h); }
};

class DocLayout : public ::testing::Test {
protected:
    void SetUp() override { __setTextWrapYFactorHook([]() { return 1.2; }); }
    void TearDown() override { __setTextWrapYFactorHook(nullptr); }
    cRecordingCanvas canvas;
    sSiDocDrawProps props;
};

TEST_F(DocLayout, WordsThatDoNotFitBreakAndAWideWordIsCutAtTheRightEdge) {
    cSiDocContainer box;
    box.setWidth(100);
    box.addChild(word("aaaaaaaaaa"));  // 50 wide; with the gap the second
    box.addChild(word("bbbbbbbbbb"));  // needs 55 more: 105 > 100
    box.addChild(word("cccccccccccccccccccccccccccccc"));  // 150 wide, alone
    sSize size;
    ASSERT_TRUE(box.wantsSize(&canvas, props, size));
    EXPECT_EQ(size.w, 100);
    EXPECT_EQ(size.h, 36);
    ASSERT_TRUE(box.draw(&canvas, props, size));
    // The cut word keeps 17 characters: 17 x 5 + "..." (15) = 100.
    EXPECT_EQ(texts(canvas), (std::vector<Placed>{{"aaaaaaaaaa", 0, 1},
                                                  {"bbbbbbbbbb", 0, 13},
                                                  {"ccccccccccccccccc...", 0, 25}}));
    // Below each 10-high text the rest of its 12-high box takes the
    // background.
    EXPECT_TRUE(hasRect(canvas, 0, 10, 50, 2, 0xFFFFFF));
}

TEST_F(DocLayout, JustifiedLinesReachTheRightEdgeAndTheLastStaysLeft) {
    cSiDocContainer box;
    box.setWidth(100);
    box.setAlign(cSiDocContainer::alJustify);
    for (int i = 0; i < 10; ++i) box.addChild(word("aaaa"));
    sSize size;
    ASSERT_TRUE(box.draw(&canvas, props, size));
    // Four words of 20 with three gaps of 5 use 95: each gap grows by 5 / 3
    // and positions are truncated: 0, 26.67, 52.67, 78.67.
    std::vector<Placed> want;
    for (int line = 0; line < 2; ++line)
        for (int x : {0, 26, 52, 78}) want.emplace_back("aaaa", x, 1 + 12 * line);
    want.emplace_back("aaaa", 0, 25);
    want.emplace_back("aaaa", 25, 25);
    EXPECT_EQ(texts(canvas), want);
    EXPECT_EQ(size.h, 36);
}

TEST_F(DocLayout, RightAndCentredLinesStartFromTheRoomLeft) {
    for (auto align : {cSiDocContainer::alRight, cSiDocContainer::alCenter}) {
        cRecordingCanvas c;
        cSiDocContainer box;
        box.setWidth(100);
        box.setAlign(align);
        box.addChild(word("aa"));
        box.addChild(word("bb"));
        sSize size;
        ASSERT_TRUE(box.draw(&c, props, size));
        // The line uses 10 + 5 + 10 = 25.
        const int start = align == cSiDocContainer::alRight ? 75 : 37;
        EXPECT_EQ(texts(c), (std::vector<Placed>{{"aa", start, 1}, {"bb", start + 15, 1}})) << align;
    }
}

// Without a width of its own or a limit from outside there is no right edge
// to align to (it used to be taken as 2^31 - 1, placing the words near 2^30
// and 2^31): centred and right-aligned lines are laid out and drawn as
// left-aligned ones, where a left-aligned container puts every word.
TEST_F(DocLayout, WithoutAWidthLimitCentredAndRightLinesAreLeftAligned) {
    for (auto align : {cSiDocContainer::alLeft, cSiDocContainer::alRight, cSiDocContainer::alCenter,
                       cSiDocContainer::alJustify}) {
        for (int x0 : {0, 7}) {
            SCOPED_TRACE(std::to_string(align) + " at " + std::to_string(x0));
            cRecordingCanvas c;
            cSiDocContainer box;
            box.setAlign(align);
            box.addChild(word("aa"));
            box.addChild(word("bbb"));
            box.addChild(word("c", true));  // a new line
            box.addChild(word("dddd"));
            cSiDocText* last = word("e", true);
            last->setMargins(3, -1, -1, -1);
            box.addChild(last);  // alone on its line, after a left margin
            sSiDocDrawProps p;
            p.x = x0;
            sSize measured, drawn;
            ASSERT_TRUE(box.wantsSize(&c, p, measured));
            ASSERT_TRUE(box.draw(&c, p, drawn));
            // Words of 5 a character, gaps of 5: every x from the left edge.
            EXPECT_EQ(texts(c), (std::vector<Placed>{{"aa", x0, 1},
                                                     {"bbb", x0 + 15, 1},
                                                     {"c", x0, 13},
                                                     {"dddd", x0 + 10, 13},
                                                     {"e", x0 + 3, 25}}));
            EXPECT_EQ(measured.w, 30);
            EXPECT_EQ(drawn.w, 30);
            EXPECT_EQ(drawn.h, 36);
        }
    }
    // With a limit from outside the edge is there again.
    cRecordingCanvas c;
    cSiDocContainer box;
    box.setAlign(cSiDocContainer::alRight);
    box.addChild(word("aa"));
    sSiDocDrawProps p;
    p.widthLimit = 100;
    sSize size;
    ASSERT_TRUE(box.draw(&c, p, size));
    EXPECT_EQ(texts(c), (std::vector<Placed>{{"aa", 90, 1}}));
}

TEST_F(DocLayout, BottomMarginCountsOnlyOnASharedLine) {
    {
        cSiDocContainer box;
        cSiDocText* a = word("aa");
        a->setMargins(-1, -1, -1, 10);
        box.addChild(a);
        box.addChild(word("bb", true));
        sSize size;
        ASSERT_TRUE(box.draw(&canvas, props, size));
        EXPECT_EQ(texts(canvas), (std::vector<Placed>{{"aa", 0, 1}, {"bb", 0, 13}}));
        EXPECT_EQ(size.h, 24);
    }
    cRecordingCanvas c;
    cSiDocContainer box;
    cSiDocText* a = word("aa");
    a->setMargins(-1, -1, -1, 10);
    box.addChild(a);
    box.addChild(word("bb"));
    box.addChild(word("cc", true));
    sSize size;
    ASSERT_TRUE(box.draw(&c, props, size));
    EXPECT_EQ(texts(c), (std::vector<Placed>{{"aa", 0, 1}, {"bb", 15, 1}, {"cc", 0, 23}}));
    EXPECT_EQ(size.h, 34);
    EXPECT_EQ(size.w, 25);
    // The margin under "aa" is painted with the children's background.
    EXPECT_TRUE(hasRect(c, 0, 12, 10, 10, 0xFFFFFF));
}

TEST_F(DocLayout, LineBreakBoxStartsANewLineAndAddsNoHeight) {
    cSiDocContainer box;
    box.addChild(word("aa"));
    box.addChild(word(nullptr, true));
    box.addChild(word("bb"));
    sSize size;
    ASSERT_TRUE(box.draw(&canvas, props, size));
    EXPECT_EQ(texts(canvas), (std::vector<Placed>{{"aa", 0, 1}, {"bb", 0, 13}}));
    EXPECT_EQ(size.h, 24);
}

TEST_F(DocLayout, NestedBoxIsPlacedByItsMarginsAndNarrowedByItsOwn) {
    cSiDocContainer root;
    root.setWidth(200);
    root.addChild(word("x"));
    cSiDocContainer* inner = new cSiDocContainer;
    inner->setMargins(7, 3, 40, 0);
    inner->setBreak(true);
    inner->setAlign(cSiDocContainer::alRight);
    inner->setColor(0x0000FF);
    inner->addChild(word("yy"));
    root.addChild(inner);
    sSize size;
    ASSERT_TRUE(root.draw(&canvas, props, size));
    // The inner box starts at (7, 12 + 3); its right edge is the root's 200
    // less its right margin 40, so "yy" (10 wide) starts at 150.
    EXPECT_EQ(texts(canvas), (std::vector<Placed>{{"x", 0, 1}, {"yy", 150, 16}}));
    EXPECT_EQ(size.h, 27);
}

TEST_F(DocLayout, PictureWiderBoxShowsBackgroundBesideThePicture) {
    cPicture pic;
    ASSERT_TRUE(pic.create(0xFF00FF00u, 120, 10));
    cSiDocImage img;
    img.refImage(&pic);
    img.setWidth(200);
    img.setHeight(10);
    img.setBgColor(0x0000FF);
    props.x = 5;
    props.y = 7;
    sSize size;
    ASSERT_TRUE(img.draw(&canvas, props, size));
    EXPECT_EQ(size.w, 200);
    ASSERT_FALSE(canvas.calls.empty());
    EXPECT_EQ(canvas.calls[0].op, "bitmap");
    EXPECT_EQ(canvas.calls[0].x, 5);
    EXPECT_EQ(canvas.calls[0].w, 120);
    EXPECT_TRUE(hasRect(canvas, 125, 7, 80, 10, 0x0000FF));

    // Cut at a limit: only the left part of the picture is drawn.
    std::vector<unsigned int> px(120 * 2);
    for (int i = 0; i < 240; ++i) px[i] = 0xFF000000u | static_cast<unsigned>(i % 120);
    cPicture ramp;
    ASSERT_TRUE(ramp.create(px.data(), 120, 2, false));
    cSiDocImage cut;
    cut.refImage(&ramp);
    cRecordingCanvas c;
    sSiDocDrawProps p2;
    p2.x = 10;
    p2.widthLimit = 60;
    ASSERT_TRUE(cut.draw(&c, p2, size));
    EXPECT_EQ(size.w, 50);
    ASSERT_EQ(c.calls.size(), 1u);
    ASSERT_EQ(c.calls[0].pixels.size(), 100u);
    EXPECT_EQ(c.calls[0].pixels[49] & 0xFFFFFFu, 49u);
    EXPECT_EQ(c.calls[0].pixels[50] & 0xFFFFFFu, 0u);
}

TEST_F(DocLayout, LinksReportEachDrawnWordWithItsCutWidth) {
    char ref[] = "http://x/";
    cSiDocContainer box;
    box.setWidth(100);
    for (const char* w : {"aaaa", "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbb"}) {
        cSiDocLink* l = new cSiDocLink;
        l->setText(w);
        l->refRef(ref);
        box.addChild(l);
    }
    Sink sink;
    props.sink = &sink;
    sSize size;
    ASSERT_TRUE(box.draw(&canvas, props, size));
    EXPECT_EQ(sink.rects, (std::vector<std::tuple<std::string, int, int, int, int> >{
                              {"http://x/", 0, 0, 20, 12}, {"http://x/", 0, 12, 100, 12}}));
}

TEST_F(DocLayout, UnknownAlignmentFailsMeasuringAndDrawing) {
    cSiDocContainer box;
    box.setAlign(static_cast<cSiDocContainer::eAlign>(4));
    box.addChild(word("aa"));
    sSize size;
    EXPECT_FALSE(box.wantsSize(&canvas, props, size));
    EXPECT_FALSE(box.draw(&canvas, props, size));
    EXPECT_TRUE(texts(canvas).empty());
}

// Forty nested boxes, each after a word on a line too narrow for it: each
// is measured where it overflows and again on its own line, 2^40 times for
// the innermost.  The layout gives up instead of running for days.
TEST_F(DocLayout, OverflowingNestedBoxesFailInsteadOfMeasuringForEver) {
    cSiDocContainer root;
    root.setWidth(100);
    cSiDocContainer* level = &root;
    for (int i = 0; i < 40; ++i) {
        level->addChild(word("x"));
        cSiDocContainer* inner = new cSiDocContainer;
        level->addChild(inner);
        level = inner;
    }
    level->addChild(word(std::string(300, 'w').c_str()));
    sSize size;
    EXPECT_FALSE(root.wantsSize(&canvas, props, size));
    EXPECT_FALSE(root.draw(&canvas, props, size));

    // Ten levels stay well within the budget and lay out: every "x" on a
    // line of its own, 12 high, then the wide word.
    cSiDocContainer shallow;
    shallow.setWidth(100);
    level = &shallow;
    for (int i = 0; i < 10; ++i) {
        level->addChild(word("x"));
        cSiDocContainer* inner = new cSiDocContainer;
        level->addChild(inner);
        level = inner;
    }
    level->addChild(word(std::string(300, 'w').c_str()));
    ASSERT_TRUE(shallow.draw(&canvas, props, size));
    EXPECT_EQ(size.h, 11 * 12);
}

TEST_F(DocLayout, CompiledDocumentLaysOutWithItsOwnFont) {
    qortest::TempDir dir;
    qortest::writeFile(dir.file("s.hdl"), "<text w=100 a=r f=fixed,20>ab <b>cd</b></text>");
    qortest::writeFile(dir.file("i.txt"), "ENG=\"./s.hdl\"");
    cMemIOTarget out;
    cHDLParser parser;
    cHDLParser::sErrInfo err;
    ASSERT_TRUE(parser.parse(dir.file("i.txt").c_str(), &out, err)) << err.message.get();
    _typebuf<unsigned char> bytes;
    out.toBuffer(bytes);
    cSiDocLoader loader;
    ASSERT_TRUE(loader.load(bytes.data(), bytes.count()));
    sSize size;
    ASSERT_TRUE(loader.forLang(0)->draw(&canvas, props, size));
    // Size 20: characters 10 wide, a space 10, a line 24 high; the bold word
    // keeps the size (its font is 20 high too).  "ab cd" uses 50 of 100.
    EXPECT_EQ(texts(canvas), (std::vector<Placed>{{"ab", 50, 2}, {"cd", 80, 2}}));
    EXPECT_EQ(size.w, 100);
    EXPECT_EQ(size.h, 24);
}

}  // namespace
