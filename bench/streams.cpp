// Streams against what a user would otherwise pick, in the same run:
//  - cFileIO against read/write/pread, stdio and fstream on a file in the
//    page cache;
//  - cMemIOTarget against std::vector<char> appends and plain memcpy reads;
//  - cMemBufferedIO over cFileIO against stdio's and fstream's own buffering
//    for small reads, and against pread for random ones.
#include "base/fileio.h"
#include "base/memio.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <malloc.h>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kFileBytes = 64u << 20;

// One 64 MiB file of pseudo-random bytes shared by the read benchmarks,
// removed when the program ends.
struct SourceFile {
    SourceFile() {
        const char* base = std::getenv("TMPDIR");
        path = std::string(base && *base ? base : "/tmp") + "/qorbench.XXXXXX";
        int fd = ::mkstemp(path.data());
        if (fd < 0) std::abort();
        std::vector<char> chunk(1 << 20);
        std::mt19937 rng(42);
        for (std::size_t done = 0; done < kFileBytes; done += chunk.size()) {
            for (auto& c : chunk) c = static_cast<char>(rng());
            if (::write(fd, chunk.data(), chunk.size()) != static_cast<ssize_t>(chunk.size())) std::abort();
        }
        ::close(fd);
    }
    ~SourceFile() { ::unlink(path.c_str()); }
    std::string path;
};

const std::string& sourceFile() {
    static const SourceFile file;
    return file.path;
}

std::string scratchFile() {
    static const std::string path = sourceFile() + ".out";
    return path;
}

std::vector<unsigned long long> randomOffsets(std::size_t count, std::size_t span, std::size_t block) {
    std::mt19937_64 rng(7);
    std::vector<unsigned long long> v(count);
    for (auto& o : v) o = rng() % (span - block);
    return v;
}

// A benchmark's buffer, `offset` bytes past a boundary of `align` bytes.  A
// copy's speed depends on where its source and destination lie (the
// kernel's copy on the place in a page, memcpy's on the place in a cache
// line), and heap blocks land wherever the allocations before them left
// off, differently for each benchmark: so both sides of a pair get their
// buffers from here.
class AlignedBuffer {
public:
    AlignedBuffer(std::size_t n, std::size_t align, std::size_t offset, char fill)
        : block_(static_cast<char*>(std::aligned_alloc(align, (n + offset + align - 1) / align * align))) {
        if (!block_) std::abort();
        std::memset(block_ + offset, fill, n);
        start_ = block_ + offset;
    }
    ~AlignedBuffer() { std::free(block_); }
    AlignedBuffer(const AlignedBuffer&) = delete;
    AlignedBuffer& operator=(const AlignedBuffer&) = delete;
    char* data() const { return start_; }

private:
    char* block_;
    char* start_;
};

// Every file benchmark, ours and the reference alike, reads into or writes
// from a page-aligned block.
struct PageBuffer : AlignedBuffer {
    explicit PageBuffer(std::size_t n, char fill = 0) : AlignedBuffer(n, 4096, 0, fill) {}
};

// ---------------------------------------------------------------------------
// Sequential file reads, 64 KiB at a time

void BM_FileSeqRead_cFileIO(benchmark::State& state) {
    const unsigned int block = static_cast<unsigned int>(state.range(0));
    PageBuffer buf(block);
    cFileIO f;
    if (!f.open(sourceFile().c_str(), fmRead)) state.SkipWithError("open");
    for (auto _ : state) {
        f.set_fp(0);
        while (f.read(buf.data(), block) == block) {
        }
        benchmark::DoNotOptimize(buf.data());
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * kFileBytes);
}

void BM_FileSeqRead_posix(benchmark::State& state) {
    const std::size_t block = static_cast<std::size_t>(state.range(0));
    PageBuffer buf(block);
    int fd = ::open(sourceFile().c_str(), O_RDONLY);
    for (auto _ : state) {
        ::lseek(fd, 0, SEEK_SET);
        while (::read(fd, buf.data(), block) == static_cast<ssize_t>(block)) {
        }
        benchmark::DoNotOptimize(buf.data());
    }
    ::close(fd);
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * kFileBytes);
}

