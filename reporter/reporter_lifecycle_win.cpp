#include "reporter_lifecycle_win.h"

#include "capture_lifecycle_win.h"
#include "delivery_lifecycle_win.h"
#include "function_win.h"
#include "list_plugins_win.h"
#include "map_lookup.h"
#include "pipeline_win.h"
#include "settings_open_win.h"
#include "thread_info_win.h"
#include "thread_sections_win.h"

namespace qx {

// Link order of the reporter's units: the disassembler, the debug-information map, the
// main unit with its settings, the emptied temporary folder and the handling pipeline,
// then the list plug-ins.
// Shut-down runs in reverse.
void ReporterStartup() {
  LinkDisAsm();
  MapFileStartup();
  SettingsStartup();
  DeliveryStartup();
  HandlingStartup();
  ReportStartup();
  ThreadSectionsStartup();
  CaptureStartup(ReporterModule());
}

void ReporterShutdown() {
  CaptureShutdown();
  ThreadSectionsShutdown();
  ReportShutdown();
  HandlingShutdown();
  DeliveryShutdown();
  SettingsShutdown();
  MapFileShutdown();
}

}  // namespace qx
