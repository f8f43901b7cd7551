// ParseFunction: follows a function's branches into code areas, recognises case jump tables,
// exception-frame set-up and the runtime's exception tables, and collects the branches that
// leave the function.
#include "function_analysis.h"

#include <algorithm>
#include <iterator>
#include <cstring>

#include "pe_image.h"

namespace qx {

TRuntimeRoutines DefaultRuntimeRoutines;
uint32_t HostCppExceptionRoutine = 0;

namespace {

constexpr uint32_t kGapLimit = 1024;
constexpr size_t kMaxAreas = 50000;
constexpr uint32_t kMaxInstructions = 4000000;
constexpr uint32_t kMaxTableEntries = 65536;
// No real function's code lies further than this from its entry: a branch beyond it leaves
// the function, and straight-line code that runs past it is no function. This bounds what a
// misread branch can pull in (an analysis that ran through a whole library).
constexpr uint32_t kMaxFunctionSpan = 256 * 1024;
// How far a called routine is followed to see whether it comes back: instructions per
// routine, nested calls, and instructions in all for one call.
constexpr unsigned kNoReturnScan = 64;
constexpr int kNoReturnDepth = 4;
constexpr unsigned kNoReturnBudget = 512;

// Exported routines that end the process or the thread.
bool IsTerminatingName(const std::string& exported) {
  static const char* const kNames[] = {
      "ExitProcess", "ExitThread", "FatalExit", "FatalAppExitA", "FatalAppExitW",
      "RtlExitUserProcess", "RtlExitUserThread", "exit", "_exit", "_Exit", "abort",
      "quick_exit", "_amsg_exit", "__stack_chk_fail", "_invalid_parameter_noinfo_noreturn"};
  std::string name = exported.substr(0, exported.find('@', 1));  // stdcall "@12"
  for (const char* known : kNames) {
    if (name == known || (name.size() > 1 && name[0] == '_' && name.compare(1, std::string::npos, known) == 0)) {
      return true;
    }
  }
  return false;
}

// Exported routines that come back although no path through their code ends in a return:
// they capture the caller's context and the system resumes it (a continued exception, an
// unwind that reached its target frame). Judged by their code they would end their
// caller's code area, and a thread naming itself with RaiseException would lose every
// call after it.
bool IsResumingName(const std::string& exported) {
  static const char* const kNames[] = {"RaiseException", "RtlRaiseException",
                                       "NtRaiseException", "ZwRaiseException", "RtlUnwind"};
  std::string name = exported.substr(0, exported.find('@', 1));
  if (name.size() > 1 && name[0] == '_') name.erase(0, 1);
  for (const char* known : kNames) {
    if (name == known) return true;
  }
  return false;
}

bool SameState(const TRegState& a, const TRegState& b) {
  return std::memcmp(a.regs, b.regs, sizeof a.regs) == 0;
}

void KeepEqual(TRegState& into, const TRegState& other) {
  for (int i = 0; i < 8; ++i) {
    if (into.regs[i] != other.regs[i]) into.regs[i] = 0;
  }
}

bool IsReturn(uint16_t op) {
  return op == 0xC2 || op == 0xC3 || op == 0xCA || op == 0xCB || op == 0xCF;
}

bool IsUnconditionalJump(const TInstrInfo& info) {
  const uint16_t op = info.opcode;
  if (op == 0xE9 || op == 0xEA || op == 0xEB) return true;
  if (op != 0xFF) return false;
  unsigned reg = (info.modRm >> 3) & 7;
  return reg == 4 || reg == 5;
}

class Analysis {
 public:
  Analysis(CodeMemory& memory, const TDATryRead* map, const TRuntimeRoutines& routines,
           TFunctionInfo& info)
      : memory_(memory), map_(map), routines_(routines), info_(info) {}

  void Run(uint32_t entry);

