// The payload body on every core: a worker pool, the block deflater that
// keeps one zlib stream of blocks deflated side by side, the reading ahead
// of package files, and the pipelined inflating, hashing and checking of a
// payload read back.
#include "pakvane/pkgstream.h"

#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "base/checksum.h"
#include "base/sha.h"
#include "compression/blockdeflate.h"
#include "compression/joindeflate.h"
#include "compression/wholezlib.h"
#include "pakvane/freshblock.h"
#include "pakvane/payloadheader.h"
#include "pakvane/pkg.h"
#include "pakvane/storedblocks.h"

namespace {

// Pieces in which files are read and packed bytes are read back.
constexpr unsigned int kPiece = 1u << 20;
// Items considered for reading ahead beyond the one being packed.
constexpr std::uint32_t kItemsAhead = 256;
constexpr std::size_t kRecordHead = 40;
// The format's sizes are u32 fields.
constexpr unsigned long long kMaxU32 = 0xFFFFFFFFull;
// A file that yields more than its size is read on this far to say how
// much it holds now.
constexpr unsigned long long kGrowthCounted = 64ull << 20;

// Reads exactly n bytes, taking short reads as they come.
bool readExactly(cFileIOTarget* src, unsigned char* to, unsigned int n) {
    while (n > 0) {
        const unsigned int got = src->read(to, n);
        if (!cFileIOTarget::transferred(got, n) || got == 0) return false;
        to += got;
        n -= got;
    }
    return true;
}

void putU32le(unsigned char* at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(v >> (8 * i));
}

// Writes all n bytes, taking short writes as they come; a failure keeps
// the system's reason.
bool writeAll(cFileIOTarget* dst, const unsigned char* p, std::size_t n, sPayloadFault& fault) {
    while (n > 0) {
        const unsigned int want = static_cast<unsigned int>(std::min<std::size_t>(n, 1u << 30));
        errno = 0;
        const unsigned int put = dst->write(const_cast<unsigned char*>(p), want);
        if (!cFileIOTarget::transferred(put, want) || put == 0) {
            fault.cause = sPayloadFault::writeFailed;
            fault.error = errno ? errno : EIO;
            return false;
        }
        p += put;
        n -= put;
    }
    return true;
}

void fileFault(sPayloadFault& fault, sPayloadFault::eCause cause, const std::string& path, int error = 0) {
    fault.cause = cause;
    fault.path = path;
    fault.error = error;
    fault.detail.clear();
}

// ---------------------------------------------------------------------------
// Worker pool: tasks that read files run before blocks to deflate, so that
// reading keeps ahead of the packing within its budget.

// libdeflate's levels for the blocks that go to it (chooseBlockEngine): on
// the bodies measured (bench/README.md) its pieces without history come out
// no larger than zlib's at level 9 with history, in under half the time.
constexpr int kPieceLevel = 6, kDeepPieceLevel = 9;

struct sWorker {
    // Each made on the first block for it.
    std::unique_ptr<cBlockDeflater> chains;
    std::unique_ptr<cJoinedDeflater> pieces, deepPieces;
    sStoredScratch stored;
};

class cWorkPool {
public:
    using tTask = std::function<void(sWorker&)>;

    // As many threads as the system starts, up to `threads`: a limit of
    // processes leaves fewer workers, and none at all throws the
    // std::system_error that says why.
    explicit cWorkPool(int threads) {
        try {
            for (int i = 0; i < threads; ++i) threads_.emplace_back([this] { run(); });
        } catch (const std::system_error&) {
            if (threads_.empty()) throw;
        }
    }
    int size() const { return static_cast<int>(threads_.size()); }
    ~cWorkPool() {
        {
            std::lock_guard<std::mutex> l(m_);
            stop_ = true;
        }
        wake_.notify_all();
        for (std::thread& t : threads_) t.join();
    }
    cWorkPool(const cWorkPool&) = delete;
    cWorkPool& operator=(const cWorkPool&) = delete;

    void submit(tTask task, bool reading) {
        {
            std::lock_guard<std::mutex> l(m_);
            (reading ? reads_ : blocks_).push_back(std::move(task));
        }
        wake_.notify_one();
    }
    // Runs f under the pool's lock and wakes whoever waits for results.
    template <typename F>
    void publish(F&& f) {
        {
            std::lock_guard<std::mutex> l(m_);
            f();
        }
        done_.notify_all();
    }
    // Runs f under the pool's lock.
    template <typename F>
    void locked(F&& f) {
        std::lock_guard<std::mutex> l(m_);
        f();
    }
    // Waits until pred(), tested under the pool's lock, holds.
    template <typename P>
    void waitFor(P&& pred) {
        std::unique_lock<std::mutex> l(m_);
        done_.wait(l, pred);
    }

private:
    void run() {
        sWorker w;
        for (;;) {
            tTask task;
            {
                std::unique_lock<std::mutex> l(m_);
                wake_.wait(l, [this] { return stop_ || !reads_.empty() || !blocks_.empty(); });
                // Stopping drops what is still queued: its owner has gone.
                if (stop_) return;
                std::deque<tTask>& q = reads_.empty() ? blocks_ : reads_;
                task = std::move(q.front());
                q.pop_front();
            }
            task(w);
        }
    }

