// A form shown as a modal window of its own: the window and its controls, the layout, the
// continue rule, the keyboard and the handler's actions.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "assistant_objects_win.h"
#include "bitmap_win.h"
#include "desktop_visibility_win.h"
#include "form_layout.h"

namespace qx {

class FormWindow {
 public:
  static int32_t Run(TNVForm& form, HWND parent);
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
};

namespace {

constexpr char kClassName[] = "qelNVAssistantWnd";
constexpr int kFirstControlId = 100;
constexpr UINT_PTR kTimerId = 1;
constexpr int32_t kButtonHeight = 23;
constexpr int32_t kMinButtonWidth = 75;

bool RegisterOnce() {
  static const bool registered = [] {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = FormWindow::Proc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kClassName;
    return RegisterClassA(&windowClass) != 0 ||
           GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  return registered;
}

bool ReporterIsExecutable() {
  HMODULE own = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&RegisterOnce), &own);
  return own == GetModuleHandleA(nullptr);
}

// The fonts of one shown form, released with it.
struct FormFonts {
  HFONT heading = CreateFontA(-15, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0,
                              "Arial");
  HFONT items = CreateFontA(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0,
                            "Tahoma");
  HFONT caption = nullptr;
  FormFonts() {
    NONCLIENTMETRICSA metrics{};
    metrics.cbSize = sizeof metrics;
    if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
      caption = CreateFontIndirectA(&metrics.lfCaptionFont);
  }
  ~FormFonts() {
    for (HFONT font : {heading, items, caption})
      if (font != nullptr) DeleteObject(font);
  }
  FormFonts(const FormFonts&) = delete;
  FormFonts& operator=(const FormFonts&) = delete;
};

// Text sizes in one font of a screen device context.
class Measure {
 public:
  explicit Measure(HFONT font) : dc_(GetDC(nullptr)) {
    if (dc_ != nullptr && font != nullptr) old_ = SelectObject(dc_, font);
  }
  ~Measure() {
    if (dc_ == nullptr) return;
    if (old_ != nullptr) SelectObject(dc_, old_);
    ReleaseDC(nullptr, dc_);
  }
  Measure(const Measure&) = delete;
  Measure& operator=(const Measure&) = delete;
  SIZE Extent(const std::string& text) {
    SIZE size{0, 0};
    if (dc_ != nullptr) GetTextExtentPoint32A(dc_, text.c_str(), static_cast<int>(text.size()), &size);
    return size;
  }
  // Height of the text wrapped into `width`.
  int32_t WrappedHeight(const std::string& text, int32_t width) {
    RECT box{0, 0, width, 0};
    if (dc_ != nullptr)
      DrawTextA(dc_, text.c_str(), static_cast<int>(text.size()), &box,
                DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    return box.bottom - box.top;
  }

 private:
  HDC dc_;
  HGDIOBJ old_ = nullptr;
};

int32_t ButtonWidth(Measure& measure, const FormItemModel& button) {
  int32_t width = static_cast<int32_t>(measure.Extent(button.caption).cx) + 24;
  return std::max({width, kMinButtonWidth, button.minWidth});
}

HWND CreateControl(const ItemCore& item, HWND window, HFONT font) {
  const FormItemModel& m = item.model;
  const char* className = "BUTTON";
  std::string text = m.caption;
  DWORD style = WS_CHILD | WS_VISIBLE;
  DWORD exStyle = 0;
  switch (m.kind) {
    case FormItemKind::Button:
      style |= WS_TABSTOP | BS_PUSHBUTTON;
      if (!m.visible) style &= ~WS_VISIBLE;
      break;
    case FormItemKind::Label:
      className = "STATIC";
      style |= SS_LEFT | SS_NOPREFIX;
      break;
    case FormItemKind::Edit:
      className = "EDIT";
      text = m.text;
      style |= WS_TABSTOP | WS_BORDER | ES_LEFT;
      style |= m.lines >= 2 ? ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL | WS_VSCROLL
                            : ES_AUTOHSCROLL;
      break;
    case FormItemKind::CheckBox:
      style |= WS_TABSTOP | BS_CHECKBOX;
      break;
    case FormItemKind::Image:
      className = "STATIC";
      text.clear();
      style |= SS_OWNERDRAW | SS_NOTIFY | (m.clickable ? WS_TABSTOP : 0);
      break;
  }
  HWND control = CreateWindowExA(
      exStyle, className, text.c_str(), style, 0, 0, 10, 10, window,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + item.index)),
      GetModuleHandleA(nullptr), nullptr);
  if (control == nullptr) return nullptr;
  SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  if (m.kind == FormItemKind::CheckBox)
    SendMessageA(control, BM_SETCHECK, m.checked ? BST_CHECKED : BST_UNCHECKED, 0);
  if (m.kind == FormItemKind::Edit && m.lines >= 2) SendMessageA(control, EM_SETLIMITTEXT, 0, 0);
  EnableWindow(control, m.enabled);
  return control;
}

