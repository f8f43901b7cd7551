// The HTTP upload: the report's fields and files as one multipart/form-data POST, directly or
// through the proxy, judged by the reply's status.
#pragma once

#include <string>

#include "mail_job_win.h"
#include "send_progress_win.h"

namespace qx {

bool HttpUpload(MailJob& job);

// Connecting, the field block, one area per non-empty attachment, the final step.
void AddHttpProgressAreas(SendProgress& progress, const SendStepTexts& texts, MailJob& job);

// The proxy the upload goes through, reduced to "host[:port]"; empty for none.
std::string UploadProxy();

}  // namespace qx
