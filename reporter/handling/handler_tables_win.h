// The three handler tables (exception, action and handled-exception handlers), firing
// them with their sync modes and phases, reaching the main thread through the reporter's
// message window, and pausing the other threads of the process.
//
// Nothing in this module registers handlers; code linked into the same module (and the
// tests) uses the registration routines below.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <utility>
#include <vector>

#include "report_interfaces_win.h"
#include "sync_win.h"

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

// The three handler tables, the reporter's hidden message window that reaches the main
// thread, and the pause machinery, owned by one object. The handling start-up makes the
// running reporter's object (Running().handlerTables); a test may make its own.
// Destroying it resumes paused threads, destroys its window and empties its tables.
class HandlerTables {
 public:
  HandlerTables();
  ~HandlerTables();
  HandlerTables(const HandlerTables&) = delete;
  HandlerTables& operator=(const HandlerTables&) = delete;

  // `kind` is a HandlerEventKind; `code` a procedure or method code (`self` for methods).
  // A second registration of the same entry for the same phase only changes its sync
  // mode; removing takes the first matching entry.
  void Add(int32_t kind, HandlerSyncMode mode, uint8_t phase, void* code, void* self,
           bool isMethod);
  void Remove(int32_t kind, void* code, void* self, bool isMethod);
  void Clear();
  bool Empty(int32_t kind);
  bool Phase4HandlerExists();

  // Calls the entries of the event kind's table that fit the call; true when any was
  // called.
  bool CallList(TFireHandlersParams& params);
  // Fires the handlers of an event, reaching the main thread for those that want it.
  void Notify(HWND parent, int32_t eventKind, int32_t action, bool& handled,
              IKVException* exception);
  bool MainThreadRunningHandlers() const { return mainRunningHandlers_; }

  // The hidden message window, made on the calling thread.
  bool MakeWindow();
  void RemoveWindow();
  HWND Window() const { return window_; }
  DWORD WindowThreadId() const { return windowThread_; }
  // A second registered message handled by the window (the watchdog's ping); `context`
  // is passed to the handler.
  void SetPingHandler(UINT message, LRESULT (*handler)(void*, WPARAM, LPARAM), void* context);

  // Pauses (or resumes) the other threads of the process that retrieve messages, sparing
  // `sparedThread`; the main thread pauses on its own event.
  void PauseOthers(bool pause, DWORD sparedThread);
  // Resumes and releases everything of the pause machinery.
  void ShutdownPause();
  // Where a thread asked to pause waits (the message hook's call).
  void PausePoint();
  // Lets a main thread that the pause holds run (`lend` true: returns whether it was
  // held) and holds it again (`lend` false, after a true answer).
  bool LendMainThread(bool lend);
  // Whether the main thread is asked to pause at its next message.
  bool MainPaused() const { return mainPaused_; }

 private:
  struct Entry {
    HandlerSyncMode mode;
    uint8_t phase;
    void* code;
    void* self;
    bool isMethod;
  };
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  bool WantsMainThread(int32_t kind, uint8_t phase);
  bool ReachMainThread(TFireHandlersParams& params);
  void HookThreadForPause(DWORD threadId);

  CriticalSection tablesLock_;
  std::vector<Entry> tables_[3];
  std::atomic<bool> mainRunningHandlers_{false};

  HWND window_ = nullptr;
  DWORD windowThread_ = 0;
  UINT handlerMessage_ = 0;
  UINT pingMessage_ = 0;
  LRESULT (*pingHandler_)(void*, WPARAM, LPARAM) = nullptr;
  void* pingContext_ = nullptr;

  // Pause state: created on the first pause, kept until ShutdownPause.
  CriticalSection pauseLock_;
  HANDLE mainPauseEvent_ = nullptr;
  HANDLE othersPauseEvent_ = nullptr;
  std::vector<DWORD> pausedThreads_;
  std::vector<std::pair<DWORD, HHOOK>> pauseHooks_;
  std::atomic<bool> mainPaused_{false};
};

// The routines below stand for the running reporter's object (Running().handlerTables);
// without one, registration and firing do nothing.

// Registration (see HandlerTables::Add).
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

// The running reporter's hidden message window, made on the thread that runs start-up.
bool CreateReporterWindow();
void DestroyReporterWindow();
HWND ReporterWindow();
DWORD ReporterWindowThreadId();

// Pauses (or resumes) the other threads of the process that retrieve messages, sparing
// `sparedThread`; the main thread pauses on its own event.
void PauseOtherThreads(bool pause, DWORD sparedThread);
// Resumes and releases everything of the pause machinery (shut-down).
void ShutdownPause();
// HandlerTables::LendMainThread of the running reporter; false without one.
bool LendMainThread(bool lend);

}  // namespace qx