 private:
  bool Read32(uint32_t address, uint32_t& value) {
    return ReadGuarded(memory_, address, &value, 4, map_);
  }
  void WorkOutCodeRange(const TMemoryRegion& region);
  int AddArea(uint32_t address, uint32_t branchFrom, const TRegState& state);
  bool IsBoundary(uint32_t begin, uint32_t address);
  int FirstUnparsed() const;
  bool ParseArea(int index);
  bool HandleBranch(const TInstrInfo& instr, const TRegState& state);
  bool HandleSpecialTarget(const TInstrInfo& instr, const TRegState& state);
  void HandleHostCppHandler(const TInstrInfo& instr, const TRegState& state);
  bool RetryUnresolved();
  bool TryGap(bool& finished);
  void RemoveUnresolved(uint32_t start);
  bool HasExportName(uint32_t address);
  bool DoesNotReturn(uint32_t target, int depth = 0);
  bool AllPathsEnd(uint32_t entry, int depth);
  bool Fail(uint32_t address);
  void Finish();

  CodeMemory& memory_;
  const TDATryRead* map_;
  TRuntimeRoutines routines_;
  TFunctionInfo& info_;
  uint32_t rangeBegin_ = 0;
  uint32_t rangeEnd_ = 0;
  int parsing_ = -1;
  uint32_t instructions_ = 0;
  bool failed_ = false;
  std::vector<std::pair<uint32_t, bool>> noReturn_;  // routines already looked at
  unsigned noReturnBudget_ = 0;
};

void Analysis::WorkOutCodeRange(const TMemoryRegion& region) {
  rangeBegin_ = region.base;
  rangeEnd_ = region.base + region.size;
  const uint32_t base = region.allocationBase;
  PeImage image(memory_, base, PeLayout::kLoaded);
  if (!image.Open()) return;
  const PeHeaders& headers = image.Headers();
  PeSection first, second;
  uint32_t begin = 0, end = 0;
  if (image.Section(0, first) && first.IsCode()) {
    begin = base + first.virtualAddress;
    end = begin + first.MappedSize();
    if (image.Section(1, second) && second.IsCode()) {
      end = base + second.virtualAddress + second.MappedSize();
    }
  } else {
    begin = base + headers.baseOfCode;
    end = begin + headers.sizeOfCode;
  }
  end = std::max(end, base + headers.baseOfData + headers.sizeOfInitializedData +
                          headers.sizeOfUninitializedData);
  if (end > begin) {
    rangeBegin_ = begin;
    rangeEnd_ = end;
  }
}

// Whether a call to target never comes back. Such a call ends its code area like a ret, so
// that the analysis does not run on into whatever the compiler placed after it (padding, or
// the next function). A routine does not return when it is the runtime's halt routine, is
// exported under the name of a routine that ends the process or thread, or when every path
// through its code ends in a jump to itself, ud2, int3, hlt or a call that does not return,
// without any return or branch that cannot be followed; a routine known to resume its
// caller's context (IsResumingName) always returns. The look is bounded: 64 instructions
// a routine, four levels of calls, 512 instructions for one call of the function analysed;
// beyond that the routine counts as returning.
bool Analysis::DoesNotReturn(uint32_t target, int depth) {
  if (target == 0) return false;
  if (target == routines_.haltRoutine) return true;
  for (const auto& [address, result] : noReturn_) {
    if (address == target) return result;
  }
  if (depth == 0) noReturnBudget_ = kNoReturnBudget;
  const std::string name = FunctionNameAt(memory_, target, nullptr);
  const bool result =
      !IsResumingName(name) && (IsTerminatingName(name) || AllPathsEnd(target, depth));
  if (noReturn_.size() < 256) noReturn_.push_back({target, result});
  return result;
}

bool Analysis::AllPathsEnd(uint32_t entry, int depth) {
  uint32_t pending[16];
  unsigned pendingCount = 0;
  uint32_t seen[kNoReturnScan];
  unsigned seenCount = 0;
  pending[pendingCount++] = entry;
  while (pendingCount > 0) {
    uint32_t at = pending[--pendingCount];
    for (;;) {
      if (std::find(seen, seen + seenCount, at) != seen + seenCount) break;  // joins a path
      if (seenCount == kNoReturnScan || noReturnBudget_ == 0) return false;
      seen[seenCount++] = at;
      --noReturnBudget_;
      const TInstrInfo instr = DecodeInstruction(memory_, at, nullptr, false, map_);
      if (!instr.isValid || instr.next <= at) return false;
      const uint16_t op = instr.opcode;
      if (op == 0x0F0B || op == 0xCC || op == 0xF4) break;  // ud2, int3, hlt
      if (IsReturn(op)) return false;
      if (instr.isCall) {
        if (depth < kNoReturnDepth && DoesNotReturn(instr.target, depth + 1)) break;
      } else if (IsUnconditionalJump(instr)) {
        if (instr.target == 0) return false;
        if (instr.target == instr.start) break;  // a jump to itself
        if (instr.target == routines_.haltRoutine ||
            IsTerminatingName(FunctionNameAt(memory_, instr.target, nullptr))) {
          break;  // a tail call of a terminating routine
        }
        at = instr.target;
        continue;
      } else if (instr.isJump) {
        if (instr.target == 0 || pendingCount == std::size(pending)) return false;
        pending[pendingCount++] = instr.target;
      }
      at = instr.next;
    }
  }
  return true;
}

// Whether an instruction of the code starting at begin starts at address.
bool Analysis::IsBoundary(uint32_t begin, uint32_t address) {
  uint32_t at = begin;
  while (at < address) {
    TInstrInfo instr = DecodeInstruction(memory_, at, nullptr, false, map_);
    if (!instr.isValid || instr.next <= at) return false;
    at = instr.next;
  }
  return at == address;
}

// Makes address the start of an area; returns its index, or -1 when the address lies
// inside an instruction or a data block (the function then fails).
int Analysis::AddArea(uint32_t address, uint32_t branchFrom, const TRegState& state) {
  auto& areas = info_.codeAreas;
  for (size_t i = 0; i < areas.size(); ++i) {
    TCodeArea& area = areas[i];
    if (area.begin == address) {
      if (branchFrom != 0 &&
          (area.branchFrom == 0 ||
           (branchFrom > std::min(area.branchFrom, area.begin) &&
            branchFrom < std::max(area.branchFrom, area.begin)))) {
        area.branchFrom = branchFrom;
      }
      KeepEqual(area.regState, state);
      return static_cast<int>(i);
    }
  }
  for (size_t i = 0; i < areas.size(); ++i) {
    TCodeArea& area = areas[i];
    if (area.end == 0 || address < area.begin || address > area.end) continue;
    if (area.isCaseTable || area.isExceptTable || !IsBoundary(area.begin, address)) {
      Fail(address);
      return -1;
    }
    TCodeArea rest = area;
    rest.begin = address;
    rest.branchFrom = branchFrom;
    KeepEqual(rest.regState, state);
    area.end = address - 1;
    if (areas.size() >= kMaxAreas) {
      Fail(address);
      return -1;
    }
    areas.push_back(rest);
    if (parsing_ == static_cast<int>(i)) parsing_ = static_cast<int>(areas.size() - 1);
    return static_cast<int>(areas.size() - 1);
  }
  if (areas.size() >= kMaxAreas) {
    Fail(address);
    return -1;
  }
  TCodeArea area{};
  area.begin = address;
  area.branchFrom = branchFrom;
  area.regState = state;
  areas.push_back(area);
  return static_cast<int>(areas.size() - 1);
}

int Analysis::FirstUnparsed() const {
  for (size_t i = 0; i < info_.codeAreas.size(); ++i) {
    if (info_.codeAreas[i].end == 0) return static_cast<int>(i);
  }
  return -1;
}

bool Analysis::Fail(uint32_t address) {
  if (!failed_) {
    failed_ = true;
    info_.lastErrorAddr = address;
    info_.lastErrorCode = kErrorInvalidCode;
    info_.lastErrorText = "Invalid code!";
  }
  return false;
}

void Analysis::RemoveUnresolved(uint32_t start) {
  auto& list = info_.unresolvedCalls;
  list.erase(std::remove_if(list.begin(), list.end(),
                            [&](const TUnresolvedCall& u) { return u.start == start; }),
             list.end());
}

bool Analysis::HasExportName(uint32_t address) {
  TModuleInfo module;
  return memory_.ModuleAt(address, module) &&
         !ExportNameAt(memory_, module.base, address, false).empty();
}

void Analysis::HandleHostCppHandler(const TInstrInfo& instr, const TRegState& state) {
  const TCodeArea& area = info_.codeAreas[parsing_];
  uint32_t descriptor = 0;
  for (uint32_t at = area.begin; at < instr.start;) {
    TInstrInfo step = DecodeInstruction(memory_, at, nullptr, false, map_);
    if (!step.isValid || step.next <= at) break;
    if (step.opcode == 0xB8 && step.next - step.start == 5) Read32(step.start + 1, descriptor);
    at = step.next;
  }
  // A mov eax, imm32 changes the register state and so ends its area: the branch then
  // starts the next area, whose snapshot still knows where eax got its value.
  if (descriptor == 0 && state.regs[0] != 0) Read32(state.regs[0], descriptor);
  if (descriptor == 0) return;
  uint16_t kind = 0;
  if (!ReadGuarded(memory_, descriptor + 10, &kind, 2, map_)) return;
  uint32_t handler = 0;
  if (kind == 0) {
    if (Read32(descriptor + 12, handler) && handler) AddArea(handler, instr.start, state);
  } else if (kind == 1 || kind == 2) {
    if (Read32(descriptor + 16, handler) && handler) AddArea(handler, instr.start, state);
  } else if (kind == 3) {
    uint32_t table = 0;
    if (!Read32(descriptor + 12, table) || table == 0) return;
    for (uint32_t i = 0; i < kMaxTableEntries && !failed_; ++i) {
      if (!Read32(table + 8 + i * 20, handler) || handler == 0) break;
      AddArea(handler, instr.start, state);
    }
  }
}

// Returns true when the target was one of the runtime's special routines.
bool Analysis::HandleSpecialTarget(const TInstrInfo& instr, const TRegState& state) {
  const uint32_t target = instr.target;
  if (target == 0) return false;
  if (target == routines_.catchAllHandler || target == routines_.finallyHandler) {
    AddArea(instr.next, instr.start, state);
    if (target == routines_.finallyHandler && instr.isJump) {
      TInstrInfo after = DecodeInstruction(memory_, instr.next, nullptr, false, map_);
      uint8_t push = 0;
      uint32_t pushed = 0;
      if (after.isValid && after.isJump && after.target >= info_.entryPoint &&
          after.target < instr.start && after.target - info_.entryPoint >= 5 &&
          ReadGuarded(memory_, after.target - 5, &push, 1, map_) && push == 0x68 &&
          Read32(after.target - 4, pushed) && pushed > info_.entryPoint) {
        AddArea(pushed, after.start, state);
      }
    }
    return true;
  }
  if (target == routines_.typedHandler) {
    uint32_t count = 0;
    if (Read32(instr.next, count) && count < kMaxTableEntries) {
      const int table = AddArea(instr.next, instr.start, state);
      if (table >= 0) {
        TCodeArea& block = info_.codeAreas[table];
        block.isExceptTable = true;
        block.end = instr.next + count * 8 + 4 - 1;
        for (uint32_t i = 0; i < count && !failed_; ++i) {
          uint32_t handler = 0;
          if (Read32(instr.next + 4 + i * 8 + 4, handler) && handler) {
            AddArea(handler, instr.start, state);
          }
        }
      }
    }
    return true;
  }
  if (target == routines_.plainHandler) return true;
  if (HostCppExceptionRoutine != 0 && target == HostCppExceptionRoutine) {
    HandleHostCppHandler(instr, state);
    return true;
  }
  return false;
}

bool Analysis::HandleBranch(const TInstrInfo& instr, const TRegState& state) {
  if (!instr.isCall && !instr.isJump) return true;
  if (instr.targetFieldAddr == 0 && instr.targetSlotAddr == 0) {
    auto& list = info_.unresolvedCalls;
    bool known = std::any_of(list.begin(), list.end(),
                             [&](const TUnresolvedCall& u) { return u.start == instr.start; });
    if (!known) list.push_back({instr.isCall != 0, instr.start, instr.next});
    return true;
  }
  const bool special = HandleSpecialTarget(instr, state);
  if (failed_) return false;
  const bool outside = instr.target < rangeBegin_ || instr.target >= rangeEnd_;
  if ((instr.targetSize == 4 && instr.isCall) || outside || special) {
    TFarCall far{instr.isCall != 0, instr.start, instr.next, instr.target,
                 instr.isRelTarget != 0, instr.targetFieldAddr, instr.targetSlotAddr};
    uint8_t first = 0;
    if (instr.target && ReadGuarded(memory_, instr.target, &first, 1, map_) &&
        (first == 0xE9 || first == 0xEB || first == 0xFF) && !HasExportName(instr.target)) {
      TInstrInfo thunk = DecodeInstruction(memory_, instr.target, nullptr, false, map_);
      if (thunk.isValid && thunk.target && HasExportName(thunk.target)) far.target = thunk.target;
    }
    auto& list = info_.farCalls;
    if (std::none_of(list.begin(), list.end(),
                     [&](const TFarCall& f) { return f.next == far.next; })) {
      list.push_back(far);
    }
  } else if (AddArea(instr.target, instr.start, state) < 0) {
    return false;
  }
  RemoveUnresolved(instr.start);
  return true;
}

bool Analysis::ParseArea(int index) {
  parsing_ = index;
  auto& areas = info_.codeAreas;
  const uint32_t begin = areas[index].begin;
  uint32_t limit = rangeEnd_;
  for (const TCodeArea& other : areas) {
    if (other.begin > begin && other.begin < limit) limit = other.begin;
  }
  if (begin < rangeBegin_ || begin >= rangeEnd_) return Fail(begin);
  TRegState state = areas[index].regState;
  uint32_t at = begin;
  uint32_t frameHandler = 0;  // pushed by a push imm32 that a 64h byte follows
  int caseStage = 0;          // 1: after cmp reg, imm8; 2: after its ja/jae
  uint32_t caseCount = 0;
  unsigned caseRegister = 0;
  for (;;) {
    if (++instructions_ > kMaxInstructions) return Fail(at);
    const TRegState before = state;
    const TInstrInfo instr = DecodeInstruction(memory_, at, &state, false, map_);
    if (!instr.isValid) return Fail(instr.next);
    if (instr.next > limit) return Fail(instr.next);
    areas[parsing_].end = instr.next - 1;
    const uint32_t length = instr.next - instr.start;
    uint8_t bytes[16] = {};
    memory_.Read(instr.start, bytes, std::min<uint32_t>(length, sizeof bytes));
    const uint16_t op = instr.opcode;

    if (frameHandler != 0) {
      const bool viaRegister = length == 3 && bytes[0] == 0x64 && bytes[1] == 0xFF &&
                               bytes[2] >= 0x30 && bytes[2] <= 0x37 &&
                               before.regs[bytes[2] & 7] == 0;
      const bool absolute = length == 7 && bytes[0] == 0x64 && bytes[1] == 0xFF &&
                            bytes[2] == 0x35 && bytes[3] == 0 && bytes[4] == 0 &&
                            bytes[5] == 0 && bytes[6] == 0;
      const uint32_t handler = frameHandler;
      frameHandler = 0;
      if ((viaRegister || absolute) && AddArea(handler, instr.start, state) < 0) return false;
    }
    if (op == 0x68 && length == 5) {
      uint8_t following = 0;
      if (memory_.Read(instr.next, &following, 1) && following == 0x64) {
        std::memcpy(&frameHandler, bytes + 1, 4);
      }
    }

    if (caseStage == 2) {
      caseStage = 0;
      uint32_t table = 0;
      if (length == 7 && bytes[0] == 0xFF && bytes[1] == 0x24 &&
          bytes[2] == (0x85 | caseRegister << 3)) {
        std::memcpy(&table, bytes + 3, 4);
      }
      if (table != 0 && table == instr.next) {
        const int block = AddArea(table, instr.start, state);
        if (block < 0) return false;
        areas[block].isCaseTable = true;
        areas[block].end = table + caseCount * 4 - 1;
        for (uint32_t i = 0; i < caseCount; ++i) {
          uint32_t target = 0;
          if (!Read32(table + i * 4, target)) return Fail(table + i * 4);
          if (target >= rangeBegin_ && target < rangeEnd_ &&
              AddArea(target, instr.start, state) < 0) {
            return false;
          }
        }
        return true;
      }
    } else if (caseStage == 1) {
      caseStage = 0;
      if (op == 0x77 || op == 0x7F || op == 0x0F87 || op == 0x0F8F) {
        caseCount += 1;
        caseStage = 2;
      } else if (op == 0x73 || op == 0x7D || op == 0x0F83 || op == 0x0F8D) {
        caseStage = 2;
      }
    }
    if (op == 0x83 && instr.modRm >= 0xF8 && length == 3 && static_cast<int8_t>(bytes[2]) > 0) {
      caseStage = 1;
      caseCount = bytes[2];
      caseRegister = instr.modRm & 7;
    }

    if (IsReturn(op)) return true;
    if (instr.isCall || instr.isJump) {
      const size_t before = areas.size();
      if (!HandleBranch(instr, state)) return false;
      for (size_t i = before; i < areas.size(); ++i) {
        if (areas[i].begin > areas[parsing_].begin && areas[i].begin < limit) {
          limit = areas[i].begin;
        }
      }
      if (instr.next > limit) return Fail(instr.next);
      if (instr.target != 0 && instr.target == routines_.haltRoutine) return true;
      if (instr.isCall && DoesNotReturn(instr.target)) return true;
      if (IsUnconditionalJump(instr)) return true;
    }
    if (!SameState(before, state)) {
      return AddArea(instr.next, 0, state) >= 0;
    }
    if (instr.next >= limit) {
      return AddArea(instr.next, 0, state) >= 0;
    }
    at = instr.next;
  }
}

bool Analysis::RetryUnresolved() {
  auto& list = info_.unresolvedCalls;
  for (size_t i = list.size(); i-- > 0;) {
    if (i >= list.size()) continue;
    const TUnresolvedCall branch = list[i];
    for (size_t a = 0; a < info_.codeAreas.size(); ++a) {
      const TCodeArea& area = info_.codeAreas[a];
      if (area.end == 0 || area.isCaseTable || area.isExceptTable || branch.start < area.begin ||
          branch.start > area.end) {
        continue;
      }
      TRegState state = area.regState;
      TInstrInfo instr = DecodeInstruction(memory_, branch.start, &state, true, map_);
      if (instr.isValid && instr.target != 0) {
        parsing_ = static_cast<int>(a);
        if (!HandleBranch(instr, area.regState)) return false;
      }
      break;
    }
    if (FirstUnparsed() >= 0) break;
  }
  return true;
}

// The gap rule; finished is set when the analysis ends here.
bool Analysis::TryGap(bool& finished) {
  finished = true;
  const auto& list = info_.unresolvedCalls;
  if (std::none_of(list.begin(), list.end(), [](const TUnresolvedCall& u) { return !u.isCall; })) {
    return true;
  }
  std::vector<const TCodeArea*> sorted;
  for (const TCodeArea& area : info_.codeAreas) sorted.push_back(&area);
  std::sort(sorted.begin(), sorted.end(),
            [](const TCodeArea* a, const TCodeArea* b) { return a->begin < b->begin; });
  uint32_t highest = 0;
  for (const TCodeArea* area : sorted) highest = std::max(highest, area->end);
  uint32_t runEnd = sorted.front()->end;
  for (const TCodeArea* area : sorted) {
    if (area->begin > runEnd + 1) break;
    runEnd = std::max(runEnd, area->end);
  }
  if (runEnd >= highest || highest - (runEnd + 1) >= kGapLimit) return true;
  // Parse the gap; when that fails, the function ends before it.
  TFunctionInfo saved = info_;
  TRegState unknown{};
  int index = AddArea(runEnd + 1, 0, unknown);
  if (index >= 0 && ParseArea(index)) {
    finished = false;
    return true;
  }
  info_ = std::move(saved);
  failed_ = false;
  return true;
}

void Analysis::Finish() {
  if (failed_) {
    info_.isValid = false;
    return;
  }
  auto& areas = info_.codeAreas;
  info_.isValid = true;
  uint32_t lowest = 0xFFFFFFFF, highest = 0;
  for (const TCodeArea& area : areas) {
    lowest = std::min(lowest, area.begin);
    highest = std::max(highest, area.end);
  }
  info_.codeBegin = lowest;
  info_.codeLength = highest - lowest + 1;
  info_.copySize = info_.codeLength + 4;
  for (const TFarCall& far : info_.farCalls) {
    if (far.targetSlotAddr != 0) info_.copySize += 4;
  }
  // The plain chain of areas from the entry, and the branches in its first six bytes.
  const uint32_t entry = info_.entryPoint;
  uint32_t chainEnd = entry - 1;
  for (bool grown = true; grown;) {
    grown = false;
    for (const TCodeArea& area : areas) {
      if (area.begin != chainEnd + 1 || area.isCaseTable || area.isExceptTable) continue;
      if (area.begin != entry && area.branchFrom != 0) continue;
      chainEnd = area.end;
      grown = true;
      break;
    }
  }
  bool copyable = chainEnd + 1 - entry > 5;
  for (uint32_t at = entry; copyable && at < entry + 6;) {
    TInstrInfo instr = DecodeInstruction(memory_, at, nullptr, false, map_);
    if (!instr.isValid || instr.next <= at) break;
    if ((instr.isCall || instr.isJump) && instr.targetFieldAddr != 0 && instr.targetSize < 4 &&
        !instr.canEnlarge) {
      copyable = false;
    }
    at = instr.next;
  }
  info_.isCopyable = copyable;
}

void Analysis::Run(uint32_t entry) {
  info_ = TFunctionInfo();
  info_.entryPoint = entry;
  info_.codeAreas.reserve(8);
  TMemoryRegion region;
  if (entry == 0 || !memory_.QueryRegion(entry, region) || !region.committed) {
    info_.lastErrorAddr = entry;
    info_.lastErrorCode = kErrorInvalidParameter;
    info_.lastErrorText = memory_.ErrorText(kErrorInvalidParameter);
    return;
  }
  WorkOutCodeRange(region);
  if (entry >= rangeBegin_ && entry - rangeBegin_ > kMaxFunctionSpan) {
    rangeBegin_ = entry - kMaxFunctionSpan;
  }
  if (entry < rangeEnd_ && rangeEnd_ - entry > kMaxFunctionSpan) {
    rangeEnd_ = entry + kMaxFunctionSpan;
  }
  TRegState unknown{};
  AddArea(entry, 0, unknown);
  while (!failed_) {
    int index = FirstUnparsed();
    if (index < 0) {
      if (!RetryUnresolved()) break;
      index = FirstUnparsed();
    }
    if (index < 0) {
      bool finished = true;
      if (!TryGap(finished) || finished) break;
      continue;
    }
    if (!ParseArea(index)) break;
  }
  Finish();
}

}  // namespace

TFunctionInfo ParseFunction(CodeMemory& memory, uint32_t entry, const TDATryRead* map,
                            const TRuntimeRoutines& routines) {
  TRuntimeRoutines effective = routines;
  const TRuntimeRoutines& defaults = DefaultRuntimeRoutines;
  if (!effective.catchAllHandler) effective.catchAllHandler = defaults.catchAllHandler;
  if (!effective.typedHandler) effective.typedHandler = defaults.typedHandler;
  if (!effective.plainHandler) effective.plainHandler = defaults.plainHandler;
  if (!effective.finallyHandler) effective.finallyHandler = defaults.finallyHandler;
  if (!effective.haltRoutine) effective.haltRoutine = defaults.haltRoutine;
  TFunctionInfo info;
  Analysis(memory, map, effective, info).Run(entry);
  return info;
}

}  // namespace qx
