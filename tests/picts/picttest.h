// Helpers of the picture suites: running the input generator, reading its
// reference pixels, and comparing a decoded picture with them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "base/memio.h"
#include "picts/pictbase.h"
#include "testsupport.h"

namespace picttest {

using Bytes = std::vector<unsigned char>;

inline Bytes readBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Runs tests/picts/<script> (make_images.py by default) for `kind` into
// dir; the index lines.
inline std::vector<std::pair<std::string, int> > generate(const std::string& kind, const std::string& dir,
                                                          const std::string& script = "make_images.py") {
    int status = -1;
    const std::string out = qortest::runCommand(qortest::python3() + " " + QOR_SOURCE_DIR "/tests/picts/" + script +
                                                    " " + kind + " " + dir + " 2>&1",
                                                &status);
    EXPECT_EQ(status, 0) << out;
    std::vector<std::pair<std::string, int> > index;
    std::ifstream f(dir + "/index.txt");
    std::string name;
    int bits;
    while (f >> name >> bits) index.emplace_back(name, bits);
    return index;
}

struct Reference {
    long long width = 0, height = 0;
    std::vector<std::uint16_t> rgba;  // top row first, R, G, B, A
};

inline Reference readReference(const std::string& path) {
    Reference r;
    const Bytes b = readBytes(path);
    if (b.size() < 8) return r;
    r.width = b[0] | b[1] << 8 | b[2] << 16 | static_cast<long long>(b[3]) << 24;
    r.height = b[4] | b[5] << 8 | b[6] << 16 | static_cast<long long>(b[7]) << 24;
    for (std::size_t i = 8; i + 1 < b.size(); i += 2) r.rgba.push_back(static_cast<std::uint16_t>(b[i] << 8 | b[i + 1]));
    return r;
}

// Compares the decoded picture (row 0 at the bottom) with the reference (top
// row first); 8-bit pictures against the high bytes.  Stops at the first
// difference with a message naming the pixel.  clearIsWhite: where the
// reference is fully transparent the picture must hold 0x00FFFFFF (the GIF
// rule for transparent and missing pixels).
inline ::testing::AssertionResult samePixels(cPictBase& p, const Reference& ref, bool clearIsWhite = false) {
    if (p.width() != ref.width || p.height() != ref.height)
        return ::testing::AssertionFailure() << "size " << p.width() << "x" << p.height() << ", want " << ref.width
                                             << "x" << ref.height;
    if (ref.rgba.size() != static_cast<std::size_t>(ref.width * ref.height * 4))
        return ::testing::AssertionFailure() << "short reference";
    for (long long y = 0; y < ref.height; ++y) {
        for (long long x = 0; x < ref.width; ++x) {
            const std::uint16_t* want = &ref.rgba[static_cast<std::size_t>((y * ref.width + x) * 4)];
            const long long at = (ref.height - 1 - y) * ref.width + x;
            unsigned long long got, exp;
            if (p.is16Bpp()) {
                got = p.raw16Bpp()[at];
                exp = static_cast<unsigned long long>(want[3]) << 48 | static_cast<unsigned long long>(want[0]) << 32 |
                      static_cast<unsigned long long>(want[1]) << 16 | want[2];
            } else {
                got = p.raw8Bpp()[at];
                exp = static_cast<unsigned long long>(want[3] >> 8) << 24 | static_cast<unsigned long long>(want[0] >> 8) << 16 |
                      static_cast<unsigned long long>(want[1] >> 8) << 8 | (want[2] >> 8);
                if (clearIsWhite && want[3] == 0) exp = 0x00FFFFFFu;
            }
            if (got != exp) {
                std::ostringstream m;
                m << "pixel x " << x << ", y " << y << " from the top: got " << std::hex << got << ", want " << exp;
                return ::testing::AssertionFailure() << m.str();
            }
        }
    }
    return ::testing::AssertionSuccess();
}

// The mean and the largest difference of the colour components of an 8-bit
// picture (row 0 at the bottom) and a reference of its size (top row first),
// for fitted pictures that an outside tool averaged its own way.
inline void expectWithin(cPictBase& got, const Reference& want, double meanLimit, int maxLimit) {
    ASSERT_EQ(got.width(), want.width);
    ASSERT_EQ(got.height(), want.height);
    ASSERT_NE(got.raw8Bpp(), nullptr);
    double sum = 0;
    int most = 0;
    for (long long y = 0; y < want.height; ++y)
        for (long long x = 0; x < want.width; ++x) {
            const unsigned p = got.raw8Bpp()[(want.height - 1 - y) * want.width + x];
            const std::uint16_t* w = &want.rgba[static_cast<std::size_t>((y * want.width + x) * 4)];
            const int comps[3] = {static_cast<int>(p >> 16 & 255), static_cast<int>(p >> 8 & 255),
                                  static_cast<int>(p & 255)};
            for (int c = 0; c < 3; ++c) {
                const int d = comps[c] > (w[c] >> 8) ? comps[c] - (w[c] >> 8) : (w[c] >> 8) - comps[c];
                sum += d;
                most = d > most ? d : most;
            }
        }
    EXPECT_LE(sum / static_cast<double>(want.width * want.height * 3), meanLimit);
    EXPECT_LE(most, maxLimit);
}

// Decodes the file plainly and into two render targets with decoder D: a
// larger target must hold exactly what toExtTarget makes of the plain
// picture; a smaller one must be painted everywhere and, for a decoder that
// streams its rows (streamed), hold exactly what the plain picture's rows
// make when sent through the render target's sink (at a third of the size
// each pixel lands in one bin, whatever the order of rows or pixels).
template <typename D>
void expectTargetsMatchPlainDecode(const Bytes& file, const std::string& name, bool streamed = false) {
    auto decodeInto = [&](D& d) {
        cBufWrapperIO io(const_cast<unsigned char*>(file.data()), static_cast<long long>(file.size()), false);
        return d.decode(&io);
    };
    D full;
    ASSERT_TRUE(decodeInto(full)) << name;
    const long long sizes[2][2] = {{full.width() + 5, full.height() + 4}, {full.width() / 3 + 1, full.height() / 3 + 1}};
    for (const auto& sz : sizes) {
        std::vector<unsigned int> direct(static_cast<std::size_t>(sz[0] * sz[1]), 0xDEADBEEFu), copied(direct.size());
        cPictBase::sExtPictDef t1, t2;
        t1.pixels = direct.data();
        t2.pixels = copied.data();
        t1.width = t2.width = sz[0];
        t1.height = t2.height = sz[1];
        t1.background = t2.background = 0x11223344u;
        D viaTarget;
        ASSERT_TRUE(viaTarget.setExtTarget(&t1));
        ASSERT_TRUE(decodeInto(viaTarget)) << name;
        EXPECT_EQ(viaTarget.raw8Bpp(), nullptr) << name;
        EXPECT_EQ(viaTarget.raw16Bpp(), nullptr) << name;
        if (sz[0] > full.width()) {
            ASSERT_TRUE(full.toExtTarget(&t2));
            EXPECT_EQ(direct, copied) << name;
        } else {
            for (unsigned v : direct) EXPECT_NE(v, 0xDEADBEEFu) << name;
            if (!streamed) continue;
            _typebuf<unsigned int> px;
            ASSERT_TRUE(full.getColorData(px));
            cPictDummy sent;
            ASSERT_TRUE(sent.create(px, full.width(), full.height()));
            ASSERT_TRUE(sent.setExtTarget(&t2));
            ASSERT_TRUE(sent.startExtRender());
            ASSERT_LT(sent.extScale(), 0.5);
            for (long long y = sent.height() - 1; y >= 0; --y)
                sent.setExtRow(y, sent.raw8Bpp() + y * sent.width(), sent.width());
            sent.endExtRender();
            EXPECT_EQ(direct, copied) << name;
        }
    }
}

// The paths of the inputs kept in a folder (qortest::keptInputs), sorted.
inline std::vector<std::string> filesIn(const std::string& dir) {
    std::vector<std::string> out;
    for (const std::string& name : qortest::keptInputs(dir)) out.push_back(dir + "/" + name);
    return out;
}

// Decoding and probing whole files in memory with decoder D.
template <typename D>
bool decodeBytes(const Bytes& b, D& d) {
    cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
    return d.decode(&io);
}
template <typename D>
bool decodeBytes(const Bytes& b) {
    D d;
    return decodeBytes(b, d);
}
template <typename D>
bool probeBytes(const Bytes& b, cPictBase::sPictInfo* info = nullptr) {
    cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
    return D::validFor(&io, info);
}

// Appends v as n little-endian bytes: the builder of hand-made headers.
inline void le(Bytes& b, unsigned long long v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

// Writes v as n little-endian bytes over b[at ...]: the mender of a header.
inline void putLe(Bytes& b, std::size_t at, unsigned long long v, int n) {
    for (int i = 0; i < n; ++i) b.at(at + static_cast<std::size_t>(i)) = static_cast<unsigned char>(v >> (8 * i));
}

// The generator scripts behind GeneratedFiles.
struct FormatsScript {
    static const char* name() { return "make_formats.py"; }
};
struct ImagesScript {
    static const char* name() { return "make_images.py"; }
};
struct AdapterScript {
    static const char* name() { return "make_adapter_images.py"; }
};

// The files tests/picts/<Script> writes for Tag::kind, made once per
// suite: TEST_F(Suite, ...) with class Suite : public GeneratedFiles<Tag> {}.
template <typename Tag, typename Script = FormatsScript>
class GeneratedFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new qortest::TempDir;
        index_ = new std::vector<std::pair<std::string, int> >(generate(Tag::kind(), dir_->path(), Script::name()));
        EXPECT_FALSE(index_->empty());
    }
    static void TearDownTestSuite() {
        delete index_;
        delete dir_;
    }
    static Bytes file(const std::string& name) { return readBytes(dir_->file(name)); }
    static Reference ref(const std::string& stem) { return readReference(dir_->file(stem + ".ref")); }
    static std::string stem(const std::string& name) { return name.substr(0, name.rfind('.')); }