    std::mutex m_;
    std::condition_variable wake_, done_;
    std::deque<tTask> reads_, blocks_;
    bool stop_ = false;
    std::vector<std::thread> threads_;
};

// ---------------------------------------------------------------------------
// One block of the body: its dictionary (the bytes before it) and its data,
// and once done its deflated bytes and the Adler-32 of its data.

struct sBlock {
    std::vector<unsigned char> in;
    std::size_t dict = 0;
    // The body offset of the first data byte.
    unsigned long long start = 0;
    bool last = false;
    // Not handed to the pool yet: it holds a digest not known yet (see
    // cBodyDeflater::putPending).  The feeder's thread alone.
    bool waiting = false;
    // Set under the pool's lock.
    bool done = false;
    bool ok = false;
    _typebuf<unsigned char> out;  // outBytes of it used
    std::size_t outBytes = 0;
    uLong adler = 1;
    std::size_t dataBytes() const { return in.size() - dict; }
};

// The most bytes any engine writes for a block of n bytes.
std::size_t blockBound(std::size_t n) {
    return std::max({cBlockDeflater::bound(n), storedBlocksBound(n), cJoinedDeflater::bound(n)});
}

// Deflates b's data into out, whose room is kept from block to block.
void deflateBlock(sWorker& w, const sBlock& b, _typebuf<unsigned char>& out, std::size_t& outBytes, uLong& adler,
                  bool& ok) {
    const std::size_t n = b.dataBytes();
    const unsigned char* data = b.in.data() + b.dict;
    // The library's Adler-32, several times faster than zlib's.
    adler = ::adler32(data, static_cast<long long>(n));
    // Bytes that deflate cannot shrink are stored without a search; text of
    // a small vocabulary, code and tables go to our deflater, whose matches
    // reach into the history before the block; the rest to libdeflate,
    // whole, lists and tables of very long chains at its level 9.  The
    // choice is the bytes' alone, so the same bytes give the same output.
    const eBlockEngine engine = chooseBlockEngine(data, n, b.dict, w.stored);
    const bool stored = engine == eBlockEngine::stored, chains = engine == eBlockEngine::chains;
    const std::size_t room = blockBound(n);
    try {
        if (out.bytes() < room) out.set(static_cast<long long>(room));
    } catch (const std::bad_alloc&) {
        ok = false;
        return;
    }
    if (stored) {
        outBytes = putStoredBlocks(data, n, b.last, out.data());
        ok = true;
        return;
    }
    // Each block but the last ends as a sync flush ends it, on a byte
    // boundary with nothing pending, so that the next block's bytes can
    // follow it directly.
    if (chains) {
        if (!w.chains) w.chains = std::make_unique<cBlockDeflater>();
        outBytes = w.chains->deflate(data, n, b.dict, b.last, out.data(), room);
        ok = outBytes > 0;
        return;
    }
    const bool deep = engine == eBlockEngine::wholeDeep;
    std::unique_ptr<cJoinedDeflater>& pieces = deep ? w.deepPieces : w.pieces;
    if (!pieces) pieces = std::make_unique<cJoinedDeflater>(deep ? kDeepPieceLevel : kPieceLevel);
    outBytes = pieces->deflate(data, n, b.last, out.data(), room);
    ok = outBytes > 0;
}

// The body's bytes in order in, the zlib stream out: blocks deflated on the
// pool, written to dst in order.  Blocks finish out of order (text takes
// longer than noise), so enough of them are kept in flight (two per worker
// and two more, some 2.2 MiB of buffers per worker, and at most 16) that a
// slow block at the front does not leave the workers idle.
//
// A large file's digest, which its record puts before its bytes, is known
// only once the file has been read through.  Rather than wait for that,
// the record goes in with the digest to come (putPending): the blocks that
// hold the digest, in their data or their dictionary, wait, and so does the
// body's hash, while the blocks after them are deflated, up to
// sPayloadOptions::packAheadOfDigest bytes of them.  When the digest comes
// it is written into the waiting blocks, which then go to the pool, and the
// body is hashed from the blocks still held: the same blocks and bytes as
// had it been known.
class cBodyDeflater {
public:
    cBodyDeflater(cFileIOTarget* dst, cWorkPool& pool, int threads, sPayloadProgress& progress,
                  const sPayloadOptions& options, sPayloadFault& fault)
        : dst_(dst), pool_(pool), maxInFlight_(std::min<std::size_t>(2 * static_cast<std::size_t>(threads) + 2, 16)),
          pendingInFlight_(static_cast<std::size_t>(options.packAheadOfDigest / kDeflateBlock)), progress_(progress),
          observer_(options.observer), fault_(fault) {
        sha256_starts(&sha_);
        fresh(nullptr);
    }
    ~cBodyDeflater() {
        // Blocks still being deflated refer to nothing of ours but their own
        // shared state; wait for them anyway so that no work outlives a
        // failed save.  Blocks that wait for a digest were never handed out.
        for (auto& b : inFlight_)
            if (!b->waiting) pool_.waitFor([&] { return b->done; });
    }
    cBodyDeflater(const cBodyDeflater&) = delete;
    cBodyDeflater& operator=(const cBodyDeflater&) = delete;

    bool start() {
        // The zlib header of a stream at maximum compression with a 32 KiB
        // window.
        const unsigned char head[2] = {0x78, 0xDA};
        if (!writeAll(dst_, head, 2, fault_)) return false;
        progress_.packedDone += 2;
        return true;
    }

    // Puts n bytes of body; `also` (when given) hashes them too, beside the
    // body's hash.
    bool put(const unsigned char* p, std::size_t n, sSHA256Ctx* also = nullptr) {
        while (n > 0) {
            // A submit may take in a pending digest, from when on the bytes
            // are hashed as they come.
            if (cur_->dataBytes() == kDeflateBlock && !submit(false)) return false;
            const std::size_t take = std::min(n, kDeflateBlock - cur_->dataBytes());
            cur_->in.insert(cur_->in.end(), p, p + take);
            const std::uint32_t bytes = static_cast<std::uint32_t>(take);
            if (!pending_ && also)
                sha256_update_pair(&sha_, p, bytes, also, p, bytes);
            else if (!pending_)
                sha256_update(&sha_, p, bytes);
            else if (also)
                sha256_update(also, p, bytes);
            bodyBytes_ += take;
            p += take;
            n -= take;
        }
        return true;
    }

    // Puts a record head (its 8 bytes of sizes) whose 32 bytes of digest
    // `await` gives later: false from it fails the save (with the fault it
    // set).  One at a time; resolve() waits for it.
    bool putPending(const unsigned char (&sizes)[8], std::function<bool(unsigned char (&)[32])> await) {
        if (!put(sizes, sizeof sizes)) return false;
        pending_ = true;
        digestAt_ = bodyBytes_;
        await_ = std::move(await);
        static const unsigned char kNotYet[32] = {};
        return put(kNotYet, sizeof kNotYet);
    }

    // Waits for the pending digest and puts it in place; true when none is
    // pending.
    bool resolve() {
        if (!pending_) return true;
        unsigned char d[32];
        if (!await_(d)) return false;
        await_ = nullptr;
        auto each = [&](auto&& f) {
            for (const std::shared_ptr<sBlock>& b : inFlight_) f(*b);
            f(*cur_);
        };
        // Into every block whose bytes hold the digest's place.
        const unsigned long long at = digestAt_, end = digestAt_ + 32;
        each([&](sBlock& b) {
            const unsigned long long from = b.start - b.dict, to = b.start + b.dataBytes();
            const unsigned long long lo = std::max(at, from), hi = std::min(end, to);
            if (lo < hi) std::memcpy(b.in.data() + (lo - from), d + (lo - at), static_cast<std::size_t>(hi - lo));
        });
        // The body's hash takes up from the digest, through the bytes the
        // blocks hold.
        each([&](sBlock& b) {
            const unsigned long long to = b.start + b.dataBytes();
            if (to <= at) return;
            const unsigned long long lo = std::max(at, b.start);
            sha256_update(&sha_, b.in.data() + b.dict + (lo - b.start), static_cast<std::uint32_t>(to - lo));
        });
        pending_ = false;
        for (const std::shared_ptr<sBlock>& b : inFlight_)
            if (b->waiting) launch(b);
        return true;
    }

    bool finish(unsigned char (&digest)[32]) {
        if (!resolve() || !submit(true)) return false;
        while (!inFlight_.empty())
            if (!writeFront()) return false;
        unsigned char tail[4];
        for (int i = 0; i < 4; ++i) tail[i] = static_cast<unsigned char>(adler_ >> (24 - 8 * i));
        if (!writeAll(dst_, tail, 4, fault_)) return false;
        progress_.packedDone += 4;
        sha256_finish(&sha_, digest);
        return true;
    }

