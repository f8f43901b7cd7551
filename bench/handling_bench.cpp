// The handling pipeline's speed: how long a faulting thread waits until the handler thread
// takes up its record, and how long a complete report with the automatic save takes in a
// process of 20 threads. Prints figures; asserts nothing.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

#include "exception_classes.h"
#include "process_registries.h"
#include "list_plugins_win.h"
#include "pipeline_win.h"
#include "settings_open_win.h"

namespace {

QX_EXCEPTION_CLASS(EBenchError, qx::Exception)

LARGE_INTEGER gTakenUp;
void TakenUp() { QueryPerformanceCounter(&gTakenUp); }

double Microseconds(LONGLONG ticks) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return 1e6 * static_cast<double>(ticks) / static_cast<double>(frequency.QuadPart);
}

void HandOver(qx::Exception& error) {
  qx::HandOverException(qx::kTypeException, &error, 0, nullptr, nullptr, nullptr, 16, nullptr, 0,
                        0, true);
}

void PrintSpread(const char* what, std::vector<double> values, const char* unit) {
  std::sort(values.begin(), values.end());
  std::printf("%-44s median %8.1f %s   p90 %8.1f %s   max %8.1f %s   (%zu runs)\n", what,
              values[values.size() / 2], unit, values[values.size() * 9 / 10], unit,
              values.back(), unit, values.size());
}

}  // namespace

int main() {
  qx::SettingsStartup();
  qx::HandlingStartup();
  qx::ReportStartup();
  qx::ComPtr<qx::IKVModuleSettings> settings = qx::MainSettings();
  settings->SetPlWaitBox(false);
  settings->SetShowBtnVis(false);
  settings->SetGnShowCfg(4);
  settings->SetAutoSave(false);
  settings->SetGnNoBugRep(true);
  qx::PipelineLinks().processExceptionStarted = TakenUp;

  std::vector<double> latency;
  std::thread worker([&] {
    for (int i = 0; i < 200; ++i) {
      EBenchError error("latency");
      LARGE_INTEGER before;
      QueryPerformanceCounter(&before);
      HandOver(error);
      latency.push_back(Microseconds(gTakenUp.QuadPart - before.QuadPart));
    }
  });
  worker.join();
  PrintSpread("hand-over to handler thread's first step", latency, "us");

  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  std::string file = std::string(temp) + "handling_bench_" + std::to_string(GetCurrentProcessId()) + ".txt";
  settings->SetGnNoBugRep(false);
  settings->SetAutoSave(true);
  settings->SetBugRepFile(file);
  HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::vector<std::thread> idle;
  for (int i = 0; i < 19; ++i) idle.emplace_back([stop] { WaitForSingleObject(stop, INFINITE); });
  std::vector<double> complete;
  std::thread faulting([&] {
    for (int i = 0; i < 10; ++i) {
      EBenchError error("complete report");
      LARGE_INTEGER before, after;
      QueryPerformanceCounter(&before);
      HandOver(error);
      QueryPerformanceCounter(&after);
      complete.push_back(Microseconds(after.QuadPart - before.QuadPart) / 1000.0);
    }
  });
  faulting.join();
  SetEvent(stop);
  for (auto& thread : idle) thread.join();
  PrintSpread("complete report + save, 20 threads", complete, "ms");
  DeleteFileA(file.c_str());

  qx::ReportShutdown();
  qx::HandlingShutdown();
  qx::SettingsShutdown();
  return 0;
}
