// The pipeline in a real process: the reporter linked into this program, exceptions handed
// over explicitly from the main thread and from workers, handlers registered by the test.
// Endings of the process (close, restart) are checked in child processes of this program.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "desktop_visibility_win.h"
#include "exception_object_win.h"
#include "handler_tables_win.h"
#include "handling_test_support.h"
#include "text_lines.h"
#include "pipeline_win.h"
#include "process_registries.h"
#include "report_hooks_win.h"
#include "report_plugins_win.h"
#include "settings_open_win.h"
#include "wait_bound_win.h"

namespace qx {
namespace {

struct Call {
  int phase;
  DWORD thread;
  std::string exceptionClass;
  bool synchronised;
  bool synchronisationFailed;
};

std::mutex gCallsLock;
std::vector<Call> gCalls;

std::vector<Call> Calls() {
  std::lock_guard<std::mutex> guard(gCallsLock);
  return gCalls;
}

void Record(IKVException* exception) {
  const TFireHandlersParams* call = CurrentHandlerCall();
  std::lock_guard<std::mutex> guard(gCallsLock);
  gCalls.push_back({exception->Phase(), GetCurrentThreadId(), exception->ExceptionClass(),
                    call != nullptr && call->callSynchronised,
                    call != nullptr && call->synchronisationFailed});
}

void __stdcall RecordingHandler(void*, IKVException* exception, bool&) { Record(exception); }

void HandOver(Exception& error, bool canContinue = true) {
  HandOverException(kTypeException, &error, 0, nullptr, nullptr, nullptr, 16, nullptr, 0, 0,
                    canContinue);
}

class Handling : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearHandlerTables();
    std::lock_guard<std::mutex> guard(gCallsLock);
    gCalls.clear();
  }
  void TearDown() override { ClearHandlerTables(); }
};

// ---- one hand-over from a worker, start to end ----

HANDLE gPhaseThreeReached = nullptr;

void __stdcall PhaseThreeHandler(void*, IKVException* exception, bool&) {
  Record(exception);
  SetEvent(gPhaseThreeReached);
}

// A report section that is finished only once the handlers of phase 3 were called, so that
// the report is still incomplete when the pipeline reaches phase 3.
std::string WaitingSection() {
  WaitForSingleObject(gPhaseThreeReached, 10000);
  return "section text";
}

TEST_F(Handling, WorkerHandOverRunsOnHandlerThreadThroughAllPhasesAndSavesOnce) {
  gPhaseThreeReached = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::string file = TempPath("handling_save_");
  DeleteFileA(file.c_str());
  ComPtr<IKVModuleSettings> main = MainSettings();
  main->SetAutoSave(true);
  main->SetAutoClip(true);
  main->SetBugRepFile(file);
  main->SwitchPlugin("waiting", true);
  RegisterReportPlugin("waiting", "waits for phase 3", WaitingSection, true);
  for (uint8_t phase : {1, 2, 4})
    RegisterExceptionHandler(RecordingHandler, reinterpret_cast<void*>(phase), kSyncAnyThread, phase);
  RegisterExceptionHandler(PhaseThreeHandler, nullptr, kSyncAnyThread, 3);

  std::atomic<bool> resumed{false};
  std::thread worker([&] {
    ETestError error("worker failed");
    HandOver(error);
    resumed = true;
  });
  worker.join();

  main->SetAutoSave(false);
  main->SetAutoClip(false);
  main->SwitchPlugin("waiting", false);
  UnregisterReportPlugin("waiting");
  CloseHandle(gPhaseThreeReached);

  EXPECT_TRUE(resumed);
  std::vector<Call> calls = Calls();
  ASSERT_EQ(calls.size(), 4u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(calls[i].phase, i + 1);
    EXPECT_EQ(calls[i].exceptionClass, "ETestError");
  }
  for (int i = 0; i < 3; ++i) EXPECT_EQ(calls[i].thread, HandlerThreadId());
  // Phase 4 is told by whoever finished the report: the completion thread.
  EXPECT_NE(calls[3].thread, HandlerThreadId());

  std::string saved = ReadWholeFile(file);
  EXPECT_EQ(saved.rfind("date/time", 0), 0u);
  EXPECT_EQ(CountOf(saved, "\r\ndate/time"), 0u);  // one report
  EXPECT_NE(saved.find("ETestError"), std::string::npos);
  EXPECT_NE(saved.find("worker failed."), std::string::npos);
  EXPECT_NE(saved.find("\r\n\r\nwaiting:\r\nsection text"), std::string::npos);
  // The clipboard got the same complete report the file did.
  EXPECT_EQ(ClipboardText() + "\r\n\r\n", saved);
  DeleteFileA(file.c_str());
}

