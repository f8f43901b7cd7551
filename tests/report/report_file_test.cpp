// The report file under Wine: creation, appending, duplicates with their count, trimming,
// replacing, and two processes saving into one file at the same time.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

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

std::string gSelf;

HANDLE StartSaver(const std::string& path, const std::string& tag, int count) {
  std::string command = "\"" + gSelf + "\" --save " + path + " " + tag + " " + std::to_string(count);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return nullptr;
  CloseHandle(process.hThread);
  return process.hProcess;
}

DWORD Finish(HANDLE process) {
  WaitForSingleObject(process, 60000);
  DWORD code = 99;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  return code;
}

TEST_F(ReportFileTest, TwoProcessesSavingAtOnceKeepEveryReport) {
  CreateFolderPath(path_);
  HANDLE a = StartSaver(path_, "a", 25);
  HANDLE b = StartSaver(path_, "b", 25);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(Finish(a), 0u);
  EXPECT_EQ(Finish(b), 0u);
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
  HANDLE saver = StartSaver(path_, "c", 1);
  ASSERT_NE(saver, nullptr);
  Sleep(1500);
  CloseHandle(held);
  EXPECT_EQ(Finish(saver), 0u);
  EXPECT_EQ(CountOf(ReadFileText(path_), "date/time"), 1u);
}

// The child process: saves `count` distinct reports into `path`.
int RunSaver(const std::string& path, const std::string& tag, int count) {
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
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  qx::gSelf = self;
  if (argc == 5 && std::string(argv[1]) == "--save")
    return qx::RunSaver(argv[2], argv[3], std::atoi(argv[4]));
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
