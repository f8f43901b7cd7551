#include "pipeline_win.h"

#include <atomic>
#include <cstring>
#include <exception>

#include "assistant_runs_win.h"
#include "decoder_win.h"
#include "desktop_visibility_win.h"
#include "exception_box_win.h"
#include "exception_classes.h"
#include "handler_tables_win.h"
#include "own_security_win.h"
#include "process_registries.h"
#include "progress_alert_win.h"
#include "report_file_win.h"
#include "report_print_win.h"
#include "report_hooks_win.h"
#include "settings_open_win.h"
#include "thread_names_win.h"
#include "exception_object_win.h"
#include "pe_image.h"
#include "placeholders.h"
#include "watchdog_win.h"
#include "sync_win.h"
#include "wait_bound_win.h"

namespace qx {

namespace {

constexpr DWORD kBlockedLimitMs = 250;
constexpr SIZE_T kReservedRange = 4 << 20;
constexpr SIZE_T kCommittedBlock = 512 << 10;

template <class Step>
void Guarded(Step&& step) {
  try {
    step();
  } catch (...) {
  }
}

Pipeline* RunningPipeline() { return Running().pipeline; }

// While an exception is processed its report can be aborted by the pipeline's stop.
class CurrentReportScope {
 public:
  explicit CurrentReportScope(IKVException* exception)
      : pipeline_(RunningPipeline()), exception_(exception) {
    if (pipeline_ != nullptr) pipeline_->AddCurrentReport(exception_);
  }
  ~CurrentReportScope() {
    if (pipeline_ != nullptr) pipeline_->RemoveCurrentReport(exception_);
  }
  CurrentReportScope(const CurrentReportScope&) = delete;
  CurrentReportScope& operator=(const CurrentReportScope&) = delete;

 private:
  Pipeline* pipeline_;
  IKVException* exception_;
};

// Names the exception being handled for the internal-error texts, for as long as the
// scope lives; a hand-over processed on the faulting thread meanwhile restores the outer.
class HandledAddressScope {
 public:
  explicit HandledAddressScope(uint32_t address)
      : outer_(HandledExceptionAddress.exchange(address)) {}
  ~HandledAddressScope() { HandledExceptionAddress.store(outer_); }
  HandledAddressScope(const HandledAddressScope&) = delete;
  HandledAddressScope& operator=(const HandledAddressScope&) = delete;

