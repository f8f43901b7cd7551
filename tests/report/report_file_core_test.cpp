// The report file's content rules: absolute names, duplicate keys, duplicate removal with
// the repeat count, trimming to whole reports.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "report_file_core.h"
#include "report_layout.h"

namespace qx {
namespace {

std::string Report(const std::string& crc, const std::string& cls = "EAccessViolation",
                   const std::string& version = "1.0.0.0", const std::string& body = "x") {
  std::vector<ReportField> header = {{"date/time", "2026-12-07, 22:10:05, 7ms"},
                                     {"executable", "app.exe"},
                                     {"version", version},
                                     {"callstack crc", crc},
                                     {"exception number", "1"}};
  if (!cls.empty()) header.push_back({"exception class", cls});
  return ReportLayoutText(header, {{"main thread", body}});
}

const char kCrcA[] = "$0012abcd, $9e6495a3, $00000000";
const char kCrcB[] = "$0012abcd, $9e6495a3, $11111111";  // same first two values
const char kCrcC[] = "$0012abcd, $00000001, $00000000";

TEST(ReportFileCore, AbsoluteNames) {
  const std::string exe = "D:\\apps\\server\\";
  EXPECT_EQ(AbsoluteReportPath("bugreport.txt", exe), "D:\\apps\\server\\bugreport.txt");
  EXPECT_EQ(AbsoluteReportPath("a", exe), "D:\\apps\\server\\a");
  EXPECT_EQ(AbsoluteReportPath("\\logs\\b.txt", exe), "D:\\logs\\b.txt");
  EXPECT_EQ(AbsoluteReportPath("C:\\x\\.\\y\\..\\z.txt", exe), "C:\\x\\z.txt");
  EXPECT_EQ(AbsoluteReportPath("..\\logs\\b.txt", exe), "D:\\apps\\logs\\b.txt");
  EXPECT_EQ(AbsoluteReportPath("\\\\srv\\share\\b.txt", exe), "\\\\srv\\share\\b.txt");
}

TEST(ReportFileCore, DuplicateKeys) {
  DuplicateRules rules;
  EXPECT_EQ(DuplicateKey(Report(kCrcA), rules), std::string(kCrcA).substr(0, 20));
  EXPECT_EQ(DuplicateKey(Report(kCrcA, ""), rules), kCrcA);  // a freeze: whole value
  EXPECT_EQ(DuplicateKey(Report("will be calculated soon"), rules), "");
  rules.dupExceptDef = 0;
  EXPECT_EQ(DuplicateKey(Report(kCrcA), rules), "$0012abcd");
  rules.noDupExcepts = false;
  EXPECT_EQ(DuplicateKey(Report(kCrcA), rules), "");
}

TEST(ReportFileCore, DuplicateReplacedWithCount) {
  std::string other = Report(kCrcC) + "\r\n\r\n";
  std::string content = other + Report(kCrcA) + "\r\n\r\n" + other;
  std::string report = Report(kCrcB);
  ASSERT_TRUE(RemoveDuplicate(content, report, std::string(kCrcB).substr(0, 20)));
  EXPECT_EQ(content, other + other);
  EXPECT_EQ(ReadHeaderValue(report, "count"), "2");
  EXPECT_NE(report.find(std::string("callstack crc    : ") + kCrcB + "\r\ncount            : 2\r\n"),
            std::string::npos);

  // The next repeat finds the report with its count and counts on.
  content += report + "\r\n\r\n";
  std::string third = Report(kCrcA);
  ASSERT_TRUE(RemoveDuplicate(content, third, std::string(kCrcA).substr(0, 20)));
  EXPECT_EQ(content, other + other);
  EXPECT_EQ(ReadHeaderValue(third, "count"), "3");
}

TEST(ReportFileCore, OnlyTheSameBuildIsADuplicate) {
  std::string key = std::string(kCrcA).substr(0, 20);
  std::string content = Report(kCrcA, "EAccessViolation", "2.0.0.0") + "\r\n\r\n";
  std::string report = Report(kCrcA);
  EXPECT_FALSE(RemoveDuplicate(content, report, key));
  content = Report(kCrcA, "EZeroDivide") + "\r\n\r\n";
  EXPECT_FALSE(RemoveDuplicate(content, report, key));
  // Without a version the file dates decide; both missing counts as equal.
  content = Report(kCrcA, "EAccessViolation", "") + "\r\n\r\n";
  std::string noVersion = Report(kCrcA, "EAccessViolation", "");
  std::string dated = noVersion;
  InsertHeaderLine(dated, "module date/time", "executable", "2026-01-01 10:00");
  EXPECT_FALSE(RemoveDuplicate(content, dated, key));
  EXPECT_TRUE(RemoveDuplicate(content, noVersion, key));
  EXPECT_EQ(content, "");
}

TEST(ReportFileCore, ChecksumTextInASectionIsNoHit) {
  std::string key = std::string(kCrcA).substr(0, 20);
  std::string content = Report(kCrcC, "EAccessViolation", "1.0.0.0",
                               std::string("quoted: ") + kCrcA) + "\r\n\r\n";
  std::string report = Report(kCrcA);
  EXPECT_FALSE(RemoveDuplicate(content, report, key));
}

TEST(ReportFileCore, FirstReportNeedsDateTimeAtFileStart) {
  std::string key = std::string(kCrcA).substr(0, 20);
  std::string content = "garbage\r\n" + Report(kCrcA) + "\r\n\r\n";
  std::string report = Report(kCrcA);
  EXPECT_FALSE(RemoveDuplicate(content, report, key));
  content = Report(kCrcA) + "\r\n\r\n";
  EXPECT_TRUE(RemoveDuplicate(content, report, key));
}

TEST(ReportFileCore, DateTimeInsideASectionIsNoBoundary) {
  // A user's text in a section may hold a "date/time" line; it must not split the report.
  std::string tricky = Report(kCrcC, "EAccessViolation", "1.0.0.0",
                              "date/time         : 2020-01-01\r\nmore");
  std::string content = Report(kCrcA) + "\r\n\r\n" + tricky + "\r\n\r\n";
  std::string report = Report(kCrcA);
  ASSERT_TRUE(RemoveDuplicate(content, report, std::string(kCrcA).substr(0, 20)));
  EXPECT_EQ(content, tricky + "\r\n\r\n");
}

TEST(ReportFileCore, TrimKeepsWholeRecentReports) {
  std::string one = Report(kCrcA, "EAccessViolation", "1.0.0.0", std::string(990, 'a')) + "\r\n\r\n";
  std::string content;
  while (content.size() <= 100000) content += one;
  size_t size = content.size();
  ASSERT_TRUE(TrimReports(content, 100000));
  EXPECT_LT(content.size(), 75000u);
  EXPECT_GE(content.size() + one.size(), 75000u);
  EXPECT_EQ(content.size() % one.size(), 0u);
  EXPECT_EQ(content.compare(0, 9, "date/time"), 0);
  EXPECT_LT(content.size(), size);

  std::string single = Report(kCrcA, "E", "1", std::string(120000, 'b')) + "\r\n\r\n";
  std::string copy = single;
  EXPECT_FALSE(TrimReports(copy, 100000));
  EXPECT_EQ(copy, single);
}

TEST(ReportFileCore, ArbitraryContentIsOnlyEverCutAtReportStarts) {
  // Files assembled from reports, damaged pieces and look-alike lines: whatever is removed
  // is whole reports, and the new report only ever gains a "count" line.
  std::mt19937 random(12345);
  const std::vector<std::string> pieces = {
      Report(kCrcA) + "\r\n\r\n", Report(kCrcB, "EAccessViolation", "") + "\r\n\r\n",
      Report(kCrcC) + "\r\n\r\n", "date/time", "\r\n", "\r\n\r\ndate/time  : x",
      ": $0012abcd, $9e6495a3", std::string(3000, 'q'), "date/time:\r\n"};
  for (int round = 0; round < 400; ++round) {
    std::string content;
    int count = 1 + static_cast<int>(random() % 40);
    for (int i = 0; i < count; ++i) content += pieces[random() % pieces.size()];
    std::string original = content;
    std::string report = Report(kCrcA);
    std::string before = report;
    size_t at = 0, removed = 0;
    if (RemoveDuplicate(content, report, std::string(kCrcA).substr(0, 20), &at, &removed)) {
      EXPECT_TRUE(IsReportStart(original, at)) << round;
      EXPECT_TRUE(at + removed == original.size() || IsReportStart(original, at + removed))
          << round;
      EXPECT_EQ(ReadHeaderValue(original.substr(at, removed), "callstack crc").substr(0, 20),
                std::string(kCrcA).substr(0, 20));
      EXPECT_EQ(original.substr(0, at) + original.substr(at + removed), content) << round;
      EXPECT_EQ(report.size(), before.size() + std::string("\r\ncount            : 2").size());
    } else {
      EXPECT_EQ(content, original);
      EXPECT_EQ(report, before);
    }
    std::string trimmed = content;
    if (TrimReports(trimmed, 20000)) {
      EXPECT_LT(trimmed.size(), 15000u);
      EXPECT_EQ(content.compare(content.size() - trimmed.size(), trimmed.size(), trimmed), 0);
      EXPECT_TRUE(IsReportStart(content, content.size() - trimmed.size())) << round;
    } else {
      EXPECT_EQ(trimmed, content);
    }
  }
}

}  // namespace
}  // namespace qx
