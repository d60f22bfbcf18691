// Device-independent bitmaps: bare DIBs (icon entries, clipboard data) and
// BMP files.  1, 4, 8, 16, 24 and 32 bits, RLE4, RLE8, bit fields, core,
// V3, V4 and V5 headers, top-down rows, embedded PNG and JPEG; writing as a
// 32-bit bit-field bitmap.
#pragma once

#include "base/bytereader.h"
#include "picts/pictbase.h"

class cPictDIB : public cPictBase {
public:
    cPictDIB();
    ~cPictDIB() override;

    // Probes the information header at the stream's position; halveHeight
    // reports the colour height of an icon entry (colour rows + AND mask).
    static bool validFor(cFileIOTarget* stream, sPictInfo* info, bool halveHeight = false);

    int typeOf() override { return ptDIB; }
    bool isPicture(cFileIOTarget* stream, sPictInfo* info) override { return validFor(stream, info, false); }
    bool decode(cFileIOTarget* stream) override;
    bool supportsExtRendering() override { return true; }

    // Icon entries: the stored height covers the colour rows and the 1-bit
    // AND mask that follows them.
    void setUseAlphaBp(bool on) { andMask_ = on; }
    // The palette follows the header directly (no room is reserved for it by
    // the data offset).
    void setForcedPalletteLoad(bool on) { forcedPalette_ = on; }

    static unsigned int minDIBSize() { return 40; }
    static unsigned int savingDIBSize() { return 56; }
    // Writes the 56-byte header and the pixels as 32-bit bit fields.
    static bool save(cPictBase* picture, cFileIOTarget* out);

    // Stream bytes consumed so far, counted from the start of the stream.
    unsigned long long bytesConsumed() const { return consumed_; }

    // Makes the decoder of embedded JPEG data (compression 4): the library's
    // own JPEG decoder (makeJpegDecoder) unless a program puts another in
    // its place; null makes such bitmaps fail.
    using tEmbeddedDecoderMaker = cPictBase* (*)();
    static tEmbeddedDecoderMaker sEmbeddedJpegMaker;
    static cPictBase* makeJpegDecoder();

    static const unsigned int myStd16CPallette[16];

protected:
    struct sRLELineCtx {
        _typebuf<unsigned char> line;  // palette indices of the line being built
        long long row = 0;             // buffer row the line goes to
        long long y = 0;               // rows emitted so far
        bool upward = true;            // bottom-up bitmap
        bool blank = true;             // the line holds index 0 only
        bool blankReady = false;       // pixels holds the blank line's colours
        _typebuf<unsigned int> pixels; // the line's colours, for a render target
    };

    bool decodeDIB(cByteReader& in, bool bareDib);
    bool decodeDIBInto(cByteReader& in, bool bareDib);
    bool decodeRGB(cByteReader& in, bool bitFields);
    bool decodeRLE4(cByteReader& in);
    bool decodeRLE8(cByteReader& in);
    bool decodeRLE(cByteReader& in, bool four);
    bool rleFill(sRLELineCtx* ctx);
    bool loadMergeAlpha(cByteReader& in);
    bool loadLegacyPalette(cByteReader& in, unsigned int count);
    bool loadPalette(cByteReader& in, unsigned int count, bool core);
    bool decodeEmbedded(cByteReader& in, bool png);
    bool readCounted(cByteReader& in, void* buf, unsigned long long n);

    unsigned int u32at(int off) const { return cByteReader::u32le(header_ + off); }
    int i32at(int off) const { return static_cast<int>(u32at(off)); }
    unsigned int u16at(int off) const { return cByteReader::u16le(header_ + off); }

    unsigned char header_[124];
    unsigned long long dataEnd_ = 0;
    unsigned long long dataOffset_ = 0;
    _typebuf<unsigned int> palette_;
    unsigned int paletteCount_ = 0;
    unsigned long long consumed_ = 0;
    bool andMask_ = false;
    bool forcedPalette_ = false;
    bool extActive_ = false;
    unsigned int headerSize_ = 0;
    long long rows_ = 0;       // stored rows of colour data
    bool topDown_ = false;
};

class cPictBMP : public cPictDIB {
public:
    cPictBMP() = default;
    ~cPictBMP() override = default;
    static bool validFor(cFileIOTarget* stream, sPictInfo* info);
    int typeOf() override { return ptBMP; }
    bool isPicture(cFileIOTarget* stream, sPictInfo* info) override { return validFor(stream, info); }
    bool decode(cFileIOTarget* stream) override;
    // Writes the 14-byte file header, then the bitmap as cPictDIB::save does.
    static bool save(cPictBase* picture, cFileIOTarget* out);
};
