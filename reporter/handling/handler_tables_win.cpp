#include "handler_tables_win.h"

#include <tlhelp32.h>

#include <algorithm>

#include "assistant_runs_win.h"
#include "com_ptr_win.h"
#include "process_registries.h"
#include "wait_bound_win.h"

namespace qx {

namespace {

constexpr LRESULT kAnswer = 777;
constexpr UINT kProbeTimeoutMs = 1500;
constexpr char kWindowClass[] = "qelExceptMsgWindow";

// The call a handler runs in belongs to its thread, whichever object fires it. A native
// slot, taken when the first tables are made: mingw's thread_local takes its storage from
// the C heap on a thread's first use, and after heap corruption that use faults again
// inside the reporter.
DWORD CurrentCallSlot() {
  static const DWORD slot = TlsAlloc();
  return slot;
}

const TFireHandlersParams* CurrentCall() {
  const DWORD slot = CurrentCallSlot();
  return slot == TLS_OUT_OF_INDEXES ? nullptr
                                    : static_cast<const TFireHandlersParams*>(TlsGetValue(slot));
}

void SetCurrentCall(const TFireHandlersParams* call) {
  const DWORD slot = CurrentCallSlot();
  if (slot != TLS_OUT_OF_INDEXES) TlsSetValue(slot, const_cast<TFireHandlersParams*>(call));
}

bool Fits(HandlerSyncMode mode, const TFireHandlersParams& params) {
  if (params.synchronisationFailed) return mode == kSyncMainOrHandlerThread;
  if (params.callSynchronised) return mode != kSyncAnyThread;
  return mode == kSyncAnyThread;
}

void CallEntry(bool isMethod, void* code, void* self, TFireHandlersParams& params) {
  bool handled = params.handled;
  try {
    if (params.eventKind == kEventAction) {
      if (isMethod)
        reinterpret_cast<ActionHandlerMethod>(code)(self, params.action, params.exception,
                                                    handled);
      else
        reinterpret_cast<ActionHandlerProc>(code)(params.action, params.exception, handled);
    } else {
      if (isMethod)
        reinterpret_cast<ExceptionHandlerMethod>(code)(self, params.exception, handled);
      else
        reinterpret_cast<ExceptionHandlerProc>(code)(params.exception, handled);
    }
  } catch (...) {
    return;  // a handler that raises is skipped
  }
  params.handled = handled;
}

bool ValidKind(int32_t kind) { return kind >= 0 && kind <= 2; }

// The message hook has no context parameter: it reaches the running reporter's tables.
LRESULT CALLBACK PauseHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code >= 0) {
    if (HandlerTables* tables = Running().handlerTables) tables->PausePoint();
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Whether the thread was started by code of a module that carries the reporter's
// debug-information resource.
bool StartedByReporterCode(DWORD threadId) {
  if (PipelineLinks().threadCreatorAddress == nullptr) return false;
  uint32_t creator = PipelineLinks().threadCreatorAddress(threadId);
  HMODULE module = nullptr;
  if (creator == 0 ||
      !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(creator), &module))
    return false;
  return FindResourceA(module, "EXCEPT", "QEL") != nullptr;
}

HINSTANCE OwnInstance(const void* code) {
  HINSTANCE instance = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(code), &instance);
  return instance;
}

HandlerTables* RunningTables() { return Running().handlerTables; }

}  // namespace

HandlerTables::~HandlerTables() {
  ShutdownPause();
  RemoveWindow();
  Clear();
}

// ---- the tables ----

void HandlerTables::Add(int32_t kind, HandlerSyncMode mode, uint8_t phase, void* code,
                        void* self, bool isMethod) {
  if (code == nullptr || !ValidKind(kind)) return;
  Entry entry{mode, phase, code, self, isMethod};
  CriticalSectionGuard guard(tablesLock_);
  auto& table = tables_[kind];
  for (auto& item : table) {
    if (item.code == entry.code && item.self == entry.self && item.isMethod == entry.isMethod &&
        item.phase == entry.phase) {
      item = entry;
      return;
    }
  }
  table.push_back(entry);
}

