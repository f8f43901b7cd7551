// Linking and scoring: candidates are linked into caller/callee chains, and between each pair
// of sure frames the best-scoring chain stays visible (the weights are explained in
// stack_trace_internal.h).
#include <algorithm>

#include "stack_trace_internal.h"

namespace qx {

using namespace stackwalk;

// Links the item at from to the newer items, up to the next sure frame, whose call site lies
// in the function its call went to (any newer item when that function is unknown).
void StackTraceRun::LinkNewer(int from, int targetFunction, uint32_t target, bool fromDecoded) {
  int tried = 0;
  for (int k = from + 1; k < ItemCount(); ++k) {
    Item& newer = ItemAt(k);
    if (newer.hidden) continue;
    if (++tried > kMaxLinkDistance && !newer.isFrame) continue;
    CallSite site;
    bool link = FindNewerSite(targetFunction, newer, site);
    // A call decoded from bytes does not override a call an approved function confirmed.
    if (link && fromDecoded && ClashesWithApproved(newer, site.codeAddr)) link = false;
    if (link) {
      CallLink toOlder;
      toOlder.other = from;
      toOlder.function = targetFunction;
      toOlder.codeAddr = site.codeAddr;
      toOlder.target = target;
      toOlder.hasTarget = target != 0;
      newer.lists[kToCallers].Add(toOlder);
      CallLink toNewer = toOlder;
      toNewer.other = k;
      ItemAt(from).lists[kToCallees].Add(toNewer);
    }
    if (newer.isFrame) break;
  }
}

// The newer item's call site in the target function; with the function unknown, the
// item's own call site (if any) and always a link.
bool StackTraceRun::FindNewerSite(int targetFunction, const Item& newer, CallSite& site) {
  if (targetFunction >= 0) {
    int siteFunction = targetFunction;
    return LookupCallSiteFollowing(targetFunction, newer.addr, newer.isTop, site, siteFunction);
  }
  for (const CallLink& own : newer.lists[kToCallers].items) {
    if (own.other == -1 && own.codeAddr != 0) {
      site.codeAddr = own.codeAddr;
      break;
    }
  }
  return true;
}

bool StackTraceRun::ClashesWithApproved(const Item& newer, uint32_t codeAddr) {
  for (const CallLink& existing : newer.lists[kToCallers].items) {
    if (existing.function >= 0 && Function(existing.function).approved &&
        existing.codeAddr != codeAddr)
      return true;
  }
  return false;
}

bool StackTraceRun::HasLineAt(int module, uint32_t address) {
  ModuleEntry* m = ModuleOf(module);
  if (m == nullptr || !m->map) return false;
  uint32_t next = 0;
  return LineAt(*m->map, address, next) > 0;
}

// The best chain's score from x towards y over the list dir; it marks each item's chosen link.
uint64_t StackTraceRun::Score(int x, int y, int dir, bool prefixKnown, int depth) {
  CallLinkList& links = ItemAt(x).lists[dir];
  uint64_t best = kInitialBest;
  links.chosen = -1;
  if (depth > kMaxScoreDepth) return best;
  for (size_t li = 0; li < links.items.size(); ++li) {
    CallLink& link = links.items[li];
    int other = link.other;
    if (other < 0) continue;
    // Only items between x and y (inclusive of y) count.
    if (dir == kToCallees ? (other <= x || other > y) : (other >= x || other < y)) continue;
    uint64_t& cached = link.score[prefixKnown ? 1 : 0];
    if (cached == 0) cached = LinkScore(x, y, dir, link, prefixKnown, depth);
    if (cached > best) {
      best = cached;
      links.chosen = static_cast<int>(li);
    }
  }
  return best;
}

// The score of the best chain that starts with link: its rest's score plus the link's weight.
uint64_t StackTraceRun::LinkScore(int x, int y, int dir, const CallLink& link, bool prefixKnown,
                                  int depth) {
  const bool known = link.function >= 0;
  uint64_t score;
  if (link.other == y) {
    score = known ? kReachKnown : kReachUnknown;
  } else {
    score = Score(link.other, y, dir, prefixKnown && known, depth + 1);
  }
  if (!known) return (score & ~kAllKnownBit) + (uint64_t{1} << kWeightUnknownFunction);
  const bool chainKnown = prefixKnown || (score & kAllKnownBit) != 0;
  return score + (uint64_t{1} << LinkWeight(x, link, chainKnown));
}

// The weight of a link with a known function from the item at x.
int StackTraceRun::LinkWeight(int x, const CallLink& link, bool chainKnown) {
  int weight = chainKnown ? kWeightAllKnownChain : kWeightKnownFunction;
  if (Function(link.function).approved) weight += kWeightApproved;
  const Item& from = ItemAt(x);
  const Item& to = ItemAt(link.other);
  ModuleEntry* fm = ModuleOf(from.module);
  if (fm == nullptr || to.module < 0 || !fm->map) return weight;
  weight += kWeightMappedModule;
  if (!HasLineAt(from.module, from.addr - 1)) return weight;
  weight += kWeightFromLine;
  if (HasLineAt(to.module, to.addr - 1)) weight += kWeightToLine;
  return weight;
}

// Cached scores depend on the goal of one evaluation: a new evaluation starts from none.
void StackTraceRun::ResetScores() {
  for (Item& item : items_) {
    for (CallLinkList& links : item.lists) {
      for (CallLink& link : links.items) link.score[0] = link.score[1] = 0;
    }
  }
}

// Hides everything between the sure frames a < b (a -1: the start of the list) and shows the
// better of the forward and the reverse chain again.
void StackTraceRun::RealizeChain(int a, int b) {
  for (int i = a + 1; i < b; ++i) ItemAt(i).hidden = true;
  ResetScores();
  uint64_t forward = 0;
  if (a >= 0) forward = Score(a, b, kToCallees, true, 0);
  uint64_t reverse = 0;
  const bool forwardReached = a >= 0 && (forward & kReachedBit) != 0;
  if (!forwardReached) {
    ResetScores();
    reverse = Score(b, a, kToCallers, true, 0);
  }
  if (forwardReached || forward >= reverse) {
    if (a < 0) return;
    // Recompute so that the chosen links belong to the forward evaluation.
    if (!forwardReached) {
      ResetScores();
      Score(a, b, kToCallees, true, 0);
    }
    ShowChosenChain(a, b, kToCallees, b - a);
  } else {
    ShowChosenChain(b, a, kToCallers, b - a);
  }
}

// Follows the chosen links from start towards end over the list dir, showing each item
// strictly between them; at most steps links.
void StackTraceRun::ShowChosenChain(int start, int end, int dir, int steps) {
  int at = start;
  for (int guard = 0; guard < steps; ++guard) {
    CallLinkList& links = ItemAt(at).lists[dir];
    if (links.chosen < 0) break;
    int next = links.items[static_cast<size_t>(links.chosen)].other;
    bool inside = dir == kToCallees ? (next > at && next < end) : (next < at && next > end);
    if (!inside) break;
    ItemAt(next).hidden = false;
    at = next;
  }
}

void StackTraceRun::RealizeOptimalLinkChains() {
  const int n = ItemCount();
  int b = -1;
  for (int i = n - 1; i >= 0; --i) {
    const Item& item = ItemAt(i);
    if (!item.isFrame || item.hidden) continue;
    CheckAbort();
    Progress(650 + static_cast<int>(static_cast<int64_t>(n - i) * 350 / std::max(n, 1)));
    if (b >= 0 && b - i >= 2) RealizeChain(i, b);
    b = i;
  }
  if (b > 0) RealizeChain(-1, b);
  Progress(1000);
}

}  // namespace qx
