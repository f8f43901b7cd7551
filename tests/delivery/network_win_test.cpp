// The network channels against real loopback peers (tests/delivery/network_peers.py starts
// them and runs this program): aiosmtpd with AUTH LOGIN, scripted SMTP replies, an
// http.server that parses the form data, a dnslib server with normal, referring and
// hostile replies, and the same servers in TLS (STARTTLS, implicit TLS, HTTPS, a CONNECT
// proxy). What the peers received is read back from the files they write.
#include "socket_win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "ci_environment.h"
#include "dns_message.h"
#include "dns_resolver_win.h"
#include "http_upload_win.h"
#include "mail_job_win.h"
#include "network_switches.h"
#include "online_check_win.h"
#include "smtp_session_win.h"
#include "text_lines.h"
#include "tls_stream_win.h"

namespace qx {
namespace {

std::string Env(const char* name) {
  char value[1024];
  const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

uint16_t PortOf(const char* name) { return static_cast<uint16_t>(std::atoi(Env(name).c_str())); }

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> SummaryLines(const std::string& dir) {
  std::vector<std::string> lines;
  std::istringstream in(ReadAll(dir + "\\summary.txt"));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The one line of `lines` that begins with `prefix`, without the prefix; "(missing)" when
// there is none.
std::string Value(const std::vector<std::string>& lines, const std::string& prefix) {
  for (const std::string& line : lines) {
    if (line.compare(0, prefix.size(), prefix) == 0) return line.substr(prefix.size());
  }
  return "(missing)";
}

int CountDirs(const std::string& kind) {
  int count = 0;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((Env("QX_PEER_OUT") + "\\" + kind + "-*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return 0;
  do ++count; while (FindNextFileA(find, &data));
  FindClose(find);
  return count;
}

std::string PeerDir(const std::string& kind, int index) {
  return Env("QX_PEER_OUT") + "\\" + kind + "-" + std::to_string(index);
}

// Bytes that exercise base64 padding and every byte value.
std::string BinaryBytes(size_t size, uint32_t seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) {
    seed = seed * 1103515245u + 12345u;
    bytes[i] = static_cast<char>(seed >> 16);
  }
  return bytes;
}

// Records what the transports do with the progress window.
class RecordingProgress : public IProgressAlert {
 public:
  std::vector<std::pair<std::string, uint64_t>> areas;
  int32_t current = 0;
  int32_t position = 0;
  int closes = 0;

  HRESULT __stdcall QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG __stdcall AddRef() override { return 1; }
  ULONG __stdcall Release() override { return 1; }
  std::string __stdcall GetTitle() override { return std::string(); }
  void __stdcall SetTitle(const std::string&) override {}
  int32_t __stdcall GetPosition() override { return position; }
  void __stdcall SetPosition(int32_t p) override { position = p; }
  void __stdcall AppendArea(const std::string& text, uint64_t weight) override { areas.emplace_back(text, weight); }
  void __stdcall ClearAreas() override {
    areas.clear();
    current = 0;
  }
  void __stdcall AreaDone() override { ++current; }
  int32_t __stdcall GetCurrentArea() override { return current; }
  void __stdcall SetCurrentArea(int32_t index) override { current = index; }
  void __stdcall ProcessMessages() override {}
  bool __stdcall Show(HWND, bool) override { return true; }
  void __stdcall Close() override { ++closes; }

  std::vector<uint64_t> Weights() const {
    std::vector<uint64_t> weights;
    for (const auto& area : areas) weights.push_back(area.second);
    return weights;
  }
};

// A plain field list for the upload's extra fields.
class TestFields : public IKVFields {
 public:
  std::vector<std::pair<std::string, std::string>> items;

  HRESULT __stdcall QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG __stdcall AddRef() override { return 1; }
  ULONG __stdcall Release() override { return 1; }
  void __stdcall Lock() override {}
  void __stdcall Unlock() override {}
  int32_t __stdcall ItemCount() override { return static_cast<int32_t>(items.size()); }
  std::string __stdcall ItemName(int32_t i) override { return items[static_cast<size_t>(i)].first; }
  void __stdcall Rename(int32_t, const std::string&) override {}
  int32_t __stdcall Find(const std::string& name) override {
    for (size_t i = 0; i < items.size(); ++i) if (items[i].first == name) return static_cast<int32_t>(i);
    return -1;
  }
  std::string __stdcall Content(const std::string& name) override {
    const int32_t i = Find(name);
    return i < 0 ? std::string() : items[static_cast<size_t>(i)].second;
  }
  void __stdcall SetContent(const std::string&, const std::string&) override {}
  void __stdcall Add(const std::string& name, const std::string& value) override { items.emplace_back(name, value); }
  void __stdcall Insert(int32_t, const std::string&, const std::string&) override {}
  void __stdcall Delete(int32_t) override {}
  void __stdcall DeleteName(const std::string&) override {}
  IKVFields* __stdcall Clone() override { return nullptr; }
};

std::vector<std::string> g_openedUrls;
void RecordUrl(const std::string& url) { g_openedUrls.push_back(url); }

class NetworkPeers : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Env("QX_PEER_OUT").empty()) {
      if (RunningUnderCi()) FAIL() << "the loopback peers are not running (network_peers.py starts them)";
      GTEST_SKIP() << "the loopback peers are not running (network_peers.py starts them)";
    }
    NetworkSwitchesOf() = NetworkSwitches();
    NetworkSeamsOf() = NetworkSeams();
    NetworkSeamsOf().useDnsServers = true;
    NetworkSeamsOf().dnsServers = {"127.0.0.1"};
    NetworkSeamsOf().dnsPort = PortOf("QX_DNS_PORT");
    NetworkSeamsOf().dnsReplyTimeoutMs = 500;
    NetworkSeamsOf().openUrl = RecordUrl;
    g_openedUrls.clear();
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    folder_ = std::string(temp) + "qx_network_test_" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder_.c_str(), nullptr);
    report_ = BinaryBytes(1000, 1);
    for (size_t i = 0; i < report_.size(); i += 50) report_[i] = '\n';
    screenshot_ = BinaryBytes(5000, 2);
    WriteAll(folder_ + "\\bugreport.txt", report_);
    WriteAll(folder_ + "\\screenShot.png", screenshot_);
    WriteAll(folder_ + "\\empty.bin", std::string());
  }
  void TearDown() override {
    for (const char* name : {"bugreport.txt", "screenShot.png", "empty.bin"}) DeleteFileA((folder_ + "\\" + name).c_str());
    RemoveDirectoryA(folder_.c_str());
    NetworkSwitchesOf() = NetworkSwitches();
    NetworkSeamsOf() = NetworkSeams();
  }

