// The Windows side of the attachments: the temporary folder, the bitmap object and its
// slot order, screen capture under a real display, and the links start-up installs.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "bitmap_win.h"
#include "child_process_win.h"
#include "com_ptr_win.h"
#include "delivery_lifecycle_win.h"
#include "exception_object_win.h"
#include "image_files.h"
#include "process_registries.h"
#include "screen_capture_win.h"
#include "settings_object_win.h"
#include "temp_folder_win.h"
#include "test_files.h"

namespace qx {
namespace {

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// ---- temporary folder ----

TEST(TempFolder, NamedAfterTheProgramAndClearedWhole) {
  std::string folder = ReporterTempFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '\\');
  const std::string tail = "\\delivery_win_test.qelExcept\\";
  ASSERT_GE(folder.size(), tail.size());
  EXPECT_EQ(folder.substr(folder.size() - tail.size()), tail);
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  EXPECT_EQ(folder.substr(0, std::strlen(temp)), temp);
  EXPECT_TRUE(FileExists(folder));
  ASSERT_TRUE(WriteWholeFile(folder + "a.txt", "one"));
  ASSERT_TRUE(WriteWholeFile(folder + "b.png", "two"));
  SetFileAttributesA((folder + "b.png").c_str(), FILE_ATTRIBUTE_READONLY);
  ClearReporterTempFolder();
  EXPECT_FALSE(FileExists(folder + "a.txt"));
  EXPECT_FALSE(FileExists(folder + "b.png"));
  EXPECT_FALSE(FileExists(folder.substr(0, folder.size() - 1)));
  EXPECT_EQ(ReporterTempFolder(), folder);  // made again when asked for
  EXPECT_TRUE(FileExists(folder));
  ClearReporterTempFolder();
}

// ---- bitmap object ----

// The byte offset of a virtual function in the table (the Itanium ABI stores it plus one
// in a pointer to a virtual member).
template <class F>
ptrdiff_t Slot(F member) {
  ptrdiff_t raw;
  std::memcpy(&raw, &member, sizeof raw);
  return (raw - 1) / static_cast<ptrdiff_t>(sizeof(void*));
}

TEST(Bitmap, SlotOrderAfterTheReferenceCounting) {
  EXPECT_EQ(Slot(&INVBitmap::AddRef), 1);
  EXPECT_EQ(Slot(&INVBitmap::Release), 2);
  EXPECT_EQ(Slot(&INVBitmap::PixelWidth), 3);
  EXPECT_EQ(Slot(&INVBitmap::PixelHeight), 4);
  EXPECT_EQ(Slot(&INVBitmap::Paint), 5);
  EXPECT_EQ(Slot(&INVBitmap::ToBmpBytes), 6);
  EXPECT_EQ(Slot(&INVBitmap::ToPngBytes), 7);
  EXPECT_EQ(Slot(&INVBitmap::WriteBmpFile), 8);
  EXPECT_EQ(Slot(&INVBitmap::WritePngFile), 9);
  EXPECT_EQ(Slot(&INVBitmap::Resample), 10);
}

TEST(Bitmap, PixelsFilesAndResampling) {
  ComPtr<TINVBitmap> bitmap = ComPtr<TINVBitmap>::Adopt(TINVBitmap::Create(41, 30));
  ASSERT_TRUE(bitmap);
  EXPECT_EQ(TINVBitmap::Create(0, 5), nullptr);
  EXPECT_EQ(TINVBitmap::Create(70000, 70000), nullptr);
  ComPtr<INVBitmap> asked = bitmap.As<INVBitmap>(IID_INVBitmap);
  ASSERT_TRUE(asked);
  EXPECT_EQ(asked->PixelWidth(), 41);
  EXPECT_EQ(asked->PixelHeight(), 30);
  // Drawn through GDI, read through the pixel memory: red on the top row, blue below.
  HDC dc = bitmap->DeviceContext();
  RECT top = {0, 0, 41, 1}, rest = {0, 1, 41, 30};
  HBRUSH red = CreateSolidBrush(RGB(255, 0, 0)), blue = CreateSolidBrush(RGB(0, 0, 255));
  FillRect(dc, &top, red);
  FillRect(dc, &rest, blue);
  DeleteObject(red);
  DeleteObject(blue);
  std::string bmp = asked->ToBmpBytes();
  ASSERT_EQ(bmp.size(), 54u + 41 * 30 * 4);
  const uint8_t* topRow = reinterpret_cast<const uint8_t*>(bmp.data()) + 54 + 29 * 41 * 4;
  EXPECT_EQ(topRow[2], 255);
  EXPECT_EQ(topRow[0], 0);
  EXPECT_EQ(static_cast<uint8_t>(bmp[54]), 255);  // bottom row: blue

  std::string folder = ReporterTempFolder();
  EXPECT_TRUE(asked->WriteBmpFile(folder + "shot.bmp"));
  EXPECT_EQ(ReadFileBytes(folder + "shot.bmp"), bmp);
  std::string png = asked->ToPngBytes(0);
  ASSERT_FALSE(png.empty());
  EXPECT_TRUE(asked->WritePngFile(folder + "shot.png", 0));
  EXPECT_EQ(ReadFileBytes(folder + "shot.png"), png);
  EXPECT_FALSE(asked->WritePngFile(folder + "no such folder\\shot.png", 0));
  EXPECT_FALSE(FileExists(folder + "no such folder\\shot.png"));

  ComPtr<INVBitmap> half = ComPtr<INVBitmap>::Adopt(asked->Resample(20, 20));
  ASSERT_TRUE(half);
  EXPECT_EQ(half->PixelWidth(), 20);
  EXPECT_EQ(half->PixelHeight(), 14);  // 20 * 30 div 41
  EXPECT_EQ(asked->Resample(0, 10), nullptr);

  // Mode 1 turns the object's own pixels grey for good.
  std::string grey = asked->ToPngBytes(1);
  ASSERT_FALSE(grey.empty());
  std::string after = asked->ToBmpBytes();
  const uint8_t* p = reinterpret_cast<const uint8_t*>(after.data()) + 54;
  EXPECT_EQ(p[0], p[2]);
  EXPECT_EQ(p[0], (255 * 28) >> 8);
  ClearReporterTempFolder();
}

// ---- screen capture ----

constexpr int kOwnLeft = 100, kOwnTop = 120, kOwnWidth = 200, kOwnHeight = 150;
constexpr int kCoverLeft = 220, kCoverTop = 200;  // covers the lower right corner

// Vertical stripes, 10 pixels red, 10 pixels green.
COLORREF PatternAt(int x) { return (x / 10) % 2 == 0 ? RGB(255, 0, 0) : RGB(0, 160, 0); }

LRESULT CALLBACK PatternWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_ERASEBKGND) {
    HDC dc = reinterpret_cast<HDC>(wParam);
    for (int x = 0; x < kOwnWidth; x += 10) {
      RECT stripe = {x, 0, x + 10, kOwnHeight};
      HBRUSH brush = CreateSolidBrush(PatternAt(x));
      FillRect(dc, &stripe, brush);
      DeleteObject(brush);
    }
    return 1;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK CoverWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_ERASEBKGND) {
    RECT all;
    GetClientRect(window, &all);
    HBRUSH brush = CreateSolidBrush(RGB(0, 0, 255));
    FillRect(reinterpret_cast<HDC>(wParam), &all, brush);
    DeleteObject(brush);
    return 1;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

HWND PopupWindow(const char* className, WNDPROC proc, int x, int y, int w, int h, DWORD exStyle) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = proc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = className;
  RegisterClassA(&wc);
  HWND window = CreateWindowExA(exStyle, className, className, WS_POPUP | WS_VISIBLE, x, y, w, h,
                                nullptr, nullptr, wc.hInstance, nullptr);
  if (window != nullptr) UpdateWindow(window);
  return window;
}

