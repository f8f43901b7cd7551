// The exception box's buttons: which are there, their captions and sizes, how owner-drawn
// ones look, and the countdown bar of the automatic action.
#include "exception_box_internal_win.h"
#include "picture_win.h"

namespace qx {

namespace {

constexpr int kButtonHeight = 23;
constexpr int kButtonGap = 6;
constexpr int kButtonPadding = 24;
constexpr int kMinButtonWidth = 75;
constexpr int kBarHeight = 3;

int CaptionWidth(HWND window, HFONT font, const std::string& caption) {
  HDC dc = GetDC(window);
  HGDIOBJ old = SelectObject(dc, font);
  RECT bounds{0, 0, 0, 0};
  DrawTextA(dc, caption.c_str(), static_cast<int>(caption.size()), &bounds,
            DT_CALCRECT | DT_SINGLELINE);
  SelectObject(dc, old);
  ReleaseDC(window, dc);
  return bounds.right - bounds.left;
}

}  // namespace

void TExceptionBox::CreateButtons() {
  IKVException* e = exception_.Get();
  std::vector<std::pair<int, std::string>> wanted;
  if (shortBox_) {
    wanted.push_back({kButtonOk, e->GetOkBtnTxt()});
    if (mode_ == 2) wanted.push_back({kButtonDetails, e->GetDetailsBtnTxt()});
  } else {
    const bool visible[kBoxButtonCount] = {e->GetSendBtnVis(),     e->GetSaveBtnVis(),
                                           e->GetPrintBtnVis(),    e->GetShowBtnVis(),
                                           e->GetContinueBtnVis(), e->GetRestartBtnVis(),
                                           e->GetCloseBtnVis()};
    const std::string captions[kBoxButtonCount] = {e->GetSendBtnTxt(),     e->GetSaveBtnTxt(),
                                                   e->GetPrintBtnTxt(),    e->GetShowBtnTxt(),
                                                   e->GetContinueBtnTxt(), e->GetRestartBtnTxt(),
                                                   e->GetCloseBtnTxt()};
    for (int kind = 0; kind < kBoxButtonCount; ++kind)
      if (visible[kind]) wanted.push_back({kind, captions[kind]});
  }
  DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | (ownerDrawn_ ? BS_OWNERDRAW : BS_PUSHBUTTON);
  for (const auto& [kind, caption] : wanted) {
    Button button;
    button.kind = kind;
    button.caption = caption;
    button.width = std::max(kMinButtonWidth, CaptionWidth(window_, font_, caption) + kButtonPadding);
    button.window = CreateWindowExA(0, "BUTTON", caption.c_str(), style, 0, 0, button.width,
                                    kButtonHeight, window_,
                                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(kButtonIdBase + kind)),
                                    UiCodeModule(), nullptr);
    SendMessageA(button.window, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    buttons_.push_back(std::move(button));
  }
  ChooseAutomaticButton();
}

void TExceptionBox::ChooseAutomaticButton() {
  bool present[kBoxButtonCount];
  for (int kind = 0; kind < kBoxButtonCount; ++kind) present[kind] = Present(kind);
  automaticButton_ = AutomaticButton(automatic_.close, automatic_.restart,
                                     exception_->GetAutoContinue(), present);
  if (automaticButton_ != kButtonNone)
    exception_->SetFocusedBtn(static_cast<uint32_t>(automaticButton_));
}

const TExceptionBox::Button* TExceptionBox::FindButton(int kind) const {
  for (const Button& b : buttons_)
    if (b.kind == kind) return &b;
  return nullptr;
}

int TExceptionBox::ButtonRowWidth() const {
  int width = 0;
  for (const Button& b : buttons_) width += b.width + (width > 0 ? kButtonGap : 0);
  return width;
}

void TExceptionBox::PlaceButtons(int right, int top) {
  int x = right - ButtonRowWidth();
  for (const Button& b : buttons_) {
    MoveWindow(b.window, x, top, b.width, kButtonHeight, TRUE);
    x += b.width + kButtonGap;
  }
}

void TExceptionBox::FocusFirstButton() {
  int wanted = automaticButton_ != kButtonNone ? automaticButton_
                                                : static_cast<int>(exception_->GetFocusedBtn());
  const Button* focus = FindButton(wanted);
  if (focus == nullptr && !buttons_.empty()) focus = &buttons_.front();
  if (focus != nullptr) SetFocus(focus->window);
}

void TExceptionBox::DrawIcon(const DRAWITEMSTRUCT& item) {
  if (!DrawPicture32(item.hDC, item.rcItem.left, item.rcItem.top, exception_->ModuleHandle(), "KVIBIG"))
    DrawPicture32(item.hDC, item.rcItem.left, item.rcItem.top, UiCodeModule(), "KVIBIG");
}

void TExceptionBox::DrawButton(const DRAWITEMSTRUCT& item) {
  HDC dc = item.hDC;
  RECT rect = item.rcItem;
  bool pressed = (item.itemState & ODS_SELECTED) != 0;
  bool focused = (item.itemState & ODS_FOCUS) != 0;
  FillRect(dc, &rect, GetSysColorBrush(COLOR_BTNFACE));
  if (focused) FrameRect(dc, &rect, GetSysColorBrush(COLOR_WINDOWFRAME));
  RECT edge = rect;
  if (focused) InflateRect(&edge, -1, -1);
  DrawEdge(dc, &edge, pressed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
  const Button* button = nullptr;
  for (const Button& b : buttons_)
    if (b.window == item.hwndItem) button = &b;
  if (button == nullptr) return;
  RECT text = rect;
  if (pressed) OffsetRect(&text, 1, 1);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor((item.itemState & ODS_DISABLED) ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
  HGDIOBJ old = SelectObject(dc, font_);
  DrawTextA(dc, button->caption.c_str(), static_cast<int>(button->caption.size()), &text,
            DT_SINGLELINE | DT_CENTER | DT_VCENTER);
  SelectObject(dc, old);
  if (focused) {
    RECT dots = rect;
    InflateRect(&dots, -4, -4);
    DrawFocusRect(dc, &dots);
  }
  if (countdownRunning_ && button->kind == automaticButton_ && countdownPosition_ > 0) {
    int length = std::min<int>(countdownPosition_, rect.right - rect.left - 6);
    RECT bar{rect.left + 3, rect.bottom - 3 - kBarHeight, rect.left + 3 + length, rect.bottom - 3};
    FillRect(dc, &bar, GetSysColorBrush(COLOR_HIGHLIGHT));
  }
}

void TExceptionBox::StartCountdown() {
  if (automaticButton_ == kButtonNone) return;
  countdownStart_ = GetTickCount();
  countdownPosition_ = 0;
  countdownRunning_ = SetTimer(window_, kCountdownTimer, 10, nullptr) != 0;
}

void TExceptionBox::StopCountdown() {
  if (!countdownRunning_) return;
  countdownRunning_ = false;
  if (window_ != nullptr) KillTimer(window_, kCountdownTimer);
  if (const Button* b = FindButton(automaticButton_)) InvalidateRect(b->window, nullptr, TRUE);
}

void TExceptionBox::CountdownTick() {
  const Button* button = FindButton(automaticButton_);
  if (!countdownRunning_ || button == nullptr) return;
  RECT rect;
  GetClientRect(button->window, &rect);
  int width = rect.right - rect.left;
  int32_t position = CountdownPosition(GetTickCount() - countdownStart_, width,
                                       exception_->GetAutoDelay());
  if (CountdownPassed(position, width, ownerDrawn_)) {
    StopCountdown();
    PostMessageA(window_, WM_COMMAND, MAKEWPARAM(kButtonIdBase + button->kind, BN_CLICKED),
                 reinterpret_cast<LPARAM>(button->window));
    return;
  }
  if (position == countdownPosition_) return;
  countdownPosition_ = position;
  if (ownerDrawn_)
    InvalidateRect(button->window, nullptr, FALSE);
  else
    DrawPlainButtonBar(*button);
}

// A system button paints itself; the bar goes on top of it after each tick.
void TExceptionBox::DrawPlainButtonBar(const Button& button) {
  RECT rect;
  GetClientRect(button.window, &rect);
  HDC dc = GetDC(button.window);
  int length = std::min<int>(countdownPosition_, rect.right - rect.left - 6);
  RECT bar{rect.left + 3, rect.bottom - 3 - kBarHeight, rect.left + 3 + length, rect.bottom - 3};
  FillRect(dc, &bar, GetSysColorBrush(COLOR_HIGHLIGHT));
  ReleaseDC(button.window, dc);
}

}  // namespace qx
