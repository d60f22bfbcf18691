// LZW decoding throughput: cLZWDecompress against a textbook decoder (the
// prefix/suffix table walked backwards through a stack, as most GIF readers
// do it) on the same GIF-flavoured data, in the same run.
#include "base/buffers.h"
#include "compression/lzw.h"

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr std::size_t kPlainBytes = 64u << 20;
constexpr int kCodeSize = 8;

// Picture-like indices: runs of one value with stretches of noise between.
std::vector<unsigned char> pictureData(std::size_t n) {
    std::vector<unsigned char> v;
    v.reserve(n);
    std::uint64_t x = 0x2545F4914F6CDD1Dull;
    auto next = [&x] {
        x ^= x >> 12;
        x ^= x << 25;
        x ^= x >> 27;
        return x * 0x2545F4914F6CDD1Dull;
    };
    while (v.size() < n) {
        const std::uint64_t r = next();
        const std::size_t len = std::min<std::size_t>(1 + (r >> 8) % 40, n - v.size());
        if ((r & 3) == 0) {
            for (std::size_t i = 0; i < len; ++i) v.push_back(static_cast<unsigned char>(next() >> 56));
        } else {
            v.insert(v.end(), len, static_cast<unsigned char>(r >> 40));
        }
    }
    return v;
}

// GIF-flavoured LZW (codes least significant bit first, clear code when the
// table is full), with a child table per code.
std::vector<unsigned char> encode(const std::vector<unsigned char>& data) {
    const unsigned clear = 1u << kCodeSize, end = clear + 1;
    std::vector<std::uint16_t> child(4096 * 256, 0);
    std::vector<unsigned char> out;
    std::uint64_t acc = 0;
    int bits = 0, width = kCodeSize + 1;
    unsigned next = end + 1;
    auto emit = [&](unsigned code) {
        acc |= static_cast<std::uint64_t>(code) << bits;
        bits += width;
        while (bits >= 8) {
            out.push_back(static_cast<unsigned char>(acc));
            acc >>= 8;
            bits -= 8;
        }
    };
    emit(clear);
    unsigned w = data[0];
    for (std::size_t i = 1; i < data.size(); ++i) {
        const unsigned char c = data[i];
        if (const std::uint16_t k = child[w * 256 + c]) {
            w = k;
            continue;
        }
        emit(w);
        if (next < 4096) {
            child[w * 256 + c] = static_cast<std::uint16_t>(next++);
            if (next > (1u << width) && width < 12) ++width;
        } else {
            emit(clear);
            std::fill(child.begin(), child.end(), 0);
            next = end + 1;
            width = kCodeSize + 1;
        }
        w = c;
    }
    emit(w);
    emit(end);
    if (bits) out.push_back(static_cast<unsigned char>(acc));
    return out;
}

struct Data {
    Data() : plain(pictureData(kPlainBytes)), lzw(encode(plain)) { in.copyFrom(lzw.data(), static_cast<long long>(lzw.size())); }
    std::vector<unsigned char> plain, lzw;
    _typebuf<unsigned char> in;
};

// A decode of the 64 MiB takes about a third of a second: left to its
// default half second, the library timed one or two iterations, and the
// ratio of a round stood on a single decode of each side.  Three seconds
// give each side about ten.
constexpr double kMinSeconds = 3.0;

const Data& data() {
    static const Data d;
    return d;
}

