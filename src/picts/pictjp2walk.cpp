// What a JPEG 2000 codestream asks of OpenJPEG, read before the library
// lays out a thing: the main and tile-part headers (cPictJ2K::
// scanCodestream), the work they declare (sCodestream::work), and the coding
// passes the packet headers give each code-block (sCodestream::passes).
//
// The library's work follows what the headers declare, not the bytes behind
// them:
// - every tile, component, resolution, precinct and code-block is laid out;
// - every packet of every layer is walked, whether the data reaches it or
//   not (past the data a packet reads as empty, at no byte), and marked in
//   an array of (layers + 1) x components x resolutions x the largest
//   precinct count of the tile;
// - a packet that is not empty visits every code-block of its precinct, one
//   that includes none of them too;
// - the position-driven progressions step over the tile's reference grid
//   at the finest precinct step of any component and resolution, trying
//   every component and resolution at each step;
// - each coding pass a packet header declares for a code-block is run over
//   the whole block, with data for it or not (a pass past the data reads
//   the coder's fill).
// The headers give all of it but the passes, which only the packet headers
// tell: those are read here as the library reads them (B.10 of the
// standard, with the library's own limits), tile by tile, once what the
// walk costs has been weighed.
#include "picts/pictjp2.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "base/bytereader.h"
#include "base/checked.h"

namespace {

// The fewest bytes of one tile-part: SOT (marker and 10 bytes) and SOD.
constexpr unsigned long long kMinJ2KTilePartBytes = 14;

// The work of sCodestream::sWork, in units of a sample's share: a sample
// costs two (the library holds it twice, 4 bytes each time, and takes 10 to
// 20 ns to decode and hand it on); a unit is about 5 ns or 5 bytes.
// - a code-block or a precinct: its structures, its share of the tag trees
//   and of the packet reading, about 400 bytes and 400 ns in OpenJPEG 2.5;
constexpr unsigned long long kJ2KBlockWork = 96;
// - a packet walked: its step of the progression, its header (an empty one
//   past the data reads no byte) and its mark, some 28 ns;
constexpr unsigned long long kJ2KPacketWork = 6;
// - a step of a position-driven progression that meets no precinct, for
//   each component and resolution tried there, some 5 ns;
constexpr unsigned long long kJ2KPositionWork = 1;
// - a code-block visited by a packet that is not empty: its inclusion tag
//   tree, some 21 ns;
constexpr unsigned long long kJ2KVisitWork = 5;
// - a mark of the packet array: 2 bytes;
constexpr unsigned long long kJ2KMarkWork = 1;
// - a coding pass: one for each sample of its code-block (the first passes
//   over a block cost 5 to 8 ns a sample, the later ones 1 or 2), and a
//   pass's own overhead.
constexpr unsigned long long kJ2KPassWork = 1;
constexpr unsigned long long kJ2KPassOverhead = 8;
// The most passes the library runs on a code-block of the standard's coder
// (3 x 30 bit-planes - 2: it refuses more planes), and on one of the
// high-throughput coder (a cleanup pass, a significance and a refinement
// pass).
constexpr unsigned kMaxJ2KPasses = 88;
constexpr unsigned kMaxHtPasses = 3;

constexpr int kMaxJ2KLevels = 32;
constexpr unsigned kCodeBlockHT = 0x40;

unsigned long long ceilDiv(unsigned long long a, unsigned long long b) { return (a + b - 1) / b; }
long long ceilDivPow2(long long a, int e) { return -((-a) >> e); }
long long floorDivPow2(long long a, int e) { return a >> e; }

unsigned floorLog2(unsigned v) {
    unsigned l = 0;
    while (v > 1) {
        v >>= 1;
        ++l;
    }
    return l;
}

// One component's coding style in one tile (the body of a COD or COC from
// its SPcod on).
struct sStyle {
    int levels = 0;
    int cbw = 6, cbh = 6;  // code-block size exponents
    unsigned cblksty = 0;
    int ppx[kMaxJ2KLevels + 1], ppy[kMaxJ2KLevels + 1];  // precinct exponents per resolution
    sStyle() {
        for (int i = 0; i <= kMaxJ2KLevels; ++i) ppx[i] = ppy[i] = 15;
    }
};

bool readStyle(cByteReader& in, bool precincts, sStyle& s) {
    std::uint8_t levels = 0, cbw = 0, cbh = 0, sty = 0, transform = 0;
    if (!in.read_u8(levels) || !in.read_u8(cbw) || !in.read_u8(cbh) || !in.read_u8(sty) || !in.read_u8(transform))
        return false;
    if (levels > kMaxJ2KLevels || cbw > 8 || cbh > 8) return false;
    s.levels = levels;
    s.cbw = cbw + 2;
    s.cbh = cbh + 2;
    s.cblksty = sty;
    for (int r = 0; r <= levels; ++r) {
        s.ppx[r] = s.ppy[r] = 15;
        if (!precincts) continue;
        std::uint8_t pp = 0;
        if (!in.read_u8(pp)) return false;
        s.ppx[r] = pp & 0x0F;
        s.ppy[r] = pp >> 4;
        // The library refuses precincts of one sample above the lowest
        // resolution (their bands would be half a sample wide).
        if (r > 0 && (s.ppx[r] == 0 || s.ppy[r] == 0)) return false;
    }
    return true;
}

// What a COD gives the whole tile besides the styles.
struct sOrder {
    unsigned scod = 0;       // 1 precincts given, 2 SOP markers, 4 EPH markers
    unsigned progression = 0;
    unsigned layers = 0;  // the library's, before a COD gives them
};

bool readCod(cByteReader& in, sOrder& o, sStyle& s) {
    std::uint8_t scod = 0, progression = 0, mct = 0;
    std::uint16_t layers = 0;
    if (!in.read_u8(scod) || !in.read_u8(progression) || !in.read_u16be(layers) || !in.read_u8(mct)) return false;
    if (progression > 4 || layers == 0) return false;
    o.scod = scod;
    o.progression = progression;
    o.layers = layers;
    return readStyle(in, scod & 1, s);
}

bool readCoc(cByteReader& in, std::size_t comps, unsigned& index, sStyle& s) {
    std::uint8_t style = 0;
    if (comps < 257) {
        std::uint8_t i8 = 0;
        if (!in.read_u8(i8)) return false;
        index = i8;
    } else {
        std::uint16_t i16 = 0;
        if (!in.read_u16be(i16)) return false;
        index = i16;
    }
    return index < comps && in.read_u8(style) && readStyle(in, style & 1, s);
}

// A progression order change: layers, resolutions and components it walks,
// in its own order.
struct sVolume {
    unsigned res0 = 0, comp0 = 0, layers = 0, res1 = 0, comp1 = 0, order = 0;
};

bool readPoc(cByteReader& in, std::size_t comps, unsigned layers, std::vector<sVolume>& out) {
    const std::size_t room = comps < 257 ? 1 : 2;
    while (!in.atEnd()) {
        sVolume v;
        std::uint8_t rs = 0, re = 0, order = 0;
        std::uint16_t lye = 0;
        auto comp = [&](unsigned& c) {
            if (room == 1) {
                std::uint8_t c8 = 0;
                if (!in.read_u8(c8)) return false;
                c = c8;
                return true;
            }
            std::uint16_t c16 = 0;
            if (!in.read_u16be(c16)) return false;
            c = c16;
            return true;
        };
        if (!in.read_u8(rs) || !comp(v.comp0) || !in.read_u16be(lye) || !in.read_u8(re) || !comp(v.comp1) ||
            !in.read_u8(order))
            return false;
        v.res0 = rs;
        v.res1 = re;
        v.layers = std::min<unsigned>(lye, layers);
        v.comp1 = std::min<unsigned>(v.comp1, static_cast<unsigned>(comps));
        v.order = order;
        out.push_back(v);
    }
    return true;
}

}  // namespace

