// A whole process: four named threads wait in known calls (a sleep, a wait on an event, a
// critical section held by the main thread, a message loop) while the main thread faults.
// Each thread's section must show exactly its live frames.
#include <windows.h>

#include "crash_support.h"

namespace {

HANDLE gNeverSet;
CRITICAL_SECTION gHeld;
HANDLE gReady[4];

// The thread-naming exception the debuggers understand; the reporter records the name.
void NameThisThread(const char* name) {
  struct {
    DWORD type;
    const char* name;
    DWORD threadId;
    DWORD flags;
  } info = {0x1000, name, static_cast<DWORD>(-1), 0};
  RaiseException(0x406D1388, 0, sizeof info / sizeof(ULONG_PTR),
                 reinterpret_cast<const ULONG_PTR*>(&info));
}

// Nobody else handles the naming exception here: it goes on after being recorded.
LONG CALLBACK ContinueAfterNaming(EXCEPTION_POINTERS* pointers) {
  return pointers->ExceptionRecord->ExceptionCode == 0x406D1388 ? EXCEPTION_CONTINUE_EXECUTION
                                                                 : EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

CRASH_NOINLINE void SleepLong() {
  Sleep(INFINITE);
  KeepFrame();
}
CRASH_NOINLINE DWORD WINAPI Sleeper(void*) {
  NameThisThread("sleeper");
  SetEvent(gReady[0]);
  SleepLong();
  KeepFrame();
  return 0;
}

CRASH_NOINLINE void WaitForEvent() {
  WaitForSingleObject(gNeverSet, INFINITE);
  KeepFrame();
}
CRASH_NOINLINE DWORD WINAPI Waiter(void*) {
  NameThisThread("waiter");
  SetEvent(gReady[1]);
  WaitForEvent();
  KeepFrame();
  return 0;
}

CRASH_NOINLINE void EnterHeld() {
  EnterCriticalSection(&gHeld);
  KeepFrame();
}
CRASH_NOINLINE DWORD WINAPI Locker(void*) {
  NameThisThread("locker");
  SetEvent(gReady[2]);
  EnterHeld();
  KeepFrame();
  return 0;
}

CRASH_NOINLINE void RunMessageLoop() {
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
  KeepFrame();
}
CRASH_NOINLINE DWORD WINAPI Pumper(void*) {
  NameThisThread("pumper");
  MSG message;
  PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
  SetEvent(gReady[3]);
  RunMessageLoop();
  KeepFrame();
  return 0;
}

// A thread stands in its wait once it is blocked in the system: its instruction pointer
// lies outside this program and stays where it is.
CRASH_NOINLINE bool Blocked(HANDLE thread) {
  const HMODULE self = GetModuleHandleA(nullptr);
  MEMORY_BASIC_INFORMATION info;
  CONTEXT first{}, second{};
  first.ContextFlags = second.ContextFlags = CONTEXT_CONTROL;
  SuspendThread(thread);
  bool read = GetThreadContext(thread, &first) != 0;
  ResumeThread(thread);
  SwitchToThread();
  SuspendThread(thread);
  read = read && GetThreadContext(thread, &second) != 0;
  ResumeThread(thread);
  return read && first.Eip == second.Eip && first.Esp == second.Esp &&
         VirtualQuery(reinterpret_cast<void*>(first.Eip), &info, sizeof info) == sizeof info &&
         info.AllocationBase != self;
}

CRASH_NOINLINE void Fault(int* target) {
  *target = 3;
  KeepFrame();
}

int main(int argc, char** argv) {
  StartCrashReporter(argc, argv);
  AddVectoredExceptionHandler(0, ContinueAfterNaming);
  gNeverSet = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  InitializeCriticalSection(&gHeld);
  EnterCriticalSection(&gHeld);
  LPTHREAD_START_ROUTINE starts[4] = {Sleeper, Waiter, Locker, Pumper};
  HANDLE threads[4];
  for (int i = 0; i < 4; ++i) {
    gReady[i] = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    threads[i] = CreateThread(nullptr, 0, starts[i], nullptr, 0, nullptr);
  }
  WaitForMultipleObjects(4, gReady, TRUE, INFINITE);
  for (int i = 0; i < 4; ++i) {
    while (!Blocked(threads[i])) SwitchToThread();
  }
  Fault(nullptr);
  KeepFrame();
  return 0;
}
