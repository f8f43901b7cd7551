#include "form_model.h"

#include <cctype>
#include <cstdlib>

#include "form_stream.h"

namespace qx {
namespace {

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool ContainsNoCase(std::string_view text, std::string_view part) {
  if (part.size() > text.size()) return false;
  for (size_t i = 0; i + part.size() <= text.size(); ++i)
    if (EqualNoCase(text.substr(i, part.size()), part)) return true;
  return false;
}

bool IsTrue(const std::string& value) { return EqualNoCase(value, "True"); }

int32_t AsInt(const std::string& value) {
  long number = std::strtol(value.c_str(), nullptr, 10);
  if (number > 1000000) return 1000000;
  if (number < -1000000) return -1000000;
  return static_cast<int32_t>(number);
}

std::string LineFeedsExpanded(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    if (i + 4 <= text.size() && EqualNoCase(std::string_view(text).substr(i, 4), "%lf%")) {
      out += "\r\n";
      i += 4;
    } else {
      out += text[i++];
    }
  }
  return out;
}

bool KindOfClass(std::string className, FormItemKind& kind) {
  if (!className.empty()) className[0] = 'T';
  static constexpr struct {
    const char* name;
    FormItemKind kind;
  } kClasses[] = {{"TNVButton", FormItemKind::Button},
                  {"TNVLabel", FormItemKind::Label},
                  {"TNVEdit", FormItemKind::Edit},
                  {"TNVCheckBox", FormItemKind::CheckBox},
                  {"TNVImage", FormItemKind::Image}};
  for (const auto& entry : kClasses)
    if (EqualNoCase(className, entry.name)) {
      kind = entry.kind;
      return true;
    }
  return false;
}

void ApplyFormProperty(FormModel& form, const std::string& name, const std::string& value) {
  if (EqualNoCase(name, "MinWidth")) form.minWidth = AsInt(value);
  else if (EqualNoCase(name, "Message")) form.message = value;
  else if (EqualNoCase(name, "ActiveControl")) form.activeControl = value;
  else if (EqualNoCase(name, "Timer")) form.timer = AsInt(value);
  else if (EqualNoCase(name, "OnAction")) form.onAction = value;
}

bool ApplyCommonProperty(FormItemModel& item, const std::string& name, const std::string& value) {
  if (EqualNoCase(name, "Spacing")) item.spacing = AsInt(value);
  else if (EqualNoCase(name, "Enabled")) item.enabled = IsTrue(value);
  else if (EqualNoCase(name, "OutputType"))
    item.outputType = ContainsNoCase(value, "ownSection") ? FormOutputType::OwnSection
                                                          : FormOutputType::Header;
  else if (EqualNoCase(name, "OutputName")) item.outputName = value;
  else return false;
  return true;
}

void ApplyItemProperty(FormItemModel& item, const std::string& name, const std::string& value) {
  if (ApplyCommonProperty(item, name, value)) return;
  switch (item.kind) {
    case FormItemKind::Button:
      if (EqualNoCase(name, "Caption")) item.caption = value;
      else if (EqualNoCase(name, "NoOwnerDraw")) item.noOwnerDraw = IsTrue(value);
      else if (EqualNoCase(name, "Visible")) item.visible = IsTrue(value);
      else if (EqualNoCase(name, "MinWidth")) item.minWidth = AsInt(value);
      break;
    case FormItemKind::Label:
      if (EqualNoCase(name, "Caption")) item.caption = value;
      break;
    case FormItemKind::Edit:
      if (EqualNoCase(name, "Text")) item.text = LineFeedsExpanded(value);
      else if (EqualNoCase(name, "Lines")) item.lines = AsInt(value);
      else if (EqualNoCase(name, "Optional")) item.optional = IsTrue(value);
      else if (EqualNoCase(name, "Colored")) item.colored = IsTrue(value);
      else if (EqualNoCase(name, "Valid")) item.valid = IsTrue(value);
      break;
    case FormItemKind::CheckBox:
      if (EqualNoCase(name, "Caption") || EqualNoCase(name, "Text")) item.caption = value;
      else if (EqualNoCase(name, "Checked")) item.checked = IsTrue(value);
      break;
    case FormItemKind::Image:
      if (EqualNoCase(name, "Width")) item.width = AsInt(value);
      else if (EqualNoCase(name, "Height")) item.height = AsInt(value);
      else if (EqualNoCase(name, "File")) item.file = value;
      else if (EqualNoCase(name, "Clickable")) item.clickable = IsTrue(value);
      else if (EqualNoCase(name, "Border")) item.border = IsTrue(value);
      break;
  }
}

FormItemModel* PageButton(FormModel& form, const std::string& name) {
  for (size_t i = 0; i < kPageButtonCount && i < form.items.size(); ++i)
    if (EqualNoCase(form.items[i].name, name) ||
        (i == kCancelButton && EqualNoCase(name, "AbortBtn")))
      return &form.items[i];
  return nullptr;
}

void ApplyObject(const FormObject& object, FormModel& form) {
  FormItemKind kind;
  if (!KindOfClass(object.className, kind)) {
    if (form.name.empty()) form.name = object.name;
    for (const auto& [name, value] : object.properties) ApplyFormProperty(form, name, value);
  } else {
    FormItemModel* item = kind == FormItemKind::Button ? PageButton(form, object.name) : nullptr;
    if (item == nullptr) {
      form.items.emplace_back();
      item = &form.items.back();
      item->kind = kind;
      item->name = object.name;
    }
    for (const auto& [name, value] : object.properties) ApplyItemProperty(*item, name, value);
    if (kind == FormItemKind::Label && item->caption.empty()) item->caption = item->name;
  }
  for (const FormObject& child : object.children) ApplyObject(child, form);
}

bool IsAddressCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '+' ||
         c == '\'';
}

}  // namespace

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

