#include "macshim/pasteboard.h"

#include <SDL2/SDL.h>

#include <cstring>
#include <map>
#include <string>
#include <utility>

#include "base/buffers.h"
#include "base/textenc.h"
#include "macshim/appkit.h"
#include "macshim/x11clipboard.h"

const char* const kMSPasteboardClipboard = "com.apple.pasteboard.clipboard";
const char* const kMSFlavorUTF16Text = "public.utf16-plain-text";
const char* const kMSFlavorRaw = "public.raw";

namespace {

struct Item {
    MSPasteboardItemID id;
    std::map<std::string, std::vector<uint8_t>> flavors;
};

struct Store {
    std::vector<Item> items;
    // The desktop text we published last (general clipboard only): a
    // different desktop text means another program copied.
    std::string published;
    bool general = false;
};

std::map<std::string, Store>& stores() {
    static std::map<std::string, Store> s;
    return s;
}

bool desktopClipboard() {
    if (SDL_WasInit(SDL_INIT_VIDEO)) return true;
    return SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
}

// On an X server the clipboard goes through our own connection code (see
// x11clipboard.h); elsewhere (SDL's offscreen driver, no window yet)
// through SDL's.
std::string desktopText() {
    std::string x11;
    if (msx11::readClipboard(MSAnySystemWindow(), x11) != msx11::kNotX11) return x11;
    if (!desktopClipboard() || !SDL_HasClipboardText()) return std::string();
    char* t = SDL_GetClipboardText();
    std::string s = t ? t : "";
    SDL_free(t);
    return s;
}

void publish(Store& st, const std::string& utf8) {
    if (!st.general) return;
    if (!msx11::takeClipboard(MSAnySystemWindow(), utf8)) {
        if (!desktopClipboard()) return;
        SDL_SetClipboardText(utf8.c_str());
    }
    st.published = utf8;
}

std::string utf16ToUtf8(const std::vector<uint8_t>& bytes) {
    std::vector<unsigned short> units(bytes.size() / 2);
    if (!units.empty()) std::memcpy(units.data(), bytes.data(), units.size() * 2);
    _typebuf<char> out;
    _w2pc(units.data(), (long long)units.size(), out);
    return std::string(out.data(), out.data() + out.count());
}

std::vector<uint8_t> utf8ToUtf16(const std::string& s) {
    _typebuf<unsigned short> w;
    _pc2w(s.data(), (long long)s.size(), w);
    std::vector<uint8_t> bytes(w.bytes());
    if (!bytes.empty()) std::memcpy(bytes.data(), w.data(), bytes.size());
    return bytes;
}

Item* findItem(Store& st, MSPasteboardItemID id) {
    for (Item& it : st.items)
        if (it.id == id) return &it;
    return nullptr;
}

}  // namespace

struct MSPasteboard {
    Store* store;
};

int MSPasteboardCreate(const char* name, MSPasteboardRef* out) {
    if (!out) return msPasteboardBadArgument;
    *out = nullptr;
    if (!name || !*name) return msPasteboardBadName;
    Store& st = stores()[name];
    st.general = std::strcmp(name, kMSPasteboardClipboard) == 0;
    *out = new MSPasteboard{&st};
    return msPasteboardNoErr;
}

void MSPasteboardRelease(MSPasteboardRef board) { delete board; }

int MSPasteboardClear(MSPasteboardRef board) {
    if (!board) return msPasteboardBadArgument;
    board->store->items.clear();
    publish(*board->store, std::string());
    return msPasteboardNoErr;
}

unsigned MSPasteboardSynchronize(MSPasteboardRef board) {
    if (!board || !board->store->general) return 0;
    Store& st = *board->store;
    std::string now = desktopText();
    if (now == st.published) return 0;
    // Another program copied text: it replaces whatever we held.
    st.published = now;
    st.items.clear();
    if (!now.empty()) st.items.push_back(Item{1, {{kMSFlavorUTF16Text, utf8ToUtf16(now)}}});
    return msPasteboardModified;
}

int MSPasteboardGetItemCount(MSPasteboardRef board, size_t* count) {
    if (!board || !count) return msPasteboardBadArgument;
    *count = board->store->items.size();
    return msPasteboardNoErr;
}

int MSPasteboardGetItemIdentifier(MSPasteboardRef board, size_t index, MSPasteboardItemID* item) {
    if (!board || !item) return msPasteboardBadArgument;
    if (index < 1 || index > board->store->items.size()) return msPasteboardBadIndex;
    *item = board->store->items[index - 1].id;
    return msPasteboardNoErr;
}

int MSPasteboardPutItemFlavor(MSPasteboardRef board, MSPasteboardItemID item, const char* flavor, const void* data,
                              size_t size) {
    if (!board || !flavor || (size && !data)) return msPasteboardBadArgument;
    Store& st = *board->store;
    Item* it = findItem(st, item);
    if (!it) {
        st.items.push_back(Item{item, {}});
        it = &st.items.back();
    }
    const uint8_t* p = static_cast<const uint8_t*>(data);
    it->flavors[flavor] = std::vector<uint8_t>(p, p + size);
    if (st.general && std::strcmp(flavor, kMSFlavorUTF16Text) == 0 && &st.items.front() == it)
        publish(st, utf16ToUtf8(it->flavors[flavor]));
    return msPasteboardNoErr;
}

int MSPasteboardCopyItemFlavorData(MSPasteboardRef board, MSPasteboardItemID item, const char* flavor,
                                   std::vector<uint8_t>& out) {
    out.clear();
    if (!board || !flavor) return msPasteboardBadArgument;
    Item* it = findItem(*board->store, item);
    if (!it) return msPasteboardBadItem;
    auto f = it->flavors.find(flavor);
    if (f == it->flavors.end()) return msPasteboardBadFlavor;
    out = f->second;
    return msPasteboardNoErr;
}
