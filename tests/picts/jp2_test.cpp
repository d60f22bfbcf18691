// JPEG 2000 decoding compared with the source pictures opj_compress coded
// losslessly (JP2 files and bare codestreams; resolutions, tiles,
// progression orders, grey, alpha, 12- and 16-bit grey); damaged and
// hostile files fail quietly.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <vector>

#include "adaptertest.h"
#include "allocmeter.h"
#include "picts/pictjp2.h"
#include "picts/pictlimits.h"

using adaptertest::Bytes;

namespace {

struct Jp2Kind {
    static const char* kind() { return "jp2"; }
};
class Jp2Files : public picttest::GeneratedFiles<Jp2Kind, picttest::AdapterScript> {};

// The offset of the SIZ marker segment in a codestream or JP2 file.
std::size_t sizOffset(const Bytes& b) {
    for (std::size_t i = 0; i + 1 < b.size(); ++i)
        if (b[i] == 0xFF && b[i + 1] == 0x51) return i;
    return 0;
}

void putBe32(Bytes& b, std::size_t at, unsigned long v) {
    for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<unsigned char>(v >> (24 - 8 * i));
}

}  // namespace

TEST_F(Jp2Files, FilesDecodeLikeTheirSources) { adaptertest::decodeAllLikeReferences<cPictJP2>(dir_->path(), *index_, "jp2_"); }

TEST_F(Jp2Files, CodestreamsDecodeLikeTheirSources) {
    adaptertest::decodeAllLikeReferences<cPictJ2K>(dir_->path(), *index_, "j2k_");
}

TEST_F(Jp2Files, EachProbeTakesOnlyItsOwnForm) {
    const Bytes jp2 = file("jp2_rgb.jp2"), j2k = file("j2k_rgb.j2k");
    EXPECT_TRUE(adaptertest::probes<cPictJP2>(jp2));
    EXPECT_FALSE(adaptertest::probes<cPictJ2K>(jp2));
    EXPECT_TRUE(adaptertest::probes<cPictJ2K>(j2k));
    EXPECT_FALSE(adaptertest::probes<cPictJP2>(j2k));
}

TEST_F(Jp2Files, DamagedFilesFailQuietly) {
    for (const char* name : {"jp2_rgb_tiles.jp2", "jp2_grey16.jp2"}) {
        SCOPED_TRACE(name);
        adaptertest::damagedFormsFail<cPictJP2>(file(name));
    }
    const Bytes good = file("j2k_rgb_rpcl.j2k");
    adaptertest::damagedFormsFail<cPictJ2K>(good, 33, 44);
}

TEST_F(Jp2Files, OversizedPictureIsRefusedBeforeDecoding) {
    // SIZ: marker, Lsiz, Rsiz, then Xsiz and Ysiz (big-endian u32).
    for (const char* name : {"j2k_grey.j2k", "jp2_grey.jp2"}) {
        SCOPED_TRACE(name);
        Bytes b = file(name);
        const std::size_t siz = sizOffset(b);
        ASSERT_NE(siz, 0u);
        putBe32(b, siz + 6, 60000);
        putBe32(b, siz + 10, 60000);
        const bool jp2 = std::string(name).find(".jp2") != std::string::npos;
        const std::string said = adaptertest::stderrDuring([&] {
            EXPECT_FALSE(jp2 ? adaptertest::probes<cPictJP2>(b) : adaptertest::probes<cPictJ2K>(b));
            EXPECT_FALSE(jp2 ? adaptertest::decodes<cPictJP2>(b) : adaptertest::decodes<cPictJ2K>(b));
        });
        EXPECT_EQ(said, "");
    }
}

// Every tile needs a tile-part of at least 14 bytes: a grid of more tiles
// than the input could hold is refused before the library lays it out,
// while a real tiled file passes.
TEST_F(Jp2Files, TileGridPastTheInputIsRefusedBeforeDecoding) {
    EXPECT_TRUE(adaptertest::decodes<cPictJP2>(file("jp2_rgb_tiles.jp2")));
    for (unsigned long tile : {1ul, 2ul}) {
        SCOPED_TRACE(tile);
        Bytes b = file("j2k_grey.j2k");
        const std::size_t siz = sizOffset(b);
        ASSERT_NE(siz, 0u);
        putBe32(b, siz + 22, tile);  // XTsiz
        putBe32(b, siz + 26, tile);  // YTsiz
        cPictBase::largestPixelBuffer(true);
        EXPECT_FALSE(adaptertest::probes<cPictJ2K>(b));
        EXPECT_FALSE(adaptertest::decodes<cPictJ2K>(b));
        EXPECT_EQ(cPictBase::largestPixelBuffer(true), 0);
    }
}

