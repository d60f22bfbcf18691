#include "compression/blockdeflate.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

namespace {

constexpr std::int32_t kWindow = 32768;
constexpr std::int32_t kWindowMask = kWindow - 1;
constexpr int kMinMatch = 3;
constexpr int kMaxMatch = 258;
// zlib's level 9: candidates searched, a quarter of them after a match of
// kGoodMatch, and the farthest a three-byte match may reach (TOO_FAR).
constexpr int kMaxChain = 4096;
constexpr int kGoodMatch = 32;
constexpr std::int32_t kTooFar = 4096;
// Symbols a block holds before it is written (zlib's lit_bufsize - 1 at its
// default memory level).
constexpr std::size_t kBlockSymbols = 16383;
// Tables small enough to stay in the processor's second-level cache beside
// the window: on bytes that hardly match, waiting for them is the cost.
constexpr int kHash8Bits = 15, kHash4Bits = 15, kHash3Bits = 13;
constexpr std::int32_t kNone = -1;
// How many positions ahead the chain heads are fetched.
constexpr std::int32_t kPrefetchAhead = 2;

constexpr int kEndOfBlock = 256;
constexpr int kLitCodes = 286, kDistCodes = 30, kLenCodes = 19;
constexpr int kMaxBits = 15, kMaxLenBits = 7;
constexpr std::uint8_t kLenOrder[kLenCodes] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

std::uint32_t load32(const unsigned char* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
std::uint64_t load64(const unsigned char* p) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}
std::uint32_t hash8(const unsigned char* p) {
    return static_cast<std::uint32_t>((load64(p) * 0x9E3779B97F4A7C15ull) >> (64 - kHash8Bits));
}
std::uint32_t hash4(const unsigned char* p) { return (load32(p) * 2654435761u) >> (32 - kHash4Bits); }
std::uint32_t hash3(const unsigned char* p) {
    return ((load32(p) & 0xFFFFFFu) * 2654435761u) >> (32 - kHash3Bits);
}

// The bytes a and b have alike from `from` on, at most `most`; the first
// `from` are known alike.
int matchLength(const unsigned char* a, const unsigned char* b, int from, int most) {
    int n = from;
    while (n + 8 <= most) {
        const std::uint64_t x = load64(a + n) ^ load64(b + n);
        if (x) return n + (__builtin_ctzll(x) >> 3);
        n += 8;
    }
    while (n < most && a[n] == b[n]) ++n;
    return n;
}

// RFC 1951's length and distance codes: symbol, extra bits, base.
struct sCodeTables {
    std::uint8_t lenCode[256] = {};  // by length - 3: code - 257
    std::uint8_t lenExtra[29] = {};
    std::uint16_t lenBase[29] = {};
    std::uint8_t distExtra[30] = {};
    std::uint16_t distBase[30] = {};
    // The fixed codes' lengths.
    std::uint8_t fixedLit[288] = {};
    std::uint8_t fixedDist[30] = {};
    sCodeTables() {
        int base = 3;
        for (int c = 0; c < 28; ++c) {
            lenExtra[c] = static_cast<std::uint8_t>(c < 8 ? 0 : c / 4 - 1);
            lenBase[c] = static_cast<std::uint16_t>(base);
            for (int k = 0; k < (1 << lenExtra[c]); ++k) lenCode[base - 3 + k] = static_cast<std::uint8_t>(c);
            base += 1 << lenExtra[c];
        }
        // 258 has a code of its own, though 284's range would reach it.
        lenExtra[28] = 0;
        lenBase[28] = 258;
        lenCode[255] = 28;
        base = 1;
        for (int c = 0; c < 30; ++c) {
            distExtra[c] = static_cast<std::uint8_t>(c < 4 ? 0 : c / 2 - 1);
            distBase[c] = static_cast<std::uint16_t>(base);
            base += 1 << distExtra[c];
        }
        for (int s = 0; s < 288; ++s) fixedLit[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
        for (int s = 0; s < 30; ++s) fixedDist[s] = 5;
    }
};
const sCodeTables kCodes;

int distCode(unsigned dist) {
    const unsigned d = dist - 1;
    if (d < 4) return static_cast<int>(d);
    const int top = 31 - __builtin_clz(d);
    return 2 * top + static_cast<int>((d >> (top - 1)) & 1);
}

}  // namespace

void deflateCodeLengths(const std::uint32_t* freq, int symbols, int maxBits, std::uint8_t* len) {
    if (symbols < 2 || symbols > 288 || maxBits < 1 || maxBits > kMaxBits || (1 << maxBits) < symbols) {
        std::fill(len, len + std::max(symbols, 0), 0);
        return;
    }
    std::fill(len, len + symbols, 0);
    std::array<std::uint16_t, 288> used{};
    int m = 0;
    for (int s = 0; s < symbols; ++s)
        if (freq[s]) used[m++] = static_cast<std::uint16_t>(s);
    if (m < 2) {
        // The symbol used (or 0) and the next one each get one bit.
        const int a = m ? used[0] : 0;
        len[a] = 1;
        len[a == 0 ? 1 : 0] = 1;
        return;
    }
    std::sort(used.begin(), used.begin() + m, [&](std::uint16_t a, std::uint16_t b) {
        return freq[a] != freq[b] ? freq[a] < freq[b] : a < b;
    });
    // Two queues, leaves in order and the nodes made from them (made in
    // order of weight too), give the tree without a heap.
    std::array<std::uint64_t, 2 * 288> weight{};
    std::array<std::uint16_t, 2 * 288> parent{};
    for (int i = 0; i < m; ++i) weight[i] = freq[used[i]];
    int leaf = 0, node = m, made = m;
    auto takeLightest = [&]() {
        if (leaf < m && (node >= made || weight[leaf] <= weight[node])) return leaf++;
        return node++;
    };
    while (made < 2 * m - 1) {
        const int a = takeLightest();
        const int b = takeLightest();
        weight[made] = weight[a] + weight[b];
        parent[a] = parent[b] = static_cast<std::uint16_t>(made);
        ++made;
    }
    // Depths from the root (the last node made) down.
    std::array<std::uint8_t, 2 * 288> depth{};
    std::array<int, 64> count{};
    depth[2 * m - 2] = 0;
    for (int i = 2 * m - 3; i >= 0; --i) depth[i] = static_cast<std::uint8_t>(depth[parent[i]] + 1);
    for (int i = 0; i < m; ++i) ++count[std::min<int>(depth[i], maxBits)];
    // Folding longer lengths into maxBits oversubscribes the code; each
    // round takes one code of maxBits away and splits a shorter one in two,
    // lowering the Kraft sum by one unit of 2^-maxBits, until it is whole.
    std::uint64_t kraft = 0;
    for (int b = 1; b <= maxBits; ++b) kraft += static_cast<std::uint64_t>(count[b]) << (maxBits - b);
    while (kraft > (1ull << maxBits)) {
        --count[maxBits];
        for (int b = maxBits - 1; b > 0; --b) {
            if (count[b]) {
                --count[b];
                count[b + 1] += 2;
                break;
            }
        }
        --kraft;
    }
    // The rarest symbols take the longest codes.
    int at = 0;
    for (int b = maxBits; b > 0; --b)
        for (int k = 0; k < count[b]; ++k) len[used[at++]] = static_cast<std::uint8_t>(b);
}

namespace {

// Canonical codes for the lengths, bit-reversed for a writer that sends the
// lowest bit first.
void buildCodes(const std::uint8_t* len, int symbols, std::uint16_t* code) {
    int count[kMaxBits + 1] = {};
    for (int s = 0; s < symbols; ++s) ++count[len[s]];
    count[0] = 0;
    int next[kMaxBits + 2] = {};
    for (int b = 1, c = 0; b <= kMaxBits; ++b) {
        c = (c + count[b - 1]) << 1;
        next[b] = c;
    }
    for (int s = 0; s < symbols; ++s) {
        const int n = len[s];
        if (!n) continue;
        unsigned v = static_cast<unsigned>(next[n]++), r = 0;
        for (int i = 0; i < n; ++i, v >>= 1) r = (r << 1) | (v & 1);
        code[s] = static_cast<std::uint16_t>(r);
    }
}

// The code lengths of a dynamic block header, run-length coded with
// symbols 16 (repeat the last 3 to 6 times), 17 (3 to 10 zeros) and 18
// (11 to 138 zeros): each entry symbol | extra value << 8.
int codeLengthRuns(const std::uint8_t* lens, int n, std::uint16_t* runs) {
    int out = 0;
    for (int i = 0; i < n;) {
        const std::uint8_t v = lens[i];
        int run = 1;
        while (i + run < n && lens[i + run] == v) ++run;
        i += run;
        if (v == 0) {
            while (run >= 11) {
                const int take = std::min(run, 138);
                runs[out++] = static_cast<std::uint16_t>(18 | (take - 11) << 8);
                run -= take;
            }
            if (run >= 3) {
                runs[out++] = static_cast<std::uint16_t>(17 | (run - 3) << 8);
                run = 0;
            }
        } else {
            runs[out++] = v;
            --run;
            while (run >= 3) {
                const int take = std::min(run, 6);
                runs[out++] = static_cast<std::uint16_t>(16 | (take - 3) << 8);
                run -= take;
            }
        }
        while (run-- > 0) runs[out++] = v;
    }
    return out;
}

constexpr int kRunExtra[19] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};

// Walks the chain from c, whose links are how far back the position before
// each lies, for a match at p longer than best whose first kSure bytes are
// alike, at most `most` long: the longest goes to best and its distance to
// found.  Links are kept by position & kWindowMask; an entry is still its
// own while no position a window later has been put in its place, so the
// walk stops at the first candidate out of reach, and at any that is not
// older than the one before it.
template <int kSure>
void walkChain(const unsigned char* w, std::int32_t p, std::int32_t c, const std::uint16_t* links, int budget,
               int most, int& best, int& found) {
    const unsigned char* q = w + p;
    const std::int32_t oldest = p - kWindow;
    while (c > kNone && c >= oldest && budget-- > 0) {
        const unsigned char* m = w + c;
        if (m[best] == q[best] && (kSure == 8 ? load64(m) == load64(q) : load32(m) == load32(q))) {
            const int n = matchLength(m, q, kSure, most);
            if (n > best) {
                best = n;
                found = p - c;
                if (n >= most) break;
            }
        }
        const std::int32_t next = c - links[c & kWindowMask];
        if (next >= c) break;
        c = next;
    }
}

}  // namespace

