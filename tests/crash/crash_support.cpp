#include "crash_support.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "capture_lifecycle_win.h"
#include "capture_points_win.h"
#include "function_win.h"
#include "list_plugins_win.h"
#include "map_lookup.h"
#include "report_hooks_win.h"
#include "settings_open_win.h"
#include "thread_info_win.h"
#include "thread_sections_win.h"
#include "exception_object_win.h"

namespace {

std::string gReportFile;
const qx::CaptureRecord* gRecord = nullptr;

void Describe(void* object, std::string& className, std::string& message) {
  auto* captured = static_cast<qx::CaptureObject*>(object);
  className = captured->className;
  message = captured->message;
}

bool ClassIs(qx::IKVException* exception, const char* name) {
  auto* captured = static_cast<qx::CaptureObject*>(exception->ExceptionObject());
  return captured != nullptr && captured->Is(name);
}

DWORD WINAPI BuildReport(void*) {
  qx::NameThreadInfo(GetCurrentThreadId(), "-");
  const qx::CaptureRecord& record = *gRecord;
  qx::ExceptionFacts facts;
  facts.type = record.type;
  facts.object = const_cast<qx::CaptureObject*>(record.object);
  facts.address = record.address;
  facts.crashedThreadId = record.threadId;
  facts.context = record.context;
  facts.source = record.source;
  facts.canContinue = record.canContinue;
  facts.preparedStack = record.preparedStack;
  qx::ComPtr<qx::IKVException> exception = qx::CreateTIKVException(qx::MainSettings().Get(), facts);
  std::string text = exception->GetReportText(true);
  // Not through the C runtime's files: their buffers come from its heap, which the fault
  // may have wrecked.
  HANDLE file = CreateFileA(gReportFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
  }
  return 0;
}

void HandOver(const qx::CaptureRecord& record) {
  gRecord = &record;
  HANDLE thread = CreateThread(nullptr, 8 << 20, BuildReport, nullptr, 0, nullptr);
  if (thread != nullptr) WaitForSingleObject(thread, 120000);
  TerminateProcess(GetCurrentProcess(), 3);
}

}  // namespace

void StartCrashReporter(int argc, char** argv) {
  gReportFile = argc > 1 ? argv[1] : "crash_report.txt";
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  qx::LinkDisAsm();
  qx::MapFileStartup();
  qx::SettingsStartup();
  qx::ReportStartup();
  qx::ThreadSectionsStartup();
  qx::Hooks().describeObject = Describe;
  qx::ExceptionClassIsHook = ClassIs;
  qx::SetReportHandlerThread(0);
  qx::CaptureHandOver = HandOver;
  qx::CaptureStartup(GetModuleHandleA(nullptr));
  qx::SetMinimalReportFile(gReportFile);
}

CRASH_NOINLINE void KeepFrame() { asm volatile("" ::: "memory"); }
