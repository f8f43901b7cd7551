// The items of assistant forms: buttons, labels, edits, check boxes and images. While the
// form is shown, each item's state lives in its window too; the model keeps it afterwards.
#include <string>

#include "assistant_objects_win.h"

namespace qx {
namespace {

template <class Interface>
const IID& IidOf();
template <>
const IID& IidOf<INVButton>() { return IID_INVButton; }
template <>
const IID& IidOf<INVLabel>() { return IID_INVLabel; }
template <>
const IID& IidOf<INVEdit>() { return IID_INVEdit; }
template <>
const IID& IidOf<INVCheckBox>() { return IID_INVCheckBox; }
template <>
const IID& IidOf<INVImage>() { return IID_INVImage; }

std::string WindowText(HWND window) {
  int length = GetWindowTextLengthA(window);
  std::string text(length > 0 ? length + 1 : 1, '\0');
  int copied = GetWindowTextA(window, text.data(), static_cast<int>(text.size()));
  text.resize(copied > 0 ? copied : 0);
  return text;
}

template <class Iface>
class TNVItemOf : public Iface, public ItemCore {
 public:
  HRESULT __stdcall QueryInterface(REFIID iid, void** object) override {
    return QueryOneOf(iid, object, {{&IID_INVItem, static_cast<INVItem*>(this)},
                                    {&IidOf<Iface>(), static_cast<Iface*>(this)}});
  }
  ULONG __stdcall AddRef() override { return refs_.Add(); }
  ULONG __stdcall Release() override { return refs_.Release(this); }

  std::string __stdcall Name() override { return model.name; }
  bool __stdcall Enabled() override { return model.enabled; }
  void __stdcall SetEnabled(bool enabled) override {
    model.enabled = enabled;
    if (window != nullptr) EnableWindow(window, enabled);
  }
  void __stdcall Focus() override {
    if (window != nullptr) SetFocus(window);
  }
  int32_t __stdcall OutputType() override { return static_cast<int32_t>(model.outputType); }
  void __stdcall SetOutputType(int32_t type) override {
    model.outputType = type == static_cast<int32_t>(FormOutputType::OwnSection)
                           ? FormOutputType::OwnSection
                           : FormOutputType::Header;
  }
  std::string __stdcall OutputName() override { return model.outputName; }
  void __stdcall SetOutputName(const std::string& name) override { model.outputName = name; }
  int32_t __stdcall Kind() override { return static_cast<int32_t>(model.kind); }
  HWND __stdcall Window() override { return window; }
  INVItem* Interface() override { return static_cast<Iface*>(this); }

 protected:
  std::string CaptionText() { return model.caption; }
  void StoreCaption(const std::string& caption) {
    model.caption = caption;
    if (window != nullptr) SetWindowTextA(window, caption.c_str());
  }

 private:
  RefCount refs_;
};

class TNVButton final : public TNVItemOf<INVButton> {
 public:
  std::string __stdcall Caption() override { return CaptionText(); }
  void __stdcall SetCaption(const std::string& caption) override { StoreCaption(caption); }
};

class TNVLabel final : public TNVItemOf<INVLabel> {
 public:
  std::string __stdcall Caption() override { return CaptionText(); }
  void __stdcall SetCaption(const std::string& caption) override { StoreCaption(caption); }
};

class TNVEdit final : public TNVItemOf<INVEdit> {
 public:
  std::string __stdcall Text() override {
    return window != nullptr ? WindowText(window) : model.text;
  }
  void __stdcall SetText(const std::string& text) override {
    model.text = text;
    if (window != nullptr) SetWindowTextA(window, text.c_str());
  }
  void __stdcall SetValid(bool valid) override {
    model.valid = valid;
    if (form != nullptr) form->UpdateContinueButton();
  }
  int32_t __stdcall Lines() override { return model.lines; }
};

class TNVCheckBox final : public TNVItemOf<INVCheckBox> {
 public:
  std::string __stdcall Caption() override { return CaptionText(); }
  void __stdcall SetCaption(const std::string& caption) override { StoreCaption(caption); }
  bool __stdcall Checked() override { return model.checked; }
  void __stdcall SetChecked(bool checked) override {
    model.checked = checked;
    if (window != nullptr)
      SendMessageA(window, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
  }
};

class TNVImage final : public TNVItemOf<INVImage> {
 public:
  std::string __stdcall File() override { return model.file; }
  IUnknown* __stdcall Bitmap() override {
    if (bitmap) bitmap->AddRef();
    return bitmap.Get();
  }
  void __stdcall SetBitmap(IUnknown* picture) override {
    bitmap = ComPtr<IUnknown>(picture);
    fitted = nullptr;
    if (window != nullptr) InvalidateRect(window, nullptr, TRUE);
  }
};

template <class Item>
ItemCore* Made(const FormItemModel& model, TNVForm* form, int32_t index) {
  auto* item = new (std::nothrow) Item();
  if (item == nullptr) return nullptr;
  item->model = model;
  item->form = form;
  item->index = index;
  return item;
}

}  // namespace

ItemCore* CreateItem(const FormItemModel& model, TNVForm* form, int32_t index) {
  switch (model.kind) {
    case FormItemKind::Button:
      return Made<TNVButton>(model, form, index);
    case FormItemKind::Label:
      return Made<TNVLabel>(model, form, index);
    case FormItemKind::Edit:
      return Made<TNVEdit>(model, form, index);
    case FormItemKind::CheckBox:
      return Made<TNVCheckBox>(model, form, index);
    case FormItemKind::Image:
      return Made<TNVImage>(model, form, index);
  }
  return nullptr;
}

}  // namespace qx