// Bits written lowest first, whole 32-bit words at a time.
struct cBlockDeflater::sBits {
    unsigned char* out;
    std::size_t room;
    std::size_t at = 0;
    std::uint64_t acc = 0;
    int count = 0;
    bool full = false;

    void put(std::uint32_t v, int n) {
        acc |= static_cast<std::uint64_t>(v) << count;
        count += n;
        if (count >= 32) {
            if (room - at < 4) {
                full = true;
                at = room;
            } else {
                const std::uint32_t word = static_cast<std::uint32_t>(acc);
                for (int i = 0; i < 4; ++i) out[at + i] = static_cast<unsigned char>(word >> (8 * i));
                at += 4;
            }
            acc >>= 32;
            count -= 32;
        }
    }
    // Pads to a byte boundary and writes what is held.
    void align() {
        count = (count + 7) & ~7;
        while (count > 0) {
            if (at == room) {
                full = true;
            } else {
                out[at++] = static_cast<unsigned char>(acc);
            }
            acc >>= 8;
            count -= 8;
        }
        acc = 0;
        count = 0;
    }
    void bytes(const unsigned char* p, std::size_t n) {
        if (room - at < n) {
            full = true;
            at = room;
            return;
        }
        std::memcpy(out + at, p, n);
        at += n;
    }
};

