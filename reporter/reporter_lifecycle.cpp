#include "reporter_lifecycle.h"

#include "function_win.h"
#include "settings_open_win.h"

namespace qx {

void ReporterStartup() {
  LinkDisAsm();  // the disassembler's units come first in link order
  SettingsStartup();
}

void ReporterShutdown() { SettingsShutdown(); }

}  // namespace qx