    // Every file of the index: the probe reports the oracle's size, the
    // decode gives its pixels (16-bit when the index says so).
    template <typename D>
    static void expectEveryFileMatches(std::size_t atLeast) {
        ASSERT_GE(index_->size(), atLeast);
        for (const auto& entry : *index_) {
            SCOPED_TRACE(entry.first);
            const Bytes b = file(entry.first);
            const Reference r = ref(stem(entry.first));
            cPictBase::sPictInfo info;
            ASSERT_TRUE(probeBytes<D>(b, &info));
            EXPECT_EQ(info.width, r.width);
            EXPECT_EQ(info.height, r.height);
            D d;
            ASSERT_TRUE(decodeBytes(b, d));
            EXPECT_EQ(d.is16Bpp(), entry.second == 16);
            EXPECT_TRUE(samePixels(d, r));
        }
    }

    static inline qortest::TempDir* dir_ = nullptr;
    static inline std::vector<std::pair<std::string, int> >* index_ = nullptr;
};

// A file that decodes must fail when cut short at any byte: the formats
// whose every byte up to the end carries pixels.
template <typename D>
void expectEveryCutFails(const Bytes& b, const std::string& name) {
    ASSERT_TRUE(decodeBytes<D>(b)) << name;
    for (std::size_t n = 0; n < b.size(); ++n)
        EXPECT_FALSE(decodeBytes<D>(Bytes(b.begin(), b.begin() + static_cast<long>(n)))) << name << " cut at " << n;
}

