#include "wait_bound_win.h"

#include "process_registries.h"

namespace qx {

namespace {

// Short enough that a thread gets on soon after its bound, long enough to cost nothing.
constexpr DWORD kLongestSliceMs = 100;

WaitBound EffectiveBound(const WaitBound& bound) {
  DWORD standIn = WaitBoundStandInMs.load();
  return standIn != 0 ? WaitBound{standIn, 2 * standIn} : bound;
}

}  // namespace

void NoteReporterProgress() { ReporterProgressCount.fetch_add(1, std::memory_order_relaxed); }

PersonWaitScope::PersonWaitScope(bool shownWhereSeen) : counted_(shownWhereSeen) {
  if (counted_) ++WindowsWaitingForPerson;
}

PersonWaitScope::~PersonWaitScope() {
  if (counted_) --WindowsWaitingForPerson;
}

WaitClock::WaitClock(const WaitBound& bound) {
  WaitBound effective = EffectiveBound(bound);
  quietLimit_ = effective.quietLimitMs;
  totalLimit_ = effective.totalLimitMs;
  slice_ = quietLimit_ < kLongestSliceMs ? quietLimit_ : kLongestSliceMs;
  quietStart_ = totalStart_ = GetTickCount();
  progress_ = ReporterProgressCount.load(std::memory_order_relaxed);
}

bool WaitClock::Passed() {
  DWORD now = GetTickCount();
  if (WindowsWaitingForPerson.load() > 0) {
    quietStart_ = totalStart_ = now;
    return false;
  }
  uint32_t progress = ReporterProgressCount.load(std::memory_order_relaxed);
  if (progress != progress_) {
    progress_ = progress;
    quietStart_ = now;
  }
  return now - quietStart_ >= quietLimit_ || now - totalStart_ >= totalLimit_;
}

bool WaitWithinBound(HANDLE handle, const WaitBound& bound) {
  WaitClock clock(bound);
  for (;;) {
    DWORD result = WaitForSingleObject(handle, clock.Slice());
    if (result != WAIT_TIMEOUT) return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
    if (clock.Passed()) return false;
  }
}

}  // namespace qx
