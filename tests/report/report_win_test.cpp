// The exception object in a real process: header gathered under Wine, sections completed
// in the background by a section producer, change tracking and callbacks, the settings
// overlay, the field and attachment lists' owner links, and the three list plug-ins.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <regex>
#include <string>
#include <vector>

#include "list_plugins_win.h"
#include "report_layout.h"
#include "report_plugins_win.h"
#include "ci_environment.h"
#include "test_support.h"
#include "text_lines.h"
#include "exception_object_win.h"

namespace qx {
namespace {

std::vector<std::string> HeaderNames(IKVException* exception) {
  ComPtr<IKVFields> header = ComPtr<IKVFields>::Adopt(exception->HeaderFields());
  std::vector<std::string> names;
  for (int32_t i = 0; i < header->ItemCount(); ++i) names.push_back(header->ItemName(i));
  return names;
}

// A producer whose crashed-thread report waits until the test releases it.
struct SlowProducerState {
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE firstThreadStarted = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ~SlowProducerState() { CloseHandle(firstThreadStarted); }
  std::atomic<int> threadReports{0};
  std::atomic<int> registers{0};
  std::atomic<bool> waitForAbort{false};
  IKVException* owner = nullptr;
};
SlowProducerState* gSlow = nullptr;

class SlowProducer : public ReportSectionProducer {
 public:
  std::vector<std::pair<std::string, std::string>> ThreadSections() override {
    return {{"main thread ($10):", ">> will be calculated soon"},
            {"thread $20:", ">> will be calculated soon"},
            {"thread $30:", ">> will be calculated soon"}};
  }
  void KeepFirstThreadOnly() override { threads_ = 1; }
  size_t ThreadCount() override { return threads_; }
  std::string ThreadReport(size_t index, ThreadCrc& crc) override {
    ++gSlow->threadReports;
    if (index == 0) {
      SetEvent(gSlow->firstThreadStarted);
      WaitForSingleObject(gSlow->release, 10000);
    }
    crc.location = 0x11111111u * static_cast<uint32_t>(index + 1);
    crc.stack = 0x01020304u + static_cast<uint32_t>(index);
    crc.hasLines = index == 2;
    return "stack of " + std::to_string(index) + "\r\n";
  }
  std::string CpuRegisters() override {
    ++gSlow->registers;
    return "eax = 00000000";
  }
  std::string StackDump() override { return "0012ff00  00"; }
  bool DisassemblerLinked() override { return false; }
  std::string Disassembly() override { return {}; }
  std::vector<std::string> MinDebugInfoList() override { return {"QXUdfLib|3.1"}; }

 private:
  size_t threads_ = 3;
};

std::unique_ptr<ReportSectionProducer> MakeSlowProducer(IKVException*) {
  return std::make_unique<SlowProducer>();
}

void DescribeTestObject(void* object, std::string& className, std::string& message) {
  className = "EAccessViolation";
  message = static_cast<const char*>(object);
}

class ExceptionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Hooks() = ReportHooks();
    Hooks().describeObject = DescribeTestObject;
    SetReportHandlerThread(GetCurrentThreadId());
    settings_ = OpenModuleSettings(GetModuleHandleA(nullptr));
    ASSERT_TRUE(settings_);
    ASSERT_TRUE(settings_->HasSettings());
  }
  void TearDown() override {
    Hooks() = ReportHooks();
    SetReportHandlerThread(0);
  }
  ComPtr<IKVException> Make(uint8_t type = 0, bool withContext = true) {
    ExceptionFacts facts;
    facts.type = type;
    facts.object = type == 1 ? nullptr : const_cast<char*>("Access violation at address 00401000!");
    facts.address = 0x00401000;
    facts.context = withContext ? &context_ : nullptr;
    return CreateTIKVException(settings_.Get(), facts);
  }
  ComPtr<IKVModuleSettings> settings_;
  CONTEXT context_{};
};

