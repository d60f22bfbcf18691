#include "base/memio.h"
#include "base/sync.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#if defined(__has_include)
#if __has_include(<sys/single_threaded.h>)
#include <sys/single_threaded.h>
#define QOR_HAVE_SINGLE_THREADED 1
#endif
#endif

namespace {

// The largest count one call moves: 0xFFFFFFFF is kIOFailed.
constexpr unsigned long long kMaxTransfer = 0xFFFFFFFEull;
constexpr unsigned long long kMaxSize = static_cast<unsigned long long>(LLONG_MAX);

constexpr long long kDefaultPageSize = 65536;

unsigned long long minOf(unsigned long long a, unsigned long long b) { return a < b ? a : b; }

// The seeks of a stream of `size` bytes that cannot pass its end: set_fp
// stops at the end, set_fp_end beyond the start goes to the start, and either
// fails when it had to stop short.
bool seekWithin(unsigned long long size, unsigned long long target, unsigned long long& pos) {
    pos = minOf(target, size);
    return target <= size;
}
bool seekFromEnd(unsigned long long size, unsigned long long n, unsigned long long& pos) {
    pos = n <= size ? size - n : 0;
    return n <= size;
}

// Whether the read cache may skip its lock on its hot paths (read, set_fp,
// size).  While the process runs one thread there is nobody to exclude, and
// the C library's own streams skip their lock then too; the flag turns false
// for good when the first thread is created, before that thread runs.  None
// of these calls starts a thread while holding the cache, so no second thread
// can find it held without the lock.
bool aloneInProcess() {
#if QOR_HAVE_SINGLE_THREADED
    return __libc_single_threaded != 0;
#else
    return false;
#endif
}

// body() under the section.  Out of line, so that the unlocked path of the
// caller needs no stack frame of its own: a plain jump to its body.
template <typename Body>
[[gnu::noinline]] auto underLock(cCriticalSection& cs, Body body) {
    cSafeCriticalSectionAccess guard(&cs);
    return body();
}

}  // namespace

// ===========================================================================
// cMemIOTarget

cMemIOTarget::cMemIOTarget(long long pageSize)
    : pageSize_(pageSize >= 128 && pageSize <= 0x7FFFFFFF ? pageSize : kDefaultPageSize) {
    pageShift_ = -1;
    if ((pageSize_ & (pageSize_ - 1)) == 0) {
        pageShift_ = 0;
        while ((1LL << pageShift_) < pageSize_) ++pageShift_;
    }
    pageMask_ = static_cast<unsigned long long>(pageSize_ - 1);
}

void cMemIOTarget::noteShape() {
    flatReadEnd_ = minOf(static_cast<unsigned long long>(flatPages_) * static_cast<unsigned long long>(pageSize_),
                         static_cast<unsigned long long>(size_));
    flatShortAtBelow_ = flatReadEnd_ >= kShortRead ? flatReadEnd_ - kShortRead + 1 : 0;
    if (pageShift_ < 0) {
        pagedReadEnd_ = 0;
        return;
    }
    const unsigned long long held = static_cast<unsigned long long>(directory_.size()) << pageShift_;
    pagedReadEnd_ = minOf(held, static_cast<unsigned long long>(size_));
}

cMemIOTarget::~cMemIOTarget() { freeAllPages(); }

unsigned char* cMemIOTarget::pageBytes(_typebuf<unsigned char>& page) {
    const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(page.data());
    return page.data() + ((kPageAlign - at % kPageAlign) % kPageAlign);
}

unsigned char* cMemIOTarget::lookupPage(long long index) {
    _typebuf<unsigned char>* page = pages_.find(index);
    if (!page) return nullptr;
    lastIndex_ = index;
    lastPage_ = pageBytes(*page);
    return lastPage_;
}

unsigned char* cMemIOTarget::addPage(long long index) {
    // The buffer is made before the map entry, so that running out of memory
    // never leaves an entry without a page behind.
    _typebuf<unsigned char> page(pageSize_ + kPageAlign - 1);
    _typebuf<unsigned char>* slot = pages_.insert(index);
    slot->swap(page);
    ++pageCount_;
    lastIndex_ = index;
    lastPage_ = pageBytes(*slot);
    enterPage(index, lastPage_);
    return lastPage_;
}

