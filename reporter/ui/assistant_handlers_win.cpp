// The reporter's two built-in form handlers: the contact form (remembered name and
// address, the e-mail rule, the report's sender address) and the screenshot form (show,
// edit in the system's image editor, attach or not).
#include <windows.h>
#include <shellapi.h>

#include <memory>
#include <string>

#include "assistant_win.h"
#include "bitmap_win.h"
#include "process_registries.h"
#include "report_interfaces_win.h"

namespace qx {
namespace {

constexpr char kRememberName[] = "RememberName";
constexpr char kRememberEmail[] = "RememberEmail";
constexpr char kScreenshotFile[] = "screenShot.bmp";

std::string RegistryText(HKEY key, const char* name) {
  char buffer[1024];
  DWORD size = sizeof buffer - 1, type = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ)
    return {};
  buffer[size] = '\0';
  return buffer;
}

template <class Interface>
ComPtr<Interface> Held(Interface* reference) {
  return ComPtr<Interface>::Adopt(reference);
}

void ContactFormCreated(INVForm* form) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kContactFormKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return;
  std::string name = RegistryText(key, kRememberName);
  std::string email = RegistryText(key, kRememberEmail);
  RegCloseKey(key);
  if (name.empty() && email.empty()) return;
  auto nameEdit = Held(form->Edit("NameEdit"));
  auto emailEdit = Held(form->Edit("EmailEdit"));
  auto remember = Held(form->CheckBox("MemCheck"));
  if (nameEdit) nameEdit->SetText(name);
  if (emailEdit) {
    emailEdit->SetText(email);
    emailEdit->SetValid(IsAcceptableEmail(email));
  }
  if (remember) remember->SetChecked(true);
  // With everything the page needs already there, Enter goes straight on.
  bool filled = !emailEdit || (IsAcceptableEmail(email));
  if (filled) form->SetActiveControl("ContinueBtn");
}

void ContactFormClosed(INVForm* form, IUnknown* report) {
  if (form->ModalResult() != kResultContinue) return;
  auto nameEdit = Held(form->Edit("NameEdit"));
  auto emailEdit = Held(form->Edit("EmailEdit"));
  auto remember = Held(form->CheckBox("MemCheck"));
  std::string name = nameEdit ? nameEdit->Text() : std::string();
  std::string email = emailEdit ? emailEdit->Text() : std::string();
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kContactFormKey, 0, nullptr, 0, KEY_WRITE, nullptr,
                      &key, nullptr) == ERROR_SUCCESS) {
    if (remember && remember->Checked()) {
      RegSetValueExA(key, kRememberName, 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                     static_cast<DWORD>(name.size() + 1));
      RegSetValueExA(key, kRememberEmail, 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(email.c_str()),
                     static_cast<DWORD>(email.size() + 1));
    } else {
      RegDeleteValueA(key, kRememberName);
      RegDeleteValueA(key, kRememberEmail);
    }
    RegCloseKey(key);
  }
  if (report == nullptr || name.empty()) return;
  if (auto settings = ComPtr<IUnknown>(report).As<IKVSettings>(IID_IKVSettings))
    settings->SetMailFrom(SenderAddress(name, email));
}

// What the screenshot form keeps between its actions (the form's free data).
struct ScreenshotEditing {
  std::string file;
  FILETIME written{};
  HANDLE editor = nullptr;
};

bool WriteTime(const std::string& file, FILETIME& time) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(file.c_str(), GetFileExInfoStandard, &data)) return false;
  time = data.ftLastWriteTime;
  return true;
}

bool EditorRunning(HANDLE editor) {
  return editor != nullptr && WaitForSingleObject(editor, 0) == WAIT_TIMEOUT;
}

