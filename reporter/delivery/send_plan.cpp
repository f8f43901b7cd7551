#include "send_plan.h"

#include "mail_addresses.h"

namespace qx {

namespace {

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string FileNamePart(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

NetworkChannel FirstNetworkChannel(const ChannelSwitches& switches) {
  if (switches.uploadViaHttp) return NetworkChannel::kHttp;
  if (switches.mailAsSmtpServer) return NetworkChannel::kSmtpDirect;
  if (switches.mailAsSmtpClient) return NetworkChannel::kSmtpServer;
  return NetworkChannel::kNone;
}

bool NeedsAttachments(const ChannelSwitches& switches) {
  return FirstNetworkChannel(switches) != NetworkChannel::kNone || switches.mailViaMapi;
}

std::string MailSender(const std::string& mailFrom, const std::string& mailAddr) {
  if (!mailFrom.empty()) return mailFrom;
  std::string list = mailAddr;
  if (CountMailAddrs(list) == 0) return std::string();
  return "qelExcept " + MailAddrText(SplitMailAddrs(list).front(), false);
}

std::vector<std::string> SendProgressSteps(NetworkChannel channel, bool hasAttachments,
                                           const SendStepTexts& texts) {
  std::vector<std::string> steps{texts.prepAtt};
  const bool smtp = channel == NetworkChannel::kSmtpDirect || channel == NetworkChannel::kSmtpServer;
  if (channel == NetworkChannel::kSmtpDirect) steps.push_back(texts.mxLook);
  steps.push_back(texts.conn);
  if (smtp) {
    steps.push_back(texts.auth);
    steps.push_back(texts.sendMail);
  }
  if (channel == NetworkChannel::kHttp) steps.push_back(texts.field);
  if (hasAttachments) steps.push_back(texts.sendAtt);
  steps.push_back(texts.sendFinal);
  return steps;
}

AttachmentPlan PlanAttachments(const std::vector<SendAttachment>& attachments,
                               const std::function<bool(const std::string&)>& fileExists,
                               const std::string& tempFolder) {
  AttachmentPlan plan;
  std::vector<std::string> zipNames;  // as first written, one per archive
  for (const SendAttachment& attachment : attachments) {
    if (attachment.path.empty() || !fileExists(attachment.path)) continue;
    const std::string entryName =
        attachment.sendAs.empty() ? FileNamePart(attachment.path) : attachment.sendAs;
    if (attachment.zipName.empty()) {
      plan.items.push_back({attachment.path, attachment.sendAs, attachment.fieldName, -1});
      continue;
    }
    int index = -1;
    for (size_t i = 0; i < zipNames.size(); ++i)
      if (SameIgnoringCase(zipNames[i], attachment.zipName)) index = static_cast<int>(i);
    if (index < 0) {
      index = static_cast<int>(plan.zips.size());
      zipNames.push_back(attachment.zipName);
      plan.zips.push_back({tempFolder + attachment.zipName, {}, {}});
      plan.items.push_back(
          {plan.zips.back().archivePath, attachment.zipName, attachment.zipName, index});
    }
    plan.zips[index].sources.push_back(attachment.path);
    plan.zips[index].entryNames.push_back(entryName);
  }
  return plan;
}

}  // namespace qx
