#include "socket_win.h"

#include "smtp_session_win.h"

#include <vector>

#include "attachment_file_win.h"
#include "base64.h"
#include "dns_resolver_win.h"
#include "mail_addresses.h"
#include "mail_headers.h"
#include "mime_parts.h"
#include "network_switches.h"
#include "smtp_reply_reader.h"
#include "tls_stream_win.h"

namespace qx {

namespace {

constexpr uint32_t kConnectTimeoutMs = 15000;
constexpr size_t kReceivePiece = 1024;
// The submission port whose sessions are in TLS from the first byte on.
constexpr uint16_t kImplicitTlsPort = 465;

// What an EHLO reply offers.
struct EhloOffer {
  bool authLogin = false;
  bool startTls = false;
};

class SmtpDialogue {
 public:
  explicit SmtpDialogue(ConnectionStream& stream) : stream_(stream) {}

  bool Send(const std::string& text) { return stream_.Send(text); }
  bool Command(const std::string& text) { return Send(text + "\r\n"); }

  // Reads one reply; true when it begins with `code`. Every reply is read from the bytes
  // received after the command, so nothing sent before STARTTLS's reply outlives it.
  bool Expect(const char* code, EhloOffer* offer = nullptr) {
    SmtpReplyReader reader(code, offer != nullptr);
    char buffer[kReceivePiece];
    while (reader.state() == SmtpReplyReader::State::kNeedMore) {
      const int received = stream_.Receive(buffer, sizeof buffer, NetworkSeamsOf().smtpReplyTimeoutMs);
      if (received <= 0) return false;
      reader.Feed(buffer, static_cast<size_t>(received));
    }
    if (offer != nullptr) *offer = {reader.authLoginOffered(), reader.startTlsOffered()};
    return reader.state() == SmtpReplyReader::State::kSuccess;
  }

  bool Exchange(const std::string& command, const char* code) { return Command(command) && Expect(code); }

