// What a send hands on, byte for byte: the MAPI recipients and flags, the "mailto:" link
// and its command line, the channel chosen, the sender, the progress steps and the
// grouping of attachments into zip archives.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "desktop_mail_texts.h"
#include "send_plan.h"

namespace qx {
namespace {

// ---- MAPI ----

TEST(MapiRecipients, DisplayNamesStayExactAndAddressesGetTheSmtpPrefix) {
  auto recipients = MapiRecipients(" Bug Desk <bugs@example.org>;  ops@example.org ,<x@y.z");
  ASSERT_EQ(recipients.size(), 3u);
  EXPECT_EQ(recipients[0].name, "Bug Desk ");  // the space before "<" stays
  EXPECT_EQ(recipients[0].address, "SMTP:bugs@example.org");
  EXPECT_EQ(recipients[1].name, "ops@example.org");
  EXPECT_EQ(recipients[1].address, "SMTP:ops@example.org");
  EXPECT_EQ(recipients[2].name, "");
  EXPECT_EQ(recipients[2].address, "SMTP:x@y.z");  // no ">": to the end
  EXPECT_TRUE(MapiRecipients("").empty());
  EXPECT_TRUE(MapiRecipients("  ").empty());
}

TEST(MapiFlags, NoDialogOnlyForAHiddenSendThatNamesItsRecipients) {
  EXPECT_EQ(MapiSendFlags(true, 1), 0u);
  EXPECT_EQ(MapiSendFlags(true, 0), 9u);
  EXPECT_EQ(MapiSendFlags(false, 0), 9u);
  EXPECT_EQ(MapiSendFlags(false, 2), 9u);
  EXPECT_EQ(MapiOutcome(0), kMailSent);
  EXPECT_EQ(MapiOutcome(1), kMailCancelled);
  EXPECT_EQ(MapiOutcome(2), kMailFailed);
  EXPECT_EQ(MapiOutcome(26), kMailFailed);
}

// ---- mailto ----

TEST(MailtoEscape, EscapesExactlyTheElevenCharacters) {
  EXPECT_EQ(MailtoEscape("a&b?c"), "a%26b%3Fc");
  EXPECT_EQ(MailtoEscape("line 1\r\nline 2"), "line%201%0D%0Aline%202");
  EXPECT_EQ(MailtoEscape("\"#%+<>"), "%22%23%25%2B%3C%3E");
  // Everything else stays, bytes of 128 and above too.
  EXPECT_EQ(MailtoEscape("x=y;z/\t\xE4\xFF"), "x=y;z/\t\xE4\xFF");
  EXPECT_EQ(MailtoEscape(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(MailtoLink, RecipientsSubjectAndBody) {
  EXPECT_EQ(MailtoLink("a@b.c; d@e.f", "Crash & burn?", "1\r\n2"),
            "mailto:a@b.c,d@e.f?subject=Crash%20%26%20burn%3F&body=1%0D%0A2");
  EXPECT_EQ(MailtoLink("", "", ""), "mailto:?subject=&body=");
}

TEST(MailtoCommand, ReplacesEveryPercentOneOrAppendsTheLink) {
  EXPECT_EQ(MailtoCommand("mail.exe -compose \"%1\" -again %1", "L"),
            "mail.exe -compose \"L\" -again L");
  EXPECT_EQ(MailtoCommand("mail.exe", "L"), "mail.exe L");
  EXPECT_EQ(MailtoCommand("mail.exe ", "L"), "mail.exe L");
  EXPECT_EQ(MailtoCommand("mail.exe %2", "L"), "mail.exe %2 L");
  EXPECT_EQ(MailtoCommand("", "L"), "L");
}

TEST(CutCommandLine, NeverSplitsAnEscape) {
  EXPECT_EQ(CutCommandLine("abc", 5), "abc");
  EXPECT_EQ(CutCommandLine("abcdef", 6), "abcdef");
  EXPECT_EQ(CutCommandLine("abcdefg", 6), "abcdef");
  EXPECT_EQ(CutCommandLine("abcde%0A", 6), "abcde");   // "%" last
  EXPECT_EQ(CutCommandLine("abcd%0A", 6), "abcd");     // "%" one before last
  EXPECT_EQ(CutCommandLine("abc%0Ax", 6), "abc%0A");   // the escape ends at the cut
  // A body of line breaks, escaped, cut at the real limit: at most 32766 characters and
  // only whole escapes after the link's start.
  for (size_t shift = 0; shift < 3; ++shift) {
    std::string command = MailtoCommand("mail.exe", MailtoLink("", std::string(1 + shift, 's'),
                                                               std::string(20000, '\n')));
    std::string cut = CutCommandLine(command);
    ASSERT_LE(cut.size(), kCommandLineLimit);
    ASSERT_GE(cut.size(), kCommandLineLimit - 2);
    const size_t body = cut.find("&body=") + 6;
    ASSERT_EQ((cut.size() - body) % 3, 0u) << shift;
    for (size_t i = body; i < cut.size(); i += 3) ASSERT_EQ(cut.substr(i, 3), "%0A");
  }
}

// ---- the plan of a send ----

TEST(SendPlan, OneNetworkChannelTheFirstSwitchedOn) {
  EXPECT_EQ(FirstNetworkChannel({}), NetworkChannel::kNone);
  EXPECT_EQ(FirstNetworkChannel({true, true, true, true}), NetworkChannel::kHttp);
  EXPECT_EQ(FirstNetworkChannel({false, true, true, false}), NetworkChannel::kSmtpDirect);
  EXPECT_EQ(FirstNetworkChannel({false, false, true, false}), NetworkChannel::kSmtpServer);
  EXPECT_FALSE(NeedsAttachments({}));
  EXPECT_TRUE(NeedsAttachments({false, false, false, true}));
  EXPECT_TRUE(NeedsAttachments({false, false, true, false}));
}

TEST(SendPlan, SenderFromMailFromOrTheFirstRecipient) {
  EXPECT_EQ(MailSender("me@here.org", "a@b.c"), "me@here.org");
  EXPECT_EQ(MailSender("", "Desk <a@b.c>; d@e.f"), "qelExcept <a@b.c>");
  EXPECT_EQ(MailSender("", " d@e.f ,x@y.z"), "qelExcept <d@e.f>");
  EXPECT_EQ(MailSender("", ""), "");
}

TEST(SendPlan, ProgressStepsOfEachChannel) {
  SendStepTexts t{"prep", "mx", "conn", "auth", "mail", "field", "att", "final"};
  using V = std::vector<std::string>;
  EXPECT_EQ(SendProgressSteps(NetworkChannel::kSmtpDirect, true, t),
            (V{"prep", "mx", "conn", "auth", "mail", "att", "final"}));
  EXPECT_EQ(SendProgressSteps(NetworkChannel::kSmtpServer, false, t),
            (V{"prep", "conn", "auth", "mail", "final"}));
  EXPECT_EQ(SendProgressSteps(NetworkChannel::kHttp, true, t),
            (V{"prep", "conn", "field", "att", "final"}));
}

TEST(SendPlan, FilesSharingAZipNameTravelAsOneArchiveInTheFirstOnesPlace) {
  std::set<std::string> present = {"C:\\r.txt", "C:\\s.png", "C:\\a.log", "C:\\b.log", "C:\\c.ini"};
  auto exists = [&](const std::string& path) { return present.count(path) > 0; };
  std::vector<SendAttachment> list = {
      {"C:\\r.txt", "bugreport.txt", "Report.zip", "BugReport"},
      {"C:\\s.png", "screenshot.png", "", "ScreenShot"},
      {"C:\\gone.txt", "gone.txt", "report.ZIP", "Gone"},  // missing: left out
      {"C:\\a.log", "", "logs.zip", "A"},
      {"C:\\b.log", "second.log", "REPORT.zip", "B"},
      {"C:\\c.ini", "c.ini", "", "C"},
  };
  AttachmentPlan plan = PlanAttachments(list, exists, "T:\\tmp\\");
  ASSERT_EQ(plan.zips.size(), 2u);
  EXPECT_EQ(plan.zips[0].archivePath, "T:\\tmp\\Report.zip");
  EXPECT_EQ(plan.zips[0].sources, (std::vector<std::string>{"C:\\r.txt", "C:\\b.log"}));
  EXPECT_EQ(plan.zips[0].entryNames, (std::vector<std::string>{"bugreport.txt", "second.log"}));
  EXPECT_EQ(plan.zips[1].archivePath, "T:\\tmp\\logs.zip");
  EXPECT_EQ(plan.zips[1].entryNames, (std::vector<std::string>{"a.log"}));  // the file's name
  ASSERT_EQ(plan.items.size(), 4u);
  EXPECT_EQ(plan.items[0].path, "T:\\tmp\\Report.zip");
  EXPECT_EQ(plan.items[0].sendAs, "Report.zip");
  EXPECT_EQ(plan.items[0].fieldName, "Report.zip");
  EXPECT_EQ(plan.items[0].zipIndex, 0);
  EXPECT_EQ(plan.items[1].path, "C:\\s.png");
  EXPECT_EQ(plan.items[1].fieldName, "ScreenShot");
  EXPECT_EQ(plan.items[1].zipIndex, -1);
  EXPECT_EQ(plan.items[2].path, "T:\\tmp\\logs.zip");
  EXPECT_EQ(plan.items[3].path, "C:\\c.ini");
  EXPECT_TRUE(PlanAttachments({}, exists, "T:\\").items.empty());
}

}  // namespace
}  // namespace qx
