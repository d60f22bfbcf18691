// The few theme values the element core, panels and forms read: colours,
// dimensions and pictures.  By default they come from the process-wide
// theme (cCITheme::theme()); a test or an embedder may install a reader of
// its own.
#pragma once

#include "uitoolkit/picture.h"

class cThemeValues {
public:
    virtual ~cThemeValues() = default;
    // Canvas colour 0x00BBGGRR of theme colour i.
    virtual unsigned int color(int i);
    // Dimension i with its limits; false when the theme has no such value.
    virtual bool dimension(int i, int& value, int& minimum, int& maximum);
    // Theme picture i (0 top-left .. 7 bottom-right are the form's frame);
    // null when missing.  Owned by the theme.
    virtual cPicture* picture(int i);
};

// The reader in use (never null).
cThemeValues* currentThemeValues();
// The value of dimension i of the reader in use (0 when it has none).
int themeDimension(int i);
// Installs a reader (null: the theme's own); returns the one installed
// before (null when it was the theme's own).
cThemeValues* setThemeValues(cThemeValues* values);
