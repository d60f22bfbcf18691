// Incompressible blocks of the payload's stream: the test that finds them,
// held against what zlib at level 9 makes of the same bytes with the same
// dictionary (Python's zlib), the Huffman code size against a textbook
// Huffman build in Python, and the stored blocks inflated by Python's zlib.
#include "pakvane/storedblocks.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "compression/blockdeflate.h"
#include "compression/joindeflate.h"
#include "testsupport.h"

namespace {

using qortest::runPython;
using qortest::TempDir;
using qortest::writeFile;

struct sRandom {
    std::uint64_t x;
    explicit sRandom(std::uint64_t seed) : x(seed * 0x9E3779B97F4A7C15ull + 1) {}
    std::uint64_t next() {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        return x;
    }
    std::string bytes(std::size_t n, unsigned mask = 0xFF) {
        std::string s(n, '\0');
        for (auto& c : s) c = static_cast<char>(next() & mask);
        return s;
    }
};

std::string words(sRandom& r, std::size_t n) {
    static const char* const w[] = {"package ", "install ", "qor ", "\n", "version ", "data "};
    std::string s;
    while (s.size() < n) s += w[r.next() % 6];
    s.resize(n);
    return s;
}

struct sCase {
    const char* name;
    std::string dict, data;
};

std::vector<sCase> cases() {
    sRandom r(5);
    std::vector<sCase> c;
    c.push_back({"random after random", r.bytes(32768), r.bytes(131072)});
    c.push_back({"random alone", "", r.bytes(131072)});
    c.push_back({"random, short last piece", r.bytes(32768), r.bytes(40000)});
    c.push_back({"text", words(r, 32768), words(r, 131072)});
    {
        const std::string tile = r.bytes(1000);
        std::string d;
        while (d.size() < 131072) d += tile;
        d.resize(131072);
        c.push_back({"a random tile repeated", "", d});
    }
    {
        // The window reaches 32 KiB back, short of the last 262 bytes with zlib.
        const std::string dict = r.bytes(32768);
        c.push_back({"random that repeats its dictionary", dict, dict.substr(16384) + r.bytes(114688)});
    }
    c.push_back({"seven-bit random", "", r.bytes(131072, 0x7F)});
    c.push_back({"random ending in zeros", "", r.bytes(114688) + std::string(16384, '\0')});
    {
        // Random with one byte value in every sixteen.
        std::string d = r.bytes(131072);
        for (std::size_t i = 0; i < d.size(); i += 16) d[i] = 'x';
        c.push_back({"random with a common byte", "", d});
    }
    {
        // Random but for a run of text in its middle piece.
        std::string d = r.bytes(131072);
        const std::string t = words(r, 8192);
        d.replace(60000, t.size(), t);
        c.push_back({"random with some text", r.bytes(32768), d});
    }
    return c;
}

// Prints, for each case, whether zlib at level 9 (raw, the dictionary
// preset, ended by a sync flush) makes fewer bytes than the data: each
// case's dictionary and data lie in files <dir>/<k>.dict and <k>.data.
const char kZlibShrinks[] = R"PY(
import sys, zlib
d, n = sys.argv[1], int(sys.argv[2])
out = []
for k in range(n):
    dict_ = open('%s/%d.dict' % (d, k), 'rb').read()
    data = open('%s/%d.data' % (d, k), 'rb').read()
    z = zlib.compressobj(9, zlib.DEFLATED, -15, 8, zlib.Z_DEFAULT_STRATEGY, zdict=dict_) if dict_ else \
        zlib.compressobj(9, zlib.DEFLATED, -15)
    packed = z.compress(data) + z.flush(zlib.Z_SYNC_FLUSH)
    out.append('1' if len(packed) < len(data) else '0')
print(''.join(out))
)PY";