bool gRecursed = false;
void __stdcall HandingOverAgain(void*, IKVException* exception, bool&) {
  Record(exception);
  if (gRecursed) return;
  gRecursed = true;
  ETestError inner("inside the handler thread");
  HandOver(inner);
}

std::atomic<uint32_t> gAddressSeen{0xFFFFFFFF};
void __stdcall AddressReader(void*, IKVException*, bool&) {
  gAddressSeen = HandledExceptionAddress.load();
}

// While the pipeline works on an exception the internal-error texts can name where it
// happened; before and after, nothing is being handled.
TEST_F(Handling, TheHandledExceptionsAddressIsKnownWhileItIsHandled) {
  RegisterExceptionHandler(AddressReader, nullptr, kSyncAnyThread, 1);
  const uint32_t address =
      static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&AddressReader)) + 3;
  EXPECT_EQ(HandledExceptionAddress.load(), 0u);
  std::thread worker([&] {
    ETestError error("with an address");
    HandOverException(kTypeException, &error, address, nullptr, nullptr, nullptr, 16, nullptr,
                      0, 0, true);
  });
  worker.join();
  EXPECT_EQ(gAddressSeen.load(), address);
  EXPECT_EQ(HandledExceptionAddress.load(), 0u);
}

TEST_F(Handling, AHandOverOnTheHandlerThreadIsIgnored) {
  RegisterExceptionHandler(HandingOverAgain, nullptr, kSyncAnyThread, 1);
  std::thread worker([] {
    ETestError error("outer");
    HandOver(error);
  });
  worker.join();
  EXPECT_TRUE(gRecursed);
  EXPECT_EQ(Calls().size(), 1u);
}

std::vector<int32_t> gActions;
bool gTakeOverSave = false;

void __stdcall RecordingActionHandler(int32_t action, IKVException*, bool& handled) {
  std::lock_guard<std::mutex> guard(gCallsLock);
  gActions.push_back(action);
  if (action == kActionSave && gTakeOverSave) handled = true;
}

TEST_F(Handling, ActionHandlersAreAskedToContinueAndMayTakeTheSaveOver) {
  std::string file = TempPath("handling_taken_over_");
  DeleteFileA(file.c_str());
  ComPtr<IKVModuleSettings> main = MainSettings();
  main->SetAutoSave(true);
  main->SetBugRepFile(file);
  gActions.clear();
  gTakeOverSave = true;
  RegisterActionHandler(RecordingActionHandler, kSyncAnyThread);
  ETestError error("saved elsewhere");
  HandOver(error);
  main->SetAutoSave(false);
  EXPECT_EQ(gActions, (std::vector<int32_t>{kActionContinue, kActionSave}));
  EXPECT_EQ(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES);
}

void __stdcall HandledRecorder(IKVException* exception, bool&) { Record(exception); }

TEST_F(Handling, AHandledExceptionReachesOnlyTheHandledExceptionHandlers) {
  RegisterHandledExceptionHandler(HandledRecorder, kSyncAnyThread);
  RegisterExceptionHandler(RecordingHandler, nullptr, kSyncAnyThread, 1);
  gActions.clear();
  RegisterActionHandler(RecordingActionHandler, kSyncAnyThread);
  ExceptionHistory before = CurrentExceptionHistory();
  SetExceptionHistory(ExceptionHistory());
  ETestError error("caught by the program");
  HandOverException(kTypeHandled, &error, 0, nullptr, nullptr, nullptr, 15, nullptr, 0, 0, true);
  ASSERT_EQ(Calls().size(), 1u);
  EXPECT_EQ(Calls()[0].phase, 1);
  EXPECT_TRUE(gActions.empty());
  // Handled exceptions do not count for the repeat rule.
  EXPECT_EQ(CurrentExceptionHistory().stamps[0], 0u);
  SetExceptionHistory(before);
}

// ---- what is never reported, and what the filters decide ----

TEST_F(Handling, AnAbortAndItsDescendantsAreNeverReported) {
  RegisterExceptionHandler(RecordingHandler, nullptr, kSyncAnyThread, 1);
  EAbort abort("silent");
  EUserCancel cancel("cancelled");
  HandOver(abort);
  HandOver(cancel);
  // Without an object, the exception being handled on this thread is taken.
  try {
    throw EUserCancel("thrown");
  } catch (...) {
    HandOverException(kTypeException, nullptr, 0, nullptr, nullptr, nullptr, 16, nullptr, 0, 0,
                      true);
  }
  EXPECT_TRUE(Calls().empty());
  try {
    throw ETestError("thrown and reported");
  } catch (...) {
    HandOverException(kTypeException, nullptr, 0, nullptr, nullptr, nullptr, 16, nullptr, 0, 0,
                      true);
  }
  ASSERT_EQ(Calls().size(), 1u);
  EXPECT_EQ(Calls()[0].exceptionClass, "ETestError");
}

