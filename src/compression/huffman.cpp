#include "compression/huffman.h"

int cHaffmanTable::getBitHuff(int nbits, unsigned short* huff, _typebuf<unsigned char>& data, long long& pos) {
    if (nbits == 0) return 0;
    if (nbits == -1) {
        bitBuffer_ = 0;
        bitCount_ = 0;
        stopRefill_ = 0;
        return 0;
    }
    if (nbits < 0 || nbits > kMaxBits || bitCount_ < 0) return 0;
    if (!stopRefill_) {
        const unsigned char* bytes = data.data();
        const long long end = data.count();
        while (bitCount_ < nbits && pos >= 0 && pos < end) {
            bitBuffer_ = (bitBuffer_ << 8) | bytes[pos++];
            bitCount_ += 8;
            stopRefill_ = 0;
        }
    }
    const unsigned int mask = (1u << nbits) - 1;
    // Short of bits at the end of the data: the missing low bits are zero.
    const unsigned int value = bitCount_ >= nbits ? (bitBuffer_ >> (bitCount_ - nbits)) & mask
                                                  : (bitBuffer_ << (nbits - bitCount_)) & mask;
    if (!huff) {
        bitCount_ -= nbits;
        return static_cast<int>(value);
    }
    const unsigned short entry = huff[value];
    bitCount_ -= entry >> 8;
    return entry & 0xFF;
}

void cHaffmanTable::createIndexTable(unsigned char const** source, _typebuf<unsigned short>& table) {
    if (!source || !*source) {
        table.set(1);
        table[0] = 0;
        return;
    }
    const unsigned char* counts = *source;
    *source += 16;
    int longest = 0;
    for (int k = 0; k < 16; ++k)
        if (counts[k]) longest = k + 1;
    const long long last = 1LL << longest;  // the highest entry index
    table.set(last + 1);
    unsigned short* t = table.data();
    for (long long i = 0; i <= last; ++i) t[i] = 0;
    t[0] = static_cast<unsigned short>(longest);
    long long h = 1;
    for (int len = 1; len <= longest; ++len) {
        for (int i = 0; i < counts[len - 1]; ++i) {
            const unsigned char symbol = *(*source)++;
            const unsigned short entry = static_cast<unsigned short>((len << 8) | symbol);
            for (long long r = 1LL << (longest - len); r > 0 && h <= last; --r) t[h++] = entry;
        }
    }
}
