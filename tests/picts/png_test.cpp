// PNG decoding compared with ImageMagick over every colour type, depth,
// interlace and tRNS form; damaged files of every kind fail cleanly.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "picts/pictpng.h"
#include "picttest.h"

using picttest::Bytes;

namespace {

struct Chunk {
    std::string type;
    Bytes data;
};

std::vector<Chunk> chunksOf(const Bytes& png) {
    std::vector<Chunk> out;
    std::size_t pos = 8;
    while (pos + 12 <= png.size()) {
        const std::size_t len = static_cast<std::size_t>(png[pos]) << 24 | png[pos + 1] << 16 | png[pos + 2] << 8 | png[pos + 3];
        Chunk c;
        c.type.assign(reinterpret_cast<const char*>(&png[pos + 4]), 4);
        c.data.assign(png.begin() + static_cast<long>(pos + 8), png.begin() + static_cast<long>(pos + 8 + len));
        out.push_back(c);
        pos += len + 12;
    }
    return out;
}

void put32(Bytes& b, unsigned long v) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<unsigned char>(v >> s));
}

// Chunks written with their lengths and CRCs (zlib's crc32 as the oracle).
Bytes build(const std::vector<Chunk>& chunks) {
    Bytes b = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
    for (const Chunk& c : chunks) {
        put32(b, c.data.size());
        Bytes td(c.type.begin(), c.type.end());
        td.insert(td.end(), c.data.begin(), c.data.end());
        b.insert(b.end(), td.begin(), td.end());
        put32(b, crc32(0, td.data(), static_cast<uInt>(td.size())));
    }
    return b;
}

bool decodes(const Bytes& b, cPictPNG* into = nullptr) {
    return into ? picttest::decodeBytes(b, *into) : picttest::decodeBytes<cPictPNG>(b);
}
bool probes(const Bytes& b, cPictBase::sPictInfo* info = nullptr) { return picttest::probeBytes<cPictPNG>(b, info); }

// The generated inputs, made once for the whole suite; named without ".png".
struct PngKind {
    static const char* kind() { return "png"; }
};
class PngFiles : public picttest::GeneratedFiles<PngKind, picttest::ImagesScript> {
protected:
    static Bytes file(const std::string& name) { return picttest::readBytes(dir_->file(name + ".png")); }
};

}  // namespace

TEST_F(PngFiles, EveryColourTypeDepthInterlaceAndKeyDecodesLikeImageMagick) {
    ASSERT_GE(index_->size(), 50u);
    cPictPNG png;  // one decoder for every file: each decode starts afresh
    for (const auto& entry : *index_) {
        SCOPED_TRACE(entry.first);
        const Bytes b = file(entry.first);
        ASSERT_TRUE(decodes(b, &png));
        EXPECT_EQ(png.is16Bpp(), entry.second == 16);
        EXPECT_EQ(png.typeOf(), cPictBase::ptPNG);
        EXPECT_TRUE(picttest::samePixels(png, picttest::readReference(dir_->file(entry.first + ".ref"))));
        EXPECT_EQ(png.bytesConsumed(), b.size());
        // The probe reports the size and decodes nothing.
        cPictBase::sPictInfo info;
        ASSERT_TRUE(probes(b, &info));
        EXPECT_EQ(info.width, png.width());
        EXPECT_EQ(info.height, png.height());
        EXPECT_FALSE(info.hasPreview);
    }
}

TEST_F(PngFiles, TruncationAtEveryByteFails) {
    for (const char* name : {"png_c2_d8_n_t", "png_c3_d4_i_t", "png_c0_d16_i_t"})
        picttest::expectEveryCutFails<cPictPNG>(file(name), name);
}

TEST_F(PngFiles, ABadCrcInAnyChunkFails) {
    const Bytes b = file("png_c3_d8_i_t");
    const auto chunks = chunksOf(b);
    std::size_t pos = 8;
    for (const Chunk& c : chunks) {
        Bytes bad = b;
        bad[pos + 8 + c.data.size()] ^= 0x01;  // the CRC's first byte
        EXPECT_FALSE(decodes(bad)) << c.type;
        if (!c.data.empty()) {
            Bytes flipped = b;
            flipped[pos + 8] ^= 0x80;
            EXPECT_FALSE(decodes(flipped)) << c.type;
        }
        pos += c.data.size() + 12;
    }
}