void BM_FileSeqRead_stdio(benchmark::State& state) {
    const std::size_t block = static_cast<std::size_t>(state.range(0));
    PageBuffer buf(block);
    FILE* fp = std::fopen(sourceFile().c_str(), "rb");
    for (auto _ : state) {
        std::fseek(fp, 0, SEEK_SET);
        while (std::fread(buf.data(), 1, block, fp) == block) {
        }
        benchmark::DoNotOptimize(buf.data());
    }
    std::fclose(fp);
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * kFileBytes);
}

void BM_FileSeqRead_fstream(benchmark::State& state) {
    const std::size_t block = static_cast<std::size_t>(state.range(0));
    PageBuffer buf(block);
    std::ifstream in(sourceFile(), std::ios::binary);
    for (auto _ : state) {
        in.clear();
        in.seekg(0);
        while (in.read(buf.data(), static_cast<std::streamsize>(block))) {
        }
        benchmark::DoNotOptimize(buf.data());
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * kFileBytes);
}

// ---------------------------------------------------------------------------
// Random 4 KiB file reads

constexpr std::size_t kRandomReads = 4096;

// Random reads with set_fp and read, or with readAt, which goes to pread
// without noting a position.
template <bool kSeek>
void fileRandomReads(benchmark::State& state) {
    const unsigned int block = static_cast<unsigned int>(state.range(0));
    auto offs = randomOffsets(kRandomReads, kFileBytes, block);
    PageBuffer buf(block);
    cFileIO f;
    f.open(sourceFile().c_str(), fmRead);
    for (auto _ : state) {
        for (auto o : offs) {
            if (kSeek) {
                f.set_fp(o);
                f.read(buf.data(), block);
            } else {
                benchmark::DoNotOptimize(f.readAt(o, buf.data(), block));
            }
        }
        benchmark::DoNotOptimize(buf.data());
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * kRandomReads * block);
}

void BM_FileRandomRead_cFileIO(benchmark::State& state) { fileRandomReads<true>(state); }
void BM_FileRandomReadAt_cFileIO(benchmark::State& state) { fileRandomReads<false>(state); }

void BM_FileRandomRead_pread(benchmark::State& state) {
    const std::size_t block = static_cast<std::size_t>(state.range(0));
    auto offs = randomOffsets(kRandomReads, kFileBytes, block);
    PageBuffer buf(block);
    int fd = ::open(sourceFile().c_str(), O_RDONLY);
    for (auto _ : state) {
        for (auto o : offs) benchmark::DoNotOptimize(::pread(fd, buf.data(), block, static_cast<off_t>(o)));
        benchmark::DoNotOptimize(buf.data());
    }
    ::close(fd);
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * kRandomReads * block);
}

void BM_FileRandomRead_cMemBufferedIO(benchmark::State& state) {
    const unsigned int block = static_cast<unsigned int>(state.range(0));
    auto offs = randomOffsets(kRandomReads, kFileBytes, block);
    PageBuffer buf(block);
    cFileIO f;
    f.open(sourceFile().c_str(), fmRead);
    cMemBufferedIO cache(&f, 4096);  // the JPEG 2000 reader's cache size
    for (auto _ : state) {
        for (auto o : offs) {
            cache.set_fp(o);
            cache.read(buf.data(), block);
        }
        benchmark::DoNotOptimize(buf.data());
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * kRandomReads * block);
}

// ---------------------------------------------------------------------------
// Small sequential reads through a buffer (a parser reading fields)

constexpr std::size_t kSmallReadBytes = 16u << 20;

void BM_SmallReads_cMemBufferedIO(benchmark::State& state) {
    const unsigned int field = static_cast<unsigned int>(state.range(0));
    char buf[16];
    cFileIO f;
    f.open(sourceFile().c_str(), fmRead);
    cMemBufferedIO cache(&f, 65536);
    for (auto _ : state) {
        cache.set_fp(0);
        for (std::size_t done = 0; done < kSmallReadBytes; done += field) cache.read(buf, field);
        benchmark::DoNotOptimize(buf);
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * kSmallReadBytes);
}