void OpenInEditor(INVForm* form, ScreenshotEditing& editing, IKVException* report) {
  if (editing.file.empty()) {
    AssistantLinks& links = FormLinks();
    std::string folder = links.tempFolder != nullptr ? links.tempFolder() : std::string();
    auto shot = Held(report->Screenshot());
    auto bitmap = shot.As<INVBitmap>(IID_INVBitmap);
    if (folder.empty() || !bitmap || !bitmap->WriteBmpFile(folder + kScreenshotFile)) {
      Beep(60, 60);
      return;
    }
    editing.file = folder + kScreenshotFile;
    WriteTime(editing.file, editing.written);
  }
  if (EditorRunning(editing.editor)) return;
  if (editing.editor != nullptr) CloseHandle(editing.editor);
  editing.editor = nullptr;
  SHELLEXECUTEINFOA execute{};
  execute.cbSize = sizeof execute;
  execute.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  execute.hwnd = form->Window();
  execute.lpVerb = "edit";
  execute.lpFile = editing.file.c_str();
  execute.nShow = SW_SHOWMAXIMIZED;
  if (ShellExecuteExA(&execute))
    editing.editor = execute.hProcess;
  else
    Beep(60, 60);
}

// A newer working file becomes the report's screenshot and the picture shown.
void TakeEditedFile(INVForm* form, ScreenshotEditing& editing, IKVException* report) {
  FILETIME written;
  if (editing.file.empty() || !WriteTime(editing.file, written) ||
      CompareFileTime(&written, &editing.written) == 0)
    return;
  auto load = FormLinks().loadBitmapFile;
  auto edited = Held(load != nullptr ? load(editing.file) : nullptr);
  if (!edited) return;  // still being written: the next tick tries again
  editing.written = written;
  report->SetScreenshot(edited.Get());
  if (auto image = Held(form->Image("ScrShotImg"))) image->SetBitmap(edited.Get());
}

void ScreenshotFormClosed(INVForm* form, IKVException* report) {
  std::unique_ptr<ScreenshotEditing> editing(static_cast<ScreenshotEditing*>(form->Data()));
  form->SetData(nullptr);
  if (editing) {
    if (editing->editor != nullptr) CloseHandle(editing->editor);
    if (!editing->file.empty()) DeleteFileA(editing->file.c_str());
  }
  if (auto attach = Held(form->CheckBox("AttachCheck")))
    report->SetAttachScreenshot(attach->Checked());
}

}  // namespace

void HandleContactForm(INVForm* form, int32_t action, INVItem* item, IUnknown* report) {
  if (form == nullptr) return;
  if (action == kFormCreated) {
    ContactFormCreated(form);
  } else if (action == kFormItemEvent && item != nullptr && EqualNoCase(item->Name(), "EmailEdit")) {
    if (auto edit = ComPtr<INVItem>(item).As<INVEdit>(IID_INVEdit))
      edit->SetValid(IsAcceptableEmail(edit->Text()));
  } else if (action == kFormClosed) {
    ContactFormClosed(form, report);
  }
}

void HandleScreenshotForm(INVForm* form, int32_t action, INVItem* item, IUnknown* report) {
  auto exception = ComPtr<IUnknown>(report).As<IKVException>(IID_IKVException);
  if (form == nullptr || !exception) return;
  if (action == kFormCreated) {
    if (auto image = Held(form->Image("ScrShotImg")))
      image->SetBitmap(Held(exception->Screenshot()).Get());
    if (auto attach = Held(form->CheckBox("AttachCheck")))
      attach->SetChecked(exception->AttachScreenshot());
    return;
  }
  auto* editing = static_cast<ScreenshotEditing*>(form->Data());
  if (action == kFormItemEvent) {
    if (item != nullptr && !EqualNoCase(item->Name(), "ScrShotImg")) return;
    if (editing == nullptr) {
      editing = new (std::nothrow) ScreenshotEditing;
      if (editing == nullptr) return;
      form->SetData(editing);
    }
    if (item != nullptr)
      OpenInEditor(form, *editing, exception.Get());
    else
      TakeEditedFile(form, *editing, exception.Get());
  } else if (action == kFormClosed) {
    ScreenshotFormClosed(form, exception.Get());
  }
}

}  // namespace qx
