#include "exception_box_win.h"

#include <atomic>

#include "box_rules.h"
#include "clipboard_win.h"
#include "exception_box_internal_win.h"
#include "placeholders.h"
#include "process_registries.h"

namespace qx {

namespace {

constexpr int kMargin = 10;
constexpr int kMessageLeft = 52;
constexpr int kMessageWrap = 440;
constexpr int kButtonHeight = 23;
constexpr int kPageHeight = 320;
constexpr int kFullWidth = 640;
constexpr WPARAM kChangedWParam = 1357;
constexpr LPARAM kChangedLParam = 2468;
// Destroys the box once the message that asked for the close has returned: a button that
// is still inside its click must not lose its window under it.
constexpr UINT kBoxDestroy = WM_APP + 1;

std::atomic<HWND> gCurrentBox{nullptr};

template <class Step>
void Guarded(Step&& step) {
  try {
    step();
  } catch (...) {
  }
}

bool RegisterBoxClass() {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&controls);
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = DefWindowProcA;  // replaced per window once its object is known
  windowClass.hInstance = UiCodeModule();
  windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kExceptionBoxClass;
  return RegisterClassA(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

void FireHandlers(int32_t action, IKVException* exception, HWND parent) {
  if (Hooks().fireActionHandlers != nullptr)
    Guarded([&] { Hooks().fireActionHandlers(action, exception, parent); });
}

bool OwnThread(HWND window) {
  return GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId();
}

}  // namespace

TExceptionBox::TExceptionBox(IKVException* exception, uint32_t mode, HWND owner,
                             const BoxAutomatic& automatic)
    : exception_(exception), mode_(mode), owner_(owner), automatic_(automatic) {
  shortBox_ = mode == 2 || mode == 3;
  withReport_ = !shortBox_ && exception->GetAutoShowBugRep();
  ownerDrawn_ = !exception->GetUglyBtns();
}

TExceptionBox::~TExceptionBox() {
  if (callbackAdded_) exception_->RemoveReportCallbackOO(OnReportChanged, window_);
  if (window_ != nullptr && IsWindow(window_)) DestroyWindow(window_);
  HWND self = window_;
  gCurrentBox.compare_exchange_strong(self, nullptr);
  if (images_ != nullptr) ImageList_Destroy(images_);
  if (font_ != nullptr) DeleteObject(font_);
  if (reportFont_ != nullptr) DeleteObject(reportFont_);
}

void TExceptionBox::ComposeTexts() {
  IKVException* e = exception_.Get();
  bool freeze = e->ExceptionType() == 1;
  std::string message = freeze ? std::string() : e->ExceptionMessage();
  std::string text = freeze ? e->GetFrozenMsg() : e->GetExceptMsg();
  std::string title = e->GetTitleBar();
  bool namesMessage = text.find("%exceptMsg%") != std::string::npos ||
                      text.find("%EXCEPTMSG%") != std::string::npos;
  for (std::string* t : {&text, &title}) {
    ReplaceIgnoringCase(*t, "%exceptClass%", e->ExceptionClass());
    ReplaceIgnoringCase(*t, "%exceptMsg%", message.empty() ? std::string("Unknown") : message);
    if (t->find('%') != std::string::npos)
      ReplaceIgnoringCase(*t, "%bugReport%", e->GetReportText(false));
  }
  // The exception's own words say what failed, also where the text does not name them.
  if (!namesMessage && !message.empty()) text += "\r\n\r\n" + message;
  title_ = title;
  text_ = text;
}

void TExceptionBox::CreateFonts() {
  font_ = CreateFontA(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Tahoma");
  if (font_ == nullptr)
    font_ = CreateFontA(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0,
                        "MS Sans Serif");
  if (withReport_)
    reportFont_ = CreateFontA(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0,
                              "Courier New");
}

SIZE TExceptionBox::MessageSize() {
  SIZE size{0, 0};
  HDC dc = GetDC(window_);
  HGDIOBJ old = SelectObject(dc, font_);
  RECT bounds{0, 0, kMessageWrap, 0};
  DrawTextA(dc, text_.c_str(), static_cast<int>(text_.size()), &bounds,
            DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
  SelectObject(dc, old);
  ReleaseDC(window_, dc);
  size.cx = bounds.right - bounds.left;
  size.cy = bounds.bottom - bounds.top;
  if (size.cy < 32) size.cy = 32;
  return size;
}

bool TExceptionBox::Create() {
  if (!RegisterBoxClass()) return false;
  ComposeTexts();
  if (withReport_) exception_->SetShowBtnVis(false);
  DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
  if (withReport_) {
    style |= WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
    exStyle &= ~WS_EX_DLGMODALFRAME;
  }
  window_ = CreateWindowExA(exStyle, kExceptionBoxClass, title_.c_str(), style, 0, 0, 100, 100,
                            owner_, nullptr, UiCodeModule(), nullptr);
  if (window_ == nullptr) return false;
  SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WindowProc));
  gCurrentBox.store(window_);
  CreateFonts();
  CreateChildren();
  PlaceWindow();
  ShowWindow(window_, SW_SHOWNORMAL);
  BringWindowToTop(window_);
  SetForegroundWindow(window_);
  FocusFirstButton();
  if (withReport_) {
    exception_->AddReportCallbackOO(OnReportChanged, window_, false);
    callbackAdded_ = true;
    SyncTabs();
  }
  StartCountdown();
  return true;
}

void TExceptionBox::CreateChildren() {
  HMODULE instance = UiCodeModule();
  icon_ = CreateWindowExA(0, "BUTTON", "", WS_CHILD | WS_VISIBLE | WS_DISABLED | BS_OWNERDRAW,
                          kMargin, kMargin, 32, 32, window_, nullptr, instance, nullptr);
  message_ = CreateWindowExA(0, "STATIC", text_.c_str(), WS_CHILD | WS_VISIBLE | SS_NOPREFIX, 0, 0,
                             0, 0, window_, nullptr, instance, nullptr);
  SendMessageA(message_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  CreateButtons();
  if (withReport_) CreateTabs();
}

void TExceptionBox::PlaceWindow() {
  SIZE text = MessageSize();
  int clientWidth = std::max<int>(kMessageLeft + text.cx + kMargin, ButtonRowWidth() + 2 * kMargin);
  int clientHeight = kMargin + text.cy + kMargin + kButtonHeight + kMargin;
  if (withReport_) {
    clientWidth = std::max(clientWidth, kFullWidth);
    clientHeight += kPageHeight + kMargin;
  }
  RECT frame{0, 0, clientWidth, clientHeight};
  AdjustWindowRectEx(&frame, GetWindowLongA(window_, GWL_STYLE), FALSE,
                     GetWindowLongA(window_, GWL_EXSTYLE));
  int width = frame.right - frame.left, height = frame.bottom - frame.top;
  int screenWidth = GetSystemMetrics(SM_CXSCREEN), screenHeight = GetSystemMetrics(SM_CYSCREEN);
  if (withReport_) height = std::min(height, screenHeight - 5 * GetSystemMetrics(SM_CYCAPTION));
  width = std::min(width, screenWidth);
  height = std::min(height, screenHeight);
  SetWindowPos(window_, nullptr, (screenWidth - width) / 2, (screenHeight - height) / 2, width,
               height, SWP_NOZORDER | SWP_NOACTIVATE);
  LayOut();
}

void TExceptionBox::LayOut() {
  RECT client;
  GetClientRect(window_, &client);
  SIZE text = MessageSize();
  MoveWindow(message_, kMessageLeft, kMargin + (text.cy > 32 ? 0 : (32 - text.cy) / 2),
             std::max<int>(text.cx, client.right - kMessageLeft - kMargin), text.cy, TRUE);
  int buttonsTop = client.bottom - kMargin - kButtonHeight;
  PlaceButtons(client.right - kMargin, buttonsTop);
  if (tabs_ != nullptr) {
    int top = kMargin + text.cy + kMargin;
    MoveWindow(tabs_, kMargin, top, client.right - 2 * kMargin,
               std::max(40, buttonsTop - kMargin - top), TRUE);
    if (content_ != nullptr) {
      RECT area = ContentRect();
      MoveWindow(content_, area.left, area.top, area.right - area.left, area.bottom - area.top, TRUE);
    }
  }
}

void TExceptionBox::RunLoop() {
  MSG message;
  while (window_ != nullptr && IsWindow(window_)) {
    BOOL got = GetMessageA(&message, nullptr, 0, 0);
    if (got == 0) {
      // A quit meant for this thread's owner: leave it there and give up the box.
      PostQuitMessage(static_cast<int>(message.wParam));
      DestroyWindow(window_);
      break;
    }
    if (got < 0) break;
    if (TranslateKey(message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

bool TExceptionBox::TranslateKey(MSG& message) {
  bool inBox = message.hwnd == window_ || IsChild(window_, message.hwnd);
  if (!inBox) return false;
  if (message.message == WM_KEYDOWN || message.message == WM_SYSKEYDOWN) {
    // The developer's way to the report when the box does not show it: the details
    // button's hot key with Shift, Ctrl and Alt, in the full box and in the short box with
    // details (the short box without them stays as it is).
    const char hotKey = CaptionHotKey(exception_->GetDetailsBtnTxt());
    if (hotKey != 0 && mode_ != 3 && message.wParam == static_cast<WPARAM>(hotKey) &&
        GetKeyState(VK_SHIFT) < 0 && GetKeyState(VK_CONTROL) < 0 &&
        GetKeyState(VK_MENU) < 0 && !exception_->GetAutoShowBugRep()) {
      Details();
      return true;
    }
  }
  if (message.message == WM_KEYDOWN) {
    if (message.wParam == VK_ESCAPE) {
      SendMessageA(window_, WM_CLOSE, 0, 0);
      return true;
    }
    if (message.wParam == VK_F1) {
      FireHandlers(kActionHelp, exception_.Get(), window_);
      return true;
    }
    if (message.wParam == 'C' && GetKeyState(VK_CONTROL) < 0) {
      CopyToClipboard();
      return true;
    }
  } else if (message.message == WM_CHAR && message.wParam == 3) {  // Ctrl+C
    CopyToClipboard();
    return true;
  }
  bool inContent = content_ != nullptr && (message.hwnd == content_ || IsChild(content_, message.hwnd));
  return !inContent && IsDialogMessageA(window_, &message);
}

void TExceptionBox::CopyToClipboard() {
  std::string text = exception_->GetAutoShowBugRep() ? exception_->GetReportText(false) : text_;
  CopyTextToClipboard(text);
}

void TExceptionBox::Details() {
  FireHandlers(kActionShowDetails, exception_.Get(), window_);
  reshow_ = true;
  SendMessageA(window_, kBoxClose, 0, 0);
}

void TExceptionBox::CloseRequest() {
  bool present[kBoxButtonCount];
  for (int kind = 0; kind < kBoxButtonCount; ++kind) present[kind] = Present(kind);
  int focused = static_cast<int>(exception_->GetFocusedBtn());
  IKVException* e = exception_.Get();
  switch (CloseRequestOutcome(focused, present, e->CanContinue())) {
    case BoxOutcome::kContinue: e->ContinueProgram(window_); break;
    case BoxOutcome::kRestart: e->RestartProgram(window_); break;
    case BoxOutcome::kClose: e->CloseProgram(window_); break;
  }
}

void TExceptionBox::Press(int kind) {
  StopCountdown();
  IKVException* e = exception_.Get();
  HWND self = window_;
  switch (kind) {
    case kButtonSend: e->SendReport(self); break;
    case kButtonSave: e->SaveReport(self); break;
    case kButtonPrint: e->PrintReport(self); break;
    case kButtonRestart: e->RestartProgram(self); break;
    case kButtonContinue:
    case kButtonOk:
      if (e->CanContinue())
        e->ContinueProgram(self);
      else
        e->CloseProgram(self);
      break;
    case kButtonClose: e->CloseProgram(self); break;
    case kButtonShow:
    case kButtonDetails: Details(); break;
    default: break;
  }
}

void __stdcall TExceptionBox::OnReportChanged(void* self, bool, const std::string&, IKVException*) {
  // Posted, never sent: the completion thread that tells goes on at once.
  PostMessageA(static_cast<HWND>(self), kBoxReportChanged, kChangedWParam, kChangedLParam);
}

LRESULT CALLBACK TExceptionBox::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* box = reinterpret_cast<TExceptionBox*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (box == nullptr) return DefWindowProcA(window, message, wParam, lParam);
  LRESULT result = 0;
  bool handled = false;
  try {
    result = box->Handle(message, wParam, lParam);
    handled = true;
  } catch (...) {
  }
  return handled ? result : DefWindowProcA(window, message, wParam, lParam);
}

LRESULT TExceptionBox::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND: {
      int id = LOWORD(wParam);
      if (id == IDOK) {
        HWND focus = GetFocus();
        for (const Button& b : buttons_)
          if (b.window == focus) return Press(b.kind), 0;
        return 0;
      }
      if (id == IDCANCEL) return SendMessageA(window_, WM_CLOSE, 0, 0), 0;
      if (HIWORD(wParam) == BN_CLICKED && id >= kButtonIdBase && id <= kButtonIdBase + kButtonDetails)
        Press(id - kButtonIdBase);
      return 0;
    }
    case WM_CLOSE:
      StopCountdown();
      CloseRequest();
      return 0;
    case WM_DRAWITEM: {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (item.hwndItem == icon_)
        DrawIcon(item);
      else
        DrawButton(item);
      return TRUE;
    }
    case WM_TIMER:
      if (wParam == kCountdownTimer) CountdownTick();
      return 0;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->hwndFrom == tabs_ && header->code == TCN_SELCHANGE) SyncTabs();
      return 0;
    }
    case WM_SIZE:
      if (wParam != SIZE_MINIMIZED) LayOut();
      return 0;
    case WM_GETMINMAXINFO: {
      auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
      info->ptMinTrackSize.x = 320;
      info->ptMinTrackSize.y = withReport_ ? 260 : 120;
      return 0;
    }
    case kBoxReportChanged:
      if (!shuttingDown_ && wParam == kChangedWParam && lParam == kChangedLParam) SyncTabs();
      return 0;
    case kBoxShowReport:
      if (!shuttingDown_) Details();
      return 0;
    case kBoxClose:
      if (!shuttingDown_) {
        shuttingDown_ = true;
        StopCountdown();
        ShowWindow(window_, SW_HIDE);
        PostMessageA(window_, kBoxDestroy, 0, 0);
      }
      return 0;
    case kBoxDestroy:
      DestroyWindow(window_);
      return 0;
    case WM_DESTROY: {
      shuttingDown_ = true;
      StopCountdown();
      HWND self = window_;
      gCurrentBox.compare_exchange_strong(self, nullptr);
      return 0;
    }
    default:
      return DefWindowProcA(window_, message, wParam, lParam);
  }
}

void ShowExceptionBox(IKVException* exception, uint32_t mode, HWND owner,
                      const BoxAutomatic& automatic) {
  if (exception == nullptr || (mode != 0 && mode != 2 && mode != 3)) return;
  bool again = false;
  Guarded([&] {
    TExceptionBox box(exception, mode, owner, automatic);
    if (!box.Create()) return;
    box.RunLoop();
    again = box.Reshow() && mode != 3;
  });
  if (!again) return;
  exception->SetAutoShowBugRep(true);
  exception->SetAutoContinue(false);
  exception->SetAutoRestart(0);
  exception->SetAutoClose(0);
  ShowExceptionBox(exception, 0, owner, BoxAutomatic{});
}

HWND CurrentExceptionBoxWindow() { return gCurrentBox.load(); }

void CloseCurrentExceptionBox() {
  HWND box = gCurrentBox.load();
  if (box == nullptr) return;
  if (OwnThread(box)) {
    SendMessageA(box, kBoxClose, 0, 0);
  } else {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(box, kBoxClose, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
  }
}

bool ShowReportInCurrentBox() {
  HWND box = gCurrentBox.load();
  return box != nullptr && PostMessageA(box, kBoxShowReport, 0, 0);
}

}  // namespace qx
