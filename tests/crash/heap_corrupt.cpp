// A buffer overrun wrecks the C runtime's heap; the next allocation faults inside the heap
// code. The report is made without the corrupted heap.
#include <cstdlib>
#include <cstring>

#include "crash_support.h"

CRASH_NOINLINE void Overrun(char* block, size_t length) {
  std::memset(block, 0xC5, length);
  KeepFrame();
}
CRASH_NOINLINE void* AllocateMore() {
  void* blocks[64];
  for (void*& block : blocks) block = std::malloc(24);
  KeepFrame();
  return blocks[63];
}
CRASH_NOINLINE void Corrupt() {
  void* blocks[16];
  for (void*& block : blocks) block = std::malloc(24);
  for (int i = 0; i < 16; i += 2) std::free(blocks[i]);
  // Over the free blocks' headers and links that follow the first one.
  Overrun(static_cast<char*>(blocks[1]), 24 * 12);
  AllocateMore();
  KeepFrame();
}

int main(int argc, char** argv) {
  StartCrashReporter(argc, argv);
  Corrupt();
  KeepFrame();
  return 0;
}
