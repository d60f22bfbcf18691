// The streamed source of cByteReader: the read-ahead window over a stream.
#include "base/bytereader.h"

#include "base/fileio.h"

#include <algorithm>
#include <new>
#include <utility>

cByteReader& cByteReader::operator=(const cByteReader& o) {
    if (this == &o) return *this;
    const bool windowed = o.stream_ && o.own_ && o.data_ == o.own_.get();
    own_.reset();
    cap_ = 0;
    if (windowed) {
        own_.reset(new unsigned char[o.cap_]);
        cap_ = o.cap_;
        std::memcpy(own_.get(), o.own_.get(), o.size_);
    }
    stream_ = o.stream_;
    base_ = o.base_;
    window_ = o.window_;
    ended_ = o.ended_;
    size_ = o.size_;
    pos_ = o.pos_;
    // A streamed reader's window is its own copy.
    data_ = windowed ? own_.get() : o.data_;
    return *this;
}

long long cByteReader::sourceSize() const {
    return stream_ ? stream_->size() : static_cast<long long>(size_);
}

bool cByteReader::refill(std::size_t n) {
    if (!stream_) return false;
    const std::size_t kept = size_ - pos_;
    if (n <= kept) return true;
    if (ended_) return false;
    const std::size_t want = std::max(n, window_);
    if (cap_ < want) {
        // A window that grows keeps the unread bytes.
        std::unique_ptr<unsigned char[]> bigger(new (std::nothrow) unsigned char[want]);
        if (!bigger) {
            ended_ = true;
            return false;
        }
        if (kept) std::memcpy(bigger.get(), data_ + pos_, kept);
        own_ = std::move(bigger);
        cap_ = want;
    } else if (kept && data_ + pos_ != own_.get()) {
        std::memmove(own_.get(), data_ + pos_, kept);
    }
    base_ += pos_;
    pos_ = 0;
    data_ = own_.get();
    size_ = kept;
    // Reads until n bytes are held or the stream ends; never more than the
    // window asks for, so that a window of a header's size reads only it.
    while (size_ < n) {
        const std::size_t room = want - size_;
        const unsigned int ask = static_cast<unsigned int>(std::min<std::size_t>(room, 1u << 30));
        const unsigned int got = stream_->read(own_.get() + size_, ask);
        if (!cFileIOTarget::transferred(got, ask) || got == 0) {
            ended_ = true;
            return false;
        }
        size_ += got;
    }
    return true;
}

std::size_t cByteReader::readStreamed(unsigned char* out, std::size_t n) {
    std::size_t done = std::min(n, size_ - pos_);
    if (done) std::memcpy(out, data_ + pos_, done);
    pos_ += done;
    // Long reads (rows, chunks) go straight to the caller's memory.  The
    // window, read to its end by now, is dropped first: kept, it would
    // stand for the bytes after the ones read past it.
    if (done < n && !ended_ && n - done >= window_) {
        base_ += pos_;
        pos_ = size_ = 0;
    }
    while (done < n && !ended_ && n - done >= window_) {
        const unsigned int ask = static_cast<unsigned int>(std::min<std::size_t>(n - done, 1u << 30));
        const unsigned int got = stream_->read(out + done, ask);
        if (!cFileIOTarget::transferred(got, ask) || got == 0) {
            ended_ = true;
            break;
        }
        done += got;
        base_ += got;
    }
    while (done < n) {
        if (!refill(1)) break;
        const std::size_t take = std::min(n - done, size_ - pos_);
        std::memcpy(out + done, data_ + pos_, take);
        pos_ += take;
        done += take;
    }
    return done;
}

std::size_t cByteReader::viewStreamed(const unsigned char*& out, std::size_t most) {
    if (ended_ || most == 0) return 0;
    const unsigned char* p = nullptr;
    const std::size_t n = stream_->readInPlace(p, most);
    if (n == 0) return 0;
    if (n > most) {
        // More than was asked for is a broken stream, as a failed read is.
        ended_ = true;
        return 0;
    }
    // The window, read to its end, is dropped: the stream has moved past
    // the bytes handed over.
    base_ += pos_ + n;
    pos_ = size_ = 0;
    out = p;
    return n;
}

bool cByteReader::skipStreamed(std::size_t n) {
    while (n) {
        if (pos_ == size_ && !refill(1)) return false;
        const std::size_t take = std::min(n, size_ - pos_);
        pos_ += take;
        n -= take;
    }
    return true;
}

bool cByteReader::seek(std::size_t pos) {
    if (!stream_) {
        if (pos > size_) return false;
        pos_ = pos;
        return true;
    }
    if (size_ && pos >= base_ && pos - base_ <= size_) {
        pos_ = static_cast<std::size_t>(pos - base_);
        return true;
    }
    // Elsewhere: the stream moves and the window starts there.
    if (!stream_->set_fp(pos)) return false;
    base_ = pos;
    pos_ = size_ = 0;
    ended_ = false;
    return true;
}

bool cByteReader::readAt(cFileIOTarget* stream, unsigned long long at, void* out, std::size_t n) {
    if (!stream) return false;
    if (n == 0) return stream->set_fp(at);
    auto* to = static_cast<unsigned char*>(out);
    while (n > 0) {
        const unsigned int ask = static_cast<unsigned int>(std::min<std::size_t>(n, 1u << 30));
        const unsigned int got = stream->readAt(at, to, ask);
        if (!cFileIOTarget::transferred(got, ask) || got == 0) return false;
        to += got;
        at += got;
        n -= got;
    }
    return true;
}

bool cByteReader::sync() {
    if (!stream_) return true;
    const unsigned long long at = base_ + pos_;
    base_ = at;
    pos_ = size_ = 0;
    ended_ = false;
    return stream_->set_fp(at);
}
