// The objects behind the assistant interfaces: the assistant, its forms and their items.
// Internal to the assistant's files.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "assistant_interfaces_win.h"
#include "com_ptr_win.h"
#include "form_model.h"

namespace qx {

class TNVForm;
class TNVAssistant;

// What every item is beneath its interface: the model it was built from, its window while
// the form is shown, and the form it belongs to (null once the form is gone).
class ItemCore {
 public:
  virtual ~ItemCore() = default;
  virtual INVItem* Interface() = 0;

  FormItemModel model;
  HWND window = nullptr;
  TNVForm* form = nullptr;
  int32_t index = 0;
  // Images: the bitmap object, and the copy fitted to the item's box (made when painted).
  ComPtr<IUnknown> bitmap;
  ComPtr<IUnknown> fitted;
};

// Creates the item object of the model's kind, with one reference.
ItemCore* CreateItem(const FormItemModel& model, TNVForm* form, int32_t index);

class TNVForm final : public INVForm {
 public:
  TNVForm(TNVAssistant* assistant, const FormModel& model, int32_t position, IUnknown* report);
  TNVForm(const TNVForm&) = delete;
  TNVForm& operator=(const TNVForm&) = delete;

  HRESULT __stdcall QueryInterface(REFIID iid, void** object) override;
  ULONG __stdcall AddRef() override { return refs_.Add(); }
  ULONG __stdcall Release() override { return refs_.Release(this); }

  INVAssistant* __stdcall Assistant() override;
  std::string __stdcall Name() override { return name_; }
  std::string __stdcall Title() override { return title_; }
  void __stdcall SetTitle(const std::string& title) override;
  std::string __stdcall Message() override { return message_; }
  void __stdcall SetMessage(const std::string& message) override;
  INVButton* __stdcall ContinueBtn() override { return Button("ContinueBtn"); }
  INVButton* __stdcall SkipBtn() override { return Button("SkipBtn"); }
  INVButton* __stdcall CancelBtn() override { return Button("CancelBtn"); }
  std::string __stdcall ActiveControl() override { return activeControl_; }
  void __stdcall SetActiveControl(const std::string& name) override { activeControl_ = name; }
  int32_t __stdcall ItemCount() override { return static_cast<int32_t>(items_.size()); }
  INVItem* __stdcall Item(int32_t index) override;
  INVEdit* __stdcall Edit(const std::string& name) override;
  INVLabel* __stdcall Label(const std::string& name) override;
  INVButton* __stdcall Button(const std::string& name) override;
  INVCheckBox* __stdcall CheckBox(const std::string& name) override;
  INVImage* __stdcall Image(const std::string& name) override;
  int32_t __stdcall RunModal(HWND parent) override;
  int32_t __stdcall ModalResult() override { return result_; }
  void* __stdcall Data() override { return data_; }
  void __stdcall SetData(void* data) override { data_ = data; }
  IUnknown* __stdcall Report() override;
  HWND __stdcall Window() override { return window_; }

  // For the items and the window.
  void SetHandler(TNVActionHandler handler) { handler_ = handler; }
  void Notify(int32_t action, ItemCore* item);
  void UpdateContinueButton();
  void ForgetAssistant() { assistant_ = nullptr; }
  int32_t Position() const { return position_; }
  int32_t FormCount() const;
  ItemCore* ItemByName(const std::string& name, FormItemKind kind);
  const std::vector<ItemCore*>& Items() const { return items_; }
  int32_t TimerPeriod() const { return timer_; }
  int32_t MinWidth() const { return minWidth_; }

 private:
  friend class FormWindow;
  friend class RefCount;
  ~TNVForm();

  RefCount refs_;
  TNVAssistant* assistant_;
  std::string name_;
  std::string title_;
  std::string message_;
  std::string activeControl_;
  int32_t minWidth_ = 0;
  int32_t timer_ = 0;
  int32_t position_ = 1;
  ComPtr<IUnknown> report_;
  TNVActionHandler handler_ = nullptr;
  std::vector<ItemCore*> items_;  // each holds one reference of its object
  HWND window_ = nullptr;
  int32_t result_ = kResultNone;
  void* data_ = nullptr;
  bool building_ = false;  // notifications while the window is made are not the user's
};

class TNVAssistant final : public INVAssistant {
 public:
  TNVAssistant(const std::string& title, IUnknown* report);
  TNVAssistant(const TNVAssistant&) = delete;
  TNVAssistant& operator=(const TNVAssistant&) = delete;

  HRESULT __stdcall QueryInterface(REFIID iid, void** object) override;
  ULONG __stdcall AddRef() override { return refs_.Add(); }
  ULONG __stdcall Release() override { return refs_.Release(this); }

  std::string __stdcall Title() override { return title_; }
  void __stdcall SetTitle(const std::string& title) override { title_ = title; }
  int32_t __stdcall FormCount() override { return static_cast<int32_t>(forms_.size()); }
  INVForm* __stdcall Form(int32_t index) override;
  INVForm* __stdcall FormByName(const std::string& name) override;
  int32_t __stdcall RunModal(HWND parent) override;
  IUnknown* __stdcall Report() override;

  void Append(TNVForm* form) { forms_.push_back(ComPtr<TNVForm>(form)); }

 private:
  friend class RefCount;
  ~TNVAssistant();

  RefCount refs_;
  std::string title_;
  ComPtr<IUnknown> report_;
  std::vector<ComPtr<TNVForm>> forms_;
  int32_t result_ = kResultNone;
};

}  // namespace qx
