// The two built-in themes against their published tables (slot sizes,
// dimensions, colours), their pictures against zlib's own inflate of the
// packed form, and the lifetime of pictures across setTheme.
#include "uitoolkit/theme.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <set>
#include <vector>

namespace {

// Slot sizes as published: ranges of slots with their default and flat
// width and height.
struct SizeRange {
    int first, last, dw, dh, fw, fh;
};
const SizeRange kSizes[] = {
    {0, 0, 5, 30, 1, 1},     {1, 1, 1, 30, 1, 1},     {2, 2, 5, 30, 1, 1},     {3, 4, 5, 1, 1, 1},
    {5, 5, 8, 40, 1, 1},     {6, 6, 1, 40, 1, 1},     {7, 7, 8, 40, 1, 1},     {8, 9, 8, 8, 10, 10},
    {10, 11, 3, 24, 1, 1},   {12, 13, 1, 18, 1, 1},   {14, 14, 1, 3, 1, 3},    {15, 16, 11, 17, 12, 14},
    {17, 22, 12, 14, 12, 14}, {23, 27, 1, 20, 1, 1},  {28, 29, 7, 7, 7, 7},    {30, 35, 10, 10, 12, 12},
    {36, 41, 11, 11, 11, 11}, {42, 65, 18, 18, 18, 18}, {66, 67, 8, 9, 6, 6},  {68, 69, 8, 9, 9, 9},
    {70, 71, 8, 9, 8, 9},    {72, 72, 5, 10, 5, 10},  {73, 76, 27, 27, 27, 27}, {77, 78, 20, 16, 16, 16},
    {79, 79, 14, 14, 16, 16}, {80, 85, 20, 16, 16, 16}, {86, 86, 14, 14, 16, 16}, {87, 87, 4, 14, 0, 0},
    {88, 93, 1, 14, 1, 2},   {94, 99, 2, 14, 0, 0},   {100, 105, 10, 14, 15, 15}, {106, 109, 1, 14, 1, 2},
    {110, 115, 6, 14, 6, 15}, {116, 116, 14, 4, 0, 0}, {117, 122, 14, 1, 2, 1}, {123, 128, 14, 2, 0, 0},
    {129, 134, 14, 10, 15, 15}, {135, 138, 14, 1, 1, 2}, {139, 144, 14, 6, 15, 6}, {145, 146, 6, 6, 6, 6},
    {147, 150, 10, 10, 8, 8}, {151, 156, 14, 14, 14, 14},
};

// Flat slots without pixels: plain colours and absent pieces.
struct FlatColour {
    int first, last;
    unsigned int colour;
};
const FlatColour kFlatColours[] = {{0, 7, 0x000000}, {10, 11, 0xADAEAD}, {14, 14, 0xFFFFFF}, {86, 86, 0xFFFFFF}};
const int kFlatAbsent[] = {87, 94, 95, 96, 97, 98, 99, 116, 123, 124, 125, 126, 127, 128};

struct Dim {
    int fv, fmin, fmax, dv, dmin, dmax;
};
// Index by index: flat {value, min, max}, default {value, min, max}.
const Dim kDims[25] = {
    {31, 0, 100, 30, 16, 100}, {2, 0, 20, 5, 0, 20},     {40, 0, 80, 40, 16, 80},  {1, 0, 10, 5, 0, 10},
    {2, 0, 10, 5, 0, 10},      {28, 0, 16, 22, 0, 10},   {48, 0, 50, 44, 0, 50},   {28, 0, 40, 24, 0, 40},
    {5, 0, 20, 16, 0, 20},     {10, 0, 20, 10, 0, 20},   {14, 0, 20, 7, 0, 10},    {8, 0, 10, 5, 0, 10},
    {8, 0, 10, 3, 0, 10},      {30, 16, 40, 24, 24, 40}, {16, 0, 16, 7, 0, 10},    {10, 10, 16, 14, 10, 16},
    {1, 1, 5, 3, 1, 5},        {12, 12, 24, 12, 12, 24}, {16, 12, 19, 20, 12, 24}, {15, 10, 20, 14, 10, 20},
    {30, 10, 40, 20, 10, 40},  {48, 32, 100, 48, 32, 100}, {12, 12, 30, 12, 12, 30}, {22, 18, 32, 18, 18, 24},
    {22, 22, 24, 18, 18, 24},
};

// Index by index: {flat, default}.
const unsigned int kColours[62][2] = {
    {0xFFFFFF, 0xF3E5DF}, {0xFFFFFF, 0xF3E5DF}, {0xF3F3F3, 0xF3E5DF}, {0xFFFFFF, 0xF3E5DF}, {0x000000, 0x404040},
    {0x808080, 0x808080}, {0x606060, 0x606060}, {0xFF4040, 0xFF4040}, {0xA0A0A0, 0xA0A0A0}, {0x000000, 0xFFFFFF},
    {0xFFFFFF, 0xFFFFFF}, {0xFFFFFF, 0xF0FFFF}, {0xC0C0C0, 0xC0C0C0}, {0xAB9E7F, 0x404040}, {0xFFFFFF, 0xFFFFFF},
    {0xF3EDE3, 0xFCF6F0}, {0xECE2DA, 0xFF9933}, {0xCDA45E, 0xFF9933}, {0xE8E8E8, 0xF1EBE5}, {0xF1EBE5, 0xF1EBE5},
    {0xFFFFFF, 0xFFFFFF}, {0xC0C0C0, 0xF1D5C6}, {0xF1E9DD, 0xF1D5C6}, {0xF1E9DD, 0xDCB6A9}, {0xF1E9DD, 0xFCF3E1},
    {0x9D803C, 0xCA9685}, {0x9D803C, 0xE4CDC3}, {0xFFFFFF, 0xFCF7F5}, {0xFFFFFF, 0xFFFCFA}, {0xFFFFFF, 0xFFFFFF},
    {0xF0F0F0, 0xF0F0F0}, {0xF0F0FF, 0xF0F0FF}, {0xC0C0C0, 0xF1D5C6}, {0x888888, 0xDCB6A9}, {0x808080, 0xCA9685},
    {0xC0C0C0, 0xFFFFFF}, {0xF1D5C6, 0xFFFFFF}, {0xFFFFFF, 0xFBF7F6}, {0xF3F3F3, 0xF4E4DB}, {0xF3F3F3, 0xF3E5DF},
    {0x6A450B, 0x404040}, {0x6C665F, 0x404040}, {0xFBFAFA, 0xF3E5DF}, {0xC0C0C0, 0xD6ADA0}, {0xA09EA0, 0xA0A0A0},
    {0xF3F3F3, 0xE0E0E0}, {0xD3B98D, 0xB0B0B0}, {0xD6BC8F, 0xC0C0C0}, {0xF3F3F3, 0xFCF7F5}, {0xFFFFFF, 0x404040},
    {0x71563C, 0x404040}, {0xFBFAFA, 0xFFFFFF}, {0xFFFFFF, 0xFFFFFF}, {0xADAEAD, 0xEFD8CE}, {0xADAEAD, 0xEFD8CE},
    {0x9D803C, 0xEFD8CE}, {0x9D803C, 0xEFD8CE}, {0x9D803C, 0xEFD8CE}, {0x9D803C, 0xEFD8CE}, {0xDEDBDE, 0xE8DBD6},
    {0xDEDBDE, 0xE8DBD6}, {0x908280, 0x908280},
};

sSize publishedSize(int slot, bool flat) {
    for (const SizeRange& r : kSizes)
        if (slot >= r.first && slot <= r.last) return flat ? sSize{r.fw, r.fh} : sSize{r.dw, r.dh};
    ADD_FAILURE() << "no published size for slot " << slot;
    return {};
}

// Inflates a packed UI image with zlib's own uncompress, rows put top first.
bool unpackWithZlib(const sCIThemeImageDef& d, std::vector<unsigned int>& topFirst) {
    if (!d.packed || d.packedSize < 9) return false;
    int w, h;
    std::memcpy(&w, d.packed, 4);
    std::memcpy(&h, d.packed + 4, 4);
    if (w != static_cast<int>(d.width) || h != static_cast<int>(d.height)) return false;
    std::vector<unsigned int> bottomFirst(static_cast<std::size_t>(w) * h + 1);
    uLongf len = static_cast<uLongf>(bottomFirst.size() * 4);
    if (uncompress(reinterpret_cast<Bytef*>(bottomFirst.data()), &len, d.packed + 8, d.packedSize - 8) != Z_OK)
        return false;
    if (len != static_cast<uLongf>(w) * h * 4) return false;
    topFirst.assign(static_cast<std::size_t>(w) * h, 0);
    for (int y = 0; y < h; ++y)
        std::memcpy(&topFirst[static_cast<std::size_t>(y) * w], &bottomFirst[static_cast<std::size_t>(h - 1 - y) * w],
                    static_cast<std::size_t>(w) * 4);
    return true;
}

}  // namespace

