// The texts of a mail's header block: values made safe for one header line, the encoded
// subject, the date and the message id.
#pragma once

#include <cstdint>
#include <string>

namespace qx {

// A value as one header or command line may carry it: every control character (below 32,
// tab excepted) becomes a space, so CR and LF in a recipient, sender, subject or name can
// never end the line and start a header or command of their own.
std::string HeaderSafe(const std::string& value);

// `value` enclosed in double quotes for a MIME or form-data parameter: made HeaderSafe,
// with '"' and '\' escaped by a backslash.
std::string QuotedParameter(const std::string& value);

// RFC 2047 encoded words: ISO-8859-1 in the Q form (every byte that is not a digit or an
// ASCII letter as "=XX"), or UTF-8 text in the B form. A subject too long for one word of
// 75 characters becomes several, separated by a fold (CR LF and a space); a line break in
// the subject is encoded like any other byte.
std::string EncodedSubjectLatin1(const std::string& subject);
std::string EncodedSubjectUtf8(const std::string& utf8Subject);

// ISO-8859-1 text as UTF-8 (for tests and platforms without a code page).
std::string Latin1ToUtf8(const std::string& text);

struct UtcTime {
  int year, month, day, hour, minute, second;  // month 1..12
};

// "7 Dec 2026 22:10:05 UT": no weekday, day without a leading zero.
std::string SmtpDateText(const UtcTime& time);

// "<" + 16 lower-case hexadecimal digits of the file time + "@qelExcept>".
std::string MessageIdText(uint64_t fileTime);

struct MailHeaderValues {
  std::string recipients;  // normalised list
  std::string sender;
  std::string encodedSubject;  // from EncodedSubjectLatin1 or EncodedSubjectUtf8, written as is
  std::string date;
  std::string messageId;
};

// To, From, Subject, Date and Message-ID lines, each ending with CR LF.
std::string MailHeaderBlock(const MailHeaderValues& values);

}  // namespace qx
