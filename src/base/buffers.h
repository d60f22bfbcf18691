// Owned strings, counted buffers and owning pointers.
//
// _guardchar<T>  an owned, NUL-terminated string of code units (UTF-8 or UTF-16)
// _typebuf<T>    an owned, counted array of plain elements, allocated uninitialised
// _classbuf<T>   an owned, counted array of default-constructed objects
// cPtr<T>        an owning pointer to one object
//
// None of them counts references or locks; each frees what it holds.  Index
// checks throw cException ("_typebuf::Out of bounds", "_classbuf::Out of
// bounds"); a failed allocation is the allocator's std::bad_alloc.
#pragma once

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

namespace qor_detail {

// Throws the cException of an index check; kept out of line so that this
// header does not need the exception type.
[[noreturn]] void throwTypebufOutOfBounds();
[[noreturn]] void throwClassbufOutOfBounds();

// No owned buffer is ever larger than this (1 TiB): a bigger request, or one
// whose size overflows, fails with std::bad_alloc as an exhausted heap would,
// and is never turned into a smaller allocation.
constexpr unsigned long long kMaxAllocationBytes = 1ULL << 40;

inline std::size_t checkedUnits(long long n, std::size_t unit) {
    if (n < 0 || static_cast<unsigned long long>(n) > kMaxAllocationBytes / unit) throw std::bad_alloc();
    return static_cast<std::size_t>(n);
}

// How copySmall moves 33 to 64 bytes, chosen once when the program starts
// (0 until then): kSmallCopySse four 16-byte moves, which every x86-64 has;
// kSmallCopyAvx two 32-byte ones, followed by vzeroupper so that the SSE
// code around them runs at full speed; kSmallCopyEvex the same two moves in
// their AVX-512 form, through registers 16 and 17, whose upper halves do not
// slow SSE code down, so that no vzeroupper is needed.  Behind reads that
// miss the caches the vzeroupper cost the two-move copy its lead over the
// library's memcpy, which takes the same registers on such a processor.
enum : unsigned char { kSmallCopySse = 0, kSmallCopyAvx = 1, kSmallCopyEvex = 2 };
extern unsigned char gSmallCopyWidth;
// The choice itself, made from qor_cpu; tests and benchmarks may set
// gSmallCopyWidth to any width up to it.
unsigned char widestSmallCopy();

// Copies n bytes, n at most 64, with a few fixed-size moves (two that overlap
// in the middle) instead of a call: the short reads of parsers and the
// strings of dictionary decoders are mostly this.  Source and destination do
// not overlap.
inline void copySmall(unsigned char* d, const unsigned char* s, unsigned int n) {
    if (n >= 16) {
        if (n <= 32) {
            std::memcpy(d, s, 16);
            std::memcpy(d + n - 16, s + n - 16, 16);
            return;
        }
#if defined(__AVX2__)
        // Built for AVX2: the compiler's own 32-byte moves.
        std::memcpy(d, s, 32);
        std::memcpy(d + n - 32, s + n - 32, 32);
#else
#if defined(__x86_64__) && defined(__GNUC__)
        // The library is built for the x86-64 baseline, so the 32-byte moves
        // are written out.  The operands name all 64 bytes that the copy may
        // touch; the destination as read and written, so that no store the
        // caller made before it to bytes past n is dropped as overwritten.
        const std::size_t m = n;
        if (gSmallCopyWidth == kSmallCopyEvex) {
            // Registers 16 and 17 cannot be named as changed in code built
            // for the baseline, which never holds a value in them; a function
            // built for AVX-512 by a target attribute may, so none calls this
            // (none of them uses the memory streams or copySmall).
            __asm__("vmovdqu64 (%[s]), %%ymm16\n\t"
                    "vmovdqu64 -32(%[s],%[m]), %%ymm17\n\t"
                    "vmovdqu64 %%ymm16, (%[d])\n\t"
                    "vmovdqu64 %%ymm17, -32(%[d],%[m])"
                    : "+m"(*reinterpret_cast<unsigned char(*)[64]>(d))
                    : [d] "r"(d), [s] "r"(s), [m] "r"(m), "m"(*reinterpret_cast<const unsigned char(*)[64]>(s)));
            return;
        }
        if (gSmallCopyWidth == kSmallCopyAvx) {
            // vzeroupper clears the upper halves of registers 0 to 15, so all
            // of them are named as changed.
            __asm__("vmovdqu (%[s]), %%ymm0\n\t"
                    "vmovdqu -32(%[s],%[m]), %%ymm1\n\t"
                    "vmovdqu %%ymm0, (%[d])\n\t"
                    "vmovdqu %%ymm1, -32(%[d],%[m])\n\t"
                    "vzeroupper"
                    : "+m"(*reinterpret_cast<unsigned char(*)[64]>(d))
                    : [d] "r"(d), [s] "r"(s), [m] "r"(m), "m"(*reinterpret_cast<const unsigned char(*)[64]>(s))
                    : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9", "xmm10",
                      "xmm11", "xmm12", "xmm13", "xmm14", "xmm15");
            return;
        }
#endif
        // Four 16-byte moves: as two 32-byte ones, compilers without
        // 32-byte registers went through a spill on the stack.
        std::memcpy(d, s, 16);
        std::memcpy(d + 16, s + 16, 16);
        std::memcpy(d + n - 32, s + n - 32, 16);
        std::memcpy(d + n - 16, s + n - 16, 16);
#endif
    } else if (n >= 8) {
        std::memcpy(d, s, 8);
        std::memcpy(d + n - 8, s + n - 8, 8);
    } else if (n >= 4) {
        std::memcpy(d, s, 4);
        std::memcpy(d + n - 4, s + n - 4, 4);
    } else if (n > 0) {
        d[0] = s[0];
        d[n / 2] = s[n / 2];
        d[n - 1] = s[n - 1];
    }
}

// Copies n bytes, source and destination not overlapping, for the long
// reads of the memory streams: from a buffer whose start is on a cache line
// (the stream's pages) into the caller's buffer wherever it lies.  With AVX2
// a loop of plain 32-byte moves (copyLongVector), which keeps the same speed
// for any alignment of the two; the library's memcpy switches to the
// processor's string move at these sizes, whose speed on some processors
// (AMD's) depends on how the two buffers lie against each other (up to a
// quarter slower when they are a few bytes apart modulo the cache line or
// the page).  memcpy below 256 bytes, without AVX2, and on an Intel
// processor whose string move is fast from the first byte
// (qor_cpu::hasFastStringMove), where memcpy is the faster.  Inline, so that
// a stream's read calls memcpy itself: the choice is a flag made once when
// the program starts (false until then, which copies with memcpy).
//
// On an Intel processor with AVX-512 and the fast string move
// (gLongCopyLoopWide) the loop moves 64 bytes at a time when source and
// destination lie the same way in a cache line, and memcpy copies the rest:
// 4 KiB read from 4 KiB boundaries of a 64 MiB stream into a buffer on a
// cache line took 4% less time than with memcpy on an Emerald Rapids Xeon,
// whose memcpy moves 32 bytes at a time up to that size.  From 2 KiB the
// rest goes to the string move itself, started on a cache line of the
// destination as memcpy starts it, without memcpy's way there.  A stream's
// reads of 4 KiB from random places of 64 MiB took 1.3% longer than bare
// memcpy calls while they went through memcpy, and as long with the string
// move (a Xeon of family 6 model 167); at another time of the same day both
// ways took 1 to 1.6% longer.
extern bool gLongCopyByVectorLoop;
extern bool gLongCopyLoopWide;
void copyLongVector(unsigned char* d, const unsigned char* s, std::size_t n);  // n at least 128
inline void copyLong(unsigned char* d, const unsigned char* s, std::size_t n) {
    if (n >= 256 && gLongCopyByVectorLoop)
        copyLongVector(d, s, n);
    else
        std::memcpy(d, s, n);
}
// Whether the vector loop is the one to take here, and its 64-byte form,
// from qor_cpu.
bool longCopyByVectorLoop();
bool longCopyLoopWide();

// A hint that a buffer of `bytes` at p, about to be written from end to end,
// is best backed by huge pages: it saves most of the page faults of a fresh
// multi-megabyte buffer.  Only the whole 2 MiB pages inside it are marked;
// smaller buffers and systems without the hint are left alone, and nothing
// depends on it.  Buffers past 128 MiB get small pages, faulted in at once:
// under a hypervisor that takes idle memory back, the 2 MiB blocks a huge
// page needs are the memory it took, and a first load that large pays the
// hypervisor's faults, several times the cost of small pages.
void preferHugePages(void* p, std::size_t bytes);

// preferHugePages for a buffer that may not be written to its end, such as
// room for an output whose size is only guessed: the same huge-page hint,
// but nothing is faulted in ahead of the writes (the policies that fault
// pages in leave it to ordinary page faults, and the chosen policy marks
// only as much of it as would get huge pages in a buffer of its own), so
// the part left unwritten costs no memory.
void preferHugePagesUnfilled(void* p, std::size_t bytes);

// Faults in the small pages of a block under a few MiB that is about to be
// written from end to end, with one call instead of a fault per page (a
// map's node storage, say).  Nothing depends on it; the `plain` and `huge`
// policies below leave the pages to ordinary faults.
void faultInPages(void* p, std::size_t bytes);

// How preferHugePages backs the buffers it is given.  `chosen` is the
// library's own policy; the others exist so that a benchmark can hold the
// policy against the alternatives: `plain` leaves the buffer to ordinary
// page faults, `huge` marks it for huge pages, `populate` faults its pages
// in with one call before it is written, `hugePopulate` does both.
enum class eFreshPages { chosen, plain, huge, populate, hugePopulate };
void setFreshPagesPolicy(eFreshPages policy);

}  // namespace qor_detail