TEST_F(PngFiles, OverflowingLengthsAndSizesFail) {
    const Bytes b = file("png_c2_d8_n_o");
    for (unsigned long len : {0xFFFFFFFFul, 0x80000000ul, 0x7FFFFFFFul, 0x10000000ul}) {
        std::size_t pos = 8;
        for (const Chunk& c : chunksOf(b)) {
            Bytes bad = b;
            for (int i = 0; i < 4; ++i) bad[pos + static_cast<std::size_t>(i)] = static_cast<unsigned char>(len >> (24 - 8 * i));
            EXPECT_FALSE(decodes(bad)) << c.type << " " << len;
            pos += c.data.size() + 12;
        }
    }
    // Sides past the cap are refused by the probe and the decoder before any
    // allocation.
    for (unsigned long side : {0x7FFFFFFFul, 0xFFFFFFFFul, 20000ul, 1ul << 25}) {
        auto chunks = chunksOf(b);
        Chunk& ihdr = chunks[0];
        for (int k : {0, 4}) {
            Bytes v;
            put32(v, side);
            std::copy(v.begin(), v.end(), ihdr.data.begin() + k);
        }
        const Bytes big = build(chunks);
        EXPECT_FALSE(probes(big)) << side;
        EXPECT_FALSE(decodes(big)) << side;
    }
}

TEST_F(PngFiles, ChunksOutOfOrderFail) {
    const Bytes b = file("png_c2_d8_n_o");
    const auto chunks = chunksOf(b);
    ASSERT_EQ(chunks[0].type, "IHDR");
    ASSERT_TRUE(decodes(build(chunks)));
    // IDAT before IHDR.
    auto idatFirst = chunks;
    std::size_t firstIdat = 0;
    while (idatFirst[firstIdat].type != "IDAT") ++firstIdat;
    std::swap(idatFirst[0], idatFirst[firstIdat]);
    EXPECT_FALSE(decodes(build(idatFirst)));
    EXPECT_FALSE(probes(build(idatFirst)));
    // A second IHDR after the image data, claiming a bigger picture.
    auto twice = chunks;
    Chunk bigger = chunks[0];
    bigger.data[3] = static_cast<unsigned char>(bigger.data[3] + 50);
    twice.insert(twice.end() - 1, bigger);
    EXPECT_FALSE(decodes(build(twice)));
    auto early = chunks;
    early.insert(early.begin() + 1, chunks[0]);
    EXPECT_FALSE(decodes(build(early)));
    // No IDAT at all; IEND with data; nothing after the signature.
    std::vector<Chunk> noData;
    for (const Chunk& c : chunks)
        if (c.type != "IDAT") noData.push_back(c);
    EXPECT_FALSE(decodes(build(noData)));
    auto fatEnd = chunks;
    fatEnd.back().data.push_back(0);
    EXPECT_FALSE(decodes(build(fatEnd)));
}

TEST_F(PngFiles, ImageDataEndingBeforeTheLastRowFails) {
    for (const char* name : {"pil_rgb", "png_c6_d8_i_o"}) {
        const auto chunks = chunksOf(file(name));
        Bytes z;
        for (const Chunk& c : chunks)
            if (c.type == "IDAT") z.insert(z.end(), c.data.begin(), c.data.end());
        std::vector<unsigned char> raw(64 << 20);
        uLongf rawLen = raw.size();
        ASSERT_EQ(uncompress(raw.data(), &rawLen, z.data(), z.size()), Z_OK);
        for (uLongf keep : {rawLen - 1, rawLen / 2, uLongf(1)}) {
            std::vector<unsigned char> shortZ(compressBound(keep));
            uLongf zl = shortZ.size();
            ASSERT_EQ(compress(shortZ.data(), &zl, raw.data(), keep), Z_OK);
            std::vector<Chunk> out;
            for (const Chunk& c : chunks) {
                if (c.type == "IDAT") {
                    if (!out.empty() && out.back().type == "IDAT") continue;
                    out.push_back({"IDAT", Bytes(shortZ.begin(), shortZ.begin() + static_cast<long>(zl))});
                } else {
                    out.push_back(c);
                }
            }
            EXPECT_FALSE(decodes(build(out))) << name << " keeping " << keep;
        }
    }
}

