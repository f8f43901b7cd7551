#include "exception_object_win.h"

#include <new>

#include "exception_box_win.h"
#include "field_items.h"
#include "header_values_win.h"
#include "machine_texts.h"
#include "report_file_win.h"
#include "report_layout.h"
#include "report_plugins_win.h"
#include "settings_open_win.h"
#include "wait_bound_win.h"

namespace qx {

namespace {

constexpr char kSectionPlaceholder[] = ">> will be calculated soon";
constexpr char kCrcPlaceholder[] = "will be calculated soon";
constexpr DWORD kBlockedLimitMs = 250;
// How long a released report waits for its aborted completion to end.
constexpr DWORD kCompletionStopLimitMs = 10000;
// The exit code of a completion thread that had to be terminated.
constexpr DWORD kCompletionCutExitCode = 1;

std::atomic<uint64_t> gExceptionNumber{0};

// Guards the report-callback arrays of every exception object.
CriticalSection& CallbackLock() {
  static CriticalSection lock;
  return lock;
}

// Runs `gather` and drops its result when it fails.
template <class Gather>
void Guarded(Gather&& gather) {
  try {
    gather();
  } catch (...) {
  }
}

}  // namespace

uint64_t CurrentExceptionNumber() { return gExceptionNumber.load(); }

TIKVException::TIKVException(IKVModuleSettings* moduleSettings, const ExceptionFacts& facts)
    : TIKVSettings(moduleSettings != nullptr ? moduleSettings->ModuleHandle() : nullptr, true),
      moduleSettings_(moduleSettings),
      canContinue_(facts.canContinue),
      canContinueAllowed_(facts.canContinue),
      facts_(facts) {
  GetLocalTime(&time_);
  if (facts_.crashedThreadId == 0) facts_.crashedThreadId = GetCurrentThreadId();
  if (facts.context != nullptr) {
    context_ = *facts.context;
    hasContext_ = true;
  }
  facts_.context = nullptr;
}

TIKVException::~TIKVException() {
  // Asked first: the completion's traces test the abort flag inside their loops and no
  // further section is computed, so the thread ends by itself. Only one that does not end
  // within the bound (stuck outside the reporter's code, or in a window it waits on) is
  // terminated. While another thread holds the loader lock no thread can finish its exit;
  // the completion can still leave its work, and that is what is waited for then: its
  // thread is cut only on the way out.
  Abort();
  if (HANDLE thread = completionThread_.load()) {
    const bool blocked = ProcessIsBlocked(kBlockedLimitMs);
    HANDLE awaited = blocked ? completionLeft_ : thread;
    const bool left =
        awaited != nullptr && WaitForSingleObject(awaited, kCompletionStopLimitMs) == WAIT_OBJECT_0;
    if (!left || blocked) TerminateThread(thread, kCompletionCutExitCode);
    CloseHandle(thread);
  }
  if (completionLeft_ != nullptr) CloseHandle(completionLeft_);
  if (auto ex = header_.As<IKVFieldsEx>(IID_IKVFieldsEx)) ex->ClearOwnerException();
  if (auto ex = sections_.As<IKVFieldsEx>(IID_IKVFieldsEx)) ex->ClearOwnerException();
  if (progress_) progress_->Close();
  if (sendThread_ != nullptr) CloseHandle(sendThread_);
}

HRESULT __stdcall TIKVException::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (iid == IID_IKVException) {
    *object = static_cast<IKVException*>(this);
  } else if (iid == IID_IKVExceptionEx) {
    *object = static_cast<IKVExceptionEx*>(this);
  } else {
    return TIKVSettings::QueryInterface(iid, object);
  }
  AddRef();
  return S_OK;
}

// ---- settings overlay ----

template <class Use>
bool TIKVException::WithOverride(const char* name, Use&& use) {
  if (name == nullptr) return false;
  CriticalSectionGuard guard(overridesLock_);
  for (const Override& item : overrides_) {
    if (item.name == name) {
      use(item);
      return true;
    }
  }
  return false;
}

