#include "handler_tables_win.h"

#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "com_ptr_win.h"
#include "handling_links_win.h"
#include "sync_win.h"

namespace qx {

namespace {

constexpr LRESULT kAnswer = 777;
constexpr UINT kProbeTimeoutMs = 1500;

struct HandlerEntry {
  HandlerSyncMode mode;
  uint8_t phase;
  void* code;
  void* self;
  bool isMethod;
};

CriticalSection& TablesLock() {
  static CriticalSection lock;
  return lock;
}
std::vector<HandlerEntry> gTables[3];

thread_local const TFireHandlersParams* tCurrentCall = nullptr;
std::atomic<bool> gMainRunningHandlers{false};

HWND gWindow = nullptr;
DWORD gWindowThread = 0;
UINT gHandlerMessage = 0;
UINT gPingMessage = 0;
LRESULT (*gPingHandler)(WPARAM, LPARAM) = nullptr;
constexpr char kWindowClass[] = "qelExceptMsgWindow";

// Pause state: created on the first pause, kept until shut-down.
CriticalSection& PauseLock() {
  static CriticalSection lock;
  return lock;
}
HANDLE gMainPauseEvent = nullptr;
HANDLE gOthersPauseEvent = nullptr;
std::vector<DWORD> gPausedThreads;
std::vector<std::pair<DWORD, HHOOK>> gPauseHooks;
std::atomic<bool> gMainPaused{false};

std::vector<HandlerEntry>* TableOf(int32_t kind) {
  return kind >= 0 && kind <= 2 ? &gTables[kind] : nullptr;
}

void AddEntry(int32_t kind, const HandlerEntry& entry) {
  if (entry.code == nullptr) return;
  CriticalSectionGuard guard(TablesLock());
  auto& table = gTables[kind];
  for (auto& item : table) {
    if (item.code == entry.code && item.self == entry.self && item.isMethod == entry.isMethod &&
        item.phase == entry.phase) {
      item = entry;
      return;
    }
  }
  table.push_back(entry);
}

void RemoveEntry(int32_t kind, void* code, void* self, bool isMethod) {
  CriticalSectionGuard guard(TablesLock());
  auto& table = gTables[kind];
  for (auto it = table.begin(); it != table.end(); ++it) {
    if (it->code == code && it->self == self && it->isMethod == isMethod) {
      table.erase(it);
      return;
    }
  }
}

// Exception handlers count only for the phase being fired, so that a main thread that
// does not answer is probed once, not once per phase.
bool TableWantsMainThread(int32_t kind, uint8_t phase) {
  CriticalSectionGuard guard(TablesLock());
  for (const auto& entry : gTables[kind])
    if (entry.mode != kSyncAnyThread && (kind != kEventException || entry.phase == phase))
      return true;
  return false;
}

bool TableEmpty(int32_t kind) {
  CriticalSectionGuard guard(TablesLock());
  return gTables[kind].empty();
}

bool Fits(const HandlerEntry& entry, const TFireHandlersParams& params) {
  if (params.synchronisationFailed) return entry.mode == kSyncMainOrHandlerThread;
  if (params.callSynchronised) return entry.mode != kSyncAnyThread;
  return entry.mode == kSyncAnyThread;
}

void CallEntry(const HandlerEntry& entry, TFireHandlersParams& params) {
  bool handled = params.handled;
  try {
    if (params.eventKind == kEventAction) {
      if (entry.isMethod)
        reinterpret_cast<ActionHandlerMethod>(entry.code)(entry.self, params.action,
                                                          params.exception, handled);
      else
        reinterpret_cast<ActionHandlerProc>(entry.code)(params.action, params.exception, handled);
    } else {
      if (entry.isMethod)
        reinterpret_cast<ExceptionHandlerMethod>(entry.code)(entry.self, params.exception, handled);
      else
        reinterpret_cast<ExceptionHandlerProc>(entry.code)(params.exception, handled);
    }
  } catch (...) {
    return;  // a handler that raises is skipped
  }
  params.handled = handled;
}

// The pause point: a thread asked to pause waits here when it retrieves a message.
void PausePoint() {
  DWORD error = GetLastError();
  DWORD self = GetCurrentThreadId();
  HANDLE event = nullptr;
  {
    CriticalSectionGuard guard(PauseLock());
    if (self == ProcessMainThreadId())
      event = gMainPauseEvent;
    else if (std::find(gPausedThreads.begin(), gPausedThreads.end(), self) != gPausedThreads.end())
      event = gOthersPauseEvent;
  }
  if (event != nullptr) WaitForSingleObject(event, INFINITE);
  SetLastError(error);
}

LRESULT CALLBACK PauseHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code >= 0) PausePoint();
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Whether the thread was started by code of a module that carries the reporter's
// debug-information resource.
bool StartedByReporterCode(DWORD threadId) {
  if (Links().threadCreatorAddress == nullptr) return false;
  uint32_t creator = Links().threadCreatorAddress(threadId);
  HMODULE module = nullptr;
  if (creator == 0 ||
      !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(creator), &module))
    return false;
  return FindResourceA(module, "EXCEPT", "QEL") != nullptr;
}

