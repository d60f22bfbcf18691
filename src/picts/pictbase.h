// The decoded picture and the base of every format decoder.
//
// cPictBase     size, one pixel buffer (8-bit 0xAARRGGBB or 16-bit B,G,R,A
//               u16 components from the low end), typed properties, and the
//               external render target that decoders draw into while they
//               decode.  Row 0 is the bottom row of the picture.
// cPictDummy    the plain in-memory picture: canvases, previews, fitted
//               results
// cPictProp...  the typed properties kept by id
//
// A decoder derives from cPictBase, overrides typeOf, isPicture and decode,
// and offers a static validFor(cFileIOTarget*, sPictInfo*).  Before it
// allocates its pixels it asks allocPixels8/allocPixels16 (or, for buffers
// of its own, checkPixelCount), which apply the one size cap of the library
// (kMaxPictPixels, pictlimits.h).
#pragma once

#include "base/buffers.h"
#include "base/fileio.h"
#include "base/timeutil.h"
#include "base/treelist.h"
#include "picts/pictlimits.h"

#include <cstdint>
#include <new>

class cPictBase;
class cPictDummy;

// Asked for passwords of encrypted pictures.  kind 0: the basic password;
// record points to an sSecurityRequest.
class cSecurityProviderRequestTarget {
public:
    virtual bool request(int kind, void* record) = 0;
    virtual ~cSecurityProviderRequestTarget() = default;
};

// The record of a password request: the answer comes back in `answer`, the
// text shown to the user goes in `prompt`.
struct sSecurityRequest {
    _guardchar<char> answer;
    _guardchar<char> reserved1;
    _guardchar<char> prompt;
    _guardchar<char> reserved2;
    int flag = 0;
};

// Told about drawing progress by decoders that report it (JBIG2 between
// segments, camera raw through LibRaw's stages).  Answering false stops the
// decode, which then fails: the way a caller stops a library that cannot be
// bounded from outside.
class cPictDrawProfressNotifyTarget {
public:
    virtual bool notifyDraw(double percent) = 0;
    virtual ~cPictDrawProfressNotifyTarget() = default;
};

// Corrects colours for decoders that carry colour profiles.
class cPictureColorsCorrector {
public:
    virtual bool correct(unsigned int* pixels, long long count) = 0;
    virtual ~cPictureColorsCorrector() = default;
};

// ---------------------------------------------------------------------------
// Properties

class cPictProp {
public:
    enum eKind { pkInt = 0, pkDouble = 1, pkTimestamp = 2, pkString = 3, pkImage = 4, pkRaw = 5 };
    virtual int typeOf() = 0;
    virtual ~cPictProp() = default;
};

class cPictPropInt : public cPictProp {
public:
    int typeOf() override { return pkInt; }
    int value = 0;
};

class cPictPropDouble : public cPictProp {
public:
    int typeOf() override { return pkDouble; }
    double value = 0.0;
};

class cPictPropTimestamp : public cPictProp {
public:
    int typeOf() override { return pkTimestamp; }
    sTimestamp value;
};

class cPictPropString : public cPictProp {
public:
    int typeOf() override { return pkString; }
    _guardchar<char> value;
};

class cPictPropImage : public cPictProp {
public:
    ~cPictPropImage() override;
    int typeOf() override { return pkImage; }
    // Owned; deleted with the property.
    cPictBase* value = nullptr;
};

class cPictPropRaw : public cPictProp {
public:
    int typeOf() override { return pkRaw; }
    _typebuf<unsigned char> value;
    long long offset = 0;  // where the bytes were found in the file
};

// ---------------------------------------------------------------------------

class cPictBase {
public:
    // Picture type ids, the result of typeOf.
    enum ePictType {
        ptNone = 0, ptJPEG = 1, ptTIFF = 2, ptPNG = 3, ptNEF = 4, ptDIB = 5, ptBMP = 6, ptICO = 7,
        ptJP2 = 8, ptJ2K = 9, ptCR2 = 10, ptGIF = 11, ptICNS = 12, ptCRW = 14, ptDNG = 15, ptMOS = 16,
        ptTIFF_EP = 17, pt3FR = 18, ptRAF = 19, ptRWL = 21, ptIIQ = 22, ptSRW = 23, ptPEF = 24,
        ptARW = 25, ptMRW = 26, ptORF = 27, ptX3F = 28, ptTGA = 29, ptPPM = 30, ptPCX = 31,
        ptDICOM = 32, ptDICOMLegacy = 33, ptXPM = 34, ptJBIG2 = 36, ptCR3 = 40
    };

