// The reference-counted interfaces of the settings store and of the two lists it hands out.
// Slot order is binary contract: several copies of the reporter in one process call each
// other's objects through these tables, so operations are never reordered.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <cstdint>
#include <string>

#include "settings_slots_win.inc"

namespace qx {

// Interface identities, the same in every reporter copy.
inline constexpr GUID IID_IPropertyAccess = {
    0x6d1f2a40, 0x3b7c, 0x4e51, {0x9a, 0x0e, 0x51, 0x7c, 0x2d, 0x84, 0x11, 0x01}};
inline constexpr GUID IID_IKVSettings = {
    0x6d1f2a41, 0x3b7c, 0x4e51, {0x9a, 0x0e, 0x51, 0x7c, 0x2d, 0x84, 0x11, 0x02}};
inline constexpr GUID IID_IKVModuleSettings = {
    0x6d1f2a42, 0x3b7c, 0x4e51, {0x9a, 0x0e, 0x51, 0x7c, 0x2d, 0x84, 0x11, 0x03}};
inline constexpr GUID IID_IKVFields = {
    0x6d1f2a43, 0x3b7c, 0x4e51, {0x9a, 0x0e, 0x51, 0x7c, 0x2d, 0x84, 0x11, 0x04}};
inline constexpr GUID IID_IKVFieldsEx = {
    0x6d1f2a44, 0x3b7c, 0x4e51, {0x9a, 0x0e, 0x51, 0x7c, 0x2d, 0x84, 0x11, 0x05}};
inline constexpr GUID IID_IKVAttachments = {
    0x6d1f2a45, 0x3b7c, 0x4e51, {0x9a, 0x0e, 0x51, 0x7c, 0x2d, 0x84, 0x11, 0x06}};
inline constexpr GUID IID_IKVAttachmentsEx = {
    0x6d1f2a62, 0x3b7c, 0x4e51, {0x9a, 0x0e, 0x51, 0x7c, 0x2d, 0x84, 0x11, 0x22}};

// An assistant of the user interface; the settings store only hands it on.
using IAssistant = IUnknown;

struct IPropertyAccess : public IUnknown {
  virtual bool __stdcall ReadBool(const char* name) = 0;
  virtual int32_t __stdcall ReadInt(const char* name) = 0;
  virtual std::string __stdcall ReadText(const char* name) = 0;
  virtual uint32_t __stdcall ReadUInt(const char* name) = 0;
  virtual void __stdcall StoreFormInput(IAssistant* assistant) = 0;
  virtual void __stdcall RestoreFormInput(IAssistant* assistant) = 0;
  virtual void __stdcall Reserved() = 0;
};

struct IKVFields : public IUnknown {
  virtual void __stdcall Lock() = 0;
  virtual void __stdcall Unlock() = 0;
  virtual int32_t __stdcall ItemCount() = 0;
  virtual std::string __stdcall ItemName(int32_t index) = 0;
  virtual void __stdcall Rename(int32_t index, const std::string& name) = 0;
  virtual int32_t __stdcall Find(const std::string& name) = 0;
  virtual std::string __stdcall Content(const std::string& name) = 0;
  virtual void __stdcall SetContent(const std::string& name, const std::string& value) = 0;
  virtual void __stdcall Add(const std::string& name, const std::string& value) = 0;
  virtual void __stdcall Insert(int32_t index, const std::string& name,
                                const std::string& value) = 0;
  virtual void __stdcall Delete(int32_t index) = 0;
  virtual void __stdcall DeleteName(const std::string& name) = 0;
  virtual IKVFields* __stdcall Clone() = 0;  // a new reference
};

struct IKVFieldsEx : public IUnknown {
  virtual void __stdcall ClearOwnerException() = 0;
  virtual void __stdcall ClearOwnerSettings() = 0;
  virtual void __stdcall SetInsertionPoint(int32_t index) = 0;
  virtual void __stdcall SetAcceptData(bool accept) = 0;
};

struct IKVAttachments : public IUnknown {
  virtual void __stdcall Lock() = 0;
  virtual void __stdcall Unlock() = 0;
  virtual int32_t __stdcall ItemCount() = 0;
  virtual bool __stdcall Item(int32_t index, std::string& sourceFile, std::string& sendAs,
                              std::string& zipName, std::string& fieldName) = 0;
  virtual void __stdcall Add(const std::string& sourceFile, const std::string& sendAs,
                             const std::string& zipName, const std::string& fieldName) = 0;
  virtual bool __stdcall Delete(const std::string& sourceFile) = 0;
  virtual void __stdcall Clear() = 0;
  virtual IKVAttachments* __stdcall Clone() = 0;  // a new reference
};

struct IKVAttachmentsEx : public IUnknown {
  virtual void __stdcall ClearOwnerSettings() = 0;
};

#define QX_TYPE_B bool
#define QX_TYPE_M bool
#define QX_TYPE_I int32_t
#define QX_TYPE_D uint32_t
#define QX_TYPE_T std::string
#define QX_PARAM_B bool
#define QX_PARAM_I int32_t
#define QX_PARAM_D uint32_t
#define QX_PARAM_T const std::string&

#define QX_PURE_OP_ModuleHandle virtual HMODULE __stdcall ModuleHandle() = 0;
#define QX_PURE_OP_AddFields virtual IKVFields* __stdcall AddFields() = 0;
#define QX_PURE_OP_AddAttachs virtual IKVAttachments* __stdcall AddAttachs() = 0;
#define QX_PURE_OP_PluginEnabled \
  virtual bool __stdcall PluginEnabled(const std::string& name) = 0;
#define QX_PURE_OP_SwitchPlugin \
  virtual void __stdcall SwitchPlugin(const std::string& name, bool on) = 0;
#define QX_PURE_OP_Version virtual std::string __stdcall Version() = 0;
#define QX_PURE_OP_OpenAssistant \
  virtual IAssistant* __stdcall OpenAssistant(const std::string& name) = 0;
#define QX_PURE_OP_HasSettings virtual bool __stdcall HasSettings() = 0;
#define QX_PURE_OP_Reread virtual void __stdcall Reread() = 0;

#define QX_PURE_GET(kind, Name) virtual QX_TYPE_##kind __stdcall Get##Name() = 0;
#define QX_PURE_SET(kind, Name) virtual bool __stdcall Set##Name(QX_PARAM_##kind value) = 0;
#define QX_PURE_OP(Name) QX_PURE_OP_##Name

// AddFields, AddAttachs and OpenAssistant return a new reference (or null), which the
// caller releases; the settings object keeps its own reference to the two lists.
struct IKVSettings : public IUnknown {
  QX_IKVSETTINGS_SLOTS(QX_PURE_GET, QX_PURE_SET, QX_PURE_OP)
};

struct IKVModuleSettings : public IKVSettings {
  QX_IKVMODULESETTINGS_SLOTS(QX_PURE_GET, QX_PURE_SET, QX_PURE_OP)
};

}  // namespace qx
