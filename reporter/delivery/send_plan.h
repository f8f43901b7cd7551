// The decisions of a send that depend only on settings and file names: which network
// channel is tried, who the sender is, the progress window's steps, and how attachments
// that share a zip name travel together.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qx {

struct ChannelSwitches {
  bool uploadViaHttp = false;
  bool mailAsSmtpServer = false;  // direct delivery to the recipients' mail exchangers
  bool mailAsSmtpClient = false;  // through the configured mail server
  bool mailViaMapi = false;
};

// Exactly one network channel is tried: the first of these that is switched on.
enum class NetworkChannel { kNone, kHttp, kSmtpDirect, kSmtpServer };
NetworkChannel FirstNetworkChannel(const ChannelSwitches& switches);

// Whether the attachments are prepared at all: a network channel or the MAPI hand-off
// needs them; a "mailto:" link carries the report as its body.
bool NeedsAttachments(const ChannelSwitches& switches);

// `MailFrom` when set; otherwise, with recipients, "qelExcept " and the first recipient's
// address in angle brackets (without its display name); otherwise empty.
std::string MailSender(const std::string& mailFrom, const std::string& mailAddr);

// The progress texts of a send, as the settings name them, in the window's order.
struct SendStepTexts {
  std::string prepAtt, mxLook, conn, auth, sendMail, field, sendAtt, sendFinal;
};
// The steps shown while a send prepares: preparing attachments, then what the channel
// will do (for SMTP the look-up of the mail exchanger in direct delivery, connecting,
// authentication and the mail; for HTTP connecting and the fields), the attachments when
// there are any, and the end.
std::vector<std::string> SendProgressSteps(NetworkChannel channel, bool hasAttachments,
                                           const SendStepTexts& texts);

// One attachment as the settings and the sending code list it.
struct SendAttachment {
  std::string path;  // made absolute
  std::string sendAs;
  std::string zipName;  // empty: sent as it is
  std::string fieldName;
};

// What goes out: files sent as they are, and zip archives made from the files that share
// a zip name. The archives keep the place of their first member.
struct AttachmentPlan {
  struct Zip {
    std::string archivePath;  // in the temporary folder, named after the zip name
    std::vector<std::string> sources;
    std::vector<std::string> entryNames;
  };
  struct Item {
    std::string path, sendAs, fieldName;
    int zipIndex = -1;  // the archive this item is, or -1 for a plain file
  };
  std::vector<Item> items;
  std::vector<Zip> zips;
};

// Files that do not exist are left out; zip names are compared ignoring letter case, and
// each archive goes in with its zip name as both send-as and field name.
AttachmentPlan PlanAttachments(const std::vector<SendAttachment>& attachments,
                               const std::function<bool(const std::string&)>& fileExists,
                               const std::string& tempFolder);

}  // namespace qx
