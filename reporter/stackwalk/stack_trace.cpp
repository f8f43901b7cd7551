#include "stack_trace.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <unordered_map>

#include "callstack_crc.h"

namespace qx {

struct StackWalker::ModuleEntry {
  uint32_t base = 0;
  uint32_t size = 0;
  std::string name;  // file name without path
  bool isSelf = false;
  uint32_t codeBegin = 0, codeEnd = 0;  // [begin, end)
  uint32_t dataBegin = 0, dataEnd = 0;
  uint32_t entryPoint = 0;
  std::shared_ptr<const TMapFile> map;
  bool exportsRead = false;
  std::vector<uint32_t> exports;  // ascending
};

struct StackWalker::FunctionEntry {
  int module = -1;
  std::string name;
  TFunctionInfo info;
  bool approved = false;
  bool invalidated = false;
};

namespace {

constexpr uint64_t kInitialBest = 0x1000000000000000ull;
constexpr uint64_t kReachUnknown = 0x5000000000000000ull;
constexpr uint64_t kReachKnown = 0x7000000000000000ull;
constexpr uint64_t kAllKnownBit = 0x2000000000000000ull;
constexpr uint64_t kReachedBit = 0x4000000000000000ull;
constexpr int kMaxJumpDepth = 3;
constexpr int kMaxLinkDistance = 256;

struct TraceAborted {};

struct PhaseFailure {
  const char* phase;
};

struct Link {
  int other = -1;
  uint32_t codeAddr = 0;
  bool hasTarget = false;
  uint32_t target = 0;
  int function = -1;
  uint64_t score[2] = {0, 0};  // by "all links so far known"
};

struct Links {
  std::vector<Link> items;
  int chosen = -1;
  void Add(const Link& link) {
    if (items.size() == items.capacity()) items.reserve(items.empty() ? 8 : items.size() * 2);
    items.push_back(link);
  }
};

struct Item {
  uint32_t addr = 0;
  bool isFrame = false;
  bool isTop = false;
  int module = -1;
  Links lists[2];
  bool hidden = false;
  // results
  uint32_t codeAddr = 0;
  std::string moduleName, unitName, functionName;
  int32_t line = 0, relLine = 0;
  uint32_t functionStart = 0;
  int32_t absLine = 0;
};

std::string FileNameOf(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Hex8(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(value));
  return text;
}

}  // namespace

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

std::vector<uint32_t> FramePointerChain(CodeMemory& memory, const TDATryRead* map,
                                        uint32_t frame, uint32_t stackTop,
                                        uint32_t stackBottom) {
  std::vector<uint32_t> slots;
  slots.reserve(64);
  if (frame == 0) return slots;
  if (stackBottom < frame + 4 && frame + 4 < stackTop) slots.push_back(frame + 4);
  for (;;) {
    if (frame + 4 >= stackTop) break;
    uint32_t next = 0;
    if (!ReadGuarded(memory, frame, &next, 4, map)) break;
    if (next <= frame) break;
    if (next + 4 > stackBottom && next + 4 < stackTop) slots.push_back(next + 4);
    frame = next;
  }
  return slots;
}

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
  uint32_t pe = 0;
  uint8_t headers[248] = {};
  if (memory_.Read(info.base + 0x3C, &pe, 4) && memory_.Read(info.base + pe, headers, 248)) {
    auto u32 = [&](size_t at) {
      uint32_t v;
      std::memcpy(&v, headers + at, 4);
      return v;
    };
    uint16_t sections = 0, optionalSize = 0;
    std::memcpy(&sections, headers + 6, 2);
    std::memcpy(&optionalSize, headers + 20, 2);
    const size_t opt = 24;
    uint32_t sizeOfCode = u32(opt + 4), sizeInit = u32(opt + 8), sizeUninit = u32(opt + 12);
    entry->entryPoint = u32(opt + 16) ? info.base + u32(opt + 16) : 0;
    uint32_t baseOfCode = u32(opt + 20), baseOfData = u32(opt + 24);
    entry->codeBegin = info.base + baseOfCode;
    entry->codeEnd = entry->codeBegin + sizeOfCode;
    entry->dataBegin = info.base + baseOfData;
    entry->dataEnd = entry->dataBegin + sizeInit + sizeUninit;
    // The first section when it holds code, extended over a second code section.
    uint32_t sectionTable = info.base + pe + 24 + optionalSize;
    uint8_t section[2][40] = {};
    if (sections >= 1 && memory_.Read(sectionTable, section[0], 40)) {
      auto sec32 = [&](int s, size_t at) {
        uint32_t v;
        std::memcpy(&v, section[s] + at, 4);
        return v;
      };
      if (sec32(0, 36) & 0x20) {
        entry->codeBegin = info.base + sec32(0, 12);
        entry->codeEnd = entry->codeBegin + std::max(sec32(0, 8), sec32(0, 16));
        if (sections >= 2 && memory_.Read(sectionTable + 40, section[1], 40) &&
            (sec32(1, 36) & 0x20)) {
          entry->codeEnd = info.base + sec32(1, 12) + std::max(sec32(1, 8), sec32(1, 16));
        }
      }
    }
  }
  entry->map = memory_.MapOfModule(info);
  if (entry->map && !entry->map->isValid) entry->map.reset();
  if (modules_.size() == modules_.capacity())
    modules_.reserve(modules_.empty() ? 16 : modules_.size() * 2);
  modules_.push_back(std::move(entry));
  return static_cast<int>(modules_.size() - 1);
}

// One trace: the candidate items and the phases over them.
class StackTraceRun {
 public:
  StackTraceRun(StackWalker& walker, const TraceStackInput& in, TraceStackOutput& out,
                std::vector<std::string>* minDebugInfo)
      : w_(walker), mem_(walker.memory_), in_(in), out_(out), minDebugInfo_(minDebugInfo) {}