    unsigned long long bodyBytes() const { return bodyBytes_; }

    // Reports progress now (items counted by the caller).
    void report() {
        if (observer_) observer_->onPayloadProgress(progress_);
    }

private:
    void fresh(const sBlock* before) {
        std::shared_ptr<sBlock> b;
        if (spare_.empty()) {
            // Both buffers from this thread's heap (see cShelf), and the
            // output's room for any block, so that no worker allocates.
            b = std::make_shared<sBlock>();
            b->in.reserve(kDeflateDictionary + kDeflateBlock);
            b->out.set(static_cast<long long>(blockBound(kDeflateBlock)));
        } else {
            b = std::move(spare_.back());
            spare_.pop_back();
            b->in.clear();
            b->dict = 0;
            b->start = 0;
            b->last = b->waiting = b->done = b->ok = false;
            b->outBytes = 0;
            b->adler = 1;
        }
        if (before) {
            const std::size_t d = std::min(kDeflateDictionary, before->in.size());
            b->in.assign(before->in.end() - static_cast<std::ptrdiff_t>(d), before->in.end());
            b->dict = d;
            b->start = before->start + before->dataBytes();
        }
        cur_ = std::move(b);
    }

    // Whether b's bytes, its dictionary included, hold the pending digest's
    // place.
    bool holdsPending(const sBlock& b) const {
        return pending_ && b.start - b.dict < digestAt_ + 32 && digestAt_ < b.start + b.dataBytes();
    }

    bool submit(bool last) {
        std::shared_ptr<sBlock> b = cur_;
        b->last = last;
        inFlight_.push_back(b);
        if (holdsPending(*b))
            b->waiting = true;
        else
            launch(b);
        if (!last) fresh(b.get());
        // Write what is done; wait while too much is in flight, or for the
        // pending digest when the block at the front waits for it.
        for (;;) {
            bool frontDone = false;
            const bool any = !inFlight_.empty();
            if (any) {
                const std::shared_ptr<sBlock>& f = inFlight_.front();
                pool_.locked([&] { frontDone = f->done; });
            }
            if (frontDone) {
                if (!writeFront()) return false;
                continue;
            }
            if (inFlight_.size() <= (pending_ ? std::max(maxInFlight_, pendingInFlight_) : maxInFlight_)) return true;
            if (inFlight_.front()->waiting) {
                if (!resolve()) return false;
                continue;
            }
            if (!writeFront()) return false;
        }
    }

    void launch(const std::shared_ptr<sBlock>& b) {
        b->waiting = false;
        cWorkPool* pool = &pool_;
        pool_.submit(
            [b, pool](sWorker& w) {
                std::size_t outBytes = 0;
                uLong adler = 1;
                bool ok = false;
                // The block's output is this worker's until it is done.  A
                // block the memory left cannot hold is a failed block: an
                // exception must not leave the worker's thread.
                try {
                    deflateBlock(w, *b, b->out, outBytes, adler, ok);
                } catch (const std::bad_alloc&) {
                    ok = false;
                }
                pool->publish([&] {
                    b->outBytes = outBytes;
                    b->adler = adler;
                    b->ok = ok;
                    b->done = true;
                });
            },
            false);
    }

    bool writeFront() {
        std::shared_ptr<sBlock> b = inFlight_.front();
        pool_.waitFor([&] { return b->done; });
        inFlight_.pop_front();
        if (!b->ok) {
            fault_.cause = sPayloadFault::noMemory;
            return false;
        }
        // The packed size is a u32 field too: a body of incompressible
        // bytes near the limit can pass it.
        if (progress_.packedDone + b->outBytes + 4 > kMaxU32) {
            fault_.cause = sPayloadFault::tooLarge;
            fault_.total = progress_.packedDone + b->outBytes + 4;
            fault_.detail = "packed";
            return false;
        }
        if (!writeAll(dst_, b->out.data(), b->outBytes, fault_)) return false;
        adler_ = adler32_combine(adler_, b->adler, static_cast<z_off_t>(b->dataBytes()));
        progress_.packedDone += b->outBytes;
        progress_.plainDone += b->dataBytes();
        // Its buffers serve a later block: fresh ones cost a page fault for
        // every 4 KiB.  Only once the worker's task has let it go.
        if (b.use_count() == 1 && spare_.size() < maxInFlight_) spare_.push_back(std::move(b));
        report();
        return true;
    }

    cFileIOTarget* dst_;
    cWorkPool& pool_;
    std::size_t maxInFlight_, pendingInFlight_;
    sPayloadProgress& progress_;
    cPayloadObserver* observer_;
    sPayloadFault& fault_;
    sSHA256Ctx sha_;
    unsigned long long bodyBytes_ = 0;
    uLong adler_ = 1;
    std::shared_ptr<sBlock> cur_;
    std::deque<std::shared_ptr<sBlock>> inFlight_;
    std::vector<std::shared_ptr<sBlock>> spare_;
    // A digest to come: where it goes, and what gives it.
    bool pending_ = false;
    unsigned long long digestAt_ = 0;
    std::function<bool(unsigned char (&)[32])> await_;
};

// ---------------------------------------------------------------------------
// Reading package files ahead.

// A file to pack, read as it was when it was added: exactly its size and
// nothing after it, and the same file with the same status (its stamp)
// before and after the reading.  Anything else is a fault that names the
// file: one that cannot be opened or read (with the system's reason) or one
// that changed (with its size then and now, or what else changed: a file
// rewritten in place with as many bytes is caught by its times).  Read
// through its descriptor with one status taken at each end: a package may
// hold thousands of small files.
class cSizedFile {
public:
    cSizedFile(const std::string& path, const cSoftPkg::sFileStamp& stamp, sPayloadFault& fault)
        : path_(path), stamp_(stamp), fault_(fault) {}
    ~cSizedFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    cSizedFile(const cSizedFile&) = delete;
    cSizedFile& operator=(const cSizedFile&) = delete;

