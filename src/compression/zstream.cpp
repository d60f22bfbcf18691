#include "compression/zstream.h"

#include "compression/outchunks.h"
#include "compression/wholezlib.h"

#include "base/checksum.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

namespace {

// A limit up to this size is taken as the output's size and allocated at
// once for a whole-buffer decode (untouched pages cost nothing), so that a
// caller that knows the size gets the output inflated into its final place
// in one pass; the default limit is not.
constexpr unsigned long long kPresizeUpTo = 1ULL << 30;

// The first guess at the plain size of a whole-buffer decode whose size is
// not known (at least this much, else eight times the compressed size).
constexpr unsigned long long kFirstGuess = 65536;

// zlib counts in 32-bit units; longer inputs are offered in slices.
constexpr unsigned long long kMaxSlice = 1ULL << 30;

// cZStream reads its source at least this much at a time: zlib copies up to
// 32 KB of output into its own window after every inflate call, so small
// input pieces (and with them small calls) would copy the output twice.
constexpr long long kMinInputBuffer = 65536;

// The largest count one read returns: 0xFFFFFFFF is kIOFailed.
constexpr unsigned long long kMaxTransfer = 0xFFFFFFFEull;

// Offers the next slice of [data, data + total) once zlib has used up the
// previous one.
class cInputFeeder {
public:
    cInputFeeder(z_stream& s, const unsigned char* data, unsigned long long total)
        : s_(s), data_(data), left_(total) {}
    void top() {
        if (s_.avail_in != 0 || left_ == 0) return;
        const unsigned long long slice = std::min(left_, kMaxSlice);
        s_.next_in = const_cast<Bytef*>(data_);
        s_.avail_in = static_cast<uInt>(slice);
        data_ += slice;
        left_ -= slice;
    }
    bool usedUp() const { return left_ == 0 && s_.avail_in == 0; }

private:
    z_stream& s_;
    const unsigned char* data_;
    unsigned long long left_;
};

// Inflates everything offered through feed into chunks until the zlib stream
// ends, an error occurs, the input is used up or the output would pass
// limit.  Sets ended when the stream's end was reached.  False on a zlib
// error, on running out of memory and on passing the limit.
bool inflateChunks(z_stream& s, cInputFeeder& feed, unsigned long long limit, cOutputChunks& out, bool& ended) {
    ended = false;
    try {
        for (;;) {
            feed.top();
            long long room = 0;
            s.next_out = out.room(room);
            s.avail_out = static_cast<uInt>(std::min<long long>(room, UINT_MAX));
            const uInt offered = s.avail_out;
            const int ret = ::inflate(&s, Z_SYNC_FLUSH);
            out.commit(offered - s.avail_out);
            if (out.total() > limit) {
                out.cut(limit);
                return false;
            }
            if (ret == Z_STREAM_END) {
                ended = true;
                return true;
            }
            // Z_BUF_ERROR: no progress was possible, which with room for
            // output means the input is used up.
            if (ret == Z_BUF_ERROR) return feed.usedUp();
            if (ret != Z_OK) return false;
            if (feed.usedUp() && s.avail_out != 0) return true;
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// Aims a one-block stream at the caller's input and output; false when they
// cannot be used.
bool offerBlock(z_stream& s, void const* in, unsigned int inLen, void* out, unsigned int outLen) {
    if ((!in && inLen > 0) || !out) return false;
    s.next_in = const_cast<Bytef*>(static_cast<const Bytef*>(in));
    s.avail_in = inLen;
    s.next_out = static_cast<Bytef*>(out);
    s.avail_out = outLen;
    return true;
}

}  // namespace

// ===========================================================================
// cZDecompress

cZDecompress::cZDecompress() : stream_() {}

cZDecompress::~cZDecompress() {
    if (initialised_) inflateEnd(&stream_);
}

void cZDecompress::init() {
    if (initialised_) return;
    stream_ = z_stream();
    if (inflateInit(&stream_) == Z_OK) initialised_ = 1;
}

// inflateReset keeps next_in and avail_in: left alone they would still aim
// at the caller's last piece, which a leftovers step would then inflate.
void cZDecompress::dropInput() {
    stream_.next_in = nullptr;
    stream_.avail_in = 0;
}

bool cZDecompress::reset() {
    init();
    if (!initialised_) return false;
    dropInput();
    return inflateReset(&stream_) == Z_OK;
}

// The member stream is set up and reset the first time a piece form uses it.
bool cZDecompress::prepare() {
    if (initialised_) return true;
    return reset();
}

bool cZDecompress::decompress(_typebuf<unsigned char> const& in, _typebuf<unsigned char>& out) {
    if (&in == &out) {
        // Decoding a buffer into itself: the input is read from a copy.
        _typebuf<unsigned char> copy;
        copy.copyFrom(in.data(), in.count());
        return decompress(copy, out);
    }
    if (in.count() == 0) {
        out.set(0);
        return true;
    }
    const unsigned char* const bytes = in.data();
    const unsigned long long total = static_cast<unsigned long long>(in.count());
    if (total < 2 || !zlibHeaderOk(bytes)) {
        out.set(0);
        return false;
    }
    if (decompressFast(bytes, total, out)) return true;
    return decompressSlowly(bytes, total, out);
}

// libdeflate needs all the output room at once.  With a limit of a size
// that may be allocated up front it is the room; otherwise the room is a
// guess that grows fourfold whenever the plain data proves longer, each try
// decoding again from the start (a few times faster than zlib, so the
// retries still pay).  Untouched pages of an allocation cost nothing.
bool cZDecompress::decompressFast(const unsigned char* bytes, unsigned long long total, _typebuf<unsigned char>& out) {
    const unsigned long long cap = std::min(outputLimit_, kPresizeUpTo);
    unsigned long long room = cap;
    if (outputLimit_ > kPresizeUpTo) {
        room = std::min(cap, std::max(kFirstGuess, 8 * total));
        room = std::max(room, std::min(cap, static_cast<unsigned long long>(out.count())));
    }
    for (;;) {
        _typebuf<unsigned char> buf;
        // A buffer the caller hands back from an earlier decode is decoded
        // into again.
        if (static_cast<unsigned long long>(out.count()) >= room) {
            buf.swap(out);
        } else {
            out.set(0);
            try {
                buf.set(static_cast<long long>(room));
            } catch (const std::bad_alloc&) {
                return false;
            }
            qor_detail::preferHugePages(buf.data(), static_cast<std::size_t>(room));
        }
        std::size_t inUsed = 0, outUsed = 0;
        const eFastInflate r = fastInflateZlib(bytes, static_cast<std::size_t>(total), buf.data(),
                                               static_cast<std::size_t>(room), inUsed, outUsed);
        if (r == eFastInflate::ok) {
            if (static_cast<long long>(outUsed) == buf.count()) {
                out.swap(buf);
                return true;
            }
            try {
                out.copyFrom(buf.data(), static_cast<long long>(outUsed));
            } catch (const std::bad_alloc&) {
                out.set(0);
                return false;
            }
            return true;
        }
        // Damaged, or past the limit: zlib decodes what comes before it, into
        // this buffer again.
        out.swap(buf);
        if (r != eFastInflate::noRoom || room >= cap) return false;
        room = std::min(4 * room, cap);
    }
}

bool cZDecompress::decompressSlowly(const unsigned char* bytes, unsigned long long total, _typebuf<unsigned char>& out) {
    // The zlib wrapper is read here and the deflate data inflated raw, so
    // that the Adler-32 of the output is taken by our own checksum, several
    // times faster than zlib's: the header as zlib checks it (no output at
    // all when it is wrong, or when it asks for a preset dictionary), the
    // trailer after the deflate data's end.
    z_stream s = z_stream();
    if (inflateInit2(&s, -15) != Z_OK) {
        out.set(0);
        return false;
    }
    cOutputChunks collected;
    // A buffer the caller hands back from an earlier decode is decoded into
    // again.
    collected.resetReusing(outputLimit_ > 0 && outputLimit_ <= kPresizeUpTo ? static_cast<long long>(outputLimit_) : 0,
                           out);
    cInputFeeder feed(s, bytes + 2, total - 2);
    bool ended = false;
    const bool clean = inflateChunks(s, feed, outputLimit_, collected, ended);
    const unsigned long long trailer = 2 + static_cast<unsigned long long>(s.total_in);
    inflateEnd(&s);
    // A cut stream leaves clean true but never reaches its end.
    const bool delivered = collected.moveTo(out);
    if (!clean || !ended || !delivered) return false;
    // A stream cut inside its trailer has not ended either.
    if (total - trailer < 4) return false;
    return zlibTrailerOk(bytes + trailer, out.data(), static_cast<unsigned long long>(out.count()));
}

bool cZDecompress::decompressPart(unsigned char const* in, long long n, _typebuf<unsigned char>& out) {
    out.set(0);
    if (!prepare()) return false;
    if (n < 0 || (!in && n > 0)) return false;
    if (n == 0) return true;
    cOutputChunks collected;
    stream_.avail_in = 0;
    cInputFeeder feed(stream_, in, static_cast<unsigned long long>(n));
    bool ended = false;
    const bool clean = inflateChunks(stream_, feed, outputLimit_, collected, ended);
    // The piece belongs to this call only: bytes left after the stream's end
    // or after damage are never inflated later.
    dropInput();
    const bool delivered = collected.moveTo(out);
    return clean && delivered;
}

bool cZDecompress::decompressPart(unsigned char const* in, long long& inLen, unsigned char* out, long long& outLen) {
    const long long wantIn = inLen;
    const long long room = outLen;
    inLen = 0;
    outLen = 0;
    if (!prepare()) return false;
    // Refuse before attaching the input: a refused call must not leave the
    // caller's bytes in the stream for the next leftovers call to inflate.
    if (!out || room < 0) return false;
    if (in) {
        if (wantIn < 0) return false;
        stream_.next_in = const_cast<Bytef*>(in);
        stream_.avail_in = static_cast<uInt>(std::min<unsigned long long>(static_cast<unsigned long long>(wantIn), UINT_MAX));
    } else if (stream_.avail_in == 0 || stream_.next_in == nullptr) {
        return true;  // nothing left over from the previous step
    }
    stream_.next_out = out;
    stream_.avail_out = static_cast<uInt>(std::min<unsigned long long>(static_cast<unsigned long long>(room), UINT_MAX));
    const uInt inBefore = stream_.avail_in;
    const uInt outBefore = stream_.avail_out;
    const int ret = ::inflate(&stream_, Z_SYNC_FLUSH);
    inLen = static_cast<long long>(inBefore - stream_.avail_in);
    outLen = static_cast<long long>(outBefore - stream_.avail_out);
    return ret == Z_OK || ret == Z_STREAM_END;
}

bool cZDecompress::inflateStep(unsigned char const* in, long long& inLen, unsigned char* out, long long& outLen,
                               bool& ended) {
    const long long wantIn = inLen;
    const long long room = outLen;
    inLen = 0;
    outLen = 0;
    ended = false;
    if (!prepare()) return false;
    if (!out || room <= 0 || wantIn < 0 || (!in && wantIn > 0)) return false;
    if (in) {
        stream_.next_in = const_cast<Bytef*>(in);
        stream_.avail_in = static_cast<uInt>(std::min<unsigned long long>(static_cast<unsigned long long>(wantIn), UINT_MAX));
    } else if (stream_.avail_in == 0) {
        stream_.next_in = nullptr;  // zlib accepts no input as a null pointer with a zero count
    }
    stream_.next_out = out;
    stream_.avail_out = static_cast<uInt>(std::min<unsigned long long>(static_cast<unsigned long long>(room), UINT_MAX));
    const uInt inBefore = stream_.avail_in;
    const uInt outBefore = stream_.avail_out;
    const int ret = ::inflate(&stream_, Z_SYNC_FLUSH);
    inLen = static_cast<long long>(inBefore - stream_.avail_in);
    outLen = static_cast<long long>(outBefore - stream_.avail_out);
    ended = ret == Z_STREAM_END;
    // Z_BUF_ERROR only says that nothing could be done with what was given.
    return ret == Z_OK || ret == Z_STREAM_END || ret == Z_BUF_ERROR;
}

// ===========================================================================
// cDecompressIOTarget

cDecompressIOTarget::~cDecompressIOTarget() { delete ownedSource_; }

bool cDecompressIOTarget::readPlainSizeFromStream(cFileIOTarget*) { return false; }

void cDecompressIOTarget::adoptSource(cFileIOTarget* source, bool own) {
    source_ = nullptr;
    if (!own) return;
    if (ownedSource_ != source) delete ownedSource_;
    ownedSource_ = source;
}

bool cDecompressIOTarget::create(cFileIOTarget* source, unsigned long long plainSize, long long n, bool own) {
    adoptSource(source, own);
    windowFill_ = 0;
    windowStart_ = position_ = plainSize_ = 0;
    if (!source || n <= 0 || n > kMaxZStreamBuffer) {
        window_.set(0);
        return false;
    }
    if (plainSize == 0) {
        // An empty item, unless the implementation can tell the size itself.
        if (readPlainSizeFromStream(source)) plainSize = plainSize_;
    }
    if (static_cast<long long>(plainSize) < 0) return false;
    try {
        window_.set(n);
    } catch (const std::bad_alloc&) {
        return false;
    }
    plainSize_ = plainSize;
    windowStart_ = position_ = plainSize;
    source_ = source;
    if (set_fp(0)) return true;
    source_ = nullptr;
    return false;
}

void cDecompressIOTarget::close() {
    source_ = nullptr;
    delete ownedSource_;
    ownedSource_ = nullptr;
    window_.set(0);
    windowFill_ = 0;
    windowStart_ = position_ = plainSize_ = 0;
}

bool cDecompressIOTarget::set_fp(unsigned long long pos) {
    if (!source_) return false;
    const unsigned long long target = std::min(pos, plainSize_);
    // The end needs no decoded byte: there is nothing to read there.
    if (target == plainSize_ || insideWindow(target)) {
        position_ = target;
        return true;
    }
    if (target < windowStart_ && !resetDecompression()) return false;
    windowFill_ = 0;
    if (!fillBufFrom(target)) return false;
    windowStart_ = target;
    position_ = target;
    return true;
}

bool cDecompressIOTarget::set_fp_end(unsigned long long n) {
    return set_fp(n < plainSize_ ? plainSize_ - n : 0);
}

unsigned long long cDecompressIOTarget::readThrough(unsigned char*, unsigned long long, bool& failed) {
    failed = false;
    return 0;
}

unsigned int cDecompressIOTarget::read(void* buf, unsigned int n) {
    if (!source_) return 0;
    const unsigned long long count = std::min({static_cast<unsigned long long>(n), kMaxTransfer, plainSize_ - position_});
    if (count == 0) return 0;
    if (!buf) return kIOFailed;
    auto* out = static_cast<unsigned char*>(buf);
    if (count == 1 && insideWindow(position_)) {
        *out = window_.data()[position_ - windowStart_];
        ++position_;
        return 1;
    }
    unsigned long long done = 0;
    while (done < count) {
        if (!insideWindow(position_)) {
            const unsigned long long wanted = count - done;
            if (wanted >= static_cast<unsigned long long>(window_.count())) {
                // Long sequential reads skip the window: no extra copy.
                bool failed = false;
                const unsigned long long got = readThrough(out + done, wanted, failed);
                done += got;
                position_ += got;
                if (failed) break;
                if (got > 0) continue;
            }
            if (!set_fp(position_)) break;
        }
        const unsigned long long offset = position_ - windowStart_;
        const unsigned long long take = std::min(count - done, static_cast<unsigned long long>(windowFill_) - offset);
        std::memcpy(out + done, window_.data() + offset, static_cast<std::size_t>(take));
        done += take;
        position_ += take;
    }
    return done > 0 ? static_cast<unsigned int>(done) : kIOFailed;
}

// ===========================================================================
// cZStream

cZStream::cZStream() : stream_() {}

cZStream::~cZStream() { endInflate(); }

void cZStream::endInflate() {
    if (inflateReady_) inflateEnd(&stream_);
    inflateReady_ = false;
    stream_ = z_stream();
}

bool cZStream::create(cFileIOTarget* source, unsigned long long plainSize, long long n, bool own) {
    endInflate();
    input_.set(0);
    output_.set(0);
    outputStart_ = -1;
    produced_ = 0;
    streamEnded_ = false;
    if (source && n > 0 && n <= kMaxZStreamBuffer) {
        try {
            input_.set(std::max(n, kMinInputBuffer));
            output_.set(2 * n);
        } catch (const std::bad_alloc&) {
            input_.set(0);
            output_.set(0);
        }
        if (output_.count() > 0 && inflateInit2(&stream_, -MAX_WBITS) == Z_OK) inflateReady_ = true;
    }
    if (!inflateReady_) {
        // Takes over the source as promised, then fails.
        cDecompressIOTarget::create(source, plainSize, 0, own);
        return false;
    }
    return cDecompressIOTarget::create(source, plainSize, n, own);
}

void cZStream::close() {
    endInflate();
    input_.set(0);
    output_.set(0);
    outputStart_ = -1;
    produced_ = 0;
    streamEnded_ = false;
    cDecompressIOTarget::close();
}

bool cZStream::resetDecompression() {
    if (!inflateReady_ || inflateReset(&stream_) != Z_OK) return false;
    stream_.avail_in = 0;
    outputStart_ = -1;
    produced_ = 0;
    streamEnded_ = false;
    wrapperHave_ = 0;
    headerRead_ = false;
    adler_ = 1;
    return true;
}

bool cZStream::beginDecoding() {
    if (!resetDecompression()) return false;
    if (!source_->set_fp(0)) return false;
    outputStart_ = 0;
    return true;
}

void cZStream::discardFullOutput() {
    if (produced_ < static_cast<unsigned long long>(output_.count())) return;
    outputStart_ += static_cast<long long>(produced_);
    produced_ = 0;
}

bool cZStream::refillInput() {
    if (stream_.avail_in != 0) return true;
    const unsigned int asked = static_cast<unsigned int>(input_.count());
    const unsigned int got = source_->read(input_.data(), asked);
    // A failed read, or compressed data that stops before its end.  zlib
    // reads every byte it is offered, so a count beyond the buffer would
    // have it decode whatever lies after it.
    if (!transferred(got, asked) || got == 0) return false;
    stream_.next_in = input_.data();
    stream_.avail_in = got;
    return true;
}

bool cZStream::takeWrapperBytes(unsigned int want) {
    while (wrapperHave_ < want) {
        if (!refillInput()) return false;
        const unsigned int take = std::min(want - wrapperHave_, static_cast<unsigned int>(stream_.avail_in));
        std::memcpy(wrapper_ + wrapperHave_, stream_.next_in, take);
        wrapperHave_ += take;
        stream_.next_in += take;
        stream_.avail_in -= take;
    }
    return true;
}

cZStream::Step cZStream::inflateInto(unsigned char* out, unsigned long long room, unsigned long long& produced) {
    produced = 0;
    if (streamEnded_) return Step::ended;
    if (!headerRead_) {
        // The header as zlib checks it for its default window (a preset
        // dictionary is refused).
        if (!takeWrapperBytes(2) || !zlibHeaderOk(wrapper_)) return Step::failed;
        headerRead_ = true;
        wrapperHave_ = 0;
    }
    if (!refillInput()) return Step::failed;
    const uInt offered = static_cast<uInt>(std::min<unsigned long long>(room, UINT_MAX));
    stream_.next_out = out;
    stream_.avail_out = offered;
    const uInt inBefore = stream_.avail_in;
    const int ret = ::inflate(&stream_, Z_SYNC_FLUSH);
    produced = offered - stream_.avail_out;
    adler_ = qor_checksum::adler32Update(adler_, out, produced);
    if (ret == Z_STREAM_END) {
        // The pass that ends the deflate data counts only with its trailer
        // read and right, as zlib's own check would have it.
        if (!takeWrapperBytes(4)) return Step::failed;
        const std::uint32_t want = static_cast<std::uint32_t>(wrapper_[0]) << 24 |
                                   static_cast<std::uint32_t>(wrapper_[1]) << 16 |
                                   static_cast<std::uint32_t>(wrapper_[2]) << 8 | wrapper_[3];
        if (want != adler_) return Step::failed;
        streamEnded_ = true;
        return Step::ended;
    }
    // A pass that only takes input (a block header across a small input
    // buffer) is progress; one that neither takes nor gives is not.
    if (ret == Z_OK && (produced > 0 || stream_.avail_in != inBefore)) return Step::progress;
    return Step::failed;
}

bool cZStream::fillBufFrom(unsigned long long pos) {
    windowFill_ = 0;
    if (!source_ || !inflateReady_) return false;
    if (pos >= plainSize_) return true;
    if (outputStart_ < 0 || pos < static_cast<unsigned long long>(outputStart_)) {
        if (!beginDecoding()) return false;
    }
    const unsigned long long m = std::min(static_cast<unsigned long long>(window_.count()), plainSize_ - pos);

    // Catch up: decode (and pass over) everything before pos.
    while (outputEnd() <= pos) {
        const Step step = inflateMore();
        if (step == Step::failed || (step == Step::ended && outputEnd() <= pos)) return false;
    }

    // Copy m bytes into the window, decoding more as the output runs out.
    unsigned long long copied = 0;
    for (;;) {
        const unsigned long long at = pos + copied;
        const unsigned long long take = std::min(m - copied, outputEnd() - at);
        std::memcpy(window_.data() + copied, output_.data() + (at - static_cast<unsigned long long>(outputStart_)),
                    static_cast<std::size_t>(take));
        copied += take;
        if (copied == m) break;
        const Step step = inflateMore();
        if (step == Step::failed || (step == Step::ended && outputEnd() == pos + copied)) {
            // The bytes decoded before the damage (or the early end) are
            // still delivered; the next fill fails.
            windowFill_ = static_cast<long long>(copied);
            return copied > 0;
        }
    }
    // The window reaching the end of the plain data is only good when the
    // stream's checksum is.
    if (pos + m == plainSize_ && !verifyEnd()) return false;
    windowFill_ = static_cast<long long>(m);
    return true;
}

cZStream::Step cZStream::inflateMore() {
    discardFullOutput();
    unsigned long long got = 0;
    const Step step = inflateInto(output_.data() + produced_, static_cast<unsigned long long>(output_.count()) - produced_, got);
    // What a failing pass wrote is never served (see readThrough).
    if (step != Step::failed) produced_ += got;
    return step;
}

// Decodes on from the end of the plain data until zlib has checked the
// Adler-32 trailer.  Data longer than the plain size counts as good: the
// stream ends at its plain size whatever follows.
bool cZStream::verifyEnd() {
    for (;;) {
        if (streamEnded_) return true;
        const unsigned long long before = outputEnd();
        const Step step = inflateMore();
        if (step == Step::failed) return false;
        if (step == Step::ended || outputEnd() > before) return true;
    }
}

unsigned long long cZStream::readThrough(unsigned char* buf, unsigned long long n, bool& failed) {
    failed = false;
    if (!source_ || !inflateReady_ || outputStart_ < 0) return 0;
    if (position_ < static_cast<unsigned long long>(outputStart_) || position_ > outputEnd()) return 0;
    // First what the output buffer already holds from the position on.
    unsigned long long done = std::min(n, outputEnd() - position_);
    std::memcpy(buf, output_.data() + (position_ - static_cast<unsigned long long>(outputStart_)),
                static_cast<std::size_t>(done));
    if (done < n) {
        // The output buffer is passed; the rest inflates straight into buf.
        outputStart_ = static_cast<long long>(outputEnd());
        produced_ = 0;
        while (done < n) {
            unsigned long long got = 0;
            const Step step = inflateInto(buf + done, n - done, got);
            // What the failing pass wrote does not count: zlib may have
            // produced it just before finding the checksum wrong.
            if (step == Step::failed) {
                failed = true;
                return done;
            }
            done += got;
            outputStart_ += static_cast<long long>(got);
            if (step == Step::ended && done < n) {
                failed = true;
                return done;
            }
        }
    }
    // A read that reaches the end of the plain data is only good when the
    // stream's checksum is: otherwise none of it counts.
    if (position_ + done == plainSize_ && !verifyEnd()) {
        failed = true;
        return 0;
    }
    return done;
}

// ===========================================================================
// cZDeflate, cZInflate

cZDeflate::~cZDeflate() {
    if (state) deflateEnd(this);
}

bool cZDeflate::init(int level) {
    if (state) deflateEnd(this);
    *static_cast<z_stream*>(this) = z_stream();
    return deflateInit(this, level) == Z_OK;
}

unsigned int cZDeflate::deflate(void const* in, unsigned int inLen, void* out, unsigned int outLen) {
    if (deflateReset(this) != Z_OK || !offerBlock(*this, in, inLen, out, outLen)) return 0;
    // Anything short of the stream's end means the block did not fit.
    if (::deflate(this, Z_FINISH) != Z_STREAM_END) return 0;
    return outLen - avail_out;
}

cZInflate::~cZInflate() {
    if (state) inflateEnd(this);
}

bool cZInflate::init() {
    if (state) inflateEnd(this);
    *static_cast<z_stream*>(this) = z_stream();
    zlibFormat_ = inflateInit(this) == Z_OK;
    return zlibFormat_;
}

unsigned int cZInflate::inflate(void const* in, unsigned int inLen, void* out, unsigned int outLen) {
    if (inflateReset(this) != Z_OK || !offerBlock(*this, in, inLen, out, outLen)) return 0;
    // A stream set up by init() reads the zlib format: libdeflate decodes
    // the whole block at once, and zlib only what it refuses.
    if (zlibFormat_ && in) {
        std::size_t inUsed = 0, outUsed = 0;
        if (fastInflateZlib(static_cast<const unsigned char*>(in), inLen, static_cast<unsigned char*>(out), outLen, inUsed,
                            outUsed) == eFastInflate::ok) {
            // The stream's counters as zlib would have left them.
            next_in += inUsed;
            avail_in -= static_cast<uInt>(inUsed);
            total_in = static_cast<uLong>(inUsed);
            next_out += outUsed;
            avail_out -= static_cast<uInt>(outUsed);
            total_out = static_cast<uLong>(outUsed);
            return static_cast<unsigned int>(outUsed);
        }
    }
    if (::inflate(this, Z_FINISH) != Z_STREAM_END) return 0;
    return outLen - avail_out;
}