void HandlerTables::Remove(int32_t kind, void* code, void* self, bool isMethod) {
  if (!ValidKind(kind)) return;
  CriticalSectionGuard guard(tablesLock_);
  auto& table = tables_[kind];
  for (auto it = table.begin(); it != table.end(); ++it) {
    if (it->code == code && it->self == self && it->isMethod == isMethod) {
      table.erase(it);
      return;
    }
  }
}

void HandlerTables::Clear() {
  CriticalSectionGuard guard(tablesLock_);
  for (auto& table : tables_) table.clear();
}

bool HandlerTables::Empty(int32_t kind) {
  if (!ValidKind(kind)) return true;
  CriticalSectionGuard guard(tablesLock_);
  return tables_[kind].empty();
}

bool HandlerTables::Phase4HandlerExists() {
  CriticalSectionGuard guard(tablesLock_);
  for (const auto& entry : tables_[kEventException])
    if (entry.phase == 4) return true;
  return false;
}

// Exception handlers count only for the phase being fired, so that a main thread that
// does not answer is probed once, not once per phase.
bool HandlerTables::WantsMainThread(int32_t kind, uint8_t phase) {
  CriticalSectionGuard guard(tablesLock_);
  for (const auto& entry : tables_[kind])
    if (entry.mode != kSyncAnyThread && (kind != kEventException || entry.phase == phase))
      return true;
  return false;
}

HandlerTables::HandlerTables() { CurrentCallSlot(); }

bool HandlerTables::CallList(TFireHandlersParams& params) {
  if (!ValidKind(params.eventKind)) return false;
  bool onMain = GetCurrentThreadId() == ProcessMainThreadId();
  bool wasRunning = onMain && mainRunningHandlers_.exchange(true);
  const TFireHandlersParams* outer = CurrentCall();
  SetCurrentCall(&params);
  std::vector<Entry> copy;
  {
    CriticalSectionGuard guard(tablesLock_);
    copy = tables_[params.eventKind];
  }
  uint8_t phase = 0;
  if (params.eventKind == kEventException && params.exception != nullptr)
    phase = params.exception->Phase();
  bool called = false;
  bool stop = false;
  // Object methods come before plain procedures.
  for (int pass = 0; pass < 2 && !stop; ++pass) {
    for (const Entry& entry : copy) {
      if (entry.isMethod != (pass == 0) || !Fits(entry.mode, params)) continue;
      if (params.eventKind == kEventException && entry.phase != phase) continue;
      CallEntry(entry.isMethod, entry.code, entry.self, params);
      called = true;
      bool callAll = params.eventKind == kEventHandledException ||
                     (params.eventKind == kEventException && phase > 2);
      if (params.handled && !callAll) {
        stop = true;
        break;
      }
    }
  }
  SetCurrentCall(outer);
  if (onMain && !wasRunning) mainRunningHandlers_ = false;
  return called;
}

// Runs the synchronised entries on the main thread through the message window; false
// when the main thread does not answer.
bool HandlerTables::ReachMainThread(TFireHandlersParams& params) {
  bool reached = false;
  bool resumed = LendMainThread(true);
  DWORD_PTR answer = 0;
  if (SendMessageTimeoutA(window_, handlerMessage_, 1, 0, SMTO_NORMAL, kProbeTimeoutMs,
                          &answer) != 0 &&
      answer == kAnswer) {
    params.callSynchronised = true;
    answer = 0;
    reached = SendMessageTimeoutA(window_, handlerMessage_, 0, reinterpret_cast<LPARAM>(&params),
                                  SMTO_NORMAL, 0x7FFFFFFF, &answer) != 0 &&
              answer == kAnswer;
  }
  if (resumed) LendMainThread(false);
  return reached;
}

bool HandlerTables::LendMainThread(bool lend) {
  if (lend) {
    bool held = mainPaused_.exchange(false);
    if (held && mainPauseEvent_ != nullptr) SetEvent(mainPauseEvent_);
    return held;
  }
  if (mainPauseEvent_ != nullptr) {
    ResetEvent(mainPauseEvent_);
    mainPaused_ = true;
  }
  return true;
}

