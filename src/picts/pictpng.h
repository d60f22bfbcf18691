// PNG: every colour type and bit depth, Adam7 interlacing, tRNS, 8-bit
// output for depths up to 8 and 16-bit output for depth 16.  Chunks are
// read one at a time and IDAT data is inflated in pieces as it arrives, so
// memory stays at the picture plus two scanlines whatever the file claims.
#pragma once

#include "compression/zstream.h"
#include "picts/pictbase.h"

class cPictPNG : public cPictBase {
public:
    cPictPNG();
    ~cPictPNG() override;

    static bool validFor(cFileIOTarget* stream, sPictInfo* info);

    int typeOf() override { return ptPNG; }
    bool isPicture(cFileIOTarget* stream, sPictInfo* info) override;
    bool decode(cFileIOTarget* stream) override;
    bool supportsExtRendering() override { return true; }

    // Hooks offered each line's unfiltered samples before the built-in
    // conversion; true means the derived decoder wrote the output row itself.
    virtual bool colorConvert(unsigned char* row, int width);
    virtual bool colorConvert16(unsigned short* row, int width);

    // Signature and whole chunks accepted so far (the end of the PNG data
    // inside a container).
    unsigned long long bytesConsumed() const { return consumed_; }

    // Adam7: first column, first row, column step, row step.
    struct sInterlaceStage {
        int firstCol, firstRow, colStep, rowStep;
    };
    static const sInterlaceStage myInterlaceStageParams[7];

protected:
    bool decodeInt(cFileIOTarget* stream);
    bool chkProcessHeader();
    bool chkProcessTransparency(const unsigned char* data, unsigned int length);
    bool processIDatChunk(const unsigned char* data, unsigned int length);
    bool processScanline(int firstCol, int colStep, long long lineLen);
    static bool processPredictor(unsigned char* line, const unsigned char* prior, long long length, int bpp);
    bool processColorData(const unsigned char* samples, int firstCol, int colStep);
    long long pixelsPerInterlacedLine() const;
    long long scanlineBytes() const;
    int scanlineBpp() const;
    int scanlineBppPred() const { return scanlineBpp(); }

    // Image header (IHDR), host order.
    struct sHeader {
        unsigned int width = 0, height = 0;
        unsigned char depth = 0, colorType = 0, compression = 0, filter = 0, interlace = 0;
    };

    unsigned long long consumed_ = 0;
    sHeader hdr_;
    unsigned char sampleDepth_ = 0;
    _typebuf<unsigned int> palette_;
    long long paletteCount_ = 0;
    bool transparency_ = false;
    bool extActive_ = false;
    unsigned int key8_ = 0xFFFFFFFFu;
    unsigned long long key16_ = ~0ULL;
    long long row_ = 0;
    int pass_ = -1;
    bool probeOnly_ = false;
    long long inputLeft_ = -1;   // bytes the stream holds from the first IDAT on; -1 unknown
    // curLine_ holds many scanlines at once (inflated in large steps),
    // prevLine_ the prior line across refills of it.
    _typebuf<unsigned char> prevLine_, curLine_;
    long long fill_ = 0;
    cZDecompress inflater_;

private:
    bool startPass(int pass);
    void keepPrior();
    bool beginPixels();
    // Inflates the bytes of one piece of IDAT data into scanlines.
    bool inflatePiece(const unsigned char* data, long long length);
    template <typename P>
    void emitLine(const P* line, long long n, int firstCol, int colStep);

    bool seenHeader_ = false;
    bool seenIdat_ = false;
    bool idatEnded_ = false;   // a chunk other than IDAT followed the IDAT run
    bool rowsDone_ = false;
    long long lineLen_ = 0;    // bytes of the current pass's line, filter byte included
    long long cap_ = 0;        // scanline bytes curLine_ holds
    long long done_ = 0;       // bytes of curLine_ already turned into pixels
    unsigned char* rowAt_ = nullptr;          // the line being unfiltered
    const unsigned char* prior_ = nullptr;    // the line above it
    long long priorLen_ = 0;
    _typebuf<unsigned char> zeroLine_;        // the prior of a pass's first line
    _typebuf<unsigned int> tmp8_;
    _typebuf<unsigned long long> tmp16_;
};
