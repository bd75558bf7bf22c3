// Per-thread message queues, message loops, timers and registered messages of
// the headless window stand-in.
//
// Every thread that creates a window or asks for messages gets a queue. It
// holds posted messages (at most kPostedMessageLimit; PostMessage fails when
// full, as on Windows), messages sent from other threads, the quit request and
// the thread's timers. GetMessage and PeekMessage take, in this order: sent
// messages (their procedures run inside the call and the result goes back to
// the waiting sender), posted messages in posting order, WM_QUIT, then due
// timers (earliest first; a late timer fires once, not once per period).
// Loops nest: a procedure may run its own GetMessage loop.
//
// Left out on purpose: input and paint messages, hooks, SendMessageTimeout,
// message filters other than one window or all (WM_QUIT ignores the filter),
// broadcast handles, and TranslateMessage's work (there is no keyboard).
//
// Thread safety: all functions may be called from any thread. Timers and
// messages run on the thread that owns the window (or, for thread messages
// and windowless timers, on the thread named).
#pragma once

#include "ui/UiTypes.h"

inline constexpr size_t kPostedMessageLimit = 10000;
inline constexpr DWORD ERROR_NOT_ENOUGH_QUOTA = 1816;
inline constexpr DWORD ERROR_INVALID_THREAD_ID = 1444;
inline constexpr UINT USER_TIMER_MINIMUM = 10;

// Queues the message for the window's thread (hWnd null: the calling thread,
// as a thread message). FALSE with ERROR_INVALID_WINDOW_HANDLE for no window,
// ERROR_NOT_ENOUGH_QUOTA when the queue is full.
BOOL PostMessage(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
// FALSE with ERROR_INVALID_THREAD_ID when the thread has no queue.
BOOL PostThreadMessage(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam);

// Calls the window's procedure on the window's thread and returns its result.
// From another thread the caller waits until that thread takes the message in
// GetMessage or PeekMessage; while it waits it handles messages sent to it, so
// that two threads sending to each other do not deadlock. 0 for no window, or
// when the window's thread ends first.
LRESULT SendMessage(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);

// Waits for the next message of the calling thread (hWnd null: any, else only
// that window's). Returns 0 for WM_QUIT, -1 when hWnd is not a window of this
// thread, otherwise nonzero.
BOOL GetMessage(MSG* lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax);
// As GetMessage without waiting: FALSE when nothing is there. PM_REMOVE takes
// the message, PM_NOREMOVE leaves it.
BOOL PeekMessage(MSG* lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg);
// No keyboard: nothing to translate, FALSE.
BOOL TranslateMessage(const MSG* lpMsg);
// Calls the procedure of the message's window (a WM_TIMER with a timer
// procedure in lParam calls that). 0 for thread messages and windows that are
// gone.
LRESULT DispatchMessage(const MSG* lpMsg);
// Asks the calling thread's loop to end: GetMessage gives WM_QUIT with the
// exit code in wParam once the posted messages before it are taken.
void PostQuitMessage(int nExitCode);

// Starts or restarts the timer (hWnd, nIDEvent): WM_TIMER with wParam =
// nIDEvent every uElapse ms (at least USER_TIMER_MINIMUM) on the window's
// thread. hWnd null: a new timer of the calling thread whose id is returned.
// Returns the timer id (1 for id 0), or 0 with the last error set.
UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc);
BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent);

// The same name (compared without case) gives the same number, in
// 0xC000..0xFFFF. 0 when the name is empty or the range is used up.
UINT RegisterWindowMessage(LPCSTR lpString);
