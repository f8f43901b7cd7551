// Every process-wide registry of the reporter, in one place.
//
// The reporter's components are separate libraries that must not depend on each other in
// both directions: the decoder knows nothing of the debug-information map, the exception
// object nothing of the handling pipeline, the pipeline nothing of the capture layer. Where
// a lower component needs a service of a higher one, the higher one installs a function
// pointer here at start-up and removes it at shut-down. Every entry is optional: the
// caller checks it for null and does without.
//
// Besides these, the reporter keeps the objects of its running instance (pipeline,
// handler tables, watchdog, capture points) behind the pointers of RunningReporter, so
// that callbacks without a context parameter (hooks, exception filters) reach them.
//
// Each entry says who installs it, who calls it, and what happens while it is missing.
// The entries are plain data, constant-initialised: reading them takes no lock and no
// heap, so the crash path may use them.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace qx {

// ---- the decoder (portable) ---------------------------------------------------------------

// Gives the unit-qualified name ("Unit.Function") of the function that starts exactly at
// the address. Returns false, leaving the name untouched, when no function starts there.
using TMapProcNameHook = bool (*)(uint32_t address, std::string& name);

// Gives the source line that holds the code at the address. On entry, line, rangeBegin and
// rangeEnd hold the answer of the previous call (all 0 on the first), so that the hook may
// return at once while the address still lies in [rangeBegin, rangeEnd). On return, line is
// the line number (0 when unknown) and [rangeBegin, rangeEnd) the addresses for which that
// line number still holds (an empty range when unknown).
using TMapLineHook = void (*)(uint32_t address, uint32_t& line, uint32_t& rangeBegin,
                              uint32_t& rangeEnd);

// Installed by the debug-information map's start-up (MapFileStartup), removed by its
// shut-down. Called by the decoder and the function listing for names and line numbers.
// Missing: listings carry no names or lines from debug information.
inline TMapProcNameHook MapProcNameHook = nullptr;
inline TMapLineHook MapLineHook = nullptr;

// The entry of a routine named in the module's debug information, as an assistant form's
// handler: `name` is "unit.routine" (the unit without its source extension, or with it) or
// the routine alone; the module is the one at `moduleBase`. The entry counts only when the
// routine's code parses and none of its returns removes arguments from the stack (a form
// handler leaves its four arguments to the caller). 0 otherwise. Installed by the map's
// start-up (MapFileStartup), removed by its shut-down. Called when an assistant is built
// from forms whose OnAction names no built-in handler. Missing: such a form has no handler.
using TMapHandlerRoutineHook = uint32_t (*)(uintptr_t moduleBase, const std::string& name);
inline TMapHandlerRoutineHook MapHandlerRoutineHook = nullptr;

struct TFunctionInfo;
// The listing of the function at `entry` with `marked` pointed at. Installed by LinkDisAsm
// (the reporter's start-up, Windows build). Called by the "disassembling" section.
// Missing: the report says the disassembler is not linked and has no listing.
using TDisAsmHook = std::string (*)(uint32_t entry, uint32_t marked, bool formatted,
                                    int lineLimit, TFunctionInfo* info);
inline TDisAsmHook DisAsmHook = nullptr;

}  // namespace qx

#if defined(_WIN32)
// The Windows types of the entries, declared as the system headers declare them, so that
// the portable units that include this header do not take in <windows.h>, whose near and
// far macros they would not survive.
typedef void* HANDLE;
typedef unsigned long DWORD;
struct HWND__;
typedef HWND__* HWND;
struct _CONTEXT;
typedef _CONTEXT CONTEXT;
struct IUnknown;

