// The frame chain: the return slots the frame pointers lead to (sure frames), and the
// removal of recursive stretches that would otherwise repeat the same frames.
#include <algorithm>
#include <unordered_map>

#include "stack_trace_internal.h"

namespace qx {

using namespace stackwalk;

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

void StackTraceRun::RemoveRecursiveStackAreas() {
  firstVisible_ = in_.creatorAddress != 0 ? 1 : 0;
  RemoveRecursive(true);
}

void StackTraceRun::RemoveRecursiveAreas() { RemoveRecursive(false); }

// Hides a newer repetition of a recursive stretch: items between two equal addresses that
// repeat exactly below the older one.
void StackTraceRun::RemoveRecursive(bool dropLinks) {
  while (HideRepetitions(dropLinks)) {
  }
}

// One pass over the visible items; true when it hid some.
bool StackTraceRun::HideRepetitions(bool dropLinks) {
  bool changed = false;
  std::vector<int> visible;
  std::unordered_map<uint32_t, std::vector<int>> byAddress;
  for (int i = 0; i < ItemCount(); ++i) {
    if (ItemAt(i).hidden) continue;
    byAddress[ItemAt(i).addr].push_back(static_cast<int>(visible.size()));
    visible.push_back(i);
  }
  auto itemAt = [&](int v) -> Item& { return ItemAt(visible[static_cast<size_t>(v)]); };
  // Hidden repetitions lie above the position reached, so the positions below stay valid.
  for (int vi = static_cast<int>(visible.size()) - 1; vi > 0;) {
    if ((vi & 255) == 0) CheckAbort();
    const std::vector<int>& same = byAddress[itemAt(vi).addr];
    auto older = std::lower_bound(same.begin(), same.end(), vi);
    if (older == same.begin()) {
      --vi;
      continue;
    }
    const int vj = *(older - 1);
    const int period = vi - vj;
    bool repeats = vj - period + 1 >= 0;
    for (int k = 0; k < period && repeats; ++k)
      repeats = itemAt(vi - k).addr == itemAt(vj - k).addr;
    if (!repeats) {
      --vi;
      continue;
    }
    for (int k = 0; k < period; ++k) {
      Item& item = itemAt(vj + 1 + k);
      if (item.isTop) continue;
      item.hidden = true;
      item.isFrame = false;
      if (dropLinks) {
        item.lists[kToCallees] = CallLinkList();
        item.lists[kToCallers] = CallLinkList();
      }
      changed = true;
    }
    vi = vj;
  }
  return changed;
}

}  // namespace qx
