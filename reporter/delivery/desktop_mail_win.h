// Handing a report to the user's own mail program: Simple MAPI with the report's files
// attached, or the program registered for "mailto:" links with the report as the body.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "desktop_mail_texts.h"

namespace qx {

// MAPISendMail of "mapi32.dll". Fails at once while the process is blocked, and when the
// library or the function is missing. A topmost parent window loses that state for the
// call, and a main thread the reporter holds runs meanwhile (a mail program may need it).
MailOutcome SendMapiMail(const std::string& recipients, const std::string& subject,
                         const std::string& body, bool hidden, HWND parent,
                         const std::vector<std::string>& sendAsNames,
                         const std::vector<std::string>& filePaths);

// Starts the command registered under HKEY_CLASSES_ROOT "mailto\shell\open\command" with
// the link; true when the process started.
bool SendMailtoLink(const std::string& recipients, const std::string& subject,
                    const std::string& body);

// Takes the topmost state from a window (null or not topmost: nothing happens).
void DropTopmost(HWND window);

// Takes the topmost state from a window for as long as the object lives.
class TopmostPause {
 public:
  explicit TopmostPause(HWND window);
  ~TopmostPause();
  TopmostPause(const TopmostPause&) = delete;
  TopmostPause& operator=(const TopmostPause&) = delete;

 private:
  HWND window_ = nullptr;  // set only when the state was taken
};

}  // namespace qx
