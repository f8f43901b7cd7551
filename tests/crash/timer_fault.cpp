// A fault inside a timer callback run by the message dispatcher, which would swallow it.
#include <windows.h>

#include "crash_support.h"

CRASH_NOINLINE void Tick(int* target) {
  *target = 7;
  KeepFrame();
}
CRASH_NOINLINE void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD) {
  Tick(nullptr);
  KeepFrame();
}
CRASH_NOINLINE void Pump() {
  SetTimer(nullptr, 0, 1, OnTimer);
  MSG message;
  for (int count = 0; count < 1000 && GetMessageA(&message, nullptr, 0, 0) > 0; ++count)
    DispatchMessageA(&message);
  KeepFrame();
}

int main(int argc, char** argv) {
  StartCrashReporter(argc, argv);
  Pump();
  KeepFrame();
  return 0;
}