namespace qx {

struct IKVException;
using IScreenshot = IUnknown;
class ReportSectionProducer;
struct CaptureRecord;
class Pipeline;
class HandlerTables;
class Watchdog;
class CapturePoints;

// ---- what the exception object takes from the rest of the reporter -----------------------

// Every entry is installed and removed by the component named beside it; without it a
// report has the sections and behaviour that exist.
struct ReportHooks {
  // Thread sections (ThreadSectionsStartup). Called once per exception as its sections are
  // built. Missing: a report without thread, register, stack and disassembly sections.
  std::unique_ptr<ReportSectionProducer> (*makeSectionProducer)(IKVException* exception) = nullptr;
  // Handling pipeline (HandlingStartup). True when the loader lock or the process
  // environment lock stays held for `limitMs`. Missing: never blocked.
  bool (*processBlocked)(DWORD limitMs) = nullptr;
  // Handling pipeline. The class name and message of a raised object. Missing: the
  // exception object names no class and no message of its own.
  void (*describeObject)(void* object, std::string& className, std::string& message) = nullptr;
  // Handling pipeline. The report of an exception in phase 3 is complete: it moved to 4,
  // handlers are told. Missing: phase-4 handlers are not told.
  void (*reportCompleted)(IKVException* exception) = nullptr;
  // Delivery (the screenshot). Missing: no screenshot.
  IScreenshot* (*takeScreenshot)(IKVException* exception, bool applicationOnly) = nullptr;
  // Handling pipeline. Action handlers; true when one handled the action. Missing: no
  // action is handled by a handler.
  bool (*fireActionHandlers)(int32_t action, IKVException* exception, HWND parent) = nullptr;
  // Handling pipeline. Carries out an action (show, send, print, continue, restart,
  // close). Missing: the action does nothing and reports false.
  bool (*runAction)(int32_t action, IKVException* exception, HWND parent) = nullptr;
  // Handling pipeline. Shows the exception. Missing: nothing is shown.
  void (*show)(IKVException* exception) = nullptr;
  // Handling pipeline. Lets the main thread run while the pause holds it (`lend` true;
  // true when it was held) and holds it again (`lend` false). Called by delivery around
  // the desktop mail hand-off, whose mail program may need the program's main thread.
  // Missing: the main thread is never held.
  bool (*lendMainThread)(bool lend) = nullptr;
  // Stack walker (StackTraceStartup). The internal-error text for a failing step.
  // Missing: ">> internal error in " and the step's name.
  std::string (*internalErrorText)(const char* step) = nullptr;
};

// Called by the exception object, the report file and the thread sections.
inline ReportHooks& Hooks() {
  static constinit ReportHooks hooks;
  return hooks;
}

// ---- what the handling pipeline takes from the capture layer and delivery -----------------

// Installed by the capture layer (LinkCaptureToPipeline, from CaptureStartup) unless noted;
// called by the pipeline, the handler tables and the watchdog.
struct HandlingLinks {
  // Delivery. Empties the reporter's temporary folder. Missing: the folder is left.
  void (*clearTempFolder)() = nullptr;
  // The exception address check: the address, moved to the next instruction start where
  // the capture point reported the return address of a call. Missing: addresses are
  // taken as given.
  uint32_t (*checkExceptionAddress)(void* object, uint32_t address) = nullptr;
  // The calling thread's exception record of the runtime hooks: the object being raised,
  // its address and (when `hasContext`) the processor context saved at the raise.
  // Missing: only the C++ runtime's current exception completes a hand-over.
  bool (*threadExceptionRecord)(void*& object, uint32_t& address, CONTEXT& context,
                                bool& hasContext) = nullptr;
  void (*clearThreadExceptionRecord)() = nullptr;
  // The mutex that only one watchdog of the process holds. Missing: a named mutex of the
  // watchdog's own.
  HANDLE (*watchdogMutex)() = nullptr;
  // The recorded creator address of a thread (0 when unknown). Missing: no thread counts
  // as started by reporter code, so pausing spares all but the main thread.
  uint32_t (*threadCreatorAddress)(DWORD threadId) = nullptr;
  // Delivery. Sends the report of the exception with the screenshot (may be null), owned
  // by `parent`; `hidden` for an automatic send without user interface. An earlier send
  // thread's handle is closed, a new one goes into the exception. Returns 1 sent or sending
  // in the background, 2 cancelled by the user, 0 failed. Missing: automatic and
  // asked-for sending do nothing.
  uint8_t (*sendReport)(IKVException* exception, IScreenshot* screenshot, HWND parent,
                        bool hidden) = nullptr;
  // Benchmarks. Told as the handler thread begins with a record. Missing: nobody is told.
  void (*processExceptionStarted)() = nullptr;
};

inline HandlingLinks& PipelineLinks() {
  static constinit HandlingLinks links;
  return links;
}

// ---- what the assistant forms take from delivery ----------------------------------------------

// Installed by delivery's start-up (DeliveryStartup), removed by its shut-down; called by the
// screenshot form's handler. Missing: a click on the screenshot only beeps, and an edited
// screenshot file is not read back.
struct AssistantLinks {
  // The reporter's temporary folder, ending in a backslash (empty when there is none).
  std::string (*tempFolder)() = nullptr;
  // A bitmap object read from a BMP file (a new reference), or null.
  IScreenshot* (*loadBitmapFile)(const std::string& fileName) = nullptr;
};

inline AssistantLinks& FormLinks() {
  static constinit AssistantLinks links;
  return links;
}

// ---- what the thread sections take from the capture layer and the pipeline ----------------

// Installed by the capture layer (LinkCaptureToPipeline); called by the thread sections.
// Whether the exception object's class or an ancestor has the name. Missing: only the
// class name itself is compared.
inline bool (*ExceptionClassIsHook)(IKVException* exception, const char* className) = nullptr;
// True while qelTraceProcess builds its report: the reporter's own threads are listed.
// Missing: never running.
inline bool (*TraceProcessRunningHook)() = nullptr;
// Names the pipeline gave its own threads, asked when a thread's record has no name.
// Missing: such threads stay unnamed.
inline std::string (*ThreadNameHook)(DWORD threadId) = nullptr;

// ---- the exception being handled ------------------------------------------------------------

// Written by the handling pipeline for as long as it works on an exception (0 when none or
// for a report without exception); read by the stack walker's internal-error texts, which
// then name where the handled exception happened. Missing pipeline: always 0.
inline std::atomic<uint32_t> HandledExceptionAddress{0};

// ---- where the capture points go -----------------------------------------------------------

// Installed by the capture layer's link to the pipeline (LinkCaptureToPipeline), or by a
// test that wants the records itself; called by every capture point (terminate handler,
// runtime error handlers, top-level filter, thread frames). Missing: nothing is reported.
using TCaptureHandOver = void (*)(const CaptureRecord& record);
inline TCaptureHandOver CaptureHandOver = nullptr;

// ---- whether a window can be seen --------------------------------------------------------

// The desktop the process runs on: whether its window station is visible, and whether its
// session is one a user can log on to.
struct DesktopFacts {
  bool stationVisible = true;
  bool interactiveSession = true;
};
// A stand-in for the system's answer, installed by a test that plays a service. Called by
// QueryDesktopFacts before the reporter opens a window. Missing: the system is asked.
inline DesktopFacts (*DesktopFactsQuery)() = nullptr;

// ---- bounds on waits for the reporter ------------------------------------------------------

// Steps of the reports being made (a phase begun, a thread traced, a section done), counted
// through NoteReporterProgress; a thread waiting for the reporter waits on while this moves.
inline std::atomic<uint32_t> ReporterProgressCount{0};
// Reporter windows open on a desktop somebody sees, waiting for a person (PersonWaitScope).
inline std::atomic<int32_t> WindowsWaitingForPerson{0};
// A short bound set by a test: every wait's quiet limit is this many milliseconds and its
// total limit twice that. Missing (0): the bounds as named in wait_bound_win.h.
inline std::atomic<unsigned long> WaitBoundStandInMs{0};

// ---- shut-down -------------------------------------------------------------------------------

// Told the name of each shut-down step of the reporter as it ends ("capture", "thread
// sections", "report", "handling", "thread names", "settings", "debug information").
// Installed by a test that checks the order; missing: nobody is told.
inline void (*ShutdownStepHook)(const char* step) = nullptr;

// ---- the running reporter's objects ----------------------------------------------------------

// Set by the component's start-up when it has made its object, cleared by its shut-down
// before the object goes. Read by the free functions that stand for the running reporter
// and by callbacks that have no context parameter: the pause hook (handler tables), the
// capture points' exception filters and thread start routines, HandOverException.
// Null: that component is not running, and its free functions do nothing.
struct RunningReporter {
  std::atomic<Pipeline*> pipeline{nullptr};
  std::atomic<HandlerTables*> handlerTables{nullptr};
  std::atomic<Watchdog*> watchdog{nullptr};
  std::atomic<CapturePoints*> capturePoints{nullptr};
};

inline RunningReporter& Running() {
  static constinit RunningReporter running;
  return running;
}

}  // namespace qx
#endif