void Pump(DWORD ms) {
  DWORD until = GetTickCount() + ms;
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    DWORD now = GetTickCount();
    if (static_cast<LONG>(until - now) <= 0) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, until - now, QS_ALLINPUT);
  }
}

uint32_t PixelAt(INVBitmap* bitmap, int x, int y) {
  std::string bmp = bitmap->ToBmpBytes();
  int w = bitmap->PixelWidth(), h = bitmap->PixelHeight();
  const uint8_t* p = reinterpret_cast<const uint8_t*>(bmp.data()) + 54 +
                     (static_cast<size_t>(h - 1 - y) * w + x) * 4;
  return RGB(p[2], p[1], p[0]);
}

std::string EventName(const char* what, DWORD pid) {
  return std::string("qx_delivery_cover_") + what + "_" + std::to_string(pid);
}

// The other process: a topmost blue window over part of ours until told to go.
int CoverMain() {
  DWORD pid = GetCurrentProcessId();
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, EventName("ready", pid).c_str());
  HANDLE done = CreateEventA(nullptr, TRUE, FALSE, EventName("done", pid).c_str());
  HWND window = PopupWindow("qx_cover", CoverWindowProc, kCoverLeft, kCoverTop, 150, 100,
                            WS_EX_TOPMOST | WS_EX_TOOLWINDOW);
  if (window == nullptr) return 3;
  Pump(0);
  SetEvent(ready);
  DWORD until = GetTickCount() + 60000;
  while (WaitForSingleObject(done, 0) != WAIT_OBJECT_0 &&
         static_cast<LONG>(until - GetTickCount()) > 0) {
    MsgWaitForMultipleObjects(1, &done, FALSE, 100, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }
  DestroyWindow(window);
  return 0;
}

