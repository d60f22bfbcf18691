// cSiDocLoader: turns a compiled document ("QORHDOCF") back into one box
// tree per language, with the fonts, link targets and pictures the trees
// refer to.  It is the trees' font provider and must outlive every viewer
// that shows one of them.
//
// Compiled document, little-endian:
//   "QORHDOCF"
//   language blocks, ascending ids: u8 id, u32 length L > 0, L bytes of zlib
//   0xFF
//   u32 FL, FL bytes of zlib: font table, 8 bytes an entry
//       {u16 face, u16 width, u16 height, u8 style bits (1 bold, 2 italic,
//        4 underline), u8 0}
//   u32 SL, SL bytes of zlib: string table {u16 n, n bytes}...
//   u32 IL, IL bytes: image table {u32 n, n bytes of a picture file}...
//   (an entry of length 0 takes no id)
// A language block inflates to the records of its root container, ended by
// 0xFF; every record begins with a type byte and a common header:
//   0 type, 1 u32 background, 5 u8 break, 6 u16 left, 8 right, 10 top,
//   12 bottom margin, 14 u16 width, 16 u16 height (0xFFFF natural)
//   type 0 text run:      18 u32 colour, 22 u16 font, 24 u16 n, 26 text
//   type 3 link text run: as type 0, 26 u16 string id, 28 text
//   type 2 container:     18 u32 colour, 22 u16 font, 24 u8 alignment;
//                         its records follow, ended by 0xFF
//   type 1 picture:       18 u16 image id
//   type 4 linked picture: as type 1, 20 u16 string id
//
// What a document costs is held to a budget (cSiDocBudget) that the
// documents of one payload share: the records, the boxes and tables made of
// them, and the pictures, each decoded once the boxes are read as no more
// than the top-left part its boxes draw (none when no box draws it).  Work
// counts too: a picture's decoder reads all of it whatever part is kept.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/bytereader.h"
#include "cihlpdoc/hdoclimits.h"
#include "cihlpdoc/sidoc.h"
#include "picts/pictbase.h"

// What the documents of one payload may spend together, however many there
// are and however often one is loaded again: bytes held at once (records
// being read, the boxes, fonts and link targets made of them, pictures as
// they are drawn) and work done (bytes inflated, pixels decoded).  Loaders
// that share one take from it as they go and give their bytes back when
// they are destroyed; work is never given back.  The first thing refused
// ends the load that asked and is remembered.
class cSiDocBudget {
public:
    enum eOverrun { ovNone = 0, ovMemory = 1, ovWork = 2 };

    explicit cSiDocBudget(std::size_t bytes = kMaxHdocHeldBytes, unsigned long long work = kMaxHdocWork)
        : mLimit(bytes), mWorkLimit(work) {}

    // Takes n bytes; false, taking nothing, when they do not fit.
    bool hold(std::size_t n);
    void release(std::size_t n) { mHeld -= n < mHeld ? n : mHeld; }
    // Takes n units of work; false, taking nothing, past the limit.
    bool spend(unsigned long long n);
    // Notes an overrun found elsewhere (a decoder that stopped at what was
    // left of the budget), unless one was noted first.
    void refuse(eOverrun which) {
        if (mOverrun == ovNone) mOverrun = which;
    }

    std::size_t held() const { return mHeld; }
    std::size_t peak() const { return mPeak; }
    unsigned long long spent() const { return mSpent; }
    std::size_t limit() const { return mLimit; }
    unsigned long long workLimit() const { return mWorkLimit; }
    // The first thing refused.
    eOverrun overrun() const { return mOverrun; }
    // What such a refusal means, in words; empty for ovNone.
    std::string describe(eOverrun which) const;

private:
    std::size_t mLimit;
    unsigned long long mWorkLimit;
    std::size_t mHeld = 0;
    std::size_t mPeak = 0;
    unsigned long long mSpent = 0;
    eOverrun mOverrun = ovNone;
};

class cSiDocLoader : public cSiDocFontProvider {
public:
    // The tag numbers of the markup; 0 is the document root.
    enum eKnownTags { ktNone = 0, ktText = 1, ktLink = 2, ktImg = 3, ktBr = 4, ktLt = 5, ktB = 6, ktI = 7 };

    // Why a load failed.
    enum eFault { lfNone = 0, lfMalformed = 1, lfPicture = 2, lfOverBudget = 3 };

