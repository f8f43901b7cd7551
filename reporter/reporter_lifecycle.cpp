#include "reporter_lifecycle.h"

#include "settings_open_win.h"

namespace qx {

void ReporterStartup() { SettingsStartup(); }

void ReporterShutdown() { SettingsShutdown(); }

}  // namespace qx
