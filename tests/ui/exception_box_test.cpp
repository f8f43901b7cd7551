// The exception box on a real (virtual) display, opened by the handling pipeline for an
// exception handed over on a worker thread, driven by messages from the test's thread and
// read back through its controls. Endings of the process (close, the automatic close) run
// in child processes of this window program.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "bitmap_win.h"
#include "box_driver_win.h"
#include "handler_tables_win.h"
#include "handling_test_support.h"
#include "image_files.h"
#include "pipeline_win.h"
#include "report_plugins_win.h"
#include "reporter_lifecycle_win.h"
#include "settings_open_win.h"

namespace qx {
namespace {

// ---- a report section that waits until the test lets it go ----

HANDLE gSectionGate = nullptr;  // manual reset; signalled unless a test holds the section

std::string SlowPart() {
  WaitForSingleObject(gSectionGate, 30000);
  return "first   1\r\nsecond  2";
}

// ---- recorded action codes ----

std::mutex gActionsLock;
std::vector<int32_t> gActions;
std::atomic<bool> gHandleActions{false};

void __stdcall RecordAction(int32_t action, IKVException*, bool& handled) {
  {
    std::lock_guard<std::mutex> guard(gActionsLock);
    gActions.push_back(action);
  }
  if (gHandleActions) handled = true;
}

std::vector<int32_t> Actions() {
  std::lock_guard<std::mutex> guard(gActionsLock);
  return gActions;
}

// ---- the fault ----

// The worker's own frame, which its call stack names.
__attribute__((noinline)) void FaultingWorker(const char* message) {
  ETestError error(message);
  uint32_t here;  // the fault's address: this function's code
  asm volatile("call 1f\n1: pop %0" : "=r"(here));
  HandOverException(kTypeException, &error, here, nullptr, nullptr, nullptr, 16, nullptr, 0, 0,
                    true);
  asm volatile("" ::: "memory");  // keeps the call a call, not a jump
}

// A worker thread hands an exception over and waits, as a faulting thread does, until the
// box and its buttons are done.
class WorkerFault {
 public:
  explicit WorkerFault(const char* message) : message_(message) {
    thread_ = std::thread([this] {
      FaultingWorker(message_);
      done_ = true;
    });
  }
  ~WorkerFault() {
    // A box a failed test left open is continued, so that the worker can end.
    if (!done_)
      WaitUntil([&] {
        if (HWND box = VisibleBox()) PostMessageA(box, kBoxClose, 0, 0);
        return done_.load();
      });
    if (thread_.joinable()) thread_.join();
  }
  bool Done() const { return done_; }