template <class Change>
bool TIKVException::WriteOverride(const char* name, PropertyKind kind, Change&& change) {
  if (name == nullptr || *name == '\0') return false;
  CriticalSectionGuard guard(overridesLock_);
  for (Override& item : overrides_) {
    if (item.name == name) {
      if (item.kind != kind) return false;
      change(item);
      return true;
    }
  }
  Override item;
  item.name = name;
  item.kind = kind;
  change(item);
  overrides_.push_back(std::move(item));
  return true;
}

bool __stdcall TIKVException::ReadBool(const char* name) {
  bool value = false;
  if (WithOverride(name, [&](const Override& o) { value = o.boolValue; })) return value;
  return TIKVSettings::ReadBool(name);
}

int32_t __stdcall TIKVException::ReadInt(const char* name) {
  int32_t value = 0;
  if (WithOverride(name, [&](const Override& o) { value = o.intValue; })) return value;
  return TIKVSettings::ReadInt(name);
}

uint32_t __stdcall TIKVException::ReadUInt(const char* name) {
  return static_cast<uint32_t>(ReadInt(name));
}

std::string __stdcall TIKVException::ReadText(const char* name) {
  std::string value;
  if (WithOverride(name, [&](const Override& o) { value = o.text; }))
    return value.empty() ? value : ExpandSettingsText(ModuleHandle(), value);
  return TIKVSettings::ReadText(name);
}

bool TIKVException::WriteBool(const char* name, bool value) {
  return WriteOverride(name, PropertyKind::Boolean, [&](Override& o) { o.boolValue = value; });
}

bool TIKVException::WriteInt(const char* name, int32_t value) {
  return WriteOverride(name, PropertyKind::Integer, [&](Override& o) { o.intValue = value; });
}

bool TIKVException::WriteText(const char* name, const std::string& value) {
  return WriteOverride(name, PropertyKind::Text, [&](Override& o) { o.text = value; });
}

// ---- facts ----

void __stdcall TIKVException::SetCanContinue(bool value) {
  if (!value || canContinueAllowed_) canContinue_ = value;
}

void TIKVException::Describe() {
  CriticalSectionGuard guard(describeLock_);
  if (described_) return;
  described_ = true;
  if (facts_.object != nullptr && Hooks().describeObject != nullptr)
    Guarded([&] { Hooks().describeObject(facts_.object, className_, message_); });
  message_ = NormalizedExceptionMessage(message_);
}

std::string __stdcall TIKVException::ExceptionClass() {
  Describe();
  return className_;
}

std::string __stdcall TIKVException::ExceptionMessage() {
  Describe();
  return message_;
}

uint32_t __stdcall TIKVException::CallstackCrc(int32_t index) {
  return index >= 0 && index <= 2 ? callstackCrc_[index] : 0;
}

std::string __stdcall TIKVException::AssistantName() {
  CriticalSectionGuard guard(assistantLock_);
  return assistantName_;
}

void __stdcall TIKVException::SetAssistantName(const std::string& name) {
  CriticalSectionGuard guard(assistantLock_);
  assistantName_ = name;
}

void __stdcall TIKVException::SetPhase(uint8_t phase) {
  NoteReporterProgress();
  phase_ = phase == 3 && complete_ ? 4 : phase;
}

bool TIKVException::ScreenshotAvailable() {
  CriticalSectionGuard guard(screenshotLock_);
  return screenshot_ ? true : (!screenshotTaken_ && wantScreenshot_);
}

IScreenshot* __stdcall TIKVException::Screenshot() {
  CriticalSectionGuard guard(screenshotLock_);
  if (!screenshotTaken_ && !screenshot_ && wantScreenshot_) {
    screenshotTaken_ = true;
    IScreenshot* taken = nullptr;
    if (Hooks().takeScreenshot != nullptr)
      Guarded([&] { taken = Hooks().takeScreenshot(this, GetScrShotAppOnly()); });
    if (taken == nullptr)
      wantScreenshot_ = false;
    else
      screenshot_ = ComPtr<IScreenshot>::Adopt(taken);
  }
  if (screenshot_) screenshot_->AddRef();
  return screenshot_.Get();
}

