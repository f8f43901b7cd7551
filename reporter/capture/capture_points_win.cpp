#include "capture_points_win.h"

#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

#include "crash_arena_win.h"
#include "decoder_win.h"
#include "function_win.h"
#include "map_lookup.h"
#include "patch_primitives_win.h"
#include "pipeline_win.h"
#include "stack_trace_win.h"
#include "thread_info_win.h"
#include "wait_bound_win.h"

namespace qx {

namespace {

constexpr DWORD kThreadNamingException = 0x406D1388;

uint32_t AddressOf(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

// The hooks below have no context parameter: they reach the object that installed them.
CapturePoints* InstalledPoints() { return Running().capturePoints; }

// What the capture layer keeps per thread, in a fixed table rather than in thread-locals:
// this runtime's emulated thread-locals allocate on a thread's first use, and the recorder
// runs for every exception, also inside a heap whose lists are wrecked.
struct ThreadRecord {
  std::atomic<DWORD> threadId{0};
  bool valid = false;
  uint32_t address = 0;
  CONTEXT context{};
  const EXCEPTION_RECORD* reported = nullptr;  // already handed over by a thread frame
  DWORD faultingThread = 0;  // the thread a helper thread hands over for (0: itself)
  LONG handingOver = 0;      // hand-overs running on this thread
  // The exception being handed over, for a minimal report when the reporter faults.
  DWORD code = 0;
  uint32_t faultAddress = 0;
  const CONTEXT* faultContext = nullptr;
};
constexpr size_t kThreadRecords = 1024;
ThreadRecord gThreadRecords[kThreadRecords];

bool ThreadEnded(DWORD threadId) {
  HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, threadId);
  if (thread == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;
  const bool ended = WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
  CloseHandle(thread);
  return ended;
}

// The calling thread's record; made (or taken over from a thread that ended) when asked.
// Records are never removed, so a search ends at the first unused one.
ThreadRecord* RecordOfThisThread(bool make) {
  const DWORD self = GetCurrentThreadId();
  const size_t start = (self >> 2) % kThreadRecords;
  for (size_t i = 0; i < kThreadRecords; ++i) {
    ThreadRecord& record = gThreadRecords[(start + i) % kThreadRecords];
    DWORD id = record.threadId.load(std::memory_order_acquire);
    if (id == self) return &record;
    if (id != 0) continue;
    if (!make) return nullptr;
    if (record.threadId.compare_exchange_strong(id, self)) return &record;
    if (id == self) return &record;
  }
  if (!make) return nullptr;
  for (size_t i = 0; i < kThreadRecords; ++i) {
    ThreadRecord& record = gThreadRecords[(start + i) % kThreadRecords];
    DWORD id = record.threadId.load(std::memory_order_acquire);
    if (id == self || !ThreadEnded(id) || !record.threadId.compare_exchange_strong(id, self))
      continue;
    record.valid = false;
    record.reported = nullptr;
    record.faultingThread = 0;
    record.handingOver = 0;
    return &record;
  }
  return nullptr;
}

// Hand-overs running in the process; a reporter thread that faults while one runs ends the
// process after a minimal report instead of queueing behind the hand-over it serves.
std::atomic<long> gHandOversRunning{0};

// The minimal report: written without the heap to a file named at start-up.
wchar_t gMinimalReportPath[MAX_PATH + 8] = {};
using NtCreateFileFn = LONG(NTAPI*)(HANDLE*, ACCESS_MASK, void*, void*, LARGE_INTEGER*, ULONG,
                                    ULONG, ULONG, ULONG, void*, ULONG);
NtCreateFileFn gNtCreateFile = nullptr;

// A report text built in fixed memory.
class FixedText {
 public:
  void Add(const char* text) {
    while (*text != 0 && size_ < sizeof data_) data_[size_++] = *text++;
  }
  void Hex8(uint32_t value) {
    char digits[9];
    for (int i = 7; i >= 0; --i, value >>= 4) digits[i] = "0123456789abcdef"[value & 15];
    digits[8] = 0;
    Add(digits);
  }
  void Value(const char* name, uint32_t value) {
    Add(name);
    Add("$");
    Hex8(value);
    Add("\r\n");
  }
  const char* Data() const { return data_; }
  DWORD Size() const { return static_cast<DWORD>(size_); }
  void Clear() { size_ = 0; }

 private:
  char data_[8192];
  size_t size_ = 0;
};

void AddRegisters(FixedText& text, const CONTEXT& c) {
  const struct {
    const char* name;
    DWORD value;
  } registers[] = {{"eax = ", c.Eax}, {"ebx = ", c.Ebx}, {"ecx = ", c.Ecx},
                   {"edx = ", c.Edx}, {"esi = ", c.Esi}, {"edi = ", c.Edi},
                   {"eip = ", c.Eip}, {"esp = ", c.Esp}, {"ebp = ", c.Ebp}};
  text.Add("\r\ncpu registers:\r\n");
  for (const auto& r : registers) {
    text.Add(r.name);
    text.Hex8(r.value);
    text.Add("\r\n");
  }
}

// The values on the stack that follow a call: the call stack without any check.
void AddReturnAddresses(FixedText& text, const CONTEXT& c) {
  text.Add("\r\nreturn addresses on the stack (unchecked):\r\n");
  int shown = 0;
  for (uint32_t slot = c.Esp, guard = 0; guard < 4096 && shown < 40; slot += 4, ++guard) {
    uint32_t value = 0;
    uint8_t before[8];
    if (!SafeRead(reinterpret_cast<const void*>(static_cast<uintptr_t>(slot)), &value, 4)) break;
    if (value <= 8 ||
        !SafeRead(reinterpret_cast<const void*>(static_cast<uintptr_t>(value - 8)), before, 8) ||
        !CouldBeReturnAddress(value, before))
      continue;
    text.Hex8(value);
    text.Add("\r\n");
    ++shown;
  }
}

// Appends the minimal report to the file named at start-up; the heap is not touched.
void WriteMinimalReport(const ThreadRecord* original, const EXCEPTION_RECORD* nested,
                        const CONTEXT* nestedContext) {
  static std::atomic<bool> written{false};
  static FixedText text;
  if (gNtCreateFile == nullptr || gMinimalReportPath[0] == 0 || written.exchange(true)) return;
  text.Clear();
  text.Add("minimal report: the reporter faulted while it reported an exception\r\n");
  if (original != nullptr) {
    text.Value("exception code    : ", original->code);
    text.Value("exception address : ", original->faultAddress);
  }
  if (nested != nullptr) {
    text.Value("reporter fault    : ", nested->ExceptionCode);
    text.Value("reporter address  : ",
               static_cast<uint32_t>(reinterpret_cast<uintptr_t>(nested->ExceptionAddress)));
  }
  if (original != nullptr && original->faultContext != nullptr) {
    CONTEXT context;
    if (SafeRead(original->faultContext, &context, sizeof context)) {
      AddRegisters(text, context);
      AddReturnAddresses(text, context);
    }
  }
  if (nestedContext != nullptr) {
    text.Add("\r\nthe reporter's fault:");
    AddRegisters(text, *nestedContext);
    AddReturnAddresses(text, *nestedContext);
  }
  struct {
    USHORT length, maximumLength;
    wchar_t* buffer;
  } name;
  size_t chars = 0;
  while (gMinimalReportPath[chars] != 0) ++chars;
  name.length = name.maximumLength = static_cast<USHORT>(chars * sizeof(wchar_t));
  name.buffer = gMinimalReportPath;
  struct {
    ULONG length;
    HANDLE root;
    void* name;
    ULONG attributes;
    void* security;
    void* quality;
  } attributes = {sizeof attributes, nullptr, &name, 0x40 /* case-insensitive */, nullptr,
                  nullptr};
  struct {
    LONG status;
    ULONG_PTR information;
  } status{};
  HANDLE file = nullptr;
  constexpr ULONG kOpenIf = 3, kSynchronous = 0x20, kNotDirectory = 0x40;
  if (gNtCreateFile(&file, FILE_APPEND_DATA | SYNCHRONIZE, &attributes, &status, nullptr,
                    FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ, kOpenIf,
                    kSynchronous | kNotDirectory, nullptr, 0) < 0)
    return;
  DWORD done = 0;
  WriteFile(file, text.Data(), text.Size(), &done, nullptr);
  CloseHandle(file);
}

bool IsReporterThread() {
  ThreadInfoRecord info;
  bool found = false;
  if (FindThreadInfo(GetCurrentThreadId(), 50, info, found) && found && info.name == "-")
    return true;
  return ThreadNameHook != nullptr && ThreadNameHook(GetCurrentThreadId()) == "-";
}

// The hand-over running first, for the minimal report of a reporter thread that faults.
std::atomic<ThreadRecord*> gFirstHandOver{nullptr};

// Entered by every capture point before it builds anything. A fault inside a hand-over on
// the same thread, or on one of the reporter's threads while a hand-over runs, means the
// reporter itself cannot go on (often a wrecked heap): a minimal report is written and the
// process ends, rather than waiting for a report that never comes.
class HandOverGuard {
 public:
  HandOverGuard(const EXCEPTION_RECORD* record, uint32_t address, const CONTEXT* context)
      : self_(RecordOfThisThread(true)) {
    if (self_ != nullptr && self_->handingOver > 0) Abandon(self_, record, context);
    const bool forOther = self_ != nullptr && self_->faultingThread != 0;
    if (gHandOversRunning.load() > 0 && !forOther && IsReporterThread())
      Abandon(gFirstHandOver.load(), record, context);
    if (self_ != nullptr) {
      if (self_->handingOver++ == 0) {
        self_->code = record != nullptr ? record->ExceptionCode : 0;
        self_->faultAddress = address;
        self_->faultContext = context;
      }
      ThreadRecord* none = nullptr;
      gFirstHandOver.compare_exchange_strong(none, self_);
    }
    gHandOversRunning.fetch_add(1);
  }
  ~HandOverGuard() {
    gHandOversRunning.fetch_sub(1);
    if (self_ == nullptr) return;
    --self_->handingOver;
    ThreadRecord* self = self_;
    if (self_->handingOver == 0) gFirstHandOver.compare_exchange_strong(self, nullptr);
  }
  HandOverGuard(const HandOverGuard&) = delete;
  HandOverGuard& operator=(const HandOverGuard&) = delete;

 public:
  [[noreturn]] static void Abandon(const ThreadRecord* original, const EXCEPTION_RECORD* nested,
                                   const CONTEXT* nestedContext) {
    WriteMinimalReport(original, nested, nestedContext);
    TerminateProcess(GetCurrentProcess(),
                     original != nullptr && original->code != 0 ? original->code : 3);
    for (;;) Sleep(INFINITE);
  }

 private:
  ThreadRecord* self_;
  CrashArenaScope arena_;

};

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "$%x", static_cast<unsigned>(value));
  return text;
}

std::shared_ptr<TDAPreStackItem> Prepare(const CONTEXT* context, uint32_t address) {
  if (context == nullptr) return nullptr;
  MEMORY_BASIC_INFORMATION info;
  if (VirtualQuery(reinterpret_cast<void*>(static_cast<uintptr_t>(context->Esp)), &info,
                   sizeof info) != sizeof info)
    return nullptr;
  uint32_t top = AddressOf(info.BaseAddress) + static_cast<uint32_t>(info.RegionSize);
  uint32_t count = 0;
  auto prepared = std::make_shared<TDAPreStackItem>(ProcessStackWalker().PrepareStack(
      context->Ebp, top, context->Esp, true, address, count));
  if (count == 0) return nullptr;
  (*prepared)[0].value = count;
  return prepared;
}

void HandOver(uint8_t source, const CaptureObject& object, uint32_t address,
              const CONTEXT* context, bool canContinue) {
  if (CaptureHandOver == nullptr) return;
  CaptureRecord record;
  record.source = source;
  record.object = &object;
  record.address = address;
  record.context = context;
  record.canContinue = canContinue;
  const ThreadRecord* self = RecordOfThisThread(false);
  record.threadId = self != nullptr && self->faultingThread != 0 ? self->faultingThread
                                                                 : GetCurrentThreadId();
  if (context != nullptr) {
    record.framePointer = context->Ebp;
    record.stackPointer = context->Esp;
  }
  // The snapshot below already allocates: give back the pipeline's reserves first, for a
  // process that has run out of address space.
  ReleaseEmergencyMemory();
  // An overflowed stack leaves the faulting thread too little room for the snapshot; the
  // report's own snapshot of the blocked thread takes its place.
  const bool overflow = context != nullptr && object.message == "Stack overflow";
  try {
    if (!overflow) record.preparedStack = Prepare(context, address);
  } catch (...) {
  }
  CaptureHandOver(record);
  ReserveEmergencyMemory();
}

CaptureObject OsExceptionObject(const EXCEPTION_RECORD& record) {
  return CaptureObject{"QelException", {"EExternal", "Exception"}, OsExceptionMessage(record)};
}

// --- source 2 --------------------------------------------------------------------------

__attribute__((noinline)) void OnTerminate() {
  static std::atomic<bool> inside{false};
  if (!inside.exchange(true)) {
    CONTEXT context{};
    context.ContextFlags = CONTEXT_FULL;
    RtlCaptureContext(&context);
    HandOverGuard guard(nullptr, AddressOf(__builtin_return_address(0)), &context);
    CaptureObject object{"BcbTermination", {"Exception"}, "Abnormal program termination"};
    HandOver(2, object, AddressOf(__builtin_return_address(0)), &context, false);
  }
  CapturePoints* points = InstalledPoints();
  if (points != nullptr && points->PreviousTerminate() != nullptr) points->PreviousTerminate()();
  std::abort();
}

// --- source 11 -------------------------------------------------------------------------

__attribute__((noinline)) void RuntimeError(uint32_t address) {
  CONTEXT context{};
  context.ContextFlags = CONTEXT_FULL;
  RtlCaptureContext(&context);
  HandOverGuard guard(nullptr, address, &context);
  CaptureObject object{"QelException", {"Exception"}, "Runtime error"};
  HandOver(11, object, address, &context, false);
}

void OnAbortSignal(int) { RuntimeError(AddressOf(__builtin_return_address(0))); }
void __cdecl OnInvalidParameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned,
                                uintptr_t) {
  RuntimeError(AddressOf(__builtin_return_address(0)));
}
void __cdecl OnPureCall() { RuntimeError(AddressOf(__builtin_return_address(0))); }