TEST_F(Handling, AnObjectThatIsNoExceptionIsDroppedAndTheFaultStillReported) {
  RegisterExceptionHandler(RecordingHandler, nullptr, kSyncAnyThread, 1);
  char garbage[64];
  std::memset(garbage, 0xCC, sizeof garbage);
  void* guarded = VirtualAlloc(nullptr, 4096, MEM_COMMIT, PAGE_NOACCESS);
  for (void* object : {static_cast<void*>(garbage), reinterpret_cast<void*>(0x10), guarded}) {
    HandOverException(kTypeException, object, 0, nullptr, nullptr, nullptr, 14, nullptr, 0, 0,
                      true);
  }
  VirtualFree(guarded, 0, MEM_RELEASE);
  std::vector<Call> calls = Calls();
  ASSERT_EQ(calls.size(), 3u);
  for (const Call& call : calls) EXPECT_EQ(call.exceptionClass, "");
}

TEST_F(Handling, AnAbortThatCannotContinueClosesTheProgram) {
  EXPECT_EQ(RunChild("--child=abort-cannot-continue"), 1);
  EXPECT_EQ(RunChild("--child=abort-can-continue"), 0);
}

TEST_F(Handling, AnEditErrorDescendantGetsNothingButTheShortBox) {
  ComPtr<IKVModuleSettings> main = MainSettings();
  main->SetPauseThreads(true);
  EMaskedEditError masked("bad mask");
  ETestError plain("plain");
  ExceptionRequest request;
  request.settings = main.Get();
  request.object = &masked;
  ComPtr<IKVException> filtered = CreateExceptionObject(request);
  request.object = &plain;
  ComPtr<IKVException> general = CreateExceptionObject(request);
  main->SetPauseThreads(false);

  ASSERT_TRUE(filtered && general);
  EXPECT_EQ(filtered->ExceptionClass(), "EMaskedEditError");
  EXPECT_FALSE(filtered->WantReport());
  EXPECT_FALSE(filtered->WantScreenshot());
  EXPECT_FALSE(filtered->CallHandlers());
  EXPECT_FALSE(filtered->GetPauseThreads());
  EXPECT_EQ(filtered->ShowMode(), 3u);
  EXPECT_TRUE(general->WantReport());
  EXPECT_TRUE(general->WantScreenshot());  // ScrShotDepth 8
  EXPECT_TRUE(general->CallHandlers());
  EXPECT_TRUE(general->GetPauseThreads());
  EXPECT_EQ(general->ShowMode(), 0u);
  EXPECT_EQ(general->AttachScreenshot(), general->WantScreenshot());

  // Handed over, it reaches no handler and saves nothing.
  std::string file = TempPath("handling_filtered_");
  DeleteFileA(file.c_str());
  main->SetAutoSave(true);
  main->SetBugRepFile(file);
  RegisterExceptionHandler(RecordingHandler, nullptr, kSyncAnyThread, 1);
  HandOver(masked);
  main->SetAutoSave(false);
  EXPECT_TRUE(Calls().empty());
  EXPECT_EQ(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Handling, ClassListsMatchTheClassOrAnAncestorWithBlanksAroundItems) {
  ComPtr<IKVModuleSettings> main = MainSettings();
  main->SetF1Classes("  EFirstListed ,  EDBEditError ");
  main->SetF2Classes("\tESecondListed , eTestError");
  main->SetF2ShowCfg(2);
  auto showModeOf = [&](Exception& object) {
    ExceptionRequest request;
    request.settings = main.Get();
    request.object = &object;
    return CreateExceptionObject(request)->ShowMode();
  };
  EFirstListed first("1");
  ESecondChild secondChild("2");
  ETestError test("3");  // listed only in other letter case
  EMaskedEditError masked("4");
  EXPECT_EQ(showModeOf(first), 3u);
  EXPECT_EQ(showModeOf(secondChild), 2u);
  EXPECT_EQ(showModeOf(test), 0u);
  EXPECT_EQ(showModeOf(masked), 3u);
  main->SetF1Classes("EDBEditError");
  main->SetF2Classes("");
  main->SetF2ShowCfg(0);
}

TEST_F(Handling, AFreezeAlwaysUsesTheGeneralGroup) {
  ComPtr<IKVModuleSettings> main = MainSettings();
  main->SetF1Classes("Exception, TObject");
  main->SetGnShowCfg(4);
  ExceptionRequest request;
  request.settings = main.Get();
  request.type = kTypeFreeze;
  request.source = 1;
  ComPtr<IKVException> freeze = CreateExceptionObject(request);
  ETestError error("any");
  request.type = kTypeException;
  request.object = &error;
  ComPtr<IKVException> exception = CreateExceptionObject(request);
  main->SetF1Classes("EDBEditError");
  main->SetGnShowCfg(0);
  EXPECT_EQ(freeze->ShowMode(), 4u);
  EXPECT_TRUE(freeze->WantReport());
  EXPECT_EQ(exception->ShowMode(), 3u);  // every object derives from Exception
}

// ---- showing ----

// Runs the window program beside this one; its exit code, and what it read off the box.
long RunGuiChild(uint32_t mode, std::string& box, const char* extra = "") {
  std::string output = TempPath("handling_box_");
  DeleteFileA(output.c_str());
  long code = RunChildProcess("\"" + SelfFolder() + "handling_gui_child.exe\" " +
                                  std::to_string(mode) + " \"" + output + "\" " + extra,
                              30000);
  box = ReadWholeFile(output);
  DeleteFileA(output.c_str());
  return code;
}

TEST_F(Handling, AWindowProgramGetsTheExceptionBoxForShowModesZeroToThreeOnly) {
  std::string box;
  EXPECT_EQ(RunGuiChild(0, box), 0);
  EXPECT_EQ(box,
            "handling_gui_child.exe|An error occurred in the application.\r\n\r\ngui failure.");
  EXPECT_EQ(RunGuiChild(3, box), 0);
  EXPECT_NE(box.find("gui failure."), std::string::npos);
  EXPECT_EQ(RunGuiChild(4, box), 1);  // nothing shown; the program just continues
  EXPECT_EQ(box, "");
}

TEST_F(Handling, OnAStationNobodySeesNoBoxIsShownAndTheReportFileSaysSo) {
  std::string file;
  EXPECT_EQ(RunGuiChild(0, file, "unseen"), 1);
  // The line stands where the box would have been shown; the automatic save follows.
  std::vector<std::string> lines = Lines(file);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "Not shown (no visible desktop): An error occurred in the application. "
                      "gui failure.");
  EXPECT_EQ(lines[1], "");
  EXPECT_NE(file.find("gui failure.", lines[0].size()), std::string::npos);
}