// The textbook decoder: strings are walked from their last byte to their
// first through prefix links and reversed on a stack.
std::size_t referenceDecode(const unsigned char* in, std::size_t n, unsigned char* out, std::size_t cap) {
    static std::uint16_t prefix[4096];
    static unsigned char suffix[4096];
    unsigned char stack[4097];
    const unsigned clear = 1u << kCodeSize, end = clear + 1;
    unsigned next = end + 1, width = kCodeSize + 1;
    int old = -1;
    unsigned char first = 0;
    std::uint64_t acc = 0;
    unsigned bits = 0;
    std::size_t pos = 0, o = 0;
    for (;;) {
        while (bits < width && pos < n) {
            acc |= static_cast<std::uint64_t>(in[pos++]) << bits;
            bits += 8;
        }
        if (bits < width) break;
        const unsigned code = static_cast<unsigned>(acc & ((1u << width) - 1));
        acc >>= width;
        bits -= width;
        if (code == clear) {
            next = end + 1;
            width = kCodeSize + 1;
            old = -1;
            continue;
        }
        if (code == end) break;
        if (old < 0) {
            if (o < cap) out[o++] = static_cast<unsigned char>(code);
            old = static_cast<int>(code);
            first = static_cast<unsigned char>(code);
            continue;
        }
        unsigned c = code;
        int sp = 0;
        if (code >= next) {
            stack[sp++] = first;
            c = static_cast<unsigned>(old);
        }
        while (c >= clear) {
            stack[sp++] = suffix[c];
            c = prefix[c];
        }
        first = static_cast<unsigned char>(c);
        stack[sp++] = first;
        while (sp > 0 && o < cap) out[o++] = stack[--sp];
        if (next < 4096) {
            prefix[next] = static_cast<std::uint16_t>(old);
            suffix[next] = first;
            if (++next == (1u << width) && width < 12) ++width;
        }
        old = static_cast<int>(code);
    }
    return o;
}

// The buffers of the growing reference get the page policy the library's
// output gets (qor_detail::preferHugePages: huge pages for the 2 MiB blocks
// of a large buffer).  With plain pages on one side and huge pages on the
// other, the pair measured the host more than the decoders: a huge page's
// first write costs little when its block was freed moments before and
// several times more when the host had taken the block back, and which it
// was changed from run to run (ours / reference 0.69 to 1.40).
template <class T>
struct sHintedAllocator {
    using value_type = T;
    sHintedAllocator() = default;
    template <class U>
    sHintedAllocator(const sHintedAllocator<U>&) {}
    T* allocate(std::size_t n) {
        T* p = std::allocator<T>().allocate(n);
        qor_detail::preferHugePages(p, n * sizeof(T));
        return p;
    }
    void deallocate(T* p, std::size_t n) { std::allocator<T>().deallocate(p, n); }
    template <class U>
    bool operator==(const sHintedAllocator<U>&) const { return true; }
    template <class U>
    bool operator!=(const sHintedAllocator<U>&) const { return false; }
};
using tGrowingBytes = std::vector<unsigned char, sHintedAllocator<unsigned char> >;

// The textbook decoder with a growing output, for a reader that does not
// know the size: the same stack walk, bytes appended to a vector.
std::size_t referenceDecodeGrowing(const unsigned char* in, std::size_t n, tGrowingBytes& out) {
    static std::uint16_t prefix[4096];
    static unsigned char suffix[4096];
    unsigned char stack[4097];
    const unsigned clear = 1u << kCodeSize, end = clear + 1;
    unsigned next = end + 1, width = kCodeSize + 1;
    int old = -1;
    unsigned char first = 0;
    std::uint64_t acc = 0;
    unsigned bits = 0;
    std::size_t pos = 0;
    for (;;) {
        while (bits < width && pos < n) {
            acc |= static_cast<std::uint64_t>(in[pos++]) << bits;
            bits += 8;
        }
        if (bits < width) break;
        const unsigned code = static_cast<unsigned>(acc & ((1u << width) - 1));
        acc >>= width;
        bits -= width;
        if (code == clear) {
            next = end + 1;
            width = kCodeSize + 1;
            old = -1;
            continue;
        }
        if (code == end) break;
        if (old < 0) {
            out.push_back(static_cast<unsigned char>(code));
            old = static_cast<int>(code);
            first = static_cast<unsigned char>(code);
            continue;
        }
        unsigned c = code;
        int sp = 0;
        if (code >= next) {
            stack[sp++] = first;
            c = static_cast<unsigned>(old);
        }
        while (c >= clear) {
            stack[sp++] = suffix[c];
            c = prefix[c];
        }
        first = static_cast<unsigned char>(c);
        stack[sp++] = first;
        while (sp > 0) out.push_back(stack[--sp]);
        if (next < 4096) {
            prefix[next] = static_cast<std::uint16_t>(old);
            suffix[next] = first;
            if (++next == (1u << width) && width < 12) ++width;
        }
        old = static_cast<int>(code);
    }
    return out.size();
}

