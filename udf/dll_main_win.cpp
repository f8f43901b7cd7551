// The module's entry point: start-up and shut-down of the SQL function units, and of the
// fault reporter where the module carries one (the 64-bit module does not).
#include <windows.h>

#include "platform.h"
#include "rich_text_win.h"
#if !defined(QX_WITHOUT_REPORTER)
#include "reporter_lifecycle_win.h"
#endif

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
#if !defined(QX_WITHOUT_REPORTER)
      qx::ReporterStartup();
#endif
      qx::PlatformStartup();
      break;
    case DLL_PROCESS_DETACH:
      // At process exit other threads are gone and libraries may already be unloaded;
      // only an explicit unload releases the rich-text library.
      if (reserved == nullptr) {
        qx::PlatformShutdown();
#if !defined(QX_WITHOUT_REPORTER)
        qx::ReporterShutdown();
#endif
      }
      break;
    default:
      break;
  }
  return TRUE;
}
