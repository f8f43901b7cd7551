// A fault in a callback that a Windows function calls.
#include <windows.h>

#include "crash_support.h"

CRASH_NOINLINE BOOL CALLBACK OnWindow(HWND, LPARAM parameter) {
  *reinterpret_cast<volatile int*>(parameter) = 1;
  KeepFrame();
  return TRUE;
}
CRASH_NOINLINE void Enumerate() {
  EnumWindows(OnWindow, 0);
  KeepFrame();
}

int main(int argc, char** argv) {
  StartCrashReporter(argc, argv);
  CreateWindowA("STATIC", "crash", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  Enumerate();
  KeepFrame();
  return 0;
}
