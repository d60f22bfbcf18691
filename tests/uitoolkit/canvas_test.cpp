// The canvas operations built on the abstract ones, drawn on a recording
// canvas with the fixed-metric font (size 10: 5 pixels per Latin unit, 10
// per CJK unit, lines 10 high, wrapped lines 12 apart at the factor 1.2).
// Expected calls come from small models written here or from rows worked
// out by hand from those metrics.
#include "recordingcanvas.h"

#include "fuzzreplay.h"

#define FUZZ_FAIL(message) throw qortest::FuzzFailure(message)
#define QOR_UITESTSUPPORT_LINKED
#define LLVMFuzzerTestOneInput fuzzWrappedText
#include "../../fuzz/FuzzWrappedText.cpp"
#undef LLVMFuzzerTestOneInput

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

using qortest::cRecordingCanvas;
using qortest::sDrawCall;

namespace {

struct sText {
    std::string text;
    int x, y;
    bool operator==(const sText& o) const { return text == o.text && x == o.x && y == o.y; }
};

std::ostream& operator<<(std::ostream& os, const sText& t) { return os << "{" << t.text << " " << t.x << "," << t.y << "}"; }

std::vector<sText> texts(const cRecordingCanvas& c) {
    std::vector<sText> out;
    for (const sDrawCall& d : c.calls)
        if (d.op == "text") out.push_back({d.text, d.x, d.y});
    return out;
}

std::u16string u16(const char* s) { return qortest::utf16(s); }
const unsigned short* us(const std::u16string& s) { return reinterpret_cast<const unsigned short*>(s.c_str()); }

}  // namespace

TEST(CanvasTextLimited, MatchesTheCutAndPlacementModelForEveryBoxWidth) {
    // "Hello" is 25 pixels, "..." 15; margins 2 and 3.
    for (int align = 0; align <= 3; ++align) {
        for (int w = 1; w <= 40; ++w) {
            cRecordingCanvas c;
            long long drawn = -7;
            const int r = c.drawTextLimited(100, 50, w, 16, align, true, 2, 3, "Hello", -1, &drawn, false);
            const int a = w - 5;
            SCOPED_TRACE(testing::Message() << "align " << align << " w " << w);
            if (a <= 0 || (a < 25 && a < 15)) {
                EXPECT_EQ(r, -1);
                EXPECT_TRUE(c.calls.empty());
                continue;
            }
            std::string shown = "Hello";
            int tw = 25;
            if (a < 25) {
                const int k = (a - 15) / 5;
                shown = std::string("Hello").substr(0, k) + "...";
                tw = 15 + 5 * k;
            }
            int tx = 102;
            if (align == 2) tx = std::max(102, 102 + a - 1 - tw);
            if (align == 1) tx = 102 + (a - tw) / 2;
            EXPECT_EQ(r, tx);
            EXPECT_EQ(drawn, tw);
            ASSERT_EQ(texts(c), (std::vector<sText>{{shown, tx, 53}}));
        }
    }
}

TEST(CanvasTextLimited, FillsTheBoxAroundTheTextWithTheBackground) {
    cRecordingCanvas c;
    c.setTextColors(0x000000, 0x123456);
    // Box x 10..60, margins 2 and 3: a = 45, "abc" 15 wide centred at 27;
    // 6 spare rows, 3 above and 3 below.
    EXPECT_EQ(c.drawTextLimited(10, 20, 50, 16, 1, false, 2, 3, "abc", -1, nullptr, true), 27);
    std::vector<std::vector<int>> rects;
    for (const sDrawCall& d : c.calls)
        if (d.op == "rect") {
            EXPECT_EQ(d.fill, 0x123456u);
            EXPECT_EQ(d.border, 0x123456u);
            rects.push_back({d.x, d.y, d.w, d.h});
        }
    EXPECT_EQ(rects, (std::vector<std::vector<int>>{{12, 20, 15, 16}, {27, 20, 15, 3}, {27, 33, 15, 3}, {42, 20, 15, 16}}));
    // Transparent text fills nothing.
    cRecordingCanvas t;
    t.drawTextLimited(10, 20, 50, 16, 1, true, 2, 3, "abc", -1, nullptr, true);
    EXPECT_EQ(t.calls.size(), 1u);
}