TEST_F(ExceptionTest, HeaderHoldsThePlatformFieldsInOrder) {
  ReportStartup();
  ComPtr<IKVException> exception = Make();
  std::vector<std::string> names = HeaderNames(exception.Get());
  const std::vector<std::string> required = {
      "date/time",        "computer name",     "user name",        "operating system",
      "system language",  "system up time",    "program up time",  "physical memory",
      "free disk space",  "display mode",      "process id",       "allocated memory",
      "executable",       "exec. date/time",   "version",          "compiled with",
      "qelExcept version", "callstack crc",    "exception number", "exception class",
      "exception message"};
  size_t at = 0;
  for (const std::string& name : names)
    if (at < required.size() && name == required[at]) ++at;
  EXPECT_EQ(at, required.size()) << "missing or out of order: " << required[at];
  // Beyond those, only the fields whose presence depends on the machine or the call.
  const std::vector<std::string> optional = {"wts client name", "registered owner", "processor",
                                             "processors", "command line", "bde version"};
  for (const std::string& name : names) {
    bool known = std::find(required.begin(), required.end(), name) != required.end() ||
                 std::find(optional.begin(), optional.end(), name) != optional.end();
    EXPECT_TRUE(known) << name;
  }
  ComPtr<IKVFields> header = ComPtr<IKVFields>::Adopt(exception->HeaderFields());
  EXPECT_EQ(header->Content("qelExcept version"), "3.0l");
  EXPECT_EQ(header->Content("callstack crc"), "will be calculated soon");
  EXPECT_EQ(header->Content("exception message"), "Access violation at address 00401000.");
  EXPECT_EQ(header->Content("version"), "1.2.3.4");
  char id[16];
  wsprintfA(id, "$%x", GetCurrentProcessId());
  EXPECT_EQ(header->Content("process id"), id);
  EXPECT_TRUE(std::regex_match(header->Content("date/time"),
                               std::regex(R"(\d{4}-\d\d-\d\d, \d\d:\d\d:\d\d, \d{1,3}ms)")));
  EXPECT_TRUE(std::regex_match(header->Content("exec. date/time"),
                               std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d)")));
  EXPECT_TRUE(std::regex_match(header->Content("physical memory"),
                               std::regex(R"(\d+/\d+ MB \(free/total\))")));
  EXPECT_TRUE(std::regex_match(header->Content("display mode"), std::regex(R"(\d+x\d+, \d+ bit)")));
  EXPECT_NE(header->Content("compiled with").find("GCC"), std::string::npos);

  // The layout: every header line padded to the longest name plus one.
  std::string text = exception->GetReportText(false);
  EXPECT_EQ(text.compare(0, 20, "date/time         : "), 0);
  EXPECT_NE(text.find("\r\nexception number  : "), std::string::npos);

  // A second header counts on.
  ComPtr<IKVException> second = Make(1);
  ComPtr<IKVFields> secondHeader = ComPtr<IKVFields>::Adopt(second->HeaderFields());
  EXPECT_EQ(std::stoull(secondHeader->Content("exception number")),
            std::stoull(header->Content("exception number")) + 1);
  EXPECT_EQ(secondHeader->Find("exception class"), -1);  // a freeze has no class
  EXPECT_EQ(secondHeader->Content("exception message"), second->GetFrozenMsg());
  ReportShutdown();
}

TEST_F(ExceptionTest, ListSectionsInSettingOrder) {
  ReportStartup();
  ComPtr<IKVException> exception = Make(0, false);
  std::string text = exception->GetReportText(true);
  size_t modules = text.find("\r\n\r\nmodules:\r\n");
  size_t processes = text.find("\r\n\r\nprocesses:\r\n");
  size_t hardware = text.find("\r\n\r\nhardware:\r\n");
  EXPECT_NE(modules, std::string::npos);
  EXPECT_LT(modules, processes);
  EXPECT_LT(processes, hardware == std::string::npos ? text.size() : hardware);
  EXPECT_NE(text.find("report_win_test.exe", modules), std::string::npos);
  ReportShutdown();
}

TEST_F(ExceptionTest, MessageEqualToClassHasNoMessageLine) {
  Hooks().describeObject = [](void*, std::string& cls, std::string& msg) {
    cls = "EAbortX.";
    msg = "EAbortX";
  };
  ComPtr<IKVException> exception = Make();
  ComPtr<IKVFields> header = ComPtr<IKVFields>::Adopt(exception->HeaderFields());
  EXPECT_EQ(header->Find("exception message"), -1);
  EXPECT_EQ(exception->ExceptionMessage(), "EAbortX.");
}

TEST_F(ExceptionTest, InsertionPointCountsGatheredPairsThatCameOutEmpty) {
  ComPtr<IKVException> exception = Make();
  ComPtr<IKVFields> header = ComPtr<IKVFields>::Adopt(exception->HeaderFields());
  // The pairs gathered before "callstack crc", whether their value came out empty or not:
  // seventeen from "date/time" to "executable" (this program is the executable, so no
  // "current module"), the file's date and version when it has a date, "bde version",
  // "compiled with", "qelExcept version", and the plug-ins' lines between it and the crc.
  const bool dated = header->Find("exec. date/time") >= 0;
  const int32_t plugins = header->Find("callstack crc") - header->Find("qelExcept version") - 1;
  const int32_t gathered = 17 + (dated ? 2 : 0) + 3 + plugins;
  // This test program runs without parameters: at least its command line came out empty.
  ASSERT_EQ(header->Find("command line"), -1);
  ASSERT_LT(header->Find("callstack crc"), gathered);
  header->SetContent("contact name", "Joe");
  EXPECT_EQ(header->Find("contact name"), gathered - 1);
}

TEST_F(ExceptionTest, SlowSectionsDoNotBlockReadingAndCompleteWithChecksum) {
  SlowProducerState state;
  gSlow = &state;
  Hooks().makeSectionProducer = MakeSlowProducer;
  ComPtr<IKVException> exception = Make();
  auto ex = ComPtr<IKVException>(exception).As<IKVExceptionEx>(IID_IKVExceptionEx);
  ex->SetPhase(3);

  std::string early = exception->GetReportText(false);
  EXPECT_NE(early.find("callstack crc     : will be calculated soon"), std::string::npos);
  EXPECT_NE(early.find("\r\n\r\nmain thread ($10):\r\n>> will be calculated soon"),
            std::string::npos);
  EXPECT_NE(early.find("\r\n\r\ncpu registers:\r\n>> will be calculated soon"), std::string::npos);
  EXPECT_NE(ex->CompletionThreadId(), 0u);
  EXPECT_NE(ex->CompletionThreadId(), GetCurrentThreadId());
  EXPECT_EQ(exception->CallstackCrc(0), 0u);

  // Sections in producer order: threads first, then registers and stack dump.
  ComPtr<IKVFields> sections = ComPtr<IKVFields>::Adopt(exception->ReportSections());
  ASSERT_EQ(sections->ItemCount(), 5);
  EXPECT_EQ(sections->ItemName(3), "cpu registers");
  EXPECT_EQ(sections->ItemName(4), "stack dump");

  SetEvent(state.release);
  std::string text = exception->GetReportText(true);
  EXPECT_EQ(exception->Phase(), 4);
  EXPECT_EQ(exception->CallstackCrc(0), 0x11111111u);
  EXPECT_EQ(exception->CallstackCrc(1), 0x01020304u);
  // Only the third thread has line numbers, so only it continues the all-threads value.
  EXPECT_EQ(exception->CallstackCrc(2), CrcContinueValue(0x01020304u, 0x01020306u));
  EXPECT_EQ(exception->CallstackCrc(3), 0u);
  EXPECT_EQ(exception->CallstackCrc(-1), 0u);
  EXPECT_NE(text.find("callstack crc     : $11111111, $01020304, $"), std::string::npos);
  EXPECT_NE(text.find("\r\nQXUdfLib.qel"), std::string::npos);
  EXPECT_NE(text.find("main thread ($10):\r\nstack of 0\r\n\r\nthread $20:"),
            std::string::npos) << text;
  EXPECT_NE(text.find("cpu registers:\r\neax = 00000000"), std::string::npos);
  EXPECT_EQ(text, exception->GetReportText(true));
  CloseHandle(state.release);
  gSlow = nullptr;
}

TEST_F(ExceptionTest, ListThreadsOffKeepsOnlyTheCrashedThread) {
  SlowProducerState state;
  gSlow = &state;
  SetEvent(state.release);
  Hooks().makeSectionProducer = MakeSlowProducer;
  ComPtr<IKVException> exception = Make(0, false);
  exception->SetListThreads(false);
  std::string text = exception->GetReportText(true);
  EXPECT_EQ(state.threadReports, 1);
  EXPECT_EQ(text.find("cpu registers"), std::string::npos);  // no context captured
  ComPtr<IKVFields> sections = ComPtr<IKVFields>::Adopt(exception->ReportSections());
  EXPECT_EQ(sections->Content("thread $20:"), ">> will be calculated soon");
  CloseHandle(state.release);
  gSlow = nullptr;
}

// Set once the object's destruction has marked the completion aborted and asks whether
// it may wait for the completion thread.
HANDLE gDestroying = nullptr;

TEST_F(ExceptionTest, DestructionAbortsTheCompletion) {
  SlowProducerState state;
  gSlow = &state;
  Hooks().makeSectionProducer = MakeSlowProducer;
  ComPtr<IKVException> exception = Make();
  exception->GetReportText(false);
  ASSERT_EQ(WaitForSingleObject(state.firstThreadStarted, 10000), WAIT_OBJECT_0);
  ComPtr<IKVFields> sections = ComPtr<IKVFields>::Adopt(exception->ReportSections());
  gDestroying = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  Hooks().processBlocked = [](DWORD) {
    SetEvent(gDestroying);
    return false;
  };
  HANDLE release = state.release;
  std::atomic<DWORD> destroying{WAIT_TIMEOUT};
  std::thread releaser([release, &destroying] {
    destroying = WaitForSingleObject(gDestroying, 10000);
    SetEvent(release);
  });
  exception.Reset();  // waits for the completion thread, which stops after its current step
  releaser.join();
  CloseHandle(gDestroying);
  gDestroying = nullptr;
  EXPECT_EQ(destroying, WAIT_OBJECT_0);  // released only once the abort was asked for
  EXPECT_EQ(state.threadReports, 1);
  EXPECT_EQ(state.registers, 0);
  EXPECT_EQ(sections->Content("main thread ($10):"), ">> will be calculated soon");
  CloseHandle(state.release);
  gSlow = nullptr;
}

TEST_F(ExceptionTest, WithoutTheHandlerThreadTheCompletionRunsAtOnce) {
  SlowProducerState state;
  gSlow = &state;
  SetEvent(state.release);
  Hooks().makeSectionProducer = MakeSlowProducer;
  SetReportHandlerThread(0);
  ComPtr<IKVException> exception = Make();
  auto ex = exception.As<IKVExceptionEx>(IID_IKVExceptionEx);
  std::string text = exception->GetReportText(false);
  EXPECT_EQ(ex->CompletionThreadId(), 0u);
  EXPECT_EQ(text.find("will be calculated soon"), std::string::npos);
  EXPECT_EQ(state.threadReports, 3);
  // Asked for phase 3 once complete, the phase becomes 4.
  ex->SetPhase(3);
  EXPECT_EQ(exception->Phase(), 4);
  CloseHandle(state.release);
  gSlow = nullptr;
}

TEST_F(ExceptionTest, DontCompleteYetWaitsForTheFirstCompleteRequest) {
  SlowProducerState state;
  gSlow = &state;
  SetEvent(state.release);
  Hooks().makeSectionProducer = MakeSlowProducer;
  static int completed = 0;
  completed = 0;
  Hooks().reportCompleted = [](IKVException*) { ++completed; };
  ExceptionFacts facts;
  facts.dontCompleteYet = true;
  facts.context = &context_;
  ComPtr<IKVException> exception = CreateTIKVException(settings_.Get(), facts);
  auto ex = exception.As<IKVExceptionEx>(IID_IKVExceptionEx);
  ex->SetPhase(3);
  EXPECT_NE(exception->GetReportText(false).find(">> will be calculated soon"), std::string::npos);
  EXPECT_EQ(state.threadReports, 0);
  std::string text = exception->GetReportText(true);
  EXPECT_EQ(state.threadReports, 3);
  EXPECT_EQ(text.find("will be calculated soon"), std::string::npos);
  EXPECT_EQ(exception->Phase(), 4);
  EXPECT_EQ(completed, 1);
  CloseHandle(state.release);
  gSlow = nullptr;
}

TEST_F(ExceptionTest, ScreenshotTakenOnceOrSwitchedOff) {
  static int taken = 0;
  taken = 0;
  Hooks().takeScreenshot = [](IKVException*, bool) -> IScreenshot* {
    ++taken;
    return nullptr;
  };
  ComPtr<IKVException> exception = Make();
  EXPECT_EQ(exception->Screenshot(), nullptr);  // not wanted
  EXPECT_EQ(taken, 0);
  exception->SetWantScreenshot(true);
  EXPECT_EQ(exception->Screenshot(), nullptr);  // taking it failed
  EXPECT_FALSE(exception->WantScreenshot());
  EXPECT_EQ(taken, 1);

  ComPtr<IKVException> other = Make();
  ComPtr<IKVFields> bitmap = ComPtr<IKVFields>::Adopt(CreateTIKVFields());  // any object will do
  other->SetScreenshot(bitmap.Get());
  IScreenshot* got = other->Screenshot();
  EXPECT_EQ(got, static_cast<IUnknown*>(bitmap.Get()));
  if (got != nullptr) got->Release();
}

TEST_F(ExceptionTest, SaveActionLeftToAHandler) {
  Hooks().fireActionHandlers = [](int32_t action, IKVException*, HWND) {
    return action == kActionSave;
  };
  ComPtr<IKVException> exception = Make(0, false);
  EXPECT_FALSE(exception->SaveReport(nullptr));
  EXPECT_FALSE(exception->PrintReport(nullptr));  // nobody carries it out yet
}

struct CallbackLog {
  int calls = 0;
  bool lastComplete = false;
  std::string lastText;
};
CallbackLog gLog;
void __stdcall LogCallback(bool complete, const std::string& text, IKVException*) {
  ++gLog.calls;
  gLog.lastComplete = complete;
  gLog.lastText = text;
}
void __stdcall LogMethod(void* self, bool, const std::string&, IKVException*) {
  ++static_cast<CallbackLog*>(self)->calls;
}

TEST_F(ExceptionTest, CallbacksFireOnChangeOnce) {
  ComPtr<IKVException> exception = Make(0, false);
  auto ex = exception.As<IKVExceptionEx>(IID_IKVExceptionEx);
  gLog = CallbackLog();
  exception->AddReportCallback(LogCallback, false);
  EXPECT_EQ(gLog.calls, 1);  // called at once
  EXPECT_FALSE(ex->CriticalCallbackExists());
  exception->AddReportCallback(LogCallback, true);
  EXPECT_EQ(gLog.calls, 1);  // a second registration only changes the flag
  EXPECT_TRUE(ex->CriticalCallbackExists());
  CallbackLog methodLog;
  exception->AddReportCallbackOO(LogMethod, &methodLog, false);
  EXPECT_EQ(methodLog.calls, 1);

  ComPtr<IKVFields> header = ComPtr<IKVFields>::Adopt(exception->HeaderFields());
  int before = gLog.calls;
  header->SetContent("contact email", "a@b.c");
  EXPECT_EQ(gLog.calls, before + 1);
  EXPECT_NE(gLog.lastText.find("contact email"), std::string::npos);
  header->SetContent("contact email", "a@b.c");  // no change, no event
  EXPECT_EQ(gLog.calls, before + 1);

  // Changes inside a bracket fire once at its end.
  header->Lock();
  header->SetContent("x1", "1");
  header->SetContent("x2", "2");
  EXPECT_EQ(gLog.calls, before + 1);
  header->Unlock();
  EXPECT_EQ(gLog.calls, before + 2);
  EXPECT_EQ(methodLog.calls, 3);

  exception->RemoveReportCallback(LogCallback);
  exception->RemoveReportCallbackOO(LogMethod, &methodLog);
  header->DeleteName("x1");
  EXPECT_EQ(gLog.calls, before + 2);
  EXPECT_FALSE(ex->CriticalCallbackExists());
}

TEST_F(ExceptionTest, SettingsOverlayAndSwitches) {
  ComPtr<IKVException> exception = Make();
  EXPECT_TRUE(exception->GetAutoSave());
  EXPECT_TRUE(exception->SetAutoSave(false));
  EXPECT_FALSE(exception->GetAutoSave());
  EXPECT_TRUE(settings_->GetAutoSave());  // the module's settings are untouched
  EXPECT_FALSE(exception->SetBugRepFileSize(5) && exception->SetAutoSave(false) &&
               !exception->SetBugRepFile("x.txt"));
  EXPECT_EQ(exception->GetBugRepFileSize(), 5u);

  exception->SetCanContinue(false);
  EXPECT_FALSE(exception->CanContinue());
  exception->SetCanContinue(true);
  EXPECT_TRUE(exception->CanContinue());

  ExceptionFacts facts;
  facts.canContinue = false;
  ComPtr<IKVException> fatal = CreateTIKVException(settings_.Get(), facts);
  fatal->SetCanContinue(true);
  EXPECT_FALSE(fatal->CanContinue());

  auto ex = exception.As<IKVExceptionEx>(IID_IKVExceptionEx);
  EXPECT_TRUE(ex->IsFirstAutoSave());
  EXPECT_FALSE(ex->IsFirstAutoSave());
  EXPECT_TRUE(ex->IsFirstCompletionCallback());
  EXPECT_FALSE(ex->IsFirstCompletionCallback());

  exception->SetWantReport(false);
  EXPECT_EQ(exception->GetReportText(true), "");
}

TEST_F(ExceptionTest, PluginsInHeaderAndSections) {
  RegisterReportPlugin("build id", "test", PluginTextCallback([] { return std::string("42"); }),
                       false);
  RegisterReportPlugin("broken", "test",
                       PluginTextCallback([]() -> std::string { throw 1; }), true);
  RegisterReportPlugin("wide", "test",
                       PluginExceptionWideTextCallback([](IKVException* e) {
                         return e != nullptr ? std::wstring(L"w\u00e4") : std::wstring();
                       }),
                       true);
  ComPtr<IKVException> exception = Make(0, false);
  static_cast<TIKVException*>(exception.Get())->WriteText("Plugins", "BUILD ID|unknown|broken|wide");
  std::string text = exception->GetReportText(true);
  EXPECT_NE(text.find("\r\nbuild id          : 42\r\ncallstack crc"), std::string::npos);
  EXPECT_NE(text.find("\r\n\r\nbroken:\r\n>> internal error in plugin"), std::string::npos);
  EXPECT_NE(text.find("\r\n\r\nwide:\r\nw\xe4"), std::string::npos);
  EXPECT_NE(text.find("callstack crc     : $00000000, $00000000, $00000000"), std::string::npos);
  UnregisterReportPlugin("build id");
  UnregisterReportPlugin("broken");
  UnregisterReportPlugin("wide");
}

TEST_F(ExceptionTest, AssistantInputGoesIntoTheReport) {
  ComPtr<IKVException> exception = Make(0, false);
  std::vector<AssistantFormInput> forms(3);
  forms[0].result = 1;
  forms[0].items = {{AssistantItemInput::Kind::Edit, "contact name", false, "Joe", false},
                    {AssistantItemInput::Kind::CheckBox, "", true, "", false},
                    {AssistantItemInput::Kind::CheckBox, "mem check", false, "", false}};
  forms[1].result = 1;
  forms[1].items = {{AssistantItemInput::Kind::Edit, "error details", false, "one\r\ntwo", true},
                    {AssistantItemInput::Kind::Edit, "short details", false, "one", true}};
  forms[2].result = 2;
  forms[2].items = {{AssistantItemInput::Kind::Edit, "skipped", false, "x", false}};
  PutAssistantIntoReport(exception.Get(), forms);
  ComPtr<IKVFields> header = ComPtr<IKVFields>::Adopt(exception->HeaderFields());
  ComPtr<IKVFields> sections = ComPtr<IKVFields>::Adopt(exception->ReportSections());
  EXPECT_EQ(header->Content("contact name"), "Joe");
  EXPECT_EQ(header->Content("mem check"), "no");
  EXPECT_EQ(header->Content("short details"), "one");
  EXPECT_EQ(sections->Content("error details"), "one\r\ntwo");
  EXPECT_EQ(header->Find("skipped"), -1);
}

TEST(FieldLists, OwnerSettingsAndClones) {
  ComPtr<IKVModuleSettings> settings = OpenModuleSettings(GetModuleHandleA(nullptr));
  ExceptionFacts facts;
  ComPtr<IKVException> exception = CreateTIKVException(settings.Get(), facts);
  auto* owner = static_cast<TIKVSettings*>(static_cast<TIKVException*>(exception.Get()));
  ComPtr<IKVFields> fields = ComPtr<IKVFields>::Adopt(CreateTIKVFields());
  fields->SetContent("a", "1");
  EXPECT_EQ(fields->ItemCount(), 0);  // not accepting yet
  fields.As<IKVFieldsEx>(IID_IKVFieldsEx)->SetAcceptData(true);
  SetFieldsOwnerSettings(fields.Get(), owner);
  fields->SetContent("a", "1");
  fields->SetContent("b", " 2 ");
  EXPECT_EQ(owner->ReadText("AddFields"), "a=1|b=2");
  ComPtr<IKVFields> copy = ComPtr<IKVFields>::Adopt(fields->Clone());
  copy->SetContent("c", "3");  // a clone has no owner
  EXPECT_EQ(owner->ReadText("AddFields"), "a=1|b=2");
  EXPECT_EQ(copy->ItemCount(), 3);
  fields.As<IKVFieldsEx>(IID_IKVFieldsEx)->ClearOwnerSettings();
  fields->DeleteName("a");
  EXPECT_EQ(owner->ReadText("AddFields"), "a=1|b=2");

  ComPtr<IKVAttachments> attachments = ComPtr<IKVAttachments>::Adopt(CreateTIKVAttachments());
  SetAttachmentsOwnerSettings(attachments.Get(), owner);
  attachments->Add("C:\\logs\\server.log", "", "logs.zip", "");
  std::string source, sendAs, zip, field;
  ASSERT_TRUE(attachments->Item(0, source, sendAs, zip, field));
  EXPECT_EQ(sendAs, "server.log");
  EXPECT_EQ(field, "server");
  EXPECT_FALSE(attachments->Item(1, source, sendAs, zip, field));
  EXPECT_EQ(owner->ReadText("AddAttachs"), "C:\\logs\\server.log>server.log>logs.zip>server");
  EXPECT_TRUE(attachments->Delete("c:\\LOGS\\server.log"));
  EXPECT_EQ(owner->ReadText("AddAttachs"), "");
  attachments.As<IKVAttachmentsEx>(IID_IKVAttachmentsEx)->ClearOwnerSettings();
}

// Counts what a field list tells the exception object that owns it.
struct RecordingOwner : FieldListOwner {
  void OwnerBeginUpdate() override { ++begins; }
  void OwnerEndUpdate() override { ++ends; }
  void OwnerModified() override { ++modified; }
  int begins = 0, ends = 0, modified = 0;
};

TEST(FieldLists, SettingsObjectsBuildTheseLists) {
  ReportStartup();
  ComPtr<IKVModuleSettings> settings = OpenModuleSettings(GetModuleHandleA(nullptr));
  auto* owner = static_cast<TIKVSettings*>(settings.Get());
  const std::string fieldsBefore = owner->ReadText("AddFields");
  const std::string attachsBefore = owner->ReadText("AddAttachs");
  ASSERT_TRUE(owner->WriteText("AddFields", "Build=17|Site=Main office"));
  ASSERT_TRUE(owner->WriteText("AddAttachs", "c:\\logs\\app.log>app.log>logs.zip>log"));
  ComPtr<IKVFields> fields = ComPtr<IKVFields>::Adopt(settings->AddFields());
  ASSERT_TRUE(fields);
  EXPECT_EQ(fields->ItemCount(), 2);

  // Only this list knows an owning exception object: it brackets and reports each change.
  RecordingOwner exception;
  SetFieldsOwnerException(fields.Get(), &exception);
  fields->Add("Extra", " 3 ");
  EXPECT_EQ(exception.modified, 1);
  EXPECT_EQ(exception.begins, 1);
  EXPECT_EQ(exception.ends, 1);
  fields->Add("extra", "3");  // another spelling of the name is a change
  EXPECT_EQ(exception.modified, 2);
  fields->Add("extra", "3");  // no change, no report
  EXPECT_EQ(exception.modified, 2);
  fields->Lock();
  fields->Unlock();
  EXPECT_EQ(exception.begins, 3);
  EXPECT_EQ(exception.ends, 3);
  EXPECT_EQ(owner->ReadText("AddFields"), "Build=17|Site=Main office|extra=3");
  fields.As<IKVFieldsEx>(IID_IKVFieldsEx)->ClearOwnerException();
  fields->DeleteName("Build");
  EXPECT_EQ(exception.modified, 2);
  EXPECT_EQ(owner->ReadText("AddFields"), "Site=Main office|extra=3");

  // The attachment list answers for its own extension interface.
  ComPtr<IKVAttachments> attachs = ComPtr<IKVAttachments>::Adopt(settings->AddAttachs());
  ASSERT_TRUE(attachs);
  EXPECT_EQ(attachs->ItemCount(), 1);
  attachs->Add("d:\\shot.png", "", "", "");
  EXPECT_EQ(owner->ReadText("AddAttachs"),
            "c:\\logs\\app.log>app.log>logs.zip>log|d:\\shot.png>shot.png>>shot");
  auto attachsEx = attachs.As<IKVAttachmentsEx>(IID_IKVAttachmentsEx);
  ASSERT_TRUE(attachsEx);
  attachsEx->ClearOwnerSettings();
  attachs->Clear();
  EXPECT_EQ(owner->ReadText("AddAttachs"),
            "c:\\logs\\app.log>app.log>logs.zip>log|d:\\shot.png>shot.png>>shot");

  // After the report's shut-down a new settings object builds no lists and still works.
  ReportShutdown();
  ComPtr<IKVModuleSettings> later = OpenModuleSettings(GetModuleHandleA(nullptr));
  EXPECT_EQ(later->AddFields(), nullptr);
  EXPECT_EQ(later->AddAttachs(), nullptr);
  auto* laterOwner = static_cast<TIKVSettings*>(later.Get());
  EXPECT_EQ(laterOwner->ReadText("AddFields"), "Site=Main office|extra=3");
  // Lists built earlier keep working and keep writing into their settings object.
  fields->Add("After", "1");
  EXPECT_EQ(laterOwner->ReadText("AddFields"), "Site=Main office|extra=3|After=1");

  EXPECT_TRUE(owner->WriteText("AddFields", fieldsBefore));
  EXPECT_TRUE(owner->WriteText("AddAttachs", attachsBefore));
}

TEST(ListPlugins, RegisteredOnceInSettingOrder) {
  ReportStartup();
  ReportStartup();
  auto plugins = PluginsInSettingOrder("modules|processes|hardware");
  ASSERT_EQ(plugins.size(), 3u);
  EXPECT_EQ(plugins[0].description, "list of loaded modules");
  EXPECT_EQ(plugins[1].description, "list of running processes");
  EXPECT_EQ(plugins[2].description, "list of installed hardware");
  EXPECT_EQ(RegisteredReportPlugins().size(), 3u);
  ReportShutdown();
  ReportShutdown();
  EXPECT_TRUE(RegisteredReportPlugins().empty());
}

TEST(ListPlugins, ModuleListColumns) {
  std::vector<std::string> lines = Lines(ModuleListText());
  ASSERT_GE(lines.size(), 3u);
  // Name and version widths come from all lines: the longest of each plus one.
  std::vector<std::string> names, versions;
  size_t nameWidth = 0, versionWidth = 0;
  const std::regex version(R"((\d+\.\d+\.\d+\.\d+) .*)");
  for (const std::string& text : lines) {
    ASSERT_GT(text.size(), 9u);
    std::string name = text.substr(9, text.find(' ', 9) - 9);
    names.push_back(name);
    nameWidth = std::max(nameWidth, name.size() + 1);
  }
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string rest = lines[i].substr(9 + nameWidth);
    std::smatch m;
    versions.push_back(std::regex_match(rest, m, version) ? m[1].str() : std::string());
    versionWidth = std::max(versionWidth, versions.back().size() + 1);
  }
  uint32_t previous = 0;
  bool sawExe = false, sawKernel = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& text = lines[i];
    EXPECT_TRUE(std::regex_match(text.substr(0, 9), std::regex("[0-9a-f]{8} "))) << text;
    uint32_t base = std::stoul(text.substr(0, 8), nullptr, 16);
    EXPECT_GT(base, previous) << text;
    previous = base;
    std::string expected = names[i] + std::string(nameWidth - names[i].size(), ' ') + versions[i] +
                           std::string(versionWidth - versions[i].size(), ' ');
    EXPECT_EQ(text.substr(9, expected.size()), expected) << text;
    std::string folder = text.substr(9 + expected.size());
    EXPECT_TRUE(folder.size() >= 2 && folder[1] == ':') << text;
    if (names[i] == "report_win_test.exe") {
      sawExe = true;
      EXPECT_EQ(text.compare(0, 9, "00400000 "), 0);
      EXPECT_EQ(versions[i], "1.2.3.4");
    }
    if (names[i] == "kernel32.dll") sawKernel = true;
  }
  EXPECT_TRUE(sawExe);
  EXPECT_TRUE(sawKernel);
}

