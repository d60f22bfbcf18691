// GIF87a and GIF89a.  Every image block of the file is one page, decoded on
// its own at its own size (no compositing onto the logical screen), with
// its local or the global colour table and the transparency of the graphic
// control extension that precedes it.  Renders straight into an external
// render target when one is set.  The LZW indices become rows as they are
// decoded, a window at a time: a decode holds the picture (or the target),
// never the whole image's indices.
#pragma once

#include "picts/pictbase.h"
#include "base/bytereader.h"

#include <vector>

class cPictGIF : public cPictBase {
public:
    cPictGIF();
    ~cPictGIF() override;

    static bool validFor(cFileIOTarget* stream, sPictInfo* info);

    int typeOf() override { return ptGIF; }
    // Header check; info gets the logical screen size.
    bool isPicture(cFileIOTarget* stream, sPictInfo* info) override;
    bool decode(cFileIOTarget* stream) override { return decodePage(stream, 0); }
    bool supportsExtRendering() override { return true; }
    bool supportsMultipage() override { return true; }
    // Images in the file; -1 when the walk meets an error before the trailer.
    int getNumPages(cFileIOTarget* stream) override;
    // The image descriptor's size (not the logical screen's).
    bool getPageSize(cFileIOTarget* stream, int page, int& w, int& h) override;
    bool decodePage(cFileIOTarget* stream, int page) override;
    bool decodePagePreview(cFileIOTarget* stream, cPictDummy& dst, long long maxW, long long maxH, int page,
                           bool allowDecode, unsigned int background) override;

    // The image descriptor: 9 bytes after the ',' introducer.
    struct sGIFImage {
        unsigned short left = 0, top = 0, width = 0, height = 0;
        unsigned char flags = 0;  // bit 7 local table, bit 6 interlaced, bits 0-2 table size
    };

protected:
    bool readValidateHeader(cByteReader& in, bool loadPalette);
    bool loadPalette(cByteReader& in, unsigned int count);
    // Positions in (made here, from the start of the stream) at the
    // descriptor of image `index` and loads its graphic control.  On failure
    // index becomes the number of images (trailer reached) or -1 (error).
    // full: also load the global palette.
    bool findImage(cFileIOTarget* stream, cPtr<cByteReader>& in, int& index, bool full);
    bool readDescriptor(cByteReader& in, sGIFImage& img);
    bool processDecode(cByteReader& in, sGIFImage& img);
    // Image row r (0 = top) from n indices (at most the width); the rest of
    // the row is left empty.
    void processRow(const unsigned char* indices, long long n, long long r);

    unsigned char header_[13];
    unsigned char control_[5];   // the graphic control of the image found
    bool hasControl_ = false;
    _typebuf<unsigned int> palette_;
    unsigned int paletteCount_ = 0;
    bool extActive_ = false;

private:
    // Where each image found so far begins (just after its ',') and the
    // graphic control that precedes it, so that decoding page after page does
    // not walk the file from the start each time.  Valid for one stream of
    // one size.
    struct sKnownImage {
        unsigned long long offset;
        unsigned char control[5];
        bool hasControl;
    };
    bool skipSubBlocks(cByteReader& in);
    void buildLookup();
    void forgetKnown();

    std::vector<sKnownImage> known_;
    cFileIOTarget* knownStream_ = nullptr;
    long long knownSize_ = -1;
    unsigned char knownHeader_[13];
    // The walk goes on from resumeAt_, the introducer after the first
    // resumeCount_ images.
    unsigned long long resumeAt_ = 0;
    int resumeCount_ = 0;
    unsigned int lookup_[256];         // index -> pixel, transparency folded in
    _typebuf<unsigned int> line_;
    _typebuf<unsigned char> part_;     // a row's indices split between two pieces
    struct sRows;
};
