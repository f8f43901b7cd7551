// The three handler tables (exception, action and handled-exception handlers), firing
// them with their sync modes and phases, reaching the main thread through the reporter's
// message window, and pausing the other threads of the process.
//
// Nothing in this module registers handlers; code linked into the same module (and the
// tests) uses the registration routines below.
#pragma once

#include <windows.h>

#include <cstdint>

#include "report_interfaces_win.h"

namespace qx {

enum HandlerEventKind : int32_t {
  kEventException = 0,  // an exception phase
  kEventAction = 1,
  kEventHandledException = 2,
};

enum HandlerSyncMode : uint8_t {
  kSyncAnyThread = 0,
  kSyncMainThread = 1,
  kSyncMainOrHandlerThread = 2,  // the handler thread when the main thread cannot be reached
};

// Exception and handled-exception handlers.
using ExceptionHandlerProc = void(__stdcall*)(IKVException* exception, bool& handled);
using ExceptionHandlerMethod = void(__stdcall*)(void* self, IKVException* exception,
                                                bool& handled);
// Action handlers.
using ActionHandlerProc = void(__stdcall*)(int32_t action, IKVException* exception,
                                           bool& handled);
using ActionHandlerMethod = void(__stdcall*)(void* self, int32_t action, IKVException* exception,
                                             bool& handled);

struct TFireHandlersParams {
  int32_t eventKind = kEventException;
  int32_t action = 0;
  IKVException* exception = nullptr;
  bool handled = false;
  bool callSynchronised = false;
  bool synchronisationFailed = false;
};

// Registration; a second registration of the same procedure (or method code and object)
// for the same phase only changes its sync mode. Unregistering removes the first matching
// entry.
void RegisterExceptionHandler(ExceptionHandlerProc handler, HandlerSyncMode mode, uint8_t phase);
void RegisterExceptionHandler(ExceptionHandlerMethod handler, void* self, HandlerSyncMode mode,
                              uint8_t phase);
void UnregisterExceptionHandler(ExceptionHandlerProc handler);
void UnregisterExceptionHandler(ExceptionHandlerMethod handler, void* self);
void RegisterActionHandler(ActionHandlerProc handler, HandlerSyncMode mode);
void RegisterActionHandler(ActionHandlerMethod handler, void* self, HandlerSyncMode mode);
void UnregisterActionHandler(ActionHandlerProc handler);
void UnregisterActionHandler(ActionHandlerMethod handler, void* self);
void RegisterHandledExceptionHandler(ExceptionHandlerProc handler, HandlerSyncMode mode);
void RegisterHandledExceptionHandler(ExceptionHandlerMethod handler, void* self,
                                     HandlerSyncMode mode);
void UnregisterHandledExceptionHandler(ExceptionHandlerProc handler);
void UnregisterHandledExceptionHandler(ExceptionHandlerMethod handler, void* self);
// Empties all three tables.
void ClearHandlerTables();
bool HandledExceptionHandlersExist();
bool Phase4HandlerExists();

// Calls the entries of the event kind's table that fit the call; true when any was called.
bool CallHandlerList(TFireHandlersParams& params);
// Fires the handlers of an event, reaching the main thread for those that want it.
void NotifyHandlers(HWND parent, int32_t eventKind, int32_t action, bool& handled,
                    IKVException* exception);
// The call a handler is running in (null outside handler calls), for handlers that want
// to know whether they were synchronised.
const TFireHandlersParams* CurrentHandlerCall();
// True while the main thread runs handlers.
bool MainThreadRunningHandlers();

// The process's main thread: its first thread.
DWORD ProcessMainThreadId();

// The reporter's hidden message window, made on the thread that runs start-up.
bool CreateReporterWindow();
void DestroyReporterWindow();
HWND ReporterWindow();
DWORD ReporterWindowThreadId();
// A second registered message handled by the window (the watchdog's ping).
void SetPingHandler(UINT message, LRESULT (*handler)(WPARAM, LPARAM));

// Pauses (or resumes) the other threads of the process that retrieve messages, sparing
// `sparedThread`; the main thread pauses on its own event.
void PauseOtherThreads(bool pause, DWORD sparedThread);
// Resumes and releases everything of the pause machinery (shut-down).
void ShutdownPause();

}  // namespace qx
