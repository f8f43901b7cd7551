#include "field_items.h"

#include <cctype>

namespace qx {

std::string TrimmedText(const std::string& text) {
  size_t first = 0, last = text.size();
  while (first < last && static_cast<unsigned char>(text[first]) <= 32) ++first;
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= 32) --last;
  return text.substr(first, last - first);
}

bool SameTextIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::string FieldItems::Name(int32_t index) const {
  return Valid(index) ? items_[index].first : std::string();
}

int32_t FieldItems::Find(const std::string& name) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (SameTextIgnoringCase(items_[i].first, name)) return static_cast<int32_t>(i);
  return -1;
}

std::string FieldItems::Content(const std::string& name) const {
  int32_t index = Find(name);
  return index >= 0 ? items_[index].second : std::string();
}

void FieldItems::Grow() {
  if (items_.size() < items_.capacity()) return;
  items_.reserve(items_.empty() ? 16 : items_.size() + items_.size() / 2);
}

bool FieldItems::Rename(int32_t index, const std::string& name) {
  if (!Valid(index) || items_[index].first == name) return false;
  items_[index].first = name;
  return true;
}

bool FieldItems::SetContent(const std::string& name, const std::string& value) {
  if (!acceptData_) return false;
  std::string trimmed = TrimmedText(value);
  int32_t index = Find(name);
  if (trimmed.empty()) return Delete(index);
  if (index < 0) return Insert(insertionPoint_ > 0 ? insertionPoint_ : Count(), name, trimmed);
  if (items_[index].first == name && items_[index].second == trimmed) return false;
  items_[index] = {name, trimmed};
  return true;
}

bool FieldItems::Insert(int32_t index, const std::string& name, const std::string& value) {
  std::string trimmed = TrimmedText(value);
  if (!acceptData_ || trimmed.empty()) return false;
  index = index < 0 ? 0 : index > Count() ? Count() : index;
  int32_t existing = Find(name);
  if (existing >= 0) {
    if (existing == index && items_[existing].second == trimmed) return false;
    items_.erase(items_.begin() + existing);
    if (existing < index) --index;
  }
  Grow();
  items_.insert(items_.begin() + index, Item{name, trimmed});
  if (insertionPoint_ > 0 && insertionPoint_ >= index) ++insertionPoint_;
  return true;
}

bool FieldItems::Delete(int32_t index) {
  if (!Valid(index)) return false;
  items_.erase(items_.begin() + index);
  if (insertionPoint_ > 0 && insertionPoint_ > index) --insertionPoint_;
  return true;
}

std::string FieldItems::SettingsText() const {
  std::string text;
  for (size_t i = 0; i < items_.size(); ++i) {
    if (i > 0) text += '|';
    text += items_[i].first + "=" + items_[i].second;
  }
  return text;
}

bool AttachmentItems::Add(const std::string& sourceFile, const std::string& sendAs,
                          const std::string& zipName, const std::string& fieldName) {
  if (sourceFile.empty()) return false;
  Item item{sourceFile, sendAs, zipName, fieldName};
  if (item[1].empty()) item[1] = sourceFile.substr(sourceFile.find_last_of("\\/:") + 1);
  if (item[3].empty()) item[3] = item[1].substr(0, item[1].rfind('.'));
  if (items_.size() == items_.capacity())
    items_.reserve(items_.empty() ? 16 : items_.size() + items_.size() / 2);
  items_.push_back(item);
  return true;
}

bool AttachmentItems::Delete(const std::string& sourceFile) {
  for (size_t i = 0; i < items_.size(); ++i) {
    if (SameTextIgnoringCase(items_[i][0], sourceFile)) {
      items_.erase(items_.begin() + i);
      return true;
    }
  }
  return false;
}

bool AttachmentItems::Clear() {
  if (items_.empty()) return false;
  items_.clear();
  return true;
}

std::string AttachmentItems::SettingsText() const {
  std::string text;
  for (size_t i = 0; i < items_.size(); ++i) {
    if (i > 0) text += '|';
    text += items_[i][0] + ">" + items_[i][1] + ">" + items_[i][2] + ">" + items_[i][3];
  }
  return text;
}

}  // namespace qx
