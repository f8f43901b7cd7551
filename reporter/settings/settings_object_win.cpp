#include "settings_object_win.h"

#include <cstring>

#include "default_settings.h"
#include "settings_buffer_win.h"
#include "settings_lists_win.h"
#include "settings_open_win.h"
#include "settings_text_lists.h"

namespace qx {

namespace {

// Whether `size` bytes at `address` can be read without a fault.
bool IsReadable(const void* address, size_t size) {
  auto at = reinterpret_cast<uintptr_t>(address);
  uintptr_t end = at + size;
  if (address == nullptr || end < at) return false;
  while (at < end) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(reinterpret_cast<void*>(at), &info, sizeof info) != sizeof info ||
        info.State != MEM_COMMIT || (info.Protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0)
      return false;
    at = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
  }
  return true;
}

}  // namespace

TIKVSettings::TIKVSettings(HMODULE module, bool referenceSettings) : module_(module) {
  if (referenceSettings) {
    record_ = ReferenceModuleRecord(module);
    valid_ = record_ != nullptr;
  }
  ReadVersionText();
}

TIKVSettings::~TIKVSettings() {
  // The lists may outlive this object: they must stop writing into it.
  if (auto ex = fields_.As<IKVFieldsEx>(IID_IKVFieldsEx)) ex->ClearOwnerSettings();
  if (auto ex = attachs_.As<IKVAttachmentsEx>(IID_IKVAttachmentsEx)) ex->ClearOwnerSettings();
  if (record_ != nullptr) ReleaseModuleRecord(record_);
}

HRESULT __stdcall TIKVSettings::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IPropertyAccess) {
    *object = static_cast<IPropertyAccess*>(this);
  } else if (iid == IID_IKVSettings || iid == IID_IKVModuleSettings) {
    *object = static_cast<IKVModuleSettings*>(this);
  } else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG __stdcall TIKVSettings::AddRef() { return ++refCount_; }

