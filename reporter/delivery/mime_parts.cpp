#include "mime_parts.h"

#include "mail_headers.h"

namespace qx {

namespace {

void AppendLine(std::string& out, const std::string& line) {
  if (!line.empty() && line[0] == '.') out += '.';
  out += line;
}

}  // namespace

std::string MailBodyText(const std::string& body) {
  std::string out;
  out.reserve(body.size() + body.size() / 32 + 2);
  std::string line;
  for (size_t i = 0; i < body.size(); ++i) {
    const char c = body[i];
    if (c != '\r' && c != '\n') {
      line += c;
      continue;
    }
    if (c == '\r' && i + 1 < body.size() && body[i + 1] == '\n') ++i;
    AppendLine(out, line);
    out += "\r\n";
    line.clear();
  }
  AppendLine(out, line);
  return out;
}

std::string MimeIntro() {
  const std::string boundary = kMultipartBoundary;
  return "MIME-Version: 1.0\r\n"
         "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n"
         "This is a multi-part message in MIME format.\r\n\r\n"
         "--" + boundary + "\r\n"
         "Content-Type: text/plain; charset=\"iso-8859-1\"\r\n"
         "Content-Transfer-Encoding: 8bit\r\n\r\n";
}

std::string MimeContentType(const std::string& path) {
  const size_t n = path.size();
  if (n >= 4 && path[n - 4] == '.' && (path[n - 3] | 0x20) == 'p' && (path[n - 2] | 0x20) == 'n' &&
      (path[n - 1] | 0x20) == 'g') {
    return "image/png";
  }
  return "application/octet-stream";
}

std::string MimeAttachmentHead(const std::string& path, const std::string& sendAs) {
  const std::string name = QuotedParameter(sendAs);
  return std::string("--") + kMultipartBoundary + "\r\n" +
         "Content-Type: " + MimeContentType(path) + "; name=" + name + "\r\n" +
         "Content-Transfer-Encoding: base64\r\n" +
         "Content-Disposition: attachment; filename=" + name + "\r\n\r\n";
}

std::string MimeClosing() { return std::string("--") + kMultipartBoundary + "--\r\n"; }

}  // namespace qx
