// std::terminate called directly.
#include <exception>

#include "crash_support.h"

CRASH_NOINLINE void GiveUp() {
  std::terminate();
}
CRASH_NOINLINE void Decide() {
  GiveUp();
  KeepFrame();
}

int main(int argc, char** argv) {
  StartCrashReporter(argc, argv);
  Decide();
  KeepFrame();
  return 0;
}
