// The portable message code of the network channels: base64, the mail header texts, the
// body's dot rule, the MIME and form-data frames with their exact length, the SMTP reply
// reader, the HTTP reply rules, DNS requests and replies, the ICMP echo and the recipient
// lists.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base64.h"
#include "dns_message.h"
#include "http_reply.h"
#include "http_request.h"
#include "icmp_echo.h"
#include "mail_addresses.h"
#include "text_lines.h"
#include "mail_headers.h"
#include "mime_parts.h"
#include "smtp_reply_reader.h"

namespace qx {
namespace {

const std::string kB = kMultipartBoundary;

TEST(Base64Test, KnownVectorsAndMailLines) {
  EXPECT_EQ(Base64(""), "");
  EXPECT_EQ(Base64("f"), "Zg==");
  EXPECT_EQ(Base64("fo"), "Zm8=");
  EXPECT_EQ(Base64("foo"), "Zm9v");
  EXPECT_EQ(Base64("foobar"), "Zm9vYmFy");
  EXPECT_EQ(Base64(std::string("\xff\xfe\x00", 3)), "//4A");
  std::string data(57 * 2 + 1, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  const std::string lines = Base64Lines(data.data(), data.size());
  // Two full 76-character lines and one of 4 characters, each with CR LF.
  ASSERT_EQ(lines.size(), 78u * 2 + 6);
  EXPECT_EQ(lines.substr(76, 2), "\r\n");
  EXPECT_EQ(lines.substr(154, 2), "\r\n");
  EXPECT_EQ(lines.substr(156), Base64(data.data() + 114, 1) + "\r\n");
  EXPECT_EQ(Base64Lines("", 0), "");
}

TEST(MailHeadersTest, SubjectEncodings) {
  EXPECT_EQ(EncodedSubjectLatin1("Bug in Ab1"), "=?ISO-8859-1?Q?Bug=20in=20Ab1?=");
  EXPECT_EQ(EncodedSubjectLatin1("\xe4-_.="), "=?ISO-8859-1?Q?=E4=2D=5F=2E=3D?=");
  EXPECT_EQ(EncodedSubjectLatin1("a\r\nBcc: x"), "=?ISO-8859-1?Q?a=0D=0ABcc=3A=20x?=");
  EXPECT_EQ(EncodedSubjectUtf8(Latin1ToUtf8("\xe4")), "=?UTF-8?B?w6Q=?=");
  EXPECT_EQ(Latin1ToUtf8("a\xff"), "a\xc3\xbf");
  EXPECT_EQ(EncodedSubjectLatin1(""), "=?ISO-8859-1?Q??=");
  EXPECT_EQ(EncodedSubjectUtf8(""), "=?UTF-8?B??=");
}

// Long subjects: words of at most 75 characters on folded lines, "=XX" and UTF-8
// characters never cut.
TEST(MailHeadersTest, LongSubjectsBecomeSeveralWords) {
  const std::string latin = std::string(57, 'a') + "\xe4" + std::string(10, 'b');
  EXPECT_EQ(EncodedSubjectLatin1(latin),
            "=?ISO-8859-1?Q?" + std::string(57, 'a') + "?=\r\n =?ISO-8859-1?Q?=E4" + std::string(10, 'b') + "?=");
  std::string utf8;
  for (int i = 0; i < 40; ++i) utf8 += "\xc3\xa4";  // 80 bytes of two-byte characters
  const std::string encoded = EncodedSubjectUtf8(utf8);
  size_t start = 0;
  std::string decodedLengths;
  for (;;) {
    const size_t fold = encoded.find("\r\n ", start);
    const std::string word = encoded.substr(start, fold == std::string::npos ? std::string::npos : fold - start);
    EXPECT_LE(word.size(), 75u) << word;
    EXPECT_EQ(word.compare(0, 10, "=?UTF-8?B?"), 0) << word;
    if (fold == std::string::npos) break;
    start = fold + 3;
  }
  // 63 characters of room hold 45 bytes; 45 would cut a character, so the first word has 44.
  EXPECT_EQ(encoded, "=?UTF-8?B?" + Base64(utf8.substr(0, 44)) + "?=\r\n =?UTF-8?B?" + Base64(utf8.substr(44)) + "?=");
}

TEST(MailHeadersTest, DateAndMessageId) {
  EXPECT_EQ(SmtpDateText({2026, 12, 7, 22, 10, 5}), "7 Dec 2026 22:10:05 UT");
  EXPECT_EQ(SmtpDateText({2027, 1, 31, 0, 0, 0}), "31 Jan 2027 00:00:00 UT");
  EXPECT_EQ(MessageIdText(0x01DB12345678ABCDull), "<01db12345678abcd@qelExcept>");
  EXPECT_EQ(MessageIdText(0), "<0000000000000000@qelExcept>");
}

// CR or LF in a value never ends a header line: it becomes a space.
TEST(MailHeadersTest, HeaderValuesCannotStartLinesOfTheirOwn) {
  EXPECT_EQ(HeaderSafe("a@b.c\r\nBcc: evil@x.y"), "a@b.c  Bcc: evil@x.y");
  EXPECT_EQ(HeaderSafe(std::string("a\0b\tc\x1f", 6)), "a b\tc ");
  EXPECT_EQ(QuotedParameter("re\"port\\.txt\n"), "\"re\\\"port\\\\.txt \"");
  const std::string block = MailHeaderBlock(
      {"a@b.c\r\nBcc: evil@x.y", "Me <me@x.y>\n", EncodedSubjectLatin1("s"), "d", "<i@qelExcept>"});
  EXPECT_EQ(block,
            "To: <a@b.c  Bcc: evil@x.y>\r\nFrom: Me <me@x.y> \r\n"
            "Subject: =?ISO-8859-1?Q?s?=\r\nDate: d\r\nMessage-ID: <i@qelExcept>\r\n");
}

TEST(MimePartsTest, DotRuleAndLineBreaks) {
  EXPECT_EQ(MailBodyText("a\r\n.\r\nb"), "a\r\n..\r\nb");
  EXPECT_EQ(MailBodyText(".\r\n.\r\n."), "..\r\n..\r\n..");  // overlapping and at both ends
  EXPECT_EQ(MailBodyText(".x\r\n..\r\ny."), "..x\r\n...\r\ny.");
  EXPECT_EQ(MailBodyText(". \r\n"), ".. \r\n");
  EXPECT_EQ(MailBodyText("a\n.\nb\rc"), "a\r\n..\r\nb\r\nc");  // lone LF and CR
  EXPECT_EQ(MailBodyText(""), "");
  EXPECT_EQ(MailBodyText("x\r\n"), "x\r\n");
}

// A quoted-printable decoder as RFC 2045 describes it, for the round trip below.
std::string DecodeQuotedPrintable(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '=') {
      out += text[i];
    } else if (text.compare(i + 1, 2, "\r\n") == 0) {
      i += 2;
    } else {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    }
  }
  return out;
}

TEST(MimePartsTest, LongLinesGoQuotedPrintable) {
  EXPECT_FALSE(BodyNeedsLineBreaks(std::string(998, 'x') + "\r\n" + std::string(998, 'y')));
  EXPECT_TRUE(BodyNeedsLineBreaks("a\n" + std::string(999, 'x')));
  EXPECT_EQ(MailBodyQuotedPrintable("a=b\xe4 \r\n.x\tz\t\nend "),
            "a=3Db=E4=20\r\n=2Ex\tz=09\r\nend=20");
  EXPECT_EQ(MailBodyQuotedPrintable(std::string(80, 'x')),
            std::string(75, 'x') + "=\r\n" + std::string(5, 'x'));
  // An encoded character never splits at a soft break, and a "." that a soft break puts
  // first on a line is encoded.
  EXPECT_EQ(MailBodyQuotedPrintable(std::string(74, 'x') + "=y"),
            std::string(74, 'x') + "=\r\n=3Dy");
  EXPECT_EQ(MailBodyQuotedPrintable(std::string(75, 'x') + ".y"),
            std::string(75, 'x') + "=\r\n=2Ey");

  std::string report;
  for (int i = 0; i < 40; ++i) report += std::string(37 * i, static_cast<char>('!' + i)) + ". \xff=\r\n";
  report += std::string(3000, '.') + "\r\n.\r\nend";
  const std::string wire = MailBodyQuotedPrintable(report);
  EXPECT_EQ(DecodeQuotedPrintable(wire), report);
  for (const std::string& line : Lines(wire)) {
    EXPECT_LE(line.size(), 76u) << line;
    EXPECT_NE(line.substr(0, 1), ".") << line;
  }
  EXPECT_EQ(MimeIntro(true).substr(MimeIntro(true).size() - 47),
            "Content-Transfer-Encoding: quoted-printable\r\n\r\n");
}

TEST(MimePartsTest, FrameTexts) {
  EXPECT_EQ(kB.size(), 33u);
  EXPECT_EQ(MimeIntro(),
            "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"" + kB +
                "\"\r\n\r\nThis is a multi-part message in MIME format.\r\n\r\n--" + kB +
                "\r\nContent-Type: text/plain; charset=\"iso-8859-1\"\r\n"
                "Content-Transfer-Encoding: 8bit\r\n\r\n");
  EXPECT_EQ(MimeContentType("c:\\x\\Shot.PNG"), "image/png");
  EXPECT_EQ(MimeContentType("png"), "application/octet-stream");
  EXPECT_EQ(MimeContentType("a.pnga"), "application/octet-stream");
  EXPECT_EQ(MimeAttachmentHead("c:\\t\\s.png", "screen.png"),
            "--" + kB + "\r\nContent-Type: image/png; name=\"screen.png\"\r\n"
            "Content-Transfer-Encoding: base64\r\n"
            "Content-Disposition: attachment; filename=\"screen.png\"\r\n\r\n");
  EXPECT_EQ(MimeClosing(), "--" + kB + "--\r\n");
}

struct Fed {
  SmtpReplyReader::State state;
  bool auth;
  bool startTls;
};

Fed FeedAll(const std::string& code, const std::vector<std::string>& pieces, bool detect = true) {
  SmtpReplyReader reader(code, detect);
  for (const std::string& piece : pieces) reader.Feed(piece.data(), piece.size());
  return {reader.state(), reader.authLoginOffered(), reader.startTlsOffered()};
}

using S = SmtpReplyReader::State;

TEST(SmtpReplyReaderTest, RepliesAndContinuations) {
  EXPECT_EQ(FeedAll("220", {"220 ready\r\n"}).state, S::kSuccess);
  EXPECT_EQ(FeedAll("250", {"550 no\r\n"}).state, S::kFailure);
  EXPECT_EQ(FeedAll("250", {"250-a\r\n250-b\r\n"}).state, S::kNeedMore);
  EXPECT_EQ(FeedAll("250", {"250-a\r\n250-b\r\n", "250 c\r\n"}).state, S::kSuccess);
  // Split in the middle of a line and of the line break.
  EXPECT_EQ(FeedAll("250", {"250-x", "yz\r", "\n250", " ok", "\r\n"}).state, S::kSuccess);
  EXPECT_EQ(FeedAll("250", {"250 ok"}).state, S::kNeedMore);  // no line break yet
}

TEST(SmtpReplyReaderTest, FirstPieceOfThreeCharactersOrFewerFails) {
  EXPECT_EQ(FeedAll("250", {"250", " ok\r\n"}).state, S::kFailure);
  EXPECT_EQ(FeedAll("250", {"2", "50 ok\r\n"}).state, S::kFailure);
  EXPECT_EQ(FeedAll("250", {"2500\r\n"}).state, S::kSuccess);
}

TEST(SmtpReplyReaderTest, AuthLoginInBothForms) {
  EXPECT_TRUE(FeedAll("250", {"250-h\r\n250-AUTH PLAIN LOGIN\r\n250 OK\r\n"}).auth);
  EXPECT_TRUE(FeedAll("250", {"250-h\r\n250-auth login\r\n250 OK\r\n"}).auth);
  EXPECT_TRUE(FeedAll("250", {"250-h\r\n250-AUTH=LOGIN\r\n250 OK\r\n"}).auth);
  EXPECT_FALSE(FeedAll("250", {"250-h\r\n250-AUTH PLAIN CRAM-MD5\r\n250 OK\r\n"}).auth);
  EXPECT_FALSE(FeedAll("250", {"250-h\r\n250-AUTH LOGINX\r\n250 OK\r\n"}).auth);
  EXPECT_FALSE(FeedAll("250", {"250-h\r\n250-XAUTH LOGIN\r\n250 OK\r\n"}).auth);
  EXPECT_FALSE(FeedAll("250", {"250-AUTH LOGIN\r\n250 OK\r\n"}, false).auth);
  const Fed last = FeedAll("250", {"250-h\r\n250 AUTH LOGIN\r\n"});
  EXPECT_EQ(last.state, S::kSuccess);
  EXPECT_TRUE(last.auth);
}

TEST(SmtpReplyReaderTest, StartTlsOnlyAsTheKeywordOfItsOwnLine) {
  EXPECT_TRUE(FeedAll("250", {"250-h\r\n250-STARTTLS\r\n250 OK\r\n"}).startTls);
  EXPECT_TRUE(FeedAll("250", {"250-h\r\n250-starttls\r\n250 OK\r\n"}).startTls);
  EXPECT_TRUE(FeedAll("250", {"250-h\r\n250 STARTTLS\r\n"}).startTls);
  EXPECT_TRUE(FeedAll("250", {"250-h\r\n250-STA", "RTTLS\r\n250 OK\r\n"}).startTls);
  EXPECT_FALSE(FeedAll("250", {"250-h\r\n250-STARTTLSX\r\n250 OK\r\n"}).startTls);
  EXPECT_FALSE(FeedAll("250", {"250-h STARTTLS\r\n250 OK\r\n"}).startTls);
  EXPECT_FALSE(FeedAll("250", {"250-h\r\n250-AUTH LOGIN\r\n250 OK\r\n"}).startTls);
  EXPECT_FALSE(FeedAll("250", {"250-STARTTLS\r\n250 OK\r\n"}, false).startTls);
}

// A line longer than one receive is read on: its tail is not a line of its own.
TEST(SmtpReplyReaderTest, LongLineIsReadOnNotCut) {
  const std::string longLine = "250-" + std::string(1020, 'x');
  // The second piece begins "250 " inside the long line: a cut reader would end here.
  std::vector<std::string> pieces{longLine, "250 tail of the same line\r\n"};
  EXPECT_EQ(FeedAll("250", pieces).state, S::kNeedMore);
  pieces.push_back("250 end\r\n");
  EXPECT_EQ(FeedAll("250", pieces).state, S::kSuccess);
  // A reply that never ends is refused once it passes the bound.
  SmtpReplyReader reader("250", false);
  const std::string line = "250-" + std::string(1000, 'y') + "\r\n";
  S state = S::kNeedMore;
  for (int i = 0; i < 100 && state == S::kNeedMore; ++i) state = reader.Feed(line.data(), line.size());
  EXPECT_EQ(state, S::kFailure);
}

TEST(HttpRequestTest, AddressesAndProxies) {
  HttpAddress a = SplitHttpAddress("http://bugs.example.com/cgi/upload.php?x=1");
  EXPECT_EQ(a.host.name, "bugs.example.com");
  EXPECT_EQ(a.host.port, 0);
  EXPECT_EQ(a.path, "/cgi/upload.php?x=1");
  a = SplitHttpAddress("bugs.example.com");  // no "/" after the host: "/"
  EXPECT_EQ(a.host.name, "bugs.example.com");
  EXPECT_EQ(a.path, "/");
  a = SplitHttpAddress("https://127.0.0.1:8080");
  EXPECT_EQ(a.host.name, "127.0.0.1");
  EXPECT_EQ(a.host.port, 8080);
  EXPECT_EQ(a.path, "/");
  EXPECT_EQ(SplitHostPort("h:0").port, 0);
  EXPECT_EQ(SplitHostPort("h:65536").name, "h:65536");
  EXPECT_EQ(SplitHostPort("h:8x").port, 0);
  EXPECT_EQ(ReducedProxyText("http://proxy:3128"), "proxy:3128");
  EXPECT_EQ(ReducedProxyText("ftp=f:21 http=p:80 https=s:443"), "p:80");
  EXPECT_EQ(ReducedProxyText("http=p:80;https=s:443"), "p:80");
  EXPECT_EQ(ReducedProxyText("http=http://p:81/"), "p:81");
}

TEST(HttpRequestTest, FormDataPiecesAndExactLength) {
  const std::vector<FormField> fields{{"MailFrom", "a@b.c"}, {"Mail\"Subject\r\n", "x"}};
  const std::string block = FormFieldBlock(fields);
  EXPECT_EQ(block, "\r\n--" + kB + "\r\nContent-Disposition: form-data; name=\"MailFrom\"\r\n\r\na@b.c"
                   "\r\n--" + kB + "\r\nContent-Disposition: form-data; name=\"Mail\\\"Subject  \"\r\n\r\nx");
  const FormFile file{"BugReport", "bugreport.txt", 1000};
  const std::string head = FormFilePartHead(file);
  EXPECT_EQ(head, "\r\n--" + kB + "\r\nContent-Disposition: form-data; name=\"BugReport\"; "
                  "filename=\"bugreport.txt\"\r\nContent-Type: application/octet-stream\r\n\r\n");
  // The part head is the boundary, both names and 102 bytes of its own.
  EXPECT_EQ(head.size(), kB.size() + 9 + 13 + 102);
  EXPECT_EQ(FormClosing(), "\r\n--" + kB + "--\r\n");
  const std::vector<FormFile> files{file, {"Empty", "e.bin", 0}, {"S", "s.png", 7}};
  const uint64_t length = FormContentLength(block, files);
  const std::string body = block + head + std::string(1000, 'r') + FormFilePartHead(files[2]) +
                           std::string(7, 's') + FormClosing();
  EXPECT_EQ(length, body.size() - 2);  // everything after the head's empty line
  EXPECT_EQ(FormContentLength("", {}), FormClosing().size() - 2);
}

TEST(HttpRequestTest, RequestHead) {
  HttpRequestHead head{"/up", "h:80", 1234, "Me <me@x.y>", "user", "pa:ss"};
  EXPECT_EQ(HttpRequestHeadText(head),
            "POST /up HTTP/1.1\r\nHost: h:80\r\nConnection: close\r\nPragma: no-cache\r\n"
            "User-Agent: qelExcept/3.0\r\nContent-Type: multipart/form-data; boundary=" + kB +
            "\r\nContent-Length: 1234\r\nFrom: <me@x.y>\r\n"
            "Authorization: Basic dXNlcjpwYTpzcw==\r\n");
  head = {"/a\r\nX: y", "h\n:80", 0, "", "", ""};
  EXPECT_EQ(HttpRequestHeadText(head),
            "POST /a%20%20X:%20y HTTP/1.1\r\nHost: h :80\r\nConnection: close\r\nPragma: no-cache\r\n"
            "User-Agent: qelExcept/3.0\r\nContent-Type: multipart/form-data; boundary=" + kB +
            "\r\nContent-Length: 0\r\n");
}

using K = HttpVerdict::Kind;

TEST(HttpReplyTest, StatusRules) {
  EXPECT_EQ(JudgeHttpReply("HTTP/1.1 200 OK\r\n\r\n").kind, K::kSuccess);
  EXPECT_EQ(JudgeHttpReply("HTTP/1.1 500 Oops\r\n\r\n").kind, K::kFailure);
  EXPECT_EQ(JudgeHttpReply("HTTP/1.1 2000 OK\r\n").kind, K::kFailure);
  EXPECT_EQ(JudgeHttpReply("HTTP/1.1 20").kind, K::kNeedMore);
  EXPECT_EQ(JudgeHttpReply("").kind, K::kNeedMore);
  EXPECT_EQ(JudgeHttpReply("HTTP/1.1 100 Continue\r\n\r\n").kind, K::kNeedMore);
  EXPECT_EQ(JudgeHttpReply("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\n").kind, K::kSuccess);
  EXPECT_EQ(JudgeHttpReply("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 500 X\r\n").kind, K::kFailure);
  EXPECT_EQ(JudgeHttpReply("HTTP/1.1 100 Continue\r\nX: y\r\n\r\nHTTP/1.1 100 Continue\r\n\r\n"
                           "HTTP/1.0 200 OK\r\n").kind, K::kSuccess);
}

TEST(HttpReplyTest, RedirectOpensOnlyWebPages) {
  HttpVerdict v = JudgeHttpReply("HTTP/1.1 302 Found\r\nServer: x\r\nlocation:  http://h/t?id=5 \r\n\r\n");
  EXPECT_EQ(v.kind, K::kSuccess);
  EXPECT_EQ(v.location, "http://h/t?id=5");
  v = JudgeHttpReply("HTTP/1.1 302 Found\r\nLocation: https://h/\r\n");  // head not complete
  EXPECT_EQ(v.kind, K::kNeedMore);
  EXPECT_EQ(JudgeHttpReply("HTTP/1.1 302 Found\r\nServer: x\r\n\r\n").kind, K::kFailure);
  EXPECT_EQ(JudgeHttpReply("HTTP/1.1 302 Found\r\nLocation: file:///c:/x.exe\r\n\r\n").kind, K::kFailure);
  EXPECT_EQ(JudgeHttpReply("HTTP/1.1 302 Found\r\nLocation: c:\\x.exe\r\n\r\n").kind, K::kFailure);
  // A Location in the body is not a header.
  EXPECT_EQ(JudgeHttpReply("HTTP/1.1 302 Found\r\n\r\nLocation: http://h/\r\n").kind, K::kFailure);
}

// --- DNS ---

std::string Word(uint16_t v) { return std::string{static_cast<char>(v >> 8), static_cast<char>(v)}; }

std::string Labels(const std::string& name) {
  std::string out;
  size_t start = 0;
  for (;;) {
    size_t dot = name.find('.', start);
    std::string label = name.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    out += static_cast<char>(label.size());
    out += label;
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return out + '\0';
}

std::string Header(uint16_t id, uint16_t an, uint16_t ns, uint8_t rcode = 0, uint16_t qd = 1) {
  return Word(id) + std::string{'\x81', static_cast<char>(0x80 | rcode)} + Word(qd) + Word(an) +
         Word(ns) + Word(0);
}

std::string Record(const std::string& owner, uint16_t type, const std::string& data) {
  return owner + Word(type) + Word(1) + std::string(4, '\0') + Word(static_cast<uint16_t>(data.size())) + data;
}

DnsReplyCheck Parse(const std::string& m, uint16_t type, DnsReply& reply, uint16_t id = 1) {
  return ParseDnsReply(reinterpret_cast<const uint8_t*>(m.data()), m.size(), id, type, reply);
}

TEST(DnsMessageTest, Request) {
  EXPECT_EQ(BuildDnsQuery("mail.example.com", kDnsTypeMx),
            Word(1) + std::string("\x01\x00", 2) + Word(1) + Word(0) + Word(0) + Word(0) +
                Labels("mail.example.com") + Word(15) + Word(1));
  EXPECT_EQ(BuildDnsQuery("example.com.", kDnsTypeNs), BuildDnsQuery("example.com", kDnsTypeNs));
  EXPECT_EQ(BuildDnsQuery("", kDnsTypeMx), "");
  EXPECT_EQ(BuildDnsQuery("a..b", kDnsTypeMx), "");
  EXPECT_EQ(BuildDnsQuery(std::string(64, 'a') + ".b", kDnsTypeMx), "");
  // Labels of 63, 63, 63 and 62 characters: 256 bytes on the wire, one too many.
  std::string name;
  for (int i = 0; i < 4; ++i) name += (i ? "." : "") + std::string(i < 3 ? 63 : 62, 'n');
  EXPECT_EQ(BuildDnsQuery(name, kDnsTypeMx), "");
  name.resize(name.size() - 1);
  EXPECT_EQ(BuildDnsQuery(name, kDnsTypeMx).size(), 12 + 255 + 4u);
}

TEST(DnsMessageTest, MxAnswersWithCompressionInOrder) {
  const std::string question = Labels("example.com") + Word(15) + Word(1);
  std::string m = Header(1, 3, 0) + question;
  // Owner: pointer to the question name (offset 12); data: preference, then a name that
  // ends in a pointer to "example.com".
  m += Record(std::string("\xc0\x0c", 2), 15, Word(20) + std::string("\x02mx", 3) + "\xc0\x0c");
  m += Record(std::string("\xc0\x0c", 2), 5, Labels("alias.example.com"));  // CNAME: skipped
  m += Record(std::string("\xc0\x0c", 2), 15, Word(10) + Labels("backup.example.net"));
  DnsReply reply;
  ASSERT_EQ(Parse(m, kDnsTypeMx, reply), DnsReplyCheck::kParsed);
  EXPECT_EQ(reply.answers, (std::vector<std::string>{"mx.example.com", "backup.example.net"}));
  EXPECT_TRUE(reply.authority.empty());
}

TEST(DnsMessageTest, ReferralsFillTheAuthorityList) {
  std::string m = Header(1, 0, 2) + Labels("example.com") + Word(2) + Word(1);
  m += Record(Labels("com"), 2, Labels("a.gtld.test"));
  m += Record(Labels("com"), 2, Labels("b.gtld.test"));
  DnsReply reply;
  ASSERT_EQ(Parse(m, kDnsTypeNs, reply), DnsReplyCheck::kParsed);
  EXPECT_TRUE(reply.answers.empty());
  EXPECT_EQ(reply.authority, (std::vector<std::string>{"a.gtld.test", "b.gtld.test"}));
  ASSERT_EQ(Parse(m, kDnsTypeMx, reply), DnsReplyCheck::kParsed);  // MX reads no authority
  EXPECT_TRUE(reply.authority.empty());
}

TEST(DnsMessageTest, RepliesNotOursAreIgnored) {
  const std::string body = Labels("a.b") + Word(15) + Word(1) + Record(std::string("\xc0\x0c", 2), 15, Word(1) + Labels("m.a.b"));
  DnsReply reply;
  EXPECT_EQ(Parse(Header(2, 1, 0) + body, kDnsTypeMx, reply), DnsReplyCheck::kNotOurs);
  EXPECT_EQ(Parse(Header(1, 1, 0, 3) + body, kDnsTypeMx, reply), DnsReplyCheck::kNotOurs);
  std::string query = Header(1, 1, 0) + body;
  query[2] = 0x01;  // a question, not a response
  EXPECT_EQ(Parse(query, kDnsTypeMx, reply), DnsReplyCheck::kNotOurs);
  EXPECT_EQ(Parse(Header(1, 1, 0) + body, kDnsTypeMx, reply), DnsReplyCheck::kParsed);
  EXPECT_EQ(reply.answers, std::vector<std::string>{"m.a.b"});
}

TEST(DnsMessageTest, HostileRepliesStayInBounds) {
  const std::string q = Labels("a.b") + Word(15) + Word(1);
  DnsReply reply;
  // A pointer to itself, one to a later offset, a pointer loop through two names.
  std::string self = Header(1, 1, 0) + q;
  self += Record(Word(static_cast<uint16_t>(0xC000 | self.size())), 15, Word(1) + Labels("m"));
  EXPECT_EQ(Parse(self, kDnsTypeMx, reply), DnsReplyCheck::kMalformed);
  std::string forward = Header(1, 1, 0) + q + Record(std::string("\xc0\x0c", 2), 15, Word(1) + "\xc1\xff");
  EXPECT_EQ(Parse(forward, kDnsTypeMx, reply), DnsReplyCheck::kParsed);
  EXPECT_TRUE(reply.answers.empty());
  // Record length past the end: the parse stops, earlier answers stay.
  std::string good = Record(std::string("\xc0\x0c", 2), 15, Word(1) + Labels("m1"));
  std::string cut = Header(1, 2, 0) + q + good + std::string("\xc0\x0c", 2) + Word(15) + Word(1) +
                    std::string(4, '\0') + Word(400) + Word(1);
  EXPECT_EQ(Parse(cut, kDnsTypeMx, reply), DnsReplyCheck::kMalformed);
  EXPECT_EQ(reply.answers, std::vector<std::string>{"m1"});
  // Counts far beyond the records present; a truncated header; a question past the end.
  EXPECT_EQ(Parse(Header(1, 65535, 65535) + q, kDnsTypeNs, reply), DnsReplyCheck::kMalformed);
  EXPECT_EQ(Parse(Header(1, 1, 0).substr(0, 11), kDnsTypeMx, reply), DnsReplyCheck::kMalformed);
  EXPECT_EQ(Parse(Header(1, 0, 0) + "\x05" "ab", kDnsTypeMx, reply), DnsReplyCheck::kMalformed);
}

TEST(DnsMessageTest, NamesAreAtMost255Bytes) {
  // 512 bytes of one-character labels: a name far over the limit.
  std::string m = Header(1, 0, 0, 0, 1);
  while (m.size() < 500) m += "\x01x";
  m += '\0';
  m += Word(15) + Word(1);
  DnsReply reply;
  EXPECT_EQ(Parse(m, kDnsTypeMx, reply), DnsReplyCheck::kMalformed);
  // A chain of backward pointers building a long name is held to the same limit.
  std::string chain = Header(1, 0, 0, 0, 0);
  chain += "\x3f" + std::string(63, 'a') + '\0';
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(chain.data());
  std::string name;
  size_t next = 0;
  ASSERT_TRUE(ReadDnsName(bytes, chain.size(), 12, name, next));
  EXPECT_EQ(name, std::string(63, 'a'));
  size_t last = 12;
  for (int i = 0; i < 4; ++i) {
    const size_t here = chain.size();
    chain += "\x3f" + std::string(63, 'b') + static_cast<char>(0xC0 | (last >> 8)) + static_cast<char>(last & 0xFF);
    last = here;
  }
  bytes = reinterpret_cast<const uint8_t*>(chain.data());
  EXPECT_FALSE(ReadDnsName(bytes, chain.size(), last, name, next));  // 5 x 64 + 1 bytes
}

TEST(DnsMessageTest, MailDomains) {
  EXPECT_EQ(MailDomain("user@mail.example.com>"), "mail.example.com");
  EXPECT_EQ(MailDomain("example.com"), "example.com");
  EXPECT_EQ(ParentDomain("a.b.example.co.uk"), "example.co.uk");
  EXPECT_EQ(ParentDomain("example.co.uk"), "example.co.uk");
  EXPECT_EQ(ParentDomain("b.c"), "b.c");
}

TEST(IcmpEchoTest, RequestChecksumAndReplies) {
  // The example of RFC 1071 section 3: 00 01 f2 03 f4 f5 f6 f7 sums to ddf2.
  const uint8_t sample[] = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
  EXPECT_EQ(InternetChecksum(sample, sizeof sample), static_cast<uint16_t>(~0xddf2));
  const uint8_t odd[] = {0x01, 0x02, 0x03};
  EXPECT_EQ(InternetChecksum(odd, 3), static_cast<uint16_t>(~(0x0102 + 0x0300)));
  const std::string request = EchoRequest(0x1234, 0xfffe);
  ASSERT_EQ(request.size(), 32u);
  const auto* bytes = reinterpret_cast<const uint8_t*>(request.data());
  EXPECT_EQ(std::string(request, 0, 2), std::string("\x08\x00", 2));
  EXPECT_EQ(std::string(request, 4, 4), "\x12\x34\xff\xfe");
  EXPECT_EQ(std::string(request, 28, 4), "\xde\xad\xbe\xef");
  EXPECT_EQ(InternetChecksum(bytes, request.size()), 0);  // a correct checksum sums to zero

  std::string reply = std::string(20, '\0') + request;
  reply[0] = 0x45;
  reply[20] = 0;  // echo reply
  const auto* r = reinterpret_cast<const uint8_t*>(reply.data());
  EXPECT_EQ(CheckEchoReply(r, reply.size(), 0x1234, 0xfffe), EchoReplyCheck::kMatch);
  EXPECT_EQ(CheckEchoReply(r, reply.size(), 0x1234, 0xffff), EchoReplyCheck::kOther);
  EXPECT_EQ(CheckEchoReply(r, reply.size() - 1, 0x1234, 0xfffe), EchoReplyCheck::kTooShort);
  reply[0] = 0x4f;  // a 60-byte IP header: the reply is too short for it
  EXPECT_EQ(CheckEchoReply(r, reply.size(), 0x1234, 0xfffe), EchoReplyCheck::kTooShort);
  reply[0] = 0x45;
  reply[20] = 3;  // unreachable: skipped
  EXPECT_EQ(CheckEchoReply(r, reply.size(), 0x1234, 0xfffe), EchoReplyCheck::kOther);
  EXPECT_EQ(CheckEchoReply(r, 0, 1, 1), EchoReplyCheck::kTooShort);
}

TEST(MailAddressesTest, ListsAndAngleBrackets) {
  std::string list = " a@b.c; Name <d@e.f> ,x@y.z ";
  EXPECT_EQ(CountMailAddrs(list), 3);
  EXPECT_EQ(list, "a@b.c,Name <d@e.f>,x@y.z");
  EXPECT_EQ(SplitMailAddrs(list), (std::vector<std::string>{"a@b.c", "Name <d@e.f>", "x@y.z"}));
  list = "a@b.c; d@e.f";
  EXPECT_EQ(CountMailAddrs(list), 2);
  EXPECT_EQ(list, "a@b.c,d@e.f");
  list = "  ";
  EXPECT_EQ(CountMailAddrs(list), 0);
  EXPECT_TRUE(SplitMailAddrs(list).empty());
  list = " ; ,";  // empty elements are no addresses
  EXPECT_EQ(CountMailAddrs(list), 0);
  EXPECT_EQ(list, "");
  list = ";a@b.c;; d@e.f;";
  EXPECT_EQ(CountMailAddrs(list), 2);
  EXPECT_EQ(list, "a@b.c,d@e.f");
  EXPECT_EQ(MailAddrText("a@b.c", true), "<a@b.c>");
  EXPECT_EQ(MailAddrText("a@b.c,d@e.f", false), "<a@b.c,d@e.f>");
  EXPECT_EQ(MailAddrText("Name <d@e.f>", true), "Name <d@e.f>");
  EXPECT_EQ(MailAddrText("Name <d@e.f>", false), "<d@e.f>");
  EXPECT_EQ(MailAddrText("", false), "<>");
}

}  // namespace
}  // namespace qx
