// Opens a few ordinary windows (text, a list, buttons) on the desktop and saves a
// screenshot of the whole screen as BMP, the "real desktop" picture of delivery_bench.py.
//   delivery_desktop_shot OUT.bmp
#include <windows.h>

#include <cstdio>
#include <string>

#include "bitmap_win.h"
#include "screen_capture_win.h"

namespace {

void Pump(DWORD ms) {
  DWORD until = GetTickCount() + ms;
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    DWORD now = GetTickCount();
    if (static_cast<LONG>(until - now) <= 0) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, until - now, QS_ALLINPUT);
  }
}

HWND Frame(const char* title, int x, int y, int w, int h) {
  return CreateWindowExA(0, "qx_frame", title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, x, y, w, h,
                         nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

HWND Child(HWND parent, const char* cls, const char* text, DWORD style, int x, int y, int w, int h) {
  return CreateWindowExA(WS_EX_CLIENTEDGE, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h,
                         parent, nullptr, GetModuleHandleA(nullptr), nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: delivery_desktop_shot OUT.bmp\n");
    return 2;
  }
  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.lpszClassName = "qx_frame";
  RegisterClassA(&wc);

  std::string text;
  for (int i = 0; i < 60; ++i)
    text += "Exception EAccessViolation in module QXUdfLib.dll at 0040" + std::to_string(1000 + i * 37) +
            ".\r\nAccess violation at address 00401234. Read of address 00000000.\r\n";
  HWND editor = Frame("bugreport.txt - Notepad", 40, 30, 760, 560);
  Child(editor, "EDIT", text.c_str(), ES_MULTILINE | WS_VSCROLL | WS_HSCROLL, 0, 0, 740, 520);
  HWND list = Frame("Modules", 520, 300, 560, 520);
  HWND box = Child(list, "LISTBOX", "", WS_VSCROLL | LBS_NOINTEGRALHEIGHT, 10, 10, 530, 420);
  for (int i = 0; i < 80; ++i) {
    std::string item = "C:\\Windows\\system32\\module" + std::to_string(i) + ".dll   " +
                       std::to_string(10000 + i * 1234) + " bytes   6.1." + std::to_string(i);
    SendMessageA(box, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
  }
  Child(list, "BUTTON", "Send bug report", BS_PUSHBUTTON, 10, 440, 160, 30);
  Child(list, "BUTTON", "Continue", BS_PUSHBUTTON, 190, 440, 120, 30);
  HWND dialog = Frame("qelExcept", 200, 620, 480, 260);
  Child(dialog, "STATIC", "An error occurred in the application.", 0, 20, 20, 420, 24);
  Child(dialog, "BUTTON", "attach a screenshot to the bug report", BS_AUTOCHECKBOX, 20, 60, 420, 24);
  Child(dialog, "BUTTON", "Close application", BS_PUSHBUTTON, 20, 160, 180, 30);
  Pump(1500);

  qx::INVBitmap* shot = qx::CaptureScreen(false);
  if (shot == nullptr) {
    std::fprintf(stderr, "delivery_desktop_shot: no screenshot\n");
    return 1;
  }
  bool ok = shot->WriteBmpFile(argv[1]);
  std::printf("%dx%d screenshot %s\n", shot->PixelWidth(), shot->PixelHeight(),
              ok ? "written" : "not written");
  shot->Release();
  return ok ? 0 : 1;
}
