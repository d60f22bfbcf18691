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
#include <thread>
#include <vector>

#include "base/checksum.h"
#include "base/memio.h"
#include "base/sha.h"
#include "compression/wholezlib.h"
#include "pakvane/pkg.h"
#include "pakvane/scenario.h"

namespace {

using F = sPayloadFault;

constexpr unsigned char kMagic[8] = {'Q', 'O', 'R', 'S', 'O', 'P', 'K', 'G'};
constexpr unsigned long long kHeaderBytes = 49;
// Deflate makes at most about 1032 bytes of one: a header that claims a
// larger ratio is no payload's.
constexpr unsigned long long kMaxInflateRatio = 1040;
// The body passes in pieces of this size, at most this many in flight.
constexpr std::size_t kBodyPiece = 256 * 1024;
constexpr std::size_t kRing = 16;
// Packed bytes are read in pieces of this size.
constexpr unsigned int kPackedPiece = 1u << 20;
// A smaller body is checked on the caller's thread alone.
constexpr unsigned long long kThreadedBody = 4ull << 20;
// Output of one inflate call for a deflated item.
constexpr std::size_t kItemOut = 64 * 1024;

std::uint32_t le32(const unsigned char* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void putLe32(std::vector<unsigned char>& v, std::uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<unsigned char>(x >> (8 * i)));
}

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

class cBodyInflater {
public:
    cBodyInflater(cFileIOTarget* src, unsigned long long bodySize, unsigned long long packedSize,
                  sPayloadFault& fault)
        : src_(src), bodySize_(bodySize), packedSize_(packedSize), fault_(fault) {}
    ~cBodyInflater() {
        if (ready_) inflateEnd(&z_);
    }
    cBodyInflater(const cBodyInflater&) = delete;
    cBodyInflater& operator=(const cBodyInflater&) = delete;

    bool start() {
        try {
            in_.set(static_cast<long long>(std::min<unsigned long long>(packedSize_, kPackedPiece)));
        } catch (const std::bad_alloc&) {
            fault_.cause = F::noMemory;
            return false;
        }
        ready_ = inflateInit2(&z_, -15) == Z_OK;
        if (!ready_) {
            fault_.cause = F::noMemory;
            return false;
        }
        unsigned char head[2];
        if (!take(head, 2)) return false;
        if (!zlibHeaderOk(head)) return stream("its zlib header is not one of a deflate stream without dictionary");
        return true;
    }

    // Fills out with the next `room` bytes of the body (room within what is
    // left of it).  False, with the fault set, when they cannot be had.
    bool fill(unsigned char* out, std::size_t room) {
        z_.next_out = out;
        z_.avail_out = static_cast<uInt>(room);
        while (z_.avail_out > 0) {
            if (ended_) {
                inflated_ += room - z_.avail_out;
                char why[160];
                std::snprintf(why, sizeof why, "it inflates to %llu bytes; its header announces %llu",
                              inflated_.load(), bodySize_);
                return stream(why);
            }
            if (z_.avail_in == 0 && !more("the packed size its header announces ends inside the stream")) return false;
            const int rc = inflate(&z_, Z_NO_FLUSH);
            if (rc == Z_STREAM_END) {
                ended_ = true;
                continue;
            }
            if (rc != Z_OK && rc != Z_BUF_ERROR) return stream(std::string("inflate: ") + (z_.msg ? z_.msg : "error"));
        }
        inflated_ += room;
        return true;
    }