DesktopFacts InvisibleStation() { return DesktopFacts{false, true}; }

TEST_F(Handling, OnAStationNobodySeesNoProgressWindowIsMade) {
  ComPtr<IKVModuleSettings> main = MainSettings();
  ExceptionRequest request;
  request.settings = main.Get();
  request.type = kTypeFreeze;
  request.source = 1;
  ComPtr<IKVException> shown = CreateExceptionObject(request);
  DesktopFactsQuery = InvisibleStation;
  ComPtr<IKVException> unseen = CreateExceptionObject(request);
  DesktopFactsQuery = nullptr;
  EXPECT_TRUE(static_cast<TIKVException*>(shown.Get())->HasProgressWindow());
  EXPECT_FALSE(static_cast<TIKVException*>(unseen.Get())->HasProgressWindow());
}

TEST_F(Handling, WindowsAreSeenOnAVisibleStationAndInAHostOnlyInAUserSession) {
  EXPECT_TRUE(WindowsCanBeSeen(DesktopFacts{true, true}, false));
  EXPECT_TRUE(WindowsCanBeSeen(DesktopFacts{true, false}, true));
  EXPECT_FALSE(WindowsCanBeSeen(DesktopFacts{true, false}, false));
  EXPECT_FALSE(WindowsCanBeSeen(DesktopFacts{false, true}, true));
  EXPECT_FALSE(WindowsCanBeSeen(DesktopFacts{false, true}, false));
  // This test runs on a desktop, as its window tests do.
  EXPECT_TRUE(WindowsCanBeSeen(true));
}

// ---- repeat rule, restart and close ----

