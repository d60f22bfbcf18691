// Camera raw files, developed by LibRaw and read through the stream
// interface (a LibRaw datastream over the cFileIOTarget, never a file name).
//
// cPictRawBase  the shared decoder: the header checks that tell the raw
//               formats apart, LibRaw's probe for size and thumbnail, and
//               the development of the sensor data into 16-bit pixels
// cPictMRW ...  one thin class per format: its type id and its probe
//
// Each probe recognises its format from its own header bytes (magic bytes,
// or a TIFF's make and DNG tags).  LibRaw only ever sees a TIFF-based file
// whose whole structure our own walk has read and accepted (pictrawwalk.h);
// for such a file, with an info record, the probe asks LibRaw for the
// developed size and whether a thumbnail is embedded.  Files of the other
// containers (MRW, X3F, IIQ, RAF, CRW, CR3) are named by their probe but
// never handed to LibRaw: nothing of ours walks them, so they do not
// develop.  The size passes the
// library's pixel cap before anything is unpacked, and LibRaw's own raw
// buffers are capped (kMaxRawMemoryMB, pictlimits.h).  Before LibRaw
// decodes, the JPEG streams its chosen decoder will read are weighed
// (pictrawjpeg.h); before it reads a thumbnail, the thumbnail's declared
// size and byte counts are held to the input.
#pragma once

#include <vector>

#include "picts/pictbase.h"
#include "picts/pictrawwalk.h"

class cPictRawBase : public cPictBase {
public:
    ~cPictRawBase() override;
    int typeOf() override { return type_; }
    bool isPicture(cFileIOTarget* stream, sPictInfo* info) override { return probe(stream, info, type_); }
    // Develops the sensor data: 16-bit pixels, LibRaw's default rendering
    // (camera white balance off, sRGB gamma, automatic brightness) or, with
    // setLinearOutput, linear values without brightening.
    bool decode(cFileIOTarget* stream) override;
    // The embedded thumbnail (JPEG or bitmap) at its own size.
    bool getPreview(cFileIOTarget* stream, cPictBase& out, const long long* maxW, const long long* maxH) override;

    void setLinearOutput(bool on) { linear_ = on; }

    // Whether the header bytes are of the format with this type id.
    static bool probe(cFileIOTarget* stream, sPictInfo* info, int type);

    // What the header checks look at: the first bytes and, for TIFF-based
    // files, what the walk of their whole structure found (pictrawwalk.h):
    // IFD 0's make, DNG version and TIFF/EP standard id, and the first IFD
    // of colour-filter-array data.
    struct sHeader {
        unsigned char head[32] = {};
        bool tiff = false;        // "II" or "MM" and the whole structure walked and accepted
        bool tiffMagic = false;   // the magic is 42
        char make[32] = {};
        bool dng = false;
        bool tiffEP = false;
        bool cfa = false;         // a colour-filter-array or linear raw IFD
        long long rawWidth = 0, rawHeight = 0;
        // An IFD of the file holds what LibRaw 0.20 crashes on (a 36-entry
        // CFA pattern without 6 x 6 repeat dimensions before it): no
        // decoder takes the file.
        bool crashesLibRaw = false;
        // The entries LibRaw is made to pass over (maker notes and other
        // structures of a maker's own that the walk does not follow).
        std::vector<sRawTiffWalk::sHidden> hidden;
    };
    static bool readHeader(cFileIOTarget* stream, sHeader& h);
    static bool accepts(const sHeader& h, int type);

    // LibRaw's work on its stream is bounded by the input's size
    // (kRawStreamWorkPerInputByte, pictlimits.h): the budget of a stream of
    // inputBytes, and the most one session on this thread spent since the
    // last reset (a session past its budget is cancelled).
    static long long streamWorkBudget(long long inputBytes);
    static long long largestStreamWork(bool reset = false);

protected:
    explicit cPictRawBase(int type) : type_(type) {}

private:
    int type_;
    bool linear_ = false;
};

