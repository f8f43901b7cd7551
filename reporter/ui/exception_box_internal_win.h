// The exception box's class, shared by its units: window and loop
// (exception_box_win.cpp), buttons and countdown (box_buttons_win.cpp), report pages
// (box_pages_win.cpp).
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "box_rules.h"
#include "code_module_win.h"
#include "com_ptr_win.h"
#include "exception_box_win.h"
#include "report_interfaces_win.h"
#include "report_pages.h"

namespace qx {

// The box's own buttons besides the seven of the settings.
inline constexpr int kButtonOk = 7;
inline constexpr int kButtonDetails = 8;
inline constexpr int kButtonIdBase = 100;  // control id = base + button kind

class TExceptionBox {
 public:
  TExceptionBox(IKVException* exception, uint32_t mode, HWND owner, const BoxAutomatic& automatic);
  ~TExceptionBox();
  TExceptionBox(const TExceptionBox&) = delete;
  TExceptionBox& operator=(const TExceptionBox&) = delete;

  // Creates and shows the windows; false when the main window could not be made.
  bool Create();
  // Retrieves and dispatches messages until the main window is gone.
  void RunLoop();
  bool Reshow() const { return reshow_; }

 private:
  struct Button {
    int kind;
    HWND window = nullptr;
    std::string caption;
    int width = 0;
  };

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static void __stdcall OnReportChanged(void* self, bool complete, const std::string& report,
                                        IKVException* exception);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  bool TranslateKey(MSG& message);

  // window (exception_box_win.cpp)
  void ComposeTexts();
  void CreateFonts();
  void CreateChildren();
  SIZE MessageSize();
  void PlaceWindow();
  void LayOut();
  void CopyToClipboard();
  void Details();
  void CloseRequest();
  void Press(int kind);

  // buttons (box_buttons_win.cpp)
  void CreateButtons();
  void ChooseAutomaticButton();
  int ButtonRowWidth() const;
  void PlaceButtons(int right, int top);
  void FocusFirstButton();
  void DrawButton(const DRAWITEMSTRUCT& item);
  void DrawIcon(const DRAWITEMSTRUCT& item);
  void StartCountdown();
  void StopCountdown();
  void CountdownTick();
  void DrawPlainButtonBar(const Button& button);
  const Button* FindButton(int kind) const;
  bool Present(int kind) const { return FindButton(kind) != nullptr; }

  // pages (box_pages_win.cpp)
  void CreateTabs();
  void SyncTabs();
  void ReadReport(std::vector<ReportPart>& fields, std::vector<ReportPart>& sections);
  void ShowPage(const std::vector<ReportPart>& fields, const std::vector<ReportPart>& sections);
  void FillList(const ListPage& page);
  void FillEdit(const std::string& text);
  void DestroyContent();
  RECT ContentRect();

  ComPtr<IKVException> exception_;
  uint32_t mode_;
  HWND owner_;
  BoxAutomatic automatic_;
  bool shortBox_ = false;
  bool withReport_ = false;
  bool ownerDrawn_ = true;

  HWND window_ = nullptr;
  HWND icon_ = nullptr;
  HWND message_ = nullptr;
  HWND tabs_ = nullptr;
  HWND content_ = nullptr;
  std::vector<Button> buttons_;
  std::string title_, text_;

  HFONT font_ = nullptr;
  HFONT reportFont_ = nullptr;
  HIMAGELIST images_ = nullptr;

  std::vector<ReportTab> tabList_;
  int currentTab_ = -1;
  std::string currentCaption_;
  std::string currentText_;

  int automaticButton_ = kButtonNone;
  DWORD countdownStart_ = 0;
  int32_t countdownPosition_ = 0;
  bool countdownRunning_ = false;

  bool reshow_ = false;
  bool shuttingDown_ = false;
  bool callbackAdded_ = false;
};

}  // namespace qx
