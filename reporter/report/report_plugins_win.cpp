#include "report_plugins_win.h"

#include "field_items.h"
#include "settings_text_lists.h"

namespace qx {

namespace {

std::vector<ReportPlugin>& Registry() {
  static std::vector<ReportPlugin> plugins;
  return plugins;
}

void Append(ReportPlugin plugin) { Registry().push_back(std::move(plugin)); }

std::string NarrowText(const std::wstring& text) {
  if (text.empty()) return {};
  int size = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                 nullptr, nullptr);
  std::string result(size > 0 ? size : 0, '\0');
  if (size > 0)
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), result.data(), size,
                        nullptr, nullptr);
  return result;
}

}  // namespace

void RegisterReportPlugin(const std::string& name, const std::string& description,
                          PluginTextCallback callback, bool ownSection) {
  ReportPlugin plugin{name, description};
  plugin.text = callback;
  plugin.ownSection = ownSection;
  Append(plugin);
}

void RegisterReportPlugin(const std::string& name, const std::string& description,
                          PluginWideTextCallback callback, bool ownSection) {
  ReportPlugin plugin{name, description};
  plugin.wideText = callback;
  plugin.ownSection = ownSection;
  Append(plugin);
}

void RegisterReportPlugin(const std::string& name, const std::string& description,
                          PluginExceptionTextCallback callback, bool ownSection) {
  ReportPlugin plugin{name, description};
  plugin.exceptionText = callback;
  plugin.ownSection = ownSection;
  Append(plugin);
}

void RegisterReportPlugin(const std::string& name, const std::string& description,
                          PluginExceptionWideTextCallback callback, bool ownSection) {
  ReportPlugin plugin{name, description};
  plugin.exceptionWideText = callback;
  plugin.ownSection = ownSection;
  Append(plugin);
}

void UnregisterReportPlugin(const std::string& name) {
  auto& plugins = Registry();
  for (auto it = plugins.begin(); it != plugins.end(); ++it) {
    if (it->name == name) {
      plugins.erase(it);
      return;
    }
  }
}

const std::vector<ReportPlugin>& RegisteredReportPlugins() { return Registry(); }

std::vector<ReportPlugin> PluginsInSettingOrder(const std::string& pluginsSetting) {
  std::vector<ReportPlugin> result;
  if (pluginsSetting.empty()) return result;
  for (const std::string& name : SplitAtBars(pluginsSetting)) {
    for (const ReportPlugin& plugin : Registry()) {
      if (SameTextIgnoringCase(plugin.name, name)) {
        result.push_back(plugin);
        break;
      }
    }
  }
  return result;
}

std::string RunReportPlugin(const ReportPlugin& plugin, IKVException* exception) {
  if (plugin.text != nullptr) return plugin.text();
  if (plugin.wideText != nullptr) return NarrowText(plugin.wideText());
  if (plugin.exceptionText != nullptr) return plugin.exceptionText(exception);
  if (plugin.exceptionWideText != nullptr) return NarrowText(plugin.exceptionWideText(exception));
  return {};
}

}  // namespace qx
