// Names the reporter gives threads for the reports ("-" hides a thread of the reporter),
// and the mark that a trace of the whole process is running.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

namespace qx {

void NameThread(DWORD threadId, const std::string& name);
void UnnameThread(DWORD threadId);
// The name given to a thread, or empty.
std::string ThreadName(DWORD threadId);

// Starts one of the reporter's own threads: named "-" before its first instruction runs, so
// that no report made meanwhile lists it, and at the highest priority, since it serves
// faulting threads that wait for it. threadId is stored before the thread runs, since the
// thread's first messages may be answered through it. Null when the thread cannot be created.
HANDLE StartReporterThread(LPTHREAD_START_ROUTINE routine, void* context,
                           std::atomic<DWORD>& threadId);

// While a trace runs, the reporter's own threads are listed in the report.
void SetTraceRunning(bool running);
bool TraceRunning();

}  // namespace qx
