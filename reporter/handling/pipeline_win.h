// The exception handling pipeline: the hand-over from a capture point, the handler thread
// that turns each hand-over into an exception object and runs the fixed sequence of
// filters, handlers, report, showing and automatic actions, and the ways the program ends.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "clipboard_win.h"
#include "com_ptr_win.h"
#include "sync_win.h"
#include "handling_core.h"
#include "report_interfaces_win.h"

namespace qx {

enum ExceptionKind : uint8_t {
  kTypeException = 0,
  kTypeFreeze = 1,  // also a report made without an exception
  kTypeHandled = 2,  // raised and handled inside a try/except block
};

// One exception as the pipeline passes it on, 56 bytes, written whole into the pipe.
struct HandOverRecord {
  uint32_t event;  // completion event (0 in the stop record)
  uint32_t threadId;
  uint32_t type;
  uint32_t object;
  uint32_t address;
  uint32_t canContinue;
  uint32_t stackPointer;
  uint32_t framePointer;
  uint32_t context;       // const CONTEXT*, may be 0
  uint32_t reportSlot;    // std::string*, may be 0
  uint32_t source;
  uint32_t relatedObject;
  uint32_t package;       // HMODULE
  uint32_t preparedStack; // std::shared_ptr<void>*, may be 0
};
static_assert(sizeof(HandOverRecord) == 56, "the hand-over record is 56 bytes");

// The handler thread with its pipe, the exception history with its lock, and the
// emergency memory reserves, owned by one object. The handling start-up makes the running
// reporter's pipeline (Running().pipeline); a test may make its own. Destroying it stops
// the thread and releases the reserves.
class Pipeline {
 public:
  static constexpr size_t kReserveCount = 8;

  Pipeline() = default;
  ~Pipeline();
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  // Makes the pipe and the handler thread "-" (true at once when it runs already).
  bool Start();
  // Ends the handler thread: the reports being made are aborted, then the stop record (or,
  // inside the loader, closing the pipe) ends its loop; only a thread that has not left
  // its loop within kStopLimitMs is terminated. Closes the pipe.
  void Stop();
  static constexpr DWORD kStopLimitMs = 5000;

  // The reports being made (the handler thread's, and one made on a blocked faulting
  // thread): registered while their exception is processed, so that Stop can abort them.
  void AddCurrentReport(IKVException* exception);
  void RemoveCurrentReport(IKVException* exception);
  // Aborts every registered report: its running trace ends, no further section is made.
  void AbortCurrentReports();
  bool Started() const { return thread_ != nullptr; }
  // The handler thread's id, 0 while none runs.
  DWORD ThreadId() const { return threadId_; }
  // Writes a whole record into the pipe; false when it could not.
  bool Submit(const HandOverRecord& record);

  ExceptionHistory History();
  void SetHistory(const ExceptionHistory& history);
  // Counts an exception at `now` in the history.
  void ShiftHistoryAt(uint64_t now);

  // The emergency reserves: 4 x 4 MB reserved and 4 x 512 KB committed, no access. Both
  // take no lock and allocate nothing but the reserves themselves.
  void ReserveEmergencyMemory();
  void ReleaseEmergencyMemory();
  size_t ReservedBlockCount() const;

 private:
  static DWORD WINAPI ThreadMain(void* self);
  void Run();

  HANDLE pipeRead_ = nullptr;
  HANDLE pipeWrite_ = nullptr;
  HANDLE thread_ = nullptr;
  HANDLE threadLeft_ = nullptr;
  std::atomic<DWORD> threadId_{0};
  static constexpr size_t kCurrentSlots = 4;
  CriticalSection currentLock_;
  IKVException* current_[kCurrentSlots] = {};  // each holds a reference while set
  CriticalSection historyLock_;
  ExceptionHistory history_;
  void* volatile reserves_[kReserveCount] = {};
};

// The one entry from every capture point. Returns when the exception has been handled,
// or at once when it is ignored. Never lets a failure escape.
void HandOverException(uint8_t type, void* object, uint32_t address, std::string* reportSlot,
                       HMODULE package, void* relatedObject, uint8_t source,
                       const CONTEXT* context, uint32_t framePointer, uint32_t stackPointer,
                       bool canContinue);

struct ExceptionRequest {
  uint8_t type = kTypeException;
  void* object = nullptr;
  uint32_t address = 0;
  bool dontCompleteYet = false;
  std::shared_ptr<void>* preparedStack = nullptr;
  HMODULE package = nullptr;
  void* relatedObject = nullptr;
  uint8_t source = 0;
  IKVModuleSettings* settings = nullptr;  // null: the settings of the caller's module
  const CONTEXT* context = nullptr;
  uint32_t framePointer = 0;
  uint32_t stackPointer = 0;
  DWORD crashedThreadId = 0;  // 0: the calling thread
  bool canContinue = true;
};
ComPtr<IKVException> CreateExceptionObject(const ExceptionRequest& request);

// Chooses the filter group (F1, F2, general) by the object's class and its ancestors and
// sets the exception's switches from it.
void ApplyFilters(IKVException* exception, IKVModuleSettings* settings);

// Runs steps 1 to 14 for one record (on the handler thread, or on the faulting thread when
// the process is blocked).
void ProcessException(const HandOverRecord& record);

// True when the loader lock or the process environment lock is held; tested every 10 ms
// while true until `limitMs` has run out.
bool ProcessBlockedTest(DWORD limitMs);

// The exception history of the running pipeline (taken over from a restarted
// predecessor); empty without one.
ExceptionHistory CurrentExceptionHistory();
void SetExceptionHistory(const ExceptionHistory& history);
// `AutoRestart` and `AutoClose` rule against the history and the current time.
bool RepeatRule(uint32_t seconds);
// Whole seconds of UTC since 1601-01-01.
uint64_t HistoryNow();

// The critical report callback of the automatic actions (send, clipboard).
void __stdcall AutoActionsOnComplete(bool complete, const std::string& report,
                                     IKVException* exception);
// The final automatic steps: the complete report for callbacks and phase-4 handlers, the
// automatic save, and (when asked) waiting for a background send.
void FinishAutoActions(IKVException* exception, bool waitForSending);

// Shows the exception as its show mode says (the exception object's show request).
void ShowToUser(IKVException* exception);
bool IsConsoleProgram();

// A new process with this command line takes over the history; this one ends with 2.
[[noreturn]] void RestartProgram();
// Ends the process with exit code 1.
[[noreturn]] void CloseProgram();

// The running pipeline's handler thread, 0 while none runs.
DWORD HandlerThreadId();

// The running pipeline's emergency reserves (nothing without a pipeline): the one set of
// the process, given back before a hand-over and taken again after it.
void ReserveEmergencyMemory();
void ReleaseEmergencyMemory();

// Start-up and shut-down of the pipeline: the running reporter's pipeline and handler
// tables, the restart hand-over, the report hooks, the message window, the handler
// thread, the watchdog (with `CheckFreeze`) and the emergency memory reserves.
void HandlingStartup();
void HandlingShutdown();

}  // namespace qx