TEST_F(PngFiles, HeaderAndAncillaryRules) {
    // tRNS in a picture with an alpha channel is refused.
    auto rgba = chunksOf(file("png_c6_d8_n_o"));
    rgba.insert(rgba.begin() + 1, Chunk{"tRNS", Bytes(6, 0)});
    EXPECT_FALSE(decodes(build(rgba)));
    // A palette longer than the depth allows.
    auto pal = chunksOf(file("png_c3_d1_n_o"));
    for (Chunk& c : pal)
        if (c.type == "PLTE") c.data.assign(9, 0x40);
    EXPECT_FALSE(decodes(build(pal)));
    // An unknown ancillary chunk is skipped (its CRC still checked).
    auto extra = chunksOf(file("png_c0_d4_i_o"));
    extra.insert(extra.begin() + 1, Chunk{"zzZz", Bytes(300, 7)});
    EXPECT_TRUE(decodes(build(extra)));
    // Even one longer than a chunk held in memory: it is streamed past.
    extra.insert(extra.begin() + 1, Chunk{"zzZz", Bytes(kMaxPngChunkInMemory + 10, 1)});
    EXPECT_TRUE(decodes(build(extra)));
    // A critical chunk that long is refused.
    extra[1].type = "ZZZz";
    EXPECT_FALSE(decodes(build(extra)));
    // Interlace byte 255 decodes as non-interlaced.
    auto plain = chunksOf(file("pil_grey"));
    cPictPNG a, b;
    ASSERT_TRUE(decodes(build(plain), &a));
    plain[0].data[12] = 255;
    ASSERT_TRUE(decodes(build(plain), &b));
    ASSERT_EQ(a.width() * a.height(), b.width() * b.height());
    EXPECT_EQ(0, std::memcmp(a.raw8Bpp(), b.raw8Bpp(), static_cast<std::size_t>(a.width() * a.height() * 4)));
    plain[0].data[12] = 2;
    EXPECT_FALSE(decodes(build(plain)));
    plain[0].data[12] = 0;
    plain[0].data[10] = 1;  // compression method
    EXPECT_FALSE(decodes(build(plain)));
    // Colour type and depth pairs outside the format.
    for (auto cd : {std::make_pair(2, 4), std::make_pair(3, 16), std::make_pair(5, 8), std::make_pair(0, 3)}) {
        auto c = chunksOf(file("pil_grey"));
        c[0].data[8] = static_cast<unsigned char>(cd.second);
        c[0].data[9] = static_cast<unsigned char>(cd.first);
        EXPECT_FALSE(probes(build(c))) << cd.first << "/" << cd.second;
    }
}

TEST(Png, PaletteIndicesAtOrPastThePaletteFail) {
    // Two rows of 40 pixels, every index below `top` but for one `top` in
    // the second row (at a column the row's packed bytes reach last).
    for (const int depth : {8, 4}) {
        const int top = depth == 8 ? 200 : 9, w = 40, perByte = 8 / depth;
        Bytes raw;
        for (int y = 0; y < 2; ++y) {
            raw.push_back(0);  // filter: none
            for (int x = 0; x < w; x += perByte) {
                unsigned v = 0;
                for (int k = 0; k < perByte; ++k) {
                    const int i = (y == 1 && x + k == 37) ? top : (x + k + y) % top;
                    v = v << depth | static_cast<unsigned>(i);
                }
                raw.push_back(static_cast<unsigned char>(v));
            }
        }
        uLongf zn = compressBound(static_cast<uLong>(raw.size()));
        Bytes z(zn);
        ASSERT_EQ(compress(z.data(), &zn, raw.data(), static_cast<uLong>(raw.size())), Z_OK);
        z.resize(zn);
        Bytes ihdr;
        put32(ihdr, w);
        put32(ihdr, 2);
        ihdr.insert(ihdr.end(), {static_cast<unsigned char>(depth), 3, 0, 0, 0});
        for (const int entries : {top, top + 1}) {
            SCOPED_TRACE(std::to_string(depth) + "-bit, palette of " + std::to_string(entries));
            Bytes plte;
            for (int i = 0; i < entries; ++i) plte.insert(plte.end(), {static_cast<unsigned char>(i), 7, static_cast<unsigned char>(255 - i)});
            cPictPNG png;
            const bool ok = decodes(build({{"IHDR", ihdr}, {"PLTE", plte}, {"IDAT", z}, {"IEND", {}}}), &png);
            EXPECT_EQ(ok, entries > top);
            // Row 0 of the picture is its bottom row: the file's second.
            if (ok) {
                EXPECT_EQ(png.raw8Bpp()[37], 0xFF000000u | static_cast<unsigned>(top) << 16 | 0x0700u | (255u - top));
            }
        }
    }
}

TEST_F(PngFiles, RenderingIntoATargetMatchesTheDecodedPicture) {
    for (const char* name : {"pil_rgba", "png_c2_d16_i_t", "png_c3_d4_i_o"})
        picttest::expectTargetsMatchPlainDecode<cPictPNG>(file(name), name, true);
}

// Both declare 16384 x 16384 grey behind 12 bytes of IDAT; the 16-bit one
// is past the byte cap, so the probe already refuses it.
TEST(PngMalformed, SavedCrashInputsFailCleanly) {
    picttest::replayMalformed<cPictPNG>("png", {picttest::refusedByProbe("huge-16bit-claim-in-69-bytes.png"),
                                                picttest::refusedAfterProbe("huge-8bit-claim-in-69-bytes.png", 16384, 16384)});
}
