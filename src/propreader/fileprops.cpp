// The property store, the object-type tables, the reader chooser and the
// reader for pictures of any format the factory knows.
#include "propreader/fileprops.h"

#include <climits>

namespace {

// Kind of each property id 0..19.
const int kPropKinds[20] = {
    cFileObjectProps::pkInt,     cFileObjectProps::pkInt,    cFileObjectProps::pkInt,    cFileObjectProps::pkPicture,
    cFileObjectProps::pkInt,     cFileObjectProps::pkInt,    cFileObjectProps::pkString, cFileObjectProps::pkString,
    cFileObjectProps::pkString,  cFileObjectProps::pkString, cFileObjectProps::pkString, cFileObjectProps::pkString,
    cFileObjectProps::pkTime,    cFileObjectProps::pkTime,   cFileObjectProps::pkString, cFileObjectProps::pkString,
    cFileObjectProps::pkInt,     cFileObjectProps::pkFloat,  cFileObjectProps::pkFloat,  cFileObjectProps::pkFloat};

struct sObjType {
    const char* extension;
    const char* mime;
    const char* name;
    int media;  // 0 executable, 1 picture, 3 video
};

const sObjType kObjTypes[33] = {
    {"exe", "application/x-msdownload", "Microsoft Application", 0},
    {"bmp", "image/bmp", "Bitmap Image File", 1},
    {"dcm", "application/dicom", "Digital Imaging and Communications in Medicine", 1},
    {"gif", "image/gif", "Graphics Interchange Format", 1},
    {"icns", "image/icns", "Apple Icon Image", 1},
    {"ico", "image/ico", "Windows Icon Image", 1},
    {"jpf", "image/jpf", "JPEG 2000 Image", 1},
    {"jp2", "image/jp2", "JPEG 2000 Image", 1},
    {"jpg", "image/jpeg", "JPEG Image", 1},
    {"pcx", "image/x-pcx", "PCX Image", 1},
    {"png", "image/png", "Portable Network Graphics", 1},
    {"ppm", "image/x-portable-pixmap", "Portable Pixmap Format", 1},
    {"tga", "image/x-tga", "Truevision TGA", 1},
    {"tiff", "image/tiff", "Tagged Image File Format", 1},
    {"pict", "image/x-image", "Generic Image", 1},
    {"arw", "image/x-sony-arw", "SONY Raw Image", 1},
    {"cr2", "image/x-canon-cr2", "CANON Raw Image", 1},
    {"crw", "image/x-canon-crw", "CANON Legacy Raw Image", 1},
    {"dng", "image/x-adobe-dng", "Digital Negative Format", 1},
    {"h3f", "image/x-hasselblad-h3f", "Hasselblad Raw Image", 1},
    {"iiq", "image/x-phaseone-iiq", "Phase One Raw Image", 1},
    {"mos", "image/x-mamiya-mos", "Mamiya Leaf Raw Image", 1},
    {"mrw", "image/x-minolta-mrw", "Minolta Raw Image", 1},
    {"nef", "image/x-nikon-nef", "NIKON Raw Image", 1},
    {"orf", "image/x-olympus-orf", "Olympus Raw Image", 1},
    {"pef", "image/x-pentax-pef", "PENTAX Raw Image", 1},
    {"raf", "image/x-fujifilm-raf", "Fujifilm Raw Image", 1},
    {"rwl", "image/x-panasonic-rwl", "Panasonic Raw Image", 1},
    {"srw", "image/x-samsung-srw", "SAMSUNG Raw Image", 1},
    {"tiff", "image/x-tiff-ep", "TIFF for Electronic Photography", 1},
    {"x3f", "image/x-sigma-x3f", "Sigma Raw Image", 1},
    {nullptr, "video/mp4", "QT/MP4", 3},
    {nullptr, "video/avi", "RIFF/AVI", 3}};

const sObjType* objType(int type) {
    if (type < 0 || type > cFileObjectProps::otLast) return nullptr;
    return &kObjTypes[type];
}

}  // namespace

cFileObjectProps::cFileObjectProps() = default;
cFileObjectProps::~cFileObjectProps() = default;

void cFileObjectProps::close() {
    previewMaxW_ = previewMaxH_ = -1;
    ints_.destroy();
    floats_.destroy();
    strings_.destroy();
    picts_.destroy();
    times_.destroy();
}

int cFileObjectProps::prop_type(int id) { return id < 0 || id > fpLast ? pkNone : kPropKinds[id]; }

char* cFileObjectProps::prop_string(int id) {
    _guardchar<char>* s = strings_.find(id);
    return s && !s->empty() ? s->get() : nullptr;
}

bool cFileObjectProps::has_prop(int id) {
    switch (prop_type(id)) {
        case pkInt: return ints_.find(id) != nullptr;
        case pkString: return strings_.find(id) != nullptr;
        case pkFloat: return floats_.find(id) != nullptr;
        case pkPicture: return picts_.find(id) != nullptr;
        case pkTime: return times_.find(id) != nullptr;
        default: return false;
    }
}

bool cFileObjectProps::setProp(int id, int value) {
    if (prop_type(id) != pkInt) return false;
    *ints_.insert(id) = value;
    return true;
}

