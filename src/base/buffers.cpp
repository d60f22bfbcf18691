#include "base/buffers.h"

#include "base/cpufeatures.h"
#include "base/exception.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#if defined(__x86_64__)
#include <immintrin.h>
#endif
#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace qor_detail {

// The file and line numbers are part of the exception's contract: callers and
// logs identify the failing check by them.
void throwTypebufOutOfBounds() {
    throw cException("src/base/buffers", 17, 0, "_typebuf::Out of bounds");
}

void throwClassbufOutOfBounds() {
    throw cException("src/base/buffers", 157, 0, "_classbuf::Out of bounds");
}

namespace {

std::atomic<int> gFreshPages{static_cast<int>(eFreshPages::chosen)};

}  // namespace

unsigned char widestSmallCopy() {
#if defined(__x86_64__)
    if (qor_cpu::hasAvx512vl()) return kSmallCopyEvex;
    if (qor_cpu::hasAvx2()) return kSmallCopyAvx;
#endif
    return kSmallCopySse;
}

bool longCopyByVectorLoop() {
#if defined(__x86_64__)
    // An Intel processor with a fast string move copies as fast with memcpy,
    // which starts the string move on a cache line (Emerald Rapids, 4 KiB
    // from a 64 MiB stream: the 32-byte loop took 3 to 15% longer), unless
    // it has AVX-512 for the 64-byte loop, which copyLongVector takes where
    // it is the faster.
    return longCopyLoopWide() || (qor_cpu::hasAvx2() && !qor_cpu::hasFastStringMove());
#else
    return false;
#endif
}

bool longCopyLoopWide() {
#if defined(__x86_64__)
    return qor_cpu::hasAvx512bw() && qor_cpu::hasFastStringMove();
#else
    return false;
#endif
}

unsigned char gSmallCopyWidth = widestSmallCopy();
bool gLongCopyByVectorLoop = longCopyByVectorLoop();
bool gLongCopyLoopWide = longCopyLoopWide();

#if defined(__x86_64__)
namespace {

// The first and the last 64 bytes with unaligned stores; between them
// stores on the destination's cache lines, four a step while four fit
// before the last 64 bytes, then one at a time (n is at least 128).
__attribute__((target("avx512f"))) void copyLongVector64(unsigned char* d, const unsigned char* s, std::size_t n) {
    const __m512i head = _mm512_loadu_si512(s);
    const __m512i tail = _mm512_loadu_si512(s + n - 64);
    const std::size_t end = n - 64;
    std::size_t i = 64 - (reinterpret_cast<std::uintptr_t>(d) & 63);
    for (; i + 256 <= end; i += 256) {
        const __m512i a = _mm512_loadu_si512(s + i);
        const __m512i b = _mm512_loadu_si512(s + i + 64);
        const __m512i c = _mm512_loadu_si512(s + i + 128);
        const __m512i e = _mm512_loadu_si512(s + i + 192);
        _mm512_store_si512(d + i, a);
        _mm512_store_si512(d + i + 64, b);
        _mm512_store_si512(d + i + 128, c);
        _mm512_store_si512(d + i + 192, e);
    }
    for (; i < end; i += 64) _mm512_store_si512(d + i, _mm512_loadu_si512(s + i));
    _mm512_storeu_si512(d, head);
    _mm512_storeu_si512(d + end, tail);
}

// From this many bytes the string move copies faster than moves of vector
// registers do.
constexpr std::size_t kStringMoveFrom = 2048;

// The processor's string move, started on a cache line of the destination:
// the first 64 bytes by two 32-byte moves, the rest by rep movsb from the
// destination's next cache line on (n at least 64).
__attribute__((target("avx2"))) void copyByStringMove(unsigned char* d, const unsigned char* s, std::size_t n) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 32));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), a);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + 32), b);
    const std::size_t skip = (0 - reinterpret_cast<std::uintptr_t>(d)) & 63;
    d += skip;
    s += skip;
    n -= skip;
    __asm__ volatile("rep movsb" : "+D"(d), "+S"(s), "+c"(n) : : "memory");
}

}  // namespace

// Four 32-byte moves a step; the last step takes the last 128 bytes, over
// bytes already copied (n is at least 128).
__attribute__((target("avx2"))) void copyLongVector(unsigned char* d, const unsigned char* s, std::size_t n) {
    if (gLongCopyLoopWide) {
        // Only when source and destination lie the same way in a cache line,
        // so that no load or store straddles two: otherwise every 64-byte
        // access on one side would, where half the 32-byte ones of memcpy do
        // (4 KiB from random places of a 64 MiB stream: 2% slower).
        if (((reinterpret_cast<std::uintptr_t>(d) ^ reinterpret_cast<std::uintptr_t>(s)) & 63) == 0)
            copyLongVector64(d, s, n);
        else if (n >= kStringMoveFrom)
            copyByStringMove(d, s, n);
        else
            std::memcpy(d, s, n);
        return;
    }
    const std::size_t last = n - 128;
    for (std::size_t i = 0;; i += 128) {
        if (i > last) i = last;
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i + 32));
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i + 64));
        const __m256i e = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i + 96));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), a);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i + 32), b);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i + 64), c);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i + 96), e);
        if (i == last) return;
    }
}
#else
void copyLongVector(unsigned char* d, const unsigned char* s, std::size_t n) { std::memcpy(d, s, n); }
#endif

