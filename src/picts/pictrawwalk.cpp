#include "picts/pictrawwalk.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "base/bytereader.h"
#include "picts/pictlimits.h"

namespace {

// The tables LibRaw reads as TIFF directories, each by a parser of its own
// with its own tags.
enum class eTable { tiff, exif, gps, interop, kodak };

struct sTable {
    unsigned long long at;    // the entry count's position
    unsigned long long base;  // offsets inside count from here
    bool little;
    eTable kind;
    bool chain;  // its next-IFD pointer is followed (the main chains only)
    bool first;  // IFD 0 of the file itself
};

// Bytes per value of the TIFF field types 1 (BYTE) to 13 (IFD).
constexpr unsigned kTypeBytes[14] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};

// LibRaw positions with 32-bit arithmetic: an offset plus its base wraps.
unsigned long long position(unsigned value, unsigned long long base) { return (value + base) & 0xFFFFFFFFULL; }

// Tags whose values LibRaw reads as a structure of a maker's own, which the
// walk does not follow: they are hidden from it.
bool hiddenTag(eTable kind, unsigned tag) {
    if (kind == eTable::exif) return tag == 0x927C;  // MakerNote
    if (kind != eTable::tiff) return false;
    switch (tag) {
        case 0x0120:  // Panasonic's CameraIFD
        case 0x7200:  // Sony's encrypted SR2 block: offset,
        case 0x7201:  // length
        case 0x7221:  // and key
        case 0x7250:  // Sony SR2 private block
        case 0x8606:  // Leaf's metadata
        case 0x927C:  // a maker note outside EXIF
        case 0xC51B:  // Hasselblad's directory
        case 0xC634:  // DNG private data (maker notes again)
            return true;
        default: return false;
    }
}

class cWalker {
public:
    cWalker(cFileIOTarget* s, long long size, sRawTiffWalk& out) : s_(s), size_(size), w_(out) {}

    // Whether the whole structure passed.  A fault found does not end the
    // walk: what LibRaw could not take is looked for in every table it
    // would reach, so that the verdict names it too.
    bool run() {
        // LibRaw reads 64 bytes first, and places with 32-bit signed
        // positions.
        unsigned char head[32];
        if (size_ < 64 || size_ > 0x7FFFFFFFLL || !cByteReader::readAt(s_, 0, head, sizeof head)) return false;
        // LibRaw takes a file with "IIII" or "MMMM" in its first 32 bytes
        // for a Phase One one, and one with "HEAPCCDR" at 6 for a CIFF one,
        // whatever else it is.
        for (std::size_t i = 0; i + 4 <= sizeof head; ++i)
            if (!std::memcmp(head + i, "IIII", 4) || !std::memcmp(head + i, "MMMM", 4)) bad_ = true;
        if (!std::memcmp(head + 6, "HEAPCCDR", 8)) bad_ = true;
        if (!header(0, head, true)) return false;
        while (!todo_.empty()) {
            const sTable t = todo_.front();
            todo_.erase(todo_.begin());
            table(t);
        }
        std::sort(w_.hidden.begin(), w_.hidden.end(),
                  [](const sRawTiffWalk::sHidden& a, const sRawTiffWalk::sHidden& b) { return a.at < b.at; });
        return !bad_;
    }

private:
    // A TIFF header at `base` ("II" or "MM", any magic, the first IFD),
    // whose chain LibRaw walks.
    bool header(unsigned long long base, const unsigned char* head, bool top) {
        const bool little = head[0] == 'I' && head[1] == 'I';
        if (!little && !(head[0] == 'M' && head[1] == 'M')) return false;
        const unsigned first = cByteReader::u32(head + 4, !little);
        if (first == 0) return false;
        push(sTable{position(first, base), base, little, eTable::tiff, true, top});
        return true;
    }

    void push(const sTable& t) {
        // A table reached twice is a loop, or one LibRaw reads twice over;
        // past the cap the walk would not end in time.
        const auto same = [&](const sTable& o) { return o.at == t.at; };
        if (t.at == 0 || std::find(seen_.begin(), seen_.end(), t.at) != seen_.end() ||
            std::find_if(todo_.begin(), todo_.end(), same) != todo_.end() ||
            seen_.size() + todo_.size() >= kMaxRawScreenedIfds) {
            bad_ = true;
            return;
        }
        todo_.push_back(t);
    }

