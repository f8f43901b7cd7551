// An access violation three calls deep in a worker thread.
#include <windows.h>

#include "crash_support.h"

CRASH_NOINLINE void Level3(int* target) {
  *target = 42;
  KeepFrame();
}
CRASH_NOINLINE void Level2(int* target) {
  Level3(target);
  KeepFrame();
}
CRASH_NOINLINE void Level1(int* target) {
  Level2(target);
  KeepFrame();
}
CRASH_NOINLINE DWORD WINAPI WorkerStart(void*) {
  Level1(nullptr);
  KeepFrame();
  return 0;
}

int main(int argc, char** argv) {
  StartCrashReporter(argc, argv);
  HANDLE thread = CreateThread(nullptr, 0, WorkerStart, nullptr, 0, nullptr);
  WaitForSingleObject(thread, INFINITE);
  return 0;
}
