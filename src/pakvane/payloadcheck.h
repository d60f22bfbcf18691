// A payload read back as a stream, as pkgmake checks what it wrote and what
// it is given: every byte is inflated, hashed and checked as it passes, and
// nothing of the items' bytes is kept, so that a payload of any size is
// checked within a few MiB beyond its scenario's texts and documents.
// cSoftPkgScenario::loadBinConfig stays the reader for programs that want
// the items in memory.
#pragma once

#include <functional>

#include "base/fileio.h"
#include "pakvane/payloadheader.h"
#include "pakvane/pkgstream.h"

class cSoftPkgScenario;

// Reads the payload at src's position and checks all of it: the header, the
// zlib stream and its Adler-32, the body's size and SHA-256, the layout of
// every section, and each item's digest (a deflated item inflated on the
// way).  With toEnd nothing may follow the payload in src.
//
// True when everything holds; `into` then holds the scenario as
// loadBinConfig gives it, except that its items are known by their records
// alone (cSoftPkg::loadRecords).  False with options.fault saying why.  For
// an item that does not match its digest (the first in table order), `into`
// is loaded as well, so that the caller can name where that item goes.
//
// Beside the caller's thread, which walks the sections and checks the items,
// one thread inflates and one hashes the body when options.threads allows
// and the body is worth it.  options.observer hears of each piece of body
// that passes; the sizes it is given come from the header at once, and its
// item total only at the end.
bool verifyPayloadStream(cFileIOTarget* src, bool toEnd, cSoftPkgScenario& into, sPayloadOptions& options);

// Gives the header of a payload checked as it was written, once its writer
// has ended: its bytes as written, and how many bytes follow it (-1: not
// known).  False when the writer failed: the check ends with it, its
// fault left as it was.
using tWrittenHeader = std::function<bool(unsigned char (&head)[sPayloadHeader::kSize], long long& have)>;

// The same check beside the payload's writer, as each piece of it is
// written: src yields the bytes after the header from its position, each
// once the writer has put it (a read waits for them, and yields 0 once the
// writer has ended and they are all read); bodySize is the body's size the
// writer announced as it started.  The header, whose sizes and digest are
// known only at the end, comes from `written` once the stream has been read,
// and is held against it then: every check verifyPayloadStream makes is
// made, with nothing allowed after the payload.
bool verifyPayloadAsWritten(cFileIOTarget* src, unsigned long long bodySize, const tWrittenHeader& written,
                            cSoftPkgScenario& into, sPayloadOptions& options);
