#include "uitoolkit/langids.h"

cCiomLang ciLangNames;
cCiomLangData* ciLangNamesStrings = nullptr;

cPicturesList gCILangImages16x11;
cPicturesList gCILangImages18x14;
cPicturesList gCILangImages27x22;
cPicturesList gCILangImages30x20;

namespace {

const char* const kCodes[lngCount] = {"ENG", "RUS", "DEU", "JPN", "KOR", "FRA", "UKR", "ESP", "CHN", "TWN", "TUR"};
const char* const kShortCodes[lngCount] = {"EN", "RU", "DE", "JP", "KR", "FR", "UK", "ESP", "CH", "TW", "TR"};

cPicture* flag(int id, cPicturesList& list, const unsigned int* const* pixels, int w, int h) {
    if (!ciLangValid(id)) return nullptr;
    if (cPicture* p = list.image(id)) return p;
    if (!list.storeImage(id, pixels[id], w, h, true)) return nullptr;
    return list.image(id);
}

}  // namespace

bool ciLangValid(int id) { return static_cast<unsigned int>(id) < lngCount; }

const char* ciLangID(int id) { return ciLangValid(id) ? kCodes[id] : "INV"; }

const char* ciLangID2c(int id) { return ciLangValid(id) ? kShortCodes[id] : "**"; }

const char* ciLangName(int id) {
    if (!ciLangNamesStrings) {
        if (!loadCiomLangData(ciLangNamesData, ciLangNamesDataSize, ciLangNames)) return nullptr;
        ciLangNamesStrings = ciLangNames.section("lnames");
        if (!ciLangNamesStrings) return nullptr;
    }
    if (!ciLangValid(id)) return nullptr;
    return ciLangNamesStrings->string(id);
}

cPicture* ciLangImage16x11(int id) { return flag(id, gCILangImages16x11, icColorDataLangs16x11, 16, 11); }
cPicture* ciLangImage18x14(int id) { return flag(id, gCILangImages18x14, icColorDataLangs18x14, 18, 14); }
cPicture* ciLangImage27x22(int id) { return flag(id, gCILangImages27x22, icColorDataLangs27x22, 27, 22); }
cPicture* ciLangImage30x20(int id) { return flag(id, gCILangImages30x20, icColorDataLangs30x20, 30, 20); }

cPicturesList* ciLangImages16x11() { return &gCILangImages16x11; }
cPicturesList* ciLangImages18x14() { return &gCILangImages18x14; }
cPicturesList* ciLangImages27x22() { return &gCILangImages27x22; }
cPicturesList* ciLangImages30x20() { return &gCILangImages30x20; }
