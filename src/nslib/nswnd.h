// The flat entry points through which the native window object drives the
// desktop: the application and its event loop, nested modal loops, windows
// and popups, pointer capture for popups, coordinate conversion, the
// cross-thread wake-up and the display-sleep blocker.  Handles are
// cNSWndWrapper objects passed as opaque pointers.  Everything but
// nswnd_notify_action belongs to the UI thread.
#pragma once

#include "nslib/nsrecords.h"

class cNSWndWrapper;
struct MSEvent;

void nswnd_init();
cNSWndWrapper* captured();
void nswnd_msgloop();
bool nswnd_desktop_size(int& w, int& h);
bool nswnd_main_optimal(int& x, int& y, int& w, int& h);
void* nswnd_create_wnd(tNSEventCallback callback, void* param, const char* caption, int w, int h, bool resizable,
                       int x, int y);
void* nswnd_create_popup(tNSEventCallback callback, void* param, int x, int y, int w, int h);
void nswnd_destroy(void* handle);
void nswnd_cancel_capture(void* handle);
bool nswnd_capture_mouse(void* handle);
int nswnd_modal(void* handle, void* parent);
void nswnd_modal_result(void* handle, int result);
bool nswnd_show_floating(void* handle);
bool nswnd_notify_action(void* handle);
bool nswnd_minimize(void* handle);
bool nswnd_maximize(void* handle);
bool nswnd_focus(void* handle);
bool nswnd_set_caption(void* handle, const char* utf8);
bool nswnd_move(void* handle, int x, int y, int w, int h);
bool nswnd_setpointer(void* handle, int type);
bool nswnd_setminsize(void* handle, int w, int h);
bool nswnd_setmaxsize(void* handle, int w, int h);
bool nswnd_getpossize(void* handle, int& x, int& y, int& w, int& h);
bool nswnd_client_area(void* handle, int& w, int& h);
void* nswnd_cgctx(void* handle);
bool nswnd_invalidate_view(void* handle, int x, int y, int w, int h);
bool nswg_block_sleep(const char* reason);
bool nswg_unblock_sleep();
void processGlobalMouseEvent(const MSEvent& event);
// A request to quit (SIGINT, SIGTERM): the main loop returns, and every
// modal loop, innermost first, offers its window the request (the
// toolkit's windows cancel their forms) and ends when the window agrees.
// Loops started later are offered it at once.  Never withdrawn.
void nswnd_request_quit();
// How many requests to quit arrived so far.
int nswnd_quit_requests();
