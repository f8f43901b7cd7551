#include "delay_load_win.h"

#include <commctrl.h>
#include <commdlg.h>
#include <delayimp.h>
#include <shellapi.h>

#include <atomic>
#include <cstring>

#include "delay_load_network_win.h"

namespace qx {

namespace {

// The failing library's or routine's error, for the stand-ins' last error.
std::atomic<DWORD> gStandInError{ERROR_MOD_NOT_FOUND};

// No heap and no lock: the hook may run on any thread, also while an exception is
// reported. A torn record only mixes two names of failures that happened at once.
std::atomic<uint32_t> gFailures{0};
DelayLoadFailure gLastFailure{};

void CopyName(char (&to)[64], const char* from) {
  size_t length = from != nullptr ? strnlen(from, sizeof to - 1) : 0;
  if (length > 0) std::memcpy(to, from, length);
  to[length] = 0;
}

void Fail() { FailDelayLoadedCall(); }

// Each stand-in has its routine's parameters (the callee removes them from the stack).

BOOL WINAPI NoInitCommonControlsEx(const INITCOMMONCONTROLSEX*) {
  Fail();
  return FALSE;
}
BOOL WINAPI NoGetSaveFileNameA(OPENFILENAMEA*) {
  Fail();
  return FALSE;
}
BOOL WINAPI NoEnumProcessModules(HANDLE, HMODULE*, DWORD, DWORD* needed) {
  if (needed != nullptr) *needed = 0;
  Fail();
  return FALSE;
}
HRESULT WINAPI NoSHGetFolderPathA(HWND, int, HANDLE, DWORD, char* path) {
  if (path != nullptr) path[0] = 0;
  Fail();
  return HRESULT_FROM_WIN32(gStandInError.load());
}
BOOL WINAPI NoSHGetSpecialFolderPathA(HWND, char* path, int, BOOL) {
  if (path != nullptr) path[0] = 0;
  Fail();
  return FALSE;
}
DWORD WINAPI NoGetFileVersionInfoSizeA(const char*, DWORD* handle) {
  if (handle != nullptr) *handle = 0;
  Fail();
  return 0;
}
BOOL WINAPI NoGetFileVersionInfoA(const char*, DWORD, DWORD, void*) {
  Fail();
  return FALSE;
}
BOOL WINAPI NoVerQueryValueA(const void*, const char*, void** value, UINT* length) {
  if (value != nullptr) *value = nullptr;
  if (length != nullptr) *length = 0;
  Fail();
  return FALSE;
}

BOOL WINAPI NoPrintDlgA(PRINTDLGA*) {
  Fail();
  return FALSE;
}
HIMAGELIST WINAPI NoImageList_Create(int, int, UINT, int, int) {
  Fail();
  return nullptr;
}
BOOL WINAPI NoImageList_Destroy(HIMAGELIST) {
  Fail();
  return FALSE;
}
// The shell's own failure value: an instance handle of 32 or below, here "DLL not found".
HINSTANCE WINAPI NoShellExecuteA(HWND, const char*, const char*, const char*, const char*, int) {
  Fail();
  return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(SE_ERR_DLLNOTFOUND));
}
BOOL WINAPI NoShellExecuteExA(SHELLEXECUTEINFOA* info) {
  if (info != nullptr) info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(SE_ERR_DLLNOTFOUND));
  Fail();
  return FALSE;
}

struct StandIn {
  const char* routine;
  void* standIn;
};

const StandIn kStandIns[] = {
    {"InitCommonControlsEx", reinterpret_cast<void*>(&NoInitCommonControlsEx)},
    {"GetSaveFileNameA", reinterpret_cast<void*>(&NoGetSaveFileNameA)},
    {"EnumProcessModules", reinterpret_cast<void*>(&NoEnumProcessModules)},
    {"SHGetFolderPathA", reinterpret_cast<void*>(&NoSHGetFolderPathA)},
    {"SHGetSpecialFolderPathA", reinterpret_cast<void*>(&NoSHGetSpecialFolderPathA)},
    {"GetFileVersionInfoSizeA", reinterpret_cast<void*>(&NoGetFileVersionInfoSizeA)},
    {"GetFileVersionInfoA", reinterpret_cast<void*>(&NoGetFileVersionInfoA)},
    {"VerQueryValueA", reinterpret_cast<void*>(&NoVerQueryValueA)},
    {"PrintDlgA", reinterpret_cast<void*>(&NoPrintDlgA)},
    {"ImageList_Create", reinterpret_cast<void*>(&NoImageList_Create)},
    {"ImageList_Destroy", reinterpret_cast<void*>(&NoImageList_Destroy)},
    {"ShellExecuteA", reinterpret_cast<void*>(&NoShellExecuteA)},
    {"ShellExecuteExA", reinterpret_cast<void*>(&NoShellExecuteExA)},
};

void Record(const char* library, const char* routine, DWORD error) {
  CopyName(gLastFailure.library, library);
  CopyName(gLastFailure.routine, routine);
  gLastFailure.error = error;
  gFailures.fetch_add(1);
}

FARPROC WINAPI DelayLoadFailureHook(unsigned notification, DelayLoadInfo* info) {
  if (info == nullptr) return nullptr;
  const char* routine = info->dlp.fImportByName ? info->dlp.szProcName : nullptr;
  HMODULE system = GetModuleHandleA("kernel32.dll");
  const bool libraryMissing = info->hmodCur != nullptr && info->hmodCur == system;
  return AnswerDelayLoadFailure(notification, info->szDll, routine, libraryMissing);
}

}  // namespace

FARPROC AnswerDelayLoadFailure(unsigned notification, const char* library, const char* routine,
                               bool libraryMissing) {
  if (notification == dliFailLoadLib) {
    // The helper keeps what is answered here as the library for every later call and asks
    // it for the routine: the system library that is always loaded and exports none of
    // the delay-imported names, so each routine then comes to dliFailGetProc below. The
    // reference is counted, since the helper frees the handle when another thread stored
    // the same one first.
    return reinterpret_cast<FARPROC>(LoadLibraryA("kernel32.dll"));
  }
  if (notification != dliFailGetProc) return nullptr;
  const DWORD error = libraryMissing ? ERROR_MOD_NOT_FOUND : ERROR_PROC_NOT_FOUND;
  Record(library, routine, error);
  gStandInError = error;
  return reinterpret_cast<FARPROC>(DelayLoadStandIn(routine));
}

void* DelayLoadStandIn(const char* routine) {
  if (routine == nullptr) return nullptr;
  for (const StandIn& entry : kStandIns)
    if (std::strcmp(entry.routine, routine) == 0) return entry.standIn;
  return NetworkDelayLoadStandIn(routine);
}

void FailDelayLoadedCall() { SetLastError(gStandInError.load()); }

void InstallDelayLoadFailureHook() { __pfnDliFailureHook2 = DelayLoadFailureHook; }

bool DelayLoadFailureHookInstalled() { return __pfnDliFailureHook2 == DelayLoadFailureHook; }

uint32_t DelayLoadFailureCount() { return gFailures.load(); }

bool LastDelayLoadFailure(DelayLoadFailure& failure) {
  if (gFailures.load() == 0) return false;
  failure = gLastFailure;
  return true;
}

}  // namespace qx