void HookThreadForPause(DWORD threadId) {
  for (const auto& [id, hook] : gPauseHooks)
    if (id == threadId) return;
  HHOOK hook = SetWindowsHookExA(WH_GETMESSAGE, PauseHook, nullptr, threadId);
  if (hook != nullptr) gPauseHooks.emplace_back(threadId, hook);
}

LRESULT CALLBACK ReporterWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == gHandlerMessage && gHandlerMessage != 0) {
    // The first parameter 1 is a probe (or a wake-up for a pause point).
    if (wParam == 0 && lParam != 0)
      CallHandlerList(*reinterpret_cast<TFireHandlersParams*>(lParam));
    return kAnswer;
  }
  if (message == gPingMessage && gPingMessage != 0 && gPingHandler != nullptr)
    return gPingHandler(wParam, lParam);
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

void RegisterExceptionHandler(ExceptionHandlerProc handler, HandlerSyncMode mode, uint8_t phase) {
  AddEntry(kEventException, {mode, phase, reinterpret_cast<void*>(handler), nullptr, false});
}
void RegisterExceptionHandler(ExceptionHandlerMethod handler, void* self, HandlerSyncMode mode,
                              uint8_t phase) {
  AddEntry(kEventException, {mode, phase, reinterpret_cast<void*>(handler), self, true});
}
void UnregisterExceptionHandler(ExceptionHandlerProc handler) {
  RemoveEntry(kEventException, reinterpret_cast<void*>(handler), nullptr, false);
}
void UnregisterExceptionHandler(ExceptionHandlerMethod handler, void* self) {
  RemoveEntry(kEventException, reinterpret_cast<void*>(handler), self, true);
}
void RegisterActionHandler(ActionHandlerProc handler, HandlerSyncMode mode) {
  AddEntry(kEventAction, {mode, 0, reinterpret_cast<void*>(handler), nullptr, false});
}
void RegisterActionHandler(ActionHandlerMethod handler, void* self, HandlerSyncMode mode) {
  AddEntry(kEventAction, {mode, 0, reinterpret_cast<void*>(handler), self, true});
}
void UnregisterActionHandler(ActionHandlerProc handler) {
  RemoveEntry(kEventAction, reinterpret_cast<void*>(handler), nullptr, false);
}
void UnregisterActionHandler(ActionHandlerMethod handler, void* self) {
  RemoveEntry(kEventAction, reinterpret_cast<void*>(handler), self, true);
}
void RegisterHandledExceptionHandler(ExceptionHandlerProc handler, HandlerSyncMode mode) {
  AddEntry(kEventHandledException, {mode, 0, reinterpret_cast<void*>(handler), nullptr, false});
}
void RegisterHandledExceptionHandler(ExceptionHandlerMethod handler, void* self,
                                     HandlerSyncMode mode) {
  AddEntry(kEventHandledException, {mode, 0, reinterpret_cast<void*>(handler), self, true});
}
void UnregisterHandledExceptionHandler(ExceptionHandlerProc handler) {
  RemoveEntry(kEventHandledException, reinterpret_cast<void*>(handler), nullptr, false);
}
void UnregisterHandledExceptionHandler(ExceptionHandlerMethod handler, void* self) {
  RemoveEntry(kEventHandledException, reinterpret_cast<void*>(handler), self, true);
}

void ClearHandlerTables() {
  CriticalSectionGuard guard(TablesLock());
  for (auto& table : gTables) table.clear();
}