    bool open() {
        do {
            fd_ = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        } while (fd_ < 0 && errno == EINTR);
        if (fd_ < 0) return unreadable();
        return same();
    }
    // The next n bytes (within the size) into at.
    bool read(unsigned char* at, unsigned int n) {
        while (n > 0) {
            const long got = readSome(at, n);
            if (got < 0) return unreadable();
            if (got == 0) {
                // It ends early: shorter on disk now, or (a file whose size
                // says nothing, as in /sys) it holds less than it says.
                const unsigned long long now = sizeNowOnDisk();
                return changed(now != stamp_.size ? now : done_);
            }
            at += got;
            n -= static_cast<unsigned int>(got);
            done_ += static_cast<unsigned long long>(got);
        }
        return true;
    }
    // The last n bytes (up to the size) into at, which has room for one
    // byte more: asked for too, so that one read both fills the buffer and
    // finds the end.  A file that yields that byte goes on past its size;
    // one that does not has ended, since a read of a regular file stops
    // short only at its end (and the status that endsAfterLast takes finds
    // a file that changed all the same).
    bool readLast(unsigned char* at, unsigned int n) {
        unsigned int got = 0;
        while (got < n) {
            const long part = readSome(at + got, n + 1 - got);
            if (part < 0) return unreadable();
            if (part == 0) {
                const unsigned long long now = sizeNowOnDisk();
                return changed(now != stamp_.size ? now : done_);
            }
            got += static_cast<unsigned int>(part);
            done_ += static_cast<unsigned long long>(part);
        }
        pastEnd_ = got > n;
        return true;
    }
    // After readLast: true when the file ended at its size and is still as
    // it was added.
    bool endsAfterLast() { return pastEnd_ ? changed(sizeNow()) : same(); }
    // True when the file ends at its size and is still as it was added.
    bool ends() {
        unsigned char extra;
        const long got = readSome(&extra, 1);
        if (got < 0) return unreadable();
        if (got == 0) return same();
        ++done_;
        return changed(sizeNow());
    }

private:
    // A read of up to n bytes: what it gave, -1 (errno set) when it failed.
    long readSome(unsigned char* at, unsigned int n) {
        ssize_t got;
        do {
            errno = 0;
            got = ::read(fd_, at, n);
        } while (got < 0 && errno == EINTR);
        return static_cast<long>(got);
    }
    unsigned long long sizeNowOnDisk() {
        struct stat st;
        return ::fstat(fd_, &st) == 0 ? static_cast<unsigned long long>(std::max<off_t>(0, st.st_size)) : 0;
    }
    // The file open is the one added, with the status it had then.
    bool same() {
        cSoftPkg::sFileStamp now;
        if (!cSoftPkg::sFileStamp::ofDescriptor(fd_, now)) return unreadable();
        if (now == stamp_) return true;
        // A file of another kind in its place (a named pipe) is told as such,
        // whatever its size says.
        if ((now.mode & S_IFMT) == (stamp_.mode & S_IFMT) && now.size != stamp_.size) return changed(now.size);
        changed(stamp_.size);
        fault_.detail = now.differenceFrom(stamp_);
        return false;
    }
    bool unreadable() {
        fileFault(fault_, sPayloadFault::fileUnreadable, path_, errno ? errno : EIO);
        return false;
    }
    bool changed(unsigned long long now) {
        fileFault(fault_, sPayloadFault::fileChanged, path_);
        fault_.before = stamp_.size;
        fault_.after = now;
        return false;
    }
    // What a file that goes on past its size holds now: its size on disk, or
    // the bytes it yields when that is more (a file whose size says nothing,
    // as in /proc), counted up to kGrowthCounted past what was read.
    unsigned long long sizeNow() {
        unsigned char buf[16 * 1024];
        const unsigned long long stop = done_ + kGrowthCounted;
        while (done_ < stop) {
            const long got = readSome(buf, sizeof buf);
            if (got <= 0) break;
            done_ += static_cast<unsigned long long>(got);
        }
        return std::max(done_, sizeNowOnDisk());
    }

    int fd_ = -1;
    bool pastEnd_ = false;
    const std::string& path_;
    const cSoftPkg::sFileStamp& stamp_;
    unsigned long long done_ = 0;
    sPayloadFault& fault_;
};

// Buffers that held files read ahead, kept for the next ones up to the
// read-ahead budget: memory fresh from the system costs a page fault for
// every 4 KiB, as many as the bytes packed.  The feeder's
// thread alone takes and gives them, so that they come from one heap: a
// heap of each worker's would keep its freed buffers from the others.
class cShelf {
public:
    explicit cShelf(unsigned long long limit) : limit_(limit) {}
    cShelf(const cShelf&) = delete;
    cShelf& operator=(const cShelf&) = delete;

    // A buffer of at least n bytes: the smallest kept that is large enough,
    // or a new one.
    void take(_typebuf<unsigned char>& out, unsigned long long n) {
        std::size_t best = kept_.size();
        for (std::size_t i = 0; i < kept_.size(); ++i)
            if (kept_[i].bytes() >= n && (best == kept_.size() || kept_[i].bytes() < kept_[best].bytes())) best = i;
        if (best == kept_.size()) {
            out.set(static_cast<long long>(n));
            return;
        }
        bytes_ -= kept_[best].bytes();
        out = std::move(kept_[best]);
        kept_[best] = std::move(kept_.back());
        kept_.pop_back();
    }
    void give(_typebuf<unsigned char>&& b) {
        if (b.empty() || bytes_ + b.bytes() > limit_) return;  // b frees itself
        bytes_ += b.bytes();
        kept_.push_back(std::move(b));
    }

private:
    std::vector<_typebuf<unsigned char>> kept_;
    unsigned long long bytes_ = 0, limit_;
};

// What a reading of a file to pack tells after each piece: the caller's
// hook (sPayloadOptions::onFilePiece), or nothing.
using tPieceHook = decltype(sPayloadOptions::onFilePiece);

// Reads exactly the bytes of the file at path, added with `stamp`, hashing
// them, into bytes (held: a buffer of at least its size and one byte more)
// or, with bytes null, only hashing them.
bool readFileHashed(const std::string& path, const cSoftPkg::sFileStamp& stamp, _typebuf<unsigned char>* bytes,
                    unsigned char (&digest)[32], sPayloadFault& fault, const tPieceHook* hook) {
    cSizedFile f(path, stamp, fault);
    if (!f.open()) return false;
    const unsigned long long size = stamp.size;
    sSHA256Ctx sha;
    sha256_starts(&sha);
    // Room for a byte past the last piece (see cSizedFile::readLast): a
    // file of a few KiB costs one read.
    _typebuf<unsigned char> piece;
    try {
        if (!bytes) piece.set(static_cast<long long>(std::min<unsigned long long>(size, kPiece) + 1));
    } catch (const std::bad_alloc&) {
        fault.cause = sPayloadFault::noMemory;
        return false;
    }
    if (size == 0) {
        if (!f.ends()) return false;
        sha256_finish(&sha, digest);
        return true;
    }
    for (unsigned long long total = 0; total < size;) {
        const unsigned int want = static_cast<unsigned int>(std::min<unsigned long long>(kPiece, size - total));
        unsigned char* at = bytes ? bytes->data() + total : piece.data();
        const bool last = total + want == size;
        if (!(last ? f.readLast(at, want) : f.read(at, want))) return false;
        sha256_update(&sha, at, want);
        total += want;
        if (hook) (*hook)(path, total - want, total);
    }
    if (!f.endsAfterLast()) return false;
    sha256_finish(&sha, digest);
    return true;
}

// One file item read ahead: whole (up to kHeldFileBytes) or only hashed.
// Whoever claims it has its results to itself until done is set.
struct sLoad {
    std::string path;
    cSoftPkg::sFileStamp stamp;
    bool held = false;
    // The caller's, or null: it outlives every reading, since the feeder
    // waits for the loads claimed before it goes.
    const tPieceHook* hook = nullptr;
    std::atomic<bool> claimed{false};
    // The buffer for a held file, given when it is scheduled.
    _typebuf<unsigned char> bytes;
    bool ok = false;
    unsigned char digest[32] = {};
    sPayloadFault fault;
    // Set by the worker that read it, on that worker's thread alone.
    bool ranByWorker = false;
    // Set under the pool's lock.
    bool done = false;
};

// Runs on a worker's thread as well as the feeder's: running out of memory
// is the load's fault, never an exception out of the thread.
void runLoad(sLoad& l) {
    try {
        l.ok = readFileHashed(l.path, l.stamp, l.held ? &l.bytes : nullptr, l.digest, l.fault, l.hook);
    } catch (const std::bad_alloc&) {
        l.ok = false;
        l.fault.cause = sPayloadFault::noMemory;
    }
}

class cItemFeeder {
public:
    cItemFeeder(cSoftPkg& pkg, cWorkPool& pool, cBodyDeflater& out, sPayloadProgress& progress,
                sPayloadOptions& options)
        : pkg_(pkg), pool_(pool), out_(out), progress_(progress), fault_(options.fault),
          heldLimit_(options.heldFileBytes), aheadLimit_(options.readAheadBytes),
          packAhead_(options.packAheadOfDigest > 0),
          shelf_(options.readAheadBytes),
          hook_(options.onFilePiece ? &options.onFilePiece : nullptr) {}
    ~cItemFeeder() {
        // Loads a worker has claimed must end before their state goes.
        for (auto& e : loads_) {
            std::shared_ptr<sLoad> l = e.second;
            if (l->claimed.exchange(true)) pool_.waitFor([&] { return l->done; });
        }
    }
    cItemFeeder(const cItemFeeder&) = delete;
    cItemFeeder& operator=(const cItemFeeder&) = delete;