 private:
  uint32_t outer_;
};

// The object of the C++ exception being handled on this thread, kept alive by `holder`.
void* CurrentExceptionObject(std::exception_ptr& holder) {
  holder = std::current_exception();
  if (!holder) return nullptr;
  try {
    std::rethrow_exception(holder);
  } catch (const Exception& e) {
    return const_cast<Exception*>(&e);
  } catch (...) {
  }
  return nullptr;
}

// Completes object, address and context from what the runtime knows of this thread.
void CompleteFromThread(void*& object, uint32_t& address, const CONTEXT*& context,
                        CONTEXT& recorded, std::exception_ptr& holder) {
  if ((object == nullptr || address == 0) && PipelineLinks().threadExceptionRecord != nullptr) {
    void* recordObject = nullptr;
    uint32_t recordAddress = 0;
    bool hasContext = false;
    if (PipelineLinks().threadExceptionRecord(recordObject, recordAddress, recorded, hasContext)) {
      if (object == nullptr) object = recordObject;
      if (address == 0) address = recordAddress;
      if (hasContext && context == nullptr && object == recordObject &&
          address == recordAddress)
        context = &recorded;
    }
  }
  if (object == nullptr) object = CurrentExceptionObject(holder);
  if (object != nullptr && ValidException(object) == nullptr) object = nullptr;
}

void ClearThreadRecord() {
  if (PipelineLinks().clearThreadExceptionRecord != nullptr) Guarded(PipelineLinks().clearThreadExceptionRecord);
}

uint32_t CheckedAddress(void* object, uint32_t address) {
  if (address == 0 || PipelineLinks().checkExceptionAddress == nullptr ||
      ExceptionInheritsFrom(object, "EAbort"))
    return address;
  uint32_t checked = address;
  Guarded([&] { checked = PipelineLinks().checkExceptionAddress(object, address); });
  return checked;
}

bool LockHeld(const RTL_CRITICAL_SECTION* lock) {
  MEMORY_BASIC_INFORMATION info;
  if (lock == nullptr || VirtualQuery(lock, &info, sizeof info) != sizeof info ||
      info.State != MEM_COMMIT)
    return false;
  // The owner is recorded after the lock is taken and cleared before it is released, on
  // every system family and under either lock-count convention.
  return lock->OwningThread != nullptr && lock->RecursionCount > 0;
}

bool BlockedOnce() {
  const BYTE* peb;
  asm volatile("movl %%fs:0x30, %0" : "=r"(peb));
  auto loaderLock = *reinterpret_cast<RTL_CRITICAL_SECTION* const*>(peb + 0xA0);
  auto pebLock = *reinterpret_cast<RTL_CRITICAL_SECTION* const*>(peb + 0x1C);
  return LockHeld(loaderLock) || LockHeld(pebLock);
}

// True when the event was set, false when the report's bound passed first.
bool WaitPumpingMessages(HANDLE event) {
  bool quit = false;
  WPARAM quitCode = 0;
  bool answered = false;
  WaitClock clock(kReportWaitBound);
  for (;;) {
    DWORD result = quit ? WaitForSingleObject(event, clock.Slice())
                        : MsgWaitForMultipleObjects(1, &event, FALSE, clock.Slice(), QS_ALLINPUT);
    if (result != WAIT_TIMEOUT && result != WAIT_OBJECT_0 + 1) {
      answered = result == WAIT_OBJECT_0;
      break;
    }
    // Asked on every round: a steady stream of messages must not keep the thread here.
    if (clock.Passed()) break;
    if (result == WAIT_TIMEOUT) continue;
    MSG message;
    while (!quit && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        // The record on this stack is still in use: stop pumping, keep waiting, and
        // leave the quit for the program's own loop.
        quit = true;
        quitCode = message.wParam;
        break;
      }
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
  if (quit) PostQuitMessage(static_cast<int>(quitCode));
  return answered;
}

// A faulting thread whose report did not end within its bound goes on as it would without
// a reporter. Its record is marked given up (its event set) so that the handler thread,
// should it not have reached the record yet, leaves it alone: what it points to on this
// thread's stack is gone soon. The report in progress is aborted and the threads it paused
// are let go.
void GiveUpHandOver(HANDLE event) {
  SetEvent(event);
  if (Pipeline* pipeline = RunningPipeline()) pipeline->AbortCurrentReports();
  PauseOtherThreads(false, 0);
}

void TakeOverRestartBlock() {
  std::string name = ProcessObjectName("qelExceptRestart", GetCurrentProcessId());
  HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
  if (mapping == nullptr) return;
  if (const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, sizeof(RestartBlock))) {
    RestartBlock block;
    std::memcpy(&block, view, sizeof block);
    UnmapViewOfFile(view);
    CloseHandle(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(block.blockHandle)));
    if (HANDLE previous = OpenProcess(SYNCHRONIZE, FALSE, block.processId)) {
      WaitForSingleObject(previous, 10000);
      CloseHandle(previous);
    }
    SetExceptionHistory(block.history);
  }
  CloseHandle(mapping);
}

bool ExecutableIsThisModule() { return ReporterModule() == GetModuleHandleA(nullptr); }

// A window nobody sees waits for a click forever and takes the thread that opened it along.
bool WindowsSeen() { return WindowsCanBeSeen(ExecutableIsThisModule()); }

IKVExceptionEx* ExOf(IKVException* exception, ComPtr<IKVExceptionEx>& holder) {
  holder = ComPtr<IKVException>(exception).As<IKVExceptionEx>(IID_IKVExceptionEx);
  return holder.Get();
}

// The complete text is there as soon as the last section is; the report callbacks and the
// phase-4 handlers run after that on the completion thread. Its id stays valid while the
// exception object (which holds the thread's handle) lives.
// A completion that does not end within the report's bound is aborted, and the actions go on
// with what the report holds.
void WaitForCompletionEnd(IKVException* exception, IKVExceptionEx* ex) {
  DWORD id = ex->CompletionThreadId();
  if (id == 0 || id == GetCurrentThreadId() || ProcessBlockedTest(kBlockedLimitMs)) return;
  if (HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, id)) {
    if (!WaitWithinBound(thread, kReportWaitBound))
      if (auto* object = dynamic_cast<TIKVException*>(exception)) object->Abort();
    CloseHandle(thread);
  }
}

void WriteConsoleText(const std::string& text) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::string HeadlineOf(IKVException* exception) {
  std::string text = exception->ExceptionType() == kTypeFreeze ? exception->GetFrozenMsg()
                                                               : exception->GetExceptMsg();
  std::string message = exception->ExceptionMessage();
  ReplaceIgnoringCase(text, "%exceptClass%", exception->ExceptionClass());
  ReplaceIgnoringCase(text, "%exceptMsg%", message.empty() ? std::string("Unknown") : message);
  return text;
}

// What the box would have said, on one line, for the report file of a process whose
// windows nobody sees.
std::string UnseenLine(const std::string& headline, const std::string& message) {
  std::string line = "Not shown (no visible desktop): " + headline;
  if (!message.empty()) line += " " + message;
  for (char& c : line)
    if (c == '\r' || c == '\n') c = ' ';
  return line;
}

// ---- the report object's links into the pipeline ----

