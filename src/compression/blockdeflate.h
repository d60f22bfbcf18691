// Deflate (RFC 1951) at maximum compression for data handed over in pieces
// that are deflated side by side, each primed with the bytes before it, and
// joined into one stream: the block deflater of the payload writer.
//
// The parse is zlib's at level 9: lazy evaluation (a match is taken only
// when the match at the next byte is not longer), the longest match within
// the 32 KiB window with ties going to the nearest, a three-byte match
// dropped when it reaches back further than 4 KiB, a quarter of the search
// once the previous match was 32 bytes or more, blocks of 16,383 symbols
// each written stored, with the fixed codes or with its own, whichever is
// smallest.
//
// What differs is how the candidates are found.  zlib walks one chain of
// every earlier position whose three bytes hash alike, as many as 4,096 of
// them; on text of a small vocabulary most of them match a few bytes and
// fail, and the walk is where nearly all of its time goes.  Here a position
// is kept in two chains: one of the positions whose first eight bytes hash
// alike, one of those whose first four do.  A match of eight bytes or more
// can only be on the first, which is walked first and is short; only when
// it holds none is the second walked, for a match of four to seven bytes,
// and a three-byte match is looked for only at the last position whose
// three bytes hash alike.  Matches of four bytes and more are as long as
// zlib's, or longer where its 4,096 candidates ran out first or the match
// lies beyond the 32,506 bytes zlib reaches back; the output is about as
// large as zlib's, never much larger.  Where zlib's chains are long and
// the chains of eight-byte strings short beside them (text of a small
// vocabulary, source code, tables) it takes a third to a half of zlib's
// time; where strings hardly repeat, or nearly every position lies inside
// a long match, its three tables cost more a position than zlib's one and
// zlib is the quicker (the payload writer chooses by the bytes:
// blockDeflaterQuicker in pakvane/storedblocks.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The code lengths (at most maxBits) of a complete prefix code for the
// symbols' frequencies: a Huffman code whose lengths past maxBits are
// folded in.  At least two symbols get a length, the unused ones 0 through
// 1 where fewer than two are used, since inflaters take a one-code
// alphabet only for distances.  symbols is 2 to 288 and maxBits at most 15,
// with room for a code of every symbol; otherwise every length is 0.
void deflateCodeLengths(const std::uint32_t* freq, int symbols, int maxBits, std::uint8_t* len);

class cBlockDeflater {
public:
    cBlockDeflater();

    // The most bytes deflate() writes for n bytes of data.
    static std::size_t bound(std::size_t n) { return n + n / 2048 + 32; }

    // Deflates data[0 .. n) as raw deflate blocks at out[0 .. room); the
    // dict bytes before data (data - dict .. data) are the history its
    // matches may reach back into, the last 32 KiB of them counting.  The
    // output starts on a byte boundary and ends on one: with the final
    // block when `last`, else followed by an empty stored block, as zlib's
    // sync flush ends its output, so that the next piece's bytes can follow
    // directly.  Returns the bytes written, or 0 when room is short (room of
    // bound(n) never is) or dict + n reaches 2 GiB.
    std::size_t deflate(const unsigned char* data, std::size_t n, std::size_t dict, bool last, unsigned char* out,
                        std::size_t room);

private:
    struct sBits;
    // A position's hashes, of its first eight, four and three bytes; kNoKey
    // where the window ends too soon.
    struct sKeys {
        static constexpr std::uint32_t kNoKey = 0xFFFFFFFFu;
        std::int32_t at = -1;
        std::uint32_t h8 = kNoKey, h4 = kNoKey, h3 = kNoKey;
    };
    sKeys keys(std::int32_t p) const;
    void insert(std::int32_t p, const sKeys& k);
    // The longest match at p longer than `better` (0: none), its distance
    // in dist.
    int longest(std::int32_t p, const sKeys& k, int better, int& dist) const;
    bool flushBlock(sBits& bits, std::int32_t from, std::int32_t to, bool final);

    // The window position a chain head stands for; -1 for none.
    std::int32_t position(std::uint16_t mark) const { return mark ? slide_ + mark - 1 : -1; }
    void slide();

    const unsigned char* w_ = nullptr;  // the window: dict bytes, then data
    std::int32_t end_ = 0;              // the window's bytes
    // Chain heads hold a position as 1 + its offset from slide_, 0 for
    // none, moved on a window at a time (slide()) as the offsets run out.
    std::int32_t slide_ = 0;
    std::vector<std::uint16_t> head8_, head4_, head3_;
    // A position's link on its chain: how far back the one before it lies,
    // 0 where none lies within the window.
    std::uint16_t link(std::int32_t p, std::uint16_t headMark) const {
        const std::int32_t before = position(headMark);
        return before >= 0 && p - before <= 32768 ? static_cast<std::uint16_t>(p - before) : 0;
    }
    std::vector<std::uint16_t> prev8_, prev4_;
    // The block's symbols: a literal byte (distance 0) or a match, as its
    // length - 3 and distance << 8.
    std::vector<std::uint32_t> syms_;
    std::uint32_t litFreq_[286] = {}, distFreq_[30] = {};
};
