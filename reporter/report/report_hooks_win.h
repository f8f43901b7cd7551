// What the exception object needs from the parts of the reporter that are built around it:
// the thread, register, stack and disassembly sections, the handling pipeline, the
// screenshot and the report actions. Each part installs its hooks at start-up; without
// them a report has the sections and behaviour that exist.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "callstack_crc.h"
#include "process_registries.h"
#include "report_interfaces_win.h"

namespace qx {

// The sections that describe the threads of one exception. One producer is made per
// exception when its sections are built, and used by the completion only.
class ReportSectionProducer {
 public:
  virtual ~ReportSectionProducer() = default;
  // Takes the thread snapshots; (title, placeholder) per thread, the crashed thread first.
  virtual std::vector<std::pair<std::string, std::string>> ThreadSections() = 0;
  // Without "ListThreads": only the first snapshot is kept.
  virtual void KeepFirstThreadOnly() = 0;
  virtual size_t ThreadCount() = 0;
  // The call-stack text of snapshot `index` and its checksum values.
  virtual std::string ThreadReport(size_t index, ThreadCrc& crc) = 0;
  virtual std::string CpuRegisters() = 0;
  virtual std::string StackDump() = 0;
  virtual bool DisassemblerLinked() = 0;
  virtual std::string Disassembly() = 0;
  // first|second entries handed over by the stack walker.
  virtual std::vector<std::string> MinDebugInfoList() = 0;
};

// The hooks themselves (ReportHooks, Hooks()) are in process_registries.h.
// The reporter's handler thread; the completion runs in a thread of its own only when the
// sections are asked for on it.
void SetReportHandlerThread(DWORD threadId);
DWORD ReportHandlerThread();
bool ProcessIsBlocked(DWORD limitMs);

}  // namespace qx
