// Sending a report under Wine: the MAPI hand-off against our own mapi32.dll beside this
// program (it records what it received and answers as QX_MAPI_RESULT says), the "mailto:"
// hand-off against a recording program registered for mailto links in this prefix, and
// SendReportEx around them: attachments, zip grouping, the report file's copy, the
// progress window, the failure box, background sends and the sent flag, and the send
// action that the pipeline and a program's own code start.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "child_process_win.h"
#include "com_ptr_win.h"
#include "delivery_lifecycle_win.h"
#include "delivery_test_support.h"
#include "desktop_mail_win.h"
#include "exception_object_win.h"
#include "field_lists_win.h"
#include "handler_tables_win.h"
#include "pipeline_win.h"
#include "process_registries.h"
#include "report_layout.h"
#include "screen_capture_win.h"
#include "send_report_win.h"
#include "settings_object_win.h"
#include "temp_folder_win.h"
#include "test_files.h"

namespace qx {
namespace {

constexpr DWORD kLimitMs = 30000;

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void WriteWhole(const std::string& path, const std::string& data) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  std::fwrite(data.data(), 1, data.size(), f);
  std::fclose(f);
}

// Files left in the reporter's temporary folder.
std::vector<std::string> TempFiles() {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  std::string folder = ReporterTempFolder();
  HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) names.push_back(found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

std::string SampleReport(const std::string& message = "Access violation at address 0040A000.") {
  return ReportLayoutText({{"date/time", "2026-12-09, 02:00:00, 000ms"},
                           {"exception class", "EAccessViolation"},
                           {"exception message", message}},
                          {{"call stack", "0040a000 +000 send_win_test.exe main.cpp 12 +0 Crash"}});
}

// ---- the MAPI stand-in ----

std::string MapiRecordPath() { return SelfFolder() + "mapi_record.txt"; }

void MapiAnswers(int result) {
  DeleteFileA(MapiRecordPath().c_str());
  SetEnvironmentVariableA("QX_MAPI_RECORD", MapiRecordPath().c_str());
  SetEnvironmentVariableA("QX_MAPI_RESULT", std::to_string(result).c_str());
  SetEnvironmentVariableA("QX_MAPI_WAIT", nullptr);
}

std::vector<std::string> MapiRecord() { return LinesOfRecord(ReadFileBytes(MapiRecordPath())); }

std::string MapiRecordLine(size_t index) {
  std::vector<std::string> lines = MapiRecord();
  return index < lines.size() ? lines[index] : "(no line " + std::to_string(index) + ")";
}

// ---- the registered mailto program ----

constexpr const char* kMailtoKey = "mailto\\shell\\open\\command";

std::string MailtoRecordPath() { return SelfFolder() + "mailto_record.txt"; }
std::string Recorder() { return SelfFolder() + "mailto_recorder.exe"; }

// Registers a command for mailto links in this prefix and puts the former one back.
class MailtoRegistration {
 public:
  explicit MailtoRegistration(const std::string& command, DWORD type = REG_SZ) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, kMailtoKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
      char value[1024] = {};
      DWORD size = sizeof value - 1;
      had_ = RegQueryValueExA(key, nullptr, nullptr, &type_, reinterpret_cast<BYTE*>(value),
                              &size) == ERROR_SUCCESS;
      former_ = value;
      RegCloseKey(key);
    }
    Set(command, type);
    DeleteFileA(MailtoRecordPath().c_str());
  }
  ~MailtoRegistration() {
    if (had_) {
      Set(former_, type_);
    } else {
      RegDeleteKeyA(HKEY_CLASSES_ROOT, kMailtoKey);
    }
  }
  static void Set(const std::string& command, DWORD type) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, kMailtoKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
      return;
    RegSetValueExA(key, nullptr, 0, type, reinterpret_cast<const BYTE*>(command.c_str()),
                   static_cast<DWORD>(command.size() + 1));
    RegCloseKey(key);
  }

 private:
  bool had_ = false;
  DWORD type_ = REG_SZ;
  std::string former_;
};