// --- sources 13 / 14 -----------------------------------------------------------------------

struct DeferredHandOver {
  EXCEPTION_POINTERS* pointers;
  uint8_t source;
  bool canContinue;
  DWORD threadId;
};

void HandOverSystemException(EXCEPTION_POINTERS* pointers, uint8_t source, bool canContinue) {
  const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
  HandOverGuard guard(&record, AddressOf(record.ExceptionAddress), pointers->ContextRecord);
  CaptureObject object = OsExceptionObject(record);
  HandOver(source, object, CheckExceptionAddress(AddressOf(record.ExceptionAddress)),
           pointers->ContextRecord, canContinue);
}

DWORD WINAPI DeferredHandOverThread(void* parameter) {
  auto* deferred = static_cast<DeferredHandOver*>(parameter);
  if (ThreadRecord* self = RecordOfThisThread(true)) self->faultingThread = deferred->threadId;
  NameThreadInfo(GetCurrentThreadId(), "-");
  HandOverSystemException(deferred->pointers, deferred->source, deferred->canContinue);
  return 0;
}

// An overflowed stack has no room for the hand-over: it runs on a thread of its own while
// the faulting thread waits, as the thread it reports.
bool HandOverOnHelperThread(EXCEPTION_POINTERS* pointers, uint8_t source, bool canContinue);