cBlockDeflater::cBlockDeflater()
    : head8_(1u << kHash8Bits), head4_(1u << kHash4Bits), head3_(1u << kHash3Bits), prev8_(kWindow), prev4_(kWindow) {
    syms_.reserve(kBlockSymbols);
}

void cBlockDeflater::slide() {
    // The heads hold 16-bit offsets from slide_: moving it on by a window
    // forgets the positions a window further back, which no later position
    // can reach.
    for (auto* t : {&head8_, &head4_, &head3_})
        for (std::uint16_t& v : *t) v = v > kWindow ? static_cast<std::uint16_t>(v - kWindow) : 0;
    slide_ += kWindow;
}

cBlockDeflater::sKeys cBlockDeflater::keys(std::int32_t p) const {
    const unsigned char* s = w_ + p;
    const std::int32_t left = end_ - p;
    sKeys k;
    k.at = p;
    if (left >= 8) k.h8 = hash8(s);
    if (left >= 4) {
        k.h4 = hash4(s);
        k.h3 = hash3(s);
    } else if (left >= 3) {
        const std::uint32_t v = s[0] | s[1] << 8 | s[2] << 16;
        unsigned char b[4];
        std::memcpy(b, &v, 4);
        k.h3 = hash3(b);
    }
    return k;
}

