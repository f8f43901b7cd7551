// The report's text rules: layout byte for byte, field-list semantics, the checksum against
// Python's zlib, the value texts, list columns and the report file's content rules.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "callstack_crc.h"
#include "crc_expected.h"
#include "field_items.h"
#include "list_texts.h"
#include "machine_texts.h"
#include "report_file_core.h"
#include "report_layout.h"

namespace qx {
namespace {

TEST(ReportLayout, HeaderAndSectionsByteForByte) {
  std::vector<ReportField> header = {
      {"date/time", "2026-12-07, 22:10:05, 7ms"},
      {"exception number", "1"},
      {"exception message", "line one\r\nline two\rthree\nfour  five    six."},
      {"qelExcept version", "3.0l"},
  };
  std::vector<ReportField> sections = {
      {"main thread ($1a4):", "first\r\n\r\n  indented  \t\r\nlast\r\n"},
      {"modules", "a\rb\n\nc"},
  };
  std::string expected =
      "date/time         : 2026-12-07, 22:10:05, 7ms\r\n"
      "exception number  : 1\r\n"
      "exception message : line one line two three four five six.\r\n"
      "qelExcept version : 3.0l\r\n"
      "\r\n"
      "main thread ($1a4):\r\n"
      "first\r\n"
      ".\r\n"
      "  indented\r\n"
      "last\r\n"
      ".\r\n"
      "\r\n"
      "modules:\r\n"
      "a\r\n"
      "b\r\n"
      ".\r\n"
      "c";
  EXPECT_EQ(ReportLayoutText(header, sections), expected);
}

TEST(ReportLayout, EmptyListsAndSingleLines) {
  EXPECT_EQ(ReportLayoutText({}, {}), "");
  EXPECT_EQ(ReportLayoutText({{"a", "1"}, {"bcd", "2"}}, {}), "a   : 1\r\nbcd : 2");
  EXPECT_EQ(ReportLayoutText({{"a", "1"}}, {{"s", ""}}), "a : 1\r\n\r\ns:\r\n.");
  EXPECT_EQ(OneLineValue("a\r\n\r\nb"), "a b");
  EXPECT_EQ(NormalizedExceptionMessage("Access violation!.!"), "Access violation.");
  EXPECT_EQ(NormalizedExceptionMessage(""), ".");
}

TEST(ReportLayout, HeaderHelpers) {
  std::string report = ReportLayoutText(
      {{"date/time", "x"}, {"callstack crc", "$00000001, $00000002, $00000003"},
       {"exception class", "EAccessViolation"}, {"exception classic", "no"}},
      {{"s", "t"}});
  EXPECT_EQ(ReadHeaderValue(report, "callstack crc"), "$00000001, $00000002, $00000003");
  EXPECT_EQ(ReadHeaderValue(report, "date/time"), "");      // the first line cannot be read
  EXPECT_EQ(ReadHeaderValue(report, "exception"), "");      // only the start of a name
  EXPECT_EQ(ReadHeaderValue(report, "missing"), "");
  EXPECT_TRUE(SameHeaderValue(report, report + "x", "exception class"));
  EXPECT_TRUE(SameHeaderValue(report, "", "missing"));
  EXPECT_FALSE(SameHeaderValue(report, "", "exception class"));

  InsertHeaderLine(report, "count", "callstack crc", "2");
  EXPECT_NE(report.find("\r\ncallstack crc     : $00000001, $00000002, $00000003\r\n"
                        "count             : 2\r\nexception class"),
            std::string::npos);
  std::string unchanged = report;
  InsertHeaderLine(report, "count", "no such line", "3");
  EXPECT_EQ(report, unchanged);
}

TEST(FieldItems, WritesIgnoredUntilDataIsAccepted) {
  FieldItems items;
  EXPECT_FALSE(items.SetContent("a", "1"));
  EXPECT_FALSE(items.Insert(0, "a", "1"));
  EXPECT_EQ(items.Count(), 0);
  items.SetAcceptData(true);
  EXPECT_TRUE(items.SetContent("a", "1"));
  EXPECT_EQ(items.Count(), 1);
  EXPECT_EQ(items.Capacity(), 16u);
}

TEST(FieldItems, CaseInsensitiveFindExactOverwrite) {
  FieldItems items;
  items.SetAcceptData(true);
  items.SetContent("Contact Name", "  Joe \r\n");
  EXPECT_EQ(items.Content("contact name"), "Joe");
  EXPECT_EQ(items.Find("CONTACT NAME"), 0);
  EXPECT_EQ(items.Find("contact"), -1);
  EXPECT_FALSE(items.SetContent("Contact Name", "Joe"));  // same spelling, same value
  EXPECT_TRUE(items.SetContent("contact name", "Joe"));   // spelling differs: a change
  EXPECT_EQ(items.Name(0), "contact name");
  EXPECT_FALSE(items.Rename(0, "contact name"));
  EXPECT_TRUE(items.Rename(0, "Contact name"));
  EXPECT_FALSE(items.Rename(1, "x"));
  EXPECT_EQ(items.Name(-1), "");
  EXPECT_TRUE(items.SetContent("CONTACT NAME", " \t"));  // blank deletes
  EXPECT_EQ(items.Count(), 0);
  EXPECT_FALSE(items.SetContent("absent", ""));
}

TEST(FieldItems, InsertLeavesOneFieldOfAName) {
  FieldItems items;
  items.SetAcceptData(true);
  for (const char* name : {"a", "b", "c", "d"}) items.SetContent(name, name);
  EXPECT_FALSE(items.Insert(0, "A", "a"));  // already there with that value
  EXPECT_TRUE(items.Insert(0, "A", "new"));
  EXPECT_EQ(items.SettingsText(), "A=new|b=b|c=c|d=d");
  EXPECT_TRUE(items.Insert(3, "b", "moved"));  // stood before the index: index moves down
  EXPECT_EQ(items.SettingsText(), "A=new|c=c|b=moved|d=d");
  EXPECT_TRUE(items.Insert(99, "e", "end"));
  EXPECT_TRUE(items.Insert(-5, "f", "front"));
  EXPECT_EQ(items.SettingsText(), "f=front|A=new|c=c|b=moved|d=d|e=end");
  EXPECT_FALSE(items.Insert(1, "g", "   "));
}

TEST(FieldItems, InsertionPointMoves) {
  FieldItems items;
  items.SetAcceptData(true);
  for (const char* name : {"a", "b", "c"}) items.SetContent(name, "x");
  items.SetInsertionPoint(2);
  items.SetContent("n1", "x");  // goes to 2, point moves to 3
  items.SetContent("n2", "x");  // goes to 3
  EXPECT_EQ(items.SettingsText(), "a=x|b=x|n1=x|n2=x|c=x");
  EXPECT_EQ(items.InsertionPoint(), 4);
  items.Delete(0);
  EXPECT_EQ(items.InsertionPoint(), 3);
  items.Delete(3);  // after the point: stays
  EXPECT_EQ(items.InsertionPoint(), 3);
  items.Insert(0, "z", "x");
  EXPECT_EQ(items.InsertionPoint(), 4);
  items.Insert(4, "y", "x");  // at the point: moves too
  EXPECT_EQ(items.InsertionPoint(), 5);
  items.SetInsertionPoint(0);
  items.SetContent("last", "x");
  EXPECT_EQ(items.Name(items.Count() - 1), "last");
  EXPECT_TRUE(items.DeleteName("LAST"));
  EXPECT_FALSE(items.DeleteName("last"));
}

TEST(FieldItems, GrowthIsOneAndAHalf) {
  FieldItems items;
  items.SetAcceptData(true);
  for (int i = 0; i <= 16; ++i) items.SetContent("f" + std::to_string(i), "v");
  EXPECT_EQ(items.Capacity(), 24u);
}

TEST(AttachmentItems, NamesFilledInAndSettingsText) {
  AttachmentItems items;
  EXPECT_FALSE(items.Add("", "x", "", ""));
  EXPECT_TRUE(items.Add("C:\\temp\\shot.png", "", "", ""));
  EXPECT_TRUE(items.Add("C:\\a.b\\log", "log.txt.gz", "logs.zip", ""));
  EXPECT_EQ(items.SettingsText(), "C:\\temp\\shot.png>shot.png>>shot|C:\\a.b\\log>log.txt.gz>logs.zip>log.txt");
  EXPECT_TRUE(items.Delete("c:\\TEMP\\shot.png"));
  EXPECT_FALSE(items.Delete("c:\\TEMP\\shot.png"));
  EXPECT_TRUE(items.Clear());
  EXPECT_FALSE(items.Clear());
}

TEST(CallstackCrc, MatchesPythonZlibReference) {
  EXPECT_EQ(CrcContinue(0xFFFFFFFFu, std::string("123456789")) ^ 0xFFFFFFFFu, 0xCBF43926u);
  std::vector<CrcStackItem> crashed(3), other(2);
  crashed[0] = {0x00401234, 0x00401200, "QXUdfLib.dll", "QXUdf", "fn_Max", false};
  crashed[1] = {0x7c801000, 0, "kernel32.dll", "", "", false};
  crashed[2] = {0x00402010, 0x00402000, "Test.EXE", "", "Main\xC4\xD6\xDC", true};
  other[0] = {0x00403005, 0x00403000, "Test.EXE", "Unit", "Worker", true};
  other[1] = {0x00404000, 0, "", "", "", false};
  ThreadCrc first = ThreadCallstackCrc(crashed);
  ThreadCrc second = ThreadCallstackCrc(other);
  EXPECT_EQ(first.location, kRefCrashedLocation);
  EXPECT_EQ(first.stack, kRefCrashedStack);
  EXPECT_EQ(second.stack, kRefOtherStack);
  EXPECT_TRUE(second.hasLines);
  EXPECT_EQ(CrcContinueValue(first.stack, second.stack), kRefAllThreads);
  // An item without function start counts by its address alone.
  EXPECT_EQ(CallstackItemValue(crashed[1]), 0x7c801000u);
  // The lower-casing leaves bytes other than A-Z and the three umlauts alone.
  EXPECT_EQ(CrcLowerCase("AZaz\xC4\xD6\xDC\xC5@["), "azaz\xE4\xF6\xFC\xC5@[");
}

TEST(CallstackCrc, TextForm) {
  const uint32_t values[3] = {0x0012abcd, 0x9e6495a3, 0};
  std::string text = CallstackCrcText(values);
  EXPECT_EQ(text, "$0012abcd, $9e6495a3, $00000000");
  EXPECT_EQ(text.size(), 31u);
}

TEST(MachineTexts, TimeSpans) {
  const std::pair<int64_t, const char*> cases[] = {
      {0, ""},          {-5, ""},           {59, "59 seconds "},     {60, "1 minute "},
      {61, "1 minute 1 second "}, {3600, "1 hour "}, {3660, "1 hour 1 minute "},
      {86400, "1 day "}, {90061, "1 day 1 hour "}, {93784, "1 day 2 hours "},
      {172800, "2 days "}};
  for (const auto& [seconds, text] : cases) EXPECT_EQ(TimeSpanToText(seconds), text) << seconds;
  EXPECT_EQ(ProgramUpTimeText(250), "250 milliseconds");
  EXPECT_EQ(ProgramUpTimeText(61500), "1 minute 1 second ");
}

TEST(MachineTexts, Sizes) {
  const std::pair<int64_t, const char*> cases[] = {
      {0, "0 Bytes"},         {1023, "1023 Bytes"},        {1024, "1.00 KB"},
      {1535, "1.49 KB"},      {1536, "1.50 KB"},           {1048575, "1023.99 KB"},
      {1048576, "1.00 MB"},   {1073741824, "1.00 GB"},     {-2048, "2.00 KB"},
      {5368709120LL * 100, "500.00 GB"}};
  for (const auto& [bytes, text] : cases) EXPECT_EQ(SizeToText(bytes, '.'), text) << bytes;
  EXPECT_EQ(SizeToText(1073741824, ','), "1,00 GB");
}

TEST(MachineTexts, OsNamesAndIndexes) {
  EXPECT_STREQ(OsTableName(0), "None");
  EXPECT_STREQ(OsTableName(2), "Windows 95 OSR-2");
  EXPECT_STREQ(OsTableName(15), "Windows 2008 R2");
  EXPECT_STREQ(OsTableName(16), "Windows NT New");
  EXPECT_STREQ(OsTableName(17), "None");
  EXPECT_EQ(OsIndex9x(3, 95, 0), 0);
  EXPECT_EQ(OsIndex9x(4, 0, 950), 1);
  EXPECT_EQ(OsIndex9x(4, 0, 1111), 2);
  EXPECT_EQ(OsIndex9x(4, 10, 1998), 3);
  EXPECT_EQ(OsIndex9x(4, 10, 2222), 4);
  EXPECT_EQ(OsIndex9x(4, 10, 3000), 5);
  EXPECT_EQ(OsIndex9x(4, 90, 3000), 5);
  EXPECT_EQ(OsIndex9x(4, 91, 0), 6);
  EXPECT_EQ(OsIndex9x(5, 0, 0), 6);
  EXPECT_EQ(OsIndexNt(3, 51, true), 7);
  EXPECT_EQ(OsIndexNt(4, 0, true), 8);
  EXPECT_EQ(OsIndexNt(5, 0, false), 9);
  EXPECT_EQ(OsIndexNt(5, 1, false), 10);
  EXPECT_EQ(OsIndexNt(5, 2, true), 10);
  EXPECT_EQ(OsIndexNt(5, 2, false), 11);
  EXPECT_EQ(OsIndexNt(6, 0, true), 12);
  EXPECT_EQ(OsIndexNt(6, 0, false), 13);
  EXPECT_EQ(OsIndexNt(6, 1, true), 14);
  EXPECT_EQ(OsIndexNt(6, 1, false), 15);
  EXPECT_EQ(OsIndexNt(6, 2, true), 16);
  EXPECT_EQ(OsIndexNt(10, 0, true), 16);
}

TEST(MachineTexts, ValueFormats) {
  ReportTime t{2026, 12, 1, 7, 22, 10, 5, 7};
  EXPECT_EQ(HeaderDateTimeText(t), "2026-12-07, 22:10:05, 7ms");
  EXPECT_EQ(FileDateTimeText({2026, 1, 0, 2, 3, 4, 5, 6}), "2026-01-02 03:04\r\n");
  EXPECT_EQ(FourPartVersionText(0x0001000200030004ull), "1.2.3.4");
  EXPECT_EQ(FourPartVersionText(0), "");
  EXPECT_EQ(DollarHex(6700), "$1a2c");
  EXPECT_EQ(PhysicalMemoryText(3650722201ull, 8482560819ull), "3482/8090 MB (free/total)");
  EXPECT_EQ(CleanProcessorName("   Intel(R)  Core(TM)   i7 \t"), "Intel(R) Core(TM) i7");
  EXPECT_EQ(DriveFreeText("c:\\windows", 1536, '.'), "(C:) 1.50 KB");
  EXPECT_EQ(DriveFreeText("\\\\server\\share\\app.exe", 1536, '.'), "");
}

TEST(ListTexts, ModuleColumns) {
  std::vector<ModuleEntry> modules = {
      {0x400000, "app.exe", "C:\\prog", "1.2.3.4"},
      {0x7c800000, "kernel32.dll", "C:\\windows\\system32", ""},
  };
  EXPECT_EQ(ModuleListLayout(modules),
            "00400000 app.exe      1.2.3.4 C:\\prog\r\n"
            "7c800000 kernel32.dll         C:\\windows\\system32");
  modules[0].version.clear();
  EXPECT_EQ(ModuleListLayout(modules).substr(0, 25), "00400000 app.exe       C:");
}

TEST(ListTexts, ProcessColumns) {
  std::vector<ProcessEntry> processes = {
      {"Idle", "", 0, 0, -1, 0, 0},
      {"sys.exe", "C:\\win", 4, 0, 32, 12, 0},
      {"app.exe", "C:\\prog", 1234, 0, 0x20000, 345, 7},
  };
  EXPECT_EQ(ProcessListLayout(processes),
            "000 Idle    0   0        \r\n"
            "004 sys.exe 12  0 normal C:\\win\r\n"
            "4d2 app.exe 345 7 $20000 C:\\prog");
  processes[2].logon = 1;
  std::string text = ProcessListLayout(processes);
  EXPECT_NE(text.find("004 sys.exe 0 12  0 normal C:\\win"), std::string::npos);
  EXPECT_NE(text.find("4d2 app.exe 1 345 7 $20000 C:\\prog"), std::string::npos);
  EXPECT_EQ(PriorityClassText(16384), "below normal");
  EXPECT_EQ(PriorityClassText(0), "");
}

TEST(ListTexts, HardwareOrdering) {
  HardwareStore store;
  store.Insert("Ports", "COM1", "");
  store.Insert("Display", "VGA", "drv1");
  store.Insert("display", "Other", "");  // differs only in case: new class before "Display"
  store.Insert("Ports", "com1", "");     // equal ignoring case: both kept
  store.Insert("Ports", "ABC", "");
  std::string text = store.Text([](const HardwareStore::Device& d) {
    return d.driverPath.empty() ? std::string() : " (driver 1.0)";
  });
  EXPECT_EQ(text,
            "+ display\r\n  - Other\r\n+ Display\r\n  - VGA (driver 1.0)\r\n"
            "+ Ports\r\n  - ABC\r\n  - com1\r\n  - COM1");
}

TEST(ListTexts, PathSplit) {
  std::string dir, file;
  SplitPathAtLastBackslash("C:\\a\\b.exe", dir, file);
  EXPECT_EQ(dir, "C:\\a");
  EXPECT_EQ(file, "b.exe");
  SplitPathAtLastBackslash("b.exe", dir, file);
  EXPECT_EQ(dir, "");
  EXPECT_EQ(file, "b.exe");
}

}  // namespace
}  // namespace qx
