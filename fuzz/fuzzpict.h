// The common run of a picture decoder's fuzz entry: the probe, a plain
// decode, and a decode into a small render target (a scaled path with its
// own bin arithmetic), each from the start of the same bytes.  Results are
// ignored; only crashes, hangs and leaks count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/memio.h"
#include "picts/pictbase.h"

// Probes and decodes plainly; with a target size also decodes into a
// render target of that size.
template <typename T>
void fuzzPictDecoder(const uint8_t* data, size_t size, int targetWidth = 0, int targetHeight = 0) {
    cBufWrapperIO io(const_cast<uint8_t*>(data), static_cast<long long>(size), false);
    cPictBase::sPictInfo info;
    T::validFor(&io, &info);
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
