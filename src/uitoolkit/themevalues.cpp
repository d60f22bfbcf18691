#include "uitoolkit/themevalues.h"

namespace {
cThemeValues gFallback;
cThemeValues* gCurrent = &gFallback;
}  // namespace

unsigned int cThemeValues::color(int i) {
    // Light grey surfaces, black text, white content backgrounds.
    switch (i) {
        case 0: return 0xF0F0F0;
        case 4: return 0x000000;
        case 14: return 0xFFFFFF;
        case 20: return 0x808080;
        default: return 0xC0C0C0;
    }
}

bool cThemeValues::dimension(int i, int& value, int& minimum, int& maximum) {
    value = minimum = maximum = 0;
    return i >= 0 && i <= 2;
}

cPicture* cThemeValues::picture(int) { return nullptr; }

cThemeValues* currentThemeValues() { return gCurrent; }

cThemeValues* setThemeValues(cThemeValues* values) {
    cThemeValues* old = gCurrent == &gFallback ? nullptr : gCurrent;
    gCurrent = values ? values : &gFallback;
    return old;
}
