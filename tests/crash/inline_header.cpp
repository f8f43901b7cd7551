// A fault in header code inlined into a function of this unit: the frame names the header
// and the header's line.
#include "crash_support.h"
#include "inline_header.h"

CRASH_NOINLINE void Store(int* target, int value) {
  StoreThrough(target, value);
  KeepFrame();
}
CRASH_NOINLINE void Prepare(int value) {
  Store(nullptr, value + 1);
  KeepFrame();
}

int main(int argc, char** argv) {
  StartCrashReporter(argc, argv);
  Prepare(argc);
  KeepFrame();
  return 0;
}
