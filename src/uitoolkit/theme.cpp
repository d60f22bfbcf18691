#include "uitoolkit/theme.h"

#include <memory>
#include <vector>

// Dimension 5 holds a value outside its own range in both tables: it is
// read as it stands, and setDimension cannot store it.
const sCIThemeDimDef __dft_CI_Dims[cCITheme::kDimensions] = {
    {30, 16, 100}, {5, 0, 20},  {40, 16, 80}, {5, 0, 10},   {5, 0, 10},  {22, 0, 10},  {44, 0, 50},
    {24, 0, 40},   {16, 0, 20}, {10, 0, 20},  {7, 0, 10},   {5, 0, 10},  {3, 0, 10},   {24, 24, 40},
    {7, 0, 10},    {14, 10, 16}, {3, 1, 5},   {12, 12, 24}, {20, 12, 24}, {14, 10, 20}, {20, 10, 40},
    {48, 32, 100}, {12, 12, 30}, {18, 18, 24}, {18, 18, 24},
};

const sCIThemeDimDef __dft_CI_Dims_flat[cCITheme::kDimensions] = {
    {31, 0, 100},  {2, 0, 20},   {40, 0, 80},  {1, 0, 10},   {2, 0, 10},   {28, 0, 16}, {48, 0, 50},
    {28, 0, 40},   {5, 0, 20},   {10, 0, 20},  {14, 0, 20},  {8, 0, 10},   {8, 0, 10},  {30, 16, 40},
    {16, 0, 16},   {10, 10, 16}, {1, 1, 5},    {12, 12, 24}, {16, 12, 19}, {15, 10, 20}, {30, 10, 40},
    {48, 32, 100}, {12, 12, 30}, {22, 18, 32}, {22, 22, 24},
};

// Canvas colours: red in the lowest byte, then green, then blue.
const unsigned int __dft_CI_Colors[cCITheme::kColors] = {
    0xF3E5DF, 0xF3E5DF, 0xF3E5DF, 0xF3E5DF, 0x404040, 0x808080, 0x606060, 0xFF4040, 0xA0A0A0, 0xFFFFFF,
    0xFFFFFF, 0xF0FFFF, 0xC0C0C0, 0x404040, 0xFFFFFF, 0xFCF6F0, 0xFF9933, 0xFF9933, 0xF1EBE5, 0xF1EBE5,
    0xFFFFFF, 0xF1D5C6, 0xF1D5C6, 0xDCB6A9, 0xFCF3E1, 0xCA9685, 0xE4CDC3, 0xFCF7F5, 0xFFFCFA, 0xFFFFFF,
    0xF0F0F0, 0xF0F0FF, 0xF1D5C6, 0xDCB6A9, 0xCA9685, 0xFFFFFF, 0xFFFFFF, 0xFBF7F6, 0xF4E4DB, 0xF3E5DF,
    0x404040, 0x404040, 0xF3E5DF, 0xD6ADA0, 0xA0A0A0, 0xE0E0E0, 0xB0B0B0, 0xC0C0C0, 0xFCF7F5, 0x404040,
    0x404040, 0xFFFFFF, 0xFFFFFF, 0xEFD8CE, 0xEFD8CE, 0xEFD8CE, 0xEFD8CE, 0xEFD8CE, 0xEFD8CE, 0xE8DBD6,
    0xE8DBD6, 0x908280,
};

const unsigned int __dft_CI_Colors_flat[cCITheme::kColors] = {
    0xFFFFFF, 0xFFFFFF, 0xF3F3F3, 0xFFFFFF, 0x000000, 0x808080, 0x606060, 0xFF4040, 0xA0A0A0, 0x000000,
    0xFFFFFF, 0xFFFFFF, 0xC0C0C0, 0xAB9E7F, 0xFFFFFF, 0xF3EDE3, 0xECE2DA, 0xCDA45E, 0xE8E8E8, 0xF1EBE5,
    0xFFFFFF, 0xC0C0C0, 0xF1E9DD, 0xF1E9DD, 0xF1E9DD, 0x9D803C, 0x9D803C, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF,
    0xF0F0F0, 0xF0F0FF, 0xC0C0C0, 0x888888, 0x808080, 0xC0C0C0, 0xF1D5C6, 0xFFFFFF, 0xF3F3F3, 0xF3F3F3,
    0x6A450B, 0x6C665F, 0xFBFAFA, 0xC0C0C0, 0xA09EA0, 0xF3F3F3, 0xD3B98D, 0xD6BC8F, 0xF3F3F3, 0xFFFFFF,
    0x71563C, 0xFBFAFA, 0xFFFFFF, 0xADAEAD, 0xADAEAD, 0x9D803C, 0x9D803C, 0x9D803C, 0x9D803C, 0xDEDBDE,
    0xDEDBDE, 0x908280,
};