void __stdcall TIKVException::SetScreenshot(IScreenshot* bitmap) {
  CriticalSectionGuard guard(screenshotLock_);
  screenshot_ = ComPtr<IScreenshot>(bitmap);
}

// ---- header ----

IKVFields* __stdcall TIKVException::HeaderFields() {
  CriticalSectionGuard guard(buildLock_);
  if (!header_) {
    header_ = ComPtr<IKVFields>::Adopt(CreateTIKVFields());
    if (wantReport_) {
      BeginUpdate();
      Guarded([&] { BuildHeader(); });
      EndBuildUpdate();
    }
  }
  if (header_) header_->AddRef();
  return header_.Get();
}

void TIKVException::BuildHeader() {
  if (auto ex = header_.As<IKVFieldsEx>(IID_IKVFieldsEx)) {
    SetFieldsOwnerException(header_.Get(), this);
    ex->SetAcceptData(true);
  }
  std::vector<ReportField> pairs;
  size_t beforeCrc = 0;
  // A pair whose value comes out empty is gathered all the same: set content shows no line
  // for it, but it counts for the insertion point below, so that where later fields go
  // does not depend on what this machine happens to leave empty.
  auto gather = [&](const char* label, auto&& value) {
    Guarded([&] { pairs.emplace_back(label, value()); });
  };
  ReportTime now{time_.wYear,   time_.wMonth,  time_.wDayOfWeek, time_.wDay,
                 time_.wHour,   time_.wMinute, time_.wSecond,    time_.wMilliseconds};
  pairs.emplace_back("date/time", HeaderDateTimeText(now));
  gather("computer name", ComputerNameValue);
  gather("wts client name", WtsClientNameValue);
  gather("user name", UserNameValue);
  gather("registered owner", RegisteredOwnerValue);
  gather("operating system", OperatingSystemValue);
  gather("system language", SystemLanguageValue);
  gather("system up time", SystemUpTimeValue);
  gather("program up time", ProgramUpTimeValue);
  Guarded([&] {
    int count = 0;
    std::string name = ProcessorName(count);
    if (name.empty() || count == 1)
      pairs.emplace_back("processor", name);
    else
      pairs.emplace_back("processors", std::to_string(count) + "x " + name);
  });
  gather("physical memory", PhysicalMemoryValue);
  // "system resources" exists only on the Windows 95 family, which this build does not run on.
  gather("free disk space", FreeDiskSpaceValue);
  gather("display mode", DisplayModeValue);
  gather("process id", ProcessIdValue);
  gather("allocated memory", AllocatedMemoryValue);
  gather("command line", CommandLineValue);
  gather("executable", [] { return ModuleFileName(nullptr); });
  Guarded([&] {
    HMODULE reporter = ReporterModule();
    if (reporter != GetModuleHandleA(nullptr))
      pairs.emplace_back("current module", ModuleFileName(reporter));
  });
  Guarded([&] {
    bool isExecutable = false;
    std::string file = ExaminedFile(isExecutable);
    std::string date;
    if (!FileDateValue(file, date)) return;
    pairs.emplace_back(isExecutable ? "exec. date/time" : "module date/time", date);
    std::string version = Version();
    if (version.empty()) version = FileVersionValue(file);
    pairs.emplace_back("version", version);
  });
  gather("bde version", BdeVersionValue);
  gather("compiled with", CompiledWithValue);
  pairs.emplace_back("qelExcept version", kQelExceptVersion);
  for (const ReportPlugin& plugin : PluginsInSettingOrder(ReadText("Plugins"))) {
    if (plugin.ownSection) continue;
    Guarded([&] { pairs.emplace_back(plugin.name, RunReportPlugin(plugin, this)); });
  }
  beforeCrc = pairs.size();
  pairs.emplace_back("callstack crc", kCrcPlaceholder);
  pairs.emplace_back("exception number", std::to_string(++gExceptionNumber));
  Guarded([&] {
    if (facts_.type == 1) {
      pairs.emplace_back("exception message", GetFrozenMsg());
      return;
    }
    std::string cls = ExceptionClass();
    pairs.emplace_back("exception class", cls);
    std::string message = ExceptionMessage();
    if (message != cls) pairs.emplace_back("exception message", OneLineValue(NormalizedExceptionMessage(message)));
  });

  header_->Lock();
  for (const auto& [label, value] : pairs) header_->SetContent(label, value);
  header_->Unlock();
  if (auto ex = header_.As<IKVFieldsEx>(IID_IKVFieldsEx))
    ex->SetInsertionPoint(static_cast<int32_t>(beforeCrc) - 1);
}

