// The progress window on a real (virtual) display: layout, bar positions, pictures,
// threads and the close rule.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "box_driver_win.h"
#include "progress_alert_win.h"

namespace qx {
namespace {

int BarPosition(HWND bar) { return static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0)); }

std::string TextOf(HWND window) {
  char text[256] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

void Pump() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

// Pumps this thread's messages until `done` holds or about five seconds have passed.
template <class Done>
bool PumpUntil(Done&& done) {
  for (int i = 0; i < 500; ++i) {
    Pump();
    if (done()) return true;
    Sleep(10);
  }
  return done();
}

RECT ClientRectIn(HWND child, HWND parent) {
  RECT rect;
  GetWindowRect(child, &rect);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

HWND CreateParentWindow() {
  return CreateWindowExA(0, "STATIC", "parent", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 300,
                         200, nullptr, nullptr, nullptr, nullptr);
}

// Writes what the screen shows of the window as a 24-bit BMP file.
void SaveScreenshot(HWND window, const char* path) {
  WindowPicture picture = CaptureWindowPicture(window);
  const DWORD stride = (picture.width * 3 + 3) & ~3u, size = stride * picture.height;
  std::vector<uint8_t> rows(size, 0);
  for (int y = 0; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      const uint8_t* from = &picture.bits[(static_cast<size_t>(y) * picture.width + x) * 4];
      std::memcpy(&rows[y * stride + x * 3], from, 3);
    }
  }
  BITMAPINFOHEADER header = {sizeof(BITMAPINFOHEADER), picture.width, picture.height, 1, 24,
                             BI_RGB, 0, 0, 0, 0, 0};
  BITMAPFILEHEADER file{0x4D42, DWORD(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + size),
                        0, 0, DWORD(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER))};
  if (FILE* out = std::fopen(path, "wb")) {
    std::fwrite(&file, sizeof file, 1, out);
    std::fwrite(&header, sizeof header, 1, out);
    std::fwrite(rows.data(), 1, size, out);
    std::fclose(out);
  }
}

