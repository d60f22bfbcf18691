#include "cifonts/platform.h"

#include "base/buffers.h"
#include "uitoolkit/canvas.h"

namespace {

// Function-local statics: set before any start-up code asks for them and
// freed at exit.
_guardchar<char>& stdFace() {
    static _guardchar<char> face;
    return face;
}
_guardchar<char>& fixedFace() {
    static _guardchar<char> face;
    return face;
}

double gWrapFactor = 1.2;

char gDefaultStd[] = "Tahoma";
char gDefaultFixed[] = "Courier New";

}  // namespace

char* _glbalStdFont() { return stdFace().get() ? stdFace().get() : gDefaultStd; }
char* _glbalFixedFont() { return fixedFace().get() ? fixedFace().get() : gDefaultFixed; }

void setGlobalStdFont(const char* face) {
    if (face)
        stdFace().set(face);
    else
        stdFace().clear();
}

void setGlobalFixedFont(const char* face) {
    if (face)
        fixedFace().set(face);
    else
        fixedFace().clear();
}

double textWrapYFactor() { return gWrapFactor; }

void setTextWrapYFactor(double factor) {
    gWrapFactor = factor;
    // The canvas reads the factor through its hook from now on.
    __setTextWrapYFactorHook(textWrapYFactor);
}
