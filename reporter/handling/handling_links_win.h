// What the handling pipeline takes from the capture layer and the delivery code, which
// install these links at start-up. Every link is optional: without it the pipeline does
// without that step.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "report_interfaces_win.h"

namespace qx {

struct HandlingLinks {
  // Empties the reporter's temporary folder.
  void (*clearTempFolder)() = nullptr;
  // The exception address check: the address, moved to the next instruction start where
  // the capture point reported the return address of a call.
  uint32_t (*checkExceptionAddress)(void* object, uint32_t address) = nullptr;
  // The calling thread's exception record of the runtime hooks: the object being raised,
  // its address and (when `hasContext`) the processor context saved at the raise.
  bool (*threadExceptionRecord)(void*& object, uint32_t& address, CONTEXT& context,
                                bool& hasContext) = nullptr;
  void (*clearThreadExceptionRecord)() = nullptr;
  // The mutex that only one watchdog of the process holds (null: a named mutex of our own).
  HANDLE (*watchdogMutex)() = nullptr;
  // The recorded creator address of a thread (0 when unknown).
  uint32_t (*threadCreatorAddress)(DWORD threadId) = nullptr;
  // Starts sending the report; the send thread's handle goes into the exception.
  void (*sendReport)(IKVException* exception, IScreenshot* screenshot) = nullptr;
  // Told as the handler thread begins with a record (measurements).
  void (*processExceptionStarted)() = nullptr;
};

HandlingLinks& Links();

}  // namespace qx
