// The stack walker on the own process: the process-wide walker with its caches, and the
// text helpers with the process's memory and maps implied.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "stack_trace.h"

namespace qx {

// The memory, maps and current stack of this process.
StackMemory& ProcessStackMemory();
// The process-wide walker; its caches live until StackTraceShutdown.
StackWalker& ProcessStackWalker();

std::string StackAddressText(uint32_t address, bool showRelAddrs, bool showRelLines);
// With an exception being handled (HandledExceptionAddress, process_registries.h, not 0)
// its location follows.
std::string InternalErrorText(const std::string& name, bool showRelAddrs, bool showRelLines);

// Start-up: installs the internal-error text into the report. Shut-down clears the caches.
void StackTraceStartup();
void StackTraceShutdown();

}  // namespace qx