  // The report, the screenshot, a missing file and an empty one.
  void AddAttachments(MailJob& job) {
    job.filePaths = {folder_ + "\\bugreport.txt", folder_ + "\\screenShot.png", folder_ + "\\gone.txt",
                     folder_ + "\\empty.bin"};
    job.sendAsNames = {"bugreport.txt", "shot.png", "gone.txt", "empty.bin"};
    job.fieldNames = {"BugReport", "ScreenShot", "Gone", "Empty"};
  }

  MailJob SmtpJob(uint16_t port) {
    MailJob job;
    job.server = "127.0.0.1";
    job.port = port;
    job.account = "reporter";
    job.password = "s3cret:pw";
    job.sender = "Reporter <rep@example.test>";
    job.recipients = "a@example.test; b@example.test";
    job.subject = "Bug in Ab\xe4";
    job.body = "line1\r\n.\r\n.hidden\r\nend";
    job.progress = &progress_;
    return job;
  }

  MailJob HttpJob(const std::string& route) {
    MailJob job;
    job.httpAddress = "http://127.0.0.1/upload/" + route;
    job.port = PortOf("QX_HTTP_PORT");
    job.sender = "Reporter <rep@example.test>";
    job.account = "user";
    job.password = "pw";
    fields_.items = {{"MailFrom", "rep@example.test"}, {"MailSubject", "Bug in Ab\xe4"},
                     {"MailBody", "first\r\nsecond"}};
    job.fields = &fields_;
    job.progress = &progress_;
    return job;
  }