class cPictMRW : public cPictRawBase {
public:
    cPictMRW() : cPictRawBase(ptMRW) {}
    static bool validFor(cFileIOTarget* s, sPictInfo* info) { return probe(s, info, ptMRW); }
};
class cPictRWL : public cPictRawBase {
public:
    cPictRWL() : cPictRawBase(ptRWL) {}
    static bool validFor(cFileIOTarget* s, sPictInfo* info) { return probe(s, info, ptRWL); }
};
class cPictORF : public cPictRawBase {
public:
    cPictORF() : cPictRawBase(ptORF) {}
    static bool validFor(cFileIOTarget* s, sPictInfo* info) { return probe(s, info, ptORF); }
};
class cPictX3F : public cPictRawBase {
public:
    cPictX3F() : cPictRawBase(ptX3F) {}
    static bool validFor(cFileIOTarget* s, sPictInfo* info) { return probe(s, info, ptX3F); }
};
class cPictPEF : public cPictRawBase {
public:
    cPictPEF() : cPictRawBase(ptPEF) {}
    static bool validFor(cFileIOTarget* s, sPictInfo* info) { return probe(s, info, ptPEF); }
};
class cPictARW : public cPictRawBase {
public:
    cPictARW() : cPictRawBase(ptARW) {}
    static bool validFor(cFileIOTarget* s, sPictInfo* info) { return probe(s, info, ptARW); }
};
class cPictSRW : public cPictRawBase {
public:
    cPictSRW() : cPictRawBase(ptSRW) {}
    static bool validFor(cFileIOTarget* s, sPictInfo* info) { return probe(s, info, ptSRW); }
};
class cPictIIQ : public cPictRawBase {
public:
    cPictIIQ() : cPictRawBase(ptIIQ) {}
    static bool validFor(cFileIOTarget* s, sPictInfo* info) { return probe(s, info, ptIIQ); }
};
class cPictRAF : public cPictRawBase {
public:
    cPictRAF() : cPictRawBase(ptRAF) {}
    static bool validFor(cFileIOTarget* s, sPictInfo* info) { return probe(s, info, ptRAF); }
};
class cPictCRW : public cPictRawBase {
public:
    cPictCRW() : cPictRawBase(ptCRW) {}
    static bool validFor(cFileIOTarget* s, sPictInfo* info) { return probe(s, info, ptCRW); }
};
class cPictMOS : public cPictRawBase {
public:
    cPictMOS() : cPictRawBase(ptMOS) {}
    static bool validFor(cFileIOTarget* s, sPictInfo* info) { return probe(s, info, ptMOS); }
};
class cPictCR2 : public cPictRawBase {
public:
    cPictCR2() : cPictRawBase(ptCR2) {}
    static bool validFor(cFileIOTarget* s, sPictInfo* info) { return probe(s, info, ptCR2); }
};
class cPictCR3 : public cPictRawBase {
public:
    cPictCR3() : cPictRawBase(ptCR3) {}
    static bool validFor(cFileIOTarget* s, sPictInfo* info) { return probe(s, info, ptCR3); }
};
class cPictNEF : public cPictRawBase {
public:
    cPictNEF() : cPictRawBase(ptNEF) {}
    static bool validFor(cFileIOTarget* s, sPictInfo* info) { return probe(s, info, ptNEF); }
};
class cPict3FR : public cPictRawBase {
public:
    cPict3FR() : cPictRawBase(pt3FR) {}
    static bool validFor(cFileIOTarget* s, sPictInfo* info) { return probe(s, info, pt3FR); }
};
class cPictDNG : public cPictRawBase {
public:
    cPictDNG() : cPictRawBase(ptDNG) {}
    static bool validFor(cFileIOTarget* s, sPictInfo* info) { return probe(s, info, ptDNG); }
};
class cPictTIFF_EP : public cPictRawBase {
public:
    cPictTIFF_EP() : cPictRawBase(ptTIFF_EP) {}
    static bool validFor(cFileIOTarget* s, sPictInfo* info) { return probe(s, info, ptTIFF_EP); }
};
