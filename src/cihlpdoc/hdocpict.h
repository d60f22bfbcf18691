// The picture probe of compiled documents: the first decoder that accepts
// the stream, undecoded (the caller deletes it), or null.  Documents take
// PNG, BMP and GIF pictures; the stream is left at offset 0.
#pragma once

#include "picts/pictbase.h"

cPictBase* hdocMakePicture(cFileIOTarget* stream, cPictBase::sPictInfo* info);
