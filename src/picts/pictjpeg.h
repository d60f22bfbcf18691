// JPEG (baseline, extended, progressive and lossless) decoded by
// libjpeg-turbo, read through the stream interface.
//
// cJPEGParser  one decompression: a source manager over a cFileIOTarget,
//              the library's errors turned into false (never an exit, never
//              a message on stderr), the size cap applied before the
//              library allocates, the scans and coefficients charged to
//              a cJPEGBudget, and the count of bytes taken from the stream
// cJPEGBudget  what one picture's JPEG data may cost, whichever door it
//              came through: the parser charges it from inside libjpeg,
//              codecs that hand data to libjpeg themselves (libtiff's)
//              walk the data's markers into it first
// cPictJPEG    the decoder: 8-bit pixels, straight into an external render
//              target when one is set; the EXIF block's camera, time,
//              exposure, resolution, orientation and GPS values become
//              properties, and its thumbnail the embedded preview: decoded
//              on the picture's own budget, and without a thumbnail of its
//              own (a thumbnail's EXIF block may hold one in turn, and so
//              on as deep as the bytes allow)
//
// A container holding JPEG data (a DIB with compression 4) positions its
// stream at the data and calls cPictJPEG::decode, or decodeFrom for the
// stream-to-picture entry in one call; after a failure parser().bytesConsumed()
// tells how far the data reached.
#pragma once

#include "picts/pictbase.h"

#include <memory>

class cByteReader;

// The work and memory of one picture's JPEG data, charged before libjpeg
// does it (pictlimits.h, kJpegScanBudget): every scan is charged the
// samples it decodes, each frame that libjpeg holds whole as coefficients
// (more than one scan) its coefficients, and the pictures of all its
// frames together must be ones the input may describe.  The frames and
// scans of a TIFF's strips go to one budget together, and so do a picture
// and the EXIF thumbnail decoded with it.  The thread's decode meter
// (cPictBase::decodeMeter), when there is one, is charged the same.
class cJPEGBudget {
public:
    static constexpr int kComponentsMost = 10;  // libjpeg's MAX_COMPONENTS

    // One frame as libjpeg lays it out: each component's blocks.
    struct sFrame {
        long long width = 0, height = 0;
        int components = 0;
        long long blocks[kComponentsMost] = {};
        // Progressive, or sequential with fewer components in its first scan
        // than in the frame: every scan is read before the first row.
        bool multiScan = false;
        // The frame's size and sampling factors (h[i], v[i] 1..4); false for
        // what libjpeg refuses.
        bool set(long long w, long long h, int n, const int* hs, const int* vs);
        // Samples a scan of these components decodes (64 a block).
        unsigned long long samples(const int* which, int n) const;
        // The coefficients libjpeg holds whole for it (0 for one scan).
        unsigned long long coefficientBytes() const;
    };

    // Held to `inputBytes` of coded data (negative: unknown, held only by
    // the scan count and the meter).
    explicit cJPEGBudget(long long inputBytes = -1) : input_(inputBytes) {}
    void setInput(long long inputBytes) { input_ = inputBytes; }

    // A frame about to be laid out, with the picture it makes: false when
    // its pixels and coefficients, or the pixels of every frame charged so
    // far, are more than the input describes.
    bool frame(const sFrame& f);
    // A scan of the last frame's components at indexes `which`, about to
    // be read: false past the scan count or the work the input allows.
    bool scan(const int* which, int n);
    // The markers of one whole JPEG stream (start of image to end of
    // image), walked without decoding: its frame and scans charged as
    // libjpeg would meet them.  The bytes walked count as work too.
    bool walk(cByteReader& in, unsigned long long length);

    int scans() const { return scans_; }
    int frames() const { return frames_; }
    unsigned long long work() const { return work_; }
    unsigned long long coefficientBytes() const { return held_; }
    unsigned long long pixels() const { return pixels_; }

private:
    bool charge(unsigned long long samples);

    long long input_;
    sFrame frame_;
    int scans_ = 0;
    int frames_ = 0;
    unsigned long long work_ = 0;
    unsigned long long held_ = 0;    // the largest frame's coefficients
    unsigned long long pixels_ = 0;  // of every frame
};

class cJPEGParser {
public:
    cJPEGParser();
    ~cJPEGParser();
    cJPEGParser(const cJPEGParser&) = delete;
    cJPEGParser& operator=(const cJPEGParser&) = delete;