TEST_F(Handling, TenExceptionsWithinTheSpanRestartAndHandTheHistoryOver) {
  std::string file = TempPath("handling_restarted_");
  DeleteFileA(file.c_str());
  EXPECT_EQ(RunChild("--child=repeat 9 \"" + file + "\""), 0);
  EXPECT_EQ(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(RunChild("--child=repeat 10 \"" + file + "\""), 2);
  // The restarted process writes how many history entries it took over.
  std::string taken;
  for (int i = 0; i < 300 && taken.empty(); ++i) {
    Sleep(100);
    taken = ReadWholeFile(file);
  }
  EXPECT_EQ(taken, "10");
  DeleteFileA(file.c_str());
}

TEST_F(Handling, AutoCloseOrAnExceptionThatCannotContinueEndTheProgramWithExitCodeOne) {
  EXPECT_EQ(RunChild("--child=autoclose"), 1);
  EXPECT_EQ(RunChild("--child=cannot-continue"), 1);
}

// ---- handlers that want the main thread ----

TEST_F(Handling, AMainThreadHandlerRunsThereWhileTheMainThreadWaitsPumping) {
  RegisterExceptionHandler(RecordingHandler, nullptr, kSyncMainThread, 1);
  ETestError error("on the main thread");
  HandOver(error);  // the main thread itself waits for its record
  std::atomic<bool> done{false};
  std::thread worker([&] {
    ETestError other("from a worker");
    HandOver(other);
    done = true;
  });
  while (!done) PumpFor(20);
  worker.join();
  std::vector<Call> calls = Calls();
  ASSERT_EQ(calls.size(), 2u);
  for (const Call& call : calls) {
    EXPECT_EQ(call.thread, ProcessMainThreadId());
    EXPECT_TRUE(call.synchronised);
  }
}

// Set by a message hook on the main thread when it takes a WM_QUIT out of its queue.
HANDLE gQuitTaken = nullptr;
std::atomic<DWORD> gQuitTakenWait{WAIT_TIMEOUT};

LRESULT CALLBACK WatchQuit(int code, WPARAM removal, LPARAM message) {
  if (code == HC_ACTION && removal == PM_REMOVE &&
      reinterpret_cast<const MSG*>(message)->message == WM_QUIT)
    SetEvent(gQuitTaken);
  return CallNextHookEx(nullptr, code, removal, message);
}

void __stdcall PostingQuit(void*, IKVException* exception, bool&) {
  Record(exception);
  PostThreadMessageA(ProcessMainThreadId(), WM_QUIT, 5, 0);
  // The hand-over ends only after the waiting main thread has taken the quit.
  gQuitTakenWait = WaitForSingleObject(gQuitTaken, 20000);
}

TEST_F(Handling, AQuitReceivedWhileTheMainThreadWaitsIsPostedAgainWithItsExitCode) {
  gQuitTaken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HHOOK hook = SetWindowsHookExA(WH_GETMESSAGE, WatchQuit, nullptr, GetCurrentThreadId());
  ASSERT_NE(hook, nullptr);
  RegisterExceptionHandler(PostingQuit, nullptr, kSyncAnyThread, 1);
  ETestError error("quitting");
  HandOver(error);
  UnhookWindowsHookEx(hook);
  CloseHandle(gQuitTaken);
  ASSERT_EQ(Calls().size(), 1u);
  EXPECT_EQ(gQuitTakenWait, WAIT_OBJECT_0);
  MSG message;
  ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(message.wParam, 5u);
}

TEST_F(Handling, AMainThreadThatDoesNotAnswerLeavesTheHandlerToTheHandlerThread) {
  RegisterExceptionHandler(RecordingHandler, reinterpret_cast<void*>(1), kSyncMainThread, 1);
  RegisterExceptionHandler(RecordingHandler, reinterpret_cast<void*>(2), kSyncMainOrHandlerThread, 1);
  std::thread worker([] {
    ETestError error("main thread busy");
    HandOver(error);
  });
  worker.join();  // the main thread retrieves no messages meanwhile
  std::vector<Call> calls = Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].thread, HandlerThreadId());
  EXPECT_TRUE(calls[0].synchronisationFailed);
  PumpFor(50);  // the late probe is answered and changes nothing
  EXPECT_EQ(Calls().size(), 1u);
}

// ---- several faulting threads ----

std::atomic<int> gInFlight{0};
std::atomic<int> gMostInFlight{0};

void __stdcall OverlapHandler(void*, IKVException* exception, bool&) {
  int now = ++gInFlight;
  int most = gMostInFlight;
  while (now > most && !gMostInFlight.compare_exchange_weak(most, now)) {
  }
  Sleep(30);
  Record(exception);
  --gInFlight;
}

