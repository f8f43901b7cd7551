// Candidates: the stack values that follow a call into module code. Every slot is offered;
// a value is kept when the bytes before it encode a call, it lies in a module's code or
// data, and the call is found in the function around it (or the slot is a sure frame).
#include <algorithm>

#include "stack_trace_internal.h"

namespace qx {

using namespace stackwalk;

bool stackwalk::CurrentIsCode(CodeMemory& memory, const TDATryRead* map, uint32_t address) {
  uint8_t probe = 0;
  return address > 7 && ReadGuarded(memory, address, &probe, 1, map);
}

bool CouldBeReturnAddress(uint32_t value, const uint8_t b[8]) {
  if (value <= 7) return false;
  if (b[3] == 0xE8) return true;  // V-5
  // FFh at V-k followed by a ModR/M byte whose reg field is 2 or 3.
  static constexpr int kBack[] = {2, 3, 4, 6, 7};
  for (int k : kBack) {
    if (b[8 - k] == 0xFF && ((b[9 - k] >> 4) & 3) == 1) return true;
  }
  return b[1] == 0x9A;  // V-7
}

// The return address inside the runtime's try-finally exit routine, which is never a frame
// of its own; 0 when the routine is unknown.
uint32_t StackTraceRun::TryFinallyExit() {
  if (DefaultRuntimeRoutines.finallyHandler == 0) return 0;
  TFunctionInfo info = ParseFunction(mem_, DefaultRuntimeRoutines.finallyHandler, map_);
  if (info.isValid && info.unresolvedCalls.size() == 1) return info.unresolvedCalls[0].next;
  return 0;
}

void StackTraceRun::Collect() {
  tryFinallyExit_ = TryFinallyExit();
  atCode_ = in_.isException && CurrentIsCode(mem_, map_, in_.currentAddress);
  callLanded_ = in_.isException && !atCode_;
  if (in_.creatorAddress != 0) Offer(0, in_.creatorAddress, false, false);
  if (!Prepared()) {
    chain_ = FramePointerChain(mem_, map_, in_.framePointer, stackTop_, stackBottom_);
    chainCursor_.Reset(&chain_);
  }
  Progress(0);
  if (Prepared()) {
    CollectPrepared();
  } else if (stackTop_ >= stackBottom_ + 4) {
    CollectSlots();
  }
  if (!in_.dontAddTopItem && (items_.empty() || !items_.back().isTop)) {
    // A fault at address 0 is shown as such, above the call that went there.
    uint32_t current = in_.currentAddress;
    if (current != 0 || in_.isException) Offer(0, current, true, false);
  }
  Progress(25);
}

void StackTraceRun::CollectPrepared() {
  const TDAPreStackItem& stack = *in_.preparedStack;
  size_t count = std::min<size_t>(stack[0].value, stack.size() - 1);
  for (size_t i = 1; i <= count && !topAdded_; ++i) {
    if ((i & 63) == 0) CheckAbort();
    Offer(0, stack[i].value, false, stack[i].flag != 0);
  }
}

void StackTraceRun::CollectSlots() {
  const uint32_t total = stackTop_ - stackBottom_;
  std::vector<uint32_t> slots(total / 4);
  bool whole = Read(stackBottom_, slots.data(), static_cast<uint32_t>(slots.size() * 4));
  for (uint32_t slot = stackTop_ - 4; slot >= stackBottom_ && !topAdded_; slot -= 4) {
    if (((stackTop_ - slot) & 0xFFF) == 0) {
      CheckAbort();
      Progress(static_cast<int>(static_cast<uint64_t>(stackTop_ - slot) * 25 / total));
    }
    uint32_t value = 0;
    if (whole) {
      value = slots[(slot - stackBottom_) / 4];
    } else if (!Read(slot, &value, 4)) {
      if (slot < stackBottom_ + 4) break;
      continue;
    }
    size_t before = items_.size();
    Offer(slot, value, false, callLanded_ && slot == stackBottom_);
    if (items_.size() > before && items_.back().isFrame && !items_.back().isTop &&
        chainCursor_.At(slot)) {
      slot -= 4;  // the saved frame pointer below a return slot
    }
    if (slot < stackBottom_ + 4) break;
  }
}

void StackTraceRun::Offer(uint32_t slot, uint32_t value, bool topFlag, bool preparedFlag) {
  if (value == tryFinallyExit_ && value != 0) return;
  Candidate c;
  if (!StartCandidate(value, topFlag, c)) return;
  // Chain slots are ascending; the scan walks down.
  bool chainSlot = preparedFlag;
  if (slot != 0) chainSlot = chainCursor_.Reach(slot) || preparedFlag;
  CallSite site;
  int function = -1;
  bool found = FindCallSite(c, site, function);
  if (c.top && !found) found = PlaceTopWithoutCall(c, site, function);
  if (!c.top && !found && !chainSlot) return;
  AddItem(c, c.top || chainSlot || preparedFlag, site, found, function);
}

// Fills the candidate for value; false when it cannot be a return address (or top item).
bool StackTraceRun::StartCandidate(uint32_t value, bool topFlag, Candidate& c) {
  const bool top = topFlag || (atCode_ && value == in_.currentAddress);
  c.value = value;
  c.creator = items_.empty() && in_.creatorAddress != 0;
  c.top = top || c.creator;
  c.addr = value;
  c.search = value - 1;
  if (c.top) {
    c.search = value;
    TInstrInfo instr = DecodeInstruction(mem_, value, nullptr, false, map_);
    if (instr.isValid) {
      c.codeAddr = value;
      c.addr = instr.next;
    }
  } else {
    uint8_t bytes[8];
    if (!Read(c.addr - 8, bytes, 8) || !CouldBeReturnAddress(c.addr, bytes)) return false;
  }
  TMemoryRegion region;
  bool committed = mem_.QueryRegion(value, region) && region.committed &&
                   region.allocationBase != 0;
  if (!committed && !(c.top && in_.isException)) return false;
  c.module = w_.ModuleIndex(value);
  ModuleEntry* m = ModuleOf(c.module);
  if (m != nullptr && !c.top) {
    bool inCode = c.search >= m->codeBegin && c.search < m->codeEnd;
    bool inData = value >= m->dataBegin && value < m->dataEnd;
    if (!inCode && !inData) return false;
  }
  return true;
}

// The call that the candidate returns from, in the function around it.
bool StackTraceRun::FindCallSite(const Candidate& c, CallSite& site, int& function) {
  ModuleEntry* m = ModuleOf(c.module);
  if (m == nullptr || c.search < m->codeBegin || c.search >= m->codeEnd) return false;
  if (m->map) return FindCallInMappedModule(c, *m, site, function);
  if (m->base != mem_.MainModuleBase()) return FindCallNearExport(c, *m, site, function);
  return false;
}

bool StackTraceRun::FindCallInMappedModule(const Candidate& c, ModuleEntry& m, CallSite& site,
                                           int& function) {
  const TMfPublic* pub = PublicAt(*m.map, c.search);
  if (pub == nullptr) return false;
  int f = AnalyseFunction(pub->address, c.module, {}, true);
  if (LookupCallSiteFollowing(f, c.addr, c.top, site, function)) return true;
  return FindCallInCodeParts(c, m, f, pub->address, site, function);
}

// Code parts reached by far branches from the function, analysed on their own.
bool StackTraceRun::FindCallInCodeParts(const Candidate& c, ModuleEntry& m, int f,
                                        uint32_t publicAddr, CallSite& site, int& function) {
  std::vector<uint32_t> targets;
  const TFunctionInfo& info = Function(f).info;
  uint32_t functionEnd = info.codeBegin + info.codeLength;
  for (const TFarCall& call : info.farCalls) {
    if (call.isCall || call.target <= publicAddr) continue;
    if (call.target >= functionEnd) {
      const TMfPublic* other = PublicAt(*m.map, call.target);
      if (other != nullptr && other->address != publicAddr) continue;
    }
    targets.push_back(call.target);
  }
  std::string baseName = Function(f).name;
  for (uint32_t target : targets) {
    int part = AnalyseFunction(target, c.module, baseName + ".@label", true);
    if (LookupCallSite(part, c.addr, c.top, site)) {
      function = part;
      return true;
    }
  }
  return false;
}

// A module without a map: the closest export below (or the entry point) starts the function.
bool StackTraceRun::FindCallNearExport(const Candidate& c, ModuleEntry& m, CallSite& site,
                                       int& function) {
  uint32_t start = ClosestExportBelow(m, c.search);
  if (start == 0) return false;
  int f = AnalyseFunction(start, c.module, {}, true);
  bool contains = false;
  for (const TCodeArea& area : Function(f).info.codeAreas) {
    if (area.end != 0 && c.search >= area.begin && c.search <= area.end) contains = true;
  }
  return contains && LookupCallSiteFollowing(f, c.addr, c.top, site, function);
}

// A top item whose call was not found keeps its own address; in an exception at an
// unreadable address a function record is forced there. True when that record was made.
bool StackTraceRun::PlaceTopWithoutCall(const Candidate& c, CallSite& site, int& function) {
  if (!in_.isException || in_.isExternal) {
    site = {c.value, false, 0};
    return false;
  }
  uint8_t probe;
  if (Read(c.value, &probe, 1)) {
    site = {c.codeAddr, false, 0};
    return false;
  }
  function = AnalyseFunction(c.value, c.module, {}, false, true);
  site = {c.value, false, 0};
  return true;
}

void StackTraceRun::AddItem(const Candidate& c, bool isFrame, const CallSite& site, bool found,
                            int function) {
  Item item;
  item.addr = c.addr;
  item.module = c.module;
  item.isFrame = isFrame;
  item.isTop = c.top && !c.creator;
  if (site.codeAddr != 0) {
    CallLink link;
    link.codeAddr = site.codeAddr;
    link.function = found ? function : -1;
    link.target = site.target;
    link.hasTarget = site.hasTarget;
    item.lists[kToCallers].Add(link);
  }
  if (items_.size() == items_.capacity()) items_.reserve(items_.empty() ? 64 : items_.size() * 2);
  items_.push_back(std::move(item));
  if (items_.back().isTop) topAdded_ = true;
}

TDAPreStackItem StackWalker::PrepareStack(uint32_t framePointer, uint32_t stackTop,
                                          uint32_t stackBottom, bool isException,
                                          uint32_t currentAddress, uint32_t& count) {
  count = 0;
  TDAPreStackItem result;
  try {
    if (stackTop == 0 || stackBottom == 0) {
      uint32_t top = 0, bottom = 0;
      if (memory_.CurrentStack(top, bottom)) {
        if (stackTop == 0) stackTop = top;
        if (stackBottom == 0) stackBottom = bottom;
      }
    }
    if (stackTop < stackBottom + 4) return result;
    std::vector<uint32_t> slots((stackTop - stackBottom) / 4);
    if (!memory_.Read(stackBottom, slots.data(), static_cast<uint32_t>(slots.size() * 4)))
      return result;
    TDATryRead readable = memory_.ReadableMap();
    const TDATryRead* map = readable.ranges.empty() ? nullptr : &readable;
    std::vector<uint32_t> chain = FramePointerChain(memory_, map, framePointer, stackTop,
                                                    stackBottom);
    ChainCursor cursor;
    cursor.Reset(&chain);
    // A fault where no code is (a call through a null or wild pointer) left the call's
    // return address at the stack pointer: that slot is a sure frame, and the fault address
    // found on the stack says nothing.
    const bool atCode = isException && CurrentIsCode(memory_, map, currentAddress);
    const bool callLanded = isException && !atCode;
    result.reserve(64);
    result.push_back({});
    for (uint32_t slot = stackTop - 4; slot >= stackBottom; slot -= 4) {
      uint32_t value = slots[(slot - stackBottom) / 4];
      if (atCode && value == currentAddress) break;
      bool chainSlot = cursor.Reach(slot) || (callLanded && slot == stackBottom);
      uint8_t bytes[8];
      if (value > 7 && ReadGuarded(memory_, value - 8, bytes, 8, map) &&
          CouldBeReturnAddress(value, bytes)) {
        if (result.size() == result.capacity()) result.reserve(result.size() * 2);
        result.push_back({static_cast<uint8_t>(chainSlot ? 1 : 0), value});
        if (chainSlot && slot >= stackBottom + 4) slot -= 4;
      }
      if (slot < stackBottom + 4) break;
    }
    count = static_cast<uint32_t>(result.size() - 1);
    if (count == 0) result.clear();
  } catch (...) {
    result.clear();
    count = 0;
  }
  return result;
}

}  // namespace qx
