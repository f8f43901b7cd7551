// A fault in a callback that a DLL without debug information calls: its inner frames are
// shown as module + offset.
#include "crash_support.h"

extern "C" __declspec(dllimport) void StrippedEntry(void (*callback)(int), int value);

CRASH_NOINLINE void OnValue(int value) {
  *reinterpret_cast<volatile int*>(value & 0xF) = value;
  KeepFrame();
}
CRASH_NOINLINE void Start(int value) {
  StrippedEntry(OnValue, value);
  KeepFrame();
}

int main(int argc, char** argv) {
  StartCrashReporter(argc, argv);
  Start(argc);
  KeepFrame();
  return 0;
}
