#include "picts/pictfactory.h"

#include "base/memio.h"
#include "picts/pictdib.h"
#include "picts/pictdicom.h"
#include "picts/pictgif.h"
#include "picts/picticns.h"
#include "picts/pictico.h"
#include "picts/pictjbig2.h"
#include "picts/pictjp2.h"
#include "picts/pictjpeg.h"
#include "picts/pictpcx.h"
#include "picts/pictpng.h"
#include "picts/pictppm.h"
#include "picts/pictraw.h"
#include "picts/picttga.h"
#include "picts/picttiff.h"
#include "picts/pictxpm.h"

namespace {

using tStep = cPictBase* (*)(cFileIOTarget*, cPictBase::sPictInfo*);

// The probe order.  BMP before the bare DIB; the camera raw formats, most of
// them TIFF inside, before plain TIFF, and TIFF/EP last of them; DICOM with
// its preamble before the one without; the text formats late.
const tStep kProbeOrder[] = {
    getProbeDecoder<cPictJPEG>,
    getProbeDecoder<cPictPNG>,
    getProbeDecoder<cPictGIF>,
    getProbeDecoder<cPictBMP>,
    getProbeDecoder<cPictDIB>,
    getProbeDecoder<cPictICO>,
    getProbeDecoder<cPictJP2>,
    getProbeDecoder<cPictJ2K>,
    getProbeDecoder<cPictICNS>,
    getProbeDecoder<cPictTGA>,
    getProbeDecoder<cPictMRW>,
    getProbeDecoder<cPictRWL>,
    getProbeDecoder<cPictORF>,
    getProbeDecoder<cPictX3F>,
    getProbeDecoder<cPictPEF>,
    getProbeDecoder<cPictARW>,
    getProbeDecoder<cPictSRW>,
    getProbeDecoder<cPictIIQ>,
    getProbeDecoder<cPictRAF>,
    getProbeDecoder<cPictCRW>,
    getProbeDecoder<cPictMOS>,
    getProbeDecoder<cPictCR2>,
    getProbeDecoder<cPictCR3>,
    getProbeDecoder<cPictNEF>,
    getProbeDecoder<cPict3FR>,
    getProbeDecoder<cPictDNG>,
    getProbeDecoder<cPictTIFF_EP>,
    getProbeDecoder<cPictTIFF>,
    getProbeDecoder<cPictPPM>,
    getProbeDecoder<cPictPCX>,
    getProbeDecoder<cPictDICOM>,
    getProbeDecoder<cPictDICOMLegacy>,
    getProbeDecoder<cPictJBIG2>,
    getProbeDecoder<cPictXPM>,
};
constexpr int kSteps = static_cast<int>(sizeof kProbeOrder / sizeof kProbeOrder[0]);

// The first decoder from step `from` on that accepts the stream; `at`
// receives its step.  With info it is undecoded, without it decoded.
cPictBase* probeFrom(cFileIOTarget* stream, cPictBase::sPictInfo* info, int from, int& at) {
    for (int i = from; i < kSteps; ++i) {
        if (info) *info = cPictBase::sPictInfo();
        if (cPictBase* d = kProbeOrder[i](stream, info)) {
            at = i;
            return d;
        }
    }
    return nullptr;
}

bool ownPixels(cPictBase* d) { return d->is16Bpp() ? d->raw16Bpp() != nullptr : d->raw8Bpp() != nullptr; }

// Hands a decoded picture to dst: at its own size when it fits, else fitted
// into the box through a render target.
int deliver(cPictBase* d, cPictDummy& dst, long long maxW, long long maxH, unsigned int background) {
    const long long w = d->width(), h = d->height();
    if (w <= 0 || h <= 0 || !ownPixels(d)) return cPictBase::frDecodeFailed;
    long long fw = 0, fh = 0;
    if (!cPictBase::fitSize(w, h, maxW, maxH, fw, fh)) return cPictBase::frDecodeFailed;
    if (fw == w && fh == h) {
        if (!d->is16Bpp()) {
            d->moveTo(dst);
            return cPictBase::frOk;
        }
        _typebuf<unsigned int> px;
        if (!d->getColorData(px) || !dst.create(px, w, h)) return cPictBase::frConversionFailed;
        d->close();
        return cPictBase::frOk;
    }
    if (!dst.create(fw, fh, 0)) return cPictBase::frDecodeFailed;
    cPictBase::sExtPictDef target(&dst);
    target.background = background;
    return d->toExtTarget(&target) ? cPictBase::frOk : cPictBase::frConversionFailed;
}

// getImage for one probed decoder.
int fitOne(cPictBase* d, cFileIOTarget* stream, const cPictBase::sPictInfo& info, cPictDummy& dst, long long maxW,
           long long maxH, unsigned int background) {
    long long fw = info.width, fh = info.height;
    const bool sized = cPictBase::fitSize(info.width, info.height, maxW, maxH, fw, fh);
    if (!sized || (fw == info.width && fh == info.height) || !d->supportsExtRendering()) {
        if (!stream->set_fp(0) || !d->decode(stream)) return cPictBase::frDecodeFailed;
        // The probe's size need not be the decoded one (an icon reports its
        // largest entry, a GIF its screen): what was decoded is fitted.
        return deliver(d, dst, maxW, maxH, background);
    }
    if (!dst.create(fw, fh, 0)) return cPictBase::frDecodeFailed;
    cPictBase::sExtPictDef target(&dst);
    target.background = background;
    if (!d->setExtTarget(&target)) return cPictBase::frDecodeFailed;
    const bool ok = stream->set_fp(0) && d->decode(stream);
    d->endExtRender();
    if (!ok) return cPictBase::frDecodeFailed;
    const bool sameSize = d->width() == info.width && d->height() == info.height;
    if (ownPixels(d)) {
        // The decoder could not render into the target and kept its picture.
        if (sameSize) return d->toExtTarget(&target) ? cPictBase::frOk : cPictBase::frConversionFailed;
        return deliver(d, dst, maxW, maxH, background);
    }
    if (sameSize) return cPictBase::frOk;
    // The canvas was made for the probe's size: decode again plainly and fit
    // the picture that is really there.
    d->close();
    if (!stream->set_fp(0) || !d->decode(stream)) return cPictBase::frDecodeFailed;
    return deliver(d, dst, maxW, maxH, background);
}

}  // namespace

