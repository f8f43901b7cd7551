// A chain of __fastcall functions: their symbols carry the fastcall decoration around the
// C++ name ("@_Z...@12"), and the report names them plainly.
#include "crash_support.h"

CRASH_NOINLINE int __attribute__((fastcall)) InnerFast(int a, int b, int* target) {
  *target = a + b;
  KeepFrame();
  return a;
}
CRASH_NOINLINE int __attribute__((fastcall)) OuterFast(int a, int b, int c) {
  int result = InnerFast(a, b + c, nullptr);
  KeepFrame();
  return result;
}

int main(int argc, char** argv) {
  StartCrashReporter(argc, argv);
  OuterFast(argc, 2, 3);
  KeepFrame();
  return 0;
}
