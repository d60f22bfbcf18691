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

bool blockDeflaterQuicker(const unsigned char* data, std::size_t n, std::size_t dict, sStoredScratch& scratch) {
    // Measured block by block (bench/deflate.cpp --blocks) on tar streams of
    // documentation, Python sources, binaries and text of a 5,000-word
    // vocabulary: the block deflater is the quicker where the positions
    // sampled meet, on average, at least 40 earlier ones of the window with
    // zlib's hash of their three bytes (the chain zlib walks), and at least
    // 30% repeat four bytes found in the window; and where fewer than 0.3
    // times as many earlier ones have the same hash of eight bytes (the
    // chain walked here) and fewer than 70% meet one at all (more are long
    // matches, over which zlib only inserts), or, where zlib's chains pass
    // 700, fewer than 0.4 times as many.
    constexpr std::size_t kStride = 4, kRingSize = kWindow / kStride;
    if (n < kStoredMinBytes) return false;
    // Samples are numbered in 16 bits: a longer block is judged by its
    // first 192 KiB.
    n = std::min<std::size_t>(n, 192 * 1024);
    dict = std::min(dict, kWindow);
    const unsigned char* base = data - dict;
    const std::size_t span = dict + n;
    auto& c3 = scratch.count3;
    auto& c8 = scratch.count8;
    auto& last4 = scratch.last4;
    c3.assign(std::size_t(1) << 15, 0);
    c8.assign(std::size_t(1) << 15, 0);
    last4.assign(std::size_t(1) << 16, 0);
    scratch.ring.resize(kRingSize);
    std::uint64_t samples = 0, zlibChain = 0, ownChain = 0, repeat4 = 0, met8 = 0;
    for (std::size_t p = 0, k = 0; p + 8 <= span; p += kStride, ++k) {
        if (p >= kWindow) {
            // The sample a window back leaves the chains.
            const std::uint32_t gone = scratch.ring[k % kRingSize];
            --c3[gone & 0xFFFF];
            --c8[gone >> 16];
        }
        std::uint64_t v;
        std::memcpy(&v, base + p, 8);
        // zlib's hash of three bytes (15 bits, shifts of 5), the block
        // deflater's of eight.
        const std::uint32_t h3 = ((base[p] << 10) ^ (base[p + 1] << 5) ^ base[p + 2]) & 0x7FFF;
        const std::uint32_t h8 = static_cast<std::uint32_t>((v * 0x9E3779B97F4A7C15ull) >> 49);
        const std::uint32_t four = static_cast<std::uint32_t>(v);
        std::uint16_t& seen = last4[(four * 2654435761u) >> 16];
        if (p >= dict) {
            ++samples;
            zlibChain += c3[h3];
            ownChain += c8[h8];
            met8 += c8[h8] != 0;
            // The last sample with this hash, as its number plus one.
            if (seen != 0) {
                const std::size_t at = (std::size_t(seen) - 1) * kStride;
                repeat4 += p - at <= kWindow && load32(base + at) == four;
            }
        }
        seen = static_cast<std::uint16_t>(k + 1);
        ++c3[h3];
        ++c8[h8];
        scratch.ring[k % kRingSize] = h3 | h8 << 16;
    }
    // A window holds a quarter of its positions as samples: a chain of 40
    // is 10 samples long, one of 700 is 175.
    if (samples == 0 || zlibChain < 10 * samples || 10 * repeat4 < 3 * samples) return false;
    return (10 * ownChain < 3 * zlibChain && 10 * met8 < 7 * samples) ||
           (zlibChain >= 175 * samples && 10 * ownChain < 4 * zlibChain);
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
