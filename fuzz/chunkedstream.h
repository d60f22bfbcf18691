// A read-only stream over bytes held in memory that hands them out in
// pieces of chosen sizes, as a socket does, so that a reader meets every way
// its input can be split.
#pragma once

#include "base/fileio.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

class cPieceStream : public cFileIOTarget {
public:
    // pieces: the most each read returns, used in turn (empty: no limit).
    cPieceStream(std::string bytes, std::vector<unsigned int> pieces)
        : bytes_(std::move(bytes)), pieces_(std::move(pieces)) {}

    long long size() override { return static_cast<long long>(bytes_.size()); }
    unsigned int read(void* buf, unsigned int n) override {
        ++reads_;
        if (!buf) return kIOFailed;
        size_t take = bytes_.size() - pos_;
        if (take > n) take = n;
        if (!pieces_.empty()) {
            const unsigned int limit = pieces_[next_++ % pieces_.size()];
            if (take > limit) take = limit;
        }
        if (take) std::memcpy(buf, bytes_.data() + pos_, take);
        pos_ += take;
        return static_cast<unsigned int>(take);
    }
    bool set_fp(unsigned long long pos) override {
        if (pos > bytes_.size()) return false;
        pos_ = static_cast<size_t>(pos);
        return true;
    }
    bool set_fp_end(unsigned long long n) override { return set_fp(n > bytes_.size() ? 0 : bytes_.size() - n); }
    bool set_eof(unsigned long long) override { return false; }
    void close() override {}
    bool valid() override { return true; }

    unsigned long long reads() const { return reads_; }
    size_t position() const { return pos_; }

private:
    std::string bytes_;
    std::vector<unsigned int> pieces_;
    size_t pos_ = 0;
    size_t next_ = 0;
    unsigned long long reads_ = 0;
};

// Piece sizes from one selector byte: 0 whole reads; 1 a byte at a time;
// otherwise a short cycle of sizes derived from it.  None is below least.
inline std::vector<unsigned int> piecesFrom(unsigned char sel, unsigned int least = 1) {
    if (sel == 0) return {};
    if (sel == 1) return {least};
    std::vector<unsigned int> p;
    unsigned int x = sel;
    for (int k = 0; k < 5; ++k) {
        x = x * 1103515245u + 12345u;
        p.push_back(std::max(least, 1 + (x >> 16) % (sel & 0x80 ? 4096u : 64u)));
    }
    return p;
}