FormModel EmptyFormModel(const std::string& name) {
  FormModel form;
  form.name = name;
  const char* names[] = {"ContinueBtn", "SkipBtn", "CancelBtn"};
  const char* captions[] = {"Next >", "Skip", "Cancel"};
  for (size_t i = 0; i < kPageButtonCount; ++i) {
    FormItemModel button;
    button.kind = FormItemKind::Button;
    button.name = names[i];
    button.caption = captions[i];
    form.items.push_back(button);
  }
  return form;
}

bool ApplyFormStream(std::string_view stream, FormModel& form) {
  if (stream.size() < 4 || stream.substr(0, 4) != "TPF0") return true;
  FormObject root;
  if (!ReadFormStream(stream, root)) return false;
  ApplyObject(root, form);
  return true;
}

std::string FormResourceName(const std::string& formName) {
  std::string name = "TKV";
  for (char c : formName) name += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

std::string InvalidFormResourceText(const std::string& resourceName) {
  return "Internal error: Invalid assistant resource (" + resourceName + ")";
}

bool IsAcceptableEmail(std::string_view text) {
  if (text.empty() || text.front() == ' ' || text.back() == ' ') return false;
  size_t at = text.find('@');
  if (at == std::string_view::npos || at == 0) return false;
  if (text.find('.', at) == std::string_view::npos) return false;
  if (text.front() == '.' || text.back() == '.' || (at + 1 < text.size() && text[at + 1] == '.'))
    return false;
  std::string rest;
  for (char c : text)
    if (!IsAddressCharacter(c) && c != '.') rest += c;
  return rest == "@";
}

bool ItemAllowsContinue(const FormItemModel& item, std::string_view currentText) {
  if (item.kind != FormItemKind::Edit || item.optional) return true;
  return item.valid && !currentText.empty();
}

std::string SenderAddress(const std::string& name, const std::string& email) {
  return name + " <" + email + ">";
}

}  // namespace qx
