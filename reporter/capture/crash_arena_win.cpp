#include "crash_arena_win.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace qx {

namespace {

constexpr size_t kArenaSize = 64u << 20;
constexpr size_t kCommitStep = 1u << 20;
constexpr size_t kAlignment = 16;

struct Arena {
  std::atomic<char*> base{nullptr};
  char* next = nullptr;       // first free byte
  char* committed = nullptr;  // end of the committed part
  long live = 0;              // blocks handed out and not freed
  std::atomic_flag lock = ATOMIC_FLAG_INIT;
  std::atomic<long> users{0};
};
Arena gArena;

class SpinLock {
 public:
  SpinLock() {
    while (gArena.lock.test_and_set(std::memory_order_acquire)) SwitchToThread();
  }
  ~SpinLock() { gArena.lock.clear(std::memory_order_release); }
};

// The block's size sits in the 16 bytes before it, so that blocks stay aligned.
void* ArenaAllocate(size_t size) {
  char* base = gArena.base.load(std::memory_order_acquire);
  if (base == nullptr || size > kArenaSize) return nullptr;
  const size_t total = (size + kAlignment + kAlignment - 1) & ~(kAlignment - 1);
  SpinLock hold;
  if (gArena.next == nullptr) gArena.next = gArena.committed = base;
  if (static_cast<size_t>(base + kArenaSize - gArena.next) < total) return nullptr;
  char* end = gArena.next + total;
  if (end > gArena.committed) {
    size_t grow = ((end - gArena.committed) + kCommitStep - 1) & ~(kCommitStep - 1);
    if (gArena.committed + grow > base + kArenaSize)
      grow = static_cast<size_t>(base + kArenaSize - gArena.committed);
    if (VirtualAlloc(gArena.committed, grow, MEM_COMMIT, PAGE_READWRITE) == nullptr) return nullptr;
    gArena.committed += grow;
  }
  char* block = gArena.next;
  gArena.next = end;
  ++gArena.live;
  *reinterpret_cast<size_t*>(block) = size;
  return block + kAlignment;
}

void ArenaFree() {
  SpinLock hold;
  // With no block left the whole range is free again.
  if (--gArena.live == 0) gArena.next = gArena.base.load(std::memory_order_relaxed);
}

void* Allocate(size_t size, bool nothrow) {
  if (size == 0) size = 1;
  if (gArena.users.load(std::memory_order_acquire) > 0) {
    if (void* block = ArenaAllocate(size)) return block;
  }
  for (;;) {
    if (void* block = std::malloc(size)) return block;
    std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) {
      if (nothrow) return nullptr;
      throw std::bad_alloc();
    }
    handler();
  }
}

void Free(void* block) {
  if (block == nullptr) return;
  if (InCrashArena(block)) {
    ArenaFree();
    return;
  }
  // The heap may be the one that is broken: its blocks wait until the hand-over is over.
  if (gArena.users.load(std::memory_order_acquire) > 0) return;
  std::free(block);
}

}  // namespace

bool ReserveCrashArena() {
  if (gArena.base.load() != nullptr) return true;
  void* range = VirtualAlloc(nullptr, kArenaSize, MEM_RESERVE, PAGE_NOACCESS);
  if (range == nullptr) return false;
  char* none = nullptr;
  if (!gArena.base.compare_exchange_strong(none, static_cast<char*>(range)))
    VirtualFree(range, 0, MEM_RELEASE);
  return true;
}

CrashArenaScope::CrashArenaScope() { gArena.users.fetch_add(1, std::memory_order_acq_rel); }
CrashArenaScope::~CrashArenaScope() { gArena.users.fetch_sub(1, std::memory_order_acq_rel); }

bool CrashArenaActive() { return gArena.users.load(std::memory_order_acquire) > 0; }

bool InCrashArena(const void* block) {
  const char* base = gArena.base.load(std::memory_order_acquire);
  const char* at = static_cast<const char*>(block);
  return base != nullptr && at >= base && at < base + kArenaSize;
}

}  // namespace qx

// The module's allocation functions: the heap, or the range while a hand-over runs.
void* operator new(size_t size) { return qx::Allocate(size, false); }
void* operator new[](size_t size) { return qx::Allocate(size, false); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  try {
    return qx::Allocate(size, true);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  try {
    return qx::Allocate(size, true);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* block) noexcept { qx::Free(block); }
void operator delete[](void* block) noexcept { qx::Free(block); }
void operator delete(void* block, size_t) noexcept { qx::Free(block); }
void operator delete[](void* block, size_t) noexcept { qx::Free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { qx::Free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { qx::Free(block); }
