// A call through a null function pointer: the fault is at address 0, the return address of
// the call is intact at the stack pointer.
#include "crash_support.h"

using Callback = void (*)(int);

CRASH_NOINLINE void CallThrough(Callback volatile* slot, int value) {
  (*slot)(value);
  KeepFrame();
}
CRASH_NOINLINE void Dispatch(int value) {
  Callback volatile handler = nullptr;
  CallThrough(&handler, value);
  KeepFrame();
}

int main(int argc, char** argv) {
  StartCrashReporter(argc, argv);
  Dispatch(argc);
  KeepFrame();
  return 0;
}
