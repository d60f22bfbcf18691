#include "uitoolkit/progressform.h"

#include "uitoolkit/themevalues.h"

#include <cmath>
#include <cstdio>

unsigned int elementClockNow();

cPicturesList cStdBasicProgressForm::myToolImages;

namespace {

// Splits milliseconds into hours, minutes and seconds of the status line.
struct sHms {
    explicit sHms(unsigned long long ms)
        : h(static_cast<int>(ms / 3600000ULL)),
          m(static_cast<int>((ms / 1000ULL) % 3600ULL / 60ULL)),
          s(static_cast<int>((ms / 1000ULL) % 60ULL)) {}
    int h, m, s;
};

}  // namespace

cStdBasicProgressForm::cStdBasicProgressForm() = default;

cStdBasicProgressForm::~cStdBasicProgressForm() { terminate(4000); }

void cStdBasicProgressForm::onInitData() {
    cCustomForm::onInitData();
    if (!myToolImages.image(1)) myToolImages.refImage(1, currentThemeValues()->picture(78));
    mStatus.setShowTimeLeft(true);
}

void cStdBasicProgressForm::onConstruct() {
    cCustomForm::onConstruct();
    onInitData();
    cPanelChild* client = clientArea();
    const int cw = client->width();
    client->attach(&mBar, 5, 0, cw - 10, 18);
    mBar.setRange(kRange);
    mBar.attach(&mToolBar, 0, 0, 1, 18);
    mToolBar.setTransparent(true);
    mToolBar.setImageList(0, &myToolImages);
    const char* stop = string(txStop);
    mToolBar.setButton(1, stop ? stop : "", 1);
    const int w = mToolBar.wantsWidth();
    mBar.anchor(&mToolBar, -(w + 1), 0, w, 18);
    client->attach(&mLabel, 5, 20, cw - 10, 16);
    const unsigned int c0 = currentThemeValues()->color(0);
    mLabel.setColorSchema(mLabel.textColor(), c0, c0);
    const char* starting = string(txStarting);
    mLabel.setText(starting ? starting : "", -1, false);
    const char* op = string(txOperation);
    mStatus.begin(elementClockNow(), op ? op : "");
    start();
}

void cProgressStatus::setStageName(int index, const char* name) {
    cSafeCriticalSectionAccess g(&mLock);
    if (name)
        mStageNames[index] = name;
    else
        mStageNames.erase(index);
}

void cProgressStatus::enterStage(int index, const char* fallback) {
    cSafeCriticalSectionAccess g(&mLock);
    auto it = mStageNames.find(index);
    mStageName = it != mStageNames.end() ? it->second : (fallback ? fallback : "");
}

void cProgressStatus::stageStarted(unsigned int now) {
    cSafeCriticalSectionAccess g(&mLock);
    mStageStart = now;
}

void cProgressStatus::begin(unsigned int now, const char* name) {
    cSafeCriticalSectionAccess g(&mLock);
    if (name) mStageName = name;
    mStageStart = now;
    mLastUpdate = 0;
}

std::string cProgressStatus::stageName() {
    cSafeCriticalSectionAccess g(&mLock);
    return mStageName;
}

void cProgressStatus::setShowTimeLeft(bool on) {
    cSafeCriticalSectionAccess g(&mLock);
    mShowTimeLeft = on;
}

bool cProgressStatus::report(double percent, unsigned int now, const char* fmtLeft, const char* fmtNoLeft,
                             int& pos, char (&line)[256]) {
    double p = percent;
    if (!(p >= 0)) p = 0;  // also NaN
    if (p > 100) p = 100;
    cSafeCriticalSectionAccess g(&mLock);
    if (now - mLastUpdate < cStdBasicProgressForm::kUpdateMs || p == 0) return false;
    mLastUpdate = now;
    pos = static_cast<int>(10.0 * p);
    const unsigned int elapsed = mLastUpdate - mStageStart;
    const sHms used(elapsed);
    if (mShowTimeLeft) {
        const sHms left(static_cast<unsigned long long>((100.0 - p) * elapsed / p));
        std::snprintf(line, sizeof line, fmtLeft ? fmtLeft : "", mStageName.c_str(), pos * 0.1, used.h, used.m,
                      used.s, left.h, left.m, left.s);
    } else {
        std::snprintf(line, sizeof line, fmtNoLeft ? fmtNoLeft : "", mStageName.c_str(), used.h, used.m, used.s);
    }
    return true;
}

