// libFuzzer target over what peers send us and what we write from settings texts: DNS
// replies (and names at every offset), SMTP replies cut into pieces, HTTP replies, and the
// body and header rules. The first byte picks the reader; the rest is the input.
#include <cstddef>
#include <cstdint>
#include <string>

#include "dns_message.h"
#include "http_reply.h"
#include "mail_headers.h"
#include "mime_parts.h"
#include "smtp_reply_reader.h"

namespace {

void DnsReply(const uint8_t* data, size_t size) {
  const uint16_t id = size >= 2 ? static_cast<uint16_t>((data[0] << 8) | data[1]) : 1;
  for (uint16_t type : {qx::kDnsTypeMx, qx::kDnsTypeNs}) {
    qx::DnsReply reply;
    qx::ParseDnsReply(data, size, id, type, reply);
    for (const std::string& name : reply.answers) {
      if (name.empty() || name.size() > qx::kDnsMaxName) __builtin_trap();
    }
  }
  for (size_t offset = 0; offset < size && offset < 600; ++offset) {
    std::string name;
    size_t next = 0;
    if (qx::ReadDnsName(data, size, offset, name, next) && (next > size || name.size() >= qx::kDnsMaxName)) {
      __builtin_trap();
    }
  }
}

void SmtpReply(const uint8_t* data, size_t size) {
  if (size < 2) return;
  // The first byte cuts the rest into pieces of that many bytes (at least one).
  const size_t piece = data[0] % 64 + 1;
  qx::SmtpReplyReader reader("250", data[1] & 1);
  for (size_t at = 2; at < size && reader.state() == qx::SmtpReplyReader::State::kNeedMore; at += piece) {
    const size_t n = size - at < piece ? size - at : piece;
    reader.Feed(reinterpret_cast<const char*>(data + at), n);
  }
}

void HttpReply(const uint8_t* data, size_t size) {
  const qx::HttpVerdict verdict = qx::JudgeHttpReply(std::string(reinterpret_cast<const char*>(data), size));
  if (!verdict.location.empty() &&
      (verdict.kind != qx::HttpVerdict::Kind::kSuccess || verdict.location.find_first_of("\r\n") != std::string::npos)) {
    __builtin_trap();
  }
}

void Texts(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (qx::HeaderSafe(text).find_first_of("\r\n") != std::string::npos) __builtin_trap();
  // Between the header's line break and the final "CR LF . CR LF" no end of data may appear.
  const std::string sent = "\r\n" + qx::MailBodyText(text) + "\r\n.\r\n";
  if (sent.find("\r\n.\r\n") != sent.size() - 5) __builtin_trap();
  const std::string body = qx::MailBodyText(text);
  for (size_t i = 0; i < body.size(); ++i) {
    const bool lf = body[i] == '\n', cr = body[i] == '\r';
    if (lf && (i == 0 || body[i - 1] != '\r')) __builtin_trap();
    if (cr && (i + 1 >= body.size() || body[i + 1] != '\n')) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  switch (data[0] % 4) {
    case 0: DnsReply(data + 1, size - 1); break;
    case 1: SmtpReply(data + 1, size - 1); break;
    case 2: HttpReply(data + 1, size - 1); break;
    default: Texts(data + 1, size - 1); break;
  }
  return 0;
}
