// The lists kept in settings texts: extra fields, extra attachments and report plug-ins.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qx {

// "a=1|b=2" -> {a,1},{b,2}; an item without "=" has an empty value.
std::vector<std::pair<std::string, std::string>> SplitFieldItems(const std::string& text);

// Items separated by "|", each of four parts separated by ">" (missing parts are empty,
// a fifth and later ">" stay in the fourth part).
std::vector<std::array<std::string, 4>> SplitAttachmentItems(const std::string& text);

// Whether `name` is a whole "|"-separated item of `list`, letter case ignored.
bool PluginListContains(const std::string& list, const std::string& name);

// The list with `name` switched on (appended) or off (every occurrence removed); unchanged
// when it already is in that state.
std::string PluginListSwitched(const std::string& list, const std::string& name, bool on);

// An assistant as its "AssistantN" setting defines it: name|title|form|form...
struct AssistantDefinition {
  std::string name;
  std::string title;
  std::vector<std::string> forms;
};

// Reads "Assistant1", "Assistant2", ... through `readAssistant` (given the number) up to the
// first empty one and returns the first whose name equals `name`, letter case ignored.
// Without a screenshot to offer, the form "ScrShotForm" is left out.
template <class ReadAssistant>
std::optional<AssistantDefinition> FindAssistantDefinition(ReadAssistant&& readAssistant,
                                                           const std::string& name,
                                                           bool screenshotAvailable);

std::vector<std::string> SplitAtBars(const std::string& text);
bool EqualIgnoringCase(const std::string& a, const std::string& b);

template <class ReadAssistant>
std::optional<AssistantDefinition> FindAssistantDefinition(ReadAssistant&& readAssistant,
                                                           const std::string& name,
                                                           bool screenshotAvailable) {
  for (int i = 1;; ++i) {
    std::string text = readAssistant(i);
    if (text.empty()) return std::nullopt;
    std::vector<std::string> items = SplitAtBars(text);
    if (!EqualIgnoringCase(items[0], name)) continue;
    AssistantDefinition definition{items[0], items.size() > 1 ? items[1] : std::string(), {}};
    for (size_t k = 2; k < items.size(); ++k)
      if (screenshotAvailable || !EqualIgnoringCase(items[k], "ScrShotForm"))
        definition.forms.push_back(items[k]);
    return definition;
  }
}

}  // namespace qx
