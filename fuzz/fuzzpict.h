// The common run of a picture decoder's fuzz entry: the probe, a plain
// decode, and a decode into a small render target (a scaled path with its
// own bin arithmetic), each from the start of the same bytes.  Results are
// ignored; only crashes, hangs and leaks count.
//
// As image fuzzers do, an entry decodes only pictures whose declared size
// is small (fuzzDecodeAllowed): a few header bytes may rightly describe a
// picture of 2^28 pixels that a valid stream of a few hundred bytes fills,
// and a run that spends its time filling such pictures measures memset, not
// parsing.  An input whose probe refuses it is still decoded: the decoders
// must refuse it too.
//
// That cap would hide every cost above it, so each entry has a second mode
// (QOR_FUZZ_ANY_SIZE set; tools/fuzz --any-size, and half of each entry's
// runs under --ci): inputs under kFuzzAnySizeInputBytes are decoded at any
// declared size, and libFuzzer fails any allocation over 256 MB.  The
// library holds what such an input may cost to its bytes (pictlimits.h), so
// a larger allocation, or a slow unit, is a finding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "base/memio.h"
#include "picts/pictbase.h"

// The most pixels, and the longest side, of a picture a fuzz entry decodes.
constexpr long long kFuzzMaxPixels = 1LL << 22;
constexpr long long kFuzzMaxSide = 1LL << 16;
// The inputs the second mode decodes at any declared size.
constexpr std::size_t kFuzzAnySizeInputBytes = 64 * 1024;

// Whether the run is in the second mode.
inline bool fuzzAnySize() {
    static const bool on = [] {
        const char* v = std::getenv("QOR_FUZZ_ANY_SIZE");
        return v && *v && *v != '0';
    }();
    return on;
}

// Whether a declared size may be decoded from an input of inputBytes.
inline bool fuzzSizeAllowed(long long width, long long height, std::size_t inputBytes) {
    if (fuzzAnySize() && inputBytes < kFuzzAnySizeInputBytes) return true;
    if (width < 0 || height < 0) return true;  // not a size; the decoder refuses it
    if (width > kFuzzMaxSide || height > kFuzzMaxSide) return false;
    return width * height <= kFuzzMaxPixels;
}

// Whether to decode after a probe: refused inputs are decoded (and must be
// refused again), accepted ones only when their size may be.
inline bool fuzzDecodeAllowed(bool probed, const cPictBase::sPictInfo& info, std::size_t inputBytes) {
    return !probed || fuzzSizeAllowed(info.width, info.height, inputBytes);
}

// Probes and decodes plainly; with a target size also decodes into a
// render target of that size.
template <typename T>
void fuzzPictDecoder(const uint8_t* data, size_t size, int targetWidth = 0, int targetHeight = 0) {
    cBufWrapperIO io(const_cast<uint8_t*>(data), static_cast<long long>(size), false);
    cPictBase::sPictInfo info;
    const bool probed = T::validFor(&io, &info);
    if (!fuzzDecodeAllowed(probed, info, size)) return;
    io.set_fp(0);
    {
        T plain;
        plain.decode(&io);
    }
    if (targetWidth <= 0 || targetHeight <= 0) return;
    std::vector<unsigned int> px(static_cast<size_t>(targetWidth) * static_cast<size_t>(targetHeight));
    cPictBase::sExtPictDef target;
    target.pixels = px.data();
    target.width = targetWidth;
    target.height = targetHeight;
    T scaled;
    scaled.setExtTarget(&target);
    io.set_fp(0);
    scaled.decode(&io);
}
