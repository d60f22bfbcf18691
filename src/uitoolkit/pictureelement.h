// cPictureElement: one UI picture at the element's top-left corner, with
// rectangles of it as clickable active zones (a click notifies the zone's
// id) and hint zones (each with a tooltip of its own).
#pragma once

#include "uitoolkit/element.h"
#include "uitoolkit/hintmaster.h"
#include "uitoolkit/picture.h"

#include <map>
#include <memory>
#include <string>

class cPictureElement : public cChildElement {
public:
    class cActiveZoneAction : public cChildAction {
    public:
        explicit cActiveZoneAction(int zone) : cChildAction(6), id(zone) {}
        int id;
    };

    cPictureElement();
    ~cPictureElement() override;

    bool refPict(cPicture* p);
    bool setPict(const unsigned char* packed, unsigned int size);
    bool setPict(const unsigned int* pixels, int w, int h);
    cPicture* pict() const { return mShown; }
    bool setActive(int id, int x, int y, int w, int h);
    // The element's own hint, beside the zones' hints.
    using cChildElement::setHint;
    bool setHint(int id, int x, int y, int w, int h, const char* text, int mode);
    bool setHint(int id, const char* text, int mode);
    int currentActiveZone() const { return mActiveZone; }
    int currentHintZone() const { return mHintZone; }
    cHintMaster* shownZoneHint() const { return mZoneHint.get(); }

    void onPaint(cCanvas* canvas) override;
    bool onBackgroundRequest(cCanvas* canvas, sRect* r) override;
    bool onMouseButton(int x, int y, int button, bool down) override;
    void onMouseMoving(int x, int y) override;
    void onMouseLeft() override;
    void onInitData() override;

private:
    struct sZone {
        int x1, y1, x2, y2;
        bool contains(int x, int y) const { return x >= x1 && x <= x2 && y >= y1 && y <= y2; }
    };
    struct sHintZone {
        sZone r;
        std::string text;
        int mode;
    };
    // The first zone in id order that holds the point.
    bool activeAt(int x, int y, int& id) const;

    cPicture* mShown = nullptr;
    std::unique_ptr<cPicture> mOwned;
    std::map<int, sZone> mZones;
    std::map<int, sHintZone> mHints;
    int mActiveZone = -1;
    int mHintZone = -1;
    std::unique_ptr<cHintMaster> mZoneHint;
};