void BM_SmallReads_stdio(benchmark::State& state) {
    const std::size_t field = static_cast<std::size_t>(state.range(0));
    char buf[16];
    FILE* fp = std::fopen(sourceFile().c_str(), "rb");
    std::vector<char> vbuf(65536);
    std::setvbuf(fp, vbuf.data(), _IOFBF, vbuf.size());
    for (auto _ : state) {
        std::fseek(fp, 0, SEEK_SET);
        for (std::size_t done = 0; done < kSmallReadBytes; done += field) std::fread(buf, 1, field, fp);
        benchmark::DoNotOptimize(buf);
    }
    std::fclose(fp);
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * kSmallReadBytes);
}

void BM_SmallReads_fstream(benchmark::State& state) {
    const std::size_t field = static_cast<std::size_t>(state.range(0));
    char buf[16];
    std::ifstream in(sourceFile(), std::ios::binary);
    for (auto _ : state) {
        in.clear();
        in.seekg(0);
        for (std::size_t done = 0; done < kSmallReadBytes; done += field) in.read(buf, static_cast<std::streamsize>(field));
        benchmark::DoNotOptimize(buf);
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * kSmallReadBytes);
}

// ---------------------------------------------------------------------------
// Sequential file writes, 64 KiB at a time, 64 MiB per iteration
//
// Each benchmark empties its file before closing it.  On ext4 a file cut to
// zero and written again is flushed when it is closed, so the last
// iteration's 64 MiB would otherwise still be going to the disk while the
// next benchmark (in a random order, any of them) runs, and lands on
// whichever side of a pair runs then.

void BM_FileSeqWrite_cFileIO(benchmark::State& state) {
    const unsigned int block = static_cast<unsigned int>(state.range(0));
    PageBuffer buf(block, 'w');
    cFileIO f;
    f.create(scratchFile().c_str(), fmWrite);
    for (auto _ : state) {
        f.set_eof(0);
        f.set_fp(0);
        for (std::size_t done = 0; done < kFileBytes; done += block) f.write(buf.data(), block);
    }
    f.set_eof(0);
    f.close();
    cFileIO::remove(scratchFile().c_str());
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * kFileBytes);
}

void BM_FileSeqWrite_posix(benchmark::State& state) {
    const std::size_t block = static_cast<std::size_t>(state.range(0));
    PageBuffer buf(block, 'w');
    int fd = ::open(scratchFile().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (auto _ : state) {
        if (::ftruncate(fd, 0) != 0) state.SkipWithError("ftruncate");
        ::lseek(fd, 0, SEEK_SET);
        for (std::size_t done = 0; done < kFileBytes; done += block) benchmark::DoNotOptimize(::write(fd, buf.data(), block));
    }
    if (::ftruncate(fd, 0) != 0) state.SkipWithError("ftruncate");
    ::close(fd);
    ::unlink(scratchFile().c_str());
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * kFileBytes);
}

void BM_FileSeqWrite_stdio(benchmark::State& state) {
    const std::size_t block = static_cast<std::size_t>(state.range(0));
    PageBuffer buf(block, 'w');
    for (auto _ : state) {
        FILE* fp = std::fopen(scratchFile().c_str(), "wb");
        for (std::size_t done = 0; done < kFileBytes; done += block) std::fwrite(buf.data(), 1, block, fp);
        std::fclose(fp);
    }
    ::unlink(scratchFile().c_str());
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * kFileBytes);
}

// The buffers of the memory stream reads and of the buffer walks they are
// held against: the walk's 64 MiB vector started 16 bytes into a line, where
// the stream's pages start on one, and a 4 KiB destination could sit on a
// line on one side and 48 bytes into one on the other.  So both sides read
// from a block that starts on a cache line (as the stream's pages do) and
// write to a destination the same number of bytes into a line, 0 unless
// QOR_BENCH_DST_OFFSET says otherwise (0 to 63).
struct LineBuffer : AlignedBuffer {
    LineBuffer(std::size_t n, std::size_t offset, char fill) : AlignedBuffer(n, 64, offset, fill) {}
};

