// Prints how fast settings are read and how much a settings object costs.
#include <windows.h>

#include <cstdio>

#include "settings_open_win.h"
#include "settings_object_win.h"

namespace {

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

template <class Work>
double PerSecond(int count, Work&& work) {
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  for (int i = 0; i < count; ++i) work();
  QueryPerformanceCounter(&end);
  return count / Seconds(start, end);
}

}  // namespace

int main() {
  qx::SettingsStartup();
  auto main = qx::MainSettings();
  uint32_t sink = 0;
  const int kReads = 2000000;
  double early = PerSecond(kReads, [&] { sink += main->GetEnabled(); });          // 1st entry
  double late = PerSecond(kReads, [&] { sink += main->GetSendFailMsg().size(); }); // last entry
  double miss = PerSecond(kReads, [&] { sink += main->GetAutoDelay(); });  // falls to defaults
  HMODULE self = GetModuleHandleA(nullptr);
  double objects = PerSecond(200000, [&] {
    auto settings = qx::OpenModuleSettings(self);
    sink += settings->HasSettings();
  });
  double lastObject = PerSecond(2000, [&] {
    // The last object of a module frees its record; the next one parses the stream again.
    main = nullptr;
    qx::SettingsShutdown();
    qx::SettingsStartup();
    main = qx::MainSettings();
  });
  std::printf("property read, hit at the start of the list:  %12.0f reads/s\n", early);
  std::printf("property read, text at the end of the list:   %12.0f reads/s\n", late);
  std::printf("property read, miss falling to the defaults:  %12.0f reads/s\n", miss);
  std::printf("settings object create + release:             %12.0f /s (%.2f us each)\n",
              objects, 1e6 / objects);
  std::printf("main settings re-created (stream parsed):     %12.0f /s (%.2f us each)\n",
              lastObject, 1e6 / lastObject);
  main = nullptr;
  qx::SettingsShutdown();
  std::printf("(checksum %u)\n", sink);
  return 0;
}
