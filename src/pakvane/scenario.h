// cSoftPkgScenario: one installation scenario in memory.  Texts per
// language, the software's version and addresses, its icon, the welcome,
// readme and licence documents, the package items, and the lists of files,
// menu shortcuts, settings, programs offered after installation and older
// packages to remove.
//
// Filled from a text scenario (loadTextConfig) when an installer is built or
// from a binary scenario (loadBinConfig) when one runs; written as a binary
// scenario by saveBinConfig.
//
// Every text is addressed by a string id.  The default table serves every
// language; each declared language (0 to 10) has a table of its own that
// wins over the default one.  Ids beginning with "." are made for quoted
// literals; "pgm" is the installation folder, set by the install job alone.
//
// Binary scenario, all integers little-endian, "str" = u16 n + n bytes:
//   the header of payloadheader.h ("QORSOPKG", u8 version, u32 body size,
//   u32 packed size, SHA-256 of the body), then a level-9 zlib stream of
//   the body.  The body is a run of tagged sections (1 software, 2 icon,
//   3 menus, 4 files, 5 run list, 6 default strings, 7 language strings,
//   8 settings, 9 welcome, 10 readme, 11 licence, 12 deprecated packages,
//   13 item table) ended by the tag 0.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/fileio.h"
#include "cihlpdoc/sidocloader.h"
#include "pakvane/pkg.h"
#include "pakvane/pkgstream.h"

class cSoftPkgScenario {
public:
    // Error codes of loadTextConfig beyond the classic 1 to 27 (22 unused).
    enum eExtraErrors : int {
        errReservedID = 28,    // "pgm" defined as a string: it is the chosen folder
        errVersionRange = 29,  // a version part outside 0 to 65535
        errLineRead = 30,      // a line longer than 4096 units, or a read error
        errFolderCycle = 31,   // folder recursion came back to a folder it is in
        errNulByte = 32,       // a NUL byte inside a line
        errBadCodename = 33,   // a code name outside the safe characters
    };
    static constexpr int kMaxErrorCode = 33;

    // What a failed loadTextConfig knows beyond its code and line, so that
    // its caller can say what to fix.  Only the fields that apply to the
    // code are set; the rest stay empty (-1 for the numbers).
    struct sTextError {
        // 12 to 15: the declared language that lacks the document or string,
        // and the line (from 0) of the document's key or of the string's
        // definition; the checks after the last line have no line of their
        // own.
        int lang = -1;
        int defLine = -1;
        // 15: the string id; 7 and 23: the reference's id; 33: the code name.
        std::string id;
        // 23 (and 7 for a reference): which part of the line is wrong.
        // partNoName: an Install line of a file whose sub path names
        // nothing below its base ("", ".", "x/.."): the file would take the
        // base folder's own place.
        enum ePart { partNone = 0, partId = 1, partSubPath = 2, partNoName = 3 } part = partNone;
        // 23: the sub path as written, when it is the part at fault.
        std::string subPath;
        // 26: the file or folder that is missing or cannot be read.
        // 19 to 21: the document file the compiler blames.
        std::string file;
        // 26: the system's reason (an errno: EFBIG for a file larger than an
        // item holds), 0 for a source that is neither a file nor a folder.
        // 1: why the scenario cannot be opened (0: it is no regular file);
        // 19 to 21: why the document file could not be opened (0: it opened,
        // or is no regular file).
        int error = 0;
        // 19 to 21: the document compiler's line and column (from 0) and its
        // own message; -1 when the compiler gave no position.
        int docLine = -1;
        int docColumn = -1;
        std::string message;
    };

    // An entry below an Install folder that the compiler left out, and why.
    // Symbolic links are followed; what they lead to decides.
    enum eLeftOutWhy : int {
        loDanglingLink = 1,  // a symbolic link to nothing
        loLinkLoop = 2,      // symbolic links that lead round in a circle
        loFifo = 3,          // a named pipe
        loSocket = 4,
        loDevice = 5,        // a block or character device
        loOtherKind = 6,     // neither a file nor a folder, of no kind above
        loEmptyFolder = 7,   // a folder that holds nothing (an installation makes no folders)
        loUnreadable = 8,    // its status cannot be read; error tells why
        loVanished = 9,      // gone between the listing and the reading
        loLinkBack = 10,     // a symbolic link to a folder the walk is inside (it would never end)
        loLinkAbove = 11,    // a symbolic link to a folder above the Install folder (it would come back)
    };
    struct sLeftOut {
        std::string path;  // as the compiler reached it: the Install source, '/', names
        eLeftOutWhy why = loOtherKind;
        int error = 0;     // loUnreadable: the errno
    };