std::size_t destinationOffset() {
    const char* v = std::getenv("QOR_BENCH_DST_OFFSET");
    return v && *v ? static_cast<std::size_t>(std::strtoul(v, nullptr, 10) % 64) : 0;
}

// ---------------------------------------------------------------------------
// Building output in memory: 64 MiB in pieces

void BM_MemWrite_cMemIOTarget(benchmark::State& state) {
    const unsigned int piece = static_cast<unsigned int>(state.range(0));
    std::vector<char> buf(piece, 'm');
    for (auto _ : state) {
        cMemIOTarget m(65536);
        for (std::size_t done = 0; done < kFileBytes; done += piece) m.write(buf.data(), piece);
        benchmark::DoNotOptimize(m.size());
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * kFileBytes);
}

void BM_MemWrite_vector(benchmark::State& state) {
    const std::size_t piece = static_cast<std::size_t>(state.range(0));
    std::vector<char> buf(piece, 'm');
    for (auto _ : state) {
        std::vector<char> v;
        for (std::size_t done = 0; done < kFileBytes; done += piece) v.insert(v.end(), buf.begin(), buf.end());
        benchmark::DoNotOptimize(v.data());
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * kFileBytes);
}

// Reading back what was built, in pieces.
void BM_MemSeqRead_cMemIOTarget(benchmark::State& state) {
    const unsigned int piece = static_cast<unsigned int>(state.range(0));
    std::vector<char> fill(kFileBytes, 'r');
    cMemIOTarget m(65536);
    m.fromBuffer(fill.data(), static_cast<long long>(fill.size()));
    LineBuffer buf(piece, destinationOffset(), 0);
    for (auto _ : state) {
        m.set_fp(0);
        while (m.read(buf.data(), piece) == piece) {
        }
        benchmark::DoNotOptimize(buf.data());
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * kFileBytes);
}

void BM_MemSeqRead_vector(benchmark::State& state) {
    const std::size_t piece = static_cast<std::size_t>(state.range(0));
    LineBuffer v(kFileBytes, 0, 'r');
    LineBuffer buf(piece, destinationOffset(), 0);
    for (auto _ : state) {
        for (std::size_t at = 0; at + piece <= kFileBytes; at += piece) {
            std::memcpy(buf.data(), v.data() + at, piece);
            benchmark::ClobberMemory();
        }
        benchmark::DoNotOptimize(buf.data());
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * kFileBytes);
}

// Random reads of `piece` bytes (the benchmark's argument) at `reads` places
// of a 64 MiB stream, with readAt or with set_fp and read, and the same from
// a vector.
template <bool kSeek>
void streamRandomReads(benchmark::State& state, std::size_t reads) {
    const unsigned int piece = static_cast<unsigned int>(state.range(0));
    std::vector<char> fill(kFileBytes, 'r');
    cMemIOTarget m(65536);
    m.fromBuffer(fill.data(), static_cast<long long>(fill.size()));
    auto offs = randomOffsets(reads, kFileBytes, piece);
    LineBuffer buf(piece, destinationOffset(), 0);
    for (auto _ : state) {
        for (auto o : offs) {
            if (kSeek) {
                m.set_fp(o);
                m.read(buf.data(), piece);
            } else {
                m.readAt(o, buf.data(), piece);
            }
            benchmark::ClobberMemory();
        }
        benchmark::DoNotOptimize(buf.data());
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * static_cast<long long>(reads) * piece);
}