void cMemIOTarget::enterPage(long long index, unsigned char* page) {
    const unsigned long long at = static_cast<unsigned long long>(index);
    const unsigned long long old = directory_.size();
    if (at < old) {
        directory_[static_cast<std::size_t>(at)] = page;
        return;
    }
    // The directory grows up to a page that lies no further above it than
    // the pages held could fill twice over; a page far beyond stays in the
    // map alone until the pages below it catch up.
    if (at > 2 * static_cast<unsigned long long>(pageCount_) + 64) return;
    try {
        directory_.resize(static_cast<std::size_t>(at) + 1, nullptr);
    } catch (const std::bad_alloc&) {
        return;  // the map still holds the page
    }
    noteShape();
    directory_[static_cast<std::size_t>(at)] = page;
    // Pages the map held above the old end came in while they were too far.
    for (auto* item = pages_.find_ge(static_cast<long long>(old)); item && item->key < index; item = pages_.find_ge(item->key + 1))
        directory_[static_cast<std::size_t>(item->key)] = pageBytes(item->value);
}

void cMemIOTarget::freePagesFrom(long long index) {
    while (auto* item = pages_.find_ge(index)) {
        pages_.dettach(item);
        --pageCount_;
    }
    if (index >= 0 && static_cast<unsigned long long>(index) < directory_.size())
        directory_.resize(static_cast<std::size_t>(index));
    if (index < flatPages_) cutBlock(index < 0 ? 0 : index);
    noteShape();
    if (lastIndex_ >= index) {
        lastIndex_ = -1;
        lastPage_ = nullptr;
    }
}

void cMemIOTarget::cutBlock(long long keep) {
    pageCount_ -= flatPages_ - keep;
    flatPages_ = keep;
    if (2 * keep >= flatBlockPages_) return;
    // The pages are made before anything changes hands: when memory runs
    // out, the stream keeps the block as it is.
    const std::size_t ps = static_cast<std::size_t>(pageSize_);
    std::vector<_typebuf<unsigned char> > own;
    try {
        own.resize(static_cast<std::size_t>(keep));
        for (auto& page : own) page.set(pageSize_ + kPageAlign - 1);
        for (long long index = 0; index < keep; ++index) pages_.insert(index);
    } catch (const std::bad_alloc&) {
        // The map holds no other entry below keep.
        for (auto* item = pages_.find_ge(0); item && item->key < keep; item = pages_.find_ge(0)) pages_.dettach(item);
        return;
    }
    for (long long index = 0; index < keep; ++index) {
        _typebuf<unsigned char>& page = own[static_cast<std::size_t>(index)];
        unsigned char* bytes = pageBytes(page);
        std::memcpy(bytes, flatBytes_ + static_cast<std::size_t>(index) * ps, ps);
        pages_.find(index)->swap(page);
        directory_[static_cast<std::size_t>(index)] = bytes;
    }
    dropBlock();
}

void cMemIOTarget::dropBlock() {
    flat_.set(0);
    flatBytes_ = nullptr;
    flatPages_ = 0;
    flatBlockPages_ = 0;
}

void cMemIOTarget::freeAllPages() {
    dropBlock();
    pages_.destroy();
    directory_.clear();
    noteShape();
    pageCount_ = 0;
    lastIndex_ = -1;
    lastPage_ = nullptr;
}

void cMemIOTarget::peek(unsigned long long offset, unsigned char* out, std::size_t n) {
    const unsigned long long ps = static_cast<unsigned long long>(pageSize_);
    while (n > 0) {
        long long index;
        std::size_t off;
        split(offset, index, off);
        const std::size_t piece = static_cast<std::size_t>(minOf(n, ps - off));
        if (const unsigned char* page = storedPage(index))
            qor_detail::copyLong(out, page + off, piece);
        else
            std::memset(out, 0, piece);
        out += piece;
        offset += piece;
        n -= piece;
    }
}

const unsigned char* cMemIOTarget::storedPage(long long index) {
    if (index >= 0 && static_cast<unsigned long long>(index) < directory_.size())
        return directory_[static_cast<std::size_t>(index)];
    _typebuf<unsigned char>* page = pages_.find(index);
    return page ? pageBytes(*page) : nullptr;
}

unsigned int cMemIOTarget::readAtLong(unsigned long long pos, void* buf, unsigned int n) {
    const unsigned long long size = static_cast<unsigned long long>(size_);
    if (!buf || n == 0 || pos >= size) return 0;
    const unsigned long long count = minOf(minOf(n, kMaxTransfer), size - pos);
    unsigned char* const out = static_cast<unsigned char*>(buf);
    if (pos + count <= flatReadEnd_)
        qor_detail::copyLong(out, flatBytes_ + pos, static_cast<std::size_t>(count));
    else
        peek(pos, out, static_cast<std::size_t>(count));
    return static_cast<unsigned int>(count);
}

