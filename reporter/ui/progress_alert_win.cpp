#include "progress_alert_win.h"

#include <commctrl.h>

#include <atomic>

#include "code_module_win.h"
#include "picture_win.h"
#include "progress_areas.h"
#include "sync_win.h"

namespace qx {

namespace {

constexpr char kWindowClass[] = "prgrAlertWndClass";
constexpr UINT kSetBarPosition = 1026;  // PBM_SETPOS
constexpr int kPictureSide = 32;
// Window extra bytes: offset 0 holds 1 once Close() allows the window to close.
constexpr int kClosableOffset = 0;

// What the window itself needs to draw the picture; owned by the window.
struct WindowState {
  HMODULE pictureModule;
  std::string pictureName;
};

void DrawPicture(const DRAWITEMSTRUCT& item, const WindowState& state) {
  DrawPicture32(item.hDC, item.rcItem.left, item.rcItem.top, state.pictureModule, state.pictureName);
}

LRESULT CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* state = reinterpret_cast<WindowState*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  switch (message) {
    case WM_CLOSE:
      if (GetWindowLongA(window, kClosableOffset) != 0) DestroyWindow(window);
      return 0;
    case WM_DRAWITEM:
      if (state != nullptr) DrawPicture(*reinterpret_cast<DRAWITEMSTRUCT*>(lParam), *state);
      return TRUE;
    case WM_NCDESTROY:
      SetWindowLongPtrA(window, GWLP_USERDATA, 0);
      delete state;
      break;
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

bool RegisterProgressClass() {
  // The progress bar's window class lives in the common controls library.
  // Without it (the library is missing) there is no bar, and no window is shown.
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
  if (!InitCommonControlsEx(&controls)) return false;
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = ProgressWindowProc;
  windowClass.cbWndExtra = sizeof(LONG);
  windowClass.hInstance = UiCodeModule();
  windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kWindowClass;
  return RegisterClassA(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

bool IsOwnThread(HWND window) {
  return window != nullptr && GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId();
}

class TIProgressAlert final : public IProgressAlert {
 public:
  TIProgressAlert(const std::string& title, HMODULE pictureModule, const std::string& pictureName)
      : title_(title), pictureModule_(pictureModule), pictureName_(pictureName) {}

  HRESULT __stdcall QueryInterface(REFIID iid, void** object) override {
    return QueryOneOf(iid, object, {{&IID_IProgressAlert, static_cast<IProgressAlert*>(this)}});
  }
  ULONG __stdcall AddRef() override { return refs_.Add(); }
  ULONG __stdcall Release() override { return refs_.Release(this); }

  std::string __stdcall GetTitle() override {
    CriticalSectionGuard lock(lock_);
    return title_;
  }
  void __stdcall SetTitle(const std::string& title) override {
    HWND window;
    {
      CriticalSectionGuard lock(lock_);
      if (title == title_) return;
      title_ = title;
      window = window_;
    }
    if (window != nullptr) SetWindowTextA(window, title.c_str());
  }
  int32_t __stdcall GetPosition() override {
    CriticalSectionGuard lock(lock_);
    return areas_.Position();
  }
  void __stdcall SetPosition(int32_t position) override {
    HWND bar;
    int32_t overall;
    {
      CriticalSectionGuard lock(lock_);
      areas_.SetPosition(position);
      overall = areas_.Overall();
      bar = bar_;
    }
    if (bar == nullptr) return;
    if (IsOwnThread(bar)) {
      SendMessageA(bar, kSetBarPosition, overall, 0);
      ProcessMessages();
    } else {
      PostMessageA(bar, kSetBarPosition, overall, 0);
    }
  }
  void __stdcall AppendArea(const std::string& text, uint64_t weight) override {
    CriticalSectionGuard lock(lock_);
    areas_.Append(text, weight);
  }
  void __stdcall ClearAreas() override {
    CriticalSectionGuard lock(lock_);
    areas_.Clear();
  }
  void __stdcall AreaDone() override { SetCurrentArea(GetCurrentArea() + 1); }
  int32_t __stdcall GetCurrentArea() override {
    CriticalSectionGuard lock(lock_);
    return areas_.Current();
  }
  void __stdcall SetCurrentArea(int32_t index) override {
    HWND label;
    std::string text;
    int32_t position;
    {
      CriticalSectionGuard lock(lock_);
      if (!areas_.SetCurrent(index)) return;
      label = label_;
      text = areas_.CurrentText();
      position = areas_.Position();
    }
    if (label != nullptr) SetWindowTextA(label, text.c_str());
    SetPosition(position);
  }
  void __stdcall ProcessMessages() override {
    HWND window;
    {
      CriticalSectionGuard lock(lock_);
      window = window_;
    }
    if (!IsOwnThread(window)) return;
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
  bool __stdcall Show(HWND parent, bool activate) override;
  void __stdcall Close() override;

  ProgressWindowParts Parts() {
    CriticalSectionGuard lock(lock_);
    return {window_, picture_, label_, bar_};
  }

 private:
  friend class qx::RefCount;  // deletes the object at its last Release
  ~TIProgressAlert() {
    Close();
    if (measureContext_ != nullptr) {
      if (previousFont_ != nullptr) SelectObject(measureContext_, previousFont_);
      DeleteDC(measureContext_);
    }
    if (font_ != nullptr) DeleteObject(font_);
  }

  // Creates and places the window (the parent is already disabled); the caller holds the
  // lock.
  bool ShowLocked(HWND parent, bool activate);
  void CreateFontOnce();
  SIZE MeasureAreaTexts();

  RefCount refs_;
  CriticalSection lock_;
  std::string title_;
  HMODULE pictureModule_;
  std::string pictureName_;
  ProgressAreas areas_;
  HWND window_ = nullptr;
  HWND picture_ = nullptr;
  HWND label_ = nullptr;
  HWND bar_ = nullptr;
  HWND parent_ = nullptr;
  bool showing_ = false;  // between the two halves of Show
  HFONT font_ = nullptr;
  HDC measureContext_ = nullptr;
  HGDIOBJ previousFont_ = nullptr;
};

void TIProgressAlert::CreateFontOnce() {
  if (font_ == nullptr) {
    font_ = CreateFontA(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Tahoma");
    if (font_ == nullptr)
      font_ = CreateFontA(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0,
                          "MS Sans Serif");
  }
  if (measureContext_ == nullptr) {
    measureContext_ = CreateCompatibleDC(nullptr);
    if (measureContext_ != nullptr && font_ != nullptr)
      previousFont_ = SelectObject(measureContext_, font_);
  }
}

// The largest width and height among the texts still to come, wrapped at 420 pixels.
SIZE TIProgressAlert::MeasureAreaTexts() {
  SIZE size{0, 0};
  const auto& areas = areas_.Areas();
  for (int32_t i = areas_.Current(); i < areas_.Count(); ++i) {
    RECT bounds{0, 0, 420, 0};
    if (measureContext_ != nullptr)
      DrawTextA(measureContext_, areas[i].text.c_str(), static_cast<int>(areas[i].text.size()),
                &bounds, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    if (bounds.right - bounds.left > size.cx) size.cx = bounds.right - bounds.left;
    if (bounds.bottom - bounds.top > size.cy) size.cy = bounds.bottom - bounds.top;
  }
  return size;
}

bool __stdcall TIProgressAlert::Show(HWND parent, bool activate) {
  {
    CriticalSectionGuard lock(lock_);
    if (window_ != nullptr || showing_) return false;
    showing_ = true;
    parent_ = parent;
  }
  // Disabling a window of another thread waits for that thread, so not under the lock.
  if (parent != nullptr) EnableWindow(parent, FALSE);
  bool shown;
  int32_t position;
  {
    CriticalSectionGuard lock(lock_);
    shown = ShowLocked(parent, activate);
    showing_ = false;
    if (!shown) parent_ = nullptr;
    position = areas_.Position();
  }
  if (!shown) {
    if (parent != nullptr) EnableWindow(parent, TRUE);
    return false;
  }
  SetPosition(position);
  return true;
}

bool TIProgressAlert::ShowLocked(HWND parent, bool activate) {
  if (areas_.Count() == 0) areas_.Append("Please wait...", 1000);
  if (!RegisterProgressClass()) return false;
  HMODULE instance = UiCodeModule();
  HWND window = CreateWindowExA(WS_EX_DLGMODALFRAME | WS_EX_TOPMOST | WS_EX_TOOLWINDOW,
                                kWindowClass, title_.c_str(), WS_CAPTION, 0, 0, 0, 0, parent,
                                nullptr, instance, nullptr);
  if (window == nullptr) return false;
  SetWindowLongPtrA(window, GWLP_USERDATA,
                    reinterpret_cast<LONG_PTR>(new WindowState{pictureModule_, pictureName_}));
  if (HMENU menu = GetSystemMenu(window, FALSE)) {
    for (UINT command : {SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE, SC_RESTORE})
      DeleteMenu(menu, command, MF_BYCOMMAND);
  }
  window_ = window;

  CreateFontOnce();
  SIZE text = MeasureAreaTexts();
  int labelWidth = text.cx, labelHeight = text.cy;
  bool hasPicture = Picture32Bytes(pictureModule_, pictureName_) != nullptr;
  if (hasPicture) {
    labelWidth += 40;
    DWORD style = WS_CHILD | WS_VISIBLE | WS_DISABLED | BS_OWNERDRAW;
    picture_ = CreateWindowExA(0, "BUTTON", "", style, 9, 9, kPictureSide, kPictureSide, window,
                               nullptr, instance, nullptr);
  }
  if (labelWidth < 220) labelWidth = 220;
  int labelLeft = hasPicture ? 51 : 11;
  int labelTop = 12;
  if (hasPicture && labelHeight < 26) {
    labelTop += (26 - labelHeight) / 2;
    labelHeight = 26;
  }
  std::string current = areas_.CurrentText();
  label_ = CreateWindowExA(0, "STATIC", current.c_str(), WS_CHILD | WS_VISIBLE | SS_NOPREFIX,
                           labelLeft, labelTop, labelWidth - (labelLeft - 11), labelHeight,
                           window, nullptr, instance, nullptr);
  if (label_ != nullptr && font_ != nullptr)
    SendMessageA(label_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  int barHeight = GetSystemMetrics(SM_CYHSCROLL);
  bar_ = CreateWindowExA(0, "msctls_progress32", "", WS_CHILD | WS_VISIBLE, 11, labelHeight + 24,
                         labelWidth, barHeight, window, nullptr, instance, nullptr);
  if (bar_ != nullptr) SendMessageA(bar_, PBM_SETRANGE, 0, MAKELPARAM(0, 1000));

  int width = labelWidth + 2 * GetSystemMetrics(SM_CXDLGFRAME) + 22;
  int height = labelHeight + GetSystemMetrics(SM_CYSMCAPTION) + barHeight +
               2 * GetSystemMetrics(SM_CYDLGFRAME) + 36;
  if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
  if (activate) {
    int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    SetWindowPos(window, HWND_TOPMOST, x, y, width, height, SWP_NOACTIVATE);
    ShowWindow(window, SW_SHOWNORMAL);
    BringWindowToTop(window);
    SetForegroundWindow(window);
  } else {
    RECT work;
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0))
      work = RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SetWindowPos(window, HWND_TOPMOST, work.right - width - 2, work.bottom - height - 2, width,
                 height, SWP_NOACTIVATE);
    ShowWindow(window, SW_SHOWNOACTIVATE);
  }
  return true;
}

void __stdcall TIProgressAlert::Close() {
  HWND window, parent;
  {
    CriticalSectionGuard lock(lock_);
    window = window_;
    parent = parent_;
    if (window == nullptr) return;
    picture_ = nullptr;
    window_ = label_ = bar_ = nullptr;
    parent_ = nullptr;
  }
  if (IsOwnThread(window)) {
    DestroyWindow(window);
  } else {
    // The owner thread destroys it when it gets to the command; this thread goes on.
    SetWindowLongA(window, kClosableOffset, 1);
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
  }
  if (parent != nullptr) {
    EnableWindow(parent, TRUE);
    if (IsOwnThread(parent))
      SetActiveWindow(parent);
    else
      SetForegroundWindow(parent);
  }
}

}  // namespace

ComPtr<IProgressAlert> CreateProgressWindow(const std::string& title, HMODULE pictureModule,
                                            const std::string& pictureName) {
  return ComPtr<IProgressAlert>::Adopt(
      new (std::nothrow) TIProgressAlert(title, pictureModule, pictureName));
}

ProgressWindowParts ProgressWindowPartsOf(IProgressAlert* alert) {
  if (alert == nullptr) return {};
  return static_cast<TIProgressAlert*>(alert)->Parts();
}

}  // namespace qx