// ---------------------------------------------------------------------------

template <typename T>
class _guardchar {
public:
    _guardchar() = default;
    explicit _guardchar(const T* s) { set(s); }
    _guardchar(const T* s, long long n) { set(s, n); }
    _guardchar(const _guardchar& o) { set(o.buffer_); }
    _guardchar(_guardchar&& o) noexcept : buffer_(o.buffer_) { o.buffer_ = nullptr; }
    _guardchar& operator=(const _guardchar& o) {
        if (this != &o) set(o.buffer_);
        return *this;
    }
    _guardchar& operator=(_guardchar&& o) noexcept {
        if (this != &o) {
            delete[] buffer_;
            buffer_ = o.buffer_;
            o.buffer_ = nullptr;
        }
        return *this;
    }
    virtual void clear() {
        delete[] buffer_;
        buffer_ = nullptr;
    }
    virtual ~_guardchar() { delete[] buffer_; }

    // Copies the units of s up to its first 0 unit; null leaves the string empty.
    // The copy is made before the old text is freed, so s may point into it.
    void set(const T* s) {
        if (!s) {
            clear();
            return;
        }
        set(s, static_cast<long long>(length(s)));
    }

    // Copies at most n units of s, stopping after a 0 unit, and writes a 0 unit
    // at index n.  Units between an early terminator and index n stay unset.
    void set(const T* s, long long n) {
        if (!s) {
            clear();
            return;
        }
        if (n < 0) n = 0;
        // LLONG_MAX has no n + 1; the cap refuses it either way.
        T* fresh = allocate(n < LLONG_MAX ? n + 1 : n);
        for (long long i = 0; i < n; ++i) {
            fresh[i] = s[i];
            if (s[i] == 0) break;
        }
        fresh[n] = 0;
        adopt(fresh);
    }