TEST(CaptureScreen, WholeScreenHasTheVirtualScreenSize) {
  ComPtr<INVBitmap> shot = ComPtr<INVBitmap>::Adopt(CaptureScreen(false));
  ASSERT_TRUE(shot);
  EXPECT_EQ(shot->PixelWidth(), GetSystemMetrics(SM_CXVIRTUALSCREEN));
  EXPECT_EQ(shot->PixelHeight(), GetSystemMetrics(SM_CYVIRTUALSCREEN));
}

TEST(CaptureScreen, OwnWindowsShowThePatternAndWhiteWhereCovered) {
  EXPECT_EQ(CaptureScreen(true), nullptr);  // no window of ours yet
  SetCursorPos(5, 5);  // away from the windows
  HWND own = PopupWindow("qx_pattern", PatternWindowProc, kOwnLeft, kOwnTop, kOwnWidth,
                         kOwnHeight, WS_EX_TOOLWINDOW);
  ASSERT_NE(own, nullptr);
  HANDLE child = StartChild("\"" + SelfPath() + "\" --cover");
  ASSERT_NE(child, nullptr);
  DWORD pid = GetProcessId(child);
  HANDLE ready = nullptr;
  for (DWORD until = GetTickCount() + 30000; ready == nullptr && static_cast<LONG>(until - GetTickCount()) > 0;) {
    ready = OpenEventA(SYNCHRONIZE, FALSE, EventName("ready", pid).c_str());
    if (ready == nullptr) WaitForSingleObject(child, 50);  // the child makes it on start
  }
  ASSERT_NE(ready, nullptr);
  ASSERT_EQ(WaitForSingleObject(ready, 30000), WAIT_OBJECT_0);
  CloseHandle(ready);

  // The display shows what was painted once the window surfaces are flushed: capture until
  // the pattern is there, for at most ten seconds.
  ComPtr<INVBitmap> shot;
  for (DWORD until = GetTickCount() + 10000; static_cast<LONG>(until - GetTickCount()) > 0;) {
    Pump(100);
    shot = ComPtr<INVBitmap>::Adopt(CaptureScreen(true));
    if (shot && shot->PixelWidth() == kOwnWidth && PixelAt(shot.Get(), 5, 5) == PatternAt(5) &&
        PixelAt(shot.Get(), 15, 5) == PatternAt(15))
      break;
  }
  ASSERT_TRUE(shot);
  EXPECT_EQ(shot->PixelWidth(), kOwnWidth);
  EXPECT_EQ(shot->PixelHeight(), kOwnHeight);
  for (int y = 0; y < kOwnHeight; y += 7)
    for (int x = 0; x < kOwnWidth; x += 3) {
      bool covered = kOwnLeft + x >= kCoverLeft && kOwnTop + y >= kCoverTop;
      ASSERT_EQ(PixelAt(shot.Get(), x, y), covered ? RGB(255, 255, 255) : PatternAt(x))
          << x << "," << y;
    }
  std::string png = shot->ToPngBytes(0);
  EXPECT_FALSE(png.empty());
  // Kept for looking at: the PNG of the own-windows capture.
  WriteWholeFile(SelfFolder() + "delivery_own_windows.png", png);

  ShowWindow(own, SW_MINIMIZE);
  Pump(100);
  EXPECT_TRUE(IsIconic(own));
  EXPECT_EQ(CaptureScreen(true), nullptr);

  HANDLE done = OpenEventA(EVENT_MODIFY_STATE, FALSE, EventName("done", pid).c_str());
  ASSERT_NE(done, nullptr);
  SetEvent(done);
  CloseHandle(done);
  EXPECT_EQ(FinishChild(child, 30000), 0);
  DestroyWindow(own);
}

