// cProgressChild: a framed progress bar, green gradient for the done part and
// grey for the rest.  It never jumps: an animation job of its own
// (cProgressViewUpdateJob) moves every change of position in ten steps of
// 30 ms, fades the bar in when progress starts and out when it stops, and
// hands each step to the UI thread as an action on the bar.  Any thread may
// set the range and position and start or stop the bar; the bar's picture,
// position and opacity change only on the UI thread.
#pragma once

#include "base/jobs.h"
#include "base/sync.h"
#include "uitoolkit/element.h"

#include <atomic>

class cProgressChild;

class cProgressViewUpdateJob : public cJob {
public:
    enum eCommand { cmdNone = 0, cmdStart = 1, cmdStop = 2, cmdMove = 3, cmdFinish = 4 };
    // Steps of a move or a fade, and the time of one step.
    static constexpr int kSteps = 10;
    static constexpr int kTickMs = 30;
    // How long a finished bar is held at full before it fades out.
    static constexpr int kHoldMs = 200;
    // The longest a caller waits for a pending start or stop to be taken.
    static constexpr int kPendingWaitMs = 4000;

    cProgressViewUpdateJob() = default;
    ~cProgressViewUpdateJob() override;

    int job() override;
    void startProgress();
    void setPos(int pos, bool noWait);
    void stopProgress(bool immediately);

    int cmd();
    void setCmd(int c);
    void setPosInt(int p);
    void setRangeInt(int r);
    // Where the last move ended (not a pending target).
    int shownPos();
    bool running();

    cProgressChild* mElement = nullptr;

private:
    // One 30 ms tick; false when the job is told to stop.
    bool tick();
    bool newCommand();
    void postPos(int p);
    void postOpacity(double o);
    // Runs a move to the target; false when the job is told to stop.
    bool runMove(int& fade, bool& interrupted);
    bool fadeOut(int& fade);

    int mShown = 0;
    int mRange = 0;
    int mCmd = cmdNone;
    int mAnimEnd = 0;
    int mTarget = 0;
    bool mRunning = false;
    bool mFinishing = false;
    cCriticalSection mLock;
};

class cProgressChild : public cChildElement {
public:
    class cSetProgressRequestAction : public cChildAction {
    public:
        explicit cSetProgressRequestAction(int p) : cChildAction(6), pos(p) {}
        int pos;
    };
    class cSetOpacityRequestAction : public cChildAction {
    public:
        explicit cSetOpacityRequestAction(double o) : cChildAction(7), opacity(o) {}
        double opacity;
    };

    cProgressChild();
    ~cProgressChild() override;

    void onInitData() override;
    // Ends the animation job, which posts up through the bar's parents; an
    // owner calls it before it takes the bar out of its tree.  Attaching the
    // bar again starts a new job.
    void shutdown();
    void setRange(int range);
    int range() const { return mRange.load(); }
    void setPos(int pos, bool noWait);
    int getPos() { return mJob.shownPos(); }
    void startProgress() { mJob.startProgress(); }
    void stopProgress(bool immediately) { mJob.stopProgress(immediately); }
    bool running() { return mJob.running(); }
    void setPassiveBgColor(unsigned int c, bool repaintNow);
    void setPassiveBorderColor(unsigned int c, bool repaintNow);
    void xIntSetPos(int pos);
    void xIntSetOpacity(double opacity);

    bool onAction(cChildElement* src, cChildAction* a) override;
    void onSizeChanged() override;
    void onPaint(cCanvas* canvas) override;
    bool onBackgroundRequest(cCanvas* canvas, sRect* rect) override;
    bool wantAcceptFoucs() override { return false; }

    // The composed picture (UI thread).
    const cPicture& barPicture() const { return mBar; }
    int shownPosition() const { return mPos; }
    double opacity() const { return mOpacity; }
    void buildProgressMap();

    // Done part, then rest, bottom inner row first, 0x00RRGGBB.
    static const unsigned int clrDataProg[20];
    static const unsigned int clrDataBack[20];

private:
    void paintAt(cCanvas* canvas, int dx, int dy, unsigned int border);

    cProgressViewUpdateJob mJob;
    std::atomic<int> mRange{0};
    int mPos = 0;
    double mOpacity = 1.0;
    cPicture mBar;
    cPicture mDone;
    cPicture mRest;
    unsigned int mPassiveBg = 0xFFFFFF;
    unsigned int mPassiveBorder = 0;
};
