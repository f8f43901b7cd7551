// A delay-loaded library that cannot be had: the call becomes a failed call of the
// routine, the step that made it fails as on any refusal of the system, and nothing raises.
//
// The program binds COMCTL32 on first use, as QXUdfLib.dll does, and VerQueryValueA from a
// library that does not exist. Its ctest entry switches COMCTL32 off with Wine's DLL
// overrides.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>
#ifndef SECURITY_WIN32
#define SECURITY_WIN32
#endif
#include <security.h>
#include <shellapi.h>
#include <wincrypt.h>

#include <delayimp.h>
#include <winver.h>

#include <cstring>
#include <string>

#include "ci_environment.h"
#include "delay_load_win.h"
#include "progress_alert_win.h"

namespace qx {
namespace {

// Whether COMCTL32 cannot be had in this process (Wine's DLL overrides switch it off).
bool CommonControlsMissing() {
  if (HMODULE module = LoadLibraryA("comctl32.dll")) {
    FreeLibrary(module);
    return false;
  }
  return true;
}

// Routines of the same name that this program binds from a library that is nowhere.
TEST(DelayLoad, ARoutineOfAMissingLibraryFailsAsTheRoutineDoesAndIsBoundOnce) {
  InstallDelayLoadFailureHook();
  ASSERT_TRUE(DelayLoadFailureHookInstalled());
  const uint32_t before = DelayLoadFailureCount();
  char block[16] = {};
  void* value = block;
  UINT length = 7;
  SetLastError(0);
  EXPECT_FALSE(VerQueryValueA(block, "\\", &value, &length));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(value, nullptr);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(DelayLoadFailureCount(), before + 1);
  DelayLoadFailure failure{};
  ASSERT_TRUE(LastDelayLoadFailure(failure));
  EXPECT_STREQ(failure.library, "qx_absent_library.dll");
  EXPECT_STREQ(failure.routine, "VerQueryValueA");
  EXPECT_EQ(failure.error, static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(GetModuleHandleA("qx_absent_library.dll"), nullptr);

  // The stand-in now takes the routine's place: no second failure is counted.
  value = block;
  EXPECT_FALSE(VerQueryValueA(block, "\\", &value, &length));
  EXPECT_EQ(value, nullptr);
  EXPECT_EQ(DelayLoadFailureCount(), before + 1);
}

TEST(DelayLoad, TheHookAnswersWithALibraryToGoOnWithAndTheRoutinesStandIn) {
  FARPROC library = AnswerDelayLoadFailure(dliFailLoadLib, "nowhere.dll", "GetSaveFileNameA", false);
  ASSERT_NE(library, nullptr);
  HMODULE module = reinterpret_cast<HMODULE>(library);
  EXPECT_EQ(module, GetModuleHandleA("kernel32.dll"));
  FreeLibrary(module);  // the reference the answer took
  for (const char* routine :
       {"InitCommonControlsEx", "GetSaveFileNameA", "EnumProcessModules", "SHGetFolderPathA",
        "SHGetSpecialFolderPathA", "GetFileVersionInfoSizeA", "GetFileVersionInfoA",
        "VerQueryValueA"}) {
    SCOPED_TRACE(routine);
    // The library that stands in for a missing one exports none of them.
    EXPECT_EQ(GetProcAddress(module, routine), nullptr);
    EXPECT_EQ(reinterpret_cast<void*>(AnswerDelayLoadFailure(dliFailGetProc, "nowhere.dll", routine, true)),
              DelayLoadStandIn(routine));
    EXPECT_NE(DelayLoadStandIn(routine), nullptr);
  }
  // A routine without a stand-in is not answered: the helper then raises as before.
  EXPECT_EQ(AnswerDelayLoadFailure(dliFailGetProc, "nowhere.dll", "NoSuchRoutine", false), nullptr);
  DelayLoadFailure failure{};
  ASSERT_TRUE(LastDelayLoadFailure(failure));
  EXPECT_STREQ(failure.routine, "NoSuchRoutine");
  EXPECT_EQ(failure.error, static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
}

template <class Routine>
Routine StandIn(const char* name) {
  return reinterpret_cast<Routine>(DelayLoadStandIn(name));
}

// Each stand-in takes its routine's parameters off the stack (a wrong count would unbalance
// the caller's stack right here) and answers as the routine does when it fails.
TEST(DelayLoad, EachStandInFailsAsItsRoutineDoes) {
  ASSERT_EQ(AnswerDelayLoadFailure(dliFailGetProc, "nowhere.dll", "VerQueryValueA", true),
            reinterpret_cast<FARPROC>(DelayLoadStandIn("VerQueryValueA")));
  char path[MAX_PATH] = "unchanged";
  DWORD handle = 7;
  SetLastError(0);
  EXPECT_FALSE(StandIn<BOOL(WINAPI*)(const void*)>("InitCommonControlsEx")(nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_FALSE(StandIn<BOOL(WINAPI*)(void*)>("GetSaveFileNameA")(nullptr));
  DWORD needed = 5;
  EXPECT_FALSE(StandIn<BOOL(WINAPI*)(HANDLE, HMODULE*, DWORD, DWORD*)>("EnumProcessModules")(
      GetCurrentProcess(), nullptr, 0, &needed));
  EXPECT_EQ(needed, 0u);
  EXPECT_TRUE(FAILED((StandIn<HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, char*)>(
      "SHGetFolderPathA")(nullptr, 0, nullptr, 0, path))));
  EXPECT_STREQ(path, "");
  std::strcpy(path, "unchanged");
  EXPECT_FALSE(StandIn<BOOL(WINAPI*)(HWND, char*, int, BOOL)>("SHGetSpecialFolderPathA")(
      nullptr, path, 0, FALSE));
  EXPECT_STREQ(path, "");
  EXPECT_EQ(StandIn<DWORD(WINAPI*)(const char*, DWORD*)>("GetFileVersionInfoSizeA")("x", &handle),
            0u);
  EXPECT_EQ(handle, 0u);
  EXPECT_FALSE(StandIn<BOOL(WINAPI*)(const char*, DWORD, DWORD, void*)>("GetFileVersionInfoA")(
      "x", 0, 0, nullptr));
  void* value = path;
  UINT length = 3;
  EXPECT_FALSE(StandIn<BOOL(WINAPI*)(const void*, const char*, void**, UINT*)>("VerQueryValueA")(
      path, "\\", &value, &length));
  EXPECT_EQ(value, nullptr);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

// The stand-ins of the print dialog, the image lists and the shell's execution, and of what
// sending a report needs: sockets fail with SOCKET_ERROR or INVALID_SOCKET and the error
// WSAGetLastError reads, the security provider with a failed status, the certificate store
// with FALSE or nothing; a chain that cannot be checked is not trusted.
TEST(DelayLoad, TheShellAndNetworkStandInsFailAsTheirRoutinesDo) {
  ASSERT_EQ(AnswerDelayLoadFailure(dliFailGetProc, "ws2_32.dll", "socket", true),
            reinterpret_cast<FARPROC>(DelayLoadStandIn("socket")));
  SetLastError(0);
  EXPECT_FALSE(StandIn<BOOL(WINAPI*)(void*)>("PrintDlgA")(nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ((StandIn<void*(WINAPI*)(int, int, UINT, int, int)>("ImageList_Create")(16, 16, 0, 1, 1)),
            nullptr);
  EXPECT_FALSE(StandIn<BOOL(WINAPI*)(void*)>("ImageList_Destroy")(nullptr));
  const INT_PTR shellResult = reinterpret_cast<INT_PTR>(
      StandIn<HINSTANCE(WINAPI*)(HWND, const char*, const char*, const char*, const char*, int)>(
          "ShellExecuteA")(nullptr, "open", "x", nullptr, nullptr, SW_SHOW));
  EXPECT_LE(shellResult, 32);
  SHELLEXECUTEINFOA execute{};
  execute.cbSize = sizeof execute;
  EXPECT_FALSE(StandIn<BOOL(WINAPI*)(SHELLEXECUTEINFOA*)>("ShellExecuteExA")(&execute));
  EXPECT_LE(reinterpret_cast<INT_PTR>(execute.hInstApp), 32);

  WSADATA data;
  EXPECT_EQ((StandIn<int(WINAPI*)(WORD, WSADATA*)>("WSAStartup")(MAKEWORD(2, 2), &data)),
            WSASYSNOTREADY);
  EXPECT_EQ((StandIn<SOCKET(WINAPI*)(int, int, int)>("socket")(AF_INET, SOCK_STREAM, 0)),
            INVALID_SOCKET);
  EXPECT_EQ(StandIn<int(WINAPI*)()>("WSAGetLastError")(), ERROR_MOD_NOT_FOUND);
  sockaddr_in address{};
  EXPECT_EQ((StandIn<int(WINAPI*)(SOCKET, const sockaddr*, int)>("connect")(
                1, reinterpret_cast<const sockaddr*>(&address), sizeof address)),
            SOCKET_ERROR);
  char buffer[4];
  EXPECT_EQ((StandIn<int(WINAPI*)(SOCKET, char*, int, int)>("recv")(1, buffer, 4, 0)), SOCKET_ERROR);
  EXPECT_EQ((StandIn<int(WINAPI*)(SOCKET, const char*, int, int)>("send")(1, buffer, 4, 0)),
            SOCKET_ERROR);
  EXPECT_EQ((StandIn<int(WINAPI*)(int, fd_set*, fd_set*, fd_set*, const timeval*)>("select")(
                0, nullptr, nullptr, nullptr, nullptr)),
            SOCKET_ERROR);
  EXPECT_EQ(StandIn<hostent*(WINAPI*)(const char*)>("gethostbyname")("x"), nullptr);
  EXPECT_EQ(StandIn<unsigned long(WINAPI*)(const char*)>("inet_addr")("1.2.3.4"), INADDR_NONE);
  EXPECT_EQ(StandIn<u_short(WINAPI*)(u_short)>("htons")(0x1234), 0x3412);
  EXPECT_EQ(StandIn<u_long(WINAPI*)(u_long)>("htonl")(0x12345678u), 0x78563412u);

  CredHandle credentials;
  EXPECT_EQ((StandIn<SECURITY_STATUS(WINAPI*)(SEC_WCHAR*, SEC_WCHAR*, unsigned long, void*, void*,
                                              SEC_GET_KEY_FN, void*, PCredHandle, PTimeStamp)>(
                "AcquireCredentialsHandleW")(nullptr, nullptr, 0, nullptr, nullptr, nullptr,
                                             nullptr, &credentials, nullptr)),
            SEC_E_SECPKG_NOT_FOUND);
  EXPECT_TRUE(FAILED((StandIn<SECURITY_STATUS(WINAPI*)(
                          PCredHandle, PCtxtHandle, SEC_WCHAR*, unsigned long, unsigned long,
                          unsigned long, PSecBufferDesc, unsigned long, PCtxtHandle,
                          PSecBufferDesc, unsigned long*, PTimeStamp)>(
      "InitializeSecurityContextW")(&credentials, nullptr, nullptr, 0, 0, 0, nullptr, 0, nullptr,
                                    nullptr, nullptr, nullptr))));
  EXPECT_TRUE(FAILED((StandIn<SECURITY_STATUS(WINAPI*)(PCtxtHandle, PSecBufferDesc, unsigned long,
                                                       unsigned long*)>("DecryptMessage")(
      nullptr, nullptr, 0, nullptr))));

  SetLastError(0);
  EXPECT_EQ((StandIn<HCERTSTORE(WINAPI*)(LPCSTR, DWORD, HCRYPTPROV_LEGACY, DWORD, const void*)>(
                "CertOpenStore")(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr)),
            nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  PCCERT_CHAIN_CONTEXT chain = reinterpret_cast<PCCERT_CHAIN_CONTEXT>(&credentials);
  EXPECT_FALSE((StandIn<BOOL(WINAPI*)(HCERTCHAINENGINE, PCCERT_CONTEXT, LPFILETIME, HCERTSTORE,
                                      PCERT_CHAIN_PARA, DWORD, LPVOID, PCCERT_CHAIN_CONTEXT*)>(
      "CertGetCertificateChain")(nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr, &chain)));
  EXPECT_EQ(chain, nullptr);
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof status;
  EXPECT_FALSE((StandIn<BOOL(WINAPI*)(LPCSTR, PCCERT_CHAIN_CONTEXT, PCERT_CHAIN_POLICY_PARA,
                                      PCERT_CHAIN_POLICY_STATUS)>(
      "CertVerifyCertificateChainPolicy")(CERT_CHAIN_POLICY_SSL, nullptr, nullptr, &status)));
  EXPECT_NE(status.dwError, 0u);
  DWORD size = 9;
  EXPECT_FALSE((StandIn<BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, BYTE*, DWORD*, DWORD*, DWORD*)>(
      "CryptStringToBinaryA")("QQ==", 4, CRYPT_STRING_BASE64, nullptr, &size, nullptr, nullptr)));
  EXPECT_EQ(size, 0u);
}

// Without the common controls the progress window's step fails: Show says no, no window
// is left, and the failure names the library; nothing raises.
TEST(DelayLoad, WithoutTheCommonControlsTheProgressWindowIsNotShown) {
  if (!CommonControlsMissing()) {
    if (RunningUnderCi()) FAIL() << "COMCTL32 is there: the DLL override did not take";
    GTEST_SKIP() << "COMCTL32 is there (run with WINEDLLOVERRIDES=comctl32=d)";
  }
  InstallDelayLoadFailureHook();
  ComPtr<IProgressAlert> window = CreateProgressWindow("Information", nullptr, "");
  ASSERT_TRUE(window);
  const uint32_t before = DelayLoadFailureCount();
  EXPECT_FALSE(window->Show(nullptr, false));
  EXPECT_EQ(ProgressWindowPartsOf(window.Get()).window, nullptr);
  EXPECT_EQ(DelayLoadFailureCount(), before + 1);
  DelayLoadFailure failure{};
  ASSERT_TRUE(LastDelayLoadFailure(failure));
  EXPECT_EQ(_stricmp(failure.library, "comctl32.dll"), 0) << failure.library;
  EXPECT_STREQ(failure.routine, "InitCommonControlsEx");
  EXPECT_EQ(failure.error, static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  // A second try fails the same way, through the stand-in now in the routine's place.
  EXPECT_FALSE(window->Show(nullptr, false));
  EXPECT_EQ(DelayLoadFailureCount(), before + 1);
  window->SetPosition(500);  // a window that was never shown takes positions as before
  window->Close();
}

}  // namespace
}  // namespace qx
