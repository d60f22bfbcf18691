// File-property readers: a file described by a few numbered properties (size,
// pages, a preview picture, version strings, a timestamp) and by an object
// type with its default extension, MIME type, display name and media type.
//
//   cFileObjectProps    the abstract base: the five property maps and the
//                       object-type tables; guessObj picks the reader.
//   cSimpleImageProps   any picture that the format factory recognises.
//   cWinExeProps        Windows executables (PE/COFF): version strings, link
//                       time and the best-fitting icon (winexeprops.cpp).
#pragma once

#include "base/buffers.h"
#include "base/fileio.h"
#include "base/lists.h"
#include "base/strkey.h"
#include "base/timeutil.h"
#include "base/treelist.h"
#include "picts/pictbase.h"

class cFileObjectProps {
public:
    // Property kinds.
    enum ePropKind { pkNone = 0, pkInt = 1, pkString = 2, pkFloat = 3, pkPicture = 4, pkTime = 5 };
    // Property ids that the readers fill.
    enum eFileProp {
        fpWidth = 0,
        fpHeight = 1,
        fpPages = 2,
        fpPreview = 3,
        fpProductName = 6,
        fpDescription = 7,
        fpCompany = 8,
        fpCopyright = 9,
        fpProductVersion = 11,
        fpLinkTime = 13,
        fpLast = 19
    };
    // Object types, the result of typeOf.
    enum eObjType { otExe = 0, otGenericImage = 14, otLast = 32 };

    cFileObjectProps();
    virtual ~cFileObjectProps();
    cFileObjectProps(const cFileObjectProps&) = delete;
    cFileObjectProps& operator=(const cFileObjectProps&) = delete;

    virtual int typeOf() = 0;
    virtual bool load(cFileIOTarget* target, int flags, bool preview) = 0;
    virtual void close();

    // The reader that fits the stream, owned by the caller; null when none.
    static cFileObjectProps* guessObj(cFileIOTarget* target);

    void setPreviewPreferrences(int maxWidth, int maxHeight) {
        previewMaxW_ = maxWidth;
        previewMaxH_ = maxHeight;
    }
    int previewMaxWidth() const { return previewMaxW_; }
    int previewMaxHeight() const { return previewMaxH_; }

    int* prop_int(int id) { return ints_.find(id); }
    double* prop_float(int id) { return floats_.find(id); }
    char* prop_string(int id);
    cPictDummy* prop_pict(int id) { return picts_.find(id); }
    sTimestamp* prop_time(int id) { return times_.find(id); }
    bool has_prop(int id);
    static int prop_type(int id);

    bool setProp(int id, int value);
    bool setProp(int id, double value);
    bool setProp(int id, char* text);
    bool setProp(int id, char* text, long long n);
    bool setProp(int id, sTimestamp& time);
    bool setProp(int id, cPictBase* pict);

    static char const* default_extension(int type);
    static char const* content_type(int type);
    static char const* type_name(int type);
    static int media_type(int type);
    char const* default_extension() { return default_extension(typeOf()); }
    char const* content_type() { return content_type(typeOf()); }
    char const* type_name() { return type_name(typeOf()); }
    int media_type() { return media_type(typeOf()); }

protected:
    int previewMaxW_ = -1;  // below 0: unlimited; 0: no preview
    int previewMaxH_ = -1;
    cFasterTreeList<int, int> ints_;
    cFasterTreeList<int, double> floats_;
    cFasterTreeList<int, _guardchar<char> > strings_;
    cFasterTreeList<int, cPictDummy> picts_;
    cFasterTreeList<int, sTimestamp> times_;
};

class cSimpleImageProps : public cFileObjectProps {
public:
    // Takes ownership of pict (a probed, undecoded decoder; may be null).
    explicit cSimpleImageProps(cPictBase* pict);
    ~cSimpleImageProps() override;

    int typeOf() override { return type_; }
    bool load(cFileIOTarget* target, int flags, bool preview) override;

    // The object type of a picture type.
    static int objectTypeOf(int pictType);

private:
    cPictBase* pict_ = nullptr;
    int type_ = otGenericImage;
};

class cWinExeProps : public cFileObjectProps {
public:
    // One section header as stored in the file.
    struct sImageSectionHeader {
        unsigned char name[8];
        unsigned int virtualSize;
        unsigned int virtualAddress;
        unsigned int sizeOfRawData;
        unsigned int pointerToRawData;
        unsigned int pointerToRelocations;
        unsigned int pointerToLinenumbers;
        unsigned short numberOfRelocations;
        unsigned short numberOfLinenumbers;
        unsigned int characteristics;
    };
    // One resource instance of the resource tree.
    struct sResRef {
        unsigned int address;   // relative to the image base
        unsigned int size;
        unsigned int language;  // the language-level entry's key
    };
    using tLangList = _List<sResRef>;
    using tNameMap = cFasterTreeList<int, tLangList>;
    using tTypeMap = cFasterTreeList<int, tNameMap>;
    using tStringMap = cFasterTreeList<cStringKey, _guardchar<char> >;

    // Limits against hostile files.
    static constexpr int kMaxVersionDepth = 8;                      // nesting of version blocks

    int typeOf() override { return otExe; }
    bool load(cFileIOTarget* target, int flags, bool preview) override;

    static bool validFor(cFileIOTarget* target);

    static bool parseResources(unsigned char* data, long long size, tTypeMap& out);
    static bool parseResNames(unsigned char* data, long long size, unsigned int offset, tNameMap& out);
    static bool parseResLangs(unsigned char* data, long long size, unsigned int offset, tLangList& out);
    static bool loadStrProps(cFileIOTarget* target, tStringMap& out);

private:
    struct sHeaders;
    static bool readHeaders(cFileIOTarget* target, sHeaders& h);
    static bool loadStrProps(cFileIOTarget* target, tStringMap& out, int depth);
    void loadVersion(cFileIOTarget* target, const sHeaders& h, tTypeMap& tree);
    void loadIcon(cFileIOTarget* target, const sHeaders& h, tTypeMap& tree);
};
