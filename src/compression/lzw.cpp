#include "compression/lzw.h"

#include "base/memio.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

namespace {

constexpr long long kPageBytes = 65536;

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
      codeBits_(initialBits_),
      output_(new cMemIOTarget(kPageBytes)) {}

cLZWDecompress::~cLZWDecompress() { delete output_; }

bool cLZWDecompress::getNextCode(unsigned short& code) {
    const unsigned long long at = bytePos_ * 8 + bitOffset_;
    if (at + static_cast<unsigned long long>(codeBits_) > inputBits_) return false;
    if (msbFirst_)
        cVariableLengthAccess::getValue(input_, static_cast<long>(bytePos_), bitOffset_, codeBits_, code);
    else
        cVariableLengthAccess::getValueLSB(input_, static_cast<long>(bytePos_), bitOffset_, codeBits_, code);
    const unsigned int bits = bitOffset_ + static_cast<unsigned int>(codeBits_);
    bytePos_ += bits / 8;
    bitOffset_ = static_cast<unsigned char>(bits % 8);
    return true;
}

void cLZWDecompress::initTable() {
    entries_ = 0;
    codeBits_ = initialBits_;
    strings_.destroy();
}

const unsigned char* cLZWDecompress::getTableString(unsigned short code, unsigned int& length) const {
    if (code < clearCode_) {
        length = 1;
        return &kLiterals[code & 0xFF];
    }
    if (code >= firstFree_) {
        const unsigned int index = code - firstFree_;
        if (index < static_cast<unsigned int>(kTableEntries) && index < entries_) {
            length = table_[index].length;
            return table_[index].bytes;
        }
    }
    length = 0;
    return nullptr;
}

bool cLZWDecompress::addTableString(const unsigned char* bytes, unsigned int length, unsigned char byte) {
    // A full table takes nothing more until the next clear code.
    if (entries_ >= kTableEntries) return true;
    auto* s = static_cast<unsigned char*>(strings_.alloc(static_cast<long long>(length) + 1));
    if (!s) return false;
    std::memcpy(s, bytes, length);
    s[length] = byte;
    table_[entries_] = sEntry{s, length + 1};
    ++entries_;
    const unsigned int next = static_cast<unsigned short>(firstFree_ + entries_) + (earlyChange_ ? 1u : 0u);
    if ((next & (next - 1)) == 0 && codeBits_ < kMaxCodeBits) ++codeBits_;
    return true;
}

bool cLZWDecompress::flushStaging() {
    if (staged_ == 0) return true;
    const unsigned int put = output_->write(staging_.data(), static_cast<unsigned int>(staged_));
    if (!cFileIOTarget::transferred(put) || put != static_cast<unsigned int>(staged_)) return false;
    staged_ = 0;
    return true;
}

bool cLZWDecompress::writeString(const unsigned char* bytes, unsigned int length) {
    bool complete = true;
    if (length > outputLimit_ - outPos_) {
        length = static_cast<unsigned int>(outputLimit_ - outPos_);
        complete = false;
    }
    while (length > 0) {
        if (staged_ == staging_.count() && !flushStaging()) return false;
        const unsigned int take = static_cast<unsigned int>(
            std::min<long long>(static_cast<long long>(length), staging_.count() - staged_));
        std::memcpy(staging_.data() + staged_, bytes, take);
        staged_ += take;
        bytes += take;
        length -= take;
        outPos_ += take;
    }
    return complete;
}

bool cLZWDecompress::decodeCodes() {
    // Data starts as after a clear code: its first code is a literal and adds
    // no entry (some writers omit the leading clear code).
    const unsigned char* prev = nullptr;
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
        if (!prev) {
            if (!str) return false;  // only literals are known right after a clear code
        } else if (str) {
            if (!addTableString(prev, prevLength, str[0])) return false;
        } else {
            // The one code the decoder may meet before its entry exists: the
            // next free code, whose string is the previous string plus its own
            // first byte.
            if (code != firstFree_ + entries_ || entries_ >= kTableEntries) return false;
            if (!addTableString(prev, prevLength, prev[0])) return false;
            str = table_[entries_ - 1].bytes;
            length = table_[entries_ - 1].length;
        }
        if (!writeString(str, length)) return false;
        prev = str;
        prevLength = length;
    }
}

bool cLZWDecompress::decompress(_typebuf<unsigned char> const& in, _typebuf<unsigned char>& out) {
    if (!in.data() || in.count() == 0) return false;
    input_ = in.data();
    inputBits_ = static_cast<unsigned long long>(in.count()) * 8;
    bytePos_ = 0;
    bitOffset_ = 0;
    output_->reset();
    outPos_ = 0;
    staged_ = 0;
    initTable();
    bool ok = false;
    try {
        if (staging_.count() == 0) staging_.set(kPageBytes);
        ok = decodeCodes();
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    if (!flushStaging()) ok = false;
    if (!output_->toBuffer(out)) ok = false;
    output_->reset();
    strings_.destroy();
    input_ = nullptr;
    inputBits_ = 0;
    return ok;
}
