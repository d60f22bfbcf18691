// TIFF and BigTIFF decoded by libtiff, read through the stream interface
// (TIFFClientOpen over a cFileIOTarget, never a file name).  Page 0 only.
//
// Grey, grey with alpha, RGB and RGBA of 8 or 16 bits per sample stored
// contiguously are read row by row (strips) or tile by tile and kept at
// their depth (16-bit samples in the 16-bit buffer); bilevel pictures (fax
// codings and other one-bit grey), grey of 2 or 4 bits and palette pictures
// of 1 to 8 bits in strips are read row by row too and turned into 8-bit
// pixels here; everything else (YCbCr, CMYK, separate planes, odd depths,
// tiled bilevel and palette pictures) goes through libtiff's RGBA reader
// into 8-bit pixels, a strip or a row of tiles at a time when drawn into a
// render target.  Rows reach a render target as they are decoded, so a
// thumbnail holds the target and a strip (or a row) however large the
// picture.  libtiff's errors and warnings are taken by handlers of this
// decoder: a failure result, nothing printed; a warning while the pixels
// are read fails the decode too, since the codecs fill in what a damaged
// strip lacks behind one, but for the few notices that say nothing of the
// pixels (old-style JPEG's, that the mode is deprecated).  The picture
// must be one its strips' bytes can describe (pictlimits.h), with what the
// decode holds besides it, before anything is reserved; JPEG strips, new-
// and old-style, are charged to one JPEG budget (cJPEGBudget) as well.
// The Orientation tag is applied: the picture comes out as it is meant to
// be seen, into a render target too.
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
    bool supportsExtRendering() override { return true; }

    struct sSession;  // one libtiff handle over a stream
    struct sLayout;   // the way a picture's pixels are read

private:
    bool decodeSamples(sSession& s, const sLayout& l);
    bool decodePacked(sSession& s, const sLayout& l);
    bool decodeRGBA(sSession& s, const sLayout& l);
    // Every row of the strips, in order: fn(y, bytes) with libtiff's decoded
    // samples of stored row y.  Strips of up to kStripChunk bytes are read
    // whole, larger ones a row at a time.
    template <typename Fn>
    bool forEachStripRow(sSession& s, long long rowBytes, Fn fn);
    // Where the pixels x0.. of stored row y go: the picture's row, or a
    // line handed to the render target by sendRow.
    unsigned int* rowOut8(long long y, long long x0);
    unsigned long long* rowOut16(long long y, long long x0);
    bool reserve(bool deep);
    void sendRow(long long y, long long x0, const unsigned int* line, long long n);
    void sendRow16(long long y, long long x0, const unsigned long long* line, long long n);
    // Whether the first strip or tile's bytes lie inside the stream.
    static bool firstStrileInside(sSession& s);
    // The bytes of picture data the stream holds: the bytes the strips or
    // tiles cover, cut at the end of the stream, each counted once however
    // many strips point at it; -1 when the arrays are damaged.
    static long long dataBytes(sSession& s);
    // Whether those bytes can describe the picture and the `extraBytes` the
    // decode holds besides it (and each tile): the bilevel rule for fax and
    // other one-bit pictures, the general one (pictlimits.h) for the rest.
    // Checked before anything is reserved.
    static bool dataCanDescribe(sSession& s, long long extraBytes);
    bool applyOrientation(int orientation);

    // The decode in progress: the stored size, the Orientation, whether
    // rows go to a render target, and its lines.
    long long storedW_ = 0, storedH_ = 0;
    int orientation_ = 1;
    bool extActive_ = false;
    bool reserved_ = false;
    _typebuf<unsigned int> line8_, turned8_;
    _typebuf<unsigned long long> line16_;
};