void HandlerTables::Notify(HWND parent, int32_t eventKind, int32_t action, bool& handled,
                           IKVException* exception) {
  if (exception == nullptr || !ValidKind(eventKind)) return;
  try {
    if (eventKind == kEventAction && (action == kActionRestart || action == kActionClose)) {
      ComPtr<IKVExceptionEx> ex =
          ComPtr<IKVException>(exception).As<IKVExceptionEx>(IID_IKVExceptionEx);
      if ((ex && ex->CriticalCallbackExists()) ||
          (Phase4HandlerExists() && exception->CallHandlers()))
        exception->GetReportText(true);
    }
    if (!exception->CallHandlers() || Empty(eventKind)) return;
    TFireHandlersParams params;
    params.eventKind = eventKind;
    params.action = action;
    params.exception = exception;
    params.handled = handled;
    bool called = CallList(params);
    if ((!params.handled || !called) && window_ != nullptr &&
        WantsMainThread(eventKind, exception->Phase())) {
      bool reached = exception->ExceptionType() != 1 && ReachMainThread(params);
      if (!reached) {
        params.callSynchronised = false;
        params.synchronisationFailed = true;
        CallList(params);
      }
    }
    handled = params.handled;
    // The send, save and print assistants belong to the user interface, which opens them
    // over `parent` when it exists.
    (void)parent;
  } catch (...) {
  }
}

// ---- the message window ----

LRESULT CALLBACK HandlerTables::WindowProc(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
  auto* self = reinterpret_cast<HandlerTables*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcA(window, message, wParam, lParam);
  return self->OnMessage(window, message, wParam, lParam);
}

LRESULT HandlerTables::OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == handlerMessage_ && handlerMessage_ != 0) {
    // The first parameter 1 is a probe (or a wake-up for a pause point).
    if (wParam == 0 && lParam != 0) CallList(*reinterpret_cast<TFireHandlersParams*>(lParam));
    return kAnswer;
  }
  if (message == pingMessage_ && pingMessage_ != 0 && pingHandler_ != nullptr)
    return pingHandler_(pingContext_, wParam, lParam);
  return DefWindowProcA(window, message, wParam, lParam);
}

bool HandlerTables::MakeWindow() {
  if (window_ != nullptr) return true;
  handlerMessage_ = RegisterWindowMessageA("qelExceptHandlerMsg");
  HINSTANCE instance = OwnInstance(reinterpret_cast<const void*>(&WindowProc));
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kWindowClass;
  RegisterClassA(&windowClass);  // fails harmlessly when this module registered it before
  // A message-only window: it gets no broadcasts, so a thread that never retrieves
  // messages cannot hold up other programs.
  HWND window = CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                instance, nullptr);
  if (window != nullptr)
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  window_ = window;
  windowThread_ = window_ != nullptr ? GetCurrentThreadId() : 0;
  return window_ != nullptr;
}

void HandlerTables::RemoveWindow() {
  if (window_ == nullptr) return;
  HWND window = window_;
  window_ = nullptr;
  if (!::DestroyWindow(window)) {
    // Another thread owns it: make sure no message reaches this object or this module's
    // code once they are gone.
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcA));
    SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    PostMessageA(window, WM_CLOSE, 0, 0);
  } else {
    // Fails harmlessly while another object's window of the class exists.
    UnregisterClassA(kWindowClass, OwnInstance(reinterpret_cast<const void*>(&WindowProc)));
  }
  windowThread_ = 0;
}

void HandlerTables::SetPingHandler(UINT message, LRESULT (*handler)(void*, WPARAM, LPARAM),
                                   void* context) {
  pingHandler_ = handler;
  pingContext_ = context;
  pingMessage_ = handler != nullptr ? message : 0;
}

// ---- pausing ----

void HandlerTables::PausePoint() {
  DWORD error = GetLastError();
  DWORD self = GetCurrentThreadId();
  HANDLE event = nullptr;
  {
    CriticalSectionGuard guard(pauseLock_);
    if (self == ProcessMainThreadId())
      event = mainPauseEvent_;
    else if (std::find(pausedThreads_.begin(), pausedThreads_.end(), self) !=
             pausedThreads_.end())
      event = othersPauseEvent_;
  }
  // A report that does not end in its bound lets its paused threads go; each takes that
  // bound itself too, so neither a hung handler nor a lost resume holds a thread for good.
  if (event != nullptr) WaitWithinBound(event, kReportWaitBound);
  SetLastError(error);
}