TEST(Theme, DefaultThemeIsBuiltWhenNoneWasSet) {
    cCITheme* t = cCITheme::theme();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(cCITheme::theme(), t);
    EXPECT_EQ(t->getDimension(0, 0), 30);
    EXPECT_EQ(t->getColor(0), 0xF3E5DFu);
}

TEST(Theme, DimensionsAndColoursOfBothThemesAsPublished) {
    cCITheme flat(gCI_Flat_Theme), dft(gCI_Default_Theme);
    for (int i = 0; i < 25; ++i) {
        SCOPED_TRACE(i);
        const Dim& d = kDims[i];
        EXPECT_EQ(flat.getDimension(i, 0), d.fv);
        EXPECT_EQ(flat.getDimension(i, 1), d.fmin);
        EXPECT_EQ(flat.getDimension(i, 2), d.fmax);
        EXPECT_EQ(dft.getDimension(i, 0), d.dv);
        EXPECT_EQ(dft.getDimension(i, 1), d.dmin);
        EXPECT_EQ(dft.getDimension(i, 2), d.dmax);
        EXPECT_EQ(flat.getDimension(i, 3), 0);
        EXPECT_EQ(dft.getDimension(i, -1), 0);
    }
    for (int i = 0; i < 62; ++i) {
        EXPECT_EQ(flat.getColor(i), kColours[i][0]) << i;
        EXPECT_EQ(dft.getColor(i), kColours[i][1]) << i;
    }
    EXPECT_EQ(flat.getDimension(25, 0), 0);
    EXPECT_EQ(flat.getDimension(-1, 0), 0);
    EXPECT_EQ(flat.getColor(62), 0u);
    EXPECT_EQ(flat.getColor(-1), 0u);

    // Values are kept inside their own range; dimension 5 starts outside
    // its range and cannot be stored back.
    EXPECT_FALSE(flat.setDimension(19, 21));
    EXPECT_EQ(flat.getDimension(19, 0), 15);
    EXPECT_FALSE(flat.setDimension(19, 9));
    EXPECT_TRUE(flat.setDimension(19, 20));
    EXPECT_EQ(flat.getDimension(19, 0), 20);
    EXPECT_FALSE(flat.setDimension(5, 28));
    EXPECT_EQ(flat.getDimension(5, 0), 28);
    EXPECT_FALSE(flat.setDimension(25, 0));
    EXPECT_FALSE(flat.setDimension(-1, 0));
    EXPECT_TRUE(flat.setColor(61, 0x123456));
    EXPECT_EQ(flat.getColor(61), 0x123456u);
    EXPECT_FALSE(flat.setColor(62, 1));
}