// ---- sections and completion ----

IKVFields* __stdcall TIKVException::ReportSections() {
  bool start = false;
  {
    CriticalSectionGuard guard(buildLock_);
    if (!sections_) {
      sections_ = ComPtr<IKVFields>::Adopt(CreateTIKVFields());
      if (wantReport_) {
        BeginUpdate();
        Guarded([&] { BuildSections(); });
        EndBuildUpdate();
        start = sectionsBuilt_ && !facts_.dontCompleteYet;
      }
    }
  }
  if (start) StartCompletion();
  if (sections_) sections_->AddRef();
  return sections_.Get();
}

void TIKVException::BuildSections() {
  if (auto ex = sections_.As<IKVFieldsEx>(IID_IKVFieldsEx)) {
    SetFieldsOwnerException(sections_.Get(), this);
    ex->SetAcceptData(true);
  }
  std::vector<ReportField> placeholders;
  if (Hooks().makeSectionProducer != nullptr)
    Guarded([&] { producer_ = Hooks().makeSectionProducer(this); });
  if (producer_) {
    Guarded([&] {
      for (const auto& [title, placeholder] : producer_->ThreadSections()) {
        threadTitles_.push_back(title);
        placeholders.emplace_back(title, placeholder);
      }
    });
  }
  for (const ReportPlugin& plugin : PluginsInSettingOrder(ReadText("Plugins"))) {
    if (!plugin.ownSection) continue;
    sectionPlugins_.push_back(plugin);
    placeholders.emplace_back(plugin.name, kSectionPlaceholder);
  }
  if (producer_) {
    placedRegisters_ = GetCpuRegs() && hasContext_;
    placedStackDump_ = GetStackDump() && hasContext_;
    Guarded([&] { placedDisassembly_ = GetShowDisAsm() && producer_->DisassemblerLinked(); });
    if (placedRegisters_) placeholders.emplace_back("cpu registers", kSectionPlaceholder);
    if (placedStackDump_) placeholders.emplace_back("stack dump", kSectionPlaceholder);
    if (placedDisassembly_) placeholders.emplace_back("disassembling", kSectionPlaceholder);
  }
  sections_->Lock();
  for (const auto& [name, text] : placeholders) sections_->SetContent(name, text);
  sections_->Unlock();
  sectionsBuilt_ = true;
}

void TIKVException::StartCompletion() {
  if (GetCurrentThreadId() == ReportHandlerThread() && !ProcessIsBlocked(kBlockedLimitMs)) {
    if (completionStarted_.exchange(true)) return;
    DWORD id = 0;
    if (completionLeft_ == nullptr) completionLeft_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, CompletionThread, this, CREATE_SUSPENDED, &id);
    if (thread != nullptr) {
      completionThreadId_ = id;
      SetThreadPriority(thread, THREAD_PRIORITY_ABOVE_NORMAL);
      completionThread_ = thread;
      ResumeThread(thread);
      return;
    }
    completionStarted_ = false;
  }
  if (completionStarted_.exchange(true)) return;
  if (progress_ && GetPlWaitBox()) progress_->Show(nullptr, false);
  RunCompletion();
}

DWORD WINAPI TIKVException::CompletionThread(void* parameter) {
  auto* self = static_cast<TIKVException*>(parameter);
  self->RunCompletion();
  if (self->completionLeft_ != nullptr) SetEvent(self->completionLeft_);
  return 0;
}

