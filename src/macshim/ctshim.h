// The text engine (mactext/ctshim.h: fonts by name, lines laid out in glyph
// runs) with its drawing on the drawing model's contexts.
#pragma once

#include "macshim/cgshim.h"
#include "mactext/ctshim.h"

// Draws the line with its baseline origin at the context's text position.
void CTLineDraw(CTLineRef line, CGContextRef ctx);
