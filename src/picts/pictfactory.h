// The format factory: one step of the probe order.  cPictBase::mkPicture,
// getImage and getPreview (pictfactory.cpp) run the steps for every decoder
// in the fixed order over a read cache of the caller's stream.
#pragma once

#include <new>

#include "picts/pictbase.h"

// Bytes of the caller's stream kept by the factory's read cache: enough for
// every probe's header reads, so asking all decoders costs one read.
constexpr long long kFactoryReadCache = 1LL << 16;

// Decoder T's probe on the rewound stream; null when it refuses.  With info
// the new decoder is returned undecoded (info holds the probe's report);
// without, it is returned decoded (page 0), or null when decoding fails.
template <typename T>
cPictBase* getProbeDecoder(cFileIOTarget* stream, cPictBase::sPictInfo* info) {
    if (!stream || !stream->set_fp(0) || !T::validFor(stream, info)) return nullptr;
    T* d = new (std::nothrow) T;
    if (!d || info) return d;
    if (!stream->set_fp(0) || !d->decode(stream)) {
        delete d;
        return nullptr;
    }
    return d;
}
