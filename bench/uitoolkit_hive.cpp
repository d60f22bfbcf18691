// The hive store with 10,000 values, against what the same work costs
// without it:
//  - opening the store (read, lock, parse one hive of 10,000 values) against
//    reading the file's bytes and filling a std::map of the same 10,000
//    paths and values from a flat listing;
//  - parsing the hive bytes in memory against that std::map fill alone;
//  - saving the hive after one change (serialise, write a temporary file,
//    fsync, rename, fsync the folder) against writing the same bytes the
//    same durable way with plain POSIX calls.
#include "uitoolkit/ciappconfig.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int kValues = 10000;

struct sFixture {
    std::string home;
    std::string hiveFile;
    std::vector<unsigned char> bytes;
    std::vector<std::pair<std::string, std::string>> listing;

    sFixture() {
        char templ[] = "/tmp/qor-bench-hive-XXXXXX";
        home = mkdtemp(templ);
        setenv("HOME", home.c_str(), 1);
        cCIAppConfig c;
        c.openConfig("qor");
        for (int i = 0; i < kValues; ++i) {
            // 1,000 packages with ten fields each, as the install registry keeps them.
            const std::string path = "install/pkg" + std::to_string(i / 10) + "/field" + std::to_string(i % 10);
            const std::string value = "value " + std::to_string(i * 7919) + " of the package record";
            c.setParamStr(path.c_str(), value.c_str(), -1);
            listing.emplace_back(path, value);
        }
        c.saveConfig();
        hiveFile = home + "/.qor/install";
        FILE* f = std::fopen(hiveFile.c_str(), "rb");
        unsigned char buf[65536];
        for (std::size_t n; f && (n = std::fread(buf, 1, sizeof buf, f)) > 0;) bytes.insert(bytes.end(), buf, buf + n);
        if (f) std::fclose(f);
    }
    ~sFixture() { std::system(("rm -rf '" + home + "'").c_str()); }
};

sFixture& fixture() {
    static sFixture f;
    return f;
}

void BM_HiveOpen(benchmark::State& state) {
    sFixture& f = fixture();
    for (auto _ : state) {
        cCIAppConfig c;
        benchmark::DoNotOptimize(c.openConfig("qor"));
    }
    state.SetItemsProcessed(state.iterations() * kValues);
    state.SetBytesProcessed(state.iterations() * static_cast<long long>(f.bytes.size()));
}

void BM_FileReadAndStdMap(benchmark::State& state) {
    sFixture& f = fixture();
    for (auto _ : state) {
        std::vector<unsigned char> buf(f.bytes.size());
        const int fd = open(f.hiveFile.c_str(), O_RDONLY);
        benchmark::DoNotOptimize(read(fd, buf.data(), buf.size()));
        close(fd);
        std::map<std::string, std::string> m;
        for (const auto& kv : f.listing) m.emplace(kv.first, kv.second);
        benchmark::DoNotOptimize(m.size());
    }
    state.SetItemsProcessed(state.iterations() * kValues);
    state.SetBytesProcessed(state.iterations() * static_cast<long long>(f.bytes.size()));
}

void BM_HiveParse(benchmark::State& state) {
    sFixture& f = fixture();
    for (auto _ : state) {
        cCIAppConfig::sDataContainer node;
        benchmark::DoNotOptimize(cCIAppConfig::parseHive(f.bytes.data(), f.bytes.size(), node));
    }
    state.SetItemsProcessed(state.iterations() * kValues);
}

void BM_HiveSerialize(benchmark::State& state) {
    sFixture& f = fixture();
    cCIAppConfig::sDataContainer node;
    cCIAppConfig::parseHive(f.bytes.data(), f.bytes.size(), node);
    for (auto _ : state) {
        _typebuf<unsigned char> out;
        benchmark::DoNotOptimize(cCIAppConfig::serializeHive(node, out));
    }
    state.SetItemsProcessed(state.iterations() * kValues);
}

void BM_StdMapFill(benchmark::State& state) {
    sFixture& f = fixture();
    for (auto _ : state) {
        std::map<std::string, std::string> m;
        for (const auto& kv : f.listing) m.emplace(kv.first, kv.second);
        benchmark::DoNotOptimize(m.size());
    }
    state.SetItemsProcessed(state.iterations() * kValues);
}

void BM_HiveSave(benchmark::State& state) {
    sFixture& f = fixture();
    cCIAppConfig c;
    c.openConfig("qor");
    int i = 0;
    for (auto _ : state) {
        c.setParamInt32("install/pkg0/field0", ++i);
        benchmark::DoNotOptimize(c.saveConfig());
    }
    state.SetItemsProcessed(state.iterations() * kValues);
    state.SetBytesProcessed(state.iterations() * static_cast<long long>(f.bytes.size()));
}

void BM_PosixDurableWrite(benchmark::State& state) {
    sFixture& f = fixture();
    const std::string temp = f.home + "/.qor/.plain.tmp", target = f.home + "/plain";
    for (auto _ : state) {
        const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0664);
        benchmark::DoNotOptimize(write(fd, f.bytes.data(), f.bytes.size()));
        fsync(fd);
        close(fd);
        rename(temp.c_str(), target.c_str());
        const int dir = open(f.home.c_str(), O_RDONLY | O_DIRECTORY);
        fsync(dir);
        close(dir);
    }
    state.SetItemsProcessed(state.iterations() * kValues);
    state.SetBytesProcessed(state.iterations() * static_cast<long long>(f.bytes.size()));
}

// The reference measured twice in one run, as if it were a pair: the
// spread of this row is the noise a durable write carries here.
void BM_PosixDurableWrite_again(benchmark::State& state) { BM_PosixDurableWrite(state); }

}  // namespace

BENCHMARK(BM_HiveOpen);
BENCHMARK(BM_FileReadAndStdMap);
BENCHMARK(BM_HiveParse);
BENCHMARK(BM_HiveSerialize);
BENCHMARK(BM_StdMapFill);
BENCHMARK(BM_HiveSave);
BENCHMARK(BM_PosixDurableWrite);
BENCHMARK(BM_PosixDurableWrite_again);

BENCHMARK_MAIN();
