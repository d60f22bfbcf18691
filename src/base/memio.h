// Streams that do not touch the file system by themselves:
//
// cMemIOTarget                 a growable stream in paged memory (typeOf 2)
// cMemBufferedIO               a read cache over another stream; the one
//                              stream that carries a lock
// cMemBufferedLinearWriterIO   a write buffer over another stream
// cBufWrapperIO                a stream over a block of the caller's memory
// cFileIOSubRange              a window of fixed start and length on another
//                              stream
//
// Each follows the rules of cFileIOTarget (fileio.h).  In particular a failed
// transfer of a wrapped stream is passed on as kIOFailed and never moves the
// wrapper's position, and no stream moves more than 0xFFFFFFFE bytes in one
// call, so a real count is never mistaken for kIOFailed.
#pragma once

#include "base/buffers.h"
#include "base/fileio.h"
#include "base/sync.h"
#include "base/treelist.h"

#include <vector>

// ---------------------------------------------------------------------------
// Paged memory.  Page index = position / page size; a page that is not in the
// map reads as zeros, and bytes of a page at or beyond the size are always
// zero, so growing the stream (set_eof) never shows old contents.  Pages are
// only allocated by writes and fromBuffer; reading never allocates.
class cMemIOTarget : public cFileIOTarget {
public:
    // Page sizes outside 128..0x7FFFFFFF become 65536.
    explicit cMemIOTarget(long long pageSize = 65536);
    ~cMemIOTarget() override;
    cMemIOTarget(const cMemIOTarget&) = delete;
    cMemIOTarget& operator=(const cMemIOTarget&) = delete;

    long long size() override { return size_; }
    unsigned int read(void* buf, unsigned int n) override {
        // A read inside the block fromBuffer filled, or inside one page that
        // the directory holds, is copied here; everything else, missing
        // pages and reads past the end included, by readLong.  The count is
        // 1 to kMaxCount: with 0, a position at the directory's end would
        // pass the bound and look up the entry past it, and 0xFFFFFFFF is
        // more than one call moves.  The position is below the size, so
        // adding the count cannot overflow.  The new position is stored
        // before the copy, whose stores wait for the bytes it reads.
        const unsigned long long p = pos_;
        if (n - 1u < kMaxCount && buf) {
            if (p + n <= flatReadEnd_) {
                pos_ = p + n;
                copyOut(static_cast<unsigned char*>(buf), flatBytes_ + p, n);
                return n;
            }
            if (p + n <= pagedReadEnd_ && (p & pageMask_) + n <= pageMask_ + 1) {
                if (const unsigned char* page = directory_[static_cast<std::size_t>(p >> pageShift_)]) {
                    pos_ = p + n;
                    copyOut(static_cast<unsigned char*>(buf), page + (p & pageMask_), n);
                    return n;
                }
            }
        }
        return readLong(buf, n);
    }
    // A short read inside the block fromBuffer filled takes one bound check
    // and the copy, a longer one two; the rest readAtLong copies.  Neither
    // changes anything, so threads may read one stream at once while nobody
    // writes it.
    unsigned int readAt(unsigned long long pos, void* buf, unsigned int n) override {
        if (n - 1u < kShortRead && buf && pos < flatShortAtBelow_) {
            qor_detail::copySmall(static_cast<unsigned char*>(buf), flatBytes_ + pos, n);
            return n;
        }
        // pos + n could overflow; the difference cannot.
        if (n - 1u < kMaxCount && buf && pos <= flatReadEnd_ && n <= flatReadEnd_ - pos) {
            qor_detail::copyLong(static_cast<unsigned char*>(buf), flatBytes_ + pos, n);
            return n;
        }
        return readAtLong(pos, buf, n);
    }
    // Stops early, with the count written so far, when memory runs out.
    unsigned int write(void* buf, unsigned int n) override;
    // Beyond the size: the position becomes the size and the result is false.
    bool set_fp(unsigned long long pos) override {
        const unsigned long long size = static_cast<unsigned long long>(size_);
        pos_ = pos < size ? pos : size;
        return pos <= size;
    }
    long long get_fp() override { return static_cast<long long>(pos_); }
    // Position size - n; n beyond the size gives position 0 and false.
    bool set_fp_end(unsigned long long n) override;
    // Truncates (freeing whole pages past the end) or extends with zeros
    // without allocating.  False only for a length that a signed 64-bit size
    // cannot hold.
    bool set_eof(unsigned long long length) override;
    // Empties the stream; it stays valid and usable.
    void close() override { reset(); }
    bool valid() override { return true; }
    int typeOf() override { return 2; }

