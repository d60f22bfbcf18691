// The numbered events the native window classes hand to a window's callback,
// and their records.  Coordinates are points in the content view with the
// origin at its top-left corner; booleans are one byte each.
#pragma once

#include <cstdint>

// (code, record or null, parameter) -> answer; only the close request's
// answer matters: non-zero refuses.
typedef int (*tNSEventCallback)(int code, void* record, void* param);

enum eNSEventCode {
    kNSEvClose = 0,
    kNSEvMouseButton = 1,
    kNSEvMouseMove = 2,
    kNSEvWheel = 3,
    kNSEvEnter = 4,
    kNSEvLeave = 5,
    kNSEvKey = 6,
    kNSEvChar = 7,
    kNSEvPaint = 8,
    kNSEvSize = 9,
    kNSEvWakeUp = 10,
    kNSEvBecameKey = 11,
    kNSEvResignedKey = 12,
    // The application is asked to quit (SIGINT, SIGTERM): the window's
    // modal loop may end; a non-zero answer keeps it running.
    kNSEvQuit = 13,
};

struct sNSMouseButtonRec {
    int32_t down;    // 1 pressed, 0 released
    int32_t button;  // 1 left, 2 right
    int32_t x, y;
    bool shift, command, control, option;
};

struct sNSMouseMoveRec {
    int32_t x, y;
    bool left, right;
    bool shift, command, control, option;
};

struct sNSWheelRec {
    int32_t x, y, dx, dy, dz;
    bool shift, command, control, option;
};

struct sNSKeyRec {
    int32_t key;  // the native virtual key code
    bool down;
    bool shift, command, control, option;
};

struct sNSCharRec {
    uint16_t ch;  // one UTF-16 unit
    bool shift, option;
};

struct sNSPaintRec {
    void* context;
    int32_t x, y, w, h;
};

struct sNSSizeRec {
    int32_t w, h;
};

// The modal result of a window whose modal loop still runs.
constexpr int32_t kNSModalRunning = int32_t(0x80000001u);
// The subtype of the application-defined wake-up event.
constexpr short kNSWakeUpSubtype = 0x6161;