TEST(ProgressWindow, NoAreasShowsPleaseWaitAndFollowsThePosition) {
  auto alert = CreateProgressWindow("Information", nullptr, "");
  EXPECT_EQ(alert->GetTitle(), "Information");
  ASSERT_TRUE(alert->Show(nullptr, false));
  ProgressWindowParts parts = ProgressWindowPartsOf(alert.Get());
  ASSERT_NE(parts.window, nullptr);
  EXPECT_EQ(parts.picture, nullptr);
  EXPECT_EQ(TextOf(parts.label), "Please wait...");
  EXPECT_EQ(TextOf(parts.window), "Information");
  char className[64];
  GetClassNameA(parts.window, className, sizeof className);
  EXPECT_STREQ(className, "prgrAlertWndClass");
  LONG exStyle = GetWindowLongA(parts.window, GWL_EXSTYLE);
  EXPECT_TRUE(exStyle & WS_EX_TOPMOST);
  EXPECT_TRUE(exStyle & WS_EX_TOOLWINDOW);
  EXPECT_EQ(BarPosition(parts.bar), 0);
  for (int position : {0, 250, 999, 1000}) {
    alert->SetPosition(position);
    EXPECT_EQ(BarPosition(parts.bar), position);
  }
  EXPECT_FALSE(alert->Show(nullptr, true));  // already shown: nothing changes
  EXPECT_EQ(ProgressWindowPartsOf(alert.Get()).window, parts.window);
  alert->SetTitle("Other");
  EXPECT_EQ(TextOf(parts.window), "Other");

  // Without a picture: label at (11, 12), at least 220 wide; the window wraps it.
  RECT label = ClientRectIn(parts.label, parts.window);
  RECT bar = ClientRectIn(parts.bar, parts.window);
  EXPECT_EQ(label.left, 11);
  EXPECT_EQ(label.top, 12);
  EXPECT_EQ(label.right - label.left, 220);
  EXPECT_EQ(bar.left, 11);
  EXPECT_EQ(bar.top, label.bottom - label.top + 24);
  EXPECT_EQ(bar.right - bar.left, 220);
  EXPECT_EQ(bar.bottom - bar.top, GetSystemMetrics(SM_CYHSCROLL));
  RECT outer;
  GetWindowRect(parts.window, &outer);
  EXPECT_EQ(outer.right - outer.left, 220 + 2 * GetSystemMetrics(SM_CXDLGFRAME) + 22);
  EXPECT_EQ(outer.bottom - outer.top,
            (label.bottom - label.top) + GetSystemMetrics(SM_CYSMCAPTION) +
                GetSystemMetrics(SM_CYHSCROLL) + 2 * GetSystemMetrics(SM_CYDLGFRAME) + 36);
  // Shown without activation: bottom right of the work area.
  RECT work;
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_EQ(outer.right, work.right - 2);
  EXPECT_EQ(outer.bottom, work.bottom - 2);

  // A close request from the user is ignored until Close allows it.
  SendMessageA(parts.window, WM_CLOSE, 0, 0);
  SendMessageA(parts.window, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_TRUE(IsWindow(parts.window));
  alert->Close();
  EXPECT_FALSE(IsWindow(parts.window));
  EXPECT_EQ(ProgressWindowPartsOf(alert.Get()).window, nullptr);
}

TEST(ProgressWindow, WeightedAreasMoveTheBar) {
  struct Case {
    uint64_t weights[3];
    int expected;
  };
  for (const Case& c : {Case{{1000, 1000, 2000}, 375}, Case{{1, 1, 2}, 250}}) {
    auto alert = CreateProgressWindow("Sending bug report...", nullptr, "");
    alert->AppendArea("Preparing attachments...", c.weights[0]);
    alert->AppendArea("Connecting to server...", c.weights[1]);
    alert->AppendArea("Sending mail...", c.weights[2]);
    ASSERT_TRUE(alert->Show(nullptr, true));
    ProgressWindowParts parts = ProgressWindowPartsOf(alert.Get());
    alert->AreaDone();
    EXPECT_EQ(alert->GetCurrentArea(), 1);
    EXPECT_EQ(TextOf(parts.label), "Connecting to server...");
    alert->SetPosition(500);
    EXPECT_EQ(BarPosition(parts.bar), c.expected);
    alert->SetCurrentArea(2);
    alert->AreaDone();  // done with the last: it stays current and the bar is full
    EXPECT_EQ(alert->GetCurrentArea(), 2);
    EXPECT_EQ(alert->GetPosition(), 1000);
    EXPECT_EQ(BarPosition(parts.bar), 1000);
    EXPECT_EQ(TextOf(parts.label), "Sending mail...");
    // Activated: centred on the screen.
    RECT outer;
    GetWindowRect(parts.window, &outer);
    EXPECT_NEAR((outer.left + outer.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
    alert->Close();
  }
}

TEST(ProgressWindow, PictureLayoutAndBlending) {
  HMODULE self = GetModuleHandleA(nullptr);
  auto alert = CreateProgressWindow("Information", self, "KVIPLWAIT");
  alert->AppendArea("Please wait a moment...", 1);
  ASSERT_TRUE(alert->Show(nullptr, true));
  ProgressWindowParts parts = ProgressWindowPartsOf(alert.Get());
  ASSERT_NE(parts.picture, nullptr);
  RECT picture = ClientRectIn(parts.picture, parts.window);
  EXPECT_EQ(picture.left, 9);
  EXPECT_EQ(picture.top, 9);
  EXPECT_EQ(picture.right - picture.left, 32);
  EXPECT_EQ(picture.bottom - picture.top, 32);
  EXPECT_FALSE(IsWindowEnabled(parts.picture));
  RECT label = ClientRectIn(parts.label, parts.window);
  RECT bar = ClientRectIn(parts.bar, parts.window);
  EXPECT_EQ(label.left, 51);
  // One line of text is lower than the picture: centred on it, the label becomes 26 high.
  EXPECT_EQ(label.bottom - label.top, 26);
  EXPECT_GT(label.top, 12);
  EXPECT_EQ(bar.top, 26 + 24);
  EXPECT_EQ(bar.right, label.right);
  alert->SetPosition(600);

  UpdateWindow(parts.window);
  RedrawWindow(parts.picture, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  // Compare three pixels of the screen with the blend of the resource over the button face.
  HRSRC info = FindResourceA(self, "KVIPLWAIT", MAKEINTRESOURCEA(2));
  ASSERT_NE(info, nullptr);
  const auto* bytes = static_cast<const uint8_t*>(LockResource(LoadResource(self, info)));
  COLORREF face = GetSysColor(COLOR_BTNFACE);
  const POINT points[] = {{0, 0}, {16, 24}, {10, 3}};
  COLORREF expected[3];
  for (int i = 0; i < 3; ++i) {
    const uint8_t* pixel = bytes + 40 + 4 * ((31 - points[i].y) * 32 + points[i].x);  // rows bottom-up
    unsigned a = pixel[3] + 1u;
    auto blend = [&](unsigned background, unsigned value) {
      return ((256 - a) * background + a * value) / 256;
    };
    expected[i] = RGB(blend(GetRValue(face), pixel[2]), blend(GetGValue(face), pixel[1]),
                      blend(GetBValue(face), pixel[0]));
  }
  HDC dc = GetDC(parts.picture);
  COLORREF shown[3];
  auto closeTo = [](int a, int b) { return a - b <= 8 && b - a <= 8; };
  // The picture reaches the screen once the display has drawn it: read until it shows.
  PumpUntil([&] {
    GdiFlush();
    bool all = true;
    for (int i = 0; i < 3; ++i) {
      shown[i] = GetPixel(dc, points[i].x, points[i].y);
      all = all && closeTo(GetRValue(shown[i]), GetRValue(expected[i])) &&
            closeTo(GetGValue(shown[i]), GetGValue(expected[i])) &&
            closeTo(GetBValue(shown[i]), GetBValue(expected[i]));
    }
    return all;
  });
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(GetRValue(shown[i]), GetRValue(expected[i]), 8) << points[i].x << "," << points[i].y;
    EXPECT_NEAR(GetGValue(shown[i]), GetGValue(expected[i]), 8) << points[i].x << "," << points[i].y;
    EXPECT_NEAR(GetBValue(shown[i]), GetBValue(expected[i]), 8) << points[i].x << "," << points[i].y;
  }
  ReleaseDC(parts.picture, dc);
  if (const char* path = std::getenv("QX_PROGRESS_SCREENSHOT")) SaveScreenshot(parts.window, path);
  alert->Close();

  // A resource of another size is no picture.
  auto wrong = CreateProgressWindow("x", self, "NOSUCHPICTURE");
  ASSERT_TRUE(wrong->Show(nullptr, false));
  EXPECT_EQ(ProgressWindowPartsOf(wrong.Get()).picture, nullptr);
}

TEST(ProgressWindow, LabelFitsTheLongestTextStillToComeWrappedAt420) {
  HMODULE self = GetModuleHandleA(nullptr);
  auto alert = CreateProgressWindow("Sending bug report...", self, "KVISEND32");
  const std::string longText =
      "Connecting to the mail server of the recipient, which may take a while when the "
      "network is slow or the server is far away, or when the name of the server has to be "
      "looked up first...";
  alert->AppendArea("done already, and much longer than anything that follows it in the list "
                    "of the areas of this window, so it must not count",
                    1);
  alert->AppendArea("Preparing attachments...", 1);
  alert->AppendArea(longText, 1);
  alert->SetCurrentArea(1);
  ASSERT_TRUE(alert->Show(nullptr, true));
  ProgressWindowParts parts = ProgressWindowPartsOf(alert.Get());
  RECT label = ClientRectIn(parts.label, parts.window);
  RECT bar = ClientRectIn(parts.bar, parts.window);
  int width = label.right - label.left, height = label.bottom - label.top;
  EXPECT_GT(width, 220 - 40);
  EXPECT_LE(width, 420);
  EXPECT_GT(height, 26);  // three lines
  EXPECT_EQ(bar.right - bar.left, width + 40);
  EXPECT_EQ(bar.top, height + 24);
  EXPECT_EQ(label.top, 12);
  EXPECT_EQ(TextOf(parts.label), "Preparing attachments...");
  if (const char* path = std::getenv("QX_PROGRESS_SCREENSHOT_LONG")) {
    alert->AreaDone();
    alert->SetPosition(400);
    Pump();
    Sleep(200);
    Pump();
    SaveScreenshot(parts.window, path);
  }
  alert->Close();
}

TEST(ProgressWindow, DrivenAndClosedFromAnotherThread) {
  HWND parent = CreateParentWindow();
  ASSERT_NE(parent, nullptr);
  auto alert = CreateProgressWindow("Sending bug report...", nullptr, "");
  alert->AppendArea("one", 1000);
  alert->AppendArea("two", 1000);
  ASSERT_TRUE(alert->Show(parent, false));
  EXPECT_FALSE(IsWindowEnabled(parent));
  ProgressWindowParts parts = ProgressWindowPartsOf(alert.Get());

  std::atomic<bool> done{false};
  std::thread worker([&] {
    alert->SetCurrentArea(1);  // from another thread: posted, never waits for this one
    alert->SetPosition(500);
    alert->ProcessMessages();  // not the owner thread: nothing happens
    done = true;
  });
  EXPECT_TRUE(PumpUntil([&] { return done.load(); }));
  worker.join();
  EXPECT_TRUE(PumpUntil([&] { return BarPosition(parts.bar) == 750; }));
  EXPECT_EQ(BarPosition(parts.bar), 750);

  done = false;
  std::thread closer([&] {
    alert->Close();
    done = true;
  });
  EXPECT_TRUE(PumpUntil([&] { return done.load() && !IsWindow(parts.window); }));
  closer.join();
  EXPECT_FALSE(IsWindow(parts.window));
  EXPECT_TRUE(IsWindowEnabled(parent));
  DestroyWindow(parent);
}

}  // namespace
}  // namespace qx

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
