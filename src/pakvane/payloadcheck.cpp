// The streamed check of a payload.  Three parts, each on its own thread
// when the body is large enough:
//
//   inflating  packed bytes read in pieces and inflated raw into a ring of
//              body pieces; the zlib trailer and the packed size checked at
//              the end;
//   hashing    the body's SHA-256 and Adler-32, piece by piece in order;
//   walking    (the caller's thread) the tagged sections: every section but
//              the item table is kept as it is, and each item record's data
//              is hashed (inflated first when deflated) and dropped.
//
// A piece goes back to the ring once both the hashing and the walking are
// done with it, so memory stays at the ring's size whatever the body's.
// When the stream and the body hold, the kept sections are handed to
// loadBinConfig inside a small payload of their own, with an empty record
// in place of each item, so that the sections are read by the one reader an
// installer uses; the items are then given their records.
#include "pakvane/payloadcheck.h"

#include <errno.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "base/bytereader.h"
#include "base/checksum.h"
#include "base/sha.h"
#include "compression/wholezlib.h"
#include "pakvane/freshblock.h"
#include "pakvane/payloadheader.h"
#include "pakvane/pkg.h"
#include "pakvane/scenario.h"

namespace {

using F = sPayloadFault;

// The body passes in pieces of this size, at most this many in flight.
constexpr std::size_t kBodyPiece = 256 * 1024;
constexpr std::size_t kRing = 16;
// Packed bytes are read in pieces of this size.
constexpr unsigned int kPackedPiece = 1u << 20;
// A smaller body is checked on the caller's thread alone.
constexpr unsigned long long kThreadedBody = 4ull << 20;
// Output of one inflate call for a deflated item.
constexpr std::size_t kItemOut = 64 * 1024;

void setFault(sPayloadFault& fault, F::eCause cause, unsigned long long at, std::string detail = std::string()) {
    fault.cause = cause;
    fault.at = at;
    fault.detail = std::move(detail);
}

// Reads up to n bytes, taking short reads as they come; `got` is what
// arrived.  False only when a read fails.
bool readSome(cFileIOTarget* src, unsigned char* to, unsigned int n, unsigned int& got, int& error) {
    got = 0;
    while (got < n) {
        errno = 0;
        const unsigned int r = src->read(to + got, n - got);
        if (!cFileIOTarget::transferred(r, n - got)) {
            error = errno ? errno : EIO;
            return false;
        }
        if (r == 0) break;
        got += r;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Inflating: the packed bytes after the header, raw deflate data between
// the zlib header and trailer.
//
// The bytes are read up to the header's packed size, and past it only when
// the stream has not ended there and the source may hold more (a source
// that tells its size, or one whose every byte is the payload's): a stream
// that ends with the file shows a wrong packed size for what it is, instead
// of a file cut short or one that goes on.  Whatever the stream makes past
// the header's body size is counted, not handed on, so that a body size
// that disagrees with an intact stream is told as such.

class cBodyInflater {
public:
    // have: the bytes the source holds after the header, -1 when it cannot
    // tell; toEnd: nothing may follow the payload.
    cBodyInflater(cFileIOTarget* src, const sPayloadHeader& header, long long have, bool toEnd)
        : src_(src), bodySize_(header.bodySize), packedSize_(header.packedSize), toEnd_(toEnd) {
        if (have >= 0) {
            limit_ = std::max<unsigned long long>(packedSize_, static_cast<unsigned long long>(have));
            sourceEnd_ = kHead + static_cast<unsigned long long>(have);
        } else {
            limit_ = toEnd ? ~0ull : packedSize_;
        }
    }
    ~cBodyInflater() {
        if (ready_) inflateEnd(&z_);
    }
    cBodyInflater(const cBodyInflater&) = delete;
    cBodyInflater& operator=(const cBodyInflater&) = delete;

    bool start() {
        try {
            in_.set(static_cast<long long>(std::min<unsigned long long>(limit_, kPackedPiece)));
        } catch (const std::bad_alloc&) {
            return broken(F::noMemory, 0);
        }
        ready_ = inflateInit2(&z_, -15) == Z_OK;
        if (!ready_) return broken(F::noMemory, 0);
        unsigned char head[2];
        if (!take(head, 2)) return false;
        if (!zlibHeaderOk(head))
            return broken(F::badStream, kHead, "its zlib header is not one of a deflate stream without dictionary");
        return true;
    }

    // The next `room` bytes of the body (room within what is left of it)
    // into out.  False when they cannot all be had: the stream ended, broke
    // or could not be read first; `made` is what came before.
    bool fill(unsigned char* out, std::size_t room, std::size_t& made) {
        z_.next_out = out;
        z_.avail_out = static_cast<uInt>(room);
        while (z_.avail_out > 0 && !dataEnd_ && stop_ == going) {
            if (z_.avail_in == 0 && !more()) break;
            const int rc = inflate(&z_, Z_NO_FLUSH);
            if (rc == Z_STREAM_END)
                dataEnd_ = true;
            else if (rc != Z_OK && rc != Z_BUF_ERROR)
                dataError();
        }
        made = room - z_.avail_out;
        inflated_ += made;
        return z_.avail_out == 0;
    }

    // After the body, or where fill stopped: the rest of the deflate data
    // inflated and counted, the trailer taken, and (nothing may follow, the
    // source's size unknown) one byte more looked for.
    void finish() {
        if (stop_ != going) return;
        if (!dataEnd_) {
            _typebuf<unsigned char> spare;
            try {
                spare.set(static_cast<long long>(kItemOut));
            } catch (const std::bad_alloc&) {
                broken(F::noMemory, 0);
                return;
            }
            while (!dataEnd_ && stop_ == going) {
                // No body is larger than its u32 size field can say: past
                // that the counting stops, and so does the work.
                if (bodySize_ + excess_ > sPayloadHeader::kMaxBodySize) {
                    char why[96];
                    std::snprintf(why, sizeof why, "it inflates to more than the %llu bytes a body holds",
                                  sPayloadHeader::kMaxBodySize);
                    broken(F::badStream, here(), why);
                    return;
                }
                if (z_.avail_in == 0 && !more()) return;
                z_.next_out = spare.data();
                z_.avail_out = static_cast<uInt>(kItemOut);
                const int rc = inflate(&z_, Z_NO_FLUSH);
                const std::size_t made = kItemOut - z_.avail_out;
                excess_ += made;
                excessAdler_ = static_cast<std::uint32_t>(::adler32(excessAdler_, spare.data(), static_cast<uInt>(made)));
                if (rc == Z_STREAM_END)
                    dataEnd_ = true;
                else if (rc != Z_OK && rc != Z_BUF_ERROR)
                    dataError();
            }
            if (stop_ != going) return;
        }
        unsigned char trailer[4];
        if (!take(trailer, 4)) return;
        trailer_ = cByteReader::u32be(trailer);
        end_ = here();
        // Where the size is not told, the source's end is found by reading.
        if (sourceEnd_ == ~0ull && toEnd_ && z_.avail_in == 0 && !eof_) {
            unsigned char extra;
            unsigned int got = 0;
            int error = 0;
            if (!readSome(src_, &extra, 1, got, error)) {
                broken(F::readFailed, end_, std::string(), error);
                return;
            }
            if (got == 0) sourceEnd_ = end_;
            extra_ = got != 0;
        }
        stop_ = ended;
    }

    // Damage to the body's bytes, which the walk may place in an item: the
    // deflate data broke off, or it decoded to bytes its checksum refuses.
    enum eDamage { noDamage, brokeOff, wrongSum };

    // The stream's verdict once the bytes handed out are hashed, their
    // Adler-32 `handedAdler`.
    bool verdict(std::uint32_t handedAdler, sPayloadFault& fault, eDamage& damage) const {
        damage = noDamage;
        const unsigned long long announced = kHead + packedSize_;
        char why[256];
        switch (stop_) {
        case going:
            fault = sPayloadFault();
            fault.cause = F::noMemory;
            return false;
        case failed:
            fault = fault_;
            if (dataBroke_) damage = brokeOff;
            return false;
        case cut:
            if (kHead + read_ < announced) {
                setFault(fault, F::truncated, kHead + read_);
                fault.total = announced;
                return false;
            }
            // The bytes past the header's packed size ended too.
            [[fallthrough]];
        case pastLimit:
            setFault(fault, F::badStream, announced, "the packed size its header announces ends inside the stream");
            return false;
        case ended:
            break;
        }
        const std::uint32_t adler = static_cast<std::uint32_t>(
            adler32_combine(handedAdler, excessAdler_, static_cast<z_off_t>(excess_)));
        if (adler != trailer_) {
            setFault(fault, F::badStream, end_ - 4, "its Adler-32 checksum is wrong");
            damage = wrongSum;
            return false;
        }
        // The stream decoded whole and its checksum holds: a size that
        // disagrees with it is the header's.
        const unsigned long long made = inflated_ + excess_;
        if (made != bodySize_) {
            if (made < bodySize_)
                std::snprintf(why, sizeof why, "its header's body size is %llu bytes, but its stream inflates to %llu bytes",
                              bodySize_, made);
            else
                std::snprintf(why, sizeof why,
                              "its header's body size is %llu bytes, but its stream inflates to more than that: "
                              "%llu bytes",
                              bodySize_, made);
            setFault(fault, F::badHeader, sPayloadHeader::kBodySizeAt, why);
            return false;
        }
        if (end_ != announced) {
            if (end_ == sourceEnd_) {
                std::snprintf(why, sizeof why,
                              "its header's packed size, %llu bytes, disagrees with its length, %llu bytes: its "
                              "stream ends with the file, after %llu packed bytes",
                              packedSize_, sourceEnd_, end_ - kHead);
                setFault(fault, F::badHeader, sPayloadHeader::kPackedSizeAt, why);
            } else if (end_ < announced) {
                std::snprintf(why, sizeof why, "the stream ends at byte %llu, before the %llu packed bytes its header announces",
                              end_, packedSize_);
                setFault(fault, F::badStream, end_, why);
            } else {
                std::snprintf(why, sizeof why, "the stream goes on past the %llu packed bytes its header announces, to byte %llu",
                              packedSize_, end_);
                setFault(fault, F::badStream, announced, why);
            }
            return false;
        }
        if (toEnd_ && (extra_ || (sourceEnd_ != ~0ull && sourceEnd_ > end_))) {
            setFault(fault, F::trailing, end_);
            fault.total = extra_ ? 0 : sourceEnd_ - end_;
            return false;
        }
        return true;
    }

    // A payload checked as it was written is read to its end before its
    // header's packed size is known: that size, and the bytes the source
    // holds after the header, from the header written at the end.
    void settle(unsigned long long packedSize, long long have) {
        packedSize_ = packedSize;
        if (have >= 0) sourceEnd_ = kHead + static_cast<unsigned long long>(have);
    }

    unsigned long long packedRead() const { return read_.load(std::memory_order_relaxed); }
    unsigned long long inflated() const { return inflated_.load(std::memory_order_relaxed); }

private:
    static constexpr unsigned long long kHead = sPayloadHeader::kSize;
    enum eStop { going, ended, failed, cut, pastLimit };

    // The payload's byte where the inflating stands.
    unsigned long long here() const { return kHead + read_ - z_.avail_in; }

    // Stops with a fault of the inflating's own; false.
    bool broken(F::eCause cause, unsigned long long at, std::string why = std::string(), int error = 0) {
        stop_ = failed;
        setFault(fault_, cause, at, std::move(why));
        fault_.error = error;
        return false;
    }
    // The deflate data does not decode: named at the last byte read, the
    // one that gave it away.
    void dataError() {
        const unsigned long long at = here();
        broken(F::badStream, at > kHead ? at - 1 : at, std::string("inflate: ") + (z_.msg ? z_.msg : "error"));
        dataBroke_ = true;
    }

    // Reads the next piece of packed bytes into the input: up to the
    // header's packed size, then as far as the source may go.
    bool more() {
        if (eof_) {
            stop_ = cut;
            return false;
        }
        const unsigned long long bound = read_ < packedSize_ ? packedSize_ : limit_;
        if (read_ >= bound) {
            stop_ = pastLimit;
            return false;
        }
        const unsigned int want = static_cast<unsigned int>(std::min<unsigned long long>(kPackedPiece, bound - read_));
        unsigned int got = 0;
        int error = 0;
        if (!readSome(src_, in_.data(), want, got, error)) return broken(F::readFailed, kHead + read_ + got, std::string(), error);
        read_ += got;
        if (got < want) {
            eof_ = true;
            if (sourceEnd_ == ~0ull) sourceEnd_ = kHead + read_;
            if (got == 0) {
                stop_ = cut;
                return false;
            }
        }
        z_.next_in = in_.data();
        z_.avail_in = got;
        return true;
    }

    // Takes n raw bytes from the input (the zlib header and trailer).
    bool take(unsigned char* to, unsigned n) {
        while (n > 0) {
            if (z_.avail_in == 0 && !more()) return false;
            *to++ = *z_.next_in++;
            --z_.avail_in;
            --n;
        }
        return true;
    }

    cFileIOTarget* src_;
    unsigned long long bodySize_, packedSize_;
    bool toEnd_;
    // The most packed bytes read, and the payload's byte where the source
    // ends (~0: not known).
    unsigned long long limit_ = 0, sourceEnd_ = ~0ull;
    z_stream z_{};
    bool ready_ = false, dataEnd_ = false, eof_ = false, extra_ = false, dataBroke_ = false;
    eStop stop_ = going;
    sPayloadFault fault_;
    _typebuf<unsigned char> in_;
    std::atomic<unsigned long long> read_{0}, inflated_{0};
    // Past the body's size: the bytes made and their Adler-32.
    unsigned long long excess_ = 0;
    std::uint32_t excessAdler_ = 1;
    // The trailer's Adler-32, and the payload's byte after it.
    std::uint32_t trailer_ = 0;
    unsigned long long end_ = 0;
};

// ---------------------------------------------------------------------------
// The body's pieces, from the inflating to the hashing and the walking.

class cBodyPipe {
public:
    cBodyPipe(cBodyInflater& inflater, unsigned long long bodySize, bool threaded)
        : inflater_(inflater), bodySize_(bodySize), threaded_(threaded) {
        sha256_starts(&sha_);
    }
    ~cBodyPipe() { stop(); }
    cBodyPipe(const cBodyPipe&) = delete;
    cBodyPipe& operator=(const cBodyPipe&) = delete;

    bool start() {
        try {
            for (std::size_t i = 0; i < (threaded_ ? kRing : 1); ++i)
                ring_[i].set(static_cast<long long>(std::min<unsigned long long>(bodySize_, kBodyPiece)));
            if (threaded_) {
                // The hashing first: it only waits for pieces, so that when
                // the system refuses the second thread (a limit of processes)
                // nothing has been taken yet, and this thread does it all.
                try {
                    hashing_ = std::thread([this] { hashAll(); });
                    inflating_ = std::thread([this] { inflateAll(); });
                } catch (const std::system_error&) {
                    stop();
                    stopping_ = false;
                    threaded_ = false;
                }
            }
        } catch (const std::exception&) {
            stop();
            return false;
        }
        return true;
    }

    // The next piece of the body for the walker; null at the body's end or
    // where the inflating stopped (what came before a stop is a piece too,
    // so that the walker reaches the damage).  The piece before is released.
    const unsigned char* next(std::size_t& n) {
        if (!threaded_) {
            if (done_) return nullptr;
            const std::size_t room = static_cast<std::size_t>(std::min<unsigned long long>(kBodyPiece, bodySize_ - given_));
            std::size_t made = 0;
            if (room == 0 || !inflater_.fill(ring_[0].data(), room, made)) {
                inflater_.finish();
                done_ = true;
            }
            if (made == 0) return nullptr;
            hash(ring_[0].data(), made);
            given_ += made;
            n = made;
            return ring_[0].data();
        }
        std::unique_lock<std::mutex> l(m_);
        if (holding_) {
            holding_ = false;
            ++walked_;
            changed_.notify_all();
        }
        changed_.wait(l, [&] { return walked_ < produced_ || ended_; });
        if (walked_ == produced_) return nullptr;
        holding_ = true;
        n = sizes_[walked_ % kRing];
        return ring_[walked_ % kRing].data();
    }

    // Waits for the inflating and the hashing to end: the SHA-256 and the
    // Adler-32 of what was handed on.  The walker has stopped asking.
    void finish(unsigned char (&sha)[32], std::uint32_t& adler) {
        if (threaded_) {
            {
                std::unique_lock<std::mutex> l(m_);
                walkerGone_ = true;
                changed_.notify_all();
                changed_.wait(l, [&] { return ended_ && hashed_ == produced_; });
            }
            stop();
        } else {
            // Whatever the walker left is inflated and hashed here.
            std::size_t n;
            while (next(n)) {
            }
        }
        sha256_finish(&sha_, sha);
        adler = adler_;
    }

private:
    void hash(const unsigned char* p, std::size_t n) {
        sha256_update(&sha_, p, static_cast<std::uint32_t>(n));
        adler_ = static_cast<std::uint32_t>(
            adler32_combine(adler_, ::adler32(p, static_cast<long long>(n)), static_cast<z_off_t>(n)));
    }

    void inflateAll() {
        unsigned long long given = 0;
        for (;;) {
            std::size_t slot;
            {
                std::unique_lock<std::mutex> l(m_);
                // The slowest of the two readers frees the slots; a walker
                // that has gone frees its own.
                changed_.wait(l, [&] {
                    const unsigned long long behind = walkerGone_ ? hashed_ : std::min(hashed_, walked_);
                    return stopping_ || produced_ - behind < kRing;
                });
                if (stopping_) return;
                slot = produced_ % kRing;
            }
            const std::size_t room = static_cast<std::size_t>(std::min<unsigned long long>(kBodyPiece, bodySize_ - given));
            std::size_t made = 0;
            const bool ok = room > 0 && inflater_.fill(ring_[slot].data(), room, made);
            if (!ok) inflater_.finish();
            std::lock_guard<std::mutex> l(m_);
            if (made > 0) {
                sizes_[slot] = made;
                ++produced_;
                given += made;
            }
            if (!ok) ended_ = true;
            changed_.notify_all();
            if (!ok) return;
        }
    }

    void hashAll() {
        for (;;) {
            std::size_t slot, n;
            {
                std::unique_lock<std::mutex> l(m_);
                changed_.wait(l, [&] { return stopping_ || hashed_ < produced_ || ended_; });
                if (stopping_ || hashed_ == produced_) return;
                slot = hashed_ % kRing;
                n = sizes_[slot];
            }
            hash(ring_[slot].data(), n);
            std::lock_guard<std::mutex> l(m_);
            ++hashed_;
            changed_.notify_all();
        }
    }

    void stop() {
        {
            std::lock_guard<std::mutex> l(m_);
            stopping_ = true;
        }
        changed_.notify_all();
        if (inflating_.joinable()) inflating_.join();
        if (hashing_.joinable()) hashing_.join();
    }

    cBodyInflater& inflater_;
    unsigned long long bodySize_;
    bool threaded_;
    _typebuf<unsigned char> ring_[kRing];
    std::size_t sizes_[kRing] = {};
    sSHA256Ctx sha_;
    std::uint32_t adler_ = 1;
    // The caller's thread alone.
    bool done_ = false;
    unsigned long long given_ = 0;
    // Under the lock: pieces made, hashed and walked so far.
    std::mutex m_;
    std::condition_variable changed_;
    unsigned long long produced_ = 0, hashed_ = 0, walked_ = 0;
    bool holding_ = false, ended_ = false, walkerGone_ = false, stopping_ = false;
    std::thread inflating_, hashing_;
};

// ---------------------------------------------------------------------------
// Walking the body: the bytes in order, as the sections ask for them.

class cBodyWalker {
public:
    cBodyWalker(cBodyPipe& pipe, sPayloadProgress& progress, cPayloadObserver* observer,
                const cBodyInflater& inflater)
        : pipe_(pipe), progress_(progress), observer_(observer), inflater_(inflater) {}

    unsigned long long pos() const { return pos_; }

    // Hands the next n bytes to f in spans; false when the body ends first.
    template <typename Fn>
    bool pass(unsigned long long n, Fn&& f) {
        while (n > 0) {
            if (left_ == 0 && !fetch()) return false;
            const std::size_t take = static_cast<std::size_t>(std::min<unsigned long long>(n, left_));
            f(p_, take);
            p_ += take;
            left_ -= take;
            pos_ += take;
            n -= take;
        }
        return true;
    }
    bool get(void* to, std::size_t n) {
        unsigned char* d = static_cast<unsigned char*>(to);
        return pass(n, [&](const unsigned char* p, std::size_t k) {
            std::memcpy(d, p, k);
            d += k;
        });
    }

    void report() {
        progress_.packedDone = inflater_.packedRead();
        progress_.plainDone = inflater_.inflated();
        progress_.checkedDone = pos_;
        if (observer_) observer_->onPayloadProgress(progress_);
    }

private:
    bool fetch() {
        std::size_t n = 0;
        p_ = pipe_.next(n);
        left_ = p_ ? n : 0;
        report();
        return p_ != nullptr;
    }

    cBodyPipe& pipe_;
    sPayloadProgress& progress_;
    cPayloadObserver* observer_;
    const cBodyInflater& inflater_;
    const unsigned char* p_ = nullptr;
    std::size_t left_ = 0;
    unsigned long long pos_ = 0;
};

// A deflated item's data as it passes: inflated, its plain bytes hashed,
// held to what cSoftPkg::verify asks (a zlib stream, its checksum right,
// that ends after exactly the unpacked size with nothing after it).
class cItemInflater {
public:
    cItemInflater(std::uint32_t plain, sSHA256Ctx& sha) : plain_(plain), sha_(sha) {
        ok_ = inflateInit(&z_) == Z_OK;
        ready_ = ok_;
    }
    ~cItemInflater() {
        if (ready_) inflateEnd(&z_);
    }
    cItemInflater(const cItemInflater&) = delete;
    cItemInflater& operator=(const cItemInflater&) = delete;

    void feed(const unsigned char* p, std::size_t n, unsigned char* out) {
        if (!ok_ || n == 0) return;
        if (ended_) {
            ok_ = false;  // data after the stream's end
            return;
        }
        z_.next_in = const_cast<unsigned char*>(p);
        z_.avail_in = static_cast<uInt>(n);
        do {
            z_.next_out = out;
            z_.avail_out = kItemOut;
            const int rc = inflate(&z_, Z_NO_FLUSH);
            const std::size_t made = kItemOut - z_.avail_out;
            total_ += made;
            if (total_ > plain_) {
                ok_ = false;
                return;
            }
            sha256_update(&sha_, out, static_cast<std::uint32_t>(made));
            if (rc == Z_STREAM_END) {
                ended_ = true;
                if (z_.avail_in != 0) ok_ = false;
                return;
            }
            if (rc == Z_BUF_ERROR) return;
            if (rc != Z_OK) {
                ok_ = false;
                return;
            }
        } while (z_.avail_in > 0 || z_.avail_out == 0);
    }
    bool whole() const { return ok_ && ended_ && total_ == plain_; }

private:
    z_stream z_{};
    bool ready_ = false, ok_ = false, ended_ = false;
    unsigned long long total_ = 0;
    std::uint32_t plain_;
    sSHA256Ctx& sha_;
};

// The sections of the body: all but the item table kept as they are, the
// item table checked and kept as records.
class cSectionSplitter {
public:
    cSectionSplitter(cBodyWalker& w, sPayloadProgress& progress) : w_(w), progress_(progress) {}

    // Walks to the end tag.  False at the first break of the layout, with
    // where (a body byte) and what.
    bool walk() {
        for (;;) {
            unsigned char tag;
            if (!w_.get(&tag, 1)) return broken("the body ends without its end tag 0");
            if (tag == 0) return true;
            if (tag > 13) {
                char why[64];
                std::snprintf(why, sizeof why, "section tag %u is not known", tag);
                return broken(why, w_.pos() - 1);
            }
            if (tag == 13) {
                if (!table()) return false;
                continue;
            }
            kept_.push_back(tag);
            if (!section(tag)) return broken("the body ends inside a section, or a list breaks its layout");
        }
    }

    unsigned long long where() const { return where_; }
    const std::string& what() const { return what_; }
    // The kept sections, handed over once.
    std::vector<unsigned char> takeKept() { return std::move(kept_); }
    std::vector<cSoftPkg::sRecord> takeRecords() { return std::move(records_); }
    long long badItem() const { return badItem_; }
    // Where damage to the body's bytes lies, as far as the walk can tell:
    // the first item that does not match its digest, else the item whose
    // record the body broke off in (past its size fields); -1 for none.
    long long damagedItem() const { return badItem_ >= 0 ? badItem_ : cutItem_; }
    // One more than the highest item a file entry names (0: none).
    std::uint64_t itemsNamed() const { return itemsNamed_; }
    std::uint64_t fileEntries() const { return fileEntries_; }

private:
    bool broken(const std::string& why, unsigned long long at = ~0ull) {
        what_ = why;
        where_ = at == ~0ull ? w_.pos() : at;
        return false;
    }

    bool copy(unsigned long long n) {
        return w_.pass(n, [&](const unsigned char* p, std::size_t k) { kept_.insert(kept_.end(), p, p + k); });
    }
    bool u8(unsigned& v) {
        unsigned char b;
        if (!w_.get(&b, 1)) return false;
        kept_.push_back(b);
        v = b;
        return true;
    }
    bool u16(unsigned& v) {
        unsigned char b[2];
        if (!w_.get(b, 2)) return false;
        kept_.insert(kept_.end(), b, b + 2);
        v = b[0] | b[1] << 8;
        return true;
    }
    bool u32(std::uint32_t& v) {
        unsigned char b[4];
        if (!w_.get(b, 4)) return false;
        kept_.insert(kept_.end(), b, b + 4);
        v = cByteReader::u32le(b);
        return true;
    }
    bool str() {
        unsigned n;
        return u16(n) && copy(n);
    }
    bool strs(int k) {
        for (int i = 0; i < k; ++i)
            if (!str()) return false;
        return true;
    }
    // A list: entries while the entry byte is 1, to a 0.
    template <typename Entry>
    bool list(Entry&& entry) {
        for (;;) {
            unsigned e;
            if (!u8(e) || e > 1) return false;
            if (e == 0) return true;
            if (!entry()) return false;
        }
    }
    bool strings() {
        return list([&] { return strs(2); });
    }

    // The extent of each section other than the item table, as
    // loadBinConfig reads it.
    bool section(unsigned tag) {
        unsigned v;
        std::uint32_t x;
        switch (tag) {
        case 1:
            return copy(16) && strs(4);
        case 2:
            return strs(2);
        case 3:
            return list([&] { return strs(7) && u8(v); });
        case 4:
            return list([&] {
                if (!u32(x)) return false;
                itemsNamed_ = std::max<std::uint64_t>(itemsNamed_, std::uint64_t{x} + 1);
                ++fileEntries_;
                if (!u32(x) || !strs(2)) return false;
                for (;;)
                    if (!u8(v) || v == 0xFF) return v == 0xFF;
            });
        case 5:
            return list([&] { return u8(v) && strs(4); });
        case 6:
            return strings();
        case 7:
            for (;;) {
                if (!u8(v)) return false;
                if (v == 0xFF) return true;
                if (!strings()) return false;
            }
        case 8:
            return list([&] { return u16(v) && copy(v) && u16(v) && copy(v); });
        case 9:
        case 11:
            return u32(x) && copy(x);
        case 10:
            return u8(v) && u32(x) && copy(x);
        case 12:
            return list([&] { return str() && u16(v); });
        default:
            return false;
        }
    }

    // An item table: each record's data checked against its digest as it
    // passes; a later table replaces an earlier one, as loadBinConfig has it.
    bool table() {
        records_.clear();
        badItem_ = cutItem_ = -1;
        _typebuf<unsigned char> out;
        // The body ends inside the record being read.
        auto cutShort = [&] {
            cutItem_ = static_cast<long long>(records_.size());
            return broken("the body ends inside the item table");
        };
        for (;;) {
            unsigned char head[8];
            if (!w_.get(head, 8)) return broken("the body ends inside the item table");
            const std::uint32_t unpacked = cByteReader::u32le(head), stored = cByteReader::u32le(head + 4);
            if (stored == 0 && unpacked == 0) return true;
            if (stored == 0 && unpacked != cSoftPkg::kEmptyItemMark) {
                char why[96];
                std::snprintf(why, sizeof why, "item record %zu has no data and is not marked empty",
                              records_.size());
                return broken(why, w_.pos() - 8);
            }
            if (records_.size() >= cSoftPkg::kMaxItems) return broken("more item records than a table holds");
            cSoftPkg::sRecord r;
            r.unpackedSize = stored == 0 ? 0 : unpacked;
            r.storedLength = stored;
            if (!w_.get(r.digest, 32)) return cutShort();
            sSHA256Ctx sha;
            sha256_starts(&sha);
            bool ok;
            if (r.unpackedSize == 0) {
                ok = w_.pass(stored, [&](const unsigned char* p, std::size_t k) {
                    sha256_update(&sha, p, static_cast<std::uint32_t>(k));
                });
                if (!ok) return cutShort();
            } else {
                if (out.empty()) {
                    try {
                        out.set(kItemOut);
                    } catch (const std::bad_alloc&) {
                        return broken("out of memory");
                    }
                }
                cItemInflater z(r.unpackedSize, sha);
                if (!w_.pass(stored, [&](const unsigned char* p, std::size_t k) { z.feed(p, k, out.data()); }))
                    return cutShort();
                ok = z.whole();
            }
            unsigned char got[32];
            sha256_finish(&sha, got);
            if ((!ok || std::memcmp(got, r.digest, 32) != 0) && badItem_ < 0)
                badItem_ = static_cast<long long>(records_.size());
            try {
                records_.push_back(r);
            } catch (const std::bad_alloc&) {
                return broken("out of memory");
            }
            // Every record checked, of every table: the count only grows.
            ++progress_.items;
        }
    }

    cBodyWalker& w_;
    sPayloadProgress& progress_;
    std::vector<unsigned char> kept_;
    std::vector<cSoftPkg::sRecord> records_;
    long long badItem_ = -1, cutItem_ = -1;
    std::uint64_t itemsNamed_ = 0, fileEntries_ = 0;
    unsigned long long where_ = 0;
    std::string what_;
};

// The kept sections, read by the loader as a body of their own, with the
// items known by their records.  With `partial` the walk stopped early, and
// records stand in for the items it did not reach, so that the file entries
// still say where each item goes.  The kept bytes move into the body's
// block and the records into the items, never held twice.
bool loadKept(cSectionSplitter& split, cSoftPkgScenario& into, bool partial = false) {
    std::vector<cSoftPkg::sRecord> records = split.takeRecords();
    std::shared_ptr<unsigned char> block;
    std::size_t size = 0;
    try {
        // A file entry names one item: an index past the records and that
        // many more is damage, for which nothing is set up.
        if (partial && split.itemsNamed() > records.size() && split.itemsNamed() <= records.size() + split.fileEntries())
            records.resize(static_cast<std::size_t>(split.itemsNamed()));
        const std::vector<unsigned char> kept = split.takeKept();
        if (kept.size() + 1 > 0xFFFFFFFFull) return false;
        size = kept.size() + 1;
        block = freshBlock(size);
        if (!kept.empty()) std::memcpy(block.get(), kept.data(), kept.size());
        block.get()[kept.size()] = 0;
    } catch (const std::bad_alloc&) {
        return false;
    }
    return into.loadBinBody(block, size, std::move(records));
}

// The header, and the bytes the source holds after its start (-1 when it
// cannot tell).
bool readHeader(cFileIOTarget* src, sPayloadHeader& header, long long& have, sPayloadFault& fault) {
    const long long start = src->get_fp();
    unsigned char head[sPayloadHeader::kSize];
    unsigned int got = 0;
    int error = 0;
    if (!readSome(src, head, sizeof head, got, error)) {
        setFault(fault, F::readFailed, 0);
        fault.error = error;
        return false;
    }
    if (got == 0) {
        setFault(fault, F::notPayload, 0, "it is empty");
        return false;
    }
    char why[160];
    switch (header.read(head, got)) {
    case sPayloadHeader::ok:
        break;
    case sPayloadHeader::notMagic:
        setFault(fault, F::notPayload, 0, "it does not begin with \"QORSOPKG\"");
        return false;
    case sPayloadHeader::cut:
        setFault(fault, F::truncated, got);
        return false;
    case sPayloadHeader::newVersion:
        std::snprintf(why, sizeof why, "its format version %u is not known (0 to %u are)",
                      head[sPayloadHeader::kVersionAt], sPayloadHeader::kVersion);
        setFault(fault, F::notPayload, sPayloadHeader::kVersionAt, why);
        return false;
    }
    const long long size = src->size();
    have = start >= 0 && size >= start ? size - start - static_cast<long long>(sPayloadHeader::kSize) : -1;
    if (have < -1) have = -1;
    // The packed bytes there may be: where the source tells its size, a
    // packed size that disagrees with it is judged by the stream in it.
    // Otherwise the header is taken at its word until the stream is read,
    // and sizes no deflate stream has are refused before anything is set
    // up for them.
    const unsigned long long held = have > 0 ? static_cast<unsigned long long>(have) : 0;
    const unsigned long long packed = std::max<unsigned long long>(header.packedSize, held);
    if (!header.sizesPossible(packed)) {
        if (header.bodySize == 0) {
            setFault(fault, F::notPayload, sPayloadHeader::kBodySizeAt,
                     "its header's body size is 0 bytes; a body holds at least its end tag");
        } else if (packed == 0) {
            setFault(fault, F::notPayload, sPayloadHeader::kPackedSizeAt, "its header's packed size is 0 bytes");
        } else {
            if (packed == header.packedSize)
                std::snprintf(why, sizeof why,
                              "its header's body size, %u bytes, is more than deflate makes of its header's packed size, "
                              "%llu bytes",
                              header.bodySize, packed);
            else
                std::snprintf(why, sizeof why,
                              "its header's body size, %u bytes, is more than deflate makes of the %llu bytes after its "
                              "header",
                              header.bodySize, packed);
            setFault(fault, F::notPayload, sPayloadHeader::kBodySizeAt, why);
        }
        return false;
    }
    return true;
}

// Names the item that damage to the body's bytes lies in, when the walk
// found one, and loads what the walk kept, so that the caller can say
// where that item goes.
void locateDamage(cSectionSplitter& split, bool laidOut, bool brokeOff, cSoftPkgScenario& into,
                  sPayloadFault& fault) {
    const long long item = split.damagedItem();
    if (item < 0) return;
    fault.item = item;
    if (!brokeOff) {
        // The stream decoded: the checksum's offset says nothing of where.
        fault.at = 0;
        fault.detail = "its bytes do not match its digest";
    }
    try {
        if (!loadKept(split, into, !laidOut)) into.close();
    } catch (const std::bad_alloc&) {
        into.close();
    }
}

}  // namespace

namespace {

// The header written at the end of a payload checked as it was written,
// held against what its stream showed.
bool settledHeader(const tWrittenHeader& written, unsigned long long bodySize, sPayloadHeader& header, long long& have,
                   sPayloadFault& fault) {
    unsigned char head[sPayloadHeader::kSize];
    if (!written(head, have)) return false;
    const sPayloadHeader::eRead r = header.read(head, sizeof head);
    if (r != sPayloadHeader::ok) {
        setFault(fault, F::notPayload, r == sPayloadHeader::newVersion ? sPayloadHeader::kVersionAt : 0,
                 "its header was not written as a payload's");
        return false;
    }
    if (header.bodySize != bodySize) {
        char why[160];
        std::snprintf(why, sizeof why, "its header's body size is %u bytes, but its writer announced %llu bytes",
                      header.bodySize, bodySize);
        setFault(fault, F::badHeader, sPayloadHeader::kBodySizeAt, why);
        return false;
    }
    return true;
}

// The check once the header is known (or, checking as it is written, its
// body size alone, the rest asked of `written` at the end).
bool checkBody(cFileIOTarget* src, sPayloadHeader header, long long have, bool toEnd, cSoftPkgScenario& into,
               sPayloadOptions& options, const tWrittenHeader* written) {
    sPayloadFault& fault = options.fault;
    const unsigned long long bodySize = header.bodySize;

    sPayloadProgress progress;
    progress.plainTotal = progress.checkedTotal = bodySize;
    progress.packedTotal = written ? 0 : header.packedSize;
    if (options.observer) options.observer->onPayloadProgress(progress);

    cBodyInflater inflater(src, header, have, toEnd);
    cBodyInflater::eDamage damage = cBodyInflater::noDamage;
    if (!inflater.start()) {
        inflater.verdict(1, fault, damage);
        return false;
    }
    const bool threaded = payloadThreads(options.threads) > 1 && bodySize >= kThreadedBody;
    cBodyPipe pipe(inflater, bodySize, threaded);
    if (!pipe.start()) {
        fault.cause = F::noMemory;
        return false;
    }
    cBodyWalker walker(pipe, progress, options.observer, inflater);
    cSectionSplitter split(walker, progress);
    bool laidOut = false;
    try {
        laidOut = split.walk();
    } catch (const std::bad_alloc&) {
        fault.cause = F::noMemory;
        return false;
    }
    unsigned char got[32];
    std::uint32_t adler = 0;
    pipe.finish(got, adler);
    if (written) {
        // The writer has ended: its header, and the payload's length, now.
        if (!settledHeader(*written, bodySize, header, have, fault)) return false;
        inflater.settle(header.packedSize, have);
        progress.packedTotal = header.packedSize;
    }
    // The first cause in this order: the stream, its checksum, the body's
    // digest, its layout, an item, the sections' content.  Damage to the
    // body's bytes is named with the item it lies in, when there is one.
    if (!inflater.verdict(adler, fault, damage)) {
        if (damage != cBodyInflater::noDamage)
            locateDamage(split, laidOut, damage == cBodyInflater::brokeOff, into, fault);
        return false;
    }
    if (std::memcmp(got, header.digest, 32) != 0) {
        fault.cause = F::badBody;
        locateDamage(split, laidOut, false, into, fault);
        return false;
    }
    if (!laidOut) {
        setFault(fault, F::badLayout, split.where(), split.what());
        return false;
    }
    progress.itemsTotal = progress.items;
    walker.report();
    if (!loadKept(split, into)) {
        fault.detail = into.documentFault();
        into.close();
        fault.cause = F::badScenario;
        return false;
    }
    if (split.badItem() >= 0) {
        fault.cause = F::badItem;
        fault.item = split.badItem();
        options.badItem = static_cast<int>(split.badItem());
        return false;
    }
    return true;
}

}  // namespace

bool verifyPayloadStream(cFileIOTarget* src, bool toEnd, cSoftPkgScenario& into, sPayloadOptions& options) {
    options.badItem = -1;
    options.fault = sPayloadFault();
    into.close();
    if (!src) {
        setFault(options.fault, F::readFailed, 0);
        options.fault.error = EBADF;
        return false;
    }
    sPayloadHeader header;
    long long have = -1;
    if (!readHeader(src, header, have, options.fault)) return false;
    return checkBody(src, header, have, toEnd, into, options, nullptr);
}

bool verifyPayloadAsWritten(cFileIOTarget* src, unsigned long long bodySize, const tWrittenHeader& written,
                            cSoftPkgScenario& into, sPayloadOptions& options) {
    options.badItem = -1;
    options.fault = sPayloadFault();
    into.close();
    if (!src || bodySize == 0 || bodySize > sPayloadHeader::kMaxBodySize) {
        setFault(options.fault, F::readFailed, 0);
        options.fault.error = EBADF;
        return false;
    }
    // Until the end, the stream is read as far as the writer puts it.
    sPayloadHeader header;
    header.bodySize = static_cast<std::uint32_t>(bodySize);
    header.packedSize = static_cast<std::uint32_t>(sPayloadHeader::kMaxBodySize);
    return checkBody(src, header, -1, true, into, options, &written);
}
