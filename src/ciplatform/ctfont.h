// The platform's fonts (cifonts/ctfont.h), with the text engine's drawing
// (macshim/ctshim.h) for the canvas that draws them.
#pragma once

#include "cifonts/ctfont.h"
#include "macshim/ctshim.h"
