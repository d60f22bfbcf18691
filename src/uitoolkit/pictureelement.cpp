#include "uitoolkit/pictureelement.h"

cPictureElement::cPictureElement() = default;
cPictureElement::~cPictureElement() = default;

bool cPictureElement::refPict(cPicture* p) {
    if (!p || p->empty()) return false;
    mOwned.reset();
    mShown = p;
    return true;
}

bool cPictureElement::setPict(const unsigned char* packed, unsigned int size) {
    mShown = nullptr;
    mOwned.reset(new cPicture());
    if (!packed || !mOwned->create(packed, static_cast<long long>(size)) || mOwned->empty()) {
        mOwned.reset();
        return false;
    }
    mShown = mOwned.get();
    return true;
}

bool cPictureElement::setPict(const unsigned int* pixels, int w, int h) {
    mShown = nullptr;
    mOwned.reset(new cPicture());
    if (!pixels || !mOwned->create(pixels, w, h, __bmp_res_inversed) || mOwned->empty()) {
        mOwned.reset();
        return false;
    }
    mShown = mOwned.get();
    return true;
}

bool cPictureElement::setActive(int id, int x, int y, int w, int h) {
    mZones[id] = sZone{x, y, x + w - 1, y + h - 1};
    if (id == mActiveZone) mActiveZone = -1;
    return true;
}

bool cPictureElement::setHint(int id, int x, int y, int w, int h, const char* text, int mode) {
    mHints[id] = sHintZone{sZone{x, y, x + w - 1, y + h - 1}, text ? text : "", mode};
    mZoneHint.reset();
    mHintZone = -1;
    return true;
}

bool cPictureElement::setHint(int id, const char* text, int mode) {
    auto it = mHints.find(id);
    if (it == mHints.end()) return false;
    it->second.text = text ? text : "";
    it->second.mode = mode;
    mZoneHint.reset();
    mHintZone = -1;
    return true;
}

// Zones are searched in ascending id order: the smallest id wins.
bool cPictureElement::activeAt(int x, int y, int& id) const {
    id = -1;
    for (auto& kv : mZones)
        if (kv.second.contains(x, y)) {
            id = kv.first;
            return true;
        }
    return false;
}

void cPictureElement::onPaint(cCanvas* canvas) {
    if (!canvas || !mShown || mShown->empty()) return;
    if (transparent()) {
        sPoint at{0, 0};
        canvas->drawTransparent(&at, mShown, nullptr);
    } else {
        canvas->drawBitmap(0, 0, mShown, mShown->width(), mShown->height());
    }
}

bool cPictureElement::onBackgroundRequest(cCanvas* canvas, sRect* r) {
    if (!canvas || !r || !mShown || mShown->empty()) return cChildElement::onBackgroundRequest(canvas, r);
    canvas->drawBitmap(-r->x, -r->y, mShown, mShown->width(), mShown->height());
    return true;
}

bool cPictureElement::onMouseButton(int x, int y, int button, bool down) {
    if (button != 1 || down) return false;
    if (activeAt(x, y, mActiveZone)) {
        notifyAction(new cActiveZoneAction(mActiveZone));
        return true;
    }
    return false;
}

void cPictureElement::onMouseMoving(int x, int y) {
    cChildElement::onMouseMoving(x, y);
    const bool overZone = activeAt(x, y, mActiveZone);
    setPointer(overZone ? mptHand : mptArrow);
    changePointerReq(overZone ? mptHand : mptArrow);
    auto it = mHints.end();
    for (auto h = mHints.begin(); h != mHints.end(); ++h)
        if (h->second.r.contains(x, y)) {
            it = h;
            break;
        }
    if (it == mHints.end()) {
        mHintZone = -1;
        mZoneHint.reset();
        return;
    }
    if (it->first == mHintZone && mZoneHint) return;
    sPoint abs;
    absPos(abs);
    const sZone& r = it->second.r;
    sPoint at{abs.x + r.x1 + 2, it->second.mode == 1 ? abs.y + r.y1 : abs.y + r.y2 + 2};
    std::unique_ptr<cHintMaster> h(new cHintMaster());
    if (h->show(this, it->second.text.c_str(), &at, cHintMaster::kThemeColour, cHintMaster::kThemeColour,
                it->second.mode))
        mZoneHint = std::move(h);
    else
        mZoneHint.reset();
    mHintZone = it->first;
}

void cPictureElement::onMouseLeft() {
    cChildElement::onMouseLeft();
    mZoneHint.reset();
    mHintZone = -1;
}

void cPictureElement::onInitData() {
    cChildElement::onInitData();
    mActiveZone = -1;
    mHintZone = -1;
}
