// Static texts: where the text and the image land for each display mode and
// alignment, the dimmed colour of a disabled element, the size it asks for.
#include "recordingcanvas.h"
#include "testwindow.h"
#include "uitoolkit/static.h"
#include "uitoolkit/theme.h"

#include <gtest/gtest.h>

using qortest::cRecordingCanvas;
using qortest::cTestWindowTarget;

namespace {

struct sFixture {
    sFixture() {
        qortest::cFixedFont::install();
        cCITheme::setTheme(gCI_Flat_Theme);
        win.bind(&root, 300, 200);
    }
    cTestWindowTarget win;
    cChildElement root;
};

std::vector<qortest::sDrawCall> only(const std::vector<qortest::sDrawCall>& calls, const std::string& op) {
    std::vector<qortest::sDrawCall> out;
    for (auto& c : calls)
        if (c.op == op) out.push_back(c);
    return out;
}

}  // namespace

TEST(StaticElement, TextAndImagePlacesByModeAndAlignment) {
    sFixture f;
    cPicture image;
    ASSERT_TRUE(image.create(0xFF00FF00u, 10, 10));
    // Element 100 x 20; the standard font draws 6 pixels a character, 13 high.
    struct sCase {
        int mode, align, margin;
        bool withImage;
        const char* text;
        int textX, textY;   // -1: no text drawn
        int imageX;         // image at (imageX, 5)
    };
    const sCase cases[] = {
        {1, 0, 0, false, "abcd", 3, 3, 0},
        {1, 0, 4, false, "abcd", 7, 3, 0},
        {1, 1, 0, false, "abcd", 38, 3, 0},
        {1, 2, 0, false, "abcd", 73, 3, 0},
        {1, 2, 6, false, "abcd", 67, 3, 0},
        {1, 1, 0, true, "abcd", 45, 3, 30},
        {1, 2, 0, true, "abcd", 73, 3, 58},
        // Wider than the box: drawn from the left whatever the alignment.
        {1, 2, 0, false, "abcdefghijklmnopqrstuvwxyz", 3, 3, 0},
        {1, 0, 0, true, "abcd", 18, 3, 3},
        {0, 0, 0, false, "abcd", 3, 3, 0},
        {0, 0, 0, true, "abcd", 18, 3, 3},
        {2, 0, 0, false, "abcd", 3, 3, 0},
    };
    for (const sCase& c : cases) {
        cStaticElement s;
        f.root.attach(&s, 0, 0, 100, 20);
        s.setText(const_cast<char*>(c.text), static_cast<cCanvas::eTextAlign>(c.align), false);
        s.setTextDispMode(static_cast<cStaticElement::eTextDisplayModes>(c.mode));
        s.setTextMargin(c.margin);
        if (c.withImage) s.setImage(&image, false);
        cRecordingCanvas canvas(100, 20);
        s.onPaint(&canvas);
        auto rects = only(canvas.calls, "rect");
        ASSERT_EQ(rects.size(), 1u);
        EXPECT_EQ(rects[0].fill, cCITheme::theme()->getColor(14));
        EXPECT_EQ(rects[0].border, cCITheme::theme()->getColor(20));
        auto texts = only(canvas.calls, "text");
        ASSERT_EQ(texts.size(), 1u) << c.mode << "/" << c.align << " " << c.text;
        EXPECT_EQ(texts[0].text, c.text);
        EXPECT_EQ(texts[0].x, c.textX) << c.mode << "/" << c.align << "/" << c.margin;
        EXPECT_EQ(texts[0].y, c.textY) << c.mode << "/" << c.align << "/" << c.margin;
        EXPECT_EQ(texts[0].color, cCITheme::theme()->getColor(4));
        auto images = only(canvas.calls, "alpha");
        ASSERT_EQ(images.size(), c.withImage ? 1u : 0u);
        if (c.withImage) {
            EXPECT_EQ(images[0].x, c.imageX) << c.mode << "/" << c.align;
            EXPECT_EQ(images[0].y, 5);
        }
        f.root.dettach(&s);
    }
}

TEST(StaticElement, DisabledTransparentLowAndEmptyElements) {
    sFixture f;
    cStaticElement s;
    f.root.attach(&s, 0, 0, 100, 20);
    s.setText(const_cast<char*>("x"), cCanvas::taLeft, false);
    struct sColour {
        unsigned int in, out;
    };
    for (sColour c : {sColour{0x000000, 0x626262}, sColour{0xFFFFFF, 0xE1E1E1}, sColour{0x10FF00, 0x6AE162}}) {
        s.setTextColor(c.in);
        s.disable(false);
        cRecordingCanvas canvas(100, 20);
        s.onPaint(&canvas);
        auto texts = only(canvas.calls, "text");
        ASSERT_EQ(texts.size(), 1u);
        EXPECT_EQ(texts[0].color, c.out) << std::hex << c.in;
        s.enable();
        cRecordingCanvas lit(100, 20);
        s.onPaint(&lit);
        EXPECT_EQ(only(lit.calls, "text")[0].color, c.in);
    }
    // Transparent: no background; wrapped text in an element 6 high: nothing.
    s.setTransparent(true);
    s.setTextDispMode(cStaticElement::tdmWrapped);
    s.move(0, 0, 100, 6);
    cRecordingCanvas low(100, 6);
    s.onPaint(&low);
    EXPECT_TRUE(low.calls.empty()) << qortest::dumpCalls(low.calls);
    s.move(0, 0, 100, 20);
    cRecordingCanvas seven(100, 20);
    s.onPaint(&seven);
    EXPECT_EQ(only(seven.calls, "text").size(), 1u);
    // Spacing: negative ignored, otherwise 1 + extra.
    s.setYWrapAddSpacing(-1);
    EXPECT_DOUBLE_EQ(s.lineSpacing(), 1.2);
    s.setYWrapAddSpacing(0.5);
    EXPECT_DOUBLE_EQ(s.lineSpacing(), 1.5);
    EXPECT_FALSE(s.wantAcceptFoucs());
}

TEST(StaticElement, WantedSize) {
    sFixture f;
    cPicture image;
    ASSERT_TRUE(image.create(0xFF000000u, 16, 12));
    struct sCase {
        const char* text;
        bool withImage;
        int margin;
        int w, h;
    };
    // Texts are 6 pixels a character and 13 high in the standard font.
    const sCase cases[] = {
        {"", false, 0, 6, 0},      {"", false, 7, 13, 0},     {"abc", false, 0, 24, 15},
        {"", true, 0, 27, 16},     {"abc", true, 2, 47, 16},  {"abcdefgh", false, 1, 55, 15},
    };
    for (const sCase& c : cases) {
        cStaticElement s;
        f.root.attach(&s, 0, 0, 50, 20);
        s.setText(const_cast<char*>(c.text), cCanvas::taLeft, false);
        s.setTextMargin(c.margin);
        if (c.withImage) s.setImage(&image, false);
        sSize sz;
        ASSERT_TRUE(s.wantsSize(&sz));
        EXPECT_EQ(sz.w, c.w) << c.text << " " << c.withImage;
        EXPECT_EQ(sz.h, c.h) << c.text << " " << c.withImage;
        f.root.dettach(&s);
    }
    cStaticElement s;
    EXPECT_FALSE(s.wantsSize(nullptr));
}
