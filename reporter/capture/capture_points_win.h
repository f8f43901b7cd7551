// The capture points of the reporter in this C++ runtime. Each one ends in one call of the
// hand-over with a source code and what the point knows:
//   source  2  std::terminate (set_terminate): a BcbTermination "Abnormal program
//              termination", cannot continue; installed always (the C++ runtime is
//              linked into this module, so the handler is the module's own)
//   source 11  the C runtime's fatal paths (abort signal, invalid parameter, pure call):
//              a QelException "Runtime error", cannot continue; executable only
//   source 13/14  the runtime's outermost handler, i.e. the top-level filter the C runtime
//              installs at its start: operating-system exceptions become a QelException with
//              the mapped message; can continue unless on the main thread; executable only
//   source 16  an exception frame around the start routine of every thread created through
//              CreateThread or QueueUserWorkItem, redirected in every loaded module, with the
//              thread's creator recorded; executable only
// plus a vectored handler that only records the raise site (address and processor context)
// of every exception per thread, and the thread names of exception 406D1388h; executable
// only. Inside a database server (a module that is not the executable) nothing is hooked
// process-wide: a fault in an SQL function reaches the server unseen.
// The window framework's application object, CGI, ISAPI, packages and synchronised calls
// have no counterpart in this runtime; their sources are not produced.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "process_registries.h"
#include "stack_trace.h"

namespace qx {

// An exception object the capture layer creates: its class name and the names of its
// ancestors, nearest first.
struct CaptureObject {
  std::string className;
  std::vector<std::string> ancestors;
  std::string message;
  bool Is(const std::string& name) const;
};

struct CaptureRecord {
  uint8_t type = 0;  // 0 exception
  uint8_t source = 0;
  const CaptureObject* object = nullptr;
  uint32_t address = 0;
  const CONTEXT* context = nullptr;
  uint32_t framePointer = 0;
  uint32_t stackPointer = 0;
  bool canContinue = true;
  DWORD threadId = 0;
  std::shared_ptr<TDAPreStackItem> preparedStack;  // taken at capture
};

// Where every capture point goes is CaptureHandOver (process_registries.h).

// The capture points of one installation and what they replaced, owned by one object.
// The points are process-wide hooks, so one object at a time holds them: Install makes it
// the running reporter's capture points (Running().capturePoints), which the hooks, filters
// and thread start routines reach, as they have no context parameter of their own.
// Destroying the object removes the points. The emergency memory reserves belong to the
// pipeline, which releases them around every hand-over.
class CapturePoints {
 public:
  CapturePoints() = default;
  ~CapturePoints();
  CapturePoints(const CapturePoints&) = delete;
  CapturePoints& operator=(const CapturePoints&) = delete;

  // Installs the points; processWide only when this module is the executable. False when
  // another object holds them (or this one does already).
  bool Install(HMODULE ownModule, bool processWide);
  void Remove();
  bool Installed() const { return installed_; }

  // What the hooks call through to.
  void* RealCreateThread() const { return realCreateThread_; }
  void* RealQueueUserWorkItem() const { return realQueueUserWorkItem_; }
  std::terminate_handler PreviousTerminate() const { return previousTerminate_; }
  LPTOP_LEVEL_EXCEPTION_FILTER RuntimeFilter() const { return runtimeFilter_; }

 private:
  std::atomic<bool> installed_{false};
  bool processWide_ = false;
  HMODULE ownModule_ = nullptr;
  std::terminate_handler previousTerminate_ = nullptr;
  LPTOP_LEVEL_EXCEPTION_FILTER runtimeFilter_ = nullptr;
  void* vectoredRecorder_ = nullptr;
  void* realCreateThread_ = nullptr;
  void* realQueueUserWorkItem_ = nullptr;
  void (*previousAbortSignal_)(int) = nullptr;
};

// The running reporter's capture points: Install makes the object (nothing when one is
// installed), Remove removes and destroys it.
void InstallCapturePoints(HMODULE ownModule, bool processWide);
void RemoveCapturePoints();
bool CapturePointsInstalled();

bool ModuleIsExecutable(HMODULE module);

// The message of an operating-system exception without a runtime object.
std::string OsExceptionMessage(const EXCEPTION_RECORD& record);
// "Access violation at address $.. in module '..'. Read of address $.." or "Access Violation".
std::string AccessViolationText(const EXCEPTION_RECORD& record);

// The calling thread's last recorded raise: address and processor context.
bool ThreadRaiseRecord(uint32_t& address, CONTEXT& context);
void ClearThreadRaiseRecord();

// The file a minimal report goes to when the reporter faults while it reports (written
// without the heap); set at start-up, while the heap can still be used.
void SetMinimalReportFile(const std::string& path);

// The address check: moved 4 bytes up when it is no instruction start of its function but
// the address 4 bytes further is.
uint32_t CheckExceptionAddress(uint32_t address);

}  // namespace qx
