// Pasteboards: items and flavours, sharing by name, and the general
// clipboard's text meeting the desktop clipboard both ways.
#include "macshim/pasteboard.h"

#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

std::vector<uint8_t> bytesOf(const std::u16string& s) {
    std::vector<uint8_t> b(s.size() * 2);
    for (size_t i = 0; i < s.size(); ++i) {
        b[2 * i] = uint8_t(s[i] & 0xFF);  // this machine's unit order
        b[2 * i + 1] = uint8_t(s[i] >> 8);
    }
    return b;
}

class PasteboardTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("SDL_VIDEODRIVER", "offscreen", 0);
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0);
    }
};

TEST_F(PasteboardTest, ItemsAndFlavoursAreSharedByName) {
    MSPasteboardRef a = nullptr, b = nullptr, other = nullptr;
    EXPECT_EQ(MSPasteboardCreate(nullptr, &a), msPasteboardBadName);
    EXPECT_EQ(MSPasteboardCreate("", &a), msPasteboardBadName);
    ASSERT_EQ(MSPasteboardCreate("test.board", &a), msPasteboardNoErr);
    ASSERT_EQ(MSPasteboardCreate("test.board", &b), msPasteboardNoErr);
    ASSERT_EQ(MSPasteboardCreate("test.other", &other), msPasteboardNoErr);
    const uint8_t raw[] = {0, 1, 2, 0xFF};
    ASSERT_EQ(MSPasteboardPutItemFlavor(a, 1, kMSFlavorRaw, raw, sizeof raw), msPasteboardNoErr);
    ASSERT_EQ(MSPasteboardPutItemFlavor(a, 7, "x.two", raw, 2), msPasteboardNoErr);
    size_t n = 0;
    ASSERT_EQ(MSPasteboardGetItemCount(b, &n), msPasteboardNoErr);
    EXPECT_EQ(n, 2u);
    MSPasteboardItemID id = 0;
    EXPECT_EQ(MSPasteboardGetItemIdentifier(b, 2, &id), msPasteboardNoErr);
    EXPECT_EQ(id, 7u);
    EXPECT_EQ(MSPasteboardGetItemIdentifier(b, 0, &id), msPasteboardBadIndex);
    EXPECT_EQ(MSPasteboardGetItemIdentifier(b, 3, &id), msPasteboardBadIndex);
    std::vector<uint8_t> out{9};
    ASSERT_EQ(MSPasteboardCopyItemFlavorData(b, 1, kMSFlavorRaw, out), msPasteboardNoErr);
    EXPECT_EQ(out, std::vector<uint8_t>(raw, raw + 4));
    EXPECT_EQ(MSPasteboardCopyItemFlavorData(b, 1, kMSFlavorUTF16Text, out), msPasteboardBadFlavor);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(MSPasteboardCopyItemFlavorData(b, 2, kMSFlavorRaw, out), msPasteboardBadItem);
    ASSERT_EQ(MSPasteboardGetItemCount(other, &n), msPasteboardNoErr);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(MSPasteboardSynchronize(a), 0u);  // private boards never change elsewhere
    ASSERT_EQ(MSPasteboardClear(b), msPasteboardNoErr);
    ASSERT_EQ(MSPasteboardGetItemCount(a, &n), msPasteboardNoErr);
    EXPECT_EQ(n, 0u);
    MSPasteboardRelease(a);
    MSPasteboardRelease(b);
    MSPasteboardRelease(other);
}

TEST_F(PasteboardTest, GeneralClipboardMeetsTheDesktop) {
    MSPasteboardRef c = nullptr;
    ASSERT_EQ(MSPasteboardCreate(kMSPasteboardClipboard, &c), msPasteboardNoErr);
    MSPasteboardSynchronize(c);
    ASSERT_EQ(MSPasteboardClear(c), msPasteboardNoErr);
    auto text = bytesOf(u"h\u00e9llo \U0001F600");
    ASSERT_EQ(MSPasteboardPutItemFlavor(c, 1, kMSFlavorUTF16Text, text.data(), text.size()), msPasteboardNoErr);
    char* desk = SDL_GetClipboardText();
    EXPECT_STREQ(desk, "h\xC3\xA9llo \xF0\x9F\x98\x80");
    SDL_free(desk);
    EXPECT_EQ(MSPasteboardSynchronize(c), 0u);  // our own text: nothing changed

    // Another program copies: a synchronise replaces the item.
    const uint8_t raw[] = {1, 2, 3};
    ASSERT_EQ(MSPasteboardPutItemFlavor(c, 1, kMSFlavorRaw, raw, 3), msPasteboardNoErr);
    ASSERT_EQ(SDL_SetClipboardText("\xD0\x9F\xD1\x80\xD0\xB8"), 0);
    EXPECT_EQ(MSPasteboardSynchronize(c), unsigned(msPasteboardModified));
    size_t n = 0;
    MSPasteboardGetItemCount(c, &n);
    EXPECT_EQ(n, 1u);
    std::vector<uint8_t> out;
    ASSERT_EQ(MSPasteboardCopyItemFlavorData(c, 1, kMSFlavorUTF16Text, out), msPasteboardNoErr);
    EXPECT_EQ(out, bytesOf(u"\u041f\u0440\u0438"));
    EXPECT_EQ(MSPasteboardCopyItemFlavorData(c, 1, kMSFlavorRaw, out), msPasteboardBadFlavor);

    ASSERT_EQ(MSPasteboardClear(c), msPasteboardNoErr);
    EXPECT_FALSE(SDL_HasClipboardText());
    MSPasteboardRelease(c);
}

}  // namespace