void cStdBasicProgressForm::setStageName(int index, const char* name) { mStatus.setStageName(index, name); }
std::string cStdBasicProgressForm::stageName() { return mStatus.stageName(); }
void cStdBasicProgressForm::setShowTimeLeft(bool on) { mStatus.setShowTimeLeft(on); }

void cStdBasicProgressForm::notifyStage(int index) {
    mStatus.enterStage(index, string(txOperation));
    // Runs the bar to full, holds it and fades it out (blocks about 200 ms).
    mBar.stopProgress(false);
    mStatus.stageStarted(elementClockNow());
}

bool cStdBasicProgressForm::notifyProgress(double percent) {
    char line[256];
    int pos = 0;
    if (mStatus.report(percent, elementClockNow(), string(txProgress), string(txNoTimeLeft), pos, line)) {
        mBar.setPos(pos, false);
        mLabel.setText(line, -1, true);
    }
    return !haveToStop();
}

void cStdBasicProgressForm::onJobEnd(unsigned long result) { postAction(new cProgressAction(result)); }

bool cStdBasicProgressForm::onAction(cChildElement* src, cChildAction* a) {
    if (a && src == this && a->code() == kActionCode) {
        end_modal(static_cast<int>(static_cast<cProgressAction*>(a)->result));
        return true;
    }
    if (a && src == &mToolBar && a->code() == 6) {
        if (static_cast<cToolBarChild::cTbButtonAction*>(a)->id == 1) onFormCancel();
        return true;
    }
    return cCustomForm::onAction(src, a);
}

bool cStdBasicProgressForm::onFormCancel() {
    if (runs())
        stop();
    else
        end_modal(0);
    return true;
}

bool cStdBasicProgressForm::onClose() {
    if (runs()) {
        stop();
        return false;
    }
    return true;
}

int cStdBasicProgressForm::runUIJob(cChildElement* parent, const char* title) {
    return runUIJob(parent, this, title);
}

int cStdBasicProgressForm::runUIJob(cChildElement* parent, cStdBasicProgressForm* form, const char* title) {
    if (!parent || !form) return 0;
    return parent->modal(title ? title : "", kFormW, kFormH, form, false);
}

// ---- The element ------------------------------------------------------------

cPicturesList cStdBasicProgressChild::myToolImages;

cStdBasicProgressChild::cStdBasicProgressChild() = default;

cStdBasicProgressChild::~cStdBasicProgressChild() { terminate(4000); }

void cStdBasicProgressChild::onInitData() {
    cChildElement::onInitData();
    if (!myToolImages.image(1)) myToolImages.refImage(1, currentThemeValues()->picture(78));
    if (!mBar.parent()) {
        attach(&mBar, 0, 0, 1, 18);
        anchor(&mBar, 0, 0, -1, 18);
        mBar.setRange(cStdBasicProgressForm::kRange);
        mBar.attach(&mToolBar, 0, 0, 1, 18);
        mToolBar.setTransparent(true);
        mToolBar.setImageList(0, &myToolImages);
        const char* stop = string(cStdBasicProgressForm::txStop);
        mToolBar.setButton(1, stop ? stop : "", 1);
        const int w = mToolBar.wantsWidth();
        mBar.anchor(&mToolBar, -(w + 1), 0, w, 18);
        attach(&mLabel, 0, 18, 1, 1);
        anchor(&mLabel, 0, 18, -1, -19);
        const unsigned int c0 = currentThemeValues()->color(0);
        mLabel.setColorSchema(mLabel.textColor(), c0, c0);
    }
    const char* starting = string(cStdBasicProgressForm::txStarting);
    mLabel.setText(starting ? starting : "", -1, false);
    const char* op = string(cStdBasicProgressForm::txOperation);
    mStatus.begin(elementClockNow(), op ? op : "");
    mStatus.setShowTimeLeft(true);
}

bool cStdBasicProgressChild::runUIJob(cStdBasicProgressChild* child, const char* name) {
    return child && child->runUIJob(name);
}

