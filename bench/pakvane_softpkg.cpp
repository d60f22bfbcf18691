// The package item table against what a user would otherwise write, on the
// same 64 MiB of mixed files (text-like, binary records, random bytes that
// stand for already-compressed files), in the same run:
//  - packing the files into a table at level 9 (read, SHA-256, deflate,
//    collect) against zlib's compress2 at level 9 on the bytes in memory;
//    the parts of the packing time alone: reading the files, SHA-256,
//    packing from memory streams;
//  - loading a saved table and verifying every digest, against reading the
//    same table file whole and checking each record the plain way: its
//    bytes (inflated by libdeflate into a buffer of their plain size, for a
//    deflated record) hashed by OpenSSL's SHA-256.  Both sides run on the
//    calling thread alone, and both twice: with fresh memory for every load
//    (ours: a new table object; theirs: a new buffer for the file and for
//    each record's plain bytes) and with their memory kept from load to
//    load (ours: one table object, which reads into the block it read
//    before; theirs: one buffer for the file and one for the plain bytes).
#include "base/fileio.h"
#include "base/memio.h"
#include "base/sha.h"
#include "pakvane/pkg.h"

#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kFileBytes = 4u << 20;
constexpr int kFiles = 16;  // 64 MiB in all

std::vector<unsigned char> makeFile(int kind, std::uint64_t seed) {
    static const char* const kWords[] = {"package ", "install ", "qor ", "registry ", "update ", "version ",
                                         "\n", "files ", "0123456789", "scenario ", "readme ", "licence "};
    std::vector<unsigned char> v;
    v.reserve(kFileBytes);
    std::uint64_t x = seed * 0x9E3779B97F4A7C15ull + 7;
    auto next = [&x] {
        x ^= x >> 12;
        x ^= x << 25;
        x ^= x >> 27;
        return x * 0x2545F4914F6CDD1Dull;
    };
    std::uint32_t counter = 0;
    while (v.size() < kFileBytes) {
        const std::uint64_t r = next();
        if (kind == 0) {  // text-like with some noise
            if ((r & 15) == 0) {
                for (int i = 0; i < 5; ++i) v.push_back(static_cast<unsigned char>(next() >> 56));
            } else {
                for (const char* w = kWords[(r >> 8) % 12]; *w; ++w) v.push_back(static_cast<unsigned char>(*w));
            }
        } else if (kind == 1) {  // binary records: counters, small fields, some noise
            counter += 1 + static_cast<std::uint32_t>(r & 3);
            const std::uint32_t rec[4] = {counter, static_cast<std::uint32_t>(r >> 60), 0x00400000u + (counter & 0xFFF0),
                                          static_cast<std::uint32_t>(r >> 32) & 0x0F0F};
            const unsigned char* b = reinterpret_cast<const unsigned char*>(rec);
            v.insert(v.end(), b, b + sizeof rec);
        } else {  // random: incompressible
            for (int i = 0; i < 8; ++i) v.push_back(static_cast<unsigned char>(r >> (8 * i)));
        }
    }
    v.resize(kFileBytes);
    return v;
}

struct sCorpus {
    std::string dir;
    std::vector<std::string> paths;
    std::vector<std::vector<unsigned char>> bytes;
    std::string storedTable, deflatedTable;

    sCorpus() {
        char tmpl[] = "/tmp/qor_bench_softpkg_XXXXXX";
        if (!mkdtemp(tmpl)) std::abort();
        dir = tmpl;
        for (int i = 0; i < kFiles; ++i) {
            // 6 text-like, 5 binary, 5 random.
            bytes.push_back(makeFile(i < 6 ? 0 : i < 11 ? 1 : 2, static_cast<std::uint64_t>(i)));
            paths.push_back(dir + "/f" + std::to_string(i));
            cFileIO f;
            if (!f.create(paths.back().c_str(), fmWrite) ||
                !f.writef(bytes.back().data(), static_cast<unsigned int>(bytes.back().size())))
                std::abort();
        }
        storedTable = saveTable(false, "stored.tbl");
        deflatedTable = saveTable(true, "deflated.tbl");
    }
    ~sCorpus() {
        for (const std::string& p : paths) unlink(p.c_str());
        unlink(storedTable.c_str());
        unlink(deflatedTable.c_str());
        rmdir(dir.c_str());
    }
    std::string saveTable(bool compress, const char* name) {
        cSoftPkg pkg;
        for (const std::string& p : paths) {
            cFileIO f;
            if (!f.open(p.c_str(), fmRead) || pkg.addPkgItem(&f, compress) < 0) std::abort();
        }
        const std::string path = dir + "/" + name;
        cFileIO out;
        if (!out.create(path.c_str(), fmWrite) || !pkg.savePackage(&out)) std::abort();
        return path;
    }
};

