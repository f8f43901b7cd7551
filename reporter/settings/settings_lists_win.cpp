#include "settings_lists_win.h"

#include <array>
#include <atomic>
#include <string>
#include <vector>

#include "settings_text_lists.h"
#include "settings_object_win.h"

namespace qx {

namespace {

std::string Trimmed(const std::string& value) {
  size_t first = 0, last = value.size();
  while (first < last && static_cast<unsigned char>(value[first]) <= 32) ++first;
  while (last > first && static_cast<unsigned char>(value[last - 1]) <= 32) --last;
  return value.substr(first, last - first);
}

class CriticalSection {
 public:
  CriticalSection() { InitializeCriticalSection(&section_); }
  ~CriticalSection() { DeleteCriticalSection(&section_); }
  void Enter() { EnterCriticalSection(&section_); }
  void Leave() { LeaveCriticalSection(&section_); }

 private:
  CRITICAL_SECTION section_;
};

class Guard {
 public:
  explicit Guard(CriticalSection& section) : section_(section) { section_.Enter(); }
  ~Guard() { section_.Leave(); }

 private:
  CriticalSection& section_;
};

class TIKVFields final : public IKVFields, public IKVFieldsEx {
 public:
  HRESULT __stdcall QueryInterface(REFIID iid, void** object) override {
    return QueryOneOf(iid, object,
                      {{&IID_IKVFields, static_cast<IKVFields*>(this)},
                       {&IID_IKVFieldsEx, static_cast<IKVFieldsEx*>(this)}});
  }
  ULONG __stdcall AddRef() override { return refs_.Add(); }
  ULONG __stdcall Release() override { return refs_.Release(this); }

  void __stdcall Lock() override { lock_.Enter(); }
  void __stdcall Unlock() override { lock_.Leave(); }
  int32_t __stdcall ItemCount() override {
    Guard guard(lock_);
    return static_cast<int32_t>(items_.size());
  }
  std::string __stdcall ItemName(int32_t index) override {
    Guard guard(lock_);
    return Valid(index) ? items_[index].first : std::string();
  }
  void __stdcall Rename(int32_t index, const std::string& name) override {
    Guard guard(lock_);
    if (!Valid(index) || items_[index].first == name) return;
    items_[index].first = name;
    Changed();
  }
  int32_t __stdcall Find(const std::string& name) override {
    Guard guard(lock_);
    return IndexOf(name);
  }
  std::string __stdcall Content(const std::string& name) override {
    Guard guard(lock_);
    int32_t index = IndexOf(name);
    return index >= 0 ? items_[index].second : std::string();
  }
  void __stdcall SetContent(const std::string& name, const std::string& value) override {
    Guard guard(lock_);
    if (!acceptData_) return;
    std::string trimmed = Trimmed(value);
    int32_t index = IndexOf(name);
    if (trimmed.empty()) {
      if (index >= 0) RemoveAt(index);
      return;
    }
    if (index >= 0) {
      if (items_[index].first == name && items_[index].second == trimmed) return;
      items_[index] = {name, trimmed};
    } else if (insertionPoint_ > 0 && insertionPoint_ <= static_cast<int32_t>(items_.size())) {
      items_.insert(items_.begin() + insertionPoint_, {name, trimmed});
      ++insertionPoint_;
    } else {
      items_.emplace_back(name, trimmed);
    }
    Changed();
  }
  void __stdcall Add(const std::string& name, const std::string& value) override {
    SetContent(name, value);
  }
  void __stdcall Insert(int32_t index, const std::string& name,
                        const std::string& value) override {
    Guard guard(lock_);
    std::string trimmed = Trimmed(value);
    if (!acceptData_ || trimmed.empty()) return;
    int32_t count = static_cast<int32_t>(items_.size());
    index = index < 0 ? 0 : index > count ? count : index;
    int32_t existing = IndexOf(name);
    if (existing >= 0) {
      if (existing == index && items_[existing].second == trimmed) return;
      items_.erase(items_.begin() + existing);
      if (existing < index) --index;
    }
    items_.insert(items_.begin() + index, {name, trimmed});
    if (insertionPoint_ > 0 && insertionPoint_ >= index) ++insertionPoint_;
    Changed();
  }
  void __stdcall Delete(int32_t index) override {
    Guard guard(lock_);
    if (Valid(index)) RemoveAt(index);
  }
  void __stdcall DeleteName(const std::string& name) override {
    Guard guard(lock_);
    int32_t index = IndexOf(name);
    if (index >= 0) RemoveAt(index);
  }
  IKVFields* __stdcall Clone() override {
    auto* copy = new TIKVFields;
    Guard guard(lock_);
    copy->items_ = items_;
    copy->acceptData_ = true;
    return copy;
  }

  void __stdcall ClearOwnerException() override {}
  void __stdcall ClearOwnerSettings() override { SetOwner(nullptr); }
  void __stdcall SetInsertionPoint(int32_t index) override {
    Guard guard(lock_);
    insertionPoint_ = index;
  }
  void __stdcall SetAcceptData(bool accept) override {
    Guard guard(lock_);
    acceptData_ = accept;
  }