    bool feed() {
        const std::uint32_t n = pkg_.count();
        for (std::uint32_t i = 0; i < n; ++i) {
            schedule(i);
            if (!one(static_cast<int>(i))) return false;
            ++progress_.items;
        }
        return true;
    }

private:
    // Loads go to the pool in batches of files that follow each other, up
    // to kBatchFiles of them or kBatchBytes: a task, and the wake of a
    // worker for it, for every small file would cost more than reading it.
    static constexpr std::size_t kBatchFiles = 32;
    static constexpr unsigned long long kBatchBytes = 512 * 1024;

    void schedule(std::uint32_t current) {
        const std::uint32_t n = pkg_.count();
        std::vector<std::shared_ptr<sLoad>> batch;
        unsigned long long batchBytes = 0;
        while (next_ < n && next_ < current + kItemsAhead) {
            const cSoftPkg::sPkgItem* it = pkg_.itemInfo(static_cast<int>(next_));
            if (!it->isFile()) {
                ++next_;
                continue;
            }
            const bool held = it->sourceSize <= heldLimit_;
            if (held && heldBytes_ > 0 && heldBytes_ + it->sourceSize > aheadLimit_) break;
            std::shared_ptr<sLoad> l;
            try {
                l = std::make_shared<sLoad>();
                if (held) shelf_.take(l->bytes, it->sourceSize + 1);
                loads_[next_] = l;
                batch.reserve(kBatchFiles);
            } catch (const std::bad_alloc&) {
                break;  // the item finds no load and fails for lack of memory
            }
            l->path = it->source;
            l->stamp = it->sourceStamp;
            l->held = held;
            l->hook = hook_;
            if (held) heldBytes_ += it->sourceSize;
            ++next_;
            // A file read twice goes alone.
            if (!held) {
                submit({l});
                continue;
            }
            batch.push_back(std::move(l));
            batchBytes += it->sourceSize;
            if (batch.size() == kBatchFiles || batchBytes >= kBatchBytes) {
                submit(std::move(batch));
                batch.clear();
                batchBytes = 0;
            }
        }
        if (!batch.empty()) submit(std::move(batch));
    }

    // One task for the loads, in order; a load the feeder has claimed
    // meanwhile is left to it.  Those it read are told done together, so
    // that a feeder waiting for the first is woken once for the batch.
    void submit(std::vector<std::shared_ptr<sLoad>> loads) {
        cWorkPool* pool = &pool_;
        pool_.submit(
            [loads = std::move(loads), pool](sWorker&) {
                // No allocation here: the loads this worker ran are marked
                // on themselves.
                for (const std::shared_ptr<sLoad>& l : loads) {
                    if (l->claimed.exchange(true)) continue;
                    runLoad(*l);
                    l->ranByWorker = true;
                }
                pool->publish([&] {
                    for (const std::shared_ptr<sLoad>& l : loads)
                        if (l->ranByWorker) l->done = true;
                });
            },
            true);
    }

    bool head(std::uint32_t unpacked, unsigned long long stored, const unsigned char* digest) {
        unsigned char h[kRecordHead];
        putU32le(h, stored == 0 ? cSoftPkg::kEmptyItemMark : unpacked);
        putU32le(h + 4, static_cast<std::uint32_t>(stored));
        std::memcpy(h + 8, digest, 32);
        return out_.put(h, sizeof h);
    }

    bool one(int i) {
        const cSoftPkg::sPkgItem* it = pkg_.itemInfo(i);
        if (!it->isFile()) {
            if (it->length() > cSoftPkg::kMaxItemBytes) {
                fault_.cause = sPayloadFault::tooLarge;
                fault_.total = it->length();
                fault_.item = i;
                return false;
            }
            if (it->length() > 0 && !it->bytes()) {
                fault_.cause = sPayloadFault::notHeld;
                fault_.item = i;
                return false;
            }
            if (!head(it->unpackedSize, it->length(), it->digest)) return false;
            // Put in pieces, so that progress is seen inside a large item.
            const unsigned char* p = it->bytes();
            for (unsigned long long left = it->length(); left > 0;) {
                const std::size_t take = static_cast<std::size_t>(std::min<unsigned long long>(left, kPiece));
                if (!out_.put(p, take)) return false;
                p += take;
                left -= take;
            }
            return true;
        }
        auto found = loads_.find(static_cast<std::uint32_t>(i));
        if (found == loads_.end()) {
            fault_.cause = sPayloadFault::noMemory;
            return false;
        }
        std::shared_ptr<sLoad> l = found->second;
        loads_.erase(found);
        if (!l->held) {
            bool known = false;
            pool_.locked([&] { known = l->done; });
            if (!known && packAhead_) return large(i, l);
        }
        if (!l->claimed.exchange(true)) {
            // Not started yet: read it here rather than wait for a worker.
            runLoad(*l);
        } else {
            pool_.waitFor([&] { return l->done; });
        }
        if (l->held) heldBytes_ -= l->stamp.size;
        if (!l->ok) {
            fault_ = std::move(l->fault);
            return false;
        }
        pkg_.setFileDigest(i, l->digest);
        if (!head(0, l->stamp.size, l->digest)) return false;
        if (l->held) {
            const bool ok = out_.put(l->bytes.data(), static_cast<std::size_t>(l->stamp.size));
            shelf_.give(std::move(l->bytes));
            return ok;
        }
        unsigned char again[32];
        return stream(*l, again) && same(*l, again);
    }