    // n bytes at `at` as LibRaw reads them: those past the end of the file
    // as 0xFF.  Whether all were there.
    bool readAsLibRaw(unsigned long long at, unsigned char* out, std::size_t n) {
        if (n == 0) return true;
        std::memset(out, 0xFF, n);
        const unsigned long long size = static_cast<unsigned long long>(size_);
        if (at >= size) return false;
        const std::size_t have = static_cast<std::size_t>(std::min<unsigned long long>(n, size - at));
        return cByteReader::readAt(s_, at, out, have) && have == n;
    }

    unsigned u16(const sTable& t, const unsigned char* p) const { return cByteReader::u16(p, !t.little); }
    unsigned u32(const sTable& t, const unsigned char* p) const { return cByteReader::u32(p, !t.little); }

    void table(const sTable& t) {
        seen_.push_back(t.at);
        unsigned char cnt[2];
        if (!readAsLibRaw(t.at, cnt, 2)) {
            bad_ = true;
            return;
        }
        const unsigned n = u16(t, cnt);
        if (n == 0 || n > kMaxRawIfdEntries) {
            bad_ = true;
            return;
        }
        // A table cut by the end of the file fails the walk; its entries
        // are still looked at as LibRaw would read them.
        const std::size_t bytes = 12u * n + (t.chain ? 4u : 0u);
        std::vector<unsigned char> e(bytes);
        if (!readAsLibRaw(t.at + 2, e.data(), bytes)) bad_ = true;
        sState st;
        for (unsigned i = 0; i < n; ++i) entry(t, t.at + 2 + 12ULL * i, e.data() + 12 * i, st);
        if (t.kind == eTable::tiff && st.cfa && !w_.cfa) {
            w_.cfa = true;
            w_.rawWidth = st.width;
            w_.rawHeight = st.height;
        }
        if (t.chain)
            if (const unsigned next = u32(t, e.data() + 12 * n))
                push(sTable{position(next, t.base), t.base, t.little, eTable::tiff, true, false});
    }

    // What one table's entries say that its later entries depend on.
    struct sState {
        bool sixBySix = false;
        bool cfa = false;
        long long width = 0, height = 0;
    };

    void entry(const sTable& t, unsigned long long at, const unsigned char* e, sState& st) {
        const unsigned tag = u16(t, e), type = u16(t, e + 2), count = u32(t, e + 4);
        if (type == 0 || type > 13) bad_ = true;
        const unsigned long long bytes = static_cast<unsigned long long>(count) * kTypeBytes[type <= 13 ? type : 0];
        unsigned long long where = at + 8;
        if (bytes > 4) {
            where = position(u32(t, e + 8), t.base);
            if (where + bytes > static_cast<unsigned long long>(size_)) bad_ = true;
        }
        if (hiddenTag(t.kind, tag)) {
            w_.hidden.push_back(sRawTiffWalk::sHidden{at, t.little});
            return;
        }
        if (t.kind == eTable::exif && tag != 0xA005) return;
        if (t.kind != eTable::tiff && t.kind != eTable::exif) return;
        // The first value, as LibRaw's get2 and get4 read it: in the entry,
        // or read from the file for the few tags whose value is looked at.
        unsigned char v[4] = {0xFF, 0xFF, 0xFF, 0xFF};
        if (bytes <= 4)
            std::memcpy(v, e + 8, 4);
        else if (readsValue(tag))
            readAsLibRaw(where, v, 4);
        const unsigned value = type == 3 ? u16(t, v) : u32(t, v);
        if (t.kind == eTable::exif) return pointer(t, type, count, v, eTable::interop);
        switch (tag) {
            case 0x0100: st.width = value; break;
            case 0x0101: st.height = value; break;
            case 0x0106: st.cfa = st.cfa || value == 32803 || value == 34892; break;
            case 0x010F:
                if (t.first && type == 2 && count > 0) make(where, count);
                break;
            case 0x0111:
            case 0x0201:
            case 0xF007: embeddedTiff(u32(t, v), t.base); break;
            case 0x014A: subIfds(t, type, count, where); break;
            case 0x828D: st.sixBySix = type == 3 && count == 2 && u16(t, v) == 6 && u16(t, v + 2) == 6; break;
            case 0x828E:
                if (count == 36 && !st.sixBySix) w_.unsafeCfa = true;
                break;
            case 0xFD09:
                if (count == 36) w_.unsafeCfa = true;
                break;
            case 0x8769: pointer(t, type, count, v, eTable::exif); break;
            case 0x8825: pointer(t, type, count, v, eTable::gps); break;
            case 0x8290:
            case 0xFE00: pointer(t, type, count, v, eTable::kodak); break;
            case 0xF000: pointer(t, type, count, v, eTable::tiff); break;
            case 0x9216:
                if (t.first) w_.tiffEP = true;
                break;
            case 0xC612:
                if (t.first) w_.dng = true;
                break;
            default: break;
        }
    }