void ReportCompleted(IKVException* exception) {
  bool handled = false;
  NotifyHandlers(nullptr, kEventException, 0, handled, exception);
}

bool FireActionHandlers(int32_t action, IKVException* exception, HWND parent) {
  bool handled = false;
  NotifyHandlers(parent, kEventAction, action, handled, exception);
  return handled;
}

// The box closes before a restart or close ends the process, and after any continue.
bool RunAction(int32_t action, IKVException* exception, HWND parent) {
  if (parent == nullptr) parent = CurrentExceptionBoxWindow();
  switch (action) {
    case kActionShow:
      return ShowReportInCurrentBox();
    case kActionPrint: {
      if (FireActionHandlers(kActionPrint, exception, parent)) return false;
      bool printed = PrintReport(exception->GetReportText(true), parent, exception);
      SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)));  // IDC_ARROW
      return printed;
    }
    case kActionContinue:
      FireActionHandlers(kActionContinue, exception, parent);
      CloseCurrentExceptionBox();
      return true;
    case kActionRestart:
    case kActionClose:
      if (FireActionHandlers(action, exception, parent)) return false;
      CloseCurrentExceptionBox();
      FinishAutoActions(exception, true);
      if (action == kActionRestart) RestartProgram();
      CloseProgram();
    case kActionSend: {
      if (FireActionHandlers(kActionSend, exception, parent) || PipelineLinks().sendReport == nullptr)
        return false;
      ComPtr<IScreenshot> shot;
      if (exception->AttachScreenshot()) shot = ComPtr<IScreenshot>::Adopt(exception->Screenshot());
      return PipelineLinks().sendReport(exception, shot.Get(), parent, false) == 1;
    }
    default:
      return false;
  }
}

void InstallReportHooks() {
  ReportHooks& hooks = Hooks();
  hooks.processBlocked = ProcessBlockedTest;
  hooks.lendMainThread = LendMainThread;
  hooks.describeObject = DescribeExceptionObject;
  hooks.reportCompleted = ReportCompleted;
  hooks.fireActionHandlers = FireActionHandlers;
  hooks.runAction = RunAction;
  hooks.show = ShowToUser;
}

void RemoveReportHooks() {
  ReportHooks& hooks = Hooks();
  hooks.processBlocked = nullptr;
  hooks.lendMainThread = nullptr;
  hooks.describeObject = nullptr;
  hooks.reportCompleted = nullptr;
  hooks.fireActionHandlers = nullptr;
  hooks.runAction = nullptr;
  hooks.show = nullptr;
}

}  // namespace

// ---- the pipeline object ----

Pipeline::~Pipeline() {
  Stop();
  ReleaseEmergencyMemory();
}

void Pipeline::ReserveEmergencyMemory() {
  for (size_t i = 0; i < kReserveCount; ++i) {
    if (reserves_[i] != nullptr) continue;
    void* block = i < 4 ? VirtualAlloc(nullptr, kReservedRange, MEM_RESERVE, PAGE_NOACCESS)
                        : VirtualAlloc(nullptr, kCommittedBlock, MEM_RESERVE | MEM_COMMIT,
                                       PAGE_NOACCESS);
    if (block == nullptr) continue;
    if (InterlockedCompareExchangePointer(const_cast<void**>(&reserves_[i]), block, nullptr) !=
        nullptr)
      VirtualFree(block, 0, MEM_RELEASE);
  }
}

void Pipeline::ReleaseEmergencyMemory() {
  for (size_t i = 0; i < kReserveCount; ++i) {
    void* block = InterlockedExchangePointer(const_cast<void**>(&reserves_[i]), nullptr);
    if (block != nullptr) VirtualFree(block, 0, MEM_RELEASE);
  }
}

size_t Pipeline::ReservedBlockCount() const {
  size_t count = 0;
  for (size_t i = 0; i < kReserveCount; ++i)
    if (reserves_[i] != nullptr) ++count;
  return count;
}

DWORD WINAPI Pipeline::ThreadMain(void* self) {
  static_cast<Pipeline*>(self)->Run();
  ExitThread(0);
}

void Pipeline::Run() {
  for (;;) {
    HandOverRecord record{};
    DWORD got = 0, total = 0;
    bool ok = true;
    while (total < sizeof record) {
      if (!ReadFile(pipeRead_, reinterpret_cast<BYTE*>(&record) + total, sizeof record - total,
                    &got, nullptr) ||
          got == 0) {
        ok = false;
        break;
      }
      total += got;
    }
    if (!ok || record.event == 0) break;
    HANDLE event = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(record.event));
    // Set already: its thread gave up waiting and went on (GiveUpHandOver).
    if (WaitForSingleObject(event, 0) == WAIT_TIMEOUT) Guarded([&] { ProcessException(record); });
    SetEvent(event);
    PostThreadMessageA(record.threadId, WM_NULL, 0, 0);
    // This thread owns the event of every record it read: a thread that gave up no longer
    // holds it, so its handle cannot be reused for another object before this SetEvent.
    CloseHandle(event);
  }
  SetEvent(threadLeft_);
}