unsigned int cMemIOTarget::readLong(void* buf, unsigned int n) {
    const unsigned int got = readAtLong(pos_, buf, n);
    pos_ += got;
    return got;
}

unsigned int cMemIOTarget::write(void* buf, unsigned int n) {
    if (!buf || n == 0) return 0;
    // The size must stay a signed 64-bit value.
    const unsigned long long want = minOf(minOf(n, kMaxTransfer), kMaxSize - pos_);
    const unsigned long long ps = static_cast<unsigned long long>(pageSize_);
    const unsigned char* src = static_cast<const unsigned char*>(buf);
    unsigned long long done = 0;
    while (done < want) {
        long long index;
        std::size_t off;
        split(pos_, index, off);
        const std::size_t piece = static_cast<std::size_t>(minOf(want - done, ps - off));
        unsigned char* page = findPage(index);
        if (!page) {
            try {
                page = addPage(index);
            } catch (const std::bad_alloc&) {
                break;
            }
            // Whatever this piece does not cover must read as zero.
            std::memset(page, 0, off);
            std::memset(page + off + piece, 0, static_cast<std::size_t>(ps) - off - piece);
        }
        std::memmove(page + off, src + done, piece);  // src may lie in this stream
        done += piece;
        pos_ += piece;
        if (pos_ > static_cast<unsigned long long>(size_)) size_ = static_cast<long long>(pos_);
    }
    noteShape();
    return static_cast<unsigned int>(done);
}

bool cMemIOTarget::set_fp_end(unsigned long long n) {
    return seekFromEnd(static_cast<unsigned long long>(size_), n, pos_);
}

bool cMemIOTarget::set_eof(unsigned long long length) {
    if (length > kMaxSize) return false;
    if (length == 0) {
        reset();
        return true;
    }
    if (length < static_cast<unsigned long long>(size_)) {
        const unsigned long long ps = static_cast<unsigned long long>(pageSize_);
        const unsigned long long tail = length % ps;
        freePagesFrom(static_cast<long long>(length / ps + (tail ? 1 : 0)));
        // Bytes past the end of a kept page must read as zero should the
        // stream grow again.
        if (tail) {
            if (unsigned char* page = findPage(static_cast<long long>(length / ps)))
                std::memset(page + tail, 0, static_cast<std::size_t>(ps - tail));
        }
    }
    size_ = static_cast<long long>(length);
    noteShape();
    if (pos_ > length) pos_ = length;
    return true;
}

void cMemIOTarget::reset() {
    freeAllPages();
    size_ = 0;
    noteShape();
    pos_ = 0;
}

long long cMemIOTarget::copy(long long from, long long n) {
    if (n <= 0 || from < 0) return 0;
    unsigned char bounce[16384];
    const unsigned long long ps = static_cast<unsigned long long>(pageSize_);
    // When the source starts before the destination, a piece never reaches
    // further than the distance between them, so every byte it reads has
    // already been written: the copy repeats the bytes as a byte-by-byte
    // copy would.
    const unsigned long long distance =
        pos_ > static_cast<unsigned long long>(from) ? pos_ - static_cast<unsigned long long>(from) : 0;
    unsigned long long src = static_cast<unsigned long long>(from);
    long long done = 0;
    while (done < n) {
        unsigned long long piece = minOf(static_cast<unsigned long long>(n - done), ps - src % ps);
        piece = minOf(piece, sizeof bounce);
        if (distance) piece = minOf(piece, distance);
        peek(src, bounce, static_cast<std::size_t>(piece));
        const unsigned int put = write(bounce, static_cast<unsigned int>(piece));
        done += put;
        src += put;
        if (put != piece) break;
    }
    return done;
}

