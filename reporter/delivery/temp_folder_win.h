// The reporter's temporary folder: "<user temp>\<program name>.qelExcept\", where
// attachments are written before they are sent.
#pragma once

#include <string>

namespace qx {

// The folder, created when missing, ending in a backslash; empty when the platform gives
// no temporary folder.
std::string ReporterTempFolder();
// Deletes every file in the folder and then the folder itself.
void ClearReporterTempFolder();

}  // namespace qx
