// The freeze watchdog: pings the reporter's message window of the thread that ran
// start-up and reports a freeze when ten pings in a row stay unanswered.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

namespace qx {

class HandlerTables;

// One watchdog thread for the message window of one handler-table object. The handling
// start-up makes the running reporter's watchdog (with CheckFreeze); a test may make its
// own. Destroying it stops the thread.
class Watchdog {
 public:
  explicit Watchdog(HandlerTables& tables) : tables_(tables) {}
  ~Watchdog() { Stop(); }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  // Starts the thread for the tables' message window (false when there is none, or the
  // thread cannot be made; true at once when it runs already). `timeoutMs` is the freeze
  // time-out.
  bool Start(uint32_t timeoutMs);
  // Asks the thread to stop and waits at most kStopLimitMs for it; only a thread that
  // has not left by then is terminated (exit code kCutExitCode).
  void Stop();
  static constexpr DWORD kStopLimitMs = 2000;
  static constexpr DWORD kCutExitCode = 1;
  // The thread's handle while it runs (for tests).
  HANDLE ThreadHandle() const { return thread_; }
  // Pause on/off around the handling of an exception; ignored while stopped and on the
  // watchdog thread itself.
  void Pause(bool on);
  void ResetMisses() { misses_ = 0; }
  // The thread's id, or -1 (as DWORD) while none runs.
  DWORD ThreadId() const { return threadId_; }

 private:
  static DWORD WINAPI ThreadMain(void* self);
  static LRESULT OnPing(void* self, WPARAM wParam, LPARAM lParam);
  void Run();
  HANDLE Mutex();
  void CloseEvents();

  HandlerTables& tables_;
  HANDLE thread_ = nullptr;
  std::atomic<DWORD> threadId_{static_cast<DWORD>(-1)};
  HWND window_ = nullptr;
  UINT pingMessage_ = 0;
  std::atomic<long> misses_{0};
  std::atomic<long> pauseCount_{-1};
  // Kept for the watchdog's life: non-signalled while paused. (One event for all pauses:
  // closing it under a waiting watchdog would leave it waiting on a dead handle.)
  HANDLE pauseEvent_ = nullptr;
  HANDLE stopEvent_ = nullptr;   // set by Stop: every wait of the thread ends with it
  HANDLE threadLeft_ = nullptr;  // set by the thread when it has left its work
  std::atomic<uint32_t> timeout_{60000};
  HANDLE ownMutex_ = nullptr;
};

// The running reporter's watchdog (Running().watchdog); each does nothing without one.
void StartWatchdog(uint32_t timeoutMs);
void StopWatchdog();
void PauseWatchdog(bool on);
void ResetWatchdogMisses();
// The running watchdog thread's id, or -1 (as DWORD) while none runs.
DWORD WatchdogThreadId();

}  // namespace qx
