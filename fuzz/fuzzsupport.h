// Helpers shared by the fuzz entries: taking parameters from the front of
// the input, a check that stops the run with a message libFuzzer keeps
// beside the input that broke it, and a private folder for the parsers that
// read files by name.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// A replay test defines FUZZ_FAIL(message) to turn a failed check into a
// test failure; under libFuzzer it aborts, and the input is kept.
#ifndef FUZZ_FAIL
#define FUZZ_FAIL(message)                            \
    do {                                              \
        std::fprintf(stderr, "%s\n", message);         \
        std::abort();                                 \
    } while (0)
#endif
#define FUZZ_STR2(x) #x
#define FUZZ_STR(x) FUZZ_STR2(x)
#define FUZZ_CHECK(cond)                                                                  \
    do {                                                                                  \
        if (!(cond)) FUZZ_FAIL(__FILE__ ":" FUZZ_STR(__LINE__) ": check failed: " #cond); \
    } while (0)

// Reads parameters off the front of the input; what is left is the data.
class cFuzzInput {
public:
    cFuzzInput(const uint8_t* data, size_t size) : p_(data), left_(size) {}

    // The next byte, 0 once the input is used up.
    uint8_t byte() {
        if (left_ == 0) return 0;
        --left_;
        return *p_++;
    }
    uint16_t u16() { return static_cast<uint16_t>(byte() | byte() << 8); }
    uint32_t u32() { return static_cast<uint32_t>(u16()) | static_cast<uint32_t>(u16()) << 16; }
    // Up to n bytes (fewer at the end).
    std::string take(size_t n) {
        if (n > left_) n = left_;
        std::string s(reinterpret_cast<const char*>(p_), n);
        p_ += n;
        left_ -= n;
        return s;
    }
    std::string rest() { return take(left_); }
    size_t left() const { return left_; }
    const uint8_t* data() const { return p_; }

private:
    const uint8_t* p_;
    size_t left_;
};

// A private folder for entries whose parsers read files by name: made once
// per process in /dev/shm when there is one (no disk traffic per run), else
// in /tmp, and removed with everything in it when the process ends (or the
// folder QOR_FUZZ_SANDBOX names, emptied when the process ends).
inline void fuzzRemoveTree(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        if (DIR* d = opendir(path.c_str())) {
            while (dirent* e = readdir(d)) {
                const std::string n = e->d_name;
                if (n != "." && n != "..") fuzzRemoveTree(path + "/" + n);
            }
            closedir(d);
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

// Empties a folder, keeping the folder itself.
inline void fuzzEmptyFolder(const std::string& path) {
    if (DIR* d = opendir(path.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string n = e->d_name;
            if (n != "." && n != "..") fuzzRemoveTree(path + "/" + n);
        }
        closedir(d);
    }
}

inline const std::string& fuzzSandbox() {
    static const std::string dir = [] {
        struct stat st;
        // tools/fuzz --ci names an empty folder of a fixed name, held for
        // this entry alone: the paths a parser compares are then the same
        // in every run, and so is what the fuzzer learns from them.
        if (const char* given = std::getenv("QOR_FUZZ_SANDBOX")) {
            std::string named = given;
            if (named.empty() || stat(named.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
                FUZZ_FAIL("QOR_FUZZ_SANDBOX names no folder");
            static std::string removeNamed;
            removeNamed = named;
            std::atexit([] { fuzzEmptyFolder(removeNamed); });
            return named;
        }
        std::string tmpl = (stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && access("/dev/shm", W_OK) == 0)
                               ? "/dev/shm/qorfuzz.XXXXXX"
                               : "/tmp/qorfuzz.XXXXXX";
        if (!mkdtemp(&tmpl[0])) FUZZ_FAIL("cannot make the sandbox folder");
        static std::string removeAtExit;
        removeAtExit = tmpl;
        std::atexit([] { fuzzRemoveTree(removeAtExit); });
        return tmpl;
    }();
    return dir;
}

// Writes bytes as the file path (false when it cannot).
inline bool fuzzWriteFile(const std::string& path, const void* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

// The bytes of the file path (empty when it cannot be read).
inline std::string fuzzReadFile(const std::string& path) {
    std::string bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return bytes;
    char buf[65536];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) bytes.append(buf, n);
    std::fclose(f);
    return bytes;
}
