#include "field_lists_win.h"

#include <atomic>
#include <new>

#include "field_items.h"
#include "settings_lists_win.h"
#include "settings_object_win.h"
#include "settings_text_lists.h"
#include "sync_win.h"

namespace qx {

namespace {

class TIKVFields final : public IKVFields, public IKVFieldsEx {
 public:
  HRESULT __stdcall QueryInterface(REFIID iid, void** object) override {
    return QueryOneOf(iid, object,
                      {{&IID_IKVFields, static_cast<IKVFields*>(this)},
                       {&IID_IKVFieldsEx, static_cast<IKVFieldsEx*>(this)}});
  }
  ULONG __stdcall AddRef() override { return refs_.Add(); }
  ULONG __stdcall Release() override { return refs_.Release(this); }

  void __stdcall Lock() override {
    // The bracket first: changes made under the lock then only mark the report dirty.
    if (FieldListOwner* owner = Owner()) owner->OwnerBeginUpdate();
    lock_.Enter();
  }
  void __stdcall Unlock() override {
    FieldListOwner* owner = ownerException_.load();
    lock_.Leave();
    if (owner != nullptr) owner->OwnerEndUpdate();
  }
  int32_t __stdcall ItemCount() override {
    CriticalSectionGuard guard(lock_);
    return items_.Count();
  }
  std::string __stdcall ItemName(int32_t index) override {
    CriticalSectionGuard guard(lock_);
    return items_.Name(index);
  }
  void __stdcall Rename(int32_t index, const std::string& name) override {
    Change([&] { return items_.Rename(index, name); });
  }
  int32_t __stdcall Find(const std::string& name) override {
    CriticalSectionGuard guard(lock_);
    return items_.Find(name);
  }
  std::string __stdcall Content(const std::string& name) override {
    CriticalSectionGuard guard(lock_);
    return items_.Content(name);
  }
  void __stdcall SetContent(const std::string& name, const std::string& value) override {
    Change([&] { return items_.SetContent(name, value); });
  }
  void __stdcall Add(const std::string& name, const std::string& value) override {
    SetContent(name, value);
  }
  void __stdcall Insert(int32_t index, const std::string& name,
                        const std::string& value) override {
    Change([&] { return items_.Insert(index, name, value); });
  }
  void __stdcall Delete(int32_t index) override {
    Change([&] { return items_.Delete(index); });
  }
  void __stdcall DeleteName(const std::string& name) override {
    Change([&] { return items_.DeleteName(name); });
  }
  IKVFields* __stdcall Clone() override {
    auto* copy = new (std::nothrow) TIKVFields;
    if (copy == nullptr) return nullptr;
    CriticalSectionGuard guard(lock_);
    for (const auto& [name, value] : items_.Items()) {
      copy->items_.SetAcceptData(true);
      copy->items_.SetContent(name, value);
    }
    copy->items_.SetAcceptData(true);
    return copy;
  }

  void __stdcall ClearOwnerException() override { SetOwnerException(nullptr); }
  void __stdcall ClearOwnerSettings() override { SetOwnerSettings(nullptr); }
  void __stdcall SetInsertionPoint(int32_t index) override {
    CriticalSectionGuard guard(lock_);
    items_.SetInsertionPoint(index);
  }
  void __stdcall SetAcceptData(bool accept) override {
    CriticalSectionGuard guard(lock_);
    items_.SetAcceptData(accept);
  }

  void SetOwnerException(FieldListOwner* owner) {
    CriticalSectionGuard guard(lock_);
    ownerException_ = owner;
  }
  void SetOwnerSettings(TIKVSettings* owner) {
    CriticalSectionGuard guard(lock_);
    ownerSettings_ = owner;
  }

 private:
  FieldListOwner* Owner() {
    CriticalSectionGuard guard(lock_);
    return ownerException_.load();
  }

  // Runs `change` under the list lock; a real change is written into the owner settings and
  // marks the owner exception modified, the event firing after the list lock is left.
  template <class Changing>
  void Change(Changing&& change) {
    FieldListOwner* owner = nullptr;
    {
      CriticalSectionGuard guard(lock_);
      if (!change()) return;
      if (ownerSettings_ != nullptr) ownerSettings_->WriteText("AddFields", items_.SettingsText());
      owner = ownerException_.load();
      if (owner != nullptr) {
        owner->OwnerBeginUpdate();
        owner->OwnerModified();
      }
    }
    if (owner != nullptr) owner->OwnerEndUpdate();
  }

  RefCount refs_;
  CriticalSection lock_;
  std::atomic<FieldListOwner*> ownerException_{nullptr};
  TIKVSettings* ownerSettings_ = nullptr;
  FieldItems items_;
};

class TIKVAttachments final : public IKVAttachments, public IKVAttachmentsEx {
 public:
  HRESULT __stdcall QueryInterface(REFIID iid, void** object) override {
    return QueryOneOf(iid, object,
                      {{&IID_IKVAttachments, static_cast<IKVAttachments*>(this)},
                       {&IID_IKVAttachmentsEx, static_cast<IKVAttachmentsEx*>(this)}});
  }
  ULONG __stdcall AddRef() override { return refs_.Add(); }
  ULONG __stdcall Release() override { return refs_.Release(this); }

