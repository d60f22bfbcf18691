// Replays the inputs a fuzz entry once failed on: each file of a folder
// under tests/data is handed to the entry's own function, built into the test
// with its checks turned into exceptions.
//
//     #define FUZZ_FAIL(message) throw qortest::FuzzFailure(message)
//     #define LLVMFuzzerTestOneInput fuzzZDecompress
//     #include "../../fuzz/FuzzZDecompress.cpp"
//     #undef LLVMFuzzerTestOneInput
//     ...
//     EXPECT_GT(qortest::replayFolder("compression/zlib/malformed", fuzzZDecompress), 0);
//     EXPECT_GT(qortest::replaySeeds("ZDecompress", fuzzZDecompress), 0);
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "testsupport.h"

namespace qortest {

struct FuzzFailure : std::runtime_error {
    explicit FuzzFailure(const char* what) : std::runtime_error(what) {}
};

// Runs entry on every file of the folder dir (but a README and scripts); a
// failed check fails the test with the file's name.  Returns the count of
// files replayed.
template <typename Entry>
int replayDir(const std::string& dir, Entry entry) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string n = e->d_name;
            if (n[0] != '.' && n != "README" && (n.size() < 3 || n.compare(n.size() - 3, 3, ".py") != 0))
                names.push_back(n);
        }
        closedir(d);
    }
    for (const std::string& name : names) {
        std::ifstream f(dir + "/" + name, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        try {
            entry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        } catch (const FuzzFailure& failure) {
            ADD_FAILURE() << dir << "/" << name << ": " << failure.what();
        }
    }
    return static_cast<int>(names.size());
}

// Runs entry on every file of tests/data/<folder>.
template <typename Entry>
int replayFolder(const std::string& folder, Entry entry) {
    return replayDir(dataPath(folder), entry);
}

// Runs entry on the seeds of fuzz/corpus/<name>, which must all hold its
// checks too.
template <typename Entry>
int replaySeeds(const std::string& name, Entry entry) {
    return replayDir(std::string(QOR_SOURCE_DIR) + "/fuzz/corpus/" + name, entry);
}

}  // namespace qortest