TEST(StoredBlocks, StoredExactlyWhereZlibAtLevel9CannotShrinkTheBytes) {
    const std::vector<sCase> all = cases();
    TempDir dir;
    for (std::size_t k = 0; k < all.size(); ++k) {
        ASSERT_TRUE(writeFile(dir.file(std::to_string(k) + ".dict"), all[k].dict));
        ASSERT_TRUE(writeFile(dir.file(std::to_string(k) + ".data"), all[k].data));
    }
    const std::string shrinks = runPython(kZlibShrinks, dir.path() + " " + std::to_string(all.size()));
    ASSERT_EQ(shrinks.size(), all.size() + 1) << shrinks;
    sStoredScratch scratch;
    int stored = 0;
    for (std::size_t k = 0; k < all.size(); ++k) {
        const sCase& c = all[k];
        std::string window = c.dict + c.data;
        const auto* at = reinterpret_cast<const unsigned char*>(window.data()) + c.dict.size();
        const bool cannot = deflateCannotShrink(at, c.data.size(), c.dict.size(), scratch);
        EXPECT_EQ(cannot, shrinks[k] == '0') << c.name;
        stored += cannot;
    }
    // The cases hold both answers.
    EXPECT_EQ(stored, 3);
    // Too few bytes to be worth the test, random as they are.
    const std::string few = sRandom(9).bytes(kStoredMinBytes - 1);
    EXPECT_FALSE(deflateCannotShrink(reinterpret_cast<const unsigned char*>(few.data()), few.size(), 0, scratch));
}

TEST(StoredBlocks, HuffmanCodeSizeAgreesWithATextbookBuild) {
    std::vector<std::vector<std::uint32_t>> tables;
    sRandom r(11);
    tables.push_back({7});                          // one symbol: a bit each
    tables.push_back({0, 5, 0, 3});                 // two symbols
    tables.push_back(std::vector<std::uint32_t>(257, 64));
    {
        std::vector<std::uint32_t> t(257);
        for (auto& v : t) v = static_cast<std::uint32_t>(r.next() % 200);
        t[256] = 1;
        tables.push_back(t);
    }
    {
        std::vector<std::uint32_t> t(40);
        std::uint32_t v = 1u << 30;
        for (auto& x : t) x = (v = v / 2 + 1);  // geometric: a deep tree
        tables.push_back(t);
    }
    std::ostringstream args;
    for (const auto& t : tables) {
        for (std::size_t i = 0; i < t.size(); ++i) args << (i ? "," : "") << t[i];
        args << " ";
    }
    const std::string py = runPython(R"PY(
import heapq, sys
out = []
for table in sys.argv[1:]:
    counts = [int(x) for x in table.split(',') if int(x)]
    if len(counts) < 2:
        out.append(str(sum(counts)))
        continue
    # Depth of each leaf in a Huffman tree, summed over its count.
    heap = [(c, i, [i]) for i, c in enumerate(counts)]
    heapq.heapify(heap)
    depth = [0] * len(counts)
    n = len(counts)
    while len(heap) > 1:
        a, b = heapq.heappop(heap), heapq.heappop(heap)
        for leaf in a[2] + b[2]:
            depth[leaf] += 1
        heapq.heappush(heap, (a[0] + b[0], n, a[2] + b[2]))
        n += 1
    out.append(str(sum(c * d for c, d in zip(counts, depth))))
print(' '.join(out))
)PY", args.str());
    std::ostringstream ours;
    for (std::size_t k = 0; k < tables.size(); ++k)
        ours << (k ? " " : "") << huffmanBits(tables[k].data(), tables[k].size());
    EXPECT_EQ(ours.str() + "\n", py);
}