void cBlockDeflater::insert(std::int32_t p, const sKeys& k) {
    if (p - slide_ >= 0xFFFF) slide();
    const std::uint16_t mark = static_cast<std::uint16_t>(p - slide_ + 1);
    if (k.h8 != sKeys::kNoKey) {
        std::uint16_t& h = head8_[k.h8];
        prev8_[p & kWindowMask] = link(p, h);
        h = mark;
    }
    if (k.h4 != sKeys::kNoKey) {
        std::uint16_t& h = head4_[k.h4];
        prev4_[p & kWindowMask] = link(p, h);
        h = mark;
    }
    if (k.h3 != sKeys::kNoKey) head3_[k.h3] = mark;
}

int cBlockDeflater::longest(std::int32_t p, const sKeys& k, int better, int& dist) const {
    const int most = static_cast<int>(std::min<std::int32_t>(kMaxMatch, end_ - p));
    int best = std::max(better, kMinMatch - 1);
    if (most <= best) return 0;
    const unsigned char* q = w_ + p;
    const int budget = better >= kGoodMatch ? kMaxChain / 4 : kMaxChain;
    int found = 0;
    if (most >= 8) walkChain<8>(w_, p, position(head8_[k.h8]), prev8_.data(), budget, most, best, found);
    // A match of eight or more would have been on that chain.
    const int shortMost = std::min(most, 7);
    if (best < shortMost && most >= 4)
        walkChain<4>(w_, p, position(head4_[k.h4]), prev4_.data(), budget, shortMost, best, found);
    if (found) {
        dist = found;
        return best;
    }
    if (best < kMinMatch) {
        const std::int32_t c = position(head3_[k.h3]);
        if (c > kNone && c < p && p - c <= kTooFar && w_[c] == q[0] && w_[c + 1] == q[1] && w_[c + 2] == q[2]) {
            dist = p - c;
            return kMinMatch;
        }
    }
    return 0;
}

