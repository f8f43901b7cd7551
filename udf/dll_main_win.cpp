// The module's entry point: start-up and shut-down of the SQL function units.
#include <windows.h>

#include "platform.h"
#include "reporter_lifecycle_win.h"
#include "rich_text_win.h"

namespace qx {
void ReadLocaleSettings();

void PlatformStartup() { ReadLocaleSettings(); }

void PlatformShutdown() { ReleaseRichTextLibrary(); }
}  // namespace qx

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      DisableThreadLibraryCalls(instance);
      // The reporter's units come first in link order, the SQL functions' last.
      qx::ReporterStartup();
      qx::PlatformStartup();
      break;
    case DLL_PROCESS_DETACH:
      // At process exit other threads are gone and libraries may already be unloaded;
      // only an explicit unload releases the rich-text library.
      if (reserved == nullptr) {
        qx::PlatformShutdown();
        qx::ReporterShutdown();
      }
      break;
    default:
      break;
  }
  return TRUE;
}
