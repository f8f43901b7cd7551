// The module, process and hardware sections, and the start-up and shut-down of the report
// units: the program start time and the three list plug-ins.
#pragma once

#include <string>

namespace qx {

std::string ModuleListText();
std::string ProcessListText();
std::string HardwareListText();

// Registers "modules", "processes" and "hardware" once and takes the program start time.
void ReportStartup();
// Unregisters the three plug-ins.
void ReportShutdown();

}  // namespace qx
