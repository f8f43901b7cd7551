// The capture layer: the points where faults of the host program are caught (terminate
// handler, C runtime hooks, the top-level filter, thread start routines, the raise-site
// recorder), installed only when the reporter's module is the executable, and this, its
// part of the reporter's start-up and shut-down.
#pragma once

#include <windows.h>

namespace qx {

// Start-up steps after the main settings were read: the file self-check, the thread-name
// block and main thread, and with Enabled the capture points and the emergency reserves.
// Without valid settings only the main thread is determined and the main settings are
// released.
void CaptureStartup(HMODULE ownModule);
// Shut-down: patches reverted, capture points removed, the reserves released.
void CaptureShutdown();
// Closes this copy's use of the thread-name block; after the handler thread stopped, which
// names threads in its reports.
void ThreadNameBlockShutdown();

// Connects the capture layer and the handling pipeline (both ways), and undoes it.
void LinkCaptureToPipeline();
void UnlinkCaptureFromPipeline();

// When the reporter started (milliseconds of the performance counter; 0 without one).
double ReporterStartTimeMs();

}  // namespace qx
