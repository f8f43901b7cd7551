// Assistant forms as real windows under Wine: the test runs an assistant on its own thread
// and drives the forms from a second one through window messages, reading the answers back
// through the controls, the report and the registry.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "assistant_runs_win.h"
#include "assistant_objects_win.h"
#include "assistant_win.h"
#include "bitmap_win.h"
#include "delivery_lifecycle_win.h"
#include "exception_object_win.h"
#include "form_layout.h"
#include "handler_tables_win.h"
#include "list_plugins_win.h"
#include "map_lookup.h"
#include "process_registries.h"
#include "process_threads_win.h"
#include "report_hooks_win.h"
#include "settings_object_win.h"
#include "temp_folder_win.h"

// Routines of this program that forms name as their handlers (tests/ui/forms): one with
// the handler's calling convention, one that removes its arguments itself.
std::vector<int32_t> gRecordedFormActions;
extern "C" __attribute__((noinline)) void RecordFormAction(qx::INVForm*, int32_t action, qx::INVItem*,
                                                           IUnknown*) {
  gRecordedFormActions.push_back(action);
}
extern "C" __attribute__((noinline)) void __stdcall FormActionThatPopsItsArguments(
    qx::INVForm*, int32_t action, qx::INVItem*, IUnknown*) {
  gRecordedFormActions.push_back(-action);
}

