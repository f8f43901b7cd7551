// The machine and process values of a report header, from the platform's queries. Each
// returns the empty text when its query fails; the header then leaves the field out.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace qx {

struct OsVersionInfo {
  uint32_t majorVersion = 0;
  uint32_t minorVersion = 0;
  uint32_t build = 0;
  std::string servicePack;
  bool is9x = false;
  bool isNt = false;
  uint8_t osIndex = 0;
  uint32_t servicePackNumber = 0;
  bool is64Bit = false;
  std::string osName;
};
// Filled once per process.
OsVersionInfo GetOsVersionInfo();

// The first character of the thread locale's decimal separator, read once per process.
char ReportDecimalSeparator();
// SizeToText with the locale's decimal separator.
std::string SizeText(int64_t bytes);

// Takes the program start time; called once when the reporter starts up.
void RecordProgramStart();

std::string ComputerNameValue();
std::string WtsClientNameValue();
std::string UserNameValue();
std::string RegisteredOwnerValue();
std::string OperatingSystemValue();
std::string SystemLanguageValue();
std::string SystemUpTimeValue();
std::string ProgramUpTimeValue();
// The processor name and how many there are (0 when the name is unknown).
std::string ProcessorName(int& count);
std::string PhysicalMemoryValue();
std::string FreeDiskSpaceValue();
std::string DisplayModeValue();
std::string ProcessIdValue();
std::string AllocatedMemoryValue();
// The whole command line when it holds a parameter after the program name, else empty.
std::string CommandLineValue();
std::string ModuleFileName(HMODULE module);
// The file the date and version fields describe, and the label of its date field.
std::string ExaminedFile(bool& isExecutable);
// The file's last-write time in local time as the date field has it; false when not found.
bool FileDateValue(const std::string& path, std::string& value);
// The file version of a file, four parts; empty when it has none.
std::string FileVersionValue(const std::string& path);
std::string BdeVersionValue();
std::string CompiledWithValue();

inline constexpr char kQelExceptVersion[] = "3.0l";

}  // namespace qx
