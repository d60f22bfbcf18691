#include "uitoolkit/themevalues.h"

#include "uitoolkit/theme.h"

namespace {
// Reads the global theme at every call, so a theme replaced by setTheme is
// seen at once by everything that asks afterwards.
cThemeValues gThemeReader;
cThemeValues* gCurrent = &gThemeReader;
}  // namespace

unsigned int cThemeValues::color(int i) { return cCITheme::theme()->getColor(i) & 0xFFFFFF; }

bool cThemeValues::dimension(int i, int& value, int& minimum, int& maximum) {
    value = minimum = maximum = 0;
    if (i < cCITheme::tdFirst || i > cCITheme::tdLast) return false;
    const cCITheme* t = cCITheme::theme();
    value = t->getDimension(i, cCITheme::dtValue);
    minimum = t->getDimension(i, cCITheme::dtMinimum);
    maximum = t->getDimension(i, cCITheme::dtMaximum);
    return true;
}

cPicture* cThemeValues::picture(int i) { return cCITheme::theme()->getPict(i); }

cThemeValues* currentThemeValues() { return gCurrent; }

int themeDimension(int i) {
    int value = 0, minimum = 0, maximum = 0;
    gCurrent->dimension(i, value, minimum, maximum);
    return value;
}

cThemeValues* setThemeValues(cThemeValues* values) {
    cThemeValues* old = gCurrent == &gThemeReader ? nullptr : gCurrent;
    gCurrent = values ? values : &gThemeReader;
    return old;
}
