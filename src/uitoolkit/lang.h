// Language tables: every text the user sees, by section name and index.
//
// Each library carries one blob per language and registers a cLibLang that
// lists them; applying a language loads every registered library's blob for
// it into the process-wide store cLibLang::gCiomLang.
//
// Blob, little-endian:
//   "CIOMLAFI", 8-byte tag (ASCII, space-padded), 3-byte language code,
//   u8 N, N bytes of language name (UTF-8), u32 R (1..0x400000), then a zlib
//   stream inflating to exactly R bytes:
//     "CIOMLANG", then sections back to back up to R: u32 L, an L-byte name
//     field (the name NUL-padded to a multiple of 4), u32 B, a B-byte body:
//       u16 C (1..65535), C x u16 lengths (65535: a null entry), then the
//       texts of the non-null entries in order, without terminators.
// Blobs may come from files (".laci"): every length is checked against the
// bytes that are really there before it is used.
#pragma once

#include "base/buffers.h"
#include "base/lists.h"
#include "base/strkey.h"
#include "base/treelist.h"

enum eCIOMStdLangs : unsigned int {
    lngENG = 0,
    lngRUS = 1,
    lngDEU = 2,
    lngJPN = 3,
    lngKOR = 4,
    lngFRA = 5,
    lngUKR = 6,
    lngESP = 7,
    lngCHN = 8,
    lngTWN = 9,
    lngTUR = 10,
    lngCount = 11  // also "no language"
};

namespace qor_uitk {
// An unpacked body larger than this is refused by the reader and the writer.
constexpr unsigned int kMaxLangBodyBytes = 0x400000;
// A ".laci" file larger than this is not read.
constexpr long long kMaxLangFileBytes = 0x400000;
// The tree depth limit of a language's section map.
constexpr unsigned int kLangSectionDepth = 2048;
}  // namespace qor_uitk

// One named section: texts indexed from 0, each UTF-8 (maybe empty) or null.
class cCiomLangData {
public:
    cCiomLangData() = default;
    cCiomLangData(const cCiomLangData&) = delete;
    cCiomLangData& operator=(const cCiomLangData&) = delete;

    // Fills the section from a section body; on failure the section keeps
    // its previous texts.
    bool create(const unsigned char* body, long long size);
    // From an index-to-text map: count = largest index + 1, gaps null.
    bool create(cFasterTreeList<unsigned short, _guardchar<char>>& texts);
    // Entry i, owned by the section; null out of range or for a null entry.
    const char* string(long long i) const;
    long long count() const { return mTexts.count(); }
    // The section body; false for a section without entries or with a text
    // too long for its u16 length.
    bool raw(_typebuf<unsigned char>& out) const;

private:
    _classbuf<_guardchar<char>> mTexts;
};

typedef cFasterTreeList<cStringKey, cCiomLangData> tLangSections;

// One loaded language: its sections, header code and name.
class cCiomLang {
public:
    cCiomLang();
    cCiomLang(const cCiomLang&) = delete;
    cCiomLang& operator=(const cCiomLang&) = delete;

    // Loads the packed body (u32 R and the zlib stream) into the sections
    // and, on success, stores code and name.  Sections of other names stay.
    bool create(const char* code, const char* name, const unsigned char* data, long long size);
    // Empties the language and sets code and name.
    void create(const char* code, const char* name);

    cCiomLangData* section(const char* name);
    tLangSections& sections() { return mSections; }
    const char* code() const { return mCode; }
    const char* name() const { return mName.get(); }

private:
    void setHeader(const char* code, const char* name);

    tLangSections mSections;
    char mCode[4] = {0, 0, 0, 0};
    _guardchar<char> mName;
};

// A whole blob into the language; the tag is not looked at.
bool loadCiomLangData(const void* blob, long long size, cCiomLang& lang);
// A packed body (u32 R, zlib stream) into the sections.
bool loadCiomLang(const void* data, long long size, tLangSections& sections);
// The packed body of the sections (those with at least one entry), in key
// order, deflated at level 5.
bool saveCiomLang(tLangSections& sections, _typebuf<unsigned char>& out);
// A whole blob with the given tag.
bool saveCiomLangData(const char* tag, cCiomLang& lang, _typebuf<unsigned char>& out);

