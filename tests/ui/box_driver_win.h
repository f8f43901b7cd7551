// Driving an exception box of this process from another thread, the way a user's clicks
// and keys reach it, and reading it back through its controls. Shared by the box tests and
// the box benchmark.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <string>
#include <vector>

#include "exception_box_win.h"
#include "process_threads_win.h"

namespace qx {

// Polls `done` every 10 ms for at most `limitMs`; whether it came true.
template <class Done>
bool WaitUntil(Done&& done, DWORD limitMs = 30000) {
  DWORD start = GetTickCount();
  for (;;) {
    if (done()) return true;
    if (GetTickCount() - start >= limitMs) return done();
    Sleep(10);
  }
}

// What the screen shows of a window: 32-bit pixels (blue, green, red, unused), bottom row
// first, as GDI gives them.
struct WindowPicture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> bits;
};

inline WindowPicture CaptureWindowPicture(HWND window) {
  WindowPicture picture;
  RECT rect;
  if (!GetWindowRect(window, &rect)) return picture;
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap != nullptr) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    GdiFlush();
    picture.width = width;
    picture.height = height;
    const uint8_t* first = static_cast<const uint8_t*>(bits);
    picture.bits.assign(first, first + static_cast<size_t>(width) * height * 4);
    SelectObject(memory, old);
    DeleteObject(bitmap);
  }
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return picture;
}

// The visible box of this process, or null.
inline HWND VisibleBox() { return VisibleWindowOfThisProcess(kExceptionBoxClass); }

inline HWND WaitForBox(DWORD limitMs = 30000) {
  HWND box = nullptr;
  WaitUntil([&] { return (box = VisibleBox()) != nullptr; }, limitMs);
  return box;
}

inline HWND ChildOfClass(HWND box, const char* className) {
  return box != nullptr ? FindWindowExA(box, nullptr, className, nullptr) : nullptr;
}

inline std::string WindowText(HWND window) {
  int length = GetWindowTextLengthA(window);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  // WM_GETTEXT reaches controls of other threads too.
  SendMessageA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(std::strlen(text.c_str()));
  return text;
}

inline std::vector<std::string> TabCaptions(HWND tabs) {
  std::vector<std::string> captions;
  int count = static_cast<int>(SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    char text[128] = {};
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(tabs, TCM_GETITEMA, i, reinterpret_cast<LPARAM>(&item));
    captions.emplace_back(text);
  }
  return captions;
}

// Selects a tab and tells the box, as a click on the tab does.
inline void SelectTab(HWND box, HWND tabs, int index) {
  SendMessageA(tabs, TCM_SETCURSEL, index, 0);
  NMHDR header{tabs, static_cast<UINT_PTR>(GetDlgCtrlID(tabs)), static_cast<UINT>(TCN_SELCHANGE)};
  SendMessageA(box, WM_NOTIFY, header.idFrom, reinterpret_cast<LPARAM>(&header));
}

inline int ListRows(HWND list) { return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)); }

inline std::string ListCell(HWND list, int row, int column) {
  char text[512] = {};
  LVITEMA item{};
  item.iSubItem = column;
  item.pszText = text;
  item.cchTextMax = sizeof text;
  SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
  return text;
}

inline std::string ListColumnTitle(HWND list, int column) {
  char text[128] = {};
  LVCOLUMNA info{};
  info.mask = LVCF_TEXT;
  info.pszText = text;
  info.cchTextMax = sizeof text;
  SendMessageA(list, LVM_GETCOLUMNA, column, reinterpret_cast<LPARAM>(&info));
  return text;
}

// The box's button of a kind (the seven of the settings 0..6, OK 7, details 8).
inline HWND BoxButton(HWND box, int kind) { return GetDlgItem(box, 100 + kind); }

inline void Click(HWND button) { SendMessageA(button, BM_CLICK, 0, 0); }

}  // namespace qx
