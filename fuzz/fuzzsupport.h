// Helpers shared by the fuzz entries: taking parameters from the front of
// the input, and a check that stops the run with a message libFuzzer keeps
// beside the input that broke it.
#pragma once

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
