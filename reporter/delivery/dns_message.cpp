#include "dns_message.h"

namespace qx {

namespace {

uint16_t Word(const uint8_t* at) { return static_cast<uint16_t>((at[0] << 8) | at[1]); }

void PutWord(std::string& out, uint16_t value) {
  out += static_cast<char>(value >> 8);
  out += static_cast<char>(value & 0xFF);
}

// Skips the question section; false when it runs past the message.
bool SkipQuestions(const uint8_t* message, size_t size, size_t count, size_t& at) {
  for (size_t i = 0; i < count; ++i) {
    std::string ignored;
    if (!ReadDnsName(message, size, at, ignored, at)) return false;
    if (size - at < 4) return false;
    at += 4;
  }
  return true;
}

// Reads `count` records, keeping the data names of those of `type`.
bool ReadRecords(const uint8_t* message, size_t size, size_t count, uint16_t type, size_t& at,
                 std::vector<std::string>& names) {
  for (size_t i = 0; i < count; ++i) {
    std::string owner;
    if (!ReadDnsName(message, size, at, owner, at)) return false;
    if (size - at < 10) return false;
    const uint16_t recordType = Word(message + at);
    const size_t dataLength = Word(message + at + 8);
    const size_t data = at + 10;
    if (size - data < dataLength) return false;
    const size_t skip = type == kDnsTypeMx ? 2 : 0;
    if (recordType == type && dataLength > skip) {
      // The name must start inside the record's data; pointers may lead anywhere earlier.
      std::string host;
      size_t end = 0;
      if (ReadDnsName(message, data + dataLength, data + skip, host, end) && !host.empty()) {
        names.push_back(host);
      }
    }
    at = data + dataLength;
  }
  return true;
}

}  // namespace

std::string BuildDnsQuery(const std::string& name, uint16_t type, uint16_t id) {
  std::string out;
  PutWord(out, id);
  out += '\x01';
  out += '\x00';
  PutWord(out, 1);
  PutWord(out, 0);
  PutWord(out, 0);
  PutWord(out, 0);
  std::string labels;
  size_t start = 0;
  std::string text = name;
  if (!text.empty() && text.back() == '.') text.pop_back();
  if (text.empty()) return std::string();
  for (;;) {
    const size_t dot = text.find('.', start);
    const size_t length = (dot == std::string::npos ? text.size() : dot) - start;
    if (length == 0 || length > 63) return std::string();
    labels += static_cast<char>(length);
    labels += text.substr(start, length);
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  labels += '\0';
  if (labels.size() > kDnsMaxName) return std::string();
  out += labels;
  PutWord(out, type);
  PutWord(out, 1);
  return out;
}

bool ReadDnsName(const uint8_t* message, size_t size, size_t offset, std::string& name,
                 size_t& next) {
  name.clear();
  size_t at = offset;
  size_t wire = 0;
  bool jumped = false;
  for (;;) {
    if (at >= size) return false;
    const uint8_t length = message[at];
    if (length == 0) {
      if (!jumped) next = at + 1;
      return wire + 1 <= kDnsMaxName;
    }
    if (length >= 192) {
      if (at + 1 >= size) return false;
      const size_t target = (static_cast<size_t>(length & 0x3F) << 8) | message[at + 1];
      if (target >= at) return false;  // only strictly backwards: no loop, nothing unread
      if (!jumped) next = at + 2;
      jumped = true;
      at = target;
      continue;
    }
    if (length > 63) return false;  // the reserved label kinds
    if (size - at - 1 < length) return false;
    wire += 1 + length;
    if (wire + 1 > kDnsMaxName) return false;
    if (!name.empty()) name += '.';
    name.append(reinterpret_cast<const char*>(message + at + 1), length);
    at += 1 + length;
  }
}

DnsReplyCheck ParseDnsReply(const uint8_t* message, size_t size, uint16_t id, uint16_t type,
                            DnsReply& reply) {
  reply = DnsReply();
  if (size < 12) return DnsReplyCheck::kMalformed;
  if (Word(message) != id || (message[2] & 0x80) == 0 || (message[3] & 0x0F) != 0) {
    return DnsReplyCheck::kNotOurs;
  }
  size_t at = 12;
  if (!SkipQuestions(message, size, Word(message + 4), at)) return DnsReplyCheck::kMalformed;
  if (!ReadRecords(message, size, Word(message + 6), type, at, reply.answers)) {
    return DnsReplyCheck::kMalformed;
  }
  if (type == kDnsTypeNs &&
      !ReadRecords(message, size, Word(message + 8), kDnsTypeNs, at, reply.authority)) {
    return DnsReplyCheck::kMalformed;
  }
  return DnsReplyCheck::kParsed;
}

std::string MailDomain(const std::string& address) {
  const size_t at = address.find('@');
  std::string domain = at == std::string::npos ? address : address.substr(at + 1);
  if (!domain.empty() && domain.back() == '>') domain.pop_back();
  return domain;
}

std::string ParentDomain(const std::string& domain) {
  size_t dots = 0;
  for (size_t i = domain.size(); i > 0; --i) {
    if (domain[i - 1] == '.' && ++dots == 3) return domain.substr(i);
  }
  return domain;
}

}  // namespace qx
