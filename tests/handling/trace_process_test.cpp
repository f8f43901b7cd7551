// qelTraceProcess through QXUdfLib.dll's export table, as a program that wants a report
// of the process calls it.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "process_threads_win.h"

using TraceProcess = int32_t(__stdcall*)(int32_t);

volatile int gAfterTheTrace = 0;

// The function a program asks for the report from; this program carries its own debug
// information, so the report names it. The write after the call keeps the call a call.
__attribute__((noinline, noclone, noipa)) void ReportTheProcessFromHere(TraceProcess trace) {
  trace(0);
  gAfterTheTrace = gAfterTheTrace + 1;
}

namespace {

using qx::ThreadsOfThisProcess;

// Loading starts the handler thread from inside the loader; unloading stops it there
// again, without leaving a thread behind in code that is gone.
TEST(ModuleLifetime, LoadsAndUnloadsRepeatedlyWithoutLeavingThreads) {
  int before = ThreadsOfThisProcess();
  for (int round = 0; round < 3; ++round) {
    HMODULE module = LoadLibraryA("QXUdfLib.dll");
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(ThreadsOfThisProcess(), before + 1);  // the handler thread
    auto trace = reinterpret_cast<TraceProcess>(
        reinterpret_cast<void*>(GetProcAddress(module, "qelTraceProcess")));
    ASSERT_NE(trace, nullptr);
    EXPECT_EQ(trace(100), 0);
    ASSERT_TRUE(FreeLibrary(module));
    EXPECT_EQ(GetModuleHandleA("QXUdfLib.dll"), nullptr);
    for (int i = 0; i < 100 && ThreadsOfThisProcess() > before; ++i) Sleep(10);
    EXPECT_EQ(ThreadsOfThisProcess(), before);
  }
}

class TraceProcessExport : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    module_ = LoadLibraryA("QXUdfLib.dll");
    if (module_ != nullptr)
      trace_ = reinterpret_cast<TraceProcess>(
          reinterpret_cast<void*>(GetProcAddress(module_, "qelTraceProcess")));
  }
  void SetUp() override { ASSERT_NE(trace_, nullptr) << "module " << module_ << " error " << GetLastError(); }
  static HMODULE module_;
  static TraceProcess trace_;
};
HMODULE TraceProcessExport::module_ = nullptr;
TraceProcess TraceProcessExport::trace_ = nullptr;

void PutOnClipboard(const std::string& text) {
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
  std::memcpy(GlobalLock(memory), text.c_str(), text.size() + 1);
  GlobalUnlock(memory);
  SetClipboardData(CF_TEXT, memory);
  CloseClipboard();
}

std::string ClipboardText() {
  std::string text;
  if (!OpenClipboard(nullptr)) return text;
  if (HANDLE data = GetClipboardData(CF_TEXT)) {
    text = static_cast<const char*>(GlobalLock(data));
    GlobalUnlock(data);
  }
  CloseClipboard();
  return text;
}

TEST_F(TraceProcessExport, FillsTheSharedBlockWithTheReportCutToTheMaximumLength) {
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096,
                                     "qelTraceProcessMap");
  ASSERT_NE(mapping, nullptr);
  auto* view = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  std::memset(view, 'x', 4096);
  PutOnClipboard("untouched");
  EXPECT_EQ(trace_(200), 0);
  EXPECT_EQ(std::strlen(view), 199u);
  EXPECT_EQ(std::string(view, 9), "date/time");
  EXPECT_EQ(view[200], 'x');
  EXPECT_EQ(ClipboardText(), "untouched");
  UnmapViewOfFile(view);
  CloseHandle(mapping);
}

TEST_F(TraceProcessExport, WithoutAMaximumLengthPutsTheWholeReportOnTheClipboard) {
  PutOnClipboard("untouched");
  EXPECT_EQ(trace_(0), 0);
  std::string report = ClipboardText();
  EXPECT_EQ(report.rfind("date/time", 0), 0u);
  // A report without exception: the freeze headline, no class, the module list section.
  EXPECT_NE(report.find("exception message : The application seems to be frozen."),
            std::string::npos);
  EXPECT_EQ(report.find("exception class"), std::string::npos);
  EXPECT_NE(report.find("\r\n\r\nmodules:\r\n"), std::string::npos);
  EXPECT_NE(report.find("QXUdfLib.dll"), std::string::npos);
}

// The calling thread's section starts where the program asked, not inside the reporter
// that built the report.
TEST_F(TraceProcessExport, TheCallingThreadStartsWithTheCallersFunction) {
  PutOnClipboard("untouched");
  ReportTheProcessFromHere(trace_);
  const std::string report = ClipboardText();
  char title[32];
  wsprintfA(title, "($%x):\r\n", static_cast<unsigned>(GetCurrentThreadId()));
  const size_t at = report.find(title);
  ASSERT_NE(at, std::string::npos) << report;
  const size_t lineStart = at + std::strlen(title);
  const std::string firstLine = report.substr(lineStart, report.find("\r\n", lineStart) - lineStart);
  EXPECT_NE(firstLine.find(" trace_process_test.exe "), std::string::npos) << firstLine;
  const std::string name = " ReportTheProcessFromHere";
  ASSERT_GE(firstLine.size(), name.size()) << firstLine;
  EXPECT_EQ(firstLine.substr(firstLine.size() - name.size()), name) << report;
}

TEST_F(TraceProcessExport, WithoutTheSharedBlockNothingHappens) {
  PutOnClipboard("untouched");
  EXPECT_EQ(trace_(100), 0);
  EXPECT_EQ(ClipboardText(), "untouched");
}

}  // namespace
