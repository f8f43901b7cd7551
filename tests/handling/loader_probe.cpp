// A library whose entry point holds the loader lock until the test releases it.
#include <windows.h>

#include <cstdio>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char entered[64], release[64];
  std::snprintf(entered, sizeof entered, "qxLoaderProbeEntered%lu", GetCurrentProcessId());
  std::snprintf(release, sizeof release, "qxLoaderProbeRelease%lu", GetCurrentProcessId());
  HANDLE enteredEvent = OpenEventA(EVENT_MODIFY_STATE, FALSE, entered);
  HANDLE releaseEvent = OpenEventA(SYNCHRONIZE, FALSE, release);
  if (enteredEvent != nullptr) SetEvent(enteredEvent);
  if (releaseEvent != nullptr) WaitForSingleObject(releaseEvent, 20000);
  if (enteredEvent != nullptr) CloseHandle(enteredEvent);
  if (releaseEvent != nullptr) CloseHandle(releaseEvent);
  return TRUE;
}
