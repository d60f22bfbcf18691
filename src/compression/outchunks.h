// cOutputChunks: where a decoder puts output whose size it does not know in
// advance.  Chunks grow from 64 KB to 8 MB and never move, so the output is
// never reallocated while it grows and bytes already written stay where they
// are (the LZW table points into them).  At the end the chunks are copied
// once into the caller's buffer, or handed over without a copy when one
// chunk holds exactly the whole output (a decoder that was told the size).
#pragma once

#include "base/buffers.h"

#include <algorithm>
#include <cstring>
#include <vector>

class cOutputChunks {
public:
    static constexpr long long kFirstChunk = 65536;
    static constexpr long long kLargestChunk = 8LL << 20;

    // Empties the output; the first chunk will hold firstChunk bytes (at
    // least 1; kFirstChunk when 0 or less).
    void reset(long long firstChunk = 0) {
        chunks_.clear();
        total_ = 0;
        firstChunk_ = firstChunk > 0 ? firstChunk : kFirstChunk;
    }

    // At least n contiguous bytes of room, in the current chunk when it has
    // them, else in a new one.  Throws std::bad_alloc when memory runs out.
    unsigned char* reserve(long long n) {
        if (chunks_.empty() || chunks_.back().bytes.count() - chunks_.back().used < n) addChunk(n);
        return chunks_.back().bytes.data() + chunks_.back().used;
    }
    // All the room left in the current chunk (a new chunk when it is full).
    unsigned char* room(long long& n) {
        unsigned char* at = reserve(1);
        n = chunks_.back().bytes.count() - chunks_.back().used;
        return at;
    }
    // At least n contiguous bytes of room as reserve gives them; `room`
    // receives all the room there.
    unsigned char* reserve(long long n, long long& room) {
        unsigned char* at = reserve(n);
        room = chunks_.back().bytes.count() - chunks_.back().used;
        return at;
    }
    // n bytes written at the last reserve or room.
    void commit(long long n) {
        chunks_.back().used += n;
        total_ += static_cast<unsigned long long>(n);
    }
    // Drops the bytes past total written by the last commit.
    void cut(unsigned long long total) {
        if (total >= total_) return;
        chunks_.back().used -= static_cast<long long>(total_ - total);
        total_ = total;
    }
    unsigned long long total() const { return total_; }

    // Like reset, but the bytes of `storage` (a caller's buffer from an
    // earlier output) become the first chunk when it holds at least as
    // many as that chunk would: an output of the same size then lands in
    // memory already mapped and goes back to the caller without a copy.
    // `storage` is left empty either way.
    void resetReusing(long long firstChunk, _typebuf<unsigned char>& storage) {
        reset(firstChunk);
        if (storage.count() >= firstChunk_) {
            chunks_.emplace_back();
            chunks_.back().bytes.swap(storage);
        }
        storage.set(0);
    }

    // The whole output into out; false (out empty) when memory runs out.
    // The chunks are emptied.
    bool moveTo(_typebuf<unsigned char>& out) {
        if (chunks_.size() == 1 && chunks_[0].used == chunks_[0].bytes.count()) {
            out.swap(chunks_[0].bytes);
            reset(firstChunk_);
            return true;
        }
        try {
            out.set(static_cast<long long>(total_));
        } catch (const std::bad_alloc&) {
            reset(firstChunk_);
            return false;
        }
        qor_detail::preferHugePages(out.data(), static_cast<std::size_t>(total_));
        unsigned char* at = out.data();
        for (const sChunk& c : chunks_) {
            if (c.used == 0) continue;
            std::memcpy(at, c.bytes.data(), static_cast<std::size_t>(c.used));
            at += c.used;
        }
        reset(firstChunk_);
        return true;
    }

private:
    void addChunk(long long atLeast) {
        long long size = chunks_.empty() ? firstChunk_ : std::min(2 * chunks_.back().bytes.count(), kLargestChunk);
        if (size < atLeast) size = atLeast;
        chunks_.emplace_back();
        try {
            chunks_.back().bytes.set(size);
        } catch (...) {
            chunks_.pop_back();
            throw;
        }
        qor_detail::preferHugePages(chunks_.back().bytes.data(), static_cast<std::size_t>(size));
    }

    struct sChunk {
        _typebuf<unsigned char> bytes;
        long long used = 0;
    };
    std::vector<sChunk> chunks_;
    unsigned long long total_ = 0;
    long long firstChunk_ = kFirstChunk;
};