    // Property ids; each has a fixed kind (kindOf).
    enum eExProps {
        epText = 0,           // string
        epCaptureTime = 1,    // timestamp
        epFileTime = 2,       // timestamp
        epMake = 3,           // string
        epModel = 4,          // string
        epExposureTime = 5,   // double
        epFNumber = 6,        // double
        epISOSpeed = 7,       // int
        epXResolution = 8,    // double
        epYResolution = 9,    // double
        epResolutionUnit = 10,// int
        epMirror = 11,        // int
        epRotation = 12,      // int
        epPreview = 13,       // image
        epAltImage = 14,      // image
        epGpsLatitude = 15,   // double
        epGpsLongitude = 16,  // double
        epGpsAltitude = 17,   // double
        epMetaWidth = 18,     // int
        epMetaHeight = 19,    // int
        epCompression = 20,   // int
        epMakerNote = 21,     // raw
        epLast = 21
    };

    enum eRotateDegrees { rd0 = 0, rd90 = 90, rd180 = 180, rd270 = 270 };

    struct sColorCompos8BPP {
        unsigned char b, g, r, a;
    };
    struct sColorCompos16BPP {
        unsigned short b, g, r, a;
    };
    struct sColorComposFloat {
        float b, g, r, a;
    };

    // What a probe reports.
    struct sPictInfo {
        long long width = 0;
        long long height = 0;
        bool hasPreview = false;
    };

    // A caller-owned render target.  Rows count like a picture buffer: row 0
    // is the bottom row.
    struct sExtPictDef {
        unsigned int* pixels = nullptr;
        long long width = 0;
        long long height = 0;
        long long originX = 0;   // scroll origin for mode 1
        long long originY = 0;
        unsigned int background = 0;
        double scale = 1.0;      // mode 1: the scale (above 1.0 lowered to 1.0)
        unsigned int mode = 0;   // 0 fit, 1 given scale; others refused
        enum eMode { mFit = 0, mScale = 1 };

        // Pixels, width and height from the picture's 8-bit buffer; null
        // leaves everything 0 but scale 1.0.
        explicit sExtPictDef(cPictBase* picture = nullptr);
    };

    // Results of the fitting operations.
    enum eFitResult {
        frOk = 0,
        frBadArgument = 1,
        frConversionFailed = 2,
        frNoDecoder = 3,
        frDecodeFailed = 4,
        frNoPreview = 5
    };

    cPictBase();
    virtual ~cPictBase();
    cPictBase(const cPictBase&) = delete;
    cPictBase& operator=(const cPictBase&) = delete;

    // --- virtual operations -------------------------------------------------
    virtual int typeOf() { return ptNone; }
    virtual bool is16Bpp() { return is16Bpp_; }
    // Recognises the format from the stream's current position; fills info.
    virtual bool isPicture(cFileIOTarget* stream, sPictInfo* info) = 0;
    // Decodes page 0.
    virtual bool decode(cFileIOTarget* stream) = 0;
    // The pixels as 8-bit pixels (16-bit ones converted by the 16-bit rule).
    virtual bool getColorData(_typebuf<unsigned int>& out);
    virtual long long width() { return width_; }
    virtual long long height() { return height_; }
    // Whether decode feeds an external render target itself.
    virtual bool supportsExtRendering() { return false; }
    virtual bool supportsMultipage() { return false; }
    virtual int getNumPages(cFileIOTarget*) { return 1; }
    virtual bool getPageSize(cFileIOTarget* stream, int page, int& w, int& h);
    virtual bool decodePage(cFileIOTarget* stream, int page);
    virtual bool decodePagePreview(cFileIOTarget* stream, cPictDummy& dst, long long maxW, long long maxH, int page,
                                   bool allowDecode, unsigned int background);
    // An embedded thumbnail; false: none.
    virtual bool getPreview(cFileIOTarget*, cPictBase&, const long long*, const long long*) { return false; }