// ---- start-up links ----

TEST(DeliveryStartup, InstallsTheScreenshotHookAndTheTempFolderLink) {
  std::string folder = ReporterTempFolder();
  ASSERT_TRUE(WriteWholeFile(folder + "left.txt", "x"));
  DeliveryStartup();
  EXPECT_FALSE(FileExists(folder + "left.txt"));
  ASSERT_NE(Hooks().takeScreenshot, nullptr);
  ASSERT_NE(PipelineLinks().clearTempFolder, nullptr);
  ComPtr<IUnknown> shot = ComPtr<IUnknown>::Adopt(Hooks().takeScreenshot(nullptr, false));
  ASSERT_TRUE(shot);
  ComPtr<INVBitmap> bitmap = shot.As<INVBitmap>(IID_INVBitmap);
  ASSERT_TRUE(bitmap);
  EXPECT_GT(bitmap->PixelWidth(), 0);
  ASSERT_TRUE(WriteWholeFile(ReporterTempFolder() + "again.txt", "x"));
  PipelineLinks().clearTempFolder();
  EXPECT_FALSE(FileExists(folder + "again.txt"));

  // The exception object takes its screenshot through the hook: this build's settings ask
  // for the whole screen.
  ComPtr<IKVModuleSettings> settings = OpenModuleSettings(GetModuleHandleA(nullptr));
  ASSERT_TRUE(settings);
  ComPtr<IKVException> exception = CreateTIKVException(settings.Get(), ExceptionFacts());
  ASSERT_TRUE(exception);
  EXPECT_FALSE(exception->GetScrShotAppOnly());
  exception->SetWantScreenshot(true);
  ComPtr<IUnknown> taken = ComPtr<IUnknown>::Adopt(exception->Screenshot());
  ASSERT_TRUE(taken);
  ComPtr<INVBitmap> fromException = taken.As<INVBitmap>(IID_INVBitmap);
  ASSERT_TRUE(fromException);
  EXPECT_EQ(fromException->PixelWidth(), GetSystemMetrics(SM_CXVIRTUALSCREEN));
  ComPtr<IUnknown> again = ComPtr<IUnknown>::Adopt(exception->Screenshot());
  EXPECT_EQ(again.Get(), taken.Get());  // taken once, then kept

  DeliveryShutdown();
  EXPECT_EQ(Hooks().takeScreenshot, nullptr);
  EXPECT_EQ(PipelineLinks().clearTempFolder, nullptr);
}

}  // namespace
}  // namespace qx

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--cover") == 0) return qx::CoverMain();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
