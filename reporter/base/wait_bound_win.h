// Bounds on the waits of server threads for the reporter.
//
// The reporter lives inside a server that runs for months, often as a service nobody looks
// at. A server thread that waits for the reporter (a faulting thread for its report, a paused
// thread for the report's end, a caller for the completion) must get on again even when the
// report never ends: a registered handler that hangs, a completion stuck outside the
// reporter's code. Such a wait ends once the reporter made no progress for the wait's quiet
// limit, or after its total limit. It stays open only while a reporter window waits for a
// person on a desktop somebody sees: only that person can end that wait, and a report the
// user is reading must not be torn down under them.
#pragma once

#include <windows.h>

#include <cstdint>

namespace qx {

struct WaitBound {
  DWORD quietLimitMs;  // longest stretch without any sign of progress of the reporter
  DWORD totalLimitMs;  // longest wait in all, progress or not
};

// A report of a process with many deep threads takes long but steps on all the time (a phase
// begun, a thread traced, a section done). The longest legitimate step without a sign is a
// trace waiting for another trace's lock (30 s), so twice that without one means the report
// hangs. Ten minutes in all covers thousands of threads on a slow machine and still ends a
// report that keeps stepping without ever finishing.
inline constexpr WaitBound kReportWaitBound = {60000, 600000};
// An aborted trace stops at its next frame and no further section starts: what still runs
// after five seconds (the pipeline's own stop bound) is stuck outside the reporter's code.
inline constexpr WaitBound kAbortedWaitBound = {5000, 5000};
// The send thread gives no sign of progress; mail and upload peers that answer at all do so
// within their own one-minute time-outs, so two minutes in all.
inline constexpr WaitBound kSendWaitBound = {120000, 120000};

// Marks one step of a report being made: the waits for the reporter start their quiet limit
// again.
void NoteReporterProgress();

// For as long as it lives, a reporter window waits for a person; a window that is not shown,
// or shown where nobody sees it, counts nothing.
class PersonWaitScope {
 public:
  explicit PersonWaitScope(bool shownWhereSeen);
  ~PersonWaitScope();
  PersonWaitScope(const PersonWaitScope&) = delete;
  PersonWaitScope& operator=(const PersonWaitScope&) = delete;

 private:
  bool counted_;
};

// One wait measured against its bound.
class WaitClock {
 public:
  explicit WaitClock(const WaitBound& bound);
  // True once the bound passed. While a window waits for a person the clock stands still,
  // and every step of progress starts the quiet limit again.
  bool Passed();
  // How long to wait at a time before asking Passed again.
  DWORD Slice() const { return slice_; }

 private:
  DWORD quietLimit_;
  DWORD totalLimit_;
  DWORD slice_;
  DWORD quietStart_;
  DWORD totalStart_;
  uint32_t progress_;
};

// Waits for `handle` within `bound`: true when it was signalled, false when the bound passed
// or the wait failed.
bool WaitWithinBound(HANDLE handle, const WaitBound& bound);

}  // namespace qx
