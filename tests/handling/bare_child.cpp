// A program with the reporter but without settings. Exit code 0 when start-up left no main
// settings behind, 1 when it kept them.
#include "reporter_lifecycle_win.h"
#include "settings_open_win.h"

int main() {
  qx::ReporterStartup();
  const bool kept = static_cast<bool>(qx::MainSettings());
  qx::ReporterShutdown();
  return kept ? 1 : 0;
}