void HandlerTables::HookThreadForPause(DWORD threadId) {
  for (const auto& [id, hook] : pauseHooks_)
    if (id == threadId) return;
  HHOOK hook = SetWindowsHookExA(WH_GETMESSAGE, PauseHook, nullptr, threadId);
  if (hook != nullptr) pauseHooks_.emplace_back(threadId, hook);
}

void HandlerTables::PauseOthers(bool pause, DWORD sparedThread) {
  CriticalSectionGuard guard(pauseLock_);
  if (mainPauseEvent_ == nullptr) {
    mainPauseEvent_ = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    othersPauseEvent_ = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    if (mainPauseEvent_ == nullptr || othersPauseEvent_ == nullptr) return;
  }
  if (!pause) {
    SetEvent(mainPauseEvent_);
    SetEvent(othersPauseEvent_);
    mainPaused_ = false;
    pausedThreads_.clear();
    if (window_ != nullptr) PostMessageA(window_, handlerMessage_, 1, 0);
    return;
  }
  DWORD self = GetCurrentThreadId();
  DWORD mainThread = ProcessMainThreadId();
  ResetEvent(othersPauseEvent_);
  // A main thread that faulted waits for its own record and must not pause itself.
  if (mainThread != sparedThread && mainThread != self) {
    ResetEvent(mainPauseEvent_);
    mainPaused_ = true;
    HookThreadForPause(mainThread);
  }
  pausedThreads_.clear();
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot != INVALID_HANDLE_VALUE) {
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
      DWORD id = entry.th32ThreadID;
      if (entry.th32OwnerProcessID != GetCurrentProcessId() || id == self || id == mainThread ||
          id == sparedThread || !StartedByReporterCode(id))
        continue;
      pausedThreads_.push_back(id);
      HookThreadForPause(id);
    }
    CloseHandle(snapshot);
  }
  if (window_ != nullptr) PostMessageA(window_, handlerMessage_, 1, 0);
}

void HandlerTables::ShutdownPause() {
  CriticalSectionGuard guard(pauseLock_);
  for (const auto& [id, hook] : pauseHooks_) UnhookWindowsHookEx(hook);
  pauseHooks_.clear();
  pausedThreads_.clear();
  mainPaused_ = false;
  for (HANDLE* event : {&mainPauseEvent_, &othersPauseEvent_}) {
    if (*event == nullptr) continue;
    SetEvent(*event);
    CloseHandle(*event);
    *event = nullptr;
  }
}

// ---- the running reporter's tables ----