TEST(ListPlugins, ProcessListColumns) {
  std::vector<std::string> lines = Lines(ProcessListText());
  ASSERT_GE(lines.size(), 2u);
  char ownId[16];
  wsprintfA(ownId, "%x", GetCurrentProcessId());
  size_t idWidth = lines[0].find(' ');
  bool sawOwn = false;
  for (const std::string& text : lines) {
    EXPECT_EQ(text.find(' '), idWidth) << text;
    std::string id = text.substr(0, idWidth);
    EXPECT_TRUE(std::regex_match(id, std::regex("[0-9a-f]+"))) << text;
    if (std::stoul(id, nullptr, 16) == GetCurrentProcessId()) {
      sawOwn = true;
      EXPECT_NE(text.find(" report_win_test.exe "), std::string::npos) << text;
      EXPECT_NE(text.find("normal"), std::string::npos) << text;
    }
  }
  EXPECT_TRUE(sawOwn);
  EXPECT_GE(idWidth, strlen(ownId));
}

TEST(ListPlugins, ProcessRecordsWithoutNameAreIdle) {
  // Two records as the system lays them out: the idle process without an image name, then a
  // process whose name is all the list can learn (it cannot be opened).
  struct Record {
    ULONG next, threads;
    LARGE_INTEGER reserved[6];
    USHORT length, maximum;
    const wchar_t* name;
    LONG basePriority;
    ULONG_PTR id, parent;
    ULONG handles, session;
  };
  Record records[2] = {};
  records[0].next = sizeof(Record);
  records[1].length = 2 * 7;
  records[1].name = L"x\\y.exe";
  records[1].id = 0x7ffffff0;
  records[1].session = 3;
  auto entries = ParseProcessRecords(reinterpret_cast<const char*>(records), sizeof records);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].fileName, "Idle");
  EXPECT_EQ(entries[0].processId, 0u);
  EXPECT_EQ(entries[1].fileName, "y.exe");
  EXPECT_EQ(entries[1].directory, "x");
  EXPECT_EQ(entries[1].logon, 3u);
  EXPECT_EQ(ProcessListLayout(entries), "00000000 Idle  0 0 0  \r\n7ffffff0 y.exe 3 0 0  x");
}

TEST(ListPlugins, HardwareListShape) {
  std::string text = HardwareListText();
  if (text.empty()) {
    if (RunningUnderCi()) FAIL() << "no devices under this Wine prefix: the list went unchecked";
    GTEST_SKIP() << "no devices under this Wine prefix";
  }
  for (const std::string& line : Lines(text))
    EXPECT_TRUE(line.rfind("+ ", 0) == 0 || line.rfind("  - ", 0) == 0) << line;
  EXPECT_EQ(text.rfind("+ ", 0), 0u);
}

}  // namespace
}  // namespace qx