 private:
  ConnectionStream& stream_;
};

std::string ComputerName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = sizeof name;
  if (!GetComputerNameA(name, &size)) return "localhost";
  return HeaderSafe(std::string(name, size));
}

std::string AnsiToUtf8(const std::string& text) {
  if (text.empty()) return text;
  const int wide = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (wide <= 0) return Latin1ToUtf8(text);
  std::wstring buffer(static_cast<size_t>(wide), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &buffer[0], wide);
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, buffer.data(), wide, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
  if (bytes > 0) WideCharToMultiByte(CP_UTF8, 0, buffer.data(), wide, &out[0], bytes, nullptr, nullptr);
  return out;
}

std::string HeaderDate() {
  SYSTEMTIME now;
  GetSystemTime(&now);
  return SmtpDateText({now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond});
}

std::string HeaderMessageId() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return MessageIdText((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
}

// One base64 part; a missing or empty file sends nothing and counts as sent.
bool SendAttachmentPart(SmtpDialogue& dialogue, SendProgress& progress, const std::string& path,
                        const std::string& sendAs) {
  AttachmentFile file;
  if (!file.Open(path) || file.size() == 0) return true;
  progress.Advance();
  if (!dialogue.Send(MimeAttachmentHead(path, sendAs))) return false;
  uint8_t chunk[kBase64LineBytes * 288];  // 288 lines (16 KB) per read
  uint64_t done = 0;
  while (done < file.size()) {
    const uint64_t left = file.size() - done;
    const size_t count = left < sizeof chunk ? static_cast<size_t>(left) : sizeof chunk;
    if (!file.Read(chunk, count)) {
      if (done > 0) dialogue.Send("\r\n");
      return false;
    }
    if (!dialogue.Send(Base64Lines(chunk, count))) return false;
    done += count;
    progress.Fraction(done, file.size());
  }
  return true;
}

bool SendMessageData(SmtpDialogue& dialogue, SendProgress& progress, const MailJob& job,
                     const std::string& recipients, const std::string& sender) {
  const NetworkSwitches& switches = NetworkSwitchesOf();
  const std::string subject = switches.utf8Subject ? EncodedSubjectUtf8(AnsiToUtf8(job.subject))
                                                   : EncodedSubjectLatin1(job.subject);
  if (!dialogue.Exchange("DATA", "354")) return false;
  progress.Advance();
  std::string head = MailHeaderBlock({recipients, sender, subject, HeaderDate(), HeaderMessageId()});
  // A line longer than a mail line may be would be cut or refused by a server on the way.
  const bool quoted = BodyNeedsLineBreaks(job.body);
  const std::string body = quoted ? MailBodyQuotedPrintable(job.body) : MailBodyText(job.body);
  bool anyAttachment = false;
  for (const std::string& path : job.filePaths) anyAttachment |= AttachmentSize(path) > 0;
  if (!anyAttachment) {
    if (!dialogue.Send(head + (quoted ? QuotedPrintableTextHead() : "") + "\r\n" + body))
      return false;
    progress.Advance();
  } else {
    if (!dialogue.Send(head + MimeIntro(quoted) + body + "\r\n")) return false;
    progress.Advance();
    for (size_t i = 0; i < job.filePaths.size(); ++i) {
      const std::string sendAs = i < job.sendAsNames.size() ? job.sendAsNames[i] : std::string();
      if (!SendAttachmentPart(dialogue, progress, job.filePaths[i], sendAs)) return false;
    }
    if (!dialogue.Send(MimeClosing())) return false;
  }
  progress.Advance();
  if (!dialogue.Send("\r\n.\r\n") || !dialogue.Expect("250")) return false;
  progress.Advance();
  return true;
}

// From MAIL FROM to the end of the data (or RSET); QUIT is the caller's.
bool SendMail(SmtpDialogue& dialogue, SendProgress& progress, const MailJob& job,
              const std::string& recipients, const std::string& sender) {
  const NetworkSwitches& switches = NetworkSwitchesOf();
  progress.Advance();
  const std::string from = !switches.fixedMailFrom.empty() ? switches.fixedMailFrom
                                                            : MailAddrText(sender, false);
  if (!dialogue.Exchange("MAIL FROM:" + HeaderSafe(from), "250")) return false;
  progress.Advance();
  std::string list = recipients;
  CountMailAddrs(list);
  int accepted = 0;
  for (const std::string& element : SplitMailAddrs(list)) {
    if (dialogue.Exchange("RCPT TO:" + HeaderSafe(MailAddrText(element, false)), "250")) ++accepted;
  }
  if (accepted == 0) return false;
  progress.Advance();
  if (job.subject.empty() && job.body.empty()) return dialogue.Exchange("RSET", "250");
  return SendMessageData(dialogue, progress, job, list, sender);
}

// EHLO, or HELO when EHLO is refused (which offers nothing).
bool Greet(SmtpDialogue& dialogue, const std::string& host, EhloOffer& offer) {
  offer = EhloOffer();
  if (dialogue.Command("EHLO " + host) && dialogue.Expect("250", &offer)) return true;
  offer = EhloOffer();
  return dialogue.Exchange("HELO " + host, "250");
}

bool Authorise(SmtpDialogue& dialogue, const MailJob& job, bool authLogin) {
  if (job.account.empty() && job.password.empty()) return true;
  return authLogin && dialogue.Exchange("AUTH LOGIN", "334") &&
         dialogue.Exchange(Base64(job.account), "334") && dialogue.Exchange(Base64(job.password), "235");
}

}  // namespace

void AddSmtpProgressAreas(SendProgress& progress, const SendStepTexts& texts, const MailJob& job,
                          bool directDelivery) {
  if (directDelivery) progress.Area(texts.mxLook, 500);
  progress.Area(texts.conn, 100);
  progress.Step(100);
  progress.Step(200);
  progress.Area(texts.auth, 200);
  progress.Area(texts.sendMail, 100);
  for (int i = 0; i < 4; ++i) progress.Step(100);
  for (const std::string& path : job.filePaths) {
    const uint64_t size = AttachmentSize(path);
    if (size > 0) progress.Area(texts.sendAtt, (size + 56) / 57 * 3);
  }
  progress.Area(texts.sendFinal, 500);
  progress.Step(100);
}

bool SmtpSession(const std::string& recipients, MailJob& job) {
  SendProgress progress(job.progress);
  std::string server = job.server;
  if (server.empty()) {
    server = FindMailExchanger(recipients);
    progress.Advance();
  }
  in_addr address;
  SocketHandle s;
  if (!ResolveIpv4(server, address)) return false;
  progress.Advance();
  if (!ConnectTcp(s, address, job.port, kConnectTimeoutMs)) return false;
  progress.Advance();
  ConnectionStream stream(s.get());
  const uint32_t timeoutMs = NetworkSeamsOf().smtpReplyTimeoutMs;
  if (job.port == kImplicitTlsPort && !stream.StartTls(server, timeoutMs)) return false;
  SmtpDialogue dialogue(stream);
  if (!dialogue.Expect("220")) return false;
  EhloOffer offer;
  const std::string host = ComputerName();
  if (!Greet(dialogue, host, offer)) return false;
  // Once STARTTLS is offered the session goes on encrypted or not at all: the account
  // never crosses in clear text to a server that could have protected it.
  if (offer.startTls && !stream.encrypted() &&
      !(dialogue.Exchange("STARTTLS", "220") && stream.StartTls(server, timeoutMs) &&
        Greet(dialogue, host, offer))) {
    return false;
  }
  progress.Advance();
  const std::string sender = job.sender.empty() ? recipients : job.sender;
  const bool sent = Authorise(dialogue, job, offer.authLogin) && SendMail(dialogue, progress, job, recipients, sender);
  const bool quit = dialogue.Exchange("QUIT", "221");
  return sent && quit;
}

}  // namespace qx