void RegisterExceptionHandler(ExceptionHandlerProc handler, HandlerSyncMode mode, uint8_t phase) {
  if (HandlerTables* tables = RunningTables())
    tables->Add(kEventException, mode, phase, reinterpret_cast<void*>(handler), nullptr, false);
}
void RegisterExceptionHandler(ExceptionHandlerMethod handler, void* self, HandlerSyncMode mode,
                              uint8_t phase) {
  if (HandlerTables* tables = RunningTables())
    tables->Add(kEventException, mode, phase, reinterpret_cast<void*>(handler), self, true);
}
void UnregisterExceptionHandler(ExceptionHandlerProc handler) {
  if (HandlerTables* tables = RunningTables())
    tables->Remove(kEventException, reinterpret_cast<void*>(handler), nullptr, false);
}
void UnregisterExceptionHandler(ExceptionHandlerMethod handler, void* self) {
  if (HandlerTables* tables = RunningTables())
    tables->Remove(kEventException, reinterpret_cast<void*>(handler), self, true);
}
void RegisterActionHandler(ActionHandlerProc handler, HandlerSyncMode mode) {
  if (HandlerTables* tables = RunningTables())
    tables->Add(kEventAction, mode, 0, reinterpret_cast<void*>(handler), nullptr, false);
}
void RegisterActionHandler(ActionHandlerMethod handler, void* self, HandlerSyncMode mode) {
  if (HandlerTables* tables = RunningTables())
    tables->Add(kEventAction, mode, 0, reinterpret_cast<void*>(handler), self, true);
}
void UnregisterActionHandler(ActionHandlerProc handler) {
  if (HandlerTables* tables = RunningTables())
    tables->Remove(kEventAction, reinterpret_cast<void*>(handler), nullptr, false);
}
void UnregisterActionHandler(ActionHandlerMethod handler, void* self) {
  if (HandlerTables* tables = RunningTables())
    tables->Remove(kEventAction, reinterpret_cast<void*>(handler), self, true);
}
void RegisterHandledExceptionHandler(ExceptionHandlerProc handler, HandlerSyncMode mode) {
  if (HandlerTables* tables = RunningTables())
    tables->Add(kEventHandledException, mode, 0, reinterpret_cast<void*>(handler), nullptr,
                false);
}
void RegisterHandledExceptionHandler(ExceptionHandlerMethod handler, void* self,
                                     HandlerSyncMode mode) {
  if (HandlerTables* tables = RunningTables())
    tables->Add(kEventHandledException, mode, 0, reinterpret_cast<void*>(handler), self, true);
}
void UnregisterHandledExceptionHandler(ExceptionHandlerProc handler) {
  if (HandlerTables* tables = RunningTables())
    tables->Remove(kEventHandledException, reinterpret_cast<void*>(handler), nullptr, false);
}
void UnregisterHandledExceptionHandler(ExceptionHandlerMethod handler, void* self) {
  if (HandlerTables* tables = RunningTables())
    tables->Remove(kEventHandledException, reinterpret_cast<void*>(handler), self, true);
}

void ClearHandlerTables() {
  if (HandlerTables* tables = RunningTables()) tables->Clear();
}

bool HandledExceptionHandlersExist() {
  HandlerTables* tables = RunningTables();
  return tables != nullptr && !tables->Empty(kEventHandledException);
}

bool Phase4HandlerExists() {
  HandlerTables* tables = RunningTables();
  return tables != nullptr && tables->Phase4HandlerExists();
}

bool CallHandlerList(TFireHandlersParams& params) {
  HandlerTables* tables = RunningTables();
  return tables != nullptr && tables->CallList(params);
}

void NotifyHandlers(HWND parent, int32_t eventKind, int32_t action, bool& handled,
                    IKVException* exception) {
  if (HandlerTables* tables = RunningTables())
    tables->Notify(parent, eventKind, action, handled, exception);
  // Last, the user: an action no handler took is asked about in its assistant.
  if (!handled && parent != nullptr && eventKind == kEventAction)
    handled = !ConfirmActionAssistant(parent, action, exception);
}

const TFireHandlersParams* CurrentHandlerCall() { return CurrentCall(); }

bool MainThreadRunningHandlers() {
  HandlerTables* tables = RunningTables();
  return tables != nullptr && tables->MainThreadRunningHandlers();
}

bool CreateReporterWindow() {
  HandlerTables* tables = RunningTables();
  return tables != nullptr && tables->MakeWindow();
}

void DestroyReporterWindow() {
  if (HandlerTables* tables = RunningTables()) tables->RemoveWindow();
}

HWND ReporterWindow() {
  HandlerTables* tables = RunningTables();
  return tables != nullptr ? tables->Window() : nullptr;
}

DWORD ReporterWindowThreadId() {
  HandlerTables* tables = RunningTables();
  return tables != nullptr ? tables->WindowThreadId() : 0;
}

void PauseOtherThreads(bool pause, DWORD sparedThread) {
  if (HandlerTables* tables = RunningTables()) tables->PauseOthers(pause, sparedThread);
}

void ShutdownPause() {
  if (HandlerTables* tables = RunningTables()) tables->ShutdownPause();
}

bool LendMainThread(bool lend) {
  HandlerTables* tables = RunningTables();
  return tables != nullptr && tables->LendMainThread(lend);
}

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

}  // namespace qx
