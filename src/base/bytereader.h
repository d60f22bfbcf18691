// cByteReader: a bounds-checked reader over bytes in memory.  Every read
// checks what is left and returns false instead of running past the end; the
// position does not move on a failed read.  Parsers use it instead of their
// own pointer arithmetic:
//
//     std::uint32_t offset = 0;
//     if (!in.read_u32le(offset) || !in.seek(offset)) return false;
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

class cByteReader {
public:
    cByteReader() = default;
    cByteReader(const void* data, std::size_t size)
        : data_(static_cast<const unsigned char*>(data)), size_(data ? size : 0) {}

    std::size_t size() const { return size_; }
    std::size_t tell() const { return pos_; }
    std::size_t remaining() const { return size_ - pos_; }
    bool atEnd() const { return pos_ == size_; }
    bool has(std::size_t n) const { return n <= size_ - pos_; }
    const unsigned char* data() const { return data_; }
    // The bytes at the current position (valid for remaining() bytes).
    const unsigned char* current() const { return data_ + pos_; }

    bool seek(std::size_t pos) {
        if (pos > size_) return false;
        pos_ = pos;
        return true;
    }
    bool skip(std::size_t n) {
        if (!has(n)) return false;
        pos_ += n;
        return true;
    }

    bool read(void* out, std::size_t n) {
        if (!has(n)) return false;
        if (n) std::memcpy(out, data_ + pos_, n);
        pos_ += n;
        return true;
    }
    // Points `out` at the next n bytes without copying them.
    bool view(const unsigned char*& out, std::size_t n) {
        if (!has(n)) return false;
        out = data_ + pos_;
        pos_ += n;
        return true;
    }
    // A reader over the next n bytes; this reader moves past them.
    bool sub(cByteReader& out, std::size_t n) {
        if (!has(n)) return false;
        out = cByteReader(data_ + pos_, n);
        pos_ += n;
        return true;
    }

    bool read_u8(std::uint8_t& v) { return readInt<std::uint8_t, 1, false>(v); }
    bool read_u16le(std::uint16_t& v) { return readInt<std::uint16_t, 2, false>(v); }
    bool read_u16be(std::uint16_t& v) { return readInt<std::uint16_t, 2, true>(v); }
    bool read_u32le(std::uint32_t& v) { return readInt<std::uint32_t, 4, false>(v); }
    bool read_u32be(std::uint32_t& v) { return readInt<std::uint32_t, 4, true>(v); }
    bool read_u64le(std::uint64_t& v) { return readInt<std::uint64_t, 8, false>(v); }
    bool read_u64be(std::uint64_t& v) { return readInt<std::uint64_t, 8, true>(v); }
    bool read_i16le(std::int16_t& v) { return readSigned<std::int16_t, std::uint16_t, 2, false>(v); }
    bool read_i16be(std::int16_t& v) { return readSigned<std::int16_t, std::uint16_t, 2, true>(v); }
    bool read_i32le(std::int32_t& v) { return readSigned<std::int32_t, std::uint32_t, 4, false>(v); }
    bool read_i32be(std::int32_t& v) { return readSigned<std::int32_t, std::uint32_t, 4, true>(v); }

private:
    template <typename U, int N, bool BigEndian>
    bool readInt(U& v) {
        if (!has(N)) return false;
        U r = 0;
        for (int i = 0; i < N; ++i) {
            U byte = data_[pos_ + (BigEndian ? i : N - 1 - i)];
            r = static_cast<U>((N > 1 ? static_cast<U>(r << 8) : U(0)) | byte);
        }
        v = r;
        pos_ += N;
        return true;
    }
    template <typename S, typename U, int N, bool BigEndian>
    bool readSigned(S& v) {
        U u;
        if (!readInt<U, N, BigEndian>(u)) return false;
        v = static_cast<S>(u);
        return true;
    }

    const unsigned char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t pos_ = 0;
};
