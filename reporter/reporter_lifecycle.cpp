#include "reporter_lifecycle.h"

#include "function_win.h"
#include "list_plugins_win.h"
#include "settings_open_win.h"

namespace qx {

// Link order of the reporter's units: the disassembler, the main unit with its settings,
// then the list plug-ins. Shut-down runs in reverse.
void ReporterStartup() {
  LinkDisAsm();
  SettingsStartup();
  ReportStartup();
}

void ReporterShutdown() {
  ReportShutdown();
  SettingsShutdown();
}

}  // namespace qx