bool Pipeline::Start() {
  if (thread_ != nullptr) return true;
  if (!CreatePipe(&pipeRead_, &pipeWrite_, nullptr, sizeof(HandOverRecord) * 64)) return false;
  threadLeft_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  thread_ = StartReporterThread(ThreadMain, this, threadId_);
  if (thread_ == nullptr) {
    CloseHandle(pipeRead_);
    CloseHandle(pipeWrite_);
    pipeRead_ = pipeWrite_ = nullptr;
    return false;
  }
  return true;
}

void Pipeline::Stop() {
  if (thread_ == nullptr) return;
  AbortCurrentReports();
  ResumeThread(thread_);
  if (ProcessBlockedTest(0)) {
    // Inside the loader the thread cannot end before we return: it leaves its loop, and
    // is cut on its way out, before this module's code goes away.
    CloseHandle(pipeWrite_);
    WaitForSingleObject(threadLeft_, kStopLimitMs);
    TerminateThread(thread_, 0);
  } else {
    HandOverRecord stop{};
    DWORD written = 0;
    WriteFile(pipeWrite_, &stop, sizeof stop, &written, nullptr);
    CloseHandle(pipeWrite_);
    if (WaitForSingleObject(thread_, kStopLimitMs) != WAIT_OBJECT_0) TerminateThread(thread_, 0);
  }
  pipeWrite_ = nullptr;
  UnnameThread(threadId_);
  CloseHandle(thread_);
  CloseHandle(pipeRead_);
  CloseHandle(threadLeft_);
  thread_ = pipeRead_ = threadLeft_ = nullptr;
  threadId_ = 0;
}

void Pipeline::AddCurrentReport(IKVException* exception) {
  if (exception == nullptr) return;
  CriticalSectionGuard guard(currentLock_);
  for (IKVException*& slot : current_) {
    if (slot != nullptr) continue;
    exception->AddRef();
    slot = exception;
    return;
  }
}

void Pipeline::RemoveCurrentReport(IKVException* exception) {
  IKVException* removed = nullptr;
  {
    CriticalSectionGuard guard(currentLock_);
    for (IKVException*& slot : current_) {
      if (slot != exception) continue;
      removed = slot;
      slot = nullptr;
      break;
    }
  }
  if (removed != nullptr) removed->Release();
}

void Pipeline::AbortCurrentReports() {
  CriticalSectionGuard guard(currentLock_);
  for (IKVException* slot : current_)
    if (auto* object = dynamic_cast<TIKVException*>(slot)) object->Abort();
}

bool Pipeline::Submit(const HandOverRecord& record) {
  DWORD written = 0;
  return pipeWrite_ != nullptr &&
         WriteFile(pipeWrite_, &record, sizeof record, &written, nullptr) &&
         written == sizeof record;
}

ExceptionHistory Pipeline::History() {
  CriticalSectionGuard guard(historyLock_);
  return history_;
}

void Pipeline::SetHistory(const ExceptionHistory& history) {
  CriticalSectionGuard guard(historyLock_);
  history_ = history;
}

void Pipeline::ShiftHistoryAt(uint64_t now) {
  CriticalSectionGuard guard(historyLock_);
  ShiftHistory(history_, now);
}

// ---- hand-over ----