// What a reader that keeps its own place in a vector does for a seek and a
// read: the position is stored by the seek, checked against the size,
// stored again past the bytes read, and kept in memory, as a position that
// lives in an object other code can reach is (the escape below makes the
// compiler keep it there).  A stream's set_fp and read do this, so the
// seeking pairs hold them against it; the bare buffer walk stays as a row
// beside them.
class VectorCursor {
public:
    explicit VectorCursor(const char* data, std::size_t size) : data_(data), size_(size) {}
    void seek(std::size_t at) { pos_ = at < size_ ? at : size_; }
    std::size_t read(char* out, std::size_t n) {
        const std::size_t at = pos_;
        if (n > size_ - at) n = size_ - at;
        pos_ = at + n;
        std::memcpy(out, data_ + at, n);
        return n;
    }

private:
    const char* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// memcpy from the vector at each place, or (kCursor) a seek and a read of a
// VectorCursor over it.
template <bool kCursor>
void vectorRandomReads(benchmark::State& state, std::size_t reads) {
    const std::size_t piece = static_cast<std::size_t>(state.range(0));
    LineBuffer v(kFileBytes, 0, 'r');
    VectorCursor cursor(v.data(), kFileBytes);
    benchmark::DoNotOptimize(&cursor);
    auto offs = randomOffsets(reads, kFileBytes, piece);
    LineBuffer buf(piece, destinationOffset(), 0);
    for (auto _ : state) {
        for (auto o : offs) {
            if (kCursor) {
                cursor.seek(o);
                cursor.read(buf.data(), piece);
            } else {
                std::memcpy(buf.data(), v.data() + o, piece);
            }
            benchmark::ClobberMemory();
        }
        benchmark::DoNotOptimize(buf.data());
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * static_cast<long long>(reads * piece));
}

void BM_MemRandomRead_cMemIOTarget(benchmark::State& state) { streamRandomReads<true>(state, kRandomReads); }
void BM_MemRandomReadAt_cMemIOTarget(benchmark::State& state) { streamRandomReads<false>(state, kRandomReads); }
void BM_MemRandomRead_vector(benchmark::State& state) { vectorRandomReads<false>(state, kRandomReads); }
void BM_MemRandomRead_cursor(benchmark::State& state) { vectorRandomReads<true>(state, kRandomReads); }

// Random reads at a million places of a 64 MiB stream a round: unlike the
// 4096 places above, which stay in the caches from one round to the next
// (their bytes and the page-table entries that map them), nearly every read
// here misses the caches and the TLB.  Misses this independent overlap: the
// reads then take as long as the processor can keep enough of them in
// flight.  Every store waits behind the misses before it, so a store of a
// position costs more here than its instruction: in a standalone loop of
// such reads, each added about 2 ns to an 11 ns read.  A seek and a read of
// the stream store the position twice, as the compiler cannot drop the
// seek's store while the read's rare path (paged blocks, the end) is a call
// that may look at it; the cursor above, inlined whole, stores it once.
// readAt stores no position, which is why readers at random places use it.
constexpr std::size_t kColdReads = 1u << 20;

void BM_MemColdRandomRead_cMemIOTarget(benchmark::State& state) { streamRandomReads<true>(state, kColdReads); }
void BM_MemColdRandomReadAt_cMemIOTarget(benchmark::State& state) { streamRandomReads<false>(state, kColdReads); }
void BM_MemColdRandomRead_vector(benchmark::State& state) { vectorRandomReads<false>(state, kColdReads); }
void BM_MemColdRandomRead_cursor(benchmark::State& state) { vectorRandomReads<true>(state, kColdReads); }

// The same reference measured twice in one run, as if it were a pair: the
// spread of these rows is the noise the other rows of their kind carry.
void BM_FileRandomRead_pread_again(benchmark::State& state) { BM_FileRandomRead_pread(state); }
void BM_MemRandomRead_vector_again(benchmark::State& state) { BM_MemRandomRead_vector(state); }
void BM_MemColdRandomRead_vector_again(benchmark::State& state) { BM_MemColdRandomRead_vector(state); }

}  // namespace

BENCHMARK(BM_FileSeqRead_cFileIO)->Arg(65536);
BENCHMARK(BM_FileSeqRead_posix)->Arg(65536);
BENCHMARK(BM_FileSeqRead_stdio)->Arg(65536);
BENCHMARK(BM_FileSeqRead_fstream)->Arg(65536);