    // A file or folder a compile read, with its identity: a program that
    // writes must not write over one of them.
    enum eInputKind : int {
        inScenario = 0,
        inDocument = 1,  // a document index, a source or a picture it names
        inFile = 2,      // a file to pack
        inFolder = 3,    // an Install folder or one below it
    };
    struct sInput {
        std::string path;  // as the compiler opened it
        eInputKind kind = inFile;
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
    };

    // A path that a menu entry, the icon or a Run entry names inside the
    // installation folder, which no file entry installs, neither the path
    // itself nor anything below it.
    struct sMissingTarget {
        enum eWhat : int { icon = 0, menuTarget = 1, menuIcon = 2, runProgram = 3 } what = icon;
        int entry = -1;                // the menu or Run entry's index; -1 for the icon
        std::string subPath;           // below the installation folder, as written
        std::vector<int> langs;        // the declared languages it is missing for; empty: all
    };

    using tStrTable = std::map<std::string, std::string>;

    struct sPathDef {
        std::string id;   // string id of the base folder text; empty for none
        std::string sub;  // path below it; may be empty
    };

    // What a compile takes as written, though a packager may not have meant
    // it: something is lost or left to chance in the installation.  The
    // payload is made all the same; these say where to look.
    struct sTextWarning {
        enum eWhat : int {
            // Files of this line install where files of otherLine do, on a
            // system and in a language both apply to, with other bytes or
            // another mode: one of each pair is lost.  count pairs; the
            // first: source goes to dest, as otherSource does.
            sameDestination = 1,
            // count files of this line are executable on disk, but the line
            // gives no permission digits: they are recorded without a mode.
            // source: the first.
            modeNotRecorded = 2,
            // The version text is read as kept; dropped is what it leaves
            // out (after a fourth part, or text after the numbers).
            versionCut = 4,
            // The key `text` was given on otherLine already; this line's
            // value replaces that one.
            repeatedKey = 5,
            // count files of this line install outside the installation
            // folder: their base (dest.id, whose text is `text` in the
            // lowest declared language) is not "pgm".  source: the first.
            outsideFolder = 6,
            // Files of this line and of otherLine install at paths that
            // differ only in letter case (dest and otherDest), on a system
            // and in a language both apply to: one file on a volume that
            // ignores case.  count pairs; the first: source and otherSource.
            caseOnly = 7,
            // As sameDestination, but each pair holds the same bytes (one
            // file, or files whose bytes compare equal) with the same
            // permission digits: nothing is lost, the file is packed and
            // written twice.
            sameFile = 8,
        };
        eWhat what = sameDestination;
        int line = -1;       // from 0
        int otherLine = -1;  // from 0; -1 none
        sPathDef dest, otherDest;
        std::string source, otherSource;
        std::string text, kept, dropped;
        unsigned long long count = 0;
    };
    struct sInMenuDef {
        std::string title, comment;
        sPathDef target;
        std::string args;
        sPathDef icon;
        std::uint8_t flags = 0;  // bit 0: start the target with administrator rights
    };
    struct sIntFileDef {
        std::uint32_t item = 0;
        sPathDef dest;
        std::vector<int> langs;  // empty: every language
        bool for32 = true;
        bool for64 = true;
        std::uint8_t perm[3] = {8, 8, 8};  // owner, group, others; 8 = none given
    };
    struct sOnCompletionRunInt {
        std::string label;
        sPathDef program;
        std::string args;
        bool checked = false;
    };
    struct sDeprecateItem {
        std::string codename;
        std::uint16_t version = 0xFFFF;  // 65535: any version
    };
    struct sDefineParam {
        std::string name;
        std::vector<unsigned char> value;  // LE number of 2, 4 or 8 bytes, or text
    };
    struct sMenuItemDef {
        std::string title, target, args, icon, comment;
        bool elevated = false;
    };
    struct sCopiedFile {
        std::string dest;
        std::uint32_t item = 0;
        std::uint8_t perm[3] = {8, 8, 8};
        std::uint8_t digest[32] = {};
    };
    struct sOnCompletionRun {
        std::string program, args, label;
        bool checked = false;
    };