// Each decoder takes only its own form, a JP2 file or a bare codestream, at
// the size of the codestream's SIZ segment.
TEST(Jp2Malformed, SavedInputsReplay) {
    const char* const comps = "huge-64-components-of-2048x2048-in-334-bytes.j2k";
    const char* const jp2 = "huge-empty-packets-16384x16384-in-167-bytes.jp2";
    const char* const j2k = "huge-empty-packets-16384x16384-in-82-bytes.j2k";
    const char* const grid = "subsampled-grid-18x4235577-in-94-bytes.j2k";
    // Work without bytes behind it (make_jp2_cost_inputs.py): packets of
    // 65,535 layers, 88 coding passes for each of 4,900 code-blocks,
    // packets visiting 65,536 code-blocks each, position steps over crossed
    // precincts.  Replayed in a child held to a minute of processor time.
    const char* const layers = "slow-65535-layers-of-4096-precincts-in-90-bytes.j2k";
    const char* const passes = "slow-4900-code-blocks-of-88-passes-in-37888-bytes.j2k";
    const char* const visits = "slow-998-packets-visiting-65536-code-blocks-in-5175-bytes.j2k";
    const char* const steps = "slow-rpcl-steps-over-11000x11000-in-173-bytes.j2k";
    EXPECT_TRUE(qortest::withinCpuSeconds(60, [&] {
        adaptertest::replayMalformed<cPictJP2>(
            "jp2", {adaptertest::refusedByProbe(comps), adaptertest::refusedAfterProbe(jp2, 16384, 16384),
                    adaptertest::refusedByProbe(j2k), adaptertest::refusedByProbe(grid),
                    adaptertest::refusedByProbe(layers), adaptertest::refusedByProbe(passes),
                    adaptertest::refusedByProbe(visits), adaptertest::refusedByProbe(steps)});
        adaptertest::replayMalformed<cPictJ2K>(
            "jp2", {adaptertest::refusedAfterProbe(comps, 2048, 2048), adaptertest::refusedByProbe(jp2),
                    adaptertest::refusedAfterProbe(j2k, 16384, 16384), adaptertest::refusedAfterProbe(grid, 18, 4235577),
                    adaptertest::refusedAfterProbe(layers, 64, 64), adaptertest::refusedAfterProbe(passes, 4480, 4480),
                    adaptertest::refusedAfterProbe(visits, 1024, 1024),
                    adaptertest::refusedAfterProbe(steps, 11000, 11000)});
    }));
}

// ---------------------------------------------------------------------------
// What a decode costs: the codestream's tiles, components, code-blocks and
// precincts are weighed before the library lays them out, and a small
// render target is drawn from a reduced resolution.

