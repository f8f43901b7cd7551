// The thread sections of a real process under Wine: the thread list, titles with their
// marks, the snapshot order, ">> created by", registers, stack dump and disassembly.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "function_win.h"
#include "progress_alert_win.h"
#include "process_registries.h"
#include "report_hooks_win.h"
#include "stack_trace_win.h"
#include "text_lines.h"
#include "thread_info_win.h"
#include "thread_sections_win.h"
#include "exception_object_win.h"

namespace qx {
namespace {

// True when `address` lies in this program's own image.
bool InThisProgram(DWORD address) {
  HMODULE module = nullptr;
  return GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<const char*>(address), &module) &&
         module == GetModuleHandleA(nullptr);
}

// A thread waiting in WaitForSingleObject until the object goes away. The constructor
// returns once the thread has left this program's code for the system's wait.
struct Waiter {
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> started{false};  // no system call between this and the wait
  HANDLE thread = nullptr;
  DWORD id = 0;
  static DWORD WINAPI Run(void* parameter) {
    auto* self = static_cast<Waiter*>(parameter);
    self->started = true;
    WaitForSingleObject(self->release, 20000);
    return 0;
  }
  explicit Waiter(int priority = THREAD_PRIORITY_NORMAL) {
    thread = CreateThread(nullptr, 0, Run, this, CREATE_SUSPENDED, &id);
    SetThreadPriority(thread, priority);
    ResumeThread(thread);
    EXPECT_TRUE(WaitUntilInTheWait()) << "thread " << id << " never reached its wait";
  }
  // Looks at the suspended thread's instruction pointer, for at most 20 seconds:
  // started, and outside this program, the thread is in WaitForSingleObject.
  bool WaitUntilInTheWait() {
    for (DWORD start = GetTickCount(); GetTickCount() - start < 20000;) {
      const bool wasStarted = started;
      CONTEXT context{};
      context.ContextFlags = CONTEXT_CONTROL;
      SuspendThread(thread);
      bool read = GetThreadContext(thread, &context);
      ResumeThread(thread);
      if (read && wasStarted && !InThisProgram(context.Eip)) return true;
      Sleep(1);
    }
    return false;
  }
  ~Waiter() {
    SetEvent(release);
    WaitForSingleObject(thread, 20000);
    CloseHandle(thread);
    CloseHandle(release);
    RemoveThreadInfo(id);
  }
};

constexpr char kCalculatedSoonText[] = ">> stack will be calculated soon";

std::string Hex(DWORD id) {
  char text[16];
  wsprintfA(text, "$%x", static_cast<unsigned>(id));
  return text;
}

__attribute__((noinline)) void CaptureHere(CONTEXT& context) {
  context.ContextFlags = CONTEXT_FULL;
  RtlCaptureContext(&context);
}

class ThreadSectionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Hooks() = ReportHooks();
    SetReportHandlerThread(0);
    LinkDisAsm();
    ThreadSectionsStartup();
    SetMainThreadId(GetCurrentThreadId());
    NameThreadInfo(GetCurrentThreadId(), "main thread");
    settings_ = OpenModuleSettings(GetModuleHandleA(nullptr));
    ASSERT_TRUE(settings_);
  }
  void TearDown() override {
    ThreadSectionsShutdown();
    Hooks() = ReportHooks();
  }
  ComPtr<IKVException> Make(DWORD crashed, const CONTEXT* context, uint32_t address,
                            uint8_t type = 0, bool dontCompleteYet = false) {
    ExceptionFacts facts;
    facts.type = type;
    facts.dontCompleteYet = dontCompleteYet;
    facts.address = address;
    facts.crashedThreadId = crashed;
    facts.context = context;
    return CreateTIKVException(settings_.Get(), facts);
  }
  static std::vector<std::string> SectionNames(IKVException* exception) {
    ComPtr<IKVFields> sections = ComPtr<IKVFields>::Adopt(exception->ReportSections());
    std::vector<std::string> names;
    for (int32_t i = 0; i < sections->ItemCount(); ++i) names.push_back(sections->ItemName(i));
    return names;
  }
  static std::string Section(IKVException* exception, const std::string& name) {
    ComPtr<IKVFields> sections = ComPtr<IKVFields>::Adopt(exception->ReportSections());
    return sections->Content(name);
  }
  ComPtr<IKVModuleSettings> settings_;
};

