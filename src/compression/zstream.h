// zlib data: the zlib decompressor, the inflating read-only streams and the
// one-shot block wrappers.  All of it is zlib format (RFC 1950: two-byte
// header, deflate data, Adler-32 trailer) with the default window.
//
// cZDecompress         whole buffers, pieces, and single inflate steps
// cDecompressIOTarget  a read-only stream of plain bytes decoded on demand
//                      from a compressed source stream (abstract)
// cZStream             its zlib implementation: reads and seeks inflate only
//                      as far as asked, in constant memory
// cZDeflate, cZInflate one zlib stream each, for one block at a time
#pragma once

#include "base/buffers.h"
#include "base/fileio.h"
#include "compression/decompress.h"

#include <zlib.h>

#include <cstdint>

// ---------------------------------------------------------------------------
class cZDecompress : public cDecompress {
public:
    cZDecompress();
    ~cZDecompress() override;
    cZDecompress(const cZDecompress&) = delete;
    cZDecompress& operator=(const cZDecompress&) = delete;

    int typeOf() override { return dtZlib; }

    // Sets up the member stream once; later calls do nothing.
    void init();
    // Prepares the member stream for a new zlib stream (setting it up first
    // when needed) and drops any input a step left unconsumed; true on
    // success.
    bool reset();

    // A self-contained decode with a stream of its own (the member stream is
    // not touched).  True when the zlib stream ends, its checksum verified; an
    // empty input is an empty output and true.  False on damaged data, on
    // data that stops before the stream's end, and when the output would pass
    // outputLimit(); out then holds what was decoded before (at most the limit).
    bool decompress(_typebuf<unsigned char> const& in, _typebuf<unsigned char>& out) override;

    // One block of a zlib stream that continues across calls, on the member
    // stream.  out receives this call's output only.  True when all n bytes
    // were taken or the stream ended; false on damaged data or when this
    // call's output would pass outputLimit() (out still holds what was
    // decoded, at most the limit).  After the end of one stream, reset()
    // before decoding another.  The piece is not kept: bytes of it left
    // after the stream's end or after damage are dropped, never inflated by
    // a later step.
    bool decompressPart(unsigned char const* in, long long n, _typebuf<unsigned char>& out);

    // One inflate step on the member stream.  With in given the input is
    // inLen bytes at in; with in null it is what the previous step left
    // unconsumed (nothing left: inLen = outLen = 0 and true).  On return
    // inLen holds the count consumed and outLen the count written to out.
    // True when inflating succeeded or reached the end of the stream.
    bool decompressPart(unsigned char const* in, long long& inLen, unsigned char* out, long long& outLen);

    // One inflate step for a consumer that fills fixed buffers (scanlines):
    // like the step above, but it also drains output zlib held back when the
    // previous step filled `out` (in null, nothing left over), a step that
    // can make no progress is not an error, and `ended` tells that the
    // stream's end (checksum verified) was reached.
    bool inflateStep(unsigned char const* in, long long& inLen, unsigned char* out, long long& outLen, bool& ended);

    // The cap on what decompress and one decompressPart call produce.
    void setOutputLimit(unsigned long long limit) { outputLimit_ = limit; }
    unsigned long long outputLimit() const { return outputLimit_; }

private:
    // The whole-buffer decode by libdeflate; false, with out holding
    // unspecified bytes, when it refuses (zlib then decodes it again).
    bool decompressFast(const unsigned char* bytes, unsigned long long total, _typebuf<unsigned char>& out);
    // The whole-buffer decode by zlib, with its partial outputs.
    bool decompressSlowly(const unsigned char* bytes, unsigned long long total, _typebuf<unsigned char>& out);
    bool prepare();
    // Forgets the input the member stream was aimed at.
    void dropInput();

    unsigned short initialised_ = 0;
    z_stream stream_;
    unsigned long long outputLimit_ = kDefaultDecodeOutputLimit;
};

// ---------------------------------------------------------------------------
// A read-only stream over the plain bytes of compressed data.  It keeps one
// window of up to n plain bytes; a read or seek outside the window asks the
// implementation to decode the window at the new position.  The plain size
// is given at creation and bounds everything: bytes the source would decode
// past it are never delivered.
class cDecompressIOTarget : public cFileIOTarget {
public:
    cDecompressIOTarget() = default;
    ~cDecompressIOTarget() override;
    cDecompressIOTarget(const cDecompressIOTarget&) = delete;
    cDecompressIOTarget& operator=(const cDecompressIOTarget&) = delete;

    // The plain size.
    long long size() override { return static_cast<long long>(plainSize_); }
    // Plain bytes from the position.  A short count at the end of the plain
    // data; kIOFailed (position unchanged) when not one byte could be
    // decoded; when damaged data stops a read midway, the bytes before the
    // damage are returned and the next read fails.
    unsigned int read(void* buf, unsigned int n) override;
    // Moves to min(pos, plain size).  A move before the window decodes again
    // from the start of the source.  False when the data cannot be decoded
    // that far; the position then stays.
    bool set_fp(unsigned long long pos) override;
    // Position plain size - n (0 when n is not less than the plain size).
    bool set_fp_end(unsigned long long n) override;
    bool set_eof(unsigned long long) override { return false; }
    // Detaches the source (deleting it when owned) and frees the window.
    void close() override;
    // True while a source is attached; an empty item (plain size 0) is valid.
    bool valid() override { return source_ != nullptr; }

