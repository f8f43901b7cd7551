#include "placeholders.h"

#include <cstdio>

namespace qx {

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

size_t FindIgnoringCase(const std::string& text, const std::string& pattern, size_t from) {
  if (pattern.empty() || text.size() < pattern.size()) return std::string::npos;
  for (size_t i = from; i + pattern.size() <= text.size(); ++i) {
    size_t k = 0;
    while (k < pattern.size() && Lower(text[i + k]) == Lower(pattern[k])) ++k;
    if (k == pattern.size()) return i;
  }
  return std::string::npos;
}

bool Contains(const std::string& text, const std::string& pattern) {
  return FindIgnoringCase(text, pattern, 0) != std::string::npos;
}

std::string TwoDigits(int value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%02d", value);
  return buffer;
}

}  // namespace

bool ReplaceIgnoringCase(std::string& text, const std::string& pattern,
                         const std::string& value) {
  bool replaced = false;
  size_t at = FindIgnoringCase(text, pattern, 0);
  while (at != std::string::npos) {
    text.replace(at, pattern.size(), value);
    replaced = true;
    at = FindIgnoringCase(text, pattern, at + value.size());
  }
  return replaced;
}

std::string FileVersionText(uint64_t version) {
  if (version == 0) return "?";
  std::string text;
  for (int part = 3; part >= 0; --part) {
    if (!text.empty()) text += '.';
    text += std::to_string((version >> (16 * part)) & 0xFFFF);
  }
  return text;
}

std::string ExpandPlaceholders(std::string text, PlaceholderSource& source,
                               const ExceptionTexts* exception) {
  if (text.find('%') == std::string::npos) return text;
  if (Contains(text, "%appname%")) ReplaceIgnoringCase(text, "%appname%", source.AppName());
  if (Contains(text, "%modname%")) ReplaceIgnoringCase(text, "%modname%", source.ModuleName());
  if (Contains(text, "%appversion%"))
    ReplaceIgnoringCase(text, "%appversion%", source.AppVersion());
  if (Contains(text, "%modversion%"))
    ReplaceIgnoringCase(text, "%modversion%", source.ModuleVersion());
  if (exception != nullptr) {
    ReplaceIgnoringCase(text, "%exceptClass%", exception->exceptionClass);
    ReplaceIgnoringCase(text, "%exceptMsg%",
                        exception->message.empty() ? "Unknown" : exception->message);
    ReplaceIgnoringCase(text, "%bugReport%", exception->report);
  }
  ReplaceIgnoringCase(text, "%LF%", "\r\n");
  if (Contains(text, "%date%") || Contains(text, "%time%") || Contains(text, "%datetime%")) {
    LocalTime now = source.Now();
    std::string date = std::to_string(now.year);
    while (date.size() < 4) date.insert(date.begin(), '0');
    date += "-" + TwoDigits(now.month) + "-" + TwoDigits(now.day);
    std::string time = TwoDigits(now.hour) + ":" + TwoDigits(now.minute) + ":" +
                       TwoDigits(now.second) + ", " + std::to_string(now.millisecond) + "ms";
    ReplaceIgnoringCase(text, "%date%", date);
    ReplaceIgnoringCase(text, "%time%", time);
    ReplaceIgnoringCase(text, "%datetime%", date + ", " + time);
  }
  if (Contains(text, "%computerName%"))
    ReplaceIgnoringCase(text, "%computerName%", source.ComputerName());
  if (Contains(text, "%userappdata%") || Contains(text, "%commonappdata%")) {
    ReplaceIgnoringCase(text, "%userappdata%", source.UserAppData());
    ReplaceIgnoringCase(text, "%commonappdata%", source.CommonAppData());
  }
  return text;
}

}  // namespace qx