ULONG __stdcall TIKVSettings::Release() {
  long count = --refCount_;
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

bool TIKVSettings::UseDefaults() {
  HMODULE mainModule = MainSettingsModule();
  return mainModule == nullptr || mainModule == module_;
}

template <class Read>
bool TIKVSettings::LookupProperty(const char* name, bool useDefaults, Read&& read) {
  if (record_ != nullptr) {
    PropertyReadScope scope(record_);
    if (TSettingsProperty* property = FindProperty(scope.Properties(), scope.Count(), name)) {
      read(*property);
      return true;
    }
  }
  if (useDefaults) {
    if (const TSettingsProperty* property = FindDefaultSetting(name)) {
      read(*property);
      return true;
    }
  }
  return false;
}

bool __stdcall TIKVSettings::ReadBool(const char* name) {
  bool useDefaults = UseDefaults();
  bool value = false;
  auto read = [&](const TSettingsProperty& p) { value = p.boolValue != 0; };
  if (LookupProperty(name, useDefaults, read)) return value;
  if (useDefaults) return false;
  ComPtr<IKVModuleSettings> main = MainSettings();
  auto access = main.As<IPropertyAccess>(IID_IPropertyAccess);
  return access ? access->ReadBool(name) : false;
}

int32_t __stdcall TIKVSettings::ReadInt(const char* name) {
  bool useDefaults = UseDefaults();
  int32_t value = 0;
  auto read = [&](const TSettingsProperty& p) { value = p.intValue; };
  if (LookupProperty(name, useDefaults, read)) return value;
  if (useDefaults) return 0;
  ComPtr<IKVModuleSettings> main = MainSettings();
  auto access = main.As<IPropertyAccess>(IID_IPropertyAccess);
  return access ? access->ReadInt(name) : 0;
}

uint32_t __stdcall TIKVSettings::ReadUInt(const char* name) {
  return static_cast<uint32_t>(ReadInt(name));
}

std::string __stdcall TIKVSettings::ReadText(const char* name) {
  bool useDefaults = UseDefaults();
  std::string value;
  auto read = [&](const TSettingsProperty& p) { value = PropertyText(p); };
  bool found = LookupProperty(name, useDefaults, read);
  if (!found && !useDefaults) {
    ComPtr<IKVModuleSettings> main = MainSettings();
    if (auto access = main.As<IPropertyAccess>(IID_IPropertyAccess)) value = access->ReadText(name);
  }
  return value.find('%') == std::string::npos ? value : ExpandSettingsText(module_, value);
}

TSettingsProperty* TIKVSettings::FindOrAdd(const char* name, PropertyKind kind) {
  TSettingsProperty* property = FindProperty(record_->properties, record_->count, name);
  if (property == nullptr) property = AppendProperty(*record_, name, kind, ProcessPropertyHeap());
  return property != nullptr && property->kind == kind ? property : nullptr;
}

bool TIKVSettings::WriteBool(const char* name, bool value) {
  if (!valid_ || name == nullptr || *name == '\0') return false;
  PropertyWriteLock lock(record_, ProcessPropertyHeap());
  TSettingsProperty* property = lock.Held() ? FindOrAdd(name, PropertyKind::Boolean) : nullptr;
  if (property == nullptr) return false;
  property->boolValue = value ? 1 : 0;
  return true;
}

bool TIKVSettings::WriteInt(const char* name, int32_t value) {
  if (!valid_ || name == nullptr || *name == '\0') return false;
  PropertyWriteLock lock(record_, ProcessPropertyHeap());
  TSettingsProperty* property = lock.Held() ? FindOrAdd(name, PropertyKind::Integer) : nullptr;
  if (property == nullptr) return false;
  property->intValue = value;
  return true;
}

bool TIKVSettings::WriteText(const char* name, const std::string& value) {
  if (!valid_ || name == nullptr || *name == '\0') return false;
  PropertyWriteLock lock(record_, ProcessPropertyHeap());
  TSettingsProperty* property = lock.Held() ? FindOrAdd(name, PropertyKind::Text) : nullptr;
  return property != nullptr &&
         StorePropertyText(*record_, *property, value, ProcessPropertyHeap());
}

IKVFields* __stdcall TIKVSettings::AddFields() {
  if (!fields_) fields_ = ComPtr<IKVFields>::Adopt(MakeSettingsFields(this));
  if (fields_) fields_->AddRef();
  return fields_.Get();
}

IKVAttachments* __stdcall TIKVSettings::AddAttachs() {
  if (!attachs_) attachs_ = ComPtr<IKVAttachments>::Adopt(MakeSettingsAttachments(this));
  if (attachs_) attachs_->AddRef();
  return attachs_.Get();
}

bool __stdcall TIKVSettings::PluginEnabled(const std::string& name) {
  return PluginListContains(ReadText("Plugins"), name);
}

void __stdcall TIKVSettings::SwitchPlugin(const std::string& name, bool on) {
  std::string list = ReadText("Plugins");
  std::string switched = PluginListSwitched(list, name, on);
  if (switched != list) WriteText("Plugins", switched);
}

namespace {
std::atomic<TIKVSettings::AssistantFactory> gAssistantFactory{nullptr};
std::atomic<TIKVSettings::FormInputLink> gStoreFormInput{nullptr};
std::atomic<TIKVSettings::FormInputLink> gRestoreFormInput{nullptr};
}  // namespace

void TIKVSettings::SetAssistantFactory(AssistantFactory factory) { gAssistantFactory = factory; }

void TIKVSettings::SetFormInputLinks(FormInputLink store, FormInputLink restore) {
  gStoreFormInput = store;
  gRestoreFormInput = restore;
}

IAssistant* __stdcall TIKVSettings::OpenAssistant(const std::string& name) {
  auto definition = FindAssistantDefinition(
      [this](int i) { return ReadText(("Assistant" + std::to_string(i)).c_str()); }, name,
      ScreenshotAvailable());
  AssistantFactory factory = gAssistantFactory;
  if (!definition || factory == nullptr) return nullptr;
  IAssistant* assistant = factory(*definition, AssistantContext());
  if (assistant != nullptr) RestoreFormInput(assistant);
  return assistant;
}

void __stdcall TIKVSettings::StoreFormInput(IAssistant* assistant) {
  FormInputLink store = gStoreFormInput;
  if (assistant == nullptr || store == nullptr) return;
  if (!formCache_) formCache_ = ComPtr<IKVFields>::Adopt(MakePlainFields());
  if (formCache_) store(assistant, formCache_.Get());
}

void __stdcall TIKVSettings::RestoreFormInput(IAssistant* assistant) {
  FormInputLink restore = gRestoreFormInput;
  if (assistant != nullptr && restore != nullptr && formCache_) restore(assistant, formCache_.Get());
}

void __stdcall TIKVSettings::Reread() { RereadModuleRecord(record_); }

void TIKVSettings::ReadVersionText() {
  uint32_t offset = ReadUInt("VersionVar");
  if (offset == 0 || module_ == nullptr) return;
  const char* base = reinterpret_cast<const char*>(module_);
  auto* slot = reinterpret_cast<const char* const*>(base + offset);
  if (!IsReadable(slot, sizeof *slot)) return;
  const char* text = *slot;
  std::string version;
  for (const char* p = text; IsReadable(p, 1); ++p) {
    if (*p == '\0') {
      version_ = version;
      return;
    }
    if (version.size() >= 4096) return;
    version += *p;
  }
}

ComPtr<IKVModuleSettings> OpenModuleSettings(HMODULE module) {
  auto* settings = new (std::nothrow) TIKVSettings(module, true);
  return ComPtr<IKVModuleSettings>::Adopt(settings);
}

}  // namespace qx