    // The tags whose first value the walk looks at.
    static bool readsValue(unsigned tag) {
        static constexpr unsigned kTags[] = {0x0100, 0x0101, 0x0106, 0x0111, 0x0201, 0xF007, 0x828D,
                                             0x8769, 0x8825, 0x8290, 0xFE00, 0xF000, 0xA005};
        return std::find(std::begin(kTags), std::end(kTags), tag) != std::end(kTags);
    }

    // A tag whose value is the offset of a table (LONG or IFD).
    void pointer(const sTable& t, unsigned type, unsigned count, const unsigned char* v, eTable kind) {
        if ((type != 4 && type != 13) || count == 0) bad_ = true;
        push(sTable{position(u32(t, v), t.base), t.base, t.little, kind, false, false});
    }

    // Every offset of the list (those past the end of the file read as
    // LibRaw reads them), each a TIFF directory.
    void subIfds(const sTable& t, unsigned type, unsigned count, unsigned long long where) {
        if ((type != 4 && type != 13) || count == 0) bad_ = true;
        const unsigned take = std::min<unsigned>(count, kMaxRawScreenedIfds);
        if (take < count) bad_ = true;
        std::vector<unsigned char> offs(4u * take);
        readAsLibRaw(where, offs.data(), offs.size());
        for (unsigned k = 0; k < take; ++k)
            push(sTable{position(u32(t, offs.data() + 4 * k), t.base), t.base, t.little, eTable::tiff, false, false});
    }

    // LibRaw reads the data a strip or JPEG offset points at as a lossless
    // JPEG header, and when that parses, a TIFF 12 bytes on (an EXIF block
    // after SOI and APP1's marker, length and "Exif\0\0"), with a chain of
    // its own.  Data that could be read so is walked as such a TIFF.
    void embeddedTiff(unsigned value, unsigned long long base) {
        const unsigned long long at = position(value, base);
        unsigned char head[20];
        if (at == 0 || !readAsLibRaw(at, head, sizeof head)) return;
        const unsigned char* tiff = head + 12;
        const bool order = (tiff[0] == 'I' && tiff[1] == 'I') || (tiff[0] == 'M' && tiff[1] == 'M');
        if (head[1] == 0xD8 && order && !header(at + 12, tiff, false)) bad_ = true;
    }

    void make(unsigned long long where, unsigned count) {
        const std::size_t n = std::min<std::size_t>(count, sizeof w_.make - 1);
        w_.make[readAsLibRaw(where, reinterpret_cast<unsigned char*>(w_.make), n) ? n : 0] = 0;
    }

    cFileIOTarget* s_;
    long long size_;
    sRawTiffWalk& w_;
    std::vector<sTable> todo_;
    std::vector<unsigned long long> seen_;
    bool bad_ = false;
};

}  // namespace

bool walkRawTiff(cFileIOTarget* stream, long long size, sRawTiffWalk& out) {
    out = sRawTiffWalk();
    if (!stream) return false;
    cWalker walker(stream, size, out);
    return walker.run();
}