    // --- pixels ---------------------------------------------------------------
    unsigned int* raw8Bpp() { return pixels8_.data(); }
    unsigned long long* raw16Bpp() { return pixels16_.data(); }
    double scale16Bpp() const { return scale16_; }
    void setScale16Bpp(double s) { scale16_ = s == 0.0 ? 256.0 : s; }
    int base16Bpp() const { return base16_; }
    void setBase16Bpp(int b) { base16_ = b < 0 ? 0 : (b > 65535 ? 65535 : b); }
    void setWantAlts(bool want) { wantAlts_ = want; }
    bool wantAlts() const { return wantAlts_; }

    // n 16-bit pixels into dst (sized to n) by the 16-bit rule.
    bool mk8BppFrom16Bpp(unsigned long long* src, long long n, _typebuf<unsigned int>& dst);
    // One 16-bit pixel by the 16-bit rule of this picture.
    unsigned int to8Bpp(unsigned long long pixel) const;
    bool moveToColorData(_typebuf<unsigned int>& out);
    void moveTo(cPictBase& dst);
    void close();
    bool stretchTo(int w, int h, cPictBase& dst);
    bool hStretchTo(int w, _typebuf<unsigned int>& out);
    bool hStretchTo(int w, _typebuf<unsigned long long>& out);
    bool flip();
    bool rotate(eRotateDegrees angle);
    bool autoScaleFrom(unsigned long long* data, long long w, long long h);
    bool autoScaleFrom(unsigned int* data, long long w, long long h);
    bool autoScaleFrom(cPictBase& src);

    // The one size check of the library: true when w x h is a picture this
    // library will allocate (both sides positive, each at most kMaxPictSide,
    // the product at most kMaxPictPixels and, at bytesPerPixel bytes each,
    // at most kMaxPictBytes: 16-bit pictures pass 8); count receives w x h.
    static bool checkPixelCount(long long w, long long h, long long* count = nullptr, int bytesPerPixel = 4);
    // Whether inputBytes of coded data may describe a picture of `pixels`
    // pixels (kMaxPixelsPerInputByte, kFreePictPixels), held at
    // bytesPerPixel bytes a pixel when the input is small (under
    // kSmallInputBytes: kSmallInputPictureBytes); an unknown input size
    // (negative) may describe any.  Decoders whose coding can describe area
    // without data refuse, or stop, past it.
    static bool inputCanDescribe(long long pixels, long long inputBytes, int bytesPerPixel = 4);
    // The same for bilevel codings (kMaxBilevelPixelsPerInputByte,
    // kFreeBilevelPixels): fax and JBIG2 pages.
    static bool bilevelCanDescribe(long long pixels, long long inputBytes, int bytesPerPixel = 4);
    // The same for camera raw sensor data (kMaxRawPixelsPerInputByte).
    static bool rawCanDescribe(long long pixels, long long inputBytes, int bytesPerPixel = 4);
    // The same for deflate data (kMaxDeflateRatio pixels a byte, nothing
    // free): PNG.
    static bool deflateCanDescribe(long long pixels, long long inputBytes, int bytesPerPixel = 4);
    // The pixel ceiling (kDefaultPixelCeiling unless raised): allocPixels8
    // and allocPixels16 refuse pictures of more pixels.  Process-wide;
    // setPixelCeiling takes 1 to kMaxPictPixels, anything else restores the
    // default.  A caller that must decode larger pictures whole (a viewer of
    // large scans) raises it, one that decodes what strangers send keeps it
    // or lowers it.
    static long long pixelCeiling();
    static void setPixelCeiling(long long pixels);
    // The largest pixel buffer, in bytes, that allocPixels8/16 made on this
    // thread since the last call with reset: tests hold decoders to memory
    // proportional to their input with it.
    static long long largestPixelBuffer(bool reset = false);
    // What decodes on this thread cost beyond their pixels, for a caller
    // that holds many of them to one budget (a document's pictures) and for
    // tests: the scans a decoder read, the samples those scans decoded (a
    // sample of every block of every component a scan covers, data or
    // not), and the largest buffer a decode held besides its picture (a
    // JPEG's whole-picture coefficients).  A decoder charges a scan or a
    // buffer before the work is done; a charge past a limit fails the
    // decode.  setDecodeMeter installs one for this thread (null: none) and
    // returns the one before.
    struct sDecodeMeter {
        unsigned long long scans = 0;
        unsigned long long work = 0, workLimit = ~0ULL;
        unsigned long long held = 0, heldLimit = ~0ULL;
        // A charge went past a limit: of work, or of a buffer held.
        bool refusedWork = false, refusedHeld = false;
        // False, charging nothing, past a limit.
        bool chargeScan(unsigned long long samples);
        bool chargeHeld(unsigned long long bytes);
        // Work a decoder weighs whole before it starts (a JPEG 2000
        // codestream's, in units of about a sample each), counted as work
        // without a scan.
        bool chargeWork(unsigned long long units);
    };
    static sDecodeMeter* setDecodeMeter(sDecodeMeter* meter);
    static sDecodeMeter* decodeMeter();
    // Sets the size and gives the picture an (uninitialised) buffer of that
    // kind, freeing the other; false, with the picture emptied, when the size
    // fails checkPixelCount, passes the pixel ceiling, or the memory cannot
    // be had.  Every decoder allocates its pixels through these.
    bool allocPixels8(long long w, long long h);
    bool allocPixels16(long long w, long long h);
    // A buffer of n elements (kept when it already has them); false instead
    // of the allocator's exception.  The one buffer-sizing helper of the
    // library: pixel buffers, rows, palettes, scanline and chunk buffers.
    template <typename T>
    static bool sizeBuffer(_typebuf<T>& buf, long long n) {
        if (n < 0) return false;
        if (buf.count() == n && buf.data()) return true;
        try {
            buf.set(n);
        } catch (const std::bad_alloc&) {
            return false;
        }
        return buf.count() == n;
    }