TEST(StoredBlocks, StoredBlocksInflateToTheBytesAndEndAsAsked) {
    TempDir dir;
    sRandom r(3);
    std::ostringstream names;
    const std::size_t sizes[] = {0, 1, 65535, 65536, 200000};
    for (std::size_t n : sizes) {
        const std::string data = r.bytes(n);
        for (bool last : {false, true}) {
            std::string out(storedBlocksBound(n), '\0');
            const std::size_t made = putStoredBlocks(reinterpret_cast<const unsigned char*>(data.data()), n, last,
                                                     reinterpret_cast<unsigned char*>(&out[0]));
            ASSERT_LE(made, storedBlocksBound(n));
            out.resize(made);
            const std::string base = dir.file(std::to_string(n) + (last ? "L" : "N"));
            ASSERT_TRUE(writeFile(base + ".data", data));
            ASSERT_TRUE(writeFile(base + ".z", out));
            names << base << " ";
        }
    }
    // Each stream: whether it inflates to its data, whether it ended, and
    // whether a stream left open ends with a sync flush's empty block.
    const std::string py = runPython(R"PY(
import sys, zlib
out = []
for base in sys.argv[1:]:
    data, z = open(base + '.data', 'rb').read(), open(base + '.z', 'rb').read()
    d = zlib.decompressobj(-15)
    got = d.decompress(z)
    out.append('%s:%d%d%d' % (base.rsplit('/', 1)[1], got == data, d.eof, z.endswith(b'\0\0\0\xff\xff')))
print(' '.join(out))
)PY", names.str());
    EXPECT_EQ(py,
              "0N:101 0L:110 1N:101 1L:110 65535N:101 65535L:110 65536N:101 65536L:110 200000N:101 200000L:110\n");
}

}  // namespace

// The choice of engine, on kinds of block measured with bench_deflate
// --blocks: our deflater takes half zlib's time on text of a few words,
// whose three-byte chains are long and eight-byte ones short; zlib is the
// quicker, by 2.5 times and more, on a random tile repeated and on zeros
// (every position inside a long match, where our three tables cost more a
// position) and on random bytes.  The answer is the bytes' alone, whatever
// the scratch memory held before.
TEST(EngineChoice, OurDeflaterOnlyWhereZlibsChainsAreLongAndOursShort) {
    sRandom r(21);
    std::string tiled;
    const std::string tile = r.bytes(1024);
    while (tiled.size() < 131072) tiled += tile;
    const struct {
        const char* name;
        std::string dict, data;
        bool ours;
    } table[] = {
        {"text of six words", words(r, 32768), words(r, 131072), true},
        {"random bytes", r.bytes(32768), r.bytes(131072), false},
        {"seven-bit random bytes", "", r.bytes(131072, 0x7F), false},
        {"a random tile repeated", tiled.substr(0, 32768), tiled, false},
        {"zeros", std::string(32768, '\0'), std::string(131072, '\0'), false},
        {"text too short to judge", "", words(r, kStoredMinBytes - 1), false},
    };
    sStoredScratch scratch;
    for (int round = 0; round < 2; ++round)
        for (std::size_t k = 0; k < sizeof table / sizeof table[0]; ++k) {
            // The second round in the other order: scratch left by another case.
            const auto& c = table[round ? sizeof table / sizeof table[0] - 1 - k : k];
            const std::string window = c.dict + c.data;
            const auto* at = reinterpret_cast<const unsigned char*>(window.data()) + c.dict.size();
            EXPECT_EQ(blockDeflaterQuicker(at, c.data.size(), c.dict.size(), scratch), c.ours) << c.name;
        }
}

