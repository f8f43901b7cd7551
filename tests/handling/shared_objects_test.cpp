// The named objects QXUdfLib.dll makes for its own process, with the module loaded into
// this program as a server loads it: who may open them, and that a holder elsewhere
// cannot stall the thread that loads the module.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "child_process_win.h"
#include "process_threads_win.h"

namespace {

using qx::ThreadsOfThisProcess;
using TraceProcess = int32_t(__stdcall*)(int32_t);

constexpr DWORD kChildLimitMs = 60000;

std::string ObjectName(const char* prefix, DWORD processId) {
  char name[96];
  std::snprintf(name, sizeof name, "%s$%lx", prefix, static_cast<unsigned long>(processId));
  return name;
}

// Child mode: takes the settings mutex of process `target` (created with a null DACL, as
// any account could have made it) and holds it until told to let go. Exit code 0 when it
// still owned the mutex at the end, 3 when it never got it, 4 when it was not told in time.
int HoldSettingsMutex(DWORD target) {
  SECURITY_DESCRIPTOR descriptor;
  InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
  HANDLE mutex = CreateMutexA(&attributes, TRUE,
                              ObjectName("qelExceptSettingsMtx", target).c_str());
  if (mutex == nullptr) return 3;
  HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, ObjectName("qxHolderReady", target).c_str());
  HANDLE done = OpenEventA(SYNCHRONIZE, FALSE, ObjectName("qxHolderDone", target).c_str());
  if (ready == nullptr || done == nullptr) return 3;
  SetEvent(ready);
  if (WaitForSingleObject(done, kChildLimitMs) != WAIT_OBJECT_0) return 4;
  return ReleaseMutex(mutex) ? 0 : 3;
}

// The SIDs a DACL admits, checked against the process's user and SYSTEM.
struct DaclFacts {
  bool present = false;
  int aces = 0;
  bool user = false;
  bool system = false;
};

DaclFacts DaclOf(HANDLE object) {
  DaclFacts facts;
  alignas(DWORD) BYTE descriptor[1024];
  DWORD needed = 0;
  if (!GetKernelObjectSecurity(object, DACL_SECURITY_INFORMATION, descriptor, sizeof descriptor,
                               &needed))
    return facts;
  BOOL present = FALSE, defaulted = FALSE;
  ACL* acl = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted) || !present ||
      acl == nullptr)
    return facts;
  facts.present = true;
  facts.aces = acl->AceCount;
  HANDLE token = nullptr;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
  alignas(DWORD) BYTE user[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
  GetTokenInformation(token, TokenUser, user, sizeof user, &needed);
  CloseHandle(token);
  alignas(DWORD) BYTE system[SECURITY_MAX_SID_SIZE];
  DWORD systemSize = sizeof system;
  CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &systemSize);
  for (DWORD i = 0; i < acl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (!GetAce(acl, i, reinterpret_cast<void**>(&ace)) ||
        ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE)
      continue;
    PSID sid = &ace->SidStart;
    facts.user |= EqualSid(sid, reinterpret_cast<TOKEN_USER*>(user)->User.Sid) != 0;
    facts.system |= EqualSid(sid, system) != 0;
  }
  return facts;
}

TEST(ModuleNamedObjects, AdmitOnlyTheProcesssUserAndSystem) {
  HMODULE module = LoadLibraryA("QXUdfLib.dll");
  ASSERT_NE(module, nullptr);
  for (const char* prefix : {"qelExceptSettingsBuf", "qelExceptThreadNameBuf"}) {
    SCOPED_TRACE(prefix);
    HANDLE mapping = OpenFileMappingA(READ_CONTROL, FALSE,
                                      ObjectName(prefix, GetCurrentProcessId()).c_str());
    ASSERT_NE(mapping, nullptr) << GetLastError();
    DaclFacts facts = DaclOf(mapping);
    CloseHandle(mapping);
    EXPECT_TRUE(facts.present);
    EXPECT_EQ(facts.aces, 2);
    EXPECT_TRUE(facts.user);
    EXPECT_TRUE(facts.system);
  }
  EXPECT_TRUE(FreeLibrary(module));
}

// Another process holds the settings mutex for good: loading still ends, and the reporter
// runs on a settings block of its own (its handler thread starts, a trace is written).
TEST(ModuleNamedObjects, AHeldSettingsMutexDoesNotStallLoadingOrUnloading) {
  DWORD self = GetCurrentProcessId();
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, ObjectName("qxHolderReady", self).c_str());
  HANDLE done = CreateEventA(nullptr, TRUE, FALSE, ObjectName("qxHolderDone", self).c_str());
  ASSERT_NE(ready, nullptr);
  ASSERT_NE(done, nullptr);
  HANDLE holder = qx::StartChild("\"" + qx::SelfPath() + "\" --hold=" + std::to_string(self));
  ASSERT_NE(holder, nullptr);
  HANDLE waits[] = {ready, holder};
  ASSERT_EQ(WaitForMultipleObjects(2, waits, FALSE, kChildLimitMs), WAIT_OBJECT_0)
      << "the holder did not take the mutex";

  int before = ThreadsOfThisProcess();
  HMODULE module = LoadLibraryA("QXUdfLib.dll");
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(ThreadsOfThisProcess(), before + 1);  // the handler thread: the settings are there
  auto trace = reinterpret_cast<TraceProcess>(
      reinterpret_cast<void*>(GetProcAddress(module, "qelTraceProcess")));
  ASSERT_NE(trace, nullptr);
  EXPECT_EQ(trace(100), 0);
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_EQ(GetModuleHandleA("QXUdfLib.dll"), nullptr);

  SetEvent(done);
  EXPECT_EQ(qx::FinishChild(holder, kChildLimitMs), 0);  // it held the mutex throughout
  CloseHandle(ready);
  CloseHandle(done);
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "--hold=", 7) == 0)
      return HoldSettingsMutex(static_cast<DWORD>(std::strtoul(argv[i] + 7, nullptr, 10)));
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