bool cMemIOTarget::toBuffer(_typebuf<unsigned char>& out) {
    try {
        out.set(size_);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (size_ > 0) {
        qor_detail::preferHugePages(out.data(), static_cast<std::size_t>(size_));
        peek(0, out.data(), static_cast<std::size_t>(size_));
    }
    return true;
}

bool cMemIOTarget::fromBuffer(void const* data, long long n) {
    reset();
    if (!data || n <= 0) return true;
    const long long pages = n / pageSize_ + (n % pageSize_ ? 1 : 0);
    try {
        if (pages > static_cast<long long>(qor_detail::kMaxAllocationBytes) / pageSize_) throw std::bad_alloc();
        directory_.resize(static_cast<std::size_t>(pages));
        flat_.set(pages * pageSize_ + static_cast<long long>(kPageAlign) - 1);
    } catch (const std::bad_alloc&) {
        reset();
        return false;
    }
    flatBytes_ = pageBytes(flat_);
    const std::size_t whole = static_cast<std::size_t>(pages * pageSize_);
    // Written end to end just below, and read at any place after: on huge
    // pages the block faults in once per 2 MiB instead of once per 4 KiB,
    // and reads at random places of a large stream stop missing the TLB
    // (copies out of 64 MiB at random places, on a Xeon: 4 KiB ones took 14%
    // less time than on small pages, 64-byte ones 30% less).
    qor_detail::preferHugePages(flatBytes_, whole);
    std::memcpy(flatBytes_, data, static_cast<std::size_t>(n));
    std::memset(flatBytes_ + n, 0, whole - static_cast<std::size_t>(n));
    for (std::size_t index = 0; index < directory_.size(); ++index)
        directory_[index] = flatBytes_ + index * static_cast<std::size_t>(pageSize_);
    flatPages_ = flatBlockPages_ = pageCount_ = pages;
    size_ = n;
    noteShape();
    return true;
}

// ===========================================================================
// cMemBufferedIO

cMemBufferedIO::cMemBufferedIO(cFileIOTarget* source, long long capacity) {
    if (source) ref(source, capacity);
}

cMemBufferedIO::~cMemBufferedIO() { detach(); }

void cMemBufferedIO::detach() {
    delete owned_;
    owned_ = nullptr;
    source_ = nullptr;
    cache_.set(0);
    cacheStart_ = 0;
    filled_ = 0;
    pos_ = 0;
    sourceSize_ = 0;
}

bool cMemBufferedIO::attach(cFileIOTarget* source, long long capacity, bool own) {
    cSafeCriticalSectionAccess guard(&lock_);
    _typebuf<unsigned char> fresh;
    bool ok = source != nullptr && capacity >= 0;
    if (ok) {
        try {
            fresh.set(capacity);
        } catch (const std::bad_alloc&) {
            ok = false;
        }
    }
    // Attaching the stream the cache owns already must not delete it.
    const bool ownedAlready = source != nullptr && owned_ == source;
    if (ownedAlready) owned_ = nullptr;
    detach();
    if (!ok) return false;
    owned_ = (own || ownedAlready) ? source : nullptr;
    source_ = source;
    source_->set_fp(0);
    cache_.swap(fresh);
    const long long s = source_->size();
    sourceSize_ = s > 0 ? s : 0;
    return true;
}

bool cMemBufferedIO::ref(cFileIOTarget* source, long long capacity) { return attach(source, capacity, false); }

bool cMemBufferedIO::set(cFileIOTarget* source, long long capacity) { return attach(source, capacity, true); }

long long cMemBufferedIO::size() {
    if (aloneInProcess()) return sourceSize_;
    return underLock(lock_, [this] { return sourceSize_; });
}

unsigned int cMemBufferedIO::readThrough(unsigned char* out, unsigned int wanted) {
    // The request goes to the source whole: no stream reports kIOFailed as a
    // count, so not even a request of 0xFFFFFFFF bytes can come back as one.
    // What it claims is still held to the request.
    const unsigned int got = source_->readAt(pos_, out, wanted);
    if (!transferred(got)) return kIOFailed;
    const unsigned int kept = got < wanted ? got : wanted;
    pos_ += kept;
    return kept;
}

unsigned int cMemBufferedIO::fill(unsigned char* out, unsigned int wanted) {
    const unsigned long long capacity = static_cast<unsigned long long>(cache_.count());
    filled_ = 0;
    const unsigned int got =
        source_->readAt(pos_, cache_.data(), static_cast<unsigned int>(minOf(capacity, kMaxTransfer)));
    if (!transferred(got)) return kIOFailed;
    cacheStart_ = pos_;
    filled_ = static_cast<long long>(minOf(got, capacity));
    const unsigned int give = static_cast<unsigned int>(minOf(wanted, static_cast<unsigned long long>(filled_)));
    std::memcpy(out, cache_.data(), give);
    pos_ += give;
    return give;
}

unsigned int cMemBufferedIO::read(void* buf, unsigned int n) {
    if (aloneInProcess()) return readHeld(buf, n);
    return underLock(lock_, [this, buf, n] { return readHeld(buf, n); });
}

unsigned int cMemBufferedIO::readAt(unsigned long long pos, void* buf, unsigned int n) {
    auto readThere = [this, pos, buf, n] {
        const unsigned long long kept = pos_;
        pos_ = pos;
        const unsigned int got = readHeld(buf, n);
        pos_ = kept;
        return got;
    };
    if (aloneInProcess()) return readThere();
    return underLock(lock_, readThere);
}

long long cMemBufferedIO::get_fp() {
    if (aloneInProcess()) return static_cast<long long>(pos_);
    return underLock(lock_, [this] { return static_cast<long long>(pos_); });
}

unsigned int cMemBufferedIO::readHeld(void* buf, unsigned int n) {
    if (!source_ || !buf || n == 0) return 0;
    unsigned char* out = static_cast<unsigned char*>(buf);
    // Below the cache's start the difference wraps around past filled_.
    const unsigned long long at = pos_ - cacheStart_;
    if (at < static_cast<unsigned long long>(filled_)) {
        const unsigned char* from = cache_.data() + at;
        if (n == 1) {
            *out = *from;
            ++pos_;
            return 1;
        }
        if (n <= 64 && n <= static_cast<unsigned long long>(filled_) - at) {
            qor_detail::copySmall(out, from, n);
            pos_ += n;
            return n;
        }
        return readFromCache(out, n, at);
    }
    // Nothing cached at the position.  A request as large as the cache or
    // larger goes straight from the source into the caller's buffer, sparing
    // a copy of what the cache could not keep together with anything else.
    return n >= static_cast<unsigned long long>(cache_.count()) ? readThrough(out, n) : fill(out, n);
}

unsigned int cMemBufferedIO::readFromCache(unsigned char* out, unsigned int n, unsigned long long at) {
    const unsigned long long cached = static_cast<unsigned long long>(filled_) - at;
    if (n <= cached) {
        std::memcpy(out, cache_.data() + at, n);
        pos_ += n;
        return n;
    }
    const unsigned int total = static_cast<unsigned int>(cached);
    std::memcpy(out, cache_.data() + at, total);
    pos_ += total;
    // The cached part and the rest must never add up to kIOFailed.
    const unsigned int rest = static_cast<unsigned int>(minOf(n, kMaxTransfer)) - total;
    const unsigned int got = rest >= static_cast<unsigned long long>(cache_.count()) ? readThrough(out + total, rest)
                                                                                     : fill(out + total, rest);
    // What the cache gave stands even when the source then fails.
    return transferred(got) ? total + got : total;
}

unsigned int cMemBufferedIO::write(void* buf, unsigned int n) {
    cSafeCriticalSectionAccess guard(&lock_);
    if (!source_ || !buf || n == 0) return 0;
    dropCache();
    if (!source_->set_fp(pos_)) return kIOFailed;
    const unsigned int put = source_->write(buf, static_cast<unsigned int>(minOf(n, kMaxTransfer)));
    const long long s = source_->size();
    sourceSize_ = s > 0 ? s : 0;
    if (!transferred(put)) return kIOFailed;
    pos_ += minOf(put, n);
    return put;
}

bool cMemBufferedIO::set_fp(unsigned long long pos) {
    if (aloneInProcess()) return moveTo(pos);
    return underLock(lock_, [this, pos] { return moveTo(pos); });
}

bool cMemBufferedIO::set_fp_end(unsigned long long n) {
    cSafeCriticalSectionAccess guard(&lock_);
    if (!source_) return false;
    return seekFromEnd(static_cast<unsigned long long>(sourceSize_), n, pos_);
}

bool cMemBufferedIO::set_eof(unsigned long long length) {
    cSafeCriticalSectionAccess guard(&lock_);
    if (!source_) return false;
    const bool ok = source_->set_eof(length);
    // The cache may hold bytes that are gone now.
    dropCache();
    const long long s = source_->size();
    sourceSize_ = s > 0 ? s : 0;
    return ok;
}

void cMemBufferedIO::close() {
    cSafeCriticalSectionAccess guard(&lock_);
    detach();
}

bool cMemBufferedIO::valid() {
    cSafeCriticalSectionAccess guard(&lock_);
    return source_ && source_->valid();
}

// ===========================================================================
// cMemBufferedLinearWriterIO

cMemBufferedLinearWriterIO::cMemBufferedLinearWriterIO(cFileIOTarget* target, long long capacity) {
    if (target) ref(target, capacity);
}

cMemBufferedLinearWriterIO::~cMemBufferedLinearWriterIO() { close(); }

bool cMemBufferedLinearWriterIO::attach(cFileIOTarget* target, long long capacity, bool own) {
    cSafeCriticalSectionAccess guard(&lock_);
    // Attaching the stream the writer owns already must not delete it.
    const bool ownedAlready = target != nullptr && owned_ == target;
    if (ownedAlready) owned_ = nullptr;
    close();
    if (!target || capacity < 0) return false;
    try {
        buffer_.set(capacity);
    } catch (const std::bad_alloc&) {
        return false;
    }
    target_ = target;
    owned_ = (own || ownedAlready) ? target : nullptr;
    pending_ = 0;
    target_->set_fp(0);
    return true;
}

bool cMemBufferedLinearWriterIO::ref(cFileIOTarget* target, long long capacity) {
    return attach(target, capacity, false);
}

bool cMemBufferedLinearWriterIO::set(cFileIOTarget* target, long long capacity) {
    return attach(target, capacity, true);
}

bool cMemBufferedLinearWriterIO::passPending() {
    if (pending_ == 0) return true;
    const unsigned int put = target_->write(buffer_.data(), static_cast<unsigned int>(pending_));
    if (!transferred(put)) return false;
    if (static_cast<long long>(put) < pending_) {
        // What the target took is written; only the rest stays pending.
        std::memmove(buffer_.data(), buffer_.data() + put, static_cast<std::size_t>(pending_ - put));
        pending_ -= put;
        return false;
    }
    pending_ = 0;
    return true;
}

bool cMemBufferedLinearWriterIO::flush() { return target_ && passPending(); }

long long cMemBufferedLinearWriterIO::size() { return target_ ? target_->size() : 0; }

unsigned int cMemBufferedLinearWriterIO::write(void* buf, unsigned int n) {
    if (!buf || n == 0 || !target_) return 0;
    const unsigned long long capacity = static_cast<unsigned long long>(buffer_.count());
    const bool direct = n >= capacity;
    if (direct || static_cast<unsigned long long>(pending_) + n > capacity) {
        if (!passPending()) return 0;
    }
    if (direct) return target_->write(buf, static_cast<unsigned int>(minOf(n, kMaxTransfer)));
    unsigned char* at = buffer_.data() + pending_;
    // Fixed sizes let the compiler store the value in one move.
    switch (n) {
        case 1: *at = *static_cast<const unsigned char*>(buf); break;
        case 2: std::memcpy(at, buf, 2); break;
        case 4: std::memcpy(at, buf, 4); break;
        case 8: std::memcpy(at, buf, 8); break;
        default: std::memcpy(at, buf, n); break;
    }
    pending_ += n;
    return n;
}

bool cMemBufferedLinearWriterIO::set_fp(unsigned long long pos) {
    if (!target_ || !passPending()) return false;
    return target_->set_fp(pos);
}

void cMemBufferedLinearWriterIO::close() {
    // The flush writes, and this runs from the destructor: a cancelled job
    // must not unwind out of it (see cCancellationHold).
    cCancellationHold hold;
    if (target_) passPending();
    target_ = nullptr;
    delete owned_;
    owned_ = nullptr;
    buffer_.set(0);
    pending_ = 0;
}

bool cMemBufferedLinearWriterIO::valid() { return target_ && target_->valid(); }

// ===========================================================================
// cBufWrapperIO

cBufWrapperIO::cBufWrapperIO(void* memory, long long size, bool writable) { wrap(memory, size, writable); }

bool cBufWrapperIO::wrap(void* memory, long long size, bool writable) {
    memory_ = static_cast<unsigned char*>(memory);
    size_ = memory && size > 0 ? size : 0;
    pos_ = 0;
    readOnly_ = !writable;
    return valid();
}

unsigned int cBufWrapperIO::read(void* buf, unsigned int n) {
    if (!memory_ || !buf) return 0;
    const unsigned long long count =
        minOf(minOf(n, kMaxTransfer), static_cast<unsigned long long>(size_) - pos_);
    std::memcpy(buf, memory_ + pos_, static_cast<std::size_t>(count));
    pos_ += count;
    return static_cast<unsigned int>(count);
}

std::size_t cBufWrapperIO::readInPlace(const unsigned char*& out, std::size_t most) {
    if (!memory_) return 0;
    const unsigned long long count = minOf(most, static_cast<unsigned long long>(size_) - pos_);
    out = memory_ + pos_;
    pos_ += count;
    return static_cast<std::size_t>(count);
}

unsigned int cBufWrapperIO::write(void* buf, unsigned int n) {
    if (!memory_ || !buf || readOnly_) return 0;
    const unsigned long long count =
        minOf(minOf(n, kMaxTransfer), static_cast<unsigned long long>(size_) - pos_);
    std::memmove(memory_ + pos_, buf, static_cast<std::size_t>(count));
    pos_ += count;
    return static_cast<unsigned int>(count);
}

// A negative position, read as unsigned, lies beyond any size: to the end.
bool cBufWrapperIO::set_fp(unsigned long long pos) {
    return seekWithin(static_cast<unsigned long long>(size_), pos, pos_);
}

bool cBufWrapperIO::set_fp_end(unsigned long long n) {
    return seekFromEnd(static_cast<unsigned long long>(size_), n, pos_);
}

void cBufWrapperIO::close() {
    memory_ = nullptr;
    size_ = 0;
    pos_ = 0;
}

// ===========================================================================
// cFileIOSubRange

cFileIOSubRange::cFileIOSubRange(cFileIOTarget* parent, unsigned long long start, unsigned long long length) {
    wrap(parent, start, length);
}

bool cFileIOSubRange::wrap(cFileIOTarget* parent, unsigned long long start, unsigned long long length) {
    parent_ = parent;
    pos_ = 0;
    if (!parent) {
        start_ = 0;
        length_ = 0;
        return false;
    }
    const long long s = parent->size();
    const unsigned long long parentSize = s > 0 ? static_cast<unsigned long long>(s) : 0;
    start_ = minOf(start, parentSize);
    length_ = minOf(length, parentSize - start_);
    return valid();
}

unsigned int cFileIOSubRange::read(void* buf, unsigned int n) {
    const unsigned int got = cFileIOSubRange::readAt(pos_, buf, n);
    if (transferred(got)) pos_ += got;
    return got;
}

unsigned int cFileIOSubRange::readAt(unsigned long long pos, void* buf, unsigned int n) {
    if (!parent_ || !buf || pos >= length_) return 0;
    const unsigned long long count = minOf(minOf(n, kMaxTransfer), length_ - pos);
    if (count == 0) return 0;
    const unsigned int got = parent_->readAt(start_ + pos, buf, static_cast<unsigned int>(count));
    if (!transferred(got)) return kIOFailed;
    return static_cast<unsigned int>(minOf(got, count));
}

std::size_t cFileIOSubRange::readInPlace(const unsigned char*& out, std::size_t most) {
    const unsigned long long count = minOf(most, length_ - pos_);
    if (!parent_ || count == 0 || !parent_->set_fp(start_ + pos_)) return 0;
    const std::size_t got = parent_->readInPlace(out, static_cast<std::size_t>(count));
    // A parent that hands over more than it was asked for is not believed.
    if (got > count) return 0;
    pos_ += got;
    return got;
}

unsigned int cFileIOSubRange::write(void* buf, unsigned int n) {
    if (!parent_ || !buf) return 0;
    const unsigned long long count = minOf(minOf(n, kMaxTransfer), length_ - pos_);
    if (count == 0) return 0;
    if (!parent_->set_fp(start_ + pos_)) return kIOFailed;
    const unsigned int put = parent_->write(buf, static_cast<unsigned int>(count));
    if (!transferred(put)) return kIOFailed;
    const unsigned long long moved = minOf(put, count);
    pos_ += moved;
    return static_cast<unsigned int>(moved);
}

bool cFileIOSubRange::set_fp(unsigned long long pos) {
    if (!parent_) return false;
    const bool inside = seekWithin(length_, pos, pos_);
    const bool moved = parent_->set_fp(start_ + pos_);
    return inside && moved;
}

bool cFileIOSubRange::set_fp_end(unsigned long long n) {
    if (!parent_) return false;
    const bool inside = seekFromEnd(length_, n, pos_);
    const bool moved = parent_->set_fp(start_ + pos_);
    return inside && moved;
}