namespace qx {
namespace {

constexpr DWORD kWaitMs = 10000;
constexpr int kFirstControl = 100;

bool WaitUntil(const std::function<bool()>& state, DWORD limitMs = kWaitMs) {
  DWORD start = GetTickCount();
  while (!state()) {
    if (GetTickCount() - start > limitMs) return false;
    Sleep(5);
  }
  return true;
}

HWND ShownForm() { return VisibleWindowOfThisProcess("qelNVAssistantWnd"); }

// The next shown form that is not `previous`.
HWND WaitForm(HWND previous = nullptr) {
  HWND form = nullptr;
  WaitUntil([&] {
    form = ShownForm();
    return form != nullptr && form != previous;
  });
  return form != previous ? form : nullptr;
}

HWND Control(HWND form, int index) { return GetDlgItem(form, kFirstControl + index); }

std::string Text(HWND window) {
  char buffer[512] = {};
  SendMessageA(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer));
  return buffer;
}

void Type(HWND edit, const std::string& text) {
  SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void Click(HWND button) { SendMessageA(button, BM_CLICK, 0, 0); }

void Key(HWND target, WPARAM key) { PostMessageA(target, WM_KEYDOWN, key, 0); }

bool Checked(HWND box) { return SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED; }

HWND FocusOf(DWORD thread) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  return GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
}

BOOL CALLBACK CountChild(HWND, LPARAM counter) {
  ++*reinterpret_cast<int*>(counter);
  return TRUE;
}

int ChildCount(HWND form) {
  int count = 0;
  EnumChildWindows(form, CountChild, reinterpret_cast<LPARAM>(&count));
  return count;
}

SIZE ClientSize(HWND form) {
  RECT client{};
  GetClientRect(form, &client);
  return {client.right, client.bottom};
}

// A picture of the form as the screen shows it, as PNG in the build folder.
void SaveFormPicture(HWND form, const char* name) {
  RedrawWindow(form, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  SendMessageA(form, WM_NULL, 0, 0);
  RECT box{};
  GetWindowRect(form, &box);
  TINVBitmap* picture = TINVBitmap::Create(box.right - box.left, box.bottom - box.top);
  ASSERT_NE(picture, nullptr);
  HDC screen = GetDC(nullptr);
  BitBlt(picture->DeviceContext(), 0, 0, picture->PixelWidth(), picture->PixelHeight(), screen,
         box.left, box.top, SRCCOPY);
  ReleaseDC(nullptr, screen);
  GdiFlush();
  CreateDirectoryA(QX_SCREENSHOT_DIR, nullptr);
  EXPECT_TRUE(picture->WritePngFile(std::string(QX_SCREENSHOT_DIR) + "/" + name, 0));
  picture->Release();
}

// Runs `run` on this thread while `drive` works the forms from another; whatever form the
// driver leaves open is closed, so a failing driver cannot hang the test.
int32_t RunDriven(const std::function<int32_t()>& run, const std::function<void(DWORD)>& drive) {
  std::atomic<bool> done{false};
  DWORD uiThread = GetCurrentThreadId();
  std::thread driver([&] {
    drive(uiThread);
    WaitUntil([&] {
      if (HWND form = ShownForm()) PostMessageA(form, WM_CLOSE, 0, 0);
      return done.load();
    });
  });
  int32_t result = run();
  done = true;
  driver.join();
  return result;
}

ComPtr<INVAssistant> Build(const std::vector<std::string>& forms, IUnknown* report = nullptr,
                           const std::string& title = "Send Assistant") {
  return AssistantFromForms(GetModuleHandleA(nullptr), title, forms, report);
}

void ForgetContact() { RegDeleteKeyA(HKEY_CURRENT_USER, kContactFormKey); }

std::string Remembered(const char* name) {
  char value[256] = {};
  DWORD size = sizeof value - 1;
  if (RegGetValueA(HKEY_CURRENT_USER, kContactFormKey, name, RRF_RT_REG_SZ, nullptr, value,
                   &size) != ERROR_SUCCESS)
    return "<none>";
  return value;
}

// Contact form controls: 0 Continue, 1 Skip, 2 Cancel, 3 label, 4 name, 5 label, 6 e-mail,
// 7 remember me.
constexpr int kNameEdit = 4, kEmailEdit = 6, kMemCheck = 7;

TEST(AssistantForms, EmailRuleDecidesContinue) {
  ForgetContact();
  auto assistant = Build({"ContactForm"});
  std::vector<std::pair<std::string, bool>> seen;
  bool startDisabled = false;
  std::string labels;
  int32_t result = RunDriven([&] { return assistant->RunModal(nullptr); }, [&](DWORD) {
    HWND form = WaitForm();
    if (form == nullptr) return;
    HWND next = Control(form, 0);
    startDisabled = !IsWindowEnabled(next);
    labels = Text(Control(form, 3)) + "|" + Text(Control(form, 5)) + "|" + Text(Control(form, kMemCheck)) +
             "|" + Text(next) + "|" + Text(Control(form, 1)) + "|" + Text(Control(form, 2));
    Type(Control(form, kNameEdit), "Ann");
    for (const char* email : {"a@b.c", "a@.b.c", ".a@b.c", "a@b.c.", "a @b.c", "@b.c", "a@bc",
                              "ann.lee@example.com"}) {
      Type(Control(form, kEmailEdit), email);
      seen.emplace_back(email, IsWindowEnabled(next) != FALSE);
    }
    Type(Control(form, kEmailEdit), "");
    seen.emplace_back("", IsWindowEnabled(next) != FALSE);
    SaveFormPicture(form, "contact_form.png");
    Key(Control(form, kNameEdit), VK_ESCAPE);
  });
  EXPECT_EQ(result, kResultCancel);
  EXPECT_TRUE(startDisabled);
  EXPECT_EQ(labels, "your name:|your email:|remember me|Continue|Skip|Cancel");
  std::vector<std::pair<std::string, bool>> expected = {
      {"a@b.c", true},  {"a@.b.c", false}, {".a@b.c", false}, {"a@b.c.", false}, {"a @b.c", false},
      {"@b.c", false},  {"a@bc", false},   {"ann.lee@example.com", true}, {"", false}};
  EXPECT_EQ(seen, expected);
}

TEST(AssistantForms, EscapeCancelsTheWholeAssistantAndKeysMoveTheFocusBothWays) {
  ForgetContact();
  auto assistant = Build({"ContactForm", "DetailsForm"});
  HWND firstFocus = nullptr, afterTab = nullptr, afterEnter = nullptr, afterShiftTab = nullptr;
  HWND nameEdit = nullptr, emailEdit = nullptr, memCheck = nullptr;
  bool skipDisabled = false;
  int32_t result = RunDriven([&] { return assistant->RunModal(nullptr); }, [&](DWORD ui) {
    HWND form = WaitForm();
    if (form == nullptr) return;
    nameEdit = Control(form, kNameEdit);
    emailEdit = Control(form, kEmailEdit);
    memCheck = Control(form, kMemCheck);
    skipDisabled = !IsWindowEnabled(Control(form, 1));
    WaitUntil([&] { return IsChild(form, FocusOf(ui)); });
    firstFocus = FocusOf(ui);
    Key(nameEdit, VK_TAB);
    WaitUntil([&] { return FocusOf(ui) != firstFocus; });
    afterTab = FocusOf(ui);
    Key(emailEdit, VK_RETURN);  // Enter in a one-line edit moves on
    WaitUntil([&] { return FocusOf(ui) != afterTab; });
    afterEnter = FocusOf(ui);
    // Shift+Tab goes back: the form reads Shift from the key state, which this thread
    // shares with the form's once their input is attached.
    AttachThreadInput(GetCurrentThreadId(), ui, TRUE);
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_SHIFT] = 0x80;
    SetKeyboardState(keys);
    Key(memCheck, VK_TAB);
    WaitUntil([&] { return FocusOf(ui) != afterEnter; });
    afterShiftTab = FocusOf(ui);
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
    AttachThreadInput(GetCurrentThreadId(), ui, FALSE);
    Key(memCheck, VK_ESCAPE);
  });
  EXPECT_EQ(result, kResultCancel);
  EXPECT_TRUE(skipDisabled);
  EXPECT_EQ(firstFocus, nameEdit);
  EXPECT_EQ(afterTab, emailEdit);
  EXPECT_EQ(afterEnter, memCheck);
  EXPECT_EQ(afterShiftTab, emailEdit);
  ComPtr<INVForm> details = ComPtr<INVForm>::Adopt(assistant->Form(1));
  EXPECT_EQ(details->ModalResult(), kResultNone);  // never shown
}

class ReportAssistantTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Hooks() = ReportHooks();
    SetReportHandlerThread(GetCurrentThreadId());
    ReportStartup();
    DeliveryStartup();
    AssistantStartup(GetModuleHandleA(nullptr));
    ForgetContact();
    settings_ = OpenModuleSettings(GetModuleHandleA(nullptr));
    ASSERT_TRUE(settings_ && settings_->HasSettings());
    ExceptionFacts facts;
    facts.type = 1;
    exception_ = CreateTIKVException(settings_.Get(), facts);
    ASSERT_TRUE(exception_);
    TINVBitmap* shot = TINVBitmap::Create(64, 48);
    ASSERT_NE(shot, nullptr);
    RECT all{0, 0, 64, 48};
    HBRUSH brush = CreateSolidBrush(RGB(40, 120, 200));
    FillRect(shot->DeviceContext(), &all, brush);
    DeleteObject(brush);
    GdiFlush();
    exception_->SetScreenshot(static_cast<INVBitmap*>(shot));
    shot->Release();
  }
  void TearDown() override {
    exception_ = nullptr;
    AssistantShutdown();
    DeliveryShutdown();
    Hooks() = ReportHooks();
    SetReportHandlerThread(0);
    ForgetContact();
  }
  int32_t Index(const std::string& name) {
    ComPtr<IKVFields> header = ComPtr<IKVFields>::Adopt(exception_->HeaderFields());
    return header->Find(name);
  }
  std::string Section(const std::string& name) {
    ComPtr<IKVFields> sections = ComPtr<IKVFields>::Adopt(exception_->ReportSections());
    return sections->Find(name) < 0 ? "<none>" : sections->Content(name);
  }
  // Fills the contact form and presses Continue.
  static void FillContact(HWND form, const char* name, const char* email, bool remember) {
    Type(Control(form, kNameEdit), name);
    Type(Control(form, kEmailEdit), email);
    if (Checked(Control(form, kMemCheck)) != remember) Click(Control(form, kMemCheck));
    Click(Control(form, 0));
  }

  ComPtr<IKVModuleSettings> settings_;
  ComPtr<IKVException> exception_;
};

