#include "mail_headers.h"

#include <cstdio>

#include "base64.h"
#include "mail_addresses.h"

namespace qx {

std::string HeaderSafe(const std::string& value) {
  std::string out = value;
  for (char& c : out) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 32 && c != '\t') c = ' ';
  }
  return out;
}

std::string QuotedParameter(const std::string& value) {
  std::string out = "\"";
  for (char c : HeaderSafe(value)) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

std::string EncodedSubjectLatin1(const std::string& subject) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out = "=?ISO-8859-1?Q?";
  for (char c : subject) {
    const auto u = static_cast<unsigned char>(c);
    if ((u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z')) {
      out += c;
    } else {
      out += '=';
      out += kHex[u >> 4];
      out += kHex[u & 15];
    }
  }
  out += "?=";
  return out;
}

std::string EncodedSubjectUtf8(const std::string& utf8Subject) {
  return "=?UTF-8?B?" + Base64(utf8Subject) + "?=";
}

std::string Latin1ToUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (u >> 6));
      out += static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  return out;
}

std::string SmtpDateText(const UtcTime& time) {
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const int month = time.month >= 1 && time.month <= 12 ? time.month : 1;
  char text[64];
  std::snprintf(text, sizeof text, "%d %s %04d %02d:%02d:%02d UT", time.day, kMonths[month - 1],
                time.year, time.hour, time.minute, time.second);
  return text;
}

std::string MessageIdText(uint64_t fileTime) {
  char text[40];
  std::snprintf(text, sizeof text, "<%08x%08x@qelExcept>", static_cast<unsigned>(fileTime >> 32),
                static_cast<unsigned>(fileTime));
  return text;
}

std::string MailHeaderBlock(const MailHeaderValues& values) {
  std::string out;
  out += "To: " + HeaderSafe(MailAddrText(values.recipients, true)) + "\r\n";
  out += "From: " + HeaderSafe(MailAddrText(values.sender, true)) + "\r\n";
  out += "Subject: " + HeaderSafe(values.encodedSubject) + "\r\n";
  out += "Date: " + HeaderSafe(values.date) + "\r\n";
  out += "Message-ID: " + HeaderSafe(values.messageId) + "\r\n";
  return out;
}

}  // namespace qx
