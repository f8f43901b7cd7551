#include "capture_points_win.h"

#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

#include "decoder_win.h"
#include "function_win.h"
#include "map_lookup.h"
#include "patch_primitives_win.h"
#include "pipeline_win.h"
#include "stack_trace_win.h"
#include "thread_info_win.h"

namespace qx {

namespace {

constexpr DWORD kThreadNamingException = 0x406D1388;

uint32_t AddressOf(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

// The hooks below have no context parameter: they reach the object that installed them.
CapturePoints* InstalledPoints() { return Running().capturePoints; }

struct RaiseRecord {
  bool valid = false;
  uint32_t address = 0;
  CONTEXT context{};
  const EXCEPTION_RECORD* reported = nullptr;  // already handed over by a thread frame
};
thread_local RaiseRecord tRaise;
// The faulting thread a helper thread hands over for (0: the calling thread).
thread_local DWORD tFaultingThread = 0;

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
  record.threadId = tFaultingThread != 0 ? tFaultingThread : GetCurrentThreadId();
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
  CaptureObject object = OsExceptionObject(record);
  HandOver(source, object, CheckExceptionAddress(AddressOf(record.ExceptionAddress)),
           pointers->ContextRecord, canContinue);
}

DWORD WINAPI DeferredHandOverThread(void* parameter) {
  auto* deferred = static_cast<DeferredHandOver*>(parameter);
  tFaultingThread = deferred->threadId;
  NameThreadInfo(GetCurrentThreadId(), "-");
  HandOverSystemException(deferred->pointers, deferred->source, deferred->canContinue);
  return 0;
}

// An overflowed stack has no room for the hand-over: it runs on a thread of its own while
// the faulting thread waits, as the thread it reports.
bool HandOverOnHelperThread(EXCEPTION_POINTERS* pointers, uint8_t source, bool canContinue);

LONG WINAPI OnUnhandled(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
  if (tRaise.reported != &record && record.ExceptionCode != kThreadNamingException) {
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
  WaitForSingleObject(thread, INFINITE);
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
  if (tRaise.reported != record) {
    tRaise.reported = record;
    CaptureObject object = OsExceptionObject(*record);
    HandOver(16, object, CheckExceptionAddress(AddressOf(record->ExceptionAddress)), context,
             true);
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

// --- recording -------------------------------------------------------------------------

LONG CALLBACK RecordRaise(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
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
  tRaise.valid = true;
  tRaise.address = AddressOf(record.ExceptionAddress);
  tRaise.context = *pointers->ContextRecord;
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
  if (!tRaise.valid) return false;
  address = tRaise.address;
  context = tRaise.context;
  return true;
}

void ClearThreadRaiseRecord() { tRaise.valid = false; }

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
  if (!processWide) return true;
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
