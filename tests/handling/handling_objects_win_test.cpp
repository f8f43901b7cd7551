// The pipeline, the handler tables and the watchdog as objects of a test's own, with no
// running reporter in the process: each is made and destroyed twice, does its work on its
// own state only, and leaves no handle, thread or window behind.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <thread>
#include <vector>

#include "exception_object_win.h"
#include "handler_tables_win.h"
#include "handling_core.h"
#include "pipeline_win.h"
#include "process_registries.h"
#include "thread_names_win.h"
#include "watchdog_win.h"

namespace qx {
namespace {

constexpr LRESULT kAnswer = 777;

// The values of the next 64 handles the process would get. Handle slots are handed out
// lowest free first, so a handle left open since the last call changes the list.
// (Wine's GetProcessHandleCount always answers 0.)
std::vector<uintptr_t> FreeHandleSlots() {
  std::vector<HANDLE> probes;
  for (int i = 0; i < 64; ++i) probes.push_back(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  std::vector<uintptr_t> slots;
  for (HANDLE probe : probes) {
    slots.push_back(reinterpret_cast<uintptr_t>(probe));
    if (probe != nullptr) CloseHandle(probe);
  }
  std::sort(slots.begin(), slots.end());
  return slots;
}

TEST(HandleSlots, AHandleLeftOpenIsSeen) {
  const std::vector<uintptr_t> before = FreeHandleSlots();
  EXPECT_EQ(FreeHandleSlots(), before);
  HANDLE leaked = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  EXPECT_NE(FreeHandleSlots(), before);
  CloseHandle(leaked);
  EXPECT_EQ(FreeHandleSlots(), before);
}

// True when the thread has ended (or is gone already).
bool ThreadEnded(DWORD threadId) {
  HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, threadId);
  if (thread == nullptr) return true;
  bool ended = WaitForSingleObject(thread, 2000) == WAIT_OBJECT_0;
  CloseHandle(thread);
  return ended;
}

class OwnObjects : public ::testing::Test {
 protected:
  void SetUp() override {
    // Nothing of a running reporter exists here: the objects below stand alone.
    ASSERT_EQ(Running().pipeline.load(), nullptr);
    ASSERT_EQ(Running().handlerTables.load(), nullptr);
    ASSERT_EQ(Running().watchdog.load(), nullptr);
  }
};

// ---- the pipeline ----

// Hands a record to the pipeline's thread and waits until the thread has handled it (a
// handled exception that may continue: nothing ends the program).
bool HandledOnItsThread(Pipeline& pipeline) {
  HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (done == nullptr) return false;
  HandOverRecord record{};
  record.event = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(done));
  record.threadId = GetCurrentThreadId();
  record.type = kTypeHandled;
  record.canContinue = 1;
  if (!pipeline.Submit(record)) {
    CloseHandle(done);
    return false;
  }
  // The pipeline's thread owns the event of a record it was handed and closes it.
  return WaitForSingleObject(done, 10000) == WAIT_OBJECT_0;
}

TEST_F(OwnObjects, APipelineStartsAndStopsItsHandlerThreadTwiceWithoutLeaking) {
  // The first round also makes what the process keeps for good (settings read for the
  // exception object); the two after it must leave nothing behind.
  std::vector<uintptr_t> handlesBefore;
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    DWORD threadId = 0;
    {
      Pipeline pipeline;
      EXPECT_FALSE(pipeline.Started());
      ASSERT_TRUE(pipeline.Start());
      ASSERT_TRUE(pipeline.Start());  // a second start keeps the thread
      threadId = pipeline.ThreadId();
      ASSERT_NE(threadId, 0u);
      EXPECT_EQ(ThreadName(threadId), "-");
      // The free routines stand for the running reporter, which has no pipeline.
      EXPECT_EQ(HandlerThreadId(), 0u);
      ASSERT_TRUE(HandledOnItsThread(pipeline));

      pipeline.Stop();
      EXPECT_TRUE(ThreadEnded(threadId));
      EXPECT_EQ(pipeline.ThreadId(), 0u);
      EXPECT_FALSE(pipeline.Started());
      EXPECT_FALSE(pipeline.Submit(HandOverRecord{}));
      EXPECT_EQ(ThreadName(threadId), "");
      ASSERT_TRUE(pipeline.Start());  // the destructor stops the second thread
      threadId = pipeline.ThreadId();
      ASSERT_TRUE(HandledOnItsThread(pipeline));
    }
    EXPECT_TRUE(ThreadEnded(threadId));
    if (round == 0)
      handlesBefore = FreeHandleSlots();
    else
      EXPECT_EQ(FreeHandleSlots(), handlesBefore);
  }
}