sCorpus& corpus() {
    static sCorpus c;
    return c;
}

void setBytes(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kFiles * static_cast<std::int64_t>(kFileBytes));
}

void BM_PackFilesLevel9(benchmark::State& state) {
    sCorpus& c = corpus();
    cSoftPkg pkg;
    std::size_t packed = 0;
    for (auto _ : state) {
        pkg.newPackage();
        packed = 0;
        for (const std::string& p : c.paths) {
            cFileIO f;
            if (!f.open(p.c_str(), fmRead)) std::abort();
            const int i = pkg.addPkgItem(&f, true);
            if (i < 0) std::abort();
            packed += static_cast<std::size_t>(pkg.sizeOf(i));
        }
    }
    benchmark::DoNotOptimize(packed);
    setBytes(state);
}
BENCHMARK(BM_PackFilesLevel9)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Compress2Level9(benchmark::State& state) {
    sCorpus& c = corpus();
    std::vector<unsigned char> out(compressBound(kFileBytes));
    std::size_t total = 0;
    for (auto _ : state) {
        total = 0;
        for (const auto& b : c.bytes) {
            uLongf n = static_cast<uLongf>(out.size());
            if (compress2(out.data(), &n, b.data(), static_cast<uLong>(b.size()), 9) != Z_OK) std::abort();
            total += n;
        }
    }
    benchmark::DoNotOptimize(total);
    setBytes(state);
}
BENCHMARK(BM_Compress2Level9)->Unit(benchmark::kMillisecond)->Iterations(3);

// Where the packing time goes: the same packing from memory streams (no
// file reads), and the reading and hashing alone.
void BM_PackMemoryLevel9(benchmark::State& state) {
    sCorpus& c = corpus();
    cSoftPkg pkg;
    for (auto _ : state) {
        pkg.newPackage();
        for (auto& b : c.bytes) {
            cBufWrapperIO src(b.data(), static_cast<long long>(b.size()), false);
            if (pkg.addPkgItem(&src, true) < 0) std::abort();
        }
    }
    setBytes(state);
}
BENCHMARK(BM_PackMemoryLevel9)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_PackFilesStored(benchmark::State& state) {
    sCorpus& c = corpus();
    cSoftPkg pkg;
    for (auto _ : state) {
        pkg.newPackage();
        for (const std::string& p : c.paths) {
            cFileIO f;
            if (!f.open(p.c_str(), fmRead) || pkg.addPkgItem(&f, false) < 0) std::abort();
        }
    }
    setBytes(state);
}
BENCHMARK(BM_PackFilesStored)->Unit(benchmark::kMillisecond);

// Reads every file and hashes it: the plain way to check a digest.
template <typename Hash>
void readAndHash(benchmark::State& state, Hash hash) {
    sCorpus& c = corpus();
    std::vector<unsigned char> buf(1u << 20);
    unsigned char d[32];
    for (auto _ : state) {
        for (const std::string& p : c.paths) {
            cFileIO f;
            if (!f.open(p.c_str(), fmRead)) std::abort();
            hash(f, buf, d);
        }
        benchmark::DoNotOptimize(d[0]);
    }
    setBytes(state);
}

