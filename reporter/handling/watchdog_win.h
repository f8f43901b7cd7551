// The freeze watchdog: pings the reporter's message window of the thread that ran
// start-up and reports a freeze when ten pings in a row stay unanswered.
#pragma once

#include <windows.h>

#include <cstdint>

namespace qx {

// Starts the watchdog for the reporter's message window (nothing when there is none or a
// watchdog was started already). `timeoutMs` is the freeze time-out.
void StartWatchdog(uint32_t timeoutMs);
void StopWatchdog();
// Pause on/off around the handling of an exception; ignored without a watchdog and on the
// watchdog thread itself.
void PauseWatchdog(bool on);
void ResetWatchdogMisses();
// The watchdog thread's id, or -1 (as DWORD) while none runs.
DWORD WatchdogThreadId();

}  // namespace qx