    // After the whole body: the stream must end there, its Adler-32 follow,
    // and the packed size end with it; with toEnd, the source too.
    bool end(bool toEnd, std::uint32_t& adler) {
        unsigned char spare;
        while (!ended_) {
            if (z_.avail_in == 0 && !more("the packed size its header announces ends inside the stream")) return false;
            z_.next_out = &spare;
            z_.avail_out = 1;
            const int rc = inflate(&z_, Z_NO_FLUSH);
            if (z_.avail_out == 0) {
                char why[160];
                std::snprintf(why, sizeof why, "it inflates to more than the %llu bytes its header announces",
                              bodySize_);
                return stream(why);
            }
            if (rc == Z_STREAM_END)
                ended_ = true;
            else if (rc != Z_OK && rc != Z_BUF_ERROR)
                return stream(std::string("inflate: ") + (z_.msg ? z_.msg : "error"));
        }
        unsigned char trailer[4];
        if (!take(trailer, 4)) return false;
        adler = static_cast<std::uint32_t>(trailer[0]) << 24 | static_cast<std::uint32_t>(trailer[1]) << 16 |
                static_cast<std::uint32_t>(trailer[2]) << 8 | trailer[3];
        if (z_.avail_in != 0 || read_ != packedSize_) {
            char why[160];
            std::snprintf(why, sizeof why, "the stream ends at byte %llu, before the %llu packed bytes its header announces",
                          kHeaderBytes + read_ - z_.avail_in, packedSize_);
            return stream(why);
        }
        if (toEnd) {
            // A source that could not tell its size: one byte more must not be there.
            unsigned char extra;
            unsigned int got = 0;
            int error = 0;
            if (!readSome(src_, &extra, 1, got, error)) {
                setFault(fault_, F::readFailed, kHeaderBytes + packedSize_);
                fault_.error = error;
                return false;
            }
            if (got) {
                setFault(fault_, F::trailing, kHeaderBytes + packedSize_);
                return false;
            }
        }
        return true;
    }

    unsigned long long packedRead() const { return read_.load(std::memory_order_relaxed); }
    unsigned long long inflated() const { return inflated_.load(std::memory_order_relaxed); }

private:
    // The payload's byte where the inflating stands.
    unsigned long long here() const { return kHeaderBytes + read_ - z_.avail_in; }

    bool stream(const std::string& why) {
        setFault(fault_, F::badStream, here(), why);
        return false;
    }

    // Reads the next piece of packed bytes into the input.
    bool more(const char* pastPacked) {
        if (read_ == packedSize_) return stream(pastPacked);
        const unsigned int want = static_cast<unsigned int>(std::min<unsigned long long>(kPackedPiece, packedSize_ - read_));
        unsigned int got = 0;
        int error = 0;
        if (!readSome(src_, in_.data(), want, got, error)) {
            setFault(fault_, F::readFailed, kHeaderBytes + read_ + got);
            fault_.error = error;
            return false;
        }
        read_ += got;
        if (got < want) {
            setFault(fault_, F::truncated, kHeaderBytes + read_);
            fault_.total = kHeaderBytes + packedSize_;
            return false;
        }
        z_.next_in = in_.data();
        z_.avail_in = got;
        return true;
    }

    // Takes n raw bytes from the input (the zlib header and trailer).
    bool take(unsigned char* to, unsigned n) {
        while (n > 0) {
            if (z_.avail_in == 0 && !more("the packed size its header announces ends inside the stream")) return false;
            *to++ = *z_.next_in++;
            --z_.avail_in;
            --n;
        }
        return true;
    }