    // An empty string with room for n - 1 units and the terminator, all 0.
    void set(long long n) {
        if (n <= 0) {
            clear();
            return;
        }
        T* fresh = allocate(n);
        std::memset(fresh, 0, static_cast<std::size_t>(n) * sizeof(T));
        adopt(fresh);
    }

    T* get() const { return buffer_; }
    const T* c_str() const { return buffer_; }
    bool empty() const { return buffer_ == nullptr || buffer_[0] == 0; }
    std::size_t length() const { return buffer_ ? length(buffer_) : 0; }

    // Hands the array over to the caller, who frees it with delete[].
    T* release() {
        T* b = buffer_;
        buffer_ = nullptr;
        return b;
    }

    static std::size_t length(const T* s) {
        std::size_t n = 0;
        while (s[n] != 0) ++n;
        return n;
    }

private:
    // A failed refill, a request beyond the cap included, leaves the string
    // empty.
    T* allocate(long long units) {
        try {
            return new T[qor_detail::checkedUnits(units, sizeof(T))];
        } catch (...) {
            clear();
            throw;
        }
    }
    void adopt(T* fresh) {
        clear();
        buffer_ = fresh;
    }

    T* buffer_ = nullptr;
};

// ---------------------------------------------------------------------------

template <typename T>
class _typebuf {
    static_assert(std::is_trivially_copyable<T>::value || std::is_default_constructible<T>::value,
                  "_typebuf holds plain elements");

public:
    _typebuf() = default;
    explicit _typebuf(long long n) { set(n); }
    _typebuf(const _typebuf& o) { copyFrom(o.data_, o.count_); }
    _typebuf(_typebuf&& o) noexcept : data_(o.data_), count_(o.count_) {
        o.data_ = nullptr;
        o.count_ = 0;
    }
    _typebuf& operator=(const _typebuf& o) {
        if (this != &o) copyFrom(o.data_, o.count_);
        return *this;
    }
    _typebuf& operator=(_typebuf&& o) noexcept {
        if (this != &o) {
            delete[] data_;
            data_ = o.data_;
            count_ = o.count_;
            o.data_ = nullptr;
            o.count_ = 0;
        }
        return *this;
    }
    ~_typebuf() { delete[] data_; }