bool cStdBasicProgressChild::runUIJob(const char* name) {
    if (!visible_child()) show(true);
    mStatus.setShowTimeLeft(true);
    mStatus.begin(elementClockNow(), name);
    return start();
}

void cStdBasicProgressChild::notifyStage(int index) {
    mStatus.enterStage(index, string(cStdBasicProgressForm::txOperation));
    mBar.stopProgress(false);
    mStatus.stageStarted(elementClockNow());
}

bool cStdBasicProgressChild::notifyProgress(double percent) {
    char line[256];
    int pos = 0;
    if (mStatus.report(percent, elementClockNow(), string(cStdBasicProgressForm::txProgress),
                       string(cStdBasicProgressForm::txNoTimeLeft), pos, line)) {
        mBar.setPos(pos, false);
        mLabel.setText(line, -1, true);
    }
    return !haveToStop();
}

void cStdBasicProgressChild::onJobEnd(unsigned long result) {
    mBar.stopProgress(false);
    postAction(new cProgressAction(result));
}

bool cStdBasicProgressChild::onAction(cChildElement* src, cChildAction* a) {
    // Its own result is for the parents: a posted action is handed to its
    // element only, so it is passed up from here.
    if (a && src == this && a->code() == kActionCode) return parent() ? parent()->processAction(this, a) : false;
    if (a && src == &mToolBar && a->code() == 6) {
        if (static_cast<cToolBarChild::cTbButtonAction*>(a)->id == 1 && runs()) stop();
        return true;
    }
    return cChildElement::onAction(src, a);
}

// ---- Made-up progress -------------------------------------------------------

cUnknownProgressFakeJob::~cUnknownProgressFakeJob() { terminate(4000); }

double cUnknownProgressFakeJob::percentAt(double t) { return std::atan(t) * 0.6366197723675814 * 100.0; }

void cUnknownProgressFakeJob::setTarget(cProgressNotifyTarget* t) {
    cSafeCriticalSectionAccess g(&mLock);
    mTarget = t;
}

void cUnknownProgressFakeJob::reset() {
    cSafeCriticalSectionAccess g(&mLock);
    mT = 0;
}

int cUnknownProgressFakeJob::job() {
    reset();
    for (;;) {
        if (haveToStop()) return 0;
        {
            cSafeCriticalSectionAccess g(&mLock);
            if (!mTarget) return 0;
        }
        for (int i = 0; i < kSteps && !haveToStop(); ++i) sleep(kStepMs);
        if (haveToStop()) return 0;
        cProgressNotifyTarget* target;
        double t;
        {
            cSafeCriticalSectionAccess g(&mLock);
            target = mTarget;
            t = mT;
            mT += 0.1;
        }
        if (!target) return 0;
        target->notifyProgress(percentAt(t));
    }
}

cStdUnknownProgressForm::~cStdUnknownProgressForm() {
    mFake.terminate(4000);
    terminate(4000);
}

void cStdUnknownProgressForm::onConstruct() {
    cStdBasicProgressForm::onConstruct();
    mFake.setTarget(this);
    setShowTimeLeft(false);
    mFake.start();
}

void cStdUnknownProgressForm::notifyStage(int index) {
    cStdBasicProgressForm::notifyStage(index);
    mFake.reset();
}

void cStdUnknownProgressForm::onJobEnd(unsigned long result) {
    mFake.stop();
    cStdBasicProgressForm::onJobEnd(result);
}

cStdUnknownProgressChild::~cStdUnknownProgressChild() {
    mFake.terminate(4000);
    terminate(4000);
}

void cStdUnknownProgressChild::onInitData() {
    cStdBasicProgressChild::onInitData();
    mFake.setTarget(this);
    setShowTimeLeft(false);
}

void cStdUnknownProgressChild::onJobStart() {
    setShowTimeLeft(false);
    const char* starting = string(cStdBasicProgressForm::txStarting);
    mLabel.setText(starting ? starting : "", -1, true);
    mFake.start();
}

void cStdUnknownProgressChild::onJobEnd(unsigned long result) {
    cStdBasicProgressChild::onJobEnd(result);
    mFake.stop();
}

void cStdUnknownProgressChild::notifyStage(int index) {
    cStdBasicProgressChild::notifyStage(index);
    mFake.reset();
}
