// The thread sections of a report and the "cpu registers", "stack dump" and "disassembling"
// sections of the crashed thread: snapshots taken at capture, texts made in the completion.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "report_hooks_win.h"
#include "stack_trace.h"

namespace qx {

// The ids of all threads of this process (the system process query, tool help as fallback).
std::vector<DWORD> ThreadIdList();
// A handle for reading a thread's state (get-context, suspend-resume, query-information,
// else get-context only); a duplicate of the own handle for the current thread. Null on
// failure.
HANDLE OpenThreadForState(DWORD threadId);

// The "cpu registers" text of a context.
std::string CpuRegistersText(const CONTEXT& context);
// The "stack dump" text from the context's stack pointer.
std::string StackDumpText(const CONTEXT& context);
// The "disassembling" text: the listing of the function at functionStart with marked
// pointed at; empty without a start or without the disassembler.
std::string DisassemblyText(uint32_t functionStart, uint32_t marked, bool formatted, int limit);

// One thread as captured.
struct ThreadSnapshot {
  std::string title;
  DWORD threadId = 0;
  uint32_t exceptionAddress = 0;
  // Another thread's instruction pointer, read with its context (0: not read).
  uint32_t currentAddress = 0;
  bool isException = false;
  bool isExternal = false;
  uint32_t stackBottom = 0;
  uint32_t stackTop = 0;
  uint32_t creatorAddress = 0;
  uint32_t creatorThreadId = 0;
  uint32_t framePointer = 0;
  bool isCppTermination = false;
  TDAPreStackItem preparedStack;
  bool stateRead = false;
};

// ExceptionClassIsHook and TraceProcessRunningHook, which the capture layer installs, are
// in process_registries.h.

// Installs the section producer into the report.
void ThreadSectionsStartup();
void ThreadSectionsShutdown();

// The producer for one exception (also used directly by tests).
std::unique_ptr<ReportSectionProducer> MakeThreadSectionProducer(IKVException* exception);

}  // namespace qx