// What a kept input of tests/data/<folder>/malformed must give, from what
// the input is: refused by the probe; taken by the probe at the size it
// declares and refused by the decode; or decoded whole at a known size (and,
// for the decoders of several pages, with a known count of pages).
struct KeptInput {
    std::string name;
    bool probes = false;
    long long declaredWidth = 0, declaredHeight = 0;
    bool decodes = false;
    long long width = 0, height = 0;
    int pages = 1;
};
inline KeptInput refusedByProbe(const std::string& name) {
    KeptInput k;
    k.name = name;
    return k;
}
inline KeptInput refusedAfterProbe(const std::string& name, long long declaredWidth, long long declaredHeight) {
    KeptInput k = refusedByProbe(name);
    k.probes = true;
    k.declaredWidth = declaredWidth;
    k.declaredHeight = declaredHeight;
    return k;
}
inline KeptInput decodedAt(const std::string& name, long long width, long long height, int pages = 1) {
    KeptInput k = refusedAfterProbe(name, width, height);
    k.decodes = true;
    k.width = width;
    k.height = height;
    k.pages = pages;
    return k;
}

// A decode meter (cPictBase::sDecodeMeter) on this thread while the object
// lives, held to the JPEG scans `decodes` decodes of `inputBytes` may pay
// for: kJpegScanBudget times the pixels those bytes may describe, each.
// Every JPEG door charges one budget of the input's bytes (or fewer), so no
// decode of such an input goes past it; one that gave nested data a budget
// of its own again stops there, failing, instead of running on over
// thumbnails of thumbnails.
struct ScansOfInput {
    cPictBase::sDecodeMeter meter;
    cPictBase::sDecodeMeter* before;
    explicit ScansOfInput(std::size_t inputBytes, int decodes = 1) {
        const long long describable = kFreePictPixels + static_cast<long long>(inputBytes) * kMaxPixelsPerInputByte;
        meter.workLimit = static_cast<unsigned long long>(decodes) * kJpegScanBudget * describable;
        before = cPictBase::setDecodeMeter(&meter);
    }
    ~ScansOfInput() { cPictBase::setDecodeMeter(before); }
    ScansOfInput(const ScansOfInput&) = delete;
    ScansOfInput& operator=(const ScansOfInput&) = delete;
};