    struct sIntFontDef {
        int face = 0;
        int width = 0;
        int height = 0;
        bool bold = false;
        bool underline = false;
        bool italic = false;
    };

    struct sLangDecodePtr {
        cByteReader in;
        int depth = 0;
    };

    cSiDocLoader() = default;
    ~cSiDocLoader() override { destroy(); }
    cSiDocLoader(const cSiDocLoader&) = delete;
    cSiDocLoader& operator=(const cSiDocLoader&) = delete;

    // The caller keeps the buffer; the loader copies what it keeps.  Without
    // a budget the document has one of its own; loaders given the same one
    // share it (the documents of a payload).
    bool load(const unsigned char* data, long long size);
    bool load(const unsigned char* data, long long size, const std::shared_ptr<cSiDocBudget>& budget);
    bool load(const char* path);
    cSiDocContainer* forLang(int lang);
    cFontObject* font(unsigned int id) override;
    // Frees everything and gives what it held back to the budget.
    void destroy();

    // Why the last load failed (lfNone after one that did not), and in
    // words for a message.
    eFault fault() const { return mFault; }
    std::string describeFault() const;

    // The picture a file of the image table becomes: probed by the picture
    // factory, decoded from its start, flipped when the toolkit keeps rows
    // bottom up, and made a cPicture of its 32-bit pixels.  Null when any
    // step fails, which fails a load; the compiler takes no file this
    // refuses, so that every document it writes can be loaded.
    static std::unique_ptr<cPicture> decodePicture(const unsigned char* file, std::size_t n);

    // The heap bytes that the box of a record of this type with a text of
    // this many bytes costs a budget, what the compiler counts as well.
    static std::size_t boxCost(int type, std::size_t textBytes);

    // What was loaded, for those who examine a document.  A picture that no
    // box draws is recognised but not decoded, and one that every box
    // shows only a part of is decoded as that part (see getImages).
    std::size_t pictureCount() const { return mPictures.size(); }
    cPicture* picture(int id);
    const char* linkTarget(int id);
    const sIntFontDef* fontDef(int id) const;

private:
    // A file of the image table, as its probe saw it, and the most of it
    // (from its top-left corner) that any box draws.
    struct sImageEntry {
        const unsigned char* file = nullptr;
        std::size_t size = 0;
        long long width = 0, height = 0;
        long long drawnW = 0, drawnH = 0;
        // Decoded as the drawn part alone.
        bool cropped = false;
    };

    bool decodeFontDefs(const unsigned char* data, long long n);
    bool decodeStringDefs(const unsigned char* data, long long n);
    // Reads the image table and probes every file in it; the pictures are
    // decoded by decodeDrawn once the boxes say how much of each is drawn.
    bool getImages(const unsigned char* data, long long n);
    bool decodeDrawn();
    std::unique_ptr<cPicture> decodePart(sImageEntry& e);
    bool processLang(cSiDocContainer* container, sLangDecodePtr& ptr);
    // Inflates one zlib block, holding what it makes for as long as the
    // caller keeps it (`held` grows by that) and spending a unit a byte.
    bool inflateBlock(const unsigned char* data, std::size_t n, std::vector<unsigned char>& out, std::size_t& held);
    bool inflateRun(const unsigned char* data, std::size_t n, unsigned char* out, std::size_t room, std::size_t& made);
    // Takes from the budget for as long as the document is loaded.
    bool hold(std::size_t n);
    bool spend(unsigned long long n);
    // Charges what a picture's decode reported through its meter (the work
    // of its scans, the buffers held besides it); false, failing the load,
    // when the meter refused a charge or the budget cannot take it.
    bool chargeDecode(const cPictBase::sDecodeMeter& meter);
    bool fail(eFault why) {
        if (mFault == lfNone) mFault = why;
        return false;
    }

    std::map<int, std::unique_ptr<cPicture> > mPictures;
    std::map<int, std::string> mLinks;
    std::map<int, sIntFontDef> mFonts;
    std::map<int, std::unique_ptr<cSiDocContainer> > mDocs;
    std::vector<sImageEntry> mImages;
    std::vector<std::pair<cSiDocImage*, int> > mImageBoxes;
    std::shared_ptr<cSiDocBudget> mBudget;
    std::size_t mHeld = 0;
    eFault mFault = lfNone;
    cSiDocBudget::eOverrun mOverrun = cSiDocBudget::ovNone;
};
