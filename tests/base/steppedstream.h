// A stream over bytes in memory for the tests of the stream consumers.  It
// hands out at most `step` bytes per read, fails every read once `failAfter`
// bytes have gone out (0: from the start, -1: never), may claim `overclaim`
// bytes more than it placed, fails (`failWrites`) or shortens (`writeLimit`)
// writes, counts its calls and notes when it is destroyed.  It tells its
// position (get_fp) only when `tellsPosition` is set.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "base/fileio.h"

class SteppedStream : public cFileIOTarget {
public:
    explicit SteppedStream(std::string data, unsigned step = ~0u, long long failAt = -1, bool* destroyed = nullptr)
        : failAfter(failAt), data_(std::move(data)), step_(step), destroyed_(destroyed) {}
    SteppedStream(const std::vector<unsigned char>& data, unsigned step, long long failAt = -1)
        : SteppedStream(std::string(data.begin(), data.end()), step, failAt) {}
    ~SteppedStream() override {
        if (destroyed_) *destroyed_ = true;
    }

    long long size() override { return static_cast<long long>(data_.size()); }
    unsigned int read(void* buf, unsigned int n) override {
        ++reads;
        lastReadSize = n;
        if (failAfter >= 0 && pos_ >= static_cast<std::size_t>(failAfter)) return kIOFailed;
        const std::size_t take = std::min<std::size_t>({n, step_, data_.size() - pos_});
        if (!take) return 0;
        std::memcpy(buf, data_.data() + pos_, take);
        pos_ += take;
        return static_cast<unsigned int>(take) + overclaim;
    }
    unsigned int write(void* buf, unsigned int n) override {
        ++writes;
        if (failWrites) return kIOFailed;
        const std::size_t put = std::min<std::size_t>(n, writeLimit);
        if (!put) return 0;
        if (pos_ + put > data_.size()) data_.resize(pos_ + put);
        std::memcpy(&data_[pos_], buf, put);
        pos_ += put;
        return static_cast<unsigned int>(put);
    }
    bool set_fp(unsigned long long pos) override {
        if (pos > data_.size()) return false;
        pos_ = static_cast<std::size_t>(pos);
        return true;
    }
    bool set_fp_end(unsigned long long n) override { return n <= data_.size() && set_fp(data_.size() - n); }
    long long get_fp() override { return tellsPosition ? static_cast<long long>(pos_) : -1; }
    bool set_eof(unsigned long long length) override {
        data_.resize(static_cast<std::size_t>(length));
        pos_ = std::min(pos_, data_.size());
        return true;
    }
    void close() override { ++closes; }
    bool valid() override { return true; }

    const std::string& data() const { return data_; }

    long long failAfter;
    bool failWrites = false;
    std::size_t writeLimit = ~std::size_t{0};
    unsigned int overclaim = 0;
    bool tellsPosition = false;
    int reads = 0, writes = 0, closes = 0;
    unsigned int lastReadSize = 0;

private:
    std::string data_;
    std::size_t pos_ = 0;
    std::size_t step_;
    bool* destroyed_;
};
