#include "reporter_lifecycle_win.h"

#include "assistant_win.h"
#include "capture_lifecycle_win.h"
#include "delay_load_win.h"
#include "delivery_lifecycle_win.h"
#include "function_win.h"
#include "list_plugins_win.h"
#include "map_lookup.h"
#include "pipeline_win.h"
#include "process_registries.h"
#include "settings_open_win.h"
#include "thread_info_win.h"
#include "thread_sections_win.h"

namespace qx {

// Link order of the reporter's units: the disassembler, the debug-information map, the
// main unit with its settings, the emptied temporary folder and the handling pipeline,
// then the list plug-ins. Shut-down runs in reverse, except that the thread-name block
// stays until the handler thread, whose reports name threads, has stopped.
void ReporterStartup() {
  // Before anything that may reach a delay-loaded library.
  InstallDelayLoadFailureHook();
  LinkDisAsm();
  MapFileStartup();
  SettingsStartup();
  DeliveryStartup();
  AssistantStartup(ReporterModule());
  HandlingStartup();
  ReportStartup();
  ThreadSectionsStartup();
  CaptureStartup(ReporterModule());
}

namespace {

void Step(void (*step)(), const char* name) {
  step();
  if (ShutdownStepHook != nullptr) ShutdownStepHook(name);
}

}  // namespace

void ReporterShutdown() {
  Step(CaptureShutdown, "capture");
  Step(ThreadSectionsShutdown, "thread sections");
  Step(ReportShutdown, "report");
  Step(HandlingShutdown, "handling");
  Step(ThreadNameBlockShutdown, "thread names");
  AssistantShutdown();
  Step(DeliveryShutdown, "delivery");
  Step(SettingsShutdown, "settings");
  Step(MapFileShutdown, "debug information");
}

}  // namespace qx