TEST_F(OwnObjects, APipelineKeepsItsOwnHistoryAndReserves) {
  ExceptionHistory history{};
  history.stamps[0] = 12345;
  {
    Pipeline first;
    Pipeline second;
    first.SetHistory(history);
    first.ShiftHistoryAt(20000);
    EXPECT_EQ(first.History().stamps[0], 20000u);
    EXPECT_EQ(first.History().stamps[1], 12345u);
    EXPECT_EQ(second.History().stamps[0], 0u);
    EXPECT_EQ(CurrentExceptionHistory().stamps[0], 0u);  // no running pipeline

    first.ReserveEmergencyMemory();
    EXPECT_EQ(first.ReservedBlockCount(), Pipeline::kReserveCount);
    EXPECT_EQ(second.ReservedBlockCount(), 0u);
    first.ReleaseEmergencyMemory();
    EXPECT_EQ(first.ReservedBlockCount(), 0u);
    first.ReserveEmergencyMemory();  // released by the destructor
  }
}

// ---- the handler tables ----

int gFirstCalls = 0;
int gSecondCalls = 0;
bool gSawSynchronised = false;

void __stdcall FirstAction(int32_t, IKVException*, bool& handled) {
  ++gFirstCalls;
  handled = true;
}

void __stdcall SecondAction(int32_t, IKVException*, bool&) {
  ++gSecondCalls;
  const TFireHandlersParams* call = CurrentHandlerCall();
  gSawSynchronised = call != nullptr && call->callSynchronised;
}

TEST_F(OwnObjects, HandlerTablesCallOnlyTheirOwnEntries) {
  HandlerTables first;
  HandlerTables second;
  gFirstCalls = gSecondCalls = 0;
  first.Add(kEventAction, kSyncAnyThread, 0, reinterpret_cast<void*>(FirstAction), nullptr,
            false);
  second.Add(kEventAction, kSyncAnyThread, 0, reinterpret_cast<void*>(SecondAction), nullptr,
             false);
  // Without a running reporter the free routines have no tables to register in.
  RegisterActionHandler(SecondAction, kSyncAnyThread);
  EXPECT_FALSE(first.Empty(kEventAction));
  EXPECT_TRUE(first.Empty(kEventException));

  TFireHandlersParams params;
  params.eventKind = kEventAction;
  params.action = kActionContinue;
  EXPECT_TRUE(first.CallList(params));
  EXPECT_TRUE(params.handled);
  EXPECT_EQ(gFirstCalls, 1);
  EXPECT_EQ(gSecondCalls, 0);

  first.Remove(kEventAction, reinterpret_cast<void*>(FirstAction), nullptr, false);
  TFireHandlersParams again;
  again.eventKind = kEventAction;
  EXPECT_FALSE(first.CallList(again));
  EXPECT_EQ(gFirstCalls, 1);
  TFireHandlersParams none;
  none.eventKind = kEventAction;
  EXPECT_FALSE(CallHandlerList(none));  // the running reporter's (none)
  EXPECT_EQ(gSecondCalls, 0);
}

