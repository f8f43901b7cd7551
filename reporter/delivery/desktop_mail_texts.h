// What the desktop mail hand-offs pass on: the Simple MAPI recipients and flags, and the
// "mailto:" link with the command line that starts the registered mail program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qx {

struct MapiRecipient {
  std::string name;     // the display name, exactly as written (a trailing space stays)
  std::string address;  // "SMTP:" and the address
};

// The elements of a recipient list (normalised as CountMailAddrs does): "Name <a@b.c>"
// gives the text before "<" as the name and the text after it up to ">" (or to the end)
// as the address; a bare address is both name and address.
std::vector<MapiRecipient> MapiRecipients(std::string list);

// MAPI_LOGON_UI | MAPI_DIALOG: the user sees the composed message and sends it.
inline constexpr uint32_t kMapiDialogFlags = 0x00000001 | 0x00000008;
// No user interface only for a hidden send that names its recipients: without them the
// mail program has to ask.
uint32_t MapiSendFlags(bool hidden, size_t recipientCount);

// MAPISendMail's results the hand-off tells apart, and the hand-off's outcome.
inline constexpr uint32_t kMapiSuccess = 0;
inline constexpr uint32_t kMapiUserAbort = 1;
enum MailOutcome : uint8_t { kMailFailed = 0, kMailSent = 1, kMailCancelled = 2 };
MailOutcome MapiOutcome(uint32_t result);

// Line feed, carriage return, space, '"', '#', '%', '&', '+', '<', '>' and '?' become "%"
// and two upper-case hexadecimal digits; every other byte, 128 and above too, stays.
std::string MailtoEscape(const std::string& text);

// "mailto:" + the normalised recipients + "?subject=" + subject + "&body=" + body, subject
// and body escaped.
std::string MailtoLink(std::string recipients, const std::string& subject,
                       const std::string& body);

// The registered command with every "%1" replaced by the link; without "%1" the link is
// appended, after a space unless the command ends with one.
std::string MailtoCommand(const std::string& registeredCommand, const std::string& link);

// The longest command line a new process takes.
inline constexpr size_t kCommandLineLimit = 32766;
// Cuts a longer command to the limit, one or two characters shorter where the cut would
// split a "%XX" escape.
std::string CutCommandLine(std::string command, size_t limit = kCommandLineLimit);

}  // namespace qx