namespace {

const cStaticCIThemeDef kDefaultTheme = {__dft_CI_Dims, __dft_CI_Colors, __dft_CI_Images};
const cStaticCIThemeDef kFlatTheme = {__dft_CI_Dims_flat, __dft_CI_Colors_flat, __dft_CI_Images_flat};

cPtr<cCITheme> gTheme;

// Themes replaced by setTheme.  Controls hold pointers into them (pictures
// read in onInitData) and nothing tells them of a change, so they live
// until the process ends; a theme is a few hundred kilobytes at most.
std::vector<std::unique_ptr<cCITheme>>& retiredThemes() {
    static std::vector<std::unique_ptr<cCITheme>> retired;
    return retired;
}

}  // namespace

const cStaticCIThemeDef* const gCI_Default_Theme = &kDefaultTheme;
const cStaticCIThemeDef* const gCI_Flat_Theme = &kFlatTheme;

cCITheme::cCITheme(const cStaticCIThemeDef* def) : mDims(kDimensions), mColors(kColors), mImages(kImages) {
    for (int i = 0; i < kDimensions; ++i) mDims[i] = def && def->dims ? def->dims[i] : sCIThemeDimDef{0, 0, 0};
    for (int i = 0; i < kColors; ++i) mColors[i] = def && def->colours ? def->colours[i] : 0;
    if (!def || !def->images) return;
    for (int i = 0; i < kImages; ++i) {
        const sCIThemeImageDef& d = def->images[i];
        sImageDef& e = mImages[i];
        e.width = d.width;
        e.height = d.height;
        e.colour = d.colour;
        if (d.pixels) {
            if (!e.picture.create(d.pixels, static_cast<int>(d.width), static_cast<int>(d.height), __bmp_res_inversed))
                e.picture.destroy();
        } else if (d.packed) {
            // A packed piece must decode to exactly the size its entry
            // declares; anything else leaves the entry without a picture.
            if (!e.picture.create(d.packed, d.packedSize) || e.picture.width() != static_cast<int>(d.width) ||
                e.picture.height() != static_cast<int>(d.height))
                e.picture.destroy();
        }
        // A one-pixel picture is also the entry's colour, as setImage makes
        // it, so getImage and getPict show the same pixel.
        if (d.width == 1 && d.height == 1 && !e.picture.empty()) e.colour = e.picture.raw()[0];
    }
}

cCITheme* cCITheme::theme() {
    if (!gTheme) gTheme = new cCITheme(gCI_Default_Theme);
    return gTheme.get();
}

bool cCITheme::setTheme(const cStaticCIThemeDef* def) {
    std::unique_ptr<cCITheme> next(new cCITheme(def ? def : gCI_Default_Theme));
    if (gTheme) retiredThemes().emplace_back(gTheme.release());
    gTheme = next.release();
    return true;
}

int cCITheme::getDimension(int dimension, int type) const {
    if (dimension < 0 || dimension >= kDimensions) return 0;
    const sCIThemeDimDef& d = mDims[dimension];
    switch (type) {
        case dtValue: return d.value;
        case dtMinimum: return d.minimum;
        case dtMaximum: return d.maximum;
        default: return 0;
    }
}

bool cCITheme::setDimension(int dimension, int value) {
    if (dimension < 0 || dimension >= kDimensions) return false;
    sCIThemeDimDef& d = mDims[dimension];
    if (value < d.minimum || value > d.maximum) return false;
    d.value = value;
    return true;
}

unsigned int cCITheme::getColor(int colour) const {
    if (colour < 0 || colour >= kColors) return 0;
    return mColors[colour];
}

bool cCITheme::setColor(int colour, unsigned int value) {
    if (colour < 0 || colour >= kColors) return false;
    mColors[colour] = value;
    return true;
}

const unsigned int* cCITheme::getImage(int element, sSize& size) const {
    if (element < 0 || element >= kImages) return nullptr;
    const sImageDef& e = mImages[element];
    size.w = static_cast<int>(e.width);
    size.h = static_cast<int>(e.height);
    if (e.width == 1 && e.height == 1) return &e.colour;
    return e.picture.empty() ? nullptr : e.picture.raw();
}

cPicture* cCITheme::getPict(int element) {
    if (element < 0 || element >= kImages) return nullptr;
    sImageDef& e = mImages[element];
    if (e.picture.empty()) return nullptr;
    return &e.picture;
}

bool cCITheme::setImage(int element, const unsigned int* pixels, int w, int h, bool flip) {
    if (!pixels || w <= 0 || h <= 0 || element < 0 || element >= kImages) return false;
    sImageDef& e = mImages[element];
    e.width = static_cast<unsigned int>(w);
    e.height = static_cast<unsigned int>(h);
    e.colour = pixels[0];
    if (w == 1 && h == 1) {
        e.picture.destroy();
        return true;
    }
    return e.picture.create(pixels, w, h, flip);
}
