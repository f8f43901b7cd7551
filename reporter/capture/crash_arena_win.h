// Memory for the way from a fault to its report that does not come from the process's
// heaps. A fault after heap corruption often stands inside the heap code, holding the
// heap's lock, with its free lists wrecked: every allocation the reporter made there would
// fault again or wait for ever. While a hand-over runs (CrashArenaScope), the module's
// operator new takes its blocks from one reserved range instead; blocks from the heap that
// are freed meanwhile are left alone (a bounded leak), blocks of the range go back to it,
// whenever they are freed. When the range is used up, operator new falls back to the heap.
#pragma once

#include <cstddef>

namespace qx {

// Reserves the range (no memory is committed until used); false when it cannot be had.
bool ReserveCrashArena();

// Marks a hand-over in progress for as long as it lives; nests.
class CrashArenaScope {
 public:
  CrashArenaScope();
  ~CrashArenaScope();
  CrashArenaScope(const CrashArenaScope&) = delete;
  CrashArenaScope& operator=(const CrashArenaScope&) = delete;
};

// True while some hand-over runs.
bool CrashArenaActive();
// Whether the block came from the range (for tests).
bool InCrashArena(const void* block);

}  // namespace qx