namespace qor_j2k {

// One component's geometry and the costliest of every style it is given
// anywhere, by levels below the full resolution (a style of n levels gives
// its resolution r to level n - r): the smallest precinct and code-block
// exponents, and whether that level is some style's lowest resolution (one
// band) or a higher one (three).  What it counts bounds what any tile has.
struct sJ2KComponent {
    unsigned xr = 1, yr = 1;  // subsampling
    bool coded = false;       // a COD or COC reached it
    int levelsMin = kMaxJ2KLevels, levelsMax = 0;
    int cbw = 15, cbh = 15;
    int ppx[kMaxJ2KLevels + 1], ppy[kMaxJ2KLevels + 1];
    bool lowest[kMaxJ2KLevels + 1], higher[kMaxJ2KLevels + 1];
    sJ2KComponent() {
        for (int i = 0; i <= kMaxJ2KLevels; ++i) {
            ppx[i] = ppy[i] = 15;
            lowest[i] = higher[i] = false;
        }
    }
    void merge(const sStyle& s) {
        coded = true;
        levelsMin = std::min(levelsMin, s.levels);
        levelsMax = std::max(levelsMax, s.levels);
        cbw = std::min(cbw, s.cbw);
        cbh = std::min(cbh, s.cbh);
        for (int r = 0; r <= s.levels; ++r) {
            const int down = s.levels - r;
            ppx[down] = std::min(ppx[down], s.ppx[r]);
            ppy[down] = std::min(ppy[down], s.ppy[r]);
            (r == 0 ? lowest : higher)[down] = true;
        }
    }
};

struct sJ2KGrid {
    unsigned long long x0 = 0, y0 = 0, x1 = 0, y1 = 0;    // image area on the reference grid
    unsigned long long tx0 = 0, ty0 = 0, tw = 0, th = 0;  // tile grid
    unsigned long long tilesX = 0, tilesY = 0;
};

// A marker segment the packet walk reads again: its code, the tile-part it
// is in (none: the main header) and its body.
struct sKeptMarker {
    unsigned code = 0;
    unsigned part = 0;
    unsigned long long at = 0, n = 0;
};
constexpr unsigned kMainHeader = ~0u;

// A tile-part: its tile and its data (after SOD).
struct sTilePart {
    unsigned tile = 0;
    unsigned long long at = 0, n = 0;
};

// Sums over the tile columns (or rows) of one component's extent along one
// axis: samples at a reduction, precincts and code-blocks at a resolution.
// The counts of a tile are a column's count times a row's, so the sums of
// the two axes multiply into the whole image's.
struct sAxis {
    unsigned long long start, end, tileStart, tileSize, tiles;
    unsigned sub;

    // The tile's extent on the reference grid.
    void tile(unsigned long long t, unsigned long long& lo, unsigned long long& hi) const {
        lo = std::max(tileStart + t * tileSize, start);
        hi = std::min(tileStart + (t + 1) * tileSize, end);
    }
    // The tile-component's extent of tile t.
    void tileComp(unsigned long long t, long long& a, long long& b) const {
        unsigned long long lo, hi;
        tile(t, lo, hi);
        a = static_cast<long long>(ceilDiv(lo, sub));
        b = static_cast<long long>(ceilDiv(hi, sub));
    }
    unsigned long long samples(int reduce) const {
        unsigned long long n = 0;
        for (unsigned long long t = 0; t < tiles; ++t) {
            long long a, b;
            tileComp(t, a, b);
            n += static_cast<unsigned long long>(ceilDivPow2(b, reduce) - ceilDivPow2(a, reduce));
        }
        return n;
    }
    // Precincts of exponent pp at the resolution `level` levels down, in
    // tile t.
    unsigned long long precinctsOf(unsigned long long t, int level, int pp) const {
        long long a, b;
        tileComp(t, a, b);
        a = ceilDivPow2(a, level);
        b = ceilDivPow2(b, level);
        return b > a ? static_cast<unsigned long long>(ceilDivPow2(b, pp) - floorDivPow2(a, pp)) : 0;
    }
    unsigned long long precincts(int level, int pp) const {
        unsigned long long n = 0;
        for (unsigned long long t = 0; t < tiles; ++t) n += precinctsOf(t, level, pp);
        return n;
    }
    // Code-blocks of exponent cb in a band of decomposition level `band`
    // (0: the lowest resolution's band), shifted by half a step (`high`).
    unsigned long long blocks(int band, bool high, int cb) const {
        unsigned long long n = 0;
        for (unsigned long long t = 0; t < tiles; ++t) {
            long long a, b;
            tileComp(t, a, b);
            if (band > 0 && high) {
                const long long half = 1LL << (band - 1);
                a -= half;
                b -= half;
            }
            a = ceilDivPow2(a, band);
            b = ceilDivPow2(b, band);
            if (b > a) n += static_cast<unsigned long long>(ceilDivPow2(b, cb) - floorDivPow2(a, cb));
        }
        return n;
    }
    // The steps of a position-driven progression in each tile, at `step`
    // on the reference grid: the tile's start and every multiple inside.
    unsigned long long positions(unsigned long long step) const {
        unsigned long long n = 0;
        for (unsigned long long t = 0; t < tiles; ++t) {
            unsigned long long lo, hi;
            tile(t, lo, hi);
            if (hi > lo) n += 1 + (hi - 1) / step - lo / step;
        }
        return n;
    }
};

}  // namespace qor_j2k

struct cPictJ2K::sGridHold {
    qor_j2k::sJ2KGrid grid;
    std::vector<qor_j2k::sJ2KComponent> comps;
    // The most layers any COD gives, the progression volumes a tile may be
    // walked in (one, or each progression order change that reaches it),
    // and whether any order steps over positions.
    unsigned layers = 1;
    unsigned volumes = 1;
    bool positional = false;
    // For the packet walk: the markers it reads again, every tile-part, and
    // where the codestream ends.
    std::vector<qor_j2k::sKeptMarker> markers;
    std::vector<qor_j2k::sTilePart> parts;
    unsigned long long end = 0;
};

namespace {

using qor_j2k::sJ2KComponent;
using qor_j2k::sJ2KGrid;

// One marker segment of a main or tile-part header: SIZ sets the grid and
// the components, COD and COC merge coding styles, POC counts its volumes;
// the rest are passed over.
bool readMarker(unsigned marker, cByteReader& body, cPictJ2K::sGridHold& h, bool main, unsigned& pocs) {
    std::vector<sJ2KComponent>& comps = h.comps;
    sJ2KGrid& g = h.grid;
    switch (marker) {
        case 0xFF51: {  // SIZ
            if (!main || !comps.empty()) return false;
            std::uint16_t caps = 0, count = 0;
            std::uint32_t v[8];
            if (!body.read_u16be(caps)) return false;
            for (auto& x : v)
                if (!body.read_u32be(x)) return false;
            if (!body.read_u16be(count) || count == 0 || count > 16384) return false;
            g.x1 = v[0];
            g.y1 = v[1];
            g.x0 = v[2];
            g.y0 = v[3];
            g.tw = v[4];
            g.th = v[5];
            g.tx0 = v[6];
            g.ty0 = v[7];
            if (g.x0 >= g.x1 || g.y0 >= g.y1 || !g.tw || !g.th || g.tx0 > g.x0 || g.ty0 > g.y0 ||
                g.tx0 + g.tw <= g.x0 || g.ty0 + g.th <= g.y0)
                return false;
            g.tilesX = ceilDiv(g.x1 - g.tx0, g.tw);
            g.tilesY = ceilDiv(g.y1 - g.ty0, g.th);
            comps.resize(count);
            for (auto& c : comps) {
                std::uint8_t depth = 0, xr = 0, yr = 0;
                if (!body.read_u8(depth) || !body.read_u8(xr) || !body.read_u8(yr) || !xr || !yr) return false;
                c.xr = xr;
                c.yr = yr;
            }
            return true;
        }
        case 0xFF52: {  // COD: every component
            sOrder o;
            sStyle s;
            if (comps.empty() || !readCod(body, o, s)) return false;
            h.layers = std::max(h.layers, o.layers);
            h.positional |= o.progression >= 2;
            for (auto& c : comps) c.merge(s);
            return true;
        }
        case 0xFF53: {  // COC: one component
            unsigned index = 0;
            sStyle s;
            if (comps.empty() || !readCoc(body, comps.size(), index, s)) return false;
            comps[index].merge(s);
            return true;
        }
        case 0xFF5F: {  // POC
            std::vector<sVolume> volumes;
            if (comps.empty() || !readPoc(body, comps.size(), 0xFFFF, volumes)) return false;
            for (const sVolume& v : volumes) h.positional |= v.order >= 2;
            pocs += static_cast<unsigned>(volumes.size());
            return true;
        }
        default: return !comps.empty();  // SIZ comes first
    }
}

bool keptByTheWalk(unsigned marker) {
    // COD, COC, POC, PPM, PPT
    return marker == 0xFF52 || marker == 0xFF53 || marker == 0xFF5F || marker == 0xFF60 || marker == 0xFF61;
}

}  // namespace