TEST_F(Handling, EightThreadsAtOnceAreHandledOneAtATimeNoneLost) {
  RegisterExceptionHandler(OverlapHandler, nullptr, kSyncAnyThread, 1);
  HANDLE start = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::vector<std::thread> threads;
  std::atomic<int> resumed{0};
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&, i] {
      ETestError error("thread " + std::to_string(i));
      WaitForSingleObject(start, INFINITE);
      HandOver(error);
      ++resumed;
    });
  }
  SetEvent(start);
  for (auto& thread : threads) thread.join();
  CloseHandle(start);
  EXPECT_EQ(resumed, 8);
  EXPECT_EQ(Calls().size(), 8u);
  EXPECT_EQ(gMostInFlight, 1);
}

// ---- pausing ----

std::atomic<long> gMainLoops{0};
std::atomic<long> gLoopsWhilePaused{-1};

void __stdcall MeasuringPause(void*, IKVException* exception, bool&) {
  Record(exception);
  Sleep(100);  // the main thread reaches its pause point
  long before = gMainLoops;
  Sleep(300);
  gLoopsWhilePaused = gMainLoops - before;
}

TEST_F(Handling, PauseThreadsHoldsTheMainThreadAtItsNextMessageUntilTheEnd) {
  ComPtr<IKVModuleSettings> main = MainSettings();
  main->SetPauseThreads(true);
  RegisterExceptionHandler(MeasuringPause, nullptr, kSyncAnyThread, 2);
  std::atomic<bool> done{false};
  std::thread worker([&] {
    ETestError error("pausing");
    HandOver(error);
    done = true;
  });
  while (!done) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    ++gMainLoops;
    Sleep(1);
  }
  worker.join();
  main->SetPauseThreads(false);
  ASSERT_EQ(Calls().size(), 1u);
  EXPECT_LE(gLoopsWhilePaused, 1);
  EXPECT_GT(gMainLoops, 0);
}

// ---- bounds on the waits for the reporter ----

HANDLE gHandlerEntered = nullptr;
HANDLE gHandlerRelease = nullptr;
std::atomic<bool> gPersonWaits{false};
std::atomic<bool> gMainPausedInHandler{false};
std::mutex gAbortsLock;
std::vector<bool> gAborts;  // per call of HangingHandler: whether its report was aborted

// Hangs until the test lets it go (or, should the test fail first, a guard's time).
void __stdcall HangingHandler(void*, IKVException* exception, bool&) {
  Record(exception);
  if (HandlerTables* tables = Running().handlerTables) gMainPausedInHandler = tables->MainPaused();
  {
    PersonWaitScope person(gPersonWaits);
    SetEvent(gHandlerEntered);
    WaitForSingleObject(gHandlerRelease, 20000);
  }
  std::lock_guard<std::mutex> guard(gAbortsLock);
  gAborts.push_back(dynamic_cast<TIKVException*>(exception)->AbortFlag().load());
}

class BoundedWaits : public Handling {
 protected:
  void SetUp() override {
    Handling::SetUp();
    gHandlerEntered = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    gHandlerRelease = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    returned_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    gPersonWaits = false;
    gMainPausedInHandler = false;
    std::lock_guard<std::mutex> guard(gAbortsLock);
    gAborts.clear();
    WaitBoundStandInMs = kStandInMs;
  }
  void TearDown() override {
    SetEvent(gHandlerRelease);
    if (worker_.joinable()) worker_.join();
    WaitBoundStandInMs = 0;
    MainSettings()->SetPauseThreads(false);
    // A report is handled after the one before: once it is back, the hanging one has ended.
    HandOverOnWorker("after the hanging one");
    worker_.join();
    CloseHandle(gHandlerEntered);
    CloseHandle(gHandlerRelease);
    CloseHandle(returned_);
    Handling::TearDown();
  }
  // Hands an exception over on a worker thread, which sets returned_ once it is back.
  void HandOverOnWorker(const char* message) {
    worker_ = std::thread([this, message] {
      ETestError error(message);
      HandOver(error);
      SetEvent(returned_);
    });
  }
  std::vector<bool> Aborts() {
    std::lock_guard<std::mutex> guard(gAbortsLock);
    return gAborts;
  }

  static constexpr unsigned long kStandInMs = 200;
  HANDLE returned_ = nullptr;
  std::thread worker_;
};

TEST_F(BoundedWaits, AHandlerThatNeverEndsHoldsTheFaultingThreadOnlyForTheBoundAndIsAborted) {
  RegisterExceptionHandler(HangingHandler, nullptr, kSyncAnyThread, 1);
  HandOverOnWorker("hanging handler");
  ASSERT_EQ(WaitForSingleObject(gHandlerEntered, 10000), WAIT_OBJECT_0);
  // The handler still hangs: only the bound lets the faulting thread go on.
  ASSERT_EQ(WaitForSingleObject(returned_, 10000), WAIT_OBJECT_0);
  worker_.join();
  EXPECT_TRUE(Aborts().empty());
  SetEvent(gHandlerRelease);
  WaitBoundStandInMs = 0;
  HandOverOnWorker("after the hanging one");
  ASSERT_EQ(WaitForSingleObject(returned_, 60000), WAIT_OBJECT_0);
  worker_.join();
  // The report given up was aborted under its handler; the next one was not.
  EXPECT_EQ(Aborts(), (std::vector<bool>{true, false}));
}

