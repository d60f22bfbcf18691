// LZW decoding for GIF images and LZW-compressed TIFF strips, and the bit
// extraction under it.
//
// One decoder serves both formats through three construction parameters:
//   GIF:  cLZWDecompress(false, minimumCodeSize + 1, false)  codes packed
//         least significant bit first; the width grows when the next free
//         code reaches a power of two.
//   TIFF: cLZWDecompress(true, 9, true)  codes packed most significant bit
//         first; "early change": the width grows one code earlier.
// Codes are at most 12 bits wide.  The clear code is 1 << (initial width - 1),
// the end code follows it, and table codes start after the end code.
#pragma once

#include "base/arena.h"
#include "base/buffers.h"
#include "compression/decompress.h"

#include <cstdint>

// Reads a field of `bits` bits (1 to 16) that starts at bit `bitOffset` (0 to
// 7) of byte `bytePos`.  Only the bytes that hold the field are touched, so
// the caller checks that bytePos * 8 + bitOffset + bits does not pass the
// end of its data.  Out-of-range widths give 0.
class cVariableLengthAccess {
public:
    // Bit 0 is the most significant bit of a byte; fields run on into the
    // next byte's most significant bit (TIFF order).
    template <typename T>
    static void getValue(unsigned char const* data, long bytePos, unsigned char bitOffset, int bits, T& out) {
        if (bits <= 0 || bits > 16 || bitOffset > 7) {
            out = 0;
            return;
        }
        const unsigned char* p = data + bytePos;
        const int span = (bitOffset + bits + 7) / 8;
        std::uint32_t acc = 0;
        for (int i = 0; i < span; ++i) acc = (acc << 8) | p[i];
        acc >>= span * 8 - bitOffset - bits;
        out = static_cast<T>(acc & ((1u << bits) - 1));
    }

    // Bit 0 is the least significant bit of a byte; fields run on into the
    // next byte's least significant bit (GIF order).
    template <typename T>
    static void getValueLSB(unsigned char const* data, long bytePos, unsigned char bitOffset, int bits, T& out) {
        if (bits <= 0 || bits > 16 || bitOffset > 7) {
            out = 0;
            return;
        }
        const unsigned char* p = data + bytePos;
        const int span = (bitOffset + bits + 7) / 8;
        std::uint32_t acc = 0;
        for (int i = span - 1; i >= 0; --i) acc = (acc << 8) | p[i];
        out = static_cast<T>((acc >> bitOffset) & ((1u << bits) - 1));
    }
};

class cLZWDecompress : public cDecompress {
public:
    // Table codes after the end code: codes up to 4095 for 12-bit codes.
    static constexpr int kTableEntries = 4094;
    static constexpr int kMaxCodeBits = 12;

    // codeBits outside 1..9 becomes 9.
    cLZWDecompress(bool msbFirst, int codeBits, bool earlyChange);
    ~cLZWDecompress() override;
    cLZWDecompress(const cLZWDecompress&) = delete;
    cLZWDecompress& operator=(const cLZWDecompress&) = delete;

    int typeOf() override { return dtLZW; }

    // Decodes in from its first bit up to the end code; out receives the
    // decoded bytes.  Data may begin with or without a clear code.  True when
    // the end code is reached.  False for an empty input (out is left as it
    // was), for a code beyond the next free code, a code that cannot be
    // resolved, input that ends before the end code, and output that would
    // pass outputLimit(); out then holds what was decoded before (at most the
    // limit).
    bool decompress(_typebuf<unsigned char> const& in, _typebuf<unsigned char>& out) override;

    // The decoded bytes handed on as they are made instead of held: `sink`
    // receives them in order, in pieces of at most `window` bytes (at least
    // kMinWindow), and answers whether to go on.  Memory stays at the window
    // and the table's strings (a few megabytes at most) however long the
    // output: before the window is written over, the strings that lie in
    // it are copied out.  Results as decompress's, the bytes decoded before
    // a failure included; false also when the sink stops the decode.
    using tSink = bool (*)(void* context, const unsigned char* bytes, unsigned long long n);
    static constexpr unsigned long long kMinWindow = 8192;
    bool decompressTo(_typebuf<unsigned char> const& in, tSink sink, void* context,
                      unsigned long long window = 1ULL << 20);

    // The cap on one decode's output.  A caller that knows the size of the
    // picture or strip sets it to that size: the output is then written
    // straight into the buffer that out receives.
    void setOutputLimit(unsigned long long limit) { outputLimit_ = limit; }
    unsigned long long outputLimit() const { return outputLimit_; }

    unsigned short clearCode() const { return clearCode_; }
    unsigned short endCode() const { return endCode_; }
    unsigned short firstFreeCode() const { return firstFree_; }

private:
    // A table string: its bytes lie in the output already written (a string
    // is the previous code's output and the next byte after it) or, when
    // those bytes are not contiguous there, in the arena.
    struct sEntry {
        const unsigned char* bytes;
        unsigned int length;
    };

    bool decodeCodes();
    // The next code of the current width; false when fewer bits are left.
    bool getNextCode(unsigned short& code);
    void initTable();
    // The bytes of a code's string, null when the code has none yet.
    const unsigned char* getTableString(unsigned short code, unsigned int& length) const;
    // Adds bytes + byte (copied into the arena) as the next entry; false only
    // when memory runs out.
    bool addTableString(const unsigned char* bytes, unsigned int length, unsigned char byte);
    // Adds length bytes that already lie at bytes (in the output).
    void addEntry(const unsigned char* bytes, unsigned int length);
    // Moves the output to a buffer with room for `need` bytes past the
    // `used` written; the table's strings that lie in the output, and the
    // `count` pointers at `moving` that point there, move with it.  Throws std::bad_alloc when memory runs out.
    void growOutput(unsigned long long used, unsigned long long need, unsigned int entries,
                    const unsigned char** moving, int count);
    // Streaming: hands the `used` bytes of the window to the sink and
    // copies the table's strings that lie there, and the `count` strings at
    // `moving` (of `lengths` bytes), into the arena.  Throws std::bad_alloc
    // when memory runs out, sStopped when the sink says so.
    struct sStopped {};
    void passWindow(unsigned long long used, unsigned int entries, const unsigned char** moving,
                    const unsigned int* lengths, int count);

    // Input and bit reader: bits not yet used wait in bitBuffer_.
    const unsigned char* input_ = nullptr;
    unsigned long long inputBytes_ = 0;
    unsigned long long bytePos_ = 0;
    std::uint64_t bitBuffer_ = 0;
    unsigned int bitCount_ = 0;

    cIntegralMemory strings_;
    bool msbFirst_;
    bool earlyChange_;
    int initialBits_;
    unsigned short clearCode_;
    unsigned short endCode_;
    unsigned short firstFree_;
    int codeBits_;
    unsigned short entries_ = 0;
    sEntry table_[kTableEntries];
    // The output: one buffer, whose count is its capacity.  A decoder told
    // the size makes it that large at once; otherwise it starts at a guess
    // from the input's size and grows by moving, as a vector does.
    _typebuf<unsigned char> output_;
    unsigned long long outputBytes_ = 0;  // written in all
    unsigned long long windowBytes_ = 0;  // of them in output_ now
    tSink sink_ = nullptr;                // streaming when set
    void* sinkContext_ = nullptr;
    unsigned long long outputLimit_ = kDefaultDecodeOutputLimit;
};