TEST(CanvasTextLimited, NeverSplitsASurrogatePairAndRefusesWhatCannotBeDrawn) {
    // a b <U+1F600> c d: advances 5 10 10 20 25 30; 25 available leaves
    // room for 10 pixels before "...", which would end inside the pair.
    cRecordingCanvas c;
    long long drawn = 0;
    EXPECT_EQ(c.drawTextLimited(0, 0, 25, 10, 0, true, 0, 0, "ab\xF0\x9F\x98\x80" "cd", -1, &drawn, false), 0);
    EXPECT_EQ(texts(c), (std::vector<sText>{{"ab...", 0, 0}}));
    EXPECT_EQ(drawn, 25);

    cRecordingCanvas d;
    EXPECT_EQ(d.drawTextLimited(0, 0, 14, 10, 0, true, 0, 0, "Hello", -1, nullptr, false), -1);  // "..." needs 15
    EXPECT_EQ(d.drawTextLimited(0, 0, 40, 10, 0, true, 20, 20, "Hello", -1, nullptr, false), -1);
    EXPECT_EQ(d.drawTextLimited(0, 0, 40, 10, 0, true, -1, 0, "Hello", -1, nullptr, false), -1);
    EXPECT_EQ(d.drawTextLimited(0, 0, 40, 10, 0, true, 0, 0, static_cast<const char*>(nullptr), -1, nullptr, false), -1);
    EXPECT_EQ(d.drawTextLimited(5, 0, 40, 10, 0, true, 0, 0, "", -1, nullptr, false), 0);
    EXPECT_TRUE(d.calls.empty());
    d.failText = true;
    EXPECT_EQ(d.drawTextLimited(0, 0, 40, 10, 0, true, 0, 0, "Hi", -1, nullptr, false), -1);
    // A length shorter than the text draws only that prefix.
    cRecordingCanvas e;
    e.drawTextLimited(0, 0, 100, 10, 0, true, 0, 0, "Hello", 2, nullptr, false);
    EXPECT_EQ(texts(e), (std::vector<sText>{{"He", 0, 0}}));
}

// Left, centred, right and justified wrapping of words separated by single
// spaces, against a word-level model: words go on a line while they fit
// after one space; justified lines (all but the last) widen each space by
// (w - L) / spaces.  Samples where a line would end at a space after a
// lone word (the next line then opens with that space) are left to the
// hand-worked cases.
TEST(CanvasTextWrapped, MatchesAWordLevelModelOnRandomTexts) {
    std::mt19937 rng(7);
    int checked = 0;
    for (int sample = 0; sample < 600; ++sample) {
        const int w = 20 + static_cast<int>(rng() % 60);
        const int align = static_cast<int>(rng() % 4);
        std::vector<std::string> words;
        const int n = 1 + static_cast<int>(rng() % 9);
        for (int k = 0; k < n; ++k) words.push_back(std::string(1 + rng() % (w / 5), static_cast<char>('a' + k)));

        std::vector<std::vector<std::string>> lines(1);
        std::vector<int> widths(1, 0);
        bool modelled = true;
        for (const std::string& word : words) {
            const int ww = 5 * static_cast<int>(word.size());
            if (lines.back().empty()) {
                lines.back().push_back(word);
                widths.back() = ww;
            } else if (widths.back() + 5 > w && (lines.back().size() == 1 || align == 1 || align == 2)) {
                modelled = false;
                break;
            } else if (widths.back() + 5 + ww <= w) {
                lines.back().push_back(word);
                widths.back() += 5 + ww;
            } else {
                lines.push_back({word});
                widths.push_back(ww);
            }
        }
        if (!modelled) continue;
        ++checked;

        std::string text;
        for (std::size_t k = 0; k < words.size(); ++k) text += (k ? " " : "") + words[k];
        std::vector<sText> expected;
        int widest = 0;
        for (std::size_t l = 0; l < lines.size(); ++l) {
            const int L = widths[l];
            const int spaces = static_cast<int>(lines[l].size()) - 1;
            int unit = 5;
            if (align == 3 && spaces > 0 && l + 1 < lines.size()) unit += (w - L) / spaces;
            int off = align == 1 ? (w - L) / 2 : align == 2 ? w - L : 0;
            for (const std::string& word : lines[l]) {
                expected.push_back({word, 30 + off, 40 + 12 * static_cast<int>(l)});
                off += 5 * static_cast<int>(word.size()) + unit;
            }
            // A last word pushed to a line of its own counts by its width.
            const bool alone = l > 0 && l + 1 == lines.size() && lines[l].size() == 1;
            widest = std::max(widest, alone ? L : off - unit);
        }
        cRecordingCanvas c;
        sSize used;
        ASSERT_TRUE(c.drawTextWrapped(30, 40, w, 10, align, text.c_str(), used, true, 0));
        SCOPED_TRACE(text + " w " + std::to_string(w) + " align " + std::to_string(align));
        EXPECT_EQ(texts(c), expected);
        EXPECT_EQ(used.w, widest);
        EXPECT_EQ(used.h, 12 * static_cast<int>(lines.size()));
    }
    EXPECT_GT(checked, 200);
}