TEST(Theme, EverySlotOfBothThemesHasItsPublishedSizeAndKind) {
    for (bool isFlat : {false, true}) {
        cCITheme t(isFlat ? gCI_Flat_Theme : gCI_Default_Theme);
        std::set<int> plain, absent;
        for (const FlatColour& c : kFlatColours)
            for (int i = c.first; i <= c.last; ++i) plain.insert(i);
        absent.insert(std::begin(kFlatAbsent), std::end(kFlatAbsent));
        for (int i = 0; i < 157; ++i) {
            SCOPED_TRACE(testing::Message() << (isFlat ? "flat " : "default ") << i);
            const sSize want = publishedSize(i, isFlat);
            sSize got{-1, -1};
            const unsigned int* px = t.getImage(i, got);
            EXPECT_EQ(got.w, want.w);
            EXPECT_EQ(got.h, want.h);
            cPicture* p = t.getPict(i);
            if (isFlat && absent.count(i)) {
                EXPECT_EQ(px, nullptr);
                EXPECT_EQ(p, nullptr);
            } else if (isFlat && plain.count(i)) {
                EXPECT_EQ(p, nullptr);
                if (want.w == 1 && want.h == 1) {
                    ASSERT_NE(px, nullptr);
                    for (const FlatColour& c : kFlatColours) {
                        if (i >= c.first && i <= c.last) {
                            EXPECT_EQ(*px, c.colour);
                        }
                    }
                } else {
                    EXPECT_EQ(px, nullptr);
                }
            } else {
                ASSERT_NE(p, nullptr);
                EXPECT_EQ(p->width(), want.w);
                EXPECT_EQ(p->height(), want.h);
                ASSERT_NE(px, nullptr);
                // A one-pixel picture is also the colour getImage shows.
                if (want.w == 1 && want.h == 1)
                    EXPECT_EQ(*px, p->raw()[0]);
                else
                    EXPECT_EQ(px, p->raw());
            }
        }
        sSize s;
        EXPECT_EQ(t.getImage(157, s), nullptr);
        EXPECT_EQ(t.getImage(-1, s), nullptr);
        EXPECT_EQ(t.getPict(157), nullptr);
    }
}

