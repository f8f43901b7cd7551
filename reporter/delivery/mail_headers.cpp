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

namespace {

// Encoded words are at most 75 characters; longer subjects become several, each on a
// folded line of its own, so that no header line grows past what servers accept.
constexpr size_t kMaxEncodedWord = 75;

void AppendWord(std::string& out, const std::string& word) {
  if (!out.empty()) out += "\r\n ";
  out += word;
}

}  // namespace

std::string EncodedSubjectLatin1(const std::string& subject) {
  static const char kHex[] = "0123456789ABCDEF";
  const std::string open = "=?ISO-8859-1?Q?", close = "?=";
  const size_t room = kMaxEncodedWord - open.size() - close.size();
  std::string out, word;
  for (char c : subject) {
    const auto u = static_cast<unsigned char>(c);
    std::string piece(1, c);
    if (!((u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z'))) {
      piece = std::string{'=', kHex[u >> 4], kHex[u & 15]};
    }
    if (word.size() + piece.size() > room) {
      AppendWord(out, open + word + close);
      word.clear();
    }
    word += piece;
  }
  AppendWord(out, open + word + close);
  return out;
}

std::string EncodedSubjectUtf8(const std::string& utf8Subject) {
  const std::string open = "=?UTF-8?B?", close = "?=";
  const size_t roomBytes = (kMaxEncodedWord - open.size() - close.size()) / 4 * 3;
  std::string out;
  size_t at = 0;
  do {
    size_t end = at + roomBytes < utf8Subject.size() ? at + roomBytes : utf8Subject.size();
    // A word ends on a whole character: never between a lead byte and its continuations.
    while (end > at && end < utf8Subject.size() &&
           (static_cast<unsigned char>(utf8Subject[end]) & 0xC0) == 0x80) {
      --end;
    }
    if (end == at) end = at + roomBytes < utf8Subject.size() ? at + roomBytes : utf8Subject.size();
    AppendWord(out, open + Base64(utf8Subject.data() + at, end - at) + close);
    at = end;
  } while (at < utf8Subject.size());
  return out;
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
  out += "Subject: " + values.encodedSubject + "\r\n";  // encoded words and folds only
  out += "Date: " + HeaderSafe(values.date) + "\r\n";
  out += "Message-ID: " + HeaderSafe(values.messageId) + "\r\n";
  return out;
}

}  // namespace qx
