// The module, process and hardware sections, and the start-up and shut-down of the report
// units: the program start time, the settings objects' lists and the three list plug-ins.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "list_texts.h"

namespace qx {

std::string ModuleListText();
std::string ProcessListText();
std::string HardwareListText();

// The entries of the system's process records (information class 5) in `data`; a record
// without an image name is the idle process.
std::vector<ProcessEntry> ParseProcessRecords(const char* data, size_t size);

// Installs the field and attachment lists of settings objects, registers "modules",
// "processes" and "hardware" once and takes the program start time.
void ReportStartup();
// Unregisters the three plug-ins and takes the settings objects' lists back.
void ReportShutdown();

}  // namespace qx
