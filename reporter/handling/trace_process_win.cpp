// The exported request for a report of the whole process.
#include <windows.h>

#include <cstdint>
#include <cstring>

#include "pipeline_win.h"
#include "settings_open_win.h"
#include "thread_names_win.h"

namespace {

// Copies the text, cut to `maximumLength` - 1 characters, with a zero byte into the
// shared block of the caller; a missing block is ignored.
void CopyIntoSharedBlock(const std::string& text, int32_t maximumLength) {
  HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, "Global\\qelTraceProcessMap");
  if (mapping == nullptr)
    mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, "qelTraceProcessMap");
  if (mapping == nullptr) return;
  if (void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0)) {
    size_t length = text.size();
    if (length > static_cast<size_t>(maximumLength) - 1) length = static_cast<size_t>(maximumLength) - 1;
    MEMORY_BASIC_INFORMATION info;
    // Never write past the block, whatever length the caller claims.
    if (VirtualQuery(view, &info, sizeof info) == sizeof info && length + 1 > info.RegionSize)
      length = info.RegionSize - 1;
    std::memcpy(view, text.data(), length);
    static_cast<char*>(view)[length] = '\0';
    UnmapViewOfFile(view);
  }
  CloseHandle(mapping);
}

}  // namespace

// Produces a report of every thread and hands it over through the clipboard (maximum
// length below 1) or the shared block "qelTraceProcessMap". Always returns 0.
extern "C" __attribute__((noinline)) int32_t __stdcall qelTraceProcess(int32_t maximumLength) {
  using namespace qx;
  DWORD self = GetCurrentThreadId();
  try {
    NameThread(self, "-");
    SetTraceRunning(true);
    std::string text;
    try {
      ComPtr<IKVModuleSettings> settings = SettingsForAddress(__builtin_return_address(0));
      ExceptionRequest request;
      request.type = kTypeFreeze;
      request.source = 0;
      request.settings = settings.Get();
      request.canContinue = true;
      // The calling thread's stack as the caller left it: its section starts with the
      // caller's function, not with the reporter's own frames that build the report.
      void* frame = __builtin_frame_address(0);
      request.framePointer = *static_cast<uint32_t*>(frame);
      request.stackPointer = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(frame)) + 4;
      ComPtr<IKVException> exception = CreateExceptionObject(request);
      if (exception) {
        exception->SetPlWaitBox(false);
        exception->SetListThreads(true);
        text = exception->GetReportText(true);
      }
    } catch (...) {
    }
    SetTraceRunning(false);
    if (!text.empty()) {
      if (maximumLength < 1)
        CopyTextToClipboard(text);
      else
        CopyIntoSharedBlock(text, maximumLength);
    }
  } catch (...) {
  }
  UnnameThread(self);
  return 0;
}