  void SetOwner(TIKVSettings* owner) {
    Guard guard(lock_);
    owner_ = owner;
  }

 private:
  bool Valid(int32_t index) const {
    return index >= 0 && index < static_cast<int32_t>(items_.size());
  }
  int32_t IndexOf(const std::string& name) const {
    for (size_t i = 0; i < items_.size(); ++i)
      if (EqualIgnoringCase(items_[i].first, name)) return static_cast<int32_t>(i);
    return -1;
  }
  void RemoveAt(int32_t index) {
    items_.erase(items_.begin() + index);
    if (insertionPoint_ > 0 && insertionPoint_ > index) --insertionPoint_;
    Changed();
  }
  void Changed() {
    if (owner_ == nullptr) return;
    std::string text;
    for (const auto& [name, value] : items_) {
      if (!text.empty()) text += '|';
      text += name + "=" + value;
    }
    owner_->WriteText("AddFields", text);
  }

  RefCount refs_;
  CriticalSection lock_;
  TIKVSettings* owner_ = nullptr;
  std::vector<std::pair<std::string, std::string>> items_;
  int32_t insertionPoint_ = 0;
  bool acceptData_ = false;
};

class TIKVAttachments final : public IKVAttachments {
 public:
  HRESULT __stdcall QueryInterface(REFIID iid, void** object) override {
    return QueryOneOf(iid, object, {{&IID_IKVAttachments, static_cast<IKVAttachments*>(this)}});
  }
  ULONG __stdcall AddRef() override { return refs_.Add(); }
  ULONG __stdcall Release() override { return refs_.Release(this); }

  void __stdcall Lock() override { lock_.Enter(); }
  void __stdcall Unlock() override { lock_.Leave(); }
  int32_t __stdcall ItemCount() override {
    Guard guard(lock_);
    return static_cast<int32_t>(items_.size());
  }
  bool __stdcall Item(int32_t index, std::string& sourceFile, std::string& sendAs,
                      std::string& zipName, std::string& fieldName) override {
    Guard guard(lock_);
    if (index < 0 || index >= static_cast<int32_t>(items_.size())) return false;
    sourceFile = items_[index][0];
    sendAs = items_[index][1];
    zipName = items_[index][2];
    fieldName = items_[index][3];
    return true;
  }
  void __stdcall Add(const std::string& sourceFile, const std::string& sendAs,
                     const std::string& zipName, const std::string& fieldName) override {
    if (sourceFile.empty()) return;
    std::array<std::string, 4> item{sourceFile, sendAs, zipName, fieldName};
    if (item[1].empty()) item[1] = sourceFile.substr(sourceFile.find_last_of("\\/:") + 1);
    if (item[3].empty()) item[3] = item[1].substr(0, item[1].rfind('.'));
    Guard guard(lock_);
    items_.push_back(item);
    Changed();
  }
  bool __stdcall Delete(const std::string& sourceFile) override {
    Guard guard(lock_);
    for (size_t i = 0; i < items_.size(); ++i) {
      if (EqualIgnoringCase(items_[i][0], sourceFile)) {
        items_.erase(items_.begin() + i);
        Changed();
        return true;
      }
    }
    return false;
  }
  void __stdcall Clear() override {
    Guard guard(lock_);
    if (items_.empty()) return;
    items_.clear();
    Changed();
  }
  IKVAttachments* __stdcall Clone() override {
    auto* copy = new TIKVAttachments;
    Guard guard(lock_);
    copy->items_ = items_;
    return copy;
  }

  void SetOwner(TIKVSettings* owner) {
    Guard guard(lock_);
    owner_ = owner;
  }

 private:
  void Changed() {
    if (owner_ == nullptr) return;
    std::string text;
    for (size_t i = 0; i < items_.size(); ++i) {
      if (i > 0) text += '|';
      text += items_[i][0] + ">" + items_[i][1] + ">" + items_[i][2] + ">" + items_[i][3];
    }
    owner_->WriteText("AddAttachs", text);
  }

  RefCount refs_;
  CriticalSection lock_;
  TIKVSettings* owner_ = nullptr;
  std::vector<std::array<std::string, 4>> items_;
};

}  // namespace

IKVFields* CreateFieldList() { return new (std::nothrow) TIKVFields; }
IKVAttachments* CreateAttachmentList() { return new (std::nothrow) TIKVAttachments; }

void AttachFieldOwner(IKVFields* fields, TIKVSettings* owner) {
  if (fields != nullptr) static_cast<TIKVFields*>(fields)->SetOwner(owner);
}

void AttachAttachmentOwner(IKVAttachments* attachments, TIKVSettings* owner) {
  if (attachments != nullptr) static_cast<TIKVAttachments*>(attachments)->SetOwner(owner);
}

}  // namespace qx
