// The affine transform of the stand-in's drawing model, which its text
// engine takes for a font's glyph transform too.
#pragma once

// a b c d tx ty: x' = a x + c y + tx, y' = b x + d y + ty.
struct CGAffineTransform {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
};