    // A compiled document with the bytes it was loaded from.
    struct sDocument {
        cSiDocLoader loader;
        std::vector<unsigned char> bytes;
    };

    cSoftPkgScenario() = default;
    cSoftPkgScenario(const cSoftPkgScenario&) = delete;
    cSoftPkgScenario& operator=(const cSoftPkgScenario&) = delete;

    // ---- texts and languages ----
    const char* getStr(const char* id) const;
    bool setStr(int lang, const char* id, const char* text);
    int currLangID() const { return currLang_; }
    bool setCurrLangID(int lang);
    void getSupportedLangs(std::vector<int>& out) const;
    static bool isKnownConstantID(const char* id);
    bool isValidDef(const char* id, int& lang) const;
    void clearStr(const char* id);
    bool defToPath(const sPathDef& def, std::string& out) const;
    // A sub path a payload may hold: relative, and no name "..".  Lexically
    // "x/../y" stays inside its base, but the system resolves ".." from
    // where x leads, which is elsewhere when x is a link on the installing
    // machine; the compiler stores every sub path normal (normalSubPath).
    static bool isSafeSubPath(const std::string& sub);
    // A sub path as a list of names, resolved lexically: empty names and "."
    // left out and ".." taking back the name before it, so that
    // "bin//tool", "./bin/tool", "bin/tool/" and "x/../bin/tool" name the
    // same file.  ".." is left only in front, where it climbs above the base.
    static std::string normalSubPath(const std::string& sub);
    // A code name that may become part of a command line, a file name and a
    // configuration key: 1 to 64 of the letters A to Z and a to z, the digits,
    // '.', '_', '-' and '+', beginning with a letter or a digit.
    static bool isSafeCodename(const std::string& name);

    // ---- software fields ----
    void getVer(int (&out)[4]) const;
    std::uint64_t getVerID() const;
    bool getStrVer(std::string& out, bool full) const;
    const char* supportURL() const { return orNull(supportURL_); }
    const char* publisherURL() const { return orNull(publisherURL_); }
    const char* updatesURL() const { return orNull(updatesURL_); }
    const char* manualURL() const { return orNull(manualURL_); }
    bool getIconPath(std::string& out) const { return defToPath(icon_, out); }
    cSiDocContainer* welcome() { return docFor(welcome_); }
    cSiDocContainer* readme() { return docFor(readme_); }
    cSiDocContainer* eula() { return docFor(eula_); }
    bool readme_needs_accept() const { return readmeAccept_; }

    // ---- lists for the install job ----
    bool getCopiedFiles(std::vector<sCopiedFile>& out);
    bool getMenuItems(std::vector<sMenuItemDef>& out) const;
    bool getOnCompletionRun(std::vector<sOnCompletionRun>& out) const;
    bool getDepractesList(std::vector<sDeprecateItem>& out) const;
    bool getParams(std::vector<sDefineParam>& out) const;
    unsigned long long requiresSize(unsigned int cluster) const;
    cFileIOTarget* file(int i) { return pkg_.item(i); }
    bool digest(int i, unsigned char (&out)[32]) const { return pkg_.digest(i, out); }

    // ---- whole scenario ----
    void close();
    // 0 or an error code; line: the failing line counted from 0, -1 after
    // the last line.
    int loadTextConfig(const char* path, int& line);
    // The details of the last failed loadTextConfig.
    const sTextError& textError() const { return textError_; }
    // What the last loadTextConfig left out of its Install folders, in the
    // order it walked them, and what it read.
    const std::vector<sLeftOut>& leftOut() const { return leftOut_; }
    // Every input in the order read, made on the first call after a load
    // (the files to pack are held once, as their items).
    const std::vector<sInput>& inputs() const;
    // Whether an input has this identity (among the folders only, with
    // foldersOnly): the first such in the order read, into `found`.
    bool findInput(std::uint64_t device, std::uint64_t inode, sInput& found, bool foldersOnly = false) const;
    // What it took as written but a packager may not have meant, in the
    // order of the lines.
    const std::vector<sTextWarning>& textWarnings() const { return warnings_; }
    // Paths of the menu entries, the icon and the Run entries inside the
    // installation folder that no file entry installs, in that order.
    std::vector<sMissingTarget> missingTargets() const;
    bool saveBinConfig(cFileIOTarget* dst);
    bool loadBinConfig(cFileIOTarget* src);
    // The same with worker threads, a progress observer and (loading) the
    // check of every item's digest; see pakvane/pkgstream.h.
    bool saveBinConfig(cFileIOTarget* dst, sPayloadOptions& options);
    bool loadBinConfig(cFileIOTarget* src, sPayloadOptions& options);
    // The sections of a body already inflated and checked (size bytes at
    // body, ended by the tag 0, without an item table), as loadBinConfig
    // reads them, with items known by their records alone (a table checked
    // as it streamed past, cSoftPkg::loadRecords); records is emptied.
    bool loadBinBody(const std::shared_ptr<const unsigned char>& body, std::size_t size,
                     std::vector<cSoftPkg::sRecord>&& records);