  void __stdcall Lock() override { lock_.Enter(); }
  void __stdcall Unlock() override { lock_.Leave(); }
  int32_t __stdcall ItemCount() override {
    CriticalSectionGuard guard(lock_);
    return items_.Count();
  }
  bool __stdcall Item(int32_t index, std::string& sourceFile, std::string& sendAs,
                      std::string& zipName, std::string& fieldName) override {
    CriticalSectionGuard guard(lock_);
    if (index < 0 || index >= items_.Count()) return false;
    const auto& item = items_.Items()[index];
    sourceFile = item[0];
    sendAs = item[1];
    zipName = item[2];
    fieldName = item[3];
    return true;
  }
  void __stdcall Add(const std::string& sourceFile, const std::string& sendAs,
                     const std::string& zipName, const std::string& fieldName) override {
    CriticalSectionGuard guard(lock_);
    if (items_.Add(sourceFile, sendAs, zipName, fieldName)) Changed();
  }
  bool __stdcall Delete(const std::string& sourceFile) override {
    CriticalSectionGuard guard(lock_);
    if (!items_.Delete(sourceFile)) return false;
    Changed();
    return true;
  }
  void __stdcall Clear() override {
    CriticalSectionGuard guard(lock_);
    if (items_.Clear()) Changed();
  }
  IKVAttachments* __stdcall Clone() override {
    auto* copy = new (std::nothrow) TIKVAttachments;
    if (copy == nullptr) return nullptr;
    CriticalSectionGuard guard(lock_);
    for (const auto& item : items_.Items()) copy->items_.Add(item[0], item[1], item[2], item[3]);
    return copy;
  }
  void __stdcall ClearOwnerSettings() override { SetOwner(nullptr); }

  void SetOwner(TIKVSettings* owner) {
    CriticalSectionGuard guard(lock_);
    owner_ = owner;
  }

 private:
  void Changed() {
    if (owner_ != nullptr) owner_->WriteText("AddAttachs", items_.SettingsText());
  }

  RefCount refs_;
  CriticalSection lock_;
  TIKVSettings* owner_ = nullptr;
  AttachmentItems items_;
};

// A list of nobody's setting that takes whatever is set in it (the form cache).
IKVFields* CreateCacheFields() {
  auto* fields = new (std::nothrow) TIKVFields;
  if (fields != nullptr) fields->SetAcceptData(true);
  return fields;
}

// A settings object's lists: its items, then the link that writes changes back, so loading
// writes nothing.
IKVFields* CreateSettingsFields(TIKVSettings* owner) {
  auto* fields = new (std::nothrow) TIKVFields;
  if (fields == nullptr) return nullptr;
  fields->SetAcceptData(true);
  for (const auto& [name, value] : SplitFieldItems(owner->ReadText("AddFields")))
    fields->Add(name, value);
  fields->SetOwnerSettings(owner);
  return fields;
}

IKVAttachments* CreateSettingsAttachments(TIKVSettings* owner) {
  auto* attachments = new (std::nothrow) TIKVAttachments;
  if (attachments == nullptr) return nullptr;
  for (const auto& parts : SplitAttachmentItems(owner->ReadText("AddAttachs")))
    attachments->Add(parts[0], parts[1], parts[2], parts[3]);
  attachments->SetOwner(owner);
  return attachments;
}

}  // namespace

void InstallSettingsLists() {
  SettingsListMakers makers;
  makers.fields = &CreateSettingsFields;
  makers.attachments = &CreateSettingsAttachments;
  makers.plainFields = &CreateCacheFields;
  SetSettingsListMakers(makers);
}

void RemoveSettingsLists() { SetSettingsListMakers(SettingsListMakers()); }

IKVFields* CreateTIKVFields() { return new (std::nothrow) TIKVFields; }
IKVAttachments* CreateTIKVAttachments() { return new (std::nothrow) TIKVAttachments; }

void SetFieldsOwnerException(IKVFields* fields, FieldListOwner* owner) {
  if (fields != nullptr) static_cast<TIKVFields*>(fields)->SetOwnerException(owner);
}
void SetFieldsOwnerSettings(IKVFields* fields, TIKVSettings* owner) {
  if (fields != nullptr) static_cast<TIKVFields*>(fields)->SetOwnerSettings(owner);
}
void SetAttachmentsOwnerSettings(IKVAttachments* attachments, TIKVSettings* owner) {
  if (attachments != nullptr) static_cast<TIKVAttachments*>(attachments)->SetOwner(owner);
}

}  // namespace qx