  void Run();

 private:
  using ModuleEntry = StackWalker::ModuleEntry;
  using FunctionEntry = StackWalker::FunctionEntry;

  void CheckAbort() {
    if (in_.abort != nullptr && *in_.abort) throw TraceAborted{};
  }
  void Progress(int position) {
    if (in_.progress) in_.progress(position);
  }
  bool Read(uint32_t address, void* destination, uint32_t count) {
    return ReadGuarded(mem_, address, destination, count, map_);
  }
  ModuleEntry* ModuleOf(int index) {
    return index < 0 ? nullptr : w_.modules_[static_cast<size_t>(index)].get();
  }
  FunctionEntry& Function(int index) { return *w_.functions_[static_cast<size_t>(index)]; }

  int AnalyseFunction(uint32_t entry, int module, const std::string& name, bool approve,
                      bool force = false, int depth = 0);
  void Approve(int function, int depth);
  std::string PublicNameAt(int module, uint32_t address);
  uint32_t ClosestExportBelow(ModuleEntry& module, uint32_t address);

  struct CallSite {
    uint32_t codeAddr = 0;
    bool hasTarget = false;
    uint32_t target = 0;
  };
  bool LookupCallSite(int function, uint32_t returnAddress, bool top, CallSite& site);
  // The same, following the function's far jumps into the functions they reach.
  bool LookupCallSiteFollowing(int function, uint32_t returnAddress, bool top, CallSite& site,
                               int& foundIn, int depth = 0);

  void Collect();
  void Offer(uint32_t slot, uint32_t value, bool topFlag, bool preparedFlag);
  void RemoveRecursive(bool dropLinks);
  void InDeepChecks();
  void LinkNewer(int from, int targetFunction, uint32_t target, bool fromDecoded);
  void InvalidateFunction(int function);
  void InvalidateItem(int index);
  void RealizeOptimalLinkChains();
  void RealizeChain(int a, int b);
  uint64_t Score(int x, int y, int dir, bool prefixKnown, int depth);
  bool HasLineAt(int module, uint32_t address);
  void FillFinalOutput();
  void ComposeResult();
  bool IsVisible(int i) const { return !items_[static_cast<size_t>(i)].hidden; }

  StackWalker& w_;
  StackMemory& mem_;
  const TraceStackInput& in_;
  TraceStackOutput& out_;
  std::vector<std::string>* minDebugInfo_;

  TDATryRead readable_;
  const TDATryRead* map_ = nullptr;
  uint32_t stackTop_ = 0, stackBottom_ = 0;
  uint32_t tryFinallyExit_ = 0;
  std::vector<uint32_t> chain_;
  size_t chainNext_ = 0;  // chain slots at and below this index are still ahead
  std::vector<Item> items_;
  bool topAdded_ = false;
  int firstVisible_ = 0;
};

std::string StackTraceRun::PublicNameAt(int module, uint32_t address) {
  ModuleEntry* m = ModuleOf(module);
  if (m == nullptr) return {};
  if (m->map) {
    std::string name = ProcNameInMap(*m->map, address);
    if (!name.empty()) return name;
  }
  return ExportNameAt(mem_, m->base, address, true);
}