void BM_ReadAndSha256(benchmark::State& state) {
    readAndHash(state, [](cFileIO& f, std::vector<unsigned char>& buf, unsigned char (&d)[32]) {
        sSHA256Ctx ctx;
        sha256_starts(&ctx);
        for (unsigned int got; (got = f.read(buf.data(), static_cast<unsigned int>(buf.size()))) != 0 &&
                               cFileIOTarget::transferred(got);)
            sha256_update(&ctx, buf.data(), got);
        sha256_finish(&ctx, d);
    });
}
BENCHMARK(BM_ReadAndSha256)->Unit(benchmark::kMillisecond);

void BM_ReadAndOpenSslSha256(benchmark::State& state) {
    readAndHash(state, [](cFileIO& f, std::vector<unsigned char>& buf, unsigned char (&d)[32]) {
        EVP_MD_CTX* ctx = EVP_MD_CTX_new();
        EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
        for (unsigned int got; (got = f.read(buf.data(), static_cast<unsigned int>(buf.size()))) != 0 &&
                               cFileIOTarget::transferred(got);)
            EVP_DigestUpdate(ctx, buf.data(), got);
        unsigned int len = 0;
        EVP_DigestFinal_ex(ctx, d, &len);
        EVP_MD_CTX_free(ctx);
    });
}
BENCHMARK(BM_ReadAndOpenSslSha256)->Unit(benchmark::kMillisecond);

// The plain way to check a table: the file read whole into one buffer, each
// record's plain bytes (inflated by libdeflate for a deflated record)
// hashed by OpenSSL and compared with the record's digest.  Fresh: a new
// buffer for the file and for each record's plain bytes, uninitialised as
// ours are; reused: one of each, kept from load to load.
struct sPlainCheck {
    std::unique_ptr<unsigned char[]> file, plain;
    std::size_t fileRoom = 0, plainRoom = 0;
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    ~sPlainCheck() { libdeflate_free_decompressor(d); }

    unsigned char* room(std::unique_ptr<unsigned char[]>& b, std::size_t& have, std::size_t n, bool reuse) {
        if (!reuse || have < n) {
            b.reset(new unsigned char[n]);
            have = n;
        }
        return b.get();
    }

    void run(const std::string& table, bool reuse) {
        cFileIO f;
        if (!f.open(table.c_str(), fmRead)) std::abort();
        const std::size_t size = static_cast<std::size_t>(f.size());
        unsigned char* bytes = room(file, fileRoom, size, reuse);
        if (!f.readf(bytes, static_cast<unsigned int>(size))) std::abort();
        auto u32 = [&](std::size_t p) {
            return static_cast<std::uint32_t>(bytes[p] | bytes[p + 1] << 8 | bytes[p + 2] << 16) |
                   static_cast<std::uint32_t>(bytes[p + 3]) << 24;
        };
        int items = 0;
        unsigned char digest[32];
        for (std::size_t at = 0;;) {
            const std::uint32_t unpacked = u32(at), stored = u32(at + 4);
            if (unpacked == 0 && stored == 0) break;
            const unsigned char* data = bytes + at + 40;
            std::size_t n = stored;
            if (unpacked != 0) {
                unsigned char* out = room(plain, plainRoom, unpacked, reuse);
                if (libdeflate_zlib_decompress(d, data, stored, out, unpacked, &n) != LIBDEFLATE_SUCCESS ||
                    n != unpacked)
                    std::abort();
                data = out;
            }
            if (!EVP_Digest(data, n, digest, nullptr, EVP_sha256(), nullptr)) std::abort();
            if (std::memcmp(digest, bytes + at + 8, 32) != 0) std::abort();
            at += 40 + stored;
            ++items;
            if (!reuse) plain.reset();
        }
        if (items != kFiles) std::abort();
        if (!reuse) file.reset();
    }
};

// args: deflated, reused.
void BM_ReadAndCheckPlainly(benchmark::State& state) {
    const std::string& table = state.range(0) ? corpus().deflatedTable : corpus().storedTable;
    const bool reuse = state.range(1) != 0;
    sPlainCheck check;
    if (reuse) check.run(table, true);  // the buffers a kept one has
    for (auto _ : state) check.run(table, reuse);
    setBytes(state);
}
BENCHMARK(BM_ReadAndCheckPlainly)->ArgsProduct({{0, 1}, {0, 1}})->ArgNames({"deflated", "reused"})
    ->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