    cFileIOTarget* src_;
    unsigned long long bodySize_, packedSize_;
    sPayloadFault& fault_;
    z_stream z_{};
    bool ready_ = false, ended_ = false;
    _typebuf<unsigned char> in_;
    std::atomic<unsigned long long> read_{0}, inflated_{0};
};

// ---------------------------------------------------------------------------
// The body's pieces, from the inflating to the hashing and the walking.

class cBodyPipe {
public:
    cBodyPipe(cBodyInflater& inflater, unsigned long long bodySize, bool toEnd, bool threaded)
        : inflater_(inflater), bodySize_(bodySize), toEnd_(toEnd), threaded_(threaded) {
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
                inflating_ = std::thread([this] { inflateAll(); });
                hashing_ = std::thread([this] { hashAll(); });
            }
        } catch (const std::exception&) {
            stop();
            return false;
        }
        return true;
    }

    // The next piece of the body for the walker; null at the body's end or
    // where the inflating stopped.  The piece before is released.
    const unsigned char* next(std::size_t& n) {
        if (!threaded_) {
            if (done_) return nullptr;
            const std::size_t room = static_cast<std::size_t>(std::min<unsigned long long>(kBodyPiece, bodySize_ - given_));
            if (room == 0 || !inflater_.fill(ring_[0].data(), room)) {
                finishInflating(room == 0);
                done_ = true;
                return nullptr;
            }
            hash(ring_[0].data(), room);
            given_ += room;
            n = room;
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

    // Waits for the inflating and the hashing to end: true when the whole
    // stream went through.  The walker has stopped asking.
    bool finish(unsigned char (&sha)[32], std::uint32_t& adler) {
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
        return streamOk_;
    }
    std::uint32_t trailer() const { return trailer_; }

private:
    void hash(const unsigned char* p, std::size_t n) {
        sha256_update(&sha_, p, static_cast<std::uint32_t>(n));
        adler_ = static_cast<std::uint32_t>(
            adler32_combine(adler_, ::adler32(p, static_cast<long long>(n)), static_cast<z_off_t>(n)));
    }

    void finishInflating(bool whole) { streamOk_ = whole && inflater_.end(toEnd_, trailer_); }

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
            const bool ok = room > 0 && inflater_.fill(ring_[slot].data(), room);
            if (!ok) finishInflating(room == 0);
            std::lock_guard<std::mutex> l(m_);
            if (ok) {
                sizes_[slot] = room;
                ++produced_;
                given += room;
            } else {
                ended_ = true;
            }
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
    bool toEnd_, threaded_;
    _typebuf<unsigned char> ring_[kRing];
    std::size_t sizes_[kRing] = {};
    sSHA256Ctx sha_;
    std::uint32_t adler_ = 1, trailer_ = 0;
    // Set by the inflating before it ends (read after `ended_`, under the
    // lock, or on the caller's thread alone).
    bool streamOk_ = false;
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
    const std::vector<unsigned char>& kept() const { return kept_; }
    const std::vector<cSoftPkg::sRecord>& records() const { return records_; }
    long long badItem() const { return badItem_; }

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
        v = le32(b);
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
                if (!u32(x) || !u32(x) || !strs(2)) return false;
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
        badItem_ = -1;
        _typebuf<unsigned char> out;
        for (;;) {
            unsigned char head[8];
            if (!w_.get(head, 8)) return broken("the body ends inside the item table");
            const std::uint32_t unpacked = le32(head), stored = le32(head + 4);
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
            if (!w_.get(r.digest, 32)) return broken("the body ends inside the item table");
            sSHA256Ctx sha;
            sha256_starts(&sha);
            bool ok;
            if (r.unpackedSize == 0) {
                ok = w_.pass(stored, [&](const unsigned char* p, std::size_t k) {
                    sha256_update(&sha, p, static_cast<std::uint32_t>(k));
                });
                if (!ok) return broken("the body ends inside the item table");
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
                    return broken("the body ends inside the item table");
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
    long long badItem_ = -1;
    unsigned long long where_ = 0;
    std::string what_;
};

// A payload of the kept sections with an empty record in each item's place,
// read by loadBinConfig; the items then get their records.
bool loadKept(const cSectionSplitter& split, cSoftPkgScenario& into) {
    std::vector<unsigned char> body, payload;
    try {
        const auto& records = split.records();
        body.reserve(split.kept().size() + 10 + 40 * records.size());
        body = split.kept();
        if (!records.empty()) {
            body.push_back(13);
            for (const cSoftPkg::sRecord& r : records) {
                putLe32(body, cSoftPkg::kEmptyItemMark);
                putLe32(body, 0);
                body.insert(body.end(), r.digest, r.digest + 32);
            }
            for (int i = 0; i < 8; ++i) body.push_back(0);
        }
        body.push_back(0);
        if (body.size() > 0xFFFFFFFFull) return false;
        uLongf packed = compressBound(static_cast<uLong>(body.size()));
        payload.resize(kHeaderBytes + packed);
        if (compress2(payload.data() + kHeaderBytes, &packed, body.data(), static_cast<uLong>(body.size()), 1) != Z_OK)
            return false;
        payload.resize(kHeaderBytes + packed);
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::memcpy(payload.data(), kMagic, 8);
    payload[8] = 1;
    const std::uint32_t sizes[2] = {static_cast<std::uint32_t>(body.size()),
                                    static_cast<std::uint32_t>(payload.size() - kHeaderBytes)};
    for (int k = 0; k < 2; ++k)
        for (int b = 0; b < 4; ++b) payload[9 + 4 * k + b] = static_cast<unsigned char>(sizes[k] >> (8 * b));
    unsigned char digest[32];
    SHA2Hash(body.data(), digest, static_cast<long long>(body.size()));
    std::memcpy(payload.data() + 17, digest, 32);
    cBufWrapperIO in(payload.data(), static_cast<long long>(payload.size()), false);
    return into.loadBinConfig(&in) && into.package().loadRecords(split.records());
}

// The header: its sizes, and whether a source that tells its size (told)
// holds what the header announces.
bool readHeader(cFileIOTarget* src, bool toEnd, unsigned long long& bodySize, unsigned long long& packedSize,
                unsigned char (&digest)[32], bool& told, sPayloadFault& fault) {
    const long long start = src->get_fp();
    unsigned char head[kHeaderBytes];
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
    if (std::memcmp(head, kMagic, std::min<unsigned>(got, 8)) != 0) {
        setFault(fault, F::notPayload, 0, "it does not begin with \"QORSOPKG\"");
        return false;
    }
    if (got < kHeaderBytes) {
        setFault(fault, F::truncated, got);
        return false;
    }
    if (head[8] > 1) {
        char why[96];
        std::snprintf(why, sizeof why, "its format version %u is not known (0 and 1 are)", head[8]);
        setFault(fault, F::notPayload, 8, why);
        return false;
    }
    bodySize = le32(head + 9);
    packedSize = le32(head + 13);
    std::memcpy(digest, head + 17, 32);
    if (bodySize == 0 || packedSize == 0 || bodySize > packedSize * kMaxInflateRatio) {
        char why[160];
        std::snprintf(why, sizeof why, "its header announces %llu bytes of body in %llu packed, which deflate cannot make",
                      bodySize, packedSize);
        setFault(fault, F::notPayload, 9, why);
        return false;
    }
    // A source that tells its size is held to it at once.
    const long long size = src->size();
    told = start >= 0 && size >= start;
    if (told) {
        const unsigned long long have = static_cast<unsigned long long>(size - start);
        const unsigned long long want = kHeaderBytes + packedSize;
        if (have < want) {
            setFault(fault, F::truncated, have);
            fault.total = want;
            return false;
        }
        if (toEnd && have > want) {
            setFault(fault, F::trailing, want);
            fault.total = have - want;
            return false;
        }
    }
    return true;
}

}  // namespace

bool verifyPayloadStream(cFileIOTarget* src, bool toEnd, cSoftPkgScenario& into, sPayloadOptions& options) {
    options.badItem = -1;
    options.fault = sPayloadFault();
    sPayloadFault& fault = options.fault;
    into.close();
    if (!src) {
        setFault(fault, F::readFailed, 0);
        fault.error = EBADF;
        return false;
    }
    unsigned long long bodySize = 0, packedSize = 0;
    unsigned char want[32];
    bool told = false;
    if (!readHeader(src, toEnd, bodySize, packedSize, want, told, fault)) return false;

    sPayloadProgress progress;
    progress.plainTotal = progress.checkedTotal = bodySize;
    progress.packedTotal = packedSize;
    if (options.observer) options.observer->onPayloadProgress(progress);

    sPayloadFault streamFault;
    cBodyInflater inflater(src, bodySize, packedSize, streamFault);
    const bool threaded = payloadThreads(options.threads) > 1 && bodySize >= kThreadedBody;
    // A source that could not tell its size is found to end only as it is
    // read.
    cBodyPipe pipe(inflater, bodySize, toEnd && !told, threaded);
    if (!inflater.start() || !pipe.start()) {
        if (!streamFault) streamFault.cause = F::noMemory;
        fault = streamFault;
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
    const bool streamOk = pipe.finish(got, adler);
    // The first cause in this order: the stream, its checksum, the body's
    // digest, its layout, an item, the sections' content.
    if (!streamOk) {
        fault = streamFault;
        if (!fault) fault.cause = F::noMemory;
        return false;
    }
    if (adler != pipe.trailer()) {
        setFault(fault, F::badStream, kHeaderBytes + packedSize - 4, "its Adler-32 checksum is wrong");
        return false;
    }
    if (std::memcmp(got, want, 32) != 0) {
        fault.cause = F::badBody;
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