    // --- properties -----------------------------------------------------------
    // The kind a property id holds, -1 for an unknown id.
    static int kindOf(eExProps id);
    cPictProp* getProp(eExProps id, bool create);
    cPictPropInt* getPropInt(eExProps id);
    cPictPropDouble* getPropDouble(eExProps id);
    cPictPropTimestamp* getPropTimestamp(eExProps id);
    cPictPropString* getPropString(eExProps id);
    cPictPropImage* getPropImage(eExProps id);
    cPictPropRaw* getPropRaw(eExProps id);
    void removeProp(eExProps id);

    // --- collaborators --------------------------------------------------------
    void refSecurityProvider(cSecurityProviderRequestTarget* p);
    void setSecurityProvider(cSecurityProviderRequestTarget* p);
    void refPictureColorsCorrector(cPictureColorsCorrector* c) { colorsCorrector_ = c; }
    void refPictDrawProgress(cPictDrawProfressNotifyTarget* t) { drawProgress_ = t; }
    bool getBasicEncryptionPassword(_guardchar<char>& out, char* text);

    // --- external render target ------------------------------------------------
    bool setExtTarget(sExtPictDef* target);
    bool checkNeedExtRender();
    bool isExtRender() const { return ext_ != nullptr; }
    bool startExtRender();
    bool canExtRender(long long x0, long long x1, long long y0, long long y1) const;
    bool setExtPix(long long x, long long y, unsigned int pixel);
    bool setExtPix16(long long x, long long y, unsigned long long pixel);
    // n pixels of row y at x0, x0 + step, ...: exactly what setExtPix would do
    // with each, in one call.
    bool setExtRow(long long y, const unsigned int* line, long long n, long long x0 = 0, long long step = 1);
    bool setExtComp(long long x, long long y, unsigned char value, int component);
    bool setExtComp16(long long x, long long y, unsigned short value, int component);
    void endExtRender();
    bool toExtTarget(sExtPictDef* target);
    // The render state, for tests and for decoders that need the geometry.
    double extScale() const { return extScale_; }
    long long extLeft() const { return extLeft_; }
    long long extTop() const { return extTop_; }
    long long extScaledWidth() const { return scaledW_; }
    long long extScaledHeight() const { return scaledH_; }
    sExtPictDef* extTarget() const { return ext_; }

    static bool transform(const unsigned char* src, long long sw, long long sh, unsigned char* dst, long long dw,
                          long long dh, bool mirror, bool flip);
    static bool transform(const unsigned int* src, long long sw, long long sh, unsigned int* dst, long long dw,
                          long long dh, bool mirror, bool flip);
    static bool transform(const unsigned long long* src, long long sw, long long sh, unsigned long long* dst,
                          long long dw, long long dh, bool mirror, bool flip);

    // n pixels of 3 bytes B, G, R at src into opaque 0xAARRGGBB words: the
    // one conversion of the 24-bit rows of TGA and BMP files.
    static void bgrToPixels(const unsigned char* src, unsigned int* dst, long long n);

