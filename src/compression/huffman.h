// A bit reader with a direct-lookup Huffman decoder (camera raw data).
//
// Bits are taken most significant bit first, a whole byte at a time.  A
// lookup table for codes of at most L bits is a _typebuf<unsigned short> of
// (1 << L) + 1 entries: entry 0 holds L, entry 1 + v holds
// (length << 8) | symbol of the code that the L-bit value v begins with.
// One symbol is decoded with getBitHuff(table[0], table.data() + 1, data, pos).
#pragma once

#include "base/buffers.h"

class cHaffmanTable {
public:
    // The widest field one call takes: the bit buffer holds 32 bits and a
    // refill adds whole bytes.
    static constexpr int kMaxBits = 25;

    cHaffmanTable() = default;

    // nbits 0: 0, nothing changes.  nbits -1: resets the reader, 0.
    // Otherwise (1 to kMaxBits) the next nbits bits of data from pos (pos
    // advances by whole bytes taken); bits past the end of data read as zero.
    // Without huff the value is returned and nbits bits are consumed; with
    // huff the result is the symbol huff[value] stands for and its code
    // length is consumed.  Once more bits were consumed than the data held,
    // every call returns 0 until a reset.  Other widths return 0.
    int getBitHuff(int nbits, unsigned short* huff, _typebuf<unsigned char>& data, long long& pos);

    // Builds a canonical lookup table: *source points at 16 counts (count k
    // is the number of codes of length k + 1) followed by the symbols in code
    // order; *source is left after the symbols used.  Entries no code reaches
    // hold 0.
    static void createIndexTable(unsigned char const** source, _typebuf<unsigned short>& table);

    // Valid bits held (negative once the data ran out).
    int bitCount() const { return bitCount_; }

private:
    unsigned int bitBuffer_ = 0;
    int bitCount_ = 0;
    // While non-zero no bytes are taken; cleared by a reset and by every byte
    // taken.
    unsigned int stopRefill_ = 0;
};
