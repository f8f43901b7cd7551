// Expansion of the %name% placeholders in settings texts.
#pragma once

#include <cstdint>
#include <string>

namespace qx {

struct LocalTime {
  int year, month, day, hour, minute, second, millisecond;
};

// What the placeholders stand for. Each value is asked for only when its placeholder
// occurs in the text.
class PlaceholderSource {
 public:
  virtual ~PlaceholderSource() = default;
  virtual std::string AppName() = 0;      // file name of the process's executable
  virtual std::string ModuleName() = 0;   // file name of the settings' module
  virtual std::string AppVersion() = 0;   // see VersionText
  virtual std::string ModuleVersion() = 0;
  virtual LocalTime Now() = 0;
  virtual std::string ComputerName() = 0;
  virtual std::string UserAppData() = 0;  // without trailing backslash
  virtual std::string CommonAppData() = 0;
};

// The exception texts put in for %exceptClass%, %exceptMsg% and %bugReport%.
struct ExceptionTexts {
  std::string exceptionClass;
  std::string message;  // empty becomes "Unknown"
  std::string report;
};

// Replaces every placeholder, letter case ignored, in a fixed order: %appname%, %modname%,
// %appversion%, %modversion%, the exception texts (only when `exception` is given; otherwise
// those three stay as they are), %LF%, %date%, %time%, %datetime% (one clock reading),
// %computerName%, %userappdata%, %commonappdata%. Unknown %names% stay as they are.
std::string ExpandPlaceholders(std::string text, PlaceholderSource& source,
                               const ExceptionTexts* exception = nullptr);

// The text of a file version: four 16-bit parts, most significant first, joined by ".";
// "?" for version 0.
std::string FileVersionText(uint64_t version);

// Replaces every occurrence of `pattern` (letter case ignored, ASCII) by `value`; the
// inserted text is not searched again. Returns whether anything was replaced.
bool ReplaceIgnoringCase(std::string& text, const std::string& pattern, const std::string& value);

}  // namespace qx