__attribute__((noinline)) void HandOverException(uint8_t type, void* object, uint32_t address,
                                                 std::string* reportSlot, HMODULE package,
                                                 void* relatedObject, uint8_t source,
                                                 const CONTEXT* context, uint32_t framePointer,
                                                 uint32_t stackPointer, bool canContinue) {
  DWORD self = GetCurrentThreadId();
  Pipeline* pipeline = RunningPipeline();
  if (pipeline != nullptr && self == pipeline->ThreadId()) return;
  if (self == ProcessMainThreadId() && MainThreadRunningHandlers()) return;
  void* ownFrame = __builtin_frame_address(0);
  try {
    if (pipeline != nullptr) pipeline->ReleaseEmergencyMemory();
    CONTEXT recorded;
    std::exception_ptr holder;
    CompleteFromThread(object, address, context, recorded, holder);
    if (ExceptionInheritsFrom(object, "EAbort")) {
      ClearThreadRecord();
      if (!canContinue) CloseProgram();
      if (pipeline != nullptr) pipeline->ReserveEmergencyMemory();
      return;
    }
    if (framePointer == 0 && stackPointer == 0) {
      framePointer = *static_cast<uint32_t*>(ownFrame);
      stackPointer = reinterpret_cast<uintptr_t>(ownFrame) + 8;
    }
    if (context != nullptr && address >= context->Eip && address - context->Eip <= 4) {
      stackPointer = context->Esp;
      framePointer = context->Ebp;
    }
    HandOverRecord record{};
    record.threadId = self;
    record.type = type;
    record.object = reinterpret_cast<uintptr_t>(object);
    record.address = address;
    record.canContinue = canContinue;
    record.stackPointer = stackPointer;
    record.framePointer = framePointer;
    record.context = reinterpret_cast<uintptr_t>(context);
    record.reportSlot = reinterpret_cast<uintptr_t>(reportSlot);
    record.source = source;
    record.relatedObject = reinterpret_cast<uintptr_t>(relatedObject);
    record.package = reinterpret_cast<uintptr_t>(package);
    HANDLE event = nullptr;
    if (pipeline != nullptr && pipeline->Started() && !ProcessBlockedTest(kBlockedLimitMs))
      event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    PauseWatchdog(true);
    if (event == nullptr) {
      Guarded([&] { ProcessException(record); });
    } else {
      record.event = reinterpret_cast<uintptr_t>(event);
      if (pipeline->Submit(record)) {
        // From here the handler thread owns the event and closes it.
        bool answered = self == ProcessMainThreadId() ? WaitPumpingMessages(event)
                                                      : WaitWithinBound(event, kReportWaitBound);
        if (!answered) GiveUpHandOver(event);
      } else {
        CloseHandle(event);
      }
    }
    PauseWatchdog(false);
  } catch (...) {
  }
  ClearThreadRecord();
  if (pipeline != nullptr) pipeline->ReserveEmergencyMemory();
}

// ---- the exception object ----

ComPtr<IKVException> CreateExceptionObject(const ExceptionRequest& request) {
  ComPtr<IKVModuleSettings> settings(request.settings);
  if (!settings) settings = SettingsForFrame(1);
  if (!settings) return nullptr;
  void* object = request.object;
  uint32_t address = request.address;
  const CONTEXT* context = request.context;
  CONTEXT recorded;
  std::exception_ptr holder;
  // A freeze or a trace has no exception, even when asked for inside a catch block.
  if (GetCurrentThreadId() != HandlerThreadId() && request.type != kTypeFreeze)
    CompleteFromThread(object, address, context, recorded, holder);
  else if (object != nullptr && ValidException(object) == nullptr)
    object = nullptr;
  address = CheckedAddress(object, address);

  ExceptionFacts facts;
  facts.type = request.type;
  facts.object = object;
  facts.address = address;
  facts.crashedThreadId = request.crashedThreadId;
  facts.stackPointer = request.stackPointer;
  facts.framePointer = request.framePointer;
  if (facts.stackPointer == 0 && facts.framePointer == 0) {
    void* frame = __builtin_frame_address(0);
    facts.framePointer = reinterpret_cast<uintptr_t>(frame);
    facts.stackPointer = reinterpret_cast<uintptr_t>(frame) + 8;
  }
  facts.context = context;
  facts.source = request.source;
  facts.relatedObject = request.relatedObject;
  facts.package = request.package;
  facts.canContinue = request.canContinue;
  facts.dontCompleteYet = request.dontCompleteYet;
  if (request.preparedStack != nullptr) facts.preparedStack = *request.preparedStack;

  auto* created = new (std::nothrow) TIKVException(settings.Get(), facts);
  if (created == nullptr) return nullptr;
  ComPtr<IKVException> exception = ComPtr<IKVException>::Adopt(created);
  // The class and message are read while the object surely lives.
  Guarded([&] { exception->ExceptionClass(); });
  Guarded([&] {
    if (WindowsSeen())
      created->SetProgressWindow(CreateProgressWindow(exception->GetPlWaitTitle(),
                                                      settings->ModuleHandle(), "KVIPLWAIT"));
  });
  Guarded([&] { ApplyFilters(exception.Get(), settings.Get()); });
  exception->SetAttachScreenshot(exception->WantScreenshot());
  if (request.dontCompleteYet) {
    ComPtr<IKVFields>::Adopt(exception->HeaderFields());
    ComPtr<IKVFields>::Adopt(exception->ReportSections());
  }
  return exception;
}