    // Discards the contents and allocates n unset elements; n <= 0 empties.
    void set(long long n) {
        free();
        if (n <= 0) return;
        data_ = new T[qor_detail::checkedUnits(n, sizeof(T))];
        count_ = n;
    }

    // Resizes keeping the first min(count, n) elements; the rest are unset.
    // The new array is allocated before anything is freed, so a failure leaves
    // the buffer as it was.
    void reset(long long n) {
        if (n == count_) return;
        if (n < 1) {
            free();
            return;
        }
        T* fresh = new T[qor_detail::checkedUnits(n, sizeof(T))];
        if (count_ > 0) std::memcpy(static_cast<void*>(fresh), data_, static_cast<std::size_t>(std::min(count_, n)) * sizeof(T));
        delete[] data_;
        data_ = fresh;
        count_ = n;
    }

    // Counts only the first n elements (0 to count) without moving them, as
    // a vector keeps its capacity: the array stays allocated whole until it
    // is freed, and the elements past n are no longer part of the buffer.
    void truncate(long long n) {
        if (n <= 0) {
            free();
            return;
        }
        if (n < count_) count_ = n;
    }

    // Replaces the contents with a copy of n elements at src (which may lie
    // inside this buffer: the copy is made before the old array is freed).
    void copyFrom(const T* src, long long n) {
        if (!src || n <= 0) {
            free();
            return;
        }
        T* fresh = new T[qor_detail::checkedUnits(n, sizeof(T))];
        std::memcpy(static_cast<void*>(fresh), src, static_cast<std::size_t>(n) * sizeof(T));
        delete[] data_;
        data_ = fresh;
        count_ = n;
    }

    T& operator[](long long i) {
        if (i < 0 || i >= count_) qor_detail::throwTypebufOutOfBounds();
        return data_[i];
    }
    const T& operator[](long long i) const {
        if (i < 0 || i >= count_) qor_detail::throwTypebufOutOfBounds();
        return data_[i];
    }