LONG WINAPI OnUnhandled(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
  const ThreadRecord* self = RecordOfThisThread(false);
  const bool reported = self != nullptr && self->reported == &record;
  if (!reported && record.ExceptionCode != kThreadNamingException) {
    // Nothing handles it after this filter: the program cannot go on from here.
    if (record.ExceptionCode != EXCEPTION_STACK_OVERFLOW ||
        !HandOverOnHelperThread(pointers, 14, false))
      HandOverSystemException(pointers, 14, false);
  }
  CapturePoints* points = InstalledPoints();
  LPTOP_LEVEL_EXCEPTION_FILTER previous = points != nullptr ? points->RuntimeFilter() : nullptr;
  return previous != nullptr ? previous(pointers) : EXCEPTION_CONTINUE_SEARCH;
}

bool HandOverOnHelperThread(EXCEPTION_POINTERS* pointers, uint8_t source, bool canContinue) {
  static DeferredHandOver deferred;
  deferred = {pointers, source, canContinue, GetCurrentThreadId()};
  CapturePoints* points = InstalledPoints();
  void* realCreateThread = points != nullptr ? points->RealCreateThread() : nullptr;
  auto create = reinterpret_cast<HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, SIZE_T,
                                                 LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD)>(
      realCreateThread != nullptr ? realCreateThread : reinterpret_cast<void*>(CreateThread));
  HANDLE thread = create(nullptr, 1 << 20, DeferredHandOverThread, &deferred, 0, nullptr);
  if (thread == nullptr) return false;
  // The hand-over on that thread has the report's bound already; this one also covers a
  // report made on that thread itself. When it passes, the report counts as handed over:
  // a second one on the overflowed stack would only fault, and the faulting thread goes on
  // to the filter that came before.
  WaitWithinBound(thread, kReportWaitBound);
  CloseHandle(thread);
  return true;
}

