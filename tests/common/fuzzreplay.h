// Replays the inputs a fuzz entry once failed on: each file of a folder
// under tests/data is handed to the entry's own function, built into the test
// with its checks turned into exceptions.  The folder must hold exactly the
// number of inputs the test names, so that a folder removed or emptied, or
// an input kept without its test being told, fails the test.
//
//     #define FUZZ_FAIL(message) throw qortest::FuzzFailure(message)
//     #define LLVMFuzzerTestOneInput fuzzZDecompress
//     #include "../../fuzz/FuzzZDecompress.cpp"
//     #undef LLVMFuzzerTestOneInput
//     ...
//     qortest::replayFolder("compression/zlib/malformed", fuzzZDecompress, 2);
//     qortest::replaySeeds("ZDecompress", fuzzZDecompress, 5);
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
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

// Runs entry on every input of the folder dir (its files but a README and
// scripts), which must hold `expected` of them; a failed check fails the
// test with the file's name.  Returns the count of files replayed.
template <typename Entry>
int replayDir(const std::string& dir, Entry entry, std::size_t expected) {
    EXPECT_TRUE(holdsInputCount(dir, expected));
    const std::vector<std::string> names = keptInputs(dir);
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

// Runs entry on the `expected` inputs of tests/data/<folder>.
template <typename Entry>
int replayFolder(const std::string& folder, Entry entry, std::size_t expected) {
    return replayDir(dataPath(folder), entry, expected);
}

// Runs entry on the `expected` seeds of fuzz/corpus/<name>, which must all
// hold its checks too.
template <typename Entry>
int replaySeeds(const std::string& name, Entry entry, std::size_t expected) {
    return replayDir(std::string(QOR_SOURCE_DIR) + "/fuzz/corpus/" + name, entry, expected);
}

}  // namespace qortest
