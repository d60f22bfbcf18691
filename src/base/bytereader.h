// cByteReader: the one way parsers read outside bytes.  Every read checks
// what is left and returns false instead of running past the end.  It reads
// from one of two sources:
//
//   memory   cByteReader in(data, size): bytes already in hand; the position
//            does not move on a failed read, and seek/view/sub/current work
//            anywhere in the block.
//   stream   cByteReader in(stream, window): a cFileIOTarget read from its
//            current position through a read-ahead window of `window` bytes,
//            refilled as it empties, so that byte-at-a-time decoders (RLE
//            packets, GIF sub-blocks, header text) cost no stream call per
//            byte and the picture is never held whole.  A window of exactly
//            the header's size reads no byte beyond it.  tell() counts from
//            `base` (the stream's position when the reader was made); seek()
//            moves the stream; sync() leaves the stream at tell() for code
//            that goes on reading it directly.  A failed read of a streamed
//            reader leaves it at the end of what the stream had.
//
//     std::uint32_t offset = 0;
//     if (!in.read_u32le(offset) || !in.seek(offset)) return false;
//
// Bytes already in hand (a row being converted, a table read whole) are
// decoded with the static u16le/u32le/u16be/u32be, the only endian helpers
// of the parsers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

class cFileIOTarget;

class cByteReader {
public:
    // The read-ahead of streamed decoders that read byte by byte.
    static constexpr std::size_t kStreamWindow = 64 * 1024;

    cByteReader() = default;
    cByteReader(const void* data, std::size_t size)
        : data_(static_cast<const unsigned char*>(data)), size_(data ? size : 0) {}
    // Streamed; window is at least 1; base is the stream's position now.
    cByteReader(cFileIOTarget* stream, std::size_t window, unsigned long long base)
        : stream_(stream), base_(base), window_(window ? window : 1) {}
    // A stream is never read as memory: the streamed form names its base.
    cByteReader(cFileIOTarget* stream, std::size_t size) = delete;

    cByteReader(const cByteReader& o) { *this = o; }
    cByteReader& operator=(const cByteReader& o);

    // --- bytes in hand -----------------------------------------------------
    static std::uint16_t u16le(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
    static std::uint16_t u16be(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }
    static std::uint32_t u32le(const unsigned char* p) {
        return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
               static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
    }
    static std::uint32_t u32be(const unsigned char* p) {
        return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
               static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
    }
    static std::uint16_t u16(const unsigned char* p, bool bigEndian) { return bigEndian ? u16be(p) : u16le(p); }
    static std::uint32_t u32(const unsigned char* p, bool bigEndian) { return bigEndian ? u32be(p) : u32le(p); }

    // --- position ----------------------------------------------------------
    bool streamed() const { return stream_ != nullptr; }
    cFileIOTarget* stream() const { return stream_; }
    // Memory: the block's size.  Streamed: the stream's size (-1 unknown).
    long long sourceSize() const;
    // Memory: the block's size.  Streamed: the bytes held in the window.
    std::size_t size() const { return size_; }
    std::size_t tell() const { return static_cast<std::size_t>(base_ + pos_); }
    // Memory: the bytes left.  Streamed: the bytes left in the window.
    std::size_t remaining() const { return size_ - pos_; }
    bool atEnd() { return pos_ == size_ && !(stream_ && refill(1)); }
    // Whether n more bytes are in hand (streamed: in the window).
    bool has(std::size_t n) const { return n <= size_ - pos_; }
    const unsigned char* data() const { return data_; }
    // The bytes at the current position (valid for remaining() bytes).
    const unsigned char* current() const { return data_ + pos_; }

    // Memory: any position in the block.  Streamed: the stream moves there.
    bool seek(std::size_t pos);
    bool skip(std::size_t n) {
        if (has(n)) {
            pos_ += n;
            return true;
        }
        return stream_ && skipStreamed(n);
    }
    // Streamed: the stream's position set to tell(), the window dropped.
    bool sync();
    // Exactly n bytes of a stream at `at` (a directory entry, a tag's
    // value): the one read of random-access parsers, no byte beyond.  The
    // stream's position does not move (see cFileIOTarget::readAt).
    static bool readAt(cFileIOTarget* stream, unsigned long long at, void* out, std::size_t n);

    // --- reads -------------------------------------------------------------
    bool byte(unsigned char& b) {
        if (pos_ == size_ && !(stream_ && refill(1))) return false;
        b = data_[pos_++];
        return true;
    }
    bool read(void* out, std::size_t n) {
        if (has(n)) {
            if (n) std::memcpy(out, data_ + pos_, n);
            pos_ += n;
            return true;
        }
        return stream_ && readStreamed(static_cast<unsigned char*>(out), n) == n;
    }
    // Up to n bytes into out: the count the source still had.
    std::size_t readSome(void* out, std::size_t n) {
        if (has(n) || !stream_) {
            const std::size_t take = n < size_ - pos_ ? n : size_ - pos_;
            if (take) std::memcpy(out, data_ + pos_, take);
            pos_ += take;
            return take;
        }
        return readStreamed(static_cast<unsigned char*>(out), n);
    }
    // Points `out` at the next n bytes without copying them (streamed: valid
    // until the next read; n at most the window).
    bool view(const unsigned char*& out, std::size_t n) {
        if (!has(n) && !(stream_ && n <= window_ && refill(n))) return false;
        out = data_ + pos_;
        pos_ += n;
        return true;
    }
    // Up to `most` of the next bytes in place, at least one unless the
    // source has ended: how many.  Streamed, with the window empty, a stream
    // over memory hands over its own bytes (valid while its memory is) and
    // the window is not filled.
    std::size_t viewSome(const unsigned char*& out, std::size_t most) {
        if (pos_ == size_) {
            if (!stream_) return 0;
            if (const std::size_t n = viewStreamed(out, most)) return n;
            if (!refill(1)) return 0;
        }
        const std::size_t n = most < size_ - pos_ ? most : size_ - pos_;
        out = data_ + pos_;
        pos_ += n;
        return n;
    }
    // A memory reader over the next n bytes; this reader moves past them.
    bool sub(cByteReader& out, std::size_t n) {
        const unsigned char* p = nullptr;
        if (!view(p, n)) return false;
        out = cByteReader(p, n);
        return true;
    }

    bool read_u8(std::uint8_t& v) { return byte(v); }
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
        if (!has(N) && !(stream_ && refill(N))) return false;
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

    // Streamed: at least n bytes in the window from pos_ (the unread ones
    // kept); false when the stream ends first (what it had stays held).
    bool refill(std::size_t n);
    std::size_t readStreamed(unsigned char* out, std::size_t n);
    // The stream's own bytes after the window, read through: how many (0
    // when the stream does not read in place).
    std::size_t viewStreamed(const unsigned char*& out, std::size_t most);
    bool skipStreamed(std::size_t n);

    const unsigned char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t pos_ = 0;
    // Streamed only.
    cFileIOTarget* stream_ = nullptr;
    unsigned long long base_ = 0;  // tell() of data_[0]
    std::size_t window_ = 0;
    std::unique_ptr<unsigned char[]> own_;  // the window's bytes (not zeroed)
    std::size_t cap_ = 0;
    bool ended_ = false;
};
