// An integer division by zero in the main thread.
#include "crash_support.h"

volatile int gZero = 0;

CRASH_NOINLINE int Divide(int value) {
  int result = value / gZero;
  KeepFrame();
  return result;
}
CRASH_NOINLINE int Compute(int value) {
  int result = Divide(value) + 1;
  KeepFrame();
  return result;
}

int main(int argc, char** argv) {
  StartCrashReporter(argc, argv);
  int result = Compute(argc);
  KeepFrame();
  return result;
}
