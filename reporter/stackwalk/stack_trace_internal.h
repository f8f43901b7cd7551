// The stack walker's private parts, shared by the files of its phases: the module and
// function cache records, the candidate items with their call links, the score's weights and
// one trace's run. Only the walker's own files include this header.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "stack_trace.h"

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

namespace stackwalk {

// Far jumps are followed this many functions deep: a jump chain longer than that is not a
// shared frame any more but a tail call into unrelated code.
constexpr int kMaxJumpDepth = 3;
// Without sure frames a deep stack would link every pair; a caller's frame lies within this
// many candidates of its callee's.
constexpr int kMaxLinkDistance = 256;

// A chain's score is a 64-bit sum. The top nibble holds flags: whether the chain reached its
// goal and whether every link on it has a known function; below them every link adds
// 2 to the power of its weight, so a heavier link outweighs any realistic number of lighter
// ones and the comparison of two scores compares their best links first.
// The best score before any link was tried: below every chain that reaches its goal.
constexpr uint64_t kInitialBest = 0x1000000000000000ull;
// Set when the chain reaches its goal item; the forward direction wins outright with it.
constexpr uint64_t kReachedBit = 0x4000000000000000ull;
// Set while every link of the chain has a known function; an unknown link clears it.
constexpr uint64_t kAllKnownBit = 0x2000000000000000ull;
// A link that ends at the goal starts from these: reached, and all known when it is known.
constexpr uint64_t kReachUnknown = kReachedBit | kInitialBest;
constexpr uint64_t kReachKnown = kReachedBit | kAllKnownBit | kInitialBest;
static_assert(kReachUnknown == 0x5000000000000000ull && kReachKnown == 0x7000000000000000ull);

// The weights are exponents. Classes of links lie 14 bits apart: 16384 links of one class
// equal a single link of the next, far more than a chain between two sure frames holds.
// The gap itself is inherited from the walker's original scoring; any gap wider than log2 of
// the longest chain would order the classes the same.
// A link with an unknown function adds 1: it only breaks ties between equal chains.
constexpr int kWeightUnknownFunction = 0;
// A known function on a chain that also holds unknown links: a class above unknown links.
constexpr int kWeightKnownFunction = 14;
// A known function on a chain known from the start, or whose rest is known: a class above.
constexpr int kWeightAllKnownChain = 28;
// The function was approved (its start came from a map or an export, or a far jump from such
// a function reached it): one class more, so that it weighs as much as an unapproved
// function on a fully known chain.
constexpr int kWeightApproved = 14;
// The bonuses below only order links within a class: 8 links without one equal 1 with it.
// Their size (3) is empirical, kept from the walker's original scoring, not derived here.
// The module of the item the link leaves has a map and both items lie in known modules.
constexpr int kWeightMappedModule = 3;
// The call site of the item the link leaves has a source line.
constexpr int kWeightFromLine = 3;
// The call site of the item it leads to has one too.
constexpr int kWeightToLine = 3;
// The heaviest link weighs 2^51; 9 bits remain below the flags, so 511 such links add up
// without carrying into them.
static_assert(kWeightAllKnownChain + kWeightApproved + kWeightMappedModule + kWeightFromLine +
                  kWeightToLine == 51);
// The chain evaluation recurses once per link; past this depth a chain counts as not reached
// rather than exhausting the stack of the thread that reports.
constexpr int kMaxScoreDepth = 4096;

// Thrown when the caller's abort flag is set; the trace ends with an empty result.
struct TraceAborted {};

// Thrown when a phase fails; the trace's text names the phase.
struct PhaseFailure {
  const char* phase;
};

// A possible call between two candidates, or (other -1) the candidate's own call site.
struct CallLink {
  int other = -1;
  uint32_t codeAddr = 0;
  bool hasTarget = false;
  uint32_t target = 0;
  int function = -1;
  uint64_t score[2] = {0, 0};  // by "all links so far known"
};

// The call links of one candidate in one direction and the link the scoring chose.
struct CallLinkList {
  std::vector<CallLink> items;
  int chosen = -1;
  void Add(const CallLink& link) {
    if (items.size() == items.capacity()) items.reserve(items.empty() ? 8 : items.size() * 2);
    items.push_back(link);
  }
};

// The indices of an item's two link lists: links to the newer items its call went into, and
// links to the older items whose call led into its function (plus its own call site).
constexpr int kToCallees = 0;
constexpr int kToCallers = 1;

// One candidate return address and, once named, its frame line.
struct Item {
  uint32_t addr = 0;
  bool isFrame = false;
  bool isTop = false;
  int module = -1;
  CallLinkList lists[2];  // kToCallees, kToCallers
  bool hidden = false;
  // results
  uint32_t codeAddr = 0;
  std::string moduleName, unitName, functionName;
  int32_t line = 0, relLine = 0;
  uint32_t functionStart = 0;
  int32_t absLine = 0;
};

// Where a call was found: its instruction and, when known, its target.
struct CallSite {
  uint32_t codeAddr = 0;
  bool hasTarget = false;
  uint32_t target = 0;
};

// A stack value being offered as a candidate.
struct Candidate {
  uint32_t value = 0;     // as found on the stack
  uint32_t addr = 0;      // the return address (for a top item: after its instruction)
  uint32_t search = 0;    // an address inside the calling instruction
  uint32_t codeAddr = 0;  // a top item's own instruction, when it decodes
  bool top = false;       // top, or the creator item that stands in for one
  bool creator = false;
  int module = -1;
};

// Walks the ascending frame-pointer slots downward along with a scan from the stack top.
class ChainCursor {
 public:
  void Reset(const std::vector<uint32_t>* slots) {
    slots_ = slots;
    next_ = slots != nullptr ? slots->size() : 0;
  }
  // Passes over the chain slots above slot; true when slot is a chain slot.
  bool Reach(uint32_t slot) {
    while (next_ > 0 && (*slots_)[next_ - 1] > slot) --next_;
    return At(slot);
  }
  // True when the last chain slot reached is slot.
  bool At(uint32_t slot) const { return next_ > 0 && (*slots_)[next_ - 1] == slot; }