TEST_F(OwnObjects, HandlerTablesReachTheirHandlersThroughTheirOwnWindowTwice) {
  const UINT handlerMessage = RegisterWindowMessageA("qelExceptHandlerMsg");
  const std::vector<uintptr_t> handlesBefore = FreeHandleSlots();
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    HWND window = nullptr;
    {
      HandlerTables tables;
      gSecondCalls = 0;
      gSawSynchronised = false;
      tables.Add(kEventAction, kSyncMainThread, 0, reinterpret_cast<void*>(SecondAction),
                 nullptr, false);
      ASSERT_TRUE(tables.MakeWindow());
      window = tables.Window();
      ASSERT_NE(window, nullptr);
      EXPECT_EQ(tables.WindowThreadId(), GetCurrentThreadId());
      EXPECT_EQ(ReporterWindow(), nullptr);  // not the running reporter's window

      EXPECT_EQ(SendMessageA(window, handlerMessage, 1, 0), kAnswer);  // the probe
      TFireHandlersParams params;
      params.eventKind = kEventAction;
      params.callSynchronised = true;
      EXPECT_EQ(SendMessageA(window, handlerMessage, 0, reinterpret_cast<LPARAM>(&params)),
                kAnswer);
      EXPECT_EQ(gSecondCalls, 1);
      EXPECT_TRUE(gSawSynchronised);

      tables.PauseOthers(false, 0);  // makes the pause events
    }
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(FreeHandleSlots(), handlesBefore);
  }
}

TEST_F(OwnObjects, APausedMainThreadIsLentOnceAndHeldAgain) {
  HandlerTables tables;
  EXPECT_FALSE(tables.LendMainThread(true));  // nothing holds it
  // The pause spares the thread that asks for it; from a worker it holds the main thread.
  std::thread([&] { tables.PauseOthers(true, 0); }).join();
  EXPECT_TRUE(tables.LendMainThread(true));
  EXPECT_FALSE(tables.LendMainThread(true));  // already running
  tables.LendMainThread(false);
  EXPECT_TRUE(tables.LendMainThread(true));  // held again
  tables.LendMainThread(false);
  tables.PauseOthers(false, 0);
  EXPECT_FALSE(tables.LendMainThread(true));
}

// ---- the watchdog ----

// Waits until the watchdog's first ping reaches the window, so that its thread runs its
// loop (stopping ends the thread where it is: inside the heap, that would harm the
// process), and hands it to the window.
bool FirstPingArrived(HWND window, UINT pingMessage) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < 10000) {
    MSG message;
    if (PeekMessageA(&message, window, pingMessage, pingMessage, PM_REMOVE)) {
      DispatchMessageA(&message);
      return true;
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_POSTMESSAGE);
  }
  return false;
}

TEST_F(OwnObjects, AWatchdogAnswersPingsThroughItsTablesWindowAndStopsTwice) {
  const UINT pingMessage = RegisterWindowMessageA("qelExceptPingMsg");
  HandlerTables tables;
  ASSERT_TRUE(tables.MakeWindow());
  const std::vector<uintptr_t> handlesBefore = FreeHandleSlots();
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    DWORD threadId = 0;
    {
      Watchdog watchdog(tables);
      EXPECT_EQ(watchdog.ThreadId(), static_cast<DWORD>(-1));
      ASSERT_TRUE(watchdog.Start(60000));
      threadId = watchdog.ThreadId();
      ASSERT_NE(threadId, static_cast<DWORD>(-1));
      ASSERT_TRUE(FirstPingArrived(tables.Window(), pingMessage));
      EXPECT_EQ(WatchdogThreadId(), static_cast<DWORD>(-1));  // no running watchdog
      // The window hands the ping to this watchdog, which answers the window named in
      // the ping.
      EXPECT_EQ(SendMessageA(tables.Window(), pingMessage,
                             reinterpret_cast<WPARAM>(tables.Window()), 0),
                kAnswer);
      watchdog.Pause(true);
      watchdog.Pause(false);
      watchdog.Stop();
      EXPECT_TRUE(ThreadEnded(threadId));
      EXPECT_EQ(watchdog.ThreadId(), static_cast<DWORD>(-1));
      EXPECT_EQ(SendMessageA(tables.Window(), pingMessage, 0, 0), 0);  // nobody answers
      ASSERT_TRUE(watchdog.Start(60000));  // the destructor stops the second thread
      threadId = watchdog.ThreadId();
      ASSERT_TRUE(FirstPingArrived(tables.Window(), pingMessage));
    }
    EXPECT_TRUE(ThreadEnded(threadId));
    EXPECT_EQ(SendMessageA(tables.Window(), pingMessage, 0, 0), 0);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
    EXPECT_EQ(FreeHandleSlots(), handlesBefore);
  }
}

