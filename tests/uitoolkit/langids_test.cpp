// Language ids, names and flags.
#include "uitoolkit/langids.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(LangIds, CodesAndNamesByIdWithInvalidIdsRefused) {
    struct Row {
        const char* code;
        const char* shortCode;
        const char* name;
    } rows[11] = {
        {"ENG", "EN", "English"},   {"RUS", "RU", "Русский"}, {"DEU", "DE", "Deutsch"},
        {"JPN", "JP", "日本"},      {"KOR", "KR", "한국어"},   {"FRA", "FR", "Français"},
        {"UKR", "UK", "Українська"}, {"ESP", "ESP", "Español"}, {"CHN", "CH", "简体中文"},
        {"TWN", "TW", "繁體中文"},  {"TUR", "TR", "Türkçe"},
    };
    for (int id = 0; id < 11; ++id) {
        EXPECT_TRUE(ciLangValid(id));
        EXPECT_STREQ(ciLangID(id), rows[id].code);
        EXPECT_STREQ(ciLangID2c(id), rows[id].shortCode);
        EXPECT_STREQ(ciLangName(id), rows[id].name);
    }
    for (int id : {11, 12, -1, -11, 0x7FFFFFFF}) {
        EXPECT_FALSE(ciLangValid(id));
        EXPECT_STREQ(ciLangID(id), "INV");
        EXPECT_STREQ(ciLangID2c(id), "**");
        EXPECT_EQ(ciLangName(id), nullptr);
        EXPECT_EQ(ciLangImage16x11(id), nullptr);
    }
    // The names blob is the built-in one: tag "CIOMLN  ", 196 bytes.
    EXPECT_EQ(ciLangNamesDataSize, 196);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(ciLangNamesData), 16), "CIOMLAFICIOMLN  ");
    // Applying a language does not touch the names.
    cCIOMLang toolkit;
    ASSERT_TRUE(cLibLang::applyLang(lngRUS));
    EXPECT_STREQ(ciLangName(lngTUR), "Türkçe");
    EXPECT_STREQ(cLibLang::gCiomLang.section("ciom::messages")->string(1), "Да");
}

namespace {

struct sRgb {
    int r, g, b;
};
sRgb rgbOf(const cPicture* p, int x, int y) {
    const unsigned int v = p->raw()[static_cast<long long>(y) * p->width() + x];
    return {static_cast<int>((v >> 16) & 255), static_cast<int>((v >> 8) & 255), static_cast<int>(v & 255)};
}
bool isRed(sRgb c) { return c.r > 150 && c.g < 90 && c.b < 90; }
bool isWhite(sRgb c) { return c.r > 200 && c.g > 200 && c.b > 200; }
bool isBlue(sRgb c) { return c.b > 90 && c.r < 60 && c.g < 120; }
bool isYellow(sRgb c) { return c.r > 200 && c.g > 150 && c.b < 60; }
bool isBlack(sRgb c) { return c.r < 40 && c.g < 40 && c.b < 40; }

}  // namespace

TEST(LangFlags, MadeOnFirstRequestCachedAndUprightAtEverySize) {
    EXPECT_EQ(ciLangImages18x14()->count(), 0u);
    cPicture* de = ciLangImage18x14(lngDEU);
    cPicture* fr = ciLangImage18x14(lngFRA);
    ASSERT_NE(de, nullptr);
    ASSERT_NE(fr, nullptr);
    EXPECT_EQ(ciLangImages18x14()->count(), 2u);
    EXPECT_EQ(ciLangImages18x14()->image(lngDEU), de);
    EXPECT_EQ(ciLangImages18x14()->image(lngRUS), nullptr);
    EXPECT_EQ(ciLangImage30x20(3), ciLangImage30x20(3));

    struct Size {
        cPicture* (*get)(int);
        cPicturesList* (*list)();
        const unsigned int* const* pixels;
        int w, h;
    } sizes[] = {{ciLangImage16x11, ciLangImages16x11, icColorDataLangs16x11, 16, 11},
                 {ciLangImage18x14, ciLangImages18x14, icColorDataLangs18x14, 18, 14},
                 {ciLangImage27x22, ciLangImages27x22, icColorDataLangs27x22, 27, 22},
                 {ciLangImage30x20, ciLangImages30x20, icColorDataLangs30x20, 30, 20}};
    for (const Size& s : sizes) {
        for (int id = 0; id < 11; ++id) {
            cPicture* p = s.get(id);
            ASSERT_NE(p, nullptr);
            ASSERT_EQ(p->width(), s.w);
            ASSERT_EQ(p->height(), s.h);
            // The built-in rows are bottom first: the picture's top row is
            // the array's last.
            for (int x = 0; x < s.w; ++x) {
                EXPECT_EQ(p->raw()[x], s.pixels[id][(s.h - 1) * s.w + x]);
                EXPECT_EQ(p->raw()[x] >> 24, 0xFFu);
            }
        }
        EXPECT_EQ(s.list()->count(), 11u);

        // Each flag shows its colours where they belong (inside the frame).
        const int w = s.w, h = s.h, cx = w / 2, cy = h / 2;
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        EXPECT_TRUE(isWhite(rgbOf(s.get(lngRUS), cx, 1)));
        EXPECT_TRUE(isBlue(rgbOf(s.get(lngRUS), cx, cy)));
        EXPECT_TRUE(isRed(rgbOf(s.get(lngRUS), cx, h - 2)));
        EXPECT_TRUE(isBlack(rgbOf(s.get(lngDEU), cx, 1)));
        EXPECT_TRUE(isRed(rgbOf(s.get(lngDEU), cx, cy)));
        EXPECT_TRUE(isYellow(rgbOf(s.get(lngDEU), cx, h - 2)));
        EXPECT_TRUE(isWhite(rgbOf(s.get(lngJPN), 2, 2)));
        EXPECT_TRUE(isRed(rgbOf(s.get(lngJPN), cx, cy)));
        EXPECT_TRUE(isBlue(rgbOf(s.get(lngFRA), 1, cy)));
        EXPECT_TRUE(isWhite(rgbOf(s.get(lngFRA), cx, cy)));
        EXPECT_TRUE(isRed(rgbOf(s.get(lngFRA), w - 2, cy)));
        EXPECT_TRUE(isBlue(rgbOf(s.get(lngUKR), cx, 1)));
        EXPECT_TRUE(isYellow(rgbOf(s.get(lngUKR), cx, h - 2)));
        EXPECT_TRUE(isRed(rgbOf(s.get(lngESP), cx, 1)));
        EXPECT_TRUE(isYellow(rgbOf(s.get(lngESP), cx, cy)));
        EXPECT_TRUE(isRed(rgbOf(s.get(lngCHN), w - 2, h - 2)));
        EXPECT_TRUE(isBlue(rgbOf(s.get(lngTWN), 1, 1)));
        EXPECT_TRUE(isRed(rgbOf(s.get(lngTWN), w - 2, h - 2)));
        EXPECT_TRUE(isRed(rgbOf(s.get(lngTUR), w - 2, 1)));
        EXPECT_TRUE(isWhite(rgbOf(s.get(lngKOR), 1, cy)));
        // The Union flag's centre is the red cross.
        EXPECT_TRUE(isRed(rgbOf(s.get(lngENG), cx, cy)));
    }
}
