// Mutual recursion A -> B -> A -> B, then a fault in A.
#include "crash_support.h"

CRASH_NOINLINE void B(int depth);
CRASH_NOINLINE void A(int depth) {
  if (depth == 0) *static_cast<volatile int*>(nullptr) = 1;
  B(depth - 1);
  KeepFrame();
}
CRASH_NOINLINE void B(int depth) {
  A(depth);
  KeepFrame();
}

int main(int argc, char** argv) {
  StartCrashReporter(argc, argv);
  A(argc + 1);
  KeepFrame();
  return 0;
}
