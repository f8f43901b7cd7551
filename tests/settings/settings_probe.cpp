// A module with its own copy of the settings store, loaded by the tests under several file
// names to stand for several reporter copies in one process.
#include <windows.h>

#include <cstring>

#include "settings_buffer_win.h"
#include "settings_open_win.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) qx::SettingsStartup();
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) qx::SettingsShutdown();
  return TRUE;
}

extern "C" __declspec(dllexport) int ProbeReadInt(const char* name) {
  auto main = qx::MainSettings();
  auto access = main.As<qx::IPropertyAccess>(qx::IID_IPropertyAccess);
  return access ? access->ReadInt(name) : -1;
}

extern "C" __declspec(dllexport) int ProbeReadText(const char* name, char* out, int size) {
  auto main = qx::MainSettings();
  auto access = main.As<qx::IPropertyAccess>(qx::IID_IPropertyAccess);
  if (!access || size <= 0) return -1;
  std::string text = access->ReadText(name);
  lstrcpynA(out, text.c_str(), size);
  return static_cast<int>(text.size());
}

extern "C" __declspec(dllexport) bool ProbeHasSettings() {
  auto main = qx::MainSettings();
  return main && main->HasSettings();
}

extern "C" __declspec(dllexport) qx::SettingsBuffer* ProbeBuffer() {
  return qx::MappedSettingsBuffer();
}