    void reset();
    // Writes, at the position, n bytes read from offset `from` of this same
    // stream, as if byte by byte: a source that overlaps the bytes being
    // written repeats them (as LZ77 copies do); missing pages copy as zeros.
    // A short write stops the copy.  Returns the count copied.
    long long copy(long long from, long long n);
    // The whole stream in one buffer (missing pages as zeros); the position is
    // not used.  False when the buffer cannot be allocated.
    bool toBuffer(_typebuf<unsigned char>& out);
    // Replaces the contents with n bytes of data; position 0.  The pages are
    // carved from one block, so that reads inside it need no page lookup; a
    // block of several MiB asks the system for huge pages
    // (qor_detail::preferHugePages).
    // When memory runs out the stream is left empty and the result is false.
    bool fromBuffer(void const* data, long long n);

    long long pageSize() const { return pageSize_; }
    // The number of pages held (for tests and statistics).
    long long pageCount() const { return pageCount_; }

private:
    static constexpr unsigned int kShortRead = 64;
    // The counts 1 to kMaxCount one read moves; 0xFFFFFFFF is kIOFailed.
    static constexpr unsigned int kMaxCount = 0xFFFFFFFEu;

    static void copyOut(unsigned char* d, const unsigned char* s, unsigned int n) {
        if (n <= kShortRead)
            qor_detail::copySmall(d, s, n);
        else
            qor_detail::copyLong(d, s, n);
    }

    unsigned int readLong(void* buf, unsigned int n);
    unsigned int readAtLong(unsigned long long pos, void* buf, unsigned int n);
    unsigned char* findPage(long long index) {
        if (index >= 0 && static_cast<unsigned long long>(index) < directory_.size())
            return directory_[static_cast<std::size_t>(index)];
        return index == lastIndex_ ? lastPage_ : lookupPage(index);
    }
    unsigned char* lookupPage(long long index);
    // A page's bytes start on a cache line (its buffer has room to spare for
    // that): a read or write of whole lines then touches no line more than
    // it must, and no vector access of a copy straddles two lines.
    static constexpr std::uintptr_t kPageAlign = 64;
    static unsigned char* pageBytes(_typebuf<unsigned char>& page);
    // Enters a page added to the map into the directory when it lies inside
    // it or close enough above it.
    void enterPage(long long index, unsigned char* page);
    unsigned char* addPage(long long index);  // zeroed; throws std::bad_alloc
    void freePagesFrom(long long index);
    void freeAllPages();
    // Gives up the block's pages from index `keep` on.  Once fewer than half
    // of its pages are left, those move to pages of their own and the block
    // is freed, so a cut stream does not keep the memory of what it lost.
    void cutBlock(long long keep);
    void dropBlock();
    // The page index and the offset in it of a position; a shift and a mask
    // when the page size is a power of two (it is 65536 for every user).
    void split(unsigned long long pos, long long& index, std::size_t& off) const {
        if (pageShift_ >= 0) {
            index = static_cast<long long>(pos >> pageShift_);
            off = static_cast<std::size_t>(pos & static_cast<unsigned long long>(pageSize_ - 1));
        } else {
            const unsigned long long ps = static_cast<unsigned long long>(pageSize_);
            index = static_cast<long long>(pos / ps);
            off = static_cast<std::size_t>(pos % ps);
        }
    }
    // Copies stored bytes at any offset, zeros where no page is; ignores the
    // size.  Like readAt, it changes nothing (not even findPage's note of
    // the last page), so readers on several threads may share it.
    void peek(unsigned long long offset, unsigned char* out, std::size_t n);
    // A page's bytes, from the directory or the map, or null.
    const unsigned char* storedPage(long long index);
    // Brings pagedReadEnd_ and flatReadEnd_ up to date after the size, the
    // directory or the block changed.
    void noteShape();