TEST_F(ThreadSectionsTest, ThreadListHoldsEveryThreadOfTheProcess) {
  Waiter waiter;
  std::vector<DWORD> ids = ThreadIdList();
  EXPECT_NE(std::find(ids.begin(), ids.end(), GetCurrentThreadId()), ids.end());
  EXPECT_NE(std::find(ids.begin(), ids.end(), waiter.id), ids.end());
  HANDLE handle = OpenThreadForState(waiter.id);
  EXPECT_NE(handle, nullptr);
  CloseHandle(handle);
}

TEST_F(ThreadSectionsTest, SectionsOfAFaultInTheMainThread) {
  Waiter below(THREAD_PRIORITY_BELOW_NORMAL);
  Waiter reporterThread;
  NameThreadInfo(reporterThread.id, "HandleExceptionThread");
  Waiter created;
  ThreadInfoRecord record;
  record.threadId = created.id;
  record.creatorAddress = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&CaptureHere)) + 4;
  record.creatorThreadId = GetCurrentThreadId();
  RecordThreadInfo(record);

  CONTEXT context{};
  CaptureHere(context);
  ComPtr<IKVException> exception = Make(GetCurrentThreadId(), &context, context.Eip);
  std::vector<std::string> names = SectionNames(exception.Get());
  const std::string mainTitle = "main thread (" + Hex(GetCurrentThreadId()) + "):";
  ASSERT_FALSE(names.empty());
  EXPECT_EQ(names[0], mainTitle);
  auto has = [&](const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
  };
  EXPECT_TRUE(has("thread " + Hex(below.id) + " <priority:-1>:"));
  EXPECT_TRUE(has("thread " + Hex(created.id) + ":"));
  EXPECT_FALSE(has("HandleExceptionThread (" + Hex(reporterThread.id) + "):"));
  EXPECT_TRUE(has("cpu registers"));
  EXPECT_TRUE(has("stack dump"));
  EXPECT_TRUE(has("disassembling"));

  std::string text = exception->GetReportText(true);
  std::string crashed = Section(exception.Get(), mainTitle);
  ASSERT_FALSE(crashed.empty());
  EXPECT_NE(crashed[0], '>') << crashed;
  char eip[16];
  wsprintfA(eip, "%08x", static_cast<unsigned>(context.Eip));
  EXPECT_EQ(crashed.substr(0, 8), eip) << crashed;

  std::vector<std::string> createdLines = Lines(Section(exception.Get(), "thread " + Hex(created.id) + ":"));
  ASSERT_GE(createdLines.size(), 2u);
  EXPECT_EQ(createdLines[createdLines.size() - 2], ">> created by " + mainTitle.substr(0, mainTitle.size() - 1) + " at:");
  char creator[16];
  wsprintfA(creator, "%08x", static_cast<unsigned>(record.creatorAddress));
  EXPECT_EQ(createdLines.back().substr(0, 8), creator);

  std::vector<std::string> registers = Lines(Section(exception.Get(), "cpu registers"));
  ASSERT_EQ(registers.size(), 9u);
  EXPECT_EQ(registers[6], std::string("eip = ") + eip);
  std::string dump = Section(exception.Get(), "stack dump");
  char esp[16];
  wsprintfA(esp, "%08x  ", static_cast<unsigned>(context.Esp));
  EXPECT_EQ(dump.substr(0, 10), esp);
  EXPECT_EQ(Lines(dump).size(), 20u);
  std::string listing = Section(exception.Get(), "disassembling");
  EXPECT_NE(listing.find('>'), std::string::npos) << listing;
}

// A failing section's text names the exception being handled with its own address line.
TEST_F(ThreadSectionsTest, AnInternalErrorNamesTheHandledExceptionsAddress) {
  ASSERT_NE(Hooks().internalErrorText, nullptr);
  EXPECT_EQ(Hooks().internalErrorText("GetStackDump"), ">> internal error in GetStackDump");
  const uint32_t address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&CaptureHere));
  HandledExceptionAddress = address;
  const std::string text = Hooks().internalErrorText("GetStackDump");
  HandledExceptionAddress = 0;
  char expected[64];
  wsprintfA(expected, ">> internal error in GetStackDump:\r\n%08x ", static_cast<unsigned>(address));
  EXPECT_EQ(text.substr(0, std::strlen(expected)), expected) << text;
  EXPECT_EQ(Lines(text).size(), 2u) << text;
  EXPECT_EQ(text, std::string(">> internal error in GetStackDump:\r\n") +
                      StackAddressText(address, true, true));
}