TEST(CanvasTextWrapped, HandWorkedLayouts) {
    struct Row {
        const char* text;
        int w, align;
        std::vector<sText> expected;
        int usedW, usedH;
    } rows[] = {
        // Two 10-wide words and a 5-wide space.
        {"ab cd", 20, 0, {{"ab", 0, 0}, {"cd", 0, 12}}, 10, 24},
        // The space that does not fit opens line 2, where "cd" does not fit
        // after it: an empty middle line.
        {"ab cd", 12, 0, {{"ab", 0, 0}, {"cd", 0, 24}}, 10, 36},
        // Last word that does not fit: a line of its own, centred.
        {"ab cd", 20, 1, {{"ab", 5, 0}, {"cd", 5, 12}}, 15, 24},
        // A tab is four spaces; a line feed breaks even when both fit.
        {"a\tb", 100, 0, {{"a", 0, 0}, {"b", 25, 0}}, 30, 12},
        {"ab  \ncd", 100, 0, {{"ab", 0, 0}, {"cd", 0, 12}}, 10, 24},
        {"ab\n\ncd", 100, 0, {{"ab", 0, 0}, {"cd", 0, 24}}, 10, 36},
        // Justified: the line ended by a line feed keeps plain spaces.
        {"a b c\nd e", 16, 3, {{"a", 0, 0}, {"b", 11, 0}, {"c", 0, 12}, {"d", 0, 24}, {"e", 10, 24}}, 16, 36},
        // Japanese breaks only after the ideographic comma and full stop.
        {"日本語、テスト。終わり", 50, 0, {{"日本語、", 0, 0}, {"テスト。", 0, 12}, {"終わり", 0, 24}}, 40, 36},
        {"日本語、テスト。終わり", 110, 0, {{"日本語、", 0, 0}, {"テスト。", 40, 0}, {"終わり", 80, 0}}, 110, 12},
        // A space run wider than the box is clipped away; the rest is drawn.
        {"ab                              cd ef", 50, 0, {{"ab", 0, 0}, {"cd", 0, 12}, {"ef", 15, 12}}, 25, 24},
        {"ab                              cd", 50, 3, {{"ab", 0, 0}, {"cd", 0, 12}}, 10, 24},
        // The word after a skipped space run opens the last line and is drawn.
        {"aa bb cc", 27, 0, {{"aa", 0, 0}, {"bb", 15, 0}, {"cc", 0, 12}}, 25, 24},
        // A first word wider than the box opens the first line, not a
        // second one after an empty line (the blank run that did not fit
        // after it opens line 2).
        {"abcdefgh ij", 20, 0, {{"abcdefgh", 0, 0}, {"ij", 5, 12}}, 40, 24},
        {"abcdefgh", 20, 2, {{"abcdefgh", -20, 0}}, 20, 12},
        // No width limit: centred and right-aligned text is laid out left.
        {"ab cd", cCanvas::kNoWidthLimit, 1, {{"ab", 0, 0}, {"cd", 15, 0}}, 25, 12},
        {"ab cd\nxyz", -1, 2, {{"ab", 0, 0}, {"cd", 15, 0}, {"xyz", 0, 12}}, 25, 24},
    };
    for (const Row& r : rows) {
        cRecordingCanvas c;
        sSize used;
        SCOPED_TRACE(r.text);
        ASSERT_TRUE(c.drawTextWrapped(0, 0, r.w, 10, r.align, r.text, used, true, 0));
        EXPECT_EQ(texts(c), r.expected);
        EXPECT_EQ(used.w, r.usedW);
        EXPECT_EQ(used.h, r.usedH);
    }
}