TEST_F(OwnObjects, AWatchdogNeedsAWindow) {
  HandlerTables tables;
  Watchdog watchdog(tables);
  EXPECT_FALSE(watchdog.Start(60000));
  EXPECT_EQ(watchdog.ThreadId(), static_cast<DWORD>(-1));
}

// ---- stopping asks first ----

// The process's watchdog mutex (the same object as the watchdog's own, while it has one).
HANDLE WatchdogMutex(bool take) {
  return CreateMutexA(nullptr, take,
                      ProcessObjectName("qelExceptWatchdogMtx", GetCurrentProcessId()).c_str());
}

// Stops the watchdog and says whether its thread had ended by then by itself, not
// terminated (the thread's own end gives exit code 0).
bool StopsByItself(Watchdog& watchdog) {
  HANDLE thread = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), watchdog.ThreadHandle(), GetCurrentProcess(), &thread,
                       SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, 0))
    return false;
  watchdog.Stop();
  DWORD exitCode = Watchdog::kCutExitCode;
  const bool ended = WaitForSingleObject(thread, 0) == WAIT_OBJECT_0 &&
                     GetExitCodeThread(thread, &exitCode) && exitCode == 0;
  CloseHandle(thread);
  return ended;
}

// A running watchdog holds the process's watchdog mutex; stopped, it leaves by itself and
// releases the mutex (a terminated one would leave it abandoned).
TEST_F(OwnObjects, AStoppedWatchdogLeavesByItselfAndReleasesItsMutex) {
  const UINT pingMessage = RegisterWindowMessageA("qelExceptPingMsg");
  HandlerTables tables;
  ASSERT_TRUE(tables.MakeWindow());
  Watchdog watchdog(tables);
  ASSERT_TRUE(watchdog.Start(60000));  // six seconds between pings
  ASSERT_TRUE(FirstPingArrived(tables.Window(), pingMessage));  // it holds the mutex now
  HANDLE mutex = WatchdogMutex(false);
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_TRUE(StopsByItself(watchdog));
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0) << "released, not abandoned";
  ReleaseMutex(mutex);
  CloseHandle(mutex);
}

// Another watchdog of the process (another reporter copy) holds the mutex for good: this
// one waits for it, and its stop still ends that wait.
TEST_F(OwnObjects, AWatchdogWaitingForTheMutexStopsWhenAsked) {
  HANDLE mutex = WatchdogMutex(true);
  ASSERT_NE(mutex, nullptr);
  HandlerTables tables;
  ASSERT_TRUE(tables.MakeWindow());
  Watchdog watchdog(tables);
  ASSERT_TRUE(watchdog.Start(1000));
  EXPECT_TRUE(StopsByItself(watchdog));
  ReleaseMutex(mutex);
  CloseHandle(mutex);
}

// The pipeline's stop aborts the reports being made, so that their traces end at once;
// a registered report is held until it is removed.
TEST_F(OwnObjects, APipelinesStopAbortsTheReportsBeingMade) {
  ExceptionFacts facts;
  facts.type = kTypeFreeze;
  ComPtr<IKVException> first = CreateTIKVException(nullptr, facts);
  ComPtr<IKVException> second = CreateTIKVException(nullptr, facts);
  ASSERT_TRUE(first);
  ASSERT_TRUE(second);
  auto* firstObject = dynamic_cast<TIKVException*>(first.Get());
  auto* secondObject = dynamic_cast<TIKVException*>(second.Get());
  ASSERT_NE(firstObject, nullptr);
  ASSERT_NE(secondObject, nullptr);
  Pipeline pipeline;
  ASSERT_TRUE(pipeline.Start());
  pipeline.AddCurrentReport(first.Get());
  pipeline.AddCurrentReport(second.Get());
  pipeline.RemoveCurrentReport(second.Get());
  first->AddRef();
  EXPECT_EQ(first->Release(), 2u);  // this test's and the pipeline's
  pipeline.Stop();
  EXPECT_TRUE(firstObject->AbortFlag().load());
  EXPECT_FALSE(secondObject->AbortFlag().load());
  pipeline.RemoveCurrentReport(first.Get());
  first->AddRef();
  EXPECT_EQ(first->Release(), 1u);
}

}  // namespace
}  // namespace qx