    // Read access for those who show or check a scenario.
    cSoftPkg& package() { return pkg_; }
    const tStrTable& defaultTable() const { return defTable_; }
    const std::map<int, tStrTable>& langTables() const { return langTables_; }
    const sPathDef& iconDef() const { return icon_; }
    const std::vector<sIntFileDef>& fileEntries() const { return files_; }
    const std::vector<sInMenuDef>& menuEntries() const { return menus_; }
    const std::vector<sOnCompletionRunInt>& runEntries() const { return runs_; }
    const std::vector<sDeprecateItem>& deprecatedEntries() const { return deprecates_; }
    const std::vector<sDefineParam>& settings() const { return settings_; }
    const sDocument& welcomeDoc() const { return welcome_; }
    const sDocument& readmeDoc() const { return readme_; }
    const sDocument& eulaDoc() const { return eula_; }
    // The documents of one scenario share one budget (cSiDocBudget), made
    // afresh as a scenario is loaded.  Why the last load's documents did not
    // load, in words; empty when they did.
    const cSiDocBudget& documentBudget() const { return *docBudget_; }
    const std::string& documentFault() const { return docFault_; }

    // Shared by the text parser (cScenarioLineParser).
    friend class cScenarioLineParser;

private:
    static const char* orNull(const std::string& s) { return s.empty() ? nullptr : s.c_str(); }
    cSiDocContainer* docFor(sDocument& d) { return d.bytes.empty() ? nullptr : d.loader.forLang(currLang_); }
    bool appliesToThisSystem(const sIntFileDef& f) const;
    bool checkReferences() const;
    // Where a load of a binary scenario got to, for the fault of a failure
    // that did not say why itself.
    struct sBinLoadPlace;
    bool loadBinWhole(cFileIOTarget* src, sPayloadOptions& options, sBinLoadPlace& place);
    bool loadSections(const std::shared_ptr<const unsigned char>& body, unsigned long long bodySize,
                      unsigned long long packedSize, sPayloadOptions& options, sBinLoadPlace& place);

    std::vector<sInMenuDef> menus_;
    std::vector<sIntFileDef> files_;
    std::vector<sOnCompletionRunInt> runs_;
    std::vector<sDeprecateItem> deprecates_;
    tStrTable defTable_;
    std::map<int, tStrTable> langTables_;
    int currLang_ = 0;
    int ver_[4] = {0, 0, 0, 0};
    std::string supportURL_, publisherURL_, updatesURL_, manualURL_;
    sPathDef icon_;
    sDocument welcome_, readme_, eula_;
    std::shared_ptr<cSiDocBudget> docBudget_ = std::make_shared<cSiDocBudget>();
    std::string docFault_;
    bool readmeAccept_ = false;
    cSoftPkg pkg_;
    std::vector<sDefineParam> settings_;
    std::map<std::string, std::string> literals_;
    std::uint32_t nextLiteral_ = 0;
    int section_ = 0;
    sTextError textError_;
    std::vector<sLeftOut> leftOut_;
    // The inputs but the files to pack, and for each how many files to
    // pack came before it; the files to pack as their items' indexes (a
    // tree of small files would otherwise hold each path and identity
    // twice).  Walked in the order read by eachInput.
    std::vector<sInput> inputs_;
    std::vector<std::uint32_t> filesBefore_;
    std::vector<std::uint32_t> inputFiles_;
    mutable std::vector<sInput> inputsShown_;
    mutable bool inputsMade_ = false;
    template <typename F>
    bool eachInput(F&& f) const;
    std::vector<sTextWarning> warnings_;
};
