// A stand-in for the server's ib_util.dll, written from the calling contract: one
// allocator the external functions hand their text results out of, plus what a test
// needs to prove that every result is a fresh block the server can free.
#include <windows.h>

#include <cstdint>
#include <cstdlib>

namespace {

constexpr uint32_t kLiveMagic = 0x1B071L;
constexpr uint32_t kFreedMagic = 0xDEADF7EE;

// Sits before every block so that a free can check it came from here, once.
struct alignas(8) BlockHeader {
  uint32_t magic;
  int32_t size;
};

volatile LONG g_liveBlocks = 0;
volatile LONG g_totalAllocations = 0;
volatile LONG g_badFrees = 0;

}  // namespace

extern "C" {

// The count is a C long as in the server's own ib_util.dll: 32 bits on both Windows widths.
__declspec(dllexport) void* __cdecl ib_util_malloc(long size) {
  if (size < 0) return nullptr;
  auto* header = static_cast<BlockHeader*>(std::malloc(sizeof(BlockHeader) + size));
  if (header == nullptr) return nullptr;
  header->magic = kLiveMagic;
  header->size = static_cast<int32_t>(size);
  InterlockedIncrement(&g_liveBlocks);
  InterlockedIncrement(&g_totalAllocations);
  return header + 1;
}

// What the server does with a text result once it has copied it.
__declspec(dllexport) int32_t __cdecl ib_util_free(void* block) {
  if (block == nullptr) return 0;
  auto* header = static_cast<BlockHeader*>(block) - 1;
  if (header->magic != kLiveMagic) {
    InterlockedIncrement(&g_badFrees);
    return 0;
  }
  header->magic = kFreedMagic;
  std::free(header);
  InterlockedDecrement(&g_liveBlocks);
  return 1;
}

// Size the block was allocated with, or -1 for a pointer that is not a live block.
__declspec(dllexport) int32_t __cdecl ib_util_block_size(const void* block) {
  if (block == nullptr) return -1;
  const auto* header = static_cast<const BlockHeader*>(block) - 1;
  return header->magic == kLiveMagic ? header->size : -1;
}

__declspec(dllexport) int32_t __cdecl ib_util_live_blocks() { return g_liveBlocks; }
__declspec(dllexport) int32_t __cdecl ib_util_total_allocations() { return g_totalAllocations; }
__declspec(dllexport) int32_t __cdecl ib_util_bad_frees() { return g_badFrees; }

}  // extern "C"
