// cNavigationChild: a one-line path bar.  In its normal mode the current
// path shows as a row of buttons, one per component, on a progress bar that
// doubles as the background; a click on a component goes to that prefix.  A
// click on the free area or the folder icon turns the bar into an editable
// drop-down of the visited paths.  A navigation runs on a worker job (a
// cNavigationProvider) while the bar shows a made-up progress and keeps its
// buttons disabled; the bar's parent hears of the finished navigation (code
// 6) and posts code 9 to the bar once it has taken the result in.
//
// Threads: the provider's navigationProc and the progress job's loop run on
// worker threads and reach the bar only by posting actions.  The bar stops
// and joins both before it goes, so no worker ever posts to a bar that is
// gone.
#pragma once

#include "base/jobs.h"
#include "base/strkey.h"
#include "base/treelist.h"
#include "uitoolkit/combobox.h"
#include "uitoolkit/progressbar.h"
#include "uitoolkit/toolbar.h"

#include <atomic>

class cNavigationChild;

// The visited paths, each held once under the number of its latest visit.
class cNavigationHistory {
public:
    typedef cFasterTreeList<int, _guardchar<char> > tVisits;
    void init();
    void setVisited(const char* path);
    // From the newest visit (item null) to the oldest: copies the visit's
    // path into out and returns it; null past the oldest.
    tVisits::cTreeItem* next(tVisits::cTreeItem* item, _guardchar<char>& out);
    std::size_t count() const { return mVisits.count(); }

private:
    tVisits mVisits;
    cFasterTreeList<cStringKey, int> mPaths;
};

// Does the work of a navigation on its own thread.  One navigation runs at a
// time; the bar learns of its end through a posted cNaviDoneAction, sent as
// the very last thing the run does.
class cNavigationProvider : public cJob {
public:
    cNavigationProvider() = default;
    ~cNavigationProvider() override;

    virtual bool asyncNavigate(cNavigationChild* child, const char* path);
    virtual bool canAcceptPath(const char* path) = 0;
    // Makes a path typed into the bar the one to go to (a provider knows what
    // a relative path is taken from); on the UI thread.  Keeps it as it is.
    virtual void resolveTypedPath(_guardchar<char>&) {}
    // On the job's thread; 0 for success.
    virtual int navigationProc(const char* path) = 0;
    // On the job's thread, after navigationProc and before the bar is told.
    virtual void onNavigationDone(int) {}

    int job() override;
    void onJobEnd(unsigned long result) override;
    // Stops a navigation that would report to child and waits for its
    // thread; the bar calls it before it goes.
    void forget(cNavigationChild* child);
    // Whether a navigation was asked for and has not reported yet.
    bool busy() const { return mBusy.load(std::memory_order_acquire) && runs(); }

protected:
    // Written on the UI thread; read by the run when it reports.
    std::atomic<cNavigationChild*> mChild{nullptr};
    _guardchar<char> mPath;

private:
    friend class cNavigationChild;
    // The bar that uses this provider; the two unlink each other when
    // either goes first.
    cNavigationChild* mUser = nullptr;
    // Set by asyncNavigate, cleared by the run just before it reports: a new
    // navigation may then start even though the old thread has a few
    // instructions left (start() waits for them).
    std::atomic<bool> mBusy{false};
};

// Posts a made-up progress to the bar while a navigation runs: after about a
// second, values that creep towards 1 and never reach it.
class cFakeNavigationProgressJob : public cJob {
public:
    // The loop's tick, and the ticks between two steps (about 200 ms).
    static constexpr int kTickMs = 5;
    static constexpr int kTicksPerStep = 40;

    cFakeNavigationProgressJob() = default;
    ~cFakeNavigationProgressJob() override;
    void startProgress(cNavigationChild* child);
    void endProgress();
    int job() override;
    double position() const { return mPos.load(); }
    // Stops the loop and waits for it; no action is posted afterwards.
    void shutdown();

private:
    // Written by the UI thread (start, end) and the job (steps), each under
    // the lock together with what it posts: no step is posted after the end
    // has sent its 1.
    std::atomic<double> mPos{-1.0};
    std::atomic<cNavigationChild*> mChild{nullptr};
    cCriticalSection mLock;
};

class cNavigationChild : public cChildElement {
public:
    enum eNaviMode { nmNormal = 0, nmEdit = 1, nmProgress = 2 };

    struct sStrToken {
        _guardchar<char> text;
        _guardchar<char> path;
    };
    // Notified upward: with a provider when its job has ended (no path),
    // without one at once (the path).
    class cNaviSetPathAction : public cChildAction {
    public:
        explicit cNaviSetPathAction(const char* p) : cChildAction(6) { path.set(p); }
        _guardchar<char> path;
    };
    class cNaviDoneAction : public cChildAction {
    public:
        explicit cNaviDoneAction(int r) : cChildAction(7), result(r) {}
        int result;
    };
    class cNaviFakeProgressRecvAction : public cChildAction {
    public:
        explicit cNaviFakeProgressRecvAction(double v) : cChildAction(8), value(v) {}
        double value;
    };

    // Image 0 the folder icon, image 1 the separator; state 0 and focused.
    static cPicturesList myToolsPicts;
    static cPicturesList myToolsPictsActive;

    cNavigationChild();
    ~cNavigationChild() override;

    bool navigate(const char* path);
    void setPath(const char* path);
    const char* path() const { return mPath.get(); }
    int naviMode() const { return mMode; }
    // The bar does not own the provider; whichever of the two goes first
    // unlinks itself from the other.
    void setNavigationProvider(cNavigationProvider* provider);
    cNavigationProvider* navigationProvider() const { return mProvider; }
    void setShowRootSlash(bool on);
    void setPassiveColor(unsigned int colour, bool repaint);
    void clearHist();
    void setFolderIncon(cPicture* picture);
    void refFolderIncon(cPicture* picture);

    cToolBarChild* pathBar() { return &mBar; }
    cProgressChild* progressBar() { return &mProgress; }
    cComboBoxChild* dropDown() { return &mDrop; }
    cNavigationHistory& history() { return mHist; }
    // The token behind a button, null when the id has none.
    const sStrToken* token(int id) const { return mTokens.find(id); }

    bool onAction(cChildElement* src, cChildAction* a) override;
    void onInitData() override;

    void build();
    void goNormalMode();
    void goEditMode();
    void goProgressMode();

private:
    friend class cNavigationProvider;
    cToolBarChild mBar;
    cProgressChild mProgress;
    cComboBoxChild mDrop;
    bool mShowRootSlash = true;
    cNavigationHistory mHist;
    _guardchar<char> mPath;
    cFakeNavigationProgressJob mFake;
    cNavigationProvider* mProvider = nullptr;
    cFasterTreeList<int, sStrToken> mTokens;
    int mMode = nmNormal;
};
