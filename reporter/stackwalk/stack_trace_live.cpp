// Threads stopped where they wait: their context is known, so every frame must be the caller
// of the frame above it. Old return addresses that earlier calls left in the unused parts of
// the live frames (a buffer not yet written, padding) pass every other check; here a frame
// stays only when it is a sure frame (a slot of the frame-pointer chain) or its call goes to
// the function the newer frame runs in. A missing frame is preferred to a false one.
#include "stack_trace_internal.h"

namespace qx {

using namespace stackwalk;

namespace {

constexpr int kThunkDepth = 3;

}  // namespace

// The target of the call that ends at returnAddr: a relative call's, or the slot's of a call
// through an absolute slot (an import); 0 when it cannot be told.
uint32_t StackTraceRun::CallTargetEndingAt(uint32_t returnAddr, uint32_t* callStart) {
  // The common forms first: a relative call, a call through an absolute slot; the longer
  // forms could otherwise take bytes of the instruction before for their own.
  static constexpr uint32_t kBack[] = {5, 6, 2, 3, 4, 7};
  for (uint32_t back : kBack) {
    const uint32_t start = returnAddr - back;
    TInstrInfo instr = DecodeInstruction(mem_, start, nullptr, false, map_);
    if (!instr.isValid || !instr.isCall || instr.next != returnAddr) continue;
    if (callStart != nullptr) *callStart = start;
    if (instr.isRelTarget && instr.target != 0) return instr.target;
    uint8_t bytes[2];
    uint32_t slot = 0, target = 0;
    if (!Read(start, bytes, 2) || bytes[0] != 0xFF) return 0;
    if (bytes[1] == 0x15 && Read(start + 2, &slot, 4) && Read(slot, &target, 4)) return target;
    if (back == 2 && (bytes[1] & 0xF8) == 0xD0) return RegisterCallTarget(start, bytes[1] & 7);
    return 0;
  }
  return 0;
}

// The target of a call through a register that keeps its value across calls (ebx, ebp, esi,
// edi) when the function around the call loads that register from one absolute slot and
// writes it nowhere else: the compiler's way to call one imported routine several times, as
// a message loop calls GetMessage. Restoring the caller's value (pop) is no load. 0 when it
// cannot be told.
uint32_t StackTraceRun::RegisterCallTarget(uint32_t callStart, unsigned reg) {
  if (reg != 3 && reg != 5 && reg != 6 && reg != 7) return 0;
  const uint32_t entry = KnownFunctionStart(callStart);
  if (entry == 0) return 0;
  const int f = AnalyseFunction(entry, w_.ModuleIndex(entry), {}, false);
  const TFunctionInfo& info = Function(f).info;
  if (!info.isValid) return 0;
  // Each register starts as a value of its own: a write to reg changes its entry.
  constexpr uint32_t kUntouched = 0xFFFFFF00;
  uint32_t slot = 0;
  bool holdsCall = false;
  for (const TCodeArea& area : info.codeAreas) {
    if (area.end == 0 || area.isCaseTable || area.isExceptTable) continue;
    if (callStart >= area.begin && callStart <= area.end) holdsCall = true;
    for (uint32_t at = area.begin; at <= area.end;) {
      CheckAbort();
      TRegState state;
      for (unsigned i = 0; i < 8; ++i) state.regs[i] = kUntouched + i;
      const TInstrInfo instr = DecodeInstruction(mem_, at, &state, false, map_);
      if (!instr.isValid || instr.next <= at) return 0;
      uint8_t bytes[2] = {0, 0};
      Read(at, bytes, 2);
      const bool pop = instr.next - at == 1 && bytes[0] == 0x58 + reg;
      if (state.regs[reg] != kUntouched + reg && !pop) {
        // Only "mov reg, [slot]" (8Bh, ModR/M with mod 0 and r/m 5) loads it.
        uint32_t loaded = 0;
        if (instr.next - at != 6 || bytes[0] != 0x8B || bytes[1] != (0x05 | (reg << 3)) ||
            !Read(at + 2, &loaded, 4) || (slot != 0 && loaded != slot))
          return 0;
        slot = loaded;
      }
      at = instr.next;
    }
  }
  uint32_t target = 0;
  if (!holdsCall || slot == 0 || !Read(slot, &target, 4)) return 0;
  return target;
}

// Follows jumps at address (import stubs, thunks) to the code they lead to.
uint32_t StackTraceRun::ThroughThunks(uint32_t address) {
  for (int depth = 0; depth < kThunkDepth && address != 0; ++depth) {
    uint8_t bytes[2];
    uint32_t slot = 0, target = 0;
    if (Read(address, bytes, 2) && bytes[0] == 0xFF && bytes[1] == 0x25 &&
        Read(address + 2, &slot, 4) && Read(slot, &target, 4)) {
      address = target;
      continue;
    }
    TInstrInfo instr = DecodeInstruction(mem_, address, nullptr, false, map_);
    if (!instr.isValid || !instr.isJump || !instr.isRelTarget || instr.target == 0 ||
        instr.opcode != 0xE9)
      break;
    address = instr.target;
  }
  return address;
}

// Whether the function at entry (or one its far jumps reach) holds address.
bool StackTraceRun::FunctionHolds(uint32_t entry, uint32_t address, int depth) {
  const int module = w_.ModuleIndex(entry);
  ModuleEntry* m = ModuleOf(module);
  if (m == nullptr) return false;
  if (m->map) {
    const TMfPublic* pub = PublicAt(*m->map, address);
    if (pub != nullptr && pub->address == entry) return true;
  }
  const int f = AnalyseFunction(entry, module, {}, false);
  const TFunctionInfo& info = Function(f).info;
  for (const TCodeArea& area : info.codeAreas) {
    if (area.end != 0 && address >= area.begin && address <= area.end) return true;
  }
  if (depth >= kThunkDepth) return false;
  std::vector<uint32_t> jumps;
  for (const TFarCall& call : info.farCalls) {
    if (!call.isCall && call.target != 0 && call.target != entry) jumps.push_back(call.target);
  }
  for (uint32_t target : jumps) {
    if (FunctionHolds(target, address, depth + 1)) return true;
  }
  return false;
}

// Whether the function at entry calls (directly or through an import slot) a function that
// holds address: the caller of a frame the scan did not find.
bool StackTraceRun::CallsFunctionHolding(uint32_t entry, uint32_t address) {
  const int module = w_.ModuleIndex(entry);
  if (ModuleOf(module) == nullptr) return false;
  const int f = AnalyseFunction(entry, module, {}, false);
  std::vector<uint32_t> targets;
  for (const TFarCall& call : Function(f).info.farCalls) {
    if (call.isCall && call.target != 0) targets.push_back(call.target);
  }
  for (const TUnresolvedCall& call : Function(f).info.unresolvedCalls) {
    if (!call.isCall) continue;
    if (uint32_t target = CallTargetEndingAt(call.next)) targets.push_back(target);
  }
  for (uint32_t target : targets) {
    if (FunctionHolds(ThroughThunks(target), address, 0)) return true;
  }
  return false;
}

// The start of the function that holds address, as the map or the exports know it; 0 when
// unknown.
uint32_t StackTraceRun::KnownFunctionStart(uint32_t address) {
  ModuleEntry* m = ModuleOf(w_.ModuleIndex(address));
  if (m == nullptr) return 0;
  if (m->map) {
    const TMfPublic* pub = PublicAt(*m->map, address);
    return pub != nullptr ? pub->address : 0;
  }
  return ClosestExportBelow(*m, address);
}

// A frame whose call has no readable target (a call through a register) stays when the
// next candidate below it is a sure frame that calls into its function, and no other
// candidate in between returns into that function: of several return addresses into one
// function, the live one lies nearest to its caller's frame. Stale return addresses often
// form pairs that agree with each other; a sure frame does not come from old data.
bool StackTraceRun::ConfirmedByCaller(int index, int first) {
  const uint32_t code = LiveCodeAddr(ItemAt(index));
  const uint32_t start = KnownFunctionStart(code);
  for (int k = index - 1; k >= first; --k) {
    const Item& older = ItemAt(k);
    const uint32_t olderCode = LiveCodeAddr(older);
    if (start != 0 && KnownFunctionStart(olderCode) == start) return false;
    if (!older.isFrame) return false;
    const uint32_t target = CallTargetEndingAt(older.addr);
    return target == 0 || FunctionHolds(ThroughThunks(target), code, 0);
  }
  return false;
}

// The code address an item stands for before naming: its call, or the top's instruction.
uint32_t StackTraceRun::LiveCodeAddr(const Item& item) {
  if (const CallLink* own = OwnSiteLink(item)) return own->codeAddr;
  return item.addr;
}

void StackTraceRun::KeepLiveFrames() {
  const int first = in_.creatorAddress != 0 ? 1 : 0;
  uint32_t running = 0;  // an address in the function the newest kept frame runs in
  for (int i = ItemCount() - 1; i >= first; --i) {
    CheckAbort();
    // Every candidate is judged again, also those the chain scoring left out: the rules
    // here are stricter than the scores and do not need them.
    Item& item = ItemAt(i);
    item.hidden = false;
    if (item.isTop || running == 0) {
      running = item.isTop ? (in_.currentAddress != 0 ? in_.currentAddress : item.addr)
                           : LiveCodeAddr(item);
      continue;
    }
    // A sure frame stays (frames between it and the newer one may be missing); any other
    // stays only when its call goes to the function the newer frame runs in.
    bool keep = item.isFrame;
    if (!keep) {
      const uint32_t target = CallTargetEndingAt(item.addr);
      if (target != 0) {
        const uint32_t entry = ThroughThunks(target);
        keep = FunctionHolds(entry, running, 0) || CallsFunctionHolding(entry, running);
      } else {
        keep = ConfirmedByCaller(i, first);
      }
    }
    if (!keep) {
      item.hidden = true;
      continue;
    }
    // A frame the scoring had left out has no call site yet: the decoded call gives it.
    if (OwnSiteLink(item) == nullptr) {
      uint32_t callStart = 0;
      CallTargetEndingAt(item.addr, &callStart);
      if (callStart != 0) {
        CallLink site;
        site.codeAddr = callStart;
        item.lists[kToCallers].Add(site);
      }
    }
    running = LiveCodeAddr(item);
  }
}

}  // namespace qx
