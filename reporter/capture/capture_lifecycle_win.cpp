#include "capture_lifecycle_win.h"

#include <cstdio>

#include "capture_points_win.h"
#include "file_check_win.h"
#include "own_security_win.h"
#include "patch_primitives_win.h"
#include "report_file_win.h"
#include "settings_buffer_win.h"
#include "settings_open_win.h"
#include "thread_info_win.h"
#include "thread_sections_win.h"

namespace qx {

namespace {

double gStartMs = 0;

// The block all reporter copies of the process share for thread names: two mutexes, the
// head of the record list, a reference count and the mapping handle (20 bytes).
struct ThreadNameBlock {
  HANDLE mutex;
  HANDLE secondMutex;
  void* listHead;
  LONG references;
  HANDLE mapping;
};
ThreadNameBlock* gNameBlock = nullptr;
HANDLE gNameMapping = nullptr;

// Opens or creates the block; the first copy records the main thread.
void OpenThreadNameBlock(DWORD mainThread) {
  char name[64];
  std::snprintf(name, sizeof name, "qelExceptThreadNameBuf$%lx",
                static_cast<unsigned long>(GetCurrentProcessId()));
  OwnProcessSecurity security;
  gNameMapping = CreateFileMappingA(INVALID_HANDLE_VALUE, security.Attributes(), PAGE_READWRITE,
                                    0, sizeof(ThreadNameBlock), name);
  const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
  if (gNameMapping == nullptr) return;
  gNameBlock = static_cast<ThreadNameBlock*>(
      MapViewOfFile(gNameMapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(ThreadNameBlock)));
  if (gNameBlock == nullptr) {
    if (existed) ShowSettingsMessage("internal error (opening global buffer)");
    CloseHandle(gNameMapping);
    gNameMapping = nullptr;
    return;
  }
  if (!existed) {
    gNameBlock->mutex = CreateMutexA(nullptr, FALSE, nullptr);
    gNameBlock->secondMutex = CreateMutexA(nullptr, FALSE, nullptr);
    gNameBlock->mapping = gNameMapping;
  }
  InterlockedIncrement(&gNameBlock->references);
  NameThreadInfo(mainThread, "main thread");
}


// The first thread of the process, else the calling one.
DWORD FirstThreadOfProcess() {
  std::vector<DWORD> ids = ThreadIdList();
  return ids.empty() ? GetCurrentThreadId() : ids.front();
}

}  // namespace

double ReporterStartTimeMs() { return gStartMs; }

void ThreadNameBlockShutdown() {
  if (gNameBlock == nullptr) return;
  if (InterlockedDecrement(&gNameBlock->references) == 0) {
    RemoveThreadInfo(GetCurrentThreadId());
    if (gNameBlock->mutex) CloseHandle(gNameBlock->mutex);
    if (gNameBlock->secondMutex) CloseHandle(gNameBlock->secondMutex);
  }
  UnmapViewOfFile(gNameBlock);
  gNameBlock = nullptr;
  CloseHandle(gNameMapping);
  gNameMapping = nullptr;
}

void CaptureStartup(HMODULE ownModule) {
  try {
    LARGE_INTEGER frequency, counter;
    if (QueryPerformanceFrequency(&frequency) && frequency.QuadPart != 0 &&
        QueryPerformanceCounter(&counter))
      gStartMs = static_cast<double>(counter.QuadPart) / (static_cast<double>(frequency.QuadPart) / 1000.0);
    LinkCaptureToPipeline();
    ComPtr<IKVModuleSettings> settings = MainSettings();
    const bool valid = settings && settings->HasSettings();
    const bool enabled = valid && settings->GetEnabled();
    if (enabled && settings->GetCheckFileCrc()) {
      bool intact = CheckModuleFile(ownModule);
      HMODULE settingsModule = MainSettingsModule();
      if (settingsModule != nullptr && settingsModule != ownModule)
        intact = CheckModuleFile(settingsModule) && intact;
      if (!intact) ShowSettingsMessage(settings->GetBitFaultMsg().c_str());
    }
    const DWORD mainThread = ModuleIsExecutable(ownModule) ? GetCurrentThreadId()
                                                           : FirstThreadOfProcess();
    SetMainThreadId(mainThread);
    if (!valid) {
      // Settings that are not there are not kept either.
      ReleaseMainSettings();
      return;
    }
    OpenThreadNameBlock(mainThread);
    if (!enabled) return;
    InstallCapturePoints(ownModule, ModuleIsExecutable(ownModule));
    // Named now, while names can still be built: a fault of the reporter itself leaves
    // its minimal report beside the reports.
    SetMinimalReportFile(ReportFileName(settings.Get()));
  } catch (...) {
    // A reporter that cannot start leaves the host alone.
  }
}

void CaptureShutdown() {
  try {
    RevertPatches();
  } catch (...) {
  }
  try {
    RemoveCapturePoints();
  } catch (...) {
  }
  UnlinkCaptureFromPipeline();
}

}  // namespace qx