void TIKVException::RunCompletion() {
  Guarded([&] {
    if (producer_ && !GetListThreads()) {
      producer_->KeepFirstThreadOnly();
      if (threadTitles_.size() > 1) threadTitles_.resize(1);
    }
  });
  size_t threads = producer_ ? threadTitles_.size() : 0;
  pendingSections_ = static_cast<long>(threads + placedRegisters_ + placedStackDump_ +
                                       placedDisassembly_ + sectionPlugins_.size());
  if (pendingSections_ == 0 && !Aborting()) {
    BeginUpdate();
    SectionUpdate(std::string(), std::string());
    EndUpdate();
  }
  auto produce = [&](const std::string& name, const char* phase, auto&& make) {
    if (Aborting()) return;
    std::string text;
    try {
      text = make();
    } catch (...) {
      text = std::string(">> internal error in ") + phase;
      if (Hooks().internalErrorText != nullptr)
        Guarded([&] { text = Hooks().internalErrorText(phase); });
    }
    SectionUpdate(name, text);
  };
  if (threads > 0) {
    produce(threadTitles_[0], "GetThreadReport", [&] {
      ThreadCrc crc;
      std::string text = producer_->ThreadReport(0, crc);
      callstackCrc_[0] = crc.location;
      callstackCrc_[1] = crc.stack;
      callstackCrc_[2] = crc.stack;
      return text;
    });
  }
  if (placedRegisters_)
    produce("cpu registers", "GetCpuRegisters", [&] { return producer_->CpuRegisters(); });
  if (placedStackDump_)
    produce("stack dump", "GetStackDump", [&] { return producer_->StackDump(); });
  if (placedDisassembly_)
    produce("disassembling", "GetCleartextDisAsm", [&] { return producer_->Disassembly(); });
  for (const ReportPlugin& plugin : sectionPlugins_)
    produce(plugin.name, "plugin", [&] { return RunReportPlugin(plugin, this); });
  for (size_t i = 1; i < threads; ++i) {
    produce(threadTitles_[i], "GetThreadReport", [&] {
      ThreadCrc crc;
      std::string text = producer_->ThreadReport(i, crc);
      if (crc.hasLines) callstackCrc_[2] = CrcContinueValue(callstackCrc_[2], crc.stack);
      return text;
    });
  }
  if (progress_) progress_->Close();
  if (Aborting()) return;
  if (phase_ == 3) {
    phase_ = 4;
    if (Hooks().reportCompleted != nullptr) Guarded([&] { Hooks().reportCompleted(this); });
  }
}

void TIKVException::SectionUpdate(const std::string& name, const std::string& text) {
  if (Aborting()) return;
  NoteReporterProgress();
  BeginUpdate();
  Guarded([&] {
    if (!name.empty()) sections_->SetContent(name, text);
    if (!name.empty() && --pendingSections_ != 0) return;
    ComPtr<IKVFields> header = ComPtr<IKVFields>::Adopt(HeaderFields());
    if (header) {
      header->SetContent("callstack crc", CallstackCrcText(callstackCrc_));
      if (producer_) {
        for (const std::string& entry : producer_->MinDebugInfoList()) {
          size_t bar = entry.find('|');
          if (bar != std::string::npos)
            header->SetContent(entry.substr(0, bar) + ".qel", entry.substr(bar + 1));
        }
      }
    }
    {
      // A text cached before the last changes must not pass for the complete one.
      CriticalSectionGuard guard(textLock_);
      ++changeCounter_;
      reportText_.clear();
    }
    complete_ = true;
  });
  EndUpdate();
}

void TIKVException::WaitForCompletion() {
  if (facts_.dontCompleteYet) {
    if (completionStarted_.exchange(true)) return;
    if (progress_ && GetPlWaitBox()) progress_->Show(nullptr, false);
    RunCompletion();
    return;
  }
  HANDLE thread = completionThread_;
  if (thread == nullptr || GetCurrentThreadId() == completionThreadId_ ||
      ProcessIsBlocked(kBlockedLimitMs))
    return;
  // The progress window only shows how far the report got; nobody is asked anything, so
  // the wait has the report's bound either way. A completion that does not end in it is
  // aborted, and what it made so far is the report.
  bool ended;
  if (GetPlWaitBox() && progress_ && progress_->Show(nullptr, false)) {
    SetThreadPriority(thread, THREAD_PRIORITY_HIGHEST);
    WaitClock clock(kReportWaitBound);
    DWORD result;
    while ((result = WaitForSingleObject(thread, 50)) == WAIT_TIMEOUT && !clock.Passed())
      progress_->ProcessMessages();
    progress_->ProcessMessages();
    ended = result != WAIT_TIMEOUT;
  } else {
    ended = WaitWithinBound(thread, kReportWaitBound);
  }
  if (!ended) {
    Abort();
    WaitWithinBound(thread, kAbortedWaitBound);
  }
}

