// QXUdr.dll's entry point: the locale values are read at load, the rich-text control
// library is released at an explicit unload. The UDR module carries no fault reporter:
// its failures reach the engine as SQL errors.
#include <windows.h>

#include "platform.h"

namespace qx {
void ReadLocaleSettings();
void ReleaseRichTextLibrary();

void PlatformStartup() { ReadLocaleSettings(); }

void PlatformShutdown() { ReleaseRichTextLibrary(); }
}  // namespace qx

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
    qx::PlatformStartup();
  } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    // At process exit other threads are gone and libraries may already be unloaded.
    qx::PlatformShutdown();
  }
  return TRUE;
}