TEST_F(BoundedWaits, ThreadsPausedForAReportThatNeverEndsAreLetGo) {
  ComPtr<IKVModuleSettings> main = MainSettings();
  main->SetPauseThreads(true);
  RegisterExceptionHandler(HangingHandler, nullptr, kSyncAnyThread, 2);
  HandOverOnWorker("hanging while paused");
  // The main thread retrieves its messages (and pauses at them) until the worker is back.
  while (MsgWaitForMultipleObjects(1, &returned_, FALSE, 10000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
  }
  ASSERT_EQ(WaitForSingleObject(returned_, 0), WAIT_OBJECT_0);
  ASSERT_EQ(WaitForSingleObject(gHandlerEntered, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(gMainPausedInHandler);
  // Let go while the handler still hangs.
  EXPECT_FALSE(Running().handlerTables.load()->MainPaused());
  EXPECT_TRUE(Aborts().empty());
}

TEST_F(BoundedWaits, AWindowWaitingForAPersonKeepsTheFaultingThreadWaitingForIt) {
  gPersonWaits = true;
  RegisterExceptionHandler(HangingHandler, nullptr, kSyncAnyThread, 1);
  HandOverOnWorker("shown to a person");
  ASSERT_EQ(WaitForSingleObject(gHandlerEntered, 10000), WAIT_OBJECT_0);
  // Ten quiet limits, five total limits pass: the thread still waits for the window.
  EXPECT_EQ(WaitForSingleObject(returned_, 10 * kStandInMs), static_cast<DWORD>(WAIT_TIMEOUT));
  SetEvent(gHandlerRelease);  // the person closes the window
  ASSERT_EQ(WaitForSingleObject(returned_, 10000), WAIT_OBJECT_0);
  worker_.join();
  EXPECT_EQ(Aborts(), std::vector<bool>{false});
}

HANDLE gSectionRelease = nullptr;

std::string HangingSection() {
  WaitForSingleObject(gSectionRelease, 20000);
  return "late section";
}

TEST_F(BoundedWaits, ACompletionThatNeverEndsIsAbortedAfterTheBound) {
  gSectionRelease = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ComPtr<IKVModuleSettings> main = MainSettings();
  main->SwitchPlugin("hanging", true);
  RegisterReportPlugin("hanging", "never ends", HangingSection, true);
  for (bool window : {true, false}) {
    SCOPED_TRACE(window);
    ResetEvent(gSectionRelease);
    ExceptionRequest request;
    request.settings = main.Get();
    request.type = kTypeFreeze;
    request.source = 1;
    if (!window) DesktopFactsQuery = InvisibleStation;
    // As the handler thread does, this thread has the completion run on a thread of its own.
    SetReportHandlerThread(GetCurrentThreadId());
    ComPtr<IKVException> report = CreateExceptionObject(request);
    DesktopFactsQuery = nullptr;
    auto* object = static_cast<TIKVException*>(report.Get());
    EXPECT_EQ(object->HasProgressWindow(), window);
    report->GetReportText(true);  // back only through the bound: the section still hangs
    SetReportHandlerThread(HandlerThreadId());
    EXPECT_NE(object->CompletionThreadId(), GetCurrentThreadId());
    EXPECT_TRUE(object->AbortFlag().load());
    SetEvent(gSectionRelease);  // its completion thread then ends before the report goes
  }
  main->SwitchPlugin("hanging", false);
  UnregisterReportPlugin("hanging");
  CloseHandle(gSectionRelease);
}

// ---- a process inside the loader ----

// Set when the pipeline starts processing a hand-over, on the thread that processes it.
HANDLE gProcessingStarted = nullptr;
std::atomic<DWORD> gProcessingThread{0};

TEST_F(Handling, WhileTheLoaderLockIsHeldTheHandOverRunsOnTheFaultingThread) {
  EXPECT_FALSE(ProcessBlockedTest(0));
  std::string suffix = std::to_string(GetCurrentProcessId());
  HANDLE entered = CreateEventA(nullptr, TRUE, FALSE, ("qxLoaderProbeEntered" + suffix).c_str());
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, ("qxLoaderProbeRelease" + suffix).c_str());
  HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  RegisterExceptionHandler(RecordingHandler, nullptr, kSyncAnyThread, 1);
  gProcessingStarted = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  PipelineLinks().processExceptionStarted = [] {
    gProcessingThread = GetCurrentThreadId();
    SetEvent(gProcessingStarted);
  };

  std::atomic<DWORD> faultingThread{0};
  std::thread faulting([&] {
    faultingThread = GetCurrentThreadId();
    SetEvent(ready);
    WaitForSingleObject(go, INFINITE);
    ETestError error("inside the loader");
    HandOver(error);
  });
  WaitForSingleObject(ready, INFINITE);
  HMODULE probe = nullptr;
  std::thread loading([&] { probe = LoadLibraryA("handling_loader_probe.dll"); });
  ASSERT_EQ(WaitForSingleObject(entered, 20000), WAIT_OBJECT_0);
  bool blocked = ProcessBlockedTest(0);
  SetEvent(go);
  // The hand-over finds the process blocked and starts on its own thread while the loader
  // is still held.
  EXPECT_EQ(WaitForSingleObject(gProcessingStarted, 20000), WAIT_OBJECT_0);
  EXPECT_EQ(gProcessingThread, faultingThread.load());
  SetEvent(release);
  loading.join();
  faulting.join();
  EXPECT_TRUE(blocked);
  EXPECT_FALSE(ProcessBlockedTest(0));
  std::vector<Call> calls = Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].thread, faultingThread.load());
  if (probe != nullptr) FreeLibrary(probe);
  PipelineLinks().processExceptionStarted = nullptr;
  for (HANDLE handle : {entered, release, go, ready, gProcessingStarted}) CloseHandle(handle);
}