 private:
  const std::vector<uint32_t>* slots_ = nullptr;
  size_t next_ = 0;  // chain slots at and below this index are still ahead
};

// What the walker takes from a module's PE headers.
struct ModuleImageRanges {
  uint32_t codeBegin = 0, codeEnd = 0;  // [begin, end)
  uint32_t dataBegin = 0, dataEnd = 0;
  uint32_t entryPoint = 0;  // 0 when the module has none
};

// The code and data ranges and the entry point of the module at base: the first section
// when it holds code, extended over a second code section, else the optional header's
// ranges. Fields that cannot be read stay 0.
ModuleImageRanges ReadModuleImageRanges(CodeMemory& memory, uint32_t base);

// The addresses of the module's exported functions (forwarders left out), ascending; empty
// when the export directory cannot be read.
std::vector<uint32_t> ReadExportAddresses(CodeMemory& memory, uint32_t base);

// True when the fault address can be read: a fault in code, not a call that landed nowhere.
bool CurrentIsCode(CodeMemory& memory, const TDATryRead* map, uint32_t address);

std::string FileNameOf(const std::string& path);
std::string Hex8(uint32_t value);

}  // namespace stackwalk

// One trace: the candidate items and the phases over them. Its member functions live in the
// file of their phase.
class StackTraceRun {
 public:
  StackTraceRun(StackWalker& walker, const TraceStackInput& in, TraceStackOutput& out,
                std::vector<std::string>* minDebugInfo)
      : w_(walker), mem_(walker.memory_), in_(in), out_(out), minDebugInfo_(minDebugInfo) {}

  void Run();

 private:
  using ModuleEntry = StackWalker::ModuleEntry;
  using FunctionEntry = StackWalker::FunctionEntry;
  using Item = stackwalk::Item;
  using CallLink = stackwalk::CallLink;
  using CallLinkList = stackwalk::CallLinkList;
  using CallSite = stackwalk::CallSite;
  using Candidate = stackwalk::Candidate;

