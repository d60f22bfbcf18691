// A small stand-in for the desktop interfaces the platform layer drives: the
// shared application with its event queue, windows with content views,
// cursors, the main screen, sheets and the display-sleep assertion.  It is
// built on SDL2; SDL's offscreen video driver runs it without a display.
//
// Geometry follows the desktop convention the platform layer expects: screen
// and window coordinates have their origin at the bottom-left of the main
// screen, view coordinates at the bottom-left of the view.  The Ctrl key of
// the keyboard stands for the Command modifier.
//
// Everything but MSApplication::postEvent / MSWindow::postEvent belongs to
// the UI thread (the thread that created the application).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct MSPoint { double x = 0, y = 0; };
struct MSSize { double width = 0, height = 0; };
struct MSRect {
    MSPoint origin;
    MSSize size;
};
inline MSRect MSMakeRect(double x, double y, double w, double h) { return MSRect{{x, y}, {w, h}}; }

// Event types, numbered as the platform layer's dispatch expects.
enum : int {
    MSEventTypeLeftMouseDown = 1,
    MSEventTypeLeftMouseUp = 2,
    MSEventTypeRightMouseDown = 3,
    MSEventTypeRightMouseUp = 4,
    MSEventTypeMouseMoved = 5,
    MSEventTypeLeftMouseDragged = 6,
    MSEventTypeRightMouseDragged = 7,
    MSEventTypeMouseEntered = 8,
    MSEventTypeMouseExited = 9,
    MSEventTypeKeyDown = 10,
    MSEventTypeKeyUp = 11,
    // Window-system happenings: subtypes below.  Also produced when the user
    // clicks into another application (ours loses activation).
    MSEventTypeAppKitDefined = 14,
    MSEventTypeApplicationDefined = 15,
    MSEventTypeScrollWheel = 22,
};

// Subtypes of MSEventTypeAppKitDefined.
enum : short {
    MSAppKitCloseRequest = 1,   // the window's close box
    MSAppKitFocusGained = 2,    // the window system focused the window
    MSAppKitFocusLost = 3,
    MSAppKitResized = 4,        // data1, data2: the new content size
    MSAppKitExposed = 5,
    MSAppKitDeactivated = 6,    // the user went to another application
    MSAppKitQuitRequest = 7,    // SIGINT, SIGTERM or the session ending
    MSAppKitMoved = 8,          // data1, data2: the content's new top-left
                                // screen point (top-left origin); only moves
                                // we did not ask for (the user, the manager)
};

enum : uint32_t {
    MSEventModifierFlagShift = 1u << 17,
    MSEventModifierFlagControl = 1u << 18,
    MSEventModifierFlagOption = 1u << 19,
    MSEventModifierFlagCommand = 1u << 20,
    MSEventModifierFlagFunction = 1u << 23,
};

enum : uint64_t {
    MSEventMaskLeftMouseDown = 1u << 1,
    MSEventMaskLeftMouseUp = 1u << 2,
    MSEventMaskRightMouseDown = 1u << 3,
    MSEventMaskRightMouseUp = 1u << 4,
    MSEventMaskAny = ~uint64_t(0),
};

// Window style bits.
enum : unsigned {
    MSWindowStyleBorderless = 0,
    MSWindowStyleTitled = 1,
    MSWindowStyleClosable = 2,
    MSWindowStyleMiniaturizable = 4,
    MSWindowStyleResizable = 8,
};

struct MSEvent {
    int type = 0;
    short subtype = 0;
    long windowNumber = 0;
    MSPoint locationInWindow;     // bottom-left origin of the window's content
    uint32_t modifierFlags = 0;
    uint16_t keyCode = 0;         // desktop virtual key code
    std::u16string characters;
    double deltaX = 0, deltaY = 0, deltaZ = 0;
    long data1 = 0, data2 = 0;
    double timestamp = 0;         // seconds since the start of the process

    static MSEvent otherEvent(int type, MSPoint location, uint32_t flags, double timestamp,
                              long windowNumber, short subtype, long data1, long data2);
    // The pointer's screen position (bottom-left origin).
    static MSPoint mouseLocation();
    // Handlers for presses and releases in other applications; the answer
    // identifies the monitor, null when none could be installed.
    static void* addGlobalMonitor(uint64_t mask, std::function<void(const MSEvent&)> handler);
    static void removeMonitor(void* monitor);
};