// ---- report text ----

std::string TIKVException::AssembleText() {
  auto copy = [](IKVFields* list) {
    std::vector<ReportField> items;
    if (list == nullptr) return items;
    list->Lock();
    int32_t count = list->ItemCount();
    for (int32_t i = 0; i < count; ++i) {
      std::string name = list->ItemName(i);
      items.emplace_back(name, list->Content(name));
    }
    list->Unlock();
    return items;
  };
  ComPtr<IKVFields> header = ComPtr<IKVFields>::Adopt(HeaderFields());
  ComPtr<IKVFields> sections = ComPtr<IKVFields>::Adopt(ReportSections());
  std::vector<ReportField> headerItems = copy(header.Get());
  std::vector<ReportField> sectionItems = copy(sections.Get());
  return ReportLayoutText(headerItems, sectionItems);
}

std::string __stdcall TIKVException::GetReportText(bool mustBeComplete) {
  std::string text;
  uint64_t counter = 0;
  {
    CriticalSectionGuard guard(textLock_);
    text = reportText_;
    counter = changeCounter_;
  }
  if (!wantReport_) return text;
  if (!text.empty() && (!mustBeComplete || complete_)) return text;
  try {
    ComPtr<IKVFields>::Adopt(HeaderFields());
    ComPtr<IKVFields>::Adopt(ReportSections());
    if (mustBeComplete && !complete_) WaitForCompletion();
    text = AssembleText();
  } catch (...) {
    return text;
  }
  CriticalSectionGuard guard(textLock_);
  if (changeCounter_ == counter) reportText_ = text;
  return text;
}

void __stdcall TIKVException::SetReportText(const std::string& text) {
  {
    // The counter stays: the text replaces the cache, it is no change of the lists.
    CriticalSectionGuard guard(textLock_);
    reportText_ = text;
  }
  FireChangeEvent();
}

// ---- change tracking and callbacks ----

void __stdcall TIKVException::EndUpdate() {
  if (--updateDepth_ == 0 && dirty_) MarkModified();
}

void TIKVException::EndBuildUpdate() {
  // Whoever asked for the lists gets the text they make; a first build is no news for the
  // report callbacks, which were told the text when they were added.
  if (--updateDepth_ != 0 || !dirty_) return;
  dirty_ = false;
  CriticalSectionGuard guard(textLock_);
  ++changeCounter_;
  reportText_.clear();
}

void TIKVException::MarkModified() {
  if (updateDepth_ > 0) {
    dirty_ = true;
    return;
  }
  dirty_ = false;
  {
    CriticalSectionGuard guard(textLock_);
    ++changeCounter_;
    reportText_.clear();
  }
  FireChangeEvent();
}

void TIKVException::FireChangeEvent() {
  if (Aborting()) return;
  std::vector<ProcedureCallback> procedures;
  std::vector<MethodCallback> methods;
  {
    CriticalSectionGuard guard(CallbackLock());
    procedures = procedures_;
    methods = methods_;
  }
  if (procedures.empty() && methods.empty()) return;
  // Read before the text, so that "complete" is never paired with an older text.
  bool complete = complete_;
  std::string text = GetReportText(false);
  for (const auto& entry : procedures)
    Guarded([&] { entry.callback(complete, text, this); });
  for (const auto& entry : methods)
    Guarded([&] { entry.code(entry.object, complete, text, this); });
}

void __stdcall TIKVException::AddReportCallback(TDABugReportCallback callback, bool critical) {
  if (callback == nullptr) return;
  {
    CriticalSectionGuard guard(CallbackLock());
    for (auto& entry : procedures_) {
      if (entry.callback == callback) {
        entry.critical = critical;
        return;
      }
    }
    procedures_.push_back({callback, critical});
  }
  bool complete = complete_;
  std::string text = GetReportText(false);
  Guarded([&] { callback(complete, text, this); });
}

