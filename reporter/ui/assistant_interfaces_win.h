// The assistant forms' interfaces. Slot order is binary contract between reporter copies of
// a process, so operations are never reordered. Getters of interfaces return new references
// (or null), which the caller releases.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <cstdint>
#include <string>

#include "form_model.h"

namespace qx {

inline constexpr GUID IID_INVAssistant = {
    0x6d1f2a70, 0x3b7c, 0x4e51, {0x9a, 0x0e, 0x51, 0x7c, 0x2d, 0x84, 0x11, 0x30}};
inline constexpr GUID IID_INVForm = {
    0x6d1f2a71, 0x3b7c, 0x4e51, {0x9a, 0x0e, 0x51, 0x7c, 0x2d, 0x84, 0x11, 0x31}};
inline constexpr GUID IID_INVItem = {
    0x6d1f2a72, 0x3b7c, 0x4e51, {0x9a, 0x0e, 0x51, 0x7c, 0x2d, 0x84, 0x11, 0x32}};
inline constexpr GUID IID_INVButton = {
    0x6d1f2a73, 0x3b7c, 0x4e51, {0x9a, 0x0e, 0x51, 0x7c, 0x2d, 0x84, 0x11, 0x33}};
inline constexpr GUID IID_INVLabel = {
    0x6d1f2a74, 0x3b7c, 0x4e51, {0x9a, 0x0e, 0x51, 0x7c, 0x2d, 0x84, 0x11, 0x34}};
inline constexpr GUID IID_INVEdit = {
    0x6d1f2a75, 0x3b7c, 0x4e51, {0x9a, 0x0e, 0x51, 0x7c, 0x2d, 0x84, 0x11, 0x35}};
inline constexpr GUID IID_INVCheckBox = {
    0x6d1f2a76, 0x3b7c, 0x4e51, {0x9a, 0x0e, 0x51, 0x7c, 0x2d, 0x84, 0x11, 0x36}};
inline constexpr GUID IID_INVImage = {
    0x6d1f2a77, 0x3b7c, 0x4e51, {0x9a, 0x0e, 0x51, 0x7c, 0x2d, 0x84, 0x11, 0x37}};

struct INVForm;
struct INVItem;

// Actions a form's handler is given.
enum FormAction : int32_t {
  kFormCreated = 0,
  kFormShowing = 1,
  kFormClosed = 2,
  kFormItemEvent = 3,  // a click, a check box change, an edit change, or a timer tick (no item)
};

// Modal results of forms and assistants.
enum FormResult : int32_t {
  kResultNone = 0,
  kResultContinue = 1,
  kResultSkip = 2,
  kResultCancel = 3,
};

// A form's action handler: (form, action, item or null, report object or null).
using TNVActionHandler = void (*)(INVForm* form, int32_t action, INVItem* item,
                                  IUnknown* report);

struct INVItem : public IUnknown {
  virtual std::string __stdcall Name() = 0;
  virtual bool __stdcall Enabled() = 0;
  virtual void __stdcall SetEnabled(bool enabled) = 0;
  virtual void __stdcall Focus() = 0;
  virtual int32_t __stdcall OutputType() = 0;  // FormOutputType
  virtual void __stdcall SetOutputType(int32_t type) = 0;
  virtual std::string __stdcall OutputName() = 0;
  virtual void __stdcall SetOutputName(const std::string& name) = 0;
  virtual int32_t __stdcall Kind() = 0;  // FormItemKind
  virtual HWND __stdcall Window() = 0;   // while the form is shown, else null
};

struct INVButton : public INVItem {
  virtual std::string __stdcall Caption() = 0;
  virtual void __stdcall SetCaption(const std::string& caption) = 0;
};

struct INVLabel : public INVItem {
  virtual std::string __stdcall Caption() = 0;
  virtual void __stdcall SetCaption(const std::string& caption) = 0;
};

struct INVEdit : public INVItem {
  // While the form is shown, the text of the edit window.
  virtual std::string __stdcall Text() = 0;
  virtual void __stdcall SetText(const std::string& text) = 0;
  virtual void __stdcall SetValid(bool valid) = 0;
  virtual int32_t __stdcall Lines() = 0;
};

struct INVCheckBox : public INVItem {
  virtual std::string __stdcall Caption() = 0;
  virtual void __stdcall SetCaption(const std::string& caption) = 0;
  virtual bool __stdcall Checked() = 0;
  virtual void __stdcall SetChecked(bool checked) = 0;
};

struct INVImage : public INVItem {
  virtual std::string __stdcall File() = 0;
  virtual IUnknown* __stdcall Bitmap() = 0;  // the bitmap object (INVBitmap), or null
  virtual void __stdcall SetBitmap(IUnknown* bitmap) = 0;
};

struct INVAssistant;

struct INVForm : public IUnknown {
  virtual INVAssistant* __stdcall Assistant() = 0;
  virtual std::string __stdcall Name() = 0;
  virtual std::string __stdcall Title() = 0;
  virtual void __stdcall SetTitle(const std::string& title) = 0;
  virtual std::string __stdcall Message() = 0;
  virtual void __stdcall SetMessage(const std::string& message) = 0;
  virtual INVButton* __stdcall ContinueBtn() = 0;
  virtual INVButton* __stdcall SkipBtn() = 0;
  virtual INVButton* __stdcall CancelBtn() = 0;
  virtual std::string __stdcall ActiveControl() = 0;
  virtual void __stdcall SetActiveControl(const std::string& name) = 0;
  virtual int32_t __stdcall ItemCount() = 0;
  virtual INVItem* __stdcall Item(int32_t index) = 0;
  virtual INVEdit* __stdcall Edit(const std::string& name) = 0;
  virtual INVLabel* __stdcall Label(const std::string& name) = 0;
  virtual INVButton* __stdcall Button(const std::string& name) = 0;
  virtual INVCheckBox* __stdcall CheckBox(const std::string& name) = 0;
  virtual INVImage* __stdcall Image(const std::string& name) = 0;
  virtual int32_t __stdcall RunModal(HWND parent) = 0;
  virtual int32_t __stdcall ModalResult() = 0;
  virtual void* __stdcall Data() = 0;
  virtual void __stdcall SetData(void* data) = 0;
  virtual IUnknown* __stdcall Report() = 0;
  virtual HWND __stdcall Window() = 0;  // while shown, else null
};

struct INVAssistant : public IUnknown {
  virtual std::string __stdcall Title() = 0;
  virtual void __stdcall SetTitle(const std::string& title) = 0;
  virtual int32_t __stdcall FormCount() = 0;
  virtual INVForm* __stdcall Form(int32_t index) = 0;
  virtual INVForm* __stdcall FormByName(const std::string& name) = 0;
  virtual int32_t __stdcall RunModal(HWND parent) = 0;
  virtual IUnknown* __stdcall Report() = 0;
};

}  // namespace qx
