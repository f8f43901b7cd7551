// The settings object: typed reads with inheritance from the main settings and the
// built-in defaults, typed writes into the module's shared property list.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "com_ptr_win.h"
#include "property_list.h"
#include "settings_interfaces_win.h"

namespace qx {

class TIKVSettings : public IPropertyAccess, public IKVModuleSettings {
 public:
  // With `referenceSettings` the module's shared record is referenced (created and its
  // stream read when this is the first object of the module in the process).
  TIKVSettings(HMODULE module, bool referenceSettings);
  TIKVSettings(const TIKVSettings&) = delete;
  TIKVSettings& operator=(const TIKVSettings&) = delete;

  // IUnknown; both bases share this one implementation.
  HRESULT __stdcall QueryInterface(REFIID iid, void** object) override;
  ULONG __stdcall AddRef() override;
  ULONG __stdcall Release() override;

  // IPropertyAccess
  bool __stdcall ReadBool(const char* name) override;
  int32_t __stdcall ReadInt(const char* name) override;
  std::string __stdcall ReadText(const char* name) override;
  uint32_t __stdcall ReadUInt(const char* name) override;
  void __stdcall StoreFormInput(IAssistant* assistant) override;
  void __stdcall RestoreFormInput(IAssistant* assistant) override;
  void __stdcall Reserved() override {}

  // Writes into the module's shared list; false when the object is invalid or the property
  // exists with another kind. A missing property is added with the write's kind.
  virtual bool WriteBool(const char* name, bool value);
  virtual bool WriteInt(const char* name, int32_t value);
  bool WriteUInt(const char* name, uint32_t value) {
    return WriteInt(name, static_cast<int32_t>(value));
  }
  virtual bool WriteText(const char* name, const std::string& value);

#define QX_IMPL_GET_B(Name) \
  bool __stdcall Get##Name() override { return ReadBool(#Name); }
#define QX_IMPL_GET_M(Name) \
  bool __stdcall Get##Name() override { return !ReadText(#Name).empty(); }
#define QX_IMPL_GET_I(Name) \
  int32_t __stdcall Get##Name() override { return ReadInt(#Name); }
#define QX_IMPL_GET_D(Name) \
  uint32_t __stdcall Get##Name() override { return ReadUInt(#Name); }
#define QX_IMPL_GET_T(Name) \
  std::string __stdcall Get##Name() override { return ReadText(#Name); }
#define QX_IMPL_SET_B(Name) \
  bool __stdcall Set##Name(bool value) override { return WriteBool(#Name, value); }
#define QX_IMPL_SET_I(Name) \
  bool __stdcall Set##Name(int32_t value) override { return WriteInt(#Name, value); }
#define QX_IMPL_SET_D(Name) \
  bool __stdcall Set##Name(uint32_t value) override { return WriteUInt(#Name, value); }
#define QX_IMPL_SET_T(Name) \
  bool __stdcall Set##Name(const std::string& value) override { return WriteText(#Name, value); }
#define QX_IMPL_GET(kind, Name) QX_IMPL_GET_##kind(Name)
#define QX_IMPL_SET(kind, Name) QX_IMPL_SET_##kind(Name)
#define QX_IMPL_OP(Name)
  QX_IKVSETTINGS_SLOTS(QX_IMPL_GET, QX_IMPL_SET, QX_IMPL_OP)
  QX_IKVMODULESETTINGS_SLOTS(QX_IMPL_GET, QX_IMPL_SET, QX_IMPL_OP)

  HMODULE __stdcall ModuleHandle() override { return module_; }
  IKVFields* __stdcall AddFields() override;
  IKVAttachments* __stdcall AddAttachs() override;
  bool __stdcall PluginEnabled(const std::string& name) override;
  void __stdcall SwitchPlugin(const std::string& name, bool on) override;
  std::string __stdcall Version() override { return version_; }
  IAssistant* __stdcall OpenAssistant(const std::string& name) override;
  bool __stdcall HasSettings() override { return valid_; }
  void __stdcall Reread() override;

  // Builds an assistant from its definition; `context` is the report object when the
  // settings object is one, else null. Registered by the user interface; without one,
  // OpenAssistant yields no assistant.
  using AssistantFactory = IAssistant* (*)(const struct AssistantDefinition& definition,
                                           IUnknown* context);
  static void SetAssistantFactory(AssistantFactory factory);
  // Copy the input of an assistant's forms into the form cache and back. Registered by the
  // user interface; without them the cache stays empty.
  using FormInputLink = void (*)(IAssistant* assistant, IKVFields* cache);
  static void SetFormInputLinks(FormInputLink store, FormInputLink restore);

  // The shared record (null for an invalid object); for tests and the report object.
  TSettingsModule* SharedRecord() const { return record_; }

 protected:
  virtual ~TIKVSettings();
  // Whether a screenshot can be offered: a report object answers for its own screenshot.
  virtual bool ScreenshotAvailable() { return GetScrShotDepth() != 0; }
  // What an assistant gets as its context: the report object, or null.
  virtual IUnknown* AssistantContext() { return nullptr; }

 private:
  bool UseDefaults();
  // Looks the name up in the own list, then (with `useDefaults`) in the defaults, and hands
  // the record to `read` while the list cannot change.
  template <class Read>
  bool LookupProperty(const char* name, bool useDefaults, Read&& read);
  TSettingsProperty* FindOrAdd(const char* name, PropertyKind kind);
  void ReadVersionText();

  std::atomic<long> refCount_{1};
  bool valid_ = false;
  HMODULE module_ = nullptr;
  TSettingsModule* record_ = nullptr;
  std::string version_;
  ComPtr<IKVAttachments> attachs_;
  ComPtr<IKVFields> fields_;
  ComPtr<IKVFields> formCache_;
};

// Creates a settings object that references the module's settings; the caller owns the
// returned reference.
ComPtr<IKVModuleSettings> OpenModuleSettings(HMODULE module);

}  // namespace qx
