// The report file under Wine: creation, appending, duplicates with their count, trimming,
// replacing, and two processes saving into one file at the same time.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "child_process_win.h"
#include "report_file_core.h"
#include "report_file_win.h"
#include "report_layout.h"
#include "test_support.h"
#include "exception_object_win.h"

namespace qx {
namespace {

std::string ReadFileText(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  std::string text(GetFileSize(file, nullptr), '\0');
  DWORD got = 0;
  ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &got, nullptr);
  CloseHandle(file);
  return text;
}

void WriteFileText(const std::string& path, const std::string& text) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD wrote = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr);
  CloseHandle(file);
}

std::string MakeReport(const std::string& crc, const std::string& tag,
                       const std::string& body = "stack") {
  return ReportLayoutText({{"date/time", "2026-12-07, 22:10:05, 7ms"},
                           {"executable", "C:\\app\\app.exe"},
                           {"version", "1.2.3.4"},
                           {"qelExcept version", "3.0l"},
                           {"callstack crc", crc},
                           {"exception number", tag},
                           {"exception class", "EAccessViolation"}},
                          {{"main thread ($1):", body}});
}

const char kCrc[] = "$0012abcd, $9e6495a3, $00000000";

size_t CountOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

class ReportFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings_ = OpenModuleSettings(GetModuleHandleA(nullptr));
    exception_ = CreateTIKVException(settings_.Get(), ExceptionFacts());
    folder_ = FreshTempFolder("qx_report_file_" + std::to_string(counter_++) + "_");
    path_ = folder_ + "sub\\bugreport.txt";
  }
  ComPtr<IKVModuleSettings> settings_;
  ComPtr<IKVException> exception_;
  std::string folder_, path_;
  static int counter_;
};
int ReportFileTest::counter_ = 0;

TEST_F(ReportFileTest, FirstSaveCreatesFolderThenAppends) {
  std::string first = MakeReport(kCrc, "1");
  ASSERT_TRUE(SaveReportFile(path_, first, nullptr, exception_.Get(), true));
  EXPECT_EQ(ReadFileText(path_), first + "\r\n\r\n");
  std::string second = MakeReport("will be calculated soon", "2");
  ASSERT_TRUE(SaveReportFile(path_, second, nullptr, exception_.Get(), true));
  EXPECT_EQ(ReadFileText(path_), first + "\r\n\r\n" + second + "\r\n\r\n");
  // A checksum that is not final never makes a duplicate.
  ASSERT_TRUE(SaveReportFile(path_, second, nullptr, exception_.Get(), true));
  EXPECT_EQ(CountOf(ReadFileText(path_), "date/time"), 3u);
}

TEST_F(ReportFileTest, DuplicateSavedThreeTimesKeepsOneWithCount) {
  std::string other = MakeReport("$11111111, $22222222, $33333333", "0");
  ASSERT_TRUE(SaveReportFile(path_, other, nullptr, exception_.Get(), true));
  for (const char* tag : {"1", "2", "3"})
    ASSERT_TRUE(SaveReportFile(path_, MakeReport(kCrc, tag), nullptr, exception_.Get(), true));
  std::string text = ReadFileText(path_);
  std::string newest = MakeReport(kCrc, "3");
  InsertHeaderLine(newest, "count", "callstack crc", "3");
  EXPECT_EQ(text, other + "\r\n\r\n" + newest + "\r\n\r\n");
}

TEST_F(ReportFileTest, TrimmingKeepsRecentWholeReports) {
  std::string content;
  int i = 0;
  while (content.size() <= 100000)
    content += MakeReport("will be calculated soon", std::to_string(i++), std::string(900, 'x')) +
               "\r\n\r\n";
  CreateFolderPath(path_);
  WriteFileText(path_, content);
  std::string fresh = MakeReport(kCrc, "new");
  ASSERT_TRUE(SaveReportFile(path_, fresh, nullptr, exception_.Get(), true));
  std::string text = ReadFileText(path_);
  ASSERT_GT(text.size(), fresh.size());
  std::string kept = text.substr(0, text.size() - fresh.size() - 4);
  EXPECT_LT(kept.size(), 75000u);
  EXPECT_EQ(content.compare(content.size() - kept.size(), kept.size(), kept), 0);
  EXPECT_TRUE(IsReportStart(kept, 0));
  EXPECT_EQ(text.substr(kept.size()), fresh + "\r\n\r\n");

  // One report larger than the limit is never cut.
  std::string single = MakeReport("will be calculated soon", "big", std::string(120000, 'y'));
  WriteFileText(path_, single + "\r\n\r\n");
  ASSERT_TRUE(SaveReportFile(path_, fresh, nullptr, exception_.Get(), true));
  EXPECT_EQ(ReadFileText(path_), single + "\r\n\r\n" + fresh + "\r\n\r\n");
}

