// The few theme values the element core, panels and forms read: colours,
// frame dimensions and frame pictures.  The theme installs its own reader;
// until then a fixed fallback answers, so that elements work without one.
#pragma once

#include "uitoolkit/picture.h"

class cThemeValues {
public:
    virtual ~cThemeValues() = default;
    // Canvas colour 0x00BBGGRR of theme colour i.
    virtual unsigned int color(int i);
    // Dimension i with its limits; false when the theme has no such value.
    virtual bool dimension(int i, int& value, int& minimum, int& maximum);
    // Frame picture i (0 top-left .. 7 bottom-right); null when missing.
    // Owned by the theme.
    virtual cPicture* picture(int i);
};

// The reader in use (never null).
cThemeValues* currentThemeValues();
// Installs a reader (null: the fallback); returns the one installed before.
cThemeValues* setThemeValues(cThemeValues* values);
