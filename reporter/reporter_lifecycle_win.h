// Start-up and shut-down of the reporter's units, run from the module's entry point
// before the SQL function units start and after they stop.
#pragma once

namespace qx {

void ReporterStartup();
void ReporterShutdown();

}  // namespace qx