    // The fitted size of w x h in maxW x maxH, never enlarged: both sides
    // scaled by the smaller of maxW / w and maxH / h, rounded to the nearest
    // pixel and at least 1 (a long thin picture keeps a pixel across).  A
    // limit of 0 or less does not restrict (the factory's height 0 fits the
    // width alone).  False only for a picture without a size.  The one
    // rounding of the library: the factory, previews, icon and GIF frames and
    // the executables' icons all fit through it.
    static bool fitSize(long long w, long long h, long long maxW, long long maxH, long long& fw, long long& fh);

    // --- previews ---------------------------------------------------------------
    static int getPreviewFor(cPictBase* pict, sPictInfo& info, cFileIOTarget* stream, cPictDummy& dst, long long maxW,
                             long long maxH, bool allowDecode, unsigned int background);
    static bool imgToPreview(cPictBase& pict, cPictDummy& dst, long long maxW, long long maxH,
                             unsigned int background);

    // --- the format factory (pictfactory.cpp) --------------------------------
    static cPictBase* mkPicture(cFileIOTarget* stream, sPictInfo* info);
    static int getImage(cFileIOTarget* stream, cPictDummy& dst, long long maxW, long long maxH,
                        unsigned int background);
    static int getPreview(cFileIOTarget* stream, cPictDummy& dst, long long maxW, long long maxH, bool allowDecode,
                          unsigned int unused);

protected:
    // The start of a decode into a picture that may hold an earlier one: the
    // size is forgotten but the pixel buffers are kept, so that allocPixels8
    // and allocPixels16 write over a buffer of the size they need instead of
    // giving mapped memory back and asking for it again.  dropStalePixels,
    // at the end of the decode, frees what the new picture did not take.
    void reopen() { width_ = height_ = 0; }
    void dropStalePixels() {
        const long long n = width_ * height_;
        if (is16Bpp_ || pixels8_.count() != n) pixels8_.set(0);
        if (!is16Bpp_ || pixels16_.count() != n) pixels16_.set(0);
    }

    // Area-average scaler: source of sw x sh (row stride srcStride) into the
    // dw x dh area at dst (row stride `stride`), r source pixels per
    // destination pixel.
    template <typename P>
    static void doScale(const P* src, long long sw, long long sh, long long srcStride, unsigned int* dst,
                        long long dw, long long dh, long long stride, double r);
    void fillMargins(long long areaW, long long areaH);
    template <typename P>
    bool copyRowsToTarget(const P* src, long long srcStride, long long x0, long long y0, long long w, long long h);

    cSecurityProviderRequestTarget* security_ = nullptr;
    cSecurityProviderRequestTarget* ownedSecurity_ = nullptr;
    cPictDrawProfressNotifyTarget* drawProgress_ = nullptr;
    cPictureColorsCorrector* colorsCorrector_ = nullptr;
    long long width_ = 0;
    long long height_ = 0;
    double scale16_ = 256.0;
    int base16_ = 0;
    bool is16Bpp_ = false;
    _typebuf<unsigned int> pixels8_;
    _typebuf<unsigned long long> pixels16_;
    bool wantAlts_ = true;
    cFasterTreeList<eExProps, cPtr<cPictProp> > props_{512};

    // External render state.
    _typebuf<sColorComposFloat> accum_;
    _typebuf<float> weights_;
    long long scaledW_ = 0;
    long long scaledH_ = 0;
    sExtPictDef* ext_ = nullptr;
    long long extLeft_ = 0;
    long long extTop_ = 0;
    double extScale_ = 1.0;
    long long spanX0_ = 0, spanX1_ = 0, spanY0_ = 0, spanY1_ = 0;

    friend class cPictDummy;

private:
    void addToBin(long long j, long long i, const double comps[4], double weight);
    bool splat(double fx, double fy, const double comps[4], bool componentOnly, int component);
};

// The plain in-memory picture.
class cPictDummy : public cPictBase {
public:
    cPictDummy() = default;
    ~cPictDummy() override = default;
    bool isPicture(cFileIOTarget*, sPictInfo*) override { return false; }
    bool decode(cFileIOTarget*) override { return false; }

    bool create_und(long long w, long long h);
    bool create16_und(long long w, long long h);
    bool create(long long w, long long h, unsigned int colour);
    bool create16(long long w, long long h, unsigned long long colour);
    // Adopts the caller's array (no copy); the buffer receives the previous one.
    bool create(_typebuf<unsigned int>& pixels, long long w, long long h);
};