TEST_F(ReportAssistantTest, SkippedDetailsStayOutAndContactGoesIntoTheHeader) {
  // A field set now marks the header's insertion point; the assistant's come after it.
  ComPtr<IKVFields>::Adopt(exception_->HeaderFields())->SetContent("probe", "x");
  int32_t probe = Index("probe");
  ASSERT_GE(probe, 0);
  std::string shotTitle;
  int32_t result = RunDriven(
      [&] { return RunReportAssistant(exception_.Get(), "SendAssistant", nullptr); },
      [&](DWORD) {
        HWND contact = WaitForm();
        if (contact == nullptr) return;
        FillContact(contact, "Ann Lee", "ann@example.com", false);
        HWND details = WaitForm(contact);
        if (details == nullptr) return;
        SaveFormPicture(details, "details_form.png");
        Click(Control(details, 1));  // Skip
        HWND shot = WaitForm(details);
        if (shot == nullptr) return;
        shotTitle = Text(shot);
        Click(Control(shot, 0));
      });
  EXPECT_EQ(result, kResultContinue);
  EXPECT_EQ(shotTitle, "Send Assistant");
  EXPECT_EQ(Index("contact name"), probe + 1);
  EXPECT_EQ(Index("contact email"), probe + 2);
  ComPtr<IKVFields> header = ComPtr<IKVFields>::Adopt(exception_->HeaderFields());
  EXPECT_EQ(header->Content("contact name"), "Ann Lee");
  EXPECT_EQ(header->Content("contact email"), "ann@example.com");
  EXPECT_EQ(Section("error details"), "<none>");
  EXPECT_EQ(exception_->GetMailFrom(), "Ann Lee <ann@example.com>");
}