// The size an item needs in a form of the width, measured in the item font.
LaidOutItem MeasureItem(const ItemCore& item, Measure& measure, int32_t formWidth) {
  const FormItemModel& m = item.model;
  LaidOutItem out;
  out.kind = m.kind;
  out.spacing = m.spacing;
  int32_t span = ItemSpan(formWidth);
  int32_t lineHeight = static_cast<int32_t>(measure.Extent("Gg").cy);
  switch (m.kind) {
    case FormItemKind::Button:
      out.width = ButtonWidth(measure, m);
      out.height = kButtonHeight;
      break;
    case FormItemKind::Label:
      out.width = span;
      out.height = std::max<int32_t>(lineHeight, measure.WrappedHeight(m.caption, span));
      out.heading = IsHeadingLabel(m, out.height <= lineHeight);
      break;
    case FormItemKind::Edit:
      out.width = EditWidth(formWidth);
      out.height = EditHeight(lineHeight, m.lines);
      break;
    case FormItemKind::CheckBox:
      out.width = std::min<int32_t>(span, measure.Extent(m.caption).cx + 24);
      out.height = std::max<int32_t>(lineHeight + 4, 17);
      break;
    case FormItemKind::Image:
      out.width = std::min(span, m.width > 0 ? m.width : span);
      out.height = m.height > 0 ? m.height : 100;
      break;
  }
  return out;
}

bool Focusable(const ItemCore* item) {
  return item->window != nullptr && (GetWindowLongA(item->window, GWL_STYLE) & WS_VISIBLE) &&
         IsWindowEnabled(item->window) && item->model.kind != FormItemKind::Label &&
         (item->model.kind != FormItemKind::Image || item->model.clickable);
}

ItemCore* ItemOfWindow(TNVForm& form, HWND control) {
  for (ItemCore* item : form.Items())
    if (item->window != nullptr && item->window == control) return item;
  return nullptr;
}

// The next (or previous) focusable item after `from`, wrapping round; null when none is.
ItemCore* NeighbourItem(TNVForm& form, ItemCore* from, bool forward) {
  const auto& items = form.Items();
  int32_t count = static_cast<int32_t>(items.size());
  int32_t at = from != nullptr ? from->index : (forward ? -1 : count);
  for (int32_t step = 1; step <= count; ++step) {
    int32_t i = ((at + (forward ? step : -step)) % count + count) % count;
    if (Focusable(items[i])) return items[i];
  }
  return nullptr;
}