bool cPictJ2K::scanCodestream(cFileIOTarget* stream, unsigned long long start, unsigned long long length,
                              sCodestream& out) {
    using namespace qor_j2k;
    out = sCodestream();
    if (!stream || length < 4) return false;
    cByteReader in(stream, cByteReader::kStreamWindow, 0);
    if (!in.seek(static_cast<std::size_t>(start))) return false;
    const unsigned long long end = start + length;
    std::uint16_t marker = 0;
    if (!in.read_u16be(marker) || marker != 0xFF4F) return false;
    auto hold = std::make_shared<sGridHold>();
    sGridHold& h = *hold;
    h.end = end;
    unsigned mainPocs = 0, tilePocs = 0;
    std::vector<unsigned> pocsOfTile;
    // One marker segment's body, handed to readMarker; the ones the packet
    // walk reads again are noted where they lie.
    std::vector<unsigned char> body;
    auto segment = [&](unsigned m, unsigned part, unsigned& pocs) {
        std::uint16_t len = 0;
        if (!in.read_u16be(len) || len < 2 || in.tell() + len - 2 > end) return false;
        const unsigned long long at = in.tell();
        body.resize(len - 2);
        if (!in.read(body.data(), static_cast<unsigned>(body.size()))) return false;
        cByteReader b(body.data(), body.size());
        if (keptByTheWalk(m)) {
            sKeptMarker k;
            k.code = m;
            k.part = part;
            k.at = at;
            k.n = len - 2;
            h.markers.push_back(k);
        }
        return readMarker(m, b, h, part == kMainHeader, pocs);
    };
    // The main header, up to the first tile-part.
    for (;;) {
        if (!in.read_u16be(marker) || (marker >> 8) != 0xFF) return false;
        if (marker == 0xFF90) break;
        if (!segment(marker, kMainHeader, mainPocs)) return false;
    }
    if (h.comps.empty()) return false;
    const sJ2KGrid& g = h.grid;
    // Every tile has a tile-part of at least its SOT segment and SOD marker.
    unsigned long long tiles = 0, tileComps = 0;
    if (!checked_mul(g.tilesX, g.tilesY, tiles) || tiles == 0 || tiles > length / kMinJ2KTilePartBytes ||
        !checked_mul(tiles, static_cast<unsigned long long>(h.comps.size()), tileComps))
        return false;
    // ... and a packet of at least a byte for every component of it.
    if (tileComps > length) return false;
    pocsOfTile.assign(static_cast<std::size_t>(tiles), 0);
    // The tile-parts: their headers may carry coding styles of their own.
    unsigned long long sot = in.tell() - 2;
    for (;;) {
        std::uint16_t lsot = 0, index = 0;
        std::uint32_t psot = 0;
        std::uint8_t part = 0, parts = 0;
        if (!in.read_u16be(lsot) || lsot != 10 || !in.read_u16be(index) || !in.read_u32be(psot) ||
            !in.read_u8(part) || !in.read_u8(parts) || index >= tiles)
            return false;
        const unsigned partNo = static_cast<unsigned>(h.parts.size());
        for (;;) {
            if (!in.read_u16be(marker) || (marker >> 8) != 0xFF) return false;
            if (marker == 0xFF93) break;
            if (!segment(marker, partNo, pocsOfTile[index])) return false;
        }
        tilePocs = std::max(tilePocs, pocsOfTile[index]);
        // Psot 0: the last tile-part, up to the end of the codestream (the
        // library leaves out the two bytes of its EOC).
        sTilePart tp;
        tp.tile = index;
        tp.at = in.tell();
        const unsigned long long partEnd = psot == 0 ? end - std::min<unsigned long long>(2, end - tp.at)
                                                     : std::min(sot + psot, end);
        tp.n = partEnd > tp.at ? partEnd - tp.at : 0;
        h.parts.push_back(tp);
        if (psot == 0 || sot + psot >= end) break;
        if (psot < kMinJ2KTilePartBytes) return false;
        sot += psot;
        if (!in.seek(static_cast<std::size_t>(sot)) || !in.read_u16be(marker) || marker != 0xFF90) break;
    }
    // The library appends a tile's own progression order changes to the
    // main header's.
    if (mainPocs + tilePocs > 0) h.volumes = mainPocs + tilePocs;
    out.width = static_cast<long long>(g.x1 - g.x0);
    out.height = static_cast<long long>(g.y1 - g.y0);
    out.components = static_cast<int>(h.comps.size());
    out.tileParts = static_cast<int>(h.parts.size());
    out.levels = kMaxJ2KLevels;
    for (const auto& c : h.comps) {
        if (!c.coded) return false;  // no COD for it anywhere
        out.levels = std::min(out.levels, c.levelsMin);
    }
    out.grid_ = std::move(hold);
    return true;
}

