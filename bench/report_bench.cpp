// Prints how long a complete report with the module, process and hardware sections takes to
// build, and how long a save into a 100 KB report file with a duplicate near its start takes.
#include <windows.h>

#include <cstdio>
#include <string>

#include "list_plugins_win.h"
#include "report_file_win.h"
#include "report_layout.h"
#include "settings_open_win.h"
#include "exception_object_win.h"

namespace {

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

template <class Work>
double AverageMs(int count, Work&& work) {
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  for (int i = 0; i < count; ++i) work(i);
  QueryPerformanceCounter(&end);
  return Milliseconds(start, end) / count;
}

std::string Report(const std::string& crc, int number, size_t bodySize) {
  return qx::ReportLayoutText({{"date/time", "2026-12-07, 22:10:05, 7ms"},
                               {"executable", "C:\\app\\app.exe"},
                               {"version", "1.2.3.4"},
                               {"callstack crc", crc},
                               {"exception number", std::to_string(number)},
                               {"exception class", "EAccessViolation"}},
                              {{"main thread ($1):", std::string(bodySize, 'x')}});
}

void WriteText(const std::string& path, const std::string& text) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD wrote = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr);
  CloseHandle(file);
}

}  // namespace

int main() {
  qx::ReportStartup();
  auto settings = qx::OpenModuleSettings(GetModuleHandleA(nullptr));
  size_t reportSize = 0;
  const int kReports = 20;
  double build = AverageMs(kReports, [&](int) {
    auto exception = qx::CreateTIKVException(settings.Get(), qx::ExceptionFacts());
    reportSize = exception->GetReportText(true).size();
  });
  std::printf("complete report with modules, processes, hardware: %.2f ms (%zu bytes)\n", build,
              reportSize);
  double lists[3] = {
      AverageMs(kReports, [](int) { qx::ModuleListText(); }),
      AverageMs(kReports, [](int) { qx::ProcessListText(); }),
      AverageMs(kReports, [](int) { qx::HardwareListText(); }),
  };
  std::printf("  of which modules %.2f ms, processes %.2f ms, hardware %.2f ms\n", lists[0],
              lists[1], lists[2]);

  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  std::string path = std::string(temp) + "qx_report_bench.txt";
  const char kCrc[] = "$0012abcd, $9e6495a3, $00000000";
  // A duplicate as the second report, the rest distinct, 100 KB in all.
  std::string content = Report("$11111111, $22222222, $33333333", 0, 1500) + "\r\n\r\n" +
                        Report(kCrc, 1, 1500) + "\r\n\r\n";
  for (int i = 2; content.size() < 100000; ++i) {
    char crc[40];
    wsprintfA(crc, "$%08x, $00000000, $00000000", i);
    content += Report(crc, i, 1500) + "\r\n\r\n";
  }
  const int kSaves = 50;
  LARGE_INTEGER start, end;
  double total = 0;
  size_t after = 0;
  for (int i = 0; i < kSaves; ++i) {
    WriteText(path, content);
    QueryPerformanceCounter(&start);
    qx::SaveReportFile(path, Report(kCrc, 99, 1500), nullptr, settings.Get(), true);
    QueryPerformanceCounter(&end);
    total += Milliseconds(start, end);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) after = data.nFileSizeLow;
  }
  std::printf("SaveReportFile into %zu bytes with a duplicate near its start: %.3f ms (file after: %zu bytes)\n",
              content.size(), total / kSaves, after);
  DeleteFileA(path.c_str());
  qx::ReportShutdown();
  return 0;
}