// Waits for the recorder's event (made before the send) and reads what it recorded.
class MailtoWait {
 public:
  MailtoWait() : event_(CreateEventA(nullptr, TRUE, FALSE, "qx_mailto_recorded")) {}
  ~MailtoWait() { CloseHandle(event_); }
  std::string Recorded() {
    if (WaitForSingleObject(event_, kLimitMs) != WAIT_OBJECT_0) return "(nothing recorded)";
    return ReadFileBytes(MailtoRecordPath());
  }
  bool Started() const { return WaitForSingleObject(event_, 0) == WAIT_OBJECT_0; }

 private:
  HANDLE event_;
};

// ---- windows the send opens ----

// The classes of the windows created on this thread while the object lives.
class CreatedWindows {
 public:
  CreatedWindows() {
    current_ = this;
    hook_ = SetWindowsHookExA(WH_CBT, Hook, nullptr, GetCurrentThreadId());
  }
  ~CreatedWindows() {
    UnhookWindowsHookEx(hook_);
    current_ = nullptr;
  }
  bool Saw(const std::string& className) const {
    for (const auto& name : classes_)
      if (name == className) return true;
    return false;
  }
  std::vector<std::string> titles;

 private:
  static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && current_ != nullptr) {
      char name[128] = {};
      GetClassNameA(reinterpret_cast<HWND>(wParam), name, sizeof name);
      current_->classes_.push_back(name);
      auto* create = reinterpret_cast<CBT_CREATEWNDA*>(lParam);
      if (create->lpcs->lpszName != nullptr && !IS_INTRESOURCE(create->lpcs->lpszName))
        current_->titles.push_back(create->lpcs->lpszName);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }
  static inline CreatedWindows* current_ = nullptr;
  HHOOK hook_ = nullptr;
  std::vector<std::string> classes_;
};

BOOL CALLBACK FindBox(HWND window, LPARAM parameter) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  char className[64] = {};
  GetClassNameA(window, className, sizeof className);
  if (process == GetCurrentProcessId() && std::string(className) == "#32770" &&
      IsWindowVisible(window)) {
    *reinterpret_cast<HWND*>(parameter) = window;
    return FALSE;
  }
  return TRUE;
}

// Reads and dismisses every message box of this process while it lives.
class BoxWatcher {
 public:
  BoxWatcher() : thread_([this] { Watch(); }) {}
  ~BoxWatcher() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  std::vector<std::string> Seen() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return seen_;
  }

 private:
  void Watch() {
    while (!stop_) {
      HWND box = nullptr;
      EnumWindows(FindBox, reinterpret_cast<LPARAM>(&box));
      if (box != nullptr) {
        char caption[256] = {}, text[1024] = {};
        GetWindowTextA(box, caption, sizeof caption);
        GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
        seen_.push_back(std::string(caption) + "|" + text);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        while (IsWindow(box) && !stop_) Sleep(10);
      }
      Sleep(10);
    }
  }
  std::atomic<bool> stop_{false};
  std::vector<std::string> seen_;
  std::thread thread_;
};

// ---- the exception whose settings a send reads ----

std::string ReportFilePath() { return SelfFolder() + "send_test_bugreport.txt"; }

ComPtr<IKVException> NewException() {
  ComPtr<IKVModuleSettings> settings = OpenModuleSettings(GetModuleHandleA(nullptr));
  if (!settings) return {};
  ComPtr<IKVException> exception = CreateTIKVException(settings.Get(), ExceptionFacts());
  if (!exception) return exception;
  exception->SetBugRepFile(ReportFilePath());
  exception->SetSendInBackgr(false);
  return exception;
}

bool SentFlag(IKVException* exception) {
  ComPtr<IKVExceptionEx> ex = ComPtr<IKVException>(exception).As<IKVExceptionEx>(IID_IKVExceptionEx);
  return ex && ex->Sent();
}

SendRequest RequestFor(IKVException* exception, const std::string& report = SampleReport()) {
  SendRequest request;
  request.report = report;
  request.settings = exception;
  return request;
}

class SendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteFileA(ReportFilePath().c_str());
    ClearReporterTempFolder();
    MapiAnswers(0);
    exception_ = NewException();
    ASSERT_TRUE(exception_);
  }
  void TearDown() override {
    DesktopFactsQuery = nullptr;
    DeleteFileA(ReportFilePath().c_str());
    ClearReporterTempFolder();
  }
  ComPtr<IKVException> exception_;
};

