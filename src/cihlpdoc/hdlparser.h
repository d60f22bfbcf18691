// The HDL markup compiler and the driver that writes a compiled document
// ("QORHDOCF", layout in cihlpdoc/sidocloader.h) from an index of sources.
//
// Index file: one line per language, CODE = "path"; codes are the toolkit's
// three-letter language codes (any case); a path beginning with "./" is
// relative to the index's folder.
//
// HDL: words separated by white space, and the tags
//   <text ml mr mt mb w h br fg bg a f> ... </text>   a nested box
//   <link ref> ... </link>                            words and pictures linked
//   <img src ml mr mt mb w h br bg>                   a picture
//   <br> <lt> <b> ... </b> <i> ... </i>
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/buffers.h"
#include "base/fileio.h"

// One language's record stream.
struct sHDLLangStreamCtx {
    std::string stream;
    // What the boxes of its records will cost the loader's budget.
    std::size_t boxBytes = 0;
};

struct sHDLExtObj {
    long long offset = 0;
    unsigned short id = 0;
};

// The compiler's state for one document, shared by all its languages.
struct sHDLConfig {
    sHDLConfig() = default;

    std::map<int, sHDLLangStreamCtx> langs;
    std::string images;   // the image table
    std::string strings;  // the string table
    std::string fonts;    // the font table
    std::map<std::string, sHDLExtObj> imagesByPath;
    std::map<std::uint64_t, sHDLExtObj> fontsByEntry;
    std::map<std::string, sHDLExtObj> linksByText;
    int nextString = 0;
    int nextImage = 0;
    // The error of the last failure.
    int errLine = 0;
    int errColumn = 0;
    _guardchar<char> errMessage;
    int errError = 0;  // the system's reason when a picture could not be opened
    // Folder of the source being compiled, with its trailing '/'; empty when
    // the source path has none.
    _guardchar<char> folder;
    int lang = -1;
};

// Compiles one source into the record stream of config.lang.  On failure the
// error line, column and message are left in config.
bool processHDL(sHDLConfig& config, const char* text);

class cHDLParser {
public:
    struct sErrInfo {
        int line = 0;
        int column = 0;
        _guardchar<char> file;
        _guardchar<char> message;
        // The system's reason (an errno) when the index, a source or a
        // picture could not be opened; 0 for none.
        int error = 0;
    };

    cHDLParser() = default;

    bool parse(const char* indexPath, cFileIOTarget* target, sErrInfo& err);
    void langSearchInit();
    // Reads a whole text file (UTF-8, or UTF-16 with its byte-order mark) into
    // UTF-8 text, up to its first zero.
    static bool getFileContents(cFileIOTarget* file, _guardchar<char>& text);
    bool parseIndexFile(const char* text, std::map<int, std::string>& paths, sErrInfo& err);
    // The files the last parse read, as it named them: the index, then each
    // source, then each picture once.
    const std::vector<std::string>& filesRead() const { return filesRead_; }

private:
    std::map<std::string, int> mLangCodes;
    std::vector<std::string> filesRead_;
};
