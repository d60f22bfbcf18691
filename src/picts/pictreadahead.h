// cPictReadAhead: byte-at-a-time reading of run-length coded pixel data
// (TGA packets, PCX runs) without a stream call per byte.  It fills a block
// of up to 64 KB from the stream and hands out bytes from it; every getter
// returns false once the stream has nothing more, never reading past what
// the stream delivered.
//
//     cPictReadAhead in(stream);
//     unsigned char b;
//     if (!in.byte(b)) return false;   // truncated
#pragma once

#include "base/buffers.h"
#include "base/fileio.h"

#include <cstring>
#include <new>

class cPictReadAhead {
public:
    static constexpr unsigned int kBlock = 64 * 1024;

    // base: the stream's position now, from which tell() counts.
    explicit cPictReadAhead(cFileIOTarget* stream, unsigned long long base = 0) : stream_(stream), base_(base) {}

    // The stream position of the next byte handed out.
    unsigned long long tell() const { return base_ + pos_; }

    bool byte(unsigned char& b) {
        if (pos_ == len_ && !refill()) return false;
        b = buf_.data()[pos_++];
        return true;
    }

    // n bytes into out; false (out partly written) when the stream ends first.
    bool read(unsigned char* out, unsigned int n) {
        while (n) {
            if (pos_ == len_ && !refill()) return false;
            unsigned int take = len_ - pos_;
            if (take > n) take = n;
            std::memcpy(out, buf_.data() + pos_, take);
            pos_ += take;
            out += take;
            n -= take;
        }
        return true;
    }

    // Passes over n bytes; false when the stream ends first.
    bool skip(unsigned long long n) {
        while (n) {
            if (pos_ == len_ && !refill()) return false;
            unsigned long long take = len_ - pos_;
            if (take > n) take = n;
            pos_ += static_cast<unsigned int>(take);
            n -= take;
        }
        return true;
    }

    // Up to n bytes into out: the count the stream still had.
    unsigned int readSome(unsigned char* out, unsigned int n) {
        unsigned int done = 0;
        while (done < n) {
            if (pos_ == len_ && !refill()) break;
            unsigned int take = len_ - pos_;
            if (take > n - done) take = n - done;
            std::memcpy(out + done, buf_.data() + pos_, take);
            pos_ += take;
            done += take;
        }
        return done;
    }

private:
    bool refill() {
        if (!stream_ || ended_) return false;
        if (!buf_.data()) {
            try {
                buf_.set(kBlock);
            } catch (const std::bad_alloc&) {
                ended_ = true;
                return false;
            }
        }
        const unsigned int got = stream_->read(buf_.data(), kBlock);
        if (!cFileIOTarget::transferred(got, kBlock) || got == 0) {
            ended_ = true;
            return false;
        }
        base_ += len_;
        pos_ = 0;
        len_ = got;
        return true;
    }

    cFileIOTarget* stream_;
    unsigned long long base_;  // stream position of buf_[0]
    _typebuf<unsigned char> buf_;
    unsigned int pos_ = 0;
    unsigned int len_ = 0;
    bool ended_ = false;
};