  std::string folder_, report_, screenshot_;
  RecordingProgress progress_;
  TestFields fields_;
};

// ---- SMTP through a server -------------------------------------------------------------------

TEST_F(NetworkPeers, SmtpServerModeDeliversTheMessageWithItsParts) {
  MailJob job = SmtpJob(PortOf("QX_SMTP_PORT"));
  AddAttachments(job);
  const int before = CountDirs("mail");
  ASSERT_TRUE(SendMailOrUpload(job));
  ASSERT_EQ(CountDirs("mail"), before + 1);
  const std::string dir = PeerDir("mail", before + 1);
  const std::vector<std::string> s = SummaryLines(dir);
  EXPECT_EQ(Value(s, "mail from: "), "rep@example.test");
  EXPECT_EQ(Value(s, "rcpt to: "), "a@example.test b@example.test");  // two RCPT TO
  EXPECT_EQ(Value(s, "auth: "), "reporter");
  EXPECT_EQ(Value(s, "header To: "), "<a@example.test,b@example.test>");
  EXPECT_EQ(Value(s, "header From: "), "Reporter <rep@example.test>");
  EXPECT_EQ(Value(s, "header Subject: "), "Bug in Ab\xc3\xa4");  // the peer writes UTF-8
  EXPECT_EQ(Value(s, "raw subject: "), "=?ISO-8859-1?Q?Bug=20in=20Ab=E4?=");
  EXPECT_EQ(Value(s, "header MIME-Version: "), "1.0");
  EXPECT_EQ(Value(s, "header count: "), "7");
  EXPECT_EQ(Value(s, "tls: "), "none");
  EXPECT_EQ(Value(s, "boundary: "), "qelExcept_Boundary_5f2c8e19a7d3b0");
  const std::string date = Value(s, "header Date: ");
  EXPECT_EQ(date.substr(date.size() - 3), " UT");
  const std::string id = Value(s, "header Message-ID: ");
  EXPECT_EQ(id.size(), 28u);
  EXPECT_EQ(id.substr(17), "@qelExcept>");
  // The text part, the report and the screenshot; the missing and the empty file send none.
  // The dot rule is undone by the server: the body arrives as it was written.
  EXPECT_EQ(Value(s, "part 1: "), "text/plain; name=; filename=; encoding=8bit; bytes=22");
  EXPECT_EQ(ReadAll(dir + "\\part-1.bin"), "line1\r\n.\r\n.hidden\r\nend");
  EXPECT_EQ(Value(s, "part 2: "),
            "application/octet-stream; name=bugreport.txt; filename=bugreport.txt; encoding=base64; bytes=1000");
  EXPECT_EQ(ReadAll(dir + "\\part-2.bin"), report_);
  EXPECT_EQ(Value(s, "part 3: "), "image/png; name=shot.png; filename=shot.png; encoding=base64; bytes=5000");
  EXPECT_EQ(ReadAll(dir + "\\part-3.bin"), screenshot_);
  EXPECT_EQ(Value(s, "part 4: "), "(missing)");
  // Base64 lines of 76 characters on the wire: 17 full lines and one of 44 for 1000 bytes.
  const std::string raw = ReadAll(dir + "\\raw.eml");
  const std::string partHead = "filename=\"bugreport.txt\"\r\n\r\n";
  size_t line = raw.find(partHead);
  ASSERT_NE(line, std::string::npos);
  line += partHead.size();
  for (int i = 0; i < 18; ++i) {
    const size_t end = raw.find("\r\n", line);
    EXPECT_EQ(end - line, i < 17 ? 76u : 44u) << "line " << i;
    line = end + 2;
  }

  // The areas: the first one, connecting with two steps, authorisation, sending with four
  // steps, one per non-empty attachment, the final step and its one further step.
  EXPECT_EQ(progress_.Weights(), (std::vector<uint64_t>{100, 100, 100, 200, 200, 100, 100, 100, 100, 100,
                                                        (1000 + 56) / 57 * 3, (5000 + 56) / 57 * 3, 500, 100}));
  EXPECT_EQ(progress_.current, 13);  // every area done, the last one reached
  EXPECT_EQ(progress_.closes, 1);
}

// A body with lines longer than a mail line may be goes quoted-printable, with and without
// attachments, and arrives as it was; no line on the wire is longer than 76 characters.
TEST_F(NetworkPeers, SmtpBodyWithLongLinesArrivesWhole) {
  const std::string body = std::string(2500, 'x') + " \xe4=\r\n.\r\n" + std::string(1200, '.') +
                           "\r\nend";
  for (bool attachments : {false, true}) {
    SCOPED_TRACE(attachments);
    MailJob job = SmtpJob(PortOf("QX_SMTP_PORT"));
    job.body = body;
    job.progress = nullptr;
    if (attachments) AddAttachments(job);
    const int before = CountDirs("mail");
    ASSERT_TRUE(SendMailOrUpload(job));
    const std::string dir = PeerDir("mail", before + 1);
    const std::vector<std::string> s = SummaryLines(dir);
    EXPECT_EQ(Value(s, "multipart: "), attachments ? "yes" : "no");
    // Alone in the mail, the text ends with the line break that ends the data.
    const std::string arrived = attachments ? body : body + "\r\n";
    EXPECT_EQ(Value(s, "part 1: "), "text/plain; name=; filename=; encoding=quoted-printable; bytes=" +
                                        std::to_string(arrived.size()));
    EXPECT_EQ(ReadAll(dir + "\\part-1.bin"), arrived);
    if (attachments) EXPECT_EQ(ReadAll(dir + "\\part-2.bin"), report_);
    size_t longest = 0;
    for (const std::string& line : Lines(ReadAll(dir + "\\raw.eml"))) longest = std::max(longest, line.size());
    EXPECT_LE(longest, 76u);
  }
}

TEST_F(NetworkPeers, SmtpValuesWithLineBreaksStayInTheirLines) {
  MailJob job = SmtpJob(PortOf("QX_SMTP_PORT"));
  job.sender = "Me\r\nBcc: evil@example.test <me@example.test>";
  job.recipients = "v@example.test";
  job.subject = "a\r\nBcc: evil@example.test";
  job.progress = nullptr;  // no window at all
  const int before = CountDirs("mail");
  ASSERT_TRUE(SendMailOrUpload(job));
  const std::vector<std::string> s = SummaryLines(PeerDir("mail", before + 1));
  EXPECT_EQ(Value(s, "rcpt to: "), "v@example.test");
  EXPECT_EQ(Value(s, "header From: "), "Me  Bcc: evil@example.test <me@example.test>");
  EXPECT_EQ(Value(s, "header Subject: "), "a\r");  // decoded: the peer's own line ends at LF
  EXPECT_EQ(Value(s, "header count: "), "5");       // To, From, Subject, Date, Message-ID
  EXPECT_EQ(Value(s, "multipart: "), "no");
  // A recipient with a line break becomes one malformed address the server refuses.
  job.recipients = "v@example.test\r\nBcc: evil@example.test";
  EXPECT_FALSE(SendMailOrUpload(job));
  EXPECT_EQ(CountDirs("mail"), before + 1);
}

TEST_F(NetworkPeers, SmtpSwitchesRsetAndRefusedLogin) {
  NetworkSwitchesOf().utf8Subject = true;
  NetworkSwitchesOf().fixedMailFrom = "<fixed@example.test>";
  MailJob job = SmtpJob(PortOf("QX_SMTP_PORT"));
  const int before = CountDirs("mail");
  ASSERT_TRUE(SendMailOrUpload(job));
  std::vector<std::string> s = SummaryLines(PeerDir("mail", before + 1));
  EXPECT_EQ(Value(s, "mail from: "), "fixed@example.test");
  EXPECT_EQ(Value(s, "raw subject: "), "=?UTF-8?B?QnVnIGluIEFiw6Q=?=");
  EXPECT_EQ(Value(s, "header Subject: "), "Bug in Ab\xc3\xa4");
  EXPECT_EQ(progress_.Weights().size(), 12u);  // no attachment areas
  // A subject too long for one encoded word arrives whole, in either form.
  job.subject = std::string(100, 'x') + "\xe4" + std::string(60, 'y');
  ASSERT_TRUE(SendMailOrUpload(job));
  s = SummaryLines(PeerDir("mail", before + 2));
  EXPECT_EQ(Value(s, "header Subject: "), std::string(100, 'x') + "\xc3\xa4" + std::string(60, 'y'));
  NetworkSwitchesOf().utf8Subject = false;
  ASSERT_TRUE(SendMailOrUpload(job));
  s = SummaryLines(PeerDir("mail", before + 3));
  EXPECT_EQ(Value(s, "header Subject: "), std::string(100, 'x') + "\xc3\xa4" + std::string(60, 'y'));
  job = SmtpJob(PortOf("QX_SMTP_PORT"));

  // Nothing to say: RSET instead of DATA, which succeeds without a message.
  job.subject.clear();
  job.body.clear();
  EXPECT_TRUE(SendMailOrUpload(job));
  // A wrong password fails after the greeting; still no message.
  job = SmtpJob(PortOf("QX_SMTP_PORT"));
  job.password = "wrong";
  EXPECT_FALSE(SendMailOrUpload(job));
  // No recipients: nothing is tried.
  job = SmtpJob(PortOf("QX_SMTP_PORT"));
  job.recipients = " ; ";
  EXPECT_FALSE(SendMailOrUpload(job));
  EXPECT_EQ(CountDirs("mail"), before + 3);
}

TEST_F(NetworkPeers, SmtpRepliesSplitOverReceivesAndTheOldAuthForm) {
  WinsockScope winsock(MAKEWORD(1, 1));  // SendMailOrUpload's own part
  MailJob job = SmtpJob(PortOf("QX_SMTP_SCRIPTED_PORT"));
  job.recipients = "a@example.test";
  job.body = ".\r\na\r\n.\r\n.\r\n..b\r\n.";
  const int before = CountDirs("scripted");
  ASSERT_TRUE(SmtpSession(job.recipients, job));
  ASSERT_EQ(CountDirs("scripted"), before + 1);
  const std::string data = ReadAll(PeerDir("scripted", before + 1) + "\\data.txt");
  const size_t bodyStart = data.find("\r\n\r\n");
  ASSERT_NE(bodyStart, std::string::npos);
  EXPECT_EQ(data.substr(bodyStart + 4), "..\r\na\r\n..\r\n..\r\n...b\r\n..");
  // A first piece of three characters ("220") fails the reply.
  job.port = PortOf("QX_SMTP_SHORT_PORT");
  EXPECT_FALSE(SmtpSession(job.recipients, job));
  // Nobody listening: the connection fails.
  job.port = 1;
  EXPECT_FALSE(SendMailOrUpload(job));
}

// ---- SMTP direct delivery ---------------------------------------------------------------------

TEST_F(NetworkPeers, DirectDeliveryRunsOneSessionPerRecipient) {
  MailJob job = SmtpJob(PortOf("QX_SMTP_PORT"));
  job.server.clear();
  job.account.clear();
  job.password.clear();
  job.recipients = "a@loopback.test; b@loopback.test";
  const int before = CountDirs("mail");
  ASSERT_TRUE(SendMailOrUpload(job));
  ASSERT_EQ(CountDirs("mail"), before + 2);
  EXPECT_EQ(Value(SummaryLines(PeerDir("mail", before + 1)), "rcpt to: "), "a@loopback.test");
  EXPECT_EQ(Value(SummaryLines(PeerDir("mail", before + 2)), "rcpt to: "), "b@loopback.test");
  EXPECT_EQ(Value(SummaryLines(PeerDir("mail", before + 2)), "header To: "), "<b@loopback.test>");
  const std::vector<uint64_t> share{500, 100, 100, 200, 200, 100, 100, 100, 100, 100, 500, 100};
  std::vector<uint64_t> expected{100};
  expected.insert(expected.end(), share.begin(), share.end());
  expected.insert(expected.end(), share.begin(), share.end());
  EXPECT_EQ(progress_.Weights(), expected);
  EXPECT_EQ(progress_.current, 25);
  // One recipient without a mail exchanger: the other still gets its mail.
  job.recipients = "x@nowhere.hostile.test, c@loopback.test";
  ASSERT_TRUE(SendMailOrUpload(job));
  EXPECT_EQ(CountDirs("mail"), before + 3);
}

// ---- DNS ---------------------------------------------------------------------------------------

TEST_F(NetworkPeers, DnsAnswersReferralsAndTheParentDomain) {
  WinsockScope winsock(MAKEWORD(1, 1));
  std::vector<std::string> answers, authority;
  DnsQuery("example.test", {"127.0.0.1"}, kDnsTypeMx, answers, authority);
  EXPECT_EQ(answers, (std::vector<std::string>{"mx1.example.test", "mx2.example.test"}));
  DnsQuery("example.test", {"no such server", "127.0.0.1"}, kDnsTypeNs, answers, authority);
  EXPECT_EQ(answers, std::vector<std::string>{"ns1.example.test"});
  DnsQuery("anything.test", {"127.0.0.2"}, kDnsTypeNs, answers, authority);
  EXPECT_TRUE(answers.empty());
  EXPECT_EQ(authority, std::vector<std::string>{"127.0.0.3"});
  EXPECT_EQ(FindMailExchanger("User <user@example.test>"), "mx1.example.test");
  EXPECT_EQ(FindMailExchanger("x@a.b.mail.example.test"), "parent-mx.example.test");
  EXPECT_EQ(FindMailExchanger("x@unknown.test"), "");
  // No system servers: from the root on, through the referral, to the zone's server.
  NetworkSeamsOf().dnsServers.clear();
  NetworkSeamsOf().rootServers = {"127.0.0.2"};
  EXPECT_EQ(FindMailExchanger("u@iter.test"), "mx.iter.test");
}

TEST_F(NetworkPeers, HostileDnsRepliesYieldNothingFalse) {
  WinsockScope winsock(MAKEWORD(1, 1));
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases{
      {"loop", {}}, {"forward", {}}, {"length", {}}, {"labels", {}}, {"rcode", {}}, {"silent", {}},
      {"truncated", {"127.0.0.1"}},  // the whole first record counts, the cut one stops the parse
      {"wrongid", {"mx.good.test"}},  // the reply with the wrong identifier is skipped
  };
  for (const auto& c : cases) {
    std::vector<std::string> answers{"stale"}, authority{"stale"};
    DnsQuery(c.first + ".hostile.test", {"127.0.0.1"}, kDnsTypeMx, answers, authority);
    EXPECT_EQ(answers, c.second) << c.first;
    EXPECT_TRUE(authority.empty()) << c.first;
  }
}

TEST_F(NetworkPeers, SystemServersAndTheOnlineCheck) {
  NetworkSeamsOf().useDnsServers = false;
  for (const std::string& server : SystemDnsServers()) {
    EXPECT_NE(inet_addr(server.c_str()), INADDR_NONE) << server;
  }
  EXPECT_TRUE(IsOnline(false));  // the check is skipped by default
  EXPECT_FALSE(EchoProbe(""));
  EXPECT_TRUE(EchoProbe("127.0.0.1"));
  EXPECT_FALSE(EchoProbe("no such host"));
  // With the check on, the echo decides; without a dial-up attempt nothing else is tried.
  NetworkSwitchesOf().skipOnlineCheck = false;
  NetworkSeamsOf().echoHost = "127.0.0.1";
  EXPECT_TRUE(IsOnline(false));
  NetworkSeamsOf().echoHost = "";
  EXPECT_FALSE(IsOnline(false));
}

// ---- HTTP --------------------------------------------------------------------------------------

TEST_F(NetworkPeers, UploadSendsFieldsAndFilesWithTheExactLength) {
  MailJob job = HttpJob("ok");
  AddAttachments(job);
  const int before = CountDirs("upload");
  ASSERT_TRUE(SendMailOrUpload(job));
  ASSERT_EQ(CountDirs("upload"), before + 1);
  const std::string dir = PeerDir("upload", before + 1);
  const std::vector<std::string> s = SummaryLines(dir);
  const std::string port = Env("QX_HTTP_PORT");
  EXPECT_EQ(Value(s, "request: "), "POST /upload/ok HTTP/1.1");
  const std::string length = Value(s, "content length: ");
  const std::string announced = length.substr(0, length.find(';'));
  EXPECT_EQ(length, announced + "; received: " + announced + "; extra after it: 0");
  EXPECT_EQ(Value(s, "header Host: "), "127.0.0.1:" + port);
  EXPECT_EQ(Value(s, "header Connection: "), "close");
  EXPECT_EQ(Value(s, "header Pragma: "), "no-cache");
  EXPECT_EQ(Value(s, "header User-Agent: "), "qelExcept/3.0");
  EXPECT_EQ(Value(s, "header From: "), "<rep@example.test>");
  EXPECT_EQ(Value(s, "header Content-Type: "), "multipart/form-data; boundary=qelExcept_Boundary_5f2c8e19a7d3b0");
  EXPECT_EQ(Value(s, "authorization: "), "user:pw");
  EXPECT_EQ(Value(s, "defects: "), "0");
  EXPECT_EQ(Value(s, "part 1: "), "name=MailFrom; filename=; type=text/plain; bytes=16");
  EXPECT_EQ(Value(s, "part 2: "), "name=MailSubject; filename=; type=text/plain; bytes=10");
  EXPECT_EQ(Value(s, "part 3: "), "name=MailBody; filename=; type=text/plain; bytes=13");
  EXPECT_EQ(ReadAll(dir + "\\part-3.bin"), "first\r\nsecond");
  EXPECT_EQ(Value(s, "part 4: "), "name=BugReport; filename=bugreport.txt; type=application/octet-stream; bytes=1000");
  EXPECT_EQ(ReadAll(dir + "\\part-4.bin"), report_);
  EXPECT_EQ(Value(s, "part 5: "), "name=ScreenShot; filename=shot.png; type=application/octet-stream; bytes=5000");
  EXPECT_EQ(ReadAll(dir + "\\part-5.bin"), screenshot_);
  EXPECT_EQ(Value(s, "part 6: "), "(missing)");
  EXPECT_EQ(std::to_string(ReadAll(dir + "\\body.bin").size()), announced);
  // Connecting and one step, the fields, one area per non-empty file, a step, the final one.
  const uint64_t fieldWeight = 3 * (2 + 2 + 33 + 2 + 38 + 1 + 4) + 8 + 11 + 8 + 16 + 10 + 13 + 100;
  EXPECT_EQ(progress_.Weights(), (std::vector<uint64_t>{100, 100, 100, fieldWeight, (33 + 9 + 13 + 102 + 1000) / 16,
                                                        (33 + 10 + 8 + 102 + 5000) / 16, 100, 500}));
  EXPECT_EQ(progress_.current, 7);
  EXPECT_EQ(progress_.closes, 1);
  EXPECT_TRUE(g_openedUrls.empty());
}

TEST_F(NetworkPeers, UploadStatusRules) {
  const int before = CountDirs("upload");
  MailJob job = HttpJob("redirect");
  ASSERT_TRUE(SendMailOrUpload(job));  // 302 with a Location: the page opens, success
  EXPECT_EQ(g_openedUrls, std::vector<std::string>{"http://127.0.0.1/thanks?id=" + std::to_string(before + 1)});
  job = HttpJob("redirect-file");
  EXPECT_FALSE(SendMailOrUpload(job));  // not a web page: nothing is opened
  EXPECT_EQ(g_openedUrls.size(), 1u);
  job = HttpJob("fail");
  EXPECT_FALSE(SendMailOrUpload(job));
  job = HttpJob("continue");
  EXPECT_TRUE(SendMailOrUpload(job));
  NetworkSwitchesOf().httpReplyTimeoutMs = 500;
  job = HttpJob("silent");
  EXPECT_FALSE(SendMailOrUpload(job));
  EXPECT_EQ(CountDirs("upload"), before + 5);
}

TEST_F(NetworkPeers, UploadAddressesProxiesAndHeaderValues) {
  const std::string port = Env("QX_HTTP_PORT");
  const int before = CountDirs("upload");
  MailJob job = HttpJob("");
  job.httpAddress = "127.0.0.1";  // no path: "/"
  job.account.clear();
  job.password.clear();
  ASSERT_TRUE(SendMailOrUpload(job));
  std::vector<std::string> s = SummaryLines(PeerDir("upload", before + 1));
  EXPECT_EQ(Value(s, "request: "), "POST / HTTP/1.1");
  EXPECT_EQ(Value(s, "authorization: "), "(none)");
  // The port in the address wins over the job's.
  job.httpAddress = "http://127.0.0.1:" + port + "/p/ok";
  job.port = 1;
  ASSERT_TRUE(SendMailOrUpload(job));
  s = SummaryLines(PeerDir("upload", before + 2));
  EXPECT_EQ(Value(s, "header Host: "), "127.0.0.1:" + port);
  // Through a proxy: the absolute address in the request line.
  NetworkSwitchesOf().fixedProxy = "http://127.0.0.1:" + port;
  job.httpAddress = "http://upload.example.test/via/ok";
  job.port = 80;
  ASSERT_TRUE(SendMailOrUpload(job));
  s = SummaryLines(PeerDir("upload", before + 3));
  EXPECT_EQ(Value(s, "request: "), "POST http://upload.example.test:80/via/ok HTTP/1.1");
  EXPECT_EQ(Value(s, "header Host: "), "upload.example.test:80");
  // Proxy use switched off: the fixed proxy is not used and the host does not resolve.
  NetworkSwitchesOf().proxyDisabled = true;
  EXPECT_FALSE(SendMailOrUpload(job));
  NetworkSwitchesOf() = NetworkSwitches();
  // Line breaks in the sender and in a field name stay inside their lines.
  job = HttpJob("ok");
  job.sender = "x@example.test\r\nX-Injected: yes";
  fields_.items = {{"Name\r\nX-Injected: yes", "v"}};
  ASSERT_TRUE(SendMailOrUpload(job));
  s = SummaryLines(PeerDir("upload", before + 4));
  EXPECT_EQ(Value(s, "header From: "), "<x@example.test  X-Injected: yes>");
  EXPECT_EQ(Value(s, "header count: "), "8");
  EXPECT_EQ(Value(s, "part 1: "), "name=Name  X-Injected: yes; filename=; type=text/plain; bytes=1");
  EXPECT_EQ(CountDirs("upload"), before + 4);
}

// ---- TLS ---------------------------------------------------------------------------------------

// The lines of what crossed in clear text, without their line breaks.
std::vector<std::string> CommandLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  for (size_t end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2) {
    lines.push_back(text.substr(at, end - at));
  }
  if (at < text.size()) lines.push_back(text.substr(at));
  return lines;
}

