// The capture layer: the points where faults of the host program are caught (terminate
// handler, C runtime hooks, the top-level filter, thread start routines, the raise-site
// recorder), installed only when the reporter's module is the executable, and this, its
// part of the reporter's start-up and shut-down.
#pragma once

#include <windows.h>

namespace qx {

// Start-up steps after the main settings were read: the file self-check, the thread-name
// block and main thread, and with Enabled the capture points and the emergency reserves.
void CaptureStartup(HMODULE ownModule);
// Shut-down: patches reverted, capture points removed, the thread-name block and the
// reserves released.
void CaptureShutdown();

// Connects the capture layer and the handling pipeline (both ways), and undoes it.
void LinkCaptureToPipeline();
void UnlinkCaptureFromPipeline();

// When the reporter started (milliseconds of the performance counter; 0 without one).
double ReporterStartTimeMs();

}  // namespace qx