    unsigned long long pos_ = 0;
    // Reads that end at or before this position are copied straight from
    // flatBytes_: the size or the end of the block's pages, whichever comes
    // first; 0 without a block.
    unsigned long long flatReadEnd_ = 0;
    // readAt copies a short read straight from flatBytes_ when its position
    // is below this: kShortRead bytes from there stay inside flatReadEnd_.
    // 0 when the block holds fewer than kShortRead bytes.
    unsigned long long flatShortAtBelow_ = 0;
    unsigned char* flatBytes_ = nullptr;
    // The reads read() serves itself from the directory end at or before
    // this position: the size, or the end of the directory when that comes
    // first; 0 when the page size is not a power of two.  One comparison
    // then stands for the size, the directory and the page size.
    unsigned long long pagedReadEnd_ = 0;
    unsigned long long pageMask_ = 65535;  // the page size - 1, when it is a power of two
    long long pageSize_ = 65536;
    int pageShift_ = 16;  // log2 of the page size, -1 when it is not a power of two
    long long size_ = 0;
    // Page index -> one page (depth limit 1024, the default for 64-bit keys).
    cFasterTreeList<long long, _typebuf<unsigned char> > pages_;
    long long pageCount_ = 0;
    // The page touched last, so that small sequential transfers skip the lookup.
    long long lastIndex_ = -1;
    unsigned char* lastPage_ = nullptr;
    // The pages of the indices 0 to directory_.size() - 1 by index (null for
    // a missing page): the map's contents over that range, kept in step with
    // it, so that a lookup there is one load.  It reaches only as far as the
    // pages are dense (see enterPage); pages above it are found in the map.
    std::vector<unsigned char*> directory_;
    // The block fromBuffer filled: pages 0 to flatPages_ - 1 lie in it one
    // after the other from flatBytes_ on (the directory points into it) and
    // are never in the map.  flatBlockPages_ is how many it was made with.
    _typebuf<unsigned char> flat_;
    long long flatPages_ = 0;
    long long flatBlockPages_ = 0;
};

// ---------------------------------------------------------------------------
// A read cache over another stream.  Requests as large as the capacity go
// straight to the source.  Every operation holds the cache's recursive lock
// for the whole call, source calls included, so one cache may be read from
// several threads.
class cMemBufferedIO : public cFileIOTarget {
public:
    explicit cMemBufferedIO(cFileIOTarget* source = nullptr, long long capacity = 65536);
    ~cMemBufferedIO() override;
    cMemBufferedIO(const cMemBufferedIO&) = delete;
    cMemBufferedIO& operator=(const cMemBufferedIO&) = delete;

    // Attaches source without owning it, moves it to position 0 and keeps its
    // size.  False when source is null, the capacity negative or the cache
    // cannot be allocated; then nothing is attached.
    bool ref(cFileIOTarget* source, long long capacity);
    // As ref, but the cache owns source and deletes it on close, on the next
    // ref/set and on destruction.  On failure the caller keeps source.
    bool set(cFileIOTarget* source, long long capacity);

    // The source's size, read when it was attached (and after writes).
    long long size() override;
    unsigned int read(void* buf, unsigned int n) override;
    // Served as read() would serve it from pos, under the same lock.
    unsigned int readAt(unsigned long long pos, void* buf, unsigned int n) override;
    // Moves the source to the logical position, writes there and drops the
    // cache.
    unsigned int write(void* buf, unsigned int n) override;
    // Any position is accepted; reads beyond the source's end return 0.
    bool set_fp(unsigned long long pos) override;
    // Under the lock once other threads run: a readAt on another thread
    // moves the position for its moment under it.
    long long get_fp() override;
    // Position source size - n; n beyond the size gives position 0 and false.
    bool set_fp_end(unsigned long long n) override;
    // Passed to the source; the cache is dropped and the size read again.
    bool set_eof(unsigned long long length) override;
    void close() override;
    bool valid() override;

private:
    bool attach(cFileIOTarget* source, long long capacity, bool own);
    void detach();
    void dropCache() { filled_ = 0; }
    // read and set_fp once the lock is held or not needed.
    unsigned int readHeld(void* buf, unsigned int n);
    bool moveTo(unsigned long long pos) {
        if (!source_) return false;
        pos_ = pos;
        return true;
    }
    // The rest of readHeld when the cache holds the byte at the position,
    // `at` bytes into the cache, and the read is not a short one.
    unsigned int readFromCache(unsigned char* out, unsigned int n, unsigned long long at);
    // Reads from the source at the position (its own position is left
    // alone), into the cache (fill) or straight into the caller's buffer
    // (readThrough); the count given, 0 beyond the source's end, kIOFailed
    // when the source fails.
    unsigned int fill(unsigned char* out, unsigned int wanted);
    unsigned int readThrough(unsigned char* out, unsigned int wanted);

    cFileIOTarget* source_ = nullptr;
    cFileIOTarget* owned_ = nullptr;
    _typebuf<unsigned char> cache_;
    // cache_[0, filled_) holds the source's bytes from cacheStart_ on.
    unsigned long long cacheStart_ = 0;
    long long filled_ = 0;
    unsigned long long pos_ = 0;
    long long sourceSize_ = 0;
    cCriticalSection lock_;
};