namespace {

// A codestream of empty packets: w x h, `comps` components (all but the
// first subsampled by `sub`), `levels` decomposition levels, code-blocks of
// 2^(cb + 2), precincts of 2^pp (none given: the largest), tiles of `tile`
// (0: one), each tile's first tile-part carrying a COD of code-blocks
// 2^(tileCb + 2) when tileCb is given; `layers` layers and `packets` zero
// bytes a tile.
struct sCodestreamShape {
    unsigned long w = 256, h = 256;
    unsigned comps = 1, sub = 1, levels = 5, cb = 4;
    int pp = -1, tileCb = -1;
    unsigned long tile = 0;
    unsigned layers = 1;
    std::size_t packets = 64;
};

Bytes codestream(const sCodestreamShape& c) {
    Bytes b = {0xFF, 0x4F};
    auto be = [&](unsigned long long v, int n) {
        for (int i = n - 1; i >= 0; --i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
    };
    auto cod = [&](unsigned cb) {
        be(0xFF52, 2);
        be(12 + (c.pp >= 0 ? c.levels + 1 : 0), 2);
        b.push_back(c.pp >= 0 ? 1 : 0);
        b.push_back(0);
        be(c.layers, 2);
        b.push_back(0);
        for (unsigned v : {c.levels, cb, cb, 0u, 1u}) b.push_back(static_cast<unsigned char>(v));
        if (c.pp >= 0) b.insert(b.end(), c.levels + 1, static_cast<unsigned char>(c.pp | c.pp << 4));
    };
    const unsigned long tw = c.tile ? c.tile : c.w, th = c.tile ? c.tile : c.h;
    be(0xFF51, 2);
    be(38 + 3 * c.comps, 2);
    be(0, 2);
    for (unsigned long v : {c.w, c.h, 0ul, 0ul, tw, th, 0ul, 0ul}) be(v, 4);
    be(c.comps, 2);
    for (unsigned i = 0; i < c.comps; ++i) {
        b.push_back(7);
        b.push_back(static_cast<unsigned char>(i ? c.sub : 1));
        b.push_back(static_cast<unsigned char>(i ? c.sub : 1));
    }
    cod(c.cb);
    be(0xFF5C, 2);
    be(3 + 3 * c.levels + 1, 2);
    b.push_back(0x40);
    b.insert(b.end(), 3 * c.levels + 1, 8 << 3);
    const unsigned long tiles = ((c.w + tw - 1) / tw) * ((c.h + th - 1) / th);
    for (unsigned long t = 0; t < tiles; ++t) {
        const std::size_t sot = b.size();
        be(0xFF90, 2);
        be(10, 2);
        be(t, 2);
        be(0, 4);  // Psot, below
        b.push_back(0);
        b.push_back(1);
        if (c.tileCb >= 0) cod(static_cast<unsigned>(c.tileCb));
        be(0xFF93, 2);
        b.insert(b.end(), c.packets, 0);
        const std::size_t len = b.size() - sot;
        for (int i = 0; i < 4; ++i) b[sot + 6 + static_cast<std::size_t>(i)] = static_cast<unsigned char>(len >> (24 - 8 * i));
    }
    be(0xFFD9, 2);
    return b;
}

cPictJ2K::sCodestream scan(const Bytes& b) {
    cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
    cPictJ2K::sCodestream cs;
    EXPECT_TRUE(cPictJ2K::scanCodestream(&io, 0, b.size(), cs));
    return cs;
}

}  // namespace

// The scan finds what the library will lay out; the library never holds
// more than the work the scan weighed (5 bytes a unit, and a megabyte for
// the codec itself): small
// code-blocks and precincts, many tiles, subsampled components, and
// code-blocks made small in the tile-part headers alone.
TEST(Jp2Costs, TheScanBoundsWhatTheLibraryHolds) {
    struct Case {
        const char* what;
        sCodestreamShape shape;
        unsigned long long blocksAtLeast;
    };
    sCodestreamShape base;
    Case cases[] = {{"code-blocks of 64", base, 16}, {"code-blocks of 4", base, 256 * 256 / 16}};
    cases[1].shape.cb = 0;
    Case more[] = {{"precincts of 2", base, 256 * 256 / 4}, {"tiles of 32", base, 64},
                   {"subsampled components", base, 0}, {"small code-blocks in the tiles only", base, 256 * 256 / 16}};
    more[0].shape.pp = 1;
    more[0].shape.packets = 40000;
    more[1].shape.tile = 32;
    more[1].shape.levels = 3;
    more[2].shape.comps = 3;
    more[2].shape.sub = 2;
    more[3].shape.tileCb = 0;
    std::vector<Case> all(std::begin(cases), std::end(cases));
    all.insert(all.end(), std::begin(more), std::end(more));
    for (const Case& c : all) {
        SCOPED_TRACE(c.what);
        const Bytes b = codestream(c.shape);
        const cPictJ2K::sCodestream cs = scan(b);
        const cPictJ2K::sCodestream::sWork work = cs.work(0);
        EXPECT_EQ(work.samples, 256ull * 256 + (c.shape.comps - 1) * (256 / c.shape.sub) * (256 / c.shape.sub));
        EXPECT_GE(work.blocks, c.blocksAtLeast);
        qortest::AllocMeter m;
        cPictJ2K d;
        ASSERT_TRUE(adaptertest::decodes<cPictJ2K>(b, &d));
        EXPECT_EQ(d.decodedWork().units, work.units);
        EXPECT_LE(m.peak(), static_cast<long long>(5 * work.units) + (1 << 20));
    }
}

// A codestream whose work is past what its bytes may describe is refused
// before the library lays it out, with the budget it would need just met
// it decodes.
TEST(Jp2Costs, WorkPastWhatTheBytesDescribeIsRefusedBeforeTheLibrary) {
    sCodestreamShape shape;
    shape.w = shape.h = 2048;
    shape.cb = 0;  // 4 x 4: a quarter of a million code-blocks
    shape.packets = 6;
    Bytes b = codestream(shape);
    const cPictJ2K::sCodestream::sWork work = scan(b).work(0);
    ASSERT_FALSE(cPictBase::inputCanDescribe(static_cast<long long>(work.units), static_cast<long long>(b.size())));
    qortest::AllocMeter m;
    cPictJ2K d;
    EXPECT_FALSE(adaptertest::decodes<cPictJ2K>(b, &d));
    EXPECT_LT(m.peak(), 1 << 20);
    // Padded until its bytes pay for it.
    shape.packets = static_cast<std::size_t>((static_cast<long long>(work.units) - kFreePictPixels) / kMaxPixelsPerInputByte);
    b = codestream(shape);
    ASSERT_TRUE(cPictBase::inputCanDescribe(static_cast<long long>(work.units), static_cast<long long>(b.size())));
    EXPECT_TRUE(adaptertest::decodes<cPictJ2K>(b, &d));
    EXPECT_EQ(d.width(), 2048);
}

// Fitted into 24 x 16, a picture of 640 x 480 and six levels is decoded
// three levels down (two decoded pixels for each one of the target, each
// way): an eighth of each side, a fraction of the plain decode's memory,
// and ImageMagick's box average of the source within a few steps.
TEST_F(Jp2Files, SmallTargetsAreDecodedAtAReducedResolution) {
    for (const char* name : {"jp2_fit.jp2", "j2k_fit.j2k"}) {
        SCOPED_TRACE(name);
        const Bytes b = file(name);
        const bool jp2 = name[1] == 'p';
        qortest::AllocMeter m;
        {
            cPictJ2K plain;
            cPictJP2 plainFile;
            ASSERT_TRUE(jp2 ? adaptertest::decodes<cPictJP2>(b, &plainFile) : adaptertest::decodes<cPictJ2K>(b, &plain));
            EXPECT_EQ((jp2 ? plainFile.decodedReduction() : plain.decodedReduction()), 0);
        }
        const long long plainPeak = m.peak();
        cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
        cPictDummy fitted;
        ASSERT_EQ(cPictBase::getImage(&io, fitted, 24, 16, 0), cPictBase::frOk);
        picttest::expectWithin(fitted, picttest::readReference(dir_->file(adaptertest::stem(name) + ".scaled.ref")), 4.0, 40);
        // The same through the decoder and a target of the fitted size.
        cPictDummy canvas;
        ASSERT_TRUE(canvas.create(21, 16, 0));
        cPictBase::sExtPictDef target(&canvas);
        cPictJP2 file;
        cPictJ2K bare;
        cPictJ2K& d = jp2 ? file : bare;
        d.setExtTarget(&target);
        io.set_fp(0);
        m.restart();
        ASSERT_TRUE(d.decode(&io));
        // The picture's compressed data (870 KB) is held either way.
        EXPECT_LT(m.peak() * 4, plainPeak);
        EXPECT_EQ(d.decodedReduction(), 3);
        EXPECT_EQ(d.decodedWork().samples, 80ull * 60 * 3);
        EXPECT_EQ(d.raw8Bpp(), nullptr);
    }
}

// A JP2 palette makes of its component one of that size for every channel,
// up to 255: a 512 x 512 codestream of empty packets with three channels
// decodes to the palette's colour, with 255 it is refused before the
// library makes them (a quarter of a gigabyte).
TEST(Jp2Costs, PaletteChannelsAreWeighedToo) {
    sCodestreamShape shape;
    shape.w = shape.h = 512;
    const Bytes cs = codestream(shape);
    auto jp2 = [&](unsigned channels) {
        Bytes b;
        auto be = [](Bytes& out, unsigned long long v, int n) {
            for (int i = n - 1; i >= 0; --i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
        };
        auto box = [&](Bytes& out, const char* type, const Bytes& body) {
            be(out, 8 + body.size(), 4);
            out.insert(out.end(), type, type + 4);
            out.insert(out.end(), body.begin(), body.end());
        };
        box(b, "jP  ", Bytes{0x0D, 0x0A, 0x87, 0x0A});
        box(b, "ftyp", Bytes{'j', 'p', '2', ' ', 0, 0, 0, 0, 'j', 'p', '2', ' '});
        Bytes ihdr, colr = {1, 0, 0, 0, 0, 0, 16}, pclr, cmap, header;
        be(ihdr, 512, 4);
        be(ihdr, 512, 4);
        be(ihdr, 1, 2);
        for (int v : {7, 7, 0, 0}) ihdr.push_back(static_cast<unsigned char>(v));
        be(pclr, 2, 2);  // two entries
        pclr.push_back(static_cast<unsigned char>(channels));
        pclr.insert(pclr.end(), channels, 7);
        for (unsigned e = 0; e < 2; ++e)
            for (unsigned c = 0; c < channels; ++c) pclr.push_back(static_cast<unsigned char>(e ? 10 + 95 * c : 0));
        for (unsigned c = 0; c < channels; ++c) {
            be(cmap, 0, 2);
            cmap.push_back(1);
            cmap.push_back(static_cast<unsigned char>(c));
        }
        box(header, "ihdr", ihdr);
        box(header, "colr", colr);
        box(header, "pclr", pclr);
        box(header, "cmap", cmap);
        box(b, "jp2h", header);
        box(b, "jp2c", cs);
        return b;
    };
    cPictJP2 three;
    ASSERT_TRUE(adaptertest::decodes<cPictJP2>(jp2(3), &three));
    // Every sample is 128 (no coefficients, the level shift): the index
    // past the last entry takes the last one, (10, 105, 200).
    EXPECT_EQ(three.raw8Bpp()[0], 0xFF0A69C8u);
    EXPECT_EQ(three.raw8Bpp()[512 * 512 - 1], 0xFF0A69C8u);
    qortest::AllocMeter m;
    cPictJP2 many;
    EXPECT_FALSE(adaptertest::decodes<cPictJP2>(jp2(255), &many));
    EXPECT_LT(m.peak(), 8 << 20);
}

// ---------------------------------------------------------------------------
// What the library spends without bytes behind it: the packets of every
// layer (walked and marked), the code-blocks every packet that is not empty
// visits, the positions of the position-driven orders, and the coding
// passes the packet headers give each code-block, run over the whole block
// with data or not.  The codestreams below are written by
// make_jp2_cost_inputs.py; the costly ones are kept under
// tests/data/jp2/malformed.  A decode that would cost what these once cost
// runs in a child held to a minute of processor time, so that the fault,
// come back, fails the test instead of hanging it.

namespace {

Bytes kept(const std::string& name) {
    const Bytes b = picttest::readBytes(qortest::dataPath("jp2/malformed/" + name));
    EXPECT_FALSE(b.empty()) << name;
    return b;
}

// The work of the codestream's headers and of its packet headers.
cPictJ2K::sCodestream::sWork walked(const Bytes& b, bool* within = nullptr) {
    const cPictJ2K::sCodestream cs = scan(b);
    cPictJ2K::sCodestream::sWork w = cs.work(0);
    cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
    const bool ok = cs.passes(&io, 0, 1ULL << 62, w);
    if (within) *within = ok;
    return w;
}

// Whether every door refuses b (the plain decode, the factory's decode and
// its fit into 64 x 64), holding at most `most` bytes at once.
void refusedEverywhere(const Bytes& b, long long most) {
    qortest::AllocMeter m;
    cPictJ2K d;
    EXPECT_FALSE(adaptertest::decodes<cPictJ2K>(b, &d));
    cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
    std::unique_ptr<cPictBase> p(cPictBase::mkPicture(&io, nullptr));
    EXPECT_EQ(p, nullptr);
    cPictDummy fitted;
    io.set_fp(0);
    EXPECT_NE(cPictBase::getImage(&io, fitted, 64, 64, 0), cPictBase::frOk);
    EXPECT_LT(m.peak(), most);
}

constexpr unsigned kCpuSeconds = 60;

// The SOT marker: the first tile-part.
const unsigned char kSot[] = {0xFF, 0x90};

struct Jp2CostScript {
    static const char* name() { return "make_jp2_cost_inputs.py"; }
};
struct Jp2ShapesKind {
    static const char* kind() { return "shapes"; }
};
struct Jp2EncodedKind {
    static const char* kind() { return "encoded"; }
};

}  // namespace

// 65,535 layers of 4,096 precincts in 90 bytes: 268 million packets, which
// the library walked and marked (12 s, 532 MB), refused before it sees the
// stream.  Padded until its bytes pay for them, 1,024 layers decode.
TEST(Jp2Costs, PacketsOfEveryLayerAreWeighedBeforeTheLibrary) {
    const Bytes b = kept("slow-65535-layers-of-4096-precincts-in-90-bytes.j2k");
    ASSERT_EQ(b.size(), 90u);
    const cPictJ2K::sCodestream::sWork w = scan(b).work(0);
    EXPECT_EQ(w.precincts, 4096u);
    EXPECT_EQ(w.packets, 65535ull * 4096);
    EXPECT_EQ(w.marks, 65536ull * 4096);
    EXPECT_FALSE(cPictBase::inputCanDescribe(static_cast<long long>(w.units), 90));
    EXPECT_TRUE(qortest::withinCpuSeconds(kCpuSeconds, [&] { refusedEverywhere(b, 1 << 20); }));
    sCodestreamShape shape;
    shape.w = shape.h = 64;
    shape.levels = 0;
    shape.pp = 0;
    shape.layers = 1024;
    shape.packets = 8;
    Bytes small = codestream(shape);
    const cPictJ2K::sCodestream::sWork layered = scan(small).work(0);
    EXPECT_EQ(layered.packets, 1024u * 4096);
    ASSERT_FALSE(cPictBase::inputCanDescribe(static_cast<long long>(layered.units), static_cast<long long>(small.size())));
    EXPECT_FALSE(adaptertest::decodes<cPictJ2K>(small));
    shape.packets = static_cast<std::size_t>((static_cast<long long>(layered.units) - kFreePictPixels) / kMaxPixelsPerInputByte);
    small = codestream(shape);
    cPictJ2K d;
    EXPECT_TRUE(qortest::withinCpuSeconds(kCpuSeconds, [&] { EXPECT_TRUE(adaptertest::decodes<cPictJ2K>(small)); }));
    EXPECT_TRUE(adaptertest::decodes<cPictJ2K>(small, &d));
    EXPECT_EQ(d.decodedWork().packets, 1024u * 4096);
}

// 4,900 code-blocks of 64 x 64, each given 88 coding passes over one byte
// (37 KB: 3.6 s in the library, against 0.41 s for a pass each): the passes
// are counted from the packet headers and weighed before the library runs
// them.  Sixteen such blocks in 156 bytes decode, their passes counted.
TEST(Jp2Costs, CodingPassesAreWeighedBeforeTheLibrary) {
    const Bytes b = kept("slow-4900-code-blocks-of-88-passes-in-37888-bytes.j2k");
    bool within = false;
    const cPictJ2K::sCodestream::sWork w = walked(b, &within);
    EXPECT_EQ(w.blocks, 4900u);
    EXPECT_EQ(w.passes, 4900u * 88);
    EXPECT_EQ(w.passUnits, 4900ull * 88 * (64 * 64 + 8));
    // Its samples alone, the old weighing, are within what 37 KB may ask.
    EXPECT_TRUE(cPictBase::inputCanDescribe(static_cast<long long>(w.units - w.passUnits), static_cast<long long>(b.size())));
    EXPECT_FALSE(cPictBase::inputCanDescribe(static_cast<long long>(w.units), static_cast<long long>(b.size())));
    EXPECT_TRUE(qortest::withinCpuSeconds(kCpuSeconds, [&] { refusedEverywhere(b, 1 << 20); }));
    int status = -1;
    const std::string out = qortest::runCommand(
        qortest::python3() + " -c \"import sys; sys.path.insert(0, '" QOR_SOURCE_DIR "/tests/picts'); "
                             "import make_jp2_cost_inputs as m; sys.stdout.buffer.write(m.many_passes(4, 4, 88, cb=4))\"",
        &status);
    ASSERT_EQ(status, 0);
    const Bytes small(out.begin(), out.end());
    cPictJ2K d;
    ASSERT_TRUE(adaptertest::decodes<cPictJ2K>(small, &d));
    EXPECT_EQ(d.decodedWork().passes, 16u * 88);
    EXPECT_EQ(d.width(), 64);
}

// 998 layers whose one-byte packets each visit 65,536 code-blocks of 4 x 4
// (1.5 s in the library from 5 KB), and a resolution-position order over
// two components whose precincts are fine across one axis each (2.8 s for a
// 64 x 64 thumbnail from 173 bytes): refused before the library starts.
TEST(Jp2Costs, VisitsAndPositionStepsAreWeighedBeforeTheLibrary) {
    const Bytes visits = kept("slow-998-packets-visiting-65536-code-blocks-in-5175-bytes.j2k");
    const cPictJ2K::sCodestream::sWork v = scan(visits).work(0);
    EXPECT_EQ(v.blocks, 65536u);
    EXPECT_EQ(v.visits, 998ull * 65536);
    const Bytes crossed = kept("slow-rpcl-steps-over-11000x11000-in-173-bytes.j2k");
    const cPictJ2K::sCodestream::sWork c = scan(crossed).work(0);
    // A quarter of the grid, for each of 2 components at 9 resolutions.
    EXPECT_EQ(c.positions, 5500ull * 5500 * 2 * 9);
    EXPECT_TRUE(qortest::withinCpuSeconds(kCpuSeconds, [&] {
        refusedEverywhere(visits, 1 << 20);
        refusedEverywhere(crossed, 1 << 20);
    }));
}

// A caller's meter is charged the decode's work before the library starts,
// and refuses the decode it cannot pay for.
TEST(Jp2Costs, DecodeMeterIsChargedTheWholeWork) {
    sCodestreamShape shape;
    shape.layers = 5;
    shape.pp = 2;
    const Bytes b = codestream(shape);
    cPictJ2K d;
    ASSERT_TRUE(adaptertest::decodes<cPictJ2K>(b, &d));
    const unsigned long long units = d.decodedWork().units;
    EXPECT_EQ(units, walked(b).units);
    for (unsigned long long limit : {units, units - 1}) {
        cPictBase::sDecodeMeter meter;
        meter.workLimit = limit;
        cPictBase::sDecodeMeter* before = cPictBase::setDecodeMeter(&meter);
        cPictJ2K metered;
        const bool ok = adaptertest::decodes<cPictJ2K>(b, &metered);
        cPictBase::setDecodeMeter(before);
        EXPECT_EQ(ok, limit == units);
        EXPECT_EQ(meter.work, limit == units ? units : 0u);
        EXPECT_EQ(meter.refusedWork, limit != units);
        EXPECT_EQ(meter.scans, 0u);
    }
}

// Written bit by bit (make_jp2_cost_inputs.py shapes): code-blocks first
// included in later layers, precincts, subsampled components, tiles and
// tile-parts, SOP and EPH markers, every pass terminated, the arithmetic
// coder bypassed, codeword segments past 109 passes, headers packed in PPT
// and PPM segments.  The walk counts the passes the writer declared, reads
// every tile to its last byte and no packet past it; the library decodes
// each.
class Jp2Shapes : public picttest::GeneratedFiles<Jp2ShapesKind, Jp2CostScript> {};

TEST_F(Jp2Shapes, PassesAreCountedAsTheWriterDeclaredThem) {
    ASSERT_EQ(index_->size(), 14u);
    for (const auto& entry : *index_) {
        SCOPED_TRACE(entry.first);
        const Bytes b = file(entry.first);
        bool within = false;
        const cPictJ2K::sCodestream::sWork w = walked(b, &within);
        EXPECT_TRUE(within);
        EXPECT_EQ(w.passes, static_cast<unsigned long long>(entry.second));
        EXPECT_EQ(w.tilesBounded, 0u);
        EXPECT_EQ(w.unread, 0u);
        EXPECT_EQ(w.packetsPast, 0u);
        cPictJ2K d;
        EXPECT_TRUE(adaptertest::decodes<cPictJ2K>(b, &d));
        EXPECT_EQ(d.decodedWork().passes, w.passes);
    }
}

// A packet header cut short: what it declares past the data the library
// refuses, and the walk cannot read; the tile is weighed at the most
// passes the library runs on each of its code-blocks.
TEST_F(Jp2Shapes, TilesWhoseHeadersCannotBeReadAreWeighedAtTheMost) {
    Bytes b = file("many-blocks.j2k");
    const cPictJ2K::sCodestream::sWork whole = walked(b);
    ASSERT_EQ(whole.tilesBounded, 0u);
    // Psot of the one tile-part, and the data after its SOD, both cut.
    const std::size_t sot = std::search(b.begin(), b.end(), std::begin(kSot), std::end(kSot)) - b.begin();
    ASSERT_LT(sot, b.size());
    const std::size_t keep = 200;
    putBe32(b, sot + 6, 14 + keep);
    b.resize(sot + 14 + keep);
    b.push_back(0xFF);
    b.push_back(0xD9);
    bool within = false;
    const cPictJ2K::sCodestream::sWork cut = walked(b, &within);
    EXPECT_EQ(cut.tilesBounded, 1u);
    EXPECT_EQ(cut.passes, whole.blocks * 88);
    EXPECT_EQ(cut.passUnits, 256ull * 256 * 88 + whole.blocks * 88 * 8);
}

// opj_compress's codestreams of a 160 x 120 picture in every progression
// order and with progression order changes, tiles with offsets, tile-parts,
// precincts, subsampling, SOP and EPH markers and every coding style
// (make_jp2_cost_inputs.py encoded): the walk reads every tile to its last
// byte and no packet past it, and each decodes with its work far below
// what its bytes may ask.
class Jp2Encoded : public picttest::GeneratedFiles<Jp2EncodedKind, Jp2CostScript> {};

TEST_F(Jp2Encoded, EncoderFilesAreReadToTheirLastByte) {
    ASSERT_EQ(index_->size(), 15u);
    for (const auto& entry : *index_) {
        SCOPED_TRACE(entry.first);
        const Bytes b = file(entry.first);
        const cPictJ2K::sCodestream::sWork w = walked(b);
        EXPECT_GT(w.passes, 0u);
        EXPECT_EQ(w.tilesBounded, 0u);
        EXPECT_EQ(w.unread, 0u);
        EXPECT_EQ(w.packetsPast, 0u);
        cPictJ2K d;
        ASSERT_TRUE(adaptertest::decodes<cPictJ2K>(b, &d));
        EXPECT_GE(d.width(), 160);
        EXPECT_TRUE(cPictBase::inputCanDescribe(static_cast<long long>(8 * d.decodedWork().units),
                                                static_cast<long long>(b.size())));
    }
}

// Files of realistic shape ask far less than their bytes may: 20 layers
// over precincts of 64 x 64 and less, one compressed 200 times, and a
// lossless one, of 512 x 384 (a noise of every scale, as photographs have),
// each need less than half of what their bytes may ask, without the share
// every input has for free.
TEST(Jp2Costs, RealisticFilesAskLessThanHalfWhatTheirBytesMay) {
    qortest::TempDir dir;
    const std::string script = R"PY(
import subprocess, sys
from PIL import Image
w, h = 512, 384
acc = None
scale = 4
while scale <= w:
    n = Image.effect_noise((scale, scale * h // w), 64).resize((w, h), Image.BICUBIC)
    acc = n if acc is None else Image.blend(acc, n, 0.35)
    scale *= 2
im = Image.merge('RGB', (acc, acc.transpose(Image.FLIP_LEFT_RIGHT), acc.transpose(Image.FLIP_TOP_BOTTOM)))
im.save(sys.argv[1] + '/src.ppm')
layers = ','.join(str(400 / (l + 1)) for l in range(20))
for name, args in (('layers', ['-r', layers, '-c', '[64,64],[64,64],[32,32]', '-n', '6']), ('r200', ['-r', '200']),
                   ('lossless', [])):
    subprocess.run(['opj_compress', '-i', sys.argv[1] + '/src.ppm', '-o', sys.argv[1] + '/' + name + '.j2k'] + args,
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
)PY";
    int status = -1;
    const std::string out = qortest::runPython(script, dir.path(), &status);
    ASSERT_EQ(status, 0) << out;
    for (const char* name : {"layers.j2k", "r200.j2k", "lossless.j2k"}) {
        SCOPED_TRACE(name);
        const Bytes b = picttest::readBytes(dir.file(name));
        cPictJ2K d;
        ASSERT_TRUE(adaptertest::decodes<cPictJ2K>(b, &d));
        EXPECT_EQ(d.width(), 512);
        EXPECT_GT(d.decodedWork().passes, 0u);
        EXPECT_LT(2 * d.decodedWork().units, static_cast<unsigned long long>(b.size()) * kMaxPixelsPerInputByte);
    }
}