bool HandledExceptionHandlersExist() { return !TableEmpty(kEventHandledException); }

bool Phase4HandlerExists() {
  CriticalSectionGuard guard(TablesLock());
  for (const auto& entry : gTables[kEventException])
    if (entry.phase == 4) return true;
  return false;
}

bool CallHandlerList(TFireHandlersParams& params) {
  auto* table = TableOf(params.eventKind);
  if (table == nullptr) return false;
  bool onMain = GetCurrentThreadId() == ProcessMainThreadId();
  bool wasRunning = onMain && gMainRunningHandlers.exchange(true);
  const TFireHandlersParams* outer = tCurrentCall;
  tCurrentCall = &params;
  std::vector<HandlerEntry> copy;
  {
    CriticalSectionGuard guard(TablesLock());
    copy = *table;
  }
  uint8_t phase = 0;
  if (params.eventKind == kEventException && params.exception != nullptr)
    phase = params.exception->Phase();
  bool called = false;
  bool stop = false;
  // Object methods come before plain procedures.
  for (int pass = 0; pass < 2 && !stop; ++pass) {
    for (const HandlerEntry& entry : copy) {
      if (entry.isMethod != (pass == 0) || !Fits(entry, params)) continue;
      if (params.eventKind == kEventException && entry.phase != phase) continue;
      CallEntry(entry, params);
      called = true;
      bool callAll = params.eventKind == kEventHandledException ||
                     (params.eventKind == kEventException && phase > 2);
      if (params.handled && !callAll) {
        stop = true;
        break;
      }
    }
  }
  tCurrentCall = outer;
  if (onMain && !wasRunning) gMainRunningHandlers = false;
  return called;
}

void NotifyHandlers(HWND parent, int32_t eventKind, int32_t action, bool& handled,
                    IKVException* exception) {
  if (exception == nullptr || TableOf(eventKind) == nullptr) return;
  try {
    if (eventKind == kEventAction && (action == kActionRestart || action == kActionClose)) {
      ComPtr<IKVExceptionEx> ex = ComPtr<IKVException>(exception).As<IKVExceptionEx>(IID_IKVExceptionEx);
      if ((ex && ex->CriticalCallbackExists()) || (Phase4HandlerExists() && exception->CallHandlers()))
        exception->GetReportText(true);
    }
    if (!exception->CallHandlers() || TableEmpty(eventKind)) return;
    TFireHandlersParams params;
    params.eventKind = eventKind;
    params.action = action;
    params.exception = exception;
    params.handled = handled;
    bool called = CallHandlerList(params);
    if ((!params.handled || !called) && gWindow != nullptr &&
        TableWantsMainThread(eventKind, exception->Phase())) {
      bool reached = false;
      if (exception->ExceptionType() != 1) {
        bool resumed = gMainPaused.exchange(false);
        if (resumed && gMainPauseEvent != nullptr) SetEvent(gMainPauseEvent);
        DWORD_PTR answer = 0;
        if (SendMessageTimeoutA(gWindow, gHandlerMessage, 1, 0, SMTO_NORMAL, kProbeTimeoutMs,
                                &answer) != 0 &&
            answer == kAnswer) {
          params.callSynchronised = true;
          answer = 0;
          reached = SendMessageTimeoutA(gWindow, gHandlerMessage, 0,
                                        reinterpret_cast<LPARAM>(&params), SMTO_NORMAL,
                                        0x7FFFFFFF, &answer) != 0 &&
                    answer == kAnswer;
        }
        if (resumed && gMainPauseEvent != nullptr) {
          ResetEvent(gMainPauseEvent);
          gMainPaused = true;
        }
      }
      if (!reached) {
        params.callSynchronised = false;
        params.synchronisationFailed = true;
        CallHandlerList(params);
      }
    }
    handled = params.handled;
    // The send, save and print assistants belong to the user interface, which opens them
    // over `parent` when it exists.
    (void)parent;
  } catch (...) {
  }
}

const TFireHandlersParams* CurrentHandlerCall() { return tCurrentCall; }
bool MainThreadRunningHandlers() { return gMainRunningHandlers; }

