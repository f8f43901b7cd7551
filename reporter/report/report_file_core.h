// The report file's content rules: where report boundaries are, which earlier report a new
// one repeats, and what is dropped to keep the file below its size limit.
#pragma once

#include <cstdint>
#include <string>

namespace qx {

// Makes a report file name absolute against the executable's folder (with trailing
// backslash) and drive, and folds "\.\" and "\folder\..\" away.
std::string AbsoluteReportPath(const std::string& name, const std::string& exeFolder);

// The settings that decide whether and how duplicates are looked for.
struct DuplicateRules {
  bool noDupExcepts = true;
  uint32_t dupExceptDef = 1;
  bool noDupFreezes = true;
  uint32_t dupFreezeDef = 2;
};
// The key a new report's duplicates share, or empty when duplicates are not looked for
// (the checksum is not final, or the kind of report is excluded).
std::string DuplicateKey(const std::string& report, const DuplicateRules& rules);

// Offsets of report starts: 0 when the content begins with a report, and every "date/time"
// header line that follows an empty line. A "date/time" line inside a report cannot follow
// an empty line (empty section lines are written as "."), so a report is never split.
bool IsReportStart(const std::string& content, size_t offset);

// Looks backwards for the newest report in `content` that `report` repeats (same key and
// the same program build); removes it and inserts the "count" line into `report`. Returns
// whether one was removed, and where it stood through `removedAt` and `removedSize`.
bool RemoveDuplicate(std::string& content, std::string& report, const std::string& key,
                     size_t* removedAt = nullptr, size_t* removedSize = nullptr);

// Drops the oldest whole reports so that what is kept starts less than
// limit - limit / 4 bytes before the end. Nothing is dropped when no report start
// qualifies. Returns whether something was dropped.
bool TrimReports(std::string& content, uint32_t limit);

}  // namespace qx
