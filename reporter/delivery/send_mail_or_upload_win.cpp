#include "socket_win.h"

#include "mail_job_win.h"

#include "http_upload_win.h"
#include "mail_addresses.h"
#include "send_progress_win.h"
#include "smtp_session_win.h"

namespace qx {

namespace {

bool SendMail(MailJob& job, SendProgress& progress, const SendStepTexts& texts) {
  std::string list = job.recipients;
  if (CountMailAddrs(list) == 0) return false;
  if (!job.server.empty()) {
    AddSmtpProgressAreas(progress, texts, job, false);
    progress.Advance();
    return SmtpSession(list, job);
  }
  // Direct delivery: one session per recipient, each to its own domain's mail exchanger;
  // after each the window moves on to the next recipient's share.
  const std::vector<std::string> recipients = SplitMailAddrs(list);
  std::vector<int32_t> shareStarts{progress.AreaCount()};
  for (size_t i = 0; i < recipients.size(); ++i) {
    AddSmtpProgressAreas(progress, texts, job, true);
    shareStarts.push_back(progress.AreaCount());
  }
  bool anySent = false;
  for (size_t i = 0; i < recipients.size(); ++i) {
    progress.MoveTo(shareStarts[i]);
    anySent |= SmtpSession(recipients[i], job);
  }
  progress.MoveTo(shareStarts.back());
  return anySent;
}

}  // namespace

bool SendMailOrUpload(MailJob& job) {
  WinsockScope winsock(MAKEWORD(1, 1));
  if (!winsock.ok()) return false;
  SendProgress progress(job.progress);
  const SendStepTexts texts = ReadSendStepTexts(job.settings);
  progress.Clear();
  progress.Area(texts.prepAtt, 100);
  bool sent = false;
  if (!job.httpAddress.empty()) {
    AddHttpProgressAreas(progress, texts, job);
    progress.Advance();
    sent = HttpUpload(job);
  } else {
    sent = SendMail(job, progress, texts);
  }
  progress.Close();
  return sent;
}

}  // namespace qx
