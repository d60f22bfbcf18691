#include "compression/lzw.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

namespace {

// A limit up to this size is taken as the output's size and allocated at
// once (untouched pages cost nothing); the default limit is not.
constexpr unsigned long long kPresizeUpTo = 1ULL << 30;

constexpr std::array<unsigned char, 256> makeLiterals() {
    std::array<unsigned char, 256> t{};
    for (int i = 0; i < 256; ++i) t[static_cast<std::size_t>(i)] = static_cast<unsigned char>(i);
    return t;
}

// The one-byte strings of the literal codes, shared by every decoder.
constexpr std::array<unsigned char, 256> kLiterals = makeLiterals();

}  // namespace

cLZWDecompress::cLZWDecompress(bool msbFirst, int codeBits, bool earlyChange)
    : msbFirst_(msbFirst),
      earlyChange_(earlyChange),
      initialBits_(codeBits >= 1 && codeBits <= 9 ? codeBits : 9),
      clearCode_(static_cast<unsigned short>(1u << (initialBits_ - 1))),
      endCode_(static_cast<unsigned short>(clearCode_ + 1)),
      firstFree_(static_cast<unsigned short>(clearCode_ + 2)),
      codeBits_(initialBits_) {}

cLZWDecompress::~cLZWDecompress() = default;

// Takes whole bytes into the bit buffer until it holds a code; a code is at
// most 12 bits, so at most two bytes are needed and nothing is ever read
// past the end of the input.
inline bool cLZWDecompress::getNextCode(unsigned short& code) {
    const unsigned int width = static_cast<unsigned int>(codeBits_);
    while (bitCount_ < width) {
        if (bytePos_ >= inputBytes_) return false;
        const std::uint64_t byte = input_[bytePos_++];
        if (msbFirst_)
            bitBuffer_ = (bitBuffer_ << 8) | byte;
        else
            bitBuffer_ |= byte << bitCount_;
        bitCount_ += 8;
    }
    const std::uint64_t mask = (1u << width) - 1;
    if (msbFirst_) {
        code = static_cast<unsigned short>((bitBuffer_ >> (bitCount_ - width)) & mask);
    } else {
        code = static_cast<unsigned short>(bitBuffer_ & mask);
        bitBuffer_ >>= width;
    }
    bitCount_ -= width;
    return true;
}

void cLZWDecompress::initTable() {
    entries_ = 0;
    codeBits_ = initialBits_;
    strings_.destroy();
}

inline const unsigned char* cLZWDecompress::getTableString(unsigned short code, unsigned int& length) const {
    if (code < clearCode_) {
        length = 1;
        return &kLiterals[code & 0xFF];
    }
    const unsigned int index = static_cast<unsigned int>(code) - firstFree_;
    if (code >= firstFree_ && index < static_cast<unsigned int>(kTableEntries) && index < entries_) {
        length = table_[index].length;
        return table_[index].bytes;
    }
    length = 0;
    return nullptr;
}

inline void cLZWDecompress::addEntry(const unsigned char* bytes, unsigned int length) {
    // A full table takes nothing more until the next clear code.
    if (entries_ >= kTableEntries) return;
    table_[entries_] = sEntry{bytes, length};
    ++entries_;
    // GIF widens when the next free code reaches a power of two, TIFF ("early
    // change") one code before; never past 12 bits.
    const unsigned int next = static_cast<unsigned short>(firstFree_ + entries_) + (earlyChange_ ? 1u : 0u);
    if ((next & (next - 1)) == 0 && codeBits_ < kMaxCodeBits) ++codeBits_;
}

bool cLZWDecompress::addTableString(const unsigned char* bytes, unsigned int length, unsigned char byte) {
    if (entries_ >= kTableEntries) return true;
    auto* s = static_cast<unsigned char*>(strings_.alloc(static_cast<long long>(length) + 1));
    if (!s) return false;
    std::memcpy(s, bytes, length);
    s[length] = byte;
    addEntry(s, length + 1);
    return true;
}

inline const unsigned char* cLZWDecompress::writeString(const unsigned char* bytes, unsigned int length) {
    const unsigned long long left = outputLimit_ - output_.total();
    if (length > left) {
        if (left > 0) {
            std::memcpy(output_.reserve(static_cast<long long>(left)), bytes, static_cast<std::size_t>(left));
            output_.commit(static_cast<long long>(left));
        }
        return nullptr;
    }
    unsigned char* at = output_.reserve(length);
    if (length == 1)
        *at = *bytes;
    else
        std::memcpy(at, bytes, length);
    output_.commit(length);
    return at;
}

bool cLZWDecompress::decodeCodes() {
    // Data starts as after a clear code: its first code is a literal and adds
    // no entry (some writers omit the leading clear code).
    const unsigned char* prev = nullptr;  // the previous code's string in the output
    unsigned int prevLength = 0;
    unsigned short code = 0;
    for (;;) {
        if (!getNextCode(code)) return false;  // the input ended without the end code
        if (code == endCode_) return true;
        if (code == clearCode_) {
            initTable();
            prev = nullptr;
            continue;
        }
        unsigned int length = 0;
        const unsigned char* str = getTableString(code, length);
        const unsigned char* written;
        if (!prev) {
            if (!str) return false;  // only literals are known right after a clear code
            if (!(written = writeString(str, length))) return false;
        } else if (str) {
            if (!(written = writeString(str, length))) return false;
            // The new entry is the previous string and this string's first
            // byte: in the output they follow each other unless a new chunk
            // began in between.
            if (prev + prevLength == written)
                addEntry(prev, prevLength + 1);
            else if (!addTableString(prev, prevLength, str[0]))
                return false;
        } else {
            // The one code the decoder may meet before its entry exists: the
            // next free code, whose string is the previous string and its own
            // first byte.
            if (code != firstFree_ + entries_ || entries_ >= kTableEntries) return false;
            length = prevLength + 1;
            const unsigned long long left = outputLimit_ - output_.total();
            unsigned char* at = output_.reserve(length);
            std::memcpy(at, prev, prevLength);
            at[prevLength] = prev[0];
            if (length > left) {
                output_.commit(static_cast<long long>(left));
                return false;
            }
            output_.commit(length);
            addEntry(at, length);
            written = at;
        }
        prev = written;
        prevLength = length;
    }
}

bool cLZWDecompress::decompress(_typebuf<unsigned char> const& in, _typebuf<unsigned char>& out) {
    if (!in.data() || in.count() == 0) return false;
    input_ = in.data();
    inputBytes_ = static_cast<unsigned long long>(in.count());
    bytePos_ = 0;
    bitBuffer_ = 0;
    bitCount_ = 0;
    output_.reset(outputLimit_ > 0 && outputLimit_ <= kPresizeUpTo ? static_cast<long long>(outputLimit_) : 0);
    initTable();
    bool ok = false;
    try {
        ok = decodeCodes();
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    if (!output_.moveTo(out)) ok = false;
    strings_.destroy();
    input_ = nullptr;
    inputBytes_ = 0;
    return ok;
}
