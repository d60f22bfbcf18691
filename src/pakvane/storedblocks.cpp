#include "pakvane/storedblocks.h"

#include <algorithm>
#include <cstring>

namespace {

// Each piece of a block has a histogram of its own, as zlib's blocks of
// about 16K symbols each get codes of their own: bytes whose distribution
// shifts along the block are caught where it shifts.
constexpr std::size_t kPiece = 16 * 1024;
// Deflate's window, and the bits of the table of four-byte strings seen.
constexpr std::size_t kWindow = 32 * 1024;
constexpr unsigned kSeenBits = 15;
// Four-byte strings of random bytes meet again within the window about once
// in 128 KiB; bytes that repeat meet far more often.
constexpr std::size_t kRepeatsPerByte = 4096;
// The largest stored block.
constexpr std::size_t kStoredMax = 65535;

std::uint32_t load32(const unsigned char* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

std::uint32_t seenSlot(std::uint32_t v) { return (v * 2654435761u) >> (32 - kSeenBits); }

// True when the Huffman code of the n bytes at p (with the end-of-block
// symbol a block carries) takes fewer bits than the bytes themselves.
bool histogramShrinks(const unsigned char* p, std::size_t n) {
    // Four histograms side by side, so that runs of one byte do not wait on
    // their own counts.
    std::uint32_t h[4][256] = {};
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        ++h[0][p[i]];
        ++h[1][p[i + 1]];
        ++h[2][p[i + 2]];
        ++h[3][p[i + 3]];
    }
    for (; i < n; ++i) ++h[0][p[i]];
    std::uint32_t counts[257];
    for (int s = 0; s < 256; ++s) counts[s] = h[0][s] + h[1][s] + h[2][s] + h[3][s];
    counts[256] = 1;
    return huffmanBits(counts, 257) < 8ull * n;
}

// True when more four-byte strings of data repeat within the window than
// random bytes would give.
bool repeats(const unsigned char* data, std::size_t n, std::size_t dict, sStoredScratch& scratch) {
    if (n < 4) return false;
    std::vector<std::uint32_t>& seen = scratch.seen;
    seen.assign(std::size_t(1) << kSeenBits, 0);
    const unsigned char* base = data - dict;
    // Positions in the window from base, plus one: 0 is an empty slot.
    const std::size_t end = dict + n - 3;
    for (std::size_t at = 0; at + 4 <= dict; ++at) seen[seenSlot(load32(base + at))] = static_cast<std::uint32_t>(at + 1);
    const std::size_t limit = n / kRepeatsPerByte;
    std::size_t met = 0;
    for (std::size_t at = dict < 3 ? 0 : dict - 3; at < end; ++at) {
        const std::uint32_t v = load32(base + at);
        std::uint32_t& slot = seen[seenSlot(v)];
        const std::size_t before = slot;
        slot = static_cast<std::uint32_t>(at + 1);
        if (before != 0 && at + 1 - before <= kWindow && load32(base + before - 1) == v && ++met > limit) return true;
    }
    return false;
}

}  // namespace

bool fewDistinctStrings(const unsigned char* data, std::size_t n, sStoredScratch& scratch) {
    // One bit per 16-bit hash of a four-byte string: 128 KiB of random
    // bytes set 87% of them, text of a small vocabulary a few percent.
    // Measured on text, code, tables and archives in 128 KiB blocks, the
    // chains beat zlib below about 60% (integers only, so that every
    // machine chooses alike).
    if (n < 4) return false;
    std::vector<std::uint32_t>& bits = scratch.seen;
    bits.assign(65536 / 32, 0);
    std::size_t distinct = 0;
    for (std::size_t at = 0; at + 4 <= n; ++at) {
        const std::uint32_t h = (load32(data + at) * 2654435761u) >> 16;
        std::uint32_t& word = bits[h >> 5];
        const std::uint32_t bit = 1u << (h & 31);
        distinct += (word & bit) == 0;
        word |= bit;
    }
    return distinct * 10 < std::min<std::size_t>(n, 65536) * 6;
}

std::uint64_t huffmanBits(const std::uint32_t* counts, std::size_t symbols) {
    std::vector<std::uint64_t> leaves;
    leaves.reserve(symbols);
    std::uint64_t total = 0;
    for (std::size_t s = 0; s < symbols; ++s)
        if (counts[s]) {
            leaves.push_back(counts[s]);
            total += counts[s];
        }
    // A code of one symbol still takes a bit for it.
    if (leaves.size() < 2) return total;
    std::sort(leaves.begin(), leaves.end());
    // Two queues: the leaves in order, and the merged nodes, which come out
    // in order too.  Every merge adds its weight once for each level it
    // puts its leaves below: the sum of the merged weights is the code's
    // length in bits.
    std::vector<std::uint64_t> merged;
    merged.reserve(leaves.size());
    std::size_t li = 0, mi = 0;
    auto smallest = [&] {
        if (mi == merged.size() || (li < leaves.size() && leaves[li] <= merged[mi])) return leaves[li++];
        return merged[mi++];
    };
    std::uint64_t bits = 0;
    for (std::size_t k = 1; k < leaves.size(); ++k) {
        const std::uint64_t w = smallest() + smallest();
        merged.push_back(w);
        bits += w;
    }
    return bits;
}

bool deflateCannotShrink(const unsigned char* data, std::size_t n, std::size_t dict, sStoredScratch& scratch) {
    if (n < kStoredMinBytes) return false;
    // Pieces of about kPiece bytes, none much smaller: a short one would
    // find a code in the noise of its few bytes.
    const std::size_t pieces = std::max<std::size_t>(1, n / kPiece), size = n / pieces;
    for (std::size_t k = 0; k < pieces; ++k)
        if (histogramShrinks(data + k * size, k + 1 == pieces ? n - k * size : size)) return false;
    return !repeats(data, n, std::min(dict, kWindow), scratch);
}

std::size_t putStoredBlocks(const unsigned char* data, std::size_t n, bool last, unsigned char* out) {
    unsigned char* o = out;
    auto block = [&](const unsigned char* p, std::size_t len, bool final) {
        // Three header bits (the final bit, type 00) and the padding to the
        // byte: one byte, then the length and its complement.
        *o++ = final ? 1 : 0;
        o[0] = static_cast<unsigned char>(len);
        o[1] = static_cast<unsigned char>(len >> 8);
        o[2] = static_cast<unsigned char>(~len);
        o[3] = static_cast<unsigned char>(~len >> 8);
        o += 4;
        if (len) std::memcpy(o, p, len);
        o += len;
    };
    std::size_t done = 0;
    do {
        const std::size_t len = std::min(kStoredMax, n - done);
        block(data + done, len, last && done + len == n);
        done += len;
    } while (done < n);
    if (!last) block(nullptr, 0, false);
    return static_cast<std::size_t>(o - out);
}
