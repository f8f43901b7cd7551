// A thread created by another thread faults: its section names the creator.
#include <windows.h>

#include "crash_support.h"

CRASH_NOINLINE void Fault() {
  *static_cast<volatile int*>(nullptr) = 1;
  KeepFrame();
}
CRASH_NOINLINE DWORD WINAPI Grandchild(void*) {
  Fault();
  KeepFrame();
  return 0;
}
CRASH_NOINLINE DWORD WINAPI Child(void*) {
  HANDLE thread = CreateThread(nullptr, 0, Grandchild, nullptr, 0, nullptr);
  WaitForSingleObject(thread, INFINITE);
  return 0;
}

int main(int argc, char** argv) {
  StartCrashReporter(argc, argv);
  HANDLE thread = CreateThread(nullptr, 0, Child, nullptr, 0, nullptr);
  WaitForSingleObject(thread, INFINITE);
  return 0;
}
