#include "assistant_runs_win.h"

#include <vector>

#include "assistant_interfaces_win.h"
#include "com_ptr_win.h"
#include "exception_object_win.h"

namespace qx {
namespace {

// What the user entered, as the report takes it.
std::vector<AssistantFormInput> InputOf(INVAssistant* assistant) {
  std::vector<AssistantFormInput> forms;
  for (int32_t f = 0; f < assistant->FormCount(); ++f) {
    ComPtr<INVForm> form = ComPtr<INVForm>::Adopt(assistant->Form(f));
    AssistantFormInput input;
    input.result = form->ModalResult();
    for (int32_t i = 0; i < form->ItemCount(); ++i) {
      ComPtr<INVItem> item = ComPtr<INVItem>::Adopt(form->Item(i));
      AssistantItemInput value;
      value.outputName = item->OutputName();
      value.ownSectionOutput = item->OutputType() == static_cast<int32_t>(FormOutputType::OwnSection);
      if (auto edit = item.As<INVEdit>(IID_INVEdit)) {
        value.kind = AssistantItemInput::Kind::Edit;
        value.text = edit->Text();
      } else if (auto check = item.As<INVCheckBox>(IID_INVCheckBox)) {
        value.kind = AssistantItemInput::Kind::CheckBox;
        value.checked = check->Checked();
      }
      input.items.push_back(value);
    }
    forms.push_back(input);
  }
  return forms;
}

}  // namespace

int32_t RunReportAssistant(IKVException* exception, const std::string& name, HWND parent) {
  if (exception == nullptr || name.empty()) return 0;
  ComPtr<IUnknown> opened = ComPtr<IUnknown>::Adopt(exception->OpenAssistant(name));
  ComPtr<INVAssistant> assistant = opened.As<INVAssistant>(IID_INVAssistant);
  if (!assistant) return 0;
  int32_t result = assistant->RunModal(parent);
  if (result == kResultContinue) {
    PutAssistantIntoReport(exception, InputOf(assistant.Get()));
    // The cache belongs to the report's settings, so a later assistant of this report
    // starts with what the user entered here.
    if (auto access = ComPtr<IKVException>(exception).As<IPropertyAccess>(IID_IPropertyAccess))
      access->StoreFormInput(opened.Get());
  }
  return result;
}

bool ConfirmActionAssistant(HWND parent, int32_t action, IKVException* exception) {
  if (exception == nullptr || action < kActionSend || action > kActionPrint) return true;
  std::string name = action == kActionSend   ? exception->GetSendAssis()
                     : action == kActionSave ? exception->GetSaveAssis()
                                             : exception->GetPrintAssis();
  if (name.empty()) return true;
  bool topmost = parent != nullptr && (GetWindowLongA(parent, GWL_EXSTYLE) & WS_EX_TOPMOST);
  if (topmost)
    SetWindowPos(parent, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  int32_t result = RunReportAssistant(exception, name, parent);
  if (topmost)
    SetWindowPos(parent, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  return result != kResultCancel;
}

}  // namespace qx