// ---- Language files (".laci") ---------------------------------------------

bool loadCiomLangFile(const char* path, cCiomLang& lang);
bool saveCiomLangFile(const char* tag, const char* path, cCiomLang& lang);

struct sCiomLangDescrInfo {
    char code[4] = {0, 0, 0, 0};
    _guardchar<char> name;
    _guardchar<char> path;
};
// The ".laci" files of the folder whose tag matches, keyed 0, 1, ...
bool findCiomLangFiles(const char* folder, const char* tag, cFasterTreeList<int, sCiomLangDescrInfo>& out);

struct sStdLangDefinition {
    unsigned int lang;
    const unsigned char* data;
    unsigned int size;
};
// Loads the row of lang, or the first row when there is none.
bool ciLoadLangDef(const sStdLangDefinition* rows, unsigned int n, unsigned int lang, cCiomLang* out);

// Blobs by language, with a default language.
class cLangContainer {
public:
    struct sEntry {
        const unsigned char* data = nullptr;
        long long size = 0;
    };
    static constexpr unsigned int kNoDefault = 12;

    cLangContainer() = default;
    cLangContainer(const cLangContainer&) = delete;
    cLangContainer& operator=(const cLangContainer&) = delete;

    bool addDef(unsigned int lang, const unsigned char* data, long long size, bool makeDefault);
    bool defines(unsigned int lang) const;
    bool getLang(unsigned int lang, const unsigned char*& data, long long& size) const;
    unsigned int defaultLang() const { return mDefault; }
    // The languages in the order they were first added.
    const _List<unsigned int>& languages() const { return mOrder; }

private:
    cFasterTreeList<unsigned int, sEntry> mEntries;
    unsigned int mDefault = kNoDefault;
    _List<unsigned int> mOrder;
};

// ---- The registry ------------------------------------------------------------

class cLibLang {
public:
    // One row of a library's list of blobs.
    struct sLangDef {
        unsigned int lang;
        const unsigned char* data;
        long long size;
    };

    // Registers the table.
    cLibLang();
    // Leaves the registry, so that a table never outlives its entry.
    virtual ~cLibLang();
    cLibLang(const cLibLang&) = delete;
    cLibLang& operator=(const cLibLang&) = delete;

    virtual bool defines(eCIOMStdLangs lang) = 0;
    virtual long long sizeOf(eCIOMStdLangs lang) = 0;
    virtual const unsigned char* langData(eCIOMStdLangs lang) = 0;
    virtual eCIOMStdLangs defaltLang() = 0;

    // The first row of lang in rows[0, n).
    static bool defines(unsigned int lang, const sLangDef* rows, long long n);
    static long long sizeOf(unsigned int lang, const sLangDef* rows, long long n);
    static const unsigned char* langData(unsigned int lang, const sLangDef* rows, long long n);

    static void ref(cLibLang* lib);
    // Loads every registered table's blob of lang (or of its default) into
    // gCiomLang; false when a table has neither or a load fails.
    static bool applyLang(unsigned int lang);
    static unsigned int appliedLang() { return glastAppliedLang; }
    static bool applyDefaultLang();

    static _List<cLibLang*>* gLangLoadersPtr;
    static cCiomLang gCiomLang;
    static unsigned int glastAppliedLang;
};

// Told after every language applied successfully: the platform chooses its
// standard face by it.  Returns the hook installed before.
typedef void (*tLangApplied)(unsigned int lang);
tLangApplied __setLangAppliedHook(tLangApplied hook);

// The toolkit's own table: ten languages, no ESP.
class cCIOMLang : public cLibLang {
public:
    bool defines(eCIOMStdLangs lang) override;
    long long sizeOf(eCIOMStdLangs lang) override;
    const unsigned char* langData(eCIOMStdLangs lang) override;
    eCIOMStdLangs defaltLang() override;

    static const sLangDef gLangs[10];
};

// The built-in language-name blob (tag "CIOMLN  ", one section "lnames").
// It and cCIOMLang::gLangs are generated at build time from
// src/uitoolkit/lang/*.txt.
extern const unsigned char ciLangNamesData[];
extern const long long ciLangNamesDataSize;