class TlsPeers : public NetworkPeers {
 protected:
  void SetUp() override {
    NetworkPeers::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    // The peers' certificates, trusted the way an administrator trusts a private server's.
    trustFile_ = TrustFilePath();
    ASSERT_FALSE(trustFile_.empty());
    ASSERT_TRUE(CopyFileA((Env("QX_PEER_OUT") + "\\tls\\trust.pem").c_str(), trustFile_.c_str(), FALSE));
  }
  void TearDown() override {
    if (!trustFile_.empty()) DeleteFileA(trustFile_.c_str());
    NetworkPeers::TearDown();
  }

  // What the SMTP peer's session number `index` received before TLS began.
  std::vector<std::string> Plain(int index) { return CommandLines(ReadAll(PeerDir("plain", index) + ".txt")); }

  std::string trustFile_;
};

TEST_F(TlsPeers, TrustFileSitsBesideTheModule) {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string expected(path, length);
  expected = expected.substr(0, expected.rfind('.')) + ".trust.pem";
  EXPECT_EQ(trustFile_, expected);
}

// The stream alone: each certificate against each name, and the reason it gives.
TEST_F(TlsPeers, EachCertificateFaultHasItsOwnReason) {
  WinsockScope winsock(MAKEWORD(2, 2));
  ASSERT_TRUE(winsock.ok());
  struct Case {
    const char* port;
    const char* host;
    TlsFailure expected;
  };
  const Case cases[] = {{"QX_HTTPS_PORT", "127.0.0.1", TlsFailure::kNone},
                        {"QX_HTTPS_PORT", "localhost", TlsFailure::kNone},
                        {"QX_HTTPS_PORT", "wrong.test", TlsFailure::kWrongName},
                        {"QX_HTTPS_PORT", "127.0.0.2", TlsFailure::kWrongName},
                        {"QX_HTTPS_MISNAMED_PORT", "wrong.test", TlsFailure::kNone},
                        {"QX_HTTPS_MISNAMED_PORT", "127.0.0.1", TlsFailure::kWrongName},
                        {"QX_HTTPS_UNTRUSTED_PORT", "127.0.0.1", TlsFailure::kUntrusted},
                        {"QX_HTTP_PORT", "127.0.0.1", TlsFailure::kHandshake}};  // a plain server
  in_addr loopback;
  ASSERT_TRUE(ResolveIpv4("127.0.0.1", loopback));
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.port) + " as " + c.host);
    SocketHandle s;
    ASSERT_TRUE(ConnectTcp(s, loopback, PortOf(c.port), 5000));
    ConnectionStream stream(s.get());
    EXPECT_EQ(stream.StartTls(c.host, 2000), c.expected == TlsFailure::kNone);
    EXPECT_EQ(stream.tlsFailure(), c.expected);
    EXPECT_EQ(stream.encrypted(), c.expected == TlsFailure::kNone);
    // Nothing but encrypted bytes: a stream that failed sends nothing at all.
    EXPECT_EQ(stream.Send(std::string("x")), c.expected == TlsFailure::kNone);
  }
}

