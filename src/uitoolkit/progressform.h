// The standard progress display for long work: a progress bar with a Stop
// button at its right end and a status line telling the stage, the
// percentage, the time consumed and the time left.  cStdBasicProgressForm is
// that display as a modal form whose own job runs the work (a subclass
// supplies job()); cStdUnknownProgressForm is for work that cannot measure
// itself: a second job feeds it a made-up percentage that approaches 100
// without reaching it.
//
// The job's thread and the fake-progress thread both report to the form, so
// the stage name and the times they share live under one lock, and the
// current stage name is the form's own copy: replacing a stored name with
// setStageName never leaves the status line reading freed text.
//
// Ownership: runUIJob hands the form to the window's modal run, which
// deletes it when the run ends.  The caller must not delete it again.
#pragma once

#include "base/jobs.h"
#include "base/sync.h"
#include "uitoolkit/form.h"
#include "uitoolkit/picture.h"
#include "uitoolkit/progressbar.h"
#include "uitoolkit/static.h"
#include "uitoolkit/toolbar.h"

#include <map>
#include <string>

// The state both displays keep between reports: the stored stage names, the
// current stage name (a copy), the stage's start and the last shown report,
// all under one lock, since the work's job and the made-up-progress job
// report from two threads.
class cProgressStatus {
public:
    void setStageName(int index, const char* name);
    // The stored name of the stage, or fallback; the stage starts now.
    void enterStage(int index, const char* fallback);
    void stageStarted(unsigned int now);
    void begin(unsigned int now, const char* name);
    std::string stageName();
    void setShowTimeLeft(bool on);
    // Formats the status line for a report; false when nothing is to be
    // shown (too soon after the last one, or 0 %).
    bool report(double percent, unsigned int now, const char* fmtLeft, const char* fmtNoLeft, int& pos,
                char (&line)[256]);

private:
    cCriticalSection mLock;
    std::map<int, std::string> mStageNames;
    unsigned int mStageStart = 0;
    unsigned int mLastUpdate = 0;
    std::string mStageName;
    bool mShowTimeLeft = true;
};

class cStdBasicProgressForm : public cCustomForm, public cJob, public cProgressNotifyTarget {
public:
    // Carries the job's result from the job's thread to the UI thread.
    class cProgressAction : public cChildAction {
    public:
        explicit cProgressAction(unsigned long r) : cChildAction(kActionCode), result(r) {}
        unsigned long result;
    };
    static constexpr int kActionCode = 7;
    static constexpr int kRange = 1000;
    // The status line is rewritten at most this often.
    static constexpr unsigned int kUpdateMs = 501;
    static constexpr int kFormW = 600, kFormH = 106;

    // Texts of the "ciom::progress" section.
    enum eText { txStop = 0, txStarting = 1, txProgress = 2, txOperation = 3, txNoTimeLeft = 4 };

    cStdBasicProgressForm();
    // Ends the job and waits for it; a subclass whose job() reads its own
    // members must terminate the job in its own destructor first.
    ~cStdBasicProgressForm() override;

    static cPicturesList myToolImages;

    const char* wantLangResource() override { return "ciom::progress"; }
    void onInitData() override;
    void onConstruct() override;
    bool onAction(cChildElement* src, cChildAction* a) override;
    bool onFormCancel() override;
    bool onClose() override;

    void setStageName(int index, const char* name);
    void notifyStage(int index) override;
    bool notifyProgress(double percent) override;
    void onJobEnd(unsigned long result) override;

    // Shows the form modally over the parent's window and returns the job's
    // result (0 after a cancel of an idle form, 0 for a null parent or
    // form).  The modal run owns the form from then on and deletes it.
    int runUIJob(cChildElement* parent, const char* title);
    static int runUIJob(cChildElement* parent, cStdBasicProgressForm* form, const char* title);

    // Read by the tests.
    cStaticElement* statusLabel() { return &mLabel; }
    cToolBarChild* toolBar() { return &mToolBar; }
    cProgressChild* progressBar() { return &mBar; }
    std::string stageName();
    void setShowTimeLeft(bool on);

protected:
    cStaticElement mLabel;
    cToolBarChild mToolBar;
    cProgressChild mBar;

private:
    cProgressStatus mStatus;
};

// Feeds a target a percentage that rises as atan(t) * 2/pi * 100: a report
// every 400 ms, t growing by 0.1 each time.
class cUnknownProgressFakeJob : public cJob {
public:
    static constexpr int kStepMs = 5;
    static constexpr int kSteps = 80;
    ~cUnknownProgressFakeJob() override;
    int job() override;
    void reset();
    void setTarget(cProgressNotifyTarget* t);
    // The percentage reported for a given t.
    static double percentAt(double t);

private:
    cCriticalSection mLock;
    double mT = 0;
    cProgressNotifyTarget* mTarget = nullptr;
};

// The same display as an element to place inside another form; the job's
// result travels up to the parents as a code-6 action.
class cStdBasicProgressChild : public cChildElement, public cJob, public cProgressNotifyTarget {
public:
    class cProgressAction : public cChildAction {
    public:
        explicit cProgressAction(unsigned long r) : cChildAction(kActionCode), result(r) {}
        unsigned long result;
    };
    static constexpr int kActionCode = 6;

    cStdBasicProgressChild();
    ~cStdBasicProgressChild() override;

    static cPicturesList myToolImages;

    const char* wantLangResource() override { return "ciom::progress"; }
    void onInitData() override;
    bool onAction(cChildElement* src, cChildAction* a) override;
    bool onClose() override { return !runs(); }

    void setStageName(int index, const char* name) { mStatus.setStageName(index, name); }
    void notifyStage(int index) override;
    bool notifyProgress(double percent) override;
    void onJobEnd(unsigned long result) override;

    // Starts the job (showing the element first); false for a null child or
    // when no thread could be started.
    static bool runUIJob(cStdBasicProgressChild* child, const char* name);
    bool runUIJob(const char* name);

    cStaticElement* statusLabel() { return &mLabel; }
    cToolBarChild* toolBar() { return &mToolBar; }
    std::string stageName() { return mStatus.stageName(); }
    void setShowTimeLeft(bool on) { mStatus.setShowTimeLeft(on); }

protected:
    cToolBarChild mToolBar;
    cProgressChild mBar;
    cStaticElement mLabel;

private:
    cProgressStatus mStatus;
};

class cStdUnknownProgressForm : public cStdBasicProgressForm {
public:
    // Ends the fake job before the form goes.
    ~cStdUnknownProgressForm() override;
    void onConstruct() override;
    void notifyStage(int index) override;
    void onJobEnd(unsigned long result) override;

protected:
    cUnknownProgressFakeJob mFake;
};

// The element for work that cannot measure itself.  It keeps its line
// without a time left also when runUIJob turns that on.
class cStdUnknownProgressChild : public cStdBasicProgressChild {
public:
    ~cStdUnknownProgressChild() override;
    void onInitData() override;
    void onJobStart() override;
    void onJobEnd(unsigned long result) override;
    void notifyStage(int index) override;

protected:
    cUnknownProgressFakeJob mFake;
};
