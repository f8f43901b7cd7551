// Names the reporter gives threads for the reports ("-" hides a thread of the reporter),
// and the mark that a trace of the whole process is running.
#pragma once

#include <windows.h>

#include <string>

namespace qx {

void NameThread(DWORD threadId, const std::string& name);
void UnnameThread(DWORD threadId);
// The name given to a thread, or empty.
std::string ThreadName(DWORD threadId);

// While a trace runs, the reporter's own threads are listed in the report.
void SetTraceRunning(bool running);
bool TraceRunning();

}  // namespace qx