// ---- MAPI ----

TEST_F(SendTest, MapiGetsDisplayNamesExactlyAddressesAfterSmtpAndEveryFile) {
  WriteWhole(SelfFolder() + "first.txt", "first file\r\nsecond line");
  MailOutcome outcome = SendMapiMail("Bug Desk <bugs@example.org>; ops@example.org", "Subject",
                                     "Body", false, nullptr, {"one.txt", "two.txt"},
                                     {SelfFolder() + "first.txt", SelfFolder() + "absent.txt"});
  EXPECT_EQ(outcome, kMailSent);
  std::vector<std::string> expected = {
      "flags: 9",
      "parent window: none",
      "subject: \"Subject\"",
      "note text: \"Body\"",
      "recipients: 2",
      "recipient 1: class 1, name \"Bug Desk \", address \"SMTP:bugs@example.org\"",
      "recipient 2: class 1, name \"ops@example.org\", address \"SMTP:ops@example.org\"",
      "files: 2",
      "file 1: position -1, name \"one.txt\", path \"" + SelfFolder() +
          "first.txt\", 23 bytes, first line \"first file\"",
      "file 2: position -1, name \"two.txt\", path \"" + SelfFolder() + "absent.txt\", missing",
  };
  EXPECT_EQ(MapiRecord(), expected);
  DeleteFileA((SelfFolder() + "first.txt").c_str());
}

TEST_F(SendTest, MapiFlagsNineUnlessHiddenWithRecipientsAndTheResultsMapped) {
  EXPECT_EQ(SendMapiMail("", "s", "b", true, nullptr, {}, {}), kMailSent);
  EXPECT_EQ(MapiRecordLine(0), "flags: 9");  // hidden, but nobody to send to
  MapiAnswers(0);
  EXPECT_EQ(SendMapiMail("a@b.c", "s", "b", true, nullptr, {}, {}), kMailSent);
  EXPECT_EQ(MapiRecordLine(0), "flags: 0");
  MapiAnswers(1);
  EXPECT_EQ(SendMapiMail("a@b.c", "s", "b", false, nullptr, {}, {}), kMailCancelled);
  MapiAnswers(2);
  EXPECT_EQ(SendMapiMail("a@b.c", "s", "b", false, nullptr, {}, {}), kMailFailed);
}

