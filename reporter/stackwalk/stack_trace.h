// The stack walker (unit qelStackTrace): turns a thread's stack memory into a call stack.
// Every 32-bit value on the stack that could be a return address is a candidate; the
// functions involved are analysed to check that the call is really there, candidates are
// linked into caller/callee chains, the chains are scored and the best chain between each
// pair of sure frames is kept. Memory is read only through a StackMemory, so tests build
// synthetic stacks and the same code runs natively.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "decoder.h"
#include "function_analysis.h"
#include "map_file.h"

namespace qx {

// One line of a finished call stack.
struct TStackItem {
  uint32_t Addr = 0;     // the call instruction, or the address itself for the top item
  uint32_t RelAddr = 0;  // Addr minus the function start; 0 when unknown or not below
  std::string ModuleName;
  std::string UnitName;
  int32_t Line = 0;     // absolute line, only when a relative line was computed
  int32_t RelLine = 0;  // line relative to the function's first line, else the absolute line
  std::string FunctionName;
};
using TStackTrace = std::vector<TStackItem>;

// A prepared-stack record: flag 1 when the slot belongs to the frame-pointer chain. Record 0
// is the header whose value holds the number of records that follow.
#pragma pack(push, 1)
struct TPreStackRecord {
  uint8_t flag = 0;
  uint32_t value = 0;
};
#pragma pack(pop)
static_assert(sizeof(TPreStackRecord) == 5);
using TDAPreStackItem = std::vector<TPreStackRecord>;

// What the walker reads of an address space: the decoder's memory, plus the maps of modules,
// the readable snapshot and the current thread's stack.
class StackMemory : public CodeMemory {
 public:
  // The debug-information map of the module, or null when it has none.
  virtual std::shared_ptr<const TMapFile> MapOfModule(const TModuleInfo& module) = 0;
  // A snapshot of readable ranges for one trace; an empty snapshot means "ask Read".
  virtual TDATryRead ReadableMap() { return {}; }
  // The current thread's stack: its top (base) and the current position. False when unknown.
  virtual bool CurrentStack(uint32_t& top, uint32_t& bottom) { return false; }
  // The base of the process's executable (its modules without a map get no export search).
  virtual uint32_t MainModuleBase() { return 0; }
};

// The inputs of one trace.
struct TraceStackInput {
  bool hideUglyItems = false;
  bool showRelAddrs = true;
  bool showRelLines = true;
  bool dontAddTopItem = false;
  const volatile bool* abort = nullptr;
  // A second flag that ends the trace as well (the report's own, beside the module's end).
  const std::atomic<bool>* reportAbort = nullptr;
  const TDAPreStackItem* preparedStack = nullptr;  // may be null or empty
  bool cppTermination = false;
  uint32_t framePointer = 0;
  std::function<void(int)> progress;  // positions 0-1000
  uint32_t creatorAddress = 0;
  uint32_t stackTop = 0;     // 0: the current thread's
  uint32_t stackBottom = 0;  // 0: the current stack position
  bool isExternal = false;
  bool isException = false;
  // Another thread, stopped where its context was read (currentAddress is its instruction
  // pointer): only frames whose call goes to the function the newer frame runs in are shown.
  bool knownContext = false;
  uint32_t currentAddress = 0;
  // The exception the reporter is handling (0: none): a failing phase's text names it.
  uint32_t handledExceptionAddress = 0;
};

// The outputs of one trace.
struct TraceStackOutput {
  std::string text;
  TStackTrace trace;
  bool hasLines = false;
  uint32_t crcLocation = 0;
  uint32_t crcStack = 0;
  uint32_t firstFunctionStart = 0;  // for the disassembly
  uint32_t firstFunctionAddr = 0;
  uint32_t topCodeAddress = 0;
  bool aborted = false;
};

// The walker with its module and function caches. The caches live until Clear(); traces
// reuse earlier analyses. Not for parallel use.
class StackWalker {
 public:
  explicit StackWalker(StackMemory& memory);
  ~StackWalker();
  StackWalker(const StackWalker&) = delete;
  StackWalker& operator=(const StackWalker&) = delete;

  // The full analysis. minDebugInfo (may be null) receives "module|identification" entries
  // of the modules whose maps come from minimal debug information, each once.
  void TraceStack(const TraceStackInput& input, TraceStackOutput& output,
                  std::vector<std::string>* minDebugInfo = nullptr);

  // The fast snapshot of candidate return addresses; record 0 is left for the caller to
  // fill with the count (returned). Empty when the range cannot be read.
  TDAPreStackItem PrepareStack(uint32_t framePointer, uint32_t stackTop, uint32_t stackBottom,
                               bool isException, uint32_t currentAddress, uint32_t& count);

  void Clear();
  StackMemory& Memory() { return memory_; }

  struct ModuleEntry;
  struct FunctionEntry;

 private:
  friend class StackTraceRun;
  int ModuleIndex(uint32_t address);
  StackMemory& memory_;
  std::vector<std::unique_ptr<ModuleEntry>> modules_;
  std::vector<std::unique_ptr<FunctionEntry>> functions_;
  std::map<uint32_t, int> functionByEntry_;
};

// The pre-filter: the 8 bytes before value (bytes[0] at value - 8) encode the end of a call.
bool CouldBeReturnAddress(uint32_t value, const uint8_t bytes[8]);

// The ascending list of return slots of the frame-pointer chain from framePointer.
std::vector<uint32_t> FramePointerChain(CodeMemory& memory, const TDATryRead* map,
                                        uint32_t framePointer, uint32_t stackTop,
                                        uint32_t stackBottom);

// One address as a report line: "xxxxxxxx +rel module unit line +relline function".
std::string StackAddressText(StackMemory& memory, uint32_t address, bool showRelAddrs,
                             bool showRelLines);

// ">> internal error in <name>", and when exceptionAddress is not 0, ":" CR LF and the
// StackAddressText of that address.
std::string InternalErrorText(StackMemory& memory, const std::string& name, bool showRelAddrs,
                              bool showRelLines, uint32_t exceptionAddress);

}  // namespace qx