TEST(Theme, PicturesAreTheirPackedFormInflatedByZlibAndNotBlank) {
    for (bool isFlat : {false, true}) {
        const cStaticCIThemeDef* def = isFlat ? gCI_Flat_Theme : gCI_Default_Theme;
        cCITheme t(def);
        int pictures = 0;
        for (int i = 0; i < 157; ++i) {
            SCOPED_TRACE(testing::Message() << (isFlat ? "flat " : "default ") << i);
            const sCIThemeImageDef& d = def->images[i];
            cPicture* p = t.getPict(i);
            if (!d.packed) {
                EXPECT_EQ(p, nullptr);
                continue;
            }
            std::vector<unsigned int> want;
            ASSERT_TRUE(unpackWithZlib(d, want));
            ASSERT_NE(p, nullptr);
            ASSERT_EQ(p->count(), static_cast<long long>(want.size()));
            EXPECT_EQ(std::memcmp(p->raw(), want.data(), want.size() * 4), 0);
            ++pictures;
            // Every piece shows something: some pixel is not transparent,
            // and pieces larger than a thin strip are not a single colour.
            bool visible = false;
            std::set<unsigned int> colours;
            for (unsigned int v : want) {
                visible |= (v >> 24) != 0;
                colours.insert(v);
            }
            EXPECT_TRUE(visible);
            if (d.width > 2 && d.height > 2) {
                EXPECT_GT(colours.size(), 1u);
            }
        }
        EXPECT_EQ(pictures, isFlat ? 157 - 14 - 12 : 157);
    }
}

TEST(Theme, StatesOfOnePieceDiffer) {
    // Each state of a control is told apart at a glance: the checked and
    // unchecked, normal, active and disabled boxes and buttons differ.
    for (const cStaticCIThemeDef* def : {gCI_Default_Theme, gCI_Flat_Theme}) {
        cCITheme t(def);
        auto same = [&](int a, int b) {
            cPicture* pa = t.getPict(a);
            cPicture* pb = t.getPict(b);
            return pa && pb && pa->count() == pb->count() &&
                   std::memcmp(pa->raw(), pb->raw(), static_cast<std::size_t>(pa->count()) * 4) == 0;
        };
        for (int first : {30, 36})
            for (int a = first; a < first + 6; ++a)
                for (int b = a + 1; b < first + 6; ++b) EXPECT_FALSE(same(a, b)) << a << " " << b;
        for (int first : {100, 103, 129, 132})
            for (int a = first; a < first + 3; ++a)
                for (int b = a + 1; b < first + 3; ++b) EXPECT_FALSE(same(a, b)) << a << " " << b;
        for (int a = 73; a < 77; ++a) EXPECT_FALSE(same(a, a + 1)) << a;
    }
}