// --- source 16 -------------------------------------------------------------------------

struct StartBlock {
  LPTHREAD_START_ROUTINE start;
  void* parameter;
};

// The start routine inside an exception frame of its own: the registration record lives
// on this routine's stack while the start routine runs. QxLeaveExceptionFrame, given that
// record after the frames above it were unwound, returns from QxRunInExceptionFrame with
// -1, the callee-saved registers as they were at its entry.
extern "C" DWORD __cdecl QxRunInExceptionFrame(LPTHREAD_START_ROUTINE start, void* parameter,
                                               void* handler);
extern "C" [[noreturn]] void __cdecl QxLeaveExceptionFrame(void* registration);
asm(R"(
  .text
  .globl _QxRunInExceptionFrame
_QxRunInExceptionFrame:
  pushl %ebp
  movl %esp, %ebp
  pushl %ebx
  pushl %esi
  pushl %edi
  pushl 16(%ebp)
  pushl %fs:0
  movl %esp, %fs:0
  pushl 12(%ebp)
  call *8(%ebp)
QxFrameLeft:
  movl (%esp), %ecx
  movl %ecx, %fs:0
  leal -12(%ebp), %esp
  popl %edi
  popl %esi
  popl %ebx
  popl %ebp
  ret
  .globl _QxLeaveExceptionFrame
_QxLeaveExceptionFrame:
  movl 4(%esp), %eax
  movl %eax, %esp
  leal 20(%eax), %ebp
  movl $-1, %eax
  jmp QxFrameLeft
)");