cPictJ2K::sCodestream::sWork cPictJ2K::sCodestream::work(int reduce) const {
    using namespace qor_j2k;
    sWork w;
    if (!grid_ || reduce < 0 || reduce > levels) return w;
    const sJ2KGrid& g = grid_->grid;
    const auto& comps = grid_->comps;
    // The finest position steps (each component's subsampling times its
    // precincts, at each level) and, for the packet marks, the most
    // precincts of any component and resolution in each tile column and
    // row (their product bounds the tile's).
    unsigned long long stepX = ~0ULL, stepY = ~0ULL;
    std::vector<unsigned long long> colMost(static_cast<std::size_t>(g.tilesX), 0);
    std::vector<unsigned long long> rowMost(static_cast<std::size_t>(g.tilesY), 0);
    int resolutions = 0;
    for (const sJ2KComponent& c : comps) {
        const sAxis x{g.x0, g.x1, g.tx0, g.tw, g.tilesX, c.xr};
        const sAxis y{g.y0, g.y1, g.ty0, g.th, g.tilesY, c.yr};
        const unsigned long long samples = x.samples(reduce) * y.samples(reduce);
        w.samples += samples;
        w.largest = std::max(w.largest, samples);
        resolutions = std::max(resolutions, c.levelsMax + 1);
        for (int down = 0; down <= c.levelsMax; ++down) {
            if (!c.lowest[down] && !c.higher[down]) continue;
            w.precincts += x.precincts(down, c.ppx[down]) * y.precincts(down, c.ppy[down]);
            for (unsigned long long t = 0; t < g.tilesX; ++t)
                colMost[t] = std::max(colMost[t], x.precinctsOf(t, down, c.ppx[down]));
            for (unsigned long long t = 0; t < g.tilesY; ++t)
                rowMost[t] = std::max(rowMost[t], y.precinctsOf(t, down, c.ppy[down]));
            if (c.ppx[down] + down < 40)
                stepX = std::min(stepX, static_cast<unsigned long long>(c.xr) << (c.ppx[down] + down));
            if (c.ppy[down] + down < 40)
                stepY = std::min(stepY, static_cast<unsigned long long>(c.yr) << (c.ppy[down] + down));
            // Code-blocks stay inside precincts, whose bands are half as big
            // above the lowest resolution.
            if (c.lowest[down]) {
                const int cbw = std::min(c.cbw, c.ppx[down]), cbh = std::min(c.cbh, c.ppy[down]);
                w.blocks += x.blocks(down, false, cbw) * y.blocks(down, false, cbh);
            }
            if (c.higher[down] && c.ppx[down] > 0 && c.ppy[down] > 0) {
                const int cbw = std::min(c.cbw, c.ppx[down] - 1), cbh = std::min(c.cbh, c.ppy[down] - 1);
                const int band = down + 1;
                const unsigned long long xl = x.blocks(band, false, cbw), xh = x.blocks(band, true, cbw);
                const unsigned long long yl = y.blocks(band, false, cbh), yh = y.blocks(band, true, cbh);
                w.blocks += xh * yl + xl * yh + xh * yh;
            }
        }
    }
    unsigned long long cols = 0, rows = 0;
    for (unsigned long long v : colMost) cols += v;
    for (unsigned long long v : rowMost) rows += v;
    const unsigned long long layers = grid_->layers, volumes = grid_->volumes;
    const unsigned long long planes =
        static_cast<unsigned long long>(comps.size()) * static_cast<unsigned long long>(resolutions);
    // Saturating: a count past 2^62 is refused whatever it is.
    auto mul = [](unsigned long long a, unsigned long long b) {
        unsigned long long r = 0;
        return checked_mul(a, b, r) && r < (1ULL << 62) ? r : (1ULL << 62);
    };
    auto add = [](unsigned long long a, unsigned long long b) { return std::min(a + b, 1ULL << 62); };
    // Every volume walks its packets (each progression order change
    // again); the position-driven ones step over every position of the
    // tile for each component and resolution.
    w.packets = mul(volumes, mul(layers, w.precincts));
    if (grid_->positional && stepX != ~0ULL && stepY != ~0ULL) {
        const sAxis x{g.x0, g.x1, g.tx0, g.tw, g.tilesX, 1};
        const sAxis y{g.y0, g.y1, g.ty0, g.th, g.tilesY, 1};
        w.positions = mul(volumes, mul(planes, mul(x.positions(stepX), y.positions(stepY))));
    }
    w.visits = mul(layers, w.blocks);
    w.marks = mul(layers + 1, mul(planes, mul(cols, rows)));
    // Each sample is held twice (the tile's and the image's), each
    // code-block and precinct costs its structures and tag trees.
    unsigned long long units = 2 * w.samples;
    units = add(units, mul(kJ2KBlockWork, add(w.blocks, w.precincts)));
    units = add(units, mul(kJ2KPacketWork, w.packets));
    units = add(units, mul(kJ2KPositionWork, w.positions));
    units = add(units, mul(kJ2KVisitWork, w.visits));
    units = add(units, mul(kJ2KMarkWork, w.marks));
    w.units = units;
    return w;
}

// ---------------------------------------------------------------------------
// The packet walk.

namespace {

// Bytes of the stream read one after the other across pieces of it (a
// tile's data in its tile-parts), or bytes in hand.
class cPieces {
public:
    cPieces(cByteReader& in, std::vector<qor_j2k::sTilePart> pieces) : in_(in), pieces_(std::move(pieces)) {
        for (const auto& p : pieces_) left_ += p.n;
        moved_ = true;
    }

    unsigned long long left() const { return left_; }

    bool byte(unsigned char& b) {
        if (!left_ || !settle()) return false;
        if (!in_.byte(b)) return false;
        ++off_;
        --left_;
        return true;
    }

    // n bytes on (a packet's body, which is not read); false, at the end,
    // when fewer are left.
    bool skip(unsigned long long n) {
        if (n > left_) {
            left_ = 0;
            return false;
        }
        left_ -= n;
        while (n) {
            if (i_ < pieces_.size() && off_ == pieces_[i_].n) {
                ++i_;
                off_ = 0;
            }
            if (i_ == pieces_.size()) return false;
            const unsigned long long take = std::min(n, pieces_[i_].n - off_);
            off_ += take;
            n -= take;
        }
        moved_ = true;
        return true;
    }

    // Whether the next two bytes are a and b; nothing moves.
    bool next(unsigned char a, unsigned char b) {
        if (left_ < 2) return false;
        const std::size_t i = i_;
        const unsigned long long off = off_, left = left_;
        unsigned char x = 0, y = 0;
        const bool ok = byte(x) && byte(y) && x == a && y == b;
        i_ = i;
        off_ = off;
        left_ = left;
        moved_ = true;
        return ok;
    }

private:
    // The reader at the current byte, on to the next piece at the end of one.
    bool settle() {
        while (i_ < pieces_.size() && off_ == pieces_[i_].n) {
            ++i_;
            off_ = 0;
            moved_ = true;
        }
        if (i_ == pieces_.size()) return false;
        if (moved_) {
            if (!in_.seek(static_cast<std::size_t>(pieces_[i_].at + off_))) return false;
            moved_ = false;
        }
        return true;
    }