void ApplyFilters(IKVException* exception, IKVModuleSettings* settings) {
  if (exception == nullptr || settings == nullptr) return;
  void* object = exception->ExceptionObject();
  int group = 0;  // 0 general, 1 F1, 2 F2
  if (object != nullptr) {
    if (ExceptionMatchesAny(object, SplitClassList(settings->GetF1Classes())))
      group = 1;
    else if (ExceptionMatchesAny(object, SplitClassList(settings->GetF2Classes())))
      group = 2;
  }
  bool noBugRep, noScrShot, noSuspend, noHandlers;
  uint32_t showCfg;
  std::string assistant;
  switch (group) {
    case 1:
      noBugRep = settings->GetF1NoBugRep();
      noScrShot = settings->GetF1NoScrShot();
      noSuspend = settings->GetF1NoSuspend();
      noHandlers = settings->GetF1NoHandlers();
      showCfg = settings->GetF1ShowCfg();
      assistant = settings->GetF1Assis();
      break;
    case 2:
      noBugRep = settings->GetF2NoBugRep();
      noScrShot = settings->GetF2NoScrShot();
      noSuspend = settings->GetF2NoSuspend();
      noHandlers = settings->GetF2NoHandlers();
      showCfg = settings->GetF2ShowCfg();
      assistant = settings->GetF2Assis();
      break;
    default:
      noBugRep = settings->GetGnNoBugRep();
      noScrShot = settings->GetGnNoScrShot();
      noSuspend = settings->GetGnNoSuspend();
      noHandlers = settings->GetGnNoHandlers();
      showCfg = settings->GetGnShowCfg();
      assistant = settings->GetGnAssis();
      break;
  }
  exception->SetWantReport(!noBugRep);
  exception->SetWantScreenshot(!noScrShot && exception->GetScrShotDepth() > 0);
  exception->SetPauseThreads(exception->GetPauseThreads() && !noSuspend);
  exception->SetCallHandlers(!noHandlers);
  exception->SetShowMode(showCfg);
  exception->SetAssistantName(assistant);
}

// ---- the handler thread's work ----

void ProcessException(const HandOverRecord& record) {
  if (PipelineLinks().processExceptionStarted != nullptr) PipelineLinks().processExceptionStarted();
  bool paused = false;
  try {
    void* object = reinterpret_cast<void*>(static_cast<uintptr_t>(record.object));
    uint32_t address = record.address;
    if (PipelineLinks().clearTempFolder != nullptr) Guarded(PipelineLinks().clearTempFolder);
    address = CheckedAddress(object, address);
    HandledAddressScope handledAddress(record.type == kTypeFreeze ? 0 : address);
    ComPtr<IKVModuleSettings> settings =
        SettingsForAddress(reinterpret_cast<const void*>(static_cast<uintptr_t>(address)));
    ExceptionRequest request;
    request.type = static_cast<uint8_t>(record.type);
    request.object = object;
    request.address = address;
    request.preparedStack =
        reinterpret_cast<std::shared_ptr<void>*>(static_cast<uintptr_t>(record.preparedStack));
    request.package = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(record.package));
    request.relatedObject = reinterpret_cast<void*>(static_cast<uintptr_t>(record.relatedObject));
    request.source = static_cast<uint8_t>(record.source);
    request.settings = settings.Get();
    request.context = reinterpret_cast<const CONTEXT*>(static_cast<uintptr_t>(record.context));
    request.framePointer = record.framePointer;
    request.stackPointer = record.stackPointer;
    request.crashedThreadId = record.threadId;
    request.canContinue = record.canContinue != 0;
    ComPtr<IKVException> exception = CreateExceptionObject(request);
    ComPtr<IKVExceptionEx> holder;
    IKVExceptionEx* ex = ExOf(exception.Get(), holder);
    if (!exception || ex == nullptr) return;
    CurrentReportScope current(exception.Get());
    IKVException* e = exception.Get();
    uint8_t type = e->ExceptionType();

    ex->SetPhase(1);
    bool handled;
    if (type == kTypeHandled) {
      handled = true;
      NotifyHandlers(nullptr, kEventHandledException, 0, handled, e);
    } else {
      handled = false;
      if (Pipeline* pipeline = RunningPipeline()) pipeline->ShiftHistoryAt(HistoryNow());
    }
    if (!handled) NotifyHandlers(nullptr, kEventException, 0, handled, e);
    ex->SetPhase(2);
    if (!handled) {
      if (type != kTypeFreeze && e->GetPauseThreads() && ExecutableIsThisModule()) {
        PauseOtherThreads(true, record.threadId);
        paused = true;
      }
      if (e->WantScreenshot()) ComPtr<IScreenshot>::Adopt(e->Screenshot());
      if (e->WantReport()) e->GetReportText(false);
      NotifyHandlers(nullptr, kEventException, 0, handled, e);
    }
    ex->SetPhase(3);
    if (!handled) NotifyHandlers(nullptr, kEventException, 0, handled, e);
    if (!(handled && e->CanContinue())) {
      // Web-server mode needs the request entry of a web-server capture point, which this
      // module does not have.
      bool console = IsConsoleProgram();
      bool seen = console || WindowsSeen();
      if (!handled) {
        if (e->GetAutoSave() || e->GetAutoSend() || e->GetAutoClip())
          e->AddReportCallback(AutoActionsOnComplete, true);
        if (console) {
          if (e->ShowMode() != 4) ShowToUser(e);
        } else {
          // The exception box waits for the user who reads it, however long.
          PersonWaitScope person(seen);
          e->Show();
        }
      }
      if (e->CanContinue() && e->ShowMode() != 4 && !console && seen) {
        // The exception box and its buttons did the rest.
      } else if (RepeatRule(e->GetAutoClose()) ||
                 (!e->CanContinue() && !RepeatRule(e->GetAutoRestart()))) {
        bool closeHandled = false;
        NotifyHandlers(nullptr, kEventAction, kActionClose, closeHandled, e);
        FinishAutoActions(e, true);
        CloseProgram();
      } else if (RepeatRule(e->GetAutoRestart())) {
        bool restartHandled = false;
        NotifyHandlers(nullptr, kEventAction, kActionRestart, restartHandled, e);
        FinishAutoActions(e, true);
        RestartProgram();
      } else {
        bool continueHandled = false;
        NotifyHandlers(nullptr, kEventAction, kActionContinue, continueHandled, e);
      }
      if (!handled) FinishAutoActions(e, false);
    }
  } catch (...) {
  }
  ResetWatchdogMisses();
  if (paused) PauseOtherThreads(false, 0);
}