// A fault nobody below handled ends this thread, not the process: it is reported as one
// the program can continue after, the frames above are unwound, and the start routine's
// frame returns -1 as the thread's result.
EXCEPTION_DISPOSITION __cdecl ThreadFrameHandler(EXCEPTION_RECORD* record, void* registration,
                                                 CONTEXT* context, void*) {
  if ((record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) != 0 ||
      record->ExceptionCode == kThreadNamingException)
    return ExceptionContinueSearch;
  ThreadRecord* self = RecordOfThisThread(true);
  if (self == nullptr || self->reported != record) {
    if (self != nullptr) self->reported = record;
    EXCEPTION_POINTERS pointers{record, context};
    HandOverSystemException(&pointers, 16, true);
  }
  RtlUnwind(registration, nullptr, record, nullptr);
  QxLeaveExceptionFrame(registration);
}

DWORD RunInFrame(StartBlock block) {
  return QxRunInExceptionFrame(block.start, block.parameter,
                               reinterpret_cast<void*>(ThreadFrameHandler));
}

DWORD WINAPI WrappedWorkItem(void* parameter) {
  StartBlock block = *static_cast<StartBlock*>(parameter);
  HeapFree(GetProcessHeap(), 0, parameter);
  return RunInFrame(block);
}

// A thread's record goes with its start routine: the id may be given to a new thread.
DWORD WINAPI WrappedThreadStart(void* parameter) {
  DWORD result = WrappedWorkItem(parameter);
  RemoveThreadInfo(GetCurrentThreadId());
  return result;
}

using CreateThreadFn = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE,
                                       LPVOID, DWORD, LPDWORD);
using QueueUserWorkItemFn = BOOL(WINAPI*)(LPTHREAD_START_ROUTINE, PVOID, ULONG);

__attribute__((noinline)) HANDLE WINAPI HookedCreateThread(LPSECURITY_ATTRIBUTES security,
                                                           SIZE_T stack,
                                                           LPTHREAD_START_ROUTINE start,
                                                           LPVOID parameter, DWORD flags,
                                                           LPDWORD threadId) {
  const uint32_t creator = AddressOf(__builtin_return_address(0));
  auto real = reinterpret_cast<CreateThreadFn>(InstalledPoints()->RealCreateThread());
  auto* block = static_cast<StartBlock*>(HeapAlloc(GetProcessHeap(), 0, sizeof(StartBlock)));
  if (block == nullptr) return real(security, stack, start, parameter, flags, threadId);
  *block = {start, parameter};
  DWORD id = 0;
  HANDLE thread = real(security, stack, WrappedThreadStart, block, flags | CREATE_SUSPENDED, &id);
  if (thread == nullptr) {
    HeapFree(GetProcessHeap(), 0, block);
    return nullptr;
  }
  ThreadInfoRecord record;
  record.threadId = id;
  record.creatorAddress = creator;
  record.creatorThreadId = GetCurrentThreadId();
  RecordThreadInfo(record);
  if ((flags & CREATE_SUSPENDED) == 0) ResumeThread(thread);
  if (threadId != nullptr) *threadId = id;
  return thread;
}