TEST(Theme, PlainColourAndAbsentSlotsAndSetImage) {
    cCITheme flat(gCI_Flat_Theme);
    sSize s;
    EXPECT_EQ(flat.getPict(0), nullptr);
    const unsigned int* c = flat.getImage(0, s);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(s.w, 1);
    EXPECT_EQ(s.h, 1);
    EXPECT_EQ(*c, 0x000000u);
    EXPECT_EQ(flat.getImage(86, s), nullptr);
    EXPECT_EQ(s.w, 16);
    EXPECT_EQ(s.h, 16);

    // A 1 x 1 image turns a picture slot into a plain colour.
    const unsigned int red = 0xFFFF0000;
    ASSERT_NE(flat.getPict(42), nullptr);
    EXPECT_TRUE(flat.setImage(42, &red, 1, 1, false));
    EXPECT_EQ(flat.getPict(42), nullptr);
    c = flat.getImage(42, s);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(*c, red);
    // A larger image makes a picture again, flipped on request.
    const unsigned int two[2] = {1, 2};
    EXPECT_TRUE(flat.setImage(42, two, 1, 2, true));
    ASSERT_NE(flat.getPict(42), nullptr);
    EXPECT_EQ(flat.getPict(42)->raw()[0], 2u);
    EXPECT_EQ(flat.getPict(42)->raw()[1], 1u);
    EXPECT_FALSE(flat.setImage(42, nullptr, 1, 2, false));
    EXPECT_FALSE(flat.setImage(42, two, 0, 2, false));
    EXPECT_FALSE(flat.setImage(157, two, 1, 2, false));
    EXPECT_FALSE(flat.setImage(-1, two, 1, 2, false));

    // Without a definition everything is zero and every slot absent.
    cCITheme none(nullptr);
    EXPECT_EQ(none.getDimension(0, 0), 0);
    EXPECT_EQ(none.getColor(0), 0u);
    sSize z{5, 5};
    EXPECT_EQ(none.getImage(42, z), nullptr);
    EXPECT_EQ(z.w, 0);
    EXPECT_EQ(none.getPict(42), nullptr);
}

TEST(Theme, BrokenBuiltInPicturesLeaveOnlyTheirSlotEmpty) {
    // A packed piece that does not inflate, and one whose size disagrees
    // with its slot, are dropped; the rest of the theme stands.
    std::vector<sCIThemeImageDef> images(gCI_Default_Theme->images, gCI_Default_Theme->images + 157);
    std::vector<unsigned char> corrupt(images[42].packed, images[42].packed + images[42].packedSize);
    for (std::size_t i = 8; i < corrupt.size(); ++i) corrupt[i] ^= 0x5A;
    images[42].packed = corrupt.data();
    images[43].width = 17;  // packed 18 x 18
    const unsigned int pixels[6] = {1, 2, 3, 4, 5, 6};
    images[44] = {3, 2, 0, pixels, nullptr, 0};
    const cStaticCIThemeDef def = {gCI_Default_Theme->dims, gCI_Default_Theme->colours, images.data()};
    cCITheme t(&def);
    EXPECT_EQ(t.getPict(42), nullptr);
    EXPECT_EQ(t.getPict(43), nullptr);
    ASSERT_NE(t.getPict(44), nullptr);
    EXPECT_EQ(t.getPict(44)->raw()[0], 4u);  // plain pixels are bottom row first too
    EXPECT_NE(t.getPict(45), nullptr);
    EXPECT_EQ(t.getDimension(19, 0), 14);
}

TEST(Theme, PicturesTakenBeforeSetThemeStayValid) {
    ASSERT_TRUE(cCITheme::setTheme(gCI_Flat_Theme));
    cCITheme* first = cCITheme::theme();
    cPicture* icon = first->getPict(48);
    ASSERT_NE(icon, nullptr);
    const std::vector<unsigned int> before(icon->raw(), icon->raw() + icon->count());
    sSize s;
    const unsigned int* raw = first->getImage(73, s);
    ASSERT_NE(raw, nullptr);
    const unsigned int firstPixel = raw[s.w * s.h / 2];

    // Switching back and forth builds new themes; the controls that read the
    // old one keep drawing from it (AddressSanitizer reports any use of a
    // freed picture here).
    ASSERT_TRUE(cCITheme::setTheme(gCI_Default_Theme));
    EXPECT_NE(cCITheme::theme(), first);
    EXPECT_EQ(cCITheme::theme()->getDimension(0, 0), 30);
    ASSERT_TRUE(cCITheme::setTheme(gCI_Flat_Theme));
    EXPECT_EQ(cCITheme::theme()->getDimension(0, 0), 31);

    EXPECT_EQ(icon->width(), 18);
    EXPECT_EQ(icon->height(), 18);
    EXPECT_EQ(std::vector<unsigned int>(icon->raw(), icon->raw() + icon->count()), before);
    EXPECT_EQ(raw[s.w * s.h / 2], firstPixel);
    EXPECT_EQ(first->getPict(48), icon);
}