void PaintHeading(TNVForm& form, HDC dc, HFONT headingFont, HFONT itemFont) {
  RECT client;
  GetClientRect(form.Window(), &client);
  SetBkMode(dc, TRANSPARENT);
  HGDIOBJ old = SelectObject(dc, headingFont);
  std::string message = form.Message();
  TextOutA(dc, kItemLeft, kHeadingTop, message.c_str(), static_cast<int>(message.size()));
  SelectObject(dc, itemFont);
  // One numbered box per form at the right, the current one dark.
  int32_t count = form.FormCount();
  for (int32_t i = 0; i < count; ++i) {
    int32_t x = client.right - kItemLeft - (count - i) * kFormCountStep + 2;
    RECT box{x, kHeadingTop + 1, x + kFormCountStep - 3, kHeadingTop + kFormCountStep - 2};
    bool current = i + 1 == form.Position();
    FillRect(dc, &box, GetSysColorBrush(current ? COLOR_HIGHLIGHT : COLOR_3DSHADOW));
    SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
    std::string number = std::to_string(i + 1);
    DrawTextA(dc, number.c_str(), -1, &box, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  }
  // A line between the page and its buttons.
  RECT line{kButtonMargin, client.bottom - kButtonHeight - 2 * kButtonMargin - 2,
            client.right - kButtonMargin, client.bottom - kButtonHeight - 2 * kButtonMargin};
  DrawEdge(dc, &line, EDGE_ETCHED, BF_TOP);
  SelectObject(dc, old);
}

void PaintImage(ItemCore& item, const DRAWITEMSTRUCT& draw) {
  RECT box = draw.rcItem;
  FillRect(draw.hDC, &box, GetSysColorBrush(COLOR_BTNFACE));
  if (item.model.border) {
    DrawEdge(draw.hDC, &box, BDR_SUNKENOUTER, BF_RECT | BF_ADJUST);
  }
  ComPtr<INVBitmap> picture = item.bitmap.As<INVBitmap>(IID_INVBitmap);
  if (!picture) return;
  int32_t width = box.right - box.left, height = box.bottom - box.top;
  if (!item.fitted) item.fitted = ComPtr<IUnknown>::Adopt(picture->Resample(width, height));
  ComPtr<INVBitmap> fitted = item.fitted.As<INVBitmap>(IID_INVBitmap);
  if (!fitted) return;
  fitted->Paint(draw.hDC, box.left + (width - fitted->PixelWidth()) / 2,
                box.top + (height - fitted->PixelHeight()) / 2);
}

}  // namespace

namespace {

void FocusFirst(TNVForm& form) {
  ItemCore* target = nullptr;
  if (!form.ActiveControl().empty())
    for (ItemCore* item : form.Items())
      if (EqualNoCase(item->model.name, form.ActiveControl()) && Focusable(item)) target = item;
  if (target == nullptr) target = NeighbourItem(form, form.Items()[kCancelButton], true);
  if (target != nullptr) SetFocus(target->window);
}

}  // namespace

void TNVForm::UpdateContinueButton() {
  if (window_ == nullptr || items_.empty()) return;
  bool allowed = true;
  for (ItemCore* item : items_) {
    if (item->model.kind != FormItemKind::Edit) continue;
    std::string text = item->window != nullptr
                           ? static_cast<INVEdit*>(item->Interface())->Text()
                           : item->model.text;
    allowed = allowed && ItemAllowsContinue(item->model, text);
  }
  ItemCore* next = items_[kContinueButton];
  next->model.enabled = allowed;
  if (next->window != nullptr) EnableWindow(next->window, allowed);
}

int32_t __stdcall TNVForm::RunModal(HWND parent) { return FormWindow::Run(*this, parent); }

namespace {

struct ShownForm {
  TNVForm* form;
  FormFonts* fonts;
  HWND focused = nullptr;  // the control that had the focus when the window lost it
};

// Ends the form with a page button's result.
void PressPageButton(TNVForm& form, size_t button) {
  HWND window = form.Window();
  KillTimer(window, kTimerId);
  int32_t result = button == kContinueButton ? kResultContinue
                   : button == kSkipButton   ? kResultSkip
                                             : kResultCancel;
  return (void)SendMessageA(window, WM_APP, static_cast<WPARAM>(result), 0);
}

}  // namespace