BOOL WINAPI HookedQueueUserWorkItem(LPTHREAD_START_ROUTINE start, PVOID parameter, ULONG flags) {
  auto real = reinterpret_cast<QueueUserWorkItemFn>(InstalledPoints()->RealQueueUserWorkItem());
  auto* block = static_cast<StartBlock*>(HeapAlloc(GetProcessHeap(), 0, sizeof(StartBlock)));
  if (block == nullptr) return real(start, parameter, flags);
  *block = {start, parameter};
  if (real(WrappedWorkItem, block, flags)) return TRUE;
  HeapFree(GetProcessHeap(), 0, block);
  return FALSE;
}

// --- timer callbacks -------------------------------------------------------------------

// Set when the system let us turn off its suppression of faults in timer callbacks.
bool gTimerFaultsPassOn = false;

// Asks the system to let faults in timer callbacks pass on to the handlers above the
// dispatcher, as a program that reports its faults should.
void StopTimerFaultSuppression() {
  constexpr int kTimerProcExceptionSuppression = 7;  // UOI_TIMERPROC_EXCEPTION_SUPPRESSION
  BOOL suppress = FALSE;
  gTimerFaultsPassOn = SetUserObjectInformationW(GetCurrentProcess(),
                                                 kTimerProcExceptionSuppression, &suppress,
                                                 sizeof suppress) != FALSE;
}

HMODULE ModuleOfAddress(const void* address) {
  MEMORY_BASIC_INFORMATION info;
  if (VirtualQuery(address, &info, sizeof info) != sizeof info || info.State != MEM_COMMIT)
    return nullptr;
  return static_cast<HMODULE>(info.AllocationBase);
}

// A processor fault whose nearest exception frame is the window system's own, raised in
// code outside it: the message dispatcher's frame around a timer callback, which ends the
// search and lets the program run on.
bool SwallowedByDispatcher(const EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
  if (gTimerFaultsPassOn || (record.ExceptionCode >> 28) != 0xC ||
      (record.ExceptionFlags & EXCEPTION_NONCONTINUABLE) != 0)
    return false;
  HMODULE user32 = GetModuleHandleA("user32.dll");
  if (user32 == nullptr || ModuleOfAddress(record.ExceptionAddress) == user32) return false;
  struct Registration {
    const Registration* next;
    const void* handler;
  };
  const Registration* frame;
  asm volatile("movl %%fs:0, %0" : "=r"(frame));
  const uint32_t esp = pointers->ContextRecord->Esp;
  for (int guard = 0; guard < 256; ++guard) {
    Registration current;
    if (AddressOf(frame) == 0xFFFFFFFF || !SafeRead(frame, &current, sizeof current)) return false;
    if (AddressOf(frame) >= esp) return ModuleOfAddress(current.handler) == user32;
    frame = current.next;
  }
  return false;
}

// --- recording -------------------------------------------------------------------------

// A processor fault, during a hand-over on this thread, at the address that faulted first or
// in the reporter's own module: no handler of the program's is waiting for it.
bool FaultOfTheReporter(const ThreadRecord& self, const EXCEPTION_RECORD& record) {
  if ((record.ExceptionCode >> 28) != 0xC) return false;
  const uint32_t at = AddressOf(record.ExceptionAddress);
  if (at == self.faultAddress && record.ExceptionCode == self.code) return true;
  const HMODULE own = ModuleOfAddress(reinterpret_cast<const void*>(&FaultOfTheReporter));
  return own != nullptr && ModuleOfAddress(record.ExceptionAddress) == own;
}

