// Saves a window's pixels as a PNG for the example programs: 8-bit RGB of
// 0xAARRGGBB rows, alpha dropped (the windows are opaque).  zlib makes the
// image data and the chunk checksums.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace examples {

inline void chunk(FILE* f, const char* type, const std::vector<unsigned char>& data) {
    unsigned char len[4] = {static_cast<unsigned char>(data.size() >> 24), static_cast<unsigned char>(data.size() >> 16),
                            static_cast<unsigned char>(data.size() >> 8), static_cast<unsigned char>(data.size())};
    fwrite(len, 1, 4, f);
    fwrite(type, 1, 4, f);
    if (!data.empty()) fwrite(data.data(), 1, data.size(), f);
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
    if (!data.empty()) crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
    unsigned char c[4] = {static_cast<unsigned char>(crc >> 24), static_cast<unsigned char>(crc >> 16),
                          static_cast<unsigned char>(crc >> 8), static_cast<unsigned char>(crc)};
    fwrite(c, 1, 4, f);
}

inline bool savePng(const char* path, const uint32_t* px, int w, int h, int stride) {
    std::vector<unsigned char> raw;
    raw.reserve(size_t(h) * (size_t(w) * 3 + 1));
    for (int y = 0; y < h; ++y) {
        raw.push_back(0);  // filter: none
        for (int x = 0; x < w; ++x) {
            uint32_t p = px[size_t(y) * stride + x];
            raw.push_back(static_cast<unsigned char>(p >> 16));
            raw.push_back(static_cast<unsigned char>(p >> 8));
            raw.push_back(static_cast<unsigned char>(p));
        }
    }
    uLongf zn = compressBound(static_cast<uLong>(raw.size()));
    std::vector<unsigned char> z(zn);
    if (compress2(z.data(), &zn, raw.data(), static_cast<uLong>(raw.size()), 9) != Z_OK) return false;
    z.resize(zn);
    FILE* f = fopen(path, "wb");
    if (!f) return false;
    static const unsigned char sig[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    fwrite(sig, 1, 8, f);
    std::vector<unsigned char> ihdr = {static_cast<unsigned char>(w >> 24), static_cast<unsigned char>(w >> 16),
                                       static_cast<unsigned char>(w >> 8),  static_cast<unsigned char>(w),
                                       static_cast<unsigned char>(h >> 24), static_cast<unsigned char>(h >> 16),
                                       static_cast<unsigned char>(h >> 8),  static_cast<unsigned char>(h),
                                       8, 2, 0, 0, 0};
    chunk(f, "IHDR", ihdr);
    chunk(f, "IDAT", z);
    chunk(f, "IEND", {});
    return fclose(f) == 0;
}

}  // namespace examples