// args: deflated, reused (one table object for every load, which has
// loaded the table once before, as a kept one has).
void BM_LoadAndVerify(benchmark::State& state) {
    const std::string& table = state.range(0) ? corpus().deflatedTable : corpus().storedTable;
    const bool reuse = state.range(1) != 0;
    auto load = [&](cSoftPkg& pkg) {
        cFileIO f;
        if (!f.open(table.c_str(), fmRead) || !pkg.loadPackage(&f) || pkg.count() != kFiles) std::abort();
        for (int i = 0; i < kFiles; ++i)
            if (!pkg.verify(i)) std::abort();
    };
    cSoftPkg kept;
    if (reuse) load(kept);
    for (auto _ : state) {
        if (reuse) {
            load(kept);
        } else {
            cSoftPkg fresh;
            load(fresh);
        }
    }
    setBytes(state);
}
BENCHMARK(BM_LoadAndVerify)->ArgsProduct({{0, 1}, {0, 1}})->ArgNames({"deflated", "reused"})
    ->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

// The load alone (reading into a fresh block), for the split of the above.
void BM_LoadOnlyStored(benchmark::State& state) {
    for (auto _ : state) {
        cSoftPkg pkg;
        cFileIO f;
        if (!f.open(corpus().storedTable.c_str(), fmRead) || !pkg.loadPackage(&f)) std::abort();
    }
    setBytes(state);
}
BENCHMARK(BM_LoadOnlyStored)->Unit(benchmark::kMillisecond);

// The install job's way: every item opened as a stream and hashed by mkDigest.
void BM_LoadAndDigestItemStreamsDeflated(benchmark::State& state) {
    cSoftPkg pkg;
    unsigned char d[32];
    for (auto _ : state) {
        cFileIO f;
        if (!f.open(corpus().deflatedTable.c_str(), fmRead) || !pkg.loadPackage(&f)) std::abort();
        for (int i = 0; i < kFiles; ++i) {
            cPtr<cFileIOTarget> s(pkg.item(i));
            if (!s || !cSoftPkg::mkDigest(s.get(), d)) std::abort();
        }
    }
    setBytes(state);
}
BENCHMARK(BM_LoadAndDigestItemStreamsDeflated)->Unit(benchmark::kMillisecond);

// The corpus's files as zlib streams at level 9, as a deflated table holds them.
std::vector<std::vector<unsigned char>> zlibItems() {
    sCorpus& c = corpus();
    std::vector<std::vector<unsigned char>> z;
    for (const auto& b : c.bytes) {
        uLongf n = compressBound(static_cast<uLong>(b.size()));
        std::vector<unsigned char> out(n);
        if (compress2(out.data(), &n, b.data(), static_cast<uLong>(b.size()), 9) != Z_OK) std::abort();
        out.resize(n);
        z.push_back(std::move(out));
    }
    return z;
}

// The inflate alone of the deflated table's items, for the split of the above.
void BM_UncompressOnly(benchmark::State& state) {
    const std::vector<std::vector<unsigned char>> z = zlibItems();
    std::vector<unsigned char> plain(kFileBytes);
    for (auto _ : state) {
        for (const auto& item : z) {
            uLongf n = static_cast<uLongf>(plain.size());
            if (uncompress(plain.data(), &n, item.data(), static_cast<uLong>(item.size())) != Z_OK) std::abort();
        }
    }
    setBytes(state);
}
BENCHMARK(BM_UncompressOnly)->Unit(benchmark::kMillisecond);

// The same decoded by libdeflate.
void BM_LibdeflateOnly(benchmark::State& state) {
    const std::vector<std::vector<unsigned char>> z = zlibItems();
    std::vector<unsigned char> plain(kFileBytes);
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    for (auto _ : state) {
        for (const auto& item : z) {
            std::size_t n = 0;
            if (libdeflate_zlib_decompress(d, item.data(), item.size(), plain.data(), plain.size(), &n) !=
                LIBDEFLATE_SUCCESS)
                std::abort();
        }
    }
    libdeflate_free_decompressor(d);
    setBytes(state);
}
BENCHMARK(BM_LibdeflateOnly)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