// The writer's engine for a block, on kinds of block: stored for random
// bytes; our deflater, with the window before the block, for text of a few
// words, where it comes out smaller than libdeflate deflating the block
// whole; libdeflate's level 9 for a list of file entries, where it comes
// out smaller than both; libdeflate's level 6 for the rest, where it is no
// larger than ours beyond three bytes in a thousand and the few dozen bytes
// the window before the block may save (and several times quicker,
// bench/README.md).  Each choice
// is held against both engines' sizes on the block, whose window holds
// bytes of the same kind but not the block's own.
TEST(EngineChoice, StoredOursOrLibdeflateByTheBlocksBytes) {
    sRandom r(33);
    std::string tiled, otherTiles;
    const std::string tile = r.bytes(1024), otherTile = r.bytes(1024);
    while (tiled.size() < 524288) tiled += tile;
    while (otherTiles.size() < 32768) otherTiles += otherTile;
    // Text of 3,000 words of three to ten letters.
    std::vector<std::string> vocabulary;
    for (int k = 0; k < 3000; ++k) {
        std::string w;
        for (std::size_t n = 3 + r.next() % 8; w.size() < n;) w += static_cast<char>('a' + r.next() % 26);
        vocabulary.push_back(w);
    }
    std::string prose;
    while (prose.size() < 524288 + 32768) prose += vocabulary[r.next() % 3000] + (r.next() % 12 ? " " : ".\n");
    prose.resize(524288 + 32768);
    // The start of a body of many small files: the list of their entries
    // (an index, flags, an id and a path of numbered folders and files),
    // then the first records of the item table (sizes, a digest and the
    // file's text).
    std::string list;
    for (std::uint32_t k = 0; k < 10000; ++k) {
        const std::string path = "files/d" + std::to_string(k / 1000) + "/s" + std::to_string(k / 100 % 10) + "/f" +
                                 std::to_string(k) + ".txt";
        list += '\x01';
        list.append(reinterpret_cast<const char*>(&k), 4);
        list += std::string("\x08\x08\x08\x03\x03\x00pgm", 9);
        list += static_cast<char>(path.size());
        list += '\0';
        list += path + "\xFF";
    }
    while (list.size() < 524288 + 32768) {
        const std::string text = words(r, 200 + r.next() % 3000);
        const std::uint32_t sizes[2] = {0, static_cast<std::uint32_t>(text.size())};
        list.append(reinterpret_cast<const char*>(sizes), 8);
        list += r.bytes(32) + text;
    }
    list.resize(524288 + 32768);
    const struct {
        const char* name;
        std::string dict, data;
        eBlockEngine engine;
    } table[] = {
        {"text of six words", words(r, 32768), words(r, 524288), eBlockEngine::chains},
        {"a list of file entries", list.substr(0, 32768), list.substr(32768), eBlockEngine::wholeDeep},
        {"random bytes", r.bytes(32768), r.bytes(524288), eBlockEngine::stored},
        {"seven-bit random bytes", "", r.bytes(524288, 0x7F), eBlockEngine::whole},
        {"text of 3,000 words", prose.substr(0, 32768), prose.substr(32768), eBlockEngine::whole},
        {"a random tile repeated", otherTiles, tiled, eBlockEngine::whole},
        {"zeros", std::string(32768, '\0'), std::string(524288, '\0'), eBlockEngine::whole},
        {"text too short to judge", "", words(r, kStoredMinBytes - 1), eBlockEngine::whole},
    };
    sStoredScratch scratch;
    cBlockDeflater ours;
    cJoinedDeflater whole(6), deep(9);
    for (const auto& c : table) {
        const std::string window = c.dict + c.data;
        const auto* at = reinterpret_cast<const unsigned char*>(window.data()) + c.dict.size();
        const std::size_t n = c.data.size();
        EXPECT_EQ(chooseBlockEngine(at, n, c.dict.size(), scratch), c.engine) << c.name;
        if (c.engine == eBlockEngine::stored) continue;
        std::vector<unsigned char> out(std::max(cBlockDeflater::bound(n), whole.bound(n)));
        const std::size_t mine = ours.deflate(at, n, c.dict.size(), false, out.data(), out.size());
        const std::size_t theirs = whole.deflate(at, n, false, out.data(), out.size());
        ASSERT_GT(mine, 0u);
        ASSERT_GT(theirs, 0u);
        if (c.engine == eBlockEngine::chains) {
            EXPECT_LT(mine, theirs) << c.name;
        } else if (c.engine == eBlockEngine::wholeDeep) {
            const std::size_t deeper = deep.deflate(at, n, false, out.data(), out.size());
            EXPECT_LT(deeper, mine) << c.name << ": " << deeper << " against " << mine << " and " << theirs;
            EXPECT_LT(deeper, theirs) << c.name;
        } else {
            EXPECT_LE(theirs * 1000, mine * 1003 + 64 * 1000) << c.name << ": " << theirs << " against " << mine;
        }
    }
}
