// Blocks of the payload's deflate stream that deflate cannot shrink: bytes
// that are already compressed (archives, pictures, media) or random.  zlib
// at level 9 spends several times longer searching them than copying them
// and then writes them as stored blocks anyway; they are told apart here,
// from the bytes alone (so the same bytes always get the same output), and
// written stored at once.
//
// A block is taken as incompressible when each 16 KiB of it has a byte
// histogram whose Huffman code takes no fewer bits than the bytes as they
// are (so that no dynamic block, whatever its header, could be smaller)
// and when hardly a four-byte string in it repeats within deflate's 32 KiB
// window (the window reaching back into the dictionary before it).  Both
// tests only ever err towards compressing: a block that is stored would
// have been stored by zlib too, short of a few bytes of headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Scratch memory of the tests, kept by a worker from block to block.
struct sStoredScratch {
    std::vector<std::uint32_t> seen;
    std::vector<std::uint16_t> count3, count8, last4;
    std::vector<std::uint32_t> ring;
};

// The smallest block worth testing: smaller ones are deflated as they come.
constexpr std::size_t kStoredMinBytes = 4096;

// True when the n bytes at data are taken as incompressible.  dict bytes
// before data (data - dict .. data) are the window they may refer back to.
bool deflateCannotShrink(const unsigned char* data, std::size_t n, std::size_t dict, sStoredScratch& scratch);

// What the engine choice counts of a block, from every fourth position of
// it (the first 192 KiB of a longer one) and of the window before it: the
// positions sampled; the earlier samples in the window with zlib's hash of
// their three bytes (the chain zlib walks) and with the block deflater's
// hash of eight (the chain it walks), summed over the samples; the samples
// that repeat four bytes of the window; and those that meet an earlier
// eight-byte hash at all.
struct sChainCounts {
    std::uint64_t samples = 0, zlibChain = 0, ownChain = 0, repeat4 = 0, met8 = 0;
};
sChainCounts countChains(const unsigned char* data, std::size_t n, std::size_t dict, sStoredScratch& scratch);

// True when the block deflater (compression/blockdeflate.h) is the quicker
// engine than zlib at level 9 for the n bytes at data, with the dict bytes
// before them as their window: when zlib's chains of three-byte strings
// would be long there, the block deflater's chains of eight-byte strings
// short beside them, and neither most positions unmatched nor nearly all
// inside long matches (on both the block deflater's three tables cost more
// a position than zlib's one, and zlib is the quicker).  Judged from every
// fourth position, in integers: the same bytes give the same answer on
// every machine.
bool blockDeflaterQuicker(const unsigned char* data, std::size_t n, std::size_t dict, sStoredScratch& scratch);
bool blockDeflaterQuicker(const sChainCounts& counts);

// The engines of the payload writer: stored blocks, the block deflater with
// the window before the block, libdeflate on the block whole without it
// (compression/joindeflate.h) at level 6 and, searching deeper, at level 9.
enum class eBlockEngine { stored, chains, whole, wholeDeep };

// The engine for the n bytes at data, dict bytes of window before them, by
// the bytes alone.  Stored when deflate cannot shrink them; else libdeflate
// at level 6, several times quicker than either deflater with zlib's parse
// and about as small; but where zlib's chains are long (100 earlier
// positions a position and more: text of a small vocabulary, source code,
// tables) and the block deflater the quicker of the two with that parse,
// the block deflater, whose deeper search and the window before the block
// keep the bytes smaller than libdeflate does, by 0.4% on Python sources
// and 2.3% on text of a 50-word vocabulary; and where zlib's chains pass
// 700 but the block deflater is not the quicker (lists of paths, tables of
// binaries) libdeflate at level 9, in 0.3 to 0.7 of zlib's time there and
// 1% to 3% smaller than its level 6 (not where nearly every position lies
// inside a long match: runs and tiles, on which its search takes longer
// than zlib's).
eBlockEngine chooseBlockEngine(const unsigned char* data, std::size_t n, std::size_t dict, sStoredScratch& scratch);

// The most bytes putStoredBlocks writes for n bytes.
constexpr std::size_t storedBlocksBound(std::size_t n) { return n + 5 * (n / 65535 + 2); }

// Writes the n bytes at data as stored deflate blocks at out, starting on a
// byte boundary: the last with the final bit when `last`, else followed by
// an empty stored block, as a sync flush ends a block.  Returns the bytes
// written, at most storedBlocksBound(n).
std::size_t putStoredBlocks(const unsigned char* data, std::size_t n, bool last, unsigned char* out);

// The bits a Huffman code built for these symbol counts takes for all of
// them (the sum of count times code length; no length limit).
std::uint64_t huffmanBits(const std::uint32_t* counts, std::size_t symbols);