// ---- stopping and starting ----

TEST_F(Handling, ShutdownEndsTheHandlerThreadAndStartUpMakesANewOne) {
  DWORD first = HandlerThreadId();
  ASSERT_NE(first, 0u);
  HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, first);
  ASSERT_NE(thread, nullptr);
  HandlingShutdown();
  EXPECT_EQ(WaitForSingleObject(thread, 2000), WAIT_OBJECT_0);  // ended by the zero record
  CloseHandle(thread);
  EXPECT_EQ(HandlerThreadId(), 0u);
  EXPECT_EQ(ReporterWindow(), nullptr);
  HandlingStartup();
  EXPECT_NE(HandlerThreadId(), 0u);
  RegisterExceptionHandler(RecordingHandler, nullptr, kSyncAnyThread, 1);
  std::thread worker([] {
    ETestError error("after a new start");
    HandOver(error);
  });
  worker.join();
  ASSERT_EQ(Calls().size(), 1u);
  EXPECT_EQ(Calls()[0].thread, HandlerThreadId());
}

// ---- child scenarios ----

int RunChildScenario(const std::string& scenario, int argc, char** argv) {
  ComPtr<IKVModuleSettings> main = MainSettings();
  if (scenario == "abort-cannot-continue" || scenario == "abort-can-continue") {
    EUserCancel abort("no");
    HandOver(abort, scenario == "abort-can-continue");
    return 0;
  }
  if (scenario == "cannot-continue") {
    ETestError error("fatal");
    HandOver(error, false);
    return 0;
  }
  if (scenario == "autoclose") {
    main->SetAutoClose(1);
    ETestError error("closing");
    HandOver(error);
    return 0;
  }
  if (scenario == "repeat" && argc >= 4) {
    ExceptionHistory history = CurrentExceptionHistory();
    if (history.stamps[0] != 0) {
      int taken = 0;
      for (uint64_t stamp : history.stamps) taken += stamp != 0;
      std::string text = std::to_string(taken);
      HANDLE file = CreateFileA(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
      DWORD written = 0;
      WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
      CloseHandle(file);
      return 7;
    }
    main->SetAutoRestart(60);
    int count = std::atoi(argv[2]);
    for (int i = 0; i < count; ++i) {
      ETestError error("repeated");
      HandOver(error);
    }
    return 0;
  }
  return 3;
}

}  // namespace
}  // namespace qx

int main(int argc, char** argv) {
  qx::SettingsStartup();
  qx::HandlingStartup();
  int result;
  if (argc >= 2 && std::strncmp(argv[1], "--child=", 8) == 0) {
    result = qx::RunChildScenario(argv[1] + 8, argc, argv);
  } else {
    testing::InitGoogleTest(&argc, argv);
    result = RUN_ALL_TESTS();
  }
  qx::HandlingShutdown();
  qx::SettingsShutdown();
  return result;
}
