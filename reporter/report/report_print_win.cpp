#include "report_print_win.h"

#include <commdlg.h>

#include <algorithm>

#include "com_ptr_win.h"
#include "process_registries.h"
#include "settings_open_win.h"

namespace qx {

namespace {

constexpr DWORD kBlockedLimitMs = 250;

int MillimetresToPixels(int millimetres, int pixels, int size) {
  if (size <= 0) return 0;
  return MulDiv(millimetres, pixels, size);  // rounds to the nearest pixel
}

class SelectedFont {
 public:
  SelectedFont(HDC dc, int height) : dc_(dc) {
    font_ = CreateFontA(height, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0,
                        "Courier New");
    if (font_ != nullptr) previous_ = SelectObject(dc, font_);
  }
  ~SelectedFont() {
    if (font_ == nullptr) return;
    SelectObject(dc_, previous_);
    DeleteObject(font_);
  }
  SelectedFont(const SelectedFont&) = delete;
  SelectedFont& operator=(const SelectedFont&) = delete;

 private:
  HDC dc_;
  HFONT font_ = nullptr;
  HGDIOBJ previous_ = nullptr;
};

bool Blocked() { return Hooks().processBlocked != nullptr && Hooks().processBlocked(kBlockedLimitMs); }

}  // namespace

PageGeometry PageGeometryOf(HDC dc) {
  PageGeometry page;
  page.width = GetDeviceCaps(dc, HORZRES);
  page.height = GetDeviceCaps(dc, VERTRES);
  page.widthMm = GetDeviceCaps(dc, HORZSIZE);
  page.heightMm = GetDeviceCaps(dc, VERTSIZE);
  page.offsetX = GetDeviceCaps(dc, PHYSICALOFFSETX);
  page.offsetY = GetDeviceCaps(dc, PHYSICALOFFSETY);
  page.pixelsPerInchY = GetDeviceCaps(dc, LOGPIXELSY);
  return page;
}

RECT PrintTextRect(const PageGeometry& page) {
  auto x = [&](int mm) { return std::max(0, MillimetresToPixels(mm, page.width, page.widthMm) - page.offsetX); };
  auto y = [&](int mm) { return std::max(0, MillimetresToPixels(mm, page.height, page.heightMm) - page.offsetY); };
  RECT rect{x(20), y(10), page.width - x(10), page.height - y(10)};
  if (rect.right < rect.left) rect.right = rect.left;
  if (rect.bottom < rect.top) rect.bottom = rect.top;
  return rect;
}

int PrintFontHeight(const PageGeometry& page) { return -(page.pixelsPerInchY * 8 / 72); }

int LayOutReport(HDC dc, const PageGeometry& page, const std::string& report,
                 const std::function<void()>& newPage) {
  const RECT area = PrintTextRect(page);
  const UINT format = DT_WORDBREAK | DT_EXTERNALLEADING | DT_NOPREFIX | DT_LEFT | DT_TOP;
  SetMapMode(dc, MM_TEXT);
  SelectedFont font(dc, PrintFontHeight(page));
  int pages = 1;
  int y = area.top;
  size_t start = 0;
  for (;;) {
    size_t end = report.find("\r\n", start);
    std::string line = report.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (line.empty()) line.assign(1, ' ');
    RECT measured{area.left, 0, area.right, 0};
    DrawTextA(dc, line.c_str(), static_cast<int>(line.size()), &measured, format | DT_CALCRECT);
    int height = measured.bottom - measured.top;
    if (y + height > area.bottom && y > area.top) {
      if (newPage) newPage();
      ++pages;
      y = area.top;
    }
    RECT target{area.left, y, area.right, y + height};
    DrawTextA(dc, line.c_str(), static_cast<int>(line.size()), &target, format);
    y += height;
    if (end == std::string::npos) break;
    start = end + 2;
  }
  return pages;
}

bool PrintReport(const std::string& report, HWND parent, IKVSettings* settings) {
  if (Blocked()) {
    MessageBeep(MB_OK);
    return false;
  }
  ComPtr<IKVModuleSettings> own;
  if (settings == nullptr) {
    own = SettingsForFrame(1);
    settings = own.Get();
  }
  PRINTDLGA dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = parent;
  dialog.Flags = PD_RETURNDC | PD_NOPAGENUMS | PD_NOSELECTION | PD_NOWARNING |
                 PD_USEDEVMODECOPIESANDCOLLATE | PD_HIDEPRINTTOFILE | PD_NONETWORKBUTTON;
  if (!PrintDlgA(&dialog) || dialog.hDC == nullptr) return false;
  if (dialog.hDevMode != nullptr) GlobalFree(dialog.hDevMode);
  if (dialog.hDevNames != nullptr) GlobalFree(dialog.hDevNames);
  HDC dc = dialog.hDC;
  std::string name = settings != nullptr ? settings->GetPrintBtnTxt() : std::string("bug report");
  DOCINFOA document{};
  document.cbSize = sizeof document;
  document.lpszDocName = name.c_str();
  bool printed = false;
  if (StartDocA(dc, &document) > 0) {
    StartPage(dc);
    LayOutReport(dc, PageGeometryOf(dc), report, [dc] {
      EndPage(dc);
      StartPage(dc);
    });
    EndPage(dc);
    printed = EndDoc(dc) > 0;
  }
  DeleteDC(dc);
  return printed;
}

}  // namespace qx