TEST_F(TlsPeers, StartTlsMailArrivesWholeAndTheLoginNeverCrossesInClear) {
  for (const char* port : {"QX_SMTP_STARTTLS_PORT", "QX_SMTP_STARTTLS_REQUIRED_PORT"}) {
    SCOPED_TRACE(port);
    MailJob job = SmtpJob(PortOf(port));
    AddAttachments(job);
    const int mails = CountDirs("mail");
    const int plains = CountDirs("plain");
    ASSERT_TRUE(SendMailOrUpload(job));
    ASSERT_EQ(CountDirs("mail"), mails + 1);
    const std::string dir = PeerDir("mail", mails + 1);
    const std::vector<std::string> s = SummaryLines(dir);
    EXPECT_EQ(Value(s, "tls: "), "TLSv1.2");
    EXPECT_EQ(Value(s, "auth: "), "reporter");
    EXPECT_EQ(Value(s, "rcpt to: "), "a@example.test b@example.test");
    EXPECT_EQ(ReadAll(dir + "\\part-1.bin"), "line1\r\n.\r\n.hidden\r\nend");
    EXPECT_EQ(ReadAll(dir + "\\part-2.bin"), report_);
    EXPECT_EQ(ReadAll(dir + "\\part-3.bin"), screenshot_);
    // In clear text only the greeting and the upgrade: the account, the addresses and the
    // message all went encrypted (the first server offered AUTH LOGIN in clear text too).
    ASSERT_EQ(CountDirs("plain"), plains + 1);
    const std::vector<std::string> plain = Plain(plains + 1);
    ASSERT_EQ(plain.size(), 2u);
    EXPECT_EQ(plain[0].substr(0, 5), "EHLO ");
    EXPECT_EQ(plain[1], "STARTTLS");
  }
}

