// The HTTP upload: the report's fields and files as one multipart/form-data POST, directly or
// through the proxy, judged by the reply's status. An "https://" address sends it over TLS
// (through a proxy's CONNECT tunnel when there is a proxy).
#pragma once

#include <string>

#include "mail_job_win.h"
#include "send_progress_win.h"

namespace qx {

bool HttpUpload(MailJob& job);

// Whether the upload address asks for TLS ("https://", in any case).
bool IsHttpsAddress(const std::string& address);

// Connecting, the field block, one area per non-empty attachment, the final step.
void AddHttpProgressAreas(SendProgress& progress, const SendStepTexts& texts, MailJob& job);

// The proxy the upload goes through, reduced to "host[:port]"; empty for none.
std::string UploadProxy();

}  // namespace qx
