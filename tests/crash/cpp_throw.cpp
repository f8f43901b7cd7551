// A C++ exception that nothing catches.
#include <stdexcept>

#include "crash_support.h"

CRASH_NOINLINE void Thrower(int depth) {
  if (depth > 0) throw std::runtime_error("nobody catches this");
  KeepFrame();
}
CRASH_NOINLINE void Middle(int depth) {
  Thrower(depth);
  KeepFrame();
}

int main(int argc, char** argv) {
  StartCrashReporter(argc, argv);
  Middle(argc);
  KeepFrame();
  return 0;
}