TEST_F(TlsPeers, PlainServerGetsThePlainDialogueUnchanged) {
  MailJob job = SmtpJob(PortOf("QX_SMTP_PORT"));
  job.recipients = "a@example.test";
  job.subject = "s";
  job.body = "b";
  const int plains = CountDirs("plain");
  ASSERT_TRUE(SendMailOrUpload(job));
  std::vector<std::string> plain = Plain(plains + 1);
  ASSERT_GE(plain.size(), 8u);
  EXPECT_EQ(plain[0].substr(0, 5), "EHLO ");
  plain[0] = "EHLO";
  const std::vector<std::string> commands(plain.begin(), plain.begin() + 7);
  EXPECT_EQ(commands, (std::vector<std::string>{"EHLO", "AUTH LOGIN", "cmVwb3J0ZXI=", "czNjcmV0OnB3",
                                                "MAIL FROM:<rep@example.test>", "RCPT TO:<a@example.test>", "DATA"}));
  EXPECT_EQ(plain.back(), "QUIT");
  EXPECT_EQ(plain[plain.size() - 2], ".");
}

TEST_F(TlsPeers, StartTlsWithAnUntrustedCertificateFailsBeforeTheLogin) {
  MailJob job = SmtpJob(PortOf("QX_SMTP_STARTTLS_UNTRUSTED_PORT"));
  const int mails = CountDirs("mail");
  const int plains = CountDirs("plain");
  EXPECT_FALSE(SendMailOrUpload(job));
  EXPECT_EQ(Plain(plains + 1).size(), 2u);  // EHLO, STARTTLS: no login in clear text afterwards
  // Without the trust file the peers' own certificate is just as unknown.
  ASSERT_TRUE(DeleteFileA(trustFile_.c_str()));
  job = SmtpJob(PortOf("QX_SMTP_STARTTLS_PORT"));
  EXPECT_FALSE(SendMailOrUpload(job));
  EXPECT_EQ(Plain(plains + 2), (std::vector<std::string>{Plain(plains + 2)[0], "STARTTLS"}));
  EXPECT_EQ(CountDirs("mail"), mails);
}

