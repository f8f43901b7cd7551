// Unbounded recursion until the stack overflows.
#include "crash_support.h"

CRASH_NOINLINE int Recurse(volatile int depth) {
  volatile char pad[64];
  pad[0] = static_cast<char>(depth);
  int result = Recurse(depth + 1) + pad[0];
  KeepFrame();
  return result;
}
CRASH_NOINLINE int Start() {
  int result = Recurse(0);
  KeepFrame();
  return result;
}

int main(int argc, char** argv) {
  StartCrashReporter(argc, argv);
  int result = Start();
  KeepFrame();
  return result;
}
