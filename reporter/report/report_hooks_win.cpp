#include "report_hooks_win.h"

#include <atomic>

namespace qx {

namespace {
std::atomic<DWORD> gHandlerThread{0};
}

void SetReportHandlerThread(DWORD threadId) { gHandlerThread = threadId; }
DWORD ReportHandlerThread() { return gHandlerThread; }

bool ProcessIsBlocked(DWORD limitMs) {
  auto test = Hooks().processBlocked;
  return test != nullptr && test(limitMs);
}

}  // namespace qx