DWORD ProcessMainThreadId() {
  static DWORD mainThread = [] {
    DWORD found = 0;
    ULONGLONG earliest = ~0ull;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot != INVALID_HANDLE_VALUE) {
      THREADENTRY32 entry{};
      entry.dwSize = sizeof entry;
      for (BOOL more = Thread32First(snapshot, &entry); more;
           more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != GetCurrentProcessId()) continue;
        if (found == 0) found = entry.th32ThreadID;
        HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID);
        if (thread == nullptr) continue;
        FILETIME created, exited, kernel, user;
        if (GetThreadTimes(thread, &created, &exited, &kernel, &user)) {
          ULONGLONG at = (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
          if (at != 0 && at < earliest) {
            earliest = at;
            found = entry.th32ThreadID;
          }
        }
        CloseHandle(thread);
      }
      CloseHandle(snapshot);
    }
    return found != 0 ? found : GetCurrentThreadId();
  }();
  return mainThread;
}

bool CreateReporterWindow() {
  if (gWindow != nullptr) return true;
  gHandlerMessage = RegisterWindowMessageA("qelExceptHandlerMsg");
  HINSTANCE instance = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&ReporterWindowProc), &instance);
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = ReporterWindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kWindowClass;
  RegisterClassA(&windowClass);  // fails harmlessly when this module registered it before
  // A message-only window: it gets no broadcasts, so a thread that never retrieves
  // messages cannot hold up other programs.
  gWindow = CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance,
                            nullptr);
  gWindowThread = gWindow != nullptr ? GetCurrentThreadId() : 0;
  return gWindow != nullptr;
}

void DestroyReporterWindow() {
  if (gWindow == nullptr) return;
  HWND window = gWindow;
  gWindow = nullptr;
  if (!DestroyWindow(window)) {
    // Another thread owns it: make sure no message reaches this module's code once it
    // is unloaded.
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcA));
    PostMessageA(window, WM_CLOSE, 0, 0);
  } else {
    HINSTANCE instance = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ReporterWindowProc), &instance);
    UnregisterClassA(kWindowClass, instance);
  }
  gWindowThread = 0;
}

HWND ReporterWindow() { return gWindow; }
DWORD ReporterWindowThreadId() { return gWindowThread; }

void SetPingHandler(UINT message, LRESULT (*handler)(WPARAM, LPARAM)) {
  gPingHandler = handler;
  gPingMessage = handler != nullptr ? message : 0;
}

void PauseOtherThreads(bool pause, DWORD sparedThread) {
  CriticalSectionGuard guard(PauseLock());
  if (gMainPauseEvent == nullptr) {
    gMainPauseEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    gOthersPauseEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    if (gMainPauseEvent == nullptr || gOthersPauseEvent == nullptr) return;
  }
  if (!pause) {
    SetEvent(gMainPauseEvent);
    SetEvent(gOthersPauseEvent);
    gMainPaused = false;
    gPausedThreads.clear();
    if (gWindow != nullptr) PostMessageA(gWindow, gHandlerMessage, 1, 0);
    return;
  }
  DWORD self = GetCurrentThreadId();
  DWORD mainThread = ProcessMainThreadId();
  ResetEvent(gOthersPauseEvent);
  // A main thread that faulted waits for its own record and must not pause itself.
  if (mainThread != sparedThread && mainThread != self) {
    ResetEvent(gMainPauseEvent);
    gMainPaused = true;
    HookThreadForPause(mainThread);
  }
  gPausedThreads.clear();
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot != INVALID_HANDLE_VALUE) {
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
      DWORD id = entry.th32ThreadID;
      if (entry.th32OwnerProcessID != GetCurrentProcessId() || id == self || id == mainThread ||
          id == sparedThread || !StartedByReporterCode(id))
        continue;
      gPausedThreads.push_back(id);
      HookThreadForPause(id);
    }
    CloseHandle(snapshot);
  }
  if (gWindow != nullptr) PostMessageA(gWindow, gHandlerMessage, 1, 0);
}

void ShutdownPause() {
  CriticalSectionGuard guard(PauseLock());
  for (const auto& [id, hook] : gPauseHooks) UnhookWindowsHookEx(hook);
  gPauseHooks.clear();
  gPausedThreads.clear();
  gMainPaused = false;
  for (HANDLE* event : {&gMainPauseEvent, &gOthersPauseEvent}) {
    if (*event == nullptr) continue;
    SetEvent(*event);
    CloseHandle(*event);
    *event = nullptr;
  }
}

}  // namespace qx
