// Deep checks: the functions around the candidates are analysed (and cached across traces)
// to confirm that the call before each return address is really there; confirmed calls link
// the candidate to the newer candidates inside the called function.
#include <algorithm>

#include "stack_trace_internal.h"

namespace qx {

using namespace stackwalk;

namespace {

// A forced record stands for code that cannot be parsed: it starts and ends at its entry.
void ForceValid(TFunctionInfo& info, uint32_t entry) {
  info.isValid = true;
  info.entryPoint = info.codeBegin = entry;
  info.codeLength = 0;
}

}  // namespace

std::string StackTraceRun::PublicNameAt(int module, uint32_t address) {
  ModuleEntry* m = ModuleOf(module);
  if (m == nullptr) return {};
  if (m->map) {
    std::string name = ProcNameInMap(*m->map, address);
    if (!name.empty()) return name;
  }
  return ExportNameAt(mem_, m->base, address, true);
}

// Another module with a map names its own runtime's handlers; the rest use this module's.
TRuntimeRoutines StackTraceRun::RuntimeRoutinesOf(int module) {
  TRuntimeRoutines routines = DefaultRuntimeRoutines;
  ModuleEntry* m = ModuleOf(module);
  if (m == nullptr || m->isSelf || !m->map) return routines;
  const TMapFile& map = *m->map;
  routines.catchAllHandler = PublicByName(map, true, "System", true, "@HandleAnyException");
  routines.typedHandler = PublicByName(map, true, "System", true, "@HandleOnException");
  routines.plainHandler = PublicByName(map, true, "System", true, "@HandleAutoException");
  routines.finallyHandler = PublicByName(map, true, "System", true, "@HandleFinally");
  routines.haltRoutine = PublicByName(map, true, "System", true, "@Halt0");
  return routines;
}

int StackTraceRun::AnalyseFunction(uint32_t entry, int module, const std::string& name,
                                   bool approve, bool force, int depth) {
  auto found = w_.functionByEntry_.find(entry);
  if (found != w_.functionByEntry_.end()) {
    int index = found->second;
    if (force && !Function(index).info.isValid) ForceValid(Function(index).info, entry);
    if (approve) Approve(index, depth);
    return index;
  }
  auto record = std::make_unique<FunctionEntry>();
  record->module = module;
  record->info = ParseFunction(mem_, entry, map_, RuntimeRoutinesOf(module));
  if (!record->info.isValid && force) ForceValid(record->info, entry);
  record->name = name.empty() ? PublicNameAt(module, entry) : name;
  if (w_.functions_.size() == w_.functions_.capacity())
    w_.functions_.reserve(w_.functions_.empty() ? 16 : w_.functions_.size() * 2);
  w_.functions_.push_back(std::move(record));
  int index = static_cast<int>(w_.functions_.size() - 1);
  w_.functionByEntry_[entry] = index;
  if (depth < kMaxJumpDepth) AnalyseFarJumps(index, approve, depth);
  if (approve) Approve(index, depth);
  return index;
}

// Far jumps of a new function lead into functions that share its frame.
void StackTraceRun::AnalyseFarJumps(int function, bool approve, int depth) {
  std::vector<TFarCall> jumps = Function(function).info.farCalls;
  for (const TFarCall& call : jumps) {
    if (call.isCall || call.target == 0) continue;
    int targetModule = w_.ModuleIndex(call.target);
    ModuleEntry* tm = ModuleOf(targetModule);
    if (tm == nullptr || call.target < tm->codeBegin || call.target >= tm->codeEnd) continue;
    AnalyseFunction(call.target, targetModule, {}, approve, false, depth + 1);
  }
}

// The function a call goes to, approved when its module has a map; -1 outside any module.
int StackTraceRun::AnalyseTarget(uint32_t target) {
  int module = w_.ModuleIndex(target);
  ModuleEntry* m = ModuleOf(module);
  if (m == nullptr) return -1;
  return AnalyseFunction(target, module, {}, m->map != nullptr);
}

void StackTraceRun::Approve(int function, int depth) {
  if (Function(function).approved) return;
  Function(function).approved = true;
  if (depth >= kMaxJumpDepth) return;
  for (const TFarCall& call : Function(function).info.farCalls) {
    if (call.isCall || call.target == 0) continue;
    auto found = w_.functionByEntry_.find(call.target);
    if (found != w_.functionByEntry_.end()) Approve(found->second, depth + 1);
  }
}

uint32_t StackTraceRun::ClosestExportBelow(ModuleEntry& m, uint32_t address) {
  if (!m.exportsRead) {
    m.exportsRead = true;
    m.exports = ReadExportAddresses(mem_, m.base);
  }
  uint32_t best = 0;
  auto it = std::upper_bound(m.exports.begin(), m.exports.end(), address);
  if (it != m.exports.begin()) best = *(it - 1);
  if (m.entryPoint != 0 && m.entryPoint <= address && m.entryPoint > best) best = m.entryPoint;
  return best;
}

bool StackTraceRun::LookupCallSite(int function, uint32_t r, bool top, CallSite& site) {
  FunctionEntry& f = Function(function);
  if (f.invalidated || !f.info.isValid) return false;
  if (top) return LookupTopCallSite(f, r, site);
  for (const TUnresolvedCall& call : f.info.unresolvedCalls) {
    if (call.isCall && call.next == r) {
      site = {call.start, false, 0};
      return true;
    }
  }
  for (const TFarCall& call : f.info.farCalls) {
    if (call.isCall && call.next == r) {
      site = {call.start, call.target != 0, call.target};
      return true;
    }
  }
  return false;
}

// A top item is where the thread stood, not a return address: the instruction itself.
bool StackTraceRun::LookupTopCallSite(const FunctionEntry& f, uint32_t r, CallSite& site) {
  if (f.info.codeLength == 0) {
    if (f.info.entryPoint != r) return false;
    site = {r, false, 0};
    return true;
  }
  if (!in_.isExternal && in_.isException && LookupRaiseCall(f, r, site)) return true;
  return LookupInstructionEnding(f, r, site);
}

// An exception raised by our own code stands at the call of the raising routine.
bool StackTraceRun::LookupRaiseCall(const FunctionEntry& f, uint32_t r, CallSite& site) {
  for (const TFarCall& call : f.info.farCalls) {
    if (!call.isCall || call.next != r || call.target == 0) continue;
    std::string name = PublicNameAt(w_.ModuleIndex(call.target), call.target);
    if (name.find("@RaiseExcept") != std::string::npos ||
        name.find("Error") != std::string::npos) {
      site = {call.start, true, call.target};
      return true;
    }
  }
  return false;
}

// The instruction that ends at r, decoded from the start of the code area holding r.
bool StackTraceRun::LookupInstructionEnding(const FunctionEntry& f, uint32_t r, CallSite& site) {
  for (const TCodeArea& area : f.info.codeAreas) {
    if (area.isCaseTable || area.isExceptTable || area.end == 0) continue;
    if (r <= area.begin || r - 1 > area.end) continue;
    uint32_t at = area.begin;
    while (at < r) {
      TInstrInfo instr = DecodeInstruction(mem_, at, nullptr, false, map_);
      if (!instr.isValid || instr.next <= at) return false;
      if (instr.next == r) {
        site = {at, false, 0};
        return true;
      }
      at = instr.next;
    }
    return false;
  }
  return false;
}

bool StackTraceRun::LookupCallSiteFollowing(int function, uint32_t r, bool top, CallSite& site,
                                            int& foundIn, int depth) {
  if (LookupCallSite(function, r, top, site)) {
    foundIn = function;
    return true;
  }
  if (depth >= kMaxJumpDepth) return false;
  std::vector<uint32_t> targets;
  for (const TFarCall& call : Function(function).info.farCalls) {
    if (!call.isCall && call.target != 0) targets.push_back(call.target);
  }
  for (uint32_t target : targets) {
    auto found = w_.functionByEntry_.find(target);
    if (found == w_.functionByEntry_.end() || found->second == function) continue;
    if (LookupCallSiteFollowing(found->second, r, top, site, foundIn, depth + 1)) return true;
  }
  return false;
}

void StackTraceRun::InDeepChecks() {
  const int n = ItemCount();
  for (int i = firstVisible_; i < n; ++i) {
    CheckAbort();
    Progress(25 + static_cast<int>(static_cast<int64_t>(i) * 625 / std::max(n, 1)));
    if (!ItemAt(i).hidden) CheckItem(i);
  }
  Progress(650);
}

// Confirms one candidate's call: through an approved function's link, else through an
// approved function that contains it, else by decoding the calls that could end at it.
void StackTraceRun::CheckItem(int i) {
  const Item& item = ItemAt(i);
  for (const CallLink& link : item.lists[kToCallers].items) {
    if (link.function >= 0 && Function(link.function).approved &&
        !Function(link.function).invalidated) {
      FollowApprovedLink(i, link);
      return;
    }
  }
  int container = ApprovedFunctionContaining(item.addr - 1);
  if (container >= 0) {
    CheckInContainer(i, container);
  } else {
    LinkDecodedCalls(i);
  }
}

// The approved link wins over the item's other call sites, whose functions are invalidated.
void StackTraceRun::FollowApprovedLink(int i, const CallLink& approved) {
  const CallLink chosen = approved;  // the list changes below
  std::vector<int> others;
  for (const CallLink& link : ItemAt(i).lists[kToCallers].items) {
    if (link.function >= 0 && link.function != chosen.function &&
        link.codeAddr != chosen.codeAddr)
      others.push_back(link.function);
  }
  for (int f : others) InvalidateFunction(f);
  int target = -1;
  if (chosen.hasTarget && chosen.target != 0) target = AnalyseTarget(chosen.target);
  LinkNewer(i, target, chosen.hasTarget ? chosen.target : 0, false);
}

// The first approved, valid function one of whose code areas holds address; -1 when none.
int StackTraceRun::ApprovedFunctionContaining(uint32_t address) {
  for (size_t f = 0; f < w_.functions_.size(); ++f) {
    FunctionEntry& fe = *w_.functions_[f];
    if (!fe.approved || fe.invalidated || !fe.info.isValid) continue;
    for (const TCodeArea& area : fe.info.codeAreas) {
      if (area.end != 0 && address >= area.begin && address <= area.end)
        return static_cast<int>(f);
    }
  }
  return -1;
}

// Inside an approved function the call must be there; a non-top item without it is no frame.
void StackTraceRun::CheckInContainer(int i, int container) {
  Item& item = ItemAt(i);
  CallSite site;
  if (!LookupCallSite(container, item.addr, item.isTop, site)) {
    if (!item.isTop) InvalidateItem(i);
    return;
  }
  CallLink link;
  link.codeAddr = site.codeAddr;
  link.function = container;
  link.hasTarget = site.hasTarget;
  link.target = site.target;
  item.lists[kToCallers].Add(link);
  int target = -1;
  if (site.hasTarget) target = AnalyseTarget(site.target);
  LinkNewer(i, target, site.hasTarget ? site.target : 0, false);
}

// Decodes the places where a call ending at the item's address could start.
void StackTraceRun::LinkDecodedCalls(int i) {
  const uint32_t addr = ItemAt(i).addr;
  TMemoryRegion region;
  uint32_t regionStart = 0;
  if (mem_.QueryRegion(addr, region)) regionStart = region.base;
  for (uint32_t start = addr - 7; start <= addr - 2; ++start) {
    if (start < regionStart) continue;
    TInstrInfo instr = DecodeInstruction(mem_, start, nullptr, false, map_);
    if (!instr.isValid || !instr.isCall || instr.next != addr) continue;
    int target = -1;
    if (instr.target != 0) target = AnalyseTarget(instr.target);
    LinkNewer(i, target, instr.target, true);
  }
}

void StackTraceRun::InvalidateFunction(int function) {
  if (Function(function).invalidated) return;
  Function(function).invalidated = true;
  for (Item& item : items_) {
    for (CallLinkList& links : item.lists) {
      links.items.erase(std::remove_if(links.items.begin(), links.items.end(),
                                       [&](const CallLink& l) { return l.function == function; }),
                        links.items.end());
    }
  }
}

void StackTraceRun::InvalidateItem(int index) {
  Item& item = ItemAt(index);
  item.hidden = true;
  item.isFrame = false;
  item.lists[kToCallees] = CallLinkList();
  item.lists[kToCallers] = CallLinkList();
  for (Item& other : items_) {
    for (CallLinkList& links : other.lists) {
      links.items.erase(std::remove_if(links.items.begin(), links.items.end(),
                                       [&](const CallLink& l) { return l.other == index; }),
                        links.items.end());
    }
  }
}

}  // namespace qx