TEST_F(ThreadSectionsTest, FaultInAnotherThreadListsItFirstThenTheMainThread) {
  Waiter worker;
  CONTEXT context{};
  context.ContextFlags = CONTEXT_FULL;
  SuspendThread(worker.thread);
  GetThreadContext(worker.thread, &context);
  ResumeThread(worker.thread);
  ComPtr<IKVException> exception = Make(worker.id, &context, context.Eip);
  exception->SetListThreads(false);
  auto producer = MakeThreadSectionProducer(exception.Get());
  auto sections = producer->ThreadSections();
  ASSERT_EQ(sections.size(), 2u);
  EXPECT_EQ(sections[0].first, "thread " + Hex(worker.id) + ":");
  EXPECT_EQ(sections[1].first, "main thread (" + Hex(GetCurrentThreadId()) + "):");
  ThreadCrc crc;
  std::string text = producer->ThreadReport(0, crc);
  EXPECT_NE(crc.location, 0u);
  // Waiting in the system: the walk names the system's exported routines.
  EXPECT_NE(text.find("WaitForSingleObject"), std::string::npos) << text;
  // A freeze lists only the main thread.
  ComPtr<IKVException> freeze = Make(0, nullptr, 0, 1);
  freeze->SetListThreads(false);
  auto freezeSections = MakeThreadSectionProducer(freeze.Get())->ThreadSections();
  ASSERT_EQ(freezeSections.size(), 1u);
  EXPECT_EQ(freezeSections[0].first, "main thread (" + Hex(GetCurrentThreadId()) + "):");
  EXPECT_EQ(freezeSections[0].second, ">> stack will be calculated soon");
}

// A thread deep in a recursion, waiting at its bottom until released.
class DeepThread {
 public:
  static constexpr int kDepth = 4000;
  DeepThread(HANDLE release, HANDLE arrived, std::atomic<int>& count, int total)
      : release_(release), arrived_(arrived), count_(count), total_(total) {
    thread_ = CreateThread(nullptr, 1 << 20, Run, this, 0, &id_);
  }
  ~DeepThread() {
    WaitForSingleObject(thread_, 20000);
    CloseHandle(thread_);
  }
  DWORD id() const { return id_; }

 private:
  static DWORD WINAPI Run(void* parameter) {
    auto* self = static_cast<DeepThread*>(parameter);
    return static_cast<DWORD>(self->Descend(kDepth) & 1);
  }
  __attribute__((noinline)) int Descend(int depth) {
    volatile int local = depth;
    if (depth > 0) return Descend(depth - 1) + local;
    if (++count_ == total_) SetEvent(arrived_);
    WaitForSingleObject(release_, 60000);
    return local;
  }
  HANDLE release_, arrived_;
  std::atomic<int>& count_;
  int total_;
  HANDLE thread_ = nullptr;
  DWORD id_ = 0;
};

std::atomic<int> gPendingAtLeast{0x7fffffff};
HANDLE gFirstSectionDone = nullptr;
HANDLE gReleaseStarted = nullptr;
DWORD gTestThread = 0;

// Told on every change of the report: how many thread sections still wait for their trace.
// The first time, on the completion thread, it holds the completion until the test has
// begun to release the report, so that the release always meets traces still to run.
void __stdcall CountPending(bool complete, const std::string& report, IKVException*) {
  int pending = 0;
  for (size_t at = report.find(kCalculatedSoonText); at != std::string::npos;
       at = report.find(kCalculatedSoonText, at + 1))
    ++pending;
  if (pending == 0 && !complete) return;  // told before the sections were built
  int seen = gPendingAtLeast.load();
  while (pending < seen && !gPendingAtLeast.compare_exchange_weak(seen, pending)) {
  }
  if (GetCurrentThreadId() == gTestThread ||
      WaitForSingleObject(gFirstSectionDone, 0) == WAIT_OBJECT_0)
    return;
  SetEvent(gFirstSectionDone);
  WaitForSingleObject(gReleaseStarted, 60000);
}

// The report's own stop reaches the walker: an aborted report traces no thread any more.
TEST_F(ThreadSectionsTest, AnAbortedReportTracesNoThread) {
  Waiter worker;
  ComPtr<IKVException> exception = Make(0, nullptr, 0, 1);
  auto producer = MakeThreadSectionProducer(exception.Get());
  auto sections = producer->ThreadSections();
  size_t index = sections.size();
  for (size_t i = 0; i < sections.size(); ++i)
    if (sections[i].first == "thread " + Hex(worker.id) + ":") index = i;
  ASSERT_LT(index, sections.size());
  ThreadCrc crc;
  EXPECT_NE(producer->ThreadReport(index, crc).find("WaitForSingleObject"), std::string::npos);
  auto* object = dynamic_cast<TIKVException*>(exception.Get());
  ASSERT_NE(object, nullptr);
  object->Abort();
  EXPECT_EQ(producer->ThreadReport(index, crc), "");
}

