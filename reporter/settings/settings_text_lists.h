// The lists kept in settings texts: extra fields, extra attachments and report plug-ins.
#pragma once

#include <array>
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

std::vector<std::string> SplitAtBars(const std::string& text);
bool EqualIgnoringCase(const std::string& a, const std::string& b);

}  // namespace qx
