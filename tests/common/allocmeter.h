// Counts what the heap hands out while a test runs: every allocation of the
// process, those of the libraries behind our code included (libtiff,
// OpenJPEG, jbig2dec, LibRaw allocate with malloc, out of our reach).
//
//     qortest::AllocMeter meter;
//     decodeSomething();
//     EXPECT_LE(meter.peak(), 64 << 20);   // the most held at once since
//
// The counting hooks are defined here, so exactly one source file of a test
// program includes this header.  Under AddressSanitizer or
// ThreadSanitizer they are the sanitizer's allocation hooks; elsewhere they
// are the C library's allocation functions, replaced by ones that count and
// hand on to glibc's own (glibc lets a program replace them, and its own
// calls go through the replacement too).
#pragma once

#include <atomic>
#include <cstddef>

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QORTEST_SANITIZER_HEAP 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QORTEST_SANITIZER_HEAP 1
#endif

#ifdef QORTEST_SANITIZER_HEAP
// The sanitizers' allocator interface (GCC ships the runtime, not this
// header).
extern "C" {
std::size_t __sanitizer_get_allocated_size(const volatile void* p);
int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*, std::size_t),
                                              void (*free_hook)(const volatile void*));
}
#else
#include <malloc.h>
#endif

namespace qortest {

namespace allocmeter_detail {
inline std::atomic<long long> gHeld{0};
inline std::atomic<long long> gPeak{0};
inline std::atomic<long long> gLargest{0};
inline std::atomic<long long> gCount{0};
inline std::atomic<long long> gTotal{0};

inline void raise(std::atomic<long long>& v, long long to) {
    long long seen = v.load(std::memory_order_relaxed);
    while (to > seen && !v.compare_exchange_weak(seen, to, std::memory_order_relaxed)) {
    }
}

inline void took(long long bytes) {
    const long long held = gHeld.fetch_add(bytes, std::memory_order_relaxed) + bytes;
    raise(gPeak, held);
    raise(gLargest, bytes);
    gCount.fetch_add(1, std::memory_order_relaxed);
    gTotal.fetch_add(bytes, std::memory_order_relaxed);
}

inline void gave(long long bytes) { gHeld.fetch_sub(bytes, std::memory_order_relaxed); }
}  // namespace allocmeter_detail

// From its construction on: the most bytes held at once above what was held
// then, the bytes held now above it (below 0 once more was freed than
// taken), the largest single allocation, how many allocations there were
// and how many bytes they took in all (work that copies a growing value
// over and over shows there, not in the peak).  One meter at a time.
class AllocMeter {
public:
    AllocMeter() { restart(); }
    void restart() {
        using namespace allocmeter_detail;
        base_ = gHeld.load(std::memory_order_relaxed);
        gPeak.store(base_, std::memory_order_relaxed);
        gLargest.store(0, std::memory_order_relaxed);
        count_ = gCount.load(std::memory_order_relaxed);
        total_ = gTotal.load(std::memory_order_relaxed);
    }
    long long peak() const { return allocmeter_detail::gPeak.load(std::memory_order_relaxed) - base_; }
    long long held() const { return allocmeter_detail::gHeld.load(std::memory_order_relaxed) - base_; }
    long long largest() const { return allocmeter_detail::gLargest.load(std::memory_order_relaxed); }
    long long count() const { return allocmeter_detail::gCount.load(std::memory_order_relaxed) - count_; }
    long long total() const { return allocmeter_detail::gTotal.load(std::memory_order_relaxed) - total_; }

private:
    long long base_ = 0;
    long long count_ = 0;
    long long total_ = 0;
};

}  // namespace qortest

#ifdef QORTEST_SANITIZER_HEAP

namespace {
void qortestMallocHook(const volatile void*, std::size_t size) {
    qortest::allocmeter_detail::took(static_cast<long long>(size));
}
void qortestFreeHook(const volatile void* p) {
    // Called before the block is released: its size is still known.
    if (p) qortest::allocmeter_detail::gave(static_cast<long long>(__sanitizer_get_allocated_size(p)));
}
struct sInstallHooks {
    sInstallHooks() { __sanitizer_install_malloc_and_free_hooks(qortestMallocHook, qortestFreeHook); }
} const gInstallHooks;
}  // namespace

#else

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void __libc_free(void*);

namespace {
inline void* qortestCounted(void* p) {
    if (p) qortest::allocmeter_detail::took(static_cast<long long>(malloc_usable_size(p)));
    return p;
}
}  // namespace

void* malloc(std::size_t n) { return qortestCounted(__libc_malloc(n)); }
void* calloc(std::size_t n, std::size_t size) { return qortestCounted(__libc_calloc(n, size)); }
void free(void* p) {
    if (!p) return;
    qortest::allocmeter_detail::gave(static_cast<long long>(malloc_usable_size(p)));
    __libc_free(p);
}
void* realloc(void* p, std::size_t n) {
    const long long before = p ? static_cast<long long>(malloc_usable_size(p)) : 0;
    void* q = __libc_realloc(p, n);
    // A failed realloc keeps the old block; one to size 0 may free it.
    if (!q) {
        if (p && n == 0) qortest::allocmeter_detail::gave(before);
        return q;
    }
    qortest::allocmeter_detail::gave(before);
    return qortestCounted(q);
}
void* memalign(std::size_t align, std::size_t n) { return qortestCounted(__libc_memalign(align, n)); }
void* aligned_alloc(std::size_t align, std::size_t n) { return qortestCounted(__libc_memalign(align, n)); }
int posix_memalign(void** out, std::size_t align, std::size_t n) {
    if (align < sizeof(void*) || (align & (align - 1)) != 0) return 22;  // EINVAL
    void* p = qortestCounted(__libc_memalign(align, n));
    if (!p) return 12;  // ENOMEM
    *out = p;
    return 0;
}
void* valloc(std::size_t n) { return qortestCounted(__libc_memalign(4096, n)); }
void* pvalloc(std::size_t n) { return qortestCounted(__libc_memalign(4096, (n + 4095) & ~std::size_t(4095))); }
}  // extern "C"

#endif
