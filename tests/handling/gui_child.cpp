// A window program (no console) that hands one exception over and watches for the exception
// box the pipeline shows, reads it, writes "caption|text" into the file named on its command
// line and dismisses it with its continue (or OK) button. Arguments: show mode, output file, and "unseen" to play a service whose
// window station nobody sees (the report is then saved automatically into the output
// file). Exit code: 0 after a box was seen, 1 when none appeared, 2 on bad arguments.
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "exception_classes.h"
#include "pipeline_win.h"
#include "process_registries.h"
#include "settings_open_win.h"

namespace {

QX_EXCEPTION_CLASS(EGuiError, qx::Exception)

struct Found {
  HWND box = nullptr;
};

BOOL CALLBACK FindBox(HWND window, LPARAM parameter) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  char className[64] = {};
  GetClassNameA(window, className, sizeof className);
  if (process == GetCurrentProcessId() && std::string(className) == "qelExceptWndClass" &&
      IsWindowVisible(window)) {
    reinterpret_cast<Found*>(parameter)->box = window;
    return FALSE;
  }
  return TRUE;
}

qx::DesktopFacts InvisibleStation() { return qx::DesktopFacts{false, true}; }

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  if (__argc < 3) return 2;
  uint32_t mode = static_cast<uint32_t>(std::atoi(__argv[1]));
  std::string output = __argv[2];
  qx::SettingsStartup();
  qx::HandlingStartup();
  qx::MainSettings()->SetGnShowCfg(mode);
  if (__argc > 3 && std::string(__argv[3]) == "unseen") {
    qx::DesktopFactsQuery = InvisibleStation;
    qx::MainSettings()->SetAutoSave(true);
    qx::MainSettings()->SetBugRepFile(output);
  }

  std::atomic<bool> seen{false};
  std::atomic<bool> stop{false};
  std::thread watcher([&] {
    while (!stop) {
      Found found;
      EnumWindows(FindBox, reinterpret_cast<LPARAM>(&found));
      if (found.box != nullptr) {
        char caption[256] = {}, text[1024] = {};
        GetWindowTextA(found.box, caption, sizeof caption);
        HWND message = FindWindowExA(found.box, nullptr, "STATIC", nullptr);
        GetWindowTextA(message, text, sizeof text);
        std::string line = std::string(caption) + "|" + text;
        HANDLE file = CreateFileA(output.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        CloseHandle(file);
        seen = true;
        // Continue (full box) or OK (short box).
        HWND button = GetDlgItem(found.box, 104);
        if (button == nullptr) button = GetDlgItem(found.box, 107);
        SendMessageA(button, BM_CLICK, 0, 0);
        return;
      }
      Sleep(20);
    }
  });
  EGuiError error("gui failure");
  qx::HandOverException(qx::kTypeException, &error, 0, nullptr, nullptr, nullptr, 16, nullptr,
                        0, 0, true);
  stop = true;
  watcher.join();
  qx::HandlingShutdown();
  qx::SettingsShutdown();
  return seen ? 0 : 1;
}