cPictBase* cPictBase::mkPicture(cFileIOTarget* stream, sPictInfo* info) {
    if (!stream) return nullptr;
    cMemBufferedIO cache;
    if (!cache.ref(stream, kFactoryReadCache)) return nullptr;
    int at = 0;
    // Without info a decoder whose decode fails gives way to the next.
    return probeFrom(&cache, info, 0, at);
}

int cPictBase::getImage(cFileIOTarget* stream, cPictDummy& dst, long long maxW, long long maxH,
                        unsigned int background) {
    if (!stream) return frBadArgument;
    cMemBufferedIO cache;
    if (!cache.ref(stream, kFactoryReadCache)) return frBadArgument;
    bool accepted = false;
    for (int from = 0;;) {
        sPictInfo info;
        int at = 0;
        cPictBase* d = probeFrom(&cache, &info, from, at);
        if (!d) return accepted ? frDecodeFailed : frNoDecoder;
        accepted = true;
        d->setWantAlts(false);
        if (maxW <= 0 || maxH < 0) {
            delete d;
            return frBadArgument;
        }
        const int r = fitOne(d, &cache, info, dst, maxW, maxH, background);
        delete d;
        // A decoder whose probe accepted but whose decode failed gives way
        // to the next one that accepts the stream.
        if (r != frDecodeFailed) return r;
        from = at + 1;
    }
}

int cPictBase::getPreview(cFileIOTarget* stream, cPictDummy& dst, long long maxW, long long maxH, bool allowDecode,
                          unsigned int) {
    // Previews are always drawn on white, whatever the caller asks.
    constexpr unsigned int kPreviewBackground = 0x00FFFFFF;
    if (!stream || maxW <= 0 || maxH <= 0) return frBadArgument;
    cMemBufferedIO cache;
    if (!cache.ref(stream, kFactoryReadCache)) return frBadArgument;
    bool accepted = false, unsized = false;
    for (int from = 0;;) {
        sPictInfo info;
        int at = 0;
        cPictBase* d = probeFrom(&cache, &info, from, at);
        if (!d) return unsized ? frBadArgument : (accepted ? frDecodeFailed : frNoDecoder);
        from = at + 1;
        if (info.width < 1 || info.height < 1) {
            // A probe that knows the format but not the size (a raw file
            // LibRaw cannot read) cannot fit a preview: a later decoder may.
            delete d;
            unsized = true;
            continue;
        }
        accepted = true;
        cache.set_fp(0);
        int r = getPreviewFor(d, info, &cache, dst, maxW, maxH, allowDecode, kPreviewBackground);
        if (r == frOk && d->width() > 0 && (d->width() != info.width || d->height() != info.height)) {
            // Fully decoded onto a canvas sized for the probe's report: fit
            // again from the size that was decoded.
            sPictInfo decoded;
            decoded.width = d->width();
            decoded.height = d->height();
            d->close();
            cache.set_fp(0);
            r = getPreviewFor(d, decoded, &cache, dst, maxW, maxH, allowDecode, kPreviewBackground);
        }
        delete d;
        if (r != frDecodeFailed) return r;
    }
}
