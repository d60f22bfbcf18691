#include "base/strkey.h"

#include "base/textenc.h"

#include <cstring>

cStringKey::cStringKey(const char* text, long long n) { pack(text, n); }

cStringKey& cStringKey::operator=(const char* text) {
    pack(text, -1);
    return *this;
}

void cStringKey::pack(const char* text, long long n) {
    if (!text) {
        words.set(0);
        return;
    }
    if (n < 0) n = static_cast<long long>(std::strlen(text));
    // The word count is computed in 64 bits, so a text of 2^31 bytes or more
    // gets all of its words, and without n + 3, so that a count too large for
    // any text fails in the allocation instead of wrapping.
    long long count = n / 4 + (n % 4 != 0);
    words.set(count);
    if (count == 0) return;
    unsigned int* w = words.data();
    w[count - 1] = 0;
    std::memcpy(w, text, static_cast<std::size_t>(n));
    for (long long i = 0; i < count; ++i) w[i] = __builtin_bswap32(w[i]);
}

int cStringKey::cmp(const _typebuf<unsigned int>& a, const _typebuf<unsigned int>& b) const {
    long long m = a.count() < b.count() ? a.count() : b.count();
    const unsigned int* pa = a.data();
    const unsigned int* pb = b.data();
    for (long long i = 0; i < m; ++i) {
        if (pa[i] != pb[i]) return pa[i] < pb[i] ? -1 : 1;
    }
    if (a.count() == b.count()) return 0;
    return a.count() < b.count() ? -1 : 1;
}

void cStringKey::utf8(_typebuf<char>& out) const {
    out.set(words.count() * 4);
    for (long long i = 0; i < words.count(); ++i) {
        unsigned int w = words.data()[i];
        char* o = out.data() + i * 4;
        o[0] = static_cast<char>(w >> 24);
        o[1] = static_cast<char>(w >> 16);
        o[2] = static_cast<char>(w >> 8);
        o[3] = static_cast<char>(w);
    }
}

// The UTF-8 form of the text, packed as the 8-bit constructor packs it, so a
// terminated text gives the 8-bit key of its UTF-8 form (the conversion stops
// before the terminator).  A last word of nothing but zeros, which zero units
// ending a counted text give, is dropped.
cStringKey::cStringKey(const unsigned short* text, long long n) {
    if (!text) return;
    _guardchar<char> utf8;
    long long bytes = __w2a(text, n, utf8, 65001);
    pack(utf8.get(), bytes);
    long long count = words.count();
    if (count > 0 && words.data()[count - 1] == 0) words.reset(count - 1);
}

cStringKey& cStringKey::operator=(const unsigned short* text) {
    cStringKey key(text, -1);
    words.swap(key.words);
    return *this;
}