    T* data() const { return data_; }
    long long count() const { return count_; }
    std::size_t bytes() const { return static_cast<std::size_t>(count_) * sizeof(T); }
    bool empty() const { return count_ == 0; }
    T* begin() const { return data_; }
    T* end() const { return data_ + count_; }

    // Hands the array over to the caller, who frees it with delete[].
    T* release() {
        T* d = data_;
        data_ = nullptr;
        count_ = 0;
        return d;
    }
    void swap(_typebuf& o) noexcept {
        std::swap(data_, o.data_);
        std::swap(count_, o.count_);
    }

private:
    void free() {
        delete[] data_;
        data_ = nullptr;
        count_ = 0;
    }

    T* data_ = nullptr;
    long long count_ = 0;
};

// ---------------------------------------------------------------------------

template <typename T>
class _classbuf {
public:
    _classbuf() = default;
    explicit _classbuf(long long n) { set(n); }
    _classbuf(const _classbuf&) = delete;
    _classbuf& operator=(const _classbuf&) = delete;
    _classbuf(_classbuf&& o) noexcept : items_(o.items_), count_(o.count_) {
        o.items_ = nullptr;
        o.count_ = 0;
    }
    _classbuf& operator=(_classbuf&& o) noexcept {
        if (this != &o) {
            dispose();
            items_ = o.items_;
            count_ = o.count_;
            o.items_ = nullptr;
            o.count_ = 0;
        }
        return *this;
    }
    ~_classbuf() { dispose(); }

    // Destroys the old objects, then constructs n new ones.
    void set(long long n) {
        dispose();
        if (n <= 0) return;
        // The cap leaves room for the array header that new[] adds.
        items_ = new T[qor_detail::checkedUnits(n, sizeof(T))];
        count_ = n;
    }

    // Destroys the objects from the last to the first (as delete[] does).
    void dispose() {
        if (!items_) return;
        delete[] items_;
        items_ = nullptr;
        count_ = 0;
    }

    T& operator[](long long i) {
        if (i < 0 || i >= count_) qor_detail::throwClassbufOutOfBounds();
        return items_[i];
    }
    const T& operator[](long long i) const {
        if (i < 0 || i >= count_) qor_detail::throwClassbufOutOfBounds();
        return items_[i];
    }

    T* items() const { return items_; }
    long long count() const { return count_; }
    bool empty() const { return count_ == 0; }
    T* begin() const { return items_; }
    T* end() const { return items_ + count_; }
    void swap(_classbuf& o) noexcept {
        std::swap(items_, o.items_);
        std::swap(count_, o.count_);
    }

private:
    T* items_ = nullptr;
    long long count_ = 0;
};

// ---------------------------------------------------------------------------

template <typename T>
class cPtr {
public:
    cPtr() = default;
    explicit cPtr(T* p) : ptr_(p) {}
    cPtr(const cPtr&) = delete;
    cPtr& operator=(const cPtr&) = delete;
    cPtr(cPtr&& o) noexcept : ptr_(o.ptr_) { o.ptr_ = nullptr; }
    cPtr& operator=(cPtr&& o) noexcept {
        if (this != &o) {
            T* p = o.ptr_;
            o.ptr_ = nullptr;
            *this = p;
        }
        return *this;
    }
    ~cPtr() { delete ptr_; }

    // Deletes the held object and holds q.  Assigning the object already held
    // keeps it: deleting it would leave the pointer dangling.
    T* operator=(T* q) {
        if (q == ptr_) return q;
        T* old = ptr_;
        ptr_ = q;
        delete old;
        return q;
    }

    T* get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    T& operator*() const { return *ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }
    operator T*() const { return ptr_; }

    // Gives up ownership without deleting.
    T* release() {
        T* p = ptr_;
        ptr_ = nullptr;
        return p;
    }

private:
    T* ptr_ = nullptr;
};
