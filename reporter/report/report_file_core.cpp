#include "report_file_core.h"

#include "field_items.h"
#include "report_layout.h"

namespace qx {

namespace {

constexpr char kDateTime[] = "date/time";
constexpr size_t kDateTimeLength = sizeof kDateTime - 1;
constexpr size_t kCrcTextLength = 31;

// A "date/time" header line at `offset`: the name, optional padding, ": ".
bool IsDateTimeLine(const std::string& content, size_t offset) {
  if (content.compare(offset, kDateTimeLength, kDateTime) != 0) return false;
  size_t at = offset + kDateTimeLength;
  while (at < content.size() && content[at] == ' ') ++at;
  return at + 1 < content.size() && content[at] == ':' && content[at + 1] == ' ';
}

size_t PreviousReportStart(const std::string& content, size_t before) {
  for (size_t at = before + 1; at-- > 0;)
    if (IsReportStart(content, at)) return at;
  return std::string::npos;
}

size_t NextReportStart(const std::string& content, size_t after) {
  for (size_t at = content.find(kDateTime, after); at != std::string::npos;
       at = content.find(kDateTime, at + 1))
    if (IsReportStart(content, at)) return at;
  return content.size();
}

bool SameBuild(const std::string& old, const std::string& report) {
  for (const char* name : {"executable", "current module", "exception class", "version"})
    if (!SameHeaderValue(old, report, name)) return false;
  if (!ReadHeaderValue(old, "version").empty()) return true;
  return SameHeaderValue(old, report, "exec. date/time") &&
         SameHeaderValue(old, report, "module date/time");
}

}  // namespace

std::string AbsoluteReportPath(const std::string& name, const std::string& exeFolder) {
  std::string path = name;
  bool startsWithBackslash = !path.empty() && path[0] == '\\';
  bool hasDrive = path.size() >= 2 && path[1] == ':';
  if (path.size() < 3 || (!startsWithBackslash && !hasDrive)) {
    path = exeFolder + path;
  } else if (startsWithBackslash && (path.size() < 2 || path[1] != '\\')) {
    path = exeFolder.substr(0, 2) + path;
  }
  for (size_t at; (at = path.find("\\.\\")) != std::string::npos;) path.erase(at, 2);
  for (size_t at; (at = path.find("\\..\\")) != std::string::npos;) {
    size_t folder = at == 0 ? std::string::npos : path.rfind('\\', at - 1);
    size_t from = folder == std::string::npos ? 0 : folder;
    path.erase(from, at + 3 - from);
  }
  return path;
}

std::string DuplicateKey(const std::string& report, const DuplicateRules& rules) {
  std::string key = ReadHeaderValue(report, "callstack crc");
  if (key.size() != kCrcTextLength) return {};
  bool isException = !ReadHeaderValue(report, "exception class").empty();
  bool enabled = isException ? rules.noDupExcepts : rules.noDupFreezes;
  uint32_t definition = isException ? rules.dupExceptDef : rules.dupFreezeDef;
  if (!enabled) return {};
  if (definition == 0) return key.substr(0, 9);
  if (definition == 1) return key.substr(0, 20);
  return key;
}

bool IsReportStart(const std::string& content, size_t offset) {
  if (!IsDateTimeLine(content, offset)) return false;
  return offset == 0 || (offset >= 4 && content.compare(offset - 4, 4, "\r\n\r\n") == 0);
}

bool RemoveDuplicate(std::string& content, std::string& report, const std::string& key,
                     size_t* removedAt, size_t* removedSize) {
  if (key.empty()) return false;
  const std::string needle = ": " + key;
  size_t hit = content.size();
  while (hit > 0 && (hit = content.rfind(needle, hit - 1)) != std::string::npos) {
    size_t start = PreviousReportStart(content, hit);
    if (start == std::string::npos) continue;
    size_t end = NextReportStart(content, hit);
    std::string old = content.substr(start, end - start);
    // The hit must be the report's own checksum line, not a text in one of its sections.
    if (ReadHeaderValue(old, "callstack crc").compare(0, key.size(), key) != 0) continue;
    if (!SameBuild(old, report)) continue;
    std::string countText = ReadHeaderValue(old, "count");
    uint64_t count = 0;
    for (char c : countText) {
      if (c < '0' || c > '9') break;
      count = count * 10 + static_cast<uint64_t>(c - '0');
    }
    if (count == 0) count = 1;
    InsertHeaderLine(report, "count", "callstack crc", std::to_string(count + 1));
    content.erase(start, end - start);
    if (removedAt != nullptr) *removedAt = start;
    if (removedSize != nullptr) *removedSize = end - start;
    return true;
  }
  return false;
}

bool TrimReports(std::string& content, uint32_t limit) {
  const size_t keep = limit - limit / 4;
  for (size_t at = 1; at < content.size(); ++at) {
    if (!IsReportStart(content, at)) continue;
    if (content.size() - at < keep) {
      content.erase(0, at);
      return true;
    }
  }
  return false;
}

}  // namespace qx