BENCHMARK(BM_FileRandomRead_cFileIO)->Arg(4096);
BENCHMARK(BM_FileRandomReadAt_cFileIO)->Arg(4096);
BENCHMARK(BM_FileRandomRead_pread)->Arg(4096);
BENCHMARK(BM_FileRandomRead_cMemBufferedIO)->Arg(4096);

BENCHMARK(BM_SmallReads_cMemBufferedIO)->Arg(1)->Arg(4)->Arg(16);
BENCHMARK(BM_SmallReads_stdio)->Arg(1)->Arg(4)->Arg(16);
BENCHMARK(BM_SmallReads_fstream)->Arg(1)->Arg(4)->Arg(16);

BENCHMARK(BM_FileSeqWrite_cFileIO)->Arg(65536);
BENCHMARK(BM_FileSeqWrite_posix)->Arg(65536);
BENCHMARK(BM_FileSeqWrite_stdio)->Arg(65536);

BENCHMARK(BM_MemWrite_cMemIOTarget)->Arg(16)->Arg(4096);
BENCHMARK(BM_MemWrite_vector)->Arg(16)->Arg(4096);
BENCHMARK(BM_MemSeqRead_cMemIOTarget)->Arg(16)->Arg(4096);
BENCHMARK(BM_MemSeqRead_vector)->Arg(16)->Arg(4096);
BENCHMARK(BM_MemRandomRead_cMemIOTarget)->Arg(64)->Arg(4096);
BENCHMARK(BM_MemRandomReadAt_cMemIOTarget)->Arg(64)->Arg(4096);
BENCHMARK(BM_MemRandomRead_vector)->Arg(64)->Arg(4096);
BENCHMARK(BM_MemRandomRead_cursor)->Arg(64)->Arg(4096);
BENCHMARK(BM_MemColdRandomRead_cMemIOTarget)->Arg(64);
BENCHMARK(BM_MemColdRandomReadAt_cMemIOTarget)->Arg(64);
BENCHMARK(BM_MemColdRandomRead_vector)->Arg(64);
BENCHMARK(BM_MemColdRandomRead_cursor)->Arg(64);
BENCHMARK(BM_FileRandomRead_pread_again)->Arg(4096);
BENCHMARK(BM_MemRandomRead_vector_again)->Arg(4096);
BENCHMARK(BM_MemColdRandomRead_vector_again)->Arg(64);

int main(int argc, char** argv) {
    // Keep freed memory in the process: otherwise whether the heap happens to
    // be trimmed between iterations decides the memory benchmarks (every
    // iteration then pays the kernel for zeroing fresh pages), and the
    // result swings several times over from one run to the next.  Both sides
    // of each comparison run under the same setting.
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    // QOR_BENCH_SMALL_COPY=0 holds the copy of 33 to 64 bytes to its four
    // 16-byte moves on a processor where the library takes 32-byte ones, so
    // that the pairs can set the two against each other.
    if (const char* w = std::getenv("QOR_BENCH_SMALL_COPY"))
        if (std::atoi(w) < qor_detail::gSmallCopyWidth) qor_detail::gSmallCopyWidth = static_cast<unsigned char>(std::atoi(w));
    // QOR_BENCH_LONG_COPY=memcpy sends the long copies to memcpy, whatever
    // loop the library chose.
    if (const char* w = std::getenv("QOR_BENCH_LONG_COPY"))
        if (std::strcmp(w, "memcpy") == 0) qor_detail::gLongCopyByVectorLoop = qor_detail::gLongCopyLoopWide = false;
    // QOR_BENCH_PAGES=plain leaves the memory stream's block on the small
    // pages the vectors it is held against have, where the library would ask
    // for huge ones.
    if (const char* w = std::getenv("QOR_BENCH_PAGES"))
        if (std::strcmp(w, "plain") == 0) qor_detail::setFreshPagesPolicy(qor_detail::eFreshPages::plain);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