void setFreshPagesPolicy(eFreshPages policy) { gFreshPages.store(static_cast<int>(policy), std::memory_order_relaxed); }

namespace {

// Past this size a buffer gets small pages (see preferHugePages).
constexpr std::size_t kHugeLimit = std::size_t(128) << 20;

#if defined(__linux__)
struct sSpan {
    void* start = nullptr;
    std::size_t length = 0;
};

// The whole blocks of `block` bytes (a power of two) among `bytes` at p.
sSpan wholeBlocks(void* p, std::size_t bytes, std::uintptr_t block) {
    if (!p) return {};
    const std::uintptr_t start = (reinterpret_cast<std::uintptr_t>(p) + block - 1) & ~(block - 1);
    const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(p) + bytes) & ~(block - 1);
    if (end <= start) return {};
    return {reinterpret_cast<void*>(start), static_cast<std::size_t>(end - start)};
}

#if defined(MADV_HUGEPAGE)
// The whole 2 MiB blocks among `bytes` at p; none for a buffer under two
// blocks.
sSpan hugeSpan(void* p, std::size_t bytes) {
    constexpr std::uintptr_t kHuge = 2u << 20;
    return bytes < 2 * kHuge ? sSpan{} : wholeBlocks(p, bytes, kHuge);
}
#endif

// Faults in the pages of [p, p + bytes), page-aligned, with one call.
void populateWrite(void* p, std::size_t bytes) {
#ifndef MADV_POPULATE_WRITE
    constexpr int MADV_POPULATE_WRITE = 23;  // Linux 5.14; older kernels refuse it harmlessly
#endif
    madvise(p, bytes, MADV_POPULATE_WRITE);
}
#endif

}  // namespace

void preferHugePagesUnfilled(void* p, std::size_t bytes) {
    auto policy = static_cast<eFreshPages>(gFreshPages.load(std::memory_order_relaxed));
    if (policy == eFreshPages::plain || policy == eFreshPages::populate) return;
    // Under the chosen policy the first kHugeLimit bytes get huge pages, as
    // a buffer of that size would: what is written past them is a load that
    // large, which small pages serve better.
    if (policy == eFreshPages::chosen) bytes = std::min(bytes, kHugeLimit);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    const sSpan span = hugeSpan(p, bytes);
    if (span.length) madvise(span.start, span.length, MADV_HUGEPAGE);
#else
    (void)p;
#endif
}

void preferHugePages(void* p, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    const sSpan span = hugeSpan(p, bytes);
    if (!span.length) return;
    auto policy = static_cast<eFreshPages>(gFreshPages.load(std::memory_order_relaxed));
    // Huge pages cost a tenth of the kernel time of small ones when their
    // 2 MiB blocks were freed moments before, as in a process that loads
    // one large buffer after another.  A virtual machine whose balloon
    // reports free memory hands its idle 2 MiB blocks back to the host,
    // and the first write to such a block pays the host's faults for it:
    // a payload of 300 or 600 MiB loaded first in its process took 2.3 to
    // 3.4 ms a MiB in the kernel on huge pages against 0.5 to 0.75 on small
    // ones (45% more time in all); at 100 MiB they won and lost by turns,
    // and when the blocks were just freed huge pages win by a tenth.  Blocks
    // under 2 MiB are not handed back, so small pages stay cheap.  Past
    // kHugeLimit the pages are small and faulted in with one call.
    if (policy == eFreshPages::chosen) policy = bytes <= kHugeLimit ? eFreshPages::huge : eFreshPages::populate;
    if (policy == eFreshPages::huge || policy == eFreshPages::hugePopulate)
        madvise(span.start, span.length, MADV_HUGEPAGE);
    if (policy == eFreshPages::populate || policy == eFreshPages::hugePopulate) populateWrite(span.start, span.length);
#else
    (void)p;
    (void)bytes;
#endif
}

void faultInPages(void* p, std::size_t bytes) {
#if defined(__linux__)
    auto policy = static_cast<eFreshPages>(gFreshPages.load(std::memory_order_relaxed));
    if (policy == eFreshPages::plain || policy == eFreshPages::huge) return;
    const sSpan span = wholeBlocks(p, bytes, static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE)));
    if (span.length) populateWrite(span.start, span.length);
#else
    (void)p;
    (void)bytes;
#endif
}

}  // namespace qor_detail