    cByteReader& in_;
    std::vector<qor_j2k::sTilePart> pieces_;
    std::size_t i_ = 0;
    unsigned long long off_ = 0, left_ = 0;
    bool moved_ = false;
};

// Packet header bits as the library reads them: most significant first, a
// byte after 0xFF gives seven, and past the end every bit is 0 (the byte
// read as 0 is not counted).
class cHeaderBits {
public:
    explicit cHeaderBits(cPieces& src) : src_(src) {}
    unsigned bit() {
        if (ct_ == 0) byteIn();
        --ct_;
        return (buf_ >> ct_) & 1;
    }
    unsigned read(unsigned n) {
        unsigned v = 0;
        for (unsigned i = 0; i < n; ++i) v = v << 1 | bit();
        return v;
    }
    // The end of a header: a last byte of 0xFF is followed by its stuffing.
    void align() {
        if ((buf_ & 0xFF) == 0xFF) byteIn();
        ct_ = 0;
    }
    // The count of the passes a code-block is given (B.10.6).
    unsigned passes() {
        if (!bit()) return 1;
        if (!bit()) return 2;
        unsigned n = read(2);
        if (n != 3) return 3 + n;
        n = read(5);
        if (n != 31) return 6 + n;
        return 37 + read(7);
    }
    // Lblock's increment: ones up to a zero.
    unsigned comma(unsigned long long& steps) {
        unsigned n = 0;
        while (bit()) {
            ++n;
            ++steps;
        }
        return n;
    }

private:
    void byteIn() {
        buf_ = (buf_ << 8) & 0xFFFF;
        ct_ = buf_ == 0xFF00 ? 7 : 8;
        unsigned char b = 0;
        if (src_.byte(b)) buf_ |= b;
    }
    cPieces& src_;
    unsigned buf_ = 0;
    unsigned ct_ = 0;
};

// A tag tree (B.10.2) as the library decodes it: values start at 999.
struct sTagNode {
    int value = 999, low = 0;
    unsigned parent = ~0u;
};

// Builds the tree of w x h leaves at the end of `nodes`: its first node.
std::size_t buildTree(std::vector<sTagNode>& nodes, unsigned w, unsigned h) {
    const std::size_t first = nodes.size();
    std::size_t level = first;
    for (;;) {
        const std::size_t n = static_cast<std::size_t>(w) * h;
        nodes.resize(level + n);
        if (n <= 1) break;
        const unsigned pw = (w + 1) / 2, ph = (h + 1) / 2;
        const std::size_t up = level + n;
        for (unsigned y = 0; y < h; ++y)
            for (unsigned x = 0; x < w; ++x)
                nodes[level + static_cast<std::size_t>(y) * w + x].parent =
                    static_cast<unsigned>(up + static_cast<std::size_t>(y / 2) * pw + x / 2);
        level = up;
        w = pw;
        h = ph;
    }
    return first;
}

// Whether the leaf's value is below the threshold, reading what it takes.
bool decodeTag(std::vector<sTagNode>& nodes, std::size_t leaf, int threshold, cHeaderBits& bits,
               unsigned long long& steps) {
    std::size_t path[40];
    int depth = 0;
    std::size_t node = leaf;
    while (nodes[node].parent != ~0u && depth < 40) {
        path[depth++] = node;
        node = nodes[node].parent;
    }
    int low = 0;
    for (;;) {
        sTagNode& t = nodes[node];
        if (low > t.low)
            t.low = low;
        else
            low = t.low;
        while (low < threshold && low < t.value) {
            if (bits.bit())
                t.value = low;
            else
                ++low;
            ++steps;
        }
        t.low = low;
        ++steps;
        if (depth == 0) break;
        node = path[--depth];
    }
    return nodes[node].value < threshold;
}

// A code-block's state across the packets of its tile.
struct sBlock {
    unsigned long long area = 0;
    unsigned lenBits = 3;
    unsigned segs = 0, segPasses = 0, segMax = 0;
    unsigned passes = 0;
};

// The passes the library puts in one codeword segment (termination on
// every pass, the arithmetic coder's bypass, or neither).
unsigned segmentPasses(unsigned cblksty, bool first, unsigned before) {
    if (cblksty & 0x04) return 1;
    if (cblksty & 0x01) return first ? 10 : (before == 1 || before == 10) ? 2 : 1;
    return 109;
}

// One band of one precinct: its code-blocks and tag trees.
struct sPrecinctBand {
    unsigned cw = 0, ch = 0;
    std::size_t block = 0;             // its first code-block
    std::size_t incl = 0, zero = 0;    // its trees' first nodes
};

// A rectangle of a tile-component, a band or a precinct.
struct sSpan {
    long long x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

struct sResolution {
    unsigned pw = 0, ph = 0;
    int pdx = 15, pdy = 15;
    unsigned bands = 0;               // 1 or 3
    std::size_t first = 0;            // precinct 0's first band
    long long x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool decoded = false;             // its code-blocks are decoded
};

struct sComponent {
    unsigned dx = 1, dy = 1;
    unsigned resolutions = 1;
    unsigned cblksty = 0;
    std::size_t first = 0;            // its first resolution
};

// One tile laid out as the library lays it out (opj_tcd_init_tile's
// arithmetic), and walked packet by packet.
class cTileWalk {
public:
    cTileWalk(unsigned long long tx0, unsigned long long ty0, unsigned long long tx1, unsigned long long ty1)
        : tx0_(tx0), ty0_(ty0), tx1_(tx1), ty1_(ty1) {}

    // Lays out the component with its style; `reduce` resolutions are left
    // out of the decode.
    void addComponent(unsigned dx, unsigned dy, const sStyle& s, int reduce) {
        sComponent c;
        c.dx = dx;
        c.dy = dy;
        c.resolutions = static_cast<unsigned>(s.levels + 1);
        c.cblksty = s.cblksty;
        c.first = res_.size();
        sSpan tc;  // the tile-component
        tc.x0 = static_cast<long long>(ceilDiv(tx0_, dx));
        tc.y0 = static_cast<long long>(ceilDiv(ty0_, dy));
        tc.x1 = static_cast<long long>(ceilDiv(tx1_, dx));
        tc.y1 = static_cast<long long>(ceilDiv(ty1_, dy));
        for (int r = 0; r <= s.levels; ++r) res_.push_back(layOutResolution(tc, s, r, r <= s.levels - reduce));
        comps_.push_back(c);
    }

    // A layout the library would make otherwise (a precinct past its band).
    bool odd() const { return odd_; }
    // The packets walked after the headers had ended.
    unsigned long long past() const { return past_; }

    // The work of the passes the code-blocks of the decoded resolutions are
    // given: counted, or (`bounded`) the most the library runs.
    unsigned long long passUnits(bool bounded, unsigned long long& passes) const {
        unsigned long long units = 0;
        for (const sComponent& c : comps_) {
            const unsigned most = (c.cblksty & kCodeBlockHT) ? kMaxHtPasses : kMaxJ2KPasses;
            for (unsigned r = 0; r < c.resolutions; ++r) {
                const sResolution& res = res_[c.first + r];
                if (!res.decoded) continue;
                const std::size_t from = res.first, to = from + static_cast<std::size_t>(res.pw) * res.ph * res.bands;
                for (std::size_t b = from; b < to; ++b) {
                    const sPrecinctBand& pb = bands_[b];
                    for (std::size_t k = pb.block; k < pb.block + static_cast<std::size_t>(pb.cw) * pb.ch; ++k) {
                        const unsigned n = bounded ? most : std::min(blocks_[k].passes, most);
                        passes += n;
                        units += static_cast<unsigned long long>(n) *
                                 (kJ2KPassWork * blocks_[k].area + kJ2KPassOverhead);
                    }
                }
            }
        }
        return units;
    }

    bool anyHT() const {
        for (const sComponent& c : comps_)
            if (c.cblksty & kCodeBlockHT) return true;
        return false;
    }

    // Walks every packet of the volumes in the library's order (opj_pi_next
    // of each progression), reading the headers from `headers` and skipping
    // the bodies in `data`; false when a header or a body is one the library
    // refuses, or the steps pass `limit`.
    bool walk(const std::vector<sVolume>& volumes, unsigned layers, unsigned scod, cPieces& data, cPieces* headers,
              unsigned long long limit, unsigned long long& steps);

private:
    sResolution layOutResolution(const sSpan& tc, const sStyle& s, int r, bool decoded);
    sPrecinctBand layOutPrecinctBand(const sSpan& band, const sSpan& prec, int cbw, int cbh);
    bool packet(unsigned c, unsigned r, unsigned p, unsigned layer, unsigned scod, cPieces& data, cPieces& headers,
                unsigned long long& steps);
    // The precinct of component c at resolution r that the position x, y
    // of the reference grid starts, if it starts one (B.12.1.3-5).
    bool precinctAt(unsigned c, unsigned r, unsigned long long x, unsigned long long y, unsigned& p) const;