    // A large file, read again as it is packed: what it yields must be what
    // its first reading hashed.  When that reading has not ended, the record
    // goes in with its digest to come, and the file is packed meanwhile.
    bool large(int i, const std::shared_ptr<sLoad>& l) {
        unsigned char sizes[8];
        putU32le(sizes, 0);
        putU32le(sizes + 4, static_cast<std::uint32_t>(l->stamp.size));
        const bool started = out_.putPending(sizes, [this, i, l](unsigned char (&d)[32]) {
            if (!l->claimed.exchange(true))
                runLoad(*l);  // no worker took it: read it here
            else
                pool_.waitFor([&] { return l->done; });
            if (!l->ok) {
                fault_ = std::move(l->fault);
                return false;
            }
            pkg_.setFileDigest(i, l->digest);
            std::memcpy(d, l->digest, sizeof d);
            return true;
        });
        unsigned char again[32];
        return started && stream(*l, again) && out_.resolve() && same(*l, again);
    }

    bool same(const sLoad& l, const unsigned char (&again)[32]) {
        if (std::memcmp(again, l.digest, 32) == 0) return true;
        fileFault(fault_, sPayloadFault::fileChanged, l.path);
        fault_.before = fault_.after = l.stamp.size;
        return false;
    }

    // Packs l's file, reading it again; `again` is the digest of what it
    // yielded.
    bool stream(const sLoad& l, unsigned char (&again)[32]) {
        cSizedFile f(l.path, l.stamp, fault_);
        if (!f.open()) return false;
        _typebuf<unsigned char> piece(kPiece);
        sSHA256Ctx sha;
        sha256_starts(&sha);
        for (unsigned long long total = 0; total < l.stamp.size;) {
            const unsigned int want =
                static_cast<unsigned int>(std::min<unsigned long long>(kPiece, l.stamp.size - total));
            if (!f.read(piece.data(), want)) return false;
            // Hashed with the body, side by side.
            if (!out_.put(piece.data(), want, &sha)) return false;
            total += want;
            if (hook_) (*hook_)(l.path, total - want, total);
        }
        if (!f.ends()) return false;
        sha256_finish(&sha, again);
        return true;
    }

    cSoftPkg& pkg_;
    cWorkPool& pool_;
    cBodyDeflater& out_;
    sPayloadProgress& progress_;
    sPayloadFault& fault_;
    unsigned long long heldLimit_, aheadLimit_;
    bool packAhead_;
    std::uint32_t next_ = 0;
    unsigned long long heldBytes_ = 0;
    cShelf shelf_;
    const tPieceHook* hook_;
    std::map<std::uint32_t, std::shared_ptr<sLoad>> loads_;
};

unsigned long long plannedBody(unsigned long long prefixSize, cSoftPkg& pkg) {
    unsigned long long n = prefixSize + 1;  // the end tag
    if (pkg.count() == 0) return n;
    n += 1 + 8;  // tag 13 and the end mark
    for (std::uint32_t i = 0; i < pkg.count(); ++i) {
        const cSoftPkg::sPkgItem* it = pkg.itemInfo(static_cast<int>(i));
        n += kRecordHead + (it->isFile() ? it->sourceSize : it->length());
    }
    return n;
}

}  // namespace

std::string describePayloadFault(const sPayloadFault& f, const std::string& file) {
    using F = sPayloadFault;
    const char* name = file.c_str();
    const char* why = f.error ? std::strerror(f.error) : "unknown error";
    const char* detail = f.detail.c_str();
    auto gib = [](unsigned long long n) { return static_cast<double>(n) / (1024.0 * 1024.0 * 1024.0); };
    // Two paths of the longest a system takes and the words around them.
    char buf[2 * 4096 + 512];
    switch (f.cause) {
    case F::none:
        std::snprintf(buf, sizeof buf,
                      "%s could not be saved: a text, setting or document of the scenario is too long for the format",
                      name);
        break;
    case F::fileChanged:
        if (f.path.empty())
            std::snprintf(buf, sizeof buf, "a file changed while it was packed: the body came to %llu bytes, not %llu",
                          f.after, f.before);
        else if (f.before == f.after && !f.detail.empty())
            std::snprintf(buf, sizeof buf, "%s changed while it was packed: %s after it was added", f.path.c_str(),
                          detail);
        else if (f.before == f.after)
            std::snprintf(buf, sizeof buf, "%s changed while it was packed: its %llu bytes are not those read before",
                          f.path.c_str(), f.after);
        else
            std::snprintf(buf, sizeof buf, "%s changed while it was packed: %llu bytes when it was added, %llu bytes now",
                          f.path.c_str(), f.before, f.after);
        break;
    case F::fileUnreadable:
        std::snprintf(buf, sizeof buf, "cannot read %s: %s", f.path.c_str(), why);
        break;
    case F::writeFailed:
        std::snprintf(buf, sizeof buf, "cannot write %s: %s", name, why);
        break;
    case F::tooLarge:
        if (f.item >= 0)
            std::snprintf(buf, sizeof buf, "item %lld holds %llu bytes; an item holds at most 4294967295 bytes (4 GiB)",
                          f.item, f.total);
        else
            std::snprintf(buf, sizeof buf,
                          "the payload's %s would be %llu bytes (%.1f GiB); a payload holds at most 4294967295 bytes "
                          "(4 GiB) of body and as many packed",
                          f.detail.empty() ? "body" : detail, f.total, gib(f.total));
        break;
    case F::notHeld:
        std::snprintf(buf, sizeof buf, "item %lld was read without its bytes and cannot be packed again", f.item);
        break;
    case F::readFailed:
        std::snprintf(buf, sizeof buf, "cannot read %s at byte %llu: %s", name, f.at, why);
        break;
    case F::notPayload:
        std::snprintf(buf, sizeof buf, "%s is not a payload: %s", name, detail);
        break;
    case F::truncated:
        if (f.total)
            std::snprintf(buf, sizeof buf, "%s is truncated at byte %llu: its header announces %llu bytes", name, f.at,
                          f.total);
        else
            std::snprintf(buf, sizeof buf, "%s is truncated at byte %llu, inside its %zu-byte header", name, f.at,
                          sPayloadHeader::kSize);
        break;
    case F::trailing:
        if (f.total)
            std::snprintf(buf, sizeof buf, "%s goes on after its payload ends at byte %llu: %llu more byte%s", name,
                          f.at, f.total, f.total == 1 ? "" : "s");
        else
            std::snprintf(buf, sizeof buf, "%s goes on after its payload ends at byte %llu", name, f.at);
        break;
    case F::badStream:
    case F::badBody:
        if (f.item >= 0 && f.at > 0)
            std::snprintf(buf, sizeof buf, "%s: the packed body is damaged inside item %lld, and breaks at byte %llu: %s",
                          name, f.item, f.at, detail);
        else if (f.item >= 0)
            std::snprintf(buf, sizeof buf, "%s: the %s is damaged inside item %lld: %s", name,
                          f.cause == F::badStream ? "packed body" : "body", f.item,
                          f.detail.empty() ? "its bytes do not match its digest" : detail);
        else if (f.cause == F::badStream)
            std::snprintf(buf, sizeof buf, "%s: the packed body is damaged at byte %llu: %s", name, f.at, detail);
        else
            std::snprintf(buf, sizeof buf, "%s: the body's SHA-256 digest is wrong", name);
        break;
    case F::badHeader:
        std::snprintf(buf, sizeof buf, "%s: %s", name, detail);
        break;
    case F::badLayout:
        std::snprintf(buf, sizeof buf, "%s: the body breaks the payload's layout at its byte %llu: %s", name, f.at,
                      detail);
        break;
    case F::badItem:
        std::snprintf(buf, sizeof buf, "%s: item %lld does not match its digest", name, f.item);
        break;
    case F::badScenario:
        if (!f.detail.empty())
            std::snprintf(buf, sizeof buf, "%s: the scenario in it does not load: %s", name, detail);
        else
            std::snprintf(buf, sizeof buf,
                          "%s: the scenario in it does not load (a text, a document or a reference in it is not valid)",
                          name);
        break;
    case F::noMemory:
        std::snprintf(buf, sizeof buf, "%s: out of memory", name);
        break;
    }
    return buf;
}