bool cBlockDeflater::flushBlock(sBits& bits, std::int32_t from, std::int32_t to, bool final) {
    std::uint8_t litLen[kLitCodes], distLen[kDistCodes];
    litFreq_[kEndOfBlock] = 1;
    deflateCodeLengths(litFreq_, kLitCodes, kMaxBits, litLen);
    deflateCodeLengths(distFreq_, kDistCodes, kMaxBits, distLen);

    int nLit = kLitCodes, nDist = kDistCodes;
    while (nLit > 257 && !litLen[nLit - 1]) --nLit;
    while (nDist > 1 && !distLen[nDist - 1]) --nDist;
    std::uint8_t all[kLitCodes + kDistCodes];
    std::memcpy(all, litLen, nLit);
    std::memcpy(all + nLit, distLen, nDist);
    std::uint16_t runs[kLitCodes + kDistCodes];
    const int nRuns = codeLengthRuns(all, nLit + nDist, runs);
    std::uint32_t runFreq[kLenCodes] = {};
    for (int i = 0; i < nRuns; ++i) ++runFreq[runs[i] & 0xFF];
    std::uint8_t runLen[kLenCodes];
    deflateCodeLengths(runFreq, kLenCodes, kMaxLenBits, runLen);
    int nLen = kLenCodes;
    while (nLen > 4 && !runLen[kLenOrder[nLen - 1]]) --nLen;

    // Each way's size in bits, the extra bits of lengths and distances
    // being the same for both coded ones.
    std::uint64_t extra = 0, dynamicBits = 3 + 5 + 5 + 4 + 3ull * nLen, fixedBits = 3;
    for (int i = 0; i < nRuns; ++i) dynamicBits += runLen[runs[i] & 0xFF] + kRunExtra[runs[i] & 0xFF];
    for (int s = 0; s < kLitCodes; ++s) {
        dynamicBits += static_cast<std::uint64_t>(litFreq_[s]) * litLen[s];
        fixedBits += static_cast<std::uint64_t>(litFreq_[s]) * kCodes.fixedLit[s];
        if (s > kEndOfBlock) extra += static_cast<std::uint64_t>(litFreq_[s]) * kCodes.lenExtra[s - 257];
    }
    for (int s = 0; s < kDistCodes; ++s) {
        dynamicBits += static_cast<std::uint64_t>(distFreq_[s]) * distLen[s];
        fixedBits += static_cast<std::uint64_t>(distFreq_[s]) * kCodes.fixedDist[s];
        extra += static_cast<std::uint64_t>(distFreq_[s]) * kCodes.distExtra[s];
    }
    dynamicBits += extra;
    fixedBits += extra;
    const std::size_t raw = static_cast<std::size_t>(to - from);
    const std::uint64_t pieces = raw ? (raw + 65534) / 65535 : 1;
    // Stored: each piece's 3 header bits, padding to a byte (7 at most, the
    // first piece's taken exactly) and 32 bits of lengths.
    const int pad = (8 - (bits.count + 3) % 8) % 8;
    const std::uint64_t storedBits = pieces * (3 + 32) + pad + (pieces - 1) * 5 + 8ull * raw;

    if (storedBits <= fixedBits && storedBits <= dynamicBits) {
        for (std::size_t done = 0;;) {
            const std::size_t n = std::min<std::size_t>(raw - done, 65535);
            const bool lastPiece = done + n == raw;
            bits.put(final && lastPiece ? 1 : 0, 3);
            bits.align();
            const unsigned char head[4] = {static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8),
                                           static_cast<unsigned char>(~n), static_cast<unsigned char>(~n >> 8)};
            bits.bytes(head, 4);
            bits.bytes(w_ + from + done, n);
            done += n;
            if (lastPiece) break;
        }
    } else {
        const bool fixed = fixedBits <= dynamicBits;
        std::uint16_t litCode[288], distCodes[kDistCodes];
        const std::uint8_t* lit = fixed ? kCodes.fixedLit : litLen;
        const std::uint8_t* dist = fixed ? kCodes.fixedDist : distLen;
        buildCodes(lit, fixed ? 288 : kLitCodes, litCode);
        buildCodes(dist, kDistCodes, distCodes);
        bits.put((final ? 1 : 0) | (fixed ? 1 : 2) << 1, 3);
        if (!fixed) {
            std::uint16_t runCode[kLenCodes];
            buildCodes(runLen, kLenCodes, runCode);
            bits.put(static_cast<std::uint32_t>(nLit - 257), 5);
            bits.put(static_cast<std::uint32_t>(nDist - 1), 5);
            bits.put(static_cast<std::uint32_t>(nLen - 4), 4);
            for (int i = 0; i < nLen; ++i) bits.put(runLen[kLenOrder[i]], 3);
            for (int i = 0; i < nRuns; ++i) {
                const int s = runs[i] & 0xFF;
                bits.put(runCode[s], runLen[s]);
                if (kRunExtra[s]) bits.put(runs[i] >> 8, kRunExtra[s]);
            }
        }
        for (const std::uint32_t sym : syms_) {
            const unsigned d = sym >> 8;
            if (!d) {
                bits.put(litCode[sym], lit[sym]);
                continue;
            }
            const int lc = kCodes.lenCode[sym & 0xFF];
            const int dc = distCode(d);
            bits.put(static_cast<std::uint32_t>(litCode[257 + lc]) |
                         static_cast<std::uint32_t>((sym & 0xFF) + 3 - kCodes.lenBase[lc]) << lit[257 + lc],
                     lit[257 + lc] + kCodes.lenExtra[lc]);
            bits.put(static_cast<std::uint32_t>(distCodes[dc]) | (d - kCodes.distBase[dc]) << dist[dc],
                     dist[dc] + kCodes.distExtra[dc]);
        }
        bits.put(litCode[kEndOfBlock], lit[kEndOfBlock]);
    }
    syms_.clear();
    std::fill(std::begin(litFreq_), std::end(litFreq_), 0u);
    std::fill(std::begin(distFreq_), std::end(distFreq_), 0u);
    return !bits.full;
}

