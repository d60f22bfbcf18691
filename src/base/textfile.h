// Line-oriented text files: 8-bit, UTF-8, UTF-16 little- or big-endian.
//
// cTextFileIO reads a file it opens itself, or any byte stream a caller
// lends it, line by line, and hands every line out as UTF-8 without its
// terminator.  A line ends at CR LF, LF, CR or a NUL unit and holds at most
// maxStrLen() units (4096 by default).  Written lines end in CR LF in the
// text's encoding.
//
// gets answers false both at the end of the text and on trouble; lastError()
// tells them apart, and every reader checks it after the loop:
//
//     _typebuf<char> line;
//     while (text.gets(line)) handle(line);
//     if (text.lastError() != cTextFileIO::teNone) return false;
#pragma once

#include "base/buffers.h"
#include "base/fileio.h"

class cTextFileIO : public cFileIO {
public:
    // The encoding of a text, as stored.
    enum eTextContentType : int {
        tctAuto = 0,     // decided from the byte-order mark when opening
        tct8Bit = 1,     // bytes passed through unchanged; no mark
        tctUTF8 = 2,     // mark EF BB BF; the default when creating
        tctUTF16LE = 3,  // mark FF FE
        tctUTF16BE = 4,  // mark FE FF
    };

    // What went wrong last.  A false from gets with teNone is the end of
    // the text.
    enum eTextError : int {
        teNone = 0,
        teNotOpen = 1,      // no stream
        teLineTooLong = 2,  // a line holds more than maxStrLen() units; gets
                            // keeps failing until goStart, goEof, open or close
        teReadFailed = 3,   // the stream could not be positioned or read
        teWriteFailed = 4,
        teBadType = 5,      // a content type outside 0 to 4
        teOpenFailed = 6,   // the file could not be opened or created
        teFormatFailed = 7, // the C library could not format put_fmt's text
    };

    cTextFileIO() = default;
    ~cTextFileIO() override;

    // Reads a caller's stream (not owned, never closed here) from its offset
    // 0.  Closes the object's own file first.  False for a null stream, a
    // type outside 0 to 4, or a stream that cannot be read or positioned.
    bool open(cFileIOTarget* stream, eTextContentType type);
    // Opens the file path (read-only when readOnly, else read and write).
    bool open(const char* path, bool readOnly, eTextContentType type);
    // Creates or truncates path and writes the byte-order mark of type
    // (tctAuto means tctUTF8; tct8Bit has none).  A type outside 0 to 4 is
    // refused before the file is touched.
    bool create(const char* path, eTextContentType type);

    // To the first text byte (after the mark) / to the end.
    bool goStart();
    bool goEof();
    bool isDoubleByte() const { return type_ == tctUTF16LE || type_ == tctUTF16BE; }
    eTextContentType contentType() const { return type_; }
    // Bytes of the byte-order mark at the start of the stream: 0, 2 or 3.
    unsigned int markLength() const { return markLen_; }
    eTextError lastError() const { return error_; }

    // The next line, as UTF-8 without terminator and without a terminating
    // zero (out.count() bytes; an empty line leaves out empty).  False at the
    // end of the text and on failure: see lastError().
    bool gets(_typebuf<char>& out);
    // Whether the line gets() handed out last was ended by a NUL unit (a
    // reader that must not take a NUL for an end of line refuses the text).
    bool lineEndedAtNul() const { return endedAtNul_; }

    // Writes UTF-8 text in the text's encoding at the current position.
    // False for a null text, without a stream, or when the write fails (the
    // position then stays).  An empty text writes nothing and is true.
    bool putStr(const char* text);
    bool put_str(const char* text) { return putStr(text); }
    // Formats like printf and writes the whole result, however long.
    bool put_fmt(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // CR LF in the text's encoding.
    bool put_eol();

    // Closes the object's own file (a lent stream stays open) and forgets
    // the stream and what was read.
    void close() override;

    // The longest line in units, its terminator not counted; n below 1 is
    // ignored.
    void setMaxStrLen(long long n);
    long long maxStrLen() const { return maxLen_; }

    // Scans at most n units for the end of a line and advances the position
    // by every unit consumed: the line's units, and its terminator (NUL, LF,
    // CR, or CR LF when both are within the n units).  Returns the units
    // before the terminator, n when there is none, 0 for n below 1.  The
    // 16-bit scan reads units in the text's byte order.
    long long strHere(const char* data, long long n);
    long long strHere(const unsigned short* data, long long n);
    // out := the n bytes unchanged / the n UTF-16 units (in the text's byte
    // order) as UTF-8.  n = 0 empties out.
    void strToBuf(const char* data, long long n, _typebuf<char>& out);
    void strToBuf(const unsigned short* data, long long n, _typebuf<char>& out);

private:
    static constexpr long long kDefaultMaxLen = 4096;
    static constexpr long long kFormatBufferBytes = 16384;
    static constexpr long long kMinBlockBytes = 65536;
    // Lines shorter than this many bytes reuse arrays (see sizeLine).
    static constexpr long long kPooledLengths = 256;

    bool setupType(eTextContentType type);
    long long unitBytes() const { return isDoubleByte() ? 2 : 1; }
    bool cached(unsigned long long pos) const;
    void dropCache();
    long long fill(unsigned char* buf, long long n);
    long long loadBlock(_typebuf<unsigned char>& buf, unsigned long long at);
    bool isCR(const unsigned char* unit) const;
    bool isNul(const unsigned char* unit) const;
    bool isLF(const unsigned char* unit) const;
    void skipLFAfterBlockEndingInCR();
    long long scan(const unsigned char* data, long long n);
    void toLine(const unsigned char* data, long long units, _typebuf<char>& out);
    void sizeLine(_typebuf<char>& out, long long n);
    bool writeAll(const void* data, unsigned long long n);
    void ensureBuffers();

    cFileIOTarget* stream_ = nullptr;
    unsigned long long position_ = 0;
    long long blockStart_ = -1;
    _typebuf<unsigned char> readBuf_;
    _typebuf<unsigned char> secondBuf_;
    _typebuf<unsigned char> joinBuf_;
    long long maxLen_ = kDefaultMaxLen;
    unsigned long long blockLen_ = 0;
    eTextContentType type_ = tct8Bit;
    unsigned int markLen_ = 0;
    _typebuf<char> fmtBuf_;

    eTextError error_ = teNone;
    bool endedAtNul_ = false;
    // Where this object left the stream's own offset (-1: not known).  A
    // write seeks to the position only when they differ (after reading), so
    // writing on at the end of what was written needs no seek.
    long long streamAt_ = -1;
    // Units of a big-endian line put in host order for the converter, or of
    // a text being written as UTF-16; and the converter's output before it
    // is cut to size.
    _typebuf<unsigned short> units_;
    _typebuf<char> utf8_;
    // Spare line arrays, one for each length below kPooledLengths (the
    // array of length n at index n, or none); made with the read buffer.
    _classbuf<_typebuf<char> > linePool_;
};

namespace qor_text {

// The line-end scanners behind gets and strHere: the units before the first
// NUL, LF or CR among n units (width 1 or 2 bytes, 16-bit units in the given
// byte order), or n when there is none; consumed gets those units, the
// terminator, and an LF right after a CR within the n units.  The reader
// takes the vector scanner when the processor has AVX2; tests hold the two
// against each other.
using LineScanner = long long (*)(const unsigned char* units, long long n, long long& consumed);
LineScanner portableLineScanner(int width, bool bigEndian);
// Null when the processor lacks AVX2 (or is not x86).
LineScanner vectorLineScanner(int width, bool bigEndian);

}  // namespace qor_text
