// What a field list and an attachment list hold and how their operations change it, without
// the reference counting, locking and owner notification their objects add.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qx {

// Ordered (name, value) pairs. Names are looked up ignoring letter case; a stored value is
// never empty and never starts or ends with a byte of code 32 or below. The changing
// operations return whether the list changed (the caller then reports the change).
class FieldItems {
 public:
  using Item = std::pair<std::string, std::string>;

  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  std::string Name(int32_t index) const;
  int32_t Find(const std::string& name) const;
  std::string Content(const std::string& name) const;
  const std::vector<Item>& Items() const { return items_; }

  bool Rename(int32_t index, const std::string& name);
  // A new name goes to the insertion point (the end when it is 0 or less); an existing
  // field is overwritten only when its name spelling or value differs. An empty value
  // deletes the field.
  bool SetContent(const std::string& name, const std::string& value);
  bool Insert(int32_t index, const std::string& name, const std::string& value);
  bool Delete(int32_t index);
  bool DeleteName(const std::string& name) { return Delete(Find(name)); }

  // Until data is accepted every write is ignored.
  void SetAcceptData(bool accept) { acceptData_ = accept; }
  bool AcceptData() const { return acceptData_; }
  void SetInsertionPoint(int32_t index) { insertionPoint_ = index; }
  int32_t InsertionPoint() const { return insertionPoint_; }
  size_t Capacity() const { return items_.capacity(); }

  // name=value pairs joined by "|", as the "AddFields" setting keeps them.
  std::string SettingsText() const;

 private:
  bool Valid(int32_t index) const { return index >= 0 && index < Count(); }
  void Grow();

  std::vector<Item> items_;
  int32_t insertionPoint_ = 0;
  bool acceptData_ = false;
};

// Attachments: source file, send-as name, zip name, form field name.
class AttachmentItems {
 public:
  using Item = std::array<std::string, 4>;

  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  const std::vector<Item>& Items() const { return items_; }
  // Fills in the send-as name (file-name part of the source) and the field name (send-as
  // name without its extension) when they are empty; nothing for an empty source file.
  bool Add(const std::string& sourceFile, const std::string& sendAs, const std::string& zipName,
           const std::string& fieldName);
  bool Delete(const std::string& sourceFile);
  bool Clear();
  // Records joined by "|", parts by ">", as the "AddAttachs" setting keeps them.
  std::string SettingsText() const;

 private:
  std::vector<Item> items_;
};

// Trims bytes of code 32 or below at both ends.
std::string TrimmedText(const std::string& text);
bool SameTextIgnoringCase(const std::string& a, const std::string& b);

}  // namespace qx
