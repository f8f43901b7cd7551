// Assistants: short sequences of modal form pages shown before a report is sent, saved or
// printed. Each form is built from the three page buttons and the component stream in the
// module's RCDATA resource "TKV" + the form name in upper case.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "assistant_interfaces_win.h"
#include "com_ptr_win.h"
#include "settings_interfaces_win.h"

namespace qx {

// Raised by AssistantFromForms when a form stream cannot be applied; what() is the text
// "Internal error: Invalid assistant resource (NAME)".
class AssistantResourceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Builds the assistant from the forms' streams in `module` (a missing resource gives a form
// with the page buttons only) and tells the creation hook. `report` (the report object, or
// null) is kept by the assistant and handed to every form handler. Throws
// AssistantResourceError on a damaged stream.
ComPtr<INVAssistant> AssistantFromForms(HMODULE module, const std::string& title,
                                        const std::vector<std::string>& formNames,
                                        IUnknown* report);

// Told of every assistant AssistantFromForms has built, with its report object.
using AssistantCreationHook = void (*)(INVAssistant* assistant, IUnknown* report);
void SetAssistantCreationHook(AssistantCreationHook hook);

// The reporter's built-in handlers, chosen by the forms' OnAction values
// "qelExcept.HandleContactForm" and "qelExcept.HandleScreenshotForm".
void HandleContactForm(INVForm* form, int32_t action, INVItem* item, IUnknown* report);
void HandleScreenshotForm(INVForm* form, int32_t action, INVItem* item, IUnknown* report);

// The registry key (current user) under which the contact form remembers name and address.
inline constexpr char kContactFormKey[] = "Software\\Zimrak\\ContactForm";

// The form cache: every edit's text and every check box's state ("+" or "-") of the forms
// left with Continue, by item name; and back into the items of every form.
void StoreAssistantInput(INVAssistant* assistant, IKVFields* cache);
void RestoreAssistantInput(INVAssistant* assistant, IKVFields* cache);

// Start-up of the assistants: settings objects build them from their definitions with
// the forms of `module`, and cache their input. Shut-down undoes it.
void AssistantStartup(HMODULE module);
void AssistantShutdown();

}  // namespace qx