    // Reads the markers up to the first scan from the stream's current
    // position; false when the bytes are not a JPEG the library accepts or
    // the picture is larger than the library's size cap.
    bool readHeader(cFileIOTarget* stream);
    // The decodes after this charge `shared`, held to the input it was
    // given, instead of a budget of their own held to their stream's bytes:
    // JPEG data that came inside a picture (its EXIF thumbnail) is paid for
    // from that picture's budget.  Null: a budget of their own again.
    void chargeTo(cJPEGBudget* shared) { shared_ = shared; }
    long long width() const { return width_; }
    long long height() const { return height_; }
    // Colour components in the file (1 grey, 3 YCbCr/RGB, 4 CMYK/YCCK).
    int components() const { return components_; }
    bool progressive() const { return progressive_; }
    // Whether libjpeg reads every scan before the first row (progressive,
    // or the first scan lacks a component).
    bool multiScan() const { return multiScan_; }
    // What the decode was charged so far (the shared budget when there is
    // one).
    const cJPEGBudget& budget() const;
    // The budget the decode charges, to charge more to it; null before a
    // header was read.
    cJPEGBudget* charging();
    // The TIFF structure of the first APP1 "Exif" segment (empty if none).
    const _typebuf<unsigned char>& exif() const { return exif_; }

    // After readHeader: starts the decompression; rows then come top row
    // first as 8-bit 0xAARRGGBB pixels, alpha 0xFF.
    bool start();
    // The next row into `row` (width() pixels); false on damaged data.
    bool readRow(unsigned int* row);
    // The next `count` rows, row k at rows + k * stride pixels (a negative
    // stride stores them upwards), many to a library call; false on damaged
    // data.
    bool readRows(unsigned int* rows, long long stride, long long count);
    // Reads to the end of the image; false when the tail is damaged.
    bool finish();
    // Forgets the stream and the library state.
    void reset();

    // Bytes taken from the stream and used by the library (read ahead but
    // not yet parsed bytes do not count).
    unsigned long long bytesConsumed() const;

    struct sState;  // the library's objects

private:
    std::unique_ptr<sState> st_;
    cJPEGBudget* shared_ = nullptr;
    long long width_ = 0;
    long long height_ = 0;
    int components_ = 0;
    bool progressive_ = false;
    bool multiScan_ = false;
    bool cmyk_ = false;
    bool inverted_ = false;  // Adobe CMYK: the samples are stored inverted
    _typebuf<unsigned char> exif_;
};

class cPictJPEG : public cPictBase {
public:
    cPictJPEG();
    ~cPictJPEG() override;

    static bool validFor(cFileIOTarget* stream, sPictInfo* info);

    int typeOf() override { return ptJPEG; }
    bool isPicture(cFileIOTarget* stream, sPictInfo* info) override;
    // Decodes from the stream's current position.
    bool decode(cFileIOTarget* stream) override;
    bool supportsExtRendering() override { return true; }
    // The EXIF thumbnail, decoded, at its own size (the caller fits it).
    bool getPreview(cFileIOTarget* stream, cPictBase& dst, const long long* maxW, const long long* maxH) override;

    // Decodes the JPEG at the stream's current position into `into` (its
    // 8-bit buffer and size); false leaves `into` empty.  For containers
    // that embed JPEG data.
    static bool decodeFrom(cFileIOTarget* stream, cPictBase& into, unsigned long long* consumed = nullptr);

    cJPEGParser& parser() { return parser_; }

    // Where the EXIF thumbnail lies inside an EXIF block; false if none.
    static bool findThumbnail(const _typebuf<unsigned char>& exif, std::size_t& offset, std::size_t& length);

private:
    // The EXIF values as properties, the thumbnail as the preview property.
    void storeExif(const _typebuf<unsigned char>& exif);
    // The thumbnail of an EXIF block, decoded into `into` and charged to
    // `budget`; its own EXIF block is not read.
    static bool decodeThumbnail(const _typebuf<unsigned char>& exif, cPictBase& into, cJPEGBudget& budget);

    cJPEGParser parser_;
    // Set while decoding a thumbnail: the budget it is charged to, and no
    // EXIF values or thumbnail of its own.
    cJPEGBudget* within_ = nullptr;
};
