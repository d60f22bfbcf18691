#include "base/buffers.h"

#include "base/exception.h"

namespace qor_detail {

// The file and line numbers are part of the exception's contract: callers and
// logs identify the failing check by them.
void throwTypebufOutOfBounds() {
    throw cException("src/base/buffers", 17, 0, "_typebuf::Out of bounds");
}

void throwClassbufOutOfBounds() {
    throw cException("src/base/buffers", 157, 0, "_classbuf::Out of bounds");
}

}  // namespace qor_detail
