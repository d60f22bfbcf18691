#include "cihlpdoc/hdocpict.h"

#include "picts/pictdib.h"
#include "picts/pictgif.h"
#include "picts/pictpng.h"

cPictBase* hdocMakePicture(cFileIOTarget* stream, cPictBase::sPictInfo* info) {
    if (!stream) return nullptr;
    cPictBase::sPictInfo scratch;
    if (!info) info = &scratch;
    cPictBase* found = nullptr;
    if (stream->set_fp(0) && cPictPNG::validFor(stream, info))
        found = new cPictPNG;
    else if (stream->set_fp(0) && cPictBMP::validFor(stream, info))
        found = new cPictBMP;
    else if (stream->set_fp(0) && cPictGIF::validFor(stream, info))
        found = new cPictGIF;
    stream->set_fp(0);
    return found;
}