TEST_F(SendTest, MapiTakesTheTopmostStateForTheCallOnly) {
  HWND parent = CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, "STATIC", "parent", WS_POPUP,
                                0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(parent, nullptr);
  EXPECT_EQ(SendMapiMail("a@b.c", "s", "b", false, parent, {}, {}), kMailSent);
  std::vector<std::string> record = MapiRecord();
  ASSERT_GE(record.size(), 2u);
  EXPECT_EQ(record[1], "parent window: set, not topmost");
  EXPECT_NE(GetWindowLongA(parent, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
  DestroyWindow(parent);
}

std::vector<std::string> gLendCalls;
bool gMainThreadHeld = false;

bool RecordLend(bool lend) {
  gLendCalls.push_back(lend ? "lend" : "hold again");
  return gMainThreadHeld;
}

TEST_F(SendTest, AMainThreadThePauseHoldsRunsDuringTheCallAndIsHeldAgainAfter) {
  auto former = Hooks().lendMainThread;
  Hooks().lendMainThread = RecordLend;
  gLendCalls.clear();
  gMainThreadHeld = true;
  EXPECT_EQ(SendMapiMail("a@b.c", "s", "b", false, nullptr, {}, {}), kMailSent);
  EXPECT_EQ(gLendCalls, (std::vector<std::string>{"lend", "hold again"}));
  EXPECT_EQ(MapiRecordLine(0), "flags: 9");
  // A main thread that was not held is not held afterwards either.
  gLendCalls.clear();
  gMainThreadHeld = false;
  MapiAnswers(0);
  EXPECT_EQ(SendMapiMail("a@b.c", "s", "b", false, nullptr, {}, {}), kMailSent);
  EXPECT_EQ(gLendCalls, std::vector<std::string>{"lend"});
  Hooks().lendMainThread = former;
}

// ---- mailto ----

TEST_F(SendTest, MailtoLinkEscapesSubjectAndBodyAndFollowsTheRegisteredCommand) {
  MailtoRegistration registration("\"" + Recorder() + "\" -compose \"%1\"");
  MailtoWait wait;
  ASSERT_TRUE(SendMailtoLink("a@b.c; Desk <d@e.f>", "Crash & burn? 100%", "line 1\r\nline 2"));
  EXPECT_EQ(wait.Recorded(), "\"" + Recorder() +
                                 "\" -compose \"mailto:a@b.c,Desk <d@e.f>?subject=Crash%20%26%20"
                                 "burn%3F%20100%25&body=line%201%0D%0Aline%202\"");
}

TEST_F(SendTest, MailtoCommandWithoutPercentOneGetsTheLinkAppendedAfterExpansion) {
  SetEnvironmentVariableA("QX_MAILTO_FOLDER", SelfFolder().c_str());
  MailtoRegistration registration("%QX_MAILTO_FOLDER%mailto_recorder.exe", REG_EXPAND_SZ);
  MailtoWait wait;
  ASSERT_TRUE(SendMailtoLink("", "s", "b"));
  EXPECT_EQ(wait.Recorded(), Recorder() + " mailto:?subject=s&body=b");
}

TEST_F(SendTest, MailtoFailsWithoutARegisteredProgram) {
  MailtoRegistration registration("");
  EXPECT_FALSE(SendMailtoLink("a@b.c", "s", "b"));
  MailtoRegistration::Set("\"" + Recorder() + "-not-there.exe\" %1", REG_SZ);
  EXPECT_FALSE(SendMailtoLink("a@b.c", "s", "b"));
}

TEST_F(SendTest, AVeryLongReportIsCutWithinTheLimitOnAWholeEscape) {
  MailtoRegistration registration("\"" + Recorder() + "\" %1");
  MapiAnswers(2);  // the mail program's MAPI fails: the link is next
  exception_->SetMailSubj("bug report");
  // A report whose end is line breaks only: every character around the cut belongs to an
  // escape.
  std::string report = SampleReport() + "\r\nline of the report";
  while (report.size() < 20000) report += "\r\n";
  MailtoWait wait;
  EXPECT_EQ(SendReportEx(RequestFor(exception_.Get(), report)), kMailSent);
  std::string line = wait.Recorded();
  const std::string start = "\"" + Recorder() + "\" mailto:?subject=bug%20report&body=";
  ASSERT_EQ(line.substr(0, start.size()), start);
  EXPECT_LE(line.size(), 32766u);
  EXPECT_GE(line.size(), 32764u);
  // The body up to the cut is the report, escaped, and ends on a whole escape.
  std::string body = line.substr(start.size());
  std::string escaped;
  for (char c : report) {
    if (c == '\r') escaped += "%0D";
    else if (c == '\n') escaped += "%0A";
    else if (c == ' ') escaped += "%20";
    else if (c == '+') escaped += "%2B";
    else escaped += c;
  }
  EXPECT_EQ(body, escaped.substr(0, body.size()));
  const size_t lastPercent = body.rfind('%');
  EXPECT_EQ(body.size() - lastPercent, 3u) << "an escape was cut in half";
  EXPECT_TRUE(body.ends_with("%0D") || body.ends_with("%0A"));
  EXPECT_TRUE(SentFlag(exception_.Get()));
}

// ---- SendReportEx ----

TEST_F(SendTest, ThisBuildHandsTheReportToMapiWithoutProgressWindowOrFilesLeft) {
  ComPtr<IUnknown> shot = ComPtr<IUnknown>::Adopt(CaptureScreen(false));
  ASSERT_TRUE(shot);
  SendRequest request = RequestFor(exception_.Get());
  request.screenshot = shot.Get();
  uint8_t outcome;
  {
    CreatedWindows windows;
    outcome = SendReportEx(request);
    EXPECT_FALSE(windows.Saw("prgrAlertWndClass"));
  }
  EXPECT_EQ(outcome, kMailSent);
  const std::string temp = ReporterTempFolder();
  std::vector<std::string> record = MapiRecord();
  ASSERT_EQ(record.size(), 8u);
  EXPECT_EQ(record[0], "flags: 9");
  EXPECT_EQ(record[2], "subject: \"bug report\"");
  EXPECT_EQ(record[3], "note text: \"please find the bug report attached\"");
  EXPECT_EQ(record[4], "recipients: 0");
  EXPECT_EQ(record[5], "files: 2");
  const std::string report = SampleReport();
  EXPECT_EQ(record[6], "file 1: position -1, name \"bugreport.txt\", path \"" + temp +
                           "send_test_bugreport.txt\", " + std::to_string(report.size() + 4) +
                           " bytes, first line \"date/time         : 2026-12-09, 02:00:00, 000ms\"");
  EXPECT_EQ(record[7].substr(0, record[7].find(", path")), "file 2: position -1, name \"screenshot.png\"");
  EXPECT_NE(record[7].find("path \"" + temp + "screenShot.png\""), std::string::npos) << record[7];
  EXPECT_NE(record[7].find("first line \".PNG\""), std::string::npos) << record[7];
  EXPECT_TRUE(TempFiles().empty());
  EXPECT_TRUE(SentFlag(exception_.Get()));
  EXPECT_FALSE(FileExists(ReportFilePath()));  // nothing saved next to the program
}

TEST_F(SendTest, PlaceholdersOfSubjectAndBodyTakeTheReportsClassAndMessage) {
  exception_->SetMailSubj("%exceptClass% in %appname%");
  exception_->SetMailBody("%exceptMsg%%LF%%bugReport%");
  EXPECT_EQ(SendReportEx(RequestFor(exception_.Get())), kMailSent);
  std::vector<std::string> record = MapiRecord();
  ASSERT_GE(record.size(), 4u);
  EXPECT_EQ(record[2], "subject: \"EAccessViolation in send_win_test.exe\"");
  EXPECT_EQ(record[3], "note text: \"Access violation at address 0040A000.\r");
  exception_->SetMailBody("[%exceptMsg%]");
  MapiAnswers(0);
  SendRequest request = RequestFor(exception_.Get());
  request.report = ReportLayoutText({{"exception class", "EAbort"}}, {});
  EXPECT_EQ(SendReportEx(request), kMailSent);
  EXPECT_EQ(MapiRecordLine(3), "note text: \"[Unknown]\"");
}

TEST_F(SendTest, UserAbortInMapiStopsEverythingWithoutMessageOrSentFlag) {
  MailtoRegistration registration("\"" + Recorder() + "\" %1");
  MailtoWait wait;
  MapiAnswers(1);
  BoxWatcher boxes;
  EXPECT_EQ(SendReportEx(RequestFor(exception_.Get())), kMailCancelled);
  EXPECT_TRUE(boxes.Seen().empty());
  EXPECT_FALSE(wait.Started());
  EXPECT_FALSE(SentFlag(exception_.Get()));
  EXPECT_EQ(MapiRecord().size(), 7u);  // MAPI was asked once
}

TEST_F(SendTest, WhenEverythingFailsTheUserIsToldUnlessHiddenOrUnseen) {
  MailtoRegistration registration("");
  MapiAnswers(2);
  {
    BoxWatcher boxes;
    EXPECT_EQ(SendReportEx(RequestFor(exception_.Get())), kMailFailed);
    EXPECT_EQ(boxes.Seen(),
              std::vector<std::string>{"send_win_test.exe|Sorry, sending the bug report didn't work."});
  }
  {
    BoxWatcher boxes;
    SendRequest request = RequestFor(exception_.Get());
    request.hidden = true;
    EXPECT_EQ(SendReportEx(request), kMailFailed);
    EXPECT_TRUE(boxes.Seen().empty());
  }
  // A service nobody sees: no mail dialog and no box, a line in the report file instead.
  DesktopFactsQuery = [] { return DesktopFacts{false, true}; };
  MapiAnswers(0);
  {
    BoxWatcher boxes;
    EXPECT_EQ(SendReportEx(RequestFor(exception_.Get())), kMailFailed);
    EXPECT_TRUE(boxes.Seen().empty());
  }
  EXPECT_FALSE(FileExists(MapiRecordPath()));
  EXPECT_EQ(ReadFileBytes(ReportFilePath()),
            "Not shown (no visible desktop): Sorry, sending the bug report didn't work.\r\n\r\n");
  // ... where a hidden send naming its recipients needs no dialog and still goes out.
  exception_->SetMailAddr("bugs@example.org");
  SendRequest request = RequestFor(exception_.Get());
  request.hidden = true;
  EXPECT_EQ(SendReportEx(request), kMailSent);
  EXPECT_EQ(MapiRecordLine(0), "flags: 0");
  EXPECT_TRUE(SentFlag(exception_.Get()));
}

TEST_F(SendTest, ABackgroundSendReturnsAtOnceAndSetsTheSentFlagWhenDone) {
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, "qx_send_test_release");
  ASSERT_NE(release, nullptr);
  SetEnvironmentVariableA("QX_MAPI_WAIT", "qx_send_test_release");
  SendRequest request = RequestFor(exception_.Get());
  request.background = true;
  HANDLE thread = nullptr;
  request.threadSlot = &thread;
  // MAPI waits for the event: the call can only come back because the send went on in a
  // thread of its own.
  EXPECT_EQ(SendReportEx(request), kMailSent);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(WaitForSingleObject(thread, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_FALSE(SentFlag(exception_.Get()));
  SetEvent(release);
  ASSERT_EQ(WaitForSingleObject(thread, kLimitMs), WAIT_OBJECT_0);
  CloseHandle(thread);
  CloseHandle(release);
  EXPECT_TRUE(SentFlag(exception_.Get()));
  EXPECT_EQ(MapiRecord().size(), 7u);  // no screenshot: one file
  EXPECT_EQ(MapiRecordLine(1), "parent window: none");
}

TEST_F(SendTest, TheReportFileIsAttachedAsACopyAndDeletedAfterASuccessfulSend) {
  const std::string earlier = SampleReport("An earlier one.");
  WriteWhole(ReportFilePath(), earlier);
  // Not saved automatically yet: the copy gets the current report too.
  EXPECT_EQ(SendReportEx(RequestFor(exception_.Get())), kMailSent);
  std::vector<std::string> record = MapiRecord();
  ASSERT_EQ(record.size(), 7u);
  const size_t both = earlier.size() + SampleReport().size() + 4;
  EXPECT_NE(record[6].find(", " + std::to_string(both) + " bytes"), std::string::npos) << record[6];
  EXPECT_FALSE(FileExists(ReportFilePath()));  // DelBugRepFile
  EXPECT_TRUE(TempFiles().empty());

  // Already saved automatically: the copy is the file as it is. DelBugRepFile off keeps it.
  WriteWhole(ReportFilePath(), earlier);
  ComPtr<IKVExceptionEx> ex = exception_.As<IKVExceptionEx>(IID_IKVExceptionEx);
  ex->SetAutoSaved(true);
  exception_->SetDelBugRepFile(false);
  MapiAnswers(0);
  EXPECT_EQ(SendReportEx(RequestFor(exception_.Get())), kMailSent);
  EXPECT_NE(MapiRecordLine(6).find(", " + std::to_string(earlier.size()) + " bytes"),
            std::string::npos);
  EXPECT_EQ(ReadFileBytes(ReportFilePath()), earlier);

  // A failed send keeps the report file whatever DelBugRepFile says.
  exception_->SetDelBugRepFile(true);
  exception_->SetMailViaMailto(false);
  MapiAnswers(2);
  EXPECT_EQ(SendReportEx([&] {
              SendRequest r = RequestFor(exception_.Get());
              r.hidden = true;
              return r;
            }()),
            kMailFailed);
  EXPECT_EQ(ReadFileBytes(ReportFilePath()), earlier);

  // Without AttachBugRepFile the copy holds only this report (not what an earlier send
  // left in the temporary folder); the original stays.
  WriteWhole(ReporterTempFolder() + "send_test_bugreport.txt", "left by an earlier send\r\n");
  exception_->SetAttachBugRepFile(false);
  MapiAnswers(0);
  EXPECT_EQ(SendReportEx(RequestFor(exception_.Get())), kMailSent);
  EXPECT_NE(MapiRecordLine(6).find(", " + std::to_string(SampleReport().size() + 4) + " bytes"),
            std::string::npos);
  EXPECT_EQ(ReadFileBytes(ReportFilePath()), earlier);
}

TEST_F(SendTest, AttachmentsSharingAZipNameGoAsOneArchive) {
  const std::string keep = SelfFolder() + "kept\\";
  CreateDirectoryA(keep.c_str(), nullptr);
  SetEnvironmentVariableA("QX_MAPI_KEEP", keep.c_str());
  WriteWhole(SelfFolder() + "extra.log", "log lines");
  WriteWhole(SelfFolder() + "other.ini", "[x]");
  exception_->SetBugRepZip("bugreport.zip");
  exception_->SetScrShotZip("BugReport.ZIP");
  ComPtr<IKVAttachments> listed = ComPtr<IKVAttachments>::Adopt(exception_->AddAttachs());
  ASSERT_TRUE(listed);
  listed->Add("extra.log", "program.log", "bugreport.zip", "Log");  // beside the program
  listed->Add(SelfFolder() + "other.ini", "settings.ini", "", "Ini");
  listed->Add("no such file.txt", "none.txt", "", "None");
  ComPtr<IUnknown> shot = ComPtr<IUnknown>::Adopt(CaptureScreen(false));
  SendRequest request = RequestFor(exception_.Get());
  request.screenshot = shot.Get();
  EXPECT_EQ(SendReportEx(request), kMailSent);
  SetEnvironmentVariableA("QX_MAPI_KEEP", nullptr);
  std::vector<std::string> record = MapiRecord();
  ASSERT_EQ(record.size(), 8u);
  EXPECT_EQ(record[5], "files: 2");
  EXPECT_EQ(record[6].substr(0, record[6].find(", path")),
            "file 1: position -1, name \"bugreport.zip\"");
  EXPECT_EQ(record[7],
            "file 2: position -1, name \"settings.ini\", path \"" + SelfFolder() +
                "other.ini\", 3 bytes, first line \"[x]\"");
  EXPECT_EQ(ZipEntryNames(ReadFileBytes(keep + "bugreport.zip")),
            (std::vector<std::string>{"bugreport.txt", "screenshot.png", "program.log"}));
  EXPECT_TRUE(TempFiles().empty());
  for (const char* name : {"kept\\bugreport.zip", "kept\\other.ini", "extra.log", "other.ini"})
    DeleteFileA((SelfFolder() + name).c_str());
  RemoveDirectoryA(keep.c_str());
}

TEST_F(SendTest, ANetworkChannelShowsTheProgressWindowUnlessHiddenWithoutAutoSendBox) {
  exception_->SetUploadViaHttp(true);
  exception_->SetHttpServer("http://127.0.0.1:9/upload");
  {
    CreatedWindows windows;
    EXPECT_EQ(SendReportEx(RequestFor(exception_.Get())), kMailSent);  // MAPI after the upload
    EXPECT_TRUE(windows.Saw("prgrAlertWndClass"));
    ASSERT_FALSE(windows.titles.empty());
    EXPECT_EQ(windows.titles.front(), "Sending bug report...");
  }
  SendRequest hidden = RequestFor(exception_.Get());
  hidden.hidden = true;
  {
    CreatedWindows windows;
    MapiAnswers(0);
    SendReportEx(hidden);
    EXPECT_FALSE(windows.Saw("prgrAlertWndClass"));
  }
  exception_->SetAutoSendBox(true);
  {
    CreatedWindows windows;
    MapiAnswers(0);
    SendReportEx(hidden);
    EXPECT_TRUE(windows.Saw("prgrAlertWndClass"));
  }
  DesktopFactsQuery = [] { return DesktopFacts{false, true}; };
  {
    CreatedWindows windows;
    MapiAnswers(0);
    SendReportEx(hidden);
    EXPECT_FALSE(windows.Saw("prgrAlertWndClass"));
  }
  EXPECT_TRUE(TempFiles().empty());
}

// ---- the send action ----

std::atomic<int> gSendActions{0};
bool gHandleSend = false;

void __stdcall CountSendAction(int32_t action, IKVException*, bool& handled) {
  if (action != kActionSend) return;
  ++gSendActions;
  handled = gHandleSend;
}

TEST_F(SendTest, TheSendActionAsksHandlersThenSendsInTheBackgroundIntoTheObjectsSlot) {
  DeliveryStartup();
  HandlingStartup();
  ASSERT_NE(PipelineLinks().sendReport, nullptr);
  RegisterActionHandler(CountSendAction, kSyncAnyThread);

  gHandleSend = true;
  EXPECT_FALSE(exception_->SendReport(nullptr));
  EXPECT_EQ(gSendActions.load(), 1);
  EXPECT_FALSE(FileExists(MapiRecordPath()));

  gHandleSend = false;
  exception_->SetSendInBackgr(true);
  exception_->SetAttachScreenshot(false);
  EXPECT_TRUE(exception_->SendReport(nullptr));
  EXPECT_EQ(gSendActions.load(), 2);
  ComPtr<IKVExceptionEx> ex = exception_.As<IKVExceptionEx>(IID_IKVExceptionEx);
  HANDLE thread = *ex->SendThreadHandle();
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, kLimitMs), WAIT_OBJECT_0);
  EXPECT_TRUE(ex->Sent());
  std::vector<std::string> record = MapiRecord();
  ASSERT_EQ(record.size(), 7u);
  EXPECT_EQ(record[0], "flags: 9");

  // A second send closes the first thread's handle and keeps the new one.
  MapiAnswers(0);
  EXPECT_TRUE(exception_->SendReport(nullptr));
  HANDLE second = *ex->SendThreadHandle();
  ASSERT_NE(second, nullptr);
  ASSERT_EQ(WaitForSingleObject(second, kLimitMs), WAIT_OBJECT_0);
  DWORD flags = 0;
  EXPECT_FALSE(GetHandleInformation(thread, &flags) && thread != second);

  UnregisterActionHandler(CountSendAction);
  HandlingShutdown();
  DeliveryShutdown();
  EXPECT_EQ(PipelineLinks().sendReport, nullptr);
}

// ---- AutoSend in a whole reporter ----

TEST_F(SendTest, AFaultWithAutoSendReachesTheMailProgramZippedAndHidden) {
  const std::string keep = SelfFolder() + "autosend_kept\\";
  CreateDirectoryA(keep.c_str(), nullptr);
  DeleteFileA((keep + "bugreport.zip").c_str());
  HANDLE recorded = CreateEventA(nullptr, TRUE, FALSE, "qx_autosend_recorded");
  ASSERT_NE(recorded, nullptr);
  SetEnvironmentVariableA("QX_MAPI_DONE", "qx_autosend_recorded");
  SetEnvironmentVariableA("QX_MAPI_KEEP", keep.c_str());
  long exitCode =
      RunChildProcess("\"" + SelfFolder() + "autosend_child.exe\" qx_autosend_recorded", 90000);
  SetEnvironmentVariableA("QX_MAPI_DONE", nullptr);
  SetEnvironmentVariableA("QX_MAPI_KEEP", nullptr);
  CloseHandle(recorded);
  ASSERT_EQ(exitCode, 0);
  std::vector<std::string> record = MapiRecord();
  ASSERT_EQ(record.size(), 8u);
  EXPECT_EQ(record[0], "flags: 0");  // hidden, with a recipient: no dialog
  EXPECT_EQ(record[1], "parent window: none");
  EXPECT_EQ(record[2], "subject: \"QelException in autosend_child.exe\"");
  EXPECT_EQ(record[3].substr(0, 39), "note text: \"Access violation at address");
  EXPECT_NE(record[3].find("Write of address $0."), std::string::npos) << record[3];
  EXPECT_EQ(record[4], "recipients: 1");
  EXPECT_EQ(record[5],
            "recipient 1: class 1, name \"Bug Desk \", address \"SMTP:bugs@example.org\"");
  EXPECT_EQ(record[6], "files: 1");
  EXPECT_EQ(record[7].substr(0, record[7].find(", path")),
            "file 1: position -1, name \"bugreport.zip\"");
  std::string zip = ReadFileBytes(keep + "bugreport.zip");
  EXPECT_EQ(ZipEntryNames(zip), (std::vector<std::string>{"bugreport.txt", "screenshot.png"}));
  DeleteFileA((keep + "bugreport.zip").c_str());
  RemoveDirectoryA(keep.c_str());
}

}  // namespace
}  // namespace qx

int main(int argc, char** argv) {
  qx::InstallSettingsLists();
  ::testing::InitGoogleTest(&argc, argv);
  int result = RUN_ALL_TESTS();
  qx::RemoveSettingsLists();
  return result;
}
