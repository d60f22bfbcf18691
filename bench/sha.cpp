// SHA-256 (and SHA-1, SHA-512) of 256 MiB: ours against OpenSSL's in the same
// run.  Both hash the same buffer in one call; ours goes through the public
// one-shots, OpenSSL through EVP_Digest.  The block engines are also timed on
// their own, so that the cost of the portable fallback is visible.
//
// Each engine the dispatcher can pick is measured on one machine by naming
// it: QOR_SHA512_ENGINE=generic|ssse3|avx|avx2, QOR_SHA256_ENGINE and
// QOR_SHA1_ENGINE=generic|ssse3|avx|avx2|shani.  An engine the CPU
// cannot run is not measured (the family's benchmarks report an error)
// rather than measured as another.  OpenSSL is held to the same
// instructions through its own OPENSSL_ia32cap, which bench/pairs.txt sets
// beside ours.
#include "base/sha.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The engine named in the environment for one family; empty when it could
// not be taken (the family's benchmarks then report it).
struct sEngineWish {
    std::string error;
    const char* engine = "";
};
sEngineWish gSha512, gSha256, gSha1;

void takeEngine(const char* variable, bool (*use)(const char*), const char* (*name)(), sEngineWish& wish) {
    const char* wanted = std::getenv(variable);
    if (wanted && *wanted && !use(wanted)) wish.error = std::string(variable) + "=" + wanted + ": not on this CPU";
    wish.engine = name();
}

// Reports the engine in the benchmark's label, or skips it when the engine
// asked for is not there.
bool engineReady(benchmark::State& state, const sEngineWish& wish) {
    if (!wish.error.empty()) {
        state.SkipWithError(wish.error.c_str());
        return false;
    }
    state.SetLabel(wish.engine);
    return true;
}

constexpr std::size_t kBytes = 256u << 20;

const std::vector<std::uint8_t>& input() {
    static const std::vector<std::uint8_t> data = [] {
        std::vector<std::uint8_t> v(kBytes);
        std::uint64_t x = 0x9E3779B97F4A7C15ull;
        for (auto& b : v) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            b = static_cast<std::uint8_t>(x);
        }
        return v;
    }();
    return data;
}

void opensslDigest(benchmark::State& state, const EVP_MD* md) {
    const auto& in = input();
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    for (auto _ : state) {
        EVP_Digest(in.data(), in.size(), out, &len, md, nullptr);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
}

void BM_Sha256_Qor(benchmark::State& state) {
    if (!engineReady(state, gSha256)) return;
    const auto& in = input();
    std::uint8_t out[32];
    for (auto _ : state) {
        SHA2Hash(in.data(), out, static_cast<long long>(in.size()));
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
}

void BM_Sha256_OpenSSL(benchmark::State& state) { opensslDigest(state, EVP_sha256()); }

// The same bytes as two halves hashed side by side (two digests).
void BM_Sha256Pair_Qor(benchmark::State& state) {
    if (!engineReady(state, gSha256)) return;
    const auto& in = input();
    const long long half = static_cast<long long>(in.size() / 2);
    std::uint8_t a[32], b[32];
    for (auto _ : state) {
        SHA2HashPair(in.data(), half, a, in.data() + half, half, b);
        benchmark::DoNotOptimize(a);
        benchmark::DoNotOptimize(b);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
}

void BM_Sha256_QorPortableEngine(benchmark::State& state) {
    const auto& in = input();
    std::uint32_t words[8] = {};
    for (auto _ : state) {
        qor_sha::sha256BlocksPortable(words, in.data(), in.size() / 64);
        benchmark::DoNotOptimize(words);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
}

void BM_Sha1_Qor(benchmark::State& state) {
    if (!engineReady(state, gSha1)) return;
    const auto& in = input();
    std::uint8_t out[20];
    for (auto _ : state) {
        SHA1Hash(in.data(), out, static_cast<long long>(in.size()));
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
}

void BM_Sha1_OpenSSL(benchmark::State& state) { opensslDigest(state, EVP_sha1()); }

void BM_Sha512_Qor(benchmark::State& state) {
    if (!engineReady(state, gSha512)) return;
    const auto& in = input();
    std::uint8_t out[64];
    for (auto _ : state) {
        SHA512Hash(in.data(), out, static_cast<long long>(in.size()));
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
}

void BM_Sha512_OpenSSL(benchmark::State& state) { opensslDigest(state, EVP_sha512()); }

void BM_Sha512_QorPortableEngine(benchmark::State& state) {
    const auto& in = input();
    std::uint64_t words[8] = {};
    for (auto _ : state) {
        qor_sha::sha512BlocksPortable(words, in.data(), in.size() / 128);
        benchmark::DoNotOptimize(words);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
}

// The reference measured twice in one run, as if it were a pair: the
// spread of these rows is the noise a digest's row carries here.
void BM_Sha256_OpenSSL_again(benchmark::State& state) { BM_Sha256_OpenSSL(state); }
void BM_Sha1_OpenSSL_again(benchmark::State& state) { BM_Sha1_OpenSSL(state); }

}  // namespace

BENCHMARK(BM_Sha256_Qor)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Sha256_OpenSSL)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Sha256_OpenSSL_again)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Sha256Pair_Qor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sha256_QorPortableEngine)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sha1_Qor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sha1_OpenSSL)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sha1_OpenSSL_again)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sha512_Qor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sha512_OpenSSL)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sha512_QorPortableEngine)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    takeEngine("QOR_SHA512_ENGINE", qor_sha::useSha512Engine, qor_sha::sha512EngineName, gSha512);
    takeEngine("QOR_SHA256_ENGINE", qor_sha::useSha256Engine, qor_sha::sha256EngineName, gSha256);
    takeEngine("QOR_SHA1_ENGINE", qor_sha::useSha1Engine, qor_sha::sha1EngineName, gSha1);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
