#include "mime_parts.h"

#include "mail_headers.h"

namespace qx {

namespace {

// The longest line a mail may carry, without its CR LF (RFC 5321), and the longest encoded
// line of quoted-printable (RFC 2045).
constexpr size_t kMaxMailLine = 998;
constexpr size_t kQuotedLine = 76;

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

bool BodyNeedsLineBreaks(const std::string& body) {
  size_t length = 0;
  for (char c : body) {
    length = c == '\r' || c == '\n' ? 0 : length + 1;
    if (length > kMaxMailLine) return true;
  }
  return false;
}

std::string MailBodyQuotedPrintable(const std::string& body) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(body.size() + body.size() / 8 + 2);
  size_t lineLength = 0;  // of the encoded line being written
  auto put = [&](const std::string& piece) {
    // A piece never splits: a soft break comes before it when the line would pass 75.
    if (lineLength + piece.size() > kQuotedLine - 1) {
      out += "=\r\n";
      lineLength = 0;
    }
    out += piece;
    lineLength += piece.size();
  };
  auto encoded = [&](unsigned char c) {
    return std::string{'=', kHex[c >> 4], kHex[c & 15]};
  };
  for (size_t i = 0; i < body.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(body[i]);
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < body.size() && body[i + 1] == '\n') ++i;
      out += "\r\n";
      lineLength = 0;
      continue;
    }
    const bool beforeBreak =
        i + 1 == body.size() || body[i + 1] == '\r' || body[i + 1] == '\n';
    const bool plain = (c >= 33 && c <= 126 && c != '=') ||
                       ((c == ' ' || c == '\t') && !beforeBreak);
    std::string piece = plain ? std::string(1, static_cast<char>(c)) : encoded(c);
    // A soft break may put this piece first on a line: a "." there is encoded too.
    if (c == '.' && (lineLength == 0 || lineLength + 1 > kQuotedLine - 1)) piece = encoded(c);
    put(piece);
  }
  return out;
}

std::string MimeIntro(bool quotedPrintable) {
  const std::string boundary = kMultipartBoundary;
  return "MIME-Version: 1.0\r\n"
         "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n"
         "This is a multi-part message in MIME format.\r\n\r\n"
         "--" + boundary + "\r\n"
         "Content-Type: text/plain; charset=\"iso-8859-1\"\r\n"
         "Content-Transfer-Encoding: " + (quotedPrintable ? "quoted-printable" : "8bit") +
         "\r\n\r\n";
}

std::string QuotedPrintableTextHead() {
  return "MIME-Version: 1.0\r\n"
         "Content-Type: text/plain; charset=\"iso-8859-1\"\r\n"
         "Content-Transfer-Encoding: quoted-printable\r\n";
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