 private:
  const char* message_;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

// What the screen shows of the window, as a PNG file beside this program.
void SaveScreenshot(HWND window, const std::string& name) {
  WindowPicture picture = CaptureWindowPicture(window);
  PixelView view{picture.width, picture.height, picture.bits.data()};
  WriteWholeFile(SelfFolder() + name, ColourPngBytes(view));
}

class ExceptionBox : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearHandlerTables();
    std::lock_guard<std::mutex> guard(gActionsLock);
    gActions.clear();
    gHandleActions = false;
    SetEvent(gSectionGate);
    MainSettings()->SetAutoShowBugRep(false);
    MainSettings()->SetGnShowCfg(0);
  }
  void TearDown() override {
    ClearHandlerTables();
    SetEvent(gSectionGate);
    MainSettings()->SetAutoShowBugRep(false);
    MainSettings()->SetGnShowCfg(0);
  }
};

// ---- the full box ----

TEST_F(ExceptionBox, AFullBoxShowsTheReportTabsInOrderAndFillsTheCallStackColumns) {
  MainSettings()->SetAutoShowBugRep(true);
  ResetEvent(gSectionGate);
  WorkerFault fault("worker failure");
  HWND box = WaitForBox();
  ASSERT_NE(box, nullptr);
  HWND tabs = ChildOfClass(box, WC_TABCONTROLA);
  ASSERT_NE(tabs, nullptr);
  EXPECT_EQ(WindowText(box), "exception_box_test.exe");
  EXPECT_EQ(WindowText(ChildOfClass(box, "STATIC")),
            "An error occurred in the application.\r\n\r\nworker failure.");
  // The show button is gone: the report is shown already.
  EXPECT_EQ(BoxButton(box, 3), nullptr);
  EXPECT_NE(BoxButton(box, 0), nullptr);

  // A hand-over without a processor context has no register and stack-dump sections.
  const std::vector<std::string> expected = {"general", "call stacks", "modules", "processes",
                                             "slow part", "disasm"};
  EXPECT_TRUE(WaitUntil([&] { return TabCaptions(tabs) == expected; }));
  EXPECT_EQ(TabCaptions(tabs), expected);

  // The held section shows its placeholder; it is rebuilt when it arrives.
  SelectTab(box, tabs, 4);
  HWND edit = nullptr;
  EXPECT_TRUE(WaitUntil([&] { return (edit = ChildOfClass(box, "Edit")) != nullptr; }));
  EXPECT_EQ(WindowText(edit), ">> will be calculated soon");
  SetEvent(gSectionGate);
  HWND list = nullptr;
  EXPECT_TRUE(WaitUntil([&] { return (list = ChildOfClass(box, WC_LISTVIEWA)) != nullptr; }));
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(ListRows(list), 2);
  EXPECT_EQ(ListCell(list, 0, 0), "first");
  EXPECT_EQ(ListCell(list, 1, 1), "2");

  // The call stacks, once the worker is traced: the crashed worker first, its frames in
  // their columns. The page is rebuilt as threads are traced, so it is read as a whole.
  SelectTab(box, tabs, 1);
  std::vector<std::string> titles;
  std::vector<std::vector<std::string>> rows;
  auto ownFrame = [&](const std::vector<std::string>& row) {
    return row[2] == "exception_box_test.exe" && row[6].find("FaultingWorker") != std::string::npos;
  };
  EXPECT_TRUE(WaitUntil([&] {
    list = ChildOfClass(box, WC_LISTVIEWA);
    if (list == nullptr) return false;
    titles.clear();
    rows.clear();
    for (int c = 0; c < 7; ++c) titles.push_back(ListColumnTitle(list, c));
    for (int r = 0; r < ListRows(list); ++r) {
      rows.emplace_back();
      for (int c = 0; c < 7; ++c) rows.back().push_back(ListCell(list, r, c));
    }
    return rows.size() > 2 && ownFrame(rows[1]);
  }));
  EXPECT_EQ(titles, (std::vector<std::string>{"address", "rel.", "module", "unit", "line", "rel.",
                                              "function"}));
  ASSERT_GT(rows.size(), 2u);
  EXPECT_EQ(rows[0][0], ">>");
  EXPECT_EQ(rows[0][6].substr(0, 7), "thread ");
  EXPECT_EQ(rows[1][0].size(), 8u);
  EXPECT_EQ(rows[1][0].find_first_not_of("0123456789ABCDEF"), std::string::npos) << rows[1][0];
  EXPECT_EQ(rows[1][1].substr(0, 1), "+");
  EXPECT_EQ(rows[1][3], "exception_box_test.cpp");
  EXPECT_FALSE(rows[1][4].empty());  // line
  EXPECT_NE(rows[1][6].find("FaultingWorker"), std::string::npos);

  SaveScreenshot(box, "exception_box_full.png");
  Click(BoxButton(box, 4));  // continue
  EXPECT_TRUE(WaitUntil([&] { return fault.Done(); }));
  EXPECT_EQ(VisibleBox(), nullptr);
}

// ---- buttons and actions ----

TEST_F(ExceptionBox, EveryButtonReachesItsActionAndAHandlerTakesAllButContinueOver) {
  RegisterActionHandler(RecordAction, kSyncAnyThread);
  gHandleActions = true;
  WorkerFault fault("buttons");
  HWND box = WaitForBox();
  ASSERT_NE(box, nullptr);
  for (int kind : {0, 1, 2, 5, 6}) Click(BoxButton(box, kind));  // send save print restart close
  PostMessageA(box, WM_KEYDOWN, VK_F1, 0);
  EXPECT_TRUE(WaitUntil([&] { return Actions().size() == 6; }));
  EXPECT_EQ(Actions(), (std::vector<int32_t>{0, 1, 2, 9, 10, 7}));
  EXPECT_EQ(VisibleBox(), box);  // handled: nothing of the reporter's own happened

  // Show: the box comes back as a full box with the report.
  Click(BoxButton(box, 3));
  HWND full = nullptr;
  EXPECT_TRUE(WaitUntil([&] {
    full = VisibleBox();
    return full != nullptr && ChildOfClass(full, WC_TABCONTROLA) != nullptr;
  }));
  ASSERT_NE(full, nullptr);
  EXPECT_EQ(Actions().back(), 6);

  // Continue closes the box although the handler took it.
  Click(BoxButton(full, 4));
  EXPECT_TRUE(WaitUntil([&] { return fault.Done(); }));
  EXPECT_EQ(Actions().back(), 8);
  EXPECT_EQ(VisibleBox(), nullptr);
}

// Ctrl+C as the keyboard delivers it after translation: the character 3.
std::string CopiedBy(HWND box) {
  DWORD before = GetClipboardSequenceNumber();
  PostMessageA(box, WM_CHAR, 3, 0);
  WaitUntil([&] { return GetClipboardSequenceNumber() != before; });
  return ClipboardText();
}

TEST_F(ExceptionBox, CtrlCCopiesTheMessageOrWithTheReportShownTheReport) {
  {
    WorkerFault fault("copied");
    HWND box = WaitForBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(CopiedBy(box), "An error occurred in the application.\r\n\r\ncopied.");
    PostMessageA(box, WM_KEYDOWN, VK_ESCAPE, 0);  // the close request continues
    EXPECT_TRUE(WaitUntil([&] { return fault.Done(); }));
  }
  MainSettings()->SetAutoShowBugRep(true);
  WorkerFault fault("copied with report");
  HWND box = WaitForBox();
  ASSERT_NE(box, nullptr);
  std::string copied = CopiedBy(box);
  EXPECT_NE(copied.find("exception message : copied with report."), std::string::npos) << copied;
  EXPECT_NE(copied.find("\r\n\r\nmodules:"), std::string::npos);
  Click(BoxButton(box, 4));
  EXPECT_TRUE(WaitUntil([&] { return fault.Done(); }));
}

TEST_F(ExceptionBox, AShortBoxWithDetailsComesBackFullAndShowsTheReport) {
  MainSettings()->SetGnShowCfg(2);
  WorkerFault fault("short");
  HWND box = WaitForBox();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(WindowText(BoxButton(box, 7)), "&OK");
  EXPECT_EQ(WindowText(BoxButton(box, 8)), "&Details");
  EXPECT_EQ(BoxButton(box, 0), nullptr);
  SaveScreenshot(box, "exception_box_short.png");
  Click(BoxButton(box, 8));
  HWND full = nullptr;
  EXPECT_TRUE(WaitUntil([&] {
    full = VisibleBox();
    return full != nullptr && ChildOfClass(full, WC_TABCONTROLA) != nullptr;
  }));
  ASSERT_NE(full, nullptr);
  HWND list = nullptr;
  EXPECT_TRUE(WaitUntil([&] { return (list = ChildOfClass(full, WC_LISTVIEWA)) != nullptr; }));
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(ListColumnTitle(list, 0), "description");
  EXPECT_GT(ListRows(list), 5);
  Click(BoxButton(full, 4));
  EXPECT_TRUE(WaitUntil([&] { return fault.Done(); }));
}

// A full box that does not show the report opens it for the developer who presses the
// details hot key with Shift, Ctrl and Alt.
TEST_F(ExceptionBox, TheDetailsHotKeyWithShiftCtrlAltOpensTheReport) {
  MainSettings()->SetGnShowCfg(0);
  WorkerFault fault("hot key");
  HWND box = WaitForBox();
  ASSERT_NE(box, nullptr);
  ASSERT_NE(BoxButton(box, 4), nullptr);
  EXPECT_EQ(ChildOfClass(box, WC_TABCONTROLA), nullptr);
  // The box reads the modifiers from the key state, which this thread shares with the
  // box's once their input is attached.
  const DWORD boxThread = GetWindowThreadProcessId(box, nullptr);
  AttachThreadInput(GetCurrentThreadId(), boxThread, TRUE);
  BYTE keys[256];
  GetKeyboardState(keys);
  keys[VK_SHIFT] = keys[VK_CONTROL] = keys[VK_MENU] = 0x80;
  SetKeyboardState(keys);
  PostMessageA(box, WM_KEYDOWN, 'D', 0);
  HWND full = nullptr;
  EXPECT_TRUE(WaitUntil([&] {
    full = VisibleBox();
    return full != nullptr && ChildOfClass(full, WC_TABCONTROLA) != nullptr;
  }));
  keys[VK_SHIFT] = keys[VK_CONTROL] = keys[VK_MENU] = 0;
  SetKeyboardState(keys);
  AttachThreadInput(GetCurrentThreadId(), boxThread, FALSE);
  ASSERT_NE(full, nullptr);
  HWND list = nullptr;
  EXPECT_TRUE(WaitUntil([&] { return (list = ChildOfClass(full, WC_LISTVIEWA)) != nullptr; }));
  EXPECT_GT(ListRows(list), 5);
  Click(BoxButton(full, 4));
  EXPECT_TRUE(WaitUntil([&] { return fault.Done(); }));
}

// Owner-drawn buttons by default; with UglyBtns the system draws them.
TEST_F(ExceptionBox, UglyButtonsAreDrawnByTheSystem) {
  for (bool ugly : {false, true}) {
    SCOPED_TRACE(ugly);
    MainSettings()->SetUglyBtns(ugly);
    WorkerFault fault("buttons");
    HWND box = WaitForBox();
    ASSERT_NE(box, nullptr);
    int buttons = 0;
    for (int kind = 0; kind < 7; ++kind) {
      HWND button = BoxButton(box, kind);
      if (button == nullptr) continue;
      ++buttons;
      EXPECT_EQ(GetWindowLongA(button, GWL_STYLE) & BS_TYPEMASK,
                ugly ? BS_PUSHBUTTON : BS_OWNERDRAW) << kind;
    }
    EXPECT_GE(buttons, 4);
    Click(BoxButton(box, 4));
    EXPECT_TRUE(WaitUntil([&] { return fault.Done(); }));
  }
  MainSettings()->SetUglyBtns(false);
}

// ---- endings, in child processes ----

TEST_F(ExceptionBox, AShortBoxWithoutDetailsClosesTheProgramOnTheCloseRequest) {
  EXPECT_EQ(RunChild("--child=short-close"), 1);
}

TEST_F(ExceptionBox, AutoClosePressesCloseAfterTheDelayWithTheBarDrawnUnlessAButtonIsPressed) {
  std::string file = TempPath("box_countdown_");
  DeleteFileA(file.c_str());
  EXPECT_EQ(RunChild("--child=autoclose \"" + file + "\""), 1);
  EXPECT_EQ(ReadWholeFile(file), "bar drawn");
  DeleteFileA(file.c_str());
  EXPECT_EQ(RunChild("--child=autoclose-interrupted"), 0);
}

// ---- child scenarios ----

void WriteText(const char* path, const std::string& text) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

// Whether the countdown bar's colour shows near the bottom left of the button.
bool BarDrawn(HWND button) {
  RECT rect;
  GetClientRect(button, &rect);
  HDC dc = GetDC(button);
  COLORREF pixel = GetPixel(dc, 5, rect.bottom - 5);
  ReleaseDC(button, dc);
  return pixel == GetSysColor(COLOR_HIGHLIGHT);
}

int RunChildScenario(const std::string& scenario, int argc, char** argv) {
  ComPtr<IKVModuleSettings> main = MainSettings();
  if (scenario == "short-close") {
    main->SetGnShowCfg(3);
    std::thread user([] {
      if (HWND box = WaitForBox()) PostMessageA(box, WM_CLOSE, 0, 0);
    });
    ETestError error("closing");
    HandOverException(kTypeException, &error, 0, nullptr, nullptr, nullptr, 16, nullptr, 0, 0, true);
    user.join();
    return 0;
  }
  if (scenario == "autoclose" && argc >= 3) {
    main->SetAutoClose(1);
    main->SetAutoDelay(2);
    const char* path = argv[2];
    std::thread watcher([path] {
      HWND box = WaitForBox();
      HWND close = BoxButton(box, 6);
      if (close != nullptr && WaitUntil([&] { return BarDrawn(close); }, 20000))
        WriteText(path, "bar drawn");
    });
    watcher.detach();  // the close ends the process
    ETestError error("closing automatically");
    HandOverException(kTypeException, &error, 0, nullptr, nullptr, nullptr, 16, nullptr, 0, 0, true);
    return 0;
  }
  if (scenario == "autoclose-interrupted") {
    main->SetAutoClose(1);
    main->SetAutoDelay(30);
    std::thread user([] {
      if (HWND box = WaitForBox()) Click(BoxButton(box, 4));
    });
    ETestError error("continued");
    HandOverException(kTypeException, &error, 0, nullptr, nullptr, nullptr, 16, nullptr, 0, 0, true);
    user.join();
    return 0;
  }
  return 3;
}

}  // namespace
}  // namespace qx

int main(int argc, char** argv) {
  qx::gSectionGate = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  qx::ReporterStartup();
  qx::RegisterReportPlugin("slow part", "a section the test holds back", qx::SlowPart, true);
  int result;
  if (argc >= 2 && std::strncmp(argv[1], "--child=", 8) == 0) {
    result = qx::RunChildScenario(argv[1] + 8, argc, argv);
  } else {
    testing::InitGoogleTest(&argc, argv);
    result = RUN_ALL_TESTS();
  }
  qx::ReporterShutdown();
  return result;
}
