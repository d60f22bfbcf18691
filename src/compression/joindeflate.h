// Pieces of one raw deflate stream (RFC 1951) deflated by libdeflate, each
// whole and without history: the payload writer's quick engine.
//
// libdeflate deflates a whole buffer in one call several times faster than
// zlib at level 9, and about as small (its blocks are cut where the bytes'
// statistics change, not every 16,383 symbols), but it knows nothing of the
// bytes before the buffer and always ends with a final block.  A piece of a
// longer stream must do neither: so its final block is found (the blocks
// walked, their codes and symbols decoded but nothing inflated: two thirds
// of the time zlib's inflate takes), its final bit cleared and an empty stored
// block put after it, as zlib's sync flush ends a piece, so that the next
// piece's bytes follow directly.  Matches never reach before the piece, so
// a piece's bytes depend on its data alone, never on what went before it.
//
// libdeflate chooses its code by the processor only for checksums and for
// decoding; what it writes for the same bytes at the same level is the same
// on every machine (pkgmake's payload test packs on an emulated processor
// without the extensions it could choose by, and compares).
#pragma once

#include <cstddef>
#include <memory>

// The bit offsets of the final block of the raw deflate stream at
// in[0 .. inBytes): where its header starts and where its end-of-block code
// ends.  True only when the stream ends in its last byte and stands for
// exactly plainBytes bytes, none of its distances reaching back before its
// start, and when zlib's inflate would take every block of it.
bool findFinalDeflateBlock(const unsigned char* in, std::size_t inBytes, std::size_t plainBytes,
                           std::size_t& headerBit, std::size_t& endBit);

// Turns the complete raw deflate stream at out, whose final block starts at
// headerBit and ends at endBit (findFinalDeflateBlock), into a piece that
// another follows: the final bit cleared, then an empty stored block.
// Returns the piece's size, at most 5 bytes more than the stream's (out has
// room for them).
std::size_t joinableDeflatePiece(unsigned char* out, std::size_t headerBit, std::size_t endBit);

class cJoinedDeflater {
public:
    // libdeflate's level, 1 to 12.
    explicit cJoinedDeflater(int level);
    ~cJoinedDeflater();
    cJoinedDeflater(const cJoinedDeflater&) = delete;
    cJoinedDeflater& operator=(const cJoinedDeflater&) = delete;

    // The most bytes deflate() writes for n bytes of data, at any level.
    static std::size_t bound(std::size_t n);

    // Deflates data[0 .. n) as raw deflate blocks at out[0 .. room), n at
    // least 1: with the final block when `last`, else as a piece that the
    // next one follows (ending as a sync flush ends).  Returns the bytes
    // written, or 0 when libdeflate cannot have its memory or room is short
    // (room of bound(n) never is).
    std::size_t deflate(const unsigned char* data, std::size_t n, bool last, unsigned char* out, std::size_t room);

private:
    struct sState;
    int level_;
    std::unique_ptr<sState> s_;
};