// Seconds since the start of the process, the clock of event timestamps.
double MSTimeNow();

class MSWindow;

// A cursor; the closed hand is drawn by us as a colour cursor.
class MSCursor {
public:
    static MSCursor* arrowCursor();
    static MSCursor* IBeamCursor();
    static MSCursor* crosshairCursor();
    static MSCursor* pointingHandCursor();
    static MSCursor* resizeLeftRightCursor();
    static MSCursor* resizeUpDownCursor();
    static MSCursor* closedHandCursor();
    // The cursor shown now (the arrow until another is set).
    static MSCursor* current();
    void set();
    const char* name() const { return name_; }
    bool isColour() const { return colour_; }

private:
    MSCursor(const char* name, int system, bool colour) : name_(name), system_(system), colour_(colour) {}
    const char* name_;
    int system_;
    bool colour_;
    void* sdl_ = nullptr;
    bool tried_ = false;
};

// The drawing target of a view: the window's backing store (0xAARRGGBB,
// top row first).
struct MSBitmapContext {
    uint32_t* pixels = nullptr;
    int width = 0, height = 0;
    int stride = 0;  // pixels per row
};

class MSView {
public:
    MSView();
    virtual ~MSView();
    MSView(const MSView&) = delete;
    MSView& operator=(const MSView&) = delete;

    MSWindow* window() const { return window_; }
    MSRect frame() const;
    MSRect bounds() const { MSRect r = frame(); r.origin = MSPoint{}; return r; }
    void setNeedsDisplay(bool flag);
    void setNeedsDisplayInRect(MSRect rect);
    bool needsDisplay() const { return dirty_; }
    MSRect dirtyRect() const { return dirtyRect_; }

    // Drawing: the dirty rectangle in view coordinates (bottom-left origin);
    // MSGraphicsContextCurrent() is the window's backing store meanwhile.
    virtual void drawRect(MSRect dirty);
    virtual bool isOpaque() { return true; }
    virtual bool acceptsFirstMouse(const MSEvent*) { return false; }
    virtual void resetCursorRects() {}
    void discardCursorRects() { cursorRects_.clear(); }
    void addCursorRect(MSRect rect, MSCursor* cursor) { cursorRects_.push_back({rect, cursor}); }
    // The cursor of the first rectangle holding the view point, or null.
    MSCursor* cursorAt(MSPoint p) const;

private:
    friend class MSWindow;
    MSWindow* window_ = nullptr;
    bool dirty_ = false;
    MSRect dirtyRect_;
    struct CursorRect { MSRect rect; MSCursor* cursor; };
    std::vector<CursorRect> cursorRects_;
};

// The current drawing context while a view draws (null otherwise).
MSBitmapContext* MSGraphicsContextCurrent();

struct MSColor { double r = 0, g = 0, b = 0, a = 0; };

// The pop-up menu level and friends; key 11 is the pop-up menu level.
int MSWindowLevelForKey(int key);

class MSWindow {
public:
    // contentRect in screen coordinates (bottom-left origin).  The window
    // starts ordered out; valid() is false when the window system refused.
    MSWindow(MSRect contentRect, unsigned styleMask, bool defer = true);
    virtual ~MSWindow();
    MSWindow(const MSWindow&) = delete;
    MSWindow& operator=(const MSWindow&) = delete;

    bool valid() const { return sdl_ != nullptr; }
    long windowNumber() const { return number_; }
    unsigned styleMask() const { return style_; }

    MSView* contentView() const { return view_; }
    // Takes ownership of the view (the previous one is deleted).
    void setContentView(MSView* view);

    void setTitle(const std::string& title);
    const std::string& title() const { return title_; }

    MSRect frame() const;
    MSRect contentRect() const { return content_; }
    // The frame is the content plus the title bar above it.
    void setFrame(MSRect frame, bool display);
    void center();
    void miniaturize();
    void zoom();
    bool isMiniaturized() const { return miniaturized_; }
    bool isZoomed() const { return zoomed_; }
    void setContentMinSize(MSSize s) { minSize_ = s; applyLimits(); }
    void setContentMaxSize(MSSize s) { maxSize_ = s; applyLimits(); }
    MSSize contentMinSize() const { return minSize_; }
    MSSize contentMaxSize() const { return maxSize_; }

