// The whole path of an automatic send: a program with the reporter and AutoSend settings
// faults in a worker thread; the reporter sends the report and the screenshot, zipped
// together, through the loopback aiosmtpd server with AUTH LOGIN and then closes the
// program. Runs beside the peers of network_peers.py, which writes what the server received.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "child_process_win.h"
#include "ci_environment.h"
#include "delivery_test_support.h"
#include "test_files.h"

namespace qx {
namespace {

std::string Value(const std::vector<std::string>& lines, const std::string& prefix) {
  for (const std::string& line : lines)
    if (line.compare(0, prefix.size(), prefix) == 0) return line.substr(prefix.size());
  return "(missing)";
}

TEST(AutoSendOverSmtp, AFaultReachesTheMailServerWithReportAndScreenshotZipped) {
  const std::string out = EnvironmentText("QX_PEER_OUT");
  if (out.empty() || EnvironmentText("QX_SMTP_PORT").empty()) {
    if (RunningUnderCi()) FAIL() << "the loopback peers are not running (network_peers.py starts them)";
    GTEST_SKIP() << "the loopback peers are not running (network_peers.py starts them)";
  }
  // The settings close the program (exit code 1) once the report is sent.
  EXPECT_EQ(RunChildProcess("\"" + SelfFolder() + "autosend_smtp_child.exe\" --smtp", 120000), 1);
  const std::string mail = out + "\\mail-1";
  std::vector<std::string> summary = LinesOfRecord(ReadFileBytes(mail + "\\summary.txt"));
  ASSERT_FALSE(summary.empty()) << "no mail arrived";
  EXPECT_EQ(Value(summary, "mail from: "), "reporter@example.test");
  EXPECT_EQ(Value(summary, "rcpt to: "), "bugs@example.org");
  EXPECT_EQ(Value(summary, "auth: "), "reporter");
  EXPECT_EQ(Value(summary, "header To: "), "<bugs@example.org>");
  EXPECT_EQ(Value(summary, "header Subject: "), "QelException in autosend_smtp_child.exe");
  EXPECT_EQ(Value(summary, "multipart: "), "yes");
  const std::string body = ReadFileBytes(mail + "\\part-1.bin");
  EXPECT_EQ(body.substr(0, 28), "Access violation at address ");
  EXPECT_NE(body.find("Write of address $0."), std::string::npos) << body;
  const std::string attachment = Value(summary, "part 2: ");
  EXPECT_EQ(attachment.substr(0, attachment.find("; bytes=")),
            "application/octet-stream; name=bugreport.zip; filename=bugreport.zip; encoding=base64")
      << attachment;
  EXPECT_EQ(Value(summary, "part 3: "), "(missing)");
  const std::string zip = ReadFileBytes(mail + "\\part-2.bin");
  EXPECT_EQ(zip.substr(0, 4), "PK\x03\x04");
  EXPECT_EQ(ZipEntryNames(zip), (std::vector<std::string>{"bugreport.txt", "screenshot.png"}));
}

}  // namespace
}  // namespace qx