TEST_F(ReportAssistantTest, DetailsBecomeASectionAndTheCacheKeepsTheInput) {
  bool emptyDetailsBlock = false;
  int32_t result = RunDriven(
      [&] { return RunReportAssistant(exception_.Get(), "SaveAssistant", nullptr); },
      [&](DWORD) {
        HWND contact = WaitForm();
        if (contact == nullptr) return;
        FillContact(contact, "Bo", "bo@example.org", false);
        HWND details = WaitForm(contact);
        if (details == nullptr) return;
        emptyDetailsBlock = !IsWindowEnabled(Control(details, 0));  // the details are required
        Type(Control(details, 4), "saving a file\r\nthen it crashed");
        Click(Control(details, 0));
      });
  EXPECT_EQ(result, kResultContinue);
  EXPECT_TRUE(emptyDetailsBlock);
  EXPECT_EQ(Section("error details"), "saving a file\r\nthen it crashed");

  // A second assistant of the same report starts with what was entered.
  std::string name, details;
  result = RunDriven(
      [&] { return RunReportAssistant(exception_.Get(), "PrintAssistant", nullptr); },
      [&](DWORD) {
        HWND contact = WaitForm();
        if (contact == nullptr) return;
        name = Text(Control(contact, kNameEdit));
        Click(Control(contact, 0));
        HWND form = WaitForm(contact);
        if (form == nullptr) return;
        details = Text(Control(form, 4));
        Key(Control(form, 4), VK_ESCAPE);
      });
  EXPECT_EQ(result, kResultCancel);
  EXPECT_EQ(name, "Bo");
  EXPECT_EQ(details, "saving a file\r\nthen it crashed");
}

TEST_F(ReportAssistantTest, RememberMeStoresAndRestoresThroughTheRegistry) {
  auto first = Build({"ContactForm"}, exception_.Get());
  RunDriven([&] { return first->RunModal(nullptr); }, [&](DWORD) {
    if (HWND form = WaitForm()) FillContact(form, "Cy Doe", "cy@example.net", true);
  });
  EXPECT_EQ(Remembered("RememberName"), "Cy Doe");
  EXPECT_EQ(Remembered("RememberEmail"), "cy@example.net");

  auto second = Build({"ContactForm"}, exception_.Get());
  std::string name, email;
  bool remember = false, nextEnabled = false;
  HWND focus = nullptr, next = nullptr;
  RunDriven([&] { return second->RunModal(nullptr); }, [&](DWORD ui) {
    HWND form = WaitForm();
    if (form == nullptr) return;
    name = Text(Control(form, kNameEdit));
    email = Text(Control(form, kEmailEdit));
    remember = Checked(Control(form, kMemCheck));
    next = Control(form, 0);
    nextEnabled = IsWindowEnabled(next);
    WaitUntil([&] { return IsChild(form, FocusOf(ui)); });
    focus = FocusOf(ui);
    Click(Control(form, kMemCheck));  // forget me
    Click(next);
  });
  EXPECT_EQ(name, "Cy Doe");
  EXPECT_EQ(email, "cy@example.net");
  EXPECT_TRUE(remember);
  EXPECT_TRUE(nextEnabled);
  EXPECT_EQ(focus, next);
  EXPECT_EQ(Remembered("RememberName"), "<none>");
  EXPECT_EQ(Remembered("RememberEmail"), "<none>");
}