// Replays the inputs that once crashed, hung or leaked decoder D, which
// tests/data/<folder>/malformed must hold exactly (a folder with none keeps
// an empty table): each through the probe and the decode, and, for a
// decoder of several pages, through every page (the first 8), each decode
// held to the JPEG scans its bytes may pay for (ScansOfInput).  A refused
// input must be refused on every page; a decoded one must leave a whole
// picture of its size.
template <typename D>
void replayMalformed(const std::string& folder, const std::vector<KeptInput>& table) {
    const std::string dir = qortest::dataPath(folder + "/malformed");
    std::vector<std::string> names;
    for (const KeptInput& k : table) names.push_back(k.name);
    EXPECT_TRUE(qortest::holdsInputs(dir, names));
    for (const KeptInput& k : table) {
        SCOPED_TRACE(folder + "/malformed/" + k.name);
        const Bytes b = readBytes(dir + "/" + k.name);
        cPictBase::sPictInfo info;
        const bool probed = probeBytes<D>(b, &info);
        EXPECT_EQ(probed, k.probes);
        if (probed && k.probes) {
            EXPECT_EQ(info.width, k.declaredWidth);
            EXPECT_EQ(info.height, k.declaredHeight);
        }
        D d;
        bool decoded = false;
        {
            ScansOfInput scans(b.size());
            decoded = decodeBytes(b, d);
            EXPECT_FALSE(scans.meter.refusedWork);
        }
        EXPECT_EQ(decoded, k.decodes);
        if (decoded && k.decodes) {
            EXPECT_EQ(d.width(), k.width);
            EXPECT_EQ(d.height(), k.height);
            EXPECT_TRUE(d.is16Bpp() ? d.raw16Bpp() != nullptr : d.raw8Bpp() != nullptr);
        }
        if (!d.supportsMultipage()) continue;
        D paged;
        cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
        const int pages = paged.getNumPages(&io);
        if (k.decodes) {
            EXPECT_EQ(pages, k.pages);
        }
        for (int page = 0; page < (pages > 0 ? pages : 1) && page < 8; ++page) {
            ScansOfInput scans(b.size());
            const bool ok = paged.decodePage(&io, page);
            EXPECT_FALSE(scans.meter.refusedWork) << "page " << page;
            if (!k.decodes) {
                EXPECT_FALSE(ok) << "page " << page;
            } else if (page == 0) {
                EXPECT_TRUE(ok);
                EXPECT_EQ(paged.width(), k.width);
                EXPECT_EQ(paged.height(), k.height);
            }
        }
    }
}

}  // namespace picttest