    void makeKeyAndOrderFront();
    void makeKeyWindow();
    void orderFront();
    void orderOut();
    bool isVisible() const { return visible_; }
    bool isKeyWindow() const;

    void setAcceptsMouseMovedEvents(bool on) { acceptsMoved_ = on; }
    bool acceptsMouseMovedEvents() const { return acceptsMoved_; }
    void setLevel(int level) { level_ = level; }
    int level() const { return level_; }
    void setBackgroundColor(MSColor c) { background_ = c; }
    MSColor backgroundColor() const { return background_; }
    void setHasShadow(bool on) { shadow_ = on; }
    void setReleasedWhenClosed(bool on) { releasedWhenClosed_ = on; }
    void setHidesOnDeactivate(bool on) { hidesOnDeactivate_ = on; }
    void setShowsResizeIndicator(bool on) { resizeIndicator_ = on; }
    void setResizeIncrements(MSSize s) { increments_ = s; }
    MSWindow* attachedSheet() const { return sheet_; }
    MSWindow* sheetParent() const { return sheetParent_; }

    // Appends (or, atStart, prepends) an event for this window to the
    // application's queue.  Any thread.
    bool postEvent(const MSEvent& event, bool atStart);
    // Asks the content view for its cursor rectangles again and shows the
    // cursor of the rectangle under the pointer.
    void invalidateCursorRectsForView(MSView* view);
    // Draws the dirty part of the content view into the backing store and
    // shows it.
    void display();
    void displayIfNeeded();
    // The close box: windowShouldClose decides, then the window closes.
    void performClose();
    // Orders the window out for good; the window object stays.
    void close();
    bool isClosed() const { return closed_; }

    // The backing store of the content area (top row first).
    MSBitmapContext* backingStore() { return &backing_; }

    // Responder methods; the base dispatch of sendEvent calls them.
    virtual void sendEvent(const MSEvent& event);
    virtual void mouseDown(const MSEvent&) {}
    virtual void mouseUp(const MSEvent&) {}
    virtual void rightMouseDown(const MSEvent&) {}
    virtual void rightMouseUp(const MSEvent&) {}
    virtual void mouseMoved(const MSEvent&) {}
    virtual void mouseDragged(const MSEvent&) {}
    virtual void rightMouseDragged(const MSEvent&) {}
    virtual void mouseEntered(const MSEvent&) {}
    virtual void mouseExited(const MSEvent&) {}
    virtual void scrollWheel(const MSEvent&) {}
    virtual void keyDown(const MSEvent&) {}
    virtual void keyUp(const MSEvent&) {}
    virtual void becomeKeyWindow() {}
    virtual void resignKeyWindow() {}
    virtual bool canBecomeKeyWindow() { return (style_ & MSWindowStyleTitled) != 0; }
    virtual bool windowShouldClose() { return true; }
    virtual MSSize windowWillResize(MSSize proposed) { return proposed; }

    // The title bar height (frame height minus content height).
    int titleBarHeight() const { return titleBar_; }
    void* sdlWindow() const { return sdl_; }

private:
    friend class MSApplication;
    friend class MSView;
    void applyLimits();
    bool isPopup() const { return style_ == MSWindowStyleBorderless; }
    // Gives a shown titled window the window system's keyboard focus unless
    // another program holds it.
    void takeKeyboard();
    void resizeBacking(int w, int h);
    void placeSdl();
    void contentResized(int w, int h);

    void* sdl_ = nullptr;
    long number_ = 0;
    unsigned style_ = 0;
    std::string title_;
    MSRect content_;
    int titleBar_ = 0;
    MSView* view_ = nullptr;
    MSBitmapContext backing_;
    std::vector<uint32_t> pixels_;
    MSSize minSize_, maxSize_;
    MSSize increments_{1, 1};
    MSColor background_;
    int level_ = 0;
    bool visible_ = false, closed_ = false, miniaturized_ = false, zoomed_ = false;
    bool acceptsMoved_ = false, shadow_ = false, releasedWhenClosed_ = true;
    bool hidesOnDeactivate_ = false, resizeIndicator_ = false;
    MSRect unzoomed_;
    MSWindow* sheet_ = nullptr;
    MSWindow* sheetParent_ = nullptr;
};

