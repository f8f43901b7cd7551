#include "http_request.h"

#include "base64.h"
#include "mail_addresses.h"
#include "mail_headers.h"
#include "mime_parts.h"

namespace qx {

HostPort SplitHostPort(const std::string& text) {
  HostPort result{text, 0};
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon + 1 >= text.size() || text.size() - colon > 6) {
    return result;
  }
  uint32_t port = 0;
  for (size_t i = colon + 1; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return result;
    port = port * 10 + static_cast<uint32_t>(text[i] - '0');
  }
  if (port == 0 || port > 65535) return result;
  result.name = text.substr(0, colon);
  result.port = static_cast<uint16_t>(port);
  return result;
}

HttpAddress SplitHttpAddress(const std::string& address) {
  std::string rest = address;
  const size_t scheme = rest.find("://");
  if (scheme != std::string::npos) rest = rest.substr(scheme + 3);
  HttpAddress result;
  const size_t slash = rest.find('/');
  result.host = SplitHostPort(rest.substr(0, slash));
  result.path = slash == std::string::npos ? "/" : rest.substr(slash);
  return result;
}

std::string ReducedProxyText(const std::string& proxy) {
  std::string text = proxy;
  const size_t scheme = text.find("://");
  if (scheme != std::string::npos) text = text.substr(scheme + 3);
  const size_t http = text.find("http=");
  if (http != std::string::npos) {
    text = text.substr(http + 5);
    const size_t end = text.find_first_of(" ;");
    if (end != std::string::npos) text = text.substr(0, end);
    const size_t inner = text.find("://");
    if (inner != std::string::npos) text = text.substr(inner + 3);
  }
  const size_t slash = text.find('/');
  if (slash != std::string::npos) text = text.substr(0, slash);
  return text;
}

std::string FormFieldBlock(const std::vector<FormField>& fields) {
  std::string out;
  for (const FormField& field : fields) {
    out += std::string("\r\n--") + kMultipartBoundary + "\r\n";
    out += "Content-Disposition: form-data; name=" + QuotedParameter(field.name) + "\r\n\r\n";
    out += field.value;
  }
  return out;
}

std::string FormFilePartHead(const FormFile& file) {
  return std::string("\r\n--") + kMultipartBoundary + "\r\n" +
         "Content-Disposition: form-data; name=" + QuotedParameter(file.fieldName) +
         "; filename=" + QuotedParameter(file.sendAs) + "\r\n" +
         "Content-Type: application/octet-stream\r\n\r\n";
}

std::string FormClosing() { return std::string("\r\n--") + kMultipartBoundary + "--\r\n"; }

uint64_t FormContentLength(const std::string& fieldBlock, const std::vector<FormFile>& files) {
  uint64_t length = fieldBlock.size();
  for (const FormFile& file : files) {
    if (file.size > 0) length += FormFilePartHead(file).size() + file.size;
  }
  length += FormClosing().size();
  return length - 2;
}

std::string HttpRequestHeadText(const HttpRequestHead& head) {
  // A space would end the request target early: it is sent escaped.
  std::string target;
  for (char c : HeaderSafe(head.target)) target += c == ' ' ? std::string("%20") : std::string(1, c);
  std::string out = "POST " + target + " HTTP/1.1\r\n";
  out += "Host: " + HeaderSafe(head.hostHeader) + "\r\n";
  out += "Connection: close\r\n";
  out += "Pragma: no-cache\r\n";
  out += "User-Agent: qelExcept/3.0\r\n";
  out += std::string("Content-Type: multipart/form-data; boundary=") + kMultipartBoundary + "\r\n";
  out += "Content-Length: " + std::to_string(head.contentLength) + "\r\n";
  if (!head.from.empty()) out += "From: " + HeaderSafe(MailAddrText(head.from, false)) + "\r\n";
  if (!head.account.empty() || !head.password.empty()) {
    out += "Authorization: Basic " + Base64(head.account + ":" + head.password) + "\r\n";
  }
  return out;
}

}  // namespace qx
