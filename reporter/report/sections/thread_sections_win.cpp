#include "thread_sections_win.h"

#include "stack_trace_win.h"
#include "thread_info_win.h"
#include "exception_object_win.h"
#include "sync_win.h"
#include "wait_bound_win.h"

namespace qx {


namespace {

// Set while the module shuts down: traces still running end at once, so that no thread is
// left in code that is about to be unloaded.
volatile bool gShuttingDown = false;

constexpr char kNotAccessible[] = ">> stack not accessible";
constexpr char kCalculatedSoon[] = ">> stack will be calculated soon";

uint32_t AddressOf(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

// The walker's caches are shared by every trace of the process, so one trace runs at a
// time. A mutex rather than a critical section: a completion thread terminated in the middle
// of a trace (a released report whose thread did not stop in time) leaves it abandoned, and
// the next trace takes it over, with the caches emptied, instead of waiting forever.
std::atomic<HANDLE> gTraceMutex{nullptr};
constexpr DWORD kTraceLockLimitMs = 30000;

HANDLE TraceMutex() {
  HANDLE mutex = gTraceMutex.load();
  if (mutex != nullptr) return mutex;
  HANDLE made = CreateMutexA(nullptr, FALSE, nullptr);
  if (made == nullptr || gTraceMutex.compare_exchange_strong(mutex, made)) return made;
  CloseHandle(made);
  return mutex;  // another thread's, read by the failed exchange
}

class TraceLockGuard {
 public:
  TraceLockGuard() : mutex_(TraceMutex()) {
    const DWORD result =
        mutex_ != nullptr ? WaitForSingleObject(mutex_, kTraceLockLimitMs) : WAIT_FAILED;
    held_ = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
    if (result == WAIT_ABANDONED) ProcessStackWalker().Clear();
  }
  ~TraceLockGuard() {
    if (held_) ReleaseMutex(mutex_);
  }
  TraceLockGuard(const TraceLockGuard&) = delete;
  TraceLockGuard& operator=(const TraceLockGuard&) = delete;
  // False when the walker could not be had in time: the trace is left out.
  bool Held() const { return held_; }

 private:
  HANDLE mutex_;
  bool held_ = false;
};

bool ClassIs(IKVException* exception, const char* name) {
  if (ExceptionClassIsHook != nullptr) return ExceptionClassIsHook(exception, name);
  return exception->ExceptionClass() == name;
}

uint32_t RegionEnd(uint32_t address) {
  MEMORY_BASIC_INFORMATION info;
  if (VirtualQuery(reinterpret_cast<void*>(static_cast<uintptr_t>(address)), &info,
                   sizeof info) != sizeof info)
    return 0;
  return AddressOf(info.BaseAddress) + static_cast<uint32_t>(info.RegionSize);
}

class ThreadSectionProducer final : public ReportSectionProducer {
 public:
  explicit ThreadSectionProducer(IKVException* exception) : exception_(exception) {
    if (auto* object = dynamic_cast<TIKVException*>(exception)) {
      reportAbort_ = &object->AbortFlag();
      progress_ = ComPtr<IProgressAlert>(object->ProgressWindow());
    }
    if (const CONTEXT* context = exception->Context()) {
      context_ = *context;
      hasContext_ = true;
    }
  }

  std::vector<std::pair<std::string, std::string>> ThreadSections() override {
    try {
      SnapshotThreads();
    } catch (...) {
      // A failure ends the snapshots with what was gathered.
    }
    std::vector<std::pair<std::string, std::string>> sections;
    for (const Snapshot& s : snapshots_) sections.emplace_back(s.snapshot.title, s.placeholder);
    return sections;
  }

  void KeepFirstThreadOnly() override {
    if (snapshots_.size() <= 1) return;
    snapshots_.resize(1);
    // The areas of the threads left out would keep the bar from ever filling.
    if (progress_) {
      progress_->ClearAreas();
      if (snapshots_[0].area >= 0) progress_->AppendArea(areaText_, snapshots_[0].areaWeight);
    }
  }
  size_t ThreadCount() override { return snapshots_.size(); }

  std::string ThreadReport(size_t index, ThreadCrc& crc) override {
    if (index >= snapshots_.size()) return {};
    Snapshot& entry = snapshots_[index];
    ThreadSnapshot& s = entry.snapshot;
    if (!s.stateRead) return entry.placeholder;
    TraceStackInput input;
    input.hideUglyItems = exception_->GetHideUglyItems();
    input.showRelAddrs = exception_->GetShowRelAddrs();
    input.showRelLines = exception_->GetShowRelLines();
    input.dontAddTopItem = !s.isException && s.exceptionAddress == 0 && s.currentAddress == 0;
    input.abort = &gShuttingDown;
    input.reportAbort = reportAbort_;
    input.preparedStack = s.preparedStack.empty() ? nullptr : &s.preparedStack;
    input.cppTermination = s.isCppTermination;
    input.framePointer = s.framePointer;
    input.creatorAddress = s.creatorAddress;
    input.stackTop = s.stackTop;
    input.stackBottom = s.stackBottom;
    input.isExternal = s.isExternal;
    input.isException = s.isException;
    input.currentAddress = s.exceptionAddress;
    if (!s.isException && s.exceptionAddress == 0 && s.currentAddress != 0) {
      input.currentAddress = s.currentAddress;
      input.knownContext = true;
    }
    input.handledExceptionAddress = HandledExceptionAddress.load();
    if (progress_ && entry.area >= 0) {
      progress_->SetCurrentArea(entry.area);
      IProgressAlert* window = progress_.Get();
      input.progress = [window](int position) { window->SetPosition(position); };
    }
    NoteReporterProgress();  // a thread of many keeps the waits for the report open
    TraceStackOutput output;
    {
      TraceLockGuard guard;
      if (guard.Held()) ProcessStackWalker().TraceStack(input, output, &minDebugInfo_);
    }
    s.preparedStack = TDAPreStackItem();
    std::string text = output.text;
    if (s.creatorAddress != 0 && !output.aborted && !text.empty() && text[0] != '>') {
      size_t last = text.rfind("\r\n");
      std::string line = "\r\n>> created by " + ThreadTitle(s.creatorThreadId, true) + " at:";
      if (last == std::string::npos)
        text = line.substr(2) + "\r\n" + text;
      else
        text.insert(last, line);
    }
    crc.location = output.crcLocation;
    crc.stack = output.crcStack;
    crc.hasLines = output.hasLines;
    if (index == 0) {
      disassemblyStart_ = output.firstFunctionStart;
      disassemblyAddress_ = output.firstFunctionAddr;
    }
    return text;
  }

  std::string CpuRegisters() override { return hasContext_ ? CpuRegistersText(context_) : ""; }
  std::string StackDump() override { return hasContext_ ? StackDumpText(context_) : ""; }
  bool DisassemblerLinked() override { return DisAsmHook != nullptr; }
  std::string Disassembly() override {
    return DisassemblyText(disassemblyStart_, disassemblyAddress_, exception_->GetFormatDisAsm(),
                           exception_->GetLimitDisAsm());
  }
  std::vector<std::string> MinDebugInfoList() override { return minDebugInfo_; }

 private:
  struct Snapshot {
    ThreadSnapshot snapshot;
    std::string placeholder;
    int32_t area = -1;  // the thread's area in the progress window, -1 without one
    uint64_t areaWeight = 0;
  };

  void SnapshotThreads();
  void SnapshotThread(DWORD threadId, bool force, bool isException);
  void UseRecordedPointers(DWORD threadId, ThreadSnapshot& s) const;

  IKVException* exception_;  // owns this producer
  const std::atomic<bool>* reportAbort_ = nullptr;  // the report's own stop, when it has one
  CONTEXT context_{};
  bool hasContext_ = false;
  std::vector<Snapshot> snapshots_;
  // The report's progress window (may be null): one area per traced thread, weighted by
  // the part of its stack in use, filled by the trace's positions.
  ComPtr<IProgressAlert> progress_;
  std::string areaText_;
  int32_t areaCount_ = 0;
  std::vector<std::string> minDebugInfo_;
  uint32_t disassemblyStart_ = 0, disassemblyAddress_ = 0;
};

void ThreadSectionProducer::SnapshotThreads() {
  const bool listThreads = exception_->GetListThreads();
  std::vector<DWORD> ids;
  if (listThreads) ids = ThreadIdList();
  DWORD crashed = exception_->CrashedThreadId();
  if (crashed == 0) crashed = GetCurrentThreadId();
  DWORD mainThread = MainThreadId();
  const bool freeze = exception_->ExceptionType() == 1;
  if (freeze) {
    SnapshotThread(mainThread != 0 ? mainThread : crashed, false, false);
  } else {
    SnapshotThread(crashed, true, true);
    if (mainThread != 0 && mainThread != crashed) SnapshotThread(mainThread, false, false);
  }
  if (!listThreads) return;
  const bool traceRunning = TraceProcessRunningHook != nullptr && TraceProcessRunningHook();
  for (DWORD id : ids) {
    if ((id == crashed && !freeze) || id == mainThread) continue;
    if (freeze && mainThread == 0 && id == crashed) continue;
    SnapshotThread(id, traceRunning, false);
  }
}

void ThreadSectionProducer::SnapshotThread(DWORD threadId, bool force, bool isException) {
  Snapshot entry;
  ThreadSnapshot& s = entry.snapshot;
  s.threadId = threadId;
  s.title = ThreadTitle(threadId, force, &s.creatorAddress, &s.creatorThreadId);
  if (s.title.empty()) return;
  s.title += ":";
  s.isException = isException;
  const bool showRelAddrs = exception_->GetShowRelAddrs();
  const bool showRelLines = exception_->GetShowRelLines();
  if (isException) {
    s.exceptionAddress = exception_->ExceptionAddress();
    s.isExternal = ClassIs(exception_, "EExternal");
    s.isCppTermination = ClassIs(exception_, "BcbTermination");
    if (auto* object = dynamic_cast<TIKVException*>(exception_)) {
      if (auto prepared = std::static_pointer_cast<TDAPreStackItem>(object->PreparedStack()))
        s.preparedStack = *prepared;
    }
  }
  entry.placeholder = kNotAccessible;
  if (isException) {
    entry.placeholder += ", exception location: \r\n" +
                         StackAddressText(s.exceptionAddress, showRelAddrs, showRelLines);
  }

  ScopedHandle thread(OpenThreadForState(threadId));
  CONTEXT context{};
  bool stateRead = false;
  bool suspended = false;
  int priority = THREAD_PRIORITY_NORMAL;
  if (thread.Valid()) {
    if (threadId == GetCurrentThreadId()) {
      context.Esp = AddressOf(&context);
      context.Ebp = AddressOf(__builtin_frame_address(0));
      stateRead = true;
    } else {
      context.ContextFlags = CONTEXT_FULL;
      DWORD previous = SuspendThread(thread.Get());
      stateRead = GetThreadContext(thread.Get(), &context) != 0;
      if (previous != static_cast<DWORD>(-1)) {
        ResumeThread(thread.Get());
        suspended = previous > 0;
      }
    }
    priority = GetThreadPriority(thread.Get());
  }
  if (stateRead) {
    if (suspended) s.title.insert(s.title.size() - 1, " <suspended>");
    if (priority != THREAD_PRIORITY_NORMAL && priority != THREAD_PRIORITY_ERROR_RETURN)
      s.title.insert(s.title.size() - 1, " <priority:" + std::to_string(priority) + ">");
    s.stackBottom = context.Esp;
    s.framePointer = context.Ebp;
    s.stackTop = RegionEnd(s.stackBottom);
    if (isException && hasContext_) {
      s.stackBottom = context_.Esp;
      s.framePointer = context_.Ebp;
      s.stackTop = RegionEnd(s.stackBottom);
    } else {
      UseRecordedPointers(threadId, s);
      // A thread stopped in the system: where it stands is known, and its frames are
      // checked against it. Not for the current thread, nor one whose recorded pointers
      // replaced those of its context.
      if (threadId != GetCurrentThreadId() && s.stackBottom == context.Esp)
        s.currentAddress = context.Eip;
    }
    uint32_t count = 0;
    TDAPreStackItem prepared;
    {
      TraceLockGuard guard;
      if (guard.Held())
        prepared = ProcessStackWalker().PrepareStack(s.framePointer, s.stackTop, s.stackBottom,
                                                     isException, s.exceptionAddress, count);
    }
    if (count > 0) {
      prepared[0].value = count;
      s.preparedStack = std::move(prepared);
    }
    s.stateRead = s.stackTop > s.stackBottom;
    if (s.stateRead && progress_) {
      if (areaCount_ == 0) areaText_ = exception_->GetPlWaitText();
      entry.areaWeight = static_cast<uint64_t>(s.stackTop - s.stackBottom) * 100;
      entry.area = areaCount_++;
      progress_->AppendArea(areaText_, entry.areaWeight);
    }
    if (s.stateRead) {
      entry.placeholder =
          s.exceptionAddress != 0
              ? StackAddressText(s.exceptionAddress, showRelAddrs, showRelLines) + "\r\n" +
                    kCalculatedSoon
              : kCalculatedSoon;
    }
  }
  snapshots_.push_back(std::move(entry));
}

// The crashed thread's stack and frame pointer recorded with the exception replace the
// ones just read: a report without exception then starts at its caller, not inside the
// reporter that builds it. Only a recorded stack pointer that lies in the part of this
// thread's stack in use counts (a freeze names the main thread but records the watchdog's).
void ThreadSectionProducer::UseRecordedPointers(DWORD threadId, ThreadSnapshot& s) const {
  DWORD crashed = exception_->CrashedThreadId();
  if (crashed == 0 || crashed != threadId) return;
  auto* object = dynamic_cast<TIKVException*>(exception_);
  if (object == nullptr) return;
  const uint32_t stackPointer = object->RecordedStackPointer();
  if (stackPointer == 0 || stackPointer < s.stackBottom || stackPointer >= s.stackTop) return;
  s.stackBottom = stackPointer;
  s.framePointer = object->RecordedFramePointer();
}

std::unique_ptr<ReportSectionProducer> MakeProducer(IKVException* exception) {
  return std::make_unique<ThreadSectionProducer>(exception);
}

}  // namespace

std::unique_ptr<ReportSectionProducer> MakeThreadSectionProducer(IKVException* exception) {
  return MakeProducer(exception);
}

void ThreadSectionsStartup() {
  gShuttingDown = false;
  Hooks().makeSectionProducer = MakeProducer;
  StackTraceStartup();
}

void ThreadSectionsShutdown() {
  gShuttingDown = true;
  if (Hooks().makeSectionProducer == MakeProducer) Hooks().makeSectionProducer = nullptr;
  StackTraceShutdown();
  if (HANDLE mutex = gTraceMutex.exchange(nullptr)) CloseHandle(mutex);
}

}  // namespace qx