bool cFileObjectProps::setProp(int id, double value) {
    if (prop_type(id) != pkFloat) return false;
    *floats_.insert(id) = value;
    return true;
}

bool cFileObjectProps::setProp(int id, char* text) {
    if (prop_type(id) != pkString) return false;
    strings_.insert(id)->set(text);
    return true;
}

bool cFileObjectProps::setProp(int id, char* text, long long n) {
    if (prop_type(id) != pkString) return false;
    // -1 and -2 take the text up to its terminator; a null text has none, so
    // it stores an empty entry instead of being measured.
    if (n == -1 || n == -2) n = text ? static_cast<long long>(_guardchar<char>::length(text)) : 0;
    if (n < 0) return false;
    strings_.insert(id)->set(text, n);
    return true;
}

bool cFileObjectProps::setProp(int id, sTimestamp& time) {
    if (prop_type(id) != pkTime) return false;
    *times_.insert(id) = time;
    return true;
}

bool cFileObjectProps::setProp(int id, cPictBase* pict) {
    if (prop_type(id) != pkPicture || !pict) return false;
    pict->moveTo(*picts_.insert(id));
    return true;
}

char const* cFileObjectProps::default_extension(int type) {
    const sObjType* t = objType(type);
    return t ? t->extension : nullptr;
}
char const* cFileObjectProps::content_type(int type) {
    const sObjType* t = objType(type);
    return t ? t->mime : nullptr;
}
char const* cFileObjectProps::type_name(int type) {
    const sObjType* t = objType(type);
    return t ? t->name : nullptr;
}
int cFileObjectProps::media_type(int type) {
    const sObjType* t = objType(type);
    return t ? t->media : 0;
}

cFileObjectProps* cFileObjectProps::guessObj(cFileIOTarget* target) {
    if (!target) return nullptr;
    cPictBase::sPictInfo info;
    if (cPictBase* pict = cPictBase::mkPicture(target, &info)) return new cSimpleImageProps(pict);
    if (!target->set_fp(0)) return nullptr;
    if (cWinExeProps::validFor(target)) return new cWinExeProps();
    return nullptr;
}

// ---------------------------------------------------------------------------

int cSimpleImageProps::objectTypeOf(int pictType) {
    switch (pictType) {
        case cPictBase::ptJPEG: return 8;
        case cPictBase::ptTIFF: return 13;
        case cPictBase::ptPNG: return 10;
        case cPictBase::ptNEF: return 23;
        case cPictBase::ptBMP: return 1;
        case cPictBase::ptICO: return 5;
        case cPictBase::ptJP2: return 7;
        case cPictBase::ptJ2K: return 6;
        case cPictBase::ptCR2: return 16;
        case cPictBase::ptGIF: return 3;
        case cPictBase::ptICNS: return 4;
        case cPictBase::ptCRW: return 17;
        case cPictBase::ptDNG: return 18;
        case cPictBase::ptMOS: return 21;
        case cPictBase::ptTIFF_EP: return 29;
        case cPictBase::pt3FR: return 19;
        case cPictBase::ptRAF: return 26;
        case cPictBase::ptRWL: return 27;
        case cPictBase::ptIIQ: return 20;
        case cPictBase::ptSRW: return 28;
        case cPictBase::ptPEF: return 25;
        case cPictBase::ptARW: return 15;
        case cPictBase::ptMRW: return 22;
        case cPictBase::ptORF: return 24;
        case cPictBase::ptX3F: return 30;
        case cPictBase::ptTGA: return 12;
        case cPictBase::ptPPM: return 11;
        case cPictBase::ptPCX: return 9;
        case cPictBase::ptDICOM:
        case cPictBase::ptDICOMLegacy: return 2;
        default: return otGenericImage;
    }
}

cSimpleImageProps::cSimpleImageProps(cPictBase* pict) : pict_(pict) {
    if (!pict_) return;
    try {
        type_ = objectTypeOf(pict_->typeOf());
    } catch (...) {
        delete pict_;
        pict_ = nullptr;
        throw;
    }
}

cSimpleImageProps::~cSimpleImageProps() { delete pict_; }

bool cSimpleImageProps::load(cFileIOTarget* target, int, bool preview) {
    cPictBase::sPictInfo info;
    if (!pict_ || !target || !pict_->isPicture(target, &info)) return false;
    setProp(fpWidth, static_cast<int>(info.width));
    setProp(fpHeight, static_cast<int>(info.height));
    if (pict_->supportsMultipage() && target->set_fp(0)) setProp(fpPages, pict_->getNumPages(target));

    if (!(info.hasPreview || preview) || previewMaxW_ == 0 || previewMaxH_ == 0) return true;
    if (!target->set_fp(0)) return true;
    cPictDummy dummy;
    const long long mw = previewMaxW_ < 0 ? INT_MAX : previewMaxW_;
    const long long mh = previewMaxH_ < 0 ? INT_MAX : previewMaxH_;
    if (cPictBase::getPreview(target, dummy, mw, mh, true, 0xFFFFFF) == cPictBase::frOk && dummy.raw8Bpp())
        setProp(fpPreview, &dummy);
    return true;
}