TEST_F(ReportFileTest, ReplacesWithoutAppendingAndMarksAutoSave) {
  exception_->SetAppendBugReps(false);
  ASSERT_TRUE(SaveReportFile(path_, MakeReport(kCrc, "1") + std::string(500, 'z'), nullptr,
                             exception_.Get(), true));
  ASSERT_TRUE(SaveReportFile(path_, MakeReport(kCrc, "2"), nullptr, exception_.Get(), true));
  EXPECT_EQ(ReadFileText(path_), MakeReport(kCrc, "2") + "\r\n\r\n");

  // Without a name the settings' file next to the executable is used, and the exception
  // remembers that it was saved automatically.
  exception_->SetBugRepFile(folder_ + "auto\\%appname%.txt");
  auto ex = exception_.As<IKVExceptionEx>(IID_IKVExceptionEx);
  EXPECT_FALSE(ex->AutoSaved());
  // The settings already put the executable's whole file name in place of "%appname%".
  EXPECT_EQ(ReportFileName(exception_.Get()), folder_ + "auto\\report_win_test.exe.txt");
  ASSERT_TRUE(SaveReportFile("", "r", nullptr, exception_.Get(), true));
  EXPECT_TRUE(ex->AutoSaved());
  EXPECT_EQ(ReadFileText(folder_ + "auto\\report_win_test.exe.txt"), "r\r\n\r\n");
}

TEST_F(ReportFileTest, AutoSaveOnlyOnceAndNotWhenSent) {
  exception_->SetBugRepFile(folder_ + "auto.txt");
  exception_->SetWantReport(false);  // the report text is then the cached text
  exception_->SetReportText("date/time: x");
  auto ex = exception_.As<IKVExceptionEx>(IID_IKVExceptionEx);
  ex->SetSent(true);
  AutoSaveCheck(exception_.Get());
  EXPECT_EQ(ReadFileText(folder_ + "auto.txt"), "<missing>");
  ex->SetSent(false);
  AutoSaveCheck(exception_.Get());
  AutoSaveCheck(exception_.Get());
  EXPECT_EQ(ReadFileText(folder_ + "auto.txt"), "date/time: x\r\n\r\n");
}

TEST_F(ReportFileTest, RelativeNamesLandBesideTheExecutable) {
  char exe[MAX_PATH];
  GetModuleFileNameA(nullptr, exe, MAX_PATH);
  std::string folder = exe;
  folder.erase(folder.find_last_of('\\') + 1);
  std::string relative = "qx_report_rel_" + std::to_string(GetCurrentProcessId()) + "\\x\\..\\r.txt";
  exception_->SetBugRepFile(relative);
  ASSERT_TRUE(SaveReportFile("", "r", nullptr, exception_.Get(), true));
  std::string expected = folder + "qx_report_rel_" + std::to_string(GetCurrentProcessId());
  EXPECT_EQ(ReadFileText(expected + "\\r.txt"), "r\r\n\r\n");
  DeleteFolderTree(expected);
}

TEST_F(ReportFileTest, NoDialogWhileTheProcessIsBlocked) {
  Hooks().processBlocked = [](DWORD) { return true; };
  exception_->SetBugRepFile(folder_ + "dialog.txt");
  EXPECT_FALSE(SaveReportFile("", "r", nullptr, exception_.Get(), false));
  EXPECT_FALSE(exception_->SaveReport(nullptr));
  Hooks().processBlocked = nullptr;
  EXPECT_EQ(ReadFileText(folder_ + "dialog.txt"), "<missing>");
}

// A child of this program that saves `count` reports into `path`; with `blockedEvent` it
// sets that named event when its save first finds the file held by another.
HANDLE StartSaver(const std::string& path, const std::string& tag, int count,
                  const std::string& blockedEvent = "") {
  return StartChild("\"" + SelfPath() + "\" --save " + path + " " + tag + " " +
                    std::to_string(count) + (blockedEvent.empty() ? "" : " " + blockedEvent));
}

