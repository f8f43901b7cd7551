// One delivery attempt over the network: what the sending code hands to the SMTP session or
// the HTTP upload. Built by the report sender from the settings; the transport reads it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "progress_alert_win.h"
#include "settings_interfaces_win.h"

namespace qx {

struct MailJob {
  std::string httpAddress;  // empty: mail over SMTP
  std::string sender;
  std::string recipients;   // list text; the transport normalises it
  IKVSettings* settings = nullptr;
  IProgressAlert* progress = nullptr;  // may be null (no window)
  uint16_t port = 0;
  std::string password;  // plain, as the settings store hands it out
  std::string account;
  std::string server;  // empty: direct delivery to the recipients' mail exchangers
  IKVFields* fields = nullptr;  // extra form fields, HTTP only; may be null
  // Attachments as three parallel lists of the same length.
  std::vector<std::string> filePaths;
  std::vector<std::string> sendAsNames;
  std::vector<std::string> fieldNames;
  std::string body;
  std::string subject;
};

// Runs the HTTP upload when an HTTP address is set, otherwise the SMTP session(s).
bool SendMailOrUpload(MailJob& job);

}  // namespace qx