int StackTraceRun::AnalyseFunction(uint32_t entry, int module, const std::string& name,
                                   bool approve, bool force, int depth) {
  auto found = w_.functionByEntry_.find(entry);
  if (found != w_.functionByEntry_.end()) {
    int index = found->second;
    if (force && !Function(index).info.isValid) {
      Function(index).info.isValid = true;
      Function(index).info.entryPoint = Function(index).info.codeBegin = entry;
      Function(index).info.codeLength = 0;
    }
    if (approve) Approve(index, depth);
    return index;
  }
  auto record = std::make_unique<FunctionEntry>();
  record->module = module;
  TRuntimeRoutines routines = DefaultRuntimeRoutines;
  ModuleEntry* m = ModuleOf(module);
  if (m != nullptr && !m->isSelf && m->map) {
    const TMapFile& map = *m->map;
    routines.catchAllHandler = PublicByName(map, true, "System", true, "@HandleAnyException");
    routines.typedHandler = PublicByName(map, true, "System", true, "@HandleOnException");
    routines.plainHandler = PublicByName(map, true, "System", true, "@HandleAutoException");
    routines.finallyHandler = PublicByName(map, true, "System", true, "@HandleFinally");
    routines.haltRoutine = PublicByName(map, true, "System", true, "@Halt0");
  }
  record->info = ParseFunction(mem_, entry, map_, routines);
  if (!record->info.isValid && force) {
    record->info.isValid = true;
    record->info.entryPoint = record->info.codeBegin = entry;
    record->info.codeLength = 0;
  }
  record->name = name.empty() ? PublicNameAt(module, entry) : name;
  if (w_.functions_.size() == w_.functions_.capacity())
    w_.functions_.reserve(w_.functions_.empty() ? 16 : w_.functions_.size() * 2);
  w_.functions_.push_back(std::move(record));
  int index = static_cast<int>(w_.functions_.size() - 1);
  w_.functionByEntry_[entry] = index;
  // Far jumps of a new function lead into functions that share its frame.
  if (depth < kMaxJumpDepth) {
    std::vector<TFarCall> jumps = Function(index).info.farCalls;
    for (const TFarCall& call : jumps) {
      if (call.isCall || call.target == 0) continue;
      int targetModule = w_.ModuleIndex(call.target);
      ModuleEntry* tm = ModuleOf(targetModule);
      if (tm == nullptr || call.target < tm->codeBegin || call.target >= tm->codeEnd) continue;
      AnalyseFunction(call.target, targetModule, {}, approve, false, depth + 1);
    }
  }
  if (approve) Approve(index, depth);
  return index;
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
    uint32_t pe = 0, dirRva = 0, dirSize = 0;
    uint8_t directory[40];
    if (mem_.Read(m.base + 0x3C, &pe, 4) && mem_.Read(m.base + pe + 24 + 96, &dirRva, 4) &&
        mem_.Read(m.base + pe + 24 + 100, &dirSize, 4) && dirRva != 0 &&
        mem_.Read(m.base + dirRva, directory, 40)) {
      uint32_t count = 0, functionsRva = 0;
      std::memcpy(&count, directory + 20, 4);
      std::memcpy(&functionsRva, directory + 28, 4);
      count = std::min<uint32_t>(count, 65536);
      std::vector<uint32_t> rvas(count);
      if (count > 0 && mem_.Read(m.base + functionsRva, rvas.data(), count * 4)) {
        for (uint32_t rva : rvas) {
          if (rva == 0 || (rva >= dirRva && rva < dirRva + dirSize)) continue;  // forwarders
          m.exports.push_back(m.base + rva);
        }
        std::sort(m.exports.begin(), m.exports.end());
      }
    }
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
  if (!top) {
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
  if (f.info.codeLength == 0) {
    if (f.info.entryPoint != r) return false;
    site = {r, false, 0};
    return true;
  }
  if (!in_.isExternal && in_.isException) {
    for (const TFarCall& call : f.info.farCalls) {
      if (!call.isCall || call.next != r || call.target == 0) continue;
      std::string name = PublicNameAt(w_.ModuleIndex(call.target), call.target);
      if (name.find("@RaiseExcept") != std::string::npos ||
          name.find("Error") != std::string::npos) {
        site = {call.start, true, call.target};
        return true;
      }
    }
  }
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

void StackTraceRun::Offer(uint32_t slot, uint32_t value, bool topFlag, bool preparedFlag) {
  if (value == tryFinallyExit_ && value != 0) return;
  bool top = topFlag || (in_.isException && value == in_.currentAddress);
  const bool creatorItem = items_.empty() && in_.creatorAddress != 0;
  const bool effectiveTop = top || creatorItem;
  uint32_t v = value;
  uint32_t codeAddr = 0;
  uint32_t search = v - 1;
  if (effectiveTop) {
    search = v;
    TInstrInfo instr = DecodeInstruction(mem_, v, nullptr, false, map_);
    if (instr.isValid) {
      codeAddr = v;
      v = instr.next;
    }
  }
  if (!effectiveTop) {
    uint8_t bytes[8];
    if (!Read(v - 8, bytes, 8) || !CouldBeReturnAddress(v, bytes)) return;
  }
  TMemoryRegion region;
  bool committed = mem_.QueryRegion(value, region) && region.committed &&
                   region.allocationBase != 0;
  if (!committed && !(effectiveTop && in_.isException)) return;
  int module = w_.ModuleIndex(value);
  ModuleEntry* m = ModuleOf(module);
  if (m != nullptr && !effectiveTop) {
    bool inCode = search >= m->codeBegin && search < m->codeEnd;
    bool inData = value >= m->dataBegin && value < m->dataEnd;
    if (!inCode && !inData) return;
  }
  // Chain slots are ascending; the scan walks down.
  bool chainSlot = preparedFlag;
  if (slot != 0) {
    while (chainNext_ > 0 && chain_[chainNext_ - 1] > slot) --chainNext_;
    chainSlot = chainNext_ > 0 && chain_[chainNext_ - 1] == slot;
  }

  CallSite site;
  int function = -1;
  bool found = false;
  if (m != nullptr && search >= m->codeBegin && search < m->codeEnd) {
    if (m->map) {
      const TMfPublic* pub = PublicAt(*m->map, search);
      if (pub != nullptr) {
        int f = AnalyseFunction(pub->address, module, {}, true);
        if (LookupCallSiteFollowing(f, v, effectiveTop, site, function)) {
          found = true;
        } else {
          // Code parts reached by far branches from the function, analysed on their own.
          std::vector<uint32_t> targets;
          const TFunctionInfo& info = Function(f).info;
          uint32_t functionEnd = info.codeBegin + info.codeLength;
          for (const TFarCall& call : info.farCalls) {
            if (call.isCall || call.target <= pub->address) continue;
            if (call.target >= functionEnd) {
              const TMfPublic* other = PublicAt(*m->map, call.target);
              if (other != nullptr && other->address != pub->address) continue;
            }
            targets.push_back(call.target);
          }
          std::string baseName = Function(f).name;
          for (uint32_t target : targets) {
            int part = AnalyseFunction(target, module, baseName + ".@label", true);
            if (LookupCallSite(part, v, effectiveTop, site)) {
              function = part;
              found = true;
              break;
            }
          }
        }
      }
    } else if (m->base != mem_.MainModuleBase()) {
      uint32_t start = ClosestExportBelow(*m, search);
      if (start != 0) {
        int f = AnalyseFunction(start, module, {}, true);
        bool contains = false;
        for (const TCodeArea& area : Function(f).info.codeAreas) {
          if (area.end != 0 && search >= area.begin && search <= area.end) contains = true;
        }
        if (contains && LookupCallSiteFollowing(f, v, effectiveTop, site, function)) found = true;
      }
    }
  }
  if (effectiveTop && !found) {
    if (!in_.isException || in_.isExternal) {
      site = {value, false, 0};
    } else {
      uint8_t probe;
      if (!Read(value, &probe, 1)) {
        ModuleEntry* fm = ModuleOf(module);
        (void)fm;
        function = AnalyseFunction(value, module, {}, false, true);
        site = {value, false, 0};
        found = true;
      } else {
        site = {codeAddr, false, 0};
      }
    }
  }
  if (!effectiveTop && !found && !chainSlot) return;

  Item item;
  item.addr = v;
  item.module = module;
  item.isFrame = effectiveTop || chainSlot || preparedFlag;
  item.isTop = effectiveTop && (!creatorItem);
  if (site.codeAddr != 0) {
    Link link;
    link.codeAddr = site.codeAddr;
    link.function = found ? function : -1;
    link.target = site.target;
    link.hasTarget = site.hasTarget;
    item.lists[1].Add(link);
  }
  if (items_.size() == items_.capacity()) items_.reserve(items_.empty() ? 64 : items_.size() * 2);
  items_.push_back(std::move(item));
  if (items_.back().isTop) topAdded_ = true;
}

void StackTraceRun::Collect() {
  if (DefaultRuntimeRoutines.finallyHandler != 0) {
    TFunctionInfo info = ParseFunction(mem_, DefaultRuntimeRoutines.finallyHandler, map_);
    if (info.isValid && info.unresolvedCalls.size() == 1)
      tryFinallyExit_ = info.unresolvedCalls[0].next;
  }
  if (in_.creatorAddress != 0) Offer(0, in_.creatorAddress, false, false);
  const bool prepared = in_.preparedStack != nullptr && in_.preparedStack->size() > 1;
  if (!prepared) {
    chain_ = FramePointerChain(mem_, map_, in_.framePointer, stackTop_, stackBottom_);
    chainNext_ = chain_.size();
  }
  Progress(0);
  if (prepared) {
    const TDAPreStackItem& stack = *in_.preparedStack;
    size_t count = std::min<size_t>(stack[0].value, stack.size() - 1);
    for (size_t i = 1; i <= count && !topAdded_; ++i) {
      if ((i & 63) == 0) CheckAbort();
      Offer(0, stack[i].value, false, stack[i].flag != 0);
    }
  } else if (stackTop_ >= stackBottom_ + 4) {
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
      Offer(slot, value, false, false);
      if (items_.size() > before && items_.back().isFrame && !items_.back().isTop &&
          chainNext_ > 0 && chain_[chainNext_ - 1] == slot) {
        slot -= 4;  // the saved frame pointer below a return slot
      }
      if (slot < stackBottom_ + 4) break;
    }
  }
  if (!in_.dontAddTopItem && (items_.empty() || !items_.back().isTop)) {
    uint32_t current = in_.currentAddress;
    if (current != 0) Offer(0, current, true, false);
  }
  Progress(25);
}

// Hides a newer repetition of a recursive stretch: items between two equal addresses that
// repeat exactly below the older one.
void StackTraceRun::RemoveRecursive(bool dropLinks) {
  bool changed = true;
  while (changed) {
    changed = false;
    std::vector<int> visible;
    std::unordered_map<uint32_t, std::vector<int>> byAddress;
    for (int i = 0; i < static_cast<int>(items_.size()); ++i) {
      if (items_[static_cast<size_t>(i)].hidden) continue;
      byAddress[items_[static_cast<size_t>(i)].addr].push_back(static_cast<int>(visible.size()));
      visible.push_back(i);
    }
    auto addressAt = [&](int v) { return items_[static_cast<size_t>(visible[static_cast<size_t>(v)])].addr; };
    // Hidden repetitions lie above the position reached, so the positions below stay valid.
    for (int vi = static_cast<int>(visible.size()) - 1; vi > 0;) {
      if ((vi & 255) == 0) CheckAbort();
      const std::vector<int>& same = byAddress[addressAt(vi)];
      auto older = std::lower_bound(same.begin(), same.end(), vi);
      if (older == same.begin()) {
        --vi;
        continue;
      }
      const int vj = *(older - 1);
      const int period = vi - vj;
      bool repeats = vj - period + 1 >= 0;
      for (int k = 0; k < period && repeats; ++k) repeats = addressAt(vi - k) == addressAt(vj - k);
      if (!repeats) {
        --vi;
        continue;
      }
      for (int k = 0; k < period; ++k) {
        Item& item = items_[static_cast<size_t>(visible[static_cast<size_t>(vj + 1 + k)])];
        if (item.isTop) continue;
        item.hidden = true;
        item.isFrame = false;
        if (dropLinks) {
          item.lists[0] = Links();
          item.lists[1] = Links();
        }
        changed = true;
      }
      vi = vj;
    }
  }
}

void StackTraceRun::InvalidateFunction(int function) {
  if (Function(function).invalidated) return;
  Function(function).invalidated = true;
  for (Item& item : items_) {
    for (Links& links : item.lists) {
      links.items.erase(std::remove_if(links.items.begin(), links.items.end(),
                                       [&](const Link& l) { return l.function == function; }),
                        links.items.end());
    }
  }
}

void StackTraceRun::InvalidateItem(int index) {
  Item& item = items_[static_cast<size_t>(index)];
  item.hidden = true;
  item.isFrame = false;
  item.lists[0] = Links();
  item.lists[1] = Links();
  for (Item& other : items_) {
    for (Links& links : other.lists) {
      links.items.erase(std::remove_if(links.items.begin(), links.items.end(),
                                       [&](const Link& l) { return l.other == index; }),
                        links.items.end());
    }
  }
}

void StackTraceRun::LinkNewer(int from, int targetFunction, uint32_t target, bool fromDecoded) {
  int tried = 0;
  for (int k = from + 1; k < static_cast<int>(items_.size()); ++k) {
    Item& newer = items_[static_cast<size_t>(k)];
    if (newer.hidden) continue;
    // Without sure frames a deep stack would link every pair; a caller's frame lies within
    // this many candidates of its callee's.
    if (++tried > kMaxLinkDistance && !newer.isFrame) continue;
    CallSite site;
    bool link = false;
    int siteFunction = targetFunction;
    if (targetFunction < 0) {
      link = true;
      for (const Link& own : newer.lists[1].items) {
        if (own.other == -1 && own.codeAddr != 0) {
          site.codeAddr = own.codeAddr;
          break;
        }
      }
    } else {
      link = LookupCallSiteFollowing(targetFunction, newer.addr, newer.isTop, site, siteFunction);
    }
    if (link && fromDecoded) {
      for (const Link& existing : newer.lists[1].items) {
        if (existing.function >= 0 && Function(existing.function).approved &&
            existing.codeAddr != site.codeAddr) {
          link = false;
          break;
        }
      }
    }
    if (link) {
      Link toOlder;
      toOlder.other = from;
      toOlder.function = targetFunction;
      toOlder.codeAddr = site.codeAddr;
      toOlder.target = target;
      toOlder.hasTarget = target != 0;
      newer.lists[1].Add(toOlder);
      Link toNewer = toOlder;
      toNewer.other = k;
      items_[static_cast<size_t>(from)].lists[0].Add(toNewer);
    }
    if (newer.isFrame) break;
  }
}

void StackTraceRun::InDeepChecks() {
  const int n = static_cast<int>(items_.size());
  for (int i = firstVisible_; i < n; ++i) {
    CheckAbort();
    Progress(25 + static_cast<int>(static_cast<int64_t>(i) * 625 / std::max(n, 1)));
    if (items_[static_cast<size_t>(i)].hidden) continue;
    Item& item = items_[static_cast<size_t>(i)];
    const Link* approvedLink = nullptr;
    for (const Link& link : item.lists[1].items) {
      if (link.function >= 0 && Function(link.function).approved &&
          !Function(link.function).invalidated) {
        approvedLink = &link;
        break;
      }
    }
    if (approvedLink != nullptr) {
      Link chosen = *approvedLink;
      std::vector<int> others;
      for (const Link& link : item.lists[1].items) {
        if (link.function >= 0 && link.function != chosen.function &&
            link.codeAddr != chosen.codeAddr)
          others.push_back(link.function);
      }
      for (int f : others) InvalidateFunction(f);
      int target = -1;
      if (chosen.hasTarget && chosen.target != 0) {
        int module = w_.ModuleIndex(chosen.target);
        ModuleEntry* m = ModuleOf(module);
        if (m != nullptr) target = AnalyseFunction(chosen.target, module, {}, m->map != nullptr);
      }
      LinkNewer(i, target, chosen.hasTarget ? chosen.target : 0, false);
      continue;
    }
    int container = -1;
    for (size_t f = 0; f < w_.functions_.size() && container < 0; ++f) {
      FunctionEntry& fe = *w_.functions_[f];
      if (!fe.approved || fe.invalidated || !fe.info.isValid) continue;
      for (const TCodeArea& area : fe.info.codeAreas) {
        if (area.end != 0 && item.addr - 1 >= area.begin && item.addr - 1 <= area.end) {
          container = static_cast<int>(f);
          break;
        }
      }
    }
    if (container >= 0) {
      CallSite site;
      int in = container;
      if (LookupCallSite(container, item.addr, item.isTop, site)) {
        Link link;
        link.codeAddr = site.codeAddr;
        link.function = in;
        link.hasTarget = site.hasTarget;
        link.target = site.target;
        item.lists[1].Add(link);
        int target = -1;
        if (site.hasTarget) {
          int module = w_.ModuleIndex(site.target);
          ModuleEntry* m = ModuleOf(module);
          if (m != nullptr) target = AnalyseFunction(site.target, module, {}, m->map != nullptr);
        }
        LinkNewer(i, target, site.hasTarget ? site.target : 0, false);
      } else if (!item.isTop) {
        InvalidateItem(i);
      }
      continue;
    }
    // Decode the places where a call ending at the address could start.
    TMemoryRegion region;
    uint32_t regionStart = 0;
    if (mem_.QueryRegion(item.addr, region)) regionStart = region.base;
    for (uint32_t start = item.addr - 7; start <= item.addr - 2; ++start) {
      if (start < regionStart) continue;
      TInstrInfo instr = DecodeInstruction(mem_, start, nullptr, false, map_);
      if (!instr.isValid || !instr.isCall || instr.next != items_[static_cast<size_t>(i)].addr)
        continue;
      int target = -1;
      if (instr.target != 0) {
        int module = w_.ModuleIndex(instr.target);
        ModuleEntry* m = ModuleOf(module);
        if (m != nullptr) target = AnalyseFunction(instr.target, module, {}, m->map != nullptr);
      }
      LinkNewer(i, target, instr.target, true);
    }
  }
  Progress(650);
}

bool StackTraceRun::HasLineAt(int module, uint32_t address) {
  ModuleEntry* m = ModuleOf(module);
  if (m == nullptr || !m->map) return false;
  uint32_t next = 0;
  return LineAt(*m->map, address, next) > 0;
}

uint64_t StackTraceRun::Score(int x, int y, int dir, bool prefixKnown, int depth) {
  Links& links = items_[static_cast<size_t>(x)].lists[dir];
  uint64_t best = kInitialBest;
  links.chosen = -1;
  if (depth > 4096) return best;
  for (size_t li = 0; li < links.items.size(); ++li) {
    Link& link = links.items[li];
    int other = link.other;
    if (other < 0) continue;
    // Only items between x and y (inclusive of y) count.
    if (dir == 0 ? (other <= x || other > y) : (other >= x || other < y)) continue;
    const bool known = link.function >= 0;
    uint64_t& cached = link.score[prefixKnown ? 1 : 0];
    if (cached == 0) {
      uint64_t score;
      if (other == y) {
        score = known ? kReachKnown : kReachUnknown;
      } else {
        score = Score(other, y, dir, prefixKnown && known, depth + 1);
      }
      int e = 0;
      if (!known) {
        score &= ~kAllKnownBit;
      } else {
        e = (prefixKnown || (score & kAllKnownBit)) ? 28 : 14;
        if (Function(link.function).approved) e += 14;
        const Item& from = items_[static_cast<size_t>(x)];
        const Item& to = items_[static_cast<size_t>(other)];
        ModuleEntry* fm = ModuleOf(from.module);
        if (fm != nullptr && to.module >= 0 && fm->map) {
          e += 3;
          if (HasLineAt(from.module, from.addr - 1)) {
            e += 3;
            if (HasLineAt(to.module, to.addr - 1)) e += 3;
          }
        }
      }
      score += uint64_t{1} << e;
      cached = score;
    }
    if (cached > best) {
      best = cached;
      links.chosen = static_cast<int>(li);
    }
  }
  return best;
}

void StackTraceRun::RealizeChain(int a, int b) {
  // a < b; a may be -1 for the start of the list (no forward direction then).
  for (int i = a + 1; i < b; ++i) items_[static_cast<size_t>(i)].hidden = true;
  for (auto& item : items_) {
    for (Links& links : item.lists) {
      for (Link& link : links.items) link.score[0] = link.score[1] = 0;
    }
  }
  uint64_t forward = 0;
  if (a >= 0) forward = Score(a, b, 0, true, 0);
  uint64_t reverse = 0;
  const bool forwardReached = a >= 0 && (forward & kReachedBit) != 0;
  if (!forwardReached) {
    for (auto& item : items_) {
      for (Links& links : item.lists) {
        for (Link& link : links.items) link.score[0] = link.score[1] = 0;
      }
    }
    reverse = Score(b, a < 0 ? -1 : a, 1, true, 0);
  }
  if (forwardReached || forward >= reverse) {
    if (a < 0) return;
    // Recompute so that the chosen links belong to the forward evaluation.
    if (!forwardReached) {
      for (auto& item : items_)
        for (Links& links : item.lists)
          for (Link& link : links.items) link.score[0] = link.score[1] = 0;
      Score(a, b, 0, true, 0);
    }
    int at = a;
    for (int guard = 0; guard < b - a; ++guard) {
      Links& links = items_[static_cast<size_t>(at)].lists[0];
      if (links.chosen < 0) break;
      int next = links.items[static_cast<size_t>(links.chosen)].other;
      if (next <= at || next >= b) break;
      items_[static_cast<size_t>(next)].hidden = false;
      at = next;
    }
  } else {
    int at = b;
    for (int guard = 0; guard < b - a; ++guard) {
      Links& links = items_[static_cast<size_t>(at)].lists[1];
      if (links.chosen < 0) break;
      int next = links.items[static_cast<size_t>(links.chosen)].other;
      if (next >= at || next <= a) break;
      items_[static_cast<size_t>(next)].hidden = false;
      at = next;
    }
  }
}

void StackTraceRun::RealizeOptimalLinkChains() {
  const int n = static_cast<int>(items_.size());
  int b = -1;
  for (int i = n - 1; i >= 0; --i) {
    const Item& item = items_[static_cast<size_t>(i)];
    if (!item.isFrame || item.hidden) continue;
    CheckAbort();
    Progress(650 + static_cast<int>(static_cast<int64_t>(n - i) * 350 / std::max(n, 1)));
    if (b >= 0 && b - i >= 2) RealizeChain(i, b);
    b = i;
  }
  if (b > 0) RealizeChain(-1, b);
  Progress(1000);
}

void StackTraceRun::FillFinalOutput() {
  bool first = true;
  for (int i = static_cast<int>(items_.size()) - 1; i >= 0; --i) {
    CheckAbort();
    Item& item = items_[static_cast<size_t>(i)];
    if (item.hidden) continue;
    const Link* use = nullptr;
    for (const Link& link : item.lists[1].items) {
      if (link.function >= 0 && Function(link.function).approved && link.codeAddr != 0) {
        use = &link;
        break;
      }
    }
    if (use == nullptr) {
      for (const Link& link : item.lists[1].items) {
        if (link.codeAddr != 0) {
          use = &link;
          break;
        }
      }
    }
    item.codeAddr = use != nullptr ? use->codeAddr : item.addr;
    int module = item.module;
    if (use != nullptr && use->function >= 0 && Function(use->function).approved) {
      FunctionEntry& f = Function(use->function);
      item.functionStart = f.info.entryPoint;
      module = f.module >= 0 ? f.module : module;
      if (!f.name.empty()) {
        std::string name = UnmangleExportName(f.name);
        item.functionName = name;
      }
    }
    ModuleEntry* m = ModuleOf(module);
    item.moduleName = m != nullptr ? m->name : "???";
    if (m != nullptr && m->map) {
      const TMapFile& map = *m->map;
      const TMfPublic* pub = PublicAt(map, item.codeAddr);
      if (pub != nullptr && (item.functionName.empty() || item.functionStart == pub->address ||
                             item.functionStart == 0)) {
        item.functionName = pub->name;
        item.functionStart = pub->address;
      }
      if (const TMfSegment* seg = SegmentAt(map, true, item.codeAddr)) item.unitName = seg->name;
      uint32_t next = 0;
      int line = LineAt(map, item.codeAddr, next);
      if (line > 0) {
        item.relLine = line;
        if (in_.showRelLines && item.functionStart != 0) {
          int firstLine = LineAt(map, item.functionStart, next);
          if (firstLine > 0) {
            item.absLine = line;
            item.line = line;
            item.relLine = line - firstLine;
          }
        }
      }
      if (!map.minDebugInfo.empty() && minDebugInfo_ != nullptr) {
        std::string entry = m->name + "|" + map.minDebugInfo;
        if (std::find(minDebugInfo_->begin(), minDebugInfo_->end(), entry) ==
            minDebugInfo_->end())
          minDebugInfo_->push_back(entry);
      }
    } else if (m != nullptr && item.functionName.empty()) {
      uint32_t start = ClosestExportBelow(*m, item.codeAddr);
      if (start != 0 && start != m->entryPoint) {
        item.functionName = ExportNameAt(mem_, m->base, start, true);
        item.functionStart = start;
      }
    }
    if (first) {
      out_.topCodeAddress = item.codeAddr;
      first = false;
    }
  }
  auto hideFrom = [&](int index, bool keepTop) {
    for (int k = index; k < static_cast<int>(items_.size()); ++k) {
      if (keepTop && items_[static_cast<size_t>(k)].isTop) continue;
      items_[static_cast<size_t>(k)].hidden = true;
    }
  };
  if (in_.cppTermination) {
    for (int i = static_cast<int>(items_.size()) - 1; i >= 0; --i) {
      const Item& item = items_[static_cast<size_t>(i)];
      if (item.hidden) continue;
      // This runtime's throw routines stand where the original runtime had its own.
      if (item.functionName == "_ThrowExceptionLDTC" || item.functionName == "_ReThrowException" ||
          item.functionName == "__cxa_throw" || item.functionName == "__cxa_rethrow") {
        hideFrom(i, false);
        break;
      }
    }
  }
  const bool prepared = in_.preparedStack != nullptr && in_.preparedStack->size() > 1;
  if (prepared && !in_.dontAddTopItem) {
    for (int i = static_cast<int>(items_.size()) - 1; i >= 0; --i) {
      if (items_[static_cast<size_t>(i)].hidden) continue;
      if (items_[static_cast<size_t>(i)].functionName != "__ExceptionHandler") continue;
      hideFrom(i, true);
      for (int k = i - 1; k >= 0; --k) {
        Item& below = items_[static_cast<size_t>(k)];
        if (below.hidden || below.functionName.empty()) continue;
        if (below.functionName == "KiUserExceptionDispatcher") below.hidden = true;
        break;
      }
      break;
    }
  }
}

void StackTraceRun::ComposeResult() {
  struct Shown {
    const Item* item;
    bool candidate;
  };
  const bool withCreator = in_.creatorAddress != 0;
  auto couldShow = [&](int i) {
    const Item& item = items_[static_cast<size_t>(i)];
    if (item.hidden) return false;
    if (item.isTop || (i == 0 && withCreator)) return true;
    if (item.functionName.empty()) return false;
    if (in_.hideUglyItems && item.relLine <= 0) return false;
    return true;
  };
  std::vector<const Item*> lines;
  uint32_t lastAddr = 0;
  bool any = false;
  size_t moduleWidth = 0, unitWidth = 0, lineWidth = 0, relWidth = 0, relAddrDigits = 0;
  bool anyLine = false, anyAbsLine = false, anyStart = false;
  for (int i = static_cast<int>(items_.size()) - 1; i >= 0; --i) {
    if (!couldShow(i)) continue;
    const Item& item = items_[static_cast<size_t>(i)];
    moduleWidth = std::max(moduleWidth, item.moduleName.size());
    unitWidth = std::max(unitWidth, item.unitName.size());
    if (item.absLine > 0) {
      anyAbsLine = true;
      lineWidth = std::max(lineWidth, std::to_string(item.absLine).size());
    }
    if (item.relLine != 0 || item.absLine > 0) {
      anyLine = true;
      size_t width = std::to_string(item.relLine).size() + (in_.showRelLines && item.absLine > 0);
      relWidth = std::max(relWidth, width);
    }
    if (item.functionStart != 0 && item.functionStart < item.codeAddr) {
      anyStart = true;
      char digits[16];
      relAddrDigits = std::max<size_t>(
          relAddrDigits,
          static_cast<size_t>(std::snprintf(digits, sizeof digits, "%x",
                                            item.codeAddr - item.functionStart)));
    }
    bool repeat = any && item.codeAddr == lastAddr && !(item.isTop || (i == 0 && withCreator));
    if (repeat) continue;
    lines.push_back(&item);
    lastAddr = item.codeAddr;
    any = true;
  }
  const bool relColumn = in_.showRelAddrs && anyStart;
  std::string text;
  std::vector<CrcStackItem> crcItems;
  bool firstWithLine = false;
  for (const Item* item : lines) {
    if (!text.empty()) text += "\r\n";
    text += Hex8(item->codeAddr);
    text += ' ';
    uint32_t rel = item->functionStart != 0 && item->functionStart < item->codeAddr
                       ? item->codeAddr - item->functionStart
                       : 0;
    if (relColumn) {
      char buffer[24];
      std::snprintf(buffer, sizeof buffer, "+%0*x ", static_cast<int>(relAddrDigits), rel);
      text += buffer;
    }
    text += item->moduleName;
    text.append(moduleWidth + 1 - item->moduleName.size(), ' ');
    text += item->unitName;
    text.append(unitWidth + 1 - item->unitName.size(), ' ');
    if (anyAbsLine) {
      std::string number = item->absLine > 0 ? std::to_string(item->absLine) : std::string();
      text.append(lineWidth - number.size(), ' ');
      text += number;
      text += ' ';
    }
    if (anyLine) {
      std::string number;
      if (item->relLine != 0 || item->absLine > 0) {
        number = std::to_string(item->relLine);
        if (in_.showRelLines && item->absLine > 0) number = "+" + number;
      }
      text.append(relWidth - std::min(relWidth, number.size()), ' ');
      text += number;
      text += ' ';
    }
    text += item->functionName;

    TStackItem out;
    out.Addr = item->codeAddr;
    out.RelAddr = rel;
    out.ModuleName = item->moduleName;
    out.UnitName = item->unitName;
    out.Line = item->line;
    out.RelLine = item->relLine;
    out.FunctionName = item->functionName;
    out_.trace.push_back(std::move(out));

    CrcStackItem crc;
    crc.address = item->codeAddr;
    crc.functionStart = item->functionStart;
    crc.module = item->moduleName == "???" ? std::string() : item->moduleName;
    crc.unit = item->unitName;
    crc.function = item->functionName;
    crc.hasLine = item->relLine != 0 || item->absLine > 0;
    crcItems.push_back(std::move(crc));

    if (item->functionStart != 0) {
      if (item->absLine > 0 && !firstWithLine) {
        out_.firstFunctionStart = item->functionStart;
        out_.firstFunctionAddr = item->codeAddr;
        firstWithLine = true;
      } else if (out_.firstFunctionStart == 0) {
        out_.firstFunctionStart = item->functionStart;
        out_.firstFunctionAddr = item->codeAddr;
      }
    }
  }
  ThreadCrc crc = ThreadCallstackCrc(crcItems);
  out_.crcLocation = crc.location;
  out_.crcStack = crc.stack;
  out_.hasLines = crc.hasLines;
  out_.text = std::move(text);
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

  using Phase = void (StackTraceRun::*)();
  struct Step {
    const char* name;
    Phase run;
  };
  static constexpr Step kSteps[] = {
      {"CollectPossibleStackItems", &StackTraceRun::Collect},
      {"RemoveRecursiveStackAreas", nullptr},
      {"InDeepChecks", &StackTraceRun::InDeepChecks},
      {"RealizeOptimalLinkChains", &StackTraceRun::RealizeOptimalLinkChains},
      {"RemoveRecursiveAreas", nullptr},
      {"FillFinalOutput", &StackTraceRun::FillFinalOutput},
      {"ComposeResult", &StackTraceRun::ComposeResult},
  };
  for (size_t s = 0; s < std::size(kSteps); ++s) {
    if (in_.abort != nullptr && *in_.abort) throw TraceAborted{};
    try {
      if (s == 1) {
        firstVisible_ = in_.creatorAddress != 0 ? 1 : 0;
        RemoveRecursive(true);
      } else if (s == 4) {
        RemoveRecursive(false);
      } else {
        (this->*kSteps[s].run)();
      }
    } catch (const TraceAborted&) {
      throw;
    } catch (...) {
      throw PhaseFailure{kSteps[s].name};
    }
  }
}

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
    std::string text = InternalErrorText(memory_, failure.phase, input.showRelAddrs,
                                         input.showRelLines, 0);
    if (input.isException) {
      text += "\r\n>> original exception location: \r\n";
      try {
        text += StackAddressText(memory_, input.currentAddress, input.showRelAddrs,
                                 input.showRelLines);
      } catch (...) {
        text += Hex8(input.currentAddress);
      }
    }
    output.text = text;
  } catch (...) {
    output = TraceStackOutput();
  }
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
    size_t chainNext = chain.size();
    result.reserve(64);
    result.push_back({});
    for (uint32_t slot = stackTop - 4; slot >= stackBottom; slot -= 4) {
      uint32_t value = slots[(slot - stackBottom) / 4];
      if (isException && value == currentAddress) break;
      while (chainNext > 0 && chain[chainNext - 1] > slot) --chainNext;
      bool chainSlot = chainNext > 0 && chain[chainNext - 1] == slot;
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

std::string StackAddressText(StackMemory& memory, uint32_t address, bool showRelAddrs,
                             bool showRelLines) {
  std::string text = Hex8(address);
  TModuleInfo module;
  std::shared_ptr<const TMapFile> map;
  TMfLookup found;
  bool known = memory.ModuleAt(address, module) && (map = memory.MapOfModule(module)) &&
               map->isValid && LookupInMap(*map, address, found);
  if (!known) {
    if (showRelAddrs) text += " +0";
    return text + " ???";
  }
  char buffer[24];
  if (showRelAddrs) {
    std::snprintf(buffer, sizeof buffer, " +%x",
                  found.publicAddress <= address ? address - found.publicAddress : 0);
    text += buffer;
  }
  text += " " + FileNameOf(found.moduleFileName.empty() ? module.fileName : found.moduleFileName);
  text += " " + found.unitName + " ";
  if (found.line > 0) text += std::to_string(found.line) + " ";
  if (showRelLines) {
    uint32_t next = 0;
    int first = found.publicAddress != 0 ? LineAt(*map, found.publicAddress, next) : 0;
    if (first > 0 && found.line > 0)
      text += "+" + std::to_string(found.line - first) + " ";
    else
      text += "+0 ";
  }
  return text + found.publicName;
}

std::string InternalErrorText(StackMemory& memory, const std::string& name, bool showRelAddrs,
                              bool showRelLines, uint32_t exceptionAddress) {
  std::string text = ">> internal error in " + name;
  if (exceptionAddress != 0) {
    text += ":\r\n";
    text += StackAddressText(memory, exceptionAddress, showRelAddrs, showRelLines);
  }
  return text;
}

}  // namespace qx