LRESULT CALLBACK FormWindow::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* shown = reinterpret_cast<ShownForm*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (shown == nullptr) return DefWindowProcA(window, message, wParam, lParam);
  TNVForm& form = *shown->form;
  switch (message) {
    case WM_COMMAND: {
      ItemCore* item = ItemOfWindow(form, reinterpret_cast<HWND>(lParam));
      if (item == nullptr || form.building_) break;
      WORD code = HIWORD(wParam);
      if (item->model.kind == FormItemKind::Edit && code == EN_CHANGE) {
        form.Notify(kFormItemEvent, item);
        form.UpdateContinueButton();
      } else if (item->model.kind == FormItemKind::CheckBox && code == BN_CLICKED) {
        auto* check = static_cast<INVCheckBox*>(item->Interface());
        check->SetChecked(!check->Checked());
        form.Notify(kFormItemEvent, item);
      } else if (item->model.kind == FormItemKind::Button && code == BN_CLICKED) {
        form.Notify(kFormItemEvent, item);
        if (item->index < static_cast<int32_t>(kPageButtonCount) && form.window_ != nullptr)
          PressPageButton(form, static_cast<size_t>(item->index));
      } else if (item->model.kind == FormItemKind::Image && code == STN_CLICKED &&
                 item->model.clickable) {
        form.Notify(kFormItemEvent, item);
      }
      return 0;
    }
    case WM_APP: {  // a page button ended the form
      form.result_ = static_cast<int32_t>(wParam);
      if (form.result_ == kResultContinue)
        for (ItemCore* item : form.items_)
          if (item->model.kind == FormItemKind::Edit)
            item->model.text = static_cast<INVEdit*>(item->Interface())->Text();
      form.Notify(kFormClosed, nullptr);
      DestroyWindow(window);
      return 0;
    }
    case WM_CLOSE:
      KillTimer(window, kTimerId);
      form.result_ = kResultCancel;
      form.Notify(kFormClosed, nullptr);
      DestroyWindow(window);
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE && IsChild(window, GetFocus())) shown->focused = GetFocus();
      break;
    case WM_SETFOCUS:
      // The window itself takes no input: the focus goes back to its control.
      if (shown->focused != nullptr && IsWindow(shown->focused) && IsWindowEnabled(shown->focused))
        SetFocus(shown->focused);
      else
        FocusFirst(form);
      return 0;
    case WM_TIMER:
      if (wParam == kTimerId) form.Notify(kFormItemEvent, nullptr);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      PaintHeading(form, dc, shown->fonts->heading, shown->fonts->items);
      EndPaint(window, &paint);
      return 0;
    }
    case WM_DRAWITEM: {
      auto* draw = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
      if (ItemCore* item = ItemOfWindow(form, draw->hwndItem)) PaintImage(*item, *draw);
      return TRUE;
    }
    case WM_DESTROY:
      for (ItemCore* item : form.items_) item->window = nullptr;
      form.window_ = nullptr;
      SetWindowLongPtrA(window, GWLP_USERDATA, 0);
      // Destroyed inside a sent message, the window would leave the loop waiting in
      // GetMessage for a posted one: this is it.
      PostMessageA(nullptr, WM_NULL, 0, 0);
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

namespace {

// Escape, Tab, Shift+Tab and Enter as the form wants them; true when the key was used.
bool FormKey(TNVForm& form, const MSG& msg) {
  HWND window = form.Window();
  if (msg.message != WM_KEYDOWN || window == nullptr ||
      (msg.hwnd != window && !IsChild(window, msg.hwnd)))
    return false;
  ItemCore* focused = ItemOfWindow(form, GetFocus());
  switch (msg.wParam) {
    case VK_ESCAPE: {
      ItemCore* cancel = form.Items()[kCancelButton];
      if (cancel->window != nullptr && IsWindowEnabled(cancel->window))
        SendMessageA(cancel->window, BM_CLICK, 0, 0);
      return true;
    }
    case VK_TAB: {
      bool back = GetKeyState(VK_SHIFT) < 0;
      if (ItemCore* next = NeighbourItem(form, focused, !back)) SetFocus(next->window);
      return true;
    }
    case VK_RETURN: {
      if (focused == nullptr) return false;
      if (focused->model.kind == FormItemKind::Button) {
        SendMessageA(focused->window, BM_CLICK, 0, 0);
        return true;
      }
      if (focused->model.kind == FormItemKind::Edit && focused->model.lines >= 2) return false;
      if (ItemCore* next = NeighbourItem(form, focused, true)) SetFocus(next->window);
      return true;
    }
  }
  return false;
}

void LayOut(TNVForm& form, HWND window, FormFonts& fonts, const std::string& title) {
  const auto& items = form.Items();
  Measure measure(fonts.items);
  FormWidthInput widthInput;
  PageButtonInput buttons;
  for (size_t i = 0; i < kPageButtonCount; ++i) {
    buttons.widths[i] = widthInput.buttonWidths[i] = ButtonWidth(measure, items[i]->model);
    buttons.visible[i] = items[i]->model.visible;
  }
  buttons.height = kButtonHeight;
  buttons.skipEnabled = items[kSkipButton]->model.enabled;
  widthInput.minWidth = form.MinWidth();
  widthInput.formCount = form.FormCount();
  widthInput.headingWidth = Measure(fonts.heading).Extent(form.Message()).cx;
  widthInput.titleWidth = Measure(fonts.caption).Extent(title).cx;
  int32_t width = FormWidth(widthInput);

  std::vector<LaidOutItem> laidOut;
  for (size_t i = kPageButtonCount; i < items.size(); ++i)
    laidOut.push_back(MeasureItem(*items[i], measure, width));
  FormPlacement placement = PlaceForm(width, laidOut, buttons);
  for (size_t i = 0; i < items.size(); ++i) {
    const ItemBox& box =
        i < kPageButtonCount ? placement.buttons[i] : placement.items[i - kPageButtonCount];
    if (items[i]->window != nullptr)
      MoveWindow(items[i]->window, box.x, box.y, box.width, box.height, FALSE);
  }
  RECT frame{0, 0, placement.width, placement.height};
  AdjustWindowRectEx(&frame, GetWindowLongA(window, GWL_STYLE), FALSE,
                     GetWindowLongA(window, GWL_EXSTYLE));
  int32_t frameWidth = frame.right - frame.left, frameHeight = frame.bottom - frame.top;
  SetWindowPos(window, nullptr, (GetSystemMetrics(SM_CXSCREEN) - frameWidth) / 2,
               (GetSystemMetrics(SM_CYSCREEN) - frameHeight) / 2, frameWidth, frameHeight,
               SWP_NOZORDER | SWP_NOACTIVATE);
}


}  // namespace

