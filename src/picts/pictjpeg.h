// JPEG (baseline, extended, progressive and lossless) decoded by
// libjpeg-turbo, read through the stream interface.
//
// cJPEGParser  one decompression: a source manager over a cFileIOTarget,
//              the library's errors turned into false (never an exit, never
//              a message on stderr), the size cap applied before the
//              library allocates, a bound on progressive scans, and the
//              count of bytes taken from the stream
// cPictJPEG    the decoder: 8-bit pixels, straight into an external render
//              target when one is set; the EXIF block's camera, time,
//              exposure, resolution, orientation and GPS values become
//              properties, and its thumbnail the embedded preview
//
// A container holding JPEG data (a DIB with compression 4) positions its
// stream at the data and calls cPictJPEG::decode, or decodeFrom for the
// stream-to-picture entry in one call; after a failure parser().bytesConsumed()
// tells how far the data reached.
#pragma once

#include "picts/pictbase.h"

#include <memory>

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
    long long width() const { return width_; }
    long long height() const { return height_; }
    // Colour components in the file (1 grey, 3 YCbCr/RGB, 4 CMYK/YCCK).
    int components() const { return components_; }
    bool progressive() const { return progressive_; }
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
    long long width_ = 0;
    long long height_ = 0;
    int components_ = 0;
    bool progressive_ = false;
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

    cJPEGParser parser_;
};