// Releasing a report while its completion traces twenty deep threads stops the trace that
// runs: the completion ends by itself (not terminated), the remaining sections are never
// computed, and no thread of the reporter is left.
TEST_F(ThreadSectionsTest, ReleasingAReportStopsItsRunningTraceAndLeavesNoThread) {
  constexpr int kThreads = 20;
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE arrived = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  gFirstSectionDone = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  gReleaseStarted = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  gTestThread = GetCurrentThreadId();
  gPendingAtLeast = 0x7fffffff;
  std::atomic<int> count{0};
  std::vector<std::unique_ptr<DeepThread>> threads;
  for (int i = 0; i < kThreads; ++i)
    threads.push_back(std::make_unique<DeepThread>(release, arrived, count, kThreads));
  ASSERT_EQ(WaitForSingleObject(arrived, 60000), WAIT_OBJECT_0);

  // Sections asked for on the handler thread complete in a thread of their own.
  SetReportHandlerThread(GetCurrentThreadId());
  ComPtr<IKVException> exception = Make(0, nullptr, 0, 1);
  exception->AddReportCallback(CountPending, false);
  std::vector<std::string> names = SectionNames(exception.Get());
  SetReportHandlerThread(0);
  ASSERT_GE(names.size(), static_cast<size_t>(kThreads) + 1);
  DWORD completionId = 0;
  {
    auto ex = exception.As<IKVExceptionEx>(IID_IKVExceptionEx);  // dropped before the release
    ASSERT_TRUE(ex);
    completionId = ex->CompletionThreadId();
  }
  HANDLE completion = OpenThread(SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, completionId);
  ASSERT_NE(completion, nullptr);
  ASSERT_EQ(WaitForSingleObject(gFirstSectionDone, 60000), WAIT_OBJECT_0);
  SetEvent(gReleaseStarted);
  exception = nullptr;  // the last reference: the object aborts and waits for its thread

  EXPECT_EQ(WaitForSingleObject(completion, 0), WAIT_OBJECT_0) << "the completion still runs";
  DWORD exitCode = 0xFFFFFFFF;
  GetExitCodeThread(completion, &exitCode);
  EXPECT_EQ(exitCode, 0u) << "the completion was terminated instead of stopping";
  CloseHandle(completion);
  EXPECT_GT(gPendingAtLeast.load(), 0) << "every trace ran to its end";

  SetEvent(release);
  std::vector<DWORD> ours{completionId};
  for (const auto& thread : threads) ours.push_back(thread->id());
  threads.clear();
  for (DWORD id : ThreadIdList())
    EXPECT_EQ(std::find(ours.begin(), ours.end(), id), ours.end()) << "thread " << id << " is left";
  CloseHandle(release);
  CloseHandle(arrived);
  CloseHandle(gFirstSectionDone);
  CloseHandle(gReleaseStarted);
}

TEST_F(ThreadSectionsTest, AThreadWhoseStateCannotBeReadKeepsThePlaceholder) {
  CONTEXT context{};
  CaptureHere(context);
  ComPtr<IKVException> exception = Make(0x7ffffff0, &context, context.Eip);
  exception->SetListThreads(false);
  auto sections = MakeThreadSectionProducer(exception.Get())->ThreadSections();
  ASSERT_GE(sections.size(), 1u);
  EXPECT_EQ(sections[0].first, "thread $7ffffff0:");
  EXPECT_EQ(sections[0].second.substr(0, 47),
            ">> stack not accessible, exception location: \r\n");
}

// ---- the progress window fed by the traces ----

constexpr char kTracingText[] = "Tracing the threads of this program...";
constexpr UINT kGetBarPosition = WM_USER + 8;  // PBM_GETPOS

std::string LabelOf(IProgressAlert* window) {
  char text[256] = {};
  GetWindowTextA(ProgressWindowPartsOf(window).label, text, sizeof text);
  return text;
}

int BarOf(IProgressAlert* window) {
  return static_cast<int>(SendMessageA(ProgressWindowPartsOf(window).bar, kGetBarPosition, 0, 0));
}

// A report with a window of its own that shows the given text for its thread areas.
ComPtr<IProgressAlert> GiveProgressWindow(IKVException* exception) {
  exception->SetPlWaitText(kTracingText);
  exception->SetPlWaitBox(true);
  ComPtr<IProgressAlert> window = CreateProgressWindow("Information", nullptr, "");
  auto* object = dynamic_cast<TIKVException*>(exception);
  EXPECT_NE(object, nullptr);
  if (object != nullptr) object->SetProgressWindow(window);
  return window;
}