int32_t FormWindow::Run(TNVForm& form, HWND parent) {
  form.result_ = kResultNone;
  if (form.window_ != nullptr || form.items_.size() < kPageButtonCount) return kResultCancel;
  // Nobody could answer a window on a desktop that cannot be seen: the form is not shown
  // and counts as cancelled, so the action it stands before does not happen unasked.
  if (!WindowsCanBeSeen(ReporterIsExecutable()) || !RegisterOnce()) {
    form.result_ = kResultCancel;
    return form.result_;
  }
  FormFonts fonts;
  ShownForm shown{&form, &fonts};
  std::string title = form.Title();
  HWND window = CreateWindowExA(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, kClassName,
                                title.c_str(), WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN,
                                0, 0, 100, 100, parent, nullptr, GetModuleHandleA(nullptr), &shown);
  if (window == nullptr) {
    form.result_ = kResultCancel;
    return form.result_;
  }
  if (HMENU menu = GetSystemMenu(window, FALSE))
    for (UINT command : {SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE, SC_RESTORE})
      DeleteMenu(menu, command, MF_BYCOMMAND);
  form.window_ = window;
  form.building_ = true;
  for (ItemCore* item : form.items_) item->window = CreateControl(*item, window, fonts.items);
  LayOut(form, window, fonts, title);
  form.building_ = false;
  form.UpdateContinueButton();
  FocusFirst(form);
  form.Notify(kFormShowing, nullptr);
  bool parentWasEnabled = parent != nullptr && IsWindowEnabled(parent);
  if (parentWasEnabled) EnableWindow(parent, FALSE);
  if (form.window_ != nullptr) {
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    if (form.timer_ > 0) SetTimer(window, kTimerId, static_cast<UINT>(form.timer_), nullptr);
    if (GetFocus() == nullptr || !IsChild(window, GetFocus())) FocusFirst(form);
  }
  MSG msg;
  while (form.window_ != nullptr) {
    int got = GetMessageA(&msg, nullptr, 0, 0);
    if (got <= 0) {
      if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));
      if (form.window_ != nullptr) DestroyWindow(form.window_);
      if (form.result_ == kResultNone) form.result_ = kResultCancel;
      break;
    }
    if (FormKey(form, msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  if (parent != nullptr) {
    if (parentWasEnabled) EnableWindow(parent, TRUE);
    SetActiveWindow(parent);
  }
  return form.result_;
}

}  // namespace qx