TEST_F(ReportFileTest, TwoProcessesSavingAtOnceKeepEveryReport) {
  CreateFolderPath(path_);
  HANDLE a = StartSaver(path_, "a", 25);
  HANDLE b = StartSaver(path_, "b", 25);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(FinishChild(a), 0);
  EXPECT_EQ(FinishChild(b), 0);
  std::string text = ReadFileText(path_);
  // Every report whole and in its own place: the file is exactly a sequence of them.
  size_t at = 0;
  int seen = 0;
  while (at < text.size()) {
    ASSERT_TRUE(IsReportStart(text, at)) << at;
    size_t next = text.find("\r\n\r\ndate/time", at);
    size_t end = next == std::string::npos ? text.size() : next + 4;
    std::string report = text.substr(at, end - at - 4);
    std::string tag = ReadHeaderValue(report, "exception number");
    std::string crc = ReadHeaderValue(report, "callstack crc");
    EXPECT_EQ(report, MakeReport(crc, tag, std::string(2000, tag[0]))) << tag;
    ++seen;
    at = end;
  }
  EXPECT_EQ(seen, 50);
}

TEST_F(ReportFileTest, SaveWaitsForAFileHeldByAnotherSave) {
  CreateFolderPath(path_);
  HANDLE held = CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const std::string eventName = "qxSaverBlocked" + std::to_string(GetCurrentProcessId());
  HANDLE blocked = CreateEventA(nullptr, TRUE, FALSE, eventName.c_str());
  ASSERT_NE(blocked, nullptr);
  HANDLE saver = StartSaver(path_, "c", 1, eventName);
  ASSERT_NE(saver, nullptr);
  // The save found the file held: it is waiting, has written nothing, and has not given up.
  EXPECT_EQ(WaitForSingleObject(blocked, 20000), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(saver, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(GetFileSize(held, nullptr), 0u);
  CloseHandle(held);
  EXPECT_EQ(FinishChild(saver), 0);
  CloseHandle(blocked);
  EXPECT_EQ(CountOf(ReadFileText(path_), "date/time"), 1u);
}

// The saver child watches its own opens through its import table: the report file code
// calls CreateFileA there, and a sharing violation means the file is held by another.
using CreateFileAFunction = HANDLE(WINAPI*)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD,
                                            DWORD, HANDLE);
CreateFileAFunction gRealCreateFileA = nullptr;
HANDLE gBlockedEvent = nullptr;

HANDLE WINAPI WatchingCreateFileA(LPCSTR name, DWORD access, DWORD share,
                                  LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                  HANDLE model) {
  HANDLE file = gRealCreateFileA(name, access, share, security, disposition, flags, model);
  DWORD error = GetLastError();
  if (file == INVALID_HANDLE_VALUE && error == ERROR_SHARING_VIOLATION) SetEvent(gBlockedEvent);
  SetLastError(error);
  return file;
}

// Points this program's import slot of kernel32!`function` at `replacement`; the previous
// address goes into `saved`.
bool RedirectOwnImport(const char* function, void* replacement, void** saved) {
  auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto* library = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       library->Name != 0; ++library) {
    if (lstrcmpiA(reinterpret_cast<const char*>(base + library->Name), "kernel32.dll") != 0)
      continue;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
      DWORD protection = 0;
      if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE,
                          &protection))
        return false;
      *saved = reinterpret_cast<void*>(slots->u1.Function);
      slots->u1.Function = reinterpret_cast<uintptr_t>(replacement);
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
      return true;
    }
  }
  return false;
}

// The child process: saves `count` distinct reports into `path`.
int RunSaver(const std::string& path, const std::string& tag, int count,
             const char* blockedEvent) {
  if (blockedEvent != nullptr) {
    gBlockedEvent = OpenEventA(EVENT_MODIFY_STATE, FALSE, blockedEvent);
    void* real = nullptr;
    if (gBlockedEvent == nullptr ||
        !RedirectOwnImport("CreateFileA", reinterpret_cast<void*>(&WatchingCreateFileA), &real))
      return 3;
    gRealCreateFileA = reinterpret_cast<CreateFileAFunction>(real);
  }
  ComPtr<IKVModuleSettings> settings = OpenModuleSettings(GetModuleHandleA(nullptr));
  ComPtr<IKVException> exception = CreateTIKVException(settings.Get(), ExceptionFacts());
  exception->SetBugRepFileSize(0);
  for (int i = 0; i < count; ++i) {
    char crc[40];
    wsprintfA(crc, "$%08x, $%08x, $00000000", i, tag[0]);
    std::string report = MakeReport(crc, tag + std::to_string(i), std::string(2000, tag[0]));
    if (!SaveReportFile(path, report, nullptr, exception.Get(), true)) return 1;
  }
  return 0;
}

}  // namespace
}  // namespace qx

int main(int argc, char** argv) {
  if ((argc == 5 || argc == 6) && std::string(argv[1]) == "--save")
    return qx::RunSaver(argv[2], argv[3], std::atoi(argv[4]), argc == 6 ? argv[5] : nullptr);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
