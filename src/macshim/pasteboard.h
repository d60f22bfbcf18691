// Named pasteboards holding items, each a set of flavours (named byte
// strings).  Pasteboards of one name are shared by the whole process.  The
// general clipboard ("com.apple.pasteboard.clipboard") also reaches the
// desktop's clipboard: its UTF-16 text flavour is published as the desktop
// text, and text copied by other programs shows up after a synchronise.
// UI thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct MSPasteboard;
typedef MSPasteboard* MSPasteboardRef;
typedef uintptr_t MSPasteboardItemID;

enum : int {
    msPasteboardNoErr = 0,
    msPasteboardBadName = 1,      // no name given
    msPasteboardBadIndex = 2,     // no item at that index
    msPasteboardBadItem = 3,      // no item with that identifier
    msPasteboardBadFlavor = 4,    // the item has no such flavour
    msPasteboardBadArgument = 5,
};

// Synchronise answers these flags.
enum : unsigned { msPasteboardModified = 1 };

extern const char* const kMSPasteboardClipboard;  // "com.apple.pasteboard.clipboard"
extern const char* const kMSFlavorUTF16Text;      // "public.utf16-plain-text"
extern const char* const kMSFlavorRaw;            // "public.raw"

int MSPasteboardCreate(const char* name, MSPasteboardRef* out);
void MSPasteboardRelease(MSPasteboardRef board);
int MSPasteboardClear(MSPasteboardRef board);
unsigned MSPasteboardSynchronize(MSPasteboardRef board);
int MSPasteboardGetItemCount(MSPasteboardRef board, size_t* count);
// index counts from 1.
int MSPasteboardGetItemIdentifier(MSPasteboardRef board, size_t index, MSPasteboardItemID* item);
// Adds the flavour to the item (made when new); an existing flavour is replaced.
int MSPasteboardPutItemFlavor(MSPasteboardRef board, MSPasteboardItemID item, const char* flavor, const void* data,
                              size_t size);
int MSPasteboardCopyItemFlavorData(MSPasteboardRef board, MSPasteboardItemID item, const char* flavor,
                                   std::vector<uint8_t>& out);