  void CheckAbort() {
    if ((in_.abort != nullptr && *in_.abort) ||
        (in_.reportAbort != nullptr && in_.reportAbort->load(std::memory_order_relaxed)))
      throw stackwalk::TraceAborted{};
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
  Item& ItemAt(int index) { return items_[static_cast<size_t>(index)]; }
  const Item& ItemAt(int index) const { return items_[static_cast<size_t>(index)]; }
  int ItemCount() const { return static_cast<int>(items_.size()); }
  bool Prepared() const { return in_.preparedStack != nullptr && in_.preparedStack->size() > 1; }

  // The phases, in the order Run calls them (stack_trace.cpp holds the table).
  void Collect();                    // stack_trace_candidates.cpp
  void RemoveRecursiveStackAreas();  // stack_trace_chain.cpp
  void InDeepChecks();               // stack_trace_checks.cpp
  void RealizeOptimalLinkChains();   // stack_trace_scoring.cpp
  void RemoveRecursiveAreas();       // stack_trace_chain.cpp
  void FillFinalOutput();            // stack_trace_text.cpp
  void ComposeResult();              // stack_trace_text.cpp

  // Candidates.
  uint32_t TryFinallyExit();
  void CollectPrepared();
  void CollectSlots();
  void Offer(uint32_t slot, uint32_t value, bool topFlag, bool preparedFlag);
  bool StartCandidate(uint32_t value, bool topFlag, Candidate& c);
  bool FindCallSite(const Candidate& c, CallSite& site, int& function);
  bool FindCallInMappedModule(const Candidate& c, ModuleEntry& m, CallSite& site,
                              int& function);
  bool FindCallInCodeParts(const Candidate& c, ModuleEntry& m, int f, uint32_t publicAddr,
                           CallSite& site, int& function);
  bool FindCallNearExport(const Candidate& c, ModuleEntry& m, CallSite& site, int& function);
  bool PlaceTopWithoutCall(const Candidate& c, CallSite& site, int& function);
  void AddItem(const Candidate& c, bool isFrame, const CallSite& site, bool found,
               int function);

  // Frame chain.
  void RemoveRecursive(bool dropLinks);
  bool HideRepetitions(bool dropLinks);

  // Function analysis and call sites (stack_trace_checks.cpp).
  int AnalyseFunction(uint32_t entry, int module, const std::string& name, bool approve,
                      bool force = false, int depth = 0);
  int AnalyseTarget(uint32_t target);
  TRuntimeRoutines RuntimeRoutinesOf(int module);
  void AnalyseFarJumps(int function, bool approve, int depth);
  void Approve(int function, int depth);
  std::string PublicNameAt(int module, uint32_t address);
  uint32_t ClosestExportBelow(ModuleEntry& module, uint32_t address);
  bool LookupCallSite(int function, uint32_t returnAddress, bool top, CallSite& site);
  bool LookupTopCallSite(const FunctionEntry& f, uint32_t returnAddress, CallSite& site);
  bool LookupRaiseCall(const FunctionEntry& f, uint32_t returnAddress, CallSite& site);
  bool LookupInstructionEnding(const FunctionEntry& f, uint32_t returnAddress, CallSite& site);
  // The same, following the function's far jumps into the functions they reach.
  bool LookupCallSiteFollowing(int function, uint32_t returnAddress, bool top, CallSite& site,
                               int& foundIn, int depth = 0);

  // Deep checks.
  void CheckItem(int index);
  void FollowApprovedLink(int index, const CallLink& chosen);
  int ApprovedFunctionContaining(uint32_t address);
  void CheckInContainer(int index, int container);
  void LinkDecodedCalls(int index);
  void InvalidateFunction(int function);
  void InvalidateItem(int index);

  // Linking and scoring.
  void LinkNewer(int from, int targetFunction, uint32_t target, bool fromDecoded);
  bool FindNewerSite(int targetFunction, const Item& newer, CallSite& site);
  bool ClashesWithApproved(const Item& newer, uint32_t codeAddr);
  void ResetScores();
  void RealizeChain(int a, int b);
  void ShowChosenChain(int start, int end, int dir, int steps);
  uint64_t Score(int x, int y, int dir, bool prefixKnown, int depth);
  uint64_t LinkScore(int x, int y, int dir, const CallLink& link, bool prefixKnown, int depth);
  int LinkWeight(int x, const CallLink& link, bool chainKnown);
  bool HasLineAt(int module, uint32_t address);

  // Threads with a known context (stack_trace_live.cpp).
  void KeepLiveFrames();
  uint32_t CallTargetEndingAt(uint32_t returnAddr, uint32_t* callStart = nullptr);
  uint32_t RegisterCallTarget(uint32_t callStart, unsigned reg);
  uint32_t ThroughThunks(uint32_t address);
  bool FunctionHolds(uint32_t entry, uint32_t address, int depth);
  uint32_t LiveCodeAddr(const Item& item);
  bool CallsFunctionHolding(uint32_t entry, uint32_t address);
  uint32_t KnownFunctionStart(uint32_t address);
  bool ConfirmedByCaller(int index, int first);

  // Text.
  const CallLink* OwnSiteLink(const Item& item);
  void NameItem(Item& item);
  void NameFromMap(Item& item, ModuleEntry& m);
  void NameFromExports(Item& item, ModuleEntry& m);
  bool ExportHolds(int module, uint32_t start, uint32_t address);
  void NoteMinDebugInfo(const ModuleEntry& m);
  void HideFrom(int index, bool keepTop);
  void HideThrowRoutines();
  void HideExceptionHandler();
  struct Columns;
  bool CouldShow(int index) const;
  std::vector<const Item*> ShownLines(Columns& columns) const;
  std::string LineText(const Item& item, const Columns& columns) const;
  void AddResultItem(const Item& item, bool& firstWithLine);

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
  stackwalk::ChainCursor chainCursor_;
  std::vector<Item> items_;
  bool topAdded_ = false;
  // In an exception: the fault address holds code (the stack is scanned down to it), or the
  // fault came from a call to where no code is (the stack pointer's slot is a sure frame).
  bool atCode_ = false;
  bool callLanded_ = false;
  int firstVisible_ = 0;
};

}  // namespace qx