void __stdcall TIKVException::AddReportCallbackOO(TDABugReportCallbackOO code, void* object,
                                                  bool critical) {
  if (code == nullptr) return;
  {
    CriticalSectionGuard guard(CallbackLock());
    for (auto& entry : methods_) {
      if (entry.code == code && entry.object == object) {
        entry.critical = critical;
        return;
      }
    }
    methods_.push_back({code, object, critical});
  }
  bool complete = complete_;
  std::string text = GetReportText(false);
  Guarded([&] { code(object, complete, text, this); });
}

void __stdcall TIKVException::RemoveReportCallback(TDABugReportCallback callback) {
  CriticalSectionGuard guard(CallbackLock());
  for (auto it = procedures_.begin(); it != procedures_.end(); ++it) {
    if (it->callback == callback) {
      procedures_.erase(it);
      return;
    }
  }
}

void __stdcall TIKVException::RemoveReportCallbackOO(TDABugReportCallbackOO code, void* object) {
  CriticalSectionGuard guard(CallbackLock());
  for (auto it = methods_.begin(); it != methods_.end(); ++it) {
    if (it->code == code && it->object == object) {
      methods_.erase(it);
      return;
    }
  }
}

bool __stdcall TIKVException::CriticalCallbackExists() {
  CriticalSectionGuard guard(CallbackLock());
  for (const auto& entry : procedures_)
    if (entry.critical) return true;
  for (const auto& entry : methods_)
    if (entry.critical) return true;
  return false;
}

// ---- actions ----

void __stdcall TIKVException::Show() {
  if (Hooks().show != nullptr) Guarded([&] { Hooks().show(this); });
}

bool TIKVException::RunAction(int32_t action, HWND parent) {
  bool done = false;
  if (Hooks().runAction != nullptr) Guarded([&] { done = Hooks().runAction(action, this, parent); });
  return done;
}

bool __stdcall TIKVException::SaveReport(HWND parent) {
  bool saved = false;
  if (parent == nullptr) parent = CurrentExceptionBoxWindow();
  Guarded([&] {
    bool handled = Hooks().fireActionHandlers != nullptr &&
                   Hooks().fireActionHandlers(kActionSave, this, parent);
    if (!handled) saved = SaveReportFile(std::string(), GetReportText(true), parent,
                             static_cast<IKVException*>(this), false);
  });
  SetCursor(LoadCursor(nullptr, IDC_ARROW));
  return saved;
}

ComPtr<IKVException> CreateTIKVException(IKVModuleSettings* moduleSettings,
                                         const ExceptionFacts& facts) {
  auto* object = new (std::nothrow) TIKVException(moduleSettings, facts);
  return ComPtr<IKVException>::Adopt(object == nullptr ? nullptr : static_cast<IKVException*>(object));
}

void PutAssistantIntoReport(IKVException* exception, const std::vector<AssistantFormInput>& forms) {
  if (exception == nullptr) return;
  Guarded([&] {
    ComPtr<IKVFields> header = ComPtr<IKVFields>::Adopt(exception->HeaderFields());
    ComPtr<IKVFields> sections = ComPtr<IKVFields>::Adopt(exception->ReportSections());
    for (const AssistantFormInput& form : forms) {
      if (form.result != 1) continue;
      for (const AssistantItemInput& item : form.items) {
        if (item.outputName.empty()) continue;
        if (item.kind == AssistantItemInput::Kind::CheckBox) {
          if (header) header->SetContent(item.outputName, item.checked ? "yes" : "no");
        } else if (item.kind == AssistantItemInput::Kind::Edit && !item.text.empty()) {
          bool twoLines = item.text.find_first_of("\r\n") != std::string::npos;
          if (item.ownSectionOutput && twoLines) {
            if (sections) sections->SetContent(item.outputName, item.text);
          } else if (header) {
            header->SetContent(item.outputName, item.text);
          }
        }
      }
    }
  });
}

}  // namespace qx
