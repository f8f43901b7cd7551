// Assistants and their forms as objects: building them from the forms' streams, the typed
// item look-ups, running the forms in turn, and the form cache's walk over the items.
#include "assistant_win.h"

#include <atomic>

#include "assistant_objects_win.h"
#include "process_registries.h"
#include "settings_object_win.h"
#include "settings_text_lists.h"

namespace qx {
namespace {

std::atomic<AssistantCreationHook> gCreationHook{nullptr};
HMODULE gFormModule = nullptr;

// The stream of a form resource; empty when the module has none.
std::string FormStream(HMODULE module, const std::string& resourceName) {
  HRSRC info = FindResourceA(module, resourceName.c_str(), MAKEINTRESOURCEA(10));
  if (info == nullptr) return {};
  HGLOBAL loaded = LoadResource(module, info);
  const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (bytes == nullptr) return {};
  return std::string(static_cast<const char*>(bytes), SizeofResource(module, info));
}

// The reporter's two handlers by name, else a routine of the module that holds the forms,
// as its debug information names it.
TNVActionHandler HandlerNamed(HMODULE module, const std::string& name) {
  if (name == "qelExcept.HandleContactForm") return HandleContactForm;
  if (name == "qelExcept.HandleScreenshotForm") return HandleScreenshotForm;
  const TMapHandlerRoutineHook lookUp = MapHandlerRoutineHook;
  if (name.empty() || lookUp == nullptr) return nullptr;
  const uint32_t entry = lookUp(reinterpret_cast<uintptr_t>(module), name);
  return reinterpret_cast<TNVActionHandler>(static_cast<uintptr_t>(entry));
}

template <class Interface>
Interface* Typed(TNVForm* form, const std::string& name, FormItemKind kind) {
  ItemCore* item = form->ItemByName(name, kind);
  if (item == nullptr) return nullptr;
  Interface* typed = static_cast<Interface*>(item->Interface());
  typed->AddRef();
  return typed;
}

IUnknown* NewReference(const ComPtr<IUnknown>& object) {
  if (object) object->AddRef();
  return object.Get();
}

IAssistant* BuildFromDefinition(const AssistantDefinition& definition, IUnknown* context) {
  try {
    ComPtr<INVAssistant> assistant =
        AssistantFromForms(gFormModule, definition.title, definition.forms, context);
    return assistant.Detach();
  } catch (const AssistantResourceError& error) {
    MessageBoxA(nullptr, error.what(), "qelExcept", MB_OK | MB_ICONERROR | MB_TASKMODAL);
  } catch (...) {
  }
  return nullptr;
}

void StoreInput(IAssistant* assistant, IKVFields* cache) {
  ComPtr<INVAssistant> typed = ComPtr<IUnknown>(assistant).As<INVAssistant>(IID_INVAssistant);
  if (typed) StoreAssistantInput(typed.Get(), cache);
}

void RestoreInput(IAssistant* assistant, IKVFields* cache) {
  ComPtr<INVAssistant> typed = ComPtr<IUnknown>(assistant).As<INVAssistant>(IID_INVAssistant);
  if (typed) RestoreAssistantInput(typed.Get(), cache);
}

}  // namespace

// ---- forms ----

TNVForm::TNVForm(TNVAssistant* assistant, const FormModel& model, int32_t position,
                 IUnknown* report)
    : assistant_(assistant),
      name_(model.name),
      title_(assistant != nullptr ? assistant->Title() : std::string()),
      message_(model.message),
      activeControl_(model.activeControl),
      minWidth_(model.minWidth),
      timer_(model.timer),
      position_(position),
      report_(report),
      handler_(nullptr) {
  for (const FormItemModel& itemModel : model.items)
    if (ItemCore* item = CreateItem(itemModel, this, static_cast<int32_t>(items_.size())))
      items_.push_back(item);
}

TNVForm::~TNVForm() {
  for (ItemCore* item : items_) {
    item->form = nullptr;
    item->Interface()->Release();
  }
}

HRESULT __stdcall TNVForm::QueryInterface(REFIID iid, void** object) {
  return QueryOneOf(iid, object, {{&IID_INVForm, this}});
}

INVAssistant* __stdcall TNVForm::Assistant() {
  if (assistant_ != nullptr) assistant_->AddRef();
  return assistant_;
}

void __stdcall TNVForm::SetTitle(const std::string& title) {
  title_ = title;
  if (window_ != nullptr) SetWindowTextA(window_, title.c_str());
}

void __stdcall TNVForm::SetMessage(const std::string& message) {
  message_ = message;
  if (window_ != nullptr) InvalidateRect(window_, nullptr, TRUE);
}

INVItem* __stdcall TNVForm::Item(int32_t index) {
  if (index < 0 || index >= ItemCount()) return nullptr;
  INVItem* item = items_[index]->Interface();
  item->AddRef();
  return item;
}

ItemCore* TNVForm::ItemByName(const std::string& name, FormItemKind kind) {
  for (ItemCore* item : items_)
    if (EqualNoCase(item->model.name, name)) return item->model.kind == kind ? item : nullptr;
  return nullptr;
}

INVEdit* __stdcall TNVForm::Edit(const std::string& name) {
  return Typed<INVEdit>(this, name, FormItemKind::Edit);
}
INVLabel* __stdcall TNVForm::Label(const std::string& name) {
  return Typed<INVLabel>(this, name, FormItemKind::Label);
}
INVButton* __stdcall TNVForm::Button(const std::string& name) {
  return Typed<INVButton>(this, name, FormItemKind::Button);
}
INVCheckBox* __stdcall TNVForm::CheckBox(const std::string& name) {
  return Typed<INVCheckBox>(this, name, FormItemKind::CheckBox);
}
INVImage* __stdcall TNVForm::Image(const std::string& name) {
  return Typed<INVImage>(this, name, FormItemKind::Image);
}

IUnknown* __stdcall TNVForm::Report() { return NewReference(report_); }

int32_t TNVForm::FormCount() const {
  return assistant_ != nullptr ? assistant_->FormCount() : 1;
}

void TNVForm::Notify(int32_t action, ItemCore* item) {
  if (handler_ == nullptr || (building_ && action == kFormItemEvent)) return;
  try {
    handler_(this, action, item != nullptr ? item->Interface() : nullptr, report_.Get());
  } catch (...) {
  }
}

// ---- assistants ----

TNVAssistant::TNVAssistant(const std::string& title, IUnknown* report)
    : title_(title), report_(report) {}

TNVAssistant::~TNVAssistant() {
  for (auto& form : forms_) form->ForgetAssistant();
}

HRESULT __stdcall TNVAssistant::QueryInterface(REFIID iid, void** object) {
  return QueryOneOf(iid, object, {{&IID_INVAssistant, this}});
}

INVForm* __stdcall TNVAssistant::Form(int32_t index) {
  if (index < 0 || index >= FormCount()) return nullptr;
  forms_[index]->AddRef();
  return forms_[index].Get();
}

INVForm* __stdcall TNVAssistant::FormByName(const std::string& name) {
  for (auto& form : forms_)
    if (EqualNoCase(form->Name(), name)) {
      form->AddRef();
      return form.Get();
    }
  return nullptr;
}

int32_t __stdcall TNVAssistant::RunModal(HWND parent) {
  bool parentWasEnabled = parent != nullptr && IsWindowEnabled(parent);
  if (parentWasEnabled) EnableWindow(parent, FALSE);
  result_ = kResultContinue;
  for (auto& form : forms_) {
    if (form->RunModal(parent) == kResultCancel) {
      result_ = kResultCancel;
      break;
    }
  }
  if (parentWasEnabled) EnableWindow(parent, TRUE);
  return result_;
}

IUnknown* __stdcall TNVAssistant::Report() { return NewReference(report_); }

// ---- building ----

ComPtr<INVAssistant> AssistantFromForms(HMODULE module, const std::string& title,
                                        const std::vector<std::string>& formNames,
                                        IUnknown* report) {
  auto* assistant = new TNVAssistant(title, report);
  ComPtr<INVAssistant> result = ComPtr<INVAssistant>::Adopt(assistant);
  int32_t position = 1;
  for (const std::string& name : formNames) {
    FormModel model = EmptyFormModel(name);
    std::string resourceName = FormResourceName(name);
    if (!ApplyFormStream(FormStream(module, resourceName), model))
      throw AssistantResourceError(InvalidFormResourceText(resourceName));
    auto* form = new TNVForm(assistant, model, position++, report);
    form->SetHandler(HandlerNamed(module, model.onAction));
    assistant->Append(form);
    form->Release();
  }
  // Every form exists before any handler hears of its form, so a handler may look at the
  // assistant's other forms.
  for (int32_t i = 0; i < assistant->FormCount(); ++i) {
    ComPtr<INVForm> form = ComPtr<INVForm>::Adopt(assistant->Form(i));
    static_cast<TNVForm*>(form.Get())->Notify(kFormCreated, nullptr);
  }
  if (AssistantCreationHook hook = gCreationHook) hook(result.Get(), report);
  return result;
}

void SetAssistantCreationHook(AssistantCreationHook hook) { gCreationHook = hook; }

// ---- the form cache ----

void StoreAssistantInput(INVAssistant* assistant, IKVFields* cache) {
  if (assistant == nullptr || cache == nullptr) return;
  for (int32_t f = 0; f < assistant->FormCount(); ++f) {
    ComPtr<INVForm> form = ComPtr<INVForm>::Adopt(assistant->Form(f));
    if (!form || form->ModalResult() != kResultContinue) continue;
    for (int32_t i = 0; i < form->ItemCount(); ++i) {
      ComPtr<INVItem> item = ComPtr<INVItem>::Adopt(form->Item(i));
      if (auto edit = item.As<INVEdit>(IID_INVEdit))
        cache->SetContent(item->Name(), edit->Text());
      else if (auto check = item.As<INVCheckBox>(IID_INVCheckBox))
        cache->SetContent(item->Name(), check->Checked() ? "+" : "-");
    }
  }
}

void RestoreAssistantInput(INVAssistant* assistant, IKVFields* cache) {
  if (assistant == nullptr || cache == nullptr) return;
  for (int32_t f = 0; f < assistant->FormCount(); ++f) {
    ComPtr<INVForm> form = ComPtr<INVForm>::Adopt(assistant->Form(f));
    for (int32_t i = 0; form && i < form->ItemCount(); ++i) {
      ComPtr<INVItem> item = ComPtr<INVItem>::Adopt(form->Item(i));
      if (cache->Find(item->Name()) < 0) continue;
      std::string value = cache->Content(item->Name());
      if (auto edit = item.As<INVEdit>(IID_INVEdit))
        edit->SetText(value);
      else if (auto check = item.As<INVCheckBox>(IID_INVCheckBox))
        check->SetChecked(value == "+");
    }
  }
}

// ---- start-up ----

void AssistantStartup(HMODULE module) {
  gFormModule = module;
  TIKVSettings::SetAssistantFactory(BuildFromDefinition);
  TIKVSettings::SetFormInputLinks(StoreInput, RestoreInput);
}

void AssistantShutdown() {
  TIKVSettings::SetFormInputLinks(nullptr, nullptr);
  TIKVSettings::SetAssistantFactory(nullptr);
  gFormModule = nullptr;
}

}  // namespace qx