class MSApplication {
public:
    // The shared application, null until one was made.
    static MSApplication* shared();
    // Makes `app` the shared application (the first one wins; the answer is
    // the shared one).  Sets up the window system; the application lives for
    // the process.
    static MSApplication* install(MSApplication* app);

    MSApplication();
    virtual ~MSApplication();
    MSApplication(const MSApplication&) = delete;
    MSApplication& operator=(const MSApplication&) = delete;

    bool isActive() const { return active_; }
    void activateIgnoringOtherApps(bool flag);

    // The next event; untilDate is a timeout in seconds (infinity waits
    // without limit).  False when none came in time.  Window-system happenings
    // (close box, focus, size, exposure) arrive as AppKit-defined events that
    // the window's sendEvent handles; views that need display are drawn
    // before the loop waits.  The mask is not applied: every caller asks for
    // any event.
    bool nextEvent(uint64_t mask, double untilDate, MSEvent& out, bool dequeue = true);
    // Dispatches an event to its window; a quit request goes to
    // terminateRequested.
    virtual void sendEvent(const MSEvent& event);
    // The user, a signal (SIGINT, SIGTERM, which SDL's handlers catch while
    // they are not ignored) or the session asks the application to quit.
    virtual void terminateRequested() {}
    // Any thread.  False when the event could not be queued.
    bool postEvent(const MSEvent& event, bool atStart);

    MSWindow* keyWindow() const;
    MSWindow* windowWithNumber(long number) const;
    void beginSheet(MSWindow* sheet, MSWindow* parent);
    void endSheet(MSWindow* sheet);

    static double distantFuture();

private:
    bool active_ = false;
};

// The main screen's frame and the part not taken by panels; false when the
// system has no screen.
bool MSScreenMainFrame(MSRect& frame);
bool MSScreenMainVisibleFrame(MSRect& frame);

// One of our windows that the window system knows (its SDL window): the key
// window, else any; null when there is none.  The desktop's clipboard is
// reached through its connection.
void* MSAnySystemWindow();

// The autorelease pool made at start-up; nothing to drain in C++.
class MSAutoreleasePool {};

// Power assertions keeping the display awake.  0 on success.
int MSPowerAssertionCreateWithName(const char* type, int level, const char* name, uint32_t* id);
int MSPowerAssertionRelease(uint32_t id);

// ---------------------------------------------------------------------------
// Test hooks

namespace mstest {
// Runs `fn` each time the event loop would block (null removes it); when the
// hook leaves the queue empty, nextEvent answers false at once instead of
// waiting, so that loops test their end conditions again.
void setIdleHook(std::function<void()> fn);
// Pointer press/release/move at a point of the window's content (top-left
// origin).  button 1 left, 2 right; mods are SDL key modifiers (KMOD_*).
void injectMouseButton(MSWindow* w, int button, bool down, int x, int y, unsigned mods = 0);
void injectMouseMove(MSWindow* w, int x, int y, unsigned buttons = 0, unsigned mods = 0);
void injectWheel(MSWindow* w, int dx, int dy, unsigned mods = 0);
// A key by its SDL scancode; text, when given, follows as typed characters.
void injectKey(MSWindow* w, int scancode, bool down, unsigned mods = 0, const char* text = nullptr);
// A press (or release) in another application at a screen point (bottom-left
// origin): the global monitors see it and the application loses activation.
void injectForeignClick(int type, double sx, double sy);
// The close box of the window.
void injectCloseRequest(MSWindow* w);
// A request to quit, as SIGTERM or SIGINT makes one.
void injectQuitRequest();
// Moves the pointer (screen coordinates, bottom-left origin).
void setPointer(double sx, double sy);
// Events posted through postEvent and not yet taken by the loop.
int pendingPosted();
// Live power assertions, and whether the screen saver is held off.
int powerAssertions();
bool screenSaverInhibited();
}  // namespace mstest