int payloadThreads(int asked) {
    if (asked > 0) return asked;
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int n = CPU_COUNT(&set);
        if (n > 0) return n;
    }
    const unsigned h = std::thread::hardware_concurrency();
    return h ? static_cast<int>(h) : 1;
}

namespace {

// writePayloadBody with a prefix of prefixSize bytes that putPrefix puts.
bool writeBody(cFileIOTarget* dst, unsigned long long prefixSize,
               const std::function<bool(cBodyDeflater&)>& putPrefix, cSoftPkg& pkg, sPayloadOptions& options,
               unsigned char (&digest)[32], unsigned long long& bodySize, unsigned long long& packedSize) {
    options.fault = sPayloadFault();
    bodySize = plannedBody(prefixSize, pkg);
    if (bodySize > kMaxU32) {
        options.fault.cause = sPayloadFault::tooLarge;
        options.fault.total = bodySize;
        return false;
    }
    // No more workers than blocks: a small payload is not worth threads.
    const unsigned long long blocks = bodySize / kDeflateBlock + 1;
    const int threads = static_cast<int>(std::min<unsigned long long>(payloadThreads(options.threads), blocks));
    sPayloadProgress progress;
    progress.itemsTotal = pkg.count();
    progress.plainTotal = bodySize;
    cWorkPool pool(threads);
    cBodyDeflater out(dst, pool, pool.size(), progress, options, options.fault);
    if (!out.start()) return false;
    // The totals at once, before the first block is done: the files read
    // ahead may take a while.
    out.report();
    if (!putPrefix(out)) return false;
    if (pkg.count() != 0) {
        const unsigned char tag = 13;
        if (!out.put(&tag, 1)) return false;
        cItemFeeder feeder(pkg, pool, out, progress, options);
        if (!feeder.feed()) return false;
        const unsigned char endMark[8] = {};
        if (!out.put(endMark, sizeof endMark)) return false;
    }
    const unsigned char end = 0;
    if (!out.put(&end, 1) || !out.finish(digest)) return false;
    // A file that grew or shrank after it was added fails its reading; the
    // sizes planned must be the sizes packed.
    if (out.bodyBytes() != bodySize) {
        options.fault.cause = sPayloadFault::fileChanged;
        options.fault.before = bodySize;
        options.fault.after = out.bodyBytes();
        return false;
    }
    packedSize = progress.packedDone;
    progress.packedTotal = packedSize;
    out.report();
    return true;
}

}  // namespace

bool writePayloadBody(cFileIOTarget* dst, const std::vector<unsigned char>& prefix, cSoftPkg& pkg,
                      sPayloadOptions& options, unsigned char (&digest)[32], unsigned long long& bodySize,
                      unsigned long long& packedSize) {
    return writeBody(
        dst, prefix.size(), [&](cBodyDeflater& out) { return out.put(prefix.data(), prefix.size()); }, pkg, options,
        digest, bodySize, packedSize);
}

bool writePayloadBody(cFileIOTarget* dst, cFileIOTarget* prefix, unsigned long long prefixSize, cSoftPkg& pkg,
                      sPayloadOptions& options, unsigned char (&digest)[32], unsigned long long& bodySize,
                      unsigned long long& packedSize) {
    auto put = [&](cBodyDeflater& out) {
        unsigned char piece[64 * 1024];
        for (unsigned long long left = prefixSize; left > 0;) {
            const unsigned int n = static_cast<unsigned int>(std::min<unsigned long long>(left, sizeof piece));
            if (!prefix || !readExactly(prefix, piece, n)) {
                options.fault.cause = sPayloadFault::noMemory;
                return false;
            }
            if (!out.put(piece, n)) return false;
            left -= n;
        }
        return true;
    };
    return writeBody(dst, prefixSize, put, pkg, options, digest, bodySize, packedSize);
}

// ---------------------------------------------------------------------------
// Reading back.

namespace {

// A body of at least this many bytes is decoded in its own block, from its
// packed bytes read into the block's tail: fresh memory costs the kernel's
// clearing of every page, and a separate block for the packed bytes would
// add over half as much again.
constexpr unsigned long long kInPlaceBody = 4ull << 20;

// How far the packed bytes lie beyond the end of the body in its block.
// The decoder must never write where it has yet to read: a deflate stream
// makes its plain bytes faster than it is read, but for the few bytes of
// the headers of stored blocks (of zlib's own choosing where data does not
// shrink); a stream whose tail holds more packed than plain bytes beyond
// this margin is decoded again from a block of its own.
unsigned long long inPlaceMargin(unsigned long long packedSize) { return (1ull << 20) + packedSize / 256; }

// Reads packedSize bytes of src to at, in pieces, so that progress is seen
// while a large payload is read.
bool readPacked(cFileIOTarget* src, unsigned char* at, unsigned long long packedSize, sPayloadProgress& progress,
                cPayloadObserver* observer) {
    for (unsigned long long read = 0; read < packedSize;) {
        const unsigned int want = static_cast<unsigned int>(std::min<unsigned long long>(kPiece, packedSize - read));
        if (!readExactly(src, at + read, want)) return false;
        read += want;
        progress.packedDone = read;
        if (observer) observer->onPayloadProgress(progress);
    }
    return true;
}

// Decodes packed into out (bodySize bytes, libdeflate in one call with
// every refusal zlib's) and checks its SHA-256.
bool decodeInto(const unsigned char* packed, unsigned long long packedSize, unsigned char* out,
                unsigned long long bodySize, const unsigned char (&digest)[32], sPayloadProgress& progress,
                cPayloadObserver* observer) {
    if (!zlibDecodeWhole(packed, static_cast<std::size_t>(packedSize), out, static_cast<std::size_t>(bodySize)))
        return false;
    progress.plainDone = bodySize;
    if (observer) observer->onPayloadProgress(progress);
    unsigned char got[32];
    SHA2Hash(out, got, static_cast<long long>(bodySize));
    return std::memcmp(got, digest, 32) == 0;
}

}  // namespace