// Each traced thread is an area titled with PlWaitText, weighted by the stack it uses; the
// walker's positions move the bar through them, and the last thread fills it. On the
// window's own thread every position is sent, so the controls show it at once.
TEST_F(ThreadSectionsTest, TheTracesMoveTheProgressBarThroughOneAreaPerThread) {
  Waiter first, second;
  ComPtr<IKVException> exception = Make(0, nullptr, 0, 1);
  exception->SetListThreads(true);
  ComPtr<IProgressAlert> window = GiveProgressWindow(exception.Get());
  auto producer = MakeThreadSectionProducer(exception.Get());
  auto sections = producer->ThreadSections();
  ASSERT_GE(sections.size(), 3u);
  ASSERT_TRUE(window->Show(nullptr, false));
  EXPECT_EQ(LabelOf(window.Get()), kTracingText);
  EXPECT_EQ(BarOf(window.Get()), 0);

  int previous = 0;
  for (size_t i = 0; i < sections.size(); ++i) {
    ThreadCrc crc;
    producer->ThreadReport(i, crc);
    EXPECT_EQ(window->GetCurrentArea(), static_cast<int32_t>(i)) << sections[i].first;
    EXPECT_EQ(window->GetPosition(), 1000) << sections[i].first;
    const int bar = BarOf(window.Get());
    EXPECT_GT(bar, previous) << "after " << sections[i].first;
    previous = bar;
    EXPECT_EQ(LabelOf(window.Get()), kTracingText);
  }
  EXPECT_EQ(previous, 1000);
  window->Close();
}

// With ListThreads off only the crashed thread is traced: its area is the whole bar.
TEST_F(ThreadSectionsTest, TracingOnlyTheFirstThreadStillFillsTheBar) {
  Waiter worker;
  ComPtr<IKVException> exception = Make(0, nullptr, 0, 1);
  exception->SetListThreads(true);
  ComPtr<IProgressAlert> window = GiveProgressWindow(exception.Get());
  auto producer = MakeThreadSectionProducer(exception.Get());
  ASSERT_GE(producer->ThreadSections().size(), 2u);
  producer->KeepFirstThreadOnly();
  ASSERT_TRUE(window->Show(nullptr, false));
  ThreadCrc crc;
  producer->ThreadReport(0, crc);
  EXPECT_EQ(BarOf(window.Get()), 1000);
  EXPECT_EQ(LabelOf(window.Get()), kTracingText);
  window->Close();
}

IProgressAlert* gWatchedWindow = nullptr;
std::string gLabelAtCompletion;
int gBarAtCompletion = -1;

// Called on the completion's thread each time the report changes; the last call, with the
// report complete, comes before the completion closes its window.
void __stdcall ReadWindowWhenComplete(bool complete, const std::string&, IKVException*) {
  if (!complete || gBarAtCompletion >= 0 || gWatchedWindow == nullptr) return;
  if (ProgressWindowPartsOf(gWatchedWindow).bar == nullptr) return;
  gLabelAtCompletion = LabelOf(gWatchedWindow);
  gBarAtCompletion = BarOf(gWatchedWindow);
}

// A caller that waits for the complete report on its own thread runs the completion there,
// with the window shown: the label shows PlWaitText, the bar reaches 1000 before the
// completion closes the window, and the window is gone when the text comes back.
TEST_F(ThreadSectionsTest, ACompletionOnTheCallersThreadShowsItsProgressUntilTheEnd) {
  Waiter worker;
  ComPtr<IKVException> exception = Make(0, nullptr, 0, 1, true);
  exception->SetListThreads(true);
  ComPtr<IProgressAlert> window = GiveProgressWindow(exception.Get());
  gWatchedWindow = window.Get();
  gBarAtCompletion = -1;
  gLabelAtCompletion.clear();
  exception->AddReportCallback(ReadWindowWhenComplete, false);
  ASSERT_GE(SectionNames(exception.Get()).size(), 2u);
  EXPECT_EQ(ProgressWindowPartsOf(window.Get()).window, nullptr) << "shown before the wait";

  const std::string text = exception->GetReportText(true);
  EXPECT_NE(text.find("thread " + Hex(worker.id) + ":"), std::string::npos);
  EXPECT_EQ(gLabelAtCompletion, kTracingText);
  EXPECT_EQ(gBarAtCompletion, 1000);
  EXPECT_EQ(ProgressWindowPartsOf(window.Get()).window, nullptr) << "left open";
  gWatchedWindow = nullptr;
}

}  // namespace
}  // namespace qx
