// One SMTP session: greeting, EHLO (HELO), STARTTLS and EHLO again when offered, AUTH LOGIN
// when an account is set, MAIL FROM, RCPT TO per recipient, the message with its MIME parts
// (or RSET when there is nothing to say), QUIT. Port 465 is TLS from the first byte.
#pragma once

#include <string>

#include "mail_job_win.h"
#include "send_progress_win.h"

namespace qx {

// Sends the job's message to `recipients` through the job's server, or (server empty) to
// the mail exchanger of the recipients' domain. Advances the progress window through the
// areas AddSmtpProgressAreas added.
bool SmtpSession(const std::string& recipients, MailJob& job);

// The session's areas: for direct delivery the mail-exchanger look-up, then connecting,
// authorisation, sending the mail, one area per non-empty attachment, the final step.
void AddSmtpProgressAreas(SendProgress& progress, const SendStepTexts& texts, const MailJob& job,
                          bool directDelivery);

}  // namespace qx
