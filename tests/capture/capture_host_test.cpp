// QXUdfLib.dll inside a host: loading it hooks nothing process-wide, and a fault inside an
// SQL function reaches the host's own handling without a report. Exit code 0 on success.
#include <windows.h>

#include <cstdio>

namespace {

LONG WINAPI HostFilter(EXCEPTION_POINTERS* pointers);
volatile LONG gHostSaw = 0;
volatile DWORD gCode = 0;

LONG WINAPI HostFilter(EXCEPTION_POINTERS* pointers) {
  gCode = pointers->ExceptionRecord->ExceptionCode;
  InterlockedIncrement(&gHostSaw);
  ExitThread(3);
}

using StrReplaceFn = char*(__cdecl*)(const char*, const char*, const char*);

DWORD WINAPI CallWithBadPointer(void* function) {
  reinterpret_cast<StrReplaceFn>(function)(reinterpret_cast<const char*>(0x10), "a", "b");
  return 0;
}

int Fail(const char* what) {
  std::printf("FAIL: %s\n", what);
  return 1;
}

}  // namespace

int main() {
  DeleteFileA("bugreport.txt");
  SetUnhandledExceptionFilter(HostFilter);
  void* createThreadBefore = reinterpret_cast<void*>(&CreateThread);
  HMODULE module = LoadLibraryA("QXUdfLib.dll");
  if (module == nullptr) return Fail("QXUdfLib.dll not loaded");
  // Still the host's filter, and the host's own CreateThread import untouched.
  if (SetUnhandledExceptionFilter(HostFilter) != HostFilter) return Fail("filter replaced");
  if (reinterpret_cast<void*>(&CreateThread) != createThreadBefore) return Fail("import redirected");
  void* strReplace = reinterpret_cast<void*>(GetProcAddress(module, "fn_strReplace"));
  if (strReplace == nullptr) return Fail("fn_strReplace missing");
  HANDLE thread = CreateThread(nullptr, 0, CallWithBadPointer, strReplace, 0, nullptr);
  if (WaitForSingleObject(thread, 20000) != WAIT_OBJECT_0) return Fail("call did not end");
  DWORD exitCode = 0;
  GetExitCodeThread(thread, &exitCode);
  CloseHandle(thread);
  if (gHostSaw != 1 || gCode != EXCEPTION_ACCESS_VIOLATION || exitCode != 3)
    return Fail("the host did not see the access violation");
  if (GetFileAttributesA("bugreport.txt") != INVALID_FILE_ATTRIBUTES)
    return Fail("the fault was reported");
  FreeLibrary(module);
  std::printf("ok\n");
  return 0;
}
