#include "settings_text_lists.h"

namespace qx {

std::vector<std::string> SplitAtBars(const std::string& text) {
  std::vector<std::string> items;
  if (text.empty()) return items;
  size_t start = 0;
  for (;;) {
    size_t bar = text.find('|', start);
    items.push_back(text.substr(start, bar == std::string::npos ? std::string::npos
                                                                : bar - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  return items;
}

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

std::vector<std::pair<std::string, std::string>> SplitFieldItems(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> fields;
  for (const std::string& item : SplitAtBars(text)) {
    size_t equals = item.find('=');
    if (equals == std::string::npos)
      fields.emplace_back(item, std::string());
    else
      fields.emplace_back(item.substr(0, equals), item.substr(equals + 1));
  }
  return fields;
}

std::vector<std::array<std::string, 4>> SplitAttachmentItems(const std::string& text) {
  std::vector<std::array<std::string, 4>> attachments;
  for (const std::string& item : SplitAtBars(text)) {
    std::array<std::string, 4> parts;
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
      size_t gt = i < 3 ? item.find('>', start) : std::string::npos;
      parts[i] = item.substr(start, gt == std::string::npos ? std::string::npos : gt - start);
      if (gt == std::string::npos) break;
      start = gt + 1;
    }
    attachments.push_back(parts);
  }
  return attachments;
}

bool PluginListContains(const std::string& list, const std::string& name) {
  for (const std::string& item : SplitAtBars(list))
    if (EqualIgnoringCase(item, name)) return true;
  return false;
}

std::string PluginListSwitched(const std::string& list, const std::string& name, bool on) {
  if (PluginListContains(list, name) == on) return list;
  if (on) return list.empty() ? name : list + "|" + name;
  std::string kept;
  bool first = true;
  for (const std::string& item : SplitAtBars(list)) {
    if (EqualIgnoringCase(item, name)) continue;
    if (!first) kept += '|';
    kept += item;
    first = false;
  }
  return kept;
}

}  // namespace qx