// Told the size (as a GIF or TIFF reader knows it): the reference decodes
// into a buffer of that size, fresh for each picture as ours is, and once
// more into one buffer reused from picture to picture.
void BM_LzwSizeKnown_Reference_Fresh(benchmark::State& state) {
    const Data& d = data();
    for (auto _ : state) {
        std::unique_ptr<unsigned char[]> out(new unsigned char[kPlainBytes]);
        if (referenceDecode(d.lzw.data(), d.lzw.size(), out.get(), kPlainBytes) != kPlainBytes) std::abort();
        benchmark::DoNotOptimize(out.get());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kPlainBytes));
}
BENCHMARK(BM_LzwSizeKnown_Reference_Fresh)->Unit(benchmark::kMillisecond)->MinTime(kMinSeconds);

void BM_LzwSizeKnown_Reference_Reused(benchmark::State& state) {
    const Data& d = data();
    std::vector<unsigned char> out(kPlainBytes);
    for (auto _ : state) {
        if (referenceDecode(d.lzw.data(), d.lzw.size(), out.data(), out.size()) != kPlainBytes) std::abort();
        benchmark::DoNotOptimize(out.data());
    }
    if (out != d.plain) std::abort();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kPlainBytes));
}
BENCHMARK(BM_LzwSizeKnown_Reference_Reused)->Unit(benchmark::kMillisecond)->MinTime(kMinSeconds);

void BM_LzwSizeKnown_Qor(benchmark::State& state) {
    const Data& d = data();
    for (auto _ : state) {
        cLZWDecompress lzw(false, kCodeSize + 1, false);
        lzw.setOutputLimit(kPlainBytes);
        _typebuf<unsigned char> out;
        if (!lzw.decompress(d.in, out) || out.count() != static_cast<long long>(kPlainBytes)) std::abort();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kPlainBytes));
}
BENCHMARK(BM_LzwSizeKnown_Qor)->Unit(benchmark::kMillisecond)->MinTime(kMinSeconds);

// What one decode costs the kernel, as counters: the page faults taken and
// the system CPU time, per iteration.
class cKernelCost {
public:
    cKernelCost() { getrusage(RUSAGE_SELF, &start_); }
    void report(benchmark::State& state) const {
        rusage end{};
        getrusage(RUSAGE_SELF, &end);
        const double n = static_cast<double>(state.iterations());
        auto us = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_usec); };
        state.counters["faults"] = static_cast<double>(end.ru_minflt - start_.ru_minflt) / n;
        state.counters["sys_ms"] = (us(end.ru_stime) - us(start_.ru_stime)) / 1e3 / n;
    }

private:
    rusage start_{};
};

// Not told the size: the reference appends to a vector that grows by
// doubling (from one byte, moving its bytes each time), ours starts from
// room for eight bytes an input byte and doubles that when it is full
// (here the room suffices: the data decodes to 1.7 bytes an input byte).
// Both hand back the one buffer they wrote, its unused room kept as a
// vector keeps its capacity, and both buffers take the library's page
// policy.  The counters give each side's page faults and system time per
// decode.
void BM_LzwSizeUnknown_Reference(benchmark::State& state) {
    const Data& d = data();
    const cKernelCost cost;
    for (auto _ : state) {
        tGrowingBytes out;
        if (referenceDecodeGrowing(d.lzw.data(), d.lzw.size(), out) != kPlainBytes) std::abort();
        benchmark::DoNotOptimize(out.data());
    }
    cost.report(state);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kPlainBytes));
}
BENCHMARK(BM_LzwSizeUnknown_Reference)->Unit(benchmark::kMillisecond)->MinTime(kMinSeconds);

void BM_LzwSizeUnknown_Qor(benchmark::State& state) {
    const Data& d = data();
    const cKernelCost cost;
    for (auto _ : state) {
        cLZWDecompress lzw(false, kCodeSize + 1, false);
        _typebuf<unsigned char> out;
        if (!lzw.decompress(d.in, out) || out.count() != static_cast<long long>(kPlainBytes)) std::abort();
        benchmark::DoNotOptimize(out.data());
    }
    cost.report(state);
    state.counters["in_MiB"] = static_cast<double>(d.lzw.size()) / (1 << 20);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kPlainBytes));
}
BENCHMARK(BM_LzwSizeUnknown_Qor)->Unit(benchmark::kMillisecond)->MinTime(kMinSeconds);

}  // namespace

BENCHMARK_MAIN();
