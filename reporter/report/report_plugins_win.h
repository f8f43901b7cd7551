// The process-wide list of report plug-ins. It has no lock: it is changed only while the
// module starts up and shuts down.
#pragma once

#include <string>
#include <vector>

#include "report_interfaces_win.h"

namespace qx {

void RegisterReportPlugin(const std::string& name, const std::string& description,
                          PluginTextCallback callback, bool ownSection);
void RegisterReportPlugin(const std::string& name, const std::string& description,
                          PluginWideTextCallback callback, bool ownSection);
void RegisterReportPlugin(const std::string& name, const std::string& description,
                          PluginExceptionTextCallback callback, bool ownSection);
void RegisterReportPlugin(const std::string& name, const std::string& description,
                          PluginExceptionWideTextCallback callback, bool ownSection);
// Removes the first plug-in whose name equals `name` exactly.
void UnregisterReportPlugin(const std::string& name);

const std::vector<ReportPlugin>& RegisteredReportPlugins();

// For each name of a "Plugins" setting, the first registered plug-in of that name (letter
// case ignored); names without a plug-in are skipped.
std::vector<ReportPlugin> PluginsInSettingOrder(const std::string& pluginsSetting);

// Runs the first set callback; wide text is converted to 8-bit text. May throw.
std::string RunReportPlugin(const ReportPlugin& plugin, IKVException* exception);

}  // namespace qx