bool ProcessBlockedTest(DWORD limitMs) {
  DWORD start = GetTickCount();
  for (;;) {
    bool blocked = false;
    try {
      blocked = BlockedOnce();
    } catch (...) {
    }
    if (!blocked || GetTickCount() - start >= limitMs) return blocked;
    Sleep(10);
  }
}

// ---- history and repeat rule ----

uint64_t HistoryNow() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return ticks / 10000000u;
}

ExceptionHistory CurrentExceptionHistory() {
  Pipeline* pipeline = RunningPipeline();
  return pipeline != nullptr ? pipeline->History() : ExceptionHistory{};
}

void SetExceptionHistory(const ExceptionHistory& history) {
  if (Pipeline* pipeline = RunningPipeline()) pipeline->SetHistory(history);
}

bool RepeatRule(uint32_t seconds) {
  return RepeatRuleHolds(seconds, CurrentExceptionHistory(), HistoryNow());
}

// ---- automatic actions ----

void __stdcall AutoActionsOnComplete(bool complete, const std::string& report,
                                     IKVException* exception) {
  if (!complete || exception == nullptr) return;
  ComPtr<IKVExceptionEx> holder;
  IKVExceptionEx* ex = ExOf(exception, holder);
  if (ex == nullptr || !ex->IsFirstCompletionCallback()) return;
  Guarded([&] {
    if (exception->GetAutoSend()) {
      bool handled = false;
      NotifyHandlers(nullptr, kEventAction, kActionSend, handled, exception);
      if (!handled) {
        ComPtr<IScreenshot> shot;
        if (exception->AttachScreenshot()) shot = ComPtr<IScreenshot>::Adopt(exception->Screenshot());
        HANDLE* sendThread = ex->SendThreadHandle();
        if (*sendThread != nullptr) {
          CloseHandle(*sendThread);
          *sendThread = nullptr;
        }
        if (PipelineLinks().sendReport != nullptr)
          PipelineLinks().sendReport(exception, shot.Get(), nullptr, true);
      }
    }
  });
  Guarded([&] {
    if (exception->GetAutoClip()) CopyTextToClipboard(report);
  });
}

void FinishAutoActions(IKVException* exception, bool waitForSending) {
  if (exception == nullptr) return;
  ComPtr<IKVExceptionEx> holder;
  IKVExceptionEx* ex = ExOf(exception, holder);
  if (ex == nullptr) return;
  Guarded([&] {
    if (ex->CriticalCallbackExists() || (Phase4HandlerExists() && exception->CallHandlers())) {
      exception->GetReportText(true);
      WaitForCompletionEnd(exception, ex);
    }
  });
  // An exception whose filter wants no report has nothing to save.
  if (exception->WantReport()) Guarded([&] { AutoSaveCheck(exception); });
  HANDLE* sendThread = ex->SendThreadHandle();
  if (waitForSending && *sendThread != nullptr) {
    // The program ends after this: a send that does not end in time is lost with it.
    WaitWithinBound(*sendThread, kSendWaitBound);
    CloseHandle(*sendThread);
    *sendThread = nullptr;
  }
}

// ---- showing ----

bool IsConsoleProgram() {
  static const bool console = [] {
    const auto base = reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr));
    if (base == 0) return false;
    PeImage image(ProcessMemory(), static_cast<uint32_t>(base), PeLayout::kLoaded);
    return image.Open() && image.Subsystem() == pe::kSubsystemWindowsCui;
  }();
  return console;
}