std::size_t cBlockDeflater::deflate(const unsigned char* data, std::size_t n, std::size_t dict, bool last,
                                    unsigned char* out, std::size_t room) {
    constexpr std::size_t kMost = std::numeric_limits<std::int32_t>::max() / 2;
    if (dict > kMost || n > kMost) return 0;
    // Only the last window of the history can be reached.
    const std::size_t history = std::min<std::size_t>(dict, kWindow);
    w_ = data - history;
    const std::int32_t start = static_cast<std::int32_t>(history);
    end_ = static_cast<std::int32_t>(history + n);
    // Nothing of an earlier call may be found: the same bytes always give
    // the same output, whichever worker deflates them.
    for (auto* t : {&head8_, &head4_, &head3_}) std::fill(t->begin(), t->end(), std::uint16_t(0));
    slide_ = 0;
    syms_.clear();
    std::fill(std::begin(litFreq_), std::end(litFreq_), 0u);
    std::fill(std::begin(distFreq_), std::end(distFreq_), 0u);
    for (std::int32_t p = 0; p < start; ++p) insert(p, keys(p));

    sBits bits{out, room};
    std::int32_t blockFrom = start, covered = start;
    auto literal = [&](std::int32_t at) {
        syms_.push_back(w_[at]);
        ++litFreq_[w_[at]];
        covered = at + 1;
    };
    auto match = [&](std::int32_t at, int len, int dist) {
        syms_.push_back(static_cast<std::uint32_t>(len - kMinMatch) | static_cast<std::uint32_t>(dist) << 8);
        ++litFreq_[257 + kCodes.lenCode[len - kMinMatch]];
        ++distFreq_[distCode(static_cast<unsigned>(dist))];
        covered = at + len;
    };
    // Writes the block once it is full; the data's last block is written
    // after the loop.
    auto full = [&]() {
        if (syms_.size() < kBlockSymbols) return true;
        const bool ok = flushBlock(bits, blockFrom, covered, false);
        blockFrom = covered;
        return ok;
    };

    // zlib's lazy evaluation: the match found at p - 1 is taken unless the
    // one at p is longer, in which case the byte at p - 1 goes as a literal.
    int prevLen = 0, prevDist = 0;
    bool pending = false;  // the byte at p - 1 is not coded yet
    sKeys ahead[4];        // the keys of the positions just ahead
    for (std::int32_t p = start; p < end_;) {
        // The chain heads of the positions just ahead are fetched while this
        // one is searched: over bytes that hardly match, waiting for them
        // is most of the time.
        if (p + kPrefetchAhead + 8 <= end_) {
            sKeys& a = ahead[(p + kPrefetchAhead) & 3];
            a = keys(p + kPrefetchAhead);
            __builtin_prefetch(&head8_[a.h8]);
            __builtin_prefetch(&head4_[a.h4]);
            __builtin_prefetch(&head3_[a.h3]);
        }
        const sKeys here = ahead[p & 3].at == p ? ahead[p & 3] : keys(p);
        int dist = 0;
        int len = prevLen < kMaxMatch ? longest(p, here, prevLen, dist) : 0;
        if (prevLen >= kMinMatch && len <= prevLen) {
            match(p - 1, prevLen, prevDist);
            const std::int32_t next = p - 1 + prevLen;
            insert(p, here);
            for (std::int32_t i = p + 1; i < next; ++i) insert(i, ahead[i & 3].at == i ? ahead[i & 3] : keys(i));
            p = next;
            prevLen = 0;
            pending = false;
            if (!full()) return 0;
            continue;
        }
        insert(p, here);
        if (pending) {
            literal(p - 1);
            if (!full()) return 0;
        }
        prevLen = len;
        prevDist = dist;
        pending = true;
        ++p;
    }
    if (pending) literal(end_ - 1);

    if (!syms_.empty() || (last && blockFrom == start)) {
        if (!flushBlock(bits, blockFrom, covered, last)) return 0;
    } else if (last) {
        // The data ended with a full block: an empty final block closes it.
        bits.put(1 | 1 << 1, 3);
        bits.put(0, 7);
    }
    if (!last) {
        // An empty stored block: the sync flush's marker.
        bits.put(0, 3);
        bits.align();
        const unsigned char marker[4] = {0, 0, 0xFF, 0xFF};
        bits.bytes(marker, 4);
    }
    bits.align();
    return bits.full ? 0 : bits.at;
}