TEST_F(TlsPeers, Port465IsTlsFromTheFirstByte) {
  if (Env("QX_SMTP_IMPLICIT_TLS").empty()) {
    if (RunningUnderCi()) FAIL() << "the peer on 127.0.0.5:465 could not start";
    GTEST_SKIP() << "the peer on 127.0.0.5:465 could not start (see the peers' output)";
  }
  MailJob job = SmtpJob(465);
  job.server = "127.0.0.5";
  const int mails = CountDirs("mail");
  const int plains = CountDirs("plain");
  ASSERT_TRUE(SendMailOrUpload(job));
  ASSERT_EQ(CountDirs("mail"), mails + 1);
  const std::vector<std::string> s = SummaryLines(PeerDir("mail", mails + 1));
  EXPECT_EQ(Value(s, "tls: "), "TLSv1.2");
  EXPECT_EQ(Value(s, "auth: "), "reporter");
  EXPECT_TRUE(Plain(plains + 1).empty());
}

TEST_F(TlsPeers, HttpsUploadArrivesWholeWithTheExactLength) {
  const std::string port = Env("QX_HTTPS_PORT");
  const int before = CountDirs("upload");
  int uploads = 0;
  for (const char* address : {"https://127.0.0.1/upload/ok", "HTTPS://localhost/upload/ok"}) {
    SCOPED_TRACE(address);
    MailJob job = HttpJob("ok");
    job.httpAddress = address;
    job.port = PortOf("QX_HTTPS_PORT");
    AddAttachments(job);
    ASSERT_TRUE(SendMailOrUpload(job));
    const std::string dir = PeerDir("upload", before + ++uploads);
    const std::vector<std::string> s = SummaryLines(dir);
    EXPECT_EQ(Value(s, "tls: "), "TLSv1.2");
    EXPECT_EQ(Value(s, "request: "), "POST /upload/ok HTTP/1.1");
    const std::string length = Value(s, "content length: ");
    const std::string announced = length.substr(0, length.find(';'));
    EXPECT_EQ(length, announced + "; received: " + announced + "; extra after it: 0");
    EXPECT_EQ(std::to_string(ReadAll(dir + "\\body.bin").size()), announced);
    EXPECT_EQ(Value(s, "authorization: "), "user:pw");
    EXPECT_EQ(ReadAll(dir + "\\part-4.bin"), report_);
    EXPECT_EQ(ReadAll(dir + "\\part-5.bin"), screenshot_);
  }
  EXPECT_EQ(Value(SummaryLines(PeerDir("upload", before + 2)), "header Host: "), "localhost:" + port);
  EXPECT_EQ(CountDirs("upload"), before + 2);
}