    unsigned long long tx0_, ty0_, tx1_, ty1_;
    std::vector<sComponent> comps_;
    std::vector<sResolution> res_;
    std::vector<sPrecinctBand> bands_;
    std::vector<sBlock> blocks_;
    std::vector<sTagNode> nodes_;
    bool odd_ = false;
    unsigned long long past_ = 0;
};

sResolution cTileWalk::layOutResolution(const sSpan& tc, const sStyle& s, int r, bool decoded) {
    const int level = s.levels - r;
    sResolution res;
    res.x0 = ceilDivPow2(tc.x0, level);
    res.y0 = ceilDivPow2(tc.y0, level);
    res.x1 = ceilDivPow2(tc.x1, level);
    res.y1 = ceilDivPow2(tc.y1, level);
    res.pdx = s.ppx[r];
    res.pdy = s.ppy[r];
    res.decoded = decoded;
    const long long px0 = floorDivPow2(res.x0, res.pdx) << res.pdx, px1 = ceilDivPow2(res.x1, res.pdx) << res.pdx;
    const long long py0 = floorDivPow2(res.y0, res.pdy) << res.pdy, py1 = ceilDivPow2(res.y1, res.pdy) << res.pdy;
    res.pw = res.x0 == res.x1 ? 0 : static_cast<unsigned>((px1 - px0) >> res.pdx);
    res.ph = res.y0 == res.y1 ? 0 : static_cast<unsigned>((py1 - py0) >> res.pdy);
    res.bands = r == 0 ? 1 : 3;
    res.first = bands_.size();
    // Above the lowest resolution a precinct is half as big in each band,
    // and its code-blocks no bigger than it.
    const long long gx0 = r == 0 ? px0 : ceilDivPow2(px0, 1), gy0 = r == 0 ? py0 : ceilDivPow2(py0, 1);
    const int gw = r == 0 ? res.pdx : res.pdx - 1, gh = r == 0 ? res.pdy : res.pdy - 1;
    const int cbw = std::min(s.cbw, gw), cbh = std::min(s.cbh, gh);
    for (unsigned p = 0; p < res.pw * res.ph; ++p) {
        for (unsigned b = 0; b < res.bands; ++b) {
            sSpan band;
            if (r == 0) {
                band.x0 = res.x0;
                band.y0 = res.y0;
                band.x1 = res.x1;
                band.y1 = res.y1;
            } else {
                // HL, LH, HH: shifted by half a step of their level.
                const long long xo = b != 1 ? 1LL << level : 0, yo = b != 0 ? 1LL << level : 0;
                band.x0 = ceilDivPow2(tc.x0 - xo, level + 1);
                band.y0 = ceilDivPow2(tc.y0 - yo, level + 1);
                band.x1 = ceilDivPow2(tc.x1 - xo, level + 1);
                band.y1 = ceilDivPow2(tc.y1 - yo, level + 1);
            }
            sSpan prec;
            prec.x0 = gx0 + static_cast<long long>(p % res.pw) * (1LL << gw);
            prec.y0 = gy0 + static_cast<long long>(p / res.pw) * (1LL << gh);
            prec.x1 = prec.x0 + (1LL << gw);
            prec.y1 = prec.y0 + (1LL << gh);
            bands_.push_back(layOutPrecinctBand(band, prec, cbw, cbh));
        }
    }
    return res;
}

sPrecinctBand cTileWalk::layOutPrecinctBand(const sSpan& band, const sSpan& prec, int cbw, int cbh) {
    sPrecinctBand pb;
    pb.block = blocks_.size();
    // An empty band has no precincts at all.
    if (band.x0 >= band.x1 || band.y0 >= band.y1) return pb;
    const long long x0 = std::max(prec.x0, band.x0), x1 = std::min(prec.x1, band.x1);
    const long long y0 = std::max(prec.y0, band.y0), y1 = std::min(prec.y1, band.y1);
    if (x1 < x0 || y1 < y0) {
        odd_ = true;
        return pb;
    }
    // The code-block grid over the precinct's part of the band; a part of
    // no width off the grid still has a column of blocks of no samples.
    const long long kx0 = floorDivPow2(x0, cbw) << cbw, kx1 = ceilDivPow2(x1, cbw) << cbw;
    const long long ky0 = floorDivPow2(y0, cbh) << cbh, ky1 = ceilDivPow2(y1, cbh) << cbh;
    if (kx1 <= kx0 || ky1 <= ky0) return pb;
    pb.cw = static_cast<unsigned>((kx1 - kx0) >> cbw);
    pb.ch = static_cast<unsigned>((ky1 - ky0) >> cbh);
    for (unsigned j = 0; j < pb.ch; ++j) {
        const long long ay = std::max(ky0 + (static_cast<long long>(j) << cbh), y0);
        const long long by = std::min(ky0 + (static_cast<long long>(j + 1) << cbh), y1);
        for (unsigned i = 0; i < pb.cw; ++i) {
            const long long ax = std::max(kx0 + (static_cast<long long>(i) << cbw), x0);
            const long long bx = std::min(kx0 + (static_cast<long long>(i + 1) << cbw), x1);
            sBlock blk;
            if (bx > ax && by > ay) blk.area = static_cast<unsigned long long>((bx - ax) * (by - ay));
            blocks_.push_back(blk);
        }
    }
    pb.incl = buildTree(nodes_, pb.cw, pb.ch);
    pb.zero = buildTree(nodes_, pb.cw, pb.ch);
    return pb;
}

bool cTileWalk::packet(unsigned c, unsigned r, unsigned p, unsigned layer, unsigned scod, cPieces& data,
                       cPieces& headers, unsigned long long& steps) {
    const sResolution& res = res_[comps_[c].first + r];
    const unsigned cblksty = comps_[c].cblksty;
    // An SOP marker before the packet, when there is one.
    if ((scod & 2) && data.left() >= 6 && data.next(0xFF, 0x91)) data.skip(6);
    // Past its headers a packet reads as empty, at no byte.
    if (!headers.left()) ++past_;
    cHeaderBits bits(headers);
    unsigned long long body = 0;
    if (bits.bit()) {
        for (unsigned b = 0; b < res.bands; ++b) {
            const sPrecinctBand& pb = bands_[res.first + static_cast<std::size_t>(p) * res.bands + b];
            const std::size_t n = static_cast<std::size_t>(pb.cw) * pb.ch;
            for (std::size_t k = 0; k < n; ++k) {
                sBlock& blk = blocks_[pb.block + k];
                ++steps;
                bool included;
                if (!blk.segs)
                    included = decodeTag(nodes_, pb.incl + k, static_cast<int>(layer) + 1, bits, steps);
                else
                    included = bits.bit();
                if (!included) continue;
                if (!blk.segs) {
                    int planes = 0;
                    while (!decodeTag(nodes_, pb.zero + k, planes, bits, steps)) ++planes;
                    blk.lenBits = 3;
                }
                unsigned add = bits.passes();
                blk.lenBits += bits.comma(steps);
                blk.passes += add;
                // The new passes go into the open codeword segment, then
                // into new ones, each with its length.
                if (!blk.segs || blk.segPasses == blk.segMax) {
                    blk.segMax = segmentPasses(cblksty, blk.segs == 0, blk.segMax);
                    blk.segPasses = 0;
                    ++blk.segs;
                }
                for (;;) {
                    const unsigned take = std::min(blk.segMax - blk.segPasses, add);
                    const unsigned width = blk.lenBits + floorLog2(take);
                    if (width > 32) return false;
                    body += bits.read(width);
                    steps += width;
                    blk.segPasses += take;
                    add -= take;
                    if (!add) break;
                    blk.segMax = segmentPasses(cblksty, false, blk.segMax);
                    blk.segPasses = 0;
                    ++blk.segs;
                }
            }
        }
    }
    bits.align();
    // An EPH marker after the header, when there is one.
    if ((scod & 4) && headers.left() >= 2 && headers.next(0xFF, 0x92)) headers.skip(2);
    // The bodies must lie in the tile's data.
    return body <= data.left() && data.skip(body);
}

bool cTileWalk::precinctAt(unsigned c, unsigned r, unsigned long long x, unsigned long long y, unsigned& p) const {
    const sComponent& comp = comps_[c];
    if (r >= comp.resolutions) return false;
    const sResolution& res = res_[comp.first + r];
    const unsigned level = comp.resolutions - 1 - r;
    const unsigned long long sx = static_cast<unsigned long long>(comp.dx) << level;
    const unsigned long long sy = static_cast<unsigned long long>(comp.dy) << level;
    const unsigned long long rx0 = ceilDiv(tx0_, sx), ry0 = ceilDiv(ty0_, sy);
    const unsigned long long rx1 = ceilDiv(tx1_, sx), ry1 = ceilDiv(ty1_, sy);
    const unsigned rpx = static_cast<unsigned>(res.pdx) + level, rpy = static_cast<unsigned>(res.pdy) + level;
    if (rpx >= 56 || rpy >= 56) return false;
    if (!(y % (static_cast<unsigned long long>(comp.dy) << rpy) == 0 ||
          (y == ty0_ && ((ry0 << level) % (1ULL << rpy)) != 0)))
        return false;
    if (!(x % (static_cast<unsigned long long>(comp.dx) << rpx) == 0 ||
          (x == tx0_ && ((rx0 << level) % (1ULL << rpx)) != 0)))
        return false;
    if (res.pw == 0 || res.ph == 0 || rx0 == rx1 || ry0 == ry1) return false;
    const unsigned long long i = (ceilDiv(x, sx) >> res.pdx) - (rx0 >> res.pdx);
    const unsigned long long j = (ceilDiv(y, sy) >> res.pdy) - (ry0 >> res.pdy);
    if (i >= res.pw || j >= res.ph) return false;
    p = static_cast<unsigned>(i + j * res.pw);
    return true;
}

bool cTileWalk::walk(const std::vector<sVolume>& volumes, unsigned layers, unsigned scod, cPieces& data,
                     cPieces* headers, unsigned long long limit, unsigned long long& steps) {
    cPieces& head = headers ? *headers : data;
    unsigned resolutions = 0, most = 0;
    for (const sComponent& c : comps_) {
        resolutions = std::max(resolutions, c.resolutions);
        for (unsigned r = 0; r < c.resolutions; ++r) most = std::max(most, res_[c.first + r].pw * res_[c.first + r].ph);
    }
    const unsigned comps = static_cast<unsigned>(comps_.size());
    // More than one volume may reach a packet again: the library walks each
    // packet once, marked as it goes.
    std::vector<bool> seen;
    if (volumes.size() > 1)
        seen.assign(static_cast<std::size_t>(layers + 1) * comps * resolutions * std::max(most, 1u), false);
    auto visit = [&](unsigned l, unsigned r, unsigned c, unsigned p) {
        if (!seen.empty()) {
            const std::size_t i = ((static_cast<std::size_t>(l) * resolutions + r) * comps + c) * most + p;
            if (seen[i]) return true;
            seen[i] = true;
        }
        steps += 1;
        return packet(c, r, p, l, scod, data, head, steps) && steps <= limit;
    };
    // Every precinct of a component at a resolution, in one layer.
    auto precincts = [&](unsigned l, unsigned r, unsigned c) {
        ++steps;
        if (r >= comps_[c].resolutions) return steps <= limit;
        const sResolution& res = res_[comps_[c].first + r];
        for (unsigned p = 0; p < res.pw * res.ph; ++p)
            if (!visit(l, r, c, p)) return false;
        return true;
    };
    // The finest position steps of a component (all: ~0u) over its
    // resolutions, as the library takes them.
    auto stepOf = [&](unsigned only, unsigned long long& dx, unsigned long long& dy) {
        dx = dy = 0;
        for (unsigned c = 0; c < comps; ++c) {
            if (only != ~0u && c != only) continue;
            const sComponent& comp = comps_[c];
            for (unsigned r = 0; r < comp.resolutions; ++r) {
                const sResolution& res = res_[comp.first + r];
                const unsigned level = comp.resolutions - 1 - r;
                const unsigned ex = static_cast<unsigned>(res.pdx) + level, ey = static_cast<unsigned>(res.pdy) + level;
                if (ex < 32 && comp.dx <= (0xFFFFFFFFu >> ex)) {
                    const unsigned long long v = static_cast<unsigned long long>(comp.dx) << ex;
                    dx = dx ? std::min(dx, v) : v;
                }
                if (ey < 32 && comp.dy <= (0xFFFFFFFFu >> ey)) {
                    const unsigned long long v = static_cast<unsigned long long>(comp.dy) << ey;
                    dy = dy ? std::min(dy, v) : v;
                }
            }
        }
        return dx && dy;
    };
    auto next = [](unsigned long long v, unsigned long long step) { return v + (step - v % step); };
    for (const sVolume& v : volumes) {
        const unsigned l1 = std::min(v.layers, layers), c1 = std::min(v.comp1, comps);
        const unsigned r1 = std::min(v.res1, resolutions);
        switch (v.order) {
            case 0:  // layer, resolution, component, position
                for (unsigned l = 0; l < l1; ++l)
                    for (unsigned r = v.res0; r < r1; ++r)
                        for (unsigned c = v.comp0; c < c1; ++c)
                            if (!precincts(l, r, c)) return false;
                break;
            case 1:  // resolution, layer, component, position
                for (unsigned r = v.res0; r < r1; ++r)
                    for (unsigned l = 0; l < l1; ++l)
                        for (unsigned c = v.comp0; c < c1; ++c)
                            if (!precincts(l, r, c)) return false;
                break;
            case 2:    // resolution, position, component, layer
            case 3: {  // position, component, resolution, layer
                unsigned long long dx, dy;
                if (!stepOf(~0u, dx, dy)) break;
                auto at = [&](unsigned r, unsigned long long x, unsigned long long y, unsigned c) {
                    unsigned p = 0;
                    ++steps;
                    if (!precinctAt(c, r, x, y, p)) return steps <= limit;
                    for (unsigned l = 0; l < l1; ++l)
                        if (!visit(l, r, c, p)) return false;
                    return true;
                };
                if (v.order == 2) {
                    for (unsigned r = v.res0; r < r1; ++r)
                        for (unsigned long long y = ty0_; y < ty1_; y = next(y, dy))
                            for (unsigned long long x = tx0_; x < tx1_; x = next(x, dx))
                                for (unsigned c = v.comp0; c < c1; ++c)
                                    if (!at(r, x, y, c)) return false;
                } else {
                    for (unsigned long long y = ty0_; y < ty1_; y = next(y, dy))
                        for (unsigned long long x = tx0_; x < tx1_; x = next(x, dx))
                            for (unsigned c = v.comp0; c < c1; ++c)
                                for (unsigned r = v.res0; r < std::min(r1, comps_[c].resolutions); ++r)
                                    if (!at(r, x, y, c)) return false;
                }
                break;
            }
            case 4:  // component, position, resolution, layer
                for (unsigned c = v.comp0; c < c1; ++c) {
                    unsigned long long dx, dy;
                    if (!stepOf(c, dx, dy)) continue;
                    for (unsigned long long y = ty0_; y < ty1_; y = next(y, dy))
                        for (unsigned long long x = tx0_; x < tx1_; x = next(x, dx))
                            for (unsigned r = v.res0; r < std::min(r1, comps_[c].resolutions); ++r) {
                                unsigned p = 0;
                                ++steps;
                                if (!precinctAt(c, r, x, y, p)) {
                                    if (steps > limit) return false;
                                    continue;
                                }
                                for (unsigned l = 0; l < l1; ++l)
                                    if (!visit(l, r, c, p)) return false;
                            }
                }
                break;
            default: break;  // the library walks no packet of an unknown order
        }
    }
    return true;
}

// The bytes of the PPM or PPT segments' bodies, after their index byte, in
// the order they come.
bool gather(cFileIOTarget* stream, const std::vector<const qor_j2k::sKeptMarker*>& segments,
            std::vector<unsigned char>& out) {
    for (const auto* m : segments) {
        if (m->n < 1) return false;
        const std::size_t at = out.size();
        out.resize(at + static_cast<std::size_t>(m->n - 1));
        if (m->n > 1 && !cByteReader::readAt(stream, m->at + 1, out.data() + at, static_cast<std::size_t>(m->n - 1)))
            return false;
    }
    return true;
}

}  // namespace

bool cPictJ2K::sCodestream::passes(cFileIOTarget* stream, int reduce, unsigned long long limit, sWork& w) const {
    using namespace qor_j2k;
    // What was weighed before pays for the walk: nothing is laid out for a
    // codestream already past the limit.
    if (!grid_ || !stream || reduce < 0 || reduce > levels || w.units > limit) return false;
    const sGridHold& h = *grid_;
    const sJ2KGrid& g = h.grid;
    const std::size_t comps = h.comps.size();
    cByteReader in(stream, 4096, 0);
    // The markers of the main header, and each tile's tile-parts in order.
    std::vector<const sKeptMarker*> mainMarkers, ppm;
    std::vector<std::vector<const sKeptMarker*> > tileMarkers(static_cast<std::size_t>(g.tilesX * g.tilesY));
    std::vector<std::vector<sTilePart> > tileData(tileMarkers.size());
    for (const sKeptMarker& m : h.markers) {
        if (m.part == kMainHeader) {
            (m.code == 0xFF60 ? ppm : mainMarkers).push_back(&m);
        } else {
            tileMarkers[h.parts[m.part].tile].push_back(&m);
        }
    }
    for (const sTilePart& p : h.parts) tileData[p.tile].push_back(p);
    // Packed packet headers of the main header: a length and that many
    // bytes for each tile-part in turn, across the segments.
    std::vector<unsigned char> packed;
    std::vector<std::pair<std::size_t, std::size_t> > packedOfPart;
    bool packedOk = true;
    if (!ppm.empty()) {
        packedOk = gather(stream, ppm, packed);
        cByteReader pr(packed.data(), packed.size());
        for (std::size_t i = 0; packedOk && i < h.parts.size(); ++i) {
            std::uint32_t n = 0;
            const unsigned char* p = nullptr;
            packedOk = pr.read_u32be(n) && pr.view(p, n);
            if (packedOk) packedOfPart.emplace_back(static_cast<std::size_t>(p - packed.data()), n);
        }
    }
    // The main header's styles, which a tile's own COD and COC override in
    // turn (a tile's COD every component's, a COC its own).
    sOrder mainOrder;
    std::vector<sStyle> pool(1);
    std::vector<unsigned> mainStyle(comps, 0);
    std::vector<sVolume> mainVolumes;
    std::vector<unsigned char> body;
    auto read = [&](const sKeptMarker& m, cByteReader& out) {
        body.resize(static_cast<std::size_t>(m.n));
        if (m.n && !cByteReader::readAt(stream, m.at, body.data(), body.size())) return false;
        out = cByteReader(body.data(), body.size());
        return true;
    };
    auto apply = [&](const sKeptMarker& m, sOrder& order, std::vector<unsigned>& styleOf, std::vector<sVolume>& volumes) {
        cByteReader b;
        if (!read(m, b)) return false;
        if (m.code == 0xFF52) {
            sStyle s;
            if (!readCod(b, order, s)) return false;
            pool.push_back(s);
            std::fill(styleOf.begin(), styleOf.end(), static_cast<unsigned>(pool.size() - 1));
        } else if (m.code == 0xFF53) {
            unsigned index = 0;
            sStyle s;
            if (!readCoc(b, comps, index, s)) return false;
            pool.push_back(s);
            styleOf[index] = static_cast<unsigned>(pool.size() - 1);
        } else if (m.code == 0xFF5F) {
            if (!readPoc(b, comps, order.layers, volumes)) return false;
        }
        return true;
    };
    for (const sKeptMarker* m : mainMarkers)
        if (!apply(*m, mainOrder, mainStyle, mainVolumes)) return false;
    const std::size_t mainPool = pool.size();
    unsigned long long units = 0, steps = 0;
    // The walk's own steps (a nanosecond or two each) are paid for by what
    // was weighed before: the packets, positions and visits, and for each
    // tile a code-block's zero bit-planes read from the zeros past its data
    // (a thousand tag-tree walks).  A walk that takes more stops there.
    const unsigned long long stepLimit =
        std::min(2 * w.units + (static_cast<unsigned long long>(tileData.size()) << 14) + (1ULL << 20), 1ULL << 62);
    for (std::size_t t = 0; t < tileData.size(); ++t) {
        pool.resize(mainPool);
        sOrder order = mainOrder;
        std::vector<unsigned> styleOf = mainStyle;
        std::vector<sVolume> volumes = mainVolumes;
        bool readable = packedOk;
        std::vector<const sKeptMarker*> ppt;
        for (const sKeptMarker* m : tileMarkers[t]) {
            if (m->code == 0xFF61)
                ppt.push_back(m);
            else if (!apply(*m, order, styleOf, volumes))
                return false;
        }
        const unsigned long long tx = t % g.tilesX, ty = t / g.tilesX;
        cTileWalk tile(std::max(g.tx0 + tx * g.tw, g.x0), std::max(g.ty0 + ty * g.th, g.y0),
                       std::min(g.tx0 + (tx + 1) * g.tw, g.x1), std::min(g.ty0 + (ty + 1) * g.th, g.y1));
        for (std::size_t c = 0; c < comps; ++c) {
            const sStyle& s = pool[styleOf[c]];
            // A component decoded at fewer resolutions than the reduction
            // asks for fails the library's decode.
            tile.addComponent(h.comps[c].xr, h.comps[c].yr, s, std::min(reduce, s.levels));
        }
        if (volumes.empty()) {
            sVolume all;
            all.layers = order.layers;
            all.res1 = kMaxJ2KLevels + 1;
            all.comp1 = static_cast<unsigned>(comps);
            all.order = order.progression;
            volumes.push_back(all);
        }
        // Headers packed in PPT segments, or in the main header's PPM.
        std::vector<unsigned char> headers;
        if (!ppt.empty()) {
            if (!ppm.empty() || !gather(stream, ppt, headers)) readable = false;
        } else if (!ppm.empty() && readable) {
            for (std::size_t i = 0; i < h.parts.size(); ++i)
                if (h.parts[i].tile == t)
                    headers.insert(headers.end(), packed.begin() + static_cast<std::ptrdiff_t>(packedOfPart[i].first),
                                   packed.begin() + static_cast<std::ptrdiff_t>(packedOfPart[i].first + packedOfPart[i].second));
        }
        readable = readable && !tile.odd() && !tile.anyHT();
        bool counted = false;
        if (readable) {
            cPieces data(in, tileData[t]);
            cByteReader headerBytes(headers.data(), headers.size());
            std::vector<sTilePart> whole(1);
            whole[0].n = headers.size();
            cPieces head(headerBytes, whole);
            const bool elsewhere = !ppt.empty() || !ppm.empty();
            counted = tile.walk(volumes, order.layers, order.scod, data, elsewhere ? &head : nullptr, stepLimit, steps);
            if (steps > stepLimit) return false;
            if (counted) {
                w.unread += data.left();
                w.packetsPast += tile.past();
            }
        }
        // A tile whose headers cannot be read as the library reads them is
        // one the library may still decode: its code-blocks are weighed at
        // the most passes it runs.
        if (!counted) ++w.tilesBounded;
        units += tile.passUnits(!counted, w.passes);
        if (w.units + units > limit) {
            w.passUnits = units;
            return false;
        }
    }
    w.passUnits = units;
    w.units = std::min(w.units + units, 1ULL << 62);
    return w.units <= limit;
}
