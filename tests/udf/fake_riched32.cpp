// A RICHED32.DLL that refuses to initialise, counting the attempts in an environment
// variable of the process so the test can tell the load was retried.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    char value[16] = {};
    GetEnvironmentVariableA("QX_FAKE_RICHED_LOADS", value, sizeof value);
    std::snprintf(value, sizeof value, "%d", std::atoi(value) + 1);
    SetEnvironmentVariableA("QX_FAKE_RICHED_LOADS", value);
    return FALSE;
  }
  return TRUE;
}