TEST(CanvasTextWrapped, RefusalsAndLineSpacing) {
    cRecordingCanvas c;
    sSize used;
    EXPECT_FALSE(c.drawTextWrapped(0, 0, 0, 10, 0, "ab", used, true, 0));
    EXPECT_FALSE(c.drawTextWrapped(0, 0, 10, 0, 0, "ab", used, true, 0));
    EXPECT_FALSE(c.drawTextWrapped(0, 0, 10, 9, 0, "ab", used, true, 0));   // a space is 10 high
    EXPECT_FALSE(c.drawTextWrapped(0, 0, 4, 10, 0, "ab", used, true, 0));   // and 5 wide
    EXPECT_FALSE(c.drawTextWrapped(0, 0, 10, 10, 0, "", used, true, 0));
    EXPECT_FALSE(c.drawTextWrapped(0, 0, 10, 10, 0, static_cast<const char*>(nullptr), used, true, 0));
    EXPECT_TRUE(c.calls.empty());

    ASSERT_TRUE(c.drawTextWrapped(0, 0, 10, 10, 0, "ab\ncd", used, true, 2.0));
    EXPECT_EQ(texts(c), (std::vector<sText>{{"ab", 0, 0}, {"cd", 0, 20}}));
    EXPECT_EQ(used.h, 40);

    auto before = __setTextWrapYFactorHook([] { return 1.5; });
    cRecordingCanvas d;
    ASSERT_TRUE(d.drawTextWrapped(0, 0, 10, 10, 0, us(u16("ab\ncd")), used, true, 0));
    __setTextWrapYFactorHook(before);
    EXPECT_EQ(texts(d), (std::vector<sText>{{"ab", 0, 0}, {"cd", 0, 15}}));
}

TEST(CanvasTokenizer, WordsBlanksAndBreaksInBothWidths) {
    cRecordingCanvas c;
    cFasterTreeList<int, cCanvas::cTokenizedW> w;
    ASSERT_TRUE(c.tokenizeString(us(u16("ab \t\r x  \ny。z")), -1, w));
    std::vector<std::pair<std::string, int>> got;
    for (auto* it = w.first(); it; it = w.next(it))
        got.push_back({it->value.text.get() ? qortest::utf8(reinterpret_cast<const char16_t*>(it->value.text.get())) : "",
                       it->value.value});
    EXPECT_EQ(got, (std::vector<std::pair<std::string, int>>{{"ab", 10}, {"", 7}, {"x", 5}, {"", 0}, {"y。", 15}, {"z", 5}}));

    cFasterTreeList<int, cCanvas::cTokenizedA> a;
    ASSERT_TRUE(c.tokenizeString("ab\t\ny。z", -1, a));
    std::vector<std::pair<std::string, int>> gotA;
    for (auto* it = a.first(); it; it = a.next(it))
        gotA.push_back({it->value.text.get() ? it->value.text.get() : "", it->value.value});
    EXPECT_EQ(gotA, (std::vector<std::pair<std::string, int>>{{"ab", 10}, {"", 0}, {"y。z", 20}}));
}