    // Fills the window with the plain bytes from pos (pos < plain size):
    // window_[0, windowFill_) with windowFill_ = min(n, plain size - pos).
    // Called with windowFill_ already 0, so a failed fill leaves no stale
    // bytes behind.
    virtual bool fillBufFrom(unsigned long long pos) = 0;
    // Starts decoding again from the beginning of the source.
    virtual bool resetDecompression() = 0;
    // The plain size cannot be learnt from the data: always false.
    virtual bool readPlainSizeFromStream(cFileIOTarget* source);
    // Attaches source holding plainSize plain bytes with a window of n bytes
    // and decodes the first window.  With own the stream owns source from
    // this call on, even when the call fails.  A plain size of 0 is an empty
    // item; a plain size that is negative as a signed number fails.
    virtual bool create(cFileIOTarget* source, unsigned long long plainSize, long long n, bool own);

protected:
    // Takes over source (own) and deletes a different source owned before.
    void adoptSource(cFileIOTarget* source, bool own);
    // Decodes straight into buf the next n plain bytes from the position,
    // bypassing the window, for long sequential reads.  Returns the count
    // delivered, 0 when this way is not open (the window path is taken);
    // failed is set when damaged data stopped it.
    virtual unsigned long long readThrough(unsigned char* buf, unsigned long long n, bool& failed);

    cFileIOTarget* source_ = nullptr;
    cFileIOTarget* ownedSource_ = nullptr;
    _typebuf<unsigned char> window_;
    // window_[0, windowFill_) holds the plain bytes from windowStart_ on.
    long long windowFill_ = 0;
    unsigned long long windowStart_ = 0;
    unsigned long long position_ = 0;
    unsigned long long plainSize_ = 0;

private:
    bool insideWindow(unsigned long long pos) const {
        return pos >= windowStart_ && pos - windowStart_ < static_cast<unsigned long long>(windowFill_);
    }
};

// ---------------------------------------------------------------------------
// Inflates a zlib stream lazily.  Input buffer n bytes (64 KB at least),
// output buffer 2n bytes (decoded bytes not yet discarded), window n bytes:
// an item of any size is read in constant memory.  Reads of at least n bytes
// that continue where decoding stands inflate straight into the caller's
// buffer.  Reading forward never decodes anything
// twice; moving back before the window decodes again from the start.
class cZStream : public cDecompressIOTarget {
public:
    cZStream();
    ~cZStream() override;

    bool create(cFileIOTarget* source, unsigned long long plainSize, long long n, bool own) override;
    bool resetDecompression() override;
    bool fillBufFrom(unsigned long long pos) override;
    // Ends the inflate stream and detaches the source as every stream does.
    void close() override;

protected:
    unsigned long long readThrough(unsigned char* buf, unsigned long long n, bool& failed) override;

private:
    enum class Step { progress, ended, failed };
    // Plain offset just past the last byte in the output buffer.
    unsigned long long outputEnd() const { return static_cast<unsigned long long>(outputStart_) + produced_; }
    bool beginDecoding();
    // Empties the output buffer (its bytes are passed) when it is full.
    void discardFullOutput();
    // One inflate pass into [out, out + room): refills the input first when
    // it is used up.  produced receives the count written.
    Step inflateInto(unsigned char* out, unsigned long long room, unsigned long long& produced);
    // Reads the source into the input buffer when zlib has used it up;
    // false on a failed read or at the source's end.
    bool refillInput();
    // Takes the wrapper's bytes (header or trailer) from the input into
    // wrapper_ until it holds `want`; false when the source ends first.
    bool takeWrapperBytes(unsigned int want);
    // One pass into the output buffer (emptied first when full).
    Step inflateMore();
    bool verifyEnd();
    void endInflate();

    _typebuf<unsigned char> input_;
    _typebuf<unsigned char> output_;
    // Plain offset of output_[0]; -1 when decoding has to begin at the start.
    long long outputStart_ = -1;
    unsigned long long produced_ = 0;
    bool streamEnded_ = false;
    bool inflateReady_ = false;
    // zlib inflates the deflate data raw; the wrapper is read here and the
    // Adler-32 of the output taken by our own checksum, pass by pass, while
    // the output is in the caches: several times faster than zlib's.
    // wrapper_ holds the header's bytes taken so far (wrapperHave_ of 2),
    // then, after the deflate data, the trailer's (of 4).
    unsigned char wrapper_[4] = {};
    unsigned int wrapperHave_ = 0;
    bool headerRead_ = false;
    std::uint32_t adler_ = 1;
    z_stream stream_;
};

// ---------------------------------------------------------------------------
// One zlib deflate stream for one block at a time.  The object is the stream:
// initialise it with init(level) (or deflateInit on it).
class cZDeflate : public z_stream {
public:
    cZDeflate() : z_stream() {}
    ~cZDeflate();
    cZDeflate(const cZDeflate&) = delete;
    cZDeflate& operator=(const cZDeflate&) = delete;

    bool init(int level);
    // Compresses in into out as one whole zlib stream.  Returns the count
    // written, or 0 when the stream cannot be reset or the whole result does
    // not fit in outLen bytes (compressBound(inLen) always does).
    unsigned int deflate(void const* in, unsigned int inLen, void* out, unsigned int outLen);
};

// One zlib inflate stream for one block at a time.  The object is the stream:
// initialise it with init() (or inflateInit on it).
class cZInflate : public z_stream {
public:
    cZInflate() : z_stream() {}
    ~cZInflate();
    cZInflate(const cZInflate&) = delete;
    cZInflate& operator=(const cZInflate&) = delete;

    bool init();
    // Inflates one whole zlib stream in into out.  Returns the count written,
    // or 0 when the stream cannot be reset, the data is damaged or cut, or
    // the plain data does not fit in outLen bytes.
    unsigned int inflate(void const* in, unsigned int inLen, void* out, unsigned int outLen);

private:
    // Set up by init() for the zlib format (not by a caller's inflateInit2).
    bool zlibFormat_ = false;
};
