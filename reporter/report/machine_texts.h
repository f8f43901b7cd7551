// How the machine and process values of a report header are written, apart from the
// platform queries that supply them.
#pragma once

#include <cstdint>
#include <string>

namespace qx {

// "1 day 2 hours " style: the two largest units, each part followed by a space; empty for
// less than a second (negative counts as 0).
std::string TimeSpanToText(int64_t seconds);

// "1023 Bytes", "1.50 KB", "1023.99 KB", "1.00 GB": two truncated decimals after
// `decimalSeparator`. The magnitude of `bytes` is used.
std::string SizeToText(int64_t bytes, char decimalSeparator);

// The program up time: whole units as TimeSpanToText, else the milliseconds.
std::string ProgramUpTimeText(int64_t milliseconds);

constexpr int kOsNameCount = 17;
// The OS name table; "None" for an index outside it.
const char* OsTableName(int index);
// Index into the OS name table for the Windows 95 family and for the NT family.
int OsIndex9x(uint32_t major, uint32_t minor, uint32_t build);
int OsIndexNt(uint32_t major, uint32_t minor, bool workstation);

// Clock values as the report shows them.
struct ReportTime {
  int year, month, dayOfWeek, day, hour, minute, second, millisecond;
};
// "2026-12-07, 22:10:05, 7ms"
std::string HeaderDateTimeText(const ReportTime& time);
// "2026-12-07 22:10" followed by CR LF, as the file date field has it.
std::string FileDateTimeText(const ReportTime& time);

// "major.minor.release.build" of a 64-bit file version, most significant part first;
// empty for 0.
std::string FourPartVersionText(uint64_t version);
// "$" + lower-case hexadecimal without leading zeros.
std::string DollarHex(uint32_t value);
// "free/total MB (free/total)", both rounded to whole megabytes.
std::string PhysicalMemoryText(uint64_t freeBytes, uint64_t totalBytes);
// Runs of spaces reduced to one, bytes of code 32 or below trimmed at both ends.
std::string CleanProcessorName(const std::string& name);
// "(C:) " + size, or empty when `path` does not start with a drive letter.
std::string DriveFreeText(const std::string& path, int64_t freeBytes, char decimalSeparator);

}  // namespace qx
