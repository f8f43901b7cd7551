// Whether anybody can see a window that the reporter opens in this process.
//
// A database server usually runs as a service: its window station is not visible, or it
// runs in the session that has no user at all. A message box, progress window or any other
// window opened there waits for a click that never comes, and the server thread that
// opened it hangs for good. The reporter asks here before it opens any window.
#pragma once

#include "process_registries.h"

namespace qx {

// What the system says about the process's desktop (or the stand-in installed in
// DesktopFactsQuery, when there is one).
DesktopFacts QueryDesktopFacts();

// Windows can be seen when the window station is visible and, for a reporter living in a
// module that some host loaded, the host runs in an interactive session.
bool WindowsCanBeSeen(const DesktopFacts& facts, bool reporterIsExecutable);
bool WindowsCanBeSeen(bool reporterIsExecutable);

}  // namespace qx
