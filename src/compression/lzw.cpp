#include "compression/lzw.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <new>

namespace {

// A limit up to this size is taken as the output's size and allocated at
// once (untouched pages cost nothing); the default limit is not.
constexpr unsigned long long kPresizeUpTo = 1ULL << 30;

// Without a size, the output's room starts at this many bytes for each
// input byte (at least kFirstGuess), which holds most pictures and strips
// whole; what decodes to more grows the buffer by doubling.
constexpr unsigned long long kGuessPerInputByte = 8;
constexpr unsigned long long kFirstGuess = 65536;

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

// Rare: once for a decoder whose guess was short, a few times for output
// that compresses far better than the guess assumed.  Out of line so that
// the decoding loop stays small.
__attribute__((noinline)) void cLZWDecompress::growOutput(unsigned long long used, unsigned long long need,
                                                          unsigned int entries, const unsigned char** moving,
                                                          int count) {
    const unsigned long long doubled = 2 * static_cast<unsigned long long>(output_.count());
    const unsigned long long size = std::max(used + need, std::min(doubled, outputLimit_));
    _typebuf<unsigned char> bigger(static_cast<long long>(size));
    qor_detail::preferHugePagesUnfilled(bigger.data(), static_cast<std::size_t>(size));
    const std::uintptr_t from = reinterpret_cast<std::uintptr_t>(output_.data());
    unsigned char* const to = bigger.data();
    if (used > 0) std::memcpy(to, output_.data(), static_cast<std::size_t>(used));
    // Pointers into the written bytes follow them; others (the arena's
    // strings, the literals) stay.
    auto follow = [&](const unsigned char*& p) {
        const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(p) - from;
        if (at < used) p = to + at;
    };
    for (unsigned int i = 0; i < entries; ++i) follow(table_[i].bytes);
    for (int i = 0; i < count; ++i) follow(moving[i]);
    output_.swap(bigger);
}

__attribute__((noinline)) void cLZWDecompress::passWindow(unsigned long long used, unsigned int entries,
                                                          const unsigned char** moving, const unsigned int* lengths,
                                                          int count) {
    if (used > 0 && !sink_(sinkContext_, output_.data(), used)) throw sStopped();
    const std::uintptr_t from = reinterpret_cast<std::uintptr_t>(output_.data());
    auto keep = [&](const unsigned char*& p, unsigned int length) {
        if (reinterpret_cast<std::uintptr_t>(p) - from >= used) return;
        // A byte to spare: a copy never ends where the window (or anything
        // else) begins, so the previous string is never taken to run on
        // into the window's next bytes.
        auto* copy = static_cast<unsigned char*>(strings_.alloc(static_cast<long long>(length) + 1));
        if (!copy) throw std::bad_alloc();
        std::memcpy(copy, p, length);
        p = copy;
    };
    for (unsigned int i = 0; i < entries; ++i) keep(table_[i].bytes, table_[i].length);
    for (int i = 0; i < count; ++i)
        if (moving[i]) keep(moving[i], lengths[i]);
}

bool cLZWDecompress::decodeCodes() {
    // The loop keeps the bit reader, the table's size and the output position
    // in locals: written through byte pointers, the output could alias any
    // member, so members would be reloaded after every string.  What the
    // loop leaves is put back by `flush` on every way out.
    const unsigned char* const in = input_;
    const unsigned long long inBytes = inputBytes_;
    unsigned long long pos = bytePos_;
    std::uint64_t bitBuffer = bitBuffer_;
    unsigned int bitCount = bitCount_;
    unsigned int width = static_cast<unsigned int>(codeBits_);
    unsigned int entries = entries_;
    const bool msbFirst = msbFirst_;
    const unsigned int clearCode = clearCode_, endCode = endCode_, firstFree = firstFree_;
    const unsigned int widenBias = earlyChange_ ? 1u : 0u;
    const unsigned long long limit = outputLimit_;

    // Output: `o` is the next free byte of the buffer, `room` what is left
    // after it, `produced` what was written before it.
    unsigned long long produced = 0;
    unsigned char* o = output_.data();
    long long room = output_.count();
    const unsigned char* prev = nullptr;  // the previous code's string in the output
    unsigned int prevLength = 0;

    auto flush = [&]() {
        outputBytes_ = produced;
        windowBytes_ = static_cast<unsigned long long>(o - output_.data());
        bytePos_ = pos;
        bitBuffer_ = bitBuffer;
        bitCount_ = bitCount;
        codeBits_ = static_cast<int>(width);
        entries_ = static_cast<unsigned short>(entries);
    };
    // Room for n bytes at o (never past the limit: callers check it first).
    // A move of the output takes `src` (of srcLength bytes) along when it
    // points there.
    auto makeRoom = [&](unsigned int n, const unsigned char*& src, unsigned int srcLength) {
        if (static_cast<long long>(n) <= room) return;
        const unsigned char* moving[2] = {src, prev};
        outputBytes_ = produced;  // kept when memory runs out
        if (sink_) {
            // The window is handed on and used again from its start.
            const unsigned int lengths[2] = {srcLength, prevLength};
            windowBytes_ = 0;
            passWindow(static_cast<unsigned long long>(o - output_.data()), entries, moving, lengths, 2);
            o = output_.data();
            room = output_.count();
        } else {
            growOutput(produced, n, entries, moving, 2);
            o = output_.data() + produced;
            room = output_.count() - static_cast<long long>(produced);
        }
        src = moving[0];
        prev = moving[1];
    };
    auto put = [&](const unsigned char* bytes, unsigned int n) {
        makeRoom(n, bytes, n);
        unsigned char* at = o;
        if (n <= 64)
            qor_detail::copySmall(at, bytes, n);
        else
            std::memcpy(at, bytes, n);
        o += n;
        room -= n;
        produced += n;
        return at;
    };
    auto addEntryAt = [&](const unsigned char* bytes, unsigned int length) {
        // A full table takes nothing more until the next clear code.
        if (entries >= static_cast<unsigned int>(kTableEntries)) return;
        table_[entries] = sEntry{bytes, length};
        ++entries;
        // GIF widens when the next free code reaches a power of two, TIFF
        // ("early change") one code before; never past 12 bits.
        const unsigned int next = static_cast<unsigned short>(firstFree + entries) + widenBias;
        if ((next & (next - 1)) == 0 && width < static_cast<unsigned int>(kMaxCodeBits)) ++width;
    };

    // Data starts as after a clear code: its first code is a literal and adds
    // no entry (some writers omit the leading clear code).
    for (;;) {
        // The next code.  Whole bytes only ever enter the bit buffer, and
        // never one past the end of the input; with eight bytes ahead, as
        // many as fit go in at once (least significant bit first: the bits
        // above the count then already hold the bytes that come next).
        if (bitCount < width) {
            if (!msbFirst && pos + 8 <= inBytes) {
                std::uint64_t word;
                std::memcpy(&word, in + pos, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
                word = __builtin_bswap64(word);
#endif
                bitBuffer |= word << bitCount;
                const unsigned int take = (63 - bitCount) >> 3;
                pos += take;
                bitCount += take * 8;
            } else {
                while (bitCount < width) {
                    if (pos >= inBytes) {
                        flush();
                        return false;  // the input ended without the end code
                    }
                    const std::uint64_t byte = in[pos++];
                    if (msbFirst)
                        bitBuffer = (bitBuffer << 8) | byte;
                    else
                        bitBuffer |= byte << bitCount;
                    bitCount += 8;
                }
            }
        }
        const std::uint64_t mask = (1u << width) - 1;
        unsigned int code;
        if (msbFirst) {
            code = static_cast<unsigned int>((bitBuffer >> (bitCount - width)) & mask);
        } else {
            code = static_cast<unsigned int>(bitBuffer & mask);
            bitBuffer >>= width;
        }
        bitCount -= width;

        if (code == endCode) {
            flush();
            return true;
        }
        if (code == clearCode) {
            entries = 0;
            width = static_cast<unsigned int>(initialBits_);
            strings_.destroy();
            prev = nullptr;
            continue;
        }
        // The code's string: a literal, a table entry, or none yet.
        const unsigned char* str = nullptr;
        unsigned int length = 0;
        if (code < clearCode) {
            str = &kLiterals[code & 0xFF];
            length = 1;
        } else if (code >= firstFree && code - firstFree < entries) {
            str = table_[code - firstFree].bytes;
            length = table_[code - firstFree].length;
        }
        const unsigned char* written;
        if (str) {
            if (length > limit - produced) {
                // What fits is written; the rest would pass the limit.
                const unsigned int fits = static_cast<unsigned int>(limit - produced);
                if (fits > 0) put(str, fits);
                flush();
                return false;
            }
            if (length == 1) {
                makeRoom(1, str, 1);
                written = o;
                *o++ = *str;
                --room;
                ++produced;
            } else {
                written = put(str, length);
            }
            if (!prev) {
                // only literals are known right after a clear code
                if (code >= clearCode) {
                    flush();
                    return false;
                }
            } else if (prev + prevLength == written) {
                // The new entry is the previous string and this string's
                // first byte, which follow each other in the output.
                addEntryAt(prev, prevLength + 1);
            } else if (entries < static_cast<unsigned int>(kTableEntries)) {
                auto* copy = static_cast<unsigned char*>(strings_.alloc(static_cast<long long>(prevLength) + 1));
                if (!copy) {
                    flush();
                    return false;
                }
                std::memcpy(copy, prev, prevLength);
                copy[prevLength] = written[0];
                addEntryAt(copy, prevLength + 1);
            }
        } else {
            // The one code the decoder may meet before its entry exists: the
            // next free code, whose string is the previous string and its own
            // first byte.
            if (!prev || code != firstFree + entries || entries >= static_cast<unsigned int>(kTableEntries)) {
                flush();
                return false;
            }
            length = prevLength + 1;
            if (length > limit - produced) {
                // What fits is a start of the previous string.
                const unsigned int fits = static_cast<unsigned int>(limit - produced);
                if (fits > 0) put(prev, fits);
                flush();
                return false;
            }
            makeRoom(length, prev, prevLength);
            unsigned char* at = o;
            std::memcpy(at, prev, prevLength);
            at[prevLength] = prev[0];
            o += length;
            room -= length;
            produced += length;
            addEntryAt(at, length);
            written = at;
        }
        prev = written;
        prevLength = length;
    }
}

bool cLZWDecompress::decompressTo(_typebuf<unsigned char> const& in, tSink sink, void* context,
                                  unsigned long long window) {
    if (!in.data() || in.count() == 0 || !sink) return false;
    input_ = in.data();
    inputBytes_ = static_cast<unsigned long long>(in.count());
    bytePos_ = 0;
    bitBuffer_ = 0;
    bitCount_ = 0;
    outputBytes_ = windowBytes_ = 0;
    initTable();
    sink_ = sink;
    sinkContext_ = context;
    bool ok = false, stopped = false;
    try {
        // The output never waits for more than its window.
        output_.set(static_cast<long long>(std::max(window, kMinWindow)));
        ok = decodeCodes();
    } catch (const std::bad_alloc&) {
        ok = false;
    } catch (const sStopped&) {
        stopped = true;
    }
    // What the window holds goes on too, the bytes before a failure included.
    if (!stopped && windowBytes_ > 0 && !sink_(sinkContext_, output_.data(), windowBytes_)) ok = false;
    if (stopped) ok = false;
    output_.set(0);
    strings_.destroy();
    sink_ = nullptr;
    sinkContext_ = nullptr;
    input_ = nullptr;
    inputBytes_ = 0;
    return ok;
}

bool cLZWDecompress::decompress(_typebuf<unsigned char> const& in, _typebuf<unsigned char>& out) {
    if (!in.data() || in.count() == 0) return false;
    input_ = in.data();
    inputBytes_ = static_cast<unsigned long long>(in.count());
    bytePos_ = 0;
    bitBuffer_ = 0;
    bitCount_ = 0;
    outputBytes_ = 0;
    initTable();
    bool ok = false;
    try {
        if (outputLimit_ <= kPresizeUpTo) {
            // The size is known: written from end to end.
            output_.set(static_cast<long long>(outputLimit_));
            qor_detail::preferHugePages(output_.data(), static_cast<std::size_t>(outputLimit_));
        } else {
            // The limit lies past kPresizeUpTo here, so neither guess
            // reaches it.
            unsigned long long guess = std::min(kPresizeUpTo, std::max(kFirstGuess, kGuessPerInputByte * inputBytes_));
            try {
                output_.set(static_cast<long long>(guess));
            } catch (const std::bad_alloc&) {
                // A generous guess the system will not give: growing from
                // a small one only asks for what the output needs.
                guess = kFirstGuess;
                output_.set(static_cast<long long>(guess));
            }
            qor_detail::preferHugePagesUnfilled(output_.data(), static_cast<std::size_t>(guess));
        }
        ok = decodeCodes();
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    // The buffer goes to the caller as it is, the room past the output
    // left unwritten (and its pages untouched) as a vector's capacity.
    output_.truncate(static_cast<long long>(outputBytes_));
    out.swap(output_);
    output_.set(0);
    strings_.destroy();
    input_ = nullptr;
    inputBytes_ = 0;
    return ok;
}
