// The capture layer in a program of its own: patches and their undoing, import redirection,
// the thread frames with their creator records, and the texts of operating-system faults.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstring>

#include "capture_points_win.h"
#include "child_process_win.h"
#include "file_check_win.h"
#include "patch_primitives_win.h"
#include "thread_info_win.h"

namespace qx {
namespace {

// Long enough for a 5-byte jump; kept apart so that the patch lands on them.
__attribute__((noinline, optimize("no-omit-frame-pointer"))) int Original(int x) {
  volatile int y = x;
  return y + 1;
}
__attribute__((noinline)) int Replacement(int x) { return x + 100; }

int CallOriginal(int x) {
  int (*volatile f)(int) = Original;
  return f(x);
}

void WriteRaw(void* target, const void* bytes, size_t size) {
  DWORD old;
  VirtualProtect(target, size, PAGE_EXECUTE_READWRITE, &old);
  std::memcpy(target, bytes, size);
  VirtualProtect(target, size, old, &old);
}

TEST(Patches, JumpPatchRedirectsAndRevertRestores) {
  ASSERT_EQ(CallOriginal(1), 2);
  ASSERT_TRUE(WriteJumpPatch(reinterpret_cast<void*>(Original), reinterpret_cast<void*>(Replacement)));
  EXPECT_EQ(PatchCount(), 1u);
  EXPECT_EQ(CallOriginal(1), 101);
  // The same bytes once more are no new patch.
  EXPECT_FALSE(WriteJumpPatch(reinterpret_cast<void*>(Original), reinterpret_cast<void*>(Replacement)));
  RevertPatches();
  EXPECT_EQ(PatchCount(), 0u);
  EXPECT_EQ(CallOriginal(1), 2);
}

TEST(Patches, APatchOverwrittenSinceIsNotReverted) {
  uint8_t before[5];
  std::memcpy(before, reinterpret_cast<void*>(Original), 5);
  ASSERT_TRUE(WriteJumpPatch(reinterpret_cast<void*>(Original), reinterpret_cast<void*>(Replacement)));
  uint8_t other[5] = {0xE9};
  int32_t distance = static_cast<int32_t>(reinterpret_cast<intptr_t>(Replacement) -
                                          reinterpret_cast<intptr_t>(Original) - 5);
  std::memcpy(other + 1, &distance, 4);
  other[0] = 0xE8;  // someone else's patch: a call instead of our jump
  WriteRaw(reinterpret_cast<void*>(Original), other, 5);
  RevertPatches();
  uint8_t now[5];
  std::memcpy(now, reinterpret_cast<void*>(Original), 5);
  EXPECT_EQ(std::memcmp(now, other, 5), 0);
  WriteRaw(reinterpret_cast<void*>(Original), before, 5);
  EXPECT_EQ(CallOriginal(1), 2);
}

TEST(Patches, AnImportStubIsFollowedToTheRealRoutine) {
  auto* stub = static_cast<uint8_t*>(
      VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
  ASSERT_NE(stub, nullptr);
  void** slot = reinterpret_cast<void**>(stub + 64);
  *slot = reinterpret_cast<void*>(Original);
  stub[0] = 0xFF;
  stub[1] = 0x25;
  std::memcpy(stub + 2, &slot, 4);
  ASSERT_TRUE(WriteJumpPatch(stub, reinterpret_cast<void*>(Replacement)));
  EXPECT_EQ(stub[0], 0xFF);  // the stub itself is unchanged
  EXPECT_EQ(CallOriginal(2), 102);
  RevertPatches();
  EXPECT_EQ(CallOriginal(2), 3);
  VirtualFree(stub, 0, MEM_RELEASE);
}

TEST(Patches, CallAndWordPatches) {
  auto* code = static_cast<uint8_t*>(
      VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
  std::memset(code, 0x90, 16);
  ASSERT_TRUE(WriteCallPatch(code, code + 0x100));
  EXPECT_EQ(code[0], 0xE8);
  int32_t distance;
  std::memcpy(&distance, code + 1, 4);
  EXPECT_EQ(distance, 0x100 - 5);
  ASSERT_TRUE(WriteWordPatch(code + 8, 0x12345678));
  uint32_t word;
  std::memcpy(&word, code + 8, 4);
  EXPECT_EQ(word, 0x12345678u);
  RevertPatches();
  EXPECT_EQ(code[0], 0x90);
  EXPECT_EQ(code[8], 0x90);
  VirtualFree(code, 0, MEM_RELEASE);
}

DWORD WINAPI FakeTickCount() { return 42; }
// The compiler takes import slots for constants within one function.
__attribute__((noinline)) DWORD TickCount() { return GetTickCount(); }

TEST(Imports, RedirectAndRestoreInThisModule) {
  void* saved = nullptr;
  ASSERT_TRUE(RedirectImport("kernel32.dll", "GetTickCount", reinterpret_cast<void*>(FakeTickCount),
                             &saved, false, GetModuleHandleA(nullptr)));
  EXPECT_NE(saved, nullptr);
  EXPECT_EQ(TickCount(), 42u);
  RestoreImport(reinterpret_cast<void*>(FakeTickCount), &saved, false, GetModuleHandleA(nullptr));
  EXPECT_EQ(saved, nullptr);
  EXPECT_NE(TickCount(), 42u);
}

std::atomic<int> gHandOvers{0};
CaptureRecord gLast;
std::string gLastClass, gLastMessage;
// The faulting thread's record as the report saw it.
ThreadInfoRecord gThreadRecord;
bool gThreadRecordFound = false;

void RecordHandOver(const CaptureRecord& record) {
  ++gHandOvers;
  gLast = record;
  gLast.context = nullptr;
  gLastClass = record.object ? record.object->className : "";
  gLastMessage = record.object ? record.object->message : "";
  gThreadRecordFound = false;
  FindThreadInfo(record.threadId, 50, gThreadRecord, gThreadRecordFound);
}

DWORD WINAPI FaultingThread(void*) {
  *static_cast<volatile int*>(nullptr) = 1;
  return 0;
}

DWORD WINAPI ReturningThread(void*) { return 5; }

__attribute__((noinline)) HANDLE StartFaultingThread(DWORD& id) {
  return CreateThread(nullptr, 0, FaultingThread, nullptr, 0, &id);
}

// Runs a thread through the hook to its end: its exit code.
DWORD RunThreadToEnd(LPTHREAD_START_ROUTINE start, DWORD& id) {
  HANDLE thread = CreateThread(nullptr, 0, start, nullptr, 0, &id);
  EXPECT_NE(thread, nullptr);
  if (thread == nullptr) return 0;
  EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeThread(thread, &code);
  CloseHandle(thread);
  return code;
}

bool ThreadRecorded(DWORD id) {
  ThreadInfoRecord record;
  bool found = false;
  return FindThreadInfo(id, 50, record, found) && found;
}

TEST(CapturePoints, AThreadStartedThroughTheHookReportsItsFaultAndCreator) {
  CaptureHandOver = RecordHandOver;
  SetMainThreadId(GetCurrentThreadId());
  InstallCapturePoints(GetModuleHandleA(nullptr), true);
  ASSERT_TRUE(CapturePointsInstalled());
  DWORD id = 0;
  HANDLE thread = StartFaultingThread(id);
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeThread(thread, &code);
  CloseHandle(thread);
  // The fault ended only that thread, with -1; the process goes on.
  EXPECT_EQ(code, static_cast<DWORD>(-1));
  EXPECT_EQ(gHandOvers.load(), 1);
  EXPECT_EQ(gLast.source, 16);
  EXPECT_TRUE(gLast.canContinue);
  EXPECT_EQ(gLast.threadId, id);
  EXPECT_EQ(gLastClass, "QelException");
  EXPECT_EQ(gLastMessage.rfind("Access violation at address $", 0), 0u) << gLastMessage;
  EXPECT_NE(gLastMessage.find("in module 'capture_test.exe'. Write of address $0"),
            std::string::npos) << gLastMessage;
  EXPECT_TRUE(gLast.preparedStack != nullptr);
  // While the fault was reported the thread's record named its creator; it went with the
  // thread.
  ASSERT_TRUE(gThreadRecordFound);
  EXPECT_EQ(gThreadRecord.creatorThreadId, GetCurrentThreadId());
  auto creator = reinterpret_cast<uintptr_t>(StartFaultingThread);
  EXPECT_GT(gThreadRecord.creatorAddress, creator);
  EXPECT_LT(gThreadRecord.creatorAddress, creator + 64);
  EXPECT_FALSE(ThreadRecorded(id));
  // The recording handler saw the raise on that thread, not on this one.
  uint32_t address;
  CONTEXT context;
  EXPECT_FALSE(ThreadRaiseRecord(address, context));
  RemoveCapturePoints();
  EXPECT_FALSE(CapturePointsInstalled());
  CaptureHandOver = nullptr;
}

TEST(CapturePoints, AHookedThreadThatReturnsKeepsItsResultAndLeavesNoRecord) {
  CaptureHandOver = RecordHandOver;
  gHandOvers = 0;
  InstallCapturePoints(GetModuleHandleA(nullptr), true);
  ASSERT_TRUE(CapturePointsInstalled());
  DWORD id = 0;
  EXPECT_EQ(RunThreadToEnd(ReturningThread, id), 5u);
  EXPECT_FALSE(ThreadRecorded(id));
  // A second faulting thread after the first: each ends alone, the process stays.
  EXPECT_EQ(RunThreadToEnd(FaultingThread, id), static_cast<DWORD>(-1));
  EXPECT_EQ(RunThreadToEnd(FaultingThread, id), static_cast<DWORD>(-1));
  EXPECT_EQ(gHandOvers.load(), 2);
  RemoveCapturePoints();
  CaptureHandOver = nullptr;
}

LONG CALLBACK ContinueAfterNaming(EXCEPTION_POINTERS* p) {
  return p->ExceptionRecord->ExceptionCode == 0x406D1388 ? EXCEPTION_CONTINUE_EXECUTION
                                                         : EXCEPTION_CONTINUE_SEARCH;
}

TEST(CapturePoints, ThreadNamingExceptionNamesTheThread) {
  InstallCapturePoints(GetModuleHandleA(nullptr), true);
  struct {
    DWORD type = 0x1000;
    const char* name = "worker one";
    DWORD threadId = static_cast<DWORD>(-1);
    DWORD flags = 0;
  } info;
  // The debugger convention: raised and caught by the program itself.
  PVOID handler = AddVectoredExceptionHandler(0, ContinueAfterNaming);
  RaiseException(0x406D1388, 0, 4, reinterpret_cast<ULONG_PTR*>(&info));
  RemoveVectoredExceptionHandler(handler);
  RemoveCapturePoints();
  EXPECT_EQ(ThreadTitle(GetCurrentThreadId(), false),
            "worker one ($" + [] {
              char t[16];
              wsprintfA(t, "%x", static_cast<unsigned>(GetCurrentThreadId()));
              return std::string(t);
            }() + ")");
  NameThreadInfo(GetCurrentThreadId(), "");
}

LPTOP_LEVEL_EXCEPTION_FILTER CurrentTopLevelFilter() {
  LPTOP_LEVEL_EXCEPTION_FILTER current = SetUnhandledExceptionFilter(nullptr);
  SetUnhandledExceptionFilter(current);
  return current;
}

TEST(CapturePoints, AnObjectOfItsOwnHoldsThePointsAndGivesThemBackTwice) {
  ASSERT_FALSE(CapturePointsInstalled());
  const std::terminate_handler terminateBefore = std::get_terminate();
  const LPTOP_LEVEL_EXCEPTION_FILTER filterBefore = CurrentTopLevelFilter();
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    {
      CapturePoints points;
      ASSERT_TRUE(points.Install(GetModuleHandleA(nullptr), true));
      EXPECT_TRUE(points.Installed());
      EXPECT_TRUE(CapturePointsInstalled());  // the object is the running one
      EXPECT_NE(std::get_terminate(), terminateBefore);
      EXPECT_NE(CurrentTopLevelFilter(), filterBefore);
      EXPECT_NE(points.RealCreateThread(), nullptr);
      // The points are process-wide: a second object cannot take them.
      CapturePoints second;
      EXPECT_FALSE(second.Install(GetModuleHandleA(nullptr), true));
      EXPECT_FALSE(second.Installed());
    }
    EXPECT_FALSE(CapturePointsInstalled());
    EXPECT_EQ(std::get_terminate(), terminateBefore);
    EXPECT_EQ(CurrentTopLevelFilter(), filterBefore);
  }
}

TEST(FaultTexts, MessagesOfSystemExceptions) {
  EXCEPTION_RECORD record{};
  record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
  record.ExceptionAddress = reinterpret_cast<void*>(0x10);
  record.NumberParameters = 2;
  record.ExceptionInformation[0] = 0;
  record.ExceptionInformation[1] = 0x1234;
  EXPECT_EQ(AccessViolationText(record), "Access Violation");
  record.ExceptionAddress = reinterpret_cast<void*>(&Original);
  char expected[128];
  wsprintfA(expected, "Access violation at address $%x in module 'capture_test.exe'. Read of address $1234",
            static_cast<unsigned>(reinterpret_cast<uintptr_t>(&Original)));
  EXPECT_EQ(AccessViolationText(record), expected);
  record.ExceptionCode = EXCEPTION_INT_DIVIDE_BY_ZERO;
  EXPECT_EQ(OsExceptionMessage(record), "Division by zero");
  record.ExceptionCode = EXCEPTION_STACK_OVERFLOW;
  EXPECT_EQ(OsExceptionMessage(record), "Stack overflow");
  record.ExceptionCode = 0xE0001234;
  EXPECT_EQ(OsExceptionMessage(record), "External exception E0001234");
  // Floating-point division by zero has no message of its own.
  record.ExceptionCode = EXCEPTION_FLT_DIVIDE_BY_ZERO;
  EXPECT_EQ(OsExceptionMessage(record), "External exception C000008E");
  record.ExceptionCode = EXCEPTION_FLT_OVERFLOW;
  EXPECT_EQ(OsExceptionMessage(record), "Floating point overflow");
}

TEST(FileCheck, ChecksumOfAFileAndAChangedFile) {
  // The standard PE checksum of a stamped header: words summed with carry plus the length.
  std::string bytes(0x200, '\0');
  bytes[0x3C] = 0x40;
  uint32_t header = 0;
  uint32_t sum = PeFileChecksum(bytes, header);
  EXPECT_EQ(header, 0u);
  EXPECT_EQ(sum, 0x200u + 0x40u);
  bytes[0x100] = 1;
  EXPECT_EQ(PeFileChecksum(bytes, header), 0x200u + 0x41u);
  EXPECT_TRUE(CheckModuleFile(GetModuleHandleA(nullptr)));
}

// The child below: an overflowed stack whose report never ends. Its hand-over runs on a
// helper thread; the faulting thread waits for that thread only within the report's bound
// (shortened here), then goes on to the filter that was there before the reporter's.
constexpr long kFilterBeforeReporter = 77;

LONG WINAPI FilterBeforeReporter(EXCEPTION_POINTERS*) { ExitProcess(kFilterBeforeReporter); }

void HandOverThatNeverEnds(const CaptureRecord&) {
  HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  WaitForSingleObject(never, INFINITE);
}

__attribute__((noinline)) int Overflow(int depth) {
  volatile char frame[4096];
  frame[0] = static_cast<char>(depth);
  return Overflow(depth + 1) + frame[0];
}

TEST(CapturePoints, AnOverflowedStackWaitsForItsHelperThreadOnlyWithinTheBound) {
  const long code = RunChildProcess("\"" + SelfPath() + "\" --child=overflow-report-never-ends");
  EXPECT_EQ(code, kFilterBeforeReporter);
}

}  // namespace

int OverflowWithReportThatNeverEnds() {
  WaitBoundStandInMs = 300;
  SetUnhandledExceptionFilter(FilterBeforeReporter);
  CapturePoints points;
  if (!points.Install(GetModuleHandleA(nullptr), true)) return 2;
  CaptureHandOver = HandOverThatNeverEnds;
  return Overflow(0) != 0 ? 3 : 4;
}

}  // namespace qx

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--child=overflow-report-never-ends") == 0)
    return qx::OverflowWithReportThatNeverEnds();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