// ---------------------------------------------------------------------------
// A write buffer over another stream: small writes are collected and passed
// on in one piece.  It cannot be read.
class cMemBufferedLinearWriterIO : public cFileIOTarget {
public:
    explicit cMemBufferedLinearWriterIO(cFileIOTarget* target = nullptr, long long capacity = 65536);
    ~cMemBufferedLinearWriterIO() override;
    cMemBufferedLinearWriterIO(const cMemBufferedLinearWriterIO&) = delete;
    cMemBufferedLinearWriterIO& operator=(const cMemBufferedLinearWriterIO&) = delete;

    // Closes the writer (passing on what is pending), then attaches target
    // and moves it to position 0.  False when target is null or the buffer
    // cannot be allocated (capacity 1 or more).
    bool ref(cFileIOTarget* target, long long capacity);
    // As ref, and the writer owns target.  On failure the caller keeps it.
    bool set(cFileIOTarget* target, long long capacity);

    // Passes the pending bytes on; false when the target does not take them
    // all (what it did take is no longer pending).
    bool flush();

    // The target's size; pending bytes are not counted.
    long long size() override;
    unsigned int read(void*, unsigned int) override { return 0; }
    // 0 when pending bytes cannot be passed on first.
    unsigned int write(void* buf, unsigned int n) override;
    bool set_fp(unsigned long long pos) override;
    bool set_fp_end(unsigned long long) override { return false; }
    bool set_eof(unsigned long long) override { return false; }
    void close() override;
    bool valid() override;

private:
    bool attach(cFileIOTarget* target, long long capacity, bool own);
    bool passPending();

    cFileIOTarget* target_ = nullptr;
    cFileIOTarget* owned_ = nullptr;
    _typebuf<unsigned char> buffer_;
    long long pending_ = 0;
    cCriticalSection lock_;
};

// ---------------------------------------------------------------------------
// A stream over a block of the caller's memory, which must outlive it.  The
// block never grows.
class cBufWrapperIO : public cFileIOTarget {
public:
    explicit cBufWrapperIO(void* memory = nullptr, long long size = 0, bool writable = false);
    ~cBufWrapperIO() override = default;

    // A negative size counts as 0.  Returns valid().
    bool wrap(void* memory, long long size, bool writable);

    long long size() override { return size_; }
    unsigned int read(void* buf, unsigned int n) override;
    // The block's own bytes.  A class that changes what read() gives
    // changes this as well.
    std::size_t readInPlace(const unsigned char*& out, std::size_t most) override;
    // 0 when the block was wrapped read-only.
    unsigned int write(void* buf, unsigned int n) override;
    // pos is read as signed: negative or beyond the size moves to the end and
    // gives false.
    bool set_fp(unsigned long long pos) override;
    long long get_fp() override { return static_cast<long long>(pos_); }
    bool set_fp_end(unsigned long long n) override;
    // The block cannot change size: true only when length is the size.
    bool set_eof(unsigned long long length) override { return length == static_cast<unsigned long long>(size_); }
    // Forgets the block.
    void close() override;
    bool valid() override { return memory_ != nullptr; }

private:
    unsigned char* memory_ = nullptr;
    long long size_ = 0;
    unsigned long long pos_ = 0;
    bool readOnly_ = true;
};

// ---------------------------------------------------------------------------
// A window of fixed start and length on another stream (not owned; it must
// outlive the window).  Reads go to the parent's readAt, which leaves its
// position alone; writes and reads in place move the parent to start +
// position first.  So several windows and other readers may share one
// parent.
class cFileIOSubRange : public cFileIOTarget {
public:
    explicit cFileIOSubRange(cFileIOTarget* parent = nullptr, unsigned long long start = 0,
                             unsigned long long length = 0);
    ~cFileIOSubRange() override = default;

    // The window is clipped to the parent's size; returns valid().
    bool wrap(cFileIOTarget* parent, unsigned long long start, unsigned long long length);

    long long size() override { return static_cast<long long>(length_); }
    unsigned int read(void* buf, unsigned int n) override;
    unsigned int readAt(unsigned long long pos, void* buf, unsigned int n) override;
    // In place when the parent reads in place.
    std::size_t readInPlace(const unsigned char*& out, std::size_t most) override;
    unsigned int write(void* buf, unsigned int n) override;
    bool set_fp(unsigned long long pos) override;
    long long get_fp() override { return static_cast<long long>(pos_); }
    bool set_fp_end(unsigned long long n) override;
    bool set_eof(unsigned long long) override { return false; }
    // Leaves the parent open.
    void close() override {}
    bool valid() override { return parent_ != nullptr && length_ != 0; }

    unsigned long long start() const { return start_; }

private:
    unsigned long long pos_ = 0;
    unsigned long long start_ = 0;
    unsigned long long length_ = 0;
    cFileIOTarget* parent_ = nullptr;
};
