#include "machine_texts.h"

#include <cctype>
#include <cstdio>

namespace qx {

namespace {

void AppendUnit(std::string& text, int64_t value, const char* label) {
  if (value == 0) return;
  text += std::to_string(value) + " " + label + (value == 1 ? " " : "s ");
}

}  // namespace

std::string TimeSpanToText(int64_t s) {
  if (s < 0) s = 0;
  std::string text;
  if (s >= 86400) {
    AppendUnit(text, s / 86400, "day");
    AppendUnit(text, (s / 3600) % 24, "hour");
  } else if (s >= 3600) {
    AppendUnit(text, s / 3600, "hour");
    AppendUnit(text, (s / 60) % 60, "minute");
  } else {
    AppendUnit(text, s / 60, "minute");
    AppendUnit(text, s % 60, "second");
  }
  return text;
}

std::string SizeToText(int64_t bytes, char decimalSeparator) {
  uint64_t n = bytes < 0 ? 0 - static_cast<uint64_t>(bytes) : static_cast<uint64_t>(bytes);
  if (n < 1024) return std::to_string(n) + " Bytes";
  uint64_t hundredths;
  const char* unit;
  if (n < 1048576ull) {
    hundredths = n * 100 / 1024;
    unit = " KB";
  } else if (n < 1073741824ull) {
    hundredths = (n / 1024) * 100 / 1024;
    unit = " MB";
  } else {
    hundredths = ((n / 1024) / 1024) * 100 / 1024;
    unit = " GB";
  }
  std::string digits = std::to_string(hundredths);
  digits.insert(digits.size() - 2, 1, decimalSeparator);
  return digits + unit;
}

std::string ProgramUpTimeText(int64_t milliseconds) {
  std::string text = TimeSpanToText(milliseconds / 1000);
  return text.empty() ? std::to_string(milliseconds) + " milliseconds" : text;
}

const char* OsTableName(int index) {
  static const char* const kNames[kOsNameCount] = {
      "None",          "Windows 95",     "Windows 95 OSR-2", "Windows 98",
      "Windows 98 SE", "Windows ME",     "Windows 9x New",   "Windows NT 3",
      "Windows NT 4",  "Windows 2000",   "Windows XP",       "Windows 2003",
      "Windows Vista", "Windows 2008",   "Windows 7",        "Windows 2008 R2",
      "Windows NT New"};
  return index >= 0 && index < kOsNameCount ? kNames[index] : kNames[0];
}

int OsIndex9x(uint32_t major, uint32_t minor, uint32_t build) {
  if (major <= 3) return 0;
  if (major > 4) return 6;
  if (minor < 10) return build <= 1000 ? 1 : 2;
  if (minor == 10) return build <= 2000 ? 3 : build <= 2700 ? 4 : 5;
  if (minor <= 90) return 5;
  return 6;
}

int OsIndexNt(uint32_t major, uint32_t minor, bool workstation) {
  if (major < 4) return 7;
  if (major == 4) return 8;
  if (major == 5) {
    if (minor == 0) return 9;
    return minor == 1 || workstation ? 10 : 11;
  }
  if (major == 6) {
    if (minor == 0) return workstation ? 12 : 13;
    if (minor == 1) return workstation ? 14 : 15;
    return 16;
  }
  return 16;
}

std::string HeaderDateTimeText(const ReportTime& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d, %02d:%02d:%02d, %dms", t.year, t.month, t.day,
                t.hour, t.minute, t.second, t.millisecond);
  return text;
}

std::string FileDateTimeText(const ReportTime& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d\r\n", t.year, t.month, t.day, t.hour,
                t.minute);
  return text;
}

std::string FourPartVersionText(uint64_t version) {
  if (version == 0) return {};
  return std::to_string((version >> 48) & 0xFFFF) + "." + std::to_string((version >> 32) & 0xFFFF) +
         "." + std::to_string((version >> 16) & 0xFFFF) + "." + std::to_string(version & 0xFFFF);
}

std::string DollarHex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "$%x", static_cast<unsigned>(value));
  return text;
}

std::string PhysicalMemoryText(uint64_t freeBytes, uint64_t totalBytes) {
  auto megabytes = [](uint64_t bytes) { return (bytes + 524288) / 1048576; };
  return std::to_string(megabytes(freeBytes)) + "/" + std::to_string(megabytes(totalBytes)) +
         " MB (free/total)";
}

std::string CleanProcessorName(const std::string& name) {
  std::string single;
  for (char c : name)
    if (!(c == ' ' && !single.empty() && single.back() == ' ')) single += c;
  size_t first = 0, last = single.size();
  while (first < last && static_cast<unsigned char>(single[first]) <= 32) ++first;
  while (last > first && static_cast<unsigned char>(single[last - 1]) <= 32) --last;
  return single.substr(first, last - first);
}

std::string DriveFreeText(const std::string& path, int64_t freeBytes, char decimalSeparator) {
  if (path.size() < 2 || path[1] != ':' || !std::isalpha(static_cast<unsigned char>(path[0])))
    return {};
  std::string text = "(";
  text += static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
  return text + ":) " + SizeToText(freeBytes, decimalSeparator);
}

}  // namespace qx
