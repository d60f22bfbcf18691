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

// True when the block deflater (compression/blockdeflate.h) is the quicker
// engine for the n bytes at data, with the dict bytes before them as their
// window: when zlib's chains of three-byte strings would be long there, the
// block deflater's chains of eight-byte strings short beside them, and
// neither most positions unmatched nor nearly all inside long matches (on
// both the block deflater's three tables cost more a position than zlib's
// one, and zlib is the quicker).  Judged from every fourth position, in
// integers: the same bytes give the same answer on every machine.
bool blockDeflaterQuicker(const unsigned char* data, std::size_t n, std::size_t dict, sStoredScratch& scratch);

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
