// cStringKey: the ordered key of every string-keyed tree map.
//
// The UTF-8 text is packed big-endian into zero-padded 32-bit words and keys
// compare word by word as unsigned values, so keys sort by their bytes
// (unsigned) with a key before every longer key that starts with it.  Zero
// bytes at the end of the last word are not significant: "ab" and "ab\0" are
// the same key, while "abcd" (one word) sorts before "abcd\0\0\0\0" (two).
#pragma once

#include "base/buffers.h"

class cStringKey {
public:
    cStringKey() = default;
    cStringKey(const cStringKey& o) = default;
    cStringKey(cStringKey&& o) noexcept = default;
    // The first n bytes of text (n = -1: up to the terminating zero); zero
    // bytes inside the n bytes are part of the key; null text: empty key.
    cStringKey(const char* text, long long n);
    // The UTF-16 text converted to UTF-8 (n = -1: up to the terminating zero),
    // so a terminated 16-bit text gives the same key as its UTF-8 form.
    cStringKey(const unsigned short* text, long long n);

    cStringKey& operator=(const cStringKey& o) = default;
    cStringKey& operator=(cStringKey&& o) noexcept = default;
    cStringKey& operator=(const char* text);
    cStringKey& operator=(const unsigned short* text);

    // -1, 0 or 1: a against b, word by word; the key it is called on plays no part.
    int cmp(const _typebuf<unsigned int>& a, const _typebuf<unsigned int>& b) const;

    bool operator==(const cStringKey& o) const { return cmp(words, o.words) == 0; }
    bool operator!=(const cStringKey& o) const { return cmp(words, o.words) != 0; }
    bool operator<(const cStringKey& o) const { return cmp(words, o.words) < 0; }
    bool operator>(const cStringKey& o) const { return cmp(words, o.words) > 0; }
    bool operator<=(const cStringKey& o) const { return cmp(words, o.words) <= 0; }
    bool operator>=(const cStringKey& o) const { return cmp(words, o.words) >= 0; }

    // out becomes 4 x words bytes: the key's bytes in text order, padding
    // zeros included, without a separate terminator.
    void utf8(_typebuf<char>& out) const;
    // The word buffer (words in memory order, not text order).
    const unsigned int* as_chars() const { return words.data(); }
    // 4 x the number of words.
    unsigned int num_chars() const { return static_cast<unsigned int>(words.count() * 4); }

    _typebuf<unsigned int> words;

private:
    void pack(const char* text, long long n);
};
