// A read-only stream over bytes in memory that hands out at most `step`
// bytes per read and can be told to fail (kIOFailed) once a given number of
// bytes has gone out: the consumer must cope with short and failed reads.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "base/fileio.h"

class SteppedStream : public cFileIOTarget {
public:
    SteppedStream(const std::vector<unsigned char>& data, unsigned step, long long failAfter = -1)
        : data_(data), step_(step), failAfter_(failAfter) {}
    long long size() override { return static_cast<long long>(data_.size()); }
    unsigned int read(void* buf, unsigned int n) override {
        if (failAfter_ >= 0 && pos_ >= static_cast<std::size_t>(failAfter_)) return kIOFailed;
        const std::size_t take = std::min<std::size_t>({n, step_, data_.size() - pos_});
        if (take) std::memcpy(buf, data_.data() + pos_, take);
        pos_ += take;
        return static_cast<unsigned int>(take);
    }
    bool set_fp(unsigned long long pos) override {
        if (pos > data_.size()) return false;
        pos_ = static_cast<std::size_t>(pos);
        return true;
    }
    bool set_fp_end(unsigned long long) override { return false; }
    bool set_eof(unsigned long long) override { return false; }
    void close() override {}
    bool valid() override { return true; }

private:
    const std::vector<unsigned char>& data_;
    std::size_t pos_ = 0;
    unsigned step_;
    long long failAfter_;
};
