#include "desktop_mail_texts.h"

#include <cstring>

#include "mail_addresses.h"

namespace qx {

std::vector<MapiRecipient> MapiRecipients(std::string list) {
  std::vector<MapiRecipient> recipients;
  CountMailAddrs(list);
  for (const std::string& element : SplitMailAddrs(list)) {
    MapiRecipient recipient;
    const size_t open = element.find('<');
    if (open == std::string::npos) {
      recipient.name = element;
      recipient.address = "SMTP:" + element;
    } else {
      recipient.name = element.substr(0, open);
      const size_t close = element.find('>', open + 1);
      recipient.address = "SMTP:" + element.substr(open + 1, close == std::string::npos
                                                                  ? std::string::npos
                                                                  : close - open - 1);
    }
    recipients.push_back(std::move(recipient));
  }
  return recipients;
}

uint32_t MapiSendFlags(bool hidden, size_t recipientCount) {
  return hidden && recipientCount > 0 ? 0 : kMapiDialogFlags;
}

MailOutcome MapiOutcome(uint32_t result) {
  if (result == kMapiSuccess) return kMailSent;
  if (result == kMapiUserAbort) return kMailCancelled;
  return kMailFailed;
}

std::string MailtoEscape(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    if (c == '\n' || c == '\r' || (c != '\0' && std::strchr(" \"#%&+<>?", c) != nullptr)) {
      const auto byte = static_cast<unsigned char>(c);
      escaped += '%';
      escaped += kHex[byte >> 4];
      escaped += kHex[byte & 15];
    } else {
      escaped += c;
    }
  }
  return escaped;
}

std::string MailtoLink(std::string recipients, const std::string& subject,
                       const std::string& body) {
  CountMailAddrs(recipients);
  return "mailto:" + recipients + "?subject=" + MailtoEscape(subject) +
         "&body=" + MailtoEscape(body);
}

std::string MailtoCommand(const std::string& registeredCommand, const std::string& link) {
  std::string command;
  bool replaced = false;
  for (size_t i = 0; i < registeredCommand.size(); ++i) {
    if (registeredCommand[i] == '%' && i + 1 < registeredCommand.size() &&
        registeredCommand[i + 1] == '1') {
      command += link;
      replaced = true;
      ++i;
    } else {
      command += registeredCommand[i];
    }
  }
  if (replaced) return command;
  if (!command.empty() && command.back() != ' ') command += ' ';
  return command + link;
}

std::string CutCommandLine(std::string command, size_t limit) {
  if (command.size() <= limit) return command;
  size_t length = limit;
  // An escape is three characters: a "%" in either of the last two places would be cut.
  if (limit >= 1 && command[limit - 1] == '%') {
    length = limit - 1;
  } else if (limit >= 2 && command[limit - 2] == '%') {
    length = limit - 2;
  }
  command.resize(length);
  return command;
}

}  // namespace qx
