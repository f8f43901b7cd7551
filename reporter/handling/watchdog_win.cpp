#include "watchdog_win.h"

#include <atomic>

#include "handler_tables_win.h"
#include "handling_core.h"
#include "handling_links_win.h"
#include "pipeline_win.h"
#include "thread_names_win.h"

namespace qx {

namespace {

constexpr WPARAM kAnswer = 777;
constexpr DWORD kNoWatchdog = static_cast<DWORD>(-1);

HANDLE gThread = nullptr;
std::atomic<DWORD> gThreadId{kNoWatchdog};
HWND gWindow = nullptr;
UINT gPingMessage = 0;
std::atomic<long> gMisses{0};
std::atomic<long> gPauseCount{-1};
// Kept for the watchdog's life: non-signalled while paused. (One event for all pauses:
// closing it under a waiting watchdog would leave it waiting on a dead handle.)
HANDLE gPauseEvent = nullptr;
std::atomic<uint32_t> gTimeout{60000};
HANDLE gOwnMutex = nullptr;

LRESULT PingHandler(WPARAM wParam, LPARAM) {
  if (wParam != 0)
    PostMessageA(reinterpret_cast<HWND>(wParam), WM_NULL, kAnswer, kAnswer);
  else
    PostThreadMessageA(gThreadId, WM_NULL, kAnswer, kAnswer);
  return kAnswer;
}

HANDLE WatchdogMutex() {
  if (Links().watchdogMutex != nullptr) return Links().watchdogMutex();
  if (gOwnMutex == nullptr)
    gOwnMutex = CreateMutexA(nullptr, FALSE,
                             ProcessObjectName("qelExceptWatchdogMtx", GetCurrentProcessId()).c_str());
  return gOwnMutex;
}

DWORD WINAPI WatchdogThread(void*) {
  MSG message;
  PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);  // the queue the answers come to
  HANDLE mutex = WatchdogMutex();
  if (mutex != nullptr) WaitForSingleObject(mutex, INFINITE);
  uint32_t interval = gTimeout / 10;
  for (;;) {
    WaitForSingleObject(gPauseEvent, INFINITE);
    PostMessageA(gWindow, gPingMessage, 0, 0);
    Sleep(interval);
    bool answered = false;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_NULL && message.hwnd == nullptr && message.wParam == kAnswer &&
          message.lParam == static_cast<LPARAM>(kAnswer))
        answered = true;
    }
    // A pause that began while this ping was out does not count the ping as missed.
    if (answered || gPauseCount >= 0) {
      gMisses = 0;
      interval = gTimeout / 10;
      continue;
    }
    if (++gMisses >= 10) {
      HandOverException(1, nullptr, 0, nullptr, nullptr, nullptr, 1, nullptr, 0, 0, true);
      gMisses = 0;
      interval = GrownInterval(interval);
    }
  }
}

}  // namespace

void StartWatchdog(uint32_t timeoutMs) {
  if (gWindow != nullptr) return;
  HWND window = ReporterWindow();
  if (window == nullptr) return;
  gWindow = window;
  gTimeout = timeoutMs;
  gPingMessage = RegisterWindowMessageA("qelExceptPingMsg");
  SetPingHandler(gPingMessage, PingHandler);
  gPauseEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  DWORD id = 0;
  gThread = CreateThread(nullptr, 0, WatchdogThread, nullptr, CREATE_SUSPENDED, &id);
  if (gThread == nullptr) {
    SetPingHandler(0, nullptr);
    CloseHandle(gPauseEvent);
    gPauseEvent = nullptr;
    gWindow = nullptr;
    return;
  }
  gThreadId = id;
  NameThread(id, "-");
  SetThreadPriority(gThread, THREAD_PRIORITY_HIGHEST);
  ResumeThread(gThread);
}

void StopWatchdog() {
  if (gWindow == nullptr) return;
  gPauseCount = -1;
  SetPingHandler(0, nullptr);
  if (gThread != nullptr) {
    TerminateThread(gThread, 0);
    WaitForSingleObject(gThread, 1000);
    CloseHandle(gThread);
    gThread = nullptr;
  }
  UnnameThread(gThreadId);
  if (gPauseEvent != nullptr) CloseHandle(gPauseEvent);
  gPauseEvent = nullptr;
  if (gOwnMutex != nullptr) CloseHandle(gOwnMutex);
  gOwnMutex = nullptr;
  gThreadId = kNoWatchdog;
  gMisses = 0;
  gWindow = nullptr;
}

void PauseWatchdog(bool on) {
  if (gWindow == nullptr || gPauseEvent == nullptr || GetCurrentThreadId() == gThreadId) return;
  if (on) {
    gMisses = 0;
    if (++gPauseCount == 0) ResetEvent(gPauseEvent);
  } else {
    if (--gPauseCount < 0) {
      SetEvent(gPauseEvent);
      gMisses = 0;
    }
  }
}

void ResetWatchdogMisses() { gMisses = 0; }

DWORD WatchdogThreadId() { return gThreadId; }

}  // namespace qx