LONG CALLBACK RecordRaise(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
  // A checked read whose memory went away: its own frame turns the fault into a failed read.
  if (InGuardedCopy(record.ExceptionAddress)) return EXCEPTION_CONTINUE_SEARCH;
  if (record.ExceptionCode == kThreadNamingException && record.NumberParameters >= 3 &&
      record.ExceptionInformation[0] == 0x1000) {
    const char* name = reinterpret_cast<const char*>(record.ExceptionInformation[1]);
    DWORD id = static_cast<DWORD>(record.ExceptionInformation[2]);
    if (id == static_cast<DWORD>(-1)) id = GetCurrentThreadId();
    char copy[64] = {};
    if (name != nullptr && SafeRead(name, copy, 1)) {
      for (size_t i = 0; i + 1 < sizeof copy && SafeRead(name + i, copy + i, 1) && copy[i]; ++i) {
      }
      copy[sizeof copy - 1] = 0;
      NameThreadInfo(id, copy);
    }
    return EXCEPTION_CONTINUE_SEARCH;
  }
  ThreadRecord* self = RecordOfThisThread(true);
  if (self == nullptr) return EXCEPTION_CONTINUE_SEARCH;
  if (self->handingOver > 0 && FaultOfTheReporter(*self, record)) {
    // The hand-over faulted again before any handler below could run: most often the
    // heap code that faulted first, called again by the reporter.
    HandOverGuard::Abandon(self, &record, pointers->ContextRecord);
  }
  self->valid = true;
  self->address = AddressOf(record.ExceptionAddress);
  self->context = *pointers->ContextRecord;
  if (SwallowedByDispatcher(pointers) && self->reported != &record) {
    // The system's dispatcher would end the search here and the program would run on:
    // the fault is reported now, as one the program continues after.
    self->reported = &record;
    HandOverSystemException(pointers, 14, true);
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

bool CaptureObject::Is(const std::string& name) const {
  if (className == name) return true;
  for (const std::string& ancestor : ancestors)
    if (ancestor == name) return true;
  return false;
}

bool ModuleIsExecutable(HMODULE module) { return module == GetModuleHandleA(nullptr); }

std::string AccessViolationText(const EXCEPTION_RECORD& record) {
  const uint32_t address = AddressOf(record.ExceptionAddress);
  std::string text = "Access Violation";
  MEMORY_BASIC_INFORMATION info;
  char path[MAX_PATH] = {};
  if (VirtualQuery(record.ExceptionAddress, &info, sizeof info) == sizeof info &&
      info.State == MEM_COMMIT && info.AllocationBase != nullptr &&
      GetModuleFileNameA(static_cast<HMODULE>(info.AllocationBase), path, sizeof path) > 0) {
    std::string file = path;
    size_t slash = file.find_last_of("\\/");
    if (slash != std::string::npos) file.erase(0, slash + 1);
    text = "Access violation at address %p in module '" + file + "'. %s of address %p";
  }
  auto replace = [&](const char* placeholder, const std::string& value) {
    size_t at = text.find(placeholder);
    if (at != std::string::npos) text.replace(at, 2, value);
  };
  replace("%p", Hex(address));
  if (record.NumberParameters >= 2) {
    replace("%s", record.ExceptionInformation[0] == 1 ? "Write" : "Read");
    replace("%p", Hex(static_cast<uint32_t>(record.ExceptionInformation[1])));
  }
  return text;
}

std::string OsExceptionMessage(const EXCEPTION_RECORD& record) {
  switch (record.ExceptionCode) {
    case EXCEPTION_ACCESS_VIOLATION: return AccessViolationText(record);
    case EXCEPTION_INT_DIVIDE_BY_ZERO: return "Division by zero";
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED: return "Range check error";
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_STACK_CHECK: return "Invalid floating point operation";
    case EXCEPTION_FLT_INEXACT_RESULT: return "Floating point inexact result";
    case EXCEPTION_FLT_OVERFLOW: return "Floating point overflow";
    case EXCEPTION_FLT_UNDERFLOW: return "Floating point underflow";
    case EXCEPTION_INT_OVERFLOW: return "Integer overflow";
    case EXCEPTION_PRIV_INSTRUCTION: return "Privileged instruction";
    case 0xC000013A: return "Control-C hit";
    case EXCEPTION_STACK_OVERFLOW: return "Stack overflow";
    default: {
      char text[48];
      std::snprintf(text, sizeof text, "External exception %X",
                    static_cast<unsigned>(record.ExceptionCode));
      return text;
    }
  }
}

bool ThreadRaiseRecord(uint32_t& address, CONTEXT& context) {
  const ThreadRecord* self = RecordOfThisThread(false);
  if (self == nullptr || !self->valid) return false;
  address = self->address;
  context = self->context;
  return true;
}

void ClearThreadRaiseRecord() {
  if (ThreadRecord* self = RecordOfThisThread(false)) self->valid = false;
}

void SetMinimalReportFile(const std::string& path) {
  gNtCreateFile = reinterpret_cast<NtCreateFileFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtCreateFile")));
  wchar_t wide[MAX_PATH];
  wchar_t full[MAX_PATH];
  gMinimalReportPath[0] = 0;
  if (MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH) == 0) return;
  DWORD length = GetFullPathNameW(wide, MAX_PATH, full, nullptr);
  if (length == 0 || length >= MAX_PATH) return;
  const wchar_t prefix[] = L"\\??\\";
  size_t at = 0;
  for (const wchar_t* p = prefix; *p != 0; ++p) gMinimalReportPath[at++] = *p;
  for (DWORD i = 0; i <= length; ++i) gMinimalReportPath[at++] = full[i];
}

uint32_t CheckExceptionAddress(uint32_t address) {
  if (address == 0) return address;
  TMfLookup found;
  if (!LookupAddress(address, found) || found.publicAddress == 0 || found.publicAddress > address)
    return address;
  auto boundary = [&](uint32_t target) {
    uint32_t at = found.publicAddress;
    for (int guard = 0; guard < 100000 && at < target; ++guard) {
      TInstrInfo instr = DecodeInstruction(reinterpret_cast<void*>(static_cast<uintptr_t>(at)));
      if (!instr.isValid || instr.next <= at) return false;
      at = instr.next;
    }
    return at == target;
  };
  if (!boundary(address) && boundary(address + 4)) return address + 4;
  return address;
}

CapturePoints::~CapturePoints() { Remove(); }

bool CapturePoints::Install(HMODULE ownModule, bool processWide) {
  CapturePoints* none = nullptr;
  if (!Running().capturePoints.compare_exchange_strong(none, this)) return false;
  installed_ = true;
  ownModule_ = ownModule;
  processWide_ = processWide;
  previousTerminate_ = std::set_terminate(OnTerminate);
  ReserveCrashArena();
  if (!processWide) return true;
  StopTimerFaultSuppression();
  vectoredRecorder_ = AddVectoredExceptionHandler(1, RecordRaise);
  runtimeFilter_ = SetUnhandledExceptionFilter(OnUnhandled);
  previousAbortSignal_ = signal(SIGABRT, OnAbortSignal);
  if (HMODULE crt = GetModuleHandleA("msvcrt.dll")) {
    using SetInvalid = void* (__cdecl*)(void*);
    if (auto set = reinterpret_cast<SetInvalid>(
            reinterpret_cast<void*>(GetProcAddress(crt, "_set_invalid_parameter_handler"))))
      set(reinterpret_cast<void*>(OnInvalidParameter));
    if (auto set = reinterpret_cast<SetInvalid>(
            reinterpret_cast<void*>(GetProcAddress(crt, "_set_purecall_handler"))))
      set(reinterpret_cast<void*>(OnPureCall));
  }
  RedirectImport("kernel32.dll", "CreateThread", reinterpret_cast<void*>(HookedCreateThread),
                 &realCreateThread_, true, ownModule);
  RedirectImport("kernel32.dll", "QueueUserWorkItem",
                 reinterpret_cast<void*>(HookedQueueUserWorkItem), &realQueueUserWorkItem_, true,
                 ownModule);
  return true;
}

void CapturePoints::Remove() {
  if (!installed_.exchange(false)) return;
  std::set_terminate(previousTerminate_);
  if (processWide_) {
    RestoreImport(reinterpret_cast<void*>(HookedCreateThread), &realCreateThread_, true,
                  ownModule_);
    RestoreImport(reinterpret_cast<void*>(HookedQueueUserWorkItem), &realQueueUserWorkItem_,
                  true, ownModule_);
    signal(SIGABRT, previousAbortSignal_ == SIG_ERR ? SIG_DFL : previousAbortSignal_);
    SetUnhandledExceptionFilter(runtimeFilter_);
    if (vectoredRecorder_ != nullptr) RemoveVectoredExceptionHandler(vectoredRecorder_);
    vectoredRecorder_ = nullptr;
  }
  CapturePoints* self = this;
  Running().capturePoints.compare_exchange_strong(self, nullptr);
}

// ---- the running reporter's capture points ----

void InstallCapturePoints(HMODULE ownModule, bool processWide) {
  if (InstalledPoints() != nullptr) return;
  auto* points = new (std::nothrow) CapturePoints;
  if (points != nullptr && !points->Install(ownModule, processWide)) delete points;
}

void RemoveCapturePoints() {
  CapturePoints* points = InstalledPoints();
  if (points == nullptr) return;
  points->Remove();
  delete points;
}

bool CapturePointsInstalled() { return InstalledPoints() != nullptr; }

}  // namespace qx
