#include "reporter_lifecycle.h"

#include "list_plugins_win.h"
#include "pipeline_win.h"
#include "settings_open_win.h"

namespace qx {

void ReporterStartup() {
  SettingsStartup();
  HandlingStartup();
  ReportStartup();
}

void ReporterShutdown() {
  ReportShutdown();
  HandlingShutdown();
  SettingsShutdown();
}

}  // namespace qx
