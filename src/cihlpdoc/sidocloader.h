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
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/bytereader.h"
#include "cihlpdoc/sidoc.h"

class cSiDocLoader : public cSiDocFontProvider {
public:
    // The tag numbers of the markup; 0 is the document root.
    enum eKnownTags { ktNone = 0, ktText = 1, ktLink = 2, ktImg = 3, ktBr = 4, ktLt = 5, ktB = 6, ktI = 7 };

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

    // The caller keeps the buffer; the loader copies what it keeps.
    bool load(const unsigned char* data, long long size);
    bool load(const char* path);
    cSiDocContainer* forLang(int lang);
    cFontObject* font(unsigned int id) override;
    void destroy();

    // The picture a file of the image table becomes: probed by the picture
    // factory, decoded from its start, flipped when the toolkit keeps rows
    // bottom up, and made a cPicture of its 32-bit pixels.  Null when any
    // step fails, which fails a load; the compiler takes no file this
    // refuses, so that every document it writes can be loaded.
    static std::unique_ptr<cPicture> decodePicture(const unsigned char* file, std::size_t n);

    // What was loaded, for those who examine a document.
    std::size_t pictureCount() const { return mPictures.size(); }
    cPicture* picture(int id);
    const char* linkTarget(int id);
    const sIntFontDef* fontDef(int id) const;

private:
    bool decodeFontDefs(const unsigned char* data, long long n);
    bool decodeStringDefs(const unsigned char* data, long long n);
    bool getImages(const unsigned char* data, long long n);
    bool processLang(cSiDocContainer* container, sLangDecodePtr& ptr);
    // Inflates one zlib block within what is left of the document's budget.
    bool inflateBlock(const unsigned char* data, std::size_t n, std::vector<unsigned char>& out);

    std::map<int, std::unique_ptr<cPicture> > mPictures;
    std::map<int, std::string> mLinks;
    std::map<int, sIntFontDef> mFonts;
    std::map<int, std::unique_ptr<cSiDocContainer> > mDocs;
    std::size_t mBudget = 0;
};
