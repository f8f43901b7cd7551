// The exception box's rules without a window: the report's tabs, how each page's text
// becomes columns and rows (over reports the crash corpus wrote under Wine: a worker's
// access violation and a C++ termination), the automatic button, the close request and
// the countdown.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "box_rules.h"
#include "report_pages.h"

namespace qx {
namespace {

struct Report {
  std::vector<ReportPart> fields;
  std::vector<ReportPart> sections;
};

// Reads a report file back into header fields and sections, as the report object holds
// them.
Report ReadReport(const std::string& name) {
  std::ifstream file(std::string(QX_REPORT_TEXTS) + "/" + name, std::ios::binary);
  std::stringstream bytes;
  bytes << file.rdbuf();
  std::string text = bytes.str();
  Report report;
  size_t start = 0;
  bool header = true;
  for (;;) {
    size_t end = text.find("\r\n\r\n", start);
    std::string block = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (header) {
      for (const std::string& line : TrimmedLines(block)) {
        size_t colon = line.find(" : ");
        report.fields.push_back({TrimBlanks(line.substr(0, colon)), line.substr(colon + 3)});
      }
      header = false;
    } else {
      size_t lineEnd = block.find("\r\n");
      std::string name = block.substr(0, lineEnd);
      if (!name.empty() && name.back() == ':') name.pop_back();
      report.sections.push_back({name, block.substr(lineEnd + 2)});
    }
    if (end == std::string::npos) break;
    start = end + 4;
  }
  return report;
}

std::vector<std::string> Captions(const std::vector<ReportTab>& tabs) {
  std::vector<std::string> captions;
  for (const auto& tab : tabs) captions.push_back(tab.caption);
  return captions;
}

ListPage PageOf(const Report& report, const std::string& caption) {
  for (const ReportTab& tab : ReportTabs(report.sections))
    if (tab.caption == caption) return BuildListPage(tab, PageText(tab, report.fields, report.sections));
  return {};
}

std::vector<std::string> Titles(const ListPage& page) {
  std::vector<std::string> titles;
  for (const auto& column : page.columns) titles.push_back(column.title);
  return titles;
}

TEST(ReportPages, TabsFollowTheSectionsWithTheirShortNames) {
  Report worker = ReadReport("av_worker_report.txt");
  EXPECT_EQ(Captions(ReportTabs(worker.sections)),
            (std::vector<std::string>{"general", "call stacks", "modules", "processes", "hardware",
                                      "cpu regs", "stack dump", "disasm"}));
  Report single = ReadReport("cpp_throw_report.txt");
  EXPECT_EQ(Captions(ReportTabs(single.sections))[1], "call stack");
  EXPECT_EQ(ThreadSectionCount(single.sections), 1u);
  // Only the leading sections name threads.
  std::vector<ReportPart> parts = {{"thread $1", ""}, {"modules", ""}, {"odd $2", ""}};
  EXPECT_EQ(Captions(ReportTabs(parts)),
            (std::vector<std::string>{"general", "call stack", "modules", "odd $2"}));
}

TEST(ReportPages, TheGeneralPageHasOneRowPerHeaderField) {
  Report report = ReadReport("av_worker_report.txt");
  ListPage page = PageOf(report, "general");
  EXPECT_EQ(Titles(page), (std::vector<std::string>{"description", "value"}));
  ASSERT_EQ(page.rows.size(), report.fields.size());
  EXPECT_EQ(page.rows[0], (ListRow{"date/time", report.fields[0].content}));
  EXPECT_EQ(page.rows.back()[0], "exception message");
}

TEST(ReportPages, TheCallStacksFillTheirSevenColumns) {
  Report report = ReadReport("av_worker_report.txt");
  ListPage page = PageOf(report, "call stacks");
  EXPECT_EQ(Titles(page), (std::vector<std::string>{"address", "rel.", "module", "unit", "line",
                                                    "rel.", "function"}));
  ASSERT_TRUE(page.columns[0].upperCase && page.columns[1].upperCase);
  EXPECT_TRUE(page.columns[1].rightAligned && page.columns[4].rightAligned);
  ASSERT_GT(page.rows.size(), 12u);
  EXPECT_EQ(page.rows[0], (ListRow{">>", "", "", "", "", "", "thread $104"}));
  EXPECT_EQ(page.rows[1], (ListRow{"004015B6", "+006", "crash_av_worker_fp.exe", "av_worker.cpp",
                                   "7", "+1", "Level3"}));
  EXPECT_EQ(page.rows[5], (ListRow{"00402CBA", "+01A", "crash_av_worker_fp.exe", "", "", "",
                                   "QxRunInExceptionFrame"}));
  EXPECT_EQ(page.rows[6][3], "capture_points_win.cpp");
  EXPECT_EQ(page.rows[6][6], "qx::(anonymous namespace)::WrappedThreadStart");
  EXPECT_EQ(page.rows[10], (ListRow{">>", "", "", "", "", "", "created by main thread ($24) at:"}));
  EXPECT_EQ(page.rows[11][6], "main");
  EXPECT_EQ(page.rows[12], ListRow(7));  // the empty line between threads
  EXPECT_EQ(page.rows[13][6], "main thread ($24)");
  // A frame of a module without debug information names only its function.
  EXPECT_EQ(SplitThreadRows({"656dc88e +8e msvcrt.dll              _beginthreadex"})[0],
            (ListRow{"656dc88e", "+8e", "msvcrt.dll", "", "", "", "_beginthreadex"}));
  Report single = ReadReport("cpp_throw_report.txt");
  ListPage one = PageOf(single, "call stack");
  ASSERT_GT(one.rows.size(), 4u);
  EXPECT_EQ(one.rows[1], (ListRow{"004E1C70", "+030", "crash_cpp_throw_fp.exe", "cpp_throw.cpp",
                                  "7", "+0", "Thrower [clone .cold]"}));
  EXPECT_EQ(one.rows[4], (ListRow{"00401389", "+229", "crash_cpp_throw_fp.exe", "crtexe.c", "321",
                                  "+98", "__tmainCRTStartup"}));
}

TEST(ReportPages, ModulesProcessesAndRegistersFindTheirColumns) {
  Report report = ReadReport("av_worker_report.txt");
  ListPage modules = PageOf(report, "modules");
  EXPECT_EQ(Titles(modules), (std::vector<std::string>{"handle", "file name", "version", "path"}));
  EXPECT_TRUE(modules.columns[2].rightAligned);
  EXPECT_EQ(modules.rows[0], (ListRow{"00400000", "crash_av_worker_fp.exe", "1.2.3.4", "Z:\\tmp\\boxrep"}));
  EXPECT_EQ(modules.rows[5], (ListRow{"64A80000", "win32u.dll", "", "C:\\windows\\system32"}));

  ListPage processes = PageOf(report, "processes");
  EXPECT_EQ(Titles(processes), (std::vector<std::string>{"id", "file name", "session", "gdi objects",
                                                         "user objects", "priority", "path"}));
  EXPECT_EQ(processes.rows[1], (ListRow{"38", "services.exe", "1", "0", "0", "normal",
                                        "C:\\windows\\system32"}));

  ListPage registers = PageOf(report, "cpu regs");
  EXPECT_EQ(Titles(registers), (std::vector<std::string>{"reg.", "content"}));
  ASSERT_EQ(registers.rows.size(), 9u);
  EXPECT_EQ(registers.rows[6], (ListRow{"eip", "004015b6"}));
}

TEST(ReportPages, TheStackDumpAndTheListingHaveFixedColumns) {
  Report report = ReadReport("av_worker_report.txt");
  ListPage dump = PageOf(report, "stack dump");
  ASSERT_EQ(dump.rows.size(), 20u);
  EXPECT_EQ(dump.rows[0], (ListRow{"01d1fe90", "b0 fe d1 01 e1 15 40 00 - 00 00 00 00 00 00 00 00",
                                   "......@........."}));
  ListPage listing = PageOf(report, "disasm");
  EXPECT_EQ(Titles(listing), (std::vector<std::string>{"address", "line", "asm code", "comments"}));
  EXPECT_EQ(listing.rows[0], (ListRow{"004015b0", "", "public av_worker.cpp.Level3:",
                                      "function entry point"}));
  EXPECT_EQ(listing.rows[1], (ListRow{"004015b0", "06", "push    ebp", ""}));
  EXPECT_EQ(listing.rows[4], (ListRow{"004015b6", "", "> mov     dword ptr [eax], $2a", ""}));
  Report single = ReadReport("cpp_throw_report.txt");
  ListPage plain = PageOf(single, "disasm");
  EXPECT_EQ(plain.rows[0], (ListRow{"[...]", "", "", ""}));
  EXPECT_EQ(plain.rows[1], (ListRow{"004e1c57", "07", "call    -$1d39c ($4c48c0)",
                                    "std::runtime_error::runtime_error(char const*)"}));
  // Without line numbers the code follows the address.
  ReportTab disasm{ReportTab::Kind::kSection, "disasm", "disassembling"};
  ListPage bare = BuildListPage(disasm, "00401000 sub_401000:      ; function entry point\r\n"
                                        "00401006 > test    eax, eax");
  EXPECT_EQ(Titles(bare), (std::vector<std::string>{"address", "asm code", "comments"}));
  EXPECT_EQ(bare.rows[1], (ListRow{"00401006", "> test    eax, eax", ""}));
}

TEST(ReportPages, PlaceholdersAndTextWithoutColumnsBecomePlainText) {
  ReportTab slow{ReportTab::Kind::kSection, "cpu regs", "cpu registers"};
  EXPECT_TRUE(BuildListPage(slow, ">> will be calculated soon").columns.empty());
  ReportTab other{ReportTab::Kind::kSection, "notes", "notes"};
  EXPECT_TRUE(BuildListPage(other, "justoneword").columns.empty());
  EXPECT_TRUE(BuildListPage(other, "a = 1\r\nbb = 22\r\nccc = 3").columns.empty());  // not aligned
  ListPage detected = BuildListPage(other, "a   = 1\r\nbb  = 22\r\nccc = 3");
  ASSERT_EQ(detected.columns.size(), 2u);
  EXPECT_EQ(detected.rows[1], (ListRow{"bb", "22"}));
  // An internal error in a section is shown in the thread format.
  ListPage error = BuildListPage(other, ">> internal error in stack dump");
  EXPECT_EQ(error.columns.size(), 7u);
  EXPECT_EQ(error.rows[0][6], "internal error in stack dump");
}

TEST(ReportColumns, MarksUpperCaseAndBoundaries) {
  std::vector<ListColumn> columns = ParseColumns("^id|file name| version|^ rel.");
  ASSERT_EQ(columns.size(), 4u);
  EXPECT_EQ(columns[0].title, "id");
  EXPECT_TRUE(columns[0].upperCase && !columns[0].rightAligned);
  EXPECT_TRUE(columns[2].rightAligned && !columns[2].upperCase);
  EXPECT_TRUE(columns[3].upperCase && columns[3].rightAligned);
  EXPECT_EQ(columns[3].title, "rel.");
  std::string cell = "abc\xE4\xF6\xFCz1";
  UpperCaseCell(cell);
  EXPECT_EQ(cell, "ABC\xC4\xD6\xDCZ1");
  // A ": " separator, and a single line whose blanks all cut.
  EXPECT_EQ(DetectBoundaries({"name: value", "size: 12345"}), (std::vector<size_t>{4}));
  EXPECT_EQ(DetectBoundaries({"one two"}), (std::vector<size_t>{3}));
  EXPECT_TRUE(DetectBoundaries({">> only marks"}).empty());
  // Two lines that do not agree on the character have no cut there.
  EXPECT_TRUE(DetectBoundaries({"a=b c", "ab c=d", "x y=z"}).empty());
  EXPECT_EQ(TrimmedLines(" a \r\n\tb\r\rc"), (std::vector<std::string>{"a", "b", "", "c"}));
}

TEST(BoxRules, TheAutomaticButtonAndTheCloseRequest) {
  const bool all[kBoxButtonCount] = {true, true, true, true, true, true, true};
  const bool noClose[kBoxButtonCount] = {true, true, true, true, true, true, false};
  const bool none[kBoxButtonCount] = {};
  EXPECT_EQ(AutomaticButton(true, true, true, all), kButtonClose);
  EXPECT_EQ(AutomaticButton(true, true, true, noClose), kButtonRestart);
  EXPECT_EQ(AutomaticButton(false, false, true, all), kButtonContinue);
  EXPECT_EQ(AutomaticButton(false, false, false, all), kButtonNone);
  EXPECT_EQ(AutomaticButton(true, true, true, none), kButtonNone);

  EXPECT_EQ(CloseRequestOutcome(kButtonRestart, all, true), BoxOutcome::kRestart);
  EXPECT_EQ(CloseRequestOutcome(kButtonSend, all, true), BoxOutcome::kContinue);
  EXPECT_EQ(CloseRequestOutcome(kButtonSend, all, false), BoxOutcome::kClose);
  const bool restartOnly[kBoxButtonCount] = {false, false, false, false, false, true, false};
  EXPECT_EQ(CloseRequestOutcome(0, restartOnly, true), BoxOutcome::kRestart);
  EXPECT_EQ(CloseRequestOutcome(0, none, true), BoxOutcome::kClose);  // a short box
}

TEST(BoxRules, TheHotKeyOfACaption) {
  EXPECT_EQ(CaptionHotKey("&Details"), 'D');
  EXPECT_EQ(CaptionHotKey("&details"), 'D');
  EXPECT_EQ(CaptionHotKey("Save && &send"), 'S');
  EXPECT_EQ(CaptionHotKey("Page &2"), '2');
  EXPECT_EQ(CaptionHotKey("Details"), 0);
  EXPECT_EQ(CaptionHotKey("A&&B"), 0);
  EXPECT_EQ(CaptionHotKey("end&"), 0);
  EXPECT_EQ(CaptionHotKey("&\xe4"), 0);
}

TEST(BoxRules, TheCountdownBarGrowsWithTheTimeAndPassesTheButton) {
  EXPECT_EQ(CountdownPosition(0, 100, 5), 0);
  EXPECT_EQ(CountdownPosition(2500, 100, 5), 50);
  EXPECT_EQ(CountdownPosition(24, 100, 5), 0);  // (2400 + 2500) / 5000 rounds down
  EXPECT_EQ(CountdownPosition(25, 100, 5), 1);
  EXPECT_FALSE(CountdownPassed(CountdownPosition(4700, 100, 5), 100, true));  // 94
  EXPECT_TRUE(CountdownPassed(CountdownPosition(4760, 100, 5), 100, true));   // 95 > 94
  EXPECT_FALSE(CountdownPassed(CountdownPosition(4760, 100, 5), 100, false));
  EXPECT_TRUE(CountdownPassed(CountdownPosition(0, 100, 0), 100, false));
}

}  // namespace
}  // namespace qx