TEST(CanvasFonts, OneFontPerDescriptionOwnedByTheStore) {
    qortest::cFixedFont::install();
    cFontObject* a = cFontObject::get(6, 14, "Tahoma", true, false, false);
    ASSERT_NE(a, nullptr);
    std::string face = "Taho";
    face += "ma";  // another buffer with the same bytes
    EXPECT_EQ(cFontObject::get(6, 14, face.c_str(), true, false, false), a);
    EXPECT_NE(cFontObject::get(6, 14, "Verdana", true, false, false), a);
    EXPECT_NE(cFontObject::get(6, 14, "Tahoma", true, true, false), a);
    EXPECT_NE(cFontObject::get(6, 14, "Tahoma", true, false, true), a);
    EXPECT_NE(cFontObject::get(5, 14, "Tahoma", true, false, false), a);
    EXPECT_EQ(a->size(), 14);
    EXPECT_STREQ(a->face(), "Tahoma");
    EXPECT_TRUE(a->bold());

    int before = 0;
    for (cListItem* i = cFontObject::myFontsStore.head; i; i = i->next) ++before;
    EXPECT_EQ(cFontObject::get(5, 13, "missing", false, false, false), nullptr);
    EXPECT_EQ(cFontObject::get(5, 13, nullptr, false, false, false), nullptr);
    auto maker = __setNewPlatformCPFont(nullptr);
    EXPECT_EQ(cFontObject::get(5, 99, "Tahoma", false, false, false), nullptr);
    __setNewPlatformCPFont(maker);
    int after = 0;
    for (cListItem* i = cFontObject::myFontsStore.head; i; i = i->next) ++after;
    EXPECT_EQ(after, before);
    cFontObject::sKey key{6, 14, nullptr, true, false, false};
    EXPECT_FALSE(a->eq(&key));
    EXPECT_FALSE(a->eq(nullptr));
}

TEST(CanvasArea, InDrawAreaCountsTouchingEdgesAsInside) {
    cRecordingCanvas c(100, 50);
    struct { sRect r; bool in; } rows[] = {
        {{-11, 0, 10, 5}, false}, {{-10, 0, 10, 5}, true}, {{100, 0, 5, 5}, true}, {{101, 0, 5, 5}, false},
        {{0, -6, 5, 5}, false},   {{0, -5, 5, 5}, true},   {{0, 50, 5, 5}, true},  {{0, 51, 5, 5}, false},
    };
    for (auto& row : rows) EXPECT_EQ(c.inDrawArea(&row.r), row.in) << row.r.x << "," << row.r.y;
    EXPECT_FALSE(c.inDrawArea(nullptr));
}

TEST(CanvasBitmapResized, ResamplesOnlyTheVisiblePart) {
    cPicture pic;
    std::vector<unsigned int> px(16);
    for (int i = 0; i < 16; ++i) px[i] = 0xFF000000u | (i * 0x0F0F0F);
    ASSERT_TRUE(pic.create(px.data(), 4, 4, false));

    // At its own size, partly left of and above the canvas: the visible
    // pixels unchanged.
    cRecordingCanvas c(3, 3);
    ASSERT_TRUE(c.drawBitmapResized(&pic, 4, 4, -1, -2, cPicture::rmStretch));
    ASSERT_EQ(c.calls.size(), 1u);
    EXPECT_EQ(c.calls[0].x, 0);
    EXPECT_EQ(c.calls[0].y, 0);
    EXPECT_EQ(c.calls[0].w, 3);
    EXPECT_EQ(c.calls[0].h, 2);
    std::vector<unsigned int> want;
    for (int y = 2; y < 4; ++y)
        for (int x = 1; x < 4; ++x) want.push_back(px[y * 4 + x]);
    EXPECT_EQ(c.calls[0].pixels, want);

    // Doubled by area averaging, cut by two pixels on each side: each
    // picture pixel becomes a 2 x 2 block.
    cRecordingCanvas d(6, 6);
    ASSERT_TRUE(d.drawBitmapResized(&pic, 8, 8, -2, -2, cPicture::rmScaling));
    ASSERT_EQ(d.calls.size(), 1u);
    want.clear();
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) want.push_back(px[((y + 2) / 2) * 4 + (x + 2) / 2]);
    EXPECT_EQ(d.calls[0].pixels, want);

    cRecordingCanvas e(6, 6);
    EXPECT_FALSE(e.drawBitmapResized(&pic, 8, 8, 6, 0, cPicture::rmStretch));
    EXPECT_FALSE(e.drawBitmapResized(&pic, 8, 8, -8, 0, cPicture::rmStretch));
    EXPECT_FALSE(e.drawBitmapResized(nullptr, 8, 8, 0, 0, cPicture::rmStretch));
    EXPECT_TRUE(e.calls.empty());
}

TEST(CanvasText, SavedFuzzInputsReplay) {
    qortest::replayFolder("wrappedtext/malformed", fuzzWrappedText, 1);
}
