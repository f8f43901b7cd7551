#include "thread_names_win.h"

#include <atomic>
#include <map>

#include "sync_win.h"

namespace qx {

namespace {

CriticalSection& NamesLock() {
  static CriticalSection lock;
  return lock;
}
std::map<DWORD, std::string>& Names() {
  static std::map<DWORD, std::string> names;
  return names;
}
std::atomic<long> gTraces{0};

}  // namespace

void NameThread(DWORD threadId, const std::string& name) {
  CriticalSectionGuard guard(NamesLock());
  Names()[threadId] = name;
}

void UnnameThread(DWORD threadId) {
  CriticalSectionGuard guard(NamesLock());
  Names().erase(threadId);
}

std::string ThreadName(DWORD threadId) {
  CriticalSectionGuard guard(NamesLock());
  auto it = Names().find(threadId);
  return it == Names().end() ? std::string() : it->second;
}

void SetTraceRunning(bool running) {
  if (running)
    ++gTraces;
  else
    --gTraces;
}

bool TraceRunning() { return gTraces > 0; }

HANDLE StartReporterThread(LPTHREAD_START_ROUTINE routine, void* context,
                           std::atomic<DWORD>& threadId) {
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, routine, context, CREATE_SUSPENDED, &id);
  if (thread == nullptr) return nullptr;
  threadId = id;
  NameThread(id, "-");
  SetThreadPriority(thread, THREAD_PRIORITY_HIGHEST);
  ResumeThread(thread);
  return thread;
}

}  // namespace qx
