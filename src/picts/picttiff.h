// TIFF and BigTIFF decoded by libtiff, read through the stream interface
// (TIFFClientOpen over a cFileIOTarget, never a file name).  Page 0 only.
//
// Grey, grey with alpha, RGB and RGBA of 8 or 16 bits per sample stored
// contiguously are read strip by strip or tile by tile and kept at their
// depth (16-bit samples in the 16-bit buffer); everything else (palette,
// bilevel, CCITT fax, YCbCr, CMYK, separate planes, odd depths) goes through
// libtiff's RGBA reader into 8-bit pixels.  libtiff's errors and warnings
// are taken by handlers of this decoder: a failure result, nothing printed;
// a warning while the pixels are read fails the decode too, since the
// codecs fill in what a damaged strip lacks behind one.  The picture must be
// one its strips' bytes can describe (pictlimits.h) before anything is
// reserved.
// The Orientation tag is applied: the picture comes out as it is meant to
// be seen.
#pragma once

#include "picts/pictbase.h"

class cPictTIFF : public cPictBase {
public:
    cPictTIFF();
    ~cPictTIFF() override;

    static bool validFor(cFileIOTarget* stream, sPictInfo* info);

    int typeOf() override { return ptTIFF; }
    bool isPicture(cFileIOTarget* stream, sPictInfo* info) override;
    bool decode(cFileIOTarget* stream) override;

    struct sSession;  // one libtiff handle over a stream

private:
    bool decodeSamples(sSession& s);
    bool decodeRGBA(sSession& s);
    // Whether the first strip or tile's bytes lie inside the stream.
    static bool firstStrileInside(sSession& s);
    // The bytes of picture data the stream holds: the bytes the strips or
    // tiles cover, cut at the end of the stream, each counted once however
    // many strips point at it; -1 when the arrays are damaged.
    static long long dataBytes(sSession& s);
    // Whether those bytes can describe the picture (and each tile): the
    // bilevel rule for fax and other one-bit pictures, the general one
    // (pictlimits.h) for the rest.  Checked before anything is reserved.
    static bool dataCanDescribe(sSession& s);
    bool applyOrientation(int orientation);
};