TEST_F(TlsPeers, HttpsFailsOnAnUntrustedOrMisnamedCertificate) {
  const int before = CountDirs("upload");
  MailJob job = HttpJob("ok");
  job.httpAddress = "https://127.0.0.1/upload/ok";
  job.port = PortOf("QX_HTTPS_UNTRUSTED_PORT");
  EXPECT_FALSE(SendMailOrUpload(job));
  job.port = PortOf("QX_HTTPS_MISNAMED_PORT");  // trusted, but issued for wrong.test
  EXPECT_FALSE(SendMailOrUpload(job));
  job.port = PortOf("QX_HTTPS_PORT");
  job.httpAddress = "http://127.0.0.1/upload/ok";  // no scheme switch to TLS behind the user's back
  EXPECT_FALSE(SendMailOrUpload(job));
  ASSERT_TRUE(DeleteFileA(trustFile_.c_str()));
  job.httpAddress = "https://127.0.0.1/upload/ok";
  EXPECT_FALSE(SendMailOrUpload(job));  // the system's store alone does not know the peers
  EXPECT_EQ(CountDirs("upload"), before);
}

TEST_F(TlsPeers, HttpsThroughAProxyTunnel) {
  const std::string port = Env("QX_HTTPS_PORT");
  const int before = CountDirs("upload");
  NetworkSwitchesOf().fixedProxy = "127.0.0.1:" + Env("QX_CONNECT_PROXY_PORT");
  MailJob job = HttpJob("ok");
  job.httpAddress = "https://localhost:" + port + "/tunnel/ok";
  ASSERT_TRUE(SendMailOrUpload(job));
  EXPECT_EQ(ReadAll(PeerDir("connect", CountDirs("connect")) + ".txt"), "CONNECT localhost:" + port + " HTTP/1.1");
  const std::vector<std::string> s = SummaryLines(PeerDir("upload", before + 1));
  EXPECT_EQ(Value(s, "request: "), "POST /tunnel/ok HTTP/1.1");  // the path only: the proxy sees none of it
  EXPECT_EQ(Value(s, "tls: "), "TLSv1.2");
  EXPECT_EQ(Value(s, "header Host: "), "localhost:" + port);
}

}  // namespace
}  // namespace qx