bool decodePayloadBody(const unsigned char* packed, unsigned long long packedSize, unsigned long long bodySize,
                       const unsigned char (&digest)[32], sPayloadOptions& options,
                       std::shared_ptr<const unsigned char>& body) {
    if (!packed || bodySize == 0 || packedSize == 0 || bodySize > kMaxU32 || packedSize > kMaxU32) return false;
    std::shared_ptr<unsigned char> buf;
    try {
        buf = freshBlock(static_cast<std::size_t>(bodySize));
    } catch (const std::bad_alloc&) {
        return false;
    }
    sPayloadProgress progress;
    progress.plainTotal = bodySize;
    progress.packedDone = progress.packedTotal = packedSize;
    if (!decodeInto(packed, packedSize, buf.get(), bodySize, digest, progress, options.observer)) return false;
    body = std::move(buf);
    return true;
}

bool readPayloadBody(cFileIOTarget* src, unsigned long long bodySize, unsigned long long packedSize,
                     const unsigned char (&digest)[32], sPayloadOptions& options,
                     std::shared_ptr<const unsigned char>& body) {
    if (!src || bodySize == 0 || packedSize == 0 || bodySize > kMaxU32 || packedSize > kMaxU32) return false;
    sPayloadProgress progress;
    progress.plainTotal = bodySize;
    progress.packedTotal = packedSize;
    // In place when the source can be read again should that fail.
    const long long start = src->get_fp();
    const unsigned long long margin = inPlaceMargin(packedSize);
    if (start >= 0 && bodySize >= kInPlaceBody && packedSize <= bodySize + margin) {
        std::shared_ptr<unsigned char> block;
        try {
            block = freshBlock(static_cast<std::size_t>(bodySize + margin));
        } catch (const std::bad_alloc&) {
            return false;
        }
        unsigned char* tail = block.get() + (bodySize + margin - packedSize);
        if (!readPacked(src, tail, packedSize, progress, options.observer)) return false;
        std::size_t inUsed = 0, outUsed = 0;
        unsigned char got[32];
        if (zlibHeaderOk(tail) &&
            fastInflateZlib(tail, static_cast<std::size_t>(packedSize), block.get(), static_cast<std::size_t>(bodySize),
                            inUsed, outUsed) == eFastInflate::ok &&
            inUsed == packedSize && outUsed == bodySize) {
            progress.plainDone = bodySize;
            if (options.observer) options.observer->onPayloadProgress(progress);
            SHA2Hash(block.get(), got, static_cast<long long>(bodySize));
            if (std::memcmp(got, digest, 32) == 0) {
                body = std::move(block);
                return true;
            }
        }
        // Refused, or the stream wrote over bytes it had yet to read: the
        // packed bytes again, in a block of their own, decide.
        std::shared_ptr<unsigned char> packed;
        try {
            packed = freshBlock(static_cast<std::size_t>(packedSize));
        } catch (const std::bad_alloc&) {
            return false;
        }
        // Read once more, but counted once.
        if (!src->set_fp(static_cast<unsigned long long>(start)) ||
            !readPacked(src, packed.get(), packedSize, progress, nullptr) ||
            !decodeInto(packed.get(), packedSize, block.get(), bodySize, digest, progress, options.observer))
            return false;
        body = std::move(block);
        return true;
    }
    std::shared_ptr<unsigned char> packed, buf;
    try {
        packed = freshBlock(static_cast<std::size_t>(packedSize));
        buf = freshBlock(static_cast<std::size_t>(bodySize));
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!readPacked(src, packed.get(), packedSize, progress, options.observer) ||
        !decodeInto(packed.get(), packedSize, buf.get(), bodySize, digest, progress, options.observer))
        return false;
    body = std::move(buf);
    return true;
}

bool verifyPayloadItems(cSoftPkg& pkg, sPayloadOptions& options, const sPayloadProgress& soFar) {
    options.badItem = -1;
    const std::uint32_t n = pkg.count();
    sPayloadProgress progress = soFar;
    progress.items = 0;
    progress.itemsTotal = n;
    progress.checkedDone = 0;
    progress.checkedTotal = 0;
    for (std::uint32_t i = 0; i < n; ++i) progress.checkedTotal += pkg.sizeOf(static_cast<int>(i));
    if (options.observer) options.observer->onPayloadProgress(progress);
    if (n == 0) return true;
    if (progress.checkedTotal < kPiece / 4) {
        // Not worth threads.
        for (std::uint32_t i = 0; i < n; ++i) {
            if (!pkg.verify(static_cast<int>(i))) {
                options.badItem = static_cast<int>(i);
                return false;
            }
            ++progress.items;
            progress.checkedDone += pkg.sizeOf(static_cast<int>(i));
            if (options.observer) options.observer->onPayloadProgress(progress);
        }
        return true;
    }

    std::mutex m;
    std::condition_variable cv;
    std::uint32_t next = 0, finished = 0, reported = 0;
    unsigned long long checked = 0;
    long long bad = -1;
    const int threads = std::min<int>(payloadThreads(options.threads), static_cast<int>(n));
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&] {
            for (;;) {
                std::uint32_t i;
                {
                    std::lock_guard<std::mutex> l(m);
                    if (next == n) return;
                    i = next++;
                }
                const bool ok = pkg.verify(static_cast<int>(i));
                {
                    std::lock_guard<std::mutex> l(m);
                    ++finished;
                    checked += pkg.sizeOf(static_cast<int>(i));
                    if (!ok && (bad < 0 || i < bad)) bad = i;
                }
                cv.notify_all();
            }
        });
    {
        std::unique_lock<std::mutex> l(m);
        for (;;) {
            // Reports at least every 200 ms, so that a long item still shows.
            cv.wait_for(l, std::chrono::milliseconds(200), [&] { return finished != reported; });
            reported = finished;
            progress.items = finished;
            progress.checkedDone = checked;
            const bool all = finished == n;
            l.unlock();
            if (options.observer) options.observer->onPayloadProgress(progress);
            l.lock();
            if (all) break;
        }
    }
    for (std::thread& t : workers) t.join();
    options.badItem = static_cast<int>(bad);
    return bad < 0;
}
