// The walker's frame: its module cache, the order of a trace's phases and how a trace ends.
// The phases live in stack_trace_candidates.cpp, stack_trace_chain.cpp,
// stack_trace_checks.cpp, stack_trace_scoring.cpp and stack_trace_text.cpp.
#include "stack_trace.h"

#include <iterator>

#include "stack_trace_internal.h"

namespace qx {

using namespace stackwalk;

StackWalker::StackWalker(StackMemory& memory) : memory_(memory) {}
StackWalker::~StackWalker() = default;

void StackWalker::Clear() {
  modules_.clear();
  functions_.clear();
  functionByEntry_.clear();
}

int StackWalker::ModuleIndex(uint32_t address) {
  for (size_t i = 0; i < modules_.size(); ++i) {
    if (address >= modules_[i]->base && address - modules_[i]->base < modules_[i]->size)
      return static_cast<int>(i);
  }
  TModuleInfo info;
  if (!memory_.ModuleAt(address, info)) return -1;
  auto entry = std::make_unique<ModuleEntry>();
  entry->base = info.base;
  entry->size = info.size;
  entry->name = FileNameOf(info.fileName);
  entry->isSelf = info.isSelf;
  const ModuleImageRanges ranges = ReadModuleImageRanges(memory_, info.base);
  entry->codeBegin = ranges.codeBegin;
  entry->codeEnd = ranges.codeEnd;
  entry->dataBegin = ranges.dataBegin;
  entry->dataEnd = ranges.dataEnd;
  entry->entryPoint = ranges.entryPoint;
  entry->map = memory_.MapOfModule(info);
  if (entry->map && !entry->map->isValid) entry->map.reset();
  if (modules_.size() == modules_.capacity())
    modules_.reserve(modules_.empty() ? 16 : modules_.size() * 2);
  modules_.push_back(std::move(entry));
  return static_cast<int>(modules_.size() - 1);
}

void StackTraceRun::Run() {
  stackTop_ = in_.stackTop;
  stackBottom_ = in_.stackBottom;
  if (stackTop_ == 0 || stackBottom_ == 0) {
    uint32_t top = 0, bottom = 0;
    if (mem_.CurrentStack(top, bottom)) {
      if (stackTop_ == 0) stackTop_ = top;
      if (stackBottom_ == 0) stackBottom_ = bottom;
    }
  }
  uint32_t probe;
  if (stackTop_ <= stackBottom_ || !mem_.Read(stackBottom_, &probe, 4)) return;
  readable_ = mem_.ReadableMap();
  map_ = readable_.ranges.empty() ? nullptr : &readable_;

  // Each phase runs under its own guard; a failure names the phase in the trace's text.
  struct Step {
    const char* name;
    void (StackTraceRun::*run)();
  };
  static constexpr Step kSteps[] = {
      {"CollectPossibleStackItems", &StackTraceRun::Collect},
      {"RemoveRecursiveStackAreas", &StackTraceRun::RemoveRecursiveStackAreas},
      {"InDeepChecks", &StackTraceRun::InDeepChecks},
      {"RealizeOptimalLinkChains", &StackTraceRun::RealizeOptimalLinkChains},
      {"RemoveRecursiveAreas", &StackTraceRun::RemoveRecursiveAreas},
      {"FillFinalOutput", &StackTraceRun::FillFinalOutput},
      {"ComposeResult", &StackTraceRun::ComposeResult},
  };
  for (const Step& step : kSteps) {
    CheckAbort();
    try {
      (this->*step.run)();
    } catch (const TraceAborted&) {
      throw;
    } catch (...) {
      throw PhaseFailure{step.name};
    }
  }
}

namespace {

// The text of a trace whose phase failed: the internal error and, in an exception, where it
// happened.
std::string PhaseFailureText(StackMemory& memory, const char* phase,
                             const TraceStackInput& input) {
  std::string text =
      InternalErrorText(memory, phase, input.showRelAddrs, input.showRelLines,
                        input.handledExceptionAddress);
  if (input.isException) {
    text += "\r\n>> original exception location: \r\n";
    try {
      text += StackAddressText(memory, input.currentAddress, input.showRelAddrs,
                               input.showRelLines);
    } catch (...) {
      text += Hex8(input.currentAddress);
    }
  }
  return text;
}

}  // namespace

void StackWalker::TraceStack(const TraceStackInput& input, TraceStackOutput& output,
                             std::vector<std::string>* minDebugInfo) {
  output = TraceStackOutput();
  try {
    StackTraceRun run(*this, input, output, minDebugInfo);
    run.Run();
  } catch (const TraceAborted&) {
    output = TraceStackOutput();
    output.aborted = true;
  } catch (const PhaseFailure& failure) {
    output = TraceStackOutput();
    output.text = PhaseFailureText(memory_, failure.phase, input);
  } catch (...) {
    output = TraceStackOutput();
  }
}

}  // namespace qx
