// cCITheme: the process-wide look of every control: 25 dimensions (value,
// minimum, maximum), 62 canvas colours (0x00BBGGRR) and 157 small pictures.
// A theme is built from a static definition; the toolkit carries two, the
// default (bevelled) one and the flat one.
//
// Image entries: 1 x 1 stands for a plain colour given by the entry's colour
// field, 0 x 0 for an absent piece; any other size carries a picture (or
// none, when its definition has no pixels: the control then uses a colour).
//
// Lifetime: controls keep pointers to the theme's pictures for as long as
// they live, so a theme replaced by setTheme is retired, never deleted, until
// the process ends.  A picture obtained from any theme stays valid.
#pragma once

#include "uitoolkit/geometry.h"
#include "uitoolkit/picture.h"

#include "base/buffers.h"

// One dimension: value, minimum, maximum (pixels).
struct sCIThemeDimDef {
    int value;
    int minimum;
    int maximum;
};

// One built-in picture: width, height, colour, and its pixels either as a
// plain array (0xAARRGGBB, bottom row first) or as a packed UI image; both
// null for a colour-only or absent entry.
struct sCIThemeImageDef {
    unsigned int width;
    unsigned int height;
    unsigned int colour;
    const unsigned int* pixels;
    const unsigned char* packed;
    unsigned int packedSize;
};

struct cStaticCIThemeDef {
    const sCIThemeDimDef* dims;      // 25 entries
    const unsigned int* colours;     // 62 entries
    const sCIThemeImageDef* images;  // 157 entries
};

class cCITheme {
public:
    enum eCIThemeDimensionType { dtValue = 0, dtMinimum = 1, dtMaximum = 2 };
    enum { kDimensions = 25, kColors = 62, kImages = 157 };
    // Indices 0..24, 0..61 and 0..156; the accessors take them as int.
    enum eCIThemeDimension { tdFirst = 0, tdLast = kDimensions - 1 };
    enum eCIThemeColor { tcFirst = 0, tcLast = kColors - 1 };
    enum eCIThemeImageElement { tiFirst = 0, tiLast = kImages - 1 };

    struct sImageDef {
        unsigned int width = 0;
        unsigned int height = 0;
        unsigned int colour = 0xFFFFFFFFu;
        cPicture picture;
    };

    // Null: every dimension and colour 0, every image absent.
    explicit cCITheme(const cStaticCIThemeDef* def);
    virtual ~cCITheme() = default;
    cCITheme(const cCITheme&) = delete;
    cCITheme& operator=(const cCITheme&) = delete;

    // The global theme; the default one is built when none was set.
    static cCITheme* theme();
    // Builds and installs a theme from the definition (null: the default
    // one).  The previous theme is retired, not deleted: pictures that live
    // controls took from it stay valid.
    static bool setTheme(const cStaticCIThemeDef* def);

    // type 0 value, 1 minimum, 2 maximum; 0 for an unknown dimension or type.
    int getDimension(int dimension, int type) const;
    // False for an unknown dimension or a value outside [minimum, maximum].
    bool setDimension(int dimension, int value);
    // 0 for an unknown colour.
    unsigned int getColor(int colour) const;
    bool setColor(int colour, unsigned int value);

    // Reports the entry's size; for a 1 x 1 entry returns its colour field as
    // a one-pixel image, otherwise the picture's pixels (null without one).
    // Null above the last element.
    const unsigned int* getImage(int element, sSize& size) const;
    // The theme's own picture of the entry (not a copy), null without one.
    cPicture* getPict(int element);
    // Replaces the entry: a 1 x 1 image turns it into a plain colour, any
    // other size into a picture made from the pixels.
    bool setImage(int element, const unsigned int* pixels, int w, int h, bool flip);

private:
    _classbuf<sCIThemeDimDef> mDims;
    _typebuf<unsigned int> mColors;
    _classbuf<sImageDef> mImages;
};

// The two built-in themes and their tables.
extern const cStaticCIThemeDef* const gCI_Default_Theme;
extern const cStaticCIThemeDef* const gCI_Flat_Theme;
extern const sCIThemeDimDef __dft_CI_Dims[cCITheme::kDimensions];
extern const sCIThemeDimDef __dft_CI_Dims_flat[cCITheme::kDimensions];
extern const unsigned int __dft_CI_Colors[cCITheme::kColors];
extern const unsigned int __dft_CI_Colors_flat[cCITheme::kColors];
// Generated with the pictures (themepics.cpp).
extern const sCIThemeImageDef __dft_CI_Images[cCITheme::kImages];
extern const sCIThemeImageDef __dft_CI_Images_flat[cCITheme::kImages];
