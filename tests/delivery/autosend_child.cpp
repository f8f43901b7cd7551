// A program with the whole reporter and AutoSend settings that faults in a worker thread.
// The reporter sends the report by itself; the program waits (at most a minute) for the
// mail hand-off to record it, through the event its first argument names, and then ends:
// exit code 0 once recorded, 1 when nothing came.
#include <windows.h>

#include "reporter_lifecycle_win.h"

namespace {

// Read at run time, so that the compiler cannot see the write through null.
int* volatile gTarget = nullptr;

__attribute__((noinline, noipa)) void Fault() { *gTarget = 42; }

DWORD WINAPI Worker(void*) {
  Fault();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  HANDLE recorded = CreateEventA(nullptr, TRUE, FALSE, argv[1]);
  if (recorded == nullptr) return 2;
  qx::ReporterStartup();
  HANDLE worker = CreateThread(nullptr, 0, Worker, nullptr, 0, nullptr);
  const bool done = WaitForSingleObject(recorded, 60000) == WAIT_OBJECT_0;
  // The faulted worker may still wait in the reporter: end without unwinding it.
  TerminateProcess(GetCurrentProcess(), done ? 0 : 1);
  CloseHandle(worker);
  return done ? 0 : 1;
}
