#include "watchdog_win.h"

#include <new>

#include "handler_tables_win.h"
#include "handling_core.h"
#include "own_security_win.h"
#include "pipeline_win.h"
#include "process_registries.h"
#include "thread_names_win.h"

namespace qx {

namespace {

constexpr WPARAM kAnswer = 777;
constexpr DWORD kNoWatchdog = static_cast<DWORD>(-1);

}  // namespace

LRESULT Watchdog::OnPing(void* self, WPARAM wParam, LPARAM) {
  if (wParam != 0)
    PostMessageA(reinterpret_cast<HWND>(wParam), WM_NULL, kAnswer, kAnswer);
  else
    PostThreadMessageA(static_cast<Watchdog*>(self)->threadId_, WM_NULL, kAnswer, kAnswer);
  return kAnswer;
}

HANDLE Watchdog::Mutex() {
  if (PipelineLinks().watchdogMutex != nullptr) return PipelineLinks().watchdogMutex();
  if (ownMutex_ == nullptr) {
    OwnProcessSecurity security;
    ownMutex_ = CreateMutexA(security.Attributes(), FALSE,
                             ProcessObjectName("qelExceptWatchdogMtx", GetCurrentProcessId()).c_str());
  }
  return ownMutex_;
}

DWORD WINAPI Watchdog::ThreadMain(void* self) {
  static_cast<Watchdog*>(self)->Run();
  return 0;
}

void Watchdog::Run() {
  MSG message;
  PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);  // the queue the answers come to
  // One watchdog of the process's reporters watches at a time; the next takes over when
  // the first ends. Every wait of this thread also ends with its stop, so the thread
  // leaves by itself when asked.
  HANDLE mutex = Mutex();
  bool holding = false;
  if (mutex != nullptr) {
    HANDLE waits[] = {stopEvent_, mutex};
    const DWORD got = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    holding = got == WAIT_OBJECT_0 + 1 || got == WAIT_ABANDONED_0 + 1;
    if (!holding) {
      SetEvent(threadLeft_);
      return;
    }
  }
  uint32_t interval = timeout_ / 10;
  for (;;) {
    HANDLE waits[] = {stopEvent_, pauseEvent_};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) break;
    PostMessageA(window_, pingMessage_, 0, 0);
    if (WaitForSingleObject(stopEvent_, interval) != WAIT_TIMEOUT) break;
    bool answered = false;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_NULL && message.hwnd == nullptr && message.wParam == kAnswer &&
          message.lParam == static_cast<LPARAM>(kAnswer))
        answered = true;
    }
    // A pause that began while this ping was out does not count the ping as missed.
    if (answered || pauseCount_ >= 0) {
      misses_ = 0;
      interval = timeout_ / 10;
      continue;
    }
    if (++misses_ >= 10) {
      HandOverException(1, nullptr, 0, nullptr, nullptr, nullptr, 1, nullptr, 0, 0, true);
      misses_ = 0;
      interval = GrownInterval(interval);
    }
  }
  if (holding) ReleaseMutex(mutex);
  SetEvent(threadLeft_);
}

bool Watchdog::Start(uint32_t timeoutMs) {
  if (window_ != nullptr) return true;
  HWND window = tables_.Window();
  if (window == nullptr) return false;
  window_ = window;
  timeout_ = timeoutMs;
  pingMessage_ = RegisterWindowMessageA("qelExceptPingMsg");
  tables_.SetPingHandler(pingMessage_, OnPing, this);
  pauseEvent_ = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  stopEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  threadLeft_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (pauseEvent_ != nullptr && stopEvent_ != nullptr && threadLeft_ != nullptr)
    thread_ = StartReporterThread(ThreadMain, this, threadId_);
  if (thread_ == nullptr) {
    tables_.SetPingHandler(0, nullptr, nullptr);
    CloseEvents();
    window_ = nullptr;
    return false;
  }
  return true;
}

void Watchdog::CloseEvents() {
  for (HANDLE* event : {&pauseEvent_, &stopEvent_, &threadLeft_}) {
    if (*event != nullptr) CloseHandle(*event);
    *event = nullptr;
  }
}

void Watchdog::Stop() {
  if (window_ == nullptr) return;
  pauseCount_ = -1;
  tables_.SetPingHandler(0, nullptr, nullptr);
  if (thread_ != nullptr) {
    // Asked first; the thread leaves its waits at once. One that does not leave within the
    // bound is inside a freeze report it handed over (the pipeline may be showing it) and
    // is terminated. Inside the loader no thread can finish its exit: once it has left,
    // it is cut on its way out, before this module's code goes away.
    SetEvent(stopEvent_);
    const bool blocked = ProcessBlockedTest(0);
    const bool left = WaitForSingleObject(blocked ? threadLeft_ : thread_, kStopLimitMs) ==
                      WAIT_OBJECT_0;
    if (!left || blocked) TerminateThread(thread_, kCutExitCode);
    CloseHandle(thread_);
    thread_ = nullptr;
  }
  UnnameThread(threadId_);
  CloseEvents();
  if (ownMutex_ != nullptr) CloseHandle(ownMutex_);
  ownMutex_ = nullptr;
  threadId_ = kNoWatchdog;
  misses_ = 0;
  window_ = nullptr;
}

void Watchdog::Pause(bool on) {
  if (window_ == nullptr || pauseEvent_ == nullptr || GetCurrentThreadId() == threadId_) return;
  if (on) {
    misses_ = 0;
    if (++pauseCount_ == 0) ResetEvent(pauseEvent_);
  } else {
    if (--pauseCount_ < 0) {
      SetEvent(pauseEvent_);
      misses_ = 0;
    }
  }
}

// ---- the running reporter's watchdog ----

void StartWatchdog(uint32_t timeoutMs) {
  HandlerTables* tables = Running().handlerTables;
  if (tables == nullptr || Running().watchdog != nullptr) return;
  auto* watchdog = new (std::nothrow) Watchdog(*tables);
  if (watchdog == nullptr) return;
  if (!watchdog->Start(timeoutMs)) {
    delete watchdog;
    return;
  }
  Running().watchdog = watchdog;
}

void StopWatchdog() {
  delete Running().watchdog.exchange(nullptr);
}

void PauseWatchdog(bool on) {
  if (Watchdog* watchdog = Running().watchdog) watchdog->Pause(on);
}

void ResetWatchdogMisses() {
  if (Watchdog* watchdog = Running().watchdog) watchdog->ResetMisses();
}

DWORD WatchdogThreadId() {
  Watchdog* watchdog = Running().watchdog;
  return watchdog != nullptr ? watchdog->ThreadId() : kNoWatchdog;
}

}  // namespace qx