// The prefix's "edit" verb for BMP files: a command that notes the file it was given.
class PictureEditorVerb {
 public:
  explicit PictureEditorVerb(const std::string& note) {
    std::string command = "cmd.exe /c echo %1> \"" + note + "\"";
    RegSetKeyValueA(HKEY_CLASSES_ROOT, ".bmp", nullptr, REG_SZ,
                    "qxTestPicture", 14);
    RegSetKeyValueA(HKEY_CLASSES_ROOT, "qxTestPicture\\shell\\edit\\command",
                    nullptr, REG_SZ, command.c_str(), static_cast<DWORD>(command.size() + 1));
  }
  ~PictureEditorVerb() {
    RegDeleteTreeA(HKEY_CLASSES_ROOT, "qxTestPicture");
    RegDeleteKeyA(HKEY_CLASSES_ROOT, ".bmp");
  }
};

TEST_F(ReportAssistantTest, ScreenshotFormShowsEditsAndDetachesTheScreenshot) {
  std::string note = ReporterTempFolder() + "editor.txt";
  DeleteFileA(note.c_str());
  PictureEditorVerb verb(note);
  exception_->SetAttachScreenshot(true);
  auto assistant = Build({"ScrShotForm"}, exception_.Get());
  ComPtr<INVForm> form = ComPtr<INVForm>::Adopt(assistant->Form(0));
  ComPtr<INVImage> image = ComPtr<INVImage>::Adopt(form->Image("ScrShotImg"));
  ComPtr<IUnknown> shown = ComPtr<IUnknown>::Adopt(image->Bitmap());
  ComPtr<IUnknown> shot = ComPtr<IUnknown>::Adopt(exception_->Screenshot());
  EXPECT_EQ(shown.Get(), shot.Get());  // the report's screenshot is what the form shows

  std::string file = ReporterTempFolder() + "screenShot.bmp";
  bool written = false, replaced = false, attachWasChecked = false, editorCalled = false;
  int32_t result = RunDriven([&] { return assistant->RunModal(nullptr); }, [&](DWORD) {
    HWND window = WaitForm();
    if (window == nullptr) return;
    attachWasChecked = Checked(Control(window, 3));
    SaveFormPicture(window, "screenshot_form.png");
    HWND picture = Control(window, 4);
    PostMessageA(picture, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    PostMessageA(picture, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    written = WaitUntil([&] { return GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES; });
    editorCalled = WaitUntil([&] { return GetFileAttributesA(note.c_str()) != INVALID_FILE_ATTRIBUTES; });
    // Standing in for the editor: a new picture of another size, saved later.
    TINVBitmap* edited = TINVBitmap::Create(40, 30);
    ASSERT_NE(edited, nullptr);
    ASSERT_TRUE(edited->WriteBmpFile(file));
    edited->Release();
    HANDLE handle = CreateFileA(file.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    FILETIME later;
    GetSystemTimeAsFileTime(&later);
    reinterpret_cast<ULARGE_INTEGER*>(&later)->QuadPart += 100000000ull;  // ten seconds on
    SetFileTime(handle, nullptr, nullptr, &later);
    CloseHandle(handle);
    replaced = WaitUntil([&] {
      ComPtr<IUnknown> now = ComPtr<IUnknown>::Adopt(exception_->Screenshot());
      auto bitmap = now.As<INVBitmap>(IID_INVBitmap);
      return bitmap && bitmap->PixelWidth() == 40;
    });
    SaveFormPicture(window, "screenshot_form_edited.png");
    Click(Control(window, 3));  // do not attach
    Click(Control(window, 0));
  });
  EXPECT_EQ(result, kResultContinue);
  EXPECT_TRUE(attachWasChecked);
  EXPECT_TRUE(written);
  EXPECT_TRUE(editorCalled);
  EXPECT_TRUE(replaced);
  shown = ComPtr<IUnknown>::Adopt(image->Bitmap());
  shot = ComPtr<IUnknown>::Adopt(exception_->Screenshot());
  EXPECT_EQ(shown.Get(), shot.Get());
  EXPECT_FALSE(exception_->AttachScreenshot());
  EXPECT_EQ(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES);  // deleted at close
}

TEST_F(ReportAssistantTest, ActionsAskTheirAssistantOverTheParent) {
  HWND parent = CreateWindowExA(WS_EX_TOPMOST, "STATIC", "parent", WS_POPUP | WS_VISIBLE, 0, 0,
                                50, 50, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(parent, nullptr);
  bool handled = false;
  bool parentDisabled = false, parentTopmostMeanwhile = true;
  RunDriven(
      [&] {
        NotifyHandlers(parent, kEventAction, kActionSave, handled, exception_.Get());
        return 0;
      },
      [&](DWORD) {
        HWND form = WaitForm();
        if (form == nullptr) return;
        parentDisabled = !IsWindowEnabled(parent);
        parentTopmostMeanwhile = (GetWindowLongA(parent, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
        Key(Control(form, kNameEdit), VK_ESCAPE);
      });
  EXPECT_TRUE(handled);  // cancelled: the save does not happen
  EXPECT_TRUE(parentDisabled);
  EXPECT_FALSE(parentTopmostMeanwhile);
  EXPECT_TRUE(IsWindowEnabled(parent));
  EXPECT_TRUE(GetWindowLongA(parent, GWL_EXSTYLE) & WS_EX_TOPMOST);

  handled = false;
  RunDriven(
      [&] {
        NotifyHandlers(parent, kEventAction, kActionPrint, handled, exception_.Get());
        return 0;
      },
      [&](DWORD) {
        HWND contact = WaitForm();
        if (contact == nullptr) return;
        FillContact(contact, "Di", "di@example.com", false);
        if (HWND details = WaitForm(contact)) Click(Control(details, 1));
      });
  EXPECT_FALSE(handled);  // confirmed: the print goes ahead
  ComPtr<IKVFields> header = ComPtr<IKVFields>::Adopt(exception_->HeaderFields());
  EXPECT_EQ(header->Content("contact name"), "Di");

  handled = false;
  NotifyHandlers(parent, kEventAction, kActionContinue, handled, exception_.Get());
  EXPECT_FALSE(handled);  // no assistant for other actions: nothing shown
  DestroyWindow(parent);
}

TEST(AssistantForms, WideTitleOrHeadingWidensTheForm) {
  auto plain = Build({"DetailsForm"});
  auto titled = Build({"DetailsForm"}, nullptr,
                      "An assistant whose title is far wider than the narrowest form would be");
  auto headed = Build({"DetailsForm"});
  ComPtr<INVForm>::Adopt(headed->Form(0))
      ->SetMessage("A heading of the page that is far wider than the narrowest form");
  SIZE sizes[3] = {};
  int i = 0;
  for (INVAssistant* assistant : {plain.Get(), titled.Get(), headed.Get()}) {
    RunDriven([&] { return assistant->RunModal(nullptr); }, [&](DWORD) {
      if (HWND form = WaitForm()) {
        sizes[i] = ClientSize(form);
        if (i == 1) SaveFormPicture(form, "details_form_wide_title.png");
        Key(Control(form, 4), VK_ESCAPE);
      }
    });
    ++i;
  }
  EXPECT_EQ(sizes[0].cx, kFormMinWidth);
  EXPECT_GT(sizes[1].cx, kFormMinWidth);
  EXPECT_GT(sizes[2].cx, kFormMinWidth);
  EXPECT_EQ(sizes[0].cy, sizes[1].cy);
}

TEST(AssistantForms, DamagedStreamRaisesAndMissingResourceGivesThePageButtons) {
  try {
    Build({"ContactForm", "BrokenForm"});
    ADD_FAILURE() << "no error raised";
  } catch (const AssistantResourceError& error) {
    EXPECT_STREQ(error.what(), "Internal error: Invalid assistant resource (TKVBROKENFORM)");
  }
  auto assistant = Build({"NoSuchForm"});
  ComPtr<INVForm> form = ComPtr<INVForm>::Adopt(assistant->Form(0));
  EXPECT_EQ(form->ItemCount(), 3);
  int children = 0;
  std::string captions;
  int32_t result = RunDriven([&] { return assistant->RunModal(nullptr); }, [&](DWORD) {
    HWND window = WaitForm();
    if (window == nullptr) return;
    children = ChildCount(window);
    captions = Text(Control(window, 0)) + "|" + Text(Control(window, 1)) + "|" +
               Text(Control(window, 2));
    SaveFormPicture(window, "empty_form.png");
    Click(Control(window, 1));
  });
  EXPECT_EQ(result, kResultContinue);  // skipped the only form
  EXPECT_EQ(form->ModalResult(), kResultSkip);
  EXPECT_EQ(children, 3);
  EXPECT_EQ(captions, "Next >|Skip|Cancel");
}

TEST(AssistantForms, CreationHookAndFormLookups) {
  static INVAssistant* seen = nullptr;
  SetAssistantCreationHook([](INVAssistant* assistant, IUnknown*) { seen = assistant; });
  auto assistant = Build({"ContactForm", "ScrShotForm"});
  SetAssistantCreationHook(nullptr);
  EXPECT_EQ(seen, assistant.Get());
  ComPtr<INVForm> contact = ComPtr<INVForm>::Adopt(assistant->FormByName("contactFORM"));
  ASSERT_TRUE(contact);
  EXPECT_EQ(contact->Title(), "Send Assistant");
  EXPECT_EQ(contact->Message(), "Contact Information");
  EXPECT_TRUE(ComPtr<INVEdit>::Adopt(contact->Edit("EmailEdit")));
  EXPECT_FALSE(ComPtr<INVLabel>::Adopt(contact->Label("EmailEdit")));  // another kind
  EXPECT_FALSE(ComPtr<INVEdit>::Adopt(contact->Edit("Missing")));
  ComPtr<INVButton> next = ComPtr<INVButton>::Adopt(contact->ContinueBtn());
  EXPECT_EQ(next->Caption(), "Continue");
  EXPECT_EQ(ComPtr<INVForm>::Adopt(assistant->Form(1))->ActiveControl(), "ContinueBtn");
  EXPECT_FALSE(ComPtr<INVForm>::Adopt(assistant->FormByName("DetailsForm")));
}

// A form's OnAction naming a routine of the program: found in the program's debug
// information by unit and routine and called with the form's actions; a routine whose
// returns remove its arguments cannot be a handler, and its form gets none.
TEST(AssistantForms, OnActionNamesARoutineOfTheProgram) {
  MapFileStartup();
  auto assistant = Build({"HandlerForm", "WrongHandlerForm"});
  ASSERT_TRUE(assistant);
  gRecordedFormActions.clear();
  for (int32_t index : {0, 1}) {
    ComPtr<INVForm> form = ComPtr<INVForm>::Adopt(assistant->Form(index));
    ASSERT_TRUE(form);
    static_cast<TNVForm*>(form.Get())->Notify(40 + index, nullptr);
  }
  EXPECT_EQ(gRecordedFormActions, std::vector<int32_t>{40});
  // Both routines are there: the second is refused for its returns, not for its name.
  EXPECT_EQ(HandlerRoutine(reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr)),
                           "RecordFormAction"),
            reinterpret_cast<uintptr_t>(&RecordFormAction));
  EXPECT_EQ(HandlerRoutine(reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr)),
                           "assistant_window_test.cpp.FormActionThatPopsItsArguments"),
            0u);
  EXPECT_EQ(HandlerRoutine(reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr)),
                           "other_unit.RecordFormAction"),
            0u);
  MapFileShutdown();
}

}  // namespace
}  // namespace qx