void ShowToUser(IKVException* exception) {
  if (exception == nullptr) return;
  Guarded([&] {
    if (IsConsoleProgram()) {
      std::string text = HeadlineOf(exception) + "\r\n";
      if (exception->GetAutoShowBugRep() || exception->GetShowBtnVis()) {
        exception->SetPlWaitBox(false);
        text += "\r\n" + exception->GetReportText(true) + "\r\n";
      }
      WriteConsoleText(text);
      return;
    }
    // Show mode 1 asks for an assistant; until assistants exist it gets their fallback, the
    // full box.
    uint32_t mode = exception->ShowMode();
    if (mode > 3) return;
    if (!WindowsSeen()) {
      std::string message =
          exception->ExceptionType() != kTypeFreeze ? exception->ExceptionMessage() : std::string();
      AppendReportFileLine(exception, UnseenLine(HeadlineOf(exception), message));
      return;
    }
    if (ProcessBlockedTest(kBlockedLimitMs)) return;
    // The assistant and the box wait for the user who reads them, however long.
    PersonWaitScope person(true);
    // Show mode 1: the filter's assistant; without one, the full box.
    if (mode == 1 && RunReportAssistant(exception, exception->AssistantName(), nullptr) != 0)
      return;
    BoxAutomatic automatic;
    automatic.close = RepeatRule(exception->GetAutoClose());
    automatic.restart = RepeatRule(exception->GetAutoRestart());
    ShowExceptionBox(exception, mode == 1 ? 0 : mode, nullptr, automatic);
  });
}

// ---- ending the program ----

void RestartProgram() {
  Guarded([&] {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::string commandLine = GetCommandLineA();
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                        nullptr, nullptr, &startup, &process))
      return;
    // The restarted process runs as the same user, which the block admits.
    std::string name = ProcessObjectName("qelExceptRestart", process.dwProcessId);
    OwnProcessSecurity security;
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, security.Attributes(),
                                        PAGE_READWRITE, 0, sizeof(RestartBlock), name.c_str());
    if (mapping != nullptr) {
      if (void* view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(RestartBlock))) {
        HANDLE duplicate = nullptr;
        DuplicateHandle(GetCurrentProcess(), mapping, process.hProcess, &duplicate, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
        RestartBlock block{};
        block.processId = GetCurrentProcessId();
        block.blockHandle = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(duplicate));
        block.history = CurrentExceptionHistory();
        std::memcpy(view, &block, sizeof block);
        UnmapViewOfFile(view);
      }
    }
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  });
  TerminateProcess(GetCurrentProcess(), 2);
  ExitProcess(2);
}

void CloseProgram() {
  TerminateProcess(GetCurrentProcess(), 1);
  ExitProcess(1);
}

DWORD HandlerThreadId() {
  Pipeline* pipeline = RunningPipeline();
  return pipeline != nullptr ? pipeline->ThreadId() : 0;
}

void ReserveEmergencyMemory() {
  if (Pipeline* pipeline = RunningPipeline()) pipeline->ReserveEmergencyMemory();
}

void ReleaseEmergencyMemory() {
  if (Pipeline* pipeline = RunningPipeline()) pipeline->ReleaseEmergencyMemory();
}

// ---- start-up and shut-down ----

void HandlingStartup() {
  Guarded([] {
    // The objects live from here to shut-down, whatever the settings say: without
    // Enabled exceptions are handled on the faulting thread, and handlers may register.
    if (Running().handlerTables == nullptr)
      Running().handlerTables = new (std::nothrow) HandlerTables;
    if (Running().pipeline == nullptr) Running().pipeline = new (std::nothrow) Pipeline;
    Pipeline* pipeline = Running().pipeline;
    TakeOverRestartBlock();
    ProcessMainThreadId();
    InstallReportHooks();
    ComPtr<IKVModuleSettings> main = MainSettings();
    if (!main || !main->HasSettings() || !main->GetEnabled() || pipeline == nullptr) return;
    CreateReporterWindow();
    if (pipeline->Start()) SetReportHandlerThread(pipeline->ThreadId());
    if (main->GetCheckFreeze()) StartWatchdog(main->GetFreezeTimeout());
    pipeline->ReserveEmergencyMemory();
  });
}

void HandlingShutdown() {
  Guarded([] {
    // First the reports being made: a watchdog waiting for its freeze report, and the
    // handler thread, then get to their stop soon.
    if (Pipeline* pipeline = Running().pipeline) pipeline->AbortCurrentReports();
    StopWatchdog();
    ShutdownPause();
    Pipeline* pipeline = Running().pipeline;
    if (pipeline != nullptr && pipeline->Started()) {
      pipeline->Stop();
      SetReportHandlerThread(0);
    }
    DestroyReporterWindow();
    if (pipeline != nullptr) pipeline->ReleaseEmergencyMemory();
    ClearHandlerTables();
    RemoveReportHooks();
    delete Running().pipeline.exchange(nullptr);
    delete Running().handlerTables.exchange(nullptr);
  });
}

}  // namespace qx
