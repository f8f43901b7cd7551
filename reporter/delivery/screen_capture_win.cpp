#include "screen_capture_win.h"

#include <algorithm>
#include <vector>

namespace qx {
namespace {

struct TopWindow {
  RECT rect;
  bool own;
  bool shown;  // visible and not minimised
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM context) {
  auto* windows = reinterpret_cast<std::vector<TopWindow>*>(context);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  TopWindow w{};
  w.own = process == GetCurrentProcessId();
  w.shown = IsWindowVisible(window) && !IsIconic(window) && GetWindowRect(window, &w.rect);
  try {
    windows->push_back(w);
  } catch (...) {
    return FALSE;
  }
  return TRUE;
}

bool Counts(const TopWindow& w) {
  return w.own && w.shown && !(w.rect.right - w.rect.left <= 0 && w.rect.bottom - w.rect.top <= 0);
}

// The capture area (in the captured rectangle's coordinates) and the clipping region of
// this process's visible window parts, relative to that area. False: nothing to capture.
bool OwnWindowsArea(const RECT& screen, RECT& area, HRGN& region) {
  std::vector<TopWindow> windows;  // top of the z-order first
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
  LONG width = screen.right - screen.left, height = screen.bottom - screen.top;
  bool any = false;
  for (const TopWindow& w : windows) {
    if (!Counts(w)) continue;
    RECT r = {w.rect.left - screen.left, w.rect.top - screen.top, w.rect.right - screen.left,
              w.rect.bottom - screen.top};
    if (!any) area = r;
    area.left = std::min(area.left, r.left);
    area.top = std::min(area.top, r.top);
    area.right = std::max(area.right, r.right);
    area.bottom = std::max(area.bottom, r.bottom);
    any = true;
  }
  if (!any) return false;
  area.left = std::max<LONG>(area.left, 0);
  area.top = std::max<LONG>(area.top, 0);
  area.right = std::min(area.right, width);
  area.bottom = std::min(area.bottom, height);
  if (area.right <= area.left || area.bottom <= area.top) return false;

  LONG dx = -(screen.left + area.left), dy = -(screen.top + area.top);
  region = CreateRectRgn(0, 0, 0, 0);
  HRGN part = CreateRectRgn(0, 0, 0, 0);
  HRGN above = CreateRectRgn(0, 0, 0, 0);
  for (size_t i = 0; region != nullptr && part != nullptr && above != nullptr && i < windows.size(); ++i) {
    if (!Counts(windows[i])) continue;
    const RECT& r = windows[i].rect;
    SetRectRgn(part, r.left + dx, r.top + dy, r.right + dx, r.bottom + dy);
    for (size_t k = 0; k < i; ++k) {
      if (!windows[k].shown) continue;
      const RECT& a = windows[k].rect;
      SetRectRgn(above, a.left + dx, a.top + dy, a.right + dx, a.bottom + dy);
      CombineRgn(part, part, above, RGN_DIFF);
    }
    CombineRgn(region, region, part, RGN_OR);
  }
  if (part != nullptr) DeleteObject(part);
  if (above != nullptr) DeleteObject(above);
  RECT box{};
  if (region == nullptr || GetRgnBox(region, &box) == NULLREGION) {
    if (region != nullptr) DeleteObject(region);
    region = nullptr;
    return false;
  }
  return true;
}

// The cursor showing on the screen, from the cursor information or, failing that, from
// the thread owning the window under the cursor.
bool ShowingCursor(HCURSOR& cursor, POINT& position) {
  CURSORINFO info{};
  info.cbSize = sizeof info;
  if (GetCursorInfo(&info)) {
    cursor = info.hCursor;
    position = info.ptScreenPos;
    return (info.flags & CURSOR_SHOWING) != 0 && cursor != nullptr;
  }
  if (!GetCursorPos(&position)) return false;
  HWND under = WindowFromPoint(position);
  DWORD owner = under != nullptr ? GetWindowThreadProcessId(under, nullptr) : 0;
  DWORD self = GetCurrentThreadId();
  bool attached = owner != 0 && owner != self && AttachThreadInput(self, owner, TRUE);
  cursor = GetCursor();
  if (attached) AttachThreadInput(self, owner, FALSE);
  return cursor != nullptr;
}

void DrawCursor(HDC dc, LONG originX, LONG originY) {
  HCURSOR cursor = nullptr;
  POINT position{};
  if (!ShowingCursor(cursor, position)) return;
  ICONINFO icon{};
  if (!GetIconInfo(cursor, &icon)) return;
  DrawIconEx(dc, position.x - static_cast<LONG>(icon.xHotspot) - originX,
             position.y - static_cast<LONG>(icon.yHotspot) - originY, cursor, 0, 0, 0, nullptr,
             DI_NORMAL);
  if (icon.hbmMask != nullptr) DeleteObject(icon.hbmMask);
  if (icon.hbmColor != nullptr) DeleteObject(icon.hbmColor);
}

RECT CapturedRectangle(HDC display) {
  if (GetSystemMetrics(SM_CMONITORS) == 0)
    return {0, 0, GetDeviceCaps(display, HORZRES), GetDeviceCaps(display, VERTRES)};
  LONG left = GetSystemMetrics(SM_XVIRTUALSCREEN), top = GetSystemMetrics(SM_YVIRTUALSCREEN);
  return {left, top, left + GetSystemMetrics(SM_CXVIRTUALSCREEN),
          top + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
}

}  // namespace

INVBitmap* CaptureScreen(bool ownWindowsOnly) {
  HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
  if (display == nullptr) return nullptr;
  TINVBitmap* bitmap = nullptr;
  HRGN region = nullptr;
  try {
    RECT screen = CapturedRectangle(display);
    RECT area = {0, 0, screen.right - screen.left, screen.bottom - screen.top};
    bool found = !ownWindowsOnly || OwnWindowsArea(screen, area, region);
    if (found) bitmap = TINVBitmap::Create(area.right - area.left, area.bottom - area.top);
    if (bitmap != nullptr) {
      HDC dc = bitmap->DeviceContext();
      LONG width = area.right - area.left, height = area.bottom - area.top;
      if (region != nullptr) {
        PatBlt(dc, 0, 0, width, height, WHITENESS);
        SelectClipRgn(dc, region);
      }
      bool copied = BitBlt(dc, 0, 0, width, height, display, screen.left + area.left,
                           screen.top + area.top, SRCCOPY | CAPTUREBLT) != FALSE;
      if (copied) DrawCursor(dc, screen.left + area.left, screen.top + area.top);
      SelectClipRgn(dc, nullptr);
      GdiFlush();
      if (!copied) {
        bitmap->Release();
        bitmap = nullptr;
      }
    }
  } catch (...) {
    if (bitmap != nullptr) bitmap->Release();
    bitmap = nullptr;
  }
  if (region != nullptr) DeleteObject(region);
  DeleteDC(display);
  return bitmap;
}

}  // namespace qx
