// Analysis of a whole function (its code areas, case and exception tables, the calls and
// jumps that leave it) and the listing of a function for the report.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "decoder.h"

namespace qx {

// One stretch of the function: code, or a data block (case table, exception table).
struct TCodeArea {
  uint32_t begin;
  uint32_t end;          // last byte, inclusive; 0 while the area is not parsed yet
  bool isCaseTable;
  bool isExceptTable;
  uint32_t branchFrom;   // the branch that first led here; 0 for the entry and fall-through
  TRegState regState;    // the register constants valid at the area's start
};

// A call or jump that leaves the function.
struct TFarCall {
  bool isCall;
  uint32_t start;
  uint32_t next;
  uint32_t target;
  bool isRelTarget;
  uint32_t targetFieldAddr;
  uint32_t targetSlotAddr;
};

// A call or jump whose target could not be worked out.
struct TUnresolvedCall {
  bool isCall;
  uint32_t start;
  uint32_t next;
};

constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorInvalidCode = 0x770001;

struct TFunctionInfo {
  bool isValid = false;
  uint32_t entryPoint = 0;
  uint32_t codeBegin = 0;
  uint32_t codeLength = 0;
  uint32_t lastErrorAddr = 0;
  uint32_t lastErrorCode = 0;
  std::string lastErrorText;
  std::vector<TCodeArea> codeAreas;
  std::vector<TFarCall> farCalls;
  std::vector<TUnresolvedCall> unresolvedCalls;
  bool isCopyable = false;  // the first six bytes can be moved elsewhere
  uint32_t copySize = 0;    // bytes for a relocated copy
};

// The language runtime's exception-dispatch entries and its termination routine. Branches
// to them get special treatment; 0 means "the runtime's own" (see DefaultRuntimeRoutines).
struct TRuntimeRoutines {
  uint32_t catchAllHandler = 0;
  uint32_t typedHandler = 0;
  uint32_t plainHandler = 0;
  uint32_t finallyHandler = 0;
  uint32_t haltRoutine = 0;
};

// What the module's own runtime supplies for each role. This runtime (libstdc++ with table-
// driven unwinding) dispatches exceptions without calls from the function's code, so the
// four handler roles stay 0 (no special target); the termination role is the C runtime's
// exit routine in the Windows build. Set at start-up; 0 everywhere natively.
extern TRuntimeRoutines DefaultRuntimeRoutines;

// The host's C++ exception routine, filled in by the capture layer when it finds one in the
// process; 0 otherwise.
extern uint32_t HostCppExceptionRoutine;

// Analyses the function that starts at entry. See TFunctionInfo for the results; on
// failure isValid is false and the lastError fields say where and why.
TFunctionInfo ParseFunction(CodeMemory& memory, uint32_t entry, const TDATryRead* map = nullptr,
                            const TRuntimeRoutines& routines = {});

// The listing of the function at entry; marked is the address to point at (normally the
// crash address), formatted adds labels, blank lines and separators, lineLimit > 0 keeps
// only that many lines on each side of the marked line. Empty text when the function
// cannot be analysed.
std::string DisassembleFunction(CodeMemory& memory, uint32_t entry, uint32_t marked,
                                bool formatted, int lineLimit, TFunctionInfo* info = nullptr,
                                const TRuntimeRoutines& routines = {});

// The reporter's way to the listing is DisAsmHook (process_registries.h): empty unless
// LinkDisAsm (Windows build) ran at start-up, so that a reporter without the disassembler
// still links and runs.

constexpr const char kListingInternalError[] =
    "Internal error in ParseFunction while composing the disassembling string...  :-(";

}  // namespace qx
